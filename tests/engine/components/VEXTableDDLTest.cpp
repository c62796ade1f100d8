// Creating a table from the component's definitions: preparing, checking and
// normalising them, and the creation on the in-memory database.
#include <gtest/gtest.h>

#include <string>

#include "components/VEXDefConversions.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXTable.h"
#include "db/FieldDefs.h"
#include "foundation/VEXExcept.h"
#include "storage/VEXDatabaseData.h"
#include "support/NativeError.h"

namespace {

using testsupport::RaisesNativeError;
using namespace vex;

class TableDDL : public ::testing::Test {
 protected:
  void SetUp() override {
    Session.SetDatabaseName("MEMORY");
    Session.SetConnected(true);
    Options.TableName = "Guest";
    Options.InMemory = true;
  }
  void TearDown() override {
    if (Session.InTransaction()) Session.Rollback();
    if (Session.DatabaseData()->TableExists("Guest")) {
      auto c = NewTableCursor(Session, Options);
      c->DeleteTable();
    }
  }
  // The table's engine definitions as a cursor opening it reads them.
  std::unique_ptr<TVEXLocalCursor> OpenGuest() {
    auto c = NewTableCursor(Session, Options);
    TVEXFieldDefs f;
    TVEXIndexDefs i;
    TVEXConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    c->InternalInitFieldDefs();
    return c;
  }

  TVEXLocalSession Session;
  TVEXTableCursorOptions Options;
  TVEXAdvFieldDefs AdvFields;
  TVEXAdvIndexDefs AdvIndexes;
  db::TFieldDefs Fields{nullptr};
  db::TIndexDefs Indexes{nullptr};
};

TEST(TableDefinitionChecks, RefuseWhatCannotBeStoredWithTheirCodes) {
  struct Case {
    const char* Name;
    TVEXAdvancedFieldType Type;
    int32_t Size;
    TCompressionAlgorithm Algorithm;
    uint8_t Mode;
    int32_t Code;  // 0: accepted
    const char* Text;
  };
  const Case cases[] = {
      {"", aftInteger, 0, caNone, 0, 30499, "Missing field name. FieldNo=1, table 'Guest'"},
      {"Name", aftString, 0, caNone, 0, 30453,
       "Cannot create table 'Guest' with field: Name STRING(0)"},
      {"Code", aftBytes, -1, caNone, 0, 30453, "Cannot create table 'Guest' with field: Code"},
      {"Id", aftGuid, 0, caNone, 0, 30453, "Cannot create table 'Guest' with field: Id"},
      {"Notes", aftMemo, 0, caZLIB, 0, 20257,
       "Invalid BlobCompressionMode (must be in 1..9 range) for blob field 'Notes'. "
       "Cannot create table 'Guest'"},
      {"Notes", aftBlob, 0, caPPM, 10, 20257, "blob field 'Notes'"},
      {"Notes", aftMemo, 0, caNone, 0, 0, ""},
      {"Notes", aftMemo, 0, caNone, 200, 0, ""},
      {"Notes", aftWideMemo, 0, caBZIP, 9, 0, ""},
      {"Count", aftInteger, 0, caNone, 0, 0, ""},
  };
  for (const Case& c : cases) {
    TVEXAdvFieldDefs defs;
    defs.Add("Key", aftInteger, 0, true);
    defs.Add(c.Name, c.Type, c.Size, false, c.Algorithm, c.Mode);
    if (c.Code == 0) {
      EXPECT_NO_THROW(CheckAdvFieldDefs(defs, "Guest")) << c.Name;
      continue;
    }
    try {
      CheckAdvFieldDefs(defs, "Guest");
      ADD_FAILURE() << c.Name << ": accepted";
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, c.Code) << c.Name;
      EXPECT_NE(std::string(e.what()).find(c.Text), std::string::npos) << e.what();
    }
  }
}

TEST(TableDefinitionChecks, PrepareTypesDefaultsBoundsAndSizes) {
  TVEXAdvFieldDefs defs;
  TVEXAdvFieldDef& count = *defs.Add("Count", aftInteger, 12, false);
  count.DefaultValue.SetAsAnsiString("7");
  count.MinValue.SetAsAnsiString("");
  count.MaxValue.SetAsAnsiString("99");
  TVEXAdvFieldDef& name = *defs.Add("Name", aftString, 30, false);
  name.DefaultValue.SetAsAnsiString("");
  TVEXAdvFieldDef& id = *defs.Add("Id", aftGuid, 0, false);

  PrepareAdvFieldDefs(defs);

  EXPECT_EQ(count.Size, 0);
  EXPECT_EQ(count.DefaultValue.DataType(), bftSignedInt32);
  EXPECT_EQ(count.DefaultValue.AsInteger(), 7);
  EXPECT_TRUE(count.MinValue.IsNull());
  EXPECT_EQ(count.MinValue.DataType(), bftSignedInt32);
  EXPECT_EQ(count.MaxValue.AsInteger(), 99);
  EXPECT_EQ(name.Size, 30);
  EXPECT_TRUE(name.DefaultValue.IsNull());
  EXPECT_EQ(id.Size, 38);
}

TEST(TableDefinitionChecks, IndexColumnsOfUnsizedOrUnsizedGivenTypesGetTwenty) {
  TVEXAdvFieldDefs adv;
  adv.Add("A", aftInteger, 0, false);
  adv.Add("B", aftString, 30, false);
  adv.Add("C", aftString, 30, false);
  db::TFieldDefs fields(nullptr);
  AdvFieldDefsToFieldDefs(adv, fields);
  TVEXAdvIndexDefs indexes;
  indexes.Add("ByAll", "A;B;C", {}, false, "", "", "10;0;10");
  indexes.Add("ByC", "C", {}, false, "", "", "10");

  NormalizeIndexColumnSizes(indexes, adv, fields);

  EXPECT_EQ(indexes.GetDef(0)->MaxIndexedSizes, "20;20;10");
  EXPECT_EQ(indexes.GetDef(0)->Fields, "A;B;C");
  EXPECT_EQ(indexes.GetDef(1)->MaxIndexedSizes, "10");
}

TEST_F(TableDDL, CreatesFromPlatformFieldDefsOnlyAndBuildsTheAdvancedOnes) {
  db::TFieldDef* id = Fields.AddFieldDef();
  id->SetName("ID");
  id->SetDataType(db::ftInteger);
  id->SetRequired(true);
  db::TFieldDef* name = Fields.AddFieldDef();
  name->SetName("NAME");
  name->SetDataType(db::ftString);
  name->SetSize(20);
  Indexes.Add("ByName", "NAME", {});

  CreateTableFromDefs(Session, Options, AdvFields, AdvIndexes, Fields, Indexes);

  ASSERT_EQ(AdvFields.Count(), 2);
  EXPECT_EQ(AdvFields.GetDef(1)->DataType, aftString);
  EXPECT_EQ(AdvFields.GetDef(1)->Size, 20);
  auto c = OpenGuest();
  ASSERT_EQ(c->FieldDefs().Count(), 2);
  EXPECT_EQ(c->FieldDefs().GetDef(1)->FieldSize, 20);
  const TVEXIndexDef* byName = c->GetIndexDefs().GetIndexDefByName("ByName");
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(byName->GetIndexColumn(0)->MaxIndexedSize, 20);
}

TEST_F(TableDDL, CreatesFromAdvancedDefsAndRebuildsThePlatformOnes) {
  AdvFields.Add("ID", aftAutoInc, 4, true);
  AdvFields.Add("NAME", aftString, 30, false);
  AdvIndexes.Add("PK", "ID", db::TIndexOptions{db::ixPrimary}, false, "", "", "");
  Fields.AddFieldDef()->SetName("STALE");

  CreateTableFromDefs(Session, Options, AdvFields, AdvIndexes, Fields, Indexes);

  ASSERT_EQ(Fields.Count(), 2);
  EXPECT_EQ(Fields[0]->Name(), "ID");
  EXPECT_EQ(AdvFields.GetDef(0)->Size, 0);
  ASSERT_EQ(Indexes.Count(), 1);
  EXPECT_TRUE(Indexes[0]->Options().Contains(db::ixPrimary));
  auto c = OpenGuest();
  EXPECT_EQ(c->FieldDefs().Count(), 2);
}

TEST_F(TableDDL, CreatingInATransactionIsRefusedAndCreatesNothing) {
  AdvFields.Add("ID", aftInteger, 0, false);
  Session.StartTransaction();
  EXPECT_THAT(
      [&] { CreateTableFromDefs(Session, Options, AdvFields, AdvIndexes, Fields, Indexes); },
      RaisesNativeError(20182));
  Session.Rollback();
  EXPECT_FALSE(Session.DatabaseData()->TableExists("Guest"));
}

}  // namespace
