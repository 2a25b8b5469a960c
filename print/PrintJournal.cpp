#include "print/PrintJournal.h"

#include "data/Value.h"

namespace vx::print {
namespace {

void setRange(journal::JournalEvent& e, const std::string& lower, const std::string& upper) {
    e.low = data::parseInteger(lower);
    e.high = data::parseInteger(upper);
}

} // namespace

journal::JournalEvent PrintJournal::dispatchEvent(const std::string& lower,
                                                  const std::string& upper,
                                                  const std::string& templatePath, bool direct) {
    journal::JournalEvent e;
    e.kind = journal::JournalWords::Print;
    e.what = journal::JournalWords::Dispatched;
    setRange(e, lower, upper);
    e.subject = templatePath;
    e.backend = direct ? "direct" : "manual";
    return e;
}

journal::JournalEvent PrintJournal::outcomeEvent(const JobParams& job, const JobOutcome& outcome) {
    journal::JournalEvent e;
    e.kind = journal::JournalWords::Print;
    e.what = outcome.ok ? journal::JournalWords::Printed : journal::JournalWords::Failed;
    setRange(e, job.lower, job.upper);
    e.labels = outcome.sent;
    e.subject = job.templatePath;
    e.backend = outcome.backend;
    e.message = outcome.message;
    if (outcome.labels != outcome.sent)
        e.message += (e.message.empty() ? "" : "; ") + std::to_string(outcome.labels) +
                     " label(s) laid out, " + std::to_string(outcome.sent) + " sent to the printer";
    return e;
}

void PrintJournal::dispatched(const JobParams& job) {
    m_journal->append(dispatchEvent(job.lower, job.upper, job.templatePath, true));
}

void PrintJournal::finished(const JobParams& job, const JobOutcome& outcome) {
    m_journal->append(outcomeEvent(job, outcome));
}

} // namespace vx::print
