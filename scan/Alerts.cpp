#include "scan/Alerts.h"

#include "scan/ScanJournal.h"

#include <cctype>

namespace vx::scan {

void ResultList::append(std::string entry) {
    m_items.push_back(std::move(entry));
    m_top = static_cast<int>(m_items.size()) - 1;
}

void ResultList::clear() {
    m_items.clear();
    m_top = 0;
}

void ResultList::removeSelected(int index) {
    if (index < 0 || index >= static_cast<int>(m_items.size()))
        return;
    m_items.erase(m_items.begin() + index);
    if (m_top >= static_cast<int>(m_items.size()))
        m_top = m_items.empty() ? 0 : static_cast<int>(m_items.size()) - 1;
}

void FlashState::start(const std::string& target) {
    m_target = target;
    m_enabled = true;
}

void FlashState::tick() {
    if (!m_enabled)
        return;
    if (m_ticks == kInversions) {
        m_ticks = 0;
        m_visible = {true, true, true};
        m_enabled = false;
        return;
    }
    std::string t;
    for (char c : m_target)
        t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "label9")
        m_visible[Label9] = !m_visible[Label9];
    else if (t == "label10")
        m_visible[Label10] = !m_visible[Label10];
    else if (t == "label11")
        m_visible[Label11] = !m_visible[Label11];
    ++m_ticks;
}

bool AlarmState::tick() {
    if (!m_enabled)
        return false;
    if (!m_pending) {
        m_pending = true;
        return false;
    }
    m_pending = false;
    m_enabled = false;
    return true;
}

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

void ScanStation::play_timerTimer() {
    if (alarm.tick())
        m_sound.play(soundPath("chong_d.wav"));
}

} // namespace vx::scan
