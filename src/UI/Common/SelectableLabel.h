#pragma once
// SelectableLabel: a read-only text whose characters the user selects with
// the mouse and copies with Ctrl+C, laid over a painted name or subtitle. It
// shows the lines the painted text shows, under the same TextLines rule; a
// selection over a "…" takes the characters it hides. The owner's width wins over
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

#include "UI/Common/TextLines.h"

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
    // How the text breaks into lines and where it is cut: one line cut at its end unless set.
    void setLineRule(TextLines::Rule rule);

    QString selectedText() const;
    // The width lines are broken at: the last width above 1 pixel.
    int wrapWidth() const;
    // The lines shown at the wrap width, "…" included.
    QStringList shownLines() const;
    int lineCount() const;

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
    // One shown line, laid out once, and its top in the lines' block.
    struct Line {
        TextLines::Line text;
        std::unique_ptr<QTextLayout> layout;
        double top = 0;
    };

    void invalidate();
    const std::vector<Line>& lines() const;
    std::vector<Line> layoutLines(int width) const;
    int positionAt(QPointF pos) const;
    void setSelection(int anchor, int cursor);
    bool hasSelection() const { return m_anchor != m_cursor; }
    void copySelection(QClipboard::Mode mode) const;

    QString m_text;
    QColor m_color;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    TextLines::Rule m_rule;
    mutable int m_wrapWidth = 0;
    int m_anchor = 0;  // the selection is [min, max) of the two, in the text
    int m_cursor = 0;
    bool m_selecting = false;
    mutable std::vector<Line> m_lines;
    mutable bool m_linesValid = false;
};

} // namespace pallix
