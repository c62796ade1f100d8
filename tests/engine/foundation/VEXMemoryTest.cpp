#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "os/MemoryStatus.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testsupport::Raised;

void DamageBeginMark(void* block) { static_cast<unsigned char*>(block)[-1] ^= 0xFF; }

TEST(VEXMemoryManagerTest, CountsLiveUserBytesAndReportsBlockSizes) {
  TVEXMemoryManager mm;
  void* a = mm.GetMem(100);
  void* b = mm.AllocMem(28);
  EXPECT_EQ(mm.TotalMemAllocated(), 128);
  EXPECT_EQ(mm.GetMemoryBufferSize(a), 100);
  EXPECT_EQ(mm.GetMemoryBufferSize(b), 28);
  EXPECT_EQ(mm.GetMemoryBufferSize(nullptr), 0);
  const std::vector<unsigned char> zeros(28, 0);
  EXPECT_EQ(std::memcmp(b, zeros.data(), 28), 0);

  mm.FreeAndNillMem(a);
  EXPECT_EQ(a, nullptr);
  mm.FreeMem(b);
  EXPECT_NE(b, nullptr);  // FreeMem leaves the caller's variable as it was
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(VEXMemoryManagerTest, ZeroBytesAreRefused) {
  TVEXMemoryManager mm;
  EXPECT_EQ(Raised([&] { mm.GetMem(0); }).NativeError, 30286);

  void* block = mm.GetMem(8);
  void* const before = block;
  const EVEXException e = Raised([&] { mm.ReallocMem(block, 0, false); });
  EXPECT_EQ(e.NativeError, 30014);
  EXPECT_NE(e.Message().find("Cannot allocate 0 bytes"), std::string::npos);
  EXPECT_EQ(block, before);
  mm.FreeAndNillMem(block);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(VEXMemoryManagerTest, LimitAllowsReachingItAndRefusesOneByteMore) {
  TVEXMemoryManager mm(1000);
  void* a = mm.GetMem(600);
  const EVEXException e = Raised([&] { mm.GetMem(401); });
  EXPECT_EQ(e.NativeError, 30004);
  EXPECT_EQ(e.Message(), "Memory limit exceeded (Limit = 1000 bytes) - Native error: 30004");
  EXPECT_EQ(mm.TotalMemAllocated(), 600);  // a refused request counts nothing

  void* b = mm.GetMem(400);
  EXPECT_EQ(mm.TotalMemAllocated(), 1000);
  mm.FreeAndNillMem(a);
  mm.FreeAndNillMem(b);
}

TEST(VEXMemoryManagerTest, RequestsTooLargeForTheBlockHeaderAreGetMemErrors) {
  // The header keeps a 32-bit size; a larger request must not be stored
  // truncated or sign-extended.
  TVEXMemoryManager mm;
  for (int64_t size : {int64_t{1} << 31, int64_t{1} << 40, int64_t{-5}}) {
    const EVEXException e = Raised([&] { mm.GetMem(size); });
    EXPECT_EQ(e.NativeError, 30015) << size;
    EXPECT_EQ(e.Message().rfind("GetMem error: ", 0), 0u) << e.Message();
  }
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(VEXMemoryManagerTest, OverrunIsReportedAfterTheBlockIsFreed) {
  TVEXMemoryManager mm;
  auto* block = static_cast<unsigned char*>(mm.GetMem(16));
  block[16] = 0;  // one byte past the user data
  const EVEXException e = Raised([&] { mm.FreeAndNillMem(block); });
  EXPECT_EQ(e.NativeError, 30137);
  EXPECT_EQ(e.Message(), "Memory overrun detected - Native error: 30137");
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(VEXMemoryManagerTest, DamagedBeginMarkIsRefusedWithoutFreeing) {
  TVEXMemoryManager mm;
  void* block = mm.GetMem(16);
  void* const original = block;
  DamageBeginMark(block);

  EXPECT_EQ(Raised([&] { mm.FreeAndNillMem(block); }).NativeError, 30001);
  EXPECT_EQ(block, original);
  EXPECT_EQ(mm.TotalMemAllocated(), 16);
  EXPECT_EQ(Raised([&] { mm.GetMemoryBufferSize(block); }).NativeError, 30005);

  const EVEXException e = Raised([&] { mm.ReallocMem(block, 32, false); });
  EXPECT_EQ(e.NativeError, 30014);
  EXPECT_EQ(e.Message(),
            "ReallocMem error: Invalid pointer - Native error: 30002 - Native error: 30014");
  EXPECT_EQ(block, original);
  EXPECT_EQ(mm.TotalMemAllocated(), 16);

  DamageBeginMark(block);  // repair, so the block can go back
  mm.FreeAndNillMem(block);
}

TEST(VEXMemoryManagerTest, ReallocKeepsContentsAndClearsTheTailOnRequest) {
  TVEXMemoryManager mm;
  auto* block = static_cast<unsigned char*>(mm.GetMem(10));
  for (int i = 0; i < 10; ++i) block[i] = static_cast<unsigned char>(i + 1);

  mm.ReallocMemAndClearTail(block, 20);
  ASSERT_EQ(mm.GetMemoryBufferSize(block), 20);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(block[i], i + 1);
  for (int i = 10; i < 20; ++i) EXPECT_EQ(block[i], 0);

  mm.ReallocMem(block, 10, false);
  ASSERT_EQ(mm.GetMemoryBufferSize(block), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(block[i], i + 1);
  EXPECT_EQ(mm.TotalMemAllocated(), 10);
  mm.FreeAndNillMem(block);

  // A nil block grows from nothing instead of reading a header before address 0.
  mm.ReallocMemAndClearTail(block, 4);
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(mm.TotalMemAllocated(), 4);
  mm.FreeAndNillMem(block);
}

TEST(VEXMemoryManagerTest, ReallocOfAnOverrunBlockKeepsTheNewBlock) {
  TVEXMemoryManager mm;
  auto* block = static_cast<unsigned char*>(mm.GetMem(4));
  std::memcpy(block, "abcd", 4);
  block[4] = 0;  // damages the end mark

  const EVEXException e = Raised([&] { mm.ReallocMem(block, 8, true); });
  EXPECT_EQ(e.NativeError, 30014);
  EXPECT_NE(e.Message().find("Memory overrun detected"), std::string::npos);
  // The caller holds the new block (the sanitizer's leak check would catch a
  // lost one) and only it is counted.
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(mm.GetMemoryBufferSize(block), 8);
  EXPECT_EQ(std::memcmp(block, "abcd\0\0\0\0", 8), 0);
  EXPECT_EQ(mm.TotalMemAllocated(), 8);
  mm.FreeAndNillMem(block);
}

TEST(VEXMemoryManagerTest, FreeMemoryIsTheAvailableMemoryCappedByTheLimit) {
  os::ScopedAvailableMemory available(5000);
  EXPECT_EQ(TVEXMemoryManager().GetFreeMemorySize(), 5000);
  EXPECT_EQ(TVEXMemoryManager(1000).GetFreeMemorySize(), 1000);
  EXPECT_EQ(TVEXMemoryManager(8000).GetFreeMemorySize(), 5000);
}

TEST(VEXMemoryManagerTest, ProcessWideManagerHasNoLimit) {
  ASSERT_NE(MemoryManager, nullptr);
  EXPECT_EQ(MemoryManager->MaxMemorySize(), 0);
  void* block = MemoryManager->AllocMem(32);
  MemoryManager->FreeAndNillMem(block);
  EXPECT_GT(MemoryManager->GetFreeMemorySize(), 0);
}

// More threads than counter slots, started in waves so that later threads
// take over the slots of ended ones, each allocating and freeing (some
// blocks freed by another thread than the one that took them): the total
// ends where it started and every block in between is counted.
TEST(VEXMemoryManagerTest, CountIsExactAcrossManyThreadsAndReusedSlots) {
  TVEXMemoryManager mm;
  std::vector<void*> handedOver(3 * TVEXMemoryManager::kCounterSlots, nullptr);
  for (int wave = 0; wave < 3; ++wave) {
    std::vector<std::thread> threads;
    for (int t = 0; t < TVEXMemoryManager::kCounterSlots; ++t) {
      threads.emplace_back([&, wave, t] {
        for (int i = 0; i < 200; ++i) mm.FreeMem(mm.GetMem(1 + (i + t) % 97));
        handedOver[size_t(wave * TVEXMemoryManager::kCounterSlots + t)] = mm.GetMem(10);
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mm.TotalMemAllocated(), 10 * (wave + 1) * TVEXMemoryManager::kCounterSlots);
  }
  for (void* block : handedOver) mm.FreeMem(block);
  EXPECT_EQ(mm.TotalMemAllocated(), 0);
}

TEST(MoveBytesOverlappedTest, MatchesAnOverlapSafeMoveAtEveryShortDistance) {
  for (int distance : {1, 2, 3, -1, -2, -3, 0, 5, -7}) {
    for (int32_t count : {0, 1, 5, 16}) {
      unsigned char expected[40];
      unsigned char actual[40];
      for (int i = 0; i < 40; ++i) expected[i] = actual[i] = static_cast<unsigned char>(i * 7 + 1);
      const int from = 12;
      std::memmove(expected + from + distance, expected + from, static_cast<size_t>(count));
      MoveBytesOverlapped(actual + from, actual + from + distance, count);
      EXPECT_EQ(std::memcmp(expected, actual, sizeof actual), 0)
          << "distance " << distance << " count " << count;
    }
  }
  unsigned char untouched[4] = {1, 2, 3, 4};
  MoveBytesOverlapped(untouched, untouched + 1, -3);
  EXPECT_EQ(untouched[1], 2);
}

}  // namespace
}  // namespace vex
