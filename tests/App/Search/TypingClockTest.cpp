#include "App/Search/TypingClock.h"

#include <chrono>
#include <cmath>
#include <memory>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace pallix {
namespace {

TEST(TypingClock, TypingLastsUntil680MillisecondsAfterTheLastKeystroke)
{
    auto fake = std::make_shared<FakeClock>();
    TypingClock typing{AsyncClock(fake)};
    // Before the first keystroke: the distant past.
    EXPECT_FALSE(typing.isTyping());
    EXPECT_FALSE(typing.sinceLastKeystroke().has_value());
    EXPECT_TRUE(std::isinf(typing.secondsSinceLastKeystroke()));

    typing.noteKeystroke();
    fake->advance(679ms);
    EXPECT_TRUE(typing.isTyping());
    EXPECT_EQ(typing.sinceLastKeystroke(), Clock::Duration(679ms));
    fake->advance(1ms);
    EXPECT_FALSE(typing.isTyping());
    EXPECT_DOUBLE_EQ(typing.secondsSinceLastKeystroke(), 0.68);

    // A later keystroke starts the count again.
    fake->advance(5s);
    typing.noteKeystroke();
    EXPECT_TRUE(typing.isTyping());
    EXPECT_EQ(typing.sinceLastKeystroke(), Clock::Duration::zero());
}

} // namespace
} // namespace pallix
