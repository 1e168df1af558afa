#include "services/integrity/ClientKey.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using vorn::ClientKeyInputs;
using vorn::ComputeClientKey;

namespace {

// A client folder: an executable and a skin of two documents and an image.
struct ClientFolder {
    vorn::test::TempFolder dir{"vorn-key"};
    ClientFolder() {
        dir.Write("vornclient", std::string("\x7f"
                                            "ELF executable bytes\0\1\2",
                                            24));
        dir.Write("Skin/CEFBrowser/res.xml", "<Res/>");
        dir.Write("Skin/CEFBrowser/main.xml", "<Window/>");
        dir.Write("Skin/CEFBrowser/default/_A0_close.png", "\x89PNG close");
    }
    ClientKeyInputs Inputs(std::string url = "https://exam.example/") const {
        return {dir.Root() / "vornclient", dir.Root() / "Skin/CEFBrowser", std::move(url)};
    }
    std::string Key(std::string url = "https://exam.example/") const {
        return ComputeClientKey(Inputs(std::move(url))).value_or("(none)");
    }
};

}  // namespace

TEST(ClientKey, SameFilesSameKeyAnyChangeAnotherKey) {
    ClientFolder a;
    ClientFolder b;  // the same files in another folder
    const std::string key = a.Key();
    EXPECT_EQ(key.size(), 64u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(key, a.Key());
    EXPECT_EQ(key, b.Key());

    b.dir.Write("vornclient", std::string("\x7f"
                                          "ELF executable bytes\0\1\3",
                                          24));
    EXPECT_NE(b.Key(), key) << "one byte of the executable";

    ClientFolder skin;
    skin.dir.Write("Skin/CEFBrowser/default/_A0_close.png", "\x89PNG closf");
    EXPECT_NE(skin.Key(), key) << "one byte of a skin image";

    ClientFolder added;
    added.dir.Write("Skin/CEFBrowser/extra.xml", "");
    EXPECT_NE(added.Key(), key) << "an added empty skin file";

    // A file moved between names with the same bytes is another skin.
    ClientFolder renamed;
    std::filesystem::rename(renamed.dir.Root() / "Skin/CEFBrowser/main.xml",
                            renamed.dir.Root() / "Skin/CEFBrowser/main2.xml");
    EXPECT_NE(renamed.Key(), key);

    EXPECT_NE(a.Key("https://other.example/"), key) << "another exam address";
    EXPECT_NE(a.Key(""), key);
}

TEST(ClientKey, LinksAreNotFollowedAndAMissingExecutableGivesNoKey) {
    ClientFolder folder;
    folder.dir.Write("outside.txt", "one");
    folder.dir.Link("Skin/CEFBrowser/link.txt", folder.dir.Root() / "outside.txt");
    const std::string key = folder.Key();
    folder.dir.Write("outside.txt", "two");
    EXPECT_EQ(folder.Key(), key) << "a link's target is not part of the skin";

    ClientFolder linkedExe;
    std::filesystem::rename(linkedExe.dir.Root() / "vornclient", linkedExe.dir.Root() / "real");
    linkedExe.dir.Link("vornclient", linkedExe.dir.Root() / "real");
    EXPECT_FALSE(ComputeClientKey(linkedExe.Inputs()).has_value());

    ClientFolder missing;
    std::filesystem::remove(missing.dir.Root() / "vornclient");
    EXPECT_FALSE(ComputeClientKey(missing.Inputs()).has_value());

    // Without a skin folder (the built-in skin is used) there is still a key.
    ClientFolder noSkin;
    std::filesystem::remove_all(noSkin.dir.Root() / "Skin");
    EXPECT_EQ(ComputeClientKey(noSkin.Inputs()).value_or("").size(), 64u);
}

TEST(RequestHash, OnlyHttpRequestsWithoutTheirFragment) {
    const std::string key(64, 'a');
    EXPECT_EQ(vorn::RequestHashFor("http://h/p?q#frag", key),
              vorn::RequestHash("http://h/p?q", key));
    EXPECT_EQ(vorn::RequestHashFor("HTTPS://h/", key), vorn::RequestHash("HTTPS://h/", key));
    EXPECT_FALSE(vorn::RequestHashFor("vornbridge://call/?a=1", key));
    EXPECT_FALSE(vorn::RequestHashFor("file:///etc/passwd", key));
    EXPECT_FALSE(vorn::RequestHashFor("ws://h/", key));
    EXPECT_FALSE(vorn::RequestHashFor("nocolon", key));
    EXPECT_FALSE(vorn::RequestHashFor("http://h/", ""));
}

TEST(RequestHash, IsSha256OfUrlThenKey) {
    EXPECT_EQ(vorn::Sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(vorn::RequestHash("http://127.0.0.1:8080/a?b=1", "00ff"),
              vorn::Sha256Hex("http://127.0.0.1:8080/a?b=100ff"));
}
