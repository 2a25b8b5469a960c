#pragma once

#include <string>

namespace vx::data {

// The four connection settings kept in config.ini's [Database] section.
struct DbSettings {
    std::string server;   // Data Source
    std::string database; // Initial Catalog
    std::string user;     // User ID
    std::string password;
};

// "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=<user>;Password=<pw>;
//  Initial Catalog=<db>;Data Source=<server>", byte for byte, values unquoted.
std::string buildConnectionString(const DbSettings& s);

// The inverse. The text is read by its fixed order of keys rather than split
// at every ';', so a password holding ';' or '=' comes back whole. Texts of
// another shape are read as ordinary key=value pairs.
DbSettings parseConnectionString(const std::string& text);

// True when the server name names an embedded SQLite database file.
bool namesSqliteFile(const std::string& server);
// Relative paths are taken from baseFolder (with its trailing separator).
std::string resolveSqlitePath(const std::string& server, const std::string& baseFolder);

// The ODBC driver for SQL Server: $VEXORA_ODBC_DRIVER, else FreeTDS on Linux
// and "SQL Server" on Windows.
std::string defaultOdbcDriver();
// An ODBC connection string with every value in braces ('}' doubled), so no
// value can end the string early or add a key.
std::string odbcConnectionString(const DbSettings& s, const std::string& driver);
std::string odbcQuote(const std::string& value);

} // namespace vx::data
