#include "TreeHrefs.h"

#include "LinkScanner.h"

#include <gumbo.h>

#include <csetjmp>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// Every allocation of one parse, linked so that the whole tree can be freed without
// recursion (and at any point of the parse), and the parse abandoned when memory runs out.
class ParseArena {
public:
    ParseArena() { m_head.prev = m_head.next = &m_head; }
    ParseArena(const ParseArena &) = delete;
    ParseArena &operator=(const ParseArena &) = delete;
    ~ParseArena() {
        for (Block *block = m_head.next; block != &m_head;) {
            Block *next = block->next;
            std::free(block);
            block = next;
        }
    }

    // The parsed tree, or null when the parse ran out of memory.
    GumboOutput *parse(QByteArrayView utf8) {
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

    std::jmp_buf m_abort;
    Block m_head;
};

const GumboAttribute *hrefOf(const GumboElement &element) {
    return gumbo_get_attribute(&element.attributes, "href");
}

// The hrefs as gumbo's tree has them, as views into the tree; false when the parse was given
// up.
template <typename Sink> bool treeHrefs(QByteArrayView utf8, Sink &&sink) {
    ParseArena arena;
    const GumboOutput *tree = arena.parse(utf8);
    if (!tree)
        return false;
    // Walk the tree in document order without recursion: pages can nest very deeply.
    std::vector<const GumboNode *> pending{tree->root};
    bool haveBase = false;
    while (!pending.empty()) {
        const GumboNode *node = pending.back();
        pending.pop_back();
        // Template contents are not part of the document; text and comments have no links.
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement &element = node->v.element;
        const GumboAttribute *href = hrefOf(element);
        if (href && element.tag_namespace == GUMBO_NAMESPACE_HTML) {
            if (element.tag == GUMBO_TAG_A || element.tag == GUMBO_TAG_AREA) {
                sink(std::string_view(href->value), false);
            } else if (element.tag == GUMBO_TAG_BASE && !haveBase) {
                haveBase = true;
                sink(std::string_view(href->value), true);
            }
        }
        for (unsigned i = element.children.length; i > 0; --i)
            pending.push_back(static_cast<const GumboNode *>(element.children.data[i - 1]));
    }
    return true;
}

} // namespace

std::optional<PageHrefs> pageHrefs(QByteArrayView utf8, HrefReader reader) {
    PageHrefs page;
    const auto keep = [&page](std::string_view href, bool isBase) {
        QByteArray text(href.data(), qsizetype(href.size()));
        if (isBase)
            page.baseHref = text;
        else
            page.hrefs.append(text);
    };
    if (reader == HrefReader::Tree) {
        if (!treeHrefs(utf8, keep))
            return std::nullopt;
        return page;
    }
    const LinkScan scan = scanLinks(std::string_view(utf8.data(), std::size_t(utf8.size())));
    if (scan.outcome != LinkScan::Outcome::Exact)
        return std::nullopt;
    for (const std::string_view href : scan.hrefs)
        keep(href, false);
    if (scan.baseHref)
        keep(*scan.baseHref, true);
    return page;
}
