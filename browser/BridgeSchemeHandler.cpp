#include "browser/BridgeSchemeHandler.h"

#include "browser/bridge/PageRequest.h"
#include "common/Logging.h"

#include <QBuffer>
#include <QTimer>
#include <QWebEngineUrlRequestJob>

namespace vorn {

CBridgeSchemeHandler::CBridgeSchemeHandler(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent),
      m_sequencer([this](const QStringList& args) { Deliver(args); }),
      m_flushTimer(new QTimer(this)) {
    m_flushTimer->setInterval(100);
    connect(m_flushTimer, &QTimer::timeout, this, &CBridgeSchemeHandler::FlushStale);
}

CBridgeSchemeHandler::~CBridgeSchemeHandler() = default;

void CBridgeSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const std::optional<QList<vorn::bridge::BridgeCall>> calls =
        vorn::bridge::ParseBridgeCalls(job->requestUrl());
    if (!calls) {
        qCDebug(lcBridge) << "malformed bridge request" << job->requestUrl().toString().left(200);
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    // The page never reads the reply; an empty body ends its request at once.
    auto* body = new QBuffer(job);
    body->open(QIODevice::ReadOnly);
    job->reply(QByteArrayLiteral("text/plain"), body);
    const auto now = vorn::bridge::CallSequencer::Clock::now();
    for (const vorn::bridge::BridgeCall& call : *calls)
        m_sequencer.Accept(call, now);
    if (m_sequencer.HasWaiting() && !m_flushTimer->isActive())
        m_flushTimer->start();
}

void CBridgeSchemeHandler::FlushStale() {
    m_sequencer.FlushStale(vorn::bridge::CallSequencer::Clock::now());
    if (!m_sequencer.HasWaiting())
        m_flushTimer->stop();
}

void CBridgeSchemeHandler::Deliver(const QStringList& args) {
    qCDebug(lcBridge) << "page request" << args;
    if (m_target)
        m_target->Handle(args);
}

}  // namespace vorn
