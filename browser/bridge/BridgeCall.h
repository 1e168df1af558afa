#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

class QUrl;

// The page's calls on their way in: decoding a bridge request into its calls, then carrying
// them out in the page's order.
namespace vorn::bridge {

// The calls of one script task travel together, in call order, in one request:
//   vornbridge://call/?d=<document>&s=<first sequence>&a=<JSON array of texts>&a=<...>...
// Each `a` is one call; the first carries sequence s, the next s + 1, and so on. Fewer requests
// is the point: the engine's own handling of each custom-scheme request on its UI thread costs far
// more than our handling of the calls in it.
struct BridgeCall {
    QString document;     // the page's per-document token, 1..kMaxDocumentLength characters
    qint64 sequence = 0;  // 1, 2, 3 ... within one document
    QStringList args;     // args[0] the function name, then at most kMaxArgs - 1 texts
};

inline constexpr int kMaxDocumentLength = 64;
inline constexpr int kMaxArgs = 8;
// The page script sends at most this many calls in one request (bridge.js holds the same
// number). Well below CallSequencer::kMaxWaiting, so that several requests that overtake an
// earlier one are still held and re-ordered rather than pushed through the gap.
inline constexpr int kMaxCallsPerRequest = 64;
// The page counts in JavaScript numbers; above this they are no longer exact, and a sequencer
// adding one to a larger number could overflow.
inline constexpr qint64 kMaxSequence = (qint64{1} << 53) - 1;

// The calls of one request, sequences counted on from the first; nothing for anything that is
// not a well-formed request, and nothing at all when one of its calls is malformed. Pure; any
// thread.
std::optional<QList<BridgeCall>> ParseBridgeCalls(const QUrl& url);

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
