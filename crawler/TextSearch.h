#pragma once

#include <QStringView>

// The 1-based position of the first occurrence of `sought` in `searched`, comparing UTF-16
// code units exactly; 0 when it does not occur. An empty sought text is found at position 1
// of any non-empty text, and nothing is found in an empty text.
inline qsizetype textPosition(QStringView searched, QStringView sought) {
    if (searched.isEmpty())
        return 0;
    return searched.indexOf(sought, 0, Qt::CaseSensitive) + 1;
}
