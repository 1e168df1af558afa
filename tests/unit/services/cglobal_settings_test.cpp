#include "services/CGlobal.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using vorn::CGlobal;

namespace {

class GlobalSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        m_global.emplace(m_folder.path());
    }
    CGlobal& Global() { return *m_global; }
    void Write(const QByteArray& text) {
        QFile file(m_folder.path() + "/config.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray Read() {
        QFile file(m_folder.path() + "/config.ini");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir m_folder;
    std::optional<CGlobal> m_global;
};

}  // namespace

TEST_F(GlobalSettings, ClientFolderEndsWithASeparator) {
    EXPECT_EQ(Global().ClientFolder(), m_folder.path() + "/");
}

TEST_F(GlobalSettings, WithoutAFileEveryReadKeepsItsDefaultAndNothingIsCreated) {
    int port = 0, period = 500;
    QString url = "https://default.example/";
    Global().GetConfigInt("ComPort", port);
    Global().GetConfigInt("ReadTime", period);
    Global().GetConfigString("Url", url);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(period, 500);
    EXPECT_EQ(url, "https://default.example/");
    EXPECT_FALSE(QFile::exists(m_folder.path() + "/config.ini"));
}

TEST_F(GlobalSettings, UrlOnlyFromSectionConfigAndEmptyWins) {
    Write("[Other]\nUrl=http://wrong/\n[config]\nurl=\n");
    QString url = "https://default.example/";
    Global().GetConfigString("Url", url);
    EXPECT_EQ(url, "");

    Write("[Other]\nUrl=http://wrong/\n");
    url = "https://default.example/";
    Global().GetConfigString("Url", url);
    EXPECT_EQ(url, "https://default.example/");
}

TEST_F(GlobalSettings, LongUrlIsCutAt259Characters) {
    Write("[Config]\nUrl=" + QByteArray(300, 'a') + "\n");
    QString url;
    Global().GetConfigString("Url", url);
    EXPECT_EQ(url, QString(259, 'a'));
}

TEST_F(GlobalSettings, PortWrittenByThePageIsReadAtTheNextStart) {
    Write("; exam room 3\n[Config]\nUrl=https://exam/\n");
    EXPECT_TRUE(Global().SetConfigInt("ComPort", 3));
    const QByteArray text = Read();
    EXPECT_TRUE(text.startsWith("; exam room 3\n[Config]\nUrl=https://exam/\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("ComPort=3")) << text.constData();
    int port = 0;
    Global().GetConfigInt("ComPort", port);
    EXPECT_EQ(port, 3);
    EXPECT_TRUE(Global().SetConfigInt("ComPort", -7));
    Global().GetConfigInt("ComPort", port);
    EXPECT_EQ(port, -7);
}
