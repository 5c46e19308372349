#include "DesktopOpener.h"

#include <QDesktopServices>
#include <QUrl>

void SystemDesktopOpener::open(const QString &address) {
    QDesktopServices::openUrl(QUrl(address));
}
