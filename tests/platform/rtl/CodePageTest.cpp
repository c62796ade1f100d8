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
      // All of 0x80..0x9F; the five undefined codes stand for the C1 controls of
      // the same value, as the platform's own conversion does.
      {"\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90\x91\x92\x93\x94\x95"
       "\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F",
       "\xE2\x82\xAC\xC2\x81\xE2\x80\x9A\xC6\x92\xE2\x80\x9E\xE2\x80\xA6\xE2\x80\xA0\xE2\x80\xA1"
       "\xCB\x86\xE2\x80\xB0\xC5\xA0\xE2\x80\xB9\xC5\x92\xC2\x8D\xC5\xBD\xC2\x8F\xC2\x90\xE2\x80"
       "\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\xA2\xE2\x80\x93\xE2\x80\x94\xCB\x9C\xE2"
       "\x84\xA2\xC5\xA1\xE2\x80\xBA\xC5\x93\xC2\x9D\xC5\xBE\xC5\xB8",
       u"\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u008d\u017d"
       u"\u008f\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\u009d"
       u"\u017e\u0178"},
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
