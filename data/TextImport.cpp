#include "data/TextImport.h"

#include "data/StagingImport.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

namespace vx::data {
namespace {

// Bytes of the character that starts at p (never past end).
std::size_t charLength(const unsigned char* p, const unsigned char* end, CodePage cp) {
    const unsigned char c = *p;
    std::size_t n = 1;
    if (cp == CodePage::Gbk && c >= 0x81 && c <= 0xFE)
        n = 2;
    else if (cp == CodePage::Utf8 && c >= 0xC0)
        n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    return std::min<std::size_t>(n, static_cast<std::size_t>(end - p));
}

bool isBlank(unsigned char c) {
    return c >= 1 && c <= 32;
}
bool endsField(unsigned char c) {
    return c <= 32;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

CodePage codePageOf(const std::string& charset) {
    std::string n;
    for (char c : charset)
        if (c != '-' && c != '_')
            n += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    if (n == "UTF8" || n == "CP65001")
        return CodePage::Utf8;
    // Every double-byte Chinese code page shares GBK's lead-byte range.
    if (n == "GBK" || n == "GB18030" || n == "GB2312" || n == "CP936" || n == "EUCCN" ||
        n == "CP950" || n == "BIG5")
        return CodePage::Gbk;
    return CodePage::SingleByte;
}

std::optional<ColumnRule> parseImportAnswer(const std::string& answer) {
    if (answer.empty() || answer == kImportAnswerPreset)
        return std::nullopt;
    ColumnRule rule;
    if (answer == "1")
        return rule;
    const unsigned char first = static_cast<unsigned char>(answer[0]);
    if (first < '0' || first > '9') {
        rule.separator = answer[0];
        rule.column = answer.substr(1);
    }
    return rule;
}

std::vector<std::string> splitFields(std::string_view line, std::optional<char> separator,
                                     CodePage cp) {
    std::vector<std::string> fields;
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const auto* end = p + line.size();
    auto isSep = [&](const unsigned char* q) {
        return separator && *q == static_cast<unsigned char>(*separator) &&
               charLength(q, end, cp) == 1;
    };
    auto skipBlanks = [&] {
        while (p < end && isBlank(*p))
            ++p;
    };
    skipBlanks();
    while (p < end) {
        std::string field;
        if (*p == '"') {
            ++p;
            while (p < end) {
                if (*p == '"') {
                    if (p + 1 < end && p[1] == '"') {
                        field += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                const std::size_t n = charLength(p, end, cp);
                field.append(reinterpret_cast<const char*>(p), n);
                p += n;
            }
        } else {
            while (p < end && !(charLength(p, end, cp) == 1 && (endsField(*p) || isSep(p)))) {
                const std::size_t n = charLength(p, end, cp);
                field.append(reinterpret_cast<const char*>(p), n);
                p += n;
            }
        }
        fields.push_back(std::move(field));
        skipBlanks();
        if (p < end && isSep(p)) {
            if (p + 1 == end)
                fields.emplace_back();
            ++p;
            skipBlanks();
        }
    }
    return fields;
}

int LineReader::get() {
    if (m_pos == m_len) {
        if (m_end)
            return EOF;
        m_len = std::fread(m_buf, 1, sizeof m_buf, m_file);
        m_pos = 0;
        if (m_len == 0) {
            m_error = std::ferror(m_file) != 0;
            m_end = true;
            return EOF;
        }
    }
    return static_cast<unsigned char>(m_buf[m_pos++]);
}

bool LineReader::next(std::string& line, std::size_t keep) {
    line.clear();
    if (m_end && m_pos == m_len)
        return false;
    int c = get();
    if (c == EOF || c == 0) {
        m_end = true;
        m_pos = m_len;
        return false;
    }
    for (;; c = get()) {
        if (c == EOF)
            return true;
        if (c == 0) { // the text ends here
            m_end = true;
            m_pos = m_len;
            return true;
        }
        if (c == '\n')
            return true;
        if (c == '\r') {
            const int d = get();
            if (d != '\n' && d != EOF)
                --m_pos; // CR alone; the byte stays for the next line
            return true;
        }
        if (line.size() < keep)
            line += static_cast<char>(c);
    }
}

namespace {

constexpr std::size_t kBatchRows = 512;
constexpr long long kAllLines = -1;

using File = std::unique_ptr<std::FILE, FileCloser>;

File openSource(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw ImportSourceError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    return File(f);
}

// How one pass over the file ended.
struct PassOutcome {
    bool ok = true;
    long long inserted = 0;
    // The line that failed, when known; otherwise the lines of the array
    // that failed as a whole.
    long long failedLine = 0, batchFirst = 0, batchLast = 0;
    std::string error;
};

// One import: each pass re-creates the table and inserts lines into it inside
// one transaction, which the caller commits or rolls back.
class Importer {
public:
    Importer(Connection& connection, Query& query, const std::string& path,
             const ImportStatements& st, const ColumnRule& rule, CodePage cp,
             const std::function<void(long long)>& linesRead)
        : m_backend(connection.backend()), m_query(query), m_path(path), m_st(st), m_rule(rule),
          m_cp(cp), m_linesRead(linesRead) {
        if (!rule.wholeLine())
            m_column = parseInteger(rule.column);
        // A text longer than the column is refused whatever follows its
        // first bytes; keeping four bytes a character (the most any
        // character set spends on one the column stores in one or more)
        // and one more still has it refused, and bounds what a line costs.
        if (st.textBytes > 0)
            m_keep = 4 * st.textBytes + 1;
    }

    // Re-creates the table and inserts lines up to lastLine (kAllLines: all),
    // as arrays where the database takes them, one by one from singleFrom on.
    PassOutcome run(std::FILE* file, long long lastLine, long long singleFrom) {
        m_backend.beginTransaction();
        m_query.execute(m_st.create);
        auto insert = m_backend.prepare(parseParameters(m_st.insert));
        PassOutcome pass;
        LineReader reader(file);
        std::vector<std::string> pending;
        long long first = 1; // line number of pending.front()
        std::string line;
        for (long long n = 1; lastLine == kAllLines || n <= lastLine; ++n) {
            if (!reader.next(line, m_rule.wholeLine() ? m_keep : std::string::npos))
                break;
            std::string value;
            try {
                value = valueOf(line, n);
            } catch (const DbError& e) {
                // Lines before it go in first; they may fail earlier.
                if (flush(*insert, pending, first, singleFrom, pass))
                    fail(pass, n, e.what());
                return pass;
            }
            if (pending.empty())
                first = n;
            pending.push_back(std::move(value));
            if (pending.size() == kBatchRows) {
                if (!flush(*insert, pending, first, singleFrom, pass))
                    return pass;
                if (m_linesRead)
                    m_linesRead(n);
            }
        }
        if (reader.failed())
            throw ImportSourceError("Read error in \"" + m_path + "\"");
        flush(*insert, pending, first, singleFrom, pass);
        if (m_linesRead)
            m_linesRead(pass.inserted);
        return pass;
    }

private:
    // The value a line gives under the column rule; raises for a line that
    // has no such field.
    std::string valueOf(const std::string& line, long long lineNumber) const {
        if (m_rule.wholeLine())
            return line;
        if (!m_column)
            throw DbError("'" + m_rule.column + "' is not a valid integer value");
        auto fields = splitFields(line, m_rule.separator, m_cp);
        if (*m_column < 1 || static_cast<std::size_t>(*m_column) > fields.size())
            throw DbError("line " + std::to_string(lineNumber) + " has no field " +
                          std::to_string(*m_column));
        std::string& value = fields[static_cast<std::size_t>(*m_column - 1)];
        if (value.size() > m_keep)
            value.resize(m_keep);
        return std::move(value);
    }

    static void fail(PassOutcome& pass, long long line, std::string error) {
        pass.ok = false;
        pass.failedLine = line;
        pass.error = std::move(error);
    }

    // Inserts the pending values (lines first, first + 1, …); false, with
    // pass telling where, when the database refused one.
    bool flush(PreparedStatement& insert, std::vector<std::string>& pending, long long first,
               long long singleFrom, PassOutcome& pass) {
        if (pending.empty())
            return true;
        const long long last = first + static_cast<long long>(pending.size()) - 1;
        try {
            // One by one tells which line was refused, where an array may not.
            if (insert.sendsArrays() && last < singleFrom)
                insert.executeEach(pending);
            else
                insert.PreparedStatement::executeEach(pending);
        } catch (const RowError& e) {
            fail(pass, first + static_cast<long long>(e.row()), e.what());
            return false;
        } catch (const DbConnectionLost&) {
            throw;
        } catch (const DbError& e) {
            // Refused as a whole: which of its lines is not known.
            fail(pass, 0, e.what());
            pass.batchFirst = first;
            pass.batchLast = last;
            return false;
        }
        pass.inserted += static_cast<long long>(pending.size());
        pending.clear();
        return true;
    }

    Backend& m_backend;
    Query& m_query;
    const std::string& m_path;
    const ImportStatements& m_st;
    const ColumnRule& m_rule;
    CodePage m_cp;
    std::optional<std::int64_t> m_column;
    std::size_t m_keep = std::string::npos;
    const std::function<void(long long)>& m_linesRead;
};

// Runs a pass over file; rolls it back when it fails or raises.
PassOutcome attempt(Importer& importer, Backend& backend, File file, long long lastLine,
                    long long singleFrom) {
    try {
        PassOutcome pass = importer.run(file.get(), lastLine, singleFrom);
        if (!pass.ok)
            backend.rollback();
        return pass;
    } catch (...) {
        backend.rollback();
        throw;
    }
}

} // namespace

ImportResult importTextFile(Connection& connection, Query& query, const std::string& path,
                            const ImportStatements& st, const ColumnRule& rule,
                            std::optional<CodePage> cp,
                            const std::function<void(long long)>& linesRead) {
    // Everything that can fail without touching the table comes first.
    File file = openSource(path);
    connection.open();
    Backend& backend = connection.backend();
    Importer importer(connection, query, path, st, rule,
                      cp.value_or(codePageOf(connection.clientCharset())), linesRead);

    ImportResult result;
    constexpr long long never = std::numeric_limits<long long>::max();
    const PassOutcome whole = attempt(importer, backend, std::move(file), kAllLines, never);
    if (whole.ok) {
        backend.commit();
        result.replaced = true;
        result.lines = whole.inserted;
        if (findDuplicates(query, st.duplicateCheck, st.duplicateSelect))
            result.outcome = ImportResult::Outcome::Duplicates;
        return result;
    }

    // A line was refused: everything is rolled back, so the table numbers its
    // records again from 1. Find the line where an array hid it, then keep
    // exactly the lines before it.
    long long failed = whole.failedLine;
    if (failed == 0) {
        const PassOutcome probe =
            attempt(importer, backend, openSource(path), whole.batchLast, whole.batchFirst);
        if (probe.ok)
            backend.rollback();
        failed = probe.ok ? whole.batchLast + 1 : probe.failedLine;
    }
    const PassOutcome kept = attempt(importer, backend, openSource(path), failed - 1, never);
    if (kept.ok)
        backend.commit();
    result.replaced = kept.ok;
    result.outcome = ImportResult::Outcome::Failed;
    result.lines = kept.ok ? kept.inserted : 0;
    result.error = kept.ok ? whole.error : kept.error;
    return result;
}

} // namespace vx::data
