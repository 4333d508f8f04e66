#include "UI/Common/BandedScrollBarStyle.h"

#include <algorithm>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionComplex>

#include "UI/Common/ResultPainting.h"

namespace pallix {

namespace {

class BandedScrollBarStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        if (control != CC_ScrollBar || !painter || !painter->device())
            return QProxyStyle::drawComplexControl(control, option, painter, widget);
        // Each band drawn into an image of its own rows, then copied: a clip
        // per band instead drew the groove's lines a shade darker.
        const QRect rect = option->rect;
        const qreal ratio = painter->device()->devicePixelRatioF();
        const int rows = std::max(1, static_cast<int>(ResultPainting::kBandDeviceRows / ratio));
        for (int top = rect.top(); top <= rect.bottom(); top += rows) {
            const int height = std::min(rows, rect.bottom() + 1 - top);
            QImage band(QSize(rect.width(), height) * ratio, QImage::Format_ARGB32_Premultiplied);
            band.setDevicePixelRatio(ratio);
            band.fill(Qt::transparent);
            QPainter bandPainter(&band);
            bandPainter.setPen(painter->pen());
            bandPainter.setBrush(painter->brush());
            bandPainter.setFont(painter->font());
            bandPainter.setRenderHints(painter->renderHints());
            bandPainter.translate(-rect.left(), -top);
            QProxyStyle::drawComplexControl(control, option, &bandPainter, widget);
            bandPainter.end();
            painter->drawImage(QPoint(rect.left(), top), band);
        }
    }
};

} // namespace

void useBandedScrollBarStyle(QWidget* scrollBar)
{
    static QPointer<QStyle> shared;
    if (!shared) {
        // Over the application's own style, whichever it is; freed with the application.
        shared = new BandedScrollBarStyle(QApplication::style()->name());
        shared->setParent(qApp);
    }
    scrollBar->setStyle(shared);
}

} // namespace pallix
