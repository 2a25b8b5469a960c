#include "app/UiProbe.h"

#include "app/FormLayout.h"
#include "app/TForm1.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QTextStream>
#include <chrono>
#include <memory>

namespace vx::app {

std::unique_ptr<UiProbe> UiProbe::fromEnvironment(const StationControls& controls) {
    const QString path = qEnvironmentVariable("VEXORA_UI_PROBE");
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<UiProbe>(controls, path);
}

UiProbe::UiProbe(const StationControls& controls, QString path)
    : m_controls(controls), m_path(std::move(path)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { update(); });
    m_timer.start(50);
}

QString UiProbe::describe() const {
    // An item's own text, or what it stands for where the list shows more
    // (the batch list: the range, without its job's state).
    auto items = [](QListWidget* w, int role = Qt::DisplayRole) {
        QStringList l;
        for (int i = 0; i < w->count(); ++i) {
            const QVariant v = w->item(i)->data(role);
            l << (v.isValid() ? v.toString() : w->item(i)->text());
        }
        return l.join('|');
    };
    auto colour = [](QPushButton* b) {
        const QColor c = b->palette().color(QPalette::ButtonText);
        return c == kGreen ? "green" : c == kBlack ? "black" : "default";
    };
    const StationControls& c = m_controls;
    QString state;
    QTextStream out(&state);
    out << "Label14=" << c.Label14->text() << "\n"
        << "edit_rec=" << QString(c.edit_rec->text()).replace("\r", "\\r").replace("\n", "\\n")
        << "\n"
        << "edit_recstr=" << c.edit_recstr->text() << "\n"
        << "Lb_cuo=" << items(c.Lb_cuo) << "\n"
        << "LB_chong=" << items(c.LB_chong) << "\n"
        << "LB_shao=" << items(c.LB_shao) << "\n"
        << "LB_rec=" << items(c.LB_rec) << "\n"
        << "btn_zongji=" << c.btn_zongji->text() << "\n"
        << "btn_piji=" << c.btn_piji->text() << "\n"
        << "btn_comset=" << colour(c.btn_comset) << "\n"
        << "btn_databaseset=" << colour(c.btn_databaseset) << "\n"
        << "chk_start_enabled=" << int(c.chk_start->isEnabled()) << "\n"
        << "chk_start_checked=" << int(c.chk_start->isChecked()) << "\n"
        << "LB_alprn=" << items(c.LB_alprn, Qt::UserRole) << "\n"
        << "LB_alprn_shown=" << items(c.LB_alprn) << "\n"
        << "lbl_progress=" << (c.lbl_progress->isVisible() ? c.lbl_progress->text() : "") << "\n"
        << "lbl_prnfail=" << (c.lbl_prnfail->isVisible() ? c.lbl_prnfail->text() : "") << "\n"
        << "Edit_willprn=" << c.Edit_willprn->text() << "\n"
        << "chk_BTprn_enabled=" << int(c.chk_BTprn->isEnabled()) << "\n"
        << "chk_BTprn_checked=" << int(c.chk_BTprn->isChecked()) << "\n"
        << "btn_picset=" << colour(c.btn_picset) << "\n";
    return state;
}

void UiProbe::update() {
    const QString state = describe();
    if (state == m_last)
        return;
    m_last = state;
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.write(QString("seq=%1\nnanos=%2\n")
                .arg(++m_seq)
                .arg(std::chrono::steady_clock::now().time_since_epoch().count())
                .toUtf8());
    f.write(state.toUtf8());
    f.commit();
}

} // namespace vx::app
