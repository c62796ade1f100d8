#include "OtaDataModule.h"

namespace valmora {

TModuleState& ModuleState() {
  static TModuleState state;
  return state;
}

void ResetModuleState() { ModuleState() = TModuleState{}; }

}  // namespace valmora
