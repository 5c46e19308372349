#include "HtmlLinks.h"

#include "WebUrl.h"

#include <gumbo.h>

#include <csetjmp>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// Every allocation of one parse, linked so that the whole tree can be freed without
// recursion (and at any point of the parse), and the parse abandoned when its time is up:
// deeply nested markup makes the parser's work grow with the square of the depth.
class ParseArena {
public:
    ParseArena(QDeadlineTimer deadline, const std::atomic<bool> *stop)
        : m_deadline(deadline)
        , m_stop(stop) {
        m_head.prev = m_head.next = &m_head;
    }
    ParseArena(const ParseArena &) = delete;
    ParseArena &operator=(const ParseArena &) = delete;
    ~ParseArena() {
        for (Block *block = m_head.next; block != &m_head;) {
            Block *next = block->next;
            std::free(block);
            block = next;
        }
    }

    // The parsed tree, or null when the parse ran out of time or memory.
    GumboOutput *parse(const QByteArray &utf8) {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &ParseArena::allocate;
        options.deallocator = &ParseArena::deallocate;
        options.userdata = this;
        options.max_errors = 0; // the parse errors are of no use here
        // Only the parser's own C frames lie between here and the jump back.
        if (setjmp(m_abort) != 0)
            return nullptr;
        return gumbo_parse_with_options(&options, utf8.constData(), size_t(utf8.size()));
    }

private:
    // Kept 16 bytes long, so that what follows it stays aligned as malloc aligns.
    struct Block {
        Block *prev;
        Block *next;
    };
    static_assert(sizeof(Block) == 16);

    static void *allocate(void *userdata, size_t size) {
        auto *arena = static_cast<ParseArena *>(userdata);
        if ((++arena->m_allocations % 256) == 0 && arena->givenUp())
            std::longjmp(arena->m_abort, 1);
        auto *block = static_cast<Block *>(std::malloc(sizeof(Block) + size));
        if (!block)
            std::longjmp(arena->m_abort, 1);
        block->prev = &arena->m_head;
        block->next = arena->m_head.next;
        block->next->prev = block;
        arena->m_head.next = block;
        return block + 1;
    }

    static void deallocate(void *, void *pointer) {
        if (!pointer)
            return;
        Block *block = static_cast<Block *>(pointer) - 1;
        block->prev->next = block->next;
        block->next->prev = block->prev;
        std::free(block);
    }

    bool givenUp() const {
        return m_deadline.hasExpired() || (m_stop && m_stop->load(std::memory_order_relaxed));
    }

    QDeadlineTimer m_deadline;
    const std::atomic<bool> *m_stop;
    std::jmp_buf m_abort;
    unsigned m_allocations = 0;
    Block m_head;
};

const GumboAttribute *hrefOf(const GumboElement &element) {
    return gumbo_get_attribute(&element.attributes, "href");
}

} // namespace

QStringList extractLinks(const QString &html, const QString &documentUrl,
                         const QByteArray &encoding, QDeadlineTimer deadline,
                         const std::atomic<bool> *stop) {
    ParseArena arena(deadline, stop);
    const GumboOutput *tree = arena.parse(html.toUtf8());
    if (!tree)
        return {};

    // Walk the tree in document order without recursion: pages can nest very deeply.
    std::optional<QString> baseHref;
    QStringList hrefs;
    std::vector<const GumboNode *> pending{tree->root};
    while (!pending.empty()) {
        const GumboNode *node = pending.back();
        pending.pop_back();
        // Template contents are not part of the document; text and comments have no links.
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement &element = node->v.element;
        const GumboAttribute *href = hrefOf(element);
        if (href && element.tag_namespace == GUMBO_NAMESPACE_HTML) {
            if (element.tag == GUMBO_TAG_A || element.tag == GUMBO_TAG_AREA)
                hrefs.append(QString::fromUtf8(href->value));
            else if (element.tag == GUMBO_TAG_BASE && !baseHref)
                baseHref = QString::fromUtf8(href->value);
        }
        for (unsigned i = element.children.length; i > 0; --i)
            pending.push_back(static_cast<const GumboNode *>(element.children.data[i - 1]));
    }

    const std::optional<WebUrl> documentAddress = WebUrl::parse(documentUrl);
    std::optional<WebUrl> base = documentAddress;
    if (baseHref && documentAddress) {
        // A base href is resolved against the document's address and ignored if it fails.
        if (std::optional<WebUrl> parsed = WebUrl::parse(*baseHref, &*documentAddress, encoding))
            base = parsed;
    }

    QStringList links;
    links.reserve(hrefs.size());
    for (const QString &href : std::as_const(hrefs)) {
        const std::optional<WebUrl> resolved =
            WebUrl::parse(href, base ? &*base : nullptr, encoding);
        links.append(resolved ? resolved->href() : href);
    }
    return links;
}
