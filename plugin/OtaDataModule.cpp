#include "OtaDataModule.h"

#include <memory>

#include "foundation/VEXStartup.h"

namespace valmora {

namespace {
std::unique_ptr<TModuleState> gState;
}  // namespace

TModuleState& ModuleState() {
  if (!gState) vex::RaiseEngineNotStarted("The plug-in's module state");
  return *gState;
}

void ResetModuleState() { ModuleState() = TModuleState{}; }

void CreateModuleState() { gState = std::make_unique<TModuleState>(); }

void FreeModuleState() noexcept { gState.reset(); }

}  // namespace valmora
