#include "data/Database.h"
#include "data/RecordTable.h"
#include "data/Table.h"
#include "scan/ScanStation.h"
#include "tests/support/Databases.h"
#include "tests/support/TempDir.h"

#include <barrier>
#include <cctype>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

using namespace vx::scan;
using namespace vx::data;

namespace {

struct FakeSound : SoundPlayer {
    std::vector<std::string> played;
    void play(const std::string& path) override { played.push_back(path); }
};

struct FakeWindow : WindowActivator {
    int fronts = 0;
    void bringToFront() override { ++fronts; }
};

char codeBuf[16];
// Record n holds the text C<n, 3 digits>.
std::string code(int n) {
    std::snprintf(codeBuf, sizeof codeBuf, "C%03d", n);
    return codeBuf;
}

} // namespace

// The engine on every back end (SQL Server too when one is configured).
class ScanTest : public vx::test::BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        std::vector<std::string> texts;
        for (int i = 1; i <= 50; ++i)
            texts.push_back(code(i));
        load(texts);
        st.engine.strstart = "1";
        st.engine.strnum = "4";
        on.chk_start = true;
    }
    void load(const std::vector<std::string>& texts) {
        const Dialect d = db.dialect();
        ADOQ2.execute(RecordTable::createBatch(d, "a15", false));
        for (const auto& t : texts)
            ADOQ2.execute({RecordTable::insertText(d, "a15")}, {{"a", t}});
    }
    bool scannedFlag(int bh) {
        ADOQ2.close();
        ADOQ2.setText("select prned from a15 where bh=" + std::to_string(bh));
        ADOQ2.open();
        return ADOQ2.field(0).asInt() != 0;
    }
    ScanOutcome scan(const std::string& text) { return st.com31RxChar(text, on); }
    ScanOutcome scanRecord(int n) { return scan(code(n)); }

    Query ADOQuery1{db}, ADOQ2{db};
    FakeSound sound;
    FakeWindow window;
    ScanStation st{db, ADOQuery1, sound, window, "/opt/vexora/"};
    ScanSwitches on;
};

// ---- comparison off and field cutting --------------------------------------

TEST_P(ScanTest, WithComparisonOffTheScanIsOnlyShown) {
    on.chk_start = false;
    ScanOutcome o = scan("XXC001YY");
    EXPECT_EQ(o.verdict, Verdict::NotCompared);
    EXPECT_EQ(st.edit_rec, "XXC001YY");
    EXPECT_EQ(st.edit_recstr, "XXC0");
    EXPECT_EQ(st.Label14, "");
    EXPECT_TRUE(st.Lb_cuo.items().empty());
    EXPECT_TRUE(st.LB_rec.items().empty());
    EXPECT_EQ(st.counters.total, 0);
    EXPECT_FALSE(scannedFlag(1));
    st.engine.strnum = "0";
    scan("ABCDEFG");
    EXPECT_EQ(st.engine.strnum, "7") << "whole-text mode still takes the length";
}

struct CutCase {
    const char* text;
    long long start, length;
    const char* field;
};

class FieldCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(FieldCut, TakesAtMostLengthBytesFromTheStart) {
    const auto& c = GetParam();
    EXPECT_EQ(ScanEngine::cutField(c.text, c.start, c.length), c.field);
}

INSTANTIATE_TEST_SUITE_P(Cases, FieldCut,
                         ::testing::Values(CutCase{"AB1234XY", 3, 4, "1234"},
                                           CutCase{"AB12", 3, 4, "12"}, CutCase{"AB12", 0, 2, "AB"},
                                           CutCase{"AB12", -5, 3, "AB1"}, CutCase{"AB12", 5, 2, ""},
                                           CutCase{"AB12", 2, 0, ""}, CutCase{"AB12", 2, -1, ""},
                                           CutCase{"C001\r\n", 1, 4, "C001"}));

TEST_P(ScanTest, AShortFieldFailsTheLengthTestWithTheWholeScanListed) {
    st.engine.strstart = "3";
    ScanOutcome o = scan("AB12");
    EXPECT_EQ(o.verdict, Verdict::WrongLength);
    EXPECT_EQ(st.Label14, "扫到的码有问题！");
    EXPECT_EQ(st.Lb_cuo.items(), std::vector<std::string>{"AB12"});
    EXPECT_TRUE(st.alarm.enabled());
    EXPECT_EQ(window.fronts, 1);
    EXPECT_EQ(st.flash.target(), "label9") << "wrong codes blink their own caption";
}

TEST_P(ScanTest, ACrLfSuffixIsCutAwayByTheFieldButNotInWholeTextMode) {
    EXPECT_EQ(scan("C001\r\n").verdict, Verdict::Good);
    st.engine.strnum = "0";
    ScanOutcome o = scan("C002\r\n");
    EXPECT_EQ(o.verdict, Verdict::NotFound);
    EXPECT_EQ(st.Lb_cuo.items().back(), "C002\r\n");
    EXPECT_EQ(st.engine.strnum, "6");
}

TEST_P(ScanTest, WholeTextModeCutsLaterScansToTheFirstScansLength) {
    load({"ABC123"});
    st.engine.strnum = "0";
    EXPECT_EQ(scan("ABC123").verdict, Verdict::Good);
    EXPECT_EQ(st.engine.strnum, "6");
    ScanOutcome o = scan("ABC1234");
    EXPECT_EQ(o.edit_recstr, "ABC123");
    EXPECT_EQ(o.verdict, Verdict::IgnoredRepeat);
    EXPECT_EQ(scan("ABC12").verdict, Verdict::WrongLength);
    st.engine.strstart = "2";
    EXPECT_EQ(scan("XABC12").verdict, Verdict::WrongLength) << "cut one byte short";
}

TEST_P(ScanTest, SettingsThatAreNotNumbersGiveWrongLengthAndTheNextScanWorks) {
    st.engine.strstart = "x";
    EXPECT_EQ(scan("C001").verdict, Verdict::WrongLength);
    st.engine.strstart = "1";
    st.engine.strnum = "four";
    EXPECT_EQ(scan("C001").verdict, Verdict::WrongLength);
    st.engine.strnum = "4";
    EXPECT_EQ(scan("C001").verdict, Verdict::Good);
}

// ---- found records -----------------------------------------------------

TEST_P(ScanTest, AGoodScanMarksCountsAnnouncesAndRemembers) {
    ScanOutcome o = scanRecord(1);
    EXPECT_EQ(o.verdict, Verdict::Good);
    EXPECT_EQ(st.Label14, "1");
    EXPECT_TRUE(scannedFlag(1));
    EXPECT_EQ(st.engine.lastScanned, "1");
    EXPECT_EQ(st.counters.total, 1);
    EXPECT_EQ(st.counters.batch, 1);
    EXPECT_EQ(st.LB_rec.items(), std::vector<std::string>{"1"});
    EXPECT_EQ(sound.played, std::vector<std::string>{"/opt/vexora/1.wav"});
    EXPECT_FALSE(st.alarm.enabled());
    EXPECT_EQ(window.fronts, 0);
}

TEST_P(ScanTest, NotFoundListsTheFieldAndChangesNothingElse) {
    scanRecord(1);
    ScanOutcome o = scan("Z999junk");
    EXPECT_EQ(o.verdict, Verdict::NotFound);
    EXPECT_EQ(st.Label14, "数据库中查不到");
    EXPECT_EQ(st.Lb_cuo.items(), std::vector<std::string>{"Z999"});
    EXPECT_EQ(st.engine.lastScanned, "1");
    EXPECT_EQ(st.counters.total, 1);
    EXPECT_EQ(st.LB_rec.items().size(), 1u);
}

struct RangeCase {
    const char* name;
    std::vector<int> scans;
    int columns;
    std::vector<std::string> shao;
};

TEST_P(ScanTest, AMissingRangeIsListedFromTheLastScannedNumber) {
    const RangeCase cases[] = {{"first scan is record one", {1}, 1, {}},
                               {"first scan skips four", {5}, 1, {"1-4"}},
                               {"one skipped", {5, 7}, 1, {"1-4", "6-6"}},
                               {"three columns", {1, 4, 7, 13}, 3, {"3--2", "10-10"}},
                               {"lower than expected", {10, 3}, 1, {"1-9", "11-2"}},
                               {"counts from a duplicate", {1, 2, 3, 2, 4}, 1, {"3-3"}}};
    for (const RangeCase& c : cases) {
        load([] {
            std::vector<std::string> t;
            for (int i = 1; i <= 20; ++i)
                t.push_back(code(i));
            return t;
        }());
        st.LB_shao.clear();
        st.engine.lastScanned = "0";
        st.engine.columnCount = c.columns;
        for (int n : c.scans)
            scanRecord(n);
        EXPECT_EQ(st.LB_shao.items(), c.shao) << c.name;
        EXPECT_TRUE(scannedFlag(c.scans.back())) << c.name << ": the record is still marked";
    }
}

TEST_P(ScanTest, AMissingRangeAlertsAndBlinksItsCaption) {
    scanRecord(1);
    ScanOutcome o = scanRecord(3);
    EXPECT_EQ(o.verdict, Verdict::MissingRange);
    EXPECT_EQ(st.Label14, "3");
    EXPECT_EQ(st.flash.target(), "label11");
    EXPECT_TRUE(st.alarm.enabled());
    EXPECT_EQ(window.fronts, 1);
    EXPECT_EQ(st.counters.total, 2);
}

TEST_P(ScanTest, SkippingTheRangeTestStillMarksAndFollows) {
    on.chk_quejing = true;
    scanRecord(5);
    scanRecord(9);
    EXPECT_TRUE(st.LB_shao.items().empty());
    EXPECT_TRUE(scannedFlag(9));
    EXPECT_EQ(st.engine.lastScanned, "9");
}

TEST_P(ScanTest, AnImmediateRepeatIsIgnoredOnlyWithCheckBox1) {
    scanRecord(1);
    ScanOutcome o = scanRecord(1);
    EXPECT_EQ(o.verdict, Verdict::IgnoredRepeat);
    EXPECT_EQ(st.counters.total, 1);
    EXPECT_FALSE(st.alarm.enabled());
    EXPECT_EQ(st.LB_rec.items(), (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(sound.played.size(), 2u) << "the digit is still announced";

    on.CheckBox1 = false;
    o = scanRecord(1);
    EXPECT_EQ(o.verdict, Verdict::Duplicate);
    EXPECT_EQ(st.Label14, "1重复");
    EXPECT_EQ(st.LB_chong.items(), std::vector<std::string>{"1"});
    EXPECT_EQ(st.counters.total, 2);
    EXPECT_EQ(st.flash.target(), "label10");
}

TEST_P(ScanTest, AnEarlierLabelIsADuplicateEitherWay) {
    scanRecord(1);
    scanRecord(2);
    EXPECT_EQ(scanRecord(1).verdict, Verdict::Duplicate);
    EXPECT_EQ(st.engine.lastScanned, "1");
    EXPECT_EQ(window.fronts, 1);
}

TEST_P(ScanTest, SeveralRecordsWithOneTextDecideByTheFirstRow) {
    load({"DUP1", "DUP1"});
    EXPECT_EQ(scan("DUP1").Label14, "1");
    EXPECT_EQ(scan("DUP1").verdict, Verdict::IgnoredRepeat) << "record 1 again, not record 2";
}

TEST_P(ScanTest, WrongCodesLeaveCountersAndLastScannedNumber) {
    scanRecord(4);
    const auto before = st.counters.total;
    scan("??");
    scan("Q000");
    EXPECT_EQ(st.counters.total, before);
    EXPECT_EQ(st.engine.lastScanned, "4");
    EXPECT_EQ(st.Lb_cuo.items().size(), 2u);
}

// ---- database trouble --------------------------------------------------------

TEST_P(ScanTest, AClosedDatabaseGivesNoVerdict) {
    db.close();
    ScanOutcome o = scanRecord(1);
    EXPECT_EQ(o.verdict, Verdict::NoDatabase);
    EXPECT_EQ(st.Label14, "");
    EXPECT_FALSE(st.alarm.enabled());
}

TEST_P(ScanTest, AFailingDatabaseIsAWrongCodeAndRecordsNothing) {
    scanRecord(1);
    ADOQ2.close();
    ADOQ2.setText("drop table a15");
    ADOQ2.execute();
    ScanOutcome o = scan("C002\r\n");
    EXPECT_EQ(o.verdict, Verdict::DatabaseFailure);
    EXPECT_EQ(st.Label14, kDatabaseFailureText);
    EXPECT_EQ(st.Lb_cuo.items(), std::vector<std::string>{"C002\r\n"});
    EXPECT_EQ(st.engine.lastScanned, "1");
    EXPECT_EQ(st.counters.total, 1);
    EXPECT_EQ(st.LB_rec.items().size(), 1u);
    EXPECT_TRUE(st.alarm.enabled());
    EXPECT_EQ(window.fronts, 1);
    // The table comes back: scanning goes on normally.
    load({code(1), code(2)});
    EXPECT_EQ(scanRecord(2).verdict, Verdict::Good);
}

// ---- one connection, several users -------------------------------------------

TEST_P(ScanTest, ARepeatLeavesTheConnectionFreeForPagingExportAndTheNextScan) {
    scanRecord(1);
    scanRecord(2);
    on.CheckBox1 = false;
    ASSERT_EQ(scanRecord(1).verdict, Verdict::Duplicate);
    // The grid pages through a15 on the same connection.
    Table ADOTable1(db);
    ADOTable1.setTableName("a15");
    ADOTable1.open();
    EXPECT_EQ(ADOTable1.fetchAfter(0, 10).size(), 10u);
    // An export reads the scanned records.
    ADOQ2.open(RecordTable::exportQuery(db.dialect(), RecordTable::ExportFilter::Scanned));
    int exported = 0;
    for (; !ADOQ2.eof(); ADOQ2.next())
        ++exported;
    EXPECT_EQ(exported, 2);
    on.CheckBox1 = true;
    ASSERT_EQ(scanRecord(1).verdict, Verdict::IgnoredRepeat);
    EXPECT_EQ(ADOTable1.fetchAfter(10, 10).size(), 10u);
    EXPECT_EQ(scanRecord(3).verdict, Verdict::MissingRange) << "2-2, after the duplicate of 1";
    EXPECT_TRUE(scannedFlag(3));
}

TEST_P(ScanTest, TwoStationsScanningOneLabelAtOnceGiveOneGoodAndOneDuplicate) {
    std::string why;
    Connection db2;
    db2.openWith(vx::test::openBackend(GetParam(), dir.path(), why));
    Query query2(db2);
    ScanEngine other(db2, query2);
    other.strnum = "4";
    int wrong = 0;
    std::string seen;
    const std::string label = code(1);
    for (int round = 0; round < 300; ++round) {
        unmarkAllRecords(ADOQ2);
        st.engine.lastScanned = other.lastScanned = "0";
        std::barrier both(2);
        Verdict mine{}, theirs{};
        std::thread station2([&] {
            both.arrive_and_wait();
            theirs = other.com31RxChar(label, on).verdict;
        });
        both.arrive_and_wait();
        mine = st.engine.com31RxChar(label, on).verdict;
        station2.join();
        const bool oneEach = (mine == Verdict::Good && theirs == Verdict::Duplicate) ||
                             (mine == Verdict::Duplicate && theirs == Verdict::Good);
        if (!oneEach && ++wrong <= 3)
            seen += " round " + std::to_string(round) + ": " + std::to_string(int(mine)) + "/" +
                    std::to_string(int(theirs));
    }
    EXPECT_EQ(wrong, 0) << "verdicts (Good=7, Duplicate=5):" << seen;
}

namespace {

// A back end on which another station acts once, just before this one marks
// a record and after it looked the record up: the moment a race is lost.
class OtherStationFirst : public Backend {
public:
    OtherStationFirst(std::unique_ptr<Backend> inner, std::function<void()> other)
        : m_inner(std::move(inner)), m_other(std::move(other)) {}
    Dialect dialect() const override { return m_inner->dialect(); }
    std::unique_ptr<Cursor> run(const ParsedSql& sql, const ParamValues& values) override {
        return m_inner->run(sql, values);
    }
    long long runAll(const ParsedSql& sql, const ParamValues& values) override {
        std::string text = sql.text;
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (m_other && text.rfind("update a15 set prned", 0) == 0)
            std::exchange(m_other, nullptr)();
        return m_inner->runAll(sql, values);
    }
    std::unique_ptr<PreparedStatement> prepare(const ParsedSql& sql) override {
        return m_inner->prepare(sql);
    }
    void beginTransaction() override { m_inner->beginTransaction(); }
    void commit() override { m_inner->commit(); }
    void rollback() override { m_inner->rollback(); }
    bool inTransaction() override { return m_inner->inTransaction(); }

private:
    std::unique_ptr<Backend> m_inner;
    std::function<void()> m_other;
};

} // namespace

TEST_P(ScanTest, TheStationThatLosesTheRaceGetsADuplicateAndNoMissingRange) {
    // Both stations last scanned record 5 and both scan record 9; the other
    // one marks it between this one's lookup and its mark.
    std::string why;
    Connection otherDb;
    otherDb.openWith(vx::test::openBackend(GetParam(), dir.path(), why));
    Query otherQuery(otherDb);
    ScanEngine other(otherDb, otherQuery);
    ScanOutcome won;
    Connection mineDb;
    mineDb.openWith(
        std::make_unique<OtherStationFirst>(vx::test::openBackend(GetParam(), dir.path(), why),
                                            [&] { won = other.com31RxChar(code(9), on); }));
    Query mineQuery(mineDb);
    ScanEngine mine(mineDb, mineQuery);
    for (ScanEngine* e : {&other, &mine}) {
        e->strnum = "4";
        e->lastScanned = "5";
    }
    const ScanOutcome lost = mine.com31RxChar(code(9), on);

    EXPECT_EQ(won.verdict, Verdict::MissingRange);
    EXPECT_EQ(won.LB_shao, "6-8");
    EXPECT_EQ(lost.verdict, Verdict::Duplicate);
    EXPECT_EQ(lost.Label14, "9重复");
    EXPECT_EQ(lost.LB_chong, "9");
    EXPECT_EQ(lost.LB_shao, std::nullopt) << "the winner listed the skipped labels already";
    EXPECT_EQ(lost.missing, std::nullopt) << "nor may the journal count them twice";
    EXPECT_EQ(lost.flashTarget, "label10");
    EXPECT_EQ(mine.lastScanned, "9");
    EXPECT_TRUE(scannedFlag(9));
}

// ---- the database file pulled away ---------------------------------------------

class LostFile : public ScanTest {
protected:
    void SetUp() override {
        if (GetParam() != "sqlite")
            GTEST_SKIP() << "only the embedded database has a file";
        ScanTest::SetUp();
        path = dir.path() + "/test.db";
        scanRecord(1);
        ADOQ2.close();
        ADOQ2.setText("PRAGMA wal_checkpoint(TRUNCATE)");
        ADOQ2.execute();
    }
    void expectNothingRecorded(const ScanOutcome& o) {
        EXPECT_EQ(o.verdict, Verdict::DatabaseFailure);
        EXPECT_EQ(st.Label14, kDatabaseLostText);
        EXPECT_TRUE(o.databaseLost);
        EXPECT_FALSE(db.connected()) << "closed: the operator must connect again";
        EXPECT_EQ(st.counters.total, 1);
        EXPECT_EQ(st.engine.lastScanned, "1");
        EXPECT_EQ(st.LB_rec.items().size(), 1u);
    }
    std::string path;
};

TEST_P(LostFile, ADeletedFileGivesADatabaseErrorAndAsksToReconnect) {
    std::filesystem::remove(path);
    expectNothingRecorded(scanRecord(2));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_P(LostFile, AReplacedFileIsNeitherMarkedNorCorrupted) {
    std::filesystem::copy_file(path, path + ".copy");
    std::filesystem::rename(path + ".copy", path);
    expectNothingRecorded(scanRecord(2));
    Connection again;
    again.openWith(openSqliteBackend(path));
    Query q(again);
    q.setText("PRAGMA integrity_check");
    q.open();
    EXPECT_EQ(q.field(0).asText(), "ok");
    q.setText("select prned from a15 where bh=2");
    q.open();
    EXPECT_EQ(q.field(0).asInt(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, ScanTest, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Backends, LostFile, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });

// ---- alerts and counters -------------------------------------------------------

TEST(Flash, BlinksFortyTimesThenShowsAllCaptionsAndStops) {
    FlashState f;
    f.start("label10");
    f.tick();
    EXPECT_FALSE(f.visible(FlashState::Label10));
    f.tick();
    EXPECT_TRUE(f.visible(FlashState::Label10));
    for (int i = 2; i < 40; ++i)
        f.tick();
    EXPECT_TRUE(f.enabled());
    EXPECT_EQ(f.ticks(), 40);
    f.tick(); // the 41st
    EXPECT_FALSE(f.enabled());
    EXPECT_EQ(f.ticks(), 0);
}

TEST(Flash, ANewVerdictSwitchesTheTargetWithoutRestartingTheCount) {
    FlashState f;
    f.start("label10");
    for (int i = 0; i < 11; ++i)
        f.tick(); // Label10 left hidden
    f.start("LABEL11");
    EXPECT_EQ(f.ticks(), 11);
    f.tick();
    EXPECT_FALSE(f.visible(FlashState::Label10));
    EXPECT_FALSE(f.visible(FlashState::Label11));
    while (f.enabled())
        f.tick();
    EXPECT_TRUE(f.visible(FlashState::Label9) && f.visible(FlashState::Label10) &&
                f.visible(FlashState::Label11));
}

TEST(Alarm, SoundsOnTheSecondTickOnceForCloseVerdicts) {
    AlarmState a;
    a.start();
    EXPECT_FALSE(a.tick());
    a.start(); // a second verdict within 300 ms
    EXPECT_TRUE(a.tick());
    EXPECT_FALSE(a.enabled());
    EXPECT_FALSE(a.tick());
}

TEST_P(ScanTest, TheAlarmCutsInTwoTicksAfterTheDigit) {
    for (int n = 1; n <= 39; ++n)
        scanRecord(n);
    sound.played.clear();
    on.CheckBox1 = false;
    scanRecord(40);
    scanRecord(40); // duplicate
    st.play_timerTimer();
    st.play_timerTimer();
    EXPECT_EQ(sound.played, (std::vector<std::string>{"/opt/vexora/0.wav", "/opt/vexora/0.wav",
                                                      "/opt/vexora/chong_d.wav"}));
}

TEST_P(ScanTest, CounterButtonsResetOnlyTheirOwnCounter) {
    for (int n = 1; n <= 25; ++n)
        scanRecord(n);
    st.btn_zongjiClick();
    EXPECT_EQ(st.counters.total, 0);
    EXPECT_EQ(st.counters.batch, 25);
    scanRecord(26);
    EXPECT_EQ(st.counters.total, 1);
    st.btn_pijiClick();
    EXPECT_EQ(st.counters.batch, 0);
    EXPECT_EQ(st.counters.total, 1);
}

TEST(ResultLists, AppendScrollsToTheNewestAndDoubleClickDeletesTheSelection) {
    ResultList l;
    for (const char* e : {"1-4", "6-6", "9-9"})
        l.append(e);
    EXPECT_EQ(l.topIndex(), 2);
    l.removeSelected(-1);
    EXPECT_EQ(l.items().size(), 3u);
    l.removeSelected(1);
    EXPECT_EQ(l.items(), (std::vector<std::string>{"1-4", "9-9"}));
    l.clear();
    EXPECT_TRUE(l.items().empty());
}
