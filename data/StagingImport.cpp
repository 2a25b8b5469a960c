#include "data/StagingImport.h"

namespace vx::data {

void rebuildTable(Connection& connection, Query& query, Query& command,
                  const std::vector<std::string>& create, const std::vector<std::string>& copy) {
    connection.open();
    Backend& backend = connection.backend();
    backend.beginTransaction();
    try {
        query.close();
        query.clear();
        for (const std::string& line : create)
            query.add(line);
        query.execute();
        query.close();
        command.close();
        command.clear();
        for (const std::string& line : copy)
            command.add(line);
        command.execute();
        backend.commit();
    } catch (...) {
        try {
            backend.rollback();
        } catch (const std::exception&) {
            // The copy's own error is what the operator must see.
        }
        throw;
    }
}

bool findDuplicates(Query& query, const std::vector<std::string>& check,
                    const std::string& select) {
    query.close();
    query.clear();
    for (const std::string& line : check)
        query.add(line);
    query.execute();
    query.close();
    query.clear();
    query.add(select);
    query.open();
    return !query.isEmpty();
}

} // namespace vx::data
