#include "foundation/VEXMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/VEXConst.h"
#include "foundation/VEXExcept.h"
#include "os/MemoryStatus.h"

namespace vex {

namespace {

constexpr uint32_t kBeginMark = 0xACCACCACu;
constexpr uint32_t kEndMark = 0xACCEACCEu;
constexpr int64_t kHeaderSize = 9;  // size (4), method (1), begin mark (4)
constexpr int64_t kGuardSize = kHeaderSize + 4;

// Allocation methods a block header may name. Only the platform heap is ever
// selected; the header keeps the byte so the block layout stays the same.
constexpr uint8_t kMethodHeap = 0;

// The header stores the user size in 32 bits and reads it back sign-extended,
// so a block of 2^31 bytes or more could not be described.
constexpr int64_t kLargestBlock = INT32_MAX;

struct BlockHeader {
  int32_t userSize;
  uint8_t method;
  uint32_t beginMark;
};

BlockHeader ReadHeader(const void* userData) {
  const auto* start = static_cast<const unsigned char*>(userData) - kHeaderSize;
  BlockHeader header;
  std::memcpy(&header.userSize, start, 4);
  std::memcpy(&header.method, start + 4, 1);
  std::memcpy(&header.beginMark, start + 5, 4);
  return header;
}

bool EndMarkIntact(const void* userData, int32_t userSize) {
  uint32_t mark;
  std::memcpy(&mark, static_cast<const unsigned char*>(userData) + userSize, 4);
  return mark == kEndMark;
}

// Counter slot leases. A slot number is held by at most one living thread;
// the release on giving it back and the acquire on taking it hand the slot's
// last value on to its next holder, which goes on counting from there.
constinit std::atomic<bool> gSlotTaken[TVEXMemoryManager::kCounterSlots] = {};

constexpr int kNoSlotYet = -1;
constexpr int kNoSlot = -2;  // none was free, or the thread is ending
// Trivial, so it stays usable while the thread's other objects are destroyed.
thread_local int tCounterSlot = kNoSlotYet;

struct SlotLease {
  ~SlotLease() {
    if (tCounterSlot >= 0) gSlotTaken[tCounterSlot].store(false, std::memory_order_release);
    tCounterSlot = kNoSlot;
  }
};
thread_local SlotLease tSlotLease;

int LeasedSlot() {
  const int slot = tCounterSlot;
  if (slot != kNoSlotYet) return slot;
  // Touching the lease registers its destructor, which gives the slot back.
  (void)&tSlotLease;
  for (int i = 0; i < TVEXMemoryManager::kCounterSlots; ++i) {
    bool expected = false;
    if (!gSlotTaken[i].load(std::memory_order_relaxed) &&
        gSlotTaken[i].compare_exchange_strong(expected, true, std::memory_order_acquire)) {
      tCounterSlot = i;
      return i;
    }
  }
  tCounterSlot = kNoSlot;
  return kNoSlot;
}

}  // namespace

constinit TVEXMemoryManager* MemoryManager = nullptr;

void CreateMemoryManager() {
  if (MemoryManager == nullptr) MemoryManager = new TVEXMemoryManager();
}

void FreeMemoryManager() noexcept {
  delete MemoryManager;
  MemoryManager = nullptr;
}

void TVEXMemoryManager::AddToTotal(int64_t delta) {
  const int slot = LeasedSlot();
  if (slot >= 0) {
    std::atomic<int64_t>& value = FSlots[slot].value;
    value.store(value.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
  } else {
    FTotalMemAllocated.fetch_add(delta, std::memory_order_relaxed);
  }
}

int64_t TVEXMemoryManager::TotalMemAllocated() const {
  int64_t total = FTotalMemAllocated.load(std::memory_order_relaxed);
  for (const CounterSlot& slot : FSlots) total += slot.value.load(std::memory_order_relaxed);
  return total;
}

void* TVEXMemoryManager::GetMem(int64_t bufferSize) {
  if (bufferSize == 0) throw EVEXException(30286, "Cannot allocate 0 bytes");
  if (FMaxMemorySize != 0 && bufferSize > FMaxMemorySize - TotalMemAllocated()) {
    throw EVEXException(30004, sMemoryLimitExceeded, FMaxMemorySize);
  }
  if (bufferSize < 0 || bufferSize > kLargestBlock) {
    throw EVEXException(30015, sGetMemError, sOutOfMemory);
  }

  auto* start =
      static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bufferSize + kGuardSize)));
  if (start == nullptr) throw EVEXException(30015, sGetMemError, sOutOfMemory);

  const int32_t userSize = static_cast<int32_t>(bufferSize);
  const uint8_t method = kMethodHeap;
  std::memcpy(start, &userSize, 4);
  std::memcpy(start + 4, &method, 1);
  std::memcpy(start + 5, &kBeginMark, 4);
  std::memcpy(start + kHeaderSize + bufferSize, &kEndMark, 4);

  AddToTotal(bufferSize);
  return start + kHeaderSize;
}

void* TVEXMemoryManager::AllocMem(int64_t bufferSize) {
  void* buffer = GetMem(bufferSize);
  std::memset(buffer, 0, static_cast<size_t>(bufferSize));
  return buffer;
}

void TVEXMemoryManager::FreeAndNillMem(void*& buffer) {
  if (buffer == nullptr) return;
  const BlockHeader header = ReadHeader(buffer);
  if (header.beginMark != kBeginMark) throw EVEXException(30001, sInvalidPointer);
  const bool overrun = !EndMarkIntact(buffer, header.userSize);

  AddToTotal(-static_cast<int64_t>(header.userSize));
  std::free(static_cast<unsigned char*>(buffer) - kHeaderSize);
  buffer = nullptr;

  if (overrun) throw EVEXException(30137, "Memory overrun detected");
}

void TVEXMemoryManager::ReallocMem(void*& buffer, int64_t bufferSize, bool clearTail) {
  // A nil block has no header to read: it grows from nothing, as a new block.
  if (buffer == nullptr) {
    buffer = clearTail ? AllocMem(bufferSize) : GetMem(bufferSize);
    return;
  }
  try {
    const BlockHeader header = ReadHeader(buffer);
    if (header.beginMark != kBeginMark) throw EVEXException(30002, sInvalidPointer);
    const int64_t oldSize = header.userSize;

    auto* newBuffer = static_cast<unsigned char*>(GetMem(bufferSize));
    std::memcpy(newBuffer, buffer,
                static_cast<size_t>(oldSize < bufferSize ? oldSize : bufferSize));
    if (clearTail && oldSize < bufferSize) {
      std::memset(newBuffer + oldSize, 0, static_cast<size_t>(bufferSize - oldSize));
    }

    // The caller owns the new block from here on, whatever freeing the old one
    // reports: storing it only afterwards would leak it on a damaged end mark.
    void* oldBuffer = buffer;
    buffer = newBuffer;
    FreeAndNillMem(oldBuffer);
  } catch (const std::exception& e) {
    throw EVEXException(30014, "ReallocMem error: %s", e.what());
  }
}

int64_t TVEXMemoryManager::GetMemoryBufferSize(const void* buffer) const {
  if (buffer == nullptr) return 0;
  const BlockHeader header = ReadHeader(buffer);
  if (header.beginMark != kBeginMark) throw EVEXException(30005, sInvalidPointer);
  return header.userSize;
}

int64_t TVEXMemoryManager::GetFreeMemorySize() {
  const int64_t available = os::AvailablePhysicalMemory();
  FFreeSystemMemorySize.store(available, std::memory_order_relaxed);
  if (FMaxMemorySize != 0 && FMaxMemorySize < available) return FMaxMemorySize;
  return available;
}

void MoveBytesOverlapped(const void* source, void* dest, int32_t count) {
  if (count <= 0) return;
  const auto* src = static_cast<const unsigned char*>(source);
  auto* dst = static_cast<unsigned char*>(dest);
  const intptr_t distance =
      static_cast<intptr_t>(reinterpret_cast<uintptr_t>(dst) - reinterpret_cast<uintptr_t>(src));
  if (distance >= 1 && distance <= 3) {
    // Shifting up by a few bytes: from the last byte down, so no source byte is
    // overwritten before it is read.
    for (int32_t i = count - 1; i >= 0; --i) dst[i] = src[i];
  } else if (distance >= -3 && distance <= -1) {
    for (int32_t i = 0; i < count; ++i) dst[i] = src[i];
  } else {
    std::memmove(dst, src, static_cast<size_t>(count));
  }
}

}  // namespace vex
