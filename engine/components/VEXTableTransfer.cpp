// The table component's long operations: import, export, copy, batch move,
// restructure and the SQL script of a table.
//
// Design notes
//   1. Records travel through CopyTableRecords (VEXDataSetFields.h); this file
//      decides the structures, the order of steps, what is logged and how a
//      failure is undone.
//   2. Each operation reports through its Before, progress and After events
//      or, without them, a wait form. Once the Before handler has run the
//      After handler runs on every way out; everything an operation creates
//      (table and database components, locks of table data, indexes, wait
//      forms) is released on every way out.
//   3. A restructure renames the old table aside, creates the new one under
//      the old name and copies the records across. Until the old one is
//      deleted, any failure deletes the new table and gives the old one its
//      name back, so the table never disappears.
//   4. The SQL script is 8-bit text with a point as decimal separator
//      whatever the locale, so that the script reads back anywhere.
//
// Threads: the thread that owns the component. The progress handlers process
// pending messages, so user-interface events run in the middle of an
// operation.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXDataSetFields.h"
#include "components/VEXDatabase.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "db/FieldDefs.h"
#include "db/Fields.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXDecUtil.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "os/File.h"
#include "os/OsError.h"
#include "rtl/CodePage.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/FormatSettings.h"
#include "rtl/Lists.h"
#include "rtl/Stream.h"
#include "rtl/Variant.h"
#include "sql/VEXLexer.h"
#include "ui/Ui.h"

namespace vex {

namespace {

constexpr const char* kTableExists = "Table '%s.%s' already exists";
constexpr const char* kCreateTableError = "Create table '%s.%s' error: '%s'";
constexpr const char* kMemoryDatabase = "MEMORY";

// A database flag of Table held for one step.
class FlagScope {
 public:
  FlagScope(TVEXDataSet& Table, int32_t Flag) : FTable(Table), FFlag(Flag) {
    FTable.SetDBFlag(Flag, true);
  }
  ~FlagScope() {
    try {
      FTable.SetDBFlag(FFlag, false);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  TVEXDataSet& FTable;
  int32_t FFlag;
};

// Runs Action for a path that may be failing already: its own failure is
// reported, never raised over the first one.
template <class F>
void Quietly(F&& Action) noexcept {
  try {
    Action();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

std::vector<std::string> SplitFieldList(const std::string& List) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= List.size()) {
    const size_t end = std::min(List.find(';', start), List.size());
    std::string name = List.substr(start, end - start);
    const size_t first = name.find_first_not_of(' ');
    if (first != std::string::npos)
      names.push_back(name.substr(first, name.find_last_not_of(' ') - first + 1));
    start = end + 1;
  }
  return names;
}

bool InFieldList(const std::string& List, const std::string& Name) {
  const std::string upper = rtl::AnsiUpperCase(Name);
  for (const std::string& item : SplitFieldList(List))
    if (rtl::AnsiUpperCase(item) == upper) return true;
  return false;
}

bool SameName(const std::string& A, const std::string& B) {
  return rtl::AnsiUpperCase(A) == rtl::AnsiUpperCase(B);
}

int32_t PercentOf(int64_t Done, int64_t Total) {
  if (Total <= 0) return 100;
  // Halves to even, as the wait form's bar has always been fed.
  return static_cast<int32_t>(std::nearbyint(static_cast<double>(Done) * 100.0 / Total));
}

// Text in single quotes with every inner quote doubled.
std::string Quoted(const std::string& Text) {
  std::string out = "'";
  for (char c : Text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// The text a string default stands for. CREATE TABLE keeps a quoted default
// as a string literal in double quotes (inner ones doubled), so that it stays
// text when it is evaluated; the script writes the text itself, which the
// statement wraps again, so that the default survives any number of round
// trips.
std::string DefaultText(const std::string& Stored) {
  if (Stored.size() < 2 || Stored.front() != '"' || Stored.back() != '"') return Stored;
  std::string text;
  for (size_t i = 1; i + 1 < Stored.size(); ++i) {
    if (Stored[i] == '"') {
      // A lone quote inside: not the literal form, the text stands as it is.
      if (i + 2 >= Stored.size() || Stored[i + 1] != '"') return Stored;
      ++i;
    }
    text += Stored[i];
  }
  return text;
}

// A number's text with a point as decimal separator.
std::string PointDecimal(std::string Text) {
  const char separator = rtl::FormatSettings().DecimalSeparator;
  if (separator != '.')
    for (char& c : Text)
      if (c == separator) c = '.';
  return Text;
}

const char* CompressionName(TCompressionAlgorithm Algorithm) {
  switch (Algorithm) {
    case caZLIB:
      return "ZLIB";
    case caBZIP:
      return "BZIP";
    case caPPM:
      return "PPM";
    default:
      return "NONE";
  }
}

// Types whose CREATE TABLE form takes a size.
bool TakesSize(TVEXAdvancedFieldType Type) { return IsSizedAdvancedFieldType(Type); }

}  // namespace

std::string QuoteSQLName(const std::string& Name) {
  const bool plain = Name.find(' ') == std::string::npos && Name.find('-') == std::string::npos &&
                     FindReservedWord(rtl::Win1252ToUtf16(Name)) < 0;
  return plain ? Name : Quoted(Name);
}

// ---- handlers -------------------------------------------------------------

namespace {

struct TransferEvents {
  TVEXDataSetNotifyEvent TVEXTable::*Before;
  TVEXProgressEvent TVEXTable::*Progress;
  TVEXDataSetNotifyEvent TVEXTable::*After;
  const char* WaitText;
};

constexpr TransferEvents kTransferEvents[] = {
    {&TVEXTable::BeforeCopy, &TVEXTable::OnCopyProgress, &TVEXTable::AfterCopy, "Copy Table..."},
    {&TVEXTable::BeforeImport, &TVEXTable::OnImportProgress, &TVEXTable::AfterImport,
     "Import Table..."},
    {&TVEXTable::BeforeExport, &TVEXTable::OnExportProgress, &TVEXTable::AfterExport,
     "Export Table..."},
    {&TVEXTable::BeforeRestructure, &TVEXTable::OnRestructureProgress, &TVEXTable::AfterRestructure,
     "Restructure Table..."},
    {&TVEXTable::BeforeBatchMove, &TVEXTable::OnBatchMoveProgress, &TVEXTable::AfterBatchMove,
     "Batch Moving..."},
};

}  // namespace

bool TVEXTable::ShowsWaitForm() const {
  return !FTemporary && !(FDatabase != nullptr && FDatabase->SilentMode());
}

void TVEXTable::InternalBefore(TVEXTransferKind Kind, db::TDataSet& Sender) {
  const TransferEvents& events = kTransferEvents[static_cast<int>(Kind)];
  if (const TVEXDataSetNotifyEvent& before = this->*events.Before) {
    before(Sender);
    return;
  }
  if (!ShowsWaitForm()) return;
  frmWait = std::make_unique<TfrmWait>();
  frmWait->pb.SetPosition(0);
  frmWait->Show(events.WaitText);
  if (Kind == TVEXTransferKind::Copy) ui::CurrentUi().ProcessMessages();
}

void TVEXTable::InternalProgress(TVEXTransferKind Kind, rtl::TComponent& Sender,
                                 int32_t PercentDone, bool& Continue) {
  const TransferEvents& events = kTransferEvents[static_cast<int>(Kind)];
  if (const TVEXProgressEvent& progress = this->*events.Progress) {
    progress(Sender, PercentDone, Continue);
    return;
  }
  if (frmWait == nullptr) return;
  frmWait->pb.SetPosition(PercentDone);
  ui::CurrentUi().ProcessMessages();
  Continue = !frmWait->Terminated;
}

void TVEXTable::InternalAfter(TVEXTransferKind Kind, db::TDataSet& Sender) {
  const TransferEvents& events = kTransferEvents[static_cast<int>(Kind)];
  if (const TVEXDataSetNotifyEvent& after = this->*events.After) {
    after(Sender);
    return;
  }
  if (frmWait == nullptr) return;
  std::unique_ptr<TfrmWait> form = std::move(frmWait);
  form->Close();
}

void TVEXTable::InternalAfterQuietly(TVEXTransferKind Kind, db::TDataSet& Sender) noexcept {
  Quietly([&] { InternalAfter(Kind, Sender); });
  // A handler that failed must not leave the form behind.
  frmWait.reset();
}

TVEXProgressEvent TVEXTable::ProgressHandler(TVEXTransferKind Kind) {
  return [this, Kind](rtl::TComponent& Sender, int32_t PercentDone, bool& Continue) {
    InternalProgress(Kind, Sender, PercentDone, Continue);
  };
}

// ---- restructure ----------------------------------------------------------

bool TVEXTable::RestructureTable() {
  std::string log;
  return RestructureTable(log);
}

bool TVEXTable::RestructureTable(std::string& Log) {
  CheckInactive();
  CheckTableName();
  {
    // Refused before anything is renamed: inside a transaction the rename
    // would fail half-way.
    FlagScope flag(*this, dbfTable);
    CheckNotInTransaction(EngineSession(), 20180, "RestructureTable");
  }
  bool Continue = true;
  const std::string startName = FTableName;
  RenameTable(MakeUniqueName("OLD_" + startName + "_"));

  auto newTable = std::make_unique<TVEXTable>(nullptr);
  // Design note 3: until the old table is gone, a failure puts the names back.
  bool oldDeleted = false;
  const auto rollBack = [&]() noexcept {
    if (oldDeleted || FTableName == startName) return;
    Quietly([&] { newTable->Close(); });
    Quietly([&] { Close(); });
    Quietly([&] {
      if (newTable->Exists()) newTable->DeleteTable();
    });
    Quietly([&] { RenameTable(startName); });
  };
  ScopeFailure undo(rollBack);

  newTable->SetSessionName(FSessionName);
  newTable->SetDatabaseName(FDatabaseName);
  if (FInMemory) newTable->SetInMemory(true);
  if (FTemporary) newTable->SetTemporary(true);
  newTable->SetIgnoreDesignMode(IgnoreDesignMode());
  newTable->SetTableName(startName);
  newTable->AdvFieldDefs().Assign(RestructureFieldDefs());
  newTable->AdvIndexDefs().Assign(RestructureIndexDefs(), false);
  try {
    newTable->CreateTable();
  } catch (const EVEXException& e) {
    if (e.NativeError == 20182)
      throw EVEXException(20180, "Cannot perform '%s' operation on a database in transaction",
                          std::string("RestructureTable"));
    Log += rtl::Format("Error restructuring table. Cannot create table due to error: %s\r\n",
                       std::string(e.what()));
    rollBack();
    return false;
  } catch (const std::exception& e) {
    Log += rtl::Format("Error restructuring table. Cannot create table due to error: %s\r\n",
                       std::string(e.what()));
    rollBack();
    return false;
  }

  newTable->Open();
  // Opening this table reads its old structure into the restructure
  // definitions; the copy needs the requested ones, which map old fields to
  // new ones by object id.
  TVEXAdvFieldDefs requested;
  requested.Assign(RestructureFieldDefs());
  Open();
  RestructureFieldDefs().Assign(requested);

  bool result = false;
  {
    InternalBefore(TVEXTransferKind::Restructure, *this);
    ScopeExit after([&] { InternalAfterQuietly(TVEXTransferKind::Restructure, *this); });
    const bool filtered = Filtered();
    SetFiltered(false);
    ScopeExit refilter([&] { Quietly([&] { SetFiltered(filtered); }); });
    result = CopyTableRecords(*this, *this, *newTable, Log, Continue, false, true,
                              ProgressHandler(TVEXTransferKind::Restructure), 0, 99);
  }
  newTable->Close();
  Close();

  if (!result) {
    rollBack();
    return false;
  }
  try {
    DeleteTable();
    oldDeleted = true;
  } catch (const std::exception& e) {
    Log += rtl::Format("Error restructuring table. Cannot delete table due to error: %s\r\n",
                       std::string(e.what()));
    result = false;
  }
  // The new table carries the name from here, also when the old one stays
  // under its unique name.
  oldDeleted = true;
  FTableName = startName;
  DataEvent(db::dePropertyChange, 0);
  return result;
}

// ---- import and export ----------------------------------------------------

bool TVEXTable::ImportTable(db::TDataSet& SourceTable) {
  std::string log;
  return ImportTable(SourceTable, log, nullptr);
}

bool TVEXTable::ImportTable(db::TDataSet& SourceTable, std::string& Log,
                            const db::TIndexDefs* aIndexDefs) {
  SetFiltered(false);
  CheckInactive();
  const std::string initialLog = Log;
  IndexDefs().Clear();
  AdvIndexDefs().Clear();
  FieldDefs().Clear();
  AdvFieldDefs().Clear();
  // The records are read from an open source; its advanced definitions are
  // read with its cursor.
  const bool sourceWasActive = SourceTable.Active();
  SourceTable.Open();
  ScopeExit closeSource([&] {
    if (!sourceWasActive) Quietly([&] { SourceTable.Close(); });
  });
  if (auto* source = dynamic_cast<TVEXDataSet*>(&SourceTable)) {
    source->IndexDefs().Update();
    AdvFieldDefs().Assign(source->AdvFieldDefs());
    AdvIndexDefs().Assign(source->AdvIndexDefs(), true);
  } else {
    FieldDefs().Assign(SourceTable.FieldDefs());
    if (aIndexDefs != nullptr) {
      for (int32_t i = 0; i < aIndexDefs->Count(); ++i) {
        const db::TIndexDef& def = *(*aIndexDefs)[i];
        if (def.Fields().empty()) {
          Log += rtl::Format("Cannot import index '%s'. Index type is not supported, index skipped",
                             def.Name());
          continue;
        }
        IndexDefs().Add(def.Name(), def.Fields(), def.Options())->Assign(def);
      }
    }
    for (int32_t i = 0; i < IndexDefs().Count(); ++i) {
      if (IndexDefs()[i]->Name().empty()) {
        IndexDefs()[i]->SetName("idxPrimaryKey");
        break;
      }
    }
  }
  try {
    CreateTable();
  } catch (const std::exception& e) {
    Log += rtl::Format("Error importing table. Cannot create table due to error: %s\r\n",
                       std::string(e.what()));
    return false;
  }

  Open();
  ScopeExit close([&] { Quietly([&] { Close(); }); });
  if (FHandle == nullptr) RaiseNilPointer(10259);
  FHandle->LockTableData();
  ScopeExit unlock([&] { Quietly([&] { FHandle->UnlockTableData(); }); });
  InternalBefore(TVEXTransferKind::Import, *this);
  ScopeExit after([&] { InternalAfterQuietly(TVEXTransferKind::Import, *this); });
  std::string copyLog;
  bool Continue = true;
  CopyTableRecords(*this, SourceTable, *this, copyLog, Continue, true, false,
                   ProgressHandler(TVEXTransferKind::Import), 0, 100);
  if (!copyLog.empty())
    Log += rtl::Format("Error importing table. Cannot copy data due to error: %s\r\n", copyLog);
  return Log == initialLog;
}

bool TVEXTable::ExportTable(db::TDataSet& DestinationTable,
                            const std::function<void()>& CreateTablePointer) {
  std::string log;
  return ExportTable(DestinationTable, CreateTablePointer, log);
}

bool TVEXTable::ExportTable(db::TDataSet& DestinationTable,
                            const std::function<void()>& CreateTablePointer, std::string& Log) {
  const std::string initialLog = Log;
  const bool wasActive = Active();
  DestinationTable.Close();
  db::TBookmark bookmark;
  if (wasActive) bookmark = GetBookmark();
  Close();
  Open();
  // This table comes back as it was on every way out.
  ScopeExit restore([&] {
    if (wasActive)
      Quietly([&] { GotoBookmark(bookmark); });
    else
      Quietly([&] { Close(); });
  });
  if (FHandle == nullptr) RaiseNilPointer(10262);

  if (auto* dest = dynamic_cast<TVEXDataSet*>(&DestinationTable)) {
    dest->AdvFieldDefs().Assign(AdvFieldDefs());
  } else {
    DestinationTable.FieldDefs().Assign(FieldDefs());
  }
  try {
    if (CreateTablePointer) CreateTablePointer();
  } catch (const std::exception& e) {
    Log += rtl::Format("Error exporting table. Cannot create table due to error: %s\r\n",
                       std::string(e.what()));
    return false;
  }
  try {
    DestinationTable.Open();
    for (int32_t i = 0; i < DestinationTable.FieldDefs().Count(); ++i)
      DestinationTable.FieldDefs()[i]->SetRequired(false);
    for (int32_t i = 0; i < DestinationTable.FieldCount(); ++i)
      DestinationTable.Fields()[i]->SetRequired(false);
  } catch (const std::exception& e) {
    Log += rtl::Format("Error exporting table. Cannot open destination table due to error: %s\r\n",
                       std::string(e.what()));
    return false;
  }

  FHandle->LockTableData();
  ScopeExit unlock([&] { Quietly([&] { FHandle->UnlockTableData(); }); });
  InternalBefore(TVEXTransferKind::Export, *this);
  ScopeExit after([&] { InternalAfterQuietly(TVEXTransferKind::Export, *this); });
  std::string copyLog;
  bool Continue = true;
  CopyTableRecords(*this, *this, DestinationTable, copyLog, Continue, true, false,
                   ProgressHandler(TVEXTransferKind::Export), 0, 100);
  if (!copyLog.empty())
    Log += rtl::Format("Error exporting table. Cannot copy data due to error: %s\r\n", copyLog);
  return Log == initialLog;
}

// ---- copy -----------------------------------------------------------------

bool TVEXTable::CopyTable(const std::string& NewTableName, const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword) {
  std::string log;
  bool Continue = true;
  return CopyTable(NewTableName, log, Continue, DestDatabaseFileName, DestDatabasePassword, false,
                   false, true, 0, 100);
}

bool TVEXTable::CopyTable(const std::string& NewTableName, std::string& Log, bool& Continue,
                          const std::string& DestDatabaseFileName,
                          const std::string& DestDatabasePassword, bool IgnoreErrors,
                          bool OverwriteExistingTable, bool CopyIndexes, int32_t MinProgress,
                          int32_t MaxProgress) {
  const bool wasActive = Active();
  db::TBookmark bookmark;
  if (wasActive) bookmark = GetBookmark();
  Close();
  Open();
  ScopeExit restore([&] {
    if (wasActive)
      Quietly([&] { GotoBookmark(bookmark); });
    else
      Quietly([&] { Close(); });
  });

  // The destination database: this table's own, the in-memory one, or the
  // file named, opened by a component of its own for the copy.
  const bool toOwnDatabase = DestDatabaseFileName.empty();
  const bool toMemory = DestDatabaseFileName == kMemoryDatabase || (toOwnDatabase && FInMemory);
  std::unique_ptr<TVEXDatabase> ownDatabase;
  TVEXDatabase* destDatabase = toOwnDatabase ? FDatabase : nullptr;
  std::string destLabel = toMemory ? kMemoryDatabase : DestDatabaseFileName;
  if (toOwnDatabase && !toMemory && FDatabase != nullptr) destLabel = FDatabase->DatabaseFileName();
  if (!toOwnDatabase && !toMemory) {
    ownDatabase = std::make_unique<TVEXDatabase>(nullptr);
    ownDatabase->SetSessionName(DBSession().SessionName());
    ownDatabase->SetDatabaseName(MakeUniqueName("TempDb"));
    ownDatabase->SetDatabaseFileName(DestDatabaseFileName);
    ownDatabase->SetPassword(DestDatabasePassword);
    if (FDatabase != nullptr) ownDatabase->SetSilentMode(FDatabase->SilentMode());
    try {
      ownDatabase->Open();
    } catch (const std::exception& e) {
      ownDatabase.reset();
      if (!IgnoreErrors) throw;
      // Nothing to copy into: the failure is the copy's.
      Log += rtl::Format(kCreateTableError, destLabel, NewTableName, std::string(e.what()));
      return false;
    }
    destDatabase = ownDatabase.get();
  }

  // A copy onto itself would empty the table it reads.
  bool sameDatabase = toOwnDatabase;
  if (!sameDatabase && toMemory) sameDatabase = FInMemory;
  if (!sameDatabase && !toMemory && FDatabase != nullptr && !FInMemory && !FTemporary)
    sameDatabase = os::File::Identity(DestDatabaseFileName) ==
                   os::File::Identity(FDatabase->DatabaseFileName());
  if (sameDatabase && SameName(NewTableName, FTableName)) {
    const std::string message =
        rtl::Format("Cannot copy table '%s.%s' into it self", destLabel, FTableName);
    if (!IgnoreErrors) throw EVEXException(30447, "%s", message);
    Log += message;
    return false;
  }

  for (int32_t i = 0; i < FieldDefs().Count(); ++i)
    if (FindField(FieldDefs()[i]->Name()) == nullptr)
      throw EVEXException(20297,
                          "Cannot copy table \"%s\". Field object for field \"%s\" is not created.",
                          FTableName, FieldDefs()[i]->Name());

  InternalBefore(TVEXTransferKind::Copy, *this);
  ScopeExit after([&] { InternalAfterQuietly(TVEXTransferKind::Copy, *this); });

  auto dest = std::make_unique<TVEXTable>(nullptr);
  dest->SetSessionName(DBSession().SessionName());
  dest->SetDatabaseName(destDatabase != nullptr ? destDatabase->DatabaseName()
                                                : std::string(kMemoryDatabase));
  if (toOwnDatabase && FInMemory) dest->SetInMemory(true);
  if (toOwnDatabase && FTemporary) dest->SetTemporary(true);
  dest->SetTableName(NewTableName);
  dest->AdvFieldDefs().Assign(RestructureFieldDefs());
  if (CopyIndexes) dest->AdvIndexDefs().Assign(RestructureIndexDefs(), true);

  if (dest->Exists()) {
    if (OverwriteExistingTable) {
      dest->DeleteTable();
    } else {
      if (!IgnoreErrors)
        throw EVEXException(toMemory ? 10515 : 30448, kTableExists, destLabel, NewTableName);
      Log += rtl::Format(kTableExists, destLabel, NewTableName);
      return false;
    }
  }
  try {
    dest->CreateTable();
  } catch (const std::exception& e) {
    if (!IgnoreErrors)
      throw EVEXException(30450, kCreateTableError, destLabel, FTableName, std::string(e.what()));
    Log += rtl::Format(kCreateTableError, destLabel, FTableName, std::string(e.what()));
    return false;
  }
  dest->Open();
  CopyTableRecords(*this, *this, *dest, Log, Continue, IgnoreErrors, false,
                   ProgressHandler(TVEXTransferKind::Copy), MinProgress, MaxProgress);
  dest->Close();
  return true;
}

// ---- batch move -----------------------------------------------------------

void TVEXTable::BatchMove(TVEXDataSet& SourceTableOrQuery, TVEXBatchMoveType MoveType,
                          const std::string& DstTableIndexNameToIdentifyEqualRecords) {
  TVEXDataSet& source = SourceTableOrQuery;
  DisableControls();
  source.DisableControls();
  ScopeExit enable([&] {
    Quietly([&] { EnableControls(); });
    Quietly([&] { source.EnableControls(); });
  });
  db::TBookmark sourceBookmark;
  if (source.Active()) sourceBookmark = source.GetBookmark();
  db::TBookmark destBookmark;
  if (Active()) destBookmark = GetBookmark();
  const std::string savedFieldNames = IndexFieldNames();
  const std::string savedIndexName = IndexName();
  db::TDataSource* const savedMaster = MasterSource();

  // Indexes made for the move, deleted again on every way out (after the
  // index choice is back, so neither is the current one then).
  std::string createdDestIndex;
  std::string createdSourceIndex;
  auto* sourceTable = dynamic_cast<TVEXTable*>(&source);
  ScopeExit dropIndexes([&] {
    if (!createdDestIndex.empty()) Quietly([&] { DeleteIndex(createdDestIndex); });
    if (!createdSourceIndex.empty() && sourceTable != nullptr)
      Quietly([&] { sourceTable->DeleteIndex(createdSourceIndex); });
  });
  // The index choice and the master source come back on every way out.
  ScopeExit restoreChoice([&] {
    if (Active() && State() != db::dsBrowse) Quietly([&] { Cancel(); });
    Quietly([&] {
      if (!savedFieldNames.empty())
        SetIndexFieldNames(savedFieldNames);
      else
        SetIndexName(savedIndexName);
    });
    Quietly([&] { SetMasterSource(savedMaster); });
  });
  SetMasterSource(nullptr);
  SetIndexFieldNames("");
  source.Open();

  if (MoveType == bmtCopy || !Exists()) {
    Close();
    // A copy replaces the destination.
    if (MoveType == bmtCopy && Exists()) DeleteTable();
    source.FieldDefs().Update();
    source.IndexDefs().Update();
    FieldDefs().Assign(source.FieldDefs());
    IndexDefs().Assign(source.IndexDefs());
    AdvFieldDefs().Clear();
    AdvIndexDefs().Clear();
    CreateTable();
  }
  Open();
  source.First();

  if (!DstTableIndexNameToIdentifyEqualRecords.empty())
    SetIndexName(DstTableIndexNameToIdentifyEqualRecords);
  if (IndexName().empty()) {
    IndexDefs().Update();
    for (int32_t i = 0; i < IndexDefs().Count(); ++i) {
      if (IndexDefs()[i]->Options().Contains(db::ixPrimary)) {
        SetIndexName(IndexDefs()[i]->Name());
        break;
      }
    }
  }
  if (IndexName().empty()) {
    rtl::TStringList names, order, cases;
    for (int32_t i = 0; i < source.FieldCount(); ++i) {
      const std::string& name = source.Fields()[i]->FieldName();
      if (FindField(name) == nullptr) continue;
      names.Add(name);
      order.Add("ASC");
      cases.Add("CASE");
    }
    bool created = false;
    const std::string name = FindOrCreateIndex(names, order, cases, created);
    if (created) createdDestIndex = name;
    SetIndexName(name);
  }

  const auto copyFields = [&] {
    for (int32_t f = 0; f < source.FieldCount(); ++f) {
      db::TField* from = source.Fields()[f];
      if (db::TField* to = FindField(from->FieldName())) vex::CopyFieldValue(from, to);
    }
  };

  int64_t total = source.RecordCount();
  if (MoveType == bmtSynchronize) total += RecordCount();
  int64_t i = 1;
  bool Continue = true;
  InternalBefore(TVEXTransferKind::BatchMove, source);
  ScopeExit after([&] { InternalAfterQuietly(TVEXTransferKind::BatchMove, source); });

  while (!source.Eof()) {
    InternalProgress(TVEXTransferKind::BatchMove, source, PercentOf(i, total), Continue);
    if (!Continue) break;
    bool found = false;
    if (MoveType != bmtCopy) {
      SetKey();
      for (int32_t k = 0; k < IndexFieldCount(); ++k) {
        db::TField* key = GetIndexField(k);
        if (db::TField* from = source.FindField(key->FieldName())) vex::CopyFieldValue(from, key);
      }
      found = GotoKey();
    }
    if (found) {
      if (MoveType == bmtAppendUpdate || MoveType == bmtUpdate || MoveType == bmtSynchronize) {
        Edit();
        copyFields();
        Post();
      } else if (MoveType == bmtDelete) {
        Delete();
      }
    } else if (MoveType == bmtAppend || MoveType == bmtAppendUpdate || MoveType == bmtCopy ||
               MoveType == bmtSynchronize) {
      Insert();
      try {
        copyFields();
        Post();
      } catch (const std::exception&) {
        // A record the destination refuses (a key violation, say) is skipped.
        Cancel();
      }
    }
    source.Next();
    ++i;
  }

  if (MoveType == bmtSynchronize && Continue) {
    total = static_cast<int64_t>(source.RecordCount()) + RecordCount();
    First();
    // The destination's key, in the form FindOrCreateIndex and Locate take.
    IndexDefs().Update();
    const db::TIndexDef* keyDef = IndexDefs().Find(FHandle->IndexName());
    rtl::TStringList names, order, cases;
    std::vector<std::string> keyFields;
    if (keyDef != nullptr) {
      for (const std::string& name : SplitFieldList(keyDef->Fields())) {
        keyFields.push_back(name);
        names.Add(name);
        order.Add(keyDef->Options().Contains(db::ixDescending) ||
                          InFieldList(keyDef->DescFields(), name)
                      ? "DESC"
                      : "ASC");
        cases.Add(keyDef->Options().Contains(db::ixCaseInsensitive) ||
                          InFieldList(keyDef->CaseInsFields(), name)
                      ? "NO_CASE"
                      : "CASE");
      }
    }
    std::string sourceFieldNames, sourceIndexName;
    if (sourceTable != nullptr) {
      sourceFieldNames = sourceTable->IndexFieldNames();
      sourceIndexName = sourceTable->IndexName();
    }
    ScopeExit sourceChoice([&] {
      if (sourceTable == nullptr) return;
      Quietly([&] {
        if (!sourceFieldNames.empty())
          sourceTable->SetIndexFieldNames(sourceFieldNames);
        else
          sourceTable->SetIndexName(sourceIndexName);
      });
    });
    if (sourceTable != nullptr) {
      bool created = false;
      const std::string name = sourceTable->FindOrCreateIndex(names, order, cases, created);
      if (created) createdSourceIndex = name;
      sourceTable->SetIndexName(name);
    }
    std::string keyList;
    for (const std::string& name : keyFields) keyList += (keyList.empty() ? "" : ";") + name;
    while (!Eof()) {
      InternalProgress(TVEXTransferKind::BatchMove, source, PercentOf(i, total), Continue);
      if (!Continue) break;
      bool found = false;
      if (sourceTable != nullptr) {
        sourceTable->SetKey();
        for (const std::string& name : keyFields)
          vex::CopyFieldValue(FieldByName(name), sourceTable->FieldByName(name));
        found = sourceTable->GotoKey();
      } else {
        rtl::Variant values;
        if (keyFields.size() == 1) {
          values = FieldByName(keyFields[0])->AsVariant();
        } else {
          values = rtl::Variant::Array(0, static_cast<int32_t>(keyFields.size()) - 1);
          for (size_t k = 0; k < keyFields.size(); ++k)
            values.SetElement(static_cast<int32_t>(k), FieldByName(keyFields[k])->AsVariant());
        }
        found = source.Locate(keyList, values, db::TLocateOptions{});
      }
      if (found)
        Next();
      else
        Delete();
      ++i;
    }
  }

  // Normal completion: both datasets back where they stood.
  if (!sourceBookmark.empty()) source.GotoBookmark(sourceBookmark);
  if (!destBookmark.empty() && BookmarkValid(destBookmark)) GotoBookmark(destBookmark);
}

// ---- SQL export -----------------------------------------------------------

std::string TVEXTable::SQLScript() {
  CheckInactive();
  Open();
  ScopeExit close([&] { Quietly([&] { Close(); }); });
  const TVEXExportToSqlOptions& options = FExportToSqlOptions;
  const std::string table = QuoteSQLName(FTableName);
  std::string out;

  if (options.Structure) {
    if (options.AddDropTable) out += "DROP TABLE " + table + ";\r\n";
    out += "CREATE TABLE " + table + " (\r\n";
    const TVEXAdvFieldDefs& fields = AdvFieldDefs();
    for (int32_t i = 0; i < fields.Count(); ++i) {
      const TVEXAdvFieldDef& def = *fields.GetDef(i);
      if (i > 0) out += ",\r\n";
      out += "  " + QuoteSQLName(def.Name);
      out += def.DataType == aftString ? std::string(" VARCHAR")
                                       : " " + AdvancedFieldTypeToSQLName(def.DataType);
      if (TakesSize(def.DataType)) out += "(" + std::to_string(def.Size) + ")";
      if (options.BlobSettings && IsBLOBAdvancedFieldType(def.DataType)) {
        out += " BLOBBlockSize " + std::to_string(def.BLOBBlockSize);
        out += std::string(" BLOBCompressionAlgorithm ") +
               CompressionName(def.BLOBCompressionAlgorithm);
        out += " BLOBCompressionMode " + std::to_string(def.BLOBCompressionMode);
      }
      const bool text = IsStringAdvancedFieldType(def.DataType);
      const auto valueText = [&](const TVEXVariant& Value) {
        const std::string plain = Value.AsAnsiString();
        return text ? Quoted(plain) : PointDecimal(plain);
      };
      if (!def.DefaultValue.IsNull()) {
        out += " DEFAULT " + (text ? Quoted(DefaultText(def.DefaultValue.AsAnsiString()))
                                   : valueText(def.DefaultValue));
      }
      if (def.Required) out += " NOT NULL";
      if (!def.MinValue.IsNull()) out += " MINVALUE " + valueText(def.MinValue);
      if (!def.MaxValue.IsNull()) out += " MAXVALUE " + valueText(def.MaxValue);
    }
    const TVEXAdvIndexDefs& indexes = AdvIndexDefs();
    for (int32_t i = 0; i < indexes.Count(); ++i) {
      const TVEXAdvIndexDef& def = *indexes.GetDef(i);
      if (def.Temporary) continue;
      out += ", \r\n";
      if (def.Options.Contains(db::ixPrimary))
        out += "  PRIMARY KEY";
      else if (def.Options.Contains(db::ixUnique))
        out += "  UNIQUE INDEX";
      else
        out += "  INDEX";
      if (!def.Name.empty()) out += " " + QuoteSQLName(def.Name);
      out += " (";
      bool first = true;
      for (const std::string& field : SplitFieldList(def.Fields)) {
        if (!first) out += ", ";
        first = false;
        out += QuoteSQLName(field);
        if (InFieldList(def.DescFields, field)) out += " DESC";
        if (InFieldList(def.CaseInsFields, field)) out += " NOCASE";
      }
      out += ")";
    }
    out += "\r\n);\r\n";
  }

  if (options.Data) {
    std::string names;
    for (int32_t f = 0; f < FieldCount(); ++f)
      names += (f > 0 ? ", " : "") + QuoteSQLName(Fields()[f]->FieldName());
    for (First(); !Eof(); Next()) {
      out += "INSERT INTO " + table + " ";
      out += options.FieldNamesInInserts ? "(" + names + ") values (" : std::string("values (");
      for (int32_t f = 0; f < FieldCount(); ++f) {
        db::TField* field = Fields()[f];
        if (f > 0) out += ", ";
        if (field->IsNull()) {
          out += "NULL";
          continue;
        }
        const TVEXAdvFieldDef* def = AdvFieldDefs().Find(field->FieldName());
        const TVEXAdvancedFieldType type = def != nullptr ? def->DataType : aftUnknown;
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
        if (IsDateTimeAdvancedFieldType(type)) {
          const rtl::TDateTime value = field->AsDateTime();
          rtl::DecodeDate(value, year, month, day);
          rtl::DecodeTime(value, hour, minute, second, msec);
        }
        if (IsStringAdvancedFieldType(type) || type == aftMemo) {
          out += Quoted(field->AsString());
        } else if (type == aftDate) {
          out += rtl::Format("'%.4d-%.2d-%.2d'", year, month, day);
        } else if (type == aftTime) {
          out += rtl::Format("ToDate('%.2d:%.2d:%.2d','HH24:NN:SS')", hour, minute, second);
        } else if (type == aftDateTime || type == aftTimeStamp) {
          out += rtl::Format("'%.4d-%.2d-%.2d %.2d:%.2d:%.2d'", year, month, day, hour, minute,
                             second);
        } else if (type == aftBoolean) {
          out += field->AsBoolean() ? "True" : "False";
        } else if (IsBLOBAdvancedFieldType(type) || IsBytesAdvancedFieldType(type)) {
          // Bytes too: the script must read back, and MimeToBin takes any bytes.
          out += "MimeToBin('" +
                 BytesToFormat(field->AsString(), TStringFormat_MIME64::Class()->Format()) + "')";
        } else {
          out += PointDecimal(field->AsString());
        }
      }
      out += ");\r\n";
    }
  }
  out += "\r\n";
  return out;
}

void TVEXTable::ExportToSQL(rtl::TStream& Stream) {
  const std::string script = SQLScript();
  Stream.WriteBuffer(script.data(), static_cast<int32_t>(script.size()));
}

void TVEXTable::ExportToSQL(const std::string& FileName) {
  // The script first: a table that cannot be exported leaves no file behind.
  const std::string script = SQLScript();
  os::File file;
  if (!file.Open(FileName, os::Access::ReadWrite, os::Share::DenyWrite,
                 os::Disposition::CreateAlways)) {
    const int error = os::LastError();
    throw rtl::EOSError(
        rtl::Format("Cannot create file \"%s\". %s", FileName, os::ErrorText(error)), error);
  }
  if (!file.Write(script.data(), script.size(), 0) || !file.Close()) {
    const int error = os::LastError();
    throw rtl::EOSError(rtl::Format("Cannot write file \"%s\". %s", FileName, os::ErrorText(error)),
                        error);
  }
}

std::string TVEXTable::ExportToSQL() { return SQLScript(); }

}  // namespace vex
