#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <mutex>
#include <vector>

class QEvent;

namespace vorn {

// Lives on the receiver's thread and hands the card worker's events to the receiver. Workers
// queue their events here, never at the receiver, which may be destroyed at any time: an event
// whose turn comes when the receiver is gone is freed with its payload, undelivered.
//
// The events cross threads through this object's own mutex rather than Qt's posted-event queue
// alone, so the hand-over is visible to ThreadSanitizer (Qt's own locking is not).
class CardEventRelay : public QObject {
    Q_OBJECT

public:
    // Create on the receiver's thread. `receiver` may be null: then every event is dropped.
    explicit CardEventRelay(QObject* receiver);
    // Relay's thread, once no worker can queue any more; frees what was never delivered.
    ~CardEventRelay() override;

    // Any thread: takes the event and returns at once; the receiver gets it on the relay's
    // thread, in the order queued.
    void Queue(std::unique_ptr<QEvent> event);

    // Relay's thread: events that found no receiver so far.
    int DroppedCount() const { return m_dropped; }

private:
    Q_INVOKABLE void Deliver();

    QPointer<QObject> m_receiver;
    int m_dropped = 0;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<QEvent>> m_queue;  // guarded by m_mutex
    bool m_scheduled = false;                      // guarded by m_mutex
};

}  // namespace vorn
