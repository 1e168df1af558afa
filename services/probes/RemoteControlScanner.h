#pragma once

#include "services/probes/Environment.h"

#include <chrono>
#include <functional>
#include <memory>

class QObject;

namespace vorn {

// What one scan of the process table tells the page.
struct ProcessScanResult {
    bool remoteToolRunning = false;  // IsRemoteControlRunning over the list
    EnvironmentReport environment;   // ProbeEnvironment over the same list
};

// One scan of this machine's processes, the client itself left out (its command line carries
// the vornapp:// address a web page started it with), judged for both. Any thread; blocks.
ProcessScanResult ScanProcesses();

// Runs the process scan (remote-control tools, remote session, screen recorders) on a worker
// thread, so the thread that asks (the main thread, which is also the engine's UI thread) never
// waits on the process table: a process whose memory lock is held can block a read of its
// command line for a long time.
//
// Every request gets the answer of a scan that began after the request was made; requests that
// arrive while a scan runs share the next one. Answers are delivered on the thread of `context`
// (through its event loop), strictly in request order, a few per pass of the loop, so that a
// burst of answers never holds that thread in one piece.
class RemoteControlScanner {
public:
    using Scan = std::function<ProcessScanResult()>;
    using Done = std::function<void(const ProcessScanResult& scan)>;

    // `context` must outlive the scanner. `scan` runs on the worker (default: the real scan of
    // every other process, ScanProcesses()).
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
