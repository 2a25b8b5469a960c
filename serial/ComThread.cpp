#include "serial/ComThread.h"

#include "serial/ComPort.h"
#include "serial/ThreadSync.h"

#include <algorithm>

namespace vx::serial {

TComThread::TComThread(TCustomComPort& port, ComDevice& device, unsigned generation,
                       std::shared_ptr<TCustomComPort*> portAlive)
    : m_port(port), m_device(device), m_generation(generation), m_portAlive(portAlive),
      m_events(port.Events),
      m_rules(framingRulesFor(port.buildDeviceControlBlock(), port.Buffer().InputSize())),
      m_origin(std::chrono::steady_clock::now()), m_framer(m_rules) {
    m_device.resetStop();
    m_device.setEventMask(eventsToMask(m_events)); // its result is ignored
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

TComThread::Time TComThread::now() const {
    return std::chrono::duration_cast<Time>(std::chrono::steady_clock::now() - m_origin);
}

void TComThread::readReceived() {
    char buffer[512];
    for (;;) {
        int got = 0;
        // A failed read leaves the bytes where they are; the next wait tells
        // whether the device is still there.
        if (m_device.read(buffer, sizeof buffer, got) != 0 || got <= 0)
            return;
        // The bytes carry the time the read returned them.
        m_framer.feed(std::string_view(buffer, static_cast<std::size_t>(got)), now());
        if (got < static_cast<int>(sizeof buffer))
            return;
    }
}

void TComThread::takeScans(std::vector<std::string>& scans) {
    for (auto& scan : scans) {
        m_port.m_received.push(std::move(scan), m_rules.limit);
        m_batches.push_back(comEvent(evRxChar));
    }
    scans.clear();
}

bool TComThread::delivering() {
    std::lock_guard lock(m_mutex);
    return m_delivering;
}

void TComThread::waitDelivered() {
    std::unique_lock lock(m_mutex);
    m_delivered.wait(lock, [&] { return !m_delivering; });
}

void TComThread::handOver() {
    while (!m_batches.empty() && !delivering()) {
        ComPendingEvents = m_batches.front();
        m_batches.pop_front();
        DeliverEvents();
    }
}

void TComThread::Execute() {
    std::vector<std::string> scans;
    bool lost = false;
    for (;;) {
        int timeoutMs = -1;
        if (const auto end = m_framer.deadline()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*end - now());
            timeoutMs = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        std::uint32_t reported = 0;
        WaitOutcome outcome = m_device.waitEvents(reported, timeoutMs);
        // A wait that fails outright cannot be retried into anything useful:
        // no more events will come, so the port is as good as gone and is
        // reported so, rather than looking open with nobody listening. (A
        // device that merely cannot report events says NoReport and is
        // polled below.)
        if (outcome == WaitOutcome::Lost || outcome == WaitOutcome::Failed) {
            lost = true;
            break;
        }
        if (outcome == WaitOutcome::Stopped)
            break;
        if (outcome == WaitOutcome::NoReport ||
            (outcome == WaitOutcome::Events && maskToEvents(reported) == 0)) {
            // Nothing reported, at once: rather than asking again in a tight
            // loop, look at the input queue after a short pause.
            const int pauseMs =
                timeoutMs < 0 ? kUnreportedPollMs : std::min(timeoutMs, kUnreportedPollMs);
            if (m_device.pause(pauseMs) == WaitOutcome::Stopped)
                break;
            reported = (m_events & comEvent(evRxChar)) ? EventMask::RxChar : 0;
        }
        TComEvents events = maskToEvents(reported) & m_events;
        if (events & comEvent(evRxChar))
            readReceived();
        events &= static_cast<TComEvents>(~comEvent(evRxChar)); // scans go as batches of their own
        if (events)
            m_batches.push_back(events);
        m_framer.collect(now(), scans);
        takeScans(scans);
        handOver();
    }
    if (lost) {
        // No more bytes can come: the scan in progress is over, and what has
        // been received is still delivered before the loss is reported.
        m_framer.flush(scans);
        takeScans(scans);
        for (;;) {
            waitDelivered();
            if (m_batches.empty())
                break;
            handOver();
        }
    }
    // A batch under way is run to its end before the queues are purged.
    waitDelivered();
    m_device.setEventMask(0);
    m_device.purge(Purge::TxClear | Purge::RxClear);
    m_framer.clear();
    m_port.m_received.clear();
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
    const auto run = [this, events] {
        try {
            m_port.RunEventHandlers(events);
        } catch (...) {
            // A handler's failure (a failed read, say) ends that batch only:
            // the port stays open and later scans are still delivered.
        }
    };
    if (m_port.SyncMethod() == smNone) {
        run();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_delivering = true;
    }
    UiSync::instance().postToUi([this, run] {
        run();
        {
            std::lock_guard lock(m_mutex);
            m_delivering = false;
        }
        m_delivered.notify_all();
        m_device.wake();
    });
}

} // namespace vx::serial
