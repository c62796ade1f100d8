// The main of the plug-in's test programs: the library's load runs before the
// first test and its unload after the last.
#include <gtest/gtest.h>

#include "ValmoraLibrary.h"

namespace {

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { valmora::LibraryLoad(); }
  void TearDown() override { valmora::LibraryUnload(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);  // gtest owns it
  return RUN_ALL_TESTS();
}
