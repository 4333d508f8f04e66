#include "App/Context/ForegroundActivity.h"

#include <chrono>

#include <gtest/gtest.h>

#include <QGuiApplication>

#include "App/FakeContext.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

struct ForegroundOnContext : FakeContext {
    bool stale = true;
    int searches = 0;
    std::vector<std::string> log;
    ForegroundActivity activity{*context, {[this] { return stale; }, [this] { ++searches; }}};
};

TEST(ForegroundActivity, FollowsTheApplicationAndSearchesOnComingBackOnlyWhenTheListMayLag)
{
    ForegroundOnContext f;
    EXPECT_TRUE(f.activity.isForegroundActive());
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(f.activity.isForegroundActive());
    EXPECT_EQ(f.searches, 0);

    f.stale = false;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(f.activity.isForegroundActive());
    EXPECT_EQ(f.searches, 0);

    // A return that searched nothing does not hold back the next one.
    f.stale = true;
    f.clock->advance(100ms);
    f.activity.applicationDidBecomeActive();
    EXPECT_EQ(f.searches, 1);

    f.clock->advance(1100ms);
    f.activity.applicationDidBecomeActive();
    EXPECT_EQ(f.searches, 1) << "within 1.2 s of the last search";
    f.clock->advance(100ms);
    f.activity.applicationDidBecomeActive();
    EXPECT_EQ(f.searches, 2);
}

TEST(ForegroundActivity, KeepWarmIsHeldOnceWhileTheSettingIsOnAndEndsWithIt)
{
    ForegroundOnContext f;
    f.env.services.beginKeepWarmActivity = [&f] {
        f.log.push_back("begin");
        return std::shared_ptr<void>(new int(0), [&f](void* token) {
            delete static_cast<int*>(token);
            f.log.push_back("end");
        });
    };
    f.activity.applyKeepWarmRule();
    EXPECT_FALSE(f.activity.holdsKeepWarmActivity());

    f.settings.keepAppWarmInBackground = true;
    f.activity.applyKeepWarmRule();
    f.activity.applyKeepWarmRule();
    EXPECT_TRUE(f.activity.holdsKeepWarmActivity());
    EXPECT_EQ(f.log, (std::vector<std::string>{"begin"}));

    f.settings.keepAppWarmInBackground = false;
    f.activity.applyKeepWarmRule();
    EXPECT_FALSE(f.activity.holdsKeepWarmActivity());
    EXPECT_EQ(f.log, (std::vector<std::string>{"begin", "end"}));

    // Without a platform activity a token still records that one is held.
    f.env.services.beginKeepWarmActivity = nullptr;
    f.settings.keepAppWarmInBackground = true;
    f.activity.applyKeepWarmRule();
    EXPECT_TRUE(f.activity.holdsKeepWarmActivity());
}

} // namespace
} // namespace pallix
