#include "print/PrintJournal.h"

#include "data/Value.h"

namespace vx::print {
namespace {

void setRange(journal::JournalEvent& e, const std::string& lower, const std::string& upper) {
    e.low = data::parseInteger(lower);
    e.high = data::parseInteger(upper);
}

const char* kindOf(const std::string& reprint) {
    return reprint.empty() ? journal::JournalWords::Print : journal::JournalWords::Reprint;
}

} // namespace

journal::JournalEvent PrintJournal::dispatchEvent(const std::string& lower,
                                                  const std::string& upper,
                                                  const std::string& templatePath, bool direct,
                                                  const std::string& reprint) {
    journal::JournalEvent e;
    e.kind = kindOf(reprint);
    e.what = journal::JournalWords::Dispatched;
    setRange(e, lower, upper);
    e.subject = templatePath;
    e.backend = direct ? "direct" : "manual";
    e.message = reprint;
    return e;
}

journal::JournalEvent PrintJournal::outcomeEvent(const JobParams& job, const JobOutcome& outcome) {
    journal::JournalEvent e;
    e.kind = kindOf(job.reprint);
    e.what = outcome.cancelled      ? journal::JournalWords::Cancelled
             : !outcome.ok          ? journal::JournalWords::Failed
             : outcome.held.empty() ? journal::JournalWords::Printed
                                    : journal::JournalWords::Queued;
    setRange(e, job.lower, job.upper);
    if (outcome.sent)
        e.labels = *outcome.sent;
    // Where a failed job's printer took its first labels, the record of the
    // last one: printing goes on after it.
    if (!outcome.ok)
        e.record = outcome.lastRecordSent;
    e.subject = job.templatePath;
    e.backend = outcome.backend;
    e.message = outcome.ok ? outcome.held : outcome.message;
    if (outcome.sent != outcome.labels)
        e.message += (e.message.empty() ? "" : "; ") + std::to_string(outcome.labels) +
                     " label(s) laid out, " +
                     (outcome.sent ? std::to_string(*outcome.sent) : "an unknown number") +
                     " sent to the printer";
    return e;
}

void PrintJournal::dispatched(const JobParams& job) {
    m_journal->append(dispatchEvent(job.lower, job.upper, job.templatePath, true, job.reprint));
}

void PrintJournal::started(const JobParams& job, int total) {
    journal::JournalEvent e;
    e.kind = kindOf(job.reprint);
    e.what = journal::JournalWords::Printing;
    setRange(e, job.lower, job.upper);
    e.subject = job.templatePath;
    // The template (subject) and the printer the labels go to.
    e.message = (total < 0 ? std::string("labels not counted")
                           : std::to_string(total) + " label(s) to print") +
                (job.printer.empty() ? std::string(" on the default printer")
                                     : " on the printer " + job.printer);
    m_journal->append(e);
}

void PrintJournal::finished(const JobParams& job, const JobOutcome& outcome) {
    m_journal->append(outcomeEvent(job, outcome));
}

} // namespace vx::print
