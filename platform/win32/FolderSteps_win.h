#pragma once

#include <windows.h>

#include <optional>
#include <string>

// What the Windows folder steps and folder tree share; internal to platform/win32.
namespace vorn::platform::win32 {

// The path the system gives for an open file or folder ("\\?\C:\..."), links on the way
// resolved; nothing when it gives none.
std::optional<std::wstring> FinalPathOf(HANDLE handle);

// A UTF-8 path with "/" or "\\" separators as the system takes it.
std::wstring SystemPath(const std::string& path);

// The name-surrogate reparse points are those that stand for another file or folder: symbolic
// links (IO_REPARSE_TAG_SYMLINK), junctions and mount points (IO_REPARSE_TAG_MOUNT_POINT) and
// their kin. Others (cloud placeholders, deduplicated files) are the object's own data.
inline bool IsLinkTag(DWORD tag) {
    return IsReparseTagNameSurrogate(tag);
}

}  // namespace vorn::platform::win32
