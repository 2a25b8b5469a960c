#include "print/PrintRange.h"

#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>

using namespace vx::print;
using Message = RangeOutcome::Message;

namespace {

// config.ini's lastnum, the question's answer and the counter, as the
// window would give them.
struct FakeHost : PrintHost {
    std::optional<std::string> lastnum; // missing key: read as "0"
    bool answerYes = false;
    bool writeFails = false; // config.ini cannot be written (read-only, disk full)
    int questions = 0, counterResets = 0;
    std::string readLastnum() override { return lastnum.value_or("0"); }
    void writeLastnum(const std::string& v) override {
        if (writeFails)
            throw std::runtime_error("config.ini: permission denied");
        lastnum = v;
    }
    bool confirmNotNext() override {
        ++questions;
        return answerYes;
    }
    void resetBatchCounter() override { ++counterResets; }
};

} // namespace

class RangeEntry : public ::testing::Test {
protected:
    // lastnum as stored and held, as after a start-up that read it.
    void last(const std::string& n) {
        host.lastnum = n;
        state.heldLastPrinted = n;
    }
    RangeOutcome enter(const std::string& text) { return state.Edit_willprnEnter(text, host); }
    // Nothing stored, listed or put on the clipboard.
    void expectNothingStored(const RangeOutcome& o, const std::string& lastnumBefore) {
        EXPECT_EQ(host.lastnum, lastnumBefore);
        EXPECT_TRUE(state.LB_alprn.empty());
        EXPECT_FALSE(o.clipboard);
    }
    FakeHost host;
    PrintState state;
};

TEST_F(RangeEntry, TheNextNumberPrintsOneLabelWithoutAQuestion) {
    last("4");
    const RangeOutcome o = enter("5");
    EXPECT_EQ(host.questions, 0);
    EXPECT_EQ(host.lastnum, "5");
    EXPECT_EQ(state.heldLastPrinted, "5");
    EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"5"});
    EXPECT_EQ(o.clipboard, "5");
    EXPECT_EQ(o.startBox, "6");
    EXPECT_EQ(o.dispatch, (JobBounds{"5", "5"}));
    EXPECT_EQ(o.message, Message::None);
    EXPECT_EQ(host.counterResets, 1);
}

TEST_F(RangeEntry, ARangeIsListedAsTypedAndMovesLastnumToItsEnd) {
    last("2");
    const RangeOutcome o = enter("3-7");
    EXPECT_EQ(o.dispatch, (JobBounds{"3", "7"}));
    EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"3-7"});
    EXPECT_EQ(o.clipboard, "3-7");
    EXPECT_EQ(host.lastnum, "7");
    EXPECT_EQ(o.startBox, "8");
}

TEST_F(RangeEntry, ADashAtEitherEndMeansTheSingleNumber) {
    for (const std::string text : {"5-", "-5"}) {
        SCOPED_TRACE(text);
        PrintState fresh;
        state = fresh;
        last("4");
        const RangeOutcome o = enter(text);
        EXPECT_EQ(o.dispatch, (JobBounds{"5", "5"}));
        EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"5"});
        EXPECT_EQ(o.clipboard, "5");
        EXPECT_EQ(host.questions, 0);
    }
}

TEST_F(RangeEntry, AReversedRangeStoresNothingButIsStillDispatched) {
    last("2");
    const RangeOutcome o = enter("7-3");
    EXPECT_EQ(o.message, Message::ReversedRange);
    EXPECT_EQ(o.dispatch, (JobBounds{"7", "3"}));
    EXPECT_FALSE(o.startBox);
    EXPECT_EQ(state.heldLastPrinted, "2");
    EXPECT_EQ(host.questions, 0);
    expectNothingStored(o, "2");
}

TEST_F(RangeEntry, TextsThatDoNotConvertReachTheGeneralErrorReport) {
    // The end converts first: its text is the one named.
    const std::pair<std::string, std::string> cases[] = {
        {"3-4-5", "'4-5' is not a valid integer value"},
        {"-", "'' is not a valid integer value"},
        {"", "'' is not a valid integer value"},
        {"99999999999", "'99999999999' is not a valid integer value"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        last("2");
        const int resets = host.counterResets;
        try {
            enter(text);
            ADD_FAILURE() << "no error";
        } catch (const NotAnInteger& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        EXPECT_EQ(host.counterResets, resets + 1) << "the counter reset comes before";
        EXPECT_TRUE(state.LB_alprn.empty());
        EXPECT_EQ(host.lastnum, "2");
    }
}

TEST_F(RangeEntry, AnyOtherCharacterIsRefusedBeforeAnythingChanges) {
    last("2");
    const RangeOutcome o = enter("3a");
    EXPECT_EQ(o.message, Message::InvalidRange);
    EXPECT_EQ(host.counterResets, 0);
    EXPECT_FALSE(o.dispatch);
    EXPECT_FALSE(o.startBox);
    expectNothingStored(o, "2");
}

TEST_F(RangeEntry, ANumberThatIsNotNextIsAskedAbout) {
    last("10");
    RangeOutcome o = enter("15");
    EXPECT_EQ(host.questions, 1);
    EXPECT_EQ(o.startBox, "11") << "No: the held number + 1";
    EXPECT_FALSE(o.dispatch);
    expectNothingStored(o, "10");

    host.answerYes = true;
    o = enter("15");
    EXPECT_EQ(host.questions, 2);
    EXPECT_EQ(o.dispatch, (JobBounds{"15", "15"}));
    EXPECT_EQ(host.lastnum, "15");
    EXPECT_EQ(o.startBox, "16");
}

TEST_F(RangeEntry, TheNextNumberIsComparedAsText) {
    last("10");
    enter("011");
    EXPECT_EQ(host.questions, 1);
}

TEST_F(RangeEntry, LastnumIsReadFromTheFileOnEveryEnter) {
    last("10");
    host.lastnum = "14"; // another station or an editor moved it
    enter("15");
    EXPECT_EQ(host.questions, 0);
}

TEST_F(RangeEntry, ARefusalWithoutAHeldNumberIsAConversionError) {
    host.lastnum = "10";
    state.heldLastPrinted = ""; // start-up found no lastnum
    EXPECT_THROW(
        {
            try {
                enter("15");
            } catch (const NotAnInteger& e) {
                EXPECT_EQ(e.text(), "");
                throw;
            }
        },
        NotAnInteger);
    EXPECT_TRUE(state.LB_alprn.empty());
}

using CountEntry = RangeEntry;
using BatchList = RangeEntry;

TEST_F(CountEntry, PrintsCountLabelsFromTheStartBoxWithoutAQuestion) {
    host.lastnum = "3"; // 21 is not next: no question all the same
    const RangeOutcome o = state.Edit_zhengEnter("21", "10", host);
    EXPECT_EQ(host.questions, 0);
    EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"21-30"});
    EXPECT_EQ(o.clipboard, "21-30");
    EXPECT_EQ(host.lastnum, "30");
    EXPECT_EQ(state.heldLastPrinted, "30");
    EXPECT_EQ(o.startBox, "31");
    EXPECT_TRUE(o.focusStartBox);
    EXPECT_EQ(o.dispatch, (JobBounds{"21", "30"}));
    EXPECT_EQ(host.counterResets, 1);
}

TEST_F(CountEntry, ACountOfZeroListsAnEmptyRangeThatSelectsNothing) {
    const RangeOutcome o = state.Edit_zhengEnter("21", "0", host);
    EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"21-20"});
    EXPECT_EQ(host.lastnum, "20");
    EXPECT_EQ(o.startBox, "21");
    EXPECT_EQ(o.dispatch, (JobBounds{"21", "20"}));
}

TEST_F(CountEntry, ACountThatIsNotANumberStopsAfterTheCounterReset) {
    host.lastnum = "5";
    EXPECT_THROW(state.Edit_zhengEnter("21", "ten", host), NotAnInteger);
    EXPECT_THROW(state.Edit_zhengEnter("x", "10", host), NotAnInteger);
    EXPECT_EQ(host.counterResets, 2);
    EXPECT_TRUE(state.LB_alprn.empty());
    EXPECT_EQ(host.lastnum, "5");
}

TEST_F(CountEntry, ABatchIsListedOnlyOnceLastnumHoldsItsEnd) {
    last("20");
    host.writeFails = true;
    EXPECT_THROW(state.Edit_zhengEnter("21", "10", host), std::runtime_error);
    EXPECT_TRUE(state.LB_alprn.empty()) << "the batch list must not show 21-30 as printed";
    EXPECT_EQ(state.heldLastPrinted, "20");
    EXPECT_EQ(host.lastnum, "20");

    // The same through the start box: nothing listed, nothing held.
    host.answerYes = true;
    EXPECT_THROW(state.Edit_willprnEnter("21-30", host), std::runtime_error);
    EXPECT_TRUE(state.LB_alprn.empty());
    EXPECT_EQ(state.heldLastPrinted, "20");

    host.writeFails = false;
    state.Edit_zhengEnter("21", "10", host);
    EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"21-30"});
    EXPECT_EQ(host.lastnum, "30");
}

TEST_F(CountEntry, AnEndPastThe32BitLimitIsNotWrapped) {
    const RangeOutcome o = state.Edit_zhengEnter("2147483647", "2", host);
    EXPECT_EQ(state.LB_alprn, std::vector<std::string>{"2147483647-2147483648"});
    EXPECT_EQ(o.startBox, "2147483649");
}

TEST_F(BatchList, ResetEmptiesItAndHoldsZeroDoubleClickRemovesTheSelectedEntry) {
    state.Edit_zhengEnter("1", "2", host);
    state.Edit_zhengEnter("3", "2", host);
    state.Edit_zhengEnter("5", "2", host);
    state.LB_alprnDblClick(-1);
    state.LB_alprnDblClick(3);
    EXPECT_EQ(state.LB_alprn.size(), 3u);
    state.LB_alprnDblClick(1);
    EXPECT_EQ(state.LB_alprn, (std::vector<std::string>{"1-2", "5-6"}));
    EXPECT_EQ(state.heldLastPrinted, "6") << "the list is only a list";
    state.reset();
    EXPECT_TRUE(state.LB_alprn.empty());
    EXPECT_EQ(state.heldLastPrinted, "0");
}

TEST(Conversion, TakesBlanksAndASignBeforeTheNumberAndNothingElse) {
    EXPECT_EQ(toInteger("+5"), 5);
    EXPECT_EQ(toInteger("  5"), 5);
    EXPECT_EQ(toInteger("-5"), -5);
    EXPECT_EQ(toInteger("2147483647"), 2147483647);
    EXPECT_EQ(toInteger("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"5 ", "--5", "+-5", "2147483648", "", " ", "5a", "0x10"})
        EXPECT_THROW(toInteger(bad), NotAnInteger) << bad;
}

TEST_F(BatchList, AnEntryShowsItsJobsStateAndKeepsItWhenEntriesBeforeItGo) {
    const RangeOutcome manual = state.Edit_zhengEnter("1", "2", host);
    const RangeOutcome first = state.Edit_zhengEnter("3", "5", host);
    const RangeOutcome second = state.Edit_zhengEnter("8", "2", host);
    ASSERT_TRUE(manual.entry && first.entry && second.entry);
    EXPECT_EQ(*second.entry, 2u);
    state.jobQueued(*first.entry, 7);
    state.jobQueued(*second.entry, 8);
    const auto shown = [&] {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < state.LB_alprn.size(); ++i)
            out.push_back(state.entryText(i));
        return out;
    };
    EXPECT_EQ(shown(), (std::vector<std::string>{"1-2", "3-7 排队中", "8-9 排队中"}));
    EXPECT_TRUE(state.jobChanged(7, JobState::Printing, 0, 5));
    EXPECT_TRUE(state.jobChanged(7, JobState::Printing, 2, 5));
    EXPECT_EQ(state.entryText(1), "3-7 打印中 2/5");
    // The manual entry goes; the jobs are still found by their numbers.
    state.LB_alprnDblClick(0);
    EXPECT_TRUE(state.jobChanged(7, JobState::Failed, 2, -1, "paper out"));
    EXPECT_TRUE(state.jobChanged(8, JobState::Cancelled, 0, 2));
    EXPECT_EQ(shown(), (std::vector<std::string>{"3-7 失败 2/5", "8-9 已取消 0/2"}));
    EXPECT_EQ(state.LB_alprnJobs[0].reason, "paper out");
    EXPECT_FALSE(state.jobChanged(99, JobState::Printed, 1, 1)) << "no entry shows it";
    state.reset();
    EXPECT_FALSE(state.jobChanged(7, JobState::Printed, 5, 5));
    // A reversed range is not listed: its job has no entry.
    host.lastnum = "0";
    EXPECT_FALSE(state.Edit_willprnEnter("7-3", host).entry);
}
