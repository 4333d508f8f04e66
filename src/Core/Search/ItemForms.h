#pragma once
// ItemForms: the comparable forms of one candidate that ranking and filtering
// compare with a PreparedQuery. A case-insensitive search reads the names'
// stored search forms and allocates nothing per candidate: path forms are
// assembled in thread-local buffers, and the lower-cased parent folder is
// cached per thread, since candidates arrive grouped by folder.
// Forms handed out are valid until the next NameForms/PathForms of the same
// thread is made; one candidate is worked on per thread at a time.

#include <cstddef>
#include <string_view>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/ItemFacts.h"

namespace pallix {

// cn, cnx, nn, nnx of one item.
struct NameForms {
    NameForms(const ItemRef& item, bool caseSensitive);

    std::string_view cn;   // lower-cased name (searchName), or the NFC name when case-sensitive
    std::string_view cnx;  // cn without its extension
    std::string_view nn;   // normalized name
    std::string_view nnx;  // normalized name without its extension

    std::size_t cnCount() const;
    std::size_t cnxCount() const;
    std::size_t nnCount() const;
    std::size_t nnxCount() const;

private:
    mutable std::size_t m_cnCount, m_cnxCount, m_nnCount, m_nnxCount;
};

// The parent folder's path as the path filter compares it: lower-cased (NFC), or NFC when case-sensitive.
std::string_view comparableParentPath(const ItemRef& item, bool caseSensitive);

// cp, np and pn of one item, each built on first use.
class PathForms {
public:
    // `folder`, when given, holds the forms of the item's parent folder, and
    // the item's path is that folder joined with its name (item.path is then
    // not read and may be empty).
    PathForms(const ItemRef& item, const NameForms& names, bool caseSensitive, const FolderForms* folder = nullptr);

    std::string_view comparablePath();     // cp: the path lower-cased (or as is when case-sensitive), NFC
    std::string_view normalizedPath();     // np: normalized(cp)
    std::string_view parentFolderName();   // pn: last component of the parent folder, in cp's case
    std::size_t comparablePathCount();
    std::size_t normalizedPathCount();

private:
    // The parent's comparable form from the per-thread cache, looked up once per candidate.
    std::string_view parentComparable();

    ItemRef m_item;  // a copy of the views: callers may pass a temporary
    const NameForms& m_names;
    const FolderForms* m_folder;  // set only for a case-insensitive search
    bool m_caseSensitive;
    // The path is parent + "/" + name, so its forms can be assembled from the
    // cached parent and the name's forms; worked out on first use.
    bool composes();
    enum : unsigned char { Unknown, Yes, No } m_composes = Unknown;
    bool m_parentReady = false, m_cpReady = false, m_npReady = false;
    std::size_t m_cpCount, m_npCount;
};

} // namespace pallix
