// The database component: the application's handle on one database, a
// database file on disk or, by the names "MEMORY" and "TEMP", the process-wide
// in-memory and temporary databases.
//
// It belongs to a session (VEXSession.h), by which datasets find it, and opens
// the database by making an engine session of its own (TVEXLocalSession,
// VEXLocalEngine.h) and connecting it. Opening is where the user may be asked
// for the password (OnPassword, else the password dialog) and whether a
// database that was not closed correctly should be repaired (OnNeedRepair,
// else a question); no dialog or question is shown in SilentMode, and no
// repair question in design mode. It runs transactions through its engine
// session and closes its datasets when it closes.
//
// Design notes
//   1. Connected exactly while FHandle is set. Opening never leaves a
//      half-open component: on any failure the engine session it made is
//      disconnected and freed, the session lock is released and
//      NoRequestAutoRepair has its old value.
//   2. An engine session made by a component may be shared, through
//      HandleShared, with the components of the same name and session that
//      open after it. It is counted: whichever of them closes last disconnects
//      and frees it, so the others keep a live engine session whatever the
//      order of closing. An engine session handed in through Handle belongs to
//      whoever handed it in and is never freed here.
//   3. Settings written while open (Password, MultiUser, MaxConnections, ...)
//      count from the next open; opening reads the file's page geometry,
//      connection limit, cipher and read-only state back.
//
// Lock order: the session lock (held while opening and validating names), the
// list lock of the shared database objects, the database's own lock.
//
// Threads: used on the thread that owns the components; what is shared with
// other components goes through the session lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/dialogs/VEXDlgWait.h"
#include "rtl/Component.h"
#include "storage/VEXBaseSession.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXDatabase;
class TVEXDataSet;
class TVEXLocalSession;
class TVEXSession;

using TVEXPasswordEvent = std::function<void(TVEXDatabase& Sender, bool& Continue)>;
using TVEXOnNeedRepairEvent = std::function<void(TVEXDatabase& Sender, bool& DoRepair)>;

// The Before and After events of the long operations.
using TVEXNotifyEvent = std::function<void(rtl::TComponent& Sender)>;
// Progress of a long operation, PercentDone from 0 to 100; leaving Continue
// False stops the operation at this call.
using TVEXProgressEvent =
    std::function<void(rtl::TComponent& Sender, int32_t PercentDone, bool& Continue)>;

// The header version below which a database file has the old format.
inline constexpr double kOldFormatVersion = 2.99;

class TVEXDatabase : public rtl::TComponent {
 public:
  // Joins the session set on it during its creation, else AOwner when that is
  // a session, else the default session.
  explicit TVEXDatabase(rtl::TComponent* AOwner);
  // Closes (never raises) and leaves its session while the session list
  // exists.
  ~TVEXDatabase() override;

  // --- opening and closing
  bool Connected() const { return FHandle != nullptr; }
  // While loading only remembered; otherwise Open or Close when it differs.
  void SetConnected(bool Value);
  // Nothing when connected. Errors: "Database name missing", 20002 for a
  // session name no session has, "Database file '%s' does not exist", the
  // engine's 30445 when no new password is given, 20298, 20238 for a failed
  // repair on open.
  void Open();
  // Closes the datasets and releases the engine session (design note 2);
  // nothing when closed.
  void Close();

  // --- properties
  // Always the format version this engine writes, whatever was written.
  std::string CurrentVersion() const;
  void SetCurrentVersion(const std::string& Value) { FCurrentVersion = Value; }
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  // A new file name closes the database first.
  void SetDatabaseFileName(const std::string& Value);
  const std::string& DatabaseName() const { return FDatabaseName; }
  // Needs a closed database and a name no other database of the session has.
  void SetDatabaseName(const std::string& Value);
  const std::string& SessionName() const { return FSessionName; }
  // Needs a closed database; joins the session of that name when there is one.
  void SetSessionName(const std::string& Value);
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value) { FExclusive = Value; }
  // Windows-1252; empty for an unencrypted database.
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool HandleShared() const { return FHandleShared; }
  void SetHandleShared(bool Value) { FHandleShared = Value; }
  bool KeepConnection() const { return FKeepConnection; }
  // Switched off with no dataset referring to it: closes.
  void SetKeepConnection(bool Value);
  int32_t MaxConnections() const { return FMaxConnections; }
  void SetMaxConnections(int32_t Value) { FMaxConnections = Value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool Value) { FMultiUser = Value; }
  bool SilentMode() const { return FSilentMode; }
  void SetSilentMode(bool Value) { FSilentMode = Value; }
  bool DisableTempFiles() const { return FDisableTempFiles; }
  void SetDisableTempFiles(bool Value) { FDisableTempFiles = Value; }
  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t Value) { FPageSize = Value; }
  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t Value) { FPageCountInExtent = Value; }
  TVEXCryptoAlgorithm CryptoAlgorithm() const { return FCryptoAlgorithm; }
  void SetCryptoAlgorithm(TVEXCryptoAlgorithm Value) { FCryptoAlgorithm = Value; }
  bool NoRequestAutoRepair() const { return FNoRequestAutoRepair; }
  bool Temporary() const { return FTemporary; }
  void SetTemporary(bool Value) { FTemporary = Value; }
  // Whether the file DatabaseFileName exists.
  bool Exists() const;
  TVEXSession* Session() const { return FSession; }
  // The engine session; nullptr while closed.
  TVEXBaseSession* Handle() const { return FHandle; }
  // Closes; then, for an engine session whose SessionComponentManager is this
  // database's session's handle, uses it without owning it ("Database handle
  // owned by a different session" for any other).
  void SetHandle(TVEXBaseSession* Value);
  // Datasets that opened the database through its session.
  int32_t RefCount() const { return FRefCount; }

  TVEXPasswordEvent OnPassword;
  TVEXOnNeedRepairEvent OnNeedRepair;

  // --- transactions and questions to the engine session
  // "Database is already within a transaction" for a second start.
  void StartTransaction();
  void Commit(bool DoFlushBuffers = false);
  void Rollback();
  bool InTransaction() const;
  void FlushBuffers();
  int32_t GetDBFileConnectionsCount();
  // Connects for the call when closed; swallows every failure.
  void GetTablesList(rtl::TStringList& List);
  // Connects when closed (and stays connected).
  bool TableExists(std::string_view TableName);

  // --- datasets
  void AddDataSet(TVEXDataSet* DataSet);
  void RemoveDataSet(TVEXDataSet* DataSet);
  int32_t DataSetCount() const { return static_cast<int32_t>(FDataSets.size()); }
  TVEXDataSet* GetDataSet(int32_t Index) const;
  // Queries first (from the front), then the other datasets from the last.
  void CloseDataSets();
  // True while CloseDataSets runs: a dataset that lets go of the database then
  // does not give it back to the session (the database is closing itself).
  bool ClosingDataSets() const { return FClosingDataSets; }

  // --- checks (the platform's database error with this component)
  void CheckDatabaseName();
  void CheckActive();
  void CheckInactive();
  void CheckClosedForChange();
  void CheckSessionName(bool Required);
  void ValidateName(const std::string& Name);

  // --- maintenance (VEXDatabaseMaintenance.cpp)
  //
  // Each operation below needs a database name, a session of SessionName and
  // a closed database first ("Database name missing", 20002, "Cannot perform
  // this operation on an open database"). The rebuilding ones (compact,
  // repair, password and settings change) copy every table into a new file
  // and report progress through their events, else the wait form (not in
  // SilentMode); they leave the component closed with Exclusive and
  // SilentMode as they were. Where one replaces the database file, it does so
  // by one atomic move of the new file over the old: when that move fails
  // (another connection has either file open) the operation fails with 30378,
  // the old file stays and the new one is deleted.

  // Writes a new, empty database file with the component's password, cipher,
  // page geometry and MaxConnections; the component stays closed. The
  // engine's errors (20092 for a file open here under the same session name)
  // pass on.
  void CreateDatabase();
  // Deletes the file DatabaseFileName; a file that cannot be deleted (missing,
  // open elsewhere) is left without a report.
  void DeleteDatabase();
  // Moves the file to NewDatabaseFileName (never over an existing file); only
  // when that succeeds DatabaseFileName becomes the new name.
  void RenameDatabase(const std::string& NewDatabaseFileName);
  // Opens the database exclusively for the call and cuts the unused pages off
  // the end of its file.
  void TruncateDatabase();
  // Rebuilds into NewDatabaseFileName; the database file stays as it was.
  // 30456 when the rebuild ends with False (stopped, or something logged), the
  // rebuild's errors otherwise; on any failure the new file is deleted.
  bool CompactDatabase(const std::string& NewDatabaseFileName);
  // Compacts into DatabaseFileName + ".tmp" and moves that over the file.
  bool CompactDatabase();
  // Rebuilds into NewDatabaseFileName skipping (and logging) what cannot be
  // copied; the database file stays as it was. False when it failed.
  bool RepairDatabase(const std::string& NewDatabaseFileName, std::string& Log);
  // Repairs in place: the original file is kept as DatabaseFileName + ".bak".
  // Returns the log: the problems skipped, or why the repair failed ("Unknown
  // error" when nothing says), in which case nothing was replaced. A failure to
  // read the table names or to replace the file raises.
  std::string RepairDatabase();
  // Rebuilds with a new password (and cipher) and moves the new file over the
  // old; Password and CryptoAlgorithm take the new values only then. Returns
  // the log.
  std::string ChangePassword(const std::string& NewPassword);
  std::string ChangePassword(const std::string& NewPassword,
                             TVEXCryptoAlgorithm NewCryptoAlgorithm);
  // Rebuilds with all the new values and moves the new file over the old;
  // 20274 for a connection limit below 1, before any file is written.
  bool ChangeDatabaseSettings(std::string& Log, bool IgnoreErrors, const std::string& NewPassword,
                              TVEXCryptoAlgorithm NewCryptoAlgorithm, int32_t NewPageSize,
                              int32_t NewPageCountInExtent, int32_t NewMaxConnections);
  // Writes ExeDbFileName: the stub's bytes, then the database file's, with the
  // stub's permission bits. The database file is read denying others write
  // access, so a database open for writing elsewhere is refused; the file
  // errors are rtl::EOSError ("Cannot open file ...", "Cannot create file
  // ...", "Cannot read file ...", "Cannot write file ...").
  void MakeExecutableDatabase(const std::string& ExeStubFileName, const std::string& ExeDbFileName);

  TVEXNotifyEvent BeforeRepair;
  TVEXProgressEvent OnRepairProgress;
  TVEXNotifyEvent AfterRepair;
  TVEXNotifyEvent BeforeCompact;
  TVEXProgressEvent OnCompactProgress;
  TVEXNotifyEvent AfterCompact;
  TVEXNotifyEvent BeforeChangePassword;
  TVEXProgressEvent OnChangePasswordProgress;
  TVEXNotifyEvent AfterChangePassword;
  TVEXNotifyEvent AfterChangeDatabaseSettings;
  TVEXProgressEvent OnChangeDatabaseSettingsProgress;
  TVEXNotifyEvent BeforeChangeDatabaseSettings;

  void Loaded() override;
  void Notification(rtl::TComponent* Component, rtl::TOperation Operation) override;

 private:
  friend class TVEXSession;

  // Makes the engine session of this component from its settings.
  void CreateLocalSession();
  // Disconnects and frees the engine session when this component is its last
  // user (design note 2); FHandle is nil afterwards, also on a failure.
  void FreeLocalSession();
  // FreeLocalSession for a path that is failing already: keeps the first
  // failure.
  void DropLocalSession() noexcept;
  // One pass of the open loop: connect, and repair when asked to.
  void ConnectLocalSession();
  bool AskPassword();
  void AskRepair(bool& DoRepair);
  void NotifyOldFormat(bool& DoRepair);
  // Repairs the file in place, keeping the original as ".bak"; Log gets the
  // problems skipped, or why it failed. False when nothing was replaced.
  // (VEXDatabaseMaintenance.cpp)
  bool RepairOnOpen(std::string& Log);
  TVEXLocalSession* LocalSession() const;
  void LeaveSession();

  // --- maintenance (VEXDatabaseMaintenance.cpp)
  enum class TVEXMaintenanceKind { Repair, Compact, ChangePassword, ChangeSettings };
  // The new database's values of a rebuild.
  struct TVEXRebuildSettings {
    std::string Password;
    TVEXCryptoAlgorithm CryptoAlgorithm;
    int32_t PageSize;
    int32_t PageCountInExtent;
    int32_t MaxConnections;
  };
  TVEXRebuildSettings CurrentSettings() const;
  // Close for a path that is failing already: keeps the first failure.
  void CloseQuietly() noexcept;
  // Copies every table into a new database file; True with IgnoreErrors,
  // otherwise True exactly when nothing was logged.
  bool RebuildDatabase(const std::string& NewDatabaseFileName, std::string& Log, bool IgnoreErrors,
                       const TVEXRebuildSettings& New, TVEXMaintenanceKind Kind);
  // Raises 20303 when the folder of NewDatabaseFileName has less room than
  // the database file takes; an unknown amount lets the rebuild go on.
  void CheckFreeSpace(const std::string& NewDatabaseFileName);
  void CopyTableForRebuild(const std::string& TableName, TVEXDatabase& NewDatabase,
                           std::string& Log, bool& Continue, bool IgnoreErrors, int32_t MinProgress,
                           int32_t MaxProgress, TVEXMaintenanceKind Kind);
  // Moves NewFileName over DatabaseFileName (design of the maintenance
  // operations: one checked atomic move); with Backup the original is kept as
  // DatabaseFileName + ".bak". Raises 30378 and deletes NewFileName when it
  // fails.
  void ReplaceDatabaseFile(const std::string& NewFileName, bool Backup);
  void InternalBefore(TVEXMaintenanceKind Kind);
  void InternalProgress(TVEXMaintenanceKind Kind, rtl::TComponent& Sender, int32_t PercentDone,
                        bool& Continue);
  void InternalAfter(TVEXMaintenanceKind Kind);

  // The engine session and the count of the components using it.
  struct TVEXSharedHandle {
    std::unique_ptr<TVEXLocalSession> Session;
  };

  std::string FCurrentVersion;
  std::vector<TVEXDataSet*> FDataSets;
  bool FClosingDataSets = false;
  bool FKeepConnection = true;
  bool FTemporary = false;
  bool FStreamedConnected = false;
  bool FAcquiredHandle = false;
  bool FHandleShared = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  int32_t FRefCount = 0;
  TVEXBaseSession* FHandle = nullptr;
  // Set when FHandle is an engine session made by a component of the session
  // (this one or a lender); shared by its users.
  std::shared_ptr<TVEXSharedHandle> FSharedHandle;
  TVEXSession* FSession = nullptr;
  std::string FSessionName;
  std::string FDatabaseName;
  std::string FDatabaseFileName;
  std::string FPassword;
  TVEXCryptoAlgorithm FCryptoAlgorithm = craRijndael_128;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  bool FNoRequestAutoRepair = false;
  bool FSilentMode = false;
  bool FMultiUser = false;
  int32_t FMaxConnections = 500;
  bool FDisableTempFiles = false;
  // The wait form of a running maintenance operation.
  std::unique_ptr<TfrmWait> frmWait;
};

}  // namespace vex
