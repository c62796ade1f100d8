#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "os/Clock.h"
#include "os/MemoryStatus.h"
#include "os/OsError.h"
#include "os/Paths.h"

namespace {

TEST(FakeClock, SleepAdvancesVirtualTimeAtOnceAndIsCounted) {
  os::FakeClock clock(0xFFFFFF00u);  // near the 32-bit wrap
  // A bounded wait as the engine writes it: 4,500 tries 20 ms apart.
  const uint64_t start = clock.TickCount();
  for (int i = 0; i < 4500; ++i) clock.Sleep(20);
  EXPECT_EQ(clock.TickCount() - start, 90000u);
  EXPECT_EQ(clock.SleepCount(), 4500u);
  EXPECT_EQ(clock.SleptMs(), 90000u);
  clock.Advance(5);
  EXPECT_EQ(clock.TickCount() - start, 90005u);
  EXPECT_EQ(clock.SleepCount(), 4500u);
}

TEST(Clock, RandomStaysInRangeAndFollowsItsSeed) {
  os::FakeClock first(0, 7), second(0, 7);
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    uint32_t r = first.Random(50);
    EXPECT_LT(r, 50u);
    EXPECT_EQ(second.Random(50), r);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 50u);  // every value turns up
  EXPECT_EQ(first.Random(0), 0u);
  EXPECT_EQ(first.Random(1), 0u);
  os::RealClock real(7);
  real.Randomize(99);
  first.Randomize(99);
  EXPECT_EQ(real.Random(1000000), first.Random(1000000));
}

TEST(Clock, ScopedClockInstallsAFakeAndRestoresTheRealOne) {
  os::Clock& real = os::CurrentClock();
  {
    os::FakeClock fake(1000);
    os::ScopedClock scope(fake);
    os::CurrentClock().Sleep(60000);
    EXPECT_EQ(&os::CurrentClock(), &fake);
    EXPECT_EQ(fake.TickCount(), 61000u);
  }
  EXPECT_EQ(&os::CurrentClock(), &real);
  const uint64_t t0 = real.TickCount();
  EXPECT_GE(real.TickCount(), t0);
}

TEST(MemoryStatus, AvailableMemoryIsCappedByCgroupsAndTwoGibibytes) {
  using os::CgroupMemory;
  const int64_t GiB = int64_t{1} << 30;
  struct Case {
    int64_t memAvailable;
    std::vector<CgroupMemory> groups;
    int64_t expected;
  } cases[] = {
      {GiB, {}, GiB},
      {16 * GiB, {}, os::kMemoryCap},
      {16 * GiB, {{GiB, GiB / 4, std::nullopt}}, 3 * GiB / 4},
      {16 * GiB, {{GiB, GiB, GiB / 2}}, GiB / 2},  // reclaimable cache counts as free
      {16 * GiB, {{std::nullopt, GiB, 0}, {GiB, GiB / 2, 0}}, GiB / 2},  // the parent's limit binds
      {16 * GiB, {{GiB, 2 * GiB, 0}}, 0},  // over the limit: nothing, never negative
      {GiB / 8, {{GiB, 0, 0}}, GiB / 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os::ComputeAvailableMemory(c.memAvailable, c.groups), c.expected);
  }
  EXPECT_EQ(os::ParseMemAvailable("MemTotal:  100 kB\nMemAvailable:    2048 kB\n"), 2048 * 1024);
  EXPECT_EQ(os::ParseMemAvailable("MemTotal:  100 kB\n"), std::nullopt);
}

TEST(MemoryStatus, TestsCanFixTheAnswer) {
  const int64_t live = os::AvailablePhysicalMemory();
  EXPECT_GE(live, 0);
  EXPECT_LE(live, os::kMemoryCap);
  {
    os::ScopedAvailableMemory fixed(123456);
    EXPECT_EQ(os::AvailablePhysicalMemory(), 123456);
  }
  EXPECT_NE(os::AvailablePhysicalMemory(), 123456);
}

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : FName(name) {
    const char* v = std::getenv(name);
    if (v) FSaved = v;
  }
  ~EnvGuard() {
    if (FSaved) {
      ::setenv(FName, FSaved->c_str(), 1);
    } else {
      ::unsetenv(FName);
    }
  }
  void Set(const char* value) {
    if (value) {
      ::setenv(FName, value, 1);
    } else {
      ::unsetenv(FName);
    }
  }

 private:
  const char* FName;
  std::optional<std::string> FSaved;
};

TEST(Paths, DocumentsFolderComesFromXdgThenHomeElseAnError) {
  EnvGuard xdg("XDG_DOCUMENTS_DIR"), home("HOME");
  xdg.Set("/data/docs/");
  home.Set("/home/clerk");
  EXPECT_EQ(os::DocumentsFolder(), "/data/docs");
  xdg.Set("");
  EXPECT_EQ(os::DocumentsFolder(), "/home/clerk/Documents");
  xdg.Set(nullptr);
  home.Set(nullptr);
  EXPECT_THROW(os::DocumentsFolder(), os::OsError);
}

}  // namespace
