#include "data/ConnectionString.h"
#include "data/Database.h"
#include "tests/support/Databases.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <map>

using namespace vx::data;
using vx::test::TempDir;

// The same behaviour through every transport: embedded SQLite, ODBC to
// SQLite, and SQL Server when one is configured.
class DatabaseLayer : public vx::test::BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        q.setText(db.dialect() == Dialect::TSql
                      ? "if object_id('t1') is not null drop table t1\r\n"
                        "create table t1(id int identity(1,1) primary key, tt varchar(30), b bit "
                        "default 0)"
                      : "drop table if exists t1;\r\n"
                        "create table t1(id integer primary key autoincrement, tt varchar(30), b "
                        "bit default 0)");
        q.execute();
    }
    void insert(const std::string& text) {
        q.close();
        q.setText("insert into t1 (tt) values (:a)");
        q.setParam("a", text);
        q.execute();
    }

    Query q{db};
};

TEST_P(DatabaseLayer, LinesRunAsOneBatchOfSeveralStatements) {
    q.clear();
    q.add("insert into t1 (tt) values ('x')");
    if (db.dialect() == Dialect::Sqlite)
        q.add(";");
    q.add("insert into t1 (tt) values ('y')");
    q.execute();
    q.setText("select count(*) as n from t1");
    q.open();
    EXPECT_EQ(q.fieldByName("N").asText(), "2");
}

TEST_P(DatabaseLayer, ValuesReadAsTextIntegerNullAndBit) {
    insert("AB12");
    q.setText("select id, tt, null as pic, b from t1");
    q.open();
    ASSERT_FALSE(q.isEmpty());
    EXPECT_EQ(q.field(0).asText(), "1");
    EXPECT_EQ(q.fieldByName("tt").asText(), "AB12");
    EXPECT_EQ(q.field(2).asText(), "");
    EXPECT_TRUE(q.field(2).isNull());
    EXPECT_EQ(q.field(3).asText(), "False");
    EXPECT_EQ(q.fieldCount(), 4);
    EXPECT_EQ(q.fieldName(1), "tt");
}

TEST_P(DatabaseLayer, RowsAreWalkedToTheEndAndEmptyResultIsEmpty) {
    for (const char* t : {"a", "b", "c"})
        insert(t);
    q.setText("select tt from t1 order by id");
    q.open();
    std::string seen;
    for (; !q.eof(); q.next())
        seen += q.field(0).asText();
    EXPECT_EQ(seen, "abc");
    EXPECT_FALSE(q.isEmpty());
    q.setText("select tt from t1 where tt='zz'");
    q.open();
    EXPECT_TRUE(q.isEmpty());
    EXPECT_TRUE(q.eof());
}

TEST_P(DatabaseLayer, TextsAreBoundAndReadAsBytes) {
    const std::string gbk = "\xB2\xE2\xCA\xD4 A,'\"b"; // GBK "测试" and quotes
    insert(gbk);
    q.setText("select tt from t1 where tt = :mm");
    q.setParam("mm", gbk);
    q.open();
    ASSERT_FALSE(q.isEmpty());
    EXPECT_EQ(q.field(0).asText(), gbk);
}

TEST_P(DatabaseLayer, AMarkerWithoutValueIsAnErrorNotNull) {
    q.setText("insert into t1 (tt) values (:a)");
    EXPECT_THROW(q.execute(), DbError);
    q.setText("select count(*) from t1");
    q.open();
    EXPECT_EQ(q.field(0).asText(), "0");
}

TEST_P(DatabaseLayer, ColonsInsideQuotesAreSentUnchanged) {
    q.setText("insert into t1 (tt) values ('a::b')");
    q.execute();
    q.setText("select tt from t1");
    q.open();
    EXPECT_EQ(q.field(0).asText(), "a::b");
}

TEST_P(DatabaseLayer, FailuresCarryTheDatabasesText) {
    q.setText("select nosuchcolumn from t1");
    try {
        q.open();
        FAIL() << "no error";
    } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("nosuchcolumn"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(q.active());
}

TEST_P(DatabaseLayer, PreparedInsertInATransactionCommitsOrRollsBack) {
    auto& be = db.backend();
    auto st = be.prepare(parseParameters("insert into t1 (tt) values (:a)"));
    be.beginTransaction();
    for (const char* t : {"p", "q"}) {
        st->bindText(0, t);
        st->execute();
    }
    be.commit();
    be.beginTransaction();
    st->bindText(0, "r");
    st->execute();
    be.rollback();
    q.setText("select count(*) from t1");
    q.open();
    EXPECT_EQ(q.field(0).asText(), "2");
}

TEST_P(DatabaseLayer, ClosingTheConnectionClosesItsQueries) {
    insert("a");
    q.setText("select tt from t1");
    q.open();
    db.close();
    EXPECT_FALSE(q.active());
    EXPECT_FALSE(db.connected());
    EXPECT_THROW(q.open(), DbError);
}

INSTANTIATE_TEST_SUITE_P(Backends, DatabaseLayer, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });

TEST(ConnectionString, IsBuiltInItsFixedOrder) {
    DbSettings s{"srv\\SQLEXPRESS", "labels", "sa", "pw"};
    EXPECT_EQ(buildConnectionString(s),
              "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=pw;"
              "Initial Catalog=labels;Data Source=srv\\SQLEXPRESS");
}

TEST(ConnectionString, RoundTripsPasswordsWithSeparatorsAndBraces) {
    for (const std::string pw : {"", "a;b", "x}y{", ";Initial Catalog=z", "p=q;Data Source"}) {
        DbSettings s{"server", "db", "user", pw};
        DbSettings back = parseConnectionString(buildConnectionString(s));
        EXPECT_EQ(back.password, pw);
        EXPECT_EQ(back.server, "server");
        EXPECT_EQ(back.database, "db");
        EXPECT_EQ(back.user, "user");
    }
}

namespace {

// How each driver reads KEY={value}; pairs back, as their parsers do:
// FreeTDS runs a braced value to the first "};" with no escapes (seen on the
// wire, see test_wire); the Microsoft drivers read "}}" as one '}'.
std::map<std::string, std::string> readBack(const std::string& text, BraceRule rule) {
    std::map<std::string, std::string> out;
    std::size_t p = 0;
    while (p < text.size()) {
        const std::size_t eq = text.find('=', p);
        const std::string key = text.substr(p, eq - p);
        std::string value;
        p = eq + 1;
        if (text[p] == '{') {
            ++p;
            if (rule == BraceRule::FreeTds) {
                const std::size_t end = text.find("};", p);
                value = text.substr(p, end - p);
                p = end + 2;
            } else {
                for (; !(text[p] == '}' && (p + 1 == text.size() || text[p + 1] != '}')); ++p) {
                    value += text[p];
                    if (text[p] == '}')
                        ++p;
                }
                p += 2;
            }
        } else {
            const std::size_t end = text.find(';', p);
            value = text.substr(p, end - p);
            p = end + 1;
        }
        out[key] = value;
    }
    return out;
}

} // namespace

TEST(ConnectionString, EveryValueReachesEachDriverAsTyped) {
    const std::vector<std::string> values = {"a;b",  "abc}",  "}",   "{x",       "{x}", "p=q",
                                             " x  ", "密码1", "a}b", "a;PWD=x}", ""};
    for (const char* driver : {"FreeTDS", "SQL Server", "ODBC Driver 17 for SQL Server",
                               "ODBC Driver 18 for SQL Server"}) {
        const BraceRule rule = braceRule(driver);
        for (const std::string& v : values) {
            const DbSettings s{"srv", "db" + v, "u" + v, v};
            const auto back = readBack(odbcConnectionString(s, driver, "UTF-8"), rule);
            EXPECT_EQ(back.at("PWD"), v) << driver;
            EXPECT_EQ(back.at("UID"), "u" + v) << driver;
            EXPECT_EQ(back.at("DATABASE"), "db" + v) << driver;
            EXPECT_EQ(back.at("SERVER"), "srv") << driver;
            EXPECT_EQ(back.at("DRIVER"), driver);
        }
    }
    EXPECT_EQ(braceRule("FreeTDS"), BraceRule::FreeTds);
    EXPECT_EQ(braceRule("SQL Server"), BraceRule::Microsoft);
}

TEST(ConnectionString, FreeTdsGetsItsProtocolAndTheClientCharsetAndRefusesWhatItCannotRead) {
    const std::string cs = odbcConnectionString({"srv", "", "sa", "pw"}, "FreeTDS", "GBK");
    EXPECT_NE(cs.find(";TDS_Version=7.4;"), std::string::npos) << cs;
    EXPECT_NE(cs.find("ClientCharset={GBK};"), std::string::npos) << cs;
    EXPECT_EQ(cs.find("DATABASE"), std::string::npos) << "no database: the login's default";
    EXPECT_EQ(
        odbcConnectionString({"srv", "", "sa", "pw"}, "SQL Server", "GBK").find("ClientCharset"),
        std::string::npos);
    EXPECT_THROW(odbcConnectionString({"srv", "", "sa", "a};b"}, "FreeTDS", "UTF-8"), DbError);
    EXPECT_NO_THROW(odbcConnectionString({"srv", "", "sa", "a};b"}, "SQL Server", "UTF-8"));
}

TEST(ConnectionString, TheSqliteDriverGetsBareValuesAndRefusesASemicolon) {
    EXPECT_EQ(odbcConnectionString({"srv", "/data/odbc.db", "sa", "p{w}"}, "SQLite3", "UTF-8"),
              "DRIVER=SQLite3;SERVER=srv;DATABASE=/data/odbc.db;UID=sa;PWD=p{w};");
    EXPECT_THROW(odbcConnectionString({"srv", "a;b.db", "sa", ""}, "SQLite3", "UTF-8"), DbError);
}

TEST(ConnectionString, SqliteFilesAreRecognisedByExtension) {
    EXPECT_TRUE(namesSqliteFile("station.db"));
    EXPECT_TRUE(namesSqliteFile("C:\\data\\Station.SQLITE3"));
    EXPECT_TRUE(namesSqliteFile("x.sqlite"));
    EXPECT_FALSE(namesSqliteFile("127.0.0.1"));
    EXPECT_FALSE(namesSqliteFile("srv\\db"));
    EXPECT_EQ(resolveSqlitePath("a.db", "/opt/vexora/"), "/opt/vexora/a.db");
    EXPECT_EQ(resolveSqlitePath("/var/a.db", "/opt/vexora/"), "/var/a.db");
}

TEST(ConnectionString, EmbeddedFileOpensRelativeToTheBaseFolder) {
    TempDir dir;
    Connection db;
    db.setBaseFolder(dir.folder());
    db.setConnectionString(buildConnectionString({"station.db", "", "sa", ""}));
    db.open();
    EXPECT_TRUE(db.connected());
    EXPECT_EQ(db.dialect(), Dialect::Sqlite);
    Query q(db);
    q.setText("create table x(a int)");
    q.execute();
    db.close();
    EXPECT_FALSE(vx::test::readFile(dir.file("station.db")).empty());
}

TEST(SqliteStatementReuse, TheSameBatchRunsWholeEveryTime) {
    TempDir dir;
    Connection db;
    db.openWith(openSqliteBackend(dir.file("x.db")));
    Query q(db);
    for (int i = 0; i < 3; ++i) {
        q.setText("drop table if exists r;\r\ncreate table r(a int);\r\ncreate index r_a on r(a)");
        ASSERT_NO_THROW(q.execute()) << "run " << i;
    }
    q.setText("insert into r values (:v)");
    for (const char* v : {"1", "2"}) {
        q.setParam("v", v);
        q.execute();
    }
    q.setText("select count(*) from r");
    q.open();
    EXPECT_EQ(q.field(0).asText(), "2");
}
