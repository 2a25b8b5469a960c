#include "data/Table.h"

namespace vx::data {

void Table::open() {
    close();
    Query q(m_connection);
    q.setText("select * from " + m_name + " where 1=0");
    q.open();
    for (int i = 0; i < q.fieldCount(); ++i)
        m_columns.push_back(q.fieldName(i));
    m_active = true;
}

void Table::close() {
    m_columns.clear();
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
    for (; !q.eof(); q.next()) {
        std::vector<Value> row;
        for (int i = 0; i < q.fieldCount(); ++i)
            row.push_back(q.field(i));
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace vx::data
