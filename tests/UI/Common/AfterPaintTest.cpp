// Work asked for after the paint runs once the pending paint is done, once
// however often it was asked for, and again when asked for later.

#include "UI/Common/AfterPaint.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTest>
#include <QWidget>

namespace pallix {
namespace {

class LoggingWidget : public QWidget {
public:
    QStringList* log = nullptr;

protected:
    void paintEvent(QPaintEvent*) override { log->append(QStringLiteral("paint")); }
};

TEST(AfterPaint, RunsOnceAfterThePendingPaintHoweverOftenAskedFor)
{
    QStringList log;
    LoggingWidget widget;
    widget.log = &log;
    widget.resize(120, 80);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.contains(QStringLiteral("paint")); }, 20000));
    QCoreApplication::processEvents();

    AfterPaint after([&] { log.append(QStringLiteral("work")); }, &widget);
    log.clear();
    widget.update();  // posts the window's update request
    after.request();
    after.request();
    EXPECT_TRUE(log.isEmpty());  // nothing runs inside request()
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.contains(QStringLiteral("work")); }, 20000));
    QCoreApplication::processEvents();
    EXPECT_EQ(log, (QStringList{"paint", "work"}));

    // Asked for again, with nothing to paint, it runs again.
    log.clear();
    after.request();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.isEmpty(); }, 20000));
    EXPECT_EQ(log, (QStringList{"work"}));
}

} // namespace
} // namespace pallix
