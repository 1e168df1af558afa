#include "models/serving/ModelFolder.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

// Every case runs with the kernel's one-step resolution and with the segment walk that stands in
// for it on kernels without openat2.
class ModelFolderTest : public ::testing::TestWithParam<ModelFolder::Resolver> {
protected:
    void SetUp() override {
        root = temp.Root();
        dir = root / "models";
        fs::create_directories(dir);
        std::ofstream(root / "secret") << "secret";
        folder.emplace(dir, GetParam());
    }

    void Write(const std::string& name, const std::string& data) {
        fs::path p = dir / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
    }
    // The contents of name as opened, or "<refused>".
    std::string Read(const std::string& name) const {
        std::optional<ModelFile> file = folder->Open(name);
        return file ? Contents(*file) : "<refused>";
    }
    static std::string Contents(const ModelFile& file) {
        std::string data(file.size, '\0');
        const ssize_t n = pread(file.fd.get(), data.data(), data.size(), 0);
        data.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return data;
    }

    vorn::test::TempFolder temp{"vorn-folder"};
    fs::path root, dir;
    std::optional<ModelFolder> folder;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Resolvers,
                         ModelFolderTest,
                         ::testing::Values(ModelFolder::Resolver::Kernel,
                                           ModelFolder::Resolver::Segments));

TEST_P(ModelFolderTest, ReplacedFileIsSeenAtOnceAndAnOpenFileKeepsWhatWasChecked) {
    Write("face/model.json", "old");
    std::optional<ModelFile> before = folder->Open("face/model.json");
    ASSERT_TRUE(before);
    // As an install replaces a file: a new file renamed over the name.
    Write("face/model.json.part", "new and longer");
    fs::rename(dir / "face/model.json.part", dir / "face/model.json");
    EXPECT_EQ(Read("face/model.json"), "new and longer");
    EXPECT_EQ(Contents(*before), "old");
    fs::remove(dir / "face/model.json");
    EXPECT_FALSE(folder->Has("face/model.json"));
    EXPECT_EQ(Read("face/model.json"), "<refused>");
}

TEST_P(ModelFolderTest, MissingFilesAreNotRemembered) {
    EXPECT_FALSE(folder->Has("late.bin"));
    Write("late.bin", "here now");
    EXPECT_TRUE(folder->Has("late.bin"));
    EXPECT_EQ(Read("late.bin"), "here now");
}

TEST_P(ModelFolderTest, ZeroLengthBinaryAndUtf8NamesAreRead) {
    Write("empty.bin", "");
    const std::string binary("\0\1\2\xff\0", 5);
    Write("b.bin", binary);
    Write("\xE6\xA8\xA1\xE5\x9E\x8B/a b+c.json", "{}");
    EXPECT_EQ(Read("empty.bin"), "");
    EXPECT_EQ(Read("b.bin"), binary);
    EXPECT_EQ(Read("\xE6\xA8\xA1\xE5\x9E\x8B/a b+c.json"), "{}");
    EXPECT_EQ(Read("./b.bin"), binary);
    EXPECT_EQ(Read("\xE6\xA8\xA1\xE5\x9E\x8B//a b+c.json"), "{}");
}

TEST_P(ModelFolderTest, RefusesFoldersSpecialFilesAndNamesOutsideTheFolder) {
    Write("sub/a.bin", "a");
    ASSERT_EQ(mkfifo((dir / "pipe.bin").c_str(), 0600), 0);
    const std::vector<std::string> names = {
        "sub", "sub/", "pipe.bin", "../secret", "sub/../../secret", (root / "secret").string(),
        "",    "."};
    for (const std::string& name : names) {
        EXPECT_FALSE(folder->Has(name)) << name;
        EXPECT_EQ(Read(name), "<refused>") << name;  // the FIFO is refused without blocking
    }
}

TEST_P(ModelFolderTest, NoLinkIsFollowedBelowTheFolder) {
    Write("real/a.bin", "inside");
    fs::create_directories(root / "outside");
    std::ofstream(root / "outside/o.bin") << "outside";
    fs::create_symlink("/etc/passwd", dir / "pw");
    fs::create_symlink(root / "outside", dir / "linked");
    fs::create_symlink("real", dir / "alias");                // a link that stays inside
    fs::create_symlink("a.bin", dir / "real/same.bin");       // likewise, as the last step
    fs::create_symlink("../secret", dir / "real/climb.bin");  // relative, climbing out
    for (const char* name :
         {"pw", "linked/o.bin", "alias/a.bin", "real/same.bin", "real/climb.bin"}) {
        EXPECT_FALSE(folder->Has(name)) << name;
        EXPECT_EQ(Read(name), "<refused>") << name;
    }
    // The folder itself may be a link: where the deployment keeps it is its own choice.
    fs::create_symlink(dir, root / "models-link");
    EXPECT_EQ(ModelFolder(root / "models-link", GetParam()).Open("real/a.bin")->size, 6u);
}

TEST_P(ModelFolderTest, FileLargerThanMemoryIsOpenedWithoutReading) {
    const uint64_t size = 200ull << 30;  // 200 GiB, sparse
    { std::ofstream(dir / "huge.bin"); }
    ASSERT_EQ(truncate((dir / "huge.bin").c_str(), static_cast<off_t>(size)), 0);
    EXPECT_TRUE(folder->Has("huge.bin"));
    std::optional<ModelFile> file = folder->Open("huge.bin");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size, size);
}

TEST_P(ModelFolderTest, ConcurrentOpensReadTheirOwnFiles) {
    constexpr int kNames = 16;
    for (int i = 0; i < kNames; ++i)
        Write("f" + std::to_string(i) + ".bin", std::string(1000 + i, static_cast<char>('a' + i)));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < kNames; ++i) {
                    const int n = (i + t) % kNames;
                    const std::string name = "f" + std::to_string(n) + ".bin";
                    if (!folder->Has(name) ||
                        Read(name) != std::string(1000 + n, static_cast<char>('a' + n)))
                        ++wrong;
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}
