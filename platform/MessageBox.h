#pragma once

#include <QString>

// Interface for the one kind of message the program shows: a text, one OK button, no icon,
// the program's title. Abstract so that tests can read the messages instead of answering a
// modal box; the real implementation lives with the window.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Returns when the user has pressed OK.
    virtual void show(const QString &text) = 0;
};
