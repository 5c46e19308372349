// Runs the link scanner and gumbo's tree side by side on generated pages: they must read the
// same hrefs, apart from the deliberate differences in HrefDifferences.h. A divergence aborts
// with both readings printed; crashes and sanitizer reports end the run as well.
#include "HrefDifferences.h"
#include "HtmlLinks.h"
#include "TreeHrefs.h"
#include "WebUrl.h"

#include <cstdio>
#include <cstdlib>

namespace {

void print(const char *what, const PageHrefs &page) {
    std::fprintf(stderr, "%s: %lld hrefs, base %s\n", what, qlonglong(page.hrefs.size()),
                 page.baseHref ? page.baseHref->constData() : "(none)");
    for (const QByteArray &href : page.hrefs)
        std::fprintf(stderr, "  [%s]\n", href.constData());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // gumbo's work grows with the square of the nesting: keep each run short.
    if (size > 16 * 1024)
        return 0;
    // Pages reach the readers as valid UTF-8, as the engine hands them on.
    const QByteArray page =
        QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)).toUtf8();
    const std::optional<PageHrefs> scanned =
        pageHrefs(HrefDifferences::withTreeCharacters(page), HrefReader::Scanner);
    const std::optional<PageHrefs> tree = pageHrefs(page, HrefReader::Tree);
    if (!tree)
        std::abort(); // gumbo has neither a deadline nor a stop here
    if (scanned && HrefDifferences::comparable(page) && *scanned != *tree) {
        std::fprintf(stderr, "The link scanner and gumbo's tree disagree on:\n%s\n",
                     page.constData());
        print("scanner", *scanned);
        print("tree", *tree);
        std::abort();
    }
    // The shortcut for common relative links must give what the general parser gives.
    if (tree) {
        static const WebUrl base = *WebUrl::parse(u"http://fuzz.test/dir/page.html?q#f");
        for (const QByteArray &href : tree->hrefs) {
            const QString input = QString::fromUtf8(href);
            const std::optional<WebUrl> general = WebUrl::parse(input, &base, "UTF-8");
            if (WebUrl::resolve(input, base, "UTF-8") != (general ? general->href() : QString())) {
                std::fprintf(stderr, "resolve differs from parse on [%s]\n", href.constData());
                std::abort();
            }
        }
    }
    // The whole reading, resolving included, must not crash either.
    (void)readPage(page, QStringLiteral("http://fuzz.test/dir/page.html"), "UTF-8").canonical();
    return 0;
}
