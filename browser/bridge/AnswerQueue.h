#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace vorn {

// Keeps the page's answers in the order their requests (or results) reached the page bridge,
// also when some of them are computed elsewhere and arrive late: an answer waits until every
// answer whose place was reserved before it has gone out. One thread (the main thread).
class AnswerQueue {
public:
    using Ticket = std::uint64_t;
    // Receives each answer text, in order. An empty text is never passed on.
    using Sink = std::function<void(const QString&)>;

    explicit AnswerQueue(Sink sink) : m_sink(std::move(sink)) {}

    // Reserves the next place in the order for an answer that Fill gives later.
    Ticket Reserve();
    // Gives the answer for `ticket` and sends every answer that was only waiting for it. An
    // empty text gives up the place without an answer. A ticket already filled or never
    // reserved is ignored.
    void Fill(Ticket ticket, QString text);
    // Reserve and Fill at once: goes out now unless an earlier answer is still outstanding.
    void Send(QString text) { Fill(Reserve(), std::move(text)); }

    // Drops every answer not yet sent, the reserved places too (their later Fill is ignored):
    // the page that asked is gone.
    void Discard();

    // Answers reserved but not yet sent (waiting ones included).
    std::size_t Outstanding() const { return m_slots.size(); }

private:
    Sink m_sink;
    Ticket m_first = 0;  // ticket of m_slots.front()
    std::deque<std::optional<QString>> m_slots;
    bool m_flushing = false;
};

}  // namespace vorn
