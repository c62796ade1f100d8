#include "components/VEXDataSetFields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "components/VEXBLOBStream.h"
#include "components/VEXDataSet.h"
#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "db/Fields.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXVariant.h"
#include "rtl/Format.h"

namespace vex {

namespace {

template <typename T>
T Load(const void* From) {
  T value;
  std::memcpy(&value, From, sizeof value);
  return value;
}

template <typename T>
void Store(void* To, const T& Value) {
  std::memcpy(To, &Value, sizeof Value);
}

}  // namespace

void DateTimeDataConvert(db::TFieldType DataType, const void* Source, void* Dest, bool ToNative) {
  switch (DataType) {
    case db::ftDate:
      if (ToNative)
        Store(Dest, DateTimeToVEXDate(Load<double>(Source)));
      else
        Store(Dest, VEXDateToDateTime(Load<int32_t>(Source)));
      break;
    case db::ftTime:
      if (ToNative)
        Store(Dest, DateTimeToVEXTime(Load<double>(Source)));
      else
        Store(Dest, VEXTimeToDateTime(Load<int32_t>(Source)));
      break;
    case db::ftDateTime:
      if (ToNative)
        Store(Dest, DateTimeToVEXDateTime(Load<double>(Source)));
      else
        Store(Dest, VEXDateTimeToDateTime(Load<TVEXDateTime>(Source)));
      break;
    case db::ftTimeStamp:
      if (ToNative)
        Store(Dest,
              DateTimeToVEXDateTime(db::SQLTimeStampToDateTime(Load<db::TSQLTimeStamp>(Source))));
      else
        Store(Dest, db::DateTimeToSQLTimeStamp(VEXDateTimeToDateTime(Load<TVEXDateTime>(Source))));
      break;
    default:
      break;
  }
}

void ConvertDateTimeForm(db::TFieldType DataType, void* Buffer, bool ToEngine) {
  double value = 0;
  switch (DataType) {
    case db::ftDate:
      if (ToEngine) {
        value = static_cast<double>(Load<int32_t>(Buffer)) - kVEXDateDelta;
        DateTimeDataConvert(DataType, &value, Buffer, true);
      } else {
        DateTimeDataConvert(DataType, Buffer, &value, false);
        Store(Buffer, static_cast<int32_t>(std::trunc(value)) + kVEXDateDelta);
      }
      break;
    case db::ftTime:
      if (ToEngine) {
        value = static_cast<double>(Load<int32_t>(Buffer)) / kMSecsPerDay;
        DateTimeDataConvert(DataType, &value, Buffer, true);
      } else {
        DateTimeDataConvert(DataType, Buffer, &value, false);
        Store(Buffer, DateTimeToVEXTime(value));
      }
      break;
    case db::ftDateTime:
      if (ToEngine) {
        value = Load<double>(Buffer) / kMSecsPerDay - kVEXDateDelta;
        DateTimeDataConvert(DataType, &value, Buffer, true);
      } else {
        DateTimeDataConvert(DataType, Buffer, &value, false);
        // Whole milliseconds, so that a stored value reads back exactly.
        Store(Buffer, std::nearbyint((value + kVEXDateDelta) * static_cast<double>(kMSecsPerDay)));
      }
      break;
    default:
      break;
  }
}

// ---- TVEXDataSet: field data

namespace {

bool IsDateOrTime(db::TFieldType Type) {
  return Type == db::ftDate || Type == db::ftTime || Type == db::ftDateTime;
}

bool IsCalculatedKind(const db::TField& Field) {
  return Field.FieldKind() == db::fkCalculated || Field.FieldKind() == db::fkLookup;
}

// A calculated wide-text field keeps a cell handle after its flag byte; a
// slot too small for one (a field of no characters) keeps its text inline.
bool KeepsTextCell(const db::TField& Field) {
  return Field.DataType() == db::ftWideString && Field.DataSize() >= 4;
}

uint32_t CellHandleAt(const uint8_t* Slot) { return Load<uint32_t>(Slot + 1); }

bool IsFieldChangeSilent(db::TDataSetState State) {
  return State == db::dsCalcFields || State == db::dsFilter || State == db::dsNewValue;
}

TVEXPageItemID RecordIDAt(const uint8_t* Buffer) {
  TVEXPageItemID id{};
  std::memcpy(&id.PageNo, Buffer, 4);
  std::memcpy(&id.PageItemNo, Buffer + 4, 2);
  return id;
}

}  // namespace

uint8_t* TVEXDataSet::CalcFieldSlot(db::TRecordBuffer Buffer, const db::TField& Field) const {
  return Buffer + FHandle->CalculatedFieldsOffset() + Field.Offset();
}

bool TVEXDataSet::GetFieldData(db::TField* Field, void* Buffer) {
  db::TRecordBuffer record = Active() ? GetActiveRecordBuffer() : nullptr;
  if (record == nullptr) return false;
  if (FHandle == nullptr) RaiseNilPointer(10050);
  if (IsCalculatedKind(*Field)) {
    const uint8_t* slot = CalcFieldSlot(record, *Field);
    if (slot[0] == 0) return false;
    if (!KeepsTextCell(*Field)) {
      if (Buffer != nullptr) std::memcpy(Buffer, slot + 1, static_cast<size_t>(Field->DataSize()));
      return true;
    }
    std::u16string text;
    // A handle whose cell went away reads as null, never as another text.
    if (!GetCalculatedWideText(CellHandleAt(slot), text)) return false;
    if (Buffer != nullptr) {
      text.resize(std::min(text.size(), static_cast<size_t>(Field->Size())));
      std::memcpy(Buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    }
    return true;
  }
  if (!FHandle->GetFieldData(Field->FieldNo() - 1, Buffer, record)) return false;
  if (Buffer != nullptr && IsDateOrTime(Field->DataType()))
    ConvertDateTimeForm(Field->DataType(), Buffer, false);
  return true;
}

void TVEXDataSet::SetFieldData(db::TField* Field, const void* Buffer) {
  switch (State()) {
    case db::dsEdit:
    case db::dsInsert:
    case db::dsSetKey:
    case db::dsCalcFields:
    case db::dsFilter:
    case db::dsNewValue:
    case db::dsInternalCalc:
      break;
    default:
      throw EVEXException(10007, "Dataset not in edit or insert mode");
  }
  if (State() == db::dsSetKey &&
      (Field->FieldNo() < 0 || (FIndexFieldCount > 0 && !GetIsIndexField(Field))))
    throw EVEXException(20019, "Field %s is not in the current index", Field->DisplayName());
  db::TRecordBuffer record = GetActiveRecordBuffer();
  if (FHandle == nullptr || record == nullptr) RaiseNilPointer(10051);
  if (IsCalculatedKind(*Field)) {
    uint8_t* slot = CalcFieldSlot(record, *Field);
    if (Buffer != nullptr && KeepsTextCell(*Field)) {
      const auto* chars = static_cast<const char16_t*>(Buffer);
      std::u16string text(chars, std::char_traits<char16_t>::length(chars));
      text.resize(std::min(text.size(), static_cast<size_t>(Field->Size())));
      uint32_t handle = CellHandleAt(slot);
      if (handle == 0 || !SetCalculatedWideText(handle, text)) {
        handle = NewCalculatedWideTextCell(std::move(text));
        Store(slot + 1, handle);
      }
    } else if (Buffer != nullptr) {
      std::memcpy(slot + 1, Buffer, static_cast<size_t>(Field->DataSize()));
    }
    slot[0] = Buffer != nullptr ? 1 : 0;
  } else {
    Field->Validate(Buffer);
    uint8_t converted[sizeof(double)];
    const void* data = Buffer;
    if (Buffer != nullptr && IsDateOrTime(Field->DataType())) {
      std::memcpy(converted, Buffer, Field->DataType() == db::ftDateTime ? 8 : 4);
      ConvertDateTimeForm(Field->DataType(), converted, true);
      data = converted;
    }
    FHandle->SetFieldData(Field->FieldNo() - 1, data, record);
  }
  if (!IsFieldChangeSilent(State())) DataEvent(db::deFieldChange, *Field);
}

void TVEXDataSet::DataConvert(db::TField* Field, const void* Source, void* Dest, bool ToNative) {
  switch (Field->DataType()) {
    case db::ftDate:
    case db::ftTime:
    case db::ftTimeStamp:
      DateTimeDataConvert(Field->DataType(), Source, Dest, ToNative);
      break;
    default:
      db::TDataSet::DataConvert(Field, Source, Dest, ToNative);
      break;
  }
}

void TVEXDataSet::ClearCalcFields(db::TRecordBuffer Buffer) {
  if (Buffer == nullptr) RaiseNilPointer(10039);
  if (FHandle == nullptr) RaiseNilPointer(10040);
  if (CalcFieldsSize() <= 0) return;
  ReleaseCalcFieldCells(Buffer);
  std::memset(Buffer + FHandle->CalculatedFieldsOffset(), 0, static_cast<size_t>(CalcFieldsSize()));
}

void TVEXDataSet::ReleaseCalcFieldCells(db::TRecordBuffer Buffer) noexcept {
  if (Buffer == nullptr || FHandle == nullptr || CalcFieldsSize() <= 0) return;
  for (db::TField* field : Fields().List()) {
    if (!IsCalculatedKind(*field) || !KeepsTextCell(*field)) continue;
    uint8_t* slot = CalcFieldSlot(Buffer, *field);
    ReleaseCalculatedWideTextCell(CellHandleAt(slot));
    Store(slot + 1, uint32_t{0});
  }
}

// ---- TVEXDataSet: engine values

void TVEXDataSet::GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  db::TRecordBuffer record = GetActiveRecordBuffer();
  if (FHandle == nullptr || record == nullptr) RaiseNilPointer(10315);
  FHandle->SetCurrentRecordBuffer(record);
  const TVEXFieldDefs& defs = DirectAccess ? FHandle->FieldDefs() : FHandle->VisibleFieldDefs();
  if (FieldNo < 0 || FieldNo >= defs.Count() ||
      !IsBLOBBaseFieldType(defs.GetDef(FieldNo)->BaseFieldType)) {
    FHandle->GetFieldValue(Value, FieldNo, DirectAccess);
    return;
  }
  const TVEXBaseFieldType type = defs.GetDef(FieldNo)->BaseFieldType;
  Value.Clear(type);
  int32_t visible = FieldNo;
  if (DirectAccess) {
    const TVEXFieldDefs& shown = FHandle->VisibleFieldDefs();
    for (int32_t i = 0; i < shown.Count(); ++i)
      if (shown.GetDef(i)->FieldNoReference == FieldNo) {
        visible = i;
        break;
      }
  }
  auto* field = dynamic_cast<db::TBlobField*>(FieldOfNumber(visible + 1));
  if (field == nullptr) RaiseNilPointer(10315);
  TVEXBLOBStream stream(field, db::bmRead);
  const int64_t size = stream.GetSize();
  if (size <= 0) return;
  if (size > std::numeric_limits<int32_t>::max()) RaiseNilPointer(10315);
  TVEXMemBlock data = TVEXMemBlock::GetMem(static_cast<int32_t>(size));
  stream.Seek(0, rtl::soFromBeginning);
  stream.ReadBuffer(data.Get(), static_cast<int32_t>(size));
  // The value keeps a copy of its own: the block goes back right here.
  Value.SetData(data.Get(), static_cast<int32_t>(size), type, true);
}

void TVEXDataSet::SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  db::TRecordBuffer record = GetActiveRecordBuffer();
  if (FHandle == nullptr || record == nullptr) RaiseNilPointer(10316);
  FHandle->SetCurrentRecordBuffer(record);
  db::TField* field = FieldNo >= 0 && FieldNo < FieldCount() ? Fields()[FieldNo] : nullptr;
  auto* blob = dynamic_cast<db::TBlobField*>(field);
  if (blob == nullptr || Value.IsNull()) {
    FHandle->SetFieldValue(Value, FieldNo, DirectAccess, record);
    return;
  }
  TVEXBLOBStream stream(blob, db::bmWrite);
  // The value's own size: a value pointing at data it does not own has no
  // memory block whose size could be asked.
  if (Value.DataSize() > 0) stream.WriteBuffer(Value.pData(), Value.DataSize());
}

void TVEXDataSet::CopyFieldValue(int32_t SrcFieldNo, bool UseDirectFieldAccess, int32_t DestFieldNo,
                                 TVEXDataSet* DestDataset) {
  db::TRecordBuffer source = GetActiveRecordBuffer();
  if (FHandle == nullptr || source == nullptr) RaiseNilPointer(10500);
  if (DestDataset == nullptr) RaiseNilPointer(10503);
  db::TRecordBuffer dest = DestDataset->GetActiveRecordBuffer();
  if (DestDataset->FHandle == nullptr || dest == nullptr) RaiseNilPointer(10504);
  FHandle->SetCurrentRecordBuffer(source);
  DestDataset->FHandle->SetCurrentRecordBuffer(dest);
  FHandle->CopyFieldValue(SrcFieldNo, UseDirectFieldAccess, DestFieldNo, *DestDataset->FHandle);
}

db::TField* TVEXDataSet::FieldOfNumber(int32_t FieldNo) const {
  for (db::TField* field : const_cast<TVEXDataSet*>(this)->Fields().List())
    if (field->FieldNo() == FieldNo) return field;
  return nullptr;
}

// ---- TVEXDataSet: BLOB streams

std::unique_ptr<rtl::TStream> TVEXDataSet::CreateBlobStream(db::TField* Field,
                                                            db::TBlobStreamMode Mode) {
  if (Mode != db::bmRead && ReadOnly()) throw EVEXException(10107, "Dataset is in read only mode");
  auto* blob = dynamic_cast<db::TBlobField*>(Field);
  if (blob == nullptr) RaiseNilPointer(10108);
  auto stream = std::make_unique<TVEXBLOBStream>(blob, Mode);
  if (stream->BLOBStream() == nullptr && !FIsRefreshing) {
    // The record may be gone or the table kept locked: show what is there now.
    FIsRefreshing = true;
    ScopeExit done([this] { FIsRefreshing = false; });
    Refresh();
  }
  return stream;
}

TVEXStream* TVEXDataSet::OpenEngineBLOBStream(db::TField* Field, db::TBlobStreamMode Mode) {
  if (FHandle == nullptr) RaiseNilPointer(10108);
  if (Mode != db::bmRead && State() != db::dsInsert && State() != db::dsEdit)
    throw EVEXException(10111, "Dataset not in edit or insert mode");
  const TVEXBLOBOpenMode openMode =
      Mode == db::bmRead ? bomRead : (Mode == db::bmWrite ? bomWrite : bomReadWrite);
  const int32_t fieldNo = Field->FieldNo() - 1;
  uint8_t* const saved = FHandle->CurrentRecordBuffer();
  db::TRecordBuffer buffer = GetActiveRecordBuffer();
  ScopeExit restoreBuffer([this, saved] { FHandle->SetCurrentRecordBuffer(saved); });
  if (buffer == nullptr)
    return FHandle->InternalCreateBlobStream(true, false, fieldNo, openMode, false);
  FHandle->SetCurrentRecordBuffer(buffer);
  TVEXMemBlock position = FHandle->SavePosition();
  ScopeExit restorePosition([&] { FHandle->RestorePosition(position); });
  FHandle->CurrentRecordID = RecordIDAt(buffer + FHandle->BookmarkOffset());
  return FHandle->InternalCreateBlobStream(State() == db::dsInsert, State() == db::dsEdit, fieldNo,
                                           openMode, State() == db::dsBrowse);
}

void TVEXDataSet::CloseBlob(db::TField* Field) {
  if (FHandle == nullptr) RaiseNilPointer(10108);
  uint8_t* const saved = FHandle->CurrentRecordBuffer();
  ScopeExit restore([this, saved] { FHandle->SetCurrentRecordBuffer(saved); });
  // An empty dataset has no buffer: the streams stay on the cursor's own.
  if (db::TRecordBuffer buffer = GetActiveRecordBuffer()) FHandle->SetCurrentRecordBuffer(buffer);
  FHandle->InternalCloseBLOB(Field->FieldNo() - 1);
}

// ---- TVEXDataSet: filters

void TVEXDataSet::SetFilterData(const std::string& Text, db::TFilterOptions Options) {
  if (Active()) {
    CheckBrowseMode();
    if (FHandle == nullptr) RaiseNilPointer(10266);
  }
  db::TDataSet::SetFilterData(Text, Options);
  if (Active() && Filtered()) {
    ActivateFilters();
    First();
  }
}

void TVEXDataSet::SetFiltered(bool Value) {
  if (!Active()) {
    db::TDataSet::SetFiltered(Value);
    return;
  }
  CheckBrowseMode();
  if (FHandle == nullptr) RaiseNilPointer(10267);
  if (Filtered() != Value) {
    // The flag first: the filter event asks it for every record.
    db::TDataSet::SetFiltered(Value);
    ScopeFailure undo([&] { db::TDataSet::SetFiltered(!Value); });
    if (Value)
      ActivateFilters();
    else
      DeactivateFilters();
  }
  if (Value)
    First();
  else
    Refresh();
}

void TVEXDataSet::SetOnFilterRecord(const db::TFilterRecordEvent& Value) {
  if (!Active()) {
    db::TDataSet::SetOnFilterRecord(Value);
    return;
  }
  if (FHandle == nullptr) RaiseNilPointer(10275);
  CheckBrowseMode();
  const bool had = static_cast<bool>(OnFilterRecord());
  db::TDataSet::SetOnFilterRecord(Value);
  if (had != static_cast<bool>(Value)) {
    if (Filtered())
      ActivateFilters();
    else
      DeactivateFilters();
  } else {
    // Another handler: what the former one accepted counts no more.
    FHandle->DisableRecordBitmap();
  }
  if (Filtered()) First();
}

void TVEXDataSet::InternalRefresh() {
  if (Active() && Filtered() && OnFilterRecord() && FHandle != nullptr)
    FHandle->DisableRecordBitmap();
}

// ---- TVEXDataSet: searching

bool TVEXDataSet::FindRecord(bool Restart, bool GoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  if (FHandle == nullptr) RaiseNilPointer(10268);
  UpdateCursorPos();
  CursorPosChanged();
  const bool filtered = Filtered();
  if (!filtered) ActivateFilters();
  bool found = false;
  {
    ScopeExit deactivate([&] {
      if (!filtered) DeactivateFilters();
    });
    db::TRecordBuffer scratch = AllocRecordBuffer();
    uint8_t* const saved = FHandle->CurrentRecordBuffer();
    // The cursor is pointed back before the scratch buffer goes, so nothing
    // it does later reads freed memory.
    ScopeExit release([&] {
      FHandle->SetCurrentRecordBuffer(saved);
      FreeRecordBuffer(scratch);
    });
    if (GoForward) {
      if (Restart) InternalFirst();
      found = GetRecord(scratch, db::gmNext, false) == db::grOK;
    } else {
      if (Restart) InternalLast();
      found = GetRecord(scratch, db::gmPrior, false) == db::grOK;
    }
  }
  if (found) {
    Resync(db::TResyncMode{db::rmExact, db::rmCenter});
    SetFound(true);
    DoAfterScroll();
  }
  return found;
}

bool TVEXDataSet::LocateRecord(const std::string& KeyFields, const rtl::Variant& KeyValues,
                               db::TLocateOptions Options) {
  if (FHandle == nullptr) throw EVEXException(10271, "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  CursorPosChanged();
  const db::TDataSetState saved = SetTempState(db::dsFilter);
  ScopeExit restore([&] { RestoreState(saved); });
  FFilterBuffer = TempBuffer();
  FHandle->SetCurrentRecordBuffer(FFilterBuffer);
  return FHandle->Locate(KeyFields, KeyValues, Options.Contains(db::loCaseInsensitive),
                         Options.Contains(db::loPartialKey));
}

bool TVEXDataSet::Locate(const std::string& KeyFields, const rtl::Variant& KeyValues,
                         db::TLocateOptions Options) {
  DoBeforeScroll();
  const bool found = LocateRecord(KeyFields, KeyValues, Options);
  if (found) {
    Resync(db::TResyncMode{db::rmExact, db::rmCenter});
    DoAfterScroll();
  }
  return found;
}

rtl::Variant TVEXDataSet::Lookup(const std::string& KeyFields, const rtl::Variant& KeyValues,
                                 const std::string& ResultFields) {
  rtl::Variant result = rtl::Variant::Null();
  if (!LocateRecord(KeyFields, KeyValues, db::TLocateOptions{})) return result;
  const db::TDataSetState saved = SetTempState(db::dsCalcFields);
  ScopeExit restore([&] { RestoreState(saved); });
  CalculateFields(TempBuffer());
  result = FieldValues(ResultFields);
  return result;
}

// ---- TVEXDataSet: SQL engine support

void TVEXDataSet::SetSQLFilter(TVEXBaseExpression* FilterExpr, TVEXAO* ParentQueryAO,
                               TVEXCursor* ParentCursor) {
  if (FHandle == nullptr) RaiseNilPointer(10300);
  FHandle->SetSQLFilter(FilterExpr, ParentQueryAO, ParentCursor);
}

void TVEXDataSet::ApplyProjection(const rtl::TStringList& FieldNamesList,
                                  const rtl::TStringList& AliasList) {
  if (FHandle == nullptr) RaiseNilPointer(10320);
  TVEXCursor* const cursor = FHandle;
  cursor->ApplyProjection(FieldNamesList, AliasList);
  // While the dataset closes and opens again the cursor is external to it and
  // held here; at the end exactly one owner holds it: the dataset when it
  // shows it again, else this holder, which frees it.
  std::unique_ptr<TVEXCursor> held(FExternalHandle == nullptr ? cursor : nullptr);
  TVEXCursor* const formerExternal = FExternalHandle;
  cursor->SetSettingProjection(true);
  FExternalHandle = cursor;
  cursor->FirstPosition = true;
  ScopeExit settle([&] {
    cursor->SetSettingProjection(false);
    FExternalHandle = formerExternal;
    if (FHandle == cursor && held != nullptr) (void)held.release();
  });
  auto reopen = [&] {
    FExternalHandle = cursor;
    Open();
    if (Database() != nullptr) cursor->SetSession(Database()->Handle());
  };
  Close();
  try {
    reopen();
  } catch (...) {
    Close();
    cursor->SetSettingProjection(false);
    reopen();
    throw;
  }
}

// ---- CopyTableRecords

namespace {

std::string UnsupportedFieldMessage(const std::string& TableName, const std::string& FieldName) {
  return rtl::Format(
      "The data type of this field is not supported by the version of the development platform "
      "in use. Use a newer version of the platform or another data type for the field. Table "
      "name: \"%s\", field name: \"%s\"",
      TableName, FieldName);
}

// The destination of a source field: in a restructure of one table into
// another, the field at the place of the source field's definition among the
// source's restructure definitions; else the field of the same name.
db::TField* DestinationField(db::TDataSet& Source, db::TDataSet& Dest, db::TField& Field,
                             bool Restructure) {
  auto* source = dynamic_cast<TVEXDataSet*>(&Source);
  auto* dest = dynamic_cast<TVEXDataSet*>(&Dest);
  if (Restructure && source != nullptr && dest != nullptr && source->TableComponentName() &&
      dest->TableComponentName()) {
    if (const TVEXAdvFieldDef* def = source->AdvFieldDefs().Find(Field.FieldName())) {
      const TVEXAdvFieldDefs& restructure = source->RestructureFieldDefs();
      for (int32_t j = 0; j < restructure.Count(); ++j)
        if (restructure.GetDef(j)->ObjectID == def->ObjectID && j < Dest.FieldCount())
          return Dest.Fields()[j];
    }
  }
  return Dest.FindField(Field.FieldName());
}

// Copies the source's current record into a new record of Dest; false when
// something was logged and ignored.
bool CopyOneRecord(const std::string& TableName, db::TDataSet& Source, db::TDataSet& Dest,
                   std::string& Log, bool IgnoreErrors, bool Restructure, int64_t RecNo) {
  bool result = true;
  Dest.Insert();
  // A record that is not stored is not left half-made in Dest either.
  ScopeFailure cancel([&] {
    try {
      Dest.Cancel();
    } catch (const std::exception&) {
    }
  });
  db::TFieldDefs& defs = Source.FieldDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) {
    db::TField* field = Source.FieldCount() == defs.Count() ? Source.Fields()[i]
                                                            : Source.FindField(defs[i]->Name());
    if (field == nullptr) {
      const std::string message = UnsupportedFieldMessage(TableName, defs[i]->Name());
      Log += message;
      if (!IgnoreErrors) throw EVEXException(10499, "%s", message);
      result = false;
      continue;
    }
    db::TField* dest = DestinationField(Source, Dest, *field, Restructure);
    if (dest == nullptr) continue;
    try {
      vex::CopyFieldValue(field, dest);
    } catch (const std::exception& e) {
      Log += rtl::Format(
          "Error copying table \"%s\". Record #%d, field '%s' was copied with Null value due to "
          "error: %s\r\n",
          TableName, RecNo, field->FieldName(), std::string(e.what()));
      try {
        dest->Clear();
      } catch (const std::exception&) {
      }
      if (!IgnoreErrors) throw;
      result = false;
    }
  }
  try {
    Dest.Post();
  } catch (const std::exception& e) {
    Log +=
        rtl::Format("Error copying table \"%s\". Record #%d was not imported due to error: %s\r\n",
                    TableName, RecNo, std::string(e.what()));
    Log += "\r\n";
    if (!IgnoreErrors) throw;
    try {
      Dest.Cancel();
    } catch (const std::exception&) {
    }
    result = false;
  }
  return result;
}

// After Next failed on an unreadable record: moves the source to the first
// readable record from RecNo on, logging each one skipped. False when there is
// none, which ends the copy: the source still stands on the record copied
// last, and copying on would copy it twice.
bool SkipUnreadableRecords(db::TDataSet& Source, std::string& Log, int64_t& RecNo) {
  while (RecNo <= Source.RecordCount()) {
    bool reached = false;
    try {
      Source.SetRecNo(static_cast<int32_t>(RecNo));
      // Moving by number may settle on a readable neighbour instead, which
      // would be copied under the wrong number, or twice.
      reached = Source.RecNo() == RecNo;
    } catch (const std::exception&) {
    }
    if (reached) return true;
    Log += "Record #" + std::to_string(RecNo) + " corrupted and skipped.\r\n";
    ++RecNo;
  }
  return false;
}

bool CopyAllRecords(TVEXDataSet& Table, db::TDataSet& Source, db::TDataSet& Dest, std::string& Log,
                    bool& Continue, bool IgnoreErrors, bool Restructure,
                    const TVEXProgressEvent& OnProgress, int32_t MinProgress, int32_t MaxProgress) {
  bool result = true;
  const std::string tableName = Table.TableComponentName().value_or("unknown");
  Source.First();
  const int64_t span = static_cast<int64_t>(MaxProgress) - MinProgress;
  const int64_t perStep = span != 0 ? Source.RecordCount() / span + 1 : 1;
  // Progress at least every 30 records, however large the table.
  const int64_t step = std::max<int64_t>(1, std::min<int64_t>(perStep, 30));
  int64_t recNo = 1;
  while (!Source.Eof()) {
    if (!CopyOneRecord(tableName, Source, Dest, Log, IgnoreErrors, Restructure, recNo))
      result = false;
    ++recNo;
    try {
      Source.Next();
    } catch (const std::exception&) {
      if (!SkipUnreadableRecords(Source, Log, recNo)) break;
    }
    if ((recNo - 2) % step == 0 && OnProgress) {
      const int64_t count = Source.RecordCount();
      const double done =
          count > 0 ? static_cast<double>(recNo - 1) * static_cast<double>(span) / count : 0.0;
      const auto percent = static_cast<int32_t>(std::nearbyint(done)) + MinProgress;
      OnProgress(Source, percent, Continue);
      if (!Continue) {
        Log += "Terminated by User.\r\n";
        result = false;
        break;
      }
    }
  }
  return result;
}

}  // namespace

bool CopyTableRecords(TVEXDataSet& Table, db::TDataSet& Source, db::TDataSet& Dest,
                      std::string& Log, bool& Continue, bool IgnoreErrors, bool Restructure,
                      const TVEXProgressEvent& OnProgress, int32_t MinProgress,
                      int32_t MaxProgress) {
  Source.CheckBrowseMode();
  try {
    Source.Refresh();
  } catch (const std::exception&) {
    // A refresh is only a courtesy; the copy reads what it can.
  }
  const db::TBookmark bookmark = Source.GetBookmark();
  bool result = false;
  try {
    result = CopyAllRecords(Table, Source, Dest, Log, Continue, IgnoreErrors, Restructure,
                            OnProgress, MinProgress, MaxProgress);
  } catch (...) {
    try {
      Source.GotoBookmark(bookmark);
    } catch (const std::exception&) {
      // The copy's own error is the one to report.
    }
    throw;
  }
  Source.GotoBookmark(bookmark);
  return result;
}

}  // namespace vex
