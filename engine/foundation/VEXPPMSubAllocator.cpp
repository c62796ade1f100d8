#include "foundation/VEXPPMSubAllocator.h"

#include <cstdlib>
#include <cstring>

namespace vex {

const TVEXPPMSubAllocator::SizeTables& TVEXPPMSubAllocator::Tables() {
  static constexpr SizeTables tables = [] {
    SizeTables t{};
    // Four classes each stepping by 1, 2, 3 and then 4 units, up to 128.
    constexpr int steps[4] = {4, 4, 4, 26};
    int i = 0;
    unsigned k = 1;
    for (int step = 1; step <= 4; ++step) {
      for (int j = 0; j < steps[step - 1]; ++j, ++i, k += step) t.Indx2Units[i] = k;
      ++k;
    }
    i = 0;
    for (unsigned n = 0; n < 128; ++n) {
      if (t.Indx2Units[i] < n + 1) ++i;
      t.Units2Indx[n] = static_cast<uint8_t>(i);
    }
    return t;
  }();
  static_assert(tables.Indx2Units[N_INDEXES - 1] == 128);
  return tables;
}

namespace {

// The arena of the last model that ran on this thread, kept for the next one:
// its pages are mapped and touched already, so a call does not pay again for
// megabytes the kernel has to clear before the model may use them. Only
// arenas up to the size of the middle levels are kept, so a thread holds at
// most that much between calls; larger ones go back at once.
struct KeptArena {
  uint8_t* base = nullptr;
  size_t size = 0;
  KeptArena() = default;
  KeptArena(const KeptArena&) = delete;
  KeptArena& operator=(const KeptArena&) = delete;
  ~KeptArena() { std::free(base); }
};

constexpr size_t kLargestKeptArena = TVEXPPMSubAllocator::UNIT_SIZE + (size_t(25) << 20);

thread_local KeptArena tKeptArena;

uint8_t* TakeArena(size_t size) {
  KeptArena& kept = tKeptArena;
  if (kept.base != nullptr && kept.size == size) {
    uint8_t* base = kept.base;
    kept.base = nullptr;
    kept.size = 0;
    return base;
  }
  return static_cast<uint8_t*>(std::malloc(size));
}

void GiveBackArena(uint8_t* base, size_t size) {
  if (base == nullptr) return;
  if (size > kLargestKeptArena) {
    std::free(base);
    return;
  }
  KeptArena& kept = tKeptArena;
  std::free(kept.base);
  kept.base = base;
  kept.size = size;
}

}  // namespace

TVEXPPMSubAllocator::~TVEXPPMSubAllocator() { GiveBackArena(FBase, FSize); }

bool TVEXPPMSubAllocator::Reserve(uint32_t memMB) {
  GiveBackArena(FBase, FSize);
  FBase = nullptr;
  const size_t heapBytes = size_t(memMB) << 20;
  // One spare unit in front of the heap keeps offset 0 meaning "none".
  FSize = UNIT_SIZE + heapBytes;
  FBase = TakeArena(FSize);
  if (FBase == nullptr) return false;
  FHeapEnd = static_cast<uint32_t>(UNIT_SIZE + UNIT_SIZE * (heapBytes / UNIT_SIZE));
  return true;
}

void TVEXPPMSubAllocator::FillForTest(uint8_t value) { std::memset(FBase, value, FSize); }

void TVEXPPMSubAllocator::Init() {
  FFreeList.fill(0);
  FLastBreath = HeapStart();
  FLoUnit = HeapStart() + RESERVE_UNITS * UNIT_SIZE;
  FHiUnit = FHeapEnd;
}

uint32_t TVEXPPMSubAllocator::NextFree(uint32_t block) const {
  uint32_t next;
  std::memcpy(&next, FBase + block, 4);
  return next;
}

void TVEXPPMSubAllocator::Push(int i, uint32_t block) {
  std::memcpy(FBase + block, &FFreeList[i], 4);
  FFreeList[i] = block;
}

uint32_t TVEXPPMSubAllocator::Pop(int i) {
  const uint32_t block = FFreeList[i];
  FFreeList[i] = NextFree(block);
  return block;
}

void TVEXPPMSubAllocator::SplitBlock(uint32_t block, int oldIndx, int newIndx) {
  uint32_t diff = Indx2Units(oldIndx) - Indx2Units(newIndx);
  uint32_t p = block + I2B(newIndx);
  int i = Units2Indx(diff);
  if (Indx2Units(i) != diff) {
    --i;
    Push(i, p);
    p += I2B(i);
    diff -= Indx2Units(i);
  }
  Push(Units2Indx(diff), p);
}

uint32_t TVEXPPMSubAllocator::AllocContext() {
  if (FHiUnit != FLoUnit) return FHiUnit -= UNIT_SIZE;
  return AllocUnits(1);
}

uint32_t TVEXPPMSubAllocator::AllocUnits(uint32_t n) {
  const int i0 = Units2Indx(n);
  if (FFreeList[i0] != 0) return Pop(i0);
  if (FHiUnit - FLoUnit >= I2B(i0)) {
    const uint32_t result = FLoUnit;
    FLoUnit += I2B(i0);
    return result;
  }
  if (FLastBreath != 0) {
    // Increasing addresses, so the highest reserve block ends up at the head.
    for (uint32_t j = 0; j < 128; ++j) Push(N_INDEXES - 1, FLastBreath + j * 128 * UNIT_SIZE);
    FLastBreath = 0;
  }
  // The search deliberately starts one class up, even for the largest class.
  for (int i = i0 + 1; i < N_INDEXES; ++i) {
    if (FFreeList[i] != 0) {
      const uint32_t block = Pop(i);
      SplitBlock(block, i, i0);
      return block;
    }
  }
  return 0;
}

uint32_t TVEXPPMSubAllocator::ExpandUnits(uint32_t old, uint32_t oldN) {
  const int i0 = Units2Indx(oldN);
  const int i1 = Units2Indx(oldN + 1);
  if (i0 == i1) return old;
  const uint32_t block = AllocUnits(oldN + 1);
  if (block != 0) {
    std::memcpy(FBase + block, FBase + old, I2B(i0));
    Push(i0, old);
  }
  return block;
}

uint32_t TVEXPPMSubAllocator::ShrinkUnits(uint32_t old, uint32_t oldN, uint32_t newN) {
  const int i0 = Units2Indx(oldN);
  const int i1 = Units2Indx(newN);
  if (i0 == i1) return old;
  if (FFreeList[i1] != 0) {
    const uint32_t block = Pop(i1);
    std::memcpy(FBase + block, FBase + old, I2B(i1));
    Push(i0, old);
    return block;
  }
  SplitBlock(old, i0, i1);
  return old;
}

void TVEXPPMSubAllocator::FreeUnits(uint32_t p, uint32_t n) { Push(Units2Indx(n), p); }

}  // namespace vex
