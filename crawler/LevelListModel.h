#pragma once

#include "SitemapDocument.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The entries of one level list and its selection, without a face: the window's list boxes
// show it, the command line reads it directly. A sorted list keeps its entries in
// alphabetical order without regard to letter case (an entry equal to others goes after
// them); an unsorted one keeps the order of adding. At most one entry is selected, and it
// stays selected as entries are inserted before it. Lives on one thread.
//
// A list grows to a million entries during a crawl, in any order. Each entry's text is held
// once, as bytes (AddressBytes.h): in the seen-list that remembered it when the crawl adds
// it (addStored), in stores of the list's own otherwise; an entry is its place there, and
// its text is made afresh where it is read. The entries are kept in blocks of a few hundred,
// so that an insertion moves a block's entries and not the list's, and finding an entry by
// its row looks through the blocks' first rows.
class LevelListModel final : public QObject {
    Q_OBJECT
public:
    enum class Order { Sorted, AsAdded };
    explicit LevelListModel(Order order, QObject *parent = nullptr);

    void add(const QString &text);
    // Adds the text whose bytes stand at `begin` in `store`, as add() would. The list keeps
    // `store` while it holds the entry; bytes once there must stay as they are.
    void addStored(std::shared_ptr<const std::string> store, std::size_t begin, std::size_t size);
    // Removes every entry; none is selected afterwards.
    void clear();
    int count() const { return m_count; }
    // REQUIRES: 0 <= index < count().
    QString at(int index) const;
    // Every entry in the list's order, for writing the list out.
    QStringList entries() const;
    // The entries as they stand, kept as they are whatever becomes of the list: their places
    // are copied, their bytes shared. REQUIRES: the bytes of the entries stay where they are
    // (a seen-list's store grows by moving; SeenText::keepStore() keeps it in place).
    std::shared_ptr<const FrozenLinks> freeze() const;
    // Raised by each clear(), so that a face can tell a list emptied and filled again from
    // one that only grew.
    quint64 generation() const { return m_generation; }

    // Makes entry `index` the selected one; false, and the selection as it was, when there is
    // no such entry.
    bool select(int index);
    void unselect();
    // The row of the selected entry; -1 when none is.
    int selectedRow() const { return m_selected; }
    // The text of the selected entry; empty when none is selected.
    QString selectedText() const;

    // An entry cut to what a list box shows: at most `shownCharacters` characters, the rest
    // elided. Laying out an address of megabytes would hold the window for seconds, and no
    // list is that wide.
    static constexpr qsizetype shownCharacters = 300;
    static QString shortened(const QString &entry);

Q_SIGNALS:
    // Entries were added or removed.
    void changed();
    // Another entry, or none (-1), has become the selected one. Not sent when an insertion
    // only moves the selected entry down a row.
    void selectionMoved(int row);

private:
    class Frozen;

    // Where an entry's bytes stand: in m_stores[store], from `begin` on. A list's own stores
    // hold 64 KiB at least, and a seen-list starts one store per crawl, so 2^24 stores of up
    // to 2^40 bytes are more than memory holds.
    struct Entry {
        std::uint64_t begin : 40;
        std::uint64_t store : 24;
        std::uint64_t size : 63;
        // 1: the address is ASCII with nothing to escape and no control character, so its
        // escaped text is its bytes, without a line break.
        std::uint64_t plain : 1;
    };
    using Block = std::vector<Entry>;

    // Files the address of `size` bytes at `begin` in `store` in its place.
    void insert(std::size_t begin, std::uint64_t store, std::size_t size);
    // The index of `store` in m_stores, which takes it in when new.
    std::uint64_t storeIndex(std::shared_ptr<const std::string> store);
    // The block holding row `index`, 0 <= index < count().
    std::size_t blockOf(int index) const;
    std::string_view bytesOf(const Entry &entry) const {
        return std::string_view(*m_stores[entry.store]).substr(entry.begin, entry.size);
    }
    const Entry &entryAt(int index) const;

    Order m_order;
    // Every store an entry stands in. The list's own are filled no further than the room
    // they were made with, so their bytes never move.
    std::vector<std::shared_ptr<const std::string>> m_stores;
    std::shared_ptr<std::string> m_own;
    // Never empty; only the last block may be, and only while the list is.
    std::vector<Block> m_blocks;
    // The row of each block's first entry.
    std::vector<int> m_firstRows;
    int m_count = 0;
    // The ASCII characters of the plain entries, a bit each.
    std::array<std::uint64_t, 2> m_plainCharacters{};
    int m_selected = -1;
    quint64 m_generation = 0;
};
