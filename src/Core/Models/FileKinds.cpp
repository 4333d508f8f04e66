// The kind vocabulary of IndexedItem and its two path rules. Everything here
// works on the strings it is given and never looks at the file system.

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

// A few short extensions, each packed with its length into one integer: a
// lookup is a handful of comparisons. Hashing the text cost more than the
// rest of a result row's work when a list of thousands was shown.
class ExtensionSet {
public:
    ExtensionSet(std::initializer_list<std::string_view> extensions) : ExtensionSet(extensions.begin(), extensions.end()) {}
    template <class It>
    ExtensionSet(It first, It last)
    {
        for (; first != last; ++first) {
            assert(!first->empty() && first->size() <= kMostBytes && "a longer extension would never be found");
            m_keys.push_back(key(*first));
        }
        std::sort(m_keys.begin(), m_keys.end());
    }
    bool contains(std::string_view ext) const
    {
        return !ext.empty() && ext.size() <= kMostBytes && std::binary_search(m_keys.begin(), m_keys.end(), key(ext));
    }

private:
    static constexpr std::size_t kMostBytes = 7;  // the eighth byte holds the length
    static std::uint64_t key(std::string_view ext)
    {
        std::uint64_t k = 0;
        std::memcpy(&k, ext.data(), std::min(ext.size(), kMostBytes));
        return k | std::uint64_t(ext.size()) << 56;
    }
    std::vector<std::uint64_t> m_keys;
};

constexpr std::array<std::string_view, 21> kImageExtensions{"png", "jpg", "jpeg", "gif", "webp", "heic", "heif",
                                                            "bmp", "tiff", "svg", "avif", "ico", "icns", "raw",
                                                            "cr2", "cr3", "nef", "arw", "orf", "rw2", "dng"};

// Function-local statics: made once, thread-safely, on first use.
const ExtensionSet& imageSet()
{
    static const ExtensionSet s(kImageExtensions.begin(), kImageExtensions.end());
    return s;
}

const ExtensionSet& documentSet()
{
    static const ExtensionSet s{"pdf", "txt", "md", "rtf", "doc", "docx", "pages", "xls", "xlsx", "numbers", "ppt",
                                "pptx", "key", "csv", "tsv", "json", "xml", "yaml", "yml", "log", "html", "htm",
                                "css", "js", "ts", "swift", "py", "java", "c", "cpp", "h", "hpp"};
    return s;
}

const ExtensionSet& archiveSet()
{
    static const ExtensionSet s{"zip", "rar", "7z", "tar", "gz", "bz2", "xz", "tgz", "dmg", "pkg", "iso"};
    return s;
}

const ExtensionSet& videoSet()
{
    static const ExtensionSet s{"mp4", "mov", "m4v", "avi", "mkv", "wmv", "flv", "webm",
                                "mpg", "mpeg", "ts", "m2ts", "mts", "3gp", "ogv"};
    return s;
}

const ExtensionSet& audioSet()
{
    static const ExtensionSet s{"mp3", "m4a", "aac", "wav", "aiff", "aif", "flac",
                                "ogg", "opus", "wma", "caf", "mid", "midi"};
    return s;
}

const ExtensionSet& executableSet()
{
    static const ExtensionSet s{"app", "command", "sh", "bash", "zsh", "pkg", "dmg", "exe", "msi", "bat"};
    return s;
}

constexpr std::string_view kToolingArtifactExtension = "vim";

bool contains(std::string_view s, std::string_view fragment) { return s.find(fragment) != std::string_view::npos; }
// A byte loop: the rules compare short literals, where a call to memcmp costs
// more than the comparison itself.
bool startsWith(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (s[i] != prefix[i])
            return false;
    return true;
}

// Every fragment starts with "/": test them only at the slashes of `s`, and
// only those whose next character fits, instead of one full search per fragment.
template <std::size_t N>
bool containsAnySlashFragment(std::string_view s, const std::array<std::string_view, N>& fragments)
{
    for (std::size_t slash = s.find('/'); slash != std::string_view::npos; slash = s.find('/', slash + 1)) {
        if (slash + 1 >= s.size())
            break;
        const char next = s[slash + 1];
        const std::string_view tail = s.substr(slash);
        for (std::string_view f : fragments)
            if (f[1] == next && startsWith(tail, f))
                return true;
    }
    return false;
}

// Every prefix starts with "/": test the second character before the whole prefix.
template <std::size_t N>
bool startsWithAny(std::string_view s, const std::array<std::string_view, N>& prefixes)
{
    if (s.size() < 3 || s[0] != '/')
        return false;
    for (std::string_view p : prefixes)
        if (p[1] == s[1] && startsWith(s, p))
            return true;
    return false;
}

std::string_view lowerNonAscii(std::string_view s, std::string& buffer)
{
    buffer.clear();
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = text::nextCodePoint(s, i);
        if (c == U'\u0130') {
            buffer = text::lower(s);
            return buffer;
        }
        text::appendUtf8(text::simpleLower(c), buffer);
    }
    return buffer;
}

// Lower-cases into a per-thread buffer, so that the per-candidate rules
// allocate nothing once the buffer has grown, and CJK paths never reach the
// full ICU case mapping: code point by code point, which equals full
// lower-casing except for U+0130 (handed to ICU) and the Greek final sigma
// (which no rule looks at).
std::string_view lowerInto(std::string_view s, std::string& buffer)
{
    buffer.assign(s);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const char c = buffer[i];
        if (c >= 'A' && c <= 'Z')
            buffer[i] = static_cast<char>(c + ('a' - 'A'));
        else if (static_cast<unsigned char>(c) >= 0x80)
            return lowerNonAscii(s, buffer);
    }
    return buffer;
}

constexpr std::array<std::string_view, 20> kJunkFragments{
    "/.fseventsd/", "/.spotlight-v100/", "/.temporaryitems/", "/documentrevisions-v100/", "/.mobilebackups/",
    "/.trashes/", "/library/application support/mobilesync/", "/library/developer/xcode/deriveddata/",
    "/library/developer/coresimulator/", "/.app/contents/_codesignature/", "/.app/contents/_masreceipt/",
    "/library/caches/", "/private/var/db/", "/private/var/root/", "/private/var/vm/", "/private/var/folders/",
    "/cores/", "/.vol/",
    // Linux: per-user caches and the XDG trash.
    "/.cache/", "/.local/share/trash/"};

constexpr std::array<std::string_view, 21> kSystemPrefixes{
    "/system/", "/bin/", "/sbin/", "/usr/bin/", "/usr/sbin/", "/usr/lib/", "/usr/libexec/", "/library/", "/tmp/",
    "/var/tmp/",
    // Linux: kernel file systems, the system libraries, and the system's own
    // state under /var, which holds no user files but changes all the time.
    "/proc/", "/sys/", "/dev/", "/lib/", "/lib32/", "/lib64/", "/usr/lib32/", "/usr/lib64/", "/var/cache/",
    "/var/lib/", "/var/log/"};

constexpr std::array<std::string_view, 8> kCompiledArtifactExtensions{"dylib", "kext", "o", "a", "class", "pyc", "pyo", "so"};

constexpr std::array<std::string_view, 8> kCompiledArtifactKeptTrees{
    "/users/", "/opt/homebrew/", "/usr/local/", "/volumes/", "/home/", "/media/", "/mnt/", "/run/media/"};

constexpr std::array<std::string_view, 10> kToolingFragments{
    "/usr/bin/", "/bin/", "/sbin/", "/usr/sbin/", "/usr/libexec/", "/library/developer/commandlinetools/",
    "/cellar/vim/", "/cellar/neovim/", "/share/nvim/", "/usr/share/vim/"};

// /run/user/<uid>/gvfs/: the desktop's mounts of network shares.
bool isUnderUserShareMounts(std::string_view p)
{
    constexpr std::string_view kUserRuntime = "/run/user/";
    if (!startsWith(p, kUserRuntime))
        return false;
    const std::size_t slash = p.find('/', kUserRuntime.size());
    return slash != std::string_view::npos && startsWith(p.substr(slash), "/gvfs/");
}

bool isSystemPath(std::string_view p)
{
    if (startsWithAny(p, kSystemPrefixes))
        return true;
    // Runtime state, except the mount points of removable volumes and of
    // network shares under it.
    return startsWith(p, "/run/") && !startsWith(p, "/run/media/") && !isUnderUserShareMounts(p);
}

} // namespace

namespace kinds {

bool isImageExtension(std::string_view ext) { return imageSet().contains(ext); }
std::span<const std::string_view> imageExtensionList() { return kImageExtensions; }
bool isDocumentExtension(std::string_view ext) { return documentSet().contains(ext); }
bool isArchiveExtension(std::string_view ext) { return archiveSet().contains(ext); }
bool isVideoExtension(std::string_view ext) { return videoSet().contains(ext); }
bool isAudioExtension(std::string_view ext) { return audioSet().contains(ext); }
bool isExecutableExtension(std::string_view ext) { return executableSet().contains(ext); }

bool isDocumentLike(const ItemRef& item)
{
    if (item.isFolder)
        return false;
    if (isDocumentExtension(item.fileExtension))
        return true;
    return !item.fileExtension.empty() && !isImageExtension(item.fileExtension);
}

bool isNormalFile(const ItemRef& item)
{
    if (item.isFolder)
        return false;
    return !isArchiveExtension(item.fileExtension) && !isExecutableExtension(item.fileExtension);
}

bool showsGridRasterPreview(std::string_view ext)
{
    return isImageExtension(ext) || isVideoExtension(ext) || ext == "pdf";
}

} // namespace kinds

bool IndexedItem::isDocumentLike() const { return kinds::isDocumentLike(ref()); }
bool IndexedItem::isNormalFile() const { return kinds::isNormalFile(ref()); }
bool IndexedItem::showsGridRasterPreview() const { return kinds::showsGridRasterPreview(fileExtension()); }

std::string IndexedItem::kindDescription() const
{
    if (isDirectory())
        return "文件夹";
    if (kinds::isImageExtension(fileExtension()))
        return "图片";
    if (!fileExtension().empty())
        return text::upper(fileExtension()) + " 文件";
    return "文件";
}

int IndexedItem::displayKindOrder(const IndexedItem& item) { return displayKindOrder(item.ref()); }

int IndexedItem::displayKindOrder(const ItemRef& item)
{
    const std::string_view ext = item.fileExtension;
    if (item.isFolder)
        return 0;
    if (kinds::isDocumentExtension(ext))
        return 1;
    if (kinds::isImageExtension(ext))
        return 2;
    if (kinds::isVideoExtension(ext))
        return 3;
    if (kinds::isAudioExtension(ext))
        return 4;
    if (kinds::isArchiveExtension(ext))
        return 5;
    if (kinds::isExecutableExtension(ext))
        return 6;
    if (kinds::isDocumentLike(item))
        return 1;
    return 7;
}

bool IndexedItem::shouldExcludeAsSystemOrJunk(std::string_view path, std::string_view name,
                                              std::string_view fileExtension, bool isDirectory)
{
    thread_local std::string pathBuffer, nameBuffer, extBuffer;
    const std::string_view p = lowerInto(path, pathBuffer);
    const std::string_view n = lowerInto(name, nameBuffer);
    const std::string_view e = lowerInto(fileExtension, extBuffer);

    if (startsWith(n, "._"))
        return true;
    if (n == ".ds_store" || n == "thumbs.db")
        return true;
    if (startsWith(n, "~$"))
        return true;
    if (name == "Icon\r")  // case-sensitive on purpose
        return true;
    if (containsAnySlashFragment(p, kJunkFragments))
        return true;
    if (isSystemPath(p))
        return true;
    if (e == "swp" || e == "swo" || e == "crdownload")
        return true;
    if (e == "download" && contains(p, "/downloads/"))
        return true;
    if (n == ".localized" && isDirectory)
        return true;
    if (std::find(kCompiledArtifactExtensions.begin(), kCompiledArtifactExtensions.end(), e) !=
            kCompiledArtifactExtensions.end() &&
        !startsWithAny(p, kCompiledArtifactKeptTrees))
        return true;
    return false;
}

bool IndexedItem::isLowPriorityToolingArtifact(const IndexedItem& item) { return isLowPriorityToolingArtifact(item.ref()); }

bool IndexedItem::isLowPriorityToolingArtifact(const ItemRef& item)
{
    if (item.isFolder)
        return false;
    thread_local std::string pathBuffer;
    const std::string_view p = lowerInto(item.path, pathBuffer);
    if (item.fileExtension == kToolingArtifactExtension)
        return !contains(p, "/users/") && !contains(p, "/home/");
    return containsAnySlashFragment(p, kToolingFragments);
}

} // namespace pallix
