#include "platform/ProcessList.h"
#include "platform/win32/Text_win.h"
#include "platform/win32/VersionInfo_win.h"
#include "services/probes/RemoteControl.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

using vorn::MatchRemoteControlRule;
using vorn::RemoteControlRule;
using vorn::platform::ProcessRecord;
using namespace vorn::platform::win32;

namespace {

// Copies of the helper programs, started under the names the remote-control rules look at.
class ProcessListWin : public testing::Test {
protected:
    // Starts `helper` copied to `relative` inside the test folder and returns its snapshot record.
    std::optional<ProcessRecord> StartAs(const wchar_t* helper, const std::wstring& relative) {
        const std::wstring target = folder.path() + L"\\" + relative;
        const size_t slash = target.find_last_of(L'\\');
        CreateDirectoryW(target.substr(0, slash).c_str(), nullptr);
        if (!CopyFileW((wintest::ExeFolder() + helper).c_str(), target.c_str(), FALSE))
            return std::nullopt;
        processes.push_back(std::make_unique<wintest::Process>(target, L""));
        if (!processes.back()->started())
            return std::nullopt;
        // A process just created may not show its image path yet; give it two seconds.
        std::optional<ProcessRecord> found;
        for (int attempt = 0; attempt < 100 && !(found && !found->imagePath.empty()); ++attempt) {
            if (attempt > 0)
                Sleep(20);
            found.reset();
            for (ProcessRecord& record : vorn::platform::CreateProcessList()->Enumerate())
                if (record.pid == processes.back()->pid())
                    found = std::move(record);
        }
        return found;
    }

    // As the client's scan and the readiness check judge a process.
    static RemoteControlRule RuleOf(const ProcessRecord& record) {
        return MatchRemoteControlRule(*vorn::platform::CreateProcessList(), record);
    }

    wintest::TempFolder folder{L"vorn-processes"};
    std::vector<std::unique_ptr<wintest::Process>> processes;  // ended before the folder goes
};

TEST_F(ProcessListWin, RenamedExecutableIsFoundByItsName) {
    const auto record = StartAs(L"idle_helper.exe", L"ToDesk.exe");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->fileName, "ToDesk.exe");
    EXPECT_EQ(record->imagePath, WideToUtf8(folder.path() + L"\\ToDesk.exe"));
    EXPECT_EQ(RuleOf(*record), RemoteControlRule::ExactName);
}

TEST_F(ProcessListWin, InnocentNameIsFoundByItsVersionResource) {
    // A folder name outside every ANSI code page but one: the path must stay UTF-16 throughout.
    const auto tool = StartAs(L"innocent_helper.exe", L"\u8003\u8bd5 \u00e9\u0436\\helper.exe");
    const auto plain = StartAs(L"idle_helper.exe", L"\u8003\u8bd5 \u00e9\u0436\\helper2.exe");
    ASSERT_TRUE(tool);
    ASSERT_TRUE(plain);
    EXPECT_EQ(tool->imagePath,
              WideToUtf8(folder.path() + L"\\\u8003\u8bd5 \u00e9\u0436\\helper.exe"));
    const auto strings = IdentityVersionStrings(Utf8ToWide(tool->imagePath));
    EXPECT_EQ(strings[0], "AnyDesk remote desktop");
    EXPECT_EQ(strings[1], "(C) Example Software");
    EXPECT_EQ(strings[2], "helper.exe");
    EXPECT_EQ(RuleOf(*tool), RemoteControlRule::PathOrOwnName);
    EXPECT_EQ(RuleOf(*plain), RemoteControlRule::None);
}

// What identifies a program on Windows is its version resource, not the folder it sits in: a
// plain program installed under a tool's name is not a tool.
TEST_F(ProcessListWin, FolderNamedAfterAToolDoesNotMakeAProgramOne) {
    const auto plain = StartAs(L"idle_helper.exe", L"AnyDesk\\notes.exe");
    ASSERT_TRUE(plain);
    EXPECT_NE(plain->imagePath.find("\\AnyDesk\\"), std::string::npos) << plain->imagePath;
    EXPECT_EQ(RuleOf(*plain), RemoteControlRule::None);
}

}  // namespace
