#pragma once

#include "serial/ComTypes.h"

#include <atomic>
#include <memory>
#include <thread>

namespace vx::serial {

class TCustomComPort;
class ComDevice;

// How long the line must stay quiet before received bytes are delivered as
// one scan. A scanner sends a code as one burst, but it reaches us in pieces:
// at 9600 baud a 20-byte code takes 21 ms on the wire, and USB-serial
// adapters flush their buffers every 16 ms. A gap shorter than that would
// still split scans; scans follow each other hundreds of ms apart.
constexpr int kQuietGapMs = 30;

// The event thread of an open port: it waits on the device for events and
// hands each batch to the user-interface thread, blocking until the
// handlers have run there.
class TComThread {
public:
    TComThread(TCustomComPort& port, ComDevice& device, unsigned generation,
               std::shared_ptr<TCustomComPort*> portAlive);
    // The stop handshake: signals the thread and waits for its end while
    // still running the calls it hands over.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // The batch of the last completed wait; read by the handlers.
    TComEvents ComPendingEvents = 0;

private:
    void Execute();
    void DeliverEvents();
    // Waits for the line to go quiet; false when the stop signal came.
    bool settle();
    int waitingCount();

    TCustomComPort& m_port;
    ComDevice& m_device;
    unsigned m_generation;
    std::weak_ptr<TCustomComPort*> m_portAlive;
    int m_runawayLimit;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

} // namespace vx::serial
