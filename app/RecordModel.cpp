#include "app/RecordModel.h"

namespace vx::app {

void RecordModel::showTable(data::Table& table) {
    // Read before the reset: a table that cannot be read raises with the
    // model still whole.
    auto rows = table.fetchAfter(0, kPageRows);
    beginResetModel();
    m_table = &table;
    m_columns = table.columns();
    m_rows = std::move(rows);
    m_more = static_cast<int>(m_rows.size()) == kPageRows;
    endResetModel();
}

void RecordModel::showQuery(data::Query& query) {
    beginResetModel();
    m_table = nullptr;
    m_columns.clear();
    m_rows.clear();
    for (int i = 0; i < query.fieldCount(); ++i)
        m_columns.push_back(query.fieldName(i));
    for (; !query.eof(); query.next()) {
        std::vector<data::Value> row;
        for (int i = 0; i < query.fieldCount(); ++i)
            row.push_back(query.field(i));
        m_rows.push_back(std::move(row));
    }
    m_more = false;
    endResetModel();
}

void RecordModel::clear() {
    beginResetModel();
    m_table = nullptr;
    m_columns.clear();
    m_rows.clear();
    m_more = false;
    endResetModel();
}

int RecordModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int RecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant RecordModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const auto& row = m_rows[static_cast<std::size_t>(index.row())];
    const auto& v = row[static_cast<std::size_t>(index.column())];
    return QString::fromLocal8Bit(v.asText().c_str());
}

QVariant RecordModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (o == Qt::Horizontal && section < static_cast<int>(m_columns.size()))
        return QString::fromLocal8Bit(m_columns[static_cast<std::size_t>(section)].c_str());
    return {};
}

bool RecordModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_more;
}

void RecordModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || !m_table || !m_more || m_rows.empty())
        return;
    std::vector<std::vector<data::Value>> page;
    try {
        const std::int64_t last = m_rows.back().front().asInt();
        page = m_table->fetchAfter(last, kPageRows);
    } catch (const std::exception& e) {
        // The grid keeps what it shows and asks for no more, so the error
        // is reported once.
        m_more = false;
        if (m_report)
            m_report(e.what());
        return;
    }
    m_more = static_cast<int>(page.size()) == kPageRows;
    if (page.empty())
        return;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    for (auto& r : page)
        m_rows.push_back(std::move(r));
    endInsertRows();
}

} // namespace vx::app
