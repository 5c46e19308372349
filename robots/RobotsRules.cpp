#include "RobotsRules.h"

#include <algorithm>
#include <cctype>

namespace {

bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text) {
    while (!text.isEmpty() && isSpaceOrTab(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpaceOrTab(text.back()))
        text.chop(1);
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// A path or pattern in one form, so that equal addresses compare equal octet by octet: octets
// outside printable ASCII percent-encoded, an encoded unreserved character decoded, and the
// hex digits of the other encoded octets in upper case.
QByteArray canonical(QByteArrayView text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            c = static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
            if (isUnreserved(c)) {
                out += char(c);
                continue;
            }
        } else if (c > 0x20 && c < 0x7F) {
            out += char(c);
            continue;
        }
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

// Whether `path` starts with what `pattern` matches: "*" matches any run of octets, and a
// final "$" the end of the path. A failed match goes back to the last "*" only, which is
// enough: each "*" may take up any text the ones before it left.
bool matches(QByteArrayView pattern, QByteArrayView path) {
    const bool anchored = pattern.endsWith('$');
    if (anchored)
        pattern.chop(1);
    qsizetype p = 0;
    qsizetype s = 0;
    qsizetype star = -1;
    qsizetype starFrom = 0;
    while (s < path.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starFrom = s;
        } else if (p < pattern.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
        } else if (p == pattern.size() && !anchored) {
            return true;
        } else if (star >= 0) {
            p = star + 1;
            s = ++starFrom;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

RobotsRules RobotsRules::fromAnswer(int status, QByteArrayView body, QByteArrayView productToken) {
    if (status >= 200 && status <= 299) {
        if (body.size() >= maxBytes) {
            body = body.first(maxBytes);
            body = body.first(std::max(body.lastIndexOf('\n'), body.lastIndexOf('\r')) + 1);
        }
        return parse(body, productToken);
    }
    RobotsRules rules;
    rules.m_disallowAll = !(status >= 300 && status <= 499);
    return rules;
}

RobotsRules RobotsRules::parse(QByteArrayView text, QByteArrayView productToken) {
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    // Each group's rules, and whether it names the product or "*".
    struct Group {
        bool product = false;
        bool star = false;
        QList<Rule> rules;
    };
    QList<Group> groups;
    bool inRules = true; // a user-agent line then starts a new group
    for (qsizetype at = 0; at < text.size();) {
        qsizetype end = at;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        QByteArrayView line = text.sliced(at, end - at);
        at = end + 1;
        if (const qsizetype comment = line.indexOf('#'); comment >= 0)
            line = line.first(comment);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = trimmed(line.first(colon)).toByteArray().toLower();
        const QByteArrayView value = trimmed(line.sliced(colon + 1));
        if (key == "user-agent") {
            if (inRules)
                groups.append(Group());
            inRules = false;
            qsizetype name = 0;
            while (name < value.size() && (std::isalpha(static_cast<unsigned char>(value[name])) ||
                                           value[name] == '-' || value[name] == '_'))
                ++name;
            Group &group = groups.last();
            group.star = group.star || value == "*";
            group.product =
                group.product ||
                (name > 0 && value.first(name).compare(productToken, Qt::CaseInsensitive) == 0);
        } else if ((key == "allow" || key == "disallow") && !groups.isEmpty()) {
            inRules = true;
            if (!value.isEmpty()) {
                const QByteArray written = canonical(value);
                QByteArray pattern;
                for (const char c : written) {
                    if (c != '*' || !pattern.endsWith('*'))
                        pattern += c;
                }
                const qsizetype literals =
                    written.size() - written.count('*') - (written.endsWith('$') ? 1 : 0);
                groups.last().rules.append({key == "allow", pattern, written.size(), literals});
            }
        }
    }
    const bool anyProduct =
        std::any_of(groups.cbegin(), groups.cend(), [](const Group &g) { return g.product; });
    RobotsRules rules;
    for (const Group &group : std::as_const(groups)) {
        if (anyProduct ? group.product : group.star)
            rules.m_rules += group.rules;
    }
    return rules;
}

bool RobotsRules::allows(QByteArrayView pathAndQuery) const {
    if (pathAndQuery == "/robots.txt")
        return true;
    if (m_disallowAll)
        return false;
    const QByteArray path = canonical(pathAndQuery);
    qsizetype longest = -1;
    bool allowed = true;
    for (const Rule &rule : m_rules) {
        const qsizetype length = rule.length;
        // A pattern with more octets than the path cannot match it, and one that can is at
        // most about twice as long as the path: the matcher's work, which grows with both
        // lengths, stays bounded by the path's however long a hostile rule is.
        if (length < longest || (length == longest && allowed) || rule.literals > path.size() ||
            !matches(rule.pattern, path))
            continue;
        longest = length;
        allowed = rule.allow;
    }
    return allowed;
}
