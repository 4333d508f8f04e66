#pragma once
// WatchTree: the watcher's table of watched folders, kept as a tree of names.
// Each watch has a parent watch and its own name; a top entry (a root, or a
// folder watched before the folder above it) holds its whole path instead. A
// path is assembled only when asked, by walking up the parents, so a chain of
// folders N deep costs memory in proportion to N, not N². A folder renamed or
// moved within the tree is one entry re-placed: the paths below it follow.
//
// Not thread-safe: the watcher calls it under its own lock.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pallix {

class WatchTree {
public:
    // The parent of a top entry, whose name is its whole path.
    static constexpr int kTop = -1;

    // What place() did with a watch.
    enum class Placement {
        Added,     // a new entry
        Same,      // it was there already
        Attached,  // a top or moved-away entry joined this place, its entries below with it
        Moved,     // it was elsewhere below a parent (the same folder reached twice, or a move not seen)
        Kept,      // left where it was: here it would lie inside itself, or a child would become top
        Orphaned,  // a new watch whose parent is not in the table: not recorded
    };

    // Records that `wd` is the folder `name` in the folder of watch `parent`
    // (or, with kTop, the folder whose whole path is `name`). The kernel hands
    // out one watch per folder, so a known watch met again is re-placed.
    Placement place(int wd, int parent, std::string_view name);

    // Takes `wd` out of its place (its folder was moved away) with the entries
    // below it, until place() puts it back or removeTree() drops it.
    void detach(int wd);
    bool isDetached(int wd) const;

    // Drops `wd` and every entry below it; returns the watches dropped.
    std::vector<int> removeTree(int wd);
    // Drops the top entry of `folder` and the top entries whose paths lie
    // under it, with everything below them; returns the watches dropped.
    std::vector<int> removeTopsAt(std::string_view folder);

    // The watch of `name` in the folder of watch `parent` (with kTop, of the top path `name`).
    std::optional<int> find(int parent, std::string_view name) const;

    // The standardised path of `wd`; none when unknown or moved away.
    std::optional<std::string> path(int wd) const;

    bool contains(int wd) const { return m_entries.contains(wd); }
    std::size_t size() const { return m_entries.size(); }

private:
    static constexpr int kDetached = -2;

    struct Entry {
        int parent = kTop;  // a watch, kTop, or kDetached (moved away, out of m_byName)
        std::string name;   // one component; the whole path for a top entry
    };
    using Key = std::pair<int, std::string_view>;  // (parent, name), viewing the entry's own name

    void unlink(int wd, Entry& entry);
    void link(int wd, Entry& entry, int parent, std::string_view name);
    bool isAtOrAbove(int wd, int descendant) const;

    std::unordered_map<int, Entry> m_entries;  // node-based: the names' addresses are stable
    // Ordered by parent first, so the entries below a folder are one range.
    std::map<Key, int> m_byName;
};

} // namespace pallix
