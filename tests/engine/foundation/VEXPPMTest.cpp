#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/VEXPPMTestData.h"
#include "foundation/VEXPPM.h"
#include "rtl/Exception.h"

using namespace vex;

namespace {

// Owns a buffer handed out by the routines, which come from the C heap.
struct Buffer {
  void* Data = nullptr;
  int32_t Size = 0;
  ~Buffer() { std::free(Data); }
  std::vector<uint8_t> Bytes() const {
    const auto* p = static_cast<const uint8_t*>(Data);
    return {p, p + Size};
  }
};

std::vector<uint8_t> Compress(const std::vector<uint8_t>& input, int32_t level) {
  Buffer out;
  PpmCompressBuffer(input.data(), int32_t(input.size()), out.Data, out.Size, level);
  EXPECT_GT(out.Size, 4);
  EXPECT_LE(out.Size, int32_t(input.size() + input.size() / 20 + 50));
  return out.Bytes();
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& stream, int32_t knownSize) {
  Buffer out;
  out.Size = knownSize;
  PpmDecompressBuffer(stream.data(), int32_t(stream.size()), out.Data, out.Size);
  return out.Bytes();
}

uint32_t HeaderWord(const std::vector<uint8_t>& stream) {
  return uint32_t(stream[0]) | uint32_t(stream[1]) << 8 | uint32_t(stream[2]) << 16 |
         uint32_t(stream[3]) << 24;
}

// Runs a decompression that must fail: with the given message, and handing
// back neither a buffer nor a size.
void ExpectDecompressError(const std::vector<uint8_t>& stream, int32_t knownSize,
                           const std::string& message) {
  Buffer out;
  out.Size = knownSize;
  try {
    PpmDecompressBuffer(stream.data(), int32_t(stream.size()), out.Data, out.Size);
    ADD_FAILURE() << "no error, " << out.Size << " bytes";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), message);
  }
  EXPECT_EQ(out.Data, nullptr);
  EXPECT_EQ(out.Size, 0);
}

}  // namespace

TEST(PpmBuffer, HeaderWordCarriesOrderAndMemoryOfTheLevel) {
  const struct {
    int32_t Mode;
    uint32_t Word;
  } cases[] = {{0, 0x6011}, {1, 0x6011}, {2, 0x6022}, {3, 0x6063}, {4, 0x60F4},  {5, 0x6156},
               {6, 0x6187}, {7, 0x6279}, {8, 0x663C}, {9, 0x663F}, {10, 0x663F}, {255, 0x663F}};
  const auto input = ppmtest::Text(100);
  for (const auto& c : cases) {
    const auto stream = Compress(input, c.Mode);
    EXPECT_EQ(HeaderWord(stream), c.Word) << "mode " << c.Mode;
    if (c.Mode == 0) {
      EXPECT_EQ(stream, Compress(input, 1));
    }
    EXPECT_EQ(PpmHeaderWord(PpmLevel(c.Mode).MaxOrder, PpmLevel(c.Mode).MemMB), c.Word);
  }
}

// Streams worked out by hand from the format (the tiny ones) or by a separate
// model written from the same description, never by this code: a round trip
// cannot tell a fault the encoder and the decoder share. The tiny inputs pin
// the first binary context of order 1 with its initial counter, the escape of
// frequency 1 from the full root, the first-pass escape, a binary hit, a state
// that joins a binary context, and the stub that becomes a context.
TEST(PpmBuffer, ProducesAndReadsTheKnownStreams) {
  const struct {
    int32_t Level;
    std::string Input;
    std::vector<uint8_t> Raw;  // behind the header word
  } cases[] = {
      {1, "", {0xFF, 0x28, 0x2C, 0x1B, 0x00}},
      {1, "A", {0x5F, 0x27, 0xA8, 0x2D, 0x00}},
      {1, "AA", {0x5E, 0x8A, 0xB8, 0xB5, 0x32, 0xD0}},
      {1, "AAA", {0x5E, 0x8A, 0x17, 0x32, 0x07, 0x00, 0x00}},
      {1, "AAB", {0x5E, 0x8A, 0x41, 0x40, 0x1B, 0xF4, 0x00, 0x00}},
      {3,
       "the cat sat on the mat; the cat ate the rat, and the rat sat.",
       {0xBD, 0x26, 0x25, 0xDF, 0x05, 0xAE, 0x42, 0x24, 0x0A, 0xFE, 0xCC, 0x0C,
        0x95, 0x7A, 0x53, 0x28, 0x1C, 0xF6, 0x8E, 0x6A, 0xF0, 0x83, 0x86, 0xFB,
        0xC9, 0xEF, 0xB4, 0x91, 0x08, 0x78, 0xA7, 0xC3, 0xC4, 0xFE, 0xA8, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.Level << ", \"" << c.Input << "\"");
    const std::vector<uint8_t> input(c.Input.begin(), c.Input.end());
    const uint32_t word = PpmHeaderWord(PpmLevel(c.Level).MaxOrder, PpmLevel(c.Level).MemMB);
    std::vector<uint8_t> expected = {uint8_t(word), uint8_t(word >> 8), 0, 0};
    expected.insert(expected.end(), c.Raw.begin(), c.Raw.end());

    Buffer out;
    PpmCompressBuffer(input.data(), int32_t(input.size()), out.Data, out.Size, c.Level);
    EXPECT_EQ(out.Bytes(), expected);
    if (!input.empty()) {
      EXPECT_EQ(Decompress(expected, int32_t(input.size())), input);
    }
  }
}

TEST(PpmBuffer, RoundTripsAtEveryLevel) {
  const std::vector<std::vector<uint8_t>> inputs = {
      ppmtest::Text(60000), ppmtest::Random(20000), {0x00}};
  for (int32_t level = 1; level <= 9; ++level) {
    for (const auto& input : inputs) {
      const auto stream = Compress(input, level);
      EXPECT_EQ(Decompress(stream, int32_t(input.size())), input)
          << "level " << level << ", " << input.size() << " bytes";
    }
  }
}

// A thread's next call reuses the model memory its last call left behind:
// the stream of an input is the same after a call that filled that memory
// with another model, in either direction.
TEST(PpmBuffer, StreamsDoNotDependOnTheCallBefore) {
  const auto text = ppmtest::Text(60000);
  const auto noise = ppmtest::Random(60000);
  for (int32_t level : {1, 4, 6}) {
    SCOPED_TRACE(testing::Message() << "level " << level);
    const auto first = Compress(text, level);
    Compress(noise, level);
    EXPECT_EQ(Compress(text, level), first);
    Decompress(Compress(noise, level), int32_t(noise.size()));
    EXPECT_EQ(Decompress(first, int32_t(text.size())), text);
  }
}

// At the small levels this block outgrows the model memory several times.
TEST(PpmBuffer, LargeBlockRoundTripsAtEveryLevel) {
  const auto input = ppmtest::LargeBlock();
  for (int32_t level = 1; level <= 9; ++level) {
    const auto stream = Compress(input, level);
    EXPECT_EQ(Decompress(stream, int32_t(input.size())), input) << "level " << level;
  }
}

TEST(PpmBuffer, KnownSizeIsALimitNotAPromise) {
  const auto input = ppmtest::Text(5000);
  const auto stream = Compress(input, 3);
  EXPECT_EQ(Decompress(stream, int32_t(input.size()) + 100), input);
}

TEST(PpmBuffer, RefusesDecompressionWithoutAKnownSize) {
  const auto stream = Compress(ppmtest::Text(100), 1);
  for (int32_t size : {0, -1})
    ExpectDecompressError(stream, size, "PPM DecpmpressBuf: OutSize must be set");
}

TEST(PpmBuffer, FailsOnStreamsThatAreNotWhole) {
  const auto input = ppmtest::Text(20000);
  const auto stream = Compress(input, 5);
  const int32_t size = int32_t(input.size());

  auto otherVariant = stream;
  otherVariant[1] = uint8_t((otherVariant[1] & 0x0F) | 0x70);
  auto orderOne = stream;
  orderOne[0] &= 0xF0;
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"other variant letter", otherVariant},
      {"order 1", orderOne},
      {"empty", {}},
      {"header cut", {stream.begin(), stream.begin() + 3}},
      {"header only", {stream.begin(), stream.begin() + 4}},
      {"half", {stream.begin(), stream.begin() + stream.size() / 2}},
      {"last byte missing", {stream.begin(), stream.end() - 1}},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    ExpectDecompressError(bytes, size, "PPM Decompression error");
  }
  // The decoder stops at the known size instead of writing past it.
  ExpectDecompressError(stream, size - 1, "PPM Decompression error");
}

TEST(PpmBuffer, EmptyInputCompressesToAStreamOfNoBytes) {
  Buffer out;
  PpmCompressBuffer(nullptr, 0, out.Data, out.Size, 1);
  ASSERT_GT(out.Size, 4);
  EXPECT_EQ(HeaderWord(out.Bytes()), 0x6011u);
  // Nothing to decode is no result.
  ExpectDecompressError(out.Bytes(), 10, "PPM Decompression error");
}

TEST(PpmBuffer, RefusesANegativeInputSize) {
  const uint8_t byte = 0;
  Buffer out;
  EXPECT_THROW(PpmCompressBuffer(&byte, -1, out.Data, out.Size, 1), rtl::Exception);
  EXPECT_EQ(out.Data, nullptr);
  EXPECT_EQ(out.Size, 0);
}

TEST(PpmBuffer, CallsWaitForTheProcessWideLock) {
  const auto input = ppmtest::Text(1000);
  std::atomic<bool> done{false};
  PpmLock().Lock();
  std::thread worker([&] {
    Compress(input, 1);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done);
  PpmLock().Unlock();
  worker.join();
  EXPECT_TRUE(done);
}

TEST(PpmBuffer, ConcurrentCompressionsBothProduceCorrectStreams) {
  const auto a = ppmtest::Text(200000, 1);
  const auto b = ppmtest::LargeBlock();
  std::vector<uint8_t> streamA, streamB;
  std::thread ta([&] { streamA = Compress(a, 6); });
  std::thread tb([&] { streamB = Compress(b, 2); });
  ta.join();
  tb.join();
  EXPECT_EQ(streamA, Compress(a, 6));
  EXPECT_EQ(streamB, Compress(b, 2));
  EXPECT_EQ(Decompress(streamA, int32_t(a.size())), a);
  EXPECT_EQ(Decompress(streamB, int32_t(b.size())), b);
}
