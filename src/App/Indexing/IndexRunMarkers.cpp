#include "App/Indexing/IndexRunMarkers.h"

#include <algorithm>

#include "Core/Config/EditionRule.h"

namespace pallix {

const std::string& IndexRunMarkers::startedAtKey()
{
    static const std::string key = editionDefaultsKey("localIndexRunStartedAt");
    return key;
}

const std::string& IndexRunMarkers::completedAtKey()
{
    static const std::string key = editionDefaultsKey("localIndexRunCompletedAt");
    return key;
}

const std::string& IndexRunMarkers::rootsKey()
{
    static const std::string key = editionDefaultsKey("localIndexRunRoots");
    return key;
}

void IndexRunMarkers::begin(std::vector<std::string> roots, double now)
{
    std::sort(roots.begin(), roots.end());
    m_defaults->setStringList(rootsKey(), roots);
    m_defaults->setDate(startedAtKey(), now);
    // A completion of an earlier run must not stand for this one, even when
    // the clock went backwards in between.
    m_defaults->remove(completedAtKey());
}

void IndexRunMarkers::complete(double now)
{
    m_defaults->setDate(completedAtKey(), now);
}

std::optional<std::vector<std::string>> IndexRunMarkers::unfinishedRoots() const
{
    if (!m_defaults->date(startedAtKey()) || m_defaults->date(completedAtKey()))
        return std::nullopt;
    return m_defaults->stringList(rootsKey()).value_or(std::vector<std::string>{});
}

} // namespace pallix
