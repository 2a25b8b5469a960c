#pragma once

#include "data/Value.h"
#include "journal/Journal.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vx::journal {

// One row of the journal as read back.
struct JournalRow : JournalEvent {
    std::int64_t id = 0;
};

// Which rows to read; every condition that is set must hold.
struct JournalFilter {
    std::optional<std::int64_t> from, to; // UTC ms, both inclusive
    std::string kind, what;
    std::optional<std::int64_t> record;
    std::optional<std::string> code;             // the code field, byte for byte
    std::optional<std::int64_t> firstId, lastId; // a part of the file, both inclusive
    // Set: rows of this kind come with their id, time, kind, what and
    // record only, the rest left empty (a faster pass for counting);
    // rows of other kinds come whole.
    std::string leanKind;
};

// Reads a journal file, also while a station appends to it: a reader sees
// the rows committed when its read began and never blocks the writer.
class JournalReader {
public:
    // Raises DbError when the file is missing or is not a journal.
    explicit JournalReader(const std::string& path);
    const std::string& path() const { return m_path; }
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    enum class Order {
        Time,     // by time, then by id; served by the time index
        Appended, // in the order the rows were written; one pass over the table
        Latest,   // the newest first (by time, then by id); served by the time index
    };
    // Rows that pass the filter, to fn until it returns false. The row
    // object is reused from one call to the next. progress, when set, hears
    // the id reached and the highest id in the file every 1,000,000 rows.
    void forEach(const JournalFilter& filter, Order order,
                 const std::function<bool(const JournalRow&)>& fn,
                 const std::function<void(std::int64_t, std::int64_t)>& progress = {});

    std::int64_t highestId();

private:
    std::string m_path;
    sqlite3* m_db = nullptr;
};

} // namespace vx::journal
