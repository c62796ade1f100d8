#include "storage/btree/VEXBTreeKeys.h"

#include <algorithm>
#include <cstring>

#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"
#include "foundation/VEXValueCompare.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/VEXMetaDefs.h"

namespace vex {

namespace {

constexpr uint8_t kNullFlag = 0x01;

int32_t Sign(int32_t c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

template <class T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

}  // namespace

bool IsTextFieldType(TVEXBaseFieldType Type) {
  return Type == bftChar || Type == bftWideChar || Type == bftVarchar || Type == bftWideVarchar;
}

bool IsWideTextFieldType(TVEXBaseFieldType Type) {
  return Type == bftWideChar || Type == bftWideVarchar;
}

// --- Key path ----------------------------------------------------------------

void TVEXKeyPath::Assign(const TVEXKeyPath& KeyPath) {
  Count = KeyPath.Count;
  ItemNo = KeyPath.ItemNo;
  for (int32_t i = 0; i < Count; ++i) Items[static_cast<size_t>(i)] = KeyPath.Items[static_cast<size_t>(i)];
}

void TVEXKeyPath::AddItem(int32_t aPageNo, int32_t aEntryNo, int32_t aEntryCount) {
  if (ItemNo < 0 || ItemNo >= kMaxLevels) throw EVEXException(20051, "Invalid index key path");
  Items[static_cast<size_t>(ItemNo)] = TItem{aPageNo, aEntryNo, aEntryCount};
  ++ItemNo;
  ++Count;
}

bool TVEXKeyPath::PageExists(int32_t aPageNo) const {
  for (int32_t i = 0; i < Count; ++i) {
    if (Items[static_cast<size_t>(i)].PageNo == aPageNo) return true;
  }
  return false;
}

int32_t TVEXKeyPath::Compare(const TVEXKeyPath& aKeyPath) const {
  if (Count != aKeyPath.Count) throw EVEXException(20051, "Invalid index key path");
  for (int32_t i = 0; i < Count; ++i) {
    const TItem& mine = Items[static_cast<size_t>(i)];
    const TItem& theirs = aKeyPath.Items[static_cast<size_t>(i)];
    if (mine.PageNo != theirs.PageNo) throw EVEXException(20052, "Invalid index key path");
    if (mine.EntryNo != theirs.EntryNo) return mine.EntryNo < theirs.EntryNo ? -1 : 1;
  }
  return 0;
}

double TVEXKeyPath::GetApproxRecNoInPercents() const {
  // Deep trees multiply entry counts past 64 bits; doubles keep the ratio.
  double a = 1;
  double b = 0;
  for (int32_t n = Count - 1; n >= 0; --n) {
    const TItem& item = Items[static_cast<size_t>(n)];
    b += static_cast<double>(item.EntryNo) * a;
    a *= static_cast<double>(std::max(item.EntryCount, 1));
  }
  return b / a;
}

int64_t TVEXKeyPath::GetBitmapRecNoByIndexPosition(int32_t MaxEntriesPerPage) const {
  const uint64_t base = static_cast<uint64_t>(MaxEntriesPerPage) + 1;
  uint64_t result = 0;
  for (int32_t level = 0; level < Count; ++level) {
    result = result * base + static_cast<uint64_t>(Items[static_cast<size_t>(level)].EntryNo + 1);
  }
  return static_cast<int64_t>(result);
}

void TVEXKeyPath::FillItemsByBitmapRecNo(int64_t RecordNo, int32_t MaxEntriesPerPage) {
  Clear();
  const int64_t base = static_cast<int64_t>(MaxEntriesPerPage) + 1;
  if (RecordNo < 1 || base < 2) return;
  int32_t digits = 0;
  for (int64_t n = RecordNo; n > 0; n /= base) ++digits;
  if (digits > kMaxLevels) throw EVEXException(20051, "Invalid index key path");
  Count = digits;
  int64_t n = RecordNo;
  for (int32_t k = 1; k <= digits; ++k) {
    TItem& item = Items[static_cast<size_t>(digits - k)];
    item.EntryNo = static_cast<int32_t>(n % base) - 1;
    item.PageNo = -1;
    item.EntryCount = 0;
    n /= base;
  }
}

// --- Key references ----------------------------------------------------------

TVEXMemBlock TVEXBTreeKeyRef::AllocShortKeyBuffer() const {
  return TVEXMemBlock::AllocMem(std::max(FShortKeySize, 1));
}

TVEXMemBlock TVEXBTreeKeyRef::AllocFullKeyBuffer() const {
  return TVEXMemBlock::AllocMem(std::max(FFullKeySize, 1));
}

int32_t TVEXBTreeKeyRef::CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2,
                                           int32_t Size) {
  if (Size == 6) {
    const int32_t page1 = Load<int32_t>(Reference1);
    const int32_t page2 = Load<int32_t>(Reference2);
    if (page1 != page2) return page1 < page2 ? -1 : 1;
    const uint16_t item1 = Load<uint16_t>(Reference1 + 4);
    const uint16_t item2 = Load<uint16_t>(Reference2 + 4);
    return item1 < item2 ? -1 : item1 > item2 ? 1 : 0;
  }
  return Size <= 0 ? 0 : Sign(std::memcmp(Reference1, Reference2, static_cast<size_t>(Size)));
}

void TVEXRecordKeyRef::SetPartCount(int32_t Value) {
  TVEXBTreeKeyRef::SetPartCount(Value);
  FCompareLengths.assign(static_cast<size_t>(Value), -1);
}

void TVEXRecordKeyRef::Assign(const TVEXIndexDef& IndexDef, TVEXManagedTable* aTableData) {
  LTableData = aTableData;
  TVEXBaseFieldManager* fieldManager =
      aTableData != nullptr ? aTableData->GetFieldManager() : nullptr;
  if (fieldManager == nullptr) throw EVEXException(20044, "Pointer is nil");
  const TVEXFieldDefs& fields = fieldManager->FieldDefs();
  if (fields.Count() == 0) throw EVEXException(20045, "Pointer is nil");
  SetPartCount(IndexDef.ColumnCount());
  FShortKeySize = 0;
  FFullKeySize = 0;
  for (int32_t i = 0; i < IndexDef.ColumnCount(); ++i) {
    const TVEXIndexColumn* column = IndexDef.GetIndexColumn(i);
    const int32_t fieldNo = fields.GetDefNumberByName(column->FieldName);
    const TVEXFieldDef* field = fieldNo >= 0 ? fields.GetDef(fieldNo) : nullptr;
    if (field == nullptr)
      throw EVEXException(20043, "Cannot find index field '%s'", column->FieldName);
    if (field->BaseFieldType == bftBlob || field->BaseFieldType == bftClob ||
        field->BaseFieldType == bftWideClob)
      throw EVEXException(20295,
                          "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not "
                          "supported yet, please use CAST(blob_field, string) function to "
                          "convert BLOB field to a string expression before indexing.",
                          column->FieldName);
    TVEXKeyPart& part = Parts[static_cast<size_t>(i)];
    part.OffsetInShortKeyBuffer = FShortKeySize;
    part.OffsetInFullKeyBuffer = FFullKeySize;
    part.OffsetInRecordBuffer = field->MemoryOffset;
    part.FieldNo = fieldNo;
    part.FullSize = field->MemoryDataSize + 1;
    // Only values compared within their stored bytes can be cut: a number or
    // date cut short would be compared by reading past its part.
    const bool cuttable = IsTextFieldType(field->BaseFieldType) || field->BaseFieldType == bftBytes;
    if (cuttable && column->MaxIndexedSize < field->MemoryDataSize) {
      part.ShortSize = std::max(column->MaxIndexedSize, 0) + 3;
      part.AddedSize = 2;
    } else {
      part.ShortSize = field->MemoryDataSize + 1;
      part.AddedSize = 0;
    }
    part.DataType = field->BaseFieldType;
    part.Descending = column->Descending;
    part.CaseInsensitive = column->CaseInsensitive;
    FShortKeySize += part.ShortSize;
    FFullKeySize += part.FullSize;
  }
  FCompareFieldCount = IndexDef.ColumnCount();
}

void TVEXRecordKeyRef::MakeShortKeyFromRecordBuffer(const uint8_t* RecordBuffer,
                                                    uint8_t* KeyBuffer) {
  for (const TVEXKeyPart& part : Parts) {
    uint8_t* out = KeyBuffer + part.OffsetInShortKeyBuffer;
    if (GetBitFromBuffer(part.FieldNo, RecordBuffer)) {
      out[0] = kNullFlag;
      continue;
    }
    out[0] = 0;
    const int32_t n = part.ShortSize - part.AddedSize - 1;
    std::memcpy(out + 1, RecordBuffer + part.OffsetInRecordBuffer, static_cast<size_t>(n));
    // The cut value always ends, whatever a reused buffer held there.
    if (part.AddedSize > 0) std::memset(out + 1 + n, 0, static_cast<size_t>(part.AddedSize));
  }
  LRecordBuffer = RecordBuffer;
}

void TVEXRecordKeyRef::MakeFullKeyFromRecordBuffer(const uint8_t* RecordBuffer,
                                                   uint8_t* KeyBuffer) const {
  for (const TVEXKeyPart& part : Parts) {
    uint8_t* out = KeyBuffer + part.OffsetInFullKeyBuffer;
    if (GetBitFromBuffer(part.FieldNo, RecordBuffer)) {
      out[0] = kNullFlag;
      continue;
    }
    out[0] = 0;
    std::memcpy(out + 1, RecordBuffer + part.OffsetInRecordBuffer,
                static_cast<size_t>(part.FullSize - 1));
  }
}

void TVEXRecordKeyRef::MakeFullKeyFromRecordID(const uint8_t* Reference, uint8_t* KeyBuffer,
                                               int32_t SessionID) {
  TVEXBaseRecordManager* records = LTableData != nullptr ? LTableData->GetRecordManager() : nullptr;
  TVEXBaseFieldManager* fieldManager =
      LTableData != nullptr ? LTableData->GetFieldManager() : nullptr;
  if (records == nullptr || fieldManager == nullptr)
    throw EVEXException(20170, "Cannot retrieve record for index");
  TVEXMemBlock record =
      TVEXMemBlock::AllocMem(std::max(fieldManager->FieldDefs().GetMemoryRecordBufferSize(), 1));
  TVEXNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  std::memcpy(&info.RecordID, Reference, sizeof(TVEXPageItemID));
  info.RecordBuffer = record.As<uint8_t>();
  info.FirstPosition = false;
  info.LastPosition = false;
  records->GetRecordBuffer(SessionID, info);
  if (info.GetRecordResult != grrOK) throw EVEXException(20170, "Cannot retrieve record for index");
  MakeFullKeyFromRecordBuffer(record.As<uint8_t>(), KeyBuffer);
}

int32_t TVEXRecordKeyRef::ComparePart(const TVEXKeyPart& Part, const uint8_t* Data1,
                                      const uint8_t* Data2, int32_t MaxLength,
                                      int32_t DataSize) const {
  const bool null1 = Data1[0] == kNullFlag;
  const bool null2 = Data2[0] == kNullFlag;
  return CompareValuesAsInteger(Data1 + 1, Data2 + 1, Part.DataType, Part.DataType, null1, null2,
                                MaxLength, Part.CaseInsensitive, LOCALE_USER_DEFAULT, DataSize,
                                DataSize);
}

int32_t TVEXRecordKeyRef::StoredChars(const TVEXKeyPart& Part) const {
  if (!IsTextFieldType(Part.DataType)) return -1;
  const int32_t n = Part.ShortSize - Part.AddedSize - 1;
  return IsWideTextFieldType(Part.DataType) ? n / 2 : n;
}

int32_t TVEXRecordKeyRef::CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2,
                                           bool MayUseFullKeys, int32_t SessionID,
                                           const uint8_t* Reference1,
                                           const uint8_t* Reference2) {
  const int32_t count = std::min(FCompareFieldCount, PartCount());
  for (int32_t i = 0; i < count; ++i) {
    const TVEXKeyPart& part = Parts[static_cast<size_t>(i)];
    const uint8_t* data1 = KeyBuffer1 + part.OffsetInShortKeyBuffer;
    const uint8_t* data2 = KeyBuffer2 + part.OffsetInShortKeyBuffer;
    const int32_t compareLength = FCompareLengths[static_cast<size_t>(i)];
    // The stored bytes of the part, the zero bytes that end a cut value
    // included: no comparison reads beyond them.
    int32_t c = ComparePart(part, data1, data2, compareLength, part.ShortSize - 1);
    if (c == 0 && part.AddedSize != 0 && data1[0] != kNullFlag) {
      if (!MayUseFullKeys) return 0;
      if (Reference2 != nullptr) {
        // Equal prefixes settle the order only when the compared length ends
        // inside the stored prefix, or the value itself ends there.
        const int32_t stored = StoredChars(part);
        bool decided = false;
        if (stored >= 0) {
          if (compareLength >= 0 && compareLength <= stored) {
            decided = true;
          } else {
            const int32_t bytes = part.ShortSize - part.AddedSize - 1;
            int32_t chars = 0;
            if (IsWideTextFieldType(part.DataType)) {
              while (chars < stored && Load<uint16_t>(data1 + 1 + chars * 2) != 0) ++chars;
            } else {
              chars = static_cast<int32_t>(
                  strnlen(reinterpret_cast<const char*>(data1 + 1), static_cast<size_t>(bytes)));
            }
            decided = chars < stored;
          }
        }
        if (!decided) {
          if (Reference1 == nullptr && LRecordBuffer == nullptr) continue;
          TVEXMemBlock full1 = AllocFullKeyBuffer();
          TVEXMemBlock full2 = AllocFullKeyBuffer();
          if (Reference1 != nullptr) {
            MakeFullKeyFromRecordID(Reference1, full1.As<uint8_t>(), SessionID);
          } else {
            MakeFullKeyFromRecordBuffer(LRecordBuffer, full1.As<uint8_t>());
          }
          MakeFullKeyFromRecordID(Reference2, full2.As<uint8_t>(), SessionID);
          return CompareFullKeys(full1.As<uint8_t>(), full2.As<uint8_t>());
        }
      }
      continue;
    }
    if (part.Descending) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

int32_t TVEXRecordKeyRef::CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) {
  const int32_t count = std::min(FCompareFieldCount, PartCount());
  for (int32_t i = 0; i < count; ++i) {
    const TVEXKeyPart& part = Parts[static_cast<size_t>(i)];
    int32_t c = ComparePart(part, KeyBuffer1 + part.OffsetInFullKeyBuffer,
                            KeyBuffer2 + part.OffsetInFullKeyBuffer,
                            FCompareLengths[static_cast<size_t>(i)], part.FullSize - 1);
    if (part.Descending) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

void TVEXRecordKeyRef::SetPartialCompare(const uint8_t* RecordBuffer, bool PartialCompare) {
  FCompareLengths.assign(Parts.size(), -1);
  if (!PartialCompare || RecordBuffer == nullptr) return;
  for (size_t i = 0; i < Parts.size(); ++i) {
    const TVEXKeyPart& part = Parts[i];
    if (!IsTextFieldType(part.DataType) || GetBitFromBuffer(part.FieldNo, RecordBuffer)) continue;
    const uint8_t* text = RecordBuffer + part.OffsetInRecordBuffer;
    const int32_t bytes = part.FullSize - 1;
    int32_t chars = 0;
    if (IsWideTextFieldType(part.DataType)) {
      while (chars < bytes / 2 && Load<uint16_t>(text + chars * 2) != 0) ++chars;
    } else {
      chars = static_cast<int32_t>(
          strnlen(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes)));
    }
    FCompareLengths[i] = chars;
  }
}

TVEXPageKeyRef::TVEXPageKeyRef() {
  TVEXKeyPart part;
  part.ShortSize = 4;
  part.FullSize = 4;
  part.DataType = bftSignedInt32;
  Parts.push_back(part);
  FShortKeySize = 4;
  FFullKeySize = 4;
  FReferenceSize = 2;
  FCompareFieldCount = 1;
}

int32_t TVEXPageKeyRef::CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2,
                                         bool, int32_t, const uint8_t*, const uint8_t*) {
  const int32_t a = Load<int32_t>(KeyBuffer1);
  const int32_t b = Load<int32_t>(KeyBuffer2);
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace vex
