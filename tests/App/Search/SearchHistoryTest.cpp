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
        return h.defaults->stringList(SearchHistory::key()).value_or(std::vector<std::string>{});
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
    model().searchSession().history().recordIfNeeded("  a \n");
    EXPECT_TRUE(model().searchSession().history().entries().isEmpty());
    EXPECT_FALSE(h.defaults->contains(SearchHistory::key()));

    model().searchSession().history().recordIfNeeded(" ab ");
    EXPECT_EQ(model().searchSession().history().entries(), QStringList{"ab"});
    EXPECT_EQ(stored(), std::vector<std::string>{"ab"});

    // Two user-perceived characters, whatever their byte or code-unit length.
    model().searchSession().history().recordIfNeeded(QString::fromUtf8("文档"));
    model().searchSession().history().recordIfNeeded(QString::fromUtf8("e\u0301"));  // one character
    EXPECT_EQ(model().searchSession().history().entries(), (QStringList{QString::fromUtf8("文档"), "ab"}));
}

TEST_F(HistoryTest, RecordingTheNewestEntryAgainWritesNothing)
{
    model().searchSession().history().recordIfNeeded(QString::fromUtf8("文档"));
    // Something else in the store shows whether it is written again.
    h.defaults->setStringList(SearchHistory::key(), {"sentinel"});
    int announcements = 0;
    QObject::connect(&model().searchSession().history(), &SearchHistory::changed, h.model.get(),
                     [&] { ++announcements; });
    model().searchSession().history().recordIfNeeded(QString::fromUtf8(" 文档 "));
    EXPECT_EQ(stored(), std::vector<std::string>{"sentinel"});
    EXPECT_EQ(announcements, 0);
}

TEST_F(HistoryTest, KeepsFifteenUniqueEntriesNewestFirst)
{
    model().searchSession().history().setEntries(numberedEntries(15));
    model().searchSession().history().recordIfNeeded("fresh");
    ASSERT_EQ(model().searchSession().history().entries().size(), 15);
    EXPECT_EQ(model().searchSession().history().entries().front(), "fresh");
    EXPECT_EQ(model().searchSession().history().entries().back(), "term1");  // term0, the oldest, went
    EXPECT_EQ(stored().size(), 15u);

    model().searchSession().history().recordIfNeeded("term7");
    ASSERT_EQ(model().searchSession().history().entries().size(), 15);
    EXPECT_EQ(model().searchSession().history().entries().front(), "term7");
    EXPECT_EQ(model().searchSession().history().entries().count("term7"), 1);
    EXPECT_EQ(model().searchSession().history().entries().back(), "term1");  // nothing dropped

    model().searchSession().history().recordIfNeeded("Term7");
    EXPECT_EQ(model().searchSession().history().entries().mid(0, 2), (QStringList{"Term7", "term7"}));
}

TEST_F(HistoryTest, AWordTypedALetterAtATimeLeavesOneEntry)
{
    SearchHistory& history = model().searchSession().history();
    history.setEntries({"report"});  // from an earlier session: never replaced
    const auto keystroke = std::chrono::milliseconds(150);
    for (const char* typed : {"re", "rep", "repo", "report", "report 2", "report 20"}) {
        history.recordIfNeeded(typed);
        h.clock->advance(keystroke);
    }
    EXPECT_EQ(history.entries(), (QStringList{"report 20", "report"}));
    EXPECT_EQ(stored(), (std::vector<std::string>{"report 20", "report"}));

    // Deleting back within the same typing: the shorter text takes the place.
    history.recordIfNeeded("report 2");
    EXPECT_EQ(history.entries(), (QStringList{"report 2", "report"}));

    // After a pause, a text typed on from the newest entry is a search of its own.
    h.clock->advance(std::chrono::seconds(1));
    history.recordIfNeeded("report 2024");
    EXPECT_EQ(history.entries(), (QStringList{"report 2024", "report 2", "report"}));

    // Within the same typing, a text that does not continue the newest one stays beside it.
    h.clock->advance(keystroke);
    history.recordIfNeeded(QString::fromUtf8("合同"));
    EXPECT_EQ(history.entries(), (QStringList{QString::fromUtf8("合同"), "report 2024", "report 2", "report"}));
}

TEST_F(HistoryTest, AWordDeletedALetterAtATimeLeavesNoFragment)
{
    SearchHistory& history = model().searchSession().history();
    history.recordIfNeeded("readme");
    h.clock->advance(std::chrono::seconds(2));  // read, then Backspace held down
    for (const char* left : {"readm", "read", "rea", "re"}) {
        history.recordIfNeeded(left);
        h.clock->advance(std::chrono::milliseconds(40));
    }
    ASSERT_EQ(history.entries(), (QStringList{"re", "readme"}));
    history.recordIfNeeded("r");  // too short to keep, and it takes the fragment with it
    EXPECT_EQ(history.entries(), QStringList{"readme"});
    EXPECT_EQ(stored(), std::vector<std::string>{"readme"});

    // An emptied field after a pause leaves the entry where it is.
    history.recordIfNeeded("notes");
    h.clock->advance(std::chrono::seconds(1));
    history.recordIfNeeded("");
    EXPECT_EQ(history.entries(), (QStringList{"notes", "readme"}));
}

TEST_F(HistoryTest, PersistingWritesAtMostFifteen)
{
    model().searchSession().history().setEntries(numberedEntries(17));
    model().searchSession().history().persist();
    const std::vector<std::string> written = stored();
    ASSERT_EQ(written.size(), 15u);
    EXPECT_EQ(written.front(), "term16");
}

TEST(HistoryLoading, TrimsDropsEmptiesKeepsDuplicatesAndCaps)
{
    auto defaults = Defaults::inMemory();
    defaults->setStringList(SearchHistory::key(), {" a ", "", "\n", "a"});
    EXPECT_EQ(SearchHistory::load(*defaults), (QStringList{"a", "a"}));

    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i)
        many.push_back("entry" + std::to_string(i));
    defaults->setStringList(SearchHistory::key(), many);
    const QStringList loaded = SearchHistory::load(*defaults);
    ASSERT_EQ(loaded.size(), 15);
    EXPECT_EQ(loaded.back(), "entry14");

    defaults->setString(SearchHistory::key(), "not a list");
    EXPECT_TRUE(SearchHistory::load(*defaults).isEmpty());
}

TEST(HistoryLoading, ArrayHoldingANonTextLoadsEmpty)
{
    TempDir dir;
    writeFile(dir.path() / "defaults.json",
              "{\"" + SearchHistory::key() + "\": [\"photos\", 3]}");
    auto defaults = Defaults::atFile(dir.path() / "defaults.json");
    EXPECT_TRUE(SearchHistory::load(*defaults).isEmpty());
}

TEST(HistoryLoading, TheModelStartsWithTheStoredHistory)
{
    ModelHarness h;
    h.defaults->setStringList(SearchHistory::key(), {"  photos ", "docs"});
    h.preventStartUp();
    h.start();
    EXPECT_EQ(h.model->searchSession().history().entries(), (QStringList{"photos", "docs"}));
}

// Common terms.

TEST_F(HistoryTest, AddingACommonTermMovesItToTheFront)
{
    h.presetSettings([](AppSettings&) {});
    for (const char* term : {"e", "d", "c", "b", "a"})
        model().searchSession().history().addCommonSearchTerm(term);
    ASSERT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    model().searchSession().history().addCommonSearchTerm("  e \n");
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"e", "a", "b", "c", "d"}));
    EXPECT_EQ(storedTerms(), model().settings().commonSearchTerms);
}

TEST_F(HistoryTest, CommonTermsKeepTwelve)
{
    for (int i = 0; i < 13; ++i)
        model().searchSession().history().addCommonSearchTerm(QStringLiteral("t%1").arg(i));
    const auto& terms = model().settings().commonSearchTerms;
    ASSERT_EQ(terms.size(), 12u);
    EXPECT_EQ(terms.front(), "t12");
    EXPECT_EQ(terms.back(), "t1");
}

TEST_F(HistoryTest, BlankCommonTermChangesAndWritesNothing)
{
    model().searchSession().history().addCommonSearchTerm("kept");
    const AppSettings before = model().settings();
    int announcements = 0;
    QObject::connect(h.model.get(), &AppModel::settingsChanged, h.model.get(), [&] { ++announcements; });
    SettingsStore probe(h.defaults);
    AppSettings marked = probe.settings();
    marked.commonSearchTerms = {"sentinel"};
    probe.setSettings(marked);
    probe.persist();

    model().searchSession().history().addCommonSearchTerm(" \n\t ");
    EXPECT_EQ(model().settings(), before);
    EXPECT_EQ(storedTerms(), std::vector<std::string>{"sentinel"});
    EXPECT_EQ(announcements, 0);
}

TEST_F(HistoryTest, StoredTermsAreTrimmedOnTheNextAddition)
{
    h.model.reset();
    h.presetSettings([](AppSettings& s) { s.commonSearchTerms = {" x ", "  ", "y"}; });
    h.start();
    model().searchSession().history().addCommonSearchTerm("z");
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"z", "x", "y"}));
}

TEST_F(HistoryTest, RemovingCommonTermsByTheirPositionsBefore)
{
    for (const char* term : {"d", "c", "b", "a"})
        model().searchSession().history().addCommonSearchTerm(term);
    model().searchSession().history().removeCommonSearchTerm({0, 2});
    EXPECT_EQ(model().settings().commonSearchTerms, (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(storedTerms(), (std::vector<std::string>{"b", "d"}));
}

} // namespace
} // namespace pallix
