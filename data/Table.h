#pragma once

#include "data/Database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vx::data {

// A whole table opened for the record grid (ADOTable1). Rows are read in
// pages in the order of the key column bh, so a table of a million records
// opens at once and costs only what is looked at.
class Table {
public:
    explicit Table(Connection& connection) : m_connection(connection) {}

    void setTableName(std::string name) { m_name = std::move(name); }
    const std::string& tableName() const { return m_name; }
    void open();
    void close();
    bool active() const { return m_active; }
    const std::vector<std::string>& columns() const { return m_columns; }
    // At most count rows whose bh is above afterKey, in bh order.
    std::vector<std::vector<Value>> fetchAfter(std::int64_t afterKey, int count);

private:
    Connection& m_connection;
    std::string m_name;
    std::vector<std::string> m_columns;
    bool m_active = false;
};

} // namespace vx::data
