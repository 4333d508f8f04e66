#pragma once
// ResultsPrefetch: asks the thumbnail provider ahead of time for the previews
// of the leading results of every section, so that they are being made before
// the user scrolls to them: a small batch at once at urgent priority, a larger
// one at normal priority 55 ms later, unless the shown results changed in
// between. The signature names what is worth prefetching and the grid's size
// bucket; the results area runs a prefetch when it appears and whenever the
// signature takes a new value. The wait runs on the injected clock and the
// batches go to an injected sink, so tests drive both.
// GUI thread only.

#include <functional>
#include <memory>

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>

#include "App/Async/AsyncClock.h"
#include "App/Preview/ThumbnailProvider.h"

namespace pallix {

class SearchSession;
class CancelToken;
class ResultsModel;

class ResultsPrefetch : public QObject {
    Q_OBJECT

public:
    using Priority = ThumbnailProvider::PreviewPriority;
    // Never called with an empty list.
    using Sink = std::function<void(const QList<IndexedItem>& items, double iconSize, Priority priority)>;

    static constexpr int kDeferredDelayMs = 55;
    // Above this many results in all, only the urgent batches go out.
    static constexpr int kDeferredTotalLimit = 1800;

    ResultsPrefetch(const ResultsModel& rows, const SearchSession& session, AsyncClock clock, Sink sink,
                    QObject* parent = nullptr);
    ~ResultsPrefetch() override;

    static double iconSize(double zoom);
    static int sizeBucket(double zoom);
    QString signature() const;
    // Sends the urgent batches and starts the deferred one.
    void run();
    // Runs when the signature differs from that of the previous run.
    void runIfChanged();

signals:
    // A run's deferred wait ended: its batches went out, or were dropped
    // because the results changed meanwhile.
    void deferredSettled();

private:
    struct Batches;
    Batches batches() const;
    void runWith(QString current);
    QCoro::Task<> sendDeferred(QString signature, double iconSize, QList<QList<IndexedItem>> normal);

    const ResultsModel& m_rows;
    const SearchSession& m_session;
    AsyncClock m_clock;
    Sink m_sink;
    // Cancelled on destruction, so that no wait outlives us.
    std::shared_ptr<CancelToken> m_cancel;
    QString m_lastSignature;
    bool m_ran = false;
};

} // namespace pallix
