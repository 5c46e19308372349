#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The entries of one level list and its selection, without a face: the window's list boxes
// show it, the command line reads it directly. A sorted list keeps its entries in
// alphabetical order without regard to letter case (an entry equal to others goes after
// them); an unsorted one keeps the order of adding. At most one entry is selected, and it
// stays selected as entries are inserted before it. Lives on one thread.
class LevelListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum class Order { Sorted, AsAdded };
    explicit LevelListModel(Order order, QObject *parent = nullptr);

    void add(const QString &text);
    // Removes every entry; none is selected afterwards.
    void clear();
    int count() const { return int(m_entries.size()); }
    // REQUIRES: 0 <= index < count().
    const QString &at(int index) const { return m_entries.at(index); }
    // Every entry in the list's order, for writing the list out.
    const QStringList &entries() const { return m_entries; }

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

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

Q_SIGNALS:
    // Another entry, or none (-1), has become the selected one. Not sent when an insertion
    // only moves the selected entry down a row.
    void selectionMoved(int row);

private:
    Order m_order;
    QStringList m_entries;
    int m_selected = -1;
};
