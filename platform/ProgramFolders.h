#pragma once

#include <string>

// Where this program and the user's files are, for programs without Qt (the readiness check).
// Paths are UTF-8, as everywhere in platform/.
namespace vorn::platform {

// This program's executable as a full path; empty when the system cannot tell.
std::string ExecutablePath();

// The user's own data folder, the one the client's per-user state lives under: on Linux
// $XDG_DATA_HOME when it is absolute, else ~/.local/share; on Windows %LOCALAPPDATA%. Empty when
// the user has none.
std::string UserDataFolder();

// Whether this user may create files in `folder` (an existing folder).
bool FolderWritable(const std::string& folder);

}  // namespace vorn::platform
