// robots.txt rules on any input: no input may crash the reader or hold it up, and a single
// rule decides as a plain table-filling matcher, the reference, says it matches.
//
// Input: a pattern, a newline, then a path; the whole input is also read as a robots.txt.

#include "RobotsRules.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Whether `pattern` ("*" any run, a final "$" the end) matches a prefix of `path`, by a table
// of which pattern prefixes match which path prefixes.
bool referenceMatches(QByteArrayView pattern, QByteArrayView path) {
    const bool anchored = pattern.endsWith('$');
    if (anchored)
        pattern.chop(1);
    const auto n = std::size_t(pattern.size());
    const auto m = std::size_t(path.size());
    // row[j]: the pattern's first i octets match the path's first j.
    std::vector<bool> row(m + 1, false);
    row[0] = true;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<bool> next(m + 1, false);
        for (std::size_t j = 0; j <= m; ++j) {
            if (pattern[qsizetype(i)] == '*')
                next[j] = row[j] || (j > 0 && next[j - 1]);
            else
                next[j] = j > 0 && row[j - 1] && pattern[qsizetype(i)] == path[qsizetype(j - 1)];
        }
        row = std::move(next);
    }
    if (anchored)
        return row[m];
    for (std::size_t j = 0; j <= m; ++j) {
        if (row[j])
            return true;
    }
    return false;
}

// Printable ASCII that the rules' encoding leaves as it is.
bool plain(QByteArrayView text) {
    for (const char c : text) {
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '#')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)RobotsRules::fromAnswer(200, input, "corvane").allows("/a/b?c");

    const qsizetype newline = input.indexOf('\n');
    if (newline < 0 || size > 4096)
        return 0;
    const QByteArrayView pattern = input.first(newline);
    const QByteArrayView path = input.sliced(newline + 1);
    if (pattern.isEmpty() || !plain(pattern) || !plain(path) || path == "/robots.txt")
        return 0;
    const QByteArray robots = "User-agent: *\nDisallow: " + pattern.toByteArray() + "\n";
    const bool allowed = RobotsRules::fromAnswer(200, robots, "corvane").allows(path);
    if (allowed == referenceMatches(pattern, path)) {
        std::fprintf(stderr, "pattern [%s] path [%s]: the rules say %s\n",
                     pattern.toByteArray().constData(), path.toByteArray().constData(),
                     allowed ? "allowed" : "disallowed");
        std::abort();
    }
    return 0;
}
