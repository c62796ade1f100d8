// TCipher_1DES, TCipher_3DES and TCipher_3TDES: DES as FIPS 46-3 defines it,
// and the library's two triple-DES arrangements on top of it. The permutation
// and S-box tables are those of the standard (bit 1 is the most significant bit
// of the first byte); faster lookup tables are derived from them at compile time.
#include <cstring>

#include "foundation/VEXCipher.h"

namespace vex {

namespace {

constexpr uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Bit n (1-based, 1 = most significant) of a value of Width bits.
constexpr uint64_t Bit(uint64_t v, int n, int width) { return (v >> (width - n)) & 1; }

struct Tables {
  // Contribution of each input byte to the output of the initial and final
  // permutations.
  uint64_t IP[8][256]{};
  uint64_t FP[8][256]{};
  // S-box k looked up with its 6-bit input, its output already through P.
  uint32_t SP[8][64]{};
};

constexpr Tables MakeTables() {
  Tables t{};
  uint8_t fp[64]{};
  for (int i = 0; i < 64; ++i) fp[kIP[i] - 1] = static_cast<uint8_t>(i + 1);
  for (int pos = 0; pos < 8; ++pos) {
    for (int v = 0; v < 256; ++v) {
      const uint64_t in = uint64_t(v) << (56 - 8 * pos);
      uint64_t ip = 0, f = 0;
      for (int i = 0; i < 64; ++i) {
        ip = (ip << 1) | Bit(in, kIP[i], 64);
        f = (f << 1) | Bit(in, fp[i], 64);
      }
      t.IP[pos][v] = ip;
      t.FP[pos][v] = f;
    }
  }
  for (int k = 0; k < 8; ++k) {
    for (int v = 0; v < 64; ++v) {
      const int row = ((v >> 4) & 2) | (v & 1);
      const int col = (v >> 1) & 15;
      const uint32_t s = uint32_t(kSBox[k][row * 16 + col]) << (28 - 4 * k);
      uint32_t p = 0;
      for (int i = 0; i < 32; ++i) p = (p << 1) | static_cast<uint32_t>(Bit(s, kP[i], 32));
      t.SP[k][v] = p;
    }
  }
  return t;
}

constexpr Tables kT = MakeTables();

inline uint64_t Permute(const uint64_t (&table)[8][256], uint64_t v) {
  uint64_t r = 0;
  for (int pos = 0; pos < 8; ++pos) r |= table[pos][(v >> (56 - 8 * pos)) & 0xFF];
  return r;
}

// The round function on R with the eight 6-bit subkey chunks of one round,
// packed four to a word.
inline uint32_t F(uint32_t r, uint32_t k0, uint32_t k1) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t e = ROR(r, static_cast<uint32_t>(27 - 4 * i) & 31) & 63;
    out ^= kT.SP[i][e ^ ((k0 >> (8 * i)) & 63)];
  }
  for (int i = 4; i < 8; ++i) {
    const uint32_t e = ROR(r, static_cast<uint32_t>(27 - 4 * i) & 31) & 63;
    out ^= kT.SP[i][e ^ ((k1 >> (8 * (i - 4))) & 63)];
  }
  return out;
}

constexpr int kScheduleWords = 32;

}  // namespace

void TCipher_1DES::MakeSchedule(const uint8_t Key[8], uint32_t* Encrypt, uint32_t* Decrypt) {
  uint64_t key = 0;
  for (int i = 0; i < 8; ++i) key = (key << 8) | Key[i];
  uint64_t cd = 0;
  for (int i = 0; i < 56; ++i) cd = (cd << 1) | Bit(key, kPC1[i], 64);
  uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
  uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShifts[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    const uint64_t joined = (uint64_t(c) << 28) | d;
    uint32_t k0 = 0, k1 = 0;
    for (int chunk = 0; chunk < 8; ++chunk) {
      uint32_t v = 0;
      for (int b = 0; b < 6; ++b)
        v = (v << 1) | static_cast<uint32_t>(Bit(joined, kPC2[chunk * 6 + b], 56));
      if (chunk < 4)
        k0 |= v << (8 * chunk);
      else
        k1 |= v << (8 * (chunk - 4));
    }
    Encrypt[2 * round] = k0;
    Encrypt[2 * round + 1] = k1;
    Decrypt[2 * (15 - round)] = k0;
    Decrypt[2 * (15 - round) + 1] = k1;
  }
  key = cd = 0;
  c = d = 0;
}

void TCipher_1DES::DESBlock(uint8_t* Data, const uint32_t* Schedule) {
  uint64_t block = 0;
  for (int i = 0; i < 8; ++i) block = (block << 8) | Data[i];
  block = Permute(kT.IP, block);
  uint32_t l = static_cast<uint32_t>(block >> 32);
  uint32_t r = static_cast<uint32_t>(block);
  for (int round = 0; round < 16; round += 2) {
    l ^= F(r, Schedule[2 * round], Schedule[2 * round + 1]);
    r ^= F(l, Schedule[2 * round + 2], Schedule[2 * round + 3]);
  }
  // The last round does not exchange the halves.
  block = Permute(kT.FP, (uint64_t(r) << 32) | l);
  for (int i = 7; i >= 0; --i) {
    Data[i] = static_cast<uint8_t>(block);
    block >>= 8;
  }
}

TCipher_1DES::TCipher_1DES(TCipherClass AClass, TProtectionRef AProtection)
    : TCipher(AClass, std::move(AProtection)) {}

void TCipher_1DES::Init(const void* Key, int32_t Size, const void* IVector) {
  Size = StartInit(Size);
  uint8_t key[8] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));
  MakeSchedule(key, User(), User() + kScheduleWords);
  WipeBytes(key, sizeof key, 0);
  FinishInit(IVector);
}

void TCipher_1DES::EncryptBlock(uint8_t* Data) { DESBlock(Data, User()); }
void TCipher_1DES::DecryptBlock(uint8_t* Data) { DESBlock(Data, User() + kScheduleWords); }

// --- Triple DES ------------------------------------------------------------------
// Schedule layout: encryption and decryption subkeys of K1, then of K2, then K3.

namespace {
inline const uint32_t* EncryptKeys(const uint32_t* user, int key) {
  return user + 2 * kScheduleWords * key;
}
inline const uint32_t* DecryptKeys(const uint32_t* user, int key) {
  return user + 2 * kScheduleWords * key + kScheduleWords;
}
}  // namespace

TCipher_3DES::TCipher_3DES(TCipherClass AClass, TProtectionRef AProtection)
    : TCipher_1DES(AClass, std::move(AProtection)) {}

void TCipher_3DES::Init(const void* Key, int32_t Size, const void* IVector) {
  Size = StartInit(Size);
  uint8_t key[24] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));
  for (int i = 0; i < 3; ++i)
    MakeSchedule(key + 8 * i, User() + 2 * kScheduleWords * i,
                 User() + 2 * kScheduleWords * i + kScheduleWords);
  WipeBytes(key, sizeof key, 0);
  FinishInit(IVector);
}

void TCipher_3DES::EncryptBlock(uint8_t* Data) {
  DESBlock(Data, EncryptKeys(User(), 0));
  DESBlock(Data, DecryptKeys(User(), 1));
  DESBlock(Data, EncryptKeys(User(), 2));
}

void TCipher_3DES::DecryptBlock(uint8_t* Data) {
  DESBlock(Data, DecryptKeys(User(), 2));
  DESBlock(Data, EncryptKeys(User(), 1));
  DESBlock(Data, DecryptKeys(User(), 0));
}

TCipher_3TDES::TCipher_3TDES(TCipherClass AClass, TProtectionRef AProtection)
    : TCipher_3DES(AClass, std::move(AProtection)) {}

namespace {
// Exchanges words 1 and 2 and words 3 and 4 of a 24-byte block, so that each
// third takes half of its neighbour for the next pass.
inline void ExchangeWords(uint8_t* Data) {
  uint8_t t[4];
  std::memcpy(t, Data + 4, 4);
  std::memcpy(Data + 4, Data + 8, 4);
  std::memcpy(Data + 8, t, 4);
  std::memcpy(t, Data + 12, 4);
  std::memcpy(Data + 12, Data + 16, 4);
  std::memcpy(Data + 16, t, 4);
}
}  // namespace

void TCipher_3TDES::EncryptBlock(uint8_t* Data) {
  for (int i = 0; i < 3; ++i) DESBlock(Data + 8 * i, EncryptKeys(User(), 0));
  ExchangeWords(Data);
  for (int i = 0; i < 3; ++i) DESBlock(Data + 8 * i, DecryptKeys(User(), 1));
  ExchangeWords(Data);
  for (int i = 0; i < 3; ++i) DESBlock(Data + 8 * i, EncryptKeys(User(), 2));
}

void TCipher_3TDES::DecryptBlock(uint8_t* Data) {
  for (int i = 0; i < 3; ++i) DESBlock(Data + 8 * i, DecryptKeys(User(), 2));
  ExchangeWords(Data);
  for (int i = 0; i < 3; ++i) DESBlock(Data + 8 * i, EncryptKeys(User(), 1));
  ExchangeWords(Data);
  for (int i = 0; i < 3; ++i) DESBlock(Data + 8 * i, DecryptKeys(User(), 0));
}

constinit const TCipherClassInfo TCipher_1DES::ClassInfo{
    "TCipher_1DES",
    nullptr,
    8,
    8,
    256,
    [](const std::string& Password, TProtectionRef AProtection) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_1DES>(Password, std::move(AProtection));
    },
    sTestVector1DES};
constinit const TCipherClassInfo TCipher_3DES::ClassInfo{
    "TCipher_3DES",
    &TCipher_1DES::ClassInfo,
    8,
    24,
    768,
    [](const std::string& Password, TProtectionRef AProtection) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_3DES>(Password, std::move(AProtection));
    },
    sTestVector3DES};
constinit const TCipherClassInfo TCipher_3TDES::ClassInfo{
    "TCipher_3TDES",
    &TCipher_3DES::ClassInfo,
    24,
    24,
    768,
    [](const std::string& Password, TProtectionRef AProtection) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_3TDES>(Password, std::move(AProtection));
    },
    sTestVector3TDES};

}  // namespace vex
