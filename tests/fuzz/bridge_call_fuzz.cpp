// libFuzzer target: the page bridge's transport, the input a page controls. An input whose first
// byte is even is a request URL (any bytes): parsing must not crash and anything accepted must be
// within the request's and each call's limits, its calls numbered on without a gap. An odd first
// byte makes the rest a script for the re-ordering: calls of a few documents in any interleaving,
// with the clock moved in between. Every call must come out at most once, in sequence order per
// document, without waiting when nothing is missing, and none may be held for the gap limit or
// longer.
#include "browser/bridge/BridgeCall.h"

#include <QUrl>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>

using vorn::bridge::BridgeCall;
using vorn::bridge::CallSequencer;

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void FuzzUrl(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QByteArray& text : {bytes, QByteArray("vornbridge://call/?") + bytes}) {
        const std::optional<QList<BridgeCall>> calls =
            vorn::bridge::ParseBridgeCalls(QUrl(QString::fromUtf8(text)));
        if (!calls)
            continue;
        Check(!calls->isEmpty() && calls->size() <= vorn::bridge::kMaxCallsPerRequest);
        for (const BridgeCall& call : *calls) {
            Check(!call.document.isEmpty() &&
                  call.document.size() <= vorn::bridge::kMaxDocumentLength);
            Check(call.document == calls->first().document);
            Check(call.sequence == calls->first().sequence + (&call - calls->data()));
            Check(call.sequence >= 1 && call.sequence <= vorn::bridge::kMaxSequence);
            Check(!call.args.isEmpty() && call.args.size() <= vorn::bridge::kMaxArgs);
        }
    }
}

// What the sequencer must be doing, kept independently of it.
struct Model {
    struct Pending {
        CallSequencer::Clock::time_point since;
    };
    std::map<int, qint64> lastDelivered;               // per document
    std::map<int, std::map<qint64, Pending>> pending;  // per document: held calls
    CallSequencer::Clock::time_point now{};

    void Delivered(const QStringList& args) {
        Check(args.size() == 2);
        const int doc = args[0].toInt();
        const qint64 seq = args[1].toLongLong();
        Check(seq > lastDelivered[doc]);      // in order, never twice
        Check(pending[doc].erase(seq) == 1);  // only what was accepted and not yet delivered
        lastDelivered[doc] = seq;
    }
    void CheckHeld(const CallSequencer& sequencer) const {
        bool any = false;
        for (const auto& [doc, held] : pending) {
            if (held.empty())
                continue;
            any = true;
            const qint64 last = lastDelivered.count(doc) ? lastDelivered.at(doc) : 0;
            Check(held.begin()->first > last + 1);  // nothing held while its turn has come
            for (const auto& [seq, p] : held)
                Check(now - p.since < CallSequencer::kGapLimit);
        }
        Check(sequencer.HasWaiting() == any);
    }
};

void FuzzSequencer(FuzzedDataProvider& input) {
    Model model;
    CallSequencer sequencer([&model](const QStringList& args) { model.Delivered(args); });
    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        if (op < 48) {
            model.now += std::chrono::milliseconds(input.ConsumeIntegralInRange<int>(0, 700));
            sequencer.FlushStale(model.now);
        } else {
            // Fewer documents than the sequencer keeps, so none is forgotten mid-run.
            const int doc = op % 8;
            const qint64 last = model.lastDelivered[doc];
            if (last >= vorn::bridge::kMaxSequence)
                continue;
            qint64 seq;
            switch (input.ConsumeIntegralInRange<int>(0, 7)) {
                case 0:  // a repeat or an old number
                    seq = input.ConsumeIntegralInRange<qint64>(1, last + 1);
                    break;
                case 1:  // far ahead, up to the largest number a page can send
                    seq =
                        input.ConsumeIntegralInRange<qint64>(last + 1, vorn::bridge::kMaxSequence);
                    break;
                default:
                    seq = last + 1 + input.ConsumeIntegralInRange<qint64>(0, 300);
                    break;
            }
            if (seq > vorn::bridge::kMaxSequence)
                continue;
            auto& held = model.pending[doc];
            if (seq > last && !held.count(seq))
                held[seq] = {model.now};
            sequencer.Accept(
                BridgeCall{QString::number(doc), seq, {QString::number(doc), QString::number(seq)}},
                model.now);
        }
        model.CheckHeld(sequencer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    if ((data[0] & 1) == 0) {
        FuzzUrl(data + 1, size - 1);
    } else {
        FuzzedDataProvider input(data + 1, size - 1);
        FuzzSequencer(input);
    }
    return 0;
}
