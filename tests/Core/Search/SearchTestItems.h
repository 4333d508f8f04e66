#pragma once
// Items and queries for the search tests, made from paths alone.

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"

namespace pallix::testing {

inline IndexedItem fileAt(std::string_view path, std::int64_t size = 0, Date modifiedAt = 1'700'000'000.0)
{
    FileMetadata m;
    m.isDirectory = false;
    m.fileSize = size;
    m.contentModifiedAt = modifiedAt;
    return *IndexedItem::from(path, m);
}

inline IndexedItem folderAt(std::string_view path, Date modifiedAt = 1'700'000'000.0)
{
    FileMetadata m;
    m.isDirectory = true;
    m.contentModifiedAt = modifiedAt;
    return *IndexedItem::from(path, m);
}

inline SearchQuery tokenQuery(std::vector<std::string> tokens, SearchMatchMode mode = SearchMatchMode::Contains,
                              bool caseSensitive = false)
{
    SearchQuery q;
    q.tokens = std::move(tokens);
    q.matchMode = mode;
    q.caseSensitive = caseSensitive;
    q.contentFilters = {SearchContentFilter::All};
    q.excludeSystemJunk = false;
    return q;
}

inline std::vector<std::string> pathsOf(const std::vector<IndexedItem>& items)
{
    std::vector<std::string> out;
    for (const IndexedItem& i : items)
        out.emplace_back(i.path());
    return out;
}

// Application identifiers of the two editions.
inline constexpr const char* kMardellId = "io.pallix.desktop";
inline constexpr const char* kQelId = "io.pallix.qel";

// Sets the application identifier for one scope, and restores the build's afterwards.
class ScopedAppId {
public:
    explicit ScopedAppId(const char* id)
    {
        if (const char* old = std::getenv("PALLIX_APP_ID"))
            m_old = old;
        ::setenv("PALLIX_APP_ID", id, 1);
    }
    ~ScopedAppId()
    {
        if (m_old)
            ::setenv("PALLIX_APP_ID", m_old->c_str(), 1);
        else
            ::unsetenv("PALLIX_APP_ID");
    }
    ScopedAppId(const ScopedAppId&) = delete;
    ScopedAppId& operator=(const ScopedAppId&) = delete;

private:
    std::optional<std::string> m_old;
};

} // namespace pallix::testing
