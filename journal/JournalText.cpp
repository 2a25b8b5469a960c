#include "journal/JournalText.h"

#include "data/CalendarTime.h"
#include "data/Charset.h"
#include "data/ControlNames.h"
#include "data/Value.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vx::journal {
namespace {

// A scan as the window's lists show it, in UTF-8.
std::string shown(std::string_view bytes, const TextStyle& style) {
    return toUtf8(data::withControlNames(bytes), style.charset);
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

std::string rangeText(const JournalEvent& e) {
    if (!e.low && !e.high)
        return {};
    return num(e.low) + "-" + num(e.high);
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

constexpr const char* kCsvHeader =
    "id,time_utc,time_local,kind,event,record,code,scan,scan_hex,range_low,"
    "range_high,labels,subject,backend,message\r\n";

void writeCsvRow(std::ostream& o, const JournalRow& r, const TextStyle& style) {
    const auto utf8 = [&](const std::string& s) { return toUtf8(s, style.charset); };
    o << r.id << ',' << formatTime(r.time, true) << ',' << formatTime(r.time, false) << ','
      << csvField(r.kind) << ',' << csvField(r.what) << ',' << num(r.record) << ','
      << csvField(r.code ? utf8(*r.code) : std::string()) << ','
      << csvField(r.raw ? shown(*r.raw, style) : std::string()) << ',' << (r.raw ? hex(*r.raw) : "")
      << ',' << num(r.low) << ',' << num(r.high) << ',' << num(r.labels) << ','
      << csvField(utf8(r.subject)) << ',' << csvField(utf8(r.backend)) << ','
      << csvField(utf8(r.message)) << "\r\n";
}

void writeTableHeader(std::ostream& o) {
    o << pad("time", 25) << pad("kind", 10) << pad("event", 16) << pad("record", 9)
      << pad("code", 16) << pad("scan", 22) << pad("range", 14) << "details\n";
}

void writeTableRow(std::ostream& o, const JournalRow& r, const TextStyle& style) {
    std::string details;
    for (const std::string* part : {&r.subject, &r.backend, &r.message})
        if (!part->empty())
            details += (details.empty() ? "" : "  ") + toUtf8(*part, style.charset);
    if (r.labels)
        details = std::to_string(*r.labels) + " labels" + (details.empty() ? "" : "  " + details);
    endLine(o, pad(formatTime(r.time, style.utc), 25) + pad(r.kind, 10) + pad(r.what, 16) +
                   pad(num(r.record), 9) + pad(r.code ? shown(*r.code, style) : "", 16) +
                   pad(r.raw ? shown(*r.raw, style) : "", 22) + pad(rangeText(r), 14) + details);
}

// batches: more than one, and each record names its batch (numbered from 1).
void writeRecords(std::ostream& o, const char* title, const std::vector<ReportRecord>& list,
                  bool withTimes, bool batches, const TextStyle& style) {
    o << '\n' << title << ": " << list.size() << '\n';
    for (const auto& r : list)
        endLine(o, "  " + (batches ? pad("batch " + std::to_string(r.batch + 1), 10) : "") +
                       "record " + pad(std::to_string(r.record), 10) +
                       pad(shown(r.code, style), 24) +
                       (withTimes ? std::to_string(r.times) + " scans" : ""));
}

// "1-3, 5, 7-9"; "none" for no range.
std::string rangesOrNone(const RecordRanges& ranges) {
    return ranges.empty() ? "none" : rangesText(ranges);
}

std::string rangeText(std::int64_t low, std::int64_t high) {
    return std::to_string(low) + "-" + std::to_string(high);
}

void writeJob(std::ostream& o, const ReportJob& job, const TextStyle& style) {
    std::string line =
        "  " + formatTime(job.time, style.utc) + "  " + pad(rangeText(job.low, job.high), 14);
    if (!job.reprint.empty())
        line += "reprint (" + job.reprint + ")  ";
    if (job.mode == "manual") {
        line += "handed to the operator to print by hand";
    } else if (job.outcome.empty()) {
        line += "no outcome";
    } else {
        line += pad(job.outcome + " ", 9);
        if (!job.labels)
            line += "labels taken by the printer unknown";
        else
            line += std::to_string(*job.labels) + (*job.labels == 1 ? " label" : " labels");
        if (job.lastPrinted) {
            line += " (" + rangeText(job.low, *job.lastPrinted) + " printed";
            if (*job.lastPrinted < job.high)
                line += ", " + rangeText(*job.lastPrinted + 1, job.high) + " not";
            line += ")";
        }
        for (const std::string* part : {&job.backend, &job.reason})
            if (!part->empty())
                line += "  " + toUtf8(*part, style.charset);
    }
    endLine(o, line);
}

} // namespace

std::optional<std::int64_t> parseTime(const std::string& s, bool utcTimes) {
    if (s == "now")
        return utcNowMs();
    if (!s.empty() && s[0] == '@')
        return data::parseInteger(s.substr(1));
    std::tm tm{};
    int ms = 0;
    std::string rest = s;
    bool utc = utcTimes;
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
    const std::time_t t = utc ? data::fromUtcCalendar(tm) : std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(y == 1969 || y == 1970))
        return std::nullopt;
    return static_cast<std::int64_t>(t) * 1000 + ms;
}

std::string formatTime(std::int64_t ms, bool utc, bool withMs) {
    const std::int64_t secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const std::time_t t = static_cast<std::time_t>(secs);
    const std::tm tm = utc ? data::utcCalendar(t) : data::localCalendar(t);
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

std::int64_t hourStart(std::int64_t ms, bool utc) {
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    const std::tm tm = utc ? data::utcCalendar(t) : data::localCalendar(t);
    const std::int64_t intoHour = (tm.tm_min * 60 + tm.tm_sec) * 1000LL + ms % 1000;
    return ms - intoHour;
}

std::string toUtf8(std::string_view bytes, const std::string& charset) {
    return data::toUtf8Escaped(bytes, charset);
}

std::int64_t writeEvents(std::ostream& o, JournalReader& journal, const JournalFilter& filter,
                         EventFormat format, const TextStyle& style,
                         const std::function<void(std::int64_t)>& progress) {
    if (format == EventFormat::Csv)
        o << kCsvHeader;
    else
        writeTableHeader(o);
    std::int64_t rows = 0;
    journal.forEach(
        filter, JournalReader::Order::Time,
        [&](const JournalRow& r) {
            format == EventFormat::Csv ? writeCsvRow(o, r, style) : writeTableRow(o, r, style);
            ++rows;
            return static_cast<bool>(o);
        },
        [&](std::int64_t, std::int64_t) {
            if (progress)
                progress(rows);
        });
    return rows;
}

void writeShiftReport(std::ostream& o, const ShiftReport& r, const ReportSource& source,
                      const TextStyle& style) {
    const bool utc = style.utc;
    const auto utf8 = [&](const std::string& s) { return toUtf8(s, style.charset); };
    o << "Shift report " << (source.from ? formatTime(*source.from, utc, false) : "(start)")
      << " to " << (source.to ? formatTime(*source.to + 1, utc, false) : "(end)")
      << (utc ? " UTC" : " local time") << '\n';
    o << "Journal: " << source.journal << ", " << r.events << " events\n";
    if (!source.databaseError.empty())
        o << "Label database: " << utf8(source.database)
          << " could not be read: " << utf8(source.databaseError)
          << "\n  (printed records are listed by number only)\n";
    else if (source.database.empty())
        o << "Label database: none named in config.ini (printed records are listed by "
             "number only)\n";
    else
        o << "Label database: " << utf8(source.database) << '\n';

    o << "\nScans by verdict: " << r.scans << '\n';
    for (const char* v :
         {JournalVerdict::Good, JournalVerdict::MissingRange, JournalVerdict::Duplicate,
          JournalVerdict::IgnoredRepeat, JournalVerdict::WrongLength, JournalVerdict::NotFound,
          JournalVerdict::DatabaseError, JournalVerdict::ComparisonOff,
          JournalVerdict::NoDatabase}) {
        auto it = r.scansByVerdict.find(v);
        o << "  " << pad(v, 16) << (it == r.scansByVerdict.end() ? 0 : it->second) << '\n';
    }

    o << "\nGood scans per hour (good and missing range):\n";
    for (const auto& [hour, count] : r.goodPerHour)
        o << "  " << formatTime(hour, utc, false).substr(0, 16) << "  " << count << '\n';

    o << "\nLongest pause between scans: ";
    if (r.longestPause)
        o << formatDuration(r.longestPause->second - r.longestPause->first) << ", from "
          << formatTime(r.longestPause->first, utc) << " to "
          << formatTime(r.longestPause->second, utc) << '\n';
    else
        o << "none (fewer than two scans)\n";

    o << "\nPrint ranges sent:\n";
    for (const auto& p : r.prints) {
        const bool reprint = p.kind == JournalWords::Reprint;
        std::string line = "  " + formatTime(p.time, utc) + "  " +
                           pad((reprint ? "reprint " : "") + p.what, 11) + pad(rangeText(p), 14);
        if (p.labels)
            line += std::to_string(*p.labels) + " labels  ";
        for (const std::string* part : {&p.backend, &p.subject, &p.message})
            if (!part->empty())
                line += utf8(*part) + "  ";
        endLine(o, line);
    }
    if (!r.stationEvents.empty()) {
        o << "\nPort, database, settings, journal and label data events:\n";
        for (const auto& e : r.stationEvents) {
            std::string line =
                "  " + formatTime(e.time, utc) + "  " + pad(e.kind, 10) + pad(e.what, 13);
            for (const std::string* part : {&e.subject, &e.message})
                if (!part->empty())
                    line += utf8(*part) + "  ";
            endLine(o, line);
        }
    }

    writePrintJobSets(o, r, style);
    writeReprints(o, r, style);
    writeBatches(o, r, style);
    const bool batches = r.batches.size() > 1;
    writeRecords(o, "Printed, never verified good", r.printedNotVerified, false, batches, style);
    writeRecords(o, "Verified good, never printed", r.verifiedNotPrinted, false, batches, style);
    writeRecords(o, "Scanned more than once", r.scannedMoreThanOnce, true, batches, style);
}

void writeReprints(std::ostream& o, const ShiftReport& r, const TextStyle& style) {
    o << "\nReprints: " << r.reprints.size() << '\n';
    for (const auto& [reason, count] : r.reprintsByReason)
        o << "  " << pad(reason, 10) << count.reprints << " reprint(s), " << count.labels
          << " label(s)\n";
    for (const ReportJob& job : r.reprints)
        writeJob(o, job, style);
}

void writeBatches(std::ostream& o, const ShiftReport& r, const TextStyle& style) {
    o << "\nBatches (each import into a15 begins one): " << r.batches.size() << '\n';
    for (std::size_t i = 0; i < r.batches.size(); ++i) {
        const ReportBatch& b = r.batches[i];
        std::string line = "  batch " + std::to_string(i + 1) + ": ";
        if (b.imported == 0)
            line += "imported before the journal's rows";
        else
            line += "imported " + formatTime(b.imported, style.utc) +
                    (b.source.empty() ? "" : " from " + toUtf8(b.source, style.charset));
        if (b.records)
            line += ", " + std::to_string(*b.records) + " records";
        endLine(o, line);
        o << "    printed:    " << rangesOrNone(b.printed) << '\n';
        if (!b.reprinted.empty())
            o << "    reprinted:  " << rangesOrNone(b.reprinted) << '\n';
        o << "    verified:   " << rangesOrNone(b.verified) << '\n';
    }
}

void writePrintJobSets(std::ostream& o, const ShiftReport& r, const TextStyle& style) {
    const std::pair<const char*, const std::vector<ReportJob>*> sets[] = {
        {"Printed", &r.printedJobs},
        {"Dispatched, not printed", &r.notPrintedJobs},
        {"Dispatched, no outcome (the station ended during the job, or it still runs)",
         &r.unfinishedJobs},
    };
    for (const auto& [title, jobs] : sets) {
        o << '\n' << title << ": " << jobs->size() << '\n';
        for (const ReportJob& job : *jobs)
            writeJob(o, job, style);
    }
}

} // namespace vx::journal
