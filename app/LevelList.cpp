#include "LevelList.h"

#include <QItemSelectionModel>

void ShortEntryDelegate::initStyleOption(QStyleOptionViewItem *option,
                                         const QModelIndex &index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = LevelListModel::shortened(option->text);
}

ShownEntries::ShownEntries(const LevelListModel &entries, QObject *parent)
    : QAbstractListModel(parent)
    , m_entries(entries)
    , m_shown(entries.count())
    , m_generation(entries.generation()) {
}

void ShownEntries::catchUp() {
    const int count = m_entries.count();
    if (m_generation != m_entries.generation() || count < m_shown) {
        beginResetModel();
        m_shown = count;
        m_generation = m_entries.generation();
        endResetModel();
        return;
    }
    if (count == m_shown)
        return;
    // Sorted entries land anywhere: the rows are told of as added at the end, and every row
    // as changed.
    beginInsertRows({}, m_shown, count - 1);
    m_shown = count;
    endInsertRows();
    Q_EMIT dataChanged(index(0), index(count - 1));
}

int ShownEntries::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_shown;
}

QVariant ShownEntries::data(const QModelIndex &index, int role) const {
    // Until the next catchUp() a row may be gone from the model.
    if (!index.isValid() || index.row() >= m_entries.count())
        return {};
    const QString entry = m_entries.at(index.row());
    if (role == Qt::DisplayRole)
        return entry;
    // What a screen reader says is cut short as what is drawn.
    if (role == Qt::AccessibleTextRole)
        return LevelListModel::shortened(entry);
    return {};
}

LevelList::LevelList(LevelListModel &model, QWidget *parent)
    : QListView(parent)
    , m_model(model)
    , m_shown(model) {
    setModel(&m_shown);
    setItemDelegate(&m_delegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Lists grow to hundreds of thousands of entries during a crawl: lay them out lazily.
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    constexpr int frameMs = 16;
    m_frame.setSingleShot(true);
    m_frame.setInterval(frameMs);
    connect(&m_frame, &QTimer::timeout, this, &LevelList::catchUp);
    connect(&m_model, &LevelListModel::changed, this, &LevelList::catchUpLater);
    connect(&m_model, &LevelListModel::selectionMoved, this, &LevelList::catchUpLater);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LevelList::takeSelection);
    catchUp();
}

void LevelList::catchUpLater() {
    if (!m_frame.isActive())
        m_frame.start();
}

void LevelList::catchUp() {
    m_frame.stop();
    m_shown.catchUp();
    const int row = m_model.selectedRow();
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (row < 0 && !selected.isEmpty())
        selectionModel()->clearSelection();
    else if (row >= 0 && (selected.isEmpty() || selected.first().row() != row))
        setCurrentIndex(m_shown.index(row));
}

void LevelList::takeSelection() {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        m_model.unselect();
    else
        m_model.select(selected.first().row());
}
