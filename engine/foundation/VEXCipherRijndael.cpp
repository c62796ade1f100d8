// TCipher_Rijndael: AES as FIPS-197 defines it, with 32-bit table lookups.
// The tables are derived at compile time from the definition of the S-box (the
// inverse in GF(2^8) modulo x^8+x^4+x^3+x+1 followed by the affine map).
// Where the processor has the AES instructions, a block goes through them
// instead, with the same key schedule; which path runs is chosen once, at the
// first block, from what the processor reports.
#include <array>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEX_AES_HARDWARE 1
#endif

#include "foundation/VEXCipher.h"

namespace vex {

namespace {

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
    b >>= 1;
  }
  return r;
}

constexpr uint8_t Rotl8(uint8_t x, int n) {
  return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

struct Tables {
  uint8_t S[256]{};
  uint8_t SI[256]{};
  uint32_t Te[4][256]{};
  uint32_t Td[4][256]{};
};

constexpr Tables MakeTables() {
  Tables t{};
  // Powers of the generator 3 give logarithms, and with them inverses.
  uint8_t exp[256]{};
  uint8_t log[256]{};
  uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = x;
    log[x] = static_cast<uint8_t>(i);
    x = Mul(x, 3);
  }
  for (int i = 0; i < 256; ++i) {
    const uint8_t inv = i == 0 ? 0 : exp[(255 - log[i]) % 255];
    const uint8_t s = inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^ Rotl8(inv, 4) ^ 0x63;
    t.S[i] = s;
    t.SI[s] = static_cast<uint8_t>(i);
  }
  for (int i = 0; i < 256; ++i) {
    const uint8_t s = t.S[i];
    const uint32_t e =
        (uint32_t(Mul(s, 2)) << 24) | (uint32_t(s) << 16) | (uint32_t(s) << 8) | Mul(s, 3);
    const uint8_t si = t.SI[i];
    const uint32_t d = (uint32_t(Mul(si, 14)) << 24) | (uint32_t(Mul(si, 9)) << 16) |
                       (uint32_t(Mul(si, 13)) << 8) | Mul(si, 11);
    for (int k = 0; k < 4; ++k) {
      t.Te[k][i] = k == 0 ? e : (e >> (8 * k)) | (e << (32 - 8 * k));
      t.Td[k][i] = k == 0 ? d : (d >> (8 * k)) | (d << (32 - 8 * k));
    }
  }
  return t;
}

constexpr Tables kT = MakeTables();

constexpr uint32_t SubWord(uint32_t w) {
  return (uint32_t(kT.S[w >> 24]) << 24) | (uint32_t(kT.S[(w >> 16) & 0xFF]) << 16) |
         (uint32_t(kT.S[(w >> 8) & 0xFF]) << 8) | kT.S[w & 0xFF];
}

// InvMixColumns of one round-key word, for the equivalent decryption schedule.
constexpr uint32_t InvMixWord(uint32_t w) {
  return kT.Td[0][kT.S[w >> 24]] ^ kT.Td[1][kT.S[(w >> 16) & 0xFF]] ^
         kT.Td[2][kT.S[(w >> 8) & 0xFF]] ^ kT.Td[3][kT.S[w & 0xFF]];
}

constexpr int kScheduleWords = 60;  // 4 * (14 + 1)

std::atomic<bool> gHardwareEnabled{true};

bool HardwarePresent() {
#ifdef VEX_AES_HARDWARE
  static const bool present = __builtin_cpu_supports("aes") && __builtin_cpu_supports("ssse3");
  return present;
#else
  return false;
#endif
}

bool UseHardware() {
  return HardwarePresent() && gHardwareEnabled.load(std::memory_order_relaxed);
}

#ifdef VEX_AES_HARDWARE
// The schedule holds each round key as four 32-bit words of big-endian
// value in native order; the instructions want the sixteen bytes in order, so
// every word is byte-swapped on loading, off the chain of rounds.
__attribute__((target("aes,ssse3"))) inline __m128i RoundKey(const uint32_t* words) {
  const __m128i swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words)), swap);
}

__attribute__((target("aes,ssse3"))) void HardwareEncrypt(const uint32_t* rk, int rounds,
                                                          uint8_t* data) {
  __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), RoundKey(rk));
  for (int r = 1; r < rounds; ++r) s = _mm_aesenc_si128(s, RoundKey(rk + 4 * r));
  s = _mm_aesenclast_si128(s, RoundKey(rk + 4 * rounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(data), s);
}

// The decryption schedule is the equivalent inverse cipher's (reversed, the
// inner keys through InvMixColumns), which is what the instructions expect.
__attribute__((target("aes,ssse3"))) void HardwareDecrypt(const uint32_t* dk, int rounds,
                                                          uint8_t* data) {
  __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), RoundKey(dk));
  for (int r = 1; r < rounds; ++r) s = _mm_aesdec_si128(s, RoundKey(dk + 4 * r));
  s = _mm_aesdeclast_si128(s, RoundKey(dk + 4 * rounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(data), s);
}
#endif

}  // namespace

bool RijndaelHardwarePresent() { return HardwarePresent(); }

void SetRijndaelHardwareEnabled(bool enabled) {
  gHardwareEnabled.store(enabled, std::memory_order_relaxed);
}

TCipher_Rijndael::TCipher_Rijndael(TCipherClass AClass, TProtectionRef AProtection)
    : TCipher(AClass, std::move(AProtection)) {}

void TCipher_Rijndael::Init(const void* Key, int32_t Size, const void* IVector) {
  Size = StartInit(Size);
  // Keys are padded with zeros to the next of 16, 24 and 32 bytes.
  int32_t keyLen = Size <= 16 ? 16 : Size <= 24 ? 24 : 32;
  FRounds = keyLen == 16 ? 10 : keyLen == 24 ? 12 : 14;
  uint8_t key[32] = {};
  if (Size > 0) std::memcpy(key, Key, static_cast<size_t>(Size));

  uint32_t* rk = User();
  uint32_t* dk = User() + kScheduleWords;
  const int nk = keyLen / 4;
  const int total = 4 * (FRounds + 1);
  for (int i = 0; i < nk; ++i) rk[i] = LoadBE32(key + 4 * i);
  uint32_t rcon = 0x01;
  for (int i = nk; i < total; ++i) {
    uint32_t temp = rk[i - 1];
    if (i % nk == 0) {
      temp = SubWord((temp << 8) | (temp >> 24)) ^ (rcon << 24);
      rcon = uint32_t(Mul(static_cast<uint8_t>(rcon), 2));
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(temp);
    }
    rk[i] = rk[i - nk] ^ temp;
  }
  // Decryption: round keys in reverse order, the inner ones through
  // InvMixColumns.
  for (int r = 0; r <= FRounds; ++r) {
    for (int j = 0; j < 4; ++j) {
      const uint32_t w = rk[4 * (FRounds - r) + j];
      dk[4 * r + j] = (r == 0 || r == FRounds) ? w : InvMixWord(w);
    }
  }
  WipeBytes(key, sizeof key, 0);
  FinishInit(IVector);
}

void TCipher_Rijndael::EncryptBlock(uint8_t* Data) {
  const uint32_t* rk = User();
#ifdef VEX_AES_HARDWARE
  if (UseHardware()) {
    HardwareEncrypt(rk, FRounds, Data);
    return;
  }
#endif
  uint32_t s0 = LoadBE32(Data) ^ rk[0];
  uint32_t s1 = LoadBE32(Data + 4) ^ rk[1];
  uint32_t s2 = LoadBE32(Data + 8) ^ rk[2];
  uint32_t s3 = LoadBE32(Data + 12) ^ rk[3];
  const auto& Te = kT.Te;
  for (int r = 1; r < FRounds; ++r) {
    rk += 4;
    const uint32_t t0 = Te[0][s0 >> 24] ^ Te[1][(s1 >> 16) & 0xFF] ^ Te[2][(s2 >> 8) & 0xFF] ^
                        Te[3][s3 & 0xFF] ^ rk[0];
    const uint32_t t1 = Te[0][s1 >> 24] ^ Te[1][(s2 >> 16) & 0xFF] ^ Te[2][(s3 >> 8) & 0xFF] ^
                        Te[3][s0 & 0xFF] ^ rk[1];
    const uint32_t t2 = Te[0][s2 >> 24] ^ Te[1][(s3 >> 16) & 0xFF] ^ Te[2][(s0 >> 8) & 0xFF] ^
                        Te[3][s1 & 0xFF] ^ rk[2];
    const uint32_t t3 = Te[0][s3 >> 24] ^ Te[1][(s0 >> 16) & 0xFF] ^ Te[2][(s1 >> 8) & 0xFF] ^
                        Te[3][s2 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* S = kT.S;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return ((uint32_t(S[a >> 24]) << 24) | (uint32_t(S[(b >> 16) & 0xFF]) << 16) |
            (uint32_t(S[(c >> 8) & 0xFF]) << 8) | S[d & 0xFF]) ^
           k;
  };
  StoreBE32(Data, last(s0, s1, s2, s3, rk[0]));
  StoreBE32(Data + 4, last(s1, s2, s3, s0, rk[1]));
  StoreBE32(Data + 8, last(s2, s3, s0, s1, rk[2]));
  StoreBE32(Data + 12, last(s3, s0, s1, s2, rk[3]));
}

void TCipher_Rijndael::DecryptBlock(uint8_t* Data) {
  const uint32_t* rk = User() + kScheduleWords;
#ifdef VEX_AES_HARDWARE
  if (UseHardware()) {
    HardwareDecrypt(rk, FRounds, Data);
    return;
  }
#endif
  uint32_t s0 = LoadBE32(Data) ^ rk[0];
  uint32_t s1 = LoadBE32(Data + 4) ^ rk[1];
  uint32_t s2 = LoadBE32(Data + 8) ^ rk[2];
  uint32_t s3 = LoadBE32(Data + 12) ^ rk[3];
  const auto& Td = kT.Td;
  for (int r = 1; r < FRounds; ++r) {
    rk += 4;
    const uint32_t t0 = Td[0][s0 >> 24] ^ Td[1][(s3 >> 16) & 0xFF] ^ Td[2][(s2 >> 8) & 0xFF] ^
                        Td[3][s1 & 0xFF] ^ rk[0];
    const uint32_t t1 = Td[0][s1 >> 24] ^ Td[1][(s0 >> 16) & 0xFF] ^ Td[2][(s3 >> 8) & 0xFF] ^
                        Td[3][s2 & 0xFF] ^ rk[1];
    const uint32_t t2 = Td[0][s2 >> 24] ^ Td[1][(s1 >> 16) & 0xFF] ^ Td[2][(s0 >> 8) & 0xFF] ^
                        Td[3][s3 & 0xFF] ^ rk[2];
    const uint32_t t3 = Td[0][s3 >> 24] ^ Td[1][(s2 >> 16) & 0xFF] ^ Td[2][(s1 >> 8) & 0xFF] ^
                        Td[3][s0 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const uint8_t* SI = kT.SI;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
    return ((uint32_t(SI[a >> 24]) << 24) | (uint32_t(SI[(b >> 16) & 0xFF]) << 16) |
            (uint32_t(SI[(c >> 8) & 0xFF]) << 8) | SI[d & 0xFF]) ^
           k;
  };
  StoreBE32(Data, last(s0, s3, s2, s1, rk[0]));
  StoreBE32(Data + 4, last(s1, s0, s3, s2, rk[1]));
  StoreBE32(Data + 8, last(s2, s1, s0, s3, rk[2]));
  StoreBE32(Data + 12, last(s3, s2, s1, s0, rk[3]));
}

constinit const TCipherClassInfo TCipher_Rijndael::ClassInfo{
    "TCipher_Rijndael",
    nullptr,
    16,
    32,
    480,
    [](const std::string& Password, TProtectionRef AProtection) -> std::shared_ptr<TCipher> {
      return std::make_shared<TCipher_Rijndael>(Password, std::move(AProtection));
    },
    sTestVectorRijndael};

}  // namespace vex
