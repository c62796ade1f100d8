// The logic-test runner itself: a file whose records hold fails with a report
// naming the file, the record's line, its statement, what the file expected
// and what the engine did; a broken file never passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SqlLogicRunner.h"
#include "support/ScratchDir.h"

namespace {

using sqllogic::Failure;
using sqllogic::Result;

Result RunCase(const std::string& Text) {
  testsupport::ScratchDir dir;
  return sqllogic::RunText("case.test", Text, dir.Path());
}

const char* const kTable =
    "statement ok\n"
    "CREATE TABLE t (a INTEGER, b VARCHAR(10))\n"
    "\n";

TEST(SqlLogicRunner, AFileWhoseRecordsHoldPasses) {
  const Result r = RunCase(std::string(kTable) +
                       "# a comment between records\n"
                       "query I nosort\n"
                       "SELECT COUNT(*)\n"
                       "  FROM t\n"
                       "----\n"
                       "0\n"
                       "\n"
                       "query IT rowsort\n"
                       "SELECT COUNT(*), MAX(b) FROM t\n"
                       "----\n"
                       "0 NULL\n"
                       "\n"
                       "statement error 30154 SQL token expected, but 'FOO' found at line 1, column 1\n"
                       "FOO\n"
                       "\n"
                       "database multiuser\n"
                       "\n"
                       "query I\n"
                       "SELECT COUNT(*) FROM t\n"
                       "----\n"
                       "0\n"
                       "\n"
                       "halt\n"
                       "\n"
                       "statement ok\n"
                       "never run\n");
  EXPECT_TRUE(r.Failures.empty()) << r.Report();
  EXPECT_EQ(r.Records, 7);
}

TEST(SqlLogicRunner, ABrokenRecordFailsWithFileLineStatementExpectedAndActual) {
  struct Case {
    const char* What;
    std::string Text;
    int Line;
    std::string Sql;
    std::string Expected;
    std::string Actual;
  };
  const std::vector<Case> cases = {
      {"a wrong value", std::string(kTable) + "query I\nSELECT COUNT(*) FROM t\n----\n1\n", 4,
       "SELECT COUNT(*) FROM t", "\n    1", "\n    0"},
      {"a wrong error code", "statement error 30153\nFOO\n", 1, "FOO", "error 30153",
       "error 30154: SQL token expected, but 'FOO' found at line 1, column 1"},
      {"a wrong error message", "statement error 30154 SQL token expected\nFOO\n", 1, "FOO",
       "error 30154: SQL token expected",
       "error 30154: SQL token expected, but 'FOO' found at line 1, column 1"},
      {"an error where success was expected", std::string(kTable) + kTable, 4,
       "CREATE TABLE t (a INTEGER, b VARCHAR(10))", "ok", "error "},
      {"success where an error was expected",
       "statement error 30154\nCREATE TABLE u (a INTEGER)\n", 1, "CREATE TABLE u (a INTEGER)",
       "error 30154", "ok"},
      {"an error where rows were expected", "query I\nSELECT x FROM nowhere\n----\n1\n", 1,
       "SELECT x FROM nowhere", "\n    1", "error "},
      {"a column of another type", std::string(kTable) + "query T\nSELECT COUNT(*) AS n FROM t\n----\n0\n",
       4, "SELECT COUNT(*) AS n FROM t", "columns of the types T", "column 1 (n) is "},
      {"too few types", std::string(kTable) + "query I\nSELECT COUNT(*), MAX(a) FROM t\n----\n0 NULL\n",
       4, "SELECT COUNT(*), MAX(a) FROM t", "columns of the types I",
       "the result has 2 columns, the query gives 1 types"},
      {"an unknown record", "\n\nselect 1\n", 3, "", "statement, query, database, param or halt",
       "'select'"},
      {"a query without ----", "query I\nSELECT 1 FROM t\n", 1, "SELECT 1 FROM t",
       "query TYPES [nosort|rowsort|valuesort], the text, ----, the rows", "no ----"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const Result r = RunCase(c.Text);
    ASSERT_EQ(r.Failures.size(), 1u) << r.Report();
    const Failure& f = r.Failures[0];
    EXPECT_EQ(f.File, "case.test");
    EXPECT_EQ(f.Line, c.Line);
    EXPECT_EQ(f.Sql, c.Sql);
    EXPECT_EQ(f.Expected, c.Expected);
    // An engine message may carry more than the case needs: its start counts.
    EXPECT_EQ(f.Actual.substr(0, c.Actual.size()), c.Actual) << f.Actual;
  }
}

TEST(SqlLogicRunner, TheReportShowsEveryPartOnItsOwnLines) {
  const Result r = RunCase(std::string(kTable) +
                       "query IT nosort\nSELECT COUNT(*), MIN(b)\nFROM t\n----\n1 x\n2\ty z\n");
  ASSERT_EQ(r.Failures.size(), 1u);
  EXPECT_EQ(r.Report(),
            "case.test:4: statement:\n"
            "    SELECT COUNT(*), MIN(b)\n"
            "    FROM t\n"
            "  expected:\n"
            "    1 x\n"
            "    2\ty z\n"
            "  actual:\n"
            "    0 NULL\n");
}

TEST(SqlLogicRunner, EveryFailingRecordIsReportedAndLaterRecordsStillRun) {
  const Result r = RunCase("statement ok\nFOO\n\nstatement ok\nBAR\n\n" + std::string(kTable));
  ASSERT_EQ(r.Failures.size(), 2u) << r.Report();
  EXPECT_EQ(r.Failures[0].Line, 1);
  EXPECT_EQ(r.Failures[1].Line, 4);
  EXPECT_EQ(r.Records, 3);
}

TEST(SqlLogicRunner, AFileThatCannotBeReadFails) {
  const Result r = sqllogic::RunFile("/nonexistent/folder/x.test");
  ASSERT_EQ(r.Failures.size(), 1u);
  EXPECT_EQ(r.Failures[0].File, "x.test");
}

TEST(SqlLogicRunner, TheSqlOfStatementsAndQueriesSeedsTheFuzzers) {
  EXPECT_EQ(sqllogic::ExtractSql("statement ok\nA\nB\n\nquery I\nC\n----\n1\n\nhalt\n"),
            (std::vector<std::string>{"A\nB", "C"}));
}

}  // namespace
