#include "services/settings/ClientPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using vorn::ClientPaths;

namespace {

struct Folders : ::testing::Test {
    QTemporaryDir root;
    QString client = root.path() + "/client";
    QString data = root.path() + "/home/.local/share";
    QString cache = root.path() + "/home/.cache";
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(client)); }
    void Mark() {
        QFile marker(client + "/" + ClientPaths::InstalledMarkerName());
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    }
};

}  // namespace

TEST_F(Folders, AWritableFolderKeepsEverythingBesideTheExecutable) {
    const ClientPaths paths = ClientPaths::Resolve(client, data, cache);
    EXPECT_EQ(paths.GetMode(), ClientPaths::Mode::Portable);
    EXPECT_EQ(paths.StateFolder(), client + "/");
    EXPECT_EQ(paths.SettingsFile(), client + "/config.ini");
    EXPECT_EQ(paths.UserSettingsFile(), client + "/config.ini");
    EXPECT_EQ(paths.ModelFolder(), client + "/models");
    EXPECT_EQ(paths.ModelArchive(), client + "/models.zip");
    EXPECT_EQ(paths.PhotoFile(), client + "/idcard.jpg");
    EXPECT_EQ(paths.EngineCacheFolder(), QDir::tempPath() + "/caches");
    EXPECT_TRUE(paths.EnsureStateFolder());
    EXPECT_FALSE(QFileInfo::exists(data));
}

TEST_F(Folders, TheMarkerSendsTheUsersFilesToTheStateFolderAndKeepsTheSettings) {
    Mark();
    const ClientPaths paths = ClientPaths::Resolve(client, data, cache);
    const QString state = data + "/vornclient/";
    EXPECT_EQ(paths.GetMode(), ClientPaths::Mode::Installed);
    EXPECT_EQ(paths.StateFolder(), state);
    EXPECT_EQ(paths.SettingsFile(), client + "/config.ini");
    EXPECT_EQ(paths.UserSettingsFile(), state + "config.ini");
    EXPECT_EQ(paths.ModelFolder(), state + "models");
    EXPECT_EQ(paths.ModelArchive(), state + "models.zip");
    EXPECT_EQ(paths.PhotoFile(), state + "idcard.jpg");
    EXPECT_EQ(paths.LogFolder(), state + "logs");
    EXPECT_EQ(paths.EngineCacheFolder(), cache + "/vornclient/caches");

    ASSERT_TRUE(paths.EnsureStateFolder());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(state).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(paths.EnsureStateFolder());
}

TEST_F(Folders, AFolderTheUserCannotWriteIsInstalled) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write any folder; the marker covers root";
    ASSERT_TRUE(QFile::setPermissions(client, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_EQ(ClientPaths::Resolve(client, data, cache).GetMode(), ClientPaths::Mode::Installed);
    QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
