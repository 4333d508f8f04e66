#pragma once
// AppPaths: the application's folders in the user's data and cache folders,
// named after the running edition, and the carrying over of what earlier
// installations left. No state: every call works the folders out anew from
// the environment and the file system. Reports nothing; any thread.

#include <filesystem>

namespace pallix {

class Defaults;

class AppPaths {
public:
    // The edition's folder in $XDG_DATA_HOME (default ~/.local/share; the
    // temporary folder when neither is set). A legacy "Orvandel" folder there
    // becomes it when it does not exist yet; then it is created, private to
    // the user (0700), and what it holds with group or other bits is made
    // private again (folders 0700, files 0600). A folder of another user is
    // left untouched (the stores refuse it). Returned even when that failed.
    static std::filesystem::path applicationSupportAppDirectory();
    // The same in $XDG_CACHE_HOME (default ~/.cache).
    static std::filesystem::path cachesAppDirectory();

    // Once per edition (flag "<edition prefix>didMigrateLegacyPallixDatabases"
    // in `defaults`), copies the index databases of the legacy "珀溪" folder
    // into the edition's folder when they are missing there. A database is
    // copied whole, with what its write-ahead log holds; existing files are
    // never replaced and the legacy folder is left as it was.
    static void migrateLegacyPallixDatabasesIfNeeded(Defaults& defaults);
};

} // namespace pallix
