// The print area: the start box as start-up fills it, the range and count
// entries, the batch list, the reset, the return timer, the template choice
// and the direct-print switch; and the picture assignment of the settings
// area, which fills what the labels print.

#include "app/TForm1.h"
#include "app/UiProbe.h"
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
#include <chrono>
#include <limits>
#include <mutex>

namespace vx::app {

// The worker's news of each job, handed to the window as it comes. Progress
// is passed on at most every 100 ms: the window shows a count, not every
// label. The window switches it off as it closes, since a job still running
// then may end after it.
class PrintJobNewsSink : public print::JobObserver {
public:
    using Sink = std::function<void(const PrintJobNews&)>;
    void setSink(Sink sink) {
        std::lock_guard lock(m_mutex);
        m_sink = std::move(sink);
    }
    void started(const print::JobParams& job, int total) override {
        tell(job, print::JobState::Printing, 0, total, {});
    }
    void progress(const print::JobParams& job, int sent, int total) override {
        const auto now = std::chrono::steady_clock::now();
        if (sent != total && now - m_lastProgress < std::chrono::milliseconds(100))
            return;
        m_lastProgress = now;
        tell(job, print::JobState::Printing, sent, total, {});
    }
    void finished(const print::JobParams& job, const print::JobOutcome& o) override {
        using S = print::JobState;
        tell(job,
             o.cancelled      ? S::Cancelled
             : !o.ok          ? S::Failed
             : o.held.empty() ? S::Printed
                              : S::Held,
             o.sent, -1, o.ok ? o.held : o.message);
    }

private:
    void tell(const print::JobParams& job, print::JobState state, std::optional<int> sent,
              int total, const std::string& reason) {
        std::lock_guard lock(m_mutex);
        if (m_sink)
            m_sink({job.serial, job.rangeText(), state, sent, total, reason});
    }
    std::mutex m_mutex;
    Sink m_sink;
    // Only the worker's thread reports progress.
    std::chrono::steady_clock::time_point m_lastProgress{};
};

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
    m_jobNews = std::make_shared<PrintJobNewsSink>();
    m_jobNews->setSink([this](const PrintJobNews& news) {
        QMetaObject::invokeMethod(
            this, [this, news] { guard([&] { printJobNews(news); }); }, Qt::QueuedConnection);
    });
    m_printWorker->addObserver(m_jobNews);
}

void TForm1::stopPrintJobNews() {
    if (m_jobNews)
        m_jobNews->setSink({});
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
    const auto& ranges = printState.LB_alprn;
    const int n = static_cast<int>(ranges.size());
    // A job's news changes texts only; an entry added or removed scrolls
    // the list to its last entry, as it always did.
    const bool sameEntries = LB_alprn->count() == n;
    if (LB_alprn->count() + 1 != n && !sameEntries)
        LB_alprn->clear();
    while (LB_alprn->count() < n)
        LB_alprn->addItem(QString());
    for (int i = 0; i < n; ++i) {
        QListWidgetItem* item = LB_alprn->item(i);
        const auto entry = static_cast<std::size_t>(i);
        const QString shown = fromUtf8(printState.entryText(entry));
        if (item->text() != shown)
            item->setText(shown);
        item->setData(Qt::UserRole, fromLocal8Bit(ranges[entry])); // the range alone
        const print::EntryJob& job = printState.LB_alprnJobs[entry];
        const bool failed = job.serial != 0 && (job.state == print::JobState::Failed ||
                                                job.state == print::JobState::Held);
        item->setToolTip(job.reason.empty() ? QString() : fromLocal8Bit(job.reason));
        item->setForeground(failed ? QBrush(Qt::red) : QBrush());
    }
    if (!sameEntries && n > 0)
        LB_alprn->scrollToItem(LB_alprn->item(n - 1));
}

void TForm1::printJobNews(const PrintJobNews& news) {
    using S = print::JobState;
    printState.jobChanged(news.serial, news.state, news.sent, news.total, news.reason);
    renderBatchList();
    if (news.state == S::Printing)
        m_printing = news;
    else if (news.serial == m_printing.serial)
        m_printing = {};
    renderPrintProgress();
    if (news.state != S::Failed && news.state != S::Held)
        return;
    // Until the operator acknowledges it: which job, how far it got, why. A
    // printer that dropped the connection took an unknown part: no number.
    // A job a queue holds printed nothing, though nothing failed.
    const QString count = news.sent ? QString::number(*news.sent) + " 张" : QString();
    const QString what = news.state == S::Held ? "未打印，" + count + "停在打印队列中"
                         : news.sent           ? "失败，已发送 " + count
                                               : QString("失败，已发送的张数未知");
    lbl_prnfail->setText("打印任务 " + fromLocal8Bit(news.range) + " " + what + "：" +
                         fromLocal8Bit(news.reason));
    lbl_prnfail->setToolTip(lbl_prnfail->text());
    lbl_prnfail->show();
    btn_prnack->show();
    station.alarm.start();
    if (!play_timer.isActive())
        play_timer.start();
    bringToFront();
    if (m_probe)
        m_probe->update();
}

void TForm1::renderPrintProgress() {
    const bool printing = m_printing.serial != 0;
    if (printing)
        lbl_progress->setText(
            "打印 " + fromLocal8Bit(m_printing.range) + "：已发送 " +
            QString::number(m_printing.sent.value_or(0)) +
            (m_printing.total >= 0 ? "/" + QString::number(m_printing.total) : QString()) + " 张");
    lbl_progress->setVisible(printing);
    btn_prncancel->setVisible(printing);
}

void TForm1::btn_prncancelClick() {
    const PrintJobNews job = m_printing;
    if (job.serial == 0)
        return;
    if (m_env.dialogs->question("",
                                "确定取消打印任务 " + fromLocal8Bit(job.range) +
                                    " 吗？已送到打印机的标签照常打印。",
                                Dialogs::Buttons::YesNo, Dialogs::Answer::No,
                                Dialogs::Icon::Question) != Dialogs::Answer::Yes)
        return;
    // The job says when it has stopped, through its news.
    m_printWorker->cancel(job.serial);
}

void TForm1::btn_prnackClick() {
    lbl_prnfail->clear();
    lbl_prnfail->hide();
    btn_prnack->hide();
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
    else if (o.message == Message::NotPrinted)
        m_env.dialogs->message("只能补打已经打印过的标签：上次打印到 " +
                               fromLocal8Bit(printState.heldLastPrinted.empty()
                                                 ? std::string("0")
                                                 : printState.heldLastPrinted) +
                               "。");
    if (o.dispatch)
        dispatch(*o.dispatch, o.entry);
}

void TForm1::dispatch(const print::JobBounds& bounds, std::optional<std::size_t> entry) {
    if (printState.directPrint) {
        const print::JobParams job =
            printState.job(bounds,
                           {settings().printer(), ADO1.connectionString(),
                            toLocal8Bit(m_env.folder), ADO1.clientCharset()},
                           entry);
        const std::uint64_t serial = m_printWorker->start(job);
        if (serial == 0) {
            print::JobOutcome none;
            none.message = "线程创建失败";
            m_journal->append(print::PrintJournal::outcomeEvent(job, none));
            m_env.dialogs->message("线程创建失败");
        } else if (entry) {
            printState.jobQueued(*entry, serial);
            renderBatchList();
        }
        return;
    }
    const bool reprint = entry && !printState.LB_alprnJobs[*entry].reprint.empty();
    m_journal->append(print::PrintJournal::dispatchEvent(
        bounds.lower, bounds.upper, printState.templatePath, false,
        reprint ? printState.LB_alprnJobs[*entry].reprint : std::string()));
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

void TForm1::reprintKey(QListWidget* list) {
    // The selected entry proposes what to reprint: a batch list entry its
    // range, a missing-range entry the numbers it names.
    const QListWidgetItem* item = list->currentItem();
    const QString proposed = !item              ? QString()
                             : list == LB_alprn ? item->data(Qt::UserRole).toString()
                                                : item->text();
    const QString typed =
        m_env.dialogs
            ->inputBox(
                "补打",
                "补打哪些标签（一个编号如 5，或范围如 3-7）？补打不改变打印开始数和 lastnum。",
                proposed)
            .trimmed();
    if (typed.isEmpty())
        return;
    QStringList reasons;
    for (const print::ReprintReason& r : print::kReprintReasons)
        reasons << fromUtf8(r.shown);
    const int reason = m_env.dialogs->choose("补打", "补打 " + typed + " 的原因：", reasons);
    if (reason < 0 || reason >= reasons.size())
        return;
    renderPrint(printState.reprint(toLocal8Bit(typed),
                                   print::kReprintReasons[static_cast<std::size_t>(reason)].word));
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
    } catch (const std::exception& ex) {
        m_stationJournal.pictures(toLocal8Bit(file), name->digits, ex.what());
        m_env.dialogs->message("异常");
        return;
    }
    m_stationJournal.pictures(toLocal8Bit(file), name->digits);
    try {
        showTableInGrid(ADOTable1.tableName().empty() ? "a15" : ADOTable1.tableName());
        setCaptionColour(btn_picset, kGreen);
        m_env.dialogs->message("完成");
    } catch (const std::exception&) {
        m_env.dialogs->message("异常");
    }
}

} // namespace vx::app
