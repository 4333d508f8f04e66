#include "App/Search/ImageContentRule.h"

#include <set>

namespace pallix::ImageContentRule {

bool isWanted(const SearchQuery& query, const AppSettings& settings)
{
    return settings.enableImageFuzzySearch && !query.useRegularExpression && !query.wildcardPattern
           && !query.extensionFilter && !query.typeFilter && !query.modifiedAfter && !query.pathFilter
           && !query.tokens.empty()
           && query.contentFilters != std::set<SearchContentFilter>{SearchContentFilter::Folders};
}

} // namespace pallix::ImageContentRule
