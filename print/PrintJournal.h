#pragma once

#include "journal/Journal.h"
#include "print/PrintWorker.h"

#include <memory>

namespace vx::print {

// Puts every print job on the station's journal: a row when the range is
// handed to the worker (queued), one when it starts printing, with the
// labels it has, and one when it has ended ("printed", "failed",
// "cancelled", or "queued" where a queue holds it), with the labels sent to
// the printer (empty when unknown), the back end and its message. A
// reprint's rows are of the kind "reprint", its reason in the dispatch row.
class PrintJournal : public JobObserver {
public:
    // Shared: a job still running when the station closes may end after it.
    explicit PrintJournal(std::shared_ptr<journal::Journal> journal)
        : m_journal(std::move(journal)) {}

    void dispatched(const JobParams& job) override;
    void started(const JobParams& job, int total) override;
    void finished(const JobParams& job, const JobOutcome& outcome) override;

    // The row of a range handed on: "direct" to the worker, "manual" to the
    // operator at the label program; reprint: the reason for a reprint.
    static journal::JournalEvent dispatchEvent(const std::string& lower, const std::string& upper,
                                               const std::string& templatePath, bool direct,
                                               const std::string& reprint = {});
    static journal::JournalEvent outcomeEvent(const JobParams& job, const JobOutcome& outcome);

private:
    std::shared_ptr<journal::Journal> m_journal;
};

} // namespace vx::print
