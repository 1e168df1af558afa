#include "platform/CardLibrary.h"
#include "platform/win32/Text_win.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using vorn::platform::CreateCardLibrary;
using vorn::platform::ICardLibrary;
using vorn::platform::win32::WideToUtf8;

namespace {

// A client folder (its name outside the ANSI code page) holding the simulator as termb.dll and
// its description beside it.
class CardLibraryWin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CopyFileW((wintest::ExeFolder() + L"..\\termb.dll").c_str(),
                              (folder.path() + L"\\termb.dll").c_str(), FALSE));
        std::ofstream(std::filesystem::path(folder.path() + L"\\termb-sim.ini"))
            << "ports = 1005\ncard = 1\nname = \xe6\xb5\x8b\xe8\xaf\x95 TEST\nidcode = "
               "11010520000101001X\n";
    }

    std::string ClientFolder() const { return WideToUtf8(folder.path() + L"\\"); }

    // One per test: a loaded library is never freed, so its folder stays in use (and in the
    // prefix's temporary folder) until the test program ends.
    wintest::TempFolder folder{L"vorn-\u5ba2\u6237\u7aef-" + std::to_wstring(++count)};
    static inline int count = 0;
};

TEST_F(CardLibraryWin, SimulatorGivesTheTestCardOnTheAnsweringPort) {
    const ICardLibrary::EntryPoints api = CreateCardLibrary()->Load(ClientFolder());
    ASSERT_NE(api.CVR_InitComm, nullptr);
    ASSERT_NE(api.GetPeopleNameU, nullptr);
    ASSERT_NE(api.GetBMPData, nullptr);

    int answering = 0;
    for (int port : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) {
        for (int candidate : {port, 1000 + port}) {
            if (answering == 0 && api.CVR_InitComm(candidate) == 1)
                answering = candidate;
        }
    }
    ASSERT_EQ(answering, 1005);
    ASSERT_EQ(api.CVR_InitComm(answering), 1);
    ASSERT_EQ(api.CVR_Authenticate(), 1);
    ASSERT_EQ(api.CVR_Read_FPContent(), 1);
    char16_t name[64] = {};
    int length = sizeof name;
    ASSERT_EQ(api.GetPeopleNameU(name, &length), 1);
    EXPECT_EQ(std::u16string(name, static_cast<size_t>(length) / 2), u"\u6d4b\u8bd5 TEST");
    char16_t id[64] = {};
    length = sizeof id;
    ASSERT_EQ(api.GetPeopleIDCodeU(id, &length), 1);
    EXPECT_EQ(std::u16string(id, static_cast<size_t>(length) / 2), u"11010520000101001X");
    EXPECT_EQ(api.CVR_CloseComm(), 1);
}

TEST_F(CardLibraryWin, NothingIsLoadedFromAMissingLibraryOrAFolderUnderItsName) {
    wintest::TempFolder empty{L"vorn-no-library"};
    EXPECT_EQ(CreateCardLibrary()->Load(WideToUtf8(empty.path() + L"\\")).CVR_InitComm, nullptr);
    ASSERT_TRUE(CreateDirectoryW((empty.path() + L"\\termb.dll").c_str(), nullptr));
    EXPECT_EQ(CreateCardLibrary()->Load(WideToUtf8(empty.path() + L"\\")).CVR_InitComm, nullptr);
}

}  // namespace
