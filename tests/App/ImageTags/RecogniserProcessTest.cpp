// The tagger's recognisers in their helper process: the same tags as in this
// process, a helper that hangs, dies or talks nonsense costs one request, and
// ending it gives its process back.

#include "App/ImageTags/RecogniserProcess.h"

#include <cerrno>
#include <csignal>
#include <thread>

#include <sched.h>

#include <gtest/gtest.h>


#include "App/ImageTags/CenterNetClassifier.h"
#include "App/ImageTags/TesseractRecognizer.h"
#include "App/ImageTags/TagTestPictures.h"
#include "App/ModelTestSupport.h"
#include "Platform/SpecialFiles.h"
#include "Platform/ThreadPriority.h"

namespace pallix {
namespace {

using testing_support::TempDir;
using Tags = std::vector<std::string>;
using test::holds;
using test::poster;

std::string savedPoster(const TempDir& dir)
{
    const std::string path = (dir.path() / "poster.png").string();
    EXPECT_TRUE(poster(QStringLiteral("红色促销 SALE")).save(QString::fromStdString(path)));
    return path;
}

// Points the helper's override at `program` for the scope; the earlier value comes back after.
class HelperOverride {
public:
    HelperOverride() : m_earlier(qgetenv("PALLIX_RECOGNISER")) {}
    ~HelperOverride() { useReal(); }
    void use(const std::filesystem::path& program) { qputenv("PALLIX_RECOGNISER", QByteArray::fromStdString(program.string())); }
    void useReal() { m_earlier.isNull() ? qunsetenv("PALLIX_RECOGNISER") : qputenv("PALLIX_RECOGNISER", m_earlier); }

private:
    QByteArray m_earlier;
};

std::filesystem::path script(const TempDir& dir, const std::string& name, const std::string& body)
{
    const std::filesystem::path path = dir.path() / name;
    testing_support::writeFile(path, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

// Lines recognised through `text`, on a thread of its own: a request that
// never returned would fail here rather than hang the test.
std::vector<RecognisedLine> recognisedWithin(const std::shared_ptr<TextRecognizer>& text, const QImage& image)
{
    auto lines = std::make_shared<std::vector<RecognisedLine>>(std::vector<RecognisedLine>{{"unset", 1}});
    EXPECT_TRUE(test::returnsWithin([text, image, lines] { *lines = text->recognise(image); }, std::chrono::seconds(120)));
    return *lines;
}

TEST(RecogniserProcess, TheHelperTagsAsTheRecognisersInThisProcessDo)
{
    TempDir dir;
    std::vector<std::string> pictures = {savedPoster(dir)};
    const auto model = CenterNetDetector::findModelFolder({});
    if (model && std::filesystem::exists("/usr/share/darknet/data/dog.jpg"))
        pictures.push_back("/usr/share/darknet/data/dog.jpg");
    const std::shared_ptr<ImageTagExtraction> helper = ImageTagExtraction::system();
    EXPECT_EQ(helper->recognisesObjects(), model.has_value());
    ImageTagExtraction here(std::make_shared<TesseractRecognizer>(), CenterNetClassifier::system());
    for (const std::string& picture : pictures) {
        SCOPED_TRACE(picture);
        const Tags tags = helper->extractImageTags(picture);
        EXPECT_EQ(tags, here.extractImageTags(picture));
        if (picture == pictures.front()) {
            EXPECT_TRUE(holds(tags, "ocr:红色促销 sale")) << ::testing::PrintToString(tags);
            EXPECT_TRUE(holds(tags, "白色")) << ::testing::PrintToString(tags);
        } else {
            EXPECT_TRUE(holds(tags, "狗")) << ::testing::PrintToString(tags);
        }
    }
}

TEST(RecogniserProcess, AHelperThatHangsDiesOrTalksNonsenseCostsOneRequest)
{
    TempDir dir;
    HelperOverride helper;
    // As the tagger sends it: at most 512 pixels a side.
    const QImage image = poster(QStringLiteral("SALE")).scaledToWidth(512, Qt::SmoothTransformation);
    const std::string request = *recogniser::encodeRequest(recogniser::Kind::TextLines, image);
    ASSERT_GT(request.size(), 100u);
    const std::string readRequest = "head -c " + std::to_string(request.size()) + " >/dev/null\n";
    testing_support::writeFile(dir.path() / "nonsense.bin", std::string(8, '\xff'));  // a length past the cap
    testing_support::writeFile(dir.path() / "answer.bin", recogniser::encodeAnswer({true, {{"SALE", 0.9f}}}));
    const std::filesystem::path fakes[] = {
        script(dir, "hangs", "exec sleep 600"),
        script(dir, "dies", "head -c 100 >/dev/null; exit 1"),
        script(dir, "nonsense", readRequest + "exec cat '" + (dir.path() / "nonsense.bin").string() + "'"),
    };
    const std::filesystem::path answers = script(dir, "answers", readRequest + "exec cat '" + (dir.path() / "answer.bin").string() + "'");

    // Short enough for the hung helper, long enough for the one that answers at once.
    auto impatient = std::make_shared<RecogniserProcess>(std::chrono::milliseconds(3000));
    const auto text = RecogniserProcess::textRecognizer(impatient);
    for (const std::filesystem::path& fake : fakes) {
        SCOPED_TRACE(fake.filename().string());
        helper.use(fake);
        EXPECT_TRUE(recognisedWithin(text, image).empty());
        EXPECT_EQ(impatient->processId(), 0);  // killed and reaped
    }
    helper.use(answers);
    const std::vector<RecognisedLine> lines = recognisedWithin(text, image);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "SALE");
    EXPECT_FLOAT_EQ(lines[0].confidence, 0.9f);

    // The real helper after one that died, at the time limit of the application.
    auto patient = std::make_shared<RecogniserProcess>();
    const auto real = RecogniserProcess::textRecognizer(patient);
    helper.use(fakes[1]);
    EXPECT_TRUE(recognisedWithin(real, image).empty());
    helper.useReal();
    const std::vector<RecognisedLine> read = recognisedWithin(real, image);
    const std::vector<RecognisedLine> here = TesseractRecognizer().recognise(image);
    ASSERT_EQ(read.size(), 1u);
    ASSERT_EQ(here.size(), 1u);
    EXPECT_EQ(read[0].text, here[0].text);
    EXPECT_EQ(read[0].text.rfind("SALE", 0), 0u) << read[0].text;
    EXPECT_EQ(read[0].confidence, here[0].confidence);
}

TEST(RecogniserProcess, StartsWithTheFirstImageAndEndingItGivesTheProcessBack)
{
    TempDir dir;
    const std::string path = savedPoster(dir);
    auto process = std::make_shared<RecogniserProcess>();
    ImageTagExtraction extraction(RecogniserProcess::textRecognizer(process), RecogniserProcess::classifier(process));
    EXPECT_EQ(process->processId(), 0);

    const Tags tags = extraction.extractImageTags(path);
    EXPECT_TRUE(holds(tags, "ocr:红色促销 sale")) << ::testing::PrintToString(tags);
    const pid_t first = process->processId();
    ASSERT_GT(first, 0);
    EXPECT_EQ(::kill(first, 0), 0);

    extraction.releaseWorkingMemory();
    EXPECT_EQ(process->processId(), 0);
    EXPECT_EQ(::kill(first, 0), -1);
    EXPECT_EQ(errno, ESRCH);

    EXPECT_EQ(extraction.extractImageTags(path), tags);
    EXPECT_GT(process->processId(), 0);
    EXPECT_NE(process->processId(), first);
}

TEST(RecogniserProcess, TheHelperWorksAtThePriorityOfTheThreadThatAsks)
{
    const QImage blank(64, 64, QImage::Format_RGB32);
    RecogniserProcess process;
    ASSERT_TRUE(process.recognise(recogniser::Kind::TextLines, blank).has_value());
    const pid_t normal = process.processId();
    ASSERT_GT(normal, 0);
    EXPECT_EQ(::sched_getscheduler(normal), ::sched_getscheduler(0));

    // The tagger's worker, lowered to idle: its requests must not run at the
    // priority of whoever asked first.
    bool lowered = false;
    bool answered = false;
    std::thread([&] {
        lowered = lowerCurrentThreadToBackground() && ::sched_getscheduler(0) == SCHED_IDLE;
        answered = process.recognise(recogniser::Kind::TextLines, blank).has_value();
    }).join();
    if (!lowered)
        GTEST_SKIP() << "this kernel refuses the idle scheduling class";
    EXPECT_TRUE(answered);
    const pid_t idle = process.processId();
    ASSERT_GT(idle, 0);
    EXPECT_NE(idle, normal);
    EXPECT_EQ(::sched_getscheduler(idle), SCHED_IDLE);
    EXPECT_EQ(::kill(normal, 0), -1);
}

TEST(RecogniserProtocol, SizesOutOfBoundsAreRefusedAndAnswersComeBackWhole)
{
    using namespace recogniser;
    const auto header = [](std::uint8_t kind, std::uint32_t width, std::uint32_t height) {
        std::string bytes(1, char(kind));
        bytes.append(reinterpret_cast<const char*>(&width), 4).append(reinterpret_cast<const char*>(&height), 4);
        return parseRequestHeader(bytes);
    };
    ASSERT_TRUE(header(2, 512, 512).has_value());
    EXPECT_EQ(header(2, 512, 512)->pixelBytes(), 512u * 512u * 3u);
    EXPECT_FALSE(header(1, 513, 10).has_value());
    EXPECT_FALSE(header(1, 10, 0xffffffff).has_value());
    EXPECT_FALSE(header(1, 0, 10).has_value());
    EXPECT_FALSE(header(3, 10, 10).has_value());
    EXPECT_FALSE(encodeRequest(Kind::Objects, QImage(513, 4, QImage::Format_RGB32)).has_value());

    const Answer answer{false, {{"animal/dog", 0.75f}, {"红色促销", 0.5f}}};
    const std::string bytes = encodeAnswer(answer);
    ASSERT_EQ(parseAnswerLength(bytes), bytes.size() - kAnswerHeaderSize);
    const std::optional<Answer> back = parseAnswerBody(std::string_view(bytes).substr(kAnswerHeaderSize));
    ASSERT_TRUE(back.has_value());
    EXPECT_FALSE(back->recognisable);
    ASSERT_EQ(back->entries.size(), 2u);
    EXPECT_EQ(back->entries[1].text, "红色促销");
    EXPECT_EQ(back->entries[0].confidence, 0.75f);
    EXPECT_FALSE(parseAnswerBody(std::string_view(bytes).substr(kAnswerHeaderSize, bytes.size() - kAnswerHeaderSize - 1)));
    const std::uint32_t tooLong = kMaxAnswerBytes + 1;
    EXPECT_FALSE(parseAnswerLength(std::string_view(reinterpret_cast<const char*>(&tooLong), 4)).has_value());
}

} // namespace
} // namespace pallix
