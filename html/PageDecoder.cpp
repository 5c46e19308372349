#include "PageDecoder.h"

#include <QList>
#include <QStringDecoder>

#include <optional>

namespace {

// One character encoding as browsers know it: the name pages and QStringEncoder use, and the
// converter that decodes it the way browsers do (they often read a label as a superset of the
// character set it names, e.g. EUC-KR as Windows' code page 949).
struct Encoding {
    const char *name;
    const char *decoderName;
};

const Encoding Utf8{"UTF-8", "UTF-8"};
const Encoding Utf16Le{"UTF-16LE", "UTF-16LE"};
const Encoding Utf16Be{"UTF-16BE", "UTF-16BE"};
const Encoding Windows1252{"windows-1252", "windows-1252"};
// Labels for encodings that can smuggle ASCII past a filter (ISO-2022-KR, HZ ...); browsers
// refuse to decode them and show one replacement character instead.
const Encoding Replacement{"replacement", nullptr};
// Maps each byte above 0x7F into the private use area; only a Content-Type can ask for it.
const Encoding UserDefined{"x-user-defined", nullptr};

struct Label {
    const char *label;
    const Encoding *encoding;
};

const Encoding Ibm866{"IBM866", "IBM866"};
const Encoding Iso8859_2{"ISO-8859-2", "ISO-8859-2"};
const Encoding Iso8859_3{"ISO-8859-3", "ISO-8859-3"};
const Encoding Iso8859_4{"ISO-8859-4", "ISO-8859-4"};
const Encoding Iso8859_5{"ISO-8859-5", "ISO-8859-5"};
const Encoding Iso8859_6{"ISO-8859-6", "ISO-8859-6"};
const Encoding Iso8859_7{"ISO-8859-7", "ISO-8859-7"};
const Encoding Iso8859_8{"ISO-8859-8", "ISO-8859-8"};
const Encoding Iso8859_8I{"ISO-8859-8-I", "ISO-8859-8"};
const Encoding Iso8859_10{"ISO-8859-10", "ISO-8859-10"};
const Encoding Iso8859_13{"ISO-8859-13", "ISO-8859-13"};
const Encoding Iso8859_14{"ISO-8859-14", "ISO-8859-14"};
const Encoding Iso8859_15{"ISO-8859-15", "ISO-8859-15"};
const Encoding Iso8859_16{"ISO-8859-16", "ISO-8859-16"};
const Encoding Koi8R{"KOI8-R", "KOI8-R"};
const Encoding Koi8U{"KOI8-U", "KOI8-U"};
const Encoding Macintosh{"macintosh", "macintosh"};
const Encoding Windows874{"windows-874", "windows-874"};
const Encoding Windows1250{"windows-1250", "windows-1250"};
const Encoding Windows1251{"windows-1251", "windows-1251"};
const Encoding Windows1253{"windows-1253", "windows-1253"};
const Encoding Windows1254{"windows-1254", "windows-1254"};
const Encoding Windows1255{"windows-1255", "windows-1255"};
const Encoding Windows1256{"windows-1256", "windows-1256"};
const Encoding Windows1257{"windows-1257", "windows-1257"};
const Encoding Windows1258{"windows-1258", "windows-1258"};
const Encoding MacCyrillic{"x-mac-cyrillic", "x-mac-cyrillic"};
const Encoding Gbk{"GBK", "gb18030"};
const Encoding Gb18030{"gb18030", "gb18030"};
const Encoding Big5{"Big5", "Big5-HKSCS"};
const Encoding EucJp{"EUC-JP", "EUC-JP"};
const Encoding Iso2022Jp{"ISO-2022-JP", "ISO-2022-JP"};
const Encoding ShiftJis{"Shift_JIS", "windows-31j"};
const Encoding EucKr{"EUC-KR", "windows-949"};

// Every label browsers accept, lower-case, and the encoding it stands for.
const Label Labels[] = {
    {"unicode-1-1-utf-8", &Utf8},
    {"unicode11utf8", &Utf8},
    {"unicode20utf8", &Utf8},
    {"utf-8", &Utf8},
    {"utf8", &Utf8},
    {"x-unicode20utf8", &Utf8},
    {"866", &Ibm866},
    {"cp866", &Ibm866},
    {"csibm866", &Ibm866},
    {"ibm866", &Ibm866},
    {"csisolatin2", &Iso8859_2},
    {"iso-8859-2", &Iso8859_2},
    {"iso-ir-101", &Iso8859_2},
    {"iso8859-2", &Iso8859_2},
    {"iso88592", &Iso8859_2},
    {"iso_8859-2", &Iso8859_2},
    {"iso_8859-2:1987", &Iso8859_2},
    {"l2", &Iso8859_2},
    {"latin2", &Iso8859_2},
    {"csisolatin3", &Iso8859_3},
    {"iso-8859-3", &Iso8859_3},
    {"iso-ir-109", &Iso8859_3},
    {"iso8859-3", &Iso8859_3},
    {"iso88593", &Iso8859_3},
    {"iso_8859-3", &Iso8859_3},
    {"iso_8859-3:1988", &Iso8859_3},
    {"l3", &Iso8859_3},
    {"latin3", &Iso8859_3},
    {"csisolatin4", &Iso8859_4},
    {"iso-8859-4", &Iso8859_4},
    {"iso-ir-110", &Iso8859_4},
    {"iso8859-4", &Iso8859_4},
    {"iso88594", &Iso8859_4},
    {"iso_8859-4", &Iso8859_4},
    {"iso_8859-4:1988", &Iso8859_4},
    {"l4", &Iso8859_4},
    {"latin4", &Iso8859_4},
    {"csisolatincyrillic", &Iso8859_5},
    {"cyrillic", &Iso8859_5},
    {"iso-8859-5", &Iso8859_5},
    {"iso-ir-144", &Iso8859_5},
    {"iso8859-5", &Iso8859_5},
    {"iso88595", &Iso8859_5},
    {"iso_8859-5", &Iso8859_5},
    {"iso_8859-5:1988", &Iso8859_5},
    {"arabic", &Iso8859_6},
    {"asmo-708", &Iso8859_6},
    {"csiso88596e", &Iso8859_6},
    {"csiso88596i", &Iso8859_6},
    {"csisolatinarabic", &Iso8859_6},
    {"ecma-114", &Iso8859_6},
    {"iso-8859-6", &Iso8859_6},
    {"iso-8859-6-e", &Iso8859_6},
    {"iso-8859-6-i", &Iso8859_6},
    {"iso-ir-127", &Iso8859_6},
    {"iso8859-6", &Iso8859_6},
    {"iso88596", &Iso8859_6},
    {"iso_8859-6", &Iso8859_6},
    {"iso_8859-6:1987", &Iso8859_6},
    {"csisolatingreek", &Iso8859_7},
    {"ecma-118", &Iso8859_7},
    {"elot_928", &Iso8859_7},
    {"greek", &Iso8859_7},
    {"greek8", &Iso8859_7},
    {"iso-8859-7", &Iso8859_7},
    {"iso-ir-126", &Iso8859_7},
    {"iso8859-7", &Iso8859_7},
    {"iso88597", &Iso8859_7},
    {"iso_8859-7", &Iso8859_7},
    {"iso_8859-7:1987", &Iso8859_7},
    {"sun_eu_greek", &Iso8859_7},
    {"csiso88598e", &Iso8859_8},
    {"csisolatinhebrew", &Iso8859_8},
    {"hebrew", &Iso8859_8},
    {"iso-8859-8", &Iso8859_8},
    {"iso-8859-8-e", &Iso8859_8},
    {"iso-ir-138", &Iso8859_8},
    {"iso8859-8", &Iso8859_8},
    {"iso88598", &Iso8859_8},
    {"iso_8859-8", &Iso8859_8},
    {"iso_8859-8:1988", &Iso8859_8},
    {"visual", &Iso8859_8},
    {"csiso88598i", &Iso8859_8I},
    {"iso-8859-8-i", &Iso8859_8I},
    {"logical", &Iso8859_8I},
    {"csisolatin6", &Iso8859_10},
    {"iso-8859-10", &Iso8859_10},
    {"iso-ir-157", &Iso8859_10},
    {"iso8859-10", &Iso8859_10},
    {"iso885910", &Iso8859_10},
    {"l6", &Iso8859_10},
    {"latin6", &Iso8859_10},
    {"iso-8859-13", &Iso8859_13},
    {"iso8859-13", &Iso8859_13},
    {"iso885913", &Iso8859_13},
    {"iso-8859-14", &Iso8859_14},
    {"iso8859-14", &Iso8859_14},
    {"iso885914", &Iso8859_14},
    {"csisolatin9", &Iso8859_15},
    {"iso-8859-15", &Iso8859_15},
    {"iso8859-15", &Iso8859_15},
    {"iso885915", &Iso8859_15},
    {"iso_8859-15", &Iso8859_15},
    {"l9", &Iso8859_15},
    {"iso-8859-16", &Iso8859_16},
    {"cskoi8r", &Koi8R},
    {"koi", &Koi8R},
    {"koi8", &Koi8R},
    {"koi8-r", &Koi8R},
    {"koi8_r", &Koi8R},
    {"koi8-ru", &Koi8U},
    {"koi8-u", &Koi8U},
    {"csmacintosh", &Macintosh},
    {"mac", &Macintosh},
    {"macintosh", &Macintosh},
    {"x-mac-roman", &Macintosh},
    {"dos-874", &Windows874},
    {"iso-8859-11", &Windows874},
    {"iso8859-11", &Windows874},
    {"iso885911", &Windows874},
    {"tis-620", &Windows874},
    {"windows-874", &Windows874},
    {"cp1250", &Windows1250},
    {"windows-1250", &Windows1250},
    {"x-cp1250", &Windows1250},
    {"cp1251", &Windows1251},
    {"windows-1251", &Windows1251},
    {"x-cp1251", &Windows1251},
    {"ansi_x3.4-1968", &Windows1252},
    {"ascii", &Windows1252},
    {"cp1252", &Windows1252},
    {"cp819", &Windows1252},
    {"csisolatin1", &Windows1252},
    {"ibm819", &Windows1252},
    {"iso-8859-1", &Windows1252},
    {"iso-ir-100", &Windows1252},
    {"iso8859-1", &Windows1252},
    {"iso88591", &Windows1252},
    {"iso_8859-1", &Windows1252},
    {"iso_8859-1:1987", &Windows1252},
    {"l1", &Windows1252},
    {"latin1", &Windows1252},
    {"us-ascii", &Windows1252},
    {"windows-1252", &Windows1252},
    {"x-cp1252", &Windows1252},
    {"cp1253", &Windows1253},
    {"windows-1253", &Windows1253},
    {"x-cp1253", &Windows1253},
    {"cp1254", &Windows1254},
    {"csisolatin5", &Windows1254},
    {"iso-8859-9", &Windows1254},
    {"iso-ir-148", &Windows1254},
    {"iso8859-9", &Windows1254},
    {"iso88599", &Windows1254},
    {"iso_8859-9", &Windows1254},
    {"iso_8859-9:1989", &Windows1254},
    {"l5", &Windows1254},
    {"latin5", &Windows1254},
    {"windows-1254", &Windows1254},
    {"x-cp1254", &Windows1254},
    {"cp1255", &Windows1255},
    {"windows-1255", &Windows1255},
    {"x-cp1255", &Windows1255},
    {"cp1256", &Windows1256},
    {"windows-1256", &Windows1256},
    {"x-cp1256", &Windows1256},
    {"cp1257", &Windows1257},
    {"windows-1257", &Windows1257},
    {"x-cp1257", &Windows1257},
    {"cp1258", &Windows1258},
    {"windows-1258", &Windows1258},
    {"x-cp1258", &Windows1258},
    {"x-mac-cyrillic", &MacCyrillic},
    {"x-mac-ukrainian", &MacCyrillic},
    {"chinese", &Gbk},
    {"csgb2312", &Gbk},
    {"csiso58gb231280", &Gbk},
    {"gb2312", &Gbk},
    {"gb_2312", &Gbk},
    {"gb_2312-80", &Gbk},
    {"gbk", &Gbk},
    {"iso-ir-58", &Gbk},
    {"x-gbk", &Gbk},
    {"gb18030", &Gb18030},
    {"big5", &Big5},
    {"big5-hkscs", &Big5},
    {"cn-big5", &Big5},
    {"csbig5", &Big5},
    {"x-x-big5", &Big5},
    {"cseucpkdfmtjapanese", &EucJp},
    {"euc-jp", &EucJp},
    {"x-euc-jp", &EucJp},
    {"csiso2022jp", &Iso2022Jp},
    {"iso-2022-jp", &Iso2022Jp},
    {"csshiftjis", &ShiftJis},
    {"ms932", &ShiftJis},
    {"ms_kanji", &ShiftJis},
    {"shift-jis", &ShiftJis},
    {"shift_jis", &ShiftJis},
    {"sjis", &ShiftJis},
    {"windows-31j", &ShiftJis},
    {"x-sjis", &ShiftJis},
    {"cseuckr", &EucKr},
    {"csksc56011987", &EucKr},
    {"euc-kr", &EucKr},
    {"iso-ir-149", &EucKr},
    {"korean", &EucKr},
    {"ks_c_5601-1987", &EucKr},
    {"ks_c_5601-1989", &EucKr},
    {"ksc5601", &EucKr},
    {"ksc_5601", &EucKr},
    {"windows-949", &EucKr},
    {"csiso2022kr", &Replacement},
    {"hz-gb-2312", &Replacement},
    {"iso-2022-cn", &Replacement},
    {"iso-2022-cn-ext", &Replacement},
    {"iso-2022-kr", &Replacement},
    {"replacement", &Replacement},
    {"unicodefffe", &Utf16Be},
    {"utf-16be", &Utf16Be},
    {"csunicode", &Utf16Le},
    {"iso-10646-ucs-2", &Utf16Le},
    {"ucs-2", &Utf16Le},
    {"unicode", &Utf16Le},
    {"unicodefeff", &Utf16Le},
    {"utf-16", &Utf16Le},
    {"utf-16le", &Utf16Le},
    {"x-user-defined", &UserDefined},
};

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

// The encoding a charset label names, or nullptr for a label browsers don't know. A label
// whose character set this Qt cannot decode counts as unknown, so detection goes on.
const Encoding *encodingForLabel(const QByteArray &rawLabel) {
    qsizetype begin = 0;
    qsizetype end = rawLabel.size();
    while (begin < end && isAsciiWhitespace(rawLabel[begin]))
        ++begin;
    while (end > begin && isAsciiWhitespace(rawLabel[end - 1]))
        --end;
    const QByteArray label = asciiLower(rawLabel.mid(begin, end - begin));
    for (const Label &entry : Labels) {
        if (label == entry.label) {
            const Encoding *encoding = entry.encoding;
            if (encoding->decoderName && !QStringDecoder(encoding->decoderName).isValid())
                return nullptr;
            return encoding;
        }
    }
    return nullptr;
}

// A page can't really be UTF-16 when its markup could be read as ASCII, and x-user-defined
// is only honoured from a Content-Type: encodings found inside the document are adjusted so.
const Encoding *adjustInDocumentEncoding(const Encoding *encoding) {
    if (encoding == &Utf16Le || encoding == &Utf16Be)
        return &Utf8;
    if (encoding == &UserDefined)
        return &Windows1252;
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

const Encoding *encodingForBom(const QByteArray &body, qsizetype &bomLength) {
    if (body.startsWith("\xEF\xBB\xBF")) {
        bomLength = 3;
        return &Utf8;
    }
    if (body.startsWith("\xFE\xFF")) {
        bomLength = 2;
        return &Utf16Be;
    }
    if (body.startsWith("\xFF\xFE")) {
        bomLength = 2;
        return &Utf16Le;
    }
    bomLength = 0;
    return nullptr;
}

// The encoding an `<?xml ... encoding="..."?>` declaration at the very start names.
const Encoding *xmlDeclarationEncoding(const QByteArray &head) {
    if (!head.startsWith("<?xml"))
        return nullptr;
    const qsizetype declarationEnd = head.indexOf('>');
    if (declarationEnd < 0)
        return nullptr;
    const QByteArray declaration = head.left(declarationEnd);
    qsizetype pos = declaration.indexOf("encoding");
    if (pos < 0)
        return nullptr;
    pos += 8;
    while (pos < declaration.size() && static_cast<unsigned char>(declaration[pos]) <= 0x20)
        ++pos;
    if (pos >= declaration.size() || declaration[pos] != '=')
        return nullptr;
    ++pos;
    while (pos < declaration.size() && static_cast<unsigned char>(declaration[pos]) <= 0x20)
        ++pos;
    if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\''))
        return nullptr;
    const char quote = declaration[pos++];
    const qsizetype valueEnd = declaration.indexOf(quote, pos);
    if (valueEnd < 0)
        return nullptr;
    const Encoding *encoding = encodingForLabel(declaration.mid(pos, valueEnd - pos));
    return encoding ? adjustInDocumentEncoding(encoding) : nullptr;
}

// Finds the charset in a `<meta http-equiv="Content-Type" content="text/html; charset=...">`
// content value.
const Encoding *charsetFromMetaContent(const QByteArray &content) {
    qsizetype pos = 0;
    for (;;) {
        pos = indexOfIgnoringCase(content, "charset", pos);
        if (pos < 0)
            return nullptr;
        pos += 7;
        while (pos < content.size() && isAsciiWhitespace(content[pos]))
            ++pos;
        if (pos >= content.size() || content[pos] != '=')
            continue;
        ++pos;
        while (pos < content.size() && isAsciiWhitespace(content[pos]))
            ++pos;
        if (pos >= content.size())
            return nullptr;
        const char c = content[pos];
        if (c == '"' || c == '\'') {
            const qsizetype close = content.indexOf(c, pos + 1);
            if (close < 0)
                return nullptr;
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

    const Encoding *run() {
        const Encoding *fallback = xmlDeclarationEncoding(m_data);
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
                std::optional<const Encoding *> found = readMeta();
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
    // Reads the attributes of a <meta> tag; the encoding it declares, nullptr for one that
    // names no usable encoding, nullopt for a tag that declares none.
    std::optional<const Encoding *> readMeta() {
        QList<QByteArray> seen;
        bool gotPragma = false;
        std::optional<bool> needPragma;
        const Encoding *charset = nullptr;
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
                    if (const Encoding *fromContent = charsetFromMetaContent(value)) {
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
        return adjustInDocumentEncoding(charset);
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
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= size)
                return true;
            const unsigned char next = p[i + k];
            if (next < low || next > high)
                return false;
            low = 0x80;
            high = 0xBF;
        }
        i += length;
    }
    return true;
}

DecodedPage decodeAs(const QByteArray &body, qsizetype skip, const Encoding *encoding,
                     TextForm form) {
    DecodedPage page;
    page.isHtml = true;
    if (encoding == &Utf8 && form == TextForm::Utf8WhenUtf8) {
        page.utf8 = skip ? body.sliced(skip) : body;
        page.encoding = Utf8.name;
        return page;
    }
    if (encoding == &Replacement) {
        // Shown as a single replacement character; links would be read as UTF-8.
        if (!body.isEmpty())
            page.text = QString(QChar::ReplacementCharacter);
        page.encoding = Utf8.name;
        return page;
    }
    if (encoding == &UserDefined) {
        // ASCII as is, every other byte into U+F780..U+F7FF. No QStringEncoder knows this
        // encoding, and for ASCII it agrees with windows-1252, so links are read as that.
        page.text.reserve(body.size());
        for (const char c : body) {
            const auto u = static_cast<unsigned char>(c);
            page.text += QChar(u < 0x80 ? char16_t(u) : char16_t(0xF780 + u - 0x80));
        }
        page.encoding = Windows1252.name;
        return page;
    }
    QStringDecoder decoder(encoding->decoderName, QStringDecoder::Flag::Stateless);
    page.text = decoder.decode(QByteArrayView(body).sliced(skip));
    page.encoding = encoding->name;
    return page;
}

DecodedPage decodeDocument(const QByteArray &body, const QByteArray &contentType, TextForm form) {
    const std::optional<MimeType> mime =
        contentType.isEmpty() ? std::nullopt : extractMimeType(contentType);
    const bool unknownType =
        !mime || mime->essence == "unknown/unknown" || mime->essence == "application/unknown";
    const bool isXhtml = !unknownType && mime->essence == "application/xhtml+xml";
    if (unknownType) {
        if (!sniffsAsHtml(body))
            return {};
    } else if (mime->essence != "text/html" && !isXhtml) {
        return {};
    }

    qsizetype bomLength = 0;
    if (const Encoding *fromBom = encodingForBom(body, bomLength))
        return decodeAs(body, bomLength, fromBom, form);
    if (mime && mime->charset) {
        if (const Encoding *fromHeader = encodingForLabel(*mime->charset))
            return decodeAs(body, 0, fromHeader, form);
    }
    const QByteArray head = body.left(1024);
    if (isXhtml) {
        // XHTML goes to an XML parser, which reads the XML declaration and nothing else, and
        // takes UTF-8 when there is none.
        const Encoding *declared = xmlDeclarationEncoding(head);
        return decodeAs(body, 0, declared ? declared : &Utf8, form);
    }
    if (const Encoding *fromMeta = MetaPrescan(head).run())
        return decodeAs(body, 0, fromMeta, form);
    return decodeAs(body, 0, isValidUtf8(body) ? &Utf8 : &Windows1252, form);
}

} // namespace

DecodedPage decodePage(const QByteArray &body, const QByteArray &contentType, TextForm form) {
    const std::optional<MimeType> mime =
        contentType.isEmpty() ? std::nullopt : extractMimeType(contentType);
    const bool isXml = mime && mime->essence == "application/xhtml+xml";
    // The XML parser reads text, whatever the page's encoding.
    DecodedPage page = decodeDocument(body, contentType, isXml ? TextForm::Utf16 : form);
    if (page.isHtml)
        page.isXml = isXml;
    return page;
}
