// Serial device on the Win32 communications API. Only the calls live here;
// what is decided around them is in CommEventWait.cpp, which the tests run
// on every platform.

#include "serial/ComDevice.h"
#include "serial/ComTypes.h"
#include "serial/CommEventWait.h"
#include "serial/PortRefusal.h"

#include <windows.h>

namespace vx::serial {

// The shared code's numbers are the system's.
static_assert(win32::ErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(win32::ErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(win32::ErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(win32::ErrorBadCommand == ERROR_BAD_COMMAND);
static_assert(win32::ErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(win32::ErrorNotSupported == ERROR_NOT_SUPPORTED);
static_assert(win32::ErrorOperationAborted == ERROR_OPERATION_ABORTED);
static_assert(win32::ErrorIoIncomplete == ERROR_IO_INCOMPLETE);
static_assert(win32::ErrorIoPending == ERROR_IO_PENDING);
static_assert(win32::ErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED);
static_assert(win32::ErrorDeviceRemoved == ERROR_DEVICE_REMOVED);
static_assert(win32::WaitObject0 == WAIT_OBJECT_0 && win32::WaitTimeout == WAIT_TIMEOUT);
static_assert(win32::WaitFailed == WAIT_FAILED && win32::Infinite == INFINITE);
static_assert(win32::MsCtsOn == MS_CTS_ON && win32::MsDsrOn == MS_DSR_ON);
static_assert(win32::MsRingOn == MS_RING_ON && win32::MsRlsdOn == MS_RLSD_ON);
static_assert(EventMask::RxChar == EV_RXCHAR && EventMask::RxFlag == EV_RXFLAG);
static_assert(EventMask::TxEmpty == EV_TXEMPTY && EventMask::Cts == EV_CTS);
static_assert(EventMask::Dsr == EV_DSR && EventMask::Rlsd == EV_RLSD);
static_assert(EventMask::Break == EV_BREAK && EventMask::Err == EV_ERR);
static_assert(EventMask::Ring == EV_RING && EventMask::Rx80Full == EV_RX80FULL);
static_assert(LineError::RxOver == CE_RXOVER && LineError::Overrun == CE_OVERRUN);
static_assert(LineError::RxParity == CE_RXPARITY && LineError::Frame == CE_FRAME);
static_assert(LineError::Break == CE_BREAK && LineError::TxFull == CE_TXFULL);
static_assert(LineError::IOE == CE_IOE && LineError::Mode == CE_MODE);
static_assert(Purge::TxAbort == PURGE_TXABORT && Purge::RxAbort == PURGE_RXABORT);
static_assert(Purge::TxClear == PURGE_TXCLEAR && Purge::RxClear == PURGE_RXCLEAR);

namespace {

class OverlappedEvent {
public:
    explicit OverlappedEvent(bool signalled) {
        ZeroMemory(&ov, sizeof ov);
        ov.hEvent = CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
    }
    ~OverlappedEvent() {
        if (ov.hEvent)
            CloseHandle(ov.hEvent);
    }
    OverlappedEvent(const OverlappedEvent&) = delete;
    OverlappedEvent& operator=(const OverlappedEvent&) = delete;
    OVERLAPPED ov;
};

// One read on its own overlapped record, for readArrived.
class OverlappedRead final : public CommReadCalls {
public:
    explicit OverlappedRead(HANDLE handle) : m_handle(handle) {}
    bool startRead(char* buffer, std::uint32_t count, std::uint32_t& got,
                   std::uint32_t& error) override {
        DWORD n = 0;
        if (ReadFile(m_handle, buffer, count, &n, &m_record.ov)) {
            got = n;
            return true;
        }
        error = GetLastError();
        return false;
    }
    void cancelRead() override { CancelIoEx(m_handle, &m_record.ov); }
    bool finishRead(std::uint32_t& got, std::uint32_t& error) override {
        DWORD n = 0;
        const bool ok = GetOverlappedResult(m_handle, &m_record.ov, &n, TRUE) != 0;
        got = n;
        if (!ok)
            error = GetLastError();
        return ok;
    }

private:
    HANDLE m_handle;
    OverlappedEvent m_record{false};
};

class Win32ComDevice final : public ComDevice, private CommWaitCalls {
public:
    Win32ComDevice() {
        m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~Win32ComDevice() override {
        close();
        CloseHandle(m_stop);
        CloseHandle(m_wake);
    }

    int open(const std::string& port) override {
        const std::string name = "\\\\.\\" + port;
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return static_cast<int>(GetLastError());
        m_handle = h;
        return 0;
    }

    void close() override {
        if (m_handle != INVALID_HANDLE_VALUE) {
            m_wait.abandon();
            CloseHandle(m_handle);
            m_handle = INVALID_HANDLE_VALUE;
        }
    }

    int setupQueues(int inputSize, int outputSize) override {
        if (!SetupComm(m_handle, static_cast<DWORD>(inputSize), static_cast<DWORD>(outputSize)))
            return static_cast<int>(GetLastError());
        return 0;
    }

    int setState(const DeviceControlBlock& d) override {
        DCB dcb;
        ZeroMemory(&dcb, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = d.BaudRate;
        dcb.fBinary = d.fBinary;
        dcb.fParity = d.fParity;
        dcb.fOutxCtsFlow = d.fOutxCtsFlow;
        dcb.fOutxDsrFlow = d.fOutxDsrFlow;
        dcb.fDtrControl = d.fDtrControl;
        dcb.fDsrSensitivity = d.fDsrSensitivity;
        dcb.fTXContinueOnXoff = d.fTXContinueOnXoff;
        dcb.fOutX = d.fOutX;
        dcb.fInX = d.fInX;
        dcb.fErrorChar = d.fErrorChar;
        dcb.fNull = d.fNull;
        dcb.fRtsControl = d.fRtsControl;
        dcb.fAbortOnError = d.fAbortOnError;
        dcb.XonLim = d.XonLim;
        dcb.XoffLim = d.XoffLim;
        dcb.ByteSize = d.ByteSize;
        dcb.Parity = d.Parity;
        dcb.StopBits = d.StopBits;
        dcb.XonChar = d.XonChar;
        dcb.XoffChar = d.XoffChar;
        dcb.ErrorChar = d.ErrorChar;
        dcb.EvtChar = d.EvtChar;
        if (!SetCommState(m_handle, &dcb))
            return static_cast<int>(GetLastError());
        return 0;
    }

    int setTimeouts(const DeviceTimeouts& t) override {
        COMMTIMEOUTS ct;
        ct.ReadIntervalTimeout = t.ReadIntervalTimeout;
        ct.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
        ct.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
        ct.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
        ct.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
        if (!SetCommTimeouts(m_handle, &ct))
            return static_cast<int>(GetLastError());
        return 0;
    }

    int purge(unsigned flags) override {
        if (!PurgeComm(m_handle, flags))
            return static_cast<int>(GetLastError());
        return 0;
    }

    int clearErrors(std::uint32_t& errors, int& inQueue) override {
        DWORD e = 0;
        COMSTAT stat;
        ZeroMemory(&stat, sizeof stat);
        if (!ClearCommError(m_handle, &e, &stat))
            return static_cast<int>(GetLastError());
        errors = e;
        inQueue = static_cast<int>(stat.cbInQue);
        return 0;
    }

    int modemStatus(ModemSignals& s) override {
        DWORD bits = 0;
        const bool ok = GetCommModemStatus(m_handle, &bits) != 0;
        return win32::modemStatusResult(ok, ok ? 0 : GetLastError(), bits, s);
    }

    int read(char* buffer, int count, int& got) override {
        OverlappedRead calls(m_handle);
        return readArrived(calls, buffer, count, got);
    }

    int setEventMask(std::uint32_t mask) override {
        const bool ok = SetCommMask(m_handle, mask) != 0;
        const DWORD err = ok ? 0 : GetLastError();
        if (mask == 0)
            m_wait.abandon(); // clearing the mask completed it
        return static_cast<int>(err);
    }

    WaitOutcome waitEvents(std::uint32_t& reported, int timeoutMs) override {
        return m_wait.wait(reported, timeoutMs);
    }

    WaitOutcome pause(int ms) override {
        HANDLE objects[2] = {m_stop, m_wake};
        return win32::pauseOutcome(
            WaitForMultipleObjects(2, objects, FALSE, static_cast<DWORD>(ms)));
    }

    void wake() override { SetEvent(m_wake); }
    void requestStop() override { SetEvent(m_stop); }
    void resetStop() override {
        ResetEvent(m_stop);
        ResetEvent(m_wake);
    }

private:
    bool startWait(std::uint32_t& error) override {
        if (WaitCommEvent(m_handle, &m_waitMask, &m_waitRecord.ov))
            return true;
        error = GetLastError();
        return false;
    }
    std::uint32_t waitObjects(std::uint32_t timeoutMs) override {
        HANDLE objects[3] = {m_stop, m_wake, m_waitRecord.ov.hEvent};
        return WaitForMultipleObjects(3, objects, FALSE, timeoutMs);
    }
    bool finishWait(bool block, std::uint32_t& mask, std::uint32_t& error) override {
        DWORD n = 0;
        if (GetOverlappedResult(m_handle, &m_waitRecord.ov, &n, block ? TRUE : FALSE)) {
            mask = m_waitMask;
            return true;
        }
        error = GetLastError();
        return false;
    }
    void cancelWait() override {
        SetCommMask(m_handle, 0);
        CancelIo(m_handle);
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_stop = nullptr;
    HANDLE m_wake = nullptr; // auto-reset
    // The event wait's record and mask: the driver writes into them while
    // a wait is pending, so they live as long as the device.
    OverlappedEvent m_waitRecord{true};
    DWORD m_waitMask = 0;
    CommEventWait m_wait{*this};
};

} // namespace

std::unique_ptr<ComDevice> createComDevice() {
    return std::make_unique<Win32ComDevice>();
}

std::optional<PortRefusal> diagnosePortRefusal(const std::string&, int) {
    // A COM port is refused to no user: ERROR_ACCESS_DENIED means another
    // program has it open, which the port's own message covers.
    return std::nullopt;
}

std::string portNameFromOperator(const std::string& typed) {
    std::string name = typed;
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

} // namespace vx::serial
