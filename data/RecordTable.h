#pragma once

#include "data/Database.h"
#include "data/TextImport.h"

#include <string>
#include <string_view>
#include <vector>

namespace vx::data {

// Every statement the station runs against the record table a15 (and the
// staging table a14 and the duplicate table #a13), in one place. The T-SQL
// texts are the ones SQL Server has always been sent, spacing included; each
// has a SQLite twin with the same observable results:
//  - bh numbers records 1, 2, 3 … in insertion order and restarts when the
//    table is re-created; prned defaults to 0;
//  - tt holds at most 30 bytes and pic 90 (SQL Server refuses longer values,
//    so the twin does too);
//  - the scan lookup ignores trailing blanks, honours leading blanks of the
//    scanned field and compares bytes; it is served by an index on exactly
//    the expression it compares, so a scan never walks the table;
//  - duplicates are grouped byte for byte.
namespace RecordTable {

enum class ExportFilter { All, Unscanned, Scanned };

// Bytes the code text column tt holds.
inline constexpr std::size_t kTextBytes = 30;

// The creation batch for table (a15 or a14). The start-up check sends line 1
// with a trailing blank; the imports send it without.
std::vector<std::string> createBatch(Dialect d, std::string_view table, bool trailingBlank);
std::string existenceQuery(Dialect d);
std::string anyRecordQuery(Dialect d);
// How many records a15 holds (after an import, for the journal).
std::string recordCountQuery(Dialect d);
// Parameter mm: the scanned code field. Returns bh, prned.
std::string lookupQuery(Dialect d);
// Marks the record only while it is unmarked: it changes one row for the
// station that scanned the label first and none for any other.
std::string markScanned(Dialect d, std::string_view recordNumber);
std::string clearAllScanned(Dialect d);
std::string printRange(Dialect d, std::string_view start, std::string_view end);
std::string picturePad(Dialect d, int digits);
// Parameters prefix and ext: bound, never spliced, so any path is stored whole.
std::string pictureWrap(Dialect d);
// Parameter a: one text.
std::string insertText(Dialect d, std::string_view table);
std::vector<std::string> copyStagingToMain(Dialect d);
std::vector<std::string> duplicateCheck(Dialect d, std::string_view table);
std::string duplicateSelect(Dialect d);
std::vector<std::string> exportQuery(Dialect d, ExportFilter filter);
// Everything a text import into table runs.
ImportStatements importStatements(Dialect d, std::string_view table);
// Every record's number and code text, by number (the journal's report).
std::string allRecords(Dialect d);

} // namespace RecordTable

// The start-up check of the record table, run on ADOQ2 right after the
// connection opened.
enum class TableState {
    Created,    // a15 was missing and has been created empty
    HasRecords, // a15 holds at least one record: show it in the grid
    Empty,      // a15 exists without records: nothing more to do
};

// Thrown for a failure after the existence query succeeded ("表a15异常");
// a failure of the existence query itself propagates as DbError.
class TableCheckError : public DbError {
public:
    using DbError::DbError;
};

TableState checkRecordTable(Query& ADOQ2);

// Every record of a15 unscanned, for printing and scanning from the start
// again ("全部清除重打印"); run on ADOQ2.
void unmarkAllRecords(Query& ADOQ2);

} // namespace vx::data
