#include "services/CGlobal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using vorn::CGlobal;

namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

}  // namespace

// An installed client: the administrator's file decides Url; the port the page gives is the
// user's own and is written only to the user's file.
TEST(InstalledSettings, PortGoesToTheUsersFileAndUrlStaysTheAdministrators) {
    QTemporaryDir root;
    const QString client = root.path() + "/client";
    const QString state = root.path() + "/data/vornclient";
    QDir().mkpath(client);
    Write(client + "/per-user-state", "");
    const QByteArray admin = "[Config]\nUrl=https://exam.example/\nComPort=2\nReadTime=700\n";
    Write(client + "/config.ini", admin);
    qputenv("XDG_DATA_HOME", (root.path() + "/data").toUtf8());
    CGlobal global(client);

    int port = 0;
    global.GetConfigInt("ComPort", port);
    EXPECT_EQ(port, 2);  // the administrator's value until the user has one
    ASSERT_TRUE(global.SetConfigInt("ComPort", 5));
    EXPECT_EQ(Read(state + "/config.ini"), "[Config]\nComPort=5\n");
    EXPECT_EQ(Read(client + "/config.ini"), admin);

    // A Url in the user's own file is never read.
    Write(state + "/config.ini", "[Config]\nComPort=5\nUrl=https://elsewhere.example/\n");
    QString url;
    int period = 500;
    port = 0;
    global.GetConfigString("Url", url);
    global.GetConfigInt("ReadTime", period);
    global.GetConfigInt("ComPort", port);
    EXPECT_EQ(url, "https://exam.example/");
    EXPECT_EQ(period, 700);
    EXPECT_EQ(port, 5);
}
