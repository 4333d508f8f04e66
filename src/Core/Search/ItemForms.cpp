#include "Core/Search/ItemForms.h"

#include <string>

#include "Core/Search/TextScan.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

// Per-thread buffers, grown to the longest path seen. A case-insensitive search
// allocates only when the parent folder changes and is not ASCII.
struct Scratch {
    // Forms of the last parent folder seen.
    std::string parentKey;
    bool parentValid = false;
    bool parentCaseSensitive = false;
    std::string parentComparable;
    std::string parentNormalized;
    bool parentNormalizedReady = false;

    // Case-sensitive name forms.
    std::string cn, nn, nnx;
    // Path forms of the current candidate.
    std::string cp, np, pn;
};

Scratch& scratch()
{
    thread_local Scratch s;
    return s;
}

void comparableInto(std::string_view s, bool caseSensitive, std::string& out)
{
    if (text::isAscii(s)) {
        out.assign(s);
        if (!caseSensitive)
            for (char& c : out)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c + ('a' - 'A'));
        return;
    }
    out = caseSensitive ? text::toNFC(s) : text::lower(text::toNFC(s));
}

Scratch& parentFormsOf(std::string_view parent, bool caseSensitive)
{
    Scratch& s = scratch();
    if (s.parentValid && s.parentCaseSensitive == caseSensitive && std::string_view(s.parentKey) == parent)
        return s;
    s.parentKey.assign(parent);
    s.parentCaseSensitive = caseSensitive;
    comparableInto(parent, caseSensitive, s.parentComparable);
    s.parentNormalizedReady = false;
    s.parentValid = true;
    return s;
}

bool composesFromParent(const ItemRef& item)
{
    std::string_view path = item.path, parent = item.parentPath, name = item.name;
    if (name.empty() || name.find('/') != std::string_view::npos)
        return false;
    const std::size_t slash = parent == "/" ? 0 : parent.size();
    return path.size() == slash + 1 + name.size() && path.compare(0, slash, parent.substr(0, slash)) == 0 &&
           path[slash] == '/' && path.compare(slash + 1, name.size(), name) == 0;
}

std::size_t cached(std::size_t& slot, std::string_view s)
{
    if (slot == kUnknown)
        slot = textscan::clusterCount(s);
    return slot;
}

} // namespace

NameForms::NameForms(const ItemRef& item, bool caseSensitive)
    : m_cnCount(kUnknown)
    , m_cnxCount(kUnknown)
    , m_nnCount(kUnknown)
    , m_nnxCount(kUnknown)
{
    if (!caseSensitive) {
        cn = item.searchName;
        cnx = item.searchNameWithoutExtension;
        nn = item.normalizedSearchName;
        nnx = item.normalizedSearchNameWithoutExtension;
        return;
    }
    Scratch& s = scratch();
    if (text::isAscii(item.name)) {
        cn = item.name;
    } else {
        s.cn = text::toNFC(item.name);
        cn = s.cn;
    }
    cnx = paths::deletingExtension(cn);
    text::foldLettersMarksNumbers(cn, s.nn);
    text::foldLettersMarksNumbers(cnx, s.nnx);
    nn = s.nn;
    nnx = s.nnx;
}

std::size_t NameForms::cnCount() const { return cached(m_cnCount, cn); }
std::size_t NameForms::cnxCount() const { return cached(m_cnxCount, cnx); }
std::size_t NameForms::nnCount() const { return cached(m_nnCount, nn); }
std::size_t NameForms::nnxCount() const { return cached(m_nnxCount, nnx); }

std::string_view comparableParentPath(const ItemRef& item, bool caseSensitive)
{
    return parentFormsOf(item.parentPath, caseSensitive).parentComparable;
}

PathForms::PathForms(const ItemRef& item, const NameForms& names, bool caseSensitive, const FolderForms* folder)
    : m_item(item)
    , m_names(names)
    , m_folder(caseSensitive ? nullptr : folder)
    , m_caseSensitive(caseSensitive)
    , m_cpCount(kUnknown)
    , m_npCount(kUnknown)
{
    // The folder's forms are the lower-cased ones: those of a case-insensitive
    // search. Either way the path is the folder's joined with the name.
    if (folder)
        m_composes = Yes;
}

bool PathForms::composes()
{
    if (m_composes == Unknown)
        m_composes = composesFromParent(m_item) ? Yes : No;
    return m_composes == Yes;
}

std::string_view PathForms::parentComparable()
{
    if (m_folder)
        return m_folder->comparable;
    if (!m_parentReady) {
        parentFormsOf(m_item.parentPath, m_caseSensitive);
        m_parentReady = true;
    }
    return scratch().parentComparable;
}

std::string_view PathForms::comparablePath()
{
    Scratch& s = scratch();
    if (m_cpReady)
        return s.cp;
    if (composes()) {
        // Neither NFC nor lower-casing reaches across "/": the parts can be done apart.
        s.cp.assign(parentComparable());
        if (m_item.parentPath != "/")
            s.cp.push_back('/');
        s.cp.append(m_names.cn);
    } else {
        comparableInto(m_item.path, m_caseSensitive, s.cp);
    }
    m_cpReady = true;
    return s.cp;
}

std::string_view PathForms::normalizedPath()
{
    Scratch& s = scratch();
    if (m_npReady)
        return s.np;
    if (m_folder) {
        s.np.assign(m_folder->normalized);
        s.np.append(m_names.nn);
    } else if (composes()) {
        // normalized() drops the "/" and folds each side alone, so the cached parent's
        // form followed by the name's normalized form is the path's.
        parentComparable();  // the cache now holds this item's parent
        if (!s.parentNormalizedReady) {
            text::foldLettersMarksNumbers(s.parentComparable, s.parentNormalized);
            s.parentNormalizedReady = true;
        }
        s.np.assign(s.parentNormalized);
        s.np.append(m_names.nn);
    } else {
        text::foldLettersMarksNumbers(comparablePath(), s.np);
    }
    m_npReady = true;
    return s.np;
}

std::string_view PathForms::parentFolderName()
{
    Scratch& s = scratch();
    std::string_view parent;
    if (composes()) {
        parent = parentComparable();
    } else {
        comparableInto(paths::deletingLastComponent(m_item.path), m_caseSensitive, s.pn);
        parent = s.pn;
    }
    // The last component of the root folder is "/" itself.
    return parent == "/" ? parent : paths::lastComponent(parent);
}

namespace {

// A cluster never spans the join of two texts when the byte before it and
// the one after it are ASCII other than CR and LF: no character joins such a
// neighbour into its cluster.
bool joinsApart(std::string_view head, std::string_view tail)
{
    const auto plain = [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r' && c != '\n'; };
    return (head.empty() || plain(head.back())) && (tail.empty() || plain(tail.front()));
}

} // namespace

std::size_t PathForms::comparablePathCount()
{
    if (m_cpCount != kUnknown)
        return m_cpCount;
    const std::string_view cp = comparablePath();
    // The folder's clusters are counted once for all its items.
    if (m_folder && joinsApart(m_folder->comparable, cp.substr(m_folder->comparable.size())))
        m_cpCount = m_folder->comparableCount + textscan::clusterCount(cp.substr(m_folder->comparable.size()));
    else
        m_cpCount = textscan::clusterCount(cp);
    return m_cpCount;
}

std::size_t PathForms::normalizedPathCount()
{
    if (m_npCount != kUnknown)
        return m_npCount;
    if (m_folder && joinsApart(m_folder->normalized, m_names.nn))
        m_npCount = m_folder->normalizedCount + m_names.nnCount();
    else
        m_npCount = textscan::clusterCount(normalizedPath());
    return m_npCount;
}

} // namespace pallix
