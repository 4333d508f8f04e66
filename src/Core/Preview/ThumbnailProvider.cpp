#include "Core/Preview/ThumbnailProvider.h"

#include <chrono>
#include <cmath>

#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

namespace pallix {
namespace {

QString flag(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }

qint64 wholePoints(double iconSize)
{
    if (!std::isfinite(iconSize))
        return 0;
    return static_cast<qint64>(std::trunc(iconSize));
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
    : QObject(parent), m_clock(std::move(clock)), m_cache(kMemoryCacheLimit), m_fallbackCache(kFallbackCacheLimit)
{
}

ThumbnailProvider::~ThumbnailProvider() = default;

ThumbnailProvider& ThumbnailProvider::shared()
{
    static ThumbnailProvider* provider = new ThumbnailProvider(Clock::system());
    return *provider;
}

QString ThumbnailProvider::rasterCacheTag(const IndexedItem& item)
{
    const std::string& ext = item.fileExtension();
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
    return QString::fromStdString(item.path()) + u'#' + QString::number(wholePoints(iconSize)) + u'#'
           + flag(preferDetailedPreview) + u'#' + flag(allowNestedLookup) + u'#' + tag;
}

QString ThumbnailProvider::fallbackKey(const QString& path, double iconSize, bool isDirectory)
{
    return path + u'#' + QString::number(wholePoints(iconSize)) + u'#' + flag(isDirectory);
}

QPixmap ThumbnailProvider::fallbackImage(const QString& path, bool isDirectory, double iconSize)
{
    const QString key = fallbackKey(path, iconSize, isDirectory);
    if (const QPixmap* cached = m_fallbackCache.object(key))
        return *cached;
    const int side = std::max(1, static_cast<int>(std::lround(std::clamp(iconSize, 1.0, 1024.0))));
    QIcon icon;
    if (isDirectory) {
        icon = QIcon::fromTheme(QStringLiteral("folder"));
    } else {
        // By name only: reading the file's content here would block the GUI
        // thread on a slow disk.
        static const QMimeDatabase mimes;
        const QMimeType mime = mimes.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
        icon = QIcon::fromTheme(mime.iconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(mime.genericIconName());
        if (icon.isNull())
            icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    }
    QPixmap pixmap = icon.isNull() ? drawnIcon(isDirectory, side) : icon.pixmap(side, side);
    if (pixmap.isNull())
        pixmap = drawnIcon(isDirectory, side);
    m_fallbackCache.insert(key, new QPixmap(pixmap));
    return pixmap;
}

QPixmap ThumbnailProvider::image(const IndexedItem& item, double iconSize, bool preferDetailedPreview,
                                 bool allowNestedLookup, PreviewPriority)
{
    const QString key = memoryKey(item, iconSize, preferDetailedPreview, allowNestedLookup);
    if (const QPixmap* cached = m_cache.object(key))
        return *cached;
    return fallbackImage(QString::fromStdString(item.path()), item.isDirectory(), iconSize);
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
    m_pendingDiskLoadKeys.clear();
    m_pendingRenderKeys.clear();
    emit previewSessionBegan();
}

} // namespace pallix
