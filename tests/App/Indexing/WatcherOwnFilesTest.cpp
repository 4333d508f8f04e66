// The live index and the application's own databases, which lie in the
// user's home and change with every write the application makes.

#include "App/Indexing/WatcherBatches.h"

#include <gtest/gtest.h>

#include "App/AppModel.h"
#include "App/ModelTestSupport.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

TEST(FileEventsCoalescing, TheApplicationsOwnDatabasesBringNoBatchAndNoSearch)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "notes.txt");
    h.start();
    ASSERT_TRUE(h.settle());
    int arrivals = 0;
    QObject::connect(&h.model->watcherBatches(), &WatcherBatches::pendingPathsChanged, h.model.get(), [&](int count) {
        if (count > 0)
            ++arrivals;
    });
    SearchSession& session = h.model->searchSession();
    session.setSearchText(QStringLiteral("notes"));
    session.scheduleSearch(true, false);
    ASSERT_TRUE(h.runOut());
    const std::int64_t generation = session.searchGeneration();

    // What the index's and the tagger's writes make the watcher report.
    for (const char* name : {"index.sqlite-wal", "image_semantic.sqlite", "image_semantic.sqlite-wal"})
        h.watcher->deliver({(h.env.supportDirectory / name).string()});
    ASSERT_TRUE(h.runOut());
    EXPECT_EQ(arrivals, 0);
    EXPECT_EQ(session.searchGeneration(), generation);

    // The user's own files still come in, and are searched again.
    writeFile(h.rootFolder() / "more notes.txt");
    h.watcher->deliver({(h.env.supportDirectory / "index.sqlite-wal").string(), (h.rootFolder() / "more notes.txt").string()});
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return session.searchGeneration() > generation; }, 50ms));
    EXPECT_EQ(arrivals, 1);
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return session.results().size() == 2; }, 50ms));
}

} // namespace
} // namespace pallix
