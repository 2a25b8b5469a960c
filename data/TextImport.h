#pragma once

#include "data/Database.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::data {

// How the characters of a text file are told apart: the split never takes
// the second byte of a double-byte character for a separator or a blank.
enum class CodePage { SingleByte, Gbk, Utf8 };
// The code page of a character set name (see stationCharset()).
CodePage codePageOf(const std::string& charset);

// The column rule from the import's input box: whole lines, or field n of
// lines split at a separator.
struct ColumnRule {
    std::optional<char> separator; // none: whole-line mode
    std::string column;            // the text after the separator; empty: whole lines
    bool wholeLine() const { return !separator || column.empty(); }
};

// The input box's preset, also what cancel returns: a UTF-8 message, which the
// window compares as text (the answer itself is in the station's code page).
inline constexpr const char* kImportAnswerPreset = "请填写";

// The preset or an empty answer stops the import: nothing.
std::optional<ColumnRule> parseImportAnswer(const std::string& answer);

// Splits a line into fields: blanks and control characters end fields as
// the separator does, double quotes keep blanks and separators (a doubled
// quote stands for one), a separator at the very end gives an empty field.
std::vector<std::string> splitFields(std::string_view line, std::optional<char> separator,
                                     CodePage cp = CodePage::Gbk);

// Reads a text file line by line without holding it whole: a line ends at
// CR, LF or CR LF; a break at the very end gives no further line; a NUL byte
// ends the text. Bytes are kept as they are.
class LineReader {
public:
    explicit LineReader(std::FILE* file) : m_file(file) {}
    // keep: at most this many bytes of the line are kept, the rest is read
    // past, so one huge line costs no memory.
    bool next(std::string& line, std::size_t keep = std::string::npos);
    bool failed() const { return m_error; }

private:
    int get();
    std::FILE* m_file;
    char m_buf[1 << 16];
    std::size_t m_pos = 0, m_len = 0;
    bool m_end = false, m_error = false;
};

// The statements of one import, for the table being filled; the caller takes
// them from the record-table catalogue.
struct ImportStatements {
    std::vector<std::string> create;         // re-create the table
    std::string insert;                      // one text, parameter :a
    std::vector<std::string> duplicateCheck; // rebuild #a13
    std::string duplicateSelect;             // the rows of #a13
    std::size_t textBytes = 0;               // bytes the text column holds; 0: no limit
};

struct ImportResult {
    enum class Outcome { Imported, Duplicates, Failed };
    Outcome outcome = Outcome::Imported;
    long long lines = 0; // records inserted
    std::string error;   // why a line failed
    // The table was made anew: always unless Failed, and for a Failed import
    // when the lines before the failed one could be kept.
    bool replaced = false;
};

class ImportSourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Imports the file into the table, one record per line, in file order.
// Re-creating the table and inserting every line is one transaction, so an
// import that dies midway (a crash, a power cut, a file that cannot be read)
// leaves the old table whole. A line that fails ends the import with exactly
// the lines before it in a table re-created for them, numbered 1, 2, 3 …
// with no gap, and no duplicate check. On success the duplicate check runs
// on query, and with duplicates query holds the rows of #a13. A file that
// cannot be opened or read raises ImportSourceError; a connection that
// cannot be opened raises DbError. cp: by default the code page of the
// connection's client character set. linesRead, when given, is told the
// lines read so far every few hundred lines of each pass over the file.
ImportResult importTextFile(Connection& connection, Query& query, const std::string& path,
                            const ImportStatements& statements, const ColumnRule& rule,
                            std::optional<CodePage> cp = std::nullopt,
                            const std::function<void(long long)>& linesRead = {});

} // namespace vx::data
