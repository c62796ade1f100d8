#include <gtest/gtest.h>

#include "rtl/Exception.h"

TEST(RtlException, CarriesItsMessageThroughStdException) {
  try {
    throw rtl::Exception("Disk full");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Disk full");
    auto* rtlError = dynamic_cast<const rtl::Exception*>(&e);
    ASSERT_NE(rtlError, nullptr);
    EXPECT_EQ(rtlError->Message(), "Disk full");
  }
}

TEST(RtlException, PlatformKindsAreCaughtAsTheirBases) {
  auto raise = [](int kind) {
    switch (kind) {
      case 0:
        throw rtl::EStringListError("list");
      case 1:
        throw rtl::EDivByZero("div");
      case 2:
        throw rtl::EWriteError("write");
      default:
        throw rtl::EOSError("os", 28);
    }
  };
  EXPECT_THROW(raise(0), rtl::EListError);
  EXPECT_THROW(raise(1), rtl::EIntError);
  EXPECT_THROW(raise(2), rtl::EStreamError);
  try {
    raise(3);
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "os");
    EXPECT_EQ(dynamic_cast<const rtl::EOSError&>(e).ErrorCode, 28);
  }
}
