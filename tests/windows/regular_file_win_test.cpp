#include "platform/RegularFile.h"
#include "platform/win32/Text_win.h"

#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <io.h>

#include <filesystem>
#include <fstream>

using namespace vorn::platform;
using vorn::platform::win32::WideToUtf8;

namespace {

// Plain files, a folder, a device and a size limit: only regular files are read, within the
// limit. (Links are not made here: under Wine 8 a link from CreateSymbolicLinkW is reported made
// but then opens as nothing at all, so refusing one cannot be shown under Wine.)
TEST(RegularFileWin, OnlyRegularFilesWithinTheLimit) {
    wintest::TempFolder folder{L"vorn-\u6587\u4ef6"};
    const std::wstring file = folder.path() + L"\\ver.ini";
    std::ofstream(std::filesystem::path(file), std::ios::binary) << "[Config]\r\nVer=7\r\n";
    FileReadError why = FileReadError::None;

    EXPECT_EQ(ReadRegularFile(WideToUtf8(file), 64, LinkPolicy::Refuse, &why),
              "[Config]\r\nVer=7\r\n");
    EXPECT_FALSE(ReadRegularFile(WideToUtf8(file), 8, LinkPolicy::Refuse, &why));
    EXPECT_EQ(why, FileReadError::TooLarge);
    EXPECT_FALSE(ReadRegularFile(WideToUtf8(folder.path()), 64, LinkPolicy::Follow, &why));
    EXPECT_EQ(why, FileReadError::NotRegular);
    EXPECT_FALSE(
        ReadRegularFile(WideToUtf8(folder.path() + L"\\none"), 64, LinkPolicy::Follow, &why));
    EXPECT_EQ(why, FileReadError::Missing);
    EXPECT_FALSE(ReadRegularFile("NUL", 64, LinkPolicy::Follow, &why));
    EXPECT_EQ(why, FileReadError::NotRegular);
    EXPECT_TRUE(OpenRegularFile(WideToUtf8(file), LinkPolicy::Refuse).valid());
}

// A log is appended to a regular file, created when missing; a device or folder in its place
// is refused, not written to.
TEST(RegularFileWin, AppendsOnlyToARegularFile) {
    wintest::TempFolder folder{L"vorn-\u65e5\u5fd7"};
    const std::string file = WideToUtf8(folder.path() + L"\\day.log");
    for (const char* line : {"one\n", "two\n"}) {
        vorn::platform::UniqueFd fd = OpenRegularFileToAppend(file);
        ASSERT_TRUE(fd.valid());
        ASSERT_EQ(_write(fd.get(), line, 4), 4);
    }
    EXPECT_EQ(ReadRegularFile(file, 64, LinkPolicy::Refuse), "one\ntwo\n");
    FileReadError why = FileReadError::None;
    EXPECT_FALSE(OpenRegularFileToAppend("NUL", &why).valid());
    EXPECT_EQ(why, FileReadError::NotRegular);
    EXPECT_FALSE(OpenRegularFileToAppend(WideToUtf8(folder.path()), &why).valid());
}

}  // namespace
