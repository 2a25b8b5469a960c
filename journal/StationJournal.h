#pragma once

#include "journal/Journal.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace vx::journal {

// The station's own events on its journal, beside the scans' rows
// (scan/ScanJournal) and the print jobs' (print/PrintJournal): the scanner
// port and the label database opened, failed or lost, with an opening after
// a loss noted as reconnected; settings saved; the print area's reset.
class StationJournal {
public:
    explicit StationJournal(Journal& journal) : m_journal(journal) {}

    // what: Opened, Failed or Lost; port: the port's name.
    void port(const char* what, const std::string& port, const std::string& message = {});
    // what as for the port; where: the database as data::databaseLocation
    // names it.
    void database(const char* what, const std::string& where, const std::string& message = {});
    // Keys saved in one section, with their values; a key given without a
    // value (the password) is named only.
    void settingsSaved(const char* section,
                       std::initializer_list<std::pair<const char*, const std::string*>> keys);
    // An import into table (a15 or a14) from source (a file's path, or the
    // table a15 was generated from): the records it made, 1 to rows, and the
    // texts found more than once. An import into a15 starts a new batch of
    // labels. rows or duplicates -1: not known. failure: why it made nothing
    // (what "failed").
    void imported(const std::string& table, const std::string& source, std::int64_t rows,
                  std::int64_t duplicates, const std::string& failure = {});
    // An import that a line ended, the table made anew with the rows before
    // that line: an import of those rows (a new batch, for a15), with why it
    // stopped.
    void importCutShort(const std::string& table, const std::string& source, std::int64_t rows,
                        const std::string& why);
    // A script file run: its size and the SHA-256 of its text; outcome
    // "executed", "rolled-back" (its open transaction undone) or "failed",
    // with the database's words.
    void script(const std::string& file, std::int64_t size, const std::string& sha256,
                const char* outcome, const std::string& failure = {});
    // The grid: a field of a record changed, a record appended with its first
    // value, a record deleted with the values it had ("1|VX1|NULL|0").
    // Values are kept byte for byte: the new one in code, the old in raw.
    void recordEdited(std::int64_t record, const std::string& column, const std::string& before,
                      const std::string& after);
    void recordAppended(std::int64_t record, const std::string& column, const std::string& value);
    void recordDeleted(std::int64_t record, const std::string& values);
    // Pictures assigned to every record after the file chosen; failure: why
    // the paths could not be written (what "failed").
    void pictures(const std::string& chosen, int digits, const std::string& failure = {});
    // Any other event: one row of kind and what about subject.
    void event(const char* kind, const char* what, const std::string& subject,
               const std::string& message = {});

private:
    // The word for what: Reconnected for an opening after a loss. lost
    // follows Lost and Opened; a failure leaves it as it was.
    static const char* connectionWord(const char* what, bool& lost);

    Journal& m_journal;
    bool m_portLost = false, m_databaseLost = false;
};

} // namespace vx::journal
