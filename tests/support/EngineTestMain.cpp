// The main of the engine's test programs: the engine is started before the
// first test and stopped after the last, as the library's load and unload do.
#include <gtest/gtest.h>

#include "foundation/VEXStartup.h"
#ifdef VALMORA_TEST_ENGINE_LIBRARY
#include "components/VEXEngineState.h"
#include "sql/expression/VEXExpression.h"
#endif

namespace {

class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
#ifdef VALMORA_TEST_ENGINE_LIBRARY
    vex::AddComponentsStartupSteps();
    vex::AddSqlStartupSteps();
#endif
    vex::StartEngine();
  }
  void TearDown() override { vex::StopEngine(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new EngineEnvironment);  // gtest owns it
  return RUN_ALL_TESTS();
}
