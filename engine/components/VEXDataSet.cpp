#include "components/VEXDataSet.h"

#include <cstring>
#include <exception>
#include <utility>

#include "components/VEXDatabase.h"
#include "components/VEXDefConversions.h"
#include "components/VEXEngineState.h"
#include "components/VEXSession.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"
#include "storage/VEXTableData.h"
#include "ui/Ui.h"

namespace vex {

namespace {

constexpr const char* kMemoryDatabaseName = "MEMORY";
// Record id (6 bytes) and flag byte after the field area.
constexpr int32_t kBookmarkSize = 7;
constexpr int32_t kRecordIDSize = 6;

// Puts the cursor's position back when the scope ends, on every way out.
class TPositionGuard {
 public:
  explicit TPositionGuard(TVEXCursor& Cursor) : FCursor(Cursor), FPos(Cursor.SavePosition()) {}
  ~TPositionGuard() {
    try {
      FCursor.RestorePosition(FPos);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }
  TPositionGuard(const TPositionGuard&) = delete;
  TPositionGuard& operator=(const TPositionGuard&) = delete;

 private:
  TVEXCursor& FCursor;
  TVEXMemBlock FPos;
};

// Points the cursor's current buffer at Buffer for the scope and back after.
class TCurrentBufferGuard {
 public:
  TCurrentBufferGuard(TVEXCursor& Cursor, uint8_t* Buffer)
      : FCursor(Cursor), FOld(Cursor.CurrentRecordBuffer()) {
    Cursor.SetCurrentRecordBuffer(Buffer);
  }
  ~TCurrentBufferGuard() { FCursor.SetCurrentRecordBuffer(FOld); }
  TCurrentBufferGuard(const TCurrentBufferGuard&) = delete;
  TCurrentBufferGuard& operator=(const TCurrentBufferGuard&) = delete;

 private:
  TVEXCursor& FCursor;
  uint8_t* FOld;
};

}  // namespace

// --- construction -----------------------------------------------------------

TVEXDataSet::TVEXDataSet(rtl::TComponent* AOwner)
    : db::TDataSet(AOwner),
      FVEXConstraintDefs(std::make_unique<TVEXConstraintDefs>()),
      FVEXFieldDefs(std::make_unique<TVEXFieldDefs>()),
      FVEXIndexDefs(std::make_unique<TVEXIndexDefs>()),
      FAdvIndexDefs(std::make_unique<TVEXAdvIndexDefs>(this)),
      FAdvFieldDefs(std::make_unique<TVEXAdvFieldDefs>()),
      FRestructureIndexDefs(std::make_unique<TVEXAdvIndexDefs>(this)),
      FRestructureFieldDefs(std::make_unique<TVEXAdvFieldDefs>()) {
  // The owner's components see this dataset now as what it is, so a session
  // with AutoSessionName on the same owner can give it its name.
  if (AOwner != nullptr) AOwner->Notification(this, rtl::opInsert);
  if (!DesignMode() && AOwner != nullptr && AOwner->ComponentState().Contains(rtl::csDesigning))
    SetDesignMode(true);
}

TVEXDataSet::~TVEXDataSet() {
  Destroying();
  try {
    Close();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  // Flags other than the cursor's (a prepared query, definitions read) may
  // still hold the database: give it back.
  for (int32_t flag = 0; flag < 16 && FDBFlags != 0; ++flag) {
    try {
      SetDBFlag(flag, false);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }
  FreeEditRecordBuffer();
}

std::string TVEXDataSet::CurrentVersion() const { return "7.50 "; }

// --- properties -------------------------------------------------------------

void TVEXDataSet::SetSessionName(const std::string& Value) {
  CheckInactive();
  FSessionName = Value;
  DataEvent(db::dePropertyChange, 0);
}

void TVEXDataSet::SetDatabaseName(const std::string& Value) {
  if (ComponentState().Contains(rtl::csReading)) {
    FDatabaseName = Value;
    FInMemory = rtl::SameText(Value, kMemoryDatabaseName);
    return;
  }
  if (Value == FDatabaseName) return;
  CheckInactive();
  if (FDatabase != nullptr)
    db::DatabaseError("Cannot perform this operation on an open database", this);
  FDatabaseName = Value;
  FInMemory = rtl::SameText(Value, kMemoryDatabaseName);
  DataEvent(db::dePropertyChange, 0);
}

void TVEXDataSet::SetInMemory(bool Value) {
  CheckInactive();
  FInMemory = Value;
  if (Value) FDatabaseName = kMemoryDatabaseName;
}

void TVEXDataSet::SetIndexDefs(const db::TIndexDefs& Value) { IndexDefs().Assign(Value); }

TVEXSession& TVEXDataSet::DBSession() const {
  if (FDatabase != nullptr && FDatabase->Session() != nullptr) return *FDatabase->Session();
  if (TVEXSession* session = Sessions().FindSession(FSessionName)) return *session;
  return GetDefaultSession();
}

// --- database ---------------------------------------------------------------

TVEXDatabase& TVEXDataSet::OpenDatabase() {
  TVEXSession& session = Sessions().GetSessionByName(FSessionName);
  return session.OpenDatabaseForOwner(FDatabaseName, Owner());
}

void TVEXDataSet::CloseDatabase(TVEXDatabase* Database) {
  if (Database == nullptr) return;
  if (TVEXSession* session = Database->Session()) session->CloseDatabase(*Database);
}

void TVEXDataSet::CloseAndRelease() { Close(); }

void TVEXDataSet::AttachDatabaseToSession() {
  if (FSessionName.empty() || FDatabaseName.empty()) return;
  TVEXSession* named = Sessions().FindSession(FSessionName);
  if (named == nullptr || named->IsDefault()) return;
  if (named->FindDatabaseForOwner(FDatabaseName, Owner()) != nullptr) return;
  TVEXDatabase* parked = GetDefaultSession().FindDatabaseForOwner(FDatabaseName, Owner());
  if (parked == nullptr) return;
  // A database component whose named session did not exist yet when it was
  // loaded sits in the default session; it belongs in its own.
  parked->SetSessionName(FSessionName);
  named->Open();
}

void TVEXDataSet::SetDBFlag(int32_t Flag, bool Value) {
  if (Flag < 0 || Flag > 15) return;
  const auto bit = static_cast<uint16_t>(1u << Flag);
  if (Value) {
    if ((FDBFlags & bit) != 0) return;
    if (FDBFlags == 0) {
      AttachDatabaseToSession();
      TVEXDatabase& database = OpenDatabase();
      FDatabase = &database;
      database.AddDataSet(this);
    }
    FDBFlags = static_cast<uint16_t>(FDBFlags | bit);
    return;
  }
  if ((FDBFlags & bit) == 0) return;
  FDBFlags = static_cast<uint16_t>(FDBFlags & ~bit);
  if (FDBFlags != 0 || FDatabase == nullptr) return;
  TVEXDatabase* database = std::exchange(FDatabase, nullptr);
  TVEXSession* session = database->Session();
  if (session == nullptr) {
    database->RemoveDataSet(this);
    return;
  }
  TVEXSessionLockGuard guard(*session);
  database->RemoveDataSet(this);
  // A database closing its datasets has dropped its count already and must
  // not be closed (or freed) again from inside its own close.
  if (!database->ClosingDataSets()) session->CloseDatabase(*database);
}

bool TVEXDataSet::IsDistinctApplied() const {
  if (FHandle == nullptr) RaiseNilPointer(10326);
  return FHandle->DistinctFieldCount > 0;
}

void TVEXDataSet::GetDatabaseNameList(rtl::TStringList& List) const {
  List.Clear();
  TVEXSession& session = DBSession();
  for (int32_t i = 0; i < session.DatabaseCount(); ++i)
    List.Add(session.GetDatabase(i)->DatabaseName());
}

// --- introduced virtual operations ------------------------------------------

TVEXCursor* TVEXDataSet::CreateHandle() { return nullptr; }

void TVEXDataSet::DestroyHandle() {
  if (FExternalHandle == nullptr && FHandle != nullptr) {
    std::unique_ptr<TVEXCursor> own(std::exchange(FHandle, nullptr));
    own->SetSettingProjection(false);
  }
  FHandle = nullptr;
  FExternalHandle = nullptr;
}

// --- record buffers ---------------------------------------------------------

db::TRecordBuffer TVEXDataSet::AllocRecordBuffer() {
  if (FHandle == nullptr) RaiseNilPointer(10052);
  return static_cast<db::TRecordBuffer>(FHandle->AllocateRecordBuffer().Release());
}

void TVEXDataSet::FreeRecordBuffer(db::TRecordBuffer& Buffer) {
  // A buffer's calculated text cells die with it, or scrolling would grow the
  // process-wide cell list for as long as the dataset lives.
  ReleaseCalcFieldCells(Buffer);
  if (FHandle == nullptr) {
    // Closing after the cursor is gone: the block goes back all the same.
    TVEXMemBlock block(Buffer);
    Buffer = nullptr;
    RaiseNilPointer(10053);
  }
  if (FHandle->CurrentRecordBuffer() == Buffer) FHandle->SetCurrentRecordBuffer(nullptr);
  if (FHandle->EditRecordBuffer() == Buffer) FHandle->SetEditRecordBuffer(nullptr);
  FHandle->FreeRecordBuffer(Buffer);
}

void TVEXDataSet::InternalInitRecord(db::TRecordBuffer Buffer) {
  if (FHandle == nullptr) RaiseNilPointer(10054);
  FHandle->InternalInitRecord(Buffer, true);
}

void TVEXDataSet::InitRecord(db::TRecordBuffer Buffer) {
  db::TDataSet::InitRecord(Buffer);
  if (FHandle == nullptr) RaiseNilPointer(10057);
  SetBookmarkFlag(Buffer, db::bfInserted);
  const TVEXPageItemID none{-1, 0xFFFF};
  std::memcpy(Buffer + FHandle->BookmarkOffset(), &none, kRecordIDSize);
}

int32_t TVEXDataSet::GetRecordSize() {
  if (FHandle == nullptr) RaiseNilPointer(10055);
  return FHandle->RecordSize() - kBookmarkSize;
}

db::TBookmarkFlag TVEXDataSet::GetBookmarkFlag(db::TRecordBuffer Buffer) {
  if (Buffer == nullptr) RaiseNilPointer(10059);
  if (FHandle == nullptr) RaiseNilPointer(10060);
  switch (Buffer[FHandle->BookmarkOffset() + kRecordIDSize]) {
    case 1:
      return db::bfBOF;
    case 2:
      return db::bfEOF;
    case 3:
      return db::bfInserted;
    default:
      return db::bfCurrent;
  }
}

void TVEXDataSet::SetBookmarkFlag(db::TRecordBuffer Buffer, db::TBookmarkFlag Value) {
  if (FHandle == nullptr) RaiseNilPointer(10057);
  if (Buffer == nullptr) RaiseNilPointer(10061);
  Buffer[FHandle->BookmarkOffset() + kRecordIDSize] = static_cast<uint8_t>(Value);
}

void TVEXDataSet::GetBookmarkData(db::TRecordBuffer Buffer, uint8_t* Data) {
  if (Buffer == nullptr) RaiseNilPointer(10034);
  if (Data == nullptr) RaiseNilPointer(10035);
  if (FHandle == nullptr) RaiseNilPointer(10036);
  std::memcpy(Data, Buffer + FHandle->BookmarkOffset(), kRecordIDSize);
}

void TVEXDataSet::SetBookmarkData(db::TRecordBuffer Buffer, const uint8_t* Data) {
  if (Data == nullptr) return;
  if (FHandle == nullptr) RaiseNilPointer(10058);
  if (Buffer == nullptr) RaiseNilPointer(10061);
  std::memcpy(Buffer + FHandle->BookmarkOffset(), Data, kRecordIDSize);
}

void TVEXDataSet::InternalGotoBookmark(const uint8_t* Bookmark) {
  if (Bookmark == nullptr) RaiseNilPointer(10037);
  if (FHandle == nullptr) RaiseNilPointer(10038);
  std::memcpy(&FHandle->CurrentRecordID, Bookmark, kRecordIDSize);
  FHandle->FirstPosition = false;
  FHandle->LastPosition = false;
}

void TVEXDataSet::InternalSetToRecord(db::TRecordBuffer Buffer) {
  if (FHandle == nullptr) RaiseNilPointer(10046);
  if (Buffer == nullptr) RaiseNilPointer(10047);
  InternalGotoBookmark(Buffer + FHandle->BookmarkOffset());
}

int32_t TVEXDataSet::CompareBookmarks(const db::TBookmark& Bookmark1,
                                      const db::TBookmark& Bookmark2) {
  const bool nil1 = Bookmark1.size() < kRecordIDSize;
  const bool nil2 = Bookmark2.size() < kRecordIDSize;
  if (nil1 && nil2) return 0;
  if (nil2) return -1;
  if (nil1) return 1;
  if (FHandle == nullptr) RaiseNilPointer(10063);
  TVEXPageItemID id1, id2;
  std::memcpy(&id1, Bookmark1.data(), kRecordIDSize);
  std::memcpy(&id2, Bookmark2.data(), kRecordIDSize);
  const int32_t order = FHandle->CompareRecordsOrder(id1, id2);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

bool TVEXDataSet::BookmarkValid(const db::TBookmark& Bookmark) {
  if (FHandle == nullptr || Bookmark.size() < kRecordIDSize) return false;
  CursorPosChanged();
  TPositionGuard position(*FHandle);
  TVEXMemBlock scratch = FHandle->AllocateRecordBuffer();
  TCurrentBufferGuard current(*FHandle, scratch.As<uint8_t>());
  FHandle->FirstPosition = false;
  FHandle->LastPosition = false;
  std::memcpy(&FHandle->CurrentRecordID, Bookmark.data(), kRecordIDSize);
  return FHandle->GetRecordBuffer(grmCurrent) == grrOK;
}

db::TGetResult TVEXDataSet::GetRecord(db::TRecordBuffer Buffer, db::TGetMode GetMode,
                                      bool DoCheck) {
  if (FHandle == nullptr) RaiseNilPointer(10041);
  FHandle->SetCurrentRecordBuffer(Buffer);
  TVEXGetRecordMode mode = grmCurrent;
  if (GetMode == db::gmNext)
    mode = grmNext;
  else if (GetMode == db::gmPrior)
    mode = grmPrior;
  db::TGetResult result = db::grError;
  switch (FHandle->GetRecordBuffer(mode)) {
    case grrOK:
      std::memcpy(Buffer + FHandle->BookmarkOffset(), &FHandle->CurrentRecordID, kRecordIDSize);
      Buffer[FHandle->BookmarkOffset() + kRecordIDSize] = 0;
      ClearCalcFields(Buffer);
      GetCalcFields(Buffer);
      return db::grOK;
    case grrBOF:
      result = db::grBOF;
      break;
    case grrEOF:
      result = db::grEOF;
      break;
    default:
      result = db::grError;
      break;
  }
  if (result == db::grError && DoCheck) throw EVEXException(10026, "Cannot retrieve record");
  return result;
}

bool TVEXDataSet::GetCurrentRecord(db::TRecordBuffer Buffer) {
  if (FHandle == nullptr || IsEmpty()) return false;
  if (GetBookmarkFlag(ActiveBuffer()) != db::bfCurrent) return false;
  UpdateCursorPos();
  TCurrentBufferGuard current(*FHandle, Buffer);
  return FHandle->GetRecordBuffer(grmCurrent) == grrOK;
}

void TVEXDataSet::InternalFirst() {
  if (FHandle == nullptr) RaiseNilPointer(10044);
  FHandle->InternalFirst();
}

void TVEXDataSet::InternalLast() {
  if (FHandle == nullptr) RaiseNilPointer(10045);
  FHandle->InternalLast();
}

int32_t TVEXDataSet::GetRecordCount() {
  if (!Active()) return 0;
  if (FHandle == nullptr) RaiseNilPointer(10056);
  return static_cast<int32_t>(FHandle->GetRecordCount());
}

int32_t TVEXDataSet::GetRecNo() {
  if (FHandle == nullptr) RaiseNilPointer(10043);
  if (State() == db::dsInsert) return -1;
  db::TRecordBuffer buffer = State() == db::dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr || IsEmpty()) return -1;
  FHandle->SetCurrentRecordBuffer(buffer);
  TPositionGuard position(*FHandle);
  FHandle->FirstPosition = false;
  FHandle->LastPosition = false;
  std::memcpy(&FHandle->CurrentRecordID, buffer + FHandle->BookmarkOffset(), kRecordIDSize);
  return static_cast<int32_t>(FHandle->GetRecNo());
}

void TVEXDataSet::SetRecNo(int32_t Value) {
  CheckBrowseMode();
  if (FHandle == nullptr) RaiseNilPointer(10042);
  DoBeforeScroll();
  FHandle->SetRecNo(Value);
  Resync(db::TResyncMode{db::rmCenter});
  DoAfterScroll();
}

bool TVEXDataSet::GetCanModify() { return db::TDataSet::GetCanModify() && !FReadOnly; }

void TVEXDataSet::SetActive(bool Value) {
  if (!Value && (State() == db::dsEdit || State() == db::dsInsert)) InternalCancel();
  db::TDataSet::SetActive(Value);
}

void TVEXDataSet::InternalHandleException() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    ui::CurrentUi().ShowMessageBox(ui::mtError, e.what());
  } catch (...) {
    ui::CurrentUi().ShowMessageBox(ui::mtError, "Unknown exception");
  }
}

db::TRecordBuffer TVEXDataSet::GetActiveRecordBuffer() {
  switch (State()) {
    case db::dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case db::dsEdit:
    case db::dsInsert:
      return ActiveBuffer();
    case db::dsSetKey:
      return FKeyBuffer;
    case db::dsCalcFields:
      return CalcBuffer();
    case db::dsFilter:
      return FFilterBuffer;
    case db::dsOldValue:
      return FEditRecordBuffer;
    default:
      return nullptr;
  }
}

void TVEXDataSet::FreeEditRecordBuffer() noexcept {
  if (FEditRecordBuffer == nullptr) return;
  if (FHandle != nullptr && FHandle->EditRecordBuffer() == FEditRecordBuffer)
    FHandle->SetEditRecordBuffer(nullptr);
  TVEXMemBlock block(std::exchange(FEditRecordBuffer, nullptr));
}

// --- opening and closing ----------------------------------------------------

void TVEXDataSet::OpenCursor(bool InfoQuery) {
  if (FDatabaseName.empty()) db::DatabaseError("DatabaseName property is blank", this);
  SetDBFlag(dbfOpened, true);
  if (FHandle == nullptr) FHandle = CreateHandle();
  if (FHandle == nullptr) throw EVEXException(20001, "Error creating table handle");
  db::TDataSet::OpenCursor(InfoQuery);
}

void TVEXDataSet::CloseCursor() {
  // The database is given back even when closing the cursor fails.
  ScopeExit release([&] {
    try {
      if (FHandle != nullptr) DestroyHandle();
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
    FHandle = nullptr;
    FExternalHandle = nullptr;
    SetDBFlag(dbfOpened, false);
  });
  db::TDataSet::CloseCursor();
}

void TVEXDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  if (FHandle == nullptr) return;
  if (!FIgnoreDesignMode) FHandle->SetIsDesignMode(DesignMode());
  FHandle->InternalInitFieldDefs();
  FVEXFieldDefs->Assign(FHandle->VisibleFieldDefs());
  EngineDefsToFieldDefs(FHandle->VisibleFieldDefs(), FHandle->ConstraintDefs(), FieldDefs());
  EngineDefsToAdvFieldDefs(FHandle->VisibleFieldDefs(), FHandle->FieldDefs(),
                           FHandle->ConstraintDefs(), *FAdvFieldDefs);
  FRestructureFieldDefs->Assign(*FAdvFieldDefs);
}

void TVEXDataSet::InternalOpen() {
  if (FHandle == nullptr) return;
  SetBookmarkSize(kBookmarkSize);
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  GetIndexInfo();
  FreeEditRecordBuffer();
  for (int32_t i = 0; i < FieldDefs().Count(); ++i) {
    db::TFieldDef* def = FieldDefs()[i];
    if (def->DataType() == db::ftGuid) def->SetSize(38);
  }
  if (DefaultFields()) CreateFields();
  BindFields(true);
  FHandle->Dataset = this;
  if (CalcFieldsSize() > 0)
    FHandle->SetRecordBufferSize(FHandle->RecordBufferSize() + CalcFieldsSize());
  if (Filtered())
    ActivateFilters();
  else
    DeactivateFilters();
  AllocKeyBuffers();
  ResetCursorRange();
  CursorOpened();
}

void TVEXDataSet::InternalClose() {
  if (FHandle != nullptr) {
    FreeEditRecordBuffer();
    FreeKeyBuffers();
  }
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FAdvFieldDefs->Clear();
  FAdvIndexDefs->Clear();
  FVEXFieldDefs->Clear();
  FVEXIndexDefs->Clear();
  FIndexFieldCount = 0;
  FIndexFieldMap.clear();
  FKeySize = 0;
}

// --- editing ----------------------------------------------------------------

void TVEXDataSet::InternalInsert() {
  if (!FReadOnly && FHandle != nullptr) FHandle->InternalInsert();
}

void TVEXDataSet::InternalEdit() {
  if (FReadOnly) return;
  if (FHandle == nullptr) RaiseNilPointer(10065);
  db::TRecordBuffer active = GetActiveRecordBuffer();
  if (active == nullptr) RaiseNilPointer(10067);
  FreeEditRecordBuffer();
  TVEXMemBlock copy = FHandle->AllocateRecordBuffer();
  std::memcpy(copy.Get(), active, static_cast<size_t>(FHandle->RecordSize()));
  FEditRecordBuffer = static_cast<db::TRecordBuffer>(copy.Release());
  FHandle->SetCurrentRecordBuffer(active);
  FHandle->InternalEdit();
  if (FHandle->ErrorCode() != 0) {
    FreeEditRecordBuffer();
    CheckEngineError(FHandle->ErrorCode(), FHandle->ErrorMessage());
  }
}

void TVEXDataSet::InternalPost() {
  db::TDataSet::InternalPost();
  if (!Active()) throw EVEXException(10029, "Dataset is not opened");
  if (State() != db::dsInsert && State() != db::dsEdit)
    throw EVEXException(10030, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EVEXException(10032, "Dataset is in read only mode");
  if (FHandle == nullptr) RaiseNilPointer(10048);
  const bool inserting = State() == db::dsInsert;
  FHandle->SetCurrentRecordBuffer(GetActiveRecordBuffer());
  if (!inserting) FHandle->SetEditRecordBuffer(FEditRecordBuffer);
  FHandle->InternalPost(inserting);
  // A failed post keeps the edit copy (and the cursor's locks) for the next try.
  if (!inserting && FHandle->ErrorCode() == 0) FreeEditRecordBuffer();
  CheckEngineError(FHandle->ErrorCode(), FHandle->ErrorMessage());
}

void TVEXDataSet::InternalCancel() {
  if (FHandle == nullptr) RaiseNilPointer(10066);
  FreeEditRecordBuffer();
  FHandle->SetCurrentRecordBuffer(GetActiveRecordBuffer());
  FHandle->InternalCancel(State() == db::dsInsert);
  CheckEngineError(FHandle->ErrorCode(), FHandle->ErrorMessage());
}

void TVEXDataSet::InternalDelete() {
  if (!Active()) throw EVEXException(10068, "Dataset is not opened");
  if (FReadOnly) throw EVEXException(10069, "Dataset is in read only mode");
  if (FHandle == nullptr) RaiseNilPointer(10070);
  db::TRecordBuffer active = GetActiveRecordBuffer();
  if (active == nullptr) RaiseNilPointer(10071);
  FHandle->SetCurrentRecordBuffer(active);
  FHandle->InternalDelete();
  CheckEngineError(FHandle->ErrorCode(), FHandle->ErrorMessage());
}

void TVEXDataSet::InternalAddRecord(db::TRecordBuffer Buffer, bool /*Append*/) {
  if (!Active()) throw EVEXException(10075, "Dataset is not opened");
  if (State() != db::dsInsert) throw EVEXException(10076, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EVEXException(10077, "Dataset is in read only mode");
  if (FHandle == nullptr) RaiseNilPointer(10078);
  // The record's place follows from the table's order, so Append changes
  // nothing.
  FHandle->SetCurrentRecordBuffer(Buffer);
  FHandle->InternalPost(true);
  CheckEngineError(FHandle->ErrorCode(), FHandle->ErrorMessage());
}

// --- filters ----------------------------------------------------------------

void TVEXDataSet::ActivateFilters() {
  if (FHandle == nullptr) RaiseNilPointer(10269);
  if (!Filter().empty())
    FHandle->ActivateFilters(Filter(), FilterOptions().Contains(db::foCaseInsensitive),
                             !FilterOptions().Contains(db::foNoPartialCompare));
  else
    FHandle->DeactivateFilters();
  if (OnFilterRecord())
    FHandle->FilterRecord = [this](const uint8_t* RecordBuffer, db::TDataSet*) {
      return InternalFilterRecord(const_cast<db::TRecordBuffer>(RecordBuffer));
    };
  else
    FHandle->FilterRecord = nullptr;
}

void TVEXDataSet::DeactivateFilters() {
  if (FHandle == nullptr) RaiseNilPointer(10270);
  FHandle->DeactivateFilters();
}

bool TVEXDataSet::InternalFilterRecord(db::TRecordBuffer Buffer) {
  if (!Filtered() || !OnFilterRecord()) return true;
  const db::TDataSetState saved = SetTempState(db::dsFilter);
  ScopeExit restore([&] { RestoreState(saved); });
  db::TRecordBuffer savedFilter = std::exchange(FFilterBuffer, Buffer);
  ScopeExit restoreBuffer([&] { FFilterBuffer = savedFilter; });
  bool accept = true;
  try {
    OnFilterRecord()(*this, accept);
  } catch (const std::exception&) {
    InternalHandleException();
  }
  return accept;
}

// --- provider support -------------------------------------------------------

bool TVEXDataSet::PSInTransaction() const { return FHandle != nullptr && FHandle->InTransaction(); }

void TVEXDataSet::PSStartTransaction() {
  SetDBFlag(dbfProvider, true);
  ScopeFailure clear([&] { SetDBFlag(dbfProvider, false); });
  FDatabase->StartTransaction();
}

void TVEXDataSet::PSEndTransaction(bool Commit) {
  ScopeExit clear([&] { SetDBFlag(dbfProvider, false); });
  if (FDatabase == nullptr) return;
  if (Commit)
    FDatabase->Commit(true);
  else
    FDatabase->Rollback();
}

void TVEXDataSet::PSReset() {
  if (!Active()) return;
  Close();
  Open();
}

bool TVEXDataSet::PSUpdateRecord(db::TUpdateKind UpdateKind, db::TDataSet& Delta) {
  if (!OnUpdateRecord) return false;
  db::TUpdateAction action = db::uaFail;
  OnUpdateRecord(Delta, UpdateKind, action);
  return action == db::uaApplied;
}

// --- key buffers and index information ----------------------------------------

db::TRecordBuffer TVEXDataSet::InitKeyBuffer(db::TRecordBuffer Buffer) {
  if (FHandle == nullptr) RaiseNilPointer(10280);
  FHandle->InternalInitKeyBuffer(Buffer);
  return Buffer;
}

void TVEXDataSet::AllocKeyBuffers() {
  if (FHandle == nullptr) RaiseNilPointer(10281);
  ScopeFailure freeMade([&] { FreeKeyBuffers(); });
  for (auto& key : FKeyBuffers) {
    key = static_cast<db::TRecordBuffer>(FHandle->AllocateKeyRecordBuffer().Release());
    InitKeyBuffer(key);
  }
}

void TVEXDataSet::FreeKeyBuffers() noexcept {
  if (FHandle != nullptr && FHandle->KeyBuffer() != nullptr) {
    for (db::TRecordBuffer key : FKeyBuffers)
      if (key != nullptr && FHandle->KeyBuffer() == key) FHandle->SetKeyBuffer(nullptr);
  }
  if (FHandle != nullptr) {
    // The range points into the current-range key buffers.
    if (FHandle->RangeStartBuffer == FKeyBuffers[kRangeStartKey] ||
        FHandle->RangeEndBuffer == FKeyBuffers[kRangeEndKey])
      FHandle->ResetRange();
  }
  for (auto& key : FKeyBuffers) TVEXMemBlock block(std::exchange(key, nullptr));
  FKeyBuffer = nullptr;
}

void TVEXDataSet::GetIndexInfo() {
  FIndexFieldCount = 0;
  FIndexFieldMap.clear();
  FKeySize = 0;
  if (FHandle == nullptr || FHandle->IndexName().empty()) return;
  TVEXIndexDef* def = FHandle->GetIndexDefs().GetIndexDefByName(FHandle->IndexName());
  if (def == nullptr) throw EVEXException(10325, "Cannot find index %s", FHandle->IndexName());
  const TVEXFieldDefs& fields = FHandle->FieldDefs();
  std::vector<uint16_t> map;
  int32_t keySize = 0;
  for (int32_t i = 0; i < def->ColumnCount(); ++i) {
    const int32_t fieldNo = fields.GetDefNumberByName(def->GetIndexColumn(i)->FieldName);
    map.push_back(static_cast<uint16_t>(fieldNo + 1));
    if (fieldNo >= 0) keySize += fields.GetDef(fieldNo)->MemoryDataSize;
  }
  FIndexFieldCount = def->ColumnCount();
  FIndexFieldMap = std::move(map);
  FKeySize = keySize;
}

void TVEXDataSet::SwitchToIndex(const std::string& IndexName) {
  ResetCursorRange();
  UpdateCursorPos();
  if (FHandle != nullptr) FHandle->SetIndexName(IndexName);
  FKeySize = 0;
  FIndexFieldCount = 0;
  GetIndexInfo();
}

bool TVEXDataSet::ResetCursorRange() {
  if (FHandle == nullptr) RaiseNilPointer(10287);
  const int32_t keyOffset = FHandle->KeyOffset();
  auto rangeSet = [&](db::TRecordBuffer Buffer) {
    return Buffer != nullptr && Buffer[keyOffset] != 0;
  };
  if (!rangeSet(FKeyBuffers[kRangeStartKey]) && !rangeSet(FKeyBuffers[kRangeEndKey])) {
    FHandle->ResetRange();
    return false;
  }
  InitKeyBuffer(FKeyBuffers[kRangeStartKey]);
  InitKeyBuffer(FKeyBuffers[kRangeEndKey]);
  FHandle->ResetRange();
  return true;
}

bool TVEXDataSet::IsIndexSelected() const {
  if (FHandle == nullptr) RaiseNilPointer(10381);
  return FHandle->IndexID() != -1;
}

bool TVEXDataSet::GetIsIndexField(db::TField* Field) {
  const int32_t fieldNo = Field->FieldNo();
  if (fieldNo <= 0) return false;
  for (int32_t i = 0; i < FIndexFieldCount && i < static_cast<int32_t>(FIndexFieldMap.size()); ++i)
    if (FIndexFieldMap[static_cast<size_t>(i)] == fieldNo) return true;
  return false;
}

}  // namespace vex
