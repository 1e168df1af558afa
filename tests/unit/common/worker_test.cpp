#include "common/Worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using vorn::Worker;

// A call that does not return until the test lets it: a card library on a dead port. Shared
// with the task, so it outlives the worker when the task comes back late.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
    bool returned = false;
    int laterTasksRun = 0;

    void Pass() {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    void WaitEntered() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return entered; });
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    void MarkReturned() {
        std::lock_guard lock(mutex);
        returned = true;
        changed.notify_all();
    }
    void WaitReturned() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return returned; });
    }
};

TEST(Worker, RunsTasksOneAtATimeInPostOrderOnItsOwnThread) {
    Worker worker;
    std::vector<int> order;  // touched by the worker only until it is idle
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(worker.Post([&order, &threads, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        }));
    ASSERT_TRUE(worker.WaitForIdle(60s));
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    for (const std::thread::id id : threads) {
        EXPECT_EQ(id, threads.front());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_TRUE(worker.Stop(60s));
}

// The stop gives up on a task stuck in a call, drops what was queued behind it and refuses new
// tasks; the worker is destroyed while the task is still stuck, and the task's late return
// (and the thread's end after it) touches nothing that went with the worker.
TEST(Worker, StopGivesUpOnAStuckTaskAndItsLateReturnTouchesNothingFreed) {
    auto gate = std::make_shared<Gate>();
    {
        auto worker = std::make_unique<Worker>();
        ASSERT_TRUE(worker->Post([gate] {
            gate->Pass();
            gate->MarkReturned();
        }));
        ASSERT_TRUE(worker->Post([gate] { ++gate->laterTasksRun; }));
        gate->WaitEntered();
        EXPECT_FALSE(worker->Stop(20ms));
        EXPECT_FALSE(worker->Post([gate] { ++gate->laterTasksRun; }));
        worker.reset();  // a second, bounded stop
    }
    gate->Open();
    gate->WaitReturned();
    std::lock_guard lock(gate->mutex);
    EXPECT_EQ(gate->laterTasksRun, 0);
}

// A continuous card reading pauses between cycles; the exit must not wait out the pause.
TEST(Worker, StopCutsASleepShortAndEndsTheThread) {
    Worker worker;
    const Worker::StopSignal signal = worker.Signal();
    auto slept = std::make_shared<Gate>();
    slept->open = true;
    ASSERT_TRUE(worker.Post([signal, slept] {
        slept->Pass();  // open from the start: only marks that the task runs
        if (!signal.SleepFor(1h) && signal.Stopping())
            slept->MarkReturned();
    }));
    slept->WaitEntered();
    EXPECT_TRUE(worker.Stop(60s));
    std::lock_guard lock(slept->mutex);
    EXPECT_TRUE(slept->returned);
}

// A task that ends the worker it runs on (an error path shutting its own service down) must
// neither deadlock nor join its own thread.
TEST(Worker, StopFromItsOwnTaskReturnsAtOnce) {
    auto done = std::make_shared<Gate>();
    auto worker = std::make_shared<Worker>();
    ASSERT_TRUE(worker->Post([worker, done] {
        const bool ended = worker->Stop(1h);
        {
            std::lock_guard lock(done->mutex);
            done->open = ended;
        }
        done->MarkReturned();
    }));
    done->WaitReturned();
    std::lock_guard lock(done->mutex);
    EXPECT_FALSE(done->open);
}

}  // namespace
