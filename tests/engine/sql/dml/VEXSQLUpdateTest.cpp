// UPDATE through the query component: SET values that read the row being
// updated, the correlated row-subquery form, qualifiers, rows updated exactly
// once, the parse errors, the write locks, and the attempts it retries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "components/VEXEngineError.h"
#include "engine/sql/dml/DMLFixture.h"
#include "os/Clock.h"
#include "sql/dml/VEXDMLCommand.h"
#include "sql/dml/VEXSQLUpdate.h"
#include "support/FakeClock.h"

namespace {

using namespace vex;
using testing::HasSubstr;
using vextest::DML;
using vextest::Rows;

class Update : public DML {
 protected:
  void SetUp() override {
    DML::SetUp();
    Exec("CREATE TABLE t (a INTEGER, b INTEGER, c VARCHAR(10), INDEX (a)); "
         "INSERT INTO t VALUES (1, 2, 'x'), (2, 2, 'y'), (3, 1, 'z'), (4, 2, NULL)");
  }
  // Runs an UPDATE; answers the rows updated and the attempts it made.
  std::pair<int32_t, int32_t> RunUpdate(std::string_view Text) {
    TVEXQuery& q = NewQuery(Text);
    q.Prepare();
    q.ExecSQL();
    auto& statement = dynamic_cast<TVEXSQLUpdate&>(*q.StmtHandle()->CurrentStatement());
    return {q.RowsAffected(), statement.Attempts};
  }
  Rows All() { return Select("SELECT a, b, c FROM t ORDER BY a"); }
};

TEST_F(Update, SetValuesReadTheRowAsItWasBeforeTheUpdate) {
  EXPECT_EQ(Exec("UPDATE t SET a = a * 10, c = c || '!' WHERE b = 2"), 3);
  // Texts skip nulls: NULL || '!' is '!'.
  EXPECT_EQ(All(), (Rows{"3|1|z", "10|2|x!", "20|2|y!", "40|2|!"}));
  // Every value of a row is read before any is stored: a swap swaps.
  EXPECT_EQ(Exec("UPDATE t SET t.a = b, b = a WHERE a = 10"), 1);
  EXPECT_EQ(Select("SELECT a, b FROM t WHERE c = 'x!'"), (Rows{"2|10"}));
}

TEST_F(Update, ParametersOfSetAndWhere) {
  TVEXQuery& q = NewQuery("UPDATE t SET c = :v WHERE a > :k AND b = :k");
  q.ParamByName("v")->SetAsString("p");
  q.ParamByName("k")->SetAsInteger(2);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(All(), (Rows{"1|2|x", "2|2|y", "3|1|z", "4|2|p"}));
  // The processor runs the same text again with its parameters.
  q.ParamByName("k")->SetAsInteger(1);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(Select("SELECT c FROM t WHERE a = 3"), (Rows{"p"}));
}

TEST_F(Update, TheRowSubqueryFormTakesEachRowsCorrelatedRow) {
  Exec("CREATE TABLE u (id INTEGER, n INTEGER, s VARCHAR(10)); "
       "INSERT INTO u VALUES (1, 100, 'one'), (3, 300, 'three')");
  EXPECT_EQ(Exec("UPDATE t SET (b, t.c) = (SELECT n, s FROM u WHERE u.id = t.a) WHERE a <> 2"),
            3);
  // A row without a subquery row gets nulls.
  EXPECT_EQ(All(), (Rows{"1|100|one", "2|2|y", "3|300|three", "4|-|-"}));
}

TEST_F(Update, EveryMatchedRowIsUpdatedOnceAlsoWhenItMovesForwardInTheIndex) {
  // The WHERE is served by the index on a; each update moves its row past
  // the rows still to come.
  EXPECT_EQ(RunUpdate("UPDATE t SET a = a + 10 WHERE a >= 2"), std::make_pair(3, 1));
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"1", "12", "13", "14"}));
  EXPECT_EQ(Exec("UPDATE t SET a = a + 1"), 4);
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"2", "13", "14", "15"}));
}

TEST_F(Update, TheStatementsReachATableOfAnotherFileWithItsPassword) {
  const std::string other = NewFile("other.vex", "pw");
  const std::string t = "'" + other + "'.s PASSWORD 'pw'";
  Exec("CREATE TABLE " + t + " (a INTEGER, b VARCHAR(5))");
  EXPECT_EQ(Exec("INSERT INTO " + t + " VALUES (1, 'p'), (2, 'q'), (3, 'r')"), 3);
  EXPECT_EQ(Exec("UPDATE " + t + " SET a = a * 10, s.b = 'w' WHERE a >= 2"), 2);
  EXPECT_EQ(Exec("DELETE FROM " + t + " WHERE a = 1"), 1);
  EXPECT_EQ(Select("SELECT a, b FROM " + t + " ORDER BY a"), (Rows{"20|w", "30|w"}));
  // The query's own database is untouched.
  EXPECT_FALSE(Database->TableExists("s"));
}

TEST_F(Update, ParseErrorsPointIntoTheStatement) {
  struct Case {
    const char* Sql;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {"UPDATE (t) SET a = 1", 30217, "Table name expected, but '(' found at line 1, column 8"},
      {"UPDATE t WHERE a = 1", 30220, "Token 'SET' expected, but 'WHERE' found"},
      // A qualifier must be the table's name, not its alias.
      {"UPDATE t x SET x.a = 1", 30221, "Token '=' expected, but '.' found at line 1, column 17"},
      {"UPDATE t SET a 1", 30221, "Token '=' expected, but '1' found"},
      {"UPDATE t SET a = 1 b = 2", 30222, "Token ',' expected, but 'b' found"},
      {"UPDATE t SET a = 1,", 30223, "Unexpected end of SQL command found at line 1, column 19"},
      {"UPDATE t SET (a b) = (SELECT 1 FROM t)", 30494, "Token ')' expected, but 'b' found"},
      {"UPDATE t SET (a) (SELECT 1 FROM t)", 30495, "Token '=' expected, but '(' found"},
      {"UPDATE t SET (a) = (SELECT b FROM t) c", 30527,
       "End of SQL command expected, but 'c' found at line 1, column 38"},
      {"UPDATE t SET a = 1 WHERE a = 1 c = 2", 30527,
       "End of SQL command expected, but 'c' found at line 1, column 32"},
      // The WHERE keeps the positions of its tokens in the statement.
      {"UPDATE t\n  SET a = 1\n  WHERE", 30118, "line 3, column 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::string message;
    EXPECT_EQ(CodeOfExec(c.Sql, &message), c.Code) << message;
    EXPECT_THAT(message, HasSubstr(c.Text));
  }
  EXPECT_EQ(All(), (Rows{"1|2|x", "2|2|y", "3|1|z", "4|2|-"}));
}

TEST_F(Update, AnotherConnectionsReadLockStopsItAfterBoundedRounds) {
  OpenHolder("t");
  ASSERT_TRUE(HolderTakes(ltS));
  {
    testsupport::FakeClockScope clock;
    std::string message;
    EXPECT_EQ(CodeOfExec("UPDATE t SET a = 0", &message), 20223) << message;
    EXPECT_EQ(clock.Clock.SleepCount(), kWriteLockTries - 1u);
  }
  HolderGives(ltS);
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
  EXPECT_EQ(All(), (Rows{"1|2|x", "2|2|y", "3|1|z", "4|2|-"}));
}

// A fake clock that tells the test about every sleep.
class WatchedClock final : public os::Clock {
 public:
  uint64_t TickCount() override { return FInner.TickCount(); }
  void Sleep(uint32_t ms) override {
    FInner.Sleep(ms);
    if (OnSleep) OnSleep(ms);
  }
  uint32_t Random(uint32_t range) override { return FInner.Random(range); }
  void Randomize(uint64_t seed) override { FInner.Randomize(seed); }
  std::function<void(uint32_t)> OnSleep;

 private:
  os::FakeClock FInner;
};

TEST_F(Update, ARecordLockedElsewhereIsRetriedAndOnlyTheLastAttemptCounts) {
  OpenHolder("t");
  Holder->First();
  Holder->Next();
  Holder->Next();
  Holder->Edit();  // holds the record lock of a = 3
  WatchedClock clock;
  int32_t pauses = 0;
  clock.OnSleep = [&](uint32_t) {
    // Between two attempts the statement holds no write lock, while it waits
    // for the record inside an attempt it does; after the second failed
    // attempt the other connection lets go.
    if (Holder->State() != db::dsEdit || !HolderTakes(ltRW)) return;
    HolderGives(ltRW);
    if (++pauses == 2) Holder->Cancel();
  };
  {
    os::ScopedClock installed(clock);
    EXPECT_EQ(RunUpdate("UPDATE t SET a = a + 10"), std::make_pair(4, 3));
  }
  // Each attempt's changes were cancelled with its batch: +10 once.
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"11", "12", "13", "14"}));
}

TEST_F(Update, AFailureThatIsNoLockFailurePassesOnAtOnce) {
  Exec("CREATE TABLE k (a INTEGER PRIMARY KEY); INSERT INTO k VALUES (3), (1), (2)");
  testsupport::FakeClockScope clock;
  // On a disk table the batch takes back the row changed before the failure.
  EXPECT_THROW(Exec("UPDATE k SET a = a + 1"), EVEXEngineError);
  EXPECT_EQ(Select("SELECT a FROM k ORDER BY a"), (Rows{"1", "2", "3"}));
  // A memory table keeps it, and the update is not applied to it again.
  Exec("CREATE TABLE MEMORY m (a INTEGER PRIMARY KEY); INSERT INTO MEMORY m VALUES (3), (1), (2)");
  EXPECT_THROW(Exec("UPDATE MEMORY m SET a = a + 1"), EVEXEngineError);
  EXPECT_EQ(Select("SELECT a FROM MEMORY m ORDER BY a"), (Rows{"1", "2", "4"}));
  EXPECT_EQ(clock.Clock.SleepCount(), 0u);
  Exec("DROP TABLE MEMORY m");
}

TEST_F(Update, InsideATransactionItTakesNoWriteLockAndRollsBack) {
  OpenHolder("t");
  ASSERT_TRUE(HolderTakes(ltS));
  testsupport::FakeClockScope clock;
  Exec("START TRANSACTION");
  EXPECT_EQ(RunUpdate("UPDATE t SET c = 'q' WHERE b = 2"), std::make_pair(3, 1));
  EXPECT_EQ(clock.Clock.SleepCount(), 0u);
  Exec("ROLLBACK");
  HolderGives(ltS);
  EXPECT_EQ(All(), (Rows{"1|2|x", "2|2|y", "3|1|z", "4|2|-"}));
}

}  // namespace
