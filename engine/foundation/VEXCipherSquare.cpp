// TCipher_Square: the cipher as its designers' paper defines it: eight rounds
// of θ (each row times c(x) = 2 + x + x^2 + 3x^3 modulo x^4 + 1), γ (the
// S-box), π (transposition) and key addition, after an initial θ^-1 and key
// addition. The S-box is the inverse in GF(2^8) modulo x^8+x^7+x^6+x^5+x^4+x^2+1
// followed by the cipher's affine map; it and the round tables are derived at
// compile time. Rows are big-endian words: block byte 4i+j is row i, column j.
#include <cstring>

#include "foundation/VEXCipher.h"

namespace vex {

namespace {

constexpr uint16_t kPoly = 0x1F5;

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
  uint16_t aa = a;
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= static_cast<uint8_t>(aa);
    aa <<= 1;
    if (aa & 0x100) aa ^= kPoly;
    b >>= 1;
  }
  return r;
}

// The affine map: images of the eight unit vectors under its matrix, and its
// constant.
constexpr uint8_t kAffineColumns[8] = {0x7F, 0xDA, 0xBC, 0x78, 0xF0, 0x60, 0xC0, 0x80};
constexpr uint8_t kAffineConstant = 0xB1;

// c(x) of θ and d(x) of θ^-1, lowest coefficient first.
constexpr uint8_t kC[4] = {0x02, 0x01, 0x01, 0x03};
constexpr uint8_t kD[4] = {0x0E, 0x09, 0x0D, 0x0B};

constexpr bool IsInverse() {
  uint8_t r[4] = {};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r[(i + j) % 4] ^= Mul(kC[i], kD[j]);
  return r[0] == 1 && r[1] == 0 && r[2] == 0 && r[3] == 0;
}
static_assert(IsInverse(), "d(x) must invert c(x)");

// Row byte k (0 = most significant) times the polynomial p lands in output byte
// j with coefficient p[(j - k) mod 4].
constexpr uint32_t RowTerm(const uint8_t (&p)[4], int k, uint8_t v) {
  uint32_t w = 0;
  for (int j = 0; j < 4; ++j) w |= uint32_t(Mul(v, p[(j - k + 4) % 4])) << (24 - 8 * j);
  return w;
}

struct Tables {
  uint8_t S[256]{};
  uint8_t SI[256]{};
  uint32_t Te[4][256]{};  // γ, then θ, for row byte k
  uint32_t Td[4][256]{};  // γ^-1, then θ^-1
};

constexpr Tables MakeTables() {
  Tables t{};
  uint8_t exp[256]{};
  uint8_t log[256]{};
  // x is primitive for this polynomial: its powers run through all 255
  // non-zero elements, which gives the inverses.
  uint8_t v = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = v;
    log[v] = static_cast<uint8_t>(i);
    v = Mul(v, 2);
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t inv = x == 0 ? 0 : exp[(255 - log[x]) % 255];
    uint8_t s = kAffineConstant;
    for (int b = 0; b < 8; ++b)
      if (inv & (1 << b)) s ^= kAffineColumns[b];
    t.S[x] = s;
    t.SI[s] = static_cast<uint8_t>(x);
  }
  for (int k = 0; k < 4; ++k)
    for (int x = 0; x < 256; ++x) {
      t.Te[k][x] = RowTerm(kC, k, t.S[x]);
      t.Td[k][x] = RowTerm(kD, k, t.SI[x]);
    }
  return t;
}

constexpr Tables kT = MakeTables();

constexpr bool IsPermutation() {
  bool seen[256] = {};
  for (int x = 0; x < 256; ++x) {
    if (seen[kT.S[x]]) return false;
    seen[kT.S[x]] = true;
  }
  return true;
}
static_assert(IsPermutation(), "the S-box must be a permutation");

inline uint8_t B(uint32_t w, int k) { return static_cast<uint8_t>(w >> (24 - 8 * k)); }

// θ of one row.
uint32_t Theta(uint32_t row) {
  uint32_t r = 0;
  for (int k = 0; k < 4; ++k) r ^= RowTerm(kC, k, B(row, k));
  return r;
}

// One full round: γ, π and θ through the tables, then the round key.
inline void Round(const uint32_t (&T)[4][256], const uint32_t in[4], uint32_t out[4],
                  const uint32_t* key) {
  for (int i = 0; i < 4; ++i)
    out[i] = T[0][B(in[0], i)] ^ T[1][B(in[1], i)] ^ T[2][B(in[2], i)] ^ T[3][B(in[3], i)] ^ key[i];
}

// The last round: γ and π only.
inline void Final(const uint8_t* S, const uint32_t in[4], uint8_t* out, const uint32_t* key) {
  for (int i = 0; i < 4; ++i) {
    const uint32_t w = (uint32_t(S[B(in[0], i)]) << 24) | (uint32_t(S[B(in[1], i)]) << 16) |
                       (uint32_t(S[B(in[2], i)]) << 8) | S[B(in[3], i)];
    StoreBE32(out + 4 * i, w ^ key[i]);
  }
}

constexpr int kRounds = 8;
constexpr int kScheduleWords = 4 * (kRounds + 1);

void Code(const uint32_t (&T)[4][256], const uint8_t* S, const uint32_t* keys, uint8_t* Data) {
  uint32_t a[4], b[4];
  for (int i = 0; i < 4; ++i) a[i] = LoadBE32(Data + 4 * i) ^ keys[i];
  for (int r = 1; r < kRounds; r += 2) {
    Round(T, a, b, keys + 4 * r);
    if (r + 1 < kRounds)
      Round(T, b, a, keys + 4 * (r + 1));
    else
      std::memcpy(a, b, sizeof a);
  }
  Final(S, a, Data, keys + 4 * kRounds);
}

}  // namespace

TCipher_Square::TCipher_Square(TCipherClass AClass, TProtectionRef AProtection)
    : TCipher(AClass, std::move(AProtection)) {}

void TCipher_Square::Init(const void* Key, int32_t Size, const void* IVector) {
  Size = StartInit(Size);
  uint8_t key[16] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));
  uint32_t k[kRounds + 1][4];
  for (int i = 0; i < 4; ++i) k[0][i] = LoadBE32(key + 4 * i);
  for (int t = 1; t <= kRounds; ++t) {
    k[t][0] = k[t - 1][0] ^ ROL(k[t - 1][3], 8) ^ (0x01000000u << (t - 1));
    k[t][1] = k[t - 1][1] ^ k[t][0];
    k[t][2] = k[t - 1][2] ^ k[t][1];
    k[t][3] = k[t - 1][3] ^ k[t][2];
  }
  // Encryption adds θ(k0) .. θ(k7) and k8, decryption k8, k7 .. k1 and θ(k0)
  // (the θ of the first key and the first θ^-1 of the cipher fold together).
  uint32_t* ek = User();
  uint32_t* dk = User() + kScheduleWords;
  for (int t = 0; t <= kRounds; ++t)
    for (int i = 0; i < 4; ++i) {
      ek[4 * t + i] = t < kRounds ? Theta(k[t][i]) : k[t][i];
      dk[4 * t + i] = t < kRounds ? k[kRounds - t][i] : Theta(k[0][i]);
    }
  WipeBytes(key, sizeof key, 0);
  WipeBytes(k, sizeof k, 0);
  FinishInit(IVector);
}

void TCipher_Square::EncryptBlock(uint8_t* Data) { Code(kT.Te, kT.S, User(), Data); }
void TCipher_Square::DecryptBlock(uint8_t* Data) {
  Code(kT.Td, kT.SI, User() + kScheduleWords, Data);
}

constinit const TCipherClassInfo TCipher_Square::ClassInfo{
    "TCipher_Square",
    nullptr,
    16,
    16,
    288,
    [](const std::string& Password, TProtectionRef AProtection) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_Square>(Password, std::move(AProtection));
    },
    sTestVectorSquare};

}  // namespace vex
