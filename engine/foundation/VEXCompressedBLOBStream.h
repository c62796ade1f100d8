// A BLOB's uncompressed bytes, kept in another stream (the carrying stream)
// as a chain of independently compressed blocks.
//
// Block format (all integers little-endian). A BLOB without compression is
// its bytes, raw, from StartPosition on. A compressed BLOB is NumBlocks
// blocks from StartPosition on, each a 20-byte TVEXCompressedStreamBlockHeader
// (VEXTypes.h) directly followed by CompressedSize bytes of CompressBuffer
// output:
//   int32 CompressedSize | int32 UncompressedSize | uint32 Crc32 |
//   int64 OffsetToNextHeader (always 20 + CompressedSize)
// Crc32 is UpdateCrc32 from 0 over the block's uncompressed bytes. Block i
// holds uncompressed bytes i * BlockSize on; every block is full but the
// last, which holds 1 to BlockSize bytes. An empty BLOB has no blocks. The
// descriptor's NumBlocks bounds the chain; bytes behind it belong to nobody.
//
// The chain's headers are read, and checked against each other, the block
// size and the carrying stream, once when the stream is created; block data is
// read only when asked for, and every read decompresses its blocks again.
// Writing only appends: the last, partial block is recompressed in place and
// new blocks follow it.
//
// Failures raise EVEXException with the code of the place. Nothing is rolled
// back: after a failed write or size change the caller drops the stream.
// Not synchronised: one thread uses a stream at a time.
#pragma once

#include <cstdint>

#include "foundation/VEXCompression.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXTypes.h"

namespace vex {

// Where a BLOB's bytes lie in their carrying stream and how they are
// compressed; stored with the BLOB by the storage engine.
#pragma pack(push, 1)
struct TVEXBLOBDescriptor {
  int32_t BlockSize;  // uncompressed bytes per block
  int64_t NumBlocks;  // blocks in the chain
  int64_t UncompressedSize;
  int64_t StartPosition;  // first block header (or raw byte) in the carrying stream
  TVEXCompressionAlgorithm CompressionAlgorithm;
  uint8_t CompressionMode;
  uint8_t Reserved[2];
};
#pragma pack(pop)
static_assert(sizeof(TVEXBLOBDescriptor) == 32);

// The block size a new compressed BLOB gets when its descriptor names none.
int32_t DefaultCompressedBlockSize(uint8_t CompressionMode);

class TVEXCompressedBLOBStream : public TVEXStream {
 public:
  // Opens the BLOB that BLOBDescriptor describes inside Stream, which must
  // outlive this object and is not owned. ToCreate starts a new, empty BLOB
  // at the descriptor's StartPosition. ToRepair accepts a carrying stream
  // that ends early: the chain is cut before the first block that is not
  // wholly there, and the descriptor says so.
  TVEXCompressedBLOBStream(rtl::TStream& Stream, const TVEXBLOBDescriptor& BLOBDescriptor,
                           bool ToCreate, bool ToRepair = false);
  ~TVEXCompressedBLOBStream() override = default;

  // Never reads past the BLOB's size, also where the carrying stream goes on.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Appends: a write at a position inside the data writes nothing and
  // returns 0; past the end, the gap is filled with zero bytes first. A BLOB
  // without compression is written in place and grows to the furthest byte
  // written.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Any target at or past the start is taken; a target of 0 or less is 0.
  int64_t Seek(int64_t Offset, rtl::TSeekOrigin Origin) override;
  // Extends with zero bytes or truncates. A negative size changes nothing.
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override { return FUncompressedSize; }

  // The descriptor as the stream stands; store it back after writing.
  const TVEXBLOBDescriptor& BLOBDescriptor() const { return FBLOBDescriptor; }
  rtl::TStream& CompressedStream() const { return *FCompressedStream; }
  TVEXCompressionAlgorithm CompressionAlgorithm() const { return FCompressionAlgorithm; }
  uint8_t CompressionMode() const { return FCompressionMode; }
  // The carrying stream's whole size, headers and bytes behind the chain
  // included.
  int64_t CompressedSize() { return FCompressedStream->GetSize(); }
  // The percentage the blocks' compressed bytes save on the uncompressed size.
  double CompressionRate();

 private:
  bool Compressed() const { return FCompressionAlgorithm != acaNone; }
  int64_t BlockCount() const { return FHeaders.ItemCount; }
  // The chain's own block size: the inherited BlockSize is a copy setting
  // that users may change, the chain's layout is not.
  int64_t ChainBlockSize() const { return FBLOBDescriptor.BlockSize; }
  void ReadChain();
  void CutChain(int64_t blockCount);
  // A std::malloc'd buffer of block k's uncompressed bytes; the caller frees.
  uint8_t* LoadBlock(int64_t k);
  // Compresses n bytes into header h; the result is a std::malloc'd buffer.
  void* CompressBlock(const void* data, int32_t n, TVEXCompressedStreamBlockHeader& h);
  void WriteBlock(int64_t k, const void* data, int32_t n);
  void UpdateCompressedSize();
  int32_t WriteUncompressed(const void* Buffer, int32_t Count);

  bool FRepair;
  // Positions holds each header's position in the carrying stream; a block's
  // uncompressed start is its number times BlockSize.
  TVEXCompressedStreamBlockHeadersArray FHeaders;
  int64_t FUncompressedSize = 0;
  int64_t FCompressedSize = 0;
  int64_t FStartPosition;
  int64_t FCurrentHeader = 0;
  int64_t FPosition = 0;
  uint8_t FCompressionMode;
  TVEXCompressionAlgorithm FCompressionAlgorithm;
  double FCompressionRate = 0;
  rtl::TStream* FCompressedStream;
  TVEXBLOBDescriptor FBLOBDescriptor;
};

}  // namespace vex
