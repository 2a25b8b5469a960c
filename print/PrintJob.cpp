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

JobOutcome runPrintJob(PrintBackend& backend, RecordSource& records, const JobParams& job) {
    JobOutcome out;
    out.backend = backend.name();
    std::vector<std::optional<std::int64_t>> printed; // each label's record, in order
    try {
        backend.create();
        backend.Visible(false);
        backend.formats();
        backend.open(job.templatePath, true, "");
        records.select(job);
        LabelRecord r;
        while (records.next(r)) {
            backend.SetNamedSubStringValue("sjy-bh", r.bh);
            backend.SetNamedSubStringValue("sjy-tt", r.tt);
            // No call for an empty picture: the substring keeps what it held.
            if (!r.pic.empty())
                backend.SetNamedSubStringValue("sjy-pic", r.pic);
            backend.printout(1, false);
            ++out.labels;
            printed.push_back(recordNumber(r.bh));
        }
        backend.Close(0);
        out.held = backend.held();
        backend.release();
        backend.quit(1);
        out.ok = true;
    } catch (const std::exception& e) {
        out.message = e.what();
        if (out.message.empty())
            out.message = "unknown failure";
    }
    out.sent = backend.labelsSent();
    if (out.sent && *out.sent > 0 && static_cast<std::size_t>(*out.sent) <= printed.size())
        out.lastRecordSent = printed[static_cast<std::size_t>(*out.sent) - 1];
    return out;
}

} // namespace vx::print
