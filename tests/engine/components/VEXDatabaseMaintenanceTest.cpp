// Database maintenance: the file operations and the rebuilds over the
// library's own disk engine (files made by the engine in a scratch folder),
// the repair paths over the fake engines, and an executable database run as a
// program of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXTable.h"
#include "engine/components/EngineFakes.h"
#include "engine/components/ScriptedUi.h"
#include "engine/storage/VEXManagerFakes.h"
#include "os/FileFaults.h"
#include "os/OsError.h"
#include "rtl/Lists.h"
#include "rtl/Variant.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

extern char** environ;

namespace {

using testsupport::RaisesNativeError;

std::string Slurp(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& Path) { return std::filesystem::exists(Path); }

// The names of the files in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& Folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Maintenance : public ::testing::Test {
 protected:
  void TearDown() override { os::faults::FailNextReplace(0); }

  // A closed component of a name of its own for the file Name of the scratch
  // folder.
  std::unique_ptr<vex::TVEXDatabase> NewDatabase(const std::string& Name,
                                                 const std::string& Password = "") {
    auto database = std::make_unique<vex::TVEXDatabase>(nullptr);
    database->SetDatabaseName("DB" + std::to_string(++FDatabases));
    database->SetDatabaseFileName(Dir / Name);
    database->SetPassword(Password);
    database->SetSilentMode(true);
    return database;
  }
  // Opens the database, adds a table of one Integer field per name, closes.
  static void AddTables(vex::TVEXDatabase& Database, const std::vector<std::string>& Names) {
    Database.Open();
    for (const std::string& name : Names) {
      vex::TVEXFieldDefs f;
      vex::testing::AddField(f, "ID", vex::aftInteger);
      vex::TVEXIndexDefs i;
      vex::TVEXConstraintDefs c;
      vex::TVEXLocalCursor maker;
      maker.SetSession(dynamic_cast<vex::TVEXLocalSession*>(Database.Handle()));
      maker.SetTableName(name);
      maker.CreateTable(f, i, c);
    }
    Database.Close();
  }
  // One row (ID 1) in each table named.
  static void AddRows(vex::TVEXDatabase& Database, const std::vector<std::string>& Names) {
    Database.Open();
    for (const std::string& name : Names) {
      vex::TVEXTable table(nullptr);
      table.SetDatabaseName(Database.DatabaseName());
      table.SetTableName(name);
      table.Open();
      table.Append();
      table.FieldByName("ID")->SetAsVariant(rtl::Variant(1));
      table.Post();
    }
    Database.Close();
  }
  static std::vector<int32_t> RowCounts(vex::TVEXDatabase& Database,
                                        const std::vector<std::string>& Names) {
    std::vector<int32_t> counts;
    Database.Open();
    for (const std::string& name : Names) {
      vex::TVEXTable table(nullptr);
      table.SetDatabaseName(Database.DatabaseName());
      table.SetTableName(name);
      table.Open();
      counts.push_back(table.RecordCount());
    }
    Database.Close();
    return counts;
  }
  static std::vector<std::string> Tables(vex::TVEXDatabase& Database) {
    rtl::TStringList list;
    Database.Open();
    Database.Handle()->GetTablesList(list);
    Database.Close();
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list[i]);
    return names;
  }
  // Whether the database opens with its component's password now.
  static bool Opens(vex::TVEXDatabase& Database) {
    try {
      Database.Open();
    } catch (const std::exception&) {
      return false;
    }
    Database.Close();
    return true;
  }

  testsupport::ScratchDir Dir;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};

 private:
  int FDatabases = 0;
};

TEST_F(Maintenance, CreateWritesTheComponentsSettingsAndLeavesItClosed) {
  auto database = NewDatabase("hotel.vex", "secret");
  database->SetCryptoAlgorithm(vex::craBlowfish);
  database->SetPageSize(8192);
  database->SetPageCountInExtent(4);
  database->SetMaxConnections(7);
  database->CreateDatabase();
  EXPECT_FALSE(database->Connected());
  database->SetPageSize(4096);
  database->Open();
  EXPECT_EQ(database->PageSize(), 8192);
  EXPECT_EQ(database->PageCountInExtent(), 4);
  EXPECT_EQ(database->MaxConnections(), 7);
  EXPECT_EQ(database->CryptoAlgorithm(), vex::craBlowfish);

  // Creating a file open here under the same session name is refused.
  auto second = NewDatabase("hotel.vex");
  EXPECT_THAT([&] { second->CreateDatabase(); }, RaisesNativeError(20092));
  EXPECT_FALSE(second->Connected());
  EXPECT_THAT([&] { database->CreateDatabase(); },
              ::testing::Throws<db::EDatabaseError>());  // open
  database->Close();
}

TEST_F(Maintenance, RenameTruncateAndDelete) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  AddTables(*database, {"Guest"});
  const std::string moved = Dir / "moved.vex";
  std::ofstream(Dir / "taken.vex") << "x";
  database->RenameDatabase(Dir / "taken.vex");  // never over another file
  EXPECT_EQ(database->DatabaseFileName(), Dir / "hotel.vex");
  database->RenameDatabase(moved);
  EXPECT_EQ(database->DatabaseFileName(), moved);
  EXPECT_FALSE(Exists(Dir / "hotel.vex"));

  database->TruncateDatabase();
  EXPECT_FALSE(database->Connected());
  EXPECT_FALSE(database->Exclusive());
  EXPECT_EQ(Tables(*database), std::vector<std::string>{"Guest"});

  database->DeleteDatabase();
  EXPECT_FALSE(Exists(moved));
  database->DeleteDatabase();  // a missing file is no error
}

TEST_F(Maintenance, CompactOfAnEmptyDatabaseReportsOneHundredOnceAndLeavesNoTmp) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  std::vector<std::string> calls;
  database->BeforeCompact = [&](rtl::TComponent&) { calls.push_back("before"); };
  database->OnCompactProgress = [&](rtl::TComponent&, int32_t Percent, bool&) {
    calls.push_back(std::to_string(Percent));
  };
  database->AfterCompact = [&](rtl::TComponent&) { calls.push_back("after"); };
  EXPECT_TRUE(database->CompactDatabase());
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "100", "after"}));
  EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"hotel.vex"});
  EXPECT_TRUE(Opens(*database));

  // On an open database outside design state it is refused.
  database->Open();
  EXPECT_THAT([&] { database->CompactDatabase(); }, ::testing::Throws<db::EDatabaseError>());
  database->Close();
}

TEST_F(Maintenance, ChangePasswordThenOnlyTheNewPasswordOpens) {
  auto database = NewDatabase("hotel.vex", "old");
  database->CreateDatabase();
  EXPECT_EQ(database->ChangePassword("new", vex::craTwofish_128), "");
  EXPECT_EQ(database->Password(), "new");
  EXPECT_EQ(database->CryptoAlgorithm(), vex::craTwofish_128);
  EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"hotel.vex"});
  database->Open();
  EXPECT_EQ(database->CryptoAlgorithm(), vex::craTwofish_128);
  database->Close();
  database->SetPassword("old");
  EXPECT_THAT([&] { database->Open(); }, RaisesNativeError(30445));
}

TEST_F(Maintenance, SettingsChangeRefusesNoConnectionsBeforeAnyFileAndAppliesTheRest) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  bool before = false;
  database->BeforeChangeDatabaseSettings = [&](rtl::TComponent&) { before = true; };
  std::string log;
  EXPECT_THAT(
      [&] { database->ChangeDatabaseSettings(log, false, "", vex::craRijndael_128, 8192, 4, 0); },
      RaisesNativeError(20274));
  EXPECT_FALSE(before);
  EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"hotel.vex"});

  EXPECT_TRUE(database->ChangeDatabaseSettings(log, false, "pw", vex::craBlowfish, 8192, 4, 3));
  EXPECT_TRUE(before);
  EXPECT_EQ(database->Password(), "pw");
  database->Open();
  EXPECT_EQ(database->PageSize(), 8192);
  EXPECT_EQ(database->PageCountInExtent(), 4);
  EXPECT_EQ(database->MaxConnections(), 3);
  EXPECT_EQ(database->CryptoAlgorithm(), vex::craBlowfish);
  database->Close();
}

TEST_F(Maintenance, AFailedReplacementFailsTheOperationAndLeavesTheOriginalWorking) {
  struct Case {
    const char* Name;
    std::function<void(vex::TVEXDatabase&)> Run;
  };
  const Case cases[] = {
      {"compact", [](vex::TVEXDatabase& d) { d.CompactDatabase(); }},
      {"password", [](vex::TVEXDatabase& d) { d.ChangePassword("new", vex::craBlowfish); }},
      {"settings",
       [](vex::TVEXDatabase& d) {
         std::string log;
         d.ChangeDatabaseSettings(log, false, "new", vex::craBlowfish, 8192, 8, 5);
       }},
      {"repair", [](vex::TVEXDatabase& d) { d.RepairDatabase(); }},
  };
  for (const Case& c : cases) {
    auto database = NewDatabase(std::string(c.Name) + ".vex", "old");
    database->CreateDatabase();
    const std::string before = Slurp(database->DatabaseFileName());
    // The move is refused as it is while another handle has the file open.
    os::faults::FailNextReplace(os::kSharingViolation);
    EXPECT_THAT([&] { c.Run(*database); }, RaisesNativeError(30378)) << c.Name;
    EXPECT_EQ(Slurp(database->DatabaseFileName()), before) << c.Name;
    EXPECT_FALSE(Exists(database->DatabaseFileName() + ".tmp")) << c.Name;
    EXPECT_EQ(database->Password(), "old") << c.Name;
    EXPECT_EQ(database->CryptoAlgorithm(), vex::craRijndael_128) << c.Name;
    EXPECT_TRUE(Opens(*database)) << c.Name;
  }
}

TEST_F(Maintenance, RepairKeepsTheOriginalAsBak) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  const std::string original = Slurp(database->DatabaseFileName());
  int shownForms = 0;
  database->SetSilentMode(false);
  EXPECT_EQ(database->RepairDatabase(), "");
  shownForms = static_cast<int>(Ui.WaitViews.size());
  EXPECT_EQ(shownForms, 1);  // the repair shows its wait form at once
  EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"hotel.vex", "hotel.vex.bak"}));
  EXPECT_EQ(Slurp(Dir / "hotel.vex.bak"), original);
  EXPECT_TRUE(Opens(*database));
  // A second repair replaces the backup of the first.
  EXPECT_EQ(database->RepairDatabase(), "");
  EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"hotel.vex", "hotel.vex.bak"}));
}

TEST_F(Maintenance, CompactCopiesEveryTableReportingEachOnesShareThenOneHundred) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  AddTables(*database, {"Guest", "Room", "Stay"});
  AddRows(*database, {"Guest", "Room", "Stay"});
  std::vector<std::string> calls;
  database->BeforeCompact = [&](rtl::TComponent&) { calls.push_back("before"); };
  database->OnCompactProgress = [&](rtl::TComponent&, int32_t Percent, bool&) {
    calls.push_back(std::to_string(Percent));
  };
  database->AfterCompact = [&](rtl::TComponent&) { calls.push_back("after"); };
  EXPECT_TRUE(database->CompactDatabase());
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "33", "66", "100", "100", "after"}));
  EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"hotel.vex"});
  EXPECT_EQ(Tables(*database), (std::vector<std::string>{"Guest", "Room", "Stay"}));
  EXPECT_EQ(RowCounts(*database, {"Guest", "Room", "Stay"}), (std::vector<int32_t>{1, 1, 1}));
}

TEST_F(Maintenance, AbortOnTheWaitFormStopsTheCompactWithTheCopysLog) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  AddTables(*database, {"Guest", "Room"});
  AddRows(*database, {"Guest", "Room"});
  const std::string before = Slurp(database->DatabaseFileName());
  database->SetSilentMode(false);
  Ui.OnPump = [&] { Ui.WaitViews.back()->Abort->Click(); };
  try {
    database->CompactDatabase();
    ADD_FAILURE() << "not stopped";
  } catch (const vex::EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30456);
    EXPECT_EQ(
        std::string(e.what()).rfind("Operation CompactDatabase failed: Terminated by User.\r\n", 0),
        0u)
        << e.what();
  }
  Ui.OnPump = nullptr;
  EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"hotel.vex"});
  EXPECT_EQ(Slurp(database->DatabaseFileName()), before);
}

// The file's pages of a type (the page header's type at byte 8), as offsets.
std::vector<int64_t> PagesOfType(const std::string& File, uint16_t Type) {
  const std::string bytes = Slurp(File);
  constexpr int64_t kPageSize = 4096;
  std::vector<int64_t> pages;
  for (int64_t at = static_cast<int64_t>(bytes.size()) % kPageSize;
       at + kPageSize <= static_cast<int64_t>(bytes.size()); at += kPageSize) {
    uint16_t type = 0;
    std::memcpy(&type, bytes.data() + at + 8, sizeof type);
    if (type == Type) pages.push_back(at);
  }
  return pages;
}

TEST_F(Maintenance, ARepairSkipsAnUnreadableTableAndKeepsTheOthers) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  AddTables(*database, {"Guest", "Room", "Stay"});
  AddRows(*database, {"Guest", "Room", "Stay"});
  // Stay's definitions, written last, become unreadable.
  const std::vector<int64_t> metadata = PagesOfType(database->DatabaseFileName(), 8);
  ASSERT_GE(metadata.size(), 3u);
  {
    std::fstream file(database->DatabaseFileName(),
                      std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(metadata.back() + 40);
    const std::string garbage(200, '\xEE');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  const std::string log = database->RepairDatabase();
  EXPECT_EQ(log.rfind("Problem occured while copying table 'Stay': '", 0), 0u) << log;
  EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"hotel.vex", "hotel.vex.bak"}));
  EXPECT_EQ(Tables(*database), (std::vector<std::string>{"Guest", "Room"}));
  EXPECT_EQ(RowCounts(*database, {"Guest", "Room"}), (std::vector<int32_t>{1, 1}));
}

TEST_F(Maintenance, ACommitTornByACrashIsRepairedOnOpenWithTheRowsOfBeforeOrAfter) {
  const std::string pristine = Dir / "pristine.vex";
  {
    auto database = NewDatabase("pristine.vex");
    database->CreateDatabase();
    AddTables(*database, {"Guest"});
    AddRows(*database, {"Guest"});
  }
  constexpr int kStopped = 77;
  int torn = 0;
  bool committed = false;
  for (uint64_t k = 1; k <= 80 && !committed; ++k) {
    const std::string path = Dir / "hotel.vex";
    std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(path + ".bak");
    // No database file is open here when the child starts.
    const pid_t pid = ::fork();
    if (pid == 0) {
      int code = 3;
      try {
        auto database = NewDatabase("hotel.vex");
        database->Open();
        vex::TVEXTable table(nullptr);
        table.SetDatabaseName(database->DatabaseName());
        table.SetTableName("Guest");
        table.Open();
        database->StartTransaction();
        for (int32_t id = 2; id <= 3; ++id) {
          table.Append();
          table.FieldByName("ID")->SetAsVariant(rtl::Variant(id));
          table.Post();
        }
        os::faults::ArmWriteFault(k, os::faults::WriteFault::ExitProcess, kStopped);
        database->Commit();
        os::faults::DisarmWriteFault();
        code = 0;
      } catch (...) {
      }
      ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << k;
    const int code = WEXITSTATUS(status);
    ASSERT_TRUE(code == 0 || code == kStopped) << "write " << k << ": " << code;
    committed = code == 0;

    auto database = NewDatabase("hotel.vex");
    database->SetSilentMode(false);
    bool asked = false;
    database->OnNeedRepair = [&](vex::TVEXDatabase&, bool& DoRepair) {
      asked = true;
      DoRepair = true;
    };
    database->Open();
    database->Close();
    if (asked) {
      ++torn;
      EXPECT_TRUE(Exists(path + ".bak")) << k;
    }
    const int32_t rows = RowCounts(*database, {"Guest"})[0];
    EXPECT_TRUE(rows == 1 || rows == 3) << "write " << k << ": " << rows << " rows";
  }
  EXPECT_TRUE(committed);
  EXPECT_GT(torn, 0);
}

// --- the executable database ------------------------------------------------

// Runs Program; its standard output and exit status.
struct ProgramRun {
  std::string Out;
  int Status = -1;
};
ProgramRun RunProgram(const std::string& Program, const std::string& Folder) {
  const std::string out = Folder + "/stdout.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  char* argv[] = {const_cast<char*>(Program.c_str()), nullptr};
  pid_t pid = 0;
  ProgramRun run;
  if (posix_spawn(&pid, Program.c_str(), &actions, nullptr, argv, environ) == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.Out = Slurp(out);
  return run;
}

TEST_F(Maintenance, AnExecutableDatabaseRunsItsStubWhichFindsTheDatabaseAfterIt) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  AddTables(*database, {"Guest", "Room"});
  const std::string exe = Dir / "hotel";
  database->MakeExecutableDatabase(EXE_DB_STUB, exe);
  EXPECT_EQ(Slurp(exe), Slurp(EXE_DB_STUB) + Slurp(database->DatabaseFileName()));
  struct stat stubStat {
  }, exeStat{};
  ASSERT_EQ(::stat(EXE_DB_STUB, &stubStat), 0);
  ASSERT_EQ(::stat(exe.c_str(), &exeStat), 0);
  EXPECT_EQ(exeStat.st_mode & 07777, stubStat.st_mode & 07777);
  const ProgramRun run = RunProgram(exe, Dir.Path());
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "Guest\nRoom\n");
}

TEST_F(Maintenance, AnExecutableDatabaseOfAnyStubSizeOpensAtTheStubsEnd) {
  auto database = NewDatabase("hotel.vex");
  database->CreateDatabase();
  AddTables(*database, {"Guest"});
  struct Case {
    size_t StubSize;
  };
  for (const Case c : {Case{0}, Case{5000}}) {
    const std::string stub = Dir / "stub.bin";
    std::ofstream(stub, std::ios::binary) << std::string(c.StubSize, 'S');
    const std::string copy = Dir / ("copy" + std::to_string(c.StubSize) + ".vex");
    database->MakeExecutableDatabase(stub, copy);
    const std::string bytes = Slurp(copy);
    EXPECT_EQ(bytes.size(), c.StubSize + Slurp(database->DatabaseFileName()).size());
    EXPECT_EQ(bytes.find("VEX0LITEDATABASE"), c.StubSize);
    if (c.StubSize == 0) {
      EXPECT_EQ(bytes, Slurp(database->DatabaseFileName()));
    }
    auto opened = std::make_unique<vex::TVEXDatabase>(nullptr);
    opened->SetDatabaseName("Copy");
    opened->SetDatabaseFileName(copy);
    opened->SetSilentMode(true);
    EXPECT_EQ(Tables(*opened), std::vector<std::string>{"Guest"}) << c.StubSize;
  }
  // A database open for writing elsewhere is refused with the file error.
  auto writer = NewDatabase("hotel.vex");
  writer->SetMultiUser(true);
  writer->Open();
  EXPECT_THAT([&] { database->MakeExecutableDatabase(EXE_DB_STUB, Dir / "busy"); },
              ::testing::Throws<rtl::EOSError>());
  writer->Close();
}

// --- repairs over the fake engines ------------------------------------------

class FakeMaintenance : public vextest::EngineFixture {};

TEST_F(FakeMaintenance, AnOldFormatFileIsRepairedAfterTheNoticeAndOpens) {
  vextest::FakeFile old;
  old.RepairNeeded = true;
  old.Version = 2.5;
  auto database = std::make_unique<vex::TVEXDatabase>(nullptr);
  database->SetDatabaseName("Hotel");
  database->SetDatabaseFileName(NewFile("old.vex", old));
  database->Open();
  EXPECT_TRUE(database->Connected());
  ASSERT_EQ(Ui.Shown.size(), 1u);
  EXPECT_EQ(Ui.Shown[0].rfind("2: Database file you are opening is of old format.", 0), 0u);
  EXPECT_FALSE(database->NoRequestAutoRepair());
  database->Close();
  const vextest::FakeFile* repaired = Engines.FindFile(Dir / "old.vex");
  ASSERT_NE(repaired, nullptr);
  EXPECT_FALSE(repaired->RepairNeeded);
  const vextest::FakeFile* backup = Engines.FindFile(Dir / "old.vex.bak");
  ASSERT_NE(backup, nullptr);
  EXPECT_EQ(backup->Version, 2.5);
}

TEST_F(FakeMaintenance, UnreadableTableNamesFailTheRepairInsteadOfEmptyingTheDatabase) {
  const std::string file = NewFile("hotel.vex");
  auto database = std::make_unique<vex::TVEXDatabase>(nullptr);
  database->SetDatabaseName("Hotel");
  database->SetDatabaseFileName(file);
  database->SetSilentMode(true);
  Engines.FailTablesList = true;
  EXPECT_THAT([&] { database->RepairDatabase(); }, RaisesNativeError(10026));
  std::string log;
  EXPECT_THAT([&] { database->RepairDatabase(Dir / "copy.vex", log); }, RaisesNativeError(10026));
  EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"copy.vex", "hotel.vex"}));
  EXPECT_EQ(Slurp(file).rfind("fake database", 0), 0u);

  // Asked for on open, the failed repair is the open's 20238.
  vextest::FakeFile crashed;
  crashed.RepairNeeded = true;
  database->SetDatabaseFileName(NewFile("crashed.vex", crashed));
  database->SetSilentMode(false);
  Ui.YesNoAnswer = true;
  EXPECT_THAT([&] { database->Open(); }, RaisesNativeError(20238));
  EXPECT_FALSE(database->Connected());
  EXPECT_FALSE(Exists(Dir / "crashed.vex.tmp"));
}

}  // namespace
