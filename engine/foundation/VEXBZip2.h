// Whole-buffer bzip2 compression for the compression dispatch
// (VEXCompression.h). The data are plain bzip2 streams; the block size in
// units of 100 000 bytes is the caller's compression mode, so mode 0 (which
// bzip2 refuses) makes every compression fail.
//
// Output buffers come from std::malloc; the receiver frees them with
// std::free. A call that raises has freed its buffer and hands back nullptr.
#pragma once

#include <cstdint>

#include "rtl/Exception.h"

namespace vex {

// "Compression Error %d": bzip2 found its own state inconsistent.
class EBZip2Error : public rtl::Exception {
  using rtl::Exception::Exception;
};
// "error %d" with the negative bzip2 result of a compression.
class EBZCompressionError : public EBZip2Error {
  using EBZip2Error::EBZip2Error;
};
// "error %d" with the negative bzip2 result of a decompression.
class EBZDecompressionError : public EBZip2Error {
  using EBZip2Error::EBZip2Error;
};

// Compresses InBytes bytes with blocks of BlockSize100k x 100 000 bytes
// (1-9) into a new buffer of OutBytes bytes. Raises EBZCompressionError.
void BZip2CompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes,
                         int32_t BlockSize100k);

// Decompresses one bzip2 stream into a new buffer and sets OutBytes to the
// bytes it holds. With OutEstimate > 0 the result may not exceed it: a stream
// that would produce more fails (-8, output buffer full) instead of growing
// the buffer. With OutEstimate 0 the buffer grows as the stream needs.
// Raises EBZDecompressionError.
void BZip2DecompressBuffer(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf,
                           int32_t& OutBytes);

}  // namespace vex
