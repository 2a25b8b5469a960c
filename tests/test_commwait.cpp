// The Win32 device's decisions, run here against scripted call results: the
// Win32 file itself only makes the calls. The scripts follow what real
// drivers and Wine's serial emulation answer.

#include "serial/CommEventWait.h"

#include <algorithm>
#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vx::serial;
using namespace vx::serial::win32;

namespace {

class ScriptedCalls : public CommWaitCalls {
public:
    struct Start {
        bool ok;
        std::uint32_t error;
    };
    struct Finish {
        bool ok;
        std::uint32_t mask, error;
    };
    std::deque<Start> starts;
    std::deque<std::uint32_t> waits;
    std::deque<Finish> finishes;
    std::vector<std::string> log;

    bool startWait(std::uint32_t& error) override {
        log.push_back("WaitCommEvent");
        const Start s = take(starts, Start{false, ErrorIoPending});
        error = s.error;
        return s.ok;
    }
    std::uint32_t waitObjects(std::uint32_t timeoutMs) override {
        log.push_back("WaitForMultipleObjects " + (timeoutMs == Infinite
                                                       ? std::string("INFINITE")
                                                       : std::to_string(timeoutMs)));
        return take(waits, WaitFailed);
    }
    bool finishWait(bool block, std::uint32_t& mask, std::uint32_t& error) override {
        log.push_back(block ? "GetOverlappedResult wait" : "GetOverlappedResult");
        const Finish f = take(finishes, Finish{true, 0, 0});
        mask = f.mask;
        error = f.error;
        return f.ok;
    }
    void cancelWait() override { log.push_back("cancel"); }

private:
    template <class T> static T take(std::deque<T>& q, T otherwise) {
        if (q.empty())
            return otherwise;
        T v = q.front();
        q.pop_front();
        return v;
    }
};

constexpr std::uint32_t kStop = WaitObject0, kWake = WaitObject0 + 1, kDevice = WaitObject0 + 2;

} // namespace

TEST(CommEventWait, AReportedMaskIsFetchedAndTheNextCallStartsANewWait) {
    ScriptedCalls calls;
    CommEventWait w(calls);
    calls.waits = {kDevice, kDevice};
    calls.finishes = {{true, 0x0001, 0}, {true, 0x0080, 0}};
    std::uint32_t mask = 0;
    EXPECT_EQ(w.wait(mask, -1), WaitOutcome::Events);
    EXPECT_EQ(mask, 0x0001u);
    EXPECT_FALSE(w.pending());
    EXPECT_EQ(w.wait(mask, -1), WaitOutcome::Events);
    EXPECT_EQ(mask, 0x0080u);
    EXPECT_EQ(calls.log,
              (std::vector<std::string>{"WaitCommEvent", "WaitForMultipleObjects INFINITE",
                                        "GetOverlappedResult", "WaitCommEvent",
                                        "WaitForMultipleObjects INFINITE", "GetOverlappedResult"}));
}

TEST(CommEventWait, AWaitCompletedAtOnceIsFetchedThroughItsEventLikeAPendingOne) {
    ScriptedCalls calls;
    CommEventWait w(calls);
    calls.starts = {{true, 0}};
    calls.waits = {kDevice};
    calls.finishes = {{true, 0x0001, 0}};
    std::uint32_t mask = 0;
    EXPECT_EQ(w.wait(mask, 5), WaitOutcome::Events);
    EXPECT_EQ(mask, 0x0001u);
}

TEST(CommEventWait, TimeOutWakeAndStopLeaveTheWaitPendingAndNoSecondOneIsStarted) {
    ScriptedCalls calls;
    CommEventWait w(calls);
    calls.waits = {WaitTimeout, kWake, kStop};
    std::uint32_t mask = 0;
    EXPECT_EQ(w.wait(mask, 5), WaitOutcome::Timeout);
    EXPECT_EQ(w.wait(mask, 3), WaitOutcome::Woken);
    EXPECT_EQ(w.wait(mask, -1), WaitOutcome::Stopped);
    EXPECT_TRUE(w.pending());
    w.abandon();
    EXPECT_FALSE(w.pending());
    w.abandon(); // nothing pending: no calls
    EXPECT_EQ(calls.log, (std::vector<std::string>{"WaitCommEvent", "WaitForMultipleObjects 5",
                                                   "WaitForMultipleObjects 3",
                                                   "WaitForMultipleObjects INFINITE", "cancel",
                                                   "GetOverlappedResult wait"}));
}

TEST(CommEventWait, OutcomesOfFailedCalls) {
    struct Row {
        const char* what;
        ScriptedCalls::Start start;
        std::uint32_t waitResult;
        ScriptedCalls::Finish finish;
        WaitOutcome outcome;
        bool stillPending;
    };
    const Row rows[] = {
        // Wine on a pseudo-terminal: the wait fails at once with "not supported".
        {"start not supported",
         {false, ErrorNotSupported},
         kDevice,
         {},
         WaitOutcome::NoReport,
         false},
        {"start on an unplugged adapter",
         {false, ErrorAccessDenied},
         kDevice,
         {},
         WaitOutcome::Lost,
         false},
        {"start on a closed handle",
         {false, ErrorInvalidHandle},
         kDevice,
         {},
         WaitOutcome::Lost,
         false},
        {"result: device removed",
         {false, ErrorIoPending},
         kDevice,
         {false, 0, ErrorDeviceRemoved},
         WaitOutcome::Lost,
         false},
        {"result: aborted",
         {false, ErrorIoPending},
         kDevice,
         {false, 0, ErrorOperationAborted},
         WaitOutcome::NoReport,
         false},
        {"result: not complete yet",
         {false, ErrorIoPending},
         kDevice,
         {false, 0, ErrorIoIncomplete},
         WaitOutcome::NoReport,
         true},
        {"the wait for the objects failed",
         {false, ErrorIoPending},
         WaitFailed,
         {},
         WaitOutcome::Failed,
         true},
    };
    for (const Row& r : rows) {
        ScriptedCalls calls;
        CommEventWait w(calls);
        calls.starts = {r.start};
        calls.waits = {r.waitResult};
        calls.finishes = {r.finish};
        std::uint32_t mask = 123;
        EXPECT_EQ(w.wait(mask, -1), r.outcome) << r.what;
        EXPECT_EQ(mask, 0u) << r.what;
        EXPECT_EQ(w.pending(), r.stillPending) << r.what;
    }
}

TEST(Win32Decisions, ModemStatusNotSupportedReadsAsLinesOff) {
    ModemSignals lines{true, true, true, true};
    EXPECT_EQ(modemStatusResult(false, ErrorNotSupported, 0xFF, lines), 0);
    EXPECT_FALSE(lines.cts || lines.dsr || lines.ring || lines.rlsd);
    EXPECT_EQ(modemStatusResult(false, ErrorGenFailure, 0, lines), 31) << "other errors are raised";
    EXPECT_EQ(modemStatusResult(true, 0, MsCtsOn | MsRlsdOn, lines), 0);
    EXPECT_TRUE(lines.cts && lines.rlsd);
    EXPECT_FALSE(lines.dsr || lines.ring);
    EXPECT_EQ(modemStatusResult(true, 0, MsDsrOn | MsRingOn, lines), 0);
    EXPECT_TRUE(lines.dsr && lines.ring);
    EXPECT_FALSE(lines.cts || lines.rlsd);
}

TEST(Win32Decisions, PausesEndByStopWakeOrTime) {
    EXPECT_EQ(pauseOutcome(kStop), WaitOutcome::Stopped);
    EXPECT_EQ(pauseOutcome(kWake), WaitOutcome::Woken);
    EXPECT_EQ(pauseOutcome(WaitTimeout), WaitOutcome::Timeout);
    EXPECT_EQ(pauseOutcome(WaitFailed), WaitOutcome::Timeout);
}

TEST(Win32Decisions, OnlyErrorsOfAVanishedDeviceCountAsGone) {
    for (std::uint32_t e :
         {ErrorFileNotFound, ErrorAccessDenied, ErrorInvalidHandle, ErrorBadCommand,
          ErrorGenFailure, ErrorDeviceNotConnected, ErrorDeviceRemoved})
        EXPECT_TRUE(deviceGone(e)) << e;
    for (std::uint32_t e : {0u, ErrorNotSupported, ErrorIoPending, ErrorOperationAborted, 87u})
        EXPECT_FALSE(deviceGone(e)) << e;
}

namespace {

// A read's calls, answered as a script says.
class ScriptedRead : public CommReadCalls {
public:
    struct Answer {
        bool ok;
        std::string bytes;
        std::uint32_t error;
    };
    Answer start{true, "", 0};
    Answer finish{true, "", 0};
    std::vector<std::string> log;

    bool startRead(char* buffer, std::uint32_t count, std::uint32_t& got,
                   std::uint32_t& error) override {
        log.push_back("ReadFile " + std::to_string(count));
        return answer(start, buffer, got, error);
    }
    void cancelRead() override { log.push_back("CancelIoEx"); }
    bool finishRead(std::uint32_t& got, std::uint32_t& error) override {
        log.push_back("GetOverlappedResult wait");
        return answer(finish, m_buffer, got, error);
    }

private:
    bool answer(const Answer& a, char* buffer, std::uint32_t& got, std::uint32_t& error) {
        m_buffer = buffer;
        a.bytes.copy(buffer, a.bytes.size());
        got = static_cast<std::uint32_t>(a.bytes.size());
        error = a.error;
        return a.ok;
    }
    char* m_buffer = nullptr;
};

std::string readOnce(ScriptedRead& calls, int& rc) {
    char buffer[64];
    int got = -1;
    rc = readArrived(calls, buffer, sizeof buffer, got);
    return std::string(buffer, static_cast<std::size_t>(std::max(got, 0)));
}

} // namespace

TEST(CommRead, AReadThatIsKeptPendingIsCancelledAndReapedNeverWaitedFor) {
    struct Row {
        const char* what;
        ScriptedRead::Answer start, finish;
        int rc;
        std::string bytes;
        std::vector<std::string> calls;
    };
    const std::vector<std::string> once = {"ReadFile 64"};
    const std::vector<std::string> reaped = {"ReadFile 64", "CancelIoEx",
                                             "GetOverlappedResult wait"};
    const Row rows[] = {
        {"bytes waiting: done at once", {true, "VX1\r", 0}, {}, 0, "VX1\r", once},
        {"nothing waiting on Windows: done at once, empty", {true, "", 0}, {}, 0, "", once},
        // Wine keeps a read with the return-at-once time-outs pending until
        // the next byte arrives.
        {"nothing waiting under Wine",
         {false, "", ErrorIoPending},
         {false, "", ErrorOperationAborted},
         0,
         "",
         reaped},
        {"bytes came before the cancel",
         {false, "", ErrorIoPending},
         {true, "VX2\r", 0},
         0,
         "VX2\r",
         reaped},
        {"cancelled after taking bytes",
         {false, "", ErrorIoPending},
         {false, "VX", ErrorOperationAborted},
         0,
         "VX",
         reaped},
        {"the adapter was pulled while pending",
         {false, "", ErrorIoPending},
         {false, "", ErrorDeviceRemoved},
         static_cast<int>(ErrorDeviceRemoved),
         "",
         reaped},
        {"the read failed at once", {false, "", ErrorAccessDenied}, {}, 5, "", once},
    };
    for (const Row& r : rows) {
        ScriptedRead calls;
        calls.start = r.start;
        calls.finish = r.finish;
        int rc = -1;
        EXPECT_EQ(readOnce(calls, rc), r.bytes) << r.what;
        EXPECT_EQ(rc, r.rc) << r.what;
        EXPECT_EQ(calls.log, r.calls) << r.what;
    }
}
