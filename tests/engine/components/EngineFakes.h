// Fake database engines for the component layer's tests: the in-memory and
// temporary databases are the storage tests' fake database data, and a
// database file is a real file holding only a key to its header values, which
// live in a table of the fake engines (so a header follows its file when the
// file is moved). The fixture restarts the
// engine with these engines installed and puts the previous ones back after.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "components/VEXEngineState.h"
#include "components/VEXLocalEngine.h"
#include "engine/components/ScriptedUi.h"
#include "engine/storage/VEXDatabaseFakes.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStartup.h"
#include "os/File.h"
#include "support/ScratchDir.h"

namespace vextest {

// What a database file's header holds, as far as opening it goes.
struct FakeFile {
  vex::TVEXPassword Password;  // an empty password: not encrypted
  int32_t PageSize = 4096;
  int32_t PageCountInExtent = 8;
  int32_t MaxSessionCount = 500;
  bool RepairNeeded = false;
  double Version = 7.5;
};

class FakeEngines;

// The shared object of one database file.
class FakeDiskData final : public vex::testing::FakeDatabaseData,
                           public vex::TVEXDiskDatabaseAccess {
 public:
  explicit FakeDiskData(FakeEngines& Engines);
  ~FakeDiskData() override;

  void ConnectSession(vex::TVEXBaseSession& Session) override;
  void CreateDatabase() override;
  void Commit(int32_t SessionID, bool DoFlushBuffers) override;
  void GetTablesList(rtl::TStringList& List) override;

  vex::TVEXPassword& Password() override { return FPassword; }
  bool Encrypted() override { return FOpen && !FFile.Password.Password.empty(); }
  int32_t MaxSessionCount() override { return FMaxSessionCount; }
  void SetMaxSessionCount(int32_t Value) override { FMaxSessionCount = Value; }
  int32_t PageSize() override { return FPageSize; }
  void SetPageSize(int32_t Value) override { FPageSize = Value; }
  int32_t PageCountInExtent() override { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t Value) override { FPageCountInExtent = Value; }
  bool SuppressDBHeaderErrors() override { return FSuppress; }
  void SetSuppressDBHeaderErrors(bool Value) override { FSuppress = Value; }
  void TruncateDatabase() override {}
  int32_t GetDBFileConnectionsCount() override;
  double FileVersion() override { return FFile.Version; }

 private:
  FakeEngines& FEngines;
  bool FOpen = false;
  FakeFile FFile;
  vex::TVEXPassword FPassword;
  int32_t FMaxSessionCount = 0;
  int32_t FPageSize = 0;
  int32_t FPageCountInExtent = 0;
  bool FSuppress = false;
};

class FakeEngines final : public vex::TVEXDatabaseEngines {
 public:
  std::unique_ptr<vex::TVEXDatabaseData> CreateMemoryDatabaseData() override {
    auto data = std::make_unique<vex::testing::FakeDatabaseData>();
    data->SetDatabaseName("MEMORY");
    return data;
  }
  std::unique_ptr<vex::TVEXDatabaseData> CreateTemporaryDatabaseData() override {
    auto data = std::make_unique<vex::testing::FakeDatabaseData>();
    data->SetDatabaseName("TEMP");
    return data;
  }
  std::unique_ptr<vex::TVEXDatabaseData> CreateDiskDatabaseData() override {
    ++DiskObjectsMade;
    return std::make_unique<FakeDiskData>(*this);
  }

  // Makes a database file at Path (a key on disk, its header here).
  void AddFile(const std::string& Path, const FakeFile& File = {}) {
    const std::string key = "fake database " + std::to_string(++FilesMade);
    std::ofstream(Path, std::ios::trunc) << key;
    Files[key] = File;
  }
  // The header of the file at Path; nullptr when there is none.
  FakeFile* FindFile(const std::string& Path) {
    std::string key;
    std::getline(std::ifstream(Path), key);
    const auto file = Files.find(key);
    return file == Files.end() ? nullptr : &file->second;
  }

  std::map<std::string, FakeFile> Files;  // by the key in the file
  int FilesMade = 0;
  int DiskObjectsMade = 0;
  int DiskObjectsLive = 0;
  int FileOpens = 0;
  bool FailCommit = false;
  bool FailTablesList = false;  // the list of tables cannot be read
};

inline FakeDiskData::FakeDiskData(FakeEngines& Engines) : FEngines(Engines) {
  ++FEngines.DiskObjectsLive;
}

inline FakeDiskData::~FakeDiskData() { --FEngines.DiskObjectsLive; }

inline void FakeDiskData::ConnectSession(vex::TVEXBaseSession& Session) {
  if (!FOpen) {
    const FakeFile* file = FEngines.FindFile(DatabaseName());
    if (file == nullptr)
      throw vex::EVEXException(20230, "Cannot open database file '%s'", DatabaseName());
    if (file->Password.Password != FPassword.Password)
      throw vex::EVEXException(30445, "Cannot open database - incorrect password");
    FFile = *file;
    FPassword = FFile.Password;
    FPageSize = FFile.PageSize;
    FPageCountInExtent = FFile.PageCountInExtent;
    FMaxSessionCount = FFile.MaxSessionCount;
    FOpen = true;
    ++FEngines.FileOpens;
  }
  Session.SetRepairNeeded(FFile.RepairNeeded);
  FakeDatabaseData::ConnectSession(Session);
}

inline void FakeDiskData::CreateDatabase() {
  FakeFile file;
  file.Password = FPassword;
  file.PageSize = FPageSize;
  file.PageCountInExtent = FPageCountInExtent;
  file.MaxSessionCount = FMaxSessionCount;
  FEngines.AddFile(DatabaseName(), file);
}

inline void FakeDiskData::Commit(int32_t SessionID, bool DoFlushBuffers) {
  if (FEngines.FailCommit) throw vex::EVEXException(20213, "Cannot lock database header");
  FakeDatabaseData::Commit(SessionID, DoFlushBuffers);
}

inline void FakeDiskData::GetTablesList(rtl::TStringList& List) {
  if (FEngines.FailTablesList) throw vex::EVEXException(10026, "Cannot read the tables file");
  FakeDatabaseData::GetTablesList(List);
}

inline int32_t FakeDiskData::GetDBFileConnectionsCount() {
  vex::TVEXLockGuard guard(DatabaseLock());
  return static_cast<int32_t>(SessionList().size());
}

// Restarts the engine over the fake engines, with a scripted user and a
// scratch folder for the database files.
class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    vex::StopEngine();
    FPrevious = vex::SetDatabaseEngines(&Engines);
    vex::StartEngine();
  }
  void TearDown() override {
    vex::StopEngine();
    vex::SetDatabaseEngines(FPrevious);
    vex::StartEngine();
  }

  // A database file in the scratch folder.
  std::string NewFile(const std::string& Name, const FakeFile& File = {}) {
    const std::string path = Dir / Name;
    Engines.AddFile(path, File);
    return path;
  }
  int32_t SharedObjectCount() { return vex::SharedDatabases().Count(); }

  FakeEngines Engines;
  testsupport::ScratchDir Dir;
  ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};

 private:
  vex::TVEXDatabaseEngines* FPrevious = nullptr;
};

}  // namespace vextest
