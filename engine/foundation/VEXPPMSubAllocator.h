// The PPM model's memory: one arena of whole 12-byte units, handed out in 38
// size classes of 1 to 128 units.
//
// Which allocation fails first decides the symbol at which the model restarts,
// and that shapes every later byte of the stream, so the carving order, the
// rounding to class sizes, the last-in-first-out free lists, the one-time
// release of the bottom reserve and the splitting of larger blocks are part of
// the stream format. Freed blocks are never merged; only a restart reclaims.
//
// Blocks are named by their 32-bit byte offset from the arena's base (0 means
// none), so a context stays one unit and a state six bytes on a 64-bit host.
// The usable heap starts one unit above the base, which keeps offset 0 free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vex {

class TVEXPPMSubAllocator {
 public:
  static constexpr uint32_t UNIT_SIZE = 12;
  static constexpr int N_INDEXES = 38;
  // The reserve at the bottom of the heap, released when carving first fails.
  static constexpr uint32_t RESERVE_UNITS = 128 * 128;

  TVEXPPMSubAllocator() = default;
  ~TVEXPPMSubAllocator();
  TVEXPPMSubAllocator(const TVEXPPMSubAllocator&) = delete;
  TVEXPPMSubAllocator& operator=(const TVEXPPMSubAllocator&) = delete;

  // Reserves memMB MiB of memory with any content (the model writes every
  // byte before it reads it, so a stream never depends on what was there);
  // false when the system refuses. The memory may be an arena an earlier
  // model of the same thread left behind.
  bool Reserve(uint32_t memMB);
  // Forgets every block: empty free lists, reserve restored, whole gap free.
  void Init();

  uint8_t* Base() const { return FBase; }

  // One unit, carved downward from the top while the gap lasts.
  uint32_t AllocContext();
  // A block of the class holding n units (1..128); 0 when none is left.
  uint32_t AllocUnits(uint32_t n);
  // Room for oldN + 1 units, moving the block when its class is full; 0 (and
  // the old block untouched) when no room is left.
  uint32_t ExpandUnits(uint32_t old, uint32_t oldN);
  uint32_t ShrinkUnits(uint32_t old, uint32_t oldN, uint32_t newN);
  void FreeUnits(uint32_t p, uint32_t n);

  static uint32_t Indx2Units(int i) { return Tables().Indx2Units[i]; }
  static int Units2Indx(uint32_t n) { return Tables().Units2Indx[n - 1]; }

  // Inspection for tests.
  uint32_t HeapStart() const { return UNIT_SIZE; }
  uint32_t LoUnit() const { return FLoUnit; }
  uint32_t HiUnit() const { return FHiUnit; }
  uint32_t FreeListHead(int i) const { return FFreeList[i]; }
  uint32_t NextFree(uint32_t block) const;
  void FillForTest(uint8_t value);

 private:
  struct SizeTables {
    std::array<uint8_t, N_INDEXES> Indx2Units;
    std::array<uint8_t, 128> Units2Indx;
  };
  static const SizeTables& Tables();
  static uint32_t I2B(int i) { return UNIT_SIZE * Indx2Units(i); }

  void Push(int i, uint32_t block);
  uint32_t Pop(int i);
  void SplitBlock(uint32_t block, int oldIndx, int newIndx);

  uint8_t* FBase = nullptr;
  size_t FSize = 0;
  uint32_t FLoUnit = 0;
  uint32_t FHiUnit = 0;
  uint32_t FLastBreath = 0;
  uint32_t FHeapEnd = 0;
  std::array<uint32_t, N_INDEXES> FFreeList{};
};

}  // namespace vex
