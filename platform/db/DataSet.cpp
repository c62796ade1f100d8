#include "db/DataSet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "rtl/CodePage.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/ScopeGuard.h"

namespace db {

namespace {
// The body, then the cleanup also when the body raises; the body's error wins
// over one of the cleanup.
template <class Body, class Cleanup>
void TryFinally(Body body, Cleanup cleanup) {
  try {
    body();
  } catch (...) {
    try {
      cleanup();
    } catch (...) {
    }
    throw;
  }
  cleanup();
}

bool IsEditMode(TDataSetState s) { return s == dsEdit || s == dsInsert; }
}  // namespace

// ====================================================================== TDataSet

TDataSet::TDataSet(rtl::TComponent* AOwner)
    : rtl::TComponent(AOwner), FFields(this), FFieldDefs(this), FIndexDefs(this) {}

TDataSet::~TDataSet() {
  Destroying();
  // A descendant closes in its own destructor; what is left here is a dataset
  // whose cursor never opened, or one closed already.
  FState = dsInactive;
  while (!FDataSources.empty()) FDataSources.back()->SetDataSet(nullptr);
  DestroyFields();
  // Fields owned by others stay alive without a dataset.
  while (!FFields.List().empty()) FFields.List().back()->SetDataSet(nullptr);
}

// --- opening and closing ---

void TDataSet::SetActive(bool Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FStreamedActive = Value;
    return;
  }
  if (Active() == Value) return;
  if (Value) {
    Notify(BeforeOpen);
    FInternalOpenComplete = false;
    try {
      OpenCursor(false);
    } catch (...) {
      OpenCursorComplete(false);
      throw;
    }
    OpenCursorComplete(true);
  } else {
    if (!IsDestroying()) Notify(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    if (!IsDestroying()) Notify(AfterClose);
  }
}

void TDataSet::Loaded() {
  rtl::TComponent::Loaded();
  if (FStreamedActive) {
    FStreamedActive = false;
    SetActive(true);
  }
}

void TDataSet::OpenCursorComplete(bool Complete) {
  if (Complete && FInternalOpenComplete) {
    SetState(dsBrowse);
    Notify(AfterOpen);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    // A failed open leaves nothing behind: the cursor is closed again.
    FState = dsInactive;
    try {
      CloseCursor();
    } catch (...) {
      // The open's own error is the one the caller sees.
    }
  }
}

void TDataSet::OpenCursor(bool InfoQuery) {
  if (InfoQuery)
    InternalInitFieldDefs();
  else
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  FDefaultFields = FieldCount() == 0;
  InternalOpen();
  FInternalOpenComplete = true;
  UpdateBufferCount();
  FBOF = true;
}

void TDataSet::CloseCursor() {
  FInternalOpenComplete = false;
  FreeFieldBuffers();
  ClearBuffers();
  SetBufListSize(0);
  FBufferCount = 0;
  InternalClose();
  FDefaultFields = false;
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  TryFinally([this] { OpenCursor(true); }, [this] { CloseCursor(); });
}

void TDataSet::CheckActive() const {
  if (FState == dsInactive) DatabaseError(msg::DataSetClosed, this);
}

void TDataSet::CheckInactive() const {
  if (FState != dsInactive) DatabaseError(msg::DataSetOpen, this);
}

// --- fields ---

void TDataSet::CreateFields() {
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    TFieldDef* def = FFieldDefs[i];
    if (def->DataType() != ftUnknown) def->CreateField(this);
  }
}

void TDataSet::DestroyFields() {
  // Only the fields the dataset made for itself; persistent fields belong to
  // their owners.
  std::vector<TField*> own;
  for (TField* f : FFields.List())
    if (f->Owner() == this) own.push_back(f);
  for (auto it = own.rbegin(); it != own.rend(); ++it) delete *it;
}

void TDataSet::BindFields(bool Binding) {
  FCalcFieldsSize = 0;
  for (TField* field : FFields.List()) {
    if (!Binding) {
      field->FFieldNo = 0;
      field->FOffset = 0;
      continue;
    }
    if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
      if (field->IsBlob() || field->DataSize() <= 0)
        DatabaseError(rtl::Format(msg::InvalidCalcType, field->DisplayName()), this);
      field->FFieldNo = -1;
      field->FOffset = FCalcFieldsSize;
      FCalcFieldsSize += field->DataSize() + 1;
      continue;
    }
    TFieldDef* def = FFieldDefs.Find(field->FieldName());
    auto base = [](TFieldType t) {
      switch (t) {
        case ftAutoInc:
          return ftInteger;
        case ftFixedChar:
          return ftString;
        default:
          return t;
      }
    };
    if (base(field->DataType()) != base(def->DataType()))
      DatabaseError(rtl::Format(msg::FieldTypeMismatch, field->DisplayName(),
                                FieldTypeName(field->DataType()), FieldTypeName(def->DataType())),
                    this);
    switch (def->DataType()) {
      // The native buffer of these kinds is sized by Size: a mismatch would let
      // the dataset write past the field's buffer.
      case ftString:
      case ftFixedChar:
      case ftWideString:
      case ftGuid:
      case ftBytes:
      case ftVarBytes:
        if (field->Size() != def->Size())
          DatabaseError(
              rtl::Format(msg::FieldSizeMismatch, field->DisplayName(), field->Size(), def->Size()),
              this);
        break;
      default:
        break;
    }
    field->FFieldNo = def->FieldNo();
  }
}

TField* TDataSet::FieldByName(std::string_view FieldName) const {
  TField* f = FFields.FindField(FieldName);
  if (f == nullptr) DatabaseError(rtl::Format(msg::FieldNotFound, FieldName), this);
  return f;
}

void TDataSet::GetFieldList(std::vector<TField*>& List, std::string_view FieldNames) const {
  size_t pos = 0;
  while (pos < FieldNames.size()) List.push_back(FieldByName(ExtractFieldName(FieldNames, pos)));
}

rtl::Variant TDataSet::FieldValues(const std::string& FieldNames) {
  if (FieldNames.find(';') == std::string::npos) return FieldByName(FieldNames)->AsVariant();
  std::vector<TField*> list;
  GetFieldList(list, FieldNames);
  rtl::Variant result = rtl::Variant::Array(0, static_cast<int32_t>(list.size()) - 1);
  for (size_t i = 0; i < list.size(); ++i)
    result.SetElement(static_cast<int32_t>(i), list[i]->AsVariant());
  return result;
}

void TDataSet::SetFieldValues(const std::string& FieldNames, const rtl::Variant& Value) {
  if (!Value.IsArray()) {
    FieldByName(FieldNames)->SetAsVariant(Value);
    return;
  }
  std::vector<TField*> list;
  GetFieldList(list, FieldNames);
  for (size_t i = 0; i < list.size(); ++i)
    list[i]->SetAsVariant(Value.Element(Value.ArrayLowBound() + static_cast<int32_t>(i)));
}

bool TDataSet::GetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
  if (NativeFormat || Buffer == nullptr) return GetFieldData(Field, Buffer);
  std::vector<uint8_t> native(static_cast<size_t>(std::max(Field->DataSize(), 16)), 0);
  if (!GetFieldData(Field, native.data())) return false;
  DataConvert(Field, native.data(), Buffer, false);
  return true;
}

void TDataSet::SetFieldData(TField* Field, const void* Buffer, bool NativeFormat) {
  if (NativeFormat || Buffer == nullptr) {
    SetFieldData(Field, Buffer);
    return;
  }
  std::vector<uint8_t> native(static_cast<size_t>(std::max(Field->DataSize(), 16)), 0);
  DataConvert(Field, Buffer, native.data(), true);
  SetFieldData(Field, native.data());
}

void TDataSet::DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
  switch (Field->DataType()) {
    case ftDate:
    case ftTime:
    case ftDateTime: {
      if (ToNative) {
        double dt;
        std::memcpy(&dt, Source, sizeof dt);
        if (Field->DataType() == ftDateTime) {
          // Milliseconds since 0001-01-01 minus one day, in a double; whole
          // milliseconds so that a stored value reads back exactly.
          double ms = std::nearbyint((dt + rtl::DateDelta) * rtl::MSecsPerDay);
          std::memcpy(Dest, &ms, sizeof ms);
        } else {
          int32_t v;
          if (Field->DataType() == ftDate) {
            v = static_cast<int32_t>(std::trunc(dt)) + rtl::DateDelta;
          } else {
            double frac = std::fabs(dt - std::trunc(dt));
            v = static_cast<int32_t>(std::nearbyint(frac * rtl::MSecsPerDay));
          }
          std::memcpy(Dest, &v, sizeof v);
        }
      } else {
        double dt;
        if (Field->DataType() == ftDateTime) {
          double ms;
          std::memcpy(&ms, Source, sizeof ms);
          dt = ms / rtl::MSecsPerDay - rtl::DateDelta;
        } else {
          int32_t v;
          std::memcpy(&v, Source, sizeof v);
          dt = Field->DataType() == ftDate ? static_cast<double>(v - rtl::DateDelta)
                                           : static_cast<double>(v) / rtl::MSecsPerDay;
        }
        std::memcpy(Dest, &dt, sizeof dt);
      }
      break;
    }
    default:
      // Time stamps and everything else: the native form is the value form.
      std::memcpy(Dest, Source, static_cast<size_t>(Field->DataSize()));
      break;
  }
}

std::unique_ptr<rtl::TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  DatabaseError(msg::CapabilityNotSupported, this);
}

bool TDataSet::Locate(const std::string&, const rtl::Variant&, TLocateOptions) {
  DatabaseError(msg::CapabilityNotSupported, this);
}

rtl::Variant TDataSet::Lookup(const std::string&, const rtl::Variant&, const std::string&) {
  DatabaseError(msg::CapabilityNotSupported, this);
}

bool TDataSet::FindRecord(bool, bool) { return false; }

// --- states ---

void TDataSet::SetState(TDataSetState Value) {
  if (FState == Value) return;
  FState = Value;
  FModified = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState Value) {
  TDataSetState old = FState;
  FState = Value;
  ++FDisableCount;
  return old;
}

void TDataSet::RestoreState(TDataSetState Value) {
  FState = Value;
  --FDisableCount;
}

void TDataSet::DisableControls() {
  if (FDisableCount == 0) {
    FDisableState = FState;
    FEnableEvent = deDataSetChange;
  }
  ++FDisableCount;
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0) return;
  if (--FDisableCount == 0) {
    if (FDisableState != FState) DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
  }
}

void TDataSet::DataEvent(TDataEvent Event, intptr_t Info) {
  switch (Event) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(Info);
      if (field && (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc))
        SetModified(true);
      UpdateCalcFields();
      break;
    }
    case dePropertyChange:
      FFieldDefs.SetUpdated(false);
      break;
    default:
      break;
  }
  if (!ControlsDisabled()) {
    // A source may leave the list while it is notified (a link closing it).
    std::vector<TDataSource*> sources = FDataSources;
    for (TDataSource* s : sources)
      if (std::find(FDataSources.begin(), FDataSources.end(), s) != FDataSources.end())
        s->DataEvent(Event, Info);
  } else if ((Event == deUpdateState && FState == dsInactive) || Event == deLayoutChange) {
    FEnableEvent = deLayoutChange;
  }
}

void TDataSet::UpdateCalcFields() {
  if (FState != dsSetKey && FAutoCalcFields && FCalcFieldsSize > 0 && IsEditMode(FState))
    GetCalcFields(ActiveBuffer());
}

void TDataSet::GetCalcFields(TRecordBuffer Buffer) {
  if (FCalcFieldsSize <= 0) return;
  TDataSetState saved = SetTempState(dsCalcFields);
  rtl::ScopeExit restore([&] { RestoreState(saved); });
  CalculateFields(Buffer);
}

void TDataSet::CalculateFields(TRecordBuffer Buffer) {
  FCalcBuffer = Buffer;
  if (FState != dsInternalCalc) {
    ClearCalcFields(Buffer);
    for (TField* f : FFields.List())
      if (f->FieldKind() == fkLookup) f->CalcLookupValue();
  }
  Notify(OnCalcFields);
}

bool TDataSet::IsLinkedTo(TDataSource* DataSource) {
  while (DataSource != nullptr) {
    TDataSet* ds = DataSource->DataSet();
    if (ds == nullptr) break;
    if (ds == this) return true;
    DataSource = ds->GetDataSource();
  }
  return false;
}

void TDataSet::DefChanged(void*) {}

void TDataSet::AddDataSource(TDataSource* Source) {
  FDataSources.push_back(Source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* Source) {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), Source),
                     FDataSources.end());
  if (!IsDestroying()) UpdateBufferCount();
}

// --- the ring of buffers ---

void TDataSet::SetBufListSize(int32_t Value) {
  int32_t current = static_cast<int32_t>(FBuffers.size());
  if (current == Value) return;
  if (Value < current) {
    for (int32_t i = current - 1; i >= Value; --i)
      FreeRecordBuffer(FBuffers[static_cast<size_t>(i)]);
    FBuffers.resize(static_cast<size_t>(Value));
  } else {
    FBuffers.reserve(static_cast<size_t>(Value));
    while (static_cast<int32_t>(FBuffers.size()) < Value) FBuffers.push_back(AllocRecordBuffer());
  }
}

void TDataSet::SetBufferCount(int32_t Value) {
  if (Value <= 0) Value = 1;
  if (Value == FBufferCount) return;
  if (Value < FBufferCount && FRecordCount > 0) {
    // Keep the active record inside the smaller window: the records before it
    // that no longer fit go to the end of the list, which is then cut.
    int32_t drop = FActiveRecord - Value + 1;
    if (drop > 0) {
      for (int32_t i = 0; i < drop; ++i) MoveBuffer(0, static_cast<int32_t>(FBuffers.size()) - 1);
      FActiveRecord -= drop;
      FRecordCount -= drop;
      if (FCurrentRecord != -1) FCurrentRecord -= drop;
    }
  }
  SetBufListSize(Value + 1);
  FBufferCount = Value;
  if (FRecordCount > FBufferCount) FRecordCount = FBufferCount;
  if (FCurrentRecord < 0 || FCurrentRecord >= FRecordCount) FCurrentRecord = -1;
  GetNextRecords();
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int32_t maxCount = 1;
  for (TDataSource* s : FDataSources)
    for (TDataLink* l : s->FDataLinks) maxCount = std::max(maxCount, l->BufferCount());
  SetBufferCount(maxCount);
}

void TDataSet::ClearBuffers() {
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = true;
  FEOF = true;
}

void TDataSet::ActivateBuffers() {
  FRecordCount = 1;
  FActiveRecord = 0;
  FCurrentRecord = 0;
  FBOF = false;
  FEOF = false;
}

void TDataSet::MoveBuffer(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  auto first = FBuffers.begin();
  if (CurIndex < NewIndex)
    std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
  else
    std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
}

void TDataSet::SetCurrentRecord(int32_t Index) {
  if (FCurrentRecord == Index) return;
  TRecordBuffer buffer = FBuffers[static_cast<size_t>(Index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  FCurrentRecord = Index;
}

void TDataSet::UpdateCursorPos() {
  if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (FRecordCount > 0) {
    SetCurrentRecord(FRecordCount - 1);
    if (FState == dsInsert && FCurrentRecord == FActiveRecord &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  bool ok = GetRecord(FBuffers[static_cast<size_t>(FRecordCount)], mode, true) == grOK;
  if (ok) {
    if (FRecordCount == 0) {
      ActivateBuffers();
    } else {
      if (FRecordCount < FBufferCount)
        ++FRecordCount;
      else
        MoveBuffer(0, FRecordCount);
    }
    FCurrentRecord = FRecordCount - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (FRecordCount > 0) SetCurrentRecord(0);
  bool ok = GetRecord(FBuffers[static_cast<size_t>(FRecordCount)], gmPrior, true) == grOK;
  if (ok) {
    if (FRecordCount == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(FRecordCount, 0);
      if (FRecordCount < FBufferCount) {
        ++FRecordCount;
        ++FActiveRecord;
      }
    }
    FCurrentRecord = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int32_t TDataSet::GetNextRecords() {
  int32_t n = 0;
  while (FRecordCount < FBufferCount && GetNextRecord()) ++n;
  return n;
}

int32_t TDataSet::GetPriorRecords() {
  int32_t n = 0;
  while (FRecordCount < FBufferCount && GetPriorRecord()) ++n;
  return n;
}

// --- navigation ---

void TDataSet::DoBeforeScroll() { Notify(BeforeScroll); }
void TDataSet::DoAfterScroll() { Notify(AfterScroll); }

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  TryFinally(
      [this] {
        InternalFirst();
        GetNextRecord();
        GetNextRecords();
      },
      [this] {
        FBOF = true;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
      });
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  TryFinally(
      [this] {
        InternalLast();
        GetPriorRecord();
        GetPriorRecords();
      },
      [this] {
        FEOF = true;
        DataEvent(deDataSetChange, 0);
        DoAfterScroll();
      });
}

int32_t TDataSet::MoveBy(int32_t Distance) {
  CheckBrowseMode();
  int32_t result = 0;
  DoBeforeScroll();
  if ((Distance > 0 && !FEOF) || (Distance < 0 && !FBOF)) {
    FBOF = false;
    FEOF = false;
    int32_t scrollCount = 0;
    TryFinally(
        [&] {
          while (Distance > 0) {
            if (FActiveRecord < FRecordCount - 1) {
              ++FActiveRecord;
            } else {
              int32_t shift = FRecordCount < FBufferCount ? 0 : 1;
              if (GetNextRecord()) {
                scrollCount -= shift;
                if (FActiveRecord < FRecordCount - 1) ++FActiveRecord;
              } else {
                FEOF = true;
                break;
              }
            }
            --Distance;
            ++result;
          }
          while (Distance < 0) {
            if (FActiveRecord > 0) {
              --FActiveRecord;
            } else {
              int32_t shift = FRecordCount < FBufferCount ? 0 : 1;
              if (GetPriorRecord()) {
                scrollCount += shift;
                if (FActiveRecord > 0) --FActiveRecord;
              } else {
                FBOF = true;
                break;
              }
            }
            ++Distance;
            --result;
          }
        },
        [&] {
          DataEvent(deDataSetScroll, scrollCount);
          DoAfterScroll();
        });
  }
  return result;
}

void TDataSet::Resync(TResyncMode Mode) {
  TRecordBuffer scratch = FBuffers[static_cast<size_t>(FRecordCount)];
  if (Mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(scratch, gmCurrent, true) != grOK) DatabaseError(msg::RecordNotFound, this);
  } else if (GetRecord(scratch, gmCurrent, false) != grOK &&
             GetRecord(scratch, gmNext, false) != grOK &&
             GetRecord(scratch, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int32_t count = Mode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
  MoveBuffer(FRecordCount, 0);
  ActivateBuffers();
  TryFinally(
      [&] {
        while (count > 0 && GetPriorRecord()) --count;
        GetNextRecords();
        GetPriorRecords();
      },
      [this] { DataEvent(deDataSetChange, 0); });
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(TResyncMode{});
}

// --- bookmarks ---

bool TDataSet::BookmarkAvailable() {
  return (FState == dsBrowse || FState == dsEdit || FState == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  TBookmark result;
  if (BookmarkAvailable()) {
    result.resize(static_cast<size_t>(FBookmarkSize));
    GetBookmarkData(ActiveBuffer(), result.data());
  }
  return result;
}

void TDataSet::GotoBookmark(const TBookmark& Bookmark) {
  if (Bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(Bookmark.data());
  Resync(TResyncMode{rmExact, rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int32_t TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) { return 0; }

// --- editing ---

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(msg::DataSetReadOnly, this);
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(FState) && FState != dsSetKey) DatabaseError(msg::NotEditing, this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (FState) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (FModified)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::CheckOperation(TDataOperation Operation, const TDataSetErrorEvent& ErrorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*Operation)();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (ErrorEvent) ErrorEvent(*this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
      // daRetry: the cursor may have moved meanwhile; position it again.
      CursorPosChanged();
    }
  }
}

void TDataSet::FreeFieldBuffers() {
  for (TField* f : FFields.List()) {
    auto* blob = dynamic_cast<TBlobField*>(f);
    if (blob == nullptr || !blob->Modified()) continue;
    CloseBlob(blob);
    blob->SetModified(false);
  }
}

void TDataSet::InternalPost() {
  for (TField* f : FFields.List())
    if (f->Required() && f->FieldKind() == fkData && f->DataType() != ftAutoInc && f->IsNull())
      DatabaseError(rtl::Format(msg::FieldRequired, f->DisplayName()), this);
}

void TDataSet::InitRecord(TRecordBuffer Buffer) {
  InternalInitRecord(Buffer);
  ClearCalcFields(Buffer);
  SetBookmarkFlag(Buffer, bfInserted);
}

void TDataSet::DoOnNewRecord() { Notify(OnNewRecord); }

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Notify(BeforeInsert);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    Resync(TResyncMode{});
    throw;
  }
  FModified = false;
  DataEvent(deDataSetChange, 0);
  Notify(AfterInsert);
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark oldCurrent = GetBookmark();
  MoveBuffer(FRecordCount, FActiveRecord);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  // The new buffer remembers the record it was inserted before, so that the
  // cursor can stand there again when the insert is cancelled.
  if (FRecordCount == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else if (!oldCurrent.empty())
    SetBookmarkData(buffer, oldCurrent.data());
  if (FRecordCount < FBufferCount) ++FRecordCount;
  // The buffers after the new one shifted: none of them is where the cursor is.
  FCurrentRecord = -1;
  InsertOperation();
  EndInsertAppend();
}

void TDataSet::InsertOperation() {
  try {
    CheckOperation(&TDataSet::InternalInsert, OnEditError);
  } catch (...) {
    // The new buffer is dropped: the ring is read again around the record the
    // cursor was put back on.
    try {
      Resync(TResyncMode{});
    } catch (...) {
    }
    throw;
  }
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = FBuffers[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  FRecordCount = 1;
  FBOF = false;
  GetPriorRecords();
  InsertOperation();
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (IsEditMode(FState)) return;
  if (FRecordCount == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Notify(BeforeEdit);
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  Notify(AfterEdit);
}

void TDataSet::Post() {
  UpdateRecord();
  if (!IsEditMode(FState)) return;
  DataEvent(deCheckBrowseMode, 0);
  Notify(BeforePost);
  CheckOperation(&TDataSet::InternalPost, OnPostError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(TResyncMode{});
  Notify(AfterPost);
}

void TDataSet::Cancel() {
  if (!IsEditMode(FState)) return;
  DataEvent(deCheckBrowseMode, 0);
  Notify(BeforeCancel);
  bool scrollEvents = FState == dsInsert;
  if (scrollEvents) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(TResyncMode{});
  Notify(AfterCancel);
  if (scrollEvents) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == dsInsert || FState == dsSetKey) {
    Cancel();
    return;
  }
  if (FRecordCount == 0) DatabaseError(msg::DataSetEmpty, this);
  DataEvent(deCheckBrowseMode, 0);
  Notify(BeforeDelete);
  DoBeforeScroll();
  CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(TResyncMode{});
  Notify(AfterDelete);
  DoAfterScroll();
}

// --- filters ---

void TDataSet::SetFilterData(const std::string& Text, TFilterOptions Options) {
  FFilterText = Text;
  FFilterOptions = Options;
}
void TDataSet::SetFilterText(const std::string& Value) { SetFilterData(Value, FFilterOptions); }
void TDataSet::SetFilterOptions(TFilterOptions Value) { SetFilterData(FFilterText, Value); }
void TDataSet::SetFiltered(bool Value) { FFiltered = Value; }
void TDataSet::SetOnFilterRecord(const TFilterRecordEvent& Value) { FOnFilterRecord = Value; }

// =================================================================== TDataSource

TDataSource::TDataSource(rtl::TComponent* AOwner) : rtl::TComponent(AOwner) {}

TDataSource::~TDataSource() {
  while (!FDataLinks.empty()) FDataLinks.back()->SetDataSource(nullptr);
  if (FDataSet) {
    FDataSet->RemoveDataSource(this);
    FDataSet->RemoveFreeNotification(this);
    FDataSet = nullptr;
  }
}

bool TDataSource::IsLinkedTo(TDataSet* DataSet) {
  while (DataSet != nullptr) {
    TDataSource* source = DataSet->GetDataSource();
    if (source == nullptr) break;
    if (source == this) return true;
    DataSet = source->DataSet();
  }
  return false;
}

void TDataSource::SetDataSet(TDataSet* Value) {
  if (Value == FDataSet) return;
  if (IsLinkedTo(Value)) DatabaseError(msg::CircularDataLink, this);
  if (FDataSet) {
    FDataSet->RemoveDataSource(this);
    FDataSet->RemoveFreeNotification(this);
  }
  FDataSet = Value;
  if (FDataSet) {
    FDataSet->FreeNotification(this);
    FDataSet->AddDataSource(this);
  }
  NotifyState();
}

void TDataSource::Notification(rtl::TComponent* AComponent, rtl::TOperation Operation) {
  rtl::TComponent::Notification(AComponent, Operation);
  if (Operation == rtl::opRemove && AComponent == FDataSet) SetDataSet(nullptr);
}

void TDataSource::SetEnabled(bool Value) {
  FEnabled = Value;
  NotifyState();
}

void TDataSource::Edit() {
  if (FAutoEdit && FState == dsBrowse) FDataSet->Edit();
}

void TDataSource::NotifyState() { SetState(FEnabled && FDataSet ? FDataSet->State() : dsInactive); }

void TDataSource::SetState(TDataSetState Value) {
  if (FState == Value) return;
  FState = Value;
  std::vector<TDataLink*> links = FDataLinks;
  for (TDataLink* l : links) l->UpdateState();
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    NotifyState();
    return;
  }
  if (FState == dsInactive) return;
  std::vector<TDataLink*> links = FDataLinks;
  for (TDataLink* l : links)
    if (std::find(FDataLinks.begin(), FDataLinks.end(), l) != FDataLinks.end())
      l->DataEvent(Event, Info);
  switch (Event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(Info));
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::AddDataLink(TDataLink* Link) {
  FDataLinks.push_back(Link);
  if (FDataSet) FDataSet->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* Link) {
  FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), Link), FDataLinks.end());
  if (FDataSet) FDataSet->UpdateBufferCount();
}

// ===================================================================== TDataLink

TDataLink::~TDataLink() {
  if (FDataSource) {
    FDataSource->RemoveDataLink(this);
    FDataSource = nullptr;
  }
}

void TDataLink::SetDataSource(TDataSource* Value) {
  if (Value == FDataSource) return;
  if (FDataSource) {
    FDataSource->RemoveDataLink(this);
    FDataSource = nullptr;
    UpdateState();
  }
  FDataSource = Value;
  if (FDataSource) FDataSource->AddDataLink(this);
  UpdateState();
}

void TDataLink::UpdateState() {
  SetActive(FDataSource != nullptr && FDataSource->State() != dsInactive);
  SetEditing(FDataSource != nullptr && IsEditMode(FDataSource->State()));
}

void TDataLink::SetActive(bool Value) {
  if (FActive == Value) return;
  FActive = Value;
  if (Value)
    UpdateRange();
  else
    FFirstRecord = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
  if (FEditing == Value) return;
  FEditing = Value;
  EditingChanged();
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  int32_t minFirst = std::max(0, ds->FActiveRecord - FBufferCount + 1);
  int32_t maxFirst = std::max(0, ds->FBufferCount - FBufferCount);
  maxFirst = std::min(maxFirst, ds->FActiveRecord);
  FFirstRecord = std::clamp(FFirstRecord, minFirst, std::max(minFirst, maxFirst));
}

void TDataLink::SetBufferCount(int32_t Value) {
  if (Value < 1) Value = 1;
  if (FBufferCount == Value) return;
  FBufferCount = Value;
  if (FActive) {
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int32_t TDataLink::ActiveRecord() const {
  if (!FActive) return 0;
  if (FDataSource->State() == dsSetKey) return 0;
  return DataSet()->FActiveRecord - FFirstRecord;
}

void TDataLink::SetActiveRecord(int32_t Value) {
  if (FActive && FDataSource->State() != dsSetKey) DataSet()->FActiveRecord = Value + FFirstRecord;
}

int32_t TDataLink::RecordCount() const {
  if (!FActive) return 0;
  if (FDataSource->State() == dsSetKey) return 1;
  return std::min(DataSet()->FRecordCount, FBufferCount);
}

bool TDataLink::Edit() {
  if (!FReadOnly && FDataSource) FDataSource->Edit();
  return FEditing;
}

int32_t TDataLink::MoveBy(int32_t Distance) { return DataSet()->MoveBy(Distance); }

void TDataLink::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!FActive) return;
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int32_t count = 0;
      if (FDataSource->State() != dsSetKey) {
        int32_t active = DataSet()->FActiveRecord;
        int32_t first = FFirstRecord + static_cast<int32_t>(Event == deDataSetScroll ? Info : 0);
        int32_t last = first + FBufferCount - 1;
        if (active > last)
          count = active - last;
        else if (active < first)
          count = active - first;
        FFirstRecord = first + count;
      }
      if (Event == deDataSetChange)
        DataSetChanged();
      else if (Event == deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord:
      FUpdating = true;
      try {
        UpdateData();
      } catch (...) {
        FUpdating = false;
        throw;
      }
      FUpdating = false;
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    default:
      break;
  }
}

// =============================================================== TMasterDataLink

void TMasterDataLink::SetFieldNames(const std::string& Value) {
  if (FFieldNames == Value) return;
  FFieldNames = Value;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  FFields.clear();
  if (Active()) {
    try {
      DataSet()->GetFieldList(FFields, FFieldNames);
    } catch (...) {
      FFields.clear();
      throw;
    }
  }
  if (FDataSet->Active() && !FDataSet->ComponentState().Contains(rtl::csDestroying)) {
    if (Active() && !FFields.empty()) {
      if (OnMasterChange) OnMasterChange(*this);
    } else if (OnMasterDisable) {
      OnMasterDisable(*this);
    }
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (FDataSet->Active()) FDataSet->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* Field) {
  if (DataSource()->State() != dsSetKey && FDataSet->Active() && !FFields.empty() &&
      (Field == nullptr || std::find(FFields.begin(), FFields.end(), Field) != FFields.end()) &&
      OnMasterChange)
    OnMasterChange(*this);
}

}  // namespace db
