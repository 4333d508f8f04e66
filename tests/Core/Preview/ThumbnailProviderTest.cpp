#include "Core/Preview/ThumbnailProvider.h"

#include <chrono>
#include <memory>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace pallix {
namespace {

struct Counts {
    int sessions = 0;
    int forgets = 0;
};

struct ThrottleFixture : testing::Test {
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    ThumbnailProvider provider{clock};
    Counts counts;

    void SetUp() override
    {
        QObject::connect(&provider, &ThumbnailProvider::previewSessionBegan, &provider,
                         [this] { ++counts.sessions; });
        QObject::connect(&provider, &ThumbnailProvider::pendingKeysForgotten, &provider,
                         [this] { ++counts.forgets; });
    }
};

TEST_F(ThrottleFixture, FirstKeyAlwaysBeginsASession)
{
    provider.beginNewPreviewSessionThrottled("3|a", 420);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(provider.lastSessionKey(), "3|a");
}

TEST_F(ThrottleFixture, SameKeyTwiceDoesNothingTheSecondTime)
{
    provider.beginNewPreviewSessionThrottled("k", 420);
    clock->advance(5s);
    provider.beginNewPreviewSessionThrottled("k", 420);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(counts.forgets, 0);
}

TEST_F(ThrottleFixture, NewKeyInsideTheIntervalOnlyForgetsPendingKeys)
{
    provider.beginNewPreviewSessionThrottled("a", 420);
    clock->advance(100ms);
    provider.beginNewPreviewSessionThrottled("b", 420);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(counts.forgets, 1);
    EXPECT_EQ(provider.lastSessionKey(), "b");  // remembered even without a reset
}

TEST_F(ThrottleFixture, IntervalIsMeasuredFromTheLastFullReset)
{
    provider.beginNewPreviewSessionThrottled("a", 420);
    clock->advance(300ms);
    provider.beginNewPreviewSessionThrottled("b", 420);  // forget only: no reset
    clock->advance(119ms);
    provider.beginNewPreviewSessionThrottled("c", 420);  // 419 ms since the reset
    EXPECT_EQ(counts.sessions, 1);
    clock->advance(1ms);
    provider.beginNewPreviewSessionThrottled("d", 420);  // exactly 420 ms
    EXPECT_EQ(counts.sessions, 2);
}

} // namespace
} // namespace pallix
