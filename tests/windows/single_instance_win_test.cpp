#include "platform/SingleInstance.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

bool AcquireSingleInstance(const std::string& name) {
    return vorn::platform::CreateSingleInstance()->Acquire(name);
}

// Child roles of this executable (exit code 0: the name was held by someone else, 1: taken).
//   --try NAME          tries once and ends
//   --take-and-wait NAME  takes it and waits to be ended
int ChildMain(const char* role, const char* name) {
    const std::wstring wide(name, name + std::strlen(name));
    const bool taken = AcquireSingleInstance(name);
    if (std::strcmp(role, "--take-and-wait") == 0 && taken) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (wide + L"_ready").c_str());
        if (ready)
            SetEvent(ready);
        Sleep(60000);
    }
    return taken ? 1 : 0;
}

DWORD TryInChild(const std::wstring& name) {
    wintest::Process child(wintest::ExeFolder() + L"single_instance_win_test.exe",
                           L"--try " + name);
    return child.Wait(20000);
}

}  // namespace

TEST(SingleInstanceWin, SecondProcessSeesTheApplicationMutexHeld) {
    ASSERT_EQ(TryInChild(L"vorn_appinstance"), 1u) << "nobody holds it before this test";
    ASSERT_TRUE(AcquireSingleInstance("vorn_appinstance"));
    EXPECT_EQ(TryInChild(L"vorn_appinstance"), 0u);
    EXPECT_FALSE(AcquireSingleInstance("vorn_appinstance"));  // a second start in-process alike
}

TEST(SingleInstanceWin, NameIsFreeAgainOnceTheHolderIsKilled) {
    const std::wstring name = L"vorn_test_instance_" + std::to_wstring(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (name + L"_ready").c_str());
    ASSERT_NE(ready, nullptr);
    {
        wintest::Process holder(wintest::ExeFolder() + L"single_instance_win_test.exe",
                                L"--take-and-wait " + name);
        ASSERT_TRUE(holder.started());
        ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);
        EXPECT_EQ(TryInChild(name), 0u);
    }  // terminated, as a crash would end it
    EXPECT_EQ(TryInChild(name), 1u);
    CloseHandle(ready);
}

int main(int argc, char** argv) {
    if (argc == 3 &&
        (std::strcmp(argv[1], "--try") == 0 || std::strcmp(argv[1], "--take-and-wait") == 0))
        return ChildMain(argv[1], argv[2]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
