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
