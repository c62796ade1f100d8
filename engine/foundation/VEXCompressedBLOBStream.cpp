#include "foundation/VEXCompressedBLOBStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"

namespace vex {

namespace {

constexpr int32_t kHeaderSize = sizeof(TVEXCompressedStreamBlockHeader);

constexpr const char* kTooSmall = "Stream size = %d too small. Should be at least = %d";
constexpr const char* kCompressFailed =
    "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d";
constexpr const char* kDecompressFailed =
    "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d";
constexpr const char* kWrongSize =
    "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d";
constexpr const char* kWrongChecksum = "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d";
constexpr const char* kInvalidSize = "Invalid stream size = %d. Should be = %d";
constexpr const char* kSeekFailed = "Cannot set stream position to %d. Position = %d, Size = %d";
constexpr const char* kWriteError = "Error writing to stream";

}  // namespace

int32_t DefaultCompressedBlockSize(uint8_t CompressionMode) {
  if (CompressionMode == 0) return 102400;
  if (CompressionMode <= 3) return 524288;
  if (CompressionMode <= 6) return 1048576;
  return 1572864;
}

TVEXCompressedBLOBStream::TVEXCompressedBLOBStream(rtl::TStream& Stream,
                                                   const TVEXBLOBDescriptor& BLOBDescriptor,
                                                   bool ToCreate, bool ToRepair)
    : FRepair(ToRepair),
      FStartPosition(BLOBDescriptor.StartPosition),
      FCompressionMode(BLOBDescriptor.CompressionMode),
      FCompressionAlgorithm(BLOBDescriptor.CompressionAlgorithm),
      FCompressedStream(&Stream),
      FBLOBDescriptor(BLOBDescriptor) {
  SeekStreamChecked(Stream, 10103, FStartPosition);
  SetBlockSize(FBLOBDescriptor.BlockSize);
  if (!Compressed()) {
    if (ToCreate) {
      FBLOBDescriptor.UncompressedSize = 0;
    } else {
      FUncompressedSize = FBLOBDescriptor.UncompressedSize;
      const int64_t size = Stream.GetSize();
      // The message's end wraps instead of overflowing when a damaged
      // descriptor holds nonsense; the test itself compares without adding, so
      // a size that wraps the end cannot pass it.
      const int64_t end = int64_t(uint64_t(FStartPosition) + uint64_t(FUncompressedSize));
      if (!ToRepair && (FUncompressedSize < 0 || size - FStartPosition < FUncompressedSize))
        throw EVEXException(10081, kTooSmall, size, end);
    }
    FCompressedSize = FUncompressedSize;
    return;
  }
  if (ToCreate) {
    FBLOBDescriptor.NumBlocks = 0;
    FBLOBDescriptor.UncompressedSize = 0;
  }
  // Without blocks any block size fits the chain, and every later division
  // needs one.
  if (FBLOBDescriptor.BlockSize <= 0 && FBLOBDescriptor.NumBlocks <= 0)
    FBLOBDescriptor.BlockSize = DefaultCompressedBlockSize(FCompressionMode);
  SetBlockSize(FBLOBDescriptor.BlockSize);
  ReadChain();
}

void TVEXCompressedBLOBStream::ReadChain() {
  rtl::TStream& stream = *FCompressedStream;
  FUncompressedSize = 0;
  FCompressedSize = 0;
  FHeaders.SetSize(0);
  const int64_t size = stream.GetSize();
  const int64_t blockSize = ChainBlockSize();
  int64_t p = FStartPosition;
  for (int64_t k = 0; k < FBLOBDescriptor.NumBlocks; ++k) {
    if (size - p < kHeaderSize) {
      if (FRepair) return CutChain(k);
      throw EVEXException(10082, kTooSmall, size, p + kHeaderSize);
    }
    TVEXCompressedStreamBlockHeader h;
    stream.ReadBuffer(&h, kHeaderSize);
    // A damaged header must not decide what is allocated or decompressed:
    // sizes are checked against the format here, before any block is read.
    if (h.CompressedSize <= 0 || h.OffsetToNextHeader != kHeaderSize + int64_t(h.CompressedSize))
      throw EVEXException(10083, kSeekFailed, int64_t(uint64_t(p) + uint64_t(h.OffsetToNextHeader)),
                          p + kHeaderSize, size);
    if (h.UncompressedSize <= 0 || h.UncompressedSize > blockSize)
      throw EVEXException(10088, kWrongSize, blockSize, int32_t(h.UncompressedSize));
    // Only the last block may be partial.
    if (k > 0 && FHeaders.Items[k - 1].UncompressedSize != blockSize)
      throw EVEXException(10088, kWrongSize, blockSize,
                          int32_t(FHeaders.Items[k - 1].UncompressedSize));
    if (size - p - kHeaderSize < h.CompressedSize) {
      // A block torn off by the end of the stream is no block.
      if (FRepair) return CutChain(k);
      throw EVEXException(10082, kTooSmall, size, p + kHeaderSize + h.CompressedSize);
    }
    FHeaders.AppendItem(h, p);
    FUncompressedSize += h.UncompressedSize;
    FCompressedSize += h.CompressedSize;
    p += h.OffsetToNextHeader;
    SeekStreamChecked(stream, 10083, p);
  }
}

void TVEXCompressedBLOBStream::CutChain(int64_t blockCount) {
  FHeaders.SetSize(blockCount);
  FBLOBDescriptor.NumBlocks = blockCount;
  // The descriptor's size is the sum of its blocks' sizes.
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
}

uint8_t* TVEXCompressedBLOBStream::LoadBlock(int64_t k) {
  const TVEXCompressedStreamBlockHeader& h = FHeaders.Items[k];
  rtl::TStream& stream = *FCompressedStream;
  TVEXMemBlock compressed = TVEXMemBlock::GetMem(h.CompressedSize);
  stream.Seek(FHeaders.Positions[k] + kHeaderSize, rtl::soFromBeginning);
  ReadStreamChecked(compressed.As<uint8_t>(), h.CompressedSize, stream, 10086);
  void* out = nullptr;
  int32_t outSize = h.UncompressedSize;
  if (!DecompressBuffer(FCompressionAlgorithm, compressed.As<uint8_t>(), h.CompressedSize, out,
                        outSize))
    throw EVEXException(10087, kDecompressFailed, int32_t(FCompressionAlgorithm),
                        int32_t(h.CompressedSize), int32_t(h.UncompressedSize));
  TVEXMallocPtr<uint8_t> block(static_cast<uint8_t*>(out));
  if (outSize != h.UncompressedSize)
    throw EVEXException(10088, kWrongSize, outSize, int32_t(h.UncompressedSize));
  const uint32_t crc = UpdateCrc32(0, block.get(), outSize);
  if (crc != h.Crc32) throw EVEXException(10089, kWrongChecksum, crc, uint32_t(h.Crc32));
  return block.release();
}

void* TVEXCompressedBLOBStream::CompressBlock(const void* data, int32_t n,
                                              TVEXCompressedStreamBlockHeader& h) {
  h.UncompressedSize = n;
  h.Crc32 = UpdateCrc32(0, data, n);
  void* out = nullptr;
  int32_t outSize = 0;
  const bool done = CompressBuffer(FCompressionAlgorithm, FCompressionMode, data, n, out, outSize);
  h.CompressedSize = outSize;
  if (!done) {
    std::free(out);
    throw EVEXException(10085, kCompressFailed, int32_t(FCompressionAlgorithm),
                        int32_t(FCompressionMode), n, outSize);
  }
  return out;
}

void TVEXCompressedBLOBStream::WriteBlock(int64_t k, const void* data, int32_t n) {
  TVEXCompressedStreamBlockHeader& h = FHeaders.Items[k];
  TVEXMallocPtr<uint8_t> compressed(static_cast<uint8_t*>(CompressBlock(data, n, h)));
  h.OffsetToNextHeader = kHeaderSize + int64_t(h.CompressedSize);
  rtl::TStream& stream = *FCompressedStream;
  SeekStreamChecked(stream, 10099, FHeaders.Positions[k]);
  WriteStreamChecked(&h, kHeaderSize, stream, 10100);
  WriteStreamChecked(compressed.get(), h.CompressedSize, stream, 10101);
}

void TVEXCompressedBLOBStream::UpdateCompressedSize() {
  if (Compressed() && FUncompressedSize > 0) {
    FCompressedSize = 0;
    for (int64_t k = 0; k < BlockCount(); ++k) FCompressedSize += FHeaders.Items[k].CompressedSize;
  } else {
    FCompressedSize = FUncompressedSize;
  }
  FCompressionRate = CompressionRate();
}

double TVEXCompressedBLOBStream::CompressionRate() {
  if (!Compressed() || FUncompressedSize <= 0) return 0;
  return (1.0 - double(FCompressedSize) / double(FUncompressedSize)) * 100.0;
}

int32_t TVEXCompressedBLOBStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= FUncompressedSize) return 0;
  if (!Compressed()) {
    // Only the BLOB's own bytes: what follows it in the carrying stream is
    // not part of it.
    const auto n = static_cast<int32_t>(std::min<int64_t>(Count, FUncompressedSize - FPosition));
    rtl::TStream& stream = *FCompressedStream;
    if (stream.Seek(FStartPosition + FPosition, rtl::soFromBeginning) != FStartPosition + FPosition)
      return 0;
    const int32_t done = stream.Read(Buffer, n);
    FPosition = stream.Position() - FStartPosition;
    return done;
  }
  auto* dest = static_cast<uint8_t*>(Buffer);
  const int64_t blockSize = ChainBlockSize();
  int64_t done = 0;
  FCurrentHeader = FPosition / blockSize;
  while (FPosition < FUncompressedSize && done < Count) {
    TVEXMallocPtr<uint8_t> block(LoadBlock(FCurrentHeader));
    const int64_t offset = FPosition % blockSize;
    const int64_t n =
        std::min({blockSize - offset, int64_t(Count) - done, FUncompressedSize - FPosition});
    std::memcpy(dest + done, block.get() + offset, static_cast<size_t>(n));
    FPosition += n;
    done += n;
    if (done < Count) ++FCurrentHeader;
  }
  return static_cast<int32_t>(done);
}

int32_t TVEXCompressedBLOBStream::WriteUncompressed(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  rtl::TStream& stream = *FCompressedStream;
  if (stream.Seek(FStartPosition + FPosition, rtl::soFromBeginning) != FStartPosition + FPosition)
    return 0;
  const int32_t done = stream.Write(Buffer, Count);
  FPosition = stream.Position() - FStartPosition;
  FUncompressedSize = std::max(FUncompressedSize, FPosition);
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
  FCompressedSize = FUncompressedSize;
  return done;
}

int32_t TVEXCompressedBLOBStream::Write(const void* Buffer, int32_t Count) {
  if (!Compressed()) return WriteUncompressed(Buffer, Count);
  int32_t written = 0;
  if (Count > 0 && FPosition >= FUncompressedSize) {
    if (FPosition > FUncompressedSize) {
      const int64_t position = FPosition;
      SetSize(position);
      FPosition = position;
    }
    const auto* source = static_cast<const uint8_t*>(Buffer);
    const int64_t blockSize = ChainBlockSize();
    int64_t remaining = Count;
    FCurrentHeader = std::max<int64_t>(BlockCount() - 1, 0);
    const int64_t fill = FPosition % blockSize;
    if (fill > 0) {
      // The last block is partial: complete it and write it again in place.
      const int64_t k = BlockCount() - 1;
      TVEXMemBlock block = TVEXMemBlock::GetMem(blockSize);
      {
        TVEXMallocPtr<uint8_t> old(LoadBlock(k));
        std::memcpy(block.As<uint8_t>(), old.get(), static_cast<size_t>(fill));
      }
      const int64_t n = std::min(remaining, blockSize - fill);
      std::memcpy(block.As<uint8_t>() + fill, source, static_cast<size_t>(n));
      WriteBlock(k, block.As<uint8_t>(), static_cast<int32_t>(fill + n));
      source += n;
      remaining -= n;
      FUncompressedSize += n;
      FPosition += n;
    }
    if (remaining > 0) {
      rtl::TStream& stream = *FCompressedStream;
      const int64_t last = BlockCount() - 1;
      const int64_t next = last < 0
                               ? FStartPosition
                               : FHeaders.Positions[last] + FHeaders.Items[last].OffsetToNextHeader;
      SeekStreamChecked(stream, 10102, next);
      while (remaining > 0) {
        const int64_t n = std::min(remaining, blockSize);
        FHeaders.AppendItem(TVEXCompressedStreamBlockHeader{}, stream.Position());
        FCurrentHeader = BlockCount() - 1;
        WriteBlock(FCurrentHeader, source, static_cast<int32_t>(n));
        source += n;
        remaining -= n;
        FUncompressedSize += n;
        FPosition += n;
      }
    }
    FBLOBDescriptor.NumBlocks = BlockCount();
    written = Count;
  }
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
  UpdateCompressedSize();
  return written;
}

int64_t TVEXCompressedBLOBStream::Seek(int64_t Offset, rtl::TSeekOrigin Origin) {
  const int64_t base = Origin == rtl::soFromBeginning ? 0
                       : Origin == rtl::soFromCurrent ? FPosition
                                                      : FUncompressedSize;
  // Nothing before the BLOB's first byte is the BLOB's.
  const int64_t target = std::max<int64_t>(base + Offset, 0);
  if (!Compressed()) {
    FPosition =
        FCompressedStream->Seek(FStartPosition + target, rtl::soFromBeginning) - FStartPosition;
    return FPosition;
  }
  FPosition = target;
  FCurrentHeader =
      BlockCount() > 0 ? std::min<int64_t>(target / ChainBlockSize(), BlockCount() - 1) : 0;
  return FPosition;
}

void TVEXCompressedBLOBStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) return;
  rtl::TStream& stream = *FCompressedStream;
  if (!Compressed()) {
    stream.SetSize(FStartPosition + NewSize);
  } else if (NewSize > FUncompressedSize) {
    Seek(0, rtl::soFromEnd);
    const int64_t blockSize = ChainBlockSize();
    TVEXMemBlock zeros = TVEXMemBlock::AllocMem(std::min(blockSize, NewSize - FUncompressedSize));
    while (FUncompressedSize < NewSize) {
      const int64_t n = std::min(blockSize, NewSize - FUncompressedSize);
      if (Write(zeros.Get(), static_cast<int32_t>(n)) == 0) break;
    }
  } else if (NewSize < FUncompressedSize) {
    const int64_t blockSize = ChainBlockSize();
    const int64_t q = NewSize / blockSize;
    const int64_t r = NewSize % blockSize;
    FHeaders.SetSize(r > 0 ? q + 1 : q);
    FBLOBDescriptor.NumBlocks = FHeaders.ItemCount;
    if (r > 0) {
      TVEXMallocPtr<uint8_t> block(LoadBlock(q));
      TVEXCompressedStreamBlockHeader& h = FHeaders.Items[q];
      TVEXMallocPtr<uint8_t> compressed(
          static_cast<uint8_t*>(CompressBlock(block.get(), static_cast<int32_t>(r), h)));
      const int64_t position = FHeaders.Positions[q];
      stream.SetSize(position);
      const int64_t size = stream.GetSize();
      if (size != position) throw EVEXException(10093, kInvalidSize, size, position);
      const int64_t end = stream.Seek(0, rtl::soFromEnd);
      if (end != position) throw EVEXException(10094, kSeekFailed, position, end, size);
      h.OffsetToNextHeader = kHeaderSize + int64_t(h.CompressedSize);
      if (stream.Write(&h, kHeaderSize) != kHeaderSize) throw EVEXException(10095, kWriteError);
      if (stream.Write(compressed.get(), h.CompressedSize) != h.CompressedSize)
        throw EVEXException(10096, kWriteError);
    }
    FCurrentHeader = std::min<int64_t>(FCurrentHeader, std::max<int64_t>(BlockCount() - 1, 0));
  }
  FUncompressedSize = NewSize;
  FBLOBDescriptor.UncompressedSize = NewSize;
  UpdateCompressedSize();
  if (FPosition > NewSize) FPosition = NewSize;
}

}  // namespace vex
