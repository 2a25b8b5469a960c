// The station's statements as they travel on the wire: FreeTDS, the driver a
// Linux station uses, talks to a scripted TDS responder on the loopback that
// logs the statements, the parameters' types and the bytes that arrived.

#include "data/ConnectionString.h"
#include "data/Database.h"
#include "data/RecordTable.h"
#include "data/ScriptRun.h"
#include "data/Table.h"
#include "data/TextImport.h"
#include "print/DatabaseRecords.h"
#include "scan/ScanEngine.h"
#include "tests/support/TdsResponder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace vx;
using vx::test::hex;
using vx::test::TdsResponder;

namespace {

const std::string kLookup = "from a15 where LTrim";

// A responder rule answering the lookup of these bytes with one record.
std::string lookupRule(const std::string& bytes, int bh, int prned) {
    return R"({"sql": "from a15 where LTrim", "params": [")" + hex(bytes) +
           R"("], "columns": [["bh", "int"], ["prned", "bit"]], "rows": [[)" + std::to_string(bh) +
           ", " + std::to_string(prned) + "]]}";
}

const std::string kImportRules =
    R"({"sql": "#a13", "columns": [["tt", "varchar"], ["ge", "int"], ["xx", "varbinary"]]},
       {"sql": "insert into", "rowcount": 1})";

class Wire : public ::testing::Test {
protected:
    // The station's own way in: the settings' connection string, FreeTDS.
    void connect(TdsResponder& r, const std::string& db = "", const std::string& user = "sa",
                 const std::string& password = "x") {
        conn.setConnectionString(data::buildConnectionString({r.server(), db, user, password}));
        conn.open();
    }
    data::ImportResult import(const std::string& bytes) {
        test::writeFile(dir.file("labels.txt"), bytes);
        const data::Dialect d = conn.dialect();
        data::ImportStatements st{data::RecordTable::createBatch(d, "a15", false),
                                  data::RecordTable::insertText(d, "a15"),
                                  data::RecordTable::duplicateCheck(d, "a15"),
                                  data::RecordTable::duplicateSelect(d)};
        return data::importTextFile(conn, ADOQ2, dir.file("labels.txt"), st,
                                    *data::parseImportAnswer("1"));
    }

    test::TempDir dir;
    data::Connection conn;
    data::Query ADOQuery1{conn}, ADOQ2{conn};
    scan::ScanSwitches on{true, true, false, false};
};

} // namespace

TEST_F(Wire, ADuplicateLeavesTheConnectionFreeForPagingExportAndTheNextScan) {
    const std::string columns =
        R"("columns": [["bh", "int"], ["tt", "varchar"], ["pic", "varchar"], ["prned", "bit"]])";
    TdsResponder r(dir.path(),
                   "[" + lookupRule("C001", 1, 1) + "," + lookupRule("C002", 2, 0) +
                       R"(, {"sql": "where 1=0", )" + columns + R"(}, {"sql": "select top", )" +
                       columns +
                       R"(, "rows": [[1, "C001", null, true], [2, "C002", null, false]]},
        {"sql": "select \\* from a15", )" +
                       columns + R"(, "rows": [[1, "C001", null, true]]},
        {"sql": "update a15", "rowcount": 1}])");
    connect(r);
    scan::ScanEngine engine(conn, ADOQuery1);
    engine.strnum = "4";
    engine.lastScanned = "1";
    on.CheckBox1 = false;
    ASSERT_EQ(engine.com31RxChar("C001", on).verdict, scan::Verdict::Duplicate);

    data::Table ADOTable1(conn);
    ADOTable1.setTableName("a15");
    ASSERT_NO_THROW(ADOTable1.open());
    EXPECT_EQ(ADOTable1.fetchAfter(0, 256).size(), 2u);
    ADOQ2.close();
    ADOQ2.clear();
    for (const auto& l : data::RecordTable::exportQuery(data::Dialect::TSql,
                                                        data::RecordTable::ExportFilter::Scanned))
        ADOQ2.add(l);
    ASSERT_NO_THROW(ADOQ2.open());
    EXPECT_EQ(ADOQ2.fieldByName("tt").asText(), "C001");
    EXPECT_EQ(engine.com31RxChar("C002", on).verdict, scan::Verdict::Good);
    EXPECT_EQ(r.find({"update a15 set prned =1where bh=2"}).size(), 1u);
}

TEST_F(Wire, TheLookupSendsTheScannedBytesAsVarbinaryUnchanged) {
    const std::vector<std::string> scans = {"X\x80Y", "\xFF\xFE", "\xB2\xE2\xCA\xD4",
                                            "\xE4\xB8\xAD"
                                            "1"};
    std::string rules = "[";
    for (std::size_t i = 0; i < scans.size(); ++i)
        rules += lookupRule(scans[i], static_cast<int>(i + 1), 0) + ",";
    TdsResponder r(dir.path(), rules + R"({"sql": "update a15", "rowcount": 1}])");
    connect(r);
    scan::ScanEngine engine(conn, ADOQuery1);
    for (std::size_t i = 0; i < scans.size(); ++i) {
        engine.strnum = std::to_string(scans[i].size());
        const scan::ScanOutcome o = engine.com31RxChar(scans[i], on);
        EXPECT_EQ(o.verdict, scan::Verdict::Good) << hex(scans[i]) << ": " << o.Label14;
        EXPECT_EQ(o.Label14, std::to_string(i + 1));
        EXPECT_EQ(r.find({kLookup, R"("type": "varbinary")", R"("hex": ")" + hex(scans[i]) + "\""})
                      .size(),
                  1u)
            << hex(scans[i]);
    }
}

TEST_F(Wire, TheMarkChangesOnlyAnUnmarkedRecordAndNoChangeIsADuplicate) {
    TdsResponder r(dir.path(),
                   "[" + lookupRule("C001", 1, 0) + R"(, {"sql": "update a15", "rowcount": 0}])");
    connect(r);
    scan::ScanEngine engine(conn, ADOQuery1);
    engine.strnum = "4";
    const scan::ScanOutcome o = engine.com31RxChar("C001", on);
    EXPECT_EQ(o.verdict, scan::Verdict::Duplicate) << "another station marked it first";
    EXPECT_EQ(r.find({"\"update a15 set prned =1where bh=1 and prned=0\""}).size(), 1u);
}

TEST_F(Wire, LabelTextsAreConvertedOnceFromTheStationsCharsetToTheServers) {
    TdsResponder r(dir.path(), "[" + kImportRules + "]");
    connect(r);
    // The responder's server speaks code page 936: UTF-8 中1 arrives as GBK.
    ASSERT_EQ(import("\xE4\xB8\xAD"
                     "1\r\n")
                  .outcome,
              data::ImportResult::Outcome::Imported);
    EXPECT_EQ(r.find({"insert into a15", R"("type": "varchar")", R"("hex": "d6d031")"}).size(), 1u);

    // A station whose files are in GBK says so in config.ini.
    conn.close();
    conn.setClientCharset("GBK");
    conn.open();
    ASSERT_EQ(import("\xD6\xD0"
                     "2\r\n")
                  .outcome,
              data::ImportResult::Outcome::Imported);
    EXPECT_EQ(r.find({"insert into a15", R"("hex": "d6d032")"}).size(), 1u);
}

TEST_F(Wire, TheConnectionAsksTheServerForRowCountsWhateverItsDefaults) {
    // A server or login set up with SET NOCOUNT ON tells no statement's
    // row count; the station's mark depends on it.
    TdsResponder r(dir.path(), "[]");
    connect(r);
    EXPECT_EQ(r.find({"SET NOCOUNT OFF"}).size(), 1u);
}

TEST_F(Wire, AScriptsSessionSettingsAreUndoneBeforeTheNextScan) {
    // Left as the script set them, every later mark would open a transaction
    // never committed, and tell no row count.
    TdsResponder r(dir.path(), R"([{"sql": "SELECT @@TRANCOUNT", "columns": [["n", "int"]],
                                     "rows": [[0]]}])");
    connect(r);
    data::Query ADOCommand1(conn);
    const data::ScriptRun run =
        data::runScript(ADOCommand1, "SET IMPLICIT_TRANSACTIONS ON\r\nSET NOCOUNT ON");
    EXPECT_FALSE(run.failure) << *run.failure;
    EXPECT_FALSE(run.rolledBack);
    EXPECT_EQ(r.find({"SET IMPLICIT_TRANSACTIONS OFF"}).size(), 1u);
    EXPECT_EQ(r.find({"SET NOCOUNT OFF"}).size(), 2u) << "once at the login, once after the script";
}

TEST_F(Wire, AMarkThatTellsNoRowCountIsADatabaseErrorNotAGoodScan) {
    // No "rowcount": the done carries no count, as under SET NOCOUNT ON.
    TdsResponder r(dir.path(), "[" + lookupRule("C001", 1, 0) + R"(, {"sql": "update a15"}])");
    connect(r);
    scan::ScanEngine engine(conn, ADOQuery1);
    engine.strnum = "4";
    const scan::ScanOutcome o = engine.com31RxChar("C001", on);
    EXPECT_EQ(o.verdict, scan::Verdict::DatabaseFailure) << o.Label14;
    EXPECT_EQ(o.Label14, scan::kDatabaseFailureText);
    EXPECT_FALSE(o.counted);
    EXPECT_EQ(engine.lastScanned, "0") << "nothing was recorded";
}

TEST_F(Wire, ThePrintWorkersConnectionReadsLabelTextsInTheStationsCharset) {
    // The server's code page 936 bytes of 中1, as the print range selects them.
    TdsResponder r(dir.path(), R"([{"sql": "select bh,tt,pic from a15",
        "columns": [["bh", "int"], ["tt", "varchar"], ["pic", "varchar"]],
        "rows": [[1, "\u00d6\u00d01", null]]}])");
    print::JobParams job;
    job.lower = job.upper = "1";
    job.database = data::buildConnectionString({r.server(), "", "sa", "x"});
    job.charset = "GBK";
    print::DatabaseRecords records;
    print::LabelRecord label;
    records.select(job);
    ASSERT_TRUE(records.next(label));
    EXPECT_EQ(hex(label.tt), "d6d031") << "config.ini's charset=GBK";

    // Another charset in the next job's settings reopens the connection.
    job.charset = "UTF-8";
    records.select(job);
    ASSERT_TRUE(records.next(label));
    EXPECT_EQ(hex(label.tt), "e4b8ad31");
}

TEST_F(Wire, UserPasswordAndDatabaseArriveAsTyped) {
    TdsResponder r(dir.path(), "[]");
    for (const std::string v : {"a;b", "x}", "{y", "}{", "p=q", "  blanks  ", "密码1", ""}) {
        conn.close();
        connect(r, "d" + v, "u" + v, v);
        const auto logins = r.find({R"("kind": "login")"});
        ASSERT_FALSE(logins.empty());
        const std::string& last = logins.back();
        EXPECT_NE(last.find(R"("password_hex": ")" + hex(v) + "\""), std::string::npos) << v << "\n"
                                                                                        << last;
        EXPECT_NE(last.find(R"("user_hex": ")" + hex("u" + v) + "\""), std::string::npos) << v;
        EXPECT_NE(last.find(R"("database_hex": ")" + hex("d" + v) + "\""), std::string::npos) << v;
    }
}

TEST_F(Wire, ARefusedLineRebuildsTheTableWithTheLinesBeforeItInOneTransaction) {
    const std::string bad = "REFUSED-LINE-0700";
    TdsResponder r(dir.path(), R"([{"sql": "insert into", "params": [")" + hex(bad) +
                                   R"("], "error": "String or binary data would be truncated.",
                                   "number": 8152}, )" +
                                   kImportRules + "]");
    connect(r);
    std::string text;
    for (int i = 1; i <= 1500; ++i)
        text += (i == 700 ? bad : "L" + std::to_string(i)) + "\r\n";
    const data::ImportResult result = import(text);
    EXPECT_EQ(result.outcome, data::ImportResult::Outcome::Failed);
    EXPECT_EQ(result.lines, 699);

    // The transaction that is committed re-creates the table and holds the
    // 699 lines, so the server numbers them 1 … 699 whatever it gave out
    // before the rollback.
    const auto log = r.log();
    std::size_t commit = log.size(), begin = 0;
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].find(R"("request": "commit")") != std::string::npos)
            commit = i;
    ASSERT_LT(commit, log.size()) << "nothing committed";
    for (std::size_t i = 0; i < commit; ++i)
        if (log[i].find(R"("request": "begin")") != std::string::npos)
            begin = i;
    ASSERT_GT(commit, begin + 1);
    EXPECT_NE(log[begin + 1].find("create table a15("), std::string::npos) << log[begin + 1];
    int inserts = 0;
    for (std::size_t i = begin + 1; i < commit; ++i)
        if (log[i].find("insert into a15") != std::string::npos &&
            log[i].find(R"("params": [{)") != std::string::npos)
            ++inserts;
    EXPECT_EQ(inserts, 699);
}
