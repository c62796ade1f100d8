#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "VEXStreamFakes.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"

namespace vex {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<int32_t> ItemsOf(const TVEXIntegerArray& a) {
  return {a.Items.begin(), a.Items.begin() + a.ItemCount};
}

TVEXIntegerArray ArrayOf(std::initializer_list<int32_t> values) {
  TVEXIntegerArray a(0, 10, 100);
  for (int32_t v : values) a.Append(v);
  return a;
}

TEST(IntegerArray, GrowthStepDoublesUpToItsBoundAndSizeZeroReleases) {
  TVEXIntegerArray a(0, 10, 100);
  std::vector<int32_t> capacities;
  for (int32_t i = 0; i < 341; ++i) {
    a.Append(i);
    ASSERT_EQ(a.Items[i], i);
    ASSERT_EQ(a.AllocItemCount, static_cast<int32_t>(a.Items.size()));
    if (capacities.empty() || capacities.back() != a.AllocItemCount)
      capacities.push_back(a.AllocItemCount);
    if (i == 0) {
      EXPECT_EQ(a.AllocBy, 20);
    }
  }
  EXPECT_THAT(capacities, ElementsAre(20, 60, 140, 240, 340, 440));
  EXPECT_EQ(a.AllocBy, 100);

  a.SetSize(0);
  EXPECT_EQ(a.ItemCount, 0);
  EXPECT_EQ(a.AllocItemCount, 0);
  EXPECT_TRUE(a.Items.empty());
  EXPECT_EQ(a.AllocBy, 100);  // the step survives the release
}

TEST(IntegerArray, ShrinksOnlyWhenMoreThanTheThresholdWouldStayFree) {
  TVEXIntegerArray a(15, 10, 100);  // capacity 20
  ASSERT_EQ(a.AllocItemCount, 20);
  a.SetSize(10);  // 10 free: not more than deAllocBy 10
  EXPECT_EQ(a.AllocItemCount, 20);
  EXPECT_EQ(a.deAllocBy, 10);
  a.SetSize(9);  // 11 free: storage cut to exactly 9, threshold doubles
  EXPECT_EQ(a.AllocItemCount, 9);
  EXPECT_EQ(a.deAllocBy, 20);
  EXPECT_EQ(a.ItemCount, 9);
}

TEST(IntegerArray, InsertDeleteAndMoveTo) {
  struct Case {
    const char* name;
    void (*op)(TVEXIntegerArray&);
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {"insert past the end appends",
       [](TVEXIntegerArray& a) { a.Insert(50, 9); },
       {0, 1, 2, 3, 4, 5, 9}},
      {"insert inside shifts up",
       [](TVEXIntegerArray& a) { a.Insert(1, 9); },
       {0, 9, 1, 2, 3, 4, 5}},
      {"delete shifts down", [](TVEXIntegerArray& a) { a.Delete(1); }, {0, 2, 3, 4, 5}},
      {"delete the last", [](TVEXIntegerArray& a) { a.Delete(5); }, {0, 1, 2, 3, 4}},
      {"move to itself", [](TVEXIntegerArray& a) { a.MoveTo(2, 2); }, {0, 1, 2, 3, 4, 5}},
      {"neighbours swap up", [](TVEXIntegerArray& a) { a.MoveTo(2, 3); }, {0, 1, 3, 2, 4, 5}},
      {"neighbours swap down", [](TVEXIntegerArray& a) { a.MoveTo(3, 2); }, {0, 1, 3, 2, 4, 5}},
      {"move down lands at the target",
       [](TVEXIntegerArray& a) { a.MoveTo(4, 1); },
       {0, 4, 1, 2, 3, 5}},
      {"move up lands before the target",
       [](TVEXIntegerArray& a) { a.MoveTo(1, 4); },
       {0, 2, 3, 1, 4, 5}},
  };
  for (const Case& c : cases) {
    TVEXIntegerArray a = ArrayOf({0, 1, 2, 3, 4, 5});
    c.op(a);
    EXPECT_EQ(ItemsOf(a), c.expected) << c.name;
  }
}

TEST(IntegerArray, InsertAtFiveOnThreeItemsAppends) {
  TVEXIntegerArray a = ArrayOf({7, 8, 9});
  a.Insert(5, 42);
  EXPECT_THAT(ItemsOf(a), ElementsAre(7, 8, 9, 42));
}

TEST(IntegerArray, SearchCopyAndAssign) {
  TVEXIntegerArray a = ArrayOf({4, 6, 6, 8});
  EXPECT_EQ(a.IndexOf(6), 1);
  EXPECT_EQ(a.IndexOf(5), -1);
  EXPECT_TRUE(a.IsValueExists(8));
  EXPECT_FALSE(a.IsValueExists(0));

  int32_t out[2] = {-1, -1};
  a.CopyTo(out, 2, 2);
  EXPECT_THAT(out, ElementsAre(6, 8));
  TVEXIntegerArray empty(0, 10, 100);
  empty.CopyTo(out, 0, 2);  // nothing copied from an empty array
  EXPECT_THAT(out, ElementsAre(6, 8));

  TVEXIntegerArray b(3, 1, 100);
  b.Assign(a);
  EXPECT_EQ(ItemsOf(b), ItemsOf(a));
}

TEST(BlockHeadersArray, FindPositionAtBlockBoundaries) {
  TVEXCompressedStreamBlockHeadersArray headers;
  EXPECT_EQ(headers.FindPosition(0), 0);
  EXPECT_EQ(headers.FindPosition(500), 0);

  for (int64_t start : {0, 100, 200}) {
    TVEXCompressedStreamBlockHeader h{};
    h.CompressedSize = static_cast<int32_t>(start) + 1;
    headers.AppendItem(h, start);
  }
  ASSERT_EQ(headers.ItemCount, 3);
  EXPECT_EQ(headers.Items[2].CompressedSize, 201);
  EXPECT_EQ(headers.Positions[1], 100);

  const std::pair<int64_t, int32_t> cases[] = {{0, 0},   {99, 0},  {100, 1},   {199, 1},
                                               {200, 2}, {250, 2}, {10000, 2}, {-5, 0}};
  for (auto [pos, block] : cases) EXPECT_EQ(headers.FindPosition(pos), block) << pos;
}

TEST(BlockHeadersArray, PositionBeforeTheFirstBlockGivesZeroAndBothArraysGrowTogether) {
  TVEXCompressedStreamBlockHeadersArray headers;
  headers.AppendItem({}, 50);
  EXPECT_EQ(headers.FindPosition(10), 0);
  EXPECT_EQ(headers.Items.size(), 20u);  // the first growth already doubles the step of 10
  EXPECT_EQ(headers.Positions.size(), 20u);
  headers.SetSize(0);
  EXPECT_EQ(headers.ItemCount, 0);
  EXPECT_TRUE(headers.Items.empty());
  EXPECT_TRUE(headers.Positions.empty());
}

TEST(BlockHeadersArray, AHeaderIsTwentyLittleEndianBytesInFieldOrder) {
  TVEXCompressedStreamBlockHeader h{};
  h.CompressedSize = 0x01020304;
  h.UncompressedSize = 0x0A0B;
  h.Crc32 = 0xCA6598D0u;
  h.OffsetToNextHeader = 20 + int64_t{0x01020304} + (int64_t{1} << 40);
  TVEXMemoryStream stream;
  WriteStreamChecked(&h, sizeof h, stream, 1);
  EXPECT_EQ(testing::ContentOf(stream), std::string("\x04\x03\x02\x01"
                                                    "\x0B\x0A\x00\x00"
                                                    "\xD0\x98\x65\xCA"
                                                    "\x18\x03\x02\x01\x00\x01\x00\x00",
                                                    20));
  TVEXCompressedStreamBlockHeader back{};
  stream.Seek(0, rtl::soFromBeginning);
  ReadStreamChecked(&back, sizeof back, stream, 2);
  // Copies: a packed field must not be bound to a reference.
  int64_t offset = back.OffsetToNextHeader;
  uint32_t crc = back.Crc32;
  EXPECT_EQ(offset, 20 + int64_t{0x01020304} + (int64_t{1} << 40));
  EXPECT_EQ(crc, 0xCA6598D0u);
}

// Ten bits with bits 1, 3 and 8 set.
class BitsArrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bits.SetSize(10);
    for (int32_t b : {1, 3, 8}) bits.SetBit(b, true);
  }
  TVEXBitsArray bits;
};

TEST_F(BitsArrayTest, CountsAndSearches) {
  EXPECT_EQ(bits.Size(), 10);
  EXPECT_EQ(bits.NonZeroBitCount(), 3);
  bits.SetBit(3, true);  // already set: nothing changes
  EXPECT_EQ(bits.NonZeroBitCount(), 3);

  EXPECT_EQ(bits.GetBitNoByBitPosition(0), 1);
  EXPECT_EQ(bits.GetBitNoByBitPosition(2), 8);
  EXPECT_EQ(bits.GetBitPositionByBitNo(3), 1);
  EXPECT_EQ(bits.GetBitPositionByBitNo(2), 0);
  EXPECT_EQ(bits.GetBitPositionByBitNo(0), -1);

  int32_t found = -1;
  EXPECT_TRUE(bits.Find(true, true, 0, found));
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(bits.Find(false, true, 3, found));
  EXPECT_EQ(found, 8);
  EXPECT_FALSE(bits.Find(false, true, 8, found));
  EXPECT_TRUE(bits.Find(false, false, 8, found));
  EXPECT_EQ(found, 3);
  EXPECT_TRUE(bits.Find(true, false, 0, found));
  EXPECT_EQ(found, 8);
  EXPECT_FALSE(bits.Find(false, false, 1, found));

  EXPECT_TRUE(bits.FindBit(true, found));
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(bits.FindBit(false, found));
  EXPECT_EQ(found, 0);

  bits.SetBit(3, false);
  EXPECT_EQ(bits.NonZeroBitCount(), 2);
  EXPECT_EQ(bits.GetBitNoByBitPosition(1), 8);
}

TEST_F(BitsArrayTest, OutOfRangeNumbersRaiseTheirCodes) {
  struct Case {
    void (*op)(TVEXBitsArray&);
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {[](TVEXBitsArray& b) { b.GetBit(10); }, 10394, "Invalid bit no = 10, number of bits = 10"},
      {[](TVEXBitsArray& b) { b.GetBit(-1); }, 10394, "Invalid bit no = -1, number of bits = 10"},
      {[](TVEXBitsArray& b) { b.SetBit(10, true); }, 10395,
       "Invalid bit no = 10, number of bits = 10"},
      {[](TVEXBitsArray& b) { b.GetBitNoByBitPosition(3); }, 10428,
       "Invalid bit no = 3, number of bits = 3"},
      {[](TVEXBitsArray& b) { b.GetBitPositionByBitNo(10); }, 10429,
       "Invalid bit no = 10, number of bits = 10"},
  };
  for (const Case& c : cases) {
    try {
      c.op(bits);
      ADD_FAILURE() << "no exception for " << c.text;
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, c.code);
      EXPECT_EQ(std::string(e.what()),
                std::string(c.text) + " - Native error: " + std::to_string(c.code));
    }
  }
}

// A seeded run of growth by single bits and by jumps, shrinking, setting and
// clearing, with position look-ups in between in every order, against a
// vector<bool>: the cached place of the position searches and the spare room
// kept for growth never show in an answer.
TEST(BitsArray, RandomRunAgreesWithAModel) {
  std::mt19937 random(2306);
  std::vector<bool> model;
  TVEXBitsArray bits;
  auto check = [&](int step) {
    ASSERT_EQ(bits.Size(), static_cast<int32_t>(model.size())) << "step " << step;
    const int32_t set = static_cast<int32_t>(std::count(model.begin(), model.end(), true));
    ASSERT_EQ(bits.NonZeroBitCount(), set) << "step " << step;
    for (int probe = 0; probe < 6 && !model.empty(); ++probe) {
      const int32_t bitNo = static_cast<int32_t>(random() % model.size());
      const int32_t before = static_cast<int32_t>(
          std::count(model.begin(), model.begin() + bitNo + 1, true));
      ASSERT_EQ(bits.GetBitPositionByBitNo(bitNo), before - 1) << "step " << step << " bit " << bitNo;
      ASSERT_EQ(bits.GetBit(bitNo), static_cast<bool>(model[bitNo]));
      if (set > 0) {
        const int32_t position = static_cast<int32_t>(random() % set);
        int32_t expected = -1;
        for (int32_t i = 0, seen = 0; i < static_cast<int32_t>(model.size()); ++i) {
          if (model[i] && seen++ == position) {
            expected = i;
            break;
          }
        }
        ASSERT_EQ(bits.GetBitNoByBitPosition(position), expected)
            << "step " << step << " position " << position;
      }
    }
  };
  for (int step = 0; step < 3000; ++step) {
    const unsigned op = random() % 10;
    if (op < 4 || model.empty()) {  // grow by one, the bit set or clear
      model.push_back(random() % 2 == 0);
      bits.SetSize(static_cast<int32_t>(model.size()));
      if (model.back()) bits.SetBit(static_cast<int32_t>(model.size()) - 1, true);
    } else if (op < 7) {  // set or clear one bit
      const size_t i = random() % model.size();
      model[i] = random() % 3 != 0;
      bits.SetBit(static_cast<int32_t>(i), model[i]);
    } else if (op < 8) {  // grow by a jump
      model.resize(model.size() + random() % 200);
      bits.SetSize(static_cast<int32_t>(model.size()));
    } else if (op < 9) {  // shrink
      model.resize(random() % model.size());
      bits.SetSize(static_cast<int32_t>(model.size()));
    } else if (random() % 20 == 0) {
      model.assign(model.size(), true);
      bits.SetAllBits();
    }
    check(step);
  }
}

// Compares the byte-wise searches with a plain bit-by-bit model over a pattern
// that spans several bytes, with empty, full and partly set bytes and a
// partial last byte.
TEST(BitsArray, SearchesAgreeWithABitByBitModel) {
  const int32_t n = 61;
  std::vector<bool> model(n);
  TVEXBitsArray bits;
  bits.SetSize(n);
  for (int32_t i = 0; i < n; ++i) {
    bool v = (i >= 16 && i < 24) || i % 7 == 3 || i == n - 1;
    model[i] = v;
    bits.SetBit(i, v);
  }
  std::vector<int32_t> set;
  for (int32_t i = 0; i < n; ++i)
    if (model[i]) set.push_back(i);
  ASSERT_EQ(bits.NonZeroBitCount(), static_cast<int32_t>(set.size()));

  for (size_t p = 0; p < set.size(); ++p) EXPECT_EQ(bits.GetBitNoByBitPosition(p), set[p]) << p;
  int32_t below = -1;
  for (int32_t i = 0; i < n; ++i) {
    if (model[i]) ++below;
    EXPECT_EQ(bits.GetBitPositionByBitNo(i), below) << i;
  }
  int32_t found = -1;
  for (int32_t i = 0; i < n; ++i) {
    auto next = std::upper_bound(set.begin(), set.end(), i);
    bool has = bits.Find(false, true, i, found);
    EXPECT_EQ(has, next != set.end()) << i;
    if (has) {
      EXPECT_EQ(found, *next);
    }
    auto prev = std::lower_bound(set.begin(), set.end(), i);
    has = bits.Find(false, false, i, found);
    EXPECT_EQ(has, prev != set.begin()) << i;
    if (has) {
      EXPECT_EQ(found, *(prev - 1));
    }
  }
  bits.SetAllBits();
  EXPECT_FALSE(bits.FindBit(false, found));  // the tail bits past 61 do not count
}

TEST(BitsArray, SetAllBitsAndShrinkingKeepTheCountTrue) {
  TVEXBitsArray bits;
  bits.SetSize(10);
  bits.SetAllBits();
  EXPECT_EQ(bits.NonZeroBitCount(), 10);
  EXPECT_EQ(bits.GetBitNoByBitPosition(9), 9);
  bits.SetSize(4);
  EXPECT_EQ(bits.NonZeroBitCount(), 4);

  // Growing back must not revive the bits that SetAllBits or the shrink dropped.
  bits.SetSize(16);
  EXPECT_EQ(bits.NonZeroBitCount(), 4);
  for (int32_t i = 4; i < 16; ++i) EXPECT_FALSE(bits.GetBit(i)) << i;
  int32_t found = -1;
  EXPECT_FALSE(bits.Find(false, true, 3, found));
  bits.SetBit(12, true);
  EXPECT_EQ(bits.GetBitNoByBitPosition(4), 12);

  bits.SetSize(0);
  EXPECT_EQ(bits.Size(), 0);
  EXPECT_EQ(bits.NonZeroBitCount(), 0);
  EXPECT_FALSE(bits.Find(true, true, 0, found));
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST_F(BitsArrayTest, StreamFormIsTheTwoCountsAndTheBitmapBytes) {
  TVEXMemoryStream stream;
  bits.SaveToStream(stream);
  EXPECT_EQ(testing::ContentOf(stream), Bytes({10, 0, 0, 0, 3, 0, 0, 0, 0x0A, 0x01}));

  TVEXBitsArray loaded;
  loaded.SetSize(3);
  loaded.SetAllBits();
  stream.Seek(0, rtl::soFromBeginning);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.Size(), 10);
  EXPECT_EQ(loaded.NonZeroBitCount(), 3);
  for (int32_t i = 0; i < 10; ++i) EXPECT_EQ(loaded.GetBit(i), bits.GetBit(i)) << i;

  TVEXBitsArray empty;
  TVEXMemoryStream emptyStream;
  empty.SaveToStream(emptyStream);
  EXPECT_EQ(testing::ContentOf(emptyStream), Bytes({0, 0, 0, 0, 0, 0, 0, 0}));
  emptyStream.Seek(0, rtl::soFromBeginning);
  loaded.LoadFromStream(emptyStream);
  EXPECT_EQ(loaded.Size(), 0);
  EXPECT_EQ(loaded.NonZeroBitCount(), 0);
}

TEST(BitsArray, SetAllBitsStoresNoBitsPastTheCount) {
  TVEXBitsArray bits;
  bits.SetSize(10);
  bits.SetAllBits();
  TVEXMemoryStream stream;
  bits.SaveToStream(stream);
  EXPECT_EQ(testing::ContentOf(stream), Bytes({10, 0, 0, 0, 10, 0, 0, 0, 0xFF, 0x03}));
}

// A damaged stream must not make the counts lie: a wrong set-bit count would
// send GetBitNoByBitPosition past the end of the bitmap, and stray bits past
// the bit count would come back set but uncounted when the bitmap grows.
TEST(BitsArray, LoadingTrustsTheBitmapNotTheStoredCount) {
  TVEXMemoryStream stream;
  std::string damaged = Bytes({10, 0, 0, 0, 9, 0, 0, 0, 0x0A, 0xFD});
  stream.Write(damaged.data(), static_cast<int32_t>(damaged.size()));
  stream.Seek(0, rtl::soFromBeginning);
  TVEXBitsArray bits;
  bits.LoadFromStream(stream);
  EXPECT_EQ(bits.NonZeroBitCount(), 3);  // bits 1, 3 and 8
  EXPECT_THROW(bits.GetBitNoByBitPosition(5), EVEXException);
  bits.SetSize(16);
  EXPECT_EQ(bits.NonZeroBitCount(), 3);
  EXPECT_FALSE(bits.GetBit(10));
}

TEST(BitsArray, StreamShortfallsRaiseTheirCodes) {
  TVEXBitsArray bits;
  bits.SetSize(10);
  bits.SetBit(8, true);
  const std::pair<int64_t, int32_t> writes[] = {{0, 10398}, {4, 10427}, {9, 10400}};
  for (auto [capacity, code] : writes) {
    testing::ShortStream stream({}, capacity);
    try {
      bits.SaveToStream(stream);
      ADD_FAILURE() << code;
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, code);
    }
  }
  {
    testing::ShortStream stream({}, 9);
    try {
      bits.SaveToStream(stream);
    } catch (const EVEXException& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot write to stream. Position = 8, Stream size = 9, Block size = 2, "
                "Bytes Write = 1 - Native error: 10400");
    }
  }

  struct Read {
    std::string content;
    int32_t code;
    std::string message = {};
  };
  const Read reads[] = {
      {Bytes({10, 0}), 10401},
      {Bytes({10, 0, 0, 0, 1, 0}), 10426},
      // the message counts the byte that is there, as the checked read would
      {Bytes({10, 0, 0, 0, 1, 0, 0, 0, 0x01}), 10402,
       "Cannot read from stream. Position = 8, Stream size = 9, Block size = 2, "
       "Bytes Read = 1 - Native error: 10402"},
      {Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}), 10401},  // a negative bit count
      // a damaged count is refused before 256 MiB are allocated for it
      {Bytes({0xF0, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0x01}), 10402},
  };
  for (const auto& [content, code, message] : reads) {
    testing::ShortStream stream(content);
    TVEXBitsArray loaded;
    loaded.SetSize(4);
    loaded.SetBit(2, true);
    try {
      loaded.LoadFromStream(stream);
      ADD_FAILURE() << code;
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, code);
      if (!message.empty()) {
        EXPECT_EQ(std::string(e.what()), message);
      }
    }
    EXPECT_EQ(loaded.Size(), 4) << code;  // a failed load leaves the bitmap as it was
    EXPECT_EQ(loaded.NonZeroBitCount(), 1) << code;
  }
}

TEST(BitBuffer, NumbersBitsFromTheLeastSignificantBitOfEachByte) {
  uint8_t buffer[2] = {0, 0};
  SetBitInBuffer(true, 0, buffer);
  SetBitInBuffer(true, 9, buffer);
  SetBitInBuffer(true, 15, buffer);
  EXPECT_THAT(buffer, ElementsAre(0x01, 0x82));
  EXPECT_TRUE(GetBitFromBuffer(9, buffer));
  EXPECT_FALSE(GetBitFromBuffer(8, buffer));
  SetBitInBuffer(false, 15, buffer);
  EXPECT_THAT(buffer, ElementsAre(0x01, 0x02));
}

}  // namespace
}  // namespace vex
