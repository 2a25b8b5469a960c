// Framing of received bytes into scans: bytes with the time they were read
// in, scans with the time they end out. Every case runs with the rules of the
// station's line (9600 8N1, a 1024-byte input queue), so a silence or gap set
// wrong fails here.

#include "serial/ComDevice.h"
#include "serial/ScanFraming.h"

#include <cmath>
#include <gtest/gtest.h>
#include <ostream>

using namespace vx::serial;

namespace {

struct Arrival {
    double ms;
    std::string bytes;
};

struct Scan {
    std::string text;
    double ms; // when it is handed on
    bool operator==(const Scan& o) const {
        return text == o.text && std::abs(ms - o.ms) < 0.0015; // to the microsecond
    }
};

std::string visible(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32)
            out += "\\x" + std::to_string(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

[[maybe_unused]] void PrintTo(const Scan& s, std::ostream* os) {
    *os << "\"" << visible(s.text) << "\"@" << s.ms;
}

ScanFramer::Time at(double ms) {
    return ScanFramer::Time(static_cast<long long>(ms * 1000.0 + 0.5));
}

double msOf(ScanFramer::Time t) {
    return static_cast<double>(t.count()) / 1000.0;
}

FramingRules stationRules() {
    return framingRulesFor(DeviceControlBlock{}, 1024);
}

// Runs the framer as the event thread does: scans are collected at each
// deadline that passes before the next bytes come, and after each read.
std::vector<Scan> frame(const std::vector<Arrival>& arrivals, FramingRules rules = stationRules()) {
    ScanFramer framer(rules);
    std::vector<Scan> out;
    std::vector<std::string> texts;
    auto collectAt = [&](ScanFramer::Time t) {
        framer.collect(t, texts);
        for (auto& s : texts)
            out.push_back({std::move(s), msOf(t)});
        texts.clear();
    };
    for (const Arrival& a : arrivals) {
        while (framer.deadline() && *framer.deadline() <= at(a.ms))
            collectAt(*framer.deadline());
        framer.feed(a.bytes, at(a.ms));
        collectAt(at(a.ms));
    }
    while (framer.deadline())
        collectAt(*framer.deadline());
    return out;
}

// A text as a scanner sends it at 9600 baud: one byte every 1.04 ms.
std::vector<Arrival> atFullSpeed(const std::string& text, double startMs) {
    std::vector<Arrival> out;
    for (std::size_t i = 0; i < text.size(); ++i)
        out.push_back({startMs + 1.0417 * static_cast<double>(i), std::string(1, text[i])});
    return out;
}

std::vector<Arrival> concat(std::vector<Arrival> a, const std::vector<Arrival>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 100 bytes, one every 20 ms: ten codes of nine bytes, each followed by the
// terminator given.
std::vector<Arrival> trickle(char terminator) {
    std::vector<Arrival> out;
    for (int i = 0; i < 100; ++i) {
        const char c = i % 10 == 9 ? terminator : static_cast<char>('0' + i / 10);
        out.push_back({20.0 * i, std::string(1, c)});
    }
    return out;
}

std::vector<Scan> trickleScans(char terminator, double firstEnd, double silence) {
    std::vector<Scan> out;
    for (int k = 0; k < 10; ++k)
        out.push_back({std::string(9, static_cast<char>('0' + k)) + terminator,
                       k == 0 ? firstEnd : 200.0 * k + 180.0 + silence});
    return out;
}

struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<Scan> scans;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class Framing : public ::testing::TestWithParam<Case> {};

TEST_P(Framing, GivesTheScansAtTheirEnds) {
    EXPECT_EQ(frame(GetParam().arrivals), GetParam().scans);
}

const std::string kQr = "QR:LOT 42\r\nVX000017\r\nEXP 2031-05\r\n";

INSTANTIATE_TEST_SUITE_P(
    StationLine, Framing,
    ::testing::Values(
        // Suffixes and the silence after them.
        Case{"CrLfSplitBetweenReads", {{0, "VX000001\r"}, {1, "\n"}}, {{"VX000001\r\n", 6}}},
        Case{"CrThenLfTwoMsLater", {{0, "VX000001\r"}, {2, "\n"}}, {{"VX000001\r\n", 7}}},
        Case{"LfOfCrLfFlushedLateByAUsbAdapter",
             {{0, "VX000001\r"}, {16, "\n"}},
             {{"VX000001\r\n", 21}}},
        Case{"TwoScansTwentyMsApart",
             {{0, "VX000001\r\n"}, {20, "VX000002\r\n"}},
             {{"VX000001\r\n", 5}, {"VX000002\r\n", 25}}},
        Case{"BytesJustAfterTheSilenceStartTheNextScan",
             {{0, "A\r\n"}, {6, "B\r\n"}},
             {{"A\r\n", 5}, {"B\r\n", 11}}},
        Case{"BytesWithinTheSilenceBelongToTheScan",
             {{0, "A\r\n"}, {4, "B\r\n"}},
             {{"A\r\nB\r\n", 9}}},
        Case{"TwoLine2DCodeAtFullSpeedIsOneScan",
             atFullSpeed(kQr, 0),
             {{kQr, 1.0417 * static_cast<double>(kQr.size() - 1) + 5}}},
        Case{"TwoLine2DCodesFiftyMsApartAreTwo",
             concat(atFullSpeed(kQr, 0), atFullSpeed(kQr, 50)),
             {{kQr, 1.0417 * static_cast<double>(kQr.size() - 1) + 5},
              {kQr, 50 + 1.0417 * static_cast<double>(kQr.size() - 1) + 5}}},
        Case{"LfSuffixAlone",
             {{0, "VX000001\n"}, {7, "VX000002\n"}},
             {{"VX000001\n", 5}, {"VX000002\n", 12}}},
        // A CR alone: until the scanner has shown it sends no LF, one may follow.
        Case{"CrOnlySuffixIsLearntFromTheFirstScan",
             {{0, "A\r"}, {50, "B\r"}, {70, "C\r"}},
             {{"A\r", 30}, {"B\r", 55}, {"C\r", 75}}},
        // A CR LF scanner whose adapter flushed the LF after the silence: the
        // lone LF teaches that an LF follows the CR, and from then on the
        // station waits for it.
        Case{"ALateLfTeachesThatTheScannerSendsCrLf",
             {{0, "A\r"},
              {50, "B\r"},
              {66, "\n"},
              {100, "C\r"},
              {116, "\n"},
              {200, "D\r"},
              {216, "\n"}},
             {{"A\r", 30}, {"B\r", 55}, {"\n", 71}, {"C\r\n", 121}, {"D\r\n", 221}}},
        Case{"ANextCodeAfterTheSilenceEndsACrScanAtOnce",
             {{0, "A\r"}, {8, "B\r"}, {16, "C\r"}},
             {{"A\r", 8}, {"B\r", 13}, {"C\r", 21}}},
        // No suffix: the quiet gap.
        Case{"NoSuffixInPiecesSixteenMsApartIsOneScan",
             {{0, "VX00"}, {16, "0001"}},
             {{"VX000001", 46}}},
        Case{"NoSuffixWithAGap",
             {{0, "VX000001"}, {40, "VX000002"}},
             {{"VX000001", 30}, {"VX000002", 70}}},
        Case{"QuietJustUnderTheGapKeepsTheScan", {{0, "A"}, {29, "B"}}, {{"AB", 59}}},
        Case{"QuietJustOverTheGapEndsTheScan", {{0, "A"}, {31, "B"}}, {{"A", 30}, {"B", 61}}},
        Case{"NoSuffixBackToBackMergesADocumentedLimit",
             {{0, "VX000001"}, {20, "VX000002"}},
             {{"VX000001VX000002", 50}}},
        // Streams.
        Case{"TrickleWithLfEveryTenBytes", trickle('\n'), trickleScans('\n', 185, 5)},
        Case{"TrickleWithCrEveryTenBytes", trickle('\r'), trickleScans('\r', 200, 5)},
        Case{"RunawayStreamIsCutAtTheInputQueueSize",
             [] {
                 std::vector<Arrival> a;
                 for (int i = 0; i < 11; ++i)
                     a.push_back({10.0 * i, std::string(100, 'x')});
                 return a;
             }(),
             {{std::string(1024, 'x'), 100}, {std::string(76, 'x'), 130}}},
        // Bytes are bytes.
        Case{"NulBytesAreOrdinaryBytes",
             {{0, std::string("AB\0", 3)}, {10, "CD\r\n"}},
             {{std::string("AB\0CD\r\n", 7), 15}}},
        Case{"TerminatorAsTheVeryFirstByte",
             {{0, "\n"}, {1, "VX000001\r\n"}},
             {{"\nVX000001\r\n", 6}}},
        Case{"ALoneTerminatorIsAScanOfItsOwn",
             {{0, "\r"}, {40, "VX000001\r\n"}},
             {{"\r", 30}, {"VX000001\r\n", 45}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

} // namespace

TEST(FramingRules, TheStationLineEndsSuffixedScansAfterFiveMsAndOthersAfterThirty) {
    const FramingRules r = stationRules();
    EXPECT_EQ(r.terminatorSilence, std::chrono::milliseconds(5));
    EXPECT_EQ(r.quietGap, std::chrono::milliseconds(30));
    EXPECT_EQ(r.limit, 1024u);
}

TEST(FramingRules, SlowLinesWaitSomeByteTimes) {
    DeviceControlBlock slow;
    slow.BaudRate = 1200; // a byte takes 8.33 ms
    const FramingRules r = framingRulesFor(slow, 1024);
    EXPECT_EQ(r.terminatorSilence, std::chrono::microseconds(4 * 8334));
    EXPECT_EQ(r.quietGap, std::chrono::microseconds(20 * 8334));
    // CR LF at 1200 baud: the LF comes a byte time after the CR.
    EXPECT_EQ(frame({{0, "A\r"}, {8.4, "\n"}, {50, "B\r\n"}}, r),
              (std::vector<Scan>{{"A\r\n", 8.4 + 33.336}, {"B\r\n", 50 + 33.336}}));
}

TEST(ScanFramerState, ClearForgetsTheScanInProgressAndTheLearntSuffix) {
    ScanFramer f(stationRules());
    std::vector<std::string> out;
    f.feed("A\r", at(0));
    f.collect(at(30), out); // learnt: CR alone
    f.feed("HALF", at(40));
    f.clear();
    EXPECT_FALSE(f.deadline());
    f.feed("B\r", at(100));
    EXPECT_EQ(*f.deadline(), at(130)) << "after clear a CR may be followed by an LF again";
    f.collect(at(130), out);
    EXPECT_EQ(out, (std::vector<std::string>{"A\r", "B\r"}));
}

TEST(ScanFramerState, FlushEndsTheScanInProgress) {
    ScanFramer f(stationRules());
    std::vector<std::string> out;
    f.feed("VX0000", at(0));
    f.flush(out);
    EXPECT_EQ(out, std::vector<std::string>{"VX0000"});
    EXPECT_FALSE(f.deadline());
}

TEST(ReceivedScans, ReadsMaySpanScansAndTheOldestMakeRoom) {
    ReceivedScans q;
    EXPECT_EQ(q.nextLength(), 0u);
    q.push("ABC\r", 16);
    q.push("DEFGH\r", 16);
    EXPECT_EQ(q.size(), 10u);
    EXPECT_EQ(q.nextLength(), 4u);
    EXPECT_EQ(q.take(2), "AB");
    EXPECT_EQ(q.nextLength(), 2u) << "what is left of the oldest scan";
    EXPECT_EQ(q.take(5), "C\rDEF");
    EXPECT_EQ(q.nextLength(), 3u);
    q.push("IJKLMNOPQRSTU\r", 16); // 3 + 14 > 16: the oldest goes
    EXPECT_EQ(q.size(), 14u);
    EXPECT_EQ(q.take(100), "IJKLMNOPQRSTU\r");
    EXPECT_EQ(q.take(1), "");
    q.push("X", 16);
    q.clear();
    EXPECT_EQ(q.size(), 0u);
    EXPECT_EQ(q.nextLength(), 0u);
}
