#include <gtest/gtest.h>

#include <string>

#include "Core/Search/ItemForms.h"
#include "Core/Search/SearchEngine.h"
#include "Platform/Text.h"
#include "SearchTestItems.h"

using namespace pallix;
using namespace pallix::testing;

namespace {

// The forms straight from their definition, for comparison with the assembled ones.
struct Direct {
    std::string cp, np, pn;
};

Direct directForms(const IndexedItem& item, bool caseSensitive)
{
    const std::string path = text::toNFC(item.path());
    Direct d;
    d.cp = caseSensitive ? path : text::lower(path);
    d.np = SearchEngine::normalized(d.cp);
    std::string_view parent = paths::deletingLastComponent(path);
    d.pn = parent == "/" ? "/" : std::string(paths::lastComponent(parent));
    if (!caseSensitive)
        d.pn = text::lower(d.pn);
    return d;
}

} // namespace

TEST(ItemForms, AssembledPathFormsEqualTheDirectOnes)
{
    const char* paths[] = {
        "/Users/A/Docs/Plan.TXT",
        "/top.txt",
        "/ΟΔΟΣ/ΣΑΣ.txt",              // final sigma before "/" and at the end
        "/İstanbul/İ.txt",             // dotted capital I lower-cases to two code points
        "/Cafe\u0301/\u0301x.txt",     // a name that starts with a combining mark
        "/Ｆｕｌｌ/ｗｉｄｔｈ.txt",
        "/季度/报告 2024.docx",
        "/a/Straße/STRASSE",
        "/ｶ/\uFF9Ex",                  // half-width voiced mark after "/"
    };
    for (const char* p : paths) {
        const IndexedItem item = fileAt(p);
        for (bool cs : {false, true}) {
            SCOPED_TRACE(std::string(p) + (cs ? " case-sensitive" : ""));
            const Direct d = directForms(item, cs);
            const NameForms names(item.ref(), cs);
            PathForms forms(item.ref(), names, cs);
            EXPECT_EQ(forms.comparablePath(), d.cp);
            EXPECT_EQ(forms.normalizedPath(), d.np);
            EXPECT_EQ(forms.parentFolderName(), d.pn);
            EXPECT_EQ(forms.comparablePathCount(), text::graphemeCount(d.cp));
            EXPECT_EQ(forms.normalizedPathCount(), text::graphemeCount(d.np));
        }
    }
}

TEST(ItemForms, ParentCacheFollowsTheCandidate)
{
    // Alternating parents and case modes on one thread must not serve stale forms.
    const IndexedItem a = fileAt("/Alpha/x.txt");
    const IndexedItem b = fileAt("/Beta/x.txt");
    EXPECT_EQ(comparableParentPath(a.ref(), false), "/alpha");
    EXPECT_EQ(comparableParentPath(b.ref(), false), "/beta");
    EXPECT_EQ(comparableParentPath(b.ref(), true), "/Beta");
    EXPECT_EQ(comparableParentPath(a.ref(), false), "/alpha");
}

TEST(ItemForms, ItemsWhosePathIsNotParentPlusNameUseThePathItself)
{
    // A record made by hand, not through a file location.
    const IndexedItem odd("/Real/Path/File.txt", "Other.txt", "/Elsewhere", "txt", 0, 0.0, IndexedItem::ItemType::File);
    const NameForms names(odd.ref(), false);
    PathForms forms(odd.ref(), names, false);
    EXPECT_EQ(forms.comparablePath(), "/real/path/file.txt");
    EXPECT_EQ(forms.normalizedPath(), "realpathfiletxt");
    EXPECT_EQ(forms.parentFolderName(), "path");
}

TEST(ItemForms, CaseSensitiveNameFormsKeepCase)
{
    const IndexedItem item = fileAt("/a/Re\u0301sume\u0301.Final.PDF");
    const NameForms names(item.ref(), true);
    EXPECT_EQ(names.cn, "Résumé.Final.PDF");
    EXPECT_EQ(names.cnx, "Résumé.Final");
    EXPECT_EQ(names.nn, "resumefinalpdf");
    EXPECT_EQ(names.nnx, "resumefinal");
    EXPECT_EQ(names.cnCount(), 16u);
}
