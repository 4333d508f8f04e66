#pragma once
// Whether the image-content section searches for a query: the setting is on
// and the query is plain words under no filter the section cannot honour. The
// SKU-related section has its own rule (SkuRelatedSearch::isWanted). Pure;
// any thread.

#include "Core/Config/AppSettings.h"
#include "Core/Search/SearchQuery.h"

namespace pallix::ImageContentRule {

bool isWanted(const SearchQuery& query, const AppSettings& settings);

} // namespace pallix::ImageContentRule
