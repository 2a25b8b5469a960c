#include "data/SqlText.h"

#include <gtest/gtest.h>

using namespace vx::data;

struct MarkerCase {
    const char* sql;
    const char* text;
    std::vector<std::string> names;
};

class ParameterMarkers : public ::testing::TestWithParam<MarkerCase> {};

TEST_P(ParameterMarkers, AreReplacedOutsideQuotesOnly) {
    const auto& c = GetParam();
    ParsedSql p = parseParameters(c.sql);
    EXPECT_EQ(p.text, c.text);
    EXPECT_EQ(p.names, c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ParameterMarkers,
    ::testing::Values(
        MarkerCase{"select bh from a15 where x=cast(:mm as varbinary(200))",
                   "select bh from a15 where x=cast(? as varbinary(200))",
                   {"mm"}},
        MarkerCase{"insert into a15 (tt) values (:a)", "insert into a15 (tt) values (?)", {"a"}},
        MarkerCase{"select ':x', \":y\", `:z` from t where a=:b,c",
                   "select ':x', \":y\", `:z` from t where a=?,c",
                   {"b"}},
        MarkerCase{"select 'a''b', :p;:q\r\n:r\n", "select 'a''b', ?;?\r\n?\n", {"p", "q", "r"}},
        MarkerCase{"select 12::34, a: b", "select 12:34, a: b", {}},
        MarkerCase{"select :a,:a", "select ?,?", {"a", "a"}},
        MarkerCase{"x=:name_1)", "x=?)", {"name_1"}}));

TEST(StatementSplit, SplitsAtSemicolonsOutsideQuotesAndCarriesNames) {
    ParsedSql batch = parseParameters(
        "insert into t values (:a, ';');\r\n-- c;\r\nselect \"x;\" from t where b=:b;  ");
    auto parts = splitStatements(batch);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].text, "insert into t values (?, ';')");
    EXPECT_EQ(parts[0].names, std::vector<std::string>{"a"});
    EXPECT_EQ(parts[1].names, std::vector<std::string>{"b"});
    EXPECT_NE(parts[1].text.find("select \"x;\" from t where b=?"), std::string::npos);
}

TEST(JoinLines, JoinsWithCrLfAndNoTrailingBreak) {
    EXPECT_EQ(joinLines({"a", "b", ""}), "a\r\nb\r\n");
    EXPECT_EQ(joinLines({}), "");
}

TEST(ParameterMarkers, OnlyAMarkerCastToVarbinaryIsBoundAsBinary) {
    const ParsedSql lookup = parseParameters("select bh,prned from a15 where "
                                             "LTrim(RTrim(cast(tt as varbinary(200))))="
                                             "cast(:mm as varbinary(200))");
    EXPECT_EQ(lookup.binary, std::vector<bool>{true});
    EXPECT_EQ(
        parseParameters("x=CAST( :a  AS\r\nVARBINARY) and y=:b and z=cast(:c as varchar)").binary,
        (std::vector<bool>{true, false, false}));
    EXPECT_EQ(parseParameters("insert into a15 (tt) values (:a)").binary, std::vector<bool>{false});
    const auto parts = splitStatements(parseParameters("select :a; select cast(:b as varbinary)"));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].binary, std::vector<bool>{true});
}
