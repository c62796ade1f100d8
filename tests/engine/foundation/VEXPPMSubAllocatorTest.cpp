#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/VEXPPMSubAllocator.h"

using vex::TVEXPPMSubAllocator;

namespace {

constexpr uint32_t U = TVEXPPMSubAllocator::UNIT_SIZE;

class PpmSubAllocator : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FAlloc.Reserve(1));
    FAlloc.Init();
  }
  uint32_t ReserveStart() const { return FAlloc.HeapStart(); }
  // Takes the whole gap between the carved blocks and the contexts.
  void ExhaustGap() {
    while (FAlloc.HiUnit() != FAlloc.LoUnit()) ASSERT_NE(FAlloc.AllocContext(), 0u);
  }
  std::vector<uint32_t> FreeList(int i) const {
    std::vector<uint32_t> blocks;
    for (uint32_t b = FAlloc.FreeListHead(i); b != 0; b = FAlloc.NextFree(b)) blocks.push_back(b);
    return blocks;
  }

  TVEXPPMSubAllocator FAlloc;
};

}  // namespace

TEST(PpmSubAllocatorTables, SizeClassesAndTheirLookup) {
  const uint32_t expected[38] = {1,  2,  3,  4,  6,   8,   10,  12,  15,  18,  21,  24, 28,
                                 32, 36, 40, 44, 48,  52,  56,  60,  64,  68,  72,  76, 80,
                                 84, 88, 92, 96, 100, 104, 108, 112, 116, 120, 124, 128};
  for (int i = 0; i < 38; ++i) EXPECT_EQ(TVEXPPMSubAllocator::Indx2Units(i), expected[i]) << i;
  // Each size maps to the smallest class that holds it.
  for (uint32_t n = 1; n <= 128; ++n) {
    const int i = TVEXPPMSubAllocator::Units2Indx(n);
    EXPECT_GE(TVEXPPMSubAllocator::Indx2Units(i), n);
    if (i > 0) {
      EXPECT_LT(TVEXPPMSubAllocator::Indx2Units(i - 1), n);
    }
  }
}

TEST_F(PpmSubAllocator, CarvesBlocksUpwardAboveTheReserveAndContextsDownward) {
  const uint32_t heapEnd = FAlloc.HiUnit();
  EXPECT_EQ(heapEnd, U + U * ((1u << 20) / U));
  const uint32_t first = FAlloc.AllocUnits(5);
  EXPECT_EQ(first, ReserveStart() + TVEXPPMSubAllocator::RESERVE_UNITS * U);
  EXPECT_EQ(FAlloc.LoUnit(), first + 6 * U);  // five units take a class of six
  EXPECT_EQ(FAlloc.AllocContext(), heapEnd - U);
  EXPECT_EQ(FAlloc.AllocContext(), heapEnd - 2 * U);
}

TEST_F(PpmSubAllocator, FreeListsAreLastInFirstOut) {
  const uint32_t a = FAlloc.AllocUnits(3);
  const uint32_t b = FAlloc.AllocUnits(3);
  const uint32_t lo = FAlloc.LoUnit();
  FAlloc.FreeUnits(a, 3);
  FAlloc.FreeUnits(b, 3);
  EXPECT_EQ(FAlloc.AllocUnits(3), b);
  EXPECT_EQ(FAlloc.AllocUnits(3), a);
  EXPECT_EQ(FAlloc.LoUnit(), lo);
}

TEST_F(PpmSubAllocator, ReleasesTheReserveOnceAndSplitsItsHighestBlock) {
  ExhaustGap();
  // The first failing carve hands the reserve to the largest class, lowest
  // block first, and serves the request from the head: the highest block.
  const uint32_t top = ReserveStart() + 127 * 128 * U;
  EXPECT_EQ(FAlloc.AllocContext(), top);
  const auto largest = FreeList(37);
  ASSERT_EQ(largest.size(), 127u);
  EXPECT_EQ(largest.front(), top - 128 * U);
  EXPECT_EQ(largest.back(), ReserveStart());
  // The other 127 units become one block of 124 and one of 3.
  EXPECT_EQ(FreeList(36), std::vector<uint32_t>{top + U});
  EXPECT_EQ(FreeList(2), std::vector<uint32_t>{top + 125 * U});
}

TEST_F(PpmSubAllocator, LargestClassFailsRightAfterTheReleaseOnly) {
  ExhaustGap();
  EXPECT_EQ(FAlloc.AllocUnits(128), 0u);
  EXPECT_EQ(FAlloc.AllocUnits(128), ReserveStart() + 127 * 128 * U);
  EXPECT_EQ(FreeList(37).size(), 127u);
}

TEST_F(PpmSubAllocator, FailsWhenNothingIsLeft) {
  ExhaustGap();
  for (int i = 0; i < 128; ++i) ASSERT_NE(FAlloc.AllocUnits(100), 0u) << i;
  EXPECT_EQ(FAlloc.AllocUnits(100), 0u);
  EXPECT_EQ(FAlloc.AllocUnits(128), 0u);
  EXPECT_NE(FAlloc.AllocUnits(28), 0u);  // the 28-unit leftovers of the splits
}

TEST_F(PpmSubAllocator, ExpandMovesTheWholeOldClassAndFreesItAfterwards) {
  const uint32_t old = FAlloc.AllocUnits(2);
  for (uint32_t i = 0; i < 2 * U; ++i) FAlloc.Base()[old + i] = uint8_t(i + 1);
  const uint32_t five = FAlloc.AllocUnits(5);
  EXPECT_EQ(FAlloc.ExpandUnits(five, 5), five) << "its class of 6 has room for one more";
  const uint32_t lo = FAlloc.LoUnit();
  const uint32_t grown = FAlloc.ExpandUnits(old, 2);
  EXPECT_EQ(grown, lo);
  for (uint32_t i = 0; i < 2 * U; ++i) ASSERT_EQ(FAlloc.Base()[grown + i], uint8_t(i + 1));
  EXPECT_EQ(FreeList(1), std::vector<uint32_t>{old});
}

TEST_F(PpmSubAllocator, ShrinkPrefersAFreeBlockOverASplit) {
  const uint32_t spare = FAlloc.AllocUnits(2);
  const uint32_t big = FAlloc.AllocUnits(8);
  std::memset(FAlloc.Base() + big, 0x5A, 2 * U);
  FAlloc.FreeUnits(spare, 2);
  EXPECT_EQ(FAlloc.ShrinkUnits(big, 8, 2), spare);
  EXPECT_EQ(FAlloc.Base()[spare + 2 * U - 1], 0x5A);
  EXPECT_EQ(FreeList(5), std::vector<uint32_t>{big});

  // With no free block of the new class, the tail is split off in place.
  const uint32_t other = FAlloc.AllocUnits(8);
  EXPECT_EQ(FAlloc.ShrinkUnits(other, 8, 2), other);
  EXPECT_EQ(FreeList(4), std::vector<uint32_t>{other + 2 * U});
}
