// The local cursor: the one implementation of the abstract cursor over the
// storage engines' table objects, and the engine BLOB stream it hands out.
//
// A local cursor binds one open table object of its session's shared database
// object to a position, a current record buffer and a view. Table-level
// operations (create, delete, empty, rename) run on a cursor without an open
// table and leave it so. Record operations (edit, post, cancel, delete) never
// raise for a conflict: they leave 0 or a negative code in ErrorCode, which
// the dataset turns into an engine error.
//
// Design notes
//   1. The shared database object is taken afresh from the session at the
//      start of every table-level operation, and its lock is held to the
//      operation's end. The table object's lock is that same lock.
//   2. Record buffer: null bitmap, field values, then at BookmarkOffset the
//      6-byte record id and one flag byte (0 current, 1 before the first,
//      2 after the last, 3 inserted). KeyOffset = BookmarkOffset,
//      KeyBufferSize = BookmarkOffset + 6, RecordSize = RecordBufferSize =
//      CalculatedFieldsOffset = BookmarkOffset + 7; a sum beyond 32 bits
//      raises rtl::EIntOverflow.
//   3. Changes by other cursors are found by reading the stored record again:
//      edit and post compare field by field (the field manager), delete
//      compares the first RecordSize bytes.
//   4. Multi-user locks apply only to a disk table in a multi-user session.
//      A successful edit keeps its record lock and table lock for the post or
//      cancel; a post failing with -8 keeps them too; every other way out of
//      edit, post, cancel and delete releases what it took. Waits go through
//      os::CurrentClock(): the post's and delete's pauses release the
//      database lock while they sleep.
//   5. The cursor owns its filter expression and its engine BLOB streams. A
//      user stream attached to an engine stream is not owned; freeing an
//      engine stream, on every way out of closing it, detaches the user
//      stream and tells it (EngineStreamClosed), so neither side ever
//      reaches the other after it is gone.
//
// Threads: a cursor is used by one thread at a time; its record operations
// are serialised with all other work on its database by the database lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/VEXStream.h"
#include "storage/VEXCursor.h"
#include "storage/VEXSeams.h"

namespace vex {

class TVEXDatabaseData;
class TVEXTableData;
class TVEXDiskTableData;

// The user stream a dataset attaches to an engine stream (not owned by it).
// Whichever of the two ends first ends the pair: when the engine stream goes
// first (the cursor closes the field, posts, cancels or closes the table), it
// tells its user stream, which from then on reads and writes nothing.
class TVEXUserBLOBStream : public TVEXStream {
 public:
  // The engine stream is being freed; Modified is whether it was written.
  // Never raises.
  virtual void EngineStreamClosed(bool Modified) noexcept = 0;
};

// The engine BLOB stream of one field of a cursor's current record. Reads and
// writes go to the temporary stream (a compressed-BLOB stream over an inner
// stream, which it owns) that the table object filled; the data reach the
// record buffer only when the cursor closes the field.
class TVEXLocalBLOBStream final : public TVEXStream, public TVEXBLOBStreamAccess {
 public:
  TVEXLocalBLOBStream(std::unique_ptr<TVEXStream> TemporaryStream, TVEXCursor& Cursor,
                      TVEXBLOBOpenMode OpenMode, int32_t FieldNo);
  // Tells an attached user stream that the engine stream is gone.
  ~TVEXLocalBLOBStream() override;

  TVEXBLOBOpenMode OpenMode() const { return FOpenMode; }
  void SetOpenMode(TVEXBLOBOpenMode Value) { FOpenMode = Value; }
  TVEXStream& TemporaryStream() override { return *FTemporaryStream; }
  // The user stream the dataset attached (not owned), or nullptr. Setting
  // nullptr detaches it without telling it.
  TVEXUserBLOBStream* UserBLOBStream() const { return FUserBLOBStream; }
  void SetUserBLOBStream(TVEXUserBLOBStream* Value) { FUserBLOBStream = Value; }
  // The table field number.
  int32_t FieldNo() const { return FFieldNo; }
  TVEXCursor& Cursor() const { return FCursor; }
  bool Writable() const { return FOpenMode != bomRead; }

  // 10116 "Cannot write to read only stream" in read mode.
  void SetSize(int64_t NewSize) override;
  int32_t Read(void* Buffer, int32_t Count) override;
  // 10115 "Cannot write to read only stream" in read mode.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, rtl::TSeekOrigin Origin) override;

 private:
  TVEXBLOBOpenMode FOpenMode;
  std::unique_ptr<TVEXStream> FTemporaryStream;
  TVEXUserBLOBStream* FUserBLOBStream = nullptr;
  int32_t FFieldNo;
  TVEXCursor& FCursor;
};

// Makes the engines hand out TVEXLocalBLOBStream; installed by the components'
// start-up step.
class TVEXLocalBLOBStreamFactory final : public TVEXBLOBStreamFactory {
 public:
  std::unique_ptr<TVEXStream> CreateBLOBStream(std::unique_ptr<TVEXStream> TemporaryStream,
                                               TVEXCursor& Cursor, TVEXBLOBOpenMode OpenMode,
                                               int32_t FieldNo) override;
};

class TVEXLocalCursor final : public TVEXCursor {
 public:
  TVEXLocalCursor() = default;
  // CloseTable; never raises.
  ~TVEXLocalCursor() override;

  TVEXTableData* TableData() const { return FTableData; }
  TVEXDatabaseData* DatabaseData() const { return FDatabaseData; }

  // ---- table operations (design note 1). Errors: 20151 / 10027 / 10073 /
  // 10151 "Pointer is nil" / "Table not found, table name = %s" when the
  // database object gives no table object; 20132 / 20133 / 20134 "Table '%s'
  // not found"; 30451 "Table %s already exists"; 30452 "Cannot rename table
  // '%s' into itself"; 10028 for a missing memory or temporary table outside
  // design mode; what the table object raises. Each leaves the cursor without
  // a table.
  void CreateTable(TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                   TVEXConstraintDefs& ConstraintDefs) override;
  void DeleteTable() override;
  void EmptyTable() override;
  void RenameTable(std::string_view NewTableName) override;
  void InternalInitFieldDefs() override;
  void OpenTableByFieldDefs(TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                            TVEXConstraintDefs& ConstraintDefs) override;
  // Opens a given table object (the index builder's road); the field
  // definitions are built too.
  void OpenTable(TVEXTableData& aTableData);
  void CloseTable() override;
  // 10260 / 10261 "Nil pointer occured" without a table.
  void LockTableData() override;
  void UnlockTableData() override;
  // True on memory and temporary tables; 20221 / 20222 "Pointer is nil"
  // without a table.
  bool LockTable(TVEXLockType LockType, int32_t TryCount, int32_t Delay,
                 bool AllowXIRWAfterSIRW) override;
  bool UnlockTable(TVEXLockType LockType, bool IgnoreIfNoLock) override;
  void RenameField(std::string_view FieldName, std::string_view NewFieldName) override;

  // ---- indexes
  TVEXIndexDefs& GetIndexDefs() override;
  // 20022 "Cannot create index '%s'. Index already exists".
  void AddIndex(TVEXIndexDef& IndexDef) override;
  // 20021 "Cannot delete index '%s'. Index not found".
  void DeleteIndex(std::string_view Name) override;
  void DeleteAllIndexes() override;
  // A projected alias in FieldNamesList is replaced, in the caller's list,
  // by the name of its table field.
  std::string FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                const rtl::TStringList& AscDescList,
                                const rtl::TStringList& CaseSensitivityList,
                                bool& IsCreated) override;
  bool IndexExists(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                   const rtl::TStringList& CaseSensitivityList) override;
  // 10501 / 10502 "Invalid field number - FieldNo = %d, FieldCount = %d".
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                      TVEXCursor& DestCursor) override;

  // ---- records and navigation
  void InternalInitRecord(uint8_t* RecordBuffer, bool InsertMode) override;
  void FreeRecordBuffer(uint8_t*& Buffer) override;
  int64_t GetRecordCount() override;
  TVEXGetRecordResult GetRecordBuffer(TVEXGetRecordMode GetRecordMode) override;
  void SetRecNo(int64_t Value) override;
  int64_t GetRecNo() override;
  // -1, 0 or 1: by the selected index, then by record id; an unreadable
  // first record is lower, an unreadable second one higher.
  int32_t CompareRecordsOrder(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInsert() override {}
  void InternalEdit() override;
  void InternalCancel(bool ToInsert) override;
  void InternalPost(bool ToInsert) override;
  void InternalDelete() override;
  bool IsRecordLocked() override;

  // ---- view and search
  void ApplyDistinct(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                     const rtl::TStringList& CaseSensitivityList) override;
  // Errors of the expression object pass through; the previous filter is
  // kept when the new one does not parse.
  void ActivateFilters(std::string_view FilterText, bool CaseInsensitive,
                       bool PartialKey) override;
  void DeactivateFilters() override;
  bool Locate(std::string_view KeyFields, const rtl::Variant& KeyValues, bool CaseInsensitive,
              bool PartialKey) override;
  bool FindKey(TVEXSearchCondition SearchCondition) override;
  bool IsAnyRecordMatchCondition(std::string_view FieldName, TVEXDataOperator Operator,
                                 TVEXVariant& Value) override;

  // ---- BLOBs. 10110 / 10118 "Invalid field number - FieldNo = %d,
  // FieldCount = %d"; 10113 / 10119 "Nil pointer occured" without a stream
  // list; 10115 "BLOB field already opened. FieldNo = %d, FieldName = %s" for
  // a second writer. nullptr (no error) when a multi-user disk table cannot
  // be read now or its record is gone.
  TVEXStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo,
                                       TVEXBLOBOpenMode OpenMode,
                                       bool CanDoGetRecordBuffer) override;
  void InternalCloseBLOB(int32_t FieldNo) override;
  void ClearBLOBStreams(bool WriteOnly) override;

  int64_t LastAutoincValue(int32_t FieldNo) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  bool CheckConstraints(bool ToInsert) override;

 private:
  // The session's shared database object; 20151 "Pointer is nil" without.
  TVEXDatabaseData& TakeDatabaseData();
  // The open steps shared by both ways of opening.
  void OpenSteps(bool InitFieldDefs);
  void RefreshIndexAndConstraintDefs();
  TVEXDiskTableData* DiskTable() const;
  bool IsTemporaryTable() const;
  bool MultiUserDisk() const;
  bool SessionMultiUser() const;
  // Edit steps of a multi-user disk table: locks, then the re-read check.
  void LockRecordForEdit();
  void DoPost(bool ToInsert);
  void DoDelete();
  // Writes, clears and frees one engine stream at position Index.
  void CloseBLOBStreamAt(size_t Index);
  void TranslateAliases(const rtl::TStringList& FieldNamesList) const;
  // Sleeps Ms with the database lock released.
  void PauseUnlocked(uint32_t Ms);

  TVEXTableData* FTableData = nullptr;
  TVEXDatabaseData* FDatabaseData = nullptr;
  std::unique_ptr<TVEXBaseExpression> FOwnedFilter;
};

// Installs the local BLOB stream factory and the record scanner through local
// cursors into the storage seams; StopLocalCursorSeams puts the previous ones
// back. Called by the components' start-up step.
void StartLocalCursorSeams();
void StopLocalCursorSeams() noexcept;

}  // namespace vex
