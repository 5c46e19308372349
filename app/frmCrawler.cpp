#include "frmCrawler.h"

#include "ClickLabel.h"
#include "Crawl.h"
#include "DesktopOpener.h"
#include "Export.h"
#include "FileSystem.h"
#include "LevelList.h"
#include "MessageBox.h"
#include "SitemapText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

namespace {

#include "corvane.xpm"

// Layout is given in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int twipsPerPixel = 15;

void place(QWidget *widget, int left, int top, int width, int height) {
    widget->setGeometry(left / twipsPerPixel, top / twipsPerPixel, width / twipsPerPixel,
                        height / twipsPerPixel);
}

// The window's face, with sans-serif faces of similar metrics where it is missing.
QFont windowFont(qreal pointSize, QFont::Weight weight) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

// The sitemap as the sitemap box shows it, made a stretch at a time.
class DocumentText final : public ShownText {
public:
    explicit DocumentText(SitemapDocument document)
        : m_document(std::move(document)) {}
    qsizetype size() const override { return m_document.size(); }
    QString mid(qsizetype from, qsizetype length) const override {
        return m_document.mid(from, length);
    }
    qsizetype lineCount() const override { return m_document.lineCount(); }
    qsizetype lineStart(qsizetype line) const override { return m_document.lineStart(line); }
    qsizetype lineEnd(qsizetype line) const override { return m_document.lineEnd(line); }
    qsizetype lineOf(qsizetype position) const override { return m_document.lineOf(position); }
    std::vector<qsizetype> linesLongerThan(qsizetype length) const override {
        return m_document.linesLongerThan(length);
    }
    QString characters() const override { return m_document.characters(); }

private:
    SitemapDocument m_document;
};

QPushButton *button(const QString &text, QWidget *parent) {
    auto *result = new QPushButton(text, parent);
    // Enter and Escape press no button of this window.
    result->setAutoDefault(false);
    result->setDefault(false);
    return result;
}

} // namespace

frmCrawler::frmCrawler(const Seams &seams, const QString &programDirectory, QWidget *parent)
    : QWidget(parent)
    , m_seams(seams)
    , m_exports(seams.files, seams.limits, this,
                [this](const ExportResult &result) { exportEnded(result); }) {
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(QIcon(QPixmap(corvane_xpm)));
    setFixedSize(14880 / twipsPerPixel, 8790 / twipsPerPixel);
    createControls();
    setTabOrder();
    txtExport->setText(programDirectory);
    txtURL->setFocus();

    connect(cmdGo, &QPushButton::clicked, this, &frmCrawler::cmdGo_Click);
    connect(cmdNew, &QPushButton::clicked, this, &frmCrawler::cmdNew_Click);
    connect(cmdBuild, &QPushButton::clicked, this, &frmCrawler::cmdBuild_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmCrawler::cmdExport_Click);
    connect(Label4, &ClickLabel::clicked, this, &frmCrawler::Label4_Click);
    txtSitemap->installEventFilter(this);

    m_countsLater.setSingleShot(true);
    m_countsLater.setInterval(16);
    connect(&m_countsLater, &QTimer::timeout, this, &frmCrawler::showCounts);
    m_paintLater.setSingleShot(true);
    connect(&m_paintLater, &QTimer::timeout, this, [this] {
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
}

frmCrawler::~frmCrawler() = default;

void frmCrawler::createControls() {
    setFont(windowFont(9.75, QFont::Bold));

    cmdNew = button(QStringLiteral("New"), this);
    place(cmdNew, 120, 120, 1095, 375);
    Label2 = new QLabel(QStringLiteral("Web Address:"), this);
    place(Label2, 2040, 240, 1695, 375);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txtURL = new QLineEdit(this);
    place(txtURL, 3600, 120, 5055, 375);
    cmdGo = button(QStringLiteral("Go"), this);
    place(cmdGo, 8760, 120, 1095, 375);

    const QFont listFont = windowFont(8.25, QFont::Bold);
    for (int level = 0; level < levels; ++level) {
        const int top = 720 + 1080 * level;
        lstLinks[level] = new LevelList(list(Side::Internal, level), this);
        lstLinks[level]->setObjectName(QStringLiteral("lstLinks%1").arg(level));
        lstLinks[level]->setFont(listFont);
        place(lstLinks[level], 120, top, 7575, 1035);
        lstLinks[level]->setAccessibleName(QStringLiteral("Internal links, level %1").arg(level));
        lstLinks[level]->setAccessibleDescription(
            QStringLiteral("Addresses inside the site, in alphabetical order"));
        lstExternal[level] = new LevelList(list(Side::External, level), this);
        lstExternal[level]->setObjectName(QStringLiteral("lstExternal%1").arg(level));
        lstExternal[level]->setFont(listFont);
        place(lstExternal[level], 7800, top, 6975, 1035);
        lstExternal[level]->setAccessibleName(
            QStringLiteral("External links, level %1").arg(level));
        lstExternal[level]->setAccessibleDescription(
            QStringLiteral("Addresses outside the site, in the order found"));
    }

    // The panel lies above the lists and covers all twelve while it is shown.
    fraSitemap = new QGroupBox(QStringLiteral("Sitemap"), this);
    fraSitemap->setAutoFillBackground(true);
    place(fraSitemap, 120, 720, 14655, 6495);
    // The text wraps at the box's width; it is only read, since typing there never reached
    // the exported file.
    txtSitemap = new SitemapText(fraSitemap);
    place(txtSitemap, 120, 240, 12615, 6135);
    txtSitemap->setFont(windowFont(8.25, QFont::Normal));
    txtSitemap->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    fraSitemap->hide();

    Label7 = new QLabel(QStringLiteral("Internal Links:"), this);
    place(Label7, 120, 7320, 1935, 255);
    lblInternalLinks = new QLabel(QStringLiteral("0"), this);
    place(lblInternalLinks, 1680, 7320, 1335, 255);
    cmbFrequency = new QComboBox(this);
    cmbFrequency->setEditable(true);
    cmbFrequency->setInsertPolicy(QComboBox::NoInsert);
    cmbFrequency->addItems(changeFrequencies);
    cmbFrequency->setCurrentIndex(int(changeFrequencies.indexOf(defaultChangeFrequency)));
    place(cmbFrequency, 3120, 7320, 2175, 360);
    cmdBuild = button(QStringLiteral("Build Sitemap"), this);
    cmdBuild->setEnabled(false);
    place(cmdBuild, 5400, 7320, 2175, 375);
    Label3 = new QLabel(QStringLiteral("External Links:"), this);
    place(Label3, 120, 7680, 1935, 255);
    lblExternalLinks = new QLabel(QStringLiteral("0"), this);
    place(lblExternalLinks, 1680, 7680, 1335, 255);
    Label1 = new QLabel(QStringLiteral("Export to:"), this);
    place(Label1, 120, 8040, 2775, 255);
    txtExport = new QLineEdit(this);
    place(txtExport, 3000, 8040, 10335, 285);
    cmdExport = button(QStringLiteral("Export"), this);
    cmdExport->setEnabled(false);
    place(cmdExport, 13440, 8040, 1335, 375);

    Label4 = new ClickLabel(QStringLiteral("Application by Quillon"), this);
    QFont creditFont = font();
    creditFont.setUnderline(true);
    Label4->setFont(creditFont);
    QPalette creditPalette = Label4->palette();
    creditPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label4->setPalette(creditPalette);
    Label4->setFocusPolicy(Qt::NoFocus);
    place(Label4, 120, 8520, 4095, 255);

    const std::pair<QWidget *, const char *> names[] = {
        {cmdNew, "cmdNew"},
        {Label2, "Label2"},
        {txtURL, "txtURL"},
        {cmdGo, "cmdGo"},
        {fraSitemap, "fraSitemap"},
        {txtSitemap, "txtSitemap"},
        {Label7, "Label7"},
        {lblInternalLinks, "lblInternalLinks"},
        {cmbFrequency, "cmbFrequency"},
        {cmdBuild, "cmdBuild"},
        {Label3, "Label3"},
        {lblExternalLinks, "lblExternalLinks"},
        {Label1, "Label1"},
        {txtExport, "txtExport"},
        {cmdExport, "cmdExport"},
        {Label4, "Label4"},
    };
    for (const auto &[widget, name] : names)
        widget->setObjectName(QLatin1String(name));

    // What a screen reader says of each control; buttons and labels are named by their
    // captions, so that a count is named by the number it shows.
    const std::tuple<QWidget *, const char *, const char *> spoken[] = {
        {cmdNew, nullptr, "Empties the lists, the counts and the sitemap"},
        {txtURL, "Web address", "The address the crawl starts from, beginning with http://"},
        {cmdGo, nullptr, "Crawls the site from the web address"},
        {txtSitemap, "Sitemap text", "The sitemap document; Ctrl+A selects all of it"},
        {cmbFrequency, "Change frequency", "How often the pages change; pick one or type any text"},
        {cmdBuild, nullptr, "Builds the sitemap from the internal links, then hides or shows it"},
        {txtExport, "Export folder", "The folder that Export writes sitemap.xml into"},
        {cmdExport, nullptr, "Writes the sitemap as sitemap.xml into the export folder"},
        {Label4, nullptr, "Opens the maker's web site"},
    };
    for (const auto &[widget, name, description] : spoken) {
        if (name)
            widget->setAccessibleName(QLatin1String(name));
        if (description)
            widget->setAccessibleDescription(QLatin1String(description));
    }
    // On Linux a combo box is spoken of by the label whose buddy it is, whatever its accessible
    // name; this one is never shown.
    auto *frequencyName = new QLabel(cmbFrequency->accessibleName(), this);
    frequencyName->setBuddy(cmbFrequency);
    frequencyName->hide();
    // Each count is labelled by the caption beside it: "Internal Links: 42".
    Label7->setBuddy(lblInternalLinks);
    Label3->setBuddy(lblExternalLinks);
}

void frmCrawler::setTabOrder() {
    // Each focusable control with its place in the keyboard focus order.
    std::vector<std::pair<int, QWidget *>> order = {
        {0, txtURL},        {3, cmdGo},   {19, cmdBuild},  {21, txtSitemap},
        {22, cmbFrequency}, {23, cmdNew}, {25, txtExport}, {26, cmdExport},
    };
    const int linkPlaces[levels] = {1, 6, 7, 13, 15, 18};
    const int externalPlaces[levels] = {8, 9, 10, 14, 16, 17};
    for (int level = 0; level < levels; ++level) {
        order.emplace_back(linkPlaces[level], lstLinks[level]);
        order.emplace_back(externalPlaces[level], lstExternal[level]);
    }
    std::sort(order.begin(), order.end());
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
}

void frmCrawler::cmdGo_Click() {
    // The crawl overwrites its argument; the copy keeps that from reaching the address box.
    QString strURL = txtURL->text();
    CrawlSite(strURL);
}

void frmCrawler::CrawlSite(QString &strURL) {
    ++m_crawlsRunning;
    ::CrawlSite(*this, m_seams.engine, strURL);
    --m_crawlsRunning;
    showLists();
}

void frmCrawler::showLists() {
    for (int level = 0; level < levels; ++level) {
        lstLinks[level]->catchUp();
        lstExternal[level]->catchUp();
    }
    showCounts();
}

void frmCrawler::showCounts() {
    m_countsLater.stop();
    for (const Side side : {Side::Internal, Side::External}) {
        const QString caption = countCaption(side);
        if (countLabel(side)->text() != caption)
            countLabel(side)->setText(caption);
    }
}

void frmCrawler::cmdNew_Click() {
    clear();
    txtSitemap->setText(QString());
    strSitemap = SitemapDocument();
    fraSitemap->hide();
    cmdBuild->setEnabled(false);
    cmdBuild->setText(QStringLiteral("Build Sitemap"));
    showLists();
}

void frmCrawler::cmdBuild_Click() {
    // The caption is the state of the toggle: only the first press after a crawl builds.
    const QString caption = cmdBuild->text();
    if (caption == u"Build Sitemap") {
        cmdBuild->setText(QStringLiteral("Hide Sitemap"));
        BuildSitemap(cmbFrequency->currentText());
        fraSitemap->show();
        cmdExport->setEnabled(true);
    } else if (caption == u"Hide Sitemap") {
        cmdBuild->setText(QStringLiteral("Show Sitemap"));
        fraSitemap->hide();
    } else {
        cmdBuild->setText(QStringLiteral("Hide Sitemap"));
        fraSitemap->show();
    }
}

void frmCrawler::BuildSitemap(const QString &frequency) {
    // The document reads its entries' bytes where the lists keep them, from Export's thread
    // too. A crawl that goes on after the build appends to the seen-list whose bytes the
    // lists hold, and that store moves as it grows: its bytes so far are kept in place.
    if (m_crawlsRunning > 0)
        seen(Side::Internal).keepStore();
    strSitemap = ::BuildSitemap(*this, frequency);
    showLists();
    txtSitemap->setText(std::make_shared<DocumentText>(strSitemap));
}

void frmCrawler::cmdExport_Click() {
    // The directory is looked at now and the document taken as it stands; the files are
    // written on the export's own thread, and what became of them is shown once they are.
    QString path = txtExport->text();
    if (!path.endsWith(u'/'))
        path += u'/';
    if (!DirExists(path)) {
        m_seams.messages.show(
            ExportFailureText({ExportResult::Outcome::NoSuchDirectory, path, {}}));
        return;
    }
    m_exports.start(path, strSitemap);
}

void frmCrawler::exportEnded(const ExportResult &result) {
    const QString failure = ExportFailureText(result);
    if (!failure.isNull()) {
        m_seams.messages.show(failure);
    } else if (!result.parts.isEmpty()) {
        // Search engines take at most 50,000 addresses or 50 MiB from one file.
        m_seams.messages.show(
            QStringLiteral("The sitemap is too big for one file, so Export wrote %1 files: "
                           "sitemap-1.xml to sitemap-%2.xml, and sitemap.xml, which lists "
                           "them. Upload all %1 files to the root folder of the site.")
                .arg(result.parts.size() + 1)
                .arg(result.parts.size()));
    }
}

bool frmCrawler::DirExists(const QString &DirName) {
    return m_seams.files.DirExists(DirName);
}

void frmCrawler::Label4_Click() {
    OpenURL(makerHomePage);
}

void frmCrawler::OpenURL(const QString &URL) {
    m_seams.opener.open(URL);
}

void frmCrawler::txtSitemap_KeyUp(int keyCode, int modifiers) {
    constexpr int keyA = 65;
    constexpr int ctrlOnly = 2;
    if (keyCode != keyA || modifiers != ctrlOnly)
        return;
    txtSitemap->select(0, txtSitemap->textSize());
}

bool frmCrawler::eventFilter(QObject *watched, QEvent *event) {
    if (watched != txtSitemap)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers held = key->modifiers();
        const int modifiers = (held & Qt::ShiftModifier ? 1 : 0) |
                              (held & Qt::ControlModifier ? 2 : 0) |
                              (held & Qt::AltModifier ? 4 : 0);
        txtSitemap_KeyUp(key->key(), modifiers);
    } else if (event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent *>(event)->matches(QKeySequence::SelectAll)) {
        // The whole text is selected when A comes up with Ctrl still held, not when it goes
        // down: releasing Ctrl first selects nothing.
        return true;
    }
    return false;
}

QString frmCrawler::startAddress() const {
    return txtURL->text();
}

QLabel *frmCrawler::countLabel(Side side) const {
    return side == Side::Internal ? lblInternalLinks : lblExternalLinks;
}

void frmCrawler::setCountCaption(Side side, const QString &caption) {
    CrawlLists::setCountCaption(side, caption);
    // The crawl raises a count for every link it files; the labels show it once a frame.
    if (!m_countsLater.isActive())
        m_countsLater.start();
}

void frmCrawler::setBusyPointer(bool busy) {
    // The hourglass stands over the whole window, its controls included; the default
    // pointer comes back whatever was in force before, also after crawls within crawls.
    if (busy && !QApplication::overrideCursor())
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (busy && QApplication::overrideCursor()->shape() != Qt::WaitCursor)
        QApplication::changeOverrideCursor(Qt::WaitCursor);
    while (!busy && QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void frmCrawler::enableBuild() {
    cmdBuild->setEnabled(true);
}

bool frmCrawler::pumpEvents(Pump mode) {
    // A turn costs a system call and a look at every source of events whether or not any is
    // waiting, and the crawl asks for one per link: tens of thousands a second on a big page.
    // A turn asked for within a millisecond of the last is skipped, so what the user does
    // still runs between two links, at most a millisecond late.
    constexpr qint64 turnNs = 1'000'000;
    if (mode == Pump::Poll && m_sinceTurn.isValid() && m_sinceTurn.nsecsElapsed() < turnNs)
        return !m_closed;
    m_sinceTurn.start();
    if (!m_closed)
        runEventPump(mode);
    return !m_closed;
}

bool frmCrawler::event(QEvent *event) {
    constexpr int frameMs = 16;
    if (event->type() == QEvent::UpdateRequest && m_crawlsRunning > 0) {
        // A repaint that comes too soon after the last one is held back until the frame is
        // over; everything that changed in between is painted then, in one go.
        if (m_sincePaint.isValid() && m_sincePaint.elapsed() < frameMs) {
            if (!m_paintLater.isActive())
                m_paintLater.start(int(frameMs - m_sincePaint.elapsed()));
            return true;
        }
        m_sincePaint.restart();
    }
    return QWidget::event(event);
}

void frmCrawler::closeEvent(QCloseEvent *event) {
    m_closed = true;
    event->accept();
}
