#include "app/TForm1.h"

#include "app/JpegImage.h"
#include "app/UiProbe.h"
#include "data/Charset.h"
#include "data/NewFile.h"
#include "journal/ReportHtml.h"
#include "serial/ThreadSync.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <sstream>

// Resources of a static library must be registered by name, outside any
// namespace.
static void initStationResources() {
    Q_INIT_RESOURCE(resources);
    Q_INIT_RESOURCE(icon);
}

namespace vx::app {

QIcon stationIcon() {
    initStationResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icon/vexora-%1.png").arg(size), QSize(size, size));
    return icon;
}

TForm1::TForm1(StationEnvironment env, QWidget* parent)
    : QWidget(parent),
      station(ADO1, ADOQuery1, *env.sound, *this, env.folder.toLocal8Bit().toStdString()),
      m_env(std::move(env)), m_journal(std::make_shared<journal::Journal>(
                                 toLocal8Bit(m_env.folder) + journal::Journal::kFileName)) {
    setObjectName("Form1");
    QString title = "Vexora";
    if (m_env.folderInTitle) {
        QString shown = m_env.folder;
        while (shown.size() > 1 && (shown.endsWith('/') || shown.endsWith('\\')))
            shown.chop(1);
        title += " — " + QDir::toNativeSeparators(shown);
    }
    setWindowTitle(title);
    setWindowIcon(stationIcon());
    QFont f = font();
    // Chinese characters come from the first family that has them: Debian's
    // CJK fonts on Linux, SimSun on a Chinese Windows.
    f.setFamilies({"MS Sans Serif", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "SimSun"});
    f.setPixelSize(11);
    setFont(f);

    // The controls stand on a form of the layout's size inside a scroll
    // area that fills the window: the whole form where the screen has
    // room, and scroll bars where it has not (1366 x 768).
    m_form = new QWidget;
    m_form->setObjectName("form");
    m_form->setFixedSize(kFormWidth, kFormHeight);
    m_scroller = new QScrollArea(this);
    m_scroller->setObjectName("formScroller");
    m_scroller->setFrameShape(QFrame::NoFrame);
    m_scroller->setWidget(m_form);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroller);
    static_cast<StationControls&>(*this) = buildStationForm(m_form);
    fitToScreen();
    loadPictures();
    DBGrid_a15show->setModel(&DataSource1);
    DataSource1.setErrorReport(
        [this](std::exception_ptr error) { guard([&] { std::rethrow_exception(error); }); });
    // Every change made in the grid is on the journal.
    DataSource1.setChangeListener([this](const RecordModel::Change& c) {
        using K = RecordModel::Change::Kind;
        if (c.kind == K::Edited)
            m_stationJournal.recordEdited(c.record, c.column, c.before, c.after);
        else if (c.kind == K::Appended)
            m_stationJournal.recordAppended(c.record, c.column, c.after);
        else
            m_stationJournal.recordDeleted(c.record, c.before);
    });
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
    // A journal that cannot be written, or that had to start a new file, is
    // shown once; the station goes on. The listener may be called on the
    // print worker's thread.
    m_journal->setFailureListener(
        [this](journal::Journal::Trouble trouble, const std::string& why) {
            QMetaObject::invokeMethod(
                this,
                [this, trouble, why = QString::fromLocal8Bit(why)] {
                    showJournalFailure(trouble, why);
                },
                Qt::QueuedConnection);
        });
    station.setJournal(m_journal.get());
    // A window shortcut: it works whichever control has the focus.
    auto* report = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(report, &QShortcut::activated, this, [this] { guard([this] { openShiftReport(); }); });
    createPrintWorker();
    connectHandlers();
    m_probe = UiProbe::fromEnvironment(*this);
}

TForm1::~TForm1() {
    m_journal->setFailureListener({});
    stopPrintJobNews();
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

void TForm1::fitToScreen() {
    // Room the window's frame takes on the desktop (title bar and borders);
    // the frame is known only once the window is shown, so a typical one is
    // allowed for.
    constexpr int kFrameWidth = 16, kFrameHeight = 39;
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect room = s ? s->availableGeometry() : QRect(0, 0, 1920, 1080);
    const int bar = std::max(m_scroller->verticalScrollBar()->sizeHint().width(),
                             m_scroller->horizontalScrollBar()->sizeHint().height());
    int height = std::min(kFormHeight, room.height() - kFrameHeight);
    int width = std::min(kFormWidth, room.width() - kFrameWidth);
    // A scroll bar one way takes room the other way.
    const bool scrollsDown = height < kFormHeight, scrollsAcross = width < kFormWidth;
    if (scrollsDown)
        width = std::min(kFormWidth + bar, room.width() - kFrameWidth);
    if (scrollsAcross)
        height = std::min(kFormHeight + bar, room.height() - kFrameHeight);
    setMaximumSize(kFormWidth + (scrollsDown ? bar : 0), kFormHeight + (scrollsAcross ? bar : 0));
    // A way the form fits needs no scroll bar, and the window is not made
    // smaller than that way: the layout is fixed.
    m_scroller->setHorizontalScrollBarPolicy(scrollsAcross ? Qt::ScrollBarAsNeeded
                                                           : Qt::ScrollBarAlwaysOff);
    m_scroller->setVerticalScrollBarPolicy(scrollsDown ? Qt::ScrollBarAsNeeded
                                                       : Qt::ScrollBarAlwaysOff);
    setMinimumSize(scrollsAcross ? 0 : width, scrollsDown ? 0 : height);
    resize(width, height);
    // The layout's place, moved in as far as the screen needs.
    const int x =
        std::max(room.left(), std::min(room.left() + 176, room.right() + 1 - width - kFrameWidth));
    const int y =
        std::max(room.top(), std::min(room.top() + 25, room.bottom() + 1 - height - kFrameHeight));
    move(x, y);
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
    click(btn_localdata, &TForm1::btn_localdataClick);
    click(Btn_sqlexec, &TForm1::Btn_sqlexecClick);
    click(btn_datato, &TForm1::btn_datatoClick);
    click(btn_zongji, &TForm1::btn_zongjiClick);
    click(btn_piji, &TForm1::btn_pijiClick);
    click(Button2, &TForm1::Button2Click);
    click(Button5, &TForm1::Button5Click);
    click(Button6, &TForm1::Button6Click);
    click(btn_reprn, &TForm1::btn_reprnClick);
    click(btn_btprn, &TForm1::btn_btprnClick);
    click(btn_picset, &TForm1::btn_picsetClick);
    click(btn_prncancel, &TForm1::btn_prncancelClick);
    click(btn_prnack, &TForm1::btn_prnackClick);
    connect(chk_BTprn, &QCheckBox::clicked, this, [this] { guard([this] { chk_BTprnClick(); }); });
    connect(LB_alprn, &QListWidget::itemDoubleClicked, this,
            [this] { guard([this] { LB_alprnDblClick(); }); });
    connect(&Timer_returnapp, &QTimer::timeout, this,
            [this] { guard([this] { Timer_returnappTimer(); }); });
    connect(LB_chong, &QListWidget::itemDoubleClicked, this,
            [this] { guard([this] { LB_chongDblClick(); }); });
    connect(LB_shao, &QListWidget::itemDoubleClicked, this,
            [this] { guard([this] { LB_shaoDblClick(); }); });
    connect(&Timer_shan, &QTimer::timeout, this, [this] { guard([this] { Timer_shanTimer(); }); });
    connect(&play_timer, &QTimer::timeout, this, [this] { guard([this] { play_timerTimer(); }); });
    edit_rec->installEventFilter(this);
    ed_prnlie->installEventFilter(this);
    Edit_willprn->installEventFilter(this);
    Edit_zheng->installEventFilter(this);
    LB_alprn->installEventFilter(this);
    LB_shao->installEventFilter(this);
    connectGrid();
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
        const bool enter = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
        if (watched == Edit_willprn && (enter || k->key() == Qt::Key_F1)) {
            guard([this, enter] { Edit_willprnKeyDown(enter ? 13 : 112); });
            return true;
        }
        if (watched == Edit_zheng && enter) {
            guard([this] { Edit_zhengKeyDown(13); });
            return true;
        }
        if ((watched == LB_alprn || watched == LB_shao) && k->key() == Qt::Key_P &&
            (k->modifiers() & Qt::ControlModifier)) {
            auto* list = static_cast<QListWidget*>(watched);
            guard([this, list] { reprintKey(list); });
            return true;
        }
        if (watched == DBGrid_a15show) {
            bool taken = false;
            guard([&] { taken = DBGrid_a15showKeyDown(k->key(), k->modifiers()); });
            if (taken)
                return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

void TForm1::keyPressEvent(QKeyEvent* e) {
    // A key a control did not take comes on to its window; F1 opens the help
    // only when typed on the window itself (the start box has its own).
    const QWidget* focus = focusWidget();
    if (e->key() == Qt::Key_F1 && (!focus || focus == this)) {
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
    } catch (const data::DbConnectionLost& lost) {
        showDatabaseLost(lost.what());
    } catch (const std::exception& ex) {
        // Whatever the handler had closed when it failed, the settings area
        // shows it before the report does.
        showWhatIsOpen();
        m_env.dialogs->error(QString::fromLocal8Bit(ex.what()));
    }
}

void TForm1::showDatabaseLost(const std::string& why) {
    // Nothing more may go through it; the operator connects again.
    ADO1.close();
    journalDatabase(journal::JournalWords::Lost, why);
    showWhatIsOpen();
    m_env.dialogs->error(QString::fromUtf8(kDatabaseLostText) + "\n" + fromLocal8Bit(why));
}

QString TForm1::fromUtf8(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
QString TForm1::fromLocal8Bit(const std::string& b) {
    return QString::fromLocal8Bit(b.data(), static_cast<int>(b.size()));
}
std::string TForm1::toLocal8Bit(const QString& t) {
    return t.toLocal8Bit().toStdString();
}

settings::StationSettings TForm1::settings() const {
    return settings::StationSettings(toLocal8Bit(m_env.folder));
}

bool TForm1::isGreen(const QPushButton* b) {
    return b->palette().color(QPalette::ButtonText) == kGreen;
}

void TForm1::setCaptionColour(QPushButton* b, const QColor& c) {
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, c);
    b->setPalette(p);
}

void TForm1::showJournalFailure(journal::Journal::Trouble trouble, const QString& why) {
    if (trouble == journal::Journal::Trouble::Restarted)
        m_env.dialogs->message("工作站日志文件被删除、替换或无法使用，已新建日志文件，扫描照常进行"
                               "并记入新日志。\n" +
                               why);
    else
        m_env.dialogs->message(
            "工作站日志无法写入，扫描照常进行；日志恢复可写之前的扫描和打印不会记入日志。\n" + why);
}

void TForm1::journalPort(const char* what, const std::string& message) {
    m_stationJournal.port(what, m_portName, message);
}

void TForm1::journalDatabase(const char* what, const std::string& message) {
    data::DbSettings shown;
    shown.server = toLocal8Bit(Edit_servername->text());
    shown.database = toLocal8Bit(Edit_dataname->text());
    m_stationJournal.database(what, data::databaseLocation(shown), message);
}

void TForm1::openHelp() {
    // The station's own help first, then the one installed with the program.
    QString path = m_env.folder + "help.txt";
    if (!QFileInfo::exists(path) && !m_env.programFiles.isEmpty())
        path = m_env.programFiles + "help.txt";
    if (QFileInfo::exists(path) && m_env.openDocument)
        m_env.openDocument(path);
}

void TForm1::openShiftReport() {
    journal::ReportSource source;
    source.from = m_shiftStart;
    source.to = journal::utcNowMs();
    source.journal = m_journal->path();
    std::unique_ptr<journal::A15Records> records;
    if (ADO1.connected()) {
        data::DbSettings shown;
        shown.server = toLocal8Bit(Edit_servername->text());
        shown.database = toLocal8Bit(Edit_dataname->text());
        source.database = data::databaseLocation(shown);
        records = std::make_unique<journal::A15Records>(ADO1);
    }
    journal::TextStyle style;
    style.charset = data::stationCharset();
    std::ostringstream page;
    journal::writeShiftPage(page, source, records.get(), style);
    // The page of the last Ctrl+R is replaced; a new one appears whole.
    const std::string path = toLocal8Bit(m_env.folder) + kShiftReportFile;
    std::error_code gone;
    std::filesystem::remove(path, gone);
    data::NewFile file(path);
    file.write(page.str());
    file.commit();
    if (m_env.openDocument)
        m_env.openDocument(QString::fromLocal8Bit(path.c_str()));
}

} // namespace vx::app
