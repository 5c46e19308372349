#include "SitemapText.h"

#include "SitemapDocument.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

namespace {

// Room between the frame and the text, in pixels.
constexpr int margin = 4;

bool drawnAsSpace(char16_t c) {
    return c < 0x20 || c == 0x2028 || c == 0x2029;
}

QAccessibleInterface *accessibleSitemapText(const QString &className, QObject *object);

} // namespace

// What a screen reader reads of the view: its text, a character, word or line at a time, the
// cursor and the selection. Nothing here copies more of the text than was asked for.
class SitemapTextAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit SitemapTextAccessible(SitemapText *view)
        : QAccessibleWidget(view, QAccessible::EditableText) {}

    QAccessible::State state() const override {
        QAccessible::State result = QAccessibleWidget::state();
        result.readOnly = true;
        result.multiLine = true;
        result.selectableText = true;
        return result;
    }
    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    void selection(int index, int *start, int *end) const override {
        *start = *end = 0;
        if (index == 0 && view()->selectionLength() > 0) {
            *start = int(view()->selectionStart());
            *end = int(view()->selectionStart() + view()->selectionLength());
        }
    }
    int selectionCount() const override { return view()->selectionLength() > 0 ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { view()->select(view()->m_cursor, 0); }
    void setSelection(int, int start, int end) override { view()->select(start, end - start); }
    int cursorPosition() const override { return int(view()->m_cursor); }
    void setCursorPosition(int position) override {
        view()->moveCursor(view()->normalized(position), SitemapText::Anchor::Move);
    }
    QString text(int start, int end) const override {
        return view()->textMid(start, std::max(0, end - start));
    }
    int characterCount() const override { return int(view()->textSize()); }

    // A line is read with its line break; a word is looked for within its line.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *start,
                         int *end) const override {
        const qsizetype size = view()->textSize();
        *start = *end = -1;
        if (offset < 0 || offset > size)
            return {};
        const qsizetype line = view()->lineOf(offset);
        const qsizetype lineStart = view()->lineStart(line);
        const qsizetype lineEnd =
            line + 1 < view()->lineCount() ? view()->lineStart(line + 1) : size;
        qsizetype from = offset;
        qsizetype to = offset;
        switch (boundary) {
        case QAccessible::CharBoundary:
            to = std::min<qsizetype>(size, offset + 1);
            break;
        case QAccessible::WordBoundary:
            std::tie(from, to) = view()->wordAt(offset);
            break;
        case QAccessible::SentenceBoundary:
        case QAccessible::ParagraphBoundary:
        case QAccessible::LineBoundary:
            from = lineStart;
            to = lineEnd;
            break;
        case QAccessible::NoBoundary:
            from = 0;
            to = size;
            break;
        }
        *start = int(from);
        *end = int(to);
        return view()->textMid(from, to - from);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *start,
                             int *end) const override {
        int atStart = 0;
        int atEnd = 0;
        textAtOffset(offset, boundary, &atStart, &atEnd);
        if (atStart <= 0) {
            *start = *end = -1;
            return {};
        }
        return textAtOffset(atStart - 1, boundary, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *start,
                            int *end) const override {
        int atStart = 0;
        int atEnd = 0;
        textAtOffset(offset, boundary, &atStart, &atEnd);
        if (atEnd < 0 || atEnd >= characterCount()) {
            *start = *end = -1;
            return {};
        }
        return textAtOffset(atEnd, boundary, start, end);
    }

    QRect characterRect(int offset) const override {
        const SitemapText *text = view();
        if (offset < 0 || offset >= text->textSize())
            return {};
        const qsizetype index = text->rowOf(offset);
        const qsizetype top = text->verticalScrollBar()->value();
        if (index < top || index >= top + text->visibleRows())
            return {};
        const SitemapText::Row at = text->row(index);
        QTextLayout layout;
        text->layOut(layout, at);
        const QTextLine line = layout.lineAt(0);
        const int column = int(std::min<qsizetype>(offset - at.start, at.length));
        const qreal x = margin + line.cursorToX(column);
        const qreal width = std::max<qreal>(1, margin + line.cursorToX(column + 1) - x);
        const QRectF box(x, margin + (index - top) * text->rowHeight(), width, text->rowHeight());
        return QRect(text->viewport()->mapToGlobal(box.topLeft().toPoint()), box.size().toSize());
    }
    int offsetAtPoint(const QPoint &point) const override {
        const QPoint inside = view()->viewport()->mapFromGlobal(point);
        if (!view()->viewport()->rect().contains(inside))
            return -1;
        return int(view()->positionAt(inside));
    }
    void scrollToSubstring(int start, int) override {
        const qsizetype index = view()->rowOf(std::clamp<qsizetype>(start, 0, characterCount()));
        view()->verticalScrollBar()->setValue(int(index));
    }
    QString attributes(int, int *start, int *end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    SitemapText *view() const { return static_cast<SitemapText *>(widget()); }
};

namespace {

QAccessibleInterface *accessibleSitemapText(const QString &className, QObject *object) {
    if (className == QLatin1String("SitemapText") && object && object->isWidgetType())
        return new SitemapTextAccessible(static_cast<SitemapText *>(object));
    return nullptr;
}

} // namespace

SitemapText::SitemapText(QWidget *parent)
    : QAbstractScrollArea(parent) {
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleSitemapText);
        return true;
    }();
    Q_UNUSED(accessible);
    setFocusPolicy(Qt::StrongFocus);
    // Lines wrap at the view's width: there is nothing to scroll across.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    setText(QString());
}

SitemapText::~SitemapText() = default;

namespace {

// A plain string as the view's text, read through once to find its lines and characters.
class PlainText final : public ShownText {
public:
    explicit PlainText(const QString &text);
    qsizetype size() const override { return m_text.size(); }
    QString mid(qsizetype from, qsizetype length) const override {
        return m_text.mid(from, length);
    }
    qsizetype lineCount() const override { return qsizetype(m_lineStarts.size()); }
    qsizetype lineStart(qsizetype line) const override { return m_lineStarts[std::size_t(line)]; }
    qsizetype lineOf(qsizetype position) const override {
        return std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), position) -
               m_lineStarts.cbegin() - 1;
    }
    qsizetype lineEnd(qsizetype line) const override {
        if (line + 1 == lineCount())
            return m_text.size();
        qsizetype end = m_lineStarts[std::size_t(line) + 1] - 1;
        if (end > m_lineStarts[std::size_t(line)] && m_crBefore[std::size_t(line) + 1])
            --end;
        return end;
    }
    std::vector<qsizetype> linesLongerThan(qsizetype length) const override {
        std::vector<qsizetype> result;
        for (qsizetype line = 0; line < lineCount(); ++line) {
            if (lineEnd(line) - m_lineStarts[std::size_t(line)] > length)
                result.push_back(line);
        }
        return result;
    }
    QString characters() const override { return m_characters; }

private:
    QString m_text;
    // The offset where each line starts; the first is 0.
    std::vector<qsizetype> m_lineStarts{0};
    // Whether the line break before each line is CR LF rather than LF alone.
    std::vector<bool> m_crBefore{false};
    QString m_characters;
};

PlainText::PlainText(const QString &text)
    : m_text(text) {
    // A pass that keeps the ASCII characters in two words runs as vector code, and only a
    // text with others marks them one by one.
    const auto *units = reinterpret_cast<const char16_t *>(m_text.constData());
    const qsizetype size = m_text.size();
    for (qsizetype at = m_text.indexOf(u'\n'); at >= 0; at = m_text.indexOf(u'\n', at + 1)) {
        m_lineStarts.push_back(at + 1);
        m_crBefore.push_back(at > 0 && units[at - 1] == u'\r');
    }
    std::uint64_t low = 0, high = 0;
    bool wide = false;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = units[i];
        const std::uint64_t bit = std::uint64_t(1) << (u & 63);
        low |= u < 64 ? bit : 0;
        high |= u >= 64 && u < 128 ? bit : 0;
        wide |= u >= 128;
    }
    CharacterSet found;
    if (wide)
        found.add(m_text);
    for (char16_t u = 0; u < 128; ++u)
        found.units[u] = ((u < 64 ? low : high) >> (u & 63)) & 1;
    m_characters = found.text();
}

} // namespace

void SitemapText::setText(const QString &text) {
    setText(std::make_shared<PlainText>(text));
}

void SitemapText::setText(std::shared_ptr<const ShownText> text) {
    m_text = std::move(text);
    m_size = m_text->size();
    m_chunk = QString();
    m_chunkStart = 0;
    // The old rows go with the old text, however many there were.
    m_breaks = std::vector<qsizetype>();
    m_rowsKnown = false;
    m_distinct.clear();
    for (const QChar c : m_text->characters()) {
        if (!drawnAsSpace(c.unicode()))
            m_distinct += c;
    }

    m_anchor = m_cursor = 0;
    m_goalColumn = -1;
    m_dragging = false;
    updateAdvances();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

void SitemapText::select(qsizetype start, qsizetype length) {
    start = std::clamp<qsizetype>(start, 0, m_size);
    length = std::clamp<qsizetype>(length, 0, m_size - start);
    m_anchor = start;
    m_cursor = start + length;
    m_goalColumn = -1;
    announceCursor();
    viewport()->update();
}

QString SitemapText::textMid(qsizetype from, qsizetype length) const {
    return m_text ? m_text->mid(from, length) : QString();
}

QChar SitemapText::charAt(qsizetype position) const {
    // Characters are read near each other: the stretch around the last one is kept.
    constexpr qsizetype stretch = 4096;
    if (position < m_chunkStart || position >= m_chunkStart + m_chunk.size()) {
        m_chunkStart = position - position % stretch;
        m_chunk = m_text->mid(m_chunkStart, stretch);
    }
    return m_chunk.at(position - m_chunkStart);
}

void SitemapText::copy() const {
    if (selectionLength() > 0)
        QGuiApplication::clipboard()->setText(selectedText());
}

void SitemapText::ensureRows() const {
    const qreal width = std::max<qreal>(1, viewport()->width() - 2 * margin - 1);
    if (width == m_rowWidth && m_rowsKnown)
        return;
    m_rowWidth = width;
    m_rowsKnown = true;
    m_breaks.clear();
    // A line no longer than this fits whatever its characters; a longer one is measured a
    // character at a time and broken before the first that would cross the edge.
    const qsizetype surelyFits = qsizetype(width / m_widestCharacter);
    QString copied;
    for (const qsizetype line : m_text->linesLongerThan(surelyFits)) {
        qsizetype start = lineStart(line);
        const qsizetype end = lineEnd(line);
        // The line's characters: in the stretch charAt() keeps when it holds them all, which
        // it nearly always does, read in order; copied otherwise.
        charAt(start);
        const char16_t *units = reinterpret_cast<const char16_t *>(m_chunk.constData());
        qsizetype base = m_chunkStart;
        if (end > m_chunkStart + m_chunk.size()) {
            copied = textMid(start, end - start);
            units = reinterpret_cast<const char16_t *>(copied.constData());
            base = start;
        }
        const auto unit = [units, base](qsizetype i) { return units[i - base]; };
        qreal x = 0;
        for (qsizetype i = start; i < end; ++i) {
            if (x + m_advances[unit(i)] > width && i > start) {
                // A surrogate pair stays on one row.
                start = QChar::isLowSurrogate(unit(i)) && i - 1 > start ? i - 1 : i;
                m_breaks.push_back(start);
                x = start < i ? m_advances[unit(start)] : 0;
            }
            x += m_advances[unit(i)];
        }
    }
}

qsizetype SitemapText::rowCount() const {
    ensureRows();
    return lineCount() + qsizetype(m_breaks.size());
}

qsizetype SitemapText::rowOf(qsizetype position) const {
    ensureRows();
    return lineOf(position) +
           (std::upper_bound(m_breaks.cbegin(), m_breaks.cend(), position) - m_breaks.cbegin());
}

SitemapText::Row SitemapText::row(qsizetype index) const {
    ensureRows();
    // How many breaks come before line `line`, so that its first row is `line` plus that.
    const auto breaksBefore = [this](qsizetype line) {
        return qsizetype(std::lower_bound(m_breaks.cbegin(), m_breaks.cend(), lineStart(line)) -
                         m_breaks.cbegin());
    };
    // The row's line is the last whose first row is at most `index`.
    qsizetype line = index;
    if (!m_breaks.empty()) {
        qsizetype low = 0;
        qsizetype high = std::min(index, lineCount() - 1);
        while (low < high) {
            const qsizetype middle = low + (high - low + 1) / 2;
            if (middle + breaksBefore(middle) <= index)
                low = middle;
            else
                high = middle - 1;
        }
        line = low;
    }
    const qsizetype before = breaksBefore(line);
    const qsizetype within = index - line - before;
    const qsizetype start =
        within == 0 ? lineStart(line) : m_breaks[std::size_t(before + within - 1)];
    const qsizetype end = lineEnd(line);
    // The next row goes on the same line, or starts the next line after this one's break.
    const std::size_t next = std::size_t(before + within);
    const qsizetype to = next < m_breaks.size() ? std::min(m_breaks[next], end) : end;
    return {line, start, to - start};
}

int SitemapText::rowHeight() const {
    return std::max(1, int(std::ceil(QFontMetricsF(font()).height())));
}

int SitemapText::visibleRows() const {
    return std::max(1, (viewport()->height() - margin) / rowHeight());
}

QFont SitemapText::drawnFont() const {
    // Without kerning a row is exactly as wide as its characters' advances add up to.
    QFont result = font();
    result.setKerning(false);
    return result;
}

void SitemapText::updateAdvances() {
    const QFontMetricsF metrics(drawnFont());
    const qreal space = metrics.horizontalAdvance(u' ');
    m_advances.assign(0x10000, 0);
    qreal widest = space;
    for (qsizetype i = 0; i < m_distinct.size(); ++i) {
        const QChar c = m_distinct.at(i);
        // A pair's advance is counted on its first half.
        const qreal advance = c.isHighSurrogate()
                                  ? metrics.horizontalAdvance(m_distinct.mid(i++, 2))
                                  : metrics.horizontalAdvance(c);
        m_advances[c.unicode()] = float(std::max(m_advances[c.unicode()], float(advance)));
        widest = std::max(widest, advance);
    }
    // Control characters are drawn as spaces; a tab stops at the next multiple of the widest.
    m_widestCharacter = std::max<qreal>(1, widest);
    for (char16_t c = 0; c < 0x20; ++c)
        m_advances[c] = float(space);
    m_advances[0x2028] = m_advances[0x2029] = float(space);
    m_advances[u'\t'] = float(m_widestCharacter);
    m_rowsKnown = false;
    updateScrollBar();
}

void SitemapText::updateScrollBar() {
    // Rows are counted for the width the view is shown at, and only once it is shown: a text
    // set while it is hidden is wrapped once, when it appears.
    if (!isVisible())
        return;
    const qsizetype rows = rowCount();
    const int shown = visibleRows();
    const qsizetype last = std::max<qsizetype>(0, rows - shown);
    verticalScrollBar()->setRange(0,
                                  int(std::min<qsizetype>(last, std::numeric_limits<int>::max())));
    verticalScrollBar()->setPageStep(shown);
    verticalScrollBar()->setSingleStep(1);
}

void SitemapText::layOut(QTextLayout &layout, const Row &row) const {
    // What is drawn has one character for each of the row's, so that columns match: a
    // control character is drawn as a space, and a surrogate pair split between two rows
    // at the end of the first.
    QString shown = textMid(row.start, row.length);
    for (QChar &c : shown) {
        if (drawnAsSpace(c.unicode()))
            c = u' ';
    }
    if (!shown.isEmpty() && shown.front().isLowSurrogate() && row.start > 0 &&
        charAt(row.start - 1).isHighSurrogate())
        shown.front() = QChar(0x200B);
    const qsizetype end = row.start + row.length;
    if (!shown.isEmpty() && shown.back().isHighSurrogate() && end < m_size &&
        charAt(end).isLowSurrogate())
        shown += charAt(end);

    layout.setText(shown);
    layout.setFont(drawnFont());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(m_widestCharacter);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(std::numeric_limits<int>::max() / 256);
    layout.endLayout();
}

qsizetype SitemapText::positionAt(QPointF point) const {
    const qsizetype top = verticalScrollBar()->value();
    const qsizetype index = top + qsizetype(std::floor((point.y() - margin) / rowHeight()));
    if (index < 0)
        return 0;
    if (index >= rowCount())
        return m_size;
    const Row at = row(index);
    QTextLayout layout;
    layOut(layout, at);
    const int column = layout.lineAt(0).xToCursor(point.x() - margin);
    return normalized(at.start + std::clamp<qsizetype>(column, 0, at.length));
}

std::pair<qsizetype, qsizetype> SitemapText::wordAt(qsizetype position) const {
    // Words are looked for in the characters around the position, within its line: a word
    // of more than that many characters is taken in pieces.
    constexpr qsizetype reach = 4096;
    const qsizetype line = lineOf(position);
    const qsizetype from = std::max(lineStart(line), position - reach);
    const qsizetype to =
        std::min(line + 1 < lineCount() ? lineStart(line + 1) : m_size, position + reach);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, textMid(from, to - from));
    finder.setPosition(int(position - from));
    // The stretch between two boundaries: a word, or the spaces or signs between.
    if (!finder.isAtBoundary())
        finder.toPreviousBoundary();
    const qsizetype start = from + std::max<qsizetype>(0, finder.position());
    const qsizetype next = finder.toNextBoundary();
    return {start, next < 0 ? to : from + next};
}

qsizetype SitemapText::normalized(qsizetype position) const {
    position = std::clamp<qsizetype>(position, 0, m_size);
    if (position > 0 && position < m_size && charAt(position).isLowSurrogate() &&
        charAt(position - 1).isHighSurrogate())
        --position;
    const qsizetype line = lineOf(position);
    return std::min(position, std::max(lineEnd(line), lineStart(line)));
}

qsizetype SitemapText::nextPosition(qsizetype position) const {
    const qsizetype line = lineOf(position);
    if (position >= lineEnd(line))
        return line + 1 < lineCount() ? lineStart(line + 1) : m_size;
    return normalized(position + (charAt(position).isHighSurrogate() ? 2 : 1));
}

qsizetype SitemapText::previousPosition(qsizetype position) const {
    const qsizetype line = lineOf(position);
    if (position == lineStart(line))
        return line > 0 ? lineEnd(line - 1) : 0;
    return normalized(position - 1);
}

qsizetype SitemapText::verticalMove(qsizetype rows) {
    const qsizetype from = rowOf(m_cursor);
    const qsizetype to = from + rows;
    if (to < 0)
        return 0;
    if (to >= rowCount())
        return m_size;
    if (m_goalColumn < 0)
        m_goalColumn = m_cursor - row(from).start;
    const Row target = row(to);
    return normalized(target.start + std::min(m_goalColumn, target.length));
}

void SitemapText::moveCursor(qsizetype position, Anchor anchor) {
    m_cursor = position;
    if (anchor == Anchor::Move)
        m_anchor = position;
    ensureCursorVisible();
    announceCursor();
    viewport()->update();
}

void SitemapText::announceCursor() {
    if (!QAccessible::isActive())
        return;
    QAccessibleTextCursorEvent moved(this, int(m_cursor));
    QAccessible::updateAccessibility(&moved);
    QAccessibleTextSelectionEvent selected(this, int(selectionStart()),
                                           int(selectionStart() + selectionLength()));
    selected.setCursorPosition(int(m_cursor));
    QAccessible::updateAccessibility(&selected);
}

void SitemapText::ensureCursorVisible() {
    const qsizetype at = rowOf(m_cursor);
    const qsizetype top = verticalScrollBar()->value();
    if (at < top)
        verticalScrollBar()->setValue(int(at));
    else if (at >= top + visibleRows())
        verticalScrollBar()->setValue(int(at - visibleRows() + 1));
}

void SitemapText::paintEvent(QPaintEvent *) {
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    const qsizetype selectionFrom = selectionStart();
    const qsizetype selectionTo = selectionFrom + selectionLength();
    const qsizetype cursorRow = hasFocus() ? rowOf(m_cursor) : -1;
    const int height = rowHeight();

    const qsizetype top = verticalScrollBar()->value();
    const qsizetype bottom = std::min(rowCount(), top + visibleRows() + 1);
    for (qsizetype index = top; index < bottom; ++index) {
        const Row at = row(index);
        QTextLayout layout;
        layOut(layout, at);
        const QPointF origin(margin, margin + (index - top) * height);
        QList<QTextLayout::FormatRange> selections;
        const qsizetype from = std::max(selectionFrom, at.start);
        const qsizetype to = std::min(selectionTo, at.start + at.length);
        if (from < to)
            selections.append({int(from - at.start), int(to - from), selected});
        layout.draw(&painter, origin, selections);

        const QTextLine line = layout.lineAt(0);
        // A selected line break shows as a space's width of selection after the line.
        const qsizetype end = lineEnd(at.line);
        if (at.start + at.length == end && end < m_size && selectionFrom <= end &&
            selectionTo > end) {
            painter.fillRect(QRectF(origin.x() + line.naturalTextWidth(), origin.y(),
                                    QFontMetricsF(font()).horizontalAdvance(u' '), height),
                             palette().brush(QPalette::Highlight));
        }
        if (index == cursorRow) {
            const qreal x = origin.x() + line.cursorToX(int(m_cursor - at.start));
            painter.fillRect(QRectF(x, origin.y(), 1, height), palette().brush(QPalette::Text));
        }
    }
}

void SitemapText::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    // The row that holds the cursor stays in sight when rows are renumbered.
    const qreal before = m_rowWidth;
    updateScrollBar();
    if (before != m_rowWidth)
        ensureCursorVisible();
}

void SitemapText::showEvent(QShowEvent *event) {
    QAbstractScrollArea::showEvent(event);
    updateScrollBar();
}

void SitemapText::changeEvent(QEvent *event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateAdvances();
}

void SitemapText::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    const bool control = event->modifiers() & Qt::ControlModifier;
    const Anchor anchor = event->modifiers() & Qt::ShiftModifier ? Anchor::Keep : Anchor::Move;
    const qsizetype line = lineOf(m_cursor);
    qsizetype to;
    switch (event->key()) {
    // With Ctrl held, Left and Right move by word, or by the spaces or signs between two
    // words, within a line; a line break is one step of its own.
    case Qt::Key_Left:
        to = previousPosition(m_cursor);
        if (control && to >= lineStart(line))
            to = normalized(wordAt(to).first);
        break;
    case Qt::Key_Right:
        to = nextPosition(m_cursor);
        if (control && m_cursor < lineEnd(line))
            to = normalized(std::min(wordAt(m_cursor).second, lineEnd(line)));
        break;
    case Qt::Key_Up:
        moveCursor(verticalMove(-1), anchor);
        return;
    case Qt::Key_Down:
        moveCursor(verticalMove(1), anchor);
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int rows = event->key() == Qt::Key_PageUp ? -visibleRows() : visibleRows();
        verticalScrollBar()->setValue(verticalScrollBar()->value() + rows);
        moveCursor(verticalMove(rows), anchor);
        return;
    }
    case Qt::Key_Home:
        to = control ? 0 : lineStart(line);
        break;
    case Qt::Key_End:
        to = control ? m_size : lineEnd(line);
        break;
    default:
        // Typed text goes nowhere; the key is left to the window.
        event->ignore();
        return;
    }
    m_goalColumn = -1;
    moveCursor(to, anchor);
}

void SitemapText::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_dragging = true;
    m_goalColumn = -1;
    const Anchor anchor = event->modifiers() & Qt::ShiftModifier ? Anchor::Keep : Anchor::Move;
    moveCursor(positionAt(event->position()), anchor);
}

void SitemapText::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const auto [start, end] = wordAt(positionAt(event->position()));
    select(start, end - start);
    offerSelection();
}

void SitemapText::mouseMoveEvent(QMouseEvent *event) {
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    // Dragging past the top or bottom scrolls a row at a time.
    const QPointF at = event->position();
    if (at.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (at.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    const QPointF inside(at.x(), std::clamp<qreal>(at.y(), 0, viewport()->height() - 1));
    moveCursor(positionAt(inside), Anchor::Keep);
}

void SitemapText::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    offerSelection();
}

void SitemapText::offerSelection() const {
    // As in every text box of the desktop, what the mouse selected can be pasted with the
    // middle button.
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && selectionLength() > 0)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void SitemapText::focusInEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void SitemapText::focusOutEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void SitemapText::scrollContentsBy(int, int) {
    viewport()->update();
}

void SitemapText::contextMenuEvent(QContextMenuEvent *event) {
    QMenu menu(this);
    QAction *copyAction = menu.addAction(tr("&Copy"), this, &SitemapText::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(selectionLength() > 0);
    menu.addAction(tr("Select All"), this, [this] { select(0, m_size); });
    menu.exec(event->globalPos());
}
