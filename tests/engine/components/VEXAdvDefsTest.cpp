#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "components/VEXAdvDefs.h"
#include "rtl/Exception.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testsupport::RaisesNativeError;

std::string Names(const TVEXAdvFieldDefs& defs) {
  std::string s;
  for (int32_t i = 0; i < defs.Count(); ++i) s += (i ? "," : "") + defs.GetDef(i)->Name;
  return s;
}

std::string Names(const TVEXAdvIndexDefs& defs) {
  std::string s;
  for (int32_t i = 0; i < defs.Count(); ++i) s += (i ? "," : "") + defs.GetDef(i)->Name;
  return s;
}

TEST(VEXAdvFieldDefsTest, NewFieldsHaveTheDefaultsHoweverTheyAreAdded) {
  TVEXAdvFieldDefs defs;
  defs.AddFieldDef();
  defs.Add("Photo", aftBlob, 0, true, caZLIB, 6);
  for (int32_t i = 0; i < defs.Count(); ++i) {
    SCOPED_TRACE(i);
    const TVEXAdvFieldDef& d = *defs.GetDef(i);
    EXPECT_EQ(d.ObjectID, -1);
    EXPECT_EQ(d.BLOBBlockSize, 102400);
    EXPECT_EQ(d.AutoincIncrement, 1);
    EXPECT_EQ(d.AutoincInitialValue, 0);
    EXPECT_EQ(d.AutoincMinValue, 0);
    EXPECT_EQ(d.AutoincMaxValue, INT64_MAX);
    EXPECT_FALSE(d.AutoincCycled);
    EXPECT_TRUE(d.DefaultValue.IsNull() && d.MinValue.IsNull() && d.MaxValue.IsNull());
  }
  const TVEXAdvFieldDef& added = *defs.GetDef(1);
  EXPECT_EQ(added.Name, "Photo");
  EXPECT_EQ(added.DataType, aftBlob);
  EXPECT_TRUE(added.Required);
  EXPECT_EQ(added.BLOBCompressionAlgorithm, caZLIB);
  EXPECT_EQ(added.BLOBCompressionMode, 6);
  EXPECT_THROW(defs.GetDef(2), rtl::EListError);
}

TEST(VEXAdvFieldDefsTest, AssignCopiesEveryItemWithValuesOfItsOwn) {
  TVEXAdvFieldDefs source;
  TVEXAdvFieldDef& a = *source.Add("A", aftInteger, 0, true);
  a.ObjectID = 7;
  a.MinValue.SetAsInteger(1);
  a.MaxValue.SetAsInteger(9);
  a.DefaultValue.SetAsInteger(5);
  a.AutoincCycled = true;
  source.Add("B", aftString, 30, false);

  TVEXAdvFieldDefs copy;
  copy.Add("Old", aftInteger, 0, false);
  copy.Assign(source);
  a.MinValue.SetAsInteger(100);  // the copy must not share the source's data

  ASSERT_EQ(Names(copy), "A,B");
  const TVEXAdvFieldDef& c = *copy.GetDef(0);
  EXPECT_EQ(c.ObjectID, 7);
  EXPECT_TRUE(c.Required);
  EXPECT_TRUE(c.AutoincCycled);
  EXPECT_EQ(c.MinValue.AsInteger(), 1);
  EXPECT_EQ(c.MaxValue.AsInteger(), 9);
  EXPECT_EQ(c.DefaultValue.AsInteger(), 5);
  EXPECT_EQ(copy.GetDef(1)->Size, 30);
}

// Windows-1252: 0xC4 is A with diaeresis, 0xE4 its small letter.
TEST(VEXAdvDefsTest, NameLookupsCompareAsEachIsMeantTo) {
  struct Case {
    const char* what;
    const char* stored;
    const char* asked;
    bool fieldFound;    // TVEXAdvFieldDefs::Find: Latin letters only
    bool fieldDeleted;  // DeleteFieldDef: locale, ignoring case
    bool indexFound;    // index Find and DeleteIndexDef: locale, ignoring case
  };
  const Case cases[] = {
      {"same name", "Name", "Name", true, true, true},
      {"Latin letters differ in case", "Name", "nAME", true, true, true},
      {"accented letter differs in case", "\xC4rger", "\xE4rger", false, true, true},
      {"accented letter the same, Latin differs", "\xC4rger", "\xC4RGER", true, true, true},
      {"accent missing", "\xC4rger", "Arger", false, false, false},
      {"other name", "Name", "City", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TVEXAdvFieldDefs fields;
    fields.Add("First", aftInteger, 0, false);
    fields.Add(c.stored, aftInteger, 0, false);
    EXPECT_EQ(fields.Find(c.asked) == fields.GetDef(1), c.fieldFound);
    if (c.fieldDeleted) {
      fields.DeleteFieldDef(c.asked);
      EXPECT_EQ(Names(fields), "First");
    } else {
      EXPECT_EQ(testsupport::ExpectVEXError(30349, [&] { fields.DeleteFieldDef(c.asked); }),
                std::string("Field '") + c.asked + "' not found - Native error: 30349");
      EXPECT_EQ(fields.Count(), 2);
    }

    TVEXAdvIndexDefs indexes;
    indexes.Add("First", "A", {});
    indexes.Add(c.stored, "A", {});
    EXPECT_EQ(indexes.Find(c.asked) == indexes.GetDef(1), c.indexFound);
    if (c.indexFound) {
      indexes.DeleteIndexDef(c.asked);
      EXPECT_EQ(Names(indexes), "First");
    } else {
      EXPECT_THAT([&] { indexes.DeleteIndexDef(c.asked); }, RaisesNativeError(20190));
      EXPECT_EQ(indexes.Count(), 2);
    }
  }
}

TEST(VEXAdvIndexDefsTest, AssignCanLeaveTemporaryIndexesOut) {
  TVEXAdvIndexDefs source;
  source.Add("ByName", "Name", {db::ixUnique}, false, "Name", "", "30");
  source.Add("my_temporary_order", "City", {});
  source.Add("Flagged", "City", {}, true);
  source.Add("TEMPORARY_INDEX_{1}", "Zip", {});
  source.Add("Last", "Zip", {db::ixPrimary});

  TVEXAdvIndexDefs all;
  all.Assign(source, false);
  EXPECT_EQ(Names(all), "ByName,my_temporary_order,Flagged,TEMPORARY_INDEX_{1},Last");

  TVEXAdvIndexDefs kept;
  kept.Add("Old", "X", {});
  kept.Assign(source, true);
  ASSERT_EQ(Names(kept), "ByName,Last");
  const TVEXAdvIndexDef& first = *kept.GetDef(0);
  EXPECT_EQ(first.Fields, "Name");
  EXPECT_EQ(first.DescFields, "Name");
  EXPECT_EQ(first.MaxIndexedSizes, "30");
  EXPECT_EQ(first.Options, db::TIndexOptions{db::ixUnique});

  // A list assigned from itself keeps what it is asked to keep.
  all.Assign(all, true);
  EXPECT_EQ(Names(all), "ByName,Last");
}

}  // namespace
}  // namespace vex
