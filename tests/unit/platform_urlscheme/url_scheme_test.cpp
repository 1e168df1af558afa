#include "platform/linux/UrlSchemeRegistration_linux.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vorn::platform;

TEST(DesktopEntry, ExecQuotesThePathAndPassesTheUrl) {
    const QString text = DesktopEntryText("vornapp", "/opt/vorn client/vornclient");
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/vorn client/vornclient\" %u\n"));
    EXPECT_TRUE(text.contains("\nMimeType=x-scheme-handler/vornapp;\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
}

TEST(DesktopEntry, SpecialCharactersOfThePathAreEscaped) {
    // Inside the quotes " ` $ \ take a backslash, % doubles, and the string escape doubles
    // every backslash once more.
    const QString text = DesktopEntryText("vornapp", "/a\"b/$x/`y`/100%/c\\d");
    EXPECT_TRUE(text.contains("Exec=\"/a\\\\\"b/\\\\$x/\\\\`y\\\\`/100%%/c\\\\\\\\d\" %u\n")) << text.toStdString();
}

TEST(DesktopEntry, ExecQuotesOnlyWhenAReservedCharacterNeedsIt) {
    // Generic xdg-open takes the first word of Exec as the program, quotes and all.
    EXPECT_TRUE(DesktopEntryText("vornapp", "/usr/lib/vornclient/vornclient")
                    .contains("\nExec=/usr/lib/vornclient/vornclient %u\n"));
    EXPECT_TRUE(DesktopEntryText("vornapp", "/srv/100%/vornclient")
                    .contains("\nExec=/srv/100%%/vornclient %u\n"));
    EXPECT_TRUE(DesktopEntryText("vornapp", "/home/a~b/vornclient")
                    .contains("\nExec=\"/home/a~b/vornclient\" %u\n"));
    EXPECT_TRUE(DesktopEntryText("vornapp", "/home/a(1)/vornclient")
                    .contains("\nExec=\"/home/a(1)/vornclient\" %u\n"));
}

TEST(MimeApps, AddsTheDefaultAndKeepsEverythingElse) {
    EXPECT_EQ(MimeAppsWithDefault("", "x-scheme-handler/vornapp", "vornapp.desktop"),
              "[Default Applications]\nx-scheme-handler/vornapp=vornapp.desktop\n");

    const QString existing =
        "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
        "text/html=firefox.desktop\nx-scheme-handler/vornapp=old.desktop\n\n[Removed Associations]\n";
    EXPECT_EQ(MimeAppsWithDefault(existing, "x-scheme-handler/vornapp", "vornapp.desktop"),
              "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
              "text/html=firefox.desktop\nx-scheme-handler/vornapp=vornapp.desktop\n\n"
              "[Removed Associations]\n");

    const QString noDefault = "[Default Applications]\ntext/html=firefox.desktop\n\n[Other]\nk=v\n";
    EXPECT_EQ(MimeAppsWithDefault(noDefault, "x-scheme-handler/vornapp", "vornapp.desktop"),
              "[Default Applications]\ntext/html=firefox.desktop\n"
              "x-scheme-handler/vornapp=vornapp.desktop\n\n[Other]\nk=v\n");
}

TEST(MimeApps, RewritingTwiceChangesNothing) {
    const QString once = MimeAppsWithDefault("[Other]\na=b\n", "x-scheme-handler/vornapp", "vornapp.desktop");
    EXPECT_EQ(MimeAppsWithDefault(once, "x-scheme-handler/vornapp", "vornapp.desktop"), once);
}

TEST(Registration, WritesBothFilesAndXdgMimeAgrees) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    QDir().mkpath(home.path() + "/config");
    QFile mime(home.path() + "/config/mimeapps.list");
    ASSERT_TRUE(mime.open(QIODevice::WriteOnly));
    mime.write("[Default Applications]\ntext/html=browser.desktop\n");
    mime.close();

    ASSERT_TRUE(RegisterUrlScheme("vornapp", "/opt/vorn/vornclient"));
    QFile entry(home.path() + "/data/applications/vornapp.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("Exec=/opt/vorn/vornclient %u\n"));
    ASSERT_TRUE(mime.open(QIODevice::ReadOnly));
    const QByteArray list = mime.readAll();
    EXPECT_TRUE(list.contains("text/html=browser.desktop\n"));
    EXPECT_TRUE(list.contains("x-scheme-handler/vornapp=vornapp.desktop\n"));

    if (QStandardPaths::findExecutable("xdg-mime").isEmpty())
        GTEST_SKIP() << "xdg-mime is not installed";
    QProcess query;
    query.start("xdg-mime", {"query", "default", "x-scheme-handler/vornapp"});
    ASSERT_TRUE(query.waitForFinished(10000));
    EXPECT_EQ(query.readAllStandardOutput().trimmed(), "vornapp.desktop");
}
