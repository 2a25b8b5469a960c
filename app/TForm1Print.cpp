// The print area: the start box as start-up fills it, and its handlers.

#include "app/TForm1.h"

#include <QLineEdit>
#include <limits>

namespace vx::app {

// At start-up: the start box shows the number after the held last printed
// one.
void TForm1::showStartNumber(const IniFile& ini) {
    // A missing last printed number is stored as 0 but held as empty, and
    // the start box keeps its 1.
    if (m_lastPrinted.empty()) {
        try {
            ini.writeString("print", "lastnum", "0");
        } catch (const std::exception& ex) {
            m_env.dialogs->message(QString::fromLocal8Bit(ex.what()));
        }
    } else if (const auto last = data::parseInteger(m_lastPrinted); !last) {
        m_env.dialogs->message(
            QString("config.ini 中 [print] lastnum=%1 不是整数，打印开始数保持为 1。")
                .arg(text(m_lastPrinted)));
    } else if (*last == std::numeric_limits<std::int64_t>::max()) {
        // No number follows the largest one.
        m_env.dialogs->message(
            QString("config.ini 中 [print] lastnum=%1 已是最大编号，打印开始数保持为 1。")
                .arg(text(m_lastPrinted)));
    } else {
        Edit_willprn->setText(QString::number(*last + 1));
    }
}

void TForm1::Edit_willprnKeyDown(int key) {
    if (key == 112) // F1
        openHelp();
}

} // namespace vx::app
