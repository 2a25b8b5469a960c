// Embedded SQLite back end: the default database, a file beside the station.

#include "data/Backend.h"

#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <utility>
#include <vector>

namespace vx::data {
namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& what = {}) {
    std::string msg = db ? sqlite3_errmsg(db) : "SQLite error";
    throw DbError(what.empty() ? msg : what + ": " + msg);
}

bool declaredBit(sqlite3_stmt* st, int col) {
    const char* decl = sqlite3_column_decltype(st, col);
    return decl && sqlite3_stricmp(decl, "bit") == 0;
}

Value columnValue(sqlite3_stmt* st, int col) {
    switch (sqlite3_column_type(st, col)) {
    case SQLITE_NULL:
        return Value::null();
    case SQLITE_INTEGER: {
        const sqlite3_int64 v = sqlite3_column_int64(st, col);
        return declaredBit(st, col) ? Value::ofBit(v != 0) : Value::ofInt(v);
    }
    case SQLITE_FLOAT: {
        Value v;
        v.type = Value::Type::Real;
        v.real = sqlite3_column_double(st, col);
        return v;
    }
    case SQLITE_BLOB: {
        Value v;
        v.type = Value::Type::Binary;
        const void* p = sqlite3_column_blob(st, col);
        v.bytes.assign(static_cast<const char*>(p),
                       static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
        return v;
    }
    default: {
        const unsigned char* p = sqlite3_column_text(st, col);
        return Value::ofText(std::string(reinterpret_cast<const char*>(p),
                                         static_cast<std::size_t>(sqlite3_column_bytes(st, col))));
    }
    }
}

struct StmtDeleter {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// Idle prepared statements by their text, so the statements a station sends
// again and again (the scan lookup above all) are compiled once. A statement
// is taken out while it runs and put back behind the others, so the front
// holds the one idle longest, and that one goes when the cache is full: a
// scan's mark names its record and is never sent again, and those one-off
// texts must not push out the lookup that every scan runs.
class StatementCache {
public:
    static constexpr std::size_t kCapacity = 32;
    StmtPtr take(const std::string& text) {
        auto it = std::find_if(m_idle.begin(), m_idle.end(),
                               [&](const Idle& idle) { return idle.first == text; });
        if (it == m_idle.end())
            return nullptr;
        StmtPtr st = std::move(it->second);
        m_idle.erase(it);
        return st;
    }
    void give(const std::string& text, StmtPtr st) {
        sqlite3_reset(st.get());
        sqlite3_clear_bindings(st.get());
        if (m_idle.size() >= kCapacity)
            m_idle.erase(m_idle.begin());
        m_idle.emplace_back(text, std::move(st));
    }
    void clear() { m_idle.clear(); }

private:
    using Idle = std::pair<std::string, StmtPtr>;
    std::vector<Idle> m_idle; // least recently used first
};

class SqliteCursor final : public Cursor {
public:
    SqliteCursor(sqlite3* db, StmtPtr st, bool hasRow, StatementCache* cache, std::string text)
        : m_db(db), m_st(std::move(st)), m_hasRow(hasRow), m_cache(cache), m_text(std::move(text)) {
        const int n = sqlite3_column_count(m_st.get());
        for (int i = 0; i < n; ++i)
            m_names.emplace_back(sqlite3_column_name(m_st.get(), i));
    }
    ~SqliteCursor() override {
        if (m_cache)
            m_cache->give(m_text, std::move(m_st));
    }
    const std::vector<std::string>& columnNames() const override { return m_names; }
    bool fetch(std::vector<Value>& row) override {
        if (!m_hasRow)
            return false;
        row.clear();
        for (int i = 0; i < static_cast<int>(m_names.size()); ++i)
            row.push_back(columnValue(m_st.get(), i));
        const int rc = sqlite3_step(m_st.get());
        if (rc == SQLITE_DONE)
            m_hasRow = false;
        else if (rc != SQLITE_ROW)
            fail(m_db);
        return true;
    }

private:
    sqlite3* m_db;
    StmtPtr m_st;
    bool m_hasRow;
    StatementCache* m_cache;
    std::string m_text;
    std::vector<std::string> m_names;
};

class SqlitePrepared final : public PreparedStatement {
public:
    SqlitePrepared(sqlite3* db, StmtPtr st) : m_db(db), m_st(std::move(st)) {}
    void bindText(int index, const std::string& bytes) override {
        if (sqlite3_bind_text(m_st.get(), index + 1, bytes.data(), static_cast<int>(bytes.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK)
            fail(m_db);
    }
    void execute() override {
        const int rc = sqlite3_step(m_st.get());
        sqlite3_reset(m_st.get());
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            fail(m_db);
    }

private:
    sqlite3* m_db;
    StmtPtr m_st;
};

class SqliteBackend final : public Backend {
public:
    explicit SqliteBackend(const std::string& path) : m_path(path) {
        const int rc = sqlite3_open_v2(
            path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
            nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = m_db ? sqlite3_errmsg(m_db) : "out of memory";
            sqlite3_close(m_db);
            throw DbError("Cannot open database \"" + path + "\": " + msg);
        }
        sqlite3_extended_result_codes(m_db, 1);
        // Another process (a maintenance tool, a second station) may hold the
        // file briefly; wait for it rather than failing a scan.
        sqlite3_busy_timeout(m_db, 2000);
        // WAL: a scan's one-row update commits with one sync of the log
        // instead of rewriting the journal; readers never block the writer.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=FULL");
    }
    ~SqliteBackend() override {
        m_cache.clear();
        sqlite3_close_v2(m_db);
    }

    Dialect dialect() const override { return Dialect::Sqlite; }

    std::unique_ptr<Cursor> run(const ParsedSql& sql, const ParamValues& values) override {
        checkFile();
        return runStatements(sql, values, false);
    }

    long long runAll(const ParsedSql& sql, const ParamValues& values) override {
        checkFile();
        const sqlite3_int64 before = sqlite3_total_changes64(m_db);
        runStatements(sql, values, true);
        return sqlite3_total_changes64(m_db) - before;
    }

    std::unique_ptr<PreparedStatement> prepare(const ParsedSql& sql) override {
        checkFile();
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(m_db, sql.text.c_str(), static_cast<int>(sql.text.size()),
                               SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
            fail(m_db);
        // Rows are checked at the transaction's start and commit, not one by one.
        return std::make_unique<SqlitePrepared>(m_db, StmtPtr(raw));
    }

    void beginTransaction() override {
        checkFile();
        exec("BEGIN IMMEDIATE");
    }
    void commit() override {
        checkFile();
        exec("COMMIT");
    }
    void rollback() override {
        if (inTransaction())
            exec("ROLLBACK");
    }
    bool inTransaction() override { return sqlite3_get_autocommit(m_db) == 0; }

private:
    // The file this connection has open may no longer be the one at its path:
    // deleted (what is written goes nowhere) or replaced by another copy
    // (writing would corrupt it). Either way nothing may be written through
    // this connection any more.
    void checkFile() {
        int moved = 0;
        if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
            moved)
            throw DbConnectionLost("The database file \"" + m_path +
                                   "\" was deleted or replaced while it was open");
    }

    // Steps past the rest of a statement's rows; rc is its first step's.
    void drain(sqlite3_stmt* st, int rc) {
        while (rc == SQLITE_ROW)
            rc = sqlite3_step(st);
        if (rc != SQLITE_DONE)
            fail(m_db);
    }

    // toTheEnd: every statement runs to its end and no result set is kept;
    // otherwise the last statement's rows are returned unread.
    std::unique_ptr<Cursor> runStatements(const ParsedSql& sql, const ParamValues& values,
                                          bool toTheEnd) {
        if (StmtPtr cached = m_cache.take(sql.text))
            return runCached(sql.text, std::move(cached), values, toTheEnd);
        const char* tail = sql.text.c_str();
        const char* end = tail + sql.text.size();
        std::size_t used = 0; // markers consumed by earlier statements
        bool first = true;
        while (tail < end) {
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v2(m_db, tail, static_cast<int>(end - tail), &raw, &tail) !=
                SQLITE_OK)
                fail(m_db);
            if (!raw)
                continue; // only blanks or comments were left
            StmtPtr st(raw);
            const int n = sqlite3_bind_parameter_count(raw);
            for (int i = 1; i <= n; ++i) {
                const std::size_t k = used + static_cast<std::size_t>(i) - 1;
                if (k >= values.size() || !values[k])
                    throw DbError("Parameter has no value");
                const std::string& v = *values[k];
                if (sqlite3_bind_text(raw, i, v.data(), static_cast<int>(v.size()),
                                      SQLITE_TRANSIENT) != SQLITE_OK)
                    fail(m_db);
            }
            used += static_cast<std::size_t>(n);
            const int rc = sqlite3_step(raw);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                fail(m_db);
            const bool last = std::strspn(tail, " \t\r\n;") == std::strlen(tail);
            const bool whole = last && first; // the batch is this one statement
            first = false;
            if (toTheEnd)
                drain(raw, rc);
            else if (sqlite3_column_count(raw) > 0) {
                if (!last)
                    throw DbError("a batch may return one result set, from its last statement");
                return std::make_unique<SqliteCursor>(m_db, std::move(st), rc == SQLITE_ROW,
                                                      whole ? &m_cache : nullptr, sql.text);
            }
            if (whole)
                m_cache.give(sql.text, std::move(st));
        }
        return nullptr;
    }

    std::unique_ptr<Cursor> runCached(const std::string& text, StmtPtr st,
                                      const ParamValues& values, bool toTheEnd) {
        sqlite3_stmt* raw = st.get();
        const int n = sqlite3_bind_parameter_count(raw);
        for (int i = 1; i <= n; ++i) {
            const std::size_t k = static_cast<std::size_t>(i) - 1;
            if (k >= values.size() || !values[k])
                throw DbError("Parameter has no value");
            const std::string& v = *values[k];
            if (sqlite3_bind_text(raw, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT) !=
                SQLITE_OK)
                fail(m_db);
        }
        const int rc = sqlite3_step(raw);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            sqlite3_reset(raw); // reports the error of the step
            fail(m_db);
        }
        if (toTheEnd)
            drain(raw, rc);
        else if (sqlite3_column_count(raw) > 0)
            return std::make_unique<SqliteCursor>(m_db, std::move(st), rc == SQLITE_ROW, &m_cache,
                                                  text);
        m_cache.give(text, std::move(st));
        return nullptr;
    }

    void exec(const char* sql) {
        char* err = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : "SQLite error";
            sqlite3_free(err);
            throw DbError(msg);
        }
    }

    sqlite3* m_db = nullptr;
    std::string m_path;
    StatementCache m_cache;
};

} // namespace

std::unique_ptr<Backend> openSqliteBackend(const std::string& path) {
    return std::make_unique<SqliteBackend>(path);
}

} // namespace vx::data
