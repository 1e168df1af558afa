#include "platform/win32/SingleInstance_win.h"

#include "common/LogSink.h"
#include "platform/SingleInstance.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

namespace vorn::platform::win32 {

bool HoldNamedMutex(const std::wstring& name) {
    // Not inheritable: a child that outlived a crashed client would otherwise keep the name held
    // and every later start would exit silently.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) {
        vorn::log::Warning(vorn::log::Area::App, "Single-instance mutex " + WideToUtf8(name) +
                                                     " not created: " + ErrorText(error));
        return true;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    return true;  // the handle is the lock; it stays open until the process ends
}

}  // namespace vorn::platform::win32

namespace vorn::platform {

namespace {

class NamedMutexInstance : public ISingleInstance {
public:
    bool Acquire(const std::string& name) override {
        return win32::HoldNamedMutex(win32::Utf8ToWide(name));
    }
};

}  // namespace

std::unique_ptr<ISingleInstance> CreateSingleInstance() {
    return std::make_unique<NamedMutexInstance>();
}

}  // namespace vorn::platform
