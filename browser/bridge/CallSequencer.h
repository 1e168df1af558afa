#pragma once

#include "browser/bridge/BridgeCall.h"

#include <QHash>
#include <QMap>

#include <chrono>
#include <functional>

namespace vorn::bridge {

// Carries out the calls of each document in sequence order although the engine may deliver the
// requests out of order. The caller supplies the time with every step (the clock is injected),
// so the re-ordering is tested and fuzzed without waiting. One thread; not thread-safe.
class CallSequencer {
public:
    using Clock = std::chrono::steady_clock;
    using Deliver = std::function<void(const QStringList& args)>;

    // A call that waits this long for an earlier one (lost with a cancelled request, for
    // instance) is carried out anyway: the page must not stall for good because of one gap.
    static constexpr std::chrono::milliseconds kGapLimit{500};
    // A page flooding the bridge cannot grow one document's buffer without bound.
    static constexpr int kMaxWaiting = 256;
    // Documents are forgotten after navigation; keep the table small all the same.
    static constexpr int kMaxDocuments = 64;

    explicit CallSequencer(Deliver deliver);

    // Delivers the call now if it is the next of its document (and any waiting successors),
    // holds it if an earlier one is missing, drops it if it was seen before.
    void Accept(const BridgeCall& call, Clock::time_point now);

    // Delivers, in order, every call of a document whose oldest waiting call has waited
    // kGapLimit or longer, skipping the gaps.
    void FlushStale(Clock::time_point now);

    // True while some call is held; the owner polls FlushStale until it is false.
    bool HasWaiting() const;

private:
    struct Held {
        QStringList args;
        Clock::time_point since;
    };
    struct Document {
        qint64 next = 1;
        QMap<qint64, Held> waiting;
    };
    void DeliverRun(Document& doc);
    void FlushAll(Document& doc);
    static Clock::time_point OldestArrival(const Document& doc);

    Deliver m_deliver;
    QHash<QString, Document> m_documents;
};

}  // namespace vorn::bridge
