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

extern char** environ;

namespace vex {
namespace {

using testing::DiskCursor;
using testing::DiskSession;
using testing::DiskTableTest;
using testing::TableImage;

constexpr auto kWatchdog = std::chrono::seconds(120);

// The workers started by one test; any still running when it ends are
// killed, so no worker outlives its test.
class Workers {
 public:
  ~Workers() {
    for (pid_t pid : FRunning) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  void Start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(DISK_WORKER));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, DISK_WORKER, nullptr, nullptr, argv.data(), environ), 0);
    FRunning.push_back(pid);
  }

  // Waits for every worker until the deadline; their exit codes, or -1 for
  // each worker the watchdog had to kill (or that died of a signal).
  std::vector<int> WaitAll(std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<int> codes(FRunning.size(), -1);
    std::vector<bool> ended(FRunning.size(), false);
    size_t left = FRunning.size();
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
      for (size_t i = 0; i < FRunning.size(); ++i) {
        if (ended[i]) continue;
        int status = 0;
        if (::waitpid(FRunning[i], &status, WNOHANG) == FRunning[i]) {
          ended[i] = true;
          --left;
          codes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<pid_t> stuck;
    for (size_t i = 0; i < FRunning.size(); ++i)
      if (!ended[i]) stuck.push_back(FRunning[i]);
    FRunning = stuck;  // the destructor kills them
    return codes;
  }

 private:
  std::vector<pid_t> FRunning;
};

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
    Workers workers;
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
