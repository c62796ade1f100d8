#include "foundation/VEXPPMModel.h"

#include <cstring>

namespace vex {

namespace {

constexpr uint32_t MAX_FREQ = 124;
constexpr unsigned TOT_BITS = 14;
constexpr uint32_t BIN_SCALE = 1u << TOT_BITS;
constexpr uint32_t INTERVAL = 1u << 7;
constexpr uint32_t STATE_SIZE = 6;

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr uint16_t kInitBinEsc[16] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545,
                                      0x63D1, 0x5D9D, 0x64A1, 0x5ABC, 0x6632, 0x6051,
                                      0x68F6, 0x549B, 0x6BCA, 0x3AB0};

struct Tables {
  uint8_t NS2BSIndx[256];
  uint8_t NS2Indx[256];
};

constexpr Tables kTables = [] {
  Tables t{};
  for (int i = 0; i < 256; ++i) {
    t.NS2BSIndx[i] = static_cast<uint8_t>(i < 6 ? 2 * i : i < 50 ? 12 : 14);
    int v;
    if (i < 4)
      v = i;
    else if (i < 12)
      v = 4 + (i - 4) / 2;
    else if (i < 44)
      v = 8 + (i - 12) / 4;
    else
      v = 16 + (i - 44) / 8;
    t.NS2Indx[i] = static_cast<uint8_t>(v);
  }
  return t;
}();
static_assert(kTables.NS2Indx[255] == 42 && kTables.NS2Indx[251] == 41);

// The rounded share of a binary counter that one event moves.
constexpr uint32_t BinMean(uint32_t b) { return (b + 32) >> 7; }

}  // namespace

TVEXPPMModel::TVEXPPMModel(int maxOrder, uint32_t memMB) : FMaxOrder(maxOrder), FMemMB(memMB) {}

uint16_t TVEXPPMModel::Get16(uint32_t o) const {
  uint16_t v;
  std::memcpy(&v, FHeap + o, 2);
  return v;
}
void TVEXPPMModel::Set16(uint32_t o, uint16_t v) { std::memcpy(FHeap + o, &v, 2); }
uint32_t TVEXPPMModel::Get32(uint32_t o) const {
  uint32_t v;
  std::memcpy(&v, FHeap + o, 4);
  return v;
}
void TVEXPPMModel::Set32(uint32_t o, uint32_t v) { std::memcpy(FHeap + o, &v, 4); }

void TVEXPPMModel::SwapStates(uint32_t a, uint32_t b) {
  uint8_t tmp[STATE_SIZE];
  std::memcpy(tmp, FHeap + a, STATE_SIZE);
  std::memmove(FHeap + a, FHeap + b, STATE_SIZE);
  std::memcpy(FHeap + b, tmp, STATE_SIZE);
}

uint32_t TVEXPPMModel::FindState(uint32_t ctx, uint8_t symbol) const {
  const uint32_t n = NumStats(ctx);
  uint32_t p = Stats(ctx);
  for (uint32_t i = 0; i < n; ++i, p += STATE_SIZE)
    if (Symbol(p) == symbol) return p;
  return 0;
}

void TVEXPPMModel::ClearMask() {
  FCharMask.fill(0);
  FEscCount = 1;
}

// The model as if the text had been preceded by MaxOrder - 1 zero bytes: a
// chain of binary contexts on symbol 0 from the full root up to a stub.
void TVEXPPMModel::StartModel() {
  FAlloc.Init();
  const uint32_t root = FAlloc.AllocContext();
  SetSuffix(root, 0);
  SetNumStats(root, 256);
  SetSummFreq(root, 257);
  const uint32_t stats = FAlloc.AllocUnits(128);
  Check(root != 0 && stats != 0);
  SetStats(root, stats);
  for (uint32_t s = 0; s < 256; ++s) Store(stats + s * STATE_SIZE, {uint8_t(s), 1, 0});
  FPrevSuccess = 0;
  FOrderFall = 1;

  uint32_t p = stats;
  uint32_t prev = root;
  uint32_t ctx = 0;
  for (int i = 1;; ++i) {
    ctx = FAlloc.AllocContext();
    Check(ctx != 0);
    SetNumStats(ctx, 1);
    SetSuffix(ctx, prev);
    SetSuccessor(p, ctx);
    if (i == FMaxOrder) break;
    SetSymbol(OneState(ctx), 0);
    SetFreq(OneState(ctx), 1);
    p = OneState(ctx);
    prev = ctx;
  }
  SetNumStats(ctx, 0);
  FMaxContext = ctx;
  FMinContext = FMedContext = Suffix(ctx);

  for (int i = 0; i < 128; ++i)
    for (int k = 0; k < 16; ++k)
      FBinSumm[i][k] = static_cast<uint16_t>(BIN_SCALE - kInitBinEsc[k] / (i + 2));
  for (int i = 0; i < 43; ++i)
    for (auto& see : FSee2Cont[i]) see = {static_cast<uint16_t>((4 * i + 10) << 3), 3, 3};
  // Contexts with all 256 symbols escape with frequency 1 and never adapt.
  FSee2Cont[43][0].Shift = 7;
  ClearMask();
}

void TVEXPPMModel::RestartModel() {
  FRestartsAt.push_back(FSymbols);
  StartModel();
  // The main loop sees this and clears the masks once more.
  FEscCount = 0;
}

// --- binary contexts --------------------------------------------------------

uint16_t& TVEXPPMModel::BinCounter(uint32_t ctx) {
  const uint32_t suffix = Suffix(ctx);
  Check(suffix != 0);
  const uint32_t row = Freq(OneState(ctx)) - 1u;
  const uint32_t suffixStats = NumStats(suffix);
  Check(row < 128 && suffixStats >= 1 && suffixStats <= 256);
  return FBinSumm[row][FPrevSuccess + kTables.NS2BSIndx[suffixStats - 1]];
}

void TVEXPPMModel::BinaryHit(uint32_t ctx, uint16_t& bs) {
  const uint32_t s = OneState(ctx);
  FFoundState = s;
  if (Freq(s) < 128) SetFreq(s, Freq(s) + 1);
  bs = static_cast<uint16_t>(bs + INTERVAL - BinMean(bs));
  FPrevSuccess = 1;
}

void TVEXPPMModel::BinaryEscape(uint32_t ctx, uint16_t& bs) {
  bs = static_cast<uint16_t>(bs - BinMean(bs));
  FInitEsc = kExpEscape[(bs >> 10) & 15];
  FNumMasked = 1;
  FCharMask[Symbol(OneState(ctx))] = FEscCount;
  FPrevSuccess = 0;
  FFoundState = 0;
}

void TVEXPPMModel::EncodeBinary(TVEXPPMRangeEncoder& rc, int c) {
  uint16_t& bs = BinCounter(FMinContext);
  if (Symbol(OneState(FMinContext)) == c) {
    Check(rc.EncodeShift(0, bs, TOT_BITS));
    BinaryHit(FMinContext, bs);
  } else {
    Check(rc.EncodeShift(bs, BIN_SCALE, TOT_BITS));
    BinaryEscape(FMinContext, bs);
  }
}

void TVEXPPMModel::DecodeBinary(TVEXPPMRangeDecoder& rc) {
  uint16_t& bs = BinCounter(FMinContext);
  if (rc.GetCountShift(TOT_BITS) < bs) {
    Check(rc.Decode(0, bs));
    BinaryHit(FMinContext, bs);
  } else {
    Check(rc.Decode(bs, BIN_SCALE));
    BinaryEscape(FMinContext, bs);
  }
}

// --- contexts coded with nothing masked ------------------------------------

void TVEXPPMModel::FirstPassHit(uint32_t ctx, uint32_t p) {
  // Judged on the counts before this hit.
  FPrevSuccess = 2u * Freq(p) > SummFreq(ctx) ? 1 : 0;
  SetFreq(p, Freq(p) + 4);
  SetSummFreq(ctx, SummFreq(ctx) + 4);
  FFoundState = p;
  if (Freq(p) > MAX_FREQ) Rescale(ctx);
}

// A hit past the first state moves it up one place once it outgrows the one
// before; only then can it have passed the rescale threshold first.
void TVEXPPMModel::Update1(uint32_t ctx, uint32_t p) {
  SetFreq(p, Freq(p) + 4);
  SetSummFreq(ctx, SummFreq(ctx) + 4);
  FFoundState = p;
  if (Freq(p) > Freq(p - STATE_SIZE)) {
    SwapStates(p, p - STATE_SIZE);
    FFoundState = p - STATE_SIZE;
    if (Freq(FFoundState) > MAX_FREQ) Rescale(ctx);
  }
}

void TVEXPPMModel::MaskAll(uint32_t ctx) {
  const uint32_t n = NumStats(ctx);
  uint32_t p = Stats(ctx);
  for (uint32_t i = 0; i < n; ++i, p += STATE_SIZE) FCharMask[Symbol(p)] = FEscCount;
}

void TVEXPPMModel::EncodeFirst(TVEXPPMRangeEncoder& rc, int c) {
  const uint32_t ctx = FMinContext;
  const uint32_t n = NumStats(ctx);
  Check(n >= 2);
  const uint32_t scale = SummFreq(ctx);
  uint32_t p = Stats(ctx);
  if (Symbol(p) == c) {
    Check(rc.Encode(0, Freq(p), scale));
    FirstPassHit(ctx, p);
    return;
  }
  FPrevSuccess = 0;
  uint32_t low = Freq(p);
  for (uint32_t i = 1; i < n; ++i) {
    p += STATE_SIZE;
    if (Symbol(p) == c) {
      Check(rc.Encode(low, low + Freq(p), scale));
      Update1(ctx, p);
      return;
    }
    low += Freq(p);
  }
  Check(rc.Encode(low, scale, scale));
  MaskAll(ctx);
  FNumMasked = n;
  FFoundState = 0;
}

void TVEXPPMModel::DecodeFirst(TVEXPPMRangeDecoder& rc) {
  const uint32_t ctx = FMinContext;
  const uint32_t n = NumStats(ctx);
  Check(n >= 2);
  const uint32_t scale = SummFreq(ctx);
  uint32_t count;
  Check(rc.GetCount(scale, count));
  uint32_t p = Stats(ctx);
  uint32_t high = Freq(p);
  if (count < high) {
    Check(rc.Decode(0, high));
    FirstPassHit(ctx, p);
    return;
  }
  FPrevSuccess = 0;
  for (uint32_t i = 1; i < n; ++i) {
    p += STATE_SIZE;
    high += Freq(p);
    if (count < high) {
      Check(rc.Decode(high - Freq(p), high));
      Update1(ctx, p);
      return;
    }
  }
  Check(rc.Decode(high, scale));
  MaskAll(ctx);
  FNumMasked = n;
  FFoundState = 0;
}

// --- contexts coded after an escape -----------------------------------------

TVEXPPMModel::See2Context* TVEXPPMModel::MakeEscFreq2(uint32_t ctx, int diff, uint32_t& escFreq) {
  const int n = NumStats(ctx);
  if (n == 256) {
    escFreq = 1;
    return &FSee2Cont[43][0];
  }
  const uint32_t suffix = Suffix(ctx);
  Check(suffix != 0);
  const int column = (diff < int(NumStats(suffix)) - n ? 1 : 0) + (SummFreq(ctx) < 11 * n ? 2 : 0) +
                     (FNumMasked > diff ? 4 : 0);
  See2Context* see = &FSee2Cont[kTables.NS2Indx[diff - 1]][column];
  uint32_t mean = see->Summ >> see->Shift;
  see->Summ = static_cast<uint16_t>(see->Summ - mean);
  mean &= 1023;
  escFreq = mean == 0 ? 1 : mean;
  return see;
}

void TVEXPPMModel::See2Update(See2Context* see) {
  if (see->Shift < 7 && --see->Count == 0) {
    see->Summ = static_cast<uint16_t>(see->Summ * 2);
    see->Count = static_cast<uint8_t>(3 << see->Shift);
    ++see->Shift;
  }
}

void TVEXPPMModel::Update2(uint32_t ctx, uint32_t p) {
  FFoundState = p;
  SetFreq(p, Freq(p) + 4);
  SetSummFreq(ctx, SummFreq(ctx) + 4);
  if (Freq(p) > MAX_FREQ) Rescale(ctx);
  // Unmasks everything at once; the main loop clears the masks on wrap-around.
  ++FEscCount;
}

void TVEXPPMModel::EncodeMasked(TVEXPPMRangeEncoder& rc, int c) {
  const uint32_t ctx = FMinContext;
  const uint32_t n = NumStats(ctx);
  const int diff = int(n) - FNumMasked;
  Check(diff > 0);
  uint32_t escFreq;
  See2Context* see = MakeEscFreq2(ctx, diff, escFreq);
  uint32_t unmasked[256];
  int count = 0;
  uint32_t total = 0, low = 0, found = 0;
  uint32_t p = Stats(ctx);
  for (uint32_t i = 0; i < n && count < diff; ++i, p += STATE_SIZE) {
    if (FCharMask[Symbol(p)] == FEscCount) continue;
    if (Symbol(p) == c) {
      found = p;
      low = total;
    }
    total += Freq(p);
    unmasked[count++] = p;
  }
  Check(count == diff);
  const uint32_t scale = escFreq + total;
  if (found != 0) {
    Check(rc.Encode(low, low + Freq(found), scale));
    See2Update(see);
    Update2(ctx, found);
    return;
  }
  Check(rc.Encode(total, scale, scale));
  see->Summ = static_cast<uint16_t>(see->Summ + scale);
  for (int i = 0; i < count; ++i) FCharMask[Symbol(unmasked[i])] = FEscCount;
  FNumMasked = n;
  FFoundState = 0;
}

void TVEXPPMModel::DecodeMasked(TVEXPPMRangeDecoder& rc) {
  const uint32_t ctx = FMinContext;
  const uint32_t n = NumStats(ctx);
  const int diff = int(n) - FNumMasked;
  Check(diff > 0);
  uint32_t escFreq;
  See2Context* see = MakeEscFreq2(ctx, diff, escFreq);
  uint32_t unmasked[256];
  int count = 0;
  uint32_t total = 0;
  uint32_t p = Stats(ctx);
  for (uint32_t i = 0; i < n && count < diff; ++i, p += STATE_SIZE) {
    if (FCharMask[Symbol(p)] == FEscCount) continue;
    total += Freq(p);
    unmasked[count++] = p;
  }
  Check(count == diff);
  const uint32_t scale = escFreq + total;
  uint32_t target;
  Check(rc.GetCount(scale, target));
  if (target < total) {
    uint32_t high = 0;
    int i = 0;
    while ((high += Freq(unmasked[i])) <= target) ++i;
    Check(rc.Decode(high - Freq(unmasked[i]), high));
    See2Update(see);
    Update2(ctx, unmasked[i]);
    return;
  }
  Check(rc.Decode(total, scale));
  see->Summ = static_cast<uint16_t>(see->Summ + scale);
  for (int i = 0; i < count; ++i) FCharMask[Symbol(unmasked[i])] = FEscCount;
  FNumMasked = n;
  FFoundState = 0;
}

// --- model update -----------------------------------------------------------

// Halves the counts of a context whose found state passed the limit, keeping
// the states sorted by frequency. At maximal order rare states may drop out.
void TVEXPPMModel::Rescale(uint32_t ctx) {
  const uint32_t oldNS = NumStats(ctx);
  const uint32_t stats = Stats(ctx);
  for (uint32_t p = FFoundState; p != stats; p -= STATE_SIZE) SwapStates(p, p - STATE_SIZE);
  SetFreq(stats, Freq(stats) + 4);
  SetSummFreq(ctx, SummFreq(ctx) + 4);
  int escFreq = int(SummFreq(ctx)) - Freq(stats);
  const int adder = FOrderFall != 0 ? 1 : 0;
  SetFreq(stats, (Freq(stats) + adder) >> 1);
  uint32_t summ = Freq(stats);
  for (uint32_t j = 1; j < oldNS; ++j) {
    const uint32_t p = stats + j * STATE_SIZE;
    escFreq -= Freq(p);
    SetFreq(p, (Freq(p) + adder) >> 1);
    summ += Freq(p);
    if (Freq(p) > Freq(p - STATE_SIZE)) {
      const StateCopy moving = Load(p);
      uint32_t q = p;
      do {
        Store(q, Load(q - STATE_SIZE));
        q -= STATE_SIZE;
      } while (q != stats && moving.Freq > Freq(q - STATE_SIZE));
      Store(q, moving);
    }
  }
  SetSummFreq(ctx, summ);

  uint32_t newNS = oldNS;
  if (Freq(stats + (oldNS - 1) * STATE_SIZE) == 0) {
    uint32_t zeros = 0;
    while (newNS > 1 && Freq(stats + (newNS - 1) * STATE_SIZE) == 0) {
      --newNS;
      ++zeros;
    }
    escFreq += int(zeros);
    SetNumStats(ctx, newNS);
    if (newNS == 1) {
      StateCopy only = Load(stats);
      do {
        only.Freq = static_cast<uint8_t>(only.Freq - (only.Freq >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      FAlloc.FreeUnits(stats, (oldNS + 1) / 2);
      Store(OneState(ctx), only);
      FFoundState = OneState(ctx);
      return;
    }
  }
  SetSummFreq(ctx, SummFreq(ctx) + (escFreq - (escFreq >> 1)));
  if ((oldNS + 1) / 2 != (newNS + 1) / 2)
    SetStats(ctx, FAlloc.ShrinkUnits(stats, (oldNS + 1) / 2, (newNS + 1) / 2));
  FFoundState = Stats(ctx);
}

// Gives the symbol just coded its successor contexts: a chain of new binary
// contexts, shortest first, for every context on the way down whose state
// still points at the stub UpBranch.
bool TVEXPPMModel::MakeRoot(int skipCount, uint32_t p1) {
  uint32_t chain[MAX_O];
  int length = 0;
  uint32_t pc = FMinContext;
  const uint32_t upBranch = Successor(FFoundState);
  Check(upBranch != 0);
  const uint8_t symbol = Symbol(FFoundState);

  bool walk = true;
  if (skipCount == 0) {
    chain[length++] = FFoundState;
    if (Suffix(pc) == 0) walk = false;
  } else if (skipCount == 2) {
    pc = Suffix(pc);
    Check(pc != 0);
  }
  if (walk) {
    uint32_t p = 0;
    if (p1 != 0) {
      pc = Suffix(pc);
      p = p1;
    }
    for (;;) {
      if (p == 0) {
        pc = Suffix(pc);
        Check(pc != 0);
        p = NumStats(pc) != 1 ? FindState(pc, symbol) : OneState(pc);
        Check(p != 0);
      }
      if (Successor(p) != upBranch) {
        pc = Successor(p);
        break;
      }
      Check(length < MAX_O);
      chain[length++] = p;
      if (Suffix(pc) == 0) break;
      p = 0;
    }
  }
  Check(pc != 0);

  const uint32_t up = OneState(upBranch);
  uint32_t freq;
  if (NumStats(pc) != 1) {
    const uint32_t q = FindState(pc, Symbol(up));
    Check(q != 0);
    const uint32_t cf = Freq(q) - 1u;
    const uint32_t s0 = uint32_t(SummFreq(pc)) - NumStats(pc) - cf;
    Check(s0 != 0);
    freq = 1 + (2 * cf <= s0 ? (5 * cf > s0 ? 1 : 0) : (2 * cf + 3 * s0 - 1) / (2 * s0));
  } else {
    freq = Freq(OneState(pc));
  }
  SetFreq(up, freq);
  const StateCopy upState = Load(up);

  while (length > 0) {
    const uint32_t ctx = FAlloc.AllocContext();
    if (ctx == 0) return false;
    SetNumStats(ctx, 1);
    SetSuffix(ctx, pc);
    SetSuccessor(chain[--length], ctx);
    Store(OneState(ctx), upState);
    pc = ctx;
  }
  if (FOrderFall == 0) {
    SetNumStats(upBranch, 1);
    SetSuffix(upBranch, pc);
  }
  return true;
}

// Returns false when memory ran out; the caller then restarts the model.
bool TVEXPPMModel::UpdateModel() {
  const StateCopy fs = Load(FFoundState);
  uint32_t p1 = 0;
  const uint32_t suffix = Suffix(FMinContext);
  if (fs.Freq < MAX_FREQ / 4 && suffix != 0) {
    if (NumStats(suffix) != 1) {
      uint32_t p = FindState(suffix, fs.Symbol);
      Check(p != 0);
      if (p != Stats(suffix) && Freq(p) >= Freq(p - STATE_SIZE)) {
        SwapStates(p, p - STATE_SIZE);
        p -= STATE_SIZE;
      }
      if (Freq(p) < MAX_FREQ * 7 / 8) {
        SetFreq(p, Freq(p) + 2);
        SetSummFreq(suffix, SummFreq(suffix) + 2);
      }
      p1 = p;
    } else {
      p1 = OneState(suffix);
      if (Freq(p1) < 32) SetFreq(p1, Freq(p1) + 1);
    }
  }

  if (FOrderFall == 0) {
    if (!MakeRoot(2, 0)) return false;
    FMinContext = FMedContext = fs.Successor;
    return true;
  }

  --FOrderFall;
  uint32_t successor;
  int skipCount;
  if (FOrderFall == 0) {
    successor = fs.Successor;
    skipCount = 1;
  } else {
    successor = FAlloc.AllocContext();
    if (successor == 0) return false;
    SetNumStats(successor, 0);
    skipCount = 0;
  }
  if (NumStats(FMaxContext) == 0) {
    SetSymbol(OneState(FMaxContext), fs.Symbol);
    SetSuccessor(OneState(FMaxContext), successor);
  }

  // Only contexts with several states can have had escapes above them.
  Check(FMedContext == FMinContext || NumStats(FMinContext) != 1);
  const uint32_t ns = NumStats(FMinContext);
  const uint32_t s0 = uint32_t(SummFreq(FMinContext)) - ns - (fs.Freq - 1u);
  for (uint32_t ctx = FMedContext; ctx != FMinContext; ctx = Suffix(ctx)) {
    Check(ctx != 0);
    const uint32_t n = NumStats(ctx);
    if (n != 1) {
      Check(n >= 2 && n < 256);
      if ((n & 1) == 0) {
        const uint32_t grown = FAlloc.ExpandUnits(Stats(ctx), n / 2);
        if (grown == 0) return false;
        SetStats(ctx, grown);
      }
      const uint32_t summ = SummFreq(ctx);
      SetSummFreq(ctx, summ + (2 * n < ns ? 1 : 0) + (4 * n <= ns && summ <= 8 * n ? 2 : 0));
    } else {
      const uint32_t q = FAlloc.AllocUnits(1);
      if (q == 0) return false;
      Store(q, Load(OneState(ctx)));
      SetStats(ctx, q);
      const uint32_t f = Freq(q) < MAX_FREQ / 4 - 1 ? 2u * Freq(q) : MAX_FREQ - 4;
      SetFreq(q, f);
      SetSummFreq(ctx, f + uint32_t(FInitEsc) + (ns > 3 ? 1 : 0));
    }
    const uint32_t cf = 2u * fs.Freq * (SummFreq(ctx) + 6u);
    const uint32_t sf = s0 + SummFreq(ctx);
    uint32_t f;
    if (cf < 6 * sf) {
      f = 1 + (cf > sf ? 1 : 0) + (cf >= 4 * sf ? 1 : 0);
      SetSummFreq(ctx, SummFreq(ctx) + 3);
    } else {
      f = 4 + (cf >= 9 * sf ? 1 : 0) + (cf >= 12 * sf ? 1 : 0) + (cf >= 15 * sf ? 1 : 0);
      SetSummFreq(ctx, SummFreq(ctx) + f);
    }
    Store(Stats(ctx) + n * STATE_SIZE, {fs.Symbol, uint8_t(f), successor});
    SetNumStats(ctx, n + 1);
  }

  if (fs.Successor != 0) {
    if (NumStats(fs.Successor) == 0 && !MakeRoot(skipCount, p1)) return false;
    FMinContext = Successor(FFoundState);
  } else {
    // Only the root's states start without a successor.
    Check(Suffix(FMinContext) == 0);
    SetSuccessor(FFoundState, successor);
    ++FOrderFall;
  }
  FMedContext = FMinContext;
  FMaxContext = successor;
  return true;
}

void TVEXPPMModel::AfterSymbol() {
  if (FOrderFall == 0) {
    const uint32_t next = Successor(FFoundState);
    Check(next != 0);
    if (NumStats(next) != 0) {
      FMinContext = FMedContext = next;
      return;
    }
  }
  if (!UpdateModel()) RestartModel();
  if (FEscCount == 0) ClearMask();
}

// --- streams ----------------------------------------------------------------

int64_t TVEXPPMModel::Encode(std::span<const uint8_t> in, std::span<uint8_t> out) {
  FRestartsAt.clear();
  FSymbols = 0;
  FInitEsc = 0;
  FHeap = FAlloc.Base();
  TVEXPPMRangeEncoder rc(out.data(), out.size());
  try {
    StartModel();
    for (size_t pos = 0;;) {
      // -1 after the last byte matches no symbol: it escapes past the root.
      const int c = pos < in.size() ? in[pos++] : -1;
      if (NumStats(FMinContext) != 1)
        EncodeFirst(rc, c);
      else
        EncodeBinary(rc, c);
      while (FFoundState == 0) {
        rc.Normalize();
        do {
          ++FOrderFall;
          FMinContext = Suffix(FMinContext);
        } while (FMinContext != 0 && NumStats(FMinContext) == FNumMasked);
        if (FMinContext == 0) break;
        EncodeMasked(rc, c);
      }
      if (FMinContext == 0) break;
      ++FSymbols;
      AfterSymbol();
      rc.Normalize();
      if (rc.Overflowed()) return -1;
    }
    rc.Flush();
  } catch (const Abort&) {
    return -1;
  }
  if (rc.Overflowed()) return -1;
  return static_cast<int64_t>(rc.Written());
}

int64_t TVEXPPMModel::Decode(std::span<const uint8_t> in, std::span<uint8_t> out) {
  FRestartsAt.clear();
  FSymbols = 0;
  FInitEsc = 0;
  FHeap = FAlloc.Base();
  TVEXPPMRangeDecoder rc(in.data(), in.size());
  int64_t result;
  try {
    size_t written = 0;
    StartModel();
    for (;;) {
      if (NumStats(FMinContext) != 1)
        DecodeFirst(rc);
      else
        DecodeBinary(rc);
      while (FFoundState == 0) {
        rc.Normalize();
        do {
          ++FOrderFall;
          FMinContext = Suffix(FMinContext);
        } while (FMinContext != 0 && NumStats(FMinContext) == FNumMasked);
        if (FMinContext == 0) break;
        DecodeMasked(rc);
      }
      if (FMinContext == 0) break;
      // The stream holds more than the caller said it would.
      Check(written < out.size());
      out[written++] = Symbol(FFoundState);
      ++FSymbols;
      AfterSymbol();
      rc.Normalize();
    }
    result = static_cast<int64_t>(written);
  } catch (const Abort&) {
    result = -1;
  }
  FConsumed = rc.Consumed();
  FReadPastEnd = rc.ReadPastEnd();
  return result;
}

}  // namespace vex
