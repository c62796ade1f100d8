#include "ValmoraLibrary.h"

#include "OtaDataModule.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"
#include "registry/Registry.h"
#include "sql/expression/VEXExpression.h"

namespace valmora {

namespace {
constexpr const char* kRegistryStep = "registry store";
constexpr const char* kModuleStateStep = "plug-in module state";

void RemoveSteps() noexcept {
  try {
    vex::RemoveStartupStep(kModuleStateStep);
    vex::RemoveStartupStep(kRegistryStep);
    vex::RemoveSqlStartupSteps();
    vex::RemoveComponentsStartupSteps();
  } catch (...) {
    // Only raises while the engine runs, which the callers rule out.
  }
}
}  // namespace

void LibraryLoad() {
  try {
    vex::AddComponentsStartupSteps();
    vex::AddSqlStartupSteps();
    vex::AddStartupStep(vex::TVEXStartupLayer::Plugin, kRegistryStep, reg::CreateCurrentUserStore,
                        reg::FreeCurrentUserStore);
    vex::AddStartupStep(vex::TVEXStartupLayer::Plugin, kModuleStateStep, CreateModuleState,
                        FreeModuleState);
    vex::StartEngine();
  } catch (...) {
    RemoveSteps();
    throw;
  }
}

void LibraryUnload() noexcept {
  vex::StopEngine();
  RemoveSteps();
}

}  // namespace valmora
