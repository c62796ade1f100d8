// The engine's one start-up and shut-down: the fixed order, the reverse order
// on the way down, starting again in the same process, and a failing step.
// The test program's main has started the engine; each test stops it first and
// starts it again at the end, so the other tests find it running.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/VEXCipher.h"
#include "foundation/VEXDateFormat.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXPPM.h"
#include "foundation/VEXStartup.h"
#include "foundation/VEXWideText.h"

namespace vex {
namespace {

class VEXStartup : public ::testing::Test {
 protected:
  void SetUp() override { StopEngine(); }
  void TearDown() override {
    StopEngine();
    for (const char* name : {"storage seams", "component lists", "plug-in state", "failing"})
      RemoveStartupStep(name);
    StartEngine();
  }
  // Adds a step of an upper layer that records its start and stop in events.
  void AddRecordingStep(TVEXStartupLayer layer, const std::string& name) {
    AddStartupStep(
        layer, name, [this, name] { events.push_back("start " + name); },
        [this, name] { events.push_back("stop " + name); });
  }
  std::vector<std::string> events;
};

// Every piece of the foundation's state, used as the engine's code uses it.
void ExpectFoundationStateUsable() {
  void* block = MemoryManager->GetMem(16);
  MemoryManager->FreeMem(block);
  EXPECT_EQ(MemoryManager->TotalMemAllocated(), 0);
  { TVEXLockGuard held(PpmLock()); }
  ASSERT_EQ(GetCipherList().size(), 1u);
  EXPECT_EQ(GetCipherList()[0].Text, "Rijndael=");
  EXPECT_EQ(UpperCaseWideText(u"abc"), u"ABC");
  EXPECT_EQ(MaxDateFormatKeywordLength(), 5);
}

void ExpectFoundationStateGone() {
  EXPECT_EQ(MemoryManager, nullptr);
  EXPECT_THROW(PpmLock(), EVEXEngineNotStarted);
  EXPECT_THROW(GetCipherList(), EVEXEngineNotStarted);
  EXPECT_THROW(BoundTextFunctions(), EVEXEngineNotStarted);
  EXPECT_THROW(MaxDateFormatKeywordLength(), EVEXEngineNotStarted);
}

TEST_F(VEXStartup, StartsAndStopsTwiceInOneProcessInAFixedOrder) {
  // Added out of layer order: the start-up orders them by layer.
  AddRecordingStep(TVEXStartupLayer::Plugin, "plug-in state");
  AddRecordingStep(TVEXStartupLayer::Storage, "storage seams");
  AddRecordingStep(TVEXStartupLayer::Components, "component lists");
  EXPECT_EQ(StartupOrder(),
            (std::vector<std::string>{"clock", "format settings", "cipher tables", "memory manager",
                                      "PPM lock", "wide-text functions", "date-format keywords",
                                      "storage seams", "component lists", "plug-in state"}));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    events.clear();
    ExpectFoundationStateGone();
    StartEngine();
    EXPECT_TRUE(EngineStarted());
    ExpectFoundationStateUsable();
    // A cipher listed in this round is gone with the list in the next.
    AddCipherClass(TCipher_Blowfish::Class(), "", "");
    EXPECT_EQ(GetCipherList().size(), 2u);
    StopEngine();
    EXPECT_FALSE(EngineStarted());
    ExpectFoundationStateGone();
    EXPECT_EQ(events, (std::vector<std::string>{"start storage seams", "start component lists",
                                                "start plug-in state", "stop plug-in state",
                                                "stop component lists", "stop storage seams"}));
  }
  StopEngine();  // stopping a stopped engine does nothing
}

TEST_F(VEXStartup, AFailingStepLeavesNothingCreated) {
  AddRecordingStep(TVEXStartupLayer::Storage, "storage seams");
  AddStartupStep(
      TVEXStartupLayer::Components, "failing", [] { throw rtl::Exception("no database list"); },
      [this] { events.push_back("stop failing"); });
  AddRecordingStep(TVEXStartupLayer::Plugin, "plug-in state");
  try {
    StartEngine();
    ADD_FAILURE() << "the start-up did not fail";
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.what(), "no database list");
  }
  EXPECT_FALSE(EngineStarted());
  EXPECT_EQ(events, (std::vector<std::string>{"start storage seams", "stop storage seams"}));
  ExpectFoundationStateGone();

  RemoveStartupStep("failing");
  StartEngine();
  ExpectFoundationStateUsable();
}

TEST_F(VEXStartup, StartingTwiceAndChangingStepsWhileRunningAreRefused) {
  StartEngine();
  EXPECT_THROW(StartEngine(), EVEXEngineNotStarted);
  EXPECT_THROW(AddRecordingStep(TVEXStartupLayer::Storage, "storage seams"), EVEXEngineNotStarted);
  EXPECT_THROW(RemoveStartupStep("storage seams"), EVEXEngineNotStarted);
  StopEngine();
  EXPECT_THROW(AddRecordingStep(TVEXStartupLayer::Foundation, "storage seams"),
               EVEXEngineNotStarted);
  AddRecordingStep(TVEXStartupLayer::Storage, "storage seams");
  EXPECT_THROW(AddRecordingStep(TVEXStartupLayer::Sql, "storage seams"), EVEXEngineNotStarted);
}

}  // namespace
}  // namespace vex
