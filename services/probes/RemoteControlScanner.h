#pragma once

#include "common/Worker.h"
#include "platform/ProcessList.h"
#include "platform/RemoteSession.h"
#include "platform/Virtualization.h"
#include "services/probes/Environment.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

namespace vorn {

// What one scan of the process table tells the page.
struct ProcessScanResult {
    bool remoteToolRunning = false;  // IsRemoteControlRunning over the list
    EnvironmentReport environment;   // ProbeEnvironment over the same list
};

// Both judgements over `processes` of `list`: the remote-control rules (with what `list` tells of
// each program) and the environment probe (with `session`, and the hypervisor `virtualMachine`
// as DetectVirtualMachine names it). Any thread that may use `session`.
ProcessScanResult JudgeProcesses(const vorn::platform::IProcessList& list,
                                 const vorn::platform::IRemoteSession& session,
                                 const std::string& virtualMachine,
                                 const std::vector<vorn::platform::ProcessRecord>& processes);

// What the page bridge asks of the process scan (RemoteControlScanner below; tests hand in fakes).
class IProcessScan {
public:
    using ScanDone = std::function<void(const ProcessScanResult& scan)>;
    virtual ~IProcessScan() = default;
    // Scans the process table off the asking thread; `done` runs later on that thread.
    virtual void Request(ScanDone done) = 0;
};

// Runs the process scan (remote-control tools, remote session, screen recorders) on a worker
// thread, so the thread that asks (the main thread, which is also the engine's UI thread) never
// waits on the process table: a process whose memory lock is held can block a read of its
// command line for a long time.
//
// Every request gets the answer of a scan that began after the request was made; requests that
// arrive while a scan runs share the next one. Answers are delivered on the thread of `context`
// (through its event loop), strictly in request order, a few per pass of the loop, so that a
// burst of answers never holds that thread in one piece.
//
// A scan of a process list has a deadline: what has not been read by then is not waited for,
// the answer is judged from the processes read before (the log says so), and the read that
// does not come back is left to its own thread, which nothing waits on or shares state with
// but the scan it belonged to. Later scans leave the process it is stuck on unread, so they are
// neither queued behind it nor stuck on it again.
class RemoteControlScanner : public IProcessScan {
public:
    using Scan = std::function<ProcessScanResult()>;
    using Done = ScanDone;
    using Judge =
        std::function<ProcessScanResult(const std::vector<vorn::platform::ProcessRecord>&)>;

    static constexpr std::chrono::milliseconds kScanDeadline{1500};

    // `context` must outlive the scanner. `scan` runs on the worker as it is, without a
    // deadline.
    RemoteControlScanner(QObject* context, Scan scan);
    // Scans of `processes` as below, judged by JudgeProcesses with `session` and the hypervisor
    // `machine` tells of (read on the first scan only: the hardware under a running system does
    // not change). The scanner owns all three; none may be null.
    RemoteControlScanner(QObject* context,
                         std::shared_ptr<const vorn::platform::IProcessList> processes,
                         std::unique_ptr<const vorn::platform::IRemoteSession> session,
                         std::unique_ptr<const vorn::platform::IVirtualization> machine,
                         std::chrono::milliseconds deadline = kScanDeadline);
    // Scans of `processes` (this machine's in the client; the process `processes` names as the
    // current one left out), each read on a thread of its own and answered within `deadline`,
    // judged by `judge` on the worker.
    RemoteControlScanner(QObject* context,
                         std::shared_ptr<const vorn::platform::IProcessList> processes,
                         std::chrono::milliseconds deadline,
                         Judge judge);
    // Answers not yet delivered are dropped. Waits at most `kExitWait` for a scan under way;
    // a scan stuck longer is left to end with the process.
    ~RemoteControlScanner() override;
    RemoteControlScanner(const RemoteControlScanner&) = delete;
    RemoteControlScanner& operator=(const RemoteControlScanner&) = delete;

    // Thread of `context`. Returns at once; `done` runs later on that thread, never after the
    // scanner is gone. If the worker cannot be started the scan runs here instead.
    void Request(Done done) override;

    static constexpr std::chrono::milliseconds kExitWait{2000};

private:
    struct State;
    std::shared_ptr<State> m_state;
    // Last: a stop that gives up on a scan leaves it the state, nothing of this object.
    vorn::Worker m_worker;
};

}  // namespace vorn
