#pragma once

#include <string>

namespace vorn::platform::win32 {

enum class SchemeScope { None, Machine, User };

// Makes scheme://... URLs start `executablePath` with the URL as its one argument: four values
// under "<scheme>" in a class registry ("<scheme>Protocol"; "URL Protocol" = the path;
// DefaultIcon "<path>,1"; shell\open\command "\"<path>\" \"%1\""). The machine's class registry
// (HKEY_LOCAL_MACHINE\Software\Classes) is tried first; where it cannot be written (no
// administrator rights) the user's own (HKEY_CURRENT_USER\Software\Classes), which
// HKEY_CLASSES_ROOT shows to that user in preference to the machine's. Earlier values are
// overwritten. None when neither could be written in full (the reason goes to the debugger).
SchemeScope RegisterUrlSchemeW(const std::wstring& scheme, const std::wstring& executablePath);

// The same four values in one class registry only (per user or the machine's).
bool WriteUrlSchemeKeys(bool perUser,
                        const std::wstring& scheme,
                        const std::wstring& executablePath);

// The command that opening scheme://... runs for this user now (the default value of
// <scheme>\shell\open\command in the user's class registry, else the machine's), empty when
// the scheme has none.
std::wstring UrlSchemeCommand(const std::wstring& scheme);

}  // namespace vorn::platform::win32
