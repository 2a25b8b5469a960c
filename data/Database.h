#pragma once

#include "data/Backend.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
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

    void open();
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
    std::unique_ptr<Backend> m_backend;
    std::set<Query*> m_queries;
};

// A query or command on the connection (ADOQuery1, ADOQ2, adoq3, ADOCommand1):
// lines are collected and sent as one batch joined by CR LF; texts are bound
// to named parameters.
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

    // Runs the batch and keeps its result set open.
    void open();
    // Runs the batch; rows, if any, are not read.
    void execute();

    Connection& connection() const { return m_connection; }
    bool active() const { return m_cursor != nullptr; }
    bool isEmpty() const { return m_cursor && m_atEnd && m_rowNumber == 0; }
    bool eof() const { return !m_cursor || m_atEnd; }
    void next();

    int fieldCount() const;
    const std::string& fieldName(int index) const;
    const Value& field(int index) const;
    const Value& fieldByName(std::string_view name) const;

private:
    friend class Connection;
    std::unique_ptr<Cursor> runBatch();

    Connection& m_connection;
    std::vector<std::string> m_lines;
    std::map<std::string, std::string> m_params;
    std::unique_ptr<Cursor> m_cursor;
    std::vector<Value> m_row;
    bool m_atEnd = true;
    long long m_rowNumber = 0;
};

} // namespace vx::data
