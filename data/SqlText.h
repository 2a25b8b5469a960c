#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vx::data {

// A statement text with its named parameter markers replaced by '?'.
// Markers follow the rule of the database components the station was built
// on: outside single, double or back quotes, a colon starts a name that runs
// up to a blank, comma, semicolon, closing parenthesis, CR or LF; "::" is one
// literal colon. names[i] is the name of the i-th '?'.
// binary[i] is set where the statement casts the i-th marker to varbinary
// ("cast(:mm as varbinary(200))"): its value is meant as bytes and is bound
// as binary, so no driver converts it on the way.
struct ParsedSql {
    std::string text;
    std::vector<std::string> names;
    std::vector<bool> binary;
};

ParsedSql parseParameters(std::string_view sql);

// Splits a SQLite batch at ';' outside quotes and comments. Empty statements
// are dropped. Only used where a driver takes one statement per call.
std::vector<ParsedSql> splitStatements(const ParsedSql& batch);

// The lines of a query or command, joined the way they are sent: by CR LF.
std::string joinLines(const std::vector<std::string>& lines);

} // namespace vx::data
