#pragma once

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
class QWidget;

namespace vx::app {

// Every control of the station window, by the name the form gives it, in
// the order they are created (group boxes before the window's own controls
// that lie over them).
struct StationControls {
    // Header
    QLabel *img_logo, *Label5, *Label20, *img_wx;
    // In the header's free space, shown while they have something to say:
    // the progress of a print job or an import, the button that cancels the
    // job printing, and a failed job's reason until it is acknowledged.
    QLabel* lbl_progress;
    QPushButton* btn_prncancel;
    QLabel* lbl_prnfail;
    QPushButton* btn_prnack;
    // The four areas
    QGroupBox *grp_scan, *grp_prn, *grp_shezhi, *grp_a15show;

    // Scan area, children of its group box
    QLabel *Label15, *Label21, *Label22;
    QPushButton* btn_selN;
    QLabel *Label14, *lbl1;
    QLineEdit* ed_prnlie;
    QLabel *Label17, *Label18, *Label9, *Label10, *Label11;
    QCheckBox* chk_quejing;
    QPushButton* Button2;
    // Scan area, children of the window
    QLineEdit *edit_rec, *edit_recstr, *ed_strstart, *ed_strnum;
    QListWidget* LB_rec;
    QCheckBox *CheckBox3, *CheckBox1;
    QPushButton *btn_zongji, *btn_piji;
    QListWidget *Lb_cuo, *LB_chong, *LB_shao;
    QPushButton *Button5, *Button6;

    // Print area
    QListWidget* LB_alprn;
    QPushButton* btn_reprn;
    QLabel *Label12, *Label13;
    QCheckBox* chk_BTprn;
    QPushButton* btn_btprn;
    QLabel* Label8;
    QLineEdit *Edit_willprn, *Edit_zheng;

    // Settings area
    QLabel* Label6;
    QLineEdit* Edit_comnum;
    QPushButton* btn_comset;
    QLabel* Label1;
    QLineEdit* Edit_servername;
    QLabel* Label2;
    QLineEdit* Edit_dataname;
    QLabel* Label3;
    QLineEdit* Edit_id;
    QLabel* Label4;
    QLineEdit* Edit_mm;
    QPushButton *btn_databaseset, *btn_txtimport, *btn_localdata, *Btn_sqlexec, *btn_picset;
    QCheckBox* chk_start;

    // Data area
    QTableView* DBGrid_a15show;
    QGroupBox* rg1;
    QPushButton* btn_datato;
    // The items of rg1 ("1未扫码", "2已扫码"), ids 0 and 1.
    QButtonGroup* rg1Items;
};

// Builds every control of the station window: position and size (pixels at
// 96 dpi), caption or initial text, font and initial state. Behaviour is
// wired by TForm1.
StationControls buildStationForm(QWidget* window);

} // namespace vx::app
