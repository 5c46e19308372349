#include "Encoding.h"
#include "PageDecoder.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Input: a Content-Type value, a NUL byte, then the body (no NUL: no Content-Type, all body).
// Decodes the page, and checks what holds of every page: one that is not HTML has no text and
// no encoding; an HTML page names an encoding of the Encoding Standard; and a body of ASCII alone
// reads as itself in UTF-8 and the windows code pages, unless its label names the replacement
// encoding.

namespace {

void require(bool holds, const char *what, const QByteArray &contentType) {
    if (holds)
        return;
    std::fprintf(stderr, "%s (Content-Type: %s)\n", what, contentType.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray contentType = nul < 0 ? QByteArray() : input.left(nul);
    const QByteArray body = nul < 0 ? input : input.mid(nul + 1);

    const DecodedPage page = decodePage(body, contentType);
    if (!page.isHtml) {
        require(page.text.isEmpty() && page.encoding.isEmpty(), "text of a page that is not HTML",
                contentType);
        return 0;
    }
    require(encoding::encodingForLabel(page.encoding.toStdString()).has_value(), "encoding unknown",
            contentType);
    const bool ascii = std::all_of(body.begin(), body.end(), [](char c) { return c >= 0; });
    // A label of the replacement encoding (iso-2022-kr and the like) shows any page as one
    // replacement character, as browsers do.
    const bool replaced = !body.isEmpty() && page.text == QString(QChar::ReplacementCharacter);
    if (ascii && !replaced && (page.encoding == "UTF-8" || page.encoding.startsWith("windows-")))
        require(page.text == QString::fromLatin1(body), "ASCII body read as other text",
                contentType);
    return 0;
}
