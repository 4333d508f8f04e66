#pragma once
// Folders and files only their owner may read: the application's data and
// cache folders are 0700 and every file in them 0600, whatever the umask,
// as the XDG base-directory rules ask. Nothing here follows a symbolic link
// at the last component. Plain functions, any thread.

#include <filesystem>
#include <string>
#include <system_error>

namespace pallix::privatefiles {

inline constexpr unsigned kFolderMode = 0700;
inline constexpr unsigned kFileMode = 0600;

// Creates `folder` and each missing folder above it with kFolderMode.
// An existing folder is no error (its mode is left as it is).
std::error_code createFolder(const std::filesystem::path& folder);

// Creates `file` empty with kFileMode when nothing is at its path, so that
// what opens it next (SQLite, whose companion files copy its mode) finds it
// private. An existing entry, a symbolic link included, is left as it is.
std::error_code createFile(const std::filesystem::path& file);

// Empty when `folder` is missing or belongs to the running user; else the
// refusal to show, naming the folder. Another user's folder is never used:
// they could read or replace what is put in it.
std::string foreignOwnerRefusal(const std::filesystem::path& folder);

// Takes the group and other bits off `folder` and everything of ours below
// it (folders become kFolderMode, files kFileMode). Links are not followed;
// entries of other users are skipped.
void repairModes(const std::filesystem::path& folder);

} // namespace pallix::privatefiles
