#pragma once

#include "platform/UrlSchemeRegistration.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The freedesktop side of the URL-scheme registration: a desktop entry "<scheme>.desktop" in the
// user's applications folder and the default handler in mimeapps.list, both rewritten on every
// call. The texts are separated out so they can be checked without touching the user's files.
// Texts are UTF-8.
namespace vorn::platform {

std::string DesktopEntryText(std::string_view scheme, std::string_view executablePath);
std::string MimeAppsWithDefault(std::string_view existing,
                                std::string_view mimeType,
                                std::string_view entry);

// The folders the freedesktop lookups use, from the environment ($XDG_CONFIG_HOME, $XDG_DATA_HOME,
// $XDG_CONFIG_DIRS, $XDG_DATA_DIRS, $HOME), each without a trailing "/". An unset or relative
// variable takes its default; no home: the user's folders are empty.
struct XdgFolders {
    std::string configHome;
    std::string dataHome;
    std::vector<std::string> configDirs;
    std::vector<std::string> dataDirs;
    static XdgFolders FromEnvironment();
};

// The path of the desktop entry `entryName` installed system-wide (in a data folder other than
// the user's own), or empty when there is none.
std::string FindSystemDesktopEntry(const std::string& entryName);

// The desktop entry named the default of `mimeType`: the first "[Default Applications]" line of
// the mimeapps.list files in lookup order whose entry is installed, else the first installed
// entry the applications folders' mimeinfo.cache lists for it. Nothing when none is found.
std::optional<std::string> DefaultDesktopEntry(const XdgFolders& folders,
                                               std::string_view mimeType);

// The Exec value of a desktop entry's text (its string escapes undone); empty without one.
std::string DesktopEntryExec(std::string_view entryText);

// The program an Exec value starts: its first argument with the format's quoting undone.
std::string ExecProgram(std::string_view exec);

}  // namespace vorn::platform
