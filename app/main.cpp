#include "CommandLine.h"
#include "DesktopOpener.h"
#include "FileSystem.h"
#include "NetworkHtmlEngine.h"
#include "WidgetMessageBox.h"
#include "frmCrawler.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    // The command line needs no display, so it must not create the window's application.
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    // Lets the desktop match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quillon.Corvane"));

    NetworkHtmlEngine engine;
    DiskFileSystem files;
    WidgetMessageBox messages;
    SystemDesktopOpener opener;
    frmCrawler window({engine, files, messages, opener}, QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
