#pragma once
// Reading the user-defaults file defensively. The file is a JSON object of
// keys; a hostile or damaged one must never crash a start, eat the disk or
// silently cost every setting. So: a file that cannot be read is left where
// it is; one too large or nested too deeply to trust is corrupt; one member
// whose value cannot be read costs that member alone. Corrupt files are kept
// aside under a time-stamped name, the newest three of them.
//
// Free functions with no shared state: any thread.

#include <cstddef>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace pallix::defaultsfile {

// Files above this size are not read (the settings take a few KB).
inline constexpr std::size_t kMaxFileBytes = 4u << 20;
// Deeper nesting than this makes the file corrupt: no value of ours nests
// more than three levels, and every deeper level costs stack when written.
inline constexpr int kMaxDepth = 64;
// Corrupt copies kept beside the file.
inline constexpr int kKeptCorruptCopies = 3;

struct ReadResult {
    enum class Status {
        Missing,     // no file: start empty
        Loaded,      // read; `droppedMembers` of its members could not be read
        Unreadable,  // exists but cannot be read (permissions, not a regular file): leave it alone
        Corrupt,     // not a JSON object, too large or too deep: keep it aside
        Count
    };
    Status status = Status::Missing;
    nlohmann::json document = nlohmann::json::object();  // the members read (Loaded)
    int droppedMembers = 0;
    std::string error;  // why it is Unreadable or Corrupt (the system's text or ours)
};

ReadResult read(const std::filesystem::path& file);

// Moves `file` aside as "<file>.corrupt-<UTC time>" and removes all but the
// newest kKeptCorruptCopies such copies. Returns the new name (empty when the
// move failed).
std::filesystem::path keepCorruptCopy(const std::filesystem::path& file, double wallSecondsSince1970);

} // namespace pallix::defaultsfile
