#pragma once

#include <windows.h>

#include <optional>
#include <string>

// What the Windows folder steps and folder tree share; internal to platform/win32.
namespace vorn::platform::win32 {

// The path the system gives for an open file or folder ("\\?\C:\..."), links on the way
// resolved; nothing when it gives none.
std::optional<std::wstring> FinalPathOf(HANDLE handle);

}  // namespace vorn::platform::win32
