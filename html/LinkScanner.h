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
// the insertion modes, the document's quirks mode, foster parenting, foreign content,
// template contents, frameset).
// Pure code on bytes, safe to run on any thread; linear in the page's size except for
// pathological markup, whose cost is bounded (see `Outcome::TooCostly`).
struct LinkScan {
    enum class Outcome {
        Exact,     // the hrefs are exactly those of the document
        TooCostly, // the markup would cost more than the bound; hrefs hold those read so far
        Stopped,   // `*stop` was set
        // A meta declared another encoding than the tentative one: the page is to be read
        // again in `encoding`; hrefs hold nothing of use.
        EncodingChanged,
    };
    Outcome outcome = Outcome::Exact;
    // The href of every `a` and `area` with one, in tree order, as the attribute's value
    // (character references decoded, U+0000 as U+FFFD, newlines normalised): UTF-8, views
    // into the page or into `decoded`.
    std::vector<std::string_view> hrefs;
    std::optional<std::string_view> baseHref; // the first `base` with an href, in tree order
    // What the head tells search engines, from elements of the head itself (not the body's,
    // nor a template's): the content of every `meta` named "robots" (any case), in tree
    // order, and the href of the first `link` with an href whose rel holds "canonical".
    std::vector<std::string_view> robotsMeta;
    std::optional<std::string_view> canonicalHref;
    // Whether the page met markup that gumbo, the tests' second opinion, reads otherwise than
    // browsers (it follows an older standard, and closes any unknown element on the end tag
    // of another): a select's contents, an end tag p or br in svg or math, search, isindex,
    // quirks mode by public identifier, misnested unknown elements. The tests compare the two
    // readings only where this is false.
    bool gumboDiffers = false;
    std::vector<char> decoded; // backs the views that are not into the page
    std::string encoding;      // with EncodingChanged: the name of the declared encoding
};

// `tentativeEncoding` names the encoding the page was decoded in when that was only a guess
// (the prescan's or the default's), empty when it is certain: then the first meta that the tree
// builder meets with a charset makes it certain, or, naming another encoding, ends the scan
// with EncodingChanged, as browsers change the encoding and read the page again.
LinkScan scanLinks(std::string_view page, const std::atomic<bool> *stop = nullptr,
                   std::string_view tentativeEncoding = {});
