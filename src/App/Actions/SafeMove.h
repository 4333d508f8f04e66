#pragma once
// SafeMove: moves a file or folder into a folder without ever overwriting or
// losing anything. Each attempt is an atomic rename that refuses an existing
// target; on a clash the next free "name N.ext" is tried the same way. Across
// file systems the entry is copied to a new name that nothing else holds, the
// copy is checked, and only then is the source removed. Blocking file-system
// work: call it from a worker thread. An object may be shared by threads; it
// holds only the injected rename.

#include <functional>
#include <string>
#include <string_view>

namespace pallix {

class SafeMove {
public:
    // Renames `from` to `to` unless `to` exists: 0 or an errno value.
    using RenameNoReplace = std::function<int(const std::string& from, const std::string& to)>;

    struct Outcome {
        bool moved = false;
        // Where the entry now lies; empty when it stayed, except for a folder
        // copied across disks whose source could not be removed entirely.
        std::string target;
        std::string error;   // the system's text for why it stayed; empty when moved
    };

    static constexpr int kFirstClashNumber = 2;
    static constexpr int kLastClashNumber = 999;

    // Without an argument: renameat2(RENAME_NOREPLACE), as the file actions rename.
    explicit SafeMove(RenameNoReplace rename = {});

    // Moves `source` into the folder `directory` (stored paths), under its own
    // name or the first free numbered one; the source stays where it was on
    // any failure.
    Outcome moveInto(const std::string& source, const std::string& directory) const;

    // "base N.ext", or "base N" without an extension; only the last extension
    // is split off ("x.tar.gz" → "x.tar 2.gz").
    static std::string clashName(std::string_view name, int number);

private:
    Outcome renameToFreeName(const std::string& source, const std::string& directory, std::string_view name) const;
    Outcome copyToFreeName(const std::string& source, const std::string& directory, std::string_view name) const;

    RenameNoReplace m_rename;
};

} // namespace pallix
