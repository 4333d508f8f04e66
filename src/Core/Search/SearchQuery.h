#pragma once
// SearchQuery: what the user typed, parsed, plus the window's options.
// A value made once per search and never changed afterwards.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Models/IndexedItem.h"

namespace pallix {

enum class SearchMatchMode { Contains, Prefix, Suffix, Exact };
enum class SearchSortField { Name, Path, Size, ModifiedAt };
enum class SearchContentFilter { All, Folders, Images, Documents, Videos, Normal, Archives, Executables };

// Raw values ("contains", "modifiedAt", "executables"...) and back; nothing for any other text.
std::string_view rawValue(SearchMatchMode m);
std::string_view rawValue(SearchSortField f);
std::string_view rawValue(SearchContentFilter f);
std::optional<SearchMatchMode> searchMatchModeFromRaw(std::string_view raw);
std::optional<SearchSortField> searchSortFieldFromRaw(std::string_view raw);
std::optional<SearchContentFilter> searchContentFilterFromRaw(std::string_view raw);

struct SearchQuery {
    std::string rawText;                                   // as given, untrimmed
    std::vector<std::string> tokens;                       // name tokens, case kept, NFC
    // The typed parts between white space that gave the name tokens, whole
    // (NFC): "AB-1024" is one word of two tokens.
    std::vector<std::string> nameWords;
    std::optional<std::string> pathFilter;                 // after "path:", case kept
    std::optional<std::string> extensionFilter;            // after "ext:", lower-cased
    std::optional<IndexedItem::ItemType> typeFilter;       // from "type:"
    std::set<SearchContentFilter> contentFilters;          // empty or {All}: no category filter
    std::optional<Date> modifiedAfter;                     // from the last "dm:"
    bool caseSensitive = false;
    SearchMatchMode matchMode = SearchMatchMode::Contains;
    bool useRegularExpression = false;                     // any "re:" part
    std::optional<std::string> wildcardPattern;            // last part with "*" or "?"
    SearchSortField sortField = SearchSortField::Name;
    bool ascending = true;
    bool excludeSystemJunk = true;

    friend bool operator==(const SearchQuery&, const SearchQuery&) = default;
};

} // namespace pallix
