// The table component on a database file made by the engine: tables opened by
// name with their definitions, index choice, structure operations, key
// search, ranges, master-detail and the provider's key fields.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXTable.h"
#include "db/DataSet.h"
#include "db/FieldDefs.h"
#include "engine/components/ScriptedUi.h"
#include "foundation/VEXExcept.h"
#include "rtl/Variant.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using testsupport::RaisesNativeError;
using namespace vex;

std::vector<rtl::Variant> Keys(std::initializer_list<rtl::Variant> Values) { return Values; }

class Table : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Dir / "hotel.vex";
    TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(File);
    creator.SetPageSize(4096);
    creator.SetPageCountInExtent(8);
    creator.SetMaxSessionCount(500);
    creator.CreateDatabase();
    Database = std::make_unique<TVEXDatabase>(nullptr);
    Database->SetDatabaseName("Hotel");
    Database->SetDatabaseFileName(File);
    Database->SetSilentMode(true);
    Database->Open();
  }
  void TearDown() override {
    Tables.clear();
    Database.reset();
  }
  TVEXTable& NewTable(const std::string& Name) {
    Tables.push_back(std::make_unique<TVEXTable>(nullptr));
    TVEXTable& t = *Tables.back();
    t.SetDatabaseName("Hotel");
    t.SetTableName(Name);
    return t;
  }
  // Stay (A Integer, B String(10), C Integer) with the indexes ByA (primary)
  // and ByAB, holding A = 1..5 with B "b<A>" and C = 10 * A.
  TVEXTable& StayTable() {
    TVEXTable& t = NewTable("Stay");
    t.AdvFieldDefs().Add("A", aftInteger, 0, true);
    t.AdvFieldDefs().Add("B", aftString, 10, false);
    t.AdvFieldDefs().Add("C", aftInteger, 0, false);
    t.AdvIndexDefs().Add("ByA", "A", db::TIndexOptions{db::ixPrimary}, false, "", "", "");
    t.AdvIndexDefs().Add("ByAB", "A;B", {}, false, "", "", "");
    t.CreateTable();
    t.Open();
    for (int32_t a = 1; a <= 5; ++a) {
      t.Append();
      t.FieldByName("A")->SetAsVariant(rtl::Variant(a));
      t.FieldByName("B")->SetAsVariant(rtl::Variant("b" + std::to_string(a)));
      t.FieldByName("C")->SetAsVariant(rtl::Variant(10 * a));
      t.Post();
    }
    return t;
  }
  static int32_t A(TVEXTable& t) { return t.FieldByName("A")->AsVariant().AsInteger(); }

  testsupport::ScratchDir Dir;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
  std::string File;
  std::unique_ptr<TVEXDatabase> Database;
  std::vector<std::unique_ptr<TVEXTable>> Tables;
};

TEST_F(Table, OpensByNameWithItsDefinitionsAndChoosesIndexesByNameOrFields) {
  StayTable().Close();
  TVEXTable& t = NewTable("Stay");
  t.FieldDefs().Update();
  ASSERT_EQ(t.FieldDefs().Count(), 3);
  EXPECT_EQ(t.FieldDefs()[1]->Name(), "B");
  EXPECT_EQ(t.FieldDefs()[1]->Size(), 10);
  t.IndexDefs().Update();
  ASSERT_EQ(t.IndexDefs().Count(), 2);
  EXPECT_EQ(t.IndexDefs()[0]->Name(), "ByA");

  t.SetIndexName("ByAB");
  t.Open();
  EXPECT_EQ(t.Handle()->IndexName(), "ByAB");
  EXPECT_EQ(t.IndexFieldCount(), 2);
  t.SetIndexFieldNames("A;B");
  EXPECT_EQ(t.IndexName(), "");
  EXPECT_EQ(t.IndexFieldNames(), "A;B");
  EXPECT_EQ(t.Handle()->IndexName(), "ByAB");
  t.SetIndexFieldNames("A");
  EXPECT_EQ(t.Handle()->IndexName(), "ByA");
  int32_t rows = 0;
  for (t.First(); !t.Eof(); t.Next()) ++rows;
  EXPECT_EQ(rows, 5);
}

TEST_F(Table, CreatesFromFieldDefsOnlyOrFromAdvancedDefsAndRefusesBadOnes) {
  TVEXTable& plain = NewTable("Plain");
  db::TFieldDef* id = plain.FieldDefs().AddFieldDef();
  id->SetName("ID");
  id->SetDataType(db::ftInteger);
  plain.CreateTable();
  EXPECT_EQ(plain.AdvFieldDefs().Count(), 1);
  EXPECT_TRUE(plain.Exists());

  TVEXTable& bad = NewTable("Bad");
  bad.AdvFieldDefs().Add("Name", aftString, 0, false);
  EXPECT_THAT([&] { bad.CreateTable(); }, RaisesNativeError(30453));
  bad.AdvFieldDefs().Clear();
  bad.AdvFieldDefs().Add("Notes", aftMemo, 0, false, caZLIB, 0);
  EXPECT_THAT([&] { bad.CreateTable(); }, RaisesNativeError(20257));
  EXPECT_FALSE(bad.Exists());

  TVEXTable& noName = NewTable("  ");
  EXPECT_THROW(noName.CreateTable(), db::EDatabaseError);
}

TEST_F(Table, StructureOperationsAreRefusedInATransactionButEmptyingIsNot) {
  StayTable().Close();
  TVEXTable& t = NewTable("Stay");
  TVEXTable& fresh = NewTable("Fresh");
  fresh.AdvFieldDefs().Add("X", aftInteger, 0, false);
  Database->StartTransaction();
  struct Case {
    int32_t Code;
    std::function<void()> Run;
  };
  const Case cases[] = {
      {20182, [&] { fresh.CreateTable(); }},        {20183, [&] { t.DeleteTable(); }},
      {20181, [&] { t.RenameTable("Other"); }},     {20179, [&] { t.RenameField("C", "D"); }},
      {20175, [&] { t.AddIndex("ByC", "C", {}); }}, {20177, [&] { t.DeleteIndex("ByAB"); }},
      {20178, [&] { t.DeleteAllIndexes(); }},
  };
  for (const Case& c : cases) EXPECT_THAT(c.Run, RaisesNativeError(c.Code)) << c.Code;
  EXPECT_NO_THROW(t.EmptyTable());
  Database->Commit();
  EXPECT_FALSE(t.Active());
  EXPECT_FALSE(fresh.Exists());
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(t.FieldDefs().Count(), 3);
  t.Close();

  t.AddIndex("ByC", "C", {});
  t.RenameTable("Other");
  EXPECT_EQ(t.TableName(), "Other");
  t.IndexDefs().Update();
  EXPECT_NE(t.IndexDefs().Find("ByC"), nullptr);
  t.DeleteTable();
  EXPECT_FALSE(t.Exists());
}

TEST_F(Table, AddIndexFailsWhileAnotherConnectionHasTheTableOpen) {
  StayTable().Close();
  testsupport::FakeClockScope clock;
  TVEXLocalSession other;
  other.SetDatabaseName("Hotel");
  other.SetDatabaseFileName(File);
  other.SetSessionName("Other");
  other.SetMultiUser(true);
  Database->Close();
  Database->SetMultiUser(true);
  Database->Open();
  other.SetConnected(true);
  TVEXTableCursorOptions options;
  options.TableName = "Stay";
  auto cursor = NewTableCursor(other, options);
  TVEXFieldDefs f;
  TVEXIndexDefs i;
  TVEXConstraintDefs k;
  cursor->OpenTableByFieldDefs(f, i, k);

  TVEXTable& t = NewTable("Stay");
  const auto sleepsBefore = clock.Clock.SleepCount();
  EXPECT_THAT([&] { t.AddIndex("ByC", "C", {}); }, RaisesNativeError(20228));
  EXPECT_GE(clock.Clock.SleepCount() - sleepsBefore, 49u);
  cursor.reset();
  EXPECT_NO_THROW(t.AddIndex("ByC", "C", {}));
  t.IndexDefs().Update();
  EXPECT_NE(t.IndexDefs().Find("ByC"), nullptr);
}

// A multi-user insert reloads the committed counters before it writes; the
// values the record took from them must stay counted, or every insert hands
// out the same value and a key on the field refuses the second record.
TEST_F(Table, MultiUserInsertsCountTheirAutoincValuesOn) {
  Database->Close();
  Database->SetMultiUser(true);
  Database->Open();
  TVEXTable& t = NewTable("Runs");
  t.AdvFieldDefs().Add("ID", aftAutoInc, 0, false);
  t.AdvFieldDefs().Add("V", aftInteger, 0, false);
  t.AdvIndexDefs().Add("ByID", "ID", db::TIndexOptions{db::ixPrimary}, false, "", "", "");
  t.CreateTable();
  t.Open();
  std::vector<int32_t> ids;
  for (int32_t v = 1; v <= 3; ++v) {
    t.Append();
    t.FieldByName("V")->SetAsInteger(v);
    t.Post();
    ids.push_back(t.FieldByName("ID")->AsInteger());
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
  // A value given explicitly raises the counter for the next one.
  t.Append();
  t.FieldByName("ID")->SetAsInteger(10);
  t.Post();
  t.Append();
  t.Post();
  EXPECT_EQ(t.FieldByName("ID")->AsInteger(), 11);
}

TEST_F(Table, TemporaryTablesLiveInTEMPAndExistsIsFalseOnAnyFailure) {
  TVEXTable& t = NewTable("Scratch");
  t.SetTemporary(true);
  EXPECT_EQ(t.DatabaseName(), "TEMP");

  TVEXTable& noDatabase = NewTable("Stay");
  noDatabase.SetDatabaseName("");
  EXPECT_FALSE(noDatabase.Exists());
  TVEXTable& unknown = NewTable("Stay");
  unknown.SetDatabaseName("Nowhere");
  EXPECT_FALSE(unknown.Exists());
  EXPECT_FALSE(NewTable("Missing").Exists());
}

TEST_F(Table, AMemoDefaultTextFillsANewRecordButAWideMemoDefaultDoesNot) {
  TVEXTable& t = NewTable("Notes");
  t.AdvFieldDefs().Add("ID", aftInteger, 0, false);
  t.AdvFieldDefs().Add("Memo", aftMemo, 0, false)->DefaultValue.SetAsAnsiString("no remarks");
  t.AdvFieldDefs().Add("Wide", aftWideMemo, 0, false)->DefaultValue.SetAsAnsiString("none");
  t.CreateTable();
  t.Open();
  t.Append();
  t.FieldByName("ID")->SetAsVariant(rtl::Variant(1));
  t.Post();
  t.First();
  EXPECT_EQ(t.FieldByName("Memo")->AsString(), "no remarks");
  EXPECT_TRUE(t.FieldByName("Wide")->IsNull());
}

TEST_F(Table, FindKeySearchesTheLeadingFieldsOfTheCurrentIndex) {
  TVEXTable& t = StayTable();
  EXPECT_THROW(t.FindKey(Keys({3})), db::EDatabaseError);  // no index active
  t.SetIndexName("ByAB");
  EXPECT_TRUE(t.FindKey(Keys({3})));
  EXPECT_EQ(A(t), 3);
  EXPECT_TRUE(t.FindKey(Keys({4, "b4"})));
  EXPECT_EQ(A(t), 4);
  EXPECT_FALSE(t.FindKey(Keys({4, "zz"})));
  EXPECT_EQ(A(t), 4);
  EXPECT_FALSE(t.FindKey(Keys({9})));
}

TEST_F(Table, GotoNearestHonoursKeyExclusiveAndStopsOnTheLastRecord) {
  TVEXTable& t = StayTable();
  t.SetIndexName("ByA");
  t.FindNearest(Keys({3}));
  EXPECT_EQ(A(t), 3);
  t.SetKey();
  t.FieldByName("A")->SetAsVariant(rtl::Variant(3));
  t.SetKeyExclusive(true);
  t.Post();
  t.GotoNearest();
  EXPECT_EQ(A(t), 4);
  t.FindNearest(Keys({9}));
  EXPECT_EQ(A(t), 5);
}

TEST_F(Table, KeyHeaderNeedsKeyEditingAndCancelRestoresTheKey) {
  TVEXTable& t = StayTable();
  t.SetIndexName("ByA");
  EXPECT_THROW(t.KeyFieldCount(), db::EDatabaseError);
  EXPECT_THROW(t.KeyExclusive(), db::EDatabaseError);
  t.SetKey();
  t.FieldByName("A")->SetAsVariant(rtl::Variant(2));
  t.SetKeyFieldCount(1);
  t.Post();
  t.EditKey();
  EXPECT_EQ(t.FieldByName("A")->AsVariant().AsInteger(), 2);
  EXPECT_EQ(t.KeyFieldCount(), 1);
  t.FieldByName("A")->SetAsVariant(rtl::Variant(4));
  t.Cancel();
  EXPECT_EQ(t.State(), db::dsBrowse);
  EXPECT_TRUE(t.GotoKey());
  EXPECT_EQ(A(t), 2);
}

TEST_F(Table, ARangeShowsItsKeysAndTheSameRangeAgainDoesNotMove) {
  TVEXTable& t = StayTable();
  t.SetIndexName("ByA");
  t.SetRange(Keys({2}), Keys({4}));
  EXPECT_EQ(A(t), 2);
  std::vector<int32_t> seen;
  for (t.First(); !t.Eof(); t.Next()) seen.push_back(A(t));
  EXPECT_EQ(seen, (std::vector<int32_t>{2, 3, 4}));
  t.First();
  t.Next();
  t.SetRange(Keys({2}), Keys({4}));
  EXPECT_EQ(A(t), 3);  // the same range: no move
  t.CancelRange();
  seen.clear();
  for (t.First(); !t.Eof(); t.Next()) seen.push_back(A(t));
  EXPECT_EQ(seen.size(), 5u);
}

TEST_F(Table, ADetailFollowsItsMasterAndTakesItsValuesInNewRecords) {
  TVEXTable& master = StayTable();
  master.SetIndexName("ByA");
  TVEXTable& detail = NewTable("Night");
  detail.AdvFieldDefs().Add("A", aftInteger, 0, false);
  detail.AdvFieldDefs().Add("N", aftInteger, 0, false);
  detail.AdvIndexDefs().Add("ByAN", "A;N", {}, false, "", "", "");
  detail.CreateTable();
  detail.Open();
  for (int32_t a : {1, 2, 2, 3}) {
    detail.Append();
    detail.FieldByName("A")->SetAsVariant(rtl::Variant(a));
    detail.FieldByName("N")->SetAsVariant(rtl::Variant(a * 100 + detail.RecordCount()));
    detail.Post();
  }
  detail.Close();
  db::TDataSource source(nullptr);
  source.SetDataSet(&master);
  detail.SetIndexName("ByAN");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("A");
  detail.Open();

  const auto rows = [&] {
    int32_t n = 0;
    for (detail.First(); !detail.Eof(); detail.Next()) ++n;
    return n;
  };
  master.FindKey(Keys({2}));
  EXPECT_EQ(rows(), 2);
  master.FindKey(Keys({4}));
  EXPECT_EQ(rows(), 0);
  detail.Append();
  detail.FieldByName("N")->SetAsVariant(rtl::Variant(7));
  EXPECT_EQ(detail.FieldByName("A")->AsVariant().AsInteger(), 4);
  detail.Post();
  EXPECT_EQ(rows(), 1);

  master.Close();
  EXPECT_EQ(rows(), 5);
  EXPECT_THROW(master.SetMasterSource(&source), db::EDatabaseError);
}

TEST_F(Table, ProviderKeyFieldsComeFromAUniqueIndexOrAreAllFields) {
  EXPECT_EQ(StayTable().PSGetKeyFields(), "A");
  TVEXTable& t = NewTable("Loose");
  t.AdvFieldDefs().Add("X", aftInteger, 0, false);
  t.AdvFieldDefs().Add("Y", aftString, 5, false);
  t.AdvIndexDefs().Add("ByY", "Y", {}, false, "", "", "");
  t.CreateTable();
  t.Open();
  EXPECT_EQ(t.PSGetKeyFields(), "X;Y");
}

}  // namespace
