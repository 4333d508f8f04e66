#include "Core/Search/SearchQuery.h"

#include <array>
#include <utility>

namespace pallix {

namespace {

constexpr std::array<std::pair<SearchMatchMode, std::string_view>, 4> kMatchModes{{
    {SearchMatchMode::Contains, "contains"},
    {SearchMatchMode::Prefix, "prefix"},
    {SearchMatchMode::Suffix, "suffix"},
    {SearchMatchMode::Exact, "exact"},
}};

constexpr std::array<std::pair<SearchSortField, std::string_view>, 4> kSortFields{{
    {SearchSortField::Name, "name"},
    {SearchSortField::Path, "path"},
    {SearchSortField::Size, "size"},
    {SearchSortField::ModifiedAt, "modifiedAt"},
}};

constexpr std::array<std::pair<SearchContentFilter, std::string_view>, 8> kContentFilters{{
    {SearchContentFilter::All, "all"},
    {SearchContentFilter::Folders, "folders"},
    {SearchContentFilter::Images, "images"},
    {SearchContentFilter::Documents, "documents"},
    {SearchContentFilter::Videos, "videos"},
    {SearchContentFilter::Normal, "normal"},
    {SearchContentFilter::Archives, "archives"},
    {SearchContentFilter::Executables, "executables"},
}};

template <typename Enum, std::size_t N>
std::string_view toRaw(const std::array<std::pair<Enum, std::string_view>, N>& table, Enum value)
{
    for (const auto& [e, raw] : table)
        if (e == value)
            return raw;
    return {};
}

template <typename Enum, std::size_t N>
std::optional<Enum> fromRaw(const std::array<std::pair<Enum, std::string_view>, N>& table, std::string_view raw)
{
    for (const auto& [e, r] : table)
        if (r == raw)
            return e;
    return std::nullopt;
}

} // namespace

std::string_view rawValue(SearchMatchMode m) { return toRaw(kMatchModes, m); }
std::string_view rawValue(SearchSortField f) { return toRaw(kSortFields, f); }
std::string_view rawValue(SearchContentFilter f) { return toRaw(kContentFilters, f); }

std::optional<SearchMatchMode> searchMatchModeFromRaw(std::string_view raw) { return fromRaw(kMatchModes, raw); }
std::optional<SearchSortField> searchSortFieldFromRaw(std::string_view raw) { return fromRaw(kSortFields, raw); }
std::optional<SearchContentFilter> searchContentFilterFromRaw(std::string_view raw)
{
    return fromRaw(kContentFilters, raw);
}

} // namespace pallix
