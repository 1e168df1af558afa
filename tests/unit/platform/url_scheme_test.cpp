#include "platform/linux/UrlSchemeRegistration_linux.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

using namespace vorn::platform;

namespace {

bool Contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A private home: the user's folders point into a fresh temporary folder for one test.
class XdgHome : public ::testing::Test {
protected:
    void SetUp() override {
        m_home = m_temp.Root();
        setenv("XDG_DATA_HOME", (m_home / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_home / "config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (m_home / "etc").c_str(), 1);
        setenv("XDG_DATA_DIRS", (m_home / "usr").c_str(), 1);
    }
    vorn::test::TempFolder m_temp{"vorn-xdg"};
    fs::path m_home;
    const std::unique_ptr<IUrlSchemeRegistration> m_urls = CreateUrlSchemeRegistration();
};

}  // namespace

TEST(DesktopEntry, ExecQuotesThePathAndPassesTheUrl) {
    const std::string text = DesktopEntryText("vornapp", "/opt/vorn client/vornclient");
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n"));
    EXPECT_TRUE(Contains(text, "\nExec=\"/opt/vorn client/vornclient\" %u\n"));
    EXPECT_TRUE(Contains(text, "\nMimeType=x-scheme-handler/vornapp;\n"));
    EXPECT_TRUE(Contains(text, "\nType=Application\n"));
}

TEST(DesktopEntry, SpecialCharactersOfThePathAreEscaped) {
    // Inside the quotes " ` $ \ take a backslash, % doubles, and the string escape doubles
    // every backslash once more.
    const std::string text = DesktopEntryText("vornapp", "/a\"b/$x/`y`/100%/c\\d");
    EXPECT_TRUE(Contains(text, "Exec=\"/a\\\\\"b/\\\\$x/\\\\`y\\\\`/100%%/c\\\\\\\\d\" %u\n"))
        << text;
}

TEST(DesktopEntry, ExecQuotesOnlyWhenAReservedCharacterNeedsIt) {
    // Generic xdg-open takes the first word of Exec as the program, quotes and all.
    EXPECT_TRUE(Contains(DesktopEntryText("vornapp", "/usr/lib/vornclient/vornclient"),
                         "\nExec=/usr/lib/vornclient/vornclient %u\n"));
    EXPECT_TRUE(Contains(DesktopEntryText("vornapp", "/srv/100%/vornclient"),
                         "\nExec=/srv/100%%/vornclient %u\n"));
    EXPECT_TRUE(Contains(DesktopEntryText("vornapp", "/home/a~b/vornclient"),
                         "\nExec=\"/home/a~b/vornclient\" %u\n"));
    EXPECT_TRUE(Contains(DesktopEntryText("vornapp", "/home/a(1)/vornclient"),
                         "\nExec=\"/home/a(1)/vornclient\" %u\n"));
}

TEST(MimeApps, AddsTheDefaultAndKeepsEverythingElse) {
    EXPECT_EQ(MimeAppsWithDefault("", "x-scheme-handler/vornapp", "vornapp.desktop"),
              "[Default Applications]\nx-scheme-handler/vornapp=vornapp.desktop\n");

    const std::string existing =
        "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
        "text/html=firefox.desktop\nx-scheme-handler/vornapp=old.desktop\n\n[Removed "
        "Associations]\n";
    EXPECT_EQ(MimeAppsWithDefault(existing, "x-scheme-handler/vornapp", "vornapp.desktop"),
              "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
              "text/html=firefox.desktop\nx-scheme-handler/vornapp=vornapp.desktop\n\n"
              "[Removed Associations]\n");

    const std::string noDefault =
        "[Default Applications]\ntext/html=firefox.desktop\n\n[Other]\nk=v\n";
    EXPECT_EQ(MimeAppsWithDefault(noDefault, "x-scheme-handler/vornapp", "vornapp.desktop"),
              "[Default Applications]\ntext/html=firefox.desktop\n"
              "x-scheme-handler/vornapp=vornapp.desktop\n\n[Other]\nk=v\n");
}

TEST(MimeApps, RewritingTwiceChangesNothing) {
    const std::string once =
        MimeAppsWithDefault("[Other]\na=b\n", "x-scheme-handler/vornapp", "vornapp.desktop");
    EXPECT_EQ(MimeAppsWithDefault(once, "x-scheme-handler/vornapp", "vornapp.desktop"), once);
}

TEST_F(XdgHome, RegistrationWritesBothFilesAndXdgMimeAgrees) {
    WriteAll(m_home / "config/mimeapps.list",
             "[Default Applications]\ntext/html=browser.desktop\n");

    ASSERT_TRUE(m_urls->Register("vornapp", "/opt/vorn/vornclient"));
    EXPECT_TRUE(Contains(ReadAll(m_home / "data/applications/vornapp.desktop"),
                         "Exec=/opt/vorn/vornclient %u\n"));
    const std::string list = ReadAll(m_home / "config/mimeapps.list");
    EXPECT_TRUE(Contains(list, "text/html=browser.desktop\n"));
    EXPECT_TRUE(Contains(list, "x-scheme-handler/vornapp=vornapp.desktop\n"));

    if (std::system("command -v xdg-mime >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xdg-mime is not installed";
    FILE* query = popen("xdg-mime query default x-scheme-handler/vornapp", "r");
    ASSERT_NE(query, nullptr);
    char answer[256] = {};
    const size_t n = fread(answer, 1, sizeof answer - 1, query);
    pclose(query);
    EXPECT_EQ(std::string(answer, n), "vornapp.desktop\n");
}

TEST_F(XdgHome, AListThatCannotBeReadIsNotOverwritten) {
    fs::create_directories(m_home / "config/mimeapps.list");  // a folder under the list's name
    EXPECT_FALSE(m_urls->SetDefaultHandler("vornapp", "vornapp.desktop"));
    EXPECT_TRUE(fs::is_directory(m_home / "config/mimeapps.list"));
}

TEST_F(XdgHome, TheUsersListIsEditedWhereItIsWithItsModeAndAReadOnlyOneIsLeftAlone) {
    const fs::path list = m_home / "config/mimeapps.list";
    const fs::path dotfiles = m_home / "dotfiles/mimeapps.list";
    const std::string others = "[Default Applications]\ntext/html=browser.desktop\n";
    WriteAll(dotfiles, others);
    fs::permissions(dotfiles, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(list.parent_path());
    fs::create_symlink("../dotfiles/mimeapps.list", list);

    // A linked list: the link stays and the file it names gets the line, keeping its mode.
    ASSERT_TRUE(m_urls->SetDefaultHandler("vornapp", "vornapp.desktop"));
    EXPECT_TRUE(fs::is_symlink(list));
    EXPECT_EQ(ReadAll(dotfiles), others + "x-scheme-handler/vornapp=vornapp.desktop\n");
    EXPECT_EQ(fs::status(dotfiles).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // A list nobody may write: left as it is, whoever runs the registration.
    fs::remove(list);
    WriteAll(list, others);
    fs::permissions(list, fs::perms::owner_read);
    EXPECT_FALSE(m_urls->SetDefaultHandler("vornapp", "vornapp.desktop"));
    EXPECT_EQ(ReadAll(list), others);
    EXPECT_EQ(fs::status(list).permissions(), fs::perms::owner_read);
}

TEST_F(XdgHome, TheHandlerIsTheFirstDefaultThatIsInstalled) {
    EXPECT_EQ(m_urls->FindHandler("vornapp").command, "");

    // The user's default names an entry that is gone: the system's default counts instead.
    WriteAll(m_home / "config/mimeapps.list",
             "[Default Applications]\nx-scheme-handler/vornapp=gone.desktop\n");
    WriteAll(m_home / "etc/mimeapps.list",
             "[Default Applications]\nx-scheme-handler/vornapp=vornclient.desktop\n");
    WriteAll(m_home / "usr/applications/vornclient.desktop",
             DesktopEntryText("vornapp", "/opt/vorn client/100%/vornclient"));
    UrlSchemeHandler handler = m_urls->FindHandler("vornapp");
    EXPECT_EQ(handler.command, "\"/opt/vorn client/100%%/vornclient\" %u");
    EXPECT_EQ(handler.program, "/opt/vorn client/100%/vornclient");
    EXPECT_TRUE(m_urls->HasSystemHandlerEntry("vornclient.desktop"));

    // No default anywhere: the applications folders' cache of declared types.
    fs::remove(m_home / "etc/mimeapps.list");
    fs::remove(m_home / "config/mimeapps.list");
    WriteAll(m_home / "usr/applications/mimeinfo.cache",
             "[MIME Cache]\nx-scheme-handler/vornapp=gone.desktop;vornclient.desktop;\n");
    EXPECT_EQ(m_urls->FindHandler("vornapp").program, "/opt/vorn client/100%/vornclient");

    // The user's registration wins over both; its entry is not a system one.
    ASSERT_TRUE(m_urls->Register("vornapp", "/home/u/vornclient"));
    handler = m_urls->FindHandler("vornapp");
    EXPECT_EQ(handler.command, "/home/u/vornclient %u");
    EXPECT_EQ(handler.program, "/home/u/vornclient");
    EXPECT_FALSE(m_urls->HasSystemHandlerEntry("vornapp.desktop"));
}

TEST_F(XdgHome, CurrentOnlyWhenWritingWouldChangeNothing) {
    const std::string exe = "/opt/vorn/vornclient";
    EXPECT_FALSE(m_urls->RegistrationIsCurrent("vornapp", exe));

    ASSERT_TRUE(m_urls->Register("vornapp", exe));
    EXPECT_TRUE(m_urls->RegistrationIsCurrent("vornapp", exe));
    // The client folder moved: the entry starts the old path.
    EXPECT_FALSE(m_urls->RegistrationIsCurrent("vornapp", "/srv/moved/vornclient"));
    // A packaged entry would be made the default instead.
    EXPECT_FALSE(m_urls->DefaultHandlerIsCurrent("vornapp", "vornclient.desktop"));

    // Other applications' lines do not matter; another default for the scheme does.
    const fs::path mimeApps = m_home / "config/mimeapps.list";
    WriteAll(mimeApps,
             "[Default Applications]\ntext/html=browser.desktop\n"
             "x-scheme-handler/vornapp=vornapp.desktop\n\n[Added Associations]\n"
             "text/plain=editor.desktop;\n");
    EXPECT_TRUE(m_urls->RegistrationIsCurrent("vornapp", exe));
    WriteAll(mimeApps, "[Default Applications]\nx-scheme-handler/vornapp=other.desktop\n");
    EXPECT_FALSE(m_urls->RegistrationIsCurrent("vornapp", exe));
    ASSERT_TRUE(m_urls->SetDefaultHandler("vornapp", "vornclient.desktop"));
    EXPECT_TRUE(m_urls->DefaultHandlerIsCurrent("vornapp", "vornclient.desktop"));

    // Links where the registration writes are not followed, even to the very same text.
    ASSERT_TRUE(m_urls->Register("vornapp", exe));
    ASSERT_TRUE(m_urls->RegistrationIsCurrent("vornapp", exe));
    const fs::path entry = m_home / "data/applications/vornapp.desktop";
    fs::rename(entry, m_home / "entry");
    fs::create_symlink(m_home / "entry", entry);
    EXPECT_FALSE(m_urls->RegistrationIsCurrent("vornapp", exe));
    fs::remove(entry);
    fs::rename(m_home / "entry", entry);
    ASSERT_TRUE(m_urls->RegistrationIsCurrent("vornapp", exe));
    fs::rename(mimeApps, m_home / "mimeapps");
    fs::create_symlink(m_home / "mimeapps", mimeApps);
    EXPECT_FALSE(m_urls->RegistrationIsCurrent("vornapp", exe));
    EXPECT_FALSE(m_urls->DefaultHandlerIsCurrent("vornapp", "vornapp.desktop"));
}
