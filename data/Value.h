#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vx::data {

// A whole decimal number as the station's settings and answers hold them:
// blanks before it and a sign are allowed, nothing after it; nothing for any
// other text or a number outside 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text);

// Case in SQL keywords and in column, key and driver names: A-Z and a-z
// are told apart by nothing else, and no other byte changes, whatever the
// locale says.
char lowerAscii(char c);
std::string lowerAscii(std::string text);
bool equalsNoCase(std::string_view a, std::string_view b);

// Raised by every database operation that fails; what() carries the server's
// or driver's own text so the operator sees what the database said.
class DbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The connection can no longer be used: the database file was deleted or
// replaced, or the server went away. Nothing more can be stored through it
// until the operator connects again.
class DbConnectionLost : public DbError {
public:
    using DbError::DbError;
};

// Which SQL the connected database speaks. The record-table statements are
// chosen by this, not by the transport: SQLite behind ODBC is still SQLite.
enum class Dialect { TSql, Sqlite };

// One field value of a result row. Texts are byte strings, never converted.
struct Value {
    enum class Type { Null, Integer, Real, Text, Binary, Bit };

    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes; // Text and Binary

    static Value null() { return {}; }
    static Value ofInt(std::int64_t v) { return {Type::Integer, v, 0, {}}; }
    static Value ofBit(bool v) { return {Type::Bit, v ? 1 : 0, 0, {}}; }
    static Value ofText(std::string v) { return {Type::Text, 0, 0, std::move(v)}; }

    bool isNull() const { return type == Type::Null; }
    // Integer in decimal digits, NULL empty, bit "True"/"False", text as stored.
    std::string asText() const;
    // Integer value; texts holding a decimal number convert, anything else raises.
    std::int64_t asInt() const;
};

} // namespace vx::data
