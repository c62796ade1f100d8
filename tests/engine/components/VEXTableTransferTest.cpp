// The table component's long operations on database files made by the engine:
// restructure, copy, import, export, batch move and the SQL script.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/DataSet.h"
#include "db/FieldDefs.h"
#include "db/Fields.h"
#include "engine/components/ScriptedUi.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "platform/db/VectorDataSet.h"
#include "rtl/DateTime.h"
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
  // Stopped by the progress event, or by Abort on the wait form shown
  // without events.
  for (const bool byWaitForm : {false, true}) {
    TVEXTable& t = GuestTable({{1, "Ann"}, {2, "Bob"}});
    t.FieldDefs().Update();
    t.IndexDefs().Update();
    t.RestructureFieldDefs().Add("ROOM", aftInteger, 0, false);
    bool after = byWaitForm;
    if (byWaitForm) {
      Database->SetSilentMode(false);
      Ui.OnPump = [&] { Ui.WaitViews.back()->Abort->Click(); };
    } else {
      t.OnRestructureProgress = [&](rtl::TComponent&, int32_t, bool& Continue) {
        Continue = false;
      };
      t.AfterRestructure = [&](db::TDataSet&) { after = true; };
    }
    std::string log;
    EXPECT_FALSE(t.RestructureTable(log));
    Ui.OnPump = nullptr;
    Database->SetSilentMode(true);
    EXPECT_EQ(log, "Terminated by User.\r\n");
    EXPECT_TRUE(after);
    EXPECT_EQ(Ui.WaitViews.size(), byWaitForm ? 1u : 0u);
    if (byWaitForm) {
      EXPECT_FALSE(Ui.WaitViews.back()->Visible);
    }
    EXPECT_EQ(t.TableName(), "Guest");
    rtl::TStringList names;
    Database->GetTablesList(names);
    ASSERT_EQ(names.Count(), 1);
    EXPECT_EQ(names[0], "Guest");
    t.FieldDefs().SetUpdated(false);
    t.FieldDefs().Update();
    EXPECT_EQ(t.FieldDefs().Count(), 2);  // the old structure
    EXPECT_EQ(Rows(t), (std::vector<std::string>{"1:Ann", "2:Bob"}));
    t.DeleteTable();
  }
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

// ---- SQL export --------------------------------------------------------------

// "Guest List": a blank in its name, a primary index "PK", a default with a
// quote, a column named like a reserved word, and one row with a quote and
// a null; closed, its script to hold the data.
TVEXTable& GuestListTable(TVEXTable& t) {
  t.AdvFieldDefs().Add("ID", aftInteger, 0, true);
  t.AdvFieldDefs().Add("NAME", aftString, 20, false)->DefaultValue.SetAsAnsiString("It's");
  t.AdvFieldDefs().Add("ARRIVAL", aftDate, 0, false);
  t.AdvFieldDefs().Add("PAID", aftBoolean, 0, false);
  t.AdvFieldDefs().Add("Order", aftInteger, 0, false);
  t.AdvIndexDefs().Add("PK", "ID", db::TIndexOptions{db::ixPrimary});
  t.AdvIndexDefs().Add("By Name", "NAME;ID", {}, false, "ID", "NAME");
  t.CreateTable();
  t.Open();
  t.Append();
  t.FieldByName("ID")->SetAsVariant(rtl::Variant(1));
  t.FieldByName("NAME")->SetAsVariant(rtl::Variant("O'Hara"));
  t.FieldByName("ARRIVAL")->SetAsDateTime(rtl::EncodeDate(2016, 9, 6));
  t.FieldByName("PAID")->SetAsBoolean(true);
  t.Post();
  t.Close();
  t.ExportToSqlOptions().Data = true;
  return t;
}

TEST_F(Transfer, ExportToSQLWritesTheTableAsAScriptByteForByte) {
  TVEXTable& t = GuestListTable(NewTable("Guest List"));

  const std::string script = t.ExportToSQL();
  EXPECT_EQ(script,
            "DROP TABLE 'Guest List';\r\n"
            "CREATE TABLE 'Guest List' (\r\n"
            "  ID INTEGER NOT NULL,\r\n"
            "  NAME VARCHAR(20) DEFAULT 'It''s',\r\n"
            "  ARRIVAL DATE,\r\n"
            "  PAID LOGICAL,\r\n"
            "  'Order' INTEGER, \r\n"
            "  PRIMARY KEY PK (ID), \r\n"
            "  INDEX 'By Name' (NAME NOCASE, ID DESC)\r\n"
            ");\r\n"
            "INSERT INTO 'Guest List' values (1, 'O''Hara', '2016-09-06', True, NULL);\r\n"
            "\r\n");
  EXPECT_FALSE(t.Active());

  // The file and stream forms carry the same bytes; an open table is refused.
  const std::string path = Dir / "guest.sql";
  t.ExportToSQL(path);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), script);
  t.Open();
  EXPECT_THROW(t.ExportToSQL(), db::EDatabaseError);
}

// The script run as SQL drops the table and makes it again: the same
// columns, indexes and row, so that exporting it again gives the same bytes.
TEST_F(Transfer, ExportToSQLsScriptRunAsSQLRecreatesTableIndexesAndRows) {
  TVEXTable& t = GuestListTable(NewTable("Guest List"));
  const std::string script = t.ExportToSQL();
  t.Open();
  t.Edit();
  t.FieldByName("NAME")->SetAsVariant(rtl::Variant("changed"));
  t.Post();
  t.Append();
  t.FieldByName("ID")->SetAsVariant(rtl::Variant(2));
  t.Post();
  t.Close();

  TVEXQuery run(nullptr);
  run.SetDatabaseName("Hotel");
  run.SQL().SetText(script);
  run.ExecSQL();
  EXPECT_EQ(run.RowsAffected(), 1);

  TVEXTable& again = NewTable("Guest List");
  again.ExportToSqlOptions().Data = true;
  EXPECT_EQ(again.ExportToSQL(), script);
  again.Open();
  EXPECT_EQ(Rows(again), std::vector<std::string>{"1:O'Hara"});
  EXPECT_EQ(again.FieldByName("ARRIVAL")->AsDateTime(), rtl::EncodeDate(2016, 9, 6));
  EXPECT_TRUE(again.FieldByName("PAID")->AsBoolean());
  EXPECT_TRUE(again.FieldByName("Order")->IsNull());
  again.IndexDefs().Update();
  ASSERT_EQ(again.IndexDefs().Count(), 2);
  EXPECT_TRUE(again.IndexDefs().Find("PK")->Options().Contains(db::ixPrimary));
  EXPECT_EQ(again.IndexDefs().Find("By Name")->Fields(), "NAME;ID");
  // The default came back as the text it was.
  again.Append();
  again.FieldByName("ID")->SetAsVariant(rtl::Variant(3));
  again.Post();
  EXPECT_EQ(again.FieldByName("NAME")->AsString(), "It's");
}

TEST_F(Transfer, ExportToSQLWritesTimesBytesAndNumbersTheSameUnderAnyLocale) {
  rtl::TFormatSettings comma;
  comma.DecimalSeparator = ',';
  comma.ThousandSeparator = '.';
  comma.TimeSeparator = '.';
  rtl::ScopedFormatSettings locale(comma);
  TVEXTable& t = NewTable("Stay");
  t.AdvFieldDefs().Add("ID", aftInteger, 0, true);
  t.AdvFieldDefs().Add("AT", aftTime, 0, false);
  t.AdvFieldDefs().Add("RATE", aftDouble, 0, false)->MaxValue.SetAsAnsiString("999.5");
  t.AdvFieldDefs().Add("NOTE", aftBlob, 0, false);
  t.AdvFieldDefs().Add("CODE", aftBytes, 2, false);
  t.AdvFieldDefs().Add("ID2", aftGuid, 0, false);
  t.CreateTable();
  t.Open();
  t.Append();
  t.FieldByName("ID")->SetAsVariant(rtl::Variant(7));
  t.FieldByName("AT")->SetAsDateTime(rtl::EncodeTime(14, 5, 0, 0));
  t.FieldByName("RATE")->SetAsFloat(12.5);
  t.FieldByName("NOTE")->SetAsString("Hi");
  t.FieldByName("CODE")->SetAsString("Hi");
  t.Post();
  t.Close();
  t.ExportToSqlOptions().Data = true;
  t.ExportToSqlOptions().FieldNamesInInserts = true;
  t.ExportToSqlOptions().AddDropTable = false;
  t.ExportToSqlOptions().BlobSettings = true;
  EXPECT_EQ(t.ExportToSQL(),
            "CREATE TABLE Stay (\r\n"
            "  ID INTEGER NOT NULL,\r\n"
            "  'AT' TIME,\r\n"
            "  RATE FLOAT MAXVALUE 999.5,\r\n"
            "  NOTE BLOB BLOBBlockSize 102400 BLOBCompressionAlgorithm NONE BLOBCompressionMode "
            "0,\r\n"
            "  CODE BYTES(2),\r\n"
            "  ID2 GUID\r\n"
            ");\r\n"
            "INSERT INTO Stay (ID, 'AT', RATE, NOTE, CODE, ID2) values (7, "
            "ToDate('14:05:00','HH24:NN:SS'), 12.5, MimeToBin('SGk='), MimeToBin('SGk='), "
            "NULL);\r\n"
            "\r\n");
}

// ---- copy --------------------------------------------------------------------

TEST_F(Transfer, CopyTableIntoMemoryCopiesRecordsAndIndexesAndKeepsThePosition) {
  TVEXTable& t = GuestTable({{1, "Ann"}, {2, "Bob"}});
  t.Open();
  t.Next();
  EXPECT_TRUE(t.CopyTable("GuestCopy", "MEMORY", ""));
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.FieldByName("ID")->AsString(), "2");

  TVEXTable& copy = NewTable("GuestCopy", "MEMORY");
  ScopeExit drop([&] { copy.DeleteTable(); });
  EXPECT_EQ(Rows(copy), (std::vector<std::string>{"1:Ann", "2:Bob"}));
  copy.IndexDefs().Update();
  ASSERT_EQ(copy.IndexDefs().Count(), 1);
  EXPECT_EQ(copy.IndexDefs()[0]->Name(), "PK");

  // Onto the existing copy: refused (in-memory code), logged, or replaced.
  t.Close();
  EXPECT_THAT([&] { t.CopyTable("GuestCopy", "MEMORY", ""); }, RaisesNativeError(10515));
  std::string log;
  bool goOn = true;
  EXPECT_FALSE(t.CopyTable("GuestCopy", log, goOn, "MEMORY", "", true, false, true, 0, 100));
  EXPECT_EQ(log, "Table 'MEMORY.GuestCopy' already exists");
  EXPECT_FALSE(t.Active());
}

TEST_F(Transfer, CopyTableIntoAnotherFileRefusesAnExistingTableUnlessToldToOverwrite) {
  TVEXTable& t = GuestTable({{1, "Ann"}, {2, "Bob"}});
  const std::string other = Dir / "other.vex";
  Databases.push_back(NewDatabase("Other", other));
  Databases.back()->Open();
  GuestTable({{9, "Old"}}, "Guest", "Other");
  TVEXTable& target = NewTable("Guest", "Other");

  EXPECT_THAT([&] { t.CopyTable("Guest", other, ""); }, RaisesNativeError(30448));
  EXPECT_EQ(Rows(target), std::vector<std::string>{"9:Old"});
  std::string log;
  bool goOn = true;
  EXPECT_FALSE(t.CopyTable("Guest", log, goOn, other, "", true, false, true, 0, 100));
  EXPECT_EQ(log, "Table '" + other + ".Guest' already exists");
  log.clear();
  EXPECT_TRUE(t.CopyTable("Guest", log, goOn, other, "", false, true, true, 0, 100));
  EXPECT_EQ(log, "");
  EXPECT_EQ(Rows(target), (std::vector<std::string>{"1:Ann", "2:Bob"}));
}

TEST_F(Transfer, CopyTableOntoItselfOrIntoAFileThatCannotOpenFailsCleanly) {
  TVEXTable& t = GuestTable({{1, "Ann"}});
  EXPECT_THAT([&] { t.CopyTable("Guest", "", ""); }, RaisesNativeError(30447));
  EXPECT_THAT([&] { t.CopyTable("GUEST", File, ""); }, RaisesNativeError(30447));
  const std::string missing = Dir / "missing.vex";
  EXPECT_THROW(t.CopyTable("Guest", missing, ""), std::exception);
  std::string log;
  bool goOn = true;
  EXPECT_FALSE(t.CopyTable("Guest", log, goOn, missing, "", true, false, true, 0, 100));
  EXPECT_NE(log.find("Create table '" + missing + ".Guest' error: "), std::string::npos) << log;
  EXPECT_EQ(Rows(t), std::vector<std::string>{"1:Ann"});
  EXPECT_FALSE(t.Active());
}

// ---- import and export -----------------------------------------------------------

TEST_F(Transfer, ImportFromAPlatformDatasetNamesAnUnnamedPrimaryIndexAndSkipsExpressionIndexes) {
  dbtest::TVectorDataSet source;
  source.AddColumn("ID", db::ftInteger, 0, true);
  source.AddColumn("NAME", db::ftString, 20);
  source.Open();
  for (const auto& [id, name] :
       std::vector<std::pair<int32_t, std::string>>{{1, "Ann"}, {2, "Bob"}}) {
    source.Append();
    source.FieldByName("ID")->SetAsInteger(id);
    source.FieldByName("NAME")->SetAsString(name);
    source.Post();
  }
  db::TIndexDefs indexes(nullptr);
  indexes.Add("", "ID", db::TIndexOptions{db::ixPrimary});
  indexes.Add("ByUpperName", "", {})->SetExpression("UPPER(NAME)");

  TVEXTable& t = NewTable("Guest");
  std::string log;
  EXPECT_FALSE(t.ImportTable(source, log, &indexes));
  EXPECT_EQ(log, "Cannot import index 'ByUpperName'. Index type is not supported, index skipped");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(Rows(t), (std::vector<std::string>{"1:Ann", "2:Bob"}));
  t.IndexDefs().Update();
  ASSERT_EQ(t.IndexDefs().Count(), 1);
  EXPECT_EQ(t.IndexDefs()[0]->Name(), "idxPrimaryKey");
  EXPECT_TRUE(t.IndexDefs()[0]->Options().Contains(db::ixPrimary));

  // Imported again from the table component: its own definitions, no log.
  TVEXTable& again = NewTable("GuestAgain");
  EXPECT_TRUE(again.ImportTable(t));
  EXPECT_EQ(Rows(again), (std::vector<std::string>{"1:Ann", "2:Bob"}));
}

TEST_F(Transfer, ExportCreatesTheDestinationThroughTheCallerAndKeepsThePosition) {
  TVEXTable& t = GuestTable({{1, "Ann"}, {2, "Bob"}});
  TVEXTable& out = NewTable("GuestOut");
  t.Open();
  t.Last();
  std::vector<std::string> events;
  t.BeforeExport = [&](db::TDataSet&) { events.push_back("before"); };
  t.AfterExport = [&](db::TDataSet&) { events.push_back("after"); };
  std::string log;
  EXPECT_TRUE(t.ExportTable(
      out, [&] { out.CreateTable(); }, log));
  EXPECT_EQ(log, "");
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
  EXPECT_EQ(t.FieldByName("ID")->AsString(), "2");
  EXPECT_EQ(Rows(out), (std::vector<std::string>{"1:Ann", "2:Bob"}));

  // A creation that fails is logged; the After handler never ran for it.
  events.clear();
  EXPECT_FALSE(t.ExportTable(
      out, [] { throw std::runtime_error("disk full"); }, log));
  EXPECT_EQ(log, "Error exporting table. Cannot create table due to error: disk full\r\n");
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(t.Active());
}

// ---- batch move ------------------------------------------------------------------

class BatchMove : public Transfer {
 protected:
  void SetUp() override {
    Transfer::SetUp();
    Source = &GuestTable({{1, "Ann"}, {2, "Bob"}, {3, "Cid"}});
    Target = &GuestTable({{2, "Old"}, {4, "Dan"}}, "Target");
    Target->AddIndex("ByName", "NAME", {});
    Target->OnBatchMoveProgress = [&](rtl::TComponent&, int32_t Percent, bool&) {
      Progress.push_back(Percent);
    };
  }
  TVEXTable* Source = nullptr;
  TVEXTable* Target = nullptr;
  std::vector<int32_t> Progress;
};

TEST_F(BatchMove, EachMoveTypeTreatsFoundAndMissingRecordsByItsRule) {
  struct Case {
    TVEXBatchMoveType Type;
    const char* Index;
    std::vector<std::string> Rows;
  };
  const Case cases[] = {
      {bmtUpdate, "", {"2:Bob", "4:Dan"}},
      {bmtAppendUpdate, "", {"1:Ann", "2:Bob", "3:Cid", "4:Dan"}},
      // Matched by name, Bob is missing; his insert violates the key and is skipped.
      {bmtAppend, "ByName", {"1:Ann", "2:Old", "3:Cid", "4:Dan"}},
      {bmtDelete, "", {"4:Dan"}},
      {bmtSynchronize, "", {"1:Ann", "2:Bob", "3:Cid"}},
      {bmtCopy, "", {"1:Ann", "2:Bob", "3:Cid"}},
  };
  for (const Case& c : cases) {
    Target->Close();
    Target->DeleteTable();
    Target = &GuestTable({{2, "Old"}, {4, "Dan"}}, "Target");
    Target->AddIndex("ByName", "NAME", {});
    Target->BatchMove(*Source, c.Type, c.Index);
    Target->SetIndexName("PK");
    EXPECT_EQ(Rows(*Target), c.Rows) << c.Type;
    EXPECT_TRUE(Source->Active()) << c.Type;
  }
}

TEST_F(BatchMove, ProgressCountsSourceRecordsAndTheIndexChoiceComesBack) {
  Target->SetIndexName("ByName");
  Target->Open();
  Target->BatchMove(*Source, bmtUpdate, "");
  EXPECT_EQ(Progress, (std::vector<int32_t>{33, 67, 100}));
  EXPECT_EQ(Target->IndexName(), "ByName");
  EXPECT_FALSE(Target->ControlsDisabled());
}

TEST_F(BatchMove, WithoutAKeyIndexAMoveMatchesOnAnIndexOfTheSharedFieldsDroppedAfter) {
  TVEXTable& plain = NewTable("Plain");
  plain.AdvFieldDefs().Add("ID", aftInteger, 0, false);
  plain.AdvFieldDefs().Add("NAME", aftString, 20, false);
  plain.CreateTable();
  plain.Open();
  AddRow(plain, 2, "Bob");
  plain.BatchMove(*Source, bmtAppendUpdate, "");
  // In the order of storage: Bob updated in place, not added twice.
  EXPECT_EQ(Rows(plain), (std::vector<std::string>{"2:Bob", "1:Ann", "3:Cid"}));
  plain.IndexDefs().Update();
  EXPECT_EQ(plain.IndexDefs().Count(), 0);
}

TEST_F(BatchMove, AFailingMoveStillRestoresIndexChoiceMasterAndControls) {
  db::TDataSource master(nullptr);
  TVEXTable& rooms = GuestTable({}, "Rooms");
  rooms.Open();
  master.SetDataSet(&rooms);
  Target->SetIndexFieldNames("NAME");
  Target->SetMasterSource(&master);
  bool after = false;
  Target->AfterBatchMove = [&](db::TDataSet& Sender) {
    after = true;
    EXPECT_EQ(&Sender, Source);
  };
  Target->OnBatchMoveProgress = [](rtl::TComponent&, int32_t, bool&) {
    throw std::runtime_error("stop here");
  };
  EXPECT_THROW(Target->BatchMove(*Source, bmtAppendUpdate, "PK"), std::runtime_error);
  EXPECT_TRUE(after);
  EXPECT_EQ(Target->IndexFieldNames(), "NAME");
  EXPECT_EQ(Target->MasterSource(), &master);
  EXPECT_FALSE(Target->ControlsDisabled());
  EXPECT_FALSE(Source->ControlsDisabled());
  Target->SetMasterSource(nullptr);
}

}  // namespace
