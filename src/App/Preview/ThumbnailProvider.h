#pragma once
// ThumbnailProvider: the pictures of result items and folder cards, one per
// process. A request answers at once: the finished preview from the memory
// cache, or else the file's icon from the theme (the fallback icon) while the
// detailed preview is loaded from the disk cache or rendered in the
// background; meanwhile a picture of the item made at another size (the
// last zoom step's) stands in for the icon. Arrivals are announced by
// previewsChanged(), debounced, so the views ask again. The model opens a new
// preview session for each new result list, which drops the queued work of
// the previous one.
// GUI thread only. Disk loads, PNG writes and renders run on worker threads
// and hand their results back to the GUI thread, where all bookkeeping is.
//
// A cached preview remembers the modification time it was made for: a
// request for an item changed since (also one whose decoding failed) misses
// and renders again under the new time's disk name.
//
// Memory: finished previews are kept up to a budget of pixel bytes, the
// least recently asked for going first (1,400 pictures at 256 px would be
// 360 MB). Once no picture was asked for during kIdleRelease the memory
// caches go, the disk keeps the previews, and freed memory is handed back to
// the system: a process at rest holds no pictures.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCache>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include "Core/Models/IndexedItem.h"
#include "App/Preview/PreviewRenderer.h"
#include "Platform/Clock.h"

namespace pallix {

class ThumbnailProvider : public QObject {
    Q_OBJECT

public:
    enum class PreviewPriority { Urgent, Normal };

    static constexpr int kMemoryCacheLimit = 1400;  // items whose last size is remembered
    static constexpr qsizetype kMemoryCacheBudgetBytes = qsizetype(40) << 20;
    static constexpr std::chrono::milliseconds kIdleRelease{60'000};
    static constexpr int kFallbackCacheLimit = 1800;
    static constexpr int kThemeIconCacheLimit = 400;
    static constexpr const char* kFolderPreviewAppearanceVersion = "folder-outline-fan-v13";

    static constexpr int kMaxConcurrentRenders = 6;
    static constexpr int kRefreshDelayMs = 110;

    // What a provider is built on; empty fields mean the running system's.
    struct Options {
        std::filesystem::path cacheDirectory;        // AppPaths::cachesAppDirectory()
        std::shared_ptr<PreviewRenderer> renderer;   // decoding on a pool of six threads
        std::chrono::milliseconds idleRelease = kIdleRelease;
    };

    explicit ThumbnailProvider(std::shared_ptr<Clock> clock, QObject* parent = nullptr);
    ThumbnailProvider(std::shared_ptr<Clock> clock, Options options, QObject* parent = nullptr);
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
    // The theme's icon of a special file's type (a pipe, a socket, a device)
    // at iconSize × iconSize: what such a file shows instead of a preview.
    QPixmap typeImage(RegularFile::Type type, double iconSize);
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
    static RasterDecoding::Kind rasterKind(const IndexedItem& item);
    // The disk key: folders always, image, video and PDF files by kind
    // prefix; empty for other files.
    static QString diskKey(const IndexedItem& item, double iconSize, bool allowNestedLookup);
    // Lower-case hex SHA-256 of the key's UTF-8 bytes, then ".png".
    static QString diskFileName(const QString& diskKey);
    // Where the item's disk preview lies (whether or not it exists); empty
    // for files without a disk key, and for all when the cache folder
    // belongs to another user.
    QString diskCacheFile(const IndexedItem& item, double iconSize, bool allowNestedLookup) const;
    // Seconds since 1970 in shortest round-trip form, never without a fraction.
    static QString formatModificationTime(double secondsSince1970);

    int activeRenders() const { return m_activeRenders; }
    // Pixel bytes of the finished previews kept in memory, within the budget.
    qsizetype memoryCacheBytes() const { return qsizetype(m_cache.totalCost()) << 10; }
    int queuedRenders() const { return static_cast<int>(m_urgentQueue.size() + m_normalQueue.size()); }

signals:
    // Previews arrived; at most one per 110 ms quiet period.
    void previewsChanged();
    void previewSessionBegan();
    void pendingKeysForgotten();

private:
    struct CachedPreview {
        QPixmap picture;
        double modifiedAt = 0;  // of the item it was made for
    };

    struct DiskLoad {
        QString key;
        QString file;
        double modifiedAt = 0;
        QImage image;  // read on the pool
    };

    QPixmap standIn(const QString& key, double modifiedAt, const QPixmap& fallback);
    void storeInMemory(const QString& key, const QPixmap& picture, double modifiedAt);
    void scheduleDiskCacheLoad(const QString& key, const QString& file, double modifiedAt);
    void startDiskLoads();
    void finishDiskLoad(const DiskLoad& load);
    void startNextPreviewRenderIfNeeded();
    void finishRender(const PreviewRequest& request, const RenderOutcome& outcome);
    void storePreviewOnDisk(const QImage& image, const QString& file);
    void scheduleRefresh();
    void noteUse();
    void releaseIfIdle();
    QString cacheFolder(const QString& diskKey) const;

    std::shared_ptr<Clock> m_clock;
    std::filesystem::path m_cacheRoot;
    bool m_diskCacheRefused = false;  // the cache folder is another user's
    std::shared_ptr<PreviewRenderer> m_renderer;
    QThreadPool m_ioPool;                       // disk loads and PNG writes
    QTimer m_refreshTimer;                      // the 110 ms debounce of previewsChanged()
    QTimer m_idleTimer;                         // looks whether kIdleRelease passed unused
    const std::chrono::milliseconds m_idleRelease;
    Clock::TimePoint m_lastUse{};
    std::deque<PreviewRequest> m_urgentQueue;
    std::deque<PreviewRequest> m_normalQueue;
    int m_activeRenders = 0;                    // started minus finished, never below 0
    QCache<QString, CachedPreview> m_cache;     // finished previews by memory key, costed in KiB
    // The memory key of each item's picture made last, by its key without the size.
    QCache<QString, QString> m_latestSizes{kMemoryCacheLimit};
    static QPixmap themeIcon(const QString& mimeName, bool isDirectory, int side);
    QPixmap sharedThemeIcon(const QString& mimeName, bool isDirectory, double iconSize);

    QCache<QString, QPixmap> m_fallbackCache;  // theme icons by fallback key
    // Rendered theme icons by icon name and side: many paths share one icon,
    // and rendering it again for each new path made a grid of new results slow.
    // Bounded: every zoom step asks for new sides.
    QCache<QString, QPixmap> m_themeIcons{kThemeIconCacheLimit};
    QString m_lastSessionKey;
    // None until the first reset: the first session is never throttled.
    std::optional<Clock::TimePoint> m_lastSessionResetAt;
    // Keys of disk loads and renders asked for but not finished.
    QSet<QString> m_pendingDiskLoadKeys;
    QSet<QString> m_pendingRenderKeys;
    // Disk loads asked for since the last were started: a paint asks for many.
    std::vector<DiskLoad> m_diskLoadBatch;
};

} // namespace pallix
