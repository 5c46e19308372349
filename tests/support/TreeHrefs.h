#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// The hrefs of a page as written (character references decoded), before resolving, as the
// link scanner reads them and as gumbo's tree has them: gumbo is the second opinion that the
// differential test, the fuzz target and the throughput tool hold the scanner against.
struct PageHrefs {
    QList<QByteArray> hrefs;
    std::optional<QByteArray> baseHref;
    friend bool operator==(const PageHrefs &, const PageHrefs &) = default;
};
enum class HrefReader {
    Scanner, // the link scanner; nothing when the page costs it more than its bound
    Tree,    // gumbo's tree; nothing when it runs out of memory
};
std::optional<PageHrefs> pageHrefs(QByteArrayView utf8, HrefReader reader);
