#include "data/Database.h"

#include "data/ConnectionString.h"

#include <algorithm>

namespace vx::data {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

} // namespace

void PreparedStatement::executeEach(const std::vector<std::string>& values) {
    for (const std::string& v : values) {
        bindText(0, v);
        execute();
    }
}

Connection::Connection() = default;

Connection::~Connection() {
    close();
}

void Connection::open() {
    if (m_backend)
        return;
    const DbSettings settings = parseConnectionString(m_connectionString);
    if (namesSqliteFile(settings.server))
        m_backend = openSqliteBackend(resolveSqlitePath(settings.server, m_baseFolder));
    else
        m_backend = openOdbcBackend(odbcConnectionString(settings, defaultOdbcDriver()));
}

void Connection::openWith(std::unique_ptr<Backend> backend) {
    close();
    m_backend = std::move(backend);
}

void Connection::close() {
    for (Query* q : m_queries)
        q->close();
    m_backend.reset();
}

Dialect Connection::dialect() const {
    if (!m_backend)
        throw DbError("the database connection is closed");
    return m_backend->dialect();
}

Backend& Connection::backend() {
    if (!m_backend)
        throw DbError("the database connection is closed");
    return *m_backend;
}

Query::Query(Connection& connection) : m_connection(connection) {
    m_connection.m_queries.insert(this);
}

Query::~Query() {
    close();
    m_connection.m_queries.erase(this);
}

void Query::close() {
    m_cursor.reset();
    m_row.clear();
    m_atEnd = true;
    m_rowNumber = 0;
}

void Query::clear() {
    m_lines.clear();
    m_params.clear();
}

void Query::add(std::string_view line) {
    m_lines.emplace_back(line);
}

void Query::setText(std::string_view text) {
    clear();
    // The text is kept as one entry; joined with the others it stays unchanged.
    m_lines.emplace_back(text);
}

void Query::setParam(const std::string& name, std::string value) {
    m_params[name] = std::move(value);
}

std::unique_ptr<Cursor> Query::runBatch() {
    const ParsedSql parsed = parseParameters(text());
    ParamValues values;
    values.reserve(parsed.names.size());
    for (const std::string& name : parsed.names) {
        auto it = std::find_if(m_params.begin(), m_params.end(),
                               [&](const auto& p) { return sameName(p.first, name); });
        if (it == m_params.end())
            throw DbError("Parameter '" + name + "' has no value");
        values.emplace_back(it->second);
    }
    return m_connection.backend().run(parsed, values);
}

void Query::open() {
    close();
    m_cursor = runBatch();
    if (!m_cursor)
        throw DbError("The statement returned no result set");
    m_atEnd = !m_cursor->fetch(m_row);
}

void Query::execute() {
    close();
    runBatch(); // a result set, if any, is discarded unread
}

void Query::next() {
    if (eof())
        return;
    ++m_rowNumber;
    m_atEnd = !m_cursor->fetch(m_row);
}

int Query::fieldCount() const {
    return m_cursor ? static_cast<int>(m_cursor->columnNames().size()) : 0;
}

const std::string& Query::fieldName(int index) const {
    if (index < 0 || index >= fieldCount())
        throw DbError("field index out of range");
    return m_cursor->columnNames()[static_cast<std::size_t>(index)];
}

const Value& Query::field(int index) const {
    if (eof())
        throw DbError("no current row");
    if (index < 0 || static_cast<std::size_t>(index) >= m_row.size())
        throw DbError("field index out of range");
    return m_row[static_cast<std::size_t>(index)];
}

const Value& Query::fieldByName(std::string_view name) const {
    if (!m_cursor)
        throw DbError("the query is closed");
    const auto& names = m_cursor->columnNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (sameName(names[i], name))
            return field(static_cast<int>(i));
    throw DbError("Field '" + std::string(name) + "' not found");
}

} // namespace vx::data
