#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "VEXExpressionFakes.h"
#include "VEXMetaDefsTestSupport.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"
#include "storage/VEXMetaDefs.h"

namespace vex {
namespace {

using testing::Bytes;
using testing::CodeOf;
using testing::FakeExpression;
using testing::InstalledParser;
using testing::SavedBytes;
using testing::ShortStream;
using testing::StreamOver;

// --- Data sizes and types ----------------------------------------------------

TEST(VEXFieldDefTest, DataSizesOfEveryBaseType) {
  struct Case {
    TVEXBaseFieldType type;
    int32_t memory;
    int32_t disk;
  };
  // Declared size 20 throughout: only the text and byte types use it.
  const Case cases[] = {
      {bftChar, 21, 21},        {bftWideChar, 42, 42},    {bftVarchar, 21, 21},
      {bftWideVarchar, 42, 42}, {bftSignedInt8, 1, 1},    {bftSignedInt16, 2, 2},
      {bftSignedInt32, 4, 4},   {bftSignedInt64, 8, 8},   {bftUnsignedInt8, 1, 1},
      {bftUnsignedInt16, 2, 2}, {bftUnsignedInt32, 4, 4}, {bftSingle, 4, 4},
      {bftDouble, 8, 8},        {bftExtended, 10, 10},    {bftDate, 4, 4},
      {bftTime, 4, 4},          {bftDateTime, 8, 8},      {bftBlob, 10, 6},
      {bftClob, 10, 6},         {bftWideClob, 10, 6},     {bftLogical, 2, 2},
      {bftCurrency, 8, 8},      {bftBytes, 21, 21},       {bftVarBytes, 21, 21},
  };
  for (const Case& c : cases) {
    TVEXFieldDef def;
    def.BaseFieldType = c.type;
    def.FieldSize = 20;
    def.CalcDataSizes();
    EXPECT_EQ(def.MemoryDataSize, c.memory) << int(c.type);
    EXPECT_EQ(def.DiskDataSize, c.disk) << int(c.type);
  }
  for (TVEXBaseFieldType type : {bftUnknown, bftBFile}) {
    TVEXFieldDef def;
    def.BaseFieldType = type;
    EXPECT_EQ(CodeOf([&] { def.CalcDataSizes(); }), 30050) << int(type);
  }
}

TEST(VEXFieldDefTest, SetFieldDefDataTypeDerivesTheOtherTypeAndTheSizes) {
  TVEXFieldDef def;
  def.SetFieldDefDataType(aftString, 20);
  EXPECT_EQ(def.BaseFieldType, bftVarchar);
  EXPECT_EQ(def.FieldSize, 20);
  EXPECT_EQ(def.MemoryDataSize, 21);
  EXPECT_EQ(def.DiskDataSize, 21);

  def.SetFieldDefDataType(bftWideClob, 0);
  EXPECT_EQ(def.AdvancedFieldType, aftWideMemo);
  EXPECT_EQ(def.MemoryDataSize, 10);
  EXPECT_EQ(def.DiskDataSize, 6);
}

TEST(VEXFieldDefTest, UnmappedTypesRaiseAndKeepTheGivenType) {
  TVEXFieldDef byAdvanced;
  try {
    byAdvanced.SetFieldDefDataType(aftUnknown, 5);
    FAIL() << "no exception";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30007);
    EXPECT_NE(e.Message().find("Unsupported data type 'Unknown'"), std::string::npos);
  }
  EXPECT_EQ(byAdvanced.AdvancedFieldType, aftUnknown);
  EXPECT_EQ(byAdvanced.BaseFieldType, bftUnknown);

  TVEXFieldDef byBase;
  EXPECT_EQ(CodeOf([&] { byBase.SetFieldDefDataType(bftBFile, 0); }), 30008);
  EXPECT_EQ(byBase.BaseFieldType, bftBFile);
  EXPECT_EQ(byBase.AdvancedFieldType, aftUnknown);
}

// --- Field definition stream form -------------------------------------------

TEST(VEXFieldDefTest, StreamFormIsByteExactAndReloads) {
  TVEXFieldDef def;
  def.Name = "Qty";
  def.ObjectID = 7;
  def.SetFieldDefDataType(aftInteger, 0);
  def.AutoincIncrement = 2;
  def.AutoincInitialValue = 10;
  def.AutoincMinValue = -5;
  def.AutoincMaxValue = 1000;
  def.AutoincCycled = true;
  def.DefaultValue.SetAsInteger(42);
  def.MemoryOffset = 9;
  def.DiskOffset = 9;
  def.FieldNoReference = 3;

  // No BLOB settings for a non-BLOB field.
  const std::string expected = Bytes()
                                   .header("Qty", 7)
                                   .u8(bftSignedInt32)
                                   .u8(aftInteger)
                                   .i32(0)
                                   .i64(2)
                                   .i64(10)
                                   .i64(-5)
                                   .i64(1000)
                                   .u8(1)
                                   .u8(bftSignedInt32)
                                   .u8(0)
                                   .i32(4)
                                   .i32(42)
                                   .s;
  EXPECT_EQ(SavedBytes(def), expected);

  TVEXFieldDef loaded;
  loaded.LoadFromStream(*StreamOver(expected));
  EXPECT_EQ(loaded.Name, "Qty");
  EXPECT_EQ(loaded.ObjectID, 7);
  EXPECT_EQ(loaded.BaseFieldType, bftSignedInt32);
  EXPECT_EQ(loaded.AdvancedFieldType, aftInteger);
  EXPECT_EQ(loaded.MemoryDataSize, 4);
  EXPECT_EQ(loaded.DiskDataSize, 4);
  EXPECT_EQ(loaded.AutoincIncrement, 2);
  EXPECT_EQ(loaded.AutoincInitialValue, 10);
  EXPECT_EQ(loaded.AutoincMinValue, -5);
  EXPECT_EQ(loaded.AutoincMaxValue, 1000);
  EXPECT_TRUE(loaded.AutoincCycled);
  EXPECT_EQ(loaded.DefaultValue.AsInteger(), 42);
  // Offsets and the visible-field reference are the collection's and cursor's.
  EXPECT_EQ(loaded.MemoryOffset, 0);
  EXPECT_EQ(loaded.DiskOffset, 0);
  EXPECT_EQ(loaded.FieldNoReference, 0);
}

TEST(VEXFieldDefTest, BLOBSettingsAreStoredOnlyForBLOBTypes) {
  TVEXFieldDef blob;
  blob.Name = "B";
  blob.SetFieldDefDataType(aftMemo, 0);
  blob.BLOBCompressionAlgorithm = acaZLIB;
  blob.BLOBCompressionMode = 6;
  blob.BLOBBlockSize = 4096;
  const std::string bytes = SavedBytes(blob);
  const std::string expectedHead =
      Bytes().header("B", -1).u8(bftClob).u8(aftMemo).i32(0).u8(1).u8(6).i32(4096).s;
  EXPECT_EQ(bytes.substr(0, expectedHead.size()), expectedHead);

  TVEXFieldDef loaded;
  loaded.LoadFromStream(*StreamOver(bytes));
  EXPECT_EQ(loaded.BLOBCompressionAlgorithm, acaZLIB);
  EXPECT_EQ(loaded.BLOBCompressionMode, 6);
  EXPECT_EQ(loaded.BLOBBlockSize, 4096);
  EXPECT_EQ(loaded.MemoryDataSize, 10);
  EXPECT_EQ(loaded.DiskDataSize, 6);

  // A non-BLOB field loaded over a definition keeps the BLOB settings it had.
  TVEXFieldDef text;
  text.SetFieldDefDataType(aftString, 5);
  TVEXFieldDef plain;
  plain.BLOBCompressionAlgorithm = acaBZIP;
  plain.BLOBCompressionMode = 9;
  plain.BLOBBlockSize = 777;
  plain.LoadFromStream(*StreamOver(SavedBytes(text)));
  EXPECT_EQ(plain.BaseFieldType, bftVarchar);
  EXPECT_EQ(plain.BLOBCompressionAlgorithm, acaBZIP);
  EXPECT_EQ(plain.BLOBCompressionMode, 9);
  EXPECT_EQ(plain.BLOBBlockSize, 777);
}

TEST(VEXFieldDefTest, DamagedCompressionAlgorithmIsRefused) {
  const std::string bytes =
      Bytes().header("B", 1).u8(bftBlob).u8(aftBlob).i32(0).u8(4).u8(0).i32(100).s;
  TVEXFieldDef def;
  EXPECT_EQ(CodeOf([&] { def.LoadFromStream(*StreamOver(bytes)); }), 10192);
}

// --- Write and read codes of every item -------------------------------------

struct Item {
  int width;
  int32_t writeCode;
  int32_t readCode;
};

// For every byte of a saved definition: a stream that stops taking bytes there
// makes the save raise that item's write code, and one that stops handing out
// bytes there makes the load raise its read code.
template <class Def>
void ExpectItemCodes(const Def& saved, const std::vector<Item>& items) {
  const std::string bytes = SavedBytes(saved);
  int total = 0;
  for (const Item& item : items) total += item.width;
  ASSERT_EQ(static_cast<int>(bytes.size()), total);
  int offset = 0;
  for (const Item& item : items) {
    for (int at = offset; at < offset + item.width; ++at) {
      ShortStream writer({}, at);
      EXPECT_EQ(CodeOf([&] { saved.SaveToStream(writer); }), item.writeCode) << "byte " << at;
      ShortStream reader(bytes, std::numeric_limits<int64_t>::max(), at);
      Def loaded;
      EXPECT_EQ(CodeOf([&] { loaded.LoadFromStream(reader); }), item.readCode) << "byte " << at;
    }
    offset += item.width;
  }
}

const std::vector<Item> kHeader = {{1, 10164, 10166}, {2, 10165, 10167}, {4, 10168, 10169}};

std::vector<Item> With(std::vector<Item> head, const std::vector<Item>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(VEXMetaDefsStreamTest, EveryFieldDefItemHasItsCodes) {
  TVEXFieldDef def;
  def.Name = "AB";
  def.SetFieldDefDataType(aftBlob, 0);
  def.DefaultValue.SetAsAnsiString("xy");
  ExpectItemCodes(def, With(kHeader, {{1, 10170, 10187},
                                      {1, 10171, 10188},
                                      {4, 10172, 10189},
                                      {1, 10175, 10192},
                                      {1, 10176, 10193},
                                      {4, 10177, 10194},
                                      {8, 30412, 30407},
                                      {8, 30413, 30408},
                                      {8, 30414, 30409},
                                      {8, 30415, 30410},
                                      {1, 30416, 30411},
                                      {1, 10179, 10183},
                                      {1, 10180, 10184},
                                      {4, 10181, 10185},
                                      {3, 10182, 10186}}));
}

TEST(VEXMetaDefsStreamTest, EveryIndexDefItemHasItsCodes) {
  TVEXIndexDef def;
  def.Name = "IX";
  def.SetColumnCount(1);
  def.GetIndexColumn(0)->FieldName = "ID";
  ExpectItemCodes(def, With(kHeader, {{1, 10344, 10349},
                                      {1, 10345, 10350},
                                      {1, 10346, 10351},
                                      {4, 10347, 10352},
                                      {4, 10348, 10353},
                                      {1, 10354, 10358},
                                      {2, 10355, 10359},
                                      {1, 10356, 10360},
                                      {1, 10357, 10361},
                                      {4, 20169, 20168}}));
}

TEST(VEXMetaDefsStreamTest, EveryNotNullAndCheckItemHasItsCodes) {
  TVEXConstraintDefNotNull notNull;
  notNull.Name = "NN";
  notNull.SetNames("C", "T", "S");
  notNull.TableSchemaName = "S";
  ExpectItemCodes(notNull, With(kHeader, {{4, 10240, 10249},
                                          {4, 10241, 10250},
                                          {4, 10242, 10251},
                                          {1, 10243, 10252},
                                          {2, 10244, 10253},
                                          {1, 10245, 10254},
                                          {2, 10246, 10255},
                                          {1, 10247, 10256},
                                          {2, 10248, 10257}}));

  TVEXConstraintDefCheck check;
  check.Name = "CK";
  check.SetNames("C", "T", "S");
  check.TableSchemaName = "S";
  check.MaxValue.SetAsInteger(9);
  ExpectItemCodes(check, With(kHeader, {{4, 10227, 10230},
                                        {4, 10228, 10231},
                                        {4, 10229, 10232},
                                        {1, 10221, 10233},
                                        {2, 10222, 10234},
                                        {1, 10223, 10235},
                                        {2, 10224, 10236},
                                        {1, 10225, 10237},
                                        {2, 10226, 10238},
                                        {1, 10179, 10183},
                                        {1, 10180, 10184},
                                        {1, 10179, 10183},
                                        {1, 10180, 10184},
                                        {4, 10181, 10185},
                                        {4, 10182, 10186}}));
}

TEST(VEXMetaDefsStreamTest, EveryUniqueItemHasItsCodes) {
  TVEXConstraintDefUnique def;
  def.Name = "UQ";
  def.TableSchemaName = "S";
  def.TableName = "T";
  def.IndexName = "I";
  def.Columns = {{"C", 5}};
  ExpectItemCodes(def, With(kHeader, {{4, 30313, 30303},
                                      {4, 30314, 30304},
                                      {4, 30318, 30317},
                                      {4, 30315, 30305},
                                      {2, 30316, 30306},
                                      {4, 30317, 30307},
                                      {2, 30318, 30308},
                                      {4, 30323, 30321},
                                      {2, 30324, 30322},
                                      {4, 30319, 30309},
                                      {4, 30320, 30310},
                                      {4, 30321, 30311},
                                      {2, 30322, 30312}}));
}

// --- Constraint stream forms -------------------------------------------------

TEST(VEXConstraintDefTest, NotNullStreamFormIsByteExactAndReloads) {
  TVEXConstraintDefNotNull def;
  def.Name = "NN";
  def.SetNames("C", "T", "");
  def.TableObjectID = 4;
  def.ColumnObjectID = 5;
  const std::string expected = Bytes()
                                   .header("NN", 0)
                                   .i32(0)
                                   .i32(4)
                                   .i32(5)
                                   .u8(1)
                                   .u8(0)
                                   .u8(2)
                                   .u8(1)
                                   .raw("T")
                                   .u8(2)
                                   .u8(1)
                                   .raw("C")
                                   .s;
  EXPECT_EQ(SavedBytes(def), expected);

  TVEXConstraintDefNotNull loaded;
  loaded.LoadFromStream(*StreamOver(expected));
  EXPECT_EQ(loaded.Name, "NN");
  EXPECT_EQ(loaded.ObjectID, 0);
  EXPECT_EQ(loaded.TableSchemaName, "");
  EXPECT_EQ(loaded.TableName, "T");
  EXPECT_EQ(loaded.TableObjectID, 4);
  EXPECT_EQ(loaded.ColumnName, "C");
  EXPECT_EQ(loaded.ColumnObjectID, 5);
  EXPECT_EQ(loaded.ConstraintType, ctNotNull);
}

TEST(VEXConstraintDefTest, UniqueWritesTheSameNamesWithFourByteCounts) {
  TVEXConstraintDefUnique def;
  def.Name = "U";
  def.TableName = "T";
  def.TableObjectID = 4;
  def.IndexName = "IX";
  def.IndexObjectID = 9;
  def.Columns = {{"C", 5}, {"D", 6}};
  const std::string expected = Bytes()
                                   .header("U", -1)
                                   .i32(0)
                                   .i32(4)
                                   .i32(9)
                                   .i32(1)
                                   .u8(0)
                                   .i32(2)
                                   .u8(1)
                                   .raw("T")
                                   .i32(3)
                                   .u8(2)
                                   .raw("IX")
                                   .i32(2)
                                   .i32(5)
                                   .i32(2)
                                   .u8(1)
                                   .raw("C")
                                   .i32(6)
                                   .i32(2)
                                   .u8(1)
                                   .raw("D")
                                   .s;
  EXPECT_EQ(SavedBytes(def), expected);

  // A primary key has the same form.
  TVEXConstraintDefPrimary loaded;
  loaded.LoadFromStream(*StreamOver(expected));
  EXPECT_EQ(loaded.ConstraintType, ctPK);
  EXPECT_EQ(loaded.IndexName, "IX");
  EXPECT_EQ(loaded.IndexObjectID, 9);
  ASSERT_EQ(loaded.Columns.size(), 2u);
  EXPECT_EQ(loaded.Columns[1].ColumnName, "D");
  EXPECT_EQ(loaded.Columns[1].ColumnObjectID, 6);
  EXPECT_EQ(SavedBytes(loaded), expected);
}

TEST(VEXConstraintDefTest, CheckBoundsRoundTrip) {
  TVEXConstraintDefCheck def;
  def.SetNames("Price", "Items", "");
  def.MinValue.SetAsDouble(0.5);
  TVEXConstraintDefCheck loaded;
  loaded.LoadFromStream(*StreamOver(SavedBytes(def)));
  EXPECT_EQ(loaded.ColumnName, "Price");
  EXPECT_DOUBLE_EQ(loaded.MinValue.AsDouble(), 0.5);
  EXPECT_TRUE(loaded.MaxValue.IsNull());
}

// --- Damaged streams and names that do not fit ------------------------------

TEST(VEXMetaDefsStreamTest, DamagedCountsAndNameLengthsRaiseTheItemsReadCode) {
  const std::string notNullHead = Bytes().header("", 0).i32(0).i32(0).i32(0).s;
  const std::string uniqueHead = Bytes().header("", 0).i32(0).i32(0).i32(0).s;
  const std::string indexHead = Bytes().header("IX", 0).u8(0).u8(0).u8(0).s;
  // Whatever follows the size: the autoincrement settings and a null default.
  const std::string fieldTail = Bytes().i64(1).i64(0).i64(0).i64(0).u8(0).u8(0).u8(1).s;
  struct Case {
    const char* what;
    std::string bytes;
    int kind;  // 0 NOT NULL, 1 UNIQUE, 2 index, 3 field
    int32_t code;
  };
  const Case cases[] = {
      // A count of 0 is what a 255-character name wraps to.
      {"count byte 0", notNullHead + Bytes().u8(0).s, 0, 10252},
      {"length byte disagrees with count", notNullHead + Bytes().u8(3).u8(1).raw("ab").s, 0, 10253},
      {"count past 256", uniqueHead + Bytes().i32(257).s, 1, 30305},
      {"negative count", uniqueHead + Bytes().i32(-1).s, 1, 30305},
      {"length byte disagrees with i32 count", uniqueHead + Bytes().i32(2).u8(0).raw("x").s, 1,
       30306},
      {"huge column count",
       uniqueHead + Bytes().i32(1).u8(0).i32(1).u8(0).i32(1).u8(0).i32(0x7FFFFFFF).s, 1, 30309},
      {"negative column count",
       uniqueHead + Bytes().i32(1).u8(0).i32(1).u8(0).i32(1).u8(0).i32(-1).s, 1, 30309},
      {"more columns than bytes left",
       uniqueHead + Bytes().i32(1).u8(0).i32(1).u8(0).i32(1).u8(0).i32(2).i32(0).i32(1).u8(0).s, 1,
       30309},
      {"huge index column count", indexHead + Bytes().i32(0x7FFFFFFF).i32(-1).s, 2, 10352},
      {"negative index column count", indexHead + Bytes().i32(-3).i32(-1).s, 2, 10352},
      {"negative text size",
       Bytes().header("F", 1).u8(bftVarchar).u8(aftString).i32(-1).s + fieldTail, 3, 10189},
      {"text size past what a record can hold",
       Bytes().header("F", 1).u8(bftWideVarchar).u8(aftWideString).i32(0x7FFFFFFF).s + fieldTail, 3,
       10189},
      {"largest text size whose data size fits",
       Bytes().header("F", 1).u8(bftWideVarchar).u8(aftWideString).i32(0x3FFFFFFE).s + fieldTail, 3,
       0},
      {"negative bytes size",
       Bytes().header("F", 1).u8(bftBytes).u8(aftBytes).i32(-2).s + fieldTail, 3, 10189},
  };
  for (const Case& c : cases) {
    auto stream = StreamOver(c.bytes);
    int32_t code = 0;
    if (c.kind == 0) {
      TVEXConstraintDefNotNull def;
      code = CodeOf([&] { def.LoadFromStream(*stream); });
    } else if (c.kind == 1) {
      TVEXConstraintDefUnique def;
      code = CodeOf([&] { def.LoadFromStream(*stream); });
    } else if (c.kind == 2) {
      TVEXIndexDef def;
      code = CodeOf([&] { def.LoadFromStream(*stream); });
    } else {
      TVEXFieldDef def;
      code = CodeOf([&] { def.LoadFromStream(*stream); });
    }
    EXPECT_EQ(code, c.code) << c.what;
  }
}

TEST(VEXMetaDefsStreamTest, NamesTooLongForTheirCountAreRefusedOnSave) {
  const std::string longest(255, 'N');

  // The count byte k = n + 1 cannot hold 256.
  TVEXConstraintDefNotNull notNull;
  notNull.SetNames(longest, "T", "");
  TVEXMemoryStream out;
  EXPECT_EQ(CodeOf([&] { notNull.SaveToStream(out); }), 10247);
  TVEXConstraintDefCheck check;
  check.SetNames("C", longest, "");
  EXPECT_EQ(CodeOf([&] { check.SaveToStream(out); }), 10223);

  // The four-byte counts of a UNIQUE constraint hold it.
  TVEXConstraintDefUnique unique;
  unique.Columns = {{longest, 1}};
  TVEXConstraintDefUnique loaded;
  loaded.LoadFromStream(*StreamOver(SavedBytes(unique)));
  EXPECT_EQ(loaded.Columns.at(0).ColumnName, longest);

  // An index column names a field, which can have no longer name.
  TVEXIndexDef index;
  index.SetColumnCount(1);
  index.GetIndexColumn(0)->FieldName = std::string(256, 'F');
  EXPECT_EQ(CodeOf([&] { index.SaveToStream(out); }), 10354);
}

TEST(VEXMetaDefsTest, NamesAreCutTo255Characters) {
  const std::string text(300, 'x');
  TVEXFieldDef def;
  def.Name = text;
  EXPECT_EQ(def.Name.size(), 255u);

  TVEXConstraintDefCheck check;
  check.SetNames("C", "T", text);
  EXPECT_EQ(check.SchemaName, text.substr(0, 255));
  EXPECT_TRUE(check.TableSchemaName.empty());
}

// --- Index definitions -------------------------------------------------------

TEST(VEXIndexDefTest, StreamRoundTripIsNeverTemporaryAndKeepsSessionFields) {
  TVEXIndexDef def;
  def.Name = "IX_NAME";
  def.ObjectID = 12;
  def.Unique = true;
  def.RootPageNo = 33;
  def.Temporary = true;
  def.SessionID = 3;
  def.SetColumnCount(2);
  *def.GetIndexColumn(0) = {"Name", true, false, 20};
  *def.GetIndexColumn(1) = {"City", false, true, 40};

  TVEXIndexDef loaded;
  loaded.Temporary = true;
  loaded.LoadFromStream(*StreamOver(SavedBytes(def)));
  EXPECT_FALSE(loaded.Temporary);
  EXPECT_EQ(loaded.SessionID, -1);
  EXPECT_EQ(loaded.ObjectID, 12);
  EXPECT_TRUE(loaded.Unique);
  EXPECT_FALSE(loaded.Primary);
  EXPECT_EQ(loaded.RootPageNo, 33);
  ASSERT_EQ(loaded.ColumnCount(), 2);
  EXPECT_EQ(loaded.GetIndexColumn(0)->FieldName, "Name");
  EXPECT_TRUE(loaded.GetIndexColumn(0)->Descending);
  EXPECT_TRUE(loaded.GetIndexColumn(1)->CaseInsensitive);
  EXPECT_EQ(loaded.GetIndexColumn(1)->MaxIndexedSize, 40);
  EXPECT_THROW(loaded.GetIndexColumn(2), rtl::EListError);
}

rtl::TStringList List(std::initializer_list<const char*> items) {
  rtl::TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

TEST(VEXIndexDefTest, AssignByNamesTakesExactEntriesOnly) {
  TVEXIndexDef def;
  def.AssignByNames(List({"A", "B", "C"}), List({"DESC", "desc", "ASC"}),
                    List({"NO_CASE", "no_case", "CASE"}));
  ASSERT_EQ(def.ColumnCount(), 3);
  EXPECT_TRUE(def.GetIndexColumn(0)->Descending);
  EXPECT_TRUE(def.GetIndexColumn(0)->CaseInsensitive);
  EXPECT_FALSE(def.GetIndexColumn(1)->Descending);
  EXPECT_FALSE(def.GetIndexColumn(1)->CaseInsensitive);
  EXPECT_EQ(def.GetIndexColumn(2)->FieldName, "C");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(def.GetIndexColumn(i)->MaxIndexedSize, 20);
}

TEST(VEXIndexDefTest, AssignByNamesWithListsOfDifferentLengthsChangesNothing) {
  TVEXIndexDef def;
  def.AssignByNames(List({"A"}), List({"DESC"}), List({""}));
  try {
    def.AssignByNames(List({"X", "Y"}), List({"ASC"}), List({"", ""}));
    FAIL() << "no exception";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 10278);
    EXPECT_NE(e.Message().find("L1 = 2, L2 = 1"), std::string::npos);
  }
  EXPECT_EQ(CodeOf([&] { def.AssignByNames(List({"X"}), List({"ASC"}), List({})); }), 10279);
  ASSERT_EQ(def.ColumnCount(), 1);
  EXPECT_EQ(def.GetIndexColumn(0)->FieldName, "A");
  EXPECT_TRUE(def.GetIndexColumn(0)->Descending);
}

// --- Assign ------------------------------------------------------------------

TEST(VEXMetaDefsTest, FieldDefAssignCopiesAllButTheVisibleFieldReference) {
  TVEXFieldDef source;
  source.Name = "Price";
  source.ObjectID = 3;
  source.SchemaName = "S";
  source.SchemaID = 2;
  source.SetFieldDefDataType(aftBlob, 0);
  source.MemoryOffset = 5;
  source.DiskOffset = 6;
  source.FieldNoReference = 7;
  source.DefaultValue.SetAsAnsiString("abc");
  source.BLOBCompressionAlgorithm = acaPPM;
  source.BLOBCompressionMode = 4;
  source.BLOBBlockSize = 512;
  source.AutoincIncrement = -1;
  source.AutoincCycled = true;

  TVEXFieldDef copy;
  copy.Assign(source);
  source.DefaultValue.SetAsAnsiString("changed");
  EXPECT_EQ(copy.Name, "Price");
  EXPECT_EQ(copy.ObjectID, 3);
  EXPECT_EQ(copy.SchemaName, "S");
  EXPECT_EQ(copy.SchemaID, 2);
  EXPECT_EQ(copy.BaseFieldType, bftBlob);
  EXPECT_EQ(copy.AdvancedFieldType, aftBlob);
  EXPECT_EQ(copy.MemoryDataSize, 10);
  EXPECT_EQ(copy.DiskDataSize, 6);
  EXPECT_EQ(copy.MemoryOffset, 5);
  EXPECT_EQ(copy.DiskOffset, 6);
  EXPECT_EQ(copy.FieldNoReference, 0);
  EXPECT_EQ(copy.DefaultValue.AsAnsiString(), "abc");
  EXPECT_EQ(copy.BLOBCompressionAlgorithm, acaPPM);
  EXPECT_EQ(copy.BLOBCompressionMode, 4);
  EXPECT_EQ(copy.BLOBBlockSize, 512);
  EXPECT_EQ(copy.AutoincIncrement, -1);
  EXPECT_TRUE(copy.AutoincCycled);

  copy.Assign(copy);
  EXPECT_EQ(copy.DefaultValue.AsAnsiString(), "abc");
}

TEST(VEXMetaDefsTest, AssignFromAnotherKindOfDefinitionIsRefused) {
  TVEXFieldDef field;
  TVEXIndexDef index;
  TVEXConstraintDefNotNull notNull;
  TVEXConstraintDefCheck check;
  TVEXConstraintDefUnique unique;
  EXPECT_THROW(field.Assign(index), rtl::EInvalidOperation);
  EXPECT_THROW(index.Assign(field), rtl::EInvalidOperation);
  EXPECT_THROW(notNull.Assign(check), rtl::EInvalidOperation);
  EXPECT_THROW(unique.Assign(notNull), rtl::EInvalidOperation);
}

TEST(VEXMetaDefsTest, IndexDefAssignCopiesSessionFieldsAndOwnColumns) {
  TVEXIndexDef source;
  source.Temporary = true;
  source.SessionID = 4;
  source.TableState = 17;
  source.NeedRebuild = true;
  source.Primary = true;
  source.SetColumnCount(1);
  *source.GetIndexColumn(0) = {"ID", true, true, 8};

  TVEXIndexDef copy;
  copy.SetColumnCount(3);
  copy.Assign(source);
  source.GetIndexColumn(0)->FieldName = "OTHER";
  EXPECT_TRUE(copy.Temporary);
  EXPECT_EQ(copy.SessionID, 4);
  EXPECT_EQ(copy.TableState, 17);
  EXPECT_TRUE(copy.NeedRebuild);
  EXPECT_TRUE(copy.Primary);
  ASSERT_EQ(copy.ColumnCount(), 1);
  EXPECT_EQ(copy.GetIndexColumn(0)->FieldName, "ID");
  EXPECT_EQ(copy.GetIndexColumn(0)->MaxIndexedSize, 8);
}

TEST(VEXMetaDefsTest, ConstraintAssignCopiesNamesIdsAndOwnBounds) {
  TVEXConstraintDefCheck check;
  check.Name = "CK";
  check.SetNames("C", "T", "S");
  check.ColumnObjectID = 8;
  check.MaxValue.SetAsInteger(100);
  TVEXConstraintDefCheck checkCopy;
  checkCopy.Assign(check);
  check.MaxValue.SetAsInteger(1);
  EXPECT_EQ(checkCopy.Name, "CK");
  EXPECT_EQ(checkCopy.SchemaName, "S");
  EXPECT_EQ(checkCopy.ColumnName, "C");
  EXPECT_EQ(checkCopy.ColumnObjectID, 8);
  EXPECT_EQ(checkCopy.MaxValue.AsInteger(), 100);

  TVEXConstraintDefPrimary pk;
  pk.IndexName = "PK";
  pk.Columns = {{"A", 1}, {"B", 2}};
  TVEXConstraintDefPrimary pkCopy;
  pkCopy.Assign(pk);
  EXPECT_EQ(pkCopy.ConstraintType, ctPK);
  EXPECT_EQ(pkCopy.IndexName, "PK");
  ASSERT_EQ(pkCopy.Columns.size(), 2u);
  EXPECT_EQ(pkCopy.Columns[1].ColumnName, "B");
}

// --- Default-value expressions -----------------------------------------------

// Takes "NOW" (any case of the stored text is not its business) for an
// expression and everything else for a constant.
class FakeParser : public TVEXExpressionParser {
 public:
  bool IsDefaultValueExpression(const TVEXVariant& value) override {
    return !value.IsNull() && value.IsStringDataType() && value.AsAnsiString() == "NOW";
  }
  std::unique_ptr<TVEXBaseExpression> CreateDefaultValueExpression(
      std::u16string_view text) override {
    ++Created;
    return std::make_unique<FakeExpression>(std::u16string(text));
  }
  int Created = 0;
};

TEST(VEXFieldDefTest, DefaultExpressionIsPreparedOnAssignAndLoad) {
  FakeParser parser;
  InstalledParser installed(&parser);

  TVEXFieldDef source;
  source.SetFieldDefDataType(aftDateTime, 0);
  source.DefaultValue.SetAsAnsiString("NOW");
  TVEXFieldDef copy;
  copy.Assign(source);
  ASSERT_NE(copy.DefaultValueExpr, nullptr);
  EXPECT_EQ(static_cast<FakeExpression&>(*copy.DefaultValueExpr).Text, u"NOW");

  TVEXFieldDef loaded;
  loaded.LoadFromStream(*StreamOver(SavedBytes(source)));
  EXPECT_NE(loaded.DefaultValueExpr, nullptr);

  // A constant default drops the expression the definition had.
  source.DefaultValue.SetAsAnsiString("12");
  copy.Assign(source);
  EXPECT_EQ(copy.DefaultValueExpr, nullptr);
  EXPECT_EQ(parser.Created, 2);
}

TEST(VEXFieldDefTest, WithoutAParserNoDefaultIsAnExpression) {
  // The test main starts the SQL layer, which installs a parser.
  testing::InstalledParser none(nullptr);
  TVEXFieldDef def;
  def.DefaultValue.SetAsAnsiString("NOW");
  def.PrepareDefaultValueExpr();
  EXPECT_EQ(def.DefaultValueExpr, nullptr);
}

}  // namespace
}  // namespace vex
