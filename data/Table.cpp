#include "data/Table.h"

namespace vx::data {
namespace {

std::vector<Value> rowOf(const Query& q) {
    std::vector<Value> row;
    for (int i = 0; i < q.fieldCount(); ++i)
        row.push_back(q.field(i));
    return row;
}

} // namespace

Value valueFromText(Value::Type type, const std::string& text) {
    switch (type) {
    case Value::Type::Bit: {
        const std::string t = lowerAscii(text);
        if (t == "true" || t == "1")
            return Value::ofBit(true);
        if (t == "false" || t == "0")
            return Value::ofBit(false);
        throw DbError("'" + text + "' is not a valid boolean value");
    }
    case Value::Type::Integer:
        if (auto v = parseInteger(text))
            return Value::ofInt(*v);
        throw DbError("'" + text + "' is not a valid integer value");
    default:
        return Value::ofText(text);
    }
}

void Table::open() {
    close();
    Query q(m_connection);
    q.setText("select * from " + m_name + " where 1=0");
    q.open();
    for (int i = 0; i < q.fieldCount(); ++i) {
        m_columns.push_back(q.fieldName(i));
        if (equalsNoCase(m_columns.back(), "bh"))
            m_key = i;
    }
    m_active = true;
}

void Table::close() {
    m_columns.clear();
    m_key = -1;
    m_active = false;
}

std::vector<std::vector<Value>> Table::fetchAfter(std::int64_t afterKey, int count) {
    std::vector<std::vector<Value>> rows;
    if (!m_active || count <= 0)
        return rows;
    const std::string n = std::to_string(count), k = std::to_string(afterKey);
    Query q(m_connection);
    if (m_connection.dialect() == Dialect::TSql)
        q.setText("select top " + n + " * from " + m_name + " where bh>" + k + " order by bh");
    else
        q.setText("select * from " + m_name + " where bh>" + k + " order by bh limit " + n);
    q.open();
    for (; !q.eof(); q.next())
        rows.push_back(rowOf(q));
    return rows;
}

const std::string& Table::column(int index) const {
    if (!m_active || index < 0 || index >= static_cast<int>(m_columns.size()))
        throw DbError("field index out of range");
    return m_columns[static_cast<std::size_t>(index)];
}

std::string Table::literal(const Value& value, Query& q) const {
    switch (value.type) {
    case Value::Type::Null:
        return "NULL";
    case Value::Type::Integer:
    case Value::Type::Bit:
        return std::to_string(value.integer);
    default:
        q.setParam("v", value.bytes);
        return ":v";
    }
}

std::optional<std::vector<Value>> Table::fetchRow(std::int64_t key) {
    Query q(m_connection);
    q.setText("select * from " + m_name + " where bh=" + std::to_string(key));
    q.open();
    if (q.eof())
        return std::nullopt;
    return rowOf(q);
}

void Table::setField(std::int64_t key, int index, const Value& value) {
    Query q(m_connection);
    const std::string set = column(index) + "=" + literal(value, q);
    q.add("update " + m_name + " set " + set + " where bh=" + std::to_string(key));
    q.execute();
}

std::vector<Value> Table::appendRecord(int index, const Value& value) {
    Query q(m_connection);
    const std::string v = literal(value, q);
    const bool tsql = m_connection.dialect() == Dialect::TSql;
    q.add("insert into " + m_name + " (" + column(index) + ") values (" + v + ")" +
          (tsql ? "" : ";"));
    q.add("select * from " + m_name +
          " where bh=" + (tsql ? "SCOPE_IDENTITY()" : "last_insert_rowid()"));
    q.open();
    if (q.eof())
        throw DbError("The new record cannot be read back");
    return rowOf(q);
}

void Table::deleteRecord(std::int64_t key) {
    Query q(m_connection);
    q.setText("delete from " + m_name + " where bh=" + std::to_string(key));
    q.execute();
}

} // namespace vx::data
