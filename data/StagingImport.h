#pragma once

#include "data/Database.h"

#include <string>
#include <vector>

namespace vx::data {

// Rebuilds a table from another in one transaction: create (run on query)
// drops and re-creates the target, copy (one statement, run on command)
// fills it from the source. Either both take effect or neither does: when the
// copy fails, because the source is missing or cannot be read, the target is
// left exactly as it was and the database's error is raised.
void rebuildTable(Connection& connection, Query& query, Query& command,
                  const std::vector<std::string>& create, const std::vector<std::string>& copy);

// Runs the duplicate check (check rebuilds the duplicate table, select
// reads it) on query. True when there are duplicates; query then holds
// their rows.
bool findDuplicates(Query& query, const std::vector<std::string>& check, const std::string& select);

} // namespace vx::data
