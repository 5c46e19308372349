#pragma once

#include "LinkScanner.h"
#include "TreeHrefs.h"

#include <QByteArrayView>

// The deliberate differences between the link scanner, which follows today's HTML standard as
// browsers do, and gumbo 0.10.1, the tests' second opinion, which follows an older one.
// Each is where the scanner gives what current browsers give:
//  1. Control characters and noncharacters (U+0001..U+0008, U+000B, U+000E..U+001F,
//     U+007F..U+009F, U+FDD0..U+FDEF, U+xFFFE, U+xFFFF) in the page: gumbo reads each as
//     U+FFFD; browsers keep them, so that a link "vt\x0B.html" reads vt%0B.html, not
//     vt%EF%BF%BD.html. (Written as character references, gumbo keeps them too.)
//  2. select: browsers keep the elements inside a select, links included; gumbo drops them.
//  3. An end tag p or br inside svg or math: browsers close the foreign elements first, so
//     that links after it are HTML links; gumbo leaves them inside the svg.
//  4. isindex: gumbo still expands it into a form of the 2013 standard (closing an open p);
//     browsers take it as an element of no meaning.
//  5. search: a block element of today that closes an open p, as div does; unknown to gumbo.
//  6. A DOCTYPE whose identifiers ask for quirks mode (HTML 4.01 Transitional without a
//     system identifier, HTML 3.2, ...): gumbo misses most of them and parses without quirks,
//     so that a table closes an open p there; browsers keep the table inside the p.
//  7. The end tag of an element gumbo does not know closes the innermost element it does not
//     know, whatever its name (`<x><a href=1><y></x>t`); browsers close the element of that
//     name, so that the link is opened again for the text after it.
//  8. An attribute repeated in a tag: gumbo keeps the repeated name in its buffer and puts it
//     in front of the next attribute's name, so that `<a class=x class=y href=1>` has no href
//     there and `<a hr hr/ef=1>` has one; browsers drop only the repetition.
//  9. A numeric character reference whose number overflows 32 bits: browsers read U+FFFD,
//     gumbo's number wraps around.
// 10. U+0000 at the start of an attribute name: gumbo drops it (`<a \0href=x>` has an href
//     there); browsers read the name as U+FFFD followed by the rest.
// 11. An `a` misnested across more than eight blocks: once the adoption agency has used up
//     its eight rounds, gumbo drops the last copy of the old link, browsers keep it open.
// 12. A formatting element more than three deep inside a misnested one: the adoption agency
//     drops it from the list of active formatting elements and closes it; gumbo leaves it
//     open, so that what follows lands inside the old, misnested element.
// 13. An end tag in svg or math with anything between its name and its '>' (`</svg >`,
//     `</math/>`): gumbo compares the whole text with the element's name and closes nothing.
// 14. "</>" (which is nothing) on a page with svg or math: gumbo reads the names of the
//     foreign elements around it from the text with it and then closes none of them.
// 15. Whitespace after the end of a frameset document reopens the formatting elements left
//     open before the frameset (a link among them), as the standard says; gumbo does not.
// 16. An end tag br in the body is read as a br start tag, which sets the frameset-ok flag to
//     "not ok"; gumbo leaves the flag as it was, so that a frameset after `<a href=1></br>`
//     still replaces the body and its link there; browsers ignore that frameset.
// 17. White space in a table's insertion modes while the current node is not part of the table
//     (content foster-parented before it): browsers read it by the body's rules, which reopen
//     the formatting elements left open (a link among them); gumbo inserts it as it stands.
// 18. An svg or math element named like an HTML one that decides the insertion mode when it
//     is reset (`<svg><frameset><foreignObject><table></table>`): gumbo takes it for the HTML
//     element (there, a frameset that drops the rest of the page); browsers pass over it.
// Comparing the two readers is meaningful on pages outside 2 to 18, once 1 is applied to the
// page the scanner reads.
namespace HrefDifferences {

// The page as gumbo reads its characters (difference 1).
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

// Whether the differences 2 to 18 can matter on this page, read as gumbo reads it.
inline bool comparable(QByteArrayView html) {
    const QByteArray asTree = withTreeCharacters(html.toByteArray());
    return !scanLinks(std::string_view(asTree.constData(), std::size_t(asTree.size())))
                .gumboDiffers;
}

} // namespace HrefDifferences
