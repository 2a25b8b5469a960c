#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "serial/ThreadSync.h"
#include "tests/support/Pty.h"

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

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override { UiSync::instance().setUiThread(std::this_thread::get_id()); }
    Pty pty;
    TComPort port;
    Received rx;
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
    pty.write("ABC\r");
    pumpFor(150ms);
    EXPECT_TRUE(rx.scans.empty());
    EXPECT_EQ(port.WaitingInputCount(), 4);
}

// ---- delivery -----------------------------------------------------------

TEST_F(SerialPort, AScanWrittenInChunksArrivesAsOneEvent) {
    rx.attach(port);
    port.setPort(pty.slavePath());
    port.OpenPort();
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

TEST_F(SerialPort, ScansApartArriveAsSeparateEvents) {
    rx.attach(port);
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
    port.setPort(pty.slavePath());
    port.OpenPort();
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
        std::uint32_t lineErrors = 0;
        int waiting = 0;
        std::mutex m;
        std::condition_variable cv;
        bool stop = false;
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
    int purge(unsigned) override { return 0; }
    int clearErrors(std::uint32_t& e, int& q) override {
        e = m_log->lineErrors;
        q = m_log->waiting;
        return 0;
    }
    int modemStatus(ModemSignals& s) override {
        s = {true, false, false, true};
        return 0;
    }
    int read(char*, int, int& got) override { return got = 0, 0; }
    int setEventMask(std::uint32_t m) override { return m_log->mask = m, 0; }
    WaitOutcome waitEvents(std::uint32_t& reported) override {
        std::unique_lock lock(m_log->m);
        m_log->cv.wait(lock, [&] { return m_log->stop || !m_log->script.empty(); });
        if (m_log->stop)
            return WaitOutcome::Stopped;
        reported = m_log->script.front();
        m_log->script.pop_front();
        return WaitOutcome::Events;
    }
    WaitOutcome pause(int) override { return WaitOutcome::Events; }
    void requestStop() override {
        std::lock_guard lock(m_log->m);
        m_log->stop = true;
        m_log->cv.notify_all();
    }
    void resetStop() override {
        std::lock_guard lock(m_log->m);
        m_log->stop = false;
    }

private:
    std::shared_ptr<Log> m_log;
};

} // namespace

class ComSettings : public ::testing::Test {
protected:
    void SetUp() override { UiSync::instance().setUiThread(std::this_thread::get_id()); }
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
    {
        std::lock_guard lock(log->m);
        log->script.push_back(1535 | 0x0800); // every event, plus a bit we never asked for
        log->cv.notify_all();
    }
    ASSERT_TRUE(pumpUntil([&] { return order.size() >= 10; }));
    EXPECT_EQ(order, (std::vector<std::string>{"error", "rx5", "txempty", "break", "ring", "cts+",
                                               "dsr-", "rxflag", "rlsd+", "rx80"}));
    order.clear();
    port.ClosePort();
    EXPECT_EQ(order, (std::vector<std::string>{"cts-", "dsr-", "rlsd-"}));
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
