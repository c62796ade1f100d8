#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/VEXCipher.h"

namespace vex {
namespace {

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Hex(const uint8_t* p, int n) {
  return Hex(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)));
}

const std::vector<TCipherClass> kAllCiphers = {TCipher_Rijndael::Class(), TCipher_Blowfish::Class(),
                                               TCipher_1DES::Class(),     TCipher_3DES::Class(),
                                               TCipher_3TDES::Class(),    TCipher_Twofish::Class(),
                                               TCipher_Square::Class()};

// A cipher keyed with Key and an all-zero vector codes its first block as the
// bare block cipher does: E(P xor 0). Done puts the chain back to zero, so every
// call is one bare block operation.
struct BareBlock {
  explicit BareBlock(TCipherClass cls, const std::string& key) : cipher(cls->Create()) {
    const std::string zero(32, '\0');
    cipher->Init(key.data(), static_cast<int32_t>(key.size()), zero.data());
  }
  std::string Encrypt(std::string block) {
    cipher->EncodeBuffer(block.data(), block.data(), static_cast<int32_t>(block.size()));
    cipher->Done();
    return block;
  }
  std::string Decrypt(std::string block) {
    cipher->DecodeBuffer(block.data(), block.data(), static_cast<int32_t>(block.size()));
    cipher->Done();
    return block;
  }
  std::shared_ptr<TCipher> cipher;
};

// Every primitive against the vectors published with its definition: FIPS-197
// (appendices B and C), the DES validation sets and the classic worked example,
// the triple-DES example of SP 800-67, the Blowfish designer's set, the Twofish
// paper's tables (the chained ECB table and the full-key examples), the Square
// paper's example, RFC 1320's suite for MD4 and the RIPEMD designers' tables.
TEST(CipherLibrary, ReproducesThePublishedKnownAnswerVectors) {
  struct CipherCase {
    TCipherClass cls;
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const CipherCase ciphers[] = {
      {TCipher_Rijndael::Class(), "2b7e151628aed2a6abf7158809cf4f3c",
       "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
      {TCipher_Rijndael::Class(), "000102030405060708090a0b0c0d0e0f",
       "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {TCipher_Rijndael::Class(), "000102030405060708090a0b0c0d0e0f1011121314151617",
       "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {TCipher_Rijndael::Class(),
       "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
      {TCipher_1DES::Class(), "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
      {TCipher_1DES::Class(), "0101010101010101", "95f8a5e5dd31d900", "8000000000000000"},
      {TCipher_1DES::Class(), "8001010101010101", "0000000000000000", "95a8d72813daa94d"},
      {TCipher_3DES::Class(), "0123456789abcdef23456789abcdef01456789abcdef0123",
       "5468652071756663", "a826fd8ce53b855f"},
      {TCipher_Blowfish::Class(), "0000000000000000", "0000000000000000", "4ef997456198dd78"},
      {TCipher_Blowfish::Class(), "ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
      {TCipher_Blowfish::Class(), "3000000000000000", "1000000000000001", "7d856f9a613063f2"},
      {TCipher_Blowfish::Class(), "0123456789abcdef", "1111111111111111", "61f9c3802281b096"},
      {TCipher_Twofish::Class(), "00000000000000000000000000000000",
       "00000000000000000000000000000000", "9f589f5cf6122c32b6bfec2f2ae8c35a"},
      {TCipher_Twofish::Class(), "00000000000000000000000000000000",
       "9f589f5cf6122c32b6bfec2f2ae8c35a", "d491db16e7b1c39e86cb086b789f5419"},
      {TCipher_Twofish::Class(), "9f589f5cf6122c32b6bfec2f2ae8c35a",
       "d491db16e7b1c39e86cb086b789f5419", "019f9809de1711858faac3a3ba20fbc3"},
      {TCipher_Twofish::Class(), "0123456789abcdeffedcba98765432100011223344556677",
       "00000000000000000000000000000000", "cfd1d2e5a9be9cdf501f13b892bd2248"},
      {TCipher_Twofish::Class(), "0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
       "00000000000000000000000000000000", "37527be0052334b89f0cfccae87cfa20"},
      {TCipher_Square::Class(), "000102030405060708090a0b0c0d0e0f",
       "000102030405060708090a0b0c0d0e0f", "7c3491d94994e70f0ec2e7a5ccb5a14f"},
  };
  for (const auto& c : ciphers) {
    SCOPED_TRACE(std::string(c.cls->ClassName) + " key " + c.key);
    BareBlock block(c.cls, Unhex(c.key));
    EXPECT_EQ(Hex(block.Encrypt(Unhex(c.plain))), c.cipher);
    EXPECT_EQ(Hex(block.Decrypt(Unhex(c.cipher))), c.plain);
  }

  struct HashCase {
    THashClass cls;
    std::string input;
    const char* digest;
  };
  const std::string digits80 =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  const std::string alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const HashCase hashes[] = {
      {THash_MD4::Class(), "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {THash_MD4::Class(), "a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {THash_MD4::Class(), "abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {THash_MD4::Class(), "message digest", "d9130a8164549fe818874806e1c7014b"},
      {THash_MD4::Class(), "abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {THash_MD4::Class(), alnum, "043f8582f241db351ce627e153e7f0e4"},
      {THash_MD4::Class(), digits80, "e33b4ddc9c38f2199c3e7b164fcc0536"},
      {THash_RipeMD128::Class(), "", "cdf26213a150dc3ecb610f18f6b38b46"},
      {THash_RipeMD128::Class(), "a", "86be7afa339d0fc7cfc785e72f578d33"},
      {THash_RipeMD128::Class(), "abc", "c14a12199c66e4ba84636b0f69144c77"},
      {THash_RipeMD128::Class(), "message digest", "9e327b3d6e523062afc1132d7df9d1b8"},
      {THash_RipeMD128::Class(), "abcdefghijklmnopqrstuvwxyz", "fd2aa607f71dc8f510714922b371834e"},
      {THash_RipeMD128::Class(), "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "a1aa0689d0fafa2ddc22e88b49133a06"},
      {THash_RipeMD128::Class(), alnum, "d1e959eb179c911faea4624c60c5c702"},
      {THash_RipeMD128::Class(), digits80, "3f45ef194732c2dbb2c4a2c769795fa3"},
      {THash_RipeMD128::Class(), std::string(1000000, 'a'), "4a7f5723f954eba1216c9d8f6320431f"},
      {THash_RipeMD256::Class(), "",
       "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d"},
      {THash_RipeMD256::Class(), "a",
       "f9333e45d857f5d90a91bab70a1eba0cfb1be4b0783c9acfcd883a9134692925"},
      {THash_RipeMD256::Class(), "abc",
       "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65"},
      {THash_RipeMD256::Class(), "message digest",
       "87e971759a1ce47a514d5c914c392c9018c7c46bc14465554afcdf54a5070c0e"},
  };
  for (const auto& h : hashes) {
    SCOPED_TRACE(std::string(h.cls->ClassName) + " of " + h.input.substr(0, 20));
    auto hash = h.cls->Create();
    hash->Init();
    hash->Calc(h.input.data(), static_cast<int32_t>(h.input.size()));
    hash->Done();
    EXPECT_EQ(Hex(hash->DigestKey(), hash->DigestKeySize()), h.digest);
  }
}

// Rijndael runs through the processor's AES instructions where it has them
// and through the tables otherwise: both give the FIPS-197 answers, and the
// same pages, coded in place and into another buffer, keyed as the storage
// engine keys them.
TEST(CipherLibrary, RijndaelTablesAndProcessorInstructionsAgree) {
  struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Vector vectors[] = {
      {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
       "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
       "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
  };
  std::string page(4096 + 5, '\0');
  for (size_t i = 0; i < page.size(); ++i) page[i] = char(i * 31 + 7);
  std::vector<std::string> pages;
  for (bool hardware : {false, true}) {
    if (hardware && !RijndaelHardwarePresent()) continue;
    SetRijndaelHardwareEnabled(hardware);
    SCOPED_TRACE(hardware ? "AES instructions" : "tables");
    for (const Vector& v : vectors) {
      BareBlock block(TCipher_Rijndael::Class(), Unhex(v.key));
      EXPECT_EQ(Hex(block.Encrypt(Unhex(v.plain))), v.cipher);
      EXPECT_EQ(Hex(block.Decrypt(Unhex(v.cipher))), v.plain);
    }
    for (THashClass hash : {THash_RipeMD128::Class(), THash_RipeMD256::Class()}) {
      auto cipher = TCipher_Rijndael::Class()->Create();
      cipher->SetHashClass(hash);
      cipher->InitKey("password", cipher->Vector());
      std::string inPlace = page;
      cipher->EncodeBuffer(inPlace.data(), inPlace.data(), static_cast<int32_t>(inPlace.size()));
      cipher->Done();
      std::string apart(page.size(), '\0');
      cipher->EncodeBuffer(page.data(), apart.data(), static_cast<int32_t>(page.size()));
      cipher->Done();
      EXPECT_EQ(apart, inPlace);
      pages.push_back(inPlace);
      std::string back(page.size(), '\0');
      cipher->DecodeBuffer(inPlace.data(), back.data(), static_cast<int32_t>(page.size()));
      cipher->Done();
      EXPECT_EQ(back, page);
      cipher->DecodeBuffer(inPlace.data(), inPlace.data(), static_cast<int32_t>(page.size()));
      cipher->Done();
      EXPECT_EQ(inPlace, page);
    }
  }
  SetRijndaelHardwareEnabled(true);
  if (pages.size() == 4) {
    EXPECT_EQ(pages[0], pages[2]);
    EXPECT_EQ(pages[1], pages[3]);
  }
}

// cmCTS by its definition, built from bare block operations: whole blocks
// C = E(P xor F), F = C xor F; a last partial block P xor E(F), F = E(F) xor F.
// vector ends as the chaining value that the next call starts from.
std::string ReferenceCTS(TCipherClass cls, const std::string& key, std::string& vector,
                         const std::string& plain) {
  BareBlock block(cls, key);
  const size_t bs = static_cast<size_t>(cls->BufSize);
  std::string out;
  size_t pos = 0;
  for (; pos + bs <= plain.size(); pos += bs) {
    std::string x(bs, '\0');
    for (size_t i = 0; i < bs; ++i) x[i] = char(plain[pos + i] ^ vector[i]);
    const std::string c = block.Encrypt(x);
    for (size_t i = 0; i < bs; ++i) vector[i] = char(vector[i] ^ c[i]);
    out += c;
  }
  if (pos < plain.size()) {
    const std::string b = block.Encrypt(vector);
    for (size_t i = 0; pos + i < plain.size(); ++i) out += char(plain[pos + i] ^ b[i]);
    for (size_t i = 0; i < bs; ++i) vector[i] = char(vector[i] ^ b[i]);
  }
  return out;
}

TEST(CipherChaining, FollowsTheCTSDefinitionForWholeAndPartialBlocks) {
  for (TCipherClass cls : {TCipher_Rijndael::Class(), TCipher_3TDES::Class()}) {
    SCOPED_TRACE(cls->ClassName);
    const std::string key =
        Unhex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
    std::string vector(static_cast<size_t>(cls->BufSize), '\0');
    for (size_t i = 0; i < vector.size(); ++i) vector[i] = char(0xA0 + i);
    std::string plain(static_cast<size_t>(2 * cls->BufSize + 8), '\0');
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = char(i * 7 + 1);

    auto cipher = cls->Create();
    cipher->Init(key.data(), cls->KeySize, vector.data());
    std::string coded = plain;
    cipher->EncodeBuffer(coded.data(), coded.data(), static_cast<int32_t>(coded.size()));
    std::string chain = vector;
    EXPECT_EQ(Hex(coded),
              Hex(ReferenceCTS(cls, key.substr(0, size_t(cls->KeySize)), chain, plain)));
    // The whole block of chaining value after the partial block carries on, on
    // decoding as on encoding.
    EXPECT_EQ(Hex(cipher->Feedback(), cls->BufSize), Hex(chain));
    auto decoder = cls->Create();
    decoder->Init(key.data(), cls->KeySize, vector.data());
    decoder->DecodeBuffer(coded.data(), coded.data(), static_cast<int32_t>(coded.size()));
    EXPECT_EQ(Hex(coded), Hex(plain));
    EXPECT_EQ(Hex(decoder->Feedback(), cls->BufSize), Hex(chain));
  }
}

// The storage engine keys every page the same way: a cipher created with the
// password, its hash class set, InitKey with its own Vector, one buffer coded.
TEST(CipherChaining, PasswordKeyedCiphersRoundTripEveryLengthUpToThreeBlocksAndAPart) {
  for (TCipherClass cls : kAllCiphers) {
    for (THashClass hashClass : {THash_RipeMD128::Class(), THash_RipeMD256::Class()}) {
      SCOPED_TRACE(std::string(cls->ClassName) + " with " + hashClass->ClassName);
      const int32_t bs = cls->BufSize;
      for (int32_t len = 0; len <= 4 * bs - 1; ++len) {
        std::string plain(static_cast<size_t>(len), '\0');
        for (int32_t i = 0; i < len; ++i) plain[size_t(i)] = char(i * 31 + len);
        auto keyed = [&] {
          auto c = cls->Create("S\xE9same");  // Windows-1252 text, as passwords arrive
          c->SetHashClass(hashClass);
          c->InitKey("S\xE9same", c->Vector());
          return c;
        };
        std::string coded = plain;
        keyed()->EncodeBuffer(coded.data(), coded.data(), len);
        ASSERT_EQ(coded.size(), plain.size());
        if (len > 0) {
          EXPECT_NE(coded, plain) << "length " << len;
        }
        std::string decoded = coded;
        keyed()->DecodeBuffer(decoded.data(), decoded.data(), len);
        ASSERT_EQ(decoded, plain) << "length " << len;
      }
    }
  }
}

TEST(CipherChaining, ContinuesAcrossCallsUntilDoneRestartsIt) {
  const std::string plain(32, 'x');
  auto make = [] {
    auto c = std::make_shared<TCipher_Rijndael>();
    c->InitKey("pw", nullptr);
    return c;
  };
  std::string once = plain;
  make()->EncodeBuffer(once.data(), once.data(), 32);

  auto cipher = make();
  std::string twice = plain;
  cipher->EncodeBuffer(twice.data(), twice.data(), 16);
  cipher->EncodeBuffer(twice.data() + 16, twice.data() + 16, 16);
  EXPECT_EQ(twice, once);

  cipher->Done();
  std::string again = plain;
  cipher->EncodeBuffer(again.data(), again.data(), 32);
  EXPECT_EQ(again, once);
}

TEST(CipherKey, DerivesTheKeyFromTheDigestCutToTheKeySize) {
  struct Case {
    TCipherClass cls;
    THashClass hash;
    int32_t rounds;  // Rijndael only
  };
  const Case cases[] = {{TCipher_Rijndael::Class(), THash_RipeMD128::Class(), 10},
                        {TCipher_Rijndael::Class(), THash_RipeMD256::Class(), 14},
                        {TCipher_1DES::Class(), THash_RipeMD128::Class(), 0},
                        {TCipher_3TDES::Class(), THash_RipeMD128::Class(), 0},
                        {TCipher_Blowfish::Class(), THash_RipeMD256::Class(), 0},
                        {TCipher_Twofish::Class(), THash_RipeMD128::Class(), 0},
                        {TCipher_Square::Class(), THash_RipeMD128::Class(), 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cls->ClassName) + " with " + c.hash->ClassName);
    for (const std::string password : {"", "secret"}) {
      auto cipher = c.cls->Create();
      cipher->SetHashClass(c.hash);
      cipher->InitKey(password, nullptr);
      EXPECT_TRUE(cipher->HasHashKey());
      EXPECT_TRUE(cipher->Initialized());

      // The same cipher keyed by hand: the digest's first KeySize bytes (the
      // rest of a longer key zero), and as vector the encrypted all-0xFF block.
      auto hash = c.hash->Create();
      hash->Init();
      hash->Calc(password.data(), static_cast<int32_t>(password.size()));
      hash->Done();
      const std::string digest(reinterpret_cast<const char*>(hash->DigestKey()),
                               static_cast<size_t>(hash->DigestKeySize()));
      const std::string key = digest.substr(0, static_cast<size_t>(c.cls->KeySize));
      BareBlock bare(c.cls, key);
      const std::string ff(static_cast<size_t>(c.cls->BufSize), '\xFF');
      EXPECT_EQ(Hex(cipher->Vector(), cipher->BufSize()), Hex(bare.Encrypt(ff)));
      EXPECT_EQ(Hex(cipher->Feedback(), cipher->BufSize()),
                Hex(cipher->Vector(), cipher->BufSize()));
      if (c.rounds != 0) {
        EXPECT_EQ(static_cast<TCipher_Rijndael&>(*cipher).Rounds(), c.rounds);
      }
    }
  }
}

TEST(CipherKey, OwnVectorAsInitialVectorGivesAnAllFFChainStart) {
  for (TCipherClass cls : kAllCiphers) {
    SCOPED_TRACE(cls->ClassName);
    auto cipher = cls->Create("password");
    cipher->InitKey("password", cipher->Vector());
    const std::string ff(static_cast<size_t>(cls->BufSize), '\xFF');
    EXPECT_EQ(Hex(cipher->Vector(), cls->BufSize), Hex(ff));
    EXPECT_EQ(Hex(cipher->Feedback(), cls->BufSize), Hex(ff));
  }
}

TEST(CipherKey, ShortKeysArePaddedWithZerosAndLongKeysCut) {
  const std::string key = Unhex(
      "0f1e2d3c4b5a69788796a5b4c3d2e1f00112233445566778899aabbccddeeff"
      "0011223344556677");
  for (TCipherClass cls : kAllCiphers) {
    if (cls == TCipher_Blowfish::Class()) continue;  // takes its key bytes cyclically
    SCOPED_TRACE(cls->ClassName);
    const std::string block(static_cast<size_t>(cls->BufSize), 'b');
    // Rijndael and Twofish pad to the next of their key lengths 16, 24 and 32.
    const bool steps = cls == TCipher_Rijndael::Class() || cls == TCipher_Twofish::Class();
    const size_t padTo = steps ? 16 : size_t(cls->KeySize);
    std::string padded = key.substr(0, 5) + std::string(padTo - 5, '\0');
    EXPECT_EQ(BareBlock(cls, key.substr(0, 5)).Encrypt(block),
              BareBlock(cls, padded).Encrypt(block));
    EXPECT_EQ(BareBlock(cls, key).Encrypt(block),
              BareBlock(cls, key.substr(0, size_t(cls->KeySize))).Encrypt(block));
  }
}

TEST(CipherKey, BlowfishTakesKeyBytesCyclicallyAndAcceptsAnEmptyKey) {
  const std::string block = "8 bytes!";
  EXPECT_EQ(BareBlock(TCipher_Blowfish::Class(), "abcd").Encrypt(block),
            BareBlock(TCipher_Blowfish::Class(), "abcdabcdabcd").Encrypt(block));
  // A key of no bytes leaves the initial P-array; it must neither fault nor
  // fail to decrypt.
  BareBlock empty(TCipher_Blowfish::Class(), "");
  EXPECT_EQ(empty.Decrypt(empty.Encrypt(block)), block);
}

// TCipher_3TDES is K1 encryption, word exchange, K2 decryption, word exchange,
// K3 encryption, each DES pass on the three thirds of the 24-byte block.
TEST(CipherTripleDES, CodesThreeThirdsWithWordExchangesBetweenPasses) {
  const std::string key = Unhex("0123456789abcdef23456789abcdef01456789abcdef0123");
  std::string block = "twenty-four byte block!!";
  BareBlock k1(TCipher_1DES::Class(), key.substr(0, 8));
  BareBlock k2(TCipher_1DES::Class(), key.substr(8, 8));
  BareBlock k3(TCipher_1DES::Class(), key.substr(16, 8));
  auto thirds = [&](BareBlock& des, bool encrypt) {
    for (size_t i = 0; i < 24; i += 8)
      block.replace(i, 8,
                    encrypt ? des.Encrypt(block.substr(i, 8)) : des.Decrypt(block.substr(i, 8)));
  };
  auto exchange = [&] {
    std::string w(block);
    block = w.substr(0, 4) + w.substr(8, 4) + w.substr(4, 4) + w.substr(16, 4) + w.substr(12, 4) +
            w.substr(20, 4);
  };
  const std::string plain = block;
  thirds(k1, true);
  exchange();
  thirds(k2, false);
  exchange();
  thirds(k3, true);

  BareBlock tdes(TCipher_3TDES::Class(), key);
  EXPECT_EQ(Hex(tdes.Encrypt(plain)), Hex(block));
  EXPECT_EQ(tdes.Decrypt(block), plain);
}

TEST(CipherState, CodingWithoutAKeyRaisesErrorThree) {
  TCipher_Rijndael cipher;
  char buffer[16] = {};
  try {
    cipher.EncodeBuffer(buffer, buffer, 16);
    FAIL() << "no exception";
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, 3);
    EXPECT_STREQ(e.what(), "TCipher_Rijndael is not initialized call Init() or InitKey() before.");
  }
  // Protect takes the key away again.
  TCipher_Square keyed("pw");
  EXPECT_NO_THROW(keyed.DecodeBuffer(buffer, buffer, 16));
  keyed.Protect();
  EXPECT_FALSE(keyed.Initialized());
  EXPECT_FALSE(keyed.HasHashKey());
  EXPECT_EQ(Hex(keyed.Vector(), 16), std::string(32, 'f'));
  EXPECT_EQ(Hex(keyed.Feedback(), 16), std::string(32, 'f'));
  EXPECT_THROW(keyed.DecodeBuffer(buffer, buffer, 16), ECipherException);
}

TEST(CipherState, OnlyTheChainingModeOfTheLibraryIsProvided) {
  TCipher_Rijndael cipher("pw");
  EXPECT_EQ(cipher.Mode(), cmCTS);
  cipher.SetMode(cmCBC);
  char buffer[16] = {};
  EXPECT_THROW(cipher.EncodeBuffer(buffer, buffer, 16), ECipherException);
}

TEST(CipherState, ChangingTheHashClassReplacesTheHashObject) {
  TCipher_Rijndael cipher;
  EXPECT_EQ(cipher.HashClass(), THash_RipeMD256::Class());
  EXPECT_EQ(cipher.Hash().ClassType(), THash_RipeMD256::Class());
  cipher.SetHashClass(THash_RipeMD128::Class());
  EXPECT_EQ(cipher.Hash().ClassType(), THash_RipeMD128::Class());
  cipher.SetHashClass(nullptr);
  EXPECT_EQ(cipher.HashClass(), THash_RipeMD256::Class());
}

TEST(CipherClasses, TestVectorAndSelfTestRefuseWithTheirTexts) {
  const std::pair<TCipherClass, const char*> cases[] = {
      {TCipher_Rijndael::Class(), "TCipher_Rijndael.TestVector not implemented 20"},
      {TCipher_Blowfish::Class(), "TCipher_Blowfish.TestVector not implemented 21"},
      {TCipher_1DES::Class(), "TCipher_1DES.TestVector not implemented"},
      {TCipher_3DES::Class(), "TCipher_3DES.TestVector not implemented 24"},
      {TCipher_3TDES::Class(), "TCipher_3TDES.TestVector not implemented 25"},
      {TCipher_Twofish::Class(), "TCipher_Twofish.TestVector not implemented 26"},
      {TCipher_Square::Class(), "TCipher_Square.TestVector not implemented 27"}};
  for (const auto& [cls, text] : cases) {
    try {
      cls->TestVector();
    } catch (const rtl::Exception& e) {
      EXPECT_STREQ(e.what(), text);
    }
    try {
      cls->SelfTest();
    } catch (const rtl::Exception& e) {
      EXPECT_STREQ(e.what(), "Not implemented 14");
    }
  }
  EXPECT_TRUE(TCipher_3TDES::Class()->InheritsFrom(TCipher_1DES::Class()));
  EXPECT_EQ(TCipher_3TDES::Class()->MaxKeySize(), 24);
}

TEST(CipherList, StartsWithRijndaelAndListsOrRenamesClasses) {
  auto& list = GetCipherList();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].Text, "Rijndael=");
  EXPECT_EQ(list[0].CipherClass, TCipher_Rijndael::Class());

  EXPECT_FALSE(AddCipherClass(nullptr, "x", "y"));
  const size_t before = list.size();
  EXPECT_TRUE(AddCipherClass(TCipher_Twofish::Class(), "  ", "AES finalist"));
  ASSERT_EQ(list.size(), before + 1);
  EXPECT_EQ(list.back().Text, "Twofish=AES finalist");
  EXPECT_TRUE(AddCipherClass(TCipher_Twofish::Class(), " TF ", "renamed"));
  EXPECT_EQ(list.size(), before + 1);
  EXPECT_EQ(list.back().Text, "TF=renamed");
  list.pop_back();
}

// A cipher as a link of a protection chain: encoding lets the chained link code
// first, decoding codes here first, so a chain decodes what it encoded.
TEST(CipherProtection, ChainOfCiphersRoundTripsBuffersAndStrings) {
  auto inner = std::make_shared<TCipher_Blowfish>("inner");
  TCipher_Twofish outer("outer", inner);
  std::string data = "protected by two ciphers, forty-three bytes";
  const std::string plain = data;
  EXPECT_EQ(outer.CodeBuffer(data.data(), static_cast<int32_t>(data.size()), paEncode), 43);
  EXPECT_NE(data, plain);
  outer.CodeBuffer(data.data(), static_cast<int32_t>(data.size()), paDecode);
  EXPECT_EQ(data, plain);

  const std::string text = outer.CodeString(plain, paEncode, fmtMIME64);
  EXPECT_EQ(outer.CodeString(text, paDecode, fmtMIME64), plain);

  EXPECT_THROW(outer.CodeBuffer(data.data(), 4, paWipe), rtl::Exception);
  TCipher_Square unkeyed;
  EXPECT_THROW(unkeyed.CodeBuffer(data.data(), 4, paEncode), ECipherException);
}

}  // namespace
}  // namespace vex
