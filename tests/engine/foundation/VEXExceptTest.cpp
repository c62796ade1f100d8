#include <gtest/gtest.h>

#include <string>

#include "foundation/VEXExcept.h"

namespace vex {
namespace {

TEST(VEXExceptionTest, MessageEndsWithCodeRightAlignedInFiveColumns) {
  struct Case {
    int32_t code;
    const char* expected;
  };
  const Case cases[] = {
      {30016, "Value is Null - Native error: 30016"},
      {2011, "Value is Null - Native error:  2011"},
      {7, "Value is Null - Native error:     7"},
      {123456, "Value is Null - Native error: 123456"},
      {-1, "Value is Null - Native error:    -1"},
  };
  for (const Case& c : cases) {
    const EVEXException e(c.code, "Value is Null");
    EXPECT_EQ(e.NativeError, c.code);
    EXPECT_STREQ(e.what(), c.expected);
  }
}

TEST(VEXExceptionTest, FormatsTextWithArguments) {
  const EVEXException e(30004, "Memory limit exceeded (Limit = %d bytes)", int64_t{1000});
  EXPECT_EQ(e.Message(), "Memory limit exceeded (Limit = 1000 bytes) - Native error: 30004");

  const EVEXException text(30289, "Unknown DataType: '%s'", std::string("12"));
  EXPECT_EQ(text.Message(), "Unknown DataType: '12' - Native error: 30289");
}

TEST(VEXExceptionTest, ArgumentsThatDoNotFitTheFormatKeepTheRawText) {
  const EVEXException missing(30050, "Field '%s' not found", {});
  EXPECT_EQ(missing.Message(), "Field '%s' not found Arguments are invalid! - Native error: 30050");
  EXPECT_EQ(missing.NativeError, 30050);

  const EVEXException wrongKind(30050, "Field no %d", "abc");
  EXPECT_EQ(wrongKind.Message(), "Field no %d Arguments are invalid! - Native error: 30050");
}

TEST(VEXExceptionTest, IsCaughtAsThePlatformException) {
  try {
    throw EVEXException(30001, "Invalid pointer");
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid pointer - Native error: 30001");
  }
}

}  // namespace
}  // namespace vex
