// Disk database objects, sessions and cursors for the tests of the disk
// database and table data: a session that ends its transactions through its
// database object, a cursor that owns its record buffers, a table of one
// Integer key (with a primary index), one Integer value and one BLOB, and a
// walk that reads the whole table through the table data.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../VEXDatabaseFakes.h"
#include "../VEXManagerFakes.h"
#include "DiskDatabaseFixture.h"
#include "VEXFileCheck.h"
#include "rtl/Lists.h"
#include "storage/disk/VEXDiskDatabaseData.h"
#include "storage/disk/VEXDiskTableData.h"

namespace vex::testing {

// A session of the fakes' kind in a chosen mode, counting its rollbacks.
class DiskSession : public TestSession {
 public:
  explicit DiskSession(TVEXDatabaseData& Database, bool MultiUser = false, bool Exclusive = false)
      : TestSession(&Database) {
    SetMultiUser(MultiUser);
    SetExclusive(Exclusive);
  }
  void Rollback() override {
    ++RollbackCalls;
    TestSession::Rollback();
  }

  int RollbackCalls = 0;
};

// A cursor with record buffers of its own; Edit holds the record as read
// before an update while it is the cursor's edit buffer.
class DiskCursor : public TestCursor {
 public:
  DiskCursor(TVEXBaseSession& Session, const std::string& TableName, bool Exclusive = false)
      : TestCursor(Session, TableName) {
    SetExclusive(Exclusive);
  }
  // Sizes the buffers for an open table.
  void Bind(TVEXTableData& Table) VEX_NO_THREAD_SAFETY_ANALYSIS {
    Table.InitCursorBuffers(*this);
    SetRecordBufferSize(RecordSize());
    Buffer.assign(static_cast<size_t>(RecordSize()), 0);
    Edit.assign(Buffer.size(), 0);
    SetCurrentRecordBuffer(Buffer.data());
  }

  std::vector<uint8_t> Buffer;
  std::vector<uint8_t> Edit;
};

// Field 0 "K" (Integer, primary index "PK"), field 1 "V" (Integer), field 2
// "B" (BLOB).
inline void DefineTable(TVEXFieldDefs& Fields, TVEXIndexDefs& Indexes, bool WithBlob = true) {
  AddField(Fields, "K", aftInteger);
  AddField(Fields, "V", aftInteger);
  if (WithBlob) AddField(Fields, "B", aftBlob);
  TVEXIndexDef* pk = Indexes.AddCreated();
  pk->Name = "PK";
  pk->Primary = true;
  pk->Unique = true;
  pk->SetColumnCount(1);
  pk->GetIndexColumn(0)->FieldName = "K";
  pk->GetIndexColumn(0)->MaxIndexedSize = 20;
}

// What a walk of the table finds: key -> value.
using TableImage = std::map<int32_t, int32_t>;

class DiskTableTest : public DiskDatabaseTest {
 protected:
  // Every database file the test leaves in its folder passes the file
  // checker, unless the test damaged it on purpose (FCheckFilesAtEnd false).
  void TearDown() override {
    if (!FCheckFilesAtEnd || HasFatalFailure()) return;
    for (const auto& entry : std::filesystem::directory_iterator(FDir.Path())) {
      const std::vector<uint8_t> bytes = ReadWholeFile(entry.path());
      if (bytes.size() < 16 || std::memcmp(bytes.data(), kDBSignature, 16) != 0) continue;
      const TVEXFileCheckReport report = CheckDatabaseFile(entry.path(), FFilePassword);
      EXPECT_TRUE(report.Sound() && report.LeakedPages.empty())
          << FormatFileCheckReport(entry.path(), report);
    }
  }
  bool FCheckFilesAtEnd = true;
  // The password of the files left, when they are encrypted.
  std::string FFilePassword;

  // A database object for db.vex with the settings a new file takes.
  std::unique_ptr<TVEXDiskDatabaseData> NewDatabase(const std::string& name = "db.vex",
                                                    int32_t maxSessions = 8) {
    auto db = std::make_unique<TVEXDiskDatabaseData>();
    db->SetDatabaseName(PathOf(name));
    db->SetMaxSessionCount(maxSessions);
    return db;
  }

  // Creates the file, then the table "T" in it through a cursor of Session.
  static TVEXDiskTableData& CreateTable(TVEXDiskDatabaseData& db, TVEXBaseSession& session,
                                        const std::string& name = "T", bool withBlob = true)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    DiskCursor cursor(session, name);
    TVEXFieldDefs fields;
    TVEXIndexDefs indexes;
    TVEXConstraintDefs constraints;
    DefineTable(fields, indexes, withBlob);
    auto& table = static_cast<TVEXDiskTableData&>(*db.FindOrCreateTableData(cursor));
    TVEXLockGuard lock(db.DatabaseLock());
    table.CreateTable(&cursor, fields, indexes, constraints);
    return table;
  }

  // Opens the table for the cursor and sizes its buffers.
  static TVEXDiskTableData& Open(TVEXDiskDatabaseData& db, DiskCursor& cursor)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    auto& table = static_cast<TVEXDiskTableData&>(*db.FindOrCreateTableData(cursor));
    TVEXLockGuard lock(db.DatabaseLock());
    table.OpenTable(cursor);
    cursor.Bind(table);
    return table;
  }

  static void Close(TVEXDiskDatabaseData& db, TVEXDiskTableData& table, DiskCursor& cursor)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXLockGuard lock(db.DatabaseLock());
    table.CloseTable(cursor);
    table.FreeIfNoCursorsConnected();
  }

  static void SetRecord(TVEXDiskTableData& table, DiskCursor& cursor, int32_t key, int32_t value) {
    std::vector<uint8_t>& r = cursor.Buffer;
    std::fill(r.begin(), r.end(), 0);
    const TVEXFieldDefs& defs = table.FieldManager()->FieldDefs();
    std::memcpy(r.data() + defs.GetDef(0)->MemoryOffset, &key, 4);
    std::memcpy(r.data() + defs.GetDef(1)->MemoryOffset, &value, 4);
    // Field 2, the BLOB, stays null.
    if (defs.Count() > 2) r[0] = 0x04;
  }

  // Inserts (key, value) as a new record.
  static bool Insert(TVEXDiskTableData& table, DiskCursor& cursor, int32_t key, int32_t value)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    SetRecord(table, cursor, key, value);
    TVEXLockGuard lock(table.DatabaseLock());
    return table.InsertRecord(cursor);
  }

  // Moves the cursor onto the record of that key; false when there is none.
  static bool Seek(TVEXDiskTableData& table, DiskCursor& cursor, int32_t key)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXLockGuard lock(table.DatabaseLock());
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    while (table.GetRecordBuffer(cursor, grmNext) == grrOK) {
      if (KeyOf(table, cursor) == key) return true;
    }
    return false;
  }

  static bool Update(TVEXDiskTableData& table, DiskCursor& cursor, int32_t key, int32_t value)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (!Seek(table, cursor, key)) return false;
    cursor.Edit = cursor.Buffer;
    cursor.SetEditRecordBuffer(cursor.Edit.data());
    const int32_t offset = table.FieldManager()->FieldDefs().GetDef(1)->MemoryOffset;
    std::memcpy(cursor.Buffer.data() + offset, &value, 4);
    TVEXLockGuard lock(table.DatabaseLock());
    const bool updated = table.UpdateRecord(cursor);
    cursor.SetEditRecordBuffer(nullptr);
    return updated;
  }

  static bool Delete(TVEXDiskTableData& table, DiskCursor& cursor, int32_t key)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (!Seek(table, cursor, key)) return false;
    TVEXLockGuard lock(table.DatabaseLock());
    return table.DeleteRecord(cursor);
  }

  static int32_t KeyOf(TVEXDiskTableData& table, const DiskCursor& cursor) {
    int32_t key = 0;
    std::memcpy(&key, cursor.Buffer.data() + table.FieldManager()->FieldDefs().GetDef(0)->MemoryOffset,
                4);
    return key;
  }
  static int32_t ValueOf(TVEXDiskTableData& table, const DiskCursor& cursor) {
    int32_t value = 0;
    std::memcpy(&value,
                cursor.Buffer.data() + table.FieldManager()->FieldDefs().GetDef(1)->MemoryOffset, 4);
    return value;
  }

  // Every record through the table data in physical order; the cursor ends
  // after the last.
  static TableImage Walk(TVEXDiskTableData& table, DiskCursor& cursor)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    TableImage image;
    TVEXLockGuard lock(table.DatabaseLock());
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    TVEXGetRecordResult result;
    while ((result = table.GetRecordBuffer(cursor, grmNext)) == grrOK) {
      EXPECT_TRUE(image.emplace(KeyOf(table, cursor), ValueOf(table, cursor)).second)
          << "key " << KeyOf(table, cursor) << " twice";
    }
    EXPECT_EQ(result, grrEOF);
    return image;
  }

  // The keys along the primary index, in index order.
  static std::vector<int32_t> IndexKeys(TVEXDiskTableData& table, DiskCursor& cursor)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::vector<int32_t> keys;
    TVEXLockGuard lock(table.DatabaseLock());
    TVEXBaseIndexManager& indexes = *table.IndexManager();
    TVEXNavigationInfo nav;
    nav.IndexID = indexes.IndexDefs().GetDef(0)->ObjectID;
    nav.RecordBuffer = cursor.Buffer.data();
    nav.FirstPosition = true;
    nav.GetRecordMode = grmNext;
    for (;;) {
      indexes.GetRecordBuffer(cursor.GetSessionID(), nav, nullptr,
                              table.RecordManager()->TableState());
      if (nav.GetRecordResult != grrOK) break;
      nav.FirstPosition = false;
      keys.push_back(KeyOf(table, cursor));
    }
    return keys;
  }

  static int64_t Count(TVEXDiskTableData& table, DiskCursor& cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXLockGuard lock(table.DatabaseLock());
    return table.InternalGetRecordCount(cursor);
  }

  static std::vector<std::string> TablesOf(TVEXDiskDatabaseData& db) {
    rtl::TStringList list;
    db.GetTablesList(list);
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list[i]);
    return names;
  }
};

}  // namespace vex::testing
