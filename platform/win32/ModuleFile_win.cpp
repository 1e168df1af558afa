#include "platform/ModuleFile.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

#include <iterator>

namespace vorn::platform {

std::string ModuleFileOf(const void* code) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(code), &module))
        return {};
    // The longest path the system has; a name cut to fit the buffer is no name.
    wchar_t file[32768];
    const DWORD n = GetModuleFileNameW(module, file, static_cast<DWORD>(std::size(file)));
    if (n == 0 || n >= std::size(file))
        return {};
    return win32::WideToUtf8(std::wstring_view(file, n));
}

}  // namespace vorn::platform
