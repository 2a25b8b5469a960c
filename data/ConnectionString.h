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

// Where the labels are, as the journal and its reports name a database:
// "server/database", or the server alone; never who logs in with what.
std::string databaseLocation(const DbSettings& s);

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
// How a driver reads a value in braces. FreeTDS takes everything up to the
// first "};" (or the end of the string) with no escapes; the Microsoft
// drivers ("SQL Server", "ODBC Driver 17/18 for SQL Server") read "}}" as
// one '}' and end the value at a single '}'. The SQLite ODBC driver (the
// ODBC path tested without a server) knows no braces at all: a value runs to
// the next ';' and braces stay part of it.
enum class BraceRule { FreeTds, Microsoft, Bare };
BraceRule braceRule(const std::string& driver);

// The value in braces so that the driver reads back exactly value, with no
// chance to end the string early or add a key. Raises DbError for a value
// the driver cannot be given (FreeTDS and "};", the SQLite driver and ';').
std::string odbcQuote(const std::string& value, BraceRule rule);

// An ODBC connection string for SQL Server through driver. clientCharset is
// the character set of the station's texts; FreeTDS converts them from it to
// the server's (the Microsoft drivers take the ANSI code page themselves).
std::string odbcConnectionString(const DbSettings& s, const std::string& driver,
                                 const std::string& clientCharset);

} // namespace vx::data
