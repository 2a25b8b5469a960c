#include "serial/CommEventWait.h"

namespace vx::serial {

namespace win32 {

bool deviceGone(std::uint32_t error) {
    switch (error) {
    case ErrorFileNotFound:
    case ErrorAccessDenied:
    case ErrorInvalidHandle:
    case ErrorBadCommand:
    case ErrorGenFailure:
    case ErrorDeviceNotConnected:
    case ErrorDeviceRemoved:
        return true;
    default:
        return false;
    }
}

int modemStatusResult(bool ok, std::uint32_t error, std::uint32_t bits, ModemSignals& lines) {
    if (!ok) {
        lines = {};
        return error == ErrorNotSupported ? 0 : static_cast<int>(error);
    }
    lines.cts = bits & MsCtsOn;
    lines.dsr = bits & MsDsrOn;
    lines.ring = bits & MsRingOn;
    lines.rlsd = bits & MsRlsdOn;
    return 0;
}

WaitOutcome pauseOutcome(std::uint32_t waitResult) {
    if (waitResult == WaitObject0)
        return WaitOutcome::Stopped;
    if (waitResult == WaitObject0 + 1)
        return WaitOutcome::Woken;
    return WaitOutcome::Timeout; // a failed wait only shortens the pause
}

} // namespace win32

WaitOutcome CommEventWait::wait(std::uint32_t& reported, int timeoutMs) {
    using namespace win32;
    reported = 0;
    if (!m_pending) {
        std::uint32_t error = 0;
        // Completed at once or pending: either way the record's event is
        // signalled when the result is there.
        if (m_calls.startWait(error) || error == ErrorIoPending)
            m_pending = true;
        else
            return deviceGone(error) ? WaitOutcome::Lost : WaitOutcome::NoReport;
    }
    const std::uint32_t rc =
        m_calls.waitObjects(timeoutMs < 0 ? Infinite : static_cast<std::uint32_t>(timeoutMs));
    if (rc == WaitObject0)
        return WaitOutcome::Stopped;
    if (rc == WaitObject0 + 1)
        return WaitOutcome::Woken;
    if (rc == WaitTimeout)
        return WaitOutcome::Timeout;
    if (rc != WaitObject0 + 2)
        return WaitOutcome::Failed;
    std::uint32_t mask = 0, error = 0;
    if (m_calls.finishWait(false, mask, error)) {
        m_pending = false;
        reported = mask;
        return WaitOutcome::Events;
    }
    if (error == ErrorIoIncomplete)
        return WaitOutcome::NoReport; // signalled early; still pending
    m_pending = false;
    return deviceGone(error) ? WaitOutcome::Lost : WaitOutcome::NoReport;
}

void CommEventWait::abandon() {
    if (!m_pending)
        return;
    m_calls.cancelWait();
    std::uint32_t mask = 0, error = 0;
    m_calls.finishWait(true, mask, error);
    m_pending = false;
}

int readArrived(CommReadCalls& calls, char* buffer, int count, int& got) {
    using namespace win32;
    got = 0;
    if (count <= 0)
        return 0;
    std::uint32_t n = 0, error = 0;
    if (calls.startRead(buffer, static_cast<std::uint32_t>(count), n, error)) {
        got = static_cast<int>(n);
        return 0;
    }
    if (error != ErrorIoPending)
        return static_cast<int>(error);
    calls.cancelRead();
    n = 0;
    // Bytes that came between the start and the cancel complete the read
    // normally; a cancelled one may still have taken some.
    if (calls.finishRead(n, error) || error == ErrorOperationAborted) {
        got = static_cast<int>(n);
        return 0;
    }
    return static_cast<int>(error);
}

} // namespace vx::serial
