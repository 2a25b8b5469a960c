#include "serial/ThreadSync.h"

namespace vx::serial {

UiSync& UiSync::instance() {
    static UiSync sync;
    return sync;
}

UiSync::UiSync() : m_uiThread(std::this_thread::get_id()) {}

void UiSync::setUiThread(std::thread::id id) {
    std::lock_guard lock(m_mutex);
    m_uiThread = id;
}

bool UiSync::onUiThread() const {
    std::lock_guard lock(m_mutex);
    return std::this_thread::get_id() == m_uiThread;
}

void UiSync::setWaker(std::function<void()> waker) {
    std::lock_guard lock(m_mutex);
    m_waker = std::move(waker);
}

void UiSync::runOnUi(std::function<void()> fn) {
    if (onUiThread()) {
        fn();
        return;
    }
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    call->waited = true;
    enqueue(call);
    std::unique_lock lock(m_mutex);
    m_doneCv.wait(lock, [&] { return call->done; });
    if (call->error)
        std::rethrow_exception(call->error);
}

void UiSync::postToUi(std::function<void()> fn) {
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    enqueue(call);
}

void UiSync::enqueue(const std::shared_ptr<Call>& call) {
    std::function<void()> waker;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(call);
        waker = m_waker;
    }
    m_cv.notify_all();
    if (waker)
        waker(); // outside the lock: it may post to another thread's queue
}

int UiSync::drain() {
    int ran = 0;
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                return ran;
            call = m_queue.front();
            m_queue.pop_front();
        }
        try {
            call->fn();
        } catch (...) {
            // A posted call has nobody to carry the error back to.
            call->error = std::current_exception();
        }
        ++ran;
        {
            std::lock_guard lock(m_mutex);
            call->done = true;
        }
        m_doneCv.notify_all();
    }
}

void UiSync::waitForWork(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    const unsigned seen = m_wakeups;
    m_cv.wait_for(lock, timeout, [&] { return !m_queue.empty() || m_wakeups != seen; });
}

void UiSync::wake() {
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_cv.notify_all();
}

} // namespace vx::serial

namespace vx::serial {

std::size_t UiSync::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

} // namespace vx::serial
