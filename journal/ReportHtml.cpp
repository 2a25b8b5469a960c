#include "journal/ReportHtml.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace vx::journal {

namespace {

// Each first print's printed range, for one batch.
RecordRanges firstPrints(const ShiftReport& r, std::size_t batch) {
    RecordRanges printed;
    for (const ReportJob& j : r.printedJobs)
        if (j.batch == batch && j.reprint.empty())
            printed.emplace_back(j.low, j.high);
    for (const ReportJob& j : r.notPrintedJobs)
        if (j.batch == batch && j.reprint.empty() && j.lastPrinted)
            printed.emplace_back(j.low, *j.lastPrinted);
    return printed;
}

std::vector<ReportRecord> ofBatch(const std::vector<ReportRecord>& records, std::size_t batch) {
    std::vector<ReportRecord> out;
    for (const ReportRecord& rec : records)
        if (rec.batch == batch)
            out.push_back(rec);
    return out;
}

} // namespace

std::vector<PageBatch> pageBatches(const ShiftReport& r) {
    std::vector<PageBatch> out;
    for (std::size_t i = 0; i < r.batches.size(); ++i) {
        const ReportBatch& batch = r.batches[i];
        PageBatch b;
        b.printed = batch.printed;
        b.reprinted = batch.reprinted;
        b.verified = batch.verified;
        b.printedTwice = coveredTwice(firstPrints(r, i));
        b.printedNotVerified = recordRanges(ofBatch(r.printedNotVerified, i));
        b.verifiedNotPrinted = recordRanges(ofBatch(r.verifiedNotPrinted, i));
        b.scannedMoreThanOnce = ofBatch(r.scannedMoreThanOnce, i);
        b.scans = batch.scans;
        out.push_back(std::move(b));
    }
    return out;
}

std::string htmlText(std::string_view bytes, const std::string& charset) {
    const std::string utf8 = toUtf8(bytes, charset);
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

struct VerdictLook {
    const char* what;
    const char* name; // as the page shows it
    const char* colour;
    bool alarm; // the station sounds the alarm for it
};

// The verdicts in the order of the station's lists, with the colours of the
// verdict chart.
constexpr VerdictLook kVerdicts[] = {
    {JournalVerdict::Good, "正确 good", "#2e7d32", false},
    {JournalVerdict::MissingRange, "缺号 missing range", "#ef6c00", true},
    {JournalVerdict::Duplicate, "重复 duplicate", "#6a1b9a", true},
    {JournalVerdict::IgnoredRepeat, "重复忽略 ignored repeat", "#8d6e63", false},
    {JournalVerdict::WrongLength, "长度错误 wrong length", "#c62828", true},
    {JournalVerdict::NotFound, "无此条码 not found", "#ad1457", true},
    {JournalVerdict::DatabaseError, "数据库错误 database error", "#455a64", false},
    {JournalVerdict::ComparisonOff, "未比对 comparison off", "#9e9e9e", false},
    {JournalVerdict::NoDatabase, "无数据库 no database", "#607d8b", false},
};

// The bars of the per-hour chart; the tests look for their colour in the
// page as a browser draws it.
constexpr const char* kHourBar = "#1565c0";

std::int64_t verdictCount(const ShiftReport& r, const char* what) {
    const auto it = r.scansByVerdict.find(what);
    return it == r.scansByVerdict.end() ? 0 : it->second;
}

std::string percent(std::int64_t part, std::int64_t whole) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%",
                  whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
    return buf;
}

class Page {
public:
    Page(std::ostream& o, const TextStyle& style) : o(o), m_style(style) {}
    std::string text(std::string_view bytes) const { return htmlText(bytes, m_style.charset); }
    std::string time(std::int64_t ms, bool withMs = false) const {
        return formatTime(ms, m_style.utc, withMs);
    }
    std::ostream& o;

private:
    const TextStyle& m_style;
};

constexpr const char* kStyleSheet = R"(<style>
body{font-family:"WenQuanYi Micro Hei","Microsoft YaHei","Noto Sans CJK SC",sans-serif;margin:24px;color:#212121;background:#fff}
h1{font-size:22px;margin:0 0 8px}h2{font-size:17px;margin:24px 0 8px;border-bottom:1px solid #ccc}
.chain{padding:10px 14px;border-radius:4px;font-weight:bold;margin:8px 0 16px}
.intact{background:#e8f5e9;border:2px solid #388e3c}.partial{background:#fff8e1;border:2px solid #f9a825}.broken{background:#ffebee;border:2px solid #c62828}
table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:3px 8px;text-align:left;vertical-align:top}
td.n{text-align:right}.muted{color:#757575}.figures td{font-size:15px}
</style>
)";

void writeChain(Page& p, const ChainCheck& c) {
    // Green only when every row could be verified from the start of the
    // chain: rows from before the chain, or a file whose chain continues one
    // not checked with it, leave a part nobody verified.
    const bool continuesUnchecked = !c.files.empty() && !c.files.front().continues.empty();
    const bool whole = c.unchained == 0 && !continuesUnchecked;
    p.o << "<div class=\"chain "
        << (!c.intact() ? "broken"
            : whole     ? "intact"
                        : "partial")
        << "\" id=\"chain\">";
    if (c.intact())
        p.o << "日志校验链完好 The journal's chain is intact: " << c.chained
            << " rows verified, none changed, removed or inserted";
    else
        p.o << "日志校验链断裂 The journal's chain is BROKEN: " << p.text(c.message);
    if (c.unchained)
        p.o << "<br>" << c.unchained
            << " rows were written before the journal kept a chain and cannot be verified";
    if (continuesUnchecked)
        p.o << "<br>Its chain continues " << p.text(c.files.front().continues)
            << ", which was not checked with it (vexora-journal verify OLD-FILE THIS-FILE)";
    p.o << "</div>\n";
}

void writeHeading(Page& p, const ShiftReport& r, const ReportSource& s, const ChainCheck& c,
                  bool utc) {
    p.o << "<h1>班次报告 Shift report " << (s.from ? p.time(*s.from) : "(start)") << " – "
        << (s.to ? p.time(*s.to + 1) : "(end)") << (utc ? " UTC" : "") << "</h1>\n";
    writeChain(p, c);
    p.o << "<p>Journal " << p.text(s.journal) << ", " << r.events << " events. Label database: ";
    if (!s.databaseError.empty())
        p.o << p.text(s.database) << " could not be read: " << p.text(s.databaseError);
    else if (s.database.empty())
        p.o << "none named in config.ini";
    else
        p.o << p.text(s.database);
    p.o << "</p>\n";
}

void writeFigures(Page& p, const ShiftReport& r, const std::vector<PageBatch>& batches) {
    std::int64_t printed = 0, verified = 0;
    for (const auto& b : batches) {
        printed += rangesCount(b.printed);
        verified += rangesCount(b.verified);
    }
    std::int64_t alarms = 0;
    for (const auto& v : kVerdicts)
        if (v.alarm)
            alarms += verdictCount(r, v.what);
    p.o << "<table class=\"figures\" id=\"figures\">"
        << "<tr><td>扫描 Scans</td><td class=\"n\">" << r.scans << "</td></tr>"
        << "<tr><td>正确 Good scans (good and missing range)</td><td class=\"n\">"
        << verdictCount(r, JournalVerdict::Good) + verdictCount(r, JournalVerdict::MissingRange)
        << "</td></tr>"
        << "<tr><td>打印 Labels printed</td><td class=\"n\">" << printed << "</td></tr>"
        << "<tr><td>已验证 Labels verified</td><td class=\"n\">" << verified << "</td></tr>"
        << "<tr><td>报警 Alarms</td><td class=\"n\">" << alarms << "</td></tr>"
        << "</table>\n";
}

// Good scans per hour as bars, each with its count above it and its hour
// below.
void writeHourChart(Page& p, const ShiftReport& r) {
    p.o << "<h2>每小时正确扫描 Good scans per hour</h2>\n";
    if (r.goodPerHour.empty()) {
        p.o << "<p class=\"muted\">No good scans.</p>\n";
        return;
    }
    std::int64_t top = 1;
    for (const auto& h : r.goodPerHour)
        top = std::max(top, h.second);
    const int bar = 36, gap = 14, chartH = 160, left = 10, base = 20 + chartH;
    const int width = left + static_cast<int>(r.goodPerHour.size()) * (bar + gap) + gap;
    p.o << "<svg id=\"per-hour\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
        << "\" height=\"" << base + 24 << "\" role=\"img\" aria-label=\"Good scans per hour\">\n";
    p.o << "<line x1=\"" << left << "\" y1=\"" << base << "\" x2=\"" << width << "\" y2=\"" << base
        << "\" stroke=\"#757575\"/>\n";
    int x = left + gap;
    for (const auto& [hour, count] : r.goodPerHour) {
        const int h = static_cast<int>(count * chartH / top);
        p.o << "<rect x=\"" << x << "\" y=\"" << base - h << "\" width=\"" << bar << "\" height=\""
            << h << "\" fill=\"" << kHourBar << "\"><title>" << p.time(hour) << ": " << count
            << "</title></rect>"
            << "<text x=\"" << x + bar / 2 << "\" y=\"" << base - h - 4
            << "\" font-size=\"12\" text-anchor=\"middle\">" << count << "</text>"
            << "<text x=\"" << x + bar / 2 << "\" y=\"" << base + 16
            << "\" font-size=\"11\" text-anchor=\"middle\">" << p.time(hour).substr(11, 5)
            << "</text>\n";
        x += bar + gap;
    }
    p.o << "</svg>\n";
}

// Each verdict's share of the scans as a bar of its colour, with its count
// and share.
void writeVerdictChart(Page& p, const ShiftReport& r) {
    p.o << "<h2>判定比例 Verdicts</h2>\n";
    const int rowH = 24, label = 210, barMax = 360;
    int shown = 0;
    for (const auto& v : kVerdicts)
        shown += verdictCount(r, v.what) > 0;
    if (shown == 0) {
        p.o << "<p class=\"muted\">No scans.</p>\n";
        return;
    }
    p.o << "<svg id=\"verdicts\" xmlns=\"http://www.w3.org/2000/svg\" width=\""
        << label + barMax + 120 << "\" height=\"" << shown * rowH + 8
        << "\" role=\"img\" aria-label=\"Verdicts\">\n";
    int y = 4;
    for (const auto& v : kVerdicts) {
        const std::int64_t n = verdictCount(r, v.what);
        if (n == 0)
            continue;
        const int w =
            std::max(1, static_cast<int>(n * barMax / std::max<std::int64_t>(r.scans, 1)));
        p.o << "<text x=\"0\" y=\"" << y + 15 << "\" font-size=\"13\">" << v.name << "</text>"
            << "<rect x=\"" << label << "\" y=\"" << y << "\" width=\"" << w << "\" height=\""
            << rowH - 6 << "\" fill=\"" << v.colour << "\"/>"
            << "<text x=\"" << label + w + 6 << "\" y=\"" << y + 15 << "\" font-size=\"13\">" << n
            << " (" << percent(n, r.scans) << ")</text>\n";
        y += rowH;
    }
    p.o << "</svg>\n";
}

void rangesCell(Page& p, const RecordRanges& r) {
    p.o << "<td>";
    if (r.empty())
        p.o << "<span class=\"muted\">none</span>";
    else
        p.o << rangesText(r) << " <span class=\"muted\">(" << rangesCount(r) << ")</span>";
    p.o << "</td>";
}

// A batch's name: its number, and the import that made it where the
// journal has it.
std::string batchName(const Page& p, const ReportBatch& b, std::size_t index) {
    std::string name = std::to_string(index + 1);
    if (!b.source.empty())
        name += " " + p.text(b.source);
    if (b.imported)
        name += " <span class=\"muted\">(imported " + p.time(b.imported) + ")</span>";
    else if (b.source.empty())
        name += " <span class=\"muted\">(imported before the journal)</span>";
    if (b.records)
        name += " <span class=\"muted\">" + std::to_string(*b.records) + " records</span>";
    return name;
}

void writeBatches(Page& p, const ShiftReport& r, const std::vector<PageBatch>& batches) {
    p.o << "<h2>批次 Printed and verified, per batch</h2>\n"
        << "<table id=\"batches\"><tr><th>批次 Batch</th><th>打印 Printed</th>"
        << "<th>补打 Reprinted</th><th>已验证 Verified</th>"
        << "<th>打印未验证 Printed, not verified</th>"
        << "<th>验证未打印 Verified, never printed</th>"
        << "<th>多次扫描 Scanned more than once</th></tr>\n";
    for (std::size_t i = 0; i < batches.size(); ++i) {
        const PageBatch& b = batches[i];
        // The batch the shift began in may hold nothing of the shift.
        if (batches.size() > 1 && b.printed.empty() && b.verified.empty() && b.scans == 0 &&
            b.verifiedNotPrinted.empty())
            continue;
        p.o << "<tr><td>" << batchName(p, r.batches[i], i) << "</td>";
        rangesCell(p, b.printed);
        rangesCell(p, b.reprinted);
        rangesCell(p, b.verified);
        rangesCell(p, b.printedNotVerified);
        rangesCell(p, b.verifiedNotPrinted);
        p.o << "<td>";
        if (b.scannedMoreThanOnce.empty())
            p.o << "<span class=\"muted\">none</span>";
        for (std::size_t k = 0; k < b.scannedMoreThanOnce.size(); ++k) {
            const auto& rec = b.scannedMoreThanOnce[k];
            p.o << (k ? ", " : "") << rec.record;
            if (!rec.code.empty())
                p.o << " " << p.text(rec.code);
            p.o << " ×" << rec.times;
        }
        p.o << "</td></tr>\n";
    }
    p.o << "</table>\n";
}

// A reprint's reason as the reason box named it; a reason of no known word
// as the journal has it.
std::string reasonHtml(const Page& p, const std::string& reason) {
    if (reason == "damaged")
        return "损坏 damaged";
    if (reason == "missing")
        return "缺失 missing";
    if (reason == "test")
        return "测试 test";
    return p.text(reason);
}

void writeReprints(Page& p, const ShiftReport& r, const std::vector<PageBatch>& batches) {
    p.o << "<h2>补打 Reprints</h2>\n";
    if (r.reprints.empty()) {
        p.o << "<p class=\"muted\">No label was reprinted.</p>\n";
    } else {
        p.o << "<table id=\"reprint-reasons\"><tr><th>Reason</th><th>Reprints</th>"
            << "<th>Labels</th></tr>\n";
        for (const auto& [reason, count] : r.reprintsByReason)
            p.o << "<tr><td>" << reasonHtml(p, reason) << "</td><td class=\"n\">" << count.reprints
                << "</td><td class=\"n\">" << count.labels << "</td></tr>\n";
        p.o << "</table>\n<table id=\"reprints\"><tr><th>Sent</th><th>Range</th>"
            << "<th>Reason</th><th>Outcome</th><th>Labels taken</th></tr>\n";
        for (const ReportJob& j : r.reprints)
            p.o << "<tr><td>" << p.time(j.time) << "</td><td>" << j.low << "-" << j.high
                << "</td><td>" << reasonHtml(p, j.reprint) << "</td><td>"
                << (j.outcome.empty() ? "no outcome" : p.text(j.outcome)) << "</td><td class=\"n\">"
                << (j.labels ? std::to_string(*j.labels) : "?") << "</td></tr>\n";
        p.o << "</table>\n";
    }
    p.o << "<h2>重打 Printed more than once, not as a reprint</h2>\n";
    bool any = false;
    for (std::size_t i = 0; i < batches.size(); ++i)
        if (!batches[i].printedTwice.empty()) {
            any = true;
            p.o << "<p>" << (batches.size() > 1 ? "Batch " + std::to_string(i + 1) + ": " : "")
                << rangesText(batches[i].printedTwice) << " <span class=\"muted\">("
                << rangesCount(batches[i].printedTwice) << " records)</span></p>\n";
        }
    if (!any)
        p.o << "<p class=\"muted\">No record was printed more than once.</p>\n";
}

void jobRow(Page& p, const ReportJob& j) {
    p.o << "<tr><td>" << p.time(j.time) << "</td><td>" << j.low << "-" << j.high << "</td><td>"
        << (j.outcome.empty() ? "no outcome" : p.text(j.outcome)) << "</td><td>"
        << p.text(j.backend) << "</td><td class=\"n\">"
        << (j.labels ? std::to_string(*j.labels) : "?") << "</td><td>";
    if (j.lastPrinted)
        p.o << j.low << "-" << *j.lastPrinted << " printed; ";
    p.o << p.text(j.reason) << "</td></tr>\n";
}

void writeFailedJobs(Page& p, const ShiftReport& r) {
    p.o << "<h2>失败的打印 Print jobs not printed</h2>\n";
    if (r.notPrintedJobs.empty() && r.unfinishedJobs.empty()) {
        p.o << "<p class=\"muted\">Every print job sent was printed.</p>\n";
        return;
    }
    p.o << "<table id=\"failed-jobs\"><tr><th>Sent</th><th>Range</th><th>Outcome</th>"
        << "<th>Back end</th><th>Labels taken</th><th>Reason</th></tr>\n";
    for (const auto& j : r.notPrintedJobs)
        jobRow(p, j);
    for (const auto& j : r.unfinishedJobs)
        jobRow(p, j);
    p.o << "</table>\n";
}

void writeAlarmsAndPauses(Page& p, const ShiftReport& r) {
    p.o << "<h2>报警与暂停 Alarms and pauses</h2>\n<table id=\"alarms\">";
    for (const auto& v : kVerdicts)
        if (v.alarm)
            p.o << "<tr><td>" << v.name << "</td><td class=\"n\">" << verdictCount(r, v.what)
                << "</td></tr>";
    p.o << "</table>\n<p>Longest pause between scans: ";
    if (r.longestPause)
        p.o << formatDuration(r.longestPause->second - r.longestPause->first) << ", from "
            << p.time(r.longestPause->first) << " to " << p.time(r.longestPause->second);
    else
        p.o << "none (fewer than two scans)";
    p.o << "</p>\n";
    if (r.stationEvents.empty())
        return;
    p.o << "<table id=\"station-events\"><tr><th>Time</th><th>Kind</th><th>Event</th>"
        << "<th>Details</th></tr>\n";
    for (const auto& e : r.stationEvents) {
        p.o << "<tr><td>" << p.time(e.time) << "</td><td>" << p.text(e.kind) << "</td><td>"
            << p.text(e.what) << "</td><td>" << p.text(e.subject);
        if (!e.message.empty())
            p.o << (e.subject.empty() ? "" : " ") << p.text(e.message);
        p.o << "</td></tr>\n";
    }
    p.o << "</table>\n";
}

} // namespace

void writeShiftReportHtml(std::ostream& o, const ShiftReport& r, const ReportSource& source,
                          const ChainCheck& chain, const TextStyle& style) {
    Page p(o, style);
    const std::vector<PageBatch> batches = pageBatches(r);
    o << "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<title>Vexora shift report</title>\n"
      << kStyleSheet << "</head>\n<body>\n";
    writeHeading(p, r, source, chain, style.utc);
    writeFigures(p, r, batches);
    writeHourChart(p, r);
    writeVerdictChart(p, r);
    writeBatches(p, r, batches);
    writeReprints(p, r, batches);
    writeFailedJobs(p, r);
    writeAlarmsAndPauses(p, r);
    o << "</body>\n</html>\n";
}

void writeShiftPage(std::ostream& o, ReportSource source, RecordSide* records,
                    const TextStyle& style) {
    JournalReader journal(source.journal);
    ReportOptions options;
    options.hourStart = [utc = style.utc](std::int64_t ms) { return hourStart(ms, utc); };
    const ShiftReport r = makeShiftReport(journal, source.from.value_or(INT64_MIN / 2),
                                          source.to.value_or(INT64_MAX / 2), records, options);
    if (records && !r.recordsRead)
        source.databaseError = r.recordsError;
    writeShiftReportHtml(o, r, source, verifyJournals({source.journal}), style);
}

} // namespace vx::journal
