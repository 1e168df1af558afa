// What an entry yields: item records, data, methods, encryption, CRC, times on disk, reading
// into memory, opening and argument errors.

#include "models/archive/Archive.h"
#include "models/archive/ArchiveTimes.h"

#include "FileHelpers.h"
#include "ZipBuilder.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/stat.h>

namespace fs = std::filesystem;
using ziptest::Entry;
using namespace vorn;

namespace {

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245 + 12345;
        c = char((x >> 16) % 7 == 0 ? (x >> 8) : 'a' + (x >> 20) % 4);  // compressible, not trivial
    }
    return s;
}

class Entries : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        base = tree.Root() / "base";
    }
    void TearDown() override {
        if (handle)
            ArchiveClose(handle);
    }
    ArchiveHandle Open(const std::vector<Entry>& entries, const char* password = nullptr) {
        bytes = ziptest::Build(entries);
        handle = ArchiveOpenMemory(bytes.data(), bytes.size(), password, base);
        return handle;
    }
    vorn::test::TempFolder tree{"vorn_zip"};
    fs::path base;
    std::string bytes;
    ArchiveHandle handle = nullptr;
};

TEST_F(Entries, ItemRecordDescribesTheEntry) {
    Entry e = Entry::File("dir/file.json", Pattern(50000));
    ASSERT_TRUE(Open({Entry::Dir("dir/"), e}));
    ArchiveItem item;
    ASSERT_EQ(ArchiveGetItem(handle, -1, &item), ZR_OK);
    EXPECT_EQ(item.index, 2);
    EXPECT_TRUE(item.name.empty());
    EXPECT_EQ(item.uncompressedSize, 0);
    ASSERT_EQ(ArchiveGetItem(handle, 1, &item), ZR_OK);
    EXPECT_EQ(item.index, 1);
    EXPECT_EQ(item.name, u"dir/file.json");
    EXPECT_EQ(item.attributes, 0x20u);
    EXPECT_EQ(item.uncompressedSize, 50000);
    EXPECT_GT(item.compressedSize, 0);
    EXPECT_LT(item.compressedSize, 50000);
    const int64_t dos = vorn::archive::UnixSecondsToFileTime(1623760200);  // 2021-06-15 12:30
    EXPECT_EQ(item.writeTime, dos);
    EXPECT_EQ(item.accessTime, dos);
    EXPECT_EQ(item.creationTime, dos);
    // Going back to an earlier entry after a later one works.
    ASSERT_EQ(ArchiveGetItem(handle, 0, &item), ZR_OK);
    EXPECT_EQ(item.name, u"dir/");
    EXPECT_EQ(item.attributes, 0x30u);
}

TEST_F(Entries, StoredAndDeflatedDataIsStreamedWhole) {
    const std::string big = Pattern(300000), small = "tiny";
    Entry stored = Entry::File("stored.bin", big);
    stored.method = 0;
    Entry descriptor = Entry::File("descriptor.bin", big);
    descriptor.dataDescriptor = true;
    ASSERT_TRUE(Open({stored, Entry::File("deflated.bin", big), Entry::File("small", small),
                      Entry::File("empty", ""), descriptor}));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ArchiveExtractItem(handle, i, u"out" + std::u16string(1, u'0' + i)), ZR_OK);
    EXPECT_TRUE(ziptest::ReadFile(base / "out0") == big);
    EXPECT_TRUE(ziptest::ReadFile(base / "out1") == big);
    EXPECT_EQ(ziptest::ReadFile(base / "out2"), small);
    EXPECT_TRUE(fs::exists(base / "out3"));
    EXPECT_EQ(fs::file_size(base / "out3"), 0u);
    EXPECT_TRUE(ziptest::ReadFile(base / "out4") == big);
}

TEST_F(Entries, UnsupportedMethodFailsTheHeaderCheck) {
    Entry bzip2 = Entry::File("model.bin", "data");
    bzip2.method = 12;
    bzip2.rawData = "BZh91AY&SY not really";
    Entry mismatch = Entry::File("mismatch.bin", "data");
    mismatch.localMethod = 0;
    ASSERT_TRUE(Open({bzip2, mismatch, Entry::File("fine.bin", "ok")}));
    ArchiveItem item;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ArchiveGetItem(handle, i, &item), ZR_CORRUPT);
        EXPECT_TRUE(item.name.empty());
        // The update extracts under that empty name: nothing is written.
        EXPECT_EQ(ArchiveExtractItem(handle, i, item.name), ZR_NOFILE);
    }
    EXPECT_FALSE(fs::exists(base) && !fs::is_empty(base));
    // Under a name of the caller's: an empty file, and the data counts as unreadable.
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"named.bin"), ZR_FLATE);
    EXPECT_EQ(fs::file_size(base / "named.bin"), 0u);
    // The other entries are not affected.
    EXPECT_EQ(ArchiveExtractItem(handle, 2, u"fine.bin"), ZR_OK);
}

TEST_F(Entries, DamagedDataIsAFailure) {
    const std::string data = Pattern(40000);
    Entry crc = Entry::File("crc.bin", data);
    crc.centralCrc = 0xDEADBEEF;
    Entry crcStored = crc;
    crcStored.method = 0;
    Entry cut = Entry::File("cut.bin", data);
    cut.rawData = ziptest::detail::Deflate(data).substr(0, 1000);
    Entry garbage = Entry::File("garbage.bin", data);
    garbage.rawData = std::string(500, '\xff');
    Entry shortStored = Entry::File("short.bin", data);
    shortStored.method = 0;
    shortStored.rawData = data.substr(0, 100);
    ASSERT_TRUE(Open({crc, crcStored, cut, garbage, shortStored}));
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"crc.bin"), ZR_CRC);
    EXPECT_EQ(ArchiveExtractItem(handle, 1, u"crc0.bin"), ZR_CRC);
    EXPECT_EQ(ArchiveExtractItem(handle, 2, u"cut.bin"), ZR_FLATE);
    EXPECT_EQ(ArchiveExtractItem(handle, 3, u"garbage.bin"), ZR_FLATE);
    EXPECT_EQ(ArchiveExtractItem(handle, 4, u"short.bin"), ZR_FLATE);
    std::string read = "stale";
    EXPECT_EQ(ArchiveReadItem(handle, 0, &read), ZR_CRC);
    EXPECT_TRUE(read.empty());
}

TEST_F(Entries, EncryptedEntriesNeedTheirPassword) {
    const std::string secret = Pattern(20000);
    Entry enc = Entry::File("secret.bin", secret);
    enc.password = "right";
    Entry encDescriptor = enc;
    encDescriptor.dataDescriptor = true;
    encDescriptor.method = 0;
    const std::vector<Entry> entries = {enc, encDescriptor, Entry::File("plain.txt", "plain")};

    ASSERT_TRUE(Open(entries));
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"none.bin"), ZR_PASSWORD);
    std::string read;
    EXPECT_EQ(ArchiveReadItem(handle, 1, &read), ZR_PASSWORD);
    ArchiveClose(handle);

    ASSERT_TRUE(Open(entries, "wrong"));
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"wrong.bin"), ZR_PASSWORD);
    EXPECT_EQ(ArchiveExtractItem(handle, 1, u"wrong1.bin"), ZR_PASSWORD);
    ArchiveClose(handle);

    ASSERT_TRUE(Open(entries, "right"));
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"ok.bin"), ZR_OK);
    EXPECT_TRUE(ziptest::ReadFile(base / "ok.bin") == secret);
    EXPECT_EQ(ArchiveReadItem(handle, 1, &read), ZR_OK);
    EXPECT_TRUE(read == secret);
    // A password given for the archive must not be applied to entries that are not encrypted.
    EXPECT_EQ(ArchiveReadItem(handle, 2, &read), ZR_OK);
    EXPECT_EQ(read, "plain");
}

TEST_F(Entries, TimesComeFromTheUtBlockOrElseFromDosTime) {
    Entry ut = Entry::File("ut.bin", "u");
    ut.localExtra = ziptest::UtBlock(0x07, {1500000000, 1500000100, 1400000000});
    Entry writeOnly = Entry::File("w.bin", "w");
    writeOnly.localExtra = std::string("xx\x02\x00zz", 6) + ziptest::UtBlock(0x01, {1500000000});
    Entry dos = Entry::File("dos.bin", "d");
    ASSERT_TRUE(Open({ut, writeOnly, dos}));

    ArchiveItem item;
    ASSERT_EQ(ArchiveGetItem(handle, 0, &item), ZR_OK);
    EXPECT_EQ(item.writeTime, vorn::archive::UnixSecondsToFileTime(1500000000));
    EXPECT_EQ(item.accessTime, vorn::archive::UnixSecondsToFileTime(1500000100));
    EXPECT_EQ(item.creationTime, vorn::archive::UnixSecondsToFileTime(1400000000));
    ASSERT_EQ(ArchiveGetItem(handle, 1, &item), ZR_OK);
    EXPECT_EQ(item.writeTime, vorn::archive::UnixSecondsToFileTime(1500000000));
    EXPECT_EQ(item.accessTime, vorn::archive::UnixSecondsToFileTime(1623760200));

    for (int i = 0; i < 3; ++i) {
        ArchiveGetItem(handle, i, &item);
        ASSERT_EQ(ArchiveExtractItem(handle, i, item.name), ZR_OK);
    }
    struct stat st {};
    ASSERT_EQ(stat((base / "ut.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(st.st_atim.tv_sec, 1500000100);
    ASSERT_EQ(stat((base / "w.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
    ASSERT_EQ(stat((base / "dos.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1623760200);
}

TEST_F(Entries, ReadItemGivesTheBytesInMemory) {
    const std::string big = Pattern(100000);
    ASSERT_TRUE(Open({Entry::File("skin.xml", "<Window/>"), Entry::Dir("img/"),
                      Entry::File("img/big.png", big)}));
    std::string read;
    EXPECT_EQ(ArchiveReadItem(handle, 2, &read), ZR_OK);
    EXPECT_TRUE(read == big);
    EXPECT_EQ(ArchiveReadItem(handle, 0, &read), ZR_OK);
    EXPECT_EQ(read, "<Window/>");
    EXPECT_EQ(ArchiveReadItem(handle, 1, &read), ZR_OK);
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(ArchiveReadItem(handle, 3, &read), ZR_ARGS);
    EXPECT_EQ(ArchiveReadItem(handle, 0, nullptr), ZR_ARGS);
    EXPECT_FALSE(fs::exists(base));
}

TEST_F(Entries, ArchivesOpenFromFilesAndMemoryAlike) {
    fs::create_directories(tree.Root() / "in");
    const std::string zip = ziptest::Build({Entry::File("a.txt", "from file")});
    ziptest::WriteFile(tree.Root() / "in/m.zip", zip);
    // Backslashes separate folders in the archive's path as well.
    std::u16string path = (tree.Root() / "in").u16string() + u"\\m.zip";
    ArchiveHandle fromFile = ArchiveOpenFile(path, nullptr, base);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(ArchiveExtractItem(fromFile, 0, u"a.txt"), ZR_OK);
    EXPECT_EQ(ArchiveClose(fromFile), ZR_OK);
    EXPECT_EQ(ziptest::ReadFile(base / "a.txt"), "from file");
}

TEST_F(Entries, WhatIsNotAnArchiveGivesANullHandle) {
    ziptest::WriteFile(tree.Root() / "text.zip", "this is not a zip archive at all");
    EXPECT_EQ(ArchiveOpenFile((tree.Root() / "text.zip").u16string()), nullptr);
    EXPECT_EQ(ArchiveOpenFile((tree.Root() / "missing.zip").u16string()), nullptr);
    EXPECT_EQ(ArchiveOpenFile(tree.Root().u16string()), nullptr);  // a folder
    EXPECT_EQ(ArchiveOpenFile(u""), nullptr);
    EXPECT_EQ(ArchiveOpenMemory(nullptr, 10), nullptr);
    EXPECT_EQ(ArchiveOpenMemory("x", 0), nullptr);
    const std::string text = "PK\x05\x06 but far too short";
    EXPECT_EQ(ArchiveOpenMemory(text.data(), text.size()), nullptr);

    // The update ignores the result and reads the count: 0.
    ArchiveItem item;
    item.index = 77;
    item.name = u"stale";
    item.uncompressedSize = 5;
    EXPECT_EQ(ArchiveGetItem(nullptr, -1, &item), ZR_ARGS);
    EXPECT_EQ(item.index, 0);
    EXPECT_TRUE(item.name.empty());
    EXPECT_EQ(item.uncompressedSize, 0);
    EXPECT_EQ(ArchiveExtractItem(nullptr, 0, u"x"), ZR_ARGS);
    EXPECT_EQ(ArchiveClose(nullptr), ZR_ARGS);
}

TEST_F(Entries, IndexesOutsideTheArchiveAreBadArguments) {
    ASSERT_TRUE(Open({Entry::File("a", "a"), Entry::File("b", "b")}));
    ArchiveItem item;
    EXPECT_EQ(ArchiveGetItem(handle, -2, &item), ZR_ARGS);
    EXPECT_EQ(ArchiveGetItem(handle, 2, &item), ZR_ARGS);
    EXPECT_EQ(ArchiveGetItem(handle, 0, nullptr), ZR_ARGS);
    EXPECT_EQ(ArchiveExtractItem(handle, -1, u"x"), ZR_ARGS);
    EXPECT_EQ(ArchiveExtractItem(handle, 2, u"x"), ZR_ARGS);
    EXPECT_EQ(ArchiveGetItem(handle, 1, &item), ZR_OK);
    EXPECT_EQ(item.name, u"b");
}

TEST_F(Entries, UnreachableEntriesEndWithAnError) {
    bytes = ziptest::Build(
        {Entry::File("first", "1"), Entry::File("second", "2"), Entry::File("third", "3")});
    // Break the signature of the second central record: it and all after it are unreachable.
    const size_t firstCentral = bytes.find("PK\x01\x02");
    const size_t secondCentral = bytes.find("PK\x01\x02", firstCentral + 4);
    ASSERT_NE(secondCentral, std::string::npos);
    bytes[secondCentral + 2] = 'X';
    handle = ArchiveOpenMemory(bytes.data(), bytes.size(), nullptr, base);
    ASSERT_TRUE(handle);
    ArchiveItem item;
    ASSERT_EQ(ArchiveGetItem(handle, -1, &item), ZR_OK);
    EXPECT_EQ(item.index, 3);
    EXPECT_EQ(ArchiveGetItem(handle, 2, &item), ZR_UNREACHABLE);
    EXPECT_EQ(ArchiveGetItem(handle, 1, &item), ZR_UNREACHABLE);
    EXPECT_EQ(ArchiveExtractItem(handle, 1, u"second"), ZR_UNREACHABLE);
    EXPECT_EQ(ArchiveGetItem(handle, 0, &item), ZR_OK);
    EXPECT_EQ(ArchiveExtractItem(handle, 0, u"first"), ZR_OK);
    EXPECT_EQ(ArchiveGetItem(handle, 2, &item), ZR_UNREACHABLE);
}

}  // namespace
