// One door to the engine's three compressors. BLOB blocks and internal files
// are compressed as whole buffers through CompressBuffer and DecompressBuffer,
// which dispatch on the algorithm stored with the data and never raise: every
// failure, whatever the compressor raised, is a false result.
//
// The compression mode (0-9) means per algorithm:
//   acaZLIB  the zlib level (0 stores without compressing, 9 is best)
//   acaBZIP  the bzip2 block size in units of 100 000 bytes (0 always fails)
//   acaPPM   the PPM level (0 counts as 1)
//
// Output buffers come from std::malloc; the receiver frees them with
// std::free. A call that returns false hands back nullptr.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vex {

// Stored with compressed data as one byte.
enum TVEXCompressionAlgorithm : uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };

enum TVEXCompressionLevel : uint8_t { aclNone = 0, aclFastest = 1, aclNormal = 2, aclMaximum = 3 };

// The compression settings of a BLOB field. The level travels with the
// algorithm and mode; the compression routines read only those two.
#pragma pack(push, 1)
struct TVEXCompression {
  TVEXCompressionAlgorithm CompressionAlgorithm;
  uint8_t CompressionMode;
  TVEXCompressionLevel CompressionLevel;
};
#pragma pack(pop)
static_assert(sizeof(TVEXCompression) == 3);

inline constexpr std::array<const char*, 4> CompressionAlgorithmNames = {"NONE", "ZLIB", "BZIP",
                                                                         "PPM"};

// Compresses InSize bytes into a new buffer of OutSize bytes. False (OutSize
// 0) for acaNone, an unknown algorithm, InSize 0 or less, or any failure of
// the compressor.
bool CompressBuffer(TVEXCompressionAlgorithm Algorithm, uint8_t Mode, const void* InBuffer,
                    int32_t InSize, void*& OutBuffer, int32_t& OutSize);

// OutSize comes in as the expected uncompressed size and goes out as the size
// produced; the data may not decompress to more than the expected size. An
// expected size of 0 means unknown: zlib and bzip2 then grow their buffer as
// the data need, PPM refuses. False
// for acaNone, an unknown algorithm, InSize 0 or less, an empty result or any
// failure of the decompressor. Whether the size produced is the expected one
// is the caller's to check.
bool DecompressBuffer(TVEXCompressionAlgorithm Algorithm, const void* InBuffer, int32_t InSize,
                      void*& OutBuffer, int32_t& OutSize);

// The algorithm whose name equals Name ignoring case; acaNone for any other.
TVEXCompressionAlgorithm CompressionAlgorithmFromName(std::string_view Name);

// The calling thread's text of the last failure of CompressBuffer or
// DecompressBuffer, as far as the compressor left one (zlib's start-up
// failure); empty when the last call left none.
std::string GetLastCompressionError();

}  // namespace vex
