#include "UI/Results/ResultsPrefetch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include <QPointer>

#include "App/Search/SearchSession.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {

namespace {

using Section = ResultsModel::Section;

enum class Kind { Raster, Folder };

// Calls take(item) for the first `keep` items of the first `cut` that are of
// the kind, in order.
template <class Take>
void forPicked(const ItemList& items, qsizetype cut, Kind kind, qsizetype keep, Take take)
{
    const qsizetype end = std::min(cut, items.size());
    qsizetype taken = 0;
    for (qsizetype i = 0; i < end && taken < keep; ++i) {
        const IndexedItem& item = items[i];
        if (kind == Kind::Folder ? item.isDirectory() : item.showsGridRasterPreview()) {
            take(item);
            ++taken;
        }
    }
}

QList<IndexedItem> pick(const ItemList& items, qsizetype cut, Kind kind, qsizetype keep)
{
    QList<IndexedItem> picked;
    forPicked(items, cut, kind, keep, [&](const IndexedItem& item) { picked.append(item); });
    return picked;
}

// The image-content matches as shown, cut unless the user asked for all.
ItemList shownFuzzy(const ResultsModel& rows)
{
    return rows.filteredItems(Section::ImageFuzzy).first(rows.displayedFuzzyCount());
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
    // Made after every new list's paint: the paths are joined as they are
    // stored and converted once, not copied item by item.
    const ItemList& fuzzy = m_rows.filteredItems(Section::ImageFuzzy);
    struct Group {
        const ItemList& items;
        qsizetype cut;
        Kind kind;
        qsizetype keep;
    };
    const Group groups[] = {
        {m_rows.filteredItems(Section::Main), 260, Kind::Raster, 72},
        {m_rows.filteredItems(Section::Main), 240, Kind::Folder, 10},
        {fuzzy, std::min<qsizetype>(120, m_rows.displayedFuzzyCount()), Kind::Raster, 20},
        {m_rows.filteredItems(Section::SkuRelated), 140, Kind::Raster, 24},
        {m_rows.filteredItems(Section::Server), 160, Kind::Raster, 24},
    };
    std::string text = std::to_string(sizeBucket(m_session.constraints().gridZoom()));
    for (const Group& group : groups) {
        text += '|';
        bool first = true;
        forPicked(group.items, group.cut, group.kind, group.keep, [&](const IndexedItem& item) {
            if (!first)
                text += '\x1e';
            first = false;
            text += item.path();
        });
    }
    return QString::fromStdString(text);
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
