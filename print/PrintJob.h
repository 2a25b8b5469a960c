#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vx::print {

// Everything one print job needs, copied when the job is dispatched: the
// worker never looks at the window again.
struct JobParams {
    std::string lower, upper; // bounds of bh, both inclusive, as decimal texts
    std::string templatePath; // the label template; its extension picks the back end
    std::string printer;      // [print] printer: the destination queue, "" = default
    std::string database;     // the connection string of the window's connection
    std::string baseFolder;   // folder that relative database paths are taken from
    std::string charset;      // the character set label texts are in ([Database] charset)
    std::uint64_t serial = 0; // dispatch number, counted from 1 by the worker
    // A reprint of labels printed before: why ("damaged", "missing", "test");
    // empty for a range printed for the first time.
    std::string reprint;

    // "3-7", the range as the error log and the journal show it.
    std::string rangeText() const { return lower + "-" + upper; }
};

// One record of a15 as the job prints it: number, code text, picture path.
struct LabelRecord {
    std::string bh, tt, pic;
};

// The named substrings a label's fields are filled from, and a label's
// values in their order.
inline const std::array<std::string, 3> kLabelValueNames{"sjy-bh", "sjy-tt", "sjy-pic"};
using LabelValues = std::array<std::string, 3>;

// The position of name in kLabelValueNames; -1 for any other name.
int labelValueIndex(std::string_view name);

// Raised by back ends and record sources; what() is the message the error
// log shows.
class PrintError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A record's value that the template cannot print: a code text its bar code
// cannot encode, a text that is not in the station's character set. Raised
// by a back end while the record is set or laid out, before anything of the
// job is sent; the job names the record.
class UnprintableValue : public PrintError {
public:
    using PrintError::PrintError;
};

// Why a Code 128 bar code cannot carry text, or "" when it can. It carries
// the printable ASCII characters; a byte beyond ASCII (GBK or UTF-8 Chinese)
// has no Code 128 character, and a control byte, which only subset A
// encodes, would reach the station as a key from the scanner. digitPairs:
// subset C alone, which carries an even number of digits.
std::string code128Problem(std::string_view text, bool digitPairs = false);

// A value as a message shows it, on one line: printable ASCII as it is,
// every other byte as \xHH.
std::string shownBytes(std::string_view text);

// The operator cancelled the job. Raised by the job between labels and by a
// back end that was sending; what() says what the printer had taken.
class JobCancelled : public PrintError {
public:
    using PrintError::PrintError;
};

// How the one running a job follows it: all optional, called on the job's
// thread.
struct JobHooks {
    // Asked between labels and while a back end sends: true stops the job.
    std::function<bool()> cancelled;
    // Once the records are selected: how many labels the job has (-1 when
    // the source cannot tell).
    std::function<void(int total)> started;
    // Whenever the labels handed to the printer change.
    std::function<void(int sent, int total)> progress;
};

// The bytes of a file a back end reads (its template); raises PrintError
// naming it when it cannot be opened.
std::string readTemplateFile(const std::string& path);

// The label-printing application as the print job drives it: the automation
// calls in the order the job makes them. create and quit bracket one job;
// open gives the format that SetNamedSubStringValue, printout and Close act
// on, and release drops it. Every call raises on failure; a back end
// destroyed without Close or quit releases what it holds and nothing more.
class PrintBackend {
public:
    virtual ~PrintBackend() = default;
    // Name for the error log ("BarTender", "gLabels").
    virtual std::string name() const = 0;

    virtual void create() = 0;
    virtual void Visible(bool visible) = 0;
    virtual void formats() = 0;
    virtual void open(const std::string& templatePath, bool closeOutOfDate,
                      const std::string& password) = 0;
    virtual void SetNamedSubStringValue(const std::string& name, const std::string& value) = 0;
    virtual void printout(std::int32_t copies, bool showDialog) = 0;
    virtual void Close(std::int32_t saveChanges) = 0;
    virtual void release() = 0;
    virtual void quit(std::int32_t saveChanges) = 0;

    // Labels handed on to the printer so far: one per printout where each
    // prints at once, all of a job at Close where the job is sent whole.
    // Empty where that cannot be known (a printer that closed the connection
    // with part of the job unread).
    virtual std::optional<int> labelsSent() const = 0;
    // After Close: why the labels handed on are not being printed though
    // nothing failed (a queue that takes jobs and holds them); empty when
    // they print, or when the back end cannot tell.
    virtual std::string held() const { return {}; }

    // The running job's hooks, set by runPrintJob for the job's length. A
    // back end that sends at Close reports its progress through them and
    // stops when the job is cancelled.
    void setJobHooks(const JobHooks* hooks, int total) {
        m_hooks = hooks;
        m_total = total;
    }

protected:
    bool cancelRequested() const { return m_hooks && m_hooks->cancelled && m_hooks->cancelled(); }
    void reportSent(int sent) const {
        if (m_hooks && m_hooks->progress)
            m_hooks->progress(sent, m_total);
    }

private:
    const JobHooks* m_hooks = nullptr;
    int m_total = -1;
};

// Where the job's records come from. The station's source is a15 on a
// connection of the worker's own; tools and tests hand records in directly.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // Selects the records with lower <= bh <= upper, in the order the source
    // keeps them. A reversed range selects nothing.
    virtual void select(const JobParams& job) = 0;
    // The next selected record; false after the last.
    virtual bool next(LabelRecord& record) = 0;
    // How many records the last select chose; -1 when the source cannot tell.
    virtual long count() const { return -1; }
};

// How one job ended.
struct JobOutcome {
    bool ok = false;
    bool cancelled = false;      // by the operator; ok is false
    int labels = 0;              // printout calls that returned
    std::optional<int> sent = 0; // labels the back end handed to the printer; empty: unknown
    std::string held;            // ok, but a queue holds the labels: why (see held())
    std::string backend;         // the back end's name, empty if none could be made
    std::string message;         // the failure's message; empty when ok
    // The record of the last label sent, where some were sent (labels go in
    // the order of the records), so a failed or cancelled job tells where to
    // go on.
    std::optional<std::int64_t> lastRecordSent;
};

// Runs one job: the automation calls in order, one label per record. A
// failure at any call ends the job there: Close and quit are skipped, and the
// back end is left to release its references when it is destroyed. A cancel
// (hooks.cancelled) ends it the same way before the next label.
JobOutcome runPrintJob(PrintBackend& backend, RecordSource& records, const JobParams& job,
                       const JobHooks& hooks = {});

} // namespace vx::print
