#include "UI/Results/ResultsPrefetch.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <QPointer>
#include <QStringList>

#include "App/Search/SearchSession.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {

namespace {

using Section = ResultsModel::Section;

enum class Kind { Raster, Folder };

// The first `keep` items of the first `cut` that are of the kind, in order.
QList<IndexedItem> pick(const ItemList& items, qsizetype cut, Kind kind, qsizetype keep)
{
    QList<IndexedItem> picked;
    const qsizetype end = std::min(cut, items.size());
    for (qsizetype i = 0; i < end && picked.size() < keep; ++i) {
        const IndexedItem& item = items[i];
        if (kind == Kind::Folder ? item.isDirectory() : item.showsGridRasterPreview())
            picked.append(item);
    }
    return picked;
}

// The image-content matches as shown, cut unless the user asked for all.
ItemList shownFuzzy(const ResultsModel& rows)
{
    return rows.filteredItems(Section::ImageFuzzy).first(rows.displayedFuzzyCount());
}

QString joinedPaths(const QList<IndexedItem>& items)
{
    QStringList paths;
    paths.reserve(items.size());
    for (const IndexedItem& item : items)
        paths.append(QString::fromStdString(item.path()));
    return paths.join(QChar(0x1E));
}

// One section's candidates and where its urgent batch ends.
struct Plan {
    QList<IndexedItem> candidates;
    qsizetype urgent;
};

} // namespace

struct ResultsPrefetch::Batches {
    QList<QList<IndexedItem>> urgent;
    QList<QList<IndexedItem>> normal;
};

ResultsPrefetch::ResultsPrefetch(const ResultsModel& rows, const SearchSession& session, AsyncClock clock, Sink sink,
                                 QObject* parent)
    : QObject(parent)
    , m_rows(rows)
    , m_session(session)
    , m_clock(std::move(clock))
    , m_sink(std::move(sink))
    , m_cancel(std::make_shared<CancelToken>())
{
}

ResultsPrefetch::~ResultsPrefetch()
{
    m_cancel->cancel();
}

double ResultsPrefetch::iconSize(double zoom)
{
    return std::max(134.0 * zoom, 120.0);
}

int ResultsPrefetch::sizeBucket(double zoom)
{
    return static_cast<int>(std::floor(iconSize(zoom) * 0.125));
}

QString ResultsPrefetch::signature() const
{
    const ItemList& main = m_rows.filteredItems(Section::Main);
    const ItemList displayedFuzzy = shownFuzzy(m_rows);
    const QList<IndexedItem> groups[] = {
        pick(main, 260, Kind::Raster, 72),
        pick(main, 240, Kind::Folder, 10),
        pick(displayedFuzzy, 120, Kind::Raster, 20),
        pick(m_rows.filteredItems(Section::SkuRelated), 140, Kind::Raster, 24),
        pick(m_rows.filteredItems(Section::Server), 160, Kind::Raster, 24),
    };
    QString text = QString::number(sizeBucket(m_session.constraints().gridZoom()));
    for (const QList<IndexedItem>& group : groups)
        text += QLatin1Char('|') + joinedPaths(group);
    return text;
}

ResultsPrefetch::Batches ResultsPrefetch::batches() const
{
    const ItemList& main = m_rows.filteredItems(Section::Main);
    const ItemList displayedFuzzy = shownFuzzy(m_rows);
    const Plan plans[] = {
        {pick(main, 360, Kind::Raster, 70), 22},
        {pick(main, 240, Kind::Folder, 8), 4},
        {pick(displayedFuzzy, 180, Kind::Raster, 20), 8},
        {pick(m_rows.filteredItems(Section::SkuRelated), 240, Kind::Raster, 32), 12},
        {pick(m_rows.filteredItems(Section::Server), 240, Kind::Raster, 32), 12},
    };
    int total = 0;
    for (Section section : {Section::Main, Section::ImageFuzzy, Section::SkuRelated, Section::Server})
        total += m_rows.filteredCount(section);
    const bool sendNormal = total <= kDeferredTotalLimit;
    Batches batches;
    for (const Plan& plan : plans) {
        batches.urgent.append(plan.candidates.first(std::min(plan.urgent, plan.candidates.size())));
        batches.normal.append(sendNormal ? plan.candidates.mid(plan.urgent) : QList<IndexedItem>());
    }
    return batches;
}

void ResultsPrefetch::run()
{
    runWith(signature());
}

void ResultsPrefetch::runIfChanged()
{
    // The signature is made once: it copies the leading items of every list.
    QString current = signature();
    if (!m_ran || current != m_lastSignature)
        runWith(std::move(current));
}

void ResultsPrefetch::runWith(QString current)
{
    m_ran = true;
    m_lastSignature = std::move(current);
    const double size = iconSize(m_session.constraints().gridZoom());
    Batches planned = batches();
    for (const QList<IndexedItem>& batch : std::as_const(planned.urgent)) {
        if (!batch.isEmpty())
            m_sink(batch, size, Priority::Urgent);
    }
    sendDeferred(m_lastSignature, size, std::move(planned.normal));
}

// Every run starts its own wait; a newer run does not stop an older one,
// whose signature check drops its batches once the results have changed.
QCoro::Task<> ResultsPrefetch::sendDeferred(QString kept, double size, QList<QList<IndexedItem>> normal)
{
    QPointer<ResultsPrefetch> guard(this);
    auto waiting = m_clock.sleepFor(std::chrono::milliseconds(kDeferredDelayMs), m_cancel);
    co_await waiting;
    if (!guard || m_cancel->isCancelled())
        co_return;
    if (signature() == kept) {
        for (const QList<IndexedItem>& batch : std::as_const(normal)) {
            if (!batch.isEmpty())
                m_sink(batch, size, Priority::Normal);
        }
    }
    emit deferredSettled();
}

} // namespace pallix
