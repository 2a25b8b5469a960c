#include "journal/Journal.h"

#include "data/Value.h"

#include <chrono>
#include <sqlite3.h>

namespace vx::journal {
namespace {

constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS events("
                                "id INTEGER PRIMARY KEY,"
                                "t INTEGER NOT NULL,"
                                "kind TEXT NOT NULL,"
                                "what TEXT NOT NULL,"
                                "record INTEGER,"
                                "lo INTEGER,"
                                "hi INTEGER,"
                                "labels INTEGER,"
                                "code BLOB,"
                                "raw BLOB,"
                                "subject TEXT,"
                                "backend TEXT,"
                                "message TEXT);"
                                "CREATE INDEX IF NOT EXISTS events_t ON events(t);";

constexpr const char* kInsert =
    "INSERT INTO events(t,kind,what,record,lo,hi,labels,code,raw,subject,backend,message) "
    "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)";

std::string errorText(sqlite3* db, const std::string& path) {
    return path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

void bindText(sqlite3_stmt* st, int i, const std::string& s) {
    if (s.empty())
        sqlite3_bind_null(st, i);
    else
        sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
}

void bindBlob(sqlite3_stmt* st, int i, const std::optional<std::string>& b) {
    if (!b)
        sqlite3_bind_null(st, i);
    else // an empty scan is still a scan: a zero-length BLOB, not NULL
        sqlite3_bind_blob(st, i, b->data(), static_cast<int>(b->size()), SQLITE_STATIC);
}

void bindInt(sqlite3_stmt* st, int i, const std::optional<std::int64_t>& v) {
    if (v)
        sqlite3_bind_int64(st, i, *v);
    else
        sqlite3_bind_null(st, i);
}

// Failures after which the connection itself is suspect and is reopened.
bool connectionBroken(int rc) {
    const int primary = rc & 0xff;
    return primary != SQLITE_FULL && primary != SQLITE_BUSY && primary != SQLITE_LOCKED;
}

} // namespace

bool verifiedGood(std::string_view what) {
    return what == JournalVerdict::Good || what == JournalVerdict::MissingRange;
}

std::int64_t utcNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void createJournalSchema(sqlite3* db) {
    char* err = nullptr;
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "cannot create the journal table";
        sqlite3_free(err);
        throw data::DbError(msg);
    }
}

Journal::Journal(std::string path, Clock clock) : m_path(std::move(path)), m_clock(clock) {
    {
        std::lock_guard lock(m_mutex);
        if (!openLocked()) {
            m_failed = true;
            m_pendingReport = m_openError;
            m_nextOpenAttempt = m_clock() + kReopenIntervalMs;
        }
    }
    m_cpThread = std::thread([this] { checkpointLoop(); });
}

Journal::~Journal() {
    {
        std::lock_guard lock(m_cpMutex);
        m_cpStop = true;
    }
    m_cpWake.notify_all();
    m_cpThread.join();
    std::lock_guard lock(m_mutex);
    closeLocked(); // the last connection to close folds the log into the file
}

void Journal::setFailureListener(FailureListener listener) {
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
    // A journal that could not be opened is reported as soon as someone
    // listens.
    if (!m_pendingReport.empty() && m_listener)
        m_listener(m_pendingReport);
    m_pendingReport.clear();
}

bool Journal::openLocked() {
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(m_path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto fail = [&] {
        m_openError = errorText(db, m_path);
        sqlite3_close_v2(db);
        return false;
    };
    if (rc != SQLITE_OK)
        return fail();
    sqlite3_extended_result_codes(db, 1);
    // Only a second station on the same folder writes beside us.
    sqlite3_busy_timeout(db, 100);
    try {
        createJournalSchema(db);
    } catch (const data::DbError&) {
        return fail();
    }
    // WAL: an append writes its page to the log and returns; nothing is
    // rewritten in place, so an interrupted write never damages older rows.
    sqlite3_stmt* mode = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &mode, nullptr) == SQLITE_OK &&
        sqlite3_step(mode) == SQLITE_ROW) {
        const auto* m = reinterpret_cast<const char*>(sqlite3_column_text(mode, 0));
        wal = m && sqlite3_stricmp(m, "wal") == 0;
    }
    sqlite3_finalize(mode);
    if (!wal) {
        m_openError = m_path + ": the journal cannot keep a write-ahead log here";
        sqlite3_close_v2(db);
        return false;
    }
    if (sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(db, kInsert, -1, SQLITE_PREPARE_PERSISTENT, &m_insert, nullptr) !=
            SQLITE_OK)
        return fail();
    // Our hook replaces the automatic checkpoint, which would run inside an
    // append and sync the file there.
    sqlite3_wal_hook(db, &Journal::walHook, this);
    m_db = db;
    return true;
}

void Journal::closeLocked() {
    sqlite3_finalize(m_insert);
    m_insert = nullptr;
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Journal::insertLocked(const JournalEvent& e) {
    sqlite3_stmt* st = m_insert;
    sqlite3_bind_int64(st, 1, e.time ? e.time : m_clock());
    sqlite3_bind_text(st, 2, e.kind.data(), static_cast<int>(e.kind.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 3, e.what.data(), static_cast<int>(e.what.size()), SQLITE_STATIC);
    bindInt(st, 4, e.record);
    bindInt(st, 5, e.low);
    bindInt(st, 6, e.high);
    bindInt(st, 7, e.labels);
    bindBlob(st, 8, e.code);
    bindBlob(st, 9, e.raw);
    bindText(st, 10, e.subject);
    bindText(st, 11, e.backend);
    bindText(st, 12, e.message);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    if (rc == SQLITE_DONE)
        return true;
    m_lastError = errorText(m_db, m_path);
    if (connectionBroken(rc)) {
        closeLocked();
        // The first failure may be a passing one: try again at the next
        // append. Later ones keep the station from reopening at every scan.
        m_nextOpenAttempt = m_failed ? m_clock() + kReopenIntervalMs : 0;
    }
    return false;
}

bool Journal::append(const JournalEvent& event) {
    bool written = false;
    {
        std::lock_guard lock(m_mutex);
        std::string why;
        if (!m_db && m_clock() >= m_nextOpenAttempt && !openLocked())
            m_nextOpenAttempt = m_clock() + kReopenIntervalMs;
        if (!m_db)
            why = m_openError;
        if (m_db && m_failed) {
            JournalEvent resumed;
            resumed.kind = JournalWords::Journal;
            resumed.what = JournalWords::Resumed;
            resumed.labels = m_lost;
            resumed.message = std::to_string(m_lost) + " events not written";
            if (insertLocked(resumed)) {
                m_failed = false;
                m_lost = 0;
            } else {
                why = m_lastError;
            }
        }
        if (m_db && !m_failed) {
            written = insertLocked(event);
            if (!written)
                why = m_lastError;
        }
        if (!written) {
            ++m_lost;
            if (!m_failed) {
                m_failed = true;
                // Under the lock: once setFailureListener has replaced a
                // listener, the old one is never called again.
                if (m_listener)
                    m_listener(why);
            }
        }
    }
    return written;
}

bool Journal::writable() const {
    std::lock_guard lock(m_mutex);
    return m_db && !m_failed;
}

std::int64_t Journal::lost() const {
    std::lock_guard lock(m_mutex);
    return m_lost;
}

void Journal::checkpoint() {
    std::lock_guard lock(m_mutex);
    if (m_db)
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

int Journal::walHook(void* self, sqlite3*, const char*, int frames) {
    if (frames >= kCheckpointFrames) {
        auto* j = static_cast<Journal*>(self);
        {
            std::lock_guard lock(j->m_cpMutex);
            j->m_cpWanted = true;
        }
        j->m_cpWake.notify_one();
    }
    return SQLITE_OK;
}

void Journal::checkpointLoop() {
    sqlite3* db = nullptr;
    std::unique_lock lock(m_cpMutex);
    for (;;) {
        m_cpWake.wait(lock, [&] { return m_cpWanted || m_cpStop; });
        if (m_cpStop)
            break;
        m_cpWanted = false;
        lock.unlock();
        if (!db &&
            sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(db);
            db = nullptr;
        }
        // PASSIVE copies what no reader needs and never waits for the
        // writer; the next append then starts the log from its beginning.
        if (db)
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        lock.lock();
    }
    lock.unlock();
    sqlite3_close_v2(db);
}

} // namespace vx::journal
