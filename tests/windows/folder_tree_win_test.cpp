// The model installer's whole-folder operations on Windows, through Wine's file system: each
// child's kind in a listing, exclusive creation, moving without replacing, links refused as the
// folder opened, free space, private folders opened up by their permissions.

#include "platform/FolderTree.h"

#include "WinTestSupport.h"
#include "platform/win32/Text_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using namespace vorn::platform;

namespace {

std::string Utf8(const fs::path& p) {
    return win32::WideToUtf8(p.wstring());
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const fs::path& p) {
    return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ShowsAsReparsePoint(const fs::path& p) {
    const DWORD attributes = GetFileAttributesW(p.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

class FolderTreeWin : public ::testing::Test {
protected:
    void SetUp() override {
        // A name outside the ANSI code page: paths cross as UTF-8.
        root = fs::path(temp.path()) / L"tree \u6a21\u578b";
        ASSERT_TRUE(fs::create_directory(root));
        target = fs::path(temp.path()) / L"target";
        fs::create_directory(target);
        std::ofstream(target / "victim.txt", std::ios::binary) << "victim";
    }
    void TearDown() override {
        // The links go before the tree is removed, never what they name.
        for (const fs::path& link : madeLinks)
            RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str());
        if (hostLinks)
            HostShell(L"rm -f hostdir hostempty hostfile dangling; : > removed", "removed");
        EXPECT_EQ(ReadAll(target / "victim.txt"), "victim");
    }

    // Runs `command` in the host's shell in `root` (Wine starts host programs), waiting for it
    // to make the file `done` there; false when there is no host shell.
    bool HostShell(const std::wstring& command, const char* done) {
        hostLinks = true;
        return wintest::RunHostTool(root.wstring(), L"sh", L"-c \"" + command + L"\"",
                                    [&] { return Exists(root / done); });
    }

    // Links named `*link*` in `root` to the folder `target`, made each way the system offers (a
    // junction, a symbolic link, under Wine the host's symbolic link); those the system shows as
    // reparse points, the others reported.
    std::vector<fs::path> FolderLinks() {
        const fs::path junction = root / "junction", dirLink = root / "dirlink";
        if (wintest::MakeJunction(junction.wstring(), target.wstring()))
            madeLinks.push_back(junction);
        if (CreateSymbolicLinkW(dirLink.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
            madeLinks.push_back(dirLink);
        hostLinks = wintest::RunHostTool(root.wstring(), L"ln", L"-s ../target hostdir",
                                         [&] { return Exists(root / "hostdir"); });
        std::vector<fs::path> shown;
        for (const fs::path& link : {junction, dirLink, root / "hostdir"}) {
            if (ShowsAsReparsePoint(link))
                shown.push_back(link);
            else
                std::printf("not shown as a link under this system: %s\n",
                            link.filename().string().c_str());
        }
        return shown;
    }

    // One folder per test: what one leaves behind cannot fail the next.
    wintest::TempFolder temp{
        L"vorn-foldertree-" +
        fs::path(::testing::UnitTest::GetInstance()->current_test_info()->name()).wstring()};
    fs::path root, target;
    std::vector<fs::path> madeLinks;
    bool hostLinks = false;
};

TEST_F(FolderTreeWin, ListsChildrenWithTheirKindsByPathAndByHandle) {
    fs::create_directory(root / "sub");
    std::ofstream(root / "file.bin", std::ios::binary) << "x";
    std::ofstream(root / L"\u6587.json", std::ios::binary) << "{}";
    std::map<std::string, EntryKind> expected = {{"sub", EntryKind::Folder},
                                                 {"file.bin", EntryKind::Regular},
                                                 {"\xe6\x96\x87.json", EntryKind::Regular}};
    const std::vector<fs::path> links = FolderLinks();
    for (const fs::path& link : links)
        expected.emplace(Utf8(link.filename()), EntryKind::Link);

    std::error_code error;
    auto listed = ListFolder(Utf8(root), error);
    EXPECT_FALSE(error) << error.message();
    // A link the system does not show is whatever it lists it as.
    for (const char* hidden : {"junction", "dirlink", "hostdir"})
        if (!expected.count(hidden))
            listed.erase(hidden);
    EXPECT_EQ(listed, expected);

    const OsHandle folder = OpenFolderPath(Utf8(root));
    ASSERT_TRUE(folder.Valid()) << LastFailureText();
    // Twice: the handle's own listing is left where it was, the second reads it all again.
    for (int i = 0; i < 2; ++i) {
        listed = ListFolder(folder.Get(), error);
        EXPECT_FALSE(error) << error.message();
        for (const char* hidden : {"junction", "dirlink", "hostdir"})
            if (!expected.count(hidden))
                listed.erase(hidden);
        EXPECT_EQ(listed, expected) << "listing " << i;
    }

    EXPECT_TRUE(ListFolder(Utf8(root / "missing"), error).empty());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory) << error.message();
}

TEST_F(FolderTreeWin, CreateNewFileRefusesWhateverStandsAtTheName) {
    std::ofstream(root / "old.bin", std::ios::binary) << "keep";
    fs::create_directory(root / "folder");
    EXPECT_FALSE(CreateNewFile(Utf8(root / "old.bin")).Valid());
    EXPECT_EQ(ReadAll(root / "old.bin"), "keep");
    EXPECT_FALSE(CreateNewFile(Utf8(root / "folder")).Valid());
    // A dangling host link is never written through to make what it names.
    // (Wine shows a dangling host link to no program: the shell says when it is there.)
    if (HostShell(L"ln -s ../target/made.bin dangling && : > linked", "linked")) {
        EXPECT_FALSE(CreateNewFile(Utf8(root / "dangling")).Valid());
        EXPECT_FALSE(Exists(target / "made.bin"));
    }

    OsHandle file = CreateNewFile(Utf8(root / "new.bin"));
    ASSERT_TRUE(file.Valid()) << LastFailureText();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "fresh", 5, &written, nullptr));
    EXPECT_TRUE(CloseFile(&file));
    EXPECT_FALSE(file.Valid());
    EXPECT_EQ(ReadAll(root / "new.bin"), "fresh");
}

TEST_F(FolderTreeWin, RemoveFileIfPresentRemovesFilesAndLinksNeverWhatTheyName) {
    std::ofstream(root / "gone.bin", std::ios::binary) << "x";
    EXPECT_TRUE(RemoveFileIfPresent(Utf8(root / "gone.bin"))) << LastFailureText();
    EXPECT_FALSE(Exists(root / "gone.bin"));
    EXPECT_TRUE(RemoveFileIfPresent(Utf8(root / "gone.bin")));
    EXPECT_TRUE(RemoveFileIfPresent(Utf8(root / "no folder" / "gone.bin")));
    fs::create_directory(root / "folder");
    EXPECT_FALSE(RemoveFileIfPresent(Utf8(root / "folder")));
    EXPECT_TRUE(Exists(root / "folder"));
    for (const fs::path& link : FolderLinks()) {
        const bool removed = RemoveFileIfPresent(Utf8(link));
        EXPECT_TRUE(Exists(target / "victim.txt")) << link;
        // Wine follows a host link to a folder even to remove it, and finds that folder full.
        if (link.filename() == "hostdir" && !removed) {
            std::printf("a host link to a folder is kept under Wine: %s\n",
                        LastFailureText().c_str());
            continue;
        }
        EXPECT_TRUE(removed) << link << ": " << LastFailureText();
        EXPECT_FALSE(Exists(link)) << link;
    }
    // Nor a file or an empty folder a host link names, which Wine could remove in its stead.
    const fs::path empty = fs::path(temp.path()) / "empty";
    fs::create_directory(empty);
    if (HostShell(L"ln -s ../empty hostempty && ln -s ../target/victim.txt hostfile && "
                  L": > linked",
                  "linked")) {
        RemoveFileIfPresent(Utf8(root / "hostempty"));
        EXPECT_TRUE(fs::is_directory(empty));
        EXPECT_TRUE(RemoveFileIfPresent(Utf8(root / "hostfile"))) << LastFailureText();
        EXPECT_FALSE(Exists(root / "hostfile"));
        EXPECT_EQ(ReadAll(target / "victim.txt"), "victim");
    }
}

TEST_F(FolderTreeWin, MoveFolderNoReplaceKeepsWhateverStandsAtTheTarget) {
    fs::create_directories(root / "staged");
    std::ofstream(root / "staged" / "a.bin", std::ios::binary) << "a";
    fs::create_directories(root / "models");
    std::ofstream(root / "models" / "b.bin", std::ios::binary) << "b";
    std::ofstream(root / "file.bin", std::ios::binary) << "f";

    EXPECT_FALSE(MoveFolderNoReplace(Utf8(root / "staged"), Utf8(root / "models")));
    EXPECT_FALSE(MoveFolderNoReplace(Utf8(root / "staged"), Utf8(root / "file.bin")));
    EXPECT_EQ(ReadAll(root / "staged" / "a.bin"), "a");
    EXPECT_EQ(ReadAll(root / "models" / "b.bin"), "b");
    EXPECT_FALSE(Exists(root / "models" / "a.bin"));
    EXPECT_EQ(ReadAll(root / "file.bin"), "f");

    EXPECT_TRUE(MoveFolderNoReplace(Utf8(root / "staged"), Utf8(root / "fresh")))
        << LastFailureText();
    EXPECT_EQ(ReadAll(root / "fresh" / "a.bin"), "a");
    EXPECT_FALSE(Exists(root / "staged"));
}

TEST_F(FolderTreeWin, OpenFolderPathRefusesALinkAsItsLastStep) {
    bool missing = true;
    EXPECT_TRUE(OpenFolderPath(Utf8(root), &missing).Valid());
    EXPECT_FALSE(missing);
    EXPECT_FALSE(OpenFolderPath(Utf8(root / "none"), &missing).Valid());
    EXPECT_TRUE(missing);
    std::ofstream(root / "file.bin", std::ios::binary) << "x";
    EXPECT_FALSE(OpenFolderPath(Utf8(root / "file.bin"), &missing).Valid());
    EXPECT_FALSE(missing);

    const std::vector<fs::path> links = FolderLinks();
    if (links.empty())
        GTEST_SKIP() << "this system shows no junction, symbolic link or host link as one";
    for (const fs::path& link : links) {
        EXPECT_FALSE(OpenFolderPath(Utf8(link), &missing).Valid()) << link;
        EXPECT_FALSE(missing) << link;
    }
}

TEST_F(FolderTreeWin, FreeSpaceIsGivenForAFolderAndNotForAMissingOne) {
    const std::optional<uint64_t> space = FreeSpace(Utf8(root));
    ASSERT_TRUE(space.has_value()) << LastFailureText();
    EXPECT_GT(*space, 0u);
    EXPECT_FALSE(FreeSpace(Utf8(root / "missing")).has_value());
}

// A private folder is the creating user's alone (a protected access list) until permissions
// that let others in hand it its parent's inherited access again; a file's write bit is its
// read-only attribute.
TEST_F(FolderTreeWin, PrivateFolderOpensUpByPermissionsAndFilesTakeReadOnly) {
    const OsHandle folder = OpenFolderPath(Utf8(root));
    ASSERT_TRUE(folder.Valid());
    ASSERT_TRUE(MakePrivateFolder(folder.Get(), "private")) << LastFailureText();
    EXPECT_FALSE(MakePrivateFolder(folder.Get(), "private"));
    const OsHandle made = OpenFolderPath(Utf8(root / "private"));
    ASSERT_TRUE(made.Valid());

    OsHandle file = CreateNewFile(Utf8(root / "file.bin"));
    ASSERT_TRUE(file.Valid());
    EXPECT_TRUE(SetPermissions(file.Get(), 0444)) << LastFailureText();
    EXPECT_TRUE(GetFileAttributesW((root / "file.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(SetPermissions(file.Get(), 0644)) << LastFailureText();
    EXPECT_FALSE(GetFileAttributesW((root / "file.bin").c_str()) & FILE_ATTRIBUTE_READONLY);

    auto protectedList = [&] {
        const std::wstring path = (root / "private").wstring();
        const OsHandle read(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (GetSecurityInfo(read.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            return false;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        LocalFree(descriptor);
        return (control & SE_DACL_PROTECTED) != 0;
    };
    if (!protectedList())
        GTEST_SKIP() << "this system keeps no protected access list on a new folder (Wine "
                        "derives access lists from the host's mode bits)";
    EXPECT_TRUE(SetPermissions(made.Get(), 0700)) << LastFailureText();
    EXPECT_TRUE(protectedList());
    EXPECT_TRUE(SetPermissions(made.Get(), 0755)) << LastFailureText();
    EXPECT_FALSE(protectedList());
}

}  // namespace
