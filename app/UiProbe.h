#pragma once

// A test and benchmark hook, not a feature of the station: the end-to-end
// tests and bench_scan_latency (through tests/support/LiveStation) read the
// window through it. With VEXORA_UI_PROBE unset no probe exists.

#include <QString>
#include <QTimer>
#include <memory>

namespace vx::app {

struct StationControls;

// The diagnostics probe: with $VEXORA_UI_PROBE naming a file, what the window
// shows (verdict, lists, counters, caption colours, comparison switch, batch
// list, start box, direct-print switch) is
// written there after every change, with a change counter and a monotonic
// time stamp, for the end-to-end test and the scan latency bench.
class UiProbe {
public:
    // A probe on $VEXORA_UI_PROBE, or none when it is not set.
    static std::unique_ptr<UiProbe> fromEnvironment(const StationControls& controls);

    UiProbe(const StationControls& controls, QString path);
    // Writes the file when what the window shows has changed.
    void update();

private:
    QString describe() const;

    const StationControls& m_controls;
    QString m_path;
    QString m_last;
    unsigned m_seq = 0;
    // Changes that no handler reports (a flash, a click the window handles
    // itself) are caught by looking again every 50 ms.
    QTimer m_timer;
};

} // namespace vx::app
