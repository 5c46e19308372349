#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>

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

// A list box of level links: one selected entry at most.
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
};
