#include "serial/ComTypes.h"

#include "serial/Translate.h"

#include <array>
#include <cstdio>

namespace vx::serial {
namespace {

constexpr const char* kDomain = "cport";

constexpr std::array<const char*, 24> kMessages = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string messageFor(int code, int systemError) {
    std::string text = comErrorText(code);
    if (code == ComError::InvalidAsync || code == ComError::ConnChangeProp)
        return text;
    const std::string suffix = translate(kDomain, " (win error code: %d)");
    char buf[64];
    std::snprintf(buf, sizeof buf, suffix.c_str(), systemError);
    return text + buf;
}

} // namespace

std::string comErrorText(int messageCode) {
    if (messageCode < 1 || messageCode >= static_cast<int>(kMessages.size()))
        return {};
    return translate(kDomain, kMessages[static_cast<std::size_t>(messageCode)]);
}

EComPort::EComPort(int messageCode, int systemErrorCode)
    : std::runtime_error(messageFor(messageCode, systemErrorCode)), MessageCode(messageCode),
      SystemErrorCode(systemErrorCode) {}

std::uint32_t baudRateValue(TBaudRate rate, std::uint32_t customBaudRate) {
    static constexpr std::uint32_t kRates[] = {0,     110,    300,    600,   1200,  2400,
                                               4800,  9600,   14400,  19200, 38400, 56000,
                                               57600, 115200, 128000, 256000};
    return rate == brCustom ? customBaudRate : kRates[rate];
}

int dataBitsValue(TDataBits bits) {
    return 5 + static_cast<int>(bits);
}

namespace {
struct EventBit {
    TComEvent event;
    std::uint32_t mask;
};
constexpr EventBit kEventBits[] = {
    {evRxChar, EventMask::RxChar}, {evTxEmpty, EventMask::TxEmpty},
    {evRxFlag, EventMask::RxFlag}, {evRing, EventMask::Ring},
    {evBreak, EventMask::Break},   {evCTS, EventMask::Cts},
    {evDSR, EventMask::Dsr},       {evError, EventMask::Err},
    {evRLSD, EventMask::Rlsd},     {evRx80Full, EventMask::Rx80Full}};
} // namespace

std::uint32_t eventsToMask(TComEvents events) {
    std::uint32_t mask = 0;
    for (const auto& b : kEventBits)
        if (events & comEvent(b.event))
            mask |= b.mask;
    return mask;
}

TComEvents maskToEvents(std::uint32_t mask) {
    TComEvents events = 0;
    for (const auto& b : kEventBits)
        if (mask & b.mask)
            events |= comEvent(b.event);
    return events;
}

TComErrors lineErrorsToSet(std::uint32_t flags, bool parityCheck) {
    TComErrors set = 0;
    if (flags & LineError::Frame)
        set |= comError(ceFrame);
    if ((flags & LineError::RxParity) && parityCheck)
        set |= comError(ceRxParity);
    if (flags & LineError::Overrun)
        set |= comError(ceOverrun);
    if (flags & LineError::Break)
        set |= comError(ceBreak);
    if (flags & LineError::IOE)
        set |= comError(ceIO);
    if (flags & LineError::Mode)
        set |= comError(ceMode);
    if (flags & LineError::RxOver)
        set |= comError(ceRxOver);
    if (flags & LineError::TxFull)
        set |= comError(ceTxFull);
    return set;
}

} // namespace vx::serial
