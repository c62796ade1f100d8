// Set operators over table operators on small in-memory tables with repeated
// and null values, and over a database file whose table another connection
// holds exclusively.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXTable.h"
#include "engine/sql/algebra/OperatorFixture.h"
#include "sql/algebra/VEXAOTableExpr.h"
#include "sql/algebra/VEXAOUnion.h"
#include "sql/nodes/VEXExprNode.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXTableLocks.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using namespace vex;
using testsupport::RaisesNativeError;
using vextest::Lines;

class Sets : public vextest::OperatorTest {
 protected:
  void SetUp() override {
    MakeTable("A", {{1, "a", 10}, {2, "b", 10}, {3, "c", 20}, {4, "d", nullptr}, {5, "e", 30}});
    MakeTable("B", {{6, "f", 10}, {7, "g", 10}, {8, "h", nullptr}, {9, "i", 40}, {10, "j", 20}});
    MakeTable("E", {});
  }
  // The table Name showing the listed columns.
  static std::unique_ptr<TVEXAO> Input(const std::string& Name, const Lines& Columns) {
    auto t = Table(Name);
    std::vector<TVEXSelectListItem> list;
    for (const std::string& column : Columns) list.push_back(Col(column));
    t->SetResultFields(list, false);
    return t;
  }
  static std::unique_ptr<TVEXAOUnion> Set(TVEXUnionType Type, bool Distinct,
                                          const std::string& Left = "A",
                                          const std::string& Right = "B") {
    return std::make_unique<TVEXAOUnion>(Input(Left, {"K"}), Input(Right, {"K"}), Type, nullptr,
                                         nullptr, false, Distinct, nullptr);
  }
  static Lines Run(TVEXAO& Op) {
    Op.Execute(true, nullptr, nullptr);
    return Rows(Op);
  }
  static Lines Sorted(Lines L) {
    std::sort(L.begin(), L.end());
    return L;
  }
};

TEST_F(Sets, UnionAllGivesTheLeftRowsThenTheRightRowsInOrder) {
  EXPECT_EQ(Run(*Set(autUnion, false)),
            (Lines{"10", "10", "20", "-", "30", "10", "10", "-", "40", "20"}));
  EXPECT_EQ(Run(*Set(autUnion, false, "E", "A")), (Lines{"10", "10", "20", "-", "30"}));
}

TEST_F(Sets, EachOperationWithAndWithoutAll) {
  struct Case {
    TVEXUnionType Type;
    bool Distinct;
    std::string Right;
    Lines Expected;
  };
  for (const Case& c : {
           Case{autUnion, true, "B", {"-", "10", "20", "30", "40"}},  // nulls count as equal
           Case{autIntersect, true, "B", {"-", "10", "20"}},
           Case{autIntersect, false, "B", {"-", "10", "10", "20"}},
           Case{autExcept, true, "B", {"30"}},
           Case{autExcept, false, "B", {"30"}},
           Case{autIntersect, true, "E", {}},
           Case{autExcept, false, "E", {"-", "10", "10", "20", "30"}},
           Case{autExcept, true, "E", {"-", "10", "20", "30"}},
       }) {
    EXPECT_EQ(Sorted(Run(*Set(c.Type, c.Distinct, "A", c.Right))), c.Expected)
        << "operation " << int(c.Type) << (c.Distinct ? "" : " ALL") << " with " << c.Right;
  }
  // Repeats on the right do not multiply a left row.
  EXPECT_EQ(Sorted(Run(*Set(autIntersect, false, "B", "A"))), (Lines{"-", "10", "10", "20"}));
}

TEST_F(Sets, ColumnsPairByNameWithCorrespondingAndByPositionWithout) {
  MakeTable("D", {{1, "x", 10}, {2, "y", 50}}, false, {"DID", "NAME", "K"});
  // CORRESPONDING pairs the common names, BY only the listed ones.
  TVEXAOUnion byName(Input("A", {"ID", "NAME", "K"}), Input("D", {"K", "DID", "NAME"}), autUnion,
                     nullptr, nullptr, true, false, nullptr);
  EXPECT_EQ(byName.FieldCount(), 2);
  EXPECT_EQ(byName.Fields2(), (std::vector<int32_t>{2, 0}));
  TVEXFields by;
  by.Append(Col("K"));
  TVEXAOUnion listed(Input("A", {"ID", "NAME", "K"}), Input("D", {"K", "DID", "NAME"}), autExcept,
                     nullptr, nullptr, true, true, &by);
  EXPECT_EQ(Sorted(Run(listed)), (Lines{"-", "20", "30"}));

  // Without CORRESPONDING: by position up to the shorter input, under the
  // left names and in the larger size.
  std::unique_ptr<TVEXTable> wide = Component("W");
  wide->AdvFieldDefs().Add("LONGNAME", aftString, 30, false);
  wide->CreateTable();
  Made.push_back("W");
  wide->Open();
  wide->Append();
  wide->Fields()[0]->SetAsVariant(rtl::Variant("a name of 23 characters"));
  wide->Post();
  wide->Close();
  TVEXAOUnion byPosition(Input("A", {"NAME", "K"}), Input("W", {"LONGNAME"}), autUnion, nullptr,
                         nullptr, false, false, nullptr);
  ASSERT_EQ(byPosition.FieldCount(), 1);
  EXPECT_EQ(byPosition.FieldLink(0).FieldName, "NAME");
  EXPECT_EQ(byPosition.FieldLink(0).FieldSize, 30);
  EXPECT_EQ(Run(byPosition), (Lines{"a", "b", "c", "d", "e", "a name of 23 characters"}));
}

TEST_F(Sets, ColumnListErrors) {
  TVEXFields empty;
  EXPECT_THAT(
      [&] {
        TVEXAOUnion u(Input("A", {"K"}), Input("B", {"K"}), autUnion, nullptr, nullptr, true, false,
                      &empty);
      },
      RaisesNativeError(10337));
  TVEXFields missing;
  missing.Append(Col("NOPE"));
  EXPECT_THAT(
      [&] {
        TVEXAOUnion u(Input("A", {"K"}), Input("B", {"K"}), autUnion, nullptr, nullptr, true, false,
                      &missing);
      },
      RaisesNativeError(10339));
  EXPECT_THAT(
      [&] {
        TVEXAOUnion u(Input("A", {"ID"}), Input("B", {"K"}), autUnion, nullptr, nullptr, true,
                      false, nullptr);
      },
      RaisesNativeError(10339));
}

TEST_F(Sets, ColumnsNoIndexCanOrderAreLeftOutOnlyWhenTheInputsAreOrdered) {
  std::unique_ptr<TVEXTable> blobs = Component("BL");
  blobs->AdvFieldDefs().Add("NAME", aftString, 10, false);
  blobs->AdvFieldDefs().Add("DATA", aftBlob, 0, false);
  blobs->CreateTable();
  Made.push_back("BL");
  blobs->Open();
  for (const char* name : {"p", "q"}) {
    blobs->Append();
    blobs->Fields()[0]->SetAsVariant(rtl::Variant(name));
    blobs->Fields()[1]->SetAsVariant(rtl::Variant(std::string("data of ") + name));
    blobs->Post();
  }
  blobs->Close();
  struct Case {
    TVEXUnionType Type;
    bool Distinct;
    int32_t Columns;
    size_t Rows;
  };
  for (const Case& c : {Case{autUnion, false, 2, 4}, Case{autUnion, true, 1, 2},
                        Case{autIntersect, true, 1, 2}, Case{autExcept, false, 1, 0}}) {
    TVEXAOUnion u(Input("BL", {"NAME", "DATA"}), Input("BL", {"NAME", "DATA"}), c.Type, nullptr,
                  nullptr, false, c.Distinct, nullptr);
    EXPECT_EQ(u.FieldCount(), c.Columns) << "operation " << int(c.Type);
    const Lines rows = Run(u);
    EXPECT_EQ(rows.size(), c.Rows) << "operation " << int(c.Type);
    // The BLOB comes through whole.
    if (c.Columns == 2) {
      EXPECT_EQ(rows.back(), "q|data of q");
    }
  }
}

TEST_F(Sets, ColumnsAreNamedAfterTheInputColumnTheyShowAndAreAllOfStar) {
  // The inputs show their columns in another order than their tables hold
  // them: a column is named after the one it reads, by visible position.
  TVEXAOUnion u(Input("A", {"NAME", "ID"}), Input("B", {"NAME", "ID"}), autUnion, nullptr, nullptr,
                false, false, nullptr);
  u.SetTableAlias("U");
  ASSERT_EQ(u.FieldCount(), 2);
  EXPECT_EQ(u.GetFieldName(0, false), "NAME");
  EXPECT_EQ(u.GetFieldName(1, false), "ID");
  std::vector<int32_t> all, qualified, other;
  EXPECT_EQ(u.FieldExists("*", "", false, &all, false, false), 2);
  EXPECT_EQ(all, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(u.FieldExists("*", "U", false, &qualified, false, false), 2);
  EXPECT_EQ(u.FieldExists("*", "A", false, &other, false, false), 0);
}

// ---- locks

// A database file with the table Stay (one row) and a second connection
// that has the table open.
class SetOperatorLocks : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      TVEXLocalSession creator;
      creator.SetDatabaseName("New");
      creator.SetDatabaseFileName(file);
      creator.SetPageSize(4096);
      creator.SetPageCountInExtent(8);
      creator.SetMaxSessionCount(16);
      creator.CreateDatabase();
    }
    database.SetDatabaseName("Locks");
    database.SetDatabaseFileName(file);
    database.SetMultiUser(true);
    database.SetSilentMode(true);
    database.Open();
    {
      std::unique_ptr<TVEXTable> t = component();
      t->AdvFieldDefs().Add("K", aftInteger, 0, false);
      t->CreateTable();
      t->Open();
      t->Append();
      t->Fields()[0]->SetAsVariant(rtl::Variant(1));
      t->Post();
    }
    other.SetDatabaseName("Locks");
    other.SetDatabaseFileName(file);
    other.SetSessionName("Other");
    other.SetMultiUser(true);
    other.SetConnected(true);
    TVEXTableCursorOptions options;
    options.TableName = "Stay";
    holder = NewTableCursor(other, options);
    TVEXFieldDefs f;
    TVEXIndexDefs i;
    TVEXConstraintDefs k;
    holder->OpenTableByFieldDefs(f, i, k);
  }
  void TearDown() override { holder.reset(); }

  static std::unique_ptr<TVEXTable> component() {
    auto t = std::make_unique<TVEXTable>(nullptr);
    t->SetDatabaseName("Locks");
    t->SetTableName("Stay");
    return t;
  }
  // A table operator on Stay, its table open.
  std::unique_ptr<TVEXAOTable> stay() {
    std::unique_ptr<TVEXTable> t = component();
    t->Open();
    return std::make_unique<TVEXAOTable>("Stay", "", &database, std::move(t));
  }

  testsupport::ScratchDir dir;
  const std::string file = dir / "locks.vex";
  TVEXDatabase database{nullptr};
  TVEXLocalSession other;
  std::unique_ptr<TVEXLocalCursor> holder;
};

TEST_F(SetOperatorLocks, ATableAnotherConnectionWritesFailsAfterTheBoundedWaitWithoutLeavingALock) {
  // A filter that counts the rows its input reads.
  class CountingTrue final : public TVEXExprNode {
   public:
    explicit CountingTrue(int32_t& N) : TVEXExprNode(false, false), FN(N) {}
    TVEXVariant& GetDataValue() override {
      ++FN;
      Value.SetNull();
      Value.SetAsBoolean(true);
      return Value;
    }
    TVEXAdvancedFieldType GetDataType() override { return aftBoolean; }

   private:
    int32_t& FN;
  };
  testsupport::FakeClockScope clock;
  int32_t read = 0;
  const auto input = [&] {
    std::unique_ptr<TVEXTable> t = component();
    t->Open();
    auto expr = std::make_unique<TVEXAOTableExpr>(
        std::make_unique<TVEXAOTable>("Stay", "", &database, std::move(t)));
    std::vector<TVEXSelectListItem> all;
    expr->SetResultFields(all, false);
    expr->SetFilter(std::make_unique<TVEXExpression>(std::make_unique<CountingTrue>(read)));
    return expr;
  };
  // The statement has opened its tables when a writer comes.
  std::unique_ptr<TVEXAO> left = input(), right = input();
  ASSERT_TRUE(holder->LockTable(ltRW, 1, 0, true));
  EXPECT_THAT(
      [&] {
        TVEXAOUnion u(std::move(left), std::move(right), autUnion, nullptr, nullptr, false, false,
                      nullptr);
      },
      RaisesNativeError(20225));
  EXPECT_GE(clock.Clock.SleptMs(), 899u * 100u) << "900 attempts, 100 ms apart";
  EXPECT_EQ(read, 0) << "no row was read";
  // Nothing of ours is left locked: the other connection gets the table alone.
  ASSERT_TRUE(holder->UnlockTable(ltRW, false));
  EXPECT_TRUE(holder->LockTable(ltRW, 1, 0, true));
  ASSERT_TRUE(holder->UnlockTable(ltRW, false));

  // Once free, the set operation runs and gives its locks back.
  TVEXAOUnion u(input(), input(), autUnion, nullptr, nullptr, false, false, nullptr);
  EXPECT_EQ(read, 2);
  EXPECT_TRUE(holder->LockTable(ltRW, 1, 0, true));
}

// A set operation built while the statement holds its inputs' locks takes
// and gives back locks of its own: the statement's stay until it gives them.
TEST_F(SetOperatorLocks, ASetOperationBuiltUnderTheStatementsLocksLeavesThemHeld) {
  std::unique_ptr<TVEXAOTable> left = stay(), right = stay();
  TVEXAOTable& leftTable = *left;
  TVEXAOTable& rightTable = *right;
  ASSERT_TRUE(leftTable.LockTables());
  ASSERT_TRUE(rightTable.LockTables());
  TVEXAOUnion u(std::move(left), std::move(right), autUnion, nullptr, nullptr, false, false,
                nullptr);
  EXPECT_FALSE(holder->LockTable(ltRW, 1, 0, true)) << "the statement's locks are held";
  EXPECT_TRUE(u.UnlockTables());
  EXPECT_TRUE(holder->LockTable(ltRW, 1, 0, true)) << "and given back once";
  ASSERT_TRUE(holder->UnlockTable(ltRW, false));
}

}  // namespace
