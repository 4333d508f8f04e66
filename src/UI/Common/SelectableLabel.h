#pragma once
// SelectableLabel: a read-only text whose characters the user selects with
// the mouse and copies with Ctrl+C, laid over a painted name or subtitle. At
// most one line ends in "…"; with more, the text wraps (at words, else
// anywhere) and the last line is cut with "…". The owner's width wins over
// the text's own; the width it wraps at follows the label's width, and a
// width of 1 pixel or less (a first layout before the owner's) keeps the
// previous one. Setting the text it already shows keeps the selection. It
// takes the focus on a click (Ctrl+C then copies the selection, not the
// window's command) and draws no focus ring. GUI thread only.

#include <memory>
#include <vector>

#include <QClipboard>
#include <QColor>
#include <QWidget>

class QTextLayout;

namespace pallix {

class SelectableLabel : public QWidget {
    Q_OBJECT

public:
    explicit SelectableLabel(QWidget* parent = nullptr);
    ~SelectableLabel() override;

    QString text() const { return m_text; }
    // A different text clears the selection; the same text keeps it.
    void setText(const QString& text);
    void setTextColor(const QColor& color);
    // Horizontal: left, centre or right; vertical: top or centre.
    void setAlignment(Qt::Alignment alignment);
    void setMaximumLines(int lines);

    QString selectedText() const;
    // The width lines are broken at: the last width above 1 pixel.
    int wrapWidth() const;
    // The lines shown at the wrap width, "…" included.
    QStringList shownLines() const;
    int lineCount() const;
    // The lines a label of this text and font shows at `width`.
    static int lineCount(const QString& text, const QFont& font, int width, int maximumLines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    // A press of the left button, before it starts a selection.
    void pressed();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // One shown line: the characters of the text from `start`, `visible` of
    // them drawn, and (on a cut last line) the hidden rest standing behind "…".
    struct Line {
        std::unique_ptr<QTextLayout> layout;
        int start = 0;
        int visible = 0;
        int covered = 0;  // visible plus the hidden rest
        double top = 0;
    };

    void invalidate();
    const std::vector<Line>& lines() const;
    static std::vector<Line> layoutLines(const QString& text, const QFont& font, int width, int maximumLines,
                                         Qt::Alignment alignment);
    int positionAt(QPointF pos) const;
    void setSelection(int anchor, int cursor);
    bool hasSelection() const { return m_anchor != m_cursor; }
    void copySelection(QClipboard::Mode mode) const;

    QString m_text;
    QColor m_color;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    int m_maximumLines = 1;
    mutable int m_wrapWidth = 0;
    int m_anchor = 0;  // the selection is [min, max) of the two, in the text
    int m_cursor = 0;
    bool m_selecting = false;
    mutable std::vector<Line> m_lines;
    mutable bool m_linesValid = false;
};

} // namespace pallix
