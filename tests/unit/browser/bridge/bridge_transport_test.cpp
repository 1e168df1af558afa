#include "RecordingServices.h"

#include "browser/bridge/BridgeCall.h"

#include <QUrl>

#include <gtest/gtest.h>

using vorn::bridge::BridgeCall;
using vorn::bridge::CallSequencer;
using vorn::bridge::ParseBridgeCalls;
using namespace std::chrono_literals;

namespace {

// The sequencer feeding the page-request table, as the engine's scheme handler wires it, with a
// clock the test moves by hand.
struct Transport {
    vorntest::RecordingBridge page;
    QStringList& calls = page.services.calls;
    CallSequencer sequencer{[this](const QStringList& args) { page.bridge.Handle(args); }};
    CallSequencer::Clock::time_point now{};

    void Accept(const char* document, qint64 sequence, const QStringList& args) {
        sequencer.Accept(BridgeCall{document, sequence, args}, now);
    }
    void Advance(std::chrono::milliseconds by) {
        now += by;
        sequencer.FlushStale(now);
    }
};

// A request as the page script sends it: the query, then one `a` per call.
QUrl CallUrl(const QString& query, const QList<QByteArray>& calls) {
    QString url = QStringLiteral("vornbridge://call/?") + query;
    for (const QByteArray& json : calls)
        url += "&a=" + QUrl::toPercentEncoding(QString::fromUtf8(json));
    return QUrl(url);
}

// The one call of a request, or nothing.
std::optional<BridgeCall> ParseOne(const QUrl& url) {
    const std::optional<QList<BridgeCall>> calls = ParseBridgeCalls(url);
    if (!calls || calls->size() != 1)
        return std::nullopt;
    return calls->first();
}

}  // namespace

TEST(BridgeRequest, ParsesWellFormedCalls) {
    const std::optional<BridgeCall> call = ParseOne(CallUrl("d=ab12&s=3", {R"(["LockApp","1"])"}));
    ASSERT_TRUE(call);
    EXPECT_EQ(call->document, "ab12");
    EXPECT_EQ(call->sequence, 3);
    EXPECT_EQ(call->args, QStringList({"LockApp", "1"}));

    // Texts with reserved characters survive the URL.
    const std::optional<BridgeCall> hostile =
        ParseOne(CallUrl("d=x&s=1", {R"(["Init","3&s=9\"'+%中&a=[\"Close\"]"])"}));
    ASSERT_TRUE(hostile);
    EXPECT_EQ(hostile->sequence, 1);
    EXPECT_EQ(hostile->args.value(1), QString::fromUtf8("3&s=9\"'+%中&a=[\"Close\"]"));
}

TEST(BridgeRequest, ABatchYieldsItsCallsNumberedOnInOrder) {
    const std::optional<QList<BridgeCall>> calls = ParseBridgeCalls(
        CallUrl("d=ab12&s=7", {R"(["LockApp","1"])", R"(["GetVCamList"])", R"(["Init",""])"}));
    ASSERT_TRUE(calls);
    ASSERT_EQ(calls->size(), 3);
    const QList<QStringList> args{{"LockApp", "1"}, {"GetVCamList"}, {"Init", ""}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls->at(i).document, "ab12");
        EXPECT_EQ(calls->at(i).sequence, 7 + i);
        EXPECT_EQ(calls->at(i).args, args[i]);
    }
    // As many calls as the page script may send at once, ending on the last exact number.
    const QList<QByteArray> full(vorn::bridge::kMaxCallsPerRequest, R"(["Update"])");
    const qint64 first = vorn::bridge::kMaxSequence - vorn::bridge::kMaxCallsPerRequest + 1;
    const std::optional<QList<BridgeCall>> fullBatch =
        ParseBridgeCalls(CallUrl(QStringLiteral("d=x&s=%1").arg(first), full));
    ASSERT_TRUE(fullBatch);
    EXPECT_EQ(fullBatch->last().sequence, vorn::bridge::kMaxSequence);
}

TEST(BridgeRequest, RefusesAnythingElse) {
    for (const char* bad : {
             "vornbridge://other/?d=a&s=1&a=%5B%22Update%22%5D",  // wrong host
             "vornbridge://call/?s=1&a=%5B%22Update%22%5D",       // no document
             "vornbridge://call/?d=a&s=0&a=%5B%22Update%22%5D",   // sequence starts at 1
             "vornbridge://call/?d=a&s=x&a=%5B%22Update%22%5D",   // not a number
             "vornbridge://call/?d=a&s=1&a=%7B%7D",               // not an array
             "vornbridge://call/?d=a&s=1&a=%5B%5D",               // empty
             "vornbridge://call/?d=a&s=1&a=%5B1%5D",              // not a text
             "vornbridge://call/?d=a&s=1&a=%5B%22Update%22",      // broken JSON
             // beyond the page's exact numbers: the next one after it would overflow
             "vornbridge://call/?d=a&s=9223372036854775807&a=%5B%22Update%22%5D",
         }) {
        EXPECT_FALSE(ParseBridgeCalls(QUrl(bad))) << bad;
    }
    // A batch is taken whole or not at all.
    const QList<QByteArray> tooMany(vorn::bridge::kMaxCallsPerRequest + 1, R"(["Update"])");
    EXPECT_FALSE(ParseBridgeCalls(CallUrl("d=a&s=1", tooMany)));
    const qint64 last = vorn::bridge::kMaxSequence;
    EXPECT_FALSE(ParseBridgeCalls(
        CallUrl(QStringLiteral("d=a&s=%1").arg(last), {R"(["Update"])", R"(["Close"])"})))
        << "the second call would pass the page's exact numbers";
    EXPECT_FALSE(
        ParseBridgeCalls(CallUrl("d=a&s=1", {R"(["Update"])", R"(["Close",1])", R"(["Init"])"})))
        << "one malformed call in a batch";
    EXPECT_FALSE(ParseBridgeCalls(QUrl("vornbridge://call/?d=a&s=1&a=%5B%22Update%22%5D&a=")))
        << "an empty call";
}

TEST(BridgeOrdering, CallsOfOneDocumentRunInSequenceOrder) {
    Transport t;
    t.Accept("d1", 2, {"GetVCamList"});
    t.Accept("d1", 3, {"LockApp", "1"});
    EXPECT_TRUE(t.calls.isEmpty());
    t.Accept("d2", 1, {"Close"});  // another document does not wait for d1
    t.Accept("d1", 1, {"Update"});
    t.Accept("d1", 1, {"Update"});  // a repeat is not carried out twice
    EXPECT_EQ(t.calls, QStringList({"stop", "update", "cameras", "lock"}));
}

TEST(BridgeOrdering, AGapDoesNotStallTheDocumentForGood) {
    Transport t;
    t.Accept("d", 1, {"Close"});
    t.Accept("d", 3, {"Update"});  // 2 never arrives
    EXPECT_EQ(t.calls.size(), 1);
    t.Advance(CallSequencer::kGapLimit - 1ms);
    EXPECT_EQ(t.calls.size(), 1);
    t.Advance(1ms);
    ASSERT_EQ(t.calls.size(), 2);
    EXPECT_FALSE(t.sequencer.HasWaiting());
    t.Accept("d", 4, {"Close"});
    EXPECT_EQ(t.calls.size(), 3);
}

// A call held behind two gaps in turn is not held for twice the limit: its wait counts from its
// own arrival, not from the moment the first gap was filled.
TEST(BridgeOrdering, TheGapLimitCountsFromEachCallsArrival) {
    Transport t;
    t.Accept("d", 4, {"Update"});
    t.Advance(400ms);
    t.Accept("d", 1, {"Close"});  // fills the first gap; 2 and 3 are still missing
    t.Advance(CallSequencer::kGapLimit - 400ms);
    EXPECT_EQ(t.calls, QStringList({"stop", "update"}));
}
