#pragma once

#include "print/PrintJob.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vx::print {

// A text that is not a whole 32-bit number where one is needed. what() is
// the general error report's text: "'<text>' is not a valid integer value".
class NotAnInteger : public std::runtime_error {
public:
    explicit NotAnInteger(const std::string& text);
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

// The conversion the print area applies to its boxes and to lastnum: blanks
// before the number and a sign are allowed, nothing after it, 32 bits.
std::int32_t toInteger(std::string_view text);

// The start box's text split into its bounds, before any conversion.
struct RangeText {
    std::string start, end;
    std::string listText; // the batch list entry
};

// Splits at the first dash: no dash, a dash last, a dash first, or between
// two numbers, tested in that order. Only digits and dashes are expected.
RangeText splitRange(std::string_view text);

// True when every byte is a digit or a dash.
bool isRangeText(std::string_view text);

// The bounds handed to a print job, as decimal texts.
struct JobBounds {
    std::string lower, upper;
    bool operator==(const JobBounds&) const = default;
};

// What the print area needs from the station around it.
class PrintHost {
public:
    virtual ~PrintHost() = default;
    // print/lastnum as config.ini holds it now; "0" when the key is missing.
    virtual std::string readLastnum() = 0;
    virtual void writeLastnum(const std::string& value) = 0;
    // "【开始打印数】不是下一个,确定选这个开始吗？"; true for Yes.
    virtual bool confirmNotNext() = 0;
    // A print batch starts a new small batch of scans.
    virtual void resetBatchCounter() = 0;
};

// A direct print job's state, as its batch list entry shows it. Held: a
// print queue took the job and holds it (a disabled CUPS queue); nothing
// failed, and nothing is printed.
enum class JobState { Queued, Printing, Printed, Held, Failed, Cancelled };

// The job a batch list entry was handed to.
struct EntryJob {
    // The print worker's number for the job; 0: no job (printed by hand, or
    // the worker could not take it), and the entry shows the range alone.
    std::uint64_t serial = 0;
    JobState state = JobState::Queued;
    std::optional<int> sent = 0; // labels sent to the printer (empty: not known),
    int total = -1;              // of the job's
    std::string reason;          // why it failed, how it was cancelled, why a queue holds it
    // The entry is a reprint, for this reason ("damaged", "missing", "test").
    std::string reprint;
};

// Why labels are printed again, as the journal names them, with the
// operator's word for each (UTF-8).
struct ReprintReason {
    const char* word;
    const char* shown;
};
inline constexpr ReprintReason kReprintReasons[] = {
    {"damaged", "损坏"}, {"missing", "缺失"}, {"test", "测试"}};
// The operator's word for a reason; the reason itself for any other.
std::string reprintReasonShown(const std::string& word);

// What an Enter in the start or count box changes besides the print state.
struct RangeOutcome {
    // NotPrinted: a reprint reaching past the last printed number.
    enum class Message { None, InvalidRange, ReversedRange, NotPrinted };
    Message message = Message::None;
    std::optional<std::string> startBox; // the start box's new text, caret at its end
    bool focusStartBox = false;
    std::optional<std::string> clipboard;
    std::optional<JobBounds> dispatch; // hand these bounds on (print or manual)
    // The batch list entry of the range accepted, if one was: the job the
    // bounds go to prints that entry.
    std::optional<std::size_t> entry;
};

// Where a job prints and where its records come from, as the station has
// them when the range is handed on.
struct JobTarget {
    std::string printer;    // [print] printer
    std::string database;   // the connection string of the window's connection
    std::string baseFolder; // the station's folder
    std::string charset;    // the character set of the label texts
};

// The print area without its widgets: how far printing has got and the
// range logic of the start box, the count box, the batch list and the reset.
// Runs on the user-interface thread.
class PrintState {
public:
    // The end of the last accepted range; empty after a start-up that found
    // no lastnum, until the first range is accepted or the reset runs.
    std::string heldLastPrinted = "0";
    // LB_alprn: one entry per accepted range, newest last.
    std::vector<std::string> LB_alprn;
    // In step with LB_alprn: the job each entry was handed to.
    std::vector<EntryJob> LB_alprnJobs;
    bool directPrint = false;
    std::string templatePath;

    // Enter in the start box. Raises NotAnInteger where a text does not
    // convert; an exception from the host (a failed write) ends it too.
    RangeOutcome Edit_willprnEnter(std::string_view text, PrintHost& host);
    // Enter in the count box, with the start box's text.
    RangeOutcome Edit_zhengEnter(std::string_view startText, std::string_view countText,
                                 PrintHost& host);
    // A reprint of the records of text (a number or a range, read as the
    // start box reads them) for reason. Only records printed before, up to
    // the held last printed number, are reprinted: printing ahead would
    // print them twice once the run reaches them. lastnum, the held number,
    // the start box and the small batch are left alone; the reprint gets an
    // entry of its own, marked as one, at the end of the batch list. Raises
    // NotAnInteger where a text does not convert.
    RangeOutcome reprint(std::string_view text, const std::string& reason);
    // The print side of "全部清除重打印" once answered Yes.
    void reset();
    // Double-click in the batch list; -1 (nothing selected) does nothing.
    void LB_alprnDblClick(int selected);
    // The job for bounds handed on for direct printing, with the template
    // chosen here: everything it needs, copied, so that the worker never
    // looks at the station again. entry: the batch list entry it prints,
    // which says whether it is a reprint.
    JobParams job(const JobBounds& bounds, JobTarget target,
                  std::optional<std::size_t> entry = std::nullopt) const;

    // The entry (RangeOutcome::entry) is printing as the worker's job serial.
    void jobQueued(std::size_t entry, std::uint64_t serial);
    // News of a job; false when no entry shows it (it was double-clicked
    // away, or its range was reversed and never listed).
    bool jobChanged(std::uint64_t serial, JobState state, std::optional<int> sent, int total,
                    const std::string& reason = {});
    // The entry as the list shows it, in UTF-8: the range, and for a job its
    // state and the labels sent of its labels ("3-7 打印中 2/5").
    std::string entryText(std::size_t entry) const;

private:
    // Records an accepted range ending at end (endValue, its number).
    void accept(const std::string& end, std::int64_t endValue, const std::string& listText,
                RangeOutcome& out, PrintHost& host);
};

} // namespace vx::print
