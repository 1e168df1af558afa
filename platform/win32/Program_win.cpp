#include "platform/Program.h"

#include "platform/win32/Text_win.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace vorn::platform {
namespace {

class Win32Program : public IProgram {
public:
    std::vector<std::string> Arguments(int, char**) const override {
        std::vector<std::string> arguments;
        int count = 0;
        if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
            for (int i = 0; i < count; ++i)
                arguments.push_back(win32::WideToUtf8(wide[i]));
            LocalFree(wide);
        }
        return arguments;
    }

    std::string ExecutablePath() const override {
        std::wstring path(32768, L'\0');
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0 || length >= path.size())
            return {};
        path.resize(length);
        return win32::WideToUtf8(path);
    }

    std::string UserDataFolder() const override {
        const wchar_t* folder = _wgetenv(L"LOCALAPPDATA");
        return folder && *folder ? win32::WideToUtf8(folder) : std::string();
    }

    bool FolderWritable(const std::string& folder) const override {
        // Permissions on Windows are access lists: the one sure answer is creating a file there.
        std::wstring probe = win32::Utf8ToWide(folder);
        if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/')
            probe += L'\\';
        probe += L".vorn-write-probe-" + std::to_wstring(GetCurrentProcessId());
        const HANDLE file =
            CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(file);
        return true;
    }

    void UseUtf8Console() const override { SetConsoleOutputCP(CP_UTF8); }
};

}  // namespace

std::unique_ptr<IProgram> CreateProgram() {
    return std::make_unique<Win32Program>();
}

}  // namespace vorn::platform
