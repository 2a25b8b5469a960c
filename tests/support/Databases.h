#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/Backend.h"

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
std::unique_ptr<data::Backend> openBackend(const std::string& kind, const std::string& dir,
                                           std::string& why);

} // namespace vx::test
