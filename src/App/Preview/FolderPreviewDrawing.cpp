#include "App/Preview/FolderPreviewDrawing.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace pallix::FolderPreviewDrawing {

namespace {

QColor rgba(double r, double g, double b, double a)
{
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), static_cast<float>(a));
}
QColor white(double a) { return rgba(1, 1, 1, a); }
QColor black(double a) { return rgba(0, 0, 0, a); }

QPainterPath rounded(const QRectF& r, double radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// A vertical gradient: the first stop along the bottom edge (y up).
void fillGradient(QPainter& p, const QRectF& r, const std::vector<std::pair<double, QColor>>& stops)
{
    QLinearGradient gradient(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
    for (const auto& [at, colour] : stops)
        gradient.setColorAt(at, colour);
    p.fillRect(r, gradient);
}

void strokePath(QPainter& p, const QPainterPath& path, const QColor& colour, double width)
{
    p.strokePath(path, QPen(colour, width));
}

// Three box blurs of the alpha channel approximate the Gaussian blur of a
// drop shadow; QPainter has none of its own.
void blurAlpha(QImage& image, int radius)
{
    if (radius < 1)
        return;
    const int w = image.width(), h = image.height();
    std::vector<int> line(static_cast<size_t>(std::max(w, h)));
    auto pass = [&](bool horizontal) {
        const int n = horizontal ? w : h, lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            auto at = [&](int i) -> QRgb& {
                return reinterpret_cast<QRgb*>(image.scanLine(horizontal ? l : i))[horizontal ? i : l];
            };
            for (int i = 0; i < n; ++i)
                line[static_cast<size_t>(i)] = qAlpha(at(i));
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += line[static_cast<size_t>(std::clamp(i, 0, n - 1))];
            for (int i = 0; i < n; ++i) {
                at(i) = qRgba(0, 0, 0, sum / (2 * radius + 1));
                sum += line[static_cast<size_t>(std::min(i + radius + 1, n - 1))]
                       - line[static_cast<size_t>(std::max(i - radius, 0))];
            }
        }
    };
    for (int k = 0; k < 3; ++k) {
        pass(true);
        pass(false);
    }
}

// Draws the shadow `path` casts under the painter's transform: blurred by
// `blur`, moved by `offset` (y up), in `colour`.
void castShadow(QPainter& p, const QPainterPath& path, double blur, QPointF offset, const QColor& colour)
{
    QImage layer(p.device()->width(), p.device()->height(), QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing);
        lp.setTransform(p.transform());
        lp.fillPath(path, Qt::black);
    }
    blurAlpha(layer, std::max(1, static_cast<int>(std::lround(blur / 2))));
    QImage tinted(layer.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(colour);
    {
        QPainter tp(&tinted);
        tp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        tp.drawImage(0, 0, layer);
    }
    p.save();
    p.resetTransform();
    p.drawImage(QPointF(offset.x(), -offset.y()), tinted);
    p.restore();
}

// Draws `image` aspect-filled into `d`, upright although y grows upward.
void drawImage(QPainter& p, const QImage& image, const QRectF& d)
{
    const double w = image.width(), h = image.height();
    const double scale = std::max(d.width() / std::max(w, 1.0), d.height() / std::max(h, 1.0));
    const QSizeF size(std::max(w * scale, 1.0), std::max(h * scale, 1.0));
    const QRectF target(d.center().x() - size.width() / 2, d.center().y() - size.height() / 2, size.width(),
                        size.height());
    p.save();
    p.translate(target.left(), target.top() + target.height());
    p.scale(1, -1);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(QPointF(0, 0), target.size()), image);
    p.restore();
}

QRectF drawFolderPocketShell(QPainter& p, const QRectF& r)
{
    const double w = r.width();
    const QRectF body(r.left() + 0.14 * w, r.top() + 0.09 * w, 0.72 * w, 0.40 * w);
    const QRectF tab(body.left() + 0.05 * w, body.bottom() - 0.015 * w, 0.26 * w, 0.085 * w);
    const QPainterPath bodyPath = rounded(body, 0.035 * w), tabPath = rounded(tab, 0.022 * w);
    castShadow(p, tabPath.united(bodyPath), 0.045 * w, {0, -0.018 * w}, black(0.10));
    p.fillPath(tabPath, rgba(0.33, 0.68, 0.94, 0.13));
    p.fillPath(bodyPath, rgba(0.33, 0.68, 0.94, 0.13));
    p.save();
    p.setClipPath(tabPath);
    fillGradient(p, tab, {{0, rgba(0.84, 0.94, 1.0, 0.18)}, {0.45, rgba(0.58, 0.82, 0.98, 0.14)}, {1, rgba(0.41, 0.72, 0.95, 0.08)}});
    p.restore();
    p.save();
    p.setClipPath(bodyPath);
    fillGradient(p, body, {{0, rgba(0.84, 0.94, 1.0, 0.16)}, {0.38, rgba(0.56, 0.81, 0.97, 0.15)}, {1, rgba(0.39, 0.70, 0.94, 0.09)}});
    p.restore();
    strokePath(p, tabPath, white(0.58), 1.2);
    strokePath(p, bodyPath, white(0.58), 1.25);
    p.setPen(QPen(black(0.08), 0.9));
    p.drawLine(QPointF(body.left() + 0.015 * w, body.top() + 0.8), QPointF(body.right() - 0.015 * w, body.top() + 0.8));
    fillGradient(p, QRectF(body.left() + 0.03 * w, body.top() - 0.04 * w, body.width() - 0.06 * w, 0.05 * w),
                 {{0, rgba(0.55, 0.82, 0.98, 0.14)}, {1, white(0)}});
    return body;
}

void drawFannedCard(QPainter& p, const QImage* image, const QRectF& c, double rotation, double radius)
{
    const double w = c.width();
    p.save();
    p.translate(c.center().x(), c.top());
    p.rotate(rotation);
    p.translate(-c.center().x(), -c.top());
    const QPainterPath card = rounded(c, radius);
    castShadow(p, card, 0.08 * w, {0.018 * w, -0.035 * w}, black(0.26));
    p.fillPath(card, Qt::white);
    if (image) {
        p.save();
        p.setClipPath(card);
        drawImage(p, *image, c);
        p.restore();
    }
    strokePath(p, rounded(c.adjusted(0.7, 0.7, -0.7, -0.7), std::max(radius - 0.7, 1.0)), white(0.70), 0.8);
    strokePath(p, card, black(0.12), 0.5);
    p.restore();
}

void drawVideoPlayGlyph(QPainter& p, const QRectF& card, double s)
{
    const double r = std::max(0.055 * s, 7.0);
    const QPointF c(card.right() - r - 0.02 * s, card.bottom() - r - 0.02 * s);
    QPainterPath circle;
    circle.addEllipse(c, r, r);
    p.fillPath(circle, black(0.45));
    strokePath(p, circle, white(0.92), 1.0);
    const double t = 0.55 * r;
    QPainterPath triangle;
    triangle.moveTo(c.x() - 0.25 * t, c.y() - 0.62 * t);
    triangle.lineTo(c.x() - 0.25 * t, c.y() + 0.62 * t);
    triangle.lineTo(c.x() + 0.72 * t, c.y());
    triangle.closeSubpath();
    p.fillPath(triangle, white(0.95));
}

void drawFolderPocketOverlay(QPainter& p, const QRectF& b, double s)
{
    const QRectF flap(b.left() + 0.012 * s, b.top() + 0.012 * b.height(), b.width() - 0.024 * s, 0.42 * b.height());
    const QPainterPath flapPath = rounded(flap, 0.04 * s);
    p.save();
    p.setClipPath(flapPath);
    fillGradient(p, flap, {{0, rgba(0.86, 0.95, 1.0, 0.10)}, {0.46, rgba(0.63, 0.84, 0.98, 0.22)}, {1, rgba(0.45, 0.73, 0.95, 0.28)}});
    fillGradient(p, QRectF(flap.left(), flap.top(), flap.width(), 0.55 * flap.height()), {{0, white(0.12)}, {1, white(0)}});
    p.restore();
    p.setPen(QPen(white(0.40), 1.0));
    p.drawLine(QPointF(flap.left() + 0.018 * s, flap.bottom() - 0.6), QPointF(flap.right() - 0.018 * s, flap.bottom() - 0.6));
    strokePath(p, flapPath, rgba(0.24, 0.58, 0.89, 0.32), 1.0);
}

} // namespace

int canvasSide(double displayPoints)
{
    return static_cast<int>(std::lround(std::min(std::max(2 * displayPoints, 96.0), 224.0)));
}

QImage renderFolderPreviewStack(const QList<QImage>& decodedImages, const QList<bool>& isVideoFlags,
                                double displayPoints)
{
    if (decodedImages.isEmpty())
        return {};
    const int side = canvasSide(displayPoints);
    const double s = side;
    QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    // y grows upward from the lower left corner, as the design is written;
    // QRectF's "top" is then the lower edge and "bottom" the upper one.
    p.translate(0, s);
    p.scale(1, -1);
    const QRectF b = drawFolderPocketShell(p, QRectF(0, 0, s, s));
    auto sample = [&](int i) { return i < decodedImages.size() ? &decodedImages[i] : nullptr; };
    drawFannedCard(p, sample(1), QRectF(0.28 * s, b.bottom() - 0.208 * s, 0.54 * s, 0.3888 * s), -13.5, 0.041 * s);
    drawFannedCard(p, sample(2), QRectF(0.24 * s, b.bottom() - 0.238 * s, 0.54 * s, 0.3888 * s), -7.5, 0.041 * s);
    const QRectF front(0.19 * s, b.top() - 0.008 * s, 0.61 * s, 0.4392 * s);
    if (!isVideoFlags.isEmpty() && isVideoFlags.front()) {
        QRectF video(0, 0, front.width() * 1.1, front.height() * 1.1);
        video.moveCenter(front.center() + QPointF(0.018 * s, 0.03 * s));
        drawFannedCard(p, sample(0), video, 0, 0.046 * s * 1.05);
        drawVideoPlayGlyph(p, video, s);
    } else {
        drawFannedCard(p, sample(0), front, 0, 0.046 * s);
    }
    drawFolderPocketOverlay(p, b, s);
    p.end();
    return canvas;
}

} // namespace pallix::FolderPreviewDrawing
