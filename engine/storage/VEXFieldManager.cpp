#include "storage/VEXFieldManager.h"

#include <cstring>
#include <limits>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"
#include "foundation/VEXVariant.h"

namespace vex {

namespace {

// The values a field of an integer storage type can hold.
struct TRange {
  int64_t Min;
  int64_t Max;
};

TRange RangeOf(TVEXBaseFieldType Type) {
  switch (Type) {
    case bftSignedInt8:
      return {INT8_MIN, INT8_MAX};
    case bftSignedInt16:
      return {INT16_MIN, INT16_MAX};
    case bftSignedInt32:
      return {INT32_MIN, INT32_MAX};
    case bftUnsignedInt8:
      return {0, UINT8_MAX};
    case bftUnsignedInt16:
      return {0, UINT16_MAX};
    case bftUnsignedInt32:
      return {0, UINT32_MAX};
    default:
      return {INT64_MIN, INT64_MAX};
  }
}

bool IsSignedType(TVEXBaseFieldType Type) {
  return Type >= bftSignedInt8 && Type <= bftSignedInt64;
}

// The integer in the low Size bytes (little-endian) of Data, sign-extended for
// a signed type.
int64_t ReadFieldInteger(const uint8_t* Data, int32_t Size, TVEXBaseFieldType Type) {
  uint64_t raw = 0;
  const int32_t n = Size < 8 ? Size : 8;
  for (int32_t i = 0; i < n; ++i) raw |= static_cast<uint64_t>(Data[i]) << (8 * i);
  if (IsSignedType(Type) && n > 0 && n < 8 && (Data[n - 1] & 0x80) != 0) {
    raw |= ~uint64_t{0} << (8 * n);
  }
  return static_cast<int64_t>(raw);
}

void WriteFieldInteger(uint8_t* Data, int32_t Size, int64_t Value) {
  const auto raw = static_cast<uint64_t>(Value);
  const int32_t n = Size < 8 ? Size : 8;
  for (int32_t i = 0; i < n; ++i) Data[i] = static_cast<uint8_t>(raw >> (8 * i));
}

[[noreturn]] void RaiseInvalidHeader() { throw EVEXException(20164, "Invalid table header data"); }

}  // namespace

TVEXBaseFieldManager::TVEXBaseFieldManager(TVEXManagedTable* aTableData) : FTableData(aTableData) {}

TVEXBaseFieldManager::~TVEXBaseFieldManager() = default;

void TVEXBaseFieldManager::LoadMetadata(TVEXStream& Stream) {
  FFieldDefs.LoadFromStream(Stream);
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

void TVEXBaseFieldManager::SaveMetadata(TVEXStream& Stream) const {
  FFieldDefs.SaveToStream(Stream);
}

void TVEXBaseFieldManager::LoadMostUpdated(std::span<const uint8_t> Buf, int32_t& Offset) {
  if (Offset < 0 || static_cast<size_t>(Offset) + 4 > Buf.size()) RaiseInvalidHeader();
  int32_t count;
  std::memcpy(&count, Buf.data() + Offset, 4);
  const size_t end =
      static_cast<size_t>(Offset) + 4 + 8 * static_cast<size_t>(count < 0 ? 0 : count);
  if (count < 0 || end > Buf.size()) RaiseInvalidHeader();
  std::vector<int64_t> values(static_cast<size_t>(count));
  if (count > 0) std::memcpy(values.data(), Buf.data() + Offset + 4, 8 * values.size());
  FLastAutoIncValues = std::move(values);
  Offset = static_cast<int32_t>(end);
}

void TVEXBaseFieldManager::SaveMostUpdated(std::span<uint8_t> Buf, int32_t& Offset) const {
  const auto count = static_cast<int32_t>(FLastAutoIncValues.size());
  const size_t end =
      static_cast<size_t>(Offset < 0 ? 0 : Offset) + 4 + 8 * FLastAutoIncValues.size();
  if (Offset < 0 || end > Buf.size()) RaiseInvalidHeader();
  std::memcpy(Buf.data() + Offset, &count, 4);
  if (count > 0)
    std::memcpy(Buf.data() + Offset + 4, FLastAutoIncValues.data(), 8 * FLastAutoIncValues.size());
  Offset = static_cast<int32_t>(end);
}

void TVEXBaseFieldManager::InitLastAutoIncValues() {
  FLastAutoIncValues.assign(static_cast<size_t>(FFieldDefs.Count()), 0);
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (IsAutoIncAdvancedFieldType(def->AdvancedFieldType)) {
      FLastAutoIncValues[static_cast<size_t>(i)] = def->AutoincInitialValue;
    }
  }
}

void TVEXBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const uint8_t* DiskRecordBuffer,
                                                             uint8_t* MemRecordBuffer) const {
  std::memset(MemRecordBuffer, 0, static_cast<size_t>(FFieldDefs.GetMemoryRecordBufferSize()));
  std::memcpy(MemRecordBuffer, DiskRecordBuffer,
              static_cast<size_t>(FFieldDefs.GetNullBitmapSize()));
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    std::memcpy(MemRecordBuffer + def->MemoryOffset, DiskRecordBuffer + def->DiskOffset,
                static_cast<size_t>(def->DiskDataSize));
  }
}

void TVEXBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const uint8_t* MemRecordBuffer,
                                                             uint8_t* DiskRecordBuffer) const {
  std::memset(DiskRecordBuffer, 0, static_cast<size_t>(FFieldDefs.GetDiskRecordBufferSize()));
  std::memcpy(DiskRecordBuffer, MemRecordBuffer,
              static_cast<size_t>(FFieldDefs.GetNullBitmapSize()));
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    std::memcpy(DiskRecordBuffer + def->DiskOffset, MemRecordBuffer + def->MemoryOffset,
                static_cast<size_t>(def->DiskDataSize));
  }
}

bool TVEXBaseFieldManager::CompareRecordBuffers(const uint8_t* RecordBuffer1,
                                                const uint8_t* RecordBuffer2) const {
  // Byte for byte: a field's data may hold zero bytes anywhere (256 is 00 01),
  // so nothing here may stop at a zero.
  if (std::memcmp(RecordBuffer1, RecordBuffer2,
                  static_cast<size_t>(FFieldDefs.GetNullBitmapSize())) != 0) {
    return false;
  }
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (std::memcmp(RecordBuffer1 + def->MemoryOffset, RecordBuffer2 + def->MemoryOffset,
                    static_cast<size_t>(def->DiskDataSize)) != 0) {
      return false;
    }
  }
  return true;
}

bool TVEXBaseFieldManager::BlobFieldsPresent() const {
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (IsBLOBBaseFieldType(def->BaseFieldType)) {
      if (def->BLOBBlockSize <= 0) {
        throw EVEXException(10421, "BLOB block size should be > 0 for field %s", def->Name.str());
      }
      return true;
    }
  }
  return false;
}

void TVEXBaseFieldManager::ApplyDefaultValuesToRecordBuffer(TVEXManagerSession& /*Session*/,
                                                            uint8_t* RecordBuffer) {
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (IsBLOBBaseFieldType(def->BaseFieldType) || def->DefaultValue.IsNull()) continue;
    uint8_t* slot = RecordBuffer + def->MemoryOffset;
    if (def->DefaultValueExpr != nullptr) {
      TVEXVariant* value = def->DefaultValueExpr->GetValue(true);
      // A default that works out to null leaves the field null: clearing the
      // bit over a zero-filled slot would make up a value (day 0 is no date).
      if (value == nullptr || value->IsNull()) continue;
      value->Cast(def->BaseFieldType);
      value->CopyDataToAddress(slot, def->MemoryDataSize);
    } else if (def->DefaultValue.DataType() == def->BaseFieldType) {
      def->DefaultValue.CopyDataToAddress(slot, def->MemoryDataSize);
    } else {
      // A default kept in another type than its field's would otherwise put
      // that type's bytes into the slot.
      TVEXVariant value;
      value.Assign(def->DefaultValue, true);
      value.Cast(def->BaseFieldType);
      value.CopyDataToAddress(slot, def->MemoryDataSize);
    }
    SetBitInBuffer(false, i, RecordBuffer);
  }
}

void TVEXBaseFieldManager::ApplyAutoincsToRecordBuffer(TVEXManagerSession& Session,
                                                       uint8_t* RecordBuffer) {
  for (int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (!IsAutoIncAdvancedFieldType(def->AdvancedFieldType)) continue;
    uint8_t* slot = RecordBuffer + def->MemoryOffset;
    if (GetBitFromBuffer(i, RecordBuffer)) {
      const int64_t value = GetNextAutoinc(Session, i);
      WriteFieldInteger(slot, def->MemoryDataSize, value);
      SetBitInBuffer(false, i, RecordBuffer);
    } else {
      UpdateLastAutoinc(Session, i,
                        ReadFieldInteger(slot, def->MemoryDataSize, def->BaseFieldType));
    }
  }
}

void TVEXBaseFieldManager::KeepAutoincsOfRecordBuffer(const uint8_t* RecordBuffer) {
  const size_t counters = FLastAutoIncValues.size();
  for (int32_t i = 0; i < FFieldDefs.Count() && static_cast<size_t>(i) < counters; ++i) {
    const TVEXFieldDef* def = FFieldDefs.GetDef(i);
    if (!IsAutoIncAdvancedFieldType(def->AdvancedFieldType)) continue;
    if (GetBitFromBuffer(i, RecordBuffer)) continue;
    const int64_t value =
        ReadFieldInteger(RecordBuffer + def->MemoryOffset, def->MemoryDataSize, def->BaseFieldType);
    int64_t& last = FLastAutoIncValues[static_cast<size_t>(i)];
    if (value > last) last = value;
  }
}

void TVEXBaseFieldManager::CheckCounterNo(int32_t FieldNo) const {
  if (FieldNo < 0 || FieldNo >= FFieldDefs.Count()) {
    throw EVEXException(30402, "Field #%d not found", FieldNo);
  }
  if (static_cast<size_t>(FieldNo) >= FLastAutoIncValues.size()) {
    throw EVEXException(30403, "Field #%d not found", FieldNo);
  }
}

int64_t TVEXBaseFieldManager::IncrementAutoinc(int32_t FieldNo) {
  CheckCounterNo(FieldNo);
  const TVEXFieldDef* def = FFieldDefs.GetDef(FieldNo);
  int64_t& last = FLastAutoIncValues[static_cast<size_t>(FieldNo)];
  const int64_t increment = def->AutoincIncrement == 0 ? 1 : def->AutoincIncrement;
  int64_t next;
  const bool overflow = __builtin_add_overflow(last, increment, &next);
  // Past the end of Int64 a counting-up counter has passed every maximum.
  const bool aboveMax = def->AutoincMaxValue != 0 &&
                        ((overflow && increment > 0) || (!overflow && next > def->AutoincMaxValue));
  auto exceeded = [&]() {
    return EVEXException(20160, "Autoinc max value exceeded for field '%s'", def->Name.str());
  };
  if (aboveMax) {
    if (!def->AutoincCycled) {
      last = overflow ? INT64_MAX : next;
      throw exceeded();
    }
    next = def->AutoincMinValue;
  } else if (overflow) {
    last = increment > 0 ? INT64_MAX : INT64_MIN;
    throw exceeded();
  }
  last = next;
  const TRange range = RangeOf(def->BaseFieldType);
  if (next < range.Min || next > range.Max) throw exceeded();
  return next;
}

int64_t TVEXBaseFieldManager::GetNextAutoinc(TVEXManagerSession& Session, int32_t FieldNo) {
  const int64_t value = IncrementAutoinc(FieldNo);
  Session.SetSequenceValue(FFieldDefs.GetDef(FieldNo)->ObjectID, value);
  return value;
}

void TVEXBaseFieldManager::UpdateLastAutoinc(TVEXManagerSession& Session, int32_t FieldNo,
                                             int64_t InsertedValue) {
  CheckCounterNo(FieldNo);
  int64_t& last = FLastAutoIncValues[static_cast<size_t>(FieldNo)];
  if (InsertedValue <= last) return;
  last = InsertedValue;
  Session.SetSequenceValue(FFieldDefs.GetDef(FieldNo)->ObjectID, InsertedValue);
}

int64_t TVEXBaseFieldManager::GetLastAutoinc(TVEXManagerSession& Session, int32_t FieldNo) {
  const TVEXFieldDef* def = FFieldDefs.GetDef(FieldNo);
  int64_t value = 0;
  if (Session.GetSequenceValue(def->ObjectID, value)) return value;
  if (Session.GetMultiUser()) {
    throw EVEXException(30012,
                        "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first",
                        def->Name.str());
  }
  if (!IsAutoIncAdvancedFieldType(def->AdvancedFieldType)) return 0;
  CheckCounterNo(FieldNo);
  return FLastAutoIncValues[static_cast<size_t>(FieldNo)];
}

}  // namespace vex
