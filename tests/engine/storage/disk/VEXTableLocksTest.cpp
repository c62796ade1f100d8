#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "DiskDatabaseFixture.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex::testing {
namespace {

using testsupport::CodeOf;

constexpr int32_t kSystem = -2;
constexpr int32_t kSessions = 5;
// Content byte 0 of an internal file: past the page header and the file
// header.
constexpr uint16_t kContent = 50;
constexpr TVEXLockType kKinds[] = {ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX};
const char* const kKindNames[] = {"ltIS", "ltS", "ltSIRW", "ltXIRW", "ltRW", "ltU", "ltX"};

// One connection to the database: its page manager, lock manager and the
// locks files of the two tables.
struct Connection {
  std::unique_ptr<TVEXDiskPageManager> Manager;
  std::unique_ptr<TVEXDatabaseTableLockManager> Locks;
  std::unique_ptr<TVEXTableLocksFile> Table1;
  std::unique_ptr<TVEXTableLocksFile> Table2;
};

// Two tables with locks files for 5 sessions, and two database objects on
// the file: A (whose sessions use id 0) and B (id 4), which meet only through
// the bytes, as two database objects of one process or two processes do.
class TableLocksTest : public DiskDatabaseTest {
 protected:
  void SetUp() override {
    auto manager = Create();
    TVEXTableLocksFile one(manager.get()), two(manager.get());
    FTable1 = one.CreateFile(kSessions);
    FTable2 = two.CreateFile(kSessions);
    manager->ApplyChanges(kSystem);
    manager.reset();
    A = Connect();
    B = Connect();
  }

  Connection Connect(bool exclusive = false) {
    Connection c;
    c.Manager = Open("db.vex", {}, !exclusive, false, exclusive).Manager;
    c.Locks = std::make_unique<TVEXDatabaseTableLockManager>(kSessions, c.Manager.get());
    c.Table1 = std::make_unique<TVEXTableLocksFile>(c.Manager.get());
    c.Table1->OpenFile(FTable1);
    c.Table2 = std::make_unique<TVEXTableLocksFile>(c.Manager.get());
    c.Table2->OpenFile(FTable2);
    return c;
  }

  // Whether some handle holds content byte n of a table's locks file; byte -1
  // is the whole-file lock (byte 0 of the first page).
  bool Held(int32_t table, int32_t n) {
    return FProbe().IsPageByteLocked(table, static_cast<uint16_t>(n < 0 ? 0 : kContent + n));
  }
  // The byte a kind takes for a session.
  static int32_t ByteOf(TVEXLockType kind, int32_t session) {
    return kind == ltX ? -1 : kind * kSessions + session;
  }
  TVEXDiskPageManager& FProbe() { return *B.Manager; }

  bool Lock(Connection& c, int32_t session, TVEXLockType kind, int32_t tries = 1, int32_t delay = 0,
            bool allow = false, int table = 1) {
    return c.Locks->LockTable(session, kind, table == 1 ? *c.Table1 : *c.Table2, tries, delay,
                              false, allow);
  }
  bool Unlock(Connection& c, int32_t session, TVEXLockType kind, int table = 1) {
    return c.Locks->UnlockTable(session, kind, table == 1 ? *c.Table1 : *c.Table2, false, false);
  }
  const TVEXTableLockItem* Entry(Connection& c, int32_t session, TVEXLockType kind, int table = 1) {
    const TVEXTableLockList& list = *c.Locks->SessionLockList(session);
    const int32_t i = list.IndexOf(kind, table == 1 ? FTable1 : FTable2);
    return i < 0 ? nullptr : &list.Item(i);
  }

  int32_t FTable1 = -1;
  int32_t FTable2 = -1;
  Connection A;
  Connection B;
};

TEST_F(TableLocksTest, EveryPairOfKindsBetweenTwoDatabaseObjectsFollowsTheCompatibilityTable) {
  const int expected[7][7] = {
      // requested: IS S SIRW XIRW RW U X      held:
      {1, 1, 1, 1, 1, 1, 0},  // ltIS
      {1, 1, 1, 1, 0, 1, 0},  // ltS
      {1, 1, 1, 0, 1, 1, 0},  // ltSIRW
      {1, 1, 0, 0, 0, 1, 0},  // ltXIRW
      {1, 0, 1, 0, 0, 1, 0},  // ltRW
      {1, 1, 1, 1, 1, 1, 0},  // ltU
      {0, 0, 0, 0, 0, 0, 0},  // ltX
  };
  for (TVEXLockType held : kKinds) {
    for (TVEXLockType requested : kKinds) {
      SCOPED_TRACE(std::string("held ") + kKindNames[held] + ", requested " +
                   kKindNames[requested]);
      EXPECT_EQ(AreLocksCompatible(requested, held), expected[held][requested] == 1);
      ASSERT_TRUE(Lock(A, 0, held));
      // The byte of the held kind, and no other, is held.
      EXPECT_TRUE(Held(FTable1, ByteOf(held, 0)));
      const bool granted = Lock(B, 4, requested);
      EXPECT_EQ(granted, expected[held][requested] == 1);
      if (granted) {
        EXPECT_TRUE(Held(FTable1, ByteOf(requested, 4)));
        EXPECT_TRUE(Unlock(B, 4, requested));
      }
      EXPECT_TRUE(Unlock(A, 0, held));
      for (int32_t n = -1; n < 6 * kSessions; ++n) ASSERT_FALSE(Held(FTable1, n)) << "byte " << n;
    }
  }
}

TEST_F(TableLocksTest, TheStrengthOfKindsFollowsFromTheirCompatibility) {
  const std::map<TVEXLockType, std::set<TVEXLockType>> atLeastAsStrongAs = {
      {ltIS, {ltIS, ltU}},
      {ltS, {ltIS, ltS, ltU}},
      {ltSIRW, {ltIS, ltSIRW, ltU}},
      {ltXIRW, {ltIS, ltS, ltSIRW, ltXIRW, ltU}},
      {ltRW, {ltIS, ltS, ltSIRW, ltRW, ltU}},
      {ltU, {ltIS, ltU}},
      {ltX, {ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX}},
  };
  for (const auto& [stronger, weaker] : atLeastAsStrongAs) {
    for (TVEXLockType kind : kKinds) {
      EXPECT_EQ(TVEXTableLockList::IsLockAtLeastAsStrong(stronger, kind), weaker.count(kind) == 1)
          << kKindNames[stronger] << " over " << kKindNames[kind];
    }
  }
}

TEST_F(TableLocksTest, ASessionCountsRepeatsRefusesASecondEditAndCoversWeakerKinds) {
  // A second ltSIRW is a second edit: refused at once, without a pause.
  ASSERT_TRUE(Lock(A, 0, ltSIRW, 50, 100));
  EXPECT_FALSE(Lock(A, 0, ltSIRW, 50, 100));
  EXPECT_EQ(FClock.Clock.SleepCount(), 0u);
  EXPECT_TRUE(Unlock(A, 0, ltSIRW));

  // A repeated ltIS is counted; the byte goes with the last release.
  ASSERT_TRUE(Lock(A, 0, ltIS));
  ASSERT_TRUE(Lock(A, 0, ltIS));
  EXPECT_EQ(Entry(A, 0, ltIS)->LockCount, 2);
  EXPECT_TRUE(Unlock(A, 0, ltIS));
  EXPECT_TRUE(Held(FTable1, ByteOf(ltIS, 0)));
  EXPECT_TRUE(Unlock(A, 0, ltIS));
  EXPECT_FALSE(Held(FTable1, ByteOf(ltIS, 0)));

  // ltS under the session's ltXIRW is logical; when the ltXIRW goes first,
  // the ltS byte is set before the ltXIRW byte is released.
  ASSERT_TRUE(Lock(A, 0, ltXIRW));
  ASSERT_TRUE(Lock(A, 0, ltS));
  EXPECT_FALSE(Entry(A, 0, ltS)->HasPhysicalLock);
  EXPECT_FALSE(Held(FTable1, ByteOf(ltS, 0)));
  EXPECT_TRUE(Unlock(A, 0, ltXIRW));
  EXPECT_TRUE(Entry(A, 0, ltS)->HasPhysicalLock);
  EXPECT_TRUE(Held(FTable1, ByteOf(ltS, 0)));
  EXPECT_FALSE(Held(FTable1, ByteOf(ltXIRW, 0)));
  EXPECT_FALSE(Lock(B, 4, ltRW));
  EXPECT_TRUE(Unlock(A, 0, ltS));

  // A lock on another table never makes one logical.
  ASSERT_TRUE(Lock(A, 0, ltX, 1, 0, false, 2));
  ASSERT_TRUE(Lock(A, 0, ltIS));
  EXPECT_TRUE(Entry(A, 0, ltIS)->HasPhysicalLock);
  EXPECT_TRUE(Unlock(A, 0, ltIS));
  EXPECT_TRUE(Unlock(A, 0, ltX, 2));

  EXPECT_EQ(CodeOf([&] { Unlock(A, 0, ltS); }), 20202);
  EXPECT_TRUE(A.Locks->UnlockTable(0, ltS, *A.Table1, true, false));
  EXPECT_NO_THROW(A.Locks->Close());
}

TEST_F(TableLocksTest, ExclusiveUseHoldsTheWholeFileLockAndNeedsEveryByteFree) {
  // ltX waits for another session's record lock as for any byte.
  ASSERT_TRUE(B.Locks->LockRecord(4, *B.Table1, {7, 1}, 1, 0));
  EXPECT_FALSE(Lock(A, 0, ltX, 3, 100));
  EXPECT_TRUE(B.Locks->UnlockRecord(4, *B.Table1, {7, 1}));

  ASSERT_TRUE(Lock(A, 0, ltX));
  EXPECT_TRUE(Held(FTable1, -1));
  const uint64_t sleeps = FClock.Clock.SleepCount();
  for (TVEXLockType kind : kKinds) {
    EXPECT_FALSE(Lock(B, 4, kind, 3, 100)) << kKindNames[kind];
  }
  EXPECT_FALSE(B.Locks->LockRecord(4, *B.Table1, {7, 1}, 3, 100));
  EXPECT_EQ(FClock.Clock.SleepCount() - sleeps, 8u * 3u);
  // Under its own ltX a session's other locks and record locks are logical.
  ASSERT_TRUE(Lock(A, 0, ltSIRW));
  ASSERT_TRUE(A.Locks->LockRecord(0, *A.Table1, {7, 1}, 1, 0));
  EXPECT_FALSE(Entry(A, 0, ltU)->HasPhysicalLock);
  // Giving ltX up hands those their bytes; the record lock names its record.
  EXPECT_TRUE(Unlock(A, 0, ltX));
  EXPECT_FALSE(Held(FTable1, -1));
  EXPECT_TRUE(Held(FTable1, ByteOf(ltSIRW, 0)));
  EXPECT_TRUE(Held(FTable1, ByteOf(ltU, 0)));
  EXPECT_TRUE(B.Locks->IsRecordLocked(4, *B.Table1, {7, 1}));
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {7, 1}));
  EXPECT_TRUE(Unlock(A, 0, ltSIRW));
}

// Under its own ltX a session holds the whole-file lock: giving up a lock it
// took before (the ltIS of an open table, a record lock) needs no second
// file lock, so it neither waits for itself nor fails.
TEST_F(TableLocksTest, LocksTakenBeforeTheSessionsOwnLtXGoWithoutWaitingForIt) {
  ASSERT_TRUE(Lock(A, 0, ltIS));
  ASSERT_TRUE(A.Locks->LockRecord(0, *A.Table1, {7, 1}, 1, 0));
  ASSERT_TRUE(Lock(A, 0, ltX));
  const uint64_t sleeps = FClock.Clock.SleepCount();
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {7, 1}));
  EXPECT_TRUE(Unlock(A, 0, ltIS));
  EXPECT_EQ(FClock.Clock.SleepCount(), sleeps);
  EXPECT_FALSE(Held(FTable1, ByteOf(ltIS, 0)));
  EXPECT_FALSE(Held(FTable1, ByteOf(ltU, 0)));
  EXPECT_FALSE(B.Locks->IsRecordLocked(4, *B.Table1, {7, 1}));
  // The ltX itself still holds the table until it goes.
  EXPECT_TRUE(Held(FTable1, -1));
  EXPECT_FALSE(Lock(B, 4, ltIS));
  EXPECT_TRUE(Unlock(A, 0, ltX));
  EXPECT_TRUE(Lock(B, 4, ltX));
  EXPECT_TRUE(Unlock(B, 4, ltX));
}

TEST_F(TableLocksTest, XirwJoinsAnotherSessionsSirwOnlyWhenAllowed) {
  ASSERT_TRUE(Lock(B, 4, ltSIRW));
  EXPECT_FALSE(Lock(A, 0, ltXIRW, 1, 0, false));
  EXPECT_TRUE(Lock(A, 0, ltXIRW, 1, 0, true));
  EXPECT_TRUE(Entry(A, 0, ltXIRW)->IsXIRWAfterSIRWAllowed);
  EXPECT_TRUE(Unlock(A, 0, ltXIRW));
  EXPECT_TRUE(Unlock(B, 4, ltSIRW));
}

TEST_F(TableLocksTest, TriesAndPausesAreBounded) {
  ASSERT_TRUE(Lock(B, 4, ltX));
  struct Case {
    int32_t tries, delay;
    uint64_t sleeps, minMs, maxMs;
  };
  for (const Case& c : {Case{0, 100, 0, 0, 0}, Case{4, 1, 0, 0, 0}, Case{4, 0, 0, 0, 0},
                        Case{10, 100, 10, 500, 990}, Case{50, 40, 50, 1000, 1950}}) {
    SCOPED_TRACE(std::to_string(c.tries) + " tries, " + std::to_string(c.delay) + " ms");
    const uint64_t sleeps = FClock.Clock.SleepCount(), slept = FClock.Clock.SleptMs();
    EXPECT_FALSE(Lock(A, 0, ltIS, c.tries, c.delay));
    EXPECT_EQ(FClock.Clock.SleepCount() - sleeps, c.sleeps);
    EXPECT_GE(FClock.Clock.SleptMs() - slept, c.minMs);
    EXPECT_LE(FClock.Clock.SleptMs() - slept, c.maxMs);
  }
  EXPECT_TRUE(Unlock(B, 4, ltX));
}

TEST_F(TableLocksTest, RecordLocksStoreTheirRecordIdsAndOneSessionHoldsOnePerTable) {
  ASSERT_TRUE(A.Locks->LockRecord(0, *A.Table1, {7, 3}, 15, 100));
  ASSERT_TRUE(B.Locks->LockRecord(4, *B.Table1, {7, 4}, 15, 100));
  // Record-lock bytes at 5 x N + s; the ids at 6 x N + 6 x s.
  EXPECT_TRUE(Held(FTable1, 5 * kSessions + 0));
  EXPECT_TRUE(Held(FTable1, 5 * kSessions + 4));
  std::vector<uint8_t> ids(6 * kSessions);
  FProbe().ReadPageRegion(ids.data(), FTable1, kContent + 6 * kSessions, 6 * kSessions);
  EXPECT_EQ(std::vector<uint8_t>(ids.begin(), ids.begin() + 6),
            (std::vector<uint8_t>{7, 0, 0, 0, 3, 0}));
  EXPECT_EQ(std::vector<uint8_t>(ids.begin() + 24, ids.end()),
            (std::vector<uint8_t>{7, 0, 0, 0, 4, 0}));

  EXPECT_TRUE(B.Locks->IsRecordLocked(4, *B.Table1, {7, 3}));
  EXPECT_FALSE(B.Locks->IsRecordLocked(4, *B.Table1, {8, 3}));
  EXPECT_FALSE(A.Locks->IsRecordLocked(0, *A.Table1, {7, 3}));  // its own

  // A second record lock of a session on one table: refused at once, even
  // for the same record.
  EXPECT_FALSE(A.Locks->LockRecord(0, *A.Table1, {7, 3}, 15, 100));
  EXPECT_FALSE(A.Locks->LockRecord(0, *A.Table1, {9, 9}, 15, 100));
  EXPECT_EQ(FClock.Clock.SleepCount(), 0u);
  EXPECT_TRUE(A.Locks->LockRecord(0, *A.Table2, {7, 3}, 1, 0));

  // Another session's record: 15 tries or 1500 ms, whichever comes first.
  EXPECT_FALSE(B.Locks->LockRecord(1, *B.Table1, {7, 3}, 15, 100));
  EXPECT_EQ(FClock.Clock.SleepCount(), 15u);
  EXPECT_EQ(FClock.Clock.SleptMs(), 1500u);
  EXPECT_FALSE(B.Locks->LockRecord(1, *B.Table1, {7, 3}, 15, 0));
  EXPECT_EQ(FClock.Clock.SleepCount(), 15u);

  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {7, 3}));
  EXPECT_FALSE(A.Locks->UnlockRecord(0, *A.Table1, {7, 3}));
  EXPECT_FALSE(Held(FTable1, 5 * kSessions + 0));
  EXPECT_TRUE(B.Locks->LockRecord(1, *B.Table1, {7, 3}, 1, 0));
  EXPECT_TRUE(B.Locks->UnlockRecord(1, *B.Table1, {7, 3}));
  EXPECT_TRUE(B.Locks->UnlockRecord(4, *B.Table1, {7, 4}));
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table2, {7, 3}));
}

TEST_F(TableLocksTest, AReleaseThatCannotBeMadeKeepsItsEntryForALaterTry) {
  ASSERT_TRUE(Lock(A, 0, ltS));
  ASSERT_TRUE(A.Locks->LockRecord(0, *A.Table1, {7, 3}, 1, 0));
  // A record lock covers ltIS: taken now, it is logical.
  ASSERT_TRUE(Lock(A, 0, ltIS));
  EXPECT_FALSE(Entry(A, 0, ltIS)->HasPhysicalLock);
  // Another connection holds the whole-file lock through every try.
  ASSERT_TRUE(B.Table1->LockFile());
  EXPECT_FALSE(A.Locks->UnlockRecord(0, *A.Table1, {7, 3}));
  EXPECT_FALSE(Unlock(A, 0, ltS));
  EXPECT_EQ(FClock.Clock.SleepCount(), 2u * 4500u);
  ASSERT_NE(Entry(A, 0, ltU), nullptr);
  EXPECT_EQ(Entry(A, 0, ltS)->LockCount, 1);
  EXPECT_TRUE(Held(FTable1, ByteOf(ltU, 0)));
  EXPECT_TRUE(Held(FTable1, ByteOf(ltS, 0)));
  ASSERT_TRUE(B.Table1->UnlockFile());

  // Once the release can be made, the ltIS the record lock covered gets its
  // own byte, so the table stays open against an exclusive user.
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {7, 3}));
  EXPECT_FALSE(Held(FTable1, ByteOf(ltU, 0)));
  EXPECT_TRUE(Held(FTable1, ByteOf(ltIS, 0)));
  EXPECT_FALSE(Lock(B, 4, ltX));
  EXPECT_TRUE(Unlock(A, 0, ltS));
  // The session can lock records of the table again.
  EXPECT_TRUE(A.Locks->LockRecord(0, *A.Table1, {7, 5}, 1, 0));
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {7, 5}));
  EXPECT_TRUE(Unlock(A, 0, ltIS));
  EXPECT_NO_THROW(A.Locks->Close());
}

TEST_F(TableLocksTest, ACommitAddsRwToEveryTableOfTheTransactionAndTheEndDropsThem) {
  // A session without locks commits without waiting.
  EXPECT_TRUE(A.Locks->AddRWLocksBeforeCommit(0));
  EXPECT_TRUE(A.Locks->ClearTransactionLocks(0));

  for (int table : {1, 2}) ASSERT_TRUE(Lock(A, 0, ltXIRW, 1, 0, true, table));
  ASSERT_TRUE(Lock(A, 0, ltXIRW, 1, 0, true, 1));  // counted twice
  ASSERT_TRUE(Lock(A, 0, ltIS));
  ASSERT_TRUE(A.Locks->AddRWLocksBeforeCommit(0));
  EXPECT_TRUE(Held(FTable1, ByteOf(ltRW, 0)));
  EXPECT_TRUE(Held(FTable2, ByteOf(ltRW, 0)));
  ASSERT_TRUE(A.Locks->ClearTransactionLocks(0));
  const TVEXTableLockList& list = *A.Locks->SessionLockList(0);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Item(0).LockType, ltIS);
  for (int32_t table : {FTable1, FTable2}) {
    for (TVEXLockType kind : {ltXIRW, ltRW}) EXPECT_FALSE(Held(table, ByteOf(kind, 0)));
  }
  EXPECT_TRUE(Unlock(A, 0, ltIS));
}

TEST_F(TableLocksTest, ACommitWhoseRwCannotBeHadKeepsTheTransactionLocksOnly) {
  for (int table : {1, 2}) ASSERT_TRUE(Lock(A, 0, ltXIRW, 1, 0, true, table));
  ASSERT_TRUE(Lock(B, 4, ltS, 1, 0, false, 2));  // a reader of table 2
  EXPECT_FALSE(A.Locks->AddRWLocksBeforeCommit(0));
  EXPECT_EQ(FClock.Clock.SleepCount(), 900u);
  EXPECT_EQ(Entry(A, 0, ltRW), nullptr);
  EXPECT_FALSE(Held(FTable1, ByteOf(ltRW, 0)));
  EXPECT_NE(Entry(A, 0, ltXIRW, 2), nullptr);
  // A rollback ends the transaction.
  EXPECT_TRUE(A.Locks->ClearTransactionLocks(0));
  EXPECT_EQ(A.Locks->SessionLockList(0)->Count(), 0);
  EXPECT_TRUE(Unlock(B, 4, ltS, 2));
}

TEST_F(TableLocksTest, TheEndOfATransactionKeepsARecordBeingEditedUnderSirw) {
  // A record edited under ltXIRW taken without the flag: logical record lock.
  ASSERT_TRUE(Lock(A, 0, ltXIRW));
  ASSERT_TRUE(A.Locks->LockRecord(0, *A.Table1, {3, 1}, 1, 0));
  EXPECT_FALSE(Entry(A, 0, ltU)->HasPhysicalLock);
  ASSERT_TRUE(A.Locks->ClearTransactionLocks(0));
  EXPECT_EQ(Entry(A, 0, ltXIRW), nullptr);
  EXPECT_TRUE(Held(FTable1, ByteOf(ltSIRW, 0)));
  EXPECT_TRUE(B.Locks->IsRecordLocked(4, *B.Table1, {3, 1}));
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {3, 1}));
  EXPECT_TRUE(Unlock(A, 0, ltSIRW));

  // Under ltX with an edit going on (ltSIRW held already) the transaction's
  // locks are still dropped.
  ASSERT_TRUE(Lock(A, 0, ltX));
  ASSERT_TRUE(Lock(A, 0, ltSIRW));
  ASSERT_TRUE(A.Locks->LockRecord(0, *A.Table1, {3, 1}, 1, 0));
  ASSERT_TRUE(Lock(A, 0, ltXIRW));
  ASSERT_TRUE(A.Locks->ClearTransactionLocks(0));
  EXPECT_EQ(Entry(A, 0, ltXIRW), nullptr);
  EXPECT_EQ(Entry(A, 0, ltSIRW)->LockCount, 1);
  EXPECT_TRUE(A.Locks->UnlockRecord(0, *A.Table1, {3, 1}));
  EXPECT_TRUE(Unlock(A, 0, ltSIRW));
  EXPECT_TRUE(Unlock(A, 0, ltX));
  EXPECT_FALSE(Held(FTable1, -1));
}

TEST_F(TableLocksTest, TransactionLocksThatCannotBeReleasedEndTheWalkWithAnError) {
  ASSERT_TRUE(Lock(A, 0, ltXIRW, 1, 0, true));
  ASSERT_TRUE(B.Table1->LockFile());
  EXPECT_EQ(CodeOf([&] { A.Locks->ClearTransactionLocks(0); }), 20234);
  EXPECT_EQ(FClock.Clock.SleepCount(), 4500u);
  EXPECT_NE(Entry(A, 0, ltXIRW), nullptr);
  EXPECT_EQ(CodeOf([&] { A.Locks->Close(); }), 20201);
  ASSERT_TRUE(B.Table1->UnlockFile());
  EXPECT_TRUE(A.Locks->ClearTransactionLocks(0));
  EXPECT_NO_THROW(A.Locks->Close());
}

TEST_F(TableLocksTest, ADatabaseOpenExclusivelyGrantsTableLocksWithoutTheFile) {
  A = {};
  B = {};
  Connection only = Connect(true);
  for (TVEXLockType kind : kKinds) {
    EXPECT_TRUE(only.Locks->LockTable(0, kind, *only.Table1, 1, 0, false, false));
    EXPECT_FALSE(only.Manager->IsPageByteLocked(FTable1, kContent + ByteOf(kind, 0)));
    EXPECT_TRUE(only.Locks->UnlockTable(0, kind, *only.Table1, false, false));
  }
  EXPECT_EQ(only.Locks->SessionLockList(0)->Count(), 0);
  // Record locks still go to the file.
  EXPECT_TRUE(only.Locks->LockRecord(0, *only.Table1, {1, 1}, 1, 0));
  EXPECT_TRUE(only.Manager->IsPageByteLocked(FTable1, kContent + ByteOf(ltU, 0)));
  EXPECT_TRUE(only.Locks->UnlockRecord(0, *only.Table1, {1, 1}));
}

TEST_F(TableLocksTest, MisuseRaisesItsOwnCodes) {
  TVEXTableLocksFile closed(A.Manager.get());
  const TVEXPageItemID id{1, 1};
  struct Case {
    const char* what;
    std::function<void()> call;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"StartPageNo", [&] { closed.StartPageNo(); }, 10483},
      {"LockTable", [&] { closed.LockTable(0, ltS); }, 10489},
      {"IsTableLockedByAnyOtherSession", [&] { closed.IsTableLockedByAnyOtherSession(0, ltS); },
       10490},
      {"LockRecord", [&] { closed.LockRecord(0, id); }, 10491},
      {"UnlockRecord", [&] { closed.UnlockRecord(0, id); }, 10492},
      {"IsRecordLockedByAnyOtherSession", [&] { closed.IsRecordLockedByAnyOtherSession(0, id); },
       10493},
      {"UnlockTable", [&] { closed.UnlockTable(0, ltS); }, 10494},
      {"session past the file", [&] { A.Table1->LockTable(kSessions, ltS); }, 20200},
      {"record lock past the file", [&] { A.Table1->LockRecord(kSessions, id); }, 20200},
      {"manager session past its lists", [&] { Lock(A, kSessions, ltS); }, 20200},
      {"release of a lock not held", [&] { Unlock(A, 0, ltRW); }, 20202},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CodeOf(c.call), c.code);
  }
  EXPECT_FALSE(A.Table1->LockTable(0, ltX));
  EXPECT_FALSE(A.Table1->UnlockTable(kSessions, ltS));
}

// A seeded walk of random lock and release requests (table locks and record
// locks) by four sessions on two database objects, checked after every step
// against a model that knows only the compatibility table and the records
// held: a request is granted exactly when no other session holds an
// incompatible kind (or the record), every byte of the locks file is held
// exactly when its entry is physical, and every logical entry is covered.
TEST_F(TableLocksTest, RandomRequestsAgreeWithTheCompatibilityModel) {
  struct Session {
    Connection* c;
    int32_t id;
  };
  std::vector<Session> sessions = {{&A, 0}, {&A, 1}, {&B, 3}, {&B, 4}};
  // held[s][kind] = count.
  std::vector<std::map<TVEXLockType, int>> held(sessions.size());
  // The record each session has locked, 0 for none.
  std::vector<uint16_t> record(sessions.size());
  std::mt19937 random(20261211);
  const TVEXLockType kinds[] = {ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX};
  for (int step = 0; step < 800; ++step) {
    const size_t s = random() % sessions.size();
    const TVEXLockType kind = kinds[random() % 7];
    Session& session = sessions[s];
    SCOPED_TRACE("step " + std::to_string(step) + ": session " + std::to_string(session.id) + " " +
                 kKindNames[kind]);
    const auto othersAllow = [&](TVEXLockType wanted) {
      for (size_t o = 0; o < sessions.size(); ++o) {
        if (o == s) continue;
        for (const auto& [other, count] : held[o]) {
          if (count > 0 && !AreLocksCompatible(wanted, other)) return false;
        }
      }
      return true;
    };
    if (kind == ltU) {
      // ltU stands for a record lock on one of three records.
      const TVEXPageItemID id{1, static_cast<uint16_t>(1 + random() % 3)};
      if (record[s] != 0) {
        if (random() % 3 == 0) {
          ASSERT_FALSE(session.c->Locks->LockRecord(session.id, *session.c->Table1, id, 1, 0));
        } else {
          ASSERT_TRUE(
              session.c->Locks->UnlockRecord(session.id, *session.c->Table1, {1, record[s]}));
          record[s] = 0;
          held[s][ltU] = 0;
        }
      } else {
        bool expect = held[s][ltX] > 0 || held[s][ltXIRW] > 0;
        if (!expect) {
          expect = true;
          for (size_t o = 0; o < sessions.size(); ++o) {
            if (o != s && (held[o][ltX] > 0 || record[o] == id.PageItemNo)) expect = false;
          }
        }
        const bool granted = session.c->Locks->LockRecord(session.id, *session.c->Table1, id, 1, 0);
        ASSERT_EQ(granted, expect);
        if (granted) {
          record[s] = id.PageItemNo;
          held[s][ltU] = 1;
        }
      }
    } else if (held[s][kind] > 0 && random() % 2 == 0) {
      ASSERT_TRUE(Unlock(*session.c, session.id, kind));
      --held[s][kind];
    } else {
      // A second ltSIRW of a session is a second edit.
      const bool expect = othersAllow(kind) && !(held[s][kind] > 0 && kind == ltSIRW);
      const bool granted = Lock(*session.c, session.id, kind);
      ASSERT_EQ(granted, expect);
      if (granted) ++held[s][kind];
    }
    // Integrity walk: the bytes are those of the physical entries, and every
    // logical entry is covered by a stronger one of its session.
    bool anyX = false;
    for (size_t o = 0; o < sessions.size(); ++o) {
      const TVEXTableLockList& list = *sessions[o].c->Locks->SessionLockList(sessions[o].id);
      for (TVEXLockType k : kinds) {
        const int32_t i = list.IndexOf(k, FTable1);
        ASSERT_EQ(i >= 0 ? list.Item(i).LockCount : 0, held[o][k]);
        if (i < 0) continue;
        const TVEXTableLockItem& item = list.Item(i);
        if (k == ltU) {
          ASSERT_EQ(item.RecordID.PageItemNo, record[o]);
        }
        if (k == ltX) {
          anyX = true;
        } else {
          ASSERT_EQ(Held(FTable1, ByteOf(k, sessions[o].id)), item.HasPhysicalLock);
        }
        if (!item.HasPhysicalLock) {
          ASSERT_TRUE(list.StrongerLockExists(k, FTable1));
        }
      }
    }
    ASSERT_EQ(Held(FTable1, -1), anyX);
  }
}

}  // namespace
}  // namespace vex::testing
