// The condition list of a table search: copies with their own keys, derived
// index conditions from a filter, and the filter's comparisons handed out to
// the chosen conditions and back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "VEXSearchFakes.h"
#include "rtl/Lists.h"
#include "storage/search/VEXScanConditions.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AndFilter;
using testsupport::RaisesNativeError;

rtl::TStringList List(std::initializer_list<const char*> items) {
  rtl::TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

void IndexesOver(TVEXIndexDefs& defs,
                 std::initializer_list<std::initializer_list<const char*>> indexes) {
  int32_t id = 10;
  for (auto columns : indexes) {
    TVEXIndexDef* def = defs.AddCreated();
    def->Name = "I" + std::to_string(id);
    def->ObjectID = id++;
    rtl::TStringList names = List(columns);
    rtl::TStringList asc, cases;
    for (int32_t i = 0; i < names.Count(); ++i) {
      asc.Add("ASC");
      cases.Add("CASE");
    }
    def->AssignByNames(names, asc, cases);
  }
}

int32_t KeyAt(const TVEXScanSearchCondition& c, int32_t column) {
  int32_t v = 0;
  std::memcpy(&v, c.KeyRecordBuffer + column * sizeof(int32_t), sizeof v);
  return v;
}

TEST(ScanConditionsTest, AddedConditionsOwnACopyOfTheirKeyAndBadItemsAreRefused) {
  TVEXScanSearchConditionArray array;
  int32_t key = 7;
  TVEXScanSearchCondition caller{scEqual, reinterpret_cast<uint8_t*>(&key), 4, 1};
  EXPECT_THAT([&] { array.AddCondition(caller); }, RaisesNativeError(10388));
  caller.IndexID = 3;
  array.AddCondition(caller);
  key = 8;
  ASSERT_EQ(array.Count(), 1);
  EXPECT_NE(array[0].KeyRecordBuffer, caller.KeyRecordBuffer);
  EXPECT_EQ(KeyAt(array[0], 0), 7) << "the caller's buffer may change or go";
  EXPECT_THAT([&] { array.Delete(1); }, RaisesNativeError(10413));
  array.Delete(0);
  EXPECT_EQ(array.Count(), 0);
}

TEST(ScanConditionsTest, EqualitiesOnTwoColumnsBecomeOneConditionOnTheTwoColumnIndex) {
  TVEXIndexDefs indexes;
  IndexesOver(indexes, {{"A", "B"}, {"B"}});
  AndFilter filter({{"A", scEqual, 1}, {"B", scEqual, 2}});
  TVEXScanSearchConditionArray array;
  array.AddExpression(&filter);
  array.CreateIndexScanConditionsFromExpressions(indexes, 1);

  ASSERT_EQ(array.Count(), 3);
  const TVEXScanSearchCondition& onAB = array[1];
  EXPECT_EQ(onAB.IndexID, 10);
  EXPECT_EQ(onAB.KeyFieldCount, 2);
  EXPECT_EQ(KeyAt(onAB, 0), 1);
  EXPECT_EQ(KeyAt(onAB, 1), 2);
  EXPECT_EQ(onAB.ParentExpressionNodes.size(), 2u);
  EXPECT_EQ(array[2].IndexID, 11);
  EXPECT_EQ(array[2].KeyFieldCount, 1) << "a one-column index is not extended";

  // Choose the (A, B) condition: the other derived one goes, the numbers follow.
  int32_t start = 1, end = -1;
  array.RemoveUnusedConditionsCreatedFromExpressions(start, end);
  ASSERT_EQ(array.Count(), 2);
  EXPECT_EQ(start, 1);
  array.ExtractChosenConditionsFromExpressions(start, end);
  EXPECT_TRUE(filter.IsEmpty()) << "the index decides both comparisons";
  array.ReturnExtractedConditionsToExpressions(start, end);
  EXPECT_EQ(filter.Present.size(), 2u);
}

TEST(ScanConditionsTest, RemovingUnusedDerivedConditionsKeepsTheChosenNumbers) {
  TVEXIndexDefs indexes;
  IndexesOver(indexes, {{"A"}, {"B"}, {"C"}});
  AndFilter filter({{"A", scGreater, 1}, {"B", scEqual, 2}, {"C", scLower, 3}});
  TVEXScanSearchConditionArray array;
  array.AddExpression(&filter);
  array.CreateIndexScanConditionsFromExpressions(indexes, 1);
  ASSERT_EQ(array.Count(), 4);
  int32_t start = 3, end = -1;
  array.RemoveUnusedConditionsCreatedFromExpressions(start, end);
  ASSERT_EQ(array.Count(), 2);
  EXPECT_EQ(start, 1);
  EXPECT_EQ(array[start].IndexID, 12);
  EXPECT_EQ(array[0].Expression, &filter);
}

// Rows read "A (op) a and B (op) b" on one column, c = compare(a, b).
TEST(ScanConditionsTest, MergingTwoBoundsFindsContradictionsAndTheTighterBound) {
  struct Case {
    TVEXSearchCondition a, b;
    int32_t c, nA, nB;
    TVEXMergeOutcome want;
  };
  const Case cases[] = {
      {scGreaterEqual, scLower, 1, 1, 1, moEmpty},     // x >= 10 and x < 5
      {scGreaterEqual, scLower, 0, 1, 1, moEmpty},     // x >= 5 and x < 5
      {scGreaterEqual, scLower, -1, 1, 1, moKeepBoth}, // a range: start and end
      {scEqual, scEqual, 1, 1, 1, moEmpty},
      {scEqual, scEqual, 0, 1, 2, moMore},             // A = 1 beside (A, B) = (1, 2)
      {scEqual, scLower, -1, 1, 1, moA},               // x = 3 and x < 5
      {scLower, scEqual, -1, 1, 1, moEmpty},           // x < 3 and x = 5
      {scLower, scLower, 0, 1, 2, moFewer},
      {scGreater, scGreaterEqual, 0, 1, 1, moA},       // x > 5 and x >= 5
      {scGreaterEqual, scGreater, 0, 1, 1, moB},
      {scLowerEqual, scGreaterEqual, 0, 1, 1, moAEqual},
      {scLowerEqual, scGreaterEqual, 0, 1, 2, moKeepBoth},
      {scLowerEqual, scLower, 0, 1, 1, moKeepBoth},
      {scEqual, scLowerEqual, 0, 1, 2, moKeepBoth},
      {scEqual, scLowerEqual, 0, 2, 1, moA},
  };
  for (const Case& t : cases)
    EXPECT_EQ(MergeOutcome(t.a, t.b, t.c, t.nA, t.nB), t.want)
        << "ops " << int(t.a) << "," << int(t.b) << " c=" << t.c << " n=" << t.nA << "," << t.nB;

  TVEXScanSearchCondition eq{scEqual, nullptr, 0, 1};
  TVEXScanSearchCondition below{scLower, nullptr, 0, 2};
  EXPECT_FALSE(CanMergeScanConditions(eq, below));
  EXPECT_FALSE(CanMergeScanConditions(below, eq));
  below.KeyFieldCount = 1;
  EXPECT_TRUE(CanMergeScanConditions(eq, below));
}

TEST(ScanConditionsTest, OptimisingMergesPerIndexAndStopsAtAContradiction) {
  const auto compare = [](int32_t, const uint8_t* a, const uint8_t* b, int32_t) {
    int32_t x = 0, y = 0;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x < y ? -1 : x > y ? 1 : 0;
  };
  const auto add = [](TVEXScanSearchConditionArray& array, int32_t index,
                      TVEXSearchCondition op, int32_t value) {
    TVEXScanSearchCondition c{op, reinterpret_cast<uint8_t*>(&value), 4, 1};
    c.IndexID = index;
    array.AddCondition(c);
  };
  AndFilter filter({});
  TVEXScanSearchConditionArray array;
  array.AddExpression(&filter);
  add(array, 1, scGreaterEqual, 2);
  add(array, 2, scEqual, 9);
  add(array, 1, scGreater, 4);  // tighter than >= 2
  add(array, 1, scLower, 8);    // the range's end
  add(array, 2, scEqual, 9);    // the same again
  ASSERT_TRUE(array.OptimizeScanConditions(compare));
  ASSERT_EQ(array.Count(), 4);
  EXPECT_EQ(array[0].Condition, scGreater);
  EXPECT_EQ(KeyAt(array[0], 0), 4);
  EXPECT_EQ(array[1].Condition, scLower);
  EXPECT_EQ(array[2].IndexID, 2);
  EXPECT_EQ(array[3].Expression, &filter) << "expression entries follow the index conditions";

  add(array, 1, scLowerEqual, 3);  // x > 4 and x <= 3
  const int32_t before = array.Count();
  EXPECT_FALSE(array.OptimizeScanConditions(compare));
  EXPECT_EQ(array.Count(), before) << "a contradiction leaves the array as it was";
}

}  // namespace
}  // namespace vex
