#include "browser/bridge/BridgeCall.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

namespace vorn::bridge {

namespace {

std::optional<QStringList> ParseArgs(const QString& text) {
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !parsed.isArray())
        return std::nullopt;
    const QJsonArray array = parsed.array();
    if (array.isEmpty() || array.size() > kMaxArgs)
        return std::nullopt;
    QStringList args;
    args.reserve(array.size());
    for (const QJsonValue& value : array) {
        if (!value.isString())
            return std::nullopt;
        args.append(value.toString());
    }
    return args;
}

}  // namespace

std::optional<QList<BridgeCall>> ParseBridgeCalls(const QUrl& url) {
    if (url.host() != QLatin1String("call"))
        return std::nullopt;
    const QUrlQuery query(url);
    const QString document = query.queryItemValue(QStringLiteral("d"), QUrl::FullyDecoded);
    bool ok = false;
    const qint64 first = query.queryItemValue(QStringLiteral("s")).toLongLong(&ok);
    if (!ok || first < 1 || first > kMaxSequence || document.isEmpty() ||
        document.size() > kMaxDocumentLength)
        return std::nullopt;
    const QStringList texts = query.allQueryItemValues(QStringLiteral("a"), QUrl::FullyDecoded);
    // The last call's number must stay within the page's exact numbers too; first is at most
    // kMaxSequence, so the subtraction cannot overflow.
    if (texts.isEmpty() || texts.size() > kMaxCallsPerRequest ||
        texts.size() - 1 > kMaxSequence - first)
        return std::nullopt;
    QList<BridgeCall> calls;
    calls.reserve(texts.size());
    for (const QString& text : texts) {
        std::optional<QStringList> args = ParseArgs(text);
        if (!args)
            return std::nullopt;
        calls.append(BridgeCall{document, first + calls.size(), std::move(*args)});
    }
    return calls;
}

}  // namespace vorn::bridge
