#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "Core/Search/SearchParser.h"

using namespace pallix;

namespace {

// 2024-03-15 14:30:45.25 in Asia/Shanghai (UTC+8).
constexpr double kNow = 1710484245.25;

class SearchParserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // ctest sets it too; a direct run of the binary must see the same zone.
        ::setenv("TZ", "Asia/Shanghai", 1);
        ::tzset();
    }

    SearchQuery parse(std::string_view text, double now = kNow) const
    {
        SearchParser parser(std::make_shared<FakeClock>(now));
        return parser.parse(text, {SearchContentFilter::All}, false, SearchMatchMode::Contains,
                            SearchSortField::Name, true, true);
    }

    using Tokens = std::vector<std::string>;
};

} // namespace

TEST_F(SearchParserTest, BlankTextGivesAnEmptyQueryKeepingTheRawText)
{
    for (const char* text : {"", "   ", "\t\n", "\u3000 \u3000"}) {
        SCOPED_TRACE(text);
        SearchQuery q = parse(text);
        EXPECT_EQ(q.rawText, text);
        EXPECT_TRUE(q.tokens.empty());
        EXPECT_FALSE(q.pathFilter || q.extensionFilter || q.typeFilter || q.modifiedAfter || q.wildcardPattern);
        EXPECT_FALSE(q.useRegularExpression);
    }
}

TEST_F(SearchParserTest, CarriesTheCallersOptions)
{
    SearchParser parser(std::make_shared<FakeClock>(kNow));
    SearchQuery q = parser.parse("a", {SearchContentFilter::Images, SearchContentFilter::Folders}, true,
                                 SearchMatchMode::Suffix, SearchSortField::ModifiedAt, false, false);
    EXPECT_EQ(q.contentFilters, (std::set<SearchContentFilter>{SearchContentFilter::Images, SearchContentFilter::Folders}));
    EXPECT_TRUE(q.caseSensitive);
    EXPECT_EQ(q.matchMode, SearchMatchMode::Suffix);
    EXPECT_EQ(q.sortField, SearchSortField::ModifiedAt);
    EXPECT_FALSE(q.ascending);
    EXPECT_FALSE(q.excludeSystemJunk);
}

TEST_F(SearchParserTest, InlinePrefixes)
{
    SearchQuery q = parse("报告 ext:PDF");
    EXPECT_EQ(q.tokens, Tokens{"报告"});
    EXPECT_EQ(q.extensionFilter, "pdf");

    q = parse("Path:/Users/A/Docs invoice");
    EXPECT_EQ(q.pathFilter, "/Users/A/Docs");
    EXPECT_EQ(q.tokens, Tokens{"invoice"});

    // A space splits a folder path into two parts.
    q = parse("path:/a/My Docs");
    EXPECT_EQ(q.pathFilter, "/a/My");
    EXPECT_EQ(q.tokens, Tokens{"Docs"});

    q = parse("ext:");
    EXPECT_EQ(q.extensionFilter, "");

    q = parse("re:");
    EXPECT_TRUE(q.useRegularExpression);
    EXPECT_EQ(q.tokens, Tokens{""});

    // The expression keeps its case and its punctuation.
    q = parse("RE:^Inv.*\\d+ plain");
    EXPECT_TRUE(q.useRegularExpression);
    EXPECT_EQ(q.tokens, (Tokens{"^Inv.*\\d+", "plain"}));

    // The last of several parts of one kind wins.
    q = parse("ext:txt ext:md path:/a path:/b");
    EXPECT_EQ(q.extensionFilter, "md");
    EXPECT_EQ(q.pathFilter, "/b");
}

TEST_F(SearchParserTest, TypeValues)
{
    EXPECT_EQ(parse("type:dir").typeFilter, IndexedItem::ItemType::Folder);
    EXPECT_EQ(parse("type:FOLDER").typeFilter, IndexedItem::ItemType::Folder);
    EXPECT_EQ(parse("TYPE:file").typeFilter, IndexedItem::ItemType::File);
    EXPECT_EQ(parse("type:files").typeFilter, std::nullopt);
    // An unknown value leaves an earlier one alone.
    EXPECT_EQ(parse("type:dir type:x").typeFilter, IndexedItem::ItemType::Folder);
}

TEST_F(SearchParserTest, WildcardPatterns)
{
    SearchQuery q = parse("IMG_*.jpg");
    EXPECT_EQ(q.wildcardPattern, "IMG_*.jpg");
    EXPECT_TRUE(q.tokens.empty());

    EXPECT_EQ(parse("what?").wildcardPattern, "what?");
    // The full-width question mark is a separator, not a wildcard.
    q = parse("什么？");
    EXPECT_EQ(q.wildcardPattern, std::nullopt);
    EXPECT_EQ(q.tokens, Tokens{"什么"});

    EXPECT_EQ(parse("a* b?").wildcardPattern, "b?");
    // A prefix is recognised first: the star belongs to the expression.
    q = parse("re:a*");
    EXPECT_EQ(q.wildcardPattern, std::nullopt);
    EXPECT_EQ(q.tokens, Tokens{"a*"});
}

TEST_F(SearchParserTest, TokensAreCutAtPunctuationAndSymbols)
{
    struct Case {
        const char* text;
        Tokens tokens;
    } cases[] = {
        {"photo.final-rev_(copy)", {"photo", "final", "rev", "copy"}},
        {"a+b", {"a", "b"}},
        {"《合同》", {"合同"}},
        {"ext：pdf", {"ext", "pdf"}},  // the full-width colon makes no prefix
        {"【报价】单·2024…终稿", {"报价", "单", "2024", "终稿"}},
        {"a€b£c", {"a", "b", "c"}},  // currency symbols (Sc)
        {"!!!", {}},
        {"Report  2024\tQ1", {"Report", "2024", "Q1"}},
        {"x\u3000y", {"x", "y"}},  // the ideographic space separates parts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse(c.text).tokens, c.tokens);
    }
}

TEST_F(SearchParserTest, TokensAreComposed)
{
    EXPECT_EQ(parse("Cafe\u0301").tokens, Tokens{"Caf\u00e9"});
}

// The typed words the name tokens came from, whole, without the inline parts.
TEST_F(SearchParserTest, NameWordsKeepTheirSeparators)
{
    const SearchQuery q = parse(" AB-1024\u3000sku_2024 ext:pdf path:/a dm:today re:x a*b Cafe\u0301! ");
    EXPECT_EQ(q.nameWords, (Tokens{"AB-1024", "sku_2024", "Caf\u00e9!"}));
    EXPECT_EQ(q.tokens, (Tokens{"AB", "1024", "sku", "2024", "x", "Caf\u00e9"}));
    EXPECT_TRUE(parse("!!!").tokens.empty());
    EXPECT_EQ(parse("!!!").nameWords, Tokens{"!!!"});
}

TEST_F(SearchParserTest, PrefixesAreRemovedByUserPerceivedCharacters)
{
    // The combining mark belongs to the colon's character, so it goes with the prefix.
    EXPECT_EQ(parse("ext:\u0301pdf").extensionFilter, "pdf");
    EXPECT_EQ(parse("path:\u0301/a").pathFilter, "/a");
}

TEST_F(SearchParserTest, ModifiedAfterForms)
{
    struct Case {
        const char* text;
        std::optional<double> expected;
    } cases[] = {
        {"dm:today", 1710432000.0},                 // 2024-03-15 00:00 +08
        {"dm:TODAY", 1710432000.0},
        {"dm:yesterday", 1710345600.0},             // 2024-03-14 00:00 +08
        {"dm:last7d", 1709879445.25},               // 2024-03-08 14:30:45.25 +08
        {"dm:last30d", 1707892245.25},              // 2024-02-14, through 29 February
        {"dm:2024-03-01", 1709222400.0},            // midnight local time
        {"dm:2024-3-1", 1709222400.0},
        {"dm:2024-02-29", 1709136000.0},
        {"dm:2023-02-29", std::nullopt},            // no such day
        {"dm:2024-13-01", std::nullopt},
        {"dm:2024-03-01x", std::nullopt},           // nothing may follow the date
        {"dm:2024/03/01", std::nullopt},
        {"dm:soon", std::nullopt},
        {"dm:", std::nullopt},
        {"dm:today dm:soon", std::nullopt},         // a later unreadable value clears an earlier one
        {"dm:soon dm:2024-03-01", 1709222400.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<Date> got = parse(c.text).modifiedAfter;
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.expected);
        }
    }
}

TEST_F(SearchParserTest, RelativeDatesCrossTheYear)
{
    const double now = 1704040200.0;  // 2024-01-01 00:30 +08
    EXPECT_EQ(parse("dm:yesterday", now).modifiedAfter, 1703952000.0);  // 2023-12-31 00:00
    EXPECT_EQ(parse("dm:last30d", now).modifiedAfter, 1701448200.0);    // 2023-12-02 00:30
}

TEST_F(SearchParserTest, QueriesDifferingOnlyInJunkExclusionAreUnequal)
{
    SearchParser parser(std::make_shared<FakeClock>(kNow));
    auto q = [&](bool junk) {
        return parser.parse("x", {}, false, SearchMatchMode::Contains, SearchSortField::Name, true, junk);
    };
    EXPECT_EQ(q(true), q(true));
    EXPECT_NE(q(true), q(false));
}
