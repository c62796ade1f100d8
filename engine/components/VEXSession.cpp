#include "components/VEXSession.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "components/VEXDataSet.h"
#include "components/VEXDatabase.h"
#include "components/VEXEngineState.h"
#include "db/DBCommon.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/CodePage.h"
#include "rtl/Format.h"

namespace vex {

namespace {

bool SameSessionName(std::string_view a, std::string_view b) {
  return rtl::UpperCase(a) == rtl::UpperCase(b);
}

bool SameDatabaseName(std::string_view a, std::string_view b) {
  return rtl::AnsiUpperCase(a) == rtl::AnsiUpperCase(b);
}

}  // namespace

// --- TVEXSessionList --------------------------------------------------------

TVEXSessionList::~TVEXSessionList() { FreeSessions(); }

void TVEXSessionList::AddSession(TVEXSession* Session) {
  auto list = FSessions.LockList();
  if (list->Count() == 0) Session->FDefault = true;
  list->Add(Session);
}

void TVEXSessionList::RemoveSession(TVEXSession* Session) { FSessions.Remove(Session); }

void TVEXSessionList::FreeSessions() noexcept {
  for (;;) {
    TVEXSession* last = nullptr;
    {
      auto list = FSessions.LockList();
      if (list->Count() == 0) return;
      last = list->Last();
    }
    // The session leaves the list as it is freed; the list lock is not held
    // meanwhile, since freeing takes the session lock.
    FSessions.Remove(last);
    delete last;
  }
}

int32_t TVEXSessionList::Count() { return FSessions.LockList()->Count(); }

TVEXSession* TVEXSessionList::CurrentSession() {
  auto list = FSessions.LockList();
  for (TVEXSession* session : *list)
    if (IsCurrentSessionHandle(session->FHandle)) return session;
  return nullptr;
}

void TVEXSessionList::SetCurrentSession(TVEXSession& Session) {
  SetCurrentSessionHandle(Session.FHandle);
}

TVEXSession* TVEXSessionList::GetSession(int32_t Index) { return FSessions.LockList()->Get(Index); }

TVEXSession* TVEXSessionList::DefaultSession() {
  auto list = FSessions.LockList();
  for (TVEXSession* session : *list)
    if (session->FDefault) return session;
  return nullptr;
}

TVEXSession* TVEXSessionList::FindSession(std::string_view SessionName) {
  if (SessionName.empty()) return DefaultSession();
  auto list = FSessions.LockList();
  for (TVEXSession* session : *list)
    if (SameSessionName(session->SessionName(), SessionName)) return session;
  return nullptr;
}

TVEXSession& TVEXSessionList::GetSessionByName(std::string_view SessionName) {
  TVEXSession* session = FindSession(SessionName);
  if (session == nullptr) throw EVEXException(20002, "Invalid session name '%s'", SessionName);
  return *session;
}

void TVEXSessionList::GetSessionNames(rtl::TStringList& List) {
  List.BeginUpdate();
  ScopeExit endUpdate([&] { List.EndUpdate(); });
  List.Clear();
  auto list = FSessions.LockList();
  for (TVEXSession* session : *list) List.Add(session->SessionName());
}

TVEXSession& TVEXSessionList::OpenSession(std::string_view SessionName) {
  TVEXSession* session = FindSession(SessionName);
  if (session == nullptr) {
    auto made = std::make_unique<TVEXSession>(nullptr);
    made->SetSessionName(std::string(SessionName));
    // From here on the list frees it.
    session = made.release();
  }
  session->SetActive(true);
  return *session;
}

// --- TVEXSession ------------------------------------------------------------

rtl::TComponent* TVEXSession::CheckedOwner(rtl::TComponent* AOwner) {
  if (AOwner == nullptr) return nullptr;
  for (int32_t i = 0; i < AOwner->ComponentCount(); ++i) {
    auto* other = dynamic_cast<TVEXSession*>(AOwner->Components(i));
    if (other != nullptr && other->AutoSessionName())
      db::DatabaseError(rtl::Format("Cannot add a session to the form or data-module while "
                                    "session '%s' has AutoSessionName enabled",
                                    other->Name()));
  }
  return AOwner;
}

TVEXSession::TVEXSession(rtl::TComponent* AOwner) : rtl::TComponent(CheckedOwner(AOwner)) {
  Sessions().AddSession(this);
}

TVEXSession::~TVEXSession() {
  Destroying();
  try {
    SetActive(false);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  if (TVEXSessionList* list = SessionsOrNil()) list->RemoveSession(this);
  ReleaseSessionNumber();
  DestroyComponents();
  // Database components owned elsewhere move to the default session (or, for
  // the default session itself at shut-down, to none) before the list of
  // them goes.
  while (!FDatabases.empty()) {
    TVEXDatabase* database = FDatabases.back();
    try {
      database->Notification(this, rtl::opRemove);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
    if (!FDatabases.empty() && FDatabases.back() == database) FDatabases.pop_back();
    if (database->FSession == this) database->FSession = nullptr;
  }
}

void TVEXSession::SetActive(bool Value) {
  if (ComponentState().Contains(rtl::csLoading)) {
    FStreamedActive = Value;
    return;
  }
  if (Value != Active()) StartSession(Value);
}

void TVEXSession::StartSession(bool Value) {
  TVEXLockGuard guard(Sessions().SessionLock());
  if (Value)
    Activate();
  else
    Deactivate();
}

void TVEXSession::Activate() {
  if (OnStartup) OnStartup(*this);
  if (FSessionName.empty()) db::DatabaseError("Session name missing", this);
  if (!FDefault) GetDefaultSession().SetActive(true);
  if (FDefault) {
    InitEngine();
    FHandle = GetEngineHandle();
  } else {
    CreateSessionHandle(FHandle);
  }
}

void TVEXSession::Deactivate() {
  SetCurrentSessionHandle(FHandle);
  // Every database is dealt with, also after one failed; the first failure
  // passes on once the session is inactive.
  std::exception_ptr failure;
  for (size_t i = FDatabases.size(); i > 0; --i) {
    if (i > FDatabases.size()) continue;  // a freed one took others with it
    TVEXDatabase* database = FDatabases[i - 1];
    try {
      if (database->Temporary())
        delete database;
      else
        database->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (FDefault) {
    DoneEngine();
  } else {
    FreeSessionHandle(FHandle);
    if (TVEXSession* defaultSession = Sessions().DefaultSession())
      SetCurrentSessionHandle(defaultSession->FHandle);
    else
      SetCurrentSessionHandle(nullptr);
  }
  FHandle = nullptr;
  if (failure) std::rethrow_exception(failure);
}

TVEXSessionComponentManager* TVEXSession::Handle() {
  if (FHandle != nullptr)
    SetCurrentSessionHandle(FHandle);
  else
    SetActive(true);
  return FHandle;
}

void TVEXSession::LockSession() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLock& lock = Sessions().SessionLock();
  lock.Lock();
  try {
    MakeCurrent();
  } catch (...) {
    lock.Unlock();
    throw;
  }
}

void TVEXSession::UnlockSession() VEX_NO_THREAD_SAFETY_ANALYSIS {
  Sessions().SessionLock().Unlock();
}

void TVEXSession::MakeCurrent() {
  if (FHandle != nullptr)
    SetCurrentSessionHandle(FHandle);
  else
    SetActive(true);
}

void TVEXSession::CheckInactive() {
  if (Active()) db::DatabaseError("Cannot perform this operation on an active session", this);
}

void TVEXSession::AddDatabase(TVEXDatabase* Database) {
  FDatabases.push_back(Database);
  NotifyDatabaseEvent(dbAdd, Database);
}

void TVEXSession::RemoveDatabase(TVEXDatabase* Database) {
  {
    TVEXLockGuard guard(Sessions().SessionLock());
    std::erase(FDatabases, Database);
  }
  NotifyDatabaseEvent(dbRemove, Database);
}

void TVEXSession::NotifyDatabaseEvent(TVEXDatabaseEvent Event, TVEXDatabase* Database) {
  if (FOnDBNotify) FOnDBNotify(Event, Database);
}

TVEXDatabase* TVEXSession::FindDatabase(std::string_view DatabaseName) {
  TVEXSessionLockGuard guard(*this);
  for (TVEXDatabase* database : FDatabases) {
    if ((!database->DatabaseName().empty() || database->Temporary()) &&
        SameDatabaseName(database->DatabaseName(), DatabaseName))
      return database;
  }
  return nullptr;
}

TVEXDatabase* TVEXSession::FindDatabaseForOwner(std::string_view DatabaseName,
                                                rtl::TComponent* Owner) {
  TVEXSessionLockGuard guard(*this);
  if (Owner != nullptr) {
    for (TVEXDatabase* database : FDatabases) {
      if (database->Owner() == Owner && database->HandleShared() &&
          SameDatabaseName(database->DatabaseName(), DatabaseName))
        return database;
    }
  }
  return FindDatabase(DatabaseName);
}

TVEXDatabase* TVEXSession::FindSharedDatabase(std::string_view DatabaseName,
                                              const TVEXDatabase* Except) {
  for (TVEXDatabase* database : FDatabases) {
    if (database != Except && database->Connected() && database->HandleShared() &&
        SameDatabaseName(database->DatabaseName(), DatabaseName))
      return database;
  }
  return nullptr;
}

TVEXBaseSession* TVEXSession::FindSharedDatabaseHandle(std::string_view DatabaseName) {
  TVEXDatabase* database = FindSharedDatabase(DatabaseName, nullptr);
  return database != nullptr ? database->Handle() : nullptr;
}

TVEXDatabase& TVEXSession::OpenDatabaseForOwner(std::string_view DatabaseName,
                                                rtl::TComponent* Owner) {
  TVEXSessionLockGuard guard(*this);
  TVEXDatabase* database = FindDatabaseForOwner(DatabaseName, Owner);
  if (database != nullptr) {
    database->Open();
    ++database->FRefCount;
    return *database;
  }
  // A temporary component for the caller, owned by this session; it goes
  // again when it cannot be opened.
  auto made = std::make_unique<TVEXDatabase>(this);
  made->SetDatabaseName(std::string(DatabaseName));
  made->SetKeepConnection(FKeepConnections);
  made->SetTemporary(true);
  made->SetSilentMode(true);
  made->Open();
  ++made->FRefCount;
  return *made.release();
}

void TVEXSession::CloseDatabase(TVEXDatabase& Database) {
  if (Database.FRefCount > 0) --Database.FRefCount;
  if (Database.FRefCount != 0 || Database.KeepConnection()) return;
  if (!Database.Temporary())
    Database.Close();
  else if (!Database.ComponentState().Contains(rtl::csDestroying))
    delete &Database;
}

void TVEXSession::DropConnections() {
  for (size_t i = FDatabases.size(); i > 0; --i) {
    if (i > FDatabases.size()) continue;
    TVEXDatabase* database = FDatabases[i - 1];
    if (database->Temporary() && database->RefCount() == 0) delete database;
  }
}

void TVEXSession::GetDatabaseNames(rtl::TStringList& List) {
  rtl::TStringList names;
  names.SetSorted(true);
  names.SetDuplicates(rtl::dupIgnore);
  for (TVEXDatabase* database : FDatabases) names.Add(database->DatabaseName());
  List.BeginUpdate();
  ScopeExit endUpdate([&] { List.EndUpdate(); });
  List.Clear();
  for (int32_t i = 0; i < names.Count(); ++i) List.Add(names[i]);
}

void TVEXSession::GetTableNames(std::string_view DatabaseName, rtl::TStringList& List) {
  List.BeginUpdate();
  ScopeExit endUpdate([&] { List.EndUpdate(); });
  List.Clear();
  if (DatabaseName.empty()) return;
  TVEXDatabase& database = OpenDatabase(DatabaseName);
  ScopeExit close([&] {
    try {
      CloseDatabase(database);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  database.Handle()->GetTablesList(List);
}

TVEXDatabase* TVEXSession::GetDatabase(int32_t Index) const {
  if (Index < 0 || Index >= DatabaseCount()) rtl::RaiseListIndexError(Index);
  return FDatabases[static_cast<size_t>(Index)];
}

void TVEXSession::SetSessionName(const std::string& Value) {
  if (FAutoSessionName && !FUpdatingAutoSessionName)
    db::DatabaseError("Cannot modify SessionName while AutoSessionName is enabled", this);
  CheckInactive();
  if (!Value.empty()) {
    TVEXSession* other = Sessions().FindSession(Value);
    if (other != nullptr && other != this)
      db::DatabaseError(rtl::Format("Duplicate session name '%s'", Value), this);
  }
  FSessionName = Value;
}

void TVEXSession::SetAutoSessionName(bool Value) {
  if (Value == FAutoSessionName) return;
  if (!Value) {
    ReleaseSessionNumber();
    FAutoSessionName = false;
    return;
  }
  CheckInactive();
  CheckOwnerSessions(Owner(), true);
  FSessionNumber = -1;
  {
    TVEXSessionList& list = Sessions();
    TVEXLockGuard guard(list.SessionLock());
    rtl::TBits& numbers = list.SessionNumbers();
    FSessionNumber = numbers.OpenBit();
    numbers.Set(FSessionNumber, true);
    FHoldsSessionNumber = true;
  }
  // A name that cannot be taken gives its number back.
  ScopeFailure giveBack([&] { ReleaseSessionNumber(); });
  UpdateAutoSessionName();
  FAutoSessionName = true;
}

void TVEXSession::ReleaseSessionNumber() {
  if (!FHoldsSessionNumber) return;
  FHoldsSessionNumber = false;
  TVEXSessionList* list = SessionsOrNil();
  if (list == nullptr) return;
  TVEXLockGuard guard(list->SessionLock());
  list->SessionNumbers().Set(FSessionNumber, false);
}

void TVEXSession::UpdateAutoSessionName() {
  FUpdatingAutoSessionName = true;
  ScopeExit done([&] { FUpdatingAutoSessionName = false; });
  SetSessionName(rtl::Format("%s_%d", Name(), FSessionNumber + 1));
  UpdateOwnerSessionNames();
}

void TVEXSession::UpdateOwnerSessionNames() {
  rtl::TComponent* owner = Owner();
  if (owner == nullptr) return;
  for (int32_t i = 0; i < owner->ComponentCount(); ++i) {
    rtl::TComponent* component = owner->Components(i);
    if (auto* dataSet = dynamic_cast<TVEXDataSet*>(component)) {
      if (dataSet->SessionName() != FSessionName) dataSet->SetSessionName(FSessionName);
    } else if (auto* database = dynamic_cast<TVEXDatabase*>(component)) {
      if (database->SessionName() != FSessionName) database->SetSessionName(FSessionName);
    }
  }
}

void TVEXSession::CheckOwnerSessions(rtl::TComponent* AOwner, bool Enabling) {
  if (AOwner == nullptr) return;
  for (int32_t i = 0; i < AOwner->ComponentCount(); ++i) {
    auto* other = dynamic_cast<TVEXSession*>(AOwner->Components(i));
    if (other == nullptr || other == this) continue;
    if (Enabling)
      db::DatabaseError(
          "Cannot enable AutoSessionName property with more than one session on a form or "
          "data-module",
          this);
    if (other->AutoSessionName())
      db::DatabaseError(rtl::Format("Cannot add a session to the form or data-module while "
                                    "session '%s' has AutoSessionName enabled",
                                    other->Name()),
                        this);
  }
}

void TVEXSession::Loaded() {
  rtl::TComponent::Loaded();
  if (FAutoSessionName) UpdateOwnerSessionNames();
  if (FStreamedActive) SetActive(true);
}

void TVEXSession::DoSetName(const std::string& Name) {
  rtl::TComponent::DoSetName(Name);
  if (FAutoSessionName) UpdateAutoSessionName();
}

void TVEXSession::Notification(rtl::TComponent* Component, rtl::TOperation Operation) {
  rtl::TComponent::Notification(Component, Operation);
  if (!FAutoSessionName || Operation != rtl::opInsert || Component->Owner() != Owner()) return;
  // A database made on this session's owner joins this session in its own
  // constructor.
  if (auto* database = dynamic_cast<TVEXDatabase*>(Component)) database->FSession = this;
  // A dataset made there takes this session's name as it stands.
  if (auto* dataSet = dynamic_cast<TVEXDataSet*>(Component)) dataSet->FSessionName = FSessionName;
}

}  // namespace vex
