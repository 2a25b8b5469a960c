#pragma once

#include "data/Table.h"

#include <QAbstractTableModel>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vx::app {

// DataSource1: what the record grid shows. Either a table (ADOTable1), read
// a page at a time as the view scrolls and edited in place record by record,
// or the rows of a query (ADOQ2, the duplicate list), taken whole and shown
// read-only.
//
// Every change goes to the database at once, and the row is then read back:
// the grid shows what the database holds, never a value it refused.
class RecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 256;

    explicit RecordModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Where an error met while the view pages through the table or stores
    // an edit goes (the general error report, which also tells a lost
    // connection from other errors). The view calls in from Qt's own paths
    // (layout, paint, the editor's commit), where an exception must never
    // arrive and no modal box may open: the error is handed on once they
    // have returned.
    void setErrorReport(std::function<void(std::exception_ptr)> report) {
        m_report = std::move(report);
    }

    // A change the database took: a field edited, a record appended with its
    // first value, a record deleted with the values it had.
    struct Change {
        enum class Kind { Edited, Appended, Deleted };
        Kind kind = Kind::Edited;
        std::int64_t record = 0;
        std::string column;        // edited or appended; empty for a deletion
        std::string before, after; // a deletion: its values joined by '|', NULL for none
    };
    // Told of every change once the database has it (the journal keeps them).
    void setChangeListener(std::function<void(const Change&)> listener) {
        m_changed = std::move(listener);
    }

    void showTable(data::Table& table);
    void showQuery(data::Query& query);
    void clear();
    bool showsTable() const { return m_table != nullptr; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // A new, empty row at the end, stored as a record once a value is
    // entered in it; its row number. Only one is pending at a time.
    int appendPendingRow();
    bool isPending(int row) const;
    // The view left row: a pending row that is still empty goes.
    void leaveRow(int row);
    // Deletes the record shown in row (a pending row just goes). Raises
    // DbError when the database refuses; the row then stays as stored.
    void deleteRecord(int row);

private:
    std::int64_t keyOf(int row) const;
    // Shows row as the database holds it now, or drops it when it is gone.
    // False when it is gone.
    bool reread(int row);
    void dropRow(int row);
    void report(std::exception_ptr error);
    void tell(const Change& change);
    void learnTypes(const std::vector<data::Value>& row);

    data::Table* m_table = nullptr;
    std::vector<std::string> m_columns;
    std::vector<std::vector<data::Value>> m_rows;
    // Column types seen in the rows read, to read typed values (True/False).
    std::vector<data::Value::Type> m_types;
    bool m_more = false;
    // The last row read in pages, and how many rows at the end were
    // appended in the grid (the pending one included): later pages go in
    // before those, and stop before their keys.
    std::int64_t m_lastPagedKey = 0;
    int m_appended = 0;
    bool m_pending = false;
    std::function<void(std::exception_ptr)> m_report;
    std::function<void(const Change&)> m_changed;
};

} // namespace vx::app
