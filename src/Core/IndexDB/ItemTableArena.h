#pragma once
// Internal to ItemTable: the item flags and the helpers its source files share.

#include <limits>
#include <string_view>

#include "Core/IndexDB/ItemTable.h"

namespace pallix::itemtable {

enum Flag : std::uint16_t {
    Folder = 1 << 0,
    Side = 1 << 1,
    SearchNameStored = 1 << 2,
    StemStored = 1 << 3,
    NormalizedStored = 1 << 4,
    NormalizedStemStored = 1 << 5,
    ExtensionStored = 1 << 6,
};

constexpr std::size_t kMaxField = std::numeric_limits<std::uint16_t>::max();

inline bool startsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }
inline bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

inline std::uint64_t hashPath(std::string_view path) { return PathHash::finish(PathHash::of(path)); }

// The path of an item in `folder` named `name`: the root folder takes no second "/".
inline std::string_view separatorAfter(std::string_view folder) { return folder == "/" ? std::string_view() : "/"; }

// The path of a stored item is its folder joined with its name; anything else is kept on the side.
inline bool composes(const IndexedItem& item)
{
    const std::string_view path = item.path(), parent = item.parentPath(), name = item.name();
    if (name.empty() || name.find('/') != std::string_view::npos)
        return false;
    const std::string_view separator = separatorAfter(parent);
    return path.size() == parent.size() + separator.size() + name.size() && startsWith(path, parent) &&
           path.substr(parent.size(), separator.size()) == separator && endsWith(path, name);
}


} // namespace pallix::itemtable
