#pragma once
// TypingClock: when the user last typed into the search field, read on the
// context's clock. The session stamps it on every keystroke; the roads that
// wait for a pause, the publishing and the watcher's batch delay read it.
// GUI thread only.

#include <optional>

#include "App/Async/AsyncClock.h"
#include "Platform/Clock.h"

namespace pallix {

class TypingClock {
public:
    explicit TypingClock(AsyncClock clock) : m_clock(std::move(clock)) {}

    // A keystroke now.
    void noteKeystroke() { m_lastKeystrokeAt = m_clock.now(); }
    // Time since the last keystroke; none before the first one.
    std::optional<Clock::Duration> sinceLastKeystroke() const;
    // Seconds since the last keystroke; infinite before the first one.
    double secondsSinceLastKeystroke() const;
    // The last keystroke is less than the typing threshold (0.68 s) old.
    bool isTyping() const;

private:
    AsyncClock m_clock;
    std::optional<Clock::TimePoint> m_lastKeystrokeAt;  // none: the distant past
};

} // namespace pallix
