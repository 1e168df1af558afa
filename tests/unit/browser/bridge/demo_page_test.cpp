// The demo page, as compiled into the client, must take apart exactly what the client sends it.

#include "NodeRunner.h"
#include "browser/bridge/PageRequest.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using vorn::IdCardRecord;

namespace {

class DemoPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile resource(":/vorn/home/demo.js");
        ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
        QFile copy(m_dir.filePath("demo.js"));
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write(resource.readAll());
        for (const char* page : {":/vorn/home/index.html", ":/vorn/home/demo.css"})
            EXPECT_TRUE(QFile::exists(page)) << page;
    }

    QStringList Harness(const char* mode) const {
        return {vorntest::SourceDir() + "/tests/unit/browser/bridge/demo_page_harness.js",
                m_dir.filePath("demo.js"), mode};
    }

    QTemporaryDir m_dir;
};

void SetField(IdCardRecord& record, int index, const QString& text) {
    for (qsizetype i = 0; i < text.size() && i < 255; ++i)
        record.fields[index][i] = text[i].unicode();
}

std::vector<char16_t> Units(const QJsonValue& value) {
    std::vector<char16_t> units;
    for (const QJsonValue& unit : value.toArray())
        units.push_back(static_cast<char16_t>(unit.toInt()));
    return units;
}

TEST_F(DemoPageTest, CardFieldsAreRecoveredFromTheCardText) {
    struct Field {
        int index;
        const char* key;
    };
    const Field fields[] = {{6, "PeopleIDCode"}, {1, "PeopleName"},     {2, "PeopleSex"},
                            {3, "PeopleNation"}, {4, "PeopleBirthday"}, {5, "PeopleAddress"},
                            {10, "NationCode"},  {8, "StartDate"},      {9, "EndDate"},
                            {11, "Pic"}};
    const QStringList values = {
        "",
        "plain",
        QString::fromUtf8("\xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82, Room 3: east"),
        "a:b,c}d{e",
        "\"quoted\" 'and' \\back\\",
        "C:\\Client\\idcard.jpg",
    };
    std::vector<IdCardRecord> records;
    QStringList scripts;
    for (const QString& value : values) {
        IdCardRecord record;
        for (const Field& field : fields)
            SetField(record, field.index, value + field.key);
        records.push_back(record);
        scripts << vorn::IdCardAnswer(record);
    }
    QJsonArray input;
    for (const QString& script : scripts)
        input.append(script);
    const vorntest::NodeResult result =
        vorntest::RunNode(Harness("cards"), QJsonDocument(input).toJson(QJsonDocument::Compact));
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonArray reports = QJsonDocument::fromJson(result.out).array();
    ASSERT_EQ(reports.size(), values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QJsonObject card = reports[i].toObject();
        ASSERT_FALSE(card.isEmpty()) << scripts[i].toStdString();
        EXPECT_EQ(card.size(), 10);
        for (const Field& field : fields) {
            const QString expected = values[i] + field.key;
            EXPECT_EQ(Units(card[field.key]),
                      std::vector<char16_t>(expected.utf16(), expected.utf16() + expected.size()))
                << field.key << " in " << scripts[i].toStdString();
        }
    }
}

TEST_F(DemoPageTest, ClientReportIsShownAndThePageSignsAsTheClientDoes) {
    const std::string script = vorn::ClientInfoAnswer({"0.1.0",
                                                       "linux-x11",
                                                       true,
                                                       false,
                                                       2,
                                                       "kvm",
                                                       false,
                                                       {"OBS", "ffmpeg"},
                                                       std::string(64, 'c')});
    const vorntest::NodeResult result =
        vorntest::RunNode(Harness("clientinfo"), QByteArray::fromStdString(script));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
}

TEST_F(DemoPageTest, PhotoUrlsAndCameraListsAreBuiltSafely) {
    const vorntest::NodeResult result = vorntest::RunNode(Harness("photo"));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
}

}  // namespace
