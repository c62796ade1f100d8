#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VEXVariantTestSupport.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXVariant.h"
#include "rtl/CodePage.h"
#include "rtl/FormatSettings.h"

namespace vex {
namespace {

using test::Payload;
using namespace test::payload;

std::string Num(long double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Lg", v);
  return buf;
}

// Every typed read, rendered as text so that one table row holds them all; a
// failure shows as "!" and its native error.
const std::vector<std::pair<const char*, std::function<std::string(const TVEXVariant&)>>>&
Readers() {
  static const std::vector<std::pair<const char*, std::function<std::string(const TVEXVariant&)>>>
      readers = {
          {"AsShortint", [](const TVEXVariant& v) { return Num(v.AsShortint()); }},
          {"AsSmallint", [](const TVEXVariant& v) { return Num(v.AsSmallint()); }},
          {"AsInteger", [](const TVEXVariant& v) { return Num(v.AsInteger()); }},
          {"AsInt64", [](const TVEXVariant& v) { return std::to_string(v.AsInt64()); }},
          {"AsByte", [](const TVEXVariant& v) { return Num(v.AsByte()); }},
          {"AsWord", [](const TVEXVariant& v) { return Num(v.AsWord()); }},
          {"AsCardinal", [](const TVEXVariant& v) { return Num(v.AsCardinal()); }},
          {"AsSingle", [](const TVEXVariant& v) { return Num(v.AsSingle()); }},
          {"AsDouble", [](const TVEXVariant& v) { return Num(v.AsDouble()); }},
          {"AsExtended", [](const TVEXVariant& v) { return Num(v.AsExtended()); }},
          {"AsAnsiString", [](const TVEXVariant& v) { return v.AsAnsiString(); }},
          {"AsWideString",
           [](const TVEXVariant& v) { return rtl::Utf16ToWin1252(v.AsWideString()); }},
          {"AsVEXDate", [](const TVEXVariant& v) { return Num(v.AsVEXDate()); }},
          {"AsVEXTime", [](const TVEXVariant& v) { return Num(v.AsVEXTime()); }},
          {"AsVEXDateTime",
           [](const TVEXVariant& v) {
             const TVEXDateTime dt = v.AsVEXDateTime();
             return Num(dt.Date) + "/" + Num(dt.Time);
           }},
          {"AsBoolean",
           [](const TVEXVariant& v) { return std::string(v.AsBoolean() ? "T" : "F"); }},
          {"AsCurrency", [](const TVEXVariant& v) { return Num(v.AsCurrency()); }},
      };
  return readers;
}

std::string Read(const TVEXVariant& v, size_t reader) {
  try {
    return Readers()[reader].second(v);
  } catch (const EVEXException& e) {
    return "!" + std::to_string(e.NativeError);
  }
}

struct ReadRow {
  const char* name;
  Payload payload;
  std::vector<std::string> expected;  // in the order of Readers()
};

// Columns: Shortint Smallint Integer Int64 Byte Word Cardinal Single Double
// Extended AnsiString WideString VEXDate VEXTime VEXDateTime Boolean Currency.
std::vector<ReadRow> ReadRows() {
  const std::vector<std::string> text12 = {"12", "12", "12", "12", "12", "12", "12", "12", "12",
                                           "12", "12", "12",
                                           // a bare number is an hour, never a date
                                           "!30051", "43200000", "693594/43200000", "F", "12"};
  const std::vector<std::string> none(17, "!30052");
  std::vector<std::string> blob = none;
  blob[10] = "ab";
  return {
      {"char", Ansi("12", bftChar), text12},
      {"varchar", Ansi("12"), text12},
      {"widechar", Wide(u"12", bftWideChar), text12},
      {"widevarchar", Wide(u"12"), text12},
      {"clob", Clob("12", 2), text12},
      {"wideclob", WClob(u"12", 4), text12},
      {"int8",
       I8(-1),
       {"-1", "-1", "-1", "-1", "255", "65535", "4294967295", "-1", "-1", "-1", "-1", "-1", "-1",
        "-1", "-1/0", "T", "-1"}},
      {"int16",
       I16(300),
       {"44", "300", "300", "300", "44", "300", "300", "300", "300", "300", "300", "300", "300",
        "300", "300/0", "T", "300"}},
      {"int32",
       I32(100000),
       {"-96", "-31072", "100000", "100000", "160", "34464", "100000", "100000", "100000", "100000",
        "100000", "100000", "100000", "100000", "100000/0", "T", "100000"}},
      {"int64",
       I64(4294967301LL),
       {"5", "5", "5", "4294967301", "5", "5", "5", "4294967296", "4294967301", "4294967301",
        "4294967301", "4294967301", "5", "5", "5/0", "T", "4294967301"}},
      {"uint8",
       U8(200),
       {"-56", "200", "200", "200", "200", "200", "200", "200", "200", "200", "200", "200", "200",
        "200", "200/0", "T", "200"}},
      {"uint16",
       U16(65535),
       {"-1", "-1", "65535", "65535", "255", "65535", "65535", "65535", "65535", "65535", "65535",
        "65535", "65535", "65535", "65535/0", "T", "65535"}},
      {"uint32",
       U32(4000000000u),
       {"0", "10240", "-294967296", "4000000000", "0", "10240", "4000000000", "4000000000",
        "4000000000", "4000000000", "4000000000", "4000000000", "-294967296", "-294967296",
        "-294967296/0", "T", "4000000000"}},
      {"single",
       F32(2.5f),
       {"2", "2", "2", "2", "2", "2", "2", "2.5", "2.5", "2.5", "2,5", "2,5", "2", "2",
        "2/43200000", "T", "2.5"}},
      {"double",
       F64(-2.5),
       {"-2", "-2", "-2", "-2", "254", "65534", "4294967294", "-2.5", "-2.5", "-2.5", "-2,5",
        "-2,5", "-2", "-2", "-2/-43200000", "T", "-2.5"}},
      {"extended",
       Ext(1e10L),
       {"0", "-7168", "1410065408", "10000000000", "0", "58368", "1410065408", "10000000000",
        "10000000000", "10000000000", "10000000000", "10000000000", "1410065408", "64000000",
        "1410065408/0", "T", "10000000000"}},
      {"date",
       Date(736213),
       {"-43", "15317", "736213", "736213", "213", "15317", "736213", "736213", "736213", "736213",
        "06.09.2016", "06.09.2016", "736213", "736213", "736213/0", "T", "736213"}},
      {"time",
       Time(45045000),
       {"8", "21768", "45045000", "45045000", "8", "21768", "45045000", "45045000", "45045000",
        "45045000", "12:30:45", "12:30:45", "45045000", "45045000", "-2147483648/45045000", "T",
        "45045000"}},
      {"datetime",
       DT(736213, 43200000),
       {"-43", "15317", "736213", "736213", "213", "15317", "736213", "736213.5", "736213.5",
        "736213.5", "06.09.2016 12:00:00", "06.09.2016 12:00:00", "736213", "43200000",
        "736213/43200000", "T", "736213.5"}},
      {"logical",
       Logic(true),
       {"1", "1", "1", "1", "1", "1", "1", "1", "1", "1", "True", "True", "!30052", "!30052",
        "!30052", "T", "!30052"}},
      {"currency",
       Curr(2.5),
       {"2", "2", "2", "2", "2", "2", "2", "2.5", "2.5", "2.5", "2,5", "2,5", "!30052", "!30052",
        "!30052", "T", "2.5"}},
      {"blob made from text", Blob(std::string("ab\0", 3)), blob},
      {"bytes", Payload{bftBytes, "ab"}, none},
      {"varbytes", Payload{bftVarBytes, "ab"}, none},
      {"bfile", Payload{bftBFile, "ab"}, none},
      {"unknown", Payload{bftUnknown, "ab"}, none},
  };
}

class ValueTest : public ::testing::Test {
 protected:
  rtl::ScopedFormatSettings settings_{test::CommaSettings()};
};

TEST_F(ValueTest, TypedReadsConvertFromEveryBaseType) {
  for (const ReadRow& row : ReadRows()) {
    TVEXVariant v;
    v.SetData(row.payload.bytes.data(), row.payload.Size(), row.payload.type, true);
    ASSERT_EQ(row.expected.size(), Readers().size()) << row.name;
    for (size_t i = 0; i < Readers().size(); ++i) {
      EXPECT_EQ(Read(v, i), row.expected[i]) << row.name << " read " << Readers()[i].first;
    }
  }
}

TEST_F(ValueTest, NullReadsGiveEmptyTextAndOtherwiseRaise) {
  TVEXVariant v(bftVarchar);
  for (size_t i = 0; i < Readers().size(); ++i) {
    const bool text = i == 10 || i == 11;
    EXPECT_EQ(Read(v, i), text ? "" : "!30016") << Readers()[i].first;
  }
  try {
    v.AsInteger();
  } catch (const EVEXException& e) {
    EXPECT_STREQ(e.what(), "Value is Null - Native error: 30016");
  }
}

// The first typed write into a fresh value fixes its type; later writes keep the
// type and convert into it.
TEST_F(ValueTest, TypedWritesFixTheTypeOnceThenConvert) {
  struct Row {
    const char* name;
    TVEXBaseFieldType initial;
    std::function<void(TVEXVariant&)> write;
    Payload expected;  // bftUnknown type: the write fails with `code`
    int32_t code = 0;
  };
  const Row rows[] = {
      {"shortint", bftUnknown, [](TVEXVariant& v) { v.SetAsShortint(-1); }, I8(-1)},
      {"smallint", bftUnknown, [](TVEXVariant& v) { v.SetAsSmallint(-2); }, I16(-2)},
      {"integer", bftUnknown, [](TVEXVariant& v) { v.SetAsInteger(5); }, I32(5)},
      {"int64", bftUnknown, [](TVEXVariant& v) { v.SetAsInt64(-6); }, I64(-6)},
      {"byte", bftUnknown, [](TVEXVariant& v) { v.SetAsByte(7); }, U8(7)},
      {"word", bftUnknown, [](TVEXVariant& v) { v.SetAsWord(8); }, U16(8)},
      {"cardinal", bftUnknown, [](TVEXVariant& v) { v.SetAsCardinal(9); }, U32(9)},
      {"longword", bftUnknown, [](TVEXVariant& v) { v.SetAsLongWord(10); }, U32(10)},
      {"single", bftUnknown, [](TVEXVariant& v) { v.SetAsSingle(0.5f); }, F32(0.5f)},
      {"double", bftUnknown, [](TVEXVariant& v) { v.SetAsDouble(1.5); }, F64(1.5)},
      {"extended", bftUnknown, [](TVEXVariant& v) { v.SetAsExtended(2.5L); }, Ext(2.5L)},
      {"ansi", bftUnknown, [](TVEXVariant& v) { v.SetAsAnsiString("abc"); }, Ansi("abc")},
      {"wide", bftUnknown, [](TVEXVariant& v) { v.SetAsWideString(u"abc"); }, Wide(u"abc")},
      {"vexdate", bftUnknown, [](TVEXVariant& v) { v.SetAsVEXDate(3); }, Date(3)},
      {"vextime", bftUnknown, [](TVEXVariant& v) { v.SetAsVEXTime(4); }, Time(4)},
      {"vexdatetime", bftUnknown,
       [](TVEXVariant& v) {
         v.SetAsVEXDateTime({1, 2});
       },
       DT(1, 2)},
      {"tdate", bftUnknown, [](TVEXVariant& v) { v.SetAsTDate(42619.75); }, Date(736213)},
      {"ttime", bftUnknown, [](TVEXVariant& v) { v.SetAsTTime(42619.5); }, Time(43200000)},
      {"tdatetime", bftUnknown, [](TVEXVariant& v) { v.SetAsTDateTime(42619.5); },
       DT(736213, 43200000)},
      {"boolean", bftUnknown, [](TVEXVariant& v) { v.SetAsBoolean(true); }, Logic(true)},
      {"logical", bftUnknown, [](TVEXVariant& v) { v.SetAsLogical(false); }, Logic(false)},
      {"currency", bftUnknown, [](TVEXVariant& v) { v.SetAsCurrency(2.25); }, Curr(2.25)},
      // writes into a value that has a type
      {"text into integer", bftSignedInt32, [](TVEXVariant& v) { v.SetAsAnsiString("12"); },
       I32(12)},
      {"integer into text", bftVarchar, [](TVEXVariant& v) { v.SetAsInteger(5); }, Ansi("5")},
      {"integer into int8 cuts", bftSignedInt8, [](TVEXVariant& v) { v.SetAsInteger(300); },
       I8(44)},
      {"real into integer truncates", bftSignedInt32, [](TVEXVariant& v) { v.SetAsDouble(-2.7); },
       I32(-2)},
      {"ansi into wide", bftWideVarchar, [](TVEXVariant& v) { v.SetAsAnsiString("\xE9"); },
       Wide(u"\u00E9")},
      {"ansi into fixed char", bftChar, [](TVEXVariant& v) { v.SetAsAnsiString("ab"); },
       Ansi("ab", bftChar)},
      {"boolean into date fails", bftDate, [](TVEXVariant& v) { v.SetAsBoolean(true); }, {}, 30052},
      {"bad text into integer fails",
       bftSignedInt32,
       [](TVEXVariant& v) { v.SetAsAnsiString("x"); },
       {},
       30051},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEXVariant v(row.initial);
    int32_t code = 0;
    try {
      row.write(v);
    } catch (const EVEXException& e) {
      code = e.NativeError;
    }
    EXPECT_EQ(code, row.code);
    EXPECT_FALSE(v.IsDataLinked());
    if (row.code != 0) {
      // A failed write leaves the value null with its type.
      EXPECT_TRUE(v.IsNull());
      EXPECT_EQ(v.DataType(), row.initial);
      continue;
    }
    ASSERT_FALSE(v.IsNull());
    EXPECT_EQ(v.DataType(), row.expected.type);
    EXPECT_EQ(test::Hex(std::string(static_cast<const char*>(v.pData()), v.DataSize())),
              test::Hex(row.expected.bytes));
  }
}

TEST_F(ValueTest, LaterWritesKeepTheType) {
  TVEXVariant v;
  v.SetAsInteger(5);
  v.SetAsAnsiString("12");
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(v.AsInteger(), 12);
}

TEST_F(ValueTest, EmptyTextWriteLeavesTheValueNull) {
  TVEXVariant v(bftVarchar);
  v.SetAsAnsiString("abc");
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(v.StrLen(), 3);
  v.SetAsAnsiString("");
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftVarchar);
  EXPECT_EQ(v.AsAnsiString(), "");
  EXPECT_EQ(v.StrLen(), -1);

  TVEXVariant w;
  w.SetAsWideString(u"abc");
  EXPECT_EQ(w.DataType(), bftWideVarchar);
  EXPECT_EQ(w.DataSize(), 8);
  EXPECT_EQ(w.StrLen(), 3);
  w.SetAsWideString(u"");
  EXPECT_TRUE(w.IsNull());
}

// A payload of the right type but the wrong size (set raw by a caller) is
// replaced, never overwritten beyond its end.
TEST_F(ValueTest, TypedWriteDoesNotOverrunAShortPayload) {
  const char two[2] = {1, 2};
  TVEXVariant v;
  v.SetData(two, 2, bftSignedInt32, true);
  v.SetAsInteger(0x01020304);
  EXPECT_EQ(v.DataSize(), 4);
  EXPECT_EQ(v.AsInteger(), 0x01020304);
}

TEST_F(ValueTest, SetNullKeepsThePayload) {
  TVEXVariant v;
  v.SetAsInteger(5);
  void* payload = v.pData();
  v.SetNull(bftDouble);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  EXPECT_EQ(v.pData(), payload);
  EXPECT_EQ(v.DataSize(), 4);
}

TEST_F(ValueTest, AssignCopiesOrLinks) {
  TVEXVariant source;
  source.SetAsInteger(5);
  auto linked = std::make_unique<TVEXVariant>();
  linked->Assign(source, false);
  TVEXVariant copy;
  copy.Assign(source, true);
  EXPECT_TRUE(linked->IsDataLinked());
  EXPECT_FALSE(copy.IsDataLinked());
  EXPECT_EQ(linked->pData(), source.pData());
  EXPECT_NE(copy.pData(), source.pData());

  source.SetAsInteger(9);  // in place
  EXPECT_EQ(linked->AsInteger(), 9);
  EXPECT_EQ(copy.AsInteger(), 5);
  linked.reset();  // frees nothing of the source
  EXPECT_EQ(source.AsInteger(), 9);

  // A typed write to a linked value gives it its own payload.
  TVEXVariant other;
  other.Assign(source, false);
  other.SetAsInteger(1);
  EXPECT_FALSE(other.IsDataLinked());
  EXPECT_EQ(source.AsInteger(), 9);

  TVEXVariant null(bftDouble);
  copy.Assign(null, true);
  EXPECT_TRUE(copy.IsNull());
  EXPECT_EQ(copy.DataType(), bftDouble);
}

TEST_F(ValueTest, SetDataCopiesOrLinks) {
  char buffer[4] = {'a', 'b', 'c', 0};
  TVEXVariant linked;
  linked.SetData(buffer, 4, bftVarchar, false);
  TVEXVariant copy;
  copy.SetData(buffer, 4, bftVarchar, true);
  buffer[0] = 'x';
  EXPECT_EQ(linked.AsAnsiString(), "xbc");
  EXPECT_EQ(copy.AsAnsiString(), "abc");
  // A copy of the same size reuses the block the value owns.
  void* block = copy.pData();
  copy.SetData("def", 4, bftVarchar, true);
  EXPECT_EQ(copy.pData(), block);
  EXPECT_EQ(copy.AsAnsiString(), "def");
  copy.SetData("de", 3, bftVarchar, true);
  EXPECT_EQ(copy.AsAnsiString(), "de");
}

TEST_F(ValueTest, CopyDataToAddress) {
  TVEXVariant v;
  char out[8] = {};
  EXPECT_FALSE(v.CopyDataToAddress(out, -1));  // null
  v.SetAsInteger(0x04030201);
  EXPECT_TRUE(v.CopyDataToAddress(out, 4));
  EXPECT_EQ(std::string(out, 4), std::string("\x01\x02\x03\x04", 4));
  try {
    v.CopyDataToAddress(out, 3);
    FAIL();
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 20056);
    EXPECT_STREQ(e.what(), "Buffer size exceeded - Native error: 20056");
  }
  TVEXVariant empty;
  empty.SetData("", 1, bftVarchar, true);
  EXPECT_FALSE(empty.CopyDataToAddress(out, -1));
}

// Setting a type converts a non-null value and quietly empties one that the new
// type cannot hold.
TEST_F(ValueTest, SetDataTypeConvertsOrClears) {
  TVEXVariant v;
  v.SetAsAnsiString("12");
  v.SetDataType(bftSignedInt32);
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  EXPECT_EQ(v.AsInteger(), 12);

  TVEXVariant x;
  x.SetAsAnsiString("x");
  x.SetDataType(bftSignedInt32);  // no error
  EXPECT_EQ(x.DataType(), bftSignedInt32);
  EXPECT_TRUE(x.IsNull());
  EXPECT_EQ(x.pData(), nullptr);

  TVEXVariant b;
  b.SetAsBoolean(true);
  b.SetDataType(bftDate);  // a pair without conversion
  EXPECT_EQ(b.DataType(), bftDate);
  EXPECT_TRUE(b.IsNull());

  // A null value is retyped; a payload it still holds is dropped.
  TVEXVariant n;
  n.SetAsInteger(5);
  n.SetNull();
  n.SetDataType(bftDouble);
  EXPECT_EQ(n.DataType(), bftDouble);
  EXPECT_EQ(n.pData(), nullptr);

  // A CLOB becomes 8-bit text by gaining a terminator; a linked one is copied.
  char clob[3] = {'a', 'b', 'c'};
  TVEXVariant c;
  c.SetData(clob, 3, bftClob, false);
  c.SetDataType(bftVarchar);
  EXPECT_FALSE(c.IsDataLinked());
  EXPECT_EQ(c.DataSize(), 4);
  EXPECT_EQ(c.AsAnsiString(), "abc");
}

TEST_F(ValueTest, TryToReduceWideStringToAnsiString) {
  TVEXVariant v;
  v.SetAsWideString(u"caf\u00E9 \u20AC");
  v.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(v.DataType(), bftVarchar);
  EXPECT_EQ(v.AsAnsiString(), "caf\xE9 \x80");

  TVEXVariant w;
  w.SetAsWideString(u"\u0105");  // no 8-bit form
  w.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(w.DataType(), bftWideVarchar);
  EXPECT_EQ(w.AsWideString(), u"\u0105");

  TVEXVariant n(bftWideChar);
  n.TryToReduceWideStringToAnsiString();
  EXPECT_EQ(n.DataType(), bftVarchar);
  EXPECT_TRUE(n.IsNull());
}

TEST(ValueModule, GetDataTypeSize) {
  struct Row {
    TVEXBaseFieldType type;
    int32_t size;
  };
  const Row rows[] = {
      {bftChar, 11},        {bftWideChar, 22},     {bftVarchar, 11},      {bftWideVarchar, 22},
      {bftSignedInt8, 1},   {bftSignedInt16, 2},   {bftSignedInt32, 4},   {bftSignedInt64, 8},
      {bftUnsignedInt8, 1}, {bftUnsignedInt16, 2}, {bftUnsignedInt32, 4}, {bftSingle, 4},
      {bftDouble, 8},       {bftExtended, 10},     {bftDate, 4},          {bftTime, 4},
      {bftDateTime, 8},     {bftBlob, 10},         {bftClob, 10},         {bftWideClob, 10},
      {bftLogical, 2},      {bftCurrency, 8},      {bftBytes, 11},        {bftVarBytes, 11}};
  for (const Row& r : rows) EXPECT_EQ(GetDataTypeSize(r.type, 10), r.size) << int(r.type);
  for (TVEXBaseFieldType t : {bftUnknown, bftBFile}) {
    try {
      GetDataTypeSize(t, 10);
      FAIL();
    } catch (const EVEXException& e) {
      EXPECT_STREQ(e.what(), "Unknown DataType: 'Unknown' - Native error: 30050");
    }
  }
}

TEST(ValueModule, CopyValueToNewBuffer) {
  void* block = nullptr;
  int32_t size = 0;
  CopyValueToNewBuffer(bftVarchar, std::string_view("ab"), block, size);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(std::string(static_cast<char*>(block), 3), std::string("ab\0", 3));
  MemoryManager->FreeAndNillMem(block);

  CopyValueToNewBuffer(bftWideVarchar, std::u16string_view(u"ab"), block, size);
  EXPECT_EQ(size, 6);
  MemoryManager->FreeAndNillMem(block);

  const double d = 1.5;
  CopyValueToNewBuffer(bftDouble, &d, block, size);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(std::memcmp(block, &d, 8), 0);
  MemoryManager->FreeAndNillMem(block);

  // A type without a fixed size gives no block and no error.
  CopyValueToNewBuffer(bftBFile, &d, block, size);
  EXPECT_EQ(block, nullptr);
}

std::string StreamBytes(TVEXMemoryStream& stream) {
  return std::string(static_cast<const char*>(stream.Buffer()),
                     static_cast<size_t>(stream.GetSize()));
}

TEST(ValueStreamForm, WritesTypeNullFlagSizeAndPayload) {
  TVEXVariant text;
  text.SetAsAnsiString("abc");
  TVEXMemoryStream stream;
  text.SaveToStream(stream);
  EXPECT_EQ(test::Hex(StreamBytes(stream)), "03 00 04 00 00 00 61 62 63 00 ");

  // The null flag is what is written: a payload kept by SetNull is not.
  TVEXMemoryStream nullStream;
  text.SetNull();
  text.SaveToStream(nullStream);
  EXPECT_EQ(test::Hex(StreamBytes(nullStream)), "03 FF ");

  // A value without payload whose flag was never set is written as null: it
  // has nothing to follow a size.
  TVEXMemoryStream emptyStream;
  TVEXVariant empty(bftDouble);
  empty.SetData(nullptr, 8, bftDouble, false);
  ASSERT_TRUE(empty.IsNull());
  empty.SaveToStream(emptyStream);
  EXPECT_EQ(test::Hex(StreamBytes(emptyStream)), "0D FF ");
}

TEST(ValueStreamForm, LoadsWhatWasSaved) {
  TVEXMemoryStream stream;
  TVEXVariant source;
  source.SetAsWideString(u"h\u00E9");
  source.SaveToStream(stream);
  TVEXVariant null(bftDate);
  null.SaveToStream(stream);

  stream.SetPosition(0);
  TVEXVariant loaded;
  loaded.SetAsInteger(1);
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.DataType(), bftWideVarchar);
  EXPECT_FALSE(loaded.IsDataLinked());
  EXPECT_EQ(loaded.AsWideString(), u"h\u00E9");
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.DataType(), bftDate);
  EXPECT_TRUE(loaded.IsNull());
  EXPECT_EQ(loaded.pData(), nullptr);
}

TEST(ValueStreamForm, ReportsEachShortFieldWithItsCode) {
  struct Row {
    std::string bytes;
    int32_t code;
    std::string message = {};
  };
  const Row rows[] = {
      {"", 10183},
      {"\x07", 10184},
      {std::string("\x07\x00\x04\x00", 4), 10185},
      // the message counts the bytes that are there, as the checked read would
      {std::string("\x07\x00\x04\x00\x00\x00\x01\x02", 8), 10186,
       "Cannot read from stream. Position = 6, Stream size = 8, Block size = 4, "
       "Bytes Read = 2 - Native error: 10186"},
      // a damaged size is refused before anything is allocated
      {std::string("\x07\x00\xF0\xFF\xFF\x7F\x01\x02", 8), 10186},
      {std::string("\x07\x00\xFE\xFF\xFF\xFF\x01\x02", 8), 10186},
      // a non-null value of size 0 cannot be allocated
      {std::string("\x03\x00\x00\x00\x00\x00", 6), 30286},
  };
  for (const Row& row : rows) {
    TVEXMemoryStream stream;
    stream.Write(row.bytes.data(), static_cast<int32_t>(row.bytes.size()));
    stream.SetPosition(0);
    TVEXVariant v;
    try {
      v.LoadFromStream(stream);
      ADD_FAILURE() << row.code;
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, row.code);
      if (!row.message.empty()) {
        EXPECT_EQ(std::string(e.what()), row.message);
      }
    }
    // Nothing half-read stays behind.
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(v.pData(), nullptr);
  }
}

TEST(ValueStreamForm, ReportsAFailedWriteWithTheFieldsCode) {
  // A stream that takes the first `room` bytes and refuses the rest.
  class ShortStream : public TVEXMemoryStream {
   public:
    explicit ShortStream(int32_t room) : FRoom(room) {}
    int32_t Write(const void* buffer, int32_t count) override {
      const int32_t n = std::min(count, FRoom);
      FRoom -= n;
      return n > 0 ? TVEXMemoryStream::Write(buffer, n) : 0;
    }

   private:
    int32_t FRoom;
  };
  TVEXVariant v;
  v.SetAsInteger(1);
  for (auto [room, code] : {std::pair{0, 10179}, {1, 10180}, {2, 10181}, {6, 10182}}) {
    ShortStream stream(room);
    try {
      v.SaveToStream(stream);
      ADD_FAILURE() << code;
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, code);
    }
  }
}

TEST_F(ValueTest, AsVariantReadsByStorageType) {
  struct Row {
    const char* name;
    Payload payload;
    uint16_t varType;
    std::string text;  // VarToStr of the result
  };
  const Row rows[] = {
      {"char", Ansi("ab", bftChar), rtl::varString, "ab"},
      {"varchar", Ansi("ab"), rtl::varString, "ab"},
      {"blob", Blob(std::string("ab\0", 3)), rtl::varString, "ab"},
      // Bytes read from a table carry no terminator: none of them is lost.
      {"stored blob", Blob("data of q"), rtl::varString, "data of q"},
      {"widechar", Wide(u"ab", bftWideChar), rtl::varOleStr, "ab"},
      {"widevarchar", Wide(u"ab"), rtl::varOleStr, "ab"},
      {"int8", I8(-1), rtl::varShortInt, "-1"},
      {"int16", I16(-2), rtl::varSmallint, "-2"},
      {"int32", I32(-3), rtl::varInteger, "-3"},
      {"int64", I64(-4), rtl::varInt64, "-4"},
      {"uint8", U8(5), rtl::varByte, "5"},
      {"uint16", U16(6), rtl::varWord, "6"},
      {"uint32", U32(4000000000u), rtl::varLongWord, "4000000000"},
      {"single", F32(0.5f), rtl::varDouble, "0,5"},
      {"double", F64(1.5), rtl::varDouble, "1,5"},
      {"extended", Ext(2.5L), rtl::varDouble, "2,5"},
      {"currency", Curr(3.5), rtl::varDouble, "3,5"},
      {"date", Date(736213), rtl::varDate, "06.09.2016"},
      {"time", Time(43200000), rtl::varDate, "30.12.1899 12:00:00"},
      {"datetime", DT(736213, 43200000), rtl::varDate, "06.09.2016 12:00:00"},
      {"logical", Logic(true), rtl::varBoolean, "True"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEXVariant v;
    v.SetData(row.payload.bytes.data(), row.payload.Size(), row.payload.type, true);
    const rtl::Variant var = v.AsVariant();
    EXPECT_EQ(var.VarType(), row.varType);
    EXPECT_EQ(rtl::VarToStr(var), row.text);
  }
  EXPECT_TRUE(TVEXVariant(bftSignedInt32).AsVariant().IsNull());
  TVEXVariant clob;
  clob.SetData("ab", 2, bftClob, true);
  try {
    clob.AsVariant();
    FAIL();
  } catch (const EVEXException& e) {
    EXPECT_STREQ(e.what(), "Unsupported Variant Type MEMO - Native error: 30114");
  }
}

TEST_F(ValueTest, AsVariantWritesByVariantType) {
  struct Row {
    const char* name;
    rtl::Variant var;
    Payload expected;
  };
  const Row rows[] = {
      {"smallint", rtl::Variant(int16_t{-2}), I16(-2)},
      {"integer", rtl::Variant(int32_t{-3}), I32(-3)},
      {"single", rtl::Variant(0.5f), F32(0.5f)},
      {"double", rtl::Variant(1.5), F64(1.5)},
      {"currency", rtl::Variant(rtl::Currency::FromRaw(25000)), Curr(2.5)},
      {"date", rtl::Variant::FromDate(42619.5), DT(736213, 43200000)},
      {"olestr", rtl::Variant::OleStr(u"\u0105"), Wide(u"\u0105")},
      {"boolean", rtl::Variant(true), Logic(true)},
      {"shortint", rtl::Variant(int8_t{-1}), I8(-1)},
      {"byte", rtl::Variant(uint8_t{5}), U8(5)},
      {"word", rtl::Variant(uint16_t{6}), U16(6)},
      {"longword", rtl::Variant(uint32_t{4000000000u}), U32(4000000000u)},
      {"int64", rtl::Variant(int64_t{-4}), I64(-4)},
      {"string", rtl::Variant("ab"), Ansi("ab")},
      {"unicode string", rtl::Variant(std::u16string(u"\u0105")), Wide(u"\u0105")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVEXVariant v;
    v.SetAsVariant(row.var);
    ASSERT_FALSE(v.IsNull());
    EXPECT_EQ(v.DataType(), row.expected.type);
    EXPECT_EQ(test::Hex(std::string(static_cast<const char*>(v.pData()), v.DataSize())),
              test::Hex(row.expected.bytes));
  }
  TVEXVariant v;
  v.SetAsInteger(5);
  v.SetAsVariant(rtl::Variant::Null());
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  for (const rtl::Variant& bad : {rtl::Variant(uint64_t{1}), rtl::Variant::ArrayOf({1, 2})}) {
    try {
      v.SetAsVariant(bad);
      FAIL();
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, 30113);
      EXPECT_EQ(std::string(e.what()), "Unsupported Variant Type " + std::to_string(bad.VarType()) +
                                           " - Native error: 30113");
    }
  }
}

// A write that cannot get memory raises instead of leaving the value quietly
// null.
TEST(ValueMemory, AFailedAllocationInATypedWriteRaises) {
  TVEXMemoryManager limited(2);
  TVEXMemoryManager* saved = MemoryManager;
  MemoryManager = &limited;
  int32_t code = 0;
  {
    TVEXVariant v;
    try {
      v.SetAsInteger(5);
    } catch (const EVEXException& e) {
      code = e.NativeError;
    }
    EXPECT_TRUE(v.IsNull());
  }
  MemoryManager = saved;
  EXPECT_EQ(code, 30004);
}

}  // namespace
}  // namespace vex
