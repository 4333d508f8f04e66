#include "App/AppModel.h"

#include <chrono>

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"
#include "App/Search/ImageContentRule.h"
#include "App/Settings/SettingsOperations.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

// What the image-content search was asked for.
struct ImageCall {
    std::string text;
    int limit = 0;
    QSet<QString> excluded;
};

std::vector<IndexedItem> numberedFiles(const std::string& stem, int count)
{
    std::vector<IndexedItem> out;
    for (int i = 0; i < count; ++i)
        out.push_back(fileItem("/data/" + stem + std::to_string(10000 + i) + ".txt"));
    return out;
}

ItemList listOf(const std::vector<IndexedItem>& items)
{
    return ItemList(items.begin(), items.end());
}

// A model over a seeded local index under /data, with the store's cache and
// indexes built and nothing asleep on the clock. No keystroke is stamped
// unless a test stamps one, so a request is not a typing request by default.
struct SearchRoad {
    std::vector<ImageCall> imageCalls;
    // The image hits of the n-th call (0-based); none: nothing found.
    std::function<ItemList(std::size_t call)> imageAnswer;
    std::vector<qsizetype> publishedSizes;
    ModelHarness h;  // last: the model goes first

    explicit SearchRoad(const std::vector<IndexedItem>& seeded, const std::function<void(AppSettings&)>& settings = {})
    {
        std::vector<IndexedItem> rows = seeded;
        rows.push_back(fileItem("/data/unrelated.bin"));  // never empty: no start-up scan
        seedIndex(h.databasePath(), rows);
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
        if (settings)
            h.presetSettings(settings);
        h.env.services.imageFuzzySearch = [this](SearchQuery query, int limit,
                                                 QSet<QString> excluded) -> QCoro::Task<QList<IndexedItem>> {
            const std::size_t call = imageCalls.size();
            imageCalls.push_back({query.rawText, limit, excluded});
            co_return imageAnswer ? imageAnswer(call) : ItemList();
        };
        h.start();
        QObject::connect(&h.model->searchSession(), &SearchSession::resultsChanged, h.model.get(),
                         [this] { publishedSizes.push_back(h.model->searchSession().results().size()); });
    }

    // Start-up done, cache and indexes built, no thread asleep on the clock.
    bool ready()
    {
        if (!h.settle())
            return false;
        IndexStore& store = *h.model->context().stores().local;
        const bool quiet = pumpUntil(*h.clock, [&] {
            return store.status().cacheReady && store.status().searchIndexesComplete && h.localProbe->runningBackgroundJobs() == 0
                   && h.clock->sleepers() == 0;
        }, 50ms);
        publishedSizes.clear();
        return quiet;
    }

    AppModel& model() { return *h.model; }

    void search(const QString& text, bool immediate = true, bool progress = false)
    {
        model().searchSession().setSearchText(text);
        model().searchSession().scheduleSearch(immediate, progress);
    }
    // A keystroke, as the view reports it.
    void type(const QString& text) { model().searchSession().userTyped(text); }
    bool shows(const QString& text)
    {
        return model().searchSession().lastDisplayedQuery() && model().searchSession().lastDisplayedQuery()->rawText == text.toStdString();
    }
    void show(const QString& text, const ItemList& list, ListCompleteness completeness)
    {
        model().searchSession().setSearchText(text);
        model().searchSession().applySearchResults(list, model().searchSession().currentQuerySnapshot(), completeness);
    }
};

// Query snapshot and intent.

TEST(SearchScheduling, ScopedFolderBecomesThePathFilterAndGivesIntent)
{
    ModelHarness h;
    h.preventStartUp();
    h.start();
    h.model->searchSession().setSearchText(" \n ");
    EXPECT_FALSE(TypingRoad::hasSearchIntent(h.model->searchSession().currentQuerySnapshot()));
    h.model->searchSession().setSearchText("path:/elsewhere \n");
    h.model->searchSession().constraints().applyScopedPath("/data/docs/", true);
    const SearchQuery query = h.model->searchSession().currentQuerySnapshot();
    EXPECT_EQ(query.pathFilter, "/data/docs");
    EXPECT_TRUE(TypingRoad::hasSearchIntent(query));
}

TEST(SearchScheduling, NoIntentClearsTheFourListsAndStartsNothing)
{
    SearchRoad road({});
    ASSERT_TRUE(road.ready());
    AppModel& m = road.model();
    m.searchSession().setImageFuzzyResults({fileItem("/data/a.png")});
    m.searchSession().setSkuRelatedResults({fileItem("/data/b.png")});
    m.searchSession().setServerResults({fileItem("/srv/c.txt")});
    m.searchSession().applySearchResults({fileItem("/data/d.txt")}, m.searchSession().currentQuerySnapshot());
    const auto before = m.searchSession().searchGeneration();

    road.search("   ", true, true);
    EXPECT_EQ(m.searchSession().searchGeneration(), before + 1);
    EXPECT_TRUE(m.searchSession().results().isEmpty());
    EXPECT_TRUE(m.searchSession().imageFuzzyResults().isEmpty());
    EXPECT_TRUE(m.searchSession().skuRelatedResults().isEmpty());
    EXPECT_TRUE(m.searchSession().serverResults().isEmpty());
    EXPECT_FALSE(m.searchSession().isSearching());
    EXPECT_TRUE(m.searchSession().searchingHint().isEmpty());
    ASSERT_TRUE(road.h.allResumed());
    EXPECT_EQ(road.h.clock->sleepers(), 0);
    EXPECT_TRUE(road.imageCalls.empty());
}

TEST(SearchScheduling, ProgressFlagAndHint)
{
    const struct {
        bool external;
        std::vector<std::string> roots;
        const char* hint;
    } cases[] = {
        {true, {"/data/extra"}, "正在重新搜索（范围：本机 + 外接硬盘）（含手动添加目录）"},
        {false, {}, "正在重新搜索（范围：本机）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hint);
        SearchRoad road(numberedFiles("alpha_", 3), [&](AppSettings& s) {
            s.autoIndexExternalVolumes = c.external;
            s.indexedRoots = c.roots;
        });
        ASSERT_TRUE(road.ready());
        road.search("alpha", true, true);
        EXPECT_TRUE(road.model().searchSession().isSearching());
        EXPECT_EQ(road.model().searchSession().searchingHint(), QString::fromUtf8(c.hint));
        ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.shows("alpha"); }));
        EXPECT_FALSE(road.model().searchSession().isSearching());
        EXPECT_EQ(road.model().searchSession().searchingHint(), QString::fromUtf8(c.hint));  // the hint keeps its text
    }
}

// In-memory narrowing.

TEST(SearchNarrowing, ShownListIsFilteredAtOnceOnlyWhenThatCannotMissAHit)
{
    const struct {
        const char* name;
        const char* shownText;
        const char* newText;
        int shown;
        ListCompleteness completeness;
        SearchMatchMode mode;
        std::int64_t limit;
        bool narrowedAtOnce;
        bool searchedAgain;
    } cases[] = {
        {"900 shown narrows and settles", "alpha", "alpha_", 900, ListCompleteness::Complete,
         SearchMatchMode::Contains, 10000, true, false},
        {"901 shown is searched", "alpha", "alpha_", 901, ListCompleteness::Complete, SearchMatchMode::Contains,
         10000, false, true},
        {"a list cut at the limit narrows but is searched", "alpha", "alpha_", 200, ListCompleteness::Complete,
         SearchMatchMode::Contains, 200, true, true},
        {"a typing answer narrows but is searched", "alpha", "alpha_", 40, ListCompleteness::Partial,
         SearchMatchMode::Contains, 10000, true, true},
        {"prefix mode narrows", "alpha", "alpha_", 40, ListCompleteness::Complete, SearchMatchMode::Prefix, 10000,
         true, false},
        {"suffix mode can widen", "alpha", "alpha_", 40, ListCompleteness::Complete, SearchMatchMode::Suffix, 10000,
         false, true},
        {"exact mode can widen", "alpha", "alpha_", 40, ListCompleteness::Complete, SearchMatchMode::Exact, 10000,
         false, true},
        {"a pattern can widen", "re:alpha", "re:alpha_", 40, ListCompleteness::Complete, SearchMatchMode::Contains,
         10000, false, true},
        {"the same text narrows", "alpha", "alpha", 40, ListCompleteness::Complete, SearchMatchMode::Contains, 10000,
         true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The index holds nothing the shown list holds: a search empties the list.
        SearchRoad road({}, [&](AppSettings& s) { s.searchLimit = c.limit; });
        ASSERT_TRUE(road.ready());
        road.model().searchSession().constraints().setMatchMode(c.mode);
        road.show(QString::fromUtf8(c.shownText), listOf(numberedFiles("alpha_", c.shown)), c.completeness);
        road.search(QString::fromUtf8(c.newText), false);

        const bool narrowed = road.shows(QString::fromUtf8(c.newText));
        EXPECT_EQ(narrowed, c.narrowedAtOnce);
        if (narrowed) {
            EXPECT_EQ(road.model().searchSession().results().size(), std::min<qsizetype>(c.shown, c.limit));
        }
        // Whatever the request started runs out; only a search of the index empties the list.
        ASSERT_TRUE(road.h.runOut(5ms));
        EXPECT_EQ(road.model().searchSession().results().isEmpty(), c.searchedAgain);
    }
}

TEST(SearchNarrowing, CompleteNarrowingRunsOnlyTheImageFollowUp)
{
    for (const auto& [limit, expected] : {std::pair{200, 320}, {700, 700}, {10000, 800}}) {
        SCOPED_TRACE(limit);
        SearchRoad road({}, [limit](AppSettings& s) { s.searchLimit = limit; });
        road.imageAnswer = [](std::size_t) { return ItemList{fileItem("/data/pic.png")}; };
        ASSERT_TRUE(road.ready());
        road.show("alpha", listOf(numberedFiles("alpha_", 20)), ListCompleteness::Complete);
        road.search("alpha_1", false);
        ASSERT_TRUE(waitFor([&] { return !road.imageCalls.empty(); }));
        EXPECT_EQ(road.imageCalls.front().limit, expected);
        EXPECT_EQ(road.imageCalls.front().excluded.size(), road.model().searchSession().results().size());
        EXPECT_TRUE(road.imageCalls.front().excluded.contains(QString::fromUtf8(road.model().searchSession().results()[0].path())));
        EXPECT_EQ(road.model().searchSession().imageFuzzyResults().size(), 1);
        ASSERT_TRUE(road.h.runOut());
        EXPECT_EQ(road.imageCalls.size(), 1u);   // no main search, so no image stage
        EXPECT_TRUE(road.model().searchSession().history().entries().isEmpty());
    }
}

TEST(SearchNarrowing, BroadeningAndNarrowingRules)
{
    ModelHarness h;
    h.preventStartUp();
    h.start();
    AppModel& m = *h.model;
    auto query = [&](const char* text) {
        m.searchSession().setSearchText(QString::fromUtf8(text));
        return m.searchSession().currentQuerySnapshot();
    };
    const std::optional<SearchQuery>& shownQuery = m.searchSession().lastDisplayedQuery();
    EXPECT_FALSE(ShownList::canBroaden(query("alph"), shownQuery)) << "nothing shown yet";
    m.searchSession().applySearchResults({}, query("alpha"));
    EXPECT_TRUE(ShownList::canBroaden(query("alph"), shownQuery)) << "the shown list may be empty";
    EXPECT_FALSE(ShownList::canBroaden(query("alpha"), shownQuery));
    EXPECT_FALSE(ShownList::canBroaden(query("alphb"), shownQuery));
    EXPECT_FALSE(ShownList::canBroaden(query(""), shownQuery));
    EXPECT_FALSE(ShownList::canNarrow(query("alphab"), m.searchSession().results(), shownQuery))
        << "an empty list never narrows";

    SearchQuery reversed = query("alph");
    reversed.ascending = false;
    EXPECT_FALSE(ShownList::canBroaden(reversed, shownQuery));

    const ItemList shown{fileItem("/data/alpha.txt")};
    SearchQuery previous = query("alpha");
    SearchQuery longer = query("alpha b");
    EXPECT_TRUE(ShownList::canNarrow(longer, shown, previous));
    longer.ascending = false;
    EXPECT_FALSE(ShownList::canNarrow(longer, shown, previous)) << "only the sort direction changed";
    EXPECT_FALSE(ShownList::canNarrow(query("alpha b"), shown, std::nullopt));
    previous.rawText.clear();
    EXPECT_FALSE(ShownList::canNarrow(query("alpha b"), shown, previous));
}

TEST(SearchNarrowing, DeletingACharacterShowsTheFastPreviewFirst)
{
    SearchRoad road(numberedFiles("alpha_", 1300));
    ASSERT_TRUE(road.ready());
    road.show("alpha_x", {}, ListCompleteness::Complete);
    road.publishedSizes.clear();
    road.search("alpha_", false);
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.publishedSizes.size() >= 2; }));
    EXPECT_EQ(road.publishedSizes, (std::vector<qsizetype>{1200, 1300}));
    EXPECT_TRUE(road.model().searchSession().displayedResultsComplete());
}

// The local search job.

TEST(SearchTask, CancelDuringThePauseEndsTheOlderRequestAtOnce)
{
    // Without the image stage nothing else sleeps on the clock.
    SearchRoad road(numberedFiles("alpha_", 3), [](AppSettings& s) { s.enableImageFuzzySearch = false; });
    ASSERT_TRUE(road.ready());
    road.search("alpha_", false);
    ASSERT_TRUE(waitFor([&] { return road.h.clock->sleepers() == 1; }));
    road.search("alpha_10001", true);
    // The clock never moved: only the cancellation can have ended that pause.
    ASSERT_TRUE(waitFor([&] { return road.h.clock->sleepers() == 0 && road.shows("alpha_10001"); }));
    ASSERT_TRUE(road.h.allResumed());  // the older request woke to its cancellation
    EXPECT_EQ(road.publishedSizes, std::vector<qsizetype>{1});
    EXPECT_EQ(road.model().searchSession().history().entries(), QStringList{"alpha_10001"});
}

// A chip fills the field as if typed: its search waits the short pause of a
// keystroke's before anything is published.
TEST(SearchTask, AChipsSearchWaitsTheKeystrokesPause)
{
    SearchRoad road(numberedFiles("alpha_", 3), [](AppSettings& s) { s.enableImageFuzzySearch = false; });
    ASSERT_TRUE(road.ready());
    road.model().searchSession().searchForTerm("alpha");
    ASSERT_TRUE(waitFor([&] { return road.h.clock->sleepers() == 1; }));
    EXPECT_EQ(road.h.sleepLog->sleeps().back(), 4ms);
    EXPECT_FALSE(road.shows("alpha"));
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
    ASSERT_TRUE(waitFor([&] { return road.shows("alpha"); }));
}

TEST(SearchTask, TypingFlagTurnsAt680Milliseconds)
{
    for (const auto& [age, typing] : {std::pair{679ms, true}, {680ms, false}}) {
        SCOPED_TRACE(age.count());
        SearchRoad road(numberedFiles("alpha_", 1500));
        ASSERT_TRUE(road.ready());
        road.model().searchSession().setServerResults({fileItem("/srv/kept.txt")});
        road.model().searchSession().setImageFuzzyResults({fileItem("/data/kept.png")});
        road.model().searchSession().typingClock().noteKeystroke();
        road.h.clock->advance(age);
        road.search("alpha");
        ASSERT_TRUE(waitFor([&] { return road.shows("alpha"); }));
        EXPECT_EQ(road.model().searchSession().results().size(), typing ? 1280 : 1500);
        EXPECT_EQ(road.model().searchSession().displayedResultsComplete(), !typing);
        if (typing) {
            // No shared-drive or image stage behind a typing answer: only
            // the pause completion is left, asleep.
            ASSERT_TRUE(waitFor([&] { return road.h.awaits.deliverAndCount() == 1 && road.h.clock->sleepers() == 1; }));
            EXPECT_EQ(road.model().searchSession().serverResults().size(), 1);
            EXPECT_EQ(road.model().searchSession().imageFuzzyResults().size(), 1);
            EXPECT_TRUE(road.imageCalls.empty());
        } else {
            ASSERT_TRUE(waitFor([&] { return !road.imageCalls.empty(); }));
            EXPECT_EQ(road.imageCalls.front().limit, 180);
        }
    }
}

TEST(SearchTask, AnAnswerWorkedOutDuringThePauseIsShownOnlyIfStillWanted)
{
    {
        SCOPED_TRACE("a keystroke within the pause");
        SearchRoad road(numberedFiles("alpha_", 1500));
        ASSERT_TRUE(road.ready());
        road.type("alpha");
        road.type("alpha_1");
        ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
        ASSERT_TRUE(waitFor([&] { return road.shows("alpha_1"); }));
        ASSERT_TRUE(road.h.allResumed(1));  // only the pause completion sleeps
        EXPECT_EQ(road.publishedSizes, std::vector<qsizetype>{1280});
    }
    {
        SCOPED_TRACE("the typing flag turns during the pause");
        SearchRoad road(numberedFiles("alpha_", 1500));
        ASSERT_TRUE(road.ready());
        road.model().searchSession().typingClock().noteKeystroke();
        road.h.clock->advance(678ms);
        road.search("alpha", false);
        ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
        ASSERT_TRUE(waitFor([&] { return road.shows("alpha"); }));
        EXPECT_EQ(road.publishedSizes, std::vector<qsizetype>{1500});
        EXPECT_TRUE(road.model().searchSession().displayedResultsComplete());
    }
}

TEST(SearchTask, TypedQueryEndsOnTheCompleteAnswerOnceTheUserPauses)
{
    SearchRoad road(numberedFiles("alpha_", 1500));
    ASSERT_TRUE(road.ready());
    road.type("alpha");
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
    ASSERT_TRUE(waitFor([&] { return road.shows("alpha"); }));
    EXPECT_EQ(road.model().searchSession().results().size(), 1280);
    EXPECT_FALSE(road.model().searchSession().displayedResultsComplete());
    EXPECT_EQ(road.model().searchSession().history().entries(), QStringList{"alpha"});

    // The completion waits out the 0.68 s from the keystroke, not just 85 ms:
    // the fake clock holds its sleep for the rest until it has moved that far.
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 85ms));
    EXPECT_EQ(road.h.sleepLog->sleeps().back(), 680ms - 4ms);
    EXPECT_EQ(road.model().searchSession().results().size(), 1280);
    road.h.clock->advance(680ms - 85ms - 4ms);
    ASSERT_TRUE(waitFor([&] { return road.model().searchSession().results().size() == 1500; }));
    EXPECT_TRUE(road.model().searchSession().displayedResultsComplete());
    // ... and goes on to the image stage, as a complete request does.
    ASSERT_TRUE(waitFor([&] { return road.imageCalls.size() == 1; }));
    EXPECT_EQ(road.imageCalls.front().limit, 180);
    EXPECT_EQ(road.imageCalls.front().excluded.size(), 1500);
    EXPECT_EQ(road.model().searchSession().history().entries(), QStringList{"alpha"});
}

TEST(SearchTask, LaterKeystrokeSupersedesThePauseCompletion)
{
    SearchRoad road(numberedFiles("alpha_", 1500));
    ASSERT_TRUE(road.ready());
    road.type("alpha");
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
    ASSERT_TRUE(waitFor([&] { return road.shows("alpha"); }));
    ASSERT_TRUE(waitFor([&] { return road.h.clock->sleepers() == 1; }));  // the completion waits

    road.h.clock->advance(200ms);
    road.type("alpha_1");
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.model().searchSession().displayedResultsComplete(); }, 20ms));
    EXPECT_TRUE(road.shows("alpha_1"));
    EXPECT_EQ(road.model().searchSession().results().size(), 1500);  // every name holds "alpha_1"
    for (const ImageCall& call : road.imageCalls)
        EXPECT_EQ(call.text, "alpha_1");
}

// The completion of the answer before a keystroke ends with the keystroke,
// not once the new request's typing answer is in: running an expression, it
// holds the store that answer needs.
TEST(SearchTask, AKeystrokeEndsThePauseCompletionAtOnce)
{
    SearchRoad road(numberedFiles("alpha_", 1500));
    ASSERT_TRUE(road.ready());
    road.type("re:alpha_1.*");
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 4ms));
    ASSERT_TRUE(waitFor([&] { return road.shows("re:alpha_1.*"); }));
    ASSERT_TRUE(waitFor([&] { return road.h.clock->sleepers() == 1; }));  // the completion waits
    const std::size_t asked = road.h.sleepLog->sleeps().size();

    road.type("re:alpha_12.*");
    // Only the new request's pause sleeps, and nobody moved the clock.
    ASSERT_TRUE(waitFor([&] {
        return road.h.sleepLog->sleeps().size() == asked + 1 && road.h.clock->sleepers() == 1;
    }));
    EXPECT_TRUE(road.h.allResumed(1));
}

TEST(SearchTask, AnInvalidExpressionIsSaidWithTheEnginesReasonAndPlace)
{
    SearchRoad road(numberedFiles("alpha_", 20));
    ASSERT_TRUE(road.ready());
    road.search("re:(abc[");
    ASSERT_TRUE(waitFor([&] { return road.shows("re:(abc["); }));
    EXPECT_TRUE(road.model().searchSession().results().isEmpty());
    EXPECT_EQ(road.model().statusMessage(), QStringLiteral("正则表达式“(abc[”无效：缺少 ]（第 5 个字符处）"));

    road.search("re:alpha_1 re:a)b");
    ASSERT_TRUE(waitFor([&] { return road.shows("re:alpha_1 re:a)b"); }));
    EXPECT_EQ(road.model().statusMessage(), QStringLiteral("正则表达式“a)b”无效：括号不成对（第 2 个字符处）"));
}

TEST(SearchTask, ImagePassesAndTheirLimits)
{
    for (const auto& [limit, second] : {std::pair{200, 1200}, {700, 1400}, {10000, 1500}}) {
        SCOPED_TRACE(limit);
        SearchRoad road(numberedFiles("alpha_", 3), [limit](AppSettings& s) { s.searchLimit = limit; });
        ASSERT_TRUE(road.ready());
        road.model().searchSession().setImageFuzzyResults({fileItem("/data/previous.png")});
        road.search("alpha");
        ASSERT_TRUE(waitFor([&] { return road.imageCalls.size() == 1 && road.h.clock->sleepers() == 1; }));
        EXPECT_EQ(road.imageCalls[0].limit, 180);
        EXPECT_EQ(road.imageCalls[0].excluded.size(), 3);
        // An empty first pass leaves the previous images on screen...
        EXPECT_EQ(road.model().searchSession().imageFuzzyResults().size(), 1);
        // The fake clock holds a sleep of 55 ms until it has moved that far.
        EXPECT_EQ(road.h.sleepLog->sleeps().back(), 55ms);
        road.h.clock->advance(54ms);
        EXPECT_EQ(road.imageCalls.size(), 1u);
        road.h.clock->advance(1ms);
        ASSERT_TRUE(waitFor([&] { return road.imageCalls.size() == 2; }));
        EXPECT_EQ(road.imageCalls[1].limit, second);
        // ... the second pass replaces them even when it found nothing.
        ASSERT_TRUE(waitFor([&] { return road.model().searchSession().imageFuzzyResults().isEmpty(); }));
    }
}

TEST(SearchTask, FirstImagePassIsShownBeforeTheSecond)
{
    SearchRoad road(numberedFiles("alpha_", 3));
    road.imageAnswer = [](std::size_t call) {
        return call == 0 ? ItemList{fileItem("/data/first.png")} : ItemList{fileItem("/data/a.png"), fileItem("/data/b.png")};
    };
    ASSERT_TRUE(road.ready());
    road.search("alpha");
    ASSERT_TRUE(waitFor([&] { return road.model().searchSession().imageFuzzyResults().size() == 1; }));
    ASSERT_TRUE(advanceOnceSleeping(*road.h.clock, 55ms));
    ASSERT_TRUE(waitFor([&] { return road.model().searchSession().imageFuzzyResults().size() == 2; }));
}

TEST(SearchTask, SideListsTheQueryWillNotRefillAreClearedAtOnce)
{
    SearchRoad road(numberedFiles("alpha_", 3));
    ASSERT_TRUE(road.ready());
    road.model().searchSession().setImageFuzzyResults({fileItem("/data/i.png")});
    road.model().searchSession().setSkuRelatedResults({fileItem("/data/k.png")});
    road.model().searchSession().setServerResults({fileItem("/srv/s.txt")});
    road.search("re:alpha");  // no image search for a pattern, no SKU search either
    EXPECT_TRUE(road.model().searchSession().imageFuzzyResults().isEmpty());
    EXPECT_TRUE(road.model().searchSession().skuRelatedResults().isEmpty());
    EXPECT_EQ(road.model().searchSession().serverResults().size(), 1);

    road.model().searchSession().setSkuRelatedResults({fileItem("/data/k.png")});
    road.search("AB1234");  // a code-like token keeps the SKU list for its search
    EXPECT_EQ(road.model().searchSession().skuRelatedResults().size(), 1);
}

TEST(SearchTask, SharedDrivesOutOfScopeEmptyTheirListOnACompleteRequest)
{
    SearchRoad road(numberedFiles("alpha_", 3), [](AppSettings& s) { s.includeServerInSearch = false; });
    ASSERT_TRUE(road.ready());
    road.model().searchSession().setServerResults({fileItem("/srv/s.txt")});
    road.search("alpha");
    ASSERT_TRUE(waitFor([&] { return road.model().searchSession().serverResults().isEmpty(); }));
    EXPECT_TRUE(road.shows("alpha"));
}

// The recent searches keep what the user searched for: the same text searched
// again after a change on disk stays out once the list was cleared, and so do
// an expression that does not compile and a text over the length limit.
TEST(SearchTask, OnlyANewTextThatCanBeSearchedIsRecorded)
{
    SearchRoad road(numberedFiles("alpha_", 3));
    ASSERT_TRUE(road.ready());
    const SearchHistory& history = road.model().searchSession().history();
    road.search("alpha");
    ASSERT_TRUE(road.h.runOut());
    ASSERT_EQ(history.entries(), QStringList{"alpha"});
    road.model().settingsOperations().clearSearchHistory();
    road.model().searchSession().scheduleSearch(true, false);  // the live index's re-search
    ASSERT_TRUE(road.h.runOut());
    EXPECT_TRUE(road.shows("alpha"));
    EXPECT_TRUE(history.entries().isEmpty());

    for (const QString& text : {QStringLiteral("re:(abc["), QString(searchbudgets::kMaxSearchTextLength + 1, u'a')}) {
        road.search(text);
        ASSERT_TRUE(road.h.runOut());
    }
    EXPECT_TRUE(history.entries().isEmpty());
    road.search("alpha_1");
    ASSERT_TRUE(road.h.runOut());
    EXPECT_EQ(history.entries(), QStringList{"alpha_1"});
}

TEST(SearchTask, LocalDisksOutOfScopeStillRecordHistoryAndClearProgress)
{
    SearchRoad road(numberedFiles("alpha_", 3), [](AppSettings& s) { s.includeLocalInSearch = false; });
    ASSERT_TRUE(road.ready());
    road.show("beta", {fileItem("/data/beta.txt")}, ListCompleteness::Complete);
    road.search("alpha", true, true);
    ASSERT_TRUE(waitFor([&] { return !road.model().searchSession().isSearching(); }));
    EXPECT_EQ(road.model().searchSession().history().entries(), QStringList{"alpha"});
    EXPECT_TRUE(road.shows("beta"));
    EXPECT_TRUE(road.imageCalls.empty());
}

TEST(SearchTask, ProgressEndsWithTheAnswerOfTheRequestThatReplacedItsOwn)
{
    for (const bool replacedWithProgress : {true, false}) {
        SCOPED_TRACE(replacedWithProgress);
        SearchRoad road(numberedFiles("alpha_", 3));
        ASSERT_TRUE(road.ready());
        std::vector<bool> flags;
        QObject::connect(&road.h.model->searchSession(), &SearchSession::isSearchingChanged, road.h.model.get(),
                         [&] { flags.push_back(road.model().searchSession().isSearching()); });
        road.search("alpha", true, true);
        road.search("alpha_1", true, replacedWithProgress);
        ASSERT_TRUE(waitFor([&] { return road.shows("alpha_1"); }));
        EXPECT_FALSE(road.model().searchSession().isSearching());
        EXPECT_EQ(flags, (std::vector<bool>{true, false}));
    }
}

// A pasted page is searched by its head only, and the status line says so;
// a character outside the BMP at the cut is not split.
TEST(SearchTask, APastedPageIsCutToItsHeadAndStillAnswered)
{
    SearchRoad road(numberedFiles("alpha_", 200));
    ASSERT_TRUE(road.ready());
    const QString word = QStringLiteral("alpha_7 ");
    const QString page = word.repeated(100 * 1024 / word.size());
    road.search(page);
    const QString head = page.left(searchbudgets::kMaxSearchTextLength);
    ASSERT_TRUE(waitFor([&] { return road.shows(head); }));
    EXPECT_EQ(road.model().statusMessage(),
              QStringLiteral("搜索内容过长，只按前 %1 个字符搜索").arg(searchbudgets::kMaxSearchTextLength));
    // The words "alpha" and "7": the names holding a 7, not all 200.
    ASSERT_FALSE(road.model().searchSession().results().isEmpty());
    EXPECT_LT(road.model().searchSession().results().size(), 200);
    for (const IndexedItem& item : road.model().searchSession().results())
        EXPECT_NE(item.name().find('7'), std::string::npos) << item.name();
    EXPECT_EQ(road.model().searchSession().searchText(), page);  // the field keeps what was pasted

    // The cut falls between the halves of a surrogate pair: both go.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    road.search(QString(searchbudgets::kMaxSearchTextLength - 1, u'a') + emoji + QStringLiteral("tail"));
    EXPECT_EQ(road.model().searchSession().currentQuerySnapshot().rawText, std::string(searchbudgets::kMaxSearchTextLength - 1, 'a'));
}

// The side-section decisions.

TEST(SideSections, ImageSearchRule)
{
    const struct {
        const char* text;
        std::set<SearchContentFilter> filters;
        bool expected;
    } cases[] = {
        {"cat", {SearchContentFilter::All}, true},
        {"cat", {SearchContentFilter::Images}, true},
        {"cat", {SearchContentFilter::Folders, SearchContentFilter::Images}, true},
        {"cat", {SearchContentFilter::Folders}, false},
        {"re:cat", {SearchContentFilter::All}, false},
        {"c*t", {SearchContentFilter::All}, false},
        {"cat ext:png", {SearchContentFilter::All}, false},
        {"cat type:file", {SearchContentFilter::All}, false},
        {"cat dm:today", {SearchContentFilter::All}, false},
        {"cat path:/data", {SearchContentFilter::All}, false},
        {"ext:png", {SearchContentFilter::All}, false},
    };
    ModelHarness h;
    h.preventStartUp();
    h.start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        h.model->searchSession().setSearchText(QString::fromUtf8(c.text));
        SearchQuery query = h.model->searchSession().currentQuerySnapshot();
        query.contentFilters = c.filters;
        EXPECT_EQ(ImageContentRule::isWanted(query, h.model->searchSession().settings()), c.expected);
    }
}

} // namespace
} // namespace pallix
