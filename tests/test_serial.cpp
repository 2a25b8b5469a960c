#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "serial/ThreadSync.h"
#include "tests/support/Pty.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace vx::serial;
using vx::test::Pty;
using vx::test::pumpFor;
using vx::test::pumpUntil;
using namespace std::chrono_literals;

namespace {

struct Received {
    std::vector<std::string> scans;
    void attach(TComPort& port) {
        port.OnRxChar = [this](TCustomComPort& p, int count) {
            std::string text;
            p.ReadText(text, count);
            scans.push_back(text);
        };
    }
};

// Handlers that a test assigned may hold references to its locals, which are
// gone once the test body has returned: they are dropped before the port is
// closed.
void detachHandlers(TCustomComPort& p) {
    p.OnBeforeOpen = p.OnAfterOpen = p.OnBeforeClose = p.OnAfterClose = nullptr;
    p.OnTxEmpty = p.OnBreak = p.OnRing = p.OnRxFlag = p.OnRx80Full = p.OnDeviceLost = nullptr;
    p.OnRxChar = nullptr;
    p.OnCTSChange = p.OnDSRChange = p.OnRLSDChange = nullptr;
    p.OnError = nullptr;
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override { UiSync::instance().setUiThread(std::this_thread::get_id()); }
    void TearDown() override {
        detachHandlers(port);
        port.ClosePort();
    }
    void open() {
        port.setPort(pty.slavePath());
        port.OpenPort();
    }
    Pty pty;
    TComPort port;
    Received rx;
};

// Writes scans from a thread of its own, at the given times after start.
class Writer {
public:
    Writer(Pty& pty, std::vector<std::pair<int, std::string>> timed)
        : m_thread([&pty, timed = std::move(timed)] {
              const auto start = std::chrono::steady_clock::now();
              for (const auto& [ms, bytes] : timed) {
                  std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
                  pty.write(bytes);
              }
          }) {}
    ~Writer() { m_thread.join(); }

private:
    std::thread m_thread;
};

double threadCpuMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

// ---- opening and closing ------------------------------------------------

TEST_F(SerialPort, OpenAndCloseAreIdempotent) {
    int opens = 0, closes = 0;
    port.OnAfterOpen = [&](TCustomComPort&) { ++opens; };
    port.OnAfterClose = [&](TCustomComPort&) { ++closes; };
    open();
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    port.ClosePort();
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(closes, 1);
    port.setConnected(true);
    EXPECT_TRUE(port.Connected());
}

TEST_F(SerialPort, MissingDeviceRaisesCodeOneWithTheSystemErrorAndHoldsNothing) {
    port.setPort("/dev/vexora-no-such-port");
    try {
        port.OpenPort();
        FAIL() << "opened a missing device";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.MessageCode, 1);
        EXPECT_EQ(e.SystemErrorCode, ENOENT);
        EXPECT_EQ(std::string(e.what()),
                  "Unable to open com port (win error code: " + std::to_string(ENOENT) + ")");
    }
    EXPECT_FALSE(port.Connected());
    port.setPort(pty.slavePath());
    EXPECT_NO_THROW(port.OpenPort()) << "a failed open must leave nothing held";
}

TEST_F(SerialPort, ABareNameIsLookedUpInDevAndANonTerminalIsRefused) {
    port.setPort("null"); // /dev/null: found, but it is no serial line
    try {
        port.OpenPort();
        FAIL() << "opened /dev/null as a port";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.MessageCode, 1);
        EXPECT_EQ(e.SystemErrorCode, ENOTTY);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(portNameFromOperator("ttyUSB0"), "ttyUSB0") << "POSIX names keep their case";
}

TEST_F(SerialPort, ASecondOpenOfTheSameDeviceFailsWhileTheFirstHoldsIt) {
    open();
    TComPort other;
    other.setPort(pty.slavePath());
    try {
        other.OpenPort();
        FAIL() << "two ports on one device";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.MessageCode, 1);
        EXPECT_EQ(e.SystemErrorCode, EBUSY);
    }
    EXPECT_FALSE(other.Connected());
    port.ClosePort();
    EXPECT_NO_THROW(other.OpenPort());
}

TEST_F(SerialPort, PortNamesAreComparedExactlyAndAChangeWhileOpenReopens) {
    int opens = 0;
    port.OnAfterOpen = [&](TCustomComPort&) { ++opens; };
    open();
    port.setPort(pty.slavePath());
    EXPECT_EQ(opens, 1);
    Pty second;
    port.setPort(second.slavePath());
    EXPECT_EQ(opens, 2);
    EXPECT_TRUE(port.Connected());
    EXPECT_THROW(port.setPort("/dev/vexora-no-such-port"), EComPort);
    EXPECT_FALSE(port.Connected());
}

TEST_F(SerialPort, SyncMethodCannotChangeWhileOpen) {
    open();
    try {
        port.setSyncMethod(smNone);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.MessageCode, 14);
        EXPECT_EQ(std::string(e.what()), "Cannot set property while connected");
    }
    port.setSyncMethod(smThreadSync); // same value: no error
    port.ClosePort();
    port.setSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
}

// ---- reading ------------------------------------------------------------

TEST_F(SerialPort, ReadTextReturnsWhatIsWaitingNulBytesIncluded) {
    port.Events = 0; // no thread: the test reads by hand
    open();
    std::string text = "stale";
    EXPECT_EQ(port.ReadText(text, 0), 0);
    EXPECT_EQ(text, "");
    pty.write(std::string("AB\0CD\r\n", 7));
    ASSERT_TRUE(pumpUntil([&] { return port.WaitingInputCount() == 7; }));
    EXPECT_EQ(port.ReadText(text, 100), 7);
    EXPECT_EQ(text, std::string("AB\0CD\r\n", 7));
    EXPECT_EQ(port.ReadText(text, 5), 0) << "nothing waiting: returns at once";
}

TEST_F(SerialPort, WithNoEventsNoThreadRunsAndNothingIsDelivered) {
    port.Events = 0;
    rx.attach(port);
    open();
    pty.write("ABC\r");
    pumpFor(150ms);
    EXPECT_TRUE(rx.scans.empty());
    EXPECT_EQ(port.WaitingInputCount(), 4);
}

TEST_F(SerialPort, WithoutRxCharEventsReadTextStillReadsTheDevice) {
    port.Events = comEvent(evCTS) | comEvent(evError); // a thread, but not for bytes
    open();
    pty.write("ABC\r");
    ASSERT_TRUE(pumpUntil([&] { return port.WaitingInputCount() == 4; }));
    std::string text;
    EXPECT_EQ(port.ReadText(text, 10), 4);
    EXPECT_EQ(text, "ABC\r");
}

// ---- delivery -----------------------------------------------------------

TEST_F(SerialPort, AScanWrittenInChunksArrivesAsOneEvent) {
    rx.attach(port);
    open();
    pty.write("VX00");
    std::this_thread::sleep_for(8ms);
    pty.write("0012");
    std::this_thread::sleep_for(8ms);
    pty.write("34\r\n");
    ASSERT_TRUE(pumpUntil([&] { return !rx.scans.empty(); }));
    pumpFor(100ms);
    ASSERT_EQ(rx.scans.size(), 1u);
    EXPECT_EQ(rx.scans[0], "VX00001234\r\n");
}

TEST_F(SerialPort, ScansTwentyMsApartWithASuffixArriveAsSeparateEvents) {
    rx.attach(port);
    open();
    {
        Writer w(pty, {{0, "VX000005\r\n"}, {20, "VX000006\r\n"}, {40, "VX000007\r\n"}});
    } // the UI thread is busy meanwhile: the scans must not merge while they wait
    ASSERT_TRUE(pumpUntil([&] { return rx.scans.size() >= 3; })) << rx.scans.size();
    pumpFor(60ms);
    EXPECT_EQ(rx.scans, (std::vector<std::string>{"VX000005\r\n", "VX000006\r\n", "VX000007\r\n"}));
}

TEST_F(SerialPort, ScansThatComeWhileAHandlerRunsStayApart) {
    port.OnRxChar = [&](TCustomComPort& p, int count) {
        std::string t;
        p.ReadText(t, count);
        rx.scans.push_back(t);
        if (rx.scans.size() == 1)
            std::this_thread::sleep_for(80ms); // a slow database, say
    };
    open();
    Writer w(pty, {{0, "VX000001\r\n"}, {20, "VX000002\r\n"}, {40, "VX000003\r\n"}});
    ASSERT_TRUE(pumpUntil([&] { return rx.scans.size() >= 3; })) << rx.scans.size();
    pumpFor(60ms);
    EXPECT_EQ(rx.scans, (std::vector<std::string>{"VX000001\r\n", "VX000002\r\n", "VX000003\r\n"}));
}

TEST_F(SerialPort, AScanWithLineBreaksSentAtOnceIsOneEvent) {
    rx.attach(port);
    open();
    pty.write("LOT 42\r\nVX000017\r\nEXP 2031\r\n");
    ASSERT_TRUE(pumpUntil([&] { return !rx.scans.empty(); }));
    pumpFor(60ms);
    EXPECT_EQ(rx.scans, std::vector<std::string>{"LOT 42\r\nVX000017\r\nEXP 2031\r\n"});
}

TEST_F(SerialPort, ScansApartArriveAsSeparateEvents) {
    rx.attach(port);
    open();
    pty.write("FIRST");
    pumpFor(200ms); // the UI thread stays responsive between scans
    pty.write("SECOND");
    ASSERT_TRUE(pumpUntil([&] { return rx.scans.size() == 2; }));
    EXPECT_EQ(rx.scans, (std::vector<std::string>{"FIRST", "SECOND"}));
}

TEST_F(SerialPort, AHandlersExceptionDoesNotStopLaterDeliveries) {
    int calls = 0;
    port.OnRxChar = [&](TCustomComPort& p, int count) {
        std::string t;
        p.ReadText(t, count);
        if (++calls == 1)
            throw std::runtime_error("handler failed");
        rx.scans.push_back(t);
    };
    open();
    pty.write("ONE");
    ASSERT_TRUE(pumpUntil([&] { return calls == 1; }));
    pty.write("TWO");
    ASSERT_TRUE(pumpUntil([&] { return rx.scans.size() == 1; }));
    EXPECT_EQ(rx.scans[0], "TWO");
    EXPECT_TRUE(port.Connected());
}

TEST_F(SerialPort, ABatchInFlightWhenClosingIsHandledInsideClosePort) {
    bool closing = false, sawConnected = false, ranInsideClose = false;
    port.OnBeforeClose = [&](TCustomComPort&) { closing = true; };
    port.OnRxChar = [&](TCustomComPort& p, int count) {
        std::string t;
        p.ReadText(t, count);
        rx.scans.push_back(t);
        sawConnected = p.Connected();
        ranInsideClose = closing;
    };
    open();
    pty.write("INFLIGHT");
    // Wait until the event thread has handed the batch over, without running it.
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (UiSync::instance().pendingCount() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(UiSync::instance().pendingCount(), 1u);
    port.ClosePort();
    EXPECT_EQ(rx.scans, std::vector<std::string>{"INFLIGHT"});
    EXPECT_TRUE(sawConnected);
    EXPECT_TRUE(ranInsideClose);
    EXPECT_FALSE(port.Connected());
}

TEST_F(SerialPort, BytesWaitingAtCloseAreDiscardedNotDeliveredAfterReopen) {
    // No handler: the event thread announces the bytes but nobody reads them.
    open();
    pty.write("STALE");
    ASSERT_TRUE(pumpUntil([&] { return port.WaitingInputCount() == 5; }));
    pumpFor(60ms);
    port.ClosePort();
    rx.attach(port);
    port.OpenPort();
    pty.write("NEW");
    ASSERT_TRUE(pumpUntil([&] { return !rx.scans.empty(); }));
    pumpFor(60ms);
    EXPECT_EQ(rx.scans, std::vector<std::string>{"NEW"});
}

TEST_F(SerialPort, BytesThatArriveWhileClosedAreNotDeliveredLate) {
    rx.attach(port);
    open();
    port.ClosePort();
    pty.write("UNHEARD");
    std::this_thread::sleep_for(20ms);
    port.OpenPort();
    pty.write("HEARD");
    ASSERT_TRUE(pumpUntil([&] { return !rx.scans.empty(); }));
    pumpFor(60ms);
    EXPECT_EQ(rx.scans, std::vector<std::string>{"HEARD"});
}

TEST_F(SerialPort, AnUnpluggedDeviceEndsTheThreadReportsTheLossAndCanBeReopened) {
    rx.attach(port);
    bool lost = false;
    port.OnDeviceLost = [&](TCustomComPort&) { lost = true; };
    open();
    pty.write("BEFORE");
    ASSERT_TRUE(pumpUntil([&] { return rx.scans.size() == 1; }));

    const double cpuBefore = threadCpuMs(CLOCK_PROCESS_CPUTIME_ID);
    pty.closeMaster();
    ASSERT_TRUE(pumpUntil([&] { return lost; }));
    EXPECT_FALSE(port.Connected());
    pumpFor(300ms);
    const double cpuSpent = threadCpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
    EXPECT_LT(cpuSpent, 100.0) << "a hung-up device must not spin the event thread";

    Pty replugged;
    port.setPort(replugged.slavePath());
    port.OpenPort();
    replugged.write("AFTER");
    ASSERT_TRUE(pumpUntil([&] { return rx.scans.size() == 2; }));
    EXPECT_EQ(rx.scans[1], "AFTER");
}

TEST_F(SerialPort, ClosingTheThreadAfterTheDeviceWentAwayDoesNotHang) {
    open();
    pty.closeMaster();
    port.ClosePort(); // may race the loss report; either way it returns
    EXPECT_FALSE(port.Connected());
    pumpFor(50ms);
    EXPECT_FALSE(port.Connected());
}

// ---- settings, with a device that records what it is handed ---------------

namespace {

class RecordingDevice : public ComDevice {
public:
    struct Log {
        int setState = 0, setTimeouts = 0, setupQueues = 0;
        DeviceControlBlock lastDcb;
        DeviceTimeouts lastTimeouts;
        std::uint32_t mask = 0;
        std::deque<std::uint32_t> script; // event masks to report
        bool lostAfterScript = false;     // then report the device gone
        bool failAfterScript = false;     // then the wait itself fails
        bool noReport = false;            // every wait fails at once, as on Wine
        int waits = 0;
        std::string bytes; // received, for read()
        std::vector<unsigned> purges;
        std::uint32_t lineErrors = 0;
        int waiting = 0;
        std::mutex m;
        std::condition_variable cv;
        bool stop = false, woken = false;
        void report(std::uint32_t events, const std::string& received = {}) {
            std::lock_guard lock(m);
            bytes += received;
            script.push_back(events);
            cv.notify_all();
        }
    };
    explicit RecordingDevice(std::shared_ptr<Log> log) : m_log(std::move(log)) {}
    int open(const std::string&) override { return 0; }
    void close() override {}
    int setupQueues(int, int) override { return ++m_log->setupQueues, 0; }
    int setState(const DeviceControlBlock& d) override {
        m_log->lastDcb = d;
        return ++m_log->setState, 0;
    }
    int setTimeouts(const DeviceTimeouts& t) override {
        m_log->lastTimeouts = t;
        return ++m_log->setTimeouts, 0;
    }
    int purge(unsigned flags) override {
        std::lock_guard lock(m_log->m);
        m_log->purges.push_back(flags);
        return 0;
    }
    int clearErrors(std::uint32_t& e, int& q) override {
        e = m_log->lineErrors;
        q = m_log->waiting;
        return 0;
    }
    int modemStatus(ModemSignals& s) override {
        s = {true, false, false, true};
        return 0;
    }
    int read(char* buffer, int count, int& got) override {
        std::lock_guard lock(m_log->m);
        got = std::min(count, static_cast<int>(m_log->bytes.size()));
        m_log->bytes.copy(buffer, static_cast<std::size_t>(got));
        m_log->bytes.erase(0, static_cast<std::size_t>(got));
        return 0;
    }
    int setEventMask(std::uint32_t m) override { return m_log->mask = m, 0; }
    WaitOutcome waitEvents(std::uint32_t& reported, int timeoutMs) override {
        std::unique_lock lock(m_log->m);
        ++m_log->waits;
        if (m_log->noReport && !m_log->stop)
            return WaitOutcome::NoReport;
        auto ready = [&] {
            return m_log->stop || m_log->woken || !m_log->script.empty() ||
                   m_log->lostAfterScript || m_log->failAfterScript;
        };
        if (timeoutMs < 0)
            m_log->cv.wait(lock, ready);
        else if (!m_log->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
            return WaitOutcome::Timeout;
        if (m_log->stop)
            return WaitOutcome::Stopped;
        if (m_log->woken) {
            m_log->woken = false;
            return WaitOutcome::Woken;
        }
        if (m_log->script.empty())
            return m_log->lostAfterScript ? WaitOutcome::Lost : WaitOutcome::Failed;
        reported = m_log->script.front();
        m_log->script.pop_front();
        return WaitOutcome::Events;
    }
    WaitOutcome pause(int ms) override {
        std::unique_lock lock(m_log->m);
        m_log->cv.wait_for(lock, std::chrono::milliseconds(ms),
                           [&] { return m_log->stop || m_log->woken; });
        if (m_log->stop)
            return WaitOutcome::Stopped;
        if (m_log->woken) {
            m_log->woken = false;
            return WaitOutcome::Woken;
        }
        return WaitOutcome::Timeout;
    }
    void wake() override {
        std::lock_guard lock(m_log->m);
        m_log->woken = true;
        m_log->cv.notify_all();
    }
    void requestStop() override {
        std::lock_guard lock(m_log->m);
        m_log->stop = true;
        m_log->cv.notify_all();
    }
    void resetStop() override {
        std::lock_guard lock(m_log->m);
        m_log->stop = false;
        m_log->woken = false;
    }

private:
    std::shared_ptr<Log> m_log;
};

} // namespace

class ComSettings : public ::testing::Test {
protected:
    void SetUp() override { UiSync::instance().setUiThread(std::this_thread::get_id()); }
    void TearDown() override {
        detachHandlers(port);
        port.ClosePort();
    }
    std::shared_ptr<RecordingDevice::Log> log = std::make_shared<RecordingDevice::Log>();
    TComPort port{std::make_unique<RecordingDevice>(log)};
};

TEST_F(ComSettings, DefaultsGiveThe9600EightNoneOneRecord) {
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Events, kAllComEvents);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    DeviceControlBlock d = port.buildDeviceControlBlock();
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_TRUE(d.fBinary);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, 0);
    EXPECT_EQ(d.StopBits, 0);
    EXPECT_EQ(d.fDtrControl, 0);
    EXPECT_EQ(d.fRtsControl, 0);
    EXPECT_EQ(d.XonLim, 256);
    EXPECT_EQ(d.XoffLim, 256);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_FALSE(d.fAbortOnError);
    EXPECT_EQ(port.Timeouts().deviceTimeouts().ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(port.Timeouts().deviceTimeouts().WriteTotalTimeoutConstant, 1000u);
}

TEST_F(ComSettings, SettingsReachTheDeviceOnlyWhenOpenAndChanged) {
    port.setBaudRate(br19200); // closed: stored only
    EXPECT_EQ(log->setState, 0);
    port.OpenPort();
    EXPECT_EQ(log->setupQueues, 1);
    EXPECT_EQ(log->setState, 1);
    EXPECT_EQ(log->setTimeouts, 1);
    EXPECT_EQ(log->lastDcb.BaudRate, 19200u);
    EXPECT_EQ(log->mask, 1535u) << "all ten events";
    port.setBaudRate(br19200);
    port.setDataBits(dbEight);
    port.Parity().setBits(prNone);
    port.FlowControl().setControlDTR(dtrDisable);
    EXPECT_EQ(log->setState, 1) << "a value equal to the stored one touches nothing";
    port.Parity().setBits(prEven);
    EXPECT_EQ(log->setState, 2);
    EXPECT_EQ(log->lastDcb.Parity, 2);
    port.Timeouts().setReadInterval(-1);
    EXPECT_EQ(log->setTimeouts, 1);
    port.Timeouts().setReadInterval(10);
    EXPECT_EQ(log->setTimeouts, 2);
    port.Buffer().setInputSize(2049);
    EXPECT_EQ(port.Buffer().InputSize(), 2048) << "odd sizes are kept even";
    EXPECT_EQ(log->setupQueues, 2);
    port.ClosePort();
}

TEST_F(ComSettings, FlowControlIsDerivedAndSettingItRewritesTheFourFlags) {
    auto& fc = port.FlowControl();
    fc.setFlowControl(fcHardware);
    EXPECT_EQ(fc.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(fc.OutCTSFlow());
    EXPECT_EQ(fc.FlowControl(), fcHardware);
    fc.setFlowControl(fcSoftware);
    EXPECT_EQ(fc.ControlRTS(), rtsDisable);
    EXPECT_FALSE(fc.OutCTSFlow());
    EXPECT_TRUE(fc.XonXoffIn() && fc.XonXoffOut());
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    fc.setXonXoffIn(false);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.setFlowControl(fcNone);
    EXPECT_EQ(fc.FlowControl(), fcNone);
    fc.setControlDTR(dtrEnable);
    fc.setOutDSRFlow(true);
    EXPECT_EQ(fc.FlowControl(), fcNone) << "DTR and DSR are not looked at";
}

TEST_F(ComSettings, ErrorCharIsSetOnlyWithCheckAndReplace) {
    port.Parity().setReplace(true);
    port.Parity().setReplaceChar('?');
    EXPECT_FALSE(port.buildDeviceControlBlock().fErrorChar);
    EXPECT_EQ(port.buildDeviceControlBlock().ErrorChar, 0);
    port.Parity().setCheck(true);
    EXPECT_TRUE(port.buildDeviceControlBlock().fErrorChar);
    EXPECT_EQ(port.buildDeviceControlBlock().ErrorChar, '?');
}

TEST_F(ComSettings, EventsOfABatchAreHandledInTheFixedOrder) {
    std::vector<std::string> order;
    port.OnError = [&](TCustomComPort&, TComErrors e) {
        order.push_back("error");
        EXPECT_EQ(e, comError(ceFrame) | comError(ceOverrun));
    };
    port.OnRxChar = [&](TCustomComPort&, int n) { order.push_back("rx" + std::to_string(n)); };
    port.OnTxEmpty = [&](TCustomComPort&) { order.push_back("txempty"); };
    port.OnBreak = [&](TCustomComPort&) { order.push_back("break"); };
    port.OnRing = [&](TCustomComPort&) { order.push_back("ring"); };
    port.OnCTSChange = [&](TCustomComPort&, bool on) { order.push_back(on ? "cts+" : "cts-"); };
    port.OnDSRChange = [&](TCustomComPort&, bool on) { order.push_back(on ? "dsr+" : "dsr-"); };
    port.OnRxFlag = [&](TCustomComPort&) { order.push_back("rxflag"); };
    port.OnRLSDChange = [&](TCustomComPort&, bool on) { order.push_back(on ? "rlsd+" : "rlsd-"); };
    port.OnRx80Full = [&](TCustomComPort&) { order.push_back("rx80"); };
    port.OpenPort();
    EXPECT_EQ(order, (std::vector<std::string>{"cts+", "dsr-", "rlsd+"})) << "initial lines";
    order.clear();
    log->lineErrors = 0x0008 | 0x0002 | 0x0004; // frame, overrun, parity (not checked)
    log->waiting = 5;
    log->report(1535 | 0x0800, "HELLO"); // every event, plus a bit we never asked for
    ASSERT_TRUE(pumpUntil([&] { return order.size() >= 10; }));
    // The received bytes are a scan of their own, handed on when it ends.
    EXPECT_EQ(order, (std::vector<std::string>{"error", "txempty", "break", "ring", "cts+", "dsr-",
                                               "rxflag", "rlsd+", "rx80", "rx5"}));
    order.clear();
    port.ClosePort();
    EXPECT_EQ(order, (std::vector<std::string>{"cts-", "dsr-", "rlsd-"}));
}

TEST_F(ComSettings, TheThreadPurgesTheDeviceAndWhatItHeldWhenItEnds) {
    port.OpenPort();
    log->report(EventMask::RxChar, "UNREAD\r\n"); // nobody reads it
    ASSERT_TRUE(pumpUntil([&] { return port.WaitingInputCount() == 8; }));
    log->report(EventMask::RxChar, "HALF"); // a scan still in progress
    ASSERT_TRUE(pumpUntil([&] { return log->bytes.empty(); }));
    port.ClosePort();
    EXPECT_EQ(log->purges, (std::vector<unsigned>{Purge::TxAbort | Purge::RxAbort,
                                                  Purge::TxClear | Purge::RxClear}));
    EXPECT_EQ(log->mask, 0u) << "the event mask is cleared";
    std::vector<std::string> got;
    port.OnRxChar = [&](TCustomComPort& p, int n) {
        std::string t;
        p.ReadText(t, n);
        got.push_back(t);
    };
    port.OpenPort();
    log->report(EventMask::RxChar, "NEW\r\n");
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    pumpFor(50ms);
    EXPECT_EQ(got, std::vector<std::string>{"NEW\r\n"});
}

TEST_F(ComSettings, WhatCameBeforeTheDeviceWasLostIsStillDelivered) {
    std::vector<std::string> got;
    bool lost = false;
    port.OnRxChar = [&](TCustomComPort& p, int n) {
        std::string t;
        p.ReadText(t, n);
        got.push_back(t);
    };
    port.OnDeviceLost = [&](TCustomComPort&) { lost = true; };
    port.OpenPort();
    {
        std::lock_guard lock(log->m);
        log->bytes = "VX000001\r\nVX0000"; // the plug is pulled in the middle of a scan
        log->script.push_back(EventMask::RxChar);
        log->lostAfterScript = true;
        log->cv.notify_all();
    }
    ASSERT_TRUE(pumpUntil([&] { return lost; }));
    EXPECT_EQ(got, (std::vector<std::string>{"VX000001\r\nVX0000"}));
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComSettings, AWaitThatFailsIsReportedAsALostDeviceNotLeftOpen) {
    std::vector<std::string> got;
    int lost = 0;
    port.OnRxChar = [&](TCustomComPort& p, int n) {
        std::string t;
        p.ReadText(t, n);
        got.push_back(t);
    };
    port.OnDeviceLost = [&](TCustomComPort&) { ++lost; };
    port.OpenPort();
    {
        std::lock_guard lock(log->m);
        log->bytes = "VX000001\r\n";
        log->script.push_back(EventMask::RxChar);
        log->failAfterScript = true;
        log->cv.notify_all();
    }
    ASSERT_TRUE(pumpUntil([&] { return lost > 0; })) << "the event thread ended without a word";
    EXPECT_EQ(got, std::vector<std::string>{"VX000001\r\n"});
    EXPECT_FALSE(port.Connected());
    pumpFor(50ms);
    EXPECT_EQ(lost, 1);
}

TEST_F(ComSettings, ADeviceThatCannotReportEventsIsReadWithoutSpinning) {
    std::vector<std::string> got;
    port.OnRxChar = [&](TCustomComPort& p, int n) {
        std::string t;
        p.ReadText(t, n);
        got.push_back(t);
    };
    log->noReport = true;
    port.OpenPort();
    {
        std::lock_guard lock(log->m);
        log->bytes = "VX000001\r\n";
    }
    ASSERT_TRUE(pumpUntil([&] { return !got.empty(); }));
    {
        std::lock_guard lock(log->m);
        log->waits = 0;
    }
    pumpFor(200ms);
    {
        std::lock_guard lock(log->m);
        log->bytes = "VX000002\r\n";
    }
    ASSERT_TRUE(pumpUntil([&] { return got.size() == 2; }));
    EXPECT_EQ(got, (std::vector<std::string>{"VX000001\r\n", "VX000002\r\n"}));
    std::lock_guard lock(log->m);
    EXPECT_LT(log->waits, 200) << "a wait that fails at once is not retried in a tight loop";
}

TEST(ComTypes, MessagesAreTheTableTextsWithTheSuffix) {
    EXPECT_EQ(std::string(EComPort(7, 87).what()),
              "SetCommState function failed (win error code: 87)");
    EXPECT_EQ(std::string(EComPort(4, -1).what()), "Invalid Async parameter");
    EXPECT_EQ(EComPort(10, 5).SystemErrorCode, 5);
    EXPECT_EQ(comErrorText(23), "Registry error");
    EXPECT_EQ(maskToEvents(1535), kAllComEvents);
    EXPECT_EQ(eventsToMask(comEvent(evRing) | comEvent(evRx80Full)), 256u + 1024u);
    EXPECT_EQ(baudRateValue(brCustom, 31250), 31250u);
    EXPECT_EQ(baudRateValue(br256000, 0), 256000u);
}
