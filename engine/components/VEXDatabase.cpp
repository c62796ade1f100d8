#include "components/VEXDatabase.h"

namespace vex {

TVEXDatabase::TVEXDatabase(rtl::TComponent* AOwner) : rtl::TComponent(AOwner) {}

}  // namespace vex
