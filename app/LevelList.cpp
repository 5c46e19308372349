#include "LevelList.h"

#include <algorithm>
#include <cstring>

namespace {

QString shortened(const QString &entry) {
    qsizetype shown = ShortEntryDelegate::shownCharacters;
    if (entry.size() <= shown)
        return entry;
    // Half a surrogate pair is never drawn.
    if (entry.at(shown - 1).isHighSurrogate())
        --shown;
    return entry.left(shown) + QChar(0x2026);
}

// Alphabetical order without regard to letter case. Addresses of megabytes often share all
// but their ends, so the run of identical code units they start with is skipped first, a
// word at a time: it compares equal however case is folded.
bool lessIgnoringCase(QStringView a, QStringView b) {
    const qsizetype limit = std::min(a.size(), b.size());
    qsizetype same = 0;
    for (; same + 4 <= limit; same += 4) {
        if (std::memcmp(a.data() + same, b.data() + same, 8) != 0)
            break;
    }
    while (same < limit && a[same] == b[same])
        ++same;
    // A surrogate pair is folded as one character.
    if (same > 0 && a[same - 1].isHighSurrogate())
        --same;
    return a.mid(same).compare(b.mid(same), Qt::CaseInsensitive) < 0;
}

} // namespace

LevelListModel::LevelListModel(Order order, QObject *parent)
    : QAbstractListModel(parent)
    , m_order(order) {
}

void LevelListModel::add(const QString &text) {
    qsizetype row = m_entries.size();
    if (m_order == Order::Sorted) {
        const auto place = std::upper_bound(
            m_entries.cbegin(), m_entries.cend(), text,
            [](const QString &a, const QString &b) { return lessIgnoringCase(a, b); });
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
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const QString &entry = m_entries.at(index.row());
    if (role == Qt::DisplayRole)
        return entry;
    // What a screen reader says is cut short as what is drawn.
    if (role == Qt::AccessibleTextRole)
        return shortened(entry);
    return {};
}

void ShortEntryDelegate::initStyleOption(QStyleOptionViewItem *option,
                                         const QModelIndex &index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = shortened(option->text);
}

LevelList::LevelList(LevelListModel::Order order, QWidget *parent)
    : QListView(parent)
    , m_model(order) {
    setModel(&m_model);
    setItemDelegate(&m_delegate);
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
