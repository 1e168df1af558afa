#include "common/Worker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace vorn {

struct Worker::StopSignal::State {
    std::mutex mutex;              // guards everything below
    std::condition_variable wake;  // a task was posted, or the worker stops
    std::condition_variable idle;  // the queue ran empty, or the thread ended
    std::deque<Task> queue;
    std::thread thread;
    bool stopping = false;
    bool busy = false;           // a task runs
    bool threadRunning = false;  // the thread has not yet left its loop

    static void Run(const std::shared_ptr<State>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->stopping || !self->queue.empty(); });
            if (self->stopping)
                break;
            Task task = std::move(self->queue.front());
            self->queue.pop_front();
            self->busy = true;
            lock.unlock();
            task();
            // Whatever the task captured goes here, on this thread, before it counts as done.
            task = nullptr;
            lock.lock();
            self->busy = false;
            if (self->queue.empty())
                self->idle.notify_all();
        }
        self->threadRunning = false;
        self->idle.notify_all();
    }
};

bool Worker::StopSignal::Stopping() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->stopping;
}

bool Worker::StopSignal::SleepFor(std::chrono::milliseconds pause) const {
    std::unique_lock lock(m_state->mutex);
    return !m_state->wake.wait_for(lock, pause, [this] { return m_state->stopping; });
}

Worker::Worker(StartThread start)
    : m_start(std::move(start)), m_state(std::make_shared<StopSignal::State>()) {}

Worker::~Worker() {
    Stop(kExitWait);
}

bool Worker::Post(Task task) {
    std::lock_guard lock(m_state->mutex);
    if (m_state->stopping)
        return false;
    if (!m_state->threadRunning) {
        if (m_state->thread.joinable())
            m_state->thread.join();  // left its loop; only the return is left
        try {
            std::function<void()> body = [state = m_state] { StopSignal::State::Run(state); };
            m_state->thread = m_start ? m_start(std::move(body)) : std::thread(std::move(body));
        } catch (const std::system_error&) {
            return false;
        }
        m_state->threadRunning = true;
    }
    m_state->queue.push_back(std::move(task));
    m_state->wake.notify_one();
    return true;
}

bool Worker::WaitForIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_state->mutex);
    return m_state->idle.wait_for(lock, timeout, [this] {
        return !m_state->threadRunning || (!m_state->busy && m_state->queue.empty());
    });
}

bool Worker::Stop(std::chrono::milliseconds wait) {
    std::deque<Task> dropped;
    std::thread thread;
    bool ended = false;
    {
        std::unique_lock lock(m_state->mutex);
        m_state->stopping = true;
        dropped.swap(m_state->queue);
        m_state->wake.notify_all();
        thread = std::move(m_state->thread);
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            ended = m_state->idle.wait_for(lock, wait, [this] { return !m_state->threadRunning; });
        else
            ended = !m_state->threadRunning;
    }
    dropped.clear();
    if (thread.joinable()) {
        if (ended)
            thread.join();
        else
            thread.detach();  // it holds the state it uses; the process exit ends it
    }
    return ended;
}

Worker::StopSignal Worker::Signal() const {
    StopSignal signal;
    signal.m_state = m_state;
    return signal;
}

}  // namespace vorn
