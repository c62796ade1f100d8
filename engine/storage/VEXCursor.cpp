#include "storage/VEXCursor.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXTypes.h"
#include "foundation/VEXVariant.h"
#include "rtl/Lists.h"
#include "storage/VEXTableData.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

namespace {
// The layout of a saved position (design note 1).
constexpr int64_t kPositionSize = 8;
constexpr size_t kFirstAt = 0;
constexpr size_t kLastAt = 1;
constexpr size_t kPageNoAt = 2;
constexpr size_t kPageItemNoAt = 6;

// Zeroes Field from its terminator to its end: the first zero byte of an 8-bit
// text, the first zero 16-bit unit of a wide one. Nothing when the field holds
// no terminator.
void ClearAfterTerminator(uint8_t* Field, int32_t Size, bool Wide) {
  const int32_t unit = Wide ? 2 : 1;
  for (int32_t at = 0; at + unit <= Size; at += unit) {
    if (Field[at] == 0 && (!Wide || Field[at + 1] == 0)) {
      std::memset(Field + at, 0, static_cast<size_t>(Size - at));
      return;
    }
  }
}
}  // namespace

TVEXCursor::TVEXCursor() : FPassword(std::make_unique<TVEXPassword>()) {}

TVEXCursor::~TVEXCursor() = default;

// ---- base bodies of the virtual operations

void TVEXCursor::RenameField(std::string_view FieldName, std::string_view NewFieldName) {
  TVEXFieldDef* def = FFieldDefs.GetFieldDefByName(FieldName);
  if (def == nullptr) throw EVEXException(30345, "Field '%s' not found", std::string(FieldName));
  if (FFieldDefs.GetDefByName(NewFieldName) != nullptr)
    throw EVEXException(30346, "Cannot rename field '%s'. Field '%s' already exists",
                        std::string(FieldName), std::string(NewFieldName));
  def->Name = NewFieldName;
}

TVEXIndexDefs& TVEXCursor::GetIndexDefs() { return FIndexDefs; }

void TVEXCursor::FreeRecordBuffer(uint8_t*& Buffer) {
  if (Buffer != nullptr) MemoryManager->FreeAndNillMem(Buffer);
}

// ---- field values

bool TVEXCursor::GetFieldData(int32_t FieldNo, void* Buffer, const uint8_t* RecordBuffer) {
  if (FieldNo < 0 || FieldNo >= FVisibleFieldDefs.Count())
    throw EVEXException(10005, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        FVisibleFieldDefs.Count());
  return GetFieldDataFromRecordBuffer(FVisibleFieldDefs.GetDef(FieldNo)->FieldNoReference,
                                      FFieldDefs, Buffer, RecordBuffer);
}

void TVEXCursor::SetFieldData(int32_t FieldNo, const void* Buffer, uint8_t* RecordBuffer) {
  if (FieldNo < 0 || FieldNo >= FVisibleFieldDefs.Count())
    throw EVEXException(10006, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        FVisibleFieldDefs.Count());
  SetFieldDataToRecordBuffer(FVisibleFieldDefs.GetDef(FieldNo)->FieldNoReference, FFieldDefs,
                             Buffer, RecordBuffer);
}

int32_t TVEXCursor::TableFieldNo(int32_t FieldNo, bool DirectAccess, int32_t DirectCode,
                                 int32_t VisibleCode) const {
  const TVEXFieldDefs& defs = DirectAccess ? FFieldDefs : FVisibleFieldDefs;
  if (FieldNo < 0 || FieldNo >= defs.Count())
    throw EVEXException(DirectAccess ? DirectCode : VisibleCode,
                        "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        defs.Count());
  const int32_t tableNo = DirectAccess ? FieldNo : defs.GetDef(FieldNo)->FieldNoReference;
  // A visible field whose table field went away reads as a bad number too,
  // never as a read outside the record.
  if (tableNo < 0 || tableNo >= FFieldDefs.Count())
    throw EVEXException(DirectAccess ? DirectCode : VisibleCode,
                        "Invalid field number - FieldNo = %d, FieldCount = %d", tableNo,
                        FFieldDefs.Count());
  return tableNo;
}

void TVEXCursor::GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  const int32_t fieldNo = TableFieldNo(FieldNo, DirectAccess, 20191, 10317);
  if (FCurrentRecordBuffer == nullptr) RaiseNilPointer(10008);
  if (GetBitFromBuffer(fieldNo, FCurrentRecordBuffer)) {
    Value.SetNull();
    return;
  }
  const TVEXFieldDef* def = FFieldDefs.GetDef(fieldNo);
  Value.SetData(FCurrentRecordBuffer + def->MemoryOffset, def->MemoryDataSize, def->BaseFieldType,
                true);
}

void TVEXCursor::SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess,
                               uint8_t* RecordBuffer) {
  const int32_t fieldNo = TableFieldNo(FieldNo, DirectAccess, 20192, 20193);
  uint8_t* record = RecordBuffer != nullptr ? RecordBuffer : FCurrentRecordBuffer;
  if (record == nullptr) RaiseNilPointer(10012);
  if (Value.IsNull()) {
    SetBitInBuffer(true, fieldNo, record);
    return;
  }
  SetBitInBuffer(false, fieldNo, record);
  const TVEXFieldDef* def = FFieldDefs.GetDef(fieldNo);
  Value.Cast(def->BaseFieldType);
  uint8_t* field = record + def->MemoryOffset;
  if (!Value.CopyDataToAddress(field, def->MemoryDataSize) &&
      IsStringBaseFieldType(def->BaseFieldType)) {
    // An empty text copies no data; its terminator still has to replace the
    // text the field held, or the old text would show through a non-null
    // field.
    const int32_t terminator = IsWideStringBaseFieldType(def->BaseFieldType) ? 2 : 1;
    std::memset(field, 0, static_cast<size_t>(std::min(terminator, def->MemoryDataSize)));
  }
}

void TVEXCursor::ClearStringFieldsGarbage(uint8_t* RecordBuffer) const {
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (!IsStringBaseFieldType(def->BaseFieldType)) continue;
    uint8_t* field = RecordBuffer + def->MemoryOffset;
    if (GetBitFromBuffer(i, RecordBuffer))
      std::memset(field, 0, static_cast<size_t>(def->MemoryDataSize));
    else
      ClearAfterTerminator(field, def->MemoryDataSize,
                           IsWideStringBaseFieldType(def->BaseFieldType));
  }
}

// ---- buffers and position

void TVEXCursor::InternalInitKeyBuffer(uint8_t* RecordBuffer) {
  std::memset(RecordBuffer, 0, static_cast<size_t>(std::max(FKeyBufferSize, 0)));
  InternalInitRecord(RecordBuffer, false);
}

TVEXMemBlock TVEXCursor::SavePosition() const {
  TVEXMemBlock pos = TVEXMemBlock::GetMem(kPositionSize);
  uint8_t* p = pos.As<uint8_t>();
  p[kFirstAt] = FirstPosition ? 1 : 0;
  p[kLastAt] = LastPosition ? 1 : 0;
  std::memcpy(p + kPageNoAt, &CurrentRecordID.PageNo, sizeof(int32_t));
  std::memcpy(p + kPageItemNoAt, &CurrentRecordID.PageItemNo, sizeof(uint16_t));
  return pos;
}

void TVEXCursor::RestorePosition(const TVEXMemBlock& Pos) {
  if (!Pos) return;
  const uint8_t* p = Pos.As<uint8_t>();
  FirstPosition = p[kFirstAt] != 0;
  LastPosition = p[kLastAt] != 0;
  int32_t pageNo;
  uint16_t pageItemNo;
  std::memcpy(&pageNo, p + kPageNoAt, sizeof(pageNo));
  std::memcpy(&pageItemNo, p + kPageItemNoAt, sizeof(pageItemNo));
  CurrentRecordID = {pageNo, pageItemNo};
}

// ---- view

void TVEXCursor::SetIndexName(std::string_view Value) {
  FIndexName = Value;
  const TVEXIndexDef* def = FIndexDefs.GetIndexDefByName(Value);
  FIndexID = def != nullptr ? def->ObjectID : -1;
}

void TVEXCursor::DisableRecordBitmap() {
  if (RecordBitmap) RecordBitmap->Clear();
}

void TVEXCursor::ApplyProjection(const rtl::TStringList& FieldNamesList,
                                 const rtl::TStringList& AliasList) {
  const int32_t count = FieldNamesList.Count();
  if (count != AliasList.Count())
    throw EVEXException(10321, "Error - different list lengths. L1 = %d, L2 = %d", count,
                        AliasList.Count());
  if (count == 0) throw EVEXException(10322, "No fields were specified while setting projection");
  // Every name is checked before the visible list is touched, so a bad name
  // leaves the projection that was in place.
  for (int32_t i = 0; i < count; ++i) {
    if (FFieldDefs.GetDefNumberByName(FieldNamesList[i]) == -1)
      throw EVEXException(10323, "Cannot find field %s", FieldNamesList[i]);
  }
  FVisibleFieldDefs.Clear();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t tableNo = FFieldDefs.GetDefNumberByName(FieldNamesList[i]);
    TVEXFieldDef* copy = FVisibleFieldDefs.AddCreated();
    copy->Assign(*FFieldDefs.GetDef(tableNo));
    copy->FieldNoReference = tableNo;
    const std::string& alias = AliasList[i];
    if (alias.empty()) continue;
    copy->Name = "";
    for (int32_t n = 0; n <= count; ++n) {
      const std::string candidate = n == 0 ? alias : alias + "_" + std::to_string(n);
      if (FVisibleFieldDefs.GetDefNumberByName(candidate) == -1) {
        copy->Name = candidate;
        break;
      }
    }
  }
}

void TVEXCursor::ResetRange() {
  RangeStartBuffer = nullptr;
  RangeEndBuffer = nullptr;
  DisableRecordBitmap();
}

void TVEXCursor::ApplyRange(uint8_t* StartBuffer, uint8_t* EndBuffer, int32_t StartKeyFieldCount,
                            int32_t EndKeyFieldCount, bool StartExclusive, bool EndExclusive) {
  RangeStartBuffer = StartBuffer;
  RangeEndBuffer = EndBuffer;
  RangeStartKeyFieldCount = StartKeyFieldCount;
  RangeEndKeyFieldCount = EndKeyFieldCount;
  RangeStartExclusive = StartExclusive;
  RangeEndExclusive = EndExclusive;
  DisableRecordBitmap();
}

void TVEXCursor::SetSQLFilter(TVEXBaseExpression* FilterExpr, TVEXAO* ParentQueryAO,
                              TVEXCursor* ParentCursor) {
  SQLFilterExpression = FilterExpr;
  if (FilterExpr != nullptr) FilterExpr->AssignCursor(this, ParentQueryAO, ParentCursor);
  DisableRecordBitmap();
}

}  // namespace vex
