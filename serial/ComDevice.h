#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vx::serial {

// The device-control record handed to the device, field for field as the
// Win32 DCB carries it; the POSIX back end maps it onto termios.
struct DeviceControlBlock {
    std::uint32_t BaudRate = 9600;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = 0; // 0 disable, 1 enable, 2 handshake
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    std::uint8_t fRtsControl = 0; // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool fAbortOnError = false;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EvtChar = 0;

    bool operator==(const DeviceControlBlock&) const = default;
};

struct DeviceTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

struct ModemSignals {
    bool cts = false, dsr = false, ring = false, rlsd = false;
};

// PurgeComm flags.
namespace Purge {
constexpr unsigned TxAbort = 0x1, RxAbort = 0x2, TxClear = 0x4, RxClear = 0x8;
}

enum class WaitOutcome {
    Events,   // the mask holds what the device reported
    Timeout,  // the time given passed with nothing reported
    Woken,    // wake() was called (a hand-over has finished)
    Stopped,  // the stop signal was set
    NoReport, // the device could not report events this time; nothing lost
    Failed,   // the wait itself failed; reported as the device lost
    Lost,     // the device is gone (unplugged, hung up)
};

// One open serial device. Every operation returns 0 or the system's error
// number. The component calls the first group on the user-interface thread;
// the event thread calls the second group while the port is open.
class ComDevice {
public:
    virtual ~ComDevice() = default;

    virtual int open(const std::string& port) = 0;
    virtual void close() = 0;
    virtual int setupQueues(int inputSize, int outputSize) = 0;
    virtual int setState(const DeviceControlBlock& dcb) = 0;
    virtual int setTimeouts(const DeviceTimeouts& t) = 0;
    virtual int purge(unsigned flags) = 0;
    // Fetches and clears the line error flags; inQueue gets the number of
    // received bytes waiting to be read.
    virtual int clearErrors(std::uint32_t& errors, int& inQueue) = 0;
    virtual int modemStatus(ModemSignals& lines) = 0;
    // Reads at most count bytes that have already arrived; never waits.
    virtual int read(char* buffer, int count, int& got) = 0;

    // Event thread side.
    virtual int setEventMask(std::uint32_t mask) = 0;
    // Blocks until the device reports an event of the mask, the stop signal
    // is set, wake() is called, the device fails or disappears, or timeoutMs
    // passes (never when negative).
    virtual WaitOutcome waitEvents(std::uint32_t& reported, int timeoutMs) = 0;
    // Sleeps up to ms unless the stop signal is set (Stopped) or wake() is
    // called (Woken); Timeout otherwise.
    virtual WaitOutcome pause(int ms) = 0;
    // Any thread: ends the current or next waitEvents/pause with Woken.
    virtual void wake() = 0;
    // Any thread: ends waitEvents/pause with Stopped until resetStop.
    virtual void requestStop() = 0;
    // Clears the stop signal and any wake not yet seen.
    virtual void resetStop() = 0;
};

// The platform's device (termios on POSIX, the Win32 communications API on
// Windows); one implementation is linked per platform.
std::unique_ptr<ComDevice> createComDevice();

} // namespace vx::serial

namespace vx::serial {

// The port name as the operator typed it, made ready to store and open:
// Windows device names are upper-cased ("com3" → "COM3"); POSIX paths keep
// their case.
std::string portNameFromOperator(const std::string& typed);

} // namespace vx::serial
