#pragma once
// ThumbnailProvider: the pictures of result items and folder cards, one per
// process. A request answers at once: the finished preview from the memory
// cache, or else the file's icon from the theme (the fallback icon) while the
// detailed preview is loaded from the disk cache or rendered in the
// background. Arrivals are announced by previewsChanged(), debounced, so the
// views ask again. The model opens a new preview session for each new result
// list, which drops the queued work of the previous one.
// GUI thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <QCache>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>

#include "Core/Models/IndexedItem.h"
#include "Platform/Clock.h"

namespace pallix {

class ThumbnailProvider : public QObject {
    Q_OBJECT

public:
    enum class PreviewPriority { Urgent, Normal };

    static constexpr int kMemoryCacheLimit = 1400;
    static constexpr int kFallbackCacheLimit = 1800;
    static constexpr const char* kFolderPreviewAppearanceVersion = "folder-outline-fan-v12";

    explicit ThumbnailProvider(std::shared_ptr<Clock> clock, QObject* parent = nullptr);
    ~ThumbnailProvider() override;

    // The process's provider, on the system clock, created on first use.
    static ThumbnailProvider& shared();

    // The picture to show now, never null: a finished preview, else the
    // fallback icon. When a detailed preview is wanted and missing, its disk
    // load or render is arranged and previewsChanged() follows its arrival.
    QPixmap image(const IndexedItem& item, double iconSize, bool preferDetailedPreview, bool allowNestedLookup,
                  PreviewPriority priority);
    // The theme's icon of the path's type at iconSize × iconSize, cached per
    // path, size and folder flag. The list rows use this alone.
    QPixmap fallbackImage(const QString& path, bool isDirectory, double iconSize);
    // Asks image() for each folder and raster-kind file at the given size,
    // detailed, dropping the answers; other items are skipped.
    void prefetch(const QList<IndexedItem>& items, double iconSize, bool allowNestedLookup, PreviewPriority priority);

    // A key equal to the last one does nothing. A new key is remembered; when
    // at least `minIntervalMs` passed since the last full reset a new session
    // begins, otherwise only the pending key sets are forgotten.
    void beginNewPreviewSessionThrottled(const QString& sessionKey, int minIntervalMs);
    // Drops the queued work of the previous list; cached and running renders stay.
    void beginNewPreviewSession();

    const QString& lastSessionKey() const { return m_lastSessionKey; }

    // Keys: fields joined by "#"; sizes truncated to whole points.
    static QString memoryKey(const IndexedItem& item, double iconSize, bool preferDetailedPreview,
                             bool allowNestedLookup);
    static QString fallbackKey(const QString& path, double iconSize, bool isDirectory);
    // "img", "vid", "pdf" or "default", by the extension alone.
    static QString rasterCacheTag(const IndexedItem& item);
    static bool needsDetailedPreview(const IndexedItem& item, double iconSize);

signals:
    // Previews arrived; at most one per 110 ms quiet period.
    void previewsChanged();
    void previewSessionBegan();
    void pendingKeysForgotten();

private:
    std::shared_ptr<Clock> m_clock;
    QCache<QString, QPixmap> m_cache;          // finished previews by memory key
    QCache<QString, QPixmap> m_fallbackCache;  // theme icons by fallback key
    QString m_lastSessionKey;
    // None until the first reset: the first session is never throttled.
    std::optional<Clock::TimePoint> m_lastSessionResetAt;
    // Keys of disk loads and renders asked for but not finished.
    QSet<QString> m_pendingDiskLoadKeys;
    QSet<QString> m_pendingRenderKeys;
};

} // namespace pallix
