// The user BLOB stream: what the dataset hands out for a BLOB field
// (TVEXDataSet::CreateBlobStream). It opens an engine stream of the field
// through the dataset, forwards every stream operation to it, and when it is
// freed closes the engine stream, which puts written data into the record
// buffer, and tells the dataset that the field changed.
//
// Design notes
//   1. The caller owns the user stream; the cursor owns the engine stream. The
//      pair ends once, whichever side ends first: freeing the user stream
//      detaches it and closes the engine stream through the dataset; the
//      cursor closing the engine stream first (post, cancel, closing the
//      field or the table) detaches the user stream (EngineStreamClosed),
//      which then reads and writes nothing.
//   2. The field's Modified flag and the dataset's deFieldChange notice come
//      once, at that end, and only when the engine stream was written. An
//      exception of the notice goes to the dataset's exception handler (the
//      application's, which shows it), never to the caller.
//   3. Without an engine stream (the table was kept locked by another
//      connection for too long, or the record is gone) the stream is usable,
//      reads as empty and writes nothing.
//
// Threads: used on the thread that owns the dataset.
#pragma once

#include <cstdint>

#include "components/VEXLocalCursor.h"
#include "db/DBCommon.h"

namespace db {
class TBlobField;
}

namespace vex {

class TVEXDataSet;

class TVEXBLOBStream final : public TVEXUserBLOBStream {
 public:
  // 10106 "Dataset is in read only mode" for a write mode on a ReadOnly
  // dataset; what opening the engine stream raises (10108, 10111, 10115, ...).
  // bmWrite empties the BLOB at once.
  TVEXBLOBStream(db::TBlobField* Field, db::TBlobStreamMode Mode);
  // Closes the engine stream (design notes 1 and 2); never raises.
  ~TVEXBLOBStream() override;

  // The engine stream, or nullptr.
  TVEXStream* BLOBStream() const { return FBLOBStream; }
  // The stored size of the data; 0 without an engine stream.
  int64_t CompressedSize();
  // Size := current position.
  void Truncate();

  // 0 without an engine stream.
  int32_t Read(void* Buffer, int32_t Count) override;
  // 0 without an engine stream; a write of more than 0 bytes marks the engine
  // stream modified.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, rtl::TSeekOrigin Origin) override;
  int64_t GetSize() override;
  // Nothing without an engine stream; marks it modified when it has NewSize
  // afterwards, also when it had that size before.
  void SetSize(int64_t NewSize) override;

  void EngineStreamClosed(bool Modified) noexcept override;

 private:
  // Field.Modified and the field-change notice (design note 2).
  void NotifyFieldChanged() noexcept;

  db::TBlobField* FField = nullptr;
  TVEXDataSet* FDataSet = nullptr;
  TVEXLocalBLOBStream* FBLOBStream = nullptr;
};

}  // namespace vex
