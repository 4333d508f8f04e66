#include "Core/Models/IndexedItem.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "Platform/FileNames.h"
#include "Platform/Text.h"

namespace pallix {

namespace paths {

namespace {

// Absolute, with no empty, "." or ".." component and no trailing "/": what
// standardize() would give back unchanged. Most paths a walk makes are.
bool isStandard(std::string_view path)
{
    if (path.empty() || path.front() != '/')
        return false;
    if (path.size() == 1)
        return true;
    if (path.back() == '/')
        return false;
    for (std::size_t slash = 0; slash != std::string_view::npos; slash = path.find('/', slash + 1)) {
        const std::string_view part = path.substr(slash + 1, path.find('/', slash + 1) - slash - 1);
        if (part.empty() || part == "." || part == "..")
            return false;
    }
    return true;
}

} // namespace

std::vector<std::string> standardizeAll(const std::vector<std::string>& paths)
{
    std::vector<std::string> out;
    out.reserve(paths.size());
    for (const std::string& path : paths)
        out.push_back(standardize(path));
    return out;
}

std::string standardize(std::string_view path)
{
    if (isStandard(path))
        return std::string(path);
    std::string absolute;
    if (path.empty() || path.front() != '/') {
        // A relative location is taken against the working directory, as a file URL is.
        std::vector<char> buf(4096);
        while (!::getcwd(buf.data(), buf.size())) {
            if (errno != ERANGE) {
                buf.assign(2, '\0');
                buf[0] = '/';
                break;
            }
            buf.resize(buf.size() * 2);
        }
        absolute = buf.data();
        absolute += '/';
    }
    absolute += path;

    std::vector<std::string_view> parts;
    std::string_view rest(absolute);
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    out.reserve(absolute.size());
    for (std::string_view part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? std::string("/") : out;
}

namespace {
std::string_view trimTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// Offset of the extension's dot in `name`, or npos. A leading dot (".bashrc")
// or a trailing one ("notes.") gives no extension.
std::size_t extensionDot(std::string_view name)
{
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return std::string_view::npos;
    return dot;
}
} // namespace

std::string_view lastComponent(std::string_view path)
{
    path = trimTrailingSlashes(path);
    if (path == "/")
        return {};
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view deletingLastComponent(std::string_view path)
{
    path = trimTrailingSlashes(path);
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return trimTrailingSlashes(path.substr(0, slash));
}

std::string_view extension(std::string_view name)
{
    std::size_t dot = extensionDot(name);
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

std::string_view deletingExtension(std::string_view name)
{
    std::size_t dot = extensionDot(name);
    return dot == std::string_view::npos ? name : name.substr(0, dot);
}

bool isUnder(std::string_view path, std::string_view folder)
{
    folder = trimTrailingSlashes(folder);
    if (folder == "/")
        return !path.empty() && path.front() == '/';
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0)
        return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

} // namespace paths

namespace {

Date toDate(const struct statx_timestamp& ts)
{
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

Date toDate(const struct timespec& ts)
{
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Metadata of the entry itself: a symbolic link is reported as a link, never as its target.
std::optional<FileMetadata> readMetadata(const std::string& path)
{
    FileMetadata meta;
    struct statx sx {};
    const unsigned mask = STATX_TYPE | STATX_MTIME | STATX_BTIME | STATX_SIZE;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, &sx) == 0) {
        if (!(sx.stx_mask & STATX_TYPE))
            return std::nullopt;
        const bool dir = S_ISDIR(sx.stx_mode);
        meta.isDirectory = dir;
        meta.isRegularFile = S_ISREG(sx.stx_mode);
        if (sx.stx_mask & STATX_MTIME)
            meta.contentModifiedAt = toDate(sx.stx_mtime);
        if (sx.stx_mask & STATX_BTIME)
            meta.createdAt = toDate(sx.stx_btime);
        if (!dir && (sx.stx_mask & STATX_SIZE))
            meta.fileSize = static_cast<std::int64_t>(sx.stx_size);
        return meta;
    }
    if (errno != ENOSYS && errno != EPERM)  // EPERM: statx refused by a seccomp filter
        return std::nullopt;

    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    const bool dir = S_ISDIR(st.st_mode);
    meta.isDirectory = dir;
    meta.isRegularFile = S_ISREG(st.st_mode);
    meta.contentModifiedAt = toDate(st.st_mtim);
    if (!dir)
        meta.fileSize = static_cast<std::int64_t>(st.st_size);
    return meta;
}

// Throws the coder's error for a key of the wrong type.
[[noreturn]] void throwMistyped(const nlohmann::json& value, const char* key, const char* expected)
{
    throw nlohmann::json::type_error::create(302, std::string("key \"") + key + "\" must be " + expected, &value);
}

std::string readString(const nlohmann::json& in, const char* key)
{
    const nlohmann::json& v = in.at(key);
    if (!v.is_string())
        throwMistyped(v, key, "a string");
    return v.get<std::string>();
}

} // namespace

std::optional<IndexedItem::ItemType> IndexedItem::itemTypeFromRaw(std::string_view raw)
{
    if (raw == "file")
        return ItemType::File;
    if (raw == "folder")
        return ItemType::Folder;
    return std::nullopt;
}

IndexedItem::IndexedItem(std::string_view path, std::string_view name, std::string_view parentPath,
                         std::string_view fileExtension, std::int64_t size, Date modifiedAt, ItemType type,
                         std::string_view searchableText)
    : m_size(size)
    , m_modifiedAt(modifiedAt)
    , m_type(type)
{
    // Forms come from the composed name, so that a decomposed spelling on disk
    // matches a typed (composed) token.
    const std::string composed = text::toNFC(name);
    const std::string searchName = text::lower(composed);
    const std::string stem = text::lower(paths::deletingExtension(composed));
    const std::string normalized = normalizedSearchText(searchName);
    const std::string normalizedStem = normalizedSearchText(stem);
    setFields({path}, {{{}, name, parentPath, fileExtension, searchName, normalized, stem, normalizedStem, searchableText}});
}

IndexedItem::IndexedItem(std::initializer_list<std::string_view> pathParts, const Fields& fields, std::int64_t size,
                         Date modifiedAt, ItemType type)
    : m_size(size)
    , m_modifiedAt(modifiedAt)
    , m_type(type)
{
    setFields(pathParts, fields);
}

IndexedItem::Fields IndexedItem::fieldsOf(const ItemRef& ref, std::string_view searchableText)
{
    return {{{},
             ref.name,
             ref.parentPath,
             ref.fileExtension,
             ref.searchName,
             ref.normalizedSearchName,
             ref.searchNameWithoutExtension,
             ref.normalizedSearchNameWithoutExtension,
             searchableText}};
}

void IndexedItem::setFields(std::initializer_list<std::string_view> pathParts, const Fields& fields)
{
    std::size_t total = 0;
    for (std::string_view part : pathParts)
        total += part.size();
    for (std::size_t f = Path + 1; f < FieldCount; ++f)
        total += fields[f].size();
    m_text.reserve(total);
    for (std::string_view part : pathParts)
        m_text.append(part);
    m_ends[Path] = static_cast<std::uint32_t>(m_text.size());
    for (std::size_t f = Path + 1; f < FieldCount; ++f) {
        m_text.append(fields[f]);
        m_ends[f] = static_cast<std::uint32_t>(m_text.size());
    }
}

IndexedItem IndexedItem::withSearchForms(const ItemRef& fields, std::string_view searchableText)
{
    return IndexedItem({fields.path}, fieldsOf(fields, searchableText), fields.size, fields.modifiedAt,
                       fields.isFolder ? ItemType::Folder : ItemType::File);
}

IndexedItem::IndexedItem(const JoinedFields& joined)
    : IndexedItem({joined.fields.parentPath, joined.separator, joined.fields.name}, fieldsOf(joined.fields, {}),
                  joined.fields.size, joined.fields.modifiedAt,
                  joined.fields.isFolder ? ItemType::Folder : ItemType::File)
{
}

std::optional<IndexedItem> IndexedItem::from(std::string_view path, const std::optional<FileMetadata>& metadata,
                                             std::string_view searchableText)
{
    // A path is kept as text: bytes that are not UTF-8 come escaped
    // (Platform/FileNames.h), and the system is asked by the bytes themselves.
    if (!text::isValidUtf8(path))
        return std::nullopt;

    const std::string given(path);
    std::optional<FileMetadata> meta = metadata ? metadata : readMetadata(filenames::toFileSystem(given));
    if (!meta || !meta->isDirectory)
        return std::nullopt;

    const std::string standardPath = paths::standardize(given);
    const std::string parent = paths::standardize(paths::deletingLastComponent(standardPath));
    const std::string_view last = paths::lastComponent(standardPath);
    const std::string_view name = last.empty() ? std::string_view(standardPath) : last;
    const std::string ext = text::lower(text::toNFC(paths::extension(last)));

    Date modified = meta->contentModifiedAt ? *meta->contentModifiedAt : meta->createdAt ? *meta->createdAt : kDistantPast;
    std::int64_t size = meta->fileSize.value_or(0);
    ItemType type = *meta->isDirectory ? ItemType::Folder : ItemType::File;
    return IndexedItem(standardPath, name, parent, ext, size, modified, type, searchableText);
}

std::string IndexedItem::normalizedSearchText(std::string_view text)
{
    // The fold already lower-cases.
    return text::foldLettersMarksNumbers(text);
}

ItemRef IndexedItem::ref() const
{
    ItemRef r;
    r.path = path();
    r.name = name();
    r.parentPath = parentPath();
    r.fileExtension = fileExtension();
    r.size = m_size;
    r.modifiedAt = m_modifiedAt;
    r.isFolder = m_type == ItemType::Folder;
    r.searchName = searchName();
    r.normalizedSearchName = normalizedSearchName();
    r.searchNameWithoutExtension = searchNameWithoutExtension();
    r.normalizedSearchNameWithoutExtension = normalizedSearchNameWithoutExtension();
    return r;
}

void IndexedItem::encode(nlohmann::json& out) const
{
    out = nlohmann::json::object();
    out["path"] = path();
    out["name"] = name();
    out["parentPath"] = parentPath();
    out["fileExtension"] = fileExtension();
    out["size"] = m_size;
    out["modifiedAt"] = m_modifiedAt;
    out["type"] = std::string(rawValue(m_type));
    out["searchableText"] = searchableText();
    out["searchName"] = searchName();
    out["normalizedSearchName"] = normalizedSearchName();
    out["searchNameWithoutExtension"] = searchNameWithoutExtension();
    out["normalizedSearchNameWithoutExtension"] = normalizedSearchNameWithoutExtension();
}

IndexedItem IndexedItem::decode(const nlohmann::json& in)
{
    const std::string path = readString(in, "path");
    const std::string name = readString(in, "name");
    const std::string parentPath = readString(in, "parentPath");
    const std::string fileExtension = readString(in, "fileExtension");

    const nlohmann::json& size = in.at("size");
    // Integers only: nlohmann would otherwise truncate 1.5 or wrap 2^64-1.
    if (!size.is_number_integer() ||
        (size.is_number_unsigned() && size.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())))
        throwMistyped(size, "size", "a 64-bit integer");

    const nlohmann::json& modified = in.at("modifiedAt");
    if (!modified.is_number())
        throwMistyped(modified, "modifiedAt", "a number");

    const nlohmann::json& type = in.at("type");
    std::optional<ItemType> parsed = type.is_string() ? itemTypeFromRaw(type.get_ref<const std::string&>()) : std::nullopt;
    if (!parsed)
        throwMistyped(type, "type", "\"file\" or \"folder\"");

    const std::string searchableText = readString(in, "searchableText");
    const std::string searchName = readString(in, "searchName");
    const std::string normalized = readString(in, "normalizedSearchName");
    const std::string stem = readString(in, "searchNameWithoutExtension");
    const std::string normalizedStem = readString(in, "normalizedSearchNameWithoutExtension");
    return IndexedItem({path},
                       {{{}, name, parentPath, fileExtension, searchName, normalized, stem, normalizedStem,
                         searchableText}},
                       size.get<std::int64_t>(), modified.get<double>(), *parsed);
}

} // namespace pallix

std::size_t std::hash<pallix::IndexedItem>::operator()(const pallix::IndexedItem& item) const noexcept
{
    std::size_t seed = 0;
    auto mix = [&seed](std::size_t h) { seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    std::hash<std::string_view> hs;
    mix(hs(item.path()));
    mix(hs(item.name()));
    mix(hs(item.parentPath()));
    mix(hs(item.fileExtension()));
    mix(std::hash<std::int64_t>{}(item.size()));
    mix(std::hash<double>{}(item.modifiedAt()));
    mix(std::hash<std::string_view>{}(pallix::IndexedItem::rawValue(item.type())));
    mix(hs(item.searchableText()));
    mix(hs(item.searchName()));
    mix(hs(item.normalizedSearchName()));
    mix(hs(item.searchNameWithoutExtension()));
    mix(hs(item.normalizedSearchNameWithoutExtension()));
    return seed;
}
