#include "Core/Preview/ThumbnailProvider.h"

#include <chrono>

namespace pallix {

ThumbnailProvider::ThumbnailProvider(std::shared_ptr<Clock> clock, QObject* parent)
    : QObject(parent), m_clock(std::move(clock))
{
}

ThumbnailProvider& ThumbnailProvider::shared()
{
    static ThumbnailProvider* provider = new ThumbnailProvider(Clock::system());
    return *provider;
}

void ThumbnailProvider::beginNewPreviewSessionThrottled(const QString& sessionKey, int minIntervalMs)
{
    if (sessionKey == m_lastSessionKey)
        return;
    m_lastSessionKey = sessionKey;
    const auto now = m_clock->now();
    const bool due = !m_lastSessionResetAt
                     || std::chrono::duration<double, std::milli>(now - *m_lastSessionResetAt).count()
                            >= static_cast<double>(minIntervalMs);
    if (due) {
        m_lastSessionResetAt = now;
        beginNewPreviewSession();
        return;
    }
    // Inside the interval a full reset would thrash the renders of a list
    // that is still settling; forgetting the pending keys lets the new list
    // queue its own requests again.
    m_pendingDiskLoadKeys.clear();
    m_pendingRenderKeys.clear();
    emit pendingKeysForgotten();
}

void ThumbnailProvider::beginNewPreviewSession()
{
    m_pendingDiskLoadKeys.clear();
    m_pendingRenderKeys.clear();
    emit previewSessionBegan();
}

} // namespace pallix
