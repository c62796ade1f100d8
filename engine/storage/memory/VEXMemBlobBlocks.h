// BLOB values of an in-memory table, and the two stream helpers that the
// in-memory and temporary tables share.
//
// A value is one block of the engine's memory manager laid out as
//   int32 NumBlocks | int64 UncompressedSize | the compressed-stream bytes
// (little-endian, packed; the compressed size is the block size - 12). A
// record buffer does not hold the block's address: its BLOB field (10 bytes)
// starts with a 32-bit handle into the table's registry (0 for none; the other
// 6 bytes are 0), and the field's null bit is set exactly when the handle is 0.
//
// A stored record and every cursor's copy of it name the same block, so the
// registry counts, per block, the stored records that name it.
//
// Design notes
//   1. Blocks never change once registered: writing a value always registers a
//      new block.
//   2. A handle is a serial number that is not handed out again while the
//      registry lives, so a stale copy of a record buffer finds no block
//      (a clean error), never another value.
//   3. A block named by a stored record (StoredRefs > 0) is released only when
//      the last stored record naming it is deleted, updated away or the table
//      is emptied, and only after the record store's change succeeded.
//   4. A block no stored record names (a value written into a cursor's buffer
//      and not yet posted) is released when that buffer's value is replaced
//      or cleared; one left behind by a cancelled edit lives until the table
//      is emptied or freed.
//   5. A record is stored only when every handle it names is registered.
//
// Threads: no lock; the table calls it under its database's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "foundation/VEXCompressedBLOBStream.h"
#include "foundation/VEXGuards.h"

namespace vex {

class TVEXFieldDefs;

class TVEXMemoryBlobBlocks {
 public:
  static constexpr int32_t kBlockHeaderSize = 12;

  // The BLOB fields (number and memory offset) of the table's records.
  void SetFields(const TVEXFieldDefs& FieldDefs);
  bool HasBlobFields() const { return !FFields.empty(); }

  // Registers a block in the layout above and answers its handle (note 2).
  uint32_t Add(TVEXMemBlock Block);
  // A new block holding the value; NumBlocks and UncompressedSize go into its
  // header, CompressedSize bytes of Data after it.
  static TVEXMemBlock MakeBlock(int32_t NumBlocks, int64_t UncompressedSize, const uint8_t* Data,
                                int64_t CompressedSize);
  // The block of a handle; nullptr for 0 or a handle not registered.
  const uint8_t* Find(uint32_t Handle) const;

  // The handle in a record buffer's field, and setting it with the null bit.
  uint32_t HandleOf(const uint8_t* RecordBuffer, int32_t FieldNo) const;
  void SetHandle(uint8_t* RecordBuffer, int32_t FieldNo, uint32_t Handle) const;

  // Releases the block when no stored record names it (note 4).
  void ReleaseIfUnstored(uint32_t Handle);
  // Note 5: ErrorCode "Nil pointer occured" for a handle not registered.
  void CheckHandles(const uint8_t* RecordBuffer, int32_t ErrorCode) const;
  // A record naming these blocks was stored / is gone (note 3).
  void AddStoredRefs(const uint8_t* RecordBuffer);
  void ReleaseStoredRefs(const uint8_t* RecordBuffer);
  // Every block a stored record names goes (the table is emptied).
  void ReleaseStored();

  int32_t BlockCount() const { return static_cast<int32_t>(FBlocks.size()); }
  int32_t StoredRefs(uint32_t Handle) const;

 private:
  struct TEntry {
    TVEXMemBlock Block;
    int32_t StoredRefs = 0;
  };
  struct TField {
    int32_t FieldNo;
    int32_t Offset;
  };
  const TField* FieldOf(int32_t FieldNo) const;

  std::vector<TField> FFields;
  std::unordered_map<uint32_t, TEntry> FBlocks;
  uint32_t FLastHandle = 0;
};

// A compressed-BLOB stream that owns the stream carrying its bytes: what the
// in-memory and temporary tables hand to the BLOB stream factory.
class TVEXOwningCompressedBLOBStream : private std::unique_ptr<TVEXStream>,
                                       public TVEXCompressedBLOBStream {
 public:
  TVEXOwningCompressedBLOBStream(std::unique_ptr<TVEXStream> Carrier,
                                 const TVEXBLOBDescriptor& BLOBDescriptor, bool ToCreate);
};

// The compressed-BLOB stream behind a BLOB stream a table handed out: the
// stream itself, or what the factory's stream took over. ErrorCode "Nil
// pointer occured" when it is neither.
TVEXCompressedBLOBStream& CompressedBLOBStreamOf(TVEXStream& BLOBStream, int32_t ErrorCode);
// The factory's stream over Stream for the cursor's field, or Stream itself
// while no factory is installed.
class TVEXCursor;
enum TVEXBLOBOpenMode : uint8_t;
std::unique_ptr<TVEXStream> MakeEngineBLOBStream(std::unique_ptr<TVEXStream> Stream,
                                                 TVEXCursor& Cursor, TVEXBLOBOpenMode OpenMode,
                                                 int32_t FieldNo);

}  // namespace vex
