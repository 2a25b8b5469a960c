// The data area's handlers: the imports, SQL scripts, the export and the
// record grid.

#include "app/TForm1.h"
#include "data/NewFile.h"
#include "data/RecordExport.h"
#include "data/RecordTable.h"
#include "data/ScriptRun.h"
#include "data/Sha256.h"
#include "data/SqlScript.h"
#include "data/StagingImport.h"
#include "data/TextImport.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <chrono>

namespace vx::app {
namespace {

constexpr int kGridWidths[] = {45, 140, 45, 30};
constexpr const char* kTextFilter = "文本文件 (*.txt)|*.txt|所有文件 (*.*)|*.*";

// The busy cursor over the window for as long as a long action runs.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { restore(); }
    void restore() {
        if (active)
            QApplication::restoreOverrideCursor();
        active = false;
    }
    bool active = true;
};

} // namespace

void TForm1::setDataButtonsEnabled(bool on) {
    for (QPushButton* b :
         {btn_txtimport, btn_localdata, Btn_sqlexec, btn_picset, btn_datato, btn_reprn})
        b->setEnabled(on);
}

bool TForm1::keptOpenBySqlite(const QString& path) const {
    const QString chosen = QFileInfo(path).canonicalFilePath();
    if (chosen.isEmpty())
        return false;
    for (const std::string& file : {ADO1.sqliteFile(), m_journal->path()})
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            if (!file.empty() &&
                QFileInfo(fromLocal8Bit(file + suffix)).canonicalFilePath() == chosen)
                return true;
    return false;
}

void TForm1::showTableInGrid(const std::string& table) {
    ADOTable1.close();
    ADOTable1.setTableName(table);
    ADOTable1.open();
    DataSource1.showTable(ADOTable1);
    for (int i = 0; i < 4 && i < DataSource1.columnCount(); ++i)
        DBGrid_a15show->setColumnWidth(i, kGridWidths[i]);
}

void TForm1::connectGrid() {
    DBGrid_a15show->installEventFilter(this);
    // A row appended in the grid and left without a value is not a record.
    connect(DBGrid_a15show->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& now, const QModelIndex& before) {
                if (before.isValid() && now.row() != before.row())
                    DataSource1.leaveRow(before.row());
            });
}

bool TForm1::DBGrid_a15showKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (!DataSource1.showsTable())
        return false;
    const QModelIndex current = DBGrid_a15show->currentIndex();
    if (key == Qt::Key_Delete && (modifiers & Qt::ControlModifier)) {
        if (!current.isValid())
            return true;
        if (!DataSource1.isPending(current.row()) &&
            m_env.dialogs->question(windowTitle(), "Delete record?", Dialogs::Buttons::YesNo,
                                    Dialogs::Answer::No,
                                    Dialogs::Icon::Question) != Dialogs::Answer::Yes)
            return true;
        // A refusal reaches the general error report with the row still shown.
        DataSource1.deleteRecord(current.row());
        return true;
    }
    const bool lastRow = !current.isValid() || current.row() == DataSource1.rowCount() - 1;
    const bool down = key == Qt::Key_Down && modifiers == Qt::NoModifier && lastRow;
    if (key != Qt::Key_Insert && !down)
        return false;
    if (down && DataSource1.canFetchMore({})) {
        DataSource1.fetchMore({}); // the view then moves down as usual
        return false;
    }
    const int row = DataSource1.appendPendingRow();
    DBGrid_a15show->setCurrentIndex(
        DataSource1.index(row, current.isValid() ? current.column() : 1));
    return true;
}

void TForm1::btn_txtimportClick() {
    const QString file = m_env.dialogs->openFile("选择文件", kTextFilter, m_env.folder);
    if (file.isEmpty())
        return;
    if (keptOpenBySqlite(file)) {
        m_env.dialogs->message(QString::fromUtf8(kFileInUseText));
        return;
    }
    const auto answer = m_env.dialogs->question("请问", "是要导入主表吗，选[否(N)]则导入附表",
                                                Dialogs::Buttons::YesNoCancel, Dialogs::Answer::Yes,
                                                Dialogs::Icon::Question);
    if (answer == Dialogs::Answer::Cancel)
        return;
    const std::string table = answer == Dialogs::Answer::Yes ? "a15" : "a14";
    const QString preset = fromUtf8(data::kImportAnswerPreset);
    const QString typed =
        m_env.dialogs->inputBox("提示", "只有单列填写1，多列填写分隔符和所选列数如,2 ", preset);
    const auto rule = typed == preset ? std::nullopt : data::parseImportAnswer(toLocal8Bit(typed));
    if (!rule)
        return;

    BusyCursor busy;
    // Statements follow the database the connection reaches; open it first.
    ADO1.open();
    const data::ImportStatements statements =
        data::RecordTable::importStatements(ADO1.dialect(), table);
    // A file that cannot be read raises before the table is touched, and
    // reaches the general error report.
    m_importShown = {};
    data::ImportResult result;
    try {
        result =
            data::importTextFile(ADO1, ADOQ2, toLocal8Bit(file), statements, *rule, std::nullopt,
                                 [this](long long lines) { showImportProgress(lines); });
    } catch (const std::exception& ex) {
        m_stationJournal.imported(table, toLocal8Bit(file), 0, 0, ex.what());
        throw;
    }
    lbl_progress->hide();
    renderPrintProgress(); // a job's progress, if one prints, in its place again
    busy.restore();
    const bool duplicates = result.outcome == data::ImportResult::Outcome::Duplicates;
    if (duplicates)
        DataSource1.showQuery(ADOQ2); // a row per text found more than once
    const std::string why = result.error.empty() ? std::string("failed") : result.error;
    if (result.outcome != data::ImportResult::Outcome::Failed)
        m_stationJournal.imported(table, toLocal8Bit(file), result.lines,
                                  duplicates ? DataSource1.rowCount() : 0);
    else if (result.replaced) // the table holds the lines before the failed one
        m_stationJournal.importCutShort(table, toLocal8Bit(file), result.lines, why);
    else
        m_stationJournal.imported(table, toLocal8Bit(file), 0, 0, why);
    if (result.outcome == data::ImportResult::Outcome::Failed) {
        m_env.dialogs->message("导入出错.");
    } else {
        m_env.dialogs->message("数据导入成功!");
        if (duplicates)
            m_env.dialogs->message("数据有重复，见数据表格");
    }
    if (result.outcome != data::ImportResult::Outcome::Duplicates)
        showTableInGrid(table);
    setCaptionColour(btn_picset, kBlack);
}

void TForm1::showImportProgress(long long lines) {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_importShown < std::chrono::milliseconds(100))
        return;
    m_importShown = now;
    lbl_progress->setText("导入：已读 " + QLocale(QLocale::English).toString(lines) + " 行");
    lbl_progress->show();
    lbl_progress->repaint();
}

void TForm1::btn_localdataClick() {
    if (m_env.dialogs->question("", "本地数据库表a14准备好了吗？", Dialogs::Buttons::YesNo,
                                Dialogs::Answer::No,
                                Dialogs::Icon::Information) != Dialogs::Answer::Yes)
        return;
    ADO1.open();
    const data::Dialect d = ADO1.dialect();
    // One transaction: a14 missing or unreadable leaves a15 as it was, and
    // the error reaches the general error report.
    try {
        data::rebuildTable(ADO1, ADOQ2, ADOCommand1,
                           data::RecordTable::createBatch(d, "a15", false),
                           data::RecordTable::copyStagingToMain(d));
    } catch (const std::exception& ex) {
        m_stationJournal.imported("a15", "a14", 0, 0, ex.what());
        throw;
    }
    setCaptionColour(btn_picset, kBlack);
    // The records made and the texts found more than once, on the journal
    // whatever happens next, and before the message box lets the next scans
    // in: a15 has been replaced, and they are of the new batch.
    std::int64_t rows = -1, repeated = -1;
    bool duplicates = false;
    try {
        ADOQ2.close();
        ADOQ2.setText(data::RecordTable::recordCountQuery(d));
        ADOQ2.open();
        rows = ADOQ2.field(0).asInt();
        ADOQ2.close();
        duplicates = data::findDuplicates(ADOQ2, data::RecordTable::duplicateCheck(d, "a15"),
                                          data::RecordTable::duplicateSelect(d));
        if (duplicates)
            DataSource1.showQuery(ADOQ2);
        repeated = duplicates ? DataSource1.rowCount() : 0;
    } catch (const std::exception&) {
        m_stationJournal.imported("a15", "a14", rows, repeated);
        throw;
    }
    m_stationJournal.imported("a15", "a14", rows, repeated);
    m_env.dialogs->message("生成成功!");
    if (duplicates)
        m_env.dialogs->message("数据有重复，见数据表格");
    else
        showTableInGrid("a15");
}

void TForm1::Btn_sqlexecClick() {
    const QString file = m_env.dialogs->openFile(
        "选择文件", "sql文件 (*.sql)|*.sql|所有文件 (*.*)|*.*", m_env.folder);
    if (file.isEmpty())
        return;
    if (keptOpenBySqlite(file)) {
        m_env.dialogs->message(QString::fromUtf8(kFileInUseText));
        return;
    }
    const std::string text = data::readSqlScript(toLocal8Bit(file));
    data::ScriptRun run;
    try {
        run = data::runScript(ADOCommand1, text);
    } catch (const std::exception& ex) {
        m_stationJournal.script(toLocal8Bit(file), QFileInfo(file).size(), data::sha256Hex(text),
                                journal::JournalWords::Failed, ex.what());
        throw;
    }
    m_stationJournal.script(toLocal8Bit(file), QFileInfo(file).size(), data::sha256Hex(text),
                            run.failure      ? journal::JournalWords::Failed
                            : run.rolledBack ? "rolled-back"
                                             : "executed",
                            run.failure.value_or(std::string()));
    const QString rolledBack =
        run.rolledBack ? QString::fromUtf8(kScriptTransactionRolledBack) : "";
    if (run.failure) {
        // One report: what the database said, then what became of the
        // script's transaction.
        m_env.dialogs->error(fromLocal8Bit(*run.failure) +
                             (run.rolledBack ? "\n" + rolledBack : ""));
        return;
    }
    try {
        showTableInGrid("a15");
    } catch (const std::exception&) {
        // The script may have dropped or broken a15; the grid stays empty.
        DataSource1.clear();
    }
    // Its changes inside the transaction are gone: not "executed" as written.
    if (run.rolledBack)
        m_env.dialogs->error(rolledBack);
    else
        m_env.dialogs->message("已执行！");
}

void TForm1::btn_datatoClick() {
    const QString file = m_env.dialogs->saveFile("选择文件", kTextFilter, ".txt", m_env.folder);
    if (file.isEmpty())
        return;
    const std::string path = toLocal8Bit(file);
    if (data::pathExists(path)) {
        m_env.dialogs->message("文件已经存在，请更改一个新名");
        return;
    }
    if (!ADO1.connected())
        return;
    data::RecordTable::ExportFilter filter = data::RecordTable::ExportFilter::All;
    if (rg1Items->checkedId() == 0)
        filter = data::RecordTable::ExportFilter::Unscanned;
    else if (rg1Items->checkedId() == 1)
        filter = data::RecordTable::ExportFilter::Scanned;
    ADOQ2.close();
    ADOQ2.clear();
    // The rows are read as they are written, never held all at once.
    data::RecordExport records(ADO1, data::RecordTable::exportQuery(ADO1.dialect(), filter));
    if (records.empty()) {
        m_env.dialogs->message("没有找到记录");
        return;
    }
    BusyCursor busy;
    records.writeTo(path);
    busy.restore();
    m_env.dialogs->message("已导出");
}

} // namespace vx::app
