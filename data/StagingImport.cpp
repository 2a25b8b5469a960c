#include "data/StagingImport.h"

namespace vx::data {

void rebuildTable(Connection& connection, Query& query, Query& command,
                  const std::vector<std::string>& create, const std::vector<std::string>& copy) {
    connection.open();
    Backend& backend = connection.backend();
    backend.beginTransaction();
    try {
        query.execute(create);
        command.execute(copy);
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
    query.execute(check);
    query.open({select});
    return !query.isEmpty();
}

} // namespace vx::data
