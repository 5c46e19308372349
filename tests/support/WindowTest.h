#pragma once

// What the window tests share: reading the real window's controls as a user sees them.

#include "DesktopOpener.h"
#include "FileSystem.h"
#include "HtmlDocument.h"
#include "HttpServer.h"
#include "MessageBox.h"
#include "NetworkHtmlEngine.h"
#include "frmCrawler.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include <memory>

using Pages = QMap<QString, QStringList>;

// Pages of a test's own making, complete at once. An address that is not among them cannot
// be requested, as the real engine refuses a mailto: address.
class FakeEngine final : public HtmlEngine {
public:
    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override {
        requested.append(address);
        if (!pages.contains(address))
            return nullptr;
        return std::make_unique<FakeDocument>(pages.value(address));
    }

    Pages pages;
    QStringList requested;

private:
    struct FakeDocument final : HtmlDocument {
        explicit FakeDocument(QStringList links)
            : m_links(std::move(links)) {}
        QString readyState() const override { return QStringLiteral("complete"); }
        QStringList links() const override { return m_links; }
        QStringList m_links;
    };
};

// Keeps the messages the window shows instead of opening a modal box.
class RecordingMessageBox final : public MessageBox {
public:
    void show(const QString &text) override { shown.append(text); }
    QStringList shown;
};

inline const QString programDirectory = QStringLiteral("/opt/corvane-test");

// One real window, shown, over pages of the test's making (`fake`) or, after useNetwork(),
// over the real engine and the loopback `server`. A test makes a new one for each function.
struct WindowHarness {
    WindowHarness() {
        if (!server.listen())
            qFatal("no loopback port");
        open(fake);
    }
    ~WindowHarness() {
        window.reset();
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
    void open(HtmlEngine &engine) {
        window.reset();
        window = std::make_unique<frmCrawler>(
            frmCrawler::Seams{engine, *files, messages, opener, limits}, programDirectory);
        window->show();
    }
    void useNetwork(FetchLimits limits = {}) {
        window.reset();
        network = std::make_unique<NetworkHtmlEngine>(limits, ProxyMode::None);
        open(*network);
    }

    HttpServer server;
    FakeEngine fake;
    std::unique_ptr<NetworkHtmlEngine> network;
    DiskFileSystem disk;
    FileSystem *files = &disk; // set before open() to watch the disk
    SitemapLimits limits;      // set before open() to split small sitemaps
    RecordingMessageBox messages;
    SystemDesktopOpener opener;
    std::unique_ptr<frmCrawler> window;
};

template <typename T> inline T *control(QWidget &window, const QString &name) {
    T *widget = window.findChild<T *>(name);
    if (!widget)
        qFatal("no control %s", qPrintable(name));
    return widget;
}

inline QStringList entries(QWidget &window, const QString &list) {
    const QAbstractItemModel *model = control<QListView>(window, list)->model();
    QStringList result;
    for (int row = 0; row < model->rowCount(); ++row)
        result.append(model->index(row, 0).data().toString());
    return result;
}

// Every filed link as "L<level> address" (internal) or "E<level> address" (external), list by
// list in the lists' own order.
inline QStringList filed(QWidget &window) {
    QStringList result;
    for (int level = 0; level < frmCrawler::levels; ++level) {
        for (const QString &entry : entries(window, QStringLiteral("lstLinks%1").arg(level)))
            result.append(QStringLiteral("L%1 %2").arg(level).arg(entry));
        for (const QString &entry : entries(window, QStringLiteral("lstExternal%1").arg(level)))
            result.append(QStringLiteral("E%1 %2").arg(level).arg(entry));
    }
    return result;
}

inline QString counts(QWidget &window) {
    return control<QLabel>(window, QStringLiteral("lblInternalLinks"))->text() + u'/' +
           control<QLabel>(window, QStringLiteral("lblExternalLinks"))->text();
}

inline void pressGo(QWidget &window, const QString &address) {
    control<QLineEdit>(window, QStringLiteral("txtURL"))->setText(address);
    QTest::mouseClick(control<QPushButton>(window, QStringLiteral("cmdGo")), Qt::LeftButton);
}

inline QStringList targets(const HttpServer &server) {
    QStringList result;
    for (const QByteArray &target : server.targets())
        result.append(QString::fromLatin1(target));
    return result;
}

inline QByteArray linksPage(const QStringList &hrefs) {
    QByteArray html = "<!DOCTYPE html><html><head><title>t</title></head><body>";
    for (const QString &href : hrefs)
        html += "<p><a href=\"" + href.toUtf8() + "\">link</a></p>";
    return html + "</body></html>";
}

// A site five levels deep: the start page links b and a; a and b link c and d; and so on down
// to k and l, which only level-5 links reach.
inline void serveDeepSite(HttpServer &server) {
    server.setHtml("/", linksPage({"b", "a", "http://other.invalid/x"}));
    server.setHtml("/a", linksPage({"/c", "/a"}));
    server.setHtml("/b", linksPage({"/d"}));
    const QString chain = QStringLiteral("cdefghijkl");
    for (int i = 0; i + 2 < chain.size(); ++i)
        server.setHtml("/" + chain.mid(i, 1).toUtf8(), linksPage({"/" + chain.mid(i + 2, 1)}));
}
