// CREATE INDEX and DROP INDEX run through the statement processor: the index
// they add with its options, the three forms of the dropped index's name, a
// table of another database file and their parse errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/ddl/DDLFixture.h"

namespace {

using testing::HasSubstr;
using vextest::DDL;
using namespace vex;

class DDLIndex : public DDL {
 protected:
  void SetUp() override {
    DDL::SetUp();
    Run("CREATE TABLE Stay (a INTEGER, b VARCHAR(10), c INTEGER)");
  }
};

TEST_F(DDLIndex, CreateIndexAddsTheIndexWithItsOrderCaseAndUniqueness) {
  Run("CREATE UNIQUE INDEX ix ON Stay (a DESC, b NOCASE whatever ASC)");
  Run("CREATE INDEX byC ON Stay s (c CASE)");
  TVEXAdvIndexDefs& i = TableOf("Stay").AdvIndexDefs();
  const TVEXAdvIndexDef* ix = i.Find("ix");
  ASSERT_NE(ix, nullptr);
  EXPECT_EQ(ix->Fields, "a;b");
  EXPECT_EQ(ix->DescFields, "a");
  EXPECT_EQ(ix->CaseInsFields, "b");
  EXPECT_TRUE(ix->Options.Contains(db::ixUnique));
  const TVEXAdvIndexDef* byC = i.Find("byC");
  ASSERT_NE(byC, nullptr);
  EXPECT_EQ(byC->Fields, "c");
  EXPECT_EQ(byC->CaseInsFields, "");
  EXPECT_FALSE(byC->Options.Contains(db::ixUnique));

  // The unique index now refuses a second record with the same a and b.
  TVEXTable& t = TableOf("Stay");
  t.Open();
  Append(t, {{"a", rtl::Variant(1)}, {"b", rtl::Variant("x")}}, "a");
  EXPECT_ANY_THROW(Append(t, {{"a", rtl::Variant(1)}, {"b", rtl::Variant("X")}}, "a"));
  t.Cancel();
}

TEST_F(DDLIndex, DropIndexTakesTableDotIndexAndDatabaseDotTableDotIndex) {
  Run("CREATE INDEX ix ON Stay (a)");
  Run("DROP INDEX Stay.ix");
  EXPECT_EQ(TableOf("Stay").AdvIndexDefs().Find("ix"), nullptr);

  std::string message;
  EXPECT_EQ(CodeOfRun("DROP INDEX ix", &message), 30498);
  EXPECT_THAT(message, HasSubstr("Table name expected, but 'ix' found"));

  const std::string other = NewFile("other.vex", "secret");
  Run("CREATE TABLE '" + other + "'.Rate PASSWORD 'secret' (room INTEGER, price CURRENCY)");
  Run("CREATE INDEX byRoom ON '" + other + "'.Rate (room DESC, PASSWORD 'secret')");
  TVEXDatabase second(nullptr);
  second.SetDatabaseName("Other");
  second.SetDatabaseFileName(other);
  second.SetPassword("secret");
  second.SetSilentMode(true);
  second.Open();
  const TVEXAdvIndexDef* byRoom = TableOf("Rate", "Other").AdvIndexDefs().Find("byRoom");
  ASSERT_NE(byRoom, nullptr);
  EXPECT_EQ(byRoom->DescFields, "room");
  Tables.clear();
  second.Close();

  Run("DROP INDEX '" + other + "'.Rate.byRoom PASSWORD 'secret'");
  second.Open();
  EXPECT_EQ(TableOf("Rate", "Other").AdvIndexDefs().Find("byRoom"), nullptr);
  Tables.clear();
}

TEST_F(DDLIndex, IndexStatementErrorsNameTheTokenAndTheirFailuresPassOnUnwrapped) {
  struct Case {
    const char* Sql;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {"CREATE UNIQUE 5", 30267, "'INDEX' keyword expected, but '5' found"},
      {"CREATE UNIQUE TABLE", 30268, "'INDEX' keyword expected, but 'TABLE' found"},
      {"CREATE INDEX 5 ON Stay (a)", 30269, "index name expected, but '5' found"},
      {"CREATE INDEX ix 5 Stay (a)", 30270, "'ON' keyword expected, but '5' found"},
      {"CREATE INDEX ix IN Stay (a)", 30271, "'ON' keyword expected, but 'IN' found"},
      {"CREATE INDEX ix ON Stay 'a'", 30273, "'(' symbol expected, but 'a' found"},
      {"CREATE INDEX ix ON Stay (5)", 30274, "Field name expected, but '5' found"},
      {"CREATE INDEX ix ON Stay (a, PASSWORD x)", 30275, "Quoted password expected"},
      {"CREATE INDEX ix ON Stay (PASSWORD 'p' a)", 30276, "')' or ',' symbol expected"},
      {"CREATE INDEX ix ON Stay (a", 30059, "Missing symbol ')'"},
      {"DROP INDEX", 30278, "Unexpected end of SQL command found at line 1, column 6"},
      {"DROP INDEX Stay.", 30161, "Unexpected end of SQL command found at line 1, column 16"},
      {"DROP INDEX db.Stay.ix PASSWORD x", 30282, "Quoted password expected"},
      // The component's own failures, unwrapped.
      {"CREATE INDEX ix ON Stay (nothere)", 20050, "nothere"},
      {"DROP INDEX Stay.nothere", 20021, "nothere"},
  };
  for (const Case& c : cases) {
    std::string message;
    EXPECT_EQ(CodeOfRun(c.Sql, &message), c.Code) << c.Sql << ": " << message;
    EXPECT_THAT(message, HasSubstr(c.Text)) << c.Sql;
  }
}

}  // namespace
