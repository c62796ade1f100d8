#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "foundation/VEXPPMRangeCoder.h"

using vex::TVEXPPMRangeDecoder;
using vex::TVEXPPMRangeEncoder;

namespace {

struct Event {
  uint32_t Low, High, Scale;  // Scale 0: shifted by 14 bits
};

// Events of every shape the model codes: wide and narrow intervals, divided
// scales up to the largest a context reaches and the binary 2^14 scale. The
// narrow ones keep the range small, so the carry-less cut is taken often.
std::vector<Event> RandomEvents(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Event> events;
  for (size_t i = 0; i < count; ++i) {
    const bool shifted = rng() % 3 == 0;
    const uint32_t scale = shifted ? 1u << 14 : 1 + rng() % (rng() % 2 ? 40 : 32000);
    const uint32_t low = rng() % scale;
    const uint32_t high = low + 1 + rng() % (rng() % 4 ? 1 : scale - low);
    events.push_back({low, high, shifted ? 0 : scale});
  }
  return events;
}

std::vector<uint8_t> EncodeAll(const std::vector<Event>& events) {
  std::vector<uint8_t> out(events.size() * 4 + 16);
  TVEXPPMRangeEncoder rc(out.data(), out.size());
  for (const Event& e : events) {
    if (e.Scale == 0)
      EXPECT_TRUE(rc.EncodeShift(e.Low, e.High, 14));
    else
      EXPECT_TRUE(rc.Encode(e.Low, e.High, e.Scale));
    rc.Normalize();
  }
  rc.Flush();
  EXPECT_FALSE(rc.Overflowed());
  out.resize(rc.Written());
  return out;
}

}  // namespace

TEST(PpmRangeCoder, DecoderFindsEveryEventAndConsumesExactlyTheStream) {
  const auto events = RandomEvents(20000, 3);
  const auto stream = EncodeAll(events);
  TVEXPPMRangeDecoder rc(stream.data(), stream.size());
  for (size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    uint32_t count;
    if (e.Scale == 0) {
      count = rc.GetCountShift(14);
    } else {
      ASSERT_TRUE(rc.GetCount(e.Scale, count));
    }
    ASSERT_GE(count, e.Low) << "event " << i;
    ASSERT_LT(count, e.High) << "event " << i;
    ASSERT_TRUE(rc.Decode(e.Low, e.High));
    rc.Normalize();
  }
  EXPECT_EQ(rc.Consumed(), stream.size());
  EXPECT_FALSE(rc.ReadPastEnd());
}

TEST(PpmRangeCoder, EmptyStreamIsTheFourByteFlush) {
  std::vector<uint8_t> out(4);
  TVEXPPMRangeEncoder rc(out.data(), out.size());
  rc.Flush();
  EXPECT_EQ(rc.Written(), 4u);
  EXPECT_EQ(out, std::vector<uint8_t>(4, 0));
}

TEST(PpmRangeCoder, RefusesIntervalsThatWouldEmptyTheRange) {
  std::vector<uint8_t> out(8);
  TVEXPPMRangeEncoder enc(out.data(), out.size());
  EXPECT_FALSE(enc.Encode(3, 3, 10));   // empty
  EXPECT_FALSE(enc.Encode(2, 11, 10));  // past the scale
  EXPECT_FALSE(enc.Encode(0, 1, 0));
  EXPECT_FALSE(enc.EncodeShift(5, 4, 14));
  EXPECT_FALSE(enc.EncodeShift(0, (1u << 14) + 1, 14));

  const uint8_t in[4] = {1, 2, 3, 4};
  TVEXPPMRangeDecoder dec(in, sizeof in);
  uint32_t count;
  EXPECT_FALSE(dec.GetCount(0, count));
  ASSERT_TRUE(dec.GetCount(10, count));
  EXPECT_FALSE(dec.Decode(4, 4));
  EXPECT_FALSE(dec.Decode(4, 11));
}

TEST(PpmRangeCoder, EncoderStopsAtItsCapacity) {
  const auto events = RandomEvents(2000, 5);
  const size_t needed = EncodeAll(events).size();
  std::vector<uint8_t> out(needed + 8, 0xAB);
  TVEXPPMRangeEncoder rc(out.data(), needed - 1);
  for (const Event& e : events) {
    if (e.Scale == 0)
      rc.EncodeShift(e.Low, e.High, 14);
    else
      rc.Encode(e.Low, e.High, e.Scale);
    rc.Normalize();
  }
  rc.Flush();
  EXPECT_TRUE(rc.Overflowed());
  EXPECT_EQ(rc.Written(), needed - 1);
  for (size_t i = needed - 1; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB);
}

TEST(PpmRangeCoder, ReadsPastTheEndAsAllBitsSet) {
  const uint8_t in[2] = {0x12, 0x34};
  TVEXPPMRangeDecoder rc(in, sizeof in);
  EXPECT_TRUE(rc.ReadPastEnd());
  EXPECT_EQ(rc.Consumed(), 2u);
  // The missing byte is ORed in as -1, which sets every bit of the code.
  uint32_t count;
  ASSERT_TRUE(rc.GetCount(1u << 16, count));
  EXPECT_EQ(count, 0xFFFFFFFFu / (0xFFFFFFFFu >> 16));
}
