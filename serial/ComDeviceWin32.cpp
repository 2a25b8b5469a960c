// Serial device on the Win32 communications API.

#include "serial/ComDevice.h"

#include <windows.h>

namespace vx::serial {
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

// Errors of a wait that mean the device itself went away (a USB adapter
// unplugged): the handle is dead and every further wait fails the same way.
bool deviceGone(DWORD err) {
    return err == ERROR_ACCESS_DENIED || err == ERROR_BAD_COMMAND || err == ERROR_DEVICE_REMOVED ||
           err == ERROR_GEN_FAILURE || err == ERROR_INVALID_HANDLE || err == ERROR_FILE_NOT_FOUND ||
           err == ERROR_DEVICE_NOT_CONNECTED;
}

class Win32ComDevice final : public ComDevice {
public:
    Win32ComDevice() { m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Win32ComDevice() override {
        close();
        CloseHandle(m_stop);
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
        DWORD f = 0;
        if (flags & Purge::TxAbort)
            f |= PURGE_TXABORT;
        if (flags & Purge::RxAbort)
            f |= PURGE_RXABORT;
        if (flags & Purge::TxClear)
            f |= PURGE_TXCLEAR;
        if (flags & Purge::RxClear)
            f |= PURGE_RXCLEAR;
        if (!PurgeComm(m_handle, f))
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
        if (!GetCommModemStatus(m_handle, &bits))
            return static_cast<int>(GetLastError());
        s.cts = bits & MS_CTS_ON;
        s.dsr = bits & MS_DSR_ON;
        s.ring = bits & MS_RING_ON;
        s.rlsd = bits & MS_RLSD_ON;
        return 0;
    }

    int read(char* buffer, int count, int& got) override {
        got = 0;
        if (count <= 0)
            return 0;
        OverlappedEvent op(false);
        DWORD n = 0;
        if (!ReadFile(m_handle, buffer, static_cast<DWORD>(count), &n, &op.ov)) {
            DWORD err = GetLastError();
            if (err != ERROR_IO_PENDING)
                return static_cast<int>(err);
        }
        if (WaitForSingleObject(op.ov.hEvent, INFINITE) != WAIT_OBJECT_0)
            return static_cast<int>(GetLastError());
        if (!GetOverlappedResult(m_handle, &op.ov, &n, FALSE))
            return static_cast<int>(GetLastError());
        got = static_cast<int>(n);
        return 0;
    }

    int setEventMask(std::uint32_t mask) override {
        if (!SetCommMask(m_handle, mask))
            return static_cast<int>(GetLastError());
        return 0;
    }

    WaitOutcome waitEvents(std::uint32_t& reported) override {
        reported = 0;
        OverlappedEvent op(true);
        DWORD mask = 0;
        if (!WaitCommEvent(m_handle, &mask, &op.ov)) {
            DWORD err = GetLastError();
            if (err != ERROR_IO_PENDING) {
                if (deviceGone(err))
                    return WaitOutcome::Lost;
            }
        }
        HANDLE objects[2] = {m_stop, op.ov.hEvent};
        DWORD rc = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        if (rc == WAIT_OBJECT_0 + 1) {
            DWORD n = 0;
            if (!GetOverlappedResult(m_handle, &op.ov, &n, FALSE)) {
                DWORD err = GetLastError();
                if (deviceGone(err))
                    return WaitOutcome::Lost;
                return WaitOutcome::Events; // nothing reported; wait again
            }
            reported = mask;
            return WaitOutcome::Events;
        }
        // Stop event (first in the list, so it wins ties) or a failed wait.
        SetCommMask(m_handle, 0); // completes the pending wait before op goes away
        CancelIo(m_handle);
        DWORD n = 0;
        GetOverlappedResult(m_handle, &op.ov, &n, TRUE);
        return rc == WAIT_OBJECT_0 ? WaitOutcome::Stopped : WaitOutcome::Failed;
    }

    WaitOutcome pause(int ms) override {
        return WaitForSingleObject(m_stop, static_cast<DWORD>(ms)) == WAIT_OBJECT_0
                   ? WaitOutcome::Stopped
                   : WaitOutcome::Events;
    }

    void requestStop() override { SetEvent(m_stop); }
    void resetStop() override { ResetEvent(m_stop); }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_stop = nullptr;
};

} // namespace

std::unique_ptr<ComDevice> createComDevice() {
    return std::make_unique<Win32ComDevice>();
}

std::string portNameFromOperator(const std::string& typed) {
    std::string name = typed;
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

} // namespace vx::serial
