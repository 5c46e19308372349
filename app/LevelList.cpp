#include "LevelList.h"

#include <QItemSelectionModel>

void ShortEntryDelegate::initStyleOption(QStyleOptionViewItem *option,
                                         const QModelIndex &index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = LevelListModel::shortened(option->text);
}

LevelList::LevelList(LevelListModel &model, QWidget *parent)
    : QListView(parent)
    , m_model(model) {
    setModel(&m_model);
    setItemDelegate(&m_delegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Lists grow to tens of thousands of entries during a crawl: lay them out lazily.
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    showSelection(m_model.selectedRow());
    connect(&m_model, &LevelListModel::selectionMoved, this, &LevelList::showSelection);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LevelList::takeSelection);
}

void LevelList::showSelection(int row) {
    if (row < 0)
        selectionModel()->clearSelection();
    else
        setCurrentIndex(m_model.index(row));
}

void LevelList::takeSelection() {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        m_model.unselect();
    else
        m_model.select(selected.first().row());
}
