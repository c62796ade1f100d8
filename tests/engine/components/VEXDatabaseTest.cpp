#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXSession.h"
#include "db/DBCommon.h"
#include "engine/components/EngineFakes.h"
#include "rtl/Lists.h"
#include "storage/VEXTableData.h"
#include "support/NativeError.h"

namespace {

using testsupport::RaisesNativeError;
using vextest::EngineFixture;
using vextest::FakeFile;

std::string DatabaseErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const db::EDatabaseError& e) {
    return e.what();
  }
  return "<no database error>";
}

class Database : public EngineFixture {
 protected:
  std::unique_ptr<vex::TVEXDatabase> NewDatabase(const std::string& Name, const std::string& File,
                                                 rtl::TComponent* Owner = nullptr) {
    auto database = std::make_unique<vex::TVEXDatabase>(Owner);
    database->SetName(Name);
    database->SetDatabaseName(Name);
    database->SetDatabaseFileName(File);
    return database;
  }
  static FakeFile Encrypted() {
    FakeFile file;
    file.Password = {"secret", vex::craBlowfish};
    return file;
  }
  static FakeFile NeedsRepair(double Version) {
    FakeFile file;
    file.RepairNeeded = true;
    file.Version = Version;
    return file;
  }
};

TEST_F(Database, OpenReadsTheFilesSettingsBackAndCloseReleasesEverything) {
  FakeFile file;
  file.PageSize = 8192;
  file.PageCountInExtent = 16;
  file.MaxSessionCount = 5;
  auto database = NewDatabase("Hotel", NewFile("hotel.vex", file));
  database->SetMaxConnections(77);
  database->SetConnected(true);
  EXPECT_TRUE(database->Connected());
  EXPECT_EQ(database->PageSize(), 8192);
  EXPECT_EQ(database->PageCountInExtent(), 16);
  EXPECT_EQ(database->MaxConnections(), 5);
  EXPECT_EQ(database->GetDBFileConnectionsCount(), 1);
  EXPECT_EQ(database->CurrentVersion(), "7.50 ");
  database->SetConnected(false);
  EXPECT_EQ(Engines.DiskObjectsLive, 0);
  EXPECT_EQ(database->RefCount(), 0);
}

TEST_F(Database, AMissingFileOrNameIsRefusedBeforeAnyEngineSession) {
  auto missing = NewDatabase("Hotel", Dir / "missing.vex");
  EXPECT_EQ(DatabaseErrorOf([&] { missing->Open(); }),
            "Database file '" + (Dir / "missing.vex") + "' does not exist");
  auto unnamed = NewDatabase("", NewFile("hotel.vex"));
  EXPECT_EQ(DatabaseErrorOf([&] { unnamed->Open(); }), "Database name missing");
  EXPECT_EQ(Engines.DiskObjectsMade, 0);
  EXPECT_FALSE(missing->Connected());
}

TEST_F(Database, TransactionsGoThroughTheEngineSession) {
  auto database = NewDatabase("Hotel", NewFile("hotel.vex"));
  EXPECT_EQ(DatabaseErrorOf([&] { database->Commit(); }),
            "Hotel: Cannot perform this operation on a closed database");
  database->Open();
  database->StartTransaction();
  EXPECT_EQ(DatabaseErrorOf([&] { database->StartTransaction(); }),
            "Database is already within a transaction");
  Engines.FailCommit = true;
  EXPECT_THAT([&] { database->Commit(); }, RaisesNativeError(20213));
  EXPECT_TRUE(database->InTransaction());
  database->Rollback();
  EXPECT_FALSE(database->InTransaction());
  EXPECT_THAT([&] { database->Rollback(); }, RaisesNativeError(20229));
  EXPECT_EQ(DatabaseErrorOf([&] { database->SetDatabaseName("Other"); }),
            "Hotel: Cannot perform this operation on an open database");
  database->SetDatabaseFileName(database->DatabaseFileName());
  EXPECT_TRUE(database->Connected());
  database->SetDatabaseFileName(Dir / "other.vex");
  EXPECT_FALSE(database->Connected());
}

TEST_F(Database, AWrongPasswordAsksOnPasswordAgainUntilItGivesUp) {
  auto database = NewDatabase("Hotel", NewFile("secret.vex", Encrypted()));
  database->SetPassword("guess");
  int asked = 0;
  database->OnPassword = [&](vex::TVEXDatabase& Sender, bool& Continue) {
    EXPECT_FALSE(Continue);
    ++asked;
    Sender.SetPassword(asked == 1 ? "still wrong" : "secret");
    Continue = true;
  };
  database->Open();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(database->CryptoAlgorithm(), vex::craBlowfish);
  database->Close();

  database->SetPassword("guess");
  database->OnPassword = [&](vex::TVEXDatabase&, bool&) { ++asked; };
  EXPECT_THAT([&] { database->Open(); }, RaisesNativeError(30445));
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(database->Connected());
  EXPECT_EQ(Engines.DiskObjectsLive, 0);
}

TEST_F(Database, WithoutOnPasswordTheDialogAsksUnlessSilent) {
  auto database = NewDatabase("Hotel", NewFile("secret.vex", Encrypted()));
  int dialogs = 0;
  Ui.OnPasswordDialog = [&](ui::PasswordDialogParts& parts) {
    ++dialogs;
    parts.Pass.SetText("secret");
    parts.cbOk.Click();
    return parts.cbOk.ModalResult;
  };
  database->SetSilentMode(true);
  EXPECT_THAT([&] { database->Open(); }, RaisesNativeError(30445));
  EXPECT_EQ(dialogs, 0);
  database->SetSilentMode(false);
  database->Open();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(database->Password(), "secret");
}

TEST_F(Database, AnotherPasswordForAFileOpenHereIsRefusedWithoutAsking) {
  const std::string file = NewFile("secret.vex", Encrypted());
  auto first = NewDatabase("First", file);
  first->SetPassword("secret");
  first->Open();
  auto second = NewDatabase("Second", file);
  second->SetPassword("other");
  int asked = 0;
  second->OnPassword = [&](vex::TVEXDatabase&, bool&) { ++asked; };
  EXPECT_THAT([&] { second->Open(); }, RaisesNativeError(20298));
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(second->Connected());
  EXPECT_TRUE(first->Connected());
  EXPECT_EQ(Engines.DiskObjectsLive, 1);
}

TEST_F(Database, ARepairQuestionLeftUnansweredOpensTheDatabaseUnrepaired) {
  auto database = NewDatabase("Hotel", NewFile("crashed.vex", NeedsRepair(7.5)));
  int asked = 0;
  database->OnNeedRepair = [&](vex::TVEXDatabase&, bool& DoRepair) {
    EXPECT_FALSE(DoRepair);
    ++asked;
  };
  database->Open();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(database->Connected());
  database->Close();

  // Silent: no question at all.
  database->SetSilentMode(true);
  database->Open();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(Ui.Shown.empty());
}

TEST_F(Database, TheRepairQuestionDependsOnTheFileVersion) {
  struct Case {
    double Version;
    bool UserSaysYes;
    const char* Shown;
    bool Repairs;
  };
  const Case cases[] = {
      {2.99, false,
       "question: Database file was not correctly closed last time. Do you want to repair it?",
       false},
      {2.99, true,
       "question: Database file was not correctly closed last time. Do you want to repair it?",
       true},
      {2.5, false, "2: Database file you are opening is of old format.", true},
  };
  for (const Case& c : cases) {
    Ui.Shown.clear();
    Ui.YesNoAnswer = c.UserSaysYes;
    auto database = NewDatabase("Hotel", NewFile("old.vex", NeedsRepair(c.Version)));
    database->Open();
    EXPECT_TRUE(database->Connected());
    // A repaired file needs no repair any more; its original is kept.
    EXPECT_EQ(Engines.FindFile(database->DatabaseFileName())->RepairNeeded, !c.Repairs);
    EXPECT_EQ(Engines.FindFile(database->DatabaseFileName() + ".bak") != nullptr, c.Repairs);
    database->Close();
    std::filesystem::remove(database->DatabaseFileName() + ".bak");
    EXPECT_FALSE(database->NoRequestAutoRepair());
    ASSERT_EQ(Ui.Shown.size(), 1u) << c.Version;
    EXPECT_EQ(Ui.Shown[0].rfind(c.Shown, 0), 0u) << Ui.Shown[0];
    database.reset();
    EXPECT_EQ(Engines.DiskObjectsLive, 0);
  }
}

TEST_F(Database, ADesignedOwnerSetsDesignModeAndNoRepairQuestionIsAsked) {
  rtl::TComponent form(nullptr);
  form.SetDesigning(true);
  auto* database = new vex::TVEXDatabase(&form);
  EXPECT_TRUE(vex::DesignMode());
  database->SetDatabaseName("Hotel");
  database->SetDatabaseFileName(NewFile("crashed.vex", NeedsRepair(7.5)));
  database->SetReadOnly(true);
  database->Open();
  EXPECT_TRUE(Ui.Shown.empty());
  EXPECT_TRUE(database->ReadOnly());  // not read back in design state
  // In design state a change that needs a closed database closes it.
  database->SetDatabaseName("Renamed");
  EXPECT_FALSE(database->Connected());
}

TEST_F(Database, SharedHandlesLiveUntilTheirLastUserCloses) {
  const std::string file = NewFile("shared.vex");
  for (const bool lenderClosesFirst : {true, false}) {
    auto lender = NewDatabase("Hotel", file);
    lender->SetHandleShared(true);
    auto borrower = std::make_unique<vex::TVEXDatabase>(nullptr);
    borrower->SetHandleShared(true);
    borrower->SetDatabaseName("Hotel");  // a shared name is no duplicate
    borrower->SetDatabaseFileName(file);
    lender->Open();
    borrower->Open();
    EXPECT_EQ(borrower->Handle(), lender->Handle());
    EXPECT_EQ(Engines.DiskObjectsMade, lenderClosesFirst ? 1 : 2);

    vex::TVEXDatabase& first = lenderClosesFirst ? *lender : *borrower;
    vex::TVEXDatabase& last = lenderClosesFirst ? *borrower : *lender;
    first.Close();
    ASSERT_TRUE(last.Connected());
    last.StartTransaction();  // the engine session is alive and connected
    last.Rollback();
    EXPECT_EQ(last.Handle()->SessionID(), 0);
    EXPECT_EQ(Engines.DiskObjectsLive, 1);
    last.Close();
    EXPECT_EQ(Engines.DiskObjectsLive, 0);
  }
}

TEST_F(Database, GetTablesListOfAClosedDatabaseConnectsForTheCallOnly) {
  auto database = NewDatabase("Hotel", NewFile("hotel.vex"));
  rtl::TStringList tables;
  database->GetTablesList(tables);
  EXPECT_EQ(tables.Count(), 0);
  EXPECT_FALSE(database->Connected());
  auto missing = NewDatabase("Missing", Dir / "missing.vex");
  missing->GetTablesList(tables);  // the failure is swallowed
  EXPECT_FALSE(missing->Connected());
}

TEST_F(Database, ADuplicateNameIsRefusedUnlessBothShareHandles) {
  auto first = NewDatabase("Hotel", NewFile("hotel.vex"));
  auto second = std::make_unique<vex::TVEXDatabase>(nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { second->SetDatabaseName("HOTEL"); }),
            "Duplicate database name 'HOTEL'");
  EXPECT_EQ(second->DatabaseName(), "");
}

}  // namespace
