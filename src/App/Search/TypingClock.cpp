#include "App/Search/TypingClock.h"

#include <chrono>
#include <limits>

#include "App/Search/SearchBudgets.h"

namespace pallix {

std::optional<Clock::Duration> TypingClock::sinceLastKeystroke() const
{
    if (!m_lastKeystrokeAt)
        return std::nullopt;
    return m_clock.now() - *m_lastKeystrokeAt;
}

double TypingClock::secondsSinceLastKeystroke() const
{
    const std::optional<Clock::Duration> since = sinceLastKeystroke();
    if (!since)
        return std::numeric_limits<double>::infinity();
    return std::chrono::duration<double>(*since).count();
}

bool TypingClock::isTyping() const
{
    const std::optional<Clock::Duration> since = sinceLastKeystroke();
    return since && *since < searchbudgets::kTypingThreshold;
}

} // namespace pallix
