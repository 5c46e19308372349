#pragma once

#include <QString>

// Interface for handing an address to the desktop, which opens it in the user's web browser.
// Abstract so that the window can be tested without a browser; the real implementation is
// SystemDesktopOpener.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // Asks the desktop to open `address`. Whether it could is not reported.
    virtual void open(const QString &address) = 0;
};

// Opens addresses with Qt's desktop services: the desktop's default browser, or a handler
// the program registered for the scheme.
class SystemDesktopOpener final : public DesktopOpener {
public:
    void open(const QString &address) override;
};
