#pragma once

#include "common/CardMode.h"
#include "platform/CardLibrary.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vorn {

class CardEventRelay;
class CardReceiver;
struct IdCardRecord;

// The identity-card reader: readings run on a worker thread that drives the card library and
// reports each cycle to a receiver (CardEventRelay.h): busy, one CardResult, not busy.
//
// At most one worker exists, so the library is never called from two threads. A start request
// while a reading is under way is dropped. A start request that arrives after StopCardReading
// while the stopped reading still finishes its cycle (and pause) is kept and carried out by
// that same worker as soon as it is done, instead of being lost; only the latest such request
// is kept.
//
// Reports go to a relay object that lives on the thread that called Init and forwards them to
// the receiver while it exists; reports for a receiver that is gone are freed undelivered.
class CCardReader {
public:
    CCardReader();
    // Stops the reading and waits for the worker's current cycle, however long a library call
    // takes (the worker uses this object). Destroy on Init's thread. The application's own
    // reader is never destroyed, so its exit is bounded by Shutdown alone.
    virtual ~CCardReader();

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
    void StartCardReading(int port, vorn::CardMode mode, std::uint64_t requester = 0);
    void StopCardReading();

    // Any thread: whether the reading flag is set.
    bool IsReading() const { return m_reading.load() != 0; }
    // Any thread: blocks until no worker runs (or `timeout` passed); true when idle.
    bool WaitForIdle(std::chrono::milliseconds timeout = std::chrono::minutes(1));
    // Ends readings for good: drops the queued request, cuts the pause short, waits for the
    // current cycle at most `wait`; a worker stuck longer in a library call (a hung port) is
    // left behind, with a warning, to end with the process. Later start requests are ignored.
    // Called on the application's exit.
    void Shutdown(std::chrono::milliseconds wait = kExitWait);
    static constexpr std::chrono::milliseconds kExitWait{3000};

    int ComPortSetting() const { return m_comPort; }
    int ReadTimeSetting() const { return m_readTime; }
    // Pause between continuous cycles (1000 ms); set before a reading starts. For tests.
    void SetCyclePause(std::chrono::milliseconds pause);

protected:
    // Creates the worker thread running `body`; throws std::system_error when it cannot.
    virtual std::thread CreateWorker(std::function<void()> body);

private:
    struct Request {
        int port = 0;
        bool continuous = false;
        std::uint64_t requester = 0;
    };

    void RunCardReading(Request request);
    void RunCycle(const Request& request);
    bool OpenPort(int port) const;
    int ReadCardContent(IdCardRecord& record, char16_t* errorText) const;

    vorn::platform::ICardLibrary::EntryPoints m_api;
    QString m_photoPath;
    int m_comPort = 0;
    int m_readTime = 500;
    std::unique_ptr<vorn::CardEventRelay> m_relay;
    std::atomic<vorn::CardEventRelay*> m_target{nullptr};

    std::atomic<int> m_reading{0};
    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::thread m_worker;
    bool m_workerAlive = false;
    bool m_shutdown = false;
    std::optional<Request> m_pending;
    std::chrono::milliseconds m_pause{1000};
};

}  // namespace vorn
