#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <random>
#include <string>

#include "engine/storage/FakePageStore.h"
#include "storage/btree/VEXBTreePageIndex.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::FakePageStore;
using testsupport::CodeOf;

constexpr int32_t kSession = 1;

TEST(RecordPageIndex, OffersAPageUntilItIsFullAndForgetsItWhenEmpty) {
  FakePageStore pages(4096);
  TVEXBTreeRecordPageIndex index(&pages);
  index.CreateIndex(kSession);
  index.SetMaxRecordsOnPage(3);
  int32_t pageNo = -1;
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, pageNo));
  index.AddRecord(kSession, 7, 1);
  ASSERT_TRUE(index.FindPageForNewRecord(kSession, pageNo));
  EXPECT_EQ(pageNo, 7);
  index.AddRecord(kSession, 7, 1);
  index.AddRecord(kSession, 7, 1);
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, pageNo));
  EXPECT_EQ(CodeOf([&] { index.AddRecord(kSession, 7, 1); }), 20106);

  index.AddRecord(kSession, 12, 2);
  index.AddRecord(kSession, 20, 1);
  index.DeleteRecord(kSession, 12, 0);
  int32_t next = -1;
  ASSERT_TRUE(index.GetNextRecordPage(kSession, 7, next));
  EXPECT_EQ(next, 20) << "an emptied page leaves the index";
  EXPECT_EQ(CodeOf([&] { index.GetNextRecordPage(kSession, 12, next); }), 20104);
  EXPECT_EQ(CodeOf([&] { index.GetPriorRecordPage(kSession, 12, next); }), 20105);
  EXPECT_FALSE(index.GetNextRecordPage(kSession, 20, next));
  int32_t prior = -1;
  ASSERT_TRUE(index.GetPriorRecordPage(kSession, 20, prior));
  EXPECT_EQ(prior, 7);
  index.DeleteRecord(kSession, 7, -1);
  int32_t first = -1;
  ASSERT_TRUE(index.GetFirstRecordPage(kSession, first));
  EXPECT_EQ(first, 7);
  EXPECT_EQ(CodeOf([&] { index.DeleteRecord(kSession, 99, -1); }), 20111);
  index.CheckIntegrity(kSession);
}

TEST(RecordPageIndex, MapsRecordNumbersToPagesAndBack) {
  FakePageStore pages(4096);
  TVEXBTreeRecordPageIndex index(&pages);
  index.CreateIndex(kSession);
  index.SetMaxRecordsOnPage(10);
  index.AddRecord(kSession, 9, 2);
  index.AddRecord(kSession, 5, 3);
  int32_t pageNo = -1;
  int32_t onPage = -1;
  index.GetRecordByRecNo(kSession, 3, pageNo, onPage);
  EXPECT_EQ(pageNo, 9);
  EXPECT_EQ(onPage, 0);
  index.GetRecordByRecNo(kSession, 0, pageNo, onPage);
  EXPECT_EQ(pageNo, 5);
  EXPECT_EQ(CodeOf([&] { index.GetRecordByRecNo(kSession, 5, pageNo, onPage); }), 20113);
  int64_t recNo = -1;
  index.GetRecNoByRecord(kSession, 9, 1, recNo);
  EXPECT_EQ(recNo, 4);
  EXPECT_EQ(CodeOf([&] { index.GetRecNoByRecord(kSession, 6, 0, recNo); }), 20114);
  index.Validate(kSession, 5);
  std::string message;
  EXPECT_EQ(CodeOf([&] { index.Validate(kSession, 6); }, &message), 20292);
  EXPECT_NE(message.find("RecordPageIndex.RecordCount=5, MostUpdated.RecordCount=6"),
            std::string::npos)
      << message;
}

TEST(RecordPageIndex, LooksForRoomOnlyInTheFirstAndLastLeaves) {
  FakePageStore pages(40 + 18 + 6 * 4);  // four entries a leaf
  TVEXBTreeRecordPageIndex index(&pages);
  index.CreateIndex(kSession);
  index.SetMaxRecordsOnPage(2);
  for (int32_t p = 100; p < 140; ++p) index.AddRecord(kSession, p, 2);
  index.CheckIntegrity(kSession);
  int32_t pageNo = -1;
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, pageNo));
  index.DeleteRecord(kSession, 120, 1);  // a middle leaf
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, pageNo));
  index.DeleteRecord(kSession, 100, 1);  // the first leaf
  ASSERT_TRUE(index.FindPageForNewRecord(kSession, pageNo));
  EXPECT_EQ(pageNo, 100);
  index.DeleteRecord(kSession, 139, 1);  // the last leaf is searched first
  ASSERT_TRUE(index.FindPageForNewRecord(kSession, pageNo));
  EXPECT_EQ(pageNo, 139);
}

TEST(RecordPageIndex, CountsFollowAMapThroughRandomChanges) {
  FakePageStore pages(40 + 18 + 6 * 4);
  TVEXBTreeRecordPageIndex index(&pages);
  index.CreateIndex(kSession);
  index.SetMaxRecordsOnPage(60000);
  std::map<int32_t, int32_t> model;
  std::mt19937 random(21);
  for (int32_t step = 0; step < 1500; ++step) {
    const int32_t page = static_cast<int32_t>(random() % 200);
    const auto it = model.find(page);
    if (it == model.end() || random() % 2 == 0) {
      const int32_t add = 1 + static_cast<int32_t>(random() % 5);
      index.AddRecord(kSession, page, add);
      model[page] += add;
    } else {
      index.DeleteRecord(kSession, page, -1);
      if (--it->second == 0) model.erase(it);
    }
    ASSERT_NO_THROW(index.CheckIntegrity(kSession)) << "step " << step;
  }
  int64_t total = 0;
  for (const auto& [page, count] : model) total += count;
  index.Validate(kSession, total);
  int32_t pageNo = -1;
  ASSERT_TRUE(index.GetFirstRecordPage(kSession, pageNo));
  for (auto it = model.begin(); it != model.end(); ++it) {
    EXPECT_EQ(pageNo, it->first);
    int32_t next = -1;
    if (std::next(it) != model.end()) {
      ASSERT_TRUE(index.GetNextRecordPage(kSession, pageNo, next));
      pageNo = next;
    } else {
      EXPECT_FALSE(index.GetNextRecordPage(kSession, pageNo, next));
    }
  }
  index.EmptyIndex(kSession);
  EXPECT_FALSE(index.GetFirstRecordPage(kSession, pageNo));
  index.DropIndex(kSession);
  EXPECT_EQ(index.RootPageNo(), -1);
  EXPECT_EQ(CodeOf([&] { index.GetFirstRecordPage(kSession, pageNo); }), 20115);
  EXPECT_EQ(CodeOf([&] { index.AddRecord(kSession, 1, 1); }), 20118);
  pages.ApplyChanges(kSession);
  EXPECT_TRUE(pages.Allocated.empty());
}

TEST(BlobPageIndex, TracksAllocatedBytesAndOffersOnlyPagesWithRoom) {
  FakePageStore pages(4096);
  TVEXBTreeBlobPageIndex index(&pages);
  index.CreateIndex(kSession);
  index.AddBlob(kSession, 100, 30);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(kSession, 30), 100);
  index.DeleteBlob(kSession, 100, 30);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(kSession, 30), -1);

  const int32_t limit = pages.PageDataSize() - 2;
  index.AddBlob(kSession, 1000, 31);
  int32_t pageNo = -1;
  ASSERT_TRUE(index.FindPageForNewBlob(kSession, limit - 1000 - 1, pageNo));
  EXPECT_EQ(pageNo, 31);
  EXPECT_FALSE(index.FindPageForNewBlob(kSession, limit - 1000, pageNo))
      << "reaching PageDataSize - 2 is not room";
  EXPECT_EQ(CodeOf([&] { index.AddBlob(kSession, limit - 1000, 31); }), 20106);
  EXPECT_EQ(CodeOf([&] { index.DeleteBlob(kSession, 1, 32); }), 20111);
}

}  // namespace
}  // namespace vex
