#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QUrl;

namespace vorn::bridge {

// One call of the page script, as it travels over the bridge's transport:
//   vornbridge://call/?d=<document>&s=<sequence>&a=<JSON array of texts>
struct BridgeCall {
    QString document;     // the page's per-document token, 1..kMaxDocumentLength characters
    qint64 sequence = 0;  // 1, 2, 3 ... within one document
    QStringList args;     // args[0] the function name, then at most kMaxArgs - 1 texts
};

inline constexpr int kMaxDocumentLength = 64;
inline constexpr int kMaxArgs = 8;
// The page counts in JavaScript numbers; above this they are no longer exact, and a sequencer
// adding one to a larger number could overflow.
inline constexpr qint64 kMaxSequence = (qint64{1} << 53) - 1;

// Nothing for anything that is not a well-formed call. Pure; any thread.
std::optional<BridgeCall> ParseBridgeCall(const QUrl& url);

}  // namespace vorn::bridge
