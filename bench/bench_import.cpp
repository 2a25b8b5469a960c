// Text import of a 1,000,000-line file into an SQLite a15 through the
// station's import, beside the sqlite3 shell's .import of the same file into
// an equal table (same text column, length check and scan index; the
// record number is the rowid in both), measured in the same run.

#include "bench/BenchTable.h"
#include "data/TextImport.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx;
namespace RT = vx::scan::RecordTable;

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const int lines = argc > 2 ? std::atoi(argv[2]) : 1'000'000;
    const std::string file = dir + "/bench_import.txt", ours = dir + "/bench_import.db",
                      shell = dir + "/bench_import_shell.db";
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 1; i <= lines; ++i)
            out << bench::labelCode(i) << "\r\n";
    }
    bench::removeDatabase(ours);
    bench::removeDatabase(shell);

    data::Connection db;
    db.openWith(data::openSqliteBackend(ours));
    data::Query q(db);
    const auto d = data::Dialect::Sqlite;
    const data::ImportStatements st{RT::createBatch(d, "a15", false), RT::insertText(d, "a15"),
                                    RT::duplicateCheck(d, "a15"), RT::duplicateSelect(d)};
    auto t0 = bench::Clock::now();
    const auto result = data::importTextFile(db, q, file, st, *data::parseImportAnswer("1"));
    const double oursMs = bench::ms(bench::Clock::now() - t0);
    db.close();
    if (result.lines != lines) {
        std::fprintf(stderr, "imported %lld of %d lines: %s\n", result.lines, lines,
                     result.error.c_str());
        return 1;
    }
    const double peakMb = bench::peakRssMb();

    {
        data::Connection s;
        s.openWith(data::openSqliteBackend(shell));
        data::Query c(s);
        c.setText("CREATE TABLE a15(tt VARCHAR(30) CHECK (length(CAST(tt AS BLOB)) <= 30));\r\n"
                  "CREATE INDEX a15_scan_key ON a15(rtrim(ltrim(tt,' '),' '));");
        c.execute();
    }
    t0 = bench::Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        // The shell prints the journal mode; keep our figures the only output.
        std::freopen("/dev/null", "w", stdout);
        execlp("sqlite3", "sqlite3", shell.c_str(), "PRAGMA journal_mode=WAL;",
               "PRAGMA synchronous=FULL;", (".import --csv " + file + " a15").c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double shellMs = bench::ms(bench::Clock::now() - t0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "sqlite3 shell failed\n");
        return 1;
    }

    const double oursRate = lines / (oursMs / 1000.0), shellRate = lines / (shellMs / 1000.0);
    bench::figure("import_lines", lines, "lines");
    bench::figure("import_rate", oursRate, "lines/s");
    bench::figure("shell_import_rate", shellRate, "lines/s");
    bench::figure("ratio_vs_shell", oursRate / shellRate, "x");
    bench::figure("import_peak_rss", peakMb, "MB");
    std::remove(file.c_str());
    bench::removeDatabase(ours);
    bench::removeDatabase(shell);
    return 0;
}
