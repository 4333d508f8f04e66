#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Search/ItemFacts.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchFilters.h"
#include "SearchTestItems.h"

using namespace pallix;
using namespace pallix::testing;

namespace {

SearchQuery noFilters()
{
    SearchQuery q;
    q.contentFilters = {SearchContentFilter::All};
    q.excludeSystemJunk = false;
    return q;
}

struct FilterCase {
    IndexedItem item;
    bool passes;
};

void expectFilter(const SearchQuery& q, const std::vector<FilterCase>& cases)
{
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(std::string(c.item.path()) + (c.item.isDirectory() ? " (folder)" : "") + (c.passes ? " should pass" : " should NOT pass"));
        EXPECT_EQ(SearchEngine::passesFilters(c.item.ref(), q), c.passes);
    }
}

SearchQuery withContent(std::set<SearchContentFilter> filters)
{
    SearchQuery q = noFilters();
    q.contentFilters = std::move(filters);
    return q;
}

} // namespace

TEST(SearchFilters, NoFilterAdmitsEverything)
{
    for (const SearchQuery& q : {noFilters(), withContent({})}) {
        expectFilter(q, {{fileAt("/a/x.txt"), true}, {folderAt("/a/b"), true}, {fileAt("/a/.DS_Store"), true},
                         {fileAt("/usr/bin/ls"), true}});
    }
}

TEST(SearchFilters, ContentCategories)
{
    expectFilter(withContent({SearchContentFilter::Images}),
                 {{folderAt("/a/Holiday.png"), true}, {fileAt("/a/x.jpg"), true}, {fileAt("/a/x.pdf"), false}});
    expectFilter(withContent({SearchContentFilter::Executables}),
                 {{folderAt("/Applications/Safari.app"), true}, {fileAt("/a/run.sh"), true}, {fileAt("/a/x.txt"), false}});
    expectFilter(withContent({SearchContentFilter::Folders}), {{folderAt("/a/b"), true}, {fileAt("/a/b.txt"), false}});
    expectFilter(withContent({SearchContentFilter::Documents}),
                 {{fileAt("/a/report.pdf"), true},
                  {fileAt("/a/movie.mp4"), true},
                  {fileAt("/a/backup.zip"), true},
                  {fileAt("/a/photo.jpg"), false},
                  {fileAt("/a/Makefile"), false},
                  {folderAt("/a/docs.pdf"), false}});
    expectFilter(withContent({SearchContentFilter::Normal}),
                 {{fileAt("/a/photo.jpg"), true},
                  {fileAt("/a/notes.txt"), true},
                  {fileAt("/a/Makefile"), true},
                  {fileAt("/a/install.sh"), false},
                  {fileAt("/a/archive.zip"), false},
                  {fileAt("/a/x.dmg"), false},
                  {folderAt("/a/b"), false}});
    expectFilter(withContent({SearchContentFilter::Videos}),
                 {{fileAt("/a/clip.ts"), true}, {fileAt("/a/clip.mov"), true}, {fileAt("/a/song.mp3"), false}});
    expectFilter(withContent({SearchContentFilter::Archives}),
                 {{fileAt("/a/x.pkg"), true}, {fileAt("/a/x.tgz"), true}, {fileAt("/a/x.exe"), false}});
    expectFilter(withContent({SearchContentFilter::Images, SearchContentFilter::Folders}),
                 {{fileAt("/a/a.png"), true}, {folderAt("/a/any"), true}, {fileAt("/a/notes.txt"), false}});
    expectFilter(withContent({SearchContentFilter::All, SearchContentFilter::Images}),
                 {{fileAt("/a/notes.txt"), true}, {folderAt("/a/any"), true}});
}

TEST(SearchFilters, ExtensionIsPlainEquality)
{
    SearchQuery q = noFilters();
    q.extensionFilter = "pdf";
    expectFilter(q, {{fileAt("/a/x.pdf"), true}, {fileAt("/a/X.PDF"), true}, {fileAt("/a/x"), false},
                     {fileAt("/a/x.pdfx"), false}});
    q.extensionFilter = "";
    expectFilter(q, {{fileAt("/a/Makefile"), true}, {fileAt("/a/a.txt"), false}});
}

TEST(SearchFilters, PathFilterSearchesTheParentFolderOnly)
{
    SearchQuery q = noFilters();
    q.pathFilter = "Docs";
    expectFilter(q, {{fileAt("/Users/a/docs/plan.txt"), true},
                     {folderAt("/Users/a/docs"), false},
                     {fileAt("/Users/a/mydocs2/x.txt"), true},
                     {fileAt("/Users/a/docs/deep/er/x.txt"), true},
                     {fileAt("/Users/a/Docs.txt"), false}});
    q.caseSensitive = true;
    expectFilter(q, {{fileAt("/Users/a/docs/plan.txt"), false},
                     {fileAt("/Users/a/mydocs2/x.txt"), false},
                     {fileAt("/Users/a/Docs/x.txt"), true}});

    // Non-ASCII folders are lower-cased in full, and compared composed.
    q.caseSensitive = false;
    q.pathFilter = "ÉTÉ";
    expectFilter(q, {{fileAt("/home/a/Photos e\u0301te\u0301 2024/x.jpg"), true}, {fileAt("/home/a/ete/x.jpg"), false}});
    q.pathFilter = "报告";
    expectFilter(q, {{fileAt("/home/a/年度报告/x.pdf"), true}, {fileAt("/home/a/报表/x.pdf"), false}});
}

TEST(SearchFilters, TypeAndDate)
{
    SearchQuery q = noFilters();
    q.typeFilter = IndexedItem::ItemType::File;
    expectFilter(q, {{fileAt("/a/x"), true}, {folderAt("/a/y"), false}});
    q.contentFilters = {SearchContentFilter::Folders};
    expectFilter(q, {{fileAt("/a/x"), false}, {folderAt("/a/y"), false}});

    q = noFilters();
    q.modifiedAfter = 1000.0;
    expectFilter(q, {{fileAt("/a/at", 0, 1000.0), true}, {fileAt("/a/before", 0, 999.0), false},
                     {fileAt("/a/after", 0, 1001.0), true}});
    q.modifiedAfter = 1001.0;
    expectFilter(q, {{fileAt("/a/at", 0, 1000.0), false}});
}

TEST(SearchFilters, JunkRuleOnlyWhenAsked)
{
    SearchQuery q = noFilters();
    expectFilter(q, {{fileAt("/home/a/.DS_Store"), true}});
    q.excludeSystemJunk = true;
    expectFilter(q, {{fileAt("/home/a/.DS_Store"), false}, {fileAt("/home/a/notes.txt"), true},
                     {fileAt("/tmp/x.txt"), false}});
}

TEST(SearchFilters, WildcardMatchesTheWholeName)
{
    struct Case {
        const char* pattern;
        const char* path;
        bool caseSensitive;
        bool matches;
    } cases[] = {
        {"*.pdf", "/a/report.pdf", false, true},
        {"*.pdf", "/a/Report.PDF", false, true},
        {"*.pdf", "/a/report.pdf.bak", false, false},
        {"*.pdf", "/a/report.pdf ", false, false},
        {"?.txt", "/a/a.txt", false, true},
        {"?.txt", "/a/ab.txt", false, false},
        {"?.txt", "/a/.txt", false, false},
        {"a*b", "/a/ab", false, true},
        {"a*b", "/a/a-long-b", false, true},
        {"*", "/a/anything at all", false, true},
        {"*.PDF", "/a/report.pdf", true, false},
        {"*.PDF", "/a/report.PDF", true, true},
        // Characters with a meaning in expressions stand for themselves.
        {"a+b.txt?", "/a/a+b.txt1", false, true},
        {"a+b.txt?", "/a/aab.txt1", false, false},
        {"[x](y)$.{2}", "/a/[x](y)$.{2}", false, true},
        {"[x]", "/a/x", false, false},
        {"a\\*", "/a/a\\bc", false, true},  // a backslash stays literal, the star still a wildcard
        // One character is one user-perceived character, and names are compared composed.
        {"?.txt", "/a/报.txt", false, true},
        {"caf?.txt", "/a/cafe\u0301.txt", false, true},
        // A line break is not matched by a wildcard.
        {"a*b", "/a/a\nb", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.pattern + "\" should " + (c.matches ? "" : "NOT ") + "match \"" + c.path +
                     "\"" + (c.caseSensitive ? " (case-sensitive)" : ""));
        EXPECT_EQ(SearchEngine::matchesWildcard(fileAt(c.path).ref(), c.pattern, c.caseSensitive), c.matches);
    }
}

TEST(SearchFilters, DirectWildcardMatchAgreesWithTheExpression)
{
    // For an ASCII pattern and a plain name the direct match gives the
    // expression's answer, with or without case.
    const char* names[] = {"report.PDF", "Report final.pdf", "a", "", "ab", "aab", "报告.pdf", "Ré?.txt",
                           "IMG_1234.JPG", "x*y", "q?z", "...", "résumé", "a.b.c"};
    const char* patterns[] = {"*.pdf", "*", "?", "??", "a*b", "*a*b*", "r?port*", "IMG_12??.*", "*.?", "x*y",
                              "q\\?z", "*.*.*", "?*?", "r*", "*\\*"};
    for (bool caseSensitive : {false, true}) {
        for (const char* p : patterns) {
            for (const char* n : names) {
                const IndexedItem item = fileAt(std::string("/d/") + n + (std::string(n).empty() ? "x" : ""));
                if (!ItemFacts::of(item.ref()).has(ItemFacts::PlainName))
                    continue;
                SCOPED_TRACE(std::string(p) + " on " + std::string(item.name()) + (caseSensitive ? " (case)" : ""));
                EXPECT_EQ(matchesPlainWildcard(item.name(), p, caseSensitive),
                          SearchEngine::matchesWildcard(item.ref(), p, caseSensitive));
            }
        }
    }
}
