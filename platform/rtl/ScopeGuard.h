// Scope guards: an action that runs when a scope is left. The platform and the
// engine share these two (the engine re-exports them from
// foundation/VEXGuards.h), so there is one way to write "undo this on every
// way out" and one way to write "undo this if we leave by an exception".
//
// Contract: the action runs from a destructor, which never throws; an action
// that raises ends the process (std::terminate). Give such an action a
// try/catch of its own, or run the step as an explicit call instead.
//
//   rtl::ScopeExit restore([&] { RestoreState(saved); });      // always
//   rtl::ScopeFailure undo([&] { list.Remove(item); });        // only on a raise
#pragma once

#include <exception>
#include <utility>

namespace rtl {

// Runs its action when the scope is left, by any way, unless dismissed.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) : FAction(std::move(action)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() noexcept {
    if (FArmed) FAction();
  }
  void Dismiss() noexcept { FArmed = false; }

 private:
  F FAction;
  bool FArmed = true;
};

// Runs its action only when the scope is left by an exception that was raised
// after the guard was made (an exception already in flight when the guard was
// made, as in a destructor during unwinding, does not count).
template <class F>
class ScopeFailure {
 public:
  explicit ScopeFailure(F action) : FAction(std::move(action)) {}
  ScopeFailure(const ScopeFailure&) = delete;
  ScopeFailure& operator=(const ScopeFailure&) = delete;
  ~ScopeFailure() noexcept {
    if (std::uncaught_exceptions() > FUncaught) FAction();
  }

 private:
  F FAction;
  int FUncaught = std::uncaught_exceptions();
};

}  // namespace rtl
