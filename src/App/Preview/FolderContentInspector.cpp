#include "App/Preview/FolderContentInspector.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

#include "Core/Models/IndexedItem.h"
#include "App/Preview/RegularFile.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

std::string_view trimmed(std::string_view s)
{
    std::size_t offset = 0;
    std::size_t first = s.size();
    std::size_t end = 0;
    while (offset < s.size()) {
        const std::size_t start = offset;
        if (!text::isWhiteSpace(text::nextCodePoint(s, offset))) {
            if (first == s.size())
                first = start;
            end = offset;
        }
    }
    return first == s.size() ? std::string_view{} : s.substr(first, end - first);
}

enum class EntryKind { Folder, File, Special };

// The entry's own type: a link to a folder is not a folder here, and an
// entry whose type cannot be read counts as a file. A pipe, socket or device
// named like a picture is no picture.
EntryKind entryKind(int dirFd, const dirent& entry)
{
    unsigned mode = DTTOIF(entry.d_type);
    if (entry.d_type == DT_UNKNOWN) {
        struct stat st {};
        if (fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::File;
        mode = st.st_mode;
    }
    const RegularFile::Type type = RegularFile::typeOfMode(mode);
    if (type == RegularFile::Type::Directory)
        return EntryKind::Folder;
    return RegularFile::isSpecial(type) ? EntryKind::Special : EntryKind::File;
}

} // namespace

FolderContentInspector::FolderContentInspector(Lister lister)
    : m_lister(lister ? std::move(lister) : Lister(&FolderContentInspector::inspect))
{
}

FolderContentInspector& FolderContentInspector::shared()
{
    static FolderContentInspector inspector;
    return inspector;
}

void FolderContentInspector::invalidate(std::string_view directoryPath)
{
    const std::string path(trimmed(directoryPath));
    std::lock_guard lock(m_mutex);
    m_cache.erase(path);
    ++m_invalidations;
}

void FolderContentInspector::invalidateChanged(const std::vector<std::string>& changedPaths)
{
    for (const std::string& path : changedPaths) {
        invalidate(path);
        invalidate(paths::deletingLastComponent(path));
    }
}

FolderContentInspector::FolderContentHint FolderContentInspector::hint(std::string_view directoryPath)
{
    const std::string path(trimmed(directoryPath));
    if (path.empty())
        return {};
    std::uint64_t invalidations = 0;
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_cache.find(path); it != m_cache.end())
            return it->second;
        invalidations = m_invalidations;
    }
    // Unlocked: a listing stuck on a hung mount held every other hint and
    // every invalidation (the watcher's, on each batch) behind it.
    const FolderContentHint result = m_lister(path);
    std::lock_guard lock(m_mutex);
    if (m_invalidations == invalidations)
        m_cache.emplace(path, result);
    return result;
}

FolderContentInspector::FolderContentHint FolderContentInspector::inspect(const std::string& path)
{
    FolderContentHint result;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
    if (!dir)
        return result;
    int examined = 0;
    while (examined < kMaxEntriesExamined && !(result.hasVideo && result.hasImage)) {
        const dirent* entry = readdir(dir.get());
        if (!entry)
            break;
        const std::string_view name(entry->d_name);
        // Hidden entries (".", ".." included) are not part of the listing at all.
        if (name.starts_with('.'))
            continue;
        ++examined;
        if (entryKind(dirfd(dir.get()), *entry) != EntryKind::File)
            continue;
        const std::string ext = text::lower(paths::extension(name));
        if (kinds::isVideoExtension(ext))
            result.hasVideo = true;
        else if (kinds::isImageExtension(ext))
            result.hasImage = true;
    }
    return result;
}

} // namespace pallix
