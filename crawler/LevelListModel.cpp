#include "LevelListModel.h"

#include <algorithm>
#include <cstring>

namespace {

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

QString LevelListModel::shortened(const QString &entry) {
    qsizetype shown = shownCharacters;
    if (entry.size() <= shown)
        return entry;
    // Half a surrogate pair is never drawn.
    if (entry.at(shown - 1).isHighSurrogate())
        --shown;
    return entry.left(shown) + QChar(0x2026);
}

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
    if (m_selected >= row)
        ++m_selected;
    endInsertRows();
}

void LevelListModel::clear() {
    beginResetModel();
    m_entries.clear();
    const bool hadSelection = m_selected >= 0;
    m_selected = -1;
    endResetModel();
    if (hadSelection)
        Q_EMIT selectionMoved(-1);
}

bool LevelListModel::select(int index) {
    if (index < 0 || index >= count())
        return false;
    if (index != m_selected) {
        m_selected = index;
        Q_EMIT selectionMoved(index);
    }
    return true;
}

void LevelListModel::unselect() {
    if (m_selected < 0)
        return;
    m_selected = -1;
    Q_EMIT selectionMoved(-1);
}

QString LevelListModel::selectedText() const {
    return m_selected < 0 ? QString() : m_entries.at(m_selected);
}

int LevelListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant LevelListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const QString &entry = m_entries.at(index.row());
    if (role == Qt::DisplayRole)
        return entry;
    // What a screen reader says is cut short as what is drawn.
    if (role == Qt::AccessibleTextRole)
        return shortened(entry);
    return {};
}
