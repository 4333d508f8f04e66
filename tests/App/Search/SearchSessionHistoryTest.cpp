#include "App/AppModel.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;

struct HistoryTest : testing::Test {
    ModelHarness h;
    void SetUp() override
    {
        h.preventStartUp();
        h.start();
    }
    AppModel& model() { return *h.model; }
    std::vector<std::string> stored() const
    {
        return h.defaults->stringList(SearchSession::searchHistoryKey()).value_or(std::vector<std::string>{});
    }
    std::vector<std::string> storedTerms() const { return SettingsStore(h.defaults).settings().commonSearchTerms; }
};

QStringList numberedEntries(int count)
{
    QStringList entries;
    for (int i = count - 1; i >= 0; --i)
        entries.append(QStringLiteral("term%1").arg(i));
    return entries;  // newest first
}

// Recording.

TEST_F(HistoryTest, ShortTextsAreNotRecorded)
{
    model().searchSession().recordSearchHistoryIfNeeded("  a \n");
    EXPECT_TRUE(model().searchSession().searchHistory().isEmpty());
    EXPECT_FALSE(h.defaults->contains(SearchSession::searchHistoryKey()));

    model().searchSession().recordSearchHistoryIfNeeded(" ab ");
    EXPECT_EQ(model().searchSession().searchHistory(), QStringList{"ab"});
    EXPECT_EQ(stored(), std::vector<std::string>{"ab"});

    // Two user-perceived characters, whatever their byte or code-unit length.
    model().searchSession().recordSearchHistoryIfNeeded(QString::fromUtf8("文档"));
    model().searchSession().recordSearchHistoryIfNeeded(QString::fromUtf8("e\u0301"));  // one character
    EXPECT_EQ(model().searchSession().searchHistory(), (QStringList{QString::fromUtf8("文档"), "ab"}));
}

TEST_F(HistoryTest, RecordingTheNewestEntryAgainWritesNothing)
{
    model().searchSession().recordSearchHistoryIfNeeded(QString::fromUtf8("文档"));
    // Something else in the store shows whether it is written again.
    h.defaults->setStringList(SearchSession::searchHistoryKey(), {"sentinel"});
    int announcements = 0;
    QObject::connect(h.model.get(), &AppModel::searchHistoryChanged, h.model.get(), [&] { ++announcements; });
    model().searchSession().recordSearchHistoryIfNeeded(QString::fromUtf8(" 文档 "));
    EXPECT_EQ(stored(), std::vector<std::string>{"sentinel"});
    EXPECT_EQ(announcements, 0);
}

TEST_F(HistoryTest, KeepsFifteenUniqueEntriesNewestFirst)
{
    model().searchSession().setSearchHistory(numberedEntries(15));
    model().searchSession().recordSearchHistoryIfNeeded("fresh");
    ASSERT_EQ(model().searchSession().searchHistory().size(), 15);
    EXPECT_EQ(model().searchSession().searchHistory().front(), "fresh");
    EXPECT_EQ(model().searchSession().searchHistory().back(), "term1");  // term0, the oldest, went
    EXPECT_EQ(stored().size(), 15u);

    model().searchSession().recordSearchHistoryIfNeeded("term7");
    ASSERT_EQ(model().searchSession().searchHistory().size(), 15);
    EXPECT_EQ(model().searchSession().searchHistory().front(), "term7");
    EXPECT_EQ(model().searchSession().searchHistory().count("term7"), 1);
    EXPECT_EQ(model().searchSession().searchHistory().back(), "term1");  // nothing dropped

    model().searchSession().recordSearchHistoryIfNeeded("Term7");
    EXPECT_EQ(model().searchSession().searchHistory().mid(0, 2), (QStringList{"Term7", "term7"}));
}

TEST_F(HistoryTest, PersistingWritesAtMostFifteen)
{
    model().searchSession().setSearchHistory(numberedEntries(17));
    model().searchSession().persistSearchHistory();
    const std::vector<std::string> written = stored();
    ASSERT_EQ(written.size(), 15u);
    EXPECT_EQ(written.front(), "term16");
}

TEST(HistoryLoading, TrimsDropsEmptiesKeepsDuplicatesAndCaps)
{
    auto defaults = Defaults::inMemory();
    defaults->setStringList(SearchSession::searchHistoryKey(), {" a ", "", "\n", "a"});
    EXPECT_EQ(SearchSession::loadSearchHistory(*defaults), (QStringList{"a", "a"}));

    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i)
        many.push_back("entry" + std::to_string(i));
    defaults->setStringList(SearchSession::searchHistoryKey(), many);
    const QStringList loaded = SearchSession::loadSearchHistory(*defaults);
    ASSERT_EQ(loaded.size(), 15);
    EXPECT_EQ(loaded.back(), "entry14");

    defaults->setString(SearchSession::searchHistoryKey(), "not a list");
    EXPECT_TRUE(SearchSession::loadSearchHistory(*defaults).isEmpty());
}

TEST(HistoryLoading, ArrayHoldingANonTextLoadsEmpty)
{
    TempDir dir;
    writeFile(dir.path() / "defaults.json",
              "{\"" + SearchSession::searchHistoryKey() + "\": [\"photos\", 3]}");
    auto defaults = Defaults::atFile(dir.path() / "defaults.json");
    EXPECT_TRUE(SearchSession::loadSearchHistory(*defaults).isEmpty());
}

TEST(HistoryLoading, TheModelStartsWithTheStoredHistory)
{
    ModelHarness h;
    h.defaults->setStringList(SearchSession::searchHistoryKey(), {"  photos ", "docs"});
    h.preventStartUp();
    h.start();
    EXPECT_EQ(h.model->searchSession().searchHistory(), (QStringList{"photos", "docs"}));
}

// Common terms.

TEST_F(HistoryTest, AddingACommonTermMovesItToTheFront)
{
    h.presetSettings([](AppSettings&) {});
    for (const char* term : {"e", "d", "c", "b", "a"})
        model().searchSession().addCommonSearchTerm(term);
    ASSERT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    model().searchSession().addCommonSearchTerm("  e \n");
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"e", "a", "b", "c", "d"}));
    EXPECT_EQ(storedTerms(), model().settings().commonSearchTerms);
}

TEST_F(HistoryTest, CommonTermsKeepTwelve)
{
    for (int i = 0; i < 13; ++i)
        model().searchSession().addCommonSearchTerm(QStringLiteral("t%1").arg(i));
    const auto& terms = model().settings().commonSearchTerms;
    ASSERT_EQ(terms.size(), 12u);
    EXPECT_EQ(terms.front(), "t12");
    EXPECT_EQ(terms.back(), "t1");
}

TEST_F(HistoryTest, BlankCommonTermChangesAndWritesNothing)
{
    model().searchSession().addCommonSearchTerm("kept");
    const AppSettings before = model().settings();
    int announcements = 0;
    QObject::connect(h.model.get(), &AppModel::settingsChanged, h.model.get(), [&] { ++announcements; });
    SettingsStore probe(h.defaults);
    AppSettings marked = probe.settings();
    marked.commonSearchTerms = {"sentinel"};
    probe.setSettings(marked);
    probe.persist();

    model().searchSession().addCommonSearchTerm(" \n\t ");
    EXPECT_EQ(model().settings(), before);
    EXPECT_EQ(storedTerms(), std::vector<std::string>{"sentinel"});
    EXPECT_EQ(announcements, 0);
}

TEST_F(HistoryTest, StoredTermsAreTrimmedOnTheNextAddition)
{
    h.model.reset();
    h.presetSettings([](AppSettings& s) { s.commonSearchTerms = {" x ", "  ", "y"}; });
    h.start();
    model().searchSession().addCommonSearchTerm("z");
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"z", "x", "y"}));
}

TEST_F(HistoryTest, RemovingCommonTermsByTheirPositionsBefore)
{
    for (const char* term : {"d", "c", "b", "a"})
        model().searchSession().addCommonSearchTerm(term);
    model().searchSession().removeCommonSearchTerm({0, 2});
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(storedTerms(), (std::vector<std::string>{"b", "d"}));
}

// Result summary.

TEST(ResultSummary, Texts)
{
    using S = SearchSession::SummaryState;
    auto state = [](std::int64_t r, std::int64_t n, std::int64_t s, std::int64_t m, bool local, bool server,
                    bool localBusy, bool serverBusy, std::int64_t limit = 10000) {
        return S{r, n, s, m, local, server, localBusy, serverBusy, limit};
    };
    const struct {
        const char* name;
        S state;
        bool intent;
        const char* expected;
    } cases[] = {
        {"idle, both in scope", state(37, 120000, 2, 5000, true, true, false, false), true,
         "本机/外接：37（索引 120000）  共享盘：2（索引 5000）"},
        {"idle, local only, full list", state(10000, 50, 0, 0, true, false, false, false), true,
         "本机/外接：10000（索引 50）（本机/外接命中已达上限）"},
        {"idle, local only, one fewer", state(9999, 50, 0, 0, true, false, false, false), true,
         "本机/外接：9999（索引 50）"},
        {"idle, full list without intent", state(10000, 50, 0, 0, true, false, false, false), false,
         "本机/外接：10000（索引 50）"},
        {"idle, nothing in scope", state(3, 4, 5, 6, false, false, false, false), true, ""},
        {"idle, shared drives only", state(3, 4, 5, 6, false, true, false, false), true, "共享盘：5（索引 6）"},
        {"both busy, shared drives only", state(3, 4, 5, 6, false, true, true, true), true, "共享盘：更新中（6）"},
        {"both busy, both in scope", state(3, 4, 5, 6, true, true, true, true), true,
         "本机/外接：后台索引中（4）  共享盘：更新中（6）"},
        {"local building", state(3, 4, 5, 6, true, true, true, false), true, "本机/外接：后台索引中（已收录 4）"},
        {"local building, local only", state(3, 4, 5, 6, true, false, true, false), true,
         "本机/外接：后台索引中（已收录 4）"},
        {"local building, shared drives only", state(3, 4, 5, 6, false, true, true, false), true, "共享盘：5（索引 6）"},
        {"local building, nothing in scope", state(3, 4, 5, 6, false, false, true, false), true, ""},
        {"shared drives updating, both", state(3, 4, 5, 6, true, true, false, true), true,
         "本机/外接：3（索引 4）  共享盘：更新中（已收录 6）"},
        {"shared drives updating, local only", state(3, 4, 5, 6, true, false, false, true), true,
         "本机/外接：3（索引 4）"},
        {"shared drives updating, shared drives only", state(3, 4, 5, 6, false, true, false, true), true,
         "共享盘：更新中（已收录 6）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SearchSession::resultSummaryText(c.state, [&] { return c.intent; }), QString::fromUtf8(c.expected));
    }
}

TEST(ResultSummary, AsksForTheIntentOnlyForAFullLocalList)
{
    int asked = 0;
    const SearchSession::SummaryState partial{5, 9, 0, 0, true, true, false, false, 200};
    SearchSession::resultSummaryText(partial, [&] { return ++asked, true; });
    EXPECT_EQ(asked, 0);
}

TEST(ResultSummary, ReadsTheModelsState)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/a.txt"), fileItem("/data/b.txt"), fileItem("/data/c.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(AppModel::lastIndexedRootsKey(), {"/data"});
    h.presetSettings([](AppSettings& s) {
        s.includeServerInSearch = false;
        s.searchLimit = 200;
    });
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->searchSession().setSearchText("a");
    h.model->searchSession().applySearchResults({fileItem("/data/a.txt")}, h.model->searchSession().currentQuerySnapshot());
    EXPECT_EQ(h.model->searchSession().resultSummaryText(), QString::fromUtf8("本机/外接：1（索引 3）"));
}

} // namespace
} // namespace pallix
