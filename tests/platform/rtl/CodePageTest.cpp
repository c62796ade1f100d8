#include <gtest/gtest.h>

#include "rtl/CodePage.h"

namespace {

TEST(RtlCodePage, AccentedLettersAndTheHighRangeMapBothWays) {
  struct Case {
    const char* win1252;
    const char* utf8;
    std::u16string utf16;
  } cases[] = {
      {"Caf\xE9 cr\xE8me", "Caf\xC3\xA9 cr\xC3\xA8me", u"Caf\u00e9 cr\u00e8me"},
      {"\x80 5", "\xE2\x82\xAC 5", u"\u20ac 5"},
      {"\x8A\x9A\x8C\x9C\x9F", "\xC5\xA0\xC5\xA1\xC5\x92\xC5\x93\xC5\xB8",
       u"\u0160\u0161\u0152\u0153\u0178"},
      {"\x93quoted\x94", "\xE2\x80\x9Cquoted\xE2\x80\x9D", u"\u201cquoted\u201d"},
      {"\xFF\xDF\xA0", "\xC3\xBF\xC3\x9F\xC2\xA0", u"\u00ff\u00df\u00a0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::Win1252ToUtf8(c.win1252), c.utf8);
    EXPECT_EQ(rtl::Win1252ToUtf16(c.win1252), c.utf16);
    bool lossy = false;
    EXPECT_EQ(rtl::Utf8ToWin1252(c.utf8, &lossy), c.win1252);
    EXPECT_EQ(rtl::Utf16ToWin1252(c.utf16, &lossy), c.win1252);
    EXPECT_FALSE(lossy);
  }
}

TEST(RtlCodePage, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(rtl::Utf8ToWin1252(rtl::Win1252ToUtf8(all)), all);
  EXPECT_EQ(rtl::Utf16ToWin1252(rtl::Win1252ToUtf16(all)), all);
}

TEST(RtlCodePage, UnmappableTextBecomesQuestionMarksAndSaysSo) {
  bool lossy = false;
  EXPECT_EQ(rtl::Utf16ToWin1252(u"a\u0416b", &lossy), "a?b");  // Cyrillic
  EXPECT_TRUE(lossy);
  lossy = false;
  EXPECT_EQ(rtl::Utf16ToWin1252(u"\U0001F600", &lossy), "?");  // one character, one '?'
  EXPECT_TRUE(lossy);
  lossy = false;
  EXPECT_EQ(rtl::Utf8ToWin1252("x\xC3(\xFF", &lossy), "x?(?");  // malformed UTF-8
  EXPECT_TRUE(lossy);
}

TEST(RtlCodePage, AnsiCaseMapsAccentedLettersButAsciiCaseDoesNot) {
  EXPECT_EQ(rtl::AnsiUpperCase("\xE9t\xE9 \x9A\x9C\xFF \xDF \xF7"),
            "\xC9T\xC9 \x8A\x8C\x9F \xDF \xF7");
  EXPECT_EQ(rtl::AnsiLowerCase("\xC9T\xC9 \x8A\x8C\x9F \xD7"), "\xE9t\xE9 \x9A\x9C\xFF \xD7");
  EXPECT_EQ(rtl::UpperCase("\xE9t\xE9"), "\xE9T\xE9");
  EXPECT_EQ(rtl::LowerCase("\xC9T\xC9"), "\xC9t\xC9");
}

}  // namespace
