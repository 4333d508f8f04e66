#pragma once
// IndexedItem: one indexed file or folder, identified by its path.
// An immutable value once made; passed freely between threads.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace pallix {

// Seconds since 1970-01-01 UTC, as the databases store them.
using Date = double;
// Midnight UTC, 1 January of year 1.
inline constexpr Date kDistantPast = -62135596800.0;

// Metadata of one file-system entry, as read by statx (or given by a caller).
struct FileMetadata {
    std::optional<bool> isDirectory;        // absent: the record cannot be made
    std::optional<Date> contentModifiedAt;
    std::optional<Date> createdAt;          // birth time
    std::optional<std::int64_t> fileSize;   // absent for folders
    std::optional<bool> isRegularFile;      // read, unused by the record
};

// A non-owning view of one item's fields; what the search engine reads.
// Valid as long as the storage it points into.
struct ItemRef {
    std::string_view path;
    std::string_view name;
    std::string_view parentPath;
    std::string_view fileExtension;
    std::int64_t size = 0;
    Date modifiedAt = kDistantPast;
    bool isFolder = false;
    std::string_view searchName;
    std::string_view normalizedSearchName;
    std::string_view searchNameWithoutExtension;
    std::string_view normalizedSearchNameWithoutExtension;
};

class IndexedItem {
public:
    enum class ItemType { File, Folder };
    static std::string_view rawValue(ItemType t) { return t == ItemType::Folder ? "folder" : "file"; }
    static std::optional<ItemType> itemTypeFromRaw(std::string_view raw);

    IndexedItem() = default;
    // Derives the four search forms from `name`.
    IndexedItem(std::string path, std::string name, std::string parentPath, std::string fileExtension,
                std::int64_t size, Date modifiedAt, ItemType type, std::string searchableText = {});

    // The record of `fields` with the four search forms taken as they are, not
    // derived again: for a store that keeps the forms it derived on entry.
    static IndexedItem withSearchForms(const ItemRef& fields, std::string searchableText = {});
    // An item kept as its folder and its name, with the search forms it was stored with.
    struct JoinedFields {
        const ItemRef& fields;       // its path is not read
        std::string_view separator;  // between fields.parentPath and fields.name
    };
    // withSearchForms() for a JoinedFields: the path is joined straight into
    // the record's string at its final size. A constructor, so that a list of
    // results makes its records in place.
    explicit IndexedItem(const JoinedFields& joined);

    // Reads the entry at `path` without following a symbolic link (statx, then lstat),
    // unless `metadata` is given. `path` is the stored form (Platform/FileNames.h),
    // never raw bytes: nothing when it is not valid UTF-8, when the metadata
    // cannot be read, or has no is-directory value.
    static std::optional<IndexedItem> from(std::string_view path,
                                           const std::optional<FileMetadata>& metadata = std::nullopt,
                                           std::string searchableText = {});

    // Folds (zh_CN; case, diacritics, width), keeps letters, marks and numbers, lower-cases.
    static std::string normalizedSearchText(std::string_view text);

    const std::string& id() const { return m_path; }
    const std::string& path() const { return m_path; }
    const std::string& name() const { return m_name; }
    const std::string& parentPath() const { return m_parentPath; }
    const std::string& fileExtension() const { return m_fileExtension; }
    std::int64_t size() const { return m_size; }
    Date modifiedAt() const { return m_modifiedAt; }
    ItemType type() const { return m_type; }
    bool isDirectory() const { return m_type == ItemType::Folder; }
    const std::string& searchableText() const { return m_searchableText; }
    std::string_view searchName() const { return form(0); }
    std::string_view normalizedSearchName() const { return form(1); }
    std::string_view searchNameWithoutExtension() const { return form(2); }
    std::string_view normalizedSearchNameWithoutExtension() const { return form(3); }

    ItemRef ref() const;

    // Kind vocabulary (see FileKinds.cpp).
    bool isDocumentLike() const;
    bool isNormalFile() const;
    bool showsGridRasterPreview() const;
    std::string kindDescription() const;
    static int displayKindOrder(const IndexedItem& item);
    static int displayKindOrder(const ItemRef& item);
    static bool shouldExcludeAsSystemOrJunk(std::string_view path, std::string_view name,
                                            std::string_view fileExtension, bool isDirectory);
    static bool isLowPriorityToolingArtifact(const IndexedItem& item);
    static bool isLowPriorityToolingArtifact(const ItemRef& item);

    // Keyed coding form: the twelve fields by name; decoding takes the search
    // forms as stored and throws nlohmann::json exceptions on a missing or mistyped key.
    void encode(nlohmann::json& out) const;
    static IndexedItem decode(const nlohmann::json& in);

    friend bool operator==(const IndexedItem&, const IndexedItem&) = default;

private:
    // Every field of `fields` but the path as given, each string made once at its size.
    IndexedItem(std::string path, const ItemRef& fields, std::string searchableText);

    std::string_view form(std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : m_formEnds[i - 1];
        return std::string_view(m_searchForms).substr(begin, m_formEnds[i] - begin);
    }
    void setSearchForms(std::string_view searchName, std::string_view normalized, std::string_view stem,
                        std::string_view normalizedStem);

    std::string m_path;
    std::string m_name;
    std::string m_parentPath;
    std::string m_fileExtension;
    std::int64_t m_size = 0;
    Date m_modifiedAt = kDistantPast;
    ItemType m_type = ItemType::File;
    std::string m_searchableText;
    // The four search forms end to end, in the order of the accessors: one
    // block where four cost four allocations for every result record made.
    std::string m_searchForms;
    std::array<std::uint32_t, 4> m_formEnds{};
};

// Kind predicates on a view, shared by IndexedItem and the search cache.
namespace kinds {
bool isImageExtension(std::string_view ext);
// Every image extension (lower case), for a store that lists them in a query.
std::span<const std::string_view> imageExtensionList();
bool isDocumentExtension(std::string_view ext);
bool isArchiveExtension(std::string_view ext);
bool isVideoExtension(std::string_view ext);
bool isAudioExtension(std::string_view ext);
bool isExecutableExtension(std::string_view ext);
bool isDocumentLike(const ItemRef& item);
bool isNormalFile(const ItemRef& item);
bool showsGridRasterPreview(std::string_view ext);
} // namespace kinds

// Path helpers on standardised absolute paths.
namespace paths {
// Absolute, "." and ".." resolved, no redundant or trailing "/"; links not resolved.
std::string standardize(std::string_view path);
std::vector<std::string> standardizeAll(const std::vector<std::string>& paths);
std::string_view lastComponent(std::string_view path);
std::string_view deletingLastComponent(std::string_view path);  // "/" for top-level entries
std::string_view extension(std::string_view name);              // text after the last ".", or ""
std::string_view deletingExtension(std::string_view name);
// True when `path` equals `folder` or lies below it; "/" holds every absolute path.
bool isUnder(std::string_view path, std::string_view folder);
} // namespace paths

} // namespace pallix

template <>
struct std::hash<pallix::IndexedItem> {
    std::size_t operator()(const pallix::IndexedItem& item) const noexcept;
};
