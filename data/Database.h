#pragma once

#include "data/Backend.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vx::data {

class Query;

// The station's one database connection (ADO1). It keeps the OLE DB style
// connection string the settings produce and decides from it which back end
// to open: a server name ending in .db, .sqlite or .sqlite3 is an embedded
// SQLite file (relative to the base folder), anything else a SQL Server
// reached through ODBC.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(std::string text) { m_connectionString = std::move(text); }
    const std::string& connectionString() const { return m_connectionString; }
    // Folder that relative SQLite paths are taken from (the executable's).
    void setBaseFolder(std::string folder) { m_baseFolder = std::move(folder); }
    // The character set label texts are in, for the driver to convert to
    // the server's; empty: the station's own (stationCharset()).
    void setClientCharset(std::string charset) { m_clientCharset = std::move(charset); }
    std::string clientCharset() const;

    void open();
    // The embedded database file the connection string names, resolved as
    // open() resolves it; empty when it names a server.
    std::string sqliteFile() const;
    // Opens on a back end made elsewhere (tests, tools).
    void openWith(std::unique_ptr<Backend> backend);
    void close();
    bool connected() const { return m_backend != nullptr; }
    Dialect dialect() const;
    Backend& backend();

private:
    friend class Query;
    std::string m_connectionString;
    std::string m_baseFolder;
    std::string m_clientCharset;
    std::unique_ptr<Backend> m_backend;
    std::set<Query*> m_queries;
};

// Parameter values by name, for the one-call forms of open and execute.
using Params = std::vector<std::pair<std::string, std::string>>;

// A query or command on the connection (ADOQuery1, ADOQ2, adoq3, ADOCommand1):
// lines are collected and sent as one batch joined by CR LF; texts are bound
// to named parameters. A query opened for reading is a client-side cursor:
// open() reads the whole result and frees the statement at once, so the
// connection is never left busy, whatever the caller does next.
class Query {
public:
    explicit Query(Connection& connection);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void close();
    void clear();
    void add(std::string_view line);
    void setText(std::string_view text);
    std::string text() const { return joinLines(m_lines); }
    // Binds a text, as a single-byte string, to every marker with this name.
    void setParam(const std::string& name, std::string value);

    // Runs the batch and reads its result set.
    void open();
    // Runs every statement of the batch to its end; rows, if any, are read
    // past and not kept. Returns the rows it changed, or -1 where the
    // database does not say.
    long long execute();
    // The sequence every caller used to spell out: close, clear, add each
    // line, bind the parameters, then open or execute.
    void open(const std::vector<std::string>& lines, const Params& params = {});
    long long execute(const std::vector<std::string>& lines, const Params& params = {});

    Connection& connection() const { return m_connection; }
    bool active() const { return m_active; }
    bool isEmpty() const { return m_active && m_rows.empty(); }
    bool eof() const { return !m_active || m_pos >= m_rows.size(); }
    // The rows the open query read.
    std::size_t recordCount() const { return m_active ? m_rows.size() : 0; }
    void next();

    int fieldCount() const { return static_cast<int>(m_columns.size()); }
    const std::string& fieldName(int index) const;
    const Value& field(int index) const;
    const Value& fieldByName(std::string_view name) const;

private:
    std::unique_ptr<Cursor> runBatch();
    ParamValues paramValues(const ParsedSql& parsed) const;
    void reset(const std::vector<std::string>& lines, const Params& params);

    Connection& m_connection;
    std::vector<std::string> m_lines;
    std::map<std::string, std::string> m_params;
    std::vector<std::string> m_columns;
    std::vector<std::vector<Value>> m_rows;
    std::size_t m_pos = 0;
    bool m_active = false;
};

} // namespace vx::data
