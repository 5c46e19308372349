#include "Scanner.h"

#include "CharacterReferences.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace linkscan {

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

// The index on the stack of the last table; past the end of the stack when there is none
// (which foster parenting and displaced elements never meet: a table is open under them).
std::size_t Scanner::lastTable() {
    std::size_t i = m_stack.size();
    while (i-- > 0 && !(m_stack[i].ns == Ns::Html && m_stack[i].tag == Tag::table)) {
    }
    spend(m_stack.size() - i);
    return i;
}

// `links` links went in just before the last table: the table and what is open inside it
// (the elements above it on the stack but the displaced ones) now stand that much later.
void Scanner::shiftTable(std::uint32_t links) {
    const std::size_t table = lastTable();
    for (std::size_t i = table; i < m_stack.size(); ++i) {
        if (!m_stack[i].displaced)
            m_stack[i].linkMark += links;
    }
}

// Where the value of `a` is once its character references are decoded.
HrefRef Scanner::keepValue(const Attr &a) {
    if (!needsDecoding(a.value, a.value + a.length))
        return {std::uint32_t(a.value - m_begin), a.length, false, false};
    std::vector<char> &out = m_out.decoded;
    const std::size_t start = out.size();
    if (decodeText(a.value, a.value + a.length, true, out))
        m_out.gumboDiffers = true;
    return {std::uint32_t(start), std::uint32_t(out.size() - start), true, false};
}

std::int64_t Scanner::tokenHref() {
    const Attr *a = attr(AttrKind::Href);
    if (!a)
        return -1;
    m_hrefPool.push_back(keepValue(*a));
    return std::int64_t(m_hrefPool.size() - 1);
}

void Scanner::emitLink(std::int64_t href, std::size_t at) {
    m_links.insert(m_links.begin() + std::ptrdiff_t(at), href);
    if (at + 1 != m_links.size())
        spend(m_links.size() - at);
}

void Scanner::insertElement(Tag tag, Ns ns, std::uint64_t name, std::int64_t href, bool linkable,
                            bool integration) {
    const bool documentPart = m_counts[std::size_t(Tag::template_)] == 0;
    // Foster parenting: content that would go into a table goes just before it instead, and
    // so does what is inserted into such content later. Elsewhere an element ends the
    // document so far. (Nothing displaced opens a table: a table start tag closes the open
    // one first.)
    const bool displaced = documentPart && ((m_fostering && currentIn(tableish)) ||
                                            (!m_stack.empty() && current().displaced));
    const std::size_t table = displaced ? lastTable() : m_stack.size();
    std::size_t at = table < m_stack.size() ? m_stack[table].linkMark : m_links.size();
    if (linkable && href >= 0 && documentPart && ns == Ns::Html) {
        m_hrefPool[std::size_t(href)].base = tag == Tag::base;
        emitLink(href, at++);
        if (displaced)
            shiftTable(1);
    }
    Element e{m_nextId++, tag, ns, integration, name, std::uint32_t(at)};
    e.displaced = displaced;
    push(e);
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
        m_out.gumboDiffers = true;
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
        // The value eight bytes a step, each mixed by a multiplication and a rotation.
        const std::string_view value = attrValue(a, m_valueScratch);
        std::uint64_t h = a.name ^ value.size();
        std::size_t i = 0;
        for (; i + 8 <= value.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, value.data() + i, 8);
            h = std::rotl((h ^ word) * 0x9E3779B97F4A7C15ull, 29);
        }
        std::uint64_t tail = 0;
        if (i < value.size())
            std::memcpy(&tail, value.data() + i, value.size() - i);
        h = (h ^ tail) * 0x9E3779B97F4A7C15ull;
        sum += (h ^ (h >> 32)) * 0x9E3779B97F4A7C15ull;
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
        // When the common ancestor is a table and foster parenting is on, the last node goes
        // just before the table: where it stood already, as the formatting element was
        // foster-parented there too. Tree order stays as it is either way.
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
                m_out.gumboDiffers = true; // gumbo leaves such an element open
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
        if (newLinkMark != at && m_stack[fb].displaced)
            shiftTable(std::uint32_t(newLinkMark - at));
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
        Element newElement{newId, feEntry.tag, Ns::Html, false, feEntry.name, newLinkMark};
        newElement.displaced = m_stack[fb].displaced;
        push(newElement);
        // push() appended it; it belongs immediately below the furthest block.
        std::rotate(m_stack.begin() + std::ptrdiff_t(fb) + 1, m_stack.end() - 1, m_stack.end());
    }
    // Eight rounds and still misnested: gumbo then also drops the last clone of an `a`.
    m_out.gumboDiffers = true;
    return true;
}

void Scanner::anyOtherEndTag(const Token &t) {
    if (t.tag == Tag::Other) {
        const auto open = m_otherNames.find(t.name);
        if (open == m_otherNames.end() || open->second == 0) {
            // The walk would end at a special element or the bottom: nothing to close. gumbo
            // would close an element of another name it does not know.
            if (m_counts[std::size_t(Tag::Other)] != 0)
                m_out.gumboDiffers = true;
            return;
        }
    }
    for (std::size_t i = m_stack.size(); i-- > 0;) {
        const Element &node = m_stack[i];
        if (t.tag == Tag::Other && node.tag == Tag::Other && node.name != t.name)
            m_out.gumboDiffers = true;
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
            // gumbo takes an svg or math element of such a name for the HTML one
            // (`<svg><frameset><foreignObject><table></table>`: a frameset).
            if (in(resetNames, node.tag))
                m_out.gumboDiffers = true;
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

} // namespace linkscan
