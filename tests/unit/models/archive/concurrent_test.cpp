// Two handles on two threads extracting the same archive into the same base folder, as the
// benchmark does to use both cores: shared folders are created by whichever thread comes first.

#include "models/archive/Archive.h"

#include "FileHelpers.h"
#include "ZipBuilder.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <thread>

namespace fs = std::filesystem;
using ziptest::Entry;
using namespace vorn;

namespace {

TEST(ArchiveConcurrency, TwoHandlesShareABaseFolder) {
    std::vector<Entry> entries;
    for (int i = 0; i < 120; ++i) {
        const std::string dir = "m" + std::to_string(i % 4) + "/g" + std::to_string(i % 7) + "/";
        entries.push_back(
            Entry::File(dir + "f" + std::to_string(i), std::string(3000 + i, 'a' + i % 26)));
    }
    const std::string zip = ziptest::Build(entries);
    vorn::test::TempFolder tree{"vorn_zip"};
    const fs::path base = tree.Root() / "base";
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(base);
        uint32_t failures[2] = {0, 0};
        auto work = [&](int first) {
            ArchiveHandle h = ArchiveOpenMemory(zip.data(), zip.size(), nullptr, base);
            ArchiveItem item;
            for (int i = first; i < int(entries.size()); i += 2) {
                ArchiveGetItem(h, i, &item);
                failures[first] |= ArchiveExtractItem(h, i, item.name);
            }
            ArchiveClose(h);
        };
        std::thread odd(work, 1);
        work(0);
        odd.join();
        EXPECT_EQ(failures[0], ZR_OK);
        EXPECT_EQ(failures[1], ZR_OK);
        for (size_t i = 0; i < entries.size(); ++i)
            EXPECT_TRUE(ziptest::ReadFile(base / entries[i].name) == entries[i].data) << i;
    }
}

}  // namespace
