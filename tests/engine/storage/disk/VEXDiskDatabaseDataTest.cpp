// The disk database object: creating a file and opening it on the first
// connect, session ids and modes across two objects on one file, the read-only
// single-user connection, and commits with and without table locks.
#include <gtest/gtest.h>

#include "DiskTableFixture.h"

namespace vex {
namespace {

using testing::DiskTableTest;
using testing::DiskSession;
using testsupport::CodeOf;
using testsupport::ExpectVEXError;

TEST_F(DiskTableTest, CreateDatabaseThenConnectOpensTheSystemFilesAndAnEmptyTableList) {
  auto db = NewDatabase("db.vex", 12);
  db->CreateDatabase();
  EXPECT_EQ(db->DiskPageManager(), nullptr) << "a new file is left closed";
  DiskSession session(*db);
  session.SetConnected(true);
  ASSERT_NE(db->DiskPageManager(), nullptr);
  EXPECT_EQ(db->PageManager(), db->DiskPageManager());
  EXPECT_EQ(session.SessionID(), 0);
  EXPECT_FALSE(session.RepairNeeded());
  EXPECT_EQ(db->MaxSessionCount(), 12) << "taken from the sessions file";
  EXPECT_EQ(db->ActiveSessionsFile()->MaxSessionCount(), 12);
  EXPECT_TRUE(DiskTableTest::TablesOf(*db).empty());
  EXPECT_FALSE(db->Encrypted());
  session.SetConnected(false);
  EXPECT_EQ(db->DiskPageManager(), nullptr) << "the last session closes the file";
  EXPECT_EQ(db->TableListFile(), nullptr);
}

TEST_F(DiskTableTest, CreateDatabaseRefusesAnOpenObjectAndAMissingFileLeavesItClosed) {
  auto missing = NewDatabase("missing.vex");
  DiskSession lost(*missing);
  EXPECT_NE(CodeOf([&] { lost.SetConnected(true); }), 0);
  EXPECT_EQ(missing->DiskPageManager(), nullptr);

  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  ExpectVEXError(10461, [&] { db->CreateDatabase(); });
  session.SetConnected(false);
}

TEST_F(DiskTableTest, MultiUserSessionsTakeSlotsAcrossTwoObjectsOnOneFile) {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession a1(*a, true), a2(*a, true), b1(*b, true);
  a1.SetConnected(true);
  a2.SetConnected(true);
  b1.SetConnected(true);
  EXPECT_EQ(a1.SessionID(), 0);
  EXPECT_EQ(a2.SessionID(), 1);
  EXPECT_EQ(b1.SessionID(), 2);
  EXPECT_EQ(a->GetDBFileConnectionsCount(), 3);
  a1.SetConnected(false);
  EXPECT_EQ(b->GetDBFileConnectionsCount(), 2);
  DiskSession b2(*b, true);
  b2.SetConnected(true);
  EXPECT_EQ(b2.SessionID(), 0) << "a freed slot is the next session's";
  for (DiskSession* s : {&a2, &b1, &b2}) s->SetConnected(false);
}

TEST_F(DiskTableTest, ASessionOfTheOtherModeIsRefusedAndTheFirstStaysConnected) {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession multi(*db, true), single(*db, false);
  multi.SetConnected(true);
  ExpectVEXError(20235, [&] { single.SetConnected(true); });
  EXPECT_EQ(db->GetDBFileConnectionsCount(), 1);
  multi.SetConnected(false);

  single.SetConnected(true);
  ExpectVEXError(20235, [&] { multi.SetConnected(true); });
  single.SetConnected(false);
}

TEST_F(DiskTableTest, SingleUserSessionsShareIdZeroAndAnotherConnectionMakesThemReadOnly) {
  auto a = NewDatabase();
  a->CreateDatabase();
  DiskSession a1(*a), a2(*a);
  a1.SetConnected(true);
  a2.SetConnected(true);
  EXPECT_EQ(a1.SessionID(), 0);
  EXPECT_EQ(a2.SessionID(), 0);
  EXPECT_TRUE(a->SingleUserConnected());
  EXPECT_FALSE(a->ReadOnly());

  auto b = NewDatabase();
  DiskSession b1(*b);
  b1.SetConnected(true);
  EXPECT_EQ(b1.SessionID(), 0);
  EXPECT_TRUE(b->ReadOnly()) << "the slots are held by the first object";
  b1.SetConnected(false);

  // Only the last session of the object gives the slots back.
  a1.SetConnected(false);
  auto c = NewDatabase();
  DiskSession c1(*c);
  c1.SetConnected(true);
  EXPECT_TRUE(c->ReadOnly());
  c1.SetConnected(false);
  a2.SetConnected(false);
  auto d = NewDatabase();
  DiskSession d1(*d);
  d1.SetConnected(true);
  EXPECT_FALSE(d->ReadOnly());
  d1.SetConnected(false);
}

TEST_F(DiskTableTest, ObjectIdsCountOnAcrossObjectsAndACommitWithoutLocksWaitsForNothing) {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  const int32_t first = a->GetNewObjectId();
  EXPECT_EQ(b->GetNewObjectId(), first + 1);
  EXPECT_EQ(a->GetNewObjectId(), first + 2);
  sa.StartTransaction();
  const uint64_t before = FClock.Clock.TickCount();
  sa.Commit(true);
  EXPECT_EQ(FClock.Clock.TickCount(), before);
  sa.SetConnected(false);
  sb.SetConnected(false);
}

TEST_F(DiskTableTest, TheTablesByteIsHeldByOneObjectAtATime) {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  a->LockTables();
  ExpectVEXError(20210, [&] { b->LockTables(); });
  a->UnlockTables();
  b->LockTables();
  b->UnlockTables();
  ExpectVEXError(20211, [&] { b->UnlockTables(); });
  sa.SetConnected(false);
  sb.SetConnected(false);
}

}  // namespace
}  // namespace vex
