// The dataset: a cursor over records with a ring of record buffers, fields that
// read and write the active buffer, states, editing with error events, data
// sources and links.
//
// How a dataset is built. The framework owns the ring of record buffers and the
// state machine; a descendant (the engine's dataset, or the test dataset)
// implements the record-buffer contract below and never touches the ring:
//   AllocRecordBuffer / FreeRecordBuffer / InternalInitRecord
//   GetRecord (gmCurrent / gmNext / gmPrior -> grOK / grBOF / grEOF / grError)
//   GetBookmarkData / SetBookmarkData / GetBookmarkFlag / SetBookmarkFlag
//   InternalFirst / InternalLast / InternalGotoBookmark / InternalSetToRecord
//   InternalOpen / InternalClose / InternalInitFieldDefs / IsCursorOpen
//   InternalInsert / InternalEdit / InternalPost / InternalCancel /
//   InternalDelete / InternalAddRecord / InternalRefresh
//   GetFieldData / SetFieldData (native forms, see Fields.h)
// and optionally GetRecordCount, GetRecNo, SetRecNo, CreateBlobStream, Locate,
// Lookup, FindRecord, the filter setters, ClearCalcFields and DataConvert.
//
// The ring. Buffers 0 .. RecordCount-1 hold consecutive records of the cursor's
// order around the active one (ActiveRecord); the buffer after them is the
// scratch buffer (TempBuffer) into which GetRecord reads before a buffer is
// rotated into place. CurrentRecord names the buffer the descendant's cursor
// stands on (-1 when unknown); UpdateCursorPos puts the cursor back on the
// active record before any cursor operation.
//
// Editing. Insert, Append, Edit, Post and Delete run their Internal operation
// through
// CheckOperation: the cursor is positioned on the active record, the operation
// runs, and an EDatabaseError goes to OnEditError (insert and edit) /
// OnPostError / OnDeleteError, whose answer daFail re-raises it, daAbort ends silently
// (EAbort) and daRetry runs the operation again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/DBCommon.h"
#include "db/FieldDefs.h"
#include "db/Fields.h"
#include "rtl/Component.h"
#include "rtl/Stream.h"
#include "rtl/Variant.h"

namespace db {

class TDataSet;
class TDataSource;
class TDataLink;

using TDataSetNotifyEvent = std::function<void(TDataSet& DataSet)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet& DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet& DataSet, bool& Accept)>;

// The base of the BLOB streams a dataset hands out for its BLOB fields.
class TBlobStream : public rtl::TStream {
 public:
  TBlobStream(TBlobField* Field, TBlobStreamMode Mode) : FField(Field), FMode(Mode) {}
  TBlobField* Field() const { return FField; }
  TBlobStreamMode Mode() const { return FMode; }

 private:
  TBlobField* FField;
  TBlobStreamMode FMode;
};

class TDataSet : public rtl::TComponent {
 public:
  explicit TDataSet(rtl::TComponent* AOwner);
  // Closes the dataset and frees its fields. A descendant that holds a cursor
  // must close in its own destructor (Destroying(); Close()) while its
  // overrides still exist.
  ~TDataSet() override;

  // --- opening and closing ---
  bool Active() const { return FState != dsInactive; }
  // While the component is being loaded the value is kept and applied by Loaded.
  virtual void SetActive(bool Value);
  void Loaded() override;
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return FState; }
  bool Modified() const { return FModified; }

  // --- navigation ---
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int32_t MoveBy(int32_t Distance);
  bool Bof() const { return FBOF; }
  bool Eof() const { return FEOF; }
  bool IsEmpty() const { return FActiveRecord >= FRecordCount; }
  void Refresh();
  void Resync(TResyncMode Mode);
  int32_t RecordCount() { return GetRecordCount(); }
  int32_t RecNo() { return GetRecNo(); }
  // Moves to the record of that number in the dataset's order; nothing here.
  virtual void SetRecNo(int32_t) {}

  // --- editing ---
  void Insert();
  void Append();
  void Edit();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void CheckBrowseMode();
  // Asks the data links to store pending control edits (deUpdateRecord).
  void UpdateRecord();
  bool CanModify() { return GetCanModify(); }

  // --- bookmarks ---
  int32_t BookmarkSize() const { return FBookmarkSize; }
  // Empty when there is no current record.
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& Bookmark);
  void FreeBookmark(TBookmark& Bookmark) { Bookmark.clear(); }
  bool BookmarkAvailable();
  virtual bool BookmarkValid(const TBookmark& Bookmark);
  // -1, 0, 1 in the cursor's order; the base compares nothing and answers 0.
  virtual int32_t CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2);

  // --- fields ---
  TFields& Fields() { return FFields; }
  int32_t FieldCount() const { return FFields.Count(); }
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  TIndexDefs& IndexDefs() { return FIndexDefs; }
  TField* FindField(std::string_view FieldName) const { return FFields.FindField(FieldName); }
  TField* FieldByName(std::string_view FieldName) const;
  // One name: that field's value; several separated by ";": a variant array
  // with one value per name.
  rtl::Variant FieldValues(const std::string& FieldNames);
  void SetFieldValues(const std::string& FieldNames, const rtl::Variant& Value);
  // The fields of a ";"-separated list; "Field '%s' not found" for a missing one.
  void GetFieldList(std::vector<TField*>& List, std::string_view FieldNames) const;
  bool DefaultFields() const { return FDefaultFields; }
  int32_t CalcFieldsSize() const { return FCalcFieldsSize; }
  bool AutoCalcFields() const { return FAutoCalcFields; }
  void SetAutoCalcFields(bool Value) { FAutoCalcFields = Value; }

  // --- field data (called by the fields) ---
  // Native bytes of the field in the buffer of the current state; False for null.
  virtual bool GetFieldData(TField* Field, void* Buffer) = 0;
  // With NativeFormat False the native bytes are converted by DataConvert.
  bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat);
  virtual void SetFieldData(TField* Field, const void* Buffer) = 0;
  void SetFieldData(TField* Field, const void* Buffer, bool NativeFormat);
  // Between a field's native form and the value form of its class: date, time
  // and date-time to and from a date-time double; time stamps as records.
  virtual void DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative);
  virtual std::unique_ptr<rtl::TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode);
  // Tells the dataset that a BLOB field's stream is done with; nothing here.
  // Post, Cancel, Delete and closing call it for every BLOB field written
  // since the record was fetched.
  virtual void CloseBlob(TField*) {}
  // The current record into Buffer; False when there is none (the base has none).
  virtual bool GetCurrentRecord(TRecordBuffer) { return false; }
  // Whether the field belongs to the selected index (key editing); False here.
  virtual bool GetIsIndexField(TField*) { return false; }
  // Bytes of a record's field area; 0 when the dataset does not say.
  int32_t RecordSize() { return GetRecordSize(); }
  // The fields by which a detail dataset follows its master; none here.
  virtual void GetDetailLinkFields(std::vector<TField*>& MasterFields,
                                   std::vector<TField*>& DetailFields) {
    MasterFields.clear();
    DetailFields.clear();
  }

  // --- searching ---
  virtual bool Locate(const std::string& KeyFields, const rtl::Variant& KeyValues,
                      TLocateOptions Options);
  virtual rtl::Variant Lookup(const std::string& KeyFields, const rtl::Variant& KeyValues,
                              const std::string& ResultFields);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  bool Found() const { return FFound; }

  // --- filters ---
  const std::string& Filter() const { return FFilterText; }
  void SetFilter(const std::string& Value) { SetFilterText(Value); }
  TFilterOptions FilterOptions() const { return FFilterOptions; }
  virtual void SetFilterOptions(TFilterOptions Value);
  bool Filtered() const { return FFiltered; }
  virtual void SetFiltered(bool Value);
  const TFilterRecordEvent& OnFilterRecord() const { return FOnFilterRecord; }
  virtual void SetOnFilterRecord(const TFilterRecordEvent& Value);
  virtual void SetFilterText(const std::string& Value);

  // --- controls and links ---
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount != 0; }
  // Info: the field for deFieldChange, the scroll distance for deDataSetScroll.
  // (A descendant that overrides it brings the field form back with a using.)
  virtual void DataEvent(TDataEvent Event, intptr_t Info);
  void DataEvent(TDataEvent Event, TField& Field) {
    DataEvent(Event, reinterpret_cast<intptr_t>(&Field));
  }
  // The master data source of a detail dataset; nil here.
  virtual TDataSource* GetDataSource() { return nullptr; }
  // Whether DataSource, or a master above it, shows this dataset.
  bool IsLinkedTo(TDataSource* DataSource);

  // --- checks ---
  void CheckActive() const;
  void CheckInactive() const;

  // --- state of the ring, for links and descendants ---
  int32_t ActiveRecord() const { return FActiveRecord; }
  int32_t BufferCount() const { return FBufferCount; }
  int32_t BufferRecordCount() const { return FRecordCount; }
  TRecordBuffer ActiveBuffer() const {
    return FBuffers.empty() ? nullptr : FBuffers[static_cast<size_t>(FActiveRecord)];
  }

  // --- events ---
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

 protected:
  friend class TField;
  friend class TFieldDefs;
  friend class TIndexDefs;
  friend class TDataSource;
  friend class TDataLink;

  // --- the record-buffer contract ---
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& Buffer) = 0;
  virtual void InternalInitRecord(TRecordBuffer Buffer) = 0;
  // InternalInitRecord, ClearCalcFields, then the inserted flag.
  virtual void InitRecord(TRecordBuffer Buffer);
  virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) = 0;
  virtual void GetBookmarkData(TRecordBuffer Buffer, uint8_t* Data) = 0;
  virtual void SetBookmarkData(TRecordBuffer Buffer, const uint8_t* Data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const uint8_t* Bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer Buffer) = 0;
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalInsert() {}
  virtual void InternalEdit() {}
  // The checks every post goes through: a required data field that is null
  // refuses the record ("Field '%s' must have a value"). A descendant calls it
  // before it stores the record. Autoincrement fields are left to the store,
  // which numbers them when the record is written.
  virtual void InternalPost();
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append) = 0;
  virtual void InternalRefresh() {}
  virtual void InternalHandleException() {}
  virtual int32_t GetRecordSize() { return 0; }
  virtual int32_t GetRecordCount() { return -1; }
  virtual int32_t GetRecNo() { return -1; }
  virtual bool GetCanModify() { return true; }
  virtual bool FindRecord(bool Restart, bool GoForward);
  virtual void ClearCalcFields(TRecordBuffer) {}
  virtual void SetFilterData(const std::string& Text, TFilterOptions Options);
  virtual void InitFieldDefs();
  virtual void UpdateIndexDefs() {}
  virtual void DefChanged(void* Sender);
  virtual void OpenCursor(bool InfoQuery);
  virtual void CloseCursor();
  virtual void DoOnNewRecord();

  // --- helpers for descendants ---
  void SetBookmarkSize(int32_t Value) { FBookmarkSize = Value; }
  void SetFound(bool Value) { FFound = Value; }
  void SetFilteredFlag(bool Value) { FFiltered = Value; }
  void SetFilterRecordHandler(const TFilterRecordEvent& Value) { FOnFilterRecord = Value; }
  void SetDefaultFields(bool Value) { FDefaultFields = Value; }
  void CreateFields();
  void DestroyFields();
  // Binding: gives data fields their definitions' numbers (checking type and
  // size) and calculated and lookup fields their slots in the calculated area.
  void BindFields(bool Binding);
  TDataSetState SetTempState(TDataSetState Value);
  void RestoreState(TDataSetState Value);
  void SetState(TDataSetState Value);
  void SetModified(bool Value) { FModified = Value; }
  void UpdateCursorPos();
  void CursorPosChanged() { FCurrentRecord = -1; }
  TRecordBuffer TempBuffer() const { return FBuffers[static_cast<size_t>(FRecordCount)]; }
  TRecordBuffer CalcBuffer() const { return FCalcBuffer; }
  // Runs the calculated fields of Buffer in dsCalcFields when there are any.
  void GetCalcFields(TRecordBuffer Buffer);
  // Clears the calculated area, fetches lookup values, runs OnCalcFields.
  void CalculateFields(TRecordBuffer Buffer);
  void CheckCanModify();
  void ClearBuffers();

  void DoBeforeScroll();
  void DoAfterScroll();

 private:
  using TDataOperation = void (TDataSet::*)();
  void CheckOperation(TDataOperation Operation, const TDataSetErrorEvent& ErrorEvent);
  // Closes the BLOB fields written since the record was fetched (CloseBlob)
  // and clears their Modified flags.
  void FreeFieldBuffers();
  void DoInternalOpen();
  void OpenCursorComplete(bool Complete);
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int32_t GetNextRecords();
  int32_t GetPriorRecords();
  void MoveBuffer(int32_t CurIndex, int32_t NewIndex);
  void SetCurrentRecord(int32_t Index);
  void SetBufListSize(int32_t Value);
  void SetBufferCount(int32_t Value);
  void UpdateBufferCount();
  void BeginInsertAppend();
  void InsertOperation();
  void EndInsertAppend();
  void UpdateCalcFields();
  bool IsDestroying() const { return ComponentState().Contains(rtl::csDestroying); }
  void Notify(const TDataSetNotifyEvent& Event) {
    if (Event) Event(*this);
  }
  void AddDataSource(TDataSource* Source);
  void RemoveDataSource(TDataSource* Source);

  TFields FFields;
  TFieldDefs FFieldDefs;
  TIndexDefs FIndexDefs;
  std::vector<TDataSource*> FDataSources;
  std::vector<TRecordBuffer> FBuffers;
  int32_t FBufferCount = 0;
  int32_t FRecordCount = 0;
  int32_t FActiveRecord = 0;
  int32_t FCurrentRecord = -1;
  int32_t FBookmarkSize = 0;
  int32_t FCalcFieldsSize = 0;
  int32_t FDisableCount = 0;
  TRecordBuffer FCalcBuffer = nullptr;
  TDataSetState FState = dsInactive;
  TDataSetState FDisableState = dsInactive;
  TDataEvent FEnableEvent = deDataSetChange;
  bool FBOF = true;
  bool FEOF = true;
  bool FModified = false;
  bool FDefaultFields = false;
  bool FAutoCalcFields = true;
  bool FInternalOpenComplete = false;
  bool FFound = false;
  bool FFiltered = false;
  bool FStreamedActive = false;
  std::string FFilterText;
  TFilterOptions FFilterOptions;
  TFilterRecordEvent FOnFilterRecord;
};

// Connects a dataset to its data links and passes every data event on to them.
class TDataSource : public rtl::TComponent {
 public:
  explicit TDataSource(rtl::TComponent* AOwner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return FDataSet; }
  // "Circular datalinks are not allowed" when the dataset already shows this
  // source through its masters.
  void SetDataSet(TDataSet* Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  bool AutoEdit() const { return FAutoEdit; }
  void SetAutoEdit(bool Value) { FAutoEdit = Value; }
  TDataSetState State() const { return FState; }
  // Starts editing when AutoEdit and the dataset browses.
  void Edit();
  bool IsLinkedTo(TDataSet* DataSet);

  std::function<void(TDataSource& Sender)> OnStateChange;
  std::function<void(TDataSource& Sender, TField* Field)> OnDataChange;
  std::function<void(TDataSource& Sender)> OnUpdateData;

  void Notification(rtl::TComponent* AComponent, rtl::TOperation Operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent Event, intptr_t Info);
  void NotifyState();
  void SetState(TDataSetState Value);
  void AddDataLink(TDataLink* Link);
  void RemoveDataLink(TDataLink* Link);

  TDataSet* FDataSet = nullptr;
  std::vector<TDataLink*> FDataLinks;
  TDataSetState FState = dsInactive;
  bool FEnabled = true;
  bool FAutoEdit = true;
};

// Something that follows a data source: a control, a detail dataset. It sees a
// window of BufferCount records of the dataset's ring.
class TDataLink {
 public:
  TDataLink() = default;
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  virtual ~TDataLink();

  TDataSource* DataSource() const { return FDataSource; }
  void SetDataSource(TDataSource* Value);
  TDataSet* DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }
  bool Active() const { return FActive; }
  bool Editing() const { return FEditing; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  int32_t BufferCount() const { return FBufferCount; }
  void SetBufferCount(int32_t Value);
  // The active record's position within the link's window.
  int32_t ActiveRecord() const;
  void SetActiveRecord(int32_t Value);
  // Records in the link's window.
  int32_t RecordCount() const;
  bool Edit();
  int32_t MoveBy(int32_t Distance);
  virtual TDataSet* GetDetailDataSet() { return nullptr; }

 protected:
  friend class TDataSource;
  friend class TDataSet;
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int32_t) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField*) {}
  virtual void UpdateData() {}
  void DataEvent(TDataEvent Event, intptr_t Info);

 private:
  void UpdateState();
  void SetActive(bool Value);
  void SetEditing(bool Value);
  void UpdateRange();

  TDataSource* FDataSource = nullptr;
  int32_t FFirstRecord = 0;
  int32_t FBufferCount = 1;
  bool FActive = false;
  bool FEditing = false;
  bool FReadOnly = false;
  bool FUpdating = false;
};

// A link that belongs to a detail dataset.
class TDetailDataLink : public TDataLink {
 public:
  TDataSet* DetailDataSet() { return GetDetailDataSet(); }
};

// The link of a detail dataset to its master: it tracks the master fields
// named by FieldNames and calls OnMasterChange when the master moves to another
// record or one of those fields changes, OnMasterDisable when the master closes
// or the list is emptied.
class TMasterDataLink : public TDetailDataLink {
 public:
  explicit TMasterDataLink(TDataSet* ADataSet) : FDataSet(ADataSet) {}
  const std::string& FieldNames() const { return FFieldNames; }
  void SetFieldNames(const std::string& Value);
  const std::vector<TField*>& Fields() const { return FFields; }
  TDataSet* GetDetailDataSet() override { return FDataSet; }

  std::function<void(TMasterDataLink& Sender)> OnMasterChange;
  std::function<void(TMasterDataLink& Sender)> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* Field) override;

 private:
  TDataSet* FDataSet;
  std::string FFieldNames;
  std::vector<TField*> FFields;
};

}  // namespace db
