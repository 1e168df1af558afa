#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QUrl;

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

}  // namespace vorn::bridge
