#pragma once

#include <QObject>
#include <QStringList>

#include <cstdint>
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
// once, as bytes (AddressBytes.h) in one store that only grows until the list is emptied,
// and an entry is its place in the store; its text is made afresh where it is read. The
// entries are kept in blocks of a few hundred, so that an insertion moves a block's entries
// and not the list's, and finding an entry by its row looks through the blocks' first rows.
class LevelListModel final : public QObject {
    Q_OBJECT
public:
    enum class Order { Sorted, AsAdded };
    explicit LevelListModel(Order order, QObject *parent = nullptr);

    void add(const QString &text);
    // Removes every entry; none is selected afterwards.
    void clear();
    int count() const { return m_count; }
    // REQUIRES: 0 <= index < count().
    QString at(int index) const;
    // Every entry in the list's order, for writing the list out.
    QStringList entries() const;
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
    // Where an entry's bytes stand in m_bytes.
    struct Entry {
        std::size_t begin;
        std::size_t size;
    };
    using Block = std::vector<Entry>;

    // The block holding row `index`, 0 <= index < count().
    std::size_t blockOf(int index) const;
    std::string_view bytesOf(const Entry &entry) const {
        return {m_bytes.data() + entry.begin, entry.size};
    }
    const Entry &entryAt(int index) const;

    Order m_order;
    std::string m_bytes;
    // Never empty; only the last block may be, and only while the list is.
    std::vector<Block> m_blocks;
    // The row of each block's first entry.
    std::vector<int> m_firstRows;
    int m_count = 0;
    int m_selected = -1;
    quint64 m_generation = 0;
};
