#include "Scanner.h"

#include "CharacterReferences.h"

#include <cstring>
#include <optional>

namespace linkscan {

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
    const char *lt = findByte(m_p, m_end, '<');
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
            m_out.gumboDiffers = true;
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
    // Only a meta's charset, http-equiv and content attributes are looked at.
    static const std::uint64_t metaName = hashOf("meta");
    const bool meta = name.h == metaName;
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
            m_out.gumboDiffers = true; // gumbo drops a U+0000 there
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
                const char *close = findByte(p + 1, m_end, *p);
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
            m_out.gumboDiffers = true;
        if (duplicate)
            repeated = true;
        if (!duplicate && !end) {
            AttrKind kind = AttrKind::Other;
            static const std::uint64_t href = hashOf("href"), type = hashOf("type"),
                                       encoding = hashOf("encoding"), color = hashOf("color"),
                                       face = hashOf("face"), size = hashOf("size"),
                                       charset = hashOf("charset"),
                                       httpEquiv = hashOf("http-equiv"),
                                       content = hashOf("content");
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
            else if (meta && attrName.h == charset)
                kind = AttrKind::Charset;
            else if (meta && attrName.h == httpEquiv)
                kind = AttrKind::HttpEquiv;
            else if (meta && attrName.h == content)
                kind = AttrKind::Content;
            m_attrs.push_back({attrName.h, kind, value, length});
        }
    }
    m_p = p;
    Token t{end ? Token::End : Token::Start};
    t.name = name.h;
    t.tag = m_tags.find(name.h);
    t.selfClosing = selfClosing && !end;
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

// A DOCTYPE's name and identifiers, for the quirks mode; every DOCTYPE state ends at '>'.
void Scanner::doctype() {
    const char *p = m_p;
    const char *gt = static_cast<const char *>(std::memchr(p, '>', std::size_t(m_end - p)));
    const char *end = gt ? gt : m_end;
    m_p = gt ? gt + 1 : m_end;
    if (m_mode == Mode::InTableText)
        flushTableText();
    if (m_mode != Mode::Initial)
        return;

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
    initialDoctype({name, publicId, systemId, forceQuirks});
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
    if (findByte(b, e, '&')) {
        m_textScratch.clear();
        if (decodeText(b, e, false, m_textScratch))
            m_out.gumboDiffers = true;
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
        m_out.gumboDiffers = true;
    return std::string_view(scratch.data(), scratch.size());
}

} // namespace linkscan
