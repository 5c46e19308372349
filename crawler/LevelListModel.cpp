#include "LevelListModel.h"

#include "AddressBytes.h"

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

// lessIgnoringCase on the texts whose bytes (AddressBytes.h) are `a` and `b`. The run of
// identical bytes the two start with holds identical code units; from a byte that is ASCII
// in both on, bytes and code units line up, and an ASCII letter folds to its lower case.
// Only where a text goes on beyond ASCII before the two differ are they decoded.
bool bytesLessIgnoringCase(std::string_view a, std::string_view b) {
    const std::size_t limit = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (; i + 8 <= limit; i += 8) {
        if (std::memcmp(a.data() + i, b.data() + i, 8) != 0)
            break;
    }
    while (i < limit && a[i] == b[i])
        ++i;
    const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; ++i) {
        if (i == a.size() || i == b.size())
            return i == a.size() && i < b.size();
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x | y) >= 0x80)
            break;
        if (fold(x) != fold(y))
            return fold(x) < fold(y);
    }
    return lessIgnoringCase(addressFromBytes(a), addressFromBytes(b));
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
constexpr std::size_t blockLimit = 512;

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

const LevelListModel::Entry &LevelListModel::entryAt(int index) const {
    const std::size_t block = blockOf(index);
    return m_blocks[block][std::size_t(index - m_firstRows[block])];
}

QString LevelListModel::at(int index) const {
    return addressFromBytes(bytesOf(entryAt(index)));
}

QStringList LevelListModel::entries() const {
    QStringList result;
    result.reserve(m_count);
    for (const Block &block : m_blocks)
        for (const Entry &entry : block)
            result.append(addressFromBytes(bytesOf(entry)));
    return result;
}

class LevelListModel::Frozen final : public FrozenLinks {
public:
    Frozen(std::vector<std::shared_ptr<const std::string>> stores, std::vector<Entry> entries,
           std::array<std::uint64_t, 2> plainCharacters)
        : m_stores(std::move(stores))
        , m_entries(std::move(entries))
        , m_plainCharacters(plainCharacters) {
        for (const std::shared_ptr<const std::string> &store : m_stores)
            m_bytes.push_back(store->data());
    }

    qsizetype count() const override { return qsizetype(m_entries.size()); }
    QString at(qsizetype index) const override { return addressFromBytes(bytesAt(index)); }

    qsizetype escapedSize(qsizetype index, Units units) const override {
        if (m_entries[std::size_t(index)].plain)
            return qsizetype(m_entries[std::size_t(index)].size);
        // An ASCII address is as long as its bytes, but for what escaping adds and, in UTF-8,
        // the three bytes of the character that replaces a control character.
        const std::string_view bytes = bytesAt(index);
        unsigned char any = 0;
        qsizetype added = 0;
        qsizetype controls = 0;
        for (const char c : bytes) {
            any |= static_cast<unsigned char>(c);
            added += c == '&' ? 4 : c == '<' || c == '>' ? 3 : 0;
            controls += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
        }
        if (any < 0x80)
            return qsizetype(bytes.size()) + added + (units == Units::Utf8 ? 2 * controls : 0);
        return FrozenLinks::escapedSize(index, units);
    }

    void appendEscaped(QString &out, qsizetype index) const override {
        const std::string_view bytes = bytesAt(index);
        if (m_entries[std::size_t(index)].plain)
            out += QLatin1StringView(bytes.data(), qsizetype(bytes.size()));
        else
            out += escapedText(addressFromBytes(bytes));
    }

    qsizetype addCharacters(qsizetype index, CharacterSet &characters) const override {
        if (!m_entries[std::size_t(index)].plain)
            return FrozenLinks::addCharacters(index, characters);
        for (const char c : bytesAt(index))
            characters.units[static_cast<unsigned char>(c)] = 1;
        return 0;
    }
    qsizetype lineFeeds(qsizetype index) const override {
        return m_entries[std::size_t(index)].plain ? 0 : FrozenLinks::lineFeeds(index);
    }
    void addAllCharacters(CharacterSet &characters) const override {
        // The plain entries' characters were gathered as they were added: only the others
        // are read.
        for (char16_t u = 0; u < 128; ++u) {
            if ((m_plainCharacters[u / 64] >> (u % 64)) & 1)
                characters.units[u] = 1;
        }
        for (qsizetype index = 0; index < count(); ++index) {
            if (!m_entries[std::size_t(index)].plain)
                FrozenLinks::addCharacters(index, characters);
        }
    }

private:
    std::string_view bytesAt(qsizetype index) const {
        const Entry &entry = m_entries[std::size_t(index)];
        return std::string_view(m_bytes[entry.store] + entry.begin, entry.size);
    }

    std::vector<std::shared_ptr<const std::string>> m_stores;
    // Where each store's bytes begin. The frozen entries are read there, never through the
    // store itself, which its owner may go on appending to beyond them.
    std::vector<const char *> m_bytes;
    std::vector<Entry> m_entries;
    std::array<std::uint64_t, 2> m_plainCharacters;
};

std::shared_ptr<const FrozenLinks> LevelListModel::freeze() const {
    std::vector<Entry> entries;
    entries.reserve(std::size_t(m_count));
    for (const Block &block : m_blocks)
        entries.insert(entries.end(), block.cbegin(), block.cend());
    return std::make_shared<Frozen>(m_stores, std::move(entries), m_plainCharacters);
}

void LevelListModel::add(const QString &text) {
    // The list's own stores are of a fixed size (or one address's), filled in turn.
    constexpr std::size_t ownStoreBytes = 64 * 1024;
    const std::size_t most = 3 * std::size_t(text.size());
    if (!m_own || m_own->size() + most > m_own->capacity()) {
        m_own = std::make_shared<std::string>();
        m_own->reserve(std::max(ownStoreBytes, most));
    }
    const std::size_t begin = m_own->size();
    appendAddressBytes(text, *m_own);
    insert(begin, storeIndex(m_own), m_own->size() - begin);
}

void LevelListModel::addStored(std::shared_ptr<const std::string> store, std::size_t begin,
                               std::size_t size) {
    insert(begin, storeIndex(std::move(store)), size);
}

std::uint64_t LevelListModel::storeIndex(std::shared_ptr<const std::string> store) {
    // An entry goes nearly always to the store the entry before it went to.
    for (std::size_t i = m_stores.size(); i > 0; --i) {
        if (m_stores[i - 1] == store)
            return i - 1;
        if (m_stores.size() - i >= 4)
            break;
    }
    m_stores.push_back(std::move(store));
    return m_stores.size() - 1;
}

void LevelListModel::insert(std::size_t begin, std::uint64_t store, std::size_t size) {
    Entry added{begin, store, size, 0};
    // A plain address: every byte printable ASCII other than "&", "<" and ">".
    std::array<std::uint64_t, 2> characters{};
    bool plain = true;
    for (const char c : bytesOf(added)) {
        const auto u = static_cast<unsigned char>(c);
        plain &= u >= 0x20 && u < 0x80 && u != '&' && u != '<' && u != '>';
        characters[(u / 64) & 1] |= std::uint64_t(1) << (u % 64);
    }
    if (plain) {
        added.plain = 1;
        m_plainCharacters[0] |= characters[0];
        m_plainCharacters[1] |= characters[1];
    }
    std::size_t block = m_blocks.size() - 1;
    std::size_t place = m_blocks[block].size();
    if (m_order == Order::Sorted && m_count > 0) {
        const std::string_view bytes = bytesOf(added);
        const auto less = [this](std::string_view a, const Entry &b) {
            return bytesLessIgnoringCase(a, bytesOf(b));
        };
        // The first block whose last entry sorts after the text holds its place.
        const auto after = std::upper_bound(
            m_blocks.cbegin(), m_blocks.cend(), bytes,
            [&less](std::string_view a, const Block &b) { return less(a, b.back()); });
        if (after != m_blocks.cend()) {
            block = std::size_t(after - m_blocks.cbegin());
            place = std::size_t(std::upper_bound(after->cbegin(), after->cend(), bytes, less) -
                                after->cbegin());
        }
    }
    Block &entries = m_blocks[block];
    entries.insert(entries.begin() + std::ptrdiff_t(place), added);
    const int row = m_firstRows[block] + int(place);
    for (std::size_t next = block + 1; next < m_firstRows.size(); ++next)
        ++m_firstRows[next];
    if (entries.size() > blockLimit) {
        Block back(entries.begin() + blockLimit / 2, entries.end());
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
    m_stores = std::vector<std::shared_ptr<const std::string>>();
    m_own.reset();
    m_blocks.assign(1, Block());
    m_firstRows.assign(1, 0);
    m_count = 0;
    m_plainCharacters = {};
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
