// The record pages and the disk record manager: slot geometry, the exact bytes
// of a record page, and a seeded model test of the manager against a map with
// a walk of both scan directions, record numbers and the page index after
// every step.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "../VEXManagerFakes.h"
#include "DiskDatabaseFixture.h"
#include "storage/VEXFieldManager.h"
#include "storage/disk/VEXDiskRecordManager.h"

namespace vex {
namespace {

using testing::AddField;
using testing::DiskDatabaseTest;
using testing::NullRecord;
using testing::SetField;
using testsupport::CodeOf;

// --- slot geometry (4096-byte pages: 4056 data bytes) ----------------------

struct GeometryCase {
  int32_t RecordSize;
  int32_t Slots;
  int32_t BitmapBytes;
};

TEST(SmallRecordPageGeometry, SlotCountLeavesRoomForTheBitmap) {
  const GeometryCase cases[] = {
      {2, 1908, 239}, {5, 791, 99}, {100, 40, 5}, {4054, 1, 1}, {4055, 0, 0}};
  for (const GeometryCase& c : cases) {
    const int32_t m = TVEXSmallRecordPage::MaxRecordsFor(4056, c.RecordSize);
    EXPECT_EQ(m, c.Slots) << "R=" << c.RecordSize;
    EXPECT_EQ(TVEXSmallRecordPage::BitmapSize(m), c.BitmapBytes) << "R=" << c.RecordSize;
    EXPECT_LE(TVEXSmallRecordPage::BitmapSize(m) + m * c.RecordSize, 4056) << "R=" << c.RecordSize;
  }
}

class DiskRecordManagerTest : public DiskDatabaseTest {
 protected:
  // One Integer field: a 1-byte null bitmap and 4 data bytes, 5 on disk.
  void SetUp() override {
    FManager = Create();
    AddField(FFields.FieldDefs(), "N", aftInteger);
    FFields.RecalcFieldOffsets();
    FRecords = std::make_unique<TVEXDiskRecordManager>(FManager.get(), &FFields, kTableID);
    FRecords->Init(FFields.FieldDefs().GetMemoryRecordBufferSize(),
                   FFields.FieldDefs().GetDiskRecordBufferSize(), 1);
    FRecords->CreateRecordPageIndex();
    FManager->ApplyChanges(-2);
  }

  std::vector<uint8_t> Record(int32_t value) {
    std::vector<uint8_t> r = NullRecord(FFields.FieldDefs());
    SetField(FFields.FieldDefs(), r, 0, value);
    return r;
  }
  int32_t ValueOf(const std::vector<uint8_t>& r) {
    int32_t v = 0;
    std::memcpy(&v, r.data() + FFields.FieldDefs().GetDef(0)->MemoryOffset, 4);
    return v;
  }
  TVEXPageItemID Add(int32_t value) {
    TVEXPageItemID id{-1, 0};
    EXPECT_TRUE(FRecords->AddRecord(0, Record(value).data(), id));
    return id;
  }
  // Every record in physical order, walked forwards (or backwards, reversed).
  std::vector<std::pair<int64_t, int32_t>> Scan(bool forward) {
    std::vector<std::pair<int64_t, int32_t>> out;
    std::vector<uint8_t> buffer(FFields.FieldDefs().GetMemoryRecordBufferSize());
    TVEXNavigationInfo nav;
    nav.RecordBuffer = buffer.data();
    nav.GetRecordMode = forward ? grmNext : grmPrior;
    (forward ? nav.FirstPosition : nav.LastPosition) = true;
    for (;;) {
      FRecords->GetRecordBuffer(0, nav);
      if (nav.GetRecordResult != grrOK) break;
      out.push_back({Key(nav.RecordID), ValueOf(buffer)});
    }
    EXPECT_EQ(nav.GetRecordResult, FRecords->RecordCount() == 0 ? grrEOF
                                   : forward                    ? grrEOF
                                                                : grrBOF);
    if (!forward) std::reverse(out.begin(), out.end());
    return out;
  }
  static int64_t Key(TVEXPageItemID id) { return (int64_t{id.PageNo} << 16) | id.PageItemNo; }
  static TVEXPageItemID IdOf(int64_t key) {
    return {static_cast<int32_t>(key >> 16), static_cast<uint16_t>(key & 0xFFFF)};
  }

  static constexpr int32_t kTableID = 77;
  std::unique_ptr<TVEXDiskPageManager> FManager;
  TVEXBaseFieldManager FFields{nullptr};
  std::unique_ptr<TVEXDiskRecordManager> FRecords;
};

TEST_F(DiskRecordManagerTest, RecordTooLargeForAPageIsRefused) {
  TVEXDiskRecordManager big(FManager.get(), &FFields, kTableID);
  EXPECT_EQ(CodeOf([&] { big.Init(4060, 4055, 1); }), 20174);
  EXPECT_NO_THROW(big.Init(4060, 4054, 1));
  EXPECT_EQ(big.MaxRecordsOnPage(), 1);
}

TEST_F(DiskRecordManagerTest, PageBytesAfterInsertsDeleteAndReuse) {
  Add(0x11111111);
  const TVEXPageItemID second = Add(0x22222222);
  Add(0x33333333);
  TVEXPageItemID gone = second;
  ASSERT_TRUE(FRecords->DeleteRecord(0, gone));
  const TVEXPageItemID reused = Add(0x44444444);
  EXPECT_EQ(reused.PageNo, second.PageNo);
  EXPECT_EQ(reused.PageItemNo, 1);
  FManager->ApplyChanges(0);

  std::vector<uint8_t> page(FManager->PageSize());
  FManager->ReadPageRegion(page.data(), reused.PageNo, 0, static_cast<uint16_t>(page.size()));
  EXPECT_EQ(testing::ValueAt<uint16_t>(page, 8), ptTableRecord);
  EXPECT_EQ(testing::ValueAt<int32_t>(page, 22), kTableID);
  const uint8_t* data = page.data() + 40;
  // Bitmap of 791 slots: 99 bytes, slots 0-2 used.
  EXPECT_EQ(data[0], 0x07);
  for (int i = 1; i < 99; ++i) ASSERT_EQ(data[i], 0) << "bitmap byte " << i;
  // Slots of 5 bytes from offset 99: null bitmap (field 0 not null), value.
  const uint8_t slots[] = {0x00, 0x11, 0x11, 0x11, 0x11, 0x00, 0x44, 0x44,
                           0x44, 0x44, 0x00, 0x33, 0x33, 0x33, 0x33};
  EXPECT_EQ(std::vector<uint8_t>(data + 99, data + 99 + 15),
            std::vector<uint8_t>(std::begin(slots), std::end(slots)));
  for (int i = 99 + 15; i < 4056; ++i) ASSERT_EQ(data[i], 0) << "data byte " << i;
}

TEST_F(DiskRecordManagerTest, The792ndRecordStartsASecondPage) {
  TVEXPageItemID id{};
  for (int32_t i = 0; i < 791; ++i) id = Add(i);
  const int32_t first = id.PageNo;
  EXPECT_EQ(id.PageItemNo, 790);
  id = Add(791);
  EXPECT_NE(id.PageNo, first);
  EXPECT_EQ(id.PageItemNo, 0);
  EXPECT_EQ(FRecords->RecordCount(), 792);
  FRecords->ValidateRecordPageIndex(0);
  TVEXPageItemID last{};
  FRecords->SetRecNo(0, 792, last);
  EXPECT_EQ(Key(last), Key(id));
  int64_t recNo = 0;
  FRecords->GetRecNo(0, last, recNo);
  EXPECT_EQ(recNo, 792);
}

TEST_F(DiskRecordManagerTest, ScanCarriesOnPastAPageRemovedUnderIt) {
  std::vector<TVEXPageItemID> ids;
  for (int32_t i = 0; i < 791 * 3; ++i) ids.push_back(Add(i));
  const TVEXPageItemID current = ids[791 + 5];  // on the middle page
  for (int32_t i = 791; i < 2 * 791; ++i) ASSERT_TRUE(FRecords->DeleteRecord(0, ids[i]));
  FManager->ApplyChanges(0);

  std::vector<uint8_t> buffer(FFields.FieldDefs().GetMemoryRecordBufferSize());
  for (TVEXGetRecordMode mode : {grmNext, grmPrior}) {
    TVEXNavigationInfo nav;
    nav.RecordBuffer = buffer.data();
    nav.RecordID = current;
    nav.GetRecordMode = mode;
    FRecords->GetRecordBuffer(0, nav);
    ASSERT_EQ(nav.GetRecordResult, grrOK);
    EXPECT_EQ(ValueOf(buffer), mode == grmNext ? 2 * 791 : 790);
  }
  TVEXNavigationInfo nav;
  nav.RecordID = current;
  nav.GetRecordMode = grmCurrent;
  FRecords->GetRecordBuffer(0, nav);
  EXPECT_EQ(nav.GetRecordResult, grrError);
}

// A step off an end stands on that end, so the opposite step reads the edge
// record again instead of the one beside it.
TEST_F(DiskRecordManagerTest, RunningOffAnEndStandsOnThatEnd) {
  for (int32_t i = 0; i < 3; ++i) Add(i);
  std::vector<uint8_t> buffer(FFields.FieldDefs().GetMemoryRecordBufferSize());
  TVEXNavigationInfo nav;
  nav.RecordBuffer = buffer.data();
  nav.FirstPosition = true;
  const auto step = [&](TVEXGetRecordMode mode) {
    nav.GetRecordMode = mode;
    FRecords->GetRecordBuffer(0, nav);
    return nav.GetRecordResult == grrOK ? ValueOf(buffer) : -1;
  };
  for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(step(grmNext), i);
  EXPECT_EQ(step(grmNext), -1);
  EXPECT_EQ(nav.GetRecordResult, grrEOF);
  EXPECT_TRUE(nav.LastPosition);
  EXPECT_FALSE(nav.FirstPosition);
  EXPECT_EQ(step(grmPrior), 2);
  EXPECT_EQ(step(grmPrior), 1);
  EXPECT_EQ(step(grmPrior), 0);
  EXPECT_EQ(step(grmPrior), -1);
  EXPECT_EQ(nav.GetRecordResult, grrBOF);
  EXPECT_TRUE(nav.FirstPosition);
  EXPECT_EQ(step(grmNext), 0);
}

TEST_F(DiskRecordManagerTest, RebuildLeavesOutOtherTablesPages) {
  for (int32_t i = 0; i < 800; ++i) Add(i);
  FManager->ApplyChanges(0);
  TVEXDiskRecordManager other(FManager.get(), &FFields, kTableID + 1);
  other.Init(FFields.FieldDefs().GetMemoryRecordBufferSize(),
             FFields.FieldDefs().GetDiskRecordBufferSize(), 1);
  other.CreateRecordPageIndex();
  FManager->ApplyChanges(-2);
  TVEXPageItemID id{};
  ASSERT_TRUE(other.AddRecord(0, Record(1).data(), id));
  FManager->ApplyChanges(0);

  FRecords->RebuildRecordPageIndex(0);
  EXPECT_EQ(FRecords->RecordCount(), 800);
  FRecords->ValidateRecordPageIndex(0);
  EXPECT_EQ(Scan(true).size(), 800u);
}

TEST_F(DiskRecordManagerTest, SeededModelAgainstAMap) {
  std::mt19937 rng(32);
  std::map<int64_t, int32_t> model;
  int32_t state = 0;
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    if (op < 6 || model.empty()) {
      const auto v = static_cast<int32_t>(rng());
      const TVEXPageItemID id = Add(v);
      ASSERT_TRUE(model.emplace(Key(id), v).second) << "slot handed out twice";
      ++state;
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      TVEXPageItemID id = IdOf(it->first);
      if (op < 8) {
        const auto v = static_cast<int32_t>(rng());
        ASSERT_TRUE(FRecords->UpdateRecord(0, Record(v).data(), id));
        it->second = v;
      } else {
        ASSERT_TRUE(FRecords->DeleteRecord(0, id));
        model.erase(it);
      }
      ++state;
    }
    ASSERT_EQ(FRecords->TableState(), state);
    ASSERT_EQ(FRecords->RecordCount(), static_cast<int64_t>(model.size()));
    if (step % 100 != 99) continue;
    FManager->ApplyChanges(0);
    FRecords->ValidateRecordPageIndex(0);
    FRecords->RecordPageIndex().CheckIntegrity(0);
    const std::vector<std::pair<int64_t, int32_t>> expected(model.begin(), model.end());
    ASSERT_EQ(Scan(true), expected);
    ASSERT_EQ(Scan(false), expected);
    int64_t recNo = 0;
    for (const auto& [key, value] : expected) {
      ++recNo;
      TVEXPageItemID id{};
      FRecords->SetRecNo(0, recNo, id);
      ASSERT_EQ(Key(id), key);
      int64_t back = 0;
      FRecords->GetRecNo(0, id, back);
      ASSERT_EQ(back, recNo);
    }
  }
}

TEST_F(DiskRecordManagerTest, MostUpdatedStateRoundTrips) {
  Add(1);
  Add(2);
  std::vector<uint8_t> buf(12, 0xEE);
  int32_t offset = 2;
  FRecords->SaveMostUpdated(buf, offset);
  EXPECT_EQ(offset, 10);
  EXPECT_EQ(testing::ValueAt<int32_t>(buf, 2), 2);
  EXPECT_EQ(testing::ValueAt<uint32_t>(buf, 6), 2u);
  TVEXDiskRecordManager loaded(FManager.get(), &FFields, kTableID);
  offset = 2;
  loaded.LoadMostUpdated(buf, offset);
  EXPECT_EQ(loaded.RecordCount(), 2);
  EXPECT_EQ(loaded.TableState(), 2);
  offset = 5;
  EXPECT_EQ(CodeOf([&] { loaded.LoadMostUpdated(buf, offset); }), 20164);
}

}  // namespace
}  // namespace vex
