#pragma once
// ThumbnailProvider: the pictures of result items and folder cards, one per
// process. This first cut holds only the preview-session throttle that the
// application model drives with each new result list; the caches and render
// queues hook into beginNewPreviewSession() and the two pending key sets.
// GUI thread only.

#include <memory>
#include <optional>

#include <QObject>
#include <QSet>
#include <QString>

#include "Platform/Clock.h"

namespace pallix {

class ThumbnailProvider : public QObject {
    Q_OBJECT

public:
    explicit ThumbnailProvider(std::shared_ptr<Clock> clock, QObject* parent = nullptr);

    // The process's provider, on the system clock, created on first use.
    static ThumbnailProvider& shared();

    // A key equal to the last one does nothing. A new key is remembered; when
    // at least `minIntervalMs` passed since the last full reset a new session
    // begins, otherwise only the pending key sets are forgotten.
    void beginNewPreviewSessionThrottled(const QString& sessionKey, int minIntervalMs);

    // Drops the queued work of the previous list; cached and running renders stay.
    void beginNewPreviewSession();

    const QString& lastSessionKey() const { return m_lastSessionKey; }

signals:
    void previewSessionBegan();
    void pendingKeysForgotten();

private:
    std::shared_ptr<Clock> m_clock;
    QString m_lastSessionKey;
    // None until the first reset: the first session is never throttled.
    std::optional<Clock::TimePoint> m_lastSessionResetAt;
    // Keys of disk loads and renders asked for but not started yet.
    QSet<QString> m_pendingDiskLoadKeys;
    QSet<QString> m_pendingRenderKeys;
};

} // namespace pallix
