#include "Scanner.h"

#include <algorithm>

namespace linkscan {

bool Scanner::inTable(Token &t) {
    if (t.kind == Token::Chars) {
        if (currentIn(tableish) || currentIs(Tag::template_)) {
            m_pendingNonSpace = false;
            m_originalMode = m_mode;
            m_mode = Mode::InTableText;
            return true;
        }
        // Here white space too reopens the formatting elements (a link among them) in the
        // body's rules; gumbo inserts it as it stands.
        const bool reopens =
            !m_formatting.empty() && m_formatting.back().id != 0 && !isOpen(m_formatting.back().id);
        if (reopens && std::all_of(t.text, t.textEnd,
                                   [](char c) { return isSpace(static_cast<unsigned char>(c)); }))
            m_out.gumboDiffers = true;
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

} // namespace linkscan
