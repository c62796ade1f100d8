// The in-memory storage engine: the process-wide database "MEMORY" and its
// tables, which live wholly in process memory and are never written to a file.
//
// A memory table keeps its records in a TVEXMemoryRecordManager (one slot
// buffer), its BLOB values in blocks of a TVEXMemoryBlobBlocks registry named
// by 32-bit handles in the record buffers, and the pages of its B-tree indexes
// in a TVEXMemoryPageManager of its own. The database has no page manager.
//
// Design notes
//   1. Every session of "MEMORY" has the id 0: all sessions share one change
//      set on a table's index pages.
//   2. Records and BLOB values are not transactional: a rollback leaves the
//      rows as they are (the database has no page manager whose changes a
//      rollback could drop), and only the session's temporary indexes are
//      rebuilt.
//   3. A record operation changes the record store and the indexes together:
//      when the indexes refuse a change the record store is put back, and the
//      BLOB registry learns of the change only once both succeeded (see
//      VEXMemBlobBlocks.h).
//   4. A table data object lives until its table is deleted or the database
//      is freed; closing the last cursor keeps the rows.
//
// Threads: one lock, the database's, serialises the whole engine; every table
// operation REQUIRES it (the local cursor holds it around each call).
#pragma once

#include <cstdint>
#include <memory>

#include "storage/VEXDatabaseData.h"
#include "storage/VEXTableData.h"
#include "storage/btree/VEXBTreeRecordIndex.h"
#include "storage/memory/VEXMemBlobBlocks.h"
#include "storage/memory/VEXMemPageManager.h"
#include "storage/memory/VEXMemRecordManager.h"

namespace vex {

// How the B-tree indexes of an in-memory or temporary table read the table's
// records when they are built: nothing to read in an empty table, else
// through the record scanner the layer above installs (20036 "Nil pointer
// occured" while there is none).
class TVEXEngineRecordScanner : public TVEXIndexRecordScanner {
 public:
  explicit TVEXEngineRecordScanner(TVEXManagedTable& Table) : FTable(Table) {}
  std::unique_ptr<TVEXIndexRecordScan> OpenRecordScan(TVEXManagerCursor& Cursor) override;

 private:
  TVEXManagedTable& FTable;
};

// B-tree index objects that build through Scanner (which must outlive them).
TVEXIndexFactory MemoryEngineIndexFactory(TVEXEngineRecordScanner& Scanner);

class TVEXMemoryTableData : public TVEXTableData {
 public:
  // Records grow from AllocRecordsBy slots.
  TVEXMemoryTableData(TVEXDatabaseData* aDatabaseData, int32_t AllocRecordsBy);
  // Empties the table, drops its indexes and frees its pages. Never raises.
  ~TVEXMemoryTableData() override;

  TVEXMemoryRecordManager* MemoryRecordManager() const {
    return static_cast<TVEXMemoryRecordManager*>(FRecordManager.get());
  }
  TVEXMemoryPageManager& MemoryPageManager() const { return *FMemoryPageManager; }
  const TVEXMemoryBlobBlocks& BlobBlocks() const { return FBlobs; }

  // 10025 "Error creating table - no fields were specified" without fields
  // (outside design time). Fields, indexes, constraints, then the record
  // store; the cursor's buffers are sized and the indexes built.
  void CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                   TVEXConstraintDefs& ConstraintDefs) VEX_REQUIRES(DatabaseLock()) override;
  // After the base check the object frees itself (the caller must not touch
  // it again), unless DesignMode is set and cursors still have it open.
  void DeleteTable(TVEXCursor* Cursor, bool DesignMode) VEX_REQUIRES(DatabaseLock()) override;
  // No record and no stored BLOB value is left; indexes emptied.
  void EmptyTable(TVEXCursor* Cursor) VEX_REQUIRES(DatabaseLock()) override;
  // The table takes the cursor's table name.
  void OpenTable(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  void AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  void DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) VEX_REQUIRES(DatabaseLock()) override;

  // BLOBs (VEXMemBlobBlocks.h). Writing: nothing for a stream not Modified;
  // 10117 on a short read of its compressed bytes. Clearing: 10118 for a
  // non-null field without a handle. Opening: 10420 for a field without block
  // size, 10112 for a value whose block is gone. Direct data: 10511 likewise.
  void WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                    TVEXStream& BLOBStream) VEX_REQUIRES(DatabaseLock()) override;
  void ClearBLOBFieldInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo) VEX_REQUIRES(DatabaseLock()) override;
  std::unique_ptr<TVEXStream> InternalCreateBlobStream(TVEXCursor& Cursor, bool ToInsert,
                                                       int32_t FieldNo,
                                                       TVEXBLOBOpenMode OpenMode) VEX_REQUIRES(DatabaseLock()) override;
  void GetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                         TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                         uint8_t*& pBlobData) VEX_REQUIRES(DatabaseLock()) override;
  void SetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                         TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                         uint8_t*& pBlobData) VEX_REQUIRES(DatabaseLock()) override;
  void FreeDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                          TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                          uint8_t*& pBlobData) VEX_REQUIRES(DatabaseLock()) override;

  // Record operations (design note 3); each commits the session's index
  // pages outside a transaction. Insert: 10010 without record store, 10018
  // without current record buffer; the new record id goes to the cursor.
  // Delete: 10013; the cursor lands on the next record, else the prior, else
  // before the first. Update: 10014, 10017. A BLOB handle that names no block
  // raises 10112 and stores nothing. False when the record store refuses.
  bool InsertRecord(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  bool DeleteRecord(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  bool UpdateRecord(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;

  // The cursor goes to the slot of record number RecNo (unchanged when there
  // is none); 10074 without record store.
  void InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) VEX_REQUIRES(DatabaseLock()) override;
  // The record number of the cursor's slot; 10033 without record store.
  int64_t InternalGetRecNo(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  // 10009 without record store.
  int64_t InternalGetRecordCount(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  int64_t LastAutoincValue(int32_t FieldNo, TVEXBaseSession& Session) VEX_REQUIRES(DatabaseLock())
      override;

 protected:
  void CreateRecordManager() VEX_REQUIRES(DatabaseLock()) override;
  void CreateFieldManager(TVEXFieldDefs& FieldDefs) VEX_REQUIRES(DatabaseLock()) override;
  void CreateIndexManager(TVEXIndexDefs& IndexDefs) VEX_REQUIRES(DatabaseLock()) override;
  // 30040 "Not implemented yet" for a foreign key or a type after CHECK.
  void CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs) VEX_REQUIRES(DatabaseLock())
      override;
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) override;
  TVEXPageItemID GetRecordIDByBitmapRecNo(int64_t RecNo) override;

 private:
  // The record store; ErrorCode "Nil pointer occured" without one.
  TVEXMemoryRecordManager& Records(int32_t ErrorCode) const;
  // Reads the stored record RecordID into a new buffer (empty when gone).
  TVEXMemBlock ReadStoredRecord(TVEXPageItemID RecordID) const;
  void CheckBlobField(int32_t FieldNo, int32_t ErrorCode) const;

  int32_t FAllocRecordsBy;
  TVEXEngineRecordScanner FScanner{*this};
  std::unique_ptr<TVEXMemoryPageManager> FMemoryPageManager;
  TVEXMemoryBlobBlocks FBlobs;
};

class TVEXMemoryDatabaseData : public TVEXDatabaseData {
 public:
  // Named "MEMORY"; no page manager.
  TVEXMemoryDatabaseData();
  // Deletes every table left. Never raises.
  ~TVEXMemoryDatabaseData() override;

  // Design note 1.
  void ConnectSession(TVEXBaseSession& Session) override;
  // A new memory table named after the cursor's table, growing 1000 records
  // at first.
  TVEXTableData* CreateTableData(TVEXCursor& Cursor) override;
  // 1, 2, 3, ... under the lock.
  int32_t GetNewObjectId() override;

 private:
  int32_t FLastObjectID = 0;
};

}  // namespace vex
