#include "services/probes/RemoteControlScanner.h"

#include "common/Logging.h"
#include "services/probes/RemoteControl.h"
#include "services/probes/VirtualMachine.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vorn {

ProcessScanResult JudgeProcesses(const vorn::platform::IProcessList& list,
                                 const vorn::platform::IRemoteSession& session,
                                 const std::string& virtualMachine,
                                 const std::vector<vorn::platform::ProcessRecord>& processes) {
    return {IsRemoteControlRunning(list, processes),
            ProbeEnvironment(session, virtualMachine, processes)};
}

namespace {

using vorn::platform::ProcessRecord;

// The processes reads are stuck on, of scans that were answered without them. Shared by every
// scan of one scanner and by the threads still stuck in those reads.
class StuckReads {
public:
    // A reader was given up on (while reading `pid`, when it was reading one).
    void Add(std::optional<std::uint32_t> pid) {
        std::lock_guard lock(m_mutex);
        ++m_readers;
        if (pid)
            m_pids.insert(*pid);
    }
    // That reader has come back.
    void Remove(std::optional<std::uint32_t> pid) {
        std::lock_guard lock(m_mutex);
        --m_readers;
        if (pid)
            m_pids.erase(m_pids.find(*pid));
    }
    bool Holds(std::uint32_t pid) {
        std::lock_guard lock(m_mutex);
        return m_pids.count(pid) > 0;
    }
    std::size_t Readers() {
        std::lock_guard lock(m_mutex);
        return m_readers;
    }

private:
    std::mutex m_mutex;
    std::multiset<std::uint32_t> m_pids;
    std::size_t m_readers = 0;
};

// One scan: filled by its reader thread, taken by the worker when the reader is done or the
// deadline has passed. After that the reader only learns that nobody listens any more; the
// records are the worker's.
class ScanRun final : public vorn::platform::IProcessSink {
public:
    explicit ScanRun(std::shared_ptr<StuckReads> stuck) : m_stuck(std::move(stuck)) {}

    bool Reading(std::uint32_t pid) override {
        std::lock_guard lock(m_mutex);
        if (m_givenUp || m_stuck->Holds(pid))
            return false;
        m_reading = pid;
        return true;
    }
    bool Read(ProcessRecord record) override {
        std::lock_guard lock(m_mutex);
        m_reading.reset();
        if (m_givenUp)
            return false;
        m_records.push_back(std::move(record));
        return true;
    }
    // Reader thread, at its end.
    void Finish() {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        if (m_givenUp)
            m_stuck->Remove(m_stuckOn);
        m_done.notify_all();
    }

    // Worker: the records read within `deadline`; *stuckOn, when the reader did not finish,
    // what it was reading then.
    std::vector<ProcessRecord> Take(std::chrono::milliseconds deadline,
                                    bool* finished,
                                    std::optional<std::uint32_t>* stuckOn) {
        std::unique_lock lock(m_mutex);
        *finished = m_done.wait_for(lock, deadline, [this] { return m_finished; });
        if (!*finished) {
            m_givenUp = true;
            m_stuckOn = m_reading;
            m_stuck->Add(m_stuckOn);
            *stuckOn = m_stuckOn;
        }
        return std::move(m_records);
    }

private:
    const std::shared_ptr<StuckReads> m_stuck;
    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_done;
    std::vector<ProcessRecord> m_records;
    std::optional<std::uint32_t> m_reading;
    std::optional<std::uint32_t> m_stuckOn;
    bool m_finished = false;
    bool m_givenUp = false;
};

// Stuck readers are threads that cannot be ended; past this many, a scan reads nothing more.
constexpr std::size_t kMaxStuckReaders = 8;

// JudgeProcesses with what `list` tells of each program, `session` and what `machine` tells on
// the first call. The judge runs on the scanner's worker, or on the asking thread when there is
// none, so the first reading is guarded.
RemoteControlScanner::Judge JudgeWith(
    std::shared_ptr<const vorn::platform::IProcessList> list,
    std::shared_ptr<const vorn::platform::IRemoteSession> session,
    std::shared_ptr<const vorn::platform::IVirtualization> machine) {
    struct Hypervisor {
        std::once_flag read;
        std::string name;
    };
    return
        [list = std::move(list), session = std::move(session), machine = std::move(machine),
         hypervisor = std::make_shared<Hypervisor>()](const std::vector<ProcessRecord>& processes) {
            std::call_once(hypervisor->read,
                           [&] { hypervisor->name = DetectVirtualMachine(*machine); });
            return JudgeProcesses(*list, *session, hypervisor->name, processes);
        };
}

// A scan of a process list within a deadline (the scanner's Scan in that mode).
ProcessScanResult BoundedScan(const std::shared_ptr<const vorn::platform::IProcessList>& list,
                              const std::shared_ptr<StuckReads>& stuck,
                              std::chrono::milliseconds deadline,
                              const RemoteControlScanner::Judge& judge) {
    auto run = std::make_shared<ScanRun>(stuck);
    bool started = false;
    if (stuck->Readers() < kMaxStuckReaders) {
        try {
            // Owns what it uses (the list, its run), so it may come back after the scanner
            // is gone.
            std::thread([list, run] {
                list->EnumerateEach(*run);
                run->Finish();
            }).detach();
            started = true;
        } catch (const std::system_error& e) {
            qCWarning(lcProbes) << "No thread to read the process list (" << e.what()
                                << "); the scan is answered without it.";
        }
    } else {
        qCWarning(lcProbes,
                  "%zu process scans are still stuck reading a process; this one is answered "
                  "without reading the process list.",
                  stuck->Readers());
    }
    if (!started)
        run->Finish();
    bool finished = false;
    std::optional<std::uint32_t> stuckOn;
    std::vector<ProcessRecord> processes = run->Take(deadline, &finished, &stuckOn);
    if (!finished) {
        const std::string what =
            stuckOn ? "reading process " + std::to_string(*stuckOn) + " did not come back"
                    : std::string("the process table did not come back");
        qCWarning(lcProbes,
                  "The process scan did not finish within %lld ms (%s); it is answered from the "
                  "%zu processes read before, and later scans leave that process unread.",
                  static_cast<long long>(deadline.count()), what.c_str(), processes.size());
    }
    const std::uint32_t self = list->CurrentProcessId();
    std::erase_if(processes, [self](const ProcessRecord& record) { return record.pid == self; });
    return judge(processes);
}

}  // namespace

// Shared by the scanner and its worker's tasks: a scan still stuck when the scanner goes keeps
// it alive and finds `stopping` set when it comes back.
struct RemoteControlScanner::State {
    QObject* context = nullptr;
    Scan scan;

    std::mutex mutex;         // guards everything below
    std::size_t waiting = 0;  // requests not yet taken up by a scan
    bool scanQueued = false;  // a scan task is posted and has not yet taken up the waiting ones
    bool stopping = false;
    bool scanning = false;

    // Thread of `context` only. The front `resolved` requests have their scan's result and
    // wait to be answered; at most kAnswersPerTurn of them are answered per pass of the event
    // loop, so a burst of answers (each one a script sent to the page) never holds the thread
    // for long in one piece.
    struct Pending {
        Done done;
        ProcessScanResult result;
    };
    std::deque<Pending> pending;
    std::size_t resolved = 0;
    bool draining = false;
    bool closed = false;

    static constexpr std::size_t kAnswersPerTurn = 4;

    void Resolve(const std::shared_ptr<State>& self,
                 std::size_t count,
                 const ProcessScanResult& found) {
        const std::size_t end = std::min(resolved + count, pending.size());
        for (std::size_t i = resolved; i < end; ++i)
            pending[i].result = found;
        resolved = end;
        ScheduleDrain(self);
    }

    void ScheduleDrain(const std::shared_ptr<State>& self) {
        if (draining || resolved == 0 || closed)
            return;
        draining = true;
        std::weak_ptr<State> weak = self;
        QMetaObject::invokeMethod(
            context,
            [weak] {
                if (auto state = weak.lock())
                    state->Drain(state);
            },
            Qt::QueuedConnection);
    }

    void Drain(const std::shared_ptr<State>& self) {
        draining = false;
        for (std::size_t i = 0; i < kAnswersPerTurn && resolved > 0 && !closed; ++i) {
            Pending next = std::move(pending.front());
            pending.pop_front();
            --resolved;
            next.done(next.result);
        }
        ScheduleDrain(self);
    }

    // The worker's task: one scan for everything asked so far.
    static void ScanOnce(const std::shared_ptr<State>& self) {
        std::unique_lock lock(self->mutex);
        self->scanQueued = false;
        if (self->stopping)
            return;
        const std::size_t batch = std::exchange(self->waiting, 0);
        self->scanning = true;
        lock.unlock();
        ProcessScanResult found = self->scan();
        lock.lock();
        self->scanning = false;
        if (self->stopping)
            return;
        // Posted in scan order from the worker's one thread, so batches arrive in request order.
        std::weak_ptr<State> weak = self;
        QMetaObject::invokeMethod(
            self->context,
            [weak, batch, found = std::move(found)] {
                if (auto state = weak.lock())
                    state->Resolve(state, batch, found);
            },
            Qt::QueuedConnection);
    }
};

RemoteControlScanner::RemoteControlScanner(QObject* context, Scan scan)
    : m_state(std::make_shared<State>()) {
    m_state->context = context;
    m_state->scan = std::move(scan);
}

RemoteControlScanner::RemoteControlScanner(
    QObject* context,
    std::shared_ptr<const vorn::platform::IProcessList> processes,
    std::unique_ptr<const vorn::platform::IRemoteSession> session,
    std::unique_ptr<const vorn::platform::IVirtualization> machine,
    std::chrono::milliseconds deadline)
    : RemoteControlScanner(context,
                           processes,
                           deadline,
                           JudgeWith(processes, std::move(session), std::move(machine))) {}

RemoteControlScanner::RemoteControlScanner(
    QObject* context,
    std::shared_ptr<const vorn::platform::IProcessList> processes,
    std::chrono::milliseconds deadline,
    Judge judge)
    : m_state(std::make_shared<State>()) {
    m_state->context = context;
    m_state->scan = [list = std::move(processes), stuck = std::make_shared<StuckReads>(), deadline,
                     judge = std::move(judge)] {
        return BoundedScan(list, stuck, deadline, judge);
    };
}

RemoteControlScanner::~RemoteControlScanner() {
    m_state->closed = true;
    m_state->pending.clear();
    m_state->resolved = 0;
    bool scanning = false;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        scanning = m_state->scanning;
    }
    if (!m_worker.Stop(kExitWait) && scanning)
        qCWarning(lcProbes,
                  "The process scan did not finish within %lld ms; the client goes on "
                  "without waiting for it.",
                  static_cast<long long>(kExitWait.count()));
}

void RemoteControlScanner::Request(Done done) {
    m_state->pending.push_back({std::move(done), {}});
    std::lock_guard lock(m_state->mutex);
    ++m_state->waiting;
    if (m_state->scanQueued)
        return;  // the scan already posted takes this request up too
    if (m_worker.Post([state = m_state] { State::ScanOnce(state); })) {
        m_state->scanQueued = true;
        return;
    }
    qCWarning(lcProbes) << "No worker for the process scan; scanning on the calling thread.";
    // Without a worker: scan now; the answer still goes out through the event loop, in order.
    const std::size_t batch = std::exchange(m_state->waiting, 0);
    m_state->Resolve(m_state, batch, m_state->scan());
}

}  // namespace vorn
