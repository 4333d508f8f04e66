#include "App/ImageTags/ImageTagger.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <QImage>

#include "App/ImageTags/ImageTagExtraction.h"
#include "Core/Semantic/ImageSemanticStore.h"
#include "App/ModelTestSupport.h"
#include "Platform/SpecialFiles.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using testing_support::TempDir;
using testing_support::waitFor;

// Tags by path; records every extraction and the thread it ran on.
class FakeExtractor final : public ImageTagExtractor {
public:
    std::vector<std::string> extractImageTags(const std::string& path) override
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(path);
        m_extractingThread = QThread::currentThread();
        m_onGuiThread = m_onGuiThread || QThread::currentThread() == QCoreApplication::instance()->thread();
        const auto found = m_tags.find(path);
        return found == m_tags.end() ? std::vector<std::string>{} : found->second;
    }
    void setTags(const std::string& path, std::vector<std::string> tags)
    {
        std::lock_guard lock(m_mutex);
        m_tags[path] = std::move(tags);
    }
    std::vector<std::string> calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    bool ranOnGuiThread() const
    {
        std::lock_guard lock(m_mutex);
        return m_onGuiThread;
    }
    bool recognisesObjects() const override { return m_objects; }
    void setRecognisesObjects(bool objects) { m_objects = objects; }
    void releaseWorkingMemory() override
    {
        std::lock_guard lock(m_mutex);
        m_releases.push_back(QThread::currentThread() == m_extractingThread);
    }
    // Per release: whether it ran on the thread that extracted last.
    std::vector<bool> releases() const
    {
        std::lock_guard lock(m_mutex);
        return m_releases;
    }

private:
    std::atomic<bool> m_objects{true};
    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<std::string>> m_tags;
    std::vector<std::string> m_calls;
    bool m_onGuiThread = false;
    QThread* m_extractingThread = nullptr;
    std::vector<bool> m_releases;
};

// Image paths "/img/000.png"... served page by page, in path order after the
// path asked for; records each request. `afterFirstPage` runs once the first
// page is served, on the list, as a change of the index between two pages.
class FakePages {
public:
    explicit FakePages(std::vector<std::string> paths) : m_paths(std::move(paths)) {}
    explicit FakePages(int count)
    {
        for (int i = 0; i < count; ++i)
            m_paths.push_back("/img/" + std::to_string(1000 + i).substr(1) + ".png");
    }
    ImageTagger::PageSource source()
    {
        return [this](int limit, const std::string& after) {
            std::lock_guard lock(m_mutex);
            m_requests.emplace_back(limit, after);
            const auto begin = after.empty() ? m_paths.begin() : std::upper_bound(m_paths.begin(), m_paths.end(), after);
            const auto end = begin + std::min<std::ptrdiff_t>(limit, m_paths.end() - begin);
            std::vector<std::string> page(begin, end);
            if (m_requests.size() == 1 && afterFirstPage)
                afterFirstPage(m_paths);
            return page;
        };
    }
    std::function<void(std::vector<std::string>&)> afterFirstPage;
    std::vector<std::pair<int, std::string>> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    const std::vector<std::string>& paths() const { return m_paths; }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_paths;
    std::vector<std::pair<int, std::string>> m_requests;
};

struct TaggerRig {
    TempDir dir;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeExtractor> extractor = std::make_shared<FakeExtractor>();
    std::shared_ptr<ImageSemanticStore> store = std::make_shared<ImageSemanticStore>(dir.path() / "tags.sqlite");
    std::unique_ptr<ImageTagger> tagger;

    TaggerRig()
    {
        EXPECT_EQ(store->bootstrap(), std::nullopt);
        tagger = std::make_unique<ImageTagger>(ImageTagger::Options{extractor, clock, false});
    }
    ~TaggerRig() { tagger.reset(); }  // joins the sessions before the store goes

    // The session has finished `n` passes and sleeps before the next.
    bool passesDone(int n)
    {
        return waitFor([&] { return tagger->finishedPasses() >= n && clock->sleepers() >= 1; });
    }
};

TEST(ImageTagger, OneSessionPerKeyPagesInOrderAndPausesBetweenPasses)
{
    TaggerRig rig;
    FakePages pages(230);
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");  // already started: nothing
    EXPECT_TRUE(rig.tagger->hasSession("local"));
    EXPECT_FALSE(rig.tagger->hasSession("server"));
    ASSERT_TRUE(rig.passesDone(1));
    // 220, then the 10 after the last of them, then an empty page ends the pass.
    EXPECT_EQ(pages.requests(),
              (std::vector<std::pair<int, std::string>>{{220, ""}, {220, "/img/219.png"}, {220, "/img/229.png"}}));
    EXPECT_EQ(rig.extractor->calls().size(), 230u);
    EXPECT_FALSE(rig.extractor->ranOnGuiThread());

    // Nothing happens before the 12 s pause is over; then the pass restarts at the first image.
    rig.clock->advance(11s);
    EXPECT_EQ(pages.requests().size(), 3u);
    rig.clock->advance(1s);
    ASSERT_TRUE(rig.passesDone(2));
    EXPECT_EQ(pages.requests()[3], (std::pair<int, std::string>{220, ""}));

    FakePages none(0);
    rig.tagger->startIfNeeded(none.source(), rig.store, "server");  // a second key: a second session
    ASSERT_TRUE(waitFor([&] { return rig.clock->sleepers() == 2; }));
    EXPECT_EQ(none.requests().size(), 1u);
}

// The recognisers' engines and buffers outlive a pass only as long as it
// read something; a pass that read nothing has nothing to give back.
TEST(ImageTagger, APassThatReadImagesReleasesTheRecognisersOnTheirThreadOnce)
{
    TaggerRig rig;
    FakePages pages(3);
    for (const std::string& path : pages.paths())
        rig.extractor->setTags(path, {"ocr:sale"});  // done once read
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    ASSERT_TRUE(waitFor([&] { return !rig.extractor->releases().empty(); }));
    EXPECT_EQ(rig.extractor->releases(), std::vector<bool>{true});

    rig.clock->advance(12s);
    ASSERT_TRUE(rig.passesDone(2));
    EXPECT_EQ(rig.extractor->calls().size(), 3u);
    rig.tagger.reset();  // the worker runs what was posted before it ends
    EXPECT_EQ(rig.extractor->releases(), std::vector<bool>{true});
}

TEST(ImageTagger, APassOverPipesAndDevicesNamedLikeImagesEndsAndTagsOnlyTheRealImage)
{
    test::TempTree tree;
    const test::SpecialFiles special = test::makeSpecialFiles(tree);
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    const std::string real = tree.path("real.png");
    ASSERT_TRUE(red.save(QString::fromStdString(real)));
    std::vector<std::string> paths = special.all();
    paths.push_back(real);  // after every special file: the pass must reach it

    TempDir dir;
    auto store = std::make_shared<ImageSemanticStore>(dir.path() / "tags.sqlite");
    ASSERT_EQ(store->bootstrap(), std::nullopt);
    auto clock = std::make_shared<FakeClock>();
    ImageTagger tagger(ImageTagger::Options{std::make_shared<ImageTagExtraction>(nullptr, nullptr), clock, false});
    tagger.startIfNeeded([paths](int, const std::string& after) { return after.empty() ? paths : std::vector<std::string>{}; },
                         store, "local");
    ASSERT_TRUE(waitFor([&] { return tagger.finishedPasses() >= 1 && clock->sleepers() >= 1; }));
    EXPECT_EQ(tagger.extractedImages(), static_cast<std::int64_t>(paths.size()));
    EXPECT_EQ(store->searchPaths({{"红色"}}, 50), std::vector<std::string>{real});
    tagger.shutdown();
}

TEST(ImageTagger, ImagesRemovedOrAddedBeforeTheNextPageMakeThePassSkipNoOther)
{
    TaggerRig rig;
    FakePages pages(230);
    pages.afterFirstPage = [](std::vector<std::string>& paths) {
        paths.erase(paths.begin(), paths.begin() + 5);  // five images of the first page deleted
        paths.insert(paths.begin(), "/img/!new.png");    // one added before them
    };
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    // Every image of the first page, then every later one: none shifted onto a page already read.
    const std::vector<std::string> calls = rig.extractor->calls();
    ASSERT_EQ(calls.size(), 230u);
    EXPECT_EQ(calls.back(), "/img/229.png");
    EXPECT_EQ(std::set<std::string>(calls.begin(), calls.end()).size(), 230u);
}

TEST(ImageTagger, ReindexRuleDecidesWhatIsExtractedAndWritten)
{
    TaggerRig rig;
    FakePages pages(4);
    const auto& p = pages.paths();
    ASSERT_EQ(rig.store->upsert(p[0], {"cat", "猫", "ocr:sale"}, 1), std::nullopt);  // done: skipped
    ASSERT_EQ(rig.store->upsert(p[1], {"cat", "猫"}, 1), std::nullopt);               // no text: again
    rig.extractor->setTags(p[1], {"red", "cat"});
    rig.extractor->setTags(p[2], {"ocr:hello", "blue"});
    // p[3] yields nothing.
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    EXPECT_EQ(rig.extractor->calls(), (std::vector<std::string>{p[1], p[2], p[3]}));
    EXPECT_EQ(rig.store->storedTags(p[0]), "cat 猫 ocr:sale");
    EXPECT_EQ(rig.store->storedTags(p[1]), "cat 猫 red");
    EXPECT_EQ(rig.store->storedTags(p[2]), "ocr:hello blue");
    EXPECT_EQ(rig.store->storedTags(p[3]), "");

    // The next pass looks at the images without recognised text again.
    rig.clock->advance(12s);
    ASSERT_TRUE(rig.passesDone(2));
    EXPECT_EQ(rig.extractor->calls().size(), 5u);
    EXPECT_EQ(rig.store->storedTags(p[1]), "cat 猫 red");
    EXPECT_EQ(rig.store->storedTags(p[3]), "");
}

// Tags written while no detector could name objects are read again once
// one can, and only once; meanwhile they are not read again on every pass.
TEST(ImageTagger, ImagesTaggedWithoutObjectsAreReadAgainOnceADetectorCanNameThem)
{
    TaggerRig rig;
    FakePages pages(1);
    const std::string& photo = pages.paths()[0];
    rig.extractor->setTags(photo, {"ocr:menu", "red"});
    rig.extractor->setRecognisesObjects(false);
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    rig.clock->advance(12s);
    ASSERT_TRUE(rig.passesDone(2));
    EXPECT_EQ(rig.extractor->calls().size(), 1u);

    rig.extractor->setTags(photo, {"cat", "猫"});
    rig.extractor->setRecognisesObjects(true);
    rig.clock->advance(12s);
    ASSERT_TRUE(rig.passesDone(3));
    rig.clock->advance(12s);
    ASSERT_TRUE(rig.passesDone(4));
    EXPECT_EQ(rig.extractor->calls().size(), 2u);
    EXPECT_EQ(rig.store->storedTags(photo), "ocr:menu red cat 猫");
}

// Most photos hold no text: each is read once, and again only when its file
// changes (size or modification time) or the tagger learns more.
TEST(ImageTagger, APhotoWithoutTextIsReadAgainOnlyWhenItsFileChanges)
{
    TaggerRig rig;
    const std::string photo = (rig.dir.path() / "photo.png").string();
    const std::string blank = (rig.dir.path() / "blank.png").string();
    testing_support::writeFile(photo, "pixels");
    testing_support::writeFile(blank, "nothing to see");
    rig.extractor->setTags(photo, {"cat", "猫"});
    rig.extractor->setRecognisesObjects(false);  // rows in the format before objects
    FakePages pages({blank, photo});
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    EXPECT_EQ(rig.extractor->calls(), (std::vector<std::string>{blank, photo}));
    const auto readsAfterPass = [&](int pass) {
        rig.clock->advance(12s);
        EXPECT_TRUE(rig.passesDone(pass));
        return rig.extractor->calls().size();
    };
    EXPECT_EQ(readsAfterPass(2), 2u);
    EXPECT_EQ(readsAfterPass(3), 2u);

    testing_support::writeFile(photo, "more pixels");  // another size
    EXPECT_EQ(readsAfterPass(4), 3u);
    EXPECT_EQ(rig.extractor->calls().back(), photo);
    const auto earlier = std::filesystem::last_write_time(blank) - 1h;
    std::filesystem::last_write_time(blank, earlier);  // same size, another time
    EXPECT_EQ(readsAfterPass(5), 4u);
    EXPECT_EQ(rig.extractor->calls().back(), blank);
    EXPECT_EQ(readsAfterPass(6), 4u);

    rig.extractor->setTags(photo, {"red"});
    rig.extractor->setRecognisesObjects(true);  // a detector arrives: both read again, once
    EXPECT_EQ(readsAfterPass(7), 6u);
    EXPECT_EQ(readsAfterPass(8), 6u);
    EXPECT_EQ(rig.store->storedTags(photo), "cat 猫 red");
    EXPECT_EQ(rig.store->storedTags(blank), "");
}

// A disk that answers for every file but one, whose stat never returns
// until the test lets it.
class HungDisk {
public:
    explicit HungDisk(std::string hung) : m_hung(std::move(hung)) {}
    std::optional<ImageFileStamp> stamp(const std::string& path)
    {
        std::unique_lock lock(m_mutex);
        if (path == m_hung) {
            ++m_hungCalls;
            m_changed.wait(lock, [&] { return m_answering; });
        }
        return ImageFileStamp{100, 1'600'000'000.0};
    }
    int hungCalls() const
    {
        std::lock_guard lock(m_mutex);
        return m_hungCalls;
    }
    void answer()
    {
        std::lock_guard lock(m_mutex);
        m_answering = true;
        m_changed.notify_all();
    }

private:
    const std::string m_hung;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_hungCalls = 0;
    bool m_answering = false;
};

// A file whose disk hangs costs its own look, not the tagging of the others:
// it is given up for the pass, not asked again while that call hangs, and
// read once the disk answers.
TEST(ImageTagger, AFileWhoseDiskHangsIsGivenUpAndTheOthersAreTagged)
{
    TaggerRig rig;
    FakePages pages(4);
    const std::string& hung = pages.paths()[1];
    auto disk = std::make_shared<HungDisk>(hung);
    struct AnswerAtTheEnd {
        std::shared_ptr<HungDisk> disk;
        ~AnswerAtTheEnd() { disk->answer(); }  // before the rig: the tagger can end
    } answerAtTheEnd{disk};
    rig.tagger = std::make_unique<ImageTagger>(ImageTagger::Options{
        rig.extractor, rig.clock, false, [disk](const std::string& path) { return disk->stamp(path); }});
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");

    // The first image is read; the session then waits for the look at the second.
    ASSERT_TRUE(waitFor([&] {
        return rig.extractor->calls().size() == 1 && disk->hungCalls() == 1 && rig.clock->sleepers() == 1;
    }));
    rig.clock->advance(ImageTagger::kFileLookLimit);
    ASSERT_TRUE(rig.passesDone(1));
    const std::vector<std::string> others{pages.paths()[0], pages.paths()[2], pages.paths()[3]};
    EXPECT_EQ(rig.extractor->calls(), others);
    EXPECT_FALSE(rig.store->hasTags(hung));

    rig.clock->advance(12s);  // the call still hangs: not asked again; the others are done
    ASSERT_TRUE(rig.passesDone(2));
    EXPECT_EQ(disk->hungCalls(), 1);
    EXPECT_EQ(rig.extractor->calls(), others);

    disk->answer();  // the call comes back: a later pass reads the file
    ASSERT_TRUE(testing_support::pumpUntil(*rig.clock, [&] { return rig.store->hasTags(hung); }, 12s));
    EXPECT_EQ(rig.extractor->calls().back(), hung);
}

TEST(ImageTagger, ImagesTheSystemInstalledAreNeitherReadNorWritten)
{
    TaggerRig rig;
    FakePages pages({"/boot/grub/splash.png", "/home/u/.local/share/icons/hicolor/app.png", "/home/u/照片/猫.jpg",
                     "/opt/app/logo.png", "/usr/share/icons/Adwaita/red.png", "/usr2/photo.png",
                     "/var/lib/shot.png"});
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    EXPECT_EQ(rig.extractor->calls(), (std::vector<std::string>{"/home/u/照片/猫.jpg", "/usr2/photo.png"}));
    EXPECT_FALSE(rig.store->hasTags("/usr/share/icons/Adwaita/red.png"));
    EXPECT_TRUE(rig.store->hasTags("/usr2/photo.png"));
}

TEST(ImageTagger, StoppingEndsASleepingSessionAndAStartedKeyNeverRunsAgain)
{
    TaggerRig rig;
    FakePages pages(3);
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    ASSERT_TRUE(rig.passesDone(1));
    rig.tagger->stopAll();  // returns: the pause ends on the cancel, not on the clock
    EXPECT_EQ(rig.clock->sleepers(), 0);
    const std::size_t requests = pages.requests().size();
    rig.tagger->startIfNeeded(pages.source(), rig.store, "local");
    EXPECT_EQ(pages.requests().size(), requests);
    EXPECT_TRUE(rig.tagger->hasSession("local"));
}

} // namespace
} // namespace pallix
