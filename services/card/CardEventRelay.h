#pragma once

#include <QObject>
#include <QPointer>

namespace vorn {

// Lives on the window's thread and hands the card worker's events to the window. Workers post
// to the relay, which outlives them, never to the window, which may be destroyed at any time:
// an event that arrives when the window is gone is dropped, and Qt frees it with its payload.
class CardEventRelay : public QObject {
public:
    // Create on the window's thread. `window` may be null: then every event is dropped.
    explicit CardEventRelay(QObject* window);

    // Relay's thread: events that found no window so far.
    int DroppedCount() const { return m_dropped; }

protected:
    bool event(QEvent* event) override;

private:
    QPointer<QObject> m_window;
    int m_dropped = 0;
};

}  // namespace vorn
