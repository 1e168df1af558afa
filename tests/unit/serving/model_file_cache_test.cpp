#include "models/serving/ModelFileCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

class ModelFileCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "vorn-cache-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        folder = templ;
    }
    void TearDown() override { fs::remove_all(folder); }

    void Write(const std::string& name, const std::string& data) {
        fs::path p = folder / fs::path(std::u8string(name.begin(), name.end()));
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
    }

    fs::path folder;
    ModelFileCache cache;
};

}  // namespace

TEST_F(ModelFileCacheTest, FirstReadFixesContentForTheProcess) {
    Write("face/model.json", "old");
    auto first = cache.Load(folder, "face/model.json");
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "old");
    Write("face/model.json", "new and longer");
    EXPECT_EQ(*cache.Load(folder, "face/model.json"), "old");
    EXPECT_EQ(cache.Find("face/model.json").get(), first.get());  // the same buffer, not a copy
    fs::remove(folder / "face/model.json");
    EXPECT_EQ(*cache.Load(folder, "face/model.json"), "old");
}

TEST_F(ModelFileCacheTest, MissingFilesAreNotRemembered) {
    EXPECT_FALSE(cache.Load(folder, "late.bin"));
    EXPECT_FALSE(cache.Find("late.bin"));
    Write("late.bin", "here now");
    auto data = cache.Load(folder, "late.bin");
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, "here now");
}

TEST_F(ModelFileCacheTest, ZeroLengthBinaryAndUtf8NamesAreRead) {
    Write("empty.bin", "");
    const std::string binary("\0\1\2\xff\0", 5);
    Write("b.bin", binary);
    Write("\xE6\xA8\xA1\xE5\x9E\x8B/a b+c.json", "{}");
    auto empty = cache.Load(folder, "empty.bin");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(*cache.Load(folder, "b.bin"), binary);
    EXPECT_EQ(*cache.Load(folder, "\xE6\xA8\xA1\xE5\x9E\x8B/a b+c.json"), "{}");
    EXPECT_EQ(cache.Count(), 3u);
}

TEST_F(ModelFileCacheTest, RefusesFoldersAndNamesOutsideTheFolder) {
    Write("sub/a.bin", "a");
    fs::create_directories(folder.parent_path() / "vorn-cache-outside");
    std::ofstream(folder.parent_path() / "vorn-cache-outside/secret") << "secret";
    EXPECT_FALSE(cache.Load(folder, "sub"));
    EXPECT_FALSE(cache.Load(folder, "sub/"));
    EXPECT_FALSE(cache.Load(folder, "../vorn-cache-outside/secret"));
    EXPECT_FALSE(cache.Load(folder, (folder.parent_path() / "vorn-cache-outside/secret").string()));
    EXPECT_FALSE(cache.Load(folder, ""));
    EXPECT_EQ(cache.Count(), 0u);
    fs::remove_all(folder.parent_path() / "vorn-cache-outside");
}

TEST_F(ModelFileCacheTest, ConcurrentLoadsAgreeOnOneBufferPerName) {
    constexpr int kNames = 16;
    for (int i = 0; i < kNames; ++i)
        Write("f" + std::to_string(i) + ".bin", std::string(1000 + i, static_cast<char>('a' + i)));
    std::vector<std::thread> threads;
    std::vector<std::vector<ModelFileCache::Buffer>> seen(8);
    std::atomic<bool> go{false};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < kNames; ++i) {
                    const int n = (i + t) % kNames;
                    auto data = cache.Load(folder, "f" + std::to_string(n) + ".bin");
                    if (round == 0)
                        seen[t].push_back(data);
                    cache.Find("f" + std::to_string(n) + ".bin");
                }
            }
        });
    }
    go = true;
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(cache.Count(), static_cast<size_t>(kNames));
    for (int t = 0; t < 8; ++t) {
        for (int i = 0; i < kNames; ++i) {
            const int n = (i + t) % kNames;
            ASSERT_TRUE(seen[t][i]);
            EXPECT_EQ(seen[t][i]->size(), static_cast<size_t>(1000 + n));
            EXPECT_EQ(seen[t][i].get(), cache.Find("f" + std::to_string(n) + ".bin").get());
        }
    }
}
