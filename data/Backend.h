#pragma once

#include "data/Charset.h"
#include "data/SqlText.h"
#include "data/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vx::data {

// One live result set. While it has rows left to fetch the connection is
// busy: SQL Server (without MARS) refuses any other statement on it until
// they are read or the cursor is gone.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual const std::vector<std::string>& columnNames() const = 0;
    // Fills row with the next row; false once there is none.
    virtual bool fetch(std::vector<Value>& row) = 0;
};

// A single statement prepared once and run many times (bulk inserts).
class PreparedStatement {
public:
    virtual ~PreparedStatement() = default;
    // index: 0-based position of the marker in the statement.
    virtual void bindText(int index, const std::string& bytes) = 0;
    virtual void execute() = 0;
    // Runs a statement with one marker once per value, in order. Where
    // sendsArrays(), the values go to the database as one array and a
    // failure leaves it open which of them took effect; otherwise they run
    // one by one and a failure leaves the rows before it done.
    virtual void executeEach(const std::vector<std::string>& values);
    virtual bool sendsArrays() const { return false; }
};

// A value the database refused within executeEach, when it is known which.
class RowError : public DbError {
public:
    RowError(const std::string& what, std::size_t row) : DbError(what), m_row(row) {}
    std::size_t row() const { return m_row; } // 0-based index into the values
private:
    std::size_t m_row;
};

using ParamValues = std::vector<std::optional<std::string>>;

// A database reached by one transport. Implementations: embedded SQLite and
// ODBC. Every failure raises DbError with the database's own text.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Dialect dialect() const = 0;
    // Runs the batch in order and returns its result set, if a statement
    // produced one. values[i] belongs to the i-th marker of sql.
    virtual std::unique_ptr<Cursor> run(const ParsedSql& sql, const ParamValues& values) = 0;
    // Runs every statement of the batch to its end, reading past the rows of
    // any that return them (a script's select), so that the statements after
    // them run too; an error in any of them raises. Returns how many rows the
    // batch changed, -1 where the database does not say.
    virtual long long runAll(const ParsedSql& sql, const ParamValues& values) = 0;
    virtual std::unique_ptr<PreparedStatement> prepare(const ParsedSql& sql) = 0;
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    // Ends the transaction the connection is in, whoever began it (this
    // station or a script's own BEGIN), discarding its changes; nothing
    // happens outside one.
    virtual void rollback() = 0;
    // True while the connection is inside a transaction, whoever began it.
    virtual bool inTransaction() = 0;
    // Puts back the session settings the station's statements rely on, which
    // a script run on the connection may have changed (a SQL Server script's
    // SET IMPLICIT_TRANSACTIONS ON would leave every later mark uncommitted,
    // its SET NOCOUNT ON would hide the mark's row count).
    virtual void restoreSession() {}
};

std::unique_ptr<Backend> openSqliteBackend(const std::string& path);
// connectionString: an ODBC connection string in charset, handed to the
// driver manager.
std::unique_ptr<Backend> openOdbcBackend(const std::string& connectionString,
                                         const std::string& charset = stationCharset());

} // namespace vx::data
