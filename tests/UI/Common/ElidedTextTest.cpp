// Text laid out once draws what QPainter::drawText draws in its place: the
// same elision, the same alignment, in the painter's pen, and a cached layout
// follows the box's width.

#include "UI/Common/ElidedText.h"

#include <functional>

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "UI/Common/ResultPainting.h"

namespace pallix {
namespace {

QImage drawn(const std::function<void(QPainter&)>& paint)
{
    QImage image(420, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(QColor(40, 90, 200));
    paint(painter);
    return image;
}

TEST(ElidedText, DrawsWhatDrawTextDrawsInItsPlace)
{
    ElidedText texts;
    const QFont font = ResultPainting::font(13);
    const QString longName = QStringLiteral("租房合同 final v2 最终版本 扫描件 2024-03-18 签字盖章.pdf");
    struct Case {
        QRect box;
        Qt::Alignment align;
        QString text;
        Qt::TextElideMode mode = Qt::ElideRight;
    };
    for (const Case& c : {Case{QRect(10, 6, 400, 26), Qt::AlignLeft, longName},
                          Case{QRect(10, 6, 160, 26), Qt::AlignLeft, longName},  // elided
                          Case{QRect(10, 6, 90, 26), Qt::AlignRight, QStringLiteral("1.5 MB")},
                          Case{QRect(10, 6, 60, 26), Qt::AlignLeft, QStringLiteral("/home/user/文档/发票")},
                          Case{QRect(10, 6, 150, 26), Qt::AlignLeft, QStringLiteral("/home/user/文档/发票/2024/三月/扫描"),
                               Qt::ElideMiddle}}) {
        SCOPED_TRACE(c.text.toStdString() + " in " + std::to_string(c.box.width()));
        const QImage expected = drawn([&](QPainter& p) {
            p.setFont(font);
            p.drawText(c.box, c.align | Qt::AlignVCenter,
                       QFontMetrics(font).elidedText(c.text, c.mode, c.box.width()));
        });
        for (int pass = 0; pass < 2; ++pass) {  // laid out, then from the cache
            const QImage actual = drawn([&](QPainter& p) {
                p.setFont(font);
                texts.draw(p, c.box, c.align, c.text, font, c.mode);
            });
            EXPECT_EQ(actual, expected) << "pass " << pass;
        }
    }
}

} // namespace
} // namespace pallix
