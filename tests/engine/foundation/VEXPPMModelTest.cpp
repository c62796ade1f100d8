#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/foundation/VEXPPMTestData.h"
#include "foundation/VEXPPM.h"
#include "foundation/VEXPPMModel.h"

using vex::TVEXPPMModel;

namespace {

struct Coded {
  std::vector<uint8_t> Stream;
  std::vector<size_t> RestartsAt;
};

Coded Encode(const std::vector<uint8_t>& input, int order, uint32_t memMB, int fill = -1) {
  TVEXPPMModel model(order, memMB);
  EXPECT_TRUE(model.Reserve());
  if (fill >= 0) model.FillHeapForTest(uint8_t(fill));
  std::vector<uint8_t> out(input.size() + input.size() / 4 + 64);
  const int64_t n = model.Encode(input, out);
  EXPECT_GT(n, 0);
  out.resize(size_t(std::max<int64_t>(n, 0)));
  return {out, model.RestartsAt()};
}

// Decodes and checks what a round trip must show besides equal bytes: the
// decoder restarts where the encoder did and reads exactly the whole stream.
void ExpectRoundTrip(const std::vector<uint8_t>& input, int order, uint32_t memMB) {
  SCOPED_TRACE(testing::Message() << "order " << order << ", " << memMB << " MiB, " << input.size()
                                  << " bytes");
  const Coded coded = Encode(input, order, memMB);
  TVEXPPMModel model(order, memMB);
  ASSERT_TRUE(model.Reserve());
  std::vector<uint8_t> back(input.size());
  ASSERT_EQ(model.Decode(coded.Stream, back), int64_t(input.size()));
  EXPECT_EQ(back, input);
  EXPECT_EQ(model.RestartsAt(), coded.RestartsAt);
  EXPECT_EQ(model.InputConsumed(), coded.Stream.size());
  EXPECT_FALSE(model.ReadPastEnd());
}

std::vector<uint8_t> Mixed() {
  auto data = ppmtest::Text(100000);
  const auto noise = ppmtest::Random(30000);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), 20000, 0);
  const auto tail = ppmtest::Text(30000, 99);
  data.insert(data.end(), tail.begin(), tail.end());
  return data;
}

}  // namespace

TEST(PpmModel, SmallInputsRoundTripAtEveryOrder) {
  std::vector<uint8_t> allValues(256);
  for (int i = 0; i < 256; ++i) allValues[i] = uint8_t(i);
  const std::vector<std::vector<uint8_t>> inputs = {
      {}, {0x41}, {0xFF}, std::vector<uint8_t>(4, 0), allValues, ppmtest::Text(3000)};
  for (int order = 2; order <= 16; ++order)
    for (const auto& input : inputs) ExpectRoundTrip(input, order, 1);
}

TEST(PpmModel, MixedInputRoundTripsAtEveryOrderAndMemorySize) {
  const auto input = Mixed();
  for (int order = 2; order <= 16; ++order) ExpectRoundTrip(input, order, 1);
  for (int order : {3, 10})
    for (uint32_t memMB : {2u, 7u, 25u}) ExpectRoundTrip(input, order, memMB);
}

TEST(PpmModel, RestartsOnExhaustedMemoryOnBothSidesAtTheSameSymbol) {
  const auto input = Mixed();
  const Coded coded = Encode(input, 16, 1);
  ASSERT_GE(coded.RestartsAt.size(), 2u);
  ExpectRoundTrip(input, 16, 1);  // compares the decoder's restarts

  // An input that ends with the very symbol that restarted the model.
  const size_t cut = coded.RestartsAt.front();
  const std::vector<uint8_t> prefix(input.begin(), input.begin() + cut);
  EXPECT_EQ(Encode(prefix, 16, 1).RestartsAt, std::vector<size_t>{cut});
  ExpectRoundTrip(prefix, 16, 1);
}

// Where a restart happens decides every later byte, so both the symbol it
// happens at and the stream are pinned; the expected values come from a
// separate model of the format with its own allocator, not from this code.
TEST(PpmModel, RestartsAtTheKnownSymbolAndGivesTheKnownStream) {
  std::vector<uint8_t> input(60000);
  uint32_t x = 1;
  for (auto& b : input) {
    x = x * 1664525u + 1013904223u;
    b = uint8_t(x >> 24);
  }
  const Coded coded = Encode(input, 3, 1);
  EXPECT_EQ(coded.RestartsAt, std::vector<size_t>{32672});
  EXPECT_EQ(coded.Stream.size(), 61137u);
  uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (uint8_t b : coded.Stream) hash = (hash ^ b) * 0x100000001b3u;
  EXPECT_EQ(hash, 0x4f90ab5a30a47cdbu);
  ExpectRoundTrip(input, 3, 1);
}

// The buffer tests round-trip this block at every level; here it is shown to
// take the restart path at the small ones.
TEST(PpmModel, LargeBlockExhaustsTheMemoryOfTheSmallLevels) {
  const auto input = ppmtest::LargeBlock();
  for (int32_t level = 1; level <= 3; ++level) {
    const vex::TVEXPPMLevel params = vex::PpmLevel(level);
    EXPECT_FALSE(Encode(input, params.MaxOrder, uint32_t(params.MemMB)).RestartsAt.empty())
        << "level " << level;
  }
}

TEST(PpmModel, OutputDependsOnNothingButInputAndParameters) {
  const auto input = Mixed();
  const Coded first = Encode(input, 8, 1);
  ASSERT_FALSE(first.RestartsAt.empty()) << "restarts reuse memory left over by the model";
  EXPECT_EQ(Encode(input, 8, 1).Stream, first.Stream);
  EXPECT_EQ(Encode(input, 8, 1, 0xFF).Stream, first.Stream);
}

TEST(PpmModel, NeverWritesPastTheBuffersItIsGiven) {
  const auto input = ppmtest::Text(20000);
  const Coded coded = Encode(input, 6, 2);
  {
    TVEXPPMModel model(6, 2);
    ASSERT_TRUE(model.Reserve());
    std::vector<uint8_t> out(coded.Stream.size() + 16, 0xAB);
    EXPECT_EQ(model.Encode(input, {out.data(), coded.Stream.size() - 1}), -1);
    for (size_t i = coded.Stream.size() - 1; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB);
  }
  {
    TVEXPPMModel model(6, 2);
    ASSERT_TRUE(model.Reserve());
    std::vector<uint8_t> out(input.size() + 16, 0xAB);
    EXPECT_EQ(model.Decode(coded.Stream, {out.data(), input.size() - 1}), -1);
    for (size_t i = input.size() - 1; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB);
  }
}

// Damaged streams must end the decoder inside its buffers (the sanitizers
// watch that), whatever they decode to.
TEST(PpmModel, DecodesDamagedStreamsWithinBounds) {
  const auto input = Mixed();
  const std::vector<uint8_t> stream = Encode(input, 6, 1).Stream;
  std::mt19937 rng(1);
  std::vector<uint8_t> out(input.size());
  TVEXPPMModel model(6, 1);
  ASSERT_TRUE(model.Reserve());
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> damaged = stream;
    if (round % 3 == 0) {
      damaged.resize(rng() % damaged.size());
    } else {
      for (int k = 1 + round % 4; k > 0; --k)
        damaged[rng() % damaged.size()] ^= uint8_t(1 + rng() % 255);
    }
    const int64_t n = model.Decode(damaged, out);
    EXPECT_LE(n, int64_t(out.size()));
  }
  const auto noise = ppmtest::Random(5000, 4);
  EXPECT_LE(model.Decode(noise, out), int64_t(out.size()));
}
