// Reads a station's journal (vexora-journal.db beside the station): lists
// and exports its events and reports on a shift, reconciling the labels
// printed with the labels verified by scanning.
//
//   vexora-journal [--station DIR] [--journal FILE] [--utc] COMMAND [OPTIONS]
//
// See usage() for the commands and the exit codes.

#include "data/ConnectionString.h"
#include "data/Database.h"
#include "journal/JournalReader.h"
#include "journal/ShiftReport.h"
#include "settings/StationSettings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iconv.h>
#include <iostream>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <sstream>
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
};

void usage(std::FILE* to) {
    std::fputs(
        "usage: vexora-journal [--station DIR] [--journal FILE] [--utc] COMMAND [OPTIONS]\n"
        "\n"
        "  --station DIR   the station's folder (config.ini, vexora-journal.db);\n"
        "                  default: the folder this program is in\n"
        "  --journal FILE  the journal file, if not DIR/vexora-journal.db\n"
        "  --utc           times in UTC instead of local time\n"
        "\n"
        "Commands:\n"
        "  list    [FILTERS] [--csv]   events as a table (or CSV)\n"
        "  export  [FILTERS] [--output FILE]\n"
        "                              events as CSV, UTF-8 with a header, for a spreadsheet\n"
        "  report  [--from TIME] [--to TIME] [--output FILE]\n"
        "                              a shift: scans by verdict, good scans per hour, the\n"
        "                              longest pause, the print ranges sent, and records\n"
        "                              printed but never verified good, verified good but\n"
        "                              never printed, and labels scanned more than once;\n"
        "                              the records come from the label database that the\n"
        "                              station's config.ini names\n"
        "\n"
        "FILTERS: --from TIME --to TIME --kind KIND --verdict VERDICT --record N --code TEXT\n"
        "  TIME: YYYY-MM-DD[ HH:MM[:SS[.mmm]]] in local time (Z at the end: UTC), or @MS\n"
        "        (milliseconds since 1970, UTC); --from is inclusive, --to exclusive\n"
        "  KIND: scan, print, port, database, settings, journal\n"
        "  VERDICT: good, missing-range, duplicate, ignored-repeat, wrong-length,\n"
        "           not-found, database-error, comparison-off, no-database\n"
        "\n"
        "Exit codes: 0 done (report: the shift reconciles); 1 report: records to look at;\n"
        "2 wrong command line; 3 the journal cannot be read; 4 report made without the\n"
        "label database; 5 the output cannot be written.\n",
        to);
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool g_utc = false;

// --- times -----------------------------------------------------------------

std::optional<std::int64_t> parseTime(const std::string& s) {
    if (s == "now")
        return journal::utcNowMs();
    if (!s.empty() && s[0] == '@') {
        auto v = data::parseInteger(s.substr(1));
        return v;
    }
    std::tm tm{};
    int ms = 0;
    std::string rest = s;
    bool utc = false;
    if (!rest.empty() && (rest.back() == 'Z' || rest.back() == 'z')) {
        utc = true;
        rest.pop_back();
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, n = 0;
    char sep = ' ';
    const int got =
        std::sscanf(rest.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &n);
    if (got == 3 && rest.size() == 10) {
        h = mi = 0;
    } else if (got == 6 && (sep == ' ' || sep == 'T')) {
        std::string tail = rest.substr(static_cast<std::size_t>(n));
        if (!tail.empty()) {
            int m = 0;
            if (std::sscanf(tail.c_str(), ":%2d%n", &sec, &m) != 1)
                return std::nullopt;
            tail = tail.substr(static_cast<std::size_t>(m));
            if (!tail.empty()) {
                if (tail[0] != '.' || tail.size() < 2 || tail.size() > 4)
                    return std::nullopt;
                std::string frac = tail.substr(1);
                for (char c : frac)
                    if (c < '0' || c > '9')
                        return std::nullopt;
                while (frac.size() < 3)
                    frac += '0';
                ms = std::atoi(frac.c_str());
            }
        }
    } else {
        return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 60)
        return std::nullopt;
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    tm.tm_isdst = -1;
    const std::time_t t = utc || g_utc ? timegm(&tm) : std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(y == 1969 || y == 1970))
        return std::nullopt;
    return static_cast<std::int64_t>(t) * 1000 + ms;
}

std::string formatTime(std::int64_t ms, bool utc, bool withMs = true) {
    const std::int64_t secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    if (utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    std::string out = buf;
    if (withMs) {
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms - secs * 1000));
        out += frac;
    }
    return out;
}

std::string formatDuration(std::int64_t ms) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3'600'000), static_cast<long long>(ms / 60'000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

// Start of the local (or UTC) hour that t falls in.
std::int64_t hourStart(std::int64_t ms) {
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    if (g_utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    const std::int64_t intoHour = (tm.tm_min * 60 + tm.tm_sec) * 1000LL + ms % 1000;
    return ms - intoHour;
}

// --- texts -----------------------------------------------------------------

std::string g_charset = "UTF-8";

// The station's bytes as UTF-8: texts in the station's code page are
// converted; a byte that is no text there is written as \xNN.
std::string toUtf8(std::string_view bytes) {
    bool ascii = true;
    for (unsigned char c : bytes)
        ascii = ascii && c < 0x80;
    if (ascii)
        return std::string(bytes);
    iconv_t cd = iconv_open("UTF-8", g_charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        cd = iconv_open("UTF-8", "UTF-8");
    std::string out;
    char* in = const_cast<char*>(bytes.data());
    std::size_t left = bytes.size();
    char buf[256];
    while (left > 0) {
        char* to = buf;
        std::size_t room = sizeof buf;
        const std::size_t rc = iconv(cd, &in, &left, &to, &room);
        out.append(buf, static_cast<std::size_t>(to - buf));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(*in));
            out += esc;
            ++in;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

// A scan as the window's lists show it: control bytes by name, <CR><LF>.
std::string shown(std::string_view bytes) {
    static const char* const kNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                         "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                         "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                         "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    std::string plain;
    for (unsigned char c : bytes) {
        if (c < 0x20)
            plain += std::string("<") + kNames[c] + ">";
        else if (c == 0x7F)
            plain += "<DEL>";
        else
            plain += static_cast<char>(c);
    }
    return toUtf8(plain);
}

std::string hex(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string num(const std::optional<std::int64_t>& v) {
    return v ? std::to_string(*v) : std::string();
}

std::string rangeText(const journal::JournalEvent& e) {
    if (!e.low && !e.high)
        return {};
    return num(e.low) + "-" + num(e.high);
}

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
};

const char* kCsvHeader = "id,time_utc,time_local,kind,event,record,code,scan,scan_hex,range_low,"
                         "range_high,labels,subject,backend,message\r\n";

void writeCsvRow(std::ostream& o, const journal::JournalRow& r) {
    o << r.id << ',' << formatTime(r.time, true) << ',' << formatTime(r.time, false) << ','
      << csvField(r.kind) << ',' << csvField(r.what) << ',' << num(r.record) << ','
      << csvField(r.code ? toUtf8(*r.code) : std::string()) << ','
      << csvField(r.raw ? shown(*r.raw) : std::string()) << ',' << (r.raw ? hex(*r.raw) : "") << ','
      << num(r.low) << ',' << num(r.high) << ',' << num(r.labels) << ','
      << csvField(toUtf8(r.subject)) << ',' << csvField(toUtf8(r.backend)) << ','
      << csvField(toUtf8(r.message)) << "\r\n";
}

// Ends a line without the blanks that padding left at its end.
void endLine(std::ostream& o, std::string line) {
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    o << line << '\n';
}

std::string pad(std::string s, std::size_t width) {
    // Width in characters, not bytes: UTF-8 continuation bytes take no room.
    std::size_t chars = 0;
    for (unsigned char c : s)
        chars += (c & 0xC0) != 0x80;
    if (chars < width)
        s.append(width - chars, ' ');
    return s;
}

void writeTableRow(std::ostream& o, const journal::JournalRow& r) {
    std::string details;
    for (const std::string* part : {&r.subject, &r.backend, &r.message})
        if (!part->empty())
            details += (details.empty() ? "" : "  ") + toUtf8(*part);
    if (r.labels)
        details = std::to_string(*r.labels) + " labels" + (details.empty() ? "" : "  " + details);
    endLine(o, pad(formatTime(r.time, g_utc), 25) + pad(r.kind, 10) + pad(r.what, 16) +
                   pad(num(r.record), 9) + pad(r.code ? shown(*r.code) : "", 16) +
                   pad(r.raw ? shown(*r.raw) : "", 22) + pad(rangeText(r), 14) + details);
}

// Runs fn with the output stream: standard output, or the file named.
int withOutput(const std::string& path, const std::function<int(std::ostream&)>& fn) {
    if (path.empty() || path == "-") {
        const int rc = fn(std::cout);
        std::cout.flush();
        return std::cout ? rc : kNoOutput;
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f) {
        std::fprintf(stderr, "vexora-journal: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return kNoOutput;
    }
    const int rc = fn(f);
    f.close();
    if (!f) {
        std::fprintf(stderr, "vexora-journal: cannot write %s\n", path.c_str());
        return kNoOutput;
    }
    return rc;
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
        const bool csv = exporting || opt.csv;
        if (exporting)
            o << "\xEF\xBB\xBF"; // lets spreadsheets tell UTF-8 from the local code page
        if (csv)
            o << kCsvHeader;
        else
            o << pad("time", 25) << pad("kind", 10) << pad("event", 16) << pad("record", 9)
              << pad("code", 16) << pad("scan", 22) << pad("range", 14) << "details\n";
        std::int64_t rows = 0;
        journal.forEach(
            opt.filter, journal::JournalReader::Order::Time,
            [&](const journal::JournalRow& r) {
                csv ? writeCsvRow(o, r) : writeTableRow(o, r);
                ++rows;
                return static_cast<bool>(o);
            },
            [&](std::int64_t, std::int64_t) {
                std::fprintf(stderr, "vexora-journal: %lld events written\n",
                             static_cast<long long>(rows));
            });
        return kOk;
    });
}

void writeRecords(std::ostream& o, const char* title,
                  const std::vector<journal::ReportRecord>& list, bool withTimes) {
    o << '\n' << title << ": " << list.size() << '\n';
    for (const auto& r : list)
        endLine(o, "  record " + pad(std::to_string(r.record), 10) + pad(shown(r.code), 24) +
                       (withTimes ? std::to_string(r.times) + " scans" : ""));
}

int report(journal::JournalReader& journal, const Station& st, const Options& opt) {
    const std::int64_t from = opt.filter.from.value_or(INT64_MIN / 2);
    const std::int64_t to = opt.filter.to.value_or(INT64_MAX / 2);

    std::string dbName, dbError;
    std::unique_ptr<data::Connection> db;
    try {
        db = openLabelDatabase(st, dbName);
    } catch (const std::exception& e) {
        dbError = e.what();
    }
    std::unique_ptr<journal::A15Records> records;
    if (db)
        records = std::make_unique<journal::A15Records>(*db);
    journal::ReportOptions ro;
    ro.hourStart = hourStart;
    ro.progress = progressLine;
    std::fprintf(stderr, "vexora-journal: reading %s\n", st.journal.c_str());
    const journal::ShiftReport r = journal::makeShiftReport(journal, from, to, records.get(), ro);
    if (db && !r.recordsRead)
        dbError = r.recordsError;

    return withOutput(opt.output, [&](std::ostream& o) {
        o << "Shift report " << (opt.filter.from ? formatTime(from, g_utc, false) : "(start)")
          << " to " << (opt.filter.to ? formatTime(to + 1, g_utc, false) : "(end)")
          << (g_utc ? " UTC" : " local time") << '\n';
        o << "Journal: " << st.journal << ", " << r.events << " events\n";
        if (!dbError.empty())
            o << "Label database: " << toUtf8(dbName) << " could not be read: " << toUtf8(dbError)
              << "\n  (printed records are listed by number only)\n";
        else if (dbName.empty())
            o << "Label database: none named in config.ini (printed records are listed by "
                 "number only)\n";
        else
            o << "Label database: " << toUtf8(dbName) << '\n';

        o << "\nScans by verdict: " << r.scans << '\n';
        for (const char* v :
             {journal::JournalVerdict::Good, journal::JournalVerdict::MissingRange,
              journal::JournalVerdict::Duplicate, journal::JournalVerdict::IgnoredRepeat,
              journal::JournalVerdict::WrongLength, journal::JournalVerdict::NotFound,
              journal::JournalVerdict::DatabaseError, journal::JournalVerdict::ComparisonOff,
              journal::JournalVerdict::NoDatabase}) {
            auto it = r.scansByVerdict.find(v);
            o << "  " << pad(v, 16) << (it == r.scansByVerdict.end() ? 0 : it->second) << '\n';
        }

        o << "\nGood scans per hour (good and missing range):\n";
        for (const auto& [hour, count] : r.goodPerHour)
            o << "  " << formatTime(hour, g_utc, false).substr(0, 16) << "  " << count << '\n';

        o << "\nLongest pause between scans: ";
        if (r.longestPause)
            o << formatDuration(r.longestPause->second - r.longestPause->first) << ", from "
              << formatTime(r.longestPause->first, g_utc) << " to "
              << formatTime(r.longestPause->second, g_utc) << '\n';
        else
            o << "none (fewer than two scans)\n";

        o << "\nPrint ranges sent:\n";
        for (const auto& p : r.prints) {
            std::string line =
                "  " + formatTime(p.time, g_utc) + "  " + pad(p.what, 11) + pad(rangeText(p), 14);
            if (p.labels)
                line += std::to_string(*p.labels) + " labels  ";
            for (const std::string* part : {&p.backend, &p.subject, &p.message})
                if (!part->empty())
                    line += toUtf8(*part) + "  ";
            endLine(o, line);
        }
        if (!r.stationEvents.empty()) {
            o << "\nPort, database, settings and journal events:\n";
            for (const auto& e : r.stationEvents) {
                std::string line =
                    "  " + formatTime(e.time, g_utc) + "  " + pad(e.kind, 10) + pad(e.what, 13);
                for (const std::string* part : {&e.subject, &e.message})
                    if (!part->empty())
                        line += toUtf8(*part) + "  ";
                endLine(o, line);
            }
        }

        writeRecords(o, "Printed, never verified good", r.printedNotVerified, false);
        writeRecords(o, "Verified good, never printed", r.verifiedNotPrinted, false);
        writeRecords(o, "Scanned more than once", r.scannedMoreThanOnce, true);
        if (!dbError.empty())
            return static_cast<int>(kNoRecords);
        return static_cast<int>(r.reconciles() ? kOk : kDiscrepancies);
    });
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (const char* cs = nl_langinfo(CODESET); cs && *cs && std::strcmp(cs, "ANSI_X3.4-1968"))
        g_charset = cs;

    Station st;
    st.folder = folderOf(argv[0]);
    std::string command;
    Options opt;
    try {
        auto value = [&](int& i) -> std::string {
            if (i + 1 >= argc)
                throw UsageError(std::string(argv[i]) + " needs a value");
            return argv[++i];
        };
        auto time = [&](int& i) {
            const std::string flag = argv[i], v = value(i);
            auto t = parseTime(v);
            if (!t)
                throw UsageError(flag + ": not a time: " + v);
            return *t;
        };
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "-h" || a == "--help") {
                usage(stdout);
                return kOk;
            } else if (a == "--station") {
                st.folder = value(i);
                if (st.folder.back() != '/')
                    st.folder += '/';
            } else if (a == "--journal") {
                st.journal = value(i);
            } else if (a == "--utc") {
                g_utc = true;
            } else if (a == "--csv") {
                opt.csv = true;
            } else if (a == "--output" || a == "-o") {
                opt.output = value(i);
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
            } else if (command.empty() && (a == "list" || a == "export" || a == "report")) {
                command = a;
            } else {
                throw UsageError("unknown argument: " + a);
            }
        }
        if (command.empty())
            throw UsageError("no command given");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vexora-journal: %s\n\n", e.what());
        usage(stderr);
        return kUsage;
    }
    if (st.journal.empty())
        st.journal = st.folder + journal::Journal::kFileName;

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
