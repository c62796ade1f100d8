// The table component's structure work: how a table's cursor is opened from
// the component's settings, and how a new table's definitions are prepared,
// checked and turned into the engine's definitions before the cursor creates
// the table.
//
// Design notes
//   1. Every structure operation runs on a cursor of its own, made by
//      NewTableCursor and freed on every way out; the table component's open
//      cursor is never used for one, so an operation leaves an open table as
//      it was.
//   2. A structure operation is refused inside a transaction of the engine
//      session (its own code each, see CheckNotInTransaction), because the
//      storage engine cannot roll a changed table structure back with the
//      transaction's records. Emptying a table is record work and is allowed.
//   3. A default value reaches the SQL layer only through the default-value
//      parser the SQL layer installs (storage/VEXSeams.h); without one no
//      default is an expression and every default is a constant of its field's
//      type.
//   4. Index columns of a new table always carry an indexed size: a column of
//      a type without size, or without a size given, takes 20 (the engine's
//      default), so a stored index never has a column of size 0.
//
// Threads: used on the thread that owns the component; the storage engine
// takes the database lock for each cursor operation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/VEXAdvDefs.h"
#include "components/VEXDataSet.h"
#include "components/VEXDatabase.h"
#include "components/VEXLocalCursor.h"
#include "components/dialogs/VEXDlgWait.h"

namespace db {
class TFieldDefs;
class TIndexDefs;
}  // namespace db

namespace rtl {
class TStream;
}

namespace vex {

class TVEXBaseSession;

// The settings with which a table component opens a cursor on its table.
struct TVEXTableCursorOptions {
  std::string TableName;
  bool Exclusive = false;
  bool ReadOnly = false;
  bool InMemory = false;
  bool Temporary = false;
  bool DisableTempFiles = false;
  bool DesignMode = false;
  bool IsRepairing = false;
};

// A local cursor on Session with the options set; no table is opened yet.
std::unique_ptr<TVEXLocalCursor> NewTableCursor(TVEXBaseSession& Session,
                                                const TVEXTableCursorOptions& Options);

// 20182 .. 20178 "Cannot perform '%s' operation on a database in transaction"
// with Operation when Session is in a transaction (design note 2).
void CheckNotInTransaction(const TVEXBaseSession& Session, int32_t ErrorCode,
                           std::string_view Operation);

// Normalises each definition for its base type: a default with empty text
// becomes null, any other default is cast to the base type unless it is a
// default-value expression (design note 3); bounds are cast, an empty text
// bound becomes null; the size is kept only for text and bytes types; a GUID
// field gets size 38. A cast that cannot be done raises the value's error
// (30051, 30052).
void PrepareAdvFieldDefs(TVEXAdvFieldDefs& AdvFieldDefs);

// 30499 "Missing field name. FieldNo=%d, table '%s'" for a field without name;
// 30453 "Cannot create table '%s' with field: %s %s(%d)" for a text, GUID or
// bytes field of size 0 or less; 20257 "Invalid BlobCompressionMode (must be
// in 1..9 range) for blob field '%s'. Cannot create table '%s'" for a
// compressed BLOB field whose mode is 0 or above 9. Changes nothing.
void CheckAdvFieldDefs(const TVEXAdvFieldDefs& AdvFieldDefs, std::string_view TableName);

// Design note 4: every column keeps its indexed size only when it is above 0
// and the column's field is of a sized type (or not among AdvFieldDefs);
// the others get 20. FieldDefs (the platform's form of the same fields)
// resolve the column names; a name it does not hold raises 20050.
void NormalizeIndexColumnSizes(TVEXAdvIndexDefs& AdvIndexDefs, const TVEXAdvFieldDefs& AdvFieldDefs,
                               const db::TFieldDefs& FieldDefs);

// The definition steps of creating a table and the creation itself, on a
// cursor made for it (exclusive, writable):
//   - without advanced field definitions they are built from FieldDefs (GUID
//     fields sized 38 first) and checked; with them they are prepared,
//     checked and FieldDefs rebuilt from them;
//   - without advanced index definitions they are built from IndexDefs,
//     otherwise IndexDefs is rebuilt from them; then their column sizes are
//     normalised;
//   - the engine definitions are made (a temporary table gets no NOT NULL or
//     CHECK constraints), the transaction check (20182) runs and the cursor
//     creates the table.
// The definitions keep what the steps made of them also when the creation
// fails afterwards.
void CreateTableFromDefs(TVEXBaseSession& Session, const TVEXTableCursorOptions& Options,
                         TVEXAdvFieldDefs& AdvFieldDefs, TVEXAdvIndexDefs& AdvIndexDefs,
                         db::TFieldDefs& FieldDefs, db::TIndexDefs& IndexDefs);

// ---- long operations ----------------------------------------------------------

// The Before and After events of the table's long operations; DataSet is the
// table, for a batch move its source.
using TVEXDataSetNotifyEvent = std::function<void(db::TDataSet& DataSet)>;

// How BatchMove treats a source record (see TVEXTable::BatchMove).
enum TVEXBatchMoveType : uint8_t {
  bmtAppend,
  bmtAppendUpdate,
  bmtCopy,
  bmtDelete,
  bmtUpdate,
  bmtSynchronize
};

// What ExportToSQL writes. Copying copies all five settings.
struct TVEXExportToSqlOptions {
  // DROP TABLE (with AddDropTable) and CREATE TABLE.
  bool Structure = true;
  bool AddDropTable = true;
  // The BLOB storage settings of BLOB columns.
  bool BlobSettings = false;
  // One INSERT per record.
  bool Data = false;
  bool FieldNamesInInserts = false;
};

// Name as the SQL dialect reads it: unchanged, or in single quotes (inner
// quotes doubled) when it holds a blank or "-" or is a reserved word.
std::string QuoteSQLName(const std::string& Name);

// ---- the table component -----------------------------------------------------

// The dataset of one table of a database: the table's name and the choice of
// index, its cursor, its definitions read without opening it, the structure
// operations (through NewTableCursor, design note 1), key search and ranges
// in the six key buffers of the dataset, and the link to a master dataset.
//
// Key buffers (the dataset's, by index): 0 the lookup key, 1 and 2 the range
// start and end being edited, 3 and 4 the range in force, 5 the saved copy of
// the buffer being edited. At the cursor's KeyOffset each holds a header: a
// modified flag (1 byte), the exclusive flag (1 byte) and the number of key
// fields given (int32, 0 = all fields of the index).
//
// Searches, range changes and resynchronisations hold the table's shared
// lock when they get it within 900 tries 100 ms apart and go on without it
// otherwise; a lock not obtained never fails a search.
class TVEXTable : public TVEXDataSet {
 public:
  explicit TVEXTable(rtl::TComponent* AOwner);
  ~TVEXTable() override;

  // ---- properties
  const std::string& TableName() const { return FTableName; }
  std::optional<std::string> TableComponentName() const override { return FTableName; }
  // While loading only stored; otherwise needs a closed table when it changes.
  void SetTableName(const std::string& Value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value) { FExclusive = Value; }
  bool Temporary() const { return FTemporary; }
  // Needs a closed table; True also makes DatabaseName "TEMP".
  void SetTemporary(bool Value);
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool Value) { FDisableTempFiles = Value; }
  // Empty when the index was chosen by field names.
  std::string IndexName() const;
  void SetIndexName(const std::string& Value);
  // The field list when the index was chosen by it, else empty.
  std::string IndexFieldNames() const;
  void SetIndexFieldNames(const std::string& Value);
  // False for an empty DatabaseName and for any failure.
  bool Exists();
  int32_t IndexFieldCount() const { return FIndexFieldCount; }

  // ---- index fields
  // "Field index out of range"; "Cannot access index field '%s'".
  db::TField* GetIndexField(int32_t Index);
  void SetIndexField(int32_t Index, db::TField* Value);

  // ---- structure operations (design notes 1 and 2)
  void CreateTable();
  void DeleteTable();
  void EmptyTable();
  void RenameTable(const std::string& NewTableName);
  void RenameField(const std::string& FieldName, const std::string& NewFieldName);
  void AddIndex(const std::string& Name, const std::string& Fields, db::TIndexOptions Options,
                const std::string& DescFields = "", const std::string& CaseInsFields = "");
  void DeleteIndex(const std::string& Name);
  void DeleteAllIndexes();
  void RepairTable();
  std::string FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                const rtl::TStringList& AscDescList,
                                const rtl::TStringList& CaseSensitivityList, bool& IsCreated);
  bool IndexExists(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                   const rtl::TStringList& CaseSensitivityList);
  void ApplyDistinct(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                     const rtl::TStringList& CaseSensitivityList);
  void ApplyDistinct(TVEXDataSet& ds);
  bool IsRecordLocked();
  int64_t LastAutoincValue(int32_t FieldIndex);
  int64_t LastAutoincValue(const std::string& FieldName);

  // ---- long operations (VEXTableTransfer.cpp)
  // Each reports through its Before, progress and After events or, without
  // them, a wait form (not in the database's SilentMode, not for a temporary
  // table); the After handler runs on every way out once the Before one has.
  //
  // Replaces this closed table's structure by Source's (a TVEXDataSet's
  // advanced definitions without its temporary indexes; else FieldDefs and
  // the field-list ones of IndexDefs, an unnamed first index becoming
  // "idxPrimaryKey"), creates it and copies Source's records in. True
  // exactly when nothing was logged; the table is left closed.
  bool ImportTable(db::TDataSet& SourceTable, std::string& Log, const db::TIndexDefs* aIndexDefs);
  bool ImportTable(db::TDataSet& SourceTable);
  // Gives DestinationTable this table's field definitions, lets
  // CreateTablePointer create it, then copies every record into it. True
  // exactly when nothing was logged; this table's open state and position
  // come back.
  bool ExportTable(db::TDataSet& DestinationTable, const std::function<void()>& CreateTablePointer,
                   std::string& Log);
  bool ExportTable(db::TDataSet& DestinationTable, const std::function<void()>& CreateTablePointer);
  // Copies this table with its records (and with CopyIndexes its indexes)
  // into the table NewTableName of this database (empty file name), of the
  // in-memory database ("MEMORY") or of the database file named. 30447 for a
  // copy onto itself, 30448 (10515 in "MEMORY") onto an existing table
  // without OverwriteExistingTable, 30450 when the copy cannot be created;
  // with IgnoreErrors each goes to Log and the result is False. Progress runs
  // from MinProgress to MaxProgress; Continue False from the progress event
  // stops it. This table's open state and position come back.
  bool CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                 const std::string& DestDatabaseFileName, const std::string& DestDatabasePassword,
                 bool IgnoreErrors, bool OverwriteExistingTable, bool CopyIndexes,
                 int32_t MinProgress, int32_t MaxProgress);
  bool CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName,
                 const std::string& DestDatabasePassword);
  // Moves the records of SourceTableOrQuery into this table by MoveType,
  // matching records on DstTableIndexNameToIdentifyEqualRecords (else the
  // primary index, else an index made for the fields both have). bmtCopy
  // replaces this table by one of the source's structure. Both datasets are
  // left open; this table's index choice and master source come back on
  // every way out, the positions on normal completion.
  void BatchMove(TVEXDataSet& SourceTableOrQuery, TVEXBatchMoveType MoveType,
                 const std::string& DstTableIndexNameToIdentifyEqualRecords);
  // Rebuilds this closed table with RestructureFieldDefs and
  // RestructureIndexDefs, keeping the data of fields by their object ids (a
  // renamed field keeps its values). Inside a transaction 20180 before any
  // change. A failed or stopped copy leaves the old table under its name and
  // answers False.
  bool RestructureTable(std::string& Log);
  bool RestructureTable();
  // The table as an SQL script by ExportToSqlOptions; the table must be
  // closed. The stream and the file get the 8-bit text.
  void ExportToSQL(rtl::TStream& Stream);
  void ExportToSQL(const std::string& FileName);
  std::string ExportToSQL();
  TVEXExportToSqlOptions& ExportToSqlOptions() { return FExportToSqlOptions; }

  TVEXDataSetNotifyEvent BeforeCopy;
  TVEXProgressEvent OnCopyProgress;
  TVEXDataSetNotifyEvent AfterCopy;
  TVEXDataSetNotifyEvent BeforeImport;
  TVEXProgressEvent OnImportProgress;
  TVEXDataSetNotifyEvent AfterImport;
  TVEXDataSetNotifyEvent BeforeExport;
  TVEXProgressEvent OnExportProgress;
  TVEXDataSetNotifyEvent AfterExport;
  TVEXDataSetNotifyEvent BeforeRestructure;
  TVEXProgressEvent OnRestructureProgress;
  TVEXDataSetNotifyEvent AfterRestructure;
  TVEXDataSetNotifyEvent BeforeBatchMove;
  TVEXProgressEvent OnBatchMoveProgress;
  TVEXDataSetNotifyEvent AfterBatchMove;

  // ---- key search and ranges
  void SetKey();
  void EditKey();
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  bool FindKey(const std::vector<rtl::Variant>& KeyValues);
  void FindNearest(const std::vector<rtl::Variant>& KeyValues);
  bool GotoKey();
  void GotoNearest();
  void SetRange(const std::vector<rtl::Variant>& StartValues,
                const std::vector<rtl::Variant>& EndValues);
  void ApplyRange();
  void CancelRange();
  // Need the key-editing state ("Dataset not in edit or insert mode").
  bool KeyExclusive() const;
  void SetKeyExclusive(bool Value);
  int32_t KeyFieldCount() const;
  void SetKeyFieldCount(int32_t Value);
  void Post() override;
  void Cancel() override;

  // ---- master-detail
  db::TDataSource* MasterSource() const;
  // "Circular datalinks are not allowed" for a source that shows this table.
  void SetMasterSource(db::TDataSource* Value);
  std::string MasterFields() const;
  void SetMasterFields(const std::string& Value);
  db::TDataSource* GetDataSource() override;

  // ---- provider support
  std::string PSGetTableName() const { return FTableName; }
  void PSSetCommandText(const std::string& Text);
  std::string PSGetKeyFields();
  // A copy of the index definition of the default order, or nullptr.
  std::unique_ptr<db::TIndexDef> PSGetDefaultOrder();
  void PSSetParams(const db::TParams& Params);

  using db::TDataSet::DataEvent;
  void DataEvent(db::TDataEvent Event, intptr_t Info) override;

 protected:
  TVEXCursor* CreateHandle() override;
  void CursorOpened() override;
  void InitFieldDefs() override;
  void UpdateIndexDefs() override;
  void DefChanged(void* Sender) override;
  void DoOnNewRecord() override;

 private:
  TVEXTableCursorOptions CursorOptions() const;
  // The cursor CreateHandle and the definition readers use.
  std::unique_ptr<TVEXLocalCursor> OpenLocalCursor();
  // The engine session of the attached database; 20151 when none.
  TVEXBaseSession& EngineSession();
  void CheckTableName() const;
  // An index change works on the open cursor, which must be in browse mode,
  // else on a cursor opened for the call and kept in Own.
  TVEXCursor* BrowsingOrOwnCursor(std::unique_ptr<TVEXLocalCursor>& Own);
  // Every data field without a definition of its name gets one.
  void AddFieldDefsOfFields();
  std::string ResolveIndexName(const std::string& Text, bool ByFields);
  void SetIndex(const std::string& Text, bool ByFields);
  // The database flag set for the caller's scope.
  class TDBFlagScope;

  // Keys (VEXTableKeys.cpp).
  uint8_t* KeyHeader(db::TRecordBuffer Buffer) const;
  void StartKeyEdit(int32_t KeyIndex, bool Clear);
  void EndKeyEdit(bool Commit);
  void SetKeyValues(int32_t KeyIndex, const std::vector<rtl::Variant>& Values);
  void SetKeyFields(int32_t KeyIndex, const std::vector<db::TField*>& Fields);
  bool SetCursorRange();
  // Runs Work under the table's shared lock when it can be had.
  void UnderSharedLock(const std::function<void()>& Work);
  void ApplyMasterRange();
  void MasterChanged();
  void MasterDisabled();
  void WriteBLOBDefaults();

  std::string FTableName;
  bool FExclusive = false;
  bool FTemporary = false;
  std::string FIndexName;
  bool FFieldsIndex = false;
  std::unique_ptr<db::TMasterDataLink> FMasterLink;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  bool FIndexDefsUpdated = false;

  // Long operations (VEXTableTransfer.cpp).
  enum class TVEXTransferKind { Copy, Import, Export, Restructure, BatchMove };
  void InternalBefore(TVEXTransferKind Kind, db::TDataSet& Sender);
  void InternalProgress(TVEXTransferKind Kind, rtl::TComponent& Sender, int32_t PercentDone,
                        bool& Continue);
  void InternalAfter(TVEXTransferKind Kind, db::TDataSet& Sender);
  // The After handler of a path that may be failing already.
  void InternalAfterQuietly(TVEXTransferKind Kind, db::TDataSet& Sender) noexcept;
  TVEXProgressEvent ProgressHandler(TVEXTransferKind Kind);
  bool ShowsWaitForm() const;
  // The script of ExportToSQL over this table, opened for it.
  std::string SQLScript();
  std::unique_ptr<TfrmWait> frmWait;
  TVEXExportToSqlOptions FExportToSqlOptions;
};

}  // namespace vex
