// A small fake engine over the abstract database and table data: a database
// whose page store is a FakePageStore, tables that keep records in a map and
// indexes as sorted sets (VEXTableFakes.h), a session and a cursor.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FakePageStore.h"
#include "VEXTableFakes.h"
#include "foundation/VEXStream.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXCursor.h"
#include "storage/VEXDatabaseData.h"
#include "storage/VEXTableData.h"

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

class TestCursor : public TVEXCursor {
 public:
  TestCursor(TVEXBaseSession& Session, const std::string& TableName) {
    SetSession(&Session);
    SetTableName(TableName);
  }
  std::vector<uint8_t> Record;
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
  TVEXGetRecordResult GetRecordBuffer(TVEXCursor&, TVEXGetRecordMode) override { return grrEOF; }
  bool Locate(TVEXCursor&, TVEXBaseExpression&) override { return false; }
  bool FindKey(TVEXCursor&, TVEXSearchCondition) override { return false; }
  void SetRecNo(TVEXCursor&, int64_t) override {}
  int64_t GetRecNo(TVEXCursor&) override { return 0; }
  void InternalSetRecNo(TVEXCursor&, int64_t) override {}
  int64_t InternalGetRecNo(TVEXCursor&) override { return 0; }
  int64_t InternalGetRecordCount(TVEXCursor&) override { return Records()->RecordCount(); }

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
