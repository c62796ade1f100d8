// The disk table data: table DDL against the table list and the internal
// files, a seeded model test of inserts, updates and deletes (committed, and
// rolled back in transactions) against a map with a walk after every step and
// a reopen, opens across two database objects, the multi-user read frame, the
// repair-mode open, BLOB streams, and the mends of what a connection leaves
// behind (a disconnect in mid-transaction, an empty inside a transaction,
// cached pages of an emptied or recreated table, a delete that was refused).
#include <gtest/gtest.h>

#include <random>

#include "DiskTableFixture.h"
#include "foundation/VEXCompressedBLOBStream.h"

namespace vex {
namespace {

using testing::DiskTableTest;
using testing::TableImage;
using testing::DiskCursor;
using testing::DiskSession;
using testsupport::CodeOf;
using testsupport::ExpectVEXError;

// Reads a page's type straight from the file.
uint16_t PageTypeOf(TVEXDiskPageManager& pages, int32_t pageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  uint16_t type = 0;
  pages.ReadPageRegion(&type, pageNo, 8, 2);
  return type;
}

// --- table DDL ---------------------------------------------------------------

TEST_F(DiskTableTest, CreateRenameEmptyAndDeleteKeepTheTableListAndTheInternalFiles)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  TVEXDiskTableData& created = CreateTable(*db, session);
  const int32_t tableID = created.TableID();
  EXPECT_EQ(created.TableLocksFile(), nullptr) << "a new table is not left open";
  EXPECT_EQ(TablesOf(*db), std::vector<std::string>{"T"});

  // The list item names the table id and three files of their page types.
  const TVEXTableListItem item = db->TableListFile()->TableList().at(0);
  EXPECT_EQ(item.TableID, tableID);
  TVEXDiskPageManager& pages = *db->DiskPageManager();
  {
    TVEXLockGuard lock(db->DatabaseLock());
    EXPECT_EQ(PageTypeOf(pages, item.MetaDataFilePageNo), ptTableMetaData);
    EXPECT_EQ(PageTypeOf(pages, item.MostUpdatedFilePageNo), ptTableMostUpdated);
    EXPECT_EQ(PageTypeOf(pages, item.LocksFilePageNo), ptTableLocks);
  }

  DiskCursor cursor(session, "T");
  TVEXDiskTableData* table = &Open(*db, cursor);
  EXPECT_EQ(table->TableID(), tableID);
  for (int32_t k = 1; k <= 5; ++k) ASSERT_TRUE(Insert(*table, cursor, k, k * 10));
  Close(*db, *table, cursor);

  // Rename: the list changes, the old name is gone.
  DiskCursor renamer(session, "T");
  {
    auto& t = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(renamer));
    TVEXLockGuard lock(db->DatabaseLock());
    t.RenameTable("Guests", &renamer);
    EXPECT_FALSE(renamer.Exclusive()) << "the cursor's flag is put back";
    t.FreeIfNoCursorsConnected();
  }
  EXPECT_EQ(TablesOf(*db), std::vector<std::string>{"Guests"});
  DiskCursor old(session, "T");
  ExpectVEXError(30396, [&] { Open(*db, old); });
  db->FreeTableData(db->FindTableData(old));

  // Empty: the records go, the table stays.
  DiskCursor emptier(session, "Guests");
  {
    auto& t = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(emptier));
    TVEXLockGuard lock(db->DatabaseLock());
    t.EmptyTable(&emptier);
    EXPECT_TRUE(t.CursorList().empty());
    t.FreeIfNoCursorsConnected();
  }
  DiskCursor reader(session, "Guests");
  table = &Open(*db, reader);
  EXPECT_TRUE(Walk(*table, reader).empty());
  EXPECT_EQ(Count(*table, reader), 0);
  EXPECT_TRUE(IndexKeys(*table, reader).empty());
  ASSERT_TRUE(Insert(*table, reader, 7, 70)) << "the emptied table takes records";
  Close(*db, *table, reader);

  // Delete: the list is empty and the table's pages are free again.
  DiskCursor deleter(session, "Guests");
  {
    auto& t = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(deleter));
    TVEXLockGuard lock(db->DatabaseLock());
    t.DeleteTable(&deleter, false);
    t.FreeIfNoCursorsConnected();
  }
  EXPECT_TRUE(TablesOf(*db).empty());
  {
    TVEXLockGuard lock(db->DatabaseLock());
    // Left: the system directory, the sessions file and the table list.
    testing::CheckFreeSpaceMaps(pages, {2, 3, 4});
  }
  session.SetConnected(false);
}

TEST_F(DiskTableTest, CreateTableErrorsLeaveNothingInTheFile) VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  CreateTable(*db, session);
  DiskCursor cursor(session, "U");
  auto& table = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(cursor));
  TVEXLockGuard lock(db->DatabaseLock());
  TVEXFieldDefs none;
  TVEXIndexDefs indexes;
  TVEXConstraintDefs constraints;
  ExpectVEXError(20128, [&] { table.CreateTable(&cursor, none, indexes, constraints); });

  // A name taken already: the table's files are dropped with the change set.
  DiskCursor same(session, "t");
  auto& twin = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(same));
  TVEXFieldDefs fields;
  testing::DefineTable(fields, indexes);
  const int32_t usedPages = int32_t{db->DiskPageManager()->DBHeader()->LastUsedPageNo};
  ExpectVEXError(30395, [&] { twin.CreateTable(&same, fields, indexes, constraints); });
  db->DiskPageManager()->ReadDBHeader();
  EXPECT_EQ(int32_t{db->DiskPageManager()->DBHeader()->LastUsedPageNo}, usedPages);
  EXPECT_EQ(TablesOf(*db), std::vector<std::string>{"T"});
  session.SetConnected(false);
}

// --- the model test ----------------------------------------------------------

// Random inserts, updates and deletes, some in transactions that commit or
// roll back, against a map; after every step the table is walked physically
// and along its primary index, counted and its record-page index validated;
// at the end the file is reopened by a new database object.
TEST_F(DiskTableTest, RecordChangesMatchAMapThroughTransactionsAndAReopen)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  TableImage committed;
  {
    auto db = NewDatabase();
    db->CreateDatabase();
    DiskSession session(*db);
    session.SetConnected(true);
    CreateTable(*db, session);
    DiskCursor cursor(session, "T");
    TVEXDiskTableData& table = Open(*db, cursor);

    std::mt19937 random(20261211);
    TableImage model;
    int32_t nextKey = 1;
    const auto pick = [&](const TableImage& image) {
      auto it = image.begin();
      std::advance(it, static_cast<long>(random() % image.size()));
      return it->first;
    };
    for (int step = 0; step < 400; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const uint32_t dice = random() % 100;
      if (dice < 6 && !session.InTransaction()) {
        session.StartTransaction();
      } else if (dice < 10 && session.InTransaction()) {
        if (random() % 2 == 0) {
          session.Commit(false);
          committed = model;
        } else {
          session.Rollback();
          model = committed;
        }
      } else if (dice < 55 || model.empty()) {
        const int32_t key = nextKey++;
        const int32_t value = static_cast<int32_t>(random() % 1000);
        ASSERT_TRUE(Insert(table, cursor, key, value));
        model[key] = value;
      } else if (dice < 80) {
        const int32_t key = pick(model);
        const int32_t value = static_cast<int32_t>(random() % 1000);
        ASSERT_TRUE(Update(table, cursor, key, value));
        model[key] = value;
      } else {
        const int32_t key = pick(model);
        ASSERT_TRUE(Delete(table, cursor, key));
        model.erase(key);
      }
      if (!session.InTransaction()) committed = model;

      ASSERT_EQ(Walk(table, cursor), model);
      std::vector<int32_t> keys;
      for (const auto& [key, value] : model) keys.push_back(key);
      ASSERT_EQ(IndexKeys(table, cursor), keys);
      ASSERT_EQ(Count(table, cursor), static_cast<int64_t>(model.size()));
      TVEXLockGuard lock(db->DatabaseLock());
      table.DiskRecordManager()->ValidateRecordPageIndex(cursor.GetSessionID());
    }
    if (session.InTransaction()) session.Rollback();
    ASSERT_EQ(Walk(table, cursor), committed);
    Close(*db, table, cursor);
    session.SetConnected(false);
  }
  auto db = NewDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  EXPECT_FALSE(session.RepairNeeded());
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Open(*db, cursor);
  EXPECT_EQ(Walk(table, cursor), committed);
  EXPECT_EQ(Count(table, cursor), static_cast<int64_t>(committed.size()));
  Close(*db, table, cursor);
  session.SetConnected(false);
}

TEST_F(DiskTableTest, DeletingMovesTheCursorToTheNextThenThePriorRecord)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  CreateTable(*db, session);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Open(*db, cursor);
  for (int32_t k = 1; k <= 3; ++k) ASSERT_TRUE(Insert(table, cursor, k, 0));
  std::map<int32_t, TVEXPageItemID> ids;
  Walk(table, cursor);
  for (int32_t k = 1; k <= 3; ++k) {
    ASSERT_TRUE(Seek(table, cursor, k));
    ids[k] = cursor.CurrentRecordID;
  }
  ASSERT_EQ(IndexKeys(table, cursor), (std::vector<int32_t>{1, 2, 3}));
  ASSERT_TRUE(Delete(table, cursor, 2));
  EXPECT_EQ(cursor.CurrentRecordID.PageItemNo, ids[3].PageItemNo) << "the next record";
  ASSERT_TRUE(Delete(table, cursor, 3));
  EXPECT_EQ(cursor.CurrentRecordID.PageItemNo, ids[1].PageItemNo) << "none next: the prior";
  ASSERT_TRUE(Delete(table, cursor, 1));
  EXPECT_TRUE(cursor.FirstPosition);
  EXPECT_FALSE(cursor.LastPosition);
  Close(*db, table, cursor);
  session.SetConnected(false);
}

// --- opens across two database objects ---------------------------------------

struct OpenCase {
  const char* Name;
  bool FirstExclusive;
  bool SecondExclusive;
  int32_t Code;
};

TEST_F(DiskTableTest, ExclusiveAndSharedOpensAcrossTwoObjects) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const OpenCase cases[] = {{"shared, shared", false, false, 0},
                            {"exclusive, then shared", true, false, 20209},
                            {"exclusive, then exclusive", true, true, 20208},
                            {"shared, then exclusive", false, true, 20208}};
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  CreateTable(*a, sa);
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.Name);
    DiskCursor first(sa, "T", c.FirstExclusive), second(sb, "T", c.SecondExclusive);
    TVEXDiskTableData& ta = Open(*a, first);
    EXPECT_EQ(CodeOf([&] { Open(*b, second); }), c.Code);
    auto& tb = static_cast<TVEXDiskTableData&>(*b->FindOrCreateTableData(second));
    Close(*b, tb, second);
    Close(*a, ta, first);
    TVEXLockGuard managerLock(a->TableLockManager()->Lock());
    EXPECT_EQ(a->TableLockManager()->SessionLockList(sa.SessionID())->Count(), 0);
  }
  sa.SetConnected(false);
  sb.SetConnected(false);
}

TEST_F(DiskTableTest, AnExclusiveCursorIsRefusedWhileAnotherCursorOfTheObjectHasTheTableShared)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db, true);
  session.SetConnected(true);
  CreateTable(*db, session);
  DiskCursor shared(session, "T"), exclusive(session, "T", true), renamer(session, "T");
  TVEXDiskTableData& table = Open(*db, shared);
  {
    TVEXLockGuard lock(db->DatabaseLock());
    ExpectVEXError(20242, [&] { table.OpenTable(exclusive); });
    ExpectVEXError(20242, [&] { table.RenameTable("U", &renamer); });
  }
  EXPECT_EQ(table.CursorList().size(), 1u);
  EXPECT_EQ(TablesOf(*db), std::vector<std::string>{"T"});
  Close(*db, table, shared);
  session.SetConnected(false);
}

// --- the multi-user read frame -------------------------------------------------

TEST_F(DiskTableTest, ReadsAreRefusedWhileAnotherConnectionHoldsRW) VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  CreateTable(*a, sa);
  DiskCursor ca(sa, "T"), cb(sb, "T");
  TVEXDiskTableData& ta = Open(*a, ca);
  TVEXDiskTableData& tb = Open(*b, cb);
  ASSERT_TRUE(Insert(ta, ca, 1, 10));
  {
    TVEXLockGuard lock(b->DatabaseLock());
    ASSERT_TRUE(tb.LockTable(sb.SessionID(), ltRW, 1, 0, true));
  }
  {
    TVEXLockGuard lock(a->DatabaseLock());
    ca.FirstPosition = true;
    EXPECT_EQ(ta.GetRecordBuffer(ca, grmNext), grrError);
    ExpectVEXError(20218, [&] { ta.InternalGetRecordCount(ca); });
    ExpectVEXError(20217, [&] { ta.GetRecNo(ca); });
    ExpectVEXError(20220, [&] { ta.InternalGetRecNo(ca); });
    // A refused read holds nothing afterwards.
    TVEXLockGuard managerLock(a->TableLockManager()->Lock());
    const TVEXTableLockList& held = *a->TableLockManager()->SessionLockList(sa.SessionID());
    ASSERT_EQ(held.Count(), 1);
    EXPECT_EQ(held.Item(0).LockType, ltIS);
  }
  {
    TVEXLockGuard lock(b->DatabaseLock());
    ASSERT_TRUE(tb.UnlockTable(sb.SessionID(), ltRW, false));
  }
  EXPECT_EQ(Walk(ta, ca), (TableImage{{1, 10}}));
  EXPECT_EQ(Walk(tb, cb), (TableImage{{1, 10}})) << "the other connection sees the commit";
  Close(*a, ta, ca);
  Close(*b, tb, cb);
  sa.SetConnected(false);
  sb.SetConnected(false);
}

// --- repair ---------------------------------------------------------------------

TEST_F(DiskTableTest, ARepairOpenRebuildsADamagedRecordPageIndex) VEX_NO_THREAD_SAFETY_ANALYSIS {
  // The rebuild starts a new tree and leaves the damaged one's pages, which
  // cannot be walked safely, to the database repair: the file checker would
  // list them as unreachable.
  FCheckFilesAtEnd = false;
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  CreateTable(*db, session);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData* table = &Open(*db, cursor);
  TableImage expected;
  for (int32_t k = 1; k <= 600; ++k) {
    ASSERT_TRUE(Insert(*table, cursor, k, k));
    expected[k] = k;
  }
  // The index loses its last record page: the count no longer adds up.
  {
    TVEXLockGuard lock(db->DatabaseLock());
    TVEXBTreeRecordPageIndex& index = table->DiskRecordManager()->RecordPageIndex();
    int32_t last = -1;
    ASSERT_TRUE(index.GetLastRecordPage(0, last));
    index.DeleteRecord(0, last, 0);
    db->DiskPageManager()->ApplyChanges(0);
  }
  Close(*db, *table, cursor);

  DiskCursor plain(session, "T");
  table = &Open(*db, plain);
  EXPECT_LT(Walk(*table, plain).size(), expected.size()) << "the damage shows";
  Close(*db, *table, plain);

  DiskCursor repairing(session, "T");
  {
    auto& t = static_cast<TVEXDiskTableData&>(*db->FindOrCreateTableData(repairing));
    t.SetIsRepairing(true);
    table = &Open(*db, repairing);
  }
  EXPECT_EQ(Walk(*table, repairing), expected);
  Close(*db, *table, repairing);

  DiskCursor after(session, "T");
  table = &Open(*db, after);
  EXPECT_EQ(Walk(*table, after), expected) << "the rebuilt index was stored";
  {
    TVEXLockGuard lock(db->DatabaseLock());
    table->DiskRecordManager()->ValidateRecordPageIndex(0);
  }
  Close(*db, *table, after);
  session.SetConnected(false);
}

// --- BLOB streams -----------------------------------------------------------------

TEST_F(DiskTableTest, BlobStreamsAreEmptyForANullFieldAndCarryAStoredValue)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  CreateTable(*db, session);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Open(*db, cursor);
  SetRecord(table, cursor, 1, 1);
  const std::string text(5000, 'x');
  {
    TVEXLockGuard lock(db->DatabaseLock());
    std::unique_ptr<TVEXStream> empty = table.InternalCreateBlobStream(cursor, true, 2, bomRead);
    EXPECT_EQ(empty->GetSize(), 0) << "a null field";
    std::unique_ptr<TVEXStream> writer = table.InternalCreateBlobStream(cursor, true, 2, bomWrite);
    writer->Write(text.data(), static_cast<int32_t>(text.size()));
    writer->SetModified(true);
    table.WriteBLOBFieldToRecordBuffer(cursor, 2, *writer);
    ASSERT_TRUE(table.InsertRecord(cursor));
  }
  ASSERT_TRUE(Seek(table, cursor, 1));
  {
    TVEXLockGuard lock(db->DatabaseLock());
    std::unique_ptr<TVEXStream> reader = table.InternalCreateBlobStream(cursor, false, 2, bomRead);
    ASSERT_EQ(reader->GetSize(), static_cast<int64_t>(text.size()));
    std::string back(text.size(), '\0');
    reader->Seek(0, rtl::soFromBeginning);
    ASSERT_EQ(reader->Read(back.data(), static_cast<int32_t>(back.size())),
              static_cast<int32_t>(back.size()));
    EXPECT_EQ(back, text);
    std::unique_ptr<TVEXStream> overwrite =
        table.InternalCreateBlobStream(cursor, false, 2, bomWrite);
    EXPECT_EQ(overwrite->GetSize(), 0) << "write mode starts empty";
    table.ClearModifiedBLOBFieldsInRecordBuffer(cursor.CurrentRecordBuffer());
  }
  ASSERT_TRUE(Delete(table, cursor, 1));
  EXPECT_EQ(table.BlobManager()->CacheCount(), 0u);
  Close(*db, table, cursor);
  session.SetConnected(false);
}

TEST_F(DiskTableTest, ATemporaryIndexIsFilledFromTheRecordsAndKeptOutOfTheMetadata)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession session(*db);
  session.SetConnected(true);
  CreateTable(*db, session);
  DiskCursor cursor(session, "T");
  TVEXDiskTableData& table = Open(*db, cursor);
  for (int32_t k = 1; k <= 50; ++k) ASSERT_TRUE(Insert(table, cursor, k, 100 - k));
  rtl::TStringList fields, directions, cases;
  fields.Add("V");
  directions.Add("ASC");
  cases.Add("");
  bool created = false;
  table.FindOrCreateIndex(cursor, fields, directions, cases, created);
  EXPECT_TRUE(created);
  EXPECT_TRUE(table.IndexExists(cursor, fields, directions, cases));
  const TVEXIndexDef* temporary = nullptr;
  for (int32_t i = 0; i < table.IndexManager()->IndexDefs().Count(); ++i) {
    const auto* def = static_cast<const TVEXIndexDef*>(table.IndexManager()->IndexDefs().GetDef(i));
    if (def->Temporary) temporary = def;
  }
  ASSERT_NE(temporary, nullptr);
  // Its entries, in index order: the records by ascending V.
  TVEXNavigationInfo nav;
  nav.IndexID = temporary->ObjectID;
  nav.RecordBuffer = cursor.Buffer.data();
  nav.FirstPosition = true;
  nav.GetRecordMode = grmNext;
  int32_t previous = -1;
  int32_t entries = 0;
  for (;; ++entries) {
    TVEXLockGuard lock(db->DatabaseLock());
    table.IndexManager()->GetRecordBuffer(0, nav, nullptr, table.RecordManager()->TableState());
    if (nav.GetRecordResult != grrOK) break;
    nav.FirstPosition = false;
    EXPECT_GT(ValueOf(table, cursor), previous);
    previous = ValueOf(table, cursor);
  }
  EXPECT_EQ(entries, 50);
  Close(*db, table, cursor);

  DiskCursor again(session, "T");
  TVEXDiskTableData& reopened = Open(*db, again);
  EXPECT_EQ(reopened.IndexManager()->IndexDefs().Count(), 1) << "only the primary index is stored";
  Close(*db, reopened, again);
  session.SetConnected(false);
}

// --- what a connection leaves behind ------------------------------------------------

TEST_F(DiskTableTest, ADisconnectInMidTransactionLeavesNothingToTheNextSessionOfItsSlot)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto db = NewDatabase();
  db->CreateDatabase();
  DiskSession keeper(*db, true), leaving(*db, true);
  keeper.SetConnected(true);
  leaving.SetConnected(true);
  CreateTable(*db, keeper);
  DiskCursor ck(keeper, "T");
  TVEXDiskTableData& table = Open(*db, ck);
  ASSERT_TRUE(Insert(table, ck, 1, 10));

  const int32_t slot = leaving.SessionID();
  leaving.StartTransaction();
  {
    TVEXLockGuard lock(db->DatabaseLock());
    ASSERT_TRUE(table.LockTable(slot, ltXIRW, 1, 0, true));
    ASSERT_TRUE(table.LockRecord(slot, {0, 0}, 1, 0));
  }
  DiskCursor cl(leaving, "T");
  table.InitCursorBuffers(cl);
  cl.Bind(table);
  ASSERT_TRUE(Insert(table, cl, 2, 20));
  leaving.SetConnected(false);
  EXPECT_EQ(leaving.RollbackCalls, 1);

  DiskSession next(*db, true);
  next.SetConnected(true);
  ASSERT_EQ(next.SessionID(), slot);
  {
    TVEXLockGuard managerLock(db->TableLockManager()->Lock());
    EXPECT_EQ(db->TableLockManager()->SessionLockList(slot)->Count(), 0);
  }
  next.StartTransaction();
  next.Commit(false);
  EXPECT_EQ(Walk(table, ck), (TableImage{{1, 10}}));
  EXPECT_EQ(Count(table, ck), 1);
  {
    // The record lock went with the slot: another session may take it.
    TVEXLockGuard lock(db->DatabaseLock());
    EXPECT_FALSE(table.IsRecordLocked(keeper.SessionID(), {0, 0}));
  }
  Close(*db, table, ck);
  next.SetConnected(false);
  keeper.SetConnected(false);
}

TEST_F(DiskTableTest, EmptyingInATransactionKeepsOtherConnectionsFromWritingUntilItEnds)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  CreateTable(*a, sa);
  DiskCursor cb(sb, "T");
  {
    DiskCursor filler(sa, "T");
    TVEXDiskTableData& t = Open(*a, filler);
    ASSERT_TRUE(Insert(t, filler, 1, 10));
    Close(*a, t, filler);
  }
  sa.StartTransaction();
  DiskCursor emptier(sa, "T");
  {
    auto& t = static_cast<TVEXDiskTableData&>(*a->FindOrCreateTableData(emptier));
    TVEXLockGuard lock(a->DatabaseLock());
    t.EmptyTable(&emptier);
  }
  TVEXDiskTableData& tb = Open(*b, cb);
  {
    TVEXLockGuard lock(b->DatabaseLock());
    EXPECT_FALSE(tb.LockTable(sb.SessionID(), ltRW, 3, 10, true))
        << "a post of the other connection waits for the transaction";
    EXPECT_FALSE(tb.LockTable(sb.SessionID(), ltSIRW, 3, 10, true));
  }
  sa.Commit(false);
  {
    TVEXLockGuard lock(b->DatabaseLock());
    ASSERT_TRUE(tb.LockTable(sb.SessionID(), ltRW, 3, 10, true));
  }
  EXPECT_TRUE(Walk(tb, cb).empty());
  ASSERT_TRUE(Insert(tb, cb, 2, 20));
  {
    TVEXLockGuard lock(b->DatabaseLock());
    ASSERT_TRUE(tb.UnlockTable(sb.SessionID(), ltRW, false));
  }
  EXPECT_EQ(Walk(tb, cb), (TableImage{{2, 20}}));
  Close(*b, tb, cb);
  sa.SetConnected(false);
  sb.SetConnected(false);
}

// Another connection empties the table (or drops and makes it again) and
// writes the same number of records with new values: the table state comes
// out equal, and only the table's identity and a state that never goes back
// tell the cached pages are stale.
TEST_F(DiskTableTest, CachedPagesOfAnEmptiedOrRecreatedTableAreReadAgain)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  for (const bool recreate : {false, true}) {
    SCOPED_TRACE(recreate ? "recreated" : "emptied");
    auto a = NewDatabase();
    a->CreateDatabase();
    auto b = NewDatabase();
    DiskSession sa(*a, true), sb(*b, true);
    sa.SetConnected(true);
    sb.SetConnected(true);
    CreateTable(*a, sa, "T", false);
    DiskCursor ca(sa, "T");
    TVEXDiskTableData* ta = &Open(*a, ca);
    for (int32_t k = 1; k <= 3; ++k) ASSERT_TRUE(Insert(*ta, ca, k, 1));
    EXPECT_EQ(Walk(*ta, ca), (TableImage{{1, 1}, {2, 1}, {3, 1}}));
    if (recreate) Close(*a, *ta, ca);

    DiskCursor cb(sb, "T");
    if (recreate) {
      auto& t = static_cast<TVEXDiskTableData&>(*b->FindOrCreateTableData(cb));
      {
        TVEXLockGuard lock(b->DatabaseLock());
        t.DeleteTable(&cb, false);
        t.FreeIfNoCursorsConnected();
      }
      CreateTable(*b, sb, "T", false);
    } else {
      auto& t = static_cast<TVEXDiskTableData&>(*b->FindOrCreateTableData(cb));
      TVEXLockGuard lock(b->DatabaseLock());
      ca.SetExclusive(false);
      // The reader keeps the table open; the empty needs it alone.
      Close(*a, *ta, ca);
      t.EmptyTable(&cb);
      ta = nullptr;
    }
    TVEXDiskTableData& tb = Open(*b, cb);
    for (int32_t k = 1; k <= 3; ++k) ASSERT_TRUE(Insert(tb, cb, k, 2));
    Close(*b, tb, cb);

    DiskCursor again(sa, "T");
    ta = &Open(*a, again);
    EXPECT_EQ(Walk(*ta, again), (TableImage{{1, 2}, {2, 2}, {3, 2}}));
    Close(*a, *ta, again);
    sa.SetConnected(false);
    sb.SetConnected(false);
    std::remove(PathOf().c_str());
  }
}

TEST_F(DiskTableTest, ATableAnotherConnectionHasOpenIsNotDeleted) VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  CreateTable(*a, sa);
  DiskCursor cb(sb, "T");
  TVEXDiskTableData& tb = Open(*b, cb);
  ASSERT_TRUE(Insert(tb, cb, 1, 10));

  DiskCursor deleter(sa, "T");
  auto& ta = static_cast<TVEXDiskTableData&>(*a->FindOrCreateTableData(deleter));
  {
    TVEXLockGuard lock(a->DatabaseLock());
    ExpectVEXError(20208, [&] { ta.DeleteTable(&deleter, false); });
    EXPECT_TRUE(ta.CursorList().empty());
    EXPECT_FALSE(deleter.Exclusive());
  }
  EXPECT_EQ(TablesOf(*a), std::vector<std::string>{"T"});
  EXPECT_EQ(Walk(tb, cb), (TableImage{{1, 10}}));
  Close(*b, tb, cb);
  {
    TVEXLockGuard lock(a->DatabaseLock());
    ta.DeleteTable(&deleter, false);
    ta.FreeIfNoCursorsConnected();
  }
  EXPECT_TRUE(TablesOf(*b).empty());
  sa.SetConnected(false);
  sb.SetConnected(false);
}

TEST_F(DiskTableTest, ACommitRefusedItsLocksWritesNothingAndLeavesTheTransactionOpen)
VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto a = NewDatabase();
  a->CreateDatabase();
  auto b = NewDatabase();
  DiskSession sa(*a, true), sb(*b, true);
  sa.SetConnected(true);
  sb.SetConnected(true);
  CreateTable(*a, sa);
  DiskCursor ca(sa, "T"), cb(sb, "T");
  TVEXDiskTableData& ta = Open(*a, ca);
  TVEXDiskTableData& tb = Open(*b, cb);
  sa.StartTransaction();
  {
    TVEXLockGuard lock(a->DatabaseLock());
    ASSERT_TRUE(ta.LockTable(sa.SessionID(), ltXIRW, 1, 0, true));
  }
  ASSERT_TRUE(Insert(ta, ca, 1, 10));
  {
    TVEXLockGuard lock(b->DatabaseLock());
    ASSERT_TRUE(tb.LockTable(sb.SessionID(), ltS, 1, 0, true)) << "a reader of the other connection";
  }
  ExpectVEXError(20233, [&] { sa.Commit(false); });
  EXPECT_TRUE(sa.InTransaction());
  {
    TVEXLockGuard lock(b->DatabaseLock());
    ASSERT_TRUE(tb.UnlockTable(sb.SessionID(), ltS, false));
  }
  EXPECT_TRUE(Walk(tb, cb).empty()) << "nothing was written";
  sa.Commit(false);
  EXPECT_EQ(Walk(tb, cb), (TableImage{{1, 10}}));
  {
    TVEXLockGuard managerLock(a->TableLockManager()->Lock());
    EXPECT_EQ(a->TableLockManager()->SessionLockList(sa.SessionID())->Count(), 1)
        << "only the open table's ltIS is left";
  }
  Close(*a, ta, ca);
  Close(*b, tb, cb);
  sa.SetConnected(false);
  sb.SetConnected(false);
}

}  // namespace
}  // namespace vex
