#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// One of the window's seen-lists: addresses joined by commas. An address counts as seen
// when it occurs anywhere in the text, commas included, so "a/b" is seen once "a/bc" has
// been added, and "b,c" once "a,b" and then "c" have.
//
// Beside the text the list keeps a suffix automaton over its UTF-16 code units, grown as
// addresses are appended, so contains() costs the length of the address rather than the
// length of the text; a crawl asks once per harvested link, and a scan of the whole text
// each time made large sites quadratic.
class SeenText {
public:
    // Replaces the text with `text` and rebuilds the index over it.
    void reset(const QString &text);
    // Appends a comma and `address`.
    void append(const QString &address);
    // True when `address` occurs in the text (by textPosition's rules).
    bool contains(const QString &address) const;
    const QString &text() const { return m_text; }

private:
    // A state of the automaton: the longest text it stands for, its suffix link, and its
    // outgoing edges, `count` of them at `first` in m_edges in a block of bit_ceil(count).
    struct State {
        std::int32_t length;
        std::int32_t link;
        std::uint32_t first;
        std::uint32_t count;
    };
    struct Edge {
        std::uint32_t to;
        char16_t unit;
    };
    static constexpr std::uint32_t noEdge = UINT32_MAX;

    void extend(char16_t unit);
    std::uint32_t findEdge(std::int32_t from, char16_t unit) const;
    void addEdge(std::int32_t from, char16_t unit, std::uint32_t to);
    std::uint32_t allocateBlock(std::uint32_t capacity);
    void releaseBlock(std::uint32_t first, std::uint32_t capacity);

    QString m_text;
    std::vector<State> m_states;
    // Every state's edges, sorted by unit, each state's in a block whose size is a power of
    // two; blocks a state has outgrown wait in m_freeBlocks for another state.
    std::vector<Edge> m_edges;
    // Per block size 2^k, the first free block; each free block holds the next in its `to`.
    std::array<std::uint32_t, 17> m_freeBlocks{};
    std::int32_t m_last = 0;
};
