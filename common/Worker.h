#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace vorn {

// One thread that runs posted tasks one after another, in the order they were posted, with a
// stop whose wait is bounded: a task may be stuck in a call that never returns (a vendor
// library, a process that does not answer), and the program must still be able to end.
//
// The thread shares only the worker's own queue state, never the Worker object, so a task that
// comes back after the Worker is gone touches nothing freed; the task itself must own (by
// value or shared_ptr) everything it still uses after a stop has given up on it.
class Worker {
public:
    using Task = std::function<void()>;

    // What a task may ask while it runs (any thread): whether the worker is stopping, and a
    // sleep that a stop cuts short. Cheap to copy; valid after the Worker is gone.
    class StopSignal {
    public:
        bool Stopping() const;
        // Sleeps for `pause` or until the worker stops; true when the full pause passed.
        bool SleepFor(std::chrono::milliseconds pause) const;

    private:
        friend class Worker;
        struct State;
        std::shared_ptr<State> m_state;
    };

    // Starts the worker's thread running `body`; throws std::system_error when it cannot.
    using StartThread = std::function<std::thread(std::function<void()> body)>;

    // `start`: how the thread is started (default: a std::thread).
    explicit Worker(StartThread start = {});
    // Stop(kExitWait).
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Any thread. Queues `task`; the thread is started on the first post. False, and the task
    // dropped, once Stop was called or when no thread can be started.
    bool Post(Task task);

    // Any thread but the worker's own: blocks until no task is queued or running, at most
    // `timeout`; true when idle.
    bool WaitForIdle(std::chrono::milliseconds timeout);

    // Any thread, more than once. Drops the queued tasks (outside any lock of the worker), wakes a
    // task asleep in SleepFor and refuses later posts, then waits at most `wait` for the running
    // task. True when the thread has ended; false when a task was still running after `wait`
    // (or Stop was called from a task): that thread is then left to finish on its own and ends
    // with the process.
    bool Stop(std::chrono::milliseconds wait);

    StopSignal Signal() const;

    static constexpr std::chrono::milliseconds kExitWait{3000};

private:
    const StartThread m_start;
    std::shared_ptr<StopSignal::State> m_state;
};

}  // namespace vorn
