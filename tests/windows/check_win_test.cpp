// vornclient-check.exe as an exam centre runs it under Windows: a client folder with the card
// reader simulator as termb.dll, the registry's vornapp: class, and processes started here.
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// The folder's name is outside the ANSI code page: it reaches the check through the wide
// command line and must come back intact in the report (UTF-8).
const std::wstring kLeaf = L"vorn-\u8003\u8bd5-check";
const std::string kLeafUtf8 = "vorn-\xe8\x80\x83\xe8\xaf\x95-check";

class CheckWin : public testing::Test {
protected:
    void SetUp() override {
        const std::wstring build = wintest::ExeFolder() + L"..\\";
        ASSERT_TRUE(
            CopyFileW((build + L"termb.dll").c_str(), (Client() + L"termb.dll").c_str(), FALSE));
        std::ofstream(std::filesystem::path(Client() + L"termb-sim.ini"))
            << "ports = 1005\ncard = 1\nname = \xe6\xb5\x8b\xe8\xaf\x95 CHECK\nidcode = "
               "11010520000101001X\n";
        check = build + L"vornclient-check.exe";
        ForgetScheme();
    }
    void TearDown() override {
        processes.clear();
        ForgetScheme();
    }

    static void ForgetScheme() {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\vornapp");
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\vornapp");
    }

    std::wstring Client() const { return folder.path() + L"\\"; }

    std::string Run(const std::wstring& arguments, DWORD* code) {
        return wintest::RunAndCapture(
            L"\"" + check + L"\" --client-folder \"" + folder.path() + L"\" " + arguments, code);
    }

    // `name` may lie in a subfolder of the client folder, which is made.
    DWORD Start(const wchar_t* helper, const std::wstring& name) {
        const std::wstring target = folder.path() + L"\\" + name;
        CreateDirectoryW(target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
        if (!CopyFileW((wintest::ExeFolder() + helper).c_str(), target.c_str(), FALSE))
            return 0;
        processes.push_back(std::make_unique<wintest::Process>(target, L""));
        Sleep(300);  // until the snapshot shows its image path
        return processes.back()->started() ? processes.back()->pid() : 0;
    }

    wintest::TempFolder folder{kLeaf};
    std::wstring check;
    std::vector<std::unique_ptr<wintest::Process>> processes;
};

TEST_F(CheckWin, PortSearchFindsTheSimulatorWithoutShowingTheCard) {
    DWORD code = 0;
    const std::string json = Run(L"--json", &code);
    EXPECT_EQ(code, 1u) << json;  // vornapp: is not registered
    EXPECT_NE(json.find(kLeafUtf8), std::string::npos) << json;
    EXPECT_NE(json.find("\"cardReader\":{\"expected\":false,\"library\":true,\"port\":1005,"
                        "\"card\":true,\"timedOut\":false}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"urlScheme\":{\"registered\":false,\"command\":\"\"}"),
              std::string::npos);
    EXPECT_EQ(json.find("CHECK"), std::string::npos) << "a card's fields only with --read-card";

    const std::string card = Run(L"--json --read-card", &code);
    EXPECT_NE(card.find("\"name\":\"\xe6\xb5\x8b\xe8\xaf\x95 CHECK\""), std::string::npos) << card;
    EXPECT_NE(card.find("\"idCode\":\"11010520000101001X\""), std::string::npos);
}

TEST_F(CheckWin, CreateProtocolRegistersTheClientBesideIt) {
    ASSERT_TRUE(CopyFileW((wintest::ExeFolder() + L"idle_helper.exe").c_str(),
                          (Client() + L"vornclient.exe").c_str(), FALSE));
    DWORD code = 2;
    const std::string json = Run(L"--json --createprotocol", &code);
    EXPECT_EQ(code, 0u) << json;
    EXPECT_NE(json.find("\"registered\":true"), std::string::npos) << json;
    // "<client folder>\vornclient.exe" "%1", as JSON.
    const size_t command = json.find("\"command\":\"\\\"");
    ASSERT_NE(command, std::string::npos) << json;
    const size_t end = json.find("\\\\vornclient.exe\\\" \\\"%1\\\"\"}", command);
    ASSERT_NE(end, std::string::npos) << json;
    EXPECT_NE(json.substr(command, end - command).find(kLeafUtf8), std::string::npos) << json;
    EXPECT_NE(json.find("\"ready\":true,\"blockers\":[]"), std::string::npos);

    // The registered client is gone: links would start nothing.
    ASSERT_TRUE(DeleteFileW((Client() + L"vornclient.exe").c_str()));
    const std::string text = Run(L"", &code);
    EXPECT_EQ(code, 1u) << text;
    EXPECT_NE(text.find("registered to a program that does not exist"), std::string::npos) << text;
}

TEST_F(CheckWin, RemoteControlProgramsBlockByNameAndByVersionResource) {
    const DWORD todesk = Start(L"idle_helper.exe", L"ToDesk.exe");
    const DWORD innocent = Start(L"innocent_helper.exe", L"helper.exe");
    const DWORD inFolder = Start(L"idle_helper.exe", L"AnyDesk\\notes.exe");
    ASSERT_NE(todesk, 0u);
    ASSERT_NE(innocent, 0u);
    ASSERT_NE(inFolder, 0u);
    DWORD code = 0;
    const std::string json = Run(L"--json", &code);
    EXPECT_EQ(code, 1u);
    EXPECT_NE(json.find("{\"pid\":" + std::to_string(todesk) + ",\"name\":\"ToDesk.exe\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\\\\ToDesk.exe\",\"rule\":1"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"pid\":" + std::to_string(innocent) + ",\"name\":\"helper.exe\""),
              std::string::npos);
    EXPECT_NE(json.find("\\\\helper.exe\",\"rule\":3"), std::string::npos) << json;
    // A folder named after a tool does not make the program in it one.
    EXPECT_EQ(json.find("\"pid\":" + std::to_string(inFolder) + ","), std::string::npos) << json;
    EXPECT_NE(json.find("ToDesk.exe (process " + std::to_string(todesk) + ") is running"),
              std::string::npos);
}

TEST_F(CheckWin, ExitCodes) {
    DWORD code = 0;
    Run(L"--bogus", &code);
    EXPECT_EQ(code, 2u);
    // An expected reader whose library is missing blocks.
    ASSERT_TRUE(DeleteFileW((Client() + L"termb.dll").c_str()));
    const std::string text = Run(L"--expect-card", &code);
    EXPECT_EQ(code, 1u);
    EXPECT_NE(text.find("The card reader library is missing"), std::string::npos) << text;
}

}  // namespace
