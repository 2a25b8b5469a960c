#pragma once

#include "data/Value.h"
#include "journal/JournalChain.h"
#include "journal/JournalPlatform.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vx::journal {

// One event as the journal keeps it: one row of the table events. Fields
// that do not apply to an event stay empty (NULL in the file). Texts are
// byte strings as the station holds them; code and raw are kept byte for
// byte as BLOBs.
struct JournalEvent {
    std::int64_t time = 0; // UTC milliseconds since 1970; 0: now, by the journal's clock
    std::string
        kind; // "scan", "print", "reprint", "data", "port", "database", "settings", "journal"
    std::string what; // a scan's verdict; for the others what happened
    std::optional<std::int64_t> record;
    std::optional<std::int64_t> low, high; // a range: missing numbers, printed records
    std::optional<std::int64_t> labels;    // labels sent to the printer
    std::optional<std::string> code, raw;  // the code field and the scan as received
    std::string subject;                   // template, port, server, settings keys
    std::string backend;
    std::string message;
};

// The journal's words for its kinds of event and what happened, shared by
// the writers in each subsystem and the readers.
namespace JournalWords {
inline constexpr const char* Scan = "scan";
inline constexpr const char* Print = "print";
inline constexpr const char* Port = "port";
inline constexpr const char* Database = "database";
inline constexpr const char* Settings = "settings";
inline constexpr const char* Journal = "journal";
// A reprint's rows: those of a print job (dispatched, printing and its
// outcome), its reason in the dispatch row's message.
inline constexpr const char* Reprint = "reprint";
// What changes the labels in the label database: imports, scripts, the
// grid's edits and deletions, the pictures.
inline constexpr const char* Data = "data";
// print: a range handed on (backend "direct" or "manual"), a job's end
inline constexpr const char* Dispatched = "dispatched";
inline constexpr const char* Reset = "reset";       // every record unscanned, printing from 1 again
inline constexpr const char* Printing = "printing"; // a job started: labels to print
inline constexpr const char* Printed = "printed";
inline constexpr const char* Failed = "failed";
inline constexpr const char* Cancelled = "cancelled"; // by the operator
inline constexpr const char* Queued = "queued";       // taken by a queue that holds it, not printed
// reprint: why a label is printed again
inline constexpr const char* Damaged = "damaged";
inline constexpr const char* Missing = "missing";
inline constexpr const char* Test = "test";
// data: an import (backend: the table; an import into a15 starts a new batch
// of labels), a script, a grid's edit, append and deletion, the pictures
inline constexpr const char* Imported = "imported";
inline constexpr const char* Script = "script";
inline constexpr const char* Edited = "edited";
inline constexpr const char* Appended = "appended";
inline constexpr const char* Deleted = "deleted";
inline constexpr const char* Pictures = "pictures";
// port, database
inline constexpr const char* Opened = "opened";
inline constexpr const char* Lost = "lost";
inline constexpr const char* Reconnected = "reconnected";
inline constexpr const char* Closed = "closed";
// settings, journal
inline constexpr const char* Saved = "saved";
inline constexpr const char* Resumed = "resumed";
// journal: the first rows of a journal file started while the station ran,
// saying what became of the one before (its new name in subject)
inline constexpr const char* Replaced = "replaced";        // deleted or replaced under the station
inline constexpr const char* Broken = "broken";            // could not be written; moved aside
inline constexpr const char* OrphanedLog = "orphaned-log"; // a log left by a moved journal, kept
// journal: the last row of a journal taken away by the archive (its name in subject)
inline constexpr const char* Archived = "archived";
} // namespace JournalWords

// The names a scan's verdict has in the journal (its column what).
namespace JournalVerdict {
inline constexpr const char* Good = "good";
inline constexpr const char* MissingRange = "missing-range";
inline constexpr const char* Duplicate = "duplicate";
inline constexpr const char* IgnoredRepeat = "ignored-repeat";
inline constexpr const char* WrongLength = "wrong-length";
inline constexpr const char* NotFound = "not-found";
inline constexpr const char* DatabaseError = "database-error";
inline constexpr const char* ComparisonOff = "comparison-off";
inline constexpr const char* NoDatabase = "no-database";
} // namespace JournalVerdict

// Verdicts that leave the record marked as scanned: the label was verified.
bool verifiedGood(std::string_view what);

// The file's layout, for readers.
inline constexpr const char* kJournalColumns =
    "id,t,kind,what,record,lo,hi,labels,code,raw,subject,backend,message";

// UTC milliseconds since 1970 from the system clock.
std::int64_t utcNowMs();

// The station's event journal: an SQLite file of its own, one row appended
// per event as it happens. An append returns once the row is in the file's
// write-ahead log, so a crash of the process (even SIGKILL) keeps every row
// appended before it; a power loss keeps the file consistent and loses at
// most the rows since the last checkpoint (synchronous=NORMAL: no sync per
// row, which would cost a disk flush per scan). Checkpoints run on a thread
// of their own, so no append waits for one.
//
// A journal that cannot be written never stops the caller, nor ends the
// process: append returns false, the listener hears of it once, and later
// appends try again (reopening the file at most every kReopenInterval). When
// writing works again a row "journal"/"resumed" records how many events
// were lost.
//
// The file is the one at the path: one deleted or replaced while the
// journal has it open is noticed at the next append, and one whose
// shared-memory file can no longer be written is moved aside; either way a
// new journal file is started at the path, its first row saying what became
// of the one before, and the listener hears of it. A write-ahead log found
// without its journal file (the file was moved away after a crash) is kept
// under a name of its own rather than thrown away.
//
// While it has the file, the journal holds a shared lock on it that the
// archive (archiveJournal) cannot take. That lock is a descriptor of the
// file, closed when the journal goes: a process has one Journal per file,
// since the close would drop the POSIX locks of another's connections.
//
// Every row carries a hash of its content and of the row before it (see
// JournalChain.h), so that a row changed, removed or inserted afterwards
// shows; a new file started after a deleted or broken one continues the
// chain from the last hash the station wrote.
//
// Appends may come from any thread.
class Journal {
public:
    // Off: rows without their hash, as the journal wrote them before it
    // kept a chain (to measure what the chain costs).
    enum class Chain { Kept, Off };
    using Clock = std::function<std::int64_t()>;
    enum class Trouble {
        CannotWrite, // events are not being written; once per failure episode
        Restarted,   // a new journal file was started; events go on being written
    };
    // Told on the thread whose append met the trouble, while the journal is
    // locked: it must not call the journal back.
    using FailureListener = std::function<void(Trouble trouble, const std::string& message)>;

    static constexpr const char* kFileName = "vexora-journal.db";
    static constexpr std::int64_t kReopenIntervalMs = 10'000;
    // Write-ahead log frames (pages) that wake the checkpoint thread.
    static constexpr int kCheckpointFrames = 1000;

    explicit Journal(std::string path, Clock clock = utcNowMs, Chain chain = Chain::Kept);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    void setFailureListener(FailureListener listener);

    // Appends one row; false when it could not be written. Never throws.
    bool append(const JournalEvent& event);

    const std::string& path() const { return m_path; }
    bool writable() const;
    // Events that could not be written since the journal last worked.
    std::int64_t lost() const;

    // Folds the write-ahead log into the file now (tests, closing).
    void checkpoint();

private:
    enum class Insert { Written, Failed, Faulted };

    bool openLocked();
    int startChainLocked(sqlite3* db);
    bool openFileLocked();
    bool movedLocked() const;
    void closeLocked();
    Insert insertLocked(const JournalEvent& event);
    bool writeNotesLocked(bool& faulted);
    void leaveFileLocked(bool broken);
    void startOverLocked(bool broken);
    bool keepOrphanedLog();
    void tell(Trouble trouble, const std::string& message);
    void dropCheckpointConnection(bool broken);
    void checkpointLoop();
    static int walHook(void* self, sqlite3* db, const char* name, int frames);

    const std::string m_path;
    const Clock m_clock;
    mutable std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    const bool m_chained;
    Digest m_made{};             // the hash of the row being inserted
    std::optional<Digest> m_tip; // the last hash on the file
    // The chain start of the next new file, and what it continues.
    std::optional<std::pair<Digest, std::string>> m_carry;
    platform::FileLock m_lock; // shared, on the file m_db writes
    bool m_failed = false;     // a failure episode is under way
    std::int64_t m_lost = 0;
    std::int64_t m_nextOpenAttempt = 0;
    std::string m_openError, m_lastError;
    bool m_openBroken = false; // the last open met a shared-memory file it cannot use
    // Rows that open a new journal file, written before any other.
    std::vector<JournalEvent> m_notes;
    // What the listener is to hear once it is set.
    std::vector<std::pair<Trouble, std::string>> m_pending;
    FailureListener m_listener;

    // Checkpoint thread: its own connection, woken by the log's size.
    std::mutex m_cpMutex;
    std::condition_variable m_cpWake;
    bool m_cpWanted = false;
    bool m_cpStop = false;
    // The thread's connection; the journal drops it when it leaves the file.
    std::mutex m_cpDbMutex;
    sqlite3* m_cpDb = nullptr;
    // A checkpoint met a shared-memory file it cannot use: the file is left
    // at the next append.
    std::atomic<bool> m_cpBroken{false};
    std::thread m_cpThread;
};

// The archive was refused: a station is writing the journal.
class JournalInUse : public data::DbError {
public:
    using data::DbError::DbError;
};

// Takes the journal at path, with every event still in its write-ahead log
// folded in, to target (a new file: an existing one is never replaced) and
// leaves an empty journal at path for the events that follow. Its last row,
// "journal"/"archived", names target. At no moment is there no journal at
// path, and a station starting meanwhile waits for the next one. Raises
// JournalInUse while a station writes the journal, DbError otherwise; on any
// failure the journal stays where it was. Returns the events archived.
std::int64_t archiveJournal(const std::string& path, const std::string& target);

// Creates the tables if the file has none, and adds the chain's columns to a
// journal from before the chain; raises DbError. For readers and tests that
// build a journal file directly.
void createJournalSchema(sqlite3* db);
// Sets the chain start of a file that has none: the hash its first row
// follows, and what it continues ("" for nothing); the rows already in the
// file (a journal from before the chain) stay unchained. Raises DbError.
void startChain(sqlite3* db, const Digest& start, const std::string& continues);
// Appends a row on a connection of the caller's (the archive's), chained
// as the journal chains its rows; returns the row's hash. Raises DbError.
Digest appendChained(sqlite3* db, const JournalEvent& event);

} // namespace vx::journal
