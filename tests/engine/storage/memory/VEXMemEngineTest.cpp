// The "MEMORY" database and its tables: rows that a rollback leaves in place,
// B-tree indexes on RAM pages, BLOB blocks that follow the stored records,
// record numbers through the table, and the database's own life cycle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../VEXDatabaseFakes.h"
#include "rtl/Lists.h"
#include "storage/btree/VEXBTreeRecordIndex.h"
#include "storage/memory/VEXMemEngine.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::GetField;
using testing::NullRecord;
using testing::SetField;
using testing::TestCursor;
using testing::TestSession;
using testsupport::RaisesNativeError;

// A table "Items": Id (integer, unique index ById) and Data (BLOB).
class MemoryTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.SetConnected(true);
    TVEXLockGuard lock(db.DatabaseLock());
    table = static_cast<TVEXMemoryTableData*>(db.FindOrCreateTableData(cursor));
    TVEXLockGuard tableLock(table->DatabaseLock());
    TVEXFieldDefs fields;
    AddField(fields, "Id", aftInteger);
    AddField(fields, "Data", aftBlob);
    TVEXIndexDefs indexes;
    TVEXIndexDef* byId = indexes.AddCreated();
    byId->Name = "ById";
    byId->Unique = true;
    rtl::TStringList names, dirs, cases;
    names.Add("Id");
    dirs.Add("ASC");
    cases.Add("CASE");
    byId->AssignByNames(names, dirs, cases);
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.FieldDefs().Assign(table->FieldManager()->FieldDefs());
    table->OpenTable(cursor);
    cursor.Record = NullRecord(Fields());
    cursor.SetCurrentRecordBuffer(cursor.Record.data());
  }

  const TVEXFieldDefs& Fields() { return table->FieldManager()->FieldDefs(); }

  bool Insert(int32_t id, const std::string& blob = "") {
    TVEXLockGuard lock(table->DatabaseLock());
    cursor.Record = NullRecord(Fields());
    cursor.SetCurrentRecordBuffer(cursor.Record.data());
    SetField<int32_t>(Fields(), cursor.Record, 0, id);
    if (!blob.empty()) WriteBlob(blob);
    return table->InsertRecord(cursor);
  }

  void WriteBlob(const std::string& value) VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::unique_ptr<TVEXStream> stream = table->InternalCreateBlobStream(cursor, false, 1, bomWrite);
    stream->Write(value.data(), static_cast<int32_t>(value.size()));
    stream->SetModified(true);
    table->WriteBLOBFieldToRecordBuffer(cursor, 1, *stream);
  }

  std::string ReadBlob() VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::unique_ptr<TVEXStream> stream = table->InternalCreateBlobStream(cursor, false, 1, bomRead);
    std::string value(static_cast<size_t>(stream->GetSize()), '\0');
    stream->Read(value.data(), static_cast<int32_t>(value.size()));
    return value;
  }

  // The Ids in physical order, and the index's integrity walk.
  std::vector<int32_t> Ids() {
    TVEXLockGuard lock(table->DatabaseLock());
    std::vector<int32_t> ids;
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    while (table->GetRecordBuffer(cursor, grmNext) == grrOK)
      ids.push_back(GetField<int32_t>(Fields(), cursor.Record, 0));
    auto* index = static_cast<TVEXBTreeRecordIndex*>(
        table->IndexManager()->OpenIndex(table->IndexManager()->IndexDefs().GetDef(0)->ObjectID));
    index->CheckIntegrity(0);
    return ids;
  }

  TVEXMemoryDatabaseData db;
  TestSession session{&db};
  TestCursor cursor{session, "Items"};
  TVEXMemoryTableData* table = nullptr;
};

TEST_F(MemoryTableTest, RowsSurviveARollbackAndTheIndexStaysWhole) {
  ASSERT_TRUE(Insert(1));
  session.StartTransaction();
  for (int32_t id = 2; id <= 1500; ++id) ASSERT_TRUE(Insert(id));
  session.Rollback();
  std::vector<int32_t> expected;
  for (int32_t id = 1; id <= 1500; ++id) expected.push_back(id);
  EXPECT_EQ(Ids(), expected) << "memory tables are not transactional";
  ASSERT_TRUE(Insert(1501));
  expected.push_back(1501);
  EXPECT_EQ(Ids(), expected);
  EXPECT_GT(table->MemoryPageManager().PageCount(), 1) << "the index spans several RAM pages";
}

TEST_F(MemoryTableTest, BlobBlocksAreReleasedOnlyWhenNoStoredRecordNamesThem) {
  TVEXLockGuard lock(table->DatabaseLock());
  ASSERT_TRUE(Insert(1, "first value"));
  const TVEXPageItemID id = cursor.CurrentRecordID;
  EXPECT_EQ(table->BlobBlocks().BlockCount(), 1);
  const std::vector<uint8_t> staleCopy = cursor.Record;

  // Writing twice before posting: the value replaced in the buffer goes.
  std::vector<uint8_t> edit = cursor.Record;
  cursor.SetEditRecordBuffer(edit.data());
  WriteBlob("second value");
  WriteBlob("third value");
  EXPECT_EQ(table->BlobBlocks().BlockCount(), 2)
      << "the stored value stays until the update; the second, never stored, is gone";
  ASSERT_TRUE(table->UpdateRecord(cursor));
  EXPECT_EQ(table->BlobBlocks().BlockCount(), 1);
  cursor.CurrentRecordID = id;
  ASSERT_EQ(table->GetRecordBuffer(cursor, grmCurrent), grrOK);
  EXPECT_EQ(ReadBlob(), "third value");

  // A copy taken before the update names a released block: a clean error,
  // and it cannot be stored.
  std::vector<uint8_t> stale = staleCopy;
  cursor.SetCurrentRecordBuffer(stale.data());
  EXPECT_THAT([&] { ReadBlob(); }, RaisesNativeError(10112));
  EXPECT_THAT([&] { table->InsertRecord(cursor); }, RaisesNativeError(10112));
  EXPECT_EQ(table->InternalGetRecordCount(cursor), 1);

  // An update the record store refuses (record gone) keeps the blocks.
  cursor.SetCurrentRecordBuffer(cursor.Record.data());
  cursor.CurrentRecordID = id;
  ASSERT_TRUE(table->DeleteRecord(cursor));
  EXPECT_EQ(table->BlobBlocks().BlockCount(), 0);
  EXPECT_TRUE(cursor.FirstPosition) << "the only record is gone";
  cursor.CurrentRecordID = id;
  EXPECT_FALSE(table->DeleteRecord(cursor)) << "deleted meanwhile through another cursor";
  EXPECT_FALSE(table->UpdateRecord(cursor));
}

TEST_F(MemoryTableTest, EmptyValuesAreNullAndWriteModeStartsEmpty) {
  TVEXLockGuard lock(table->DatabaseLock());
  ASSERT_TRUE(Insert(1, "kept"));
  WriteBlob("");
  EXPECT_TRUE(testing::IsFieldNull(cursor.Record, 1));
  EXPECT_EQ(ReadBlob(), "");
  ASSERT_EQ(table->GetRecordBuffer(cursor, grmCurrent), grrOK);
  std::unique_ptr<TVEXStream> stream = table->InternalCreateBlobStream(cursor, false, 1, bomWrite);
  EXPECT_EQ(stream->GetSize(), 0);
  EXPECT_EQ(ReadBlob(), "kept");
}

TEST_F(MemoryTableTest, RecordNumbersAcrossDeletedSlots) {
  for (int32_t id = 1; id <= 10; ++id) ASSERT_TRUE(Insert(id));
  TVEXLockGuard lock(table->DatabaseLock());
  table->InternalSetRecNo(cursor, 9);
  ASSERT_EQ(table->GetRecordBuffer(cursor, grmCurrent), grrOK);
  ASSERT_TRUE(table->DeleteRecord(cursor));
  EXPECT_EQ(GetField<int32_t>(Fields(), cursor.Record, 0), 9) << "the buffer is untouched";
  EXPECT_EQ(cursor.CurrentRecordID.PageNo, 9) << "the cursor lands on the next record";
  EXPECT_EQ(table->InternalGetRecNo(cursor), 9);
  table->InternalSetRecNo(cursor, 9);
  EXPECT_EQ(cursor.CurrentRecordID.PageNo, 9);
  // Nine records: number 10 names none, and the cursor stays.
  table->InternalSetRecNo(cursor, 3);
  table->InternalSetRecNo(cursor, 10);
  EXPECT_EQ(cursor.CurrentRecordID.PageNo, 2);
  EXPECT_EQ(table->InternalGetRecordCount(cursor), 9);
}

TEST(MemoryTable, CreatedWithoutACursorKeepsItsIndexes) {
  TVEXMemoryDatabaseData db;
  TestSession session{&db};
  session.SetConnected(true);
  TestCursor cursor{session, "Plain"};
  TVEXLockGuard lock(db.DatabaseLock());
  auto* table = static_cast<TVEXMemoryTableData*>(db.FindOrCreateTableData(cursor));
  TVEXLockGuard tableLock(table->DatabaseLock());
  TVEXFieldDefs fields;
  AddField(fields, "Id", aftInteger);
  TVEXIndexDefs indexes;
  TVEXIndexDef* byId = indexes.AddCreated();
  byId->Name = "ById";
  rtl::TStringList names, dirs, cases;
  names.Add("Id");
  dirs.Add("ASC");
  cases.Add("CASE");
  byId->AssignByNames(names, dirs, cases);
  TVEXConstraintDefs constraints;
  table->CreateTable(nullptr, fields, indexes, constraints);
  table->InitCursorBuffers(cursor);
  cursor.FieldDefs().Assign(table->FieldManager()->FieldDefs());
  for (int32_t id = 0; id < 500; ++id) {
    cursor.Record = NullRecord(table->FieldManager()->FieldDefs());
    cursor.SetCurrentRecordBuffer(cursor.Record.data());
    SetField<int32_t>(table->FieldManager()->FieldDefs(), cursor.Record, 0, 500 - id);
    ASSERT_TRUE(table->InsertRecord(cursor));
  }
  auto* index = static_cast<TVEXBTreeRecordIndex*>(
      table->IndexManager()->OpenIndex(table->IndexManager()->IndexDefs().GetDef(0)->ObjectID));
  EXPECT_NO_THROW(index->CheckIntegrity(0));
  EXPECT_NO_THROW(table->MemoryPageManager().CheckIntegrity());
  table->MemoryPageManager().CheckInvariants();
}

TEST(MemoryDatabase, NamesSessionsIdsAndFreesItsTables) {
  auto db = std::make_unique<TVEXMemoryDatabaseData>();
  EXPECT_EQ(db->DatabaseName(), "MEMORY");
  EXPECT_EQ(db->PageManager(), nullptr);
  TestSession a{db.get()};
  a.SetSessionID(7);
  a.SetConnected(true);
  EXPECT_EQ(a.SessionID(), 0);
  EXPECT_EQ(db->GetNewObjectId(), 1);
  EXPECT_EQ(db->GetNewObjectId(), 2);
  TestCursor c1{a, "One"}, c2{a, "ONE"}, c3{a, "Two"};
  {
    TVEXLockGuard lock(db->DatabaseLock());
    TVEXTableData* one = db->FindOrCreateTableData(c1);
    EXPECT_EQ(db->FindOrCreateTableData(c2), one);
    db->FindOrCreateTableData(c3);
    TVEXLockGuard tableLock(one->DatabaseLock());
    one->OpenTable(c1);
    EXPECT_THAT([&] { one->DeleteTable(&c1, false); }, RaisesNativeError(20017));
    EXPECT_EQ(db->TableDataList().size(), 2u);
  }
  a.SetConnected(false);
  db.reset();  // frees both tables, the open one too, without raising
}

}  // namespace
}  // namespace vex
