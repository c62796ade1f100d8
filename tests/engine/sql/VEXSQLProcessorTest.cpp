#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/storage/VEXDatabaseFakes.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/VEXSQLProcessor.h"

namespace vex {
namespace {

std::string U8(std::u16string_view s) { return rtl::Utf16ToUtf8(s); }

// What the fake statements ran, in order, as "Kind@first token text".
std::vector<std::string> gRan;
// The result cursor of every query; it counts the times it is put before
// its first record.
class ResultCursor : public testing::TestCursor {
 public:
  using TestCursor::TestCursor;
  void InternalFirst() override { ++Firsts; }
  int Firsts = 0;
};
// The run fixture's cursor while a run test is on.
ResultCursor* gResult = nullptr;

// A statement that records where it started. Its parser takes the command up
// to its end or up to a name "rest", which it leaves current; an integer or a
// parameter gives the rows it affects, and a name "fail" makes it raise when it
// runs. A query gives a result cursor.
class FakeStatement : public TVEXSQLCommand {
 public:
  FakeStatement(TVEXLexer& Lexer, db::TDataSet* Query, const char* kind, bool isQuery)
      : TVEXSQLCommand(Lexer, Query), Kind(kind), FIsQuery(isQuery) {}

  void Parse() override {
    LLex->GetCurrentToken(Token);
    Start = Token.Text;
    do {
      if (Token.TokenType == tktInt) FRows = std::stoi(U8(Token.Text));
      if (Token.TokenType == tktParameter) FRows = Token.ParamValue->AsInteger();
      if (Token.Text == u"fail") FFail = true;
      if (Token.Text == u"rest") return;
    } while (LLex->GetNextToken(Token));
  }

  void ExecSQL(db::TDataSet*, bool IsRoot, bool RequestLive, bool& ReadOnly, TVEXAO* ParentQueryAO,
               TVEXCursor* ParentCursor) override {
    EXPECT_TRUE(IsRoot);
    EXPECT_EQ(ParentQueryAO, nullptr);
    EXPECT_EQ(ParentCursor, nullptr);
    if (FFail) throw EVEXException(1, "failed");
    ReadOnly = !RequestLive;
    RowsAffected = FRows;
    gRan.push_back(Show());
  }

  TVEXCursor* GetResultCursor() override { return FIsQuery ? gResult : nullptr; }

  std::string Show() const { return std::string(Kind) + "@" + U8(Start); }

  const char* Kind;
  std::u16string Start;

 private:
  bool FIsQuery;
  int32_t FRows = 0;
  bool FFail = false;
};

template <const char* Kind, bool IsQuery = false>
std::unique_ptr<TVEXSQLCommand> NewFake(TVEXLexer& Lexer, db::TDataSet* Query) {
  auto statement = std::make_unique<FakeStatement>(Lexer, Query, Kind, IsQuery);
  statement->Parse();
  return statement;
}

constexpr char kAlterTable[] = "AlterTable", kCommit[] = "Commit", kCreateTable[] = "CreateTable",
               kCreateIndex[] = "CreateIndex", kDelete[] = "Delete", kDropTable[] = "DropTable",
               kDropIndex[] = "DropIndex", kInsert[] = "Insert", kRollback[] = "Rollback",
               kUnion[] = "Union", kUpdate[] = "Update", kRename[] = "RenameTable",
               kStart[] = "StartTransaction", kTruncate[] = "TruncateTable";

// Every statement of the dialect, each with a fake class.
const TVEXStatementRow kAllRows[] = {
    {rwALTER, rwTABLE, NewFake<kAlterTable>},   {rwCOMMIT, rwNone, NewFake<kCommit>},
    {rwCREATE, rwTABLE, NewFake<kCreateTable>}, {rwCREATE, rwUNIQUE, NewFake<kCreateIndex>},
    {rwCREATE, rwINDEX, NewFake<kCreateIndex>}, {rwDELETE, rwNone, NewFake<kDelete>},
    {rwDROP, rwTABLE, NewFake<kDropTable>},     {rwDROP, rwINDEX, NewFake<kDropIndex>},
    {rwINSERT, rwNone, NewFake<kInsert>},       {rwROLLBACK, rwNone, NewFake<kRollback>},
    {rwSELECT, rwNone, NewFake<kUnion, true>},  {rwUPDATE, rwNone, NewFake<kUpdate>},
    {rwRENAME, rwNone, NewFake<kRename>},       {rwSTART, rwNone, NewFake<kStart>},
    {rwTRUNCATE, rwNone, NewFake<kTruncate>},
};

std::string MessageOf(const EVEXException& e) {
  return std::to_string(e.NativeError) + ": " + e.Message();
}

// The statement the first command of Sql dispatches to, as "Kind@token it
// starts at", or the error's code and full message.
std::string Dispatch(std::u16string_view sql, std::span<const TVEXStatementRow> rows = kAllRows) {
  TVEXSQLProcessor processor(nullptr, rows);
  try {
    TVEXLexer lex(sql, nullptr, false);
    if (!processor.ParseNextCommand(lex)) return "no command";
    return static_cast<FakeStatement*>(processor.CurrentStatement())->Show();
  } catch (const EVEXException& e) {
    return MessageOf(e);
  }
}

TEST(VEXSQLProcessorTest, DispatchesOnTheFirstWordsAndStartsTheStatementAtItsToken) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"ALTER TABLE t ADD c INT", "AlterTable@TABLE"},
      {u"COMMIT FLUSH", "Commit@COMMIT"},
      {u"CREATE TABLE t (a INT)", "CreateTable@TABLE"},
      {u"CREATE UNIQUE INDEX i ON t (a)", "CreateIndex@UNIQUE"},
      {u"create index i on t (a)", "CreateIndex@index"},
      {u"DELETE FROM t", "Delete@DELETE"},
      {u"DROP TABLE t", "DropTable@TABLE"},
      {u"DROP INDEX t.i", "DropIndex@INDEX"},
      {u"INSERT INTO t VALUES (1)", "Insert@INSERT"},
      {u"ROLLBACK", "Rollback@ROLLBACK"},
      {u"SELECT a FROM t", "Union@SELECT"},
      {u"(SELECT a FROM t)", "Union@("},
      {u"UPDATE t SET a = 1", "Update@UPDATE"},
      {u"RENAME t TO u", "RenameTable@t"},
      {u"RENAME TABLE t TO u", "RenameTable@t"},
      {u"RENAME TABLE", "RenameTable@"},  // at the end: the statement reports it
      {u"START TRANSACTION", "StartTransaction@START"},
      {u"TRUNCATE TABLE t", "TruncateTable@TRUNCATE"},
  };
  for (const auto& [sql, expected] : cases) EXPECT_EQ(Dispatch(sql), expected) << U8(sql);
}

TEST(VEXSQLProcessorTest, DispatchErrorsNameTheTokenAndItsPlace) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"", "30145: Blank SQL command - Native error: 30145"},
      {u"   ", "30145: Blank SQL command - Native error: 30145"},
      {u"-- note", "30145: Blank SQL command - Native error: 30145"},
      {u" ; ;", "30145: Blank SQL command - Native error: 30145"},
      {u"CREATE VIEW v",
       "30147: Object type keyword expected, but 'VIEW' found at line 1, column 8 - Native error: "
       "30147"},
      {u"CREATE `TABLE` t",
       "30147: Object type keyword expected, but 'TABLE' found at line 1, column 8 - Native error: "
       "30147"},
      {u"\n  CREATE",
       "30148: Unexpected end of SQL command found at line 2, column 3 - Native error: 30148"},
      {u"DROP t",
       "30149: Object type keyword expected, but 't' found at line 1, column 6 - Native error: "
       "30149"},
      {u"DROP",
       "30150: Unexpected end of SQL command found at line 1, column 1 - Native error: 30150"},
      {u"ALTER INDEX i",
       "30151: Object type keyword expected, but 'INDEX' found at line 1, column 7 - Native error: "
       "30151"},
      {u"ALTER",
       "30152: Unexpected end of SQL command found at line 1, column 1 - Native error: 30152"},
      {u"RENAME ",
       "30353: Unexpected end of SQL command found at line 1, column 1 - Native error: 30353"},
      {u"GRANT ALL",
       "30153: SQL token expected, but 'GRANT' found at line 1, column 1 - Native error: 30153"},
      {u"`SELECT` a",
       "30153: SQL token expected, but 'SELECT' found at line 1, column 1 - Native error: 30153"},
      {u"t", "30154: SQL token expected, but 't' found at line 1, column 1 - Native error: 30154"},
      {u"'SELECT'",
       "30154: SQL token expected, but 'SELECT' found at line 1, column 1 - Native error: 30154"},
      {u"  1",
       "30154: SQL token expected, but '1' found at line 1, column 3 - Native error: 30154"},
      {u"SELECT a FROM t rest",
       "20260: End of SQL command expected, but 'rest' found at line 1, column 17 - Native error: "
       "20260"},
      {u"(SELECT a) rest x",
       "20260: End of SQL command expected, but 'rest' found at line 1, column 12 - Native error: "
       "20260"},
  };
  for (const auto& [sql, expected] : cases) EXPECT_EQ(Dispatch(sql), expected) << U8(sql);

  // A command without tokens can only be built by hand.
  TVEXSQLProcessor processor(nullptr, kAllRows);
  TVEXLexer lex(u"", nullptr, false);
  lex.AddCommand();
  lex.CurrentCommandNo = -1;
  try {
    processor.ParseNextCommand(lex);
    ADD_FAILURE() << "no error";
  } catch (const EVEXException& e) {
    EXPECT_EQ(MessageOf(e), "30146: Blank SQL command - Native error: 30146");
  }
}

TEST(VEXSQLProcessorTest, AStatementWordWithoutItsStatementClassStartsNoStatement) {
  const std::vector<std::pair<TReservedWord, std::u16string>> words = {
      {rwALTER, u"ALTER TABLE t"},  {rwCOMMIT, u"COMMIT"},           {rwCREATE, u"CREATE TABLE t"},
      {rwDELETE, u"DELETE FROM t"}, {rwDROP, u"DROP TABLE t"},       {rwINSERT, u"INSERT INTO t"},
      {rwROLLBACK, u"ROLLBACK"},    {rwSELECT, u"SELECT 1"},         {rwUPDATE, u"UPDATE t"},
      {rwRENAME, u"RENAME t TO u"}, {rwSTART, u"START TRANSACTION"}, {rwTRUNCATE, u"TRUNCATE t"}};
  const auto shipped = StatementRows();
  for (const auto& [word, sql] : words) {
    bool landed = false;
    for (const TVEXStatementRow& r : shipped) landed |= r.FirstWord == word;
    if (landed) continue;
    const std::u16string first = sql.substr(0, sql.find(u' '));
    EXPECT_EQ(Dispatch(sql, shipped), "30153: SQL token expected, but '" + U8(first) +
                                          "' found at line 1, column 1 - Native error: 30153");
    // Even where the word alone is incomplete.
    EXPECT_EQ(Dispatch(first, shipped).substr(0, 7), "30153: ") << U8(first);
  }
}

class VEXSQLProcessorRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gRan.clear();
    gResult = &Result;
  }
  void TearDown() override { gResult = nullptr; }

  // Runs Sql; the names of the statements that ran and the rows, or the error.
  std::string Run(std::u16string_view sql) {
    processor.PrepareStatement(sql);
    std::string result;
    try {
      TVEXCursor* cursor = processor.OpenQuery();
      result = cursor ? "cursor" : "no cursor";
    } catch (const EVEXException& e) {
      result = MessageOf(e);
    }
    for (const std::string& r : gRan) result += " " + r;
    gRan.clear();
    return result + " rows " + std::to_string(processor.RowsAffected());
  }

  testing::TestSession Session;
  ResultCursor Result{Session, "Result"};
  TVEXLocalSQLProcessor processor{nullptr, kAllRows};
};

TEST_F(VEXSQLProcessorRunTest, SumsTheRowsOfTheStatementsThatRanAndGivesTheLastResult) {
  TVEXSQLParam& n = processor.SQLParams().AddCreated();
  n.Name = u"n";
  n.SetAsInteger(40);
  EXPECT_EQ(Run(u"INSERT 2; INSERT :N; SELECT a"),
            "cursor Insert@INSERT Insert@INSERT Union@SELECT rows 42");
  EXPECT_EQ(processor.CurrentStatement()->GetResultCursor(), &Result);
  // Handed out on its first record.
  EXPECT_EQ(Result.Firsts, 1);
  EXPECT_EQ(Run(u"SELECT a; DELETE 3"), "no cursor Union@SELECT Delete@DELETE rows 3");
  EXPECT_EQ(Run(u"INSERT 2147483647; INSERT 2147483647; INSERT 2147483647"),
            "no cursor Insert@INSERT Insert@INSERT Insert@INSERT rows 6442450941");

  processor.SetRequestLive(false);
  Run(u"COMMIT");
  EXPECT_TRUE(processor.ReadOnly());
  processor.SetRequestLive(true);
  Run(u"COMMIT");
  EXPECT_FALSE(processor.ReadOnly());
}

TEST_F(VEXSQLProcessorRunTest, AFailureStopsTheRunAndLeavesTheProcessorUsable) {
  // A statement that fails: the one before it has run, the one after never runs.
  EXPECT_EQ(Run(u"INSERT 1; INSERT 2 fail; INSERT 5"),
            "1: failed - Native error:     1 Insert@INSERT rows 1");
  EXPECT_EQ(Run(u"INSERT 7"), "no cursor Insert@INSERT rows 7");
  // A dispatch error in the second command: the first has run.
  EXPECT_EQ(Run(u"INSERT 3;\n GRANT x; INSERT 4"),
            "30153: SQL token expected, but 'GRANT' found at line 2, column 2 - Native error: "
            "30153 Insert@INSERT rows 3");
  // A lexical error anywhere: nothing runs.
  EXPECT_EQ(Run(u"INSERT 3; INSERT (4"),
            "30059: Missing symbol ')' at line 1, column 18 - Native error: 30059 rows 0");
  EXPECT_EQ(Run(u"INSERT :missing"),
            "30358: Value for parameter 'missing' not found - Native error: 30358 rows 0");
  EXPECT_EQ(Run(u"  "), "30145: Blank SQL command - Native error: 30145 rows 0");
  EXPECT_EQ(Run(u"SELECT a; INSERT 9"), "no cursor Union@SELECT Insert@INSERT rows 9");
}

}  // namespace
}  // namespace vex
