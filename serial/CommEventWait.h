#pragma once

// What the Win32 device decides around its calls: which errors mean the
// device is gone, how modem status bits read, and what its event wait makes
// of each result. It is plain code, built on every platform, so that the
// tests run it here; ComDeviceWin32.cpp keeps only the calls and checks at
// compile time that the numbers below are the system's.

#include "serial/ComDevice.h"

#include <cstdint>

namespace vx::serial {

namespace win32 {
// System error numbers (GetLastError) the decisions look at.
constexpr std::uint32_t ErrorFileNotFound = 2, ErrorAccessDenied = 5, ErrorInvalidHandle = 6,
                        ErrorBadCommand = 22, ErrorGenFailure = 31, ErrorNotSupported = 50,
                        ErrorOperationAborted = 995, ErrorIoIncomplete = 996, ErrorIoPending = 997,
                        ErrorDeviceNotConnected = 1167, ErrorDeviceRemoved = 1617;
// WaitForMultipleObjects results and its endless timeout.
constexpr std::uint32_t WaitObject0 = 0, WaitTimeout = 258, WaitFailed = 0xFFFFFFFF,
                        Infinite = 0xFFFFFFFF;
// GetCommModemStatus bits.
constexpr std::uint32_t MsCtsOn = 0x10, MsDsrOn = 0x20, MsRingOn = 0x40, MsRlsdOn = 0x80;

// Errors of a wait or read that mean the device itself went away (a USB
// adapter unplugged): the handle is dead and every further call fails the
// same way.
bool deviceGone(std::uint32_t error);

// The outcome of GetCommModemStatus: 0 with lines filled in, or the error
// to raise. A driver that has no modem lines (virtual COM ports of
// Bluetooth scanners, Wine) answers "not supported": that reads as every
// line off, as on POSIX terminals without lines.
int modemStatusResult(bool ok, std::uint32_t error, std::uint32_t bits, ModemSignals& lines);

// The outcome of a pause on {stop, wake}: WaitForMultipleObjects' result.
WaitOutcome pauseOutcome(std::uint32_t waitResult);
} // namespace win32

// The calls of the Win32 event wait, one function each.
class CommWaitCalls {
public:
    virtual ~CommWaitCalls() = default;
    // WaitCommEvent into the device's own mask and overlapped record: true
    // when it completed at once, else false with GetLastError in error.
    virtual bool startWait(std::uint32_t& error) = 0;
    // WaitForMultipleObjects on {stop, wake, the wait's event}, first
    // winning ties.
    virtual std::uint32_t waitObjects(std::uint32_t timeoutMs) = 0;
    // GetOverlappedResult of the wait (blocking when asked); mask gets what
    // the device reported.
    virtual bool finishWait(bool block, std::uint32_t& mask, std::uint32_t& error) = 0;
    // SetCommMask with 0 and CancelIo: a pending wait completes.
    virtual void cancelWait() = 0;
};

// The device event wait of the Win32 device. A wait that is still pending
// when a time-out, a wake or the stop signal ends waitEvents stays pending
// for the next call (a second WaitCommEvent must not be started over it);
// abandon() ends and reaps it before the mask is cleared or the handle is
// closed, since the driver writes into the record until then.
class CommEventWait {
public:
    explicit CommEventWait(CommWaitCalls& calls) : m_calls(calls) {}
    WaitOutcome wait(std::uint32_t& reported, int timeoutMs);
    void abandon();
    bool pending() const { return m_pending; }

private:
    CommWaitCalls& m_calls;
    bool m_pending = false;
};

// The calls of the Win32 device's read, one function each.
class CommReadCalls {
public:
    virtual ~CommReadCalls() = default;
    // ReadFile of up to count bytes with the read's own overlapped record:
    // true when it completed at once (got holds the bytes read), else false
    // with GetLastError in error.
    virtual bool startRead(char* buffer, std::uint32_t count, std::uint32_t& got,
                           std::uint32_t& error) = 0;
    // CancelIoEx of that read alone; an event wait of the device stays.
    virtual void cancelRead() = 0;
    // GetOverlappedResult of the read, waiting for it to end: got is what
    // it transferred, even when it ended cancelled.
    virtual bool finishRead(std::uint32_t& got, std::uint32_t& error) = 0;
};

// Reads what has already arrived, never waiting for more: 0 with got
// filled in, or the system's error. The port's time-outs tell the driver to
// return at once, but Wine's serial emulation keeps such a read pending
// until the next byte comes, which would stop the event thread from ending
// a scan on time. A read still pending is cancelled and reaped: what it had
// taken is returned, the rest stays queued for the next read.
int readArrived(CommReadCalls& calls, char* buffer, int count, int& got);

} // namespace vx::serial
