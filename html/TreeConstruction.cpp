#include "Scanner.h"

#include "CharacterReferences.h"
#include "Encoding.h"
#include "PageDecoder.h"

namespace linkscan {

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

namespace {

bool isMathTextIntegration(const Element &e) {
    return e.ns == Ns::MathMl && (e.tag == Tag::mi || e.tag == Tag::mo || e.tag == Tag::mn ||
                                  e.tag == Tag::ms || e.tag == Tag::mtext);
}

} // namespace

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
            m_out.gumboDiffers = true;
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
        m_out.gumboDiffers = true;
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
        case Tag::link:
        case Tag::meta:
            headMetadata(t);
            [[fallthrough]];
        case Tag::base:
        case Tag::basefont:
        case Tag::bgsound:
            insertHtml(t);
            if (!m_done)
                pop();
            if (t.tag == Tag::meta && !m_tentativeEncoding.empty())
                metaCharset();
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

// A meta that the rules for "in head" insert while the page's encoding is a guess: its charset
// attribute, or else its http-equiv="Content-Type" and content, settle the encoding. The
// first one that names an encoding makes it certain; when it names another, the scan ends
// so that the page is read again in that one.
void Scanner::metaCharset() {
    // The values with their character references decoded. (Not through attrValue, which the
    // tokenizer wants inlined where it is hot.)
    std::vector<char> scratch;
    const auto value = [&scratch](const Attr &a) {
        if (!needsDecoding(a.value, a.value + a.length))
            return std::string_view(a.value, a.length);
        scratch.clear();
        decodeText(a.value, a.value + a.length, true, scratch);
        return std::string_view(scratch.data(), scratch.size());
    };
    std::optional<encoding::Encoding> declared;
    if (const Attr *charset = attr(AttrKind::Charset))
        declared = encoding::encodingForLabel(value(*charset));
    const Attr *httpEquiv = attr(AttrKind::HttpEquiv);
    if (!declared && httpEquiv && equalsNoCase(value(*httpEquiv), "content-type")) {
        if (const Attr *content = attr(AttrKind::Content)) {
            const std::string_view text = value(*content);
            if (const std::optional<QByteArray> name =
                    encodingFromMetaContent(QByteArrayView(text.data(), qsizetype(text.size()))))
                declared = encoding::encodingForLabel(name->toStdString());
        }
    }
    if (!declared)
        return;
    if (*declared == encoding::Encoding::Utf16Be || *declared == encoding::Encoding::Utf16Le)
        declared = encoding::Encoding::Utf8;
    if (*declared == encoding::Encoding::XUserDefined)
        declared = encoding::Encoding::Windows1252;
    const std::string_view name = encoding::name(*declared);
    if (name != m_tentativeEncoding) {
        m_out.outcome = LinkScan::Outcome::EncodingChanged;
        m_out.encoding = std::string(name);
        m_done = true;
    }
    m_tentativeEncoding = {};
}

// A meta or link about to be inserted by the rules of "in head": one that goes into the head
// itself (not into the body, whose meta and link take these rules too, nor into a template)
// may say how search engines are to treat the page.
void Scanner::headMetadata(const Token &t) {
    if (!m_haveHead || !isOpen(m_head.id) || m_counts[std::size_t(Tag::template_)] != 0)
        return;
    static const std::uint64_t name = hashOf("name"), content = hashOf("content"),
                               rel = hashOf("rel");
    if (t.tag == Tag::meta) {
        const Attr *named = attrNamed(name);
        const Attr *value = attrNamed(content);
        if (named && value && equalsNoCase(attrValue(*named, m_valueScratch), "robots"))
            m_robotsMeta.push_back(keepValue(*value));
        return;
    }
    const Attr *relation = attrNamed(rel);
    const Attr *href = attr(AttrKind::Href);
    if (m_canonical || !relation || !href)
        return;
    const std::string_view tokens = attrValue(*relation, m_valueScratch);
    for (std::size_t at = 0; at < tokens.size();) {
        while (at < tokens.size() && isSpace(static_cast<unsigned char>(tokens[at])))
            ++at;
        std::size_t end = at;
        while (end < tokens.size() && !isSpace(static_cast<unsigned char>(tokens[end])))
            ++end;
        if (end > at && equalsNoCase(tokens.substr(at, end - at), "canonical")) {
            m_canonical = keepValue(*href);
            return;
        }
        at = end;
    }
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
            m_out.gumboDiffers = true; // gumbo reopens no formatting here
        inBodyChars(b, t.text);
        return false;
    }
    if (t.kind == Token::Start && t.tag == Tag::html)
        return inBody(t);
    if (t.kind == Token::Start && t.tag == Tag::noframes)
        return inHead(t);
    return false;
}

} // namespace linkscan
