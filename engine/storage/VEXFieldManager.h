// The field manager of one open table: its field definitions, the conversion of
// records between the memory layout that cursors work on and the disk layout
// that record managers store, default and autoincrement values of new records,
// and the table's autoincrement counters with their stored block.
//
// Design notes
//   1. FLastAutoIncValues has one entry per field in field order once a table
//      is created or loaded (InitLastAutoIncValues); the stored block may
//      bring another count, which IncrementAutoinc checks (30403).
//   2. A counter only moves forward in the direction of its increment:
//      IncrementAutoinc adds the increment, UpdateLastAutoinc raises it to a
//      larger explicit value. It never leaves the range of its field's storage
//      type: a value that would not fit raises 20160 like a passed maximum, so
//      a narrow field never wraps into values it already holds.
//   3. An explicit value in an autoincrement field is read with the sign of the
//      field's type, so -1 in a signed field is -1, not 2^n - 1.
//   4. Every record buffer the manager writes into is a memory record of this
//      table's layout (VEXMetaDefCollections.h); a value is never written past
//      its field's slot (a default too long for it raises 20056).
//   5. The per-session last values live in the session, not here, so sessions
//      sharing the table each see their own.
//
// Threads: no lock of its own; every caller holds the owning database's lock.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefCollections.h"

namespace vex {

class TVEXStream;

// REQUIRES: every method is called with the owning database's lock held.
class TVEXBaseFieldManager {
 public:
  // An empty field collection. aTableData owns the manager (not owned).
  explicit TVEXBaseFieldManager(TVEXManagedTable* aTableData);
  virtual ~TVEXBaseFieldManager();
  TVEXBaseFieldManager(const TVEXBaseFieldManager&) = delete;
  TVEXBaseFieldManager& operator=(const TVEXBaseFieldManager&) = delete;

  TVEXFieldDefs& FieldDefs() { return FFieldDefs; }
  const TVEXFieldDefs& FieldDefs() const { return FFieldDefs; }
  TVEXManagedTable* TableData() const { return FTableData; }
  const std::vector<int64_t>& LastAutoIncValues() const { return FLastAutoIncValues; }

  // The field collection's stream form; loading then recalculates the offsets
  // and restarts the counters (InitLastAutoIncValues).
  void LoadMetadata(TVEXStream& Stream);
  void SaveMetadata(TVEXStream& Stream) const;

  // The autoincrement block (docs/file-formats.md) at Buf[Offset]; Offset moves
  // past it (4 + 8 x count bytes). A block that does not fit in Buf, or a
  // negative count, raises 20164 "Invalid table header data" and changes
  // nothing. Loading takes as many counters as the block holds.
  void LoadMostUpdated(std::span<const uint8_t> Buf, int32_t& Offset);
  void SaveMostUpdated(std::span<uint8_t> Buf, int32_t& Offset) const;

  void RecalcFieldOffsets() { FFieldDefs.RecalcFieldOffsets(); }
  // One counter per field: an autoincrement field's AutoincInitialValue,
  // every other field's 0.
  void InitLastAutoIncValues();

  // Between the layouts: the target is zero-filled (its full size), then the
  // null bitmap and DiskDataSize bytes of every field are copied. A BLOB
  // field's 6-byte id lands in the first 6 of its 10 memory bytes.
  void DiskRecordBufferToMemRecordBuffer(const uint8_t* DiskRecordBuffer,
                                         uint8_t* MemRecordBuffer) const;
  void MemRecordBufferToDiskRecordBuffer(const uint8_t* MemRecordBuffer,
                                         uint8_t* DiskRecordBuffer) const;
  // True when two memory records hold the same stored data: equal null
  // bitmaps and, per field, equal DiskDataSize bytes at its MemoryOffset.
  bool CompareRecordBuffers(const uint8_t* RecordBuffer1, const uint8_t* RecordBuffer2) const;
  // True when a field has a BLOB type; the first such field must have a
  // BLOBBlockSize above 0, else 10421 "BLOB block size should be > 0 for
  // field %s".
  bool BlobFieldsPresent() const;

  // Fills the defaults into a freshly initialised memory record (every field
  // null): a constant default as stored (converted to the field's type when
  // it is stored in another), an expression default evaluated anew. The
  // field's null bit is cleared, except where an expression gives null.
  // BLOB fields and fields without a default are left alone.
  virtual void ApplyDefaultValuesToRecordBuffer(TVEXManagerSession& Session, uint8_t* RecordBuffer);
  // Per autoincrement field: a null field gets GetNextAutoinc; a value given
  // explicitly raises the counter to it when it is larger (UpdateLastAutoinc).
  virtual void ApplyAutoincsToRecordBuffer(TVEXManagerSession& Session, uint8_t* RecordBuffer);
  // IncrementAutoinc, recorded in the session as its last value of the field.
  virtual int64_t GetNextAutoinc(TVEXManagerSession& Session, int32_t FieldNo);
  // The session's last value of the field. Without one a multi-user session
  // raises 30012 "No SequenceLastValue in session for sequence '%s'. Call
  // GetNextVal first"; a single-user session gets the table's counter of an
  // autoincrement field, 0 for another field.
  virtual int64_t GetLastAutoinc(TVEXManagerSession& Session, int32_t FieldNo);
  // A larger InsertedValue becomes the counter and the session's last value;
  // otherwise nothing changes. FieldNo is checked as by IncrementAutoinc.
  void UpdateLastAutoinc(TVEXManagerSession& Session, int32_t FieldNo, int64_t InsertedValue);
  // Raises every autoincrement counter to the record's value of its field when
  // that is larger (null fields are skipped); the session is not touched. An
  // insert that reloads the committed counters after the record took its
  // values keeps them counted this way.
  void KeepAutoincsOfRecordBuffer(const uint8_t* RecordBuffer);

 protected:
  // Advances the field's counter by AutoincIncrement (1 when it is 0) and
  // returns it. Past a non-zero AutoincMaxValue a cycled counter restarts at
  // AutoincMinValue; otherwise, and whenever the value would leave the field's
  // storage type, raises 20160 "Autoinc max value exceeded for field '%s'"
  // (the counter keeps the value past the limit). 30402 / 30403 "Field #%d not
  // found" for a FieldNo beyond the fields / the counters.
  virtual int64_t IncrementAutoinc(int32_t FieldNo);

 private:
  void CheckCounterNo(int32_t FieldNo) const;

  TVEXFieldDefs FFieldDefs;
  TVEXManagedTable* FTableData;
  std::vector<int64_t> FLastAutoIncValues;
};

}  // namespace vex
