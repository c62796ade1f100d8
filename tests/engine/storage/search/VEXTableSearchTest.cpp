// The table search over a fake table of integer columns: the plan it picks
// (shown by the records and index entries it touches), the order it returns
// records in, contradictions, the filter given back whole, and a seeded model
// of random tables and filters against a brute-force filter of a vector.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "VEXSearchFakes.h"
#include "VEXSearchTableFakes.h"
#include "foundation/VEXExcept.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::AddIndexDef;
using testing::AndFilter;
using testing::Comparison;
using testing::FakePageStore;
using testing::SearchDatabase;
using testing::SearchTable;
using testing::TestCursor;
using testing::TestSession;
using testsupport::RaisesNativeError;

// Fields ID, A, B, C (all integers, in that order), on pages of PageSize
// bytes.
template <uint16_t PageSize>
class SearchFixture : public ::testing::Test {
 protected:
  void Open(const std::function<void(TVEXIndexDefs&)>& Indexes, bool BTree = false) {
    session.SetConnected(true);
    table = static_cast<SearchTable*>(db.FindOrCreateTableData(cursor));
    table->UseBTree = BTree;
    TVEXFieldDefs fields;
    for (const char* name : {"ID", "A", "B", "C"}) AddField(fields, name, aftInteger);
    TVEXIndexDefs indexes;
    Indexes(indexes);
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.SetRecordBufferSize(table->Fields().GetMemoryRecordBufferSize());
    cursor.SetKeyBufferSize(table->Fields().GetMemoryRecordBufferSize());
  }

  int32_t Value(TVEXPageItemID id, const char* field) {
    return AndFilter::FieldValue(table->Fields(), table->Rows()->Records.at(id.PageNo).data(),
                                 field);
  }

  TVEXPageItemID Find(bool restart, bool forward, TVEXBaseExpression* expression = nullptr,
                      TVEXRecordBitmap* bitmap = nullptr) {
    TVEXPageItemID found{-1, 0};
    if (!table->FindRecordInView(cursor, expression, nullptr, restart, forward, found, bitmap,
                                 false))
      return {-1, 0};
    return found;
  }

  // The page numbers of the whole view in the cursor's order, stepping as
  // navigation does: a restart from the end, then on from each record found.
  std::vector<int32_t> Walk(bool forward, TVEXRecordBitmap* bitmap = nullptr) {
    std::vector<int32_t> ids;
    cursor.CurrentRecordID = {-1, 0};
    cursor.FirstPosition = forward;
    cursor.LastPosition = !forward;
    bool restart = true;
    for (TVEXPageItemID found = Find(true, forward, nullptr, bitmap); found.PageNo != -1;
         found = Find(restart, forward, nullptr, bitmap)) {
      ids.push_back(found.PageNo);
      cursor.CurrentRecordID = found;
      cursor.FirstPosition = cursor.LastPosition = false;
      restart = false;
      if (ids.size() > table->Rows()->Records.size()) {
        ADD_FAILURE() << "the walk does not end";
        break;
      }
    }
    return ids;
  }

  static std::vector<Comparison*> Sorted(std::vector<Comparison*> nodes) {
    std::sort(nodes.begin(), nodes.end());
    return nodes;
  }

  // Random tables and AND-ed filters (with a range on the cursor's index now
  // and then), walked in every order the cursor can run in, forward,
  // backward, and through the view bitmap, against a brute-force filter of a
  // vector.
  void RunModel(uint32_t Seed, int32_t Records, int32_t Rounds, bool BTree);

  FakePageStore pages{PageSize, 40};
  SearchDatabase db{&pages};
  TestSession session{&db};
  TestCursor cursor{session, "Stays"};
  SearchTable* table = nullptr;
};

class TableSearchTest : public SearchFixture<4096> {};
// Small pages, so the B-trees grow several levels.
class BTreeSearchTest : public SearchFixture<512> {};

TEST_F(TableSearchTest, UniqueEqualityTakesItsIndexWithoutEstimateAndReadsAlmostNothing) {
  Open([](TVEXIndexDefs& d) {
    AddIndexDef(d, "ByA", {"A"});
    AddIndexDef(d, "ByID", {"ID"}, true);
  });
  for (int32_t i = 0; i < 1000; ++i) table->Add({(i * 7919) % 1000, i % 10, i % 3, i});
  AndFilter filter({{"A", scGreaterEqual, 0}, {"ID", scEqual, 500}}, &table->Fields());
  cursor.FilterExpression = &filter;

  const TVEXPageItemID found = Find(true, true);
  ASSERT_NE(found.PageNo, -1);
  EXPECT_EQ(Value(found, "ID"), 500);
  EXPECT_EQ(table->Stats.Estimates, 0) << "no cost estimate for a unique equality";
  EXPECT_LE(table->Rows()->Reads, 2);
  EXPECT_LE(filter.Evaluations, 2);
  EXPECT_EQ(Sorted(filter.Present), Sorted({&filter.All[0], &filter.All[1]}));

  // Going on from it: the one record of the key was the last.
  cursor.CurrentRecordID = found;
  cursor.FirstPosition = false;
  table->Rows()->Reads = 0;
  EXPECT_EQ(Find(false, true).PageNo, -1);
  EXPECT_LE(table->Rows()->Reads, 3);
}

TEST_F(TableSearchTest, PhysicalOrderReturnsRecordIdOrderWhileAnIndexServesTheFilter) {
  Open([](TVEXIndexDefs& d) { AddIndexDef(d, "ByA", {"A"}); });
  std::vector<int32_t> want;
  for (int32_t i = 0; i < 200; ++i) {
    const int32_t a = (i * 37) % 50;
    const TVEXPageItemID id = table->Add({i, a, 0, 0});
    if (a >= 10 && a < 20) want.push_back(id.PageNo);
  }
  AndFilter filter({{"A", scGreaterEqual, 10}, {"A", scLower, 20}}, &table->Fields());
  cursor.FilterExpression = &filter;

  const TVEXPageItemID first = Find(true, true);
  EXPECT_EQ(first.PageNo, want.front());
  EXPECT_EQ(table->Rows()->Reads, 0) << "the index range decides the whole filter";
  EXPECT_GT(table->Stats.RangeSteps, 0);

  EXPECT_EQ(Walk(true), want) << "the nearest in record-id order, not the next in the index";
  std::vector<int32_t> backward(want.rbegin(), want.rend());
  EXPECT_EQ(Walk(false), backward);
  EXPECT_EQ(filter.Present.size(), 2u);

  // An equality goes on from the current record in the index, and from the
  // range's start when that record has gone meanwhile.
  AndFilter equal({{"A", scEqual, 11}}, &table->Fields());
  cursor.FilterExpression = &equal;
  std::vector<int32_t> elevens;
  for (int32_t page : want)
    if (Value({page, 0}, "A") == 11) elevens.push_back(page);
  ASSERT_EQ(elevens.size(), 4u);
  EXPECT_EQ(Walk(true), elevens);
  cursor.CurrentRecordID = {elevens[1], 0};
  cursor.FirstPosition = cursor.LastPosition = false;
  TVEXPageItemID gone = cursor.CurrentRecordID;
  table->Rows()->DeleteRecord(0, gone);
  EXPECT_EQ(Find(false, true).PageNo, elevens[2]);
  EXPECT_EQ(Find(false, false).PageNo, elevens[0]);
}

TEST_F(TableSearchTest, IndexRangeWithStartAndEndRunsInIndexOrder) {
  Open([](TVEXIndexDefs& d) { AddIndexDef(d, "ByA", {"A"}); });
  struct Rec {
    int32_t a, page;
  };
  std::vector<Rec> want;
  for (int32_t i = 0; i < 120; ++i) {
    const int32_t a = (i * 13) % 40;
    const TVEXPageItemID id = table->Add({i, a, 0, 0});
    if (a >= 10 && a < 20) want.push_back({a, id.PageNo});
  }
  std::stable_sort(want.begin(), want.end(), [](const Rec& x, const Rec& y) { return x.a < y.a; });
  std::vector<int32_t> ids;
  for (const Rec& r : want) ids.push_back(r.page);

  std::vector<uint8_t> from = table->Row({0, 10}), to = table->Row({0, 20});
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  cursor.RangeStartBuffer = from.data();
  cursor.RangeEndBuffer = to.data();
  cursor.RangeStartKeyFieldCount = cursor.RangeEndKeyFieldCount = 1;
  cursor.RangeEndExclusive = true;

  EXPECT_EQ(Walk(true), ids);
  EXPECT_LE(table->Rows()->Reads, static_cast<int64_t>(ids.size()))
      << "only the record each step goes on from is read";
  EXPECT_EQ(Walk(false), std::vector<int32_t>(ids.rbegin(), ids.rend()));

  table->BuildRecordBitmap(cursor);
  ASSERT_NE(cursor.RecordBitmap, nullptr);
  EXPECT_TRUE(cursor.RecordBitmap->Active());
  EXPECT_TRUE(cursor.RecordBitmap->IndexBased());
  EXPECT_EQ(cursor.RecordBitmap->GetRecordCount(), static_cast<int64_t>(ids.size()));
  EXPECT_EQ(Walk(true, cursor.RecordBitmap.get()), ids) << "walked from the bitmap";
}

TEST_F(TableSearchTest, ContradictoryRangeAndFilterReadNothing) {
  Open([](TVEXIndexDefs& d) { AddIndexDef(d, "ByA", {"A"}); });
  for (int32_t i = 0; i < 50; ++i) table->Add({i, i % 20, 0, 0});
  std::vector<uint8_t> from = table->Row({0, 10});
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  cursor.RangeStartBuffer = from.data();
  cursor.RangeStartKeyFieldCount = 1;
  AndFilter filter({{"A", scLower, 5}}, &table->Fields());
  cursor.FilterExpression = &filter;

  EXPECT_EQ(Find(true, true).PageNo, -1);
  EXPECT_EQ(table->Rows()->Reads, 0);
  EXPECT_EQ(table->Stats.RangeSteps, 0);
  EXPECT_EQ(filter.Evaluations, 0);
  EXPECT_EQ(filter.Present.size(), 1u);
}

TEST_F(TableSearchTest, FiltersHoldAllTheirComparisonsAgainAfterAFailedSearch) {
  Open([](TVEXIndexDefs& d) { AddIndexDef(d, "ByA", {"A"}); });
  for (int32_t i = 0; i < 30; ++i) table->Add({i, i % 10, i % 2, 0});
  AndFilter filter({{"A", scGreaterEqual, 2}, {"B", scEqual, 1}, {"A", scLowerEqual, 7}},
                   &table->Fields());
  AndFilter locate({{"A", scEqual, 3}}, &table->Fields());
  cursor.FilterExpression = &filter;
  cursor.FilterRecord = [](const uint8_t*, db::TDataSet*) -> bool {
    throw EVEXException(12345, "the dataset's filter failed");
  };
  const auto before = Sorted(filter.Present);
  EXPECT_THAT([&] { Find(true, true, &locate); }, RaisesNativeError(12345));
  EXPECT_EQ(Sorted(filter.Present), before);
  EXPECT_EQ(locate.Present.size(), 1u);

  // Also when the expression fails while it gives up its comparisons.
  cursor.FilterRecord = nullptr;
  filter.FailRemoval = true;
  EXPECT_THAT([&] { Find(true, true); }, RaisesNativeError(12346));
  EXPECT_EQ(Sorted(filter.Present), before);
  filter.FailRemoval = false;

  // And a key search on a cursor in physical order is refused before any.
  cursor.FilterRecord = nullptr;
  TVEXScanSearchCondition key;
  key.Condition = scEqual;
  key.IndexID = table->IndexIdOf("ByA");
  key.KeyFieldCount = 1;
  TVEXPageItemID found{};
  EXPECT_THAT(
      [&] { table->FindRecordInView(cursor, nullptr, &key, true, true, found, nullptr, false); },
      RaisesNativeError(20258));
  EXPECT_EQ(Sorted(filter.Present), before);
}

// The plan shows in what the search touched: index range steps, or records
// read one after the other.
TEST_F(TableSearchTest, CostModelTakesTheRangeOnlyWhileItReadsFewerPagesThanAScan) {
  Open([](TVEXIndexDefs& d) {
    AddIndexDef(d, "ByA", {"A"});
    AddIndexDef(d, "ByID", {"ID"});
  });
  for (int32_t i = 0; i < 1000; ++i) table->Add({i, i % 100, i % 2, 0});
  struct Case {
    std::vector<Comparison> filter;
    const char* order;
    bool wantIndex;
  };
  const Case cases[] = {
      {{{"A", scLower, 5}, {"B", scEqual, 1}}, nullptr, true},    // 5 %, records read
      {{{"A", scLower, 95}, {"B", scEqual, 1}}, nullptr, false},  // 95 %, records read
      {{{"A", scLower, 95}}, nullptr, true},                      // the index decides alone
      {{{"A", scLower, 60}, {"B", scEqual, 1}}, "ByID", true},    // a scan in ID order costs more
  };
  for (const Case& t : cases) {
    AndFilter filter(t.filter, &table->Fields());
    cursor.FilterExpression = &filter;
    cursor.SetIndexID(t.order != nullptr ? table->IndexIdOf(t.order) : -1);
    table->Stats = {};
    table->Rows()->Reads = 0;
    EXPECT_NE(Find(true, true).PageNo, -1);
    EXPECT_EQ(table->Stats.RangeSteps > 0, t.wantIndex)
        << t.filter[0].Value << (t.order != nullptr ? t.order : " physical");
    EXPECT_GT(table->Stats.Estimates, 0) << "priced, not preferred";
  }
}

TEST_F(TableSearchTest, UnknownIndexesAndVanishedRecordsGiveTheirErrors) {
  Open([](TVEXIndexDefs& d) {
    AddIndexDef(d, "ByA", {"A"});
    AddIndexDef(d, "ByID", {"ID"});
  });
  for (int32_t i = 0; i < 100; ++i) table->Add({i, i % 10, 0, 0});

  // A key condition on an index the table does not have, priced for a scan.
  TVEXScanSearchCondition key;
  key.Condition = scEqual;
  key.IndexID = 9999;
  key.KeyFieldCount = 1;
  std::vector<uint8_t> keyRecord = table->Row({0, 3});
  key.KeyRecordBuffer = keyRecord.data();
  key.KeyRecordBufferSize = static_cast<int32_t>(keyRecord.size());
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  TVEXPageItemID found{};
  EXPECT_THAT(
      [&] { table->FindRecordInView(cursor, nullptr, &key, true, true, found, nullptr, false); },
      RaisesNativeError(20058));

  // In ID order with a filter on A served by its own index, going on from a
  // record that has gone.
  AndFilter filter({{"A", scEqual, 4}}, &table->Fields());
  cursor.FilterExpression = &filter;
  cursor.SetIndexID(table->IndexIdOf("ByID"));
  cursor.CurrentRecordID = {5, 0};
  cursor.FirstPosition = false;
  TVEXPageItemID gone = cursor.CurrentRecordID;
  table->Rows()->DeleteRecord(0, gone);
  EXPECT_THAT([&] { Find(false, true); }, RaisesNativeError(10387));
  EXPECT_EQ(filter.Present.size(), 1u);
}

TEST_F(TableSearchTest, RecordFilterSeesTheRecordWithItsIdAtTheBookmark) {
  Open([](TVEXIndexDefs&) {});
  for (int32_t i = 0; i < 10; ++i) table->Add({i, i % 3, 0, 0});
  const int32_t recordSize = table->Fields().GetMemoryRecordBufferSize();
  cursor.SetBookmarkOffset(recordSize);
  cursor.SetRecordBufferSize(recordSize + 7);
  std::vector<int32_t> seen;
  cursor.FilterRecord = [&](const uint8_t* buffer, db::TDataSet*) {
    TVEXPageItemID id{};
    std::memcpy(&id, buffer + recordSize, sizeof id);
    seen.push_back(id.PageNo);
    return AndFilter::FieldValue(table->Fields(), buffer, "A") == 1;
  };
  EXPECT_EQ(Walk(true), std::vector<int32_t>({2, 5, 8}));
  EXPECT_EQ(seen.front(), 1);
}

TEST_F(TableSearchTest, BitmapOfAnUnrestrictedDenseTableSetsEveryBitAtOnce) {
  Open([](TVEXIndexDefs&) {});
  for (int32_t i = 0; i < 70; ++i) table->Add({i, 0, 0, 0});
  table->Dense = true;
  table->BuildRecordBitmap(cursor);
  EXPECT_EQ(table->Rows()->Reads, 0);
  EXPECT_TRUE(cursor.RecordBitmap->Active());
  EXPECT_EQ(cursor.RecordBitmap->GetRecordCount(), 70);
  EXPECT_EQ(cursor.FirstPosition, true) << "the cursor's position is put back";
}

TEST_F(TableSearchTest, DistinctStepsSkipEqualRecordsAndThinTheBitmap) {
  Open([](TVEXIndexDefs& d) { AddIndexDef(d, "ByA", {"A"}); });
  for (int32_t i = 0; i < 30; ++i) table->Add({i, i % 5, 0, 0});  // page i + 1
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  cursor.DistinctFieldCount = 1;

  // From the first record of A = 2 (page 3), in the order of A.
  std::vector<uint8_t> current = table->Rows()->Records.at(3);
  cursor.CurrentRecordID = {3, 0};
  cursor.FirstPosition = false;
  cursor.DistinctRecordBuffer = current.data();
  EXPECT_EQ(Find(false, true).PageNo, 4) << "the first record of A = 3";
  EXPECT_EQ(Find(false, false).PageNo, 27) << "the last record of A = 1";

  cursor.DistinctRecordBuffer = nullptr;
  table->BuildRecordBitmap(cursor);
  EXPECT_EQ(cursor.RecordBitmap->GetRecordCount(), 5) << "one record per value of A";

  table->Add({30, 9, 0, 0});
  EXPECT_TRUE(cursor.RecordBitmap->Outdated());
  table->RefreshRecordBitmap(cursor);
  EXPECT_FALSE(cursor.RecordBitmap->Outdated());
  EXPECT_EQ(cursor.RecordBitmap->GetRecordCount(), 6);
}

TEST_F(TableSearchTest, CurrentRecordIsInTheViewWhenRangeFilterAndRecordFilterAllAgree) {
  Open([](TVEXIndexDefs& d) { AddIndexDef(d, "ByA", {"A"}); });
  std::vector<uint8_t> from = table->Row({0, 2}), to = table->Row({0, 4});
  cursor.SetIndexID(table->IndexIdOf("ByA"));
  cursor.RangeStartBuffer = from.data();
  cursor.RangeEndBuffer = to.data();
  cursor.RangeStartKeyFieldCount = cursor.RangeEndKeyFieldCount = 1;
  cursor.RangeEndExclusive = true;
  AndFilter filter({{"B", scEqual, 1}}, &table->Fields());
  cursor.FilterExpression = &filter;
  bool recordFilter = true;
  cursor.FilterRecord = [&](const uint8_t*, db::TDataSet*) { return recordFilter; };

  struct Case {
    int32_t a, b;
    bool recordFilter, want;
  };
  const Case cases[] = {{2, 1, true, true},  {3, 1, true, true},  {4, 1, true, false},
                        {1, 1, true, false}, {2, 0, true, false}, {3, 1, false, false}};
  TVEXLockGuard lock(table->DatabaseLock());
  for (const Case& t : cases) {
    std::vector<uint8_t> record = table->Row({0, t.a, t.b});
    cursor.SetCurrentRecordBuffer(record.data());
    recordFilter = t.recordFilter;
    EXPECT_EQ(table->IsRecordInView(cursor), t.want)
        << "A=" << t.a << " B=" << t.b << " record filter " << t.recordFilter;
  }
  cursor.SetCurrentRecordBuffer(nullptr);
}

template <uint16_t PageSize>
void SearchFixture<PageSize>::RunModel(uint32_t Seed, int32_t Records, int32_t Rounds, bool BTree) {
  Open(
      [](TVEXIndexDefs& d) {
        AddIndexDef(d, "ByID", {"ID"}, true);
        AddIndexDef(d, "ByA", {"A"});
        AddIndexDef(d, "ByBC", {"B", "C"});
      },
      BTree);
  const char* fieldNames[] = {"ID", "A", "B", "C"};
  const int32_t ranges[] = {Records, 10, 5, 20};
  struct Order {
    const char* index;
    std::vector<int32_t> columns;  // field numbers
  };
  const Order orders[] = {{nullptr, {}}, {"ByID", {0}}, {"ByA", {1}}, {"ByBC", {2, 3}}};

  std::mt19937 rng(Seed);
  const auto pick = [&](int32_t n) {
    return static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
  };
  std::vector<std::vector<int32_t>> rows;
  std::vector<int32_t> ids(Records);
  for (int32_t i = 0; i < Records; ++i) ids[i] = i;
  std::shuffle(ids.begin(), ids.end(), rng);
  for (int32_t i = 0; i < Records; ++i) {
    rows.push_back({ids[i], pick(ranges[1]), pick(ranges[2]), pick(ranges[3])});
    table->Add(rows.back());
  }

  const TVEXSearchCondition ops[] = {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual};
  for (int32_t round = 0; round < Rounds; ++round) {
    std::vector<Comparison> comparisons;
    const int32_t count = 1 + pick(3);
    for (int32_t k = 0; k < count; ++k) {
      const int32_t f = pick(4);
      comparisons.push_back({fieldNames[f], ops[pick(5)], pick(ranges[f] + 1)});
    }
    AndFilter filter(comparisons, &table->Fields());
    const Order& order = orders[pick(4)];
    cursor.SetIndexID(order.index != nullptr ? table->IndexIdOf(order.index) : -1);
    cursor.FilterExpression = &filter;
    cursor.RangeStartBuffer = cursor.RangeEndBuffer = nullptr;
    std::vector<uint8_t> from, to;
    int32_t low = INT32_MIN, high = INT32_MAX;
    if (order.index != nullptr && pick(3) == 0) {
      const int32_t column = order.columns[0];
      low = pick(ranges[column]);
      high = low + pick(ranges[column]);
      std::vector<int32_t> values(4, 0);
      values[column] = low;
      from = table->Row(values);
      values[column] = high;
      to = table->Row(values);
      cursor.RangeStartBuffer = from.data();
      cursor.RangeEndBuffer = to.data();
      cursor.RangeStartKeyFieldCount = cursor.RangeEndKeyFieldCount = 1;
      cursor.RangeStartExclusive = pick(2) == 0;
      cursor.RangeEndExclusive = pick(2) == 0;
    }

    std::vector<int32_t> want;  // row numbers
    for (int32_t r = 0; r < Records; ++r) {
      bool ok = true;
      for (const Comparison& c : comparisons)
        ok = ok &&
             AndFilter::Holds(rows[r][table->Fields().GetDefNumberByName(c.Field)], c.Op, c.Value);
      if (cursor.RangeStartBuffer != nullptr) {
        const int32_t v = rows[r][order.columns[0]];
        ok = ok && (cursor.RangeStartExclusive ? v > low : v >= low) &&
             (cursor.RangeEndExclusive ? v < high : v <= high);
      }
      if (ok) want.push_back(r);
    }
    std::stable_sort(want.begin(), want.end(), [&](int32_t x, int32_t y) {
      for (int32_t column : order.columns)
        if (rows[x][column] != rows[y][column]) return rows[x][column] < rows[y][column];
      return false;
    });
    for (int32_t& r : want) r += 1;  // page numbers

    SCOPED_TRACE("round " + std::to_string(round) + " order " +
                 (order.index != nullptr ? order.index : "physical"));
    const auto all = Sorted([&] {
      std::vector<Comparison*> nodes;
      for (Comparison& c : filter.All) nodes.push_back(&c);
      return nodes;
    }());
    EXPECT_EQ(Walk(true), want);
    EXPECT_EQ(Walk(false), std::vector<int32_t>(want.rbegin(), want.rend()));
    TVEXRecordBitmap sideEffect(table);
    EXPECT_EQ(Walk(true, &sideEffect), want) << "a bitmap filled on the way";
    cursor.RecordBitmap.reset();
    table->BuildRecordBitmap(cursor);
    EXPECT_EQ(cursor.RecordBitmap->GetRecordCount(), static_cast<int64_t>(want.size()));
    EXPECT_EQ(Walk(true, cursor.RecordBitmap.get()), want) << "walked from the built bitmap";
    EXPECT_EQ(Sorted(filter.Present), all) << "the filter is whole again";
    if (::testing::Test::HasFailure()) return;
    cursor.FilterExpression = nullptr;
  }
}

TEST_F(TableSearchTest, ModelRandomFiltersGiveTheBruteForceSetInTheCursorsOrder) {
  RunModel(20261211, 60, 120, false);
}

TEST_F(BTreeSearchTest, ModelOverBTreeIndexesGivesTheBruteForceSetInTheCursorsOrder) {
  RunModel(4711, 80, 60, true);
}

}  // namespace
}  // namespace vex
