#pragma once
// IndexedItem: one indexed file or folder, identified by its path.
// An immutable value once made; passed freely between threads.

#include <array>
#include <cstdint>
#include <initializer_list>
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
    IndexedItem(std::string_view path, std::string_view name, std::string_view parentPath,
                std::string_view fileExtension, std::int64_t size, Date modifiedAt, ItemType type,
                std::string_view searchableText = {});

    // The record of `fields` with the four search forms taken as they are, not
    // derived again: for a store that keeps the forms it derived on entry.
    static IndexedItem withSearchForms(const ItemRef& fields, std::string_view searchableText = {});
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
                                           std::string_view searchableText = {});

    // Folds (zh_CN; case, diacritics, width), keeps letters, marks and numbers, lower-cases.
    static std::string normalizedSearchText(std::string_view text);

    // Views into the record: valid while it lives and is not assigned to.
    std::string_view id() const { return path(); }
    std::string_view path() const { return field(Path); }
    std::string_view name() const { return field(Name); }
    std::string_view parentPath() const { return field(ParentPath); }
    std::string_view fileExtension() const { return field(Extension); }
    std::int64_t size() const { return m_size; }
    Date modifiedAt() const { return m_modifiedAt; }
    ItemType type() const { return m_type; }
    bool isDirectory() const { return m_type == ItemType::Folder; }
    std::string_view searchableText() const { return field(SearchableText); }
    std::string_view searchName() const { return field(SearchName); }
    std::string_view normalizedSearchName() const { return field(NormalizedSearchName); }
    std::string_view searchNameWithoutExtension() const { return field(SearchStem); }
    std::string_view normalizedSearchNameWithoutExtension() const { return field(NormalizedSearchStem); }

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
    enum Field : std::size_t {
        Path,
        Name,
        ParentPath,
        Extension,
        SearchName,
        NormalizedSearchName,
        SearchStem,
        NormalizedSearchStem,
        SearchableText,
        FieldCount
    };
    // The fields by Field; the path's slot is not read, the path is given in parts to join.
    using Fields = std::array<std::string_view, FieldCount>;

    IndexedItem(std::initializer_list<std::string_view> pathParts, const Fields& fields, std::int64_t size,
                Date modifiedAt, ItemType type);
    static Fields fieldsOf(const ItemRef& ref, std::string_view searchableText);

    std::string_view field(Field f) const
    {
        const std::uint32_t begin = f == Path ? 0 : m_ends[f - 1];
        return std::string_view(m_text).substr(begin, m_ends[f] - begin);
    }

    void setFields(std::initializer_list<std::string_view> pathParts, const Fields& fields);

    // Every field end to end, in the order of Field: one allocation a record,
    // where a string each cost up to six for every result record made.
    std::string m_text;
    std::array<std::uint32_t, FieldCount> m_ends{};
    std::int64_t m_size = 0;
    Date m_modifiedAt = kDistantPast;
    ItemType m_type = ItemType::File;
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
