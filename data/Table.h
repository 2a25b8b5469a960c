#pragma once

#include "data/Database.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx::data {

// The value a text typed into a field of the given type stands for: bits
// take "True"/"False" (or 1/0, any case), integers decimal digits, texts are
// taken as typed. Raises DbError for a text the type cannot hold.
Value valueFromText(Value::Type type, const std::string& text);

// A whole table opened for the record grid (ADOTable1). Rows are read in
// pages in the order of the key column bh, so a table of a million records
// opens at once and costs only what is looked at. Records are changed,
// added and deleted one at a time by their key.
class Table {
public:
    explicit Table(Connection& connection) : m_connection(connection) {}

    void setTableName(std::string name) { m_name = std::move(name); }
    const std::string& tableName() const { return m_name; }
    void open();
    void close();
    bool active() const { return m_active; }
    const std::vector<std::string>& columns() const { return m_columns; }
    // Position of the key column bh in columns(); -1 when the table has none.
    int keyColumn() const { return m_key; }
    // At most count rows whose bh is above afterKey, in bh order.
    std::vector<std::vector<Value>> fetchAfter(std::int64_t afterKey, int count);

    // The record as stored now; nothing when no record has the key.
    std::optional<std::vector<Value>> fetchRow(std::int64_t key);
    // Stores value in one field of the record. Raises DbError with the
    // database's text when it refuses; a key no record has changes nothing.
    void setField(std::int64_t key, int column, const Value& value);
    // Adds a record with value in one field (the others take their defaults)
    // and returns it as stored, its new key included.
    std::vector<Value> appendRecord(int column, const Value& value);
    void deleteRecord(std::int64_t key);

private:
    // The value as the statement's text: NULL, a number, or a marker bound
    // to the text.
    std::string literal(const Value& value, Query& q) const;
    const std::string& column(int index) const;

    Connection& m_connection;
    std::string m_name;
    std::vector<std::string> m_columns;
    int m_key = -1;
    bool m_active = false;
};

} // namespace vx::data
