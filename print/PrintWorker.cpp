#include "print/PrintWorker.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vx::print {

struct PrintWorker::State {
    BackendFactory backends;
    RecordSourceMaker makeRecords;
    std::vector<std::shared_ptr<JobObserver>> observers;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<JobParams> queue;
    bool running = false; // a job is between its start and its observers
    bool closing = false;
    std::uint64_t runningSerial = 0;
    std::atomic<bool> cancelRunning{false};
    std::uint64_t serial = 0;
    std::thread thread;

    // Tells every observer; one that fails must not stop the printing.
    template <class F> void tell(F&& f) {
        for (const auto& o : observers) {
            try {
                f(*o);
            } catch (const std::exception&) {
            }
        }
    }
    void notify(const JobParams& job, const JobOutcome& outcome) {
        tell([&](JobObserver& o) { o.finished(job, outcome); });
    }

    static void loop(const std::shared_ptr<State>& self) {
        std::unique_ptr<RecordSource> records;
        for (;;) {
            JobParams job;
            {
                std::unique_lock lock(self->mutex);
                self->changed.wait(lock, [&] { return !self->queue.empty() || self->closing; });
                if (self->queue.empty())
                    return; // closing and nothing left
                job = std::move(self->queue.front());
                self->queue.pop_front();
                self->running = true;
                self->runningSerial = job.serial;
                self->cancelRunning = false;
            }
            JobHooks hooks;
            hooks.cancelled = [&] { return self->cancelRunning.load(); };
            hooks.started = [&](int total) {
                self->tell([&](JobObserver& o) { o.started(job, total); });
            };
            hooks.progress = [&](int sent, int total) {
                self->tell([&](JobObserver& o) { o.progress(job, sent, total); });
            };
            JobOutcome outcome;
            try {
                if (!records)
                    records = self->makeRecords();
                std::unique_ptr<PrintBackend> backend = self->backends.make(job);
                outcome = runPrintJob(*backend, *records, job, hooks);
            } catch (const std::exception& e) {
                outcome.ok = false;
                outcome.message = e.what();
            }
            self->notify(job, outcome);
            {
                std::lock_guard lock(self->mutex);
                self->running = false;
                self->runningSerial = 0;
            }
            self->changed.notify_all();
        }
    }
};

PrintWorker::PrintWorker(BackendFactory backends, RecordSourceMaker records)
    : m_state(std::make_shared<State>()) {
    m_state->backends = std::move(backends);
    m_state->makeRecords = std::move(records);
}

PrintWorker::~PrintWorker() {
    close(kCloseWait);
}

void PrintWorker::addObserver(std::shared_ptr<JobObserver> observer) {
    m_state->observers.push_back(std::move(observer));
}

std::uint64_t PrintWorker::start(JobParams job) {
    State& s = *m_state;
    {
        std::lock_guard lock(s.mutex);
        if (s.closing)
            return 0;
        if (!s.thread.joinable()) {
            try {
                s.thread = std::thread(&State::loop, m_state);
            } catch (const std::system_error&) {
                return 0;
            }
        }
        job.serial = ++s.serial;
        // Told before the worker can take the job, so that no observer
        // hears of a job's end before its dispatch.
        for (const auto& o : s.observers) {
            try {
                o->dispatched(job);
            } catch (const std::exception&) {
                // an observer that fails must not stop the printing
            }
        }
        s.queue.push_back(job);
    }
    s.changed.notify_all();
    return job.serial;
}

bool PrintWorker::cancel(std::uint64_t serial) {
    State& s = *m_state;
    JobParams dropped;
    {
        std::lock_guard lock(s.mutex);
        if (serial != 0 && s.running && s.runningSerial == serial) {
            s.cancelRunning = true;
            return true;
        }
        const auto queued = std::find_if(s.queue.begin(), s.queue.end(),
                                         [&](const JobParams& j) { return j.serial == serial; });
        if (queued == s.queue.end())
            return false;
        dropped = std::move(*queued);
        s.queue.erase(queued);
    }
    s.changed.notify_all();
    JobOutcome outcome;
    outcome.cancelled = true;
    outcome.message = "cancelled by the operator before it started; nothing was printed";
    s.notify(dropped, outcome);
    return true;
}

bool PrintWorker::waitIdle(std::chrono::milliseconds timeout) {
    State& s = *m_state;
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, timeout, [&] { return s.queue.empty() && !s.running; });
}

void PrintWorker::close(std::chrono::milliseconds timeout) {
    State& s = *m_state;
    std::deque<JobParams> abandoned;
    bool idle = false;
    {
        std::unique_lock lock(s.mutex);
        if (s.closing && !s.thread.joinable())
            return;
        s.closing = true;
        s.changed.notify_all();
        idle = s.changed.wait_for(lock, timeout, [&] { return s.queue.empty() && !s.running; });
        abandoned.swap(s.queue);
    }
    for (const JobParams& job : abandoned) {
        JobOutcome outcome;
        outcome.message = "the station closed before the job started; nothing was printed";
        s.notify(job, outcome);
    }
    if (!s.thread.joinable())
        return;
    if (idle)
        s.thread.join();
    else
        s.thread.detach(); // it holds the state and ends after its current job
}

} // namespace vx::print
