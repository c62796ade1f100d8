// A small fake engine over the abstract database and table data: a database
// whose page store is a FakePageStore, tables that keep records in a map and
// indexes as sorted sets (VEXTableFakes.h), a session and a cursor.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakePageStore.h"
#include "VEXTableFakes.h"
#include "foundation/VEXStream.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXCursor.h"
#include "storage/VEXDatabaseData.h"
#include "storage/VEXTableData.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex::testing {

// A session whose connection is only a flag; transactions go to the database
// object it is connected to.
class TestSession : public TVEXBaseSession {
 public:
  explicit TestSession(TVEXDatabaseData* Database = nullptr) : FDatabase(Database) {}

  bool GetConnected() const override { return FConnected; }
  void SetConnected(bool Value) override {
    if (Value == FConnected) return;
    if (Value)
      FDatabase->ConnectSession(*this);
    else
      FDatabase->DisconnectSession(*this);
    FConnected = Value;
  }
  bool GetSuppressDBHeaderErrors() const override { return false; }
  void SetSuppressDBHeaderErrors(bool) override {}
  void CreateDatabase() override {}
  void DeleteDatabase() override {}
  void RenameDatabase(std::string_view) override {}
  void GetTablesList(rtl::TStringList& List) override { FDatabase->GetTablesList(List); }
  bool TableExists(std::string_view Name) override { return FDatabase->TableExists(Name); }
  void StartTransaction() override { SetInTransaction(true); }
  void Commit(bool DoFlushBuffers) override {
    FDatabase->Commit(SessionID(), DoFlushBuffers);
    SetInTransaction(false);
  }
  void Rollback() override {
    FDatabase->Rollback(SessionID());
    SetInTransaction(false);
  }
  void FlushBuffers() override {}

 private:
  TVEXDatabaseData* FDatabase;
  bool FConnected = false;
};

// A cursor of the fake engine: the shared part of every cursor, with the
// operations a local cursor implements refused (the tests drive the table
// data directly).
class TestCursor : public TVEXCursor {
 public:
  TestCursor(TVEXBaseSession& Session, const std::string& TableName) {
    SetSession(&Session);
    SetTableName(TableName);
  }
  std::vector<uint8_t> Record;

  [[noreturn]] static void NotHere() {
    throw std::logic_error("a test cursor does not implement the local cursor's operations");
  }
  void CreateTable(TVEXFieldDefs&, TVEXIndexDefs&, TVEXConstraintDefs&) override { NotHere(); }
  void DeleteTable() override { NotHere(); }
  void EmptyTable() override { NotHere(); }
  void RenameTable(std::string_view) override { NotHere(); }
  void InternalInitFieldDefs() override { NotHere(); }
  void OpenTableByFieldDefs(TVEXFieldDefs&, TVEXIndexDefs&, TVEXConstraintDefs&) override {
    NotHere();
  }
  void CloseTable() override { NotHere(); }
  void LockTableData() override { NotHere(); }
  void UnlockTableData() override { NotHere(); }
  bool LockTable(TVEXLockType, int32_t, int32_t, bool) override { NotHere(); }
  bool UnlockTable(TVEXLockType, bool) override { NotHere(); }
  void AddIndex(TVEXIndexDef&) override { NotHere(); }
  void DeleteIndex(std::string_view) override { NotHere(); }
  void DeleteAllIndexes() override { NotHere(); }
  std::string FindOrCreateIndex(const rtl::TStringList&, const rtl::TStringList&,
                                const rtl::TStringList&, bool&) override {
    NotHere();
  }
  bool IndexExists(const rtl::TStringList&, const rtl::TStringList&,
                   const rtl::TStringList&) override {
    NotHere();
  }
  void CopyFieldValue(int32_t, bool, int32_t, TVEXCursor&) override { NotHere(); }
  // Every field null, data zero (the fake applies no defaults).
  void InternalInitRecord(uint8_t* RecordBuffer, bool) override {
    std::memset(RecordBuffer, 0, static_cast<size_t>(FieldDefs().GetMemoryRecordBufferSize()));
    for (int32_t i = 0; i < FieldDefs().Count(); ++i) SetBitInBuffer(true, i, RecordBuffer);
  }
  int64_t GetRecordCount() override { NotHere(); }
  TVEXGetRecordResult GetRecordBuffer(TVEXGetRecordMode) override { NotHere(); }
  void SetRecNo(int64_t) override { NotHere(); }
  int64_t GetRecNo() override { NotHere(); }
  int32_t CompareRecordsOrder(TVEXPageItemID, TVEXPageItemID) override { NotHere(); }
  void InternalFirst() override { NotHere(); }
  void InternalLast() override { NotHere(); }
  void InternalInsert() override { NotHere(); }
  void InternalEdit() override { NotHere(); }
  void InternalCancel(bool) override { NotHere(); }
  void InternalPost(bool) override { NotHere(); }
  void InternalDelete() override { NotHere(); }
  bool IsRecordLocked() override { NotHere(); }
  void ApplyDistinct(const rtl::TStringList&, const rtl::TStringList&,
                     const rtl::TStringList&) override {
    NotHere();
  }
  void ActivateFilters(std::string_view, bool, bool) override { NotHere(); }
  void DeactivateFilters() override { NotHere(); }
  bool Locate(std::string_view, const rtl::Variant&, bool, bool) override { NotHere(); }
  bool FindKey(TVEXSearchCondition) override { NotHere(); }
  bool IsAnyRecordMatchCondition(std::string_view, TVEXDataOperator, TVEXVariant&) override {
    NotHere();
  }
  TVEXStream* InternalCreateBlobStream(bool, bool, int32_t, TVEXBLOBOpenMode, bool) override {
    NotHere();
  }
  void InternalCloseBLOB(int32_t) override { NotHere(); }
  void ClearBLOBStreams(bool) override { NotHere(); }
  int64_t LastAutoincValue(int32_t) override { NotHere(); }
  void BeginBatchUpdate() override { NotHere(); }
  void EndBatchUpdate() override { NotHere(); }
  void CancelBatchUpdate() override { NotHere(); }
  bool CheckConstraints(bool) override { NotHere(); }
};

// A table of the fake engine: its managers over fake records and indexes.
class FakeTableData : public TVEXTableData {
 public:
  explicit FakeTableData(TVEXDatabaseData* Database) : TVEXTableData(Database) {}

  void CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                   TVEXConstraintDefs& ConstraintDefs) override {
    FFieldManager = std::make_unique<TVEXBaseFieldManager>(this);
    FIndexManager = std::make_unique<TVEXBaseIndexManager>(
        *this, &TempPages,
        [this](TVEXBaseIndexManager& m) { return std::make_unique<FakeIndex>(m, Store); });
    FConstraintManager = std::make_unique<TVEXBaseConstraintManager>(*this);
    CreateFieldManager(FieldDefs);
    CreateIndexManager(IndexDefs);
    CreateConstraintManager(ConstraintDefs);
    CreateRecordManager();
    FIndexManager->CreateIndexesByIndexDefs(Cursor);
  }

  // Stores the cursor's record and enters it into every index.
  void Insert(TestCursor& Cursor) {
    Records()->AddRecord(Cursor.GetSessionID(), Cursor.Record.data(), Cursor.CurrentRecordID);
    Cursor.SetCurrentRecordBuffer(Cursor.Record.data());
    IndexManager()->InsertRecord(Cursor);
  }
  FakeRecordManager* Records() const { return static_cast<FakeRecordManager*>(RecordManager()); }

  int RollbackCalls = 0;
  void Rollback(int32_t SessionID) override {
    ++RollbackCalls;
    TVEXTableData::Rollback(SessionID);
  }

  // Not used by these tests.
  void WriteBLOBFieldToRecordBuffer(TVEXCursor&, int32_t, TVEXStream&) override {}
  std::unique_ptr<TVEXStream> InternalCreateBlobStream(TVEXCursor&, bool, int32_t,
                                                       TVEXBLOBOpenMode) override {
    return nullptr;
  }
  void GetDirectBlobData(TVEXCursor&, int32_t, uint8_t*, TVEXPartialTemporaryBLOBDescriptor&,
                         uint8_t*&) override {}
  void SetDirectBlobData(TVEXCursor&, int32_t, uint8_t*, TVEXPartialTemporaryBLOBDescriptor&,
                         uint8_t*&) override {}
  void FreeDirectBlobData(TVEXCursor&, int32_t, uint8_t*, TVEXPartialTemporaryBLOBDescriptor&,
                          uint8_t*&) override {}
  bool InsertRecord(TVEXCursor&) override { return false; }
  bool DeleteRecord(TVEXCursor&) override { return false; }
  bool UpdateRecord(TVEXCursor&) override { return false; }
  // Physical record numbers: the position in the record store's order.
  void InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) override {
    auto it = Records()->Records.begin();
    std::advance(it, RecNo - 1);
    Cursor.CurrentRecordID = {it->first, 0};
  }
  int64_t InternalGetRecNo(TVEXCursor& Cursor) override {
    const auto& records = Records()->Records;
    auto it = records.find(Cursor.CurrentRecordID.PageNo);
    return it == records.end() ? -1 : std::distance(records.begin(), it) + 1;
  }
  int64_t InternalGetRecordCount(TVEXCursor&) override { return RecordManager()->RecordCount(); }

  FakeTable::NoPages TempPages;
  FakeIndexStore Store;

 protected:
  void CreateRecordManager() override {
    FRecordManager = std::make_unique<FakeRecordManager>(GetRecordBufferSize());
  }
  int64_t GetBitmapRecordCount(int32_t) override { return Records()->RecordCount(); }
  int64_t GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) override { return RecordID.PageNo; }
  TVEXPageItemID GetRecordIDByBitmapRecNo(int64_t RecNo) override {
    return {static_cast<int32_t>(RecNo), 0};
  }
};

// A database of the fake engine. With a page store it stands for a database
// file; without one for the in-memory database.
class FakeDatabaseData : public TVEXDatabaseData {
 public:
  explicit FakeDatabaseData(TVEXPageManager* Pages = nullptr) { SetPageManager(Pages); }

  TVEXTableData* CreateTableData(TVEXCursor& Cursor) override {
    auto table = std::make_unique<FakeTableData>(this);
    table->SetTableName(Cursor.TableName());
    table->SetPageManager(PageManager());
    ++Created;
    return AddTableData(std::move(table));
  }
  int32_t GetNewObjectId() override { return NextObjectId++; }

  int32_t NextObjectId = 1;
  int Created = 0;
};

}  // namespace vex::testing
