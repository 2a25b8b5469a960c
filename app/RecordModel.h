#pragma once

#include "data/Table.h"

#include <QAbstractTableModel>
#include <functional>
#include <string>
#include <vector>

namespace vx::app {

// DataSource1: what the record grid shows. Either a table (ADOTable1), read
// a page at a time as the view scrolls, or the rows of a query (ADOQ2, the
// duplicate list), taken whole.
class RecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 256;

    explicit RecordModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Where an error met while the view pages through the table goes (the
    // general error report). The view calls in from Qt's own paths, where
    // an exception must never arrive.
    void setErrorReport(std::function<void(const std::string&)> report) {
        m_report = std::move(report);
    }

    void showTable(data::Table& table);
    void showQuery(data::Query& query);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    data::Table* m_table = nullptr;
    std::vector<std::string> m_columns;
    std::vector<std::vector<data::Value>> m_rows;
    bool m_more = false;
    std::function<void(const std::string&)> m_report;
};

} // namespace vx::app
