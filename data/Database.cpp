#include "data/Database.h"

#include "data/ConnectionString.h"

#include <algorithm>

namespace vx::data {

void PreparedStatement::executeEach(const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        bindText(0, values[i]);
        try {
            execute();
        } catch (const DbConnectionLost&) {
            throw;
        } catch (const DbError& e) {
            throw RowError(e.what(), i);
        }
    }
}

Connection::Connection() = default;

Connection::~Connection() {
    close();
}

void Connection::open() {
    if (m_backend)
        return;
    const std::string file = sqliteFile();
    const DbSettings settings = parseConnectionString(m_connectionString);
    if (!file.empty())
        m_backend = openSqliteBackend(file);
    else
        m_backend = openOdbcBackend(
            odbcConnectionString(settings, defaultOdbcDriver(), clientCharset()), stationCharset());
}

std::string Connection::sqliteFile() const {
    const DbSettings settings = parseConnectionString(m_connectionString);
    return namesSqliteFile(settings.server) ? resolveSqlitePath(settings.server, m_baseFolder)
                                            : std::string();
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

std::string Connection::clientCharset() const {
    return m_clientCharset.empty() ? stationCharset() : m_clientCharset;
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
    m_columns.clear();
    m_rows.clear();
    m_pos = 0;
    m_active = false;
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

ParamValues Query::paramValues(const ParsedSql& parsed) const {
    ParamValues values;
    values.reserve(parsed.names.size());
    for (const std::string& name : parsed.names) {
        auto it = std::find_if(m_params.begin(), m_params.end(),
                               [&](const auto& p) { return equalsNoCase(p.first, name); });
        if (it == m_params.end())
            throw DbError("Parameter '" + name + "' has no value");
        values.emplace_back(it->second);
    }
    return values;
}

std::unique_ptr<Cursor> Query::runBatch() {
    const ParsedSql parsed = parseParameters(text());
    const ParamValues values = paramValues(parsed);
    return m_connection.backend().run(parsed, values);
}

void Query::open() {
    close();
    std::unique_ptr<Cursor> rows = runBatch();
    if (!rows)
        throw DbError("The statement returned no result set");
    // Read to the end and let the statement go before anything else runs.
    m_columns = rows->columnNames();
    std::vector<Value> row;
    while (rows->fetch(row))
        m_rows.push_back(std::move(row));
    rows.reset();
    m_active = true;
}

long long Query::execute() {
    close();
    // Every statement runs to its end: rows a statement returns are read
    // past, so the statements after it run too and the connection is free.
    const ParsedSql parsed = parseParameters(text());
    const ParamValues values = paramValues(parsed);
    return m_connection.backend().runAll(parsed, values);
}

void Query::reset(const std::vector<std::string>& lines, const Params& params) {
    close();
    clear();
    for (const std::string& line : lines)
        add(line);
    for (const auto& [name, value] : params)
        setParam(name, value);
}

void Query::open(const std::vector<std::string>& lines, const Params& params) {
    reset(lines, params);
    open();
}

long long Query::execute(const std::vector<std::string>& lines, const Params& params) {
    reset(lines, params);
    return execute();
}

void Query::next() {
    if (!eof())
        ++m_pos;
}

const std::string& Query::fieldName(int index) const {
    if (index < 0 || index >= fieldCount())
        throw DbError("field index out of range");
    return m_columns[static_cast<std::size_t>(index)];
}

const Value& Query::field(int index) const {
    if (eof())
        throw DbError("no current row");
    const auto& row = m_rows[m_pos];
    if (index < 0 || static_cast<std::size_t>(index) >= row.size())
        throw DbError("field index out of range");
    return row[static_cast<std::size_t>(index)];
}

const Value& Query::fieldByName(std::string_view name) const {
    if (!m_active)
        throw DbError("the query is closed");
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (equalsNoCase(m_columns[i], name))
            return field(static_cast<int>(i));
    throw DbError("Field '" + std::string(name) + "' not found");
}

} // namespace vx::data
