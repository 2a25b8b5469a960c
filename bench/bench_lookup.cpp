// One scan's database work on a 1,000,000-record a15: the lookup of the code
// field plus the update that marks the record, through the station's database
// layer exactly as the engine sends them, beside the same two statements run
// raw through prepared sqlite3 statements on the same file.

#include "bench/BenchTable.h"

#include <random>

using namespace vx;

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "bench_lookup.db";
    const int records = 1'000'000, scans = 20'000;
    bench::removeDatabase(path);

    data::Connection db;
    db.openWith(data::openSqliteBackend(path));
    bench::fillA15(db, records);

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, records);
    std::vector<std::string> codes, rawCodes;
    for (int i = 0; i < scans; ++i) {
        codes.push_back(bench::labelCode(pick(rng)));
        rawCodes.push_back(bench::labelCode(pick(rng)));
    }

    std::vector<double> layer;
    data::Query q(db);
    for (const std::string& c : codes) {
        auto t0 = bench::Clock::now();
        q.open({data::RecordTable::lookupQuery(data::Dialect::Sqlite)}, {{"mm", c}});
        const std::string bh = q.fieldByName("bh").asText();
        q.execute({data::RecordTable::markScanned(data::Dialect::Sqlite, bh)});
        layer.push_back(bench::ms(bench::Clock::now() - t0));
    }
    db.close();
    std::vector<double> raw = bench::rawLookupMark(path, rawCodes);

    const double p50 = bench::percentile(layer, 50), p99 = bench::percentile(layer, 99);
    const double r50 = bench::percentile(raw, 50), r99 = bench::percentile(raw, 99);
    bench::figure("lookup_mark_median", p50, "ms");
    bench::figure("lookup_mark_p99", p99, "ms");
    bench::figure("raw_lookup_mark_median", r50, "ms");
    bench::figure("raw_lookup_mark_p99", r99, "ms");
    bench::figure("ratio_p99_vs_raw", p99 / r99, "x");
    bench::figure("ratio_median_vs_raw", p50 / r50, "x");
    bench::removeDatabase(path);
    return 0;
}
