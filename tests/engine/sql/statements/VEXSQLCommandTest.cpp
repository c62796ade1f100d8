// The statement base: token readers, aliases, table references, column lists
// and the components a statement reaches its table through.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/DataSet.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/VEXSQLProcessor.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using namespace vex;
using testsupport::CodeOf;

// A statement that parses nothing by itself: the test calls the shared
// routines on its lexer.
class Probe final : public TVEXSQLCommand {
 public:
  Probe(TVEXLexer& Lexer, db::TDataSet* Query) : TVEXSQLCommand(Lexer, Query) {}
  void Parse() override {}
  void ExecSQL(db::TDataSet*, bool, bool, bool&, TVEXAO*, TVEXCursor*) override {}
};

// One command of Text with the parameters p = "secret" and tn = "Stay".
class Statement : public ::testing::Test {
 protected:
  Statement() {
    TVEXSQLParam& p = Params.AddCreated();
    p.Name = u"p";
    p.SetAsAnsiString("secret");
    TVEXSQLParam& tn = Params.AddCreated();
    tn.Name = u"tn";
    tn.SetAsAnsiString("Stay");
  }
  Probe& On(const std::string& Text) {
    Lex = std::make_unique<TVEXLexer>(rtl::Utf8ToUtf16(Text), &Params, false);
    Lex->GetNextCommand();
    P = std::make_unique<Probe>(*Lex, nullptr);
    P->ReadCurrentToken();
    return *P;
  }
  std::string Current() {
    P->ReadCurrentToken();
    return P->Token.TokenType == tktNone ? "<end>" : rtl::Utf16ToUtf8(P->Token.Text);
  }

  TVEXSQLParams Params;
  std::unique_ptr<TVEXLexer> Lex;
  std::unique_ptr<Probe> P;
};

struct ReferenceCase {
  const char* Text;
  const char* Database;
  const char* Table;
  bool InMemory;
  const char* Alias;
  const char* Password;
  const char* Left;  // the token left current
};

TEST_F(Statement, TableReferencesReadDatabaseAliasMemoryAndPassword) {
  const ReferenceCase cases[] = {
      {"t", "", "t", false, "", "", "<end>"},
      {"db.t WHERE", "db", "t", false, "", "", "WHERE"},
      {"MEMORY t", "", "t", true, "", "", "<end>"},
      {"t AS x", "", "t", false, "x", "", "<end>"},
      {"t AS 'x y'", "", "t", false, "x y", "", "<end>"},
      {"t x", "", "t", false, "x", "", "<end>"},
      {"t [x]", "", "t", false, "x", "", "<end>"},
      {"t PASSWORD 'pw'", "", "t", false, "", "pw", "<end>"},
      {"db.t x PASSWORD :p", "db", "t", false, "x", "secret", "<end>"},
      // A quoted text is an alias only after AS; it is left for the statement.
      {"t 'x'", "", "t", false, "", "", "x"},
      {":tn AS :p", "", "Stay", false, "secret", "", "<end>"},
      {"MEMORY db.\"order\"", "db", "order", true, "", "", "<end>"},
      // Reserved words name tables, except MEMORY which is the flag.
      {"ORDER o", "", "ORDER", false, "o", "", "<end>"},
  };
  for (const ReferenceCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::string database = "?", table, password = "?", alias = "?";
    bool inMemory = !c.InMemory;
    On(c.Text).ParseTableReference(database, table, inMemory, password, alias);
    EXPECT_EQ(database, c.Database);
    EXPECT_EQ(table, c.Table);
    EXPECT_EQ(inMemory, c.InMemory);
    EXPECT_EQ(alias, c.Alias);
    EXPECT_EQ(password, c.Password);
    EXPECT_EQ(Current(), c.Left);
  }
}

TEST_F(Statement, BadTableReferencesRaiseTheirCodes) {
  const std::pair<const char*, int32_t> cases[] = {
      {", t", 30230},    {"MEMORY ,", 30231}, {"MEMORY", 30161},       {"db.,", 30231},
      {"t AS ,", 30177}, {"t AS", 30161},     {"t PASSWORD x", 30238}, {"t PASSWORD", 30161},
  };
  for (const auto& [textOf, code] : cases) {
    const char* text = textOf;
    SCOPED_TRACE(text);
    std::string d, t, p, a;
    bool m;
    std::string message;
    EXPECT_EQ(CodeOf([&] { On(text).ParseTableReference(d, t, m, p, a); }, &message), code);
    if (code == 30238) {
      EXPECT_NE(message.find("Quoted password expected (for PASSWORD \"passwordData\"), but 'x' "
                             "found at line 1, column 12"),
                std::string::npos)
          << message;
    }
  }
}

TEST_F(Statement, FieldNameListsStopAfterTheLastName) {
  std::vector<std::string> names{"kept"};
  On("a, [b c], \"d\" = rest").ParseFieldNameList(names);
  EXPECT_EQ(names, (std::vector<std::string>{"kept", "a", "b c", "d"}));
  EXPECT_EQ(Current(), "=");

  const std::pair<const char*, int32_t> bad[] = {{"1, a", 10408}, {"a, 1", 10406}, {"a,", 30161}};
  for (const auto& [textOf, code] : bad) {
    const char* text = textOf;
    SCOPED_TRACE(text);
    std::vector<std::string> list;
    EXPECT_EQ(CodeOf([&] { On(text).ParseFieldNameList(list); }), code);
  }
}

TEST_F(Statement, FieldReferenceListsTakeColumnReferencesOnly) {
  TVEXFields fields;
  On("t.a, b HAVING").ParseFieldReferenceList(fields);
  ASSERT_EQ(fields.ItemCount, 2);
  EXPECT_EQ(fields.Items[0].TableName, "t");
  EXPECT_EQ(fields.Items[0].FieldName, "a");
  EXPECT_EQ(fields.Items[1].TableName, "");
  EXPECT_EQ(fields.Items[1].FieldName, "b");
  EXPECT_FALSE(fields.Items[1].IsExpression);
  EXPECT_EQ(fields.Items[1].ValueExpr, nullptr);
  EXPECT_EQ(Current(), "HAVING");

  const std::pair<const char*, int32_t> bad[] = {{"a + 1", 10409}, {"a, 2", 10410}};
  for (const auto& [textOf, code] : bad) {
    const char* text = textOf;
    SCOPED_TRACE(text);
    TVEXFields list;
    std::string message;
    EXPECT_EQ(CodeOf([&] { On(text).ParseFieldReferenceList(list); }, &message), code);
    if (code == 10409) {
      EXPECT_NE(
          message.find("Field name expected, but expression 'a...' found at line 1, column 1"),
          std::string::npos)
          << message;
    }
  }
}

TEST_F(Statement, ReadNextSpecifiedTokenRaisesOnlyWithACode) {
  Probe& p = On("a 1");
  EXPECT_EQ(CodeOf([&] { p.ReadNextSpecifiedToken({tktString}, 777, "%s %d %d"); }), 777);
  p.ReadNextSpecifiedToken({tktString}, -1, "");  // the end, quietly
  EXPECT_EQ(p.Token.TokenType, tktNone);
  EXPECT_EQ(CodeOf([&] { p.ReadNextSpecifiedToken({}, 0, ""); }), 30161);
}

// The target components on a database file of the engine's making.
class TargetTable : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Dir / "hotel.vex";
    Other = Dir / "other.vex";
    for (const std::string& f : {File, Other}) {
      TVEXLocalSession creator;
      creator.SetDatabaseName("New");
      creator.SetDatabaseFileName(f);
      creator.SetPageSize(4096);
      creator.SetPageCountInExtent(8);
      creator.SetMaxSessionCount(50);
      creator.CreateDatabase();
    }
    Database = std::make_unique<TVEXDatabase>(nullptr);
    Database->SetDatabaseName("Hotel");
    Database->SetDatabaseFileName(File);
    Database->SetSilentMode(true);
    Database->SetMultiUser(true);
    Database->Open();
    Query = std::make_unique<TVEXQuery>(nullptr);
    Query->SetDatabaseName("Hotel");
    // As a prepared query does: its database component is open.
    Query->SetDBFlag(1, true);
  }

  testsupport::ScratchDir Dir;
  std::string File, Other;
  std::unique_ptr<TVEXDatabase> Database;
  std::unique_ptr<TVEXQuery> Query;
};

TEST_F(TargetTable, WithoutAFileTheTableIsOnTheQuerysDatabase) {
  std::unique_ptr<TVEXDatabase> db;
  std::unique_ptr<TVEXTable> table;
  TVEXSQLCommand::CreateTargetTable(Query.get(), "", db, table, false, "", "Stay");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(table->DatabaseName(), "Hotel");
  EXPECT_EQ(table->TableName(), "Stay");
  EXPECT_FALSE(table->InMemory());
  EXPECT_TRUE(db->MultiUser());
  table->AdvFieldDefs().Add("A", aftInteger, 0, false);
  table->CreateTable();
  EXPECT_TRUE(Database->TableExists("Stay"));
  TVEXSQLCommand::FreeTargetTable(table, db);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(db, nullptr);

  TVEXSQLCommand::CreateTargetTable(Query.get(), "", db, table, true, "", "M");
  EXPECT_TRUE(table->InMemory());
  EXPECT_EQ(table->DatabaseName(), "MEMORY");
}

TEST_F(TargetTable, WithAFileTheTableIsOnANewSilentDatabaseComponent) {
  std::unique_ptr<TVEXDatabase> db, second;
  std::unique_ptr<TVEXTable> table, secondTable;
  TVEXSQLCommand::CreateTargetTable(Query.get(), Other, db, table, false, "pw", "Stay");
  TVEXSQLCommand::CreateTargetTable(Query.get(), Other, second, secondTable, false, "", "Stay");
  EXPECT_EQ(db->DatabaseName().rfind("TEMP_DB{", 0), 0u) << db->DatabaseName();
  EXPECT_NE(db->DatabaseName(), second->DatabaseName());
  EXPECT_EQ(table->DatabaseName(), db->DatabaseName());
  EXPECT_EQ(db->DatabaseFileName(), Other);
  EXPECT_EQ(db->Password(), "pw");
  EXPECT_TRUE(db->SilentMode());
  EXPECT_FALSE(db->Connected());

  secondTable->AdvFieldDefs().Add("A", aftInteger, 0, false);
  secondTable->CreateTable();
  EXPECT_FALSE(Database->TableExists("Stay"));
  second->Open();
  EXPECT_TRUE(second->TableExists("Stay"));
}

TEST_F(TargetTable, OnlyTheQueryComponentIsAccepted) {
  std::unique_ptr<TVEXDatabase> db;
  std::unique_ptr<TVEXTable> table;
  EXPECT_THROW(TVEXSQLCommand::CreateTargetTable(nullptr, "", db, table, false, "", "T"),
               rtl::EInvalidCast);
  TVEXTable notAQuery(nullptr);
  EXPECT_THROW(TVEXSQLCommand::CreateTargetTable(&notAQuery, "", db, table, false, "", "T"),
               rtl::EInvalidCast);
  EXPECT_EQ(db, nullptr);
}

}  // namespace
