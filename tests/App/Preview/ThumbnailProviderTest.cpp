#include "App/Preview/ThumbnailProvider.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <condition_variable>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QtPrinters.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTest>

#include "Platform/SpecialFiles.h"
#include "Platform/TempTree.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

struct Counts {
    int sessions = 0;
    int forgets = 0;
};

// Renders whose answers the test releases, one by one.
class HeldRenderer final : public PreviewRenderer {
public:
    struct Held {
        PreviewRequest request;
        Done done;
    };
    void start(const PreviewRequest& request, Done done) override { held.push_back({request, std::move(done)}); }
    // Answers the oldest running render; returns its path.
    QString finishOldest(std::optional<QImage> picture = QImage(8, 8, QImage::Format_RGB32))
    {
        Held h = std::move(held.front());
        held.pop_front();
        h.done(std::move(picture));
        return h.request.itemPath;
    }
    std::deque<Held> held;
};

IndexedItem item(const std::string& path, double modifiedAt = 1'700'000'000.0, bool folder = false)
{
    const std::string name(paths::lastComponent(path));
    const QString extension = QString::fromStdString(std::string(paths::extension(name))).toLower();
    return IndexedItem(path, name, std::string(paths::deletingLastComponent(path)),
                       folder ? std::string() : extension.toStdString(), 1, modifiedAt,
                       folder ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File);
}

struct ProviderFixture : testing::Test {
    test::TempTree cache;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<HeldRenderer> renderer = std::make_shared<HeldRenderer>();
    ThumbnailProvider provider{clock, {cache.root(), renderer}};

    QPixmap ask(const IndexedItem& i, double size = 118, ThumbnailProvider::PreviewPriority priority =
                                                             ThumbnailProvider::PreviewPriority::Normal)
    {
        return provider.image(i, size, true, false, priority);
    }
};

struct ThrottleFixture : ProviderFixture {
    Counts counts;

    void SetUp() override
    {
        QObject::connect(&provider, &ThumbnailProvider::previewSessionBegan, &provider,
                         [this] { ++counts.sessions; });
        QObject::connect(&provider, &ThumbnailProvider::pendingKeysForgotten, &provider,
                         [this] { ++counts.forgets; });
    }
};

TEST_F(ThrottleFixture, FirstKeyAlwaysBeginsASession)
{
    provider.beginNewPreviewSessionThrottled("3|a", 420);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(provider.lastSessionKey(), "3|a");
}

TEST_F(ThrottleFixture, SameKeyTwiceDoesNothingTheSecondTime)
{
    provider.beginNewPreviewSessionThrottled("k", 420);
    clock->advance(5s);
    provider.beginNewPreviewSessionThrottled("k", 420);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(counts.forgets, 0);
}

TEST_F(ThrottleFixture, NewKeyInsideTheIntervalOnlyForgetsPendingKeys)
{
    provider.beginNewPreviewSessionThrottled("a", 420);
    clock->advance(100ms);
    provider.beginNewPreviewSessionThrottled("b", 420);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(counts.forgets, 1);
    EXPECT_EQ(provider.lastSessionKey(), "b");  // remembered even without a reset
}

TEST_F(ThrottleFixture, IntervalIsMeasuredFromTheLastFullReset)
{
    provider.beginNewPreviewSessionThrottled("a", 420);
    clock->advance(300ms);
    provider.beginNewPreviewSessionThrottled("b", 420);  // forget only: no reset
    clock->advance(119ms);
    provider.beginNewPreviewSessionThrottled("c", 420);  // 419 ms since the reset
    EXPECT_EQ(counts.sessions, 1);
    clock->advance(1ms);
    provider.beginNewPreviewSessionThrottled("d", 420);  // exactly 420 ms
    EXPECT_EQ(counts.sessions, 2);
}

TEST(ThumbnailKeys, KeysAndFileNamesFollowTheirFormats)
{
    EXPECT_EQ(ThumbnailProvider::memoryKey(item("/Users/a/Pics", 1e9, true), 134.5, true, false),
              "/Users/a/Pics#134#1#0#folder-outline-fan-v13");
    EXPECT_EQ(ThumbnailProvider::memoryKey(item("/Users/a/x.jpg"), 118, true, false), "/Users/a/x.jpg#118#1#0#img");
    EXPECT_EQ(ThumbnailProvider::fallbackKey("/a/b.txt", 31.9, false), "/a/b.txt#31#0");

    const QString imageKey = ThumbnailProvider::diskKey(item("/Users/a/x.jpg"), 118, true);
    EXPECT_EQ(imageKey, "img#/Users/a/x.jpg#118#1700000000.0");  // the nesting flag is not part of it
    EXPECT_EQ(ThumbnailProvider::diskFileName(imageKey),
              "346dd78bc780d7873aecd367d6e9de815b0c20cedb4414931d36bdad693fb523.png");
    const QString folderKey = ThumbnailProvider::diskKey(item("/Users/a/Pics", 1'700'000'000.5, true), 134.5, false);
    EXPECT_EQ(folderKey, "/Users/a/Pics#134#0#1700000000.5#folder-outline-fan-v13");
    EXPECT_EQ(ThumbnailProvider::diskFileName(folderKey),
              "466516ad32c28ff2d481e0472074f51d3dc421e2d2b12478a6163e6f5351cfcc.png");
    EXPECT_NE(folderKey, ThumbnailProvider::diskKey(item("/Users/a/Pics", 1'700'000'000.5, true), 134.5, true));
    EXPECT_TRUE(ThumbnailProvider::diskKey(item("/v/m.MP4"), 64, false).startsWith("vid#/v/m.MP4#64#"));
    EXPECT_TRUE(ThumbnailProvider::diskKey(item("/d/p.pdf"), 64, false).startsWith("pdf#"));
    // Formats older versions failed on: a failure they cached is not taken for an answer.
    EXPECT_EQ(ThumbnailProvider::diskKey(item("/p/IMG_1.HEIC"), 64, false), "img#/p/IMG_1.HEIC#64#1700000000.0#2");
    EXPECT_TRUE(ThumbnailProvider::diskKey(item("/d/notes.txt"), 64, false).isEmpty());
    EXPECT_NE(ThumbnailProvider::diskKey(item("/a/x.jpg"), 118, false),
              ThumbnailProvider::diskKey(item("/a/x.jpg"), 134, false));
}

TEST_F(ProviderFixture, DetailIsWantedFrom32PointsForRasterFilesAnd48ForFolders)
{
    const struct {
        IndexedItem it;
        double size;
        bool starts;
    } cases[] = {{item("/a/x.jpg"), 31.9, false}, {item("/a/y.png"), 32, true},   {item("/a/v.mov"), 32, true},
                 {item("/a/p.pdf"), 32, true},    {item("/a/f", 1, true), 47, false}, {item("/a/g", 1, true), 48, true},
                 {item("/a/notes.txt"), 400, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.it.path());
        const std::size_t before = renderer->held.size();
        ask(c.it, c.size);
        EXPECT_EQ(renderer->held.size() - before, c.starts ? 1u : 0u);
    }
    provider.image(item("/a/z.jpg"), 200, false, false, ThumbnailProvider::PreviewPriority::Urgent);
    EXPECT_EQ(renderer->held.size(), 4u);  // not detailed: nothing
    ask(item("/a/y.png"), 32);
    EXPECT_EQ(renderer->held.size(), 4u);  // already pending
}

TEST_F(ProviderFixture, AtMostSixRenderAndUrgentRequestsGoFirst)
{
    for (int i = 0; i < 6; ++i)
        ask(item("/busy/" + std::to_string(i) + ".jpg"));
    ask(item("/q/A.jpg"));
    ask(item("/q/B.jpg"));
    ask(item("/q/C.jpg"), 118, ThumbnailProvider::PreviewPriority::Urgent);
    EXPECT_EQ(renderer->held.size(), 6u);
    EXPECT_EQ(provider.queuedRenders(), 3);
    QStringList started;
    for (int i = 0; i < 3; ++i) {
        renderer->finishOldest();
        EXPECT_EQ(renderer->held.size(), 6u);
        started.append(renderer->held.back().request.itemPath);
    }
    EXPECT_EQ(started, (QStringList{"/q/C.jpg", "/q/A.jpg", "/q/B.jpg"}));
    while (!renderer->held.empty())
        renderer->finishOldest();
    EXPECT_EQ(provider.activeRenders(), 0);
    ask(item("/q/D.jpg"));  // fewer than six run: it starts at once
    EXPECT_EQ(renderer->held.size(), 1u);
}

TEST_F(ProviderFixture, ARenderIsCachedAnnouncedOnceAndWrittenToDisk)
{
    const mode_t savedMask = ::umask(022);
    QSignalSpy changed(&provider, &ThumbnailProvider::previewsChanged);
    const IndexedItem a = item("/p/a.jpg"), b = item("/p/b.jpg");
    ask(a);
    ask(b);
    QImage red(118, 118, QImage::Format_RGB32);
    red.fill(Qt::red);
    renderer->finishOldest(red);
    renderer->finishOldest(red);
    EXPECT_EQ(ask(a).toImage().pixelColor(5, 5), QColor(Qt::red));
    ASSERT_TRUE(changed.wait(2000));
    EXPECT_EQ(changed.count(), 1);  // both arrivals, one notice

    const QString file = provider.diskCacheFile(a, 118, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(file); }));
    // The pictures show what the user's files hold: theirs alone.
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(file.toStdString()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    {
        const fs::path freshRoot = fs::path(cache.root()) / "fresh";
        ThumbnailProvider fresh{clock, {freshRoot, std::make_shared<HeldRenderer>()}};
        EXPECT_EQ(fs::status(freshRoot / "ImagePreviewCache").permissions(), fs::perms::owner_all);
    }
    ::umask(savedMask);
    // A new provider (a restart) finds it on disk instead of rendering.
    auto renderer2 = std::make_shared<HeldRenderer>();
    ThumbnailProvider restarted{clock, {cache.root(), renderer2}};
    QSignalSpy loaded(&restarted, &ThumbnailProvider::previewsChanged);
    restarted.image(a, 118, true, false, ThumbnailProvider::PreviewPriority::Normal);
    ASSERT_TRUE(loaded.wait(2000));
    EXPECT_TRUE(renderer2->held.empty());
    EXPECT_EQ(restarted.image(a, 118, true, false, ThumbnailProvider::PreviewPriority::Normal).toImage().pixelColor(5, 5),
              QColor(Qt::red));

    // Read back, a picture with see-through parts keeps them; an opaque one
    // stored with an alpha channel is drawn without one.
    const IndexedItem glass = item("/p/glass.png"), solid = item("/p/solid.png");
    ask(glass);
    ask(solid);
    QImage clear(118, 118, QImage::Format_ARGB32), green(118, 118, QImage::Format_ARGB32);
    clear.fill(QColor(0, 0, 255, 128));
    green.fill(QColor(0, 255, 0));
    renderer->finishOldest(clear);
    renderer->finishOldest(green);
    for (const IndexedItem& written : {glass, solid}) {
        const QString file = provider.diskCacheFile(written, 118, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(file); }));
    }
    ThumbnailProvider again{clock, {cache.root(), std::make_shared<HeldRenderer>()}};
    const auto read = [&](const IndexedItem& i) {
        return again.image(i, 118, true, false, ThumbnailProvider::PreviewPriority::Normal);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const QColor glassPixel = read(glass).toImage().pixelColor(5, 5);
        return glassPixel.blue() >= 250 && std::abs(glassPixel.alpha() - 128) <= 2
               && read(solid).toImage().pixelColor(5, 5) == QColor(0, 255, 0);
    }));
    EXPECT_TRUE(read(glass).hasAlphaChannel());
    EXPECT_FALSE(read(solid).hasAlphaChannel());
}

TEST_F(ProviderFixture, ACorruptCacheFileIsDeletedAndRenderedAgain)
{
    const IndexedItem a = item("/p/a.png");
    const QString file = provider.diskCacheFile(a, 118, false);
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("not a png at all");
    }
    QSignalSpy changed(&provider, &ThumbnailProvider::previewsChanged);
    ask(a);
    EXPECT_TRUE(renderer->held.empty());  // a disk load, not a render
    ASSERT_TRUE(changed.wait(2000));
    EXPECT_FALSE(QFile::exists(file));
    ask(a);
    ASSERT_EQ(renderer->held.size(), 1u);
}

// A pipe in a cache file's place (another program's doing) is not opened: a
// reader of it would wait for a writer for ever, and the loads batched with it
// with it. It goes like a damaged file, and the picture beside it arrives.
TEST_F(ProviderFixture, APipeInTheCacheIsRemovedWithoutWaitingAndItsBatchArrives)
{
    const IndexedItem piped = item("/p/piped.png");
    const IndexedItem saved = item("/p/saved.png");
    const QString pipe = provider.diskCacheFile(piped, 118, false);
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(provider.diskCacheFile(saved, 118, false), "PNG"));
    // Before anything returns, a reader stuck on the pipe is let go (a writer
    // that opens and closes gives it the end of the file), or the pool never ends.
    const auto releaseStuckReader = qScopeGuard([&] {
        if (const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
            ::close(fd);
    });

    ask(piped);
    ask(saved);
    EXPECT_TRUE(renderer->held.empty());  // both from the disk
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask(saved).toImage().pixelColor(0, 0) == QColor(Qt::red); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(pipe); }, 5000));
    ask(piped);
    ASSERT_EQ(renderer->held.size(), 1u);
    EXPECT_EQ(renderer->held.front().request.itemPath, QStringLiteral("/p/piped.png"));
}

// Pictures are kept by their bytes, not their count: thirty 1024-pixel
// pictures (120 MiB) outgrow the budget, and the least recently asked for go.
TEST_F(ProviderFixture, TheMemoryCacheKeepsPicturesWithinItsByteBudget)
{
    constexpr int kSide = 1024;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 30; ++i) {
        items.push_back(item("/big/" + std::to_string(i) + ".png"));
        ask(items.back());
        QImage picture(kSide, kSide, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        renderer->finishOldest(picture);
        ASSERT_EQ(ask(items.back()).width(), kSide);
    }
    EXPECT_LE(provider.memoryCacheBytes(), ThumbnailProvider::kMemoryCacheBudgetBytes);
    EXPECT_GE(provider.memoryCacheBytes(), ThumbnailProvider::kMemoryCacheBudgetBytes - 2 * kSide * kSide * 4);
    EXPECT_NE(ask(items.front()).width(), kSide) << "the first asked for went";
    EXPECT_EQ(ask(items.back()).width(), kSide);
}

// A provider left alone lets its pictures go (the disk keeps them).
TEST(ThumbnailProviderMemory, PicturesGoOnceNoneWasAskedForAWhile)
{
    test::TempTree cache;
    auto clock = std::make_shared<FakeClock>();
    auto renderer = std::make_shared<HeldRenderer>();
    ThumbnailProvider provider(clock, {cache.root(), renderer, std::chrono::milliseconds(5)});
    const IndexedItem a = item("/p/a.png");
    const auto ask = [&] { return provider.image(a, 118, true, false, ThumbnailProvider::PreviewPriority::Normal); };
    ask();
    renderer->finishOldest(QImage(64, 64, QImage::Format_RGB32));
    ASSERT_EQ(ask().width(), 64);
    ASSERT_GT(provider.memoryCacheBytes(), 0);
    clock->advance(std::chrono::milliseconds(5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return provider.memoryCacheBytes() == 0; }, 5000));
    EXPECT_NE(ask().width(), 64);
}

// A zoom step asks for a new size: until it is made the picture of the last
// size stands in (the view scales it), not the generic icon; a changed file's
// old picture never does.
TEST_F(ProviderFixture, AnotherSizeShowsThePictureOfTheLastSizeUntilItsOwnArrives)
{
    const IndexedItem a = item("/p/#1/a.jpg");
    const QPixmap icon = ask(a, 118);
    QImage red(118, 118, QImage::Format_RGB32);
    red.fill(Qt::red);
    renderer->finishOldest(red);
    const QPixmap made = ask(a, 118);
    ASSERT_NE(made.cacheKey(), icon.cacheKey());

    EXPECT_EQ(ask(a, 131).cacheKey(), made.cacheKey());
    ASSERT_EQ(renderer->held.size(), 1u);  // while its own size is rendered
    EXPECT_EQ(renderer->held.front().request.iconSize, 131);
    QImage blue(131, 131, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    renderer->finishOldest(blue);
    EXPECT_EQ(ask(a, 131).toImage().pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_EQ(ask(a, 145).toImage().pixelColor(5, 5), QColor(Qt::blue));  // the size made last

    EXPECT_EQ(ask(item("/p/#1/a.jpg", 1'800'000'000.0), 160).cacheKey(),
              provider.fallbackImage("/p/#1/a.jpg", false, 160).cacheKey());
    EXPECT_EQ(ask(item("/p/#1/b.jpg"), 160).cacheKey(), provider.fallbackImage("/p/#1/b.jpg", false, 160).cacheKey());
}

TEST_F(ProviderFixture, AChangedFileNeverKeepsItsOldPicture)
{
    const IndexedItem before = item("/p/a.jpg", 100.0), after = item("/p/a.jpg", 200.0);
    ask(before);
    renderer->finishOldest(std::nullopt);  // the decoding failed: the fallback is kept
    ask(before);
    EXPECT_TRUE(renderer->held.empty());  // not retried for the same version
    ask(after);
    ASSERT_EQ(renderer->held.size(), 1u);  // the changed file is rendered again
    EXPECT_EQ(renderer->held.front().request.modifiedAt, 200.0);
    EXPECT_NE(provider.diskCacheFile(before, 118, false), provider.diskCacheFile(after, 118, false));
}

TEST_F(ProviderFixture, ANewSessionDropsQueuedWorkButNotRunningRenders)
{
    for (int i = 0; i < 8; ++i)
        ask(item("/s/" + std::to_string(i) + ".jpg"));
    EXPECT_EQ(provider.queuedRenders(), 2);
    provider.beginNewPreviewSessionThrottled("next", 420);
    EXPECT_EQ(provider.queuedRenders(), 0);
    renderer->finishOldest();
    EXPECT_TRUE(provider.image(item("/s/0.jpg"), 118, true, false, ThumbnailProvider::PreviewPriority::Normal)
                    .toImage()
                    .size()
                == QSize(8, 8));  // the running render still stored its result
}

TEST_F(ProviderFixture, InsideTheThrottleAQueuedKeyIsQueuedTwice)
{
    for (int i = 0; i < 7; ++i)
        ask(item("/t/" + std::to_string(i) + ".jpg"));
    provider.beginNewPreviewSessionThrottled("a", 420);
    ask(item("/t/6.jpg"));
    clock->advance(100ms);
    ask(item("/t/7.jpg"));
    provider.beginNewPreviewSessionThrottled("b", 420);  // forget only
    ask(item("/t/7.jpg"));
    EXPECT_EQ(provider.queuedRenders(), 3);  // 6, and 7 twice
}

TEST(ThumbnailProviderFiles, GeneratedFilesAndFoldersGetRealThumbnails)
{
    test::TempTree tree;
    QImage photo(640, 480, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    tree.dir("album");
    ASSERT_TRUE(photo.save(QString::fromStdString(tree.path("album/b.jpg")), "JPEG"));
    ASSERT_TRUE(photo.save(QString::fromStdString(tree.path("album/a.png"))));
    {
        QPdfWriter pdf(QString::fromStdString(tree.path("doc.pdf")));
        QPainter(&pdf).fillRect(QRect(0, 0, pdf.width(), pdf.height()), Qt::red);
    }
    std::vector<IndexedItem> items{item(tree.path("album/b.jpg")), item(tree.path("album/a.png")),
                                   item(tree.path("doc.pdf")), item(tree.path("album"), 5, true)};
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (!ffmpeg.isEmpty()) {
        QProcess make;
        make.start(ffmpeg, {"-v", "error", "-f", "lavfi", "-i", "color=c=blue:s=160x90:d=1", "-pix_fmt", "yuv420p",
                            QString::fromStdString(tree.path("clip.mp4"))});
        ASSERT_TRUE(make.waitForFinished(60000));
        items.push_back(item(tree.path("clip.mp4")));
    }
    test::TempTree cache;
    ThumbnailProvider provider(std::make_shared<FakeClock>(), {cache.root(), nullptr});
    auto real = [&](const IndexedItem& i) {
        const QPixmap fallback = provider.fallbackImage(QString::fromUtf8(i.path()), i.isDirectory(), 80);
        return provider.image(i, 80, true, false, ThumbnailProvider::PreviewPriority::Urgent).cacheKey()
               != fallback.cacheKey();
    };
    for (const IndexedItem& i : items)
        real(i);
    for (const IndexedItem& i : items) {
        SCOPED_TRACE(i.path());
        EXPECT_TRUE(QTest::qWaitFor([&] { return real(i); }, 20000));
    }
    const QImage folder = provider.image(items[3], 80, true, false, ThumbnailProvider::PreviewPriority::Urgent).toImage();
    EXPECT_EQ(folder.size(), QSize(160, 160));  // the drawn pocket, not an 80-point icon
    const QImage pdf = provider.image(items[2], 80, true, false, ThumbnailProvider::PreviewPriority::Urgent).toImage();
    EXPECT_GT(pdf.pixelColor(40, 40).red(), 200);
}

TEST(ThumbnailProviderFiles, SpecialFilesGetTheirTypeIconAndARealImageAfterTwentyStillRenders)
{
    test::TempTree tree;
    const test::SpecialFiles special = test::makeSpecialFiles(tree);
    std::vector<std::string> specialPaths = special.all();
    for (int i = 0; specialPaths.size() < 20; ++i) {
        specialPaths.push_back(tree.path("p" + std::to_string(i) + (i % 2 ? ".png" : ".pdf")));
        ASSERT_EQ(::mkfifo(specialPaths.back().c_str(), 0644), 0);
    }
    QImage photo(64, 48, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    const std::string real = tree.path("real.jpg");
    ASSERT_TRUE(photo.save(QString::fromStdString(real), "JPEG"));

    test::TempTree cache;
    ThumbnailProvider provider(std::make_shared<FakeClock>(), {cache.root(), nullptr});
    for (const std::string& path : specialPaths)
        provider.image(item(path), 80, true, false, ThumbnailProvider::PreviewPriority::Normal);
    const IndexedItem photoItem = item(real);
    const qint64 fallback = provider.fallbackImage(QString::fromStdString(real), false, 80).cacheKey();
    auto photoShows = [&] {
        return provider.image(photoItem, 80, true, false, ThumbnailProvider::PreviewPriority::Normal).cacheKey()
               != fallback;
    };
    ASSERT_TRUE(QTest::qWaitFor(photoShows, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return provider.activeRenders() == 0; }));

    // Names of a picture kind were rendered: each answers its type's icon,
    // kept in memory only (the name says nothing of the file's next life).
    for (const std::string& path : specialPaths) {
        const IndexedItem i = item(path);
        if (!ThumbnailProvider::needsDetailedPreview(i, 80))
            continue;
        SCOPED_TRACE(path);
        const RegularFile::Type type = RegularFile::typeOf(path);
        EXPECT_EQ(provider.image(i, 80, true, false, ThumbnailProvider::PreviewPriority::Normal).cacheKey(),
                  provider.typeImage(type, 80).cacheKey());
        EXPECT_FALSE(QFile::exists(provider.diskCacheFile(i, 80, false)));
    }
}

// A render that never ends (a decoder stuck on a hung disk) gives up its
// place after the budget, so the renders behind it still run.
TEST(PooledPreviewRenderer, AnOverdueRenderFreesItsPlaceAndEndsLater)
{
    test::TempTree tree;
    QImage photo(64, 48, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    const std::string real = tree.path("real.png");
    ASSERT_TRUE(photo.save(QString::fromStdString(real)));

    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    auto render = [&](const PreviewRequest& request) {
        if (!request.itemPath.contains(u"stuck"))
            return PreviewRendering::render(request);
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return RenderOutcome();
    };
    auto clock = std::make_shared<FakeClock>();
    auto renderer = std::make_shared<PooledPreviewRenderer>(6, clock, 10s, render);
    test::TempTree cache;
    std::optional<ThumbnailProvider> owner(std::in_place, clock, ThumbnailProvider::Options{cache.root(), renderer});
    ThumbnailProvider& provider = *owner;
    for (int i = 0; i < 20; ++i)
        provider.image(item("/nowhere/stuck" + std::to_string(i) + ".jpg"), 80, true, false,
                       ThumbnailProvider::PreviewPriority::Normal);
    const IndexedItem photoItem = item(real);
    const qint64 fallback = provider.fallbackImage(QString::fromStdString(real), false, 80).cacheKey();
    provider.image(photoItem, 80, true, false, ThumbnailProvider::PreviewPriority::Normal);

    // Six stuck renders at a time; each round of the budget lets six more in.
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return clock->sleepers() == 6; }));
        EXPECT_EQ(provider.activeRenders(), 6);
        clock->advance(10s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return renderer->overdueRenders() == 6 * round; }));
    }
    // The last two stuck ones and the photo run now; the photo finishes.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return provider.image(photoItem, 80, true, false, ThumbnailProvider::PreviewPriority::Normal).cacheKey()
               != fallback;
    }));
    EXPECT_EQ(provider.activeRenders(), 2);

    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    ASSERT_TRUE(QTest::qWaitFor([&] { return renderer->overdueRenders() == 0 && provider.activeRenders() == 0; }));
    const QString photoFile = provider.diskCacheFile(photoItem, 80, false);
    const QString stuckFile = provider.diskCacheFile(item("/nowhere/stuck0.jpg"), 80, false);
    owner.reset();  // its disk writes are done
    EXPECT_TRUE(QFile::exists(photoFile));
    EXPECT_FALSE(QFile::exists(stuckFile));  // given up on: not remembered as undecodable
}

} // namespace
} // namespace pallix
