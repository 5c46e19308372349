#include "Scanner.h"

#include <algorithm>

namespace linkscan {

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
        m_out.gumboDiffers = true;
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
            m_out.gumboDiffers = true;
        if (m_stack.size() < 2 || m_stack[1].ns != Ns::Html || m_stack[1].tag != Tag::body ||
            !m_framesetOk)
            return false;
        // The body goes, and with it every link and base it held.
        m_links.resize(std::min<std::size_t>(m_links.size(), m_stack[1].linkMark));
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
            if (m_quirks != Quirks::Yes)
                closeP();
            else if (m_quirksByPublicId)
                m_out.gumboDiffers = true;
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

} // namespace linkscan
