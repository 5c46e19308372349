// What the sitemap panel costs with a big document, measured on the real window.
//
//   corvane-sitemap-bench [ADDRESSES]   (default 100000)
//
// Files ADDRESSES level-5 addresses of about 60 characters into the window's lists, then
// presses Build Sitemap, Hide, Show, scrolls the text to its end, presses New, and builds a
// document holding one address of 2 MiB. For each step it prints the milliseconds of CPU the
// program spends until its event queue is idle again (the step, its repaint and whatever
// they leave queued), and the wall time of the step with its repaint. Building the document
// alone is timed first, so that the rest of Build Sitemap is what showing it costs.
//
// Then the same document is shown in the window's text box alone, away from the level
// lists, and in the QPlainTextEdit the window used before, set up as it was: setting the
// text with the panel hidden, showing, hiding and showing the panel, scrolling to the end,
// emptying. Run it under a display server to see what users see:
//   xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb corvane-sitemap-bench

#include "DesktopOpener.h"
#include "FileSystem.h"
#include "HtmlDocument.h"
#include "MessageBox.h"
#include "Sitemap.h"
#include "SitemapText.h"
#include "frmCrawler.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

class NoPages final : public HtmlEngine {
public:
    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &) override {
        return nullptr;
    }
};

class NoMessages final : public MessageBox {
public:
    void show(const QString &) override {}
};

double cpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Runs `step`, repaints the window, and lets the event queue run until it has been idle for
// a while; prints the CPU the program spent and the wall time up to the repaint's end.
void measure(QWidget &window, const char *name, const std::function<void()> &step) {
    const double cpuBefore = cpuMs();
    QElapsedTimer wall;
    wall.start();
    step();
    window.repaint();
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    QTest::qWait(300); // anything the step left queued runs here; an idle wait costs no CPU
    std::printf("%-28s cpu_ms=%9.1f wall_ms=%9.1f\n", name, cpuMs() - cpuBefore, wallMs);
    std::fflush(stdout);
}

// The sitemap panel with `box` in it, in a window of its own, measured on `document`.
void measureBox(const char *name, const QWidget &like, QAbstractScrollArea *box,
                const std::function<void(const QString &)> &setText, const QString &document) {
    QWidget window;
    window.resize(like.window()->size());
    auto *panel = new QGroupBox(QStringLiteral("Sitemap"), &window);
    panel->setGeometry(like.parentWidget()->geometry());
    box->setParent(panel);
    box->setGeometry(like.geometry());
    box->setFont(like.font());
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panel->hide();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return;
    std::printf("-- %s\n", name);
    measure(window, "set the text (panel hidden)", [&] { setText(document); });
    measure(window, "show the panel", [&] { panel->show(); });
    measure(window, "hide the panel", [&] { panel->hide(); });
    measure(window, "show the panel again", [&] { panel->show(); });
    measure(window, "scroll to the end",
            [&] { box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum()); });
    measure(window, "resize", [&] { box->resize(box->width() - 40, box->height()); });
    measure(window, "empty", [&] { setText(QString()); });
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const int addresses = argc > 1 ? QByteArray(argv[1]).toInt() : 100'000;

    NoPages engine;
    DiskFileSystem files;
    NoMessages messages;
    SystemDesktopOpener opener;
    frmCrawler window({engine, files, messages, opener}, QStringLiteral("/tmp"));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    const QString start = QStringLiteral("http://shop.example.test");
    window.findChild<QLineEdit *>(QStringLiteral("txtURL"))->setText(start);
    for (int i = 0; i < addresses; ++i)
        window.addLink(Side::Internal, 5,
                       QStringLiteral("%1/catalogue/products/item-%2/details-page.html")
                           .arg(start)
                           .arg(i, 8, 10, QLatin1Char('0')));
    window.enableBuild();
    auto *build = window.findChild<QPushButton *>(QStringLiteral("cmdBuild"));
    auto *text = window.findChild<QAbstractScrollArea *>(QStringLiteral("txtSitemap"));
    qsizetype size = 0;

    std::printf("addresses=%d platform=%s\n", addresses, qPrintable(app.platformName()));
    measure(window, "document alone", [&] { size = BuildSitemap(window, "Weekly").size(); });
    std::printf("document_chars=%lld\n", qlonglong(size));
    measure(window, "Build Sitemap (press)", [&] { build->click(); });
    measure(window, "Hide Sitemap (press)", [&] { build->click(); });
    measure(window, "Show Sitemap (press)", [&] { build->click(); });
    measure(window, "scroll to the end",
            [&] { text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum()); });
    measure(window, "New (press)",
            [&] { window.findChild<QPushButton *>(QStringLiteral("cmdNew"))->click(); });

    window.addLink(Side::Internal, 0, start + u'/' + QString(2 << 20, u'x'));
    window.enableBuild();
    measure(window, "Build with a 2 MiB line", [&] { build->click(); });
    measure(window, "Hide (2 MiB line)", [&] { build->click(); });
    measure(window, "Show (2 MiB line)", [&] { build->click(); });

    // The document of the first build, again, in the text box alone.
    window.findChild<QPushButton *>(QStringLiteral("cmdNew"))->click();
    for (int i = 0; i < addresses; ++i)
        window.addLink(Side::Internal, 5,
                       QStringLiteral("%1/catalogue/products/item-%2/details-page.html")
                           .arg(start)
                           .arg(i, 8, 10, QLatin1Char('0')));
    const QString document = BuildSitemap(window, "Weekly").text();
    auto *view = new SitemapText;
    measureBox(
        "SitemapText", *text, view, [view](const QString &t) { view->setText(t); }, document);
    auto *edit = new QPlainTextEdit;
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    measureBox(
        "QPlainTextEdit", *text, edit, [edit](const QString &t) { edit->setPlainText(t); },
        document);
    return 0;
}
