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
#include <iterator>
#include <variant>

namespace vx::app {
namespace {

enum Flag : unsigned {
    None = 0,
    Disabled = 1,
    Checked = 2,
    Navy = 4,
    Title = 8,      // the CJK bold title face
    LightFace = 16, // light 3-D face colour (LB_rec)
    Picture = 32,   // a label showing the JPEG picture named by its text
    Hidden = 64,    // shown by the window when it has something to show
    Alert = 128,    // red, bold and word-wrapped
};

// Where a control goes in StationControls; its type decides the widget made.
template <class W> using SlotOf = W* StationControls::*;
using Slot = std::variant<SlotOf<QLabel>, SlotOf<QPushButton>, SlotOf<QLineEdit>, SlotOf<QCheckBox>,
                          SlotOf<QListWidget>, SlotOf<QGroupBox>, SlotOf<QTableView>>;
using ParentSlot = SlotOf<QGroupBox>;
constexpr ParentSlot kWindow = nullptr;

struct ControlSpec {
    Slot slot;
    const char* name;
    ParentSlot parent; // kWindow: the window itself
    int x, y, w, h;
    const char* text;
    int fontPx; // 0: the window's font
    unsigned flags;
};

#define CONTROL(member) Slot{&StationControls::member}, #member
#define IN(group) &StationControls::group

// clang-format off
constexpr ControlSpec kControls[] = {
    // Header
    {CONTROL(img_logo), kWindow, 56, 8, 94, 94, ":/img_logo.jpg", 0, Picture},
    {CONTROL(Label5),   kWindow, 170, 41, 223, 48, "Vexora", 40, Navy | Title},
    {CONTROL(Label20),  kWindow, 401, 59, 109, 20, "V1.0 20260424", 16, Navy},
    {CONTROL(img_wx),   kWindow, 816, 16, 85, 85, ":/img_wx.jpg", 0, Picture},
    {CONTROL(lbl_progress),  kWindow, 520, 8, 202, 24, "", 0, Hidden},
    {CONTROL(btn_prncancel), kWindow, 728, 7, 80, 25, "取消打印", 0, Hidden},
    {CONTROL(lbl_prnfail),   kWindow, 520, 36, 206, 64, "", 0, Hidden | Alert},
    {CONTROL(btn_prnack),    kWindow, 732, 72, 76, 25, "知道了", 0, Hidden},

    // Group boxes first, so the window's own controls lie above them.
    {CONTROL(grp_scan),    kWindow, 10, 104, 423, 662, "扫码区", 0, None},
    {CONTROL(grp_prn),     kWindow, 480, 104, 152, 662, "打印区", 0, None},
    {CONTROL(grp_shezhi),  kWindow, 680, 104, 329, 305, "设置区", 0, None},
    {CONTROL(grp_a15show), kWindow, 680, 424, 329, 342, "数据区", 0, None},

    // Scan area, children of the group box
    {CONTROL(Label15),     IN(grp_scan), 16, 88, 84, 13, "扫到的顺序号：", 0, None},
    {CONTROL(Label21),     IN(grp_scan), 168, 58, 73, 13, "取值起始位", 0, None},
    {CONTROL(Label22),     IN(grp_scan), 264, 58, 57, 15, "取值位数", 0, None},
    {CONTROL(btn_selN),    IN(grp_scan), 352, 51, 41, 25, "保存", 0, None},
    {CONTROL(Label14),     IN(grp_scan), 12, 112, 329, 57, "", 35, None},
    {CONTROL(lbl1),        IN(grp_scan), 32, 200, 193, 13, "多列标签跳号扫描，共         列", 0, None},
    {CONTROL(ed_prnlie),   IN(grp_scan), 172, 196, 25, 21, "", 0, None},
    {CONTROL(Label17),     IN(grp_scan), 16, 288, 81, 13, "总扫码计数:", 0, None},
    {CONTROL(Label18),     IN(grp_scan), 200, 288, 97, 13, "小批扫码计数:", 0, None},
    {CONTROL(Label9),      IN(grp_scan), 27, 315, 57, 25, "错码:", 13, None},
    {CONTROL(Label10),     IN(grp_scan), 177, 315, 48, 20, "重码:", 13, None},
    {CONTROL(Label11),     IN(grp_scan), 281, 315, 56, 20, "缺码:", 13, None},
    {CONTROL(chk_quejing), IN(grp_scan), 328, 315, 81, 17, "忽略缺码", 12, None},
    {CONTROL(Button2),     IN(grp_scan), 48, 624, 75, 25, "清空", 0, None},

    // Scan area, children of the window
    {CONTROL(edit_rec),    kWindow, 24, 128, 393, 21, "扫描获取字符", 0, None},
    {CONTROL(edit_recstr), kWindow, 24, 158, 153, 21, "取n 位字符", 0, None},
    {CONTROL(ed_strstart), kWindow, 248, 158, 25, 21, "1", 0, None},
    {CONTROL(ed_strnum),   kWindow, 328, 158, 25, 21, "1", 0, None},
    {CONTROL(LB_rec),      kWindow, 344, 192, 73, 89, "", 0, LightFace},
    {CONTROL(CheckBox3),   kWindow, 24, 336, 121, 17, "播报顺序号尾数", 0, Checked},
    {CONTROL(CheckBox1),   kWindow, 24, 360, 337, 17, "忽略连续相同码的重复报警、计数，只播报尾号", 0, Checked},
    {CONTROL(btn_zongji),  kWindow, 114, 384, 70, 25, "0", 16, None},
    {CONTROL(btn_piji),    kWindow, 304, 384, 65, 25, "0", 16, None},
    {CONTROL(Lb_cuo),      kWindow, 24, 444, 145, 280, "", 0, None},
    {CONTROL(LB_chong),    kWindow, 176, 444, 81, 280, "", 0, None},
    {CONTROL(LB_shao),     kWindow, 264, 444, 158, 280, "", 0, None},
    {CONTROL(Button5),     kWindow, 179, 728, 75, 25, "清空", 0, None},
    {CONTROL(Button6),     kWindow, 304, 728, 75, 25, "清空", 0, None},

    // Print area
    {CONTROL(LB_alprn),     IN(grp_prn), 15, 24, 121, 401, "", 13, None},
    {CONTROL(btn_reprn),    IN(grp_prn), 24, 424, 105, 25, "全部清除重打印", 0, Disabled},
    {CONTROL(Label12),      IN(grp_prn), 7, 488, 140, 13, "打印开始数,回车执行：", 0, None},
    {CONTROL(Label13),      IN(grp_prn), 7, 535, 140, 13, "从上面起始打印数量：", 0, None},
    {CONTROL(chk_BTprn),    IN(grp_prn), 24, 600, 97, 17, "直接BT打印", 0, Disabled},
    {CONTROL(btn_btprn),    IN(grp_prn), 40, 624, 75, 25, "选择BT模板", 0, None},
    {CONTROL(Label8),       kWindow,     504, 112, 81, 17, "打印批次列表：", 0, None},
    {CONTROL(Edit_willprn), kWindow,     496, 608, 113, 24, "1", 13, None},
    {CONTROL(Edit_zheng),   kWindow,     496, 656, 73, 24, "10", 13, None},

    // Settings area
    {CONTROL(Label6),          IN(grp_shezhi), 14, 26, 108, 13, "设置条码枪COM口：", 0, None},
    {CONTROL(Edit_comnum),     IN(grp_shezhi), 136, 22, 41, 21, "com3", 0, None},
    {CONTROL(btn_comset),      IN(grp_shezhi), 182, 19, 67, 25, "保存COM口", 0, None},
    {CONTROL(Label1),          IN(grp_shezhi), 14, 56, 79, 13, "服务器名称", 0, None},
    {CONTROL(Edit_servername), IN(grp_shezhi), 105, 48, 200, 21, "", 0, None},
    {CONTROL(Label2),          IN(grp_shezhi), 14, 87, 75, 13, "数据库名称", 0, None},
    {CONTROL(Edit_dataname),   IN(grp_shezhi), 105, 80, 200, 21, "", 0, None},
    {CONTROL(Label3),          IN(grp_shezhi), 14, 117, 59, 13, "用户名", 0, None},
    {CONTROL(Edit_id),         IN(grp_shezhi), 105, 112, 200, 21, "", 0, None},
    {CONTROL(Label4),          IN(grp_shezhi), 14, 148, 51, 13, "密码", 0, None},
    {CONTROL(Edit_mm),         IN(grp_shezhi), 105, 144, 200, 21, "", 0, None},
    {CONTROL(btn_databaseset), IN(grp_shezhi), 158, 166, 91, 25, "保存数据库设置", 0, None},
    {CONTROL(btn_txtimport),   IN(grp_shezhi), 24, 218, 81, 25, "文本数据导入", 0, Disabled},
    {CONTROL(btn_localdata),   IN(grp_shezhi), 125, 218, 85, 25, "本机附表导入", 0, Disabled},
    {CONTROL(Btn_sqlexec),     IN(grp_shezhi), 235, 218, 75, 25, "执行SQL", 0, Disabled},
    {CONTROL(btn_picset),      IN(grp_shezhi), 28, 264, 75, 25, "设置图片", 0, Disabled},
    {CONTROL(chk_start),       IN(grp_shezhi), 176, 272, 97, 17, "开启对比", 0, Disabled},

    // Data area, children of the window
    {CONTROL(DBGrid_a15show), kWindow, 696, 450, 297, 275, "", 0, None},
    {CONTROL(rg1),            kWindow, 725, 728, 241, 33, "", 0, None},
    {CONTROL(btn_datato),     kWindow, 887, 735, 75, 25, "导出", 0, Disabled},
};
// clang-format on

#undef CONTROL
#undef IN

// Every member of StationControls but rg1Items is one row of the table, and
// every parent is made before its children: checked when this file compiles.
constexpr bool eachSlotOnce() {
    for (std::size_t i = 0; i < std::size(kControls); ++i)
        for (std::size_t j = i + 1; j < std::size(kControls); ++j)
            if (kControls[i].slot == kControls[j].slot)
                return false;
    return true;
}
constexpr bool parentsFirst() {
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        if (kControls[i].parent == kWindow)
            continue;
        bool made = false;
        for (std::size_t j = 0; j < i; ++j)
            made = made || kControls[j].slot == Slot{kControls[i].parent};
        if (!made)
            return false;
    }
    return true;
}
static_assert(sizeof(StationControls) == (std::size(kControls) + 1) * sizeof(void*));
static_assert(eachSlotOnce());
static_assert(parentsFirst());

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

template <class W> W* make(const ControlSpec& s, QWidget* parent);

template <> QLabel* make(const ControlSpec& s, QWidget* parent) {
    if (s.flags & Picture) {
        auto* l = new QLabel(parent);
        l->setProperty("picture", QString::fromUtf8(s.text)); // loaded by TForm1 through libjpeg
        return l;
    }
    return new QLabel(QString::fromUtf8(s.text), parent);
}
template <> QPushButton* make(const ControlSpec& s, QWidget* parent) {
    return new QPushButton(QString::fromUtf8(s.text), parent);
}
template <> QLineEdit* make(const ControlSpec& s, QWidget* parent) {
    auto* e = new QLineEdit(QString::fromUtf8(s.text), parent);
    e->setCursorPosition(0);
    return e;
}
template <> QCheckBox* make(const ControlSpec& s, QWidget* parent) {
    auto* c = new QCheckBox(QString::fromUtf8(s.text), parent);
    c->setChecked(s.flags & Checked);
    return c;
}
template <> QListWidget* make(const ControlSpec&, QWidget* parent) {
    return new QListWidget(parent);
}
template <> QGroupBox* make(const ControlSpec& s, QWidget* parent) {
    return new QGroupBox(QString::fromUtf8(s.text), parent);
}
template <> QTableView* make(const ControlSpec&, QWidget* parent) {
    auto* t = new QTableView(parent);
    t->verticalHeader()->setDefaultSectionSize(18);
    return t;
}

template <class W> struct Pointee;
template <class W> struct Pointee<W * StationControls::*> { using type = W; };

void applyLook(QWidget* w, const ControlSpec& s, const QWidget* window) {
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
    if (s.flags & Alert) {
        QPalette p = w->palette();
        p.setColor(QPalette::WindowText, QColor(255, 0, 0));
        w->setPalette(p);
        QFont f = w->font();
        f.setBold(true);
        w->setFont(f);
        if (auto* l = qobject_cast<QLabel*>(w)) {
            l->setWordWrap(true);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
    }
    w->setVisible(!(s.flags & Hidden));
}

// The items of a radio group, laid out in three columns.
QButtonGroup* addRadioItems(QGroupBox* group, const QStringList& items) {
    auto* buttons = new QButtonGroup(group);
    buttons->setObjectName(group->objectName() + "_items");
    const int column = group->width() / 3;
    for (int i = 0; i < items.size(); ++i) {
        auto* r = new QRadioButton(items[i], group);
        r->setObjectName(group->objectName() + "_" + QString::number(i));
        r->setGeometry(6 + i * column, 8, column - 6, 20);
        buttons->addButton(r, i);
    }
    return buttons;
}

// The caption "多列标签跳号扫描，共         列" holds its edit box in the gap of
// blanks. How wide the text runs depends on the font the system finds, so
// when its last word would start under the box, the letters are spaced out
// until it starts just right of the box. (Word spacing would not do: it
// leaves a run of blanks between CJK characters as it is.)
void fitGapAroundBox(QLabel* caption, const QWidget* box) {
    const QString text = caption->text();
    const qsizetype gapEnd = text.lastIndexOf(' ') + 1;
    if (gapEnd == 0)
        return;
    QFont f = caption->font();
    const int origin = caption->x() + caption->contentsRect().left();
    const qreal wanted = box->geometry().right() + 3 - origin;
    const qreal now = QFontMetricsF(f).horizontalAdvance(text.left(gapEnd));
    if (now >= wanted)
        return;
    f.setLetterSpacing(QFont::AbsoluteSpacing, (wanted - now) / qreal(gapEnd));
    caption->setFont(f);
}

} // namespace

StationControls buildStationForm(QWidget* window) {
    StationControls c{};
    for (const ControlSpec& s : kControls) {
        QWidget* parent = s.parent == kWindow ? window : static_cast<QWidget*>(c.*s.parent);
        std::visit(
            [&](auto slot) {
                using W = typename Pointee<decltype(slot)>::type;
                W* w = make<W>(s, parent);
                applyLook(w, s, window);
                c.*slot = w;
            },
            s.slot);
    }
    c.rg1Items = addRadioItems(c.rg1, {"1未扫码", "2已扫码"});
    // The count box sits in the unused third column of the radio group.
    c.btn_datato->raise();
    fitGapAroundBox(c.lbl1, c.ed_prnlie);
    return c;
}

} // namespace vx::app
