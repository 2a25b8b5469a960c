// vexora-journal report over a journal of 10,000,000 events: ten print runs
// of a 1,000,000-label table, each sent in ranges of 1,000 and scanned back
// with a line's mix of verdicts. Times the real tool (a process, its report
// to /dev/null) over the whole journal, beside a raw sqlite3 pass over the
// same rows reading the columns the report needs; and the file's size.
//
//   bench_journal_report [FOLDER] [EVENTS]
// FOLDER (default bench_journal_station) is kept when it already holds a
// journal of EVENTS rows, so a second run skips the minutes of filling it.

#include "bench/BenchTable.h"
#include "journal/Journal.h"

#include <filesystem>
#include <random>

using namespace vx;

namespace {

std::int64_t countRows(const std::string& path) {
    sqlite3* db = nullptr;
    std::int64_t n = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM events", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

void exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "%s\n", err);
        std::exit(1);
    }
}

// The journal as a station writes it, filled in one transaction.
void fillJournal(const std::string& path, std::int64_t events, int records) {
    bench::removeDatabase(path);
    { journal::Journal make(path); } // the station's own layout and settings
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    exec(db, "PRAGMA synchronous=OFF; BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO events(t,kind,what,record,lo,hi,labels,code,raw,subject,"
                       "backend,message) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)",
                       -1, &ins, nullptr);
    auto text = [&](int i, const std::string& s) {
        sqlite3_bind_text(ins, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    };
    auto blob = [&](int i, const std::string& s) {
        sqlite3_bind_blob(ins, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    };
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> kind(0, 99);
    std::int64_t t = 1'780'000'000'000, written = 0;
    auto row = [&] {
        sqlite3_step(ins);
        sqlite3_reset(ins);
        sqlite3_clear_bindings(ins);
        ++written;
    };
    const int rangeSize = 1000;
    while (written < events) {
        for (int lo = 1; lo <= records && written < events; lo += rangeSize) {
            const int hi = std::min(records, lo + rangeSize - 1);
            for (const char* what : {"dispatched", "printed"}) {
                sqlite3_bind_int64(ins, 1, t += 50);
                text(2, "print");
                text(3, what);
                sqlite3_bind_int64(ins, 5, lo);
                sqlite3_bind_int64(ins, 6, hi);
                if (what[0] == 'd') {
                    text(10, "D:\\labels\\vx.btw");
                    text(11, "direct");
                } else {
                    sqlite3_bind_int64(ins, 7, hi - lo + 1);
                    text(11, "BarTender");
                }
                row();
            }
            for (int n = lo; n <= hi && written < events; ++n) {
                const int k = kind(rng);
                const std::string code = bench::labelCode(n);
                const char* what = k < 94   ? "good"
                                   : k < 96 ? "duplicate"
                                   : k < 97 ? "missing-range"
                                   : k < 98 ? "wrong-length"
                                   : k < 99 ? "not-found"
                                            : "ignored-repeat";
                sqlite3_bind_int64(ins, 1, t += 300 + k);
                text(2, "scan");
                text(3, what);
                if (k < 97 || k == 99)
                    sqlite3_bind_int64(ins, 4, n);
                if (k == 96) {
                    sqlite3_bind_int64(ins, 5, n - 1);
                    sqlite3_bind_int64(ins, 6, n - 1);
                }
                blob(8, k == 97 ? code.substr(0, 6) : code);
                blob(9, (k == 97 ? code.substr(0, 6) : code) + "\r\n");
                row();
            }
        }
    }
    sqlite3_finalize(ins);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

// The baseline: one pass of raw sqlite3 over the same rows, reading the
// columns the report reads.
double rawPass(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id,t,kind,what,record,lo,hi,labels FROM events WHERE +t>=?1 AND "
                       "+t<=?2 ORDER BY id",
                       -1, &st, nullptr);
    sqlite3_bind_int64(st, 1, INT64_MIN / 2);
    sqlite3_bind_int64(st, 2, INT64_MAX / 2);
    const auto t0 = bench::Clock::now();
    std::int64_t sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        sum += sqlite3_column_int64(st, 1) + sqlite3_column_bytes(st, 2) +
               sqlite3_column_bytes(st, 3) + sqlite3_column_int64(st, 4);
        sum += sqlite3_column_int64(st, 5) + sqlite3_column_int64(st, 6);
    }
    const double s = bench::ms(bench::Clock::now() - t0) / 1000.0;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return sum == 42 ? -s : s; // keeps the loop from being optimised away
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "bench_journal_station";
    const std::int64_t events = argc > 2 ? std::atoll(argv[2]) : 10'000'000;
    const int records = 1'000'000;
    std::filesystem::create_directories(folder);
    const std::string journal = folder + "/" + journal::Journal::kFileName;
    const std::string labels = folder + "/station.db";

    if (countRows(journal) != events) {
        std::fprintf(stderr, "filling a journal of %lld events (once)...\n",
                     static_cast<long long>(events));
        fillJournal(journal, events, records);
        data::Connection db;
        bench::removeDatabase(labels);
        db.openWith(data::openSqliteBackend(labels));
        bench::fillA15(db, records);
        std::FILE* ini = std::fopen((folder + "/config.ini").c_str(), "w");
        std::fputs("[Database]\r\nservername=station.db\r\n", ini);
        std::fclose(ini);
    }
    const double bytes = static_cast<double>(std::filesystem::file_size(journal));

    const std::string self = argv[0];
    const std::string tool = self.substr(0, self.find_last_of('/') + 1) + "vexora-journal";
    // Warm the page cache the same way for both: the raw pass first.
    rawPass(journal);
    const double raw = rawPass(journal);
    const bench::ChildRun report = bench::runChild({tool, "--station", folder, "report"}, true);
    if (report.exitCode != 1) // ten runs scanned every label more than once
        std::fprintf(stderr, "vexora-journal report exited with %d\n", report.exitCode);

    bench::figure("journal_events", static_cast<double>(events), "rows");
    bench::figure("journal_file_size", bytes / 1e6, "MB");
    bench::figure("journal_size_per_million_events", bytes / static_cast<double>(events), "MB");
    bench::figure("report_whole_journal", report.ms / 1000.0, "s");
    bench::figure("report_peak_rss", report.peakMb, "MB");
    bench::figure("raw_sqlite_pass_same_rows", raw, "s");
    bench::figure("ratio_report_vs_raw_pass", report.ms / 1000.0 / raw, "x");
    return report.exitCode == 1 ? 0 : 1;
}
