#pragma once

#include "app/Dialogs.h"
#include "app/IniFile.h"
#include "app/RecordModel.h"
#include "app/WindowSystem.h"
#include "data/Database.h"
#include "data/Table.h"
#include "scan/Alerts.h"
#include "serial/ComPort.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace vx::app {

// What the window needs from its surroundings; tests replace each piece.
struct StationEnvironment {
    QString folder; // the executable's folder, with a trailing separator
    Dialogs* dialogs = nullptr;
    scan::SoundPlayer* sound = nullptr;
    WindowSystem* windows = nullptr;
    // Opens a document with the desktop's default handler (F1 → help.txt).
    std::function<void(const QString&)> openDocument;
};

inline const QColor kGreen{0, 128, 0};
inline const QColor kBlack{0, 0, 0};

// The station's one window: every control, the components it owns, and the
// handlers that read the controls, call the subsystems and show the outcome.
class TForm1 : public QWidget, private scan::WindowActivator {
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

    // Controls
    QLabel *img_logo, *Label5, *Label20, *img_wx, *Label14, *Label9, *Label10, *Label11;
    QPushButton *btn_selN, *Button2, *Button5, *Button6, *btn_zongji, *btn_piji, *btn_reprn,
        *btn_btprn, *btn_comset, *btn_databaseset, *btn_txtimport, *btn_localdata, *Btn_sqlexec,
        *btn_picset, *btn_datato;
    QLineEdit *ed_prnlie, *edit_rec, *edit_recstr, *ed_strstart, *ed_strnum, *Edit_willprn,
        *Edit_zheng, *Edit_comnum, *Edit_servername, *Edit_dataname, *Edit_id, *Edit_mm;
    QCheckBox *chk_quejing, *CheckBox3, *CheckBox1, *chk_BTprn, *chk_start;
    QListWidget *LB_rec, *Lb_cuo, *LB_chong, *LB_shao, *LB_alprn;
    QGroupBox *grp_scan, *grp_prn, *grp_shezhi, *grp_a15show, *rg1;
    QButtonGroup* rg1Items;
    QTableView* DBGrid_a15show;

    // The scan side: engine, lists, counters, flash and alarm.
    scan::ScanStation station;

    // State the start-up sequence sets up.
    QString exeFolder() const { return m_env.folder; }
    NativeWindow barTenderWindow() const { return m_barTender; }
    const std::string& heldLastPrinted() const { return m_lastPrinted; }
    const std::string& templatePath() const { return m_templatePath; }
    const std::string& portName() const { return m_portName; }

    // Handlers, named control + event.
    void FormShow();
    void FindSimilarWindow(const std::string& text);
    void btn_comsetClick();
    void btn_selNClick();
    void edit_recClick();
    void ed_prnlieKeyDown(int key);
    void btn_databasesetClick();
    void btn_txtimportClick();
    void com31RxChar(serial::TCustomComPort& Sender, int Count);
    void Timer_shanTimer();
    void play_timerTimer();
    void openHelp();
    // Shows what the scan station holds: verdict, lists, counters, timers.
    void renderScan();

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

    void bindControls();
    void connectHandlers();
    void loadPictures();
    // Runs a handler; an error it does not catch gets the general error report.
    void guard(const std::function<void()>& handler);
    void setDataButtonsEnabled(bool on);
    void showTableInGrid(const std::string& table);
    void renderList(QListWidget* w, const scan::ResultList& list);
    void renderFlash();
    void onDeviceLost();
    // With $VEXORA_UI_PROBE set, what the window shows is written to that
    // file after every change, for the end-to-end test and latency bench.
    void writeProbe();
    IniFile settings() const;
    static QString text(const std::string& bytes);
    static std::string bytes(const QString& text);

    StationEnvironment m_env;
    bool m_shown = false;
    NativeWindow m_barTender = 0;
    std::string m_lastPrinted = "0";
    std::string m_templatePath;
    std::string m_portName;
    QString m_probePath;
    QString m_lastProbe;
    unsigned m_probeSeq = 0;
    QTimer m_probeTimer;
};

} // namespace vx::app
