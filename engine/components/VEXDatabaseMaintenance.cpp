// Whole-database maintenance of the database component: creating, deleting,
// renaming and truncating the database file, the rebuilds (compact, repair,
// password and settings change) and the executable database.
//
// Design notes
//   1. Every rebuild goes through RebuildDatabase: a new database file is
//      created, this database is opened exclusively and every table is copied
//      into the new file, which is then truncated. The operations without a
//      file name of their own rebuild into DatabaseFileName + ".tmp" and then
//      replace the database file by it.
//   2. Replacing the database file is one atomic move of the new file over the
//      old one (os::File::Replace), checked: it is refused while any handle has
//      either file open, and then the operation fails, the old file stays and
//      the ".tmp" file is deleted. At no moment is there no database file, and
//      Password and CryptoAlgorithm change only once the move succeeded. A
//      repair keeps the original file as DatabaseFileName + ".bak".
//   3. The table names are read through the engine session, and a failure to
//      read them fails the rebuild: a repair that swallowed it would replace
//      the database by one without tables.
//   4. The After handler of an operation runs on every way out once its Before
//      handler has run; the new database component, the table-name list and
//      the wait form are released on every way out.
//
// Threads: the thread that owns the component. Its progress handlers process
// pending messages, so user-interface events run in the middle of a rebuild.
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "db/DBCommon.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "os/File.h"
#include "os/OsError.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/Lists.h"
#include "ui/Ui.h"

namespace vex {

namespace {

constexpr const char* kCreateDatabaseError = "Create database error: '%s'";
constexpr const char* kCopyTableProblem = "Problem occured while copying table '%s': '%s'";

std::string TmpFileName(const std::string& DatabaseFileName) { return DatabaseFileName + ".tmp"; }

// The ".tmp" file of a rebuild that failed; it may not exist.
void DeleteQuietly(const std::string& FileName) { os::File::Delete(FileName); }

[[noreturn]] void RaiseRenameError(const std::string& From, const std::string& To, int Error) {
  throw EVEXException(30378, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s", From,
                      To, Error, os::ErrorText(Error));
}

[[noreturn]] void RaiseFileError(const char* Format, const std::string& FileName) {
  const int error = os::LastError();
  throw rtl::EOSError(rtl::Format(Format, FileName, os::ErrorText(error)), error);
}

}  // namespace

// --- the file itself --------------------------------------------------------

void TVEXDatabase::CreateDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  TVEXSessionLockGuard guard(*FSession);
  // The engine session lives for the call only: the component stays closed.
  ScopeExit release([&] { DropLocalSession(); });
  CreateLocalSession();
  FHandle->CreateDatabase();
}

void TVEXDatabase::DeleteDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  os::File::Delete(FDatabaseFileName);
}

void TVEXDatabase::RenameDatabase(const std::string& NewDatabaseFileName) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  if (os::File::Rename(FDatabaseFileName, NewDatabaseFileName))
    SetDatabaseFileName(NewDatabaseFileName);
}

void TVEXDatabase::TruncateDatabase() {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  const bool exclusive = FExclusive;
  ScopeExit restore([&] { FExclusive = exclusive; });
  FExclusive = true;
  Open();
  {
    ScopeFailure close([&] { CloseQuietly(); });
    if (TVEXLocalSession* local = LocalSession()) local->TruncateDatabase();
  }
  Close();
}

void TVEXDatabase::CloseQuietly() noexcept {
  try {
    Close();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
    DropLocalSession();
  }
}

void TVEXDatabase::ReplaceDatabaseFile(const std::string& NewFileName, bool Backup) {
  ScopeFailure dropNew([&] { DeleteQuietly(NewFileName); });
  if (Backup) {
    // The original stays reachable as ".bak" through a second name of the same
    // file, so the move below is still the one step that changes the database
    // file; where links are not possible, a copy serves.
    const std::string backup = FDatabaseFileName + ".bak";
    if (!os::File::Delete(backup) && os::LastError() != ENOENT)
      RaiseRenameError(FDatabaseFileName, backup, os::LastError());
    std::error_code error;
    std::filesystem::create_hard_link(FDatabaseFileName, backup, error);
    if (error) {
      error.clear();
      std::filesystem::copy_file(FDatabaseFileName, backup, error);
    }
    if (error) RaiseRenameError(FDatabaseFileName, backup, error.value());
  }
  if (!os::File::Replace(NewFileName, FDatabaseFileName))
    RaiseRenameError(NewFileName, FDatabaseFileName, os::LastError());
}

// --- the rebuilds -----------------------------------------------------------

TVEXDatabase::TVEXRebuildSettings TVEXDatabase::CurrentSettings() const {
  return {FPassword, FCryptoAlgorithm, FPageSize, FPageCountInExtent, FMaxConnections};
}

bool TVEXDatabase::CompactDatabase(const std::string& NewDatabaseFileName) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckClosedForChange();
  // A wrong password or a repair question shows up here, before any file.
  Open();
  Close();
  std::string log;
  bool done = false;
  {
    ScopeFailure dropNew([&] { DeleteQuietly(NewDatabaseFileName); });
    done = RebuildDatabase(NewDatabaseFileName, log, false, CurrentSettings(),
                           TVEXMaintenanceKind::Compact);
  }
  if (!done) {
    DeleteQuietly(NewDatabaseFileName);
    throw EVEXException(30456, "Operation %s failed: %s", std::string("CompactDatabase"), log);
  }
  return true;
}

bool TVEXDatabase::CompactDatabase() {
  const std::string tmp = TmpFileName(FDatabaseFileName);
  CompactDatabase(tmp);
  ReplaceDatabaseFile(tmp, false);
  return true;
}

bool TVEXDatabase::RepairDatabase(const std::string& NewDatabaseFileName, std::string& Log) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  Open();
  Close();
  return RebuildDatabase(NewDatabaseFileName, Log, true, CurrentSettings(),
                         TVEXMaintenanceKind::Repair);
}

std::string TVEXDatabase::RepairDatabase() {
  std::string log;
  RepairOnOpen(log);
  return log;
}

bool TVEXDatabase::RepairOnOpen(std::string& Log) {
  const std::string tmp = TmpFileName(FDatabaseFileName);
  Log.clear();
  bool done = false;
  {
    ScopeFailure dropNew([&] { DeleteQuietly(tmp); });
    done = RepairDatabase(tmp, Log);
  }
  if (!done) {
    if (Log.empty()) Log = "Unknown error";
    DeleteQuietly(tmp);
    return false;
  }
  ReplaceDatabaseFile(tmp, true);
  return true;
}

std::string TVEXDatabase::ChangePassword(const std::string& NewPassword) {
  return ChangePassword(NewPassword, FCryptoAlgorithm);
}

std::string TVEXDatabase::ChangePassword(const std::string& NewPassword,
                                         TVEXCryptoAlgorithm NewCryptoAlgorithm) {
  const std::string tmp = TmpFileName(FDatabaseFileName);
  TVEXRebuildSettings settings = CurrentSettings();
  settings.Password = NewPassword;
  settings.CryptoAlgorithm = NewCryptoAlgorithm;
  std::string log;
  bool done = false;
  {
    ScopeFailure dropNew([&] { DeleteQuietly(tmp); });
    done = RebuildDatabase(tmp, log, false, settings, TVEXMaintenanceKind::ChangePassword);
  }
  if (!done) {
    DeleteQuietly(tmp);
    return log;
  }
  ReplaceDatabaseFile(tmp, false);
  FPassword = NewPassword;
  FCryptoAlgorithm = NewCryptoAlgorithm;
  return log;
}

bool TVEXDatabase::ChangeDatabaseSettings(std::string& Log, bool IgnoreErrors,
                                          const std::string& NewPassword,
                                          TVEXCryptoAlgorithm NewCryptoAlgorithm,
                                          int32_t NewPageSize, int32_t NewPageCountInExtent,
                                          int32_t NewMaxConnections) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  Open();
  Close();
  if (NewMaxConnections <= 0)
    throw EVEXException(20274, "MaxConnections value must be positive ( >= 0)");
  const std::string tmp = TmpFileName(FDatabaseFileName);
  const TVEXRebuildSettings settings{NewPassword, NewCryptoAlgorithm, NewPageSize,
                                     NewPageCountInExtent, NewMaxConnections};
  bool done = false;
  {
    ScopeFailure dropNew([&] { DeleteQuietly(tmp); });
    done = RebuildDatabase(tmp, Log, IgnoreErrors, settings, TVEXMaintenanceKind::ChangeSettings);
  }
  if (!done) {
    DeleteQuietly(tmp);
    return false;
  }
  ReplaceDatabaseFile(tmp, false);
  // The page geometry and the connection limit are read from the file at the
  // next open.
  FPassword = NewPassword;
  FCryptoAlgorithm = NewCryptoAlgorithm;
  return true;
}

void TVEXDatabase::CheckFreeSpace(const std::string& NewDatabaseFileName) {
  int64_t free = 0;
  if (!os::File::FreeSpace(NewDatabaseFileName, free)) return;
  os::File source;
  int64_t size = 0;
  if (!source.Open(FDatabaseFileName, os::Access::Read, os::Share::DenyNone) ||
      !source.GetSize(size))
    return;
  if (free < size)
    throw EVEXException(20303,
                        "There is not enough free space on drive to perform required operation "
                        "with the database file.");
}

bool TVEXDatabase::RebuildDatabase(const std::string& NewDatabaseFileName, std::string& Log,
                                   bool IgnoreErrors, const TVEXRebuildSettings& New,
                                   TVEXMaintenanceKind Kind) {
  CheckDatabaseName();
  CheckSessionName(true);
  CheckInactive();
  const bool exclusive = FExclusive;
  const bool silentMode = FSilentMode;
  Log.clear();

  InternalBefore(Kind);
  ScopeExit after([&] {
    try {
      InternalAfter(Kind);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  ScopeExit restore([&] {
    FExclusive = exclusive;
    FSilentMode = silentMode;
  });

  CheckFreeSpace(NewDatabaseFileName);

  auto newDatabase = std::make_unique<TVEXDatabase>(nullptr);
  newDatabase->SetDatabaseFileName(NewDatabaseFileName);
  newDatabase->SetDatabaseName(MakeUniqueName("TempDatabase"));
  newDatabase->SetSessionName(FSessionName);
  newDatabase->SetPassword(New.Password);
  newDatabase->SetCryptoAlgorithm(New.CryptoAlgorithm);
  newDatabase->SetPageSize(New.PageSize);
  newDatabase->SetPageCountInExtent(New.PageCountInExtent);
  newDatabase->SetMaxConnections(New.MaxConnections);
  try {
    newDatabase->CreateDatabase();
    newDatabase->Open();
  } catch (const std::exception& e) {
    Log += rtl::Format(kCreateDatabaseError, std::string(e.what()));
    if (!IgnoreErrors) throw EVEXException(30449, kCreateDatabaseError, std::string(e.what()));
    return false;
  }

  bool Continue = true;
  {
    // A repair-needed flag asks nothing here: the rebuild is the repair.
    FExclusive = true;
    FSilentMode = true;
    {
      ScopeExit silentBack([&] { FSilentMode = silentMode; });
      Open();
    }
    ScopeExit closeThis([&] {
      try {
        if (FHandle != nullptr) FHandle->SetSuppressDBHeaderErrors(false);
      } catch (const std::exception& e) {
        ReportReleaseFault(e);
      }
      CloseQuietly();
    });
    FHandle->SetSuppressDBHeaderErrors(true);

    rtl::TStringList tables;
    FHandle->GetTablesList(tables);
    const int32_t n = tables.Count();
    for (int32_t i = 0; i < n; ++i) {
      const std::string& name = tables[i];
      try {
        CopyTableForRebuild(name, *newDatabase, Log, Continue, IgnoreErrors, i * 100 / n,
                            (i + 1) * 100 / n, Kind);
      } catch (const std::exception& e) {
        Log += rtl::Format(kCopyTableProblem, name, std::string(e.what()));
        if (!IgnoreErrors)
          throw EVEXException(20199, kCopyTableProblem, name, std::string(e.what()));
        continue;
      }
      if (!Continue) return false;
    }
  }

  bool progressContinue = true;
  InternalProgress(Kind, *this, 100, progressContinue);
  newDatabase->Close();
  newDatabase->TruncateDatabase();
  return IgnoreErrors || Log.empty();
}

// One table into the new database through a table component of this
// database: with IgnoreErrors the table is repaired first, and the copy skips
// what it cannot read; the copy's own wait form stays hidden behind the
// rebuild's.
void TVEXDatabase::CopyTableForRebuild(const std::string& TableName, TVEXDatabase& NewDatabase,
                                       std::string& Log, bool& Continue, bool IgnoreErrors,
                                       int32_t MinProgress, int32_t MaxProgress,
                                       TVEXMaintenanceKind Kind) {
  TVEXTable table(nullptr);
  table.SetSessionName(FSessionName);
  table.SetDatabaseName(FDatabaseName);
  table.SetTableName(TableName);
  if (IgnoreErrors) table.RepairTable();
  table.Open();
  table.Close();
  table.OnCopyProgress = [this, Kind](rtl::TComponent& Sender, int32_t PercentDone, bool& GoOn) {
    InternalProgress(Kind, Sender, PercentDone, GoOn);
  };
  table.BeforeCopy = [](db::TDataSet&) {};
  table.AfterCopy = [](db::TDataSet&) {};
  table.CopyTable(TableName, Log, Continue, NewDatabase.DatabaseFileName(), NewDatabase.Password(),
                  IgnoreErrors, false, true, MinProgress, MaxProgress);
}

// --- progress ---------------------------------------------------------------

namespace {

// The events and the wait-form text of one kind of maintenance.
struct KindEvents {
  TVEXNotifyEvent TVEXDatabase::*Before;
  TVEXProgressEvent TVEXDatabase::*Progress;
  TVEXNotifyEvent TVEXDatabase::*After;
  const char* WaitText;
};

constexpr KindEvents kKindEvents[] = {
    {&TVEXDatabase::BeforeRepair, &TVEXDatabase::OnRepairProgress, &TVEXDatabase::AfterRepair,
     "Repairing Database..."},
    {&TVEXDatabase::BeforeCompact, &TVEXDatabase::OnCompactProgress, &TVEXDatabase::AfterCompact,
     "Compacting Database..."},
    {&TVEXDatabase::BeforeChangePassword, &TVEXDatabase::OnChangePasswordProgress,
     &TVEXDatabase::AfterChangePassword, "Changing Database Password..."},
    {&TVEXDatabase::BeforeChangeDatabaseSettings, &TVEXDatabase::OnChangeDatabaseSettingsProgress,
     &TVEXDatabase::AfterChangeDatabaseSettings, "Changing Database Settings..."},
};

}  // namespace

void TVEXDatabase::InternalBefore(TVEXMaintenanceKind Kind) {
  const KindEvents& events = kKindEvents[static_cast<int>(Kind)];
  if (const TVEXNotifyEvent& before = this->*events.Before) {
    before(*this);
    return;
  }
  if (FSilentMode) return;
  frmWait = std::make_unique<TfrmWait>();
  frmWait->pb.SetPosition(0);
  frmWait->Show(events.WaitText);
  if (Kind == TVEXMaintenanceKind::Repair) {
    // A repair on open may run before the application shows anything else.
    frmWait->SetVisible(true);
    ui::CurrentUi().ProcessMessages();
  }
}

void TVEXDatabase::InternalProgress(TVEXMaintenanceKind Kind, rtl::TComponent& Sender,
                                    int32_t PercentDone, bool& Continue) {
  const KindEvents& events = kKindEvents[static_cast<int>(Kind)];
  if (const TVEXProgressEvent& progress = this->*events.Progress) {
    progress(Sender, PercentDone, Continue);
    return;
  }
  if (FSilentMode || frmWait == nullptr) return;
  if (Kind == TVEXMaintenanceKind::Repair) frmWait->SetVisible(true);
  frmWait->pb.SetPosition(PercentDone);
  ui::CurrentUi().ProcessMessages();
  Continue = !frmWait->Terminated;
}

void TVEXDatabase::InternalAfter(TVEXMaintenanceKind Kind) {
  const KindEvents& events = kKindEvents[static_cast<int>(Kind)];
  if (const TVEXNotifyEvent& after = this->*events.After) {
    after(*this);
    return;
  }
  if (FSilentMode || frmWait == nullptr) return;
  std::unique_ptr<TfrmWait> form = std::move(frmWait);
  form->Close();
}

// --- the executable database ------------------------------------------------

void TVEXDatabase::MakeExecutableDatabase(const std::string& ExeStubFileName,
                                          const std::string& ExeDbFileName) {
  os::File database;
  if (!database.Open(FDatabaseFileName, os::Access::Read, os::Share::DenyWrite))
    RaiseFileError("Cannot open file \"%s\". %s", FDatabaseFileName);
  os::File stub;
  if (!stub.Open(ExeStubFileName, os::Access::Read, os::Share::DenyNone))
    RaiseFileError("Cannot open file \"%s\". %s", ExeStubFileName);
  std::error_code error;
  const std::filesystem::perms stubPermissions =
      std::filesystem::status(ExeStubFileName, error).permissions();
  if (error) {
    os::SetLastError(error.value());
    RaiseFileError("Cannot open file \"%s\". %s", ExeStubFileName);
  }
  os::File exe;
  if (!exe.Open(ExeDbFileName, os::Access::ReadWrite, os::Share::Exclusive,
                os::Disposition::CreateAlways))
    RaiseFileError("Cannot create file \"%s\". %s", ExeDbFileName);

  std::vector<char> buffer(1 << 16);
  int64_t written = 0;
  for (os::File* source : {&stub, &database}) {
    for (int64_t position = 0;;) {
      size_t got = 0;
      if (!source->Read(buffer.data(), buffer.size(), position, &got))
        RaiseFileError("Cannot read file \"%s\". %s", source->Path());
      if (got == 0) break;
      if (!exe.Write(buffer.data(), got, written))
        RaiseFileError("Cannot write file \"%s\". %s", ExeDbFileName);
      position += static_cast<int64_t>(got);
      written += static_cast<int64_t>(got);
    }
  }
  // The result runs as the stub did.
  std::filesystem::permissions(ExeDbFileName, stubPermissions,
                               std::filesystem::perm_options::replace, error);
  if (error) {
    os::SetLastError(error.value());
    RaiseFileError("Cannot write file \"%s\". %s", ExeDbFileName);
  }
  if (!exe.Close()) RaiseFileError("Cannot write file \"%s\". %s", ExeDbFileName);
}

}  // namespace vex
