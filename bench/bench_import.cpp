// Text import of a 1,000,000-line file into a15, measured in the same run:
//  - into the embedded SQLite database, beside the sqlite3 shell's .import of
//    the same file into an equal table (same text column, length check and
//    scan index; the record number is the rowid in both);
//  - through the ODBC path (the SQLite ODBC driver, parameter arrays), once
//    with the plain file and once with one very long line at its end, each
//    in a child process so that each peak memory figure is its own.
//
//   bench_import [DIR] [LINES] [LONG_LINE_MB]

#include "bench/BenchTable.h"
#include "data/TextImport.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx;

namespace {

data::ImportStatements statements(data::Dialect d) {
#if defined(VEXORA_BASELINE)
    // The tree this is measured against has no shared statement list.
    return {data::RecordTable::createBatch(d, "a15", false),
            data::RecordTable::insertText(d, "a15"), data::RecordTable::duplicateCheck(d, "a15"),
            data::RecordTable::duplicateSelect(d)};
#else
    return data::RecordTable::importStatements(d, "a15");
#endif
}

// With longLine, the line in the middle of the file is that many bytes
// long: it shares a parameter array with 511 ordinary lines, and it is
// refused, so the lines before it are what the import keeps.
void writeLabels(const std::string& file, int lines, std::size_t longLine) {
    std::ofstream out(file, std::ios::binary);
    const std::string chunk(1 << 16, 'L');
    for (int i = 1; i <= lines; ++i) {
        if (longLine > 0 && i == lines / 2 + 100) {
            for (std::size_t n = 0; n < longLine; n += chunk.size())
                out.write(chunk.data(),
                          static_cast<std::streamsize>(std::min(chunk.size(), longLine - n)));
            out << "\r\n";
        }
        out << bench::labelCode(i) << "\r\n";
    }
}

struct Child {
    double ms = 0, peakMb = 0;
    long long lines = 0;
    bool ok = false;
};

// Imports file through ODBC into a fresh SQLite file in a child process.
Child odbcImport(const std::string& file, const std::string& db) {
    bench::removeDatabase(db);
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFd[0]);
        Child c;
        try {
            data::Connection conn;
            conn.openWith(data::openOdbcBackend("DRIVER=SQLite3;Database=" + db + ";"));
            data::Query q(conn);
            const auto t0 = bench::Clock::now();
            const auto r = data::importTextFile(conn, q, file, statements(conn.dialect()),
                                                *data::parseImportAnswer("1"));
            c.ms = bench::ms(bench::Clock::now() - t0);
            c.lines = r.lines;
            c.ok = true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "odbc import: %s\n", e.what());
        }
        (void)!write(pipeFd[1], &c, sizeof c);
        _exit(0);
    }
    close(pipeFd[1]);
    Child c;
    (void)!read(pipeFd[0], &c, sizeof c);
    close(pipeFd[0]);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    c.peakMb = static_cast<double>(ru.ru_maxrss) / 1024.0;
    bench::removeDatabase(db);
    return c;
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const int lines = argc > 2 ? std::atoi(argv[2]) : 1'000'000;
    const std::size_t longMb = argc > 3 ? static_cast<std::size_t>(std::atoi(argv[3])) : 64;
    const std::string file = dir + "/bench_import.txt", ours = dir + "/bench_import.db",
                      shell = dir + "/bench_import_shell.db", odbc = dir + "/bench_import_odbc.db";
    writeLabels(file, lines, 0);
    bench::removeDatabase(ours);
    bench::removeDatabase(shell);

    // The ODBC path first, before this process holds anything.
    const Child plain = odbcImport(file, odbc);
    if (!plain.ok || plain.lines != lines) {
        std::fprintf(stderr, "odbc import took %lld of %d lines\n", plain.lines, lines);
        return 1;
    }
    const std::string longFile = dir + "/bench_import_long.txt";
    writeLabels(longFile, lines, longMb << 20);
    const Child withLong = odbcImport(longFile, odbc);
    std::remove(longFile.c_str());

    data::Connection db;
    db.openWith(data::openSqliteBackend(ours));
    data::Query q(db);
    auto t0 = bench::Clock::now();
    const auto result =
        data::importTextFile(db, q, file, statements(db.dialect()), *data::parseImportAnswer("1"));
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
    bench::figure("odbc_import_rate", lines / (plain.ms / 1000.0), "lines/s");
    bench::figure("odbc_import_peak_rss", plain.peakMb, "MB");
    bench::figure("odbc_long_line", static_cast<double>(longMb), "MB");
    bench::figure("odbc_long_line_import_peak_rss", withLong.peakMb, "MB");
    bench::figure("odbc_long_line_lines_kept", static_cast<double>(withLong.lines), "lines");
    std::remove(file.c_str());
    bench::removeDatabase(ours);
    bench::removeDatabase(shell);
    return 0;
}
