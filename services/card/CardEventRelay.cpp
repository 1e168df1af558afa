#include "services/card/CardEventRelay.h"

#include "common/Logging.h"

#include <QCoreApplication>
#include <QEvent>

namespace vorn {

CardEventRelay::CardEventRelay(QObject* receiver) : m_receiver(receiver) {}

CardEventRelay::~CardEventRelay() = default;

void CardEventRelay::Queue(std::unique_ptr<QEvent> event) {
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(event));
        schedule = !m_scheduled;
        m_scheduled = true;
    }
    // By name, so that nothing the worker wrote is read on the other side outside m_mutex.
    if (schedule)
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

void CardEventRelay::Deliver() {
    std::vector<std::unique_ptr<QEvent>> events;
    {
        std::lock_guard lock(m_mutex);
        events.swap(m_queue);
        m_scheduled = false;
    }
    for (auto& event : events) {
        // The receiver may go while handling an earlier event: checked every time.
        if (m_receiver) {
            // Synchronous on this thread; the event and its record or text are freed right
            // after, the receiver having copied what it needs.
            QCoreApplication::sendEvent(m_receiver, event.get());
        } else {
            ++m_dropped;
            qCDebug(lcCard) << "no receiver for card event" << static_cast<int>(event->type());
        }
    }
}

}  // namespace vorn
