#pragma once

#include "app/Dialogs.h"
#include "app/FormLayout.h"
#include "app/RecordModel.h"
#include "app/WindowSystem.h"
#include "data/ConnectionString.h"
#include "data/Database.h"
#include "data/Table.h"
#include "journal/Journal.h"
#include "journal/StationJournal.h"
#include "print/Backends.h"
#include "print/PrintRange.h"
#include "print/PrintWorker.h"
#include "scan/ScanStation.h"
#include "serial/ComPort.h"
#include "settings/StationSettings.h"

#include <QIcon>
#include <QTimer>
#include <QWidget>

class QScrollArea;
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vx::app {

class UiProbe;

// What the window needs from its surroundings; tests replace each piece.
struct StationEnvironment {
    // The station's folder, with a trailing separator: the executable's own,
    // or the one named with --station.
    QString folder;
    // Where the program's help is installed, for a station folder with no
    // help.txt of its own; "" when the station's folder is the only place.
    QString programFiles;
    // The station's folder in the window's title ("Vexora — /home/op/station"),
    // for a station that is not the executable's own folder.
    bool folderInTitle = false;
    Dialogs* dialogs = nullptr;
    scan::SoundPlayer* sound = nullptr;
    WindowSystem* windows = nullptr;
    // Opens a document with the desktop's default handler (F1 → help.txt).
    std::function<void(const QString&)> openDocument;
    // The print back ends by template type.
    print::BackendFactory printBackends = print::platformBackends();
};

// What the print worker told of a job, carried to the window's thread.
struct PrintJobNews {
    std::uint64_t serial = 0;
    std::string range; // "3-7"
    print::JobState state = print::JobState::Queued;
    std::optional<int> sent = 0; // labels sent; empty: how many is not known
    int total = -1;              // -1: not told
    std::string reason;
};

class PrintJobNewsSink;

// The form's size, the layout's: controls keep their places and sizes.
inline constexpr int kFormWidth = 1034, kFormHeight = 814;

// The station's icon in every size it is drawn in (the window's, the
// message boxes').
QIcon stationIcon();

inline const QColor kGreen{0, 128, 0};
inline const QColor kBlack{0, 0, 0};

// A script that ended inside a transaction (a BEGIN without its COMMIT, or a
// failure half-way through one) had it rolled back: the station's later
// changes would otherwise never be committed.
inline constexpr const char* kScriptTransactionRolledBack =
    "脚本结束时事务仍未提交，已回滚：该事务中的修改均未保存。";
// A file chosen for import or as a script that SQLite keeps open in the
// station: reading it would cost the station its locks (on POSIX, closing any
// descriptor of a file drops them all), and it holds no labels or SQL anyway.
inline constexpr const char* kFileInUseText =
    "所选文件是工作站正在使用的数据库或日志文件，不能导入或执行。";
// Any action other than a scan that found the connection gone; the
// operator has to connect again.
inline constexpr const char* kDatabaseLostText = "数据库连接已失效！请重新连接数据库。";

// The station's one window: every control, the components it owns, and the
// handlers that read the controls, call the subsystems and show the outcome.
class TForm1 : public QWidget,
               public StationControls,
               private scan::WindowActivator,
               private print::PrintHost {
    Q_OBJECT
public:
    explicit TForm1(StationEnvironment env, QWidget* parent = nullptr);
    ~TForm1() override;

    // Components
    serial::TComPort com31;
    data::Connection ADO1;
    data::Query ADOQuery1{ADO1}, ADOQ2{ADO1}, adoq3{ADO1}, ADOCommand1{ADO1};
    data::Table ADOTable1{ADO1};
    RecordModel DataSource1;
    QTimer Timer_shan, play_timer, Timer_returnapp;

    // The scan side: engine, lists, counters, flash and alarm.
    scan::ScanStation station;
    // The print side: held last printed number, batch list, direct-print
    // flag, template path.
    print::PrintState printState;

    // The form the controls stand on, at the layout's size (1034 x 814). The
    // window shows it whole where the screen has room, and scrolls it on a
    // smaller screen, so every control can be reached at its size.
    QWidget* form() const { return m_form; }
    QScrollArea* formScroller() const { return m_scroller; }

    // State the start-up sequence sets up.
    QString exeFolder() const { return m_env.folder; }
    NativeWindow barTenderWindow() const { return m_barTender; }
    const std::string& heldLastPrinted() const { return printState.heldLastPrinted; }
    const std::string& templatePath() const { return printState.templatePath; }
    // The one print worker; jobs run there in the order they were dispatched.
    print::PrintWorker& printWorker() { return *m_printWorker; }
    // The station's journal beside the executable (vexora-journal.db).
    journal::Journal& journal() { return *m_journal; }

    // Handlers, named control + event; each area's handlers have a file of
    // their own (TForm1Settings.cpp, TForm1Scan.cpp, TForm1Print.cpp,
    // TForm1Data.cpp).

    // Start-up and the settings area
    void FormShow();
    void FindSimilarWindow(const std::string& text);
    void btn_comsetClick();
    void btn_selNClick();
    void edit_recClick();
    void ed_prnlieKeyDown(int key);
    void btn_databasesetClick();

    // Scan area
    void com31RxChar(serial::TCustomComPort& Sender, int Count);
    void Timer_shanTimer();
    void play_timerTimer();
    void btn_zongjiClick();
    void btn_pijiClick();
    void Button2Click();
    void Button5Click();
    void Button6Click();
    void LB_chongDblClick();
    void LB_shaoDblClick();
    // Shows what the scan station holds after a scan: the scan and its
    // field, the verdict, and all that renderResults shows.
    void renderScan();
    // Shows the lists, the counters and the timers' state, and nothing of the
    // scan: a field the operator picked from it stays in edit_recstr.
    void renderResults();

    // Print area (and the picture assignment of the settings area)
    void Edit_willprnKeyDown(int key);
    void Edit_zhengKeyDown(int key);
    void btn_reprnClick();
    void LB_alprnDblClick();
    // Ctrl+P on the batch list or the missing-range list: reprints the
    // labels of the selected entry, or others the operator names, for a
    // reason, without moving lastnum or the start box.
    void reprintKey(QListWidget* list);
    void Timer_returnappTimer();
    void btn_btprnClick();
    void chk_BTprnClick();
    void btn_picsetClick();
    // The header's print job panel: cancel the job printing, acknowledge a
    // failed one.
    void btn_prncancelClick();
    void btn_prnackClick();
    // A job's news, on the window's thread: its batch list entry, the
    // progress line, and for a failed job the alarm and its reason.
    void printJobNews(const PrintJobNews& news);

    // Data area
    void btn_txtimportClick();
    void btn_localdataClick();
    void Btn_sqlexecClick();
    void btn_datatoClick();
    // Keys on the record grid: Ctrl+Delete deletes the current record after
    // asking, Insert (or Down on the last row) appends a row. True when the
    // key was taken.
    bool DBGrid_a15showKeyDown(int key, Qt::KeyboardModifiers modifiers);

    // F1, on the window and in the start box.
    void openHelp();
    // Ctrl+R, anywhere on the window: the report of the shift so far (since
    // the station started) written as a page to the station's folder and
    // opened with the desktop's browser.
    void openShiftReport();
    static constexpr const char* kShiftReportFile = "vexora-shift-report.html";

    static bool isGreen(const QPushButton* b);
    static void setCaptionColour(QPushButton* b, const QColor& c);

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // scan::WindowActivator
    void captureForeground() override;
    void bringToFront() override;

    // print::PrintHost
    std::string readLastnum() override;
    void writeLastnum(const std::string& value) override;
    bool confirmNotNext() override;
    void resetBatchCounter() override;
    // What an Enter in the start or count box changed, on the window; then
    // the bounds handed on.
    void renderPrint(const print::RangeOutcome& outcome);
    void dispatch(const print::JobBounds& bounds, std::optional<std::size_t> entry);
    void renderBatchList();
    void renderPrintProgress();
    void createPrintWorker();
    void stopPrintJobNews();
    // "导入：已读 N 行" in the header while an import runs on this thread;
    // painted at once, since no event is handled until the import ends.
    void showImportProgress(long long lines);
    // The window's size and place: the layout's where the screen has room,
    // else as much as the screen's free area holds.
    void fitToScreen();

    void connectHandlers();
    void connectGrid();
    void loadPictures();
    // Runs a handler; an error it does not catch gets the general error report,
    // a lost connection the handling of showDatabaseLost.
    void guard(const std::function<void()>& handler);
    // config.ini, read afresh at every use.
    settings::StationSettings settings() const;
    // The two kinds of text the core hands the window. Its own messages
    // (verdicts, file filters, presets) are UTF-8 literals on every platform:
    // fromUtf8. Everything else (scans, label texts, file names, database
    // texts, and the errors that quote them) is the station's bytes, in the
    // local 8-bit encoding: the ANSI code page on Windows; on Linux the
    // locale's, which Qt 6 takes as UTF-8, so there the two are one.
    static QString fromUtf8(const std::string& utf8);
    static QString fromLocal8Bit(const std::string& bytes);
    static std::string toLocal8Bit(const QString& text);

    // Start-up, in three parts: the settings read into memory and the boxes,
    // the scanner port, the database.
    data::DbSettings loadSettings(const settings::StationSettings& config);
    void openScannerPort(const settings::StationSettings& config);
    void openDatabase();
    void showStartNumber(const settings::StationSettings& config);
    // The fixed line settings and the port name, before every open.
    void configureScannerPort();
    void onDeviceLost();
    // After a failure: no green caption over a closed port or database, no
    // data buttons without the database, no comparison without both.
    void showWhatIsOpen();
    // A connection found gone outside a scan: closed, journalled, shown
    // closed, and the operator told to connect again.
    void showDatabaseLost(const std::string& why);

    void renderList(QListWidget* w, const scan::ResultList& list);
    void renderFlash();

    void setDataButtonsEnabled(bool on);
    // Whether path names a file SQLite keeps open in the station: the label
    // database or the journal, or the log, shared memory or rollback journal
    // beside either. Asked by name, without opening anything.
    bool keptOpenBySqlite(const QString& path) const;
    void showTableInGrid(const std::string& table);

    // The port's and the database's events on the journal, named as the
    // settings area shows them. what: opened, failed or lost.
    void journalPort(const char* what, const std::string& message = {});
    void journalDatabase(const char* what, const std::string& message = {});
    void showJournalFailure(journal::Journal::Trouble trouble, const QString& why);

    StationEnvironment m_env;
    QWidget* m_form = nullptr;
    QScrollArea* m_scroller = nullptr;
    // Shared with the print worker's observer, which may outlive the window.
    std::shared_ptr<journal::Journal> m_journal;
    // When the station started: where its shift report begins.
    const std::int64_t m_shiftStart = journal::utcNowMs();
    journal::StationJournal m_stationJournal{*m_journal};
    // Carries the worker's news here; switched off as the window closes.
    std::shared_ptr<PrintJobNewsSink> m_jobNews;
    // The job printing now, as last told; serial 0 when none is.
    PrintJobNews m_printing;
    // When the import's progress was last painted.
    std::chrono::steady_clock::time_point m_importShown{};
    bool m_shown = false;
    NativeWindow m_barTender = 0;
    std::string m_portName;
    // The test and benchmark hook (UiProbe.h); null, and never called, unless
    // VEXORA_UI_PROBE is set.
    std::unique_ptr<UiProbe> m_probe;
    // Last, so it goes first: closing the window waits for its jobs while
    // everything else still stands.
    std::unique_ptr<print::PrintWorker> m_printWorker;
};

} // namespace vx::app
