// One start-up and one shut-down for the process-wide state of the engine and
// of the layers built on it.
//
// The state that exists once per process (the clock and the format settings
// of the platform, the engine's string-format and cipher tables, its memory
// manager, the PPM lock, the bound wide-text functions, the date-format
// keyword length; above them the seams, the shared database list and the
// plug-in's state) is created by StartEngine in one fixed order and freed by
// StopEngine in exactly the reverse order. Nothing is created by static
// initialisation or on first use, so no module depends on the order in which
// the linker happened to place it.
//
// The foundation's own steps are built in and always come first. The layers
// above (storage seams, components, SQL, plug-in) cannot be named here without
// breaking the layering, so they add their steps with AddStartupStep before the
// engine starts: the steps run by layer, and within one layer in the order they
// were added. The plug-in's library load adds its steps and starts the engine;
// its unload stops it. Test programs start the engine in their main.
//
// Contract:
//   - StartEngine runs every step's Start in order. When one raises, the steps
//     already started are stopped in reverse order, the engine is left stopped
//     and the failure passes on: nothing is left half-created.
//   - StopEngine runs every started step's Stop in reverse order and never
//     raises: a Stop must not raise (one that does is ignored, so the rest is
//     still freed).
//   - The engine can be started again after it was stopped, any number of
//     times in one process; each start creates fresh state.
//   - The engine's state used while the engine is stopped raises
//     EVEXEngineNotStarted (except the memory manager, which is a bare pointer
//     and is nil). The platform's clock, format settings and registry store
//     are made here too, but a program that uses the platform alone (its
//     tests, the web-service stand-in) still gets them on first use.
//
// Threads: start and stop while no other thread uses the engine (library load
// and unload, a test program's main). Adding and removing steps likewise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace vex {

// The layers in the order their state is created.
enum class TVEXStartupLayer : uint8_t { Foundation, Storage, Components, Sql, Plugin };

// Raised when process-wide state is used while the engine is stopped, and by
// misuse of the start-up itself (starting twice, adding a step while running).
class EVEXEngineNotStarted : public rtl::Exception {
  using rtl::Exception::Exception;
};

// Adds a step of an upper layer. Name identifies it (for RemoveStartupStep and
// the order list) and must be unique; Stop must not raise. Raises while the
// engine runs, for a duplicate name and for the Foundation layer, whose steps
// are built in.
void AddStartupStep(TVEXStartupLayer Layer, std::string Name, std::function<void()> Start,
                    std::function<void()> Stop);
// Removes an added step; false when there is none of that name. Raises while
// the engine runs.
bool RemoveStartupStep(std::string_view Name);

// Creates the process-wide state (see above). Raises when already started.
void StartEngine();
// Frees it in reverse order; nothing when not started.
void StopEngine() noexcept;
bool EngineStarted();

// The names of every step in the order StartEngine runs them.
std::vector<std::string> StartupOrder();

// Raises EVEXEngineNotStarted naming the state that was asked for.
[[noreturn]] void RaiseEngineNotStarted(std::string_view State);

// Starts the engine for its lifetime, for programs that run without the
// plug-in's library load.
class TVEXEngineScope {
 public:
  TVEXEngineScope() { StartEngine(); }
  ~TVEXEngineScope() { StopEngine(); }
  TVEXEngineScope(const TVEXEngineScope&) = delete;
  TVEXEngineScope& operator=(const TVEXEngineScope&) = delete;
};

}  // namespace vex
