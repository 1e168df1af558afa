#include "WinTestSupport.h"

#include <shellapi.h>
#include <winioctl.h>

#include <cstdint>

#include <string>
#include <vector>

namespace wintest {

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

TempFolder::TempFolder(const std::wstring& leaf) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + leaf + L"-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    // SHFileOperationW wants a list ending in two zeros.
    std::wstring from = path_ + L'\0';
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
}

Process::Process(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info_))
        info_ = {};
}

Process::~Process() {
    if (!started())
        return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

DWORD Process::Wait(DWORD ms) {
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::string RunAndCapture(const std::wstring& commandLine, DWORD* exitCode) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    const BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                   nullptr, nullptr, &startup, &info);
    const DWORD startError = ok ? 0 : GetLastError();
    CloseHandle(writeEnd);
    std::string out;
    if (!ok) {
        // Said in the text a failed test prints, so it is not taken for a silent program.
        out = "RunAndCapture: the program could not be started (error " +
              std::to_string(startError) + ")\n";
        if (exitCode)
            *exitCode = kNotStarted;
    } else {
        // Read while the process runs and stop when it has ended, rather than at the pipe's end:
        // a program Wine starts on the child's behalf (the desktop's explorer.exe, on the first
        // use of the desktop) inherits the write end and keeps the pipe open for its whole life.
        const auto drain = [&] {
            DWORD available = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available) {
                char buf[4096];
                DWORD n = 0;
                if (!ReadFile(readEnd, buf, sizeof buf, &n, nullptr) || n == 0)
                    return;
                out.append(buf, n);
            }
        };
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (WaitForSingleObject(info.hProcess, 10) == WAIT_TIMEOUT &&
               GetTickCount64() < deadline)
            drain();
        drain();
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        if (exitCode)
            *exitCode = code;
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    CloseHandle(readEnd);
    return out;
}

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring substitute = L"\\??\\" + target;
    std::vector<char> buffer(8 + 8);
    auto put16 = [&](size_t at, size_t v) {
        buffer[at] = char(v & 0xFF);
        buffer[at + 1] = char((v >> 8) & 0xFF);
    };
    const size_t subBytes = substitute.size() * 2, printBytes = target.size() * 2;
    // Tag, data length, reserved; then substitute and print names, each NUL-terminated.
    const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
    for (int i = 0; i < 4; ++i)
        buffer[i] = char((tag >> (8 * i)) & 0xFF);
    put16(4, 8 + subBytes + 2 + printBytes + 2);
    put16(8, 0);
    put16(10, subBytes);
    put16(12, subBytes + 2);
    put16(14, printBytes);
    auto append = [&](const std::wstring& text) {
        for (wchar_t c : text) {
            buffer.push_back(char(c & 0xFF));
            buffer.push_back(char((c >> 8) & 0xFF));
        }
        buffer.push_back(0);
        buffer.push_back(0);
    };
    append(substitute);
    append(target);
    DWORD returned = 0;
    const bool made = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                      DWORD(buffer.size()), nullptr, 0, &returned, nullptr);
    CloseHandle(h);
    return made;
}

bool RunHostTool(const std::wstring& folder,
                 const std::wstring& tool,
                 const std::wstring& arguments,
                 const std::function<bool()>& done) {
    const std::wstring exe = L"Z:\\bin\\" + tool;
    if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    std::wstring commandLine = tool + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 100 && !done(); ++i)
        Sleep(50);
    return done();
}

}  // namespace wintest
