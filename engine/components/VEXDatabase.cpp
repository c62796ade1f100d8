#include "components/VEXDatabase.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "components/VEXDataSet.h"
#include "components/VEXEngineState.h"
#include "components/VEXLocalEngine.h"
#include "components/dialogs/VEXPasswordDialog.h"
#include "components/VEXSession.h"
#include "db/DBCommon.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/Format.h"
#include "storage/VEXTableData.h"
#include "ui/Ui.h"

namespace vex {

namespace {

constexpr const char* kRepairQuestion =
    "Database file was not correctly closed last time. Do you want to repair it?";
constexpr const char* kOldFormatNotice =
    "Database file you are opening is of old format. It will be converted to the current "
    "Vexolite Database format now. It is recommended to make a backup of the database before "
    "continuing.";
constexpr const char* kRepairFailed =
    "Cannot convert database to the new format. Please contact support@vexolite.example with "
    "this issue";
constexpr int32_t kIncorrectPassword = 30445;

}  // namespace

TVEXDatabase::TVEXDatabase(rtl::TComponent* AOwner) : rtl::TComponent(AOwner) {
  // The owner's components see this database now as what it is, so a session
  // with AutoSessionName on the same owner can claim it.
  if (AOwner != nullptr) AOwner->Notification(this, rtl::opInsert);
  if (FSession == nullptr) {
    auto* ownerSession = dynamic_cast<TVEXSession*>(AOwner);
    FSession = ownerSession != nullptr ? ownerSession : &GetDefaultSession();
  }
  FSessionName = FSession->SessionName();
  FSession->AddDatabase(this);
  if (FSession != AOwner) FreeNotification(FSession);
  if (!DesignMode() && AOwner != nullptr && AOwner->ComponentState().Contains(rtl::csDesigning))
    SetDesignMode(true);
}

TVEXDatabase::~TVEXDatabase() {
  Destroying();
  try {
    Close();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  LeaveSession();
}

void TVEXDatabase::LeaveSession() {
  if (FSession == nullptr || SessionsOrNil() == nullptr) return;
  TVEXSession* session = std::exchange(FSession, nullptr);
  try {
    session->RemoveDatabase(this);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

// --- opening and closing ----------------------------------------------------

void TVEXDatabase::SetConnected(bool Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FStreamedConnected = Value;
    return;
  }
  if (Value == Connected()) return;
  if (Value)
    Open();
  else
    Close();
}

void TVEXDatabase::Open() {
  if (Connected()) return;
  CheckDatabaseName();
  CheckSessionName(true);
  if (FHandleShared) {
    if (TVEXDatabase* lender = FSession->FindSharedDatabase(FDatabaseName, this)) {
      FSharedHandle = lender->FSharedHandle;
      FHandle = lender->FHandle;
      FAcquiredHandle = true;
      return;
    }
  }
  TVEXSessionLockGuard guard(*FSession);
  if (!FTemporary && !Exists())
    db::DatabaseError(rtl::Format("Database file '%s' does not exist", FDatabaseFileName));
  for (;;) {
    try {
      ConnectLocalSession();
      break;
    } catch (const EVEXException& e) {
      DropLocalSession();
      if (e.NativeError == kIncorrectPassword && AskPassword()) continue;
      throw;
    } catch (...) {
      DropLocalSession();
      throw;
    }
  }
  if (TVEXLocalSession* local = LocalSession()) {
    if (!ComponentState().Contains(rtl::csDesigning)) FReadOnly = local->ReadOnly();
    FCryptoAlgorithm = local->Password()->CryptoAlgorithm;
    FPageSize = local->PageSize();
    FPageCountInExtent = local->PageCountInExtent();
    FMaxConnections = local->MaxSessionCount();
  }
  FSession->NotifyDatabaseEvent(dbOpen, this);
}

void TVEXDatabase::ConnectLocalSession() {
  CreateLocalSession();
  FHandle->SetConnected(true);
  if (!FHandle->RepairNeeded() || FSilentMode || DesignMode()) return;
  TVEXDiskDatabaseAccess* disk = DiskAccessOf(LocalSession()->DatabaseData());
  if (disk == nullptr) return;
  bool doRepair = false;
  if (disk->FileVersion() >= kOldFormatVersion)
    AskRepair(doRepair);
  else
    NotifyOldFormat(doRepair);
  if (!doRepair) return;
  FreeLocalSession();
  const bool noRequest = FNoRequestAutoRepair;
  FNoRequestAutoRepair = true;
  ScopeExit restore([&] { FNoRequestAutoRepair = noRequest; });
  std::string log;
  bool repaired = false;
  try {
    repaired = RepairOnOpen(log);
  } catch (...) {
    repaired = false;
  }
  if (!repaired) throw EVEXException(20238, kRepairFailed);
  if (!log.empty()) ui::CurrentUi().ShowMessageBox(ui::mtWarning, log);
  CreateLocalSession();
  FHandle->SetConnected(true);
}

void TVEXDatabase::CreateLocalSession() {
  auto local = std::make_unique<TVEXLocalSession>();
  local->SetDatabaseName(FDatabaseName);
  local->SetDatabaseFileName(FDatabaseFileName);
  local->Password()->Password = FPassword;
  local->Password()->CryptoAlgorithm = FCryptoAlgorithm;
  local->SetPageSize(FPageSize);
  local->SetPageCountInExtent(FPageCountInExtent);
  local->SetMaxSessionCount(FMaxConnections);
  local->SetReadOnly(FReadOnly);
  local->SetExclusive(FExclusive);
  local->SetMultiUser(FMultiUser);
  if (FMultiUser) local->SetSessionName(FSessionName);
  auto shared = std::make_shared<TVEXSharedHandle>();
  shared->Session = std::move(local);
  FHandle = shared->Session.get();
  FSharedHandle = std::move(shared);
  FAcquiredHandle = false;
}

void TVEXDatabase::FreeLocalSession() {
  if (FHandle == nullptr) return;
  TVEXBaseSession* handle = std::exchange(FHandle, nullptr);
  // The engine session goes with the last component that uses it; the
  // others only let go (design note 2).
  std::shared_ptr<TVEXSharedHandle> shared = std::move(FSharedHandle);
  if (shared == nullptr || shared.use_count() > 1) return;
  handle->SetConnected(false);
}

void TVEXDatabase::DropLocalSession() noexcept {
  try {
    FreeLocalSession();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  FHandle = nullptr;
  FSharedHandle.reset();
}

void TVEXDatabase::Close() {
  if (!Connected()) return;
  if (FSession != nullptr) FSession->NotifyDatabaseEvent(dbClose, this);
  CloseDataSets();
  ScopeExit closed([&] {
    FAcquiredHandle = false;
    FRefCount = 0;
  });
  FreeLocalSession();
}

TVEXLocalSession* TVEXDatabase::LocalSession() const {
  return dynamic_cast<TVEXLocalSession*>(FHandle);
}

bool TVEXDatabase::AskPassword() {
  if (OnPassword) {
    bool proceed = false;
    OnPassword(*this, proceed);
    return proceed;
  }
  if (FSilentMode) return false;
  return ShowPasswordDialog(*this, "");
}

void TVEXDatabase::AskRepair(bool& DoRepair) {
  DoRepair = false;
  if (FNoRequestAutoRepair) return;
  if (OnNeedRepair) {
    OnNeedRepair(*this, DoRepair);
    return;
  }
  DoRepair = ui::CurrentUi().AskYesNo(kRepairQuestion);
}

void TVEXDatabase::NotifyOldFormat(bool& DoRepair) {
  DoRepair = false;
  if (FNoRequestAutoRepair) return;
  ui::CurrentUi().ShowMessageBox(ui::mtInformation, kOldFormatNotice);
  DoRepair = true;
}

// --- properties -------------------------------------------------------------

std::string TVEXDatabase::CurrentVersion() const { return "7.50 "; }

void TVEXDatabase::SetDatabaseFileName(const std::string& Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FDatabaseFileName = Value;
    return;
  }
  if (Value == FDatabaseFileName) return;
  SetConnected(false);
  FDatabaseFileName = Value;
}

void TVEXDatabase::SetDatabaseName(const std::string& Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FDatabaseName = Value;
    return;
  }
  if (Value == FDatabaseName) return;
  CheckClosedForChange();
  ValidateName(Value);
  FDatabaseName = Value;
}

void TVEXDatabase::SetSessionName(const std::string& Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FSessionName = Value;
    return;
  }
  CheckClosedForChange();
  if (Value == FSessionName) return;
  FSessionName = Value;
  if (!ComponentState().Contains(rtl::csDestroying)) CheckSessionName(false);
}

void TVEXDatabase::SetKeepConnection(bool Value) {
  if (Value == FKeepConnection) return;
  FKeepConnection = Value;
  if (!Value && FRefCount == 0) Close();
}

bool TVEXDatabase::Exists() const {
  std::error_code error;
  return !FDatabaseFileName.empty() && std::filesystem::is_regular_file(FDatabaseFileName, error);
}

void TVEXDatabase::SetHandle(TVEXBaseSession* Value) {
  if (Connected()) Close();
  if (Value == nullptr) return;
  CheckDatabaseName();
  CheckSessionName(true);
  if (Value->SessionComponentManager() != FSession->Handle())
    db::DatabaseError("Database handle owned by a different session");
  FHandle = Value;
  FSession->NotifyDatabaseEvent(dbOpen, this);
  FAcquiredHandle = true;
}

// --- transactions and questions to the engine session -----------------------

void TVEXDatabase::StartTransaction() {
  CheckActive();
  if (InTransaction()) db::DatabaseError("Database is already within a transaction");
  FHandle->StartTransaction();
}

void TVEXDatabase::Commit(bool DoFlushBuffers) {
  CheckActive();
  FHandle->Commit(DoFlushBuffers);
}

void TVEXDatabase::Rollback() {
  CheckActive();
  FHandle->Rollback();
}

bool TVEXDatabase::InTransaction() const { return FHandle != nullptr && FHandle->InTransaction(); }

void TVEXDatabase::FlushBuffers() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckActive();
  FHandle->FlushBuffers();
}

int32_t TVEXDatabase::GetDBFileConnectionsCount() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckActive();
  TVEXLocalSession* local = LocalSession();
  return local != nullptr ? local->GetDBFileConnectionsCount() : 0;
}

void TVEXDatabase::GetTablesList(rtl::TStringList& List) {
  const bool wasConnected = Connected();
  try {
    if (!wasConnected) Open();
    FHandle->GetTablesList(List);
    if (!wasConnected) Close();
  } catch (...) {
    // The list keeps what was added before the failure.
  }
}

bool TVEXDatabase::TableExists(std::string_view TableName) {
  if (!Connected()) Open();
  return FHandle != nullptr && FHandle->TableExists(TableName);
}

// --- datasets ---------------------------------------------------------------

void TVEXDatabase::AddDataSet(TVEXDataSet* DataSet) {
  if (std::find(FDataSets.begin(), FDataSets.end(), DataSet) == FDataSets.end())
    FDataSets.push_back(DataSet);
}

void TVEXDatabase::RemoveDataSet(TVEXDataSet* DataSet) { std::erase(FDataSets, DataSet); }

TVEXDataSet* TVEXDatabase::GetDataSet(int32_t Index) const {
  if (Index < 0 || Index >= DataSetCount()) rtl::RaiseListIndexError(Index);
  return FDataSets[static_cast<size_t>(Index)];
}

void TVEXDatabase::CloseDataSets() {
  // A dataset that fails to take itself off the list is taken off here, so
  // the loops always end.
  const bool wasClosing = std::exchange(FClosingDataSets, true);
  ScopeExit closed([&] { FClosingDataSets = wasClosing; });
  for (;;) {
    const auto query = std::find_if(FDataSets.begin(), FDataSets.end(),
                                    [](TVEXDataSet* d) { return d->IsQuery(); });
    if (query == FDataSets.end()) break;
    TVEXDataSet* dataSet = *query;
    dataSet->CloseAndRelease();
    RemoveDataSet(dataSet);
  }
  while (!FDataSets.empty()) {
    TVEXDataSet* dataSet = FDataSets.back();
    dataSet->CloseAndRelease();
    RemoveDataSet(dataSet);
  }
}

// --- checks -----------------------------------------------------------------

void TVEXDatabase::CheckDatabaseName() {
  if (FDatabaseName.empty() && !FTemporary) db::DatabaseError("Database name missing", this);
}

void TVEXDatabase::CheckActive() {
  if (!Connected()) db::DatabaseError("Cannot perform this operation on a closed database", this);
}

void TVEXDatabase::CheckInactive() {
  if (Connected()) db::DatabaseError("Cannot perform this operation on an open database", this);
}

void TVEXDatabase::CheckClosedForChange() {
  if (!Connected()) return;
  if (ComponentState().Contains(rtl::csDesigning))
    Close();
  else
    db::DatabaseError("Cannot perform this operation on an open database", this);
}

void TVEXDatabase::CheckSessionName(bool Required) {
  TVEXSessionList& sessions = Sessions();
  TVEXSession* session =
      Required ? &sessions.GetSessionByName(FSessionName) : sessions.FindSession(FSessionName);
  if (session != nullptr && session != FSession) {
    if (FSession != nullptr) {
      TVEXSession* old = std::exchange(FSession, nullptr);
      old->RemoveDatabase(this);
      if (old != Owner()) RemoveFreeNotification(old);
    }
    FSession = session;
    if (session != Owner()) FreeNotification(session);
    session->AddDatabase(this);
    try {
      ValidateName(FDatabaseName);
    } catch (...) {
      FDatabaseName.clear();
      throw;
    }
  }
  if (Required && session != nullptr) session->SetActive(true);
}

void TVEXDatabase::ValidateName(const std::string& Name) {
  if (Name.empty() || FSession == nullptr) return;
  TVEXSessionLockGuard guard(*FSession);
  TVEXDatabase* other = FSession->FindDatabase(Name);
  if (other == nullptr || other == this || (other->FHandleShared && FHandleShared)) return;
  if (other->FTemporary && other->FRefCount == 0) {
    delete other;
    return;
  }
  db::DatabaseError(rtl::Format("Duplicate database name '%s'", Name));
}

void TVEXDatabase::Loaded() {
  rtl::TComponent::Loaded();
  if (FStreamedConnected)
    Open();
  else
    CheckSessionName(false);
}

void TVEXDatabase::Notification(rtl::TComponent* Component, rtl::TOperation Operation) {
  rtl::TComponent::Notification(Component, Operation);
  if (Operation != rtl::opRemove || Component == nullptr || Component != FSession) return;
  if (FSession->IsDefault()) {
    // The default session goes only at shut-down: there is none to move to.
    Close();
    FSession = nullptr;
    return;
  }
  Close();
  if (!ComponentState().Contains(rtl::csDestroying)) SetSessionName("");
}

}  // namespace vex
