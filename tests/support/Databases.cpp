#include "tests/support/Databases.h"

#include <cstdlib>

namespace vx::test {

std::vector<std::string> backendKinds() {
    return {"sqlite", "odbc_sqlite", "mssql"};
}

std::unique_ptr<data::Backend> openBackend(const std::string& kind, const std::string& dir,
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

void BackendTest::SetUp() {
    std::string why;
    auto backend = openBackend(GetParam(), dir.path(), why);
    if (!backend)
        GTEST_SKIP() << why;
    db.openWith(std::move(backend));
}

} // namespace vx::test
