#include "app/TForm1.h"

#include "app/FormLayout.h"
#include "app/JpegImage.h"
#include "data/ConnectionString.h"
#include "data/TextImport.h"
#include "scan/RecordTable.h"
#include "serial/ThreadSync.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QTextStream>
#include <chrono>

// Resources of a static library must be registered by name, outside any
// namespace.
static void initStationResources() {
    Q_INIT_RESOURCE(resources);
}

namespace vx::app {
namespace {

constexpr const char* kBarTenderTitle = "BarTender Enterprise Automation";
constexpr const char* kDbOpenError = "打开数据库时发生错误: ";
constexpr int kGridWidths[] = {45, 140, 45, 30};

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

} // namespace

TForm1::TForm1(StationEnvironment env, QWidget* parent)
    : QWidget(parent),
      station(ADO1, ADOQuery1, *env.sound, *this, env.folder.toLocal8Bit().toStdString()),
      m_env(std::move(env)) {
    setObjectName("Form1");
    setWindowTitle("Vexora");
    setFixedSize(1034, 814);
    move(176, 25);
    QFont f = font();
    f.setFamilies({"MS Sans Serif", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    f.setPixelSize(11);
    setFont(f);

    buildStationForm(this);
    bindControls();
    loadPictures();
    DBGrid_a15show->setModel(&DataSource1);
    ADO1.setBaseFolder(m_env.folder.toLocal8Bit().toStdString());

    Timer_shan.setInterval(scan::FlashState::kIntervalMs);
    play_timer.setInterval(scan::AlarmState::kIntervalMs);
    Timer_returnapp.setInterval(120000);

    // Hand-overs from the serial event thread run on this thread's event
    // loop, which nested loops of modal dialogs keep running too.
    auto& sync = serial::UiSync::instance();
    sync.setUiThread(std::this_thread::get_id());
    sync.setWaker([this] {
        QMetaObject::invokeMethod(
            this, [] { serial::UiSync::instance().drain(); }, Qt::QueuedConnection);
    });
    com31.OnRxChar = [this](serial::TCustomComPort& sender, int count) {
        com31RxChar(sender, count);
    };
    com31.OnDeviceLost = [this](serial::TCustomComPort&) { onDeviceLost(); };
    connectHandlers();

    m_probePath = qEnvironmentVariable("VEXORA_UI_PROBE");
    if (!m_probePath.isEmpty()) {
        connect(&m_probeTimer, &QTimer::timeout, this, [this] { writeProbe(); });
        m_probeTimer.start(50);
    }
}

TForm1::~TForm1() {
    // The port outlives the widgets (it is the first member); a batch still
    // in flight when it closes must not reach them.
    com31.OnRxChar = nullptr;
    com31.OnDeviceLost = nullptr;
    try {
        com31.ClosePort();
    } catch (const std::exception&) {
        // the device is closed by the component's destructor regardless
    }
    serial::UiSync::instance().setWaker({});
}

void TForm1::bindControls() {
    auto get = [this](auto*& member, const char* name) {
        member = findChild<std::remove_reference_t<decltype(*member)>*>(name);
        if (!member)
            qFatal("control %s missing from the form", name);
    };
    get(img_logo, "img_logo");
    get(Label5, "Label5");
    get(Label20, "Label20");
    get(img_wx, "img_wx");
    get(Label14, "Label14");
    get(Label9, "Label9");
    get(Label10, "Label10");
    get(Label11, "Label11");
    get(btn_selN, "btn_selN");
    get(Button2, "Button2");
    get(Button5, "Button5");
    get(Button6, "Button6");
    get(btn_zongji, "btn_zongji");
    get(btn_piji, "btn_piji");
    get(btn_reprn, "btn_reprn");
    get(btn_btprn, "btn_btprn");
    get(btn_comset, "btn_comset");
    get(btn_databaseset, "btn_databaseset");
    get(btn_txtimport, "btn_txtimport");
    get(btn_localdata, "btn_localdata");
    get(Btn_sqlexec, "Btn_sqlexec");
    get(btn_picset, "btn_picset");
    get(btn_datato, "btn_datato");
    get(ed_prnlie, "ed_prnlie");
    get(edit_rec, "edit_rec");
    get(edit_recstr, "edit_recstr");
    get(ed_strstart, "ed_strstart");
    get(ed_strnum, "ed_strnum");
    get(Edit_willprn, "Edit_willprn");
    get(Edit_zheng, "Edit_zheng");
    get(Edit_comnum, "Edit_comnum");
    get(Edit_servername, "Edit_servername");
    get(Edit_dataname, "Edit_dataname");
    get(Edit_id, "Edit_id");
    get(Edit_mm, "Edit_mm");
    get(chk_quejing, "chk_quejing");
    get(CheckBox3, "CheckBox3");
    get(CheckBox1, "CheckBox1");
    get(chk_BTprn, "chk_BTprn");
    get(chk_start, "chk_start");
    get(LB_rec, "LB_rec");
    get(Lb_cuo, "Lb_cuo");
    get(LB_chong, "LB_chong");
    get(LB_shao, "LB_shao");
    get(LB_alprn, "LB_alprn");
    get(grp_scan, "grp_scan");
    get(grp_prn, "grp_prn");
    get(grp_shezhi, "grp_shezhi");
    get(grp_a15show, "grp_a15show");
    get(rg1, "rg1");
    get(rg1Items, "rg1_items");
    get(DBGrid_a15show, "DBGrid_a15show");
}

void TForm1::loadPictures() {
    initStationResources();
    for (QLabel* pic : {img_logo, img_wx}) {
        QFile f(pic->property("picture").toString());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QImage image = decodeJpeg(f.readAll());
        if (!image.isNull()) {
            pic->setPixmap(QPixmap::fromImage(image));
            pic->resize(image.size()); // sized to the picture
        }
    }
}

void TForm1::connectHandlers() {
    auto click = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this,
                [this, handler] { guard([&] { (this->*handler)(); }); });
    };
    click(btn_comset, &TForm1::btn_comsetClick);
    click(btn_selN, &TForm1::btn_selNClick);
    click(btn_databaseset, &TForm1::btn_databasesetClick);
    click(btn_txtimport, &TForm1::btn_txtimportClick);
    auto render = [this](QPushButton* b, std::function<void()> fn) {
        connect(b, &QPushButton::clicked, this, [this, fn] {
            guard(fn);
            renderScan();
        });
    };
    render(btn_zongji, [this] { station.btn_zongjiClick(); });
    render(btn_piji, [this] { station.btn_pijiClick(); });
    render(Button2, [this] { station.Button2Click(); });
    render(Button5, [this] { station.Button5Click(); });
    render(Button6, [this] { station.Button6Click(); });
    connect(LB_chong, &QListWidget::itemDoubleClicked, this, [this] {
        station.LB_chongDblClick(LB_chong->currentRow());
        renderScan();
    });
    connect(LB_shao, &QListWidget::itemDoubleClicked, this, [this] {
        station.LB_shaoDblClick(LB_shao->currentRow());
        renderScan();
    });
    connect(&Timer_shan, &QTimer::timeout, this, [this] { guard([this] { Timer_shanTimer(); }); });
    connect(&play_timer, &QTimer::timeout, this, [this] { guard([this] { play_timerTimer(); }); });
    edit_rec->installEventFilter(this);
    ed_prnlie->installEventFilter(this);
    Edit_willprn->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (watched == edit_rec && e->type() == QEvent::MouseButtonRelease) {
        guard([this] { edit_recClick(); });
    } else if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (watched == ed_prnlie && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)) {
            guard([this] { ed_prnlieKeyDown(13); });
            return true;
        }
        if (watched == Edit_willprn && k->key() == Qt::Key_F1) {
            openHelp();
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void TForm1::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F1) {
        openHelp();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!m_shown) {
        m_shown = true;
        guard([this] { FormShow(); });
    }
}

void TForm1::guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& ex) {
        m_env.dialogs->error(QString::fromLocal8Bit(ex.what()));
    }
}

QString TForm1::text(const std::string& b) {
    return QString::fromLocal8Bit(b.data(), static_cast<int>(b.size()));
}
std::string TForm1::bytes(const QString& t) {
    return t.toLocal8Bit().toStdString();
}

IniFile TForm1::settings() const {
    return IniFile(bytes(m_env.folder + "config.ini"));
}

bool TForm1::isGreen(const QPushButton* b) {
    return b->palette().color(QPalette::ButtonText) == kGreen;
}

void TForm1::setCaptionColour(QPushButton* b, const QColor& c) {
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, c);
    b->setPalette(p);
}

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

void TForm1::FindSimilarWindow(const std::string& title) {
    m_barTender = 0;
    if (m_env.windows)
        m_barTender = m_env.windows->findTitleContaining(title);
}

void TForm1::FormShow() {
    // 1, 2: flags and counters start from zero in the station; the verdict is blue.
    m_lastPrinted = "0";
    station.engine.lastScanned = "0";
    QPalette p = Label14->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label14->setPalette(p);
    // 3-6
    FindSimilarWindow(kBarTenderTitle);
    chk_start->setEnabled(false);
    // 7, 8
    const IniFile ini = settings();
    const std::string server = ini.readString("Database", "servername", "");
    const std::string database = ini.readString("Database", "dataname", "");
    const std::string user = ini.readString("Database", "username", "sa");
    const std::string password = ini.readString("Database", "mm", "");
    m_lastPrinted = ini.readString("print", "lastnum", "");
    station.engine.strstart = ini.readString("STR", "strstart", "1");
    station.engine.strnum = ini.readString("STR", "strnum", "0");
    m_templatePath = ini.readString("print", "btfile", "");
    const std::string lienum = ini.readString("print", "lienum", "1");
    if (auto columns = toInt32(lienum)) {
        station.engine.columnCount = *columns;
    } else {
        station.engine.columnCount = 1;
        m_env.dialogs->message(
            QString("config.ini 中 [print] lienum=%1 不是整数，列数按 1 处理。").arg(text(lienum)));
    }
    ed_prnlie->setText(QString::number(station.engine.columnCount));
    // 9, 10
    if (!m_templatePath.empty())
        chk_BTprn->setEnabled(true);
    ed_strstart->setText(text(station.engine.strstart));
    ed_strnum->setText(text(station.engine.strnum));
    Edit_servername->setText(text(server));
    Edit_dataname->setText(text(database));
    Edit_id->setText(text(user));
    Edit_mm->setText(text(password));
    // 11, 12
    ADO1.setConnectionString(data::buildConnectionString({server, database, user, password}));
    setDataButtonsEnabled(false);
    // 13
    m_portName = ini.readString("com", "num", "");
    if (m_portName.empty())
        m_env.dialogs->message("请先进行com口设置");
    // 14
    if (m_lastPrinted.empty()) {
        try {
            ini.writeString("print", "lastnum", "0");
        } catch (const std::exception& ex) {
            m_env.dialogs->message(QString::fromLocal8Bit(ex.what()));
        }
    } else if (auto last = data::parseInteger(m_lastPrinted)) {
        Edit_willprn->setText(QString::number(*last + 1));
    } else {
        m_env.dialogs->message(
            QString("config.ini 中 [print] lastnum=%1 不是整数，打印开始数保持为 1。")
                .arg(text(m_lastPrinted)));
    }
    // 15
    if (!m_portName.empty()) {
        try {
            com31.setPort(m_portName);
            com31.setBaudRate(serial::br9600);
            com31.setDataBits(serial::dbEight);
            com31.setStopBits(serial::sbOneStopBit);
            com31.Parity().setBits(serial::prNone);
            com31.OpenPort();
            if (com31.Connected())
                setCaptionColour(btn_comset, kGreen);
        } catch (const std::exception& ex) {
            try {
                com31.ClosePort();
            } catch (const std::exception&) {
            }
            m_env.dialogs->message(QString::fromLocal8Bit(ex.what()));
        }
        Edit_comnum->setText(text(ini.readString("com", "num", "")));
    }
    // 16
    if (!server.empty()) {
        try {
            ADO1.open();
            if (ADO1.connected()) {
                setCaptionColour(btn_databaseset, kGreen);
                setDataButtonsEnabled(true);
                if (com31.Connected())
                    chk_start->setEnabled(true);
                try {
                    if (scan::checkRecordTable(ADOQ2) == scan::TableState::HasRecords)
                        showTableInGrid("a15");
                } catch (const scan::TableCheckError&) {
                    m_env.dialogs->message("表a15异常");
                }
            }
        } catch (const std::exception& ex) {
            m_env.dialogs->message(kDbOpenError + QString::fromLocal8Bit(ex.what()));
            ADO1.close();
        }
    }
}

void TForm1::btn_comsetClick() {
    m_portName = serial::portNameFromOperator(bytes(Edit_comnum->text()));
    const IniFile ini = settings();
    try {
        chk_start->setEnabled(false);
        if (com31.Connected())
            com31.ClosePort();
        com31.setPort(m_portName);
        com31.setBaudRate(serial::br9600);
        com31.setDataBits(serial::dbEight);
        com31.setStopBits(serial::sbOneStopBit);
        com31.Parity().setBits(serial::prNone);
        ini.writeString("com", "num", m_portName);
        com31.OpenPort();
        if (com31.Connected()) {
            setCaptionColour(btn_comset, kGreen);
            if (isGreen(btn_databaseset))
                chk_start->setEnabled(true);
            m_env.dialogs->message("com口可用！");
        }
    } catch (const std::exception&) {
        ini.writeString("com", "num", m_portName);
        setCaptionColour(btn_comset, kBlack);
        chk_start->setEnabled(false);
        m_env.dialogs->message("条码枪没插或者" + text(m_portName) + "设置错误！");
    }
}

void TForm1::btn_selNClick() {
    const IniFile ini = settings();
    ini.writeString("STR", "strstart", bytes(ed_strstart->text()));
    ini.writeString("STR", "strnum", bytes(ed_strnum->text()));
    station.engine.strstart = bytes(ed_strstart->text());
    station.engine.strnum = bytes(ed_strnum->text());
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
    const std::string typed = bytes(ed_prnlie->text());
    const auto columns = toInt32(typed);
    if (!columns)
        throw std::runtime_error(notAnInteger(ed_prnlie->text()).toLocal8Bit().toStdString());
    station.engine.columnCount = *columns;
    settings().writeString("print", "lienum", typed);
    m_env.dialogs->message("已保存");
}

void TForm1::btn_databasesetClick() {
    ADO1.close();
    const data::DbSettings s{bytes(Edit_servername->text()), bytes(Edit_dataname->text()),
                             bytes(Edit_id->text()), bytes(Edit_mm->text())};
    const IniFile ini = settings();
    ini.writeString("Database", "servername", s.server);
    ini.writeString("Database", "dataname", s.database);
    ini.writeString("Database", "username", s.user);
    ini.writeString("Database", "mm", s.password);
    ADO1.setConnectionString(data::buildConnectionString(s));
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
        m_env.dialogs->message("数据库连接成功！");
    } catch (const std::exception& ex) {
        setDataButtonsEnabled(false);
        ADO1.close();
        chk_start->setEnabled(false);
        m_env.dialogs->message(kDbOpenError + QString::fromLocal8Bit(ex.what()));
        setCaptionColour(btn_databaseset, kBlack);
    }
}

namespace {
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
    const data::Dialect d = ADO1.dialect();
    namespace RT = scan::RecordTable;
    const data::ImportStatements statements{RT::createBatch(d, table, false),
                                            RT::insertText(d, table), RT::duplicateCheck(d, table),
                                            RT::duplicateSelect(d)};
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

void TForm1::com31RxChar(serial::TCustomComPort& Sender, int Count) {
    std::string scanText;
    Sender.ReadText(scanText, Count);
    scan::ScanSwitches sw;
    sw.chk_start = chk_start->isChecked();
    sw.CheckBox1 = CheckBox1->isChecked();
    sw.CheckBox3 = CheckBox3->isChecked();
    sw.chk_quejing = chk_quejing->isChecked();
    station.com31RxChar(scanText, sw);
    renderScan();
}

void TForm1::Timer_shanTimer() {
    station.Timer_shanTimer();
    renderFlash();
}

void TForm1::play_timerTimer() {
    station.play_timerTimer();
    if (!station.alarm.enabled())
        play_timer.stop();
}

namespace {
// A list entry on one line: control bytes of a scan (CR, LF …) are shown as
// their control pictures (␍ ␊) instead of breaking the entry.
QString listEntry(const std::string& bytes) {
    QString t = QString::fromLocal8Bit(bytes.data(), static_cast<int>(bytes.size()));
    for (QChar& c : t)
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
    return t;
}
} // namespace

void TForm1::renderList(QListWidget* w, const scan::ResultList& list) {
    const auto& items = list.items();
    if (static_cast<std::size_t>(w->count()) + 1 == items.size()) {
        w->addItem(listEntry(items.back()));
    } else if (static_cast<std::size_t>(w->count()) != items.size()) {
        w->clear();
        for (const auto& i : items)
            w->addItem(listEntry(i));
    }
    if (w->count() > 0)
        w->scrollToItem(w->item(list.topIndex()), QAbstractItemView::PositionAtTop);
}

void TForm1::renderScan() {
    edit_rec->setText(text(station.edit_rec));
    edit_recstr->setText(text(station.edit_recstr));
    Label14->setText(text(station.Label14));
    renderList(Lb_cuo, station.Lb_cuo);
    renderList(LB_chong, station.LB_chong);
    renderList(LB_shao, station.LB_shao);
    renderList(LB_rec, station.LB_rec);
    btn_zongji->setText(QString::number(station.counters.total));
    btn_piji->setText(QString::number(station.counters.batch));
    // Starting a running timer would restart its interval; leave it alone.
    if (station.flash.enabled() && !Timer_shan.isActive())
        Timer_shan.start();
    if (station.alarm.enabled() && !play_timer.isActive())
        play_timer.start();
    writeProbe();
}

void TForm1::writeProbe() {
    if (m_probePath.isEmpty())
        return;
    auto items = [](QListWidget* w) {
        QStringList l;
        for (int i = 0; i < w->count(); ++i)
            l << w->item(i)->text();
        return l.join('|');
    };
    auto colour = [](QPushButton* b) {
        const QColor c = b->palette().color(QPalette::ButtonText);
        return c == kGreen ? "green" : c == kBlack ? "black" : "default";
    };
    QString state;
    QTextStream out(&state);
    out << "Label14=" << Label14->text() << "\n"
        << "edit_rec=" << QString(edit_rec->text()).replace("\r", "\\r").replace("\n", "\\n")
        << "\n"
        << "edit_recstr=" << edit_recstr->text() << "\n"
        << "Lb_cuo=" << items(Lb_cuo) << "\n"
        << "LB_chong=" << items(LB_chong) << "\n"
        << "LB_shao=" << items(LB_shao) << "\n"
        << "LB_rec=" << items(LB_rec) << "\n"
        << "btn_zongji=" << btn_zongji->text() << "\n"
        << "btn_piji=" << btn_piji->text() << "\n"
        << "btn_comset=" << colour(btn_comset) << "\n"
        << "btn_databaseset=" << colour(btn_databaseset) << "\n"
        << "chk_start_enabled=" << int(chk_start->isEnabled()) << "\n"
        << "chk_start_checked=" << int(chk_start->isChecked()) << "\n";
    if (state == m_lastProbe)
        return;
    m_lastProbe = state;
    QSaveFile f(m_probePath);
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.write(QString("seq=%1\nnanos=%2\n")
                .arg(++m_probeSeq)
                .arg(std::chrono::steady_clock::now().time_since_epoch().count())
                .toUtf8());
    f.write(state.toUtf8());
    f.commit();
}

void TForm1::renderFlash() {
    Label9->setVisible(station.flash.visible(scan::FlashState::Label9));
    Label10->setVisible(station.flash.visible(scan::FlashState::Label10));
    Label11->setVisible(station.flash.visible(scan::FlashState::Label11));
    if (!station.flash.enabled())
        Timer_shan.stop();
}

void TForm1::captureForeground() {
    if (m_env.windows)
        m_env.windows->captureForeground();
}

void TForm1::bringToFront() {
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    if (m_env.windows)
        m_env.windows->bringToFront(static_cast<NativeWindow>(winId()));
}

void TForm1::onDeviceLost() {
    setCaptionColour(btn_comset, kBlack);
    chk_start->setEnabled(false);
}

void TForm1::openHelp() {
    const QString path = m_env.folder + "help.txt";
    if (QFileInfo::exists(path) && m_env.openDocument)
        m_env.openDocument(path);
}

} // namespace vx::app
