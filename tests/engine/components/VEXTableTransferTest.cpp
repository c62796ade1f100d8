// The table component's long operations on database files made by the engine:
// restructure, copy, import, export, batch move and the SQL script.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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
#include "platform/db/VectorDataSet.h"
#include "rtl/FormatSettings.h"
#include "rtl/Lists.h"
#include "rtl/Variant.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using testsupport::RaisesNativeError;
using namespace vex;

class Transfer : public ::testing::Test {
 protected:
  void SetUp() override {
    File = Dir / "hotel.vex";
    Database = NewDatabase("Hotel", File);
    Database->Open();
  }
  void TearDown() override {
    Tables.clear();
    Databases.clear();
    Database.reset();
  }
  std::unique_ptr<TVEXDatabase> NewDatabase(const std::string& Name, const std::string& Path) {
    {
      TVEXLocalSession creator;
      creator.SetDatabaseName("New" + Name);
      creator.SetDatabaseFileName(Path);
      creator.SetPageSize(4096);
      creator.SetPageCountInExtent(8);
      creator.SetMaxSessionCount(50);
      creator.CreateDatabase();
    }
    auto database = std::make_unique<TVEXDatabase>(nullptr);
    database->SetDatabaseName(Name);
    database->SetDatabaseFileName(Path);
    database->SetSilentMode(true);
    return database;
  }
  TVEXTable& NewTable(const std::string& Name, const std::string& DatabaseName = "Hotel") {
    Tables.push_back(std::make_unique<TVEXTable>(nullptr));
    TVEXTable& t = *Tables.back();
    t.SetDatabaseName(DatabaseName);
    t.SetTableName(Name);
    return t;
  }
  static void AddRow(TVEXTable& t, int32_t Id, const std::string& Name) {
    t.Append();
    t.FieldByName("ID")->SetAsVariant(rtl::Variant(Id));
    t.FieldByName("NAME")->SetAsVariant(rtl::Variant(Name));
    t.Post();
  }
  // Guest (ID Integer primary key "PK", NAME String(20)) with the rows
  // given, closed.
  TVEXTable& GuestTable(const std::vector<std::pair<int32_t, std::string>>& Rows,
                        const std::string& Name = "Guest",
                        const std::string& DatabaseName = "Hotel") {
    TVEXTable& t = NewTable(Name, DatabaseName);
    t.AdvFieldDefs().Add("ID", aftInteger, 0, true);
    t.AdvFieldDefs().Add("NAME", aftString, 20, false);
    t.AdvIndexDefs().Add("PK", "ID", db::TIndexOptions{db::ixPrimary});
    t.CreateTable();
    t.Open();
    for (const auto& [id, name] : Rows) AddRow(t, id, name);
    t.Close();
    return t;
  }
  // "id:name" per row in the table's order (null: "-").
  static std::vector<std::string> Rows(TVEXTable& t, const std::string& NameField = "NAME") {
    const bool wasActive = t.Active();
    t.Open();
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
      db::TField* name = t.FieldByName(NameField);
      rows.push_back(t.FieldByName("ID")->AsString() + ":" +
                     (name->IsNull() ? std::string("-") : name->AsString()));
    }
    if (!wasActive) t.Close();
    return rows;
  }
  bool TableExists(const std::string& Name) { return Database->TableExists(Name); }

  testsupport::ScratchDir Dir;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
  std::string File;
  std::unique_ptr<TVEXDatabase> Database;
  std::vector<std::unique_ptr<TVEXDatabase>> Databases;
  std::vector<std::unique_ptr<TVEXTable>> Tables;
};

// ---- restructure ------------------------------------------------------------

TEST_F(Transfer, RestructureKeepsARenamedFieldsDataAndAddsTheNewField) {
  TVEXTable& t = GuestTable({{1, "Ann"}, {2, "Bob"}});
  t.FieldDefs().Update();
  t.IndexDefs().Update();
  t.RestructureFieldDefs().GetDef(1)->Name = "FULLNAME";
  t.RestructureFieldDefs().Add("ROOM", aftInteger, 0, false);
  std::vector<int32_t> progress;
  t.OnRestructureProgress = [&](rtl::TComponent&, int32_t Percent, bool&) {
    progress.push_back(Percent);
  };
  std::string log;
  EXPECT_TRUE(t.RestructureTable(log)) << log;
  EXPECT_EQ(log, "");
  EXPECT_EQ(t.TableName(), "Guest");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(Rows(t, "FULLNAME"), (std::vector<std::string>{"1:Ann", "2:Bob"}));
  t.Open();
  EXPECT_TRUE(t.FieldByName("ROOM")->IsNull());
  t.Close();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 99);
  rtl::TStringList names;
  Database->GetTablesList(names);
  EXPECT_EQ(names.Count(), 1);  // the old table is gone
}

TEST_F(Transfer, AStoppedRestructureRollsBackToTheOldTableUnderItsName) {
  TVEXTable& t = GuestTable({{1, "Ann"}, {2, "Bob"}});
  t.FieldDefs().Update();
  t.IndexDefs().Update();
  t.RestructureFieldDefs().Add("ROOM", aftInteger, 0, false);
  bool after = false;
  t.OnRestructureProgress = [&](rtl::TComponent&, int32_t, bool& Continue) { Continue = false; };
  t.AfterRestructure = [&](db::TDataSet&) { after = true; };
  std::string log;
  EXPECT_FALSE(t.RestructureTable(log));
  EXPECT_EQ(log, "Terminated by User.\r\n");
  EXPECT_TRUE(after);
  EXPECT_EQ(t.TableName(), "Guest");
  rtl::TStringList names;
  Database->GetTablesList(names);
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names[0], "Guest");
  t.FieldDefs().SetUpdated(false);
  t.FieldDefs().Update();
  EXPECT_EQ(t.FieldDefs().Count(), 2);  // the old structure
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"1:Ann", "2:Bob"}));
}

TEST_F(Transfer, RestructureInATransactionIsRefusedBeforeAnyRename) {
  TVEXTable& t = GuestTable({{1, "Ann"}});
  t.FieldDefs().Update();
  t.IndexDefs().Update();
  Database->StartTransaction();
  EXPECT_THAT([&] { t.RestructureTable(); }, RaisesNativeError(20180));
  Database->Rollback();
  EXPECT_EQ(t.TableName(), "Guest");
  EXPECT_TRUE(TableExists("Guest"));
  EXPECT_EQ(Rows(t), std::vector<std::string>{"1:Ann"});
}

}  // namespace
