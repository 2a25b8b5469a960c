#include "tests/support/Databases.h"

#include <cstdlib>
#include <memory>

namespace vx::test {
namespace {

using data::DbError;

void checkIdle(const std::shared_ptr<bool>& busy) {
    if (*busy)
        throw DbError("Invalid cursor state: the connection is busy with the results of "
                      "another statement");
}

class PendingRows final : public data::Cursor {
public:
    PendingRows(std::unique_ptr<data::Cursor> inner, std::shared_ptr<bool> busy)
        : m_inner(std::move(inner)), m_busy(std::move(busy)) {
        *m_busy = true;
    }
    ~PendingRows() override { *m_busy = false; }
    const std::vector<std::string>& columnNames() const override { return m_inner->columnNames(); }
    bool fetch(std::vector<data::Value>& row) override {
        const bool more = m_inner->fetch(row);
        if (!more)
            *m_busy = false;
        return more;
    }

private:
    std::unique_ptr<data::Cursor> m_inner;
    std::shared_ptr<bool> m_busy;
};

class CheckedStatement final : public data::PreparedStatement {
public:
    CheckedStatement(std::unique_ptr<data::PreparedStatement> inner, std::shared_ptr<bool> busy)
        : m_inner(std::move(inner)), m_busy(std::move(busy)) {}
    void bindText(int index, const std::string& bytes) override { m_inner->bindText(index, bytes); }
    void execute() override {
        checkIdle(m_busy);
        m_inner->execute();
    }
    void executeEach(const std::vector<std::string>& values) override {
        checkIdle(m_busy);
        m_inner->executeEach(values);
    }
    bool sendsArrays() const override { return m_inner->sendsArrays(); }

private:
    std::unique_ptr<data::PreparedStatement> m_inner;
    std::shared_ptr<bool> m_busy;
};

class OneActiveResult final : public data::Backend {
public:
    explicit OneActiveResult(std::unique_ptr<data::Backend> inner) : m_inner(std::move(inner)) {}
    data::Dialect dialect() const override { return m_inner->dialect(); }
    std::unique_ptr<data::Cursor> run(const data::ParsedSql& sql,
                                      const data::ParamValues& values) override {
        checkIdle(m_busy);
        auto rows = m_inner->run(sql, values);
        if (rows)
            rows = std::make_unique<PendingRows>(std::move(rows), m_busy);
        return rows;
    }
    long long runAll(const data::ParsedSql& sql, const data::ParamValues& values) override {
        checkIdle(m_busy);
        return m_inner->runAll(sql, values);
    }
    std::unique_ptr<data::PreparedStatement> prepare(const data::ParsedSql& sql) override {
        checkIdle(m_busy);
        return std::make_unique<CheckedStatement>(m_inner->prepare(sql), m_busy);
    }
    void beginTransaction() override {
        checkIdle(m_busy);
        m_inner->beginTransaction();
    }
    void commit() override {
        checkIdle(m_busy);
        m_inner->commit();
    }
    void rollback() override { m_inner->rollback(); }
    bool inTransaction() override {
        checkIdle(m_busy);
        return m_inner->inTransaction();
    }

private:
    std::unique_ptr<data::Backend> m_inner;
    std::shared_ptr<bool> m_busy = std::make_shared<bool>(false);
};

std::unique_ptr<data::Backend> openRaw(const std::string& kind, const std::string& dir,
                                       std::string& why) {
    if (kind == "sqlite")
        return data::openSqliteBackend(dir + "/test.db");
    if (kind == "odbc_sqlite") {
        const char* driver = std::getenv("VEXORA_TEST_SQLITE_ODBC_DRIVER");
        return data::openOdbcBackend(std::string("DRIVER=") + (driver ? driver : "SQLite3") +
                                     ";Database=" + dir + "/odbc.db;");
    }
    if (kind == "mssql") {
        const char* cs = std::getenv("VEXORA_TEST_MSSQL");
        if (!cs || !*cs) {
            why = "set VEXORA_TEST_MSSQL to an ODBC connection string to test against SQL Server";
            return nullptr;
        }
        return data::openOdbcBackend(cs);
    }
    why = "unknown back end " + kind;
    return nullptr;
}

} // namespace

std::vector<std::string> backendKinds() {
    return {"sqlite", "odbc_sqlite", "mssql"};
}

std::unique_ptr<data::Backend> oneActiveResult(std::unique_ptr<data::Backend> backend) {
    return std::make_unique<OneActiveResult>(std::move(backend));
}

std::unique_ptr<data::Backend> openBackend(const std::string& kind, const std::string& dir,
                                           std::string& why) {
    auto backend = openRaw(kind, dir, why);
    return backend ? oneActiveResult(std::move(backend)) : nullptr;
}

void BackendTest::SetUp() {
    std::string why;
    auto backend = openBackend(GetParam(), dir.path(), why);
    if (!backend)
        GTEST_SKIP() << why;
    db.openWith(std::move(backend));
}

std::vector<journal::JournalRow> journalRows(const std::string& path,
                                             const journal::JournalFilter& filter,
                                             journal::JournalReader::Order order) {
    journal::JournalReader reader(path);
    std::vector<journal::JournalRow> rows;
    reader.forEach(filter, order, [&](const journal::JournalRow& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

std::vector<journal::JournalRow> journalRows(const std::string& path, const std::string& kind) {
    journal::JournalFilter filter;
    filter.kind = kind;
    return journalRows(path, filter);
}

} // namespace vx::test
