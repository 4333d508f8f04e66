#pragma once
// A source of items that keeps facts the way the store's cache does (folders
// interned once with their forms, the path assembled from folder and name),
// built straight from a list of records; and generators of varied items and
// queries for the tests that compare a search with facts against one without.

#include <map>
#include <tuple>
#include <random>
#include <string>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/ItemFacts.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchQuery.h"
#include "Core/Search/TextScan.h"
#include "Platform/Text.h"
#include "SearchTestItems.h"

namespace pallix::testing {

class FactsSource final : public ItemSource {
public:
    explicit FactsSource(const std::vector<IndexedItem>& items) : m_items(items)
    {
        for (const IndexedItem& item : items) {
            const std::string sep = item.parentPath() == "/" ? "" : "/";
            const bool joined = !item.name().empty() && item.name().find('/') == std::string::npos &&
                                item.path() == std::string(item.parentPath()) + sep + std::string(item.name());
            ItemFacts f = ItemFacts::of(item.ref(), joined);
            if (joined)
                f.folder = intern(std::string(item.parentPath()));
            m_facts.push_back(f);
        }
    }

    std::size_t size() const override { return m_items.size(); }
    ItemRef at(std::size_t i) const override { return m_items[i].ref(); }
    ItemRef atWithoutPath(std::size_t i) const override
    {
        ItemRef r = m_items[i].ref();
        if (m_facts[i].folder != ItemFacts::kNoFolder)
            r.path = {};  // as the store's cache: the engine must not need it
        return r;
    }
    const ItemFacts* facts() const override { return m_facts.data(); }
    std::size_t folderCount() const override { return m_folders.size(); }
    FolderForms folder(std::uint32_t id) const override
    {
        const Folder& f = m_folders[id];
        FolderForms forms;
        forms.path = f.path;
        forms.comparable = f.comparable;
        forms.normalized = f.normalized;
        forms.comparableCount = static_cast<std::uint32_t>(textscan::clusterCount(f.comparable));
        forms.normalizedCount = static_cast<std::uint32_t>(textscan::clusterCount(f.normalized));
        forms.asciiPath = f.ascii;
        forms.parent = f.parent;
        return forms;
    }

private:
    struct Folder {
        std::string path, comparable, normalized;
        bool ascii = false;
        std::uint32_t parent = ItemFacts::kNoFolder;
    };

    std::uint32_t intern(const std::string& path)
    {
        if (auto known = m_ids.find(path); known != m_ids.end())
            return known->second;
        Folder f;
        f.path = path;
        std::tie(f.comparable, f.normalized) = FolderForms::formsOf(path);
        f.ascii = text::isAscii(path);
        if (path != "/")
            if (auto parent = m_ids.find(std::string(paths::deletingLastComponent(path))); parent != m_ids.end())
                f.parent = parent->second;
        const auto id = static_cast<std::uint32_t>(m_folders.size());
        m_folders.push_back(std::move(f));
        m_ids.emplace(path, id);
        return id;
    }

    const std::vector<IndexedItem>& m_items;
    std::vector<ItemFacts> m_facts;
    std::vector<Folder> m_folders;
    std::map<std::string, std::uint32_t> m_ids;
};

// Names and folders that exercise every branch the filters take: ASCII and
// CJK, upper-case twins (results that compare equal), decomposed accents,
// letters whose case folding is ASCII, line breaks, punctuation, junk and
// developer-tool folders, long and short paths.
class ItemGenerator {
public:
    explicit ItemGenerator(unsigned seed) : m_rng(seed) {}

    std::string word()
    {
        static const char* parts[] = {"re",   "port", "an",    "nual", "plan", "x",     "2024", "doc",  "s",
                                      "lib",  "p",    "final", "img",  "b3b",  "报告",  "季度", "图",   "Re",
                                      "PORT", "Caf",  "e\xCC\x81", "\xC3\xA9", "\xE2\x84\xAA", "\xC5\xBF", "-",
                                      "_",    ".",    " ",     "node", "mod",  "ules",  "文件", "ok"};
        std::string w;
        for (int k = 0, n = 1 + int(m_rng() % 3); k < n; ++k)
            w += parts[m_rng() % std::size(parts)];
        return w;
    }

    std::string folder()
    {
        static const char* roots[] = {"/home/user", "/home/user/Documents", "/opt/Lib_Plan", "/home/user/.cache/x",
                                       "/usr/bin", "/proc/1", "/Users/me/Library/Caches", "/srv", "/",
                                       "/home/user/REPORT 2024", "/data/报告"};
        std::string f = roots[m_rng() % std::size(roots)];
        for (int d = 0, n = int(m_rng() % 4); d < n; ++d)
            f += (f == "/" ? "" : "/") + word();
        return f;
    }

    std::vector<IndexedItem> items(std::size_t count)
    {
        static const char* extensions[] = {"txt", "pdf", "PNG", "zip", "", "mp4", "sh", "vim", "o", "tar.gz", "md"};
        std::vector<IndexedItem> out;
        while (out.size() < count) {
            std::string folder = this->folder();
            for (int n = 1 + int(m_rng() % 6); n > 0 && out.size() < count; --n) {
                std::string name = word();
                if (m_rng() % 40 == 0)
                    name += m_rng() % 2 ? "\n" : "\r";
                const char* ext = extensions[m_rng() % std::size(extensions)];
                if (*ext)
                    name += std::string(".") + ext;
                const std::string sep = folder == "/" ? "" : "/";
                const auto size = static_cast<std::int64_t>(m_rng() % 5);
                const Date modified = 1'700'000'000.0 + double(m_rng() % 3);
                if (m_rng() % 7 == 0)
                    out.push_back(folderAt(folder + sep + name, modified));
                else
                    out.push_back(fileAt(folder + sep + name, size, modified));
                // Now and then a record whose parent field is not its path's
                // folder: the facts then name no folder for it.
                if (m_rng() % 150 == 0 && out.size() < count)
                    out.emplace_back(folder + sep + name + "-odd", name + "-odd", "/elsewhere", "", size, modified,
                                     IndexedItem::ItemType::File);
                // Twins that differ in letter case only compare equal.
                if (m_rng() % 5 == 0 && out.size() < count)
                    out.push_back(fileAt(folder + sep + text::upper(name), size, modified));
            }
        }
        return out;
    }

    // A token taken from a name or a folder of `items`, or made up.
    std::string token(const std::vector<IndexedItem>& items)
    {
        const IndexedItem& item = items[m_rng() % items.size()];
        const std::string_view from = m_rng() % 3 ? item.name() : item.path();
        std::string t;
        if (m_rng() % 6 == 0) {
            t = word();
        } else {
            const std::size_t at = m_rng() % from.size();
            t = from.substr(at, 1 + m_rng() % 6);
        }
        if (!text::isValidUtf8(t))
            t = word();
        if (m_rng() % 4 == 0)
            t = text::upper(t);
        return t;
    }

    std::mt19937& rng() { return m_rng; }

private:
    std::mt19937 m_rng;
};

} // namespace pallix::testing
