// The locks between connections under load, with lock_worker processes on one
// database file (a watchdog fails the test when a worker overruns: a hang is
// a fault):
//   - record-locked edits of one counter by four processes, one of them with
//     two database objects on two threads, lose and double no increment;
//   - transactions that lock two tables in random order and add one amount to
//     each keep the two sums equal and lose no transaction;
//   - a process killed while it holds a connection slot, a table lock and a
//     record lock leaves all three to the others at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../disk/DiskTableFixture.h"
#include "support/NativeError.h"
#include "support/WorkerProcesses.h"

namespace vex {
namespace {

using testing::DiskCursor;
using testing::DiskSession;
using testing::DiskTableTest;
using testing::TableImage;

constexpr auto kWatchdog = std::chrono::seconds(180);
using Workers = testsupport::WorkerProcesses;

class LockWorkloadTest : public DiskTableTest {
 protected:
  // A new file with the tables named, each with rows K = 1 .. rows, V = 0.
  void MakeFile(const std::vector<std::string>& tables, int32_t rows,
                int32_t maxSessions = 8) VEX_NO_THREAD_SAFETY_ANALYSIS {
    auto db = NewDatabase("db.vex", maxSessions);
    db->CreateDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    for (const std::string& name : tables) {
      CreateTable(*db, session, name, false);
      DiskCursor cursor(session, name);
      TVEXDiskTableData& table = Open(*db, cursor);
      for (int32_t key = 1; key <= rows; ++key) ASSERT_TRUE(Insert(table, cursor, key, 0));
      Close(*db, table, cursor);
    }
    session.SetConnected(false);
  }

  TableImage Rows(const std::string& name) VEX_NO_THREAD_SAFETY_ANALYSIS {
    auto db = NewDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    EXPECT_FALSE(session.RepairNeeded());
    DiskCursor cursor(session, name);
    TVEXDiskTableData& table = Open(*db, cursor);
    TableImage rows = Walk(table, cursor);
    Close(*db, table, cursor);
    session.SetConnected(false);
    return rows;
  }

  static int64_t Sum(const TableImage& rows) {
    int64_t sum = 0;
    for (const auto& [key, value] : rows) sum += value;
    return sum;
  }
};

TEST_F(LockWorkloadTest, FourProcessesCountEveryRecordLockedEditExactlyOnce) {
  MakeFile({"C"}, 1);
  constexpr int kEdits = 250;
  Workers workers(LOCK_WORKER);
  // The last process shares its edits between two database objects on two
  // threads, which lock against each other as two processes do.
  const std::vector<std::string> objects = {"1", "1", "1", "2"};
  for (const std::string& o : objects)
    workers.Start({"counter", PathOf(), std::to_string(o == "2" ? kEdits / 2 : kEdits), o});
  const std::vector<int> codes = workers.WaitAll(kWatchdog);
  for (size_t w = 0; w < codes.size(); ++w)
    ASSERT_EQ(codes[w], 0) << "worker " << w << " (-1: killed by the watchdog)";
  EXPECT_EQ(Rows("C"), (TableImage{{1, 4 * kEdits}}));
}

TEST_F(LockWorkloadTest, TransactionsOverTwoTablesInRandomOrderKeepTheirSumsEqual) {
  MakeFile({"A", "B"}, 8);
  constexpr int kWorkers = 4;
  constexpr int kTransactions = 80;
  Workers workers(LOCK_WORKER);
  for (int w = 0; w < kWorkers; ++w) {
    workers.Start({"transfer", PathOf(), std::to_string(kTransactions), std::to_string(7 + w),
                   PathOf("report" + std::to_string(w))});
  }
  const std::vector<int> codes = workers.WaitAll(kWatchdog);
  int64_t committed = 0;
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_EQ(codes[static_cast<size_t>(w)], 0) << "worker " << w << " (-1: killed)";
    int64_t total = -1;
    std::ifstream(PathOf("report" + std::to_string(w))) >> total;
    ASSERT_GT(total, 0);
    committed += total;
  }
  EXPECT_EQ(Sum(Rows("A")), committed);
  EXPECT_EQ(Sum(Rows("B")), committed);
}

TEST_F(LockWorkloadTest, AKilledProcessLeavesItsSlotTableLockAndRecordLockFreeAtOnce)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  // Two slots: the worker's and this test's first session.
  MakeFile({"T"}, 3, 2);
  const std::string ready = PathOf("ready");
  Workers workers(LOCK_WORKER);
  workers.Start({"hold", PathOf(), ready});
  const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
  while (!std::filesystem::exists(ready) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(std::filesystem::exists(ready)) << "the worker never took its locks";

  auto db = NewDatabase("db.vex", 2);
  DiskSession session(*db, true);
  session.SetConnected(true);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Open(*db, cursor);
  ASSERT_TRUE(Seek(table, cursor, 1));
  const TVEXPageItemID row = cursor.CurrentRecordID;
  const int32_t id = cursor.GetSessionID();
  DiskSession second(*db, true);
  // One try each, no wait: what the worker holds is refused while it lives,
  // and free the moment it is gone.
  const auto everythingRefused = [&] {
    TVEXLockGuard lock(db->DatabaseLock());
    return !table.LockRecord(id, row, 1, 0) && !table.LockTable(id, ltX, 1, 0, true);
  };
  EXPECT_TRUE(everythingRefused());
  EXPECT_EQ(testsupport::CodeOf([&] { second.SetConnected(true); }), 20094);

  workers.Kill(0);
  {
    TVEXLockGuard lock(db->DatabaseLock());
    EXPECT_TRUE(table.LockRecord(id, row, 1, 0));
    EXPECT_TRUE(table.UnlockRecord(id, row));
    EXPECT_TRUE(table.LockTable(id, ltX, 1, 0, true));
    EXPECT_TRUE(table.UnlockTable(id, ltX, false));
  }
  EXPECT_EQ(testsupport::CodeOf([&] { second.SetConnected(true); }), 0);
  second.SetConnected(false);
  Close(*db, table, cursor);
  session.SetConnected(false);
}

}  // namespace
}  // namespace vex
