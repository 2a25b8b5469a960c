#include "data/Sha256.h"
#include "data/SqlText.h"

#include <cstdio>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

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

// The hash the journal keeps of a script's text: the published vectors, and
// every length around a block's end against coreutils' sha256sum.
TEST(ScriptHash, IsTheSha256OfTheTextAsSha256sumComputesIt) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(std::string(1'000'000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
#ifndef _WIN32
    for (std::size_t n : {1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i)
            text += static_cast<char>((i * 37 + n) % 256);
        char path[] = "/tmp/vexora-sha-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        FILE* p = popen(("sha256sum " + std::string(path)).c_str(), "r");
        ASSERT_NE(p, nullptr);
        char digest[65] = {};
        ASSERT_EQ(fread(digest, 1, 64, p), 64u);
        pclose(p);
        std::remove(path);
        EXPECT_EQ(sha256Hex(text), digest) << n << " bytes";
    }
#endif
}
