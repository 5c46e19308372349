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

namespace {

// A block is split in two when it grows past this many entries.
constexpr qsizetype blockLimit = 512;

} // namespace

LevelListModel::LevelListModel(Order order, QObject *parent)
    : QObject(parent)
    , m_order(order)
    , m_blocks(1)
    , m_firstRows(1, 0) {
}

std::size_t LevelListModel::blockOf(int index) const {
    return std::size_t(std::upper_bound(m_firstRows.cbegin(), m_firstRows.cend(), index) -
                       m_firstRows.cbegin() - 1);
}

const QString &LevelListModel::at(int index) const {
    const std::size_t block = blockOf(index);
    return m_blocks[block].at(index - m_firstRows[block]);
}

QStringList LevelListModel::entries() const {
    QStringList result;
    result.reserve(m_count);
    for (const QStringList &block : m_blocks)
        result.append(block);
    return result;
}

void LevelListModel::add(const QString &text) {
    std::size_t block = m_blocks.size() - 1;
    qsizetype place = m_blocks[block].size();
    if (m_order == Order::Sorted && m_count > 0) {
        const auto less = [](const QString &a, const QString &b) { return lessIgnoringCase(a, b); };
        // The first block whose last entry sorts after the text holds its place.
        const auto after = std::upper_bound(
            m_blocks.cbegin(), m_blocks.cend(), text,
            [&less](const QString &a, const QStringList &b) { return less(a, b.last()); });
        if (after != m_blocks.cend()) {
            block = std::size_t(after - m_blocks.cbegin());
            place = std::upper_bound(after->cbegin(), after->cend(), text, less) - after->cbegin();
        }
    }
    QStringList &entries = m_blocks[block];
    entries.insert(place, text);
    const int row = m_firstRows[block] + int(place);
    for (std::size_t next = block + 1; next < m_firstRows.size(); ++next)
        ++m_firstRows[next];
    if (entries.size() > blockLimit) {
        QStringList back = entries.sliced(blockLimit / 2);
        entries.resize(blockLimit / 2);
        m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(block) + 1, std::move(back));
        m_firstRows.insert(m_firstRows.begin() + std::ptrdiff_t(block) + 1,
                           m_firstRows[block] + int(blockLimit / 2));
    }
    ++m_count;
    if (m_selected >= row)
        ++m_selected;
    Q_EMIT changed();
}

void LevelListModel::clear() {
    m_blocks.assign(1, QStringList());
    m_firstRows.assign(1, 0);
    m_count = 0;
    ++m_generation;
    const bool hadSelection = m_selected >= 0;
    m_selected = -1;
    Q_EMIT changed();
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
    return m_selected < 0 ? QString() : at(m_selected);
}
