#include "App/Search/SkuRelatedSearch.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

IndexedItem folderItem(const std::string& path)
{
    return fileItem(path, true);
}

std::vector<std::string> namesOf(const QList<IndexedItem>& items)
{
    std::vector<std::string> names;
    for (const IndexedItem& item : items)
        names.emplace_back(item.path());
    return names;
}

// Which queries look like an article number; the model's rule, asked with the
// query the search would run.
TEST(SkuRelatedRule, OneCodeLikeWordWithoutConstraints)
{
    const struct {
        const char* text;
        bool expected;
    } cases[] = {
        {"货号1234", true},        {"１２３４", true},          {"AB1234 dm:2024-01-01", true},
        {"re:AB1234", false},      {"AB1234 *.pdf", false},     {"AB1234 path:/data", false},
        {"AB1234 ext:pdf", false}, {"AB1234 type:file", false}, {"A12", false},
        {"ABCD", false},           {"AB.1234", false},          {"AB 1234", false},
        // "-" and "_" cut a word into tokens, but the code is the word as typed.
        {"AB-1024", true},         {"sku_2024", true},          {"AB-1024 dm:today", true},
        {"--_1", true},            {"AB- 1024", false},         {"AB-1024 C-1", false},
        {"AB12", true},            {"ab-1_2", true},            {"AB.12", false},
        {"re:AB12", false},        {"AB12 ext:pdf", false},     {"AB 12", false},
    };
    ModelHarness h;
    h.preventStartUp();
    h.start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        h.model->searchSession().setSearchText(QString::fromUtf8(c.text));
        const SearchQuery query = h.model->searchSession().currentQuerySnapshot();
        EXPECT_EQ(SkuRelatedSearch::isWanted(query, h.model->settings()), c.expected);
    }
    h.model->searchSession().setSearchText("AB1234");
    SearchQuery query = h.model->searchSession().currentQuerySnapshot();
    for (auto filters :
         {std::set{SearchContentFilter::Images}, std::set{SearchContentFilter::All, SearchContentFilter::Images}}) {
        query.contentFilters = filters;
        EXPECT_FALSE(SkuRelatedSearch::isWanted(query, h.model->settings()));
    }
    query.contentFilters = {SearchContentFilter::Documents};
    EXPECT_FALSE(SkuRelatedSearch::isWanted(query, h.model->settings()));
    h.model->settingsOperations().applySearchScopeChanges(false, true);  // the local disks out of scope
    EXPECT_FALSE(SkuRelatedSearch::isWanted(h.model->searchSession().currentQuerySnapshot(), h.model->settings()));
}

TEST(SkuRelatedFolders, OnlyDocumentsOfTheFirstEightHitsCount)
{
    const QList<IndexedItem> hits{folderItem("/f/AB12"),      fileItem("/img/AB12.jpg"), fileItem("/a/AB12.pdf"),
                                  fileItem("/a/AB12 v2.pdf"), fileItem("/b/AB12.pptx"),  fileItem("/c/AB12.xlsx")};
    // A folder and a picture never count; a repeated folder is listed once.
    EXPECT_EQ(SkuRelatedSearch::candidateFolders(hits), (std::vector<std::string>{"/a", "/b", "/c"}));
    EXPECT_TRUE(SkuRelatedSearch::candidateFolders({folderItem("/f/AB12"), fileItem("/img/x.png")}).empty());

    QList<IndexedItem> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append(fileItem("/d" + std::to_string(i) + "/AB12.pdf"));
    const std::vector<std::string> folders = SkuRelatedSearch::candidateFolders(twenty);
    ASSERT_EQ(folders.size(), 6u);
    for (const std::string& folder : folders)
        EXPECT_LT(std::stoi(folder.substr(2)), 8) << folder;  // among the folders of the first 8 documents
}

TEST(SkuRelatedGathering, TakesAtMost160AFolderAnd700InAllWithoutRepeats)
{
    std::vector<int> limits;
    const auto lister = [&](const std::string& folder, int limit) {
        limits.push_back(limit);
        std::vector<IndexedItem> items;
        for (int i = 0; i < std::min(limit, 500); ++i)  // a folder with 500 images
            items.push_back(fileItem(folder + "/img" + std::to_string(1000 + i) + ".png"));
        return items;
    };
    const QList<IndexedItem> some = SkuRelatedSearch::gather({"/a", "/a"}, lister, nullptr);
    EXPECT_EQ(some.size(), 160);  // the same folder twice adds nothing
    EXPECT_EQ(limits, (std::vector<int>{160, 160}));

    const QList<IndexedItem> capped = SkuRelatedSearch::gather({"/a", "/b", "/c", "/d", "/e", "/f"}, lister, nullptr);
    EXPECT_EQ(capped.size(), 700);
    // Folder by folder: 4 × 160, then 60 of the fifth, none of the sixth.
    const auto from = [&](const char* folder) {
        return std::count_if(capped.begin(), capped.end(),
                             [&](const IndexedItem& item) { return item.parentPath() == folder; });
    };
    EXPECT_EQ(from("/d"), 160);
    EXPECT_EQ(from("/e"), 60);
    EXPECT_EQ(from("/f"), 0);
}

TEST(SkuRelatedGathering, SortsFoldersFirstThenByNameIgnoringCaseThenByPath)
{
    const auto lister = [](const std::string& folder, int) {
        if (folder == "/a")
            return std::vector<IndexedItem>{fileItem("/a/b.png"), fileItem("/a/Same.jpg"), folderItem("/a/Zeta"),
                                            fileItem("/a/A.png")};
        return std::vector<IndexedItem>{fileItem("/0/same.jpg"), folderItem("/0/alpha")};
    };
    const QList<IndexedItem> sorted = SkuRelatedSearch::gather({"/a", "/0"}, lister, nullptr);
    EXPECT_EQ(namesOf(sorted), (std::vector<std::string>{"/0/alpha", "/a/Zeta", "/a/A.png", "/a/b.png",
                                                         "/0/same.jpg", "/a/Same.jpg"}));
}

TEST(SkuRelatedGathering, ACancelStopsAtTheNextFolder)
{
    CancelToken token;
    std::vector<std::string> listed;
    const auto lister = [&](const std::string& folder, int) {
        listed.push_back(folder);
        token.cancel();  // a newer request arrives while the first folder is read
        return std::vector<IndexedItem>{fileItem(folder + "/x.png")};
    };
    EXPECT_TRUE(SkuRelatedSearch::gather({"/a", "/b", "/c"}, lister, &token).isEmpty());
    EXPECT_EQ(listed, (std::vector<std::string>{"/a"}));
}

// A model over an index with two folders of documents named by an article number.
class SkuRelatedModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        seedIndex(h.databasePath(), {fileItem("/data/p/AB1234 sheet.pdf"), fileItem("/data/p/b.png"),
                                     fileItem("/data/p/AB1234 front.jpg"), folderItem("/data/p/Sub"),
                                     fileItem("/data/p/notes.txt"), fileItem("/data/q/AB1234.docx"),
                                     fileItem("/data/q/a.png"), fileItem("/data/r/other.png"),
                                     fileItem("/data/s/AB-1024 manual.pdf"), fileItem("/data/s/front.png"),
                                     fileItem("/data/t/sku_2024.xlsx"), folderItem("/data/t/photos")});
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
        h.start();
        ASSERT_TRUE(h.settle());
        IndexStore& store = *h.model->context().stores().local;
        ASSERT_TRUE(pumpUntil(*h.clock, [&] {
            return store.status().cacheReady && store.status().searchIndexesComplete && h.localProbe->runningBackgroundJobs() == 0
                   && h.clock->sleepers() == 0;
        }, 50ms));
    }

    // Every pool job has ended and its continuation has run.
    bool drained()
    {
        const bool idle = waitFor([&] { return h.model->context().pool().activeThreadCount() == 0; });
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return idle;
    }

    ModelHarness h;
};

TEST_F(SkuRelatedModel, AnArticleNumberListsTheImagesAndFoldersBesideItsDocuments)
{
    h.model->searchSession().setSearchText("AB1234");
    h.model->searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return !h.model->searchSession().skuRelatedResults().isEmpty(); }));
    EXPECT_EQ(namesOf(h.model->searchSession().skuRelatedResults()),
              (std::vector<std::string>{"/data/p/Sub", "/data/q/a.png", "/data/p/AB1234 front.jpg", "/data/p/b.png"}));
}

// Typed a key at a time, as the search field hands the text over.
TEST_F(SkuRelatedModel, ACodeWithAHyphenOrAnUnderscoreListsItsNeighboursToo)
{
    const struct {
        const char* text;
        std::vector<std::string> related;
    } cases[] = {
        {"AB-1024", {"/data/s/front.png"}},
        {"sku_2024", {"/data/t/photos"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        h.model->searchSession().setSkuRelatedResults({});
        const QString typed = QString::fromUtf8(c.text);
        for (qsizetype n = 1; n <= typed.size(); ++n) {
            h.model->searchSession().userTyped(typed.left(n));
        }
        ASSERT_TRUE(pumpUntil(*h.clock, [&] { return !h.model->searchSession().skuRelatedResults().isEmpty(); }));
        EXPECT_EQ(namesOf(h.model->searchSession().skuRelatedResults()), c.related);
    }
}

TEST_F(SkuRelatedModel, OnlyAnAnswerOfTheCurrentGenerationIsPublished)
{
    h.model->searchSession().setSearchText("AB1234");
    const SearchQuery query = h.model->searchSession().currentQuerySnapshot();
    const ItemList hits{fileItem("/data/q/AB1234.docx")};
    const ItemList sentinel{fileItem("/data/k.png")};
    h.model->searchSession().setSkuRelatedResults(sentinel);
    ASSERT_TRUE(SkuRelatedSearch::isWanted(query, h.model->settings()));
    SkuRelatedSearch related(h.model->context(), h.model->searchSession());

    related.schedule(hits, h.model->searchSession().searchGeneration() - 1);
    ASSERT_TRUE(drained());
    EXPECT_EQ(h.model->searchSession().skuRelatedResults(), sentinel);  // stale: dropped

    related.schedule(hits, h.model->searchSession().searchGeneration());
    ASSERT_TRUE(waitFor([&] { return h.model->searchSession().skuRelatedResults() != sentinel; }));
    EXPECT_EQ(namesOf(h.model->searchSession().skuRelatedResults()), (std::vector<std::string>{"/data/q/a.png"}));

    // No document among the hits: the list stays as it is.
    h.model->searchSession().setSkuRelatedResults(sentinel);
    related.schedule({fileItem("/data/p/b.png")}, h.model->searchSession().searchGeneration());
    ASSERT_TRUE(drained());
    EXPECT_EQ(h.model->searchSession().skuRelatedResults(), sentinel);
}

TEST_F(SkuRelatedModel, ANewerRequestSupersedesTheRunningJob)
{
    h.model->searchSession().setSearchText("AB1234");
    const SearchQuery query = h.model->searchSession().currentQuerySnapshot();
    const auto generation = h.model->searchSession().searchGeneration();
    ASSERT_TRUE(SkuRelatedSearch::isWanted(query, h.model->settings()));
    SkuRelatedSearch related(h.model->context(), h.model->searchSession());
    related.schedule({fileItem("/data/p/AB1234 sheet.pdf")}, generation);
    related.schedule({fileItem("/data/q/AB1234.docx")}, generation);
    ASSERT_TRUE(drained());
    // The first job was cancelled: only the second's folder is shown.
    EXPECT_EQ(namesOf(h.model->searchSession().skuRelatedResults()), (std::vector<std::string>{"/data/q/a.png"}));
}

} // namespace
} // namespace pallix
