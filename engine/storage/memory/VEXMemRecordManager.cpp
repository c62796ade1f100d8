#include "storage/memory/VEXMemRecordManager.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "storage/VEXPage.h"
#include "storage/VEXTableData.h"
#include "storage/memory/VEXMemEngineSupport.h"

namespace vex {

using enginesupport::ResizeBlock;

TVEXMemoryRecordManager::TVEXMemoryRecordManager(int32_t RecordBufferSize, int32_t AllocRecordsBy)
    : FAllocRecordsBy(std::max(AllocRecordsBy, 1)) {
  if (RecordBufferSize <= 0 && !DesignMode()) throw EVEXException(10011, "Invalid record size = 0");
  FRecordBufferSize = std::max(RecordBufferSize, 0);
  for (int b = 0; b < 256; ++b)
    FBitsTable[b] = static_cast<uint8_t>(8 - std::popcount(unsigned(b)));
}

TVEXMemoryRecordManager::~TVEXMemoryRecordManager() { Empty(kSystemSessionID); }

bool TVEXMemoryRecordManager::IsDeleted(int32_t Slot) const {
  return (FDeleteFlagBuffer.As<uint8_t>()[Slot / 8] >> (Slot % 8) & 1) != 0;
}

void TVEXMemoryRecordManager::SetDeleted(int32_t Slot, bool Value) {
  uint8_t& byte = FDeleteFlagBuffer.As<uint8_t>()[Slot / 8];
  const auto bit = static_cast<uint8_t>(1u << (Slot % 8));
  byte = Value ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}

bool TVEXMemoryRecordManager::IsLiveSlot(int32_t Slot) const {
  return FRecordCount > 0 && Slot >= FFirstRecordID && Slot <= FLastRecordID && !IsDeleted(Slot);
}

void TVEXMemoryRecordManager::Empty(int32_t /*SessionID*/) {
  FRecordBuffer.Reset();
  FDeleteFlagBuffer.Reset();
  FAllocatedRecordCount = 0;
  FRecordCount = 0;
  FFirstRecordID = 0;
  FLastRecordID = 0;
  ++FTableState;
}

void TVEXMemoryRecordManager::Grow() {
  // Geometric growth keeps appends linear; the first step is the table's.
  const int64_t wanted = FAllocatedRecordCount == 0
                             ? int64_t{FAllocRecordsBy}
                             : std::max<int64_t>(int64_t{FAllocatedRecordCount} * 2,
                                                 int64_t{FAllocatedRecordCount} + FAllocRecordsBy);
  const auto newCount =
      static_cast<int32_t>(std::min<int64_t>(wanted, std::numeric_limits<int32_t>::max()));
  if (newCount <= FAllocatedRecordCount)
    throw EVEXException(30004, "Cannot allocate memory for %d records", int64_t{wanted});
  const int64_t oldFlagBytes = (int64_t{FAllocatedRecordCount} + 7) / 8;
  const int64_t newFlagBytes = (int64_t{newCount} + 7) / 8;
  ResizeBlock(FRecordBuffer, int64_t{newCount} * std::max(FRecordBufferSize, 1));
  ResizeBlock(FDeleteFlagBuffer, newFlagBytes);
  // Slots never used read as deleted (note 1); the partial last byte of the
  // old size already has its high bits set.
  uint8_t* flags = FDeleteFlagBuffer.As<uint8_t>();
  std::memset(flags + oldFlagBytes, 0xFF, static_cast<size_t>(newFlagBytes - oldFlagBytes));
  if (FAllocatedRecordCount % 8 != 0)
    flags[oldFlagBytes - 1] |= static_cast<uint8_t>(0xFFu << (FAllocatedRecordCount % 8));
  FAllocatedRecordCount = newCount;
}

bool TVEXMemoryRecordManager::AddRecord(int32_t /*SessionID*/, const uint8_t* RecordBuffer,
                                        TVEXPageItemID& RecordID) {
  try {
    if (FRecordCount > 0 && FLastRecordID == std::numeric_limits<int32_t>::max()) return false;
    const int32_t slot = FRecordCount == 0 ? 0 : FLastRecordID + 1;
    while (slot >= FAllocatedRecordCount) Grow();
    std::memcpy(SlotAt(slot), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
    SetDeleted(slot, false);
    FFirstRecordID = FRecordCount == 0 ? slot : std::min(FFirstRecordID, slot);
    FLastRecordID = FRecordCount == 0 ? slot : std::max(FLastRecordID, slot);
    ++FRecordCount;
    ++FTableState;
    RecordID = {slot, 0};
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TVEXMemoryRecordManager::UpdateRecord(int32_t /*SessionID*/, const uint8_t* RecordBuffer,
                                           TVEXPageItemID RecordID) {
  if (!IsLiveSlot(RecordID.PageNo)) return false;
  std::memcpy(SlotAt(RecordID.PageNo), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
  ++FTableState;
  return true;
}

int32_t TVEXMemoryRecordManager::NextLiveSlot(int32_t Slot) const {
  if (FRecordCount == 0) return -1;
  for (int64_t s = std::max<int64_t>(int64_t{Slot} + 1, FFirstRecordID); s <= FLastRecordID; ++s)
    if (!IsDeleted(static_cast<int32_t>(s))) return static_cast<int32_t>(s);
  return -1;
}

int32_t TVEXMemoryRecordManager::PriorLiveSlot(int32_t Slot) const {
  if (FRecordCount == 0) return -1;
  for (int64_t s = std::min<int64_t>(int64_t{Slot} - 1, FLastRecordID); s >= FFirstRecordID; --s)
    if (!IsDeleted(static_cast<int32_t>(s))) return static_cast<int32_t>(s);
  return -1;
}

bool TVEXMemoryRecordManager::DeleteRecord(int32_t /*SessionID*/, TVEXPageItemID& RecordID) {
  RecordID.PageItemNo = 0;
  const int32_t slot = RecordID.PageNo;
  if (!IsLiveSlot(slot)) return false;
  SetDeleted(slot, true);
  --FRecordCount;
  if (FRecordCount == 0) {
    FFirstRecordID = 0;
    FLastRecordID = 0;
  } else {
    if (slot == FFirstRecordID) FFirstRecordID = NextLiveSlot(slot);
    if (slot == FLastRecordID) {
      FLastRecordID = PriorLiveSlot(slot);
      RecordID.PageNo = FLastRecordID;
    }
  }
  FNoRecordsDeleted = false;
  ++FTableState;
  return true;
}

void TVEXMemoryRecordManager::GetRecordBuffer(int32_t /*SessionID*/,
                                              TVEXNavigationInfo& NavigationInfo) {
  TVEXNavigationInfo& info = NavigationInfo;
  if (FRecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  int32_t slot = -1;
  if (info.FirstPosition) {
    if (info.GetRecordMode == grmNext) slot = FFirstRecordID;
    info.GetRecordResult = info.GetRecordMode == grmNext    ? grrOK
                           : info.GetRecordMode == grmPrior ? grrBOF
                                                            : grrError;
    if (info.GetRecordResult == grrOK) info.FirstPosition = false;
  } else if (info.LastPosition) {
    if (info.GetRecordMode == grmPrior) slot = FLastRecordID;
    info.GetRecordResult = info.GetRecordMode == grmPrior  ? grrOK
                           : info.GetRecordMode == grmNext ? grrEOF
                                                           : grrError;
    if (info.GetRecordResult == grrOK) info.LastPosition = false;
  } else {
    const int32_t current = info.RecordID.PageNo;
    switch (info.GetRecordMode) {
      case grmCurrent:
        slot = IsLiveSlot(current) ? current : -1;
        info.GetRecordResult = slot >= 0 ? grrOK : grrError;
        break;
      case grmNext:
        slot = NextLiveSlot(current);
        info.GetRecordResult = slot >= 0 ? grrOK : grrEOF;
        break;
      case grmPrior:
        slot = PriorLiveSlot(current);
        info.GetRecordResult = slot >= 0 ? grrOK : grrBOF;
        break;
    }
  }
  if (info.GetRecordResult == grrEOF || info.GetRecordResult == grrBOF) info.SetEndOfMove();
  if (info.GetRecordResult != grrOK) return;
  info.RecordID = {slot, 0};
  if (info.RecordBuffer == nullptr || !FRecordBuffer)
    throw EVEXException(10019, "Error retrieving record");
  std::memcpy(info.RecordBuffer, SlotAt(slot), static_cast<size_t>(FRecordBufferSize));
}

int32_t TVEXMemoryRecordManager::CompareRecordID(TVEXPageItemID RecordID1,
                                                 TVEXPageItemID RecordID2) {
  return RecordID1.PageNo > RecordID2.PageNo ? 1 : RecordID1.PageNo < RecordID2.PageNo ? -1 : 0;
}

int64_t TVEXMemoryRecordManager::GetApproximateRecNo(int32_t /*SessionID*/,
                                                     TVEXPageItemID RecordID) {
  const int32_t slot = RecordID.PageNo;
  if (FRecordCount == 0 || slot < FFirstRecordID || slot > FLastRecordID) return -1;
  if (FRecordCount == 1 || FLastRecordID == FFirstRecordID) return 1;
  // The slot's share of the live range, spread over the records.
  return 1 + (int64_t{slot} - FFirstRecordID) * (FRecordCount - 1) /
                 (int64_t{FLastRecordID} - FFirstRecordID);
}

int64_t TVEXMemoryRecordManager::RecordIDToRecNo(int32_t Slot) const {
  if (Slot < 0 || Slot >= FAllocatedRecordCount) return -1;
  if (FNoRecordsDeleted) return int64_t{Slot} + 1;
  const uint8_t* flags = FDeleteFlagBuffer.As<uint8_t>();
  int64_t live = 0;
  for (int32_t byte = 0; byte < Slot / 8; ++byte) live += FBitsTable[flags[byte]];
  for (int32_t bit = 0; bit <= Slot % 8; ++bit)
    if ((flags[Slot / 8] >> bit & 1) == 0) ++live;
  return live;
}

int32_t TVEXMemoryRecordManager::RecNoToRecordID(int64_t N) const {
  if (N < 0 || N >= FRecordCount) return -1;
  if (FNoRecordsDeleted) return static_cast<int32_t>(N);
  const uint8_t* flags = FDeleteFlagBuffer.As<uint8_t>();
  const int64_t wanted = N + 1;
  int64_t live = 0;
  int32_t byte = 0;
  const int32_t byteCount = (FAllocatedRecordCount + 7) / 8;
  while (byte < byteCount && live + FBitsTable[flags[byte]] < wanted)
    live += FBitsTable[flags[byte++]];
  if (byte >= byteCount) return -1;
  for (int32_t bit = 0; bit < 8; ++bit) {
    if ((flags[byte] >> bit & 1) == 0 && ++live == wanted) return byte * 8 + bit;
  }
  return -1;
}

void TVEXMemoryRecordManager::CheckIntegrity() const {
  std::string faults;
  int64_t live = 0;
  int32_t first = -1;
  int32_t last = -1;
  for (int32_t s = 0; s < FAllocatedRecordCount; ++s) {
    if (IsDeleted(s)) continue;
    ++live;
    if (first < 0) first = s;
    last = s;
  }
  if (live != FRecordCount)
    faults += "live slots " + std::to_string(live) + " but RecordCount " +
              std::to_string(FRecordCount) + "; ";
  if (live > 0 && (first != FFirstRecordID || last != FLastRecordID))
    faults += "first/last live slot " + std::to_string(first) + "/" + std::to_string(last) +
              " but recorded " + std::to_string(FFirstRecordID) + "/" +
              std::to_string(FLastRecordID) + "; ";
  if (live == 0 && (FFirstRecordID != 0 || FLastRecordID != 0))
    faults += "an empty store names a first or last slot; ";
  if (FNoRecordsDeleted && live > 0 && (first != 0 || last != live - 1))
    faults += "records were never deleted but the slots have gaps; ";
  if (FAllocatedRecordCount > 0 && MemoryManager->GetMemoryBufferSize(FRecordBuffer.Get()) <
                                       int64_t{FAllocatedRecordCount} * FRecordBufferSize)
    faults += "the record buffer is shorter than its slots; ";
  if (!faults.empty()) throw EPageManagerIntegrityError("memory record store: " + faults);
}

}  // namespace vex
