#pragma once

#include <QHash>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QWebEngineUrlSchemeHandler>

#include <chrono>

class IBridgeTarget;
class QTimer;

// The browser side of the page bridge's transport. The page script sends every call as an
// asynchronous request vornbridge://call/?d=<document>&s=<sequence>&a=<JSON array of texts>;
// requests of one document are carried out in sequence order even if the engine delivers them
// out of order. Lives on the main thread, where the engine calls it.
class CBridgeSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    explicit CBridgeSchemeHandler(QObject* parent = nullptr);
    ~CBridgeSchemeHandler() override;

    // Where decoded requests go; not owned. Without a target requests are answered and dropped.
    void SetTarget(IBridgeTarget* target) { m_target = target; }

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // Parses the request URL; false for anything that is not a well-formed bridge call.
    static bool ParseRequest(const QUrl& url, QString* document, qint64* sequence, QStringList* args);

    // Feeds one parsed call through the re-ordering; public for tests.
    void Accept(const QString& document, qint64 sequence, const QStringList& args);

private:
    struct Document {
        qint64 next = 1;
        QMap<qint64, QStringList> waiting;
        std::chrono::steady_clock::time_point waitingSince;
    };
    void Deliver(const QStringList& args);
    void FlushStale();

    IBridgeTarget* m_target = nullptr;
    QHash<QString, Document> m_documents;
    QTimer* m_flushTimer = nullptr;
};
