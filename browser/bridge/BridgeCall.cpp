#include "browser/bridge/BridgeCall.h"

#include "common/Logging.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

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

CallSequencer::CallSequencer(Deliver deliver) : m_deliver(std::move(deliver)) {}

void CallSequencer::Accept(const BridgeCall& call, Clock::time_point now) {
    if (!m_documents.contains(call.document) && m_documents.size() >= kMaxDocuments) {
        // Drop documents with nothing waiting first; they are pages long gone.
        for (auto it = m_documents.begin(); it != m_documents.end();) {
            if (it->waiting.isEmpty())
                it = m_documents.erase(it);
            else
                ++it;
        }
    }
    Document& doc = m_documents[call.document];
    if (call.sequence < doc.next || doc.waiting.contains(call.sequence)) {
        qCDebug(lcBridge) << "duplicate bridge call" << call.sequence << "ignored";
        return;
    }
    if (call.sequence > doc.next) {
        doc.waiting.insert(call.sequence, Held{call.args, now});
        if (doc.waiting.size() > kMaxWaiting)
            FlushAll(doc);
        return;
    }
    m_deliver(call.args);
    ++doc.next;
    DeliverRun(doc);
}

void CallSequencer::FlushStale(Clock::time_point now) {
    for (Document& doc : m_documents) {
        if (doc.waiting.isEmpty() || now - OldestArrival(doc) < kGapLimit)
            continue;
        qCDebug(lcBridge) << "bridge call" << doc.next << "never arrived; going on";
        FlushAll(doc);
    }
}

bool CallSequencer::HasWaiting() const {
    return std::any_of(m_documents.cbegin(), m_documents.cend(),
                       [](const Document& doc) { return !doc.waiting.isEmpty(); });
}

void CallSequencer::DeliverRun(Document& doc) {
    while (!doc.waiting.isEmpty() && doc.waiting.firstKey() == doc.next) {
        m_deliver(doc.waiting.take(doc.next).args);
        ++doc.next;
    }
}

void CallSequencer::FlushAll(Document& doc) {
    while (!doc.waiting.isEmpty()) {
        const qint64 sequence = doc.waiting.firstKey();
        m_deliver(doc.waiting.take(sequence).args);
        doc.next = sequence + 1;
    }
}

// Each held call counts its own wait: a call that was already waiting behind one gap does not
// start again from zero when that gap is filled and the next one shows.
CallSequencer::Clock::time_point CallSequencer::OldestArrival(const Document& doc) {
    Clock::time_point oldest = Clock::time_point::max();
    for (const Held& held : doc.waiting)
        oldest = std::min(oldest, held.since);
    return oldest;
}

}  // namespace vorn::bridge
