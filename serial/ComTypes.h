#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vx::serial {

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

enum TComEvent {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
// A set of TComEvent: bit n stands for the event of value n.
using TComEvents = std::uint16_t;
constexpr TComEvents comEvent(TComEvent e) {
    return static_cast<TComEvents>(1u << e);
}
constexpr TComEvents kAllComEvents = 0x3FF;

enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = std::uint8_t;
constexpr TComErrors comError(TComError e) {
    return static_cast<TComErrors>(1u << e);
}

// Device values of the enumerations.
std::uint32_t baudRateValue(TBaudRate rate, std::uint32_t customBaudRate);
int dataBitsValue(TDataBits bits);

// Device event mask bits (the Win32 EV_* values) and their translation.
namespace EventMask {
constexpr std::uint32_t RxChar = 0x0001, RxFlag = 0x0002, TxEmpty = 0x0004, Cts = 0x0008,
                        Dsr = 0x0010, Rlsd = 0x0020, Break = 0x0040, Err = 0x0080, Ring = 0x0100,
                        Rx80Full = 0x0400;
} // namespace EventMask
std::uint32_t eventsToMask(TComEvents events);
TComEvents maskToEvents(std::uint32_t mask);

// Line error flags as the device reports them (the Win32 CE_* values).
namespace LineError {
constexpr std::uint32_t RxOver = 0x0001, Overrun = 0x0002, RxParity = 0x0004, Frame = 0x0008,
                        Break = 0x0010, TxFull = 0x0100, IOE = 0x0400, Mode = 0x8000;
} // namespace LineError
TComErrors lineErrorsToSet(std::uint32_t flags, bool parityCheck);

// The component's exception: MessageCode indexes the message table,
// SystemErrorCode is the failed call's error number (-1 when there is none).
class EComPort : public std::runtime_error {
public:
    EComPort(int messageCode, int systemErrorCode);
    int MessageCode;
    int SystemErrorCode;
};

namespace ComError {
constexpr int OpenFailed = 1, WriteFailed = 2, ReadFailed = 3, InvalidAsync = 4, PurgeFailed = 5,
              AsyncCheck = 6, SetState = 7, SetTimeouts = 8, SetupComm = 9, ClearComm = 10,
              ModemStatus = 11, EscapeComm = 12, TransmitChar = 13, ConnChangeProp = 14,
              EnumPorts = 15, StoreFailed = 16, LoadFailed = 17, RegFailed = 18,
              LedStateFailed = 19, ThreadCreated = 20, WaitFailed = 21, HasLink = 22, RegError = 23;
}

// The table text of a message code, through the "cport" translation domain.
std::string comErrorText(int messageCode);

} // namespace vx::serial
