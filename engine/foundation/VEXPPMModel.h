// The PPM context model: prediction by partial matching with information
// inheritance, secondary escape estimation and a binary-context fast path,
// driving the range coder of VEXPPMRangeCoder.h over memory from
// VEXPPMSubAllocator.h. The raw stream it reads and writes has no header,
// length or checksum: the coder's bytes for every input byte, then an
// end-of-data escape past the root, then the flush.
//
// A model object codes one stream and is used by one thread. Records live in
// the arena as packed bytes at 32-bit offsets:
//   context (one unit): NumStats u16 | SummFreq u16 | Stats u32 | Suffix u32
//   state (six bytes):  Symbol u8 | Freq u8 | Successor u32
// A context with one state (binary) or none (stub) keeps that state inline at
// byte 2, over SummFreq and Stats.
//
// Decoding untrusted bytes only ever takes paths that some input would take
// when encoded, except where the model itself would be inconsistent; those
// spots are checked and end the call as a corrupt stream instead.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "foundation/VEXPPMRangeCoder.h"
#include "foundation/VEXPPMSubAllocator.h"

namespace vex {

class TVEXPPMModel {
 public:
  static constexpr int MAX_O = 16;

  // maxOrder 2..16, memMB 1..256.
  TVEXPPMModel(int maxOrder, uint32_t memMB);
  TVEXPPMModel(const TVEXPPMModel&) = delete;
  TVEXPPMModel& operator=(const TVEXPPMModel&) = delete;

  // Reserves the model memory; false when it cannot be had.
  bool Reserve() { return FAlloc.Reserve(FMemMB); }

  // Codes the whole input into out. Returns the bytes written, or -1 when
  // they do not fit into out.size() bytes (nothing is written past it).
  int64_t Encode(std::span<const uint8_t> in, std::span<uint8_t> out);
  // Decodes up to the end-of-data escape. Returns the bytes produced, or -1
  // when the stream would produce more than out.size() bytes, or is corrupt.
  int64_t Decode(std::span<const uint8_t> in, std::span<uint8_t> out);

  // Facts about the last call, for callers that judge a stream and for tests.
  // For each restart, the number of symbols coded when it happened.
  const std::vector<size_t>& RestartsAt() const { return FRestartsAt; }
  size_t InputConsumed() const { return FConsumed; }
  bool ReadPastEnd() const { return FReadPastEnd; }

  void FillHeapForTest(uint8_t value) { FAlloc.FillForTest(value); }

 private:
  struct See2Context {
    uint16_t Summ;
    uint8_t Shift;
    uint8_t Count;
  };
  struct StateCopy {
    uint8_t Symbol;
    uint8_t Freq;
    uint32_t Successor;
  };
  // Coding is abandoned by throwing this; the public calls catch it.
  struct Abort {};

  // --- record access -------------------------------------------------------
  uint16_t NumStats(uint32_t c) const { return Get16(c); }
  void SetNumStats(uint32_t c, uint32_t v) { Set16(c, static_cast<uint16_t>(v)); }
  uint16_t SummFreq(uint32_t c) const { return Get16(c + 2); }
  void SetSummFreq(uint32_t c, uint32_t v) { Set16(c + 2, static_cast<uint16_t>(v)); }
  uint32_t Stats(uint32_t c) const { return Get32(c + 4); }
  void SetStats(uint32_t c, uint32_t v) { Set32(c + 4, v); }
  uint32_t Suffix(uint32_t c) const { return Get32(c + 8); }
  void SetSuffix(uint32_t c, uint32_t v) { Set32(c + 8, v); }
  static uint32_t OneState(uint32_t c) { return c + 2; }

  uint8_t Symbol(uint32_t s) const { return FHeap[s]; }
  void SetSymbol(uint32_t s, uint8_t v) { FHeap[s] = v; }
  uint8_t Freq(uint32_t s) const { return FHeap[s + 1]; }
  void SetFreq(uint32_t s, uint32_t v) { FHeap[s + 1] = static_cast<uint8_t>(v); }
  uint32_t Successor(uint32_t s) const { return Get32(s + 2); }
  void SetSuccessor(uint32_t s, uint32_t v) { Set32(s + 2, v); }
  StateCopy Load(uint32_t s) const { return {Symbol(s), Freq(s), Successor(s)}; }
  void Store(uint32_t s, const StateCopy& v) {
    SetSymbol(s, v.Symbol);
    SetFreq(s, v.Freq);
    SetSuccessor(s, v.Successor);
  }
  void SwapStates(uint32_t a, uint32_t b);

  uint16_t Get16(uint32_t o) const;
  void Set16(uint32_t o, uint16_t v);
  uint32_t Get32(uint32_t o) const;
  void Set32(uint32_t o, uint32_t v);

  // --- model ---------------------------------------------------------------
  void StartModel();
  void RestartModel();
  void ClearMask();
  bool UpdateModel();
  bool MakeRoot(int skipCount, uint32_t p1);
  void Rescale(uint32_t ctx);
  uint32_t FindState(uint32_t ctx, uint8_t symbol) const;
  uint16_t& BinCounter(uint32_t ctx);
  See2Context* MakeEscFreq2(uint32_t ctx, int diff, uint32_t& escFreq);
  void See2Update(See2Context* see);
  void Update1(uint32_t ctx, uint32_t p);
  void Update2(uint32_t ctx, uint32_t p);
  void FirstPassHit(uint32_t ctx, uint32_t p);
  void BinaryHit(uint32_t ctx, uint16_t& bs);
  void BinaryEscape(uint32_t ctx, uint16_t& bs);
  void MaskAll(uint32_t ctx);
  void AfterSymbol();
  void Check(bool ok) const {
    if (!ok) throw Abort{};
  }

  void EncodeBinary(TVEXPPMRangeEncoder& rc, int c);
  void EncodeFirst(TVEXPPMRangeEncoder& rc, int c);
  void EncodeMasked(TVEXPPMRangeEncoder& rc, int c);
  void DecodeBinary(TVEXPPMRangeDecoder& rc);
  void DecodeFirst(TVEXPPMRangeDecoder& rc);
  void DecodeMasked(TVEXPPMRangeDecoder& rc);

  const int FMaxOrder;
  const uint32_t FMemMB;
  TVEXPPMSubAllocator FAlloc;
  uint8_t* FHeap = nullptr;

  uint32_t FMinContext = 0;
  uint32_t FMedContext = 0;
  uint32_t FMaxContext = 0;
  uint32_t FFoundState = 0;
  int FNumMasked = 0;
  int FInitEsc = 0;
  int FOrderFall = 0;
  uint8_t FPrevSuccess = 0;
  uint8_t FEscCount = 0;
  std::array<uint8_t, 256> FCharMask{};
  uint16_t FBinSumm[128][16]{};
  See2Context FSee2Cont[44][8]{};

  size_t FSymbols = 0;
  std::vector<size_t> FRestartsAt;
  size_t FConsumed = 0;
  bool FReadPastEnd = false;
};

}  // namespace vex
