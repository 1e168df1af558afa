#include "services/CGlobal.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class GlobalSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        CGlobal::Instance().SetClientFolder(m_folder.path());
    }
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
};

}  // namespace

TEST_F(GlobalSettings, ClientFolderEndsWithASeparator) {
    EXPECT_EQ(CGlobal::Instance().ClientFolder(), m_folder.path() + "/");
}

TEST_F(GlobalSettings, WithoutAFileEveryReadKeepsItsDefaultAndNothingIsCreated) {
    int port = 0, period = 500;
    QString url = "https://default.example/";
    CGlobal::Instance().GetConfigInt("ComPort", port);
    CGlobal::Instance().GetConfigInt("ReadTime", period);
    CGlobal::Instance().GetConfigString("Url", url);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(period, 500);
    EXPECT_EQ(url, "https://default.example/");
    EXPECT_FALSE(QFile::exists(m_folder.path() + "/config.ini"));
}

TEST_F(GlobalSettings, UrlOnlyFromSectionConfigAndEmptyWins) {
    Write("[Other]\nUrl=http://wrong/\n[config]\nurl=\n");
    QString url = "https://default.example/";
    CGlobal::Instance().GetConfigString("Url", url);
    EXPECT_EQ(url, "");

    Write("[Other]\nUrl=http://wrong/\n");
    url = "https://default.example/";
    CGlobal::Instance().GetConfigString("Url", url);
    EXPECT_EQ(url, "https://default.example/");
}

TEST_F(GlobalSettings, LongUrlIsCutAt259Characters) {
    Write("[Config]\nUrl=" + QByteArray(300, 'a') + "\n");
    QString url;
    CGlobal::Instance().GetConfigString("Url", url);
    EXPECT_EQ(url, QString(259, 'a'));
}

TEST_F(GlobalSettings, PortWrittenByThePageIsReadAtTheNextStart) {
    Write("; exam room 3\n[Config]\nUrl=https://exam/\n");
    EXPECT_TRUE(CGlobal::Instance().SetConfigInt("ComPort", 3));
    const QByteArray text = Read();
    EXPECT_TRUE(text.startsWith("; exam room 3\n[Config]\nUrl=https://exam/\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("ComPort=3")) << text.constData();
    int port = 0;
    CGlobal::Instance().GetConfigInt("ComPort", port);
    EXPECT_EQ(port, 3);
    EXPECT_TRUE(CGlobal::Instance().SetConfigInt("ComPort", -7));
    CGlobal::Instance().GetConfigInt("ComPort", port);
    EXPECT_EQ(port, -7);
}
