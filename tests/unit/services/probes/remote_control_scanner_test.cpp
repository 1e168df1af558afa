#include "services/probes/RemoteControlScanner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
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

}  // namespace

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
