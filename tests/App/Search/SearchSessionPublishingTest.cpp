#include "App/AppModel.h"

#include <chrono>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

ItemList numbered(int count, const std::string& tailPrefix = "f")
{
    ItemList list;
    for (int i = 0; i < count; ++i)
        list.append(fileItem("/d/" + (i < 180 ? std::string("f") : tailPrefix) + std::to_string(i)));
    return list;
}

struct PublishingTest : testing::Test {
    ModelHarness h;
    void SetUp() override
    {
        h.start();
        ASSERT_TRUE(h.settle());
        h.clock->advance(1s);  // clear of the start-up's own preview session
    }
    AppModel& model() { return *h.model; }
    void publish(const ItemList& list) { model().searchSession().applySearchResults(list, model().searchSession().currentQuerySnapshot()); }
    void typedAgo(std::chrono::milliseconds age)
    {
        model().searchSession().typingClock().noteKeystroke();
        h.clock->advance(age);
    }
};

// Signature.

TEST(ResultSignature, CountBarAndTheFirst180Paths)
{
    EXPECT_EQ(ShownList::signature({}), "0|");
    EXPECT_EQ(ShownList::signature(fileItems({"/a"})), "1|/a");
    EXPECT_EQ(ShownList::signature(fileItems({"/a", "/b"})), QString("2|/a") + QChar(0x1E) + "/b");
    // Same first 180 paths, another count.
    EXPECT_NE(ShownList::signature(numbered(181)), ShownList::signature(numbered(182)));
    // Same count, differences only after position 180.
    EXPECT_EQ(ShownList::signature(numbered(500, "x")), ShownList::signature(numbered(500, "y")));
    EXPECT_EQ(ShownList::signature(numbered(500)).count(QChar(0x1E)), 179);
}

// Preview sessions.

TEST_F(PublishingTest, PreviewSessionOnlyOnceTheUserPausedFor420Milliseconds)
{
    const ItemList first = fileItems({"/d/one.txt"});
    typedAgo(419ms);
    publish(first);
    EXPECT_NE(h.thumbnails.lastSessionKey(), ShownList::signature(first));

    // Published again later: the signature is no longer new, so still no session.
    h.clock->advance(500ms);
    publish(first);
    EXPECT_NE(h.thumbnails.lastSessionKey(), ShownList::signature(first));

    const ItemList second = fileItems({"/d/two.txt"});
    typedAgo(420ms);
    publish(second);
    EXPECT_EQ(h.thumbnails.lastSessionKey(), ShownList::signature(second));
}

TEST_F(PublishingTest, ListsThatDifferOnlyAfter180OpenNoSecondSession)
{
    int sessions = 0;
    QObject::connect(&h.thumbnails, &ThumbnailProvider::previewSessionBegan, &h.thumbnails, [&] { ++sessions; });
    publish(numbered(500, "x"));
    h.clock->advance(1s);
    publish(numbered(500, "y"));
    EXPECT_EQ(sessions, 1);
    EXPECT_EQ(model().searchSession().results().back().name(), "y499");
}

// Folder ordering threshold.

TEST_F(PublishingTest, FoldersAreOrderedOnlyOnceTheUserPausedFor280Milliseconds)
{
    ItemList list;
    list.append(fileItem("/d/Beta", true));
    list.append(fileItem("/d/x.txt"));
    list.append(fileItem("/d/alpha", true));

    typedAgo(279ms);
    publish(list);
    EXPECT_EQ(model().searchSession().results()[0].name(), "Beta");
    EXPECT_EQ(model().searchSession().results()[2].name(), "alpha");

    typedAgo(280ms);
    publish(list);
    EXPECT_EQ(model().searchSession().results()[0].name(), "alpha");
    EXPECT_EQ(model().searchSession().results()[1].name(), "x.txt");
    EXPECT_EQ(model().searchSession().results()[2].name(), "Beta");
}

TEST(PublishingFirstList, WithoutAnyKeystrokeBothThresholdsAreMet)
{
    ModelHarness h;
    h.start();
    ItemList list;
    list.append(fileItem("/d/Beta", true));
    list.append(fileItem("/d/alpha", true));
    h.model->searchSession().applySearchResults(list, h.model->searchSession().currentQuerySnapshot());
    // The session key is the list as it came, before the folders moved.
    EXPECT_EQ(h.thumbnails.lastSessionKey(), ShownList::signature(list));
    EXPECT_EQ(h.model->searchSession().results()[0].name(), "alpha");
}

// Selection.

TEST_F(PublishingTest, SelectionRule)
{
    const struct {
        const char* name;
        const char* previous;  // "" for none
        ItemList results;
        ItemList image;
        ItemList server;
        ItemList sku;
        const char* expected;
    } cases[] = {
        {"empty list, no selection", "", {}, {}, {}, {}, ""},
        {"empty list, kept by image results", "/i.png", {}, fileItems({"/i.png"}), {}, {}, "/i.png"},
        {"empty list, kept by server results", "/s.txt", {}, {}, fileItems({"/s.txt"}), {}, "/s.txt"},
        {"empty list, selection elsewhere", "/gone", {}, {}, {}, {}, ""},
        {"no selection picks the first", "", fileItems({"/a", "/b"}), {}, {}, {}, "/a"},
        {"kept in results", "/b", fileItems({"/a", "/b"}), {}, {}, {}, "/b"},
        {"kept in results and image results", "/b", fileItems({"/a", "/b"}), fileItems({"/b"}), {}, {}, "/b"},
        {"kept by image results", "/i.png", fileItems({"/a"}), fileItems({"/i.png"}), {}, {}, "/i.png"},
        {"kept by server results", "/s.txt", fileItems({"/a"}), {}, fileItems({"/s.txt"}), {}, "/s.txt"},
        {"only in the SKU section moves to the first", "/k.png", fileItems({"/a"}), {}, {}, fileItems({"/k.png"}), "/a"},
        {"only in the SKU section with no results clears", "/k.png", {}, {}, {}, fileItems({"/k.png"}), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model().searchSession().setImageFuzzyResults(c.image);
        model().searchSession().setServerResults(c.server);
        model().searchSession().setSkuRelatedResults(c.sku);
        model().searchSession().setSelectedItemID(QString::fromUtf8(c.previous));
        publish(c.results);
        EXPECT_EQ(model().searchSession().selectedItemID(), QString::fromUtf8(c.expected));
    }
}

// A search publishes its typing answer first and its complete answer later,
// ranked anew: the first result picked on the earlier list follows the first
// result, while a result the user chose stays chosen. A complete list
// searched again (files changed on disk) keeps even the picked one.
TEST_F(PublishingTest, ThePickedFirstResultFollowsTheListAndAChosenOneStays)
{
    SearchSession& session = model().searchSession();
    session.applySearchResults(fileItems({"/d/reportlab", "/d/report.txt"}), session.currentQuerySnapshot(),
                               ListCompleteness::Partial);
    ASSERT_EQ(model().searchSession().selectedItemID(), "/d/reportlab");
    publish(fileItems({"/d/report.txt", "/d/reportlab"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/d/report.txt");
    publish(fileItems({"/d/new.txt", "/d/report.txt", "/d/reportlab"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/d/report.txt");

    model().searchSession().setSelectedItemID("/d/reportlab");  // a click
    publish(fileItems({"/d/report.txt", "/d/report.md", "/d/reportlab"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/d/reportlab");
    model().searchSession().moveSelection(-1);  // the up arrow
    publish(fileItems({"/d/report.txt", "/d/report.md"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/d/report.md");
}

TEST_F(PublishingTest, SelectionMatchesUnderCanonicalEquivalence)
{
    const QString composed = QString::fromUtf8("/d/caf\u00e9.txt");
    const QString decomposed = composed.normalized(QString::NormalizationForm_D);
    ASSERT_NE(composed, decomposed);
    model().searchSession().setSelectedItemID(decomposed);
    publish(fileItems({"/d/first.txt", "/d/caf\u00e9.txt"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), decomposed);
}

// Each announcement scrolls the views to the selection: a list searched
// again for the same query that keeps it announces nothing, so the view
// stays where the user scrolled it; another query's list announces it.
TEST_F(PublishingTest, SelectionIsAnnouncedWhenItChangesOrAnswersAnotherQuery)
{
    int announcements = 0;
    QObject::connect(&h.model->searchSession(), &SearchSession::selectedItemIDChanged, h.model.get(), [&] { ++announcements; });
    publish(fileItems({"/a"}));
    publish(fileItems({"/a"}));
    publish(fileItems({"/b", "/a"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/a");
    EXPECT_EQ(announcements, 1);
    model().searchSession().setSearchText("other");
    publish(fileItems({"/b", "/a"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/b");
    model().searchSession().setSelectedItemID("/a");
    model().searchSession().setSearchText("another");
    publish(fileItems({"/b", "/a"}));
    EXPECT_EQ(model().searchSession().selectedItemID(), "/a");
    EXPECT_EQ(announcements, 4);
}

TEST_F(PublishingTest, RemembersTheQueryOfThePublishedList)
{
    model().searchSession().setSearchText("alpha");
    const SearchQuery query = model().searchSession().currentQuerySnapshot();
    model().searchSession().applySearchResults({}, query);
    ASSERT_TRUE(model().searchSession().lastDisplayedQuery().has_value());
    EXPECT_EQ(*model().searchSession().lastDisplayedQuery(), query);
}

// Folder hints and their warm-up.

IndexedItem folderAt(const std::string& path)
{
    return fileItem(path, true);
}

std::vector<std::string> names(const ItemList& list)
{
    std::vector<std::string> out;
    for (const IndexedItem& item : list)
        out.emplace_back(item.name());
    return out;
}

struct WarmupTest : testing::Test {
    // Ahead of the model: its lookups may still run while it goes.
    std::mutex mutex;
    std::map<std::string, FolderContentInspector::FolderContentHint> hints;
    std::vector<std::string> probed;
    int publications = 0;
    ModelHarness h;

    void SetUp() override
    {
        h.env.folderContentHint = [this](const std::string& folder) {
            std::lock_guard lock(mutex);
            probed.push_back(folder);
            return hints[folder];
        };
        h.preventStartUp();
        h.start();
        QObject::connect(&h.model->searchSession(), &SearchSession::resultsChanged, h.model.get(), [this] { ++publications; });
    }
    AppModel& model() { return *h.model; }
    void publish(const ItemList& list) { model().searchSession().applySearchResults(list, model().searchSession().currentQuerySnapshot()); }
    std::size_t probes()
    {
        std::lock_guard lock(mutex);
        return probed.size();
    }
};

TEST_F(WarmupTest, HintsFoundInTheBackgroundReorderTheShownFolders)
{
    hints["/d/Vids"] = {true, true};  // videos win over images
    hints["/d/Pics"] = {false, true};
    ItemList list{folderAt("/d/Beta"), fileItem("/d/x.txt"), folderAt("/d/alpha"), folderAt("/d/Vids"),
                  folderAt("/d/Pics")};
    model().searchSession().setSelectedItemID("/d/x.txt");
    publish(list);
    // Without hints the folders only come in name order.
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"alpha", "x.txt", "Beta", "Pics", "Vids"}));
    ASSERT_TRUE(waitFor([&] { return probes() == 4 && h.clock->sleepers() == 1; }));
    // The fake clock holds a sleep of 320 ms until it has moved that far.
    EXPECT_EQ(h.sleepLog->sleeps().back(), 320ms);
    h.clock->advance(319ms);
    EXPECT_EQ(model().searchSession().results()[0].name(), "alpha");
    const int before = publications;
    const QString session = h.thumbnails.lastSessionKey();
    h.clock->advance(1ms);
    ASSERT_TRUE(waitFor([&] { return model().searchSession().results()[0].name() == "Vids"; }));
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"Vids", "x.txt", "Pics", "alpha", "Beta"}));
    EXPECT_EQ(publications, before + 1);
    EXPECT_EQ(model().searchSession().selectedItemID(), "/d/x.txt");
    EXPECT_EQ(h.thumbnails.lastSessionKey(), session);

    // The same folders again cost no lookups.
    publish(list);
    ASSERT_TRUE(h.allResumed());
    EXPECT_EQ(probes(), 4u);
    EXPECT_EQ(h.clock->sleepers(), 0);

    // All four hints were kept: the folders in another order are ordered by
    // them at once, and none is looked up again.
    publish({folderAt("/d/Beta"), folderAt("/d/Pics"), folderAt("/d/alpha"), folderAt("/d/Vids")});
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"Vids", "Pics", "alpha", "Beta"}));
    ASSERT_TRUE(h.allResumed());
    EXPECT_EQ(probes(), 4u);
    EXPECT_EQ(h.clock->sleepers(), 0);
}

TEST_F(WarmupTest, HintsOfASupersededSearchAreDiscarded)
{
    hints["/d/Vids"] = {true, false};
    publish({folderAt("/d/alpha"), folderAt("/d/Vids")});
    ASSERT_TRUE(waitFor([&] { return probes() == 2 && h.clock->sleepers() == 1; }));
    model().searchSession().scheduleSearch(true, false);  // a newer search
    h.clock->advance(320ms);
    ASSERT_TRUE(h.allResumed());  // the warm-up woke to the newer search

    // Nothing of it was kept: the video folder is not ordered first, and both
    // old folders are looked up again.
    publish({folderAt("/d/new"), folderAt("/d/alpha"), folderAt("/d/Vids")});
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"alpha", "new", "Vids"}));
    ASSERT_TRUE(waitFor([&] { return probes() == 5 && h.clock->sleepers() == 1; }));
    h.clock->advance(320ms);
    ASSERT_TRUE(waitFor([&] { return model().searchSession().results()[0].name() == "Vids"; }));
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"Vids", "alpha", "new"}));
}

TEST_F(WarmupTest, NoWarmUpWhereNoOrderingApplies)
{
    ItemList big;
    for (int i = 0; i < 2601; ++i)
        big.append(folderAt("/d/f" + std::to_string(i)));
    publish(big);
    publish({fileItem("/d/a.txt"), fileItem("/d/b.txt")});
    model().searchSession().constraints().updateSort(SearchSortField::Size);
    publish({folderAt("/d/b"), folderAt("/d/a")});
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"b", "a"}));
    ASSERT_TRUE(h.runOut());
    EXPECT_EQ(probes(), 0u);
}

TEST_F(WarmupTest, ReorderingOnlyAfterThe180thItemIsNotPublished)
{
    hints["/d/b_vid"] = {true, false};
    ItemList list;
    for (int i = 0; i < 200; ++i)
        list.append(i == 185 ? folderAt("/d/b_vid") : i == 190 ? folderAt("/d/a_plain")
                                                               : fileItem("/d/f" + std::to_string(i) + ".txt"));
    publish(list);
    ASSERT_EQ(model().searchSession().results()[185].name(), "a_plain");
    const int before = publications;
    ASSERT_TRUE(waitFor([&] { return probes() == 2 && h.clock->sleepers() == 1; }));
    h.clock->advance(320ms);
    // The hints go in and the list is compared in one step of the warm-up.
    ASSERT_TRUE(h.allResumed());
    EXPECT_EQ(publications, before);
    EXPECT_EQ(model().searchSession().results()[185].name(), "a_plain");

    // Both hints went in: the two folders alone are ordered by them at once,
    // with no lookup.
    publish({folderAt("/d/a_plain"), folderAt("/d/b_vid")});
    EXPECT_EQ(names(model().searchSession().results()), (std::vector<std::string>{"b_vid", "a_plain"}));
    ASSERT_TRUE(h.allResumed());
    EXPECT_EQ(probes(), 2u);
}

TEST_F(WarmupTest, SharedDriveListIsReorderedToo)
{
    hints["/srv/Vids"] = {true, false};
    publish({folderAt("/srv/Vids"), folderAt("/d/other")});
    ASSERT_TRUE(waitFor([&] { return probes() == 2 && h.clock->sleepers() == 1; }));
    // The shared-drive answer arrives during the pause (and takes its folder out of the local list).
    model().searchSession().setServerResults({folderAt("/srv/Beta"), folderAt("/srv/Vids")});
    h.clock->advance(320ms);
    ASSERT_TRUE(waitFor([&] { return model().searchSession().serverResults()[0].name() == "Vids"; }));
}

// Shared-drive exclusion.

TEST(PublishingSharedDrives, LocalOnlySearchLeavesOutItemsUnderSharedDriveRoots)
{
    for (const bool serverInScope : {false, true}) {
        SCOPED_TRACE(serverInScope);
        ModelHarness h;
        h.presetSettings([serverInScope](AppSettings& s) {
            s.serverIndexedRoots = {"/Volumes/share/", ""};
            s.includeLocalInSearch = true;
            s.includeServerInSearch = serverInScope;
        });
        h.start();
        const ItemList list = fileItems({"/Volumes/share", "/Volumes/share/a.txt", "/Volumes/shared/b.txt", "/x"});
        h.model->searchSession().applySearchResults(list, h.model->searchSession().currentQuerySnapshot());
        QStringList shown;
        for (const IndexedItem& item : h.model->searchSession().results())
            shown.append(QString::fromUtf8(item.path()));
        if (serverInScope)
            EXPECT_EQ(shown.size(), 4);
        else
            EXPECT_EQ(shown, (QStringList{"/Volumes/shared/b.txt", "/x"}));
    }
}

// A share the local index covers too: each of its results is listed once,
// in the shared-drive section, whichever list arrives first.
TEST(PublishingSharedDrives, AResultOfBothIndexesIsListedOnceInTheSharedSection)
{
    ModelHarness h;
    h.presetSettings([](AppSettings& s) {
        s.serverIndexedRoots = {"/mnt/share"};
        s.includeLocalInSearch = true;
        s.includeServerInSearch = true;
    });
    h.start();
    SearchSession& session = h.model->searchSession();
    const auto shown = [&session] {
        QStringList paths;
        for (const IndexedItem& item : session.results())
            paths.append(QString::fromUtf8(item.path()));
        return paths;
    };
    session.setServerResults(fileItems({"/mnt/share/a.png"}));
    session.applySearchResults(fileItems({"/mnt/share/a.png", "/mnt/share/b.png", "/x"}),
                               session.currentQuerySnapshot());
    EXPECT_EQ(shown(), (QStringList{"/mnt/share/b.png", "/x"}));
    session.setServerResults(fileItems({"/mnt/share/a.png", "/mnt/share/b.png"}));
    EXPECT_EQ(shown(), QStringList{"/x"});
    EXPECT_EQ(session.serverResults().size(), 2);
}

} // namespace
} // namespace pallix
