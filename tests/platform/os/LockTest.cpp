#include <string>

#include "os/File.h"
#include "os/OsError.h"
#include "platform/os/OsTestSupport.h"

namespace {

using os::Access;
using os::File;
using os::LockResult;
using os::Share;

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(a.Open(path, Access::ReadWrite, Share::DenyNone, os::Disposition::CreateAlways));
    ASSERT_TRUE(b.Open(path, Access::ReadWrite, Share::DenyNone));
  }
  testsupport::ScratchDir dir;
  std::string path = dir / "locks.vex";
  File a, b;
};

TEST_F(LockTest, TwoHandlesOfOneProcessRefuseEachOthersLocks) {
  const int64_t high = int64_t{1} << 40;
  ASSERT_EQ(a.Lock(100, 10), LockResult::Granted);
  ASSERT_EQ(a.Lock(high, 1), LockResult::Granted);
  EXPECT_EQ(b.Lock(109, 1), LockResult::Refused);
  EXPECT_EQ(os::LastError(), EAGAIN);
  EXPECT_EQ(b.Lock(90, 11), LockResult::Refused);
  EXPECT_EQ(b.Lock(high, 1), LockResult::Refused);
  EXPECT_EQ(b.TestLock(105, 1), LockResult::Refused);
  EXPECT_EQ(b.Lock(110, 5), LockResult::Granted);  // adjacent, not overlapping
  EXPECT_EQ(b.Lock(high + 1, 1), LockResult::Granted);
  ASSERT_EQ(a.Unlock(100, 10), LockResult::Granted);
  EXPECT_EQ(b.Lock(100, 10), LockResult::Granted);
}

TEST_F(LockTest, AHandleCannotNestOrOverlapItsOwnLock) {
  ASSERT_EQ(a.Lock(100, 10), LockResult::Granted);
  for (auto [offset, count] :
       {std::pair<int64_t, int64_t>{100, 10}, {95, 6}, {109, 2}, {104, 1}, {0, 1000}}) {
    EXPECT_EQ(a.Lock(offset, count), LockResult::Refused) << offset << "+" << count;
  }
  EXPECT_EQ(a.Lock(110, 1), LockResult::Granted);
  EXPECT_EQ(a.Lock(99, 1), LockResult::Granted);
  // The refused attempts did not change the held region.
  EXPECT_EQ(b.Lock(105, 1), LockResult::Refused);
}

TEST_F(LockTest, OnlyTheExactRegionHeldCanBeUnlocked) {
  ASSERT_EQ(a.Lock(100, 10), LockResult::Granted);
  EXPECT_EQ(a.Unlock(100, 5), LockResult::Refused);
  EXPECT_EQ(os::LastError(), ENOLCK);
  EXPECT_EQ(a.Unlock(105, 5), LockResult::Refused);
  EXPECT_EQ(a.Unlock(200, 1), LockResult::Refused);
  EXPECT_EQ(b.Unlock(100, 10), LockResult::Refused);  // not b's to release
  EXPECT_EQ(b.Lock(100, 1), LockResult::Refused);
  EXPECT_EQ(b.Lock(109, 1), LockResult::Refused);
  EXPECT_EQ(a.Unlock(100, 10), LockResult::Granted);
  EXPECT_EQ(a.Unlock(100, 10), LockResult::Refused);
}

TEST_F(LockTest, ATrialTestLeavesTheHandlesOwnLocksInPlace) {
  ASSERT_EQ(a.Lock(50, 1), LockResult::Granted);
  EXPECT_EQ(a.TestLock(50, 1), LockResult::Refused);  // its own byte counts as locked
  EXPECT_EQ(a.TestLock(40, 20), LockResult::Refused);
  EXPECT_EQ(b.Lock(50, 1), LockResult::Refused);  // and is still held
  EXPECT_EQ(a.TestLock(60, 1), LockResult::Granted);
  EXPECT_EQ(b.Lock(60, 1), LockResult::Granted);  // a test takes nothing
  EXPECT_EQ(a.TestLock(60, 1), LockResult::Refused);
}

TEST_F(LockTest, BadRegionsAndClosedHandlesFailRatherThanRefuse) {
  for (auto [offset, count] : {std::pair<int64_t, int64_t>{-1, 1},
                               {0, 0},
                               {0, -5},
                               {File::kLockLimit, 1},
                               {File::kLockLimit - 1, 2}}) {
    EXPECT_EQ(a.Lock(offset, count), LockResult::Failed) << offset << "+" << count;
    EXPECT_EQ(os::LastError(), EINVAL);
    EXPECT_EQ(a.TestLock(offset, count), LockResult::Failed);
  }
  EXPECT_EQ(a.Lock(File::kLockLimit - 1, 1), LockResult::Granted);
  File closed;
  EXPECT_EQ(closed.Lock(0, 1), LockResult::Failed);
  EXPECT_EQ(os::LastError(), EBADF);
}

TEST_F(LockTest, ClosingAHandleReleasesItsLocks) {
  ASSERT_EQ(a.Lock(7, 3), LockResult::Granted);
  ASSERT_TRUE(a.Close());
  EXPECT_EQ(b.Lock(7, 3), LockResult::Granted);
  ASSERT_TRUE(a.Open(path, Access::ReadWrite, Share::DenyNone));
  EXPECT_EQ(a.Lock(7, 3), LockResult::Refused);
}

TEST_F(LockTest, AReadOnlyHandleStillLocksAgainstWriters) {
  File reader;
  ASSERT_TRUE(reader.Open(path, Access::Read, Share::DenyNone));
  ASSERT_EQ(reader.Lock(360, 1), LockResult::Granted);
  EXPECT_EQ(a.Lock(360, 1), LockResult::Refused);
}

TEST_F(LockTest, LocksOfAKilledProcessAreFreeAtOnce) {
  ostest::Worker worker({"lock", path, "1000", "4"});
  ASSERT_TRUE(worker.Start());
  EXPECT_EQ(a.Lock(1002, 1), LockResult::Refused);
  EXPECT_EQ(a.TestLock(1000, 4), LockResult::Refused);
  worker.Kill();
  EXPECT_EQ(a.TestLock(1000, 4), LockResult::Granted);
  EXPECT_EQ(a.Lock(1000, 4), LockResult::Granted);
}

}  // namespace
