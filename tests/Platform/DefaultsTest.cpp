#include "Platform/Defaults.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pallix {
namespace {

namespace fs = std::filesystem;

class DefaultsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::current_path() / "pallix-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_file = m_folder / "nested" / "defaults.json";
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string fileText() const
    {
        std::ifstream in(m_file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::vector<fs::path> corruptCopies() const
    {
        std::vector<fs::path> copies;
        for (const auto& entry : fs::directory_iterator(m_file.parent_path()))
            if (entry.path().filename().string().starts_with("defaults.json.corrupt-"))
                copies.push_back(entry.path());
        std::sort(copies.begin(), copies.end());
        return copies;
    }

    fs::path m_folder;
    fs::path m_file;
};

// Every typed setter, read back by every getter: only its own type answers.
TEST(Defaults, AValueReadsBackOnlyAsItsOwnType)
{
    auto d = Defaults::inMemory();
    ASSERT_TRUE(d->setData("data", std::string("\0\x01\xff bytes", 9)));
    ASSERT_TRUE(d->setInteger("integer", -42));
    ASSERT_TRUE(d->setBoolean("boolean", true));
    ASSERT_TRUE(d->setString("string", "珀溪"));
    ASSERT_TRUE(d->setStringList("list", {"a", "", "b"}));
    ASSERT_TRUE(d->setDate("date", 1'700'000'000.25));

    EXPECT_EQ(d->data("data"), std::string("\0\x01\xff bytes", 9));
    EXPECT_EQ(d->integer("integer"), -42);
    EXPECT_EQ(d->boolean("boolean"), true);
    EXPECT_EQ(d->string("string"), "珀溪");
    EXPECT_EQ(d->stringList("list"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(d->date("date"), 1'700'000'000.25);

    for (const char* key : {"data", "integer", "boolean", "string", "list", "date"}) {
        SCOPED_TRACE(key);
        const std::string k = key;
        EXPECT_TRUE(d->contains(k));
        EXPECT_EQ(d->data(k).has_value(), k == "data");
        EXPECT_EQ(d->integer(k).has_value(), k == "integer");
        EXPECT_EQ(d->boolean(k).has_value(), k == "boolean");
        EXPECT_EQ(d->string(k).has_value(), k == "string");
        EXPECT_EQ(d->stringList(k).has_value(), k == "list");
        EXPECT_EQ(d->date(k).has_value(), k == "date");
    }
    EXPECT_FALSE(d->contains("absent"));
    EXPECT_FALSE(d->boolean("absent").has_value());
}

TEST(Defaults, BytesOfEveryLengthSurviveTheRoundTrip)
{
    auto d = Defaults::inMemory();
    std::string bytes;
    for (int length = 0; length < 70; ++length) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(d->setData("k", bytes));
        EXPECT_EQ(d->data("k"), bytes);
        bytes += char(length * 37);
    }
}

TEST(Defaults, RemovedKeysAndRejectedValuesLeaveNoTrace)
{
    auto d = Defaults::inMemory();
    ASSERT_TRUE(d->setString("k", "v"));
    ASSERT_TRUE(d->remove("k"));
    EXPECT_FALSE(d->contains("k"));

    ASSERT_TRUE(d->setString("kept", "old"));
    EXPECT_FALSE(d->setString("kept", "\xff\xfe not text"));
    EXPECT_FALSE(d->setStringList("list", {"ok", "\xc3"}));
    EXPECT_FALSE(d->setDate("date", std::nan("")));
    EXPECT_EQ(d->string("kept"), "old");
    EXPECT_FALSE(d->contains("list"));
    EXPECT_FALSE(d->contains("date"));
}

TEST_F(DefaultsFile, EveryChangeIsOnDiskAtOnceAndReadBackByANewStore)
{
    {
        auto d = Defaults::atFile(m_file);
        ASSERT_TRUE(d->setBoolean("PallixMardell.didMigrateLegacyPallixDatabases", true));
        ASSERT_TRUE(d->setStringList("roots", {"/home/a", "/data"}));
        ASSERT_TRUE(d->setData("blob", "\x01\x02"));
        ASSERT_TRUE(d->setDate("when", -62135596800.0));
        ASSERT_TRUE(d->setInteger("big", INT64_MAX));
    }
    auto again = Defaults::atFile(m_file);
    EXPECT_EQ(again->boolean("PallixMardell.didMigrateLegacyPallixDatabases"), true);
    EXPECT_EQ(again->stringList("roots"), (std::vector<std::string>{"/home/a", "/data"}));
    EXPECT_EQ(again->data("blob"), "\x01\x02");
    EXPECT_EQ(again->date("when"), -62135596800.0);
    EXPECT_EQ(again->integer("big"), INT64_MAX);

    // No temporary file is left beside the document.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(m_file.parent_path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(DefaultsFile, ACorruptFileIsKeptAsideAndTheStoreStartsEmpty)
{
    fs::create_directories(m_file.parent_path());
    std::ofstream(m_file) << "{\"truncated\": tr";
    auto d = Defaults::atFile(m_file);
    EXPECT_FALSE(d->contains("truncated"));
    ASSERT_TRUE(d->loadProblem().has_value());
    ASSERT_TRUE(d->setInteger("fresh", 1));

    const std::vector<fs::path> aside = corruptCopies();
    ASSERT_EQ(aside.size(), 1u);
    std::ifstream in(aside.front());
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "{\"truncated\": tr");
    EXPECT_NE(d->loadProblem()->find(aside.front().filename().string()), std::string::npos) << *d->loadProblem();
    EXPECT_EQ(Defaults::atFile(m_file)->integer("fresh"), 1);
}

// A file saved by an editor that starts UTF-8 with a byte-order mark is the
// user's settings, not damage: read, and nothing moved aside.
TEST_F(DefaultsFile, AByteOrderMarkIsSkippedNotTakenForDamage)
{
    fs::create_directories(m_file.parent_path());
    std::ofstream(m_file) << "\xEF\xBB\xBF{\"n\": 3, \"名称\": \"珀溪\"}";
    auto d = Defaults::atFile(m_file);
    EXPECT_FALSE(d->loadProblem().has_value()) << *d->loadProblem();
    EXPECT_EQ(d->integer("n"), 3);
    EXPECT_EQ(d->string("名称"), "珀溪");
    EXPECT_TRUE(corruptCopies().empty());
}

// Nesting that would overflow the stack when the document is written back, and
// a file too large to trust: both corrupt, kept aside, and a write afterwards
// gives a small sound file.
TEST_F(DefaultsFile, DeepOrHugeFilesAreCorruptAndNeverWrittenBack)
{
    fs::create_directories(m_file.parent_path());
    const std::string deep = "{\"k\": " + std::string(200000, '[') + std::string(200000, ']') + "}";
    const std::string huge = "{\"k\": \"" + std::string(5u << 20, 'x') + "\"}";
    const std::string justDeepEnough = "{\"k\": " + std::string(63, '[') + std::string(63, ']') + ", \"n\": 1}";
    for (const std::string* text : {&deep, &huge}) {
        std::ofstream(m_file, std::ios::trunc) << *text;
        auto d = Defaults::atFile(m_file);
        EXPECT_FALSE(d->contains("k"));
        EXPECT_TRUE(d->loadProblem().has_value());
        ASSERT_TRUE(d->setInteger("n", 2));
        EXPECT_LT(fs::file_size(m_file), 100u);
    }
    EXPECT_EQ(corruptCopies().size(), 2u);

    std::ofstream(m_file, std::ios::trunc) << justDeepEnough;
    auto d = Defaults::atFile(m_file);
    EXPECT_TRUE(d->contains("k"));
    EXPECT_FALSE(d->loadProblem().has_value());
}

TEST_F(DefaultsFile, OnlyTheNewestThreeCorruptCopiesAreKept)
{
    fs::create_directories(m_file.parent_path());
    for (int i = 0; i < 5; ++i) {
        std::ofstream(m_file, std::ios::trunc) << "not json " << i;
        Defaults::atFile(m_file);
    }
    const std::vector<fs::path> aside = corruptCopies();
    ASSERT_EQ(aside.size(), 3u);
    std::ifstream newest(aside.back());
    std::string text;
    std::getline(newest, text);
    EXPECT_EQ(text, "not json 4");
}

// As root nothing is denied by permissions; a folder or a FIFO in the file's
// place cannot be read either. It stays, the values live in memory only.
TEST_F(DefaultsFile, AnUnreadableFileIsLeftAloneAndNeverWritten)
{
    fs::create_directories(m_file);  // a folder in the file's place
    auto d = Defaults::atFile(m_file);
    ASSERT_TRUE(d->loadProblem().has_value());
    EXPECT_NE(d->loadProblem()->find(m_file.string()), std::string::npos) << *d->loadProblem();
    EXPECT_TRUE(d->setInteger("n", 1));
    EXPECT_EQ(d->integer("n"), 1);
    EXPECT_TRUE(fs::is_directory(m_file));
    EXPECT_TRUE(corruptCopies().empty());

    fs::remove(m_file);
    ASSERT_EQ(::mkfifo(m_file.c_str(), 0600), 0);
    auto fromFifo = Defaults::atFile(m_file);  // must not hang on the FIFO
    EXPECT_TRUE(fromFifo->loadProblem().has_value());
    EXPECT_TRUE(fromFifo->setInteger("n", 1));
    EXPECT_TRUE(fs::is_fifo(m_file));
}

TEST_F(DefaultsFile, AValueThatCannotBeReadCostsOnlyItsOwnKey)
{
    fs::create_directories(m_file.parent_path());
    std::ofstream(m_file) << "{\"huge\": 1e400, \"n\": 3, \"latin1\": \"caf\xe9\", \"list\": [\"a\", {\"b\": 1}],"
                             " \"s\": \"a,}\\\"b\"}";
    auto d = Defaults::atFile(m_file);
    EXPECT_FALSE(d->contains("huge"));
    EXPECT_FALSE(d->contains("latin1"));
    EXPECT_EQ(d->integer("n"), 3);
    EXPECT_TRUE(d->contains("list"));
    EXPECT_EQ(d->string("s"), "a,}\"b");
    ASSERT_TRUE(d->loadProblem().has_value());
    EXPECT_NE(d->loadProblem()->find("2 项"), std::string::npos) << *d->loadProblem();
    EXPECT_TRUE(corruptCopies().empty());
}

TEST_F(DefaultsFile, HandEditedValuesOfTheWrongTypeReadAsAbsent)
{
    fs::create_directories(m_file.parent_path());
    std::ofstream(m_file) << R"({"flag": "yes", "count": 1.5, "huge": 18446744073709551615,
        "list": ["a", 1], "when": {"date": "today"}, "blob": {"data": "not base64!"}, "n": 3})";
    auto d = Defaults::atFile(m_file);
    EXPECT_FALSE(d->boolean("flag").has_value());
    EXPECT_FALSE(d->integer("count").has_value());
    EXPECT_FALSE(d->integer("huge").has_value());
    EXPECT_FALSE(d->stringList("list").has_value());
    EXPECT_FALSE(d->date("when").has_value());
    EXPECT_FALSE(d->data("blob").has_value());
    EXPECT_EQ(d->integer("n"), 3);
}

TEST_F(DefaultsFile, ValuesWrittenBehindReadBackAtOnceAndTheLastOfEachReachesTheFile)
{
    {
        auto d = Defaults::atFile(m_file);
        for (int i = 0; i < 200; ++i) {
            d->setStringListSoon("history", {"q" + std::to_string(i)});
            ASSERT_EQ(d->stringList("history"), std::vector<std::string>{"q" + std::to_string(i)});
        }
        d->setIntegerSoon("count", 7);
        ASSERT_TRUE(d->setBoolean("flag", true));  // written at once, between two written behind
        d->setStringListSoon("history", {"last"});
    }  // the store's end writes what is left
    auto again = Defaults::atFile(m_file);
    EXPECT_EQ(again->stringList("history"), std::vector<std::string>{"last"});
    EXPECT_EQ(again->integer("count"), 7);
    EXPECT_EQ(again->boolean("flag"), true);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_file.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(DefaultsFile, AValueWrittenBehindThatCannotReachTheFileStaysInMemory)
{
    fs::create_directories(m_folder);
    std::ofstream(m_folder / "nested") << "in the way";
    auto d = Defaults::atFile(m_file);
    d->setStringListSoon("history", {"报告"});
    EXPECT_EQ(d->stringList("history"), std::vector<std::string>{"报告"});
    d.reset();  // ends although nothing could be written
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(DefaultsFile, AFailedWriteReportsFalseAndChangesNothing)
{
    // The document's folder is a file: nothing can be written there.
    fs::create_directories(m_folder);
    std::ofstream(m_folder / "nested") << "in the way";
    auto d = Defaults::atFile(m_file);
    EXPECT_FALSE(d->setBoolean("k", true));
    EXPECT_FALSE(d->contains("k"));
}

TEST_F(DefaultsFile, SettingsUnderTheEarlierIdentifierAreReadThereUntilTheNewFolderHasItsOwn)
{
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
    ::setenv("PALLIX_APP_ID", "io.pallix.Pallix", 1);
    const fs::path current = m_folder / "io.pallix.Pallix" / "defaults.json";
    const fs::path earlier = m_folder / "io.pallix.desktop" / "defaults.json";
    const fs::path first = Defaults::standardFile();
    fs::create_directories(earlier.parent_path());
    std::ofstream(earlier) << "{}";
    const fs::path kept = Defaults::standardFile();
    fs::create_directories(current.parent_path());
    std::ofstream(current) << "{}";
    const fs::path own = Defaults::standardFile();
    ::setenv("PALLIX_APP_ID", "io.pallix.qel", 1);  // another edition never reads them
    const fs::path other = Defaults::standardFile();
    ::unsetenv("PALLIX_APP_ID");
    if (oldXdg)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(first, current);
    EXPECT_EQ(kept, earlier);
    EXPECT_EQ(own, current);
    EXPECT_EQ(other, m_folder / "io.pallix.qel" / "defaults.json");
}

TEST(Defaults, TheStandardFileFollowsXdgConfigHome)
{
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    ::setenv("PALLIX_APP_ID", "io.example.test", 1);
    EXPECT_EQ(Defaults::standardFile(), fs::path("/somewhere/config/io.example.test/defaults.json"));
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(Defaults::standardFile(), fs::path("/home/someone/.config/io.example.test/defaults.json"));
    ::unsetenv("PALLIX_APP_ID");
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    if (oldXdg)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace pallix
