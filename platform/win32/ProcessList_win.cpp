#include "platform/ProcessList.h"

#include "platform/win32/Text_win.h"
#include "platform/win32/VersionInfo_win.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <array>

// Windows has no process tree to read: the system's snapshot is the source. Names and paths are
// converted from UTF-16 to UTF-8, never through the ANSI code page.
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
    record.fileName = win32::WideToUtf8(entry.szExeFile);
    return record;
}

class SnapshotProcessList : public IProcessList {
public:
    std::vector<ProcessRecord> Enumerate() const override {
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

    std::uint32_t CurrentProcessId() const override { return GetCurrentProcessId(); }

    std::vector<std::string> IdentityTexts(const ProcessRecord& record) const override {
        if (record.imagePath.empty())
            return {};
        const std::array<std::string, 3> strings =
            win32::IdentityVersionStrings(win32::Utf8ToWide(record.imagePath));
        return {strings.begin(), strings.end()};
    }
};

}  // namespace

std::unique_ptr<IProcessList> CreateProcessList() {
    return std::make_unique<SnapshotProcessList>();
}

}  // namespace vorn::platform
