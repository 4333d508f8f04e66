#include <gtest/gtest.h>

#include "Core/Search/PreparedQuery.h"
#include "SearchTestItems.h"

using namespace pallix;
using namespace pallix::testing;

using Mode = PreparedQuery::Mode;

TEST(PreparedQuery, ModeOfEachKindOfQuery)
{
    struct Case {
        const char* what;
        SearchQuery query;
        Mode mode;
    };
    SearchQuery plain = tokenQuery({"a"});
    SearchQuery none = tokenQuery({});
    SearchQuery filtered = tokenQuery({});
    filtered.typeFilter = IndexedItem::ItemType::Folder;
    SearchQuery emptySet = tokenQuery({});
    emptySet.contentFilters.clear();
    SearchQuery regex = tokenQuery({"a", "b+"});
    regex.useRegularExpression = true;
    SearchQuery badRegex = tokenQuery({"a", "("});
    badRegex.useRegularExpression = true;
    SearchQuery regexNoTokens = filtered;
    regexNoTokens.useRegularExpression = true;
    SearchQuery wildcard = tokenQuery({"a"});
    wildcard.wildcardPattern = "*.txt";
    SearchQuery wildcardInRegex = badRegex;
    wildcardInRegex.wildcardPattern = "*.txt";
    SearchQuery symbolsOnly = tokenQuery({"a", "\u200B"});

    const Case cases[] = {
        {"plain tokens", plain, Mode::Ranked},
        {"nothing at all", none, Mode::Nothing},
        {"type filter only", filtered, Mode::FilterOnly},
        {"empty content-filter set", emptySet, Mode::FilterOnly},
        {"expressions", regex, Mode::RegexTokens},
        {"an expression that does not compile", badRegex, Mode::Nothing},
        {"expression mode without tokens", regexNoTokens, Mode::Nothing},
        {"wildcard", wildcard, Mode::Wildcard},
        {"wildcard wins in expression mode", wildcardInRegex, Mode::Wildcard},
        {"a token without letters or digits", symbolsOnly, Mode::Nothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PreparedQuery(c.query).mode, c.mode);
    }
}

TEST(PreparedQuery, TokenFormsAreBuiltOnce)
{
    SearchQuery q = tokenQuery({"Ｒé-Port", "报告"});
    PreparedQuery p(q);
    ASSERT_EQ(p.tokens.size(), 2u);
    EXPECT_EQ(p.tokens[0].comparable, "ｒé-port");
    EXPECT_EQ(p.tokens[0].normalized, "report");
    EXPECT_EQ(p.tokens[0].comparableCount, 7u);
    EXPECT_EQ(p.tokens[0].normalizedCount, 6u);
    EXPECT_EQ(p.tokens[1].comparableCount, 2u);
    EXPECT_FALSE(p.artifactToken);

    q.caseSensitive = true;
    q.tokens = {"Clang"};
    PreparedQuery cs(q);
    EXPECT_EQ(cs.tokens[0].comparable, "Clang");
    EXPECT_EQ(cs.tokens[0].normalized, "clang");
    EXPECT_EQ(cs.artifactToken, "Clang");
}
