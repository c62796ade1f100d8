// The engine's lock and the annotations that state its locking rules in code.
//
// TVEXLock is the re-entrant critical section every engine lock is made of (a
// thread that holds one may take it again in nested calls). The macros below
// let a class say which lock guards a member (VEX_GUARDED_BY) and which lock a
// caller must hold (VEX_REQUIRES); clang's -Wthread-safety checks every call
// and access against them (the clang-check build), g++ ignores them.
//
// clang's analysis does not model re-entrancy: within one function, take a
// lock once. A method that runs under a lock its caller already holds says so
// with VEX_REQUIRES instead of taking it again.
#pragma once

#include <mutex>

#if defined(__clang__)
#define VEX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VEX_THREAD_ANNOTATION(x)
#endif

#define VEX_CAPABILITY(name) VEX_THREAD_ANNOTATION(capability(name))
#define VEX_SCOPED_CAPABILITY VEX_THREAD_ANNOTATION(scoped_lockable)
#define VEX_GUARDED_BY(lock) VEX_THREAD_ANNOTATION(guarded_by(lock))
#define VEX_PT_GUARDED_BY(lock) VEX_THREAD_ANNOTATION(pt_guarded_by(lock))
#define VEX_REQUIRES(...) VEX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define VEX_ACQUIRE(...) VEX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define VEX_RELEASE(...) VEX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define VEX_TRY_ACQUIRE(...) VEX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define VEX_EXCLUDES(...) VEX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define VEX_RETURN_CAPABILITY(lock) VEX_THREAD_ANNOTATION(lock_returned(lock))
#define VEX_NO_THREAD_SAFETY_ANALYSIS VEX_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vex {

class VEX_CAPABILITY("lock") TVEXLock {
 public:
  TVEXLock() = default;
  TVEXLock(const TVEXLock&) = delete;
  TVEXLock& operator=(const TVEXLock&) = delete;

  void Lock() VEX_ACQUIRE() { FMutex.lock(); }
  void Unlock() VEX_RELEASE() { FMutex.unlock(); }
  bool TryLock() VEX_TRY_ACQUIRE(true) { return FMutex.try_lock(); }

 private:
  std::recursive_mutex FMutex;
};

// Holds a lock for its scope and releases it on every way out.
class VEX_SCOPED_CAPABILITY TVEXLockGuard {
 public:
  explicit TVEXLockGuard(TVEXLock& Lock) VEX_ACQUIRE(Lock) : FLock(Lock) { FLock.Lock(); }
  ~TVEXLockGuard() VEX_RELEASE() { FLock.Unlock(); }
  TVEXLockGuard(const TVEXLockGuard&) = delete;
  TVEXLockGuard& operator=(const TVEXLockGuard&) = delete;

 private:
  TVEXLock& FLock;
};

}  // namespace vex
