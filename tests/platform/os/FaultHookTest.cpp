#include <string>

#include "os/File.h"
#include "os/FileFaults.h"
#include "os/OsError.h"
#include "platform/os/OsTestSupport.h"

namespace {

using os::faults::WriteFault;

class FaultHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(file.Open(path, os::Access::ReadWrite, os::Share::Exclusive,
                          os::Disposition::CreateAlways));
  }
  void TearDown() override { os::faults::DisarmWriteFault(); }

  // Writes one byte per record; returns which writes succeeded as "+" and "-".
  std::string WriteRecords(int n) {
    std::string outcome;
    for (int i = 0; i < n; ++i) {
      bool ok = file.Write("r", 1, i);
      outcome += ok ? '+' : '-';
      if (!ok) {
        EXPECT_EQ(os::LastError(), EIO);
      }
    }
    return outcome;
  }

  testsupport::ScratchDir dir;
  std::string path = dir / "faults.vex";
  os::File file;
};

TEST_F(FaultHookTest, FailsTheKthWriteOnceOrFromThenOn) {
  os::faults::ArmWriteFault(3, WriteFault::FailOnce);
  EXPECT_EQ(WriteRecords(5), "++-++");
  char third = 0;
  size_t got = 0;
  ASSERT_TRUE(file.Read(&third, 1, 2, &got));
  EXPECT_EQ(third, '\0');  // the failed write wrote nothing
  os::faults::ArmWriteFault(2, WriteFault::FailFromThen);
  EXPECT_EQ(WriteRecords(4), "+---");
  EXPECT_EQ(os::faults::WritesCounted(), 4u);
  os::faults::DisarmWriteFault();
  EXPECT_EQ(WriteRecords(2), "++");
}

TEST_F(FaultHookTest, EndsAWriterProcessAtWriteK) {
  ASSERT_TRUE(file.Close());
  ostest::Worker worker({"write", path, "4", "10"});
  EXPECT_FALSE(worker.Start());  // it ends before it could report
  EXPECT_EQ(worker.Wait(), 42);
  os::File check;
  ASSERT_TRUE(check.Open(path, os::Access::Read, os::Share::DenyNone));
  int64_t size = 0;
  ASSERT_TRUE(check.GetSize(size));
  EXPECT_EQ(size, 3 * 8);  // three whole records, nothing of the fourth
}

}  // namespace
