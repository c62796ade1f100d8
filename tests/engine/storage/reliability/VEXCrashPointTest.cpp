// A commit stopped at each of its writes in turn, as a process that dies
// there: a forked child runs the transaction with the write hook set to end
// the process at its k-th write, for k = 1, 2, ... until the commit gets
// through. After each stop a fresh database object opens the file: it asks
// for repair exactly when the stop tore the commit (after the crash marker
// and before the clean header). A clean file holds the rows of before or of
// after the commit in its walk, its primary index and its count alike; a torn
// one, opened for repair, reads the rows of before or of after, or raises an
// engine error for a page the commit had not written, never crashes. Every
// clean outcome passes the file checker; a torn one it reports.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../disk/DiskTableFixture.h"
#include "VEXFileCheck.h"
#include "os/FileFaults.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::DiskCursor;
using testing::DiskSession;
using testing::DiskTableTest;
using testing::TableImage;

constexpr int kStoppedAtWrite = 77;
constexpr int kCommitted = 0;
constexpr int kRaised = 3;

// A transaction: its changes, applied to a cursor of an open table.
struct CrashCase {
  const char* Name;
  int32_t InitialRows;
  std::function<void(TVEXDiskTableData&, DiskCursor&, TableImage&)> Changes;
};

class CrashPointTest : public DiskTableTest, public ::testing::WithParamInterface<CrashCase> {
 public:
  using DiskTableTest::Delete;
  using DiskTableTest::Insert;
  using DiskTableTest::Update;

 protected:
  // What one reopen finds.
  struct Outcome {
    bool RepairNeeded = false;
    TableImage Rows;
    std::vector<int32_t> IndexKeys;
    int64_t Count = -1;
  };

  Outcome Reopen() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Outcome outcome;
    auto db = NewDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    outcome.RepairNeeded = session.RepairNeeded();
    DiskCursor cursor(session, "T");
    auto& data = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(cursor));
    data.SetIsRepairing(outcome.RepairNeeded);
    TVEXDiskTableData& table = Open(*db, cursor);
    outcome.Rows = Walk(table, cursor);
    outcome.IndexKeys = IndexKeys(table, cursor);
    outcome.Count = Count(table, cursor);
    Close(*db, table, cursor);
    session.SetConnected(false);
    return outcome;
  }

  // Runs the case's transaction in a child that ends at its k-th write from
  // the commit on; answers the child's exit code.
  int CommitInChild(const CrashCase& c, uint64_t k) VEX_NO_THREAD_SAFETY_ANALYSIS {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int code = kRaised;
      try {
        auto db = NewDatabase();
        DiskSession session(*db);
        session.SetConnected(true);
        DiskCursor cursor(session, "T");
        TVEXDiskTableData& table = Open(*db, cursor);
        TableImage model;
        session.StartTransaction();
        c.Changes(table, cursor, model);
        os::faults::ArmWriteFault(k, os::faults::WriteFault::ExitProcess, kStoppedAtWrite);
        session.Commit(false);
        code = kCommitted;
      } catch (...) {
      }
      // Whatever else the process would write is left out, as after a crash
      // right after the commit.
      ::_exit(code);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_P(CrashPointTest, EveryStopLeavesTheRowsOfBeforeOrAfterAndAsksForRepairWhenTorn)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  const CrashCase& c = GetParam();
  TableImage before;
  TableImage after;
  {
    auto db = NewDatabase();
    db->CreateDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    CreateTable(*db, session, "T", false);
    DiskCursor cursor(session, "T");
    TVEXDiskTableData& table = Open(*db, cursor);
    for (int32_t key = 1; key <= c.InitialRows; ++key) {
      ASSERT_TRUE(Insert(table, cursor, key, key * 10));
      before[key] = key * 10;
    }
    after = before;
    // The model of the changes, worked out on a copy that is then thrown
    // away: the file keeps the rows of before.
    session.StartTransaction();
    c.Changes(table, cursor, after);
    session.Rollback();
    ASSERT_EQ(Walk(table, cursor), before);
    Close(*db, table, cursor);
    session.SetConnected(false);
  }
  ASSERT_NE(before, after);
  const std::vector<uint8_t> original = testing::ReadWholeFile(PathOf());

  int torn = 0;
  for (uint64_t k = 1;; ++k) {
    SCOPED_TRACE(std::string(c.Name) + ": stopped at write " + std::to_string(k));
    ASSERT_LT(k, 10000u) << "the commit never got through";
    testing::WriteWholeFile(PathOf(), original);
    const int code = CommitInChild(c, k);
    ASSERT_TRUE(code == kStoppedAtWrite || code == kCommitted) << "child exit code " << code;
    if (code == kCommitted || k == 1) {
      // Committed, or stopped before the crash marker: a clean file with the
      // rows of after or of before, and its index and count agree.
      const Outcome outcome = Reopen();
      EXPECT_FALSE(outcome.RepairNeeded);
      EXPECT_EQ(outcome.Rows, code == kCommitted ? after : before);
      std::vector<int32_t> keys;
      for (const auto& [key, value] : outcome.Rows) keys.push_back(key);
      EXPECT_EQ(outcome.IndexKeys, keys);
      EXPECT_EQ(outcome.Count, static_cast<int64_t>(outcome.Rows.size()));
      const TVEXFileCheckReport check = CheckDatabaseFile(PathOf());
      // A process that died before its commit leaves the pages it took in
      // the maps (leaked until a repair); a commit that got through leaks
      // nothing.
      EXPECT_TRUE(check.Sound() && (code != kCommitted || check.LeakedPages.empty()))
          << FormatFileCheckReport(PathOf(), check);
      if (code == kCommitted) {
        EXPECT_GT(k, 2u) << "a commit writes its marker, its pages and the clean header";
        break;
      }
      continue;
    }
    // Torn: the file asks for repair. Its pages are those of before or of
    // after, one by one, so a read meets the rows of before or of after or
    // an engine error for a page the commit had not written yet; the index
    // and the count may trail the rows until the database is repaired.
    ++torn;
    EXPECT_FALSE(CheckDatabaseFile(PathOf()).Sound());
    std::optional<Outcome> outcome;
    const std::optional<EVEXException> raised = testsupport::Caught([&] { outcome = Reopen(); });
    if (raised) {
      EXPECT_EQ(raised->NativeError, 20153) << raised->what();
      continue;
    }
    EXPECT_TRUE(outcome->RepairNeeded);
    EXPECT_TRUE(outcome->Rows == before || outcome->Rows == after)
        << ::testing::PrintToString(outcome->Rows);
  }
  EXPECT_GT(torn, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, CrashPointTest,
    ::testing::Values(
        CrashCase{"a few inserts, updates and deletes", 20,
                  [](TVEXDiskTableData& table, DiskCursor& cursor, TableImage& model) {
                    for (int32_t key = 21; key <= 25; ++key) {
                      ASSERT_TRUE(CrashPointTest::Insert(table, cursor, key, key));
                      model[key] = key;
                    }
                    for (int32_t key : {3, 5, 7}) {
                      ASSERT_TRUE(CrashPointTest::Update(table, cursor, key, -key));
                      model[key] = -key;
                    }
                    for (int32_t key : {10, 11}) {
                      ASSERT_TRUE(CrashPointTest::Delete(table, cursor, key));
                      model.erase(key);
                    }
                  }},
        CrashCase{"inserts that add record and index pages", 50,
                  [](TVEXDiskTableData& table, DiskCursor& cursor, TableImage& model) {
                    for (int32_t key = 51; key <= 650; ++key) {
                      ASSERT_TRUE(CrashPointTest::Insert(table, cursor, key, key));
                      model[key] = key;
                    }
                    for (int32_t key = 1; key <= 40; ++key) {
                      ASSERT_TRUE(CrashPointTest::Delete(table, cursor, key));
                      model.erase(key);
                    }
                  }}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
      return std::string(info.index == 0 ? "FewChanges" : "NewPages");
    });

}  // namespace
}  // namespace vex
