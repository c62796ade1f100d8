// THash and the MD4 family. The compression functions follow RFC 1320 and the
// RIPEMD designers' definitions; the buffering and the final block are shared.
#include "foundation/VEXSecurity.h"

#include <algorithm>
#include <cstring>

#include "foundation/VEXStream.h"
#include "rtl/Stream.h"

namespace vex {

namespace {
template <class T>
std::shared_ptr<THash> MakeHash(TProtectionRef AProtection) {
  return std::make_shared<T>(std::move(AProtection));
}
}  // namespace

// --- THashClassInfo ----------------------------------------------------------------

bool THashClassInfo::InheritsFrom(const THashClassInfo* AClass) const {
  for (const THashClassInfo* c = this; c != nullptr; c = c->Parent)
    if (c == AClass) return true;
  return false;
}

void THashClassInfo::TestVector() const { throw rtl::Exception(TestVectorText); }
void THashClassInfo::SelfTest() const { throw rtl::Exception(sNotImplemented14); }

std::string THashClassInfo::CalcBuffer(const void* Buffer, int32_t BufferSize,
                                       TProtectionRef Protection, int32_t Format) const {
  std::shared_ptr<THash> hash = Create(std::move(Protection));
  hash->Init();
  hash->Calc(Buffer, BufferSize);
  hash->Done();
  return hash->DigestStr(Format);
}

std::string THashClassInfo::CalcString(const std::string& Data, TProtectionRef Protection,
                                       int32_t Format) const {
  return CalcBuffer(Data.data(), static_cast<int32_t>(Data.size()), std::move(Protection), Format);
}

std::string THashClassInfo::CalcStream(rtl::TStream& Stream, int32_t StreamSize,
                                       TProtectionRef Protection, int32_t Format) const {
  std::shared_ptr<THash> hash = Create(std::move(Protection));
  hash->Init();
  if (StreamSize < 0) {
    Stream.SetPosition(0);
    StreamSize = static_cast<int32_t>(Stream.Size());
  }
  ReportProgress(hash.get(), 0, StreamSize);
  uint8_t piece[4096];
  int32_t done = 0;
  while (done < StreamSize) {
    const int32_t got =
        Stream.Read(piece, std::min(static_cast<int32_t>(sizeof piece), StreamSize - done));
    if (got <= 0) break;
    hash->Calc(piece, got);
    done += got;
    ReportProgress(hash.get(), done, StreamSize);
  }
  ReportProgress(hash.get(), 0, 0);
  WipeBytes(piece, sizeof piece, 0);
  hash->Done();
  return hash->DigestStr(Format);
}

std::string THashClassInfo::CalcFile(const std::string& FileName, TProtectionRef Protection,
                                     int32_t Format) const {
  TVEXFileStream file(FileName, 0x0040);  // read, shared with every other opener
  return CalcStream(file, -1, std::move(Protection), Format);
}

// --- THash -------------------------------------------------------------------------

void THash::Calc(const void*, int32_t) {}

uint8_t* THash::DigestKey() { throw rtl::Exception(sNotImplemented14); }

std::string THash::DigestStr(int32_t Format) {
  return BytesToFormat(DigestKey(), DigestKeySize(), Format);
}

void THash::StartCoding(TPAction Action) {
  Init();
  if (Action == paWipe) throw rtl::Exception(sNotImplemented12);
  TProtection::StartCoding(Action);
}

void THash::FinishCoding(TPAction Action) {
  TProtection::FinishCoding(Action);
  if (Action == paCalc)
    Done();
  else
    Init();
}

void THash::CodeData(void* Buffer, int32_t Size, TPAction Action) {
  if (Action != paDecode) TProtection::CodeData(Buffer, Size, Action);
  if (Buffer != nullptr && Size > 0 && Actions().Contains(Action)) {
    auto* data = static_cast<uint8_t*>(Buffer);
    const int32_t digestSize = DigestKeySize();
    switch (Action) {
      case paCalc:
        Calc(data, Size);
        break;
      case paScramble:
      case paWipe:
        // Each piece is replaced by the running digest over the pieces so far.
        for (int32_t pos = 0; pos < Size; pos += digestSize) {
          const int32_t len = std::min(digestSize, Size - pos);
          Calc(data + pos, len);
          Done();
          std::memcpy(data + pos, DigestKey(), static_cast<size_t>(len));
        }
        break;
      case paEncode:
      case paDecode: {
        // A key stream: the digest hashed again for every piece.
        uint8_t previous[40];
        for (int32_t pos = 0; pos < Size; pos += digestSize) {
          const int32_t len = std::min(digestSize, Size - pos);
          std::memcpy(previous, DigestKey(), static_cast<size_t>(digestSize));
          Calc(previous, digestSize);
          Done();
          XorBuffers(data + pos, DigestKey(), len, data + pos);
        }
        WipeBytes(previous, sizeof previous, 0);
        break;
      }
    }
  }
  if (Action == paDecode) TProtection::CodeData(Buffer, Size, Action);
}

// --- THash_MD4 ---------------------------------------------------------------------

THash_MD4::THash_MD4(TProtectionRef AProtection) : THash(std::move(AProtection)) {}

THash_MD4::~THash_MD4() {
  WipeBytes(FDigest, sizeof FDigest, 0);
  WipeBytes(FBuffer, sizeof FBuffer, 0);
}

void THash_MD4::Init() {
  std::memset(FBuffer, 0, sizeof FBuffer);
  std::memset(FDigest, 0, sizeof FDigest);
  FDigest[0] = 0x67452301;
  FDigest[1] = 0xEFCDAB89;
  FDigest[2] = 0x98BADCFE;
  FDigest[3] = 0x10325476;
  FCount = 0;
}

void THash_MD4::Calc(const void* Data, int32_t DataSize) {
  if (Data == nullptr || DataSize <= 0) return;
  const auto* in = static_cast<const uint8_t*>(Data);
  size_t index = static_cast<size_t>(FCount % 64);
  FCount += static_cast<uint64_t>(DataSize);
  size_t left = static_cast<size_t>(DataSize);
  while (left > 0) {
    const size_t take = std::min(left, 64 - index);
    std::memcpy(FBuffer + index, in, take);
    in += take;
    left -= take;
    index += take;
    if (index == 64) {
      HashBlock();
      index = 0;
    }
  }
}

void THash_MD4::Done() {
  size_t index = static_cast<size_t>(FCount % 64);
  FBuffer[index++] = 0x80;
  std::memset(FBuffer + index, 0, 64 - index);
  if (index > 56) {
    HashBlock();
    std::memset(FBuffer, 0, 64);
  }
  const uint64_t bits = FCount * 8;
  StoreLE32(FBuffer + 56, static_cast<uint32_t>(bits));
  StoreLE32(FBuffer + 60, static_cast<uint32_t>(bits >> 32));
  HashBlock();
  std::memset(FBuffer, 0, sizeof FBuffer);
}

uint8_t* THash_MD4::DigestKey() { return reinterpret_cast<uint8_t*>(FDigest); }

namespace {

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

void LoadBlock(const uint8_t* block, uint32_t X[16]) {
  for (int i = 0; i < 16; ++i) X[i] = LoadLE32(block + 4 * i);
}

}  // namespace

void THash_MD4::HashBlock() {
  uint32_t X[16];
  LoadBlock(FBuffer, X);
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  static constexpr int kS1[4] = {3, 7, 11, 19};
  static constexpr int kS2[4] = {3, 5, 9, 13};
  static constexpr int kS3[4] = {3, 9, 11, 15};
  static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = ROL(a + F(b, c, d) + X[i], kS1[i % 4]);
    a = d;
    d = c;
    c = b;
    b = t;
  }
  for (int i = 0; i < 16; ++i) {
    const int k = (i % 4) * 4 + i / 4;
    const uint32_t t = ROL(a + G(b, c, d) + X[k] + 0x5A827999u, kS2[i % 4]);
    a = d;
    d = c;
    c = b;
    b = t;
  }
  for (int i = 0; i < 16; ++i) {
    const uint32_t t = ROL(a + H(b, c, d) + X[kOrder3[i]] + 0x6ED9EBA1u, kS3[i % 4]);
    a = d;
    d = c;
    c = b;
    b = t;
  }
  FDigest[0] += a;
  FDigest[1] += b;
  FDigest[2] += c;
  FDigest[3] += d;
  WipeBytes(X, sizeof X, 0);
}

// --- RIPEMD-128 and RIPEMD-256 -----------------------------------------------------

namespace {

constexpr uint8_t kR[64] = {0, 1,  2,  3,  4,  5,  6,  7, 8,  9, 10, 11, 12, 13, 14, 15,
                            7, 4,  13, 1,  10, 6,  15, 3, 12, 0, 9,  5,  2,  14, 11, 8,
                            3, 10, 14, 4,  9,  15, 8,  1, 2,  7, 0,  6,  13, 11, 5,  12,
                            1, 9,  11, 10, 0,  8,  12, 4, 13, 3, 7,  15, 14, 5,  6,  2};
constexpr uint8_t kRP[64] = {5,  14, 7, 0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                             6,  11, 3, 7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                             15, 5,  1, 3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                             8,  6,  4, 1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr uint8_t kS[64] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                            7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                            11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                            11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr uint8_t kSP[64] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                             9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                             9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                             15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr uint32_t kK[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
constexpr uint32_t kKP[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};

inline uint32_t RipeF(int round, uint32_t x, uint32_t y, uint32_t z) {
  switch (round) {
    case 0:
      return x ^ y ^ z;
    case 1:
      return (x & y) | (~x & z);
    case 2:
      return (x | ~y) ^ z;
    default:
      return (x & z) | (y & ~z);
  }
}

// One round (16 steps) of both lines on the registers given.
inline void RipeRound(int round, const uint32_t X[16], uint32_t& a, uint32_t& b, uint32_t& c,
                      uint32_t& d, uint32_t& ap, uint32_t& bp, uint32_t& cp, uint32_t& dp) {
  for (int j = round * 16; j < round * 16 + 16; ++j) {
    uint32_t t = ROL(a + RipeF(round, b, c, d) + X[kR[j]] + kK[round], kS[j]);
    a = d;
    d = c;
    c = b;
    b = t;
    t = ROL(ap + RipeF(3 - round, bp, cp, dp) + X[kRP[j]] + kKP[round], kSP[j]);
    ap = dp;
    dp = cp;
    cp = bp;
    bp = t;
  }
}

}  // namespace

void THash_RipeMD128::HashBlock() {
  uint32_t X[16];
  LoadBlock(FBuffer, X);
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  uint32_t ap = a, bp = b, cp = c, dp = d;
  for (int round = 0; round < 4; ++round) RipeRound(round, X, a, b, c, d, ap, bp, cp, dp);
  const uint32_t t = FDigest[1] + c + dp;
  FDigest[1] = FDigest[2] + d + ap;
  FDigest[2] = FDigest[3] + a + bp;
  FDigest[3] = FDigest[0] + b + cp;
  FDigest[0] = t;
  WipeBytes(X, sizeof X, 0);
}

void THash_RipeMD256::Init() {
  THash_MD4::Init();
  FDigest[4] = 0x76543210;
  FDigest[5] = 0xFEDCBA98;
  FDigest[6] = 0x89ABCDEF;
  FDigest[7] = 0x01234567;
}

void THash_RipeMD256::HashBlock() {
  uint32_t X[16];
  LoadBlock(FBuffer, X);
  uint32_t a = FDigest[0], b = FDigest[1], c = FDigest[2], d = FDigest[3];
  uint32_t ap = FDigest[4], bp = FDigest[5], cp = FDigest[6], dp = FDigest[7];
  // The two lines exchange one register after each round.
  RipeRound(0, X, a, b, c, d, ap, bp, cp, dp);
  std::swap(a, ap);
  RipeRound(1, X, a, b, c, d, ap, bp, cp, dp);
  std::swap(b, bp);
  RipeRound(2, X, a, b, c, d, ap, bp, cp, dp);
  std::swap(c, cp);
  RipeRound(3, X, a, b, c, d, ap, bp, cp, dp);
  std::swap(d, dp);
  FDigest[0] += a;
  FDigest[1] += b;
  FDigest[2] += c;
  FDigest[3] += d;
  FDigest[4] += ap;
  FDigest[5] += bp;
  FDigest[6] += cp;
  FDigest[7] += dp;
  WipeBytes(X, sizeof X, 0);
}

// --- Class references --------------------------------------------------------------

constinit const THashClassInfo THash_MD4::ClassInfo{"THash_MD4", nullptr, 16, &MakeHash<THash_MD4>,
                                                    sTestVectorMD4};
constinit const THashClassInfo THash_RipeMD128::ClassInfo{
    "THash_RipeMD128", &THash_MD4::ClassInfo, 16, &MakeHash<THash_RipeMD128>, sTestVectorRipeMD128};
constinit const THashClassInfo THash_RipeMD256::ClassInfo{
    "THash_RipeMD256", &THash_MD4::ClassInfo, 32, &MakeHash<THash_RipeMD256>, sTestVectorRipeMD256};

}  // namespace vex
