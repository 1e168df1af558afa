#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QObject;

namespace vorn {

// Runs the remote-control scan on a worker thread, so the thread that asks (the main thread,
// which is also the engine's UI thread) never waits on the process table: a process whose
// memory lock is held can block a read of its command line for a long time.
//
// Every request gets the answer of a scan that began after the request was made; requests that
// arrive while a scan runs share the next one. Answers are delivered on the thread of `context`
// (through its event loop), strictly in request order.
class RemoteControlScanner {
public:
    using Scan = std::function<bool()>;
    using Done = std::function<void(bool remoteToolRunning)>;

    // `context` must outlive the scanner. `scan` runs on the worker (default: the real scan of
    // every other process, IsRemoteControlRunning()).
    explicit RemoteControlScanner(QObject* context, Scan scan = {});
    // Answers not yet delivered are dropped. Waits at most `kExitWait` for a scan under way;
    // a scan stuck longer is left to end with the process.
    ~RemoteControlScanner();
    RemoteControlScanner(const RemoteControlScanner&) = delete;
    RemoteControlScanner& operator=(const RemoteControlScanner&) = delete;

    // Thread of `context`. Returns at once; `done` runs later on that thread, never after the
    // scanner is gone. If the worker cannot be started the scan runs here instead.
    void Request(Done done);

    static constexpr std::chrono::milliseconds kExitWait{2000};

private:
    struct State;
    std::shared_ptr<State> m_state;
};

}  // namespace vorn
