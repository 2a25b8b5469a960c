#pragma once

#include "data/Backend.h"
#include "data/Database.h"
#include "journal/JournalReader.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vx::test {

// The back ends the database tests run against:
//  "sqlite"       embedded SQLite file;
//  "odbc_sqlite"  the same kind of file through unixODBC and the SQLite ODBC
//                 driver (the ODBC transport, for real, without a server);
//  "mssql"        a real SQL Server when $VEXORA_TEST_MSSQL holds an ODBC
//                 connection string for one; skipped otherwise.
std::vector<std::string> backendKinds();

// Opens a back end of that kind; file-based kinds put their database in dir.
// Returns null (with the reason in why) when the kind is unavailable here.
// Every kind is held to SQL Server's rule (see oneActiveResult).
std::unique_ptr<data::Backend> openBackend(const std::string& kind, const std::string& dir,
                                           std::string& why);

// SQL Server without MARS allows one active result per connection: while a
// result set has rows left to read, any other statement on the connection
// fails ("Invalid cursor state"). The returned back end enforces that on
// any back end, so a caller that leaves a result pending fails in tests on
// SQLite as it would on a line's SQL Server.
std::unique_ptr<data::Backend> oneActiveResult(std::unique_ptr<data::Backend> backend);

// A test run once per back end kind, with the connection open on it (or
// skipped where the kind is not available). Derived fixtures that add a
// SetUp call this one first and return when IsSkipped().
class BackendTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    TempDir dir;
    data::Connection db;
};

// The rows of the journal file at path that pass filter.
std::vector<journal::JournalRow>
journalRows(const std::string& path, const journal::JournalFilter& filter,
            journal::JournalReader::Order order = journal::JournalReader::Order::Appended);
// Its rows of one kind (all when none is given), in the order written.
std::vector<journal::JournalRow> journalRows(const std::string& path, const std::string& kind = {});

} // namespace vx::test
