// The environment probes on Windows under Wine: monitors of the test's Xvfb screen, the remote
// session rule, and the virtualization facts against what Linux itself shows underneath Wine
// (its files are reachable through Wine's Z: drive).
#include "platform/Monitors.h"
#include "platform/RemoteSession.h"
#include "platform/Virtualization.h"
#include "platform/win32/SmbiosTable_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

using namespace vorn::platform;

namespace {

// A file of the Linux system under Wine, read through the Windows API; nothing when absent.
std::optional<std::string> LinuxFile(const std::wstring& path) {
    HANDLE file = CreateFileW((L"Z:" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0 &&
           text.size() < (1 << 20))
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

// scripts/test-windows.sh runs Wine on one Xvfb screen of 1024 x 768.
TEST(ProbesWin, MonitorsAreTheScreenOfTheDisplay) {
    const auto monitors = CreateMonitors()->List();
    ASSERT_TRUE(monitors);
    EXPECT_EQ(*monitors, (std::vector<MonitorArea>{{0, 0, 1024, 768}}));
}

ProcessRecord Named(const char* name) {
    ProcessRecord record;
    record.fileName = name;
    return record;
}

// A local session (Wine's is never a Remote Desktop one) is remote only while a screen server
// runs; Windows names are compared without regard to case, and only whole.
TEST(ProbesWin, RemoteOnlyWithAScreenServerRunning) {
    const auto session = CreateRemoteSession();
    EXPECT_FALSE(session->IsRemote({}));
    EXPECT_FALSE(session->IsRemote({Named("explorer.exe"), Named("mytvnserver.exe"),
                                    Named("winvnc.exe.old"), Named("TeamViewer.exe")}));
    EXPECT_TRUE(session->IsRemote({Named("explorer.exe"), Named("TVNServer.EXE")}));
    EXPECT_TRUE(session->IsRemote({Named("winvnc.exe")}));
}

// The CPU's hypervisor leaf is the same instruction under Wine; the firmware strings are what
// Wine builds its SMBIOS table from (Linux's DMI files), where Linux shows any.
TEST(ProbesWin, VirtualizationFactsMatchTheSystemUnderneath) {
    const VirtualizationFacts facts = CreateVirtualization()->ReadFacts();
    const auto cpuinfo = LinuxFile(L"\\proc\\cpuinfo");
    ASSERT_TRUE(cpuinfo);
    const bool hypervisorFlag = cpuinfo->find(" hypervisor") != std::string::npos;
    EXPECT_EQ(facts.hypervisorSignature.has_value(), hypervisorFlag);
    ASSERT_EQ(facts.dmiStrings.size(), 5u);
    const wchar_t* files[] = {L"product_name", L"sys_vendor", L"board_vendor", L"bios_vendor",
                              L"product_version"};
    for (size_t i = 0; i < 5; ++i) {
        const auto linux = LinuxFile(std::wstring(L"\\sys\\class\\dmi\\id\\") + files[i]);
        if (!linux)
            continue;
        std::string line = linux->substr(0, linux->find('\n'));
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        EXPECT_EQ(facts.dmiStrings[i], line) << i;
    }
}

// The bytes of a literal with NULs inside, its own terminator left out.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// A table as GetSystemFirmwareTable('RSMB') gives it: the 8-byte header, then the structures.
std::string Table(const std::string& structures, std::uint32_t declared = 0xFFFFFFFF) {
    if (declared == 0xFFFFFFFF)
        declared = static_cast<std::uint32_t>(structures.size());
    std::string raw = {0, 3, 4, 0};
    for (int i = 0; i < 4; ++i)
        raw += static_cast<char>((declared >> (8 * i)) & 0xFF);
    return raw + structures;
}

std::string Bios(bool vmBit) {
    // type 0, length 0x14, handle, vendor = string 1, ..., extension byte 2 at 0x13
    std::string s(0x14, '\0');
    s[1] = 0x14;
    s[4] = 1;
    s[0x13] = vmBit ? 0x10 : 0x08;
    return s + Bytes("SeaBIOS\0\0");
}

std::string System() {
    std::string s(0x08, '\0');
    s[0] = 1;
    s[1] = 0x08;
    s[4] = 1;
    s[5] = 2;
    s[6] = 3;
    return s + Bytes("QEMU  \0Standard PC\r\nsecond line\0pc-1.0\0\0");
}

std::string Board(unsigned char vendorString) {
    std::string s(0x08, '\0');
    s[0] = 2;
    s[1] = 0x08;
    s[4] = static_cast<char>(vendorString);
    return s + Bytes("Board Co\0\0");
}

TEST(SmbiosTable, ReadsTheMachineAndRefusesWhatLiesOutsideTheTable) {
    const std::string end = Bytes("\x7f\x04\0\0\0\0");
    auto id = win32::ParseRawSmbios(Table(Bios(true) + System() + Board(1) + end));
    EXPECT_EQ(id.biosVendor, "SeaBIOS");
    EXPECT_EQ(id.systemVendor, "QEMU");
    EXPECT_EQ(id.productName, "Standard PC");
    EXPECT_EQ(id.productVersion, "pc-1.0");
    EXPECT_EQ(id.boardVendor, "Board Co");
    EXPECT_EQ(id.virtualMachineBit, std::optional<bool>(true));
    EXPECT_EQ(win32::ParseRawSmbios(Table(Bios(false))).virtualMachineBit,
              std::optional<bool>(false));

    // A string number past the structure's strings names nothing.
    EXPECT_EQ(win32::ParseRawSmbios(Table(Board(7))).boardVendor, "");
    // The header's length bounds the table: what lies after it is not read.
    const std::string both = Bios(true) + System();
    EXPECT_EQ(win32::ParseRawSmbios(Table(both, static_cast<std::uint32_t>(Bios(true).size())))
                  .systemVendor,
              "");
    // A structure cut short (no string terminator, or a length past the data) ends the walk;
    // what came before stays.
    const std::string cut = both.substr(0, both.size() - 3);
    id = win32::ParseRawSmbios(Table(cut));
    EXPECT_EQ(id.biosVendor, "SeaBIOS");
    EXPECT_EQ(id.systemVendor, "");
    std::string tooLong = System();
    tooLong[1] = static_cast<char>(0xF0);
    EXPECT_EQ(win32::ParseRawSmbios(Table(Bios(true) + tooLong)).productName, "");
    std::string tooShort = System();
    tooShort[1] = 2;
    EXPECT_EQ(win32::ParseRawSmbios(Table(tooShort)).productName, "");
    EXPECT_EQ(win32::ParseRawSmbios(std::string(5, '\0')).biosVendor, "");
    // Only the first structure of a kind describes the machine.
    EXPECT_EQ(win32::ParseRawSmbios(Table(Board(1) + Board(0))).boardVendor, "Board Co");
}

}  // namespace
