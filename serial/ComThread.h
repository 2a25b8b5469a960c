#pragma once

#include "serial/ComTypes.h"
#include "serial/ScanFraming.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace vx::serial {

class TCustomComPort;
class ComDevice;

// A device that cannot report events (a driver without event waits, Wine's
// serial emulation) is looked at this often instead; short against the
// terminator silence, so that its scans still end on time.
constexpr int kUnreportedPollMs = 2;

// The event thread of an open port. It waits on the device for events,
// reads received bytes as they come and frames them into scans, and hands
// each batch of events to the user-interface thread, one at a time: a scan
// is one batch with evRxChar. It keeps reading while a batch is being
// handled there, so that every byte carries the time it came.
class TComThread {
public:
    TComThread(TCustomComPort& port, ComDevice& device, unsigned generation,
               std::shared_ptr<TCustomComPort*> portAlive);
    // The stop handshake: signals the thread and waits for its end while
    // still running the calls it hands over.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // The batch handed over last; read by the handlers.
    TComEvents ComPendingEvents = 0;

private:
    using Time = ScanFramer::Time;

    void Execute();
    // Hands ComPendingEvents over; returns before the handlers have run
    // unless the port's SyncMethod is smNone.
    void DeliverEvents();
    // Reads every byte waiting into the framer.
    void readReceived();
    // Moves the scans that have ended into the port's queue, one batch each.
    void takeScans(std::vector<std::string>& scans);
    // Starts the next hand-over when none is under way.
    void handOver();
    void waitDelivered();
    bool delivering();
    Time now() const;

    TCustomComPort& m_port;
    ComDevice& m_device;
    unsigned m_generation;
    std::weak_ptr<TCustomComPort*> m_portAlive;
    const TComEvents m_events;
    const FramingRules m_rules;
    const std::chrono::steady_clock::time_point m_origin;
    ScanFramer m_framer;
    std::deque<TComEvents> m_batches; // waiting to be handed over, oldest first

    std::mutex m_mutex;
    std::condition_variable m_delivered;
    bool m_delivering = false;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

} // namespace vx::serial
