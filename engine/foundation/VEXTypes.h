// Small containers shared by the storage engine, the compressed BLOB stream and
// the SQL engine: a growable integer array, the block-header index of a
// compressed stream, a bitmap that keeps its set-bit count, and the bit access
// used by record null bitmaps and key flags.
//
// None of them locks: their owners serialise every access. The integer and
// header arrays do not check item numbers; callers keep them within
// 0 .. ItemCount - 1. The bitmap checks its bit numbers and raises
// EVEXException with the code of the operation.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtl {
class TStream;
}

namespace vex {

// A growable array of 32-bit integers whose growth step doubles, up to
// MaxAllocBy, every time it has to grow. The fields are public because the
// engine reads and indexes them directly. Items.size() is the capacity.
class TVEXIntegerArray {
 public:
  std::vector<int32_t> Items;
  int32_t ItemCount = 0;
  int32_t AllocBy;
  int32_t deAllocBy;
  int32_t MaxAllocBy;
  int32_t AllocItemCount = 0;

  TVEXIntegerArray(int32_t size, int32_t DefaultAllocBy, int32_t MaximumAllocBy);

  // Growth past the capacity doubles AllocBy first; a shrink that would leave
  // more than deAllocBy free slots cuts the storage to newSize. Growth inside
  // the capacity does not clear the items it brings back into use.
  void SetSize(int32_t newSize);
  void Append(int32_t value);
  // An ItemNo at or past the new last index appends.
  void Insert(int32_t ItemNo, int32_t value);
  // Never shrinks the capacity.
  void Delete(int32_t ItemNo);
  // Neighbours swap; otherwise the item lands at newItemNo when moving down,
  // at newItemNo - 1 when moving up.
  void MoveTo(int32_t itemNo, int32_t newItemNo);
  void CopyTo(int32_t* ar, int32_t itemNo, int32_t iCount) const;
  bool IsValueExists(int32_t value) const;
  int32_t IndexOf(int32_t value) const;
  void Assign(const TVEXIntegerArray& v);
};

// The 20-byte header written in front of every block of a compressed stream.
#pragma pack(push, 1)
struct TVEXCompressedStreamBlockHeader {
  int32_t CompressedSize;
  int32_t UncompressedSize;
  uint32_t Crc32;
  int64_t OffsetToNextHeader;
};
#pragma pack(pop)
static_assert(sizeof(TVEXCompressedStreamBlockHeader) == 20);

// The headers of a compressed stream's blocks, each with an ascending position.
// The compressed BLOB stream stores where each header lies in its carrying
// stream (what loading, rewriting and truncating need); FindPosition works on
// whatever ascending positions the owner stores.
class TVEXCompressedStreamBlockHeadersArray {
 public:
  std::vector<TVEXCompressedStreamBlockHeader> Items;
  std::vector<int64_t> Positions;
  int64_t ItemCount = 0;

  TVEXCompressedStreamBlockHeadersArray() = default;

  // The growth policy of TVEXIntegerArray, on both arrays at once.
  void SetSize(int64_t NewSize);
  void AppendItem(const TVEXCompressedStreamBlockHeader& Value, int64_t Pos);
  // The last block starting at or before Pos; 0 when empty or Pos lies before
  // the first block.
  int32_t FindPosition(int64_t Pos) const;

 private:
  int64_t AllocBy = 10;
  int64_t DeAllocBy = 10;
  int64_t MaxAllocBy = 10000;
  int64_t AllocItemCount = 0;
};

// A bitmap in a memory-manager buffer that always knows how many of its bits
// are set. Bits past Size in the last byte are kept clear, so growing the
// bitmap never brings back a set bit that the count does not know about.
class TVEXBitsArray {
 public:
  TVEXBitsArray();
  ~TVEXBitsArray();
  TVEXBitsArray(const TVEXBitsArray&) = delete;
  TVEXBitsArray& operator=(const TVEXBitsArray&) = delete;

  int32_t Size() const { return FBitCount; }
  int32_t BitCount() const { return FBitCount; }
  // New bits are clear; shrinking recounts the remaining set bits.
  void SetSize(int32_t n);
  int32_t NonZeroBitCount() const { return FNonZeroBitCount; }

  // Stream form: bit count and set-bit count (4 bytes each, little-endian),
  // then the bitmap bytes when there is at least one bit.
  void LoadFromStream(rtl::TStream& Stream);
  void SaveToStream(rtl::TStream& Stream) const;

  bool GetBit(int32_t BitNo) const;
  void SetBit(int32_t BitNo, bool Value);
  void SetAllBits();
  // The number of the BitPosition-th set bit, counting from 0.
  int32_t GetBitNoByBitPosition(int32_t BitPosition) const;
  // The count of set bits among bits 0 .. BitNo, minus one.
  int32_t GetBitPositionByBitNo(int32_t BitNo) const;
  // The first bit equal to Value, from bit 0.
  bool FindBit(bool Value, int32_t& BitNo) const;
  // The next set bit after CurBitNo (GoForward) or before it; with Restart the
  // scan starts at bit 0 or at the last bit, inclusive.
  bool Find(bool Restart, bool GoForward, int32_t CurBitNo, int32_t& FoundBitNo) const;

 private:
  int32_t ByteCount() const { return (FBitCount + 7) / 8; }
  void ClearTailBits();
  int32_t CountBits(int32_t bitCount) const;
  int32_t CountBytes(int32_t from, int32_t to) const;
  int32_t SetBitsBeforeByte(int32_t byteNo) const;
  void ForgetCachedPlace();

  uint8_t* FBits = nullptr;
  int32_t FBitCount = 0;
  int32_t FNonZeroBitCount = 0;
  // Bytes of FBits; those past ByteCount() are always zero.
  int32_t FCapacity = 0;
  // The last place a position search stopped: byte number (high half) and the
  // set bits in the bytes before it (low half). Kept in one atomic word so
  // that readers sharing a const bitmap never see half an update.
  mutable std::atomic<uint64_t> FCachedPlace{0};
  uint8_t FBitsTable[256];
};

// Bit BitNo of a byte buffer: byte BitNo / 8, bit BitNo % 8, least significant
// first. In a record's null bitmap a set bit marks the field null.
bool GetBitFromBuffer(int32_t BitNo, const void* Buffer);
void SetBitInBuffer(bool Value, int32_t BitNo, void* Buffer);

}  // namespace vex
