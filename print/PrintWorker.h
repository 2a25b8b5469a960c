#pragma once

#include "print/Backends.h"
#include "print/PrintJob.h"

#include <chrono>
#include <functional>
#include <memory>

namespace vx::print {

// Told about every job: where a journal or the error log hooks in.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    // On the dispatching thread, as the job is queued: always before its
    // finished. The worker waits for it, so it must be quick.
    virtual void dispatched(const JobParams&) {}
    // On the worker thread as the job starts printing, with the labels it
    // has (-1 when its records cannot be counted).
    virtual void started(const JobParams&, int /*total*/) {}
    // On the worker thread whenever the labels handed to the printer change.
    virtual void progress(const JobParams&, int /*sent*/, int /*total*/) {}
    // On the worker thread (or the closing or cancelling thread, for a job
    // that never started), once the job has ended.
    virtual void finished(const JobParams&, const JobOutcome&) {}
};

// The one print worker: jobs run one after the other on a thread of its own,
// in the order they were dispatched, so labels reach the printer in the order
// of the batch list. The worker makes its record source once, on its own
// thread (the station's has a database connection no one else uses), and a
// new back end for every job.
class PrintWorker {
public:
    using RecordSourceMaker = std::function<std::unique_ptr<RecordSource>()>;
    // How long closing waits for the running and queued jobs.
    static constexpr std::chrono::seconds kCloseWait{120};

    PrintWorker(BackendFactory backends, RecordSourceMaker records);
    // Closes with kCloseWait.
    ~PrintWorker();
    PrintWorker(const PrintWorker&) = delete;
    PrintWorker& operator=(const PrintWorker&) = delete;

    // Observers are kept for the worker's life; add them before the first job.
    void addObserver(std::shared_ptr<JobObserver> observer);

    // Queues a job and returns at once: the job's serial number, counted
    // from 1. 0 when the worker thread could not be created or the worker is
    // closed: the job will not run.
    std::uint64_t start(JobParams job);

    // Cancels a job: one still queued ends at once, as cancelled, without
    // printing; a running one stops before its next label, or while its
    // back end sends, and the labels the printer took count as sent. False
    // when no such job is queued or running.
    bool cancel(std::uint64_t serial);

    // Waits until no job is queued or running; false if timeout passed first.
    bool waitIdle(std::chrono::milliseconds timeout);

    // Takes no more jobs and waits for the running and queued ones, at most
    // timeout. Jobs that had not started by then end as failures ("the
    // station closed"); a job still running is left to finish on its own
    // thread, which keeps what it needs alive. Idempotent.
    void close(std::chrono::milliseconds timeout);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace vx::print
