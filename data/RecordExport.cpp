#include "data/RecordExport.h"

#include "data/NewFile.h"

#include <charconv>

namespace vx::data {

void appendExportLine(std::string& out, const std::vector<Value>& row) {
    for (const Value& v : row) {
        switch (v.type) {
        case Value::Type::Null:
            break;
        case Value::Type::Integer: {
            char digits[24];
            const auto r = std::to_chars(digits, digits + sizeof digits, v.integer);
            out.append(digits, r.ptr);
            break;
        }
        case Value::Type::Text:
        case Value::Type::Binary:
            out += v.bytes;
            break;
        default:
            out += v.asText();
        }
        out += ',';
    }
    out += "\r\n";
}

RecordExport::RecordExport(Connection& connection, const std::vector<std::string>& lines) {
    m_cursor = connection.backend().run(parseParameters(joinLines(lines)), {});
    if (!m_cursor)
        throw DbError("The statement returned no result set");
    m_empty = !m_cursor->fetch(m_row);
    if (m_empty)
        m_cursor.reset();
}

RecordExport::~RecordExport() = default;

long long RecordExport::writeTo(const std::string& path) {
    if (m_empty)
        return 0;
    // The statement is freed on every way out, so the connection is never
    // left with a pending result.
    std::unique_ptr<Cursor> cursor = std::move(m_cursor);
    m_empty = true;
    NewFile file(path);
    std::string line;
    long long rows = 0;
    do {
        line.clear();
        appendExportLine(line, m_row);
        file.write(line);
        ++rows;
    } while (cursor->fetch(m_row));
    cursor.reset();
    file.commit();
    return rows;
}

} // namespace vx::data
