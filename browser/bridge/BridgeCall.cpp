#include "browser/bridge/BridgeCall.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

namespace vorn::bridge {

std::optional<BridgeCall> ParseBridgeCall(const QUrl& url) {
    if (url.host() != QLatin1String("call"))
        return std::nullopt;
    const QUrlQuery query(url);
    BridgeCall call;
    call.document = query.queryItemValue(QStringLiteral("d"), QUrl::FullyDecoded);
    bool ok = false;
    call.sequence = query.queryItemValue(QStringLiteral("s")).toLongLong(&ok);
    if (!ok || call.sequence < 1 || call.sequence > kMaxSequence || call.document.isEmpty() ||
        call.document.size() > kMaxDocumentLength)
        return std::nullopt;
    const QByteArray json = query.queryItemValue(QStringLiteral("a"), QUrl::FullyDecoded).toUtf8();
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !parsed.isArray())
        return std::nullopt;
    const QJsonArray array = parsed.array();
    if (array.isEmpty() || array.size() > kMaxArgs)
        return std::nullopt;
    for (const QJsonValue& value : array) {
        if (!value.isString())
            return std::nullopt;
        call.args.append(value.toString());
    }
    return call;
}

}  // namespace vorn::bridge
