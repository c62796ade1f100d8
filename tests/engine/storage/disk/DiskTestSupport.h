// Interim test helpers, until the shared tests/support kit lands.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "foundation/VEXExcept.h"
#include "os/Clock.h"
#include "os/FileFaults.h"

namespace testsupport {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "valmoratestXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

struct FakeClockScope {
  explicit FakeClockScope(uint64_t startTick = 0, uint64_t seed = 1)
      : Clock(startTick, seed), Installed(Clock) {}
  os::FakeClock Clock;
  os::ScopedClock Installed;
};

template <class F>
int32_t CodeOf(F&& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const vex::EVEXException& e) {
    if (message != nullptr) *message = e.what();
    return e.NativeError;
  }
  return 0;
}

class ArmedWriteFault {
 public:
  ArmedWriteFault(uint64_t k, os::faults::WriteFault fault, int exitCode = 77) {
    os::faults::ArmWriteFault(k, fault, exitCode);
  }
  ~ArmedWriteFault() { os::faults::DisarmWriteFault(); }
  ArmedWriteFault(const ArmedWriteFault&) = delete;
  ArmedWriteFault& operator=(const ArmedWriteFault&) = delete;
};

}  // namespace testsupport
