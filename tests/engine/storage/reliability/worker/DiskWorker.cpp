// A separate process on a shared database file, for the multi-process tests:
//
//   disk_worker <database file> <worker number> <operations> <seed> <report file>
//               [<share of inserts in percent, 50 when left out>]
//
// It connects a multi-user session to the file, opens table "T" (the test's
// table of DiskTableFixture.h) and makes the given number of random inserts,
// updates and deletes, each in a transaction of its own, on keys of its own
// range (worker number x 1,000,000 upwards); an update or delete first finds
// its row by a walk, and a row it committed that the walk no longer finds is
// reported as lost. A change refused by another
// connection (a lock, the header byte) is rolled back and tried again. Only
// after a commit returned does the change enter the worker's model; at the
// end the model goes to the report file as "key value" lines, and the worker
// exits 0. Exit 2 for bad arguments, 3 when a change stays refused, 4 when
// anything else fails (the message goes to stderr).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>

#include "../../disk/DiskTableFixture.h"
#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"

namespace {

using vex::EVEXException;
using vex::TVEXDiskDatabaseData;
using vex::TVEXDiskTableData;
using vex::testing::DiskCursor;
using vex::testing::DiskSession;
using vex::testing::TableImage;

// The table helpers of the disk tests, reached without a test object.
struct Table : vex::testing::DiskTableTest {
  using DiskTableTest::Close;
  using DiskTableTest::Delete;
  using DiskTableTest::Insert;
  using DiskTableTest::Open;
  using DiskTableTest::Seek;
  using DiskTableTest::Update;
  void TestBody() override {}
};

constexpr int kTries = 400;

bool LockForWriting(TVEXDiskTableData& table, DiskCursor& cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  vex::TVEXLockGuard lock(table.DatabaseLock());
  return table.LockTable(cursor.GetSessionID(), vex::ltXIRW, 1, 0, true);
}

int Run(const std::string& path, int32_t worker, int operations, uint32_t seed,
        const std::string& report, int insertShare) VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = std::make_unique<TVEXDiskDatabaseData>();
  db->SetDatabaseName(path);
  DiskSession session(*db, true);
  session.SetConnected(true);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Table::Open(*db, cursor);

  std::mt19937 random(seed);
  TableImage model;
  int32_t nextKey = worker * 1000000;
  for (int op = 0; op < operations; ++op) {
    const uint32_t dice = random() % 100;
    int32_t key = nextKey;
    const int32_t value = static_cast<int32_t>(random() % 100000);
    enum { kInsert, kUpdate, kDelete } kind = kInsert;
    if (!model.empty() && dice >= static_cast<uint32_t>(insertShare)) {
      auto it = model.begin();
      std::advance(it, static_cast<long>(random() % model.size()));
      key = it->first;
      kind = dice < 80 ? kUpdate : kDelete;
    }
    bool done = false;
    for (int attempt = 0; attempt < kTries && !done; ++attempt) {
      try {
        session.StartTransaction();
        // As a cursor posts inside a transaction: the table's write lock
        // first, held until the commit or rollback drops it, so no other
        // connection writes the table's pages meanwhile.
        if (!LockForWriting(table, cursor)) {
          session.Rollback();
          ::usleep(static_cast<useconds_t>(1000 + random() % 4000));
          continue;
        }
        if (kind != kInsert && !Table::Seek(table, cursor, key)) {
          std::cerr << "worker " << worker << ": its committed key " << key << " is gone\n";
          session.Rollback();
          return 4;
        }
        bool changed = false;
        if (kind == kInsert) changed = Table::Insert(table, cursor, key, value);
        if (kind == kUpdate) changed = Table::Update(table, cursor, key, value);
        if (kind == kDelete) changed = Table::Delete(table, cursor, key);
        if (!changed) {
          // Refused for a reason the table data does not pass on (a page
          // another connection holds): tried again like a lock error.
          session.Rollback();
          continue;
        }
        session.Commit(false);
        done = true;
      } catch (const EVEXException&) {
        if (session.InTransaction()) session.Rollback();
        ::usleep(static_cast<useconds_t>(1000 + random() % 4000));
      }
    }
    if (!done) {
      std::cerr << "worker " << worker << ": a change stayed refused\n";
      return 3;
    }
    if (kind == kInsert) ++nextKey;
    if (kind == kDelete)
      model.erase(key);
    else
      model[key] = value;
  }
  Table::Close(*db, table, cursor);
  session.SetConnected(false);

  std::ofstream out(report, std::ios::trunc);
  for (const auto& [key, value] : model) out << key << ' ' << value << '\n';
  out.close();
  return out ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::cerr << "usage: disk_worker <database> <worker> <operations> <seed> <report> [<inserts %>]\n";
    return 2;
  }
  vex::AddComponentsStartupSteps();
  vex::AddSqlStartupSteps();
  vex::StartEngine();
  int code = 4;
  try {
    code = Run(argv[1], std::atoi(argv[2]), std::atoi(argv[3]),
               static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), argv[5],
               argc == 7 ? std::atoi(argv[6]) : 50);
  } catch (const std::exception& e) {
    std::cerr << "worker " << argv[2] << ": " << e.what() << '\n';
  }
  vex::StopEngine();
  return code;
}
