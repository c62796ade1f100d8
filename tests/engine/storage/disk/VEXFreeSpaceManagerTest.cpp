#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "DiskDatabaseFixture.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex::testing {
namespace {

using testsupport::CodeOf;

class FreeSpaceTest : public DiskDatabaseTest {
 protected:
  void CreateDatabase(uint16_t pageSize, uint16_t extentPages) {
    FManager = Create("db.vex", {}, pageSize, extentPages);
    FSpace = FManager->FreeSpaceManager();
  }

  int32_t Allocate() {
    const int32_t pageNo = FSpace->GetPage(-1);
    EXPECT_FALSE(FSpace->IsSystemPage(pageNo)) << pageNo;
    EXPECT_TRUE(FUsed.insert(pageNo).second) << "handed out twice: " << pageNo;
    return pageNo;
  }

  void Free(int32_t pageNo) {
    FSpace->FreePage(pageNo);
    FUsed.erase(pageNo);
  }

  int32_t Total() const { return FManager->DBHeader()->TotalPageCount; }
  int32_t LastUsed() const { return FManager->DBHeader()->LastUsedPageNo; }

  void CheckIntegrity() { CheckFreeSpaceMaps(*FManager, FUsed); }

  std::vector<uint8_t> MapPage(int64_t pageNo, uint16_t type) {
    return testing::MapPage(*FManager, pageNo, type);
  }

  std::unique_ptr<TVEXDiskPageManager> FManager;
  TVEXDatabaseFreeSpaceManager* FSpace = nullptr;
  std::set<int32_t> FUsed;
};

TEST_F(FreeSpaceTest, TheFileGrowsByItsStepWhenNoPageIsFree) {
  CreateDatabase(4096, 8);
  EXPECT_EQ(Allocate(), 2);
  EXPECT_EQ(Total(), 6);
  for (int32_t expected : {3, 4, 5}) EXPECT_EQ(Allocate(), expected);
  EXPECT_EQ(Total(), 6);
  // 6 div 10 is 0, so the step is one extent.
  EXPECT_EQ(Allocate(), 6);
  EXPECT_EQ(Total(), 14);
  CheckIntegrity();
}

TEST_F(FreeSpaceTest, TheFileIsCutByWholeStepsOnceItsUnusedTailReachesAStep) {
  struct Case {
    const char* what;
    int32_t lastAllocated;
    int32_t keepUpTo;  // pages above it are freed, the highest last
    int32_t totalAfter;
  };
  for (const Case& c : {Case{"20 unused pages, step 8: 16 cut", 29, 9, 14},
                        Case{"7 unused pages: nothing cut", 23, 22, 30}}) {
    SCOPED_TRACE(c.what);
    FUsed.clear();
    CreateDatabase(4096, 8);
    while (Allocate() < c.lastAllocated) {
    }
    ASSERT_EQ(Total(), 30);
    for (int32_t pageNo = c.keepUpTo + 1; pageNo <= c.lastAllocated; ++pageNo) Free(pageNo);
    EXPECT_EQ(Total(), c.totalAfter);
    EXPECT_EQ(LastUsed(), c.keepUpTo);
    CheckIntegrity();
    FManager.reset();
  }
}

TEST_F(FreeSpaceTest, FreeingAFreePageOrAMapPageIsRefused) {
  CreateDatabase(4096, 8);
  const int32_t pageNo = Allocate();
  Allocate();
  Free(pageNo);
  EXPECT_EQ(CodeOf([&] { FSpace->FreePage(pageNo); }), 30427);
  EXPECT_EQ(CodeOf([&] { FSpace->FreePage(1); }), 30434);
  EXPECT_EQ(CodeOf([&] { FSpace->FreePage(40); }), 30430);
  // Its PFS page lies beyond the last used page: free without a read.
  EXPECT_FALSE(FSpace->GetPageUsageFromPFS(100000));
  CheckIntegrity();
}

// Page size 512 and 2 pages per extent put a PFS page and an EAM page at every
// 3776 pages (the EAM page right after the PFS page).
TEST_F(FreeSpaceTest, ShrinkingNeverEndsTheFileBetweenAPFSPageAndItsEAMPage) {
  CreateDatabase(512, 2);
  ASSERT_EQ(FSpace->PFSPagesAddressed(), 3776);
  ASSERT_EQ(FSpace->EAMPagesAddressed(), 3776);
  int32_t last = 0;
  while (Total() < 10488) last = Allocate();
  ASSERT_EQ(Total(), 10488);
  for (int64_t pageNo : {3776, 7552}) {
    SCOPED_TRACE(pageNo);
    MapPage(pageNo, ptPFS);
    MapPage(pageNo + 1, ptEAM);
  }
  CheckIntegrity();

  // Free all above 8391, then all above 7000, each run ascending, so the
  // file is cut once per run: 10488 - 2 x 1048, then 8392 - 839 would end on
  // the PFS page 7552 and cut its EAM page off.
  for (int32_t pageNo = 8392; pageNo <= last; ++pageNo) Free(pageNo);
  ASSERT_EQ(Total(), 8392);
  for (int32_t pageNo = 7001; pageNo <= 8391; ++pageNo) {
    if (!FSpace->IsSystemPage(pageNo)) Free(pageNo);
  }
  EXPECT_EQ(Total(), 7554);
  CheckIntegrity();
  EXPECT_EQ(Allocate(), 7001);
  CheckIntegrity();
}

TEST_F(FreeSpaceTest, RandomAllocationsAndReleasesKeepTheMapsInStepWithAModel) {
  for (uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    FUsed.clear();
    CreateDatabase(512, 2);
    std::mt19937 random(seed);
    // Mostly allocations first, so the file grows past a PFS and EAM page
    // pair, then mostly releases, so it shrinks back over them.
    for (int step = 0; step < 10000; ++step) {
      const bool growing = step < 6000;
      const bool allocate =
          FUsed.empty() || std::uniform_int_distribution<int>(0, 99)(random) < (growing ? 85 : 20);
      if (allocate) {
        Allocate();
      } else {
        auto it = FUsed.begin();
        std::advance(it, std::uniform_int_distribution<size_t>(0, FUsed.size() - 1)(random));
        const int32_t cutStep = FSpace->DelPagesStep();
        Free(*it);
        // Cut by whole steps; one page more stays when the cut would end on
        // a PFS page whose EAM page follows it.
        ASSERT_LE(Total() - LastUsed() - 1, cutStep);
      }
      CheckIntegrity();
      if (HasFatalFailure()) return;
    }
    FManager.reset();
  }
}

}  // namespace
}  // namespace vex::testing
