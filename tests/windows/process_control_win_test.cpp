#include "platform/ProcessControl.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>

using vorn::platform::CreateProcessControl;
using vorn::platform::EndResult;

namespace {

// The id of the running process whose executable is named `name`; 0 when there is none.
DWORD FindProcess(const std::wstring& name, int tries = 100) {
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (attempt > 0)
            Sleep(50);
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            continue;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        DWORD found = 0;
        for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
             more = Process32NextW(snapshot, &entry))
            if (_wcsicmp(entry.szExeFile, name.c_str()) == 0)
                found = entry.th32ProcessID;
        CloseHandle(snapshot);
        if (found)
            return found;
    }
    return 0;
}

class ProcessControlWin : public testing::Test {
protected:
    // A copy of the idle helper under `name`, so that it can be found by name.
    std::wstring HelperNamed(const std::wstring& name) {
        const std::wstring path = folder.path() + L"\\" + name;
        CopyFileW((wintest::ExeFolder() + L"idle_helper.exe").c_str(), path.c_str(), FALSE);
        return path;
    }

    wintest::TempFolder folder{L"vorn-process-control"};
};

TEST_F(ProcessControlWin, EndsAChildAndAGrandchildAsKilled) {
    wintest::Process child(wintest::ExeFolder() + L"idle_helper.exe", L"");
    ASSERT_TRUE(child.started());
    EXPECT_EQ(CreateProcessControl()->EndDescendant(child.pid()), EndResult::Ended);
    EXPECT_EQ(child.Wait(5000), 1u);
    EXPECT_EQ(CreateProcessControl()->EndDescendant(child.pid()), EndResult::Gone);

    // Through a command interpreter that waits for it, as the engine's helpers sit under it.
    const std::wstring helper = HelperNamed(L"vorn_grandchild.exe");
    wintest::Process shell(L"C:\\windows\\system32\\cmd.exe", L"/c \"" + helper + L"\"");
    ASSERT_TRUE(shell.started());
    const DWORD grandchild = FindProcess(L"vorn_grandchild.exe");
    ASSERT_NE(grandchild, 0u);
    EXPECT_EQ(CreateProcessControl()->EndDescendant(grandchild), EndResult::Ended);
    EXPECT_NE(shell.Wait(10000), static_cast<DWORD>(STILL_ACTIVE));
}

TEST_F(ProcessControlWin, LeavesWhatIsNotOursAlone) {
    auto control = CreateProcessControl();
    EXPECT_EQ(control->EndDescendant(0), EndResult::NotOurs);
    EXPECT_EQ(control->EndDescendant(GetCurrentProcessId()), EndResult::NotOurs);
    EXPECT_EQ(control->EndDescendant(std::int64_t{1} << 40), EndResult::NotOurs);

    // Started through "start", whose own process ends at once: the helper's recorded parent is
    // gone (and its id may belong to anything by now), so the helper is not ours.
    const std::wstring helper = HelperNamed(L"vorn_orphan.exe");
    wintest::Process shell(L"C:\\windows\\system32\\cmd.exe", L"/c start \"\" \"" + helper + L"\"");
    ASSERT_TRUE(shell.started());
    shell.Wait(10000);
    const DWORD orphan = FindProcess(L"vorn_orphan.exe");
    ASSERT_NE(orphan, 0u);
    EXPECT_EQ(control->EndDescendant(orphan), EndResult::NotOurs);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, orphan);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the orphan is still running";
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

}  // namespace
