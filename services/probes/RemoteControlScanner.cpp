#include "services/probes/RemoteControlScanner.h"

#include "platform/Logging.h"
#include "services/probes/RemoteControl.h"

#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vorn {

ProcessScanResult ScanProcesses() {
    const std::vector<vorn::platform::ProcessRecord> processes = OtherProcesses();
    const char* display = std::getenv("DISPLAY");
    return {IsRemoteControlRunning(processes), ProbeEnvironment(display ? display : "", processes)};
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

    // Thread of `context` only.
    std::deque<Done> callbacks;
    bool closed = false;

    void Deliver(std::size_t count, const ProcessScanResult& found) {
        for (std::size_t i = 0; i < count && !closed && !callbacks.empty(); ++i) {
            Done done = std::move(callbacks.front());
            callbacks.pop_front();
            done(found);
        }
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
                        state->Deliver(batch, found);
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
    m_state->callbacks.clear();
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_all();
    if (!m_state->exited.wait_for(lock, kExitWait, [this] { return !m_state->workerRunning; }))
        qCWarning(lcProbes, "The process scan did not finish within %lld ms; the client goes on "
                            "without waiting for it.",
                  static_cast<long long>(kExitWait.count()));
}

void RemoteControlScanner::Request(Done done) {
    m_state->callbacks.push_back(std::move(done));
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
    // Without a worker: answer now, still through the event loop so the order holds.
    const std::size_t batch = std::exchange(m_state->waiting, 0);
    ProcessScanResult found = m_state->scan();
    std::weak_ptr<State> weak = m_state;
    QMetaObject::invokeMethod(
        m_state->context,
        [weak, batch, found = std::move(found)] {
            if (auto state = weak.lock())
                state->Deliver(batch, found);
        },
        Qt::QueuedConnection);
}

}  // namespace vorn
