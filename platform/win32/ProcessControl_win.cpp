#include "platform/ProcessControl.h"

#include "common/LogSink.h"
#include "platform/win32/Text_win.h"

#include <windows.h>

#include <tlhelp32.h>

#include <string>
#include <unordered_map>

namespace vorn::platform {
namespace {

// Deeper than any chain of the engine's helpers.
constexpr int kMaxAncestry = 32;

// The exit code the system gives a process ended from outside (Task Manager's too): the engine
// reports such an end as a kill.
constexpr UINT kKilledExitCode = 1;

class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

bool CreationTime(HANDLE process, ULONGLONG* time) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return false;
    *time = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return true;
}

// Every process's parent id, from the system's snapshot.
std::unordered_map<DWORD, DWORD> ParentIds() {
    std::unordered_map<DWORD, DWORD> parents;
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid())
        return parents;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry))
        parents[entry.th32ProcessID] = entry.th32ParentProcessID;
    return parents;
}

// Whether the process `target` (its handle held open, so its id stays its own) descends from
// this one. A snapshot's parent id may name a parent that has ended and whose id another process
// took since; such a process started after its supposed child, which tells the two apart.
bool DescendsFromUs(HANDLE target, DWORD targetId) {
    const DWORD self = GetCurrentProcessId();
    const auto parents = ParentIds();
    DWORD at = targetId;
    ULONGLONG atCreated = 0;
    if (!CreationTime(target, &atCreated))
        return false;
    for (int depth = 0; depth < kMaxAncestry; ++depth) {
        const auto found = parents.find(at);
        if (found == parents.end() || found->second == 0 || found->second == at)
            return false;
        const DWORD parentId = found->second;
        Handle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parentId));
        ULONGLONG parentCreated = 0;
        if (!parent.valid() || !CreationTime(parent.get(), &parentCreated) ||
            parentCreated > atCreated)
            return false;
        if (parentId == self)
            return true;
        at = parentId;
        atCreated = parentCreated;
    }
    return false;
}

class ProcessControlWin final : public IProcessControl {
public:
    EndResult EndDescendant(std::int64_t pid) const override {
        if (pid < 1 || pid > 0xFFFFFFFFLL || pid == GetCurrentProcessId())
            return EndResult::NotOurs;
        const auto id = static_cast<DWORD>(pid);
        // The handle holds on to this very process for the check and the end.
        Handle process(
            OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (!process.valid())
            return GetLastError() == ERROR_INVALID_PARAMETER ? EndResult::Gone : EndResult::NotOurs;
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE)
            return EndResult::Gone;
        if (!DescendsFromUs(process.get(), id))
            return EndResult::NotOurs;
        if (TerminateProcess(process.get(), kKilledExitCode))
            return EndResult::Ended;
        log::Warning(log::Area::App, "process " + std::to_string(pid) + " could not be ended: " +
                                         win32::ErrorText(GetLastError()));
        return EndResult::Refused;
    }
};

}  // namespace

std::unique_ptr<IProcessControl> CreateProcessControl() {
    return std::make_unique<ProcessControlWin>();
}

}  // namespace vorn::platform
