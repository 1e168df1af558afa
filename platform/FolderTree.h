#pragma once

#include "platform/FolderSteps.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <system_error>

// Whole-folder operations of the model installer: listing, free space, and publishing a staged
// folder by exchanging it with the one it replaces. Paths are UTF-8. Safe on any thread.
// On Windows: folders are never exchanged (ExchangeFolders is false), the file system is flushed
// only by an administrator, and permissions are mapped to the read-only attribute and to access
// lists (see SetPermissions). Failures are the system's own error codes (system_category).
namespace vorn::platform {

// A child's kind as its folder entry gives it (no look at the child itself unless the file
// system leaves the entry's kind unknown; then Folder or Regular).
enum class EntryKind { Folder, Regular, Link, Unknown };

// The folder at `path`, its last step never followed when it is a link; invalid when it cannot
// be opened, with *missing (when given) telling whether nothing stands there.
OsHandle OpenFolderPath(const std::string& path, bool* missing = nullptr);

// The bytes an unprivileged user may still write on the file system of `folder`.
std::optional<uint64_t> FreeSpace(const std::string& folder);

// What the folder at `path` holds (links on the way followed), by name, "." and ".." left out;
// on failure `error` is set and the map is what was read.
std::map<std::string, EntryKind> ListFolder(const std::string& path, std::error_code& error);

// As ListFolder, for an open folder, which stays open and keeps its position.
std::map<std::string, EntryKind> ListFolder(NativeHandle folder, std::error_code& error);

// Makes the folder `name` in `folder`, which only its owner may use until its permissions are
// set; false when it cannot.
bool MakePrivateFolder(NativeHandle folder, const std::string& name);

// The POSIX permission bits (07777) of an open folder or file; false when they cannot be set.
// Windows keeps no such bits: a file without 0200 becomes read-only (with it, writable), and a
// folder with any of 0077 takes its parent's inherited access again (as MakePrivateFolder's
// denied); the other bits are not kept.
bool SetPermissions(NativeHandle handle, uint32_t permissions);

// Writes to disk what the file system holding `handle` has not yet written; false on failure.
bool FlushFileSystem(NativeHandle handle);

// Renames the folder `from` to `to` unless something stands at `to`; false when it cannot.
bool MoveFolderNoReplace(const std::string& from, const std::string& to);

// Exchanges the names of the folders `a` and `b` in one step, so a reader sees one or the other
// whole; false when the file system cannot (nothing changed then).
bool ExchangeFolders(const std::string& a, const std::string& b);

// Removes the file (or link itself) at `path`; true when nothing stands there now because it was
// removed or was missing.
bool RemoveFileIfPresent(const std::string& path);

// Creates the regular file `path` for writing where nothing stands (never through a link);
// invalid when it cannot.
OsHandle CreateNewFile(const std::string& path);

// Closes `file` (which is then no handle), false when the system reports that data written to
// it may be lost.
bool CloseFile(OsHandle* file);

// The text of the system's last failure on this thread, for diagnostics.
std::string LastFailureText();

}  // namespace vorn::platform
