// Where extraction puts things: folders, sanitised names, limits, links, collisions.

#include "models/archive/Archive.h"

#include "FileHelpers.h"
#include "ZipBuilder.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fs = std::filesystem;
using ziptest::Entry;
using namespace vorn;

namespace {

class Extract : public ::testing::Test {
protected:
    void SetUp() override {
        base = tree.Root() / "base";
        outside = tree.Root() / "outside";
        fs::create_directory(outside);
    }
    void TearDown() override {
        if (handle)
            ArchiveClose(handle);
        // Whatever a test did, nothing may appear beside the base folder.
        EXPECT_TRUE(fs::is_empty(outside));
        for (const auto& e : fs::directory_iterator(tree.Root()))
            EXPECT_TRUE(e.path() == base || e.path() == outside) << e.path();
    }
    ArchiveHandle Open(const std::vector<Entry>& entries, const char* password = nullptr) {
        bytes = ziptest::Build(entries);
        handle = ArchiveOpenMemory(bytes.data(), bytes.size(), password, base);
        return handle;
    }
    // What the model update does: every entry under its own sanitised name.
    std::vector<uint32_t> ExtractAll() {
        std::vector<uint32_t> codes;
        ArchiveItem item;
        ArchiveGetItem(handle, -1, &item);
        const int count = item.index;
        for (int i = 0; i < count; ++i) {
            ArchiveGetItem(handle, i, &item);
            codes.push_back(ArchiveExtractItem(handle, i, item.name));
        }
        return codes;
    }

    vorn::test::TempFolder tree{"vorn_zip"};
    fs::path base, outside;
    std::string bytes;
    ArchiveHandle handle = nullptr;
};

TEST_F(Extract, FolderEntryAndFileBelowItBothUseTheFolder) {
    ASSERT_TRUE(Open({Entry::Dir("sub/"), Entry::File("sub/a.bin", "AAA")}));
    EXPECT_EQ(ExtractAll(), (std::vector<uint32_t>{ZR_OK, ZR_OK}));
    EXPECT_TRUE(fs::is_directory(base / "sub"));
    EXPECT_EQ(ziptest::ReadFile(base / "sub/a.bin"), "AAA");
}

TEST_F(Extract, MissingFoldersAreCreatedAndBothSeparatorsWork) {
    ASSERT_TRUE(Open({Entry::File("x/y/z.bin", "z"), Entry::File("w\\v\\u.bin", "u"),
                      Entry::File("m\\n/o.bin", "o")}));
    EXPECT_EQ(ExtractAll(), (std::vector<uint32_t>{ZR_OK, ZR_OK, ZR_OK}));
    EXPECT_EQ(ziptest::ReadFile(base / "x/y/z.bin"), "z");
    EXPECT_EQ(ziptest::ReadFile(base / "w/v/u.bin"), "u");
    EXPECT_EQ(ziptest::ReadFile(base / "m/n/o.bin"), "o");
}

TEST_F(Extract, FolderMarkedOnlyByItsTrailingSeparatorIsAFolder) {
    Entry dir = Entry::File("jar-style/", "");
    dir.versionMadeBy = ziptest::kDos;
    dir.external = 0;  // some tools store no attributes for folders at all
    ASSERT_TRUE(Open({dir, Entry::File("jar-style/f", "f")}));
    ArchiveItem item;
    ASSERT_EQ(ArchiveGetItem(handle, 0, &item), ZR_OK);
    EXPECT_EQ(item.attributes & 0x10, 0x10u);
    EXPECT_EQ(ExtractAll(), (std::vector<uint32_t>{ZR_OK, ZR_OK}));
    EXPECT_EQ(ziptest::ReadFile(base / "jar-style/f"), "f");
}

TEST_F(Extract, AbsoluteAndDriveNamesLandInsideTheBase) {
    const std::string abs = (outside / "abs.txt").string();
    ASSERT_TRUE(Open({Entry::File(abs, "1"), Entry::File("\\back.txt", "2"),
                      Entry::File("C:\\drive\\d.txt", "3"), Entry::File("C:rel.txt", "4"),
                      Entry::File("a/b/../c.bin", "5"), Entry::File("..\\..\\x.txt", "6")}));
    EXPECT_EQ(ExtractAll(), std::vector<uint32_t>(6, ZR_OK));
    EXPECT_EQ(ziptest::ReadFile(base / abs.substr(1)), "1");
    EXPECT_EQ(ziptest::ReadFile(base / "back.txt"), "2");
    EXPECT_EQ(ziptest::ReadFile(base / "drive/d.txt"), "3");
    EXPECT_EQ(ziptest::ReadFile(base / "rel.txt"), "4");
    EXPECT_EQ(ziptest::ReadFile(base / "c.bin"), "5");
    EXPECT_EQ(ziptest::ReadFile(base / "x.txt"), "6");
}

TEST_F(Extract, NamesThatStillClimbOrCarryControlsAreRefusedAndWriteNothing) {
    ASSERT_TRUE(Open({Entry::File("../up.txt", "x"), Entry::File("..\\up.txt", "x"),
                      Entry::File("a\\..\\..\\up.txt", "x"), Entry::File("a/b/../../up.txt", "x"),
                      Entry::File("..", "x"), Entry::File("d/..", "x"),
                      Entry::File(std::string("nul\0.txt", 8), "x"), Entry::File("tab\t.txt", "x"),
                      Entry::File("ok.txt", "fine")}));
    ArchiveItem item;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(ArchiveGetItem(handle, i, &item), ZR_UNSAFE_NAME) << i;
        EXPECT_TRUE(item.name.empty());
    }
    std::vector<uint32_t> expected(8, ZR_UNSAFE_NAME);
    expected.push_back(ZR_OK);
    EXPECT_EQ(ExtractAll(), expected);
    // A caller's own safe name does not unlock a refused entry either.
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"renamed.txt"), ZR_UNSAFE_NAME);
    std::vector<fs::path> landed;
    for (const auto& e : fs::recursive_directory_iterator(base))
        landed.push_back(e.path());
    EXPECT_EQ(landed, std::vector<fs::path>{base / "ok.txt"});
}

TEST_F(Extract, TargetNamesAreCheckedToo) {
    ASSERT_TRUE(Open({Entry::File("f.txt", "f")}));
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"../f.txt"), ZR_UNSAFE_NAME);
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"a/../../f.txt"), ZR_UNSAFE_NAME);
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"bad\x01name"), ZR_UNSAFE_NAME);
    // An absolute target is the caller's own choice and is used as it stands.
    const fs::path elsewhere = tree.Root() / "elsewhere";
    const std::u16string target = (elsewhere / "deep/f.txt").u16string();
    EXPECT_EQ(ArchiveExtractItem(handle, 0, target), ZR_OK);
    EXPECT_EQ(ziptest::ReadFile(elsewhere / "deep/f.txt"), "f");
    fs::remove_all(elsewhere);
}

TEST_F(Extract, EntryNamesOf260BytesOrMoreAreRefused) {
    const std::string at259(259, 'n'), at260(260, 'n'), at300(300, 'n');
    ASSERT_TRUE(Open({Entry::File(at259, "a"), Entry::File(at260, "b"), Entry::File(at300, "c")}));
    ArchiveItem item;
    ASSERT_EQ(ArchiveGetItem(handle, 0, &item), ZR_OK);
    EXPECT_EQ(item.name.size(), 259u);
    EXPECT_EQ(ArchiveGetItem(handle, 1, &item), ZR_TOO_LONG);
    EXPECT_EQ(ArchiveGetItem(handle, 2, &item), ZR_TOO_LONG);
    // 259 units fit an item but not a path below any base folder.
    EXPECT_EQ(ArchiveExtractItem(handle, 0, std::u16string(259, u'n')), ZR_TOO_LONG);
    EXPECT_EQ(ArchiveExtractItem(handle, 1, u"short"), ZR_TOO_LONG);
    EXPECT_FALSE(fs::exists(base));
}

TEST_F(Extract, TargetPathsOf260UnitsOrMoreAreRefused) {
    ASSERT_TRUE(Open({Entry::File("f", "f")}));
    const size_t baseUnits = base.u16string().size() + 1;  // with its separator
    ASSERT_LT(baseUnits, 200u);
    const std::u16string fits(259 - baseUnits, u'p'), tooLong(260 - baseUnits, u'p');
    EXPECT_EQ(ArchiveExtractItem(handle, 0, fits), ZR_OK);
    EXPECT_EQ(ArchiveExtractItem(handle, 0, tooLong), ZR_TOO_LONG);
    EXPECT_TRUE(fs::exists(base / fs::path(fits)));
    EXPECT_FALSE(fs::exists(base / fs::path(tooLong)));
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"/" + std::u16string(259, u'q')), ZR_TOO_LONG);
}

TEST_F(Extract, SymlinkEntriesBecomePlainFiles) {
    Entry link = Entry::File("link", outside.string());
    link.external = 0120777u << 16;
    Entry rel = Entry::File("rel", "../../../etc");
    rel.external = 0120777u << 16;
    ASSERT_TRUE(Open({link, rel, Entry::File("link/through.txt", "x")}));
    EXPECT_EQ(ExtractAll(), (std::vector<uint32_t>{ZR_OK, ZR_OK, ZR_NOFILE}));
    EXPECT_FALSE(ziptest::IsLink(base / "link"));
    EXPECT_EQ(ziptest::ReadFile(base / "link"), outside.string());
    EXPECT_EQ(ziptest::ReadFile(base / "rel"), "../../../etc");
}

TEST_F(Extract, LinksAlreadyInTheBaseAreNeverFollowed) {
    fs::create_directories(base / "real");
    fs::create_directory_symlink(outside, base / "dirlink");
    fs::create_symlink(outside / "victim.txt", base / "filelink");
    fs::create_directory_symlink(outside, base / "real/nested");
    ASSERT_TRUE(Open({Entry::File("dirlink/x.txt", "x"), Entry::File("filelink", "x"),
                      Entry::Dir("dirlink/sub/"), Entry::File("real/nested/deeper/y.txt", "y")}));
    EXPECT_EQ(ExtractAll(), std::vector<uint32_t>(4, ZR_LINK));
    EXPECT_TRUE(ziptest::IsLink(base / "filelink"));
}

TEST_F(Extract, FolderAndFileOfTheSameNameCollide) {
    ASSERT_TRUE(Open({Entry::File("x", "file"), Entry::Dir("x/"), Entry::File("x/y", "y"),
                      Entry::Dir("d/"), Entry::File("d", "file over folder")}));
    EXPECT_EQ(ExtractAll(), (std::vector<uint32_t>{ZR_OK, ZR_NOFILE, ZR_NOFILE, ZR_OK, ZR_NOFILE}));
    EXPECT_EQ(ziptest::ReadFile(base / "x"), "file");
    EXPECT_TRUE(fs::is_directory(base / "d"));
}

TEST_F(Extract, DuplicateNamesAndExistingFilesAreReplaced) {
    fs::create_directory(base);
    ziptest::WriteFile(base / "old.txt", "a much longer previous content");
    ASSERT_TRUE(Open({Entry::File("dup.txt", "first"), Entry::File("dup.txt", "second"),
                      Entry::File("old.txt", "new")}));
    EXPECT_EQ(ExtractAll(), std::vector<uint32_t>(3, ZR_OK));
    EXPECT_EQ(ziptest::ReadFile(base / "dup.txt"), "second");
    EXPECT_EQ(ziptest::ReadFile(base / "old.txt"), "new");
}

TEST_F(Extract, AFifoInTheWayIsRefusedWithoutBlocking) {
    fs::create_directory(base);
    ASSERT_EQ(mkfifo((base / "pipe").c_str(), 0666), 0);
    ASSERT_TRUE(Open({Entry::File("pipe", "data")}));
    EXPECT_EQ(ExtractAll(), std::vector<uint32_t>{ZR_NOFILE});
}

TEST_F(Extract, ReadOnlyEntryIsCreatedReadOnlyAndThenKept) {
    Entry unixRo = Entry::File("ro.txt", "original");
    unixRo.external = 0100444u << 16;
    Entry dosRo = Entry::File("dos.txt", "dos");
    dosRo.versionMadeBy = ziptest::kDos;
    dosRo.external = 0x21;
    ASSERT_TRUE(Open({unixRo, dosRo}));
    EXPECT_EQ(ExtractAll(), (std::vector<uint32_t>{ZR_OK, ZR_OK}));
    for (const char* name : {"ro.txt", "dos.txt"}) {
        const auto perms = fs::status(base / name).permissions();
        EXPECT_EQ(
            perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
            fs::perms::none)
            << name;
    }
    ArchiveClose(handle);
    handle = nullptr;
    ASSERT_TRUE(Open({Entry::File("ro.txt", "replacement")}));
    EXPECT_EQ(ExtractAll(), std::vector<uint32_t>{ZR_NOFILE});
    EXPECT_EQ(ziptest::ReadFile(base / "ro.txt"), "original");
}

TEST_F(Extract, NonUtf8NamesAreDecodedAsUtf8AllTheSame) {
    ASSERT_TRUE(Open({Entry::File("\xc4\xe3\xba\xc3.bin", "gbk")}));
    ArchiveItem item;
    ASSERT_EQ(ArchiveGetItem(handle, 0, &item), ZR_OK);
    EXPECT_EQ(item.name, u"\uFFFD\uFFFD\uFFFD\uFFFD.bin");
    EXPECT_EQ(ExtractAll(), std::vector<uint32_t>{ZR_OK});
    EXPECT_EQ(ziptest::ReadFile(base / "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd.bin"),
              "gbk");
}

TEST_F(Extract, BaseFolderIsFixedWhenOpening) {
    const fs::path before = fs::current_path();
    fs::create_directory(base);
    fs::current_path(base);
    bytes = ziptest::Build({Entry::File("here.txt", "h")});
    ArchiveHandle byDefault = ArchiveOpenMemory(bytes.data(), bytes.size());
    ArchiveHandle relative = ArchiveOpenMemory(bytes.data(), bytes.size(), nullptr, "rel");
    fs::current_path(outside / "..");  // the tree root; the handles must not follow
    EXPECT_EQ(ArchiveExtractItem(byDefault, 0, u"here.txt"), ZR_OK);
    EXPECT_EQ(ArchiveExtractItem(relative, 0, u"here.txt"), ZR_OK);
    fs::current_path(before);
    ArchiveClose(byDefault);
    ArchiveClose(relative);
    EXPECT_EQ(ziptest::ReadFile(base / "here.txt"), "h");
    EXPECT_EQ(ziptest::ReadFile(base / "rel/here.txt"), "h");
}

}  // namespace
