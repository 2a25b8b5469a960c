#include "tests/support/ScriptedShift.h"

#include "data/Database.h"
#include "data/RecordTable.h"
#include "tests/support/TempDir.h"

#include <ctime>

namespace vx::test {

using namespace journal::JournalWords;

std::int64_t shiftTime(int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&tm)) * 1000;
}

namespace {

std::string label(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "VX%06d", n);
    return buf;
}

journal::JournalEvent at(std::int64_t t, const char* kind, const char* what) {
    journal::JournalEvent e;
    e.time = t;
    e.kind = kind;
    e.what = what;
    return e;
}

journal::JournalEvent scan(std::int64_t t, const char* verdict, std::optional<int> record,
                           const std::string& code) {
    journal::JournalEvent e = at(t, Scan, verdict);
    if (record)
        e.record = *record;
    e.code = code;
    e.raw = code + "\r\n";
    return e;
}

journal::JournalEvent sent(std::int64_t t, int lo, int hi, const char* mode) {
    journal::JournalEvent e = at(t, Print, Dispatched);
    e.low = lo;
    e.high = hi;
    e.backend = mode;
    e.subject = "/labels/vx.glabels";
    return e;
}

} // namespace

void writeScriptedShift(const std::string& folder) {
    writeFile(folder + "/config.ini", "[Database]\r\nservername=station.db\r\n");
    {
        data::Connection db;
        db.openWith(data::openSqliteBackend(folder + "/station.db"));
        data::Query q(db);
        for (const auto& l : data::RecordTable::createBatch(data::Dialect::Sqlite, "a15", false))
            q.add(l);
        q.execute();
        for (int i = 1; i <= 10; ++i) {
            q.setText(data::RecordTable::insertText(data::Dialect::Sqlite, "a15"));
            q.setParam("a", label(i));
            q.execute();
        }
    }
    journal::Journal j(folder + "/" + journal::Journal::kFileName);
    auto put = [&](const journal::JournalEvent& e) {
        if (!j.append(e))
            throw std::runtime_error("cannot write the scripted journal");
    };
    put(sent(shiftTime(5, 50), 20, 20, "direct"));
    put(at(shiftTime(6, 0), Port, Opened));
    put(sent(shiftTime(6, 1), 1, 5, "direct"));
    journal::JournalEvent job = at(shiftTime(6, 2), Print, Printed);
    job.low = 1;
    job.high = 5;
    job.labels = 5;
    job.backend = "gLabels";
    put(job);
    put(scan(shiftTime(6, 10), "good", 1, label(1)));
    put(scan(shiftTime(6, 11), "good", 2, label(2)));
    journal::JournalEvent missing = scan(shiftTime(6, 12), "missing-range", 4, label(4));
    missing.low = 3;
    missing.high = 3;
    put(missing);
    put(scan(shiftTime(6, 13), "good", 5, label(5)));
    put(scan(shiftTime(6, 14), "duplicate", 5, label(5)));
    put(sent(shiftTime(6, 20), 6, 8, "manual"));
    put(scan(shiftTime(7, 5), "good", 6, label(6)));
    put(scan(shiftTime(7, 6), "good", 7, label(7)));
    put(scan(shiftTime(7, 7), "good", 8, label(8)));
    put(scan(shiftTime(7, 8), "good", 9, label(9)));
    put(scan(shiftTime(7, 9), "wrong-length", std::nullopt, "VX12"));
    put(scan(shiftTime(7, 10), "not-found", std::nullopt, "XX000009"));
    journal::JournalEvent dbError =
        scan(shiftTime(7, 11), "database-error", std::nullopt, label(10));
    dbError.message = "database is locked";
    put(dbError);
    put(scan(shiftTime(7, 12), "comparison-off", std::nullopt, label(10)));
    put(sent(shiftTime(7, 30), 12, 11, "direct"));
    put(scan(shiftTime(8, 0), "good", 20, label(20)));
}

std::string pageText(const std::string& html) {
    std::string out;
    const std::size_t body = html.find("<body");
    bool inTag = false;
    for (std::size_t i = body == std::string::npos ? 0 : body; i < html.size(); ++i) {
        const char c = html[i];
        if (c == '<')
            inTag = true;
        if (inTag || c == '\n' || c == ' ') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
        if (c == '>')
            inTag = false;
    }
    return out;
}

} // namespace vx::test
