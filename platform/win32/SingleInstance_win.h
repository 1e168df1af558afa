#pragma once

#include <string>

namespace vorn::platform::win32 {

// Creates the named mutex (not initially owned) and keeps its handle for the life of the process,
// so the system drops it when the process ends, also after a crash. False only when the mutex
// already existed: another running instance holds it. When it cannot be created at all (an object
// of another kind or another user's under that name), the reason goes to the debugger and the
// result is true, so the client still starts rather than never.
bool HoldNamedMutex(const std::wstring& name);

}  // namespace vorn::platform::win32
