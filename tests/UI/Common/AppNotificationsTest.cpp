#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "UI/Common/AppNotifications.h"

namespace pallix {

TEST(AppNotifications, QueuedReceiverRunsAfterThePosterReturns)
{
    int calls = 0;
    QObject receiver;
    QObject::connect(&AppNotifications::shared(), &AppNotifications::toggleSearchWindow, &receiver,
                     [&] { ++calls; }, Qt::QueuedConnection);
    QSignalSpy spy(&AppNotifications::shared(), &AppNotifications::toggleSearchWindow);
    AppNotifications::shared().postToggleSearchWindow();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 20000));
}

} // namespace pallix
