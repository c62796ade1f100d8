// Fake database engines for the component layer's tests: the in-memory and
// temporary databases are the storage tests' fake database data, and a
// database file is a real (empty) file whose header values live in a table of
// the fake engines, keyed by the file's identity. The fixture restarts the
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
class FakeDiskData final : public vex::testing::FakeDatabaseData, public vex::TVEXDiskDatabaseAccess {
 public:
  explicit FakeDiskData(FakeEngines& Engines);
  ~FakeDiskData() override;

  void ConnectSession(vex::TVEXBaseSession& Session) override;
  void CreateDatabase() override;
  void Commit(int32_t SessionID, bool DoFlushBuffers) override;

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

  // Makes a database file at Path (an empty file on disk, its header here).
  void AddFile(const std::string& Path, const FakeFile& File = {}) {
    std::ofstream(Path).put('\0');
    Files[os::File::Identity(Path)] = File;
  }

  std::map<std::string, FakeFile> Files;  // by identity
  int DiskObjectsMade = 0;
  int DiskObjectsLive = 0;
  int FileOpens = 0;
  bool FailCommit = false;
};

inline FakeDiskData::FakeDiskData(FakeEngines& Engines) : FEngines(Engines) {
  ++FEngines.DiskObjectsLive;
}

inline FakeDiskData::~FakeDiskData() { --FEngines.DiskObjectsLive; }

inline void FakeDiskData::ConnectSession(vex::TVEXBaseSession& Session) {
  if (!FOpen) {
    const auto file = FEngines.Files.find(os::File::Identity(DatabaseName()));
    if (file == FEngines.Files.end())
      throw vex::EVEXException(20230, "Cannot open database file '%s'", DatabaseName());
    if (file->second.Password.Password != FPassword.Password)
      throw vex::EVEXException(30445, "Cannot open database - incorrect password");
    FFile = file->second;
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
