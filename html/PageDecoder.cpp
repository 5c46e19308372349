#include "PageDecoder.h"

#include "Encoding.h"

#include <QList>

#include <optional>

namespace {

using encoding::Encoding;

enum class Confidence { Tentative, Certain };
using Found = std::optional<Encoding>;

bool isAsciiWhitespace(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

bool isHttpWhitespace(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

QByteArray asciiLower(QByteArray s) {
    for (char &c : s)
        c = asciiLower(c);
    return s;
}

// Does `data` hold `what` (lower-case) at `pos`, ignoring ASCII case?
bool startsWithAt(const QByteArray &data, qsizetype pos, const char *what) {
    for (qsizetype i = 0; what[i]; ++i) {
        if (pos + i >= data.size() || asciiLower(data[pos + i]) != what[i])
            return false;
    }
    return true;
}

qsizetype indexOfIgnoringCase(const QByteArray &data, const char *what, qsizetype from) {
    for (qsizetype i = from; i < data.size(); ++i) {
        if (startsWithAt(data, i, what))
            return i;
    }
    return -1;
}

// The encoding a charset label names, nullopt for a label browsers don't know.
Found encodingForLabel(const QByteArray &label) {
    return encoding::encodingForLabel(
        std::string_view(label.constData(), std::size_t(label.size())));
}

// A page can't really be UTF-16 when its markup could be read as ASCII, and x-user-defined
// is only honoured from a Content-Type: encodings found inside the document are adjusted so.
Encoding adjustInDocumentEncoding(Encoding encoding) {
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be)
        return Encoding::Utf8;
    if (encoding == Encoding::XUserDefined)
        return Encoding::Windows1252;
    return encoding;
}

struct MimeType {
    QByteArray essence; // "type/subtype", lower-case
    std::optional<QByteArray> charset;
};

bool isTokenChar(char c) {
    if (isAsciiAlpha(c) || (c >= '0' && c <= '9'))
        return true;
    return c && QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(const QByteArray &s) {
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

bool isQuotedStringChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7F);
}

// Reads a quoted string starting at the '"' at `pos`; leaves `pos` after the closing quote.
QByteArray collectQuotedString(const QByteArray &s, qsizetype &pos) {
    QByteArray value;
    ++pos;
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '"')
            break;
        if (c == '\\') {
            if (pos >= s.size()) {
                value += '\\';
                break;
            }
            value += s[pos++];
        } else {
            value += c;
        }
    }
    return value;
}

// One media type, "text/html; charset=utf-8"; nullopt when it is malformed.
std::optional<MimeType> parseMimeType(const QByteArray &input) {
    qsizetype begin = 0;
    qsizetype end = input.size();
    while (begin < end && isHttpWhitespace(input[begin]))
        ++begin;
    while (end > begin && isHttpWhitespace(input[end - 1]))
        --end;
    const QByteArray s = input.mid(begin, end - begin);

    qsizetype pos = s.indexOf('/');
    if (pos < 0)
        return std::nullopt;
    const QByteArray type = s.left(pos);
    ++pos;
    qsizetype subtypeEnd = s.indexOf(';', pos);
    if (subtypeEnd < 0)
        subtypeEnd = s.size();
    QByteArray subtype = s.mid(pos, subtypeEnd - pos);
    while (!subtype.isEmpty() && isHttpWhitespace(subtype.back()))
        subtype.chop(1);
    if (!isToken(type) || !isToken(subtype))
        return std::nullopt;

    MimeType mime;
    mime.essence = asciiLower(type) + '/' + asciiLower(subtype);
    QList<QByteArray> seen;
    pos = subtypeEnd;
    while (pos < s.size()) {
        ++pos; // the ';'
        while (pos < s.size() && isHttpWhitespace(s[pos]))
            ++pos;
        qsizetype nameEnd = pos;
        while (nameEnd < s.size() && s[nameEnd] != ';' && s[nameEnd] != '=')
            ++nameEnd;
        const QByteArray name = asciiLower(s.mid(pos, nameEnd - pos));
        pos = nameEnd;
        if (pos >= s.size())
            break;
        if (s[pos] == ';')
            continue;
        ++pos; // the '='
        QByteArray value;
        if (pos < s.size() && s[pos] == '"') {
            value = collectQuotedString(s, pos);
            while (pos < s.size() && s[pos] != ';')
                ++pos;
        } else {
            qsizetype valueEnd = s.indexOf(';', pos);
            if (valueEnd < 0)
                valueEnd = s.size();
            value = s.mid(pos, valueEnd - pos);
            pos = valueEnd;
            while (!value.isEmpty() && isHttpWhitespace(value.back()))
                value.chop(1);
            if (value.isEmpty())
                continue;
        }
        bool valueOk = true;
        for (char c : value)
            valueOk = valueOk && isQuotedStringChar(c);
        if (isToken(name) && valueOk && !seen.contains(name)) {
            seen.append(name);
            if (name == "charset")
                mime.charset = value;
        }
    }
    return mime;
}

// The media type a Content-Type header gives, read the way browsers read it: a header that
// was sent several times arrives joined with commas, the last good type wins and keeps the
// charset of an earlier one of the same type. nullopt when none of it is usable.
std::optional<MimeType> extractMimeType(const QByteArray &header) {
    QList<QByteArray> values;
    QByteArray current;
    for (qsizetype pos = 0; pos < header.size();) {
        const char c = header[pos];
        if (c == '"') {
            const qsizetype start = pos;
            collectQuotedString(header, pos);
            current += header.mid(start, pos - start);
        } else if (c == ',') {
            values.append(current);
            current.clear();
            ++pos;
        } else {
            current += c;
            ++pos;
        }
    }
    values.append(current);

    std::optional<MimeType> result;
    std::optional<QByteArray> charset;
    QByteArray essence;
    for (const QByteArray &value : values) {
        std::optional<MimeType> mime = parseMimeType(value);
        if (!mime || mime->essence == "*/*")
            continue;
        if (mime->essence != essence) {
            charset = mime->charset;
            essence = mime->essence;
        } else if (!mime->charset && charset) {
            mime->charset = charset;
        }
        result = mime;
    }
    return result;
}

// Whether a body served without a usable type starts the way only HTML does.
bool sniffsAsHtml(const QByteArray &body) {
    static const char *const Patterns[] = {
        "<!doctype html", "<html", "<head",  "<script", "<iframe", "<h1",   "<div", "<font",
        "<table",         "<a",    "<style", "<title",  "<b",      "<body", "<br",  "<p",
        "<!--",
    };
    // Browsers only look at the first 1445 bytes.
    const QByteArray header = body.left(1445);
    qsizetype pos = 0;
    while (pos < header.size() && isAsciiWhitespace(header[pos]))
        ++pos;
    for (const char *pattern : Patterns) {
        if (!startsWithAt(header, pos, pattern))
            continue;
        const qsizetype after = pos + qsizetype(qstrlen(pattern));
        if (after < header.size() && (header[after] == ' ' || header[after] == '>'))
            return true;
    }
    return false;
}

// The encoding an `<?xml ... encoding="..."?>` declaration at the very start names.
Found xmlDeclarationEncoding(const QByteArray &head) {
    if (!head.startsWith("<?xml"))
        return std::nullopt;
    const qsizetype declarationEnd = head.indexOf('>');
    if (declarationEnd < 0)
        return std::nullopt;
    const QByteArray declaration = head.left(declarationEnd);
    qsizetype pos = declaration.indexOf("encoding");
    if (pos < 0)
        return std::nullopt;
    pos += 8;
    while (pos < declaration.size() && static_cast<unsigned char>(declaration[pos]) <= 0x20)
        ++pos;
    if (pos >= declaration.size() || declaration[pos] != '=')
        return std::nullopt;
    ++pos;
    while (pos < declaration.size() && static_cast<unsigned char>(declaration[pos]) <= 0x20)
        ++pos;
    if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\''))
        return std::nullopt;
    const char quote = declaration[pos++];
    const qsizetype valueEnd = declaration.indexOf(quote, pos);
    if (valueEnd < 0)
        return std::nullopt;
    const Found encoding = encodingForLabel(declaration.mid(pos, valueEnd - pos));
    return encoding ? Found(adjustInDocumentEncoding(*encoding)) : std::nullopt;
}

// Finds the charset in a `<meta http-equiv="Content-Type" content="text/html; charset=...">`
// content value.
Found charsetFromMetaContent(const QByteArray &content) {
    qsizetype pos = 0;
    for (;;) {
        pos = indexOfIgnoringCase(content, "charset", pos);
        if (pos < 0)
            return std::nullopt;
        pos += 7;
        while (pos < content.size() && isAsciiWhitespace(content[pos]))
            ++pos;
        if (pos >= content.size() || content[pos] != '=')
            continue;
        ++pos;
        while (pos < content.size() && isAsciiWhitespace(content[pos]))
            ++pos;
        if (pos >= content.size())
            return std::nullopt;
        const char c = content[pos];
        if (c == '"' || c == '\'') {
            const qsizetype close = content.indexOf(c, pos + 1);
            if (close < 0)
                return std::nullopt;
            return encodingForLabel(content.mid(pos + 1, close - pos - 1));
        }
        qsizetype end = pos;
        while (end < content.size() && !isAsciiWhitespace(content[end]) && content[end] != ';')
            ++end;
        return encodingForLabel(content.mid(pos, end - pos));
    }
}

// Reads the markup at the start of a page, before it is decoded, looking for the charset its
// <meta> tags declare; this is what browsers do with the first 1024 bytes.
class MetaPrescan {
public:
    explicit MetaPrescan(const QByteArray &head)
        : m_data(head) {}

    Found run() {
        Found fallback = xmlDeclarationEncoding(m_data);
        while (m_pos < m_data.size()) {
            if (startsWithAt(m_data, m_pos, "<!--")) {
                // "<!-->" closes at once: the "--" may be the opening one.
                const qsizetype close = m_data.indexOf("-->", m_pos + 2);
                if (close < 0)
                    break;
                m_pos = close + 2;
            } else if (startsWithAt(m_data, m_pos, "<meta") && m_pos + 5 < m_data.size() &&
                       (isAsciiWhitespace(m_data[m_pos + 5]) || m_data[m_pos + 5] == '/')) {
                m_pos += 6;
                std::optional<Found> found = readMeta();
                if (m_ranOut)
                    break;
                if (found)
                    return *found;
            } else if (m_data[m_pos] == '<' && m_pos + 1 < m_data.size() &&
                       (isAsciiAlpha(m_data[m_pos + 1]) ||
                        (m_data[m_pos + 1] == '/' && m_pos + 2 < m_data.size() &&
                         isAsciiAlpha(m_data[m_pos + 2])))) {
                // Some other tag: step over it with its attributes, whose values may hold a '>'.
                while (m_pos < m_data.size() && !isAsciiWhitespace(m_data[m_pos]) &&
                       m_data[m_pos] != '>')
                    ++m_pos;
                QByteArray name;
                QByteArray value;
                while (nextAttribute(name, value)) {
                }
                if (m_ranOut)
                    break;
            } else if (startsWithAt(m_data, m_pos, "<!") || startsWithAt(m_data, m_pos, "</") ||
                       startsWithAt(m_data, m_pos, "<?")) {
                const qsizetype close = m_data.indexOf('>', m_pos + 2);
                if (close < 0)
                    break;
                m_pos = close;
            }
            ++m_pos;
        }
        return fallback;
    }

private:
    // Reads the attributes of a <meta> tag; the encoding it declares, an empty one for one that
    // names no usable encoding, nullopt for a tag that declares none.
    std::optional<Found> readMeta() {
        QList<QByteArray> seen;
        bool gotPragma = false;
        std::optional<bool> needPragma;
        Found charset;
        bool charsetAttribute = false;
        QByteArray name;
        QByteArray value;
        while (nextAttribute(name, value)) {
            if (seen.contains(name))
                continue;
            seen.append(name);
            if (name == "http-equiv") {
                if (value == "content-type")
                    gotPragma = true;
            } else if (name == "content") {
                if (!charset && !charsetAttribute) {
                    if (Found fromContent = charsetFromMetaContent(value)) {
                        charset = fromContent;
                        needPragma = true;
                    }
                }
            } else if (name == "charset") {
                charset = encodingForLabel(value);
                charsetAttribute = true;
                needPragma = false;
            }
        }
        if (m_ranOut || !needPragma)
            return std::nullopt;
        if (*needPragma && !gotPragma)
            return std::nullopt;
        if (!charset)
            return std::nullopt;
        return Found(adjustInDocumentEncoding(*charset));
    }

    char byte() const { return m_data[m_pos]; }

    // Reads one attribute, its name and value lower-cased; false at the end of the tag.
    bool nextAttribute(QByteArray &name, QByteArray &value) {
        name.clear();
        value.clear();
        while (m_pos < m_data.size() && (isAsciiWhitespace(byte()) || byte() == '/'))
            ++m_pos;
        if (atEnd() || byte() == '>')
            return false;
        for (;;) {
            if (atEnd())
                return false;
            const char c = byte();
            if (c == '=' && !name.isEmpty()) {
                ++m_pos;
                break;
            }
            if (isAsciiWhitespace(c)) {
                while (m_pos < m_data.size() && isAsciiWhitespace(byte()))
                    ++m_pos;
                if (atEnd())
                    return false;
                if (byte() != '=')
                    return true;
                ++m_pos;
                break;
            }
            if (c == '/' || c == '>')
                return true;
            name += asciiLower(c);
            ++m_pos;
        }
        while (m_pos < m_data.size() && isAsciiWhitespace(byte()))
            ++m_pos;
        if (atEnd())
            return false;
        const char first = byte();
        if (first == '"' || first == '\'') {
            for (;;) {
                ++m_pos;
                if (atEnd())
                    return false;
                if (byte() == first) {
                    ++m_pos;
                    return true;
                }
                value += asciiLower(byte());
            }
        }
        if (first == '>')
            return true;
        for (;;) {
            if (atEnd())
                return false;
            const char c = byte();
            if (isAsciiWhitespace(c) || c == '>')
                return true;
            value += asciiLower(c);
            ++m_pos;
        }
    }

    // True, and the prescan given up, when a tag runs past the bytes looked at.
    bool atEnd() {
        if (m_pos < m_data.size())
            return false;
        m_ranOut = true;
        return true;
    }

    const QByteArray &m_data;
    qsizetype m_pos = 0;
    bool m_ranOut = false;
};

// Whether `bytes` is UTF-8, allowing a character cut off at the very end (a truncated body).
bool isValidUtf8(const QByteArray &bytes) {
    const std::string_view all(bytes.constData(), std::size_t(bytes.size()));
    const std::size_t valid = encoding::validUtf8Prefix(all);
    if (valid == all.size())
        return true;
    // The rest must be the first bytes of one character.
    const auto *rest = reinterpret_cast<const unsigned char *>(all.data() + valid);
    const std::size_t restSize = all.size() - valid;
    const unsigned char lead = rest[0];
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (restSize >= length)
        return false;
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t k = 1; k < restSize; ++k) {
        if (rest[k] < low || rest[k] > high)
            return false;
        low = 0x80;
        high = 0xBF;
    }
    return true;
}

DecodedPage decodeAs(const QByteArray &body, qsizetype skip, Encoding encoding, TextForm form,
                     Confidence confidence = Confidence::Certain) {
    DecodedPage page;
    page.isHtml = true;
    page.encoding =
        QByteArray(encoding::name(encoding).data(), qsizetype(encoding::name(encoding).size()));
    page.tentative = confidence == Confidence::Tentative;
    const std::string_view bytes(body.constData() + skip, std::size_t(body.size() - skip));
    if (encoding == Encoding::Utf8 && encoding::validUtf8Prefix(bytes) == bytes.size()) {
        // Well-formed UTF-8 is its own text.
        page.utf8 = skip ? body.sliced(skip) : body;
    } else {
        std::string utf8;
        encoding::decode(encoding, bytes, utf8);
        page.utf8 = QByteArray(utf8.data(), qsizetype(utf8.size()));
    }
    if (form == TextForm::Utf16) {
        page.text = QString::fromUtf8(page.utf8);
        page.utf8.clear();
    }
    return page;
}

DecodedPage decodeDocument(const QByteArray &body, const std::optional<MimeType> &mime,
                           TextForm form) {
    const bool unknownType =
        !mime || mime->essence == "unknown/unknown" || mime->essence == "application/unknown";
    const bool isXhtml = !unknownType && mime->essence == "application/xhtml+xml";
    if (unknownType) {
        if (!sniffsAsHtml(body))
            return {};
    } else if (mime->essence != "text/html" && !isXhtml) {
        return {};
    }

    std::size_t bomLength = 0;
    if (Found fromBom = encoding::bomEncoding(
            std::string_view(body.constData(), std::size_t(body.size())), bomLength))
        return decodeAs(body, qsizetype(bomLength), *fromBom, form);
    if (mime && mime->charset) {
        if (Found fromHeader = encodingForLabel(*mime->charset))
            return decodeAs(body, 0, *fromHeader, form);
    }
    const QByteArray head = body.left(1024);
    if (isXhtml) {
        // XHTML goes to an XML parser, which reads the XML declaration and nothing else, and
        // takes UTF-8 when there is none.
        const Found declared = xmlDeclarationEncoding(head);
        return decodeAs(body, 0, declared.value_or(Encoding::Utf8), form);
    }
    // What the prescan or the default gives is tentative: a meta that the tree builder meets
    // later may still change it.
    if (const Found fromMeta = MetaPrescan(head).run())
        return decodeAs(body, 0, *fromMeta, form, Confidence::Tentative);
    return decodeAs(body, 0, isValidUtf8(body) ? Encoding::Utf8 : Encoding::Windows1252, form,
                    Confidence::Tentative);
}

} // namespace

DecodedPage decodePage(const QByteArray &body, const QByteArray &contentType, TextForm form) {
    const std::optional<MimeType> mime =
        contentType.isEmpty() ? std::nullopt : extractMimeType(contentType);
    const bool isXml = mime && mime->essence == "application/xhtml+xml";
    // The XML parser reads text, whatever the page's encoding.
    DecodedPage page = decodeDocument(body, mime, isXml ? TextForm::Utf16 : form);
    if (page.isHtml)
        page.isXml = isXml;
    return page;
}

DecodedPage decodePageAs(const QByteArray &body, const QByteArray &encodingName, TextForm form) {
    return decodeAs(body, 0, encodingForLabel(encodingName).value_or(Encoding::Utf8), form);
}

std::optional<QByteArray> encodingFromMetaContent(QByteArrayView content) {
    const Found found = charsetFromMetaContent(content.toByteArray());
    if (!found)
        return std::nullopt;
    const std::string_view name = encoding::name(*found);
    return QByteArray(name.data(), qsizetype(name.size()));
}
