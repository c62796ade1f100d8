// A separate process for the lock workloads of the multi-user tests, on the
// tables of DiskTableFixture.h (an Integer key K with a primary index and an
// Integer value V) in a file the test made:
//
//   lock_worker counter <database> <edits> <objects>
//       Adds 1 to V of row K=1 of table "C", <edits> times per database
//       object; <objects> is 1, or 2 for two database objects on the file,
//       each with its own session, on two threads. An edit takes the row's
//       record lock and the table's write lock, reads V afresh, writes V+1
//       and commits; a refused lock or a change another connection holds
//       off is rolled back and tried again.
//   lock_worker transfer <database> <transactions> <seed> <report>
//       Each transaction locks tables "A" and "B" for writing in a random
//       order and adds one amount to a random row of each; refused, it rolls
//       back and tries again. The sum of the amounts committed goes to
//       <report>.
//   lock_worker hold <database> <ready file>
//       Takes a connection slot, the record lock of row K=1 of table "T" and
//       the table lock ltSIRW on "T", then creates <ready file> and sleeps
//       until it is killed.
//
// Exit 0 when done, 2 for bad arguments, 3 when a change stays refused, 4
// when anything else fails (the message goes to stderr).
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>

#include "../../disk/DiskTableFixture.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"

namespace {

using vex::EVEXException;
using vex::TVEXDiskDatabaseData;
using vex::TVEXDiskTableData;
using vex::testing::DiskCursor;
using vex::testing::DiskSession;

// The table helpers of the disk tests, reached without a test object.
struct Table : vex::testing::DiskTableTest {
  using DiskTableTest::Close;
  using DiskTableTest::Open;
  using DiskTableTest::Seek;
  using DiskTableTest::Update;
  using DiskTableTest::ValueOf;
  void TestBody() override {}
};

// Refusals in a row after which the others never let go: a fault, not a wait.
constexpr int kTries = 2000;

struct Refused {};

void Pause(std::mt19937& random) { ::usleep(static_cast<useconds_t>(500 + random() % 3000)); }

bool LockForWriting(TVEXDiskTableData& table, DiskCursor& cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  vex::TVEXLockGuard lock(table.DatabaseLock());
  return table.LockTable(cursor.GetSessionID(), vex::ltXIRW, 1, 0, true);
}

// The value of row `key` as committed now; Refused when the read is held off.
int32_t ReadValue(TVEXDiskTableData& table, DiskCursor& cursor, int32_t key) {
  if (!Table::Seek(table, cursor, key)) throw Refused{};
  return Table::ValueOf(table, cursor);
}

// Runs one transaction until it commits: Work throws Refused (or the engine
// raises) for a lock another connection holds, and everything is rolled back
// and tried again after a pause.
template <class Work>
void Transaction(DiskSession& session, std::mt19937& random, Work work) {
  for (int attempt = 0; attempt < kTries; ++attempt) {
    try {
      session.StartTransaction();
      work();
      session.Commit(false);
      return;
    } catch (const Refused&) {
    } catch (const EVEXException&) {
    }
    if (session.InTransaction()) session.Rollback();
    Pause(random);
  }
  throw Refused{};
}

// One database object's share of the counter edits. The record lock is held
// from before the read until after the commit.
void CountEdits(const std::string& path, int edits, uint32_t seed) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDiskDatabaseData db;
  db.SetDatabaseName(path);
  DiskSession session(db, true);
  session.SetConnected(true);
  DiskCursor cursor(session, "C");
  TVEXDiskTableData& table = Table::Open(db, cursor);
  std::mt19937 random(seed);
  const auto lockRecord = [&](vex::TVEXPageItemID row) VEX_NO_THREAD_SAFETY_ANALYSIS {
    vex::TVEXLockGuard lock(db.DatabaseLock());
    return table.LockRecord(cursor.GetSessionID(), row, 1, 0);
  };
  for (int done = 0; done < edits; ++done) {
    bool stored = false;
    for (int attempt = 0; attempt < kTries && !stored; ++attempt) {
      if (attempt > 0) Pause(random);
      try {
        if (!Table::Seek(table, cursor, 1) || !lockRecord(cursor.CurrentRecordID)) continue;
      } catch (const EVEXException&) {
        continue;
      }
      const vex::TVEXPageItemID row = cursor.CurrentRecordID;
      vex::ScopeExit unlock([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
        vex::TVEXLockGuard lock(db.DatabaseLock());
        table.UnlockRecord(cursor.GetSessionID(), row);
      });
      try {
        session.StartTransaction();
        if (LockForWriting(table, cursor)) {
          const int32_t value = ReadValue(table, cursor, 1);
          if (Table::Update(table, cursor, 1, value + 1)) {
            session.Commit(false);
            stored = true;
          }
        }
      } catch (const Refused&) {
      } catch (const EVEXException&) {
      }
      if (session.InTransaction()) session.Rollback();
    }
    if (!stored) throw Refused{};
  }
  Table::Close(db, table, cursor);
  session.SetConnected(false);
}

int Counter(const std::string& path, int edits, int objects) {
  if (objects == 1) {
    CountEdits(path, edits, static_cast<uint32_t>(::getpid()));
    return 0;
  }
  // The worst exit code of the two threads.
  std::atomic<int> code{0};
  auto run = [&](uint32_t seed) {
    int mine = 0;
    try {
      CountEdits(path, edits, seed);
    } catch (const Refused&) {
      mine = 3;
    } catch (const std::exception& e) {
      std::cerr << "lock_worker counter thread: " << e.what() << '\n';
      mine = 4;
    }
    int seen = code.load();
    while (mine > seen && !code.compare_exchange_weak(seen, mine)) {
    }
  };
  std::thread first(run, static_cast<uint32_t>(::getpid()) * 2);
  std::thread second(run, static_cast<uint32_t>(::getpid()) * 2 + 1);
  first.join();
  second.join();
  return code.load();
}

int Transfer(const std::string& path, int transactions, uint32_t seed,
             const std::string& report) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDiskDatabaseData db;
  db.SetDatabaseName(path);
  DiskSession session(db, true);
  session.SetConnected(true);
  DiskCursor cursorA(session, "A");
  DiskCursor cursorB(session, "B");
  TVEXDiskTableData& a = Table::Open(db, cursorA);
  TVEXDiskTableData& b = Table::Open(db, cursorB);
  std::mt19937 random(seed);
  int64_t total = 0;
  for (int t = 0; t < transactions; ++t) {
    const auto amount = static_cast<int32_t>(1 + random() % 9);
    const bool aFirst = random() % 2 == 0;
    const auto keyA = static_cast<int32_t>(1 + random() % 8);
    const auto keyB = static_cast<int32_t>(1 + random() % 8);
    Transaction(session, random, [&] {
      TVEXDiskTableData& one = aFirst ? a : b;
      TVEXDiskTableData& two = aFirst ? b : a;
      if (!LockForWriting(one, aFirst ? cursorA : cursorB)) throw Refused{};
      if (!LockForWriting(two, aFirst ? cursorB : cursorA)) throw Refused{};
      if (!Table::Update(a, cursorA, keyA, ReadValue(a, cursorA, keyA) + amount)) throw Refused{};
      if (!Table::Update(b, cursorB, keyB, ReadValue(b, cursorB, keyB) + amount)) throw Refused{};
    });
    total += amount;
  }
  Table::Close(db, a, cursorA);
  Table::Close(db, b, cursorB);
  session.SetConnected(false);
  std::ofstream out(report, std::ios::trunc);
  out << total << '\n';
  out.close();
  return out ? 0 : 4;
}

int Hold(const std::string& path, const std::string& ready) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDiskDatabaseData db;
  db.SetDatabaseName(path);
  DiskSession session(db, true);
  session.SetConnected(true);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Table::Open(db, cursor);
  if (!Table::Seek(table, cursor, 1)) return 4;
  {
    vex::TVEXLockGuard lock(db.DatabaseLock());
    // The record lock first: under a table write lock it would be logical
    // and hold no byte of its own.
    if (!table.LockRecord(cursor.GetSessionID(), cursor.CurrentRecordID, 1, 0)) return 3;
    if (!table.LockTable(cursor.GetSessionID(), vex::ltSIRW, 1, 0, true)) return 3;
  }
  std::ofstream(ready) << "held\n";
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool valid = (mode == "counter" && argc == 5) || (mode == "transfer" && argc == 6) ||
                     (mode == "hold" && argc == 4);
  if (!valid) {
    std::cerr << "usage: lock_worker counter <database> <edits> <objects>\n"
                 "       lock_worker transfer <database> <transactions> <seed> <report>\n"
                 "       lock_worker hold <database> <ready file>\n";
    return 2;
  }
  vex::AddComponentsStartupSteps();
  vex::AddSqlStartupSteps();
  vex::StartEngine();
  int code = 4;
  try {
    if (mode == "counter") code = Counter(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "transfer")
      code = Transfer(argv[2], std::atoi(argv[3]),
                      static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), argv[5]);
    if (mode == "hold") code = Hold(argv[2], argv[3]);
  } catch (const Refused&) {
    std::cerr << "lock_worker " << mode << ": a change stayed refused\n";
    code = 3;
  } catch (const std::exception& e) {
    std::cerr << "lock_worker " << mode << ": " << e.what() << '\n';
  }
  vex::StopEngine();
  return code;
}
