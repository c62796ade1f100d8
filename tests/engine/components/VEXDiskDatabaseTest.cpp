// The database component over the library's own disk engine: files made by the
// engine in a scratch folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>

#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "components/VEXLocalEngine.h"
#include "engine/components/ScriptedUi.h"
#include "foundation/VEXStartup.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using testsupport::RaisesNativeError;

class DiskDatabase : public ::testing::Test {
 protected:
  // A new encrypted database file of 8192-byte pages, 4 pages an extent and 5
  // connection slots.
  std::string NewFile(const std::string& Name) {
    const std::string path = Dir / Name;
    vex::TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(path);
    *creator.Password() = {"pass", vex::craTwofish_128};
    creator.SetPageSize(8192);
    creator.SetPageCountInExtent(4);
    creator.SetMaxSessionCount(5);
    creator.CreateDatabase();
    EXPECT_FALSE(creator.GetConnected());
    return path;
  }
  std::unique_ptr<vex::TVEXDatabase> NewDatabase(const std::string& Name, const std::string& File,
                                                 const std::string& Password) {
    auto database = std::make_unique<vex::TVEXDatabase>(nullptr);
    database->SetDatabaseName(Name);
    database->SetDatabaseFileName(File);
    database->SetMultiUser(true);
    database->SetPassword(Password);
    database->SetSilentMode(true);
    return database;
  }

  testsupport::ScratchDir Dir;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
};

TEST_F(DiskDatabase, OneFileThroughALinkSharesOneObjectAndReadsTheFilesSettingsBack) {
  const std::string file = NewFile("hotel.vex");
  const std::string link = Dir / "link.vex";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  EXPECT_EQ(vex::SharedDatabases().Count(), 2);

  auto first = NewDatabase("First", link, "pass");
  first->Open();
  EXPECT_EQ(first->CryptoAlgorithm(), vex::craTwofish_128);
  EXPECT_EQ(first->PageSize(), 8192);
  EXPECT_EQ(first->PageCountInExtent(), 4);
  EXPECT_EQ(first->MaxConnections(), 5);
  EXPECT_EQ(first->GetDBFileConnectionsCount(), 1);

  auto wrong = NewDatabase("Wrong", file, "PASS");
  EXPECT_THAT([&] { wrong->Open(); }, RaisesNativeError(20298));
  auto second = NewDatabase("Second", file, "pass");
  second->Open();
  EXPECT_EQ(vex::SharedDatabases().Count(), 3);
  EXPECT_EQ(second->PageSize(), 8192);
  EXPECT_EQ(second->GetDBFileConnectionsCount(), 2);
  EXPECT_NE(second->Handle()->SessionID(), first->Handle()->SessionID());

  first->Close();
  second->Close();
  EXPECT_EQ(vex::SharedDatabases().Count(), 2);
}

TEST_F(DiskDatabase, AWrongPasswordOfTheFirstConnectionAsksAgain) {
  auto database = NewDatabase("Hotel", NewFile("hotel.vex"), "guess");
  EXPECT_THAT([&] { database->Open(); }, RaisesNativeError(30445));
  database->OnPassword = [](vex::TVEXDatabase& Sender, bool& Continue) {
    Sender.SetPassword("pass");
    Continue = true;
  };
  database->Open();
  EXPECT_TRUE(database->Connected());
  EXPECT_FALSE(database->ReadOnly());
}

TEST_F(DiskDatabase, ShutDownWithTheDatabaseOpenClosesTheFile) {
  const std::string file = NewFile("hotel.vex");
  auto database = NewDatabase("Hotel", file, "pass");
  database->Open();
  database->StartTransaction();
  vex::StopEngine();
  EXPECT_FALSE(database->Connected());
  database.reset();
  vex::StartEngine();
  // Nothing of the earlier connection is left: the file opens again.
  auto again = NewDatabase("Hotel", file, "pass");
  again->Open();
  EXPECT_EQ(again->GetDBFileConnectionsCount(), 1);
}

}  // namespace
