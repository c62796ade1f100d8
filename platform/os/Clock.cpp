#include "os/Clock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace os {

uint32_t SeededRandom::Next(uint32_t range) {
  if (range == 0) return 0;
  std::lock_guard guard(FMutex);
  return std::uniform_int_distribution<uint32_t>(0, range - 1)(FEngine);
}

void SeededRandom::Reseed(uint64_t seed) {
  std::lock_guard guard(FMutex);
  FEngine.seed(seed);
}

RealClock::RealClock(uint64_t seed) : FRandom(seed) {}

uint64_t RealClock::TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealClock::Sleep(uint32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t RealClock::Random(uint32_t range) { return FRandom.Next(range); }

void RealClock::Randomize(uint64_t seed) { FRandom.Reseed(seed); }

FakeClock::FakeClock(uint64_t startTick, uint64_t seed) : FTick(startTick), FRandom(seed) {}

uint64_t FakeClock::TickCount() {
  std::lock_guard guard(FMutex);
  return FTick;
}

void FakeClock::Sleep(uint32_t ms) {
  std::lock_guard guard(FMutex);
  FTick += ms;
  ++FSleepCount;
  FSleptMs += ms;
}

uint32_t FakeClock::Random(uint32_t range) { return FRandom.Next(range); }

void FakeClock::Randomize(uint64_t seed) { FRandom.Reseed(seed); }

void FakeClock::Advance(uint64_t ms) {
  std::lock_guard guard(FMutex);
  FTick += ms;
}

uint64_t FakeClock::SleepCount() const {
  std::lock_guard guard(FMutex);
  return FSleepCount;
}

uint64_t FakeClock::SleptMs() const {
  std::lock_guard guard(FMutex);
  return FSleptMs;
}

namespace {

std::atomic<Clock*> gInstalled{nullptr};
std::atomic<RealClock*> gProcess{nullptr};
std::mutex gProcessMutex;  // serialises creating and freeing
std::unique_ptr<RealClock> gOwned;

RealClock& ProcessClock() {
  if (RealClock* clock = gProcess.load(std::memory_order_acquire)) return *clock;
  CreateProcessClock();
  return *gProcess.load(std::memory_order_acquire);
}

}  // namespace

void CreateProcessClock() {
  std::lock_guard guard(gProcessMutex);
  if (gOwned) return;
  gOwned = std::make_unique<RealClock>(std::random_device{}());
  gProcess.store(gOwned.get(), std::memory_order_release);
}

void FreeProcessClock() noexcept {
  std::lock_guard guard(gProcessMutex);
  gProcess.store(nullptr, std::memory_order_release);
  gOwned.reset();
}

Clock& CurrentClock() {
  Clock* installed = gInstalled.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : ProcessClock();
}

ScopedClock::ScopedClock(Clock& clock) : FPrevious(gInstalled.exchange(&clock)) {}

ScopedClock::~ScopedClock() { gInstalled.store(FPrevious); }

}  // namespace os
