// Whole-buffer zlib compression for the compression dispatch (VEXCompression.h).
//
// The data are plain zlib streams (two-byte header, deflate blocks, Adler-32
// trailer) made with zlib's default method, window, memory level and strategy,
// so any zlib reader accepts them and the level alone decides the bytes.
//
// Output buffers come from std::malloc; the receiver frees them with
// std::free. A call that fails hands back nullptr and has freed what it took.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Exception.h"

namespace vex {

class EZlibError : public rtl::Exception {
  using rtl::Exception::Exception;
};

// "error " and the negative zlib result.
class ECompressionError : public EZlibError {
  using EZlibError::EZlibError;
};

// Compresses InBytes bytes at Level (0 stores, 9 is best) into a new buffer
// of OutBytes bytes. Raises ECompressionError when zlib refuses (a level
// outside 0-9 among others).
void ZlibCompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes,
                        int32_t Level);

// Decompresses one zlib stream into a new buffer and sets OutBytes to the
// bytes it holds. With OutEstimate > 0 the result may not exceed it: a stream
// that would produce more fails instead of growing the buffer. With
// OutEstimate 0 the buffer grows as the stream needs. Never raises: a failure
// returns OutBuf nullptr and OutBytes 0.
void ZlibDecompressBuffer(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf,
                          int32_t& OutBytes);

// The calling thread's text of the last zlib failure that left one
// ("InflateInit_ error: " and the code when zlib could not start a
// decompression). Every compression and decompression clears it first, so it
// never describes an older call.
std::string ZlibLastError();

}  // namespace vex
