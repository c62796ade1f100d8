// The shared database object (table lookup, sessions, transactions over the
// page store) and the session's named objects.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FakePageStore.h"
#include "VEXDatabaseFakes.h"
#include "rtl/Lists.h"
#include "storage/VEXDatabaseData.h"

namespace vex {
namespace {

using testing::FakeDatabaseData;
using testing::FakePageStore;
using testing::FakeTableData;
using testing::TestCursor;
using testing::TestSession;

// --- Session named objects ---------------------------------------------------

TEST(SessionNamedObjects, OneObjectPerKeyTheNewestWinning) {
  TestSession session;
  session.SetObject(std::make_unique<TVEXSessionNamedObjectSequenceValue>(7, 10));
  session.SetObject(std::make_unique<TVEXSessionNamedObjectSequenceValue>(7, 20));
  EXPECT_EQ(session.ObjectCount(), 1);
  int64_t value = 0;
  ASSERT_TRUE(session.GetSequenceValue(7, value));
  EXPECT_EQ(value, 20);

  session.SetObject(std::make_unique<TVEXSessionNamedObject>("LastGuest"));
  EXPECT_NE(session.GetObjectByName("LASTGUEST"), nullptr) << "names compare by upper case";
  session.SetObject(std::make_unique<TVEXSessionNamedObject>("lastguest"));
  EXPECT_EQ(session.ObjectCount(), 2) << "the same name replaces";
  EXPECT_EQ(session.GetObjectByName("LastGuest")->Name, "lastguest");

  // An object kept by id has no name: it is never found by one, and an
  // unnamed object stored after it does not replace it.
  EXPECT_EQ(session.GetObjectByName(""), nullptr);
  session.SetObject(std::make_unique<TVEXSessionNamedObject>(""));
  ASSERT_TRUE(session.GetSequenceValue(7, value));
  EXPECT_EQ(value, 20);

  session.DeleteObject(99);
  EXPECT_EQ(session.ObjectCount(), 3) << "deleting an absent id changes nothing";
  session.DeleteObject(7);
  EXPECT_FALSE(session.GetSequenceValue(7, value));
}

TEST(SessionNamedObjects, OnlyASequenceValueCountsAsOne) {
  TestSession session;
  session.SetObject(std::make_unique<TVEXSessionNamedObject>(5));
  int64_t value = -1;
  EXPECT_FALSE(session.GetSequenceValue(5, value));
  EXPECT_EQ(value, -1);
  EXPECT_EQ(session.SessionID(), kNoSessionID) << "not connected yet";
}

// --- Database data -------------------------------------------------------------

TEST(DatabaseData, CursorsOpeningOneTableInAnyCaseShareOneTableObject) {
  FakeDatabaseData db;
  TestSession session(&db);
  TestCursor first(session, "Guests"), second(session, "GUESTS"), other(session, "Rooms");

  TVEXTableData* table = db.FindOrCreateTableData(first);
  EXPECT_EQ(db.FindOrCreateTableData(second), table);
  EXPECT_NE(db.FindOrCreateTableData(other), table);
  EXPECT_EQ(db.Created, 2);
  EXPECT_EQ(table->TableName(), "Guests");

  EXPECT_TRUE(db.TableExists("gUeStS"));
  EXPECT_FALSE(db.TableExists("Bookings")) << "the base knows only the tables opened";
  rtl::TStringList names;
  db.GetTablesList(names);
  ASSERT_EQ(names.Count(), 2);
  EXPECT_EQ(names[0], "Guests");
  EXPECT_EQ(names[1], "Rooms");

  db.FreeTableData(table);
  EXPECT_EQ(db.FindTableData(first), nullptr);
  EXPECT_EQ(db.TableDataList().size(), 1u);
}

TEST(DatabaseData, SessionsConnectOnceAndTheLastOneOutFreesTheObject) {
  struct Owner : TVEXDatabaseDataOwner {
    void FreeDatabaseData(TVEXDatabaseData& Data) override {
      ASSERT_EQ(&Data, Held.get());
      Held.reset();
    }
    std::unique_ptr<FakeDatabaseData> Held = std::make_unique<FakeDatabaseData>();
  } owner;
  FakeDatabaseData& db = *owner.Held;
  db.SetOwner(&owner);
  TestSession a(&db), b(&db);

  a.SetConnected(true);
  db.ConnectSession(a);
  b.SetConnected(true);
  EXPECT_EQ(db.SessionList().size(), 2u);
  EXPECT_EQ(a.SessionID(), 0);
  EXPECT_EQ(b.SessionID(), 0);

  a.SetConnected(false);
  EXPECT_FALSE(db.FreeIfNoSessionsConnected()) << "b is still connected";
  ASSERT_NE(owner.Held, nullptr);
  b.SetConnected(false);
  EXPECT_TRUE(owner.Held->FreeIfNoSessionsConnected());
  EXPECT_EQ(owner.Held, nullptr);

  FakeDatabaseData unowned;
  EXPECT_FALSE(unowned.FreeIfNoSessionsConnected()) << "its creator keeps it";
}

// A committed and a rolled-back transaction over the database's page store.
TEST(DatabaseData, TransactionsCommitOrDropTheSessionsChangeSet) {
  FakePageStore pages;
  FakeDatabaseData db(&pages);
  TestSession session(&db);
  session.SetConnected(true);

  auto changePage = [&] {
    TVEXPage* page = pages.AddPage(session.SessionID(), 10);
    const int32_t number = page->PageNo();
    pages.PutPage(page);
    return number;
  };

  session.StartTransaction();
  const int32_t kept = changePage();
  EXPECT_EQ(pages.Writes, 0) << "the change set waits for the commit";
  session.Commit(false);
  EXPECT_EQ(pages.WritesOf[kept], 1);
  EXPECT_EQ(pages.DirtyCount(0), 0);

  session.StartTransaction();
  const int32_t dropped = changePage();
  session.Rollback();
  EXPECT_EQ(pages.DirtyCount(0), 0);
  EXPECT_EQ(pages.WritesOf.count(dropped), 0u);
  EXPECT_EQ(pages.Allocated.count(dropped), 0u) << "the new page's number went back";
  EXPECT_EQ(pages.Violations, 0);
}

TEST(DatabaseData, RollbackReachesEveryOpenTable) {
  FakePageStore pages;
  FakeDatabaseData db(&pages);
  TestSession session(&db);
  session.SetConnected(true);
  TestCursor guests(session, "Guests"), rooms(session, "Rooms");
  auto* touched = static_cast<FakeTableData*>(db.FindOrCreateTableData(guests));
  auto* untouched = static_cast<FakeTableData*>(db.FindOrCreateTableData(rooms));

  db.Rollback(session.SessionID());
  EXPECT_EQ(touched->RollbackCalls, 1);
  EXPECT_EQ(untouched->RollbackCalls, 1);
}

TEST(DatabaseData, WithoutAPageStoreCommitAndRollbackChangeNothing) {
  // The in-memory database: its tables have page stores of their own.
  FakeDatabaseData memory;
  FakePageStore tablePages;
  TestSession session(&memory);
  session.SetConnected(true);
  TestCursor cursor(session, "Scratch");
  TVEXTableData* table = memory.FindOrCreateTableData(cursor);
  table->SetPageManager(&tablePages);
  session.StartTransaction();
  TVEXPage* page = tablePages.AddPage(0, 10);
  tablePages.PutPage(page);
  memory.Commit(0, true);
  memory.Rollback(0);
  EXPECT_EQ(tablePages.DirtyCount(0), 1) << "neither commit nor rollback reached the table's store";
  tablePages.CancelChanges(0);
}

}  // namespace
}  // namespace vex
