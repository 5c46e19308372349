#pragma once

// The link scanner's state, shared by its tokenizer (Tokenizer.cpp) and its tree construction
// (OpenElements.cpp for the stack of open elements and the list of active formatting
// elements, TreeConstruction.cpp for the insertion modes, with "initial" and the DOCTYPE's
// quirks mode in InitialMode.cpp, "in body" in InBody.cpp and the table modes in InTable.cpp).

#include "Ascii.h"
#include "LinkScanner.h"
#include "Tags.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace linkscan {

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

enum class Quirks : std::uint8_t { No, Limited, Yes };

// A DOCTYPE token's name and identifiers (missing when std::nullopt), as written.
struct Doctype {
    std::string_view name;
    std::optional<std::string_view> publicId;
    std::optional<std::string_view> systemId;
    bool forceQuirks;
};

enum class AttrKind : std::uint8_t {
    Other,
    Href,
    Type,
    Encoding,
    Color,
    Face,
    Size,
    Charset,
    HttpEquiv,
    Content,
};

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
    bool base; // the href of a base element
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
    // Foster-parented out of a table, or inserted into an element that was: its contents go
    // just before the last table on the stack rather than at the end of the document.
    bool displaced = false;
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
    Scanner(std::string_view page, const std::atomic<bool> *stop,
            std::string_view tentativeEncoding, LinkScan &out)
        : m_begin(page.data())
        , m_p(page.data())
        , m_end(page.data() + page.size())
        , m_stopFlag(stop)
        , m_out(out)
        , m_tentativeEncoding(tentativeEncoding)
        , m_tags(tagTable()) {
        m_budget = 64 * std::uint64_t(page.size()) + 4'000'000;
        m_open.push_back(0);
    }

    void run();
    void take(std::vector<HrefRef> &pool, std::vector<std::int64_t> &links,
              std::vector<HrefRef> &robotsMeta, std::optional<HrefRef> &canonical) {
        pool = std::move(m_hrefPool);
        links = std::move(m_links);
        robotsMeta = std::move(m_robotsMeta);
        canonical = m_canonical;
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
    const Attr *attrNamed(std::uint64_t name) const {
        for (const Attr &a : m_attrs) {
            if (a.name == name)
                return &a;
        }
        return nullptr;
    }
    HrefRef keepValue(const Attr &a);

    // Tree construction
    void process(Token &t);
    bool step(Token &t); // true: reprocess
    bool useHtmlRules(const Token &t) const;
    bool foreignContent(Token &t);
    bool initial(Token &t);
    void initialDoctype(const Doctype &doctype);
    bool beforeHtml(Token &t);
    bool beforeHead(Token &t);
    bool inHead(Token &t);
    void headMetadata(const Token &t);
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
    std::size_t lastTable();
    void emitLink(std::int64_t href, std::size_t at);
    void shiftTable(std::uint32_t links);
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
    void metaCharset();
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
    // The encoding the page was read in while it is only a guess; empty once it is certain.
    std::string_view m_tentativeEncoding;
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
    bool m_quirksByPublicId = false; // quirks mode from the DOCTYPE's identifiers
    bool m_pendingNonSpace = false;  // in table text

    std::vector<HrefRef> m_hrefPool; // every href read, by index
    // Indexes into m_hrefPool of every a, area and base with an href, in tree order.
    std::vector<std::int64_t> m_links;
    std::vector<HrefRef> m_robotsMeta; // see LinkScan::robotsMeta
    std::optional<HrefRef> m_canonical;
    std::uint64_t m_work = 0;
    std::uint64_t m_budget;
};

// Splits the whitespace a mode keeps off the front of a character token; true when nothing
// else is left.
inline bool leadingSpaceOnly(Token &t) {
    while (t.text < t.textEnd && isSpace(static_cast<unsigned char>(*t.text)))
        ++t.text;
    return t.text == t.textEnd;
}

} // namespace linkscan
