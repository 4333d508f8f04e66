#include "Core/Search/ItemFacts.h"

#include <gtest/gtest.h>

#include "FactsSource.h"
#include "SearchTestItems.h"

namespace pallix::testing {
namespace {

bool junkByRule(const IndexedItem& i)
{
    return IndexedItem::shouldExcludeAsSystemOrJunk(i.path(), i.name(), i.fileExtension(), i.isDirectory());
}

// Paths that set off each junk and developer-tool rule, and near misses.
std::vector<IndexedItem> ruleProbes()
{
    std::vector<IndexedItem> items;
    for (const char* folder : {"/home/u", "/home/u/.cache/x", "/proc/1", "/PROC/1", "/usr/bin", "/usr/Bin", "/tmp",
                               "/home/u/Downloads", "/srv/downloads", "/opt/homebrew/lib", "/run", "/run/media/u",
                               "/Library/Caches/a", "/x/Foo.app/Contents/_CodeSignature", "/usr/share/vim/v",
                               "/Users/a/vim", "/", "/media/u"})
        for (const char* name : {"a.txt", "a.o", "A.SO", "x.download", "t.vim", "._x", ".DS_Store", "Thumbs.db",
                                 "~$doc.docx", "Icon\r", ".localized", "plain", "b.swp", "c.crdownload"}) {
            const std::string path = std::string(folder) + (std::string(folder) == "/" ? "" : "/") + name;
            items.push_back(fileAt(path));
            items.push_back(folderAt(path));
        }
    return items;
}

TEST(ItemFacts, RulesSplitByFolderAgreeWithTheWholeRules)
{
    std::vector<IndexedItem> items = ruleProbes();
    ItemGenerator gen(3);
    for (const IndexedItem& item : gen.items(3000))
        items.push_back(item);
    for (bool remember : {true, false}) {
        for (const IndexedItem& item : items) {
            // Only for a path that is its parent joined with its name.
            const std::string sep = item.parentPath() == "/" ? "" : "/";
            const bool joined = remember && item.path() == std::string(item.parentPath()) + sep + std::string(item.name());
            SCOPED_TRACE(std::string(item.path()) + (joined ? " (folder remembered)" : ""));
            const ItemFacts f = ItemFacts::of(item.ref(), joined);
            ASSERT_EQ(f.has(ItemFacts::Junk), junkByRule(item));
            ASSERT_EQ(f.has(ItemFacts::ToolingArtifact), IndexedItem::isLowPriorityToolingArtifact(item));
        }
    }
}

TEST(ItemFacts, CategoriesAndKindFollowTheKinds)
{
    for (const char* ext : {"pdf", "png", "mp4", "mp3", "zip", "dmg", "sh", "txt", "", "weird", "ts", "key"}) {
        for (bool folder : {false, true}) {
            const std::string name = std::string("x") + (*ext ? "." : "") + ext;
            const IndexedItem item = folder ? folderAt("/d/" + name) : fileAt("/d/" + name);
            SCOPED_TRACE(std::string(item.path()) + (folder ? " (folder)" : ""));
            const ItemFacts f = ItemFacts::of(item.ref());
            const ItemRef r = item.ref();
            EXPECT_EQ(f.kindOrder(), IndexedItem::displayKindOrder(item));
            EXPECT_EQ(f.has(ItemFacts::Folder), folder);
            EXPECT_EQ(f.has(ItemFacts::Image), kinds::isImageExtension(r.fileExtension));
            EXPECT_EQ(f.has(ItemFacts::DocumentLike), kinds::isDocumentLike(r));
            EXPECT_EQ(f.has(ItemFacts::Video), kinds::isVideoExtension(r.fileExtension));
            EXPECT_EQ(f.has(ItemFacts::NormalFile), kinds::isNormalFile(r));
            EXPECT_EQ(f.has(ItemFacts::Archive), kinds::isArchiveExtension(r.fileExtension));
            EXPECT_EQ(f.has(ItemFacts::Executable), kinds::isExecutableExtension(r.fileExtension));
        }
    }
}

TEST(ItemFacts, NamesThatArePlainAndTheirLastBytes)
{
    struct Case {
        const char* name;
        bool plain;
        bool ascii;
        char last;
        char secondLast;
    } cases[] = {
        {"Report.PDF", true, true, 'f', 'd'},
        {"x", true, true, 'x', 0},
        {"caf\xC3\xA9.txt", true, false, 't', 'x'},      // é folds to é, not to ASCII
        {"\xE2\x84\xAA.txt", false, false, 't', 'x'},    // the Kelvin sign folds to k
        {"\xC5\xBFun", false, false, 'n', 'u'},          // long s folds to s
        {"a\nb", false, true, 'b', '\n'},                // a line break: "$" and "." differ there
        {"\xE6\x8A\xA5\xE5\x91\x8A", true, false, 0, 0},  // 报告
        {"\xFF\xFEz", false, false, 'z', 0},             // not UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ItemRef r;
        r.path = "/d/x";
        r.name = c.name;
        const ItemFacts f = ItemFacts::of(r);
        EXPECT_EQ(f.has(ItemFacts::PlainName), c.plain);
        EXPECT_EQ(f.has(ItemFacts::AsciiName), c.ascii);
        EXPECT_EQ(f.lastByte(), c.last);
        EXPECT_EQ(f.secondLastByte(), c.secondLast);
        EXPECT_EQ(f.nameBytes, std::string_view(c.name).size());
    }
}

TEST(ItemFacts, CharacterMaskOfATextHoldsThatOfEveryPart)
{
    ItemGenerator gen(9);
    for (int i = 0; i < 2000; ++i) {
        const std::string text = gen.word() + gen.word();
        const std::size_t at = gen.rng()() % text.size();
        std::string part = text.substr(at, 1 + gen.rng()() % 4);
        while (!part.empty() && !text::isValidUtf8(part))
            part.pop_back();
        SCOPED_TRACE(text + " / " + part);
        const std::uint64_t whole = ItemFacts::characterMask(text);
        EXPECT_EQ(whole & ItemFacts::characterMask(part), ItemFacts::characterMask(part));
    }
    // ASCII letters count the same in either case; distinct letters differ.
    EXPECT_EQ(ItemFacts::characterMask("Ab"), ItemFacts::characterMask("aB"));
    EXPECT_NE(ItemFacts::characterMask("a"), ItemFacts::characterMask("b"));
    EXPECT_NE(ItemFacts::characterMask("1"), ItemFacts::characterMask("l"));
}

TEST(ItemFacts, PairMaskOfATextHoldsThatOfEveryPart)
{
    ItemGenerator gen(10);
    for (int i = 0; i < 2000; ++i) {
        const std::string text = gen.word() + gen.word();
        const std::size_t at = gen.rng()() % text.size();
        std::string part = text.substr(at, 2 + gen.rng()() % 5);
        while (!part.empty() && !text::isValidUtf8(part))
            part.pop_back();
        SCOPED_TRACE(text + " / " + part);
        const std::uint32_t whole = ItemFacts::pairMask(text);
        EXPECT_EQ(whole & ItemFacts::pairMask(part), ItemFacts::pairMask(part));
    }
    EXPECT_EQ(ItemFacts::pairMask(""), 0u);
    EXPECT_EQ(ItemFacts::pairMask("a"), 0u);  // no pair
    EXPECT_NE(ItemFacts::pairMask("ab"), 0u);
    // Order counts: the pair "ab" is not the pair "ba".
    EXPECT_NE(ItemFacts::pairMask("ab"), ItemFacts::pairMask("ba"));
}

TEST(ItemFacts, WordStartsOfAsciiNamesAreAmongThePairs)
{
    const ItemFacts f = ItemFacts::of(fileAt("/x/Weekly_report-2024.PDF").ref());
    for (char c : {'w', 'W', 'r', '2', 'p'})
        EXPECT_EQ(f.namePairs & ItemFacts::wordStartBit(c), ItemFacts::wordStartBit(c)) << c;
    // The first byte counts even when it starts no word.
    const ItemFacts dotted = ItemFacts::of(fileAt("/x/.hidden").ref());
    EXPECT_EQ(dotted.namePairs & ItemFacts::wordStartBit('.'), ItemFacts::wordStartBit('.'));
    EXPECT_EQ(dotted.namePairs & ItemFacts::wordStartBit('h'), ItemFacts::wordStartBit('h'));
    EXPECT_EQ(f.normalizedStemBytes, std::string_view("weeklyreport2024").size());
    EXPECT_EQ(f.firstNormalized, 'w');
}

TEST(ItemFacts, StemIsHeadWhenTheNormalisedStemStartsTheNormalisedName)
{
    EXPECT_TRUE(ItemFacts::of(fileAt("/a/Report 2024.pdf").ref()).has(ItemFacts::StemIsHead));
    EXPECT_TRUE(ItemFacts::of(fileAt("/a/.bashrc").ref()).has(ItemFacts::StemIsHead));
    EXPECT_TRUE(ItemFacts::of(fileAt("/a/报告.tar.gz").ref()).has(ItemFacts::StemIsHead));
    // Forms as a store may hand them over, the stem not at the head.
    const IndexedItem item = fileAt("/a/ab.txt");
    ItemRef r = item.ref();
    r.normalizedSearchNameWithoutExtension = "zz";
    EXPECT_FALSE(ItemFacts::of(r).has(ItemFacts::StemIsHead));
}

TEST(ItemFacts, NamesThatLowerAsStoredHoldNoCaseOutsideAscii)
{
    for (const char* name : {"Report 2024.PDF", "报告.doc", "カタカナ.txt", "ひらがな", "отчёт.odt", ""})
        EXPECT_TRUE(ItemFacts::of(fileAt(std::string("/a/") + name).ref()).has(ItemFacts::LowersAsStored)) << name;
    for (const char* name : {"ОТЧЁТ.odt", "Résumé.pdf", "re\u0301sume\u0301.md", "ΣΟΦΙΑ", "Ⅻ.txt", "ﬁle"})
        EXPECT_FALSE(ItemFacts::of(fileAt(std::string("/a/") + name).ref()).has(ItemFacts::LowersAsStored)) << name;
    EXPECT_TRUE(ItemFacts::lowersAsStored("/home/u/文档"));
    EXPECT_FALSE(ItemFacts::lowersAsStored("/home/u/Été"));
}

TEST(ItemFacts, FolderFormsAreThoseRankingComposesPathsFrom)
{
    const auto [comparable, normalized] = FolderForms::formsOf("/Home/Caf\x65\xCC\x81/Ｒ2");
    EXPECT_EQ(comparable, "/home/caf\xC3\xA9/\xEF\xBD\x92" "2");  // lower-cased NFC; width kept
    EXPECT_EQ(normalized, "homecafer2");
    EXPECT_EQ(FolderForms::formsOf("/A_b").first, "/a_b");
}

} // namespace
} // namespace pallix::testing
