#pragma once

#include "journal/Journal.h"
#include "scan/Alerts.h"
#include "scan/ScanEngine.h"

#include <string>
#include <string_view>

namespace vx::scan {

// The scan side of the station without its widgets: the engine, the four
// result lists, the counters, flash and alarm, and the sounds. The window
// calls in from its handlers and renders what it holds.
class ScanStation {
public:
    ScanStation(data::Connection& ADO1, data::Query& ADOQuery1, SoundPlayer& sound,
                WindowActivator& window, std::string exeFolder);

    ScanEngine engine;
    ResultList Lb_cuo, LB_chong, LB_shao, LB_rec;
    ScanCounters counters;
    FlashState flash;
    AlarmState alarm;
    std::string Label14, edit_rec, edit_recstr;

    // One scan from the port: run the engine, put the verdict on the
    // journal, then carry out its outcome (nothing is shown or heard before
    // the journal has the row).
    ScanOutcome com31RxChar(std::string_view scanText, const ScanSwitches& switches);
    // The station's journal, or none; not owned.
    void setJournal(journal::Journal* journal) { m_journal = journal; }
    void Timer_shanTimer() { flash.tick(); }
    void play_timerTimer();
    void btn_zongjiClick() { counters.total = 0; }
    void btn_pijiClick() { counters.batch = 0; }
    void Button2Click() { Lb_cuo.clear(); }
    void Button5Click() { LB_chong.clear(); }
    void Button6Click() { LB_shao.clear(); }
    void LB_chongDblClick(int selected) { LB_chong.removeSelected(selected); }
    void LB_shaoDblClick(int selected) { LB_shao.removeSelected(selected); }
    // The scan side of "全部清除重打印" once answered Yes: the lists, the
    // counters, the scan and verdict shown cleared, the last scanned number
    // back to "0", and a running flash given its 40 inversions again.
    void reset();

    std::string soundPath(const std::string& name) const { return m_folder + name; }

private:
    SoundPlayer& m_sound;
    WindowActivator& m_window;
    std::string m_folder;
    journal::Journal* m_journal = nullptr;
};

} // namespace vx::scan
