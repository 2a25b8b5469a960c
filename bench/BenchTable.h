#pragma once

// A large a15 for benchmarks, and the raw sqlite3 baseline the station's
// figures are compared with.

#include "bench/BenchSupport.h"
#include "data/Database.h"
#include "data/RecordTable.h"

#include <cstdio>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace vx::bench {

inline std::string labelCode(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "VX%010d", n);
    return buf;
}

inline void removeDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::remove((path + suffix).c_str());
}

// Re-creates a15 and fills it with records 1..n holding labelCode(i).
inline void fillA15(data::Connection& db, int n) {
    data::Query q(db);
    q.execute(data::RecordTable::createBatch(data::Dialect::Sqlite, "a15", true));
    auto& be = db.backend();
    auto st = be.prepare(
        data::parseParameters(data::RecordTable::insertText(data::Dialect::Sqlite, "a15")));
    be.beginTransaction();
    for (int i = 1; i <= n; ++i) {
        st->bindText(0, labelCode(i));
        st->execute();
    }
    be.commit();
}

// The scan's two statements prepared once and run raw, one lookup and one
// mark per code, with the station's journal settings; milliseconds per code.
inline std::vector<double> rawLookupMark(const std::string& path,
                                         const std::vector<std::string>& codes) {
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    sqlite3_exec(raw, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt* sel = nullptr;
    sqlite3_stmt* upd = nullptr;
    sqlite3_prepare_v2(raw, "SELECT bh,prned FROM a15 WHERE rtrim(ltrim(tt,' '),' ')=rtrim(?1,' ')",
                       -1, &sel, nullptr);
    sqlite3_prepare_v2(raw, "UPDATE a15 SET prned=1 WHERE bh=?1 AND prned=0", -1, &upd, nullptr);
    std::vector<double> times;
    times.reserve(codes.size());
    for (const std::string& c : codes) {
        auto t0 = Clock::now();
        sqlite3_bind_text(sel, 1, c.data(), static_cast<int>(c.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(sel) == SQLITE_ROW) {
            const sqlite3_int64 bh = sqlite3_column_int64(sel, 0);
            sqlite3_bind_int64(upd, 1, bh);
            sqlite3_step(upd);
            sqlite3_reset(upd);
        }
        sqlite3_reset(sel);
        times.push_back(ms(Clock::now() - t0));
    }
    sqlite3_finalize(sel);
    sqlite3_finalize(upd);
    sqlite3_close(raw);
    return times;
}

} // namespace vx::bench
