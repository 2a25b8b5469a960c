#include "journal/StationJournal.h"

#include <string_view>

namespace vx::journal {

const char* StationJournal::connectionWord(const char* what, bool& lost) {
    const bool opened = std::string_view(what) == JournalWords::Opened;
    const char* word = opened && lost ? JournalWords::Reconnected : what;
    if (opened || std::string_view(what) == JournalWords::Lost)
        lost = !opened;
    return word;
}

void StationJournal::port(const char* what, const std::string& port, const std::string& message) {
    event(JournalWords::Port, connectionWord(what, m_portLost), port, message);
}

void StationJournal::database(const char* what, const std::string& where,
                              const std::string& message) {
    event(JournalWords::Database, connectionWord(what, m_databaseLost), where, message);
}

void StationJournal::settingsSaved(
    const char* section, std::initializer_list<std::pair<const char*, const std::string*>> keys) {
    std::string names = std::string("[") + section + "]", values;
    for (const auto& [key, value] : keys) {
        names += std::string(names.back() == ']' ? " " : ", ") + key;
        if (value)
            values += (values.empty() ? "" : " ") + std::string(key) + "=" + *value;
    }
    event(JournalWords::Settings, JournalWords::Saved, names, values);
}

namespace {

// An import's row: records 1 to rows made anew in table from source.
JournalEvent importEvent(const std::string& table, const std::string& source, std::int64_t rows) {
    JournalEvent e;
    e.kind = JournalWords::Data;
    e.what = JournalWords::Imported;
    e.subject = source;
    e.backend = table;
    if (rows >= 0)
        e.labels = rows;
    if (rows > 0) {
        e.low = 1;
        e.high = rows;
    }
    return e;
}

} // namespace

void StationJournal::imported(const std::string& table, const std::string& source,
                              std::int64_t rows, std::int64_t duplicates,
                              const std::string& failure) {
    // A failed import made nothing: no records on its row.
    JournalEvent e = importEvent(table, source, failure.empty() ? rows : -1);
    if (failure.empty()) {
        e.message = (rows >= 0 ? std::to_string(rows) : std::string("an unknown number of")) +
                    " record(s), " +
                    (duplicates >= 0 ? std::to_string(duplicates) : std::string("unknown")) +
                    " text(s) found more than once";
    } else {
        e.what = JournalWords::Failed;
        e.message = failure;
    }
    m_journal.append(e);
}

void StationJournal::importCutShort(const std::string& table, const std::string& source,
                                    std::int64_t rows, const std::string& why) {
    JournalEvent e = importEvent(table, source, rows);
    e.message = std::to_string(rows) + " record(s), the lines before the one that failed: " + why;
    m_journal.append(e);
}

void StationJournal::script(const std::string& file, std::int64_t size, const std::string& sha256,
                            const char* outcome, const std::string& failure) {
    JournalEvent e;
    e.kind = JournalWords::Data;
    e.what = JournalWords::Script;
    e.subject = file;
    e.backend = outcome;
    e.message = std::to_string(size) + " bytes, sha256 " + sha256 +
                (failure.empty() ? std::string() : "; " + failure);
    m_journal.append(e);
}

void StationJournal::recordEdited(std::int64_t record, const std::string& column,
                                  const std::string& before, const std::string& after) {
    JournalEvent e;
    e.kind = JournalWords::Data;
    e.what = JournalWords::Edited;
    e.record = record;
    e.subject = column;
    e.code = after;
    e.raw = before;
    e.message = "\"" + before + "\" -> \"" + after + "\"";
    m_journal.append(e);
}

void StationJournal::recordAppended(std::int64_t record, const std::string& column,
                                    const std::string& value) {
    JournalEvent e;
    e.kind = JournalWords::Data;
    e.what = JournalWords::Appended;
    e.record = record;
    e.subject = column;
    e.code = value;
    e.message = "\"" + value + "\"";
    m_journal.append(e);
}

void StationJournal::recordDeleted(std::int64_t record, const std::string& values) {
    JournalEvent e;
    e.kind = JournalWords::Data;
    e.what = JournalWords::Deleted;
    e.record = record;
    e.message = values;
    m_journal.append(e);
}

void StationJournal::pictures(const std::string& chosen, int digits, const std::string& failure) {
    JournalEvent e;
    e.kind = JournalWords::Data;
    e.what = failure.empty() ? JournalWords::Pictures : JournalWords::Failed;
    e.subject = chosen;
    e.backend = JournalWords::Pictures;
    e.message = failure.empty() ? "record numbers padded to " + std::to_string(digits) + " digit(s)"
                                : failure;
    m_journal.append(e);
}

void StationJournal::event(const char* kind, const char* what, const std::string& subject,
                           const std::string& message) {
    JournalEvent e;
    e.kind = kind;
    e.what = what;
    e.subject = subject;
    e.message = message;
    m_journal.append(e);
}

} // namespace vx::journal
