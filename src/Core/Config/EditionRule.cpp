#include "Core/Config/EditionRule.h"

namespace pallix {

std::string editionDefaultsKey(AppEdition edition, std::string_view name)
{
    // defaultsPrefix already ends in the dot.
    std::string key(AppEditionInfo::defaultsPrefix(edition));
    key += name;
    return key;
}

std::string editionDefaultsKey(std::string_view name)
{
    return editionDefaultsKey(AppEditionInfo::current(), name);
}

std::string legacyDefaultsKey(std::string_view name)
{
    return "Orvandel." + std::string(name);
}

} // namespace pallix
