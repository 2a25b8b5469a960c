// The data area's handlers: imports and the record grid.

#include "app/TForm1.h"
#include "data/TextImport.h"
#include "scan/RecordTable.h"

#include <QApplication>
#include <QPushButton>
#include <QTableView>

namespace vx::app {
namespace {

constexpr int kGridWidths[] = {45, 140, 45, 30};

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

void TForm1::showTableInGrid(const std::string& table) {
    ADOTable1.close();
    ADOTable1.setTableName(table);
    ADOTable1.open();
    DataSource1.showTable(ADOTable1);
    for (int i = 0; i < 4 && i < DataSource1.columnCount(); ++i)
        DBGrid_a15show->setColumnWidth(i, kGridWidths[i]);
}

void TForm1::btn_txtimportClick() {
    const QString file = m_env.dialogs->openFile(
        "选择文件", "文本文件 (*.txt)|*.txt|所有文件 (*.*)|*.*", m_env.folder);
    if (file.isEmpty())
        return;
    const auto answer =
        m_env.dialogs->question("请问", "是要导入主表吗，选[否(N)]则导入附表",
                                Dialogs::Buttons::YesNoCancel, Dialogs::Answer::Yes);
    if (answer == Dialogs::Answer::Cancel)
        return;
    const std::string table = answer == Dialogs::Answer::Yes ? "a15" : "a14";
    const auto rule = data::parseImportAnswer(bytes(
        m_env.dialogs->inputBox("提示", "只有单列填写1，多列填写分隔符和所选列数如,2 ", "请填写")));
    if (!rule)
        return;

    BusyCursor busy;
    // Statements follow the database the connection reaches; open it first.
    ADO1.open();
    const data::ImportStatements statements =
        scan::RecordTable::importStatements(ADO1.dialect(), table);
    // A file that cannot be read raises before the table is touched, and
    // reaches the general error report.
    const data::ImportResult result =
        data::importTextFile(ADO1, ADOQ2, bytes(file), statements, *rule);
    busy.restore();
    if (result.outcome == data::ImportResult::Outcome::Failed) {
        m_env.dialogs->message("导入出错.");
    } else {
        m_env.dialogs->message("数据导入成功!");
        if (result.outcome == data::ImportResult::Outcome::Duplicates) {
            DataSource1.showQuery(ADOQ2);
            m_env.dialogs->message("数据有重复，见数据表格");
        }
    }
    if (result.outcome != data::ImportResult::Outcome::Duplicates)
        showTableInGrid(table);
    setCaptionColour(btn_picset, kBlack);
}

} // namespace vx::app
