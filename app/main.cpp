#include "NetworkHtmlEngine.h"
#include "frmCrawler.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    NetworkHtmlEngine engine;
    frmCrawler window(engine, QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
