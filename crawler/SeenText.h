#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One of the window's seen-lists: addresses joined by commas. An address counts as seen
// when it occurs anywhere in the text, commas included, so "a/b" is seen once "a/bc" has
// been added, and "b,c" once "a,b" and then "c" have.
//
// The text is kept once, as bytes (AddressBytes.h): one byte for most characters, and a
// run of code units occurs in the text exactly when its bytes occur in the bytes. The bytes
// are cut into consecutive segments of growing size, each with a suffix array of its own: a
// test searches every segment's array and, directly, the bytes around each border between
// two segments, where an occurrence may straddle both. That costs the address's length
// times the logarithm of the text's, at four bytes per character of text. New text first
// lands in a segment that is searched directly; small segments are merged in place, large
// merges are sorted on a worker thread while the old segments go on answering, so no test
// holds its caller for long.
//
// Most tests are answered before any segment is searched: an address added before is found
// by its hash (and its bytes compared), and one that holds eight bytes in a row that occur
// nowhere in the text is absent, which a bit set of every eight-byte run of the text tells.
// Segments are sorted and merged only when a test gets that far.
//
// Not thread-safe: one thread calls every member.
class SeenText {
public:
    // A trailing segment is searched directly until it holds `directBytes` bytes, and the
    // sizes at which segments are sorted and merged scale with it; tests make it small to
    // reach every path with short texts.
    //
    // `merges`: whether a merge on the worker is waited for at once. The fuzz target waits,
    // so that the paths taken do not hang on the worker's timing.
    enum class Merges { Background, Awaited };
    explicit SeenText(std::size_t directBytes = 4096, Merges merges = Merges::Background)
        : m_directBytes(directBytes)
        , m_merges(merges) {}
    SeenText(const SeenText &) = delete;
    SeenText &operator=(const SeenText &) = delete;
    ~SeenText();

    // Replaces the text with `text`.
    void reset(QStringView text);
    // Appends a comma and `address`.
    void append(QStringView address);
    // True when `address` occurs in the text (by textPosition's rules). When the segments
    // must be searched, puts a merge the worker has finished in place first, and sorts or
    // merges what has grown since.
    bool contains(QStringView address);
    // The text, decoded afresh from its bytes.
    QString text() const;

    // The level lists hold the addresses listed in the seen-lists' bytes, by their place:
    // the bytes appended stay where they are until reset(), which starts a new store, and
    // the old one lives on while a list holds it.
    struct Place {
        std::size_t begin;
        std::size_t size;
    };
    std::shared_ptr<const std::string> store() const { return m_store; }
    // Keeps the bytes of store() as they are from now on, for readers on other threads:
    // appends go on in a copy, which becomes store(). Costs a copy of the text.
    void keepStore();
    // Where the last append put its address in store(), when that address is `address`.
    std::optional<Place> lastAppended(QStringView address);

    // The positions of a segment's suffixes in their sorted order, three bytes each.
    class Suffixes {
    public:
        Suffixes() = default;
        // Sorts the suffixes of `size` bytes, fewer than 2^24.
        Suffixes(const char *bytes, std::size_t size);
        std::size_t size() const { return m_size; }
        bool empty() const { return m_size == 0; }
        std::uint32_t operator[](std::size_t i) const {
            const std::uint8_t *at = m_positions.get() + 3 * i;
            return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16;
        }

    private:
        struct Free {
            void operator()(std::uint8_t *positions) const;
        };
        std::unique_ptr<std::uint8_t[], Free> m_positions;
        std::size_t m_size = 0;
    };

private:
    struct Segment {
        std::size_t begin;
        std::size_t end;
        // Empty while the segment is searched directly.
        Suffixes suffixes;
        // A worker is sorting this segment together with its neighbours.
        bool merging = false;
    };
    // A merge sorted on a worker: the segments from `begin` to `end` become one.
    struct Merge {
        std::size_t begin;
        std::size_t end;
        std::future<Suffixes> suffixes;
    };

    void maintain();
    // Makes segments `first` to `last` one sorted segment, or has a worker sort them; false
    // when they are too large to sort here and the worker is busy.
    bool merge(std::size_t first, std::size_t last);
    // Puts the worker's result in place once it is ready (or at once, waiting for it);
    // false when there was none.
    bool finishMerge(bool wait);
    bool inSegment(const Segment &segment, std::string_view sought) const;
    // Files the address that starts at byte `begin` of the text, and the eight-byte runs
    // that end in the bytes added from `added` on.
    void remember(std::size_t begin, std::size_t added);
    bool addedBefore(std::string_view sought) const;
    bool mayOccur(std::string_view sought) const;

    std::size_t m_directBytes;
    Merges m_merges;
    std::shared_ptr<std::string> m_store = std::make_shared<std::string>();
    std::optional<Place> m_lastAppended;
    std::vector<Segment> m_segments;
    Merge m_merge{};
    // Where each address added starts, by its hash: an open-addressed table, half empty,
    // whose empty slots hold hash 0.
    struct Added {
        std::uint64_t hash;
        std::size_t begin;
    };
    std::vector<Added> m_added;
    std::size_t m_addedCount = 0;
    // A bit for the hash of each eight-byte run of the text, at least four bits a byte.
    std::vector<std::uint64_t> m_runs;
    std::string m_sought;
    int m_runBits = 0;
};
