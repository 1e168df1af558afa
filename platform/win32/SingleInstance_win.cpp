#include "platform/win32/SingleInstance_win.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

namespace vorn::platform::win32 {

bool HoldNamedMutex(const std::wstring& name) {
    // Not inheritable: a child that outlived a crashed client would otherwise keep the name held
    // and every later start would exit silently.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) {
        DebugLog(L"app", L"single-instance mutex " + name + L" not created: " + LastErrorText(error));
        return true;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    return true;  // the handle is the lock; it stays open until the process ends
}

}  // namespace vorn::platform::win32
