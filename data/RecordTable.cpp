#include "data/RecordTable.h"

namespace vx::data {
namespace RecordTable {
namespace {

std::string s(std::string_view v) {
    return std::string(v);
}

} // namespace

std::vector<std::string> createBatch(Dialect d, std::string_view table, bool trailingBlank) {
    const std::string t = s(table);
    if (d == Dialect::TSql) {
        return {"if EXISTS (SELECT * FROM sysobjects WHERE name ='" + t + "') drop table " + t +
                    (trailingBlank ? " " : ""),
                "create table " + t + "(",
                "bh  int identity(1,1) primary key,",
                "tt  varchar(30),",
                "pic  varchar(90),",
                "prned bit DEFAULT 0,)"};
    }
    // AUTOINCREMENT keeps numbers from ever being reused, like an identity
    // column; dropping the table resets its sequence. The index is on the
    // exact expression the scan lookup compares.
    return {"DROP TABLE IF EXISTS " + t + ";",
            "CREATE TABLE " + t + "(",
            "bh INTEGER PRIMARY KEY AUTOINCREMENT,",
            "tt VARCHAR(30) CHECK (length(CAST(tt AS BLOB)) <= 30),",
            "pic VARCHAR(90) CHECK (length(CAST(pic AS BLOB)) <= 90),",
            "prned BIT DEFAULT 0);",
            "CREATE INDEX " + t + "_scan_key ON " + t + "(rtrim(ltrim(tt,' '),' '));"};
}

std::string existenceQuery(Dialect d) {
    return d == Dialect::TSql ? "SELECT * FROM  sysobjects WHERE name = 'a15'"
                              : "SELECT name FROM sqlite_master WHERE type='table' AND name='a15'";
}

std::string anyRecordQuery(Dialect d) {
    return d == Dialect::TSql ? "select top 1 pic from a15" : "SELECT pic FROM a15 LIMIT 1";
}

std::string recordCountQuery(Dialect d) {
    return d == Dialect::TSql ? "select count(*) from a15" : "SELECT count(*) FROM a15";
}

std::string lookupQuery(Dialect d) {
    if (d == Dialect::TSql)
        return "select bh,prned from a15 where "
               "LTrim(RTrim(cast(tt as varbinary(200))))=cast(:mm as varbinary(200))";
    return "SELECT bh,prned FROM a15 WHERE rtrim(ltrim(tt,' '),' ')=rtrim(:mm,' ')";
}

std::string markScanned(Dialect d, std::string_view recordNumber) {
    return (d == Dialect::TSql ? "update a15 set prned =1where bh="
                               : "UPDATE a15 SET prned=1 WHERE bh=") +
           s(recordNumber) + (d == Dialect::TSql ? " and prned=0" : " AND prned=0");
}

std::string clearAllScanned(Dialect) {
    return "update a15 set prned=0 where prned=1";
}

std::string printRange(Dialect, std::string_view start, std::string_view end) {
    return "select bh,tt,pic from a15 WHERE bh>=" + s(start) + " and bh<=" + s(end);
}

std::string picturePad(Dialect d, int digits) {
    const std::string n = std::to_string(digits);
    if (d == Dialect::TSql)
        return "update a15 set pic=RIGHT('0000000000'+cast(bh as varchar)," + n + ")";
    // RIGHT(s, 0) is empty, and RIGHT with a negative length fails for every
    // row it meets (an empty table passes): substr cannot do either.
    if (digits == 0)
        return "UPDATE a15 SET pic=''";
    if (digits < 0)
        return "UPDATE a15 SET pic=json_extract('{}','Invalid length parameter passed to the "
               "right function.')";
    return "UPDATE a15 SET pic=substr('0000000000'||CAST(bh AS TEXT),-" + n + ")";
}

std::string pictureWrap(Dialect d) {
    if (d == Dialect::TSql)
        return "update a15 set pic=:prefix + pic + :ext";
    return "UPDATE a15 SET pic=:prefix || pic || :ext";
}

std::string insertText(Dialect, std::string_view table) {
    return "insert into " + s(table) + " (tt) values (:a)";
}

std::vector<std::string> copyStagingToMain(Dialect d) {
    if (d == Dialect::TSql)
        return {"insert a15(tt,pic)", "select tt,'' from a14"};
    return {"INSERT INTO a15(tt,pic)", "SELECT tt,'' FROM a14 ORDER BY bh"};
}

std::vector<std::string> duplicateCheck(Dialect d, std::string_view table) {
    if (d == Dialect::TSql)
        return {"IF not (OBJECT_ID('tempdb..#a13') IS NULL)", " DROP TABLE #a13",
                " SELECT tt, COUNT(*) as ge,cast(tt as varbinary)as xx into #a13",
                " FROM " + s(table) + " GROUP BY tt,cast(tt as varbinary)", " HAVING COUNT(*) > 1"};
    // A temporary table lives as long as the connection, like #a13.
    return {"DROP TABLE IF EXISTS temp.\"#a13\";", "CREATE TEMP TABLE \"#a13\" AS",
            " SELECT tt, COUNT(*) AS ge, CAST(substr(CAST(tt AS BLOB),1,30) AS BLOB) AS xx",
            " FROM " + s(table) + " GROUP BY tt, CAST(tt AS BLOB)", " HAVING COUNT(*) > 1;"};
}

std::string duplicateSelect(Dialect d) {
    return d == Dialect::TSql ? " select * from #a13" : "SELECT * FROM temp.\"#a13\"";
}

std::vector<std::string> exportQuery(Dialect d, ExportFilter filter) {
    std::vector<std::string> lines;
    if (d == Dialect::TSql) {
        lines = {"if EXISTS (SELECT * FROM sysobjects WHERE name ='a15')", "select * from a15"};
    } else {
        lines = {"select * from a15"};
    }
    if (filter == ExportFilter::Unscanned)
        lines.emplace_back(" where prned=0");
    else if (filter == ExportFilter::Scanned)
        lines.emplace_back(" where prned=1");
    return lines;
}

ImportStatements importStatements(Dialect d, std::string_view table) {
    return {createBatch(d, table, false), insertText(d, table), duplicateCheck(d, table),
            duplicateSelect(d), kTextBytes};
}

std::string allRecords(Dialect) {
    return "select bh,tt from a15 order by bh";
}

} // namespace RecordTable

TableState checkRecordTable(Query& ADOQ2) {
    const Dialect d = ADOQ2.connection().dialect();
    ADOQ2.open({RecordTable::existenceQuery(d)}); // a failure here is the connection's failure
    const bool missing = ADOQ2.isEmpty();
    try {
        if (missing) {
            ADOQ2.execute(RecordTable::createBatch(d, "a15", true));
            return TableState::Created;
        }
        ADOQ2.open({RecordTable::anyRecordQuery(d)});
        const bool hasRow = !ADOQ2.isEmpty();
        ADOQ2.close();
        return hasRow ? TableState::HasRecords : TableState::Empty;
    } catch (const DbError& e) {
        throw TableCheckError(e.what());
    }
}

void unmarkAllRecords(Query& ADOQ2) {
    ADOQ2.close();
    ADOQ2.setText(RecordTable::clearAllScanned(ADOQ2.connection().dialect()));
    ADOQ2.execute();
}

} // namespace vx::data
