#include "services/card/CardEventRelay.h"

#include "common/Logging.h"

#include <QMetaObject>

namespace vorn {

CardEventRelay::CardEventRelay(CardReceiver* receiver) : m_receiver(receiver) {}

CardEventRelay::~CardEventRelay() = default;

void CardEventRelay::ReportBusy(bool reading, bool continuous) {
    Queue(Busy{reading, continuous});
}

void CardEventRelay::ReportResult(CardResult result) {
    Queue(std::move(result));
}

void CardEventRelay::Queue(Report report) {
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(report));
        schedule = !m_scheduled;
        m_scheduled = true;
    }
    // By name, so that nothing the worker wrote is read on the other side outside m_mutex.
    if (schedule)
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

void CardEventRelay::Deliver() {
    std::vector<Report> reports;
    {
        std::lock_guard lock(m_mutex);
        reports.swap(m_queue);
        m_scheduled = false;
    }
    for (const Report& report : reports) {
        // The receiver may go while handling an earlier report: checked every time.
        if (!m_receiver) {
            qCDebug(lcCard) << "no receiver for a card report";
            continue;
        }
        if (const auto* busy = std::get_if<Busy>(&report))
            m_receiver->OnCardBusy(busy->reading, busy->continuous);
        else
            m_receiver->OnCardResult(std::get<CardResult>(report));
    }
}

}  // namespace vorn
