// The RAII kit: block owners, scope guards and the report of a failure met
// while releasing.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXGuards.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testsupport::RaisesNativeError;

std::vector<std::string>& Reported() {
  static std::vector<std::string> reported;
  return reported;
}

// Collects what ReportReleaseFault hands on, for one test.
class CollectReleaseFaults {
 public:
  CollectReleaseFaults() {
    Reported().clear();
    FPrevious =
        SetReleaseFaultHandler([](const std::exception& e) { Reported().push_back(e.what()); });
  }
  ~CollectReleaseFaults() { SetReleaseFaultHandler(FPrevious); }

 private:
  TVEXReleaseFaultHandler FPrevious;
};

void DamageEndMark(TVEXMemoryManager& mm, void* block) {
  static_cast<unsigned char*>(block)[mm.GetMemoryBufferSize(block)] ^= 0xFF;
}

TEST(VEXMemBlock, AMovedOwnerFreesTheBlockOnceAndAReleasedOneNotAtAll) {
  TVEXMemoryManager mm;
  TVEXMemBlock first(mm.GetMem(16), &mm);
  void* const block = first.Get();
  {
    TVEXMemBlock second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), block);
    TVEXMemBlock third(mm.GetMem(8), &mm);
    third = std::move(second);  // frees the 8 bytes it held
    EXPECT_EQ(mm.TotalMemAllocated(), 16);
  }
  EXPECT_EQ(mm.TotalMemAllocated(), 0);

  void* kept = TVEXMemBlock(mm.AllocMem(4), &mm).Release();
  EXPECT_EQ(mm.TotalMemAllocated(), 4);
  mm.FreeAndNillMem(kept);
}

TEST(VEXMemBlock, ADamagedBlockIsReportedNotRaisedWhileUnwinding) {
  CollectReleaseFaults collect;
  TVEXMemoryManager mm;
  EXPECT_THROW(
      {
        TVEXMemBlock block(mm.GetMem(16), &mm);
        DamageEndMark(mm, block.Get());
        throw std::runtime_error("work failed");
      },
      std::runtime_error);
  ASSERT_EQ(Reported().size(), 1u);
  EXPECT_NE(Reported()[0].find("Native error: 30137"), std::string::npos) << Reported()[0];
  EXPECT_EQ(mm.TotalMemAllocated(), 0);

  // Freed explicitly on the normal path, the damage is raised.
  TVEXMemBlock block(mm.GetMem(16), &mm);
  DamageEndMark(mm, block.Get());
  EXPECT_THAT([&] { block.Free(); }, RaisesNativeError(30137));
  EXPECT_FALSE(block);
  EXPECT_EQ(Reported().size(), 1u);
}

TEST(ScopeGuards, ExitRunsOnEveryWayOutAndFailureOnlyWhenAnExceptionLeaves) {
  struct Outcome {
    int exits = 0;
    int failures = 0;
  };
  auto run = [](bool raise, Outcome& o) {
    ScopeExit exit([&o] { ++o.exits; });
    ScopeFailure failure([&o] { ++o.failures; });
    if (raise) throw std::runtime_error("failed");
  };
  Outcome normal, raised;
  run(false, normal);
  EXPECT_THROW(run(true, raised), std::runtime_error);
  EXPECT_EQ(normal.exits, 1);
  EXPECT_EQ(normal.failures, 0);
  EXPECT_EQ(raised.exits, 1);
  EXPECT_EQ(raised.failures, 1);

  // A guard made while another exception unwinds (in a destructor) counts
  // only a failure of its own scope.
  int failures = 0;
  struct CleansUp {
    int& failures;
    ~CleansUp() {
      ScopeFailure failure([this] { ++failures; });
    }
  };
  EXPECT_THROW(
      {
        CleansUp cleanup{failures};
        throw std::runtime_error("failed");
      },
      std::runtime_error);
  EXPECT_EQ(failures, 0);

  int dismissed = 0;
  {
    ScopeExit exit([&dismissed] { ++dismissed; });
    exit.Dismiss();
  }
  EXPECT_EQ(dismissed, 0);
}

}  // namespace
}  // namespace vex
