// The archive of a journal: the file with its write-ahead log folded in,
// under a new name, and an empty journal where it was.

#include "data/NewFile.h"
#include "journal/Journal.h"
#include "journal/JournalPlatform.h"

#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <system_error>

namespace vx::journal {
namespace {

struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }
};

[[noreturn]] void fail(const std::string& path, sqlite3* db, const std::string& doing) {
    throw data::DbError(path + ": " + doing + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// One value of a statement's first row.
std::string firstValue(sqlite3* db, const std::string& sql, const std::string& path) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        fail(path, db, sql);
    const int rc = sqlite3_step(st);
    std::string value;
    if (rc == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        value = text ? text : "";
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(path, db, sql);
    return value;
}

// Every event of the journal's write-ahead log folded into the file, and the
// file left as one that needs no log (rollback journal mode), so it reads on
// its own, even read-only; then its last row, saying where it goes, on the
// chain. Returns the events before that row, the row's id in rowId and its
// hash, the last of the archive, in last.
std::int64_t foldIn(const std::string& path, const std::string& target, std::int64_t& rowId,
                    Digest& last) {
    Connection c;
    if (sqlite3_open_v2(path.c_str(), &c.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        fail(path, c.db, "cannot open the journal");
    sqlite3_busy_timeout(c.db, 2000);
    const std::int64_t events = std::stoll(firstValue(c.db, "SELECT count(*) FROM events", path));
    // Leaving WAL mode folds the log into the file and removes it; it needs
    // the file to itself, so a reader still in it makes it fail.
    if (sqlite3_stricmp(firstValue(c.db, "PRAGMA journal_mode=DELETE", path).c_str(), "delete") !=
        0)
        throw data::DbError(path +
                            ": its write-ahead log cannot be folded in while a program reads "
                            "the journal; try again when it is done");
    JournalEvent archived;
    archived.kind = JournalWords::Journal;
    archived.what = JournalWords::Archived;
    archived.subject = target;
    archived.message = "archived to " + target + "; the next events are in " + path;
    try {
        // A journal from before the chain gets its columns and a chain
        // start; its rows stay unchained.
        createJournalSchema(c.db);
        startChain(c.db, Digest{}, {});
        last = appendChained(c.db, archived);
    } catch (const data::DbError& e) {
        throw data::DbError(path + ": " + e.what());
    }
    rowId = sqlite3_last_insert_rowid(c.db);
    if (sqlite3_close_v2(c.db) != SQLITE_OK)
        fail(path, c.db, "cannot close the journal");
    c.db = nullptr;
    std::error_code ec;
    if (std::filesystem::file_size(path + "-wal", ec) > 0 && !ec)
        throw data::DbError(path + "-wal: the write-ahead log is still there");
    return events;
}

// Takes the row that said where the journal went out again: it did not go.
void unsay(const std::string& path, std::int64_t rowId) {
    Connection c;
    if (sqlite3_open_v2(path.c_str(), &c.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return;
    const std::string sql = "DELETE FROM events WHERE id=" + std::to_string(rowId);
    sqlite3_exec(c.db, sql.c_str(), nullptr, nullptr, nullptr);
}

// A copy of the file under the new name, for a target on another file
// system; complete and durable before it has its name.
void copyTo(const std::string& path, const std::string& target) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw data::DbError(path + ": cannot be read");
    try {
        data::NewFile out(target);
        char buf[1 << 16];
        while (in.read(buf, sizeof buf) || in.gcount() > 0)
            out.write(std::string_view(buf, static_cast<std::size_t>(in.gcount())));
        if (in.bad())
            throw data::DbError(path + ": cannot be read");
        out.commit();
    } catch (const data::FileError& e) {
        throw data::DbError(e.what());
    }
}

// An empty journal under a temporary name beside path, owned as the
// journal is, ready to take its name; its chain starts from start, the last
// hash of the archive.
std::string emptyJournal(const std::string& path, const Digest& start, const std::string& target) {
    const std::string fresh = path + ".new-" + std::to_string(data::platform::processId()) + "-" +
                              std::to_string(utcNowMs());
    Connection c;
    if (sqlite3_open_v2(fresh.c_str(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
        fail(fresh, c.db, "cannot make the new journal");
    try {
        createJournalSchema(c.db);
        startChain(c.db, start, "the journal archived to " + target);
    } catch (const data::DbError& e) {
        sqlite3_close_v2(c.db);
        c.db = nullptr;
        std::filesystem::remove(fresh);
        throw data::DbError(fresh + ": " + e.what());
    }
    sqlite3_close_v2(c.db);
    c.db = nullptr;
    platform::copyOwner(path, fresh);
    return fresh;
}

} // namespace

std::int64_t archiveJournal(const std::string& path, const std::string& target) {
    if (data::platform::exists(target))
        throw data::DbError(target + " exists; an archive never replaces a file");
    // Held to the end: no station writes the journal meanwhile, and one
    // that starts waits for the new journal.
    platform::FileLock lock;
    std::string why;
    switch (lock.lock(path, platform::FileLock::Mode::Exclusive, false, why)) {
    case platform::FileLock::Result::Locked:
        break;
    case platform::FileLock::Result::Busy:
        throw JournalInUse(path + " is in use by a station; close the station, then archive");
    case platform::FileLock::Result::Missing:
        throw data::DbError(path + ": there is no journal");
    case platform::FileLock::Result::Failed:
        throw data::DbError(path + ": " + why);
    }
    std::int64_t rowId = 0;
    Digest last{};
    const std::int64_t events = foldIn(path, target, rowId, last);
    bool placed = false;
    try {
        // The archive under its new name, the journal still under its own;
        // then the empty journal takes that name in one step.
        bool otherDevice = false;
        if (!platform::hardLink(path, target, otherDevice, why)) {
            if (!otherDevice)
                throw data::DbError(target + ": " + why);
            copyTo(path, target);
        }
        placed = true;
        const std::string fresh = emptyJournal(path, last, target);
        std::error_code ec;
        std::filesystem::rename(fresh, path, ec);
        if (ec) {
            const std::string why = ec.message();
            std::filesystem::remove(fresh, ec);
            throw data::DbError(path + ": the new journal cannot take its name (" + why + ")");
        }
    } catch (const data::DbError&) {
        std::error_code ec;
        if (placed)
            std::filesystem::remove(target, ec);
        unsay(path, rowId);
        throw;
    }
    return events;
}

} // namespace vx::journal
