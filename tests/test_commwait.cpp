// The Win32 device's decisions, run here against scripted call results: the
// Win32 file itself only makes the calls. The scripts follow what real
// drivers and Wine's serial emulation answer.

#include "serial/CommEventWait.h"

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
