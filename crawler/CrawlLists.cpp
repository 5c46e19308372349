#include "CrawlLists.h"

namespace {

std::size_t sideIndex(Side side) {
    return side == Side::Internal ? 0 : 1;
}

} // namespace

CrawlLists::CrawlLists()
    : m_captions{QStringLiteral("0"), QStringLiteral("0")} {
    for (int level = 0; level < levels; ++level) {
        m_internal[level] = std::make_unique<LevelListModel>(LevelListModel::Order::Sorted);
        m_external[level] = std::make_unique<LevelListModel>(LevelListModel::Order::AsAdded);
    }
}

CrawlLists::~CrawlLists() = default;

LevelListModel &CrawlLists::list(Side side, int level) const {
    return *(side == Side::Internal ? m_internal : m_external)[level];
}

void CrawlLists::clear() {
    for (int level = 0; level < levels; ++level) {
        m_internal[level]->clear();
        m_external[level]->clear();
    }
    setCountCaption(Side::Internal, QStringLiteral("0"));
    setCountCaption(Side::External, QStringLiteral("0"));
}

SeenText &CrawlLists::seen(Side side) {
    return side == Side::Internal ? strInternalSeen : strExternalSeen;
}

void CrawlLists::addLink(Side side, int level, const QString &address) {
    // The harvest lists what it has just remembered: the list then holds the seen-list's
    // bytes of the address, not bytes of its own.
    SeenText &remembered = seen(side);
    if (const std::optional<SeenText::Place> place = remembered.lastAppended(address))
        list(side, level).addStored(remembered.store(), place->begin, place->size);
    else
        list(side, level).add(address);
}

int CrawlLists::linkCount(int level) const {
    return m_internal[level]->count();
}

bool CrawlLists::selectLink(int level, int index) {
    return m_internal[level]->select(index);
}

QString CrawlLists::selectedLink(int level) const {
    return m_internal[level]->selectedText();
}

std::shared_ptr<const FrozenLinks> CrawlLists::frozenLinks(int level) {
    // Selecting each entry in turn would end the same way: nothing sees the entries between.
    if (const int count = linkCount(level); count > 0)
        selectLink(level, count - 1);
    return m_internal[level]->freeze();
}

QString CrawlLists::countCaption(Side side) const {
    return m_captions[sideIndex(side)];
}

void CrawlLists::setCountCaption(Side side, const QString &caption) {
    m_captions[sideIndex(side)] = caption;
}
