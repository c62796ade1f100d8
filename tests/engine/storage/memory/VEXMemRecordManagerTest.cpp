// The in-memory record store and page store on their own: a seeded model test
// against a map (slot reuse, physical order both ways and record numbers after
// every step), record numbers across deleted slots, and the RAM page store.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "foundation/VEXMemory.h"
#include "foundation/VEXStream.h"
#include "storage/memory/VEXMemPageManager.h"
#include "storage/memory/VEXMemRecordManager.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testsupport::RaisesNativeError;

std::vector<uint8_t> Rec(int64_t value) {
  std::vector<uint8_t> r(8);
  std::memcpy(r.data(), &value, 8);
  return r;
}

int64_t ValueOf(const std::vector<uint8_t>& r) {
  int64_t v;
  std::memcpy(&v, r.data(), 8);
  return v;
}

// Every live record in physical order, walking with grmNext from before the
// first (or grmPrior from after the last): (slot, value).
std::vector<std::pair<int32_t, int64_t>> Walk(TVEXMemoryRecordManager& m, bool forward) {
  std::vector<std::pair<int32_t, int64_t>> out;
  std::vector<uint8_t> buf(8);
  TVEXNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.FirstPosition = forward;
  info.LastPosition = !forward;
  info.GetRecordMode = forward ? grmNext : grmPrior;
  for (;;) {
    m.GetRecordBuffer(0, info);
    if (info.GetRecordResult != grrOK) break;
    out.emplace_back(info.RecordID.PageNo, ValueOf(buf));
  }
  return out;
}

TEST(MemoryRecordManager, SeededModelKeepsSlotsOrderAndRecordNumbersOfAMap) {
  for (uint32_t seed : {1u, 29u, 4242u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    TVEXMemoryRecordManager m(8, 3);
    std::map<int32_t, int64_t> model;
    int64_t next = 0;
    int32_t state = m.TableState();
    auto randomLive = [&] {
      auto it = model.begin();
      std::advance(it, std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
      return it->first;
    };
    for (int step = 0; step < 1500; ++step) {
      SCOPED_TRACE(step);
      const int op = std::uniform_int_distribution<int>(0, 99)(rng);
      if (op < 50 || model.empty()) {
        const int32_t expected = model.empty() ? 0 : model.rbegin()->first + 1;
        TVEXPageItemID id{-1, 7};
        ASSERT_TRUE(m.AddRecord(0, Rec(++next).data(), id));
        EXPECT_EQ(id.PageNo, expected) << "a new record takes the slot after the last live one";
        model[id.PageNo] = next;
        EXPECT_EQ(m.TableState(), ++state);
      } else if (op < 65) {
        const int32_t slot = randomLive();
        ASSERT_TRUE(m.UpdateRecord(0, Rec(-next).data(), {slot, 0}));
        model[slot] = -next;
        EXPECT_EQ(m.TableState(), ++state);
      } else if (op < 92) {
        const int32_t slot = randomLive();
        TVEXPageItemID id{slot, 3};
        ASSERT_TRUE(m.DeleteRecord(0, id));
        model.erase(slot);
        EXPECT_EQ(m.TableState(), ++state);
        if (!model.empty() && slot > model.rbegin()->first) {
          EXPECT_EQ(id.PageNo, model.rbegin()->first);
        }
      } else {
        // A slot that holds nothing is refused and nothing changes.
        const int32_t slot =
            std::uniform_int_distribution<int32_t>(-2, m.AllocatedRecordCount() + 2)(rng);
        if (model.contains(slot)) continue;
        TVEXPageItemID id{slot, 0};
        EXPECT_FALSE(m.DeleteRecord(0, id));
        EXPECT_FALSE(m.UpdateRecord(0, Rec(0).data(), {slot, 0}));
        EXPECT_EQ(m.TableState(), state);
      }
      ASSERT_NO_THROW(m.CheckIntegrity());
      ASSERT_EQ(m.RecordCount(), static_cast<int64_t>(model.size()));
      const std::vector<std::pair<int32_t, int64_t>> expected(model.begin(), model.end());
      ASSERT_EQ(Walk(m, true), expected);
      ASSERT_EQ(Walk(m, false), std::vector(expected.rbegin(), expected.rend()));
      int64_t recNo = 0;
      for (const auto& [slot, value] : model) {
        ASSERT_EQ(m.RecNoToRecordID(recNo), slot);
        ASSERT_EQ(m.RecordIDToRecNo(slot), ++recNo);
      }
      ASSERT_EQ(m.RecNoToRecordID(recNo), -1) << "no record lies behind the last";
    }
  }
}

TEST(MemoryRecordManager, RecordNumbersSkipDeletedSlots) {
  TVEXMemoryRecordManager m(8, 4);
  TVEXPageItemID id;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(m.AddRecord(0, Rec(i).data(), id));
  EXPECT_TRUE(m.NoRecordsDeleted());
  EXPECT_EQ(m.RecordIDToRecNo(9), 10);
  id = {8, 0};
  ASSERT_TRUE(m.DeleteRecord(0, id));
  EXPECT_FALSE(m.NoRecordsDeleted());
  // Slots 0-7 live, 8 deleted, 9 live: record number 9 is slot 9.
  EXPECT_EQ(m.RecNoToRecordID(8), 9);
  EXPECT_EQ(m.RecordIDToRecNo(9), 9);
  EXPECT_EQ(m.RecordIDToRecNo(7), 8);
  for (int32_t slot : {0, 1}) {
    id = {slot, 0};
    ASSERT_TRUE(m.DeleteRecord(0, id));
  }
  EXPECT_EQ(m.FirstRecordID(), 2);
  EXPECT_EQ(m.RecNoToRecordID(0), 2) << "the first live slot is record number 1";
  // The guard stops at the record count: 7 records, numbers 1-7 only.
  EXPECT_EQ(m.RecordCount(), 7);
  EXPECT_EQ(m.RecNoToRecordID(6), 9);
  EXPECT_EQ(m.RecNoToRecordID(7), -1);
  EXPECT_EQ(m.RecordIDToRecNo(m.AllocatedRecordCount()), -1);
  // A deleted slot twice: refused, count unchanged.
  id = {8, 0};
  EXPECT_FALSE(m.DeleteRecord(0, id));
  EXPECT_EQ(m.RecordCount(), 7);
}

TEST(MemoryRecordManager, EmptiedByDeletesNumbersFromSlotZeroAgain) {
  TVEXMemoryRecordManager m(8, 2);
  TVEXPageItemID id;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(m.AddRecord(0, Rec(i).data(), id));
  for (int32_t slot = 0; slot < 5; ++slot) {
    id = {slot, 0};
    ASSERT_TRUE(m.DeleteRecord(0, id));
  }
  EXPECT_EQ(m.FirstRecordID(), 0);
  EXPECT_EQ(m.LastRecordID(), 0);
  ASSERT_TRUE(m.AddRecord(0, Rec(99).data(), id));
  EXPECT_EQ(id.PageNo, 0);
  EXPECT_EQ(m.RecordIDToRecNo(0), 1);
  EXPECT_NO_THROW(m.CheckIntegrity());
}

TEST(MemoryRecordManager, NavigationEdgesAndEstimates) {
  TVEXMemoryRecordManager m(8, 2);
  std::vector<uint8_t> buf(8);
  TVEXNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.GetRecordMode = grmNext;
  info.FirstPosition = true;
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrEOF) << "an empty store";
  TVEXPageItemID id;
  ASSERT_TRUE(m.AddRecord(0, Rec(5).data(), id));
  EXPECT_EQ(m.GetApproximateRecNo(0, {0, 0}), 1);
  EXPECT_EQ(m.GetApproximateRecNo(0, {1, 0}), -1);
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(m.AddRecord(0, Rec(i).data(), id));
  EXPECT_EQ(m.GetApproximateRecNo(0, {0, 0}), 1);
  EXPECT_EQ(m.GetApproximateRecNo(0, {9, 0}), 10);
  EXPECT_EQ(m.GetApproximateRecNo(0, {20, 0}), -1);
  info = {};
  info.RecordBuffer = buf.data();
  info.FirstPosition = true;
  info.GetRecordMode = grmPrior;
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrBOF);
  info.GetRecordMode = grmCurrent;
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrError);
  info = {};
  info.RecordBuffer = buf.data();
  info.RecordID = {3, 0};
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrOK);
  EXPECT_EQ(ValueOf(buf), 2);
  id = {3, 0};
  ASSERT_TRUE(m.DeleteRecord(0, id));
  m.GetRecordBuffer(0, info);
  EXPECT_EQ(info.GetRecordResult, grrError) << "a deleted record is gone";
  EXPECT_GT(m.CompareRecordID({4, 0}, {3, 9}), 0);
  EXPECT_LT(m.CompareRecordID({-1, 0}, {3, 0}), 0);
}

// A step off an end stands on that end, so the opposite step reads the edge
// record again instead of the one beside it.
TEST(MemoryRecordManager, RunningOffAnEndStandsOnThatEnd) {
  TVEXMemoryRecordManager m(8, 2);
  TVEXPageItemID id;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(m.AddRecord(0, Rec(i).data(), id));
  std::vector<uint8_t> buf(8);
  TVEXNavigationInfo info;
  info.RecordBuffer = buf.data();
  info.FirstPosition = true;
  const auto step = [&](TVEXGetRecordMode mode) {
    info.GetRecordMode = mode;
    m.GetRecordBuffer(0, info);
    return info.GetRecordResult == grrOK ? static_cast<int>(ValueOf(buf)) : -1;
  };
  for (int i = 0; i < 3; ++i) ASSERT_EQ(step(grmNext), i);
  EXPECT_EQ(step(grmNext), -1);
  EXPECT_EQ(info.GetRecordResult, grrEOF);
  EXPECT_TRUE(info.LastPosition);
  EXPECT_EQ(step(grmPrior), 2);
  EXPECT_EQ(step(grmPrior), 1);
  EXPECT_EQ(step(grmPrior), 0);
  EXPECT_EQ(step(grmPrior), -1);
  EXPECT_EQ(info.GetRecordResult, grrBOF);
  EXPECT_TRUE(info.FirstPosition);
  EXPECT_EQ(step(grmNext), 0);
}

TEST(MemoryRecordManager, RefusesARecordSizeOfZero) {
  EXPECT_THAT([] { TVEXMemoryRecordManager m(0, 10); }, RaisesNativeError(10011));
}

TEST(MemoryPageManager, RemovedPageComesBackWithItsNumberAndBlockCleared) {
  TVEXMemoryPageManager pm;
  TVEXLockGuard lock(pm.DatabaseLock());
  TVEXPage* a = pm.AddPage(0, 12);
  TVEXPage* b = pm.AddPage(0, 12);
  EXPECT_EQ(a->PageNo(), 0);
  EXPECT_EQ(b->PageNo(), 1);
  EXPECT_FALSE(a->OwnBuffer());
  EXPECT_EQ(a->PageBuffer(), pm.PageBlock(0)) << "pages are not copied: they borrow their block";
  a->PageData()[0] = 0x5A;
  pm.PutPage(a);
  pm.PutPage(b);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.PageCount(), 2);
  TVEXPage* read = pm.GetPage(0, 0, kAnyPageType, false);
  EXPECT_EQ(read->PageData()[0], 0x5A);
  pm.PutPage(read);
  uint8_t* block = pm.PageBlock(0);
  pm.RemovePage(0, 0);
  pm.ApplyChanges(0);
  EXPECT_FALSE(pm.IsPageAllocated(0));
  TVEXPage* again = pm.AddPage(0, 12);
  EXPECT_EQ(again->PageNo(), 0);
  EXPECT_EQ(again->PageBuffer(), block);
  EXPECT_EQ(again->PageData()[0], 0) << "a new page starts clean";
  pm.PutPage(again);
  pm.ApplyChanges(0);
  EXPECT_NO_THROW(pm.CheckIntegrity());
  pm.CheckInvariants();
}

TEST(MemoryPageManager, StreamFormRoundTripsAndDamagedStreamsAreRefused) {
  TVEXMemoryPageManager pm;
  {
    TVEXLockGuard lock(pm.DatabaseLock());
    for (int i = 0; i < 60; ++i) {
      TVEXPage* p = pm.AddPage(0, 12);
      p->PageData()[1] = static_cast<uint8_t>(i);
      pm.PutPage(p);
    }
    pm.RemovePage(0, 7);
    pm.ApplyChanges(0);
  }
  TVEXMemoryStream stream;
  pm.SaveToStream(stream);
  TVEXMemoryPageManager copy;
  stream.Seek(0, rtl::soFromBeginning);
  copy.LoadFromStream(stream);
  EXPECT_EQ(copy.PageCount(), 59);
  EXPECT_FALSE(copy.IsPageAllocated(7));
  EXPECT_EQ(copy.PageBlock(42)[1], 42);
  EXPECT_NO_THROW(copy.CheckIntegrity());

  // Cut short, and with a page count that contradicts the map.
  TVEXMemoryStream shortStream;
  shortStream.Write(stream.Buffer(), static_cast<int32_t>(stream.GetSize() - 100));
  shortStream.Seek(0, rtl::soFromBeginning);
  TVEXMemoryPageManager target;
  EXPECT_THAT([&] { target.LoadFromStream(shortStream); }, RaisesNativeError(10375));
  int32_t wrongCount = 1000;
  stream.Seek(16, rtl::soFromBeginning);
  stream.Write(&wrongCount, 4);
  stream.Seek(0, rtl::soFromBeginning);
  EXPECT_THAT([&] { target.LoadFromStream(stream); }, RaisesNativeError(10375));
  EXPECT_EQ(target.PageCount(), 0) << "a refused stream changes nothing";
}

TEST(MemoryPageManager, PagesNotAllocatedAreRefused) {
  TVEXMemoryPageManager pm;
  TVEXPage page(&pm);
  page.SetPageNo(3);
  EXPECT_THAT([&] { pm.InternalReadPage(&page); }, RaisesNativeError(10392));
  EXPECT_THAT([&] { pm.InternalWritePage(&page); }, RaisesNativeError(10393));
}

}  // namespace
}  // namespace vex
