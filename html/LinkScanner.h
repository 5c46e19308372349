#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads what decides a page's `document.links` straight from its UTF-8 bytes, without building
// a tree: the HTML tokenizer in full, and of tree construction only the state that decides
// which `a`, `area` and `base` elements of the HTML namespace end up in the document and in
// what order (the stack of open elements by name, the list of active formatting elements,
// the insertion modes, foreign content, template contents, frameset). Where that order or
// membership would need the tree itself (content foster-parented out of a table, a table in
// a paragraph under a DOCTYPE whose quirks mode it does not know), the scan says so and the
// caller parses the page with a tree builder instead.
// Pure code on bytes, safe to run on any thread; linear in the page's size except for
// pathological markup, whose cost is bounded (see `Outcome::TooCostly`).
struct LinkScan {
    enum class Outcome {
        Exact,     // the hrefs are exactly those of the document
        NeedsTree, // the page needs a real tree builder; `reason` says why
        TooCostly, // the markup would cost more than the bound; hrefs hold those read so far
        Stopped,   // `*stop` was set
    };
    Outcome outcome = Outcome::Exact;
    const char *reason = ""; // static text, for NeedsTree
    // The href of every `a` and `area` with one, in tree order, as the attribute's value
    // (character references decoded, U+0000 as U+FFFD, newlines normalised): UTF-8, views
    // into the page or into `decoded`.
    std::vector<std::string_view> hrefs;
    std::optional<std::string_view> baseHref; // the first `base` with an href
    // The sum over start tags of the depth of the stack of open elements they meet: the work
    // a tree builder does that scans its stack for each tag.
    std::uint64_t nestingWork = 0;
    // Whether the page met markup that gumbo, the tree builder of the fallback, reads
    // otherwise than browsers (it follows an older standard, and closes any unknown element
    // on the end tag of another): a select's contents, an end tag p or br in svg or math,
    // search, isindex, quirks mode by public identifier, misnested unknown elements.
    bool fallbackDiffers = false;
    std::vector<char> decoded; // backs the views that are not into the page
};

LinkScan scanLinks(std::string_view page, const std::atomic<bool> *stop = nullptr);
