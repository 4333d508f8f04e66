#include <gtest/gtest.h>

#include "Core/Search/SearchQuery.h"

using namespace pallix;

TEST(SearchQuery, RawValuesRoundTrip)
{
    const std::pair<SearchMatchMode, const char*> modes[] = {
        {SearchMatchMode::Contains, "contains"}, {SearchMatchMode::Prefix, "prefix"},
        {SearchMatchMode::Suffix, "suffix"}, {SearchMatchMode::Exact, "exact"}};
    for (auto [mode, raw] : modes) {
        EXPECT_EQ(rawValue(mode), raw);
        EXPECT_EQ(searchMatchModeFromRaw(raw), mode);
    }
    const std::pair<SearchSortField, const char*> fields[] = {
        {SearchSortField::Name, "name"}, {SearchSortField::Path, "path"}, {SearchSortField::Size, "size"},
        {SearchSortField::ModifiedAt, "modifiedAt"}};
    for (auto [field, raw] : fields) {
        EXPECT_EQ(rawValue(field), raw);
        EXPECT_EQ(searchSortFieldFromRaw(raw), field);
    }
    const std::pair<SearchContentFilter, const char*> filters[] = {
        {SearchContentFilter::All, "all"}, {SearchContentFilter::Folders, "folders"},
        {SearchContentFilter::Images, "images"}, {SearchContentFilter::Documents, "documents"},
        {SearchContentFilter::Videos, "videos"}, {SearchContentFilter::Normal, "normal"},
        {SearchContentFilter::Archives, "archives"}, {SearchContentFilter::Executables, "executables"}};
    for (auto [filter, raw] : filters) {
        EXPECT_EQ(rawValue(filter), raw);
        EXPECT_EQ(searchContentFilterFromRaw(raw), filter);
    }
}

TEST(SearchQuery, UnknownRawValuesGiveNothing)
{
    EXPECT_EQ(searchMatchModeFromRaw("Contains"), std::nullopt);
    EXPECT_EQ(searchSortFieldFromRaw("modifiedat"), std::nullopt);
    EXPECT_EQ(searchContentFilterFromRaw(""), std::nullopt);
}

TEST(SearchQuery, EqualityComparesEveryField)
{
    SearchQuery a;
    a.tokens = {"a", "b"};
    SearchQuery b = a;
    EXPECT_EQ(a, b);
    b.tokens = {"b", "a"};
    EXPECT_NE(a, b);  // token order matters
    b = a;
    b.extensionFilter = "";
    EXPECT_NE(a, b);  // absent differs from empty
    b = a;
    b.modifiedAfter = 0.0;
    EXPECT_NE(a, b);
}
