#include "UI/Results/ResultsPrefetch.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "ResultsTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using namespace testing_support;
using Priority = ResultsPrefetch::Priority;

struct Batch {
    QStringList paths;
    double iconSize;
    Priority priority;
};

struct ResultsPrefetchTest : testing::Test {
    ResultsFixture f;
    ResultsModel rows{f.model().searchSession()};
    std::vector<Batch> sent;
    ResultsPrefetch prefetch{rows, f.model().searchSession(), f.model().context().clock(),
                             [this](const QList<IndexedItem>& items, double size, Priority priority) {
                                 QStringList paths;
                                 for (const IndexedItem& item : items)
                                     paths.append(pathOf(item));
                                 sent.push_back({paths, size, priority});
                             }};

    // Lets the deferred wait of the newest run reach its end.
    void finishWait()
    {
        ASSERT_TRUE(advanceOnceSleeping(*f.h.clock, std::chrono::milliseconds(ResultsPrefetch::kDeferredDelayMs)));
    }
    bool waitForBatches(std::size_t n) { return waitFor([&] { return sent.size() >= n; }); }
    // Waits until `n` deferred waits have ended, whatever they sent.
    bool waitForSettled(QSignalSpy& settled, int n)
    {
        return waitFor([&] { return settled.count() >= n; });
    }
};

ItemList folders(const std::string& prefix, int count)
{
    ItemList items;
    for (int i = 0; i < count; ++i)
        items.append(fileItem("/r/" + prefix + std::to_string(i), true));
    return items;
}

TEST(ResultsPrefetchSizes, IconSizeAndBucketFollowTheZoom)
{
    EXPECT_DOUBLE_EQ(ResultsPrefetch::iconSize(1.0), 134.0);
    EXPECT_DOUBLE_EQ(ResultsPrefetch::iconSize(0.7), 120.0);
    EXPECT_NEAR(ResultsPrefetch::iconSize(1.9), 254.6, 1e-9);
    EXPECT_EQ(ResultsPrefetch::sizeBucket(1.0), 16);
    EXPECT_EQ(ResultsPrefetch::sizeBucket(0.7), 15);
    EXPECT_EQ(ResultsPrefetch::sizeBucket(0.95), 15);
    EXPECT_EQ(ResultsPrefetch::sizeBucket(1.9), 31);
}

TEST_F(ResultsPrefetchTest, NothingToPrefetchSendsNothing)
{
    EXPECT_EQ(prefetch.signature(), "16|||||");
    f.publishMain(numberedFiles("doc", 5, "zip"));  // neither folders nor pictures
    EXPECT_EQ(prefetch.signature(), "16|||||");
    QSignalSpy settled(&prefetch, &ResultsPrefetch::deferredSettled);
    prefetch.run();
    finishWait();
    ASSERT_TRUE(waitForSettled(settled, 1));
    EXPECT_TRUE(sent.empty());
}

TEST_F(ResultsPrefetchTest, UrgentAtOnceAndTheRestAfter55Ms)
{
    ItemList main = numberedFiles("img", 30, "jpg");
    main.append(folders("dir", 10));
    main.append(numberedFiles("doc", 5, "pdf"));
    f.publishMain(main);
    prefetch.run();

    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].paths.size(), 22);
    EXPECT_EQ(sent[0].paths.front(), "/r/img0.jpg");
    EXPECT_EQ(sent[0].priority, Priority::Urgent);
    EXPECT_DOUBLE_EQ(sent[0].iconSize, 134.0);
    EXPECT_EQ(sent[1].paths, (QStringList{"/r/dir0", "/r/dir1", "/r/dir2", "/r/dir3"}));

    // Not a millisecond early.
    ASSERT_TRUE(advanceOnceSleeping(*f.h.clock, 54ms));
    QCoreApplication::processEvents();
    EXPECT_EQ(sent.size(), 2u);
    f.h.clock->advance(1ms);
    ASSERT_TRUE(waitForBatches(4));
    EXPECT_EQ(sent[2].paths.size(), 13);  // images 23..30 and the five PDFs
    EXPECT_EQ(sent[2].paths.front(), "/r/img22.jpg");
    EXPECT_EQ(sent[2].priority, Priority::Normal);
    EXPECT_EQ(sent[3].paths, (QStringList{"/r/dir4", "/r/dir5", "/r/dir6", "/r/dir7"}));
    EXPECT_EQ(sent.size(), 4u);
}

TEST_F(ResultsPrefetchTest, OnlyUrgentBatchesPast1800Results)
{
    ItemList main = numberedFiles("img", 25, "png");
    main.append(numberedFiles("t", 1775));
    f.publishMain(main);
    prefetch.run();
    finishWait();
    ASSERT_TRUE(waitForBatches(2));  // T = 1800: the deferred batch still goes
    EXPECT_EQ(sent.back().priority, Priority::Normal);
    EXPECT_EQ(sent.back().paths, (QStringList{"/r/img22.png", "/r/img23.png", "/r/img24.png"}));

    sent.clear();
    // One more result, in another section, crosses the limit.
    f.model().searchSession().setServerResults(numberedFiles("s", 1, "txt"));
    QSignalSpy settled(&prefetch, &ResultsPrefetch::deferredSettled);
    prefetch.run();
    ASSERT_EQ(sent.size(), 1u);
    finishWait();
    ASSERT_TRUE(waitForSettled(settled, 1));
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(ResultsPrefetchTest, ChangedResultsDropTheOlderDeferredBatch)
{
    QSignalSpy settled(&prefetch, &ResultsPrefetch::deferredSettled);
    f.publishMain(numberedFiles("a", 40, "jpg"));
    prefetch.run();
    f.publishMain(numberedFiles("b", 40, "jpg"));
    prefetch.runIfChanged();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].paths.front(), "/r/b0.jpg");
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.h.clock->sleepers() == 2; }));
    f.h.clock->advance(55ms);
    ASSERT_TRUE(waitForSettled(settled, 2));  // the older wait ended too, sending nothing
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].paths.front(), "/r/b22.jpg");

    // An unchanged signature starts nothing.
    prefetch.runIfChanged();
    EXPECT_EQ(sent.size(), 3u);
}

TEST_F(ResultsPrefetchTest, SectionsCutBeforeTheyFilter)
{
    ItemList main = numberedFiles("t", 360);
    main.append(numberedFiles("late", 3, "jpg"));
    f.publishMain(main);
    f.model().searchSession().setServerResults(numberedFiles("srv", 15, "mp4"));
    f.model().searchSession().setSkuRelatedResults(numberedFiles("sku", 2, "png"));
    prefetch.run();
    ASSERT_EQ(sent.size(), 2u);  // nothing of the main list's late pictures
    EXPECT_EQ(sent[0].paths, (QStringList{"/r/sku0.png", "/r/sku1.png"}));
    EXPECT_EQ(sent[1].paths.size(), 12);
    EXPECT_TRUE(prefetch.signature().startsWith("16||||/r/sku0.png\x1e/r/sku1.png|/r/srv0.mp4"));
}

} // namespace
} // namespace pallix
