#include "Core/Indexer/WatchTree.h"

namespace pallix {

WatchTree::Placement WatchTree::place(int wd, int parent, std::string_view name)
{
    const auto it = m_entries.find(wd);
    if (parent != kTop && !m_entries.contains(parent))
        return it == m_entries.end() ? Placement::Orphaned : Placement::Kept;
    if (it == m_entries.end()) {
        link(wd, m_entries[wd], parent, name);
        return Placement::Added;
    }
    Entry& entry = it->second;
    if (entry.parent == parent && entry.name == name)
        return Placement::Same;
    // A folder met below its own place (a bind mount of a folder inside
    // itself) would make the path endless; one already placed stays placed.
    if (parent == kTop || isAtOrAbove(wd, parent))
        return Placement::Kept;
    const bool loose = entry.parent == kTop || entry.parent == kDetached;
    unlink(wd, entry);
    link(wd, entry, parent, name);
    return loose ? Placement::Attached : Placement::Moved;
}

void WatchTree::detach(int wd)
{
    const auto it = m_entries.find(wd);
    if (it == m_entries.end())
        return;
    unlink(wd, it->second);
    it->second.parent = kDetached;
}

bool WatchTree::isDetached(int wd) const
{
    const auto it = m_entries.find(wd);
    return it != m_entries.end() && it->second.parent == kDetached;
}

std::vector<int> WatchTree::removeTree(int wd)
{
    if (!m_entries.contains(wd))
        return {};
    std::vector<int> doomed{wd};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        const int folder = doomed[i];
        for (auto it = m_byName.lower_bound(Key{folder, {}}); it != m_byName.end() && it->first.first == folder; ++it)
            doomed.push_back(it->second);
    }
    for (const int gone : doomed) {
        const auto it = m_entries.find(gone);
        unlink(gone, it->second);
        m_entries.erase(it);
    }
    return doomed;
}

std::vector<int> WatchTree::removeTopsAt(std::string_view folder)
{
    std::vector<int> tops;
    if (const auto top = find(kTop, folder))
        tops.push_back(*top);
    const std::string prefix = std::string(folder) + (folder.ends_with('/') ? "" : "/");
    for (auto it = m_byName.lower_bound(Key{kTop, prefix});
         it != m_byName.end() && it->first.first == kTop && it->first.second.starts_with(prefix); ++it)
        tops.push_back(it->second);
    std::vector<int> removed;
    for (const int top : tops) {
        const std::vector<int> tree = removeTree(top);
        removed.insert(removed.end(), tree.begin(), tree.end());
    }
    return removed;
}

std::optional<int> WatchTree::find(int parent, std::string_view name) const
{
    const auto it = m_byName.find(Key{parent, name});
    if (it == m_byName.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::string> WatchTree::path(int wd) const
{
    std::vector<const Entry*> chain;
    std::size_t length = 0;
    for (int at = wd;;) {
        const auto it = m_entries.find(at);
        if (it == m_entries.end() || it->second.parent == kDetached)
            return std::nullopt;
        chain.push_back(&it->second);
        length += it->second.name.size() + 1;
        if (it->second.parent == kTop)
            break;
        at = it->second.parent;
    }
    std::string path;
    path.reserve(length);
    path = chain.back()->name;
    for (auto entry = chain.rbegin() + 1; entry != chain.rend(); ++entry) {
        if (path.empty() || path.back() != '/')  // "/" has no second slash
            path += '/';
        path += (*entry)->name;
    }
    return path;
}

void WatchTree::unlink(int wd, Entry& entry)
{
    if (entry.parent == kDetached)
        return;
    if (const auto it = m_byName.find(Key{entry.parent, entry.name}); it != m_byName.end() && it->second == wd)
        m_byName.erase(it);
}

void WatchTree::link(int wd, Entry& entry, int parent, std::string_view name)
{
    entry.parent = parent;
    entry.name.assign(name);
    const auto [it, added] = m_byName.try_emplace(Key{parent, entry.name}, wd);
    if (added)
        return;
    // Another folder had this name here: it is gone (deleted or moved away)
    // and the event saying so is not read yet. Its key views its own name, so
    // the key is made anew on ours.
    m_entries.at(it->second).parent = kDetached;
    m_byName.erase(it);
    m_byName.emplace(Key{parent, entry.name}, wd);
}

bool WatchTree::isAtOrAbove(int wd, int descendant) const
{
    for (int at = descendant; at >= 0;) {
        if (at == wd)
            return true;
        const auto it = m_entries.find(at);
        if (it == m_entries.end())
            return false;
        at = it->second.parent;
    }
    return false;
}

} // namespace pallix
