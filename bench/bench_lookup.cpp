// One scan's database work on a 1,000,000-record a15: the lookup of the code
// field plus the update that marks the record, through the station's database
// layer, beside the same two statements run raw through prepared sqlite3
// statements on the same file.

#include <sqlite3.h>

#include <cstdio>
#include <random>
#include <string>

#include "bench/BenchSupport.h"
#include "data/Database.h"
#include "scan/RecordTable.h"

using namespace vx;
namespace RT = vx::scan::RecordTable;

namespace {

constexpr int kRecords = 1'000'000;
constexpr int kScans = 20'000;

std::string code(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "VX%010d", n);
    return buf;
}

void fill(data::Connection& db) {
    data::Query q(db);
    for (const auto& l : RT::createBatch(data::Dialect::Sqlite, "a15", true))
        q.add(l);
    q.execute();
    auto& be = db.backend();
    auto st = be.prepare(data::parseParameters(RT::insertText(data::Dialect::Sqlite, "a15")));
    be.beginTransaction();
    for (int i = 1; i <= kRecords; ++i) {
        st->bindText(0, code(i));
        st->execute();
    }
    be.commit();
}

} // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "bench_lookup.db";
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());

    data::Connection db;
    db.openWith(data::openSqliteBackend(path));
    fill(db);

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, kRecords);

    // Through the layer, exactly as the engine sends it.
    std::vector<double> layer;
    data::Query q(db);
    for (int i = 0; i < kScans; ++i) {
        const std::string c = code(pick(rng));
        auto t0 = bench::Clock::now();
        q.close();
        q.clear();
        q.add(RT::lookupQuery(data::Dialect::Sqlite));
        q.setParam("mm", c);
        q.open();
        const std::string bh = q.fieldByName("bh").asText();
        q.close();
        q.clear();
        q.add(RT::markScanned(data::Dialect::Sqlite, bh));
        q.execute();
        layer.push_back(bench::ms(bench::Clock::now() - t0));
    }
    db.close();

    // Raw: two statements prepared once, bound and stepped.
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    sqlite3_exec(raw, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_stmt* sel = nullptr;
    sqlite3_stmt* upd = nullptr;
    sqlite3_prepare_v2(raw, "SELECT bh,prned FROM a15 WHERE rtrim(ltrim(tt,' '),' ')=rtrim(?1,' ')", -1, &sel, nullptr);
    sqlite3_prepare_v2(raw, "UPDATE a15 SET prned=1 WHERE bh=?1", -1, &upd, nullptr);
    std::vector<double> rawTimes;
    for (int i = 0; i < kScans; ++i) {
        const std::string c = code(pick(rng));
        auto t0 = bench::Clock::now();
        sqlite3_bind_text(sel, 1, c.data(), static_cast<int>(c.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(sel) != SQLITE_ROW)
            return 1;
        const sqlite3_int64 bh = sqlite3_column_int64(sel, 0);
        sqlite3_reset(sel);
        sqlite3_bind_int64(upd, 1, bh);
        sqlite3_step(upd);
        sqlite3_reset(upd);
        rawTimes.push_back(bench::ms(bench::Clock::now() - t0));
    }
    sqlite3_finalize(sel);
    sqlite3_finalize(upd);
    sqlite3_close(raw);

    const double p50 = bench::percentile(layer, 50), p99 = bench::percentile(layer, 99);
    const double r50 = bench::percentile(rawTimes, 50), r99 = bench::percentile(rawTimes, 99);
    bench::figure("lookup_mark_median", p50, "ms");
    bench::figure("lookup_mark_p99", p99, "ms");
    bench::figure("raw_lookup_mark_median", r50, "ms");
    bench::figure("raw_lookup_mark_p99", r99, "ms");
    bench::figure("ratio_p99_vs_raw", p99 / r99, "x");
    bench::figure("ratio_median_vs_raw", p50 / r50, "x");
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());
    return 0;
}
