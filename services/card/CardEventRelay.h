#pragma once

#include "common/CardResult.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <mutex>
#include <variant>
#include <vector>

namespace vorn {

// Receives the card worker's reports on its own thread: each cycle reports busy (true), one
// result, busy (false). Destroying the receiver is always allowed; what was reported for it
// afterwards is freed undelivered.
class CardReceiver : public QObject {
public:
    using QObject::QObject;
    // A cycle began (`reading` true) or ended (false; `continuous`: more cycles may follow).
    virtual void OnCardBusy(bool reading, bool continuous) = 0;
    // The cycle's result; the receiver copies what it keeps, the result is freed after.
    virtual void OnCardResult(const CardResult& result) = 0;
};

// Lives on the receiver's thread and hands the card worker's reports to the receiver, in the
// order reported, while the receiver exists. The reports cross threads through this object's
// own mutex rather than Qt's posted-event queue alone, so the hand-over is visible to
// ThreadSanitizer (Qt's own locking is not).
class CardEventRelay : public QObject {
    Q_OBJECT

public:
    // Create on the receiver's thread. `receiver` may be null: then every report is dropped.
    explicit CardEventRelay(CardReceiver* receiver);
    // Relay's thread, once no worker can report any more; frees what was never delivered.
    ~CardEventRelay() override;

    // Any thread: take the report and return at once.
    void ReportBusy(bool reading, bool continuous);
    void ReportResult(CardResult result);

private:
    struct Busy {
        bool reading;
        bool continuous;
    };
    using Report = std::variant<Busy, CardResult>;

    void Queue(Report report);
    Q_INVOKABLE void Deliver();

    QPointer<CardReceiver> m_receiver;
    std::mutex m_mutex;
    std::vector<Report> m_queue;  // guarded by m_mutex
    bool m_scheduled = false;     // guarded by m_mutex
};

}  // namespace vorn
