// os::Clock: the one source of time and chance for everything that waits.
//
// Every bounded wait of the engine (lock retries of up to thousands of tries,
// the wait dialog's delay) sleeps, reads the tick count and draws its random
// back-off through a Clock, so that tests can swap in FakeClock and run those
// waits in virtual time: a FakeClock's Sleep returns at once and moves its tick
// count forward by the time asked.
//
// CurrentClock() is the clock the process uses: the real clock unless a test has
// installed another with ScopedClock.
//
// Threads: every method of RealClock and FakeClock may be called from several
// threads at once. Installing a clock is not synchronised with its users: do it
// before the code under test starts.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace os {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds on a monotonic count that never goes back; its origin is
  // unspecified (callers compare two readings). Never fails.
  virtual uint64_t TickCount() = 0;

  // Waits `ms` milliseconds (0: returns at once). Never fails.
  virtual void Sleep(uint32_t ms) = 0;

  // A pseudo-random number uniform over 0 .. range - 1; 0 when range is 0.
  virtual uint32_t Random(uint32_t range) = 0;

  // Restarts the pseudo-random sequence from `seed`; equal seeds give equal
  // sequences.
  virtual void Randomize(uint64_t seed) = 0;
};

// The random part shared by both clocks: a seeded generator under a lock.
class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : FEngine(seed) {}
  uint32_t Next(uint32_t range);
  void Reseed(uint64_t seed);

 private:
  std::mutex FMutex;
  std::mt19937_64 FEngine;
};

// The system's monotonic clock and real sleeps.
class RealClock final : public Clock {
 public:
  explicit RealClock(uint64_t seed);
  uint64_t TickCount() override;
  void Sleep(uint32_t ms) override;
  uint32_t Random(uint32_t range) override;
  void Randomize(uint64_t seed) override;

 private:
  SeededRandom FRandom;
};

// Virtual time for tests: Sleep advances the tick count at once and returns.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(uint64_t startTick = 0, uint64_t seed = 1);
  uint64_t TickCount() override;
  void Sleep(uint32_t ms) override;
  uint32_t Random(uint32_t range) override;
  void Randomize(uint64_t seed) override;

  // Moves the tick count forward without counting a sleep (time that passes
  // while the code under test works).
  void Advance(uint64_t ms);
  // Sleeps made so far, and the milliseconds they asked for in all.
  uint64_t SleepCount() const;
  uint64_t SleptMs() const;

 private:
  mutable std::mutex FMutex;
  uint64_t FTick;
  uint64_t FSleepCount = 0;
  uint64_t FSleptMs = 0;
  SeededRandom FRandom;
};

// The clock in use: the process's RealClock unless a ScopedClock is in force.
// The engine's start-up creates the process clock (seeded from the system's
// entropy source) and its shut-down frees it; a program that uses the
// platform without the engine gets one created on first use.
Clock& CurrentClock();

// Creates (or re-seeds) and frees the process clock. Start-up and shut-down
// only: no thread may be using the clock.
void CreateProcessClock();
void FreeProcessClock() noexcept;

// Makes `clock` the current clock for its lifetime and restores the previous one
// when it ends. Scopes nest; `clock` must outlive the scope.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* FPrevious;
};

}  // namespace os
