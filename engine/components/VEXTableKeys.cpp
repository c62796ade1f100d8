// The table component's key search, ranges and master-detail link (see the
// class comment in VEXTable.h for the key buffers and their header).
//
// Design notes
//   1. Buffers 3 and 4 always hold the range in force (or initialised keys
//      when none is), with the bytes after every text value cleared, so a
//      range is "the same" exactly when buffers 1 and 2 equal them byte for
//      byte, and applying it again does not move the table.
//   2. The key-editing state lasts from a Set/Edit operation to Post (keep)
//      or Cancel (restore from buffer 5). FindKey, SetRange and the master
//      link use it only for their own duration and restore the state they
//      found on every way out.
#include <cstring>

#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

namespace {

constexpr int32_t kLookupKey = 0;
constexpr int32_t kRangeStartEdit = 1;
constexpr int32_t kRangeEndEdit = 2;
constexpr int32_t kSavedKey = 5;

// Header bytes at the key offset.
constexpr int32_t kModifiedByte = 0;
constexpr int32_t kExclusiveByte = 1;
constexpr int32_t kFieldCountOffset = 2;

// The shared lock's wait: up to 90 seconds.
constexpr int32_t kSharedLockTries = 900;
constexpr int32_t kSharedLockDelay = 100;

int32_t HeaderFieldCount(const uint8_t* Header) {
  int32_t count = 0;
  std::memcpy(&count, Header + kFieldCountOffset, sizeof count);
  return count;
}
void SetHeaderFieldCount(uint8_t* Header, int32_t Count) {
  std::memcpy(Header + kFieldCountOffset, &Count, sizeof Count);
}

}  // namespace

uint8_t* TVEXTable::KeyHeader(db::TRecordBuffer Buffer) const {
  return reinterpret_cast<uint8_t*>(Buffer) + FHandle->KeyOffset();
}

void TVEXTable::UnderSharedLock(const std::function<void()>& Work) {
  const bool locked = FHandle->LockTable(ltS, kSharedLockTries, kSharedLockDelay, true);
  ScopeExit unlock([&] {
    if (!locked) return;
    try {
      FHandle->UnlockTable(ltS, true);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  Work();
}

// ---- key editing -------------------------------------------------------------------

void TVEXTable::StartKeyEdit(int32_t KeyIndex, bool Clear) {
  if (FHandle == nullptr) RaiseNilPointer(10286);
  CheckBrowseMode();
  FKeyBuffer = FKeyBuffers[static_cast<size_t>(KeyIndex)];
  std::memcpy(FKeyBuffers[kSavedKey], FKeyBuffer, static_cast<size_t>(FHandle->KeyBufferSize()));
  if (Clear) InitKeyBuffer(FKeyBuffer);
  SetState(db::dsSetKey);
  SetModified(KeyHeader(FKeyBuffer)[kModifiedByte] != 0);
  DataEvent(db::deDataSetChange, 0);
}

void TVEXTable::EndKeyEdit(bool Commit) {
  if (FHandle == nullptr) RaiseNilPointer(10288);
  DataEvent(db::deCheckBrowseMode, 0);
  if (Commit)
    KeyHeader(FKeyBuffer)[kModifiedByte] = Modified() ? 1 : 0;
  else
    std::memcpy(FKeyBuffer, FKeyBuffers[kSavedKey], static_cast<size_t>(FHandle->KeyBufferSize()));
  SetState(db::dsBrowse);
  DataEvent(db::deDataSetChange, 0);
}

void TVEXTable::SetKey() { StartKeyEdit(kLookupKey, true); }
void TVEXTable::EditKey() { StartKeyEdit(kLookupKey, false); }
void TVEXTable::SetRangeStart() { StartKeyEdit(kRangeStartEdit, true); }
void TVEXTable::SetRangeEnd() { StartKeyEdit(kRangeEndEdit, true); }
void TVEXTable::EditRangeStart() { StartKeyEdit(kRangeStartEdit, false); }
void TVEXTable::EditRangeEnd() { StartKeyEdit(kRangeEndEdit, false); }

void TVEXTable::Post() {
  if (State() == db::dsSetKey) {
    EndKeyEdit(true);
    return;
  }
  TVEXDataSet::Post();
}

void TVEXTable::Cancel() {
  if (State() == db::dsSetKey) {
    EndKeyEdit(false);
    return;
  }
  TVEXDataSet::Cancel();
}

bool TVEXTable::KeyExclusive() const {
  if (FHandle == nullptr) RaiseNilPointer(10282);
  if (State() != db::dsSetKey) db::DatabaseError("Dataset not in edit or insert mode", this);
  return KeyHeader(FKeyBuffer)[kExclusiveByte] != 0;
}

void TVEXTable::SetKeyExclusive(bool Value) {
  if (FHandle == nullptr) RaiseNilPointer(10283);
  if (State() != db::dsSetKey) db::DatabaseError("Dataset not in edit or insert mode", this);
  KeyHeader(FKeyBuffer)[kExclusiveByte] = Value ? 1 : 0;
}

int32_t TVEXTable::KeyFieldCount() const {
  if (FHandle == nullptr) RaiseNilPointer(10284);
  if (State() != db::dsSetKey) db::DatabaseError("Dataset not in edit or insert mode", this);
  return HeaderFieldCount(KeyHeader(FKeyBuffer));
}

void TVEXTable::SetKeyFieldCount(int32_t Value) {
  if (FHandle == nullptr) RaiseNilPointer(10285);
  if (State() != db::dsSetKey) db::DatabaseError("Dataset not in edit or insert mode", this);
  SetHeaderFieldCount(KeyHeader(FKeyBuffer), Value);
}

void TVEXTable::SetKeyValues(int32_t KeyIndex, const std::vector<rtl::Variant>& Values) {
  if (FHandle == nullptr) RaiseNilPointer(10289);
  if (!IsIndexSelected()) db::DatabaseError("No index currently active", this);
  const db::TDataSetState saved = SetTempState(db::dsSetKey);
  ScopeExit restore([&] { RestoreState(saved); });
  FKeyBuffer = InitKeyBuffer(FKeyBuffers[static_cast<size_t>(KeyIndex)]);
  for (size_t i = 0; i < Values.size(); ++i)
    GetIndexField(static_cast<int32_t>(i))->SetAsVariant(Values[i]);
  uint8_t* header = KeyHeader(FKeyBuffer);
  SetHeaderFieldCount(header, static_cast<int32_t>(Values.size()));
  header[kModifiedByte] = Modified() ? 1 : 0;
}

// ---- searching -------------------------------------------------------------------

bool TVEXTable::FindKey(const std::vector<rtl::Variant>& KeyValues) {
  CheckBrowseMode();
  SetKeyValues(kLookupKey, KeyValues);
  return GotoKey();
}

void TVEXTable::FindNearest(const std::vector<rtl::Variant>& KeyValues) {
  CheckBrowseMode();
  SetKeyValues(kLookupKey, KeyValues);
  GotoNearest();
}

bool TVEXTable::GotoKey() {
  if (FHandle == nullptr) RaiseNilPointer(10290);
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  uint8_t* key = reinterpret_cast<uint8_t*>(FKeyBuffers[kLookupKey]);
  FHandle->SetKeyBuffer(key);
  const int32_t count = HeaderFieldCount(KeyHeader(FKeyBuffers[kLookupKey]));
  FHandle->SetKeyFieldCount(count != 0 ? count : FIndexFieldCount);
  if (!FHandle->FindKey(scEqual)) return false;
  UnderSharedLock([&] { Resync(db::TResyncMode{db::rmExact, db::rmCenter}); });
  DoAfterScroll();
  return true;
}

void TVEXTable::GotoNearest() {
  if (FHandle == nullptr) RaiseNilPointer(10291);
  CheckBrowseMode();
  CursorPosChanged();
  uint8_t* key = reinterpret_cast<uint8_t*>(FKeyBuffers[kLookupKey]);
  FHandle->SetKeyBuffer(key);
  const uint8_t* header = KeyHeader(FKeyBuffers[kLookupKey]);
  const TVEXSearchCondition condition = header[kExclusiveByte] != 0 ? scGreater : scGreaterEqual;
  const int32_t count = HeaderFieldCount(header);
  FHandle->SetKeyFieldCount(count != 0 ? count : FIndexFieldCount);
  const bool found = FHandle->FindKey(condition);
  UnderSharedLock([&] {
    if (!found) InternalLast();
    Resync(db::TResyncMode{db::rmCenter});
  });
}

// ---- ranges ----------------------------------------------------------------------

bool TVEXTable::SetCursorRange() {
  if (FHandle == nullptr) RaiseNilPointer(10296);
  for (int32_t index : {kRangeStartEdit, kRangeStartKey, kRangeEndEdit, kRangeEndKey})
    FHandle->ClearStringFieldsGarbage(reinterpret_cast<uint8_t*>(FKeyBuffers[index]));
  const auto size = static_cast<size_t>(FHandle->KeyBufferSize());
  if (std::memcmp(FKeyBuffers[kRangeStartEdit], FKeyBuffers[kRangeStartKey], size) == 0 &&
      std::memcmp(FKeyBuffers[kRangeEndEdit], FKeyBuffers[kRangeEndKey], size) == 0)
    return false;
  const uint8_t* start = KeyHeader(FKeyBuffers[kRangeStartEdit]);
  const uint8_t* end = KeyHeader(FKeyBuffers[kRangeEndEdit]);
  const int32_t startCount = HeaderFieldCount(start);
  const int32_t endCount = HeaderFieldCount(end);
  std::memcpy(FKeyBuffers[kRangeStartKey], FKeyBuffers[kRangeStartEdit], size);
  std::memcpy(FKeyBuffers[kRangeEndKey], FKeyBuffers[kRangeEndEdit], size);
  // The cursor keeps pointing at the buffers of the range in force.
  FHandle->ApplyRange(reinterpret_cast<uint8_t*>(FKeyBuffers[kRangeStartKey]),
                      reinterpret_cast<uint8_t*>(FKeyBuffers[kRangeEndKey]),
                      startCount != 0 ? startCount : FIndexFieldCount,
                      endCount != 0 ? endCount : FIndexFieldCount, start[kExclusiveByte] != 0,
                      end[kExclusiveByte] != 0);
  return true;
}

void TVEXTable::SetRange(const std::vector<rtl::Variant>& StartValues,
                         const std::vector<rtl::Variant>& EndValues) {
  CheckBrowseMode();
  SetKeyValues(kRangeStartEdit, StartValues);
  SetKeyValues(kRangeEndEdit, EndValues);
  ApplyRange();
}

void TVEXTable::ApplyRange() {
  CheckBrowseMode();
  if (SetCursorRange()) UnderSharedLock([&] { First(); });
}

void TVEXTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (ResetCursorRange()) UnderSharedLock([&] { Resync(db::TResyncMode{}); });
}

// ---- master-detail -------------------------------------------------------------

db::TDataSource* TVEXTable::MasterSource() const { return FMasterLink->DataSource(); }

void TVEXTable::SetMasterSource(db::TDataSource* Value) {
  if (Value != nullptr && IsLinkedTo(Value))
    db::DatabaseError("Circular datalinks are not allowed", this);
  FMasterLink->SetDataSource(Value);
}

std::string TVEXTable::MasterFields() const { return FMasterLink->FieldNames(); }
void TVEXTable::SetMasterFields(const std::string& Value) { FMasterLink->SetFieldNames(Value); }
db::TDataSource* TVEXTable::GetDataSource() { return FMasterLink->DataSource(); }

void TVEXTable::SetKeyFields(int32_t KeyIndex, const std::vector<db::TField*>& Fields) {
  if (FHandle == nullptr) RaiseNilPointer(10299);
  const db::TDataSetState saved = SetTempState(db::dsSetKey);
  ScopeExit restore([&] { RestoreState(saved); });
  FKeyBuffer = InitKeyBuffer(FKeyBuffers[static_cast<size_t>(KeyIndex)]);
  uint8_t* header = KeyHeader(FKeyBuffer);
  header[kModifiedByte] = 1;
  for (size_t i = 0; i < Fields.size(); ++i)
    GetIndexField(static_cast<int32_t>(i))->Assign(Fields[i]);
  SetHeaderFieldCount(header, static_cast<int32_t>(Fields.size()));
  std::memcpy(FKeyBuffers[kRangeEndEdit], FKeyBuffer,
              static_cast<size_t>(FHandle->KeyBufferSize()));
}

void TVEXTable::ApplyMasterRange() {
  if (!FMasterLink->Active() || FMasterLink->Fields().empty()) return;
  SetKeyFields(kRangeStartEdit, FMasterLink->Fields());
  SetCursorRange();
}

void TVEXTable::CursorOpened() { ApplyMasterRange(); }

void TVEXTable::MasterChanged() {
  CheckBrowseMode();
  SetKeyFields(kRangeStartEdit, FMasterLink->Fields());
  ApplyRange();
}

void TVEXTable::MasterDisabled() { CancelRange(); }

}  // namespace vex
