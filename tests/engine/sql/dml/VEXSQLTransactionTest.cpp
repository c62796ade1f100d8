// START TRANSACTION, COMMIT [FLUSH] and ROLLBACK: their parse errors, the
// transaction spanning executions, and the data-changing statements taking
// no table locks inside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "db/DBCommon.h"
#include "engine/sql/dml/DMLFixture.h"
#include "sql/dml/VEXSQLTransaction.h"
#include "support/FakeClock.h"

namespace {

using namespace vex;
using testing::HasSubstr;
using testsupport::CodeOf;
using vextest::DML;
using vextest::Rows;

class Transaction : public DML {
 protected:
  void SetUp() override {
    DML::SetUp();
    Exec("CREATE TABLE t (a INTEGER, b VARCHAR(10)); "
         "INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')");
  }
};

TEST_F(Transaction, ParseErrorsOfTheThreeStatements) {
  using Factory = std::function<std::unique_ptr<TVEXSQLCommand>(TVEXLexer&)>;
  const Factory start = [](TVEXLexer& l) {
    return std::make_unique<TVEXSQLStartTransaction>(l, nullptr);
  };
  const Factory commit = [](TVEXLexer& l) { return std::make_unique<TVEXSQLCommit>(l, nullptr); };
  const Factory rollback = [](TVEXLexer& l) {
    return std::make_unique<TVEXSQLRollback>(l, nullptr);
  };
  struct Case {
    const char16_t* Sql;
    Factory Make;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      // Through the processor only these two can arise: the first word picks
      // the statement.
      {u"START", start, 30459, "Unexpected end of SQL command found at line 1, column 1"},
      {u"START WORK", start, 30460,
       "Token 'TRANSACTION' expected, but 'WORK' found at line 1, column 7"},
      {u"", start, 30457, "Blank SQL command"},
      {u"BEGIN", start, 30458, "Token 'START' expected, but 'BEGIN' found at line 1, column 1"},
      {u"", commit, 30461, "Blank SQL command"},
      {u"END", commit, 30462, "Token 'COMMIT' expected, but 'END' found"},
      {u"", rollback, 30463, "Blank SQL command"},
      {u"UNDO", rollback, 30464, "Token 'ROLLBACK' expected, but 'UNDO' found"},
  };
  for (const Case& c : cases) {
    TVEXLexer lexer(c.Sql, nullptr, false);
    lexer.GetNextCommand();
    if (lexer.NumCommands() == 0) lexer.AddCommand();
    std::unique_ptr<TVEXSQLCommand> statement = c.Make(lexer);
    std::string message;
    EXPECT_EQ(CodeOf([&] { statement->Parse(); }, &message), c.Code) << message;
    EXPECT_THAT(message, HasSubstr(c.Text));
  }
}

TEST_F(Transaction, CommitReadsFlushAmongTheWordsAfterIt) {
  const std::pair<const char*, bool> cases[] = {
      {"COMMIT", false}, {"COMMIT WORK", false}, {"COMMIT FLUSH", true}, {"COMMIT WORK FLUSH", true}};
  for (const auto& [sql, flush] : cases) {
    SCOPED_TRACE(sql);
    Exec("START TRANSACTION; DELETE FROM t WHERE a = 3; INSERT INTO t VALUES (3, 'c')");
    TVEXQuery& q = NewQuery(sql);
    q.Prepare();
    q.ExecSQL();
    EXPECT_EQ(dynamic_cast<TVEXSQLCommit&>(*q.StmtHandle()->CurrentStatement()).FFlush, flush);
    EXPECT_FALSE(Database->InTransaction());
    EXPECT_EQ(q.RowsAffected(), 0);
  }
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"1", "2", "3"}));
}

TEST_F(Transaction, ItSpansExecutionsUntilRolledBackOrCommitted) {
  Exec("START TRANSACTION");
  EXPECT_TRUE(Database->InTransaction());
  EXPECT_EQ(Exec("DELETE FROM t"), 3);
  EXPECT_EQ(Exec("INSERT INTO t SELECT * FROM t"), 0);
  EXPECT_EQ(Exec("INSERT INTO t VALUES (9, 'z')"), 1);
  EXPECT_EQ(Select("SELECT a FROM t"), (Rows{"9"}));
  Exec("ROLLBACK");
  EXPECT_EQ(Select("SELECT a, b FROM t ORDER BY a"), (Rows{"1|a", "2|b", "3|c"}));

  Exec("START TRANSACTION; DELETE FROM t WHERE a = 1");
  Exec("COMMIT");
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"2", "3"}));
}

TEST_F(Transaction, TheDatabaseComponentsRefusalsPassThrough) {
  Exec("START TRANSACTION");
  EXPECT_THROW(
      {
        try {
          Exec("START TRANSACTION");
        } catch (const db::EDatabaseError& e) {
          EXPECT_THAT(e.what(), HasSubstr("Database is already within a transaction"));
          throw;
        }
      },
      db::EDatabaseError);
  Exec("ROLLBACK");
}

TEST_F(Transaction, InsideItTheStatementsTakeNoWriteLock) {
  Exec("CREATE TABLE u (a INTEGER, b VARCHAR(10)); INSERT INTO u VALUES (7, 'g')");
  OpenHolder("t");
  // A reader's shared lock: outside a transaction no statement gets the write
  // lock (see the DELETE and INSERT tests).
  ASSERT_TRUE(HolderTakes(ltS));
  testsupport::FakeClockScope clock;
  Exec("START TRANSACTION");
  EXPECT_EQ(Exec("DELETE FROM t WHERE a = 2"), 1);
  EXPECT_EQ(Exec("INSERT INTO t SELECT * FROM u"), 1);
  EXPECT_EQ(clock.Clock.SleepCount(), 0u);
  Exec("ROLLBACK");
  HolderGives(ltS);
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"1", "2", "3"}));
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
}

}  // namespace
