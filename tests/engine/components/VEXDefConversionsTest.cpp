#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/VEXDefConversions.h"
#include "components/VEXEngineError.h"
#include "db/FieldDefs.h"
#include "foundation/VEXConverts.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testsupport::ExpectVEXError;
using testsupport::RaisesNativeError;

std::string Show(const TVEXVariant& v) { return v.IsNull() ? "null" : v.AsAnsiString(); }

// Every constraint in order, with what the conversions fill in.
std::string Show(const TVEXConstraintDefs& defs) {
  std::string s;
  for (int32_t i = 0; i < defs.Count(); ++i) {
    if (i) s += " ";
    const TVEXConstraintDef& c = *defs.GetDef(i);
    switch (c.ConstraintType) {
      case ctNotNull:
        s += "NOTNULL(" + static_cast<const TVEXConstraintDefNotNull&>(c).ColumnName.str() + ")";
        break;
      case ctCheck: {
        const auto& check = static_cast<const TVEXConstraintDefCheck&>(c);
        s += "CHECK(" + check.ColumnName.str() + "," + Show(check.MinValue) + "," +
             Show(check.MaxValue) + ")";
        break;
      }
      default: {
        const auto& u = static_cast<const TVEXConstraintDefUnique&>(c);
        s += (c.ConstraintType == ctPK ? "PK " : "UNIQUE ") + u.Name.str() + " on " +
             u.IndexName.str() + "#" + std::to_string(u.IndexObjectID) + " [";
        for (size_t k = 0; k < u.Columns.size(); ++k)
          s += (k ? "," : "") + u.Columns[k].ColumnName.str();
        s += "] id " + std::to_string(c.ObjectID);
      }
    }
  }
  return s;
}

// "A desc nocase 10; B 20"
std::string Columns(const TVEXIndexDef& def) {
  std::string s;
  for (int32_t i = 0; i < def.ColumnCount(); ++i) {
    const TVEXIndexColumn& c = *def.GetIndexColumn(i);
    if (i) s += "; ";
    s += c.FieldName + (c.Descending ? " desc" : "") + (c.CaseInsensitive ? " nocase" : "") + " " +
         std::to_string(c.MaxIndexedSize);
  }
  return s;
}

std::string Options(db::TIndexOptions o) {
  static const char* names[] = {"Primary",         "Unique",     "Descending",
                                "CaseInsensitive", "Expression", "NonMaintained"};
  std::string s;
  for (int i = 0; i <= db::ixNonMaintained; ++i) {
    if (o.Contains(static_cast<db::TIndexOption>(i)))
      s += std::string(s.empty() ? "" : ",") + names[i];
  }
  return s;
}

std::string Items(const rtl::TStringList& list) {
  std::string s;
  for (int32_t i = 0; i < list.Count(); ++i) s += (i ? "|" : "") + list[i];
  return s;
}

// ---- Field types -----------------------------------------------------------

TEST(VEXDefConversionsTest, PlatformTypesTravelToAdvancedTypesAndBack) {
  struct Case {
    db::TFieldType platform;
    TVEXAdvancedFieldType advanced;
    db::TFieldType back;
  };
  const Case cases[] = {
      {db::ftFixedChar, aftChar, db::ftFixedChar},
      {db::ftString, aftString, db::ftString},
      {db::ftWideString, aftWideChar, db::ftWideString},  // kept as aftWideChar
      {db::ftSmallint, aftSmallint, db::ftSmallint},
      {db::ftInteger, aftInteger, db::ftInteger},
      {db::ftLargeint, aftLargeint, db::ftLargeint},
      {db::ftWord, aftWord, db::ftWord},
      {db::ftAutoInc, aftAutoInc, db::ftAutoInc},
      {db::ftFloat, aftDouble, db::ftFloat},
      {db::ftBCD, aftDouble, db::ftFloat},  // one way
      {db::ftBoolean, aftBoolean, db::ftBoolean},
      {db::ftCurrency, aftCurrency, db::ftCurrency},
      {db::ftDate, aftDate, db::ftDate},
      {db::ftTime, aftTime, db::ftTime},
      {db::ftDateTime, aftDateTime, db::ftDateTime},
      {db::ftTimeStamp, aftTimeStamp, db::ftTimeStamp},
      {db::ftBytes, aftBytes, db::ftBytes},
      {db::ftVarBytes, aftVarBytes, db::ftVarBytes},
      {db::ftBlob, aftBlob, db::ftBlob},
      {db::ftParadoxOle, aftBlob, db::ftBlob},  // the OLE and typed binary kinds: one way
      {db::ftDBaseOle, aftBlob, db::ftBlob},
      {db::ftTypedBinary, aftBlob, db::ftBlob},
      {db::ftOraBlob, aftBlob, db::ftBlob},
      {db::ftOraClob, aftBlob, db::ftBlob},
      {db::ftGraphic, aftGraphic, db::ftGraphic},
      {db::ftMemo, aftMemo, db::ftMemo},
      {db::ftFmtMemo, aftFormattedMemo, db::ftFmtMemo},
      {db::ftWideMemo, aftWideMemo, db::ftWideMemo},
      {db::ftGuid, aftGuid, db::ftGuid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(db::FieldTypeName(c.platform));
    db::TFieldDefs platform(nullptr);
    platform.Add("F", c.platform, 12, true);
    TVEXAdvFieldDefs advanced;
    FieldDefsToAdvFieldDefs(platform, advanced);
    ASSERT_EQ(advanced.Count(), 1);
    const TVEXAdvFieldDef& a = *advanced.GetDef(0);
    EXPECT_EQ(a.DataType, c.advanced);
    EXPECT_EQ(a.Name, "F");
    EXPECT_EQ(a.Size, 12);
    EXPECT_TRUE(a.Required);

    db::TFieldDefs back(nullptr);
    AdvFieldDefsToFieldDefs(advanced, back);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back[0]->DataType(), c.back);
    EXPECT_EQ(back[0]->Size(), 12);
    EXPECT_TRUE(back[0]->Required());
  }
}

TEST(VEXDefConversionsTest, AdvancedTypesWithoutAPlatformTwinTakeTheFirstRowsType) {
  struct Case {
    TVEXAdvancedFieldType advanced;
    db::TFieldType platform;
  };
  const Case cases[] = {
      {aftWideString, db::ftWideString},
      {aftShortint, db::ftSmallint},
      {aftByte, db::ftWord},
      {aftCardinal, db::ftLargeint},
      {aftAutoIncShortint, db::ftAutoInc},
      {aftAutoIncCardinal, db::ftAutoInc},
      {aftAutoIncLargeint, db::ftLargeint},
      {aftSingle, db::ftFloat},
      {aftExtended, db::ftFloat},
      {aftUnknown, db::ftUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.advanced));
    TVEXAdvFieldDefs advanced;
    advanced.Add("F", c.advanced, 0, false);
    db::TFieldDefs platform(nullptr);
    AdvFieldDefsToFieldDefs(advanced, platform);
    ASSERT_EQ(platform.Count(), 1);
    EXPECT_EQ(platform[0]->DataType(), c.platform);
  }
}

TEST(VEXDefConversionsTest, PlatformTypesWithoutARowRaise30289WithTheTypesNumber) {
  const db::TFieldType unknown[] = {db::ftCursor, db::ftADT,           db::ftVariant,
                                    db::ftFMTBcd, db::ftFixedWideChar, db::ftOraInterval};
  for (db::TFieldType type : unknown) {
    SCOPED_TRACE(db::FieldTypeName(type));
    db::TFieldDefs platform(nullptr);
    platform.Add("Kept", db::ftInteger);
    platform.Add("Bad", type);
    platform.Add("After", db::ftInteger);

    TVEXAdvFieldDefs advanced;
    const std::string message =
        ExpectVEXError(30289, [&] { FieldDefsToAdvFieldDefs(platform, advanced); });
    EXPECT_EQ(message, "Unknown DataType: '" + std::to_string(type) + "' - Native error: 30289");
    ASSERT_EQ(advanced.Count(), 1);  // what was converted before stays
    EXPECT_EQ(advanced.GetDef(0)->Name, "Kept");

    TVEXFieldDefs engine;
    EXPECT_THAT([&] { FieldDefsToEngineFieldDefs(platform, engine); }, RaisesNativeError(30289));
    EXPECT_EQ(engine.Count(), 1);
  }
}

TEST(VEXDefConversionsTest, PlatformFieldsBecomeEngineFieldsWithoutConstraints) {
  db::TFieldDefs platform(nullptr);
  platform.Add(std::string(300, 'N'), db::ftString, 40, true);
  platform.Add("Amount", db::ftBCD);
  TVEXFieldDefs engine;
  engine.AddCreated()->Name = "Old";
  FieldDefsToEngineFieldDefs(platform, engine);
  ASSERT_EQ(engine.Count(), 2);
  EXPECT_EQ(engine.GetDef(0)->Name.str(), std::string(255, 'N'));
  EXPECT_EQ(engine.GetDef(0)->AdvancedFieldType, aftString);
  EXPECT_EQ(engine.GetDef(0)->FieldSize, 40);
  EXPECT_EQ(engine.GetDef(0)->MemoryDataSize, 41);
  EXPECT_EQ(engine.GetDef(1)->BaseFieldType, bftDouble);
}

// ---- Advanced fields to engine fields and constraints ----------------------

// A table's definitions from the advanced fields and the engine's indexes.
struct EngineTable {
  TVEXFieldDefs fields;
  TVEXIndexDefs indexes;
  TVEXConstraintDefs constraints;

  TVEXIndexDef& AddIndex(const char* name, std::vector<std::string> columns, bool primary,
                         bool unique, int32_t objectId = 0) {
    TVEXIndexDef& def = *indexes.AddCreated();
    def.Name = name;
    def.Primary = primary;
    def.Unique = unique;
    def.ObjectID = objectId;
    def.SetColumnCount(static_cast<int32_t>(columns.size()));
    for (size_t i = 0; i < columns.size(); ++i) def.GetIndexColumn(i)->FieldName = columns[i];
    return def;
  }
};

TEST(VEXDefConversionsTest, FieldPropertiesGiveNotNullAndCheckOnPermanentTablesOnly) {
  struct Case {
    const char* what;
    bool temporary;
    bool required;
    const char* min;  // nullptr: no bound
    const char* max;
    const char* constraints;
  };
  const Case cases[] = {
      {"required, permanent", false, true, nullptr, nullptr, "NOTNULL(A)"},
      {"required, temporary", true, true, nullptr, nullptr, ""},
      {"both bounds", false, false, "1", "9", "CHECK(A,1,9)"},
      {"minimum only", false, false, "1", nullptr, "CHECK(A,1,null)"},
      {"maximum only", false, false, nullptr, "9", "CHECK(A,null,9)"},
      {"required with bounds", false, true, "1", "9", "NOTNULL(A) CHECK(A,1,9)"},
      {"bounds, temporary", true, true, "1", "9", ""},
      {"nothing", false, false, nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TVEXAdvFieldDefs advanced;
    TVEXAdvFieldDef& a = *advanced.Add("A", aftInteger, 0, c.required);
    if (c.min) a.MinValue.SetAsAnsiString(c.min);
    if (c.max) a.MaxValue.SetAsAnsiString(c.max);
    EngineTable t;
    t.constraints.AddNotNull()->ColumnName = "Old";
    AdvFieldDefsToEngineDefs(advanced, t.fields, t.indexes, t.constraints, c.temporary);
    EXPECT_EQ(Show(t.constraints), c.constraints);
    EXPECT_EQ(t.fields.Count(), 1);
    // The constraint holds copies: changing the field's bound leaves it alone.
    if (c.min) a.MinValue.SetAsAnsiString("100");
    EXPECT_EQ(Show(t.constraints), c.constraints);
  }
}

TEST(VEXDefConversionsTest, UniqueAndPrimaryIndexesGiveNamedConstraints) {
  struct Case {
    const char* what;
    std::vector<std::string> columns;
    bool primary, unique;
    const char* constraints;
  };
  const std::string longName(200, 'L');
  const Case cases[] = {
      {"primary on A and B", {"A", "B"}, true, false, "PK C_PK$A$B on Idx#33 [A,B] id -1"},
      {"primary and unique", {"A"}, true, true, "PK C_PK$A on Idx#33 [A] id -1"},
      {"unique on C", {"C"}, false, true, "UNIQUE C_Unique$C on Idx#33 [C] id -1"},
      {"plain index", {"A"}, false, false, ""},
      {"names cut to 255", {longName, longName}, false, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EngineTable t;
    TVEXIndexDef& index = t.AddIndex("Idx", c.columns, c.primary, c.unique, 33);
    TVEXConstraintDefUnique* made = ConstraintDefFromIndexDef(index, t.constraints);
    if (c.constraints == nullptr) {
      ASSERT_NE(made, nullptr);
      EXPECT_EQ(made->Name.str(), ("C_Unique$" + longName + "$" + longName).substr(0, 255));
      continue;
    }
    EXPECT_EQ(Show(t.constraints), c.constraints);
    EXPECT_EQ(made == nullptr, t.constraints.Count() == 0);
  }
}

TEST(VEXDefConversionsTest, AdvancedFieldsBecomeEngineFieldsAndIndexesAddTheirConstraints) {
  TVEXAdvFieldDefs advanced;
  TVEXAdvFieldDef& id = *advanced.Add("ID", aftAutoIncInteger, 0, true);
  id.AutoincIncrement = 5;
  id.AutoincInitialValue = 100;
  id.AutoincMinValue = 10;
  id.AutoincMaxValue = 1000;
  id.AutoincCycled = true;
  TVEXAdvFieldDef& name = *advanced.Add("Name", aftString, 30, false);
  name.DefaultValue.SetAsAnsiString("none");
  advanced.Add("Photo", aftBlob, 0, false, caPPM, 9)->BLOBBlockSize = 0;
  advanced.Add("Doc", aftMemo, 0, false, caBZIP, 1)->BLOBBlockSize = 4096;

  EngineTable t;
  t.AddIndex("PK", {"ID"}, true, true, 7);
  t.AddIndex("ByName", {"Name"}, false, false);
  t.AddIndex("UName", {"Name", "ID"}, false, true, 8);
  AdvFieldDefsToEngineDefs(advanced, t.fields, t.indexes, t.constraints, false);

  ASSERT_EQ(t.fields.Count(), 4);
  const TVEXFieldDef& f0 = *t.fields.GetDef(0);
  EXPECT_EQ(f0.AdvancedFieldType, aftAutoIncInteger);
  EXPECT_EQ(f0.BaseFieldType, AdvancedToBaseFieldType(aftAutoIncInteger));
  EXPECT_EQ(f0.AutoincIncrement, 5);
  EXPECT_EQ(f0.AutoincInitialValue, 100);
  EXPECT_EQ(f0.AutoincMinValue, 10);
  EXPECT_EQ(f0.AutoincMaxValue, 1000);
  EXPECT_TRUE(f0.AutoincCycled);
  const TVEXFieldDef& f1 = *t.fields.GetDef(1);
  EXPECT_EQ(f1.FieldSize, 30);
  EXPECT_EQ(Show(f1.DefaultValue), "none");
  EXPECT_EQ(f1.DefaultValueExpr, nullptr);  // prepared by the table, not here
  name.DefaultValue.SetAsAnsiString("changed");
  EXPECT_EQ(Show(f1.DefaultValue), "none");
  const TVEXFieldDef& f2 = *t.fields.GetDef(2);
  EXPECT_EQ(f2.BLOBCompressionAlgorithm, acaPPM);
  EXPECT_EQ(f2.BLOBCompressionMode, 9);
  EXPECT_EQ(f2.BLOBBlockSize, 102400);  // none given
  const TVEXFieldDef& f3 = *t.fields.GetDef(3);
  EXPECT_EQ(f3.BLOBCompressionAlgorithm, acaBZIP);
  EXPECT_EQ(f3.BLOBBlockSize, 4096);

  EXPECT_EQ(Show(t.constraints),
            "NOTNULL(ID) PK C_PK$ID on PK#7 [ID] id -1 UNIQUE C_Unique$Name$ID on UName#8 "
            "[Name,ID] id -1");
  EXPECT_EQ(t.indexes.Count(), 3);
}

TEST(VEXDefConversionsTest, AFieldWithoutStorageTypeStopsTheConversionAfterTheFieldsBefore) {
  TVEXAdvFieldDefs advanced;
  advanced.Add("A", aftInteger, 0, true);
  advanced.Add("B", aftUnknown, 0, true);
  advanced.Add("C", aftInteger, 0, true);
  EngineTable t;
  EXPECT_THAT(
      [&] { AdvFieldDefsToEngineDefs(advanced, t.fields, t.indexes, t.constraints, false); },
      RaisesNativeError(30007));
  ASSERT_EQ(t.fields.Count(), 1);
  EXPECT_EQ(t.fields.GetDef(0)->Name.str(), "A");
  EXPECT_EQ(Show(t.constraints), "NOTNULL(A)");
}

// ---- Index definitions -----------------------------------------------------

TEST(VEXDefConversionsTest, ParseFieldNamesToListTakesCommasForSemicolons) {
  struct Case {
    const char* text;
    const char* converted;
    const char* items;
  };
  const Case cases[] = {
      {"A,B", "A;B", "A|B"},       {"A;B", "A;B", "A|B"}, {" A , B ", " A ; B ", "A|B"},
      {"A;;B", "A;;B", "A||B"},    {"A;", "A;", "A"},     {"", "", ""},
      {"A,B;C", "A;B;C", "A|B|C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    rtl::TStringList list;
    list.Add("old");
    std::string text = c.text;
    ParseFieldNamesToList(&list, text);
    EXPECT_EQ(text, c.converted);
    EXPECT_EQ(Items(list), c.items);
    std::string alone = c.text;
    ParseFieldNamesToList(nullptr, alone);
    EXPECT_EQ(alone, c.converted);
  }
}

class BuildIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fields.Add("A", db::ftString, 10);
    fields.Add("B", db::ftInteger);
    fields.Add("C", db::ftString, 10);
  }
  db::TFieldDefs fields{nullptr};
};

TEST_F(BuildIndexTest, ColumnsTakeOrderCaseAndSizeFromTheListsOrTheOptions) {
  struct Case {
    const char* what;
    const char* fields;
    db::TIndexOptions options;
    const char* desc;
    const char* caseIns;
    const char* sizes;
    const char* columns;
  };
  const Case cases[] = {
      {"plain", "A;B", {}, "", "", "", "A 20; B 20"},
      {"ixDescending, empty DESC list",
       "A;B",
       {db::ixDescending},
       "",
       "",
       "",
       "A desc 20; B desc 20"},
      {"DESC list wins over ixDescending",
       "A;B",
       {db::ixDescending},
       "B",
       "",
       "",
       "A 20; B desc 20"},
      {"DESC list ignores case", "A;B", {}, "b", "", "", "A 20; B desc 20"},
      {"ixCaseInsensitive, empty case list",
       "A;C",
       {db::ixCaseInsensitive},
       "",
       "",
       "",
       "A nocase 20; C nocase 20"},
      {"case list wins", "A;C", {db::ixCaseInsensitive}, "", "C", "", "A 20; C nocase 20"},
      {"one size for two fields", "A;B", {}, "", "", "10", "A 10; B 20"},
      {"empty size entry", "A;B", {}, "", "", ";30", "A 20; B 30"},
      {"commas", "A,B,C", {}, "A,C", "C", "5,6,7", "A desc 5; B 6; C desc nocase 7"},
      {"names as listed", "a;B", {}, "", "", "", "a 20; B 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TVEXIndexDef def;
    BuildEngineIndexDef(def, "Idx", c.fields, c.options, false, c.desc, c.caseIns, c.sizes, fields);
    EXPECT_EQ(Columns(def), c.columns);
    EXPECT_FALSE(def.Unique || def.Primary || def.Temporary);
  }

  TVEXIndexDef def;
  BuildEngineIndexDef(def, std::string(300, 'I'), "A", {db::ixPrimary, db::ixUnique}, true, "", "",
                      "", fields);
  EXPECT_EQ(def.Name.size(), 255u);
  EXPECT_TRUE(def.Primary && def.Unique && def.Temporary);
  EXPECT_EQ(def.IndexType, itBTree);
}

TEST_F(BuildIndexTest, BadNamesFieldsAndSizesRaise) {
  struct Case {
    const char* name;
    const char* fields;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"", "A", 20048, "Invalid index name '' - Native error: 20048"},
      {"Idx", "", 20049, "Cannot find index field '' - Native error: 20049"},
      {"Idx", "A;X", 20050, "Cannot find index field 'X' - Native error: 20050"},
      {"Idx", "A;;B", 20050, "Cannot find index field '' - Native error: 20050"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    TVEXIndexDef def;
    EXPECT_EQ(
        ExpectVEXError(
            c.code,
            [&] { BuildEngineIndexDef(def, c.name, c.fields, {}, false, "", "", "", fields); }),
        c.message);
  }
  TVEXIndexDef def;
  EXPECT_THROW(BuildEngineIndexDef(def, "Idx", "A;B", {}, false, "", "", "10;x", fields),
               rtl::EConvertError);
}

TEST_F(BuildIndexTest, AdvancedIndexesBecomeEngineIndexesUpToTheFirstBadOne) {
  TVEXAdvIndexDefs advanced;
  advanced.Add("PK", "B", {db::ixPrimary}, false, "", "", "8");
  advanced.Add("Bad", "A;Missing", {});
  advanced.Add("After", "C", {});
  TVEXIndexDefs engine;
  engine.AddCreated()->Name = "Old";
  EXPECT_THAT([&] { AdvIndexDefsToEngineIndexDefs(advanced, engine, fields); },
              RaisesNativeError(20050));
  ASSERT_EQ(engine.Count(), 1);  // the half-built one is not appended
  EXPECT_EQ(engine.GetIndexDef(0)->Name.str(), "PK");
  EXPECT_EQ(Columns(*engine.GetIndexDef(0)), "B 8");
  EXPECT_TRUE(engine.GetIndexDef(0)->Primary);
}

TEST(VEXDefConversionsTest, EngineIndexesComeBackAsAdvancedAndPlatformIndexes) {
  struct Case {
    const char* what;
    std::vector<std::pair<bool, bool>> columns;  // descending, case-insensitive of A, B
    bool primary, unique, temporary;
    const char* desc;
    const char* caseIns;
    const char* advancedOptions;
    const char* platformOptions;
  };
  const Case cases[] = {
      {"all descending",
       {{true, false}, {true, false}},
       false,
       false,
       false,
       "A;B",
       "",
       "",
       "Descending"},
      {"one descending", {{false, false}, {true, false}}, false, false, false, "B", "", "", ""},
      {"all case-insensitive, primary",
       {{false, true}, {false, true}},
       true,
       true,
       false,
       "",
       "A;B",
       "Primary,Unique",
       "Primary,Unique,CaseInsensitive"},
      {"unique, temporary",
       {{true, true}, {false, false}},
       false,
       true,
       true,
       "A",
       "A",
       "Unique",
       "Unique"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TVEXIndexDefs engine;
    TVEXIndexDef& def = *engine.AddCreated();
    def.Name = "Idx";
    def.Primary = c.primary;
    def.Unique = c.unique;
    def.Temporary = c.temporary;
    def.SetColumnCount(2);
    const char* names[] = {"A", "B"};
    for (int32_t i = 0; i < 2; ++i) {
      TVEXIndexColumn& col = *def.GetIndexColumn(i);
      col.FieldName = names[i];
      col.Descending = c.columns[i].first;
      col.CaseInsensitive = c.columns[i].second;
      col.MaxIndexedSize = 20 + i;
    }
    TVEXAdvIndexDefs advanced;
    advanced.Add("Old", "X", {});
    EngineIndexDefsToAdvIndexDefs(engine, advanced);
    ASSERT_EQ(advanced.Count(), 1);
    const TVEXAdvIndexDef& a = *advanced.GetDef(0);
    EXPECT_EQ(a.Name, "Idx");
    EXPECT_EQ(a.Fields, "A;B");
    EXPECT_EQ(a.DescFields, c.desc);
    EXPECT_EQ(a.CaseInsFields, c.caseIns);
    EXPECT_EQ(a.MaxIndexedSizes, "20;21");
    EXPECT_EQ(Options(a.Options), c.advancedOptions);
    EXPECT_EQ(a.Temporary, c.temporary);

    db::TIndexDefs platform(nullptr);
    AdvIndexDefsToIndexDefs(advanced, platform);
    ASSERT_EQ(platform.Count(), 1);
    EXPECT_EQ(Options(platform[0]->Options()), c.platformOptions);
    EXPECT_EQ(platform[0]->DescFields(), c.desc);
    EXPECT_EQ(platform[0]->CaseInsFields(), c.caseIns);

    TVEXAdvIndexDefs again;
    IndexDefsToAdvIndexDefs(platform, again);
    ASSERT_EQ(again.Count(), 1);
    EXPECT_EQ(again.GetDef(0)->Fields, "A;B");
    EXPECT_EQ(Options(again.GetDef(0)->Options), c.platformOptions);
    EXPECT_EQ(again.GetDef(0)->MaxIndexedSizes, "");
    EXPECT_FALSE(again.GetDef(0)->Temporary);
  }
}

TEST(VEXDefConversionsTest, PlatformOptionsCompareFieldListsTrimmedAndInLatinUpperCase) {
  TVEXAdvIndexDefs advanced;
  advanced.Add("Idx", " Name;City ", {}, false, "NAME;CITY", "name;city");
  advanced.Add("Other", "Name;City", {}, false, "Name; City", "City;Name");
  db::TIndexDefs platform(nullptr);
  AdvIndexDefsToIndexDefs(advanced, platform);
  EXPECT_EQ(Options(platform[0]->Options()), "Descending,CaseInsensitive");
  EXPECT_EQ(Options(platform[1]->Options()), "");
}

// ---- A cursor's fields -----------------------------------------------------

// A table of four fields, of which a projection shows NAME and PRICE, and the
// constraints the table keeps.
class CursorFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddTableField("ID", aftAutoInc, 0, 10);
    AddTableField("NAME", aftString, 20, 11);
    AddTableField("PRICE", aftInteger, 0, 12);
    AddTableField("CODE", aftGuid, 38, 13);
    Show(1);
    Show(2);
    Show(3);
  }
  void AddTableField(const char* name, TVEXAdvancedFieldType type, int32_t size, int32_t id) {
    TVEXFieldDef& f = *table.AddCreated();
    f.Name = name;
    f.ObjectID = id;
    f.SetFieldDefDataType(type, size);
  }
  void Show(int32_t fieldNo) {
    TVEXFieldDef& v = *visible.AddCreated();
    v.Assign(*table.GetDef(fieldNo));
    v.FieldNoReference = fieldNo;
  }
  void NotNull(int32_t columnId) { constraints.AddNotNull()->ColumnObjectID = columnId; }
  void Check(int32_t columnId, int32_t min, int32_t max) {
    TVEXConstraintDefCheck& c = *constraints.AddCheck();
    c.ColumnObjectID = columnId;
    c.MinValue.SetAsInteger(min);
    c.MaxValue.SetAsInteger(max);
  }

  TVEXFieldDefs table;
  TVEXFieldDefs visible;
  TVEXConstraintDefs constraints;
};

TEST_F(CursorFieldsTest, ConstraintsFoldIntoTheVisibleAdvancedFields) {
  table.GetDef(1)->DefaultValue.SetAsAnsiString("n/a");
  visible.GetDef(0)->DefaultValue.SetAsAnsiString("n/a");
  visible.GetDef(0)->BLOBCompressionAlgorithm = acaZLIB;
  NotNull(11);
  Check(12, 1, 100);
  Check(10, 5, 6);  // on ID, which the projection hides
  NotNull(10);
  constraints.AddPK()->Columns.push_back({"ID", 10});
  constraints.AddUnique();

  TVEXAdvFieldDefs advanced;
  advanced.Add("Old", aftInteger, 0, false);
  EngineDefsToAdvFieldDefs(visible, table, constraints, advanced);

  ASSERT_EQ(advanced.Count(), 3);
  const TVEXAdvFieldDef& name = *advanced.GetDef(0);
  EXPECT_EQ(name.Name, "NAME");
  EXPECT_EQ(name.ObjectID, 11);
  EXPECT_EQ(name.DataType, aftString);
  EXPECT_EQ(name.Size, 20);
  EXPECT_TRUE(name.Required);
  EXPECT_EQ(vex::Show(name.DefaultValue), "n/a");
  EXPECT_EQ(name.BLOBCompressionAlgorithm, caZLIB);
  EXPECT_TRUE(name.MinValue.IsNull());
  const TVEXAdvFieldDef& price = *advanced.GetDef(1);
  EXPECT_FALSE(price.Required);
  EXPECT_EQ(vex::Show(price.MinValue), "1");
  EXPECT_EQ(vex::Show(price.MaxValue), "100");
  EXPECT_EQ(advanced.GetDef(2)->Size, 0);  // a GUID has no size of its own
}

TEST_F(CursorFieldsTest, ConstraintsOnUnknownFieldsOrOfUnknownKindsRaise) {
  struct Case {
    const char* what;
    TVEXConstraintType type;
    int32_t columnId;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"NOT NULL on an unknown field", ctNotNull, 99, 30032,
       "Field #99 not found - Native error: 30032"},
      {"CHECK on an unknown field", ctCheck, 98, 30031,
       "Field #98 not found - Native error: 30031"},
      {"a foreign key", ctFK, 11, 30039, "Not implemented yet - Native error: 30039"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    constraints.Clear();
    NotNull(11);
    if (c.type == ctCheck) {
      Check(c.columnId, 1, 2);
    } else {
      NotNull(c.columnId);
      if (c.type == ctFK) constraints.GetDef(1)->ConstraintType = ctFK;
    }
    TVEXAdvFieldDefs advanced;
    EXPECT_EQ(ExpectVEXError(
                  c.code, [&] { EngineDefsToAdvFieldDefs(visible, table, constraints, advanced); }),
              c.message);
    // The fields and the constraints before the bad one are converted.
    ASSERT_EQ(advanced.Count(), 3);
    EXPECT_TRUE(advanced.GetDef(0)->Required);
  }
}

TEST_F(CursorFieldsTest, PlatformFieldsOfACursorAreRequiredByNotNullUnlessAutoincrement) {
  Show(0);  // ID, an autoincrement field, last
  NotNull(10);
  NotNull(11);
  NotNull(77);  // on no visible field
  db::TFieldDefs platform(nullptr);
  platform.Add("Old", db::ftInteger);
  EngineDefsToFieldDefs(visible, constraints, platform);

  struct Expect {
    const char* name;
    db::TFieldType type;
    int32_t size;
    bool required;
  };
  const Expect expected[] = {{"NAME", db::ftString, 20, true},
                             {"PRICE", db::ftInteger, 0, false},
                             {"CODE", db::ftGuid, 0, false},
                             {"ID", db::ftAutoInc, 0, false}};
  ASSERT_EQ(platform.Count(), 4);
  for (int32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(platform[i]->Name(), expected[i].name);
    EXPECT_EQ(platform[i]->DataType(), expected[i].type);
    EXPECT_EQ(platform[i]->Size(), expected[i].size);
    EXPECT_EQ(platform[i]->Required(), expected[i].required);
  }
}

// ---- Helpers ---------------------------------------------------------------

TEST(VEXDefConversionsTest, FieldDefExistsUpperCasesByTheLocale) {
  db::TFieldDefs platform(nullptr);
  platform.Add("\xE4rger", db::ftInteger);  // small a with diaeresis
  EXPECT_TRUE(FieldDefExists(platform, "\xC4RGER"));
  EXPECT_TRUE(FieldDefExists(platform, "\xC4rger"));
  EXPECT_FALSE(FieldDefExists(platform, "ARGER"));
}

TEST(VEXDefConversionsTest, CompressionAlgorithmsKeepTheirNumbers) {
  EXPECT_EQ(ToComponentCompressionAlgorithm(acaNone), caNone);
  EXPECT_EQ(ToComponentCompressionAlgorithm(acaZLIB), caZLIB);
  EXPECT_EQ(ToComponentCompressionAlgorithm(acaBZIP), caBZIP);
  EXPECT_EQ(ToComponentCompressionAlgorithm(acaPPM), caPPM);
  EXPECT_EQ(ToComponentCompressionAlgorithm(static_cast<TVEXCompressionAlgorithm>(9)), caNone);
}

TEST(VEXDefConversionsTest, CheckEngineErrorRaisesTheRecordOperationsError) {
  struct Case {
    int32_t code;
    const char* errMessage;
    const char* message;  // nullptr: nothing raised
  };
  const Case cases[] = {
      {0, "whatever", nullptr},
      {-12, "", "Vexolite Engine Error # -12 Record is locked"},
      {-1, "ignored", "Vexolite Engine Error # -1 Error adding record"},
      {-8, "Value of PRICE is out of range",
       "Vexolite Engine Error # -8 Value of PRICE is out of range"},
      {-13, "", "Vexolite Engine Error # -13 Table is locked"},
      {5, "ignored", "Vexolite Engine Error # 5 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    if (c.message == nullptr) {
      EXPECT_NO_THROW(CheckEngineError(c.code, c.errMessage));
      continue;
    }
    try {
      CheckEngineError(c.code, c.errMessage);
      ADD_FAILURE() << "nothing raised";
    } catch (const db::EDatabaseError& e) {
      const auto* engineError = dynamic_cast<const EVEXEngineError*>(&e);
      ASSERT_NE(engineError, nullptr);
      EXPECT_STREQ(e.what(), c.message);
      EXPECT_EQ(engineError->ErrorCode(), c.code);
    }
  }
}

}  // namespace
}  // namespace vex
