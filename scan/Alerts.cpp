#include "scan/Alerts.h"

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

} // namespace vx::scan
