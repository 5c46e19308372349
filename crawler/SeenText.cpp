#include "SeenText.h"

#include "AddressBytes.h"

#include <divsufsort.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace {

// Merges up to this many times the direct size are sorted in place: a few milliseconds.
constexpr std::size_t inPlaceFactor = 16;
// Segments of one size class (sizes within a factor of this) merge once there are this many.
constexpr std::size_t fanOut = 8;
// Larger text stays in several segments: positions take three bytes (this is half what
// they can hold), and sorting a segment on the worker briefly takes twice its memory. Tests
// reach the limit with a small direct size.
std::size_t largestSegment(std::size_t directBytes) {
    return std::min(std::size_t(8) << 20, directBytes * 2048);
}

// The text grows by a quarter at a time, not double: it is most of what a long list costs.
void makeRoom(std::string &bytes, std::size_t extra) {
    if (bytes.size() + extra > bytes.capacity())
        bytes.reserve(std::max(bytes.size() + extra, bytes.capacity() + bytes.capacity() / 4));
}

// A direct search in time linear in both lengths (glibc's memmem is the two-way algorithm):
// a search that tries each position in turn takes the product when text and address repeat
// one character for megabytes.
bool occurs(std::string_view text, std::string_view sought) {
    return memmem(text.data(), text.size(), sought.data(), sought.size()) != nullptr;
}

// The length of the common prefix of a and b, both at least `limit` long, known to be at
// least `from`.
std::size_t commonPrefix(const char *a, const char *b, std::size_t from, std::size_t limit) {
    std::size_t i = from;
    for (; i + 8 <= limit; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little)
                return i + std::size_t(std::countr_zero(x ^ y)) / 8;
            break;
        }
    }
    while (i < limit && a[i] == b[i])
        ++i;
    return i;
}

constexpr std::size_t runBytes = 8;

std::uint64_t hashOf(std::string_view bytes) {
    // Eight bytes a step, each step mixed by a multiplication and a rotation; never 0: 0
    // marks an empty slot.
    std::uint64_t hash = 0xCBF29CE484222325ull ^ bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        hash = std::rotl((hash ^ word) * 0x9E3779B97F4A7C15ull, 29);
    }
    std::uint64_t tail = 0;
    if (i < bytes.size())
        std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    hash = (hash ^ tail) * 0x9E3779B97F4A7C15ull;
    return (hash ^ (hash >> 32)) | 1;
}

std::uint64_t runHash(const char *run, int bits) {
    std::uint64_t value;
    std::memcpy(&value, run, runBytes);
    return (value * 0x9E3779B97F4A7C15ull) >> (64 - bits);
}

// 0 for segments below fanOut × directBytes, 1 below fanOut² ×, and so on.
int sizeClass(std::size_t size, std::size_t directBytes) {
    int result = 0;
    for (size /= directBytes * fanOut; size > 0; size /= fanOut)
        ++result;
    return result;
}

} // namespace

SeenText::Suffixes::Suffixes(const char *bytes, std::size_t size) {
    // divsufsort writes 32-bit positions; each is packed into three bytes in place, never
    // over one not yet read, and the block shrinks to fit.
    auto *positions = static_cast<std::uint8_t *>(std::malloc(4 * size));
    if (!positions)
        throw std::bad_alloc();
    m_positions.reset(positions);
    auto *wide = reinterpret_cast<saidx_t *>(positions);
    divsufsort(reinterpret_cast<const sauchar_t *>(bytes), wide, saidx_t(size));
    for (std::size_t i = 0; i < size; ++i) {
        const auto position = std::uint32_t(wide[i]);
        positions[3 * i] = std::uint8_t(position);
        positions[3 * i + 1] = std::uint8_t(position >> 8);
        positions[3 * i + 2] = std::uint8_t(position >> 16);
    }
    if (auto *smaller = static_cast<std::uint8_t *>(std::realloc(positions, 3 * size))) {
        (void)m_positions.release();
        m_positions.reset(smaller);
    }
    m_size = size;
}

void SeenText::Suffixes::Free::operator()(std::uint8_t *positions) const {
    std::free(positions);
}

SeenText::~SeenText() {
    finishMerge(true);
}

void SeenText::keepStore() {
    auto copy = std::make_shared<std::string>();
    copy->reserve(m_store->capacity());
    *copy = *m_store;
    m_store = std::move(copy);
}

void SeenText::reset(QStringView text) {
    finishMerge(true);
    // A new store: the old one lives on while a level list holds addresses in it.
    m_store = std::make_shared<std::string>();
    m_lastAppended.reset();
    m_segments = std::vector<Segment>();
    m_added = std::vector<Added>();
    m_addedCount = 0;
    m_runs = std::vector<std::uint64_t>();
    m_runBits = 0;
    appendAddressBytes(text, *m_store);
    if (!m_store->empty())
        m_segments.push_back({0, m_store->size(), {}});
    remember(0, 0);
    maintain();
}

void SeenText::remember(std::size_t begin, std::size_t added) {
    const std::string_view address = std::string_view(*m_store).substr(begin);
    if (2 * (m_addedCount + 1) > m_added.size()) {
        std::vector<Added> old(std::max<std::size_t>(64, 2 * m_added.size()));
        old.swap(m_added);
        for (const Added &added : old) {
            if (!added.hash)
                continue;
            std::size_t slot = added.hash & (m_added.size() - 1);
            while (m_added[slot].hash)
                slot = (slot + 1) & (m_added.size() - 1);
            m_added[slot] = added;
        }
    }
    const std::uint64_t hash = hashOf(address);
    std::size_t slot = hash & (m_added.size() - 1);
    while (m_added[slot].hash)
        slot = (slot + 1) & (m_added.size() - 1);
    m_added[slot] = {hash, begin};
    ++m_addedCount;

    // The runs that end in the new bytes; all of them again when the bit set grows.
    std::size_t from = added - std::min(added, runBytes - 1);
    if (m_runBits == 0 || (std::size_t(1) << m_runBits) < 4 * m_store->size()) {
        m_runBits =
            std::max(16, int(std::bit_width(8 * std::max<std::size_t>(m_store->size(), 1) - 1)));
        m_runs.assign((std::size_t(1) << m_runBits) / 64, 0);
        from = 0;
    }
    for (std::size_t at = from; at + runBytes <= m_store->size(); ++at) {
        const std::uint64_t bit = runHash(m_store->data() + at, m_runBits);
        m_runs[bit / 64] |= std::uint64_t(1) << (bit % 64);
    }
}

bool SeenText::addedBefore(std::string_view sought) const {
    if (m_added.empty())
        return false;
    const std::uint64_t hash = hashOf(sought);
    for (std::size_t slot = hash & (m_added.size() - 1); m_added[slot].hash;
         slot = (slot + 1) & (m_added.size() - 1)) {
        // Equal bytes at that place are an occurrence, whatever was added there.
        if (m_added[slot].hash == hash &&
            std::string_view(*m_store).substr(m_added[slot].begin, sought.size()) == sought)
            return true;
    }
    return false;
}

bool SeenText::mayOccur(std::string_view sought) const {
    if (m_runBits == 0)
        return true;
    for (std::size_t at = 0; at + runBytes <= sought.size(); ++at) {
        const std::uint64_t bit = runHash(sought.data() + at, m_runBits);
        if (!(m_runs[bit / 64] & std::uint64_t(1) << (bit % 64)))
            return false;
    }
    return true;
}

void SeenText::append(QStringView address) {
    const std::size_t begin = m_store->size();
    makeRoom(*m_store, 1 + 3 * std::size_t(address.size()));
    *m_store += ',';
    appendAddressBytes(address, *m_store);
    m_lastAppended = Place{begin + 1, m_store->size() - begin - 1};
    remember(begin + 1, begin);
    const bool direct =
        !m_segments.empty() && m_segments.back().suffixes.empty() && !m_segments.back().merging;
    if (direct)
        m_segments.back().end = m_store->size();
    else
        m_segments.push_back({begin, m_store->size(), {}});
}

std::optional<SeenText::Place> SeenText::lastAppended(QStringView address) {
    if (!m_lastAppended)
        return std::nullopt;
    m_sought.clear();
    appendAddressBytes(address, m_sought);
    if (std::string_view(*m_store).substr(m_lastAppended->begin, m_lastAppended->size) != m_sought)
        return std::nullopt;
    return m_lastAppended;
}

bool SeenText::contains(QStringView address) {
    // Nothing is found in an empty text, and an empty address in any other.
    if (m_store->empty())
        return false;
    // The encoding goes into a buffer kept from test to test: most addresses are too long
    // for a string's own room, and the crawl tests one per link.
    m_sought.clear();
    appendAddressBytes(address, m_sought);
    const std::string &sought = m_sought;
    if (sought.empty() || addedBefore(sought))
        return true;
    if (sought.size() > m_store->size() || !mayOccur(sought))
        return false;
    // Only a test that needs the segments sorts them: most never do.
    maintain();
    const std::string_view all(*m_store);
    for (std::size_t i = 0; i < m_segments.size(); ++i) {
        if (inSegment(m_segments[i], sought))
            return true;
        // An occurrence that straddles the border before this segment starts within the
        // last size - 1 bytes of the text before it.
        if (i > 0 && sought.size() > 1) {
            const std::size_t border = m_segments[i].begin;
            const std::size_t from = border - std::min(border, sought.size() - 1);
            if (occurs(all.substr(from, 2 * (sought.size() - 1)), sought))
                return true;
        }
    }
    return false;
}

QString SeenText::text() const {
    return addressFromBytes(*m_store);
}

bool SeenText::inSegment(const Segment &segment, std::string_view sought) const {
    const char *text = m_store->data() + segment.begin;
    const std::size_t size = segment.end - segment.begin;
    if (segment.suffixes.empty())
        return occurs(std::string_view(text, size), sought);
    // The first suffix not below `sought` starts with it when any suffix does. The suffixes
    // between two that share a prefix with `sought` share it too, so each step compares
    // only from the shorter of the bounds' common prefixes on.
    std::size_t low = 0, high = segment.suffixes.size();
    std::size_t lowCommon = 0, highCommon = 0;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const std::size_t at = segment.suffixes[middle];
        const std::size_t limit = std::min(sought.size(), size - at);
        const std::size_t common =
            commonPrefix(text + at, sought.data(), std::min(lowCommon, highCommon), limit);
        const bool below =
            common < sought.size() &&
            (common == limit || std::uint8_t(text[at + common]) < std::uint8_t(sought[common]));
        if (below) {
            low = middle + 1;
            lowCommon = common;
        } else {
            high = middle;
            highCommon = common;
        }
    }
    return high < segment.suffixes.size() && highCommon == sought.size();
}

// Keeps the segments few: a trailing segment is sorted once it is large enough, and a run
// of fanOut sorted segments of one size class or smaller is merged into one.
void SeenText::maintain() {
    finishMerge(false);
    const std::size_t largest = largestSegment(m_directBytes);
    // A directly searched tail that outgrew the largest sortable size is cut.
    while (!m_segments.empty() && m_segments.back().suffixes.empty() &&
           !m_segments.back().merging &&
           m_segments.back().end - m_segments.back().begin > largest) {
        const std::size_t cut = m_segments.back().begin + largest;
        const std::size_t end = m_segments.back().end;
        m_segments.back().end = cut;
        m_segments.push_back({cut, end, {}});
    }
    const auto sorted = [&](std::size_t i) {
        return !m_segments[i].merging && !m_segments[i].suffixes.empty();
    };
    const auto classOf = [&](std::size_t i) {
        return sizeClass(m_segments[i].end - m_segments[i].begin, m_directBytes);
    };
    for (bool changed = true; changed;) {
        changed = false;
        // Every directly searched segment but a small tail is sorted, the oldest first.
        for (std::size_t i = 0; i < m_segments.size() && !changed; ++i) {
            const Segment &segment = m_segments[i];
            if (segment.suffixes.empty() && !segment.merging &&
                (i + 1 < m_segments.size() || segment.end - segment.begin >= m_directBytes))
                changed = merge(i, i);
        }
        // Runs are looked for from the newest segments back: a run that had to wait for
        // the worker is merged on a later call.
        for (std::size_t end = m_segments.size(); end > 0 && !changed;) {
            const std::size_t last = end - 1;
            std::size_t first = last;
            if (sorted(last)) {
                while (first > 0 && sorted(first - 1) && classOf(first - 1) <= classOf(last) &&
                       m_segments[last].end - m_segments[first - 1].begin <= largest)
                    --first;
                // Near the largest size, fewer than fanOut are merged.
                const std::size_t size = m_segments[last].end - m_segments[first].begin;
                if (last - first + 1 >= fanOut || (last > first && size > largest / 2))
                    changed = merge(first, last);
            }
            end = first;
        }
    }
}

bool SeenText::merge(std::size_t first, std::size_t last) {
    const std::size_t begin = m_segments[first].begin;
    const std::size_t end = m_segments[last].end;
    if (end - begin <= m_directBytes * inPlaceFactor) {
        Suffixes suffixes(m_store->data() + begin, end - begin);
        m_segments.erase(m_segments.begin() + std::ptrdiff_t(first + 1),
                         m_segments.begin() + std::ptrdiff_t(last + 1));
        m_segments[first] = {begin, end, std::move(suffixes)};
        return true;
    }
    if (m_merge.suffixes.valid())
        return false;
    for (std::size_t i = first; i <= last; ++i)
        m_segments[i].merging = true;
    // The worker sorts a copy: appends may move the text meanwhile.
    m_merge = {begin, end,
               std::async(std::launch::async, [bytes = m_store->substr(begin, end - begin)] {
                   return Suffixes(bytes.data(), bytes.size());
               })};
    if (m_merges == Merges::Awaited)
        finishMerge(true);
    return true;
}

bool SeenText::finishMerge(bool wait) {
    if (!m_merge.suffixes.valid())
        return false;
    if (!wait && m_merge.suffixes.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return false;
    Suffixes suffixes = m_merge.suffixes.get();
    const auto first = std::find_if(m_segments.begin(), m_segments.end(),
                                    [](const Segment &segment) { return segment.merging; });
    // A reset while the worker ran has dropped the segments it was sorting.
    if (first == m_segments.end() || first->begin != m_merge.begin)
        return true;
    const auto last = std::find_if(first, m_segments.end(), [&](const Segment &segment) {
        return segment.end == m_merge.end;
    });
    m_segments.erase(first + 1, last + 1);
    *first = {m_merge.begin, m_merge.end, std::move(suffixes)};
    return true;
}
