#include "Core/Models/IndexedItem.h"

#include <set>

#include <gtest/gtest.h>

using namespace pallix;

namespace {

IndexedItem item(const std::string& path, bool folder = false)
{
    std::string name(paths::lastComponent(path));
    std::string ext(paths::extension(name));
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return IndexedItem(path, name, std::string(paths::deletingLastComponent(path)), ext, 0, 0.0,
                       folder ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File);
}

bool junk(const std::string& path, bool folder = false)
{
    IndexedItem i = item(path, folder);
    return IndexedItem::shouldExcludeAsSystemOrJunk(i.path(), i.name(), i.fileExtension(), folder);
}

} // namespace

TEST(FileKinds, KindPredicatesOnOverlappingSets)
{
    struct Case {
        std::string path;
        bool folder;
        int order;
        const char* description;
        bool documentLike, normalFile, rasterPreview;
    } cases[] = {
        {"/a/Shots.png", true, 0, "文件夹", false, false, true},  // type not consulted for previews
        {"/a/x.ts", false, 1, "TS 文件", true, true, true},       // document before video
        {"/a/x.dmg", false, 5, "DMG 文件", true, false, false},   // archive before executable
        {"/a/x.pkg", false, 5, "PKG 文件", true, false, false},
        {"/a/Makefile", false, 7, "文件", false, true, false},
        {"/a/x.heic", false, 2, "图片", false, true, true},
        {"/a/x.PDF", false, 1, "PDF 文件", true, true, true},
        {"/a/x.mp4", false, 3, "MP4 文件", true, true, true},
        {"/a/x.flac", false, 4, "FLAC 文件", true, true, false},
        {"/a/x.zip", false, 5, "ZIP 文件", true, false, false},
        {"/a/x.sh", false, 6, "SH 文件", true, false, false},
        {"/a/x.foo", false, 1, "FOO 文件", true, true, false},
        {"/a/x.ß", false, 1, "SS 文件", true, true, false},  // full Unicode upper-casing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.folder ? " (folder)" : ""));
        IndexedItem i = item(c.path, c.folder);
        EXPECT_EQ(IndexedItem::displayKindOrder(i), c.order);
        EXPECT_EQ(IndexedItem::displayKindOrder(i.ref()), c.order);
        EXPECT_EQ(i.kindDescription(), c.description);
        EXPECT_EQ(i.isDocumentLike(), c.documentLike);
        EXPECT_EQ(i.isNormalFile(), c.normalFile);
        EXPECT_EQ(i.showsGridRasterPreview(), c.rasterPreview);
    }
}

TEST(FileKinds, ExtensionSetsAreExactAndCaseSensitive)
{
    EXPECT_TRUE(kinds::isImageExtension("jpg"));
    EXPECT_FALSE(kinds::isImageExtension("JPG"));
    EXPECT_FALSE(kinds::isImageExtension("jp"));
    EXPECT_FALSE(kinds::isImageExtension(""));
    EXPECT_TRUE(kinds::isDocumentExtension("ts"));
    EXPECT_TRUE(kinds::isVideoExtension("ts"));
    EXPECT_TRUE(kinds::isArchiveExtension("dmg"));
    EXPECT_TRUE(kinds::isExecutableExtension("dmg"));
    EXPECT_TRUE(kinds::isAudioExtension("midi"));
    EXPECT_FALSE(kinds::isAudioExtension("mid "));
    EXPECT_FALSE(kinds::isImageExtension(std::string_view("jpg\0", 4)));
    EXPECT_TRUE(kinds::isDocumentExtension("numbers"));
    EXPECT_FALSE(kinds::isDocumentExtension("numbersx"));
    EXPECT_FALSE(kinds::isExecutableExtension("commander"));

    // The list the stores put in their queries is the set itself.
    const auto images = kinds::imageExtensionList();
    EXPECT_EQ(std::set<std::string_view>(images.begin(), images.end()).size(), 21u);
    for (std::string_view e : images)
        EXPECT_TRUE(kinds::isImageExtension(e)) << e;
}

TEST(FileKinds, JunkRule)
{
    struct Case {
        std::string path;
        bool folder;
        bool excluded;
    } cases[] = {
        // names
        {"/Users/a/._photo.jpg", false, true},
        {"/Users/a/.DS_Store", false, true},
        {"/Users/a/Thumbs.db", false, true},
        {"/Users/a/~$report.docx", false, true},
        {"/Users/a/Icon\r", false, true},
        {"/Users/a/ICON\r", false, false},  // the Icon rule is case-sensitive
        {"/Users/a/.localized", false, false},
        {"/Users/a/.localized", true, true},
        // path fragments
        {"/Users/a/Library/Caches/x", false, true},
        {"/Users/a/Library/Preferences/x.plist", false, false},
        {"/Volumes/D/.Spotlight-V100/store", false, true},
        {"/private/var/folders/zz/x", false, true},
        // whole-path prefixes
        {"/Library/Fonts/x.ttf", false, true},
        {"/usr/bin/ls", false, true},
        {"/tmp/x", false, true},
        {"/Users/a/tmp/x", false, false},
        // extensions
        {"/Users/a/.x.swp", false, true},
        {"/Users/a/f.crdownload", false, true},
        {"/Users/a/Downloads/f.zip.download", false, true},
        {"/Users/a/Desktop/f.download", false, false},
        // compiled artifacts: kept in user, package-manager and volume trees only
        {"/Users/a/proj/x.o", false, false},
        {"/Volumes/Disk/x.dylib", false, false},
        {"/opt/homebrew/lib/libz.dylib", false, false},
        {"/usr/local/lib/libq.a", false, false},
        {"/Applications/X.app/Contents/Frameworks/y.dylib", false, true},
        {"/opt/local/lib/z.a", false, true},
        {"/Users/a/proj/Main.CLASS", false, false},
        {"/opt/x/Main.class", false, true},
        // ordinary entries
        {"/Users/a/Documents/report.pdf", false, false},
        {"/home/a/报告.docx", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.folder ? " (folder)" : ""));
        EXPECT_EQ(junk(c.path, c.folder), c.excluded);
    }
}

TEST(FileKinds, JunkRuleLinuxAdditions)
{
    struct Case {
        std::string path;
        bool excluded;
    } cases[] = {
        // per-user caches and the XDG trash
        {"/home/a/.cache/thumbnails/x.png", true},
        {"/home/a/.local/share/Trash/files/x.txt", true},
        {"/home/a/.local/share/recently-used.xbel", false},
        {"/home/a/cache/x.png", false},
        // system trees
        {"/proc/1/status", true},
        {"/sys/kernel/x", true},
        {"/dev/null", true},
        {"/lib/x86_64-linux-gnu/libc.so.6", true},
        {"/lib32/x", true},
        {"/lib64/ld-linux-x86-64.so.2", true},
        {"/usr/lib32/x", true},
        {"/usr/lib64/x", true},
        {"/run/user/1000/x", true},
        {"/run/user/1000/gvfs/smb-share:server=nas,share=a/x.txt", false},
        {"/run/user/1000/gvfsx/x", true},
        {"/var/cache/apt/pkgcache.bin", true},
        {"/var/lib/dpkg/status", true},
        {"/var/log/syslog", true},
        {"/var/mail/a", false},
        {"/run/media/a/USB/photo.jpg", false},
        // network shares the desktop mounted stay visible; the rest of the runtime folder does not
        {"/run/user/1000/gvfs/smb-share:server=srv,share=team/青岚共享盘/a.psd", false},
        {"/run/user/1000/gvfs", true},
        {"/run/user/1000/notgvfs/x", true},
        {"/run/user/gvfs/x", true},
        {"/home/a/proc/notes.txt", false},
        {"/library2/x", false},
        // shared objects are compiled artifacts, kept in the Linux user and mount trees
        {"/opt/app/libfoo.so", true},
        {"/home/a/build/libfoo.so", false},
        {"/media/a/USB/libfoo.so", false},
        {"/mnt/data/libfoo.so", false},
        {"/run/media/a/USB/libfoo.so", false},
        {"/home/a/build/x.o", false},
        {"/srv/build/x.o", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(junk(c.path), c.excluded);
    }
}

TEST(FileKinds, JunkRuleLowerCasesNonAscii)
{
    // Upper-case non-ASCII text in the path still meets the lower-case fragments.
    EXPECT_TRUE(IndexedItem::shouldExcludeAsSystemOrJunk("/Users/Ärger/LIBRARY/CACHES/x", "x", "", false));
    EXPECT_TRUE(IndexedItem::shouldExcludeAsSystemOrJunk("/Ünits/X.O", "X.O", "O", false));
    EXPECT_FALSE(IndexedItem::shouldExcludeAsSystemOrJunk("/Users/Ärger/报告.O", "报告.O", "O", false));
}

TEST(FileKinds, ToolingArtifacts)
{
    struct Case {
        std::string path;
        bool folder;
        bool tooling;
    } cases[] = {
        {"/usr/local/bin/tool", false, true},
        {"/opt/homebrew/Cellar/neovim/0.9/share/nvim/runtime/x.lua", false, true},
        {"/Users/a/.vim/plugin/x.vim", false, false},
        {"/opt/homebrew/share/vim/x.vim", false, true},
        {"/usr/local/bin", true, false},
        {"/Users/a/proj/bin/run", false, true},  // any "/bin/" counts
        {"/Users/a/proj/src/main.c", false, false},
        {"/Library/Developer/CommandLineTools/usr/x", false, true},
        // Linux: a home folder counts like a macOS user folder for vim files
        {"/home/a/.vim/plugin/x.vim", false, false},
        {"/HOME/a/.vim/plugin/x.vim", false, false},
        {"/usr/share/vim/vim90/x.vim", false, true},
        {"/home/a/.local/bin/tool", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (c.folder ? " (folder)" : ""));
        IndexedItem i = item(c.path, c.folder);
        EXPECT_EQ(IndexedItem::isLowPriorityToolingArtifact(i), c.tooling);
        EXPECT_EQ(IndexedItem::isLowPriorityToolingArtifact(i.ref()), c.tooling);
    }
}
