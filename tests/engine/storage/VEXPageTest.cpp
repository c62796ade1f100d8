// Page buffers, the page controller and the sorted page list.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakePageStore.h"
#include "foundation/VEXExcept.h"
#include "storage/VEXPage.h"

namespace vex {
namespace {

using testing::ExpectVEXError;
using testing::FakePageStore;

TEST(VEXPage, NewBufferIsZeroedWithTheDefaultHeaderOnlyWhenPagesHaveOne) {
  FakePageStore disk(64, 40);
  TVEXPage page(&disk);
  EXPECT_EQ(page.PageNo(), -1);
  page.AllocPageBuffer();
  const uint8_t expectedHeader[40] = {
      'V',  'E',  'X',  'P',              // Signature
      0,    0,    0,    0,                // State
      0,    0,                            // PageType
      0xFF, 0xFF, 0xFF, 0xFF,             // NextPageNo -1
      0,    0,    0,    0,                // CRC32
      0,    0,    0,    0,                // CRCType, HashType, Cipherype, MACType
      0xFF, 0xFF, 0xFF, 0xFF,             // ObjectID -1
      0xFF, 0xFF, 0xFF, 0xFF, 0, 0,       // RecordID (-1, 0)
      0,    0,    0,    0,    0, 0, 0, 0  // Reserved
  };
  EXPECT_EQ(std::memcmp(page.PageBuffer(), expectedHeader, sizeof(expectedHeader)), 0);
  EXPECT_EQ(page.PageData(), page.PageBuffer() + 40);
  EXPECT_EQ(page.PageDataSize(), 24);
  EXPECT_EQ(std::vector<uint8_t>(page.PageData(), page.PageData() + 24),
            std::vector<uint8_t>(24, 0));

  // InitHeader rewrites the fields and leaves the reserved bytes alone.
  page.PageHeader()->State = 77;
  page.PageHeader()->PageType = 12;
  page.PageBuffer()[35] = 0x5A;
  page.InitHeader();
  EXPECT_EQ(int32_t{page.PageHeader()->State}, 0);
  EXPECT_EQ(int32_t{page.PageHeader()->PageType}, 0);
  EXPECT_EQ(page.PageBuffer()[35], 0x5A);

  FakePageStore memory(4096, 0);
  TVEXPage memoryPage(&memory);
  memoryPage.AllocPageBuffer();
  EXPECT_EQ(std::vector<uint8_t>(memoryPage.PageBuffer(), memoryPage.PageBuffer() + 4096),
            std::vector<uint8_t>(4096, 0));
  EXPECT_EQ(memoryPage.PageData(), memoryPage.PageBuffer());
}

TEST(VEXPage, EnlargePageBufferKeepsTheImageAndCopiesABorrowedBuffer) {
  FakePageStore store(64, 40);
  TVEXPage page(&store);
  TVEXPageController controller(&page);
  ExpectVEXError(20038, [&] { controller.EnlargePageBuffer(128); });
  page.AllocPageBuffer();
  ExpectVEXError(20039, [&] { controller.EnlargePageBuffer(63); });

  // An owned buffer grows in place, keeping its bytes.
  std::memset(page.PageData(), 0x11, 24);
  controller.EnlargePageBuffer(200);
  EXPECT_TRUE(page.OwnBuffer());
  EXPECT_EQ(int32_t{page.PageHeader()->NextPageNo}, -1);
  EXPECT_EQ(page.PageData()[23], 0x11);
  EXPECT_EQ(controller.PageDataSize(), 24);  // the geometry does not follow the buffer

  // A borrowed buffer (an engine's own block) is copied and never written.
  std::vector<uint8_t> block(64, 0xAB);
  TVEXPage borrower(&store);
  borrower.SetPageBuffer(block.data());
  borrower.SetOwnBuffer(false);
  borrower.EnlargePageBuffer(100);
  EXPECT_TRUE(borrower.OwnBuffer());
  EXPECT_NE(borrower.PageBuffer(), block.data());
  EXPECT_EQ(borrower.PageBuffer()[63], 0xAB);
  borrower.PageBuffer()[0] = 0;
  EXPECT_EQ(block, std::vector<uint8_t>(64, 0xAB));

  // Letting a borrowed buffer go does not free it: the memory manager would
  // otherwise be handed a block it never gave out.
  TVEXPage viewer(&store);
  viewer.SetPageBuffer(block.data());
  viewer.SetOwnBuffer(false);
  viewer.FreeAndNilPageBuffer();
  EXPECT_EQ(viewer.PageBuffer(), nullptr);
  EXPECT_EQ(block[0], 0xAB);
}

TEST(VEXPage, TableStatesAreKeptPerSessionFromTheSystemSessionUp) {
  FakePageStore store;
  TVEXPage page(&store);
  int32_t state = 99;
  EXPECT_FALSE(page.GetTableState(5, state));
  EXPECT_EQ(state, 99);  // untouched

  page.SetTableState(5, 1234);
  EXPECT_TRUE(page.GetTableState(5, state));
  EXPECT_EQ(state, 1234);
  EXPECT_FALSE(page.GetTableState(3, state));  // a place below, never assigned
  EXPECT_FALSE(page.GetTableState(-2, state));

  page.SetTableState(-2, 7);
  EXPECT_TRUE(page.GetTableState(-2, state));
  EXPECT_EQ(state, 7);
  EXPECT_TRUE(page.GetTableState(5, state));
  EXPECT_EQ(state, 1234);
}

// A cached page is read again only when the store's State word shows that
// another connection wrote it.
TEST(VEXPage, SynchronizeRereadsOnlyAPageWrittenElsewhere) {
  struct Case {
    const char* name;
    bool shared;
    int32_t storedState;  // kRemovedPageState: removed, or the read failed
    bool reread;
  };
  const Case cases[] = {
      {"same State", true, 40, false},
      {"State written elsewhere", true, 41, true},
      {"removed or unreadable", true, kRemovedPageState, false},
      {"store not shared", false, 41, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePageStore store;
    store.Shared = c.shared;
    TVEXPage page(&store);
    page.SetPageNo(3);
    page.AllocPageBuffer();
    page.PageHeader()->State = 40;
    page.PageData()[0] = 1;
    std::vector<uint8_t> image(page.PageBuffer(), page.PageBuffer() + 64);
    std::memcpy(image.data() + 4, &c.storedState, 4);
    image[40] = 2;
    store.Images[3] = image;

    EXPECT_TRUE(page.Synchronize());
    EXPECT_EQ(store.Reads, c.reread ? 1 : 0);
    EXPECT_EQ(page.PageData()[0], c.reread ? 2 : 1);
    // The cached State never takes the removed mark, so a later write of the
    // page still advances a valid State.
    EXPECT_EQ(int32_t{page.PageHeader()->State}, c.reread ? 41 : 40);
  }

  FakePageStore store;
  store.Shared = true;
  TVEXPage page(&store);
  page.SetPageNo(4);
  page.AllocPageBuffer();
  store.Images[4] = std::vector<uint8_t>(64, 0);  // State 0, cached State 0 ...
  page.PageHeader()->State = 1;                   // ... differs
  store.FailReads.insert(4);
  EXPECT_FALSE(page.Synchronize());  // a failed re-read is reported
}

TEST(VEXSortedPageList, KeepsPagesInPageNumberOrderAndReportsMissingNumbers) {
  FakePageStore store;
  std::vector<std::unique_ptr<TVEXPage>> pages;
  const auto make = [&](int32_t no) {
    pages.push_back(std::make_unique<TVEXPage>(&store));
    pages.back()->SetPageNo(no);
    return pages.back().get();
  };
  TVEXSortedPageList list;
  EXPECT_EQ(list.FirstByLRU(), nullptr);
  EXPECT_EQ(list.NextByLRU(), nullptr);
  EXPECT_EQ(ExpectVEXError(20165, [&] { list.Delete(1); }),
            "TSortedPageList.Delete - no elements in array! - Native error: 20165");

  TVEXPage* p5 = make(5);
  TVEXPage* p3 = make(3);
  TVEXPage* p9 = make(9);
  for (TVEXPage* p : {p5, p3, p9}) list.Insert(p);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Page(0), p3);
  EXPECT_EQ(list.Page(1), p5);
  EXPECT_EQ(list.Page(2), p9);
  EXPECT_EQ(list.Find(5), p5);
  EXPECT_EQ(list.Find(4), nullptr);
  EXPECT_EQ(list.Find(10), nullptr);
  EXPECT_EQ(list.Find(0), nullptr);

  list.Delete(5);
  EXPECT_EQ(list.Find(5), nullptr);
  EXPECT_EQ(list.Page(1), p9);
  EXPECT_EQ(ExpectVEXError(20166, [&] { list.Delete(7); }),
            "TSortedPageList.Delete - element not found, key = 7, itemCount = 2 - Native error: "
            "20166");
  ExpectVEXError(20167, [&] { list.UpdateLRU(p5); });
  EXPECT_EQ(list.Count(), 2);  // failures change nothing
  EXPECT_EQ(list.Find(3), p3);
}

TEST(VEXSortedPageList, LRUWalkGoesFromLeastToMostRecentlyUsed) {
  FakePageStore store;
  std::vector<std::unique_ptr<TVEXPage>> pages;
  TVEXSortedPageList list;
  for (int32_t no : {40, 10, 30, 20}) {
    pages.push_back(std::make_unique<TVEXPage>(&store));
    pages.back()->SetPageNo(no);
    list.Insert(pages.back().get());
  }
  const auto walk = [&] {
    std::vector<int32_t> order;
    for (TVEXPage* p = list.FirstByLRU(); p != nullptr; p = list.NextByLRU()) {
      order.push_back(p->PageNo());
    }
    return order;
  };
  EXPECT_EQ(walk(), (std::vector<int32_t>{40, 10, 30, 20}));  // order of insertion
  list.UpdateLRU(list.Find(40));
  list.UpdateLRU(list.Find(30));
  EXPECT_EQ(walk(), (std::vector<int32_t>{10, 20, 40, 30}));

  // Deleting the pages visited so far does not disturb the walk.
  std::vector<int32_t> order;
  for (TVEXPage* p = list.FirstByLRU(); p != nullptr; p = list.NextByLRU()) {
    order.push_back(p->PageNo());
    list.Delete(p->PageNo());
  }
  EXPECT_EQ(order, (std::vector<int32_t>{10, 20, 40, 30}));
  EXPECT_EQ(list.Count(), 0);
}

TEST(VEXSortedPageList, StorageGrowsInDoublingStepsAndIsReusedAfterClear) {
  TVEXSortedPageList list;
  EXPECT_EQ(list.AllocatedCount(), 0);
  // From a step of 1000 doubling up to 10000: 2000, then 4000, 8000 and
  // 10000 more.
  const int32_t expected[] = {2000, 6000, 14000, 24000, 34000};
  int32_t size = 0;
  for (int32_t allocated : expected) {
    size = list.AllocatedCount() + 1;
    list.SetSize(size);
    EXPECT_EQ(list.AllocatedCount(), allocated) << "growing to " << size;
  }
  list.SetSize(size + 20000);  // a jump past the step takes exactly what is asked
  EXPECT_EQ(list.AllocatedCount(), size + 20000);

  FakePageStore store;
  TVEXPage page(&store);
  page.SetPageNo(1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  const int32_t allocated = list.AllocatedCount();
  list.Insert(&page);
  EXPECT_EQ(list.AllocatedCount(), allocated);
  EXPECT_EQ(list.Find(1), &page);

  list.SetSize(0);
  EXPECT_EQ(list.AllocatedCount(), 0);
}

}  // namespace
}  // namespace vex
