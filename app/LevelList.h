#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>
#include <QStyledItemDelegate>

// The entries of one level list. A sorted list keeps its entries in alphabetical order
// without regard to letter case (an entry equal to others goes after them); an unsorted one
// keeps the order of adding.
class LevelListModel final : public QAbstractListModel {
public:
    enum class Order { Sorted, AsAdded };
    explicit LevelListModel(Order order, QObject *parent = nullptr);

    void add(const QString &text);
    void clear();
    const QStringList &entries() const { return m_entries; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    Order m_order;
    QStringList m_entries;
};

// Draws an entry of at most `shownCharacters` characters, the rest elided: laying out an
// address of megabytes would hold the window for seconds, and no list is that wide.
class ShortEntryDelegate final : public QStyledItemDelegate {
public:
    static constexpr qsizetype shownCharacters = 300;
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

// A list box of level links: one selected entry at most. Each entry keeps its whole text;
// only what is drawn is cut short.
class LevelList final : public QListView {
public:
    explicit LevelList(LevelListModel::Order order, QWidget *parent = nullptr);

    void add(const QString &text) { m_model.add(text); }
    void clear() { m_model.clear(); }
    int count() const { return m_model.rowCount(); }
    // Makes entry `index` the selected one; false when there is no such entry.
    bool select(int index);
    // The text of the selected entry; empty when none is selected.
    QString selectedText() const;

private:
    LevelListModel m_model;
    ShortEntryDelegate m_delegate;
};
