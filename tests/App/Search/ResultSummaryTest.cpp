#include "App/Search/ResultSummary.h"

#include <gtest/gtest.h>

#include "App/AppModel.h"
#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;

TEST(ResultSummary, Texts)
{
    using S = ResultSummary::State;
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
        EXPECT_EQ(ResultSummary::text(c.state, [&] { return c.intent; }), QString::fromUtf8(c.expected));
    }
}

TEST(ResultSummary, AsksForTheIntentOnlyForAFullLocalList)
{
    int asked = 0;
    const ResultSummary::State partial{5, 9, 0, 0, true, true, false, false, 200};
    ResultSummary::text(partial, [&] { return ++asked, true; });
    EXPECT_EQ(asked, 0);
}

TEST(ResultSummary, ReadsTheModelsState)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/a.txt"), fileItem("/data/b.txt"), fileItem("/data/c.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
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
