// vexora-btprint: runs the station's print job, exactly as a direct print
// does (on the print worker's thread, the back end chosen by the template's
// extension, failures into the error log), on records given on the command
// line or in a file instead of the database. On Windows it drives BarTender
// (or whatever is registered as BarTender.Application.10); elsewhere gLabels;
// on both, ZPL label printers.

#include "data/Folder.h"
#include "print/ErrorLog.h"
#include "print/ListRecords.h"
#include "print/PrintRange.h"
#include "print/PrintWorker.h"
#include "settings/StationFolder.h"
#include "settings/StationSettings.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kUsageLine = "usage: vexora-btprint [options] TEMPLATE [RECORD...]\n";

const char* const kUsage = R"usage(usage: vexora-btprint [options] TEMPLATE [RECORD...]

Runs one print job of the station on the records given, on the print worker
thread, with the back end the template's extension picks (.btw: BarTender
through COM automation on Windows; .glabels: gLabels and CUPS elsewhere;
.zpl: a ZPL label printer, on both, sent raw).

  RECORD            bh|tt|pic  one record of a15: number, code text, picture
                    path; "bh|tt" when there is no picture. The picture is
                    what follows the last '|' of two or more, so "5|VX5|"
                    has an empty one and "5|A|B|p.png" the code text "A|B".
  --records FILE    more records, one per line in the same form (LF or CR LF
                    line ends; empty lines are skipped); after those on the
                    command line.
  --range LOWER UPPER
                    the job's bounds (default: the smallest and largest bh
                    given; with no record at all, 1 0). Records outside them
                    are not printed, as the database query would not select
                    them; LOWER above UPPER is the reversed range that prints
                    nothing.
  --printer NAME    where the labels go, as [print] printer= in config.ini:
                    a print queue (default: the default destination); for
                    .zpl also tcp://HOST:9100 (a label printer's raw port) or
                    a device (/dev/usb/lp0; LPT1, COM3 or \\host\share on
                    Windows). BarTender prints where its template says.
  --log FILE        the error log a failed job is written to (default:
                    error.log in the current folder).
  --check           print nothing; say whether the station offers direct
                    printing of TEMPLATE here, as 直接BT打印 does: a back end
                    takes its type and can print (for .btw: BarTender's
                    automation server is registered). Exit status 0 yes, 1 no.
  --station DIR     a station's folder, as vexora --station takes it: its
                    error.log and its [print] printer are the defaults of
                    --log and --printer.
  --version         the version.
  -h, --help        this text.

The job makes, in this order: create, Visible(false), formats, open(TEMPLATE
by reference, true, ""), then per record SetNamedSubStringValue("sjy-bh"),
SetNamedSubStringValue("sjy-tt"), SetNamedSubStringValue("sjy-pic") only for
a non-empty picture, printout(1, false); then Close(0), the release of the
format and quit(1). The first failing call ends the job: Close and quit are
skipped.

Output: one line on standard output, "printed N label(s)",
"not printed; S of N label(s) held in the queue: WHY" (a disabled CUPS queue)
or "failed; S of N label(s) sent to the printer: MESSAGE" (N: the printout
calls that returned; S: the labels the back end handed on, each at its
printout for BarTender, all at Close for gLabels and ZPL; "an unknown number"
where the printer closed the connection with part of the job unread).
Exit status: 0 the job printed, 1 it failed or is held, 2 usage error.
)usage";

bool readRecords(const std::string& path, std::vector<vx::print::LabelRecord>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "vexora-btprint: cannot read " << path << "\n";
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        vx::print::LabelRecord r;
        if (!vx::print::parseRecord(line, r)) {
            std::cerr << "vexora-btprint: " << path << ":" << number << ": not a record: " << line
                      << "\n";
            return false;
        }
        out.push_back(std::move(r));
    }
    return true;
}

int usageError(const std::string& what) {
    std::cerr << "vexora-btprint: " << what << "\n" << kUsageLine << "(see --help)\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vx::print;
    std::vector<LabelRecord> records;
    std::vector<std::string> files;
    std::string templatePath, lower, upper, station;
    std::optional<std::string> printer, logPath;
    bool stationGiven = false, optionsEnd = false, check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        const bool option = !optionsEnd && a.size() > 1 && a[0] == '-';
        if (!option) {
            if (templatePath.empty()) {
                templatePath = a;
            } else {
                LabelRecord r;
                if (!parseRecord(a, r))
                    return usageError("not a record (bh|tt|pic): " + a);
                records.push_back(std::move(r));
            }
        } else if (a == "--") {
            optionsEnd = true;
        } else if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "vexora-btprint " << VEXORA_VERSION << "\n";
            return 0;
        } else if (a == "--station") {
            if (!value(station) || station.empty())
                return usageError("--station needs a folder");
            stationGiven = true;
        } else if (a == "--records") {
            std::string f;
            if (!value(f))
                return usageError("--records needs a file");
            files.push_back(f);
        } else if (a == "--range") {
            if (!value(lower) || !value(upper))
                return usageError("--range needs LOWER and UPPER");
        } else if (a == "--printer") {
            if (!value(printer.emplace()))
                return usageError("--printer needs a name");
        } else if (a == "--check") {
            check = true;
        } else if (a == "--log") {
            if (!value(logPath.emplace()))
                return usageError("--log needs a file");
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (templatePath.empty())
        return usageError("no template given");
    if (check) {
        const bool offered = directPrintAvailable(platformBackends(), templatePath);
        std::cout << (offered ? "direct printing offered\n" : "direct printing not offered\n");
        return offered ? 0 : 1;
    }
    for (const std::string& f : files)
        if (!readRecords(f, records))
            return 2;

    // A station's error log and printer, unless given; read, never created.
    if (stationGiven) {
        const auto place = vx::settings::locateStation(vx::data::executableFolder(), station);
        if (!logPath)
            logPath = place.folder + ErrorLog::kFileName;
        if (!printer)
            printer = vx::settings::StationSettings(place.folder).printer();
    }

    JobParams job;
    job.templatePath = templatePath;
    job.printer = printer.value_or("");
    if (!lower.empty()) {
        job.lower = lower;
        job.upper = upper;
    } else if (!records.empty()) {
        std::int64_t lo = toInteger(records.front().bh), hi = lo;
        for (const LabelRecord& r : records) {
            lo = std::min<std::int64_t>(lo, toInteger(r.bh));
            hi = std::max<std::int64_t>(hi, toInteger(r.bh));
        }
        job.lower = std::to_string(lo);
        job.upper = std::to_string(hi);
    } else {
        job.lower = "1";
        job.upper = "0"; // no records: a range that selects none
    }
    try {
        toInteger(job.lower);
        toInteger(job.upper);
    } catch (const NotAnInteger& e) {
        return usageError(e.what());
    }

    // The outcome is read on this thread once the worker is idle.
    struct Result : JobObserver {
        JobOutcome outcome;
        void finished(const JobParams&, const JobOutcome& o) override { outcome = o; }
    };
    auto result = std::make_shared<Result>();
    PrintWorker worker(platformBackends(),
                       [records] { return std::make_unique<ListRecords>(records); });
    worker.addObserver(std::make_shared<ErrorLog>(logPath.value_or(ErrorLog::kFileName)));
    worker.addObserver(result);
    if (!worker.start(job)) {
        std::cout << "failed; 0 of 0 label(s) sent to the printer: the print worker thread could "
                     "not be created\n";
        return 1;
    }
    worker.close(PrintWorker::kCloseWait);
    const JobOutcome& o = result->outcome;
    const std::string sent = o.sent ? std::to_string(*o.sent) : "an unknown number";
    if (o.ok && o.held.empty()) {
        std::cout << "printed " << o.labels << " label(s)\n";
        return 0;
    }
    if (o.ok) {
        std::cout << "not printed; " << sent << " of " << o.labels
                  << " label(s) held in the queue: " << o.held << "\n";
        return 1;
    }
    std::cout << "failed; " << sent << " of " << o.labels
              << " label(s) sent to the printer: " << o.message << "\n";
    return 1;
}
