#pragma once

#include <QString>

// One of the window's seen-lists: addresses joined by commas. An address counts as seen
// when it occurs anywhere in the text, commas included, so "a/b" is seen once "a/bc" has
// been added, and "b,c" once "a,b" and then "c" have.
class SeenText {
public:
    void reset(const QString &text) { m_text = text; }
    // Appends a comma and `address`.
    void append(const QString &address);
    // True when `address` occurs in the text (by textPosition's rules).
    bool contains(const QString &address) const;
    const QString &text() const { return m_text; }

private:
    QString m_text;
};
