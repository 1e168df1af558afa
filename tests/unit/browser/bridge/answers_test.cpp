#include "browser/bridge/PageRequest.h"

#include <gtest/gtest.h>

#include <QString>

using namespace vorn;

namespace {

void SetField(IdCardRecord& record, int index, const QString& text) {
    const qsizetype n = std::min<qsizetype>(text.size(), IdCardRecord::kFieldUnits);
    for (qsizetype i = 0; i < n; ++i)
        record.fields[index][i] = text[i].unicode();
}

TEST(AnswersTest, CameraListHasTheDocumentedForm) {
    EXPECT_EQ(VCamListAnswer({{"A", "B", "C"}, {"D", "E", "F"}}),
              "OnVCamList('{\"video\":[{\"devid\":\"A\",\"name\":\"B\",\"desc\":\"C\"},"
              "{\"devid\":\"D\",\"name\":\"E\",\"desc\":\"F\"}]}');");
    EXPECT_EQ(VCamListAnswer({}), "OnVCamList('{\"video\":[]}');");
    EXPECT_EQ(VCamListAnswer({{"/dev/video2", "Dummy video device (0x0000)", "v4l2 loopback"}}),
              "OnVCamList('{\"video\":[{\"devid\":\"/dev/video2\",\"name\":\"Dummy video device "
              "(0x0000)\",\"desc\":\"v4l2 loopback\"}]}');");
}

TEST(AnswersTest, CameraValuesAreEscapedTwice) {
    // JSON escaping first (\" and \\), then the whole text for a single-quoted literal, which
    // doubles every backslash and escapes the apostrophe.
    EXPECT_EQ(VCamListAnswer({{"a\"b", "c\\d", "it's"}}),
              R"(OnVCamList('{"video":[{"devid":"a\\"b","name":"c\\\\d","desc":"it\'s"}]}');)");
    EXPECT_EQ(VCamListAnswer({{"</script>", "x\ny", "\xE4\xB8\xAD"}}),
              "OnVCamList('{\"video\":[{\"devid\":\"\\u003C/script>\",\"name\":\"x\\\\ny\","
              "\"desc\":\"\xE4\xB8\xAD\"}]}');");
}

TEST(AnswersTest, RemoteFlagIsANumber) {
    EXPECT_EQ(RemoteLoginAnswer(true), "OnIsRemoteLogin('{\"isRemoteLogin\":1}');");
    EXPECT_EQ(RemoteLoginAnswer(false), "OnIsRemoteLogin('{\"isRemoteLogin\":0}');");
}

TEST(AnswersTest, ClientInfoHasItsKeysInOrder) {
    EXPECT_EQ(ClientInfoAnswer({"0.1.0", "linux-x11", true, false, 2, "kvm", false, {}, "ab12"}),
              "OnClientInfo('{\"version\":\"0.1.0\",\"platform\":\"linux-x11\","
              "\"lockAvailable\":true,\"locked\":false,\"displays\":2,\"virtualMachine\":\"kvm\","
              "\"remoteSession\":false,\"screenCapture\":[],\"requestKey\":\"ab12\"}');");
    EXPECT_EQ(
        ClientInfoAnswer({"1", "linux-wayland", false, true, 1, "", true, {"OBS", "Peek"}, ""}),
        "OnClientInfo('{\"version\":\"1\",\"platform\":\"linux-wayland\","
        "\"lockAvailable\":false,\"locked\":true,\"displays\":1,\"virtualMachine\":\"\","
        "\"remoteSession\":true,\"screenCapture\":[\"OBS\",\"Peek\"],\"requestKey\":\"\"}');");
}

TEST(AnswersTest, CardTextTakesTheFieldsInTheirOrderWithTheTwoSpaces) {
    IdCardRecord record;
    for (int i = 0; i < IdCardRecord::kFieldCount; ++i)
        SetField(record, i, QStringLiteral("f%1").arg(i));
    SetField(record, 11, "/opt/vorn/idcard.jpg");
    EXPECT_EQ(IdCardAnswer(record),
              "ShowIdCard(\"{PeopleIDCode:f6,PeopleName:f1,PeopleSex:f2,PeopleNation:f3,"
              "PeopleBirthday:f4,PeopleAddress:f5,NationCode:f10,StartDate:f8, EndDate:f9, "
              "Pic:/opt/vorn/idcard.jpg}\");");

    const IdCardRecord empty;
    EXPECT_EQ(IdCardAnswer(empty),
              "ShowIdCard(\"{PeopleIDCode:,PeopleName:,PeopleSex:,PeopleNation:,PeopleBirthday:,"
              "PeopleAddress:,NationCode:,StartDate:, EndDate:, Pic:}\");");
}

TEST(AnswersTest, CardFieldsKeepQuotesBackslashesAndPlaceholders) {
    IdCardRecord record;
    SetField(record, 1, QString::fromUtf8("\xE5\xBC\xA0\"\xE4\xB8\x89"));  // 张"三
    SetField(record, 5, "%1 %10 %s");
    SetField(record, 11, "C:\\Client\\idcard.jpg");
    const QString answer = IdCardAnswer(record);
    EXPECT_TRUE(answer.contains(QString::fromUtf8("PeopleName:\xE5\xBC\xA0\\\"\xE4\xB8\x89,")))
        << answer.toStdString();
    EXPECT_TRUE(answer.contains("PeopleAddress:%1 %10 %s,")) << answer.toStdString();
    EXPECT_TRUE(answer.contains("Pic:C:\\\\Client\\\\idcard.jpg}\");")) << answer.toStdString();
}

TEST(AnswersTest, FieldsWithoutTerminatorAreReadToTheirEnd) {
    IdCardRecord record;
    for (int i = 0; i < IdCardRecord::kFieldCount; ++i)
        SetField(record, i, QString(IdCardRecord::kFieldUnits, QChar(u'a' + i)));
    const QString answer = IdCardAnswer(record);
    // Each field stops at its own block: the name is 256 'b's, never running into the sex's 'c's.
    EXPECT_TRUE(answer.contains(",PeopleName:" + QString(256, u'b') + ",PeopleSex:"));
    EXPECT_TRUE(answer.contains(", Pic:" + QString(256, u'l') + "}\");"));

    CardErrorText error{};
    error.fill(u'x');
    EXPECT_EQ(ErrorAnswer(error), "ShowError(\"" + QString(256, u'x') + "\");");
}

TEST(AnswersTest, ErrorTextStopsAtItsTerminator) {
    CardErrorText error{};
    const QString text = QString::fromUtf8("\xE8\xAF\xBB\xE5\x8D\xA1\xE5\xA4\xB1\xE8\xB4\xA5");
    for (qsizetype i = 0; i < text.size(); ++i)
        error[i] = text[i].unicode();
    error[text.size() + 1] = u'z';  // after the terminator: not part of the text
    EXPECT_EQ(ErrorAnswer(error), "ShowError(\"" + text + "\");");
}

}  // namespace
