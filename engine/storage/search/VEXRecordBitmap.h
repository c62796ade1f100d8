// The view bitmap of a cursor: one bit per possible record position of the
// table, set for the records that belong to the cursor's restricted view
// (filter, range, DISTINCT), so that moving and counting do not test records
// again.
//
// Design notes
//   1. A bitmap is record-based (bit = the table's bitmap position of a record
//      id) or index-based (bit = the bitmap number of an index position, when
//      the view runs in the order of that index). The table data converts
//      both ways; the bitmap never knows how positions are numbered.
//   2. A record number within the view is 1-based: the count of set bits up
//      to and including the record's bit. A position whose bit is clear gets
//      the number of the nearest view record before it.
//   3. States: inactive (Create, Clear, a record-id Show/HideRecord on an
//      index-based bitmap) -> active (the table search builds it and calls
//      SetActive) -> outdated (the record manager's TableState moved on; read
//      through Outdated). The table data builds it again (RefreshRecordBitmap).
//   4. A record-id Show/HideRecord on an index-based bitmap clears the whole
//      bitmap: a changed record moves index positions, so no bit can be
//      trusted any more.
//   5. The bitmap owns its bits and never the table data.
//
// Threads: a bitmap belongs to one cursor and is used under the lock of the
// database the table belongs to.
#pragma once

#include <cstdint>

#include "foundation/VEXTypes.h"
#include "storage/VEXPage.h"

namespace vex {

class TVEXTableData;
class TVEXIndexPosition;

class TVEXRecordBitmap {
 public:
  // 10425 "Nil pointer occured" without a table data. Empty, inactive,
  // record-based, TableState -1.
  explicit TVEXRecordBitmap(TVEXTableData* aTableData);
  virtual ~TVEXRecordBitmap() = default;
  TVEXRecordBitmap(const TVEXRecordBitmap&) = delete;
  TVEXRecordBitmap& operator=(const TVEXRecordBitmap&) = delete;

  int64_t Size() const { return FBitmap.Size(); }
  // New bits are clear.
  void SetSize(int64_t NewSize);
  // The table's record manager reports a TableState other than the bitmap's.
  bool Outdated() const;
  bool Active() const { return FActive; }
  void SetActive(bool Value) { FActive = Value; }
  bool IndexBased() const { return FIndexBased; }
  void SetIndexBased(bool Value) { FIndexBased = Value; }
  int32_t TableState() const { return FTableState; }
  void SetTableState(int32_t Value) { FTableState = Value; }

  // The number of set bits.
  int64_t GetRecordCount() const { return FBitmap.NonZeroBitCount(); }
  // 1-based record number in the view (design note 2); -1 when the bit lies
  // beyond the bitmap.
  int64_t GetRecNoByRecordID(TVEXPageItemID RecordID);
  int64_t GetRecNoByIndexPos(int32_t IndexID, const TVEXIndexPosition& IndexPos);
  // The record (index position) of the RecNo-th set bit; a number beyond the
  // set bits raises from the bit array.
  TVEXPageItemID GetRecordIDByRecNo(int64_t RecNo);
  void GetIndexPosByRecNo(int32_t IndexID, int64_t RecNo, TVEXIndexPosition& IndexPos);

  // The bit; false beyond the bitmap.
  bool IsRecordVisible(TVEXPageItemID RecordID);
  virtual bool IsRecordVisible(int32_t IndexID, const TVEXIndexPosition& IndexPos);
  // Set or clear a record's bit, growing the bitmap when it lies beyond;
  // on an index-based bitmap clear the whole bitmap instead (design note 4).
  void ShowRecord(TVEXPageItemID RecordID);
  void HideRecord(TVEXPageItemID RecordID);
  // Set or clear the bit of an index position, growing the bitmap as needed.
  void ShowRecord(int32_t IndexID, const TVEXIndexPosition& IndexPos);
  virtual void HideRecord(int32_t IndexID, const TVEXIndexPosition& IndexPos);

  void SetAllBits() { FBitmap.SetAllBits(); }
  // Inactive and size 0.
  void Clear();

  // The next (GoForward) or previous set bit from the current record's, or
  // the first (last) with Restart.
  bool FindRecord(bool Restart, bool GoForward, TVEXPageItemID CurRecordID,
                  TVEXPageItemID& FoundRecordID);
  // The same over index positions; with Restart CurIndexPos is not read.
  bool FindRecord(bool Restart, bool GoForward, const TVEXIndexPosition& CurIndexPos,
                  TVEXIndexPosition& FoundRecordIndexPos, int32_t IndexID);

 protected:
  // For stand-ins that override the index-position members only.
  TVEXRecordBitmap() = default;

 private:
  // The next (GoForward) or previous set bit after the one numbered Current,
  // or from the start (or end) when Restart. A Current below the bitmap
  // restarts a forward search and ends a backward one; one beyond it ends a
  // forward search and restarts a backward one.
  bool FindBit(bool Restart, bool GoForward, int64_t Current, int32_t& Found);
  int64_t RecNoOfBit(int64_t BitNo) const;
  void SetRecordBit(int64_t BitNo, bool Value);
  int32_t BitOfRecNo(int64_t RecNo) const;

  TVEXBitsArray FBitmap;
  TVEXTableData* FTableData = nullptr;
  bool FActive = false;
  bool FIndexBased = false;
  int32_t FTableState = -1;
};

}  // namespace vex
