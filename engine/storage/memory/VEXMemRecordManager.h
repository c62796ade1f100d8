// The records of one in-memory table: one growable buffer of fixed-size slots
// and a delete-flag bitmap, both from the engine's memory manager.
//
// A record's id is (slot, 0). A new record always takes the slot after the
// last live one, so physical order is insertion order: deleted slots below the
// last live record stay unused until the table is emptied, while slots above
// it (freed by deleting the last records) are taken again. Record numbers are
// the 1-based positions of the live slots in slot order.
//
// Design notes
//   1. Slot s lies at s * RecordBufferSize in FRecordBuffer; bit s of
//      FDeleteFlagBuffer (byte s / 8, least significant bit first) is set when
//      slot s holds no live record. Every slot below FAllocatedRecordCount has
//      a flag; slots never used are flagged deleted.
//   2. With records, FFirstRecordID and FLastRecordID are the lowest and the
//      highest live slot; without, both are 0.
//   3. RecordCount is the number of live slots, all of them within
//      [FFirstRecordID, FLastRecordID].
//   4. While FNoRecordsDeleted (from creation until the first delete, never
//      set back) slot s holds record number s + 1.
//   5. TableState advances by one with every successful add, update and
//      delete, and with Empty.
//   6. A failed add, update or delete changes nothing and answers false.
//
// Threads: no lock; the table data calls it under its database's lock.
#pragma once

#include <cstdint>

#include "foundation/VEXGuards.h"
#include "storage/VEXIndexManager.h"

namespace vex {

class TVEXMemoryRecordManager : public TVEXBaseRecordManager {
 public:
  // 10011 "Invalid record size = 0" for a record size of 0 outside design
  // time. AllocRecordsBy is the first growth step (at least 1); later steps
  // double the room.
  TVEXMemoryRecordManager(int32_t RecordBufferSize, int32_t AllocRecordsBy);
  ~TVEXMemoryRecordManager() override;

  int32_t AllocatedRecordCount() const { return FAllocatedRecordCount; }
  int32_t FirstRecordID() const { return FFirstRecordID; }
  int32_t LastRecordID() const { return FLastRecordID; }
  bool NoRecordsDeleted() const { return FNoRecordsDeleted; }
  // Whether the slot holds a live record.
  bool IsLiveSlot(int32_t Slot) const;

  // Frees both buffers; no record is left.
  void Empty(int32_t SessionID) override;
  bool AddRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                 TVEXPageItemID& RecordID) override;
  // False for a slot that holds no live record.
  bool UpdateRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                    TVEXPageItemID RecordID) override;
  // False for a slot that holds no live record. Deleting the last live slot
  // leaves RecordID on the new last one.
  bool DeleteRecord(int32_t SessionID, TVEXPageItemID& RecordID) override;
  // Physical order over the live slots; 10019 "Error retrieving record" when
  // the record cannot be copied out.
  void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo) override;
  // By slot, signed: -1, 0 or 1.
  int32_t CompareRecordID(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) override;
  // -1 for an empty table or a slot outside the live range; otherwise an
  // estimate between 1 and RecordCount that grows with the slot.
  int64_t GetApproximateRecNo(int32_t SessionID, TVEXPageItemID RecordID) override;

  // The record number of a slot (note 4 and the flags); -1 for a slot beyond
  // the buffer.
  int64_t RecordIDToRecNo(int32_t Slot) const;
  // The slot of the (N + 1)-th live record; -1 unless 0 <= N < RecordCount.
  int32_t RecNoToRecordID(int64_t N) const;

  // Walks the whole store against the notes above; raises
  // EPageManagerIntegrityError (storage's integrity error) naming what is broken.
  void CheckIntegrity() const;

 private:
  bool IsDeleted(int32_t Slot) const;
  void SetDeleted(int32_t Slot, bool Value);
  // Room for at least one slot more than now (note 1 for the new flags).
  void Grow();
  // The nearest live slot after / before Slot within the live range, or -1.
  int32_t NextLiveSlot(int32_t Slot) const;
  int32_t PriorLiveSlot(int32_t Slot) const;
  uint8_t* SlotAt(int32_t Slot) const {
    return FRecordBuffer.As<uint8_t>() + int64_t{Slot} * FRecordBufferSize;
  }

  TVEXMemBlock FRecordBuffer;
  TVEXMemBlock FDeleteFlagBuffer;
  int32_t FAllocatedRecordCount = 0;
  int32_t FAllocRecordsBy;
  int32_t FFirstRecordID = 0;
  int32_t FLastRecordID = 0;
  bool FNoRecordsDeleted = true;
  uint8_t FBitsTable[256];
};

}  // namespace vex
