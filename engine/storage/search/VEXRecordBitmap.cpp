#include "storage/search/VEXRecordBitmap.h"

#include <limits>

#include "foundation/VEXExcept.h"
#include "storage/VEXTableData.h"

namespace vex {

namespace {
// The bit array numbers its bits with 32 bits.
constexpr int64_t kMaxBits = std::numeric_limits<int32_t>::max();

void CheckBitNo(int64_t BitNo) {
  if (BitNo < 0 || BitNo >= kMaxBits)
    throw EVEXException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", BitNo,
                        kMaxBits);
}
}  // namespace

TVEXRecordBitmap::TVEXRecordBitmap(TVEXTableData* aTableData) : FTableData(aTableData) {
  if (aTableData == nullptr) RaiseNilPointer(10425);
}

void TVEXRecordBitmap::SetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > kMaxBits)
    throw EVEXException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", NewSize,
                        kMaxBits);
  FBitmap.SetSize(static_cast<int32_t>(NewSize));
}

bool TVEXRecordBitmap::Outdated() const {
  return FTableData->RecordManager()->TableState() != FTableState;
}

int64_t TVEXRecordBitmap::RecNoOfBit(int64_t BitNo) const {
  if (BitNo < 0 || BitNo >= FBitmap.Size()) return -1;
  return static_cast<int64_t>(FBitmap.GetBitPositionByBitNo(static_cast<int32_t>(BitNo))) + 1;
}

int32_t TVEXRecordBitmap::BitOfRecNo(int64_t RecNo) const {
  if (RecNo < 1 || RecNo > FBitmap.NonZeroBitCount())
    throw EVEXException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", RecNo,
                        static_cast<int64_t>(FBitmap.NonZeroBitCount()));
  return FBitmap.GetBitNoByBitPosition(static_cast<int32_t>(RecNo - 1));
}

int64_t TVEXRecordBitmap::GetRecNoByRecordID(TVEXPageItemID RecordID) {
  return RecNoOfBit(FTableData->GetBitmapRecNoByRecordID(RecordID));
}

int64_t TVEXRecordBitmap::GetRecNoByIndexPos(int32_t IndexID, const TVEXIndexPosition& IndexPos) {
  return RecNoOfBit(FTableData->GetBitmapRecNoByIndexPos(IndexID, IndexPos));
}

TVEXPageItemID TVEXRecordBitmap::GetRecordIDByRecNo(int64_t RecNo) {
  return FTableData->GetRecordIDByBitmapRecNo(BitOfRecNo(RecNo));
}

void TVEXRecordBitmap::GetIndexPosByRecNo(int32_t IndexID, int64_t RecNo,
                                          TVEXIndexPosition& IndexPos) {
  FTableData->GetIndexPosByBitmapRecNo(IndexID, IndexPos, BitOfRecNo(RecNo));
}

bool TVEXRecordBitmap::IsRecordVisible(TVEXPageItemID RecordID) {
  const int64_t bit = FTableData->GetBitmapRecNoByRecordID(RecordID);
  return bit >= 0 && bit < FBitmap.Size() && FBitmap.GetBit(static_cast<int32_t>(bit));
}

bool TVEXRecordBitmap::IsRecordVisible(int32_t IndexID, const TVEXIndexPosition& IndexPos) {
  const int64_t bit = FTableData->GetBitmapRecNoByIndexPos(IndexID, IndexPos);
  return bit >= 0 && bit < FBitmap.Size() && FBitmap.GetBit(static_cast<int32_t>(bit));
}

void TVEXRecordBitmap::SetRecordBit(int64_t BitNo, bool Value) {
  CheckBitNo(BitNo);
  if (BitNo >= FBitmap.Size()) {
    // A clear bit beyond the bitmap is clear already.
    if (!Value) return;
    FBitmap.SetSize(static_cast<int32_t>(BitNo + 1));
  }
  FBitmap.SetBit(static_cast<int32_t>(BitNo), Value);
}

void TVEXRecordBitmap::ShowRecord(TVEXPageItemID RecordID) {
  if (FIndexBased)
    Clear();
  else
    SetRecordBit(FTableData->GetBitmapRecNoByRecordID(RecordID), true);
}

void TVEXRecordBitmap::HideRecord(TVEXPageItemID RecordID) {
  if (FIndexBased)
    Clear();
  else
    SetRecordBit(FTableData->GetBitmapRecNoByRecordID(RecordID), false);
}

void TVEXRecordBitmap::ShowRecord(int32_t IndexID, const TVEXIndexPosition& IndexPos) {
  SetRecordBit(FTableData->GetBitmapRecNoByIndexPos(IndexID, IndexPos), true);
}

void TVEXRecordBitmap::HideRecord(int32_t IndexID, const TVEXIndexPosition& IndexPos) {
  SetRecordBit(FTableData->GetBitmapRecNoByIndexPos(IndexID, IndexPos), false);
}

void TVEXRecordBitmap::Clear() {
  FActive = false;
  FBitmap.SetSize(0);
}

bool TVEXRecordBitmap::FindBit(bool Restart, bool GoForward, int64_t Current,
                               int32_t& Found) {
  int32_t current = 0;
  if (!Restart) {
    if (Current < 0) {
      if (!GoForward) return false;
      Restart = true;
    } else if (Current >= FBitmap.Size()) {
      if (GoForward) return false;
      Restart = true;
    } else {
      current = static_cast<int32_t>(Current);
    }
  }
  return FBitmap.Find(Restart, GoForward, current, Found);
}

bool TVEXRecordBitmap::FindRecord(bool Restart, bool GoForward, TVEXPageItemID CurRecordID,
                                  TVEXPageItemID& FoundRecordID) {
  const int64_t bit = Restart ? 0 : FTableData->GetBitmapRecNoByRecordID(CurRecordID);
  int32_t found = 0;
  if (!FindBit(Restart, GoForward, bit, found)) return false;
  FoundRecordID = FTableData->GetRecordIDByBitmapRecNo(found);
  return true;
}

bool TVEXRecordBitmap::FindRecord(bool Restart, bool GoForward,
                                  const TVEXIndexPosition& CurIndexPos,
                                  TVEXIndexPosition& FoundRecordIndexPos, int32_t IndexID) {
  const int64_t bit = Restart ? 0 : FTableData->GetBitmapRecNoByIndexPos(IndexID, CurIndexPos);
  int32_t found = 0;
  if (!FindBit(Restart, GoForward, bit, found)) return false;
  FTableData->GetIndexPosByBitmapRecNo(IndexID, FoundRecordIndexPos, found);
  return true;
}

}  // namespace vex
