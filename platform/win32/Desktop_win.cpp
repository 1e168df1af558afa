#include "platform/Desktop.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

#include <shellapi.h>

namespace vorn::platform {

std::string SessionKind(std::string_view) {
    return "windows";
}

void OpenWithDesktopHandler(const std::string& url) {
    // The shell starts the scheme's handler and returns; nothing waits for it.
    ShellExecuteW(nullptr, L"open", win32::Utf8ToWide(url).c_str(), nullptr, nullptr,
                  SW_SHOWNORMAL);
}

}  // namespace vorn::platform
