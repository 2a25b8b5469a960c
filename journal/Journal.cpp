#include "journal/Journal.h"

#include "data/NewFile.h"
#include "data/Value.h"
#include "journal/JournalChain.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sqlite3.h>
#include <system_error>

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
                                "message TEXT,"
                                "link BLOB,"
                                "hash BLOB);"
                                "CREATE INDEX IF NOT EXISTS events_t ON events(t);"
                                "CREATE TABLE IF NOT EXISTS chain(start BLOB NOT NULL,"
                                "continues TEXT,"
                                "before INTEGER NOT NULL);";

// Each row hashed with the hash of the row before it, read in the same
// statement, under the same write lock: a second station appending to the
// file between two of ours still leaves one chain.
constexpr const char* kInsert =
    "INSERT INTO events(t,kind,what,record,lo,hi,labels,code,raw,subject,backend,message,"
    "link,hash) "
    "SELECT ?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,substr(p,1,8),"
    "chain_hash(p,?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12) "
    "FROM (SELECT coalesce((SELECT hash FROM events ORDER BY id DESC LIMIT 1),"
    "(SELECT start FROM chain LIMIT 1),zeroblob(32)) AS p)";

// The rows without their hash, as the journal wrote them before the chain.
constexpr const char* kInsertUnchained =
    "INSERT INTO events(t,kind,what,record,lo,hi,labels,code,raw,subject,backend,message) "
    "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)";

// The hash the next row follows.
constexpr const char* kTip = "SELECT coalesce((SELECT hash FROM events ORDER BY id DESC LIMIT 1),"
                             "(SELECT start FROM chain LIMIT 1))";

bool hasColumn(sqlite3* db, const char* column) {
    sqlite3_stmt* probe = nullptr;
    const std::string sql = std::string("SELECT ") + column + " FROM events LIMIT 0";
    const bool has = sqlite3_prepare_v2(db, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    return has;
}

// The tables, and the chain's columns in a journal from before them (its
// rows stay unchained). Each column is looked for on its own: an upgrade
// cut short between the two (a second station holding the lock, the
// process killed) is finished by the next open, never left unopenable.
int ensureSchema(sqlite3* db, char** err) {
    int rc = sqlite3_exec(db, kSchema, nullptr, nullptr, err);
    for (const char* column : {"link", "hash"}) {
        if (rc != SQLITE_OK || hasColumn(db, column))
            continue;
        const std::string sql = std::string("ALTER TABLE events ADD COLUMN ") + column + " BLOB";
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, err);
    }
    return rc;
}

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

void bindEvent(sqlite3_stmt* st, const JournalEvent& e, std::int64_t time) {
    sqlite3_bind_int64(st, 1, time);
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
}

// Failures after which the connection itself is suspect and is reopened.
bool connectionBroken(int rc) {
    const int primary = rc & 0xff;
    return primary != SQLITE_FULL && primary != SQLITE_BUSY && primary != SQLITE_LOCKED;
}

// Runs f, a few SQLite calls and nothing that must be released, so that a
// shared-memory file that cannot be used ends the call, not the process;
// false when it did.
template <class F> bool guarded(F&& f) {
    return platform::runGuarded([](void* p) { (*static_cast<F*>(p))(); }, &f);
}

// Closes a connection; one that met a broken shared-memory file (or meets
// it now) is left open for good, never to be touched again.
void closeConnection(sqlite3* db, bool broken, bool fold) {
    if (!db || broken)
        return;
    if (!fold) // nothing done by name: the files at the path are not ours any more
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    guarded([db] { sqlite3_close_v2(db); });
}

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::uintmax_t fileSize(const std::string& path) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

// "dir/vexora-journal-broken-20261208T061500Z.db" for "dir/vexora-journal.db".
std::string asideName(const std::string& path, const std::string& why, std::int64_t now) {
    const std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + "-" + why + "-" + platform::fileStamp(now) +
                               p.extension().string()))
        .string();
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
    if (ensureSchema(db, &err) != SQLITE_OK) {
        std::string msg = err ? err : "cannot create the journal table";
        sqlite3_free(err);
        throw data::DbError(msg);
    }
}

void startChain(sqlite3* db, const Digest& start, const std::string& continues) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "INSERT INTO chain(start,continues,before) "
                                "SELECT ?1,?2,coalesce((SELECT max(id) FROM events),0) "
                                "WHERE NOT EXISTS(SELECT 1 FROM chain)",
                                -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_blob(st, 1, start.data(), static_cast<int>(start.size()), SQLITE_STATIC);
        bindText(st, 2, continues);
        rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        throw data::DbError(std::string("cannot start the journal's chain: ") + sqlite3_errmsg(db));
}

Digest appendChained(sqlite3* db, const JournalEvent& e) {
    Digest made{};
    registerChainFunction(db, &made);
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, kInsert, -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        bindEvent(st, e, e.time ? e.time : utcNowMs());
        rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        throw data::DbError(std::string("cannot write the journal: ") + sqlite3_errmsg(db));
    return made;
}

Journal::Journal(std::string path, Clock clock, Chain chain)
    : m_path(std::move(path)), m_clock(clock), m_chained(chain == Chain::Kept) {
    {
        std::lock_guard lock(m_mutex);
        bool faulted = false;
        if (!openFileLocked() || !writeNotesLocked(faulted)) {
            m_failed = true;
            m_pending.emplace_back(Trouble::CannotWrite, m_db ? m_lastError : m_openError);
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
    if (movedLocked())
        leaveFileLocked(false);
    else
        closeLocked(); // the last connection to close folds the log into the file
}

void Journal::setFailureListener(FailureListener listener) {
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
    // What happened at opening is told as soon as someone listens.
    if (m_listener)
        for (const auto& [trouble, message] : m_pending)
            m_listener(trouble, message);
    m_pending.clear();
}

void Journal::tell(Trouble trouble, const std::string& message) {
    if (m_listener)
        m_listener(trouble, message);
    else
        m_pending.emplace_back(trouble, message);
}

// A write-ahead log whose journal file is gone (moved away after a crash,
// its last events still in the log) would be deleted by SQLite as the log
// of the empty file about to be made: it is given a name of its own first,
// and no journal is made while that cannot be done.
bool Journal::keepOrphanedLog() {
    const std::string wal = m_path + "-wal";
    if (exists(m_path) || fileSize(wal) == 0)
        return true;
    const std::string kept = wal + ".orphaned-" + platform::fileStamp(m_clock());
    std::string why;
    if (!data::platform::renameNoReplace(wal, kept, why)) {
        m_openError = wal +
                      ": a write-ahead log without its journal file is in the way and "
                      "cannot be kept (" +
                      why + "); put it beside the journal file it belongs to";
        return false;
    }
    JournalEvent note;
    note.kind = JournalWords::Journal;
    note.what = JournalWords::OrphanedLog;
    note.subject = kept;
    note.message = "a write-ahead log without its journal file was kept as " + kept +
                   "; beside the journal file it belongs to, named as that file with -wal "
                   "added, its events are read again";
    m_notes.push_back(note);
    return true;
}

bool Journal::openLocked() {
    if (m_lock.held() && !m_lock.locks(m_path)) {
        // The file locked is no longer the one at the path: nothing of this
        // process may have it open when its descriptor is closed.
        dropCheckpointConnection(false);
        m_lock = {};
    }
    if (!m_lock.held()) {
        if (!keepOrphanedLog())
            return false;
        std::string why;
        switch (m_lock.lock(m_path, platform::FileLock::Mode::Shared, true, why)) {
        case platform::FileLock::Result::Locked:
            break;
        case platform::FileLock::Result::Busy:
            m_openError = m_path + ": the journal is being archived; it is opened again after";
            return false;
        default:
            m_openError = m_path + ": " + why;
            return false;
        }
    }
    sqlite3* db = nullptr;
    int rc = SQLITE_ERROR;
    guarded([&] {
        rc = sqlite3_open_v2(m_path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    });
    bool broken = false;
    auto fail = [&](const std::string& why) {
        m_openError = why.empty() ? errorText(db, m_path) : why;
        if (!broken)
            sqlite3_finalize(m_insert);
        m_insert = nullptr;
        closeConnection(db, broken, true);
        m_openBroken = broken;
        return false;
    };
    if (rc != SQLITE_OK)
        return fail({});
    sqlite3_extended_result_codes(db, 1);
    // Only a second station on the same folder writes beside us.
    sqlite3_busy_timeout(db, 100);
    // WAL: an append writes its page to the log and returns; nothing is
    // rewritten in place, so an interrupted write never damages older rows.
    int schema = SQLITE_ERROR, prepared = SQLITE_ERROR;
    bool wal = false;
    broken = !guarded([&] {
        schema = ensureSchema(db, nullptr);
        if (schema == SQLITE_OK)
            schema = startChainLocked(db);
        sqlite3_stmt* mode = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &mode, nullptr) == SQLITE_OK &&
            sqlite3_step(mode) == SQLITE_ROW) {
            const auto* m = reinterpret_cast<const char*>(sqlite3_column_text(mode, 0));
            wal = m && sqlite3_stricmp(m, "wal") == 0;
        }
        sqlite3_finalize(mode);
        if (sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) == SQLITE_OK)
            prepared = sqlite3_prepare_v3(db, m_chained ? kInsert : kInsertUnchained, -1,
                                          SQLITE_PREPARE_PERSISTENT, &m_insert, nullptr);
    });
    if (broken)
        return fail(m_path + ": its shared-memory file (-shm) cannot be used");
    if (schema != SQLITE_OK || prepared != SQLITE_OK)
        return fail({});
    if (!wal)
        return fail(m_path + ": the journal cannot keep a write-ahead log here");
    // Our hook replaces the automatic checkpoint, which would run inside an
    // append and sync the file there.
    sqlite3_wal_hook(db, &Journal::walHook, this);
    m_db = db;
    return true;
}

// Opens the file at the path; one whose shared-memory file cannot be used
// is moved aside for a new one.
bool Journal::openFileLocked() {
    if (openLocked())
        return true;
    if (!m_openBroken)
        return false;
    m_openBroken = false;
    startOverLocked(true);
    return openLocked();
}

// The chain on a connection just opened: its hash function, the chain
// start of a new file (the last hash of the file it replaces, when the
// station had one), and the hash the next row follows.
int Journal::startChainLocked(sqlite3* db) {
    if (!m_chained)
        return SQLITE_OK;
    try {
        registerChainFunction(db, &m_made);
        sqlite3_stmt* st = nullptr;
        bool empty = false;
        if (sqlite3_prepare_v2(db, "SELECT NOT EXISTS(SELECT 1 FROM events)", -1, &st, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            empty = sqlite3_column_int(st, 0) != 0;
        sqlite3_finalize(st);
        if (empty && m_carry)
            startChain(db, m_carry->first, m_carry->second);
        else
            startChain(db, Digest{}, {});
        m_carry.reset();
        st = nullptr;
        m_tip.reset();
        if (sqlite3_prepare_v2(db, kTip, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW &&
            sqlite3_column_bytes(st, 0) == static_cast<int>(Digest{}.size())) {
            m_tip.emplace();
            std::memcpy(m_tip->data(), sqlite3_column_blob(st, 0), m_tip->size());
        }
        sqlite3_finalize(st);
    } catch (const data::DbError&) {
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

bool Journal::movedLocked() const {
    int moved = 0;
    return m_db &&
           sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved;
}

void Journal::closeLocked() {
    sqlite3_stmt* insert = m_insert;
    sqlite3* db = m_db;
    m_insert = nullptr;
    m_db = nullptr;
    if (!guarded([insert] { sqlite3_finalize(insert); }))
        return;
    closeConnection(db, false, true);
}

// The checkpoint thread's connection goes with the file the journal leaves:
// closed without touching anything by name, or, on a shared-memory file
// that cannot be used, left open and never touched again.
void Journal::dropCheckpointConnection(bool broken) {
    std::lock_guard lock(m_cpDbMutex);
    closeConnection(m_cpDb, broken, false);
    m_cpDb = nullptr;
    m_cpBroken = false;
}

// Leaves the file the journal writes. Broken: its shared-memory file cannot
// be used, and no connection on it is touched again (nor any other of this
// process on the same file, which would share its mapping). Otherwise the
// file was deleted or replaced: the log is folded into the file wherever it
// now is (its open descriptors still reach it), and nothing is done by name,
// since the names may belong to a new journal already.
void Journal::leaveFileLocked(bool broken) {
    dropCheckpointConnection(broken);
    sqlite3* db = m_db;
    sqlite3_stmt* insert = m_insert;
    m_db = nullptr;
    m_insert = nullptr;
    if (!broken)
        broken = !guarded([db, insert] {
            sqlite3_finalize(insert);
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        });
    closeConnection(db, broken, false);
    if (broken)
        m_lock.abandon();
    else
        m_lock = {};
}

// A new journal file at the path, after the one there was deleted or
// replaced, or could not be written (its shared-memory file truncated, or
// made read-only, under the station): the broken one is moved aside so the
// path is free for a new file, and the new file's first row tells.
void Journal::startOverLocked(bool broken) {
    // The new file's chain starts from the last hash this station wrote:
    // found again, the file before and the new one verify as one chain.
    const std::optional<Digest> tip = m_tip;
    leaveFileLocked(broken);
    JournalEvent note;
    note.kind = JournalWords::Journal;
    if (!broken) {
        note.what = JournalWords::Replaced;
        note.subject = m_path;
        note.message = "the journal file " + m_path +
                       " was deleted or replaced while the station ran; a new one was started";
    } else {
        note.what = JournalWords::Broken;
        const std::string aside = asideName(m_path, "broken", m_clock());
        std::string why;
        if (data::platform::renameNoReplace(m_path, aside, why)) {
            for (const char* part : {"-wal", "-shm"})
                if (exists(m_path + part))
                    data::platform::renameNoReplace(m_path + part, aside + part, why);
            note.subject = aside;
            note.message = "the journal's shared-memory file " + m_path +
                           "-shm could not be written; the journal was moved to " + aside +
                           " and a new one was started";
        } else {
            note.subject = m_path;
            note.message = "the journal's shared-memory file " + m_path +
                           "-shm could not be written, and the journal could not be moved "
                           "aside (" +
                           why + ")";
        }
    }
    m_notes.push_back(note);
    if (tip)
        m_carry.emplace(*tip,
                        "the journal " + note.subject + (broken ? " moved aside" : " replaced"));
    m_nextOpenAttempt = 0; // at once
}

Journal::Insert Journal::insertLocked(const JournalEvent& e) {
    sqlite3_stmt* st = m_insert;
    bindEvent(st, e, e.time ? e.time : m_clock());
    int rc = SQLITE_ERROR;
    if (!guarded([st, &rc] {
            rc = sqlite3_step(st);
            sqlite3_reset(st);
        })) {
        m_lastError = m_path + ": its shared-memory file (-shm) cannot be written";
        return Insert::Faulted;
    }
    sqlite3_clear_bindings(st);
    if (rc == SQLITE_DONE) {
        if (m_chained)
            m_tip = m_made;
        return Insert::Written;
    }
    m_lastError = errorText(m_db, m_path);
    if (connectionBroken(rc)) {
        closeLocked();
        // The first failure may be a passing one: try again at the next
        // append. Later ones keep the station from reopening at every scan.
        m_nextOpenAttempt = m_failed ? m_clock() + kReopenIntervalMs : 0;
    }
    return Insert::Failed;
}

// The rows that open a new journal file: what became of the one before,
// and how many events were lost while none could be written.
bool Journal::writeNotesLocked(bool& faulted) {
    std::string told;
    while (m_db && !m_notes.empty()) {
        const Insert r = insertLocked(m_notes.front());
        if (r != Insert::Written) {
            faulted = r == Insert::Faulted;
            return false;
        }
        told += (told.empty() ? "" : "\n") + m_notes.front().message;
        m_notes.erase(m_notes.begin());
    }
    if (m_db && m_failed) {
        JournalEvent resumed;
        resumed.kind = JournalWords::Journal;
        resumed.what = JournalWords::Resumed;
        resumed.labels = m_lost;
        resumed.message = std::to_string(m_lost) + " events not written";
        const Insert r = insertLocked(resumed);
        if (r != Insert::Written) {
            faulted = r == Insert::Faulted;
            return false;
        }
        m_failed = false;
        m_lost = 0;
    }
    if (!told.empty())
        tell(Trouble::Restarted, told);
    return m_db != nullptr;
}

bool Journal::append(const JournalEvent& event) {
    std::lock_guard lock(m_mutex);
    bool written = false;
    std::string why;
    // The file must still be the one at the path, and its shared memory
    // usable, before anything more goes into it.
    if (m_db && m_cpBroken)
        startOverLocked(true);
    else if (movedLocked())
        startOverLocked(false);
    // A second round where the first met a broken shared-memory file.
    for (int round = 0; round < 2 && !written; ++round) {
        if (!m_db && m_clock() >= m_nextOpenAttempt && !openFileLocked())
            m_nextOpenAttempt = m_clock() + kReopenIntervalMs;
        if (!m_db) {
            why = m_openError;
            break;
        }
        bool faulted = false;
        if (writeNotesLocked(faulted)) {
            const Insert r = insertLocked(event);
            written = r == Insert::Written;
            faulted = r == Insert::Faulted;
        }
        if (!written)
            why = m_lastError;
        if (!faulted)
            break;
        startOverLocked(true);
    }
    if (!written) {
        ++m_lost;
        if (!m_failed) {
            m_failed = true;
            // Under the lock: once setFailureListener has replaced a
            // listener, the old one is never called again.
            if (!m_notes.empty())
                why = m_notes.back().message + "; " + why;
            tell(Trouble::CannotWrite, why);
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
    sqlite3* db = m_db;
    if (db && !guarded([db] {
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        }))
        startOverLocked(true);
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
    std::unique_lock lock(m_cpMutex);
    for (;;) {
        m_cpWake.wait(lock, [&] { return m_cpWanted || m_cpStop; });
        if (m_cpStop)
            break;
        m_cpWanted = false;
        lock.unlock();
        {
            std::lock_guard db(m_cpDbMutex);
            if (!m_cpDb && !m_cpBroken) {
                const bool opened = guarded([this] {
                    // A connection learns the file is in WAL mode when it
                    // first reads it; until then a checkpoint on it does
                    // nothing at all.
                    if (sqlite3_open_v2(m_path.c_str(), &m_cpDb, SQLITE_OPEN_READWRITE, nullptr) !=
                            SQLITE_OK ||
                        sqlite3_exec(m_cpDb, "PRAGMA schema_version", nullptr, nullptr, nullptr) !=
                            SQLITE_OK) {
                        sqlite3_close_v2(m_cpDb);
                        m_cpDb = nullptr;
                    }
                });
                if (!opened) {
                    m_cpDb = nullptr;
                    m_cpBroken = true;
                }
            }
            // PASSIVE copies what no reader needs and never waits for the
            // writer; the next append then starts the log from its beginning.
            sqlite3* cp = m_cpDb;
            if (cp && !guarded([cp] {
                    sqlite3_wal_checkpoint_v2(cp, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                              nullptr);
                })) {
                m_cpDb = nullptr; // left open: its mapping cannot be used
                m_cpBroken = true;
            }
        }
        lock.lock();
    }
    lock.unlock();
    std::lock_guard db(m_cpDbMutex);
    closeConnection(m_cpDb, false, true);
    m_cpDb = nullptr;
}

} // namespace vx::journal
