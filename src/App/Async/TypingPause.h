#pragma once
// How long a pause completion waits before it looks again whether the user
// has stopped typing. Pure; any thread.

#include <algorithm>
#include <chrono>
#include <optional>

#include "Platform/Clock.h"

namespace pallix {

inline constexpr std::chrono::milliseconds kTypingPauseThreshold{680};
inline constexpr std::chrono::milliseconds kPauseCompletionMinimumWait{85};

// The rest of the typing threshold after the last keystroke, at least the
// minimum wait; the minimum wait when there was no keystroke.
inline Clock::Duration untilTypingEnds(std::optional<Clock::Duration> sinceInput)
{
    const Clock::Duration rest = sinceInput ? Clock::Duration(kTypingPauseThreshold) - *sinceInput
                                            : Clock::Duration::zero();
    return std::max<Clock::Duration>(rest, kPauseCompletionMinimumWait);
}

} // namespace pallix
