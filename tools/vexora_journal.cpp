// Reads a station's journal (vexora-journal.db beside the station): lists
// and exports its events and reports on a shift, reconciling the labels
// printed with the labels verified by scanning; archives it.
//
//   vexora-journal [--station DIR] [--journal FILE] [--utc] COMMAND [OPTIONS]
//
// See usage() for the commands and the exit codes.

#include "data/Charset.h"
#include "data/ConnectionString.h"
#include "data/Database.h"
#include "data/Folder.h"
#include "data/NewFile.h"
#include "journal/JournalChain.h"
#include "journal/JournalText.h"
#include "journal/ReportHtml.h"
#include "settings/StationFolder.h"
#include "settings/StationSettings.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

using namespace vx;

namespace {

// Exit codes, for scripts.
enum Exit {
    kOk = 0,            // done; for report: the shift reconciles
    kDiscrepancies = 1, // report: records to look at (the report is complete)
    kUsage = 2,         // the command line is wrong
    kNoJournal = 3,     // the journal cannot be read
    kNoRecords = 4,     // report made from the journal alone: the label database was not read
    kNoOutput = 5,      // the output file cannot be written
    kInUse = 6,         // archive: a station is writing the journal
    kChainBroken = 7,   // verify: a row was changed, removed or inserted
};

constexpr const char* kUsageLine =
    "usage: vexora-journal [--station DIR] [--journal FILE] [--utc] COMMAND [OPTIONS]\n";

void usage(std::FILE* to) {
    std::fputs(
        "usage: vexora-journal [--station DIR] [--journal FILE] [--utc] COMMAND [OPTIONS]\n"
        "\n"
        "  --station DIR   the station's folder (config.ini, vexora-journal.db), as\n"
        "                  vexora --station takes it; default: the folder this\n"
        "                  program is in, or ~/vexora-station for an installed one\n"
        "  --journal FILE  the journal file, if not DIR/vexora-journal.db\n"
        "  --utc           times in UTC instead of local time\n"
        "  --version       the version\n"
        "  -h, --help      this text\n"
        "\n"
        "Commands:\n"
        "  list    [FILTERS] [--csv] [--output FILE]\n"
        "                              events as a table (or CSV)\n"
        "  export  [FILTERS] [--output FILE]\n"
        "                              events as CSV, UTF-8 with a header, for a spreadsheet\n"
        "  report  [--from TIME] [--to TIME] [--output FILE | --html FILE]\n"
        "                              a shift: scans by verdict, good scans per hour, the\n"
        "                              longest pause, the print ranges sent: printed, not\n"
        "                              printed (failed, cancelled or held, with the reason)\n"
        "                              and without an outcome; records printed but never\n"
        "                              verified good, verified good but never printed, and\n"
        "                              labels scanned more than once;\n"
        "                              the records come from the label database that the\n"
        "                              station's config.ini names; --html FILE: the report\n"
        "                              as a page for a browser, with charts, the journal's\n"
        "                              chain verified at its top\n"
        "  archive FILE                the journal, its write-ahead log folded in, moved to\n"
        "                              FILE (a new file); an empty journal takes its place;\n"
        "                              refused while a station writes the journal\n"
        "  verify  [FILE...]           walks the chain of hashes the journal's rows carry\n"
        "                              and names the first row that was changed, removed\n"
        "                              or inserted; several files (archives, then the\n"
        "                              journal) are read in order as one chain; default:\n"
        "                              the journal\n"
        "\n"
        "--output FILE: a new file, written whole; a file that exists is never replaced.\n"
        "Without it, standard output.\n"
        "\n"
        "FILTERS: --from TIME --to TIME --kind KIND --verdict VERDICT --record N --code TEXT\n"
        "  TIME: YYYY-MM-DD[ HH:MM[:SS[.mmm]]] in local time (Z at the end: UTC), or @MS\n"
        "        (milliseconds since 1970, UTC); --from is inclusive, --to exclusive\n"
        "  KIND: scan, print, reprint, data, port, database, settings, journal\n"
        "  VERDICT: good, missing-range, duplicate, ignored-repeat, wrong-length,\n"
        "           not-found, database-error, comparison-off, no-database\n"
        "\n"
        "Exit codes: 0 done (report: the shift reconciles); 1 report: records to look at;\n"
        "2 wrong command line; 3 the journal cannot be read; 4 report made without the\n"
        "label database; 5 the output cannot be written; 6 archive: a station is writing\n"
        "the journal; 7 verify: the chain is broken (0: intact).\n",
        to);
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// --- the station -------------------------------------------------------------

struct Station {
    std::string folder; // with a trailing separator
    std::string journal;
};

// The label database named by the station's config.ini, opened; nothing
// when none is named. Raises on a database that cannot be opened.
std::unique_ptr<data::Connection> openLabelDatabase(const Station& st, std::string& name) {
    const data::DbSettings s = settings::StationSettings(st.folder).database();
    name = data::databaseLocation(s);
    if (s.server.empty())
        return nullptr;
    auto db = std::make_unique<data::Connection>();
    db->setBaseFolder(st.folder);
    db->setConnectionString(data::buildConnectionString(s));
    db->open();
    return db;
}

// --- commands ----------------------------------------------------------------

struct Options {
    journal::JournalFilter filter;
    bool csv = false;
    std::string output;
    std::string html; // report: the page's file
    journal::TextStyle style;
};

// Hands what a stream writes to a new file (data::NewFile): written whole
// under a temporary name, and given its name only when complete.
class NewFileBuffer : public std::streambuf {
public:
    explicit NewFileBuffer(data::NewFile& file) : m_file(file) {
        setp(m_buf, m_buf + sizeof m_buf);
    }
    const std::string& failure() const { return m_failure; }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0)
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        try {
            m_file.write(std::string_view(pbase(), static_cast<std::size_t>(pptr() - pbase())));
        } catch (const std::exception& e) {
            m_failure = e.what();
            return -1;
        }
        setp(m_buf, m_buf + sizeof m_buf);
        return 0;
    }

private:
    data::NewFile& m_file;
    char m_buf[1 << 16];
    std::string m_failure;
};

// Runs fn with the output stream: standard output, or the file named. A file
// is new: one that exists is never replaced (as the station's own export),
// and nothing appears under the name unless it was written whole.
int withOutput(const std::string& path, const std::function<int(std::ostream&)>& fn) {
    if (path.empty() || path == "-") {
        const int rc = fn(std::cout);
        std::cout.flush();
        return std::cout ? rc : kNoOutput;
    }
    if (data::pathExists(path)) {
        std::fprintf(stderr, "vexora-journal: %s exists; it is not replaced\n", path.c_str());
        return kNoOutput;
    }
    try {
        data::NewFile file(path);
        NewFileBuffer buffer(file);
        std::ostream out(&buffer);
        const int rc = fn(out);
        out.flush();
        if (!out)
            throw data::FileError(buffer.failure().empty() ? "Cannot write file \"" + path + "\""
                                                           : buffer.failure());
        file.commit();
        return rc;
    } catch (const data::FileError& e) {
        std::fprintf(stderr, "vexora-journal: cannot write %s: %s\n", path.c_str(), e.what());
        return kNoOutput;
    }
}

void progressLine(const std::string& what, std::int64_t done, std::int64_t total) {
    if (what == "journal")
        std::fprintf(stderr, "vexora-journal: read the journal up to event %lld of %lld\n",
                     static_cast<long long>(done), static_cast<long long>(total));
    else
        std::fprintf(stderr, "vexora-journal: read %lld records of the label database\n",
                     static_cast<long long>(done));
}

int listOrExport(journal::JournalReader& journal, const Options& opt, bool exporting) {
    return withOutput(opt.output, [&](std::ostream& o) {
        if (exporting)
            o << "\xEF\xBB\xBF"; // lets spreadsheets tell UTF-8 from the local code page
        const auto format =
            exporting || opt.csv ? journal::EventFormat::Csv : journal::EventFormat::Table;
        journal::writeEvents(o, journal, opt.filter, format, opt.style, [](std::int64_t rows) {
            std::fprintf(stderr, "vexora-journal: %lld events written\n",
                         static_cast<long long>(rows));
        });
        return kOk;
    });
}

int report(journal::JournalReader& journal, const Station& st, const Options& opt) {
    const std::int64_t from = opt.filter.from.value_or(INT64_MIN / 2);
    const std::int64_t to = opt.filter.to.value_or(INT64_MAX / 2);

    journal::ReportSource source{opt.filter.from, opt.filter.to, st.journal, {}, {}};
    std::unique_ptr<data::Connection> db;
    try {
        db = openLabelDatabase(st, source.database);
    } catch (const std::exception& e) {
        source.databaseError = e.what();
    }
    std::unique_ptr<journal::A15Records> records;
    if (db)
        records = std::make_unique<journal::A15Records>(*db);
    journal::ReportOptions ro;
    ro.hourStart = [utc = opt.style.utc](std::int64_t ms) { return journal::hourStart(ms, utc); };
    ro.progress = progressLine;
    std::fprintf(stderr, "vexora-journal: reading %s\n", st.journal.c_str());
    const journal::ShiftReport r = journal::makeShiftReport(journal, from, to, records.get(), ro);
    if (db && !r.recordsRead)
        source.databaseError = r.recordsError;

    const journal::ChainCheck chain =
        opt.html.empty() ? journal::ChainCheck{} : journal::verifyJournals({st.journal});
    return withOutput(opt.html.empty() ? opt.output : opt.html, [&](std::ostream& o) {
        if (opt.html.empty())
            journal::writeShiftReport(o, r, source, opt.style);
        else
            journal::writeShiftReportHtml(o, r, source, chain, opt.style);
        if (!source.databaseError.empty())
            return static_cast<int>(kNoRecords);
        return static_cast<int>(r.reconciles() ? kOk : kDiscrepancies);
    });
}

int verify(const Station& st, std::vector<std::string> files) {
    if (files.empty())
        files.push_back(st.journal);
    const journal::ChainCheck check = journal::verifyJournals(files);
    journal::writeChainCheck(std::cout, check);
    std::cout.flush();
    if (check.fault == journal::ChainCheck::Fault::Unreadable)
        return kNoJournal;
    return check.intact() ? kOk : kChainBroken;
}

int archive(const Station& st, const std::string& target) {
    if (data::platform::exists(target)) {
        std::fprintf(stderr, "vexora-journal: %s exists; an archive never replaces a file\n",
                     target.c_str());
        return kNoOutput;
    }
    try {
        const std::int64_t events = journal::archiveJournal(st.journal, target);
        std::printf("%lld events archived to %s; %s starts empty\n", static_cast<long long>(events),
                    target.c_str(), st.journal.c_str());
        return kOk;
    } catch (const journal::JournalInUse& e) {
        std::fprintf(stderr, "vexora-journal: %s\n", e.what());
        return kInUse;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vexora-journal: cannot archive the journal: %s\n", e.what());
        return kNoJournal;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");

    Station st;
    std::string stationArg;
    std::string command, target;
    std::vector<std::string> files;
    Options opt;
    opt.style.charset = data::stationCharset();
    try {
        auto value = [&](int& i) -> std::string {
            if (i + 1 >= argc)
                throw UsageError(std::string(argv[i]) + " needs a value");
            return argv[++i];
        };
        auto time = [&](int& i) {
            const std::string flag = argv[i], v = value(i);
            auto t = journal::parseTime(v, opt.style.utc);
            if (!t)
                throw UsageError(flag + ": not a time: " + v);
            return *t;
        };
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "-h" || a == "--help") {
                usage(stdout);
                return kOk;
            } else if (a == "--version") {
                std::printf("vexora-journal %s\n", VEXORA_VERSION);
                return kOk;
            } else if (a == "--station") {
                stationArg = value(i);
                if (stationArg.empty())
                    throw UsageError("--station needs a folder");
            } else if (a == "--journal") {
                st.journal = value(i);
            } else if (a == "--utc") {
                opt.style.utc = true;
            } else if (a == "--csv") {
                opt.csv = true;
            } else if (a == "--output" || a == "-o") {
                opt.output = value(i);
            } else if (a == "--html") {
                opt.html = value(i);
                if (opt.html.empty())
                    throw UsageError("--html needs a file");
            } else if (a == "--from") {
                opt.filter.from = time(i);
            } else if (a == "--to") {
                opt.filter.to = time(i) - 1; // exclusive
            } else if (a == "--kind") {
                opt.filter.kind = value(i);
            } else if (a == "--verdict") {
                opt.filter.kind = journal::JournalWords::Scan;
                opt.filter.what = value(i);
            } else if (a == "--record") {
                const std::string v = value(i);
                opt.filter.record = data::parseInteger(v);
                if (!opt.filter.record)
                    throw UsageError("--record: not a number: " + v);
            } else if (a == "--code") {
                opt.filter.code = value(i);
            } else if (command.empty() && (a == "list" || a == "export" || a == "report" ||
                                           a == "archive" || a == "verify")) {
                command = a;
            } else if (command == "verify" && !a.empty() && a[0] != '-') {
                files.push_back(a);
            } else if (command == "archive" && target.empty() && !a.empty() && a[0] != '-') {
                target = a;
            } else {
                throw UsageError("unknown argument: " + a);
            }
        }
        if (command.empty())
            throw UsageError("no command given");
        if (!opt.html.empty() && command != "report")
            throw UsageError("--html goes with report");
        if (!opt.html.empty() && !opt.output.empty())
            throw UsageError("report writes either --output or --html");
        if (command == "archive" && target.empty())
            throw UsageError("archive needs the file to archive the journal to");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vexora-journal: %s\n%s(see --help)\n", e.what(), kUsageLine);
        return kUsage;
    }
    // The same folder the station keeps its journal in; read, never created.
    st.folder = settings::locateStation(data::executableFolder(), stationArg).folder;
    if (st.journal.empty())
        st.journal = st.folder + journal::Journal::kFileName;
    if (command == "archive")
        return archive(st, target);
    if (command == "verify")
        return verify(st, files);

    try {
        journal::JournalReader journal(st.journal);
        if (command == "report")
            return report(journal, st, opt);
        return listOrExport(journal, opt, command == "export");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vexora-journal: cannot read the journal: %s\n", e.what());
        return kNoJournal;
    }
}
