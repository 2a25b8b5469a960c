#include "app/RecordModel.h"

#include <QTimer>

namespace vx::app {
namespace {

QString display(const data::Value& v) {
    const std::string t = v.asText();
    return QString::fromLocal8Bit(t.data(), static_cast<int>(t.size()));
}

} // namespace

void RecordModel::showTable(data::Table& table) {
    // Read before the reset: a table that cannot be read raises with the
    // model still whole.
    auto rows = table.fetchAfter(0, kPageRows);
    beginResetModel();
    m_table = &table;
    m_columns = table.columns();
    m_rows = std::move(rows);
    m_more = static_cast<int>(m_rows.size()) == kPageRows;
    const int key = table.keyColumn();
    m_lastPagedKey =
        m_rows.empty() || key < 0 ? 0 : m_rows.back()[static_cast<std::size_t>(key)].asInt();
    m_appended = 0;
    m_pending = false;
    m_types.assign(m_columns.size(), data::Value::Type::Null);
    for (const auto& row : m_rows)
        learnTypes(row);
    endResetModel();
}

void RecordModel::learnTypes(const std::vector<data::Value>& row) {
    for (std::size_t i = 0; i < row.size() && i < m_types.size(); ++i)
        if (m_types[i] == data::Value::Type::Null && !row[i].isNull())
            m_types[i] = row[i].type;
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
    m_appended = 0;
    m_pending = false;
    endResetModel();
}

void RecordModel::clear() {
    beginResetModel();
    m_table = nullptr;
    m_columns.clear();
    m_rows.clear();
    m_more = false;
    m_appended = 0;
    m_pending = false;
    endResetModel();
}

int RecordModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int RecordModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant RecordModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !index.isValid())
        return {};
    const auto& row = m_rows[static_cast<std::size_t>(index.row())];
    return display(row[static_cast<std::size_t>(index.column())]);
}

QVariant RecordModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (o == Qt::Horizontal && section < static_cast<int>(m_columns.size()))
        return QString::fromLocal8Bit(m_columns[static_cast<std::size_t>(section)].c_str());
    return {};
}

Qt::ItemFlags RecordModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    // The key is the database's own (an identity column on SQL Server).
    if (m_table && index.isValid() && index.column() != m_table->keyColumn() &&
        m_table->keyColumn() >= 0)
        f |= Qt::ItemIsEditable;
    return f;
}

std::int64_t RecordModel::keyOf(int row) const {
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(m_table->keyColumn())]
        .asInt();
}

bool RecordModel::isPending(int row) const {
    return m_pending && row == static_cast<int>(m_rows.size()) - 1;
}

void RecordModel::report(std::exception_ptr error) {
    // After the editor has closed and the view is settled: a modal box
    // opened from inside Qt's commit would take the editor's focus and have
    // the same value committed again, and one opened from a paint would
    // paint again under it.
    if (m_report)
        QTimer::singleShot(0, this, [this, error] { m_report(error); });
}

void RecordModel::dropRow(int row) {
    const bool appended = row >= static_cast<int>(m_rows.size()) - m_appended;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    if (appended)
        --m_appended;
    endRemoveRows();
}

bool RecordModel::reread(int row) {
    auto stored = m_table->fetchRow(keyOf(row));
    if (!stored) {
        dropRow(row);
        return false;
    }
    learnTypes(*stored);
    m_rows[static_cast<std::size_t>(row)] = std::move(*stored);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    return true;
}

bool RecordModel::setData(const QModelIndex& at, const QVariant& value, int role) {
    if (role != Qt::EditRole || !at.isValid() || !(flags(at) & Qt::ItemIsEditable))
        return false;
    const int row = at.row(), column = at.column();
    const auto& current = m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    const std::string text = value.toString().toLocal8Bit().toStdString();
    // Nothing changed; an appended row left empty is no record yet.
    if (isPending(row) ? text.empty() : text == current.asText())
        return true;
    std::exception_ptr error;
    std::optional<Change> changed; // the database took the new value
    try {
        const data::Value v = data::valueFromText(m_types[static_cast<std::size_t>(column)], text);
        if (isPending(row)) {
            auto stored = m_table->appendRecord(column, v);
            learnTypes(stored);
            m_rows[static_cast<std::size_t>(row)] = std::move(stored);
            m_pending = false;
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
            tell(
                {Change::Kind::Appended,
                 keyOf(row),
                 m_columns[static_cast<std::size_t>(column)],
                 {},
                 m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)].asText()});
            return true;
        }
        const std::string before = current.asText();
        m_table->setField(keyOf(row), column, v);
        changed = Change{Change::Kind::Edited, keyOf(row),
                         m_columns[static_cast<std::size_t>(column)], before, v.asText()};
    } catch (const std::exception&) {
        error = std::current_exception();
    }
    if (isPending(row)) { // nothing was stored
        report(error);
        return false;
    }
    bool gone = false, readBack = false;
    try {
        gone = !reread(row);
        readBack = !gone;
        if (gone && !error)
            error = std::make_exception_ptr(
                data::DbError("The record no longer exists: it was deleted after it was shown."));
    } catch (const std::exception&) {
        if (!error)
            error = std::current_exception();
    }
    // The database took the value: the change, with the value it holds now.
    if (changed && !gone) {
        if (readBack)
            changed->after =
                m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)].asText();
        tell(*changed);
    }
    if (error)
        report(error);
    return !error;
}

int RecordModel::appendPendingRow() {
    if (m_pending)
        return static_cast<int>(m_rows.size()) - 1;
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.emplace_back(m_columns.size(), data::Value::null());
    m_pending = true;
    ++m_appended;
    endInsertRows();
    return row;
}

void RecordModel::leaveRow(int row) {
    if (!isPending(row))
        return;
    beginRemoveRows({}, row, row);
    m_rows.pop_back();
    m_pending = false;
    --m_appended;
    endRemoveRows();
}

void RecordModel::deleteRecord(int row) {
    if (!m_table || row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    if (isPending(row)) {
        leaveRow(row);
        return;
    }
    const std::int64_t key = keyOf(row);
    std::string values;
    for (const data::Value& v : m_rows[static_cast<std::size_t>(row)])
        values += (values.empty() ? "" : "|") + (v.isNull() ? std::string("NULL") : v.asText());
    m_table->deleteRecord(key);
    dropRow(row);
    tell({Change::Kind::Deleted, key, {}, values, {}});
}

void RecordModel::tell(const Change& change) {
    if (m_changed)
        m_changed(change);
}

bool RecordModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && m_more;
}

void RecordModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || !m_table || !m_more)
        return;
    std::vector<std::vector<data::Value>> page;
    try {
        page = m_table->fetchAfter(m_lastPagedKey, kPageRows);
    } catch (const std::exception&) {
        // The grid keeps what it shows and asks for no more, so the error
        // is reported once.
        m_more = false;
        report(std::current_exception());
        return;
    }
    m_more = static_cast<int>(page.size()) == kPageRows;
    // Rows appended in the grid come after every paged one (keys grow);
    // paging stops where it reaches them.
    const auto key = static_cast<std::size_t>(m_table->keyColumn());
    const int first = static_cast<int>(m_rows.size()) - m_appended;
    if (m_appended - (m_pending ? 1 : 0) > 0) { // the pending row is always the last
        const std::int64_t stop = m_rows[static_cast<std::size_t>(first)][key].asInt();
        auto cut = std::find_if(page.begin(), page.end(),
                                [&](const auto& r) { return r[key].asInt() >= stop; });
        if (cut != page.end()) {
            page.erase(cut, page.end());
            m_more = false;
        }
    }
    if (page.empty())
        return;
    m_lastPagedKey = page.back()[key].asInt();
    for (const auto& row : page)
        learnTypes(row);
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    m_rows.insert(m_rows.begin() + first, std::make_move_iterator(page.begin()),
                  std::make_move_iterator(page.end()));
    endInsertRows();
}

} // namespace vx::app
