#include "journal/JournalReader.h"

#include "data/Value.h"

#include <sqlite3.h>

namespace vx::journal {
namespace {

struct Statement {
    sqlite3_stmt* st = nullptr;
    ~Statement() { sqlite3_finalize(st); }
};

void text(sqlite3_stmt* st, int col, std::string& out) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    out.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

void blob(sqlite3_stmt* st, int col, std::optional<std::string>& out) {
    if (sqlite3_column_type(st, col) == SQLITE_NULL) {
        out.reset();
        return;
    }
    const auto* p = static_cast<const char*>(sqlite3_column_blob(st, col));
    const auto n = static_cast<std::size_t>(sqlite3_column_bytes(st, col));
    if (!out)
        out.emplace();
    out->assign(p ? p : "", n);
}

void integer(sqlite3_stmt* st, int col, std::optional<std::int64_t>& out) {
    if (sqlite3_column_type(st, col) == SQLITE_NULL)
        out.reset();
    else
        out = sqlite3_column_int64(st, col);
}

} // namespace

JournalReader::JournalReader(const std::string& path) : m_path(path) {
    // One thread uses a reader: no locking inside SQLite for every column.
    const int rc =
        sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw data::DbError(path + ": " + msg);
    }
    sqlite3_busy_timeout(m_db, 2000);
    // Pages straight from the file's mapping rather than copied by read():
    // a report walks the whole file once.
    sqlite3_exec(m_db, "PRAGMA mmap_size=4294967296", nullptr, nullptr, nullptr);
    Statement probe;
    if (sqlite3_prepare_v2(m_db, "SELECT id FROM events LIMIT 1", -1, &probe.st, nullptr) !=
        SQLITE_OK) {
        std::string msg = sqlite3_errmsg(m_db);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw data::DbError(path + ": not a station journal (" + msg + ")");
    }
}

JournalReader::~JournalReader() {
    sqlite3_close_v2(m_db);
}

std::int64_t JournalReader::highestId() {
    Statement s;
    if (sqlite3_prepare_v2(m_db, "SELECT max(id) FROM events", -1, &s.st, nullptr) != SQLITE_OK ||
        sqlite3_step(s.st) != SQLITE_ROW)
        throw data::DbError(sqlite3_errmsg(m_db));
    return sqlite3_column_int64(s.st, 0);
}

void JournalReader::forEach(const JournalFilter& f, Order order,
                            const std::function<bool(const JournalRow&)>& fn,
                            const std::function<void(std::int64_t, std::int64_t)>& progress) {
    // In append order the rows come by id, and the time test is made here
    // on each row: in SQL it would cost more than the row's reading, and on
    // the time index it would fetch every row by a search of its own.
    const bool appended = order == Order::Appended;
    // Lean rows: each selected column costs its decoding whether read or
    // not, so only the first five are selected and the rest of a row that
    // is not of the lean kind is fetched by its id.
    const bool lean = !f.leanKind.empty();
    std::string sql = std::string("SELECT ") + (lean ? "id,t,kind,what,record" : kJournalColumns) +
                      " FROM events WHERE 1";
    if (f.from && !appended)
        sql += " AND t>=?1";
    if (f.to && !appended)
        sql += " AND t<=?2";
    if (!f.kind.empty())
        sql += " AND kind=?3";
    if (!f.what.empty())
        sql += " AND what=?4";
    if (f.record)
        sql += " AND record=?5";
    if (f.code)
        sql += " AND code=?6";
    if (f.firstId)
        sql += " AND id>=?7";
    if (f.lastId)
        sql += " AND id<=?8";
    sql += order == Order::Appended ? " ORDER BY id"
           : order == Order::Latest ? " ORDER BY t DESC,id DESC"
                                    : " ORDER BY t,id";

    Statement s;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &s.st, nullptr) != SQLITE_OK)
        throw data::DbError(sqlite3_errmsg(m_db));
    if (f.from && !appended)
        sqlite3_bind_int64(s.st, 1, *f.from);
    if (f.to && !appended)
        sqlite3_bind_int64(s.st, 2, *f.to);
    if (!f.kind.empty())
        sqlite3_bind_text(s.st, 3, f.kind.data(), static_cast<int>(f.kind.size()), SQLITE_STATIC);
    if (!f.what.empty())
        sqlite3_bind_text(s.st, 4, f.what.data(), static_cast<int>(f.what.size()), SQLITE_STATIC);
    if (f.record)
        sqlite3_bind_int64(s.st, 5, *f.record);
    if (f.code)
        sqlite3_bind_blob(s.st, 6, f.code->data(), static_cast<int>(f.code->size()), SQLITE_STATIC);
    if (f.firstId)
        sqlite3_bind_int64(s.st, 7, *f.firstId);
    if (f.lastId)
        sqlite3_bind_int64(s.st, 8, *f.lastId);
    const std::int64_t from = appended ? f.from.value_or(INT64_MIN) : INT64_MIN;
    const std::int64_t to = appended ? f.to.value_or(INT64_MAX) : INT64_MAX;

    Statement rest;
    if (lean && sqlite3_prepare_v2(m_db,
                                   "SELECT lo,hi,labels,code,raw,subject,backend,message "
                                   "FROM events WHERE id=?1",
                                   -1, &rest.st, nullptr) != SQLITE_OK)
        throw data::DbError(sqlite3_errmsg(m_db));

    const std::int64_t top = progress ? highestId() : 0;
    std::int64_t seen = 0;
    JournalRow row;
    int rc;
    while ((rc = sqlite3_step(s.st)) == SQLITE_ROW) {
        row.time = sqlite3_column_int64(s.st, 1);
        if (row.time < from || row.time > to)
            continue;
        row.id = sqlite3_column_int64(s.st, 0);
        text(s.st, 2, row.kind);
        text(s.st, 3, row.what);
        integer(s.st, 4, row.record);
        sqlite3_stmt* tail = s.st;
        int col = 5;
        if (lean) {
            row.low.reset();
            row.high.reset();
            row.labels.reset();
            row.code.reset();
            row.raw.reset();
            row.subject.clear();
            row.backend.clear();
            row.message.clear();
            if (row.kind != f.leanKind) {
                sqlite3_reset(rest.st);
                sqlite3_bind_int64(rest.st, 1, row.id);
                tail = sqlite3_step(rest.st) == SQLITE_ROW ? rest.st : nullptr;
                col = 0;
            } else {
                tail = nullptr;
            }
        }
        if (tail) {
            integer(tail, col, row.low);
            integer(tail, col + 1, row.high);
            integer(tail, col + 2, row.labels);
            blob(tail, col + 3, row.code);
            blob(tail, col + 4, row.raw);
            text(tail, col + 5, row.subject);
            text(tail, col + 6, row.backend);
            text(tail, col + 7, row.message);
        }
        if (!fn(row))
            return;
        if (progress && ++seen % 1'000'000 == 0)
            progress(row.id, top);
    }
    if (rc != SQLITE_DONE)
        throw data::DbError(sqlite3_errmsg(m_db));
}

} // namespace vx::journal
