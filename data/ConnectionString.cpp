#include "data/ConnectionString.h"

#include "data/Value.h"

#include <cstdlib>
#include <string_view>

namespace vx::data {
namespace {

constexpr const char* kPrefix = "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=";
constexpr const char* kPassword = ";Password=";
constexpr const char* kCatalog = ";Initial Catalog=";
constexpr const char* kSource = ";Data Source=";

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && equalsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string trimmed(const std::string& s) {
    auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

} // namespace

std::string databaseLocation(const DbSettings& s) {
    return s.server + (s.database.empty() ? "" : "/") + s.database;
}

std::string buildConnectionString(const DbSettings& s) {
    return std::string(kPrefix) + s.user + kPassword + s.password + kCatalog + s.database +
           kSource + s.server;
}

DbSettings parseConnectionString(const std::string& text) {
    DbSettings s;
    const std::string prefix = kPrefix;
    if (text.compare(0, prefix.size(), prefix) == 0) {
        // User ID runs to the first ";Password=", Data Source from the last
        // ";Data Source=", Initial Catalog from the last ";Initial Catalog="
        // before it; the password is everything in between.
        std::size_t pw = text.find(kPassword, prefix.size());
        std::size_t src = text.rfind(kSource);
        std::size_t cat = src == std::string::npos ? std::string::npos : text.rfind(kCatalog, src);
        if (pw != std::string::npos && cat != std::string::npos && src != std::string::npos &&
            pw < cat) {
            const std::size_t pwStart = pw + std::char_traits<char>::length(kPassword);
            const std::size_t catStart = cat + std::char_traits<char>::length(kCatalog);
            s.user = text.substr(prefix.size(), pw - prefix.size());
            s.password = text.substr(pwStart, cat - pwStart);
            s.database = text.substr(catStart, src - catStart);
            s.server = text.substr(src + std::char_traits<char>::length(kSource));
            return s;
        }
    }
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string part = text.substr(pos, end - pos);
        std::size_t eq = part.find('=');
        if (eq != std::string::npos) {
            std::string key = lowerAscii(trimmed(part.substr(0, eq)));
            std::string value = part.substr(eq + 1);
            if (key == "data source" || key == "server")
                s.server = value;
            else if (key == "initial catalog" || key == "database")
                s.database = value;
            else if (key == "user id" || key == "uid")
                s.user = value;
            else if (key == "password" || key == "pwd")
                s.password = value;
        }
        pos = end + 1;
    }
    return s;
}

bool namesSqliteFile(const std::string& server) {
    return endsWithNoCase(server, ".db") || endsWithNoCase(server, ".sqlite") ||
           endsWithNoCase(server, ".sqlite3");
}

std::string resolveSqlitePath(const std::string& server, const std::string& baseFolder) {
    const bool absolute = (!server.empty() && (server[0] == '/' || server[0] == '\\')) ||
                          (server.size() > 1 && server[1] == ':');
    if (absolute || baseFolder.empty())
        return server;
    return baseFolder + server;
}

std::string defaultOdbcDriver() {
    if (const char* env = std::getenv("VEXORA_ODBC_DRIVER"); env && *env)
        return env;
#if defined(_WIN32)
    return "SQL Server";
#else
    return "FreeTDS";
#endif
}

BraceRule braceRule(const std::string& driver) {
    const std::string name = lowerAscii(driver);
    if (name.find("freetds") != std::string::npos)
        return BraceRule::FreeTds;
    return name.find("sqlite") != std::string::npos ? BraceRule::Bare : BraceRule::Microsoft;
}

std::string odbcQuote(const std::string& value, BraceRule rule) {
    if (rule == BraceRule::Bare) {
        if (value.find(';') != std::string::npos)
            throw DbError("The SQLite ODBC driver cannot be given a value holding \";\"");
        return value;
    }
    std::string out = "{";
    if (rule == BraceRule::FreeTds) {
        if (value.find("};") != std::string::npos)
            throw DbError("The FreeTDS driver cannot be given a value holding \"};\"");
        out += value;
    } else {
        for (char c : value) {
            out += c;
            if (c == '}')
                out += '}';
        }
    }
    out += '}';
    return out;
}

std::string odbcConnectionString(const DbSettings& s, const std::string& driver,
                                 const std::string& clientCharset) {
    const BraceRule rule = braceRule(driver);
    auto pair = [rule](const char* key, const std::string& value) {
        return std::string(key) + "=" + odbcQuote(value, rule) + ";";
    };
    // Every pair ends with ';': FreeTDS keeps the closing brace of a value
    // that ends the string.
    std::string out = pair("DRIVER", driver) + pair("SERVER", s.server);
    if (!s.database.empty())
        out += pair("DATABASE", s.database);
    out += pair("UID", s.user) + pair("PWD", s.password);
    // FreeTDS needs a protocol version that speaks to current servers, and
    // the character set the station's texts are in.
    if (rule == BraceRule::FreeTds)
        out += "TDS_Version=7.4;" + pair("ClientCharset", clientCharset);
    return out;
}

} // namespace vx::data
