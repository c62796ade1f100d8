#include <gtest/gtest.h>

#include <cstring>

#include "rtl/Exception.h"
#include "rtl/Stream.h"

namespace {

TEST(RtlStream, MemoryStreamReadsWritesAndSeeks) {
  rtl::TMemoryStream s;
  s.WriteBuffer("hello world", 11);
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Seek(-5, rtl::soFromEnd), 6);
  char buf[16] = {};
  EXPECT_EQ(s.Read(buf, 16), 5);  // short at the end, no exception
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(s.Seek(-11, rtl::soFromCurrent), 0);
  s.SetPosition(13);  // beyond the end: a write fills the gap with zeros
  s.WriteBuffer("!", 1);
  EXPECT_EQ(s.Size(), 14);
  EXPECT_EQ(s.Memory()[11], 0);
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 5);
}

TEST(RtlStream, CheckedTransfersRaiseOnShortfall) {
  rtl::TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 3), rtl::EReadError);
  s.SetPosition(0);
  EXPECT_NO_THROW(s.ReadBuffer(buf, 3));
}

TEST(RtlStream, CopyFromZeroCopiesTheWholeSourceFromItsStart) {
  rtl::TMemoryStream source;
  std::string payload(200000, 'x');
  payload[199999] = 'y';
  source.WriteBuffer(payload.data(), static_cast<int32_t>(payload.size()));
  rtl::TMemoryStream dest;
  EXPECT_EQ(dest.CopyFrom(source, 0), 200000);
  EXPECT_EQ(std::memcmp(dest.Memory(), payload.data(), payload.size()), 0);
  source.SetPosition(199990);
  EXPECT_THROW(dest.CopyFrom(source, 20), rtl::EReadError);
}

}  // namespace
