#include "serial/ComThread.h"

#include "serial/ComPort.h"
#include "serial/ThreadSync.h"

namespace vx::serial {

TComThread::TComThread(TCustomComPort& port, ComDevice& device, unsigned generation,
                       std::shared_ptr<TCustomComPort*> portAlive)
    : m_port(port), m_device(device), m_generation(generation), m_portAlive(portAlive),
      m_runawayLimit(port.Buffer().InputSize()) {
    m_device.resetStop();
    m_device.setEventMask(eventsToMask(port.Events)); // its result is ignored
    m_thread = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
    m_device.requestStop();
    std::this_thread::yield();
    UiSync& sync = UiSync::instance();
    // A batch handed over before the thread saw the stop signal runs here,
    // inside ClosePort, while the device is still open.
    while (!m_finished.load()) {
        sync.drain();
        if (m_finished.load())
            break;
        sync.waitForWork(std::chrono::milliseconds(1000));
    }
    m_thread.join();
    sync.drain();
    m_device.resetStop();
}

int TComThread::waitingCount() {
    // The queue count comes with the error state; on Win32 reading it also
    // clears the error flags, which then no longer reach OnError.
    std::uint32_t errors = 0;
    int waiting = 0;
    return m_device.clearErrors(errors, waiting) == 0 ? waiting : 0;
}

bool TComThread::settle() {
    int last = waitingCount();
    while (last < m_runawayLimit) {
        if (m_device.pause(kQuietGapMs) == WaitOutcome::Stopped)
            return false;
        const int now = waitingCount();
        if (now <= last)
            break;
        last = now;
    }
    return true;
}

void TComThread::Execute() {
    bool lost = false;
    for (;;) {
        std::uint32_t reported = 0;
        const WaitOutcome outcome = m_device.waitEvents(reported);
        if (outcome == WaitOutcome::Lost) {
            lost = true;
            break;
        }
        if (outcome != WaitOutcome::Events)
            break; // stopped, or the wait itself failed
        const TComEvents events = maskToEvents(reported);
        if (events == 0)
            continue;
        if ((events & comEvent(evRxChar)) && !settle())
            break;
        ComPendingEvents = events;
        DeliverEvents();
    }
    m_device.setEventMask(0);
    m_device.purge(Purge::TxClear | Purge::RxClear);
    if (lost) {
        // Posted, not waited for: the UI side joins this thread when it
        // handles the loss, so it must not be blocked on us.
        auto alive = m_portAlive;
        const unsigned generation = m_generation;
        UiSync::instance().postToUi([alive, generation] {
            if (auto port = alive.lock())
                (*port)->DeviceLost(generation);
        });
    }
    m_finished.store(true);
    UiSync::instance().wake();
}

void TComThread::DeliverEvents() {
    const TComEvents events = ComPendingEvents;
    try {
        if (m_port.SyncMethod() == smNone)
            m_port.RunEventHandlers(events);
        else
            UiSync::instance().runOnUi([this, events] { m_port.RunEventHandlers(events); });
    } catch (...) {
        // A handler's failure (a failed read, say) ends that batch only:
        // the port stays open and later scans are still delivered.
    }
}

} // namespace vx::serial
