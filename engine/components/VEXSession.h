// Sessions: named groups of database components, and the list of all of them.
//
// A dataset finds its database by the pair of its session name and database
// name: the session of that name, then that session's database component of
// that name or, when there is none, a temporary one the session makes for it.
// The session name also reaches the storage engine: database components of
// different session names never share a shared database object, so they meet
// only through the locks in the database file. The first session of the list
// is the default session "Default", made at start-up (VEXEngineState.h).
//
// Design notes
//   1. A session is active exactly while it has a handle. Activating any
//      session activates the default session first; the default session's
//      handle is the engine's (InitEngine), every other session makes its own.
//      Deactivating makes the session current, frees its temporary database
//      components, closes the others (they stay in its list), releases its
//      handle, and leaves the default session current.
//   2. Automatic session names: a session with AutoSessionName holds the
//      lowest number free in the list's number set from switching it on to
//      switching it off (or to its destruction), and is named after its
//      component name and that number plus one ("Session1_1").
//   3. Session names compare ignoring the case of the letters a to z; an empty
//      name finds the default session.
//   4. A session's database list holds each database component once, from its
//      joining to its leaving. A session that is freed moves the database
//      components it does not own to the default session.
//
// Locks (outermost first): the session lock, which the session list owns (one
// per process, re-entrant: it serialises activating sessions, each session's
// databases, the automatic numbers, and opening and creating databases); the
// list lock of the shared database objects; a database's lock. The
// session-list lock guards only the list of sessions, for one list operation,
// and is never held while a session is activated or freed.
//
// Threads: the session lock serialises what it guards; everything else is
// used on the thread that owns the components.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXLock.h"
#include "rtl/Component.h"
#include "rtl/Lists.h"
#include "storage/VEXBaseSession.h"

namespace vex {

class TVEXDatabase;
class TVEXSession;

enum TVEXDatabaseEvent : uint8_t { dbOpen, dbClose, dbAdd, dbRemove };

using TVEXSessionNotifyEvent = std::function<void(TVEXSession& Sender)>;

class TVEXSessionList {
 public:
  // Empty, with the session lock and no numbers in use.
  TVEXSessionList() = default;
  // Frees every session (FreeSessions).
  ~TVEXSessionList();
  TVEXSessionList(const TVEXSessionList&) = delete;
  TVEXSessionList& operator=(const TVEXSessionList&) = delete;

  // The process-wide session lock (re-entrant).
  TVEXLock& SessionLock() VEX_RETURN_CAPABILITY(FSessionLock) { return FSessionLock; }
  // The automatic session numbers in use (design note 2).
  rtl::TBits& SessionNumbers() VEX_REQUIRES(FSessionLock) { return FSessionNumbers; }

  // Appends Session; the first session to join is the default session.
  void AddSession(TVEXSession* Session);
  // Takes Session off the list (a session leaving it as it is freed).
  void RemoveSession(TVEXSession* Session);
  // Frees every session from the last to the first; never raises.
  void FreeSessions() noexcept;
  int32_t Count();
  // The first session whose handle is the current one; nullptr when none.
  TVEXSession* CurrentSession();
  // Makes Session's handle the current one.
  void SetCurrentSession(TVEXSession& Session);
  // The session at Index; EListError out of range.
  TVEXSession* GetSession(int32_t Index);
  // "" gives the default session; otherwise the first session of that name
  // (design note 3); nullptr when none.
  TVEXSession* FindSession(std::string_view SessionName);
  // FindSession; EVEXException 20002 "Invalid session name '%s'" when none.
  TVEXSession& GetSessionByName(std::string_view SessionName);
  // Replaces List's strings with every session's name, in list order.
  void GetSessionNames(rtl::TStringList& List);
  // The session of that name, made (without owner) when there is none, and
  // activated.
  TVEXSession& OpenSession(std::string_view SessionName);
  TVEXSession* DefaultSession();

 private:
  rtl::TThreadList<TVEXSession> FSessions;
  TVEXLock FSessionLock;
  rtl::TBits FSessionNumbers VEX_GUARDED_BY(FSessionLock);
};

class TVEXSession : public rtl::TComponent {
 public:
  // Refuses an owner that holds a session with AutoSessionName (before the
  // component exists). Joins the session list, inactive, KeepConnections on.
  explicit TVEXSession(rtl::TComponent* AOwner);
  // Deactivates (never raises), leaves the session list, frees the components
  // it owns and moves the others to the default session.
  ~TVEXSession() override;

  bool Active() const { return FHandle != nullptr; }
  // While loading only remembered; otherwise activates or deactivates when the
  // value differs.
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  bool AutoSessionName() const { return FAutoSessionName; }
  void SetAutoSessionName(bool Value);
  bool KeepConnections() const { return FKeepConnections; }
  void SetKeepConnections(bool Value) { FKeepConnections = Value; }
  const std::string& SessionName() const { return FSessionName; }
  // "Cannot modify SessionName while AutoSessionName is enabled", "Cannot
  // perform this operation on an active session", "Duplicate session name
  // '%s'".
  void SetSessionName(const std::string& Value);
  int32_t SessionNumber() const { return FSessionNumber; }
  bool IsDefault() const { return FDefault; }
  TVEXSessionNotifyEvent OnStartup;

  // The session's handle, made current; activates an inactive session.
  TVEXSessionComponentManager* Handle();
  // The handle as it is, without activating (nullptr while inactive).
  TVEXSessionComponentManager* CurrentHandle() const { return FHandle; }

  // Enters the session lock and makes the session current (activating it);
  // leaves the lock again when that fails.
  void LockSession();
  void UnlockSession();
  void MakeCurrent();
  void CheckInactive();

  void AddDatabase(TVEXDatabase* Database);
  void RemoveDatabase(TVEXDatabase* Database);
  void NotifyDatabaseEvent(TVEXDatabaseEvent Event, TVEXDatabase* Database);
  // The first database component of the list with that name (empty names
  // count only for temporary ones); nullptr when none.
  TVEXDatabase* FindDatabase(std::string_view DatabaseName);
  // With an owner, the first database component of that owner with
  // HandleShared and the name; otherwise, and when none, FindDatabase.
  TVEXDatabase* FindDatabaseForOwner(std::string_view DatabaseName, rtl::TComponent* Owner);
  // The engine session of the first connected database component with the name
  // and HandleShared; nullptr when none.
  TVEXBaseSession* FindSharedDatabaseHandle(std::string_view DatabaseName);
  // The database component of that name (a silent temporary one owned by the
  // session when there is none), opened, with one more reference. A temporary
  // component made here is freed again when the open fails.
  TVEXDatabase& OpenDatabaseForOwner(std::string_view DatabaseName, rtl::TComponent* Owner);
  TVEXDatabase& OpenDatabase(std::string_view DatabaseName) {
    return OpenDatabaseForOwner(DatabaseName, nullptr);
  }
  // One reference less; the last one closes a database without
  // KeepConnection (frees it when temporary).
  void CloseDatabase(TVEXDatabase& Database);
  // Frees every unreferenced temporary database component, last first.
  void DropConnections();
  // The names of the session's database components, sorted, without
  // duplicates.
  void GetDatabaseNames(rtl::TStringList& List);
  // The table names of the named database (opened for the call).
  void GetTableNames(std::string_view DatabaseName, rtl::TStringList& List);
  TVEXDatabase* GetDatabase(int32_t Index) const;
  int32_t DatabaseCount() const { return static_cast<int32_t>(FDatabases.size()); }

  void Loaded() override;
  void Notification(rtl::TComponent* Component, rtl::TOperation Operation) override;

 protected:
  void DoSetName(const std::string& Name) override;

 private:
  friend class TVEXSessionList;

  static rtl::TComponent* CheckedOwner(rtl::TComponent* AOwner);
  void StartSession(bool Value);
  void Activate();
  void Deactivate();
  void UpdateAutoSessionName();
  void UpdateOwnerSessionNames();
  void CheckOwnerSessions(rtl::TComponent* AOwner, bool Enabling);
  void ReleaseSessionNumber();
  // The shared-handle lender for a database of that name, or nullptr.
  TVEXDatabase* FindSharedDatabase(std::string_view DatabaseName, const TVEXDatabase* Except);

  TVEXSessionComponentManager* FHandle = nullptr;
  std::vector<TVEXDatabase*> FDatabases;
  bool FStreamedActive = false;
  bool FKeepConnections = true;
  bool FDefault = false;
  bool FAutoSessionName = false;
  bool FUpdatingAutoSessionName = false;
  std::string FSessionName;
  int32_t FSessionNumber = 0;
  bool FHoldsSessionNumber = false;  // its bit is set in the list's number set
  std::function<void(TVEXDatabaseEvent DBEvent, TVEXDatabase* Param)> FOnDBNotify;

  friend class TVEXDatabase;
};

// Holds a session's lock (LockSession) for its scope.
class TVEXSessionLockGuard {
 public:
  explicit TVEXSessionLockGuard(TVEXSession& Session) : FSession(Session) {
    FSession.LockSession();
  }
  ~TVEXSessionLockGuard() { FSession.UnlockSession(); }
  TVEXSessionLockGuard(const TVEXSessionLockGuard&) = delete;
  TVEXSessionLockGuard& operator=(const TVEXSessionLockGuard&) = delete;

 private:
  TVEXSession& FSession;
};

}  // namespace vex
