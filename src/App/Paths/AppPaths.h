#pragma once
// AppPaths: the application's folders in the user's data and cache folders,
// named after the running edition, and the carrying over of what earlier
// installations left. Every lookup works the folders out anew from the
// environment and the file system; the only state is which folders had their
// modes repaired in this process. Reports nothing; any thread.

#include <filesystem>
#include <functional>

namespace pallix {

class Defaults;

class AppPaths {
public:
    // The edition's folder in $XDG_DATA_HOME (default ~/.local/share; the
    // temporary folder when neither is set). A legacy "Orvandel" folder there
    // becomes it when it does not exist yet; then it is created, private to
    // the user (0700). A folder of another user is left untouched (the stores
    // refuse it). Returned even when that failed. Cheap: nothing is walked.
    static std::filesystem::path applicationSupportAppDirectory();
    // The same in $XDG_CACHE_HOME (default ~/.cache).
    static std::filesystem::path cachesAppDirectory();

    // Makes private again what an older version left in the two folders with
    // group or other bits (folders 0700, files 0600; see
    // privatefiles::repairModes, the default `repair`). Each folder is
    // repaired at most once per process, and only one of ours that this
    // lookup did not just create; later calls return at once. The walk reads
    // every cached preview: call it off the GUI thread.
    using ModeRepair = std::function<void(const std::filesystem::path& folder)>;
    static void repairModesOnce(const ModeRepair& repair = {});

    // Once per edition (flag "<edition prefix>didMigrateLegacyPallixDatabases"
    // in `defaults`), copies the index databases of the legacy "珀溪" folder
    // into the edition's folder when they are missing there. A database is
    // copied whole, with what its write-ahead log holds; existing files are
    // never replaced and the legacy folder is left as it was.
    static void migrateLegacyPallixDatabasesIfNeeded(Defaults& defaults);
};

} // namespace pallix
