#pragma once

#include <string>
#include <vector>

// This program (its file, its arguments, its console) and the user's folders, for programs
// without Qt (the readiness check). Texts are UTF-8, as everywhere in platform/.
namespace vorn::platform {

// What separates folders in this system's paths, and every character that may.
#ifdef _WIN32
inline constexpr char kFolderSeparator = '\\';
inline constexpr char kFolderSeparators[] = "\\/";
#else
inline constexpr char kFolderSeparator = '/';
inline constexpr char kFolderSeparators[] = "/";
#endif

// The program's arguments, the program's own name first: on Windows from the wide command line
// (main's argv is in the ANSI code page there), elsewhere main's argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// This program's executable as a full path; empty when the system cannot tell.
std::string ExecutablePath();

// The user's own data folder, the one the client's per-user state lives under: on Linux
// $XDG_DATA_HOME when it is absolute, else ~/.local/share; on Windows %LOCALAPPDATA%. Empty when
// the user has none.
std::string UserDataFolder();

// Whether this user may create files in `folder` (an existing folder).
bool FolderWritable(const std::string& folder);

// Makes what this program prints to a console show as the UTF-8 it is (Windows consoles use a
// legacy code page otherwise; elsewhere the terminal already reads UTF-8). Main thread, at start.
void UseUtf8Console();

}  // namespace vorn::platform
