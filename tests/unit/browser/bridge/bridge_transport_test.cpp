#include "browser/bridge/BridgeCall.h"
#include "browser/bridge/CallSequencer.h"
#include "browser/bridge/PageRequest.h"

#include <QUrl>

#include <gtest/gtest.h>

using vorn::bridge::BridgeCall;
using vorn::bridge::CallSequencer;
using vorn::bridge::ParseBridgeCall;
using namespace std::chrono_literals;

namespace {

struct Recorder : vorn::PageActions {
    QStringList calls;
    void SetLockState(vorn::LockState state) override {
        calls << (state == vorn::LockState::Locked ? "lock" : "unlock");
    }
    void SaveCardPort(int port) override { calls << QStringLiteral("port %1").arg(port); }
    void StartCardReading(vorn::CardMode mode) override {
        calls << (mode == vorn::CardMode::Continuous ? "read continuous" : "read once");
    }
    void StopCardReading() override { calls << "stop"; }
    void StartModelUpdate() override { calls << "update"; }
    void AnswerCameraList() override { calls << "cameras"; }
    void AnswerRemoteLogin() override { calls << "remote login"; }
    void AnswerClientInfo() override { calls << "client info"; }
};

// The sequencer feeding the page-request table, as the engine's scheme handler wires it, with a
// clock the test moves by hand.
struct Transport {
    Recorder target;
    CallSequencer sequencer{
        [this](const QStringList& args) { vorn::DispatchPageRequest(args, target); }};
    CallSequencer::Clock::time_point now{};

    void Accept(const char* document, qint64 sequence, const QStringList& args) {
        sequencer.Accept(BridgeCall{document, sequence, args}, now);
    }
    void Advance(std::chrono::milliseconds by) {
        now += by;
        sequencer.FlushStale(now);
    }
};

QUrl CallUrl(const char* query, const char* json) {
    return QUrl(QStringLiteral("vornbridge://call/?") + query +
                "&a=" + QUrl::toPercentEncoding(json));
}

}  // namespace

TEST(BridgeRequest, ParsesWellFormedCalls) {
    const std::optional<BridgeCall> call =
        ParseBridgeCall(CallUrl("d=ab12&s=3", R"(["LockApp","1"])"));
    ASSERT_TRUE(call);
    EXPECT_EQ(call->document, "ab12");
    EXPECT_EQ(call->sequence, 3);
    EXPECT_EQ(call->args, QStringList({"LockApp", "1"}));

    // Texts with reserved characters survive the URL.
    const std::optional<BridgeCall> hostile =
        ParseBridgeCall(CallUrl("d=x&s=1", R"(["Init","3&s=9\"'+%中"])"));
    ASSERT_TRUE(hostile);
    EXPECT_EQ(hostile->sequence, 1);
    EXPECT_EQ(hostile->args.value(1), QString::fromUtf8("3&s=9\"'+%中"));
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
        EXPECT_FALSE(ParseBridgeCall(QUrl(bad))) << bad;
    }
}

TEST(BridgeOrdering, CallsOfOneDocumentRunInSequenceOrder) {
    Transport t;
    t.Accept("d1", 2, {"GetVCamList"});
    t.Accept("d1", 3, {"LockApp", "1"});
    EXPECT_TRUE(t.target.calls.isEmpty());
    t.Accept("d2", 1, {"Close"});  // another document does not wait for d1
    t.Accept("d1", 1, {"Update"});
    t.Accept("d1", 1, {"Update"});  // a repeat is not carried out twice
    EXPECT_EQ(t.target.calls, QStringList({"stop", "update", "cameras", "lock"}));
}

TEST(BridgeOrdering, AGapDoesNotStallTheDocumentForGood) {
    Transport t;
    t.Accept("d", 1, {"Close"});
    t.Accept("d", 3, {"Update"});  // 2 never arrives
    EXPECT_EQ(t.target.calls.size(), 1);
    t.Advance(CallSequencer::kGapLimit - 1ms);
    EXPECT_EQ(t.target.calls.size(), 1);
    t.Advance(1ms);
    ASSERT_EQ(t.target.calls.size(), 2);
    EXPECT_FALSE(t.sequencer.HasWaiting());
    t.Accept("d", 4, {"Close"});
    EXPECT_EQ(t.target.calls.size(), 3);
}

// A call held behind two gaps in turn is not held for twice the limit: its wait counts from its
// own arrival, not from the moment the first gap was filled.
TEST(BridgeOrdering, TheGapLimitCountsFromEachCallsArrival) {
    Transport t;
    t.Accept("d", 4, {"Update"});
    t.Advance(400ms);
    t.Accept("d", 1, {"Close"});  // fills the first gap; 2 and 3 are still missing
    t.Advance(CallSequencer::kGapLimit - 400ms);
    EXPECT_EQ(t.target.calls, QStringList({"stop", "update"}));
}
