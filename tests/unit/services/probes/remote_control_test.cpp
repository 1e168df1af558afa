#include "services/probes/RemoteControl.h"

#include "platform/linux/ProcessList_linux.h"

#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QtGlobal>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using ::testing::HasSubstr;
using vorn::IsRemoteControlRunning;
using vorn::MatchRemoteControlRule;
using vorn::RemoteControlRule;
using vorn::platform::CreateProcessList;
using vorn::platform::ProcessRecord;

namespace {

// Collects the vorn.probes lines written while it lives (info level and above).
class ProbeLogCapture {
public:
    ProbeLogCapture() {
        lines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("vorn.probes.info=true"));
        m_previous = qInstallMessageHandler(&ProbeLogCapture::handle);
    }
    ~ProbeLogCapture() {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    ProbeLogCapture(const ProbeLogCapture&) = delete;
    ProbeLogCapture& operator=(const ProbeLogCapture&) = delete;

    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message) {
        if (context.category && std::string_view(context.category) == "vorn.probes")
            lines().push_back(message.toStdString());
    }
    QtMessageHandler m_previous = nullptr;
};

ProcessRecord Record(std::string fileName,
                     std::string imagePath = {},
                     std::string commandLine = {},
                     std::string argv0 = {}) {
    static uint32_t nextPid = 1000;
    return ProcessRecord{nextPid++, std::move(fileName), std::move(imagePath),
                         std::move(commandLine), std::move(argv0)};
}

RemoteControlRule RuleFor(std::string fileName,
                          std::string imagePath = {},
                          std::string commandLine = {},
                          std::string argv0 = {}) {
    static const auto processes = CreateProcessList();
    return MatchRemoteControlRule(*processes, Record(std::move(fileName), std::move(imagePath),
                                                     std::move(commandLine), std::move(argv0)));
}

// A process table as a test sets it out, with what it tells of each program given per pid.
class FixedProcessList : public vorn::platform::IProcessList {
public:
    FixedProcessList(std::vector<ProcessRecord> records,
                     std::map<std::uint32_t, std::vector<std::string>> identities)
        : m_records(std::move(records)), m_identities(std::move(identities)) {}
    std::vector<ProcessRecord> Enumerate() const override { return m_records; }
    std::uint32_t CurrentProcessId() const override { return 0; }
    std::vector<std::string> IdentityTexts(const ProcessRecord& record) const override {
        const auto found = m_identities.find(record.pid);
        return found == m_identities.end() ? std::vector<std::string>{} : found->second;
    }

private:
    std::vector<ProcessRecord> m_records;
    std::map<std::uint32_t, std::vector<std::string>> m_identities;
};

// The probe as the client asks it: this machine's processes, this one left out as the client
// leaves itself out.
bool IsRemoteControlRunning() {
    const auto processes = CreateProcessList();
    return vorn::IsRemoteControlRunning(*processes, vorn::OtherProcesses(*processes));
}

// Given records, with what this machine's process list tells of their programs.
bool IsRemoteControlRunning(const std::vector<ProcessRecord>& records) {
    return vorn::IsRemoteControlRunning(*CreateProcessList(), records);
}

}  // namespace

TEST(RemoteControlRules, ExactNameWithoutExtension) {
    EXPECT_EQ(RuleFor("ToDesk.exe"), RemoteControlRule::ExactName);
    EXPECT_EQ(RuleFor("todesk.exe"), RemoteControlRule::ExactName);
    EXPECT_EQ(RuleFor("anydesk"), RemoteControlRule::ExactName);  // no dot: compared whole
    EXPECT_EQ(RuleFor("WeChat.exe"), RemoteControlRule::ExactName);
    EXPECT_EQ(RuleFor("QQ.exe"), RemoteControlRule::ExactName);
    EXPECT_EQ(RuleFor("TIM.exe"), RemoteControlRule::ExactName);
    EXPECT_EQ(RuleFor("QQ"), RemoteControlRule::ExactName);
    // Only the last extension is cut.
    EXPECT_EQ(RuleFor("ToDesk.tar.gz"), RemoteControlRule::NamePrefix);
    EXPECT_EQ(RuleFor("raylink.bin.exe"), RemoteControlRule::NamePrefix);
}

TEST(RemoteControlRules, NameRulesAreCaseSensitive) {
    EXPECT_EQ(RuleFor("TODESK.EXE"), RemoteControlRule::None);
    EXPECT_EQ(RuleFor("Todesk.exe"), RemoteControlRule::None);
    EXPECT_EQ(RuleFor("wechat.exe"), RemoteControlRule::None);
    EXPECT_EQ(RuleFor("qq"), RemoteControlRule::None);
}

TEST(RemoteControlRules, PrefixOnlyForRemoteTools) {
    EXPECT_EQ(RuleFor("Sunlogin1.exe"), RemoteControlRule::NamePrefix);
    EXPECT_EQ(RuleFor("TeamViewer2.exe"), RemoteControlRule::NamePrefix);
    EXPECT_EQ(RuleFor("todesk_service"), RemoteControlRule::NamePrefix);
    // The second list has neither prefix nor substring rule.
    EXPECT_EQ(RuleFor("QQX.exe"), RemoteControlRule::None);
    EXPECT_EQ(RuleFor("WeChatApp.exe", "/opt/WeChatApp/WeChatApp.exe", "WeChat --QQ TIM"),
              RemoteControlRule::None);
    // A tool name inside, not at the start, is no prefix.
    EXPECT_EQ(RuleFor("MyToDesk.exe"), RemoteControlRule::None);
}

TEST(RemoteControlRules, PathAndOwnNameCatchRenamedTools) {
    // The upper-case name escapes the name rules; its install folder gives it away.
    EXPECT_EQ(RuleFor("TODESK.EXE", "/home/u/.wine/drive_c/Program Files/ToDesk/TODESK.EXE"),
              RemoteControlRule::PathOrOwnName);
    EXPECT_EQ(RuleFor("TODESK.EXE", "/opt/x/TODESK.EXE", "/opt/x/TODESK.EXE", "/opt/x/TODESK.EXE"),
              RemoteControlRule::None);
    EXPECT_EQ(RuleFor("helper", "/opt/AnyDesk/helper"), RemoteControlRule::PathOrOwnName);
    // argv[0] counts even when the exe link could not be read.
    EXPECT_EQ(RuleFor("helper", "", "/opt/AnyDesk/helper --service", "/opt/AnyDesk/helper"),
              RemoteControlRule::PathOrOwnName);
    EXPECT_EQ(RuleFor("bash", "/usr/bin/bash", "bash -c echo hello"), RemoteControlRule::None);
    EXPECT_EQ(RuleFor(""), RemoteControlRule::None);
}

TEST(RemoteControlRules, ArgumentsThatNameAToolDoNotCount) {
    EXPECT_EQ(RuleFor("python3.11", "/usr/bin/python3.11",
                      "python3 -c print(open('x').read()) /home/candidate/TeamViewer-notes.txt",
                      "python3"),
              RemoteControlRule::None);
    EXPECT_EQ(RuleFor("grep", "/usr/bin/grep", "grep TeamViewer", "grep"), RemoteControlRule::None);
    EXPECT_EQ(RuleFor("vim.basic", "/usr/bin/vim.basic", "vim anydesk.txt", "vim"),
              RemoteControlRule::None);
    EXPECT_EQ(RuleFor("python3", "", "python3 /srv/teamviewer/agent.py", "python3"),
              RemoteControlRule::None);
}

TEST(RemoteControlRules, NonAsciiNamesCompareAsBytes) {
    EXPECT_EQ(RuleFor("ToDesk远程.exe"), RemoteControlRule::NamePrefix);
    EXPECT_EQ(RuleFor("向日葵", "/opt/向日葵/Sunlogin客户端"), RemoteControlRule::PathOrOwnName);
    EXPECT_EQ(RuleFor("微信.exe", "/opt/微信/微信.exe"), RemoteControlRule::None);
}

TEST(RemoteControlScan, EveryMatchIsLoggedAndTheAnswerGivenOnce) {
    ProbeLogCapture log;
    const std::vector<ProcessRecord> processes = {
        {11, "bash", "/usr/bin/bash", "bash"},
        {12, "ToDesk.exe", "", ""},
        {13, "QQX.exe", "", ""},
        {14, "TeamViewer2.exe", "", ""},
    };
    EXPECT_TRUE(IsRemoteControlRunning(processes));
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_THAT(log.lines()[0], HasSubstr("pid 12"));
    EXPECT_THAT(log.lines()[0], HasSubstr("ToDesk.exe"));
    EXPECT_THAT(log.lines()[0], HasSubstr("rule 1"));
    EXPECT_THAT(log.lines()[1], HasSubstr("pid 14"));
    EXPECT_THAT(log.lines()[1], HasSubstr("rule 2"));
}

TEST(RemoteControlScan, NoMatchIsSilentAndFalse) {
    ProbeLogCapture log;
    EXPECT_FALSE(IsRemoteControlRunning(std::vector<ProcessRecord>{
        {1, "systemd", "/usr/lib/systemd/systemd", "/sbin/init"}, {2, "kthreadd", "", ""}}));
    EXPECT_FALSE(IsRemoteControlRunning(std::vector<ProcessRecord>{}));
    EXPECT_TRUE(log.lines().empty());
}

TEST(RemoteControlScan, HostileNameIsLoggedOnOneLine) {
    ProbeLogCapture log;
    EXPECT_TRUE(IsRemoteControlRunning(std::vector<ProcessRecord>{{7, "ToDesk\nrule 9", "", ""}}));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].find('\n'), std::string::npos);
}

// Where executables carry version strings (Windows), the process list gives those as what
// identifies a program: a renamed tool is found by them, and an innocent program is not judged by
// the name of the folder it was installed in.
TEST(RemoteControlScan, RuleThreeSearchesWhatTheProcessListTellsOfTheProgram) {
    const ProcessRecord renamed{21, "helper.exe", "C:\\Programs\\helper.exe", "", ""};
    const ProcessRecord innocent{22, "notes.exe", "C:\\AnyDesk\\notes.exe", "", ""};
    const FixedProcessList list({renamed, innocent},
                                {{21, {"AnyDesk remote desktop", "(C) Example", "helper.exe"}},
                                 {22, {"Notes", "", "notes.exe"}}});
    ProbeLogCapture log;
    EXPECT_TRUE(IsRemoteControlRunning(list));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_THAT(log.lines()[0], HasSubstr("pid 21"));
    EXPECT_THAT(log.lines()[0], HasSubstr("rule 3"));
    EXPECT_FALSE(IsRemoteControlRunning(list, {innocent}));
}

TEST(RemoteControlScan, FixtureProcessTable) {
    vorn::test::TempFolder proc{"vorn-probes"};
    ASSERT_FALSE(proc.Root().empty());
    proc.Link("1/exe", "/usr/lib/systemd/systemd");
    proc.Write("1/cmdline", std::string("/sbin/init\0splash\0", 18));
    proc.Write("1/comm", "systemd\n");
    // A Windows tool under Wine: the loader is the exe, the program is in argv[0].
    proc.Link("40/exe", "/usr/lib/wine/wine64-preloader");
    proc.Write("40/cmdline", std::string("C:\\Program Files\\Tool\\WeChat.exe\0", 34));
    proc.Write("40/comm", "WeChat.exe\n");
    proc.MakeFolder("41");  // vanished while being read

    {
        ProbeLogCapture log;
        EXPECT_TRUE(IsRemoteControlRunning(*CreateProcessList(proc.Root())));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_THAT(log.lines()[0], HasSubstr("pid 40"));
        EXPECT_THAT(log.lines()[0], HasSubstr("WeChat.exe"));
    }
    std::filesystem::remove_all(proc.Root() / "40");
    EXPECT_FALSE(IsRemoteControlRunning(*CreateProcessList(proc.Root())));
    EXPECT_FALSE(IsRemoteControlRunning(*CreateProcessList(proc.Root() / "missing")));
}

// A real process whose executable is a copy of sleep named like a remote-control tool.
TEST(RemoteControlRealProcess, CopiedSleepIsFoundWhileItRuns) {
    if (IsRemoteControlRunning())
        GTEST_SKIP() << "a process on this machine already looks like a remote-control tool";

    vorn::test::TempFolder dir{"vorn-probes"};
    ASSERT_FALSE(dir.Root().empty());
    const std::filesystem::path tool = dir.Root() / "ToDesk";
    std::filesystem::copy_file("/bin/sleep", tool);
    std::filesystem::permissions(tool, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);

    const std::string path = tool.native();
    std::string seconds = "30";
    char* argv[] = {const_cast<char*>(path.c_str()), seconds.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);

    // posix_spawn returns once the child has exec'd, but give the kernel a moment to publish it.
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        const auto record = vorn::platform::ReadProcessRecord("/proc", static_cast<uint32_t>(pid));
        seen = record && record->fileName == "ToDesk";
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
    {
        ProbeLogCapture log;
        EXPECT_TRUE(IsRemoteControlRunning());
        bool logged = false;
        for (const std::string& line : log.lines())
            logged |= line.find("pid " + std::to_string(pid) + " ") != std::string::npos;
        EXPECT_TRUE(logged);
    }

    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_FALSE(IsRemoteControlRunning());
}

// The client is started with a page-chosen address on its command line; that must not make it
// count itself.
TEST(RemoteControlRealProcess, OwnCommandLineIsNotCounted) {
    if (IsRemoteControlRunning())
        GTEST_SKIP() << "a process on this machine already looks like a remote-control tool";
    // program_invocation_name is argv[0]; rewriting it in place rewrites /proc/self/cmdline.
    char* argv0 = program_invocation_name;
    const std::string saved = argv0;
    const std::string_view marker = "ToDesk";
    ASSERT_GE(saved.size(), marker.size());
    std::copy(marker.begin(), marker.end(), argv0);

    const auto self = vorn::platform::ReadProcessRecord("/proc", static_cast<uint32_t>(::getpid()));
    const bool ownLineMatches =
        self && self->commandLine.starts_with(marker) &&
        MatchRemoteControlRule(*CreateProcessList(), *self) != RemoteControlRule::None;
    const bool wholeTable = IsRemoteControlRunning(*CreateProcessList());
    const bool probe = IsRemoteControlRunning();
    std::copy(saved.begin(), saved.end(), argv0);

    EXPECT_TRUE(ownLineMatches);
    EXPECT_TRUE(wholeTable);
    EXPECT_FALSE(probe);
}
