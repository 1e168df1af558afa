#include "services/probes/RemoteControlScanner.h"

#include "common/Logging.h"
#include "services/probes/RemoteControl.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vorn {

ProcessScanResult ScanProcesses() {
    const std::vector<vorn::platform::ProcessRecord> processes = OtherProcesses();
    return {IsRemoteControlRunning(processes),
            ProbeEnvironment(*vorn::platform::CreateRemoteSession(), processes)};
}

// Shared by the scanner and its worker: a worker still stuck in a scan when the scanner goes
// keeps it alive and finds `stopping` set when it comes back.
struct RemoteControlScanner::State {
    QObject* context = nullptr;
    Scan scan;

    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    std::condition_variable exited;
    std::size_t waiting = 0;  // requests not yet taken up by a scan
    bool stopping = false;
    bool workerRunning = false;

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

    static void Run(const std::shared_ptr<State>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->stopping || self->waiting > 0; });
            if (self->stopping)
                break;
            // Everything asked so far is answered by the scan that starts now.
            const std::size_t batch = std::exchange(self->waiting, 0);
            lock.unlock();
            ProcessScanResult found = self->scan();
            lock.lock();
            if (self->stopping)
                break;
            // Posted in scan order from this one thread, so batches arrive in request order.
            std::weak_ptr<State> weak = self;
            QMetaObject::invokeMethod(
                self->context,
                [weak, batch, found = std::move(found)] {
                    if (auto state = weak.lock())
                        state->Resolve(state, batch, found);
                },
                Qt::QueuedConnection);
        }
        self->workerRunning = false;
        self->exited.notify_all();
    }
};

RemoteControlScanner::RemoteControlScanner(QObject* context, Scan scan)
    : m_state(std::make_shared<State>()) {
    m_state->context = context;
    m_state->scan = scan ? std::move(scan) : Scan(ScanProcesses);
}

RemoteControlScanner::~RemoteControlScanner() {
    m_state->closed = true;
    m_state->pending.clear();
    m_state->resolved = 0;
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_all();
    if (!m_state->exited.wait_for(lock, kExitWait, [this] { return !m_state->workerRunning; }))
        qCWarning(lcProbes,
                  "The process scan did not finish within %lld ms; the client goes on "
                  "without waiting for it.",
                  static_cast<long long>(kExitWait.count()));
}

void RemoteControlScanner::Request(Done done) {
    m_state->pending.push_back({std::move(done), {}});
    std::lock_guard lock(m_state->mutex);
    ++m_state->waiting;
    if (!m_state->workerRunning) {
        try {
            // Detached: the destructor waits for it through `exited`, bounded.
            std::thread(&State::Run, m_state).detach();
            m_state->workerRunning = true;
        } catch (const std::system_error& e) {
            qCWarning(lcProbes) << "No worker for the process scan (" << e.what()
                                << "); scanning on the calling thread.";
        }
    }
    if (m_state->workerRunning) {
        m_state->wake.notify_one();
        return;
    }
    // Without a worker: scan now; the answer still goes out through the event loop, in order.
    const std::size_t batch = std::exchange(m_state->waiting, 0);
    m_state->Resolve(m_state, batch, m_state->scan());
}

}  // namespace vorn
