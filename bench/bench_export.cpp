// Export of 1,000,000 records of an SQLite a15 through the station's export,
// beside the sqlite3 shell writing the same rows as CSV, in the same run.
// Each export runs in a fresh process of its own (this program again, or the
// shell), so the figures hold the export alone: its wall time from start to
// exit, and for the station's export its peak resident memory.

#include "bench/BenchTable.h"
#include "data/RecordExport.h"

#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace vx;

namespace {

// The child's side: exports the database's a15 to file.
int exportOnly(const std::string& database, const std::string& file) {
    data::Connection db;
    db.openWith(data::openSqliteBackend(database));
    data::RecordExport records(
        db, data::RecordTable::exportQuery(data::Dialect::Sqlite,
                                           data::RecordTable::ExportFilter::All));
    return records.writeTo(file) > 0 ? 0 : 1;
}

long long countLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    long long n = 0;
    std::string line;
    while (std::getline(in, line))
        ++n;
    return n;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--export-only") == 0)
        return exportOnly(argv[2], argv[3]);

    const std::string dir = argc > 1 ? argv[1] : ".";
    const int rows = argc > 2 ? std::atoi(argv[2]) : 1'000'000;
    const std::string database = dir + "/bench_export.db", ours = dir + "/bench_export.txt",
                      shell = dir + "/bench_export_shell.csv";
    bench::removeDatabase(database);
    std::remove(ours.c_str());
    std::remove(shell.c_str());
    {
        data::Connection db;
        db.openWith(data::openSqliteBackend(database));
        bench::fillA15(db, rows);
        data::Query q(db);
        q.setText("update a15 set pic='p_'||bh||'.jpg' where bh % 2 = 0");
        q.execute();
    }

    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    const bench::ChildRun station = bench::runChild({self, "--export-only", database, ours});
    const bench::ChildRun sqlite = bench::runChild(
        {"sqlite3", database, ".mode csv", ".output " + shell, "select * from a15;"});
    if (station.exitCode != 0 || sqlite.exitCode != 0) {
        std::fprintf(stderr, "an export failed (station %d, shell %d)\n", station.exitCode == 0,
                     sqlite.exitCode == 0);
        return 1;
    }
    const long long written = countLines(ours), shellWritten = countLines(shell);
    if (written != rows || shellWritten != rows) {
        std::fprintf(stderr, "exported %lld and %lld lines of %d\n", written, shellWritten, rows);
        return 1;
    }

    const double rate = rows / (station.ms / 1000.0), shellRate = rows / (sqlite.ms / 1000.0);
    bench::figure("export_rows", rows, "rows");
    bench::figure("export_rate", rate, "rows/s");
    bench::figure("shell_csv_rate", shellRate, "rows/s");
    bench::figure("ratio_vs_shell", rate / shellRate, "x");
    bench::figure("export_peak_rss", station.peakMb, "MB");
    bench::figure("shell_peak_rss", sqlite.peakMb, "MB");
    std::remove(ours.c_str());
    std::remove(shell.c_str());
    bench::removeDatabase(database);
    return 0;
}
