#include "WebUrl.h"

#include "Encoding.h"
#include "Host.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

// The parser walks the address one code point at a time through a small state machine, the
// same one browsers run, so that every odd href found on a page ("\\host", "..%2e/", "?q=é"
// on a Shift_JIS page ...) ends up in the sitemap spelt exactly as a browser would follow it.
// Everything the parser stores is already percent-encoded; the href is plain ASCII.

namespace {

using namespace urltext;

bool isSpecialScheme(const QString &scheme) {
    return scheme == u"http" || scheme == u"https" || scheme == u"ws" || scheme == u"wss" ||
           scheme == u"ftp" || scheme == u"file";
}

// The port a scheme uses when none is written, which the href then leaves out; -1 for none.
int defaultPort(const QString &scheme) {
    if (scheme == u"http" || scheme == u"ws")
        return 80;
    if (scheme == u"https" || scheme == u"wss")
        return 443;
    if (scheme == u"ftp")
        return 21;
    return -1;
}

// "C:" or "C|" (or only "C:" when `normalized`): a drive letter that file addresses keep as
// the first path segment even through "..".
bool isWindowsDriveLetter(CodePointView text, bool normalized = false) {
    return text.size() == 2 && isAsciiAlpha(text[0]) &&
           (text[1] == ':' || (!normalized && text[1] == '|'));
}

bool isWindowsDriveLetter(const QString &segment) {
    return segment.size() == 2 && isAsciiAlpha(segment[0].unicode()) && segment[1] == u':';
}

// Whether `text` begins with a drive letter that is the whole first segment ("C:", "C:/x",
// "c|?q"), as opposed to a relative name that merely starts that way ("c:x").
bool startsWithWindowsDriveLetter(CodePointView text) {
    if (text.size() < 2 || !isWindowsDriveLetter(text.substr(0, 2)))
        return false;
    if (text.size() == 2)
        return true;
    const char32_t third = text[2];
    return third == '/' || third == '\\' || third == '?' || third == '#';
}

// "." written plainly or as "%2e".
bool isSingleDotSegment(CodePointView segment) {
    return segment == U"." || equalsIgnoringCase(segment, "%2e");
}

// ".." in any mix of plain and "%2e" dots.
bool isDoubleDotSegment(CodePointView segment) {
    return segment == U".." || equalsIgnoringCase(segment, ".%2e") ||
           equalsIgnoringCase(segment, "%2e.") || equalsIgnoringCase(segment, "%2e%2e");
}

// ---- Query encoding ---------------------------------------------------------------------

// The encoding a query is written in, given the name (or a label) of the page's: its output
// encoding, which is UTF-8 for UTF-16 and replacement; UTF-8 for an unknown name.
encoding::Encoding queryOutputEncoding(const QByteArray &pageEncoding) {
    const std::optional<encoding::Encoding> found = encoding::encodingForLabel(
        std::string_view(pageEncoding.constData(), std::size_t(pageEncoding.size())));
    return found ? encoding::outputEncoding(*found) : encoding::Encoding::Utf8;
}

// Writes a query in `encoding` and percent-encodes the bytes. A character the encoding has no
// bytes for is written as "&#N;", encoded too, just as a browser submits it. One encoder
// writes the whole query, so that ISO-2022-JP's shift states carry over an error.
QString encodeQuery(const CodePoints &query, encoding::Encoding encoding, EncodeSet set) {
    QString out;
    // ISO-2022-JP refuses even some ASCII controls.
    const bool asUtf8 =
        encoding == encoding::Encoding::Utf8 ||
        (encoding != encoding::Encoding::Iso2022Jp &&
         std::all_of(query.begin(), query.end(), [](char32_t c) { return c < 0x80; }));
    if (asUtf8) {
        for (char32_t c : query)
            appendEncoded(out, c, set);
        return out;
    }
    encoding::Encoder encoder(encoding);
    CodePointView rest = query;
    std::string bytes;
    for (;;) {
        bytes.clear();
        std::optional<char32_t> error;
        rest.remove_prefix(encoder.encodeOrFail(rest, bytes, error));
        for (const char byte : bytes)
            appendPercentEncodedByte(out, uchar(byte), set);
        if (!error)
            return out;
        out += QStringLiteral("%26%23") + QString::number(uint(*error)) + QStringLiteral("%3B");
    }
}

} // namespace

// ---- The parser -------------------------------------------------------------------------

class WebUrl::Parser {
public:
    Parser(QStringView input, const WebUrl *base, const QByteArray &queryEncoding)
        : m_base(base)
        , m_queryEncoding(queryEncoding) {
        // Browsers drop leading and trailing spaces and controls, and tabs and newlines
        // anywhere (a long href wrapped over several lines in the HTML still works).
        qsizetype begin = 0;
        qsizetype end = input.size();
        while (begin < end && input[begin].unicode() <= 0x20)
            ++begin;
        while (end > begin && input[end - 1].unicode() <= 0x20)
            --end;
        for (char32_t c : toCodePoints(input.mid(begin, end - begin))) {
            if (c != '\t' && c != '\n' && c != '\r')
                m_input += c;
        }
    }

    std::optional<WebUrl> run();

private:
    enum class State {
        SchemeStart,
        Scheme,
        NoScheme,
        SpecialRelativeOrAuthority,
        PathOrAuthority,
        Relative,
        RelativeSlash,
        SpecialAuthoritySlashes,
        SpecialAuthorityIgnoreSlashes,
        Authority,
        Host,
        Port,
        File,
        FileSlash,
        FileHost,
        PathStart,
        Path,
        OpaquePath,
        Query,
        Fragment,
    };

    char32_t at(qsizetype i) const {
        return i >= 0 && i < qsizetype(m_input.size()) ? m_input[size_t(i)] : EndOfInput;
    }
    // The input after the current code point.
    CodePointView remaining() const {
        const size_t next = size_t(m_pointer + 1);
        return next < m_input.size() ? CodePointView(m_input).substr(next) : CodePointView();
    }
    // The input from the current code point on.
    CodePointView fromPointer() const {
        const size_t here = size_t(std::max<qsizetype>(m_pointer, 0));
        return here < m_input.size() ? CodePointView(m_input).substr(here) : CodePointView();
    }
    bool isSpecial() const { return isSpecialScheme(m_url.m_scheme); }
    // '/' ends a path segment everywhere; in http-like addresses so does '\'.
    bool isSlash(char32_t c) const { return c == '/' || (c == '\\' && isSpecial()); }
    void shortenPath();
    void copyAuthorityFromBase();

    const WebUrl *m_base;
    QByteArray m_queryEncoding;
    CodePoints m_input;
    qsizetype m_pointer = 0;
    WebUrl m_url;
};

// Removes the last path segment for "..", except a file address's drive letter ("C:").
void WebUrl::Parser::shortenPath() {
    QStringList &path = m_url.m_path;
    if (m_url.m_scheme == u"file" && path.size() == 1 && isWindowsDriveLetter(path.first()))
        return;
    if (!path.isEmpty())
        path.removeLast();
}

void WebUrl::Parser::copyAuthorityFromBase() {
    m_url.m_username = m_base->m_username;
    m_url.m_password = m_base->m_password;
    m_url.m_host = m_base->m_host;
    m_url.m_port = m_base->m_port;
}

std::optional<WebUrl> WebUrl::Parser::run() {
    State state = State::SchemeStart;
    CodePoints buffer;
    bool atSignSeen = false;
    bool insideBrackets = false;
    bool passwordTokenSeen = false;
    const qsizetype inputSize = qsizetype(m_input.size());

    for (m_pointer = 0;; ++m_pointer) {
        const char32_t c = at(m_pointer);

        switch (state) {
        case State::SchemeStart:
            // A scheme starts with a letter; anything else is a relative reference.
            if (isAsciiAlpha(c)) {
                buffer += toAsciiLower(c);
                state = State::Scheme;
            } else {
                state = State::NoScheme;
                --m_pointer;
            }
            break;

        case State::Scheme:
            if (isAsciiAlphanumeric(c) || c == '+' || c == '-' || c == '.') {
                buffer += toAsciiLower(c);
            } else if (c == ':') {
                m_url.m_scheme = fromCodePoints(buffer);
                buffer.clear();
                if (m_url.m_scheme == u"file") {
                    state = State::File;
                } else if (isSpecial() && m_base && m_base->m_scheme == m_url.m_scheme) {
                    // "http:foo" on an http page is relative to the page.
                    state = State::SpecialRelativeOrAuthority;
                } else if (isSpecial()) {
                    state = State::SpecialAuthoritySlashes;
                } else if (remaining().substr(0, 1) == U"/") {
                    state = State::PathOrAuthority;
                    ++m_pointer;
                } else {
                    // "mailto:x@y", "javascript:...": no hierarchy at all.
                    m_url.m_opaquePath = QString();
                    state = State::OpaquePath;
                }
            } else {
                // Not a scheme after all ("a/b:c", "x y:z"): start over as a relative reference.
                buffer.clear();
                state = State::NoScheme;
                m_pointer = -1;
            }
            break;

        case State::NoScheme:
            // Relative: needs a base, and a base with an opaque path only takes a fragment.
            if (!m_base || (m_base->m_opaquePath && c != '#'))
                return std::nullopt;
            if (m_base->m_opaquePath && c == '#') {
                m_url.m_scheme = m_base->m_scheme;
                m_url.m_opaquePath = m_base->m_opaquePath;
                m_url.m_query = m_base->m_query;
                m_url.m_fragment = QString();
                state = State::Fragment;
            } else if (m_base->m_scheme != u"file") {
                state = State::Relative;
                --m_pointer;
            } else {
                state = State::File;
                --m_pointer;
            }
            break;

        case State::SpecialRelativeOrAuthority:
            if (c == '/' && remaining().substr(0, 1) == U"/") {
                state = State::SpecialAuthorityIgnoreSlashes;
                ++m_pointer;
            } else {
                state = State::Relative;
                --m_pointer;
            }
            break;

        case State::PathOrAuthority:
            if (c == '/') {
                state = State::Authority;
            } else {
                state = State::Path;
                --m_pointer;
            }
            break;

        case State::Relative:
            // Everything the reference leaves out comes from the base.
            m_url.m_scheme = m_base->m_scheme;
            if (isSlash(c)) {
                state = State::RelativeSlash;
            } else {
                copyAuthorityFromBase();
                m_url.m_path = m_base->m_path;
                m_url.m_query = m_base->m_query;
                if (c == '?') {
                    m_url.m_query = QString();
                    state = State::Query;
                } else if (c == '#') {
                    m_url.m_fragment = QString();
                    state = State::Fragment;
                } else if (c != EndOfInput) {
                    // A relative path replaces the base's last segment.
                    m_url.m_query.reset();
                    shortenPath();
                    state = State::Path;
                    --m_pointer;
                }
            }
            break;

        case State::RelativeSlash:
            if (isSpecial() && (c == '/' || c == '\\')) {
                state = State::SpecialAuthorityIgnoreSlashes;
            } else if (c == '/') {
                state = State::Authority;
            } else {
                // "/x": same authority, new path.
                copyAuthorityFromBase();
                state = State::Path;
                --m_pointer;
            }
            break;

        case State::SpecialAuthoritySlashes:
            if (c == '/' && remaining().substr(0, 1) == U"/") {
                state = State::SpecialAuthorityIgnoreSlashes;
                ++m_pointer;
            } else {
                state = State::SpecialAuthorityIgnoreSlashes;
                --m_pointer;
            }
            break;

        case State::SpecialAuthorityIgnoreSlashes:
            // "http:////host" and "http:\\host" are both "http://host".
            if (c != '/' && c != '\\') {
                state = State::Authority;
                --m_pointer;
            }
            break;

        case State::Authority:
            if (c == '@') {
                // Credentials. Only the last '@' ends them; earlier ones belong to the password
                // or user name and are encoded.
                if (atSignSeen)
                    buffer.insert(0, U"%40");
                atSignSeen = true;
                for (char32_t codePoint : buffer) {
                    if (codePoint == ':' && !passwordTokenSeen) {
                        passwordTokenSeen = true;
                        continue;
                    }
                    appendEncoded(passwordTokenSeen ? m_url.m_password : m_url.m_username,
                                  codePoint, EncodeSet::Userinfo);
                }
                buffer.clear();
            } else if (c == EndOfInput || c == '/' || c == '?' || c == '#' || isSlash(c)) {
                // No '@' (any more): what was read is the host, so read it again as such.
                if (atSignSeen && buffer.empty())
                    return std::nullopt;
                m_pointer -= qsizetype(buffer.size()) + 1;
                buffer.clear();
                state = State::Host;
            } else {
                buffer += c;
            }
            break;

        case State::Host:
            if (c == ':' && !insideBrackets) {
                if (buffer.empty())
                    return std::nullopt;
                const std::optional<QString> host = parseHost(buffer, !isSpecial());
                if (!host)
                    return std::nullopt;
                m_url.m_host = host;
                buffer.clear();
                state = State::Port;
            } else if (c == EndOfInput || c == '/' || c == '?' || c == '#' || isSlash(c)) {
                --m_pointer;
                // "http://" and "http:///x" have no host, which http-like addresses need.
                if (isSpecial() && buffer.empty())
                    return std::nullopt;
                const std::optional<QString> host = parseHost(buffer, !isSpecial());
                if (!host)
                    return std::nullopt;
                m_url.m_host = host;
                buffer.clear();
                state = State::PathStart;
            } else {
                if (c == '[')
                    insideBrackets = true;
                else if (c == ']')
                    insideBrackets = false;
                buffer += c;
            }
            break;

        case State::Port:
            if (isAsciiDigit(c)) {
                buffer += c;
            } else if (c == EndOfInput || c == '/' || c == '?' || c == '#' || isSlash(c)) {
                if (!buffer.empty()) {
                    // Leading zeros are allowed ("0080" is 80); only the value counts.
                    int port = 0;
                    for (char32_t digit : buffer) {
                        port = port * 10 + int(digit - '0');
                        if (port > 65535)
                            return std::nullopt;
                    }
                    m_url.m_port = port == defaultPort(m_url.m_scheme) ? -1 : port;
                    buffer.clear();
                }
                state = State::PathStart;
                --m_pointer;
            } else {
                return std::nullopt;
            }
            break;

        case State::File:
            m_url.m_scheme = QStringLiteral("file");
            m_url.m_host = QString();
            if (c == '/' || c == '\\') {
                state = State::FileSlash;
            } else if (m_base && m_base->m_scheme == u"file") {
                m_url.m_host = m_base->m_host;
                m_url.m_path = m_base->m_path;
                m_url.m_query = m_base->m_query;
                if (c == '?') {
                    m_url.m_query = QString();
                    state = State::Query;
                } else if (c == '#') {
                    m_url.m_fragment = QString();
                    state = State::Fragment;
                } else if (c != EndOfInput) {
                    m_url.m_query.reset();
                    // "C:/x" relative to a file page starts a new path from that drive.
                    if (!startsWithWindowsDriveLetter(fromPointer()))
                        shortenPath();
                    else
                        m_url.m_path.clear();
                    state = State::Path;
                    --m_pointer;
                }
            } else {
                state = State::Path;
                --m_pointer;
            }
            break;

        case State::FileSlash:
            if (c == '/' || c == '\\') {
                state = State::FileHost;
            } else {
                if (m_base && m_base->m_scheme == u"file") {
                    m_url.m_host = m_base->m_host;
                    // "/x" on a page under "C:" stays on that drive.
                    if (!startsWithWindowsDriveLetter(fromPointer()) && !m_base->m_path.isEmpty() &&
                        isWindowsDriveLetter(m_base->m_path.first()))
                        m_url.m_path.append(m_base->m_path.first());
                }
                state = State::Path;
                --m_pointer;
            }
            break;

        case State::FileHost:
            if (c == EndOfInput || c == '/' || c == '\\' || c == '?' || c == '#') {
                --m_pointer;
                if (isWindowsDriveLetter(buffer)) {
                    // "file://C:/x": the drive letter is the path, not a host. The buffer is
                    // kept for the path state to use.
                    state = State::Path;
                } else if (buffer.empty()) {
                    m_url.m_host = QString();
                    state = State::PathStart;
                } else {
                    std::optional<QString> host = parseHost(buffer, false);
                    if (!host)
                        return std::nullopt;
                    if (*host == u"localhost")
                        host = QString();
                    m_url.m_host = host;
                    buffer.clear();
                    state = State::PathStart;
                }
            } else {
                buffer += c;
            }
            break;

        case State::PathStart:
            if (isSpecial()) {
                state = State::Path;
                if (c != '/' && c != '\\')
                    --m_pointer;
            } else if (c == '?') {
                m_url.m_query = QString();
                state = State::Query;
            } else if (c == '#') {
                m_url.m_fragment = QString();
                state = State::Fragment;
            } else if (c != EndOfInput) {
                state = State::Path;
                if (c != '/')
                    --m_pointer;
            }
            break;

        case State::Path:
            if (c == EndOfInput || isSlash(c) || c == '?' || c == '#') {
                // A segment is complete: resolve "." and "..", keep anything else.
                const bool slashFollows = isSlash(c);
                if (isDoubleDotSegment(buffer)) {
                    shortenPath();
                    if (!slashFollows)
                        m_url.m_path.append(QString()); // "a/b/.." is "a/"
                } else if (isSingleDotSegment(buffer)) {
                    if (!slashFollows)
                        m_url.m_path.append(QString()); // "a/." is "a/"
                } else {
                    QString segment = fromCodePoints(buffer);
                    if (m_url.m_scheme == u"file" && m_url.m_path.isEmpty() &&
                        isWindowsDriveLetter(buffer))
                        segment[1] = u':'; // "C|" is "C:"
                    m_url.m_path.append(segment);
                }
                buffer.clear();
                if (c == '?') {
                    m_url.m_query = QString();
                    state = State::Query;
                } else if (c == '#') {
                    m_url.m_fragment = QString();
                    state = State::Fragment;
                }
            } else {
                // The buffer holds the segment already encoded, so that "%2e" is recognised
                // as a dot above and an existing "%20" is left alone.
                QString encoded;
                appendEncoded(encoded, c, EncodeSet::Path);
                buffer += toCodePoints(encoded);
            }
            break;

        case State::OpaquePath:
            if (c == '?') {
                m_url.m_query = QString();
                state = State::Query;
            } else if (c == '#') {
                m_url.m_fragment = QString();
                state = State::Fragment;
            } else if (c != EndOfInput) {
                appendEncoded(*m_url.m_opaquePath, c, EncodeSet::C0Control);
            }
            break;

        case State::Query:
            // The query is collected whole, then encoded: in the page's encoding for http-like
            // addresses (but never for WebSocket ones), in UTF-8 for all others.
            if (c == EndOfInput || c == '#') {
                const bool pageEncoding =
                    isSpecial() && m_url.m_scheme != u"ws" && m_url.m_scheme != u"wss";
                const encoding::Encoding encoding =
                    pageEncoding ? queryOutputEncoding(m_queryEncoding) : encoding::Encoding::Utf8;
                *m_url.m_query += encodeQuery(
                    buffer, encoding, isSpecial() ? EncodeSet::SpecialQuery : EncodeSet::Query);
                buffer.clear();
                if (c == '#') {
                    m_url.m_fragment = QString();
                    state = State::Fragment;
                }
            } else {
                buffer += c;
            }
            break;

        case State::Fragment:
            if (c != EndOfInput)
                appendEncoded(*m_url.m_fragment, c, EncodeSet::Fragment);
            break;
        }

        if (m_pointer >= inputSize)
            break;
    }

    m_url.serialise();
    return m_url;
}

// ---- WebUrl -----------------------------------------------------------------------------

std::optional<WebUrl> WebUrl::parse(QStringView input, const WebUrl *base,
                                    const QByteArray &queryEncoding) {
    return Parser(input, base, queryEncoding).run();
}

namespace {

// Characters that a path, query or fragment keeps as they are (printable ASCII outside the
// part's percent-encode set) and that end none of them early. A backslash is a slash in http
// addresses, so it takes the general parser.
bool keptInPath(char16_t c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '^' && c != '`' &&
           c != '{' && c != '}' && c != '\\';
}
bool keptInQuery(char16_t c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '\'';
}
bool keptInFragment(char16_t c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '`';
}

// Whether a path segment may be a dot segment ("." or "..", "%2e" for a dot), which the
// general parser removes.
bool mayBeDotSegment(QStringView segment) {
    if (segment.isEmpty() || segment.size() > 6)
        return false;
    for (qsizetype i = 0; i < segment.size(); ++i) {
        if (segment[i] == u'.')
            continue;
        if (segment[i] == u'%' && i + 2 < segment.size() && segment[i + 1] == u'2' &&
            (segment[i + 2] == u'e' || segment[i + 2] == u'E')) {
            i += 2;
            continue;
        }
        return false;
    }
    return true;
}

// Whether [begin, end) of `input` is a path of plain segments, up to its query or fragment;
// sets `end` to where the path ends.
bool plainPath(QStringView input, qsizetype begin, qsizetype &end) {
    qsizetype segmentStart = begin;
    qsizetype i = begin;
    for (; i < input.size(); ++i) {
        const char16_t c = input[i].unicode();
        if (c == '?' || c == '#')
            break;
        if (!keptInPath(c))
            return false;
        if (c == '/') {
            if (mayBeDotSegment(input.sliced(segmentStart, i - segmentStart)))
                return false;
            segmentStart = i + 1;
        }
    }
    if (mayBeDotSegment(input.sliced(segmentStart, i - segmentStart)))
        return false;
    end = i;
    return true;
}

// Whether the query or fragment from `begin` on keeps every character as written.
bool plainQueryAndFragment(QStringView input, qsizetype begin) {
    qsizetype i = begin;
    if (i < input.size() && input[i] == u'?') {
        for (++i; i < input.size() && input[i] != u'#'; ++i) {
            if (!keptInQuery(input[i].unicode()))
                return false;
        }
    }
    if (i < input.size()) { // at the '#'
        for (++i; i < input.size(); ++i) {
            if (!keptInFragment(input[i].unicode()))
                return false;
        }
    }
    return true;
}

// An http or https address written plainly: a lower-case host of letters, digits, dots and
// hyphens whose last label starts with a letter (no IP address, port, user or punycode to
// look into), and a plain path, query and fragment. It reads back as written, with "/" for an
// empty path.
QString plainAbsolute(QStringView input) {
    const qsizetype hostStart = input.startsWith(u"http://")    ? 7
                                : input.startsWith(u"https://") ? 8
                                                                : -1;
    if (hostStart < 0)
        return {};
    qsizetype hostEnd = hostStart;
    qsizetype lastLabel = hostStart;
    while (hostEnd < input.size()) {
        const char16_t c = input[hostEnd].unicode();
        if (c == '/' || c == '?' || c == '#')
            break;
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'))
            return {};
        if (c == '.' && hostEnd + 1 < input.size() && input[hostEnd + 1] != u'/' &&
            input[hostEnd + 1] != u'?' && input[hostEnd + 1] != u'#')
            lastLabel = hostEnd + 1;
        ++hostEnd;
    }
    const QStringView host = input.sliced(hostStart, hostEnd - hostStart);
    if (host.isEmpty() || host.front() == u'.' || host.contains(u"xn--") ||
        input[lastLabel] < u'a' || input[lastLabel] > u'z')
        return {};
    qsizetype rest = hostEnd;
    if (hostEnd < input.size() && input[hostEnd] == u'/' && !plainPath(input, hostEnd + 1, rest))
        return {};
    if (!plainQueryAndFragment(input, rest))
        return {};
    if (hostEnd < input.size() && input[hostEnd] == u'/')
        return input.toString();
    QString out;
    out.reserve(input.size() + 1);
    out.append(input.first(hostEnd));
    out.append(u'/');
    out.append(input.sliced(hostEnd));
    return out;
}

} // namespace

QString WebUrl::resolve(QStringView input, const WebUrl &base, const QByteArray &queryEncoding) {
    const auto general = [&] {
        const std::optional<WebUrl> url = parse(input, &base, queryEncoding);
        return url ? url->m_href : QString();
    };
    if ((base.m_scheme != u"http" && base.m_scheme != u"https") || !base.m_host ||
        base.m_opaquePath ||
        (!input.isEmpty() && (input.front().unicode() <= 0x20 || input.back().unicode() <= 0x20)))
        return general();
    // The base's href, "http://host:port/dir/name?query#fragment", is cut where the input
    // takes over.
    const QString &href = base.m_href;
    const qsizetype authorityEnd = href.indexOf(u'/', base.m_schemeEnd + 3);
    if (authorityEnd < 0)
        return general();
    qsizetype pathEnd = authorityEnd;
    while (pathEnd < href.size() && href[pathEnd] != u'?' && href[pathEnd] != u'#')
        ++pathEnd;
    qsizetype fragmentStart = pathEnd;
    while (fragmentStart < href.size() && href[fragmentStart] != u'#')
        ++fragmentStart;
    if (input.isEmpty())
        return href.first(fragmentStart);

    qsizetype keep = 0;         // how much of the base's href stays
    qsizetype rest = 0;         // where the query or fragment of the input begins
    QStringView joined = input; // what follows it
    const char16_t first = input.front().unicode();
    if (first == '#') {
        keep = fragmentStart;
    } else if (first == '?') {
        keep = pathEnd;
    } else if (first == '/') {
        if (input.size() > 1 && (input[1] == u'/' || input[1] == u'\\'))
            return general(); // another host
        if (!plainPath(input, 1, rest))
            return general();
        keep = authorityEnd;
    } else {
        for (const QChar c : input) {
            if (c == u':') {
                const QString absolute = plainAbsolute(input);
                return absolute.isNull() ? general() : absolute;
            }
            if (c == u'/' || c == u'?' || c == u'#')
                break;
        }
        // Leading "./" and "../" step through the base's directories.
        keep = href.lastIndexOf(u'/', pathEnd - 1) + 1;
        qsizetype from = 0;
        for (;;) {
            if (input.sliced(from).startsWith(u"./")) {
                from += 2;
            } else if (input.sliced(from).startsWith(u"../")) {
                from += 3;
                if (keep - 1 > authorityEnd)
                    keep = href.lastIndexOf(u'/', keep - 2) + 1;
            } else {
                break;
            }
        }
        if (!plainPath(input, from, rest))
            return general();
        joined = input.sliced(from);
    }
    if (!plainQueryAndFragment(input, rest))
        return general();
    QString out;
    out.reserve(keep + joined.size());
    out.append(QStringView(href).first(keep));
    out.append(joined);
    return out;
}

void WebUrl::serialise() {
    QString href = m_scheme + QLatin1Char(':');
    if (m_host) {
        href += QStringLiteral("//");
        if (!m_username.isEmpty() || !m_password.isEmpty()) {
            href += m_username;
            if (!m_password.isEmpty())
                href += QLatin1Char(':') + m_password;
            href += QLatin1Char('@');
        }
        href += *m_host;
        if (m_port >= 0)
            href += QLatin1Char(':') + QString::number(m_port);
    }
    if (m_opaquePath) {
        href += *m_opaquePath;
    } else {
        // Without a host, a path starting "//" would read back as one: "web+x:/.//p".
        if (!m_host && m_path.size() > 1 && m_path.first().isEmpty())
            href += QStringLiteral("/.");
        for (const QString &segment : m_path)
            href += QLatin1Char('/') + segment;
    }
    if (m_query)
        href += QLatin1Char('?') + *m_query;
    if (m_fragment)
        href += QLatin1Char('#') + *m_fragment;
    m_href = href;
    m_schemeEnd = m_scheme.size();
}

QString WebUrl::scheme() const {
    return m_scheme;
}
