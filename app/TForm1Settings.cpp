// Start-up and the settings area: config.ini read into memory and the boxes,
// the scanner port, the database connection, and the actions that change
// them while the station runs.

#include "app/TForm1.h"
#include "data/RecordTable.h"
#include "serial/PortRefusal.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vx::app {
namespace {

constexpr const char* kBarTenderTitle = "BarTender Enterprise Automation";
constexpr const char* kDbOpenError = "打开数据库时发生错误: ";

QString notAnInteger(const QString& text) {
    return QString("'%1' is not a valid integer value").arg(text);
}

// A whole number in the 32-bit range, as the settings boxes must hold.
std::optional<std::int32_t> toInt32(const std::string& s) {
    auto v = data::parseInteger(s);
    if (!v || *v < INT32_MIN || *v > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(*v);
}

// After the port's own message, for a port the system refused to this user
// (on Linux: not in the device's group, dialout): what to do about it.
QString refusalAdvice(const std::exception& failure, const std::string& port) {
    const auto* e = dynamic_cast<const serial::EComPort*>(&failure);
    if (!e || e->MessageCode != serial::ComError::OpenFailed)
        return {};
    const auto r = serial::diagnosePortRefusal(port, e->SystemErrorCode);
    if (!r)
        return {};
    const QString user = QString::fromLocal8Bit(r->user.c_str()),
                  group = QString::fromLocal8Bit(r->group.c_str()),
                  device = QString::fromLocal8Bit(r->device.c_str());
    if (r->groupMayOpen && r->memberOnRecord && !r->memberNow)
        return QString(
                   "\n\n用户 %1 已加入 %2 组，重新登录后才生效：请注销并重新登录（或重启电脑）。")
            .arg(user, group);
    if (r->groupMayOpen && !r->memberOnRecord)
        return QString("\n\n用户 %1 不在 %2 组，没有权限打开 %3。\n"
                       "请把用户加入该组，然后注销并重新登录：\n"
                       "sudo usermod -aG %2 %1")
            .arg(user, group, device);
    return QString("\n\n用户 %1 没有权限打开 %2，请联系管理员开放该设备的读写权限。")
        .arg(user, device);
}

} // namespace

void TForm1::FindSimilarWindow(const std::string& title) {
    m_barTender = 0;
    if (m_env.windows)
        m_barTender = m_env.windows->findTitleContaining(title);
}

void TForm1::FormShow() {
    // Flags and counters start from zero in the station; the verdict is blue.
    printState.heldLastPrinted = "0";
    station.engine.lastScanned = "0";
    QPalette p = Label14->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label14->setPalette(p);
    FindSimilarWindow(kBarTenderTitle);
    chk_start->setEnabled(false);

    const settings::StationSettings config = settings();
    const data::DbSettings db = loadSettings(config);
    if (!m_portName.empty())
        openScannerPort(config);
    if (!db.server.empty())
        openDatabase();
    // The start box is first in the tab order: typing starts there.
    Edit_willprn->setFocus();
}

data::DbSettings TForm1::loadSettings(const settings::StationSettings& config) {
    const data::DbSettings db = config.database();
    printState.heldLastPrinted = config.lastPrinted();
    station.engine.strstart = config.codeFieldStart();
    station.engine.strnum = config.codeFieldLength();
    printState.templatePath = config.templatePath();
    const std::string lienum = config.columnCount();
    if (auto columns = toInt32(lienum)) {
        station.engine.columnCount = *columns;
    } else {
        station.engine.columnCount = 1;
        m_env.dialogs->message(QString("config.ini 中 [print] lienum=%1 不是整数，列数按 1 处理。")
                                   .arg(fromLocal8Bit(lienum)));
    }
    ed_prnlie->setText(QString::number(station.engine.columnCount));

    // The same rule as the template choice: a template no back end here
    // prints, or BarTender's without its automation server, would list
    // ranges as printed while nothing prints.
    if (print::directPrintAvailable(m_env.printBackends, printState.templatePath))
        chk_BTprn->setEnabled(true);
    ed_strstart->setText(fromLocal8Bit(station.engine.strstart));
    ed_strnum->setText(fromLocal8Bit(station.engine.strnum));
    Edit_servername->setText(fromLocal8Bit(db.server));
    Edit_dataname->setText(fromLocal8Bit(db.database));
    Edit_id->setText(fromLocal8Bit(db.user));
    Edit_mm->setText(fromLocal8Bit(db.password));
    ADO1.setConnectionString(data::buildConnectionString(db));
    ADO1.setClientCharset(config.charset());
    setDataButtonsEnabled(false);

    m_portName = config.portName();
    if (m_portName.empty())
        m_env.dialogs->message("请先进行com口设置");

    showStartNumber(config);
    return db;
}

void TForm1::configureScannerPort() {
    com31.setPort(m_portName);
    com31.setBaudRate(serial::br9600);
    com31.setDataBits(serial::dbEight);
    com31.setStopBits(serial::sbOneStopBit);
    com31.Parity().setBits(serial::prNone);
}

void TForm1::openScannerPort(const settings::StationSettings& config) {
    try {
        configureScannerPort();
        com31.OpenPort();
        if (com31.Connected()) {
            setCaptionColour(btn_comset, kGreen);
            journalPort(journal::JournalWords::Opened);
        }
    } catch (const std::exception& ex) {
        try {
            com31.ClosePort();
        } catch (const std::exception&) {
        }
        journalPort(journal::JournalWords::Failed, ex.what());
        m_env.dialogs->message(QString::fromLocal8Bit(ex.what()) + refusalAdvice(ex, m_portName));
    }
    Edit_comnum->setText(fromLocal8Bit(config.portName()));
}

void TForm1::openDatabase() {
    bool hasRecords = false;
    try {
        ADO1.open();
        if (!ADO1.connected())
            return;
        journalDatabase(journal::JournalWords::Opened);
        setCaptionColour(btn_databaseset, kGreen);
        setDataButtonsEnabled(true);
        if (com31.Connected())
            chk_start->setEnabled(true);
        hasRecords = data::checkRecordTable(ADOQ2) == data::TableState::HasRecords;
    } catch (const data::TableCheckError&) {
        m_env.dialogs->message("表a15异常");
        return;
    } catch (const std::exception& ex) {
        journalDatabase(journal::JournalWords::Failed, ex.what());
        m_env.dialogs->message(kDbOpenError + QString::fromLocal8Bit(ex.what()));
        ADO1.close();
        showWhatIsOpen();
        return;
    }
    // The connection is good by now: a grid that cannot show a15 is the
    // table's fault, and the connection stays open.
    if (hasRecords) {
        try {
            showTableInGrid("a15");
        } catch (const std::exception&) {
            DataSource1.clear();
            m_env.dialogs->message("表a15异常");
        }
    }
}

void TForm1::showWhatIsOpen() {
    const bool port = com31.Connected();
    const bool database = ADO1.connected();
    if (!port && isGreen(btn_comset))
        setCaptionColour(btn_comset, kBlack);
    if (!database && isGreen(btn_databaseset))
        setCaptionColour(btn_databaseset, kBlack);
    if (!database)
        setDataButtonsEnabled(false);
    if (!port || !database)
        chk_start->setEnabled(false);
}

void TForm1::onDeviceLost() {
    journalPort(journal::JournalWords::Lost);
    setCaptionColour(btn_comset, kBlack);
    chk_start->setEnabled(false);
}

void TForm1::btn_comsetClick() {
    m_portName = serial::portNameFromOperator(toLocal8Bit(Edit_comnum->text()));
    const settings::StationSettings config = settings();
    bool stored = false;
    try {
        chk_start->setEnabled(false);
        if (com31.Connected())
            com31.ClosePort();
        configureScannerPort();
        config.setPortName(m_portName);
        stored = true;
        m_stationJournal.settingsSaved("com", {{"num", &m_portName}});
        com31.OpenPort();
        if (com31.Connected()) {
            journalPort(journal::JournalWords::Opened);
            setCaptionColour(btn_comset, kGreen);
            if (isGreen(btn_databaseset))
                chk_start->setEnabled(true);
            m_env.dialogs->message("com口可用！");
        }
    } catch (const std::exception& failure) {
        journalPort(journal::JournalWords::Failed, failure.what());
        // The name is stored even when the port fails, so that the next
        // start-up tries it again. When config.ini cannot be written either,
        // the operator is told after the port's own message.
        QString notStored;
        try {
            config.setPortName(m_portName);
            if (!stored)
                m_stationJournal.settingsSaved("com", {{"num", &m_portName}});
        } catch (const std::exception& ex) {
            notStored = QString::fromLocal8Bit(ex.what());
        }
        setCaptionColour(btn_comset, kBlack);
        chk_start->setEnabled(false);
        m_env.dialogs->message("条码枪没插或者" + fromLocal8Bit(m_portName) + "设置错误！" +
                               refusalAdvice(failure, m_portName));
        if (!notStored.isEmpty())
            m_env.dialogs->error(notStored);
    }
}

void TForm1::btn_selNClick() {
    settings().setCodeField(toLocal8Bit(ed_strstart->text()), toLocal8Bit(ed_strnum->text()));
    station.engine.strstart = toLocal8Bit(ed_strstart->text());
    station.engine.strnum = toLocal8Bit(ed_strnum->text());
    m_stationJournal.settingsSaved(
        "STR", {{"strstart", &station.engine.strstart}, {"strnum", &station.engine.strnum}});
    m_env.dialogs->message("已保存");
}

void TForm1::edit_recClick() {
    if (!edit_rec->hasSelectedText())
        return;
    // Positions count bytes of the scan, as the engine cuts bytes.
    const QString all = edit_rec->text();
    const int start = edit_rec->selectionStart();
    const QString selected = edit_rec->selectedText();
    ed_strstart->setText(QString::number(all.left(start).toLocal8Bit().size() + 1));
    ed_strnum->setText(QString::number(selected.toLocal8Bit().size()));
    edit_recstr->setText(selected);
}

void TForm1::ed_prnlieKeyDown(int key) {
    if (key != 13)
        return;
    const std::string typed = toLocal8Bit(ed_prnlie->text());
    const auto columns = toInt32(typed);
    if (!columns) {
        m_env.dialogs->error(notAnInteger(ed_prnlie->text()));
        return;
    }
    station.engine.columnCount = *columns;
    settings().setColumnCount(typed);
    m_stationJournal.settingsSaved("print", {{"lienum", &typed}});
    m_env.dialogs->message("已保存");
}

void TForm1::btn_databasesetClick() {
    ADO1.close();
    const data::DbSettings s{toLocal8Bit(Edit_servername->text()),
                             toLocal8Bit(Edit_dataname->text()), toLocal8Bit(Edit_id->text()),
                             toLocal8Bit(Edit_mm->text())};
    const settings::StationSettings config = settings();
    config.setDatabase(s);
    m_stationJournal.settingsSaved("Database", {{"servername", &s.server},
                                                {"dataname", &s.database},
                                                {"username", &s.user},
                                                {"mm", nullptr}});
    ADO1.setConnectionString(data::buildConnectionString(s));
    ADO1.setClientCharset(config.charset());
    try {
        ADO1.open();
        if (!ADO1.connected())
            throw data::DbError("not connected");
        if (isGreen(btn_comset))
            chk_start->setEnabled(true);
        setDataButtonsEnabled(true);
        try {
            showTableInGrid("a15");
        } catch (const std::exception&) {
            DataSource1.clear(); // no a15 yet: the grid stays empty
        }
        setCaptionColour(btn_databaseset, kGreen);
        journalDatabase(journal::JournalWords::Opened);
        m_env.dialogs->message("数据库连接成功！");
    } catch (const std::exception& ex) {
        journalDatabase(journal::JournalWords::Failed, ex.what());
        setDataButtonsEnabled(false);
        ADO1.close();
        chk_start->setEnabled(false);
        m_env.dialogs->message(kDbOpenError + QString::fromLocal8Bit(ex.what()));
        setCaptionColour(btn_databaseset, kBlack);
    }
}

} // namespace vx::app
