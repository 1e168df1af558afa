#include "platform/linux/ProcessList_linux.h"

#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

using vorn::platform::CommandLineWords;
using vorn::platform::CreateProcessList;
using vorn::platform::PathBaseName;
using vorn::platform::ProcessFileName;
using vorn::platform::ProcessRecord;
using vorn::platform::ReadProcessRecord;

TEST(ProcessFileName, ExeLinkThenArgv0ThenComm) {
    EXPECT_EQ(ProcessFileName("/opt/todesk/bin/ToDesk", "todesk-alias", "comm"), "ToDesk");
    EXPECT_EQ(ProcessFileName("", "/usr/bin/anydesk", "comm"), "anydesk");
    EXPECT_EQ(ProcessFileName("", "anydesk", "comm"), "anydesk");
    EXPECT_EQ(ProcessFileName("", "", "kworker/0:1"), "kworker/0:1");
    // An argv[0] that ends in a separator names nothing.
    EXPECT_EQ(ProcessFileName("", "/usr/bin/", "sleep"), "sleep");
    EXPECT_EQ(ProcessFileName("", "", ""), "");
}

// Both probes split the same command lines and take the same base names.
TEST(ProcessRecordText, WordsAndBaseNames) {
    using Words = std::vector<std::string_view>;
    EXPECT_EQ(CommandLineWords(""), Words{});
    EXPECT_EQ(CommandLineWords("   "), Words{});
    EXPECT_EQ(CommandLineWords(" Xvnc  :1 -geometry 1024x768 "),
              (Words{"Xvnc", ":1", "-geometry", "1024x768"}));
    EXPECT_EQ(PathBaseName("/usr/bin/x11vnc", "/"), "x11vnc");
    EXPECT_EQ(PathBaseName("C:\\Tools\\obs64.exe", "/"), "C:\\Tools\\obs64.exe");
    EXPECT_EQ(PathBaseName("C:\\Tools/obs64.exe", "\\/"), "obs64.exe");
    EXPECT_EQ(PathBaseName("dir/", "/"), "");
    EXPECT_EQ(PathBaseName("plain", "\\/"), "plain");
}

TEST(ProcessFileName, WineProgramIsNamedByItsWindowsPath) {
    for (const char* loader : {"/usr/lib/wine/wine64-preloader", "/usr/lib/wine/wine-preloader",
                               "/usr/bin/wine", "/opt/wine-staging/bin/wine64"}) {
        EXPECT_EQ(ProcessFileName(loader, "C:\\Program Files\\ToDesk\\ToDesk.exe", "ToDesk.exe"),
                  "ToDesk.exe")
            << loader;
    }
    EXPECT_EQ(ProcessFileName("/usr/lib/wine/wine64", "C:/windows/system32/QQ.exe", ""), "QQ.exe");
    // The loader with nothing in argv[0] keeps its own name.
    EXPECT_EQ(ProcessFileName("/usr/lib/wine/wine64-preloader", "", ""), "wine64-preloader");
    // Without the exe link a Windows path in argv[0] is still split at backslashes...
    EXPECT_EQ(ProcessFileName("", "C:\\Tools\\WeChat.exe", ""), "WeChat.exe");
    // ...but a native program's backslashes are part of its name.
    EXPECT_EQ(ProcessFileName("/usr/bin/odd", "odd", ""), "odd");
    EXPECT_EQ(ProcessFileName("", "/tmp/a\\b", ""), "a\\b");
    EXPECT_EQ(ProcessFileName("/usr/bin/winecfg-like", "x\\y", ""), "winecfg-like");
}

TEST(ProcessList, FixtureTreeFollowsTheFallbacks) {
    vorn::test::TempFolder proc{"vorn-probes"};
    ASSERT_FALSE(proc.Root().empty());
    // Exe link present (its target need not exist to be read).
    proc.Link("100/exe", "/opt/todesk/bin/ToDesk");
    proc.Write("100/cmdline", std::string("/opt/todesk/bin/ToDesk\0--daemon\0", 33));
    proc.Write("100/comm", "ToDesk\n");
    // Exe link unreadable (another user's process): argv[0].
    proc.Write("200/cmdline", std::string("/usr/bin/anydesk\0--tray\0", 24));
    proc.Write("200/comm", "anydesk\n");
    // Kernel thread: only comm.
    proc.Write("300/cmdline", "");
    proc.Write("300/comm", "kworker/0:1-events\n");
    // Wine program.
    proc.Link("400/exe", "/usr/lib/wine/wine64-preloader");
    proc.Write("400/cmdline", std::string("C:\\Program Files\\ToDesk\\ToDesk.exe\0/s\0", 39));
    // Executable deleted after start.
    proc.Link("500/exe", "/home/u/QQ (deleted)");
    proc.Write("500/cmdline", std::string("./QQ\0", 5));
    // Vanished between listing and reading: nothing left to read.
    proc.MakeFolder("600");
    // Not processes.
    proc.Link("self", "100");
    proc.MakeFolder("sys/kernel");
    proc.Write("uptime", "1.0 1.0\n");
    proc.MakeFolder("12x");
    proc.MakeFolder("99999999999");  // does not fit a pid
    // Numerically first although listed in any order.
    proc.Write("42/comm", "init\n");

    const std::vector<ProcessRecord> records = CreateProcessList(proc.Root())->Enumerate();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].pid, 42u);
    EXPECT_EQ(records[0].fileName, "init");

    EXPECT_EQ(records[1].pid, 100u);
    EXPECT_EQ(records[1].fileName, "ToDesk");
    EXPECT_EQ(records[1].imagePath, "/opt/todesk/bin/ToDesk");
    EXPECT_EQ(records[1].commandLine, "/opt/todesk/bin/ToDesk --daemon");

    EXPECT_EQ(records[2].fileName, "anydesk");
    EXPECT_EQ(records[2].imagePath, "");
    EXPECT_EQ(records[2].commandLine, "/usr/bin/anydesk --tray");
    EXPECT_EQ(records[2].argv0, "/usr/bin/anydesk");

    EXPECT_EQ(records[3].fileName, "kworker/0:1-events");
    EXPECT_EQ(records[3].commandLine, "");

    EXPECT_EQ(records[4].fileName, "ToDesk.exe");
    EXPECT_EQ(records[4].imagePath, "/usr/lib/wine/wine64-preloader");
    EXPECT_EQ(records[4].commandLine, "C:\\Program Files\\ToDesk\\ToDesk.exe /s");
    EXPECT_EQ(records[4].argv0, "C:\\Program Files\\ToDesk\\ToDesk.exe");

    EXPECT_EQ(records[5].pid, 500u);
    EXPECT_EQ(records[5].fileName, "QQ");
    EXPECT_EQ(records[5].imagePath, "/home/u/QQ");

    EXPECT_FALSE(ReadProcessRecord(proc.Root(), 600).has_value());
    EXPECT_FALSE(ReadProcessRecord(proc.Root(), 777).has_value());
    EXPECT_TRUE(CreateProcessList(proc.Root() / "missing")->Enumerate().empty());
}

TEST(ProcessList, NonUtf8AndNonAsciiBytesAreKept) {
    vorn::test::TempFolder proc{"vorn-probes"};
    ASSERT_FALSE(proc.Root().empty());
    proc.Link("10/exe", "/opt/向日葵/向日葵客户端");
    proc.Write("11/cmdline", std::string("/tmp/bad\xff\xfename\0", 15));
    const std::vector<ProcessRecord> records = CreateProcessList(proc.Root())->Enumerate();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fileName, "向日葵客户端");
    EXPECT_EQ(records[1].fileName, "bad\xff\xfename");
}

TEST(ProcessList, ReadsThisProcess) {
    const auto self = ReadProcessRecord("/proc", static_cast<uint32_t>(::getpid()));
    ASSERT_TRUE(self.has_value());
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(self->imagePath, exe.native());
    EXPECT_EQ(self->fileName, exe.filename().native());
    EXPECT_THAT(self->commandLine, ::testing::HasSubstr("process_list_test"));

    bool listed = false;
    for (const ProcessRecord& record : CreateProcessList()->Enumerate())
        listed |= record.pid == static_cast<uint32_t>(::getpid());
    EXPECT_TRUE(listed);
}
