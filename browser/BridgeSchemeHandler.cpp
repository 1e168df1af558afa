#include "browser/BridgeSchemeHandler.h"

#include "browser/bridge/BridgeTarget.h"
#include "browser/bridge/PageRequest.h"
#include "platform/Logging.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEngineUrlRequestJob>

namespace {

// A call that waits this long for an earlier one (lost with a cancelled request, for instance)
// is carried out anyway: the page must not stall for good because of one gap.
constexpr auto kMaxWait = std::chrono::milliseconds(500);
// A page flooding the bridge cannot grow the buffer without bound.
constexpr int kMaxWaiting = 256;
// Documents are forgotten after navigation; keep the table small all the same.
constexpr int kMaxDocuments = 64;

}  // namespace

CBridgeSchemeHandler::CBridgeSchemeHandler(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), m_flushTimer(new QTimer(this)) {
    m_flushTimer->setInterval(100);
    connect(m_flushTimer, &QTimer::timeout, this, &CBridgeSchemeHandler::FlushStale);
}

CBridgeSchemeHandler::~CBridgeSchemeHandler() = default;

bool CBridgeSchemeHandler::ParseRequest(const QUrl& url, QString* document, qint64* sequence,
                                        QStringList* args) {
    if (url.host() != QLatin1String("call"))
        return false;
    const QUrlQuery query(url);
    *document = query.queryItemValue(QStringLiteral("d"), QUrl::FullyDecoded);
    bool ok = false;
    *sequence = query.queryItemValue(QStringLiteral("s")).toLongLong(&ok);
    if (!ok || *sequence < 1 || document->isEmpty() || document->size() > 64)
        return false;
    const QByteArray json =
        query.queryItemValue(QStringLiteral("a"), QUrl::FullyDecoded).toUtf8();
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !parsed.isArray())
        return false;
    args->clear();
    const QJsonArray array = parsed.array();
    if (array.isEmpty() || array.size() > 8)
        return false;
    for (const QJsonValue& value : array) {
        if (!value.isString())
            return false;
        args->append(value.toString());
    }
    return true;
}

void CBridgeSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    QString document;
    qint64 sequence = 0;
    QStringList args;
    if (!ParseRequest(job->requestUrl(), &document, &sequence, &args)) {
        qCDebug(lcBridge) << "malformed bridge request" << job->requestUrl().toString().left(200);
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    // The page never reads the reply; an empty body ends its request at once.
    auto* body = new QBuffer(job);
    body->open(QIODevice::ReadOnly);
    job->reply(QByteArrayLiteral("text/plain"), body);
    Accept(document, sequence, args);
}

void CBridgeSchemeHandler::Accept(const QString& document, qint64 sequence,
                                  const QStringList& args) {
    if (!m_documents.contains(document) && m_documents.size() >= kMaxDocuments) {
        // Drop documents with nothing waiting first; they are pages long gone.
        for (auto it = m_documents.begin(); it != m_documents.end();) {
            if (it->waiting.isEmpty())
                it = m_documents.erase(it);
            else
                ++it;
        }
    }
    Document& doc = m_documents[document];
    if (sequence < doc.next) {
        qCDebug(lcBridge) << "duplicate bridge call" << sequence << "ignored";
        return;
    }
    if (sequence > doc.next) {
        if (doc.waiting.isEmpty())
            doc.waitingSince = std::chrono::steady_clock::now();
        doc.waiting.insert(sequence, args);
        if (doc.waiting.size() > kMaxWaiting)
            doc.waitingSince = {};  // flushed at the next tick
        m_flushTimer->start();
        return;
    }
    Deliver(args);
    ++doc.next;
    while (!doc.waiting.isEmpty() && doc.waiting.firstKey() == doc.next) {
        Deliver(doc.waiting.take(doc.next));
        ++doc.next;
    }
    if (!doc.waiting.isEmpty())
        doc.waitingSince = std::chrono::steady_clock::now();
}

void CBridgeSchemeHandler::FlushStale() {
    const auto now = std::chrono::steady_clock::now();
    bool anyWaiting = false;
    for (Document& doc : m_documents) {
        if (doc.waiting.isEmpty())
            continue;
        if (now - doc.waitingSince < kMaxWait) {
            anyWaiting = true;
            continue;
        }
        qCDebug(lcBridge) << "bridge call" << doc.next << "never arrived; going on";
        while (!doc.waiting.isEmpty()) {
            const qint64 sequence = doc.waiting.firstKey();
            Deliver(doc.waiting.take(sequence));
            doc.next = sequence + 1;
        }
    }
    if (!anyWaiting)
        m_flushTimer->stop();
}

void CBridgeSchemeHandler::Deliver(const QStringList& args) {
    qCDebug(lcBridge) << "page request" << args;
    if (m_target)
        DispatchPageRequest(args, *m_target);
}
