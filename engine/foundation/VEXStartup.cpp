#include "foundation/VEXStartup.h"

#include <algorithm>
#include <utility>

#include "foundation/VEXCipher.h"
#include "foundation/VEXDateFormat.h"
#include "foundation/VEXDecUtil.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXPPM.h"
#include "foundation/VEXWideText.h"
#include "os/Clock.h"
#include "rtl/FormatSettings.h"

namespace vex {

namespace {

struct Step {
  TVEXStartupLayer Layer;
  std::string Name;
  std::function<void()> Start;
  std::function<void()> Stop;
};

// The foundation's state in the order the library creates it at load: the
// platform's clock and the user's format settings first (every later step may
// format or wait), then the cipher library's tables, the memory manager, the
// PPM lock, the wide-text functions and the date-format keywords.
std::vector<Step> FoundationSteps() {
  return {
      {TVEXStartupLayer::Foundation, "clock", os::CreateProcessClock, os::FreeProcessClock},
      {TVEXStartupLayer::Foundation, "format settings", rtl::CreateFormatSettings,
       rtl::FreeFormatSettings},
      {TVEXStartupLayer::Foundation, "cipher tables",
       [] {
         CreateStringFormats();
         try {
           CreateCipherList();
         } catch (...) {
           FreeStringFormats();
           throw;
         }
       },
       [] {
         FreeCipherList();
         FreeStringFormats();
       }},
      {TVEXStartupLayer::Foundation, "memory manager", CreateMemoryManager, FreeMemoryManager},
      {TVEXStartupLayer::Foundation, "PPM lock", CreatePpmLock, FreePpmLock},
      {TVEXStartupLayer::Foundation, "wide-text functions", BindTextFunctions, UnbindTextFunctions},
      {TVEXStartupLayer::Foundation, "date-format keywords", CreateDateFormatKeywordLength,
       FreeDateFormatKeywordLength},
  };
}

// Steps added by the upper layers, kept sorted by layer (stable, so a layer's
// steps keep the order in which they were added).
std::vector<Step>& AddedSteps() {
  // A plain container with nothing to free but its own storage; it must exist
  // before any library load can add to it, hence the function-local static.
  static std::vector<Step> steps;
  return steps;
}

// The steps that were started, in start order; stopped from the back.
std::vector<Step>& StartedSteps() {
  static std::vector<Step> started;
  return started;
}
bool gStarted = false;

void RequireStopped(const char* what) {
  if (gStarted)
    throw EVEXEngineNotStarted(std::string("Cannot ") + what + " while the engine runs");
}

void StopStarted() noexcept {
  std::vector<Step>& started = StartedSteps();
  while (!started.empty()) {
    try {
      started.back().Stop();
    } catch (...) {
      // A stop that raises must not keep the rest from being freed.
    }
    started.pop_back();
  }
}

std::vector<Step> AllSteps() {
  std::vector<Step> all = FoundationSteps();
  const std::vector<Step>& added = AddedSteps();
  all.insert(all.end(), added.begin(), added.end());
  return all;
}

}  // namespace

void AddStartupStep(TVEXStartupLayer Layer, std::string Name, std::function<void()> Start,
                    std::function<void()> Stop) {
  RequireStopped("add a start-up step");
  if (Layer == TVEXStartupLayer::Foundation)
    throw EVEXEngineNotStarted("The foundation's start-up steps are built in");
  std::vector<Step>& steps = AddedSteps();
  const bool taken =
      std::any_of(steps.begin(), steps.end(), [&](const Step& step) { return step.Name == Name; });
  if (taken) throw EVEXEngineNotStarted("Start-up step '" + Name + "' is added already");
  const auto at =
      std::upper_bound(steps.begin(), steps.end(), Layer,
                       [](TVEXStartupLayer layer, const Step& step) { return layer < step.Layer; });
  steps.insert(at, Step{Layer, std::move(Name), std::move(Start), std::move(Stop)});
}

bool RemoveStartupStep(std::string_view Name) {
  RequireStopped("remove a start-up step");
  std::vector<Step>& steps = AddedSteps();
  const auto it =
      std::find_if(steps.begin(), steps.end(), [&](const Step& step) { return step.Name == Name; });
  if (it == steps.end()) return false;
  steps.erase(it);
  return true;
}

void StartEngine() {
  if (gStarted) throw EVEXEngineNotStarted("The engine is started already");
  std::vector<Step>& started = StartedSteps();
  try {
    for (Step& step : AllSteps()) {
      step.Start();
      started.push_back(std::move(step));
    }
  } catch (...) {
    StopStarted();
    throw;
  }
  gStarted = true;
}

void StopEngine() noexcept {
  if (!gStarted) return;
  StopStarted();
  gStarted = false;
}

bool EngineStarted() { return gStarted; }

std::vector<std::string> StartupOrder() {
  std::vector<std::string> names;
  for (const Step& step : AllSteps()) names.push_back(step.Name);
  return names;
}

void RaiseEngineNotStarted(std::string_view State) {
  throw EVEXEngineNotStarted(std::string(State) + " used while the engine is not started");
}

}  // namespace vex
