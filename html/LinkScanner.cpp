#include "LinkScanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

namespace {

// ---------------------------------------------------------------------------------------------
// Names

// Every tag name that tree construction treats apart from the others.
#define CORVANE_TAGS(X)                                                                                                      \
    X(a, "a")                                                                                                                \
    X(address, "address")                                                                                                    \
    X(annotationXml, "annotation-xml")                                                                                       \
    X(applet, "applet")                                                                                                      \
    X(area, "area")                                                                                                          \
    X(article, "article")                                                                                                    \
    X(aside, "aside")                                                                                                        \
    X(b, "b")                                                                                                                \
    X(base, "base")                                                                                                          \
    X(basefont, "basefont") X(bgsound, "bgsound") X(big, "big") X(blockquote, "blockquote") X(                               \
        body, "body") X(br, "br") X(button, "button") X(caption, "caption") X(center, "center")                              \
        X(code, "code") X(col, "col") X(colgroup, "colgroup") X(dd, "dd") X(desc, "desc") X(                                 \
            details, "details") X(dialog, "dialog") X(dir, "dir") X(div, "div") X(dl, "dl")                                  \
            X(dt, "dt") X(em, "em") X(                                                                                       \
                embed,                                                                                                       \
                "embed") X(fieldset,                                                                                         \
                           "fieldset") X(figcaption,                                                                         \
                                         "figcaption") X(figure,                                                             \
                                                         "figure") X(font,                                                   \
                                                                     "font") X(footer, "footer")                             \
                X(foreignObject, "foreignobject") X(form, "form") X(                                                         \
                    frame,                                                                                                   \
                    "frame") X(frameset,                                                                                     \
                               "frameset") X(h1,                                                                             \
                                             "h1") X(h2,                                                                     \
                                                     "h2") X(h3,                                                             \
                                                             "h3") X(h4,                                                     \
                                                                     "h4") X(h5,                                             \
                                                                             "h5") X(h6,                                     \
                                                                                     "h6") X(head, "head")                   \
                    X(header,                                                                                                \
                      "header") X(hgroup, "hgroup")                                                                          \
                        X(hr,                                                                                                \
                          "hr") X(html, "html")                                                                              \
                            X(i, "i") X(iframe, "iframe") X(image, "image") X(img, "img") X(                                 \
                                input,                                                                                       \
                                "input") X(keygen,                                                                           \
                                           "keygen") X(li,                                                                   \
                                                       "li") X(link,                                                         \
                                                               "li"                                                          \
                                                               "n"                                                           \
                                                               "k")                                                          \
                                X(listing, "listing") X(main, "main") X(                                                     \
                                    malignmark,                                                                              \
                                    "malignma"                                                                               \
                                    "rk")                                                                                    \
                                    X(marquee, "marquee") X(math, "math") X(menu, "menu") X(                                 \
                                        meta,                                                                                \
                                        "me"                                                                                 \
                                        "t"                                                                                  \
                                        "a") X(mglyph, "mglyph")                                                             \
                                        X(mi,                                                                                \
                                          "m"                                                                                \
                                          "i") X(mn,                                                                         \
                                                 "mn") X(mo,                                                                 \
                                                         "mo") X(ms,                                                         \
                                                                 "ms") X(mtext, "mtext")                                     \
                                            X(nav, "nav") X(nobr, "nobr") X(noembed, "noembed") X(                           \
                                                noframes,                                                                    \
                                                "noframes") X(noscript, "noscript")                                          \
                                                X(object,                                                                    \
                                                  "object") X(ol, "ol")                                                      \
                                                    X(optgroup,                                                              \
                                                      "optgroup") X(option, "option")                                        \
                                                        X(p, "p") X(                                                         \
                                                            param,                                                           \
                                                            "param") X(plaintext,                                            \
                                                                       "plain"                                               \
                                                                       "text")                                               \
                                                            X(pre, "pre") X(rb, "rb") X(                                     \
                                                                rp,                                                          \
                                                                "rp") X(rt, "rt")                                            \
                                                                X(rtc, "rtc") X(ruby, "ruby") X(                             \
                                                                    s,                                                       \
                                                                    "s") X(script,                                           \
                                                                           "script") X(search,                               \
                                                                                       "sear"                                \
                                                                                       "ch")                                 \
                                                                    X(section,                                               \
                                                                      "section") X(select,                                   \
                                                                                   "sele"                                    \
                                                                                   "ct")                                     \
                                                                        X(small,                                             \
                                                                          "small") X(source,                                 \
                                                                                     "sour"                                  \
                                                                                     "ce") X(span,                           \
                                                                                             "s"                             \
                                                                                             "p"                             \
                                                                                             "a"                             \
                                                                                             "n")                            \
                                                                            X(strike, "strike") X(                           \
                                                                                strong,                                      \
                                                                                "st"                                         \
                                                                                "ro"                                         \
                                                                                "n"                                          \
                                                                                "g") X(style,                                \
                                                                                       "style")                              \
                                                                                X(sub, "sub") X(                             \
                                                                                    summary,                                 \
                                                                                    "summar"                                 \
                                                                                    "y") X(sup,                              \
                                                                                           "sup")                            \
                                                                                    X(                                       \
                                                                                        svg,                                 \
                                                                                        "sv"                                 \
                                                                                        "g") X(table,                        \
                                                                                               "t"                           \
                                                                                               "a"                           \
                                                                                               "b"                           \
                                                                                               "l"                           \
                                                                                               "e") X(tbody,                 \
                                                                                                      "tbo"                  \
                                                                                                      "dy")                  \
                                                                                        X(td,                                \
                                                                                          "t"                                \
                                                                                          "d") X(template_,                  \
                                                                                                 "templa"                    \
                                                                                                 "t"                         \
                                                                                                 "e")                        \
                                                                                            X(textarea,                      \
                                                                                              "t"                            \
                                                                                              "e"                            \
                                                                                              "x"                            \
                                                                                              "t"                            \
                                                                                              "a"                            \
                                                                                              "r"                            \
                                                                                              "e"                            \
                                                                                              "a") X(tfoot,                  \
                                                                                                     "tfo"                   \
                                                                                                     "ot") X(th,             \
                                                                                                             "t"             \
                                                                                                             "h")            \
                                                                                                X(thead,                     \
                                                                                                  "t"                        \
                                                                                                  "h"                        \
                                                                                                  "e"                        \
                                                                                                  "a"                        \
                                                                                                  "d") X(title,              \
                                                                                                         "tit"               \
                                                                                                         "l"                 \
                                                                                                         "e")                \
                                                                                                    X(tr,                    \
                                                                                                      "t"                    \
                                                                                                      "r") X(track,          \
                                                                                                             "tr"            \
                                                                                                             "ac"            \
                                                                                                             "k")            \
                                                                                                        X(tt, "tt") X(       \
                                                                                                            u,               \
                                                                                                            "u") X(ul,       \
                                                                                                                   "ul")     \
                                                                                                            X(var, "var") X( \
                                                                                                                wbr,         \
                                                                                                                "wbr")       \
                                                                                                                X(xmp,       \
                                                                                                                  "xmp")

enum class Tag : std::uint8_t {
    Other,
#define CORVANE_TAG_ENUM(id, name) id,
    CORVANE_TAGS(CORVANE_TAG_ENUM)
#undef CORVANE_TAG_ENUM
        Count
};
constexpr int tagCount = int(Tag::Count);

constexpr const char *tagNames[] = {"",
#define CORVANE_TAG_NAME(id, name) name,
                                    CORVANE_TAGS(CORVANE_TAG_NAME)
#undef CORVANE_TAG_NAME
};

enum class Ns : std::uint8_t { Html, Svg, MathMl };

constexpr std::uint64_t fnvBasis = 14695981039346656037ull;
constexpr std::uint64_t fnvPrime = 1099511628211ull;

constexpr std::uint64_t hashByte(std::uint64_t h, unsigned char c) {
    return (h ^ c) * fnvPrime;
}

// The hash of a name as the tokenizer gives it: ASCII upper case lowered, U+0000 as U+FFFD.
struct NameHash {
    std::uint64_t h = fnvBasis;
    void add(unsigned char c) {
        if (c >= 'A' && c <= 'Z') {
            h = hashByte(h, c + 32);
        } else if (c == 0) {
            h = hashByte(hashByte(hashByte(h, 0xEF), 0xBF), 0xBD);
        } else {
            h = hashByte(h, c);
        }
    }
};

constexpr std::uint64_t hashOf(const char *s) {
    std::uint64_t h = fnvBasis;
    for (; *s; ++s)
        h = hashByte(h, static_cast<unsigned char>(*s));
    return h;
}

// Known names by hash, in an open-addressed table.
class TagTable {
public:
    TagTable() {
        for (int t = 1; t < tagCount; ++t) {
            const std::uint64_t h = hashOf(tagNames[t]);
            std::size_t slot = h & mask;
            while (m_slots[slot].tag != Tag::Other)
                slot = (slot + 1) & mask;
            m_slots[slot] = {h, Tag(t)};
        }
    }
    Tag find(std::uint64_t h) const {
        for (std::size_t slot = h & mask;; slot = (slot + 1) & mask) {
            if (m_slots[slot].tag == Tag::Other || m_slots[slot].hash == h)
                return m_slots[slot].tag;
        }
    }

private:
    static constexpr std::size_t mask = 511;
    struct Slot {
        std::uint64_t hash = 0;
        Tag tag = Tag::Other;
    };
    std::array<Slot, mask + 1> m_slots{};
};

const TagTable &tagTable() {
    static const TagTable table;
    return table;
}

using TagSet = std::array<bool, tagCount>;

constexpr TagSet tagSet(std::initializer_list<Tag> tags) {
    TagSet set{};
    for (Tag t : tags)
        set[std::size_t(t)] = true;
    return set;
}

constexpr TagSet specialHtml = tagSet({
    Tag::address,  Tag::applet,     Tag::area,       Tag::article,  Tag::aside,  Tag::base,
    Tag::basefont, Tag::bgsound,    Tag::blockquote, Tag::body,     Tag::br,     Tag::button,
    Tag::caption,  Tag::center,     Tag::col,        Tag::colgroup, Tag::dd,     Tag::details,
    Tag::dialog,   Tag::dir,        Tag::div,        Tag::dl,       Tag::dt,     Tag::embed,
    Tag::fieldset, Tag::figcaption, Tag::figure,     Tag::footer,   Tag::form,   Tag::frame,
    Tag::frameset, Tag::h1,         Tag::h2,         Tag::h3,       Tag::h4,     Tag::h5,
    Tag::h6,       Tag::head,       Tag::header,     Tag::hgroup,   Tag::hr,     Tag::html,
    Tag::iframe,   Tag::img,        Tag::input,      Tag::keygen,   Tag::li,     Tag::link,
    Tag::listing,  Tag::main,       Tag::marquee,    Tag::menu,     Tag::meta,   Tag::nav,
    Tag::noembed,  Tag::noframes,   Tag::noscript,   Tag::object,   Tag::ol,     Tag::p,
    Tag::param,    Tag::plaintext,  Tag::pre,        Tag::script,   Tag::search, Tag::section,
    Tag::select,   Tag::source,     Tag::style,      Tag::summary,  Tag::table,  Tag::tbody,
    Tag::td,       Tag::template_,  Tag::textarea,   Tag::tfoot,    Tag::th,     Tag::thead,
    Tag::title,    Tag::tr,         Tag::track,      Tag::ul,       Tag::wbr,    Tag::xmp,
});
constexpr TagSet formatting =
    tagSet({Tag::a, Tag::b, Tag::big, Tag::code, Tag::em, Tag::font, Tag::i, Tag::nobr, Tag::s,
            Tag::small, Tag::strike, Tag::strong, Tag::tt, Tag::u});
constexpr TagSet impliedEnd = tagSet({Tag::dd, Tag::dt, Tag::li, Tag::optgroup, Tag::option, Tag::p,
                                      Tag::rb, Tag::rp, Tag::rt, Tag::rtc});
constexpr TagSet impliedEndThorough =
    tagSet({Tag::caption, Tag::colgroup, Tag::dd, Tag::dt, Tag::li, Tag::optgroup, Tag::option,
            Tag::p, Tag::rb, Tag::rp, Tag::rt, Tag::rtc, Tag::tbody, Tag::td, Tag::tfoot, Tag::th,
            Tag::thead, Tag::tr});
constexpr TagSet headings = tagSet({Tag::h1, Tag::h2, Tag::h3, Tag::h4, Tag::h5, Tag::h6});
constexpr TagSet breakout = tagSet({
    Tag::b,      Tag::big,    Tag::blockquote, Tag::body,    Tag::br,    Tag::center, Tag::code,
    Tag::dd,     Tag::div,    Tag::dl,         Tag::dt,      Tag::em,    Tag::embed,  Tag::h1,
    Tag::h2,     Tag::h3,     Tag::h4,         Tag::h5,      Tag::h6,    Tag::head,   Tag::hr,
    Tag::i,      Tag::img,    Tag::li,         Tag::listing, Tag::menu,  Tag::meta,   Tag::nobr,
    Tag::ol,     Tag::p,      Tag::pre,        Tag::ruby,    Tag::s,     Tag::small,  Tag::span,
    Tag::strong, Tag::strike, Tag::sub,        Tag::sup,     Tag::table, Tag::tt,     Tag::u,
    Tag::ul,     Tag::var,
});
constexpr TagSet closesP = tagSet({
    Tag::address,  Tag::article,    Tag::aside,   Tag::blockquote, Tag::center,
    Tag::details,  Tag::dialog,     Tag::dir,     Tag::div,        Tag::dl,
    Tag::fieldset, Tag::figcaption, Tag::figure,  Tag::footer,     Tag::header,
    Tag::hgroup,   Tag::main,       Tag::menu,    Tag::nav,        Tag::ol,
    Tag::p,        Tag::search,     Tag::section, Tag::summary,    Tag::ul,
});
constexpr TagSet closedByEndTag = tagSet({
    Tag::address,    Tag::article, Tag::aside,  Tag::blockquote, Tag::button, Tag::center,
    Tag::details,    Tag::dialog,  Tag::dir,    Tag::div,        Tag::dl,     Tag::fieldset,
    Tag::figcaption, Tag::figure,  Tag::footer, Tag::header,     Tag::hgroup, Tag::listing,
    Tag::main,       Tag::menu,    Tag::nav,    Tag::ol,         Tag::pre,    Tag::search,
    Tag::section,    Tag::summary, Tag::ul,
});
constexpr TagSet headContent =
    tagSet({Tag::base, Tag::basefont, Tag::bgsound, Tag::link, Tag::meta, Tag::noframes,
            Tag::script, Tag::style, Tag::template_, Tag::title});
constexpr TagSet tableish = tagSet({Tag::table, Tag::tbody, Tag::tfoot, Tag::thead, Tag::tr});
constexpr TagSet tableSections = tagSet({Tag::tbody, Tag::tfoot, Tag::thead});
constexpr TagSet cells = tagSet({Tag::td, Tag::th});

bool in(const TagSet &set, Tag t) {
    return set[std::size_t(t)];
}

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\f' || c == '\r';
}
bool isAlpha(unsigned char c) {
    return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isAlnum(unsigned char c) {
    return isAlpha(c) || isDigit(c);
}
bool isHex(unsigned char c) {
    return isDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}
unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Whether [p, end) starts with `word` (lower case), ignoring ASCII case.
bool startsWithNoCase(const char *p, const char *end, std::string_view word) {
    if (std::size_t(end - p) < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(static_cast<unsigned char>(p[i])) != static_cast<unsigned char>(word[i]))
            return false;
    }
    return true;
}

bool equalsNoCase(std::string_view a, std::string_view lowerWord) {
    return a.size() == lowerWord.size() &&
           startsWithNoCase(a.data(), a.data() + a.size(), lowerWord);
}

// ---------------------------------------------------------------------------------------------
// Character references

struct NamedRef {
    const char *name;
    unsigned char length;
    char32_t first;
    char32_t second;
};

const NamedRef namedRefs[] = {
#include "NamedCharRefs.inc"
};

constexpr std::size_t longestRefName = 32;

void appendUtf8(std::vector<char> &out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// What numeric references to 0x80..0x9F stand for: windows-1252, as the web has always read
// them (0 where the number stays).
constexpr char16_t c1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Reads the character reference whose '&' is just before `p` and appends what it stands for
// (or the text itself, when it is none) to `out`; returns where reading goes on.
// `inAttribute` selects the attribute value rules for references without a semicolon.
// `overflow` is set when a numeric reference has a number beyond 32 bits.
const char *readCharRef(const char *p, const char *end, bool inAttribute, std::vector<char> &out,
                        bool &overflow) {
    if (p == end) {
        out.push_back('&');
        return p;
    }
    if (*p == '#') {
        const char *q = p + 1;
        const bool hex = q < end && (*q == 'x' || *q == 'X');
        if (hex)
            ++q;
        const char *digits = q;
        std::uint32_t value = 0;
        std::uint64_t exact = 0;
        while (q < end && (hex ? isHex(static_cast<unsigned char>(*q))
                               : isDigit(static_cast<unsigned char>(*q)))) {
            const unsigned char c = lower(static_cast<unsigned char>(*q));
            const std::uint32_t digit = isDigit(c) ? c - '0' : c - 'a' + 10;
            exact = std::min<std::uint64_t>(exact * (hex ? 16 : 10) + digit, 1ull << 40);
            value = std::uint32_t(std::min<std::uint64_t>(exact, 0x110000));
            ++q;
        }
        if (exact > 0x7FFFFFFF)
            overflow = true;
        if (q == digits) {
            // No digits: the text stays as it is.
            out.push_back('&');
            return p;
        }
        if (q < end && *q == ';')
            ++q;
        char32_t c = value;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            c = 0xFFFD;
        else if (value >= 0x80 && value <= 0x9F && c1Replacements[value - 0x80])
            c = c1Replacements[value - 0x80];
        appendUtf8(out, c);
        return q;
    }
    if (!isAlnum(static_cast<unsigned char>(*p))) {
        out.push_back('&');
        return p;
    }
    // The longest name in the table that the text starts with.
    char name[longestRefName];
    std::size_t available = 0;
    while (available < longestRefName && p + available < end) {
        const char c = p[available];
        name[available++] = c;
        if (!isAlnum(static_cast<unsigned char>(c)))
            break; // a ';' ends every name; anything else ends the search
    }
    const NamedRef *match = nullptr;
    for (std::size_t length = available; length > 0 && !match; --length) {
        const std::string_view wanted(name, length);
        const NamedRef *found =
            std::lower_bound(std::begin(namedRefs), std::end(namedRefs), wanted,
                             [](const NamedRef &ref, std::string_view w) {
                                 return std::string_view(ref.name, ref.length) < w;
                             });
        if (found != std::end(namedRefs) && std::string_view(found->name, found->length) == wanted)
            match = found;
    }
    if (!match) {
        out.push_back('&');
        return p;
    }
    const char *after = p + match->length;
    if (inAttribute && match->name[match->length - 1] != ';' && after < end &&
        (*after == '=' || isAlnum(static_cast<unsigned char>(*after)))) {
        out.push_back('&');
        return p;
    }
    appendUtf8(out, match->first);
    if (match->second)
        appendUtf8(out, match->second);
    return after;
}

// Appends the value of [p, end) as the tokenizer reads it in an attribute or in text. Returns
// true when a numeric reference in it overflowed, which gumbo reads otherwise than browsers.
bool decodeText(const char *p, const char *end, bool inAttribute, std::vector<char> &out) {
    bool overflow = false;
    while (p < end) {
        const char c = *p++;
        if (c == '&') {
            p = readCharRef(p, end, inAttribute, out, overflow);
        } else if (c == '\r') {
            out.push_back('\n');
            if (p < end && *p == '\n')
                ++p;
        } else if (c == 0 && inAttribute) {
            out.insert(out.end(), {char(0xEF), char(0xBF), char(0xBD)});
        } else {
            out.push_back(c);
        }
    }
    return overflow;
}

bool needsDecoding(const char *p, const char *end) {
    for (; p < end; ++p) {
        if (*p == '&' || *p == '\r' || *p == 0)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// The scanner

enum class Mode : std::uint8_t {
    Initial,
    BeforeHtml,
    BeforeHead,
    InHead,
    InHeadNoscript,
    AfterHead,
    InBody,
    Text,
    InTable,
    InTableText,
    InCaption,
    InColumnGroup,
    InTableBody,
    InRow,
    InCell,
    InTemplate,
    AfterBody,
    InFrameset,
    AfterFrameset,
    AfterAfterBody,
    AfterAfterFrameset,
};

enum class Quirks : std::uint8_t { No, Yes, Unknown };

enum class AttrKind : std::uint8_t { Other, Href, Type, Encoding, Color, Face, Size };

struct Attr {
    std::uint64_t name;
    AttrKind kind;
    const char *value;
    std::uint32_t length;
};

// Where an href's text is: in the page, or in the scan's own buffer.
struct HrefRef {
    std::uint32_t offset;
    std::uint32_t length;
    bool decoded;
};

struct Token {
    enum Kind : std::uint8_t { Start, End, Chars, Eof } kind;
    Tag tag = Tag::Other;
    std::uint64_t name = 0;
    bool selfClosing = false;
    const char *text = nullptr; // Chars: the characters, references decoded
    const char *textEnd = nullptr;
};

struct Element {
    std::uint32_t id;
    Tag tag;
    Ns ns;
    bool htmlIntegration;   // an HTML integration point
    std::uint64_t name;     // hash of the lower-case local name
    std::uint32_t linkMark; // links in tree order before this element's contents
};

struct FormattingEntry {
    std::uint32_t id; // 0: a marker
    Tag tag;
    std::uint64_t name;
    std::uint64_t attributes; // hash of the attribute set, for the three-of-a-kind rule
    std::int64_t href;        // index into m_hrefPool, or -1
};

enum class Scope { Default, ListItem, Button, Table };

class Scanner {
public:
    Scanner(std::string_view page, const std::atomic<bool> *stop, LinkScan &out)
        : m_begin(page.data())
        , m_p(page.data())
        , m_end(page.data() + page.size())
        , m_stopFlag(stop)
        , m_out(out)
        , m_tags(tagTable()) {
        m_budget = 64 * std::uint64_t(page.size()) + 4'000'000;
        m_open.push_back(0);
    }

    void run();
    void take(std::vector<HrefRef> &pool, std::vector<std::int64_t> &links, std::int64_t &base) {
        pool = std::move(m_hrefPool);
        links = std::move(m_links);
        base = m_base;
    }

private:
    // Tokenizer
    void data();
    void tagOpen(const char *lt);
    void endTagOpen(const char *lt);
    void tag(bool end);
    void rawText();
    void scriptData();
    void markupDeclaration();
    void comment();
    void doctype();
    void chars(const char *b, const char *e);
    bool adjustedCurrentIsForeign() const {
        return !m_stack.empty() && m_stack.back().ns != Ns::Html;
    }
    const Attr *attr(AttrKind kind) const {
        for (const Attr &a : m_attrs) {
            if (a.kind == kind)
                return &a;
        }
        return nullptr;
    }
    bool attrIs(AttrKind kind, std::string_view lowerValue);
    std::string_view attrValue(const Attr &a, std::vector<char> &scratch);

    // Tree construction
    void process(Token &t);
    bool step(Token &t); // true: reprocess
    bool useHtmlRules(const Token &t) const;
    bool foreignContent(Token &t);
    bool initial(Token &t);
    bool beforeHtml(Token &t);
    bool beforeHead(Token &t);
    bool inHead(Token &t);
    bool inHeadNoscript(Token &t);
    bool afterHead(Token &t);
    bool inBody(Token &t);
    bool inBodyStart(Token &t);
    bool inBodyEnd(Token &t);
    void inBodyChars(const char *b, const char *e);
    bool textMode(Token &t);
    bool inTable(Token &t);
    bool inTableAnythingElse(Token &t);
    bool inCaption(Token &t);
    bool inColumnGroup(Token &t);
    bool inTableBody(Token &t);
    bool inRow(Token &t);
    bool inCell(Token &t);
    bool inTemplate(Token &t);
    bool afterBody(Token &t);
    bool backToBody(Token &t);
    bool inFrameset(Token &t);
    bool afterFrameset(Token &t);
    bool afterAfterBody(Token &t);
    bool afterAfterFrameset(Token &t);
    void flushTableText();
    void nonCharToken(); // a comment or doctype: ends pending table text

    // Elements
    void insertHtml(const Token &t);
    void insertSynthetic(Tag tag);
    void insertForeign(const Token &t, Ns ns);
    void insertElement(Tag tag, Ns ns, std::uint64_t name, std::int64_t href, bool linkable,
                       bool integration);
    void checkFoster();
    void emitLink(std::int64_t href, std::size_t at);
    std::int64_t tokenHref();
    std::uint64_t attributesHash();
    void push(const Element &e);
    void pop();
    void removeAt(std::size_t index);
    bool isOpen(std::uint32_t id) const { return m_open[id] != 0; }
    Element &current() { return m_stack.back(); }
    bool currentIs(Tag tag) const {
        return !m_stack.empty() && m_stack.back().ns == Ns::Html && m_stack.back().tag == tag;
    }
    bool currentIn(const TagSet &set) const {
        return !m_stack.empty() && m_stack.back().ns == Ns::Html && in(set, m_stack.back().tag);
    }
    bool inScope(Tag tag, Scope scope);
    bool inScopeAny(const TagSet &set, Scope scope);
    bool isBoundary(const Element &e, Scope scope) const;
    void popUntil(Tag tag);
    void popUntilAny(const TagSet &set);
    void generateImpliedEndTags(Tag except = Tag::Other, std::uint64_t exceptName = 0);
    void generateImpliedEndTagsThoroughly();
    void closeP();
    void clearToLastMarker();
    void pushFormatting(const Token &t, std::int64_t href);
    void reconstruct();
    bool adoptionAgency(const Token &t); // false: act as any other end tag
    void anyOtherEndTag(const Token &t);
    void resetInsertionMode();
    void clearStackBackTo(const TagSet &set);
    void closeCell();
    void rawTextElement(const Token &t, bool rcdata);
    // The scan goes on, as if the content stayed where it is, so that its reading is complete
    // when a tree builder would cost too much.
    void giveUp(const char *reason) {
        if (m_out.outcome == LinkScan::Outcome::Exact) {
            m_out.outcome = LinkScan::Outcome::NeedsTree;
            m_out.reason = reason;
        }
    }
    bool spend(std::uint64_t work) {
        m_work += work;
        if (m_work <= m_budget)
            return true;
        if (m_out.outcome == LinkScan::Outcome::Exact)
            m_out.outcome = LinkScan::Outcome::TooCostly;
        m_done = true;
        return false;
    }

    enum class TextState : std::uint8_t { Data, RcData, RawText, Script, PlainText };

    const char *m_begin;
    const char *m_p;
    const char *m_end;
    const std::atomic<bool> *m_stopFlag;
    LinkScan &m_out;
    const TagTable &m_tags;
    bool m_done = false;
    TextState m_textState = TextState::Data;
    Tag m_rawTag = Tag::Other;     // the element whose end tag ends RCDATA, RAWTEXT or script
    bool m_skipNewline = false;    // after pre, listing, textarea
    bool m_sawEmptyEndTag = false; // "</>" somewhere before
    bool m_tagNameThenEnd = false; // the last tag's name was followed by its '>'
    std::vector<Attr> m_attrs;
    std::vector<char> m_textScratch;
    std::vector<char> m_valueScratch;
    unsigned m_tagsSinceCheck = 0;

    Mode m_mode = Mode::Initial;
    Mode m_originalMode = Mode::Initial;
    std::vector<Mode> m_templateModes;
    std::vector<Element> m_stack;
    std::vector<FormattingEntry> m_formatting;
    std::vector<std::uint8_t> m_open;               // by element id: whether it is on the stack
    std::array<std::uint32_t, tagCount> m_counts{}; // HTML elements on the stack, by tag
    // HTML elements of names not in Tag on the stack, by name, so that the end tag of one
    // that is not open costs no walk down the stack.
    std::unordered_map<std::uint64_t, std::uint32_t> m_otherNames;
    std::uint32_t m_nextId = 1;
    bool m_haveHead = false;
    Element m_head{};
    std::uint32_t m_formId = 0; // the form element pointer; 0 when none
    bool m_framesetOk = true;
    bool m_framesetOkClearedByEndBr = false;
    bool m_fostering = false;
    bool m_forceHtml = false; // the next step uses the insertion mode's rules for HTML content
    Quirks m_quirks = Quirks::Yes;
    bool m_quirksByPublicId = false; // quirks mode from the DOCTYPE's identifiers alone
    bool m_pendingNonSpace = false;  // in table text

    std::vector<HrefRef> m_hrefPool;   // every href read, by index
    std::vector<std::int64_t> m_links; // indexes into m_hrefPool, in tree order
    std::int64_t m_base = -1;
    bool m_baseInBody = false;
    std::uint64_t m_work = 0;
    std::uint64_t m_budget;
};

// ---------------------------------------------------------------------------------------------
// Tokenizer

void Scanner::run() {
    while (!m_done) {
        if (m_p >= m_end) {
            Token eof{Token::Eof};
            process(eof);
            break;
        }
        switch (m_textState) {
        case TextState::Data:
            data();
            break;
        case TextState::RcData:
        case TextState::RawText:
            rawText();
            break;
        case TextState::Script:
            scriptData();
            break;
        case TextState::PlainText:
            chars(m_p, m_end);
            m_p = m_end;
            break;
        }
        if (++m_tagsSinceCheck == 256) {
            m_tagsSinceCheck = 0;
            if (m_stopFlag && m_stopFlag->load(std::memory_order_relaxed)) {
                m_out.outcome = LinkScan::Outcome::Stopped;
                return;
            }
        }
    }
}

void Scanner::data() {
    const char *lt = static_cast<const char *>(std::memchr(m_p, '<', std::size_t(m_end - m_p)));
    if (!lt) {
        chars(m_p, m_end);
        m_p = m_end;
        return;
    }
    if (lt > m_p)
        chars(m_p, lt);
    m_p = lt + 1;
    tagOpen(lt);
}

void Scanner::tagOpen(const char *lt) {
    if (m_p == m_end) {
        chars(lt, m_p);
        return;
    }
    const unsigned char c = static_cast<unsigned char>(*m_p);
    if (c == '!') {
        ++m_p;
        markupDeclaration();
    } else if (c == '/') {
        ++m_p;
        endTagOpen(lt);
    } else if (isAlpha(c)) {
        tag(false);
    } else if (c == '?') {
        comment(); // a bogus comment, the '?' its first character
    } else {
        chars(lt, m_p);
    }
}

void Scanner::endTagOpen(const char *lt) {
    if (m_p == m_end) {
        chars(lt, m_p);
        return;
    }
    const unsigned char c = static_cast<unsigned char>(*m_p);
    if (isAlpha(c)) {
        tag(true);
    } else if (c == '>') {
        // Nothing at all; gumbo then misreads the names of foreign elements around it.
        ++m_p;
        m_sawEmptyEndTag = true;
        if (adjustedCurrentIsForeign())
            m_out.fallbackDiffers = true;
    } else {
        comment();
    }
}

// A bogus comment from m_p to the next '>'.
void Scanner::comment() {
    const char *gt = static_cast<const char *>(std::memchr(m_p, '>', std::size_t(m_end - m_p)));
    m_p = gt ? gt + 1 : m_end;
    nonCharToken();
}

// At the first letter of a tag name; reads the whole tag and hands it on. A tag cut off by
// the end of the page is no tag at all.
void Scanner::tag(bool end) {
    const char *p = m_p;
    NameHash name;
    while (p < m_end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (isSpace(c) || c == '/' || c == '>')
            break;
        name.add(c);
        ++p;
    }
    m_attrs.clear();
    m_tagNameThenEnd = p < m_end && *p == '>';
    bool selfClosing = false;
    bool repeated = false;
    for (;;) {
        while (p < m_end && isSpace(static_cast<unsigned char>(*p)))
            ++p;
        if (p == m_end) {
            m_p = m_end;
            return;
        }
        if (*p == '/') {
            ++p;
            if (p == m_end) {
                m_p = m_end;
                return;
            }
            if (*p == '>') {
                selfClosing = true;
                ++p;
                break;
            }
            continue;
        }
        if (*p == '>') {
            ++p;
            break;
        }
        // An attribute name; a '=' at its start is part of it.
        NameHash attrName;
        if (*p == 0)
            m_out.fallbackDiffers = true; // gumbo drops a U+0000 there
        attrName.add(static_cast<unsigned char>(*p));
        ++p;
        while (p < m_end) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (isSpace(c) || c == '/' || c == '>' || c == '=')
                break;
            attrName.add(c);
            ++p;
        }
        while (p < m_end && isSpace(static_cast<unsigned char>(*p)))
            ++p;
        const char *value = p;
        std::uint32_t length = 0;
        if (p < m_end && *p == '=') {
            ++p;
            while (p < m_end && isSpace(static_cast<unsigned char>(*p)))
                ++p;
            if (p == m_end) {
                m_p = m_end;
                return;
            }
            if (*p == '"' || *p == '\'') {
                const char *close =
                    static_cast<const char *>(std::memchr(p + 1, *p, std::size_t(m_end - p - 1)));
                if (!close) {
                    m_p = m_end;
                    return;
                }
                value = p + 1;
                length = std::uint32_t(close - value);
                p = close + 1;
            } else {
                value = p;
                while (p < m_end && !isSpace(static_cast<unsigned char>(*p)) && *p != '>')
                    ++p;
                length = std::uint32_t(p - value);
            }
        }
        bool duplicate = false;
        for (const Attr &a : m_attrs)
            duplicate = duplicate || a.name == attrName.h;
        // gumbo keeps a repeated name in its buffer and prefixes it to the next attribute's
        // name, repeated or not (`<a hr hr/ef=x>` has an href there).
        if (repeated && !end)
            m_out.fallbackDiffers = true;
        if (duplicate)
            repeated = true;
        if (!duplicate && !end) {
            AttrKind kind = AttrKind::Other;
            static const std::uint64_t href = hashOf("href"), type = hashOf("type"),
                                       encoding = hashOf("encoding"), color = hashOf("color"),
                                       face = hashOf("face"), size = hashOf("size");
            if (attrName.h == href)
                kind = AttrKind::Href;
            else if (attrName.h == type)
                kind = AttrKind::Type;
            else if (attrName.h == encoding)
                kind = AttrKind::Encoding;
            else if (attrName.h == color)
                kind = AttrKind::Color;
            else if (attrName.h == face)
                kind = AttrKind::Face;
            else if (attrName.h == size)
                kind = AttrKind::Size;
            m_attrs.push_back({attrName.h, kind, value, length});
        }
    }
    m_p = p;
    Token t{end ? Token::End : Token::Start};
    t.name = name.h;
    t.tag = m_tags.find(name.h);
    t.selfClosing = selfClosing && !end;
    if (!end)
        m_out.nestingWork += m_stack.size();
    process(t);
}

// RCDATA and RAWTEXT: nothing is markup up to the end tag of the element that began it.
void Scanner::rawText() {
    const std::string_view name = tagNames[std::size_t(m_rawTag)];
    const char *q = m_p;
    for (;;) {
        const char *lt = static_cast<const char *>(std::memchr(q, '<', std::size_t(m_end - q)));
        if (!lt) {
            m_p = m_end;
            return;
        }
        const char *after = lt + 2 + name.size();
        if (after < m_end && lt[1] == '/' && startsWithNoCase(lt + 2, m_end, name) &&
            (isSpace(static_cast<unsigned char>(*after)) || *after == '/' || *after == '>')) {
            m_p = lt + 2;
            m_textState = TextState::Data;
            tag(true);
            return;
        }
        q = lt + 1;
    }
}

// Script data with its escaped and double-escaped states: only the end tag of the script ends
// it, and not inside "<!--<script>...</script>" text.
void Scanner::scriptData() {
    enum State {
        Plain,
        Escaped,
        EscapedDash,
        EscapedDashDash,
        DoubleEscaped,
        DoubleEscapedDash,
        DoubleEscapedDashDash,
    } state = Plain;
    const char *p = m_p;
    // Whether [q, end) holds "script" followed by whitespace, '/' or '>'.
    const auto scriptWordAt = [this](const char *q) {
        return startsWithNoCase(q, m_end, "script") && q + 6 < m_end &&
               (isSpace(static_cast<unsigned char>(q[6])) || q[6] == '/' || q[6] == '>');
    };
    while (p < m_end) {
        const char c = *p;
        switch (state) {
        case Plain:
            if (c == '<') {
                if (p + 1 < m_end && p[1] == '/' && scriptWordAt(p + 2)) {
                    m_p = p + 2;
                    m_textState = TextState::Data;
                    tag(true);
                    return;
                }
                if (p + 3 < m_end && p[1] == '!' && p[2] == '-' && p[3] == '-') {
                    state = EscapedDashDash;
                    p += 4;
                    continue;
                }
            }
            ++p;
            break;
        case Escaped:
        case EscapedDash:
        case EscapedDashDash:
            if (c == '-') {
                state = state == Escaped ? EscapedDash : EscapedDashDash;
                ++p;
            } else if (c == '<') {
                if (p + 1 < m_end && p[1] == '/' && scriptWordAt(p + 2)) {
                    m_p = p + 2;
                    m_textState = TextState::Data;
                    tag(true);
                    return;
                }
                state = Escaped;
                if (scriptWordAt(p + 1)) {
                    state = DoubleEscaped;
                    p += 8;
                } else {
                    ++p;
                }
            } else if (c == '>' && state == EscapedDashDash) {
                state = Plain;
                ++p;
            } else {
                state = Escaped;
                ++p;
            }
            break;
        case DoubleEscaped:
        case DoubleEscapedDash:
        case DoubleEscapedDashDash:
            if (c == '-') {
                state = state == DoubleEscaped ? DoubleEscapedDash : DoubleEscapedDashDash;
                ++p;
            } else if (c == '<') {
                state = DoubleEscaped;
                if (p + 1 < m_end && p[1] == '/' && scriptWordAt(p + 2)) {
                    state = Escaped;
                    p += 9;
                } else {
                    ++p;
                }
            } else if (c == '>' && state == DoubleEscapedDashDash) {
                state = Plain;
                ++p;
            } else {
                state = DoubleEscaped;
                ++p;
            }
            break;
        }
    }
    m_p = m_end;
}

void Scanner::markupDeclaration() {
    if (m_end - m_p >= 2 && m_p[0] == '-' && m_p[1] == '-') {
        const char *p = m_p + 2;
        if (p < m_end && *p == '>') {
            m_p = p + 1;
        } else if (m_end - p >= 2 && p[0] == '-' && p[1] == '>') {
            m_p = p + 2;
        } else {
            m_p = m_end;
            while (p < m_end) {
                const char *dash =
                    static_cast<const char *>(std::memchr(p, '-', std::size_t(m_end - p)));
                if (!dash || dash + 1 >= m_end)
                    break;
                if (dash[1] != '-') {
                    p = dash + 1;
                    continue;
                }
                const char *r = dash + 2;
                while (r < m_end && *r == '-')
                    ++r;
                if (r < m_end && *r == '>') {
                    m_p = r + 1;
                    break;
                }
                if (m_end - r >= 2 && r[0] == '!' && r[1] == '>') {
                    m_p = r + 2;
                    break;
                }
                p = r;
            }
        }
        nonCharToken();
        return;
    }
    if (startsWithNoCase(m_p, m_end, "doctype")) {
        m_p += 7;
        doctype();
        return;
    }
    if (m_end - m_p >= 7 && std::memcmp(m_p, "[CDATA[", 7) == 0 && adjustedCurrentIsForeign()) {
        const char *b = m_p + 7;
        const std::string_view rest(b, std::size_t(m_end - b));
        const std::size_t close = rest.find("]]>");
        const char *e = close == std::string_view::npos ? m_end : b + close;
        m_p = close == std::string_view::npos ? m_end : e + 3;
        if (e > b) {
            Token t{Token::Chars};
            t.text = b;
            t.textEnd = e;
            process(t);
        }
        return;
    }
    comment();
}

// A DOCTYPE's name and identifiers decide the quirks mode; every DOCTYPE state ends at '>'.
void Scanner::doctype() {
    const char *p = m_p;
    const char *gt = static_cast<const char *>(std::memchr(p, '>', std::size_t(m_end - p)));
    const char *end = gt ? gt : m_end;
    m_p = gt ? gt + 1 : m_end;
    if (m_mode == Mode::InTableText)
        flushTableText();
    if (m_mode != Mode::Initial)
        return;
    m_mode = Mode::BeforeHtml;

    bool forceQuirks = !gt;
    const auto skipSpace = [&] {
        while (p < end && isSpace(static_cast<unsigned char>(*p)))
            ++p;
    };
    skipSpace();
    const char *nameBegin = p;
    while (p < end && !isSpace(static_cast<unsigned char>(*p)))
        ++p;
    const std::string_view name(nameBegin, std::size_t(p - nameBegin));
    std::optional<std::string_view> publicId, systemId;
    // Reads a quoted identifier; false when it is missing or runs into the '>'.
    const auto quoted = [&](std::optional<std::string_view> &id) {
        skipSpace();
        if (p == end || (*p != '"' && *p != '\''))
            return false;
        const char quote = *p++;
        const char *b = p;
        while (p < end && *p != quote)
            ++p;
        id = std::string_view(b, std::size_t(p - b));
        if (p == end)
            return false;
        ++p;
        return true;
    };
    if (name.empty()) {
        forceQuirks = true;
    } else {
        skipSpace();
        if (p < end) {
            if (startsWithNoCase(p, end, "public")) {
                p += 6;
                if (!quoted(publicId)) {
                    forceQuirks = true;
                } else {
                    skipSpace();
                    if (p < end && (*p == '"' || *p == '\'')) {
                        if (!quoted(systemId))
                            forceQuirks = true;
                    } else if (p < end) {
                        forceQuirks = true;
                    }
                }
            } else if (startsWithNoCase(p, end, "system")) {
                p += 6;
                if (!quoted(systemId))
                    forceQuirks = true;
            } else {
                forceQuirks = true;
            }
        }
    }
    if (forceQuirks || !equalsNoCase(name, "html")) {
        m_quirks = Quirks::Yes;
        return;
    }
    if (!publicId && (!systemId || equalsNoCase(*systemId, "about:legacy-compat"))) {
        m_quirks = Quirks::No;
        return;
    }
    // The common public identifiers; any other is decided only if it ever matters.
    const std::string_view pub = publicId ? *publicId : std::string_view();
    const auto pubStarts = [&](std::string_view prefix) {
        return startsWithNoCase(pub.data(), pub.data() + pub.size(), prefix);
    };
    if (pubStarts("-//w3c//dtd xhtml 1.0 frameset//") ||
        pubStarts("-//w3c//dtd xhtml 1.0 transitional//")) {
        m_quirks = Quirks::No; // limited quirks, which parses as no quirks
    } else if (pubStarts("-//w3c//dtd html 4.01 frameset//") ||
               pubStarts("-//w3c//dtd html 4.01 transitional//")) {
        m_quirks = systemId ? Quirks::No : Quirks::Yes;
        m_quirksByPublicId = !systemId;
    } else if (publicId && (equalsNoCase(pub, "-//w3c//dtd html 4.01//en") ||
                            equalsNoCase(pub, "-//w3c//dtd xhtml 1.0 strict//en") ||
                            equalsNoCase(pub, "-//w3c//dtd xhtml 1.1//en"))) {
        m_quirks = Quirks::No;
    } else {
        m_quirks = Quirks::Unknown;
    }
}

void Scanner::chars(const char *b, const char *e) {
    Token t{Token::Chars};
    // The common case needs no look at the characters beyond their first.
    if (m_mode == Mode::InBody && !m_framesetOk && !m_stack.empty() &&
        m_stack.back().ns == Ns::Html && !m_skipNewline) {
        for (const char *p = b; p < e; ++p) {
            if (*p != 0) {
                reconstruct();
                return;
            }
        }
        return;
    }
    if (std::memchr(b, '&', std::size_t(e - b))) {
        m_textScratch.clear();
        if (decodeText(b, e, false, m_textScratch))
            m_out.fallbackDiffers = true;
        b = m_textScratch.data();
        e = b + m_textScratch.size();
    }
    if (m_skipNewline) {
        m_skipNewline = false;
        if (b < e && *b == '\n')
            ++b;
        else if (b < e && *b == '\r')
            b += (e - b >= 2 && b[1] == '\n') ? 2 : 1;
        if (b == e)
            return;
    }
    t.text = b;
    t.textEnd = e;
    process(t);
}

bool Scanner::attrIs(AttrKind kind, std::string_view lowerValue) {
    const Attr *a = attr(kind);
    if (!a)
        return false;
    return equalsNoCase(attrValue(*a, m_valueScratch), lowerValue);
}

std::string_view Scanner::attrValue(const Attr &a, std::vector<char> &scratch) {
    if (!needsDecoding(a.value, a.value + a.length))
        return std::string_view(a.value, a.length);
    scratch.clear();
    if (decodeText(a.value, a.value + a.length, true, scratch))
        m_out.fallbackDiffers = true;
    return std::string_view(scratch.data(), scratch.size());
}

// ---------------------------------------------------------------------------------------------
// Elements

void Scanner::push(const Element &e) {
    m_stack.push_back(e);
    if (e.ns == Ns::Html)
        ++m_counts[std::size_t(e.tag)];
    if (e.ns == Ns::Html && e.tag == Tag::Other)
        ++m_otherNames[e.name];
    if (e.id >= m_open.size())
        m_open.resize(e.id + 1);
    m_open[e.id] = 1;
}

void Scanner::pop() {
    const Element &e = m_stack.back();
    if (e.ns == Ns::Html)
        --m_counts[std::size_t(e.tag)];
    if (e.ns == Ns::Html && e.tag == Tag::Other)
        --m_otherNames[e.name];
    m_open[e.id] = 0;
    m_stack.pop_back();
}

void Scanner::removeAt(std::size_t index) {
    const Element &e = m_stack[index];
    if (e.ns == Ns::Html)
        --m_counts[std::size_t(e.tag)];
    if (e.ns == Ns::Html && e.tag == Tag::Other)
        --m_otherNames[e.name];
    m_open[e.id] = 0;
    m_stack.erase(m_stack.begin() + std::ptrdiff_t(index));
    spend(m_stack.size() - index);
}

// Content inserted while foster parenting is on, into a table, goes before the table: the
// order of links would need the tree.
void Scanner::checkFoster() {
    if (m_fostering && m_counts[std::size_t(Tag::template_)] == 0 && currentIn(tableish))
        giveUp("content foster-parented out of a table");
}

std::int64_t Scanner::tokenHref() {
    const Attr *a = attr(AttrKind::Href);
    if (!a)
        return -1;
    HrefRef ref;
    if (!needsDecoding(a->value, a->value + a->length)) {
        ref = {std::uint32_t(a->value - m_begin), a->length, false};
    } else {
        std::vector<char> &out = m_out.decoded;
        const std::size_t start = out.size();
        if (decodeText(a->value, a->value + a->length, true, out))
            m_out.fallbackDiffers = true;
        ref = {std::uint32_t(start), std::uint32_t(out.size() - start), true};
    }
    m_hrefPool.push_back(ref);
    return std::int64_t(m_hrefPool.size() - 1);
}

void Scanner::emitLink(std::int64_t href, std::size_t at) {
    m_links.insert(m_links.begin() + std::ptrdiff_t(at), href);
    if (at + 1 != m_links.size())
        spend(m_links.size() - at);
}

void Scanner::insertElement(Tag tag, Ns ns, std::uint64_t name, std::int64_t href, bool linkable,
                            bool integration) {
    checkFoster();
    const bool documentPart = m_counts[std::size_t(Tag::template_)] == 0;
    if (linkable && href >= 0 && documentPart && ns == Ns::Html) {
        if (tag == Tag::base) {
            if (m_base < 0) {
                m_base = href;
                m_baseInBody = m_counts[std::size_t(Tag::body)] > 0;
            }
        } else {
            emitLink(href, m_links.size());
        }
    }
    push({m_nextId++, tag, ns, integration, name, std::uint32_t(m_links.size())});
}

void Scanner::insertHtml(const Token &t) {
    const bool linkable = t.tag == Tag::a || t.tag == Tag::area || t.tag == Tag::base;
    insertElement(t.tag, Ns::Html, t.name, linkable ? tokenHref() : -1, linkable, false);
}

void Scanner::insertSynthetic(Tag tag) {
    insertElement(tag, Ns::Html, hashOf(tagNames[std::size_t(tag)]), -1, false, false);
}

void Scanner::insertForeign(const Token &t, Ns ns) {
    if (m_sawEmptyEndTag)
        m_out.fallbackDiffers = true;
    bool integration = false;
    if (ns == Ns::Svg)
        integration = t.tag == Tag::foreignObject || t.tag == Tag::desc || t.tag == Tag::title;
    else if (ns == Ns::MathMl && t.tag == Tag::annotationXml)
        integration = attrIs(AttrKind::Encoding, "text/html") ||
                      attrIs(AttrKind::Encoding, "application/xhtml+xml");
    insertElement(t.tag, ns, t.name, -1, false, integration);
    if (t.selfClosing && !m_done)
        pop();
}

bool Scanner::isBoundary(const Element &e, Scope scope) const {
    if (e.ns == Ns::Html) {
        switch (e.tag) {
        case Tag::html:
        case Tag::table:
        case Tag::template_:
            return true;
        case Tag::applet:
        case Tag::caption:
        case Tag::td:
        case Tag::th:
        case Tag::marquee:
        case Tag::object:
            return scope != Scope::Table;
        case Tag::ol:
        case Tag::ul:
            return scope == Scope::ListItem;
        case Tag::button:
            return scope == Scope::Button;
        default:
            return false;
        }
    }
    if (scope == Scope::Table)
        return false;
    if (e.ns == Ns::MathMl)
        return e.tag == Tag::mi || e.tag == Tag::mo || e.tag == Tag::mn || e.tag == Tag::ms ||
               e.tag == Tag::mtext || e.tag == Tag::annotationXml;
    return e.tag == Tag::foreignObject || e.tag == Tag::desc || e.tag == Tag::title;
}

bool Scanner::inScope(Tag tag, Scope scope) {
    if (m_counts[std::size_t(tag)] == 0)
        return false;
    for (std::size_t i = m_stack.size(); i-- > 0;) {
        const Element &e = m_stack[i];
        if (e.ns == Ns::Html && e.tag == tag)
            return spend(m_stack.size() - i);
        if (isBoundary(e, scope)) {
            spend(m_stack.size() - i);
            return false;
        }
    }
    return false;
}

bool Scanner::inScopeAny(const TagSet &set, Scope scope) {
    for (std::size_t i = m_stack.size(); i-- > 0;) {
        const Element &e = m_stack[i];
        if (e.ns == Ns::Html && in(set, e.tag))
            return spend(m_stack.size() - i);
        if (isBoundary(e, scope)) {
            spend(m_stack.size() - i);
            return false;
        }
    }
    return false;
}

void Scanner::popUntil(Tag tag) {
    while (!m_stack.empty()) {
        const bool last = currentIs(tag);
        pop();
        if (last)
            return;
    }
}

void Scanner::popUntilAny(const TagSet &set) {
    while (!m_stack.empty()) {
        const bool last = currentIn(set);
        pop();
        if (last)
            return;
    }
}

void Scanner::generateImpliedEndTags(Tag except, std::uint64_t exceptName) {
    while (currentIn(impliedEnd) && current().tag != except &&
           (exceptName == 0 || current().name != exceptName))
        pop();
}

void Scanner::generateImpliedEndTagsThoroughly() {
    while (currentIn(impliedEndThorough))
        pop();
}

void Scanner::closeP() {
    generateImpliedEndTags(Tag::p);
    popUntil(Tag::p);
}

void Scanner::clearToLastMarker() {
    while (!m_formatting.empty()) {
        const bool marker = m_formatting.back().id == 0;
        m_formatting.pop_back();
        if (marker)
            return;
    }
}

std::uint64_t Scanner::attributesHash() {
    std::uint64_t sum = 0;
    for (const Attr &a : m_attrs) {
        std::uint64_t h = a.name;
        for (const char c : attrValue(a, m_valueScratch))
            h = hashByte(h, static_cast<unsigned char>(c));
        sum += h * 0x9E3779B97F4A7C15ull;
    }
    return sum + m_attrs.size();
}

void Scanner::pushFormatting(const Token &t, std::int64_t href) {
    const std::uint64_t attributes = attributesHash();
    int same = 0;
    std::size_t earliest = 0;
    for (std::size_t i = m_formatting.size(); i-- > 0;) {
        const FormattingEntry &f = m_formatting[i];
        if (f.id == 0)
            break;
        if (f.tag == t.tag && f.name == t.name && f.attributes == attributes) {
            ++same;
            earliest = i;
        }
    }
    spend(m_formatting.size());
    if (same >= 3)
        m_formatting.erase(m_formatting.begin() + std::ptrdiff_t(earliest));
    m_formatting.push_back({current().id, t.tag, t.name, attributes, href});
}

void Scanner::reconstruct() {
    if (m_formatting.empty())
        return;
    std::size_t i = m_formatting.size() - 1;
    if (m_formatting[i].id == 0 || isOpen(m_formatting[i].id))
        return;
    while (i > 0) {
        --i;
        if (m_formatting[i].id == 0 || isOpen(m_formatting[i].id)) {
            ++i;
            break;
        }
    }
    spend(m_formatting.size() - i);
    for (; i < m_formatting.size() && !m_done; ++i) {
        FormattingEntry &f = m_formatting[i];
        insertElement(f.tag, Ns::Html, f.name, f.href, f.tag == Tag::a, false);
        f.id = current().id;
    }
}

// The adoption agency algorithm, on the stack and the list alone. Returns false when the
// token is to be handled as any other end tag.
bool Scanner::adoptionAgency(const Token &t) {
    if (currentIs(t.tag)) {
        const std::uint32_t id = current().id;
        bool listed = false;
        for (const FormattingEntry &f : m_formatting)
            listed = listed || f.id == id;
        spend(m_formatting.size());
        if (!listed) {
            pop();
            return true;
        }
    }
    for (int outer = 0; outer < 8; ++outer) {
        std::size_t fe = m_formatting.size();
        for (std::size_t i = m_formatting.size(); i-- > 0;) {
            if (m_formatting[i].id == 0)
                break;
            if (m_formatting[i].tag == t.tag) {
                fe = i;
                break;
            }
        }
        spend(m_formatting.size());
        if (fe == m_formatting.size())
            return false;
        const std::uint32_t feId = m_formatting[fe].id;
        if (!isOpen(feId)) {
            m_formatting.erase(m_formatting.begin() + std::ptrdiff_t(fe));
            return true;
        }
        std::size_t feIndex = m_stack.size();
        while (feIndex-- > 0 && m_stack[feIndex].id != feId) {
        }
        spend(m_stack.size() - feIndex);
        // In scope: no boundary between it and the current node.
        for (std::size_t i = feIndex + 1; i < m_stack.size(); ++i) {
            if (isBoundary(m_stack[i], Scope::Default))
                return true;
        }
        std::size_t fb = feIndex + 1;
        while (fb < m_stack.size() &&
               !(m_stack[fb].ns == Ns::Html ? in(specialHtml, m_stack[fb].tag)
                                            : isBoundary(m_stack[fb], Scope::Default)))
            ++fb;
        if (fb == m_stack.size()) {
            while (m_stack.size() > feIndex)
                pop();
            m_formatting.erase(m_formatting.begin() + std::ptrdiff_t(fe));
            return true;
        }
        const Element &commonAncestor = m_stack[feIndex - 1];
        if (m_fostering && commonAncestor.ns == Ns::Html && in(tableish, commonAncestor.tag) &&
            m_counts[std::size_t(Tag::template_)] == 0) {
            giveUp("misnested formatting moved into a table's foster parent");
            return true;
        }
        const std::uint32_t fbId = m_stack[fb].id;
        std::size_t bookmark = fe;
        std::size_t node = fb;
        std::uint32_t lastNodeId = fbId;
        std::vector<std::int64_t> clonedLinks; // innermost first
        for (int inner = 1;; ++inner) {
            --node;
            if (m_stack[node].id == feId)
                break;
            std::size_t entry = m_formatting.size();
            for (std::size_t i = 0; i < m_formatting.size(); ++i) {
                if (m_formatting[i].id == m_stack[node].id)
                    entry = i;
            }
            spend(m_formatting.size());
            if (inner > 3 && entry < m_formatting.size()) {
                m_out.fallbackDiffers = true; // gumbo leaves such an element open
                m_formatting.erase(m_formatting.begin() + std::ptrdiff_t(entry));
                if (entry < bookmark)
                    --bookmark;
                if (entry < fe)
                    --fe;
                entry = m_formatting.size();
            }
            if (entry == m_formatting.size()) {
                removeAt(node);
                --fb;
                continue;
            }
            FormattingEntry &f = m_formatting[entry];
            const std::uint32_t cloneId = m_nextId++;
            m_open[m_stack[node].id] = 0;
            m_stack[node].id = cloneId;
            if (cloneId >= m_open.size())
                m_open.resize(cloneId + 1);
            m_open[cloneId] = 1;
            f.id = cloneId;
            if (f.tag == Tag::a && f.href >= 0)
                clonedLinks.push_back(f.href);
            if (lastNodeId == fbId)
                bookmark = entry + 1;
            lastNodeId = cloneId;
        }
        const bool documentPart = m_counts[std::size_t(Tag::template_)] == 0;
        // The clones stand, outermost first, before the furthest block's contents, and the new
        // formatting element first among those contents.
        const FormattingEntry feEntry = m_formatting[fe];
        const std::size_t at = m_stack[fb].linkMark;
        std::uint32_t added = 0;
        if (documentPart) {
            for (auto it = clonedLinks.rbegin(); it != clonedLinks.rend(); ++it)
                emitLink(*it, at + added++);
        }
        for (std::size_t i = fb; i < m_stack.size(); ++i)
            m_stack[i].linkMark += added;
        std::uint32_t newLinkMark = std::uint32_t(at + added);
        if (documentPart && feEntry.tag == Tag::a && feEntry.href >= 0) {
            emitLink(feEntry.href, newLinkMark++);
            for (std::size_t i = fb + 1; i < m_stack.size(); ++i)
                ++m_stack[i].linkMark;
        }
        spend(m_stack.size() - fb);
        const std::uint32_t newId = m_nextId++;
        m_formatting.erase(m_formatting.begin() + std::ptrdiff_t(fe));
        if (fe < bookmark)
            --bookmark;
        FormattingEntry newEntry = feEntry;
        newEntry.id = newId;
        m_formatting.insert(m_formatting.begin() + std::ptrdiff_t(bookmark), newEntry);
        removeAt(feIndex);
        --fb;
        push({newId, feEntry.tag, Ns::Html, false, feEntry.name, newLinkMark});
        // push() appended it; it belongs immediately below the furthest block.
        std::rotate(m_stack.begin() + std::ptrdiff_t(fb) + 1, m_stack.end() - 1, m_stack.end());
    }
    // Eight rounds and still misnested: gumbo then also drops the last clone of an `a`.
    m_out.fallbackDiffers = true;
    return true;
}

void Scanner::anyOtherEndTag(const Token &t) {
    if (t.tag == Tag::Other) {
        const auto open = m_otherNames.find(t.name);
        if (open == m_otherNames.end() || open->second == 0) {
            // The walk would end at a special element or the bottom: nothing to close. gumbo
            // would close an element of another name it does not know.
            if (m_counts[std::size_t(Tag::Other)] != 0)
                m_out.fallbackDiffers = true;
            return;
        }
    }
    for (std::size_t i = m_stack.size(); i-- > 0;) {
        const Element &node = m_stack[i];
        if (t.tag == Tag::Other && node.tag == Tag::Other && node.name != t.name)
            m_out.fallbackDiffers = true;
        if (node.ns == Ns::Html && node.name == t.name) {
            spend(m_stack.size() - i);
            generateImpliedEndTags(Tag::Other, t.name);
            while (m_stack.size() > i)
                pop();
            return;
        }
        if (node.ns == Ns::Html ? in(specialHtml, node.tag) : isBoundary(node, Scope::Default)) {
            spend(m_stack.size() - i);
            return;
        }
    }
}

void Scanner::resetInsertionMode() {
    for (std::size_t i = m_stack.size(); i-- > 0;) {
        const Element &node = m_stack[i];
        const bool last = i == 0;
        if (node.ns != Ns::Html) {
            if (last) {
                m_mode = Mode::InBody;
                return;
            }
            continue;
        }
        switch (node.tag) {
        case Tag::td:
        case Tag::th:
            if (!last) {
                m_mode = Mode::InCell;
                return;
            }
            break;
        case Tag::tr:
            m_mode = Mode::InRow;
            return;
        case Tag::tbody:
        case Tag::thead:
        case Tag::tfoot:
            m_mode = Mode::InTableBody;
            return;
        case Tag::caption:
            m_mode = Mode::InCaption;
            return;
        case Tag::colgroup:
            m_mode = Mode::InColumnGroup;
            return;
        case Tag::table:
            m_mode = Mode::InTable;
            return;
        case Tag::template_:
            m_mode = m_templateModes.empty() ? Mode::InBody : m_templateModes.back();
            return;
        case Tag::head:
            if (!last) {
                m_mode = Mode::InHead;
                return;
            }
            break;
        case Tag::body:
            m_mode = Mode::InBody;
            return;
        case Tag::frameset:
            m_mode = Mode::InFrameset;
            return;
        case Tag::html:
            m_mode = m_haveHead ? Mode::AfterHead : Mode::BeforeHead;
            return;
        default:
            break;
        }
        if (last) {
            m_mode = Mode::InBody;
            return;
        }
        spend(1);
    }
    m_mode = Mode::InBody;
}

void Scanner::clearStackBackTo(const TagSet &set) {
    while (!m_stack.empty() && !currentIn(set))
        pop();
}

void Scanner::closeCell() {
    generateImpliedEndTags();
    popUntilAny(cells);
    clearToLastMarker();
    m_mode = Mode::InRow;
}

void Scanner::rawTextElement(const Token &t, bool rcdata) {
    insertHtml(t);
    m_textState = rcdata ? TextState::RcData : TextState::RawText;
    m_rawTag = t.tag;
    m_originalMode = m_mode;
    m_mode = Mode::Text;
}

// ---------------------------------------------------------------------------------------------
// Tree construction

void Scanner::process(Token &t) {
    if (t.kind != Token::Chars)
        m_skipNewline = false;
    for (int guard = 0; guard < 64 && !m_done; ++guard) {
        if (!step(t))
            return;
    }
}

bool Scanner::useHtmlRules(const Token &t) const {
    if (m_stack.empty() || t.kind == Token::Eof)
        return true;
    const Element &n = m_stack.back();
    if (n.ns == Ns::Html)
        return true;
    const bool start = t.kind == Token::Start;
    if (n.ns == Ns::MathMl && (n.tag == Tag::mi || n.tag == Tag::mo || n.tag == Tag::mn ||
                               n.tag == Tag::ms || n.tag == Tag::mtext)) {
        if (t.kind == Token::Chars || (start && t.tag != Tag::mglyph && t.tag != Tag::malignmark))
            return true;
    }
    if (n.ns == Ns::MathMl && n.tag == Tag::annotationXml && start && t.tag == Tag::svg)
        return true;
    return n.htmlIntegration && (start || t.kind == Token::Chars);
}

bool Scanner::step(Token &t) {
    if (m_forceHtml)
        m_forceHtml = false;
    else if (m_mode != Mode::InTableText && !useHtmlRules(t))
        return foreignContent(t);
    switch (m_mode) {
    case Mode::Initial:
        return initial(t);
    case Mode::BeforeHtml:
        return beforeHtml(t);
    case Mode::BeforeHead:
        return beforeHead(t);
    case Mode::InHead:
        return inHead(t);
    case Mode::InHeadNoscript:
        return inHeadNoscript(t);
    case Mode::AfterHead:
        return afterHead(t);
    case Mode::InBody:
        return inBody(t);
    case Mode::Text:
        return textMode(t);
    case Mode::InTable:
        return inTable(t);
    case Mode::InTableText:
        if (t.kind == Token::Chars) {
            for (const char *p = t.text; p < t.textEnd && !m_pendingNonSpace; ++p)
                m_pendingNonSpace = *p != 0 && !isSpace(static_cast<unsigned char>(*p));
            return false;
        }
        flushTableText();
        return true;
    case Mode::InCaption:
        return inCaption(t);
    case Mode::InColumnGroup:
        return inColumnGroup(t);
    case Mode::InTableBody:
        return inTableBody(t);
    case Mode::InRow:
        return inRow(t);
    case Mode::InCell:
        return inCell(t);
    case Mode::InTemplate:
        return inTemplate(t);
    case Mode::AfterBody:
        return afterBody(t);
    case Mode::InFrameset:
        return inFrameset(t);
    case Mode::AfterFrameset:
        return afterFrameset(t);
    case Mode::AfterAfterBody:
        return afterAfterBody(t);
    case Mode::AfterAfterFrameset:
        return afterAfterFrameset(t);
    }
    return false;
}

void Scanner::nonCharToken() {
    if (m_mode == Mode::InTableText)
        flushTableText();
    m_skipNewline = false;
}

void Scanner::flushTableText() {
    m_mode = m_originalMode;
    if (m_pendingNonSpace) {
        m_pendingNonSpace = false;
        m_fostering = true;
        const char x = 'x';
        inBodyChars(&x, &x + 1);
        m_fostering = false;
    }
}

// Splits the whitespace a mode keeps off the front of a character token; true when nothing
// else is left.
bool leadingSpaceOnly(Token &t) {
    while (t.text < t.textEnd && isSpace(static_cast<unsigned char>(*t.text)))
        ++t.text;
    return t.text == t.textEnd;
}

bool isMathTextIntegration(const Element &e) {
    return e.ns == Ns::MathMl && (e.tag == Tag::mi || e.tag == Tag::mo || e.tag == Tag::mn ||
                                  e.tag == Tag::ms || e.tag == Tag::mtext);
}

bool Scanner::foreignContent(Token &t) {
    if (t.kind == Token::Chars) {
        for (const char *p = t.text; p < t.textEnd && m_framesetOk; ++p) {
            if (*p != 0 && !isSpace(static_cast<unsigned char>(*p)))
                m_framesetOk = false;
        }
        return false;
    }
    if (t.kind == Token::Start) {
        const bool breaks = in(breakout, t.tag) ||
                            (t.tag == Tag::font && (attr(AttrKind::Color) || attr(AttrKind::Face) ||
                                                    attr(AttrKind::Size)));
        if (!breaks) {
            insertForeign(t, current().ns);
            return false;
        }
    }
    if (t.kind == Token::Start || t.tag == Tag::br || t.tag == Tag::p) {
        if (t.kind == Token::End)
            m_out.fallbackDiffers = true;
        while (!m_stack.empty() && current().ns != Ns::Html && !isMathTextIntegration(current()) &&
               !current().htmlIntegration)
            pop();
        m_forceHtml = true;
        return true;
    }
    // Any other end tag: it closes the foreign element of its name, if the walk down the stack
    // meets one before an HTML element, which then handles it. gumbo compares the end tag's
    // whole text, so that "</svg >" closes nothing there.
    if (!m_tagNameThenEnd)
        m_out.fallbackDiffers = true;
    for (std::size_t i = m_stack.size() - 1; i > 0; --i) {
        if (m_stack[i].name == t.name) {
            spend(m_stack.size() - i);
            while (m_stack.size() > i)
                pop();
            return false;
        }
        if (m_stack[i - 1].ns == Ns::Html) {
            spend(m_stack.size() - i);
            m_forceHtml = true;
            return true;
        }
    }
    return false;
}

bool Scanner::initial(Token &t) {
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    m_quirks = Quirks::Yes; // no DOCTYPE
    m_mode = Mode::BeforeHtml;
    return true;
}

bool Scanner::beforeHtml(Token &t) {
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    if (t.kind == Token::Start && t.tag == Tag::html) {
        insertHtml(t);
        m_mode = Mode::BeforeHead;
        return false;
    }
    if (t.kind == Token::End && t.tag != Tag::head && t.tag != Tag::body && t.tag != Tag::html &&
        t.tag != Tag::br)
        return false;
    insertSynthetic(Tag::html);
    m_mode = Mode::BeforeHead;
    return true;
}

bool Scanner::beforeHead(Token &t) {
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    if (t.kind == Token::Start && t.tag == Tag::html)
        return inBody(t);
    if (t.kind == Token::Start && t.tag == Tag::head) {
        insertHtml(t);
        m_haveHead = true;
        m_head = current();
        m_mode = Mode::InHead;
        return false;
    }
    if (t.kind == Token::End && t.tag != Tag::head && t.tag != Tag::body && t.tag != Tag::html &&
        t.tag != Tag::br)
        return false;
    insertSynthetic(Tag::head);
    m_haveHead = true;
    m_head = current();
    m_mode = Mode::InHead;
    return true;
}

bool Scanner::inHead(Token &t) {
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    if (t.kind == Token::Start) {
        switch (t.tag) {
        case Tag::html:
            return inBody(t);
        case Tag::base:
        case Tag::basefont:
        case Tag::bgsound:
        case Tag::link:
        case Tag::meta:
            insertHtml(t);
            if (!m_done)
                pop();
            return false;
        case Tag::title:
            rawTextElement(t, true);
            return false;
        case Tag::noframes:
        case Tag::style:
            rawTextElement(t, false);
            return false;
        case Tag::noscript: // scripting disabled, as for a crawler
            insertHtml(t);
            m_mode = Mode::InHeadNoscript;
            return false;
        case Tag::script:
            insertHtml(t);
            m_textState = TextState::Script;
            m_rawTag = Tag::script;
            m_originalMode = m_mode;
            m_mode = Mode::Text;
            return false;
        case Tag::template_:
            insertHtml(t);
            m_formatting.push_back({0, Tag::Other, 0, 0, -1});
            m_framesetOk = false;
            m_mode = Mode::InTemplate;
            m_templateModes.push_back(Mode::InTemplate);
            return false;
        case Tag::head:
            return false;
        default:
            break;
        }
    } else if (t.kind == Token::End) {
        switch (t.tag) {
        case Tag::head:
            pop();
            m_mode = Mode::AfterHead;
            return false;
        case Tag::body:
        case Tag::html:
        case Tag::br:
            break;
        case Tag::template_:
            if (m_counts[std::size_t(Tag::template_)] == 0)
                return false;
            generateImpliedEndTagsThoroughly();
            popUntil(Tag::template_);
            clearToLastMarker();
            if (!m_templateModes.empty())
                m_templateModes.pop_back();
            resetInsertionMode();
            return false;
        default:
            return false;
        }
    }
    pop(); // the head
    m_mode = Mode::AfterHead;
    return true;
}

bool Scanner::inHeadNoscript(Token &t) {
    if (t.kind == Token::Start && t.tag == Tag::html)
        return inBody(t);
    if (t.kind == Token::End && t.tag == Tag::noscript) {
        pop();
        m_mode = Mode::InHead;
        return false;
    }
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    if (t.kind == Token::Start &&
        (t.tag == Tag::basefont || t.tag == Tag::bgsound || t.tag == Tag::link ||
         t.tag == Tag::meta || t.tag == Tag::noframes || t.tag == Tag::style))
        return inHead(t);
    if (t.kind == Token::Start && (t.tag == Tag::head || t.tag == Tag::noscript))
        return false;
    if (t.kind == Token::End && t.tag != Tag::br)
        return false;
    pop(); // the noscript
    m_mode = Mode::InHead;
    return true;
}

bool Scanner::afterHead(Token &t) {
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    if (t.kind == Token::Start) {
        if (t.tag == Tag::html)
            return inBody(t);
        if (t.tag == Tag::body) {
            insertHtml(t);
            m_framesetOk = false;
            m_mode = Mode::InBody;
            return false;
        }
        if (t.tag == Tag::frameset) {
            insertHtml(t);
            m_mode = Mode::InFrameset;
            return false;
        }
        if (in(headContent, t.tag)) {
            // Back into the head for this one element.
            push(m_head);
            const std::uint32_t headId = m_head.id;
            const bool again = inHead(t);
            for (std::size_t i = m_stack.size(); i-- > 0;) {
                if (m_stack[i].id == headId) {
                    removeAt(i);
                    break;
                }
            }
            return again;
        }
        if (t.tag == Tag::head)
            return false;
    } else if (t.kind == Token::End) {
        if (t.tag == Tag::template_)
            return inHead(t);
        if (t.tag != Tag::body && t.tag != Tag::html && t.tag != Tag::br)
            return false;
    }
    insertSynthetic(Tag::body);
    m_mode = Mode::InBody;
    return true;
}

void Scanner::inBodyChars(const char *b, const char *e) {
    bool any = false;
    for (const char *p = b; p < e; ++p) {
        if (*p == 0)
            continue;
        any = true;
        if (!isSpace(static_cast<unsigned char>(*p))) {
            m_framesetOk = false;
            break;
        }
    }
    if (any)
        reconstruct();
}

bool Scanner::inBody(Token &t) {
    switch (t.kind) {
    case Token::Chars:
        inBodyChars(t.text, t.textEnd);
        return false;
    case Token::Eof:
        if (!m_templateModes.empty())
            return inTemplate(t);
        return false;
    case Token::Start:
        return inBodyStart(t);
    case Token::End:
        return inBodyEnd(t);
    }
    return false;
}

bool Scanner::inBodyStart(Token &t) {
    const Tag tag = t.tag;
    static const std::uint64_t isindex = hashOf("isindex");
    if (tag == Tag::select || tag == Tag::search || t.name == isindex)
        m_out.fallbackDiffers = true;
    if (in(closesP, tag)) {
        if (inScope(Tag::p, Scope::Button))
            closeP();
        insertHtml(t);
        return false;
    }
    if (in(headings, tag)) {
        if (inScope(Tag::p, Scope::Button))
            closeP();
        if (currentIn(headings))
            pop();
        insertHtml(t);
        return false;
    }
    if (in(formatting, tag) && tag != Tag::a && tag != Tag::nobr) {
        reconstruct();
        insertHtml(t);
        if (!m_done)
            pushFormatting(t, -1);
        return false;
    }
    switch (tag) {
    case Tag::html:
    case Tag::caption:
    case Tag::col:
    case Tag::colgroup:
    case Tag::frame:
    case Tag::head:
    case Tag::tbody:
    case Tag::td:
    case Tag::tfoot:
    case Tag::th:
    case Tag::thead:
    case Tag::tr:
        return false;
    case Tag::base:
    case Tag::basefont:
    case Tag::bgsound:
    case Tag::link:
    case Tag::meta:
    case Tag::noframes:
    case Tag::script:
    case Tag::style:
    case Tag::template_:
    case Tag::title:
        return inHead(t);
    case Tag::body:
        if (m_stack.size() >= 2 && m_stack[1].ns == Ns::Html && m_stack[1].tag == Tag::body &&
            m_counts[std::size_t(Tag::template_)] == 0)
            m_framesetOk = false;
        return false;
    case Tag::frameset:
        if (m_framesetOkClearedByEndBr)
            m_out.fallbackDiffers = true;
        if (m_stack.size() < 2 || m_stack[1].ns != Ns::Html || m_stack[1].tag != Tag::body ||
            !m_framesetOk)
            return false;
        // The body goes, and with it every link it held.
        m_links.resize(std::min<std::size_t>(m_links.size(), m_stack[1].linkMark));
        if (m_baseInBody)
            m_base = -1;
        while (m_stack.size() > 1)
            pop();
        insertHtml(t);
        m_mode = Mode::InFrameset;
        return false;
    case Tag::pre:
    case Tag::listing:
        if (inScope(Tag::p, Scope::Button))
            closeP();
        insertHtml(t);
        m_skipNewline = true;
        m_framesetOk = false;
        return false;
    case Tag::form:
        if (m_formId != 0 && m_counts[std::size_t(Tag::template_)] == 0)
            return false;
        if (inScope(Tag::p, Scope::Button))
            closeP();
        insertHtml(t);
        if (m_counts[std::size_t(Tag::template_)] == 0 && !m_done)
            m_formId = current().id;
        return false;
    case Tag::li:
    case Tag::dd:
    case Tag::dt: {
        m_framesetOk = false;
        for (std::size_t i = m_stack.size(); i-- > 0;) {
            const Element &node = m_stack[i];
            const bool match = node.ns == Ns::Html &&
                               (tag == Tag::li ? node.tag == Tag::li
                                               : (node.tag == Tag::dd || node.tag == Tag::dt));
            if (match) {
                spend(m_stack.size() - i);
                const Tag closing = node.tag;
                generateImpliedEndTags(closing);
                popUntil(closing);
                break;
            }
            const bool special =
                node.ns == Ns::Html ? in(specialHtml, node.tag) : isBoundary(node, Scope::Default);
            if (special && !(node.ns == Ns::Html && (node.tag == Tag::address ||
                                                     node.tag == Tag::div || node.tag == Tag::p))) {
                spend(m_stack.size() - i);
                break;
            }
        }
        if (inScope(Tag::p, Scope::Button))
            closeP();
        insertHtml(t);
        return false;
    }
    case Tag::plaintext:
        if (inScope(Tag::p, Scope::Button))
            closeP();
        insertHtml(t);
        m_textState = TextState::PlainText;
        return false;
    case Tag::button:
        if (inScope(Tag::button, Scope::Default)) {
            generateImpliedEndTags();
            popUntil(Tag::button);
        }
        reconstruct();
        insertHtml(t);
        m_framesetOk = false;
        return false;
    case Tag::a: {
        for (std::size_t i = m_formatting.size(); i-- > 0;) {
            const FormattingEntry &f = m_formatting[i];
            if (f.id == 0)
                break;
            if (f.tag == Tag::a) {
                const std::uint32_t id = f.id;
                Token end{Token::End, Tag::a, t.name};
                if (!adoptionAgency(end))
                    anyOtherEndTag(end);
                for (std::size_t j = m_formatting.size(); j-- > 0;) {
                    if (m_formatting[j].id == id) {
                        m_formatting.erase(m_formatting.begin() + std::ptrdiff_t(j));
                        break;
                    }
                }
                if (isOpen(id)) {
                    for (std::size_t j = m_stack.size(); j-- > 0;) {
                        if (m_stack[j].id == id) {
                            removeAt(j);
                            break;
                        }
                    }
                }
                spend(m_formatting.size() + m_stack.size());
                break;
            }
        }
        if (m_done)
            return false;
        reconstruct();
        const std::int64_t href = tokenHref();
        insertElement(Tag::a, Ns::Html, t.name, href, true, false);
        if (!m_done)
            pushFormatting(t, href);
        return false;
    }
    case Tag::nobr:
        reconstruct();
        if (inScope(Tag::nobr, Scope::Default)) {
            Token end{Token::End, Tag::nobr, t.name};
            if (!adoptionAgency(end))
                anyOtherEndTag(end);
            reconstruct();
        }
        insertHtml(t);
        if (!m_done)
            pushFormatting(t, -1);
        return false;
    case Tag::applet:
    case Tag::marquee:
    case Tag::object:
        reconstruct();
        insertHtml(t);
        m_formatting.push_back({0, Tag::Other, 0, 0, -1});
        m_framesetOk = false;
        return false;
    case Tag::table:
        if (inScope(Tag::p, Scope::Button)) {
            if (m_quirks == Quirks::Unknown) {
                giveUp("a table in a paragraph under an unusual DOCTYPE");
                return false;
            }
            if (m_quirks == Quirks::No)
                closeP();
            else if (m_quirksByPublicId)
                m_out.fallbackDiffers = true; // older parsers ignored public identifiers here
        }
        insertHtml(t);
        m_framesetOk = false;
        m_mode = Mode::InTable;
        return false;
    case Tag::area:
    case Tag::br:
    case Tag::embed:
    case Tag::img:
    case Tag::image:
    case Tag::keygen:
    case Tag::wbr: {
        reconstruct();
        Token element = t;
        if (tag == Tag::image) {
            element.tag = Tag::img;
            element.name = hashOf("img");
        }
        insertHtml(element);
        if (!m_done)
            pop();
        m_framesetOk = false;
        return false;
    }
    case Tag::input:
        if (inScope(Tag::select, Scope::Default)) {
            popUntil(Tag::select);
        }
        reconstruct();
        insertHtml(t);
        if (!m_done)
            pop();
        if (!attrIs(AttrKind::Type, "hidden"))
            m_framesetOk = false;
        return false;
    case Tag::param:
    case Tag::source:
    case Tag::track:
        insertHtml(t);
        if (!m_done)
            pop();
        return false;
    case Tag::hr:
        if (inScope(Tag::p, Scope::Button))
            closeP();
        if (inScope(Tag::select, Scope::Default)) {
            generateImpliedEndTags();
        }
        insertHtml(t);
        if (!m_done)
            pop();
        m_framesetOk = false;
        return false;
    case Tag::textarea:
        insertHtml(t);
        m_skipNewline = true;
        m_textState = TextState::RcData;
        m_rawTag = Tag::textarea;
        m_originalMode = m_mode;
        m_framesetOk = false;
        m_mode = Mode::Text;
        return false;
    case Tag::xmp:
        if (inScope(Tag::p, Scope::Button))
            closeP();
        reconstruct();
        m_framesetOk = false;
        rawTextElement(t, false);
        return false;
    case Tag::iframe:
        m_framesetOk = false;
        rawTextElement(t, false);
        return false;
    case Tag::noembed:
        rawTextElement(t, false);
        return false;
    case Tag::select:
        if (inScope(Tag::select, Scope::Default)) {
            popUntil(Tag::select);
            return false;
        }
        reconstruct();
        insertHtml(t);
        m_framesetOk = false;
        return false;
    case Tag::optgroup:
    case Tag::option:
        if (inScope(Tag::select, Scope::Default)) {
            generateImpliedEndTags(tag == Tag::option ? Tag::optgroup : Tag::Other);
        } else if (currentIs(Tag::option)) {
            pop();
        }
        reconstruct();
        insertHtml(t);
        return false;
    case Tag::rb:
    case Tag::rtc:
        if (inScope(Tag::ruby, Scope::Default))
            generateImpliedEndTags();
        insertHtml(t);
        return false;
    case Tag::rp:
    case Tag::rt:
        if (inScope(Tag::ruby, Scope::Default))
            generateImpliedEndTags(Tag::rtc);
        insertHtml(t);
        return false;
    case Tag::math:
    case Tag::svg:
        reconstruct();
        insertForeign(t, tag == Tag::math ? Ns::MathMl : Ns::Svg);
        return false;
    default:
        reconstruct();
        insertHtml(t);
        return false;
    }
}

bool Scanner::inBodyEnd(Token &t) {
    const Tag tag = t.tag;
    if (in(closedByEndTag, tag)) {
        if (!inScope(tag, Scope::Default))
            return false;
        generateImpliedEndTags();
        popUntil(tag);
        return false;
    }
    if (in(headings, tag)) {
        if (!inScopeAny(headings, Scope::Default))
            return false;
        generateImpliedEndTags();
        popUntilAny(headings);
        return false;
    }
    if (in(formatting, tag)) {
        if (!adoptionAgency(t))
            anyOtherEndTag(t);
        return false;
    }
    switch (tag) {
    case Tag::template_:
        return inHead(t);
    case Tag::body:
    case Tag::html:
        if (!inScope(Tag::body, Scope::Default))
            return false;
        m_mode = Mode::AfterBody;
        return tag == Tag::html;
    case Tag::form:
        if (m_counts[std::size_t(Tag::template_)] == 0) {
            const std::uint32_t id = m_formId;
            m_formId = 0;
            if (id == 0 || !isOpen(id))
                return false;
            // In scope: no boundary above it.
            std::size_t i = m_stack.size();
            while (i-- > 0 && m_stack[i].id != id) {
                if (isBoundary(m_stack[i], Scope::Default)) {
                    spend(m_stack.size() - i);
                    return false;
                }
            }
            spend(m_stack.size() - i);
            generateImpliedEndTags();
            removeAt(i);
            return false;
        }
        if (!inScope(Tag::form, Scope::Default))
            return false;
        generateImpliedEndTags();
        popUntil(Tag::form);
        return false;
    case Tag::p:
        if (!inScope(Tag::p, Scope::Button)) {
            Token start{Token::Start, Tag::p, t.name};
            m_attrs.clear();
            insertHtml(start);
        }
        if (!m_done)
            closeP();
        return false;
    case Tag::li:
        if (!inScope(Tag::li, Scope::ListItem))
            return false;
        generateImpliedEndTags(Tag::li);
        popUntil(Tag::li);
        return false;
    case Tag::dd:
    case Tag::dt:
        if (!inScope(tag, Scope::Default))
            return false;
        generateImpliedEndTags(tag);
        popUntil(tag);
        return false;
    case Tag::applet:
    case Tag::marquee:
    case Tag::object:
        if (!inScope(tag, Scope::Default))
            return false;
        generateImpliedEndTags();
        popUntil(tag);
        clearToLastMarker();
        return false;
    case Tag::br: {
        Token start{Token::Start, Tag::br, t.name};
        m_attrs.clear();
        // gumbo leaves the frameset-ok flag alone here, so that a frameset after it still
        // replaces the body.
        m_framesetOkClearedByEndBr = m_framesetOkClearedByEndBr || m_framesetOk;
        return inBodyStart(start);
    }
    default:
        anyOtherEndTag(t);
        return false;
    }
}

bool Scanner::textMode(Token &t) {
    if (t.kind == Token::Chars)
        return false;
    if (t.kind == Token::Start)
        return false; // cannot happen: the tokenizer gives none here
    pop();
    m_mode = m_originalMode;
    m_textState = TextState::Data;
    return t.kind == Token::Eof;
}

bool Scanner::inTable(Token &t) {
    if (t.kind == Token::Chars) {
        if (currentIn(tableish) || currentIs(Tag::template_)) {
            m_pendingNonSpace = false;
            m_originalMode = m_mode;
            m_mode = Mode::InTableText;
            return true;
        }
        return inTableAnythingElse(t);
    }
    if (t.kind == Token::Eof)
        return inBody(t);
    const Tag tag = t.tag;
    if (t.kind == Token::Start) {
        switch (tag) {
        case Tag::caption:
            clearStackBackTo(tagSet({Tag::table, Tag::template_, Tag::html}));
            m_formatting.push_back({0, Tag::Other, 0, 0, -1});
            insertHtml(t);
            m_mode = Mode::InCaption;
            return false;
        case Tag::colgroup:
            clearStackBackTo(tagSet({Tag::table, Tag::template_, Tag::html}));
            insertHtml(t);
            m_mode = Mode::InColumnGroup;
            return false;
        case Tag::col:
            clearStackBackTo(tagSet({Tag::table, Tag::template_, Tag::html}));
            insertSynthetic(Tag::colgroup);
            m_mode = Mode::InColumnGroup;
            return true;
        case Tag::tbody:
        case Tag::tfoot:
        case Tag::thead:
            clearStackBackTo(tagSet({Tag::table, Tag::template_, Tag::html}));
            insertHtml(t);
            m_mode = Mode::InTableBody;
            return false;
        case Tag::td:
        case Tag::th:
        case Tag::tr:
            clearStackBackTo(tagSet({Tag::table, Tag::template_, Tag::html}));
            insertSynthetic(Tag::tbody);
            m_mode = Mode::InTableBody;
            return true;
        case Tag::table:
            if (!inScope(Tag::table, Scope::Table))
                return false;
            popUntil(Tag::table);
            resetInsertionMode();
            return true;
        case Tag::style:
        case Tag::script:
        case Tag::template_:
            return inHead(t);
        case Tag::input:
            if (!attrIs(AttrKind::Type, "hidden"))
                break;
            insertHtml(t);
            if (!m_done)
                pop();
            return false;
        case Tag::form:
            if (m_counts[std::size_t(Tag::template_)] != 0 || m_formId != 0)
                return false;
            insertHtml(t);
            if (!m_done) {
                m_formId = current().id;
                pop();
            }
            return false;
        default:
            break;
        }
    } else {
        switch (tag) {
        case Tag::table:
            if (!inScope(Tag::table, Scope::Table))
                return false;
            popUntil(Tag::table);
            resetInsertionMode();
            return false;
        case Tag::body:
        case Tag::caption:
        case Tag::col:
        case Tag::colgroup:
        case Tag::html:
        case Tag::tbody:
        case Tag::td:
        case Tag::tfoot:
        case Tag::th:
        case Tag::thead:
        case Tag::tr:
            return false;
        case Tag::template_:
            return inHead(t);
        default:
            break;
        }
    }
    return inTableAnythingElse(t);
}

bool Scanner::inTableAnythingElse(Token &t) {
    m_fostering = true;
    const bool again = inBody(t);
    m_fostering = false;
    return again;
}

bool Scanner::inCaption(Token &t) {
    const Tag tag = t.tag;
    const bool closes = (t.kind == Token::End && (tag == Tag::caption || tag == Tag::table)) ||
                        (t.kind == Token::Start &&
                         (tag == Tag::caption || tag == Tag::col || tag == Tag::colgroup ||
                          tag == Tag::tbody || tag == Tag::td || tag == Tag::tfoot ||
                          tag == Tag::th || tag == Tag::thead || tag == Tag::tr));
    if (closes) {
        if (!inScope(Tag::caption, Scope::Table))
            return false;
        generateImpliedEndTags();
        popUntil(Tag::caption);
        clearToLastMarker();
        m_mode = Mode::InTable;
        return !(t.kind == Token::End && tag == Tag::caption);
    }
    if (t.kind == Token::End &&
        (tag == Tag::body || tag == Tag::col || tag == Tag::colgroup || tag == Tag::html ||
         tag == Tag::tbody || tag == Tag::td || tag == Tag::tfoot || tag == Tag::th ||
         tag == Tag::thead || tag == Tag::tr))
        return false;
    return inBody(t);
}

bool Scanner::inColumnGroup(Token &t) {
    if (t.kind == Token::Chars && leadingSpaceOnly(t))
        return false;
    if (t.kind == Token::Start) {
        if (t.tag == Tag::html)
            return inBody(t);
        if (t.tag == Tag::col) {
            insertHtml(t);
            if (!m_done)
                pop();
            return false;
        }
        if (t.tag == Tag::template_)
            return inHead(t);
    } else if (t.kind == Token::End) {
        if (t.tag == Tag::colgroup) {
            if (currentIs(Tag::colgroup)) {
                pop();
                m_mode = Mode::InTable;
            }
            return false;
        }
        if (t.tag == Tag::col)
            return false;
        if (t.tag == Tag::template_)
            return inHead(t);
    } else if (t.kind == Token::Eof) {
        return inBody(t);
    }
    if (!currentIs(Tag::colgroup))
        return false;
    pop();
    m_mode = Mode::InTable;
    return true;
}

bool Scanner::inTableBody(Token &t) {
    const Tag tag = t.tag;
    static constexpr TagSet bodyContext =
        tagSet({Tag::tbody, Tag::tfoot, Tag::thead, Tag::template_, Tag::html});
    if (t.kind == Token::Start && tag == Tag::tr) {
        clearStackBackTo(bodyContext);
        insertHtml(t);
        m_mode = Mode::InRow;
        return false;
    }
    if (t.kind == Token::Start && (tag == Tag::th || tag == Tag::td)) {
        clearStackBackTo(bodyContext);
        insertSynthetic(Tag::tr);
        m_mode = Mode::InRow;
        return true;
    }
    if (t.kind == Token::End && in(tableSections, tag)) {
        if (!inScope(tag, Scope::Table))
            return false;
        clearStackBackTo(bodyContext);
        pop();
        m_mode = Mode::InTable;
        return false;
    }
    if ((t.kind == Token::Start && (tag == Tag::caption || tag == Tag::col ||
                                    tag == Tag::colgroup || in(tableSections, tag))) ||
        (t.kind == Token::End && tag == Tag::table)) {
        if (!inScopeAny(tableSections, Scope::Table))
            return false;
        clearStackBackTo(bodyContext);
        pop();
        m_mode = Mode::InTable;
        return true;
    }
    if (t.kind == Token::End &&
        (tag == Tag::body || tag == Tag::caption || tag == Tag::col || tag == Tag::colgroup ||
         tag == Tag::html || tag == Tag::td || tag == Tag::th || tag == Tag::tr))
        return false;
    return inTable(t);
}

bool Scanner::inRow(Token &t) {
    const Tag tag = t.tag;
    static constexpr TagSet rowContext = tagSet({Tag::tr, Tag::template_, Tag::html});
    if (t.kind == Token::Start && in(cells, tag)) {
        clearStackBackTo(rowContext);
        insertHtml(t);
        m_mode = Mode::InCell;
        m_formatting.push_back({0, Tag::Other, 0, 0, -1});
        return false;
    }
    if (t.kind == Token::End && tag == Tag::tr) {
        if (!inScope(Tag::tr, Scope::Table))
            return false;
        clearStackBackTo(rowContext);
        pop();
        m_mode = Mode::InTableBody;
        return false;
    }
    if ((t.kind == Token::Start &&
         (tag == Tag::caption || tag == Tag::col || tag == Tag::colgroup ||
          in(tableSections, tag) || tag == Tag::tr)) ||
        (t.kind == Token::End && tag == Tag::table)) {
        if (!inScope(Tag::tr, Scope::Table))
            return false;
        clearStackBackTo(rowContext);
        pop();
        m_mode = Mode::InTableBody;
        return true;
    }
    if (t.kind == Token::End && in(tableSections, tag)) {
        if (!inScope(tag, Scope::Table) || !inScope(Tag::tr, Scope::Table))
            return false;
        clearStackBackTo(rowContext);
        pop();
        m_mode = Mode::InTableBody;
        return true;
    }
    if (t.kind == Token::End &&
        (tag == Tag::body || tag == Tag::caption || tag == Tag::col || tag == Tag::colgroup ||
         tag == Tag::html || tag == Tag::td || tag == Tag::th))
        return false;
    return inTable(t);
}

bool Scanner::inCell(Token &t) {
    const Tag tag = t.tag;
    if (t.kind == Token::End && in(cells, tag)) {
        if (!inScope(tag, Scope::Table))
            return false;
        generateImpliedEndTags();
        popUntil(tag);
        clearToLastMarker();
        m_mode = Mode::InRow;
        return false;
    }
    if (t.kind == Token::Start && (tag == Tag::caption || tag == Tag::col || tag == Tag::colgroup ||
                                   tag == Tag::tbody || tag == Tag::td || tag == Tag::tfoot ||
                                   tag == Tag::th || tag == Tag::thead || tag == Tag::tr)) {
        if (!inScopeAny(cells, Scope::Table))
            return false;
        closeCell();
        return true;
    }
    if (t.kind == Token::End && (tag == Tag::body || tag == Tag::caption || tag == Tag::col ||
                                 tag == Tag::colgroup || tag == Tag::html))
        return false;
    if (t.kind == Token::End && (tag == Tag::table || in(tableSections, tag) || tag == Tag::tr)) {
        if (!inScope(tag, Scope::Table))
            return false;
        closeCell();
        return true;
    }
    return inBody(t);
}

bool Scanner::inTemplate(Token &t) {
    const Tag tag = t.tag;
    const auto switchTo = [this](Mode mode) {
        if (!m_templateModes.empty())
            m_templateModes.pop_back();
        m_templateModes.push_back(mode);
        m_mode = mode;
        return true;
    };
    switch (t.kind) {
    case Token::Chars:
        return inBody(t);
    case Token::Start:
        if (in(headContent, tag))
            return inHead(t);
        if (tag == Tag::caption || tag == Tag::colgroup || in(tableSections, tag))
            return switchTo(Mode::InTable);
        if (tag == Tag::col)
            return switchTo(Mode::InColumnGroup);
        if (tag == Tag::tr)
            return switchTo(Mode::InTableBody);
        if (in(cells, tag))
            return switchTo(Mode::InRow);
        return switchTo(Mode::InBody);
    case Token::End:
        if (tag == Tag::template_)
            return inHead(t);
        return false;
    case Token::Eof:
        if (m_counts[std::size_t(Tag::template_)] == 0)
            return false;
        popUntil(Tag::template_);
        clearToLastMarker();
        if (!m_templateModes.empty())
            m_templateModes.pop_back();
        resetInsertionMode();
        return true;
    }
    return false;
}

bool Scanner::afterBody(Token &t) {
    if (t.kind == Token::End && t.tag == Tag::html) {
        m_mode = Mode::AfterAfterBody;
        return false;
    }
    return backToBody(t);
}

// What both modes after the body do alike: white space is still body text, and anything else
// but the end of the page goes back to the body.
bool Scanner::backToBody(Token &t) {
    if (t.kind == Token::Chars) {
        const char *b = t.text;
        if (leadingSpaceOnly(t)) {
            inBodyChars(b, t.textEnd);
            return false;
        }
        inBodyChars(b, t.text);
    }
    if (t.kind == Token::Start && t.tag == Tag::html)
        return inBody(t);
    if (t.kind == Token::Eof)
        return false;
    m_mode = Mode::InBody;
    return true;
}

bool Scanner::inFrameset(Token &t) {
    if (t.kind == Token::Start) {
        switch (t.tag) {
        case Tag::html:
            return inBody(t);
        case Tag::frameset:
            insertHtml(t);
            return false;
        case Tag::frame:
            insertHtml(t);
            if (!m_done)
                pop();
            return false;
        case Tag::noframes:
            return inHead(t);
        default:
            return false;
        }
    }
    if (t.kind == Token::End && t.tag == Tag::frameset) {
        if (m_stack.size() <= 1)
            return false;
        pop();
        if (!currentIs(Tag::frameset))
            m_mode = Mode::AfterFrameset;
    }
    return false;
}

bool Scanner::afterFrameset(Token &t) {
    if (t.kind == Token::Start && t.tag == Tag::html)
        return inBody(t);
    if (t.kind == Token::Start && t.tag == Tag::noframes)
        return inHead(t);
    if (t.kind == Token::End && t.tag == Tag::html)
        m_mode = Mode::AfterAfterFrameset;
    return false;
}

bool Scanner::afterAfterBody(Token &t) {
    return backToBody(t);
}

bool Scanner::afterAfterFrameset(Token &t) {
    if (t.kind == Token::Chars) {
        const char *b = t.text;
        leadingSpaceOnly(t);
        if (t.text != b && !m_formatting.empty())
            m_out.fallbackDiffers = true; // gumbo reopens no formatting here
        inBodyChars(b, t.text);
        return false;
    }
    if (t.kind == Token::Start && t.tag == Tag::html)
        return inBody(t);
    if (t.kind == Token::Start && t.tag == Tag::noframes)
        return inHead(t);
    return false;
}

} // namespace

LinkScan scanLinks(std::string_view page, const std::atomic<bool> *stop) {
    LinkScan out;
    std::vector<HrefRef> pool;
    std::vector<std::int64_t> links;
    std::int64_t base = -1;
    {
        Scanner scanner(page, stop, out);
        scanner.run();
        scanner.take(pool, links, base);
    }
    const auto view = [&](const HrefRef &ref) {
        return ref.decoded ? std::string_view(out.decoded.data() + ref.offset, ref.length)
                           : page.substr(ref.offset, ref.length);
    };
    out.hrefs.reserve(links.size());
    for (const std::int64_t link : links)
        out.hrefs.push_back(view(pool[std::size_t(link)]));
    if (base >= 0)
        out.baseHref = view(pool[std::size_t(base)]);
    return out;
}
