// The carry-less range coder under the PPM model.
//
// The coder never propagates a carry: when the interval straddles a byte
// boundary and has shrunk below BOT, it is cut down to the part below the
// boundary. Encoder and decoder run the identical normalisation loop at the
// identical points (the model calls Normalize after every escape and after
// every coded symbol), so the decoder reads exactly the bytes the encoder
// wrote: four at the start plus one per shift, against one per shift plus the
// four of the flush.
//
// Neither side ever touches memory outside the buffer it was given: the
// encoder reports an output that does not fit, and the decoder answers a read
// past the end of its input with all bits set, as end of file used to read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vex {

class TVEXPPMRangeEncoder {
 public:
  static constexpr uint32_t TOP = 1u << 24;
  static constexpr uint32_t BOT = 1u << 15;

  TVEXPPMRangeEncoder(uint8_t* out, size_t capacity) : FOut(out), FCapacity(capacity) {}

  // Narrows the interval to [lowCount, highCount) of scale. Returns false,
  // changing nothing, for an empty interval or one that leaves no range (never
  // for a sound model): an empty range would stall the coder for good.
  bool Encode(uint32_t lowCount, uint32_t highCount, uint32_t scale) {
    if (lowCount >= highCount || highCount > scale || FRange / scale == 0) return false;
    FRange /= scale;
    FLow += lowCount * FRange;
    FRange *= highCount - lowCount;
    return true;
  }
  // The same with a scale of 2^shift, for the two-symbol contexts.
  bool EncodeShift(uint32_t lowCount, uint32_t highCount, unsigned shift) {
    if (lowCount >= highCount || highCount > (1u << shift)) return false;
    FRange >>= shift;
    FLow += lowCount * FRange;
    FRange *= highCount - lowCount;
    return true;
  }
  void Normalize() {
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= TOP) {
        if (FRange >= BOT) return;
        FRange = (0u - FLow) & (BOT - 1);
      }
      Put(static_cast<uint8_t>(FLow >> 24));
      FRange <<= 8;
      FLow <<= 8;
    }
  }
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      Put(static_cast<uint8_t>(FLow >> 24));
      FLow <<= 8;
    }
  }

  size_t Written() const { return FPos; }
  // True once a byte did not fit; the output is then incomplete.
  bool Overflowed() const { return FOverflow; }

 private:
  void Put(uint8_t b) {
    if (FPos < FCapacity)
      FOut[FPos++] = b;
    else
      FOverflow = true;
  }

  uint8_t* FOut;
  size_t FCapacity;
  size_t FPos = 0;
  bool FOverflow = false;
  uint32_t FLow = 0;
  uint32_t FRange = 0xFFFFFFFFu;
};

class TVEXPPMRangeDecoder {
 public:
  static constexpr uint32_t TOP = TVEXPPMRangeEncoder::TOP;
  static constexpr uint32_t BOT = TVEXPPMRangeEncoder::BOT;

  TVEXPPMRangeDecoder(const uint8_t* in, size_t size) : FIn(in), FSize(size) {
    for (int i = 0; i < 4; ++i) FCode = (FCode << 8) | Next();
  }

  // First half of a divided step: the count the model looks up its event by.
  // Returns false when scale leaves no room in the current range. A corrupt
  // stream may give a count at or past scale; the model reads that as escape.
  bool GetCount(uint32_t scale, uint32_t& count) {
    if (scale == 0 || FRange / scale == 0) return false;
    FScale = scale;
    FRange /= scale;
    count = (FCode - FLow) / FRange;
    return true;
  }
  // The same with a scale of 2^shift; the normalised range always allows it.
  uint32_t GetCountShift(unsigned shift) {
    FScale = 1u << shift;
    FRange >>= shift;
    return (FCode - FLow) / FRange;
  }
  // Second half of a step, once the model knows the event's interval; false
  // for an empty interval or one outside the scale.
  bool Decode(uint32_t lowCount, uint32_t highCount) {
    if (lowCount >= highCount || highCount > FScale) return false;
    FLow += FRange * lowCount;
    FRange *= highCount - lowCount;
    return true;
  }
  void Normalize() {
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= TOP) {
        if (FRange >= BOT) return;
        FRange = (0u - FLow) & (BOT - 1);
      }
      FCode = (FCode << 8) | Next();
      FRange <<= 8;
      FLow <<= 8;
    }
  }

  // Bytes taken from the input, not counting reads past its end.
  size_t Consumed() const { return FPos; }
  bool ReadPastEnd() const { return FPastEnd; }

 private:
  uint32_t Next() {
    if (FPos < FSize) return FIn[FPos++];
    FPastEnd = true;
    return 0xFFFFFFFFu;
  }

  const uint8_t* FIn;
  size_t FSize;
  size_t FPos = 0;
  bool FPastEnd = false;
  uint32_t FLow = 0;
  uint32_t FCode = 0;
  uint32_t FRange = 0xFFFFFFFFu;
  uint32_t FScale = 1;
};

}  // namespace vex
