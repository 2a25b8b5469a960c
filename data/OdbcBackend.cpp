// ODBC back end: SQL Server through FreeTDS (Linux) or the system driver
// (Windows). It also runs against the SQLite ODBC driver, which is how the
// transport is tested where no SQL Server can run.

#if defined(_WIN32)
#include <windows.h>
#endif
#include "data/Backend.h"
#include "data/Charset.h"

#include <algorithm>
#include <cstring>
#include <sql.h>
#include <sqlext.h>

namespace vx::data {
namespace {

std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string* firstState = nullptr) {
    std::string out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR text[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &len);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (firstState && i == 1)
            *firstState = reinterpret_cast<char*>(state);
        if (!out.empty())
            out += "\n";
        out += reinterpret_cast<char*>(text);
    }
    return out.empty() ? "ODBC error" : out;
}

// SQLSTATE class 08 is a connection failure: the link to the server is
// gone and every later statement on it would fail too.
[[noreturn]] void raise(const std::string& text, const std::string& state) {
    if (state.rfind("08", 0) == 0)
        throw DbConnectionLost(text);
    throw DbError(text);
}

[[noreturn]] void raise(SQLSMALLINT type, SQLHANDLE handle) {
    std::string state;
    const std::string text = diagnostics(type, handle, &state);
    raise(text, state);
}

void odbcCheck(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA)
        return;
    raise(type, handle);
}

class Stmt {
public:
    explicit Stmt(SQLHDBC dbc) {
        odbcCheck(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_h), SQL_HANDLE_DBC, dbc);
    }
    ~Stmt() { SQLFreeHandle(SQL_HANDLE_STMT, m_h); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    SQLHSTMT get() const { return m_h; }
    void check(SQLRETURN rc) const { odbcCheck(rc, SQL_HANDLE_STMT, m_h); }

    // Binds texts as single-byte character data, which the driver converts
    // from the client's character set to the server's; where binary[i] is
    // set the bytes go as varbinary, unconverted. The buffers must outlive
    // the execution.
    void bindTexts(const std::vector<std::string>& texts, const std::vector<bool>& binary,
                   std::vector<SQLLEN>& lengths) {
        lengths.resize(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const bool bytes = i < binary.size() && binary[i];
            lengths[i] = static_cast<SQLLEN>(texts[i].size());
            const SQLULEN column = texts[i].empty() ? 1 : texts[i].size();
            check(SQLBindParameter(m_h, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                   bytes ? SQL_C_BINARY : SQL_C_CHAR,
                                   bytes ? SQL_VARBINARY : SQL_VARCHAR, column, 0,
                                   const_cast<char*>(texts[i].data()), lengths[i], &lengths[i]));
        }
    }

private:
    SQLHSTMT m_h = SQL_NULL_HSTMT;
};

class OdbcCursor final : public Cursor {
public:
    explicit OdbcCursor(std::unique_ptr<Stmt> st) : m_st(std::move(st)) {
        SQLSMALLINT n = 0;
        m_st->check(SQLNumResultCols(m_st->get(), &n));
        for (SQLSMALLINT i = 1; i <= n; ++i) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            m_st->check(SQLDescribeCol(m_st->get(), static_cast<SQLUSMALLINT>(i), name, sizeof name,
                                       &nameLen, &type, &size, &digits, &nullable));
            m_names.emplace_back(reinterpret_cast<char*>(name));
            m_types.push_back(type);
        }
    }
    const std::vector<std::string>& columnNames() const override { return m_names; }

    bool fetch(std::vector<Value>& row) override {
        SQLRETURN rc = SQLFetch(m_st->get());
        if (rc == SQL_NO_DATA)
            return false;
        m_st->check(rc);
        row.clear();
        for (std::size_t i = 0; i < m_names.size(); ++i)
            row.push_back(read(static_cast<SQLUSMALLINT>(i + 1), m_types[i]));
        return true;
    }

private:
    Value read(SQLUSMALLINT col, SQLSMALLINT type) {
        SQLLEN ind = 0;
        switch (type) {
        case SQL_BIT:
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT: {
            SQLBIGINT v = 0;
            m_st->check(SQLGetData(m_st->get(), col, SQL_C_SBIGINT, &v, sizeof v, &ind));
            if (ind == SQL_NULL_DATA)
                return Value::null();
            return type == SQL_BIT ? Value::ofBit(v != 0) : Value::ofInt(v);
        }
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY: {
            Value v = readBytes(col, SQL_C_BINARY);
            if (!v.isNull())
                v.type = Value::Type::Binary;
            return v;
        }
        default:
            return readBytes(col, SQL_C_CHAR);
        }
    }

    // Reads a column in pieces, so long texts come back whole.
    Value readBytes(SQLUSMALLINT col, SQLSMALLINT cType) {
        std::string out;
        char buf[4096];
        const std::size_t terminator = cType == SQL_C_CHAR ? 1 : 0;
        for (;;) {
            SQLLEN ind = 0;
            SQLRETURN rc = SQLGetData(m_st->get(), col, cType, buf, sizeof buf, &ind);
            if (rc == SQL_NO_DATA)
                break;
            m_st->check(rc);
            if (ind == SQL_NULL_DATA)
                return Value::null();
            std::size_t got;
            if (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > sizeof buf - terminator)
                got = sizeof buf - terminator;
            else
                got = static_cast<std::size_t>(ind);
            out.append(buf, got);
            if (rc == SQL_SUCCESS)
                break;
        }
        return Value::ofText(std::move(out));
    }

    std::unique_ptr<Stmt> m_st;
    std::vector<std::string> m_names;
    std::vector<SQLSMALLINT> m_types;
};

class OdbcPrepared final : public PreparedStatement {
public:
    OdbcPrepared(SQLHDBC dbc, const ParsedSql& sql)
        : m_st(dbc), m_texts(sql.names.size()), m_binary(sql.binary) {
        m_st.check(SQLPrepare(m_st.get(),
                              reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.text.c_str())),
                              static_cast<SQLINTEGER>(sql.text.size())));
    }
    void bindText(int index, const std::string& bytes) override {
        m_texts.at(static_cast<std::size_t>(index)) = bytes;
    }
    void execute() override {
        m_st.bindTexts(m_texts, m_binary, m_lengths);
        m_st.check(SQLExecute(m_st.get()));
        while (SQL_SUCCEEDED(SQLMoreResults(m_st.get()))) {
        }
        SQLFreeStmt(m_st.get(), SQL_CLOSE);
    }

    // Sends the values as one parameter array: one round trip to the server
    // instead of one per value.
    void executeEach(const std::vector<std::string>& values) override {
        if (values.size() < 2 || m_texts.size() != 1 || !m_arrays ||
            (!m_binary.empty() && m_binary[0])) {
            PreparedStatement::executeEach(values);
            return;
        }
        const SQLHSTMT h = m_st.get();
        std::size_t width = 1;
        for (const auto& v : values)
            width = std::max(width, v.size());
        ++width; // room for the terminator some drivers write
        std::vector<char> buffer(values.size() * width);
        std::vector<SQLLEN> lengths(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::memcpy(&buffer[i * width], values[i].data(), values[i].size());
            lengths[i] = static_cast<SQLLEN>(values[i].size());
        }
        std::vector<SQLUSMALLINT> status(values.size(), SQL_PARAM_UNUSED);
        SQLULEN processed = 0;
        SQLSetStmtAttr(h, SQL_ATTR_PARAM_BIND_TYPE,
                       reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
        if (!SQL_SUCCEEDED(SQLSetStmtAttr(
                h, SQL_ATTR_PARAMSET_SIZE,
                reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(values.size())), 0))) {
            m_arrays = false; // the driver takes one row at a time
            PreparedStatement::executeEach(values);
            return;
        }
        SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
        SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
        auto reset = [&] {
            SQLFreeStmt(h, SQL_CLOSE);
            SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
        };
        std::string error, state;
        SQLRETURN rc =
            SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, width - 1, 0,
                             buffer.data(), static_cast<SQLLEN>(width), lengths.data());
        if (SQL_SUCCEEDED(rc))
            rc = SQLExecute(h);
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            error = diagnostics(SQL_HANDLE_STMT, h, &state);
        // Later rows report through the further results of the batch.
        for (SQLRETURN more; error.empty() && (more = SQLMoreResults(h)) != SQL_NO_DATA;) {
            if (!SQL_SUCCEEDED(more))
                error = diagnostics(SQL_HANDLE_STMT, h, &state);
        }
        // Which row was refused, where the driver says.
        std::size_t failed = values.size();
        for (std::size_t i = 0; i < processed && i < status.size(); ++i)
            if (status[i] == SQL_PARAM_ERROR) {
                failed = i;
                break;
            }
        if (error.empty() && failed < values.size())
            error = "row " + std::to_string(failed + 1) + " of the batch failed";
        reset();
        if (error.empty())
            return;
        if (failed < values.size() && state.rfind("08", 0) != 0)
            throw RowError(error, failed);
        raise(error, state);
    }

    bool sendsArrays() const override { return m_arrays; }

private:
    bool m_arrays = true;
    Stmt m_st;
    std::vector<std::string> m_texts;
    std::vector<bool> m_binary;
    std::vector<SQLLEN> m_lengths;
};

// What a batch left: its result set, if a statement produced one, and the
// rows its statements changed (-1: the database did not say).
struct BatchResult {
    std::unique_ptr<Cursor> rows;
    long long changed = -1;
};

class OdbcBackend final : public Backend {
public:
    OdbcBackend(const std::string& connectionString, const std::string& charset) {
        odbcCheck(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env), SQL_HANDLE_ENV, m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        odbcCheck(SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc), SQL_HANDLE_ENV, m_env);
        SQLSetConnectAttr(m_dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
        // The wide call: the user name, password and database reach the
        // driver as the operator typed them, whatever single-byte character
        // set the driver would otherwise assume for them.
        std::u16string wide = toUtf16(connectionString, charset);
        std::vector<SQLWCHAR> text(wide.begin(), wide.end());
        text.push_back(0);
        SQLRETURN rc = SQLDriverConnectW(m_dbc, nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr,
                                         SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            std::string msg = diagnostics(SQL_HANDLE_DBC, m_dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
            throw DbError(msg);
        }
        m_connected = true;
        char name[128] = {};
        SQLSMALLINT len = 0;
        SQLGetInfo(m_dbc, SQL_DBMS_NAME, name, sizeof name, &len);
        m_dialect = std::strstr(name, "SQLite") ? Dialect::Sqlite : Dialect::TSql;
        if (m_dialect == Dialect::TSql)
            countRows();
    }

    ~OdbcBackend() override {
        if (m_connected)
            SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_env);
    }

    Dialect dialect() const override { return m_dialect; }

    std::unique_ptr<Cursor> run(const ParsedSql& sql, const ParamValues& values) override {
        return runBatch(sql, values, false).rows;
    }

    long long runAll(const ParsedSql& sql, const ParamValues& values) override {
        return runBatch(sql, values, true).changed;
    }

    // toTheEnd: every result of every statement is read past (which also
    // raises the errors of later statements) and no result set is kept;
    // otherwise the first result set is returned unread.
    BatchResult runBatch(const ParsedSql& sql, const ParamValues& values, bool toTheEnd) {
        // SQL Server takes the whole batch; the SQLite driver one statement
        // per call.
        BatchResult result;
        auto count = [&result](SQLHSTMT h) {
            SQLLEN n = -1;
            if (SQL_SUCCEEDED(SQLRowCount(h, &n)) && n >= 0)
                result.changed = (result.changed < 0 ? 0 : result.changed) + n;
        };
        std::vector<ParsedSql> parts;
        if (m_dialect == Dialect::TSql)
            parts.push_back(sql);
        else
            parts = splitStatements(sql);
        std::size_t used = 0;
        for (std::size_t p = 0; p < parts.size(); ++p) {
            const ParsedSql& part = parts[p];
            std::vector<std::string> texts;
            for (std::size_t i = 0; i < part.names.size(); ++i) {
                if (used + i >= values.size() || !values[used + i])
                    throw DbError("Parameter '" + part.names[i] + "' has no value");
                texts.push_back(*values[used + i]);
            }
            used += part.names.size();
            auto st = std::make_unique<Stmt>(m_dbc);
            std::vector<SQLLEN> lengths;
            st->bindTexts(texts, part.binary, lengths);
            st->check(SQLExecDirect(
                st->get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(part.text.c_str())),
                static_cast<SQLINTEGER>(part.text.size())));
            // Walk the batch's results up to the first one with columns;
            // errors of later statements surface here too.
            for (;;) {
                SQLSMALLINT cols = 0;
                st->check(SQLNumResultCols(st->get(), &cols));
                if (cols > 0 && !toTheEnd) {
                    if (p + 1 != parts.size())
                        throw DbError("a batch may return one result set, from its last statement");
                    result.rows = std::make_unique<OdbcCursor>(std::move(st));
                    return result;
                }
                if (cols == 0)
                    count(st->get());
                SQLRETURN rc = SQLMoreResults(st->get());
                if (rc == SQL_NO_DATA)
                    break;
                st->check(rc);
            }
        }
        return result;
    }

    std::unique_ptr<PreparedStatement> prepare(const ParsedSql& sql) override {
        return std::make_unique<OdbcPrepared>(m_dbc, sql);
    }

    void beginTransaction() override {
        odbcCheck(SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT,
                                    reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
                  SQL_HANDLE_DBC, m_dbc);
        m_ownTransaction = true;
    }
    void commit() override { endTransaction(SQL_COMMIT); }
    void rollback() override {
        if (m_ownTransaction) {
            endTransaction(SQL_ROLLBACK);
            return;
        }
        // One a statement began itself, with the driver in autocommit mode:
        // the driver does not know of it, the database does.
        if (inTransaction())
            direct(m_dialect == Dialect::TSql ? "IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"
                                              : "ROLLBACK");
    }

    void restoreSession() override {
        if (m_dialect != Dialect::TSql)
            return;
        direct("SET IMPLICIT_TRANSACTIONS OFF");
        direct("SET NOCOUNT OFF");
    }

    bool inTransaction() override {
        if (m_ownTransaction)
            return true;
        if (m_dialect == Dialect::TSql) {
            Stmt st(m_dbc);
            const char* sql = "SELECT @@TRANCOUNT";
            st.check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)),
                                   SQL_NTS));
            SQLBIGINT count = 0;
            SQLLEN ind = 0;
            st.check(SQLFetch(st.get()));
            st.check(SQLGetData(st.get(), 1, SQL_C_SBIGINT, &count, sizeof count, &ind));
            return ind != SQL_NULL_DATA && count > 0;
        }
        // SQLite says nothing of it in SQL: a BEGIN is refused inside a
        // transaction, and one that is taken is ended again at once (a
        // deferred BEGIN takes no lock).
        Stmt st(m_dbc);
        const char* begin = "BEGIN";
        try {
            st.check(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(begin)),
                                   SQL_NTS));
        } catch (const DbConnectionLost&) {
            throw;
        } catch (const DbError&) {
            return true;
        }
        direct("ROLLBACK");
        return false;
    }

private:
    // A server or login set up with NOCOUNT on reports no statement's row
    // count, and the mark of a scan is judged by it: ask for counts.
    void countRows() {
        try {
            direct("SET NOCOUNT OFF");
        } catch (const DbError&) {
            SQLDisconnect(m_dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
            SQLFreeHandle(SQL_HANDLE_ENV, m_env);
            throw;
        }
    }

    void endTransaction(SQLSMALLINT how) {
        SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, m_dbc, how);
        SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        m_ownTransaction = false;
        odbcCheck(rc, SQL_HANDLE_DBC, m_dbc);
    }

    // One statement without parameters or rows.
    void direct(const char* sql) {
        Stmt st(m_dbc);
        st.check(
            SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS));
    }

    SQLHENV m_env = SQL_NULL_HENV;
    SQLHDBC m_dbc = SQL_NULL_HDBC;
    bool m_connected = false;
    // Autocommit is off for a transaction of the station's own.
    bool m_ownTransaction = false;
    Dialect m_dialect = Dialect::TSql;
};

} // namespace

std::unique_ptr<Backend> openOdbcBackend(const std::string& connectionString,
                                         const std::string& charset) {
    return std::make_unique<OdbcBackend>(connectionString, charset);
}

} // namespace vx::data
