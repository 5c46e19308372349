#include "LevelList.h"

#include <algorithm>

LevelListModel::LevelListModel(Order order, QObject *parent)
    : QAbstractListModel(parent)
    , m_order(order) {
}

void LevelListModel::add(const QString &text) {
    qsizetype row = m_entries.size();
    if (m_order == Order::Sorted) {
        const auto place = std::upper_bound(
            m_entries.cbegin(), m_entries.cend(), text, [](const QString &a, const QString &b) {
                return QString::compare(a, b, Qt::CaseInsensitive) < 0;
            });
        row = place - m_entries.cbegin();
    }
    beginInsertRows({}, int(row), int(row));
    m_entries.insert(row, text);
    endInsertRows();
}

void LevelListModel::clear() {
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

int LevelListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant LevelListModel::data(const QModelIndex &index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_entries.size())
        return {};
    return m_entries.at(index.row());
}

LevelList::LevelList(LevelListModel::Order order, QWidget *parent)
    : QListView(parent)
    , m_model(order) {
    setModel(&m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Lists grow to tens of thousands of entries during a crawl: lay them out lazily.
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
}

bool LevelList::select(int index) {
    if (index < 0 || index >= count())
        return false;
    setCurrentIndex(m_model.index(index));
    return true;
}

QString LevelList::selectedText() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : m_model.entries().at(selected.first().row());
}
