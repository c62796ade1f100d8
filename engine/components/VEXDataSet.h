// The dataset component: the engine's dataset on the platform's dataset
// framework, the common base of the table and query components.
//
// The framework owns the ring of record buffers and the state machine; this
// class implements its record-buffer contract over one engine cursor
// (FHandle), turns the cursor's record-operation result codes into
// EVEXEngineError, and ties the dataset to a database component through its
// session and a set of database flags. The descendants make the cursor
// (CreateHandle): the table component opens a local cursor on its table, the
// query component runs its statement.
//
// Design notes
//   1. Record buffer = the cursor's record buffer: the memory record (null
//      bitmap, field values), at the cursor's BookmarkOffset the 6-byte record
//      id (TVEXPageItemID) and one flag byte (0 current, 1 before the first,
//      2 after the last, 3 inserted), then the calculated-field area at the
//      cursor's CalculatedFieldsOffset. BookmarkSize is 7 (id and flag); a
//      bookmark is the record id, the first 6 of its bytes. RecordSize is the
//      cursor's RecordSize - 7 (the field area). A new record carries flag 3
//      and id (-1, 0xFFFF) until it is posted.
//   2. Database flags (FDBFlags, bits 0..15): the database component is held
//      (FDatabase set, the dataset in its dataset list) exactly while at least
//      one flag is set. The first flag attaches and opens it through the
//      session, the last one cleared gives it back under the session lock.
//      Flag 0 = cursor open; 1, 2 = query prepared / executing; 3 = table
//      created, deleted, emptied or renamed; 4 = field definitions read; 5 =
//      index definitions read or changed; 10 = provider transaction; 11 = table
//      repair.
//   3. The cursor's CurrentRecordBuffer and EditRecordBuffer point into this
//      dataset's buffers and are never owned by the cursor. Before the dataset
//      frees or replaces a buffer the cursor may point at (the edit copy after
//      a post, a scratch buffer of BookmarkValid or GetCurrentRecord), the
//      cursor is pointed away from it.
//   4. The edit copy (FEditRecordBuffer) exists from a successful InternalEdit
//      to the successful post or the cancel; a failed edit frees it, a failed
//      post keeps it for the next try, closing frees it.
//   5. The dataset's own cursor (FExternalHandle nil) is freed by
//      DestroyHandle; an external cursor is never freed here.
//   6. Record operations (insert, edit, post, cancel, delete) raise the
//      cursor's ErrorCode through CheckEngineError as EVEXEngineError, which
//      is a db::EDatabaseError: the framework's error-event loop hands it to
//      OnEditError / OnPostError / OnDeleteError, and daRetry runs the
//      operation again with the cursor positioned on the active record.
//
// Lock order: the session lock (around attaching and releasing the database),
// then the locks of the cursor (its database's lock).
//
// Threads: used on the thread that owns the components.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/VEXAdvDefs.h"
#include "db/DataSet.h"
#include "db/Params.h"
#include "storage/VEXCursor.h"
#include "storage/VEXMetaDefCollections.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXDatabase;
class TVEXSession;
class TVEXDataSet;

// The provider's update of one record (PSUpdateRecord).
using TUpdateRecordEvent = std::function<void(db::TDataSet& DataSet, db::TUpdateKind UpdateKind,
                                              db::TUpdateAction& UpdateAction)>;

// The database flags of design note 2.
enum TVEXDBFlag : uint8_t {
  dbfOpened = 0,
  dbfPrepared = 1,
  dbfExecuting = 2,
  dbfTable = 3,
  dbfFieldDefs = 4,
  dbfIndexDefs = 5,
  dbfProvider = 10,
  dbfRepair = 11,
};

class TVEXDataSet : public db::TDataSet {
 public:
  // Sets the process-wide design-mode flag when the owner is being designed.
  explicit TVEXDataSet(rtl::TComponent* AOwner);
  // Closes (never raises) and frees the edit copy and the definitions.
  ~TVEXDataSet() override;

  // ---- properties
  // Always "7.50 "; writing it has no visible effect.
  std::string CurrentVersion() const;
  void SetCurrentVersion(const std::string& Value) { FCurrentVersion = Value; }
  // The engine cursor while open, or nullptr.
  TVEXCursor* Handle() const { return FHandle; }
  const std::string& SessionName() const { return FSessionName; }
  // Needs a closed dataset.
  void SetSessionName(const std::string& Value);
  const std::string& DatabaseName() const { return FDatabaseName; }
  // Needs a closed dataset not attached to its database by another flag
  // ("Cannot perform this operation on an open database"); "MEMORY" in any
  // letter case also sets InMemory.
  void SetDatabaseName(const std::string& Value);
  bool InMemory() const { return FInMemory; }
  // Needs a closed dataset; True also sets DatabaseName to "MEMORY".
  void SetInMemory(bool Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool StoreDefs() const { return FStoreDefs; }
  void SetStoreDefs(bool Value) { FStoreDefs = Value; }
  // The database component while any flag holds it, else nullptr.
  TVEXDatabase* Database() const { return FDatabase; }
  // The session of the attached database, else the one named SessionName,
  // else the default session.
  TVEXSession& DBSession() const;
  int32_t KeySize() const { return FKeySize; }
  uint16_t DBFlags() const { return FDBFlags; }
  bool IgnoreDesignMode() const { return FIgnoreDesignMode; }
  void SetIgnoreDesignMode(bool Value) { FIgnoreDesignMode = Value; }
  void SetIndexDefs(const db::TIndexDefs& Value);
  TVEXAdvFieldDefs& AdvFieldDefs() { return *FAdvFieldDefs; }
  TVEXAdvIndexDefs& AdvIndexDefs() { return *FAdvIndexDefs; }
  TVEXAdvFieldDefs& RestructureFieldDefs() { return *FRestructureFieldDefs; }
  TVEXAdvIndexDefs& RestructureIndexDefs() { return *FRestructureIndexDefs; }
  TVEXFieldDefs& VEXFieldDefs() { return *FVEXFieldDefs; }
  TVEXIndexDefs& VEXIndexDefs() { return *FVEXIndexDefs; }
  TVEXConstraintDefs& VEXConstraintDefs() { return *FVEXConstraintDefs; }
  // Whether a table component's resource keeps its definitions.
  bool FieldDefsStored() { return FStoreDefs && FieldDefs().Count() > 0; }
  bool IndexDefsStored() { return FStoreDefs && IndexDefs().Count() > 0; }

  TUpdateRecordEvent OnUpdateRecord;

  // ---- database
  // The database named DatabaseName of the session named SessionName for this
  // dataset's owner (an existing component, or a temporary one the session
  // makes); 20002 for a session name no session has.
  TVEXDatabase& OpenDatabase();
  // Gives Database back to its session; nothing for nullptr.
  void CloseDatabase(TVEXDatabase* Database);
  // Close; the database component calls it on each of its datasets when it
  // closes.
  virtual void CloseAndRelease();
  // Sets or clears one database flag (design note 2); bits above 15 are
  // ignored.
  virtual void SetDBFlag(int32_t Flag, bool Value);
  // Whether the database component closes this dataset before the others.
  virtual bool IsQuery() const { return false; }
  // 10326 without a cursor.
  bool IsDistinctApplied() const;
  // The DatabaseName of every database component of DBSession.
  void GetDatabaseNameList(rtl::TStringList& List) const;

  // ---- the framework's public operations
  void SetActive(bool Value) override;
  void SetRecNo(int32_t Value) override;
  bool BookmarkValid(const db::TBookmark& Bookmark) override;
  int32_t CompareBookmarks(const db::TBookmark& Bookmark1, const db::TBookmark& Bookmark2) override;
  bool GetCurrentRecord(db::TRecordBuffer Buffer) override;
  bool GetIsIndexField(db::TField* Field) override;

  // ---- provider support
  // A temporary query on this dataset's DatabaseName, SessionName and
  // InMemory runs ASQL with a copy of AParams (ExecSQL); the rows it
  // affected. ResultSet shows the query while it runs and is nullptr on
  // return. Defined with the query component (VEXQuery.cpp).
  int32_t PSExecuteStatement(const std::string& ASQL, const db::TParams* AParams);
  int32_t PSExecuteStatement(const std::string& ASQL, const db::TParams* AParams,
                             db::TDataSet*& ResultSet);
  std::string PSGetQuoteChar() const { return "`"; }
  bool PSIsSQLBased() const { return true; }
  bool PSIsSQLSupported() const { return true; }
  // The cursor session's InTransaction; False without a cursor.
  bool PSInTransaction() const;
  // Flag 10, then the database's StartTransaction; the flag is cleared again
  // when starting fails.
  void PSStartTransaction();
  // Commit (flushing buffers) or Rollback; flag 10 cleared on every way out.
  void PSEndTransaction(bool Commit);
  // Close and Open again when active.
  void PSReset();
  // False without OnUpdateRecord; else whether it answers uaApplied.
  bool PSUpdateRecord(db::TUpdateKind UpdateKind, db::TDataSet& Delta);

  // ===== Fields, filters, Locate, Lookup, BLOB streams, record copy =====
  // (declared in one block by their own change; defined in
  // VEXDataSetFields.cpp)
  // ---- field data (native forms: VEXDataSetFields.h)
  // The field's native bytes in the buffer of the current state: False when
  // inactive, without such a buffer, or for a null field (a calculated
  // wide-text field whose cell is gone reads as null). 10050 without a cursor.
  bool GetFieldData(db::TField* Field, void* Buffer) override;
  using db::TDataSet::GetFieldData;
  // 10007 "Dataset not in edit or insert mode" outside dsEdit, dsInsert,
  // dsSetKey, dsCalcFields, dsFilter, dsNewValue and dsInternalCalc; 20019
  // "Field %s is not in the current index" in dsSetKey; 10051 without a
  // cursor or buffer. Sends deFieldChange except in dsCalcFields, dsFilter
  // and dsNewValue.
  void SetFieldData(db::TField* Field, const void* Buffer) override;
  using db::TDataSet::SetFieldData;
  // ftDate, ftTime, ftTimeStamp: DateTimeDataConvert; the others the
  // framework's.
  void DataConvert(db::TField* Field, const void* Source, void* Dest, bool ToNative) override;

  // ---- engine values (the SQL engine's access)
  // Non-BLOB fields from the cursor; a BLOB field's value holds its own copy
  // of the data (null when empty). 10315 without a cursor or buffer.
  void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess);
  // A non-null value for a BLOB field (FieldNo counts Fields) goes through a
  // write stream, DataSize bytes; 10316 without a cursor or buffer.
  void SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess);
  // 10500 without a cursor, 10503 without DestDataset, 10504 when it has no
  // cursor.
  void CopyFieldValue(int32_t SrcFieldNo, bool UseDirectFieldAccess, int32_t DestFieldNo,
                      TVEXDataSet* DestDataset);

  // ---- BLOB streams (VEXBLOBStream.h)
  // 10107 "Dataset is in read only mode" for a write mode on a ReadOnly
  // dataset. A stream that got no engine stream refreshes the dataset once
  // and is returned all the same.
  std::unique_ptr<rtl::TStream> CreateBlobStream(db::TField* Field,
                                                 db::TBlobStreamMode Mode) override;
  // The engine stream of Field for the active record, or nullptr (table kept
  // locked, record gone). 10108 without a cursor; 10111 "Dataset not in edit
  // or insert mode" for a write mode.
  TVEXStream* OpenEngineBLOBStream(db::TField* Field, db::TBlobStreamMode Mode);
  // The cursor closes the field's engine streams. 10108 without a cursor.
  void CloseBlob(db::TField* Field) override;

  // ---- searching
  bool Locate(const std::string& KeyFields, const rtl::Variant& KeyValues,
              db::TLocateOptions Options) override;
  // Null, the position unchanged, when nothing matches.
  rtl::Variant Lookup(const std::string& KeyFields, const rtl::Variant& KeyValues,
                      const std::string& ResultFields) override;
  // The cursor on the first match, read into the framework's scratch buffer;
  // the dataset's buffers stay. 10271 "Cannot perform LOCATE on a closed
  // dataset".
  bool LocateRecord(const std::string& KeyFields, const rtl::Variant& KeyValues,
                    db::TLocateOptions Options);

  // ---- filters (the framework's Filter, FilterOptions, Filtered, OnFilterRecord)
  void SetFiltered(bool Value) override;
  // Applies at once to an open filtered dataset.
  void SetOnFilterRecord(const db::TFilterRecordEvent& Value) override;

  // ---- SQL engine support
  // 10300 without a cursor.
  void SetSQLFilter(TVEXBaseExpression* FilterExpr, TVEXAO* ParentQueryAO,
                    TVEXCursor* ParentCursor);
  // Shows only the listed fields under their aliases (clashes get "_1",
  // "_2", ...) by closing and opening on the same cursor; when that open
  // fails, the dataset opens again without the projection and the error
  // passes on. The cursor has exactly one owner on every way out. 10320
  // without a cursor; the cursor's 10321 to 10323.
  void ApplyProjection(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AliasList);

  // The TableName a table component gives CopyTableRecords; nothing for
  // other datasets, whose messages say "unknown".
  virtual std::optional<std::string> TableComponentName() const { return std::nullopt; }

 protected:
  friend class TVEXBLOBStream;
  // 10039 for a nil buffer, 10040 without a cursor; frees the buffer's
  // wide-text cells, then zeroes the calculated-field area.
  void ClearCalcFields(db::TRecordBuffer Buffer) override;
  // Frees the wide-text cells a buffer's calculated fields hold; call before
  // the buffer itself is freed. Never raises.
  void ReleaseCalcFieldCells(db::TRecordBuffer Buffer) noexcept;
  // FindFirst/Next/Prior/Last: an unfiltered dataset searches with its
  // filter text switched on for the search alone. 10268 without a cursor.
  bool FindRecord(bool Restart, bool GoForward) override;
  // When active: 10266 without a cursor; an open filtered dataset applies
  // the new text and options at once.
  void SetFilterData(const std::string& Text, db::TFilterOptions Options) override;
  // Asks the filter event again for every record.
  void InternalRefresh() override;

 private:
  uint8_t* CalcFieldSlot(db::TRecordBuffer Buffer, const db::TField& Field) const;
  // The field bound to definition FieldNo (1-based), or nullptr.
  db::TField* FieldOfNumber(int32_t FieldNo) const;

 public:
  // ===== end of the fields block =====

 protected:
  friend class TVEXSession;

  // ---- introduced virtual operations
  // nullptr here; the table and query components make their cursors.
  virtual TVEXCursor* CreateHandle();
  // Frees the dataset's own cursor (design note 5); FHandle and
  // FExternalHandle are nullptr afterwards.
  virtual void DestroyHandle();
  // Called at the end of InternalOpen; nothing here.
  virtual void CursorOpened() {}

  // ---- record-buffer contract (design note 1)
  db::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(db::TRecordBuffer& Buffer) override;
  void InternalInitRecord(db::TRecordBuffer Buffer) override;
  void InitRecord(db::TRecordBuffer Buffer) override;
  db::TGetResult GetRecord(db::TRecordBuffer Buffer, db::TGetMode GetMode, bool DoCheck) override;
  void GetBookmarkData(db::TRecordBuffer Buffer, uint8_t* Data) override;
  void SetBookmarkData(db::TRecordBuffer Buffer, const uint8_t* Data) override;
  db::TBookmarkFlag GetBookmarkFlag(db::TRecordBuffer Buffer) override;
  void SetBookmarkFlag(db::TRecordBuffer Buffer, db::TBookmarkFlag Value) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const uint8_t* Bookmark) override;
  void InternalSetToRecord(db::TRecordBuffer Buffer) override;
  int32_t GetRecordSize() override;
  int32_t GetRecordCount() override;
  int32_t GetRecNo() override;
  bool GetCanModify() override;
  bool IsCursorOpen() override { return FHandle != nullptr; }
  void InternalHandleException() override;

  // ---- opening and closing
  void OpenCursor(bool InfoQuery) override;
  void CloseCursor() override;
  void InternalInitFieldDefs() override;
  void InternalOpen() override;
  void InternalClose() override;

  // ---- editing (design notes 4 and 6)
  void InternalInsert() override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalAddRecord(db::TRecordBuffer Buffer, bool Append) override;

  // ---- buffers of the current state
  // dsBrowse: the active buffer (nullptr when empty); dsEdit, dsInsert: the
  // active buffer; dsSetKey: FKeyBuffer; dsCalcFields: the framework's
  // calculated-field buffer; dsFilter: FFilterBuffer; dsOldValue: the edit
  // copy; any other state nullptr.
  db::TRecordBuffer GetActiveRecordBuffer();

  // ---- key buffers and index information (used by the table component)
  static constexpr int32_t kKeyBufferCount = 6;
  // Entries of FKeyBuffers that hold the current range's start and end.
  static constexpr int32_t kRangeStartKey = 3;
  static constexpr int32_t kRangeEndKey = 4;
  // The cursor's InternalInitKeyBuffer on Buffer; returns Buffer. 10280.
  db::TRecordBuffer InitKeyBuffer(db::TRecordBuffer Buffer);
  // Allocates and initialises the six key buffers; none is left on a
  // failure. 10281.
  void AllocKeyBuffers();
  void FreeKeyBuffers() noexcept;
  // The selected index's field count, field map and key size. 10325 "Cannot
  // find index %s".
  void GetIndexInfo();
  void SwitchToIndex(const std::string& IndexName);
  // Whether a range was set (and is now forgotten). 10287.
  bool ResetCursorRange();
  // 10381 without a cursor.
  bool IsIndexSelected() const;
  // Attaches a database component that sits in the default session to the
  // dataset's own named session before the first flag opens it.
  void AttachDatabaseToSession();
  // ---- filters (the fields block changes filters through these)
  // The cursor's filter from Filter and FilterOptions (an empty text removes
  // it), and the record filter when OnFilterRecord is assigned. 10269.
  void ActivateFilters();
  // 10270.
  void DeactivateFilters();
  // True without Filtered and OnFilterRecord; else the handler's answer for
  // Buffer, run in state dsFilter (an exception in it is shown, not raised).
  bool InternalFilterRecord(db::TRecordBuffer Buffer);

  // Frees the edit copy, pointing the cursor away from it first.
  void FreeEditRecordBuffer() noexcept;

  // ---- state
  std::string FCurrentVersion;
  TVEXCursor* FHandle = nullptr;
  std::string FSessionName;
  db::TRecordBuffer FFilterBuffer = nullptr;
  int32_t FIndexFieldCount = 0;
  std::vector<uint16_t> FIndexFieldMap;
  int32_t FKeySize = 0;
  uint16_t FDBFlags = 0;
  TVEXDatabase* FDatabase = nullptr;
  std::string FDatabaseName;
  bool FInMemory = false;
  bool FReadOnly = false;
  bool FStoreDefs = false;
  db::TRecordBuffer FEditRecordBuffer = nullptr;
  std::unique_ptr<TVEXConstraintDefs> FVEXConstraintDefs;
  TVEXCursor* FExternalHandle = nullptr;
  std::unique_ptr<TVEXFieldDefs> FVEXFieldDefs;
  std::unique_ptr<TVEXIndexDefs> FVEXIndexDefs;
  std::unique_ptr<TVEXAdvIndexDefs> FAdvIndexDefs;
  std::unique_ptr<TVEXAdvFieldDefs> FAdvFieldDefs;
  std::unique_ptr<TVEXAdvIndexDefs> FRestructureIndexDefs;
  std::unique_ptr<TVEXAdvFieldDefs> FRestructureFieldDefs;
  std::array<db::TRecordBuffer, kKeyBufferCount> FKeyBuffers{};
  db::TRecordBuffer FKeyBuffer = nullptr;
  bool FIsRefreshing = false;
  bool FIgnoreDesignMode = false;
};

}  // namespace vex
