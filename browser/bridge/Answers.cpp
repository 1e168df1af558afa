#include "browser/bridge/Answers.h"

#include "browser/bridge/JsEscape.h"

namespace vorn {
namespace {

// A zero-terminated UTF-16 field that may fill its whole block without the terminator.
QString FieldText(const char16_t* units, qsizetype capacity) {
    qsizetype length = 0;
    while (length < capacity && units[length] != 0)
        ++length;
    return QString(reinterpret_cast<const QChar*>(units), length);
}

QString CardField(const IdCardRecord& record, int index) {
    return FieldText(record.fields[index], IdCardRecord::kFieldUnits);
}

}  // namespace

std::string VCamListAnswer(const CameraList& cameras) {
    std::string json = "{\"video\":[";
    bool first = true;
    for (const CameraInfo& camera : cameras) {
        if (!first)
            json += ',';
        first = false;
        json += "{\"devid\":\"" + JsonStringContent(camera.devid) + "\",\"name\":\"" +
                JsonStringContent(camera.name) + "\",\"desc\":\"" + JsonStringContent(camera.desc) +
                "\"}";
    }
    json += "]}";
    return "OnVCamList('" + JsStringLiteralContent(json, JsQuote::Single) + "');";
}

std::string RemoteLoginAnswer(bool remoteToolRunning) {
    const std::string json =
        std::string("{\"isRemoteLogin\":") + (remoteToolRunning ? "1" : "0") + "}";
    return "OnIsRemoteLogin('" + JsStringLiteralContent(json, JsQuote::Single) + "');";
}

std::string ClientInfoAnswer(const ClientInfo& info) {
    auto text = [](const std::string& value) { return '"' + JsonStringContent(value) + '"'; };
    auto flag = [](bool value) { return std::string(value ? "true" : "false"); };
    std::string capture = "[";
    for (size_t i = 0; i < info.screenCapture.size(); ++i)
        capture += (i ? "," : "") + text(info.screenCapture[i]);
    capture += ']';
    const std::string json =
        "{\"version\":" + text(info.version) + ",\"platform\":" + text(info.platform) +
        ",\"lockAvailable\":" + flag(info.lockAvailable) + ",\"locked\":" + flag(info.locked) +
        ",\"displays\":" + std::to_string(info.displays) +
        ",\"virtualMachine\":" + text(info.virtualMachine) +
        ",\"remoteSession\":" + flag(info.remoteSession) + ",\"screenCapture\":" + capture +
        ",\"requestKey\":" + text(info.requestKey) + "}";
    return "OnClientInfo('" + JsStringLiteralContent(json, JsQuote::Single) + "');";
}

QString IdCardAnswer(const IdCardRecord& record) {
    // The card text is not JSON: its values stand unquoted, so they are inserted as they are
    // and only the whole text is escaped for the script.
    // Concatenated, not formatted with QString::arg, so that a "%1" inside a value stays text.
    const QString card =
        QStringLiteral("{PeopleIDCode:") + CardField(record, 6) + QStringLiteral(",PeopleName:") +
        CardField(record, 1) + QStringLiteral(",PeopleSex:") + CardField(record, 2) +
        QStringLiteral(",PeopleNation:") + CardField(record, 3) +
        QStringLiteral(",PeopleBirthday:") + CardField(record, 4) +
        QStringLiteral(",PeopleAddress:") + CardField(record, 5) + QStringLiteral(",NationCode:") +
        CardField(record, 10) + QStringLiteral(",StartDate:") + CardField(record, 8) +
        QStringLiteral(", EndDate:") + CardField(record, 9) + QStringLiteral(", Pic:") +
        CardField(record, 11) + QStringLiteral("}");
    return QStringLiteral("ShowIdCard(\"") + JsStringLiteralContent(card, JsQuote::Double) +
           QStringLiteral("\");");
}

QString ErrorAnswer(const CardErrorText& error) {
    const QString text = FieldText(error.data(), static_cast<qsizetype>(error.size()));
    return QStringLiteral("ShowError(\"") + JsStringLiteralContent(text, JsQuote::Double) +
           QStringLiteral("\");");
}

}  // namespace vorn
