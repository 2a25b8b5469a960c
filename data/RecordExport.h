#pragma once

#include "data/Database.h"

#include <memory>
#include <string>
#include <vector>

namespace vx::data {

// Appends one export line: the text of every field, each followed by a
// comma (the last one too), then CR LF. Integers in decimal digits, NULL as
// nothing, bits as "True" or "False", texts as stored; nothing is quoted.
void appendExportLine(std::string& out, const std::vector<Value>& row);

// The rows of one query, written to a new text file one line per row, in the
// order the database returns them. Rows are read as they are written, so an
// export of a million records holds one at a time.
class RecordExport {
public:
    // Runs the query (its lines joined by CR LF) and reads its first row.
    // Raises DbError when it fails or returns no result set.
    RecordExport(Connection& connection, const std::vector<std::string>& lines);
    ~RecordExport();
    RecordExport(const RecordExport&) = delete;
    RecordExport& operator=(const RecordExport&) = delete;

    // No row matched. The query's statement is already freed then.
    bool empty() const { return m_empty; }
    // Writes every row to path, which must not exist: under a temporary name
    // beside it first, renamed when the last row is written, so a failure
    // leaves nothing under path. Frees the statement; returns the rows
    // written. Raises DbError or FileError.
    long long writeTo(const std::string& path);

private:
    std::unique_ptr<Cursor> m_cursor;
    std::vector<Value> m_row;
    bool m_empty = true;
};

} // namespace vx::data
