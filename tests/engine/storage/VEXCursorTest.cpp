// The shared part of every cursor: field values through visible and table
// field numbers, projection with aliases, index names, positions, ranges and
// buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "VEXDatabaseFakes.h"
#include "VEXManagerFakes.h"
#include "foundation/VEXVariant.h"
#include "rtl/Lists.h"
#include "storage/VEXCursor.h"

namespace vex {
namespace {

using testing::AddField;
using testing::ExpectVEXError;
using testing::NullRecord;
using testing::TestCursor;
using testing::TestSession;

rtl::TStringList List(std::initializer_list<const char*> items) {
  rtl::TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

// A cursor over Id (Integer), Name (String 10), Wide (WideString 4) and
// Amount (Cardinal), every field visible in table order.
class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddField(cursor.FieldDefs(), "Id", aftInteger);
    AddField(cursor.FieldDefs(), "Name", aftString, 10);
    AddField(cursor.FieldDefs(), "Wide", aftWideString, 4);
    AddField(cursor.FieldDefs(), "Amount", aftCardinal);
    cursor.FieldDefs().RecalcFieldOffsets();
    cursor.ApplyProjection(List({"Id", "Name", "Wide", "Amount"}), List({"", "", "", ""}));
    record = NullRecord(cursor.FieldDefs());
    cursor.SetCurrentRecordBuffer(record.data());
  }

  std::vector<std::string> VisibleNames() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < cursor.VisibleFieldDefs().Count(); ++i)
      names.push_back(cursor.VisibleFieldDefs().GetDef(i)->Name.str());
    return names;
  }

  TestSession session;
  TestCursor cursor{session, "Guests"};
  std::vector<uint8_t> record;
};

TEST_F(CursorTest, FieldValuesRoundTripAndEmptyTextsReplaceTheOldText) {
  TVEXVariant text;
  text.SetAsAnsiString("Oslo");
  cursor.SetFieldValue(text, 1, false);
  TVEXVariant amount;
  amount.SetAsInt64(4294967295);
  cursor.SetFieldValue(amount, 3, true);
  EXPECT_EQ(amount.DataType(), bftUnsignedInt32) << "cast in place to the field's type";

  TVEXVariant read;
  cursor.GetFieldValue(read, 1, false);
  EXPECT_EQ(read.DataType(), bftVarchar);
  EXPECT_EQ(read.AsAnsiString(), "Oslo");
  cursor.GetFieldValue(read, 3, true);
  EXPECT_EQ(read.AsInt64(), 4294967295);

  // An empty, non-null text leaves an empty text, not the old one.
  TVEXVariant empty;
  empty.SetData("", 1, bftVarchar, true);
  cursor.SetFieldValue(empty, 1, false);
  EXPECT_FALSE(GetBitFromBuffer(1, record.data()));
  cursor.GetFieldValue(read, 1, false);
  EXPECT_FALSE(read.IsNull());
  EXPECT_EQ(read.AsAnsiString(), "");

  // A null value sets the null bit and keeps the data; reading it marks the
  // value null and keeps its type.
  TVEXVariant null(bftSignedInt32);
  TVEXVariant bergen;
  bergen.SetAsAnsiString("Bergen");
  cursor.SetFieldValue(bergen, 1, false);
  cursor.SetFieldValue(null, 1, false);
  EXPECT_TRUE(GetBitFromBuffer(1, record.data()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record.data() +
                                                cursor.FieldDefs().GetDef(1)->MemoryOffset)),
            "Bergen");
  TVEXVariant typed;
  typed.SetAsInteger(5);
  cursor.GetFieldValue(typed, 1, false);
  EXPECT_TRUE(typed.IsNull());
  EXPECT_EQ(typed.DataType(), bftSignedInt32);
}

TEST_F(CursorTest, ATextLongerThanItsFieldRaises20056WithTheNullBitCleared) {
  TVEXVariant value;
  value.SetAsAnsiString("twelve chars");
  ASSERT_EQ(value.StrLen(), 12);
  ExpectVEXError(20056, [&] { cursor.SetFieldValue(value, 1, false); });
  EXPECT_FALSE(GetBitFromBuffer(1, record.data()));

  SetBitInBuffer(true, 1, record.data());
  std::vector<uint8_t> other = NullRecord(cursor.FieldDefs());
  value.SetAsAnsiString("ten chars!");
  cursor.SetFieldValue(value, 1, false, other.data());
  EXPECT_TRUE(GetBitFromBuffer(1, record.data())) << "the current record is not touched";
  EXPECT_FALSE(GetBitFromBuffer(1, other.data()));
}

TEST_F(CursorTest, FieldNumbersAndBuffersAreCheckedByEveryAccess) {
  TVEXVariant value;
  value.SetAsInteger(1);
  int64_t data = 0;
  struct Case {
    const char* What;
    int32_t Code;
    std::function<void()> Run;
  } cases[] = {
      {"GetFieldData beyond the visible fields", 10005,
       [&] { cursor.GetFieldData(4, &data, record.data()); }},
      {"SetFieldData beyond the visible fields", 10006,
       [&] { cursor.SetFieldData(-1, &data, record.data()); }},
      {"GetFieldValue, table number", 20191, [&] { cursor.GetFieldValue(value, 4, true); }},
      {"GetFieldValue, visible number", 10317, [&] { cursor.GetFieldValue(value, 9, false); }},
      {"SetFieldValue, table number", 20192, [&] { cursor.SetFieldValue(value, -1, true); }},
      {"SetFieldValue, visible number", 20193, [&] { cursor.SetFieldValue(value, 4, false); }},
      {"GetFieldData without a record", 10003, [&] { cursor.GetFieldData(0, &data, nullptr); }},
      {"GetFieldValue without a current record", 10008,
       [&] {
         cursor.SetCurrentRecordBuffer(nullptr);
         cursor.GetFieldValue(value, 0, true);
       }},
      {"SetFieldValue without a record", 10012, [&] { cursor.SetFieldValue(value, 0, true); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ExpectVEXError(c.Code, c.Run);
  }
}

TEST_F(CursorTest, VisibleFieldsMapOntoTheirTableFields) {
  cursor.ApplyProjection(List({"Amount", "Id"}), List({"", ""}));
  const int64_t amount = 4294967295;
  cursor.SetFieldData(0, &amount, record.data());
  int64_t read = 0;
  ASSERT_TRUE(cursor.GetFieldData(0, &read, record.data()));
  EXPECT_EQ(read, 4294967295);
  EXPECT_FALSE(cursor.GetFieldData(1, &read, record.data())) << "Id is still null";
  TVEXVariant value;
  cursor.GetFieldValue(value, 3, true);
  EXPECT_EQ(value.AsInt64(), 4294967295) << "table field 3 is visible field 0";
}

TEST_F(CursorTest, ProjectionNamesAliasesApartAndKeepsRepeatedNames) {
  cursor.ApplyProjection(List({"Id", "Name", "Amount"}), List({"X", "x", "X"}));
  EXPECT_EQ(VisibleNames(), (std::vector<std::string>{"X", "x_1", "X_2"}));
  EXPECT_EQ(cursor.VisibleFieldDefs().GetDef(1)->FieldNoReference, 1);
  EXPECT_EQ(cursor.VisibleFieldDefs().GetDef(2)->FieldNoReference, 3);

  cursor.ApplyProjection(List({"name", "Name"}), List({"", ""}));
  EXPECT_EQ(VisibleNames(), (std::vector<std::string>{"Name", "Name"}))
      << "the same field twice without aliases";

  // An alias that a plain name already bears.
  cursor.ApplyProjection(List({"Id", "Name"}), List({"", "Id"}));
  EXPECT_EQ(VisibleNames(), (std::vector<std::string>{"Id", "Id_1"}));

  struct Case {
    const char* What;
    int32_t Code;
    std::function<void()> Run;
  } cases[] = {
      {"lists of different lengths", 10321,
       [&] {
         cursor.ApplyProjection(List({"Id", "Name"}), List({""}));
       }},
      {"no fields", 10322, [&] { cursor.ApplyProjection(List({}), List({})); }},
      {"an unknown field", 10323,
       [&] {
         cursor.ApplyProjection(List({"Name", "Phone"}), List({"", ""}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ExpectVEXError(c.Code, c.Run);
    EXPECT_EQ(VisibleNames(), (std::vector<std::string>{"Id", "Id_1"}))
        << "a refused projection leaves the one in place";
  }
}

TEST_F(CursorTest, SavingAndRestoringAPositionIsExact) {
  struct Case {
    TVEXPageItemID Id;
    bool First;
    bool Last;
  } cases[] = {{{7, 3}, false, false},
               {{-1, 0}, true, false},
               {{2147483647, 65535}, false, true},
               {{-2147483647 - 1, 1}, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Id.PageNo) + ":" + std::to_string(c.Id.PageItemNo));
    cursor.CurrentRecordID = c.Id;
    cursor.FirstPosition = c.First;
    cursor.LastPosition = c.Last;
    TVEXMemBlock saved = cursor.SavePosition();
    EXPECT_EQ(MemoryManager->GetMemoryBufferSize(saved.Get()), 8);
    cursor.CurrentRecordID = {99, 9};
    cursor.FirstPosition = !c.First;
    cursor.LastPosition = !c.Last;
    cursor.RestorePosition(saved);
    EXPECT_EQ(cursor.CurrentRecordID.PageNo, c.Id.PageNo);
    EXPECT_EQ(cursor.CurrentRecordID.PageItemNo, c.Id.PageItemNo);
    EXPECT_EQ(cursor.FirstPosition, c.First);
    EXPECT_EQ(cursor.LastPosition, c.Last);
    TVEXCursor::FreePosition(saved);
    EXPECT_FALSE(saved);
  }
}

TEST_F(CursorTest, IndexNamesRangesAndFiltersSayWhatRestrictsTheView) {
  TVEXIndexDef* byName = cursor.GetIndexDefs().AddCreated();
  byName->Name = "ByName";
  byName->ObjectID = 41;
  cursor.SetIndexName("BYNAME");
  EXPECT_EQ(cursor.IndexID(), 41);
  EXPECT_TRUE(cursor.IsIndexApplied());
  cursor.SetIndexName("Missing");
  EXPECT_EQ(cursor.IndexID(), -1);
  EXPECT_EQ(cursor.IndexName(), "Missing");
  EXPECT_FALSE(cursor.IsViewRestricted());

  std::vector<uint8_t> start(8, 0x11), end(8, 0x22);
  cursor.ApplyRange(start.data(), end.data(), 1, 2, true, false);
  EXPECT_TRUE(cursor.IsRangeApplied());
  EXPECT_TRUE(cursor.IsViewRestricted());
  EXPECT_EQ(cursor.RangeEndKeyFieldCount, 2);
  EXPECT_TRUE(cursor.RangeStartExclusive);
  cursor.ResetRange();
  EXPECT_FALSE(cursor.IsViewRestricted());
  EXPECT_EQ(start, std::vector<uint8_t>(8, 0x11)) << "the caller's buffers stay untouched";
  EXPECT_EQ(end, std::vector<uint8_t>(8, 0x22));

  cursor.FilterRecord = [](const uint8_t*, db::TDataSet*) { return true; };
  EXPECT_TRUE(cursor.IsFilterApplied());
  cursor.FilterRecord = nullptr;
  cursor.DistinctFieldCount = 1;
  EXPECT_TRUE(cursor.IsDistinctApplied());
  EXPECT_TRUE(cursor.IsViewRestricted());
}

TEST_F(CursorTest, RenamingAFieldRefusesUnknownAndTakenNames) {
  ExpectVEXError(30345, [&] { cursor.RenameField("Phone", "Tel"); });
  ExpectVEXError(30346, [&] { cursor.RenameField("Name", "ID"); });
  ExpectVEXError(30346, [&] { cursor.RenameField("Name", "NAME"); });
  cursor.RenameField("name", "Town");
  EXPECT_EQ(cursor.FieldDefs().GetDef(1)->Name.str(), "Town");
}

TEST_F(CursorTest, StringGarbageIsClearedAfterTheTerminator) {
  const TVEXFieldDef& name = *cursor.FieldDefs().GetDef(1);
  const TVEXFieldDef& wide = *cursor.FieldDefs().GetDef(2);
  std::memcpy(record.data() + name.MemoryOffset, "ab\0defghij", 11);
  SetBitInBuffer(false, 1, record.data());
  std::memset(record.data() + wide.MemoryOffset, 0x41, static_cast<size_t>(wide.MemoryDataSize));
  cursor.ClearStringFieldsGarbage(record.data());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record.data() + name.MemoryOffset), 11),
            std::string("ab\0\0\0\0\0\0\0\0\0", 11));
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + wide.MemoryOffset,
                                 record.begin() + wide.MemoryOffset + wide.MemoryDataSize),
            std::vector<uint8_t>(static_cast<size_t>(wide.MemoryDataSize), 0))
      << "a null text field is cleared whole";
}

TEST_F(CursorTest, RecordBuffersComeZeroedAndGoBackThroughTheMemoryManager) {
  cursor.SetRecordBufferSize(cursor.FieldDefs().GetMemoryRecordBufferSize() + 7);
  TVEXMemBlock block = cursor.AllocateRecordBuffer();
  EXPECT_EQ(
      std::vector<uint8_t>(block.As<uint8_t>(), block.As<uint8_t>() + cursor.RecordBufferSize()),
      std::vector<uint8_t>(static_cast<size_t>(cursor.RecordBufferSize()), 0));
  auto* raw = static_cast<uint8_t*>(block.Release());
  cursor.FreeRecordBuffer(raw);
  EXPECT_EQ(raw, nullptr);
  cursor.FreeRecordBuffer(raw);

  cursor.SetKeyBufferSize(cursor.RecordBufferSize() - 1);
  TVEXMemBlock key = cursor.AllocateKeyRecordBuffer();
  cursor.InternalInitKeyBuffer(key.As<uint8_t>());
  for (int32_t i = 0; i < cursor.FieldDefs().Count(); ++i)
    EXPECT_TRUE(GetBitFromBuffer(i, key.Get()));
}

}  // namespace
}  // namespace vex
