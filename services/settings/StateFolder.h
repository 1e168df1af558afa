#pragma once

#include <string>
#include <string_view>

// Where the client keeps what it writes for the user, in standard C++ only, so that the client
// (vorn::ClientPaths) and the readiness check decide it by the same rule.
namespace vorn {

// The file whose presence in the client folder asks for per-user state.
inline constexpr std::string_view kInstalledMarkerName = "per-user-state";

struct StateFolderChoice {
    bool installed = false;   // per-user state; otherwise everything beside the executable
    std::string stateFolder;  // ends in "/"
};

// Installed when the client folder cannot be written or holds the marker, and the user has a
// data folder: the state folder is "<dataHome>/vornclient/". Otherwise (portable, or nowhere
// else to go) the client folder itself. Folders are given with or without a trailing separator;
// `separator` is the system's ('\\' on Windows, where '/' ends a folder too).
StateFolderChoice ChooseStateFolder(std::string_view clientFolder,
                                    std::string_view dataHome,
                                    bool clientFolderWritable,
                                    bool markerPresent,
                                    char separator = '/');

// `folder` ending in a separator (`separator` appended unless it ends in it or in '/'); an empty
// folder stays empty.
std::string WithTrailingSeparator(std::string_view folder, char separator = '/');

}  // namespace vorn
