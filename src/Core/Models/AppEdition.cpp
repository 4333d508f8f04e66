#include "Core/Models/AppEdition.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace pallix {

std::string AppEditionInfo::applicationIdentifier()
{
    if (const char* env = std::getenv("PALLIX_APP_ID"))
        return env;
    return PALLIX_APP_ID;
}

AppEdition AppEditionInfo::forIdentifier(std::string_view identifier)
{
    std::string lowered(identifier);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered.find("qel") != std::string::npos ? AppEdition::Qel : AppEdition::Mardell;
}

AppEdition AppEditionInfo::current()
{
    return forIdentifier(applicationIdentifier());
}

std::string_view AppEditionInfo::defaultsPrefix(AppEdition e)
{
    return e == AppEdition::Qel ? "PallixQel." : "PallixMardell.";
}

std::string_view AppEditionInfo::folderName(AppEdition e)
{
    return e == AppEdition::Qel ? "珀溪qel" : "珀溪岚辰";
}

} // namespace pallix
