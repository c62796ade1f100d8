#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "rtl/CodePage.h"
#include "text/Text.h"

namespace {

using text::Order;

struct CompareCase {
  std::u16string left;
  std::u16string right;
  bool ignoreCase;
  Order expected;
};

const CompareCase kCases[] = {
    {u"abc", u"abd", false, Order::Less},
    {u"abc", u"ABC", false, Order::Less},  // lower case first when case counts
    {u"abc", u"ABC", true, Order::Equal},
    {u"ab", u"abc", false, Order::Less},
    {u"", u"", false, Order::Equal},
    {u"", u"a", true, Order::Less},
    {u"resume", u"r\u00e9sum\u00e9", true, Order::Less},  // accents count even without case
    {u"R\u00c9SUM\u00c9", u"r\u00e9sum\u00e9", true, Order::Equal},
    {u"\u00e9", u"e\u0301", false, Order::Equal},  // precomposed and combining accent
    {u"co-op", u"coop", false, Order::Less},       // string sort: the hyphen is not ignored
    {u"co-op", u"coop", true, Order::Less},
    {u"a b", u"ab", false, Order::Less},
    {u"!", u"0", false, Order::Less},  // symbols, then digits, then letters
    {u"9", u"a", false, Order::Less},
    {u"10", u"9", false, Order::Less},  // character by character, not by number
    {u"\u00c4rger", u"Zorn", false, Order::Less},
};

TEST(TextCompare, TableOfWideComparisons) {
  for (const CompareCase& c : kCases) {
    SCOPED_TRACE(rtl::Utf16ToUtf8(c.left) + " vs " + rtl::Utf16ToUtf8(c.right));
    EXPECT_EQ(text::CompareWide(c.left, c.right, c.ignoreCase), c.expected);
    auto reversed = static_cast<Order>(-static_cast<int>(c.expected));
    EXPECT_EQ(text::CompareWide(c.right, c.left, c.ignoreCase), reversed);
  }
}

TEST(TextCompare, EightBitTextComparesAsItsWideForm) {
  // Windows-1252 bytes: 0xE9 e-acute, 0xC9 E-acute, 0x8A S-caron, 0x9A s-caron, 0x80 euro sign.
  const std::string samples[] = {"abc",
                                 "ABC",
                                 "\xE9t\xE9",
                                 "\xC9T\xC9",
                                 "ete",
                                 "\x8A"
                                 "ek",
                                 "\x9A"
                                 "ek",
                                 "Sek",
                                 "\x80"
                                 "5",
                                 "co-op",
                                 "coop",
                                 ""};
  for (const std::string& a : samples) {
    for (const std::string& b : samples) {
      for (bool ignoreCase : {false, true}) {
        EXPECT_EQ(text::CompareAnsi(a, b, ignoreCase),
                  text::CompareWide(rtl::Win1252ToUtf16(a), rtl::Win1252ToUtf16(b), ignoreCase))
            << a << " vs " << b;
      }
    }
  }
  EXPECT_EQ(text::CompareAnsi("\xE9t\xE9", "\xC9T\xC9", true), Order::Equal);
  EXPECT_EQ(text::CompareAnsi("\x9A"
                              "ek",
                              "Sek", true),
            Order::Greater);
  EXPECT_EQ(text::CompareWide(rtl::Win1252ToUtf16("\x80"), u"\u20ac", false), Order::Equal);
}

TEST(TextCompare, ExplicitLengthsStopAtTheCountOrTheTerminator) {
  const char16_t shortText[] = {u'a', u'b', 0, u'z', u'z'};  // "ab", then bytes beyond it
  EXPECT_EQ(text::CompareWide(u"abcdef", 3, u"abcxyz", 3, false), Order::Equal);
  EXPECT_EQ(text::CompareWide(u"abcdef", 4, u"abcxyz", 4, false), Order::Less);
  EXPECT_EQ(text::CompareWide(shortText, 5, u"ab", -1, false), Order::Equal);
  EXPECT_EQ(text::CompareWide(u"abc", 0, u"a", -1, false), Order::Less);
  EXPECT_EQ(text::CompareWide(nullptr, -1, u"", -1, false), Order::Equal);
  const char shortAnsi[] = {'A', 'B', 0, 'z'};
  EXPECT_EQ(text::CompareAnsi(shortAnsi, 4, "ab", -1, true), Order::Equal);
  EXPECT_EQ(text::CompareAnsi("abcdef", 2, "abz", 2, false), Order::Equal);
}

TEST(TextCompare, TheCollationLocaleIsASetting) {
  ASSERT_EQ(text::CollationLocale(), "root");
  EXPECT_EQ(text::CompareWide(u"\u00e4", u"z", false), Order::Less);
  text::SetCollationLocale("sv");
  EXPECT_EQ(text::CompareWide(u"\u00e4", u"z", false), Order::Greater);  // Swedish puts ä after z
  std::thread([] { EXPECT_EQ(text::CompareWide(u"\u00e4", u"z", false), Order::Greater); }).join();
  text::SetCollationLocale("");
  EXPECT_EQ(text::CollationLocale(), "root");
  EXPECT_EQ(text::CompareWide(u"\u00e4", u"z", false), Order::Less);
}

TEST(TextCompare, ManyThreadsCompareAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        for (const CompareCase& c : kCases) {
          if (text::CompareWide(c.left, c.right, c.ignoreCase) != c.expected) ++wrong;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(TextCase, WideCasingIsPerCodePointAndKeepsTheLength) {
  struct Case {
    std::u16string in, upper, lower;
  } cases[] = {
      {u"Stra\u00dfe", u"STRA\u00dfE", u"stra\u00dfe"},  // ß has no single upper-case letter
      {u"\u00c0\u00e9\u00ce", u"\u00c0\u00c9\u00ce", u"\u00e0\u00e9\u00ee"},
      {u"\u0131i", u"II", u"\u0131i"},                         // dotless i
      {u"\U00010428x", u"\U00010400X", u"\U00010428x"},        // a letter beyond the BMP
      {u"\xD800q\xDC00", u"\xD800Q\xDC00", u"\xD800q\xDC00"},  // lone surrogates stay
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text::UpperCase(c.in), c.upper);
    EXPECT_EQ(text::LowerCase(c.in), c.lower);
  }
  std::u16string buffer = u"abc";
  text::UpperCaseInPlace(std::span<char16_t>(buffer).first(2));
  EXPECT_EQ(buffer, u"ABc");
}

TEST(TextStep, NextCharIndexStepsOverSurrogatePairs) {
  const std::u16string s = u"a\U00010400b\xD800";
  EXPECT_EQ(text::NextCharIndex(s, 0), 1u);
  EXPECT_EQ(text::NextCharIndex(s, 1), 3u);
  EXPECT_EQ(text::NextCharIndex(s, 3), 4u);
  EXPECT_EQ(text::NextCharIndex(s, 4), 5u);  // a lone lead surrogate is one character
  EXPECT_EQ(text::NextCharIndex(s, 5), 5u);
  EXPECT_EQ(text::NextCharIndex(s, 99), 5u);
}

}  // namespace
