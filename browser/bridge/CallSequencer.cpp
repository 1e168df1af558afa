#include "browser/bridge/CallSequencer.h"

#include "common/Logging.h"

#include <algorithm>

namespace vorn::bridge {

CallSequencer::CallSequencer(Deliver deliver) : m_deliver(std::move(deliver)) {}

void CallSequencer::Accept(const BridgeCall& call, Clock::time_point now) {
    if (!m_documents.contains(call.document) && m_documents.size() >= kMaxDocuments) {
        // Drop documents with nothing waiting first; they are pages long gone.
        for (auto it = m_documents.begin(); it != m_documents.end();) {
            if (it->waiting.isEmpty())
                it = m_documents.erase(it);
            else
                ++it;
        }
    }
    Document& doc = m_documents[call.document];
    if (call.sequence < doc.next || doc.waiting.contains(call.sequence)) {
        qCDebug(lcBridge) << "duplicate bridge call" << call.sequence << "ignored";
        return;
    }
    if (call.sequence > doc.next) {
        doc.waiting.insert(call.sequence, Held{call.args, now});
        if (doc.waiting.size() > kMaxWaiting)
            FlushAll(doc);
        return;
    }
    m_deliver(call.args);
    ++doc.next;
    DeliverRun(doc);
}

void CallSequencer::FlushStale(Clock::time_point now) {
    for (Document& doc : m_documents) {
        if (doc.waiting.isEmpty() || now - OldestArrival(doc) < kGapLimit)
            continue;
        qCDebug(lcBridge) << "bridge call" << doc.next << "never arrived; going on";
        FlushAll(doc);
    }
}

bool CallSequencer::HasWaiting() const {
    return std::any_of(m_documents.cbegin(), m_documents.cend(),
                       [](const Document& doc) { return !doc.waiting.isEmpty(); });
}

void CallSequencer::DeliverRun(Document& doc) {
    while (!doc.waiting.isEmpty() && doc.waiting.firstKey() == doc.next) {
        m_deliver(doc.waiting.take(doc.next).args);
        ++doc.next;
    }
}

void CallSequencer::FlushAll(Document& doc) {
    while (!doc.waiting.isEmpty()) {
        const qint64 sequence = doc.waiting.firstKey();
        m_deliver(doc.waiting.take(sequence).args);
        doc.next = sequence + 1;
    }
}

// Each held call counts its own wait: a call that was already waiting behind one gap does not
// start again from zero when that gap is filled and the next one shows.
CallSequencer::Clock::time_point CallSequencer::OldestArrival(const Document& doc) {
    Clock::time_point oldest = Clock::time_point::max();
    for (const Held& held : doc.waiting)
        oldest = std::min(oldest, held.since);
    return oldest;
}

}  // namespace vorn::bridge
