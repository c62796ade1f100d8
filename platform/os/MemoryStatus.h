// Available physical memory: how much the engine may still take for its page
// cache and in-memory temporary tables.
//
// The answer is the kernel's MemAvailable, capped by what the process's memory
// control groups (this one and each one above it) still allow, and by 2 GiB,
// the most the engine's original 32-bit address space could see. Tests replace
// the answer with ScopedAvailableMemory so that cache sizes do not depend on the
// machine.
//
// Threads: AvailablePhysicalMemory may be called from several threads at once;
// install and remove overrides before and after the code under test runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace os {

inline constexpr int64_t kMemoryCap = int64_t{2} << 30;  // 2 GiB

// Available physical memory in bytes, 0 .. kMemoryCap. Never fails: sources that
// cannot be read are left out, and without /proc/meminfo the count of free pages
// stands in for MemAvailable. Measured at most once a second; calls in between
// answer the last measurement.
int64_t AvailablePhysicalMemory();

// One memory control group's numbers; a missing value is absent.
struct CgroupMemory {
  std::optional<int64_t> limit;         // memory.max / memory.limit_in_bytes; absent: "max"
  std::optional<int64_t> usage;         // memory.current / memory.usage_in_bytes
  std::optional<int64_t> inactiveFile;  // reclaimable page cache counted in usage
};

// The rule itself, without the system: min(memAvailable, each group's
// limit - (usage - inactiveFile), kMemoryCap), never below 0. A group without a
// limit or usage is no cap.
int64_t ComputeAvailableMemory(int64_t memAvailable, const std::vector<CgroupMemory>& groups);

// "MemAvailable:" of a /proc/meminfo text in bytes; absent when missing.
std::optional<int64_t> ParseMemAvailable(std::string_view meminfo);

// Makes AvailablePhysicalMemory answer `bytes` for its lifetime; restores the
// previous answer afterwards. Scopes nest.
class ScopedAvailableMemory {
 public:
  explicit ScopedAvailableMemory(int64_t bytes);
  ~ScopedAvailableMemory();
  ScopedAvailableMemory(const ScopedAvailableMemory&) = delete;
  ScopedAvailableMemory& operator=(const ScopedAvailableMemory&) = delete;

 private:
  int64_t FPrevious;
};

}  // namespace os
