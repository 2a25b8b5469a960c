// The print area: the start box as start-up fills it, the range and count
// entries, the batch list, the reset, the return timer, the template choice
// and the direct-print switch; and the picture assignment of the settings
// area, which fills what the labels print.

#include "app/TForm1.h"
#include "data/RecordTable.h"
#include "print/DatabaseRecords.h"
#include "print/ErrorLog.h"
#include "print/PictureAssignment.h"
#include "print/PrintJournal.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <limits>

namespace vx::app {

// At start-up: the start box shows the number after the held last printed
// one.
void TForm1::showStartNumber(const settings::StationSettings& config) {
    const std::string& held = printState.heldLastPrinted;
    // A missing last printed number is stored as 0 but held as empty, and
    // the start box keeps its 1.
    if (held.empty()) {
        try {
            config.setLastPrinted("0");
        } catch (const std::exception& ex) {
            m_env.dialogs->message(QString::fromLocal8Bit(ex.what()));
        }
    } else if (const auto last = data::parseInteger(held); !last) {
        m_env.dialogs->message(
            QString("config.ini 中 [print] lastnum=%1 不是整数，打印开始数保持为 1。")
                .arg(fromLocal8Bit(held)));
    } else if (*last == std::numeric_limits<std::int64_t>::max()) {
        // No number follows the largest one.
        m_env.dialogs->message(
            QString("config.ini 中 [print] lastnum=%1 已是最大编号，打印开始数保持为 1。")
                .arg(fromLocal8Bit(held)));
    } else {
        Edit_willprn->setText(QString::number(*last + 1));
    }
}

void TForm1::createPrintWorker() {
    // The worker's records come through a connection of its own, opened on
    // its thread with the settings each job carries.
    m_printWorker = std::make_unique<print::PrintWorker>(
        m_env.printBackends, [] { return std::make_unique<print::DatabaseRecords>(); });
    m_printWorker->addObserver(
        std::make_shared<print::ErrorLog>(toLocal8Bit(m_env.folder + print::ErrorLog::kFileName)));
    m_printWorker->addObserver(std::make_shared<print::PrintJournal>(m_journal));
}

std::string TForm1::readLastnum() {
    return settings().lastPrinted("0");
}

void TForm1::writeLastnum(const std::string& value) {
    settings().setLastPrinted(value);
}

bool TForm1::confirmNotNext() {
    return m_env.dialogs->question("Confirm", "【开始打印数】不是下一个,确定选这个开始吗？",
                                   Dialogs::Buttons::YesNo, Dialogs::Answer::Yes,
                                   Dialogs::Icon::Question) == Dialogs::Answer::Yes;
}

void TForm1::resetBatchCounter() {
    station.counters.batch = 0;
    btn_piji->setText("0");
}

void TForm1::renderBatchList() {
    const auto& items = printState.LB_alprn;
    if (static_cast<std::size_t>(LB_alprn->count()) + 1 == items.size()) {
        LB_alprn->addItem(fromLocal8Bit(items.back()));
    } else {
        LB_alprn->clear();
        for (const std::string& i : items)
            LB_alprn->addItem(fromLocal8Bit(i));
    }
    if (LB_alprn->count() > 0)
        LB_alprn->scrollToItem(LB_alprn->item(LB_alprn->count() - 1));
}

void TForm1::renderPrint(const print::RangeOutcome& o) {
    using Message = print::RangeOutcome::Message;
    renderBatchList();
    if (o.clipboard)
        QApplication::clipboard()->setText(fromLocal8Bit(*o.clipboard));
    if (o.startBox) {
        Edit_willprn->setText(fromLocal8Bit(*o.startBox));
        if (o.focusStartBox)
            Edit_willprn->setFocus();
        Edit_willprn->setCursorPosition(Edit_willprn->text().size());
    }
    if (o.message == Message::InvalidRange)
        m_env.dialogs->message("不是有效的打印范围！");
    else if (o.message == Message::ReversedRange)
        m_env.dialogs->message("打印范围后数比前数小！");
    if (o.dispatch)
        dispatch(*o.dispatch);
}

void TForm1::dispatch(const print::JobBounds& bounds) {
    if (printState.directPrint) {
        const print::JobParams job =
            printState.job(bounds, {settings().printer(), ADO1.connectionString(),
                                    toLocal8Bit(m_env.folder), ADO1.clientCharset()});
        if (!m_printWorker->start(job)) {
            print::JobOutcome none;
            none.message = "线程创建失败";
            m_journal->append(print::PrintJournal::outcomeEvent(job, none));
            m_env.dialogs->message("线程创建失败");
        }
        return;
    }
    m_journal->append(print::PrintJournal::dispatchEvent(bounds.lower, bounds.upper,
                                                         printState.templatePath, false));
    // Manual printing: BarTender to the front, the station back later.
    if (m_barTender && m_env.windows)
        m_env.windows->bringToFront(m_barTender);
    if (!Timer_returnapp.isActive()) // running: its interval is not restarted
        Timer_returnapp.start();
}

void TForm1::Edit_willprnKeyDown(int key) {
    if (key == 112) { // F1
        openHelp();
        return;
    }
    if (key != 13)
        return;
    renderPrint(printState.Edit_willprnEnter(toLocal8Bit(Edit_willprn->text()), *this));
}

void TForm1::Edit_zhengKeyDown(int key) {
    if (key != 13)
        return;
    renderPrint(printState.Edit_zhengEnter(toLocal8Bit(Edit_willprn->text()),
                                           toLocal8Bit(Edit_zheng->text()), *this));
}

void TForm1::LB_alprnDblClick() {
    printState.LB_alprnDblClick(LB_alprn->currentRow());
    renderBatchList();
}

void TForm1::btn_reprnClick() {
    if (m_env.dialogs->question("", "确定要全部清零重打印吗？", Dialogs::Buttons::YesNo,
                                Dialogs::Answer::No,
                                Dialogs::Icon::Information) != Dialogs::Answer::Yes)
        return;
    // The screen first: a failing update below leaves it reset all the same.
    printState.reset();
    station.reset();
    Edit_willprn->setText("1");
    Edit_willprn->setFocus();
    Edit_willprn->setCursorPosition(1);
    renderBatchList();
    renderScan();

    data::unmarkAllRecords(ADOQ2);
    writeLastnum("0");
    m_stationJournal.event(journal::JournalWords::Print, journal::JournalWords::Reset, {});
    try {
        showTableInGrid("a15");
    } catch (const std::exception&) {
        // the grid keeps what it showed
    }
}

void TForm1::Timer_returnappTimer() {
    captureForeground();
    bringToFront();
    Timer_returnapp.stop();
}

void TForm1::btn_btprnClick() {
    const QString path =
        m_env.dialogs->openFile("选择文件", fromUtf8(print::templateFilter(m_env.printBackends)),
                                fromLocal8Bit(printState.templatePath));
    if (path.isEmpty())
        return;
    settings().setTemplatePath(toLocal8Bit(path));
    printState.templatePath = toLocal8Bit(path);
    m_stationJournal.settingsSaved("print", {{"btfile", &printState.templatePath}});
    if (print::directPrintAvailable(m_env.printBackends, printState.templatePath)) {
        chk_BTprn->setEnabled(true);
    } else {
        // A switch left on over a template that cannot be printed here would
        // list ranges as printed while nothing prints.
        chk_BTprn->setChecked(false);
        chk_BTprn->setEnabled(false);
        printState.directPrint = false;
    }
    m_env.dialogs->message("设置为" + path);
}

void TForm1::chk_BTprnClick() {
    if (!chk_BTprn->isChecked()) {
        printState.directPrint = false;
        return;
    }
    if (QFileInfo::exists(fromLocal8Bit(printState.templatePath)))
        printState.directPrint = true;
    else
        m_env.dialogs->message("打印模板不存在,请检查!"); // the box stays ticked
}

void TForm1::btn_picsetClick() {
    const QString file = m_env.dialogs->openFile(
        "选择文件", "图片文件 (*.png *.jpg)|*.png;*.jpg|所有文件 (*.*)|*.*", QString());
    if (file.isEmpty())
        return;
    const auto name = print::pictureNameFromPath(toLocal8Bit(file));
    if (!name) {
        m_env.dialogs->message("不是标准形式:_00001.*");
        return;
    }
    setCaptionColour(btn_picset, kGreen);
    if (!ADO1.connected())
        return;
    // A failure here (a negative digit count) reaches the general error report.
    print::padPictureNumbers(ADOQ2, name->digits);
    try {
        print::completePicturePaths(ADOQ2, *name);
        showTableInGrid(ADOTable1.tableName().empty() ? "a15" : ADOTable1.tableName());
        setCaptionColour(btn_picset, kGreen);
        m_env.dialogs->message("完成");
    } catch (const std::exception&) {
        m_env.dialogs->message("异常");
    }
}

} // namespace vx::app
