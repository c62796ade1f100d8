#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/VEXSecurity.h"
#include "rtl/Stream.h"

namespace vex {
namespace {

const THashClass kAllHashes[] = {THash_MD4::Class(), THash_RipeMD128::Class(),
                                 THash_RipeMD256::Class()};

std::string Digest(THash& hash) {
  return std::string(reinterpret_cast<const char*>(hash.DigestKey()),
                     static_cast<size_t>(hash.DigestKeySize()));
}

std::string OneShot(THashClass cls, const std::string& data) {
  auto hash = cls->Create();
  hash->Init();
  hash->Calc(data.data(), static_cast<int32_t>(data.size()));
  hash->Done();
  return Digest(*hash);
}

TEST(Hash, FeedingInPiecesGivesTheDigestOfTheWhole) {
  std::string data(300, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 13);
  for (THashClass cls : kAllHashes) {
    for (int piece : {1, 7, 55, 56, 63, 64, 65, 200}) {
      SCOPED_TRACE(std::string(cls->ClassName) + " in pieces of " + std::to_string(piece));
      auto hash = cls->Create();
      hash->Init();
      for (size_t pos = 0; pos < data.size(); pos += size_t(piece))
        hash->Calc(data.data() + pos, int32_t(std::min(size_t(piece), data.size() - pos)));
      hash->Done();
      EXPECT_EQ(Digest(*hash), OneShot(cls, data));
    }
  }
}

// The final block carries the message length in bits as a 64-bit number; with
// a 32-bit byte count its upper half would be lost from 512 MiB on.
class LastBlockProbe : public THash_MD4 {
 public:
  void SetCount(uint64_t count) { FCount = count; }
  uint8_t Last[64] = {};

 protected:
  void HashBlock() override {
    std::memcpy(Last, FBuffer, 64);
    THash_MD4::HashBlock();
  }
};

TEST(Hash, LengthInTheFinalBlockKeepsBitsAbove32) {
  LastBlockProbe probe;
  probe.Init();
  probe.SetCount(uint64_t(1) << 29);  // 512 MiB: 2^32 bits
  probe.Done();
  const uint8_t expected[8] = {0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(std::memcmp(probe.Last + 56, expected, 8), 0);
  EXPECT_EQ(probe.Last[0], 0x80);
}

TEST(Hash, ClassOperationsGiveTheDigestAsTextInAFormat) {
  const std::string abc = OneShot(THash_RipeMD128::Class(), "abc");
  EXPECT_EQ(THash_RipeMD128::Class()->CalcString("abc", nullptr, fmtMIME64),
            BytesToFormat(abc, fmtMIME64));
  EXPECT_EQ(THash_RipeMD128::Class()->CalcBuffer("abc", 3, nullptr, fmtCOPY), abc);
  EXPECT_EQ(THash_RipeMD128::Class()->CalcString("abc", nullptr, fmtDEFAULT),
            THash_RipeMD128::Class()->CalcString("abc", nullptr, fmtMIME64));
  auto hash = THash_RipeMD256::Class()->Create();
  hash->Init();
  hash->Done();
  EXPECT_EQ(hash->DigestStr(fmtCOPY), OneShot(THash_RipeMD256::Class(), ""));
  EXPECT_THROW(hash->DigestStr(fmtHEX), rtl::Exception);  // no alphabet
}

std::vector<std::pair<int32_t, int32_t>> gProgress;
void RecordProgress(TProtection*, int32_t current, int32_t maximal) {
  gProgress.emplace_back(current, maximal);
}

TEST(Hash, CalcStreamHashesFromThePositionOrTheWholeStreamWithProgress) {
  std::string data(5000, 'q');
  rtl::TMemoryStream stream;
  stream.WriteBuffer(data.data(), int32_t(data.size()));

  gProgress.clear();
  ProgressCallback() = &RecordProgress;
  EXPECT_EQ(THash_MD4::Class()->CalcStream(stream, -1, nullptr, fmtCOPY),
            OneShot(THash_MD4::Class(), data));
  ProgressCallback() = nullptr;
  const std::vector<std::pair<int32_t, int32_t>> expected = {
      {0, 5000}, {4096, 5000}, {5000, 5000}, {0, 0}};
  EXPECT_EQ(gProgress, expected);

  stream.SetPosition(1000);
  EXPECT_EQ(THash_MD4::Class()->CalcStream(stream, 10, nullptr, fmtCOPY),
            OneShot(THash_MD4::Class(), data.substr(1000, 10)));
}

TEST(Hash, CalcFileHashesTheWholeFile) {
  const std::string path =
      std::filesystem::temp_directory_path() / ("vexsecurity-" + std::to_string(::getpid()));
  const std::string data(10000, 'z');
  std::ofstream(path, std::ios::binary) << data;
  EXPECT_EQ(THash_RipeMD256::Class()->CalcFile(path, nullptr, fmtCOPY),
            OneShot(THash_RipeMD256::Class(), data));
  std::filesystem::remove(path);
}

TEST(HashProtection, CalcFeedsTheChainAndScrambleReplacesPiecesByDigests) {
  std::string data = "thirty-two bytes of data to hash";
  const std::string plain = data;
  THash_MD4 calc;
  calc.CodeBuffer(data.data(), int32_t(data.size()), paCalc);
  EXPECT_EQ(data, plain);
  EXPECT_EQ(Digest(calc), OneShot(THash_MD4::Class(), plain));

  THash_MD4 scramble;
  scramble.CodeBuffer(data.data(), int32_t(data.size()), paScramble);
  EXPECT_EQ(data.substr(0, 16), OneShot(THash_MD4::Class(), plain.substr(0, 16)));
  EXPECT_NE(data.substr(16), plain.substr(16));

  // Encoding and decoding use the same key stream.
  THash_RipeMD128 coder;
  data = plain;
  coder.CodeBuffer(data.data(), int32_t(data.size()), paEncode);
  EXPECT_NE(data, plain);
  coder.CodeBuffer(data.data(), int32_t(data.size()), paDecode);
  EXPECT_EQ(data, plain);

  try {
    coder.CodeBuffer(data.data(), 4, paWipe);
    FAIL() << "no exception";
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.what(), "Not implemented 12");
  }
}

TEST(HashClasses, TestVectorAndSelfTestRefuseWithTheirTexts) {
  const std::pair<THashClass, const char*> cases[] = {
      {THash_MD4::Class(), "THash_MD4.TestVector not implemented 28"},
      {THash_RipeMD128::Class(), "THash_RipeMD128.TestVector not implemented 30"},
      {THash_RipeMD256::Class(), "THash_RipeMD256.TestVector not implemented 31"}};
  for (const auto& [cls, text] : cases) {
    EXPECT_THROW(
        {
          try {
            cls->TestVector();
          } catch (const rtl::Exception& e) {
            EXPECT_STREQ(e.what(), text);
            throw;
          }
        },
        rtl::Exception);
    EXPECT_THROW(cls->SelfTest(), rtl::Exception);
  }
  EXPECT_EQ(THash_RipeMD256::Class()->DigestKeySize(), 32);
  EXPECT_TRUE(THash_RipeMD256::Class()->InheritsFrom(THash_MD4::Class()));
}

}  // namespace
}  // namespace vex
