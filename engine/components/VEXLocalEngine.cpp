#include "components/VEXLocalEngine.h"

#include <utility>

#include "components/VEXEngineState.h"
#include "db/DBCommon.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "os/File.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"
#include "storage/disk/VEXDiskDatabaseData.h"

namespace vex {

namespace {

constexpr const char* kMemoryDatabaseName = "MEMORY";
constexpr const char* kTemporaryDatabaseName = "TEMP";

// The disk engine's shared object as the component layer reaches it.
class TVEXComponentDiskDatabaseData final : public TVEXDiskDatabaseData,
                                            public TVEXDiskDatabaseAccess {
 public:
  TVEXPassword& Password() override { return *TVEXDiskDatabaseData::Password(); }
  bool Encrypted() override { return TVEXDiskDatabaseData::Encrypted(); }
  int32_t MaxSessionCount() override { return TVEXDiskDatabaseData::MaxSessionCount(); }
  void SetMaxSessionCount(int32_t Value) override {
    TVEXDiskDatabaseData::SetMaxSessionCount(Value);
  }
  int32_t PageSize() override { return TVEXDiskDatabaseData::PageSize(); }
  void SetPageSize(int32_t Value) override { TVEXDiskDatabaseData::SetPageSize(Value); }
  int32_t PageCountInExtent() override { return TVEXDiskDatabaseData::PageCountInExtent(); }
  void SetPageCountInExtent(int32_t Value) override {
    TVEXDiskDatabaseData::SetPageCountInExtent(Value);
  }
  bool SuppressDBHeaderErrors() override { return GetSuppressDBHeaderErrors(); }
  void SetSuppressDBHeaderErrors(bool Value) override {
    TVEXDiskDatabaseData::SetSuppressDBHeaderErrors(Value);
  }
  void TruncateDatabase() override { TVEXDiskDatabaseData::TruncateDatabase(); }
  int32_t GetDBFileConnectionsCount() override {
    return TVEXDiskDatabaseData::GetDBFileConnectionsCount();
  }
  double FileVersion() override {
    TVEXLockGuard guard(DatabaseLock());
    TVEXDiskPageManager* pages = DiskPageManager();
    return pages != nullptr ? pages->DBHeader()->Version : 0;
  }
};

}  // namespace

std::unique_ptr<TVEXDatabaseData> CreateBuiltInDiskDatabaseData() {
  return std::make_unique<TVEXComponentDiskDatabaseData>();
}

TVEXDiskDatabaseAccess* DiskAccessOf(TVEXDatabaseData* Data) {
  return dynamic_cast<TVEXDiskDatabaseAccess*>(Data);
}

TVEXLocalSession::~TVEXLocalSession() {
  if (!GetConnected()) return;
  try {
    SetConnected(false);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  if (!GetConnected()) return;
  // The object refused to let the session go: it must at least forget it, so
  // that it keeps no pointer to a freed session (design note 3).
  try {
    TVEXSharedDatabaseList& list = SharedDatabases();
    TVEXLockGuard guard(list.ListLock());
    TVEXDatabaseData* data = std::exchange(FDatabaseData, nullptr);
    data->TVEXDatabaseData::DisconnectSession(*this);
    if (DiskAccessOf(data) != nullptr) data->FreeIfNoSessionsConnected();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

bool TVEXLocalSession::MatchesDatabaseData(TVEXDatabaseData& Data) const {
  const std::string& name = DatabaseName();
  if (name == kMemoryDatabaseName || name == kTemporaryDatabaseName)
    return DiskAccessOf(&Data) == nullptr && rtl::AnsiUpperCase(Data.DatabaseName()) == name;
  // Only a file's object holds a file name; Linux names are compared as the
  // files they lead to, exactly (design note 1).
  if (DiskAccessOf(&Data) == nullptr) return false;
  return os::File::Identity(Data.DatabaseName()) == os::File::Identity(DatabaseFileName()) &&
         rtl::AnsiUpperCase(Data.SessionName()) == rtl::AnsiUpperCase(SessionName());
}

TVEXDatabaseData* TVEXLocalSession::FindDatabaseData() const {
  TVEXSharedDatabaseList& list = SharedDatabases();
  TVEXLockGuard guard(list.ListLock());
  for (int32_t i = 0;; ++i) {
    TVEXDatabaseData* data = list.Get(i);
    if (data == nullptr) return nullptr;
    if (MatchesDatabaseData(*data)) return data;
  }
}

TVEXDatabaseData& TVEXLocalSession::CreateDiskDatabaseData() {
  std::unique_ptr<TVEXDatabaseData> data = DatabaseEngines().CreateDiskDatabaseData();
  TVEXDiskDatabaseAccess* disk = DiskAccessOf(data.get());
  if (disk == nullptr) throw rtl::Exception("The disk engine made no database file object");
  data->SetDatabaseName(DatabaseFileName());
  data->SetReadOnly(ReadOnly());
  disk->SetMaxSessionCount(MaxSessionCount());
  disk->Password() = FPassword;
  disk->SetPageSize(FPageSize);
  disk->SetPageCountInExtent(FPageCountInExtent);
  data->SetSessionName(SessionName());
  return SharedDatabases().Add(std::move(data));
}

TVEXDatabaseData& TVEXLocalSession::FindOrCreateDatabaseData() {
  TVEXSharedDatabaseList& list = SharedDatabases();
  TVEXLockGuard guard(list.ListLock());
  TVEXDatabaseData* found = FindDatabaseData();
  return found != nullptr ? *found : CreateDiskDatabaseData();
}

TVEXDatabaseData& TVEXLocalSession::ConnectedData() const {
  if (FDatabaseData == nullptr)
    db::DatabaseError("Cannot perform this operation on a closed database");
  return *FDatabaseData;
}

void TVEXLocalSession::SetConnected(bool Value) {
  if (Value == GetConnected()) return;
  TVEXSharedDatabaseList& list = SharedDatabases();
  TVEXLockGuard guard(list.ListLock());
  if (Value) {
    FDatabaseData = &FindOrCreateDatabaseData();
    FDatabaseData->ConnectSession(*this);
    SetReadOnly(FDatabaseData->ReadOnly());
    TVEXDiskDatabaseAccess* disk = DiskAccessOf(FDatabaseData);
    if (disk == nullptr) return;
    const TVEXPassword& shared = disk->Password();
    if (disk->Encrypted() && !shared.Password.empty() && shared.Password != FPassword.Password)
      throw EVEXException(20298, "Database password is invalid.");
    FPassword = shared;
    FPageSize = disk->PageSize();
    FPageCountInExtent = disk->PageCountInExtent();
    SetMaxSessionCount(disk->MaxSessionCount());
    return;
  }
  // A disconnection the shared object refuses leaves the session connected,
  // as the object still counts it.
  TVEXDatabaseData* data = FDatabaseData;
  data->DisconnectSession(*this);
  FDatabaseData = nullptr;
  SetSessionID(kNoSessionID);
  // The in-memory and temporary databases stay whatever happens; a file's
  // object goes with its last session (the list frees it).
  if (DiskAccessOf(data) != nullptr) data->FreeIfNoSessionsConnected();
}

bool TVEXLocalSession::GetSuppressDBHeaderErrors() const {
  TVEXDiskDatabaseAccess* disk = DiskAccessOf(FDatabaseData);
  return disk != nullptr && disk->SuppressDBHeaderErrors();
}

void TVEXLocalSession::SetSuppressDBHeaderErrors(bool Value) {
  if (TVEXDiskDatabaseAccess* disk = DiskAccessOf(FDatabaseData))
    disk->SetSuppressDBHeaderErrors(Value);
}

void TVEXLocalSession::CreateDatabase() {
  TVEXSharedDatabaseList& list = SharedDatabases();
  TVEXLockGuard guard(list.ListLock());
  if (FindDatabaseData() != nullptr)
    throw EVEXException(20092, "Cannot create database. Database is already open");
  TVEXDatabaseData& data = CreateDiskDatabaseData();
  FDatabaseData = &data;
  // No session is connected to the new object, so this frees it.
  ScopeExit release([&] {
    FDatabaseData = nullptr;
    try {
      data.FreeIfNoSessionsConnected();
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  data.CreateDatabase();
}

void TVEXLocalSession::GetTablesList(rtl::TStringList& List) {
  TVEXSharedDatabaseList& list = SharedDatabases();
  TVEXLockGuard guard(list.ListLock());
  TVEXDatabaseData* data = FDatabaseData != nullptr ? FDatabaseData : FindDatabaseData();
  if (data != nullptr) data->GetTablesList(List);
}

bool TVEXLocalSession::TableExists(std::string_view TableName) {
  TVEXSharedDatabaseList& list = SharedDatabases();
  TVEXLockGuard guard(list.ListLock());
  TVEXDatabaseData* data = FDatabaseData != nullptr ? FDatabaseData : FindDatabaseData();
  return data != nullptr && data->TableExists(TableName);
}

void TVEXLocalSession::Commit(bool DoFlushBuffers) {
  if (!InTransaction())
    throw EVEXException(20229, "Database is not within a transaction. Cannot perform operation");
  ConnectedData().Commit(SessionID(), DoFlushBuffers);
  SetInTransaction(false);
}

void TVEXLocalSession::Rollback() {
  if (!InTransaction())
    throw EVEXException(20229, "Database is not within a transaction. Cannot perform operation");
  ConnectedData().Rollback(SessionID());
  SetInTransaction(false);
}

void TVEXLocalSession::FlushBuffers() { ConnectedData().FlushBuffers(); }

void TVEXLocalSession::TruncateDatabase() {
  if (TVEXDiskDatabaseAccess* disk = DiskAccessOf(FDatabaseData)) disk->TruncateDatabase();
}

int32_t TVEXLocalSession::GetDBFileConnectionsCount() {
  TVEXDiskDatabaseAccess* disk = DiskAccessOf(FDatabaseData);
  return disk != nullptr ? disk->GetDBFileConnectionsCount() : 0;
}

}  // namespace vex
