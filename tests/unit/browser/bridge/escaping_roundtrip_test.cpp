// Answers built from hostile values are run in a real JavaScript engine (node), with the page's
// answer functions stubbed: each script must call exactly its one function, run nothing else,
// and hand over exactly the original values.

#include "NodeRunner.h"
#include "browser/bridge/PageRequest.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace vorn;

namespace {

QStringList HostileTexts() {
    QStringList texts = {
        "",
        "'",
        "\"",
        "\\",
        "\\'",
        "\\\"",
        "a\nb",
        "\r\n",
        "');pwned();('",
        "\");pwned();(\"",
        "\\');pwned();//",
        "'+pwned()+'",
        "</script><script>pwned()</script>",
        "<!--",
        "-->",
        "${pwned()}`",
        "C:\\Client\\idcard.jpg",
        "\\u0041\\x41\\0",
        "%1%2%10%s%d",
        "}]},{\"devid\":\"injected",
        ",PeopleName:fake}",
        QString::fromUtf8("\xE5\xBC\xA0\xE4\xB8\x89 \xF0\x9F\x98\x80 \xF0\xA0\x80\x80"),
        QString(QChar(0x2028)) + "x" + QChar(0x2029),
        QString(QChar(0xFEFF)) + QChar(0x85) + QChar(0xA0),
        QString(QChar(0xD800)),                  // lone high surrogate
        QString(QChar(0xDC00)) + "tail",         // lone low surrogate
        QString(QChar(0xDC00)) + QChar(0xD800),  // reversed pair
        QString(255, u'\\'),
    };
    QString controls;
    for (char16_t c = 1; c < 0x20; ++c)
        controls += QChar(c);
    controls += QChar(0x7F);
    texts << controls;
    return texts;
}

std::vector<char16_t> Units(const QString& text) {
    return std::vector<char16_t>(text.utf16(), text.utf16() + text.size());
}

std::vector<char16_t> Units(const QJsonValue& value) {
    std::vector<char16_t> units;
    for (const QJsonValue& unit : value.toArray())
        units.push_back(static_cast<char16_t>(unit.toInt()));
    return units;
}

// Runs each script in its own context; returns one report per script.
QJsonArray RunAnswers(const QStringList& scripts) {
    QJsonArray input;
    for (const QString& script : scripts)
        input.append(script);
    const vorntest::NodeResult result = vorntest::RunNode(
        {vorntest::SourceDir() + "/tests/unit/browser/bridge/answer_roundtrip.js"},
        QJsonDocument(input).toJson(QJsonDocument::Compact));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonArray reports = QJsonDocument::fromJson(result.out).array();
    EXPECT_EQ(reports.size(), scripts.size()) << result.out.toStdString();
    return reports;
}

// One call of the expected function, no error, nothing injected; returns that call.
QJsonObject SingleCall(const QJsonValue& report, const char* function, const QString& script) {
    const QJsonObject object = report.toObject();
    EXPECT_TRUE(object["error"].isNull())
        << object["error"].toString().toStdString() << "\n in " << script.toStdString();
    EXPECT_EQ(object["pwned"].toInt(), 0) << script.toStdString();
    const QJsonArray calls = object["calls"].toArray();
    EXPECT_EQ(calls.size(), 1) << script.toStdString();
    const QJsonObject call = calls.isEmpty() ? QJsonObject() : calls[0].toObject();
    EXPECT_EQ(call["fn"].toString(), function) << script.toStdString();
    return call;
}

void SetField(IdCardRecord& record, int index, const QString& text) {
    for (qsizetype i = 0; i < text.size() && i < IdCardRecord::kFieldUnits - 1; ++i)
        record.fields[index][i] = text[i].unicode();
}

TEST(EscapingRoundTripTest, CameraValuesArriveExactly) {
    const QStringList texts = HostileTexts();
    std::vector<CameraList> lists;
    QStringList scripts;
    for (const QString& text : texts) {
        // The three positions get different texts so a value cannot leak into its neighbour.
        const std::string value = text.toStdString();
        lists.push_back({{value, "n" + value, value + "d"}, {"second", value, ""}});
        scripts << QString::fromStdString(VCamListAnswer(lists.back()));
    }
    // Invalid UTF-8 from a driver: the page gets Qt's decoding with U+FFFD, deterministically.
    for (const char* raw : {"\xFF", "a\xC0\xAF", "\xED\xA0\x80", "\xE4\xB8", "\xF4\x90\x80\x80"}) {
        lists.push_back({{raw, raw, raw}});
        scripts << QString::fromStdString(VCamListAnswer(lists.back()));
    }
    lists.push_back({});
    scripts << QString::fromStdString(VCamListAnswer(lists.back()));

    const QJsonArray reports = RunAnswers(scripts);
    ASSERT_EQ(reports.size(), scripts.size());
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        EXPECT_FALSE(scripts[i].contains("</")) << scripts[i].toStdString();
        const QJsonObject call = SingleCall(reports[i], "OnVCamList", scripts[i]);
        EXPECT_EQ(call["keys"].toArray(), QJsonArray{"video"});
        const QJsonArray video = call["video"].toArray();
        const CameraList& list = lists[i];
        ASSERT_EQ(video.size(), qsizetype(list.size())) << scripts[i].toStdString();
        if (!list.empty()) {
            EXPECT_EQ(call["cameraKeys"].toArray(), (QJsonArray{"devid", "name", "desc"}));
        }
        for (size_t c = 0; c < list.size(); ++c) {
            const QJsonArray got = video[c].toArray();
            EXPECT_EQ(Units(got[0]), Units(QString::fromStdString(list[c].devid)));
            EXPECT_EQ(Units(got[1]), Units(QString::fromStdString(list[c].name)));
            EXPECT_EQ(Units(got[2]), Units(QString::fromStdString(list[c].desc)));
        }
    }
}

TEST(EscapingRoundTripTest, RemoteFlagArrivesAsANumber) {
    const QJsonArray reports = RunAnswers({QString::fromStdString(RemoteLoginAnswer(true)),
                                           QString::fromStdString(RemoteLoginAnswer(false))});
    ASSERT_EQ(reports.size(), 2);
    const QJsonValue yes = SingleCall(reports[0], "OnIsRemoteLogin", "")["isRemoteLogin"];
    const QJsonValue no = SingleCall(reports[1], "OnIsRemoteLogin", "")["isRemoteLogin"];
    EXPECT_TRUE(yes.isDouble());
    EXPECT_EQ(yes.toInt(), 1);
    EXPECT_TRUE(no.isDouble());
    EXPECT_EQ(no.toInt(), 0);
}

TEST(EscapingRoundTripTest, ClientInfoArrivesExactlyWithItsTypes) {
    std::vector<ClientInfo> infos;
    QStringList scripts;
    bool flip = false;
    for (const QString& text : HostileTexts()) {
        const std::string value = text.toStdString();
        flip = !flip;
        infos.push_back({value,
                         "p" + value,
                         flip,
                         !flip,
                         flip ? 2 : 0,
                         value + "vm",
                         flip,
                         {value, "OBS"},
                         "k" + value});
        scripts << QString::fromStdString(ClientInfoAnswer(infos.back()));
    }
    const QJsonArray reports = RunAnswers(scripts);
    ASSERT_EQ(reports.size(), scripts.size());
    auto units = [](const std::string& s) { return Units(QString::fromStdString(s)); };
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        const ClientInfo& info = infos[size_t(i)];
        const QJsonObject call = SingleCall(reports[i], "OnClientInfo", scripts[i]);
        EXPECT_EQ(call["keys"].toArray(),
                  (QJsonArray{"version", "platform", "lockAvailable", "locked", "displays",
                              "virtualMachine", "remoteSession", "screenCapture", "requestKey"}));
        const QJsonObject got = call["info"].toObject();
        EXPECT_EQ(Units(got["version"]), units(info.version));
        EXPECT_EQ(Units(got["platform"]), units(info.platform));
        EXPECT_EQ(got["lockAvailable"], QJsonValue(info.lockAvailable));
        EXPECT_EQ(got["locked"], QJsonValue(info.locked));
        EXPECT_EQ(got["displays"], QJsonValue(info.displays));
        EXPECT_EQ(Units(got["virtualMachine"]), units(info.virtualMachine));
        EXPECT_EQ(got["remoteSession"], QJsonValue(info.remoteSession));
        const QJsonArray capture = got["screenCapture"].toArray();
        ASSERT_EQ(capture.size(), 2);
        EXPECT_EQ(Units(capture[0]), units(info.screenCapture[0]));
        EXPECT_EQ(Units(capture[1]), units("OBS"));
        EXPECT_EQ(Units(got["requestKey"]), units(info.requestKey));
    }
}

TEST(EscapingRoundTripTest, CardTextAndErrorTextArriveExactly) {
    const QStringList texts = HostileTexts();
    QStringList scripts;
    std::vector<QString> expected;
    for (const QString& text : texts) {
        IdCardRecord record;
        for (int field : {1, 2, 3, 4, 5, 6, 8, 9, 10, 11})
            SetField(record, field, text + QString::number(field));
        scripts << IdCardAnswer(record);
        const QString t = text.left(IdCardRecord::kFieldUnits - 1);
        auto f = [&](int field) { return (t + QString::number(field)).left(255); };
        expected.push_back("{PeopleIDCode:" + f(6) + ",PeopleName:" + f(1) + ",PeopleSex:" + f(2) +
                           ",PeopleNation:" + f(3) + ",PeopleBirthday:" + f(4) +
                           ",PeopleAddress:" + f(5) + ",NationCode:" + f(10) +
                           ",StartDate:" + f(8) + ", EndDate:" + f(9) + ", Pic:" + f(11) + "}");
    }
    const qsizetype cards = scripts.size();
    for (const QString& text : texts) {
        CardErrorText error{};
        for (qsizetype i = 0; i < text.size() && i < 255; ++i)
            error[i] = text[i].unicode();
        scripts << ErrorAnswer(error);
        expected.push_back(text.left(255));
    }

    const QJsonArray reports = RunAnswers(scripts);
    ASSERT_EQ(reports.size(), scripts.size());
    for (qsizetype i = 0; i < scripts.size(); ++i) {
        EXPECT_FALSE(scripts[i].contains("</")) << scripts[i].toStdString();
        const QJsonObject call =
            SingleCall(reports[i], i < cards ? "ShowIdCard" : "ShowError", scripts[i]);
        EXPECT_EQ(Units(call["arg"]), Units(expected[i])) << scripts[i].toStdString();
    }
}

}  // namespace
