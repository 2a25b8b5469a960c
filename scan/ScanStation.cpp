#include "scan/ScanStation.h"

#include "scan/ScanJournal.h"

namespace vx::scan {

ScanStation::ScanStation(data::Connection& ADO1, data::Query& ADOQuery1, SoundPlayer& sound,
                         WindowActivator& window, std::string exeFolder)
    : engine(ADO1, ADOQuery1), m_sound(sound), m_window(window), m_folder(std::move(exeFolder)) {}

ScanOutcome ScanStation::com31RxChar(std::string_view scanText, const ScanSwitches& switches) {
    m_window.captureForeground();
    ScanOutcome out = engine.com31RxChar(scanText, switches);
    if (m_journal)
        m_journal->append(scanEvent(out));
    edit_rec = out.edit_rec;
    edit_recstr = out.edit_recstr;
    Label14 = out.Label14;
    if (out.announceDigit)
        m_sound.play(soundPath(std::string(1, *out.announceDigit) + ".wav"));
    if (out.Lb_cuo)
        Lb_cuo.append(*out.Lb_cuo);
    if (out.LB_chong)
        LB_chong.append(*out.LB_chong);
    if (out.LB_shao)
        LB_shao.append(*out.LB_shao);
    if (out.counted)
        counters.count();
    if (!out.flashTarget.empty())
        flash.start(out.flashTarget);
    if (out.alarm)
        alarm.start();
    if (out.bringToFront)
        m_window.bringToFront();
    if (out.LB_rec)
        LB_rec.append(*out.LB_rec);
    return out;
}

void ScanStation::reset() {
    LB_rec.clear();
    engine.lastScanned.assign(1, '0');
    counters = {};
    Label14.clear();
    edit_rec.clear();
    edit_recstr.clear();
    Lb_cuo.clear();
    LB_chong.clear();
    LB_shao.clear();
    flash.resetTicks();
}

void ScanStation::play_timerTimer() {
    if (alarm.tick())
        m_sound.play(soundPath("chong_d.wav"));
}

} // namespace vx::scan
