#pragma once

#include "browser/bridge/BridgeCall.h"

#include <QWebEngineUrlSchemeHandler>

class QTimer;

namespace vorn {

class PageBridge;

// The engine's end of the page bridge's transport: each vornbridge://call/ request is parsed into
// its calls, answered with an empty body at once, and its calls are handed in order to the
// re-ordering (both in bridge/BridgeCall.h); calls come out in the page's order and go to the
// page bridge. Lives on the main thread, where the engine calls it.
class CBridgeSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    explicit CBridgeSchemeHandler(QObject* parent = nullptr);
    ~CBridgeSchemeHandler() override;

    // Where decoded requests go; not owned. Without one requests are answered and dropped.
    void SetTarget(vorn::PageBridge* bridge) { m_target = bridge; }

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    void Deliver(const QStringList& args);
    void FlushStale();

    vorn::PageBridge* m_target = nullptr;
    vorn::bridge::CallSequencer m_sequencer;
    QTimer* m_flushTimer = nullptr;
};

}  // namespace vorn
