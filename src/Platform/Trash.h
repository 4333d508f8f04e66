#pragma once
// The freedesktop.org trash on Linux system calls, for a name of any bytes:
// the entry moves into the trash of its file system, next to an info file
// that records its place (percent-encoded bytes) and the time, so a file
// manager can put it back under its own name. The home trash
// ($XDG_DATA_HOME/Trash) takes what lies on its file system; anything else
// goes to its mount's top folder: ".Trash/<uid>" where the administrator made
// ".Trash" (sticky, no link), else ".Trash-<uid>". Nothing is ever overwritten.
// Blocking; any thread.

#include <string>

namespace pallix::trash {

// Moves the entry at `path` (absolute; the system's bytes) into the trash.
// 0, or the errno of what failed (the entry then stays where it was).
int moveToTrash(const std::string& path);

// The home trash folder: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash;
// empty when neither variable is set.
std::string homeTrash();

// The "Path" value of an info file: the bytes of `path` percent-encoded,
// "/" and the unreserved characters kept.
std::string encodedInfoPath(const std::string& path);

} // namespace pallix::trash
