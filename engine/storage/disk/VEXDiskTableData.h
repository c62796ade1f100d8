// The disk table data: the engine-side object behind one table of a database
// file, shared by every cursor of one disk database object that has the table
// open.
//
// It creates, opens, closes, deletes, empties and renames the table, stores
// its metadata, inserts, updates and deletes records with a commit per
// operation outside a transaction, hands out BLOB streams, and wraps every
// read in the multi-user read frame. It owns the table's three internal files
// (locks, metadata, most-updated data), the disk record manager, the disk
// BLOB manager and the page store of the table's temporary indexes.
//
// Stored form (docs/file-formats.md, "Table metadata file" and "Table state
// file"): the metadata file holds the field, index and constraint
// definitions, the record-page index root and the BLOB-page index root, one
// ZLIB stream; the most-updated file holds the autoincrement block and the
// record manager's table state and record count. The table list item names
// the first pages of the three files and the table id.
//
// Design notes
//   1. The table's metadata and its entry in the table list change only in
//      the system session (-2) and are applied at once, whatever the caller's
//      transaction (AddIndex and DeleteIndex work in the cursor's session).
//      A failed CreateTable drops the system session's changes: the file
//      keeps no part of the table.
//   2. Creating, opening, deleting and renaming hold the database's tables
//      byte, so one connection at a time reads or changes the table list.
//      DeleteTable and RenameTable hold it around their own open and close and
//      set FIsChangingTableList, because a byte lock does not nest.
//   3. An open table holds ltIS for each shared cursor and ltX for an
//      exclusive one; the first cursor decides FExclusive, and a later cursor
//      that asks for exclusive use of a table open in shared mode is refused
//      (20242).
//   4. Every multi-user read holds ltS for its own duration and loads the
//      most-updated data first, so the record count, autoincrement values and
//      table state it sees are the committed ones; the read gives back ltS and
//      its work-table entry on every way out. In multi-user mode an insert,
//      update or delete loads it first as well: it counts on from what the
//      other connections committed, never from this connection's last read.
//   5. Outside a transaction every record change ends with ApplyChanges, so
//      it is in the file when the call returns (except inside a batch
//      update). Inside a transaction it waits for the database's Commit, and
//      EmptyTable then holds ltXIRW until the transaction ends, so no other
//      connection writes the table before the empty commits.
//   6. A table that could not be opened exclusively is not deleted: DeleteTable
//      removes the table from the list only once it held ltX.
//   7. FLastUsedTableState is the record manager's table state after the last
//      load or save of the most-updated data.
//   8. States: created (no managers, no files) -> defined (CreateTable: the
//      managers; files freed) -> open (first OpenTable: files and managers)
//      -> finished (last CloseTable, or DeleteTable: managers, files and
//      cursor list freed; the owner frees the object, FreeIfNoCursorsConnected).
//
// Lock order: the database lock (the table lock), then the tables byte, then
// the table-lock manager's lock. RenameTable takes the tables byte before the
// table lock's inner work; a conflict ends in 20210 after 200 tries, never in
// a deadlock.
//
// Threads: every operation REQUIRES the database lock (TVEXTableData), except
// the read operations in multi-user mode, which take it themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "storage/VEXTableData.h"
#include "storage/btree/VEXBTreeRecordIndex.h"
#include "storage/disk/VEXDiskBlobManager.h"
#include "storage/disk/VEXDiskRecordManager.h"
#include "storage/disk/VEXInternalFiles.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

class TVEXDiskDatabaseData;

// Waits of the table's own locks (tries, ms).
inline constexpr int32_t kOpenTableLockTries = 50;
inline constexpr int32_t kOpenTableLockDelayMS = 100;
inline constexpr int32_t kReadLockTries = 2250;
inline constexpr int32_t kReadLockDelayMS = 40;

class TVEXDiskTableData : public TVEXTableData, private TVEXIndexRecordScanner {
 public:
  // No managers, no files; the database's page manager.
  explicit TVEXDiskTableData(TVEXDiskDatabaseData* aDatabaseData);
  ~TVEXDiskTableData() override;

  int32_t TableID() const { return FTableID; }
  bool Exclusive() const { return FExclusive; }
  int32_t LastUsedTableState() const { return FLastUsedTableState; }
  TVEXDiskBlobManager* BlobManager() const { return FBlobManager.get(); }
  TVEXDiskRecordManager* DiskRecordManager() const;
  TVEXTableLocksFile* TableLocksFile() const { return FTableLocksFile.get(); }
  TVEXInternalDBTransactedAccessFile* TableMetadataFile() const {
    return FTableMetadataFile.get();
  }
  TVEXInternalDBTransactedAccessFile* TableMostUpdatedFile() const {
    return FTableMostUpdatedFile.get();
  }
  TVEXPageManager* TemporaryPageManager() const { return FTemporaryPageManager.get(); }

  // --- table operations
  void ApplyChanges(int32_t SessionID, bool InTransaction) override VEX_REQUIRES(DatabaseLock());
  void CancelChanges(int32_t SessionID, bool InTransaction) override VEX_REQUIRES(DatabaseLock());
  // 20128 without fields; 30040 for a foreign key; the tables byte (20210);
  // 30395 when the name is taken. The table is left defined, not open.
  void CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                   TVEXConstraintDefs& ConstraintDefs) override VEX_REQUIRES(DatabaseLock());
  // 20017 while other cursors have it open (unless DesignMode); 20208 while
  // another connection has it open (the table stays, design note 6). The
  // object is finished afterwards.
  void DeleteTable(TVEXCursor* Cursor, bool DesignMode) override VEX_REQUIRES(DatabaseLock());
  // Under ltX (20208 / 20242 refused); inside a transaction ltXIRW stays until
  // it ends (design note 5).
  void EmptyTable(TVEXCursor* Cursor) override VEX_REQUIRES(DatabaseLock());
  // The stored name changes (30395 when taken); the object's name does not.
  // 20242 / 20208 while another cursor or connection has the table open.
  void RenameTable(std::string_view NewTableName, TVEXCursor* Cursor) override
      VEX_REQUIRES(DatabaseLock());
  // 30396 "Table '%s' not exists."; 20242; 20208 (ltX refused) / 20209 (ltIS
  // refused): the cursor is then in the list and the caller closes it.
  void OpenTable(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());
  void CloseTable(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());
  void RenameField(std::string_view FieldName, std::string_view NewFieldName) override
      VEX_REQUIRES(DatabaseLock());
  void AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());
  void DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) override VEX_REQUIRES(DatabaseLock());

  // --- BLOBs
  void ClearBlobsCacheInRecordBuffer(uint8_t* Buffer) override VEX_REQUIRES(DatabaseLock());
  void WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                    TVEXStream& BLOBStream) override VEX_REQUIRES(DatabaseLock());
  void ClearBLOBFieldInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo) override
      VEX_REQUIRES(DatabaseLock());
  // 20149 for a field without a block size; 20248 for a negative stored size.
  // An empty stream for bomWrite, a null field or no record buffer. Without a
  // BLOB stream factory the compressed stream itself.
  std::unique_ptr<TVEXStream> InternalCreateBlobStream(TVEXCursor& Cursor, bool ToInsert,
                                                       int32_t FieldNo,
                                                       TVEXBLOBOpenMode OpenMode) override
      VEX_REQUIRES(DatabaseLock());
  void GetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                         TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                         uint8_t*& pBlobData) override VEX_REQUIRES(DatabaseLock());
  void SetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                         TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                         uint8_t*& pBlobData) override VEX_REQUIRES(DatabaseLock());
  void FreeDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                          TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                          uint8_t*& pBlobData) override VEX_REQUIRES(DatabaseLock());
  // Frees every BLOB cache entry of the record, modified ones too.
  void ClearModifiedBLOBFieldsInRecordBuffer(uint8_t* RecordBuffer);

  // --- records. The caller holds the write locks (ltRW / ltSIRW / ltXIRW and
  // the record lock) in multi-user mode.
  // 20135 / 20136 without record manager / record buffer.
  bool InsertRecord(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());
  // 20137 without record manager. The cursor moves to the next record, else
  // the prior one, else before the first.
  bool DeleteRecord(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());
  // 20138 / 20139 without record manager / record buffer.
  bool UpdateRecord(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());

  // --- reads, each in the read frame (design note 4); "Table is locked"
  // codes: Locate 20214, FindKey 20215, SetRecNo 20216, GetRecNo 20217,
  // InternalGetRecordCount 20218, InternalSetRecNo 20219, InternalGetRecNo
  // 20220; GetRecordBuffer answers grrError.
  TVEXGetRecordResult GetRecordBuffer(TVEXCursor& Cursor, TVEXGetRecordMode GetRecordMode) override
      VEX_REQUIRES(DatabaseLock());
  // These four take the lock themselves, as the navigation does.
  bool Locate(TVEXCursor& Cursor, TVEXBaseExpression* SearchExpression) override;
  bool FindKey(TVEXCursor& Cursor, TVEXSearchCondition SearchCondition) override;
  void SetRecNo(TVEXCursor& Cursor, int64_t RecNo) override;
  int64_t GetRecNo(TVEXCursor& Cursor) override;
  void InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) override VEX_REQUIRES(DatabaseLock());
  int64_t InternalGetRecNo(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());
  int64_t InternalGetRecordCount(TVEXCursor& Cursor) override VEX_REQUIRES(DatabaseLock());

  int64_t LastAutoincValue(int32_t FieldNo, TVEXBaseSession& Session) override
      VEX_REQUIRES(DatabaseLock());
  // The committed most-updated data again, the session's temporary indexes
  // rebuilt.
  void Rollback(int32_t SessionID) override VEX_REQUIRES(DatabaseLock());

  // --- locks of this table; true at once outside multi-user mode. In
  // multi-user mode they need the table open (20129 "Pointer is nil"
  // otherwise); the lock manager's errors pass on.
  bool LockTable(int32_t SessionID, TVEXLockType LockType, int32_t TryCount, int32_t Delay,
                 bool AllowXIRWAfterSIRW) VEX_REQUIRES(DatabaseLock());
  bool UnlockTable(int32_t SessionID, TVEXLockType LockType, bool IgnoreIfNoLock)
      VEX_REQUIRES(DatabaseLock());
  bool LockRecord(int32_t SessionID, TVEXPageItemID RecordID, int32_t TryCount, int32_t Delay)
      VEX_REQUIRES(DatabaseLock());
  bool UnlockRecord(int32_t SessionID, TVEXPageItemID RecordID) VEX_REQUIRES(DatabaseLock());
  // False outside multi-user mode.
  bool IsRecordLocked(int32_t SessionID, TVEXPageItemID RecordID) VEX_REQUIRES(DatabaseLock());

  // Reads the most-updated file (20176 without one): autoincrement counters,
  // table state and record count as committed, plus the session's changes.
  void LoadMostUpdated(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  void SaveMostUpdated(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  // With no cursor left the owning database frees the object: answers true,
  // and the caller must not touch it again.
  bool FreeIfNoCursorsConnected() VEX_REQUIRES(DatabaseLock());

 protected:
  void CreateRecordManager() override VEX_REQUIRES(DatabaseLock());
  void CreateFieldManager(TVEXFieldDefs& FieldDefs) override VEX_REQUIRES(DatabaseLock());
  void CreateIndexManager(TVEXIndexDefs& IndexDefs) override VEX_REQUIRES(DatabaseLock());
  void CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs) override
      VEX_REQUIRES(DatabaseLock());
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) override;
  TVEXPageItemID GetRecordIDByBitmapRecNo(int64_t RecNo) override;

 private:
  // TVEXIndexRecordScanner: a new index is filled from the records in
  // physical order.
  std::unique_ptr<TVEXIndexRecordScan> OpenRecordScan(TVEXManagerCursor& Cursor) override;

  TVEXDiskDatabaseData& Database() const;
  TVEXDiskPageManager& DiskPages() const;
  bool MultiUser() const;
  std::unique_ptr<TVEXBaseIndexManager> NewIndexManager();

  void CreateInternalFiles() VEX_REQUIRES(DatabaseLock());
  void OpenInternalFiles(int32_t MetadataFilePageNo, int32_t MostUpdatedFilePageNo,
                         int32_t LocksFilePageNo) VEX_REQUIRES(DatabaseLock());
  void DeleteInternalFiles() VEX_REQUIRES(DatabaseLock());
  void FreeInternalFiles() noexcept;
  void FreeManagers() noexcept;
  void LoadMetadata(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  void SaveMetadata(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  void InitMostUpdated(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  int32_t GetDiskRecordBufferSize() const;
  void CreateBlobManager();
  void OpenForRepair(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock());
  void RebuildRecordPageIndex(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  void SynchronizeTemporaryIndexes(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock());

  // The multi-user read frame around Work (design note 4); LockedCode 0
  // answers false instead of raising when ltS is refused.
  template <class Work>
  bool ReadFrame(TVEXCursor& Cursor, int32_t LockedCode, bool SyncTemporaryIndexes, Work work)
      VEX_REQUIRES(DatabaseLock());
  // The record bitmap of a cursor's restricted view after RecordID was
  // stored: shown when it belongs to the view, hidden otherwise.
  void KeepRecordInView(TVEXCursor& Cursor, TVEXPageItemID RecordID)
      VEX_REQUIRES(DatabaseLock());

  int32_t FTableID = -1;
  std::unique_ptr<TVEXTableLocksFile> FTableLocksFile;
  std::unique_ptr<TVEXInternalDBTransactedAccessFile> FTableMetadataFile;
  std::unique_ptr<TVEXInternalDBTransactedAccessFile> FTableMostUpdatedFile;
  std::unique_ptr<TVEXDiskBlobManager> FBlobManager;
  std::unique_ptr<TVEXPageManager> FTemporaryPageManager;
  bool FExclusive = false;
  bool FIsChangingTableList = false;
  int32_t FLastUsedTableState = -1;
  // The object was finished by its last CloseTable or by DeleteTable.
  bool FFinished = false;
};

}  // namespace vex
