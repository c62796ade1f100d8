// Keys of the B-trees and positions inside them.
//
// Every B-tree stores fixed-size entries: a key, then a reference. A key
// reference object describes the key layout of one tree and orders keys:
//   - TVEXRecordKeyRef: keys made of the columns of a table record (table
//     indexes). A short key is what tree pages store: every column, long
//     text and byte columns cut to the column's MaxIndexedSize (other types
//     are always whole). A full key holds every column
//     whole; it is built only when two short keys tie on a cut column, and
//     when two record buffers are compared by index order.
//   - TVEXPageKeyRef: a 32-bit page number (the page indexes of a disk table).
// A key path (TVEXKeyPath) names a position: one (page, entry, entry count)
// item per level from the root.
//
// Record key part layout (short and full keys alike, parts in column order):
//   1 byte   null flag: 0x00 value, 0x01 null (then the data bytes are never
//            compared and keep what the buffer held)
//   n bytes  the field's bytes as the memory record holds them; n is the
//            field's memory data size, or MaxIndexedSize in a cut short part
//   2 bytes  cut short parts only: zero, so a cut text always ends
// The order comes from the typed comparison (CompareValuesAsInteger), never
// from the bytes. Key bytes live only inside tree pages, whose layout
// docs/file-formats.md describes.
//
// Invariants:
//   1. OffsetInShortKeyBuffer / OffsetInFullKeyBuffer of part i are the sums of
//      the ShortSize / FullSize of the parts before it; ShortKeySize and
//      FullKeySize are the sums over all parts.
//   2. A comparison reads a part only inside its own bytes: text stops at its
//      terminator or at the end of the part's stored bytes, whichever comes
//      first, whatever length the caller asked to compare.
//   3. CompareFieldCount and the partial-compare lengths are per-call state:
//      whoever lowers or sets them puts them back on every way out.
//
// Threads: a key reference belongs to one index object and holds per-call
// state, so one operation at a time uses it (callers hold the database lock).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXIndexManager.h"
#include "storage/VEXPage.h"

namespace vex {

class TVEXIndexDef;
class TVEXManagedTable;

// A position in a B-tree; also the index position object the table layer
// keeps per cursor.
class TVEXKeyPath : public TVEXIndexPosition {
 public:
  static constexpr int32_t kMaxLevels = 32;
  struct TItem {
    int32_t PageNo = -1;
    int32_t EntryNo = 0;
    int32_t EntryCount = 0;
  };

  std::array<TItem, kMaxLevels> Items{};
  // Recorded levels.
  int32_t Count = 0;
  // The current level.
  int32_t ItemNo = 0;

  void Clear() {
    Count = 0;
    ItemNo = 0;
  }
  void Assign(const TVEXKeyPath& KeyPath);
  // Writes Items[ItemNo], then advances ItemNo and Count. A 33rd level raises
  // 20051 "Invalid index key path" (no tree of 32-bit page numbers gets there).
  void AddItem(int32_t aPageNo, int32_t aEntryNo, int32_t aEntryCount);
  void DeleteLastItem() {
    --ItemNo;
    --Count;
  }
  void IncLevel() { ++ItemNo; }
  void DecLevel() { --ItemNo; }
  int32_t CurrentPageNo() const { return Items[ItemNo].PageNo; }
  void SetCurrentPageNo(int32_t Value) { Items[ItemNo].PageNo = Value; }
  // Whether one of the recorded levels names that page.
  bool PageExists(int32_t aPageNo) const;
  // -1, 0, 1 by the first level whose entry numbers differ. Paths of another
  // depth raise 20051, paths through other pages 20052 "Invalid index key path".
  int32_t Compare(const TVEXKeyPath& aKeyPath) const;
  // The position as a fraction in [0, 1), each level weighted by the entry
  // counts below it.
  double GetApproxRecNoInPercents() const;
  // The entry numbers + 1 read as digits of base MaxEntriesPerPage + 1, the
  // root most significant; >= 1 for every real position.
  int64_t GetBitmapRecNoByIndexPosition(int32_t MaxEntriesPerPage) const;
  // The inverse: entry numbers only (PageNo -1, EntryCount 0). RecordNo >= 1.
  void FillItemsByBitmapRecNo(int64_t RecordNo, int32_t MaxEntriesPerPage);
};

struct TVEXKeyPart {
  int32_t OffsetInShortKeyBuffer = 0;
  int32_t OffsetInFullKeyBuffer = 0;
  int32_t OffsetInRecordBuffer = 0;
  // The field's number; also its bit in the record's null bitmap.
  int32_t FieldNo = 0;
  int32_t ShortSize = 0;
  // Memory data size + 1.
  int32_t FullSize = 0;
  // 2 when the part is cut in the short key, else 0.
  int32_t AddedSize = 0;
  TVEXBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// The key layout of one B-tree and the order of its keys.
class TVEXBTreeKeyRef {
 public:
  TVEXBTreeKeyRef() = default;
  virtual ~TVEXBTreeKeyRef() = default;
  TVEXBTreeKeyRef(const TVEXBTreeKeyRef&) = delete;
  TVEXBTreeKeyRef& operator=(const TVEXBTreeKeyRef&) = delete;

  int32_t ShortKeySize() const { return FShortKeySize; }
  int32_t FullKeySize() const { return FFullKeySize; }
  uint16_t ReferenceSize() const { return FReferenceSize; }
  void SetReferenceSize(uint16_t Value) { FReferenceSize = Value; }
  int32_t CompareFieldCount() const { return FCompareFieldCount; }
  void SetCompareFieldCount(int32_t Value) { FCompareFieldCount = Value; }
  int32_t PartCount() const { return static_cast<int32_t>(Parts.size()); }
  virtual void SetPartCount(int32_t Value) { Parts.resize(static_cast<size_t>(Value)); }
  bool HasTruncatedParts() const { return FShortKeySize != FFullKeySize; }

  // -1, 0, 1 as key 1 sorts before, with or after key 2. Reference1 and
  // Reference2 are the references of the two entries when the caller knows
  // them; MayUseFullKeys lets a tie on a cut column be settled by the records.
  virtual int32_t CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2,
                                   bool MayUseFullKeys, int32_t SessionID,
                                   const uint8_t* Reference1, const uint8_t* Reference2) = 0;
  virtual int32_t CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) = 0;

  // Zero-filled key buffers from the engine memory manager.
  TVEXMemBlock AllocShortKeyBuffer() const;
  TVEXMemBlock AllocFullKeyBuffer() const;

  // Size 6: record ids, by PageNo (signed) then PageItemNo (unsigned); any
  // other size: the bytes unsigned, first byte first.
  static int32_t CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2,
                                   int32_t Size);

  std::vector<TVEXKeyPart> Parts;

 protected:
  int32_t FShortKeySize = 0;
  int32_t FFullKeySize = 0;
  uint16_t FReferenceSize = 0;
  int32_t FCompareFieldCount = 0;
};

// Keys made of the columns of a table record.
class TVEXRecordKeyRef : public TVEXBTreeKeyRef {
 public:
  TVEXRecordKeyRef() = default;

  void SetPartCount(int32_t Value) override;

  // Builds the parts from the index columns and the table's fields. Raises
  // 20044/20045 "Pointer is nil" without field manager or definitions, 20043
  // "Cannot find index field '%s'" and 20295 for a BLOB column.
  void Assign(const TVEXIndexDef& IndexDef, TVEXManagedTable* aTableData);

  void MakeShortKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* KeyBuffer);
  void MakeFullKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* KeyBuffer) const;

  int32_t CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2,
                           bool MayUseFullKeys, int32_t SessionID, const uint8_t* Reference1,
                           const uint8_t* Reference2) override;
  int32_t CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) override;

  // With PartialCompare, every non-null text column of RecordBuffer compares
  // only as many characters as that text has (a prefix search); otherwise, or
  // for other columns, the whole value.
  void SetPartialCompare(const uint8_t* RecordBuffer, bool PartialCompare);

  const uint8_t* LastRecordBuffer() const { return LRecordBuffer; }
  TVEXManagedTable* TableData() const { return LTableData; }

 private:
  // Reads the record of a 6-byte record id and writes its full key; 20170
  // "Cannot retrieve record for index" when it cannot be read.
  void MakeFullKeyFromRecordID(const uint8_t* Reference, uint8_t* KeyBuffer, int32_t SessionID);
  int32_t ComparePart(const TVEXKeyPart& Part, const uint8_t* Data1, const uint8_t* Data2,
                      int32_t MaxLength, int32_t DataSize) const;
  // The characters of a cut part's stored prefix, for text types; -1 for
  // other types.
  int32_t StoredChars(const TVEXKeyPart& Part) const;

  const uint8_t* LRecordBuffer = nullptr;
  TVEXManagedTable* LTableData = nullptr;
  std::vector<int32_t> FCompareLengths;
};

// A signed 32-bit page number; references are 16-bit counts.
class TVEXPageKeyRef : public TVEXBTreeKeyRef {
 public:
  TVEXPageKeyRef();
  int32_t CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2, bool, int32_t,
                           const uint8_t*, const uint8_t*) override;
  int32_t CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) override {
    return CompareShortKeys(KeyBuffer1, KeyBuffer2, false, -1, nullptr, nullptr);
  }
};

bool IsTextFieldType(TVEXBaseFieldType Type);
bool IsWideTextFieldType(TVEXBaseFieldType Type);

}  // namespace vex
