#pragma once
// FileOperations: the renames and copies of the file actions, made so that
// they never overwrite. Each check of "is the name free" is the system call
// that creates the name (renameat2 without replace, O_EXCL, mkdir), so a file
// appearing between a check and the act cannot be clobbered. Blocking; any
// thread. The system calls below take the system's bytes; rename() and
// duplicate() take and give stored paths (Platform/FileNames.h), as the
// index keeps them.

#include <string>

#include "App/Actions/FileActionError.h"
#include "Platform/Expected.h"

namespace pallix::FileOperations {

// Renames `from` to `to` unless `to` exists: 0 or an errno value. Where the
// file system lacks the no-replace rename, a hard link claims a file's name.
int renameNoReplace(const std::string& from, const std::string& to);

// Creates `to` (never an existing name) as a copy of `from`, a folder with
// everything in it; 0 or an errno. `created` tells whether the name `to` was
// made, so a failure removes only what this copy made.
int copyEntry(const std::string& from, const std::string& to, bool& created);

// Renames the item at `sourcePath` to `newName` in the same folder; the new
// path on success. The name is used as given (the caller trims it).
Expected<std::string, FileActionError> rename(const std::string& sourcePath, const QString& newName);

// The n-th duplicate name of `name` (n ≥ 1): "a 副本.txt", "a 副本 2.txt"...
std::string duplicateName(const std::string& name, int n);

// Copies the item (a folder with everything in it) next to itself under the
// first free duplicate name; the new path on success. A partial copy is
// removed again on failure. A pipe, socket or device is refused with an
// error naming its type (inside a folder such entries are left out).
Expected<std::string, FileActionError> duplicate(const std::string& sourcePath);

} // namespace pallix::FileOperations
