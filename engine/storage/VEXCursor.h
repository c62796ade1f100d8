// The cursor: one user's view of one table, the contract between the storage
// engine and everything above it.
//
// This is the part of the cursor that the table and database objects work
// with: the table it names, its session, how it opened the table, its copy of
// the field definitions, the record buffer geometry the table sets, and its
// position (the current record id and the before-first / after-last flags),
// which table operations that move it save and restore, and what the table
// search reads of its view: the index order, the filter expressions and the
// dataset's record filter, the range, DISTINCT, the view bitmap and the index
// position cache. The operations of a cursor's own (record editing,
// navigation, BLOBs) are added by the navigation layer, and the local cursor
// of the component layer implements them.
//
// Design notes
//   1. A saved position is an 8-byte block of the engine's memory manager:
//      FirstPosition (1 byte), LastPosition (1 byte), CurrentRecordID.PageNo
//      (4 bytes), CurrentRecordID.PageItemNo (2 bytes). It is owned by the
//      caller that saved it and freed with it.
//   2. A cursor without a session works in no session (id -1) and outside a
//      transaction.
//   3. The filter expressions, the range buffers and the DISTINCT buffer
//      belong to whoever set them; the cursor only points at them. It owns
//      its view bitmap and its index position cache.
//
// Threads: a cursor is used by one thread at a time; the table operations that
// read or move it run under its database's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/VEXGuards.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/search/VEXRecordBitmap.h"
#include "storage/search/VEXScanConditions.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXBaseExpression;

// The dataset's record filter: whether the record in RecordBuffer (a record
// buffer of the cursor, with the record id at BookmarkOffset) is shown.
using TVEXFilterRecordEvent =
    std::function<bool(const uint8_t* RecordBuffer, db::TDataSet* Dataset)>;

class TVEXCursor : public TVEXManagerCursor {
 public:
  TVEXCursor() = default;
  ~TVEXCursor() override = default;
  TVEXCursor(const TVEXCursor&) = delete;
  TVEXCursor& operator=(const TVEXCursor&) = delete;

  const std::string& TableName() const { return FTableName; }
  void SetTableName(std::string_view Value) { FTableName = Value; }
  // Not owned.
  TVEXBaseSession* Session() const { return FSession; }
  void SetSession(TVEXBaseSession* Value) { FSession = Value; }
  bool InTransaction() const { return FSession != nullptr && FSession->InTransaction(); }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value) { FExclusive = Value; }
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool Value) { FInMemory = Value; }
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool Value) { FTemporary = Value; }
  bool IsDesignMode() const { return FIsDesignMode; }
  void SetIsDesignMode(bool Value) { FIsDesignMode = Value; }
  bool IsRepairing() const { return FIsRepairing; }
  void SetIsRepairing(bool Value) { FIsRepairing = Value; }

  TVEXFieldDefs& FieldDefs() { return FFieldDefs; }

  // Record buffer geometry (the table data sets these two).
  int32_t FieldValuesOffset() const { return FFieldValuesOffset; }
  void SetFieldValuesOffset(int32_t Value) { FFieldValuesOffset = Value; }
  int32_t RecordSize() const { return FRecordSize; }
  void SetRecordSize(int32_t Value) { FRecordSize = Value; }

  int32_t RecordBufferSize() const { return FRecordBufferSize; }
  void SetRecordBufferSize(int32_t Value) { FRecordBufferSize = Value; }
  int32_t KeyBufferSize() const { return FKeyBufferSize; }
  void SetKeyBufferSize(int32_t Value) { FKeyBufferSize = Value; }
  int32_t BookmarkOffset() const { return FBookmarkOffset; }
  void SetBookmarkOffset(int32_t Value) { FBookmarkOffset = Value; }

  // The record buffer of the current record (not owned here).
  uint8_t* CurrentRecordBuffer() const { return FCurrentRecordBuffer; }
  void SetCurrentRecordBuffer(uint8_t* Value) { FCurrentRecordBuffer = Value; }

  // A zero-filled buffer of RecordBufferSize bytes; raises what the memory
  // manager raises.
  TVEXMemBlock AllocateRecordBuffer() const { return TVEXMemBlock::AllocMem(FRecordBufferSize); }
  static void FreeRecordBuffer(TVEXMemBlock& Buffer) { Buffer.Reset(); }

  // The order of the view: the ObjectID of an index, -1 for physical order.
  int32_t IndexID() const { return FIndexID; }
  void SetIndexID(int32_t Value) { FIndexID = Value; }

  // The view (design note 3).
  TVEXBaseExpression* FilterExpression = nullptr;
  TVEXBaseExpression* SQLFilterExpression = nullptr;
  TVEXFilterRecordEvent FilterRecord{};
  db::TDataSet* Dataset = nullptr;
  uint8_t* RangeStartBuffer = nullptr;
  uint8_t* RangeEndBuffer = nullptr;
  int32_t RangeStartKeyFieldCount = 0;
  int32_t RangeEndKeyFieldCount = 0;
  bool RangeStartExclusive = false;
  bool RangeEndExclusive = false;
  // The record last shown under DISTINCT, while a DISTINCT step runs.
  uint8_t* DistinctRecordBuffer = nullptr;
  // 0: no DISTINCT.
  int32_t DistinctFieldCount = 0;

  bool IsIndexApplied() const { return FIndexID != -1; }
  bool IsDistinctApplied() const { return DistinctFieldCount > 0; }
  bool IsFilterApplied() const {
    return FilterExpression != nullptr || SQLFilterExpression != nullptr ||
           static_cast<bool>(FilterRecord);
  }
  bool IsRangeApplied() const { return RangeStartBuffer != nullptr || RangeEndBuffer != nullptr; }
  bool IsViewRestricted() const {
    return IsFilterApplied() || IsRangeApplied() || IsDistinctApplied();
  }

  // The bitmap of the restricted view, or none; the cursor owns it.
  std::unique_ptr<TVEXRecordBitmap> RecordBitmap{};
  TVEXIndexPositionCache IndexPositionCache{};

  // The position.
  TVEXPageItemID CurrentRecordID{-1, 0};
  bool FirstPosition = true;
  bool LastPosition = false;

  // The position as a block of its own (design note 1); raises what the
  // memory manager raises.
  TVEXMemBlock SavePosition() const;
  // Puts the position of a block from SavePosition back.
  void RestorePosition(const TVEXMemBlock& Pos);
  // Returns the block; nothing for an empty one.
  static void FreePosition(TVEXMemBlock& Pos) { Pos.Reset(); }

  // TVEXManagerCursor
  int32_t GetSessionID() const override {
    return FSession != nullptr ? FSession->SessionID() : kNoSessionID;
  }
  TVEXPageItemID GetCurrentRecordID() const override { return CurrentRecordID; }
  uint8_t* GetCurrentRecordBuffer() const override { return FCurrentRecordBuffer; }
  const TVEXFieldDefs& GetFieldDefs() const override { return FFieldDefs; }
  TVEXCursor& GetCursor() override { return *this; }

 private:
  std::string FTableName;
  TVEXBaseSession* FSession = nullptr;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FTemporary = false;
  bool FIsDesignMode = false;
  bool FIsRepairing = false;
  TVEXFieldDefs FFieldDefs;
  int32_t FFieldValuesOffset = 0;
  int32_t FRecordSize = 0;
  int32_t FRecordBufferSize = 0;
  int32_t FKeyBufferSize = 0;
  int32_t FBookmarkOffset = 0;
  int32_t FIndexID = -1;
  uint8_t* FCurrentRecordBuffer = nullptr;
};

}  // namespace vex
