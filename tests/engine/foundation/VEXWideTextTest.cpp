#include <gtest/gtest.h>

#include <string>

#include "foundation/VEXWideText.h"

namespace vex {
namespace {

TEST(WideText, CasesACopyKeepingItsLength) {
  struct Row {
    std::u16string text, upper, lower;
  };
  const Row rows[] = {
      {u"", u"", u""},
      {u"Stra\u00dfe 12", u"STRA\u00dfE 12", u"stra\u00dfe 12"},
      {u"\u00c9t\u00e9 \u0416\u0436", u"\u00c9T\u00c9 \u0416\u0416", u"\u00e9t\u00e9 \u0436\u0436"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(UpperCaseWideText(row.text), row.upper);
    EXPECT_EQ(LowerCaseWideText(row.text), row.lower);
  }
}

TEST(WideText, BoundComparisonGivesThePlatformsResultCodes) {
  const auto compare = BoundTextFunctions().CompareStringW;
  EXPECT_EQ(compare(LOCALE_USER_DEFAULT, SORT_STRINGSORT, u"a", -1, u"b", -1), 1);
  EXPECT_EQ(compare(LOCALE_USER_DEFAULT, SORT_STRINGSORT, u"abc", 2, u"abd", 2), 2);
  EXPECT_EQ(compare(LOCALE_USER_DEFAULT, SORT_STRINGSORT, u"b", -1, u"A", -1), 3);
  EXPECT_EQ(compare(LOCALE_USER_DEFAULT, SORT_STRINGSORT | NORM_IGNORECASE, u"ABC", -1, u"abc", -1),
            2);
  EXPECT_NE(compare(LOCALE_USER_DEFAULT, SORT_STRINGSORT, u"ABC", -1, u"abc", -1), 2);
}

}  // namespace
}  // namespace vex
