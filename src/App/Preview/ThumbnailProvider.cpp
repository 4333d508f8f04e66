#include "App/Preview/ThumbnailProvider.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPointer>
#include <QSaveFile>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include "App/Paths/AppPaths.h"
#include "App/Preview/ImageFormats.h"
#include "App/Preview/RegularFile.h"
#include "Platform/AllocatorArenas.h"
#include "Platform/PrivateFiles.h"

namespace pallix {
namespace {

QString flag(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }

qint64 wholePoints(double iconSize)
{
    if (!std::isfinite(iconSize))
        return 0;
    return static_cast<qint64>(std::trunc(iconSize));
}

// A memory key without its size field (the fourth from the end: a path may
// hold "#"): the same item's picture at any size.
QString sizelessKey(const QString& memoryKey)
{
    qsizetype sizeEnd = memoryKey.size();
    for (int field = 0; field < 3; ++field)
        sizeEnd = memoryKey.lastIndexOf(u'#', sizeEnd - 1);
    const qsizetype sizeStart = memoryKey.lastIndexOf(u'#', sizeEnd - 1);
    return memoryKey.left(sizeStart) + memoryKey.mid(sizeEnd);
}

// A plain sheet or folder shape for when the icon theme has no icon: the
// views must always get a picture.
QPixmap drawnIcon(bool isDirectory, int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = side;
    if (isDirectory) {
        QPainterPath tab;
        tab.addRoundedRect(QRectF(s * 0.08, s * 0.18, s * 0.38, s * 0.2), s * 0.04, s * 0.04);
        painter.fillPath(tab, QColor(0x5b, 0x9b, 0xd5));
        QPainterPath body;
        body.addRoundedRect(QRectF(s * 0.08, s * 0.26, s * 0.84, s * 0.58), s * 0.06, s * 0.06);
        painter.fillPath(body, QColor(0x7a, 0xb6, 0xe8));
    } else {
        QPainterPath sheet;
        sheet.addRoundedRect(QRectF(s * 0.2, s * 0.08, s * 0.6, s * 0.84), s * 0.05, s * 0.05);
        painter.fillPath(sheet, QColor(0xf4, 0xf4, 0xf4));
        painter.setPen(QPen(QColor(0, 0, 0, 60), std::max<qreal>(1.0, s / 48)));
        painter.drawPath(sheet);
    }
    return pixmap;
}

} // namespace

ThumbnailProvider::ThumbnailProvider(std::shared_ptr<Clock> clock, QObject* parent)
    : ThumbnailProvider(std::move(clock), Options{}, parent)
{
}

ThumbnailProvider::ThumbnailProvider(std::shared_ptr<Clock> clock, Options options, QObject* parent)
    : QObject(parent),
      m_clock(std::move(clock)),
      m_cacheRoot(options.cacheDirectory.empty() ? AppPaths::cachesAppDirectory() : options.cacheDirectory),
      m_renderer(options.renderer ? options.renderer : std::make_shared<PooledPreviewRenderer>(kMaxConcurrentRenders)),
      m_idleRelease(options.idleRelease),
      m_cache(kMemoryCacheBudgetBytes >> 10),
      m_fallbackCache(kFallbackCacheLimit)
{
    m_ioPool.setMaxThreadCount(2);
    // Another user's folder is never used: previews are then made anew each time.
    m_diskCacheRefused = !privatefiles::foreignOwnerRefusal(m_cacheRoot).empty();
    for (const char* folder : {"FolderPreviewCache", "ImagePreviewCache", "VideoPreviewCache", "PDFPreviewCache"})
        if (!m_diskCacheRefused)
            (void)privatefiles::createFolder(m_cacheRoot / folder);  // one not made makes its writes fail, quietly
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshDelayMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &ThumbnailProvider::previewsChanged);
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &ThumbnailProvider::releaseIfIdle);
}

ThumbnailProvider::~ThumbnailProvider()
{
    m_ioPool.waitForDone();
}

ThumbnailProvider& ThumbnailProvider::shared()
{
    static ThumbnailProvider* provider = new ThumbnailProvider(Clock::system());
    return *provider;
}

RasterDecoding::Kind ThumbnailProvider::rasterKind(const IndexedItem& item)
{
    const QString tag = rasterCacheTag(item);
    if (tag == u"img")
        return RasterDecoding::Kind::Image;
    if (tag == u"vid")
        return RasterDecoding::Kind::Video;
    if (tag == u"pdf")
        return RasterDecoding::Kind::Pdf;
    return RasterDecoding::Kind::None;
}

QString ThumbnailProvider::formatModificationTime(double secondsSince1970)
{
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, secondsSince1970, std::chars_format::fixed);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (std::isfinite(secondsSince1970) && text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return QString::fromStdString(text);
}

QString ThumbnailProvider::diskKey(const IndexedItem& item, double iconSize, bool allowNestedLookup)
{
    const QString path = QString::fromUtf8(item.path());
    const QString size = QString::number(wholePoints(iconSize));
    const QString time = formatModificationTime(item.modifiedAt());
    if (item.isDirectory()) {
        return path + u'#' + size + u'#' + flag(allowNestedLookup) + u'#' + time + u'#'
               + QString::fromLatin1(kFolderPreviewAppearanceVersion);
    }
    const QString tag = rasterCacheTag(item);
    if (tag == u"default")
        return {};
    // Files earlier versions could not decode: their cached failures are not reused.
    const std::string_view extension = item.fileExtension();
    const bool decodedSince = ImageFormats::isHelperOnlyExtension(extension) || extension == "png";
    return tag + u'#' + path + u'#' + size + u'#' + time + (decodedSince ? QStringLiteral("#2") : QString());
}

QString ThumbnailProvider::diskFileName(const QString& diskKey)
{
    return QString::fromLatin1(QCryptographicHash::hash(diskKey.toUtf8(), QCryptographicHash::Sha256).toHex())
           + QStringLiteral(".png");
}

QString ThumbnailProvider::cacheFolder(const QString& diskKey) const
{
    const char* folder = diskKey.startsWith(u"img#")   ? "ImagePreviewCache"
                         : diskKey.startsWith(u"vid#") ? "VideoPreviewCache"
                         : diskKey.startsWith(u"pdf#") ? "PDFPreviewCache"
                                                       : "FolderPreviewCache";
    return QString::fromStdString((m_cacheRoot / folder).string());
}

QString ThumbnailProvider::diskCacheFile(const IndexedItem& item, double iconSize, bool allowNestedLookup) const
{
    const QString key = diskKey(item, iconSize, allowNestedLookup);
    if (key.isEmpty() || m_diskCacheRefused)
        return {};
    return cacheFolder(key) + u'/' + diskFileName(key);
}

QString ThumbnailProvider::rasterCacheTag(const IndexedItem& item)
{
    const std::string_view ext = item.fileExtension();
    if (kinds::isImageExtension(ext))
        return QStringLiteral("img");
    if (kinds::isVideoExtension(ext))
        return QStringLiteral("vid");
    if (ext == "pdf")
        return QStringLiteral("pdf");
    return QStringLiteral("default");
}

bool ThumbnailProvider::needsDetailedPreview(const IndexedItem& item, double iconSize)
{
    if (rasterCacheTag(item) != QLatin1String("default"))
        return iconSize >= 32;
    return item.isDirectory() && iconSize >= 48;
}

QString ThumbnailProvider::memoryKey(const IndexedItem& item, double iconSize, bool preferDetailedPreview,
                                     bool allowNestedLookup)
{
    const QString tag = item.isDirectory() ? QString::fromLatin1(kFolderPreviewAppearanceVersion)
                                           : rasterCacheTag(item);
    return QString::fromUtf8(item.path()) + u'#' + QString::number(wholePoints(iconSize)) + u'#'
           + flag(preferDetailedPreview) + u'#' + flag(allowNestedLookup) + u'#' + tag;
}

QString ThumbnailProvider::fallbackKey(const QString& path, double iconSize, bool isDirectory)
{
    return path + u'#' + QString::number(wholePoints(iconSize)) + u'#' + flag(isDirectory);
}

QPixmap ThumbnailProvider::themeIcon(const QString& mimeName, bool isDirectory, int side)
{
    QIcon icon;
    if (isDirectory) {
        icon = QIcon::fromTheme(QStringLiteral("folder"));
    } else {
        static const QMimeDatabase mimes;
        const QMimeType mime = mimes.mimeTypeForName(mimeName);
        icon = QIcon::fromTheme(mime.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(mime.genericIconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    }
    QPixmap pixmap = icon.isNull() ? drawnIcon(isDirectory, side) : icon.pixmap(side, side);
    return pixmap.isNull() ? drawnIcon(isDirectory, side) : pixmap;
}

QPixmap ThumbnailProvider::sharedThemeIcon(const QString& mimeName, bool isDirectory, double iconSize)
{
    const int side = std::max(1, static_cast<int>(std::lround(std::clamp(iconSize, 1.0, 1024.0))));
    const QString shared = mimeName + u'#' + QString::number(side) + u'#' + flag(isDirectory);
    if (const QPixmap* known = m_themeIcons.object(shared))
        return *known;
    QPixmap pixmap = themeIcon(mimeName, isDirectory, side);
    m_themeIcons.insert(shared, new QPixmap(pixmap));
    return pixmap;
}

QPixmap ThumbnailProvider::fallbackImage(const QString& path, bool isDirectory, double iconSize)
{
    const QString key = fallbackKey(path, iconSize, isDirectory);
    if (const QPixmap* cached = m_fallbackCache.object(key))
        return *cached;
    QString mimeName = QStringLiteral("inode/directory");
    if (!isDirectory) {
        // By name only: reading the file's content here would block the GUI
        // thread on a slow disk.
        static const QMimeDatabase mimes;
        mimeName = mimes.mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
    }
    const QPixmap pixmap = sharedThemeIcon(mimeName, isDirectory, iconSize);
    m_fallbackCache.insert(key, new QPixmap(pixmap));
    return pixmap;
}

QPixmap ThumbnailProvider::typeImage(RegularFile::Type type, double iconSize)
{
    return sharedThemeIcon(RegularFile::mimeTypeName(type), false, iconSize);
}

QPixmap ThumbnailProvider::image(const IndexedItem& item, double iconSize, bool preferDetailedPreview,
                                 bool allowNestedLookup, PreviewPriority priority)
{
    noteUse();
    const QString key = memoryKey(item, iconSize, preferDetailedPreview, allowNestedLookup);
    if (const CachedPreview* cached = m_cache.object(key)) {
        if (cached->modifiedAt == item.modifiedAt())
            return cached->picture;
        // Made for an older version of the file (or a failed decode of it).
        m_cache.remove(key);
    }
    const QString path = QString::fromUtf8(item.path());
    const QPixmap fallback = fallbackImage(path, item.isDirectory(), iconSize);
    if (!preferDetailedPreview || !needsDetailedPreview(item, iconSize))
        return fallback;
    const QPixmap shown = standIn(key, item.modifiedAt(), fallback);
    const QString diskFile = diskCacheFile(item, iconSize, allowNestedLookup);
    if (!diskFile.isEmpty() && QFile::exists(diskFile)) {
        scheduleDiskCacheLoad(key, diskFile, item.modifiedAt());
        return shown;
    }
    if (m_pendingRenderKeys.contains(key))
        return shown;
    m_pendingRenderKeys.insert(key);
    PreviewRequest request{key,
                           path,
                           item.isDirectory(),
                           kinds::isImageExtension(item.fileExtension()),
                           item.isDirectory() ? RasterDecoding::Kind::None : rasterKind(item),
                           item.modifiedAt(),
                           iconSize,
                           allowNestedLookup,
                           priority == PreviewPriority::Urgent,
                           diskFile};
    (request.urgent ? m_urgentQueue : m_normalQueue).push_back(std::move(request));
    startNextPreviewRenderIfNeeded();
    return shown;
}

// While the picture at this size is on its way, the one at the size last
// made stands in, scaled by the view: each zoom step showed generic icons
// for seconds.
QPixmap ThumbnailProvider::standIn(const QString& key, double modifiedAt, const QPixmap& fallback)
{
    const QString* latest = m_latestSizes.object(sizelessKey(key));
    const CachedPreview* cached = latest ? m_cache.object(*latest) : nullptr;
    return cached && cached->modifiedAt == modifiedAt ? cached->picture : fallback;
}

// The timer is started once and looks at the clock when it fires: starting
// it again on every request would cost each card of a paint a timer call.
void ThumbnailProvider::noteUse()
{
    m_lastUse = m_clock->now();
    if (!m_idleTimer.isActive())
        m_idleTimer.start(m_idleRelease);
}

void ThumbnailProvider::releaseIfIdle()
{
    const auto unused = m_clock->now() - m_lastUse;
    if (unused < m_idleRelease) {
        m_idleTimer.start(std::chrono::ceil<std::chrono::milliseconds>(m_idleRelease - unused));
        return;
    }
    m_cache.clear();
    m_latestSizes.clear();
    m_fallbackCache.clear();
    m_themeIcons.clear();
    returnFreedMemory();
}

void ThumbnailProvider::storeInMemory(const QString& key, const QPixmap& picture, double modifiedAt)
{
    const qsizetype bytes = qsizetype(picture.width()) * picture.height() * std::max(picture.depth(), 8) / 8;
    m_cache.insert(key, new CachedPreview{picture, modifiedAt}, std::max<qsizetype>(1, bytes >> 10));
    m_latestSizes.insert(sizelessKey(key), new QString(key));
}

void ThumbnailProvider::scheduleDiskCacheLoad(const QString& key, const QString& file, double modifiedAt)
{
    if (m_pendingDiskLoadKeys.contains(key))
        return;
    m_pendingDiskLoadKeys.insert(key);
    m_diskLoadBatch.push_back({key, file, modifiedAt, {}});
    if (m_diskLoadBatch.size() == 1)
        QMetaObject::invokeMethod(this, &ThumbnailProvider::startDiskLoads, Qt::QueuedConnection);
}

// Started once the paint that asked for them is over, a few loads a job:
// a job for each card woke a thread for each card in the middle of the paint.
void ThumbnailProvider::startDiskLoads()
{
    constexpr std::size_t kLoadsPerJob = 16;
    std::vector<DiskLoad> batch = std::exchange(m_diskLoadBatch, {});
    for (std::size_t first = 0; first < batch.size(); first += kLoadsPerJob) {
        const auto from = batch.begin() + static_cast<std::ptrdiff_t>(first);
        const auto count = static_cast<std::ptrdiff_t>(std::min(kLoadsPerJob, batch.size() - first));
        m_ioPool.start([this, loads = std::vector<DiskLoad>(from, from + count)]() mutable {
            QImageReader::setAllocationLimit(RasterDecoding::kAllocationLimitMiB);
            for (DiskLoad& load : loads) {
                // Anything but a regular file in the cache (a pipe waits for
                // ever) reads as a failed load: it is removed and rendered again.
                QFile file;
                if (!RegularFile::open(file, load.file))
                    continue;
                QImageReader reader(&file, "png");
                load.image = PreviewRendering::pixmapReady(reader.read());
            }
            QMetaObject::invokeMethod(this, [this, loads = std::move(loads)] {
                for (const DiskLoad& load : loads)
                    finishDiskLoad(load);
            }, Qt::QueuedConnection);
        });
    }
}

void ThumbnailProvider::finishDiskLoad(const DiskLoad& load)
{
    m_pendingDiskLoadKeys.remove(load.key);
    if (load.image.isNull())
        QFile::remove(load.file);  // the next request renders it again
    else
        storeInMemory(load.key, QPixmap::fromImage(load.image, Qt::NoOpaqueDetection), load.modifiedAt);
    scheduleRefresh();
}

void ThumbnailProvider::startNextPreviewRenderIfNeeded()
{
    while (m_activeRenders < kMaxConcurrentRenders && !(m_urgentQueue.empty() && m_normalQueue.empty())) {
        std::deque<PreviewRequest>& queue = m_urgentQueue.empty() ? m_normalQueue : m_urgentQueue;
        PreviewRequest request = std::move(queue.front());
        queue.pop_front();
        ++m_activeRenders;
        QPointer<ThumbnailProvider> guard(this);
        m_renderer->start(request, [guard, request](RenderOutcome outcome) {
            if (guard)
                guard->finishRender(request, outcome);
        });
    }
}

void ThumbnailProvider::finishRender(const PreviewRequest& request, const RenderOutcome& outcome)
{
    const std::optional<QImage>& picture = outcome.picture;
    const bool special = RegularFile::isSpecial(outcome.type);
    // A failed decode is kept too (as the fallback icon), in memory and on
    // disk, until the file's modification time changes. A special file's
    // type icon and an overdue render's fallback stay in memory only: they
    // say nothing of what the file will hold once it is readable.
    const QPixmap result = picture   ? QPixmap::fromImage(*picture, Qt::NoOpaqueDetection)
                           : special ? typeImage(outcome.type, request.iconSize)
                                     : fallbackImage(request.itemPath, request.isDirectory, request.iconSize);
    storeInMemory(request.pendingKey, result, request.modifiedAt);
    if (!request.diskFile.isEmpty() && !special && !outcome.overdue)
        storePreviewOnDisk(picture ? *picture : result.toImage(), request.diskFile);
    scheduleRefresh();
    m_pendingRenderKeys.remove(request.pendingKey);
    m_activeRenders = std::max(0, m_activeRenders - 1);
    startNextPreviewRenderIfNeeded();
}

void ThumbnailProvider::storePreviewOnDisk(const QImage& image, const QString& file)
{
    if (image.isNull())
        return;
    m_ioPool.start([image, file] {
        // Written whole or not at all: a reader never meets half a PNG.
        QSaveFile out(file);
        // Private, as the pictures show what the user's files hold.
        if (out.open(QIODevice::WriteOnly) && ::fchmod(out.handle(), privatefiles::kFileMode) == 0
            && image.save(&out, "PNG"))
            out.commit();
    });
}

void ThumbnailProvider::scheduleRefresh()
{
    m_refreshTimer.start();
}

void ThumbnailProvider::prefetch(const QList<IndexedItem>& items, double iconSize, bool allowNestedLookup,
                                 PreviewPriority priority)
{
    for (const IndexedItem& item : items) {
        if (item.isDirectory() || rasterCacheTag(item) != QLatin1String("default"))
            image(item, iconSize, true, allowNestedLookup, priority);
    }
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
    m_refreshTimer.stop();
    m_urgentQueue.clear();
    m_normalQueue.clear();
    m_pendingDiskLoadKeys.clear();
    m_pendingRenderKeys.clear();
    emit previewSessionBegan();
}

} // namespace pallix
