// The engine's RAII kit: what a function takes, it gives back on every way out.
//
//   TVEXMemBlock      owns one block of a memory manager (movable)
//       TVEXMemBlock buf = TVEXMemBlock::GetMem(n);  ... buf.As<uint8_t>() ...
//   TVEXMallocPtr<T>  owns a malloc'ed buffer (the compression libraries' output)
//       TVEXMallocPtr<uint8_t> out(static_cast<uint8_t*>(raw));
//   ScopeExit         runs an action on every way out (rtl::ScopeExit)
//   ScopeFailure      runs an action only when an exception leaves the scope
//                     (rtl::ScopeFailure)
//
// Destructors here never throw. The memory manager reports a damaged guard mark
// by raising (30001, 30137); a destructor cannot pass that on, so it hands the
// exception to ReportReleaseFault, which calls the installed handler (by
// default one line on stderr) and goes on. Code that wants such damage raised
// on its normal path frees explicitly with TVEXMemBlock::Free, which raises
// what the manager raises.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <utility>

#include "foundation/VEXMemory.h"
#include "rtl/ScopeGuard.h"

namespace vex {

using rtl::ScopeExit;
using rtl::ScopeFailure;

// Receives a failure met while a destructor released something. It must not
// raise.
using TVEXReleaseFaultHandler = void (*)(const std::exception& Error);

namespace detail {
inline void WriteReleaseFaultToStderr(const std::exception& Error) {
  std::fprintf(stderr, "vex: failure while releasing a resource: %s\n", Error.what());
}
inline std::atomic<TVEXReleaseFaultHandler> ReleaseFaultHandler{&WriteReleaseFaultToStderr};
}  // namespace detail

// Installs a handler (nil: the stderr default) and answers the previous one.
inline TVEXReleaseFaultHandler SetReleaseFaultHandler(TVEXReleaseFaultHandler Handler) noexcept {
  return detail::ReleaseFaultHandler.exchange(
      Handler != nullptr ? Handler : &detail::WriteReleaseFaultToStderr);
}

// Hands a failure caught in a destructor to the handler; never raises.
inline void ReportReleaseFault(const std::exception& Error) noexcept {
  try {
    detail::ReleaseFaultHandler.load()(Error);
  } catch (...) {
  }
}

// Owns one block of a memory manager until it is freed, released or moved.
class TVEXMemBlock {
 public:
  TVEXMemBlock() noexcept = default;
  // Adopts a block of that manager (nil: owns nothing).
  explicit TVEXMemBlock(void* Block, TVEXMemoryManager* Manager = MemoryManager) noexcept
      : FBlock(Block), FManager(Manager) {}
  // A new block from the process-wide manager; raises what GetMem/AllocMem raise.
  static TVEXMemBlock GetMem(int64_t Size) { return TVEXMemBlock(MemoryManager->GetMem(Size)); }
  static TVEXMemBlock AllocMem(int64_t Size) { return TVEXMemBlock(MemoryManager->AllocMem(Size)); }

  TVEXMemBlock(TVEXMemBlock&& Other) noexcept
      : FBlock(std::exchange(Other.FBlock, nullptr)), FManager(Other.FManager) {}
  TVEXMemBlock& operator=(TVEXMemBlock&& Other) noexcept {
    if (this != &Other) {
      Reset();
      FBlock = std::exchange(Other.FBlock, nullptr);
      FManager = Other.FManager;
    }
    return *this;
  }
  TVEXMemBlock(const TVEXMemBlock&) = delete;
  TVEXMemBlock& operator=(const TVEXMemBlock&) = delete;
  ~TVEXMemBlock() { Reset(); }

  void* Get() const noexcept { return FBlock; }
  template <class T>
  T* As() const noexcept {
    return static_cast<T*>(FBlock);
  }
  explicit operator bool() const noexcept { return FBlock != nullptr; }

  // Hands the block to the caller, who frees it from now on.
  void* Release() noexcept { return std::exchange(FBlock, nullptr); }

  // Frees the block now (the owner is empty afterwards) and raises what the
  // manager raises for a damaged block: 30001 (the block is then lost, not
  // freed) or 30137 (freed).
  void Free() {
    void* block = std::exchange(FBlock, nullptr);
    if (block != nullptr) FManager->FreeAndNillMem(block);
  }

  // Frees the block it owns, reporting damage instead of raising, and adopts
  // Block from the same manager.
  void Reset(void* Block = nullptr) noexcept {
    try {
      Free();
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
    FBlock = Block;
  }

 private:
  void* FBlock = nullptr;
  TVEXMemoryManager* FManager = MemoryManager;
};

// Owns a buffer from malloc/realloc (the compression libraries hand those out).
struct TVEXFreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <class T = uint8_t>
using TVEXMallocPtr = std::unique_ptr<T, TVEXFreeDeleter>;

}  // namespace vex
