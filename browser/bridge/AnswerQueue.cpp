#include "browser/bridge/AnswerQueue.h"

namespace vorn {

AnswerQueue::Ticket AnswerQueue::Reserve() {
    m_slots.emplace_back();
    return m_first + m_slots.size() - 1;
}

void AnswerQueue::Fill(Ticket ticket, QString text) {
    if (ticket < m_first || ticket - m_first >= m_slots.size())
        return;
    std::optional<QString>& slot = m_slots[ticket - m_first];
    if (slot)
        return;
    slot = std::move(text);
    // A sink that sends another answer from inside (a page answering synchronously) only
    // queues it; the loop below then sends it in its turn.
    if (m_flushing)
        return;
    m_flushing = true;
    while (!m_slots.empty() && m_slots.front()) {
        const QString answer = std::move(*m_slots.front());
        m_slots.pop_front();
        ++m_first;
        if (!answer.isEmpty() && m_sink)
            m_sink(answer);
    }
    m_flushing = false;
}

void AnswerQueue::Discard() {
    m_first += m_slots.size();
    m_slots.clear();
}

}  // namespace vorn
