// The cursor: one user's view of one table, the contract between the storage
// engine and everything above it.
//
// A cursor has its own current record, record buffers, visible field list,
// index order, range, filters and DISTINCT. The dataset component and the SQL
// operators work on tables only through cursors. This class declares the
// operations every cursor offers (the local cursor of the component layer
// implements the abstract ones over the table and database objects) and holds
// what all cursors share: typed field access on record buffers, buffer
// allocation, position save and restore, projection, range and filter
// bookkeeping.
//
// Design notes
//   1. A saved position is an 8-byte block of the engine's memory manager:
//      FirstPosition (1 byte), LastPosition (1 byte), CurrentRecordID.PageNo
//      (4 bytes), CurrentRecordID.PageItemNo (2 bytes). It is owned by the
//      caller that saved it and freed with it.
//   2. A cursor without a session works in no session (id -1) and outside a
//      transaction.
//   3. Field numbers: FieldDefs are the table's fields as the memory record
//      lays them out; VisibleFieldDefs are what the user sees, in order, each
//      naming its table field in FieldNoReference. GetFieldData, SetFieldData
//      and (without DirectAccess) GetFieldValue and SetFieldValue take visible
//      numbers; DirectAccess takes table numbers.
//   4. Ownership: the cursor owns its record bitmap, its index position cache,
//      the BLOB streams open on its current record and its password record.
//      The filter expressions, the key, range and DISTINCT buffers belong to
//      whoever set them; the cursor only points at them. It never owns its
//      session or the record buffers it is handed (CurrentRecordBuffer,
//      EditRecordBuffer).
//   5. A record buffer is the memory record of the table (null bitmap, then
//      the fields), then at BookmarkOffset the 6-byte record id and one flag
//      byte, then the calculated-field area. The local cursor sets the
//      geometry when it opens the table.
//   6. ApplyRange and ResetRange only remember or forget the caller's buffers;
//      every change of the view (range, filters, DISTINCT) disables the
//      record bitmap so that the view is built again on its next use.
//
// Threads: a cursor is used by one thread at a time; the table operations that
// read or move it run under its database's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXCompression.h"
#include "foundation/VEXConst.h"
#include "foundation/VEXGuards.h"
#include "rtl/Variant.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXIndexManager.h"
#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/VEXSeams.h"
#include "storage/search/VEXRecordBitmap.h"
#include "storage/search/VEXScanConditions.h"

namespace rtl {
class TStringList;
}
namespace db {
class TDataSet;
}

namespace vex {

class TVEXStream;
class TVEXVariant;
// The SQL layer's relational operator, handed through to an SQL filter.
class TVEXAO;
// A database password and its cipher (defined with the disk engine).
struct TVEXPassword;
// The table lock kinds between connections (defined with the table locks).
enum TVEXLockType : uint8_t;

// The dataset's record filter: whether the record in RecordBuffer (a record
// buffer of the cursor, with the record id at BookmarkOffset) is shown.
using TVEXFilterRecordEvent =
    std::function<bool(const uint8_t* RecordBuffer, db::TDataSet* Dataset)>;

class TVEXCursor : public TVEXManagerCursor {
 public:
  // Physical order (index id -1), no filters, no range, no DISTINCT, no
  // record bitmap, positioned before the first record.
  TVEXCursor();
  // Frees what the cursor owns (design note 4). Never raises.
  ~TVEXCursor() override;
  TVEXCursor(const TVEXCursor&) = delete;
  TVEXCursor& operator=(const TVEXCursor&) = delete;

  // ---- the abstract operations (the local cursor implements them)

  // Creates the table named TableName (an existing one is deleted first).
  virtual void CreateTable(TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                           TVEXConstraintDefs& ConstraintDefs) = 0;
  // Deletes the table and the session's named objects of its fields.
  virtual void DeleteTable() = 0;
  virtual void EmptyTable() = 0;
  virtual void RenameTable(std::string_view NewTableName) = 0;
  // Rebuilds FieldDefs (and VisibleFieldDefs unless SettingProjection), the
  // buffer geometry and ConstraintDefs from the open table.
  virtual void InternalInitFieldDefs() = 0;
  // Opens the table, copies its index definitions and stands before the
  // first record; the definitions serve only to create a missing table.
  virtual void OpenTableByFieldDefs(TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                                    TVEXConstraintDefs& ConstraintDefs) = 0;
  virtual void CloseTable() = 0;
  // Enter and leave the table's (its database's) lock.
  virtual void LockTableData() = 0;
  virtual void UnlockTableData() = 0;
  // A table lock between connections with bounded retries; true where the
  // engine has no such locks.
  virtual bool LockTable(TVEXLockType LockType, int32_t TryCount, int32_t Delay,
                         bool AllowXIRWAfterSIRW) = 0;
  virtual bool UnlockTable(TVEXLockType LockType, bool IgnoreIfNoLock) = 0;
  // Base: renames the field in the cursor's own FieldDefs: 30345 "Field '%s'
  // not found" (compared ignoring case); 30346 "Cannot rename field '%s'.
  // Field '%s' already exists" when a field bears the new name in any letter
  // case; the name is cut to 255 characters.
  virtual void RenameField(std::string_view FieldName, std::string_view NewFieldName);
  // Base: the cursor's index definitions.
  virtual TVEXIndexDefs& GetIndexDefs();
  virtual void AddIndex(TVEXIndexDef& IndexDef) = 0;
  virtual void DeleteIndex(std::string_view Name) = 0;
  virtual void DeleteAllIndexes() = 0;
  // The name of an index serving the lists, a new temporary one when none
  // does (IsCreated).
  virtual std::string FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                        const rtl::TStringList& AscDescList,
                                        const rtl::TStringList& CaseSensitivityList,
                                        bool& IsCreated) = 0;
  virtual bool IndexExists(const rtl::TStringList& FieldNamesList,
                           const rtl::TStringList& AscDescList,
                           const rtl::TStringList& CaseSensitivityList) = 0;
  // One field of the current record into DestCursor's current record.
  virtual void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                              TVEXCursor& DestCursor) = 0;
  // Every null bit set, data zero, and for an insert into a permanent table
  // the defaults applied.
  virtual void InternalInitRecord(uint8_t* RecordBuffer, bool InsertMode) = 0;
  // Base: returns a block of the engine's memory manager (a buffer released
  // from AllocateRecordBuffer or AllocateKeyRecordBuffer) and clears the
  // pointer; nothing for nullptr. Raises what the manager raises for a
  // damaged block.
  virtual void FreeRecordBuffer(uint8_t*& Buffer);
  // The same for a buffer still held in its block; never raises.
  static void FreeRecordBuffer(TVEXMemBlock& Buffer) { Buffer.Reset(); }
  // Records in the view.
  virtual int64_t GetRecordCount() = 0;
  // The current, next or prior record of the view into CurrentRecordBuffer.
  virtual TVEXGetRecordResult GetRecordBuffer(TVEXGetRecordMode GetRecordMode) = 0;
  virtual void SetRecNo(int64_t Value) = 0;
  virtual int64_t GetRecNo() = 0;
  // Negative, 0 or positive: the order of two records in the cursor's order.
  virtual int32_t CompareRecordsOrder(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) = 0;
  // Before the first / after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // The editing steps; each leaves its result in ErrorCode.
  virtual void InternalInsert() = 0;
  virtual void InternalEdit() = 0;
  virtual void InternalCancel(bool ToInsert) = 0;
  virtual void InternalPost(bool ToInsert) = 0;
  virtual void InternalDelete() = 0;
  virtual bool IsRecordLocked() = 0;
  // Orders the view by an index on the fields and shows one record per
  // distinct value of them.
  virtual void ApplyDistinct(const rtl::TStringList& FieldNamesList,
                             const rtl::TStringList& AscDescList,
                             const rtl::TStringList& CaseSensitivityList) = 0;
  virtual void ActivateFilters(std::string_view FilterText, bool CaseInsensitive,
                               bool PartialKey) = 0;
  virtual void DeactivateFilters() = 0;
  // KeyFields: ";"-separated names; KeyValues: a value or a variant array.
  virtual bool Locate(std::string_view KeyFields, const rtl::Variant& KeyValues,
                      bool CaseInsensitive, bool PartialKey) = 0;
  // Searches the key buffer on the cursor's index.
  virtual bool FindKey(TVEXSearchCondition SearchCondition) = 0;
  virtual bool IsAnyRecordMatchCondition(std::string_view FieldName, TVEXDataOperator Operator,
                                         TVEXVariant& Value) = 0;
  // A BLOB field (visible number) of the current record as a stream, which
  // the cursor keeps in BLOBStreams until it is closed; nullptr when none.
  virtual TVEXStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo,
                                               TVEXBLOBOpenMode OpenMode,
                                               bool CanDoGetRecordBuffer) = 0;
  virtual void InternalCloseBLOB(int32_t FieldNo) = 0;
  virtual void ClearBLOBStreams(bool WriteOnly) = 0;
  virtual int64_t LastAutoincValue(int32_t FieldNo) = 0;
  // Outside a transaction: many record operations as one change set.
  virtual void BeginBatchUpdate() = 0;
  virtual void EndBatchUpdate() = 0;
  virtual void CancelBatchUpdate() = 0;
  virtual bool CheckConstraints(bool ToInsert) = 0;

  // ---- field values (design note 3)

  // One field between RecordBuffer and Buffer in the dataset framework's
  // format (Shortint as 16 bits, Cardinal as 64, Single and Extended as
  // double). 10005 (get) or 10006 (set) "Invalid field number - FieldNo = %d,
  // FieldCount = %d" outside the visible fields; the rest as
  // GetFieldDataFromRecordBuffer / SetFieldDataToRecordBuffer say.
  // GetFieldData is false for a null field.
  bool GetFieldData(int32_t FieldNo, void* Buffer, const uint8_t* RecordBuffer);
  void SetFieldData(int32_t FieldNo, const void* Buffer, uint8_t* RecordBuffer);
  // One field of CurrentRecordBuffer into Value: a null field only marks
  // Value null (its type stays); otherwise Value holds a copy of the field's
  // MemoryDataSize bytes typed with its BaseFieldType. 20191 (DirectAccess) or
  // 10317 "Invalid field number - FieldNo = %d, FieldCount = %d"; 10008 "Nil
  // pointer occured" without a current record buffer.
  void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess);
  // Value into a field of RecordBuffer (CurrentRecordBuffer when nullptr): a
  // null Value sets the null bit and leaves the data; otherwise the null bit
  // is cleared, Value is cast in place to the field's BaseFieldType and its
  // data copied: 20056 "Buffer size exceeded" when longer than the field; an
  // empty text stores an empty text. 20192 (DirectAccess) or 20193 for a bad
  // field number; 10012 "Nil pointer occured" without a buffer.
  void SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess,
                     uint8_t* RecordBuffer = nullptr);
  // Zeroes what follows the terminator of every text field (all of a null
  // one), so that equal keys are equal bytes.
  void ClearStringFieldsGarbage(uint8_t* RecordBuffer) const;

  // ---- buffers
  // A zero-filled buffer of RecordBufferSize bytes from the memory manager;
  // raises what the manager raises (also for a size of 0).
  TVEXMemBlock AllocateRecordBuffer() const { return TVEXMemBlock::AllocMem(FRecordBufferSize); }
  // KeyBufferSize bytes, not cleared.
  TVEXMemBlock AllocateKeyRecordBuffer() const { return TVEXMemBlock::GetMem(FKeyBufferSize); }
  // Zero-fills KeyBufferSize bytes, then InternalInitRecord(RecordBuffer,
  // false).
  void InternalInitKeyBuffer(uint8_t* RecordBuffer);

  // ---- position (design note 1)
  TVEXMemBlock SavePosition() const;
  // Puts the position of a block from SavePosition back; nothing for an empty
  // block.
  void RestorePosition(const TVEXMemBlock& Pos);
  static void FreePosition(TVEXMemBlock& Pos) { Pos.Reset(); }

  // ---- view
  // Clears the record bitmap, when there is one, so that the restricted view
  // is built again on its next use.
  void DisableRecordBitmap();
  // VisibleFieldDefs become copies of the named table fields, in order,
  // renamed by their aliases: an alias already borne by a visible field
  // (ignoring case) is tried with "_1", "_2", ... up to the number of
  // entries. 10321 "Error - different list lengths. L1 = %d, L2 = %d", 10322
  // "No fields were specified while setting projection", 10323 "Cannot find
  // field %s".
  void ApplyProjection(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AliasList);
  bool IsIndexApplied() const { return FIndexID != -1; }
  bool IsDistinctApplied() const { return DistinctFieldCount > 0; }
  bool IsFilterApplied() const {
    return FilterExpression != nullptr || SQLFilterExpression != nullptr ||
           static_cast<bool>(FilterRecord);
  }
  bool IsRangeApplied() const { return RangeStartBuffer != nullptr || RangeEndBuffer != nullptr; }
  bool IsViewRestricted() const {
    return IsFilterApplied() || IsRangeApplied() || IsDistinctApplied();
  }
  // Forgets both range buffers without freeing them.
  void ResetRange();
  // Remembers the caller's buffers (not copied) and the four settings.
  void ApplyRange(uint8_t* StartBuffer, uint8_t* EndBuffer, int32_t StartKeyFieldCount,
                  int32_t EndKeyFieldCount, bool StartExclusive, bool EndExclusive);
  // Remembers the SQL filter (not owned) and binds it to this cursor, with
  // the parent query's operator and cursor for outer references.
  void SetSQLFilter(TVEXBaseExpression* FilterExpr, TVEXAO* ParentQueryAO,
                    TVEXCursor* ParentCursor);

  // ---- properties
  bool SettingProjection() const { return FSettingProjection; }
  void SetSettingProjection(bool Value) { FSettingProjection = Value; }
  const std::string& TableName() const { return FTableName; }
  void SetTableName(std::string_view Value) { FTableName = Value; }
  const std::string& IndexName() const { return FIndexName; }
  // Stores the name; IndexID becomes the ObjectID of the index definition of
  // that name (ignoring case), or -1 when there is none.
  void SetIndexName(std::string_view Value);
  int32_t IndexID() const { return FIndexID; }
  void SetIndexID(int32_t Value) { FIndexID = Value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value) { FExclusive = Value; }
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool Value) { FInMemory = Value; }
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool Value) { FTemporary = Value; }
  // Not owned.
  TVEXBaseSession* Session() const { return FSession; }
  void SetSession(TVEXBaseSession* Value) { FSession = Value; }
  bool InTransaction() const { return FSession != nullptr && FSession->InTransaction(); }
  bool IsOpen() const { return FIsOpen; }
  void SetIsOpen(bool Value) { FIsOpen = Value; }
  bool PhysicalOrder() const { return FPhysicalOrder; }
  void SetPhysicalOrder(bool Value) { FPhysicalOrder = Value; }
  TVEXIndexPosition* CurrentRecordPositionInIndex() const {
    return FCurrentRecordPositionInIndex.get();
  }
  void SetCurrentRecordPositionInIndex(std::unique_ptr<TVEXIndexPosition> Value) {
    FCurrentRecordPositionInIndex = std::move(Value);
  }
  // Record buffers (not owned here, design note 4).
  uint8_t* CurrentRecordBuffer() const { return FCurrentRecordBuffer; }
  void SetCurrentRecordBuffer(uint8_t* Value) { FCurrentRecordBuffer = Value; }
  uint8_t* EditRecordBuffer() const { return FEditRecordBuffer; }
  void SetEditRecordBuffer(uint8_t* Value) { FEditRecordBuffer = Value; }
  // The cursor's password record, written before the table is opened.
  TVEXPassword& Password() const { return *FPassword; }
  TVEXConstraintDefs& ConstraintDefs() { return FConstraintDefs; }
  const TVEXCompression& BLOBCompression() const { return FBLOBCompression; }
  void SetBLOBCompression(const TVEXCompression& Value) { FBLOBCompression = Value; }
  TVEXFieldDefs& FieldDefs() { return FFieldDefs; }
  const TVEXFieldDefs& FieldDefs() const { return FFieldDefs; }
  TVEXFieldDefs& VisibleFieldDefs() { return FVisibleFieldDefs; }
  const TVEXFieldDefs& VisibleFieldDefs() const { return FVisibleFieldDefs; }
  // The engine streams open on the current record (owned).
  std::vector<std::unique_ptr<TVEXStream>>& BLOBStreams() { return FBLOBStreams; }
  bool TableLockedByCursor() const { return FTableLockedByCursor; }
  void SetTableLockedByCursor(bool Value) { FTableLockedByCursor = Value; }
  bool InBatchUpdate() const { return FBatchUpdate; }
  void SetInBatchUpdate(bool Value) { FBatchUpdate = Value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool Value) { FDisableTempFiles = Value; }
  bool IsRepairing() const { return FIsRepairing; }
  void SetIsRepairing(bool Value) { FIsRepairing = Value; }
  // 0, or a record-level code -1..-13 that the dataset raises.
  int32_t ErrorCode() const { return FErrorCode; }
  void SetErrorCode(int32_t Value) { FErrorCode = Value; }
  // The text of code -8.
  const std::string& ErrorMessage() const { return FErrorMessage; }
  void SetErrorMessage(std::string_view Value) { FErrorMessage = Value; }
  bool IsDesignMode() const { return FIsDesignMode; }
  void SetIsDesignMode(bool Value) { FIsDesignMode = Value; }

  // Record buffer geometry (design note 5).
  int32_t RecordBufferSize() const { return FRecordBufferSize; }
  void SetRecordBufferSize(int32_t Value) { FRecordBufferSize = Value; }
  int32_t RecordSize() const { return FRecordSize; }
  void SetRecordSize(int32_t Value) { FRecordSize = Value; }
  int32_t KeyBufferSize() const { return FKeyBufferSize; }
  void SetKeyBufferSize(int32_t Value) { FKeyBufferSize = Value; }
  int32_t KeyOffset() const { return FKeyOffset; }
  void SetKeyOffset(int32_t Value) { FKeyOffset = Value; }
  int32_t KeyFieldCount() const { return FKeyFieldCount; }
  void SetKeyFieldCount(int32_t Value) { FKeyFieldCount = Value; }
  int32_t FieldValuesOffset() const { return FFieldValuesOffset; }
  void SetFieldValuesOffset(int32_t Value) { FFieldValuesOffset = Value; }
  int32_t CalculatedFieldsOffset() const { return FCalculatedFieldsOffset; }
  void SetCalculatedFieldsOffset(int32_t Value) { FCalculatedFieldsOffset = Value; }
  int32_t BookmarkOffset() const { return FBookmarkOffset; }
  void SetBookmarkOffset(int32_t Value) { FBookmarkOffset = Value; }

  // The key buffer (the caller's, design note 4).
  uint8_t* KeyBuffer() const { return FKeyBuffer; }
  void SetKeyBuffer(uint8_t* Value) { FKeyBuffer = Value; }

  // The view (design notes 4 and 6). The filter expressions: a filter and an
  // SQL filter (SetSQLFilter binds one), neither owned.
  TVEXBaseExpression* FilterExpression = nullptr;
  TVEXBaseExpression* SQLFilterExpression = nullptr;
  // The dataset's record filter, or none, and the dataset that owns the
  // cursor, or none (not owned).
  TVEXFilterRecordEvent FilterRecord{};
  db::TDataSet* Dataset = nullptr;
  // The range (ApplyRange, ResetRange).
  uint8_t* RangeStartBuffer = nullptr;
  uint8_t* RangeEndBuffer = nullptr;
  int32_t RangeStartKeyFieldCount = 0;
  int32_t RangeEndKeyFieldCount = 0;
  bool RangeStartExclusive = false;
  bool RangeEndExclusive = false;
  // The record last shown under DISTINCT, while a DISTINCT step runs.
  uint8_t* DistinctRecordBuffer = nullptr;
  // 0: no DISTINCT.
  int32_t DistinctFieldCount = 0;
  // The bitmap of the restricted view, or none; the cursor owns it.
  std::unique_ptr<TVEXRecordBitmap> RecordBitmap{};
  TVEXIndexPositionCache IndexPositionCache{};

  // The position.
  TVEXPageItemID CurrentRecordID{-1, 0};
  int32_t CurrentIndexID = -1;
  bool FirstPosition = true;
  bool LastPosition = false;

  // The records in the view (GetRecordCount).
  int64_t RecordCount() { return GetRecordCount(); }

  // ---- TVEXManagerCursor
  int32_t GetSessionID() const override {
    return FSession != nullptr ? FSession->SessionID() : kNoSessionID;
  }
  TVEXPageItemID GetCurrentRecordID() const override { return CurrentRecordID; }
  uint8_t* GetCurrentRecordBuffer() const override { return FCurrentRecordBuffer; }
  const TVEXFieldDefs& GetFieldDefs() const override { return FFieldDefs; }
  TVEXCursor& GetCursor() override { return *this; }
  const uint8_t* GetEditRecordBuffer() const override { return FEditRecordBuffer; }

 protected:
  TVEXIndexDefs FIndexDefs;

 private:
  // The table field number behind FieldNo (a table number with DirectAccess,
  // else a visible one); DirectCode or VisibleCode for a bad number.
  int32_t TableFieldNo(int32_t FieldNo, bool DirectAccess, int32_t DirectCode,
                       int32_t VisibleCode) const;

  bool FSettingProjection = false;
  std::string FTableName;
  std::string FIndexName;
  int32_t FIndexID = -1;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FTemporary = false;
  TVEXBaseSession* FSession = nullptr;
  bool FIsOpen = false;
  bool FPhysicalOrder = false;
  std::unique_ptr<TVEXIndexPosition> FCurrentRecordPositionInIndex;
  uint8_t* FCurrentRecordBuffer = nullptr;
  uint8_t* FEditRecordBuffer = nullptr;
  std::unique_ptr<TVEXPassword> FPassword;
  TVEXConstraintDefs FConstraintDefs;
  TVEXCompression FBLOBCompression{acaNone, 0, aclNone};
  TVEXFieldDefs FFieldDefs;
  TVEXFieldDefs FVisibleFieldDefs;
  std::vector<std::unique_ptr<TVEXStream>> FBLOBStreams;
  bool FTableLockedByCursor = false;
  bool FBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  int32_t FErrorCode = 0;
  std::string FErrorMessage;
  bool FIsDesignMode = false;
  int32_t FRecordBufferSize = 0;
  int32_t FRecordSize = 0;
  int32_t FKeyBufferSize = 0;
  int32_t FKeyOffset = 0;
  int32_t FKeyFieldCount = 0;
  int32_t FFieldValuesOffset = 0;
  int32_t FCalculatedFieldsOffset = 0;
  int32_t FBookmarkOffset = 0;
  uint8_t* FKeyBuffer = nullptr;
};

}  // namespace vex
