// The PPM compressor of whole buffers, as the compression dispatch calls it.
//
// A compressed buffer is a 4-byte little-endian header word followed by the
// raw stream of the context model (VEXPPMModel.h). The word carries the model
// order and memory that coded the stream, so a stream always decodes with its
// own parameters whatever level the reader would use:
//   bits 0-3 MaxOrder - 1, bits 4-11 MemMB - 1, bits 12-31 the variant mark 6.
//
// Every call builds its own model, but all calls of the process run one after
// the other under the PPM lock: that bounds the model memory in use (up to
// 100 MiB at the top levels) to one model at a time.
//
// Output buffers come from std::malloc; the receiver frees them with
// std::free. A call that raises has freed its buffer and hands back nullptr.
#pragma once

#include <cstdint>

#include "foundation/VEXLock.h"

namespace vex {

struct TVEXPPMLevel {
  int32_t MaxOrder;
  int32_t MemMB;
};

// The model parameters of a level; levels below 1 count as 1, above 9 as 9.
TVEXPPMLevel PpmLevel(int32_t level);
uint32_t PpmHeaderWord(int32_t maxOrder, int32_t memMB);

// Compresses InBytes bytes into a new buffer of OutBytes bytes, header
// included. Raises rtl::Exception "PPM Compression error" when the model
// memory cannot be had or the output would not fit into the estimate of
// InBytes + InBytes div 20 + 50 bytes.
void PpmCompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes,
                       int32_t Level);

// Decompresses into a new buffer of the known size OutBytes (which must be
// positive) and sets OutBytes to the bytes produced. Raises rtl::Exception
// "PPM DecpmpressBuf: OutSize must be set" for a size of 0 or less, and "PPM
// Decompression error" when the header is not the variant's, the model memory
// cannot be had, the stream is corrupt or cut short, or it holds more than
// the known size.
void PpmDecompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes);

// The process-wide lock every PPM call runs under; created and freed by the
// engine's start-up and shut-down (EVEXEngineNotStarted in between).
TVEXLock& PpmLock();
void CreatePpmLock();
void FreePpmLock() noexcept;

}  // namespace vex
