// The engine's allocator. Record, key and page buffers, BLOB data, bitmaps and
// value payloads all come from the one process-wide MemoryManager. Every block
// is wrapped in guard marks that are checked when it is freed, so an overrun is
// reported at the latest when its block goes back; a running count of user
// bytes lets a manager enforce an upper limit.
//
// Block layout (one allocation of user size + 13 bytes):
//   int32 user size | uint8 allocation method | uint32 0xACCACCAC |
//   user bytes ... | uint32 0xACCEACCE
// The pointer handed out points at the first user byte.
//
// Thread safety: any thread may call a manager; it takes no lock. The count
// is spread over per-thread slots: a thread leases one slot number for its
// lifetime (the same number in every manager) and is then the only writer of
// that slot, so it updates it with a plain load and store instead of a
// locked add; threads beyond the slots, and threads that are ending, add to
// one shared atomic word. The total is the sum of all of them, exact whenever
// no allocation is in flight. The limit test reads the total before the
// allocation, so concurrent requests may overshoot a limit by the blocks in
// flight.
#pragma once

#include <atomic>
#include <cstdint>

namespace vex {

class TVEXMemoryManager {
 public:
  TVEXMemoryManager() = default;
  explicit TVEXMemoryManager(int64_t maxMemorySize) : FMaxMemorySize(maxMemorySize) {}
  TVEXMemoryManager(const TVEXMemoryManager&) = delete;
  TVEXMemoryManager& operator=(const TVEXMemoryManager&) = delete;
  // Live blocks are not tracked and are not freed here.
  ~TVEXMemoryManager() = default;

  // A new guarded block of bufferSize bytes with undefined content. Raises
  // 30286 for 0 bytes, 30004 beyond the limit (reaching it exactly is allowed)
  // and 30015 for any other failure; the counter changes only on success.
  void* GetMem(int64_t bufferSize);
  // GetMem with the user bytes zero-filled.
  void* AllocMem(int64_t bufferSize);

  // Replaces the block in buffer by a new one of bufferSize bytes keeping
  // min(old, new) bytes; with clearTail the bytes beyond the old size are zero.
  // Every failure is raised as 30014. Once the new block exists, buffer holds
  // it even when freeing the old block reports damage.
  void ReallocMem(void*& buffer, int64_t bufferSize, bool clearTail);
  void ReallocMemAndClearTail(void*& buffer, int64_t bufferSize) {
    ReallocMem(buffer, bufferSize, true);
  }

  // Frees the block and clears the caller's pointer. A damaged begin mark
  // raises 30001 and frees nothing; a damaged end mark frees the block, clears
  // the pointer and then raises 30137. A nil pointer is left alone.
  void FreeAndNillMem(void*& buffer);
  // Frees through a copy of the pointer; the caller's variable is unchanged.
  void FreeMem(void* buffer) { FreeAndNillMem(buffer); }

  // Typed forms, so callers need not cast their pointer variables.
  template <class T>
  void ReallocMem(T*& buffer, int64_t bufferSize, bool clearTail) {
    TypedSlot<T> slot(buffer);
    ReallocMem(slot.raw, bufferSize, clearTail);
  }
  template <class T>
  void ReallocMemAndClearTail(T*& buffer, int64_t bufferSize) {
    ReallocMem(buffer, bufferSize, true);
  }
  template <class T>
  void FreeAndNillMem(T*& buffer) {
    TypedSlot<T> slot(buffer);
    FreeAndNillMem(slot.raw);
  }

  // The user size of a block; 0 for nil. A damaged begin mark raises 30005.
  int64_t GetMemoryBufferSize(const void* buffer) const;

  // The available physical memory, capped by the limit when one is set.
  int64_t GetFreeMemorySize();

  int64_t MaxMemorySize() const { return FMaxMemorySize; }
  int64_t TotalMemAllocated() const;

  // Slot numbers a thread may lease; see Thread safety above.
  static constexpr int kCounterSlots = 64;

 private:
  // Writes the raw pointer back to the typed variable on every way out, so a
  // pointer cleared or replaced before a raise is not lost to the caller.
  template <class T>
  struct TypedSlot {
    explicit TypedSlot(T*& typed)
        : typedRef(typed), raw(const_cast<void*>(static_cast<const void*>(typed))) {}
    ~TypedSlot() { typedRef = static_cast<T*>(raw); }
    T*& typedRef;
    void* raw;
  };

  void AddToTotal(int64_t delta);

  // One cache line each, so that threads counting in their own slots do not
  // contend for a line.
  struct alignas(64) CounterSlot {
    std::atomic<int64_t> value{0};
  };

  int64_t FMaxMemorySize = 0;
  CounterSlot FSlots[kCounterSlots];
  // Threads without a slot.
  std::atomic<int64_t> FTotalMemAllocated{0};
  std::atomic<int64_t> FFreeSystemMemorySize{0};
};

// The process-wide manager, without a limit. Created by the engine's start-up
// (CreateMemoryManager) before anything that allocates, freed by its shut-down
// after everything else; nil while the engine is stopped.
extern TVEXMemoryManager* MemoryManager;
void CreateMemoryManager();
void FreeMemoryManager() noexcept;

// A byte move whose source and destination may overlap. A count of 0 or less
// moves nothing.
void MoveBytesOverlapped(const void* source, void* dest, int32_t count);

}  // namespace vex
