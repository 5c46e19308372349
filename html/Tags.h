#pragma once

// The names the link scanner knows, and the sets of them that its rules name.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace linkscan {

// Every tag name that tree construction treats apart from the others.
// clang-format off
#define CORVANE_TAGS(X) \
    X(a,             "a")              \
    X(address,       "address")        \
    X(annotationXml, "annotation-xml") \
    X(applet,        "applet")         \
    X(area,          "area")           \
    X(article,       "article")        \
    X(aside,         "aside")          \
    X(b,             "b")              \
    X(base,          "base")           \
    X(basefont,      "basefont")       \
    X(bgsound,       "bgsound")        \
    X(big,           "big")            \
    X(blockquote,    "blockquote")     \
    X(body,          "body")           \
    X(br,            "br")             \
    X(button,        "button")         \
    X(caption,       "caption")        \
    X(center,        "center")         \
    X(code,          "code")           \
    X(col,           "col")            \
    X(colgroup,      "colgroup")       \
    X(dd,            "dd")             \
    X(desc,          "desc")           \
    X(details,       "details")        \
    X(dialog,        "dialog")         \
    X(dir,           "dir")            \
    X(div,           "div")            \
    X(dl,            "dl")             \
    X(dt,            "dt")             \
    X(em,            "em")             \
    X(embed,         "embed")          \
    X(fieldset,      "fieldset")       \
    X(figcaption,    "figcaption")     \
    X(figure,        "figure")         \
    X(font,          "font")           \
    X(footer,        "footer")         \
    X(foreignObject, "foreignobject")  \
    X(form,          "form")           \
    X(frame,         "frame")          \
    X(frameset,      "frameset")       \
    X(h1,            "h1")             \
    X(h2,            "h2")             \
    X(h3,            "h3")             \
    X(h4,            "h4")             \
    X(h5,            "h5")             \
    X(h6,            "h6")             \
    X(head,          "head")           \
    X(header,        "header")         \
    X(hgroup,        "hgroup")         \
    X(hr,            "hr")             \
    X(html,          "html")           \
    X(i,             "i")              \
    X(iframe,        "iframe")         \
    X(image,         "image")          \
    X(img,           "img")            \
    X(input,         "input")          \
    X(keygen,        "keygen")         \
    X(li,            "li")             \
    X(link,          "link")           \
    X(listing,       "listing")        \
    X(main,          "main")           \
    X(malignmark,    "malignmark")     \
    X(marquee,       "marquee")        \
    X(math,          "math")           \
    X(menu,          "menu")           \
    X(meta,          "meta")           \
    X(mglyph,        "mglyph")         \
    X(mi,            "mi")             \
    X(mn,            "mn")             \
    X(mo,            "mo")             \
    X(ms,            "ms")             \
    X(mtext,         "mtext")          \
    X(nav,           "nav")            \
    X(nobr,          "nobr")           \
    X(noembed,       "noembed")        \
    X(noframes,      "noframes")       \
    X(noscript,      "noscript")       \
    X(object,        "object")         \
    X(ol,            "ol")             \
    X(optgroup,      "optgroup")       \
    X(option,        "option")         \
    X(p,             "p")              \
    X(param,         "param")          \
    X(plaintext,     "plaintext")      \
    X(pre,           "pre")            \
    X(rb,            "rb")             \
    X(rp,            "rp")             \
    X(rt,            "rt")             \
    X(rtc,           "rtc")            \
    X(ruby,          "ruby")           \
    X(s,             "s")              \
    X(script,        "script")         \
    X(search,        "search")         \
    X(section,       "section")        \
    X(select,        "select")         \
    X(small,         "small")          \
    X(source,        "source")         \
    X(span,          "span")           \
    X(strike,        "strike")         \
    X(strong,        "strong")         \
    X(style,         "style")          \
    X(sub,           "sub")            \
    X(summary,       "summary")        \
    X(sup,           "sup")            \
    X(svg,           "svg")            \
    X(table,         "table")          \
    X(tbody,         "tbody")          \
    X(td,            "td")             \
    X(template_,     "template")       \
    X(textarea,      "textarea")       \
    X(tfoot,         "tfoot")          \
    X(th,            "th")             \
    X(thead,         "thead")          \
    X(title,         "title")          \
    X(tr,            "tr")             \
    X(track,         "track")          \
    X(tt,            "tt")             \
    X(u,             "u")              \
    X(ul,            "ul")             \
    X(var,           "var")            \
    X(wbr,           "wbr")            \
    X(xmp,           "xmp")
// clang-format on

enum class Tag : std::uint8_t {
    Other,
#define CORVANE_TAG_ENUM(id, name) id,
    CORVANE_TAGS(CORVANE_TAG_ENUM)
#undef CORVANE_TAG_ENUM
        Count
};
inline constexpr int tagCount = int(Tag::Count);

inline constexpr const char *tagNames[] = {"",
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

inline const TagTable &tagTable() {
    static const TagTable table;
    return table;
}

using TagSet = std::array<bool, tagCount>;

inline constexpr TagSet tagSet(std::initializer_list<Tag> tags) {
    TagSet set{};
    for (Tag t : tags)
        set[std::size_t(t)] = true;
    return set;
}

inline constexpr TagSet specialHtml = tagSet({
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
inline constexpr TagSet formatting =
    tagSet({Tag::a, Tag::b, Tag::big, Tag::code, Tag::em, Tag::font, Tag::i, Tag::nobr, Tag::s,
            Tag::small, Tag::strike, Tag::strong, Tag::tt, Tag::u});
inline constexpr TagSet impliedEnd = tagSet({Tag::dd, Tag::dt, Tag::li, Tag::optgroup, Tag::option,
                                             Tag::p, Tag::rb, Tag::rp, Tag::rt, Tag::rtc});
inline constexpr TagSet impliedEndThorough =
    tagSet({Tag::caption, Tag::colgroup, Tag::dd, Tag::dt, Tag::li, Tag::optgroup, Tag::option,
            Tag::p, Tag::rb, Tag::rp, Tag::rt, Tag::rtc, Tag::tbody, Tag::td, Tag::tfoot, Tag::th,
            Tag::thead, Tag::tr});
inline constexpr TagSet headings = tagSet({Tag::h1, Tag::h2, Tag::h3, Tag::h4, Tag::h5, Tag::h6});
inline constexpr TagSet breakout = tagSet({
    Tag::b,      Tag::big,    Tag::blockquote, Tag::body,    Tag::br,    Tag::center, Tag::code,
    Tag::dd,     Tag::div,    Tag::dl,         Tag::dt,      Tag::em,    Tag::embed,  Tag::h1,
    Tag::h2,     Tag::h3,     Tag::h4,         Tag::h5,      Tag::h6,    Tag::head,   Tag::hr,
    Tag::i,      Tag::img,    Tag::li,         Tag::listing, Tag::menu,  Tag::meta,   Tag::nobr,
    Tag::ol,     Tag::p,      Tag::pre,        Tag::ruby,    Tag::s,     Tag::small,  Tag::span,
    Tag::strong, Tag::strike, Tag::sub,        Tag::sup,     Tag::table, Tag::tt,     Tag::u,
    Tag::ul,     Tag::var,
});
inline constexpr TagSet closesP = tagSet({
    Tag::address,  Tag::article,    Tag::aside,   Tag::blockquote, Tag::center,
    Tag::details,  Tag::dialog,     Tag::dir,     Tag::div,        Tag::dl,
    Tag::fieldset, Tag::figcaption, Tag::figure,  Tag::footer,     Tag::header,
    Tag::hgroup,   Tag::main,       Tag::menu,    Tag::nav,        Tag::ol,
    Tag::p,        Tag::search,     Tag::section, Tag::summary,    Tag::ul,
});
inline constexpr TagSet closedByEndTag = tagSet({
    Tag::address,    Tag::article, Tag::aside,  Tag::blockquote, Tag::button, Tag::center,
    Tag::details,    Tag::dialog,  Tag::dir,    Tag::div,        Tag::dl,     Tag::fieldset,
    Tag::figcaption, Tag::figure,  Tag::footer, Tag::header,     Tag::hgroup, Tag::listing,
    Tag::main,       Tag::menu,    Tag::nav,    Tag::ol,         Tag::pre,    Tag::search,
    Tag::section,    Tag::summary, Tag::ul,
});
inline constexpr TagSet headContent =
    tagSet({Tag::base, Tag::basefont, Tag::bgsound, Tag::link, Tag::meta, Tag::noframes,
            Tag::script, Tag::style, Tag::template_, Tag::title});
// The elements that decide the insertion mode when it is reset.
inline constexpr TagSet resetNames =
    tagSet({Tag::body, Tag::caption, Tag::colgroup, Tag::frameset, Tag::head, Tag::html, Tag::table,
            Tag::tbody, Tag::td, Tag::template_, Tag::tfoot, Tag::th, Tag::thead, Tag::tr});
inline constexpr TagSet tableish =
    tagSet({Tag::table, Tag::tbody, Tag::tfoot, Tag::thead, Tag::tr});
inline constexpr TagSet tableSections = tagSet({Tag::tbody, Tag::tfoot, Tag::thead});
inline constexpr TagSet cells = tagSet({Tag::td, Tag::th});

inline bool in(const TagSet &set, Tag t) {
    return set[std::size_t(t)];
}

} // namespace linkscan
