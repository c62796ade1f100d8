// Several processes on one database file: disk_worker programs change rows
// of their own key ranges in the one table at the same time, each commit
// racing the others for the header byte, the table locks and shared pages.
// A watchdog ends them and fails the test when they overrun (a hang is a
// fault, never a stuck CI job). Afterwards the file holds exactly the union
// of what the workers saw committed, its primary index and record count
// agree with a full walk, the record page index is sound and the file
// passes the file checker. Workers run
// one after another too, which proves the hand-over of the file between
// processes apart from the races.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../disk/DiskTableFixture.h"
#include "VEXFileCheck.h"
#include "support/NativeError.h"
#include "support/WorkerProcesses.h"

extern char** environ;

namespace vex {
namespace {

using testing::DiskCursor;
using testing::DiskSession;
using testing::DiskTableTest;
using testing::TableImage;

constexpr auto kWatchdog = std::chrono::seconds(120);

using Workers = testsupport::WorkerProcesses;

TableImage ReadReport(const std::string& path) {
  TableImage rows;
  std::ifstream in(path);
  int32_t key = 0;
  int32_t value = 0;
  while (in >> key >> value) rows[key] = value;
  return rows;
}

class MultiProcessTest : public DiskTableTest {
 protected:
  // Runs kWorkers workers on a new file with one table, all at once or one
  // after another, then checks the file against the union of their reports.
  void RunWorkers(bool atOnce, const std::string& insertShare) VEX_NO_THREAD_SAFETY_ANALYSIS {
    {
      auto db = NewDatabase();
      db->CreateDatabase();
      DiskSession session(*db);
      session.SetConnected(true);
      CreateTable(*db, session, "T", false);
      session.SetConnected(false);
    }
    constexpr int kWorkers = 4;
    constexpr int kOperations = 60;
    std::vector<int> codes;
    Workers workers(DISK_WORKER);
    for (int w = 1; w <= kWorkers; ++w) {
      workers.Start({PathOf(), std::to_string(w), std::to_string(kOperations),
                     std::to_string(20261211 + w), PathOf("worker" + std::to_string(w)),
                     insertShare});
      if (!atOnce) {
        const std::vector<int> one = workers.WaitAll(kWatchdog);
        codes.insert(codes.end(), one.begin(), one.end());
      }
    }
    if (atOnce) codes = workers.WaitAll(kWatchdog);
    for (int w = 1; w <= kWorkers; ++w)
      ASSERT_EQ(codes[static_cast<size_t>(w - 1)], 0) << "worker " << w << " (-1: killed)";

    TableImage expected;
    for (int w = 1; w <= kWorkers; ++w) {
      const TableImage rows = ReadReport(PathOf("worker" + std::to_string(w)));
      expected.insert(rows.begin(), rows.end());
    }
    ASSERT_FALSE(expected.empty());

    auto db = NewDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    EXPECT_FALSE(session.RepairNeeded());
    DiskCursor cursor(session, "T");
    TVEXDiskTableData& table = Open(*db, cursor);
    EXPECT_EQ(Walk(table, cursor), expected);
    std::vector<int32_t> keys;
    for (const auto& [key, value] : expected) keys.push_back(key);
    EXPECT_EQ(IndexKeys(table, cursor), keys);
    EXPECT_EQ(Count(table, cursor), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(testsupport::CodeOf([&] {
                TVEXLockGuard lock(db->DatabaseLock());
                table.DiskRecordManager()->ValidateRecordPageIndex(cursor.GetSessionID());
              }),
              0);
    Close(*db, table, cursor);
    session.SetConnected(false);
    const TVEXFileCheckReport check = CheckDatabaseFile(PathOf());
    EXPECT_TRUE(check.Sound() && check.LeakedPages.empty()) << FormatFileCheckReport(PathOf(), check);
  }
};

TEST_F(MultiProcessTest, WorkersOneAfterAnotherLeaveExactlyTheUnionOfTheirCommits) {
  RunWorkers(false, "50");
}

// Each worker takes the table's write lock inside its transaction, as a
// cursor posting does, so the races left are those the locks must settle:
// counters another connection committed meanwhile, cached pages and the
// header byte.
TEST_F(MultiProcessTest, ConcurrentInsertersLeaveExactlyTheUnionOfTheirCommits) {
  RunWorkers(true, "100");
}

TEST_F(MultiProcessTest, ConcurrentWorkersLeaveExactlyTheUnionOfTheirCommits) {
  RunWorkers(true, "50");
}

}  // namespace
}  // namespace vex
