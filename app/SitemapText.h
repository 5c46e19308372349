#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include <algorithm>
#include <utility>
#include <vector>

#include <memory>

class QFont;
class QTextLayout;

// A text the view shows, read a stretch at a time; it never changes. It tells its own lines
// and characters, so that a text that knows them without being read through, such as a
// sitemap held as its entries, costs the view no pass over it.
class ShownText {
public:
    virtual ~ShownText() = default;
    virtual qsizetype size() const = 0;
    // `length` code units from `from`, both within the text.
    virtual QString mid(qsizetype from, qsizetype length) const = 0;
    // A line starts at 0 and after each line feed.
    virtual qsizetype lineCount() const = 0;
    // REQUIRES: 0 <= line < lineCount().
    virtual qsizetype lineStart(qsizetype line) const = 0;
    // Where line `line`'s text ends: before its CR LF or LF, or at the end of the text.
    virtual qsizetype lineEnd(qsizetype line) const = 0;
    // The line that holds `position`, from 0 to size().
    virtual qsizetype lineOf(qsizetype position) const = 0;
    // The lines longer than `length` code units, their CR LF or LF left out, in order.
    virtual std::vector<qsizetype> linesLongerThan(qsizetype length) const = 0;
    // Each distinct character of the text once, a surrogate pair as its two code units.
    virtual QString characters() const = 0;
};

// A read-only view of a long text, such as a sitemap of hundreds of thousands of lines, that
// costs what is on screen. The text tells where its lines are; only a line too long to fit
// whatever its characters is wrapped into rows, by adding up its characters' advances
// without laying it out, and the view keeps where those extra rows start. Only the rows on screen
// are ever laid out, so showing, hiding and scrolling cost the same whatever the text's size and
// however long its lines.
//
// Positions are offsets in the text's UTF-16 code units, from 0 to its size. The user
// scrolls, selects with the mouse and keyboard, and copies with the platform's copy key or
// the context menu; the view has no select-all key of its own: the window decides when a key
// selects all, through select(). A screen reader reads the text, the cursor and the
// selection through the view's accessible text interface.
class SitemapText final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit SitemapText(QWidget *parent = nullptr);
    ~SitemapText() override;

    // Shows `text` from its first row with nothing selected. A plain string costs a pass over
    // it.
    void setText(const QString &text);
    void setText(std::shared_ptr<const ShownText> text);
    qsizetype textSize() const { return m_size; }
    QString textMid(qsizetype from, qsizetype length) const;
    QString text() const { return textMid(0, m_size); }

    // Selects `length` characters from `start`, both cut to the text.
    void select(qsizetype start, qsizetype length);
    qsizetype selectionStart() const { return std::min(m_anchor, m_cursor); }
    qsizetype selectionLength() const { return std::max(m_anchor, m_cursor) - selectionStart(); }
    QString selectedText() const { return textMid(selectionStart(), selectionLength()); }
    // Puts the selected text on the clipboard; with nothing selected, does nothing.
    void copy() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    friend class SitemapTextAccessible;

    // A row on screen: characters [start, start + length) of line `line`, without its break.
    struct Row {
        qsizetype line;
        qsizetype start;
        qsizetype length;
    };
    enum class Anchor { Move, Keep };

    qsizetype lineCount() const { return m_text->lineCount(); }
    qsizetype lineStart(qsizetype line) const { return m_text->lineStart(line); }
    qsizetype lineOf(qsizetype position) const { return m_text->lineOf(position); }
    qsizetype lineEnd(qsizetype line) const { return m_text->lineEnd(line); }
    qsizetype rowCount() const;
    qsizetype rowOf(qsizetype position) const;
    Row row(qsizetype index) const;
    int rowHeight() const;
    int visibleRows() const;

    // Breaks the lines into rows again when the view's width has changed.
    void ensureRows() const;
    QFont drawnFont() const;
    void updateAdvances();
    void updateScrollBar();
    void layOut(QTextLayout &layout, const Row &row) const;
    qsizetype positionAt(QPointF point) const;
    // The word at `position`, or the spaces or signs between two words: [first, second).
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const;
    qsizetype normalized(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;
    qsizetype previousPosition(qsizetype position) const;
    qsizetype verticalMove(qsizetype rows);
    void moveCursor(qsizetype position, Anchor anchor);
    void ensureCursorVisible();
    // Hands what the mouse selected to the desktop's selection, where it has one.
    void offerSelection() const;
    // Tells a screen reader where the cursor and the selection are.
    void announceCursor();

    QChar charAt(qsizetype position) const;

    std::shared_ptr<const ShownText> m_text;
    qsizetype m_size = 0;
    // The stretch of the text that charAt() read last, and where it starts.
    mutable QString m_chunk;
    mutable qsizetype m_chunkStart = 0;
    // Each distinct character of the text once, a surrogate pair as its two code units.
    QString m_distinct;
    // The advance of each UTF-16 code unit in the drawn font, a surrogate pair's on its first
    // half; 0 for characters the text does not hold.
    std::vector<float> m_advances;
    qreal m_widestCharacter = 1;
    // Where each row that does not start a line starts, for rows of at most m_rowWidth
    // pixels; known once first needed.
    mutable std::vector<qsizetype> m_breaks;
    mutable bool m_rowsKnown = false;
    mutable qreal m_rowWidth = -1;

    qsizetype m_anchor = 0;
    qsizetype m_cursor = 0;
    // The column that Up and Down keep to across rows; -1 until one of them is pressed.
    qsizetype m_goalColumn = -1;
    bool m_dragging = false;
};
