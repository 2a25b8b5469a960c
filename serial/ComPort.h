#pragma once

#include "serial/ComDevice.h"
#include "serial/ComTypes.h"
#include "serial/ScanFraming.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vx::serial {

class TCustomComPort;
class TComThread;

// Settings objects owned by the port. Setting a property to a new value
// stores it and runs the port's matching apply step, which does nothing
// while the port is closed.
class TComParity {
public:
    explicit TComParity(TCustomComPort* port) : m_port(port) {}
    TParityBits Bits() const { return m_bits; }
    void setBits(TParityBits v);
    bool Check() const { return m_check; }
    void setCheck(bool v);
    bool Replace() const { return m_replace; }
    void setReplace(bool v);
    char ReplaceChar() const { return m_replaceChar; }
    void setReplaceChar(char v);
    void assign(const TComParity& other);

private:
    TCustomComPort* m_port;
    TParityBits m_bits = prNone;
    bool m_check = false;
    bool m_replace = false;
    char m_replaceChar = 0;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* port) : m_port(port) {}
    bool OutCTSFlow() const { return m_outCts; }
    void setOutCTSFlow(bool v);
    bool OutDSRFlow() const { return m_outDsr; }
    void setOutDSRFlow(bool v);
    TDTRFlowControl ControlDTR() const { return m_dtr; }
    void setControlDTR(TDTRFlowControl v);
    TRTSFlowControl ControlRTS() const { return m_rts; }
    void setControlRTS(TRTSFlowControl v);
    bool XonXoffOut() const { return m_xonOut; }
    void setXonXoffOut(bool v);
    bool XonXoffIn() const { return m_xonIn; }
    void setXonXoffIn(bool v);
    bool DSRSensitivity() const { return m_dsrSens; }
    void setDSRSensitivity(bool v);
    bool TxContinueOnXoff() const { return m_txCont; }
    void setTxContinueOnXoff(bool v);
    char XonChar() const { return m_xon; }
    void setXonChar(char v);
    char XoffChar() const { return m_xoff; }
    void setXoffChar(char v);
    // Derived from RTS control, CTS flow and the XON/XOFF flags; not stored.
    TFlowControl FlowControl() const;
    void setFlowControl(TFlowControl v);
    void assign(const TComFlowControl& other);

private:
    template <class T> void set(T& field, T v);
    TCustomComPort* m_port;
    bool m_outCts = false, m_outDsr = false;
    TDTRFlowControl m_dtr = dtrDisable;
    TRTSFlowControl m_rts = rtsDisable;
    bool m_xonOut = false, m_xonIn = false, m_dsrSens = false, m_txCont = false;
    char m_xon = 17, m_xoff = 19;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* port) : m_port(port) {}
    std::int32_t ReadInterval() const { return m_values[0]; }
    void setReadInterval(std::int32_t v) { set(0, v); }
    std::int32_t ReadTotalMultiplier() const { return m_values[1]; }
    void setReadTotalMultiplier(std::int32_t v) { set(1, v); }
    std::int32_t ReadTotalConstant() const { return m_values[2]; }
    void setReadTotalConstant(std::int32_t v) { set(2, v); }
    std::int32_t WriteTotalMultiplier() const { return m_values[3]; }
    void setWriteTotalMultiplier(std::int32_t v) { set(3, v); }
    std::int32_t WriteTotalConstant() const { return m_values[4]; }
    void setWriteTotalConstant(std::int32_t v) { set(4, v); }
    // As handed to the device: -1 becomes all bits set.
    DeviceTimeouts deviceTimeouts() const;
    void assign(const TComTimeouts& other);

private:
    void set(int index, std::int32_t v);
    TCustomComPort* m_port;
    std::int32_t m_values[5] = {-1, 0, 0, 100, 1000};
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* port) : m_port(port) {}
    std::int32_t InputSize() const { return m_input; }
    void setInputSize(std::int32_t v);
    std::int32_t OutputSize() const { return m_output; }
    void setOutputSize(std::int32_t v);
    void assign(const TComBuffer& other);

private:
    TCustomComPort* m_port;
    std::int32_t m_input = 1024, m_output = 1024;
};

using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;

// The serial port component: owns one device, its settings, opening and
// closing, reading, and the event thread that raises OnRxChar on the
// user-interface thread. All operations are for the user-interface thread.
class TCustomComPort {
public:
    explicit TCustomComPort(std::unique_ptr<ComDevice> device = createComDevice());
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    bool Connected() const { return m_connected; }
    void setConnected(bool v) { v ? OpenPort() : ClosePort(); }
    TBaudRate BaudRate() const { return m_baudRate; }
    void setBaudRate(TBaudRate v);
    std::uint32_t CustomBaudRate() const { return m_customBaudRate; }
    void setCustomBaudRate(std::uint32_t v);
    const std::string& Port() const { return m_port; }
    void setPort(const std::string& v);
    TStopBits StopBits() const { return m_stopBits; }
    void setStopBits(TStopBits v);
    TDataBits DataBits() const { return m_dataBits; }
    void setDataBits(TDataBits v);
    bool DiscardNull() const { return m_discardNull; }
    void setDiscardNull(bool v);
    char EventChar() const { return m_eventChar; }
    void setEventChar(char v);
    // Taken by the event thread at the next open.
    TComEvents Events = kAllComEvents;
    TSyncMethod SyncMethod() const { return m_syncMethod; }
    void setSyncMethod(TSyncMethod v);

    TComParity& Parity() { return m_parity; }
    void setParity(const TComParity& v) { m_parity.assign(v); }
    TComFlowControl& FlowControl() { return m_flowControl; }
    void setFlowControl(const TComFlowControl& v) { m_flowControl.assign(v); }
    TComTimeouts& Timeouts() { return m_timeouts; }
    void setTimeouts(const TComTimeouts& v) { m_timeouts.assign(v); }
    TComBuffer& Buffer() { return m_buffer; }
    void setBuffer(const TComBuffer& v) { m_buffer.assign(v); }

    void OpenPort();
    void ClosePort();
    // Reads up to Count received bytes, as they are; never waits for more.
    // While the event thread reports received characters, received bytes
    // are those of the scans it has framed; otherwise (evRxChar not in
    // Events) they come from the device.
    int ReadText(std::string& Text, int Count);
    int WaitingInputCount();
    TComErrors ReadLineErrors();
    ModemSignals ReadModemSignals();

    // The device record the line settings produce.
    DeviceControlBlock buildDeviceControlBlock() const;

    TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
    TRxCharEvent OnRxChar;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;
    // Raised on the user-interface thread after the device disappeared
    // (unplugged, hung up) and the port has been closed because of it.
    TNotifyEvent OnDeviceLost;

    // The apply steps; each does nothing while the port is closed.
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

protected:
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void ConfigureDevice();
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int Count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool OnOff);
    virtual void DoDSRChange(bool OnOff);
    virtual void DoError(TComErrors Errors);
    virtual void DoRLSDChange(bool OnOff);
    virtual void DoRx80Full();

private:
    friend class TComThread;
    // The per-event handling of one batch, in the fixed order of the events.
    void RunEventHandlers(TComEvents events);
    void DeviceLost(unsigned generation);
    void StopEventThread();

    std::unique_ptr<ComDevice> m_device;
    std::unique_ptr<TComThread> m_thread;
    bool m_framed = false;                   // an event thread reads the device
    ReceivedScans m_received;                // what it framed and nobody has read yet
    std::shared_ptr<TCustomComPort*> m_self; // lets queued calls see a destroyed port
    bool m_connected = false;
    bool m_closing = false;
    unsigned m_generation = 0;
    TBaudRate m_baudRate = br9600;
    std::uint32_t m_customBaudRate = 9600;
    std::string m_port = "COM1";
    TStopBits m_stopBits = sbOneStopBit;
    TDataBits m_dataBits = dbEight;
    bool m_discardNull = false;
    char m_eventChar = 0;
    TSyncMethod m_syncMethod = smThreadSync;
    TComParity m_parity{this};
    TComFlowControl m_flowControl{this};
    TComTimeouts m_timeouts{this};
    TComBuffer m_buffer{this};
};

class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};

} // namespace vx::serial
