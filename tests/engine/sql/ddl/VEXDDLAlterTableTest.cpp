// ALTER TABLE and RENAME TABLE run through the statement processor: columns
// added, dropped, modified and renamed with the table's records kept, the
// table renamed, and the wrapping of every failure as 30265.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/ddl/DDLFixture.h"
#include "rtl/Lists.h"

namespace {

using testing::HasSubstr;
using vextest::DDL;
using namespace vex;

class DDLAlter : public DDL {
 protected:
  // Stay (a INTEGER, b VARCHAR(10), c INTEGER, d INTEGER) with two records.
  void SetUp() override {
    DDL::SetUp();
    Run("CREATE TABLE Stay (a INTEGER PRIMARY KEY, b VARCHAR(10), c INTEGER, d INTEGER)");
    TVEXTable& t = TableOf("Stay");
    t.Open();
    for (int32_t a = 1; a <= 2; ++a)
      Append(t,
             {{"a", rtl::Variant(a)},
              {"b", rtl::Variant("b" + std::to_string(a))},
              {"c", rtl::Variant(10 * a)},
              {"d", rtl::Variant(100 * a)}},
             "a");
    Tables.clear();
  }
  // The values of one field in record order, joined by ",".
  std::string Column(const std::string& Table, const std::string& Field) {
    TVEXTable& t = TableOf(Table);
    t.Open();
    std::string values;
    for (t.First(); !t.Eof(); t.Next())
      values += (values.empty() ? "" : ",") + t.FieldByName(Field)->AsVariant().AsString();
    Tables.clear();
    return values;
  }
};

TEST_F(DDLAlter, RenameColumnAndRenameTableKeepTheRecords) {
  Run("ALTER TABLE Stay RENAME COLUMN b TO name");
  Run("ALTER TABLE Stay RENAME c TO count");
  EXPECT_EQ(FieldNames("Stay"), "a,name,count,d");
  EXPECT_EQ(Column("Stay", "name"), "b1,b2");

  Run("ALTER TABLE Stay RENAME TO Visit");
  EXPECT_FALSE(Exists("Stay"));
  Run("RENAME TABLE Visit TO Booking");
  Run("RENAME Booking TO Stay2");
  EXPECT_EQ(Column("Stay2", "count"), "10,20");
}

TEST_F(DDLAlter, AddAndDropColumnsKeepTheRecordsOfTheOthers) {
  Run("ALTER TABLE Stay ADD (e INTEGER DEFAULT 7, f VARCHAR(5), UNIQUE INDEX (e, a))");
  EXPECT_EQ(FieldNames("Stay"), "a,b,c,d,e,f");
  EXPECT_EQ(Column("Stay", "b"), "b1,b2");
  const TVEXAdvIndexDef* unique = TableOf("Stay").AdvIndexDefs().Find("C_Unique$e$a");
  ASSERT_NE(unique, nullptr);
  EXPECT_EQ(unique->Fields, "e;a");
  EXPECT_NE(TableOf("Stay").AdvIndexDefs().Find("C_PK$a"), nullptr);
  EXPECT_EQ(TableOf("Stay").AdvFieldDefs().Find("e")->DefaultValue.AsInt64(), 7);

  Run("ALTER TABLE Stay ADD (IF NOT EXISTS e VARCHAR(9), g INTEGER)");
  EXPECT_EQ(FieldNames("Stay"), "a,b,c,d,e,f,g");
  EXPECT_EQ(TableOf("Stay").AdvFieldDefs().Find("e")->DataType, aftInteger);
  std::string message;
  EXPECT_EQ(CodeOfRun("ALTER TABLE Stay ADD (h INTEGER, b INTEGER)", &message), 30265);
  EXPECT_THAT(message, HasSubstr("Error altering table: 'Field by name 'b' already exists - "
                                 "Native error: 30351"));
  EXPECT_EQ(FieldNames("Stay"), "a,b,c,d,e,f,g");

  Run("ALTER TABLE Stay DROP COLUMN c");
  Run("ALTER TABLE Stay DROP (f, g)");
  // Only "(" or COLUMN is passed over before the names: d itself is dropped.
  Run("ALTER TABLE Stay DROP d");
  EXPECT_EQ(FieldNames("Stay"), "a,b,e");
  EXPECT_EQ(Column("Stay", "b"), "b1,b2");
  EXPECT_EQ(CodeOfRun("ALTER TABLE Stay DROP nothere", &message), 30265);
  EXPECT_THAT(message, HasSubstr("Native error: 30349"));
}

TEST_F(DDLAlter, ModifyChangesOnlyWhatItNames) {
  Run("ALTER TABLE Stay MODIFY (b VARCHAR(30) NOT NULL, c INTEGER MAXVALUE 50, INDEX (d DESC))");
  TVEXTable& t = TableOf("Stay");
  const TVEXAdvFieldDef& b = *t.AdvFieldDefs().Find("b");
  EXPECT_EQ(b.Size, 30);
  EXPECT_TRUE(b.Required);
  EXPECT_EQ(t.AdvFieldDefs().Find("c")->MaxValue.AsInt64(), 50);
  EXPECT_FALSE(t.AdvFieldDefs().Find("c")->Required);
  EXPECT_NE(t.AdvIndexDefs().Find("i$d"), nullptr);
  EXPECT_EQ(Column("Stay", "b"), "b1,b2");

  std::string message;
  EXPECT_EQ(CodeOfRun("ALTER TABLE Stay MODIFY (x INTEGER)", &message), 30265);
  EXPECT_THAT(message, HasSubstr("Field 'x' not found - Native error: 30259"));
}

TEST_F(DDLAlter, AFailedRestructureLeavesTheTableAsItWas) {
  // The primary index still names a, which the new structure lacks.
  std::string message;
  EXPECT_EQ(CodeOfRun("ALTER TABLE Stay DROP a", &message), 30265);
  EXPECT_THAT(message, HasSubstr("Restructure table error: 'Error restructuring table. Cannot "
                                 "create table due to error: "));
  EXPECT_THAT(message, HasSubstr("Native error: 30347"));
  EXPECT_EQ(FieldNames("Stay"), "a,b,c,d");
  EXPECT_EQ(Column("Stay", "a"), "1,2");
  rtl::TStringList tables;
  Database->GetTablesList(tables);
  EXPECT_EQ(tables.Count(), 1);
}

TEST_F(DDLAlter, AStructureChangeInsideATransactionIsRefused) {
  Database->StartTransaction();
  std::string message;
  EXPECT_EQ(CodeOfRun("ALTER TABLE Stay ADD (e INTEGER)", &message), 30265);
  EXPECT_THAT(message, HasSubstr("operation on a database in transaction - Native error: 20180"));
  EXPECT_EQ(CodeOfRun("RENAME TABLE Stay TO Visit", &message), 30265);
  EXPECT_THAT(message, HasSubstr("Native error: 20181"));
  Database->Rollback();
  EXPECT_EQ(FieldNames("Stay"), "a,b,c,d");
}

TEST_F(DDLAlter, ParseErrorsNameTheTokenAndTheirPlace) {
  struct Case {
    const char* Sql;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {"ALTER TABLE", 30261, "Blank SQL command"},
      {"ALTER TABLE Stay s 'ADD' (a INTEGER)", 30253,
       "ADD, DROP or MODIFY keyword expected, but 'ADD' found at line 1, column 20"},
      {"ALTER TABLE Stay SELECT", 30252, "ADD, DROP or MODIFY keyword expected, but 'SELECT'"},
      {"ALTER TABLE Stay", 30161, "Unexpected end of SQL command"},
      {"ALTER TABLE Stay ADD e INTEGER", 30226, "Token '(' expected, but 'e' found"},
      {"ALTER TABLE Stay RENAME b c", 30352, "Token 'TO' expected, but 'c' found"},
      {"ALTER TABLE Stay DROP COLUMN 5", 10408, "Field name expected, but expression '5...'"},
      {"RENAME TABLE", 30354, "Blank SQL command"},
      {"RENAME Stay INTO Visit", 30355, "Token 'TO' expected, but 'INTO' found"},
      {"RENAME Stay TO", 30161, "Unexpected end of SQL command"},
      // Failures of the table component, wrapped with their own code.
      {"ALTER TABLE Stay RENAME nothere TO x", 30265, "Error altering table: '"},
      {"ALTER TABLE Missing RENAME TO x", 30265, "Error altering table: '"},
  };
  for (const Case& c : cases) {
    std::string message;
    EXPECT_EQ(CodeOfRun(c.Sql, &message), c.Code) << c.Sql << ": " << message;
    EXPECT_THAT(message, HasSubstr(c.Text)) << c.Sql;
  }
  EXPECT_EQ(FieldNames("Stay"), "a,b,c,d");
}

}  // namespace
