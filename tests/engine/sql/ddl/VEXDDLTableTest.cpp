// CREATE, DROP and TRUNCATE TABLE run through the statement processor on a
// database file: column types and options, the indexes they declare, their
// parse errors, and the wrapping of the table component's failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/sql/ddl/DDLFixture.h"

namespace {

using testing::HasSubstr;
using vextest::DDL;
using namespace vex;

TEST_F(DDL, CreateTableGivesEachColumnTheTypeAndOptionsItNames) {
  Run("CREATE TABLE Guest (id AUTOINC(INTEGER, INCREMENT 2, STARTVALUE 100, CYCLED), "
      "small AUTOINC(SMALLINT), big AUTOINCLARGEINT(NOMAXVALUE, MINVALUE 5, INITIALVALUE 7), "
      "name VARCHAR(20) NOT NULL, code CHAR(3) NULL, "
      "lim INTEGER MINVALUE 1 MAXVALUE 9, open INTEGER NOMINVALUE NOMAXVALUE, "
      "note MEMO BLOBCOMPRESSIONALGORITHM zlib BLOBCOMPRESSIONMODE 5 BLOBBLOCKSIZE 4096, "
      "raw BYTES(8) SOMEWORD [ignored])");
  TVEXAdvFieldDefs& f = TableOf("Guest").AdvFieldDefs();
  ASSERT_EQ(f.Count(), 9);
  const TVEXAdvFieldDef& id = *f.Find("id");
  EXPECT_EQ(id.DataType, aftAutoInc);
  EXPECT_EQ(id.AutoincIncrement, 2);
  EXPECT_EQ(id.AutoincInitialValue, 100);
  EXPECT_TRUE(id.AutoincCycled);
  EXPECT_EQ(f.Find("small")->DataType, aftAutoIncSmallint);
  const TVEXAdvFieldDef& big = *f.Find("big");
  EXPECT_EQ(big.DataType, aftAutoIncLargeint);
  EXPECT_EQ(big.AutoincMaxValue, INT64_MAX);
  EXPECT_EQ(big.AutoincMinValue, 5);
  EXPECT_EQ(big.AutoincInitialValue, 7);
  EXPECT_EQ(f.Find("name")->DataType, aftString);
  EXPECT_EQ(f.Find("name")->Size, 20);
  EXPECT_TRUE(f.Find("name")->Required);
  EXPECT_EQ(f.Find("code")->Size, 3);
  EXPECT_FALSE(f.Find("code")->Required);
  EXPECT_EQ(f.Find("lim")->MinValue.AsInt64(), 1);
  EXPECT_EQ(f.Find("lim")->MaxValue.AsInt64(), 9);
  EXPECT_TRUE(f.Find("open")->MinValue.IsNull());
  EXPECT_TRUE(f.Find("open")->MaxValue.IsNull());
  const TVEXAdvFieldDef& note = *f.Find("note");
  EXPECT_EQ(note.BLOBCompressionAlgorithm, caZLIB);
  EXPECT_EQ(note.BLOBCompressionMode, 5);
  EXPECT_EQ(note.BLOBBlockSize, 4096);
  EXPECT_EQ(f.Find("raw")->DataType, aftBytes);
  EXPECT_EQ(f.Find("raw")->Size, 8);
}

TEST_F(DDL, AutoincOptionsStartTheCounterAfterTheInitialValueAndCycle) {
  Run("CREATE TABLE Stay (id AUTOINC(INCREMENT 2, STARTVALUE 100, MAXVALUE 104, MINVALUE 1, "
      "CYCLED), n INTEGER)");
  TVEXTable& t = TableOf("Stay");
  t.Open();
  std::vector<int64_t> ids;
  for (int32_t i = 0; i < 4; ++i)
    ids.push_back(Append(t, {{"n", rtl::Variant(i)}}, "id").AsInt64());
  EXPECT_EQ(ids, (std::vector<int64_t>{102, 104, 1, 3}));
}

TEST_F(DDL, DefaultsAreStoredAsTheirKindAndFillNewRecords) {
  Run("CREATE TABLE Guest (id INTEGER, "
      "greet VARCHAR(30) DEFAULT 'say \"hi\" twice', "  // a quoted text, double quotes inside
      "word VARCHAR(10) DEFAULT \"plain\", "
      "n INTEGER DEFAULT 5 NULL, f DOUBLE DEFAULT 1.5, e INTEGER DEFAULT 2*3 NOT NULL, "
      "z INTEGER DEFAULT NULL, d DATE DEFAULT CURRENT_DATE, t DATETIME DEFAULT 'now')");
  TVEXAdvFieldDefs& f = TableOf("Guest").AdvFieldDefs();
  EXPECT_EQ(f.Find("n")->DefaultValue.AsInt64(), 5);
  EXPECT_FALSE(f.Find("n")->Required);
  EXPECT_TRUE(f.Find("e")->Required);
  EXPECT_TRUE(f.Find("z")->DefaultValue.IsNull());
  EXPECT_EQ(f.Find("d")->DefaultValue.AsAnsiString(), "CURRENT_DATE");
  EXPECT_EQ(f.Find("t")->DefaultValue.AsAnsiString(), "NOW");

  TVEXTable& t = TableOf("Guest");
  t.Open();
  Append(t, {{"id", rtl::Variant(1)}}, "id");
  EXPECT_EQ(t.FieldByName("greet")->AsVariant().AsString(), "say \"hi\" twice");
  EXPECT_EQ(t.FieldByName("word")->AsVariant().AsString(), "plain");
  EXPECT_EQ(t.FieldByName("n")->AsVariant().AsInteger(), 5);
  EXPECT_DOUBLE_EQ(t.FieldByName("f")->AsVariant().AsDouble(), 1.5);
  EXPECT_EQ(t.FieldByName("e")->AsVariant().AsInteger(), 6);
  EXPECT_TRUE(t.FieldByName("z")->IsNull());
  EXPECT_FALSE(t.FieldByName("d")->IsNull());
  EXPECT_FALSE(t.FieldByName("t")->IsNull());
}

TEST_F(DDL, IndexesOfCreateTableGetTheirOwnOrGeneratedNames) {
  Run("CREATE TABLE Stay (id INTEGER PRIMARY KEY, a INTEGER UNIQUE, b VARCHAR(10), "
      "c INTEGER, d INTEGER, "
      "UNIQUE INDEX (a DESC, b NOCASE), INDEX (c ASC DESC), INDEX ix (d, c CASE))");
  TVEXAdvIndexDefs& i = TableOf("Stay").AdvIndexDefs();
  struct Expected {
    const char* Name;
    const char* Fields;
    const char* Desc;
    const char* CaseIns;
    bool Primary, Unique;
  };
  const Expected expected[] = {
      {"C_PK$id", "id", "", "", true, false},
      {"C_Unique$a", "a", "", "", false, true},
      {"C_Unique$a$b", "a;b", "a", "b", false, true},
      {"i$c", "c", "c", "", false, false},
      {"ix", "d;c", "", "", false, false},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.Name);
    const TVEXAdvIndexDef* def = i.Find(e.Name);
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->Fields, e.Fields);
    EXPECT_EQ(def->DescFields, e.Desc);
    EXPECT_EQ(def->CaseInsFields, e.CaseIns);
    EXPECT_EQ(def->Options.Contains(db::ixPrimary), e.Primary);
    EXPECT_EQ(def->Options.Contains(db::ixUnique), e.Unique);
  }
}

TEST_F(DDL, APrimaryKeyOfItsOwnNameAndAColumnPrimaryWithoutKey) {
  Run("CREATE TABLE A (x INTEGER PRIMARY, y INTEGER)");
  EXPECT_NE(TableOf("A").AdvIndexDefs().Find("C_PK$x"), nullptr);
  Run("CREATE TABLE B (x INTEGER, y INTEGER, PRIMARY KEY pk (x, y))");
  const TVEXAdvIndexDef* pk = TableOf("B").AdvIndexDefs().Find("pk");
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->Fields, "x;y");
  EXPECT_TRUE(pk->Options.Contains(db::ixPrimary));
}

TEST_F(DDL, CreateTableIfNotExistsLeavesAnExistingTableAndPlainCreateRefusesIt) {
  Run("CREATE TABLE Guest (id INTEGER)");
  Run("CREATE TABLE IF NOT EXISTS Guest (other VARCHAR(5))");
  EXPECT_EQ(FieldNames("Guest"), "id");
  std::string message;
  EXPECT_EQ(CodeOfRun("CREATE TABLE Guest (other INTEGER)", &message), 30247);
  EXPECT_THAT(message, HasSubstr("Cannot create table. Table 'Guest' already exists"));
}

TEST_F(DDL, ColumnDefinitionErrorsNameTheTokenAndItsPlace) {
  struct Case {
    const char* Sql;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {"CREATE TABLE t (a FOO)", 30232, "Unknown field type 'FOO' at line 1, column 19"},
      {"CREATE TABLE t (a VARCHAR)", 30233, "'(' symbol expected, but ')' found"},
      {"CREATE TABLE t (a VARCHAR(x))", 30235, "Decimal constant expected, but 'x' found"},
      {"CREATE TABLE t (a VARCHAR(5 6))", 30236, "')' or ',' symbol expected, but '6' found"},
      {"CREATE TABLE t (a AUTOINC(FLOAT))", 30295, "Unsupported Autoinc DataType (FLOAT)"},
      {"CREATE TABLE t (a AUTOINCWORD(INTEGER))", 30294, "Unexpected token 'INTEGER' found"},
      {"CREATE TABLE t (a AUTOINC(INCREMENT x))", 30292, "Integer expected, but 'x' found"},
      {"CREATE TABLE t (a AUTOINC(INCREMENT 99999999999999999999))", 30291, "Integer expected"},
      {"CREATE TABLE t (a INTEGER NOT TRUE)", 2011,
       "'NULL' expected (for NOT NULL), but 'TRUE' found at line 1, column 31"},
      {"CREATE TABLE t (a INTEGER NOT nul)", 30237,
       "'NULL' expected (for NOT NULL), but 'nul' found at line 1, column 31"},
      {"CREATE TABLE t (a INTEGER DEFAULT )", 30297,
       "Error parsing parameter ')' at line 1, column 35"},
      {"CREATE TABLE t (a INTEGER DEFAULT 1 DEFAULT 2)", 30299,
       "default value for column 'a' declared twice"},
      {"CREATE TABLE t (a INTEGER DEFAULT 1/0)", 30297, "Error parsing parameter '1'"},
      {"CREATE TABLE t (a BLOB BLOBBLOCKSIZE 'x')", 30292, "Integer expected, but 'x' found"},
      {"CREATE TABLE t a INTEGER", 30226, "Token '(' expected, but 'INTEGER' found"},
      {"CREATE TABLE t (5 INTEGER)", 30227, "Field name expected, but '5' found"},
      {"CREATE TABLE t (a 'x')", 30228, "Field type expected, but 'x' found"},
      {"CREATE TABLE t (a INTEGER 5)", 30229, "')' or ',' symbol expected, but '5' found"},
      {"CREATE TABLE t (IF a INTEGER)", 30488, "Token 'NOT' expected, but 'a' found"},
      {"CREATE TABLE t (IF NOT a INTEGER)", 30489, "Token 'EXISTS' expected, but 'a' found"},
      {"CREATE TABLE t (a INTEGER, UNIQUE KEY (a))", 30268, "'INDEX' keyword expected"},
      {"CREATE TABLE t (a INTEGER, UNIQUE x (a))", 30267, "'INDEX' keyword expected"},
      {"CREATE TABLE t (a INTEGER, INDEX 5 (a))", 30269, "index name expected, but '5' found"},
      {"CREATE TABLE t (a INTEGER, INDEX (5))", 30274, "Field name expected, but '5' found"},
      {"CREATE TABLE t (a INTEGER) x", 30246, "Unexpected token 'x' found at line 1, column 28"},
      {"CREATE TABLE", 30249, "Blank SQL command"},
      {"CREATE TABLE IF EXISTS t (a INTEGER)", 30486, "Token 'NOT' expected, but 'EXISTS'"},
      {"CREATE TABLE IF NOT t (a INTEGER)", 30487, "Token 'EXISTS' expected, but 't'"},
      {"CREATE TABLE t", 30161, "Unexpected end of SQL command found at line 1, column 14"},
  };
  for (const Case& c : cases) {
    std::string message;
    EXPECT_EQ(CodeOfRun(c.Sql, &message), c.Code) << c.Sql << ": " << message;
    EXPECT_THAT(message, HasSubstr(c.Text)) << c.Sql;
  }
  EXPECT_FALSE(Exists("t"));
}

TEST_F(DDL, DropTableDropsAnExistingTableAndPassesOverAMissingOne) {
  Run("CREATE TABLE Guest (id INTEGER)");
  Run("DROP TABLE Guest g");
  EXPECT_FALSE(Exists("Guest"));
  Run("DROP TABLE Guest");
  Run("DROP TABLE IF EXISTS Guest");
  struct Case {
    const char* Sql;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {"DROP TABLE Guest 5", 30246, "Unexpected token '5' found at line 1, column 18"},
      {"DROP TABLE", 30251, "Blank SQL command"},
      {"DROP TABLE IF Guest", 30485, "Token 'EXISTS' expected, but 'Guest' found"},
  };
  for (const Case& c : cases) {
    std::string message;
    EXPECT_EQ(CodeOfRun(c.Sql, &message), c.Code) << c.Sql << ": " << message;
    EXPECT_THAT(message, HasSubstr(c.Text)) << c.Sql;
  }
}

TEST_F(DDL, TruncateEmptiesTheTableAndRestartsItsAutoincrements) {
  Run("CREATE TABLE Stay (id AUTOINC, n INTEGER)");
  {
    TVEXTable& t = TableOf("Stay");
    t.Open();
    Append(t, {{"n", rtl::Variant(1)}}, "id");
    Append(t, {{"n", rtl::Variant(2)}}, "id");
    t.Close();
  }
  Run("TRUNCATE TABLE Stay");
  TVEXTable& t = TableOf("Stay");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(Append(t, {{"n", rtl::Variant(3)}}, "id").AsInt64(), 1);
  t.Close();
  Run("TRUNCATE Stay");

  std::string message;
  EXPECT_EQ(CodeOfRun("TRUNCATE TABLE Missing", &message), 30491);
  EXPECT_THAT(message, HasSubstr("Error truncating table: '"));
  EXPECT_EQ(CodeOfRun("TRUNCATE TABLE"), 30490);
  EXPECT_EQ(CodeOfRun("TRUNCATE Stay x y"), 30246);
}

TEST_F(DDL, StructureChangesInsideATransactionAreRefusedWithTheComponentsCode) {
  Run("CREATE TABLE Guest (id INTEGER)");
  Database->StartTransaction();
  std::string message;
  EXPECT_EQ(CodeOfRun("CREATE TABLE Stay (id INTEGER)", &message), 30248);
  EXPECT_THAT(message, HasSubstr("Error creating table: 'Cannot perform 'CreateTable' operation "
                                 "on a database in transaction - Native error: 20182"));
  EXPECT_EQ(CodeOfRun("DROP TABLE Guest", &message), 30250);
  EXPECT_THAT(message, HasSubstr("20183"));
  Database->Rollback();
  EXPECT_FALSE(Exists("Stay"));
  EXPECT_TRUE(Exists("Guest"));
}

TEST_F(DDL, AComponentFailureOfCreateTableIsWrappedWithItsMessage) {
  std::string message;
  EXPECT_EQ(CodeOfRun("CREATE TABLE t (b MEMO BLOBCOMPRESSIONALGORITHM ZLIB)", &message), 30248);
  EXPECT_THAT(message, HasSubstr("Invalid BlobCompressionMode"));
  EXPECT_THAT(message, HasSubstr("Native error: 20257"));
  EXPECT_FALSE(Exists("t"));
}

TEST_F(DDL, ATableOfAnotherDatabaseFileIsReachedWithItsPassword) {
  const std::string other = NewFile("other.vex", "secret");
  Run("CREATE TABLE '" + other + "'.Rate PASSWORD 'secret' (room INTEGER, price CURRENCY)");
  EXPECT_FALSE(Exists("Rate"));

  TVEXDatabase second(nullptr);
  second.SetDatabaseName("Other");
  second.SetDatabaseFileName(other);
  second.SetPassword("secret");
  second.SetSilentMode(true);
  second.Open();
  EXPECT_TRUE(second.TableExists("Rate"));
  second.Close();

  std::string message;
  EXPECT_EQ(CodeOfRun("TRUNCATE '" + other + "'.Rate PASSWORD 'wrong'", &message), 30491);
  Run("DROP TABLE '" + other + "'.Rate r PASSWORD 'secret'");
  second.Open();
  EXPECT_FALSE(second.TableExists("Rate"));
}

}  // namespace
