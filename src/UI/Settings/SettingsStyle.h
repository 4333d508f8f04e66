#pragma once
// The text styles and card painting the settings window shares: headline,
// body, callout, caption and the monospaced callout of paths, the secondary
// text colour, and the rounded cards of sections and list rows. GUI thread.

#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace pallix::settingsstyle {

enum class TextStyle { Headline, Body, Callout, Caption, MonoCallout, Count };

// Applies the font of `style` to `widget`.
void applyTextStyle(QWidget* widget, TextStyle style);
// Draws `widget`'s text in the secondary (dimmed) colour.
void applySecondaryColor(QWidget* widget);
// A label in `style`; `wraps` lets it take as many lines as the width needs.
QLabel* label(const QString& text, TextStyle style, bool secondary, bool wraps, QWidget* parent = nullptr);

// Fills `widget`'s rectangle with a rounded card of `radius` in the control
// background colour at `opacity`. Called from paint events.
void paintCard(QWidget* widget, qreal radius, qreal opacity);

} // namespace pallix::settingsstyle
