#include "scan/ScanJournal.h"

namespace vx::scan {

namespace JournalVerdict = journal::JournalVerdict;

const char* journalVerdict(Verdict v) {
    switch (v) {
    case Verdict::NotCompared:
        return JournalVerdict::ComparisonOff;
    case Verdict::NoDatabase:
        return JournalVerdict::NoDatabase;
    case Verdict::WrongLength:
        return JournalVerdict::WrongLength;
    case Verdict::NotFound:
        return JournalVerdict::NotFound;
    case Verdict::IgnoredRepeat:
        return JournalVerdict::IgnoredRepeat;
    case Verdict::Duplicate:
        return JournalVerdict::Duplicate;
    case Verdict::MissingRange:
        return JournalVerdict::MissingRange;
    case Verdict::Good:
        return JournalVerdict::Good;
    case Verdict::DatabaseFailure:
        return JournalVerdict::DatabaseError;
    }
    return "unknown";
}

journal::JournalEvent scanEvent(const ScanOutcome& out) {
    journal::JournalEvent e;
    e.kind = journal::JournalWords::Scan;
    e.what = journalVerdict(out.verdict);
    e.raw = out.edit_rec;
    e.code = out.edit_recstr;
    e.record = out.record;
    if (out.missing) {
        e.low = out.missing->first;
        e.high = out.missing->second;
    }
    e.message = out.error;
    return e;
}

} // namespace vx::scan
