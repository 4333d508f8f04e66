#pragma once
// Trash: moves a file or folder into the freedesktop trash of its own disk:
// the user's trash folder when the item lies on the same file system, else
// the disk's ".Trash/<uid>" or ".Trash-<uid>". The entry is renamed, never
// copied, so the move is one system call; its record ("<name>.trashinfo")
// is claimed first with O_EXCL and removed again when the rename fails, so
// nothing stray is left. A name too long to carry the record's suffix is
// shortened inside the trash (the record keeps the original path). At most
// a fixed number of names is tried: the call always ends. Blocking; any thread.

#include <string>

#include "App/Actions/FileActionError.h"
#include "Platform/Expected.h"

namespace pallix::Trash {

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
std::string homeTrashFolder();

// Moves `path` into the trash; the path it now has there on success.
// `homeTrash` is the user's trash folder (made when missing).
Expected<std::string, FileActionError> moveToTrash(const std::string& path,
                                                   const std::string& homeTrash = homeTrashFolder());

// The name an entry called `name` gets in the trash on the `attempt`-th try
// (1, 2, …): short enough for its record's name to fit the file system's
// 255 bytes, cut between UTF-8 characters, the extension kept.
std::string trashedName(const std::string& name, int attempt);

} // namespace pallix::Trash
