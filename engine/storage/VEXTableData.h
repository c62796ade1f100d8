// The table data: the one engine-side object behind an open table of one
// database, shared by every cursor that has the table open.
//
// It owns the table's four managers (fields, indexes, constraints, records),
// knows its cursors, and offers the table-level operations the local cursor
// calls: DDL on the table and its indexes, record reads and writes, navigation,
// record numbers, BLOB access and the per-operation commit. It is abstract: the
// memory, temporary and disk engines derive from it and supply storage,
// records and BLOBs.
//
// Design notes
//   1. One table data per table name (compared by the locale's upper case) and
//      database object; the database data makes it on the first open and owns
//      it (VEXDatabaseData.h). The table data never owns its cursors.
//   2. The managers are made by the engine, then filled here in the order
//      fields, indexes, constraints, and only then is the record manager made,
//      because its record size comes from the field manager.
//   3. Every object id of a new field, index or constraint comes from the
//      database (GetNewObjectId), in collection order.
//   4. Outside a transaction every table operation is its own change set: it
//      ends with ApplyChanges, and with CancelChanges when it fails
//      (TVEXTableOperation below). Inside a transaction both do nothing and the
//      change set waits for the database's Commit or Rollback.
//   5. A table that any cursor has open is neither renamed nor deleted (the
//      caller closes its own cursor first); only a designer may delete one.
//   6. A unique or primary index and its constraint come and go together,
//      except for temporary indexes and temporary cursors, which never carry a
//      constraint.
//   7. AddIndex and FindOrCreateIndex leave the cursor where it stood, on
//      every way out.
//
// Threads: the table data has no lock of its own. Lock and Unlock are its
// database's lock, so one re-entrant lock serialises all work on all tables
// of a database. The local cursor holds it around every table operation;
// EmptyIndex, FindOrCreateIndex, IndexExists, FindRecordInView,
// BuildRecordBitmap, Locate, FindKey, GetRecordCount, SetRecNo and GetRecNo
// take it themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXLock.h"
#include "storage/VEXConstraintManager.h"
#include "storage/VEXCursor.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXIndexManager.h"
#include "storage/VEXManagerLinks.h"
#include "storage/search/VEXRecordBitmap.h"
#include "storage/search/VEXScanConditions.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXDatabaseData;
class TVEXBaseExpression;
class TVEXStream;
struct TVEXTableScan;
// How a BLOB stream is opened (the engine's BLOB stream seam defines it).
enum TVEXBLOBOpenMode : uint8_t;

// The descriptor of a BLOB handed out as one memory block; the table data
// passes it through unchanged.
struct TVEXPartialTemporaryBLOBDescriptor {
  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;
};

// The process-wide flag that components run in a designer: tables without
// fields may then be made, and design-time memory tables vanish on close. It
// is set once and stays set for the life of the process.
bool DesignMode();
void SetDesignMode(bool Value);

class TVEXTableData : public TVEXManagedTable {
 public:
  // No managers, no cursors. The database data enters the object into its
  // table list (aDatabaseData is not owned).
  explicit TVEXTableData(TVEXDatabaseData* aDatabaseData);
  // Frees the managers. Never raises.
  ~TVEXTableData() override;
  TVEXTableData(const TVEXTableData&) = delete;
  TVEXTableData& operator=(const TVEXTableData&) = delete;

  bool IsRepairing() const { return FIsRepairing; }
  void SetIsRepairing(bool Value) { FIsRepairing = Value; }
  TVEXPageManager* PageManager() const { return FPageManager; }
  void SetPageManager(TVEXPageManager* Value) { FPageManager = Value; }
  TVEXDatabaseData* DatabaseData() const { return FDatabaseData; }
  const std::string& TableName() const { return FTableName; }
  void SetTableName(std::string_view Value) { FTableName = Value; }
  TVEXBaseFieldManager* FieldManager() const { return FFieldManager.get(); }
  TVEXBaseConstraintManager* ConstraintManager() const { return FConstraintManager.get(); }
  TVEXBaseIndexManager* IndexManager() const { return FIndexManager.get(); }
  TVEXBaseRecordManager* RecordManager() const { return FRecordManager.get(); }
  const std::vector<TVEXCursor*>& CursorList() const { return FCursorList; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool Value) { FDisableTempFiles = Value; }

  // The database's lock (see Threads above).
  TVEXLock& DatabaseLock() const VEX_RETURN_CAPABILITY(FDatabaseLock) { return FDatabaseLock; }
  void Lock() VEX_ACQUIRE(FDatabaseLock) { FDatabaseLock.Lock(); }
  void Unlock() VEX_RELEASE(FDatabaseLock) { FDatabaseLock.Unlock(); }

  // --- TVEXManagedTable (what the managers ask of their table)
  int32_t GetNewObjectId() override;
  TVEXPageManager* GetPageManager() const override { return FPageManager; }
  TVEXBaseFieldManager* GetFieldManager() const override { return FFieldManager.get(); }
  TVEXBaseIndexManager* GetIndexManager() const override { return FIndexManager.get(); }
  TVEXBaseRecordManager* GetRecordManager() const override { return FRecordManager.get(); }
  // False when the table holds no record (the index is not opened); otherwise
  // whether the index IndexID refuses the record (CanInsertRecord when
  // ToInsert, else CanUpdateRecord from OldRecordBuffer). CurrentRecordID
  // plays no part. 20018 for an unknown index.
  // REQUIRES: the database lock.
  bool IsUniqueConstraintFailed(int32_t SessionID, int32_t IndexID, const uint8_t* NewRecordBuffer,
                                const uint8_t* OldRecordBuffer, bool ToInsert,
                                TVEXPageItemID CurrentRecordID) override;

  // --- operations; REQUIRES: the database lock, unless said otherwise

  // The cursor's FieldValuesOffset becomes the memory offset of the first
  // field (0 without fields), its RecordSize the memory record size
  // (GetRecordBufferSize, so 10131 without fields outside design time).
  virtual void InitCursorBuffers(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  // Outside a transaction: commits / drops the session's change set in the
  // table's page manager; inside, and without a page manager, nothing.
  virtual void ApplyChanges(int32_t SessionID, bool InTransaction) VEX_REQUIRES(FDatabaseLock);
  virtual void CancelChanges(int32_t SessionID, bool InTransaction) VEX_REQUIRES(FDatabaseLock);
  // Creates the table's storage and metadata (the engine).
  virtual void CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                           TVEXConstraintDefs& ConstraintDefs) VEX_REQUIRES(FDatabaseLock) = 0;
  // The check before an engine deletes the table: unless DesignMode, 20017
  // "Cannot delete table '%s'. Table is open by another dataset" while any
  // cursor has it open.
  virtual void DeleteTable(TVEXCursor* Cursor, bool DesignMode) VEX_REQUIRES(FDatabaseLock);
  // Autoincrement counters back to their start values, every index emptied in
  // the cursor's session (the system session without a cursor). The engine
  // empties the records around it.
  virtual void EmptyTable(TVEXCursor* Cursor) VEX_REQUIRES(FDatabaseLock);
  // 10150 "Cannot rename table '%s'. Table is open by another dataset" while
  // any cursor has it open, also at design time; otherwise the new name.
  virtual void RenameTable(std::string_view NewTableName, TVEXCursor* Cursor)
      VEX_REQUIRES(FDatabaseLock);
  // Registers / forgets a cursor that opens / closes the table.
  virtual void OpenTable(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  virtual void CloseTable(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  // 30343 "Field '%s' not found"; 30344 "Cannot rename field '%s'. Field '%s'
  // already exists" when a field bears the new name in any letter case (so a
  // change of case alone is refused) VEX_REQUIRES(FDatabaseLock); then the field and its index
  // columns take the new name (cut to 255 characters).
  virtual void RenameField(std::string_view FieldName, std::string_view NewFieldName)
      VEX_REQUIRES(FDatabaseLock);
  // Builds the index (IndexDef receives its object id and root page) from the
  // existing records through Cursor and, unless the index or the cursor is
  // temporary, adds the constraint a unique or primary index implies. The
  // cursor's position is kept (design note 7).
  virtual void AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  // Drops the index IndexID (20018 for an unknown one), with its constraint
  // when there is a cursor and neither the index nor the cursor is temporary.
  // Works in the cursor's session, or the system session without a cursor.
  virtual void DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) VEX_REQUIRES(FDatabaseLock);

  // --- BLOBs
  // Drops what the engine caches of the record's BLOBs; nothing in the base.
  virtual void ClearBlobsCacheInRecordBuffer(uint8_t* Buffer) VEX_REQUIRES(FDatabaseLock);
  virtual void WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                            TVEXStream& BLOBStream) VEX_REQUIRES(FDatabaseLock) = 0;
  // Nothing in the base.
  virtual void ClearBLOBFieldInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo)
      VEX_REQUIRES(FDatabaseLock);
  // ClearBLOBFieldInRecordBuffer for every BLOB, CLOB and wide CLOB field
  // (10421 when the first BLOB field has no block size).
  virtual void ClearBLOBFieldsInRecordBuffer(uint8_t* RecordBuffer) VEX_REQUIRES(FDatabaseLock);
  virtual std::unique_ptr<TVEXStream> InternalCreateBlobStream(TVEXCursor& Cursor, bool ToInsert,
                                                               int32_t FieldNo,
                                                               TVEXBLOBOpenMode OpenMode)
      VEX_REQUIRES(FDatabaseLock) = 0;
  virtual void GetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                                 TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                 uint8_t*& pBlobData) VEX_REQUIRES(FDatabaseLock) = 0;
  virtual void SetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                                 TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                 uint8_t*& pBlobData) VEX_REQUIRES(FDatabaseLock) = 0;
  virtual void FreeDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo, uint8_t* RecordBuffer,
                                  TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                  uint8_t*& pBlobData) VEX_REQUIRES(FDatabaseLock) = 0;

  // --- records (the engine; each keeps the cursor's record bitmap current and
  // commits outside a transaction)
  virtual bool InsertRecord(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock) = 0;
  virtual bool DeleteRecord(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock) = 0;
  virtual bool UpdateRecord(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock) = 0;

  // --- navigation (VEXTableNavigation.cpp). The view is the table in the
  // cursor's order (physical, or its index's), restricted by its range,
  // filters and DISTINCT; an unrestricted view goes straight to the index or
  // the record manager, a restricted one uses the cursor's record bitmap and
  // the table search. A move that finds nothing (grrBOF or grrEOF in a
  // restricted view, grrError, a Locate or FindKey without a match) leaves
  // the cursor where it stood; an unrestricted move off an end takes the end
  // position that the index or record manager reports.

  // One step: the current (grmCurrent), next or prior record of the view into
  // the cursor's current record buffer. grrEOF on a table without records.
  // Under DISTINCT a step from a record skips every record equal to it on the
  // DISTINCT fields (its copy lives in DistinctRecordBuffer during the step
  // only); grrError when that record cannot be read.
  virtual TVEXGetRecordResult GetRecordBuffer(TVEXCursor& Cursor, TVEXGetRecordMode GetRecordMode)
      VEX_REQUIRES(FDatabaseLock);
  // Takes the lock itself. Moves to the first record of the view that
  // satisfies SearchExpression and reads it; false, with the cursor where it
  // stood, when none does. 10272 "Nil pointer occured" without an expression.
  virtual bool Locate(TVEXCursor& Cursor, TVEXBaseExpression* SearchExpression);
  // Takes the lock itself. As Locate, with the condition SearchCondition on
  // the cursor's KeyFieldCount key fields of its KeyBuffer over its index;
  // the record is not read. 20258 without an index.
  virtual bool FindKey(TVEXCursor& Cursor, TVEXSearchCondition SearchCondition);
  // Take the lock themselves. The cursor stands on the RecNo-th record of the
  // view (1-based; clamped to 1 .. count) without reading it; nothing on an
  // empty view. GetRecNo: the current record's number; -1 before the first,
  // after the last, on an empty view, or when the record is gone.
  virtual void SetRecNo(TVEXCursor& Cursor, int64_t RecNo);
  virtual int64_t GetRecNo(TVEXCursor& Cursor);
  // Physical record numbers and count (the engine), for unrestricted views
  // without index. InternalSetRecNo sets the cursor's CurrentRecordID.
  virtual void InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) VEX_REQUIRES(FDatabaseLock) = 0;
  virtual int64_t InternalGetRecNo(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock) = 0;
  virtual int64_t InternalGetRecordCount(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock) = 0;
  // Takes the lock itself. The records in the cursor's view.
  int64_t GetRecordCount(TVEXCursor& Cursor);

  // The session's last autoincrement value of a field; 0 in the base.
  virtual int64_t LastAutoincValue(int32_t FieldNo, TVEXBaseSession& Session)
      VEX_REQUIRES(FDatabaseLock);
  // After a session's transaction was rolled back: RebuildTemporaryIndexes.
  virtual void Rollback(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);

  // --- not virtual
  // Takes the lock itself.
  void EmptyIndex(int32_t IndexID, int32_t SessionID);
  // DeleteIndex of the first definition until none is left.
  void DeleteAllIndexes(TVEXCursor* Cursor) VEX_REQUIRES(FDatabaseLock);
  // Nothing without an index manager.
  void EmptyAllIndexes(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);
  // Takes the lock itself. The name of an index serving the parallel lists
  // (field names, "ASC"/"DESC", case sensitivity): an existing one
  // (IsCreated false) or a new temporary index of the cursor's session
  // (IsCreated true). One change set outside a transaction; the cursor does
  // not move (design note 7). 10324 "Cannot find index by ID = %d" when the
  // index manager answers an id without a definition.
  std::string FindOrCreateIndex(TVEXCursor& Cursor, const rtl::TStringList& FieldNamesList,
                                const rtl::TStringList& AscDescList,
                                const rtl::TStringList& CaseSensitivityList, bool& IsCreated);
  // Takes the lock itself. Whether an index serves the lists for the cursor's
  // fields and session.
  bool IndexExists(TVEXCursor& Cursor, const rtl::TStringList& FieldNamesList,
                   const rtl::TStringList& AscDescList,
                   const rtl::TStringList& CaseSensitivityList);
  // Brings the temporary indexes of every cursor of that session up to date
  // with the table.
  void RebuildTemporaryIndexes(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);

 protected:
  // The engine makes its record manager, sized from the field manager.
  virtual void CreateRecordManager() VEX_REQUIRES(FDatabaseLock) = 0;
  // Fill the managers the engine made (design notes 2 and 3). The definitions
  // receive their new object ids.
  virtual void CreateFieldManager(TVEXFieldDefs& FieldDefs) VEX_REQUIRES(FDatabaseLock);
  virtual void CreateIndexManager(TVEXIndexDefs& IndexDefs) VEX_REQUIRES(FDatabaseLock);
  // 30058 "Not implemented yet" for a foreign key (or a type after CHECK);
  // each constraint then names this table, is copied, linked to its field and
  // index ids, and named when it has no name.
  virtual void CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs)
      VEX_REQUIRES(FDatabaseLock);
  virtual int64_t GetBitmapRecordCount(int32_t SessionID) = 0;
  // Whether every bitmap position below GetBitmapRecordCount holds a record,
  // so that a view of all records is every bit at once. False here: the disk
  // engine numbers free record slots too; the memory and temporary engines
  // number their records and answer true.
  virtual bool HasDenseBitmapPositions() const { return false; }
  virtual int64_t GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) = 0;
  virtual TVEXPageItemID GetRecordIDByBitmapRecNo(int64_t RecNo) = 0;
  // The bitmap number of a position of index IndexID and back: the entry
  // numbers along the key path read as digits of base MaxEntriesPerPage + 1.
  // 20018 for an unknown index; 10425 "Nil pointer occured" for a position
  // that is not one of a B-tree index.
  int64_t GetBitmapRecNoByIndexPos(int32_t IndexID, const TVEXIndexPosition& IndexPos);
  void GetIndexPosByBitmapRecNo(int32_t IndexID, TVEXIndexPosition& IndexPos, int64_t BitmapRecNo);
  // Clears Bitmap and stamps it with the record manager's TableState; index-
  // based on IndexID unless that is -1. Returns whether it is index-based.
  bool InitRecordBitmap(TVEXRecordBitmap& Bitmap, int32_t IndexID);
  friend class TVEXRecordBitmap;

  // --- the table search (search/VEXTableSearch.cpp, whose design notes say
  // how a search is planned and run)

  // The next (GoForward) or previous record of the cursor's view, also
  // matching Expression (a Locate condition) and Condition (a FindKey key) when
  // given; from the first (last) record with Restart, else from the cursor's
  // current record. With Bitmap every match found is marked in it, and with
  // FillBitmap the search walks the whole view, answers false and leaves the
  // bitmap active. An active current Bitmap answers by itself. The cursor
  // never moves; the filter expressions hold all their nodes again on every
  // way out. Takes the database lock. 20258 for a key search on a cursor in
  // physical order; 20273, 20058 when a chosen index cannot be opened; 10382,
  // 10387, 10415, 10386, 10414, 10432 from the scans.
  bool FindRecordInView(TVEXCursor& Cursor, TVEXBaseExpression* Expression,
                        const TVEXScanSearchCondition* Condition, bool Restart, bool GoForward,
                        TVEXPageItemID& FoundRecordID, TVEXRecordBitmap* Bitmap, bool FillBitmap);
  // The search's restrictions as conditions: the key, the expressions (the
  // search's, the filter, the SQL filter), the range, the DISTINCT step.
  void BuildScanConditions(TVEXCursor& Cursor, TVEXScanSearchConditionArray& Array, bool GoForward,
                           TVEXBaseExpression* Expression, const TVEXScanSearchCondition* Condition)
      VEX_REQUIRES(FDatabaseLock);
  // Merges the conditions of each index by the index's own comparison;
  // IsEmpty when two of them exclude each other (the array is then unchanged).
  void OptimizeScanConditions(TVEXScanSearchConditionArray& Array, bool& IsEmpty)
      VEX_REQUIRES(FDatabaseLock);
  // The index range to scan: a start and an optional end condition, or -1 for
  // a scan of all records.
  void ChooseScanConditions(int32_t SessionID, TVEXScanSearchConditionArray& Array, int32_t IndexID,
                            TVEXPageItemID CurrentRecordID, bool GoForward,
                            const TVEXFilterRecordEvent& FilterRecord, int32_t& ScanConditionNo,
                            int32_t& ScanEndConditionNo) VEX_REQUIRES(FDatabaseLock);
  bool FindPreferredScanCondition(TVEXScanSearchConditionArray& Array, int32_t IndexID,
                                  int32_t& ScanConditionNo) VEX_REQUIRES(FDatabaseLock);
  // A unique or primary index, or one over a single autoincrement column.
  bool IsUniqueKeyIndex(int32_t IndexID) VEX_REQUIRES(FDatabaseLock);
  void ChooseScanConditionsByCost(int32_t SessionID, TVEXScanSearchConditionArray& Array,
                                  int32_t IndexID, TVEXPageItemID CurrentRecordID,
                                  const TVEXFilterRecordEvent& FilterRecord,
                                  int32_t& ScanConditionNo, int32_t& ScanEndConditionNo)
      VEX_REQUIRES(FDatabaseLock);
  // Estimated pages read: an index range (EndNo -1 for none), the rest of the
  // table from the current record.
  double GetIndexScanCost(int32_t SessionID, TVEXScanSearchConditionArray& Array, int32_t IndexID,
                          const TVEXFilterRecordEvent& FilterRecord, int32_t StartNo, int32_t EndNo)
      VEX_REQUIRES(FDatabaseLock);
  double GetFullScanCost(int32_t SessionID, int32_t IndexID, TVEXPageItemID CurrentRecordID)
      VEX_REQUIRES(FDatabaseLock);
  // The scan by the strategy the cursor's order and the chosen range call for.
  bool ScanView(TVEXTableScan& Scan) VEX_REQUIRES(FDatabaseLock);
  bool ScanAllRecords(TVEXTableScan& Scan) VEX_REQUIRES(FDatabaseLock);
  bool ScanIndexRange(TVEXTableScan& Scan) VEX_REQUIRES(FDatabaseLock);
  bool ScanIndexRangeInPhysicalOrder(TVEXTableScan& Scan) VEX_REQUIRES(FDatabaseLock);
  bool ScanIndexRangeInIndexOrder(TVEXTableScan& Scan) VEX_REQUIRES(FDatabaseLock);
  // Whether something besides the chosen range must be tested per record.
  bool IsRecordTestNeeded(TVEXScanSearchConditionArray& Array, int32_t ScanConditionNo,
                          const TVEXFilterRecordEvent& FilterRecord, int32_t ScanEndConditionNo);
  // Every entry but the chosen range, then the cursor's record filter.
  bool IsRecordMatchingConditions(TVEXScanSearchConditionArray& Array, int32_t ScanConditionNo,
                                  TVEXPageItemID RecordID, const uint8_t* RecordBuffer,
                                  TVEXCursor& Cursor, int32_t ScanEndConditionNo)
      VEX_REQUIRES(FDatabaseLock);
  bool TestScanCondition(const TVEXScanSearchCondition& Condition, const uint8_t* RecordBuffer)
      VEX_REQUIRES(FDatabaseLock);
  // The walk of an active bitmap from CurrentRecordID (IndexID: the order an
  // index-based bitmap follows).
  bool FindRecordInBitmap(int32_t SessionID, bool Restart, int32_t IndexID,
                          TVEXRecordBitmap& Bitmap, TVEXPageItemID& FoundRecordID,
                          TVEXPageItemID CurrentRecordID, bool GoForward)
      VEX_REQUIRES(FDatabaseLock);
  // False when the record cannot be read or has no entry in the index.
  bool GetIndexPositionOfRecord(int32_t SessionID, int32_t IndexID, TVEXIndexPosition& IndexPos,
                                TVEXPageItemID RecordID) VEX_REQUIRES(FDatabaseLock);
  void GetRecordIDByIndexPos(int32_t SessionID, int32_t IndexID, TVEXPageItemID& RecordID,
                             const TVEXIndexPosition& IndexPos) VEX_REQUIRES(FDatabaseLock);
  // Whether the cursor's current record lies in its range, and in its view.
  bool IsRecordInRange(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  bool IsRecordInView(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  // Builds the cursor's bitmap again when it is outdated, or missing while the
  // view is restricted.
  void RefreshRecordBitmap(TVEXCursor& Cursor);
  // The cursor's bitmap (made when it has none) from a walk of its whole
  // view; the cursor's position and record buffer are kept. Takes the
  // database lock.
  void BuildRecordBitmap(TVEXCursor& Cursor);

  // The memory record size of the table's fields; 10131 "Error creating table
  // - no fields were specified" without fields, unless DesignMode is set.
  int32_t GetRecordBufferSize() const;

  // One read for NavigationInfo: along its index for a next or prior step
  // (IndexID not -1; from IndexPositionCache when it matches), else through
  // the record manager. 10015, 10380, 10016 "Nil pointer occured" without a
  // record manager, index manager or record buffer.
  void GetRecordBufferByIndex(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                              int32_t TableState, TVEXIndexPositionCache* IndexPositionCache)
      VEX_REQUIRES(FDatabaseLock);

  std::unique_ptr<TVEXBaseFieldManager> FFieldManager;
  std::unique_ptr<TVEXBaseConstraintManager> FConstraintManager;
  std::unique_ptr<TVEXBaseIndexManager> FIndexManager;
  std::unique_ptr<TVEXBaseRecordManager> FRecordManager;

 private:
  void AssignNewObjectIds(TVEXMetaObjectDefs& Defs);
  // The step of GetRecordBuffer (FillBitmap: let the search fill the
  // cursor's bitmap on the way).
  TVEXGetRecordResult NavigateRecord(TVEXCursor& Cursor, TVEXGetRecordMode GetRecordMode,
                                     bool FillBitmap) VEX_REQUIRES(FDatabaseLock);
  int64_t ViewRecordCount(TVEXCursor& Cursor) VEX_REQUIRES(FDatabaseLock);
  // Restores the saved position unless Found.
  bool PositionOnFound(TVEXCursor& Cursor, bool Found, TVEXPageItemID FoundRecordID)
      VEX_REQUIRES(FDatabaseLock);

  bool FIsRepairing = false;
  TVEXPageManager* FPageManager = nullptr;
  TVEXDatabaseData* FDatabaseData;
  TVEXLock& FDatabaseLock;
  std::string FTableName;
  std::vector<TVEXCursor*> FCursorList;
  bool FDisableTempFiles = false;
};

// One table operation as its own change set (design note 4): takes the
// database lock; Commit applies the cursor's session's changes (outside a
// transaction); leaving the scope without Commit, by an exception or early,
// cancels them; the lock is released last.
class VEX_SCOPED_CAPABILITY TVEXTableOperation {
 public:
  TVEXTableOperation(TVEXTableData& Table, int32_t SessionID, bool InTransaction)
      VEX_ACQUIRE(Table.DatabaseLock());
  TVEXTableOperation(TVEXTableData& Table, const TVEXCursor& Cursor)
      VEX_ACQUIRE(Table.DatabaseLock())
      : TVEXTableOperation(Table, Cursor.GetSessionID(), Cursor.InTransaction()) {}
  // Cancels an uncommitted change set (a failure to cancel is reported, not
  // raised), then unlocks.
  ~TVEXTableOperation() VEX_RELEASE();
  TVEXTableOperation(const TVEXTableOperation&) = delete;
  TVEXTableOperation& operator=(const TVEXTableOperation&) = delete;

  // ApplyChanges; a failing commit is cancelled when the scope is left.
  void Commit();

 private:
  TVEXTableData& FTable;
  int32_t FSessionID;
  bool FInTransaction;
  bool FDone = false;
};

// --- field data between record buffers and the dataset framework's format

// Whether field FieldNo (a table field number) of RecordBuffer is not null;
// when it is not and Buffer is given, copies the value into Buffer: Shortint
// widened to 16 bits, Cardinal to 64 (upper half zero), Single and Extended to
// double, BLOB fields nothing (their data go through streams), every other
// type its MemoryDataSize bytes. 10000 "Invalid field number - FieldNo = %d,
// FieldCount = %d", 10003 "Nil pointer occured" without a record buffer, both
// before anything is read; 10002 "Error getting field data - FieldNo = %d,
// MemoryOffset = %d, MemoryDataSize = %d" for a field lying outside the
// record layout.
bool GetFieldDataFromRecordBuffer(int32_t FieldNo, const TVEXFieldDefs& FieldDefs, void* Buffer,
                                  const uint8_t* RecordBuffer);
// Stores the value in Buffer into field FieldNo, narrowing the four types
// above; null for a nil Buffer and for an empty text (a first character of
// zero) of a text or GUID field. 10004 "Invalid field number - FieldNo = %d,
// FieldCount = %d"; 10001 "Nil pointer occured" without a record buffer.
void SetFieldDataToRecordBuffer(int32_t FieldNo, const TVEXFieldDefs& FieldDefs, const void* Buffer,
                                uint8_t* RecordBuffer);
// Whether the first Size bytes are equal (true for Size <= 0). 10122 and
// 10123 "Nil pointer occured" for a nil first or second buffer.
bool RecordBuffersEqual(const void* Buffer1, const void* Buffer2, int32_t Size);

}  // namespace vex
