#include "storage/disk/VEXDiskDatabaseData.h"

#include <algorithm>
#include <vector>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/Lists.h"
#include "storage/disk/VEXDatabaseFile.h"
#include "storage/disk/VEXDiskTableData.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex {

namespace {

constexpr const char* sPointerIsNil = "Pointer is nil";

// Runs a release step whose failure must not hide the error that is already
// on its way, nor escape a destructor.
template <class F>
void Quietly(F step) noexcept {
  try {
    step();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

}  // namespace

TVEXDiskDatabaseData::TVEXDiskDatabaseData() = default;

TVEXDiskDatabaseData::~TVEXDiskDatabaseData() VEX_NO_THREAD_SAFETY_ANALYSIS {
  // The tables go first: they hold internal files of the page manager that
  // closing frees.
  while (!TableDataList().empty()) FreeTableData(TableDataList().back().get());
  CloseDatabaseFiles();
}

bool TVEXDiskDatabaseData::Encrypted() const {
  return FDiskPageManager != nullptr && FDiskPageManager->IsOpened() &&
         FDiskPageManager->Encrypted();
}

// ---------------------------------------------------------------------------
// Opening and closing the file

void TVEXDiskDatabaseData::OpenDatabaseFiles(TVEXBaseSession& Session, bool Exclusive,
                                             bool& RepairNeeded) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  ScopeFailure close([this] { CloseDatabaseFiles(); });
  FDiskPageManager = std::make_unique<TVEXDiskPageManager>(&DatabaseLock());
  SetPageManager(FDiskPageManager.get());
  SetMultiUser(Session.MultiUser());

  bool readOnly = ReadOnly();
  bool multiUser = MultiUser();
  FDiskPageManager->OpenDatabase(DatabaseName(), FPassword, readOnly, RepairNeeded, Exclusive,
                                 multiUser);
  SetReadOnly(readOnly);
  SetMultiUser(multiUser);
  FPassword = *FDiskPageManager->Password();
  FPageSize = FDiskPageManager->PageSize();
  FPageCountInExtent = FDiskPageManager->DBHeader()->PageCountInExtent;

  FSystemDir = std::make_unique<TVEXSystemDirectory>(FDiskPageManager.get());
  FSystemDir->LoadDirectory();
  FActiveSessionsFile = std::make_unique<TVEXActiveSessionsFile>(FDiskPageManager.get());
  FActiveSessionsFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftActiveSessionsList));
  FMaxSessionCount = FActiveSessionsFile->MaxSessionCount();
  FTableListFile = std::make_unique<TVEXTableListFile>(FDiskPageManager.get());
  FTableListFile->OpenFile(FSystemDir->GetFileFirstPageNo(dbftTablesList));
  FTableListFile->Load();
  FTableLockManager =
      std::make_unique<TVEXDatabaseTableLockManager>(FMaxSessionCount, FDiskPageManager.get());
}

void TVEXDiskDatabaseData::CloseDatabaseFiles() noexcept VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  FSystemDir.reset();
  FTableListFile.reset();
  if (FActiveSessionsFile) FActiveSessionsFile->CloseFile();
  FActiveSessionsFile.reset();
  FTableLockManager.reset();
  if (FDiskPageManager) FDiskPageManager->CloseDatabase();
  SetPageManager(nullptr);
  FDiskPageManager.reset();
}

// ---------------------------------------------------------------------------
// Sessions

void TVEXDiskDatabaseData::ConnectSession(TVEXBaseSession& Session) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager == nullptr) {
    bool repairNeeded = false;
    OpenDatabaseFiles(Session, Session.Exclusive(), repairNeeded);
    Session.SetRepairNeeded(repairNeeded);
    Session.SetMultiUser(MultiUser());
  }
  if (Session.MultiUser() != MultiUser())
    throw EVEXException(20235,
                        "Cannot open database in multi-user and signle-user mode at the same time");
  // A failed connect of the session that opened the file leaves it closed.
  ScopeFailure closeUnused([this]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (SessionList().empty()) CloseDatabaseFiles();
  });
  int32_t id = 0;
  if (MultiUser()) {
    id = FActiveSessionsFile->MultiUserConnect();
  } else if (!FSingleUserConnected) {
    FSingleUserConnected = FActiveSessionsFile->SingleUserConnect();
    if (!FSingleUserConnected) SetReadOnly(true);
  }
  // The base gives every session 0; in multi-user mode the slot is the id.
  TVEXDatabaseData::ConnectSession(Session);
  Session.SetSessionID(id);
}

void TVEXDiskDatabaseData::DisconnectSession(TVEXBaseSession& Session)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  const auto& sessions = SessionList();
  if (std::find(sessions.begin(), sessions.end(), &Session) == sessions.end()) return;
  try {
    if (MultiUser() && FActiveSessionsFile) {
      const int32_t id = Session.SessionID();
      if (Session.InTransaction()) Session.Rollback();
      ReleaseSessionID(id);
      FActiveSessionsFile->MultiUserDisconnect(id);
    } else if (FSingleUserConnected && sessions.size() == 1 && FActiveSessionsFile) {
      FActiveSessionsFile->SingleUserDisconnect();
    }
  } catch (const std::exception&) {
    if (!DesignMode()) throw;
  }
  TVEXDatabaseData::DisconnectSession(Session);
  if (SessionList().empty()) {
    if (Session.InTransaction()) Session.Rollback();
    // The tables of a closed file are gone with it.
    while (!TableDataList().empty()) FreeTableData(TableDataList().back().get());
    CloseDatabaseFiles();
  }
}

void TVEXDiskDatabaseData::ReleaseSessionID(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FDiskPageManager == nullptr) return;
  FDiskPageManager->CancelChanges(SessionID);
  if (FTableLockManager != nullptr) {
    std::vector<TVEXTableLockItem> items;
    {
      TVEXLockGuard managerLock(FTableLockManager->Lock());
      if (const TVEXTableLockList* list = FTableLockManager->SessionLockList(SessionID)) {
        for (int32_t i = 0; i < list->Count(); ++i) items.push_back(list->Item(i));
      }
    }
    // Logical entries first: releasing one touches no byte, and a stronger
    // lock then has no weaker one to hand its byte down to.
    std::stable_partition(items.begin(), items.end(),
                          [](const TVEXTableLockItem& item) { return !item.HasPhysicalLock; });
    for (const TVEXTableLockItem& item : items) {
      TVEXTableLocksFile locksFile(FDiskPageManager.get());
      locksFile.OpenFile(item.LocksFilePageNo);
      if (item.LockType == ltU) {
        FTableLockManager->UnlockRecord(SessionID, locksFile, item.RecordID);
      } else {
        FTableLockManager->UnlockTable(SessionID, item.LockType, locksFile, true, true);
      }
    }
    TVEXLockGuard managerLock(FTableLockManager->Lock());
    const TVEXTableLockList* list = FTableLockManager->SessionLockList(SessionID);
    if (list != nullptr && list->Count() > 0)
      throw EVEXException(20201, "Some table locks still exist");
  }
  TVEXDTPCSessionInfo& info = FDiskPageManager->TablePagesCacheManager().GetSessionInfo(SessionID);
  info.FTableInfo.clear();
  info.FWorkTableIDs.clear();
}

// ---------------------------------------------------------------------------
// Tables

void TVEXDiskDatabaseData::GetTablesList(rtl::TStringList& List) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FTableListFile == nullptr) return;
  FTableListFile->Load();
  for (const TVEXTableListItem& item : FTableListFile->TableList()) List.Add(item.TableName);
}

TVEXTableData* TVEXDiskDatabaseData::CreateTableData(TVEXCursor& Cursor) {
  TVEXLockGuard lock(DatabaseLock());
  auto table = std::make_unique<TVEXDiskTableData>(this);
  table->SetTableName(Cursor.TableName());
  return AddTableData(std::move(table));
}

void TVEXDiskDatabaseData::CreateDatabase() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager != nullptr)
    throw EVEXException(10461, "Cannot create database '%s'. Database is open", DatabaseName());
  auto pages = std::make_unique<TVEXDiskPageManager>(&DatabaseLock());
  // Nothing stays open, also after a failure: the first connect opens the file.
  ScopeExit closeFile([&pages]() VEX_NO_THREAD_SAFETY_ANALYSIS { pages->CloseDatabase(); });
  pages->CreateAndOpenDatabase(DatabaseName(), FPassword, static_cast<uint16_t>(FPageSize),
                               static_cast<uint16_t>(FPageCountInExtent));
  TVEXSystemDirectory directory(pages.get());
  TVEXActiveSessionsFile sessions(pages.get());
  TVEXTableListFile tables(pages.get());
  directory.CreateDirectory();
  directory.CreateFile(dbftActiveSessionsList, sessions.CreateFile(FMaxSessionCount));
  directory.CreateFile(dbftTablesList, tables.CreateFile());
  directory.SaveDirectory();
  pages->ApplyChanges(kSystemSessionID);
}

int32_t TVEXDiskDatabaseData::GetNewObjectId() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager == nullptr) throw EVEXException(20129, sPointerIsNil);
  return FDiskPageManager->GetNextObjectID(5, 100);
}

// ---------------------------------------------------------------------------
// Transactions

void TVEXDiskDatabaseData::Commit(int32_t SessionID, bool DoFlushBuffers)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager == nullptr) return;
  if (MultiUser() && !FTableLockManager->AddRWLocksBeforeCommit(SessionID))
    throw EVEXException(20233, "Cannot commit changes. Locks of modified tables failed");
  FDiskPageManager->ApplyChanges(SessionID, DoFlushBuffers);
  if (DoFlushBuffers) FDiskPageManager->DatabaseFile().FlushFileBuffers();
  if (MultiUser()) FTableLockManager->ClearTransactionLocks(SessionID);
}

void TVEXDiskDatabaseData::Rollback(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (MultiUser() && FTableLockManager != nullptr)
    FTableLockManager->ClearTransactionLocks(SessionID);
  TVEXDatabaseData::Rollback(SessionID);
}

void TVEXDiskDatabaseData::FlushBuffers() {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager != nullptr && FDiskPageManager->IsOpened())
    FDiskPageManager->DatabaseFile().FlushFileBuffers();
}

// ---------------------------------------------------------------------------
// The file and its tables byte

void TVEXDiskDatabaseData::TruncateDatabase() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager == nullptr) throw EVEXException(20129, sPointerIsNil);
  FDiskPageManager->TruncateDatabase();
}

int32_t TVEXDiskDatabaseData::GetDBFileConnectionsCount() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FActiveSessionsFile == nullptr) throw EVEXException(20129, sPointerIsNil);
  return FActiveSessionsFile->GetDBFileConnectionsCount();
}

void TVEXDiskDatabaseData::LockTables() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager == nullptr ||
      !RetryCall(kTablesByteTries, kTablesByteDelayMS,
                 [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { return FDiskPageManager->LockTables(); }))
    throw EVEXException(20210, "Database tables are locked");
}

void TVEXDiskDatabaseData::UnlockTables() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  if (FDiskPageManager == nullptr || !FDiskPageManager->UnlockTables())
    throw EVEXException(20211, "Cannot unlock database tables");
}

bool TVEXDiskDatabaseData::GetSuppressDBHeaderErrors() const {
  return FDiskPageManager != nullptr && FDiskPageManager->FreeSpaceManager() != nullptr &&
         FDiskPageManager->FreeSpaceManager()->SuppressDBHeaderErrors();
}

void TVEXDiskDatabaseData::SetSuppressDBHeaderErrors(bool Value) {
  if (FDiskPageManager != nullptr && FDiskPageManager->FreeSpaceManager() != nullptr)
    FDiskPageManager->FreeSpaceManager()->SetSuppressDBHeaderErrors(Value);
}

// ---------------------------------------------------------------------------
// The table list

TVEXTableListFile& TVEXDiskDatabaseData::TableListOrRaise(int32_t NativeErrorCode) {
  if (FTableListFile == nullptr) throw EVEXException(NativeErrorCode, sPointerIsNil);
  return *FTableListFile;
}

void TVEXDiskDatabaseData::AddTableToList(int32_t TableID, const std::string& TableName,
                                          int32_t MetadataFilePageNo,
                                          int32_t MostUpdatedFilePageNo,
                                          int32_t LocksFilePageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  TVEXTableListFile& list = TableListOrRaise(20128);
  // Another connection may have changed the list since it was read.
  list.Load();
  list.AddTable(TableID, TableName, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo);
  list.Save();
}

void TVEXDiskDatabaseData::FindTableInList(const std::string& TableName, int32_t& TableID,
                                           int32_t& MetadataFilePageNo,
                                           int32_t& MostUpdatedFilePageNo,
                                           int32_t& LocksFilePageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  TVEXTableListFile& list = TableListOrRaise(20129);
  list.Load();
  list.OpenTable(TableName, TableID, MetadataFilePageNo, MostUpdatedFilePageNo, LocksFilePageNo);
}

void TVEXDiskDatabaseData::RemoveTableFromList(const std::string& TableName)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  TVEXTableListFile& list = TableListOrRaise(20130);
  list.Load();
  list.RemoveTable(TableName);
  list.Save();
}

void TVEXDiskDatabaseData::RenameTableInList(const std::string& TableName,
                                             const std::string& NewTableName)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(DatabaseLock());
  TVEXTableListFile& list = TableListOrRaise(20131);
  list.Load();
  // Two items of one name would hide the second for good; a change of letter
  // case alone names the same table.
  const auto fold = [](std::string s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
  };
  if (fold(TableName) != fold(NewTableName) && list.TableExists(NewTableName))
    throw EVEXException(30395, "Cannot rename table. Table '%s' already exists", NewTableName);
  list.RenameTable(TableName, NewTableName);
  list.Save();
}

}  // namespace vex
