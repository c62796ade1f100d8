// The write-fault hook of os::File, armed for one scope: every test build has
// the hooks (VALMORA_TEST_HOOKS), and a test that arms one never leaves it
// armed for the next test, also when an assertion ends it early.
#pragma once

#include <cstdint>

#include "os/FileFaults.h"

namespace testsupport {

class ArmedWriteFault {
 public:
  // Arms the k-th write from now (see os::faults::ArmWriteFault).
  ArmedWriteFault(uint64_t k, os::faults::WriteFault fault, int exitCode = 77) {
    os::faults::ArmWriteFault(k, fault, exitCode);
  }
  ~ArmedWriteFault() { os::faults::DisarmWriteFault(); }
  ArmedWriteFault(const ArmedWriteFault&) = delete;
  ArmedWriteFault& operator=(const ArmedWriteFault&) = delete;
};

}  // namespace testsupport
