#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vx::serial {

// The hand-over from worker threads to the user-interface thread. A worker
// queues a call and, for runOnUi, blocks until the UI thread has run it; an
// exception the call throws is carried back to the worker. The UI thread
// runs queued calls in drain(): the window's event loop calls it when the
// waker fires (also inside modal dialogs, whose nested loops keep
// dispatching), and ClosePort calls it while it waits for the event thread.
class UiSync {
public:
    static UiSync& instance();

    // The thread that runs handed-over calls; by default the one that first
    // asked for the instance.
    void setUiThread(std::thread::id id);
    bool onUiThread() const;
    // Called from any thread each time work is queued; it must only schedule
    // a drain() on the UI thread, never run one itself.
    void setWaker(std::function<void()> waker);

    // Worker side: runs fn on the UI thread and waits for it; rethrows what
    // fn threw. Called on the UI thread itself, runs fn at once.
    void runOnUi(std::function<void()> fn);
    // Worker side: queues fn and returns at once.
    void postToUi(std::function<void()> fn);

    // UI side: runs every queued call; returns how many ran.
    int drain();
    // UI side: waits until work is queued, wake() is called, or timeout.
    void waitForWork(std::chrono::milliseconds timeout);
    // Any thread: ends a waitForWork early (a thread that finished, say).
    void wake();
    // How many calls wait to be run (for tests and diagnostics).
    std::size_t pendingCount() const;

private:
    UiSync();
    struct Call;
    void enqueue(const std::shared_ptr<Call>& call);
    struct Call {
        std::function<void()> fn;
        bool waited = false;
        bool done = false;
        std::exception_ptr error;
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;     // work queued or woken (UI waits)
    std::condition_variable m_doneCv; // a waited call finished (workers wait)
    std::deque<std::shared_ptr<Call>> m_queue;
    std::function<void()> m_waker;
    std::thread::id m_uiThread;
    unsigned m_wakeups = 0;
};

} // namespace vx::serial
