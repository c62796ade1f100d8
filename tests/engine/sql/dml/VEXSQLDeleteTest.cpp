// DELETE through the query component: all rows and a WHERE, through the
// view's bitmap and through a second component, its parse errors, and the
// write locks and batch it takes outside a transaction.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "components/VEXEngineError.h"
#include "engine/sql/dml/DMLFixture.h"
#include "sql/dml/VEXDMLCommand.h"
#include "sql/dml/VEXSQLDelete.h"
#include "support/FakeClock.h"

namespace {

using namespace vex;
using testing::HasSubstr;
using vextest::DML;
using vextest::Rows;

class Delete : public DML {
 protected:
  void SetUp() override {
    DML::SetUp();
    Exec("CREATE TABLE t (a INTEGER, b VARCHAR(10), INDEX (a)); "
         "INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')");
  }
  // Runs a DELETE; answers the rows deleted and whether it deleted through
  // the source's bitmap view.
  std::pair<int32_t, bool> RunDelete(std::string_view Text) {
    TVEXQuery& q = NewQuery(Text);
    q.Prepare();
    q.ExecSQL();
    auto* statement = dynamic_cast<TVEXSQLDelete*>(q.StmtHandle()->CurrentStatement());
    return {q.RowsAffected(), statement != nullptr && statement->DeletedThroughSource};
  }
};

TEST_F(Delete, AllRowsGoThroughASecondComponent) {
  EXPECT_EQ(RunDelete("DELETE FROM t"), std::make_pair(4, false));
  EXPECT_TRUE(Select("SELECT * FROM t").empty());
}

TEST_F(Delete, AWhereViewHeldAsABitmapDeletesThroughTheSourceItself) {
  EXPECT_EQ(RunDelete("DELETE FROM t WHERE a >= 2 AND a <= 3"), std::make_pair(2, true));
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"1", "4"}));
}

TEST_F(Delete, AWhereOnAnAliasAndOnAnUnindexedColumn) {
  EXPECT_EQ(RunDelete("DELETE FROM t x WHERE x.b = 'c' OR x.a = 1").first, 2);
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"2", "4"}));
  EXPECT_EQ(RunDelete("DELETE FROM t WHERE b > 'x'").first, 0);
}

TEST_F(Delete, ParseErrors) {
  std::string message;
  // Without FROM the SELECT parser refuses it.
  EXPECT_EQ(CodeOfExec("DELETE t", &message), 30184) << message;
  EXPECT_THAT(message, HasSubstr("'FROM' expected, but 't' found at line 1, column 8"));
  // Tokens the SELECT leaves are refused, not dropped with their condition.
  EXPECT_EQ(CodeOfExec("DELETE FROM t WHERE a = 1 b = 2", &message), 30525) << message;
  EXPECT_THAT(message, HasSubstr("End of SQL command expected, but 'b' found at line 1, column 27"));
  EXPECT_EQ(Select("SELECT a FROM t").size(), 4u);
}

TEST_F(Delete, AnotherConnectionsReadLockStopsItAfterBoundedRounds) {
  OpenHolder("t");
  ASSERT_TRUE(HolderTakes(ltS));
  {
    testsupport::FakeClockScope clock;
    std::string message;
    EXPECT_EQ(CodeOfExec("DELETE FROM t", &message), 20223) << message;
    EXPECT_EQ(clock.Clock.SleepCount(), kWriteLockTries - 1u);
    EXPECT_EQ(clock.Clock.TickCount(), (kWriteLockTries - 1u) * uint64_t{kWriteLockPauseMs});
  }
  HolderGives(ltS);
  // No lock of the statement's is left.
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
  EXPECT_EQ(Select("SELECT a FROM t").size(), 4u);
}

TEST_F(Delete, AFailureCancelsTheBatchSoNoRowIsDeleted) {
  OpenHolder("t");
  Holder->First();
  Holder->Next();
  Holder->Edit();  // holds the record lock of a = 2
  {
    testsupport::FakeClockScope clock;
    EXPECT_THROW(Exec("DELETE FROM t"), EVEXEngineError);
  }
  Holder->Cancel();
  EXPECT_EQ(Select("SELECT a FROM t ORDER BY a"), (Rows{"1", "2", "3", "4"}));
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
}

}  // namespace
