#include "services/probes/RemoteControlScanner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using vorn::RemoteControlScanner;

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "remote_control_scanner_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// A scan that blocks until released, so a test decides when each scan ends. Scans answer
// true, false, true, ... and record the thread they ran on.
class GatedScan {
public:
    bool operator()() {
        std::unique_lock lock(m_mutex);
        const int index = m_started++;
        m_threads.push_back(std::this_thread::get_id());
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_released > index; });
        return index % 2 == 0;
    }
    void WaitStarted(int count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return m_started >= count; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        ++m_released;
        m_changed.notify_all();
    }
    int Started() {
        std::lock_guard lock(m_mutex);
        return m_started;
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_started = 0;
    int m_released = 0;
    std::vector<std::thread::id> m_threads;
};

// A process list whose read of one process blocks until released, as a read of
// /proc/<pid>/cmdline does while that process's memory lock is held.
class BlockingProcessList : public vorn::platform::IProcessList {
public:
    static constexpr std::uint32_t kSelf = 1, kBefore = 10, kBlocking = 20, kAfter = 30;

    std::vector<vorn::platform::ProcessRecord> Enumerate() const override {
        struct All : vorn::platform::IProcessSink {
            bool Reading(std::uint32_t) override { return true; }
            bool Read(vorn::platform::ProcessRecord r) override {
                records.push_back(std::move(r));
                return true;
            }
            std::vector<vorn::platform::ProcessRecord> records;
        } all;
        EnumerateEach(all);
        return all.records;
    }
    void EnumerateEach(vorn::platform::IProcessSink& sink) const override {
        for (const std::uint32_t pid : {kSelf, kBefore, kBlocking, kAfter}) {
            if (!sink.Reading(pid))
                continue;
            if (pid == kBlocking) {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_released; });
            }
            if (!sink.Read({pid, "p" + std::to_string(pid), "", "", ""}))
                return;
        }
        std::lock_guard lock(m_mutex);
        ++m_ended;
        m_changed.notify_all();
    }
    std::uint32_t CurrentProcessId() const override { return kSelf; }
    std::vector<std::string> IdentityTexts(const vorn::platform::ProcessRecord&) const override {
        return {};
    }

    void Release(bool released) {
        std::lock_guard lock(m_mutex);
        m_released = released;
        m_changed.notify_all();
    }
    // How many enumerations ran to their end (not stopped by their sink).
    int Ended() {
        std::lock_guard lock(m_mutex);
        return m_ended;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_released = false;
    mutable int m_ended = 0;
};

// A remote session that answers true and keeps the pids of each process list it was asked about.
class RecordingSession : public vorn::platform::IRemoteSession {
public:
    bool IsRemote(const std::vector<vorn::platform::ProcessRecord>& processes) const override {
        std::vector<std::uint32_t> seen;
        for (const auto& record : processes)
            seen.push_back(record.pid);
        std::lock_guard lock(m_mutex);
        m_asked.push_back(seen);
        return true;
    }
    std::vector<std::vector<std::uint32_t>> Asked() const {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::vector<std::vector<std::uint32_t>> m_asked;
};

// A KVM guest's CPU, counting how often it is asked.
class CountingMachine : public vorn::platform::IVirtualization {
public:
    explicit CountingMachine(std::shared_ptr<std::atomic<int>> reads) : m_reads(std::move(reads)) {}
    vorn::platform::VirtualizationFacts ReadFacts() const override {
        ++*m_reads;
        vorn::platform::VirtualizationFacts facts;
        facts.hypervisorSignature = "KVMKVMKVM";
        return facts;
    }

private:
    std::shared_ptr<std::atomic<int>> m_reads;
};

// The pids each judged scan was given, in scan order (judged on the worker).
struct JudgedScans {
    std::mutex mutex;
    std::vector<std::vector<std::uint32_t>> pids;

    RemoteControlScanner::Judge Judge() {
        return [this](const std::vector<vorn::platform::ProcessRecord>& processes) {
            std::vector<std::uint32_t> seen;
            for (const auto& record : processes)
                seen.push_back(record.pid);
            std::lock_guard lock(mutex);
            pids.push_back(seen);
            return vorn::ProcessScanResult{};
        };
    }
    std::vector<std::vector<std::uint32_t>> Pids() {
        std::lock_guard lock(mutex);
        return pids;
    }
};

}  // namespace

// A read that never returns must not hold back the answer (nor every answer queued behind it):
// it is given from what was read, later scans leave the stuck process out, and the stuck read
// finds nothing freed when it finally returns.
TEST(RemoteControlScanner, AStuckReadIsAnsweredFromWhatWasReadAndHoldsNoLaterScan) {
    App();
    using List = BlockingProcessList;
    static std::mutex warningsMutex;
    static QStringList warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            std::lock_guard lock(warningsMutex);
            if (type == QtWarningMsg)
                warnings << text;
        });
    const auto warned = [] {
        std::lock_guard lock(warningsMutex);
        return warnings.join('\n');
    };
    auto list = std::make_shared<List>();
    auto judged = std::make_shared<JudgedScans>();
    {
        QObject context;
        RemoteControlScanner scanner(&context, list, 300ms, judged->Judge());
        int answers = 0;
        scanner.Request([&](const vorn::ProcessScanResult&) { ++answers; });
        ASSERT_TRUE(SpinUntil([&] { return answers == 1; }));
        EXPECT_EQ(judged->Pids().back(), (std::vector<std::uint32_t>{List::kBefore}));
        EXPECT_TRUE(warned().contains("reading process 20 did not come back"))
            << warned().toStdString();

        // The next scan neither waits for the stuck read nor gets stuck on that process: it
        // finishes (no second warning) with the processes on either side of it.
        scanner.Request([&](const vorn::ProcessScanResult&) { ++answers; });
        ASSERT_TRUE(SpinUntil([&] { return answers == 2; }));
        EXPECT_EQ(warned().count("did not finish"), 1);
        EXPECT_EQ(judged->Pids().back(), (std::vector<std::uint32_t>{List::kBefore, List::kAfter}));

        // Once the read returns, its scan ends without adding to anything, and the process is
        // read again.
        list->Release(true);
        const std::vector<std::uint32_t> all = {List::kBefore, List::kBlocking, List::kAfter};
        // The released reader thread may be scheduled late on a busy machine: ask again until
        // it has come back, for as long as a test may wait, not for a fixed number of scans.
        const auto giveUp = std::chrono::steady_clock::now() + 10s;
        while (judged->Pids().back() != all && std::chrono::steady_clock::now() < giveUp) {
            const int asked = answers;
            scanner.Request([&](const vorn::ProcessScanResult&) { ++answers; });
            ASSERT_TRUE(SpinUntil([&] { return answers == asked + 1; }));
            if (judged->Pids().back() != all)
                std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(judged->Pids().back(), all);
        // Every scan since ran to its end; the first one stopped at its sink instead.
        EXPECT_EQ(list->Ended(), static_cast<int>(judged->Pids().size()) - 1);

        // Stuck again, and the scanner goes while the read is still stuck.
        list->Release(false);
        scanner.Request([&](const vorn::ProcessScanResult&) { ++answers; });
        SpinUntil([] { return false; }, 50ms);
    }
    list->Release(true);  // the left-over read returns into a scan nobody holds but itself
    SpinUntil([] { return false; }, 100ms);
    qInstallMessageHandler(previous);
}

// The services the wiring hands in judge every scan: the session is asked about the processes
// read (the client left out), and the hypervisor is read once for all scans.
TEST(RemoteControlScanner, ScansAreJudgedWithTheServicesHandedIn) {
    App();
    QObject context;
    auto list = std::make_shared<BlockingProcessList>();
    list->Release(true);
    auto session = std::make_unique<RecordingSession>();
    const RecordingSession& asked = *session;
    auto reads = std::make_shared<std::atomic<int>>(0);
    RemoteControlScanner scanner(&context, list, std::move(session),
                                 std::make_unique<CountingMachine>(reads));
    std::vector<vorn::ProcessScanResult> answers;
    for (std::size_t i = 1; i <= 2; ++i) {
        scanner.Request([&](const vorn::ProcessScanResult& r) { answers.push_back(r); });
        ASSERT_TRUE(SpinUntil([&] { return answers.size() == i; }));
    }
    for (const vorn::ProcessScanResult& answer : answers) {
        EXPECT_TRUE(answer.environment.remoteSession);
        EXPECT_EQ(answer.environment.virtualMachine, "kvm");
    }
    const std::vector<std::uint32_t> others = {
        BlockingProcessList::kBefore, BlockingProcessList::kBlocking, BlockingProcessList::kAfter};
    EXPECT_EQ(asked.Asked(), (std::vector<std::vector<std::uint32_t>>{others, others}));
    EXPECT_EQ(reads->load(), 1);
}

TEST(RemoteControlScanner, AnswersComeFromAFreshScanOnAWorkerInRequestOrder) {
    App();
    QObject context;
    auto gate = std::make_shared<GatedScan>();
    RemoteControlScanner scanner(&context, [gate] { return vorn::ProcessScanResult{(*gate)()}; });
    std::vector<std::pair<char, bool>> answers;

    auto answer = [&](char name) {
        return [&answers, name](const vorn::ProcessScanResult& r) {
            answers.emplace_back(name, r.remoteToolRunning);
        };
    };
    scanner.Request(answer('a'));
    gate->WaitStarted(1);
    // Asked while scan 1 runs: scan 1 began too early for them, so both wait for scan 2.
    scanner.Request(answer('b'));
    scanner.Request(answer('c'));
    EXPECT_TRUE(answers.empty());  // the asking thread did not wait for the scan

    gate->Release();
    ASSERT_TRUE(SpinUntil([&] { return answers.size() == 1; }));
    gate->WaitStarted(2);
    gate->Release();
    ASSERT_TRUE(SpinUntil([&] { return answers.size() == 3; }));

    const std::vector<std::pair<char, bool>> expected = {{'a', true}, {'b', false}, {'c', false}};
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(gate->Started(), 2);
    for (std::thread::id id : gate->Threads())
        EXPECT_NE(id, std::this_thread::get_id());
}

// Each answer becomes a script sent to the page; a burst of them must not hold the thread in
// one piece, so they go out a few per pass of the event loop, still in order.
TEST(RemoteControlScanner, ABurstIsAnsweredAFewAtATimeInOrder) {
    App();
    QObject context;
    RemoteControlScanner scanner(&context, [] { return vorn::ProcessScanResult{true}; });
    std::vector<int> order;
    for (int i = 0; i < 20; ++i)
        scanner.Request([&order, i](const vorn::ProcessScanResult&) { order.push_back(i); });
    std::vector<std::size_t> perPass;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (order.size() < 20 && std::chrono::steady_clock::now() < end) {
        const std::size_t before = order.size();
        QCoreApplication::processEvents();
        if (order.size() > before)
            perPass.push_back(order.size() - before);
    }
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_GE(perPass.size(), 5u);
    for (std::size_t n : perPass)
        EXPECT_LE(n, 4u);
}

TEST(RemoteControlScanner, AStuckScanDelaysDestructionOnlyBoundedAndAnswersNothingAfter) {
    App();
    QObject context;
    auto gate = std::make_shared<GatedScan>();
    bool answered = false;
    const auto begin = std::chrono::steady_clock::now();
    {
        RemoteControlScanner scanner(&context,
                                     [gate] { return vorn::ProcessScanResult{(*gate)()}; });
        scanner.Request([&](const vorn::ProcessScanResult&) { answered = true; });
        gate->WaitStarted(1);
    }
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(waited, RemoteControlScanner::kExitWait + 3s);

    gate->Release();  // the left-over worker ends now and must not deliver anything
    SpinUntil([] { return false; }, 300ms);
    EXPECT_FALSE(answered);
}
