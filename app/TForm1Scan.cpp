// The scan area's handlers: the received-character handler that runs the
// scan verification, the flash and alarm timers, the counter and list
// buttons, and how the window shows what the scan station holds.

#include "app/TForm1.h"
#include "app/UiProbe.h"
#include "data/ControlNames.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace vx::app {

void TForm1::com31RxChar(serial::TCustomComPort& Sender, int Count) {
    std::string scanText;
    Sender.ReadText(scanText, Count);
    scan::ScanSwitches sw;
    sw.chk_start = chk_start->isChecked();
    sw.CheckBox1 = CheckBox1->isChecked();
    sw.CheckBox3 = CheckBox3->isChecked();
    sw.chk_quejing = chk_quejing->isChecked();
    // A connection the engine found unusable is closed: show it so.
    if (const auto out = station.com31RxChar(scanText, sw); out.databaseLost) {
        journalDatabase(journal::JournalWords::Lost, out.error);
        showWhatIsOpen();
    }
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

void TForm1::btn_zongjiClick() {
    station.btn_zongjiClick();
    renderResults();
}

void TForm1::btn_pijiClick() {
    station.btn_pijiClick();
    renderResults();
}

void TForm1::Button2Click() {
    station.Button2Click();
    renderResults();
}

void TForm1::Button5Click() {
    station.Button5Click();
    renderResults();
}

void TForm1::Button6Click() {
    station.Button6Click();
    renderResults();
}

void TForm1::LB_chongDblClick() {
    station.LB_chongDblClick(LB_chong->currentRow());
    renderResults();
}

void TForm1::LB_shaoDblClick() {
    station.LB_shaoDblClick(LB_shao->currentRow());
    renderResults();
}

// An entry on one line: control bytes of a scan by name, since the control
// pictures (U+2400 …) are missing from the window's fonts.
void TForm1::renderList(QListWidget* w, const scan::ResultList& list) {
    const auto& items = list.items();
    if (static_cast<std::size_t>(w->count()) + 1 == items.size()) {
        w->addItem(fromLocal8Bit(data::withControlNames(items.back())));
    } else if (static_cast<std::size_t>(w->count()) != items.size()) {
        w->clear();
        for (const auto& i : items)
            w->addItem(fromLocal8Bit(data::withControlNames(i)));
    }
    if (w->count() > 0)
        w->scrollToItem(w->item(list.topIndex()), QAbstractItemView::PositionAtTop);
}

void TForm1::renderScan() {
    edit_rec->setText(fromLocal8Bit(station.edit_rec));
    edit_recstr->setText(fromLocal8Bit(station.edit_recstr));
    Label14->setText(fromUtf8(station.Label14));
    renderResults();
}

void TForm1::renderResults() {
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
    if (m_probe)
        m_probe->update();
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

} // namespace vx::app
