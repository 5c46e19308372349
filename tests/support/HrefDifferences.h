#pragma once

#include "HtmlLinks.h"
#include "LinkScanner.h"

#include <QByteArrayView>

// The deliberate differences between the link scanner, which follows today's HTML standard as
// browsers do, and gumbo 0.10.1, the tree builder it falls back on, which follows an older one.
// Each is where the scanner gives what current browsers give:
//  1. Control characters and noncharacters (U+0001..U+0008, U+000B, U+000E..U+001F,
//     U+007F..U+009F, U+FDD0..U+FDEF, U+xFFFE, U+xFFFF): gumbo reads each as U+FFFD; browsers
//     keep them, so that `<a href="vt&#11;.html">` reads vt%0B.html, not vt%EF%BF%BD.html.
//  2. select: browsers keep the elements inside a select, links included; gumbo drops them.
//  3. An end tag p or br inside svg or math: browsers close the foreign elements first, so
//     that links after it are HTML links; gumbo leaves them inside the svg.
//  4. isindex: gumbo still expands it into a form of the 2013 standard (closing an open p);
//     browsers take it as an element of no meaning.
//  5. search: a block element of today that closes an open p, as div does; unknown to gumbo.
//  6. A DOCTYPE whose public identifier asks for quirks mode (HTML 4.01 Transitional without
//     a system identifier, ...): gumbo ignores the identifier and parses without quirks, so
//     that a table closes an open p there; browsers keep the table inside the p.
// Comparing the two readers is meaningful on pages outside 2 to 6, once 1 is applied to the
// scanner's reading.
namespace HrefDifferences {

// Whether the differences 2 to 6 can matter on this page.
inline bool comparable(QByteArrayView html) {
    return !scanLinks(std::string_view(html.data(), std::size_t(html.size()))).newerRules;
}

// The hrefs as gumbo reads their characters (difference 1).
inline QByteArray withTreeCharacters(const QByteArray &utf8) {
    QString text = QString::fromUtf8(utf8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        qsizetype length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        const bool control = (c >= 0x1 && c <= 0x8) || c == 0xB || (c >= 0xE && c <= 0x1F) ||
                             (c >= 0x7F && c <= 0x9F);
        const bool nonCharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
        if (control || nonCharacter)
            text.replace(i, length, QChar(QChar::ReplacementCharacter));
    }
    return text.toUtf8();
}

inline PageHrefs withTreeCharacters(PageHrefs page) {
    for (QByteArray &href : page.hrefs)
        href = withTreeCharacters(href);
    if (page.baseHref)
        page.baseHref = withTreeCharacters(*page.baseHref);
    return page;
}

} // namespace HrefDifferences
