// The temporary storage engine: the process-wide database "TEMP" and its
// tables, which hold result sets and other throw-away rows for a while inside
// one process.
//
// A temporary table appends records to a TVEXTemporaryRecordManager (RAM,
// then a temporary file), keeps its index pages in a TVEXTemporaryPageManager
// (RAM, then a page file) and its BLOB values in one append-only BLOB stream:
// each value is a 20-byte descriptor followed by its compressed bytes, and the
// record's BLOB field holds the descriptor's 64-bit offset
// (docs/file-formats.md, "Temporary BLOB stream"). With temporary files
// disabled (by the cursor that creates the table) everything stays in memory.
//
// Design notes
//   1. Records are only appended: updates and deletes are refused (false),
//      and a BLOB value written again is appended anew, the old bytes staying.
//   2. Every append advances the record store's TableState, so cursor views
//      and position caches taken before it are known to be stale.
//   3. Every session of "TEMP" has the id 0: one change set per table.
//   4. The page manager exists from CreateTable on; the BLOB stream exists
//      while the table has BLOB fields (emptying the table gives it a fresh
//      one).
//
// Threads: one lock, the database's; every table operation REQUIRES it.
#pragma once

#include <cstdint>
#include <memory>

#include "storage/VEXDatabaseData.h"
#include "storage/VEXTableData.h"
#include "storage/memory/VEXMemEngine.h"
#include "storage/temp/VEXTempPageManager.h"
#include "storage/temp/VEXTempRecordManager.h"

namespace vex {

class TVEXTemporaryTableData : public TVEXTableData {
 public:
  static constexpr int32_t kBLOBDescriptorSize = 20;

  TVEXTemporaryTableData(TVEXDatabaseData* aDatabaseData, int32_t RecordsPerPage,
                         int32_t AllocRecordsBy);
  // Empties the table, drops its indexes and frees its pages. Never raises.
  ~TVEXTemporaryTableData() override;

  TVEXTemporaryRecordManager* TemporaryRecordManager() const {
    return static_cast<TVEXTemporaryRecordManager*>(FRecordManager.get());
  }
  TVEXTemporaryPageManager* TemporaryPageManager() const { return FTemporaryPageManager.get(); }
  TVEXStream* BLOBFile() const { return FBLOBFile.get(); }

  // 10132 "Error creating table - no fields were specified" without fields.
  void CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                   TVEXConstraintDefs& ConstraintDefs) VEX_REQUIRES(DatabaseLock()) override;
  // After the base check the object frees itself (the caller must not touch
  // it again), unless DesignMode is set and cursors still have it open.
  void DeleteTable(TVEXCursor* Cursor, bool DesignMode) VEX_REQUIRES(DatabaseLock()) override;
  void EmptyTable(TVEXCursor* Cursor) VEX_REQUIRES(DatabaseLock()) override;
  void OpenTable(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  void AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  void DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) VEX_REQUIRES(DatabaseLock()) override;

  // BLOBs (design note 1). Writing: 10144 without BLOB stream, 10422 when its
  // end cannot be reached, 10145 on a short write. Opening: 10140, 10141,
  // 10142. Direct data: 10509 / 10510 reading, 10506 / 10507 / 10508 writing.
  void WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                    TVEXStream& BLOBStream) VEX_REQUIRES(DatabaseLock()) override;
  std::unique_ptr<TVEXStream> InternalCreateBlobStream(TVEXCursor& Cursor, bool ToInsert,
                                                       int32_t FieldNo, TVEXBLOBOpenMode OpenMode)
      VEX_REQUIRES(DatabaseLock()) override;
  void GetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                         TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor, uint8_t*& pBlobData)
      VEX_REQUIRES(DatabaseLock()) override;
  void SetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                         TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor, uint8_t*& pBlobData)
      VEX_REQUIRES(DatabaseLock()) override;
  void FreeDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                          TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor, uint8_t*& pBlobData)
      VEX_REQUIRES(DatabaseLock()) override;

  // 10134 without record store, 10135 without current record buffer; the new
  // record's id goes to the cursor; false when the append fails.
  bool InsertRecord(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  // Refused: false, nothing changes.
  bool DeleteRecord(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  bool UpdateRecord(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;

  // Record RecNo - 1 (record 0 for RecNo < 2); 10136 without record store.
  void InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) VEX_REQUIRES(DatabaseLock()) override;
  // 10137 without record store.
  int64_t InternalGetRecNo(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;
  // 10133 without record store.
  int64_t InternalGetRecordCount(TVEXCursor& Cursor) VEX_REQUIRES(DatabaseLock()) override;

 protected:
  void CreateRecordManager() VEX_REQUIRES(DatabaseLock()) override;
  void CreateFieldManager(TVEXFieldDefs& FieldDefs) VEX_REQUIRES(DatabaseLock()) override;
  void CreateIndexManager(TVEXIndexDefs& IndexDefs) VEX_REQUIRES(DatabaseLock()) override;
  void CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs)
      VEX_REQUIRES(DatabaseLock()) override;
  int64_t GetBitmapRecordCount(int32_t SessionID) override;
  int64_t GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) override;
  TVEXPageItemID GetRecordIDByBitmapRecNo(int64_t RecNo) override;

 private:
  TVEXTemporaryRecordManager& Records(int32_t ErrorCode) const;
  TVEXStream& BlobFile(int32_t ErrorCode) const;
  void RecreateBLOBFile();
  // Appends a descriptor and its bytes; answers the descriptor's offset.
  int64_t AppendBLOB(const TVEXPartialTemporaryBLOBDescriptor& Descriptor, const uint8_t* Data,
                     int32_t SeekCode, int32_t WriteCode);
  // The descriptor at Offset; the stream stands behind it afterwards.
  TVEXPartialTemporaryBLOBDescriptor ReadDescriptor(int64_t Offset, int32_t SeekCode,
                                                    int32_t ReadCode);
  int64_t OffsetOf(const uint8_t* RecordBuffer, int32_t FieldNo) const;
  void SetOffset(uint8_t* RecordBuffer, int32_t FieldNo, int64_t Offset, bool IsNull) const;

  int32_t FRecordsPerPage;
  int32_t FAllocRecordsBy;
  TVEXEngineRecordScanner FScanner{*this};
  std::unique_ptr<TVEXTemporaryPageManager> FTemporaryPageManager;
  std::unique_ptr<TVEXStream> FBLOBFile;
};

class TVEXTemporaryDatabaseData : public TVEXDatabaseData {
 public:
  // Named "TEMP"; no page manager.
  TVEXTemporaryDatabaseData();
  // Deletes every table left. Never raises.
  ~TVEXTemporaryDatabaseData() override;

  // A new temporary table named after the cursor's table: 10 records per
  // write-back page, a cache growing from 1000 records.
  TVEXTableData* CreateTableData(TVEXCursor& Cursor) override;
  // 1, 2, 3, ... under the lock.
  int32_t GetNewObjectId() override;

 private:
  int32_t FLastObjectID = 0;
};

}  // namespace vex
