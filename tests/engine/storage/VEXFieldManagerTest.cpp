#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VEXExpressionFakes.h"
#include "VEXManagerFakes.h"
#include "VEXMetaDefsTestSupport.h"
#include "engine/foundation/VEXVariantTestSupport.h"
#include "foundation/VEXExcept.h"
#include "storage/VEXFieldManager.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::FakeSession;
using testing::GetField;
using testing::IsFieldNull;
using testing::NullRecord;
using testsupport::CodeOf;

// --- Autoincrement sequences -----------------------------------------------

// 'n': a record with the field null is posted; the field must get Value (or
// the step raises Code and the field stays null). 'e': a record with Value
// given explicitly is posted; the counter must then be Counter.
struct Step {
  char Kind;
  int64_t Value;
  int64_t Counter = 0;
  int32_t Code = 0;
};

struct AutoincCase {
  const char* Name;
  TVEXAdvancedFieldType Type;
  int64_t Increment, Initial, Min, Max;
  bool Cycled;
  std::vector<Step> Steps;
};

Step Next(int64_t value) { return {'n', value}; }
Step Refused() { return {'n', 0, 0, 20160}; }
Step Explicit(int64_t value, int64_t counter) { return {'e', value, counter}; }

constexpr int64_t kMaxInt64 = INT64_MAX;

const AutoincCase kAutoincCases[] = {
    {"defaults", aftAutoInc, 1, 0, 0, kMaxInt64, false, {Next(1), Next(2)}},
    {"increment 0 counts by 1", aftAutoInc, 0, 0, 0, kMaxInt64, false, {Next(1), Next(2)}},
    {"negative increment counts down",
     aftAutoIncLargeint,
     -5,
     0,
     0,
     kMaxInt64,
     false,
     {Next(-5), Next(-10), Next(-15)}},
    {"maximum 0 is no maximum", aftAutoIncLargeint, 1, 1000, 0, 0, false, {Next(1001), Next(1002)}},
    {"cycled maximum 3",
     aftAutoInc,
     1,
     0,
     0,
     3,
     true,
     {Next(1), Next(2), Next(3), Next(0), Next(1)}},
    {"maximum 3 not cycled",
     aftAutoInc,
     1,
     0,
     0,
     3,
     false,
     {Next(1), Next(2), Next(3), Refused(), Refused()}},
    {"explicit above the counter raises it, below leaves it",
     aftAutoInc,
     1,
     4,
     0,
     kMaxInt64,
     false,
     {Explicit(10, 10), Next(11), Explicit(2, 11), Next(12)}},
    {"explicit -1 in a signed 2-byte field is -1",
     aftAutoIncSmallint,
     1,
     5,
     0,
     kMaxInt64,
     false,
     {Explicit(-1, 5), Next(6)}},
    {"explicit 65535 in an unsigned 2-byte field is 65535",
     aftAutoIncWord,
     1,
     0,
     0,
     kMaxInt64,
     false,
     {Explicit(65535, 65535)}},
    {"signed 2-byte field does not wrap",
     aftAutoIncSmallint,
     1,
     32766,
     0,
     kMaxInt64,
     false,
     {Next(32767), Refused(), Refused()}},
    {"unsigned 2-byte field does not wrap to 0",
     aftAutoIncWord,
     1,
     65534,
     0,
     kMaxInt64,
     false,
     {Next(65535), Refused()}},
    {"unsigned byte counting down stops at 0",
     aftAutoIncByte,
     -1,
     2,
     0,
     kMaxInt64,
     false,
     {Next(1), Next(0), Refused()}},
    {"8-byte counter stops at the end of Int64",
     aftAutoIncLargeint,
     1,
     kMaxInt64 - 1,
     0,
     kMaxInt64,
     false,
     {Next(kMaxInt64), Refused()}},
    {"cycled 4-byte unsigned past its maximum",
     aftAutoIncCardinal,
     2,
     0,
     7,
     5,
     true,
     {Next(2), Next(4), Next(7)}},
};

// The field's value read with the sign of its type.
int64_t ReadValue(const TVEXFieldDef& def, const std::vector<uint8_t>& record) {
  const uint8_t* p = record.data() + def.MemoryOffset;
  switch (def.BaseFieldType) {
    case bftSignedInt8:
      return static_cast<int8_t>(p[0]);
    case bftSignedInt16: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case bftSignedInt32: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case bftUnsignedInt8:
      return p[0];
    case bftUnsignedInt16: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case bftUnsignedInt32: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default: {
      int64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
  }
}

TEST(FieldManagerAutoinc, SequencesFollowIncrementMaximumCycleAndExplicitValues) {
  for (const AutoincCase& c : kAutoincCases) {
    SCOPED_TRACE(c.Name);
    TVEXBaseFieldManager manager(nullptr);
    // A plain field first, so the counter is not the first entry.
    AddField(manager.FieldDefs(), "Note", aftInteger);
    TVEXFieldDef* def = AddField(manager.FieldDefs(), "Id", c.Type);
    def->AutoincIncrement = c.Increment;
    def->AutoincInitialValue = c.Initial;
    def->AutoincMinValue = c.Min;
    def->AutoincMaxValue = c.Max;
    def->AutoincCycled = c.Cycled;
    manager.RecalcFieldOffsets();
    manager.InitLastAutoIncValues();
    FakeSession session;
    for (size_t s = 0; s < c.Steps.size(); ++s) {
      const Step& step = c.Steps[s];
      SCOPED_TRACE("step " + std::to_string(s) + " " + step.Kind + std::to_string(step.Value));
      std::vector<uint8_t> record = NullRecord(manager.FieldDefs());
      if (step.Kind == 'n') {
        const int32_t code =
            CodeOf([&] { manager.ApplyAutoincsToRecordBuffer(session, record.data()); });
        EXPECT_EQ(code, step.Code);
        if (step.Code != 0) {
          EXPECT_TRUE(IsFieldNull(record, 1));
          continue;
        }
        EXPECT_FALSE(IsFieldNull(record, 1));
        EXPECT_EQ(ReadValue(*def, record), step.Value);
        EXPECT_EQ(session.Values[def->ObjectID], step.Value);
      } else {
        const uint64_t raw = static_cast<uint64_t>(step.Value);
        std::memcpy(record.data() + def->MemoryOffset, &raw,
                    static_cast<size_t>(def->MemoryDataSize));
        SetBitInBuffer(false, 1, record.data());
        manager.ApplyAutoincsToRecordBuffer(session, record.data());
        EXPECT_EQ(manager.LastAutoIncValues()[1], step.Counter);
      }
      EXPECT_TRUE(IsFieldNull(record, 0)) << "a plain field is left alone";
    }
  }
}

TEST(FieldManagerAutoinc, PassedMaximumNamesTheField) {
  TVEXBaseFieldManager manager(nullptr);
  AddField(manager.FieldDefs(), "Counter", aftAutoIncByte)->AutoincInitialValue = 255;
  manager.RecalcFieldOffsets();
  manager.InitLastAutoIncValues();
  FakeSession session;
  try {
    manager.GetNextAutoinc(session, 0);
    FAIL() << "no error";
  } catch (const EVEXException& e) {
    EXPECT_STREQ(e.what(), "Autoinc max value exceeded for field 'Counter' - Native error: 20160");
  }
}

TEST(FieldManagerAutoinc, FieldNumbersBeyondTheFieldsOrTheCountersAreRefused) {
  TVEXBaseFieldManager manager(nullptr);
  for (const char* name : {"A", "B", "C"}) AddField(manager.FieldDefs(), name, aftAutoInc);
  manager.RecalcFieldOffsets();
  manager.InitLastAutoIncValues();
  FakeSession session;
  EXPECT_EQ(CodeOf([&] { manager.GetNextAutoinc(session, 3); }), 30402);
  EXPECT_EQ(CodeOf([&] { manager.GetNextAutoinc(session, -1); }), 30402);
  // A stored block of one counter for three fields.
  const uint8_t block[12] = {1, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
  int32_t offset = 0;
  manager.LoadMostUpdated(block, offset);
  EXPECT_EQ(manager.GetNextAutoinc(session, 0), 8);
  EXPECT_EQ(CodeOf([&] { manager.GetNextAutoinc(session, 2); }), 30403);
  EXPECT_EQ(CodeOf([&] { manager.UpdateLastAutoinc(session, 2, 5); }), 30403);
}

TEST(FieldManagerAutoinc, LastValueIsPerSessionAndUnknownToANewMultiUserSession) {
  TVEXBaseFieldManager manager(nullptr);
  AddField(manager.FieldDefs(), "Id", aftAutoInc);
  AddField(manager.FieldDefs(), "Name", aftString, 10);
  manager.RecalcFieldOffsets();
  manager.InitLastAutoIncValues();
  FakeSession first, second, multiUser(true), singleUser;
  EXPECT_EQ(manager.GetNextAutoinc(first, 0), 1);
  EXPECT_EQ(manager.GetNextAutoinc(second, 0), 2);
  EXPECT_EQ(manager.GetLastAutoinc(first, 0), 1);
  EXPECT_EQ(manager.GetLastAutoinc(second, 0), 2);
  // An explicit value larger than the counter is the session's last value too.
  manager.UpdateLastAutoinc(first, 0, 40);
  EXPECT_EQ(manager.GetLastAutoinc(first, 0), 40);
  EXPECT_EQ(manager.GetLastAutoinc(second, 0), 2);
  // Without a value of its own: the table's counter, 0 for another field...
  EXPECT_EQ(manager.GetLastAutoinc(singleUser, 0), 40);
  EXPECT_EQ(manager.GetLastAutoinc(singleUser, 1), 0);
  // ...and nothing at all for a multi-user session.
  try {
    manager.GetLastAutoinc(multiUser, 0);
    FAIL() << "no error";
  } catch (const EVEXException& e) {
    EXPECT_STREQ(e.what(),
                 "No SequenceLastValue in session for sequence 'Id'. Call GetNextVal first - "
                 "Native error: 30012");
  }
}

// --- The stored block -------------------------------------------------------

TEST(FieldManagerMostUpdated, BlockIsCountThenEveryCounterLittleEndian) {
  TVEXBaseFieldManager manager(nullptr);
  AddField(manager.FieldDefs(), "Name", aftString, 10);
  AddField(manager.FieldDefs(), "Id", aftAutoInc);
  AddField(manager.FieldDefs(), "Seq", aftAutoIncLargeint)->AutoincInitialValue = -3;
  manager.RecalcFieldOffsets();
  manager.InitLastAutoIncValues();
  FakeSession session;
  manager.GetNextAutoinc(session, 1);
  manager.GetNextAutoinc(session, 1);
  manager.UpdateLastAutoinc(session, 2, 0x0102030405060708);

  std::vector<uint8_t> buffer(48, 0xEE);
  int32_t offset = 5;
  manager.SaveMostUpdated(buffer, offset);
  EXPECT_EQ(offset, 5 + 4 + 3 * 8);
  const std::string expected = testing::Bytes().i32(3).i64(0).i64(2).i64(0x0102030405060708).s;
  EXPECT_EQ(test::Hex(std::string(buffer.begin() + 5, buffer.begin() + offset)),
            test::Hex(expected));
  EXPECT_EQ(buffer[4], 0xEE);
  EXPECT_EQ(buffer[static_cast<size_t>(offset)], 0xEE);

  TVEXBaseFieldManager loaded(nullptr);
  int32_t readOffset = 5;
  loaded.LoadMostUpdated(buffer, readOffset);
  EXPECT_EQ(readOffset, offset);
  EXPECT_EQ(loaded.LastAutoIncValues(), manager.LastAutoIncValues());
}

TEST(FieldManagerMostUpdated, BlocksThatDoNotFitAreRefusedUnchanged) {
  TVEXBaseFieldManager manager(nullptr);
  AddField(manager.FieldDefs(), "Id", aftAutoInc)->AutoincInitialValue = 9;
  manager.RecalcFieldOffsets();
  manager.InitLastAutoIncValues();
  struct Case {
    const char* Name;
    std::string Bytes;
    int32_t Offset;
  };
  const Case cases[] = {
      {"no room for the count", testing::Bytes().u8(1).u8(0).s, 0},
      {"count beyond the buffer", testing::Bytes().i32(2).i64(1).s, 0},
      {"negative count", testing::Bytes().i32(-1).i64(1).s, 0},
      {"offset past the end", testing::Bytes().i32(0).s, 9},
      {"negative offset", testing::Bytes().i32(0).s, -4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> bytes(c.Bytes.begin(), c.Bytes.end());
    int32_t offset = c.Offset;
    EXPECT_EQ(CodeOf([&] { manager.LoadMostUpdated(bytes, offset); }), 20164);
    EXPECT_EQ(offset, c.Offset);
    EXPECT_EQ(manager.LastAutoIncValues(), std::vector<int64_t>{9});
  }
  std::vector<uint8_t> small(11, 0);
  int32_t offset = 0;
  EXPECT_EQ(CodeOf([&] { manager.SaveMostUpdated(small, offset); }), 20164);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(small, std::vector<uint8_t>(11, 0));
}

// --- Defaults -----------------------------------------------------------------

// Takes the text "NOW" for an expression giving the current fake time, and
// "NOTHING" for one giving null.
class FakeDefaultParser : public TVEXExpressionParser {
 public:
  class Expr : public testing::FakeExpression {
   public:
    Expr(FakeDefaultParser& Parser, std::u16string_view Text)
        : FakeExpression(std::u16string(Text)), FParser(Parser) {}
    TVEXVariant* GetValue(bool) override {
      if (Text == u"NOTHING") {
        Value.Clear(bftDateTime);
      } else {
        Value.Clear(bftUnknown);
        Value.SetAsTDateTime(FParser.Now);
      }
      return &Value;
    }

   private:
    FakeDefaultParser& FParser;
  };

  bool IsDefaultValueExpression(const TVEXVariant& Value) override {
    if (!Value.IsStringDataType() || Value.IsNull()) return false;
    const std::string text = Value.AsAnsiString();
    return text == "NOW" || text == "NOTHING";
  }
  std::unique_ptr<TVEXBaseExpression> CreateDefaultValueExpression(
      std::u16string_view Text) override {
    return std::make_unique<Expr>(*this, Text);
  }

  double Now = 45000.25;
};

class FieldManagerDefaults : public ::testing::Test {
 protected:
  TVEXFieldDef* WithDefault(TVEXFieldDef* def, std::string_view text) {
    def->DefaultValue.Clear(bftVarchar);
    def->DefaultValue.SetAsAnsiString(text);
    def->PrepareDefaultValueExpr();
    return def;
  }

  FakeDefaultParser Parser;
  testing::InstalledParser Installed{&Parser};
  TVEXBaseFieldManager Manager{nullptr};
  FakeSession Session;
};

TEST_F(FieldManagerDefaults, ConstantsAreTheSameForEveryRecordAndNowIsTheTimeOfInsertion) {
  TVEXFieldDefs& defs = Manager.FieldDefs();
  AddField(defs, "Count", aftInteger)->DefaultValue.SetAsInteger(42);
  WithDefault(AddField(defs, "City", aftString, 5), "Oslo");
  WithDefault(AddField(defs, "Stamp", aftDateTime), "NOW");
  AddField(defs, "Plain", aftInteger);
  WithDefault(AddField(defs, "Notes", aftMemo), "ignored for a BLOB");
  AddField(defs, "Small", aftSmallint)->DefaultValue.SetAsInteger(-7);  // kept as a 4-byte value
  Manager.RecalcFieldOffsets();
  ASSERT_NE(defs.GetDef(2)->DefaultValueExpr, nullptr);
  ASSERT_EQ(defs.GetDef(1)->DefaultValueExpr, nullptr);

  std::vector<uint8_t> first = NullRecord(defs);
  Manager.ApplyDefaultValuesToRecordBuffer(Session, first.data());
  Parser.Now += 1.5;
  std::vector<uint8_t> second = NullRecord(defs);
  Manager.ApplyDefaultValuesToRecordBuffer(Session, second.data());

  for (const auto* record : {&first, &second}) {
    EXPECT_EQ(GetField<int32_t>(defs, *record, 0), 42);
    EXPECT_STREQ(reinterpret_cast<const char*>(record->data() + defs.GetDef(1)->MemoryOffset),
                 "Oslo");
    EXPECT_TRUE(IsFieldNull(*record, 3));
    EXPECT_TRUE(IsFieldNull(*record, 4));
    EXPECT_EQ(GetField<int16_t>(defs, *record, 5), -7);
    for (int32_t f : {0, 1, 2, 5}) EXPECT_FALSE(IsFieldNull(*record, f)) << f;
  }
  TVEXVariant stamp;
  stamp.SetData(first.data() + defs.GetDef(2)->MemoryOffset, 8, bftDateTime, true);
  EXPECT_DOUBLE_EQ(stamp.AsTDateTime(), 45000.25);
  stamp.SetData(second.data() + defs.GetDef(2)->MemoryOffset, 8, bftDateTime, true);
  EXPECT_DOUBLE_EQ(stamp.AsTDateTime(), 45001.75);
}

TEST_F(FieldManagerDefaults, ExpressionGivingNullLeavesTheFieldNull) {
  TVEXFieldDefs& defs = Manager.FieldDefs();
  WithDefault(AddField(defs, "When", aftDate), "NOTHING");
  Manager.RecalcFieldOffsets();
  std::vector<uint8_t> record = NullRecord(defs);
  Manager.ApplyDefaultValuesToRecordBuffer(Session, record.data());
  EXPECT_TRUE(IsFieldNull(record, 0)) << "a null result must not become day 0";
  EXPECT_EQ(GetField<int32_t>(defs, record, 0), 0);
}

TEST_F(FieldManagerDefaults, DefaultLongerThanItsFieldIsRefusedWithoutOverrun) {
  TVEXFieldDefs& defs = Manager.FieldDefs();
  AddField(defs, "Id", aftInteger);
  WithDefault(AddField(defs, "Code", aftString, 3), "ABCDEFGH");
  Manager.RecalcFieldOffsets();
  // Exactly the record's size on the heap, so a write past the last field
  // would be caught.
  const auto size = static_cast<size_t>(defs.GetMemoryRecordBufferSize());
  std::unique_ptr<uint8_t[]> record(new uint8_t[size]());
  EXPECT_EQ(CodeOf([&] { Manager.ApplyDefaultValuesToRecordBuffer(Session, record.get()); }),
            20056);
}

// --- Record layouts -----------------------------------------------------------

class FieldManagerRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    TVEXFieldDefs& defs = Manager.FieldDefs();
    AddField(defs, "Id", aftInteger);
    AddField(defs, "Photo", aftBlob);
    AddField(defs, "Code", aftString, 3);
    AddField(defs, "Amount", aftLargeint);
    Manager.RecalcFieldOffsets();
  }

  // A memory record whose every byte differs.
  std::vector<uint8_t> Patterned() const {
    std::vector<uint8_t> record(
        static_cast<size_t>(Manager.FieldDefs().GetMemoryRecordBufferSize()));
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(0x10 + i);
    return record;
  }

  TVEXBaseFieldManager Manager{nullptr};
};

TEST_F(FieldManagerRecords, DiskRecordKeepsTheBitmapAndSixBytesOfABlob) {
  const TVEXFieldDefs& defs = Manager.FieldDefs();
  ASSERT_EQ(defs.GetMemoryRecordBufferSize(), 1 + 4 + 10 + 4 + 8);
  ASSERT_EQ(defs.GetDiskRecordBufferSize(), 1 + 4 + 6 + 4 + 8);
  const std::vector<uint8_t> memory = Patterned();
  std::vector<uint8_t> disk(static_cast<size_t>(defs.GetDiskRecordBufferSize()), 0xAA);
  Manager.MemRecordBufferToDiskRecordBuffer(memory.data(), disk.data());
  // Bitmap and Id (bytes 0-4), the BLOB id (memory 5-10), Code and Amount
  // (memory 15-26).
  std::vector<uint8_t> expected(memory.begin(), memory.begin() + 11);
  expected.insert(expected.end(), memory.begin() + 15, memory.end());
  EXPECT_EQ(test::Hex(std::string(disk.begin(), disk.end())),
            test::Hex(std::string(expected.begin(), expected.end())));

  std::vector<uint8_t> back(memory.size(), 0xAA);
  Manager.DiskRecordBufferToMemRecordBuffer(disk.data(), back.data());
  std::vector<uint8_t> expectedBack = memory;
  for (size_t i = 11; i < 15; ++i) expectedBack[i] = 0;  // the BLOB slot's last 4 bytes
  EXPECT_EQ(test::Hex(std::string(back.begin(), back.end())),
            test::Hex(std::string(expectedBack.begin(), expectedBack.end())));
}

TEST_F(FieldManagerRecords, ComparisonSeesAChangeInAnyStoredByte) {
  const std::vector<uint8_t> stored = Patterned();
  ASSERT_TRUE(Manager.CompareRecordBuffers(stored.data(), stored.data()));
  for (size_t i = 0; i < stored.size(); ++i) {
    std::vector<uint8_t> changed = stored;
    changed[i] ^= 0x01;
    // The last 4 bytes of the BLOB slot are not stored data.
    const bool stays = i >= 11 && i < 15;
    EXPECT_EQ(Manager.CompareRecordBuffers(stored.data(), changed.data()), stays) << "byte " << i;
  }
}

TEST_F(FieldManagerRecords, ValuesWithALeadingZeroByteStillCompare) {
  std::vector<uint8_t> a = NullRecord(Manager.FieldDefs());
  std::vector<uint8_t> b = a;
  testing::SetField<int32_t>(Manager.FieldDefs(), a, 0, 256);
  testing::SetField<int32_t>(Manager.FieldDefs(), b, 0, 512);
  EXPECT_FALSE(Manager.CompareRecordBuffers(a.data(), b.data()));
}

TEST(FieldManagerBlobs, FirstBlobFieldNeedsABlockSize) {
  struct Case {
    const char* Name;
    std::vector<std::pair<TVEXAdvancedFieldType, int32_t>> Fields;  // type, block size
    int32_t Code;
    bool Present;
  };
  const Case cases[] = {
      {"no BLOB", {{aftInteger, 0}, {aftString, 0}}, 0, false},
      {"BLOB with a block size", {{aftInteger, 0}, {aftBlob, 512}}, 0, true},
      {"first BLOB without one", {{aftMemo, 0}, {aftBlob, 512}}, 10421, false},
      {"only a later BLOB without one", {{aftWideMemo, 512}, {aftBlob, 0}}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TVEXBaseFieldManager manager(nullptr);
    for (size_t i = 0; i < c.Fields.size(); ++i) {
      AddField(manager.FieldDefs(), "F" + std::to_string(i), c.Fields[i].first, 10)->BLOBBlockSize =
          c.Fields[i].second;
    }
    bool present = false;
    EXPECT_EQ(CodeOf([&] { present = manager.BlobFieldsPresent(); }), c.Code);
    EXPECT_EQ(present, c.Present);
  }
}

}  // namespace
}  // namespace vex
