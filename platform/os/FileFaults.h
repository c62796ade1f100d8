// Fault injection for the file layer, compiled only into test builds
// (VALMORA_TEST_HOOKS). Crash and error-path tests arm it to stop a writer at a
// chosen write: every File::Write on an open, writable handle counts as one
// write, whatever the number of system calls it makes, in the whole process.
// Error-path tests of callers that replace files make the next replacing move
// fail.
//
// Threads: arming, disarming and counting are atomic; arm the hook before the
// writer starts.
#pragma once

#ifdef VALMORA_TEST_HOOKS

#include <cstdint>

namespace os::faults {

enum class WriteFault {
  FailOnce,      // the k-th write fails with EIO and writes nothing; later writes succeed
  FailFromThen,  // the k-th and every later write fail with EIO until disarmed
  ExitProcess,   // the k-th write ends the process with _exit(exitCode) before writing
};

// The hook fires at the k-th File::Write counted from this call (k >= 1).
void ArmWriteFault(uint64_t k, WriteFault fault, int exitCode = 77);

// No more faults; the count of writes goes on.
void DisarmWriteFault();

// Writes counted since the last ArmWriteFault (or since the process started).
uint64_t WritesCounted();

// The next File::Replace (in the whole process) fails with `error` before it
// changes anything; later ones run normally. 0 disarms it.
void FailNextReplace(int error);

}  // namespace os::faults

#endif
