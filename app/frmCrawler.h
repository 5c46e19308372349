#pragma once

#include "CrawlLists.h"
#include "Export.h"
#include "ExportQueue.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <array>

class ClickLabel;
class DesktopOpener;
class FileSystem;
class HtmlEngine;
class MessageBox;
class LevelList;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SitemapText;

// The program's window: a face over the crawl's lists, which its list boxes and count labels
// show. It runs every command on its own thread; a crawl turns its event queue while it
// works, so the window stays usable, and every crawl stops when the window is closed.
class frmCrawler final : public QWidget, public CrawlLists {
    Q_OBJECT
public:
    // What the window reaches the outside world through; all must outlive it.
    struct Seams {
        HtmlEngine &engine;
        FileSystem &files;
        MessageBox &messages;
        DesktopOpener &opener;
        // How big one exported sitemap file may grow before Export splits it.
        SitemapLimits limits = {};
    };

    // `programDirectory` goes into the export box.
    frmCrawler(const Seams &seams, const QString &programDirectory, QWidget *parent = nullptr);
    ~frmCrawler() override;

    void CrawlSite(QString &strURL);
    void BuildSitemap(const QString &frequency);
    bool DirExists(const QString &DirName);
    void OpenURL(const QString &URL);
    // The document's text, made whole.
    QString sitemapText() const { return strSitemap.text(); }
    // Whether an export is still writing, or its outcome waits to be shown.
    bool exporting() const { return m_exports.pending() > 0; }

    // What the window adds to the lists
    QString startAddress() const override;
    void setCountCaption(Side side, const QString &caption) override;
    void setBusyPointer(bool busy) override;
    void enableBuild() override;
    bool pumpEvents(Pump mode) override;

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cmdGo_Click();
    void cmdNew_Click();
    void cmdBuild_Click();
    void cmdExport_Click();
    // Shows what became of an export, once its writing has ended.
    void exportEnded(const ExportResult &result);
    void Label4_Click();
    // `modifiers`: Shift 1, Ctrl 2, Alt 4.
    void txtSitemap_KeyUp(int keyCode, int modifiers);

    void createControls();
    void setTabOrder();
    QLabel *countLabel(Side side) const;
    // Shows in the list boxes and the count labels what the crawl or the build left in the
    // lists, at once rather than at the next frame.
    void showLists();
    void showCounts();

    Seams m_seams;
    bool m_closed = false;
    // While a crawl runs the window repaints at most once a frame, however many links each
    // turn of the event queue files.
    int m_crawlsRunning = 0;
    QElapsedTimer m_sincePaint;
    QElapsedTimer m_sinceTurn;
    QTimer m_paintLater;
    QTimer m_countsLater;

    QPushButton *cmdNew;
    QLabel *Label2;
    QLineEdit *txtURL;
    QPushButton *cmdGo;
    std::array<LevelList *, levels> lstLinks;
    std::array<LevelList *, levels> lstExternal;
    QGroupBox *fraSitemap;
    SitemapText *txtSitemap;
    QLabel *Label7;
    QLabel *lblInternalLinks;
    QComboBox *cmbFrequency;
    QPushButton *cmdBuild;
    QLabel *Label3;
    QLabel *lblExternalLinks;
    QLabel *Label1;
    QLineEdit *txtExport;
    QPushButton *cmdExport;
    ClickLabel *Label4;

    // The document Build made, described; empty after New.
    SitemapDocument strSitemap;

    // Export writes away from the window's thread. The last member, so that it goes first,
    // once what it was asked to write is written.
    ExportQueue m_exports;
};
