#include "SeenText.h"

#include <algorithm>
#include <bit>

namespace {

// Up to this many edges a state's block is scanned rather than halved.
constexpr std::uint32_t scannedEdges = 8;

// The index is most of what a long list costs, so its vectors grow by half, not double.
template <typename T> void makeRoom(std::vector<T> &vector, std::size_t extra) {
    if (vector.size() + extra > vector.capacity())
        vector.reserve(std::max(vector.size() + extra, vector.capacity() * 3 / 2 + 16));
}

} // namespace

void SeenText::reset(const QString &text) {
    m_text = text;
    // Give back what a long list held rather than only clearing it.
    m_states = {};
    m_edges = {};
    m_freeBlocks.fill(noEdge);
    m_states.push_back({0, -1, 0, 0});
    m_last = 0;
    for (const QChar c : m_text)
        extend(c.unicode());
}

void SeenText::append(const QString &address) {
    // A list that was never reset starts empty, with only the automaton's first state.
    if (m_states.empty())
        reset(QString());
    m_text += u',';
    m_text += address;
    extend(u',');
    for (const QChar c : address)
        extend(c.unicode());
}

bool SeenText::contains(const QString &address) const {
    // Nothing is found in an empty text, and an empty address in any other.
    if (m_text.isEmpty())
        return false;
    std::int32_t state = 0;
    for (const QChar c : address) {
        const std::uint32_t edge = findEdge(state, c.unicode());
        if (edge == noEdge)
            return false;
        state = static_cast<std::int32_t>(m_edges[edge].to);
    }
    return true;
}

// The usual online construction: the new state `cur` stands for the whole text so far,
// every suffix that had no `unit` edge gets one to `cur`, and where a suffix already had
// one to a state that also stands for longer texts, that state is split by a clone.
void SeenText::extend(char16_t unit) {
    // At most `cur` and a clone are added.
    makeRoom(m_states, 2);
    const auto cur = static_cast<std::int32_t>(m_states.size());
    m_states.push_back({m_states[m_last].length + 1, -1, 0, 0});
    std::int32_t p = m_last;
    std::uint32_t edge = noEdge;
    while (p >= 0 && (edge = findEdge(p, unit)) == noEdge) {
        addEdge(p, unit, cur);
        p = m_states[p].link;
    }
    if (p < 0) {
        m_states[cur].link = 0;
    } else {
        const auto q = static_cast<std::int32_t>(m_edges[edge].to);
        if (m_states[p].length + 1 == m_states[q].length) {
            m_states[cur].link = q;
        } else {
            const auto clone = static_cast<std::int32_t>(m_states.size());
            m_states.push_back({m_states[p].length + 1, m_states[q].link, 0, 0});
            const std::uint32_t count = m_states[q].count;
            if (count > 0) {
                const std::uint32_t block = allocateBlock(std::bit_ceil(count));
                std::copy_n(m_edges.begin() + m_states[q].first, count, m_edges.begin() + block);
                m_states[clone].first = block;
                m_states[clone].count = count;
            }
            while (p >= 0) {
                edge = findEdge(p, unit);
                if (edge == noEdge || m_edges[edge].to != static_cast<std::uint32_t>(q))
                    break;
                m_edges[edge].to = clone;
                p = m_states[p].link;
            }
            m_states[q].link = clone;
            m_states[cur].link = clone;
        }
    }
    m_last = cur;
}

std::uint32_t SeenText::findEdge(std::int32_t from, char16_t unit) const {
    const State &state = m_states[from];
    const Edge *begin = m_edges.data() + state.first;
    const Edge *end = begin + state.count;
    const Edge *found = begin;
    if (state.count <= scannedEdges) {
        while (found != end && found->unit < unit)
            ++found;
    } else {
        found = std::lower_bound(begin, end, unit,
                                 [](const Edge &edge, char16_t u) { return edge.unit < u; });
    }
    if (found == end || found->unit != unit)
        return noEdge;
    return static_cast<std::uint32_t>(found - m_edges.data());
}

void SeenText::addEdge(std::int32_t from, char16_t unit, std::uint32_t to) {
    const std::uint32_t count = m_states[from].count;
    // A block is full when the count has reached a power of two.
    if (count == 0 || std::has_single_bit(count)) {
        const std::uint32_t block = allocateBlock(count == 0 ? 1 : count * 2);
        std::copy_n(m_edges.begin() + m_states[from].first, count, m_edges.begin() + block);
        if (count > 0)
            releaseBlock(m_states[from].first, count);
        m_states[from].first = block;
    }
    Edge *edges = m_edges.data() + m_states[from].first;
    std::uint32_t at = count;
    for (; at > 0 && edges[at - 1].unit > unit; --at)
        edges[at] = edges[at - 1];
    edges[at] = {to, unit};
    m_states[from].count = count + 1;
}

std::uint32_t SeenText::allocateBlock(std::uint32_t capacity) {
    std::uint32_t &freeBlock = m_freeBlocks[std::countr_zero(capacity)];
    if (freeBlock != noEdge) {
        const std::uint32_t block = freeBlock;
        freeBlock = m_edges[block].to;
        return block;
    }
    makeRoom(m_edges, capacity);
    const auto block = static_cast<std::uint32_t>(m_edges.size());
    m_edges.resize(m_edges.size() + capacity);
    return block;
}

void SeenText::releaseBlock(std::uint32_t first, std::uint32_t capacity) {
    std::uint32_t &freeBlock = m_freeBlocks[std::countr_zero(capacity)];
    m_edges[first].to = freeBlock;
    freeBlock = first;
}
