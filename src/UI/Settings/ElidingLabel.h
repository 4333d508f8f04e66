#pragma once
// ElidingLabel: plain text on at most a fixed number of lines. It wraps at
// word boundaries, or anywhere when a word (a long path) is wider than the
// line, and ends the last line with an ellipsis when text is left over; cut
// in the middle, the last line instead begins with the ellipsis and ends
// with the end of the text (a path keeps its last folders). GUI thread.

#include <QString>
#include <QStringList>
#include <QWidget>

namespace pallix {

class ElidingLabel : public QWidget {
    Q_OBJECT

public:
    ElidingLabel(const QString& text, int maxLines, QWidget* parent = nullptr,
                 Qt::TextElideMode mode = Qt::ElideRight);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    // The lines drawn at `width`, the last one elided when the text is longer.
    QStringList linesFor(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    int m_maxLines;
    Qt::TextElideMode m_mode;
};

} // namespace pallix
