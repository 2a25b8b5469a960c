#include "print/PrintJob.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace vx::print {

int labelValueIndex(std::string_view name) {
    for (std::size_t i = 0; i < kLabelValueNames.size(); ++i)
        if (kLabelValueNames[i] == name)
            return static_cast<int>(i);
    return -1;
}

std::string shownBytes(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && ch != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string code128Problem(std::string_view text, bool digitPairs) {
    if (text.empty())
        return "it is empty, and an empty bar code carries no code";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::string at = " at byte " + std::to_string(i + 1);
        if (c >= 0x80)
            return "a byte beyond ASCII (" + shownBytes(text.substr(i, 1)) + at +
                   ", Chinese or other non-ASCII text) has no Code 128 character";
        if (c < 0x20 || c == 0x7F)
            return "a control character (" + shownBytes(text.substr(i, 1)) + at +
                   ") cannot be printed in Code 128 for a scanner to read back";
        if (digitPairs && !(c >= '0' && c <= '9'))
            return "Code 128 subset C carries digits only, and '" + std::string(1, text[i]) + "'" +
                   at + " is none";
    }
    if (digitPairs && text.size() % 2 != 0)
        return "Code 128 subset C carries digits in pairs, and the text has an odd number";
    return {};
}

std::string readTemplateFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PrintError("cannot open the template \"" + path + "\": " + std::strerror(errno));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

// bh as a number; nothing for a text that is none.
std::optional<std::int64_t> recordNumber(const std::string& bh) {
    if (bh.empty() || bh.size() > 18)
        return std::nullopt;
    std::int64_t n = 0;
    for (char c : bh) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

JobOutcome runPrintJob(PrintBackend& backend, RecordSource& records, const JobParams& job,
                       const JobHooks& hooks) {
    JobOutcome out;
    out.backend = backend.name();
    std::vector<std::optional<std::int64_t>> printed; // each label's record, in order
    auto cancelled = [&] { return hooks.cancelled && hooks.cancelled(); };
    const std::string cancelMessage = "cancelled by the operator";
    int total = -1;
    int reported = -1; // the labels sent as last told to hooks.progress
    try {
        if (cancelled())
            throw JobCancelled(cancelMessage);
        backend.create();
        backend.Visible(false);
        backend.formats();
        backend.open(job.templatePath, true, "");
        records.select(job);
        const long count = records.count();
        total = count < 0 ? -1 : static_cast<int>(count);
        backend.setJobHooks(&hooks, total);
        if (hooks.started)
            hooks.started(total);
        LabelRecord r;
        while (records.next(r)) {
            if (cancelled())
                throw JobCancelled(cancelMessage);
            try {
                backend.SetNamedSubStringValue("sjy-bh", r.bh);
                backend.SetNamedSubStringValue("sjy-tt", r.tt);
                // No call for an empty picture: the substring keeps what it held.
                if (!r.pic.empty())
                    backend.SetNamedSubStringValue("sjy-pic", r.pic);
                backend.printout(1, false);
            } catch (const UnprintableValue& e) {
                throw PrintError("record " + r.bh + ": " + e.what());
            }
            ++out.labels;
            printed.push_back(recordNumber(r.bh));
            if (const std::optional<int> sent = backend.labelsSent();
                sent && *sent != reported && hooks.progress) {
                reported = *sent;
                hooks.progress(*sent, total);
            }
        }
        // A back end that sends at Close checks for a cancel itself.
        if (cancelled() && backend.labelsSent() == 0)
            throw JobCancelled(cancelMessage);
        backend.Close(0);
        out.held = backend.held();
        backend.release();
        backend.quit(1);
        out.ok = true;
    } catch (const JobCancelled& e) {
        out.cancelled = true;
        out.message = e.what();
    } catch (const std::exception& e) {
        out.message = e.what();
        if (out.message.empty())
            out.message = "unknown failure";
    }
    backend.setJobHooks(nullptr, -1);
    out.sent = backend.labelsSent();
    if (out.sent && *out.sent > 0 && static_cast<std::size_t>(*out.sent) <= printed.size())
        out.lastRecordSent = printed[static_cast<std::size_t>(*out.sent) - 1];
    if (out.ok && hooks.progress && out.sent && *out.sent != reported)
        hooks.progress(*out.sent, total);
    return out;
}

} // namespace vx::print
