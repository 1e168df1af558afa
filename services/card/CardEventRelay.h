#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <mutex>
#include <vector>

class QEvent;

namespace vorn {

// Lives on the window's thread and hands the card worker's events to the window. Workers queue
// their events here, never at the window, which may be destroyed at any time: an event whose
// turn comes when the window is gone is freed with its payload, undelivered.
//
// The events cross threads through this object's own mutex rather than Qt's posted-event queue
// alone, so the hand-over is visible to ThreadSanitizer (Qt's own locking is not).
class CardEventRelay : public QObject {
    Q_OBJECT

public:
    // Create on the window's thread. `window` may be null: then every event is dropped.
    explicit CardEventRelay(QObject* window);
    // Relay's thread, once no worker can queue any more; frees what was never delivered.
    ~CardEventRelay() override;

    // Any thread: takes the event and returns at once; the window gets it on the relay's
    // thread, in the order queued.
    void Queue(std::unique_ptr<QEvent> event);

    // Relay's thread: events that found no window so far.
    int DroppedCount() const { return m_dropped; }

private:
    Q_INVOKABLE void Deliver();

    QPointer<QObject> m_window;
    int m_dropped = 0;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<QEvent>> m_queue;  // guarded by m_mutex
    bool m_scheduled = false;                      // guarded by m_mutex
};

}  // namespace vorn
