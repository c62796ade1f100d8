// A fake clock installed as the process's clock for one test, so bounded
// waits (lock retries, back-off) run in virtual time; the real clock is back
// when the test ends.
#pragma once

#include <cstdint>

#include "os/Clock.h"

namespace testsupport {

struct FakeClockScope {
  explicit FakeClockScope(uint64_t startTick = 0, uint64_t seed = 1)
      : Clock(startTick, seed), Installed(Clock) {}
  os::FakeClock Clock;
  os::ScopedClock Installed;
};

}  // namespace testsupport
