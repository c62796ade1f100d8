// TCipher_Twofish: the cipher as its designers' paper defines it. The q
// permutations are built at compile time from their 4-bit tables; the key
// schedule keeps the 40 subkeys and the four key-dependent S-box columns
// already multiplied through the MDS matrix.
#include <cstring>

#include "foundation/VEXCipher.h"

namespace vex {

namespace {

constexpr uint8_t kQT[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}}};

constexpr uint8_t Ror4(uint8_t x) { return static_cast<uint8_t>(((x >> 1) | (x << 3)) & 15); }

constexpr uint8_t GfMul(uint8_t a, uint8_t b, uint16_t poly) {
  uint16_t aa = a;
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= static_cast<uint8_t>(aa);
    aa <<= 1;
    if (aa & 0x100) aa ^= poly;
    b >>= 1;
  }
  return r;
}

constexpr uint16_t kMdsPoly = 0x169;  // x^8 + x^6 + x^5 + x^3 + 1
constexpr uint16_t kRsPoly = 0x14D;   // x^8 + x^6 + x^3 + x^2 + 1

constexpr uint8_t kMDS[4][4] = {{0x01, 0xEF, 0x5B, 0x5B},
                                {0x5B, 0xEF, 0xEF, 0x01},
                                {0xEF, 0x5B, 0x01, 0xEF},
                                {0xEF, 0x01, 0xEF, 0x5B}};

constexpr uint8_t kRS[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                               {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                               {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                               {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

struct Tables {
  uint8_t Q[2][256]{};
  // Column i of the MDS matrix times a byte, as a little-endian word.
  uint32_t M[4][256]{};
};

constexpr Tables MakeTables() {
  Tables t{};
  for (int q = 0; q < 2; ++q) {
    for (int x = 0; x < 256; ++x) {
      uint8_t a = static_cast<uint8_t>(x >> 4), b = static_cast<uint8_t>(x & 15);
      uint8_t a1 = a ^ b, b1 = static_cast<uint8_t>((a ^ Ror4(b) ^ (8 * a)) & 15);
      uint8_t a2 = kQT[q][0][a1], b2 = kQT[q][1][b1];
      uint8_t a3 = a2 ^ b2, b3 = static_cast<uint8_t>((a2 ^ Ror4(b2) ^ (8 * a2)) & 15);
      uint8_t a4 = kQT[q][2][a3], b4 = kQT[q][3][b3];
      t.Q[q][x] = static_cast<uint8_t>((b4 << 4) | a4);
    }
  }
  for (int col = 0; col < 4; ++col)
    for (int x = 0; x < 256; ++x) {
      uint32_t w = 0;
      for (int row = 0; row < 4; ++row)
        w |= uint32_t(GfMul(static_cast<uint8_t>(x), kMDS[row][col], kMdsPoly)) << (8 * row);
      t.M[col][x] = w;
    }
  return t;
}

constexpr Tables kT = MakeTables();
constexpr const uint8_t* q0 = kT.Q[0];
constexpr const uint8_t* q1 = kT.Q[1];

inline uint8_t Byte(uint32_t w, int i) { return static_cast<uint8_t>(w >> (8 * i)); }

// The byte substitutions of h before the MDS matrix: byte i of X through the
// chain of q permutations and key words L[0..k-1].
inline void HBytes(uint8_t y[4], const uint32_t* L, int k) {
  if (k == 4) {
    y[0] = q1[y[0]] ^ Byte(L[3], 0);
    y[1] = q0[y[1]] ^ Byte(L[3], 1);
    y[2] = q0[y[2]] ^ Byte(L[3], 2);
    y[3] = q1[y[3]] ^ Byte(L[3], 3);
  }
  if (k >= 3) {
    y[0] = q1[y[0]] ^ Byte(L[2], 0);
    y[1] = q1[y[1]] ^ Byte(L[2], 1);
    y[2] = q0[y[2]] ^ Byte(L[2], 2);
    y[3] = q0[y[3]] ^ Byte(L[2], 3);
  }
  y[0] = q1[q0[q0[y[0]] ^ Byte(L[1], 0)] ^ Byte(L[0], 0)];
  y[1] = q0[q0[q1[y[1]] ^ Byte(L[1], 1)] ^ Byte(L[0], 1)];
  y[2] = q1[q1[q0[y[2]] ^ Byte(L[1], 2)] ^ Byte(L[0], 2)];
  y[3] = q0[q1[q1[y[3]] ^ Byte(L[1], 3)] ^ Byte(L[0], 3)];
}

inline uint32_t H(uint32_t x, const uint32_t* L, int k) {
  uint8_t y[4] = {Byte(x, 0), Byte(x, 1), Byte(x, 2), Byte(x, 3)};
  HBytes(y, L, k);
  return kT.M[0][y[0]] ^ kT.M[1][y[1]] ^ kT.M[2][y[2]] ^ kT.M[3][y[3]];
}

constexpr int kSubkeys = 40;

// g through the key-dependent tables that Init builds.
inline uint32_t G(const uint32_t* S, uint32_t x) {
  return S[Byte(x, 0)] ^ S[256 + Byte(x, 1)] ^ S[512 + Byte(x, 2)] ^ S[768 + Byte(x, 3)];
}

}  // namespace

TCipher_Twofish::TCipher_Twofish(TCipherClass AClass, TProtectionRef AProtection)
    : TCipher(AClass, std::move(AProtection)) {}

void TCipher_Twofish::Init(const void* Key, int32_t Size, const void* IVector) {
  Size = StartInit(Size);
  const int keyLen = Size <= 16 ? 16 : Size <= 24 ? 24 : 32;
  const int k = keyLen / 8;
  uint8_t key[32] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));

  uint32_t me[4] = {}, mo[4] = {}, s[4] = {};
  for (int i = 0; i < k; ++i) {
    me[i] = LoadLE32(key + 8 * i);
    mo[i] = LoadLE32(key + 8 * i + 4);
    // The S words come from the key through the RS code, in reverse order.
    uint32_t w = 0;
    for (int row = 0; row < 4; ++row) {
      uint8_t v = 0;
      for (int col = 0; col < 8; ++col) v ^= GfMul(key[8 * i + col], kRS[row][col], kRsPoly);
      w |= uint32_t(v) << (8 * row);
    }
    s[k - 1 - i] = w;
  }

  uint32_t* K = User();
  for (int i = 0; i < kSubkeys / 2; ++i) {
    const uint32_t a = H(0x02020202u * static_cast<uint32_t>(i), me, k);
    const uint32_t b = ROL(H(0x02020202u * static_cast<uint32_t>(i) + 0x01010101u, mo, k), 8);
    K[2 * i] = a + b;
    K[2 * i + 1] = ROL(a + 2 * b, 9);
  }
  uint32_t* S = User() + kSubkeys;
  for (int x = 0; x < 256; ++x) {
    uint8_t y[4] = {uint8_t(x), uint8_t(x), uint8_t(x), uint8_t(x)};
    HBytes(y, s, k);
    for (int col = 0; col < 4; ++col) S[256 * col + x] = kT.M[col][y[col]];
  }
  WipeBytes(key, sizeof key, 0);
  WipeBytes(me, sizeof me, 0);
  WipeBytes(mo, sizeof mo, 0);
  WipeBytes(s, sizeof s, 0);
  FinishInit(IVector);
}

void TCipher_Twofish::EncryptBlock(uint8_t* Data) {
  const uint32_t* K = User();
  const uint32_t* S = User() + kSubkeys;
  uint32_t r0 = LoadLE32(Data) ^ K[0];
  uint32_t r1 = LoadLE32(Data + 4) ^ K[1];
  uint32_t r2 = LoadLE32(Data + 8) ^ K[2];
  uint32_t r3 = LoadLE32(Data + 12) ^ K[3];
  for (int round = 0; round < 16; round += 2) {
    uint32_t t0 = G(S, r0), t1 = G(S, ROL(r1, 8));
    r2 = ROR(r2 ^ (t0 + t1 + K[2 * round + 8]), 1);
    r3 = ROL(r3, 1) ^ (t0 + 2 * t1 + K[2 * round + 9]);
    t0 = G(S, r2);
    t1 = G(S, ROL(r3, 8));
    r0 = ROR(r0 ^ (t0 + t1 + K[2 * round + 10]), 1);
    r1 = ROL(r1, 1) ^ (t0 + 2 * t1 + K[2 * round + 11]);
  }
  StoreLE32(Data, r2 ^ K[4]);
  StoreLE32(Data + 4, r3 ^ K[5]);
  StoreLE32(Data + 8, r0 ^ K[6]);
  StoreLE32(Data + 12, r1 ^ K[7]);
}

void TCipher_Twofish::DecryptBlock(uint8_t* Data) {
  const uint32_t* K = User();
  const uint32_t* S = User() + kSubkeys;
  uint32_t r2 = LoadLE32(Data) ^ K[4];
  uint32_t r3 = LoadLE32(Data + 4) ^ K[5];
  uint32_t r0 = LoadLE32(Data + 8) ^ K[6];
  uint32_t r1 = LoadLE32(Data + 12) ^ K[7];
  for (int round = 14; round >= 0; round -= 2) {
    uint32_t t0 = G(S, r2), t1 = G(S, ROL(r3, 8));
    r0 = ROL(r0, 1) ^ (t0 + t1 + K[2 * round + 10]);
    r1 = ROR(r1 ^ (t0 + 2 * t1 + K[2 * round + 11]), 1);
    t0 = G(S, r0);
    t1 = G(S, ROL(r1, 8));
    r2 = ROL(r2, 1) ^ (t0 + t1 + K[2 * round + 8]);
    r3 = ROR(r3 ^ (t0 + 2 * t1 + K[2 * round + 9]), 1);
  }
  StoreLE32(Data, r0 ^ K[0]);
  StoreLE32(Data + 4, r1 ^ K[1]);
  StoreLE32(Data + 8, r2 ^ K[2]);
  StoreLE32(Data + 12, r3 ^ K[3]);
}

constinit const TCipherClassInfo TCipher_Twofish::ClassInfo{
    "TCipher_Twofish",
    nullptr,
    16,
    32,
    4256,
    [](const std::string& Password, TProtectionRef AProtection) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_Twofish>(Password, std::move(AProtection));
    },
    sTestVectorTwofish};

}  // namespace vex
