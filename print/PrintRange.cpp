#include "print/PrintRange.h"

#include <charconv>
#include <climits>

namespace vx::print {

NotAnInteger::NotAnInteger(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid integer value"), m_text(text) {}

std::int32_t toInteger(std::string_view text) {
    std::string_view t = text;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.remove_prefix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    // from_chars takes no sign of its own here, so "+-5" and "--5" fail.
    std::int64_t v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || t.front() == '-' || r.ec != std::errc() || r.ptr != t.data() + t.size())
        throw NotAnInteger(std::string(text));
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        throw NotAnInteger(std::string(text));
    return static_cast<std::int32_t>(v);
}

bool isRangeText(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '-'))
            return false;
    return true;
}

RangeText splitRange(std::string_view text) {
    const std::string t(text);
    const std::size_t dash = t.find('-');
    if (dash == std::string::npos)
        return {t, t, t};
    if (dash + 1 == t.size()) {
        const std::string s = t.substr(0, t.size() - 1);
        return {s, s, s};
    }
    if (dash == 0) {
        const std::string s = t.substr(1);
        return {s, s, s};
    }
    return {t.substr(0, dash), t.substr(dash + 1), t};
}

namespace {

std::string plusOne(std::int64_t v) {
    return std::to_string(v + 1);
}

} // namespace

RangeOutcome PrintState::Edit_willprnEnter(std::string_view text, PrintHost& host) {
    RangeOutcome out;
    if (!isRangeText(text)) {
        out.message = RangeOutcome::Message::InvalidRange;
        return out;
    }
    host.resetBatchCounter();
    const RangeText r = splitRange(text);
    const std::int32_t end = toInteger(r.end);
    const std::int32_t start = toInteger(r.start);
    if (end < start) {
        // Nothing is stored, but the bounds still go out as they are: a
        // direct print selects no record, a manual one still hands over.
        out.message = RangeOutcome::Message::ReversedRange;
        out.dispatch = JobBounds{r.start, r.end};
        return out;
    }
    // The next number is compared as text: a start typed as 011 is not 11.
    const std::string next = plusOne(toInteger(host.readLastnum()));
    if (next != r.start && !host.confirmNotNext()) {
        out.startBox = plusOne(toInteger(heldLastPrinted));
        return out;
    }
    accept(r.end, end, r.listText, out, host);
    out.dispatch = JobBounds{r.start, r.end};
    return out;
}

// lastnum first: a batch the file does not record is neither listed nor
// held, so the batch list never shows a range as printed that a restart
// would offer again.
void PrintState::accept(const std::string& end, std::int64_t endValue, const std::string& listText,
                        RangeOutcome& out, PrintHost& host) {
    host.writeLastnum(end);
    heldLastPrinted = end;
    LB_alprn.push_back(listText);
    LB_alprnJobs.emplace_back();
    out.entry = LB_alprn.size() - 1;
    out.clipboard = listText;
    out.startBox = plusOne(endValue);
}

RangeOutcome PrintState::Edit_zhengEnter(std::string_view startText, std::string_view countText,
                                         PrintHost& host) {
    RangeOutcome out;
    const std::string start(startText);
    host.resetBatchCounter();
    // In 64 bits: a count near the 32-bit limit gives its true end, not a
    // wrapped one.
    const std::int64_t endValue =
        std::int64_t{toInteger(countText)} + std::int64_t{toInteger(start)} - 1;
    const std::string end = std::to_string(endValue);
    accept(end, endValue, start + "-" + end, out, host);
    out.focusStartBox = true;
    out.dispatch = JobBounds{start, end};
    return out;
}

RangeOutcome PrintState::reprint(std::string_view text, const std::string& reason) {
    RangeOutcome out;
    if (text.empty() || !isRangeText(text)) {
        out.message = RangeOutcome::Message::InvalidRange;
        return out;
    }
    const RangeText r = splitRange(text);
    const std::int32_t end = toInteger(r.end);
    const std::int32_t start = toInteger(r.start);
    if (end < start) {
        out.message = RangeOutcome::Message::ReversedRange;
        return out;
    }
    const auto last = heldLastPrinted.empty()
                          ? std::nullopt
                          : std::optional<std::int32_t>(toInteger(heldLastPrinted));
    if (start < 1 || !last || end > *last) {
        out.message = RangeOutcome::Message::NotPrinted;
        return out;
    }
    LB_alprn.push_back(r.listText);
    LB_alprnJobs.emplace_back().reprint = reason;
    out.entry = LB_alprn.size() - 1;
    out.clipboard = r.listText;
    out.dispatch = JobBounds{r.start, r.end};
    return out;
}

std::string reprintReasonShown(const std::string& word) {
    for (const ReprintReason& r : kReprintReasons)
        if (word == r.word)
            return r.shown;
    return word;
}

void PrintState::reset() {
    LB_alprn.clear();
    LB_alprnJobs.clear();
    heldLastPrinted.assign(1, '0');
}

JobParams PrintState::job(const JobBounds& bounds, JobTarget target,
                          std::optional<std::size_t> entry) const {
    JobParams job;
    if (entry && *entry < LB_alprnJobs.size())
        job.reprint = LB_alprnJobs[*entry].reprint;
    job.lower = bounds.lower;
    job.upper = bounds.upper;
    job.templatePath = templatePath;
    job.printer = std::move(target.printer);
    job.database = std::move(target.database);
    job.baseFolder = std::move(target.baseFolder);
    job.charset = std::move(target.charset);
    return job;
}

void PrintState::LB_alprnDblClick(int selected) {
    if (selected < 0 || static_cast<std::size_t>(selected) >= LB_alprn.size())
        return;
    LB_alprn.erase(LB_alprn.begin() + selected);
    LB_alprnJobs.erase(LB_alprnJobs.begin() + selected);
}

void PrintState::jobQueued(std::size_t entry, std::uint64_t serial) {
    if (entry >= LB_alprnJobs.size())
        return;
    std::string reprint = std::move(LB_alprnJobs[entry].reprint);
    LB_alprnJobs[entry] = EntryJob{};
    LB_alprnJobs[entry].serial = serial;
    LB_alprnJobs[entry].reprint = std::move(reprint);
}

bool PrintState::jobChanged(std::uint64_t serial, JobState state, std::optional<int> sent,
                            int total, const std::string& reason) {
    if (serial == 0)
        return false;
    for (EntryJob& j : LB_alprnJobs) {
        if (j.serial != serial)
            continue;
        j.state = state;
        j.sent = sent;
        j.total = total >= 0 ? total : j.total;
        j.reason = reason;
        return true;
    }
    return false;
}

std::string PrintState::entryText(std::size_t entry) const {
    const EntryJob& j = entry < LB_alprnJobs.size() ? LB_alprnJobs[entry] : EntryJob{};
    // A reprint says so, with its reason: "3 补打(损坏) 已打印 1/1".
    const std::string range =
        LB_alprn.at(entry) +
        (j.reprint.empty() ? std::string() : " 补打(" + reprintReasonShown(j.reprint) + ")");
    if (j.serial == 0)
        return range;
    const std::string count = " " + (j.sent ? std::to_string(*j.sent) : std::string("未知")) +
                              (j.total >= 0 ? "/" + std::to_string(j.total) : "");
    switch (j.state) {
    case JobState::Queued:
        return range + " 排队中";
    case JobState::Printing:
        return range + " 打印中" + count;
    case JobState::Printed:
        return range + " 已打印" + count;
    case JobState::Held:
        return range + " 未打印" + count;
    case JobState::Failed:
        return range + " 失败" + count;
    case JobState::Cancelled:
        return range + " 已取消" + count;
    }
    return range;
}

} // namespace vx::print
