#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VEXVariantTestSupport.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXValueCompare.h"
#include "foundation/VEXVariant.h"
#include "foundation/VEXWideText.h"

namespace vex {
namespace {

using test::Payload;
using namespace test::payload;

const char* Name(TVEXCompareResult r) {
  static const char* const names[] = {"Equal",    "Lower",     "Greater",
                                      "LeftNull", "RightNull", "BothNull"};
  return names[r];
}

// Compares two payloads as a caller that knows their sizes does; a failure
// comes back as its native error.
std::string Compare(const Payload& left, const Payload& right, bool caseInsensitive = false,
                    int32_t maxLength = -1) {
  try {
    return Name(CompareValues(left.bytes.data(), right.bytes.data(), left.type, right.type, false,
                              false, maxLength, caseInsensitive, LOCALE_USER_DEFAULT, left.Size(),
                              right.Size()));
  } catch (const EVEXException& e) {
    return "!" + std::to_string(e.NativeError);
  }
}

struct Case {
  const char* name;
  Payload left;
  Payload right;
  const char* expected;
};

TEST(CompareValues, OrdersEachTypeClassAndConvertsMixedPairsToTheirComparisonType) {
  const double nan = std::nan("");
  const Case cases[] = {
      // Text by the locale's string sort, not by bytes.
      {"ansi", Ansi("apple"), Ansi("banana"), "Lower"},
      {"ansi locale order", Ansi("a"), Ansi("B"), "Lower"},
      {"ansi equal", Ansi("abc"), Ansi("abc"), "Equal"},
      {"fixed char with varchar", Ansi("abc", bftChar), Ansi("abc"), "Equal"},
      {"wide", Wide(u"\u00E9t\u00E9"), Wide(u"ete"), "Greater"},
      {"ansi with wide compares wide", Ansi("abc"), Wide(u"abd"), "Lower"},
      {"clob is its size, not up to a terminator", Clob("abcX", 3), Clob("abcY", 3), "Equal"},
      {"clob with text", Clob("abd", 3), Ansi("abc"), "Greater"},
      {"wide clob", WClob(u"ab", 4), Wide(u"ab"), "Equal"},
      // A number met by a text is compared as text: "10" sorts before "9".
      {"integer with text compares as text", I32(10), Ansi("9"), "Lower"},
      {"integer equal to its text", I32(5), Ansi("5"), "Equal"},
      // A date met by a text is compared as a date.
      {"date with sql date text", Date(736213), Ansi("2016-09-06"), "Equal"},
      {"date with later text", Date(736213), Ansi("2016-09-07"), "Lower"},
      {"date with text that is no date", Date(736213), Ansi("soon"), "!30051"},
      // Numbers by value in the common type.
      {"int8 with uint8", I8(-1), U8(255), "Lower"},
      {"cardinal above every integer", U32(0xFFFFFFFFu), I32(-1), "Greater"},
      {"int64", I64(INT64_MIN), I64(INT64_MAX), "Lower"},
      {"unsigned 16 in its own order", U16(0x8000), U16(1), "Greater"},
      {"single with currency", F32(1.5f), Curr(1.5), "Equal"},
      {"double with integer", F64(2.5), I32(2), "Greater"},
      {"extended", Ext(1.0L / 3), Ext(0.3333L), "Greater"},
      {"nan equals anything", F64(nan), F64(1.0), "Equal"},
      {"currency", Curr(-0.01), Curr(0.0), "Lower"},
      // Dates, times and date-times.
      {"date", Date(-5), Date(3), "Lower"},
      {"time", Time(1000), Time(999), "Greater"},
      {"date-time by date first", DT(10, 0), DT(9, 86399999), "Greater"},
      {"date-time then by time", DT(10, 5), DT(10, 6), "Lower"},
      {"date with date-time", Date(10), DT(10, 1), "Lower"},
      {"time without a date before any day", Time(5), Date(1), "Lower"},
      // Flags: false before true, every true alike.
      {"false before true", Logic(false), Logic(true), "Lower"},
      {"any two true values", Of(bftLogical, uint16_t{1}), Of(bftLogical, uint16_t{0xFFFF}),
       "Equal"},
      {"flag with integer", Logic(true), I32(0), "Greater"},
  };
  for (const Case& c : cases) EXPECT_EQ(Compare(c.left, c.right), c.expected) << c.name;
}

TEST(CompareValues, IgnoresCaseOnlyWhenAsked) {
  EXPECT_EQ(Compare(Ansi("abc"), Ansi("ABC"), true), "Equal");
  EXPECT_NE(Compare(Ansi("abc"), Ansi("ABC"), false), "Equal");
  EXPECT_EQ(Compare(Wide(u"\u00E9T\u00C9"), Wide(u"\u00C9t\u00E9"), true), "Equal");
  EXPECT_NE(Compare(Wide(u"\u00E9T\u00C9"), Wide(u"\u00C9t\u00E9"), false), "Equal");
  // Accents still count.
  EXPECT_EQ(Compare(Ansi("\xE9"), Ansi("E"), true), "Greater");
}

TEST(CompareValues, ReportsNullsBeforeLookingAtTypesOrData) {
  const int32_t five = 5;
  struct NullCase {
    bool leftNull, rightNull;
    TVEXCompareResult expected;
    int32_t asInteger;
  };
  const NullCase cases[] = {
      {true, true, cmprBothNull, 0},
      {true, false, cmprLeftNull, -1},
      {false, true, cmprRightNull, 1},
  };
  for (const NullCase& c : cases) {
    // A BLOB with an integer would be refused, and the null side has no data.
    const void* left = c.leftNull ? nullptr : &five;
    const void* right = c.rightNull ? nullptr : &five;
    const auto leftType = c.leftNull ? bftBlob : bftSignedInt32;
    const auto rightType = c.rightNull ? bftBlob : bftSignedInt32;
    EXPECT_EQ(CompareValues(left, right, leftType, rightType, c.leftNull, c.rightNull, -1, false),
              c.expected);
    EXPECT_EQ(CompareValuesAsInteger(left, right, leftType, rightType, c.leftNull, c.rightNull, -1,
                                     false),
              c.asInteger);
  }
  const int32_t one = 1, two = 2;
  EXPECT_EQ(
      CompareValuesAsInteger(&one, &two, bftSignedInt32, bftSignedInt32, false, false, -1, false),
      -1);
  EXPECT_EQ(
      CompareValuesAsInteger(&two, &one, bftSignedInt32, bftSignedInt32, false, false, -1, false),
      1);
  EXPECT_EQ(
      CompareValuesAsInteger(&two, &two, bftSignedInt32, bftSignedInt32, false, false, -1, false),
      0);
}

std::string Message(const std::function<void()>& call, int32_t& code) {
  try {
    call();
  } catch (const EVEXException& e) {
    code = e.NativeError;
    return e.what();
  }
  code = 0;
  return "no error";
}

TEST(CompareValues, RefusesPairsWithoutAnOrder) {
  const int32_t five = 5;
  const char blob[] = "ab";
  int32_t code = 0;
  EXPECT_EQ(
      Message([&] { CompareValues(blob, &five, bftBlob, bftSignedInt32, false, false, -1, false); },
              code),
      "Cannot compare Incompatible DataTypes: 'BLOB' and 'INTEGER' - Native error: 30044");
  EXPECT_EQ(code, 30044);
  EXPECT_EQ(
      Message([&] { CompareValues(&five, &five, bftDate, bftLogical, false, false, -1, false); },
              code),
      "Cannot compare Incompatible DataTypes: 'DATE' and 'LOGICAL' - Native error: 30044");
  // Two BLOBs share a type but have no order.
  EXPECT_EQ(
      Message([&] { CompareValues(blob, blob, bftBlob, bftBlob, false, false, -1, false); }, code),
      "Unknown DataType: 'BLOB' - Native error: 30047");
  // A side that is not null must have data.
  Message(
      [&] {
        CompareValues(&five, nullptr, bftSignedInt32, bftSignedInt32, false, false, -1, false);
      },
      code);
  EXPECT_EQ(code, 30140);
}

uint32_t gWideLocale = 0;

TEST(CompareValues, ReportsAFailedWideComparison) {
  TVEXTextFunctions failing = BoundTextFunctions();
  failing.CompareStringW = [](uint32_t locale, uint32_t, const char16_t*, int32_t, const char16_t*,
                              int32_t) {
    gWideLocale = locale;
    return int32_t{0};
  };
  const TVEXTextFunctions previous = ReplaceBoundTextFunctions(failing);
  int32_t code = 0;
  const Payload a = Wide(u"a");
  const std::string message = Message(
      [&] {
        CompareValues(a.bytes.data(), a.bytes.data(), bftWideVarchar, bftWideVarchar, false, false,
                      -1, false, 0x0409);
      },
      code);
  ReplaceBoundTextFunctions(previous);
  EXPECT_EQ(code, 30046);
  // Wide text compares in the user's default locale, not the caller's.
  EXPECT_EQ(gWideLocale, LOCALE_USER_DEFAULT);
  EXPECT_EQ(message,
            "Unicode is not supported by your version of  Windows. Please download the Microsoft "
            "Layer for Unicode on Windows 95/98/Me Systems from http://www.microsoft.com/downloads "
            "and put \"unicows.dll\" file to the folder with your application - Native error: "
            "30046");
}

// Byte values carry no terminator; each side is read only as far as its own
// payload goes, whatever the other side's length. The operands sit in blocks of
// exactly their size, so a read past either end is caught.
TEST(CompareValues, ReadsEachOperandOnlyWithinItsOwnPayload) {
  auto block = [](std::string_view bytes) {
    auto p = std::make_unique<char[]>(bytes.size());
    std::memcpy(p.get(), bytes.data(), bytes.size());
    return p;
  };
  const auto shortBytes = block("ab");
  const auto longBytes = block("abcd");
  EXPECT_EQ(CompareValues(shortBytes.get(), longBytes.get(), bftBytes, bftBytes, false, false, -1,
                          false, LOCALE_USER_DEFAULT, 2, 4),
            cmprLower);
  EXPECT_EQ(CompareValues(longBytes.get(), shortBytes.get(), bftBytes, bftBytes, false, false, 4,
                          false, LOCALE_USER_DEFAULT, 4, 2),
            cmprGreater);
  EXPECT_EQ(CompareValues(longBytes.get(), shortBytes.get(), bftBytes, bftBytes, false, false, 2,
                          false, LOCALE_USER_DEFAULT, 4, 2),
            cmprEqual);
  // A CLOB has no terminator either: its text is its size.
  const auto clob = block("abc");
  const auto text = block(std::string_view("abd", 4));
  EXPECT_EQ(CompareValues(clob.get(), text.get(), bftClob, bftVarchar, false, false, -1, false,
                          LOCALE_USER_DEFAULT, 3, 4),
            cmprLower);
}

// Texts shorter and longer than a comparison keeps on the stack, wide ones
// also at an odd address: the last character still decides, accents and case
// count as for short texts.
TEST(CompareValues, LongTextsCompareToTheirLastCharacter) {
  for (size_t length : {1u, 127u, 128u, 129u, 255u, 256u, 257u, 1000u}) {
    const std::string head(length - 1, 'x');
    EXPECT_EQ(Compare(Ansi(head + "a"), Ansi(head + "b")), "Lower") << length;
    EXPECT_EQ(Compare(Ansi(head + "\xE9"), Ansi(head + "e")), "Greater") << length;
    EXPECT_EQ(Compare(Ansi(head + "\xC9"), Ansi(head + "\xE9"), true), "Equal") << length;

    const std::u16string wideHead(length - 1, u'x');
    std::vector<unsigned char> left(1 + length * 2 + 2, 0);
    std::vector<unsigned char> right(left);
    const std::u16string leftText = wideHead + u"\u00C9";
    const std::u16string rightText = wideHead + u"\u00E9";
    std::memcpy(left.data() + 1, leftText.data(), length * 2);
    std::memcpy(right.data() + 1, rightText.data(), length * 2);
    EXPECT_EQ(CompareValues(left.data() + 1, right.data() + 1, bftWideVarchar, bftWideVarchar,
                            false, false, -1, true),
              cmprEqual)
        << length;
    EXPECT_EQ(CompareValues(left.data() + 1, right.data() + 1, bftWideVarchar, bftWideVarchar,
                            false, false, -1, false),
              cmprGreater)
        << length;
    // Only the characters before the last take part.
    EXPECT_EQ(CompareValues(left.data() + 1, right.data() + 1, bftWideVarchar, bftWideVarchar,
                            false, false, static_cast<int32_t>(length - 1), false),
              cmprEqual)
        << length;
  }
}

// ---- the value's Compare ----

void Set(TVEXVariant& v, const Payload& p) { v.SetData(p.bytes.data(), p.Size(), p.type, true); }

TEST(TVEXVariantCompare, PartialKeyComparesAsManyCharactersAsTheRightValueHas) {
  struct Row {
    Payload left, right;
    TVEXCompareResult expected;
  };
  const Row rows[] = {
      {Ansi("abc"), Ansi("ab"), cmprEqual},
      {Ansi("abd"), Ansi("abc"), cmprGreater},
      // A left value shorter than the key is bounded by its own payload.
      {Ansi("a"), Ansi("abcdef"), cmprLower},
      {Ansi("ab"), Ansi("ab"), cmprEqual},
      {Wide(u"abc"), Wide(u"AB"), cmprEqual},
      {Wide(u"a"), Wide(u"abc"), cmprLower},
  };
  // Case is ignored, as an index on a case-insensitive key does.
  for (const Row& row : rows) {
    TVEXVariant left, right;
    Set(left, row.left);
    Set(right, row.right);
    EXPECT_EQ(left.Compare(right, false, true, true), row.expected)
        << left.AsAnsiString() << " / " << right.AsAnsiString();
  }
  TVEXVariant abc, ab;
  abc.SetAsAnsiString("abc");
  ab.SetAsAnsiString("ab");
  EXPECT_EQ(abc.Compare(ab, false, false, false), cmprGreater);
}

TEST(TVEXVariantCompare, MapsNullsToOrdinaryResultsWithoutNullLogic) {
  TVEXVariant null(bftSignedInt32), one, otherNull(bftVarchar);
  one.SetAsInteger(1);
  struct Row {
    const TVEXVariant& left;
    const TVEXVariant& right;
    TVEXCompareResult withLogic, withoutLogic;
  };
  const Row rows[] = {
      {null, one, cmprLeftNull, cmprLower},
      {one, null, cmprRightNull, cmprGreater},
      {null, otherNull, cmprBothNull, cmprEqual},
      {one, one, cmprEqual, cmprEqual},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.left.Compare(row.right, true, false, false), row.withLogic);
    EXPECT_EQ(row.left.Compare(row.right, false, false, false), row.withoutLogic);
  }
}

TEST(TVEXVariantCompare, ConvertsWithoutChangingEitherValueAndReleasesItsTemporaries) {
  TVEXVariant date, text, bad;
  date.SetAsVEXDate(736213);
  text.SetAsAnsiString("2016-09-06");
  bad.SetAsAnsiString("later");
  const int64_t before = MemoryManager->TotalMemAllocated();
  EXPECT_EQ(date.Compare(text, true, false, false), cmprEqual);
  EXPECT_THROW(date.Compare(bad, true, false, false), EVEXException);
  EXPECT_EQ(MemoryManager->TotalMemAllocated(), before);
  EXPECT_EQ(date.DataType(), bftDate);
  EXPECT_EQ(text.DataType(), bftVarchar);
  EXPECT_EQ(text.AsAnsiString(), "2016-09-06");
}

}  // namespace
}  // namespace vex
