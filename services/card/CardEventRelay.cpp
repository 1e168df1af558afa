#include "services/card/CardEventRelay.h"

#include "platform/Logging.h"
#include "services/Messages.h"

#include <QCoreApplication>

namespace vorn {

CardEventRelay::CardEventRelay(QObject* window) : m_window(window) {}

bool CardEventRelay::event(QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (type != UM_CARD_BUSY && type != UM_CARD_RESULT)
        return QObject::event(event);
    if (m_window) {
        // Delivered synchronously on the window's thread; Qt deletes the event (and the record
        // or text it owns) when this returns, after the window has copied what it needs.
        QCoreApplication::sendEvent(m_window, event);
    } else {
        ++m_dropped;
        qCDebug(lcCard) << "no window for card event" << type << "- dropped";
    }
    return true;
}

}  // namespace vorn
