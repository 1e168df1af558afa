#pragma once

#include <memory>
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

class IProgram {
public:
    virtual ~IProgram() = default;

    // The program's arguments, the program's own name first: on Windows from the wide command
    // line (main's argv is in the ANSI code page there), elsewhere main's argv as it is.
    virtual std::vector<std::string> Arguments(int argc, char** argv) const = 0;

    // This program's executable as a full path; empty when the system cannot tell.
    virtual std::string ExecutablePath() const = 0;

    // The user's own data folder, the one the client's per-user state lives under: on Linux
    // $XDG_DATA_HOME when it is absolute, else ~/.local/share; on Windows %LOCALAPPDATA%. Empty
    // when the user has none.
    virtual std::string UserDataFolder() const = 0;

    // Whether this user may create files in `folder` (an existing folder).
    virtual bool FolderWritable(const std::string& folder) const = 0;

    // Makes what this program prints to a console show as the UTF-8 it is (Windows consoles use
    // a legacy code page otherwise; elsewhere the terminal already reads UTF-8). Main thread, at
    // start.
    virtual void UseUtf8Console() const = 0;
};

// Never null. Any thread.
std::unique_ptr<IProgram> CreateProgram();

}  // namespace vorn::platform
