#include "data/TextImport.h"

#include <cerrno>
#include <cstring>
#include <memory>

#if defined(_WIN32)
#include <windows.h>
#else
#include <langinfo.h>
#endif

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

CodePage systemCodePage() {
#if defined(_WIN32)
    const UINT acp = GetACP();
    if (acp == 936)
        return CodePage::Gbk;
    return acp == 65001 ? CodePage::Utf8 : CodePage::SingleByte;
#else
    const char* cs = nl_langinfo(CODESET);
    if (cs && (std::strcmp(cs, "GBK") == 0 || std::strcmp(cs, "GB18030") == 0 ||
               std::strcmp(cs, "GB2312") == 0))
        return CodePage::Gbk;
    return CodePage::Utf8;
#endif
}

std::optional<ColumnRule> parseImportAnswer(const std::string& answer) {
    if (answer.empty() || answer == "请填写")
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

bool LineReader::next(std::string& line) {
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
        line += static_cast<char>(c);
    }
}

namespace {

constexpr std::size_t kBatchRows = 512;

// The value a line gives under the column rule; raises for a line that has
// no such field.
std::string valueOf(const std::string& line, long long lineNumber, const ColumnRule& rule,
                    const std::optional<std::int64_t>& column, CodePage cp) {
    if (rule.wholeLine())
        return line;
    if (!column)
        throw DbError("'" + rule.column + "' is not a valid integer value");
    const auto fields = splitFields(line, rule.separator, cp);
    if (*column < 1 || static_cast<std::size_t>(*column) > fields.size())
        throw DbError("line " + std::to_string(lineNumber) + " has no field " +
                      std::to_string(*column));
    return fields[static_cast<std::size_t>(*column - 1)];
}

std::FILE* openSource(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw ImportSourceError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    return f;
}

} // namespace

ImportResult importTextFile(Connection& connection, Query& query, const std::string& path,
                            const ImportStatements& st, const ColumnRule& rule, CodePage cp) {
    // Everything that can fail without touching the table comes first.
    std::unique_ptr<std::FILE, FileCloser> file(openSource(path));
    connection.open();

    query.close();
    query.clear();
    for (const auto& l : st.create)
        query.add(l);
    query.execute();
    query.close();

    ImportResult result;
    Backend& backend = connection.backend();
    auto insert = backend.prepare(parseParameters(st.insert));
    std::optional<std::int64_t> column;
    if (!rule.wholeLine())
        column = parseInteger(rule.column);

    // Lines go in batches through the prepared insert, all in one
    // transaction. A failure keeps the records before the failing line, as
    // inserting line by line always did.
    std::vector<std::string> pending;
    bool sentAsArray = false;
    auto flush = [&] {
        sentAsArray = insert->sendsArrays();
        if (sentAsArray) {
            insert->executeEach(pending);
            result.lines += static_cast<long long>(pending.size());
        } else {
            for (const std::string& v : pending) {
                insert->bindText(0, v);
                insert->execute();
                ++result.lines;
            }
        }
        pending.clear();
    };
    // After a failed array insert nobody knows which of its rows took
    // effect: start again and insert up to lastLine one line at a time.
    auto replay = [&](long long lastLine, const std::string& firstError) {
        backend.rollback();
        backend.beginTransaction();
        result.lines = 0;
        std::unique_ptr<std::FILE, FileCloser> again(openSource(path));
        LineReader reader(again.get());
        std::string line;
        for (long long n = 1; n <= lastLine && reader.next(line); ++n) {
            try {
                insert->bindText(0, valueOf(line, n, rule, column, cp));
                insert->execute();
            } catch (const std::exception& e) {
                result.error = e.what();
                return;
            }
            ++result.lines;
        }
        result.error = firstError;
    };

    LineReader reader(file.get());
    std::string line;
    long long lineNumber = 0;
    backend.beginTransaction();
    try {
        for (;;) {
            const bool more = reader.next(line);
            if (more)
                ++lineNumber;
            std::optional<std::string> lineError;
            if (more) {
                try {
                    pending.push_back(valueOf(line, lineNumber, rule, column, cp));
                } catch (const DbError& e) {
                    lineError = e.what();
                }
            }
            if (!more || lineError || pending.size() == kBatchRows) {
                try {
                    flush();
                } catch (const std::exception& e) {
                    if (!sentAsArray)
                        throw;
                    replay(lineNumber - (lineError ? 1 : 0), e.what());
                    backend.commit();
                    result.outcome = ImportResult::Outcome::Failed;
                    return result;
                }
            }
            if (lineError)
                throw DbError(*lineError);
            if (!more)
                break;
        }
        if (reader.failed())
            throw DbError("Read error in \"" + path + "\"");
    } catch (const std::exception& e) {
        // Keep what went before the failing line.
        backend.commit();
        result.outcome = ImportResult::Outcome::Failed;
        result.error = e.what();
        return result;
    }
    backend.commit();

    query.close();
    query.clear();
    for (const auto& l : st.duplicateCheck)
        query.add(l);
    query.execute();
    query.close();
    query.clear();
    query.add(st.duplicateSelect);
    query.open();
    if (!query.isEmpty())
        result.outcome = ImportResult::Outcome::Duplicates;
    return result;
}

} // namespace vx::data
