#include "Core/Models/IndexedItem.h"

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace pallix;
namespace fs = std::filesystem;

namespace {

IndexedItem fileNamed(const std::string& name, IndexedItem::ItemType type = IndexedItem::ItemType::File)
{
    return IndexedItem("/t/" + name, name, "/t", std::string(paths::extension(name)), 1, 0.0, type);
}

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "pallix-item-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = tmpl;
    }
    ~TempDir() { fs::remove_all(m_path); }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void setModified(const fs::path& p, time_t sec, long nsec)
{
    timespec times[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

TEST(IndexedItem, SearchFormsOfNames)
{
    struct Case {
        std::string name;
        std::string searchName, withoutExt, normalized, normalizedWithoutExt;
    } cases[] = {
        {"Photo.JPG", "photo.jpg", "photo", "photojpg", "photo"},
        {"README", "readme", "readme", "readme", "readme"},
        {"archive.tar.gz", "archive.tar.gz", "archive.tar", "archivetargz", "archivetar"},
        {".bashrc", ".bashrc", ".bashrc", "bashrc", "bashrc"},
        {"notes.", "notes.", "notes.", "notes", "notes"},
        {"报告（最终版）.docx", "报告（最终版）.docx", "报告（最终版）", "报告最终版docx", "报告最终版"},
        {"Café Menü.txt", "café menü.txt", "café menü", "cafemenutxt", "cafemenu"},
        {"Ｒｅｐｏｒｔ－２０２４.pdf", "ｒｅｐｏｒｔ－２０２４.pdf", "ｒｅｐｏｒｔ－２０２４", "report2024pdf", "report2024"},
        {"!!!", "!!!", "!!!", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IndexedItem item = fileNamed(c.name);
        EXPECT_EQ(item.searchName(), c.searchName);
        EXPECT_EQ(item.searchNameWithoutExtension(), c.withoutExt);
        EXPECT_EQ(item.normalizedSearchName(), c.normalized);
        EXPECT_EQ(item.normalizedSearchNameWithoutExtension(), c.normalizedWithoutExt);
        EXPECT_EQ(IndexedItem::normalizedSearchText(c.name), c.normalized);
    }
}

TEST(IndexedItem, DecomposedNameGivesComposedFormsButKeepsItsBytes)
{
    const std::string nfd = "Cafe\u0301 Me\u0301nu.txt";
    const std::string nfc = "Caf\u00e9 M\u00e9nu.txt";
    IndexedItem a("/t/" + nfd, nfd, "/t", "txt", 0, 0.0, IndexedItem::ItemType::File);
    IndexedItem b("/t/" + nfc, nfc, "/t", "txt", 0, 0.0, IndexedItem::ItemType::File);
    EXPECT_EQ(a.name(), nfd);
    EXPECT_EQ(a.path(), "/t/" + nfd);
    EXPECT_EQ(a.searchName(), b.searchName());
    EXPECT_EQ(a.searchName(), "caf\u00e9 m\u00e9nu.txt");
    EXPECT_EQ(a.searchNameWithoutExtension(), b.searchNameWithoutExtension());
    EXPECT_EQ(a.normalizedSearchName(), "cafemenutxt");
    EXPECT_EQ(a.normalizedSearchNameWithoutExtension(), b.normalizedSearchNameWithoutExtension());
}

TEST(IndexedItem, FromGivenMetadata)
{
    FileMetadata folder;
    folder.isDirectory = true;
    folder.contentModifiedAt = 100.0;
    auto app = IndexedItem::from("/Applications/Foo.app", folder);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->type(), IndexedItem::ItemType::Folder);
    EXPECT_EQ(app->fileExtension(), "app");
    EXPECT_EQ(app->size(), 0);
    EXPECT_EQ(app->name(), "Foo.app");
    EXPECT_EQ(app->parentPath(), "/Applications");

    FileMetadata createdOnly;
    createdOnly.isDirectory = false;
    createdOnly.createdAt = 42.5;
    createdOnly.fileSize = 7;
    auto created = IndexedItem::from("/a/b/./Report.PDF/", createdOnly, "tag text");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->modifiedAt(), 42.5);
    EXPECT_EQ(created->size(), 7);
    EXPECT_EQ(created->path(), "/a/b/Report.PDF");
    EXPECT_EQ(created->fileExtension(), "pdf");
    EXPECT_EQ(created->searchableText(), "tag text");

    FileMetadata both = createdOnly;
    both.contentModifiedAt = 99.0;
    EXPECT_EQ(IndexedItem::from("/a/x", both)->modifiedAt(), 99.0);

    FileMetadata neither;
    neither.isDirectory = false;
    auto undated = IndexedItem::from("/a/x", neither);
    ASSERT_TRUE(undated);
    EXPECT_EQ(undated->modifiedAt(), kDistantPast);
    EXPECT_EQ(undated->size(), 0);

    FileMetadata noKind;
    noKind.contentModifiedAt = 1.0;
    EXPECT_FALSE(IndexedItem::from("/a/x", noKind));

    auto root = IndexedItem::from("/", folder);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name(), "/");
    EXPECT_EQ(root->parentPath(), "/");
}

TEST(IndexedItem, FromFileSystemNeverFollowsLinks)
{
    TempDir dir;
    const fs::path file = dir.path() / "Notes.TXT";
    std::ofstream(file) << "hello";
    setModified(file, 1'600'000'000, 250'000'000);
    const fs::path folder = dir.path() / "Bundle.app";
    fs::create_directory(folder);
    const fs::path link = dir.path() / "link-to-folder";
    fs::create_directory_symlink(folder, link);
    const fs::path dangling = dir.path() / "dangling";
    fs::create_symlink(dir.path() / "nowhere", dangling);

    auto f = IndexedItem::from(file.string());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type(), IndexedItem::ItemType::File);
    EXPECT_EQ(f->size(), 5);
    EXPECT_EQ(f->modifiedAt(), 1'600'000'000.25);
    EXPECT_EQ(f->fileExtension(), "txt");
    EXPECT_EQ(f->parentPath(), dir.path().string());

    auto d = IndexedItem::from(folder.string());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->type(), IndexedItem::ItemType::Folder);
    EXPECT_EQ(d->size(), 0);  // not the 4096 the file system reports
    EXPECT_EQ(d->fileExtension(), "app");

    auto l = IndexedItem::from(link.string());
    ASSERT_TRUE(l);
    EXPECT_EQ(l->type(), IndexedItem::ItemType::File);
    EXPECT_EQ(l->name(), "link-to-folder");
    EXPECT_EQ(l->path(), link.string());

    auto broken = IndexedItem::from(dangling.string());
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->type(), IndexedItem::ItemType::File);

    EXPECT_FALSE(IndexedItem::from((dir.path() / "missing.txt").string()));

    // A standardised path: "." and ".." resolved lexically, trailing "/" gone.
    auto viaDots = IndexedItem::from((dir.path() / "Bundle.app" / ".." / "." / "Notes.TXT").string());
    ASSERT_TRUE(viaDots);
    EXPECT_EQ(viaDots->path(), file.string());
}

TEST(IndexedItem, FromSkipsNamesThatAreNotUtf8)
{
    TempDir dir;
    const fs::path bad = dir.path() / "bad\xff\xfe.txt";
    {
        std::ofstream out(bad);
        ASSERT_TRUE(out.good());
    }
    EXPECT_FALSE(IndexedItem::from(bad.string()));
    FileMetadata meta;
    meta.isDirectory = false;
    EXPECT_FALSE(IndexedItem::from("/a/\xc0\xaf", meta));
}

TEST(IndexedItem, EqualityAndHashingCoverEveryField)
{
    IndexedItem a("/a/x.txt", "x.txt", "/a", "txt", 1, 10.0, IndexedItem::ItemType::File);
    IndexedItem same("/a/x.txt", "x.txt", "/a", "txt", 1, 10.0, IndexedItem::ItemType::File);
    IndexedItem newer("/a/x.txt", "x.txt", "/a", "txt", 1, 11.0, IndexedItem::ItemType::File);
    IndexedItem folder("/a/x.txt", "x.txt", "/a", "txt", 1, 10.0, IndexedItem::ItemType::Folder);
    IndexedItem tagged("/a/x.txt", "x.txt", "/a", "txt", 1, 10.0, IndexedItem::ItemType::File, "tag");

    EXPECT_EQ(a, same);
    EXPECT_EQ(std::hash<IndexedItem>{}(a), std::hash<IndexedItem>{}(same));
    EXPECT_EQ(a.id(), newer.id());
    EXPECT_NE(a, newer);
    EXPECT_NE(a, folder);
    EXPECT_NE(a, tagged);

    std::unordered_set<IndexedItem> set{a, same, newer, folder, tagged};
    EXPECT_EQ(set.size(), 4u);
}

TEST(IndexedItem, ItemTypeRawValues)
{
    EXPECT_EQ(IndexedItem::rawValue(IndexedItem::ItemType::File), "file");
    EXPECT_EQ(IndexedItem::rawValue(IndexedItem::ItemType::Folder), "folder");
    EXPECT_EQ(IndexedItem::itemTypeFromRaw("folder"), IndexedItem::ItemType::Folder);
    EXPECT_EQ(IndexedItem::itemTypeFromRaw("file"), IndexedItem::ItemType::File);
    EXPECT_FALSE(IndexedItem::itemTypeFromRaw("Folder"));
    EXPECT_FALSE(IndexedItem::itemTypeFromRaw(""));
}

TEST(IndexedItem, KeyedCodingRoundTripsAndTakesFormsAsStored)
{
    IndexedItem item("/a/报告.PDF", "报告.PDF", "/a", "pdf", 1LL << 40, 1'700'000'000.5,
                     IndexedItem::ItemType::File, "text");
    nlohmann::json j;
    item.encode(j);
    EXPECT_EQ(j.size(), 12u);
    EXPECT_EQ(j["type"], "file");
    EXPECT_EQ(j["size"].get<std::int64_t>(), 1LL << 40);
    EXPECT_EQ(IndexedItem::decode(j), item);
    EXPECT_EQ(IndexedItem::decode(nlohmann::json::parse(j.dump())), item);

    nlohmann::json custom = j;
    custom["normalizedSearchName"] = "stored as is";
    custom["extra"] = 5;  // unknown keys are ignored
    EXPECT_EQ(IndexedItem::decode(custom).normalizedSearchName(), "stored as is");
}

TEST(IndexedItem, DecodingRejectsMissingAndMistypedKeys)
{
    IndexedItem item("/a/b", "b", "/a", "", 0, 0.0, IndexedItem::ItemType::Folder);
    nlohmann::json good;
    item.encode(good);

    const char* keys[] = {"path", "name", "parentPath", "fileExtension", "size", "modifiedAt", "type",
                          "searchableText", "searchName", "normalizedSearchName", "searchNameWithoutExtension",
                          "normalizedSearchNameWithoutExtension"};
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        nlohmann::json missing = good;
        missing.erase(key);
        EXPECT_THROW(IndexedItem::decode(missing), nlohmann::json::exception);
    }

    struct Bad {
        const char* key;
        nlohmann::json value;
    } bad[] = {
        {"path", 5},
        {"size", "5"},
        {"size", 1.5},
        {"size", 18446744073709551615ULL},
        {"modifiedAt", "2024-01-01"},
        {"type", "directory"},
        {"type", 1},
        {"searchName", nullptr},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(std::string(b.key) + " = " + b.value.dump());
        nlohmann::json wrong = good;
        wrong[b.key] = b.value;
        EXPECT_THROW(IndexedItem::decode(wrong), nlohmann::json::exception);
    }
    EXPECT_THROW(IndexedItem::decode(nlohmann::json::array()), nlohmann::json::exception);
}

TEST(IndexedItem, RefViewsTheFields)
{
    IndexedItem item("/a/Foo.app", "Foo.app", "/a", "app", 0, 3.0, IndexedItem::ItemType::Folder);
    ItemRef r = item.ref();
    EXPECT_EQ(r.path, item.path());
    EXPECT_EQ(r.name, "Foo.app");
    EXPECT_EQ(r.parentPath, "/a");
    EXPECT_EQ(r.fileExtension, "app");
    EXPECT_EQ(r.modifiedAt, 3.0);
    EXPECT_TRUE(r.isFolder);
    EXPECT_EQ(r.searchName, "foo.app");
    EXPECT_EQ(r.normalizedSearchName, "fooapp");
    EXPECT_EQ(r.searchNameWithoutExtension, "foo");
    EXPECT_EQ(r.normalizedSearchNameWithoutExtension, "foo");
}

TEST(IndexedItem, WithSearchFormsTakesTheFormsAsGiven)
{
    for (const IndexedItem& item : {IndexedItem("/a/Ünïcode 报告.Tar.GZ", "Ünïcode 报告.Tar.GZ", "/a", "gz", 7, 2.5,
                                                IndexedItem::ItemType::File),
                                    IndexedItem("/a/Foo.app", "Foo.app", "/a", "app", 0, 3.0,
                                                IndexedItem::ItemType::Folder)}) {
        SCOPED_TRACE(item.path());
        EXPECT_EQ(IndexedItem::withSearchForms(item.ref()), item);
        EXPECT_EQ(IndexedItem::withSearchForms(item.ref(), "content").searchableText(), "content");
    }
    // Not derived again: whatever the forms hold is what the record holds.
    IndexedItem base("/a/Name.txt", "Name.txt", "/a", "txt", 1, 1.0, IndexedItem::ItemType::File);
    ItemRef r = base.ref();
    r.searchName = "s";
    r.normalizedSearchName = "n";
    r.searchNameWithoutExtension = "w";
    r.normalizedSearchNameWithoutExtension = "nw";
    const IndexedItem made = IndexedItem::withSearchForms(r);
    const auto formsOf = [](const IndexedItem& item) {
        return std::array<std::string_view, 4>{item.searchName(), item.normalizedSearchName(),
                                               item.searchNameWithoutExtension(),
                                               item.normalizedSearchNameWithoutExtension()};
    };
    EXPECT_EQ(formsOf(made), (std::array<std::string_view, 4>{"s", "n", "w", "nw"}));
    EXPECT_EQ(made.name(), "Name.txt");
    // Forms kept end to end are still four: moving a character from one to
    // the next makes another record.
    r.searchName = "sn";
    r.normalizedSearchName = "";
    const IndexedItem shifted = IndexedItem::withSearchForms(r);
    EXPECT_EQ(formsOf(shifted), (std::array<std::string_view, 4>{"sn", "", "w", "nw"}));
    EXPECT_NE(shifted, made);
    EXPECT_EQ(IndexedItem::decode([&] { nlohmann::json j; shifted.encode(j); return j; }()), shifted);
}

TEST(Paths, StandardizeAndComponents)
{
    struct Case {
        const char* input;
        const char* standard;
    } cases[] = {
        {"/a/./b/../c/", "/a/c"}, {"//a//b", "/a/b"}, {"/..", "/"},     {"/", "/"},
        {"/a/b/..", "/a"},        {"/a/.hidden", "/a/.hidden"},        {"/a/...", "/a/..."},
        // Paths that only look standard at a glance.
        {"/a/.", "/a"},           {"/a/b/", "/a/b"},                   {"/.", "/"},
        {"/a/../b", "/b"},        {"/..a/b..", "/..a/b.."},            {"/a/.b/..c", "/a/.b/..c"},
        {"/a//", "/a"},           {"/x/报告/./y", "/x/报告/y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(paths::standardize(c.input), c.standard);
    }
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(paths::standardize("rel/x"), paths::standardize(cwd + "/rel/x"));

    EXPECT_EQ(paths::lastComponent("/a/b.txt"), "b.txt");
    EXPECT_EQ(paths::lastComponent("/a/b/"), "b");
    EXPECT_EQ(paths::lastComponent("/"), "");
    EXPECT_EQ(paths::deletingLastComponent("/a/b"), "/a");
    EXPECT_EQ(paths::deletingLastComponent("/a"), "/");
    EXPECT_EQ(paths::deletingLastComponent("/"), "/");
}

TEST(Paths, Extensions)
{
    struct Case {
        const char* name;
        const char* ext;
        const char* without;
    } cases[] = {
        {"a.txt", "txt", "a"},   {"archive.tar.gz", "gz", "archive.tar"}, {".bashrc", "", ".bashrc"},
        {"notes.", "", "notes."}, {"README", "", "README"},                 {"..foo", "foo", "."},
        {"报告.DOCX", "DOCX", "报告"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(paths::extension(c.name), c.ext);
        EXPECT_EQ(paths::deletingExtension(c.name), c.without);
    }
}

TEST(Paths, IsUnder)
{
    struct Case {
        const char* path;
        const char* folder;
        bool under;
    } cases[] = {
        {"/a/b", "/a/b", true},  {"/a/b/c", "/a/b", true}, {"/a/bc", "/a/b", false},
        {"/a", "/a/b", false},   {"/x/y", "/", true},      {"/", "/", true},
        {"/a/b/c", "/a/b/", true}, {"relative", "/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.folder);
        EXPECT_EQ(paths::isUnder(c.path, c.folder), c.under);
    }
}
