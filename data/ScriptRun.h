#pragma once

#include "data/Database.h"

#include <optional>
#include <string>
#include <string_view>

namespace vx::data {

// What became of a script run with runScript.
struct ScriptRun {
    // The database's words when the script failed; empty when it ran to its end.
    std::optional<std::string> failure;
    // The script left the connection inside a transaction (a BEGIN without
    // its COMMIT, or a failure half-way through one), and that transaction
    // was rolled back.
    bool rolledBack = false;
};

// Runs a script's text as one batch through command. Whatever the script
// does, the connection is not left inside a transaction: one the script
// opened and did not end would keep every later change of the station
// uncommitted, to be lost when the station closes, so it is rolled back;
// session settings the station's statements rely on are put back.
// A connection found gone raises DbConnectionLost; the script's other
// failures are returned, after that rollback.
ScriptRun runScript(Query& command, std::string_view text);

} // namespace vx::data
