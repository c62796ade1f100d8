#include "os/MemoryStatus.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace os {

namespace {

constexpr int64_t kNoOverride = -1;
std::atomic<int64_t> gOverride{kNoOverride};

// The last measurement and when it was taken (steady clock, milliseconds).
constexpr int64_t kNeverMeasured = INT64_MIN;
constexpr int64_t kMeasurementLifeMs = 1000;
std::atomic<int64_t> gMeasured{0};
std::atomic<int64_t> gMeasuredAtMs{kNeverMeasured};


// Limits at or above this are "no limit" written as a number (cgroup v1).
constexpr int64_t kUnlimited = int64_t{1} << 62;

std::optional<std::string> ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<int64_t> ParseNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

std::optional<int64_t> ReadNumber(const std::filesystem::path& path) {
  auto text = ReadText(path);
  if (!text) return std::nullopt;
  return ParseNumber(*text);
}

// The value after `key` (followed by a blank) on a line of a "key value" text.
std::optional<int64_t> FindKey(std::string_view text, std::string_view key) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (line.size() > key.size() && line.substr(0, key.size()) == key &&
        (line[key.size()] == ' ' || line[key.size()] == '\t')) {
      return ParseNumber(line.substr(key.size()));
    }
    pos = end + 1;
  }
  return std::nullopt;
}

CgroupMemory ReadGroup(const std::filesystem::path& dir, bool v2) {
  CgroupMemory group;
  if (v2) {
    group.limit = ReadNumber(dir / "memory.max");  // "max" does not parse: no limit
    group.usage = ReadNumber(dir / "memory.current");
    if (auto stat = ReadText(dir / "memory.stat"))
      group.inactiveFile = FindKey(*stat, "inactive_file");
  } else {
    group.limit = ReadNumber(dir / "memory.limit_in_bytes");
    group.usage = ReadNumber(dir / "memory.usage_in_bytes");
    if (auto stat = ReadText(dir / "memory.stat")) {
      group.inactiveFile = FindKey(*stat, "total_inactive_file");
    }
  }
  if (group.limit && *group.limit >= kUnlimited) group.limit.reset();
  return group;
}

// The memory groups of this process, innermost first.
std::vector<CgroupMemory> ReadGroups() {
  namespace fs = std::filesystem;
  std::vector<CgroupMemory> groups;
  auto text = ReadText("/proc/self/cgroup");
  if (!text) return groups;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    // "hierarchy-id:controllers:path"; v2 is "0::path", v1 memory is "n:memory:path".
    size_t first = line.find(':');
    size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::string controllers = line.substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    bool v2 = line.compare(0, first, "0") == 0 && controllers.empty();
    bool v1 = !v2 && ("," + controllers + ",").find(",memory,") != std::string::npos;
    if (!v2 && !v1) continue;
    fs::path root = v2 ? fs::path("/sys/fs/cgroup") : fs::path("/sys/fs/cgroup/memory");
    fs::path dir = (root / fs::path(path).relative_path()).lexically_normal();
    if (dir.filename().empty()) dir = dir.parent_path();  // "/sys/fs/cgroup/" of the root group
    // Walk up to the mount root: a parent's limit binds its children too.
    for (;;) {
      groups.push_back(ReadGroup(dir, v2));
      if (dir == root || !dir.has_parent_path() || dir.parent_path() == dir) break;
      std::string parent = dir.parent_path().string();
      if (parent.size() < root.string().size()) break;
      dir = dir.parent_path();
    }
    if (v2) break;
  }
  return groups;
}

// Reads the system's figures afresh.
int64_t MeasureAvailableMemory() {
  std::optional<int64_t> available;
  if (auto meminfo = ReadText("/proc/meminfo")) available = ParseMemAvailable(*meminfo);
  if (!available) {
    long pages = sysconf(_SC_AVPHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    available = (pages > 0 && pageSize > 0) ? int64_t{pages} * pageSize : kMemoryCap;
  }
  return ComputeAvailableMemory(*available, ReadGroups());
}

}  // namespace

std::optional<int64_t> ParseMemAvailable(std::string_view meminfo) {
  auto kb = FindKey(meminfo, "MemAvailable:");
  if (!kb || *kb < 0) return std::nullopt;
  return *kb * 1024;
}

int64_t ComputeAvailableMemory(int64_t memAvailable, const std::vector<CgroupMemory>& groups) {
  int64_t result = std::min(memAvailable, kMemoryCap);
  for (const CgroupMemory& group : groups) {
    if (!group.limit || !group.usage) continue;
    int64_t used = *group.usage - std::min(group.inactiveFile.value_or(0), *group.usage);
    result = std::min(result, *group.limit - used);
  }
  return std::max<int64_t>(result, 0);
}

int64_t AvailablePhysicalMemory() {
  int64_t forced = gOverride.load();
  if (forced != kNoOverride) return forced;
  // Every table and temporary table sizes its caches from this, and the
  // answer costs several file reads: a figure under a second old is as good.
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  const int64_t readAt = gMeasuredAtMs.load(std::memory_order_acquire);
  if (readAt != kNeverMeasured && now - readAt < kMeasurementLifeMs) {
    return gMeasured.load(std::memory_order_relaxed);
  }
  const int64_t measured = MeasureAvailableMemory();
  gMeasured.store(measured, std::memory_order_relaxed);
  gMeasuredAtMs.store(now, std::memory_order_release);
  return measured;
}

ScopedAvailableMemory::ScopedAvailableMemory(int64_t bytes)
    : FPrevious(gOverride.exchange(std::max<int64_t>(bytes, 0))) {}

ScopedAvailableMemory::~ScopedAvailableMemory() { gOverride.store(FPrevious); }

}  // namespace os
