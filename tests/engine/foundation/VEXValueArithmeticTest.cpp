#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "VEXVariantTestSupport.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXVariant.h"
#include "rtl/Exception.h"

namespace vex {
namespace {

using test::Hex;
using test::Payload;
using namespace test::payload;

// A null operand of a type: no payload.
Payload Null(TVEXBaseFieldType type) { return Payload{type, {}, -9}; }
bool IsNullPayload(const Payload& p) { return p.size == -9; }

void Set(TVEXVariant& v, const Payload& p) {
  if (IsNullPayload(p)) {
    v.Clear(p.type);
  } else {
    v.SetData(p.bytes.data(), p.Size(), p.type, true);
  }
}

// A value as "TYPE:hex bytes", "TYPE:null" or "!code", so that one comparison
// shows the type, the null state and every payload byte.
std::string Show(const TVEXVariant& v) {
  std::string s = std::to_string(v.DataType()) + ":";
  if (v.IsNull()) return s + "null";
  return s + Hex(std::string(static_cast<const char*>(v.pData()), v.DataSize()));
}

std::string Show(const Payload& p) {
  std::string s = std::to_string(p.type) + ":";
  if (IsNullPayload(p)) return s + "null";
  return s + Hex(p.bytes.substr(0, static_cast<size_t>(p.Size())));
}

enum Op { kAdd, kSub, kMul, kDiv };

void Apply(Op op, TVEXVariant& left, const TVEXVariant& right) {
  switch (op) {
    case kAdd:
      left.Add(right);
      break;
    case kSub:
      left.Sub(right);
      break;
    case kMul:
      left.Mul(right);
      break;
    case kDiv:
      left.Division(right);
      break;
  }
}

struct Case {
  const char* name;
  Payload left;
  Op op;
  Payload right;
  Payload expected;  // unused when code is set
  int32_t code = 0;
};

std::string Run(const Case& c) {
  TVEXVariant left, right;
  Set(left, c.left);
  Set(right, c.right);
  try {
    Apply(c.op, left, right);
  } catch (const EVEXException& e) {
    // A refused operation leaves the value as it was.
    EXPECT_EQ(Show(left), Show(c.left)) << c.name << ": value changed by a failed operation";
    return "!" + std::to_string(e.NativeError);
  }
  return Show(left);
}

void RunTable(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const std::string expected = c.code != 0 ? "!" + std::to_string(c.code) : Show(c.expected);
    EXPECT_EQ(Run(c), expected) << c.name;
  }
}

TEST(TVEXVariantArithmetic, IntegersWrapAtTheWidthOfTheCommonType) {
  RunTable({
      {"int32 max + 1", I32(INT32_MAX), kAdd, I32(1), I32(INT32_MIN)},
      {"int32 min - 1", I32(INT32_MIN), kSub, I32(1), I32(INT32_MAX)},
      {"int64 max + 1", I64(INT64_MAX), kAdd, I64(1), I64(INT64_MIN)},
      {"int64 product wraps", I64(INT64_MAX), kMul, I64(2), I64(-2)},
      {"int16 product wraps", I16(300), kMul, I16(300), I16(24464)},
      {"byte sum wraps", U8(250), kAdd, U8(10), U8(4)},
      {"word product wraps", U16(65535), kMul, U16(65535), U16(1)},
      {"cardinal 0 - 1", U32(0), kSub, U32(1), U32(0xFFFFFFFFu)},
      {"cardinal product wraps", U32(0x10000), kMul, U32(0x10000), U32(0)},
      // The common type comes first, and may be wide enough not to wrap.
      {"int8 + byte in int16", I8(100), kAdd, U8(200), I16(300)},
      {"int32 - cardinal in int64", I32(-1), kSub, U32(0xFFFFFFFFu), I64(-4294967296LL)},
      {"flag + integer in the integer", Logic(true), kAdd, I32(1), I32(2)},
  });
}

TEST(TVEXVariantArithmetic, DivisionTruncatesIntegersAndReportsFailuresAs30128) {
  RunTable({
      {"7 / 2", I32(7), kDiv, I32(2), I32(3)},
      {"-7 / 2 truncates toward zero", I32(-7), kDiv, I32(2), I32(-3)},
      {"int64 -7 / 2", I64(-7), kDiv, I64(2), I64(-3)},
      {"cardinal in its unsigned range", U32(0xFFFFFFFFu), kDiv, U32(2), U32(0x7FFFFFFFu)},
      {"int8 min / -1 wraps", I8(-128), kDiv, I8(-1), I8(-128)},
      {"int16 min / -1 wraps", I16(-32768), kDiv, I16(-1), I16(-32768)},
      {"int32 by zero", I32(7), kDiv, I32(0), {}, 30128},
      {"byte by zero", U8(7), kDiv, U8(0), {}, 30128},
      {"int32 min / -1", I32(INT32_MIN), kDiv, I32(-1), {}, 30128},
      {"int64 min / -1", I64(INT64_MIN), kDiv, I64(-1), {}, 30128},
      {"date by zero", Date(10), kDiv, Date(0), {}, 30128},
      // A failure in the common type leaves the value in its own.
      {"int8 by a zero int16", I8(7), kDiv, I16(0), {}, 30128},
      {"date by a date-time of day 0", Date(10), kDiv, DT(0, 5), {}, 30128},
      {"double", F64(7), kDiv, F64(2), F64(3.5)},
      {"integer by double", I32(1), kDiv, F64(4), F64(0.25)},
      {"currency", Curr(10), kDiv, Curr(4), Curr(2.5)},
      {"double by zero", F64(1), kDiv, F64(0), {}, 30128},
      {"zero by zero", F64(0), kDiv, F64(-0.0), {}, 30128},
      {"infinity by infinity", F64(INFINITY), kDiv, F64(INFINITY), {}, 30128},
      {"double quotient beyond range", F64(1e308), kDiv, F64(1e-10), {}, 30128},
      {"single quotient beyond its range", F32(1e30f), kDiv, F32(1e-30f), {}, 30128},
      {"extended by zero", Ext(1), kDiv, Ext(0), {}, 30128},
      {"currency by zero", Curr(1), kDiv, Curr(0), {}, 30128},
      {"infinity by a number stays infinite", F64(INFINITY), kDiv, F64(2), F64(INFINITY)},
  });
}

TEST(TVEXVariantArithmetic, DivisionErrorCarriesThePlatformMessage) {
  struct Row {
    Payload left, right;
    const char* message;
  };
  const Row rows[] = {
      {I32(7), I32(0), "Division error: Division by zero - Native error: 30128"},
      {I32(INT32_MIN), I32(-1), "Division error: Integer overflow - Native error: 30128"},
      {F64(1), F64(0), "Division error: Floating point division by zero - Native error: 30128"},
      {F64(0), F64(0), "Division error: Invalid floating point operation - Native error: 30128"},
      {F64(1e308), F64(0.5), "Division error: Floating point overflow - Native error: 30128"},
  };
  for (const Row& row : rows) {
    TVEXVariant left, right;
    Set(left, row.left);
    Set(right, row.right);
    try {
      left.Division(right);
      ADD_FAILURE() << row.message << ": no error";
    } catch (const EVEXException& e) {
      EXPECT_STREQ(e.what(), row.message);
    }
  }
}

TEST(TVEXVariantArithmetic, RealsAndMoneyComputeInTheCommonType) {
  RunTable({
      {"double", F64(0.5), kAdd, F64(0.25), F64(0.75)},
      {"integer + double", I32(1), kAdd, F64(0.5), F64(1.5)},
      {"single + currency is currency", F32(1.5f), kAdd, Curr(2.25), Curr(3.75)},
      {"currency + single is single", Curr(2.25), kAdd, F32(1.5f), F32(3.75f)},
      {"integer * currency", I32(3), kMul, Curr(0.5), Curr(1.5)},
      {"extended", Ext(1.5L), kMul, Ext(-2.0L), Ext(-3.0L)},
      {"single - double in double", F32(0.5f), kSub, F64(0.25), F64(0.25)},
      {"an infinite operand stays infinite", F64(INFINITY), kMul, F64(2), F64(INFINITY)},
      // The value itself must fit the common type; the conversion refuses.
      {"value that does not fit the common type", Ext(1e4000L), kAdd, Curr(1), {}, 30051},
  });
}

// Sums, differences and products of reals trap as the platform does; only
// Division turns the trap into 30128. The value is left as it was.
TEST(TVEXVariantArithmetic, RealResultsOutOfRangeOrUndefinedRaiseThePlatformsError) {
  struct Row {
    Payload left;
    Op op;
    Payload right;
    const char* message;
  };
  const Row rows[] = {
      {F64(DBL_MAX), kMul, F64(2), "Floating point overflow"},
      {F32(3e38f), kMul, F64(1e300), "Floating point overflow"},
      {F64(-DBL_MAX), kSub, F64(DBL_MAX), "Floating point overflow"},
      {F32(FLT_MAX), kAdd, F32(FLT_MAX), "Floating point overflow"},
      {Curr(DBL_MAX), kAdd, Curr(DBL_MAX), "Floating point overflow"},
      {Ext(LDBL_MAX), kMul, Ext(2), "Floating point overflow"},
      {F64(INFINITY), kSub, F64(INFINITY), "Invalid floating point operation"},
      {F64(0), kMul, F64(INFINITY), "Invalid floating point operation"},
  };
  for (const Row& row : rows) {
    TVEXVariant left, right;
    Set(left, row.left);
    Set(right, row.right);
    try {
      if (row.op == kAdd) left.Add(right);
      if (row.op == kSub) left.Sub(right);
      if (row.op == kMul) left.Mul(right);
      ADD_FAILURE() << row.message << ": no error for " << Show(row.left);
    } catch (const EVEXException& e) {
      ADD_FAILURE() << e.what();
    } catch (const rtl::EMathError& e) {
      EXPECT_STREQ(e.what(), row.message) << Show(row.left);
    }
    EXPECT_EQ(Show(left), Show(row.left));
  }
}

TEST(TVEXVariantArithmetic, DatesAndTimesCombineAsIntegersAndDateTimesCarryWholeDays) {
  RunTable({
      {"date + days", Date(736213), kAdd, I32(1), Date(736214)},
      {"days + date", I32(1), kAdd, Date(736213), Date(736214)},
      {"date - date", Date(736213), kSub, Date(736200), Date(13)},
      {"time + time is not reduced", Time(86399999), kAdd, Time(2), Time(86400001)},
      {"time - time may be negative", Time(1000), kSub, Time(2000), Time(-1000)},
      {"date-time carries the time into the date", DT(10, 86399000), kAdd, DT(0, 2000),
       DT(11, 1000)},
      {"date-time borrows a day for a negative time", DT(10, 1000), kSub, DT(0, 2000),
       DT(9, 86399000)},
      {"date-time + time", DT(10, 0), kAdd, Time(5), DT(10, 5)},
      {"date + date-time", Date(10), kAdd, DT(1, 5), DT(11, 5)},
      // A time has no date: the date of the sum is the other operand's.
      {"date + time is that day at that time", Date(736213), kAdd, Time(43200000),
       DT(736213, 43200000)},
      {"time + date", Time(43200000), kAdd, Date(736213), DT(736213, 43200000)},
      {"right operand that is no date", Date(10), kAdd, F64(1e300), {}, 30051},
  });
}

TEST(TVEXVariantArithmetic, FlagsCombineByOrInEveryOperation) {
  RunTable({
      {"false + true", Logic(false), kAdd, Logic(true), Logic(true)},
      {"true - true", Logic(true), kSub, Logic(true), Logic(true)},
      {"false * false", Logic(false), kMul, Logic(false), Logic(false)},
      {"true / false", Logic(true), kDiv, Logic(false), Logic(true)},
  });
}

TEST(TVEXVariantArithmetic, AddConcatenatesTextAndOtherOperationsRefuseIt) {
  RunTable({
      {"ansi", Ansi("ab"), kAdd, Ansi("cd"), Ansi("abcd")},
      {"wide", Wide(u"\u00E9"), kAdd, Wide(u"\u0416"), Wide(u"\u00E9\u0416")},
      {"ansi + wide is wide", Ansi("ab"), kAdd, Wide(u"cd"), Wide(u"abcd")},
      {"fixed char + varchar", Ansi("ab", bftChar), kAdd, Ansi("cd"), Ansi("abcd")},
      {"number + text", I32(5), kAdd, Ansi("x"), Ansi("5x")},
      {"text + number", Ansi("x"), kAdd, I32(5), Ansi("x5")},
      {"clob + clob", Clob("ab", 2), kAdd, Clob("cd", 2), Ansi("abcd", bftChar)},
      {"text - text", Ansi("a"), kSub, Ansi("b"), {}, 30125},
      {"text * text", Wide(u"a"), kMul, Wide(u"b"), {}, 30126},
      {"text / text", Ansi("4"), kDiv, Ansi("2"), {}, 30127},
      // The common type of a number and a text is the text.
      {"number - text", I32(5), kSub, Ansi("1"), {}, 30125},
      {"blob + integer", Blob("ab"), kAdd, I32(1), {}, 30052},
      {"blob + blob", Blob("ab"), kAdd, Blob("cd"), {}, 30052},
      {"flag - date", Logic(true), kSub, Date(1), {}, 30052},
      {"clob * integer", Clob("ab", 2), kMul, I32(1), {}, 30052},
  });
}

TEST(TVEXVariantArithmetic, NotNumericErrorNamesTheOperator) {
  struct Row {
    Op op;
    Payload left;
    const char* message;
  };
  const Row rows[] = {
      // Every pair with a common type can be added; a value of no type cannot.
      {kAdd, Payload{bftUnknown, std::string(4, '\0')},
       "Not numeric argument in numeric operator '+' - Native error: 30124"},
      {kSub, Ansi("a"), "Not numeric argument in numeric operator '-' - Native error: 30125"},
      {kMul, Ansi("a"), "Not numeric argument in numeric operator '*' - Native error: 30126"},
      {kDiv, Ansi("a"), "Not numeric argument in numeric operator '/' - Native error: 30127"},
  };
  for (const Row& row : rows) {
    TVEXVariant left, right;
    Set(left, row.left);
    Set(right, row.left);
    try {
      Apply(row.op, left, right);
      ADD_FAILURE() << row.message << ": no error";
    } catch (const EVEXException& e) {
      EXPECT_STREQ(e.what(), row.message);
    }
  }
}

TEST(TVEXVariantArithmetic, NullRules) {
  RunTable({
      // Add keeps a text when nothing is added, and a null text takes the other side.
      {"null text + text", Null(bftVarchar), kAdd, Ansi("x"), Ansi("x")},
      {"null text + integer", Null(bftVarchar), kAdd, I32(1), I32(1)},
      {"text + null", Ansi("x"), kAdd, Null(bftSignedInt32), Ansi("x")},
      {"null text + null", Null(bftVarchar), kAdd, Null(bftVarchar), Null(bftVarchar)},
      {"null integer + 1", Null(bftSignedInt32), kAdd, I32(1), Null(bftSignedInt32)},
      {"integer + null", I32(1), kAdd, Null(bftSignedInt32), Null(bftSignedInt32)},
      {"date + null text", Date(1), kAdd, Null(bftVarchar), Null(bftDate)},
      // The other operations: a null on either side gives null, in the value's type.
      {"1 - null", I32(1), kSub, Null(bftDouble), Null(bftSignedInt32)},
      {"null - 1", Null(bftSignedInt32), kSub, I32(1), Null(bftSignedInt32)},
      {"text * null", Ansi("x"), kMul, Null(bftSignedInt32), Null(bftVarchar)},
      {"null * 2", Null(bftDouble), kMul, F64(2), Null(bftDouble)},
      {"1 / null", I32(1), kDiv, Null(bftSignedInt32), Null(bftSignedInt32)},
      {"null / 0", Null(bftSignedInt32), kDiv, I32(0), Null(bftSignedInt32)},
      // Nulls are settled before types are looked at.
      {"blob - null", Blob("ab"), kSub, Null(bftSignedInt32), Null(bftBlob)},
  });
}

TEST(TVEXVariantArithmetic, ResultIsOwnedAndLeavesALinkedSourceUntouched) {
  int32_t record = 41;
  TVEXVariant linked, one;
  linked.SetData(&record, sizeof record, bftSignedInt32, false);
  one.SetAsInteger(1);
  linked.Add(one);
  EXPECT_EQ(linked.AsInteger(), 42);
  EXPECT_FALSE(linked.IsDataLinked());
  EXPECT_EQ(record, 41);
}

// ---- Cast ----

TEST(TVEXVariantCast, ConvertsInPlaceOrRefusesAndKeepsTheValue) {
  struct Row {
    const char* name;
    Payload from;
    TVEXBaseFieldType to;
    Payload expected;
    int32_t code = 0;
  };
  const Row rows[] = {
      {"integer to text", I32(-5), bftVarchar, Ansi("-5")},
      {"text to integer", Ansi("12"), bftSignedInt32, I32(12)},
      {"text to wide", Ansi("ab"), bftWideVarchar, Wide(u"ab")},
      {"same type is untouched", I16(3), bftSignedInt16, I16(3)},
      {"null is only retyped", Null(bftVarchar), bftDate, Null(bftDate)},
      {"clob gains a terminator", Clob("abc", 3), bftVarchar, Ansi("abc")},
      {"clob to fixed char", Clob("abc", 3), bftChar, Ansi("abc", bftChar)},
      {"text that is no number", Ansi("x"), bftSignedInt32, {}, 30051},
      {"blob converts to nothing", Blob("ab"), bftSignedInt32, {}, 30052},
      {"nothing converts to a clob", Ansi("ab"), bftClob, {}, 30052},
      {"flag to date", Logic(true), bftDate, {}, 30052},
  };
  for (const Row& row : rows) {
    TVEXVariant v;
    Set(v, row.from);
    try {
      v.Cast(row.to);
      EXPECT_EQ(row.code, 0) << row.name << ": no error";
      EXPECT_EQ(Show(v), Show(row.expected)) << row.name;
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, row.code) << row.name;
      EXPECT_EQ(Show(v), Show(row.from)) << row.name << ": value changed";
    }
  }
}

TEST(TVEXVariantCast, ALinkedClobGetsAnOwnedCopy) {
  char record[] = {'a', 'b', 'c'};
  TVEXVariant v;
  v.SetData(record, sizeof record, bftClob, false);
  v.Cast(bftVarchar);
  EXPECT_FALSE(v.IsDataLinked());
  EXPECT_EQ(v.AsAnsiString(), "abc");
  EXPECT_EQ(std::string(record, 3), "abc");
}

// ---- InvertValue ----

TEST(TVEXVariantInvertValue, NegatesEachNumericClassInItsOwnWay) {
  struct Row {
    const char* name;
    Payload from;
    Payload expected;
  };
  const Row rows[] = {
      {"int8", I8(5), I8(-5)},
      {"int8 min wraps", I8(-128), I8(-128)},
      {"int16 min wraps", I16(-32768), I16(-32768)},
      {"int32", I32(-7), I32(7)},
      {"int64", I64(INT64_MAX), I64(-INT64_MAX)},
      {"byte: two's complement", U8(5), U8(251)},
      {"word", U16(1), U16(65535)},
      {"cardinal", U32(1), U32(0xFFFFFFFFu)},
      {"single", F32(1.5f), F32(-1.5f)},
      {"double", F64(-2.5), F64(2.5)},
      {"extended", Ext(3.0L), Ext(-3.0L)},
      {"currency", Curr(0.25), Curr(-0.25)},
      {"date", Date(736213), Date(-736213)},
      {"flag", Logic(true), Logic(false)},
      {"null text is left alone", Null(bftVarchar), Null(bftVarchar)},
  };
  for (const Row& row : rows) {
    TVEXVariant v;
    Set(v, row.from);
    v.InvertValue();
    EXPECT_EQ(Show(v), Show(row.expected)) << row.name;
  }
}

TEST(TVEXVariantInvertValue, RefusesTimesTextsAndTheSmallestWideIntegers) {
  const std::pair<Payload, const char*> refused[] = {
      {Time(5), "Cannot invert value with not numeric type 'TIME' - Native error: 30123"},
      {DT(1, 1), "Cannot invert value with not numeric type 'DATETIME' - Native error: 30123"},
      {Ansi("5"), "Cannot invert value with not numeric type 'STRING' - Native error: 30123"},
      {Blob("ab"), "Cannot invert value with not numeric type 'BLOB' - Native error: 30123"},
  };
  for (const auto& [from, message] : refused) {
    TVEXVariant v;
    Set(v, from);
    try {
      v.InvertValue();
      ADD_FAILURE() << message << ": no error";
    } catch (const EVEXException& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  for (const Payload& from : {I32(INT32_MIN), I64(INT64_MIN), Date(INT32_MIN)}) {
    TVEXVariant v;
    Set(v, from);
    EXPECT_THROW(v.InvertValue(), rtl::EIntOverflow) << Show(from);
    EXPECT_EQ(Show(v), Show(from));
  }
}

}  // namespace
}  // namespace vex
