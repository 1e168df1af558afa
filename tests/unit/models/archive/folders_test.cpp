// CreateFolderPath on its own: base creation, nesting, no links, no climbing.

#include "models/archive/Archive.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using vorn::CreateFolderPath;

namespace fs = std::filesystem;

namespace {

TEST(CreateFolderPath, CreatesTheBaseAndEveryStepBelowIt) {
    vorn::test::TempFolder tree{"vorn_zip"};
    const fs::path base = tree.Root() / "base";
    CreateFolderPath(&base, u"a\\b/c");
    EXPECT_TRUE(fs::is_directory(base / "a/b/c"));
    CreateFolderPath(&base, u"a/b/c");  // all there already
    CreateFolderPath(&base, u"");
    EXPECT_TRUE(fs::is_directory(base / "a/b/c"));
    // With a base given, a leading separator does not leave it.
    CreateFolderPath(&base, u"/rooted/x");
    EXPECT_TRUE(fs::is_directory(base / "rooted/x"));
}

TEST(CreateFolderPath, TheBaseIsMadeOnlyWhenItsParentExists) {
    vorn::test::TempFolder tree{"vorn_zip"};
    const fs::path base = tree.Root() / "missing/base";
    CreateFolderPath(&base, u"x");
    EXPECT_FALSE(fs::exists(tree.Root() / "missing"));
}

TEST(CreateFolderPath, NeverClimbsOrFollowsLinksBelowABase) {
    vorn::test::TempFolder tree{"vorn_zip"};
    const fs::path base = tree.Root() / "base", outside = tree.Root() / "outside";
    fs::create_directories(base);
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, base / "link");
    CreateFolderPath(&base, u"../escaped");
    CreateFolderPath(&base, u"a/../../escaped");
    CreateFolderPath(&base, u"link/inside");
    EXPECT_FALSE(fs::exists(tree.Root() / "escaped"));
    EXPECT_FALSE(fs::exists(base / "a"));  // stopped at the refused step, nothing half-made
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST(CreateFolderPath, WithoutABaseRelativeMeansTheCurrentDirectory) {
    vorn::test::TempFolder tree{"vorn_zip"};
    const fs::path before = fs::current_path();
    fs::current_path(tree.Root());
    CreateFolderPath(nullptr, u"rel\\one");
    fs::current_path(before);
    EXPECT_TRUE(fs::is_directory(tree.Root() / "rel/one"));
    CreateFolderPath(nullptr, (tree.Root() / "abs/two").u16string());
    EXPECT_TRUE(fs::is_directory(tree.Root() / "abs/two"));
}

}  // namespace
