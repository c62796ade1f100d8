#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/VEXBZip2.h"
#include "foundation/VEXCompression.h"
#include "foundation/VEXZlib.h"

namespace vex {
namespace {

// Owns what a compression routine hands back.
struct Output {
  void* Data = nullptr;
  int32_t Size = 0;
  ~Output() { std::free(Data); }
  std::string Bytes() const { return std::string(static_cast<const char*>(Data), size_t(Size)); }
};

// Text with enough repetition to compress and enough variety to need a model.
std::string SampleText(size_t size) {
  std::string text;
  uint32_t seed = 12345;
  while (text.size() < size) {
    seed = seed * 1103515245u + 12345u;
    text += "room " + std::to_string(seed % 97) + " night " + std::to_string((seed >> 8) % 31) +
            (seed % 3 == 0 ? " cancelled\n" : " booked\n");
  }
  text.resize(size);
  return text;
}

std::string Compressed(TVEXCompressionAlgorithm algorithm, uint8_t mode, const std::string& in) {
  Output out;
  EXPECT_TRUE(CompressBuffer(algorithm, mode, in.data(), int32_t(in.size()), out.Data, out.Size));
  return out.Bytes();
}

TEST(CompressBuffer, ZlibLevelZeroStoresTheBytesInAPlainZlibStream) {
  const std::string hello = "hello";
  // Header (deflate, 32K window, no dictionary, fastest), one final stored
  // block of length 5, the bytes, and the Adler-32 of the input.
  const std::string expected(
      "\x78\x01"
      "\x01\x05\x00\xFA\xFF"
      "hello"
      "\x06\x2C\x02\x15",
      16);
  EXPECT_EQ(Compressed(acaZLIB, 0, hello), expected);
}

struct RoundTrip {
  TVEXCompressionAlgorithm Algorithm;
  uint8_t Mode;
};

class CompressionRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(CompressionRoundTrip, DecompressesToTheInputWithItsExactSize) {
  const auto [algorithm, mode] = GetParam();
  for (size_t size : {size_t(1), size_t(70000), size_t(300000)}) {
    SCOPED_TRACE(size);
    const std::string in = SampleText(size);
    const std::string packed = Compressed(algorithm, mode, in);
    if (mode > 0 && size > 1) {
      EXPECT_LT(packed.size(), in.size());
    }
    Output out;
    out.Size = int32_t(in.size());
    ASSERT_TRUE(
        DecompressBuffer(algorithm, packed.data(), int32_t(packed.size()), out.Data, out.Size));
    EXPECT_EQ(out.Bytes(), in);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryAlgorithm, CompressionRoundTrip,
                         ::testing::Values(RoundTrip{acaZLIB, 0}, RoundTrip{acaZLIB, 1},
                                           RoundTrip{acaZLIB, 5}, RoundTrip{acaZLIB, 9},
                                           RoundTrip{acaBZIP, 1}, RoundTrip{acaBZIP, 5},
                                           RoundTrip{acaBZIP, 9}, RoundTrip{acaPPM, 0},
                                           RoundTrip{acaPPM, 1}, RoundTrip{acaPPM, 5},
                                           RoundTrip{acaPPM, 9}));

TEST(CompressBuffer, FailsWithoutOutputForWhatCannotBeCompressed) {
  const std::string in = SampleText(1000);
  struct Case {
    const char* Name;
    TVEXCompressionAlgorithm Algorithm;
    uint8_t Mode;
    int32_t Size;
  } cases[] = {
      {"no algorithm", acaNone, 5, 1000},
      {"no bytes", acaZLIB, 5, 0},
      {"negative size", acaZLIB, 5, -1},
      {"bzip2 block size 0", acaBZIP, 0, 1000},
      {"bzip2 block size 10", acaBZIP, 10, 1000},
      {"zlib level 10", acaZLIB, 10, 1000},
      {"unknown algorithm", TVEXCompressionAlgorithm(4), 5, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Output out;
    out.Size = 77;
    EXPECT_FALSE(CompressBuffer(c.Algorithm, c.Mode, in.data(), c.Size, out.Data, out.Size));
    EXPECT_EQ(out.Data, nullptr);
    EXPECT_EQ(out.Size, 0);
    EXPECT_EQ(GetLastCompressionError(), "");
  }
}

TEST(DecompressBuffer, FailsWithoutOutputForWhatCannotBeDecompressed) {
  const std::string text = SampleText(5000);
  const std::string zlib = Compressed(acaZLIB, 6, text);
  const std::string bzip = Compressed(acaBZIP, 1, text);
  const std::string ppm = Compressed(acaPPM, 2, text);
  const std::string noise = "\x01\x02\x03\x04\x05\x06\x07\x08 not a compressed stream at all";
  struct Case {
    const char* Name;
    TVEXCompressionAlgorithm Algorithm;
    std::string In;
    int32_t Expected;
  } cases[] = {
      {"no algorithm", acaNone, zlib, 5000},
      {"no bytes", acaZLIB, "", 5000},
      {"unknown algorithm", TVEXCompressionAlgorithm(9), zlib, 5000},
      {"ppm without a known size", acaPPM, ppm, 0},
      {"negative known size", acaZLIB, zlib, -1},
      // Each stream holds more than the caller says it does.
      {"zlib beyond the known size", acaZLIB, zlib, 4999},
      {"bzip2 beyond the known size", acaBZIP, bzip, 4999},
      {"ppm beyond the known size", acaPPM, ppm, 4999},
      // Cut short: the data end before the stream does.
      {"zlib cut short", acaZLIB, zlib.substr(0, zlib.size() - 10), 5000},
      {"bzip2 cut short", acaBZIP, bzip.substr(0, bzip.size() - 10), 5000},
      {"zlib noise", acaZLIB, noise, 5000},
      {"bzip2 noise", acaBZIP, noise, 5000},
      {"ppm noise", acaPPM, noise, 5000},
      {"stream of another algorithm", acaBZIP, zlib, 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Output out;
    out.Size = c.Expected;
    EXPECT_FALSE(
        DecompressBuffer(c.Algorithm, c.In.data(), int32_t(c.In.size()), out.Data, out.Size));
    EXPECT_EQ(out.Data, nullptr);
    EXPECT_EQ(out.Size, 0);
    EXPECT_EQ(GetLastCompressionError(), "");
  }
}

TEST(DecompressBuffer, AKnownSizeAboveTheContentGivesTheSizeProduced) {
  const std::string text = SampleText(5000);
  for (auto algorithm : {acaZLIB, acaBZIP, acaPPM}) {
    SCOPED_TRACE(int(algorithm));
    const std::string packed = Compressed(algorithm, 3, text);
    Output out;
    out.Size = 8000;
    ASSERT_TRUE(
        DecompressBuffer(algorithm, packed.data(), int32_t(packed.size()), out.Data, out.Size));
    EXPECT_EQ(out.Bytes(), text);
  }
}

TEST(DecompressBuffer, WithoutAKnownSizeZlibAndBzip2GrowTheirBuffer) {
  // A million zero bytes pack into far less than a tenth of their size, so
  // the first guess of the buffer is too small.
  const std::string zeros(1000000, '\0');
  for (auto algorithm : {acaZLIB, acaBZIP}) {
    SCOPED_TRACE(int(algorithm));
    const std::string packed = Compressed(algorithm, 9, zeros);
    Output out;
    ASSERT_TRUE(
        DecompressBuffer(algorithm, packed.data(), int32_t(packed.size()), out.Data, out.Size));
    EXPECT_EQ(out.Bytes(), zeros);
  }
}

TEST(ZlibDecompressBuffer, RefusesAStreamThatNeedsAPresetDictionary) {
  // A valid header with the dictionary flag and a dictionary id: zlib asks
  // for the dictionary on every call, so growing the buffer would never end.
  const std::string stream("\x78\xBB\x00\x00\x00\x01\x4B\x04\x00", 9);
  void* out = nullptr;
  int32_t size = 0;
  ZlibDecompressBuffer(stream.data(), int32_t(stream.size()), 0, out, size);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0);
}

TEST(BZip2CompressBuffer, RaisesTheNegativeResultOfBzip2) {
  const std::string in = "abc";
  void* out = reinterpret_cast<void*>(1);
  int32_t size = 5;
  try {
    BZip2CompressBuffer(in.data(), 3, out, size, 0);
    FAIL() << "no exception";
  } catch (const EBZCompressionError& e) {
    EXPECT_STREQ(e.what(), "error -2");
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(size, 0);
}

TEST(ZlibCompressBuffer, RaisesTheNegativeResultOfZlib) {
  const std::string in = "abc";
  void* out = nullptr;
  int32_t size = 0;
  try {
    ZlibCompressBuffer(in.data(), 3, out, size, 12);
    FAIL() << "no exception";
  } catch (const ECompressionError& e) {
    EXPECT_STREQ(e.what(), "error -2");
  }
  EXPECT_EQ(out, nullptr);
}

TEST(CompressionAlgorithmFromName, MatchesTheFourNamesInAnyCase) {
  struct Case {
    const char* Name;
    TVEXCompressionAlgorithm Expected;
  } cases[] = {{"NONE", acaNone}, {"zlib", acaZLIB}, {"bzip", acaBZIP},
               {"BZip", acaBZIP}, {"Ppm", acaPPM},   {"BZIP2", acaNone},
               {"", acaNone},     {"zip", acaNone},  {" PPM", acaNone}};
  for (const Case& c : cases) EXPECT_EQ(CompressionAlgorithmFromName(c.Name), c.Expected) << c.Name;
  for (size_t i = 0; i < CompressionAlgorithmNames.size(); ++i)
    EXPECT_EQ(CompressionAlgorithmFromName(CompressionAlgorithmNames[i]), int(i));
}

}  // namespace
}  // namespace vex
