// Throughput of the page ciphers, and what one page costs the storage engine,
// which creates, keys and frees a cipher for every page it reads or writes.
// OpenSSL's AES runs beside Rijndael as a yardstick.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include "BenchRatio.h"

#include <string>
#include <vector>

#include "foundation/VEXCipher.h"

namespace {

using namespace vex;

constexpr int32_t kPage = 4096;

struct Pair {
  TCipherClass cipher;
  THashClass hash;
};

// The eight pairs a database can be encrypted with.
const Pair kPairs[] = {{TCipher_Rijndael::Class(), THash_RipeMD128::Class()},
                       {TCipher_Rijndael::Class(), THash_RipeMD256::Class()},
                       {TCipher_1DES::Class(), THash_RipeMD128::Class()},
                       {TCipher_3TDES::Class(), THash_RipeMD128::Class()},
                       {TCipher_Blowfish::Class(), THash_RipeMD256::Class()},
                       {TCipher_Twofish::Class(), THash_RipeMD128::Class()},
                       {TCipher_Twofish::Class(), THash_RipeMD256::Class()},
                       {TCipher_Square::Class(), THash_RipeMD128::Class()}};

// Bulk coding with one keyed cipher, the chain restarted for every page.
void BM_Encode(benchmark::State& state) {
  const Pair& pair = kPairs[state.range(0)];
  auto cipher = pair.cipher->Create();
  cipher->SetHashClass(pair.hash);
  cipher->InitKey("password", cipher->Vector());
  std::vector<uint8_t> page(kPage, 0x5A);
  for (auto _ : state) {
    cipher->EncodeBuffer(page.data(), page.data(), kPage);
    cipher->Done();
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPage);
  state.SetLabel(std::string(pair.cipher->ClassName) + "/" + pair.hash->ClassName);
}

void BM_Decode(benchmark::State& state) {
  const Pair& pair = kPairs[state.range(0)];
  auto cipher = pair.cipher->Create();
  cipher->SetHashClass(pair.hash);
  cipher->InitKey("password", cipher->Vector());
  std::vector<uint8_t> page(kPage, 0x5A);
  for (auto _ : state) {
    cipher->DecodeBuffer(page.data(), page.data(), kPage);
    cipher->Done();
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPage);
  state.SetLabel(std::string(pair.cipher->ClassName) + "/" + pair.hash->ClassName);
}

// One page as the storage engine codes it: create with the password, set the
// hash class, key with the cipher's own vector, code, free.
void BM_PagePerCipherObject(benchmark::State& state) {
  const Pair& pair = kPairs[state.range(0)];
  std::vector<uint8_t> page(kPage, 0x5A);
  for (auto _ : state) {
    auto cipher = pair.cipher->Create("password");
    cipher->SetHashClass(pair.hash);
    cipher->InitKey("password", cipher->Vector());
    cipher->EncodeBuffer(page.data(), page.data(), kPage);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPage);
  state.SetLabel(std::string(pair.cipher->ClassName) + "/" + pair.hash->ClassName);
}

void BM_InitKey(benchmark::State& state) {
  const Pair& pair = kPairs[state.range(0)];
  auto cipher = pair.cipher->Create();
  cipher->SetHashClass(pair.hash);
  for (auto _ : state) cipher->InitKey("password", cipher->Vector());
  state.SetLabel(std::string(pair.cipher->ClassName) + "/" + pair.hash->ClassName);
}

// OpenSSL's AES in CBC mode, the standard mode closest to cmCTS in cost.
void BM_OpenSSL_AES_CBC(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const EVP_CIPHER* type = bits == 128 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
  unsigned char key[32] = {1, 2, 3};
  unsigned char iv[16] = {};
  std::vector<uint8_t> page(kPage, 0x5A), out(kPage + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    int len = 0;
    EVP_EncryptInit_ex(ctx, type, nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &len, page.data(), kPage);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * kPage);
  state.SetLabel("OpenSSL AES-" + std::to_string(bits) + "-CBC");
}

// Rijndael with a 128-bit key (from RipeMD-128) beside OpenSSL's AES-128-CBC,
// a 4 KiB page per iteration.
void EngineAes128(benchmark::State& state, bool encode) {
  auto cipher = TCipher_Rijndael::Class()->Create();
  cipher->SetHashClass(THash_RipeMD128::Class());
  cipher->InitKey("password", cipher->Vector());
  std::vector<uint8_t> page(kPage, 0x5A);
  for (auto _ : state) {
    if (encode) {
      cipher->EncodeBuffer(page.data(), page.data(), kPage);
    } else {
      cipher->DecodeBuffer(page.data(), page.data(), kPage);
    }
    cipher->Done();
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPage);
}

void PeerAes128(benchmark::State& state, bool encode) {
  unsigned char key[16] = {1, 2, 3};
  unsigned char iv[16] = {};
  std::vector<uint8_t> page(kPage, 0x5A), out(kPage + 16);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    int len = 0;
    EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv, encode ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &len, page.data(), kPage);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * kPage);
}

void Engine_Aes128Encode(benchmark::State& state) { EngineAes128(state, true); }
void Peer_Aes128Encode(benchmark::State& state) { PeerAes128(state, true); }
void Engine_Aes128Decode(benchmark::State& state) { EngineAes128(state, false); }
void Peer_Aes128Decode(benchmark::State& state) { PeerAes128(state, false); }

BENCHMARK(Engine_Aes128Encode);
BENCHMARK(Peer_Aes128Encode);
BENCHMARK(Engine_Aes128Decode);
BENCHMARK(Peer_Aes128Decode);
BENCHMARK(BM_Encode)->DenseRange(0, 7);
BENCHMARK(BM_Decode)->DenseRange(0, 7);
BENCHMARK(BM_OpenSSL_AES_CBC)->Arg(128)->Arg(256);
BENCHMARK(BM_PagePerCipherObject)->DenseRange(0, 7);
BENCHMARK(BM_InitKey)->DenseRange(0, 7);

}  // namespace

VALMORA_BENCH_MAIN()
