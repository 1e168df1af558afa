#include "platform/ProcessList.h"

#include "platform/win32/Text_win.h"
#include "platform/win32/VersionInfo_win.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <array>

// Windows has no process tree to read: `procRoot` is ignored, the system's snapshot is the
// source. Names and paths are converted from UTF-16 to UTF-8, never through the ANSI code page.
namespace vorn::platform {
namespace {

// The Win32 path of a process's executable; empty when the process cannot be opened. Only the
// limited query right is asked for, which a normal user has on most processes of the machine
// (all access, as an older design asked, fails on every process of another user or elevated).
std::string ImagePath(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return {};
    wchar_t path[32768];
    DWORD size = static_cast<DWORD>(std::size(path));
    std::string result;
    if (QueryFullProcessImageNameW(process, 0, path, &size))
        result = win32::WideToUtf8(std::wstring_view(path, size));
    CloseHandle(process);
    return result;
}

ProcessRecord RecordOf(const PROCESSENTRY32W& entry) {
    ProcessRecord record;
    record.pid = entry.th32ProcessID;
    record.imagePath = ImagePath(entry.th32ProcessID);
    record.fileName = ProcessFileName({}, {}, win32::WideToUtf8(entry.szExeFile));
    return record;
}

}  // namespace

std::string ProcessFileName(std::string_view exePath,
                            std::string_view argv0,
                            std::string_view comm) {
    for (std::string_view path : {exePath, argv0}) {
        const size_t slash = path.find_last_of("\\/");
        const std::string_view base =
            slash == std::string_view::npos ? path : path.substr(slash + 1);
        if (!base.empty())
            return std::string(base);
    }
    return std::string(comm);
}

std::vector<ProcessRecord> EnumerateProcesses(const std::filesystem::path&) {
    std::vector<ProcessRecord> records;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return records;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        records.push_back(RecordOf(entry));
    CloseHandle(snapshot);
    std::sort(records.begin(), records.end(),
              [](const ProcessRecord& a, const ProcessRecord& b) { return a.pid < b.pid; });
    return records;
}

std::optional<ProcessRecord> ReadProcessRecord(const std::filesystem::path&, std::uint32_t pid) {
    for (ProcessRecord& record : EnumerateProcesses({}))
        if (record.pid == pid)
            return std::move(record);
    return std::nullopt;
}

std::uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

std::vector<std::string> ProcessIdentityTexts(const ProcessRecord& record) {
    if (record.imagePath.empty())
        return {};
    const std::array<std::string, 3> strings =
        win32::IdentityVersionStrings(win32::Utf8ToWide(record.imagePath));
    return {strings.begin(), strings.end()};
}

}  // namespace vorn::platform
