#include "app/FormLayout.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

namespace vx::app {
namespace {

enum class Kind { Label, Button, OwnerButton, Edit, Check, List, Group, Picture, Grid, RadioGroup };

enum Flag : unsigned {
    None = 0,
    Disabled = 1,
    Checked = 2,
    Navy = 4,
    Title = 8,      // the CJK bold title face
    LightFace = 16, // light 3-D face colour (LB_rec)
};

struct ControlSpec {
    const char* name;
    Kind kind;
    const char* parent; // nullptr: the window
    int x, y, w, h;
    const char* text;
    int fontPx; // 0: the window's font
    unsigned flags;
};

// clang-format off
constexpr ControlSpec kControls[] = {
    // Header
    {"img_logo",   Kind::Picture, nullptr, 56, 8, 94, 94, ":/img_logo.jpg", 0, None},
    {"Label5",     Kind::Label,   nullptr, 170, 41, 223, 48, "Vexora", 40, Navy | Title},
    {"Label20",    Kind::Label,   nullptr, 401, 59, 109, 20, "V1.0 20260424", 16, Navy},
    {"img_wx",     Kind::Picture, nullptr, 816, 16, 85, 85, ":/img_wx.jpg", 0, None},

    // Group boxes first, so the window's own controls lie above them.
    {"grp_scan",    Kind::Group, nullptr, 10, 104, 423, 662, "扫码区", 0, None},
    {"grp_prn",     Kind::Group, nullptr, 480, 104, 152, 662, "打印区", 0, None},
    {"grp_shezhi",  Kind::Group, nullptr, 680, 104, 329, 305, "设置区", 0, None},
    {"grp_a15show", Kind::Group, nullptr, 680, 424, 329, 342, "数据区", 0, None},

    // Scan area, children of the group box
    {"Label15",     Kind::Label,       "grp_scan", 16, 88, 84, 13, "扫到的顺序号：", 0, None},
    {"Label21",     Kind::Label,       "grp_scan", 168, 58, 73, 13, "取值起始位", 0, None},
    {"Label22",     Kind::Label,       "grp_scan", 264, 58, 57, 15, "取值位数", 0, None},
    {"btn_selN",    Kind::OwnerButton, "grp_scan", 352, 51, 41, 25, "保存", 0, None},
    {"Label14",     Kind::Label,       "grp_scan", 12, 112, 329, 57, "", 35, None},
    {"lbl1",        Kind::Label,       "grp_scan", 32, 200, 193, 13, "多列标签跳号扫描，共         列", 0, None},
    {"ed_prnlie",   Kind::Edit,        "grp_scan", 172, 196, 25, 21, "", 0, None},
    {"Label17",     Kind::Label,       "grp_scan", 16, 288, 81, 13, "总扫码计数:", 0, None},
    {"Label18",     Kind::Label,       "grp_scan", 200, 288, 97, 13, "小批扫码计数:", 0, None},
    {"Label9",      Kind::Label,       "grp_scan", 27, 315, 57, 25, "错码:", 13, None},
    {"Label10",     Kind::Label,       "grp_scan", 177, 315, 48, 20, "重码:", 13, None},
    {"Label11",     Kind::Label,       "grp_scan", 281, 315, 56, 20, "缺码:", 13, None},
    {"chk_quejing", Kind::Check,       "grp_scan", 328, 315, 81, 17, "忽略缺码", 12, None},
    {"Button2",     Kind::Button,      "grp_scan", 48, 624, 75, 25, "清空", 0, None},

    // Scan area, children of the window
    {"edit_rec",    Kind::Edit,   nullptr, 24, 128, 393, 21, "扫描获取字符", 0, None},
    {"edit_recstr", Kind::Edit,   nullptr, 24, 158, 153, 21, "取n 位字符", 0, None},
    {"ed_strstart", Kind::Edit,   nullptr, 248, 158, 25, 21, "1", 0, None},
    {"ed_strnum",   Kind::Edit,   nullptr, 328, 158, 25, 21, "1", 0, None},
    {"LB_rec",      Kind::List,   nullptr, 344, 192, 73, 89, "", 0, LightFace},
    {"CheckBox3",   Kind::Check,  nullptr, 24, 336, 121, 17, "播报顺序号尾数", 0, Checked},
    {"CheckBox1",   Kind::Check,  nullptr, 24, 360, 337, 17, "忽略连续相同码的重复报警、计数，只播报尾号", 0, Checked},
    {"btn_zongji",  Kind::Button, nullptr, 114, 384, 70, 25, "0", 16, None},
    {"btn_piji",    Kind::Button, nullptr, 304, 384, 65, 25, "0", 16, None},
    {"Lb_cuo",      Kind::List,   nullptr, 24, 444, 145, 280, "", 0, None},
    {"LB_chong",    Kind::List,   nullptr, 176, 444, 81, 280, "", 0, None},
    {"LB_shao",     Kind::List,   nullptr, 264, 444, 158, 280, "", 0, None},
    {"Button5",     Kind::Button, nullptr, 179, 728, 75, 25, "清空", 0, None},
    {"Button6",     Kind::Button, nullptr, 304, 728, 75, 25, "清空", 0, None},

    // Print area
    {"LB_alprn",  Kind::List,        "grp_prn", 15, 24, 121, 401, "", 13, None},
    {"btn_reprn", Kind::OwnerButton, "grp_prn", 24, 424, 105, 25, "全部清除重打印", 0, Disabled},
    {"Label12",   Kind::Label,       "grp_prn", 7, 488, 140, 13, "打印开始数,回车执行：", 0, None},
    {"Label13",   Kind::Label,       "grp_prn", 7, 535, 140, 13, "从上面起始打印数量：", 0, None},
    {"chk_BTprn", Kind::Check,       "grp_prn", 24, 600, 97, 17, "直接BT打印", 0, Disabled},
    {"btn_btprn", Kind::OwnerButton, "grp_prn", 40, 624, 75, 25, "选择BT模板", 0, None},
    {"Label8",       Kind::Label, nullptr, 504, 112, 81, 17, "打印批次列表：", 0, None},
    {"Edit_willprn", Kind::Edit,  nullptr, 496, 608, 113, 24, "1", 13, None},
    {"Edit_zheng",   Kind::Edit,  nullptr, 496, 656, 73, 24, "10", 13, None},

    // Settings area
    {"Label6",          Kind::Label,       "grp_shezhi", 14, 26, 108, 13, "设置条码枪COM口：", 0, None},
    {"Edit_comnum",     Kind::Edit,        "grp_shezhi", 136, 22, 41, 21, "com3", 0, None},
    {"btn_comset",      Kind::OwnerButton, "grp_shezhi", 182, 19, 67, 25, "保存COM口", 0, None},
    {"Label1",          Kind::Label,       "grp_shezhi", 14, 56, 79, 13, "服务器名称", 0, None},
    {"Edit_servername", Kind::Edit,        "grp_shezhi", 105, 48, 200, 21, "", 0, None},
    {"Label2",          Kind::Label,       "grp_shezhi", 14, 87, 75, 13, "数据库名称", 0, None},
    {"Edit_dataname",   Kind::Edit,        "grp_shezhi", 105, 80, 200, 21, "", 0, None},
    {"Label3",          Kind::Label,       "grp_shezhi", 14, 117, 59, 13, "用户名", 0, None},
    {"Edit_id",         Kind::Edit,        "grp_shezhi", 105, 112, 200, 21, "", 0, None},
    {"Label4",          Kind::Label,       "grp_shezhi", 14, 148, 51, 13, "密码", 0, None},
    {"Edit_mm",         Kind::Edit,        "grp_shezhi", 105, 144, 200, 21, "", 0, None},
    {"btn_databaseset", Kind::OwnerButton, "grp_shezhi", 158, 166, 91, 25, "保存数据库设置", 0, None},
    {"btn_txtimport",   Kind::OwnerButton, "grp_shezhi", 24, 218, 81, 25, "文本数据导入", 0, Disabled},
    {"btn_localdata",   Kind::OwnerButton, "grp_shezhi", 125, 218, 85, 25, "本机附表导入", 0, Disabled},
    {"Btn_sqlexec",     Kind::Button,      "grp_shezhi", 235, 218, 75, 25, "执行SQL", 0, Disabled},
    {"btn_picset",      Kind::OwnerButton, "grp_shezhi", 28, 264, 75, 25, "设置图片", 0, Disabled},
    {"chk_start",       Kind::Check,       "grp_shezhi", 176, 272, 97, 17, "开启对比", 0, Disabled},

    // Data area, children of the window
    {"DBGrid_a15show", Kind::Grid,       nullptr, 696, 450, 297, 275, "", 0, None},
    {"rg1",            Kind::RadioGroup, nullptr, 725, 728, 241, 33, "1未扫码|2已扫码", 0, None},
    {"btn_datato",     Kind::Button,     nullptr, 887, 735, 75, 25, "导出", 0, Disabled},
};
// clang-format on

QFont fontOf(const QWidget* window, int px, bool title) {
    QFont f = window->font();
    if (title) {
        f.setFamilies({"黑体", "SimHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"});
        f.setBold(true);
    }
    if (px > 0)
        f.setPixelSize(px);
    return f;
}

QWidget* make(const ControlSpec& s, QWidget* parent) {
    const QString text = QString::fromUtf8(s.text);
    switch (s.kind) {
    case Kind::Label:
        return new QLabel(text, parent);
    case Kind::Button:
    case Kind::OwnerButton:
        return new QPushButton(text, parent);
    case Kind::Edit: {
        auto* e = new QLineEdit(text, parent);
        e->setCursorPosition(0);
        return e;
    }
    case Kind::Check: {
        auto* c = new QCheckBox(text, parent);
        c->setChecked(s.flags & Checked);
        return c;
    }
    case Kind::List:
        return new QListWidget(parent);
    case Kind::Group:
        return new QGroupBox(text, parent);
    case Kind::Picture: {
        auto* l = new QLabel(parent);
        l->setProperty("picture", text); // loaded by TForm1 through libjpeg
        return l;
    }
    case Kind::Grid: {
        auto* t = new QTableView(parent);
        t->verticalHeader()->setDefaultSectionSize(18);
        return t;
    }
    case Kind::RadioGroup: {
        auto* g = new QGroupBox(parent);
        auto* buttons = new QButtonGroup(g);
        buttons->setObjectName(QString::fromUtf8(s.name) + "_items");
        const QStringList items = text.split('|');
        const int column = s.w / 3; // three columns
        for (int i = 0; i < items.size(); ++i) {
            auto* r = new QRadioButton(items[i], g);
            r->setObjectName(QString::fromUtf8(s.name) + "_" + QString::number(i));
            r->setGeometry(6 + i * column, 8, column - 6, 20);
            buttons->addButton(r, i);
        }
        return g;
    }
    }
    return nullptr;
}

} // namespace

void buildStationForm(QWidget* window) {
    for (const ControlSpec& s : kControls) {
        QWidget* parent =
            s.parent ? window->findChild<QWidget*>(QString::fromUtf8(s.parent)) : window;
        QWidget* w = make(s, parent);
        w->setObjectName(QString::fromUtf8(s.name));
        w->setGeometry(s.x, s.y, s.w, s.h);
        w->setFont(fontOf(window, s.fontPx, s.flags & Title));
        if (s.flags & Disabled)
            w->setEnabled(false);
        if (s.flags & Navy) {
            QPalette p = w->palette();
            p.setColor(QPalette::WindowText, QColor(0, 0, 128));
            w->setPalette(p);
        }
        if (s.flags & LightFace) {
            QPalette p = w->palette();
            p.setColor(QPalette::Base, p.color(QPalette::Light));
            w->setPalette(p);
        }
        w->show();
    }
    // The count box sits in the unused third column of the radio group.
    if (auto* b = window->findChild<QWidget*>("btn_datato"))
        b->raise();
}

} // namespace vx::app
