#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RecordIndexFixtures.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::BTreeTable;
using testing::IndexCursor;
using testing::NullRecord;
using testsupport::CodeOf;

constexpr int32_t kSession = 1;

// Fields A and B (integers) and S (a 30-character text).
class RecordIndex : public ::testing::Test {
 protected:
  explicit RecordIndex(uint16_t pageSize = 4096) : Table(pageSize) {}

  void SetUp() override {
    TVEXFieldDefs& defs = Table.Fields.FieldDefs();
    AddField(defs, "A", aftInteger);
    AddField(defs, "B", aftInteger);
    AddField(defs, "S", aftString, 30);
    Table.Open();
  }

  std::vector<uint8_t> Row(std::optional<int32_t> a, std::optional<int32_t> b = std::nullopt,
                           const char* s = nullptr) {
    std::vector<uint8_t> record = NullRecord(Table.Defs());
    if (a) testing::SetField(Table.Defs(), record, 0, *a);
    if (b) testing::SetField(Table.Defs(), record, 1, *b);
    if (s != nullptr) {
      std::memcpy(record.data() + Table.Defs().GetDef(2)->MemoryOffset, s, std::strlen(s));
      SetBitInBuffer(false, 2, record.data());
    }
    return record;
  }

  // Record ids in index order, read by an unbounded scan.
  std::vector<int32_t> Scan(TVEXBTreeRecordIndex& index, bool forward = true) {
    std::vector<int32_t> ids;
    auto info = index.CreateSearchInfo();
    TVEXPageItemID id{-1, 0};
    bool restart = true;
    while (index.FindRecord(kSession, restart, forward, nullptr, nullptr, nullptr, id, *info)) {
      ids.push_back(id.PageNo);
      restart = false;
    }
    return ids;
  }

  // Record ids a range scan returns; key values in Row form.
  std::vector<int32_t> Range(TVEXBTreeRecordIndex& index, bool forward,
                             std::optional<std::pair<TVEXSearchCondition, int32_t>> start,
                             std::optional<std::pair<TVEXSearchCondition, int32_t>> end = {}) {
    std::vector<uint8_t> startKey = Row(start ? std::optional(start->second) : std::nullopt);
    std::vector<uint8_t> endKey = Row(end ? std::optional(end->second) : std::nullopt);
    TVEXScanSearchCondition startCondition{start ? start->first : scNone, startKey.data(), 0, 1};
    TVEXScanSearchCondition endCondition{end ? end->first : scNone, endKey.data(), 0, 1};
    std::vector<int32_t> ids;
    auto info = index.CreateSearchInfo();
    TVEXPageItemID id{-1, 0};
    bool restart = true;
    while (index.FindRecord(kSession, restart, forward, start ? &startCondition : nullptr,
                            end ? &endCondition : nullptr, nullptr, id, *info)) {
      ids.push_back(id.PageNo);
      restart = false;
    }
    return ids;
  }

  BTreeTable Table;
};

class SmallPageRecordIndex : public RecordIndex {
 protected:
  SmallPageRecordIndex() : RecordIndex(128) {}
};

std::string Show(const std::vector<int32_t>& ids) {
  std::ostringstream out;
  for (int32_t id : ids) out << id << " ";
  return out.str();
}

// Random inserts, updates and deletes with many equal keys and texts that tie
// on their cut prefix, against a sorted model; CheckIntegrity after each step.
void RunModel(RecordIndex& test, BTreeTable& table, uint32_t seed, int32_t steps,
              const std::function<std::vector<uint8_t>(std::optional<int32_t>, const char*)>& row,
              const std::function<std::vector<int32_t>(TVEXBTreeRecordIndex&)>& scan) {
  (void)test;
  TVEXBTreeRecordIndex& index = table.AddIndex({"A", "S"}, false, 4);
  struct Model {
    std::optional<int32_t> A;
    std::string S;
  };
  std::map<int32_t, Model> model;
  std::mt19937 random(seed);
  const auto draw = [&] {
    Model m;
    if (random() % 8 != 0) m.A = static_cast<int32_t>(random() % 4);
    m.S = "pref";
    const uint32_t n = random() % 4;
    for (uint32_t i = 0; i < n; ++i) m.S += static_cast<char>('a' + random() % 3);
    return m;
  };
  for (int32_t step = 0; step < steps; ++step) {
    const uint32_t dice = random() % 100;
    if (model.empty() || dice < 55) {
      const Model m = draw();
      const TVEXPageItemID id = table.Insert(row(m.A, m.S.c_str()));
      model[id.PageNo] = m;
    } else if (dice < 75) {
      auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
      const Model m = draw();
      table.Update({it->first, 0}, row(m.A, m.S.c_str()));
      it->second = m;
    } else {
      auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
      table.Delete({it->first, 0});
      model.erase(it);
    }
    ASSERT_NO_THROW(index.CheckIntegrity(kSession)) << "step " << step;
    if (step % 20 == 0 || step == steps - 1) {
      std::vector<int32_t> expected;
      for (const auto& [id, m] : model) expected.push_back(id);
      std::sort(expected.begin(), expected.end(), [&](int32_t x, int32_t y) {
        const Model& a = model[x];
        const Model& b = model[y];
        if (a.A.has_value() != b.A.has_value()) return !a.A.has_value();
        if (a.A != b.A) return *a.A < *b.A;
        if (a.S != b.S) return a.S < b.S;
        return x < y;
      });
      ASSERT_EQ(Show(scan(index)), Show(expected)) << "step " << step;
    }
  }
}

TEST_F(RecordIndex, MatchesASortedModelOnFullPages) {
  RunModel(*this, Table, 11, 1500, [&](std::optional<int32_t> a, const char* s) { return Row(a, 0, s); },
           [&](TVEXBTreeRecordIndex& index) { return Scan(index); });
}

TEST_F(SmallPageRecordIndex, MatchesASortedModelOnSmallPages) {
  RunModel(*this, Table, 12, 1500, [&](std::optional<int32_t> a, const char* s) { return Row(a, 0, s); },
           [&](TVEXBTreeRecordIndex& index) { return Scan(index); });
}

TEST_F(SmallPageRecordIndex, CreateIndexFillsTheTreeFromTheRecordsThereAre) {
  for (int32_t i = 0; i < 30; ++i) Table.Insert(Row(29 - i));
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"});
  EXPECT_NE(index.IndexDef()->RootPageNo, -1);
  EXPECT_EQ(Table.Indexes.IndexDefs().GetIndexDef(0)->RootPageNo, index.IndexDef()->RootPageNo);
  index.CheckIntegrity(kSession);
  std::vector<int32_t> expected;
  for (int32_t id = 30; id >= 1; --id) expected.push_back(id);
  EXPECT_EQ(Show(Scan(index)), Show(expected));
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(Show(Scan(index, false)), Show(expected));
  // Emptied it keeps its root; dropped it gives every page back.
  index.EmptyIndex(kSession);
  EXPECT_TRUE(Scan(index).empty());
  index.CheckIntegrity(kSession);
}

TEST_F(SmallPageRecordIndex, RangeScansGoBothWaysAndStopAtTheirEnd) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"});
  std::map<int32_t, int32_t> keyOf;  // record id -> key
  for (int32_t key : {25, 5, 10, 15, 20, 10, 30, 20, 12}) keyOf[Table.Insert(Row(key)).PageNo] = key;
  const auto keys = [&](const std::vector<int32_t>& ids) {
    std::vector<int32_t> out;
    for (int32_t id : ids) out.push_back(keyOf[id]);
    return Show(out);
  };
  EXPECT_EQ(keys(Range(index, true, {{scGreaterEqual, 10}}, {{scLowerEqual, 20}})),
            "10 10 12 15 20 20 ");
  EXPECT_EQ(keys(Range(index, false, {{scLowerEqual, 20}}, {{scGreaterEqual, 10}})),
            "20 20 15 12 10 10 ");
  EXPECT_EQ(keys(Range(index, true, {{scEqual, 20}})), "20 20 ");
  EXPECT_EQ(keys(Range(index, true, {{scGreater, 10}}, {{scLower, 20}})), "12 15 ");
  EXPECT_EQ(keys(Range(index, true, {{scGreaterEqual, 13}}, {{scLowerEqual, 14}})), "");
  EXPECT_EQ(keys(Range(index, true, {{scGreater, 30}})), "");
  EXPECT_EQ(keys(Range(index, false, {{scLower, 5}})), "");

  // A restart of a started scan is refused.
  auto info = index.CreateSearchInfo();
  TVEXPageItemID id{};
  ASSERT_TRUE(index.FindRecord(kSession, true, true, nullptr, nullptr, nullptr, id, *info));
  EXPECT_EQ(CodeOf([&] { index.FindRecord(kSession, true, true, nullptr, nullptr, nullptr, id, *info); }),
            20078);
}

TEST_F(SmallPageRecordIndex, RangeScanStartingAfterTheCurrentRecord) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"});
  std::vector<TVEXPageItemID> ids;
  for (int32_t key = 1; key <= 9; ++key) ids.push_back(Table.Insert(Row(key)));
  std::vector<uint8_t> startKey = Row(3);
  TVEXScanSearchCondition start{scGreaterEqual, startKey.data(), 0, 1};
  // Standing on 6: the scan goes on after it.
  TVEXPageItemID id = ids[5];
  std::vector<uint8_t> current = Row(6);
  auto info = index.CreateSearchInfo();
  ASSERT_TRUE(index.FindRecord(kSession, false, true, &start, nullptr, current.data(), id, *info));
  EXPECT_EQ(int32_t{id.PageNo}, int32_t{ids[6].PageNo});
  // Standing on 1, before the range: the scan starts at its first record.
  id = ids[0];
  current = Row(1);
  info = index.CreateSearchInfo();
  ASSERT_TRUE(index.FindRecord(kSession, false, true, &start, nullptr, current.data(), id, *info));
  EXPECT_EQ(int32_t{id.PageNo}, int32_t{ids[2].PageNo});
}

TEST_F(SmallPageRecordIndex, NavigationStepsThroughIndexOrderAndStopsAtBothEnds) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A desc"});
  std::vector<TVEXPageItemID> ids;
  for (int32_t key = 1; key <= 12; ++key) ids.push_back(Table.Insert(Row(key)));
  std::vector<uint8_t> buffer(static_cast<size_t>(Table.Records->RecordBufferSize()));
  TVEXNavigationInfo nav;
  nav.RecordBuffer = buffer.data();
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  TVEXIndexPositionCache cache;
  std::vector<int32_t> seen;
  for (;;) {
    index.GetRecordBuffer(kSession, nav, &cache, 7);
    if (nav.GetRecordResult != grrOK) break;
    seen.push_back(nav.RecordID.PageNo);
    int32_t a;
    std::memcpy(&a, buffer.data() + Table.Defs().GetDef(0)->MemoryOffset, 4);
    EXPECT_EQ(a, 13 - static_cast<int32_t>(seen.size())) << "the record is read";
  }
  EXPECT_EQ(Show(seen), "12 11 10 9 8 7 6 5 4 3 2 1 ");
  EXPECT_EQ(nav.GetRecordResult, grrEOF);
  EXPECT_TRUE(nav.LastPosition);
  EXPECT_EQ(cache.IndexID, index.IndexDef()->ObjectID);
  // From after the last, grmPrior returns the last entry itself.
  nav.GetRecordMode = grmPrior;
  index.GetRecordBuffer(kSession, nav, &cache, 7);
  EXPECT_EQ(nav.GetRecordResult, grrOK);
  EXPECT_EQ(int32_t{nav.RecordID.PageNo}, 1);
  // A record no longer in the index.
  Table.Delete(ids[5]);
  nav.RecordID = ids[5];
  std::memcpy(buffer.data(), Row(6).data(), buffer.size());
  nav.GetRecordMode = grmNext;
  index.GetRecordBuffer(kSession, nav, nullptr, 8);
  EXPECT_EQ(nav.GetRecordResult, grrError);
  std::memcpy(buffer.data(), Row(6).data(), buffer.size());
  index.GetClosestRecordBuffer(kSession, nav, nullptr, 8);
  EXPECT_EQ(nav.GetRecordResult, grrOK);
  EXPECT_EQ(int32_t{nav.RecordID.PageNo}, 5) << "descending: the next key after 6 is 5";
  nav.GetRecordMode = grmCurrent;
  EXPECT_EQ(CodeOf([&] { index.GetRecordBuffer(kSession, nav, nullptr, 8); }), 20053);
}

TEST_F(SmallPageRecordIndex, RecordNumbersCountFromOneInIndexOrder) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"});
  EXPECT_EQ(CodeOf([&] { index.GetRecordIDByRecNo(kSession, 1); }), 20074);
  std::vector<TVEXPageItemID> ids;
  for (int32_t key = 20; key >= 1; --key) ids.push_back(Table.Insert(Row(key)));
  for (int64_t recNo = 1; recNo <= 20; ++recNo) {
    const TVEXPageItemID id = index.GetRecordIDByRecNo(kSession, recNo);
    EXPECT_EQ(int64_t{id.PageNo}, 21 - recNo);
    EXPECT_EQ(index.GetRecNoByRecordID(kSession, id, Row(static_cast<int32_t>(recNo)).data()), recNo);
  }
  EXPECT_EQ(index.GetRecNoByRecordID(kSession, {99, 0}, Row(5).data()), -1);
  EXPECT_EQ(CodeOf([&] { index.GetRecordIDByRecNo(kSession, 21); }), 20075);

  // Bitmap numbers lead back to the same entries.
  TVEXKeyPath path;
  ASSERT_TRUE(index.GetIndexPosition(kSession, ids[3], Row(17).data(), path));
  const int64_t bit = path.GetBitmapRecNoByIndexPosition(index.GetMaxEntriesPerPage());
  TVEXKeyPath digits;
  digits.FillItemsByBitmapRecNo(bit, index.GetMaxEntriesPerPage());
  TVEXPageItemID back{};
  index.GetRecordIDByIndexPosition(kSession, digits, back);
  EXPECT_EQ(int32_t{back.PageNo}, int32_t{ids[3].PageNo});
}

TEST_F(RecordIndex, UniqueIndexRefusesASecondNullAndAllowsAnUnchangedKey) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"}, true);
  EXPECT_TRUE(index.CanInsertRecord(kSession, Row(std::nullopt).data()));
  Table.Insert(Row(std::nullopt));
  Table.Insert(Row(4));
  EXPECT_FALSE(index.CanInsertRecord(kSession, Row(std::nullopt).data()));
  EXPECT_FALSE(index.CanInsertRecord(kSession, Row(4).data()));
  EXPECT_TRUE(index.CanInsertRecord(kSession, Row(5).data()));
  EXPECT_TRUE(index.CanUpdateRecord(kSession, Row(4, 1).data(), Row(4, 2).data()));
  EXPECT_FALSE(index.CanUpdateRecord(kSession, Row(5).data(), Row(4).data()));
  TVEXBTreeRecordIndex& plain = Table.AddIndex({"B"});
  EXPECT_TRUE(plain.CanInsertRecord(kSession, Row(4).data()));
}

TEST_F(RecordIndex, MissingEntriesAndMissingRootsAreReported) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"});
  IndexCursor cursor = Table.Cursor();
  cursor.RecordID = {77, 0};
  cursor.Record = Row(1);
  EXPECT_EQ(CodeOf([&] { index.DeleteRecord(cursor); }), 20027);
  cursor.Edit = Row(2);
  EXPECT_EQ(CodeOf([&] { index.UpdateRecord(cursor, true); }), 20250);
  index.IndexDef()->RootPageNo = -1;
  std::string message;
  EXPECT_EQ(CodeOf([&] { index.InsertRecord(cursor); }, &message), 20127);
  EXPECT_NE(message.find("Invalid page number"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { index.DropIndex(kSession); }), 20119);
  EXPECT_EQ(CodeOf([&] { index.EmptyIndex(kSession); }), 20120);
}

TEST_F(SmallPageRecordIndex, ApproximateRangeCountIsTheDistanceBetweenTheTwoPositions) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A"});
  for (int32_t key = 0; key < 100; ++key) Table.Insert(Row(key));
  std::vector<uint8_t> low = Row(20);
  std::vector<uint8_t> high = Row(59);
  TVEXScanSearchCondition lower{scGreaterEqual, low.data(), 0, 1};
  TVEXScanSearchCondition upper{scLowerEqual, high.data(), 0, 1};
  // The estimate as the positions give it: each level weighted by the entry
  // counts below it.
  TVEXKeyPath first;
  TVEXKeyPath last;
  ASSERT_TRUE(index.GetIndexPosition(kSession, {21, 0}, Row(20).data(), first));
  ASSERT_TRUE(index.GetIndexPosition(kSession, {60, 0}, Row(59).data(), last));
  const int64_t expected = std::llround(
      (last.GetApproxRecNoInPercents() - first.GetApproxRecNoInPercents()) * 100.0);
  EXPECT_EQ(index.GetApproxRangeRecordCount(kSession, 100, &upper, &lower), expected);
  EXPECT_EQ(index.GetApproxRangeRecordCount(kSession, 100, &lower, &upper), expected);
  EXPECT_GT(expected, 0);
  EXPECT_LE(index.GetApproxRangeRecordCount(kSession, 10, &lower, &upper), 10);
  std::vector<uint8_t> none = Row(500);
  TVEXScanSearchCondition empty{scGreaterEqual, none.data(), 0, 1};
  EXPECT_EQ(index.GetApproxRangeRecordCount(kSession, 100, &empty, &upper), 0);
  EXPECT_EQ(index.CompareConditions(lower, upper), -1);
  EXPECT_EQ(index.CompareConditions(upper, lower), 1);
}

class HiddenSet : public TVEXRecordBitmap {
 public:
  explicit HiddenSet(TVEXBTreeRecordIndex& Index) : FIndex(Index) {}
  bool IsRecordVisible(int32_t, const TVEXIndexPosition& pos) override {
    return Hidden.count(Id(pos)) == 0;
  }
  void HideRecord(int32_t, const TVEXIndexPosition& pos) override { Hidden.insert(Id(pos)); }
  std::set<int32_t> Hidden;

 private:
  int32_t Id(const TVEXIndexPosition& pos) {
    TVEXPageItemID id{};
    TVEXKeyPath digits;
    digits.FillItemsByBitmapRecNo(
        static_cast<const TVEXKeyPath&>(pos).GetBitmapRecNoByIndexPosition(
            FIndex.GetMaxEntriesPerPage()),
        FIndex.GetMaxEntriesPerPage());
    FIndex.GetRecordIDByIndexPosition(kSession, digits, id);
    return id.PageNo;
  }
  TVEXBTreeRecordIndex& FIndex;
};

TEST_F(RecordIndex, DistinctKeepsTheFirstShownEntryOfEachRun) {
  TVEXBTreeRecordIndex& index = Table.AddIndex({"A", "B"});
  const int32_t r11 = Table.Insert(Row(1, 1)).PageNo;
  const int32_t r12 = Table.Insert(Row(1, 2)).PageNo;
  const int32_t r21 = Table.Insert(Row(2, 1)).PageNo;
  HiddenSet bitmap(index);
  index.ApplyDistinctToRecordBitmap(kSession, bitmap, 1);
  EXPECT_EQ(bitmap.Hidden, std::set<int32_t>({r12}));
  (void)r11;
  (void)r21;
  EXPECT_EQ(index.KeyRef()->CompareFieldCount(), 2) << "the compared columns are put back";
}

}  // namespace
}  // namespace vex
