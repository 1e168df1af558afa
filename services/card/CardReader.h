#pragma once

#include "common/CardMode.h"
#include "common/CardResult.h"
#include "common/Worker.h"
#include "platform/CardLibrary.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

// The identity-card reader and the way its reports reach the thread that asked: the worker
// drives the card library and reports each cycle through a relay to a receiver.
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

// What the page bridge asks of the identity-card reader (CCardReader below; tests hand in fakes).
// Main thread.
class ICardReading {
public:
    virtual ~ICardReading() = default;
    // Keeps the port the page gave as the reader's setting (ComPort).
    virtual void SavePort(int port) = 0;
    // Returns at once; each result comes back to the receiver on the main thread carrying
    // `requester`.
    virtual void Start(CardMode mode, CardRequester requester) = 0;
    // Ends a continuous reading after its current cycle; returns at once.
    virtual void Stop() = 0;
};

// The identity-card reader: readings run on a worker thread that drives the card library and
// reports each cycle to a receiver (CardReceiver above): busy, one CardResult, not busy.
//
// At most one worker exists, so the library is never called from two threads. A start request
// while a reading is under way is dropped. A start request that arrives after StopCardReading
// while the stopped reading still finishes its cycle (and pause) is kept and carried out by
// that same worker as soon as it is done, instead of being lost; only the latest such request
// is kept.
//
// Reports go to a relay object that lives on the thread that called Init and forwards them to
// the receiver while it exists; reports for a receiver that is gone are freed undelivered.
class CCardReader : public ICardReading {
public:
    CCardReader();
    // Shutdown, then the reports stop reaching the receiver. Destroy on Init's thread. A cycle
    // stuck in a library call shares only what it uses with the reader, so it may come back
    // after the reader is gone.
    ~CCardReader() override;
    CCardReader(const CCardReader&) = delete;
    CCardReader& operator=(const CCardReader&) = delete;

    // Main thread, once: the object that receives the reports (lives on this thread), the client
    // folder (ends in "/"; the library lives there), the two settings, which no reading
    // consults, and where the photo is saved (empty: "idcard.jpg" in the client folder). A
    // missing library or entry point is not an error here.
    void Init(CardReceiver* receiver,
              const QString& clientFolder,
              int comPort,
              int readTime,
              const QString& photoPath = {});

    // Any thread; return at once. Port 0 searches 1001-1016 then 1-16; 1-16 and 1001-1016 are
    // tried alone; any other port fails. A continuous reading repeats cycles until stopped. Every
    // result of this reading carries `requester` (CardResult::requester).
    void StartCardReading(int port, vorn::CardMode mode, CardRequester requester = 0);
    void StopCardReading();

    // The page's requests (ICardReading). A page's reading searches the ports (port 0); the
    // port the page gives is only kept, by `store` (SetPortStore), as the ComPort setting.
    void SavePort(int port) override;
    void Start(CardMode mode, CardRequester requester) override;
    void Stop() override;
    // Main thread, before the page's first request: where SavePort keeps the port.
    void SetPortStore(std::function<void(int port)> store) { m_portStore = std::move(store); }

    // Any thread: whether the reading flag is set.
    bool IsReading() const;
    // Any thread: blocks until no worker runs (or `timeout` passed); true when idle.
    bool WaitForIdle(std::chrono::milliseconds timeout = std::chrono::minutes(1));
    // Ends readings for good: drops the queued request, cuts the pause short, waits for the
    // current cycle at most `wait`; a worker stuck longer in a library call (a hung port) is
    // left behind, with a warning, to end with the process. Later start requests are ignored.
    // Called on the application's exit.
    void Shutdown(std::chrono::milliseconds wait = kExitWait);
    static constexpr std::chrono::milliseconds kExitWait{3000};

    int ComPortSetting() const;
    int ReadTimeSetting() const;
    // Pause between continuous cycles (1000 ms); set before a reading starts. For tests.
    void SetCyclePause(std::chrono::milliseconds pause);

protected:
    // Creates the worker thread running `body`; throws std::system_error when it cannot.
    virtual std::thread CreateWorker(std::function<void()> body);

private:
    struct Request;
    struct Reports;
    struct State;

    const std::shared_ptr<State> m_state;
    std::unique_ptr<vorn::CardEventRelay> m_relay;
    std::function<void(int port)> m_portStore;
    // Last: a stop that gives up on a cycle leaves it the state it shares, nothing of this object.
    vorn::Worker m_worker;
};

}  // namespace vorn
