#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "VEXVariantTestSupport.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXTypesRoutines.h"
#include "rtl/FormatSettings.h"

namespace vex {
namespace {

using test::Payload;
using namespace test::payload;

struct Case {
  const char* name;
  Payload source;
  TVEXBaseFieldType to;
  Payload expected;  // its type is bftUnknown when the conversion must fail
  int32_t code = 0;  // the native error of a failure
};

Payload Fails() { return Payload{bftUnknown, {}}; }

// Runs one conversion and gives the result block's bytes, or the native error.
std::string Convert(const Case& c, int32_t& code) {
  code = 0;
  try {
    int32_t size = -7;
    void* block = ConvertValue(c.source.bytes.data(), c.source.Size(), c.source.type, size, c.to);
    std::string bytes(static_cast<const char*>(block), static_cast<size_t>(size));
    MemoryManager->FreeAndNillMem(block);
    return bytes;
  } catch (const EVEXException& e) {
    code = e.NativeError;
    return std::string();
  }
}

// One row per rule of the conversion matrix: each source kind to each kind of
// target, the failures with their codes and the range rules. Text that depends
// on the locale runs under the fixed settings of TextSettings below.
const std::vector<Case>& MatrixCases() {
  static const std::vector<Case> cases = {
      // 8-bit text
      {"ansi to ansi", Ansi("abc"), bftVarchar, Ansi("abc")},
      {"fixed char keeps text up to terminator", Payload{bftChar, std::string("ab\0\0\0", 5)},
       bftChar, Ansi("ab", bftChar)},
      {"ansi widened", Ansi("\xE9t\xE9"), bftWideVarchar, Wide(u"\u00E9t\u00E9")},
      {"ansi to int8 truncates bits", Ansi("300"), bftSignedInt8, I8(44)},
      {"ansi to int16", Ansi("-2"), bftSignedInt16, I16(-2)},
      {"ansi to int32", Ansi("123456"), bftSignedInt32, I32(123456)},
      {"ansi -1 to cardinal", Ansi("-1"), bftUnsignedInt32, U32(0xFFFFFFFFu)},
      {"ansi beyond 32 bits to cardinal fails", Ansi("4000000000"), bftUnsignedInt32, Fails(),
       30051},
      {"ansi beyond 32 bits to int64", Ansi("4000000000"), bftSignedInt64, I64(4000000000LL)},
      {"ansi not a number", Ansi("12a"), bftSignedInt32, Fails(), 30051},
      {"ansi empty to integer fails", Ansi(""), bftSignedInt32, Fails(), 30051},
      {"ansi to double with a point", Ansi("12.5"), bftDouble, F64(12.5)},
      {"ansi to single", Ansi("0.5"), bftSingle, F32(0.5f)},
      {"ansi to extended", Ansi("1.25"), bftExtended, Ext(1.25L)},
      {"ansi to single beyond its range", Ansi("1e300"), bftSingle, Fails(), 30051},
      {"ansi sql date", Ansi("2016-09-06"), bftDate, Date(736213)},
      {"ansi sql timestamp to date", Ansi("2016-09-06 12:00:00"), bftDate, Date(736213)},
      {"ansi impossible sql date", Ansi("2016-13-01"), bftDate, Fails(), 30051},
      {"ansi sql time", Ansi("12:30:45"), bftTime, Time(45045000)},
      {"ansi sql timestamp", Ansi("2016-09-06 12:00:00"), bftDateTime, DT(736213, 43200000)},
      {"ansi sql date to datetime", Ansi("2016/09/06"), bftDateTime, DT(736213, 0)},
      {"ansi locale date", Ansi("06.09.2016"), bftDate, Date(736213)},
      {"ansi locale time", Ansi("12:30"), bftTime, Time(45000000)},
      {"ansi no date", Ansi("someday"), bftDate, Fails(), 30051},
      {"ansi to blob keeps the terminator", Ansi("ab"), bftBlob, Blob(std::string("ab\0", 3))},
      {"ansi true", Ansi("true"), bftLogical, Logic(true)},
      {"ansi TRUE", Ansi("TRUE"), bftLogical, Logic(true)},
      {"ansi 1", Ansi("1"), bftLogical, Logic(true)},
      {"ansi yes is false", Ansi("yes"), bftLogical, Logic(false)},
      {"ansi currency by the locale separator", Ansi("12,3456"), bftCurrency, Curr(12.3456)},
      // wide text
      {"wide narrowed", Wide(u"x\u00E9"), bftVarchar, Ansi("x\xE9")},
      {"wide copy", Wide(u"abc", bftWideChar), bftWideVarchar, Wide(u"abc")},
      {"wide to integer", Wide(u"42"), bftUnsignedInt16, U16(42)},
      {"wide to double", Wide(u"2.5"), bftDouble, F64(2.5)},
      {"wide sql date is not a literal form", Wide(u"2016-09-06"), bftDate, Fails(), 30051},
      {"wide locale date", Wide(u"06.09.2016"), bftDate, Date(736213)},
      {"wide to blob", Wide(u"a"), bftBlob, Blob(std::string("a\0\0\0", 4))},
      {"wide true", Wide(u"True"), bftLogical, Logic(true)},
      // CLOB: the payload is exactly its size, without terminator
      {"clob to ansi by size", Clob("abcXYZ", 3), bftVarchar, Ansi("abc")},
      {"clob to wide", Clob("ab", 2), bftWideVarchar, Wide(u"ab")},
      {"clob of no bytes is empty", Clob("ab", 0), bftVarchar, Ansi("")},
      {"clob of unknown size up to a terminator", Payload{bftClob, std::string("ab\0", 3), -1},
       bftVarchar, Ansi("ab")},
      {"clob to integer by size", Clob("1299", 2), bftSignedInt32, I32(12)},
      {"clob sql date is not a literal form", Clob("2016-09-06", 10), bftDate, Fails(), 30051},
      {"clob to blob adds the terminator", Clob("ab", 2), bftBlob, Blob(std::string("ab\0", 3))},
      {"clob to clob", Clob("ab", 2), bftClob, Fails(), 30052},
      {"wide clob to ansi by size", WClob(u"abXY", 4), bftVarchar, Ansi("ab")},
      {"wide clob to wide", WClob(u"ab", 4), bftWideVarchar, Wide(u"ab")},
      {"wide clob to double", WClob(u"0.25", 8), bftDouble, F64(0.25)},
      {"wide clob to blob", WClob(u"a", 2), bftBlob, Blob(std::string("a\0\0\0", 4))},
      // integers
      {"int32 to ansi", I32(-17), bftVarchar, Ansi("-17")},
      {"cardinal to ansi is unsigned", U32(4000000000u), bftVarchar, Ansi("4000000000")},
      {"int64 to wide", I64(-5), bftWideChar, Wide(u"-5")},
      {"int32 to int8 cuts", I32(300), bftSignedInt8, I8(44)},
      {"int8 to cardinal sign-extends", I8(-1), bftUnsignedInt32, U32(0xFFFFFFFFu)},
      {"byte to int16 zero-extends", U8(200), bftSignedInt16, I16(200)},
      {"int64 to int32 cuts", I64(0x100000005LL), bftSignedInt32, I32(5)},
      {"int to double", I32(-3), bftDouble, F64(-3.0)},
      {"int to date", I32(736213), bftDate, Date(736213)},
      {"int64 to date keeps low bits", I64(0x1000000002LL), bftDate, Date(2)},
      {"int to time is not reduced", I32(100000000), bftTime, Time(100000000)},
      {"int to datetime", I16(7), bftDateTime, DT(7, 0)},
      {"int to logical", I32(2), bftLogical, Logic(true)},
      {"zero to logical", U8(0), bftLogical, Logic(false)},
      {"int to currency", I32(7), bftCurrency, Curr(7.0)},
      {"int to blob", I32(7), bftBlob, Fails(), 30052},
      {"int to clob", I32(7), bftClob, Fails(), 30052},
      // reals
      {"double to ansi by the locale", F64(12.5), bftVarchar, Ansi("12,5")},
      {"double to ansi in 15 digits", F64(1.0 / 3.0), bftVarchar, Ansi("0,333333333333333")},
      {"double to int truncates", F64(-2.9), bftSignedInt32, I32(-2)},
      {"double to int8 truncates then cuts", F64(300.7), bftSignedInt8, I8(44)},
      {"double beyond 64 bits to int fails", F64(1e19), bftSignedInt64, Fails(), 30051},
      {"double to single rounds", F64(0.1), bftSingle, F32(0.1f)},
      {"double beyond single fails", F64(1e39), bftSingle, Fails(), 30051},
      {"single to extended", F32(0.5f), bftExtended, Ext(0.5L)},
      {"extended to double", Ext(2.25L), bftDouble, F64(2.25)},
      {"double to date truncates", F64(736213.9), bftDate, Date(736213)},
      {"double to time keeps the remainder", F64(86400001.0), bftTime, Time(1)},
      {"negative double to time keeps the sign", F64(-86400001.0), bftTime, Time(-1)},
      {"double to datetime", F64(736213.5), bftDateTime, DT(736213, 43200000)},
      {"double to logical", F64(0.0), bftLogical, Logic(false)},
      {"double to currency", F64(1.23456), bftCurrency, Curr(1.23456)},
      {"double to blob", F64(1.0), bftBlob, Fails(), 30052},
      // dates and times
      {"date to ansi", Date(736213), bftVarchar, Ansi("06.09.2016")},
      {"empty date to ansi", Date(INT32_MIN), bftVarchar, Ansi("")},
      {"empty date to logical", Date(INT32_MIN), bftLogical, Logic(false)},
      {"date to logical", Date(1), bftLogical, Logic(true)},
      {"date to int64", Date(736213), bftSignedInt64, I64(736213)},
      {"date to double", Date(736213), bftDouble, F64(736213.0)},
      {"date to currency", Date(5), bftCurrency, Curr(5.0)},
      {"date to time", Date(86400005), bftTime, Time(5)},
      {"date to datetime", Date(736213), bftDateTime, DT(736213, 0)},
      {"time to ansi", Time(45045000), bftVarchar, Ansi("12:30:45")},
      {"time zero to ansi", Time(0), bftWideVarchar, Wide(u"")},
      {"time to date", Time(5), bftDate, Date(5)},
      {"time to datetime has no date", Time(5), bftDateTime, DT(INT32_MIN, 5)},
      {"time to logical", Time(0), bftLogical, Logic(false)},
      {"time to int", Time(45045000), bftSignedInt32, I32(45045000)},
      {"datetime to ansi", DT(736213, 45045000), bftVarchar, Ansi("06.09.2016 12:30:45")},
      {"empty datetime to ansi", DT(INT32_MIN, 0), bftVarchar, Ansi("")},
      {"datetime to double", DT(736213, 43200000), bftDouble, F64(736213.5)},
      {"datetime without date to double", DT(INT32_MIN, 43200000), bftDouble, F64(0.5)},
      {"datetime to currency rounds to four decimals", DT(1, 1), bftCurrency, Curr(1.0)},
      {"datetime to int", DT(736213, 5), bftSignedInt32, I32(736213)},
      {"datetime to date", DT(736213, 5), bftDate, Date(736213)},
      {"datetime to time", DT(736213, 5), bftTime, Time(5)},
      {"datetime to logical", DT(INT32_MIN, 0), bftLogical, Logic(false)},
      {"datetime to blob", DT(1, 1), bftBlob, Fails(), 30052},
      // logical
      {"logical to ansi", Logic(true), bftVarchar, Ansi("True")},
      {"logical to wide", Logic(false), bftWideVarchar, Wide(u"False")},
      {"logical to int", Logic(true), bftSignedInt64, I64(1)},
      {"any non-zero logical is true", Payload{bftLogical, std::string("\x01\x00", 2)},
       bftSignedInt32, I32(1)},
      {"logical to double", Logic(true), bftDouble, F64(1.0)},
      {"logical to currency", Logic(true), bftCurrency, Fails(), 30052},
      {"logical to date", Logic(true), bftDate, Fails(), 30052},
      // currency
      {"currency to ansi", Curr(12.5), bftVarchar, Ansi("12,5")},
      {"currency to ansi in four decimals", Curr(1.23456), bftVarchar, Ansi("1,2346")},
      {"currency to int truncates", Curr(-7.9), bftSignedInt32, I32(-7)},
      {"currency to double", Curr(1.5), bftDouble, F64(1.5)},
      {"currency to logical", Curr(0.5), bftLogical, Logic(true)},
      {"currency to date", Curr(1.0), bftDate, Fails(), 30052},
      // types without conversions
      {"blob to ansi", Blob("ab"), bftVarchar, Fails(), 30052},
      {"bytes to bytes", Payload{bftBytes, "ab"}, bftBytes, Fails(), 30052},
      {"unknown to int", Payload{bftUnknown, "ab"}, bftSignedInt32, Fails(), 30052},
  };
  return cases;
}

class ConvertValueTest : public ::testing::Test {
 protected:
  rtl::ScopedFormatSettings settings_{test::CommaSettings()};
};

TEST_F(ConvertValueTest, ConvertsOverTheWholeMatrix) {
  for (const Case& c : MatrixCases()) {
    SCOPED_TRACE(c.name);
    int32_t code = 0;
    const std::string bytes = Convert(c, code);
    if (c.expected.type == bftUnknown) {
      EXPECT_EQ(code, c.code);
    } else {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(test::Hex(bytes), test::Hex(c.expected.bytes));
    }
  }
}

// Which pairs have a conversion at all: every other pair raises 30052.
TEST_F(ConvertValueTest, PairsWithoutConversionRaiseCannotCast) {
  const std::set<int> text = {1, 2, 3, 4};
  const std::set<int> numbers = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  auto join = [](std::initializer_list<std::set<int>> parts) {
    std::set<int> all;
    for (const auto& p : parts) all.insert(p.begin(), p.end());
    return all;
  };
  const std::set<int> fromText = join({text, numbers, {15, 16, 17, 18, 21, 22}});
  const std::set<int> fromNumber = join({text, numbers, {15, 16, 17, 21, 22}});
  const std::set<int> fromLogical = join({text, numbers, {21}});
  const std::set<int> fromCurrency = join({text, numbers, {21, 22}});
  for (int from = 0; from <= 25; ++from) {
    std::set<int> listed;
    if (text.count(from) || from == 19 || from == 20) listed = fromText;
    if (numbers.count(from) || (from >= 15 && from <= 17)) listed = fromNumber;
    if (from == 21) listed = fromLogical;
    if (from == 22) listed = fromCurrency;
    for (int to = 0; to <= 25; ++to) {
      // A payload that every listed pair can read without failing.
      const std::string zeros(16, '\0');
      const char* source = from == 19 || from == 20 ? "1\0\0\0" : "1\0\0\0\0\0\0\0\0\0\0\0";
      int32_t code = 0;
      try {
        void* block =
            ConvertValue(from == 15 || from == 17 ? zeros.data() : source,
                         from == 19 ? 1 : (from == 20 ? 2 : -1),
                         static_cast<TVEXBaseFieldType>(from), static_cast<TVEXBaseFieldType>(to));
        MemoryManager->FreeAndNillMem(block);
      } catch (const EVEXException& e) {
        code = e.NativeError;
      }
      SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
      EXPECT_EQ(code == 30052, listed.count(to) == 0);
    }
  }
}

TEST_F(ConvertValueTest, CastFailureNamesBothSqlTypes) {
  try {
    ConvertValue("x", -1, bftVarchar, bftSignedInt32);
    FAIL();
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30051);
    EXPECT_STREQ(e.what(), "Cannot cast from 'STRING' to 'INTEGER' - Native error: 30051");
  }
  try {
    ConvertValue("x", -1, bftBlob, bftDouble);
    FAIL();
  } catch (const EVEXException& e) {
    EXPECT_STREQ(e.what(), "Cannot cast from 'BLOB' to 'FLOAT' - Native error: 30052");
  }
}

// Reals in engine text are read with '.', whatever the locale; everything else
// (reals written as text, money both ways) follows the locale's separator.
TEST(ConvertValueNumberText, FollowsTheLocaleExceptWhenReadingReals) {
  struct Row {
    const char* name;
    Payload source;
    TVEXBaseFieldType to;
    Payload pointLocale;
    Payload commaLocale;
  };
  const Row rows[] = {
      {"real text", Ansi("12.5"), bftDouble, F64(12.5), F64(12.5)},
      {"real to text", F64(12.5), bftVarchar, Ansi("12.5"), Ansi("12,5")},
      {"real to wide text", F64(-0.25), bftWideVarchar, Wide(u"-0.25"), Wide(u"-0,25")},
      {"money to text", Curr(12.5), bftVarchar, Ansi("12.5"), Ansi("12,5")},
  };
  rtl::TFormatSettings point = test::CommaSettings();
  point.DecimalSeparator = '.';
  point.ThousandSeparator = ',';
  for (const rtl::TFormatSettings& fs : {point, test::CommaSettings()}) {
    rtl::ScopedFormatSettings scoped(fs);
    const bool comma = fs.DecimalSeparator == ',';
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (comma ? " under ','" : " under '.'"));
      int32_t code = 0;
      const std::string bytes = Convert({row.name, row.source, row.to, {}}, code);
      EXPECT_EQ(code, 0);
      EXPECT_EQ(test::Hex(bytes), test::Hex((comma ? row.commaLocale : row.pointLocale).bytes));
    }
    // Money text is read with the locale's separator, real text only with '.'.
    int32_t code = 0;
    const std::string money =
        Convert({"money", Ansi(comma ? "12,5" : "12.5"), bftCurrency, {}}, code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(test::Hex(money), test::Hex(Curr(12.5).bytes));
    Convert({"comma real", Ansi("12,5"), bftDouble, {}}, code);
    EXPECT_EQ(code, 30051);
    EXPECT_EQ(rtl::FormatSettings().DecimalSeparator, fs.DecimalSeparator);
  }
}

}  // namespace
}  // namespace vex
