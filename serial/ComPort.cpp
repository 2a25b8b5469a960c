#include "serial/ComPort.h"

#include "serial/ComThread.h"

#include <utility>

namespace vx::serial {

namespace {
// A property setter: a value equal to the stored one touches nothing;
// a new one is stored and handed on by the given apply step.
template <class T, class Apply> void change(T& field, T value, Apply apply) {
    if (value != field) {
        field = value;
        apply();
    }
}
} // namespace

// ---- settings objects ---------------------------------------------------

void TComParity::setBits(TParityBits v) {
    change(m_bits, v, [this] { m_port->ApplyLineSettings(); });
}
void TComParity::setCheck(bool v) {
    change(m_check, v, [this] { m_port->ApplyLineSettings(); });
}
void TComParity::setReplace(bool v) {
    change(m_replace, v, [this] { m_port->ApplyLineSettings(); });
}
void TComParity::setReplaceChar(char v) {
    change(m_replaceChar, v, [this] { m_port->ApplyLineSettings(); });
}
void TComParity::assign(const TComParity& o) {
    m_bits = o.m_bits;
    m_check = o.m_check;
    m_replace = o.m_replace;
    m_replaceChar = o.m_replaceChar;
    m_port->ApplyLineSettings();
}

template <class T> void TComFlowControl::set(T& field, T v) {
    change(field, v, [this] { m_port->ApplyLineSettings(); });
}
void TComFlowControl::setOutCTSFlow(bool v) {
    set(m_outCts, v);
}
void TComFlowControl::setOutDSRFlow(bool v) {
    set(m_outDsr, v);
}
void TComFlowControl::setControlDTR(TDTRFlowControl v) {
    set(m_dtr, v);
}
void TComFlowControl::setControlRTS(TRTSFlowControl v) {
    set(m_rts, v);
}
void TComFlowControl::setXonXoffOut(bool v) {
    set(m_xonOut, v);
}
void TComFlowControl::setXonXoffIn(bool v) {
    set(m_xonIn, v);
}
void TComFlowControl::setDSRSensitivity(bool v) {
    set(m_dsrSens, v);
}
void TComFlowControl::setTxContinueOnXoff(bool v) {
    set(m_txCont, v);
}
void TComFlowControl::setXonChar(char v) {
    set(m_xon, v);
}
void TComFlowControl::setXoffChar(char v) {
    set(m_xoff, v);
}

TFlowControl TComFlowControl::FlowControl() const {
    if (m_rts == rtsHandshake && m_outCts && !m_xonIn && !m_xonOut)
        return fcHardware;
    if (m_rts == rtsDisable && !m_outCts && m_xonIn && m_xonOut)
        return fcSoftware;
    if (m_rts != rtsDisable || m_outCts || m_xonIn || m_xonOut)
        return fcCustom;
    return fcNone;
}

void TComFlowControl::setFlowControl(TFlowControl v) {
    if (v != fcCustom) {
        m_rts = rtsDisable;
        m_outCts = false;
        m_xonIn = false;
        m_xonOut = false;
    }
    if (v == fcHardware) {
        m_rts = rtsHandshake;
        m_outCts = true;
    } else if (v == fcSoftware) {
        m_xonIn = true;
        m_xonOut = true;
    }
    m_port->ApplyLineSettings();
}

void TComFlowControl::assign(const TComFlowControl& o) {
    m_outCts = o.m_outCts;
    m_outDsr = o.m_outDsr;
    m_dtr = o.m_dtr;
    m_rts = o.m_rts;
    m_xonOut = o.m_xonOut;
    m_xonIn = o.m_xonIn;
    m_dsrSens = o.m_dsrSens;
    m_txCont = o.m_txCont;
    m_xon = o.m_xon;
    m_xoff = o.m_xoff;
    m_port->ApplyLineSettings();
}

void TComTimeouts::set(int index, std::int32_t v) {
    change(m_values[index], v, [this] { m_port->ApplyTimeoutSettings(); });
}

DeviceTimeouts TComTimeouts::deviceTimeouts() const {
    auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); }; // -1 → all bits set
    return {u(m_values[0]), u(m_values[1]), u(m_values[2]), u(m_values[3]), u(m_values[4])};
}

void TComTimeouts::assign(const TComTimeouts& o) {
    for (int i = 0; i < 5; ++i)
        m_values[i] = o.m_values[i];
    m_port->ApplyTimeoutSettings();
}

namespace {
// A positive odd size is kept one less, so the sizes stay even.
std::int32_t evenSize(std::int32_t v) {
    return (v > 0 && v % 2 == 1) ? v - 1 : v;
}
} // namespace

void TComBuffer::setInputSize(std::int32_t v) {
    change(m_input, evenSize(v), [this] { m_port->ApplyBufferSizes(); });
}
void TComBuffer::setOutputSize(std::int32_t v) {
    change(m_output, evenSize(v), [this] { m_port->ApplyBufferSizes(); });
}
void TComBuffer::assign(const TComBuffer& o) {
    m_input = o.m_input;
    m_output = o.m_output;
    m_port->ApplyBufferSizes();
}

// ---- the port -----------------------------------------------------------

TCustomComPort::TCustomComPort(std::unique_ptr<ComDevice> device)
    : m_device(std::move(device)), m_self(std::make_shared<TCustomComPort*>(this)) {}

TCustomComPort::~TCustomComPort() {
    try {
        ClosePort();
    } catch (...) {
        // A failed purge at destruction must not escape; the device is
        // closed below either way.
        StopEventThread();
        if (m_connected)
            m_device->close();
    }
    m_self.reset();
}

void TCustomComPort::setBaudRate(TBaudRate v) {
    change(m_baudRate, v, [this] { ApplyLineSettings(); });
}
void TCustomComPort::setCustomBaudRate(std::uint32_t v) {
    change(m_customBaudRate, v, [this] { ApplyLineSettings(); });
}
void TCustomComPort::setStopBits(TStopBits v) {
    change(m_stopBits, v, [this] { ApplyLineSettings(); });
}
void TCustomComPort::setDataBits(TDataBits v) {
    change(m_dataBits, v, [this] { ApplyLineSettings(); });
}
void TCustomComPort::setDiscardNull(bool v) {
    change(m_discardNull, v, [this] { ApplyLineSettings(); });
}
void TCustomComPort::setEventChar(char v) {
    change(m_eventChar, v, [this] { ApplyLineSettings(); });
}

void TCustomComPort::setPort(const std::string& v) {
    if (v == m_port)
        return; // exact text: "com3" and "COM3" differ
    m_port = v;
    if (m_connected) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::setSyncMethod(TSyncMethod v) {
    if (v == m_syncMethod)
        return;
    if (m_connected)
        throw EComPort(ComError::ConnChangeProp, -1);
    m_syncMethod = v;
}

DeviceControlBlock TCustomComPort::buildDeviceControlBlock() const {
    DeviceControlBlock d;
    d.BaudRate = baudRateValue(m_baudRate, m_customBaudRate);
    d.fBinary = true;
    d.fParity = m_parity.Check();
    d.fOutxCtsFlow = m_flowControl.OutCTSFlow();
    d.fOutxDsrFlow = m_flowControl.OutDSRFlow();
    d.fDtrControl = static_cast<std::uint8_t>(m_flowControl.ControlDTR());
    d.fDsrSensitivity = m_flowControl.DSRSensitivity();
    d.fTXContinueOnXoff = m_flowControl.TxContinueOnXoff();
    d.fOutX = m_flowControl.XonXoffOut();
    d.fInX = m_flowControl.XonXoffIn();
    d.fErrorChar = m_parity.Check() && m_parity.Replace();
    d.fNull = m_discardNull;
    d.fRtsControl = static_cast<std::uint8_t>(m_flowControl.ControlRTS());
    d.fAbortOnError = false;
    d.XonLim = static_cast<std::uint16_t>(m_buffer.InputSize() / 4);
    d.XoffLim = d.XonLim;
    d.ByteSize = static_cast<std::uint8_t>(dataBitsValue(m_dataBits));
    d.Parity = static_cast<std::uint8_t>(m_parity.Bits());
    d.StopBits = static_cast<std::uint8_t>(m_stopBits);
    d.XonChar = m_flowControl.XonChar();
    d.XoffChar = m_flowControl.XoffChar();
    d.ErrorChar = d.fErrorChar ? m_parity.ReplaceChar() : 0;
    d.EvtChar = m_eventChar;
    return d;
}

void TCustomComPort::ApplyLineSettings() {
    if (!m_connected)
        return;
    if (int err = m_device->setState(buildDeviceControlBlock()))
        throw EComPort(ComError::SetState, err);
}

void TCustomComPort::ApplyTimeoutSettings() {
    if (!m_connected)
        return;
    if (int err = m_device->setTimeouts(m_timeouts.deviceTimeouts()))
        throw EComPort(ComError::SetTimeouts, err);
}

void TCustomComPort::ApplyBufferSizes() {
    if (!m_connected)
        return;
    if (int err = m_device->setupQueues(m_buffer.InputSize(), m_buffer.OutputSize()))
        throw EComPort(ComError::SetupComm, err);
}

void TCustomComPort::OpenDevice() {
    if (int err = m_device->open(m_port))
        throw EComPort(ComError::OpenFailed, err);
}

void TCustomComPort::CloseDevice() {
    m_device->close();
}

void TCustomComPort::ConfigureDevice() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::OpenPort() {
    if (m_connected)
        return;
    DoBeforeOpen();
    OpenDevice();
    m_connected = true;
    try {
        ConfigureDevice();
    } catch (...) {
        CloseDevice();
        m_connected = false;
        throw;
    }
    ++m_generation;
    m_framed = (Events & comEvent(evRxChar)) != 0;
    if (Events != 0)
        m_thread = std::make_unique<TComThread>(*this, *m_device, m_generation, m_self);
    DoAfterOpen();
    const ModemSignals s = ReadModemSignals();
    DoCTSChange(s.cts);
    DoDSRChange(ReadModemSignals().dsr);
    DoRLSDChange(ReadModemSignals().rlsd);
}

void TCustomComPort::StopEventThread() {
    m_thread.reset(); // the destructor is the stop handshake
    m_framed = false;
}

void TCustomComPort::ClosePort() {
    if (!m_connected || m_closing)
        return;
    m_closing = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_closing};
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    if (int err = m_device->purge(Purge::TxAbort | Purge::RxAbort))
        throw EComPort(ComError::PurgeFailed, err);
    StopEventThread();
    CloseDevice();
    m_connected = false;
    DoAfterClose();
}

void TCustomComPort::DeviceLost(unsigned generation) {
    if (!m_connected || m_closing || generation != m_generation)
        return; // a loss reported for an earlier opening
    m_closing = true;
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
    StopEventThread(); // it has ended already; this joins it
    CloseDevice();
    m_connected = false;
    m_closing = false;
    DoAfterClose();
    if (OnDeviceLost)
        OnDeviceLost(*this);
}

int TCustomComPort::ReadText(std::string& Text, int Count) {
    Text.clear();
    if (Count <= 0)
        return 0;
    if (m_framed) {
        Text = m_received.take(static_cast<std::size_t>(Count));
        return static_cast<int>(Text.size());
    }
    Text.resize(static_cast<std::size_t>(Count));
    int got = 0;
    if (int err = m_device->read(Text.data(), Count, got)) {
        Text.clear();
        throw EComPort(ComError::ReadFailed, err);
    }
    Text.resize(static_cast<std::size_t>(got));
    WaitingInputCount(); // clears the error state, as the read always did
    return got;
}

int TCustomComPort::WaitingInputCount() {
    if (m_framed)
        return static_cast<int>(m_received.size());
    std::uint32_t errors = 0;
    int waiting = 0;
    if (int err = m_device->clearErrors(errors, waiting))
        throw EComPort(ComError::ClearComm, err);
    return waiting;
}

TComErrors TCustomComPort::ReadLineErrors() {
    std::uint32_t errors = 0;
    int waiting = 0;
    if (int err = m_device->clearErrors(errors, waiting))
        throw EComPort(ComError::ClearComm, err);
    return lineErrorsToSet(errors, m_parity.Check());
}

ModemSignals TCustomComPort::ReadModemSignals() {
    ModemSignals s;
    if (int err = m_device->modemStatus(s))
        throw EComPort(ComError::ModemStatus, err);
    return s;
}

void TCustomComPort::RunEventHandlers(TComEvents e) {
    auto has = [e](TComEvent ev) { return (e & comEvent(ev)) != 0; };
    if (has(evError)) {
        const TComErrors errors = ReadLineErrors();
        if (errors)
            DoError(errors);
    }
    if (has(evRxChar)) {
        // One scan per batch: the count is what is left of the oldest one.
        const int count = static_cast<int>(m_received.nextLength());
        if (count > 0)
            DoRxChar(count);
    }
    if (has(evTxEmpty))
        DoTxEmpty();
    if (has(evBreak))
        DoBreak();
    if (has(evRing))
        DoRing();
    if (has(evCTS))
        DoCTSChange(ReadModemSignals().cts);
    if (has(evDSR))
        DoDSRChange(ReadModemSignals().dsr);
    if (has(evRxFlag))
        DoRxFlag();
    if (has(evRLSD))
        DoRLSDChange(ReadModemSignals().rlsd);
    if (has(evRx80Full))
        DoRx80Full();
}

void TCustomComPort::DoAfterClose() {
    if (OnAfterClose)
        OnAfterClose(*this);
}
void TCustomComPort::DoAfterOpen() {
    if (OnAfterOpen)
        OnAfterOpen(*this);
}
void TCustomComPort::DoBeforeClose() {
    if (OnBeforeClose)
        OnBeforeClose(*this);
}
void TCustomComPort::DoBeforeOpen() {
    if (OnBeforeOpen)
        OnBeforeOpen(*this);
}
void TCustomComPort::DoRxChar(int Count) {
    if (OnRxChar)
        OnRxChar(*this, Count);
}
void TCustomComPort::DoTxEmpty() {
    if (OnTxEmpty)
        OnTxEmpty(*this);
}
void TCustomComPort::DoBreak() {
    if (OnBreak)
        OnBreak(*this);
}
void TCustomComPort::DoRing() {
    if (OnRing)
        OnRing(*this);
}
void TCustomComPort::DoRxFlag() {
    if (OnRxFlag)
        OnRxFlag(*this);
}
void TCustomComPort::DoCTSChange(bool v) {
    if (OnCTSChange)
        OnCTSChange(*this, v);
}
void TCustomComPort::DoDSRChange(bool v) {
    if (OnDSRChange)
        OnDSRChange(*this, v);
}
void TCustomComPort::DoError(TComErrors v) {
    if (OnError)
        OnError(*this, v);
}
void TCustomComPort::DoRLSDChange(bool v) {
    if (OnRLSDChange)
        OnRLSDChange(*this, v);
}
void TCustomComPort::DoRx80Full() {
    if (OnRx80Full)
        OnRx80Full(*this);
}

} // namespace vx::serial
