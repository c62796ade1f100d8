#include "components/VEXLocalCursor.h"

#include <cstring>
#include <limits>
#include <utility>

#include "components/VEXLocalEngine.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStartup.h"
#include "foundation/VEXVariant.h"
#include "os/Clock.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"
#include "sql/expression/VEXExpression.h"
#include "storage/VEXConstraintManager.h"
#include "storage/VEXDatabaseData.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXIndexManager.h"
#include "storage/VEXTableData.h"
#include "storage/disk/VEXDiskTableData.h"
#include "storage/disk/VEXTableLocks.h"
#include "storage/temp/VEXTempEngine.h"

namespace vex {

namespace {

constexpr int32_t kPostTries = 2250;
constexpr uint32_t kPostPause = 40;
constexpr int32_t kDeleteTries = 900;
constexpr uint32_t kDeletePause = 100;
constexpr int32_t kEditTableTries = 900;
constexpr int32_t kRecordTries = 15;
constexpr int32_t kLockDelay = 100;

int32_t CheckedSum(int64_t A, int64_t B) {
  const int64_t sum = A + B;
  if (sum > std::numeric_limits<int32_t>::max()) throw rtl::EIntOverflow("Integer overflow");
  return static_cast<int32_t>(sum);
}

void WriteRecordID(uint8_t* Buffer, TVEXPageItemID ID) {
  std::memcpy(Buffer, &ID.PageNo, 4);
  std::memcpy(Buffer + 4, &ID.PageItemNo, 2);
}

TVEXPageItemID ReadRecordID(const uint8_t* Buffer) {
  TVEXPageItemID id{};
  std::memcpy(&id.PageNo, Buffer, 4);
  std::memcpy(&id.PageItemNo, Buffer + 4, 2);
  return id;
}

bool NullBit(const uint8_t* Buffer, int32_t FieldNo) {
  return (Buffer[FieldNo / 8] & (1u << (FieldNo % 8))) != 0;
}

void SetNullBit(uint8_t* Buffer, int32_t FieldNo, bool Null) {
  const auto mask = static_cast<uint8_t>(1u << (FieldNo % 8));
  if (Null)
    Buffer[FieldNo / 8] |= mask;
  else
    Buffer[FieldNo / 8] &= static_cast<uint8_t>(~mask);
}

}  // namespace

// ---- TVEXLocalBLOBStream

TVEXLocalBLOBStream::TVEXLocalBLOBStream(std::unique_ptr<TVEXStream> TemporaryStream,
                                         TVEXCursor& Cursor, TVEXBLOBOpenMode OpenMode,
                                         int32_t FieldNo)
    : FOpenMode(OpenMode),
      FTemporaryStream(std::move(TemporaryStream)),
      FFieldNo(FieldNo),
      FCursor(Cursor) {
  SetBlockSize(FTemporaryStream->BlockSize());
}

TVEXLocalBLOBStream::~TVEXLocalBLOBStream() {
  if (TVEXUserBLOBStream* user = std::exchange(FUserBLOBStream, nullptr))
    user->EngineStreamClosed(Modified());
}

void TVEXLocalBLOBStream::SetSize(int64_t NewSize) {
  if (FOpenMode == bomRead) throw EVEXException(10116, "Cannot write to read only stream");
  FTemporaryStream->SetSize(NewSize);
}

int32_t TVEXLocalBLOBStream::Read(void* Buffer, int32_t Count) {
  return FTemporaryStream->Read(Buffer, Count);
}

int32_t TVEXLocalBLOBStream::Write(const void* Buffer, int32_t Count) {
  if (FOpenMode == bomRead) throw EVEXException(10115, "Cannot write to read only stream");
  return FTemporaryStream->Write(Buffer, Count);
}

int64_t TVEXLocalBLOBStream::Seek(int64_t Offset, rtl::TSeekOrigin Origin) {
  return FTemporaryStream->Seek(Offset, Origin);
}

std::unique_ptr<TVEXStream> TVEXLocalBLOBStreamFactory::CreateBLOBStream(
    std::unique_ptr<TVEXStream> TemporaryStream, TVEXCursor& Cursor, TVEXBLOBOpenMode OpenMode,
    int32_t FieldNo) {
  return std::make_unique<TVEXLocalBLOBStream>(std::move(TemporaryStream), Cursor, OpenMode,
                                               FieldNo);
}

// ---- record scan for index builds

namespace {

class TVEXLocalRecordScan final : public TVEXRecordScan {
 public:
  TVEXLocalRecordScan(TVEXCursor& Source, TVEXTableData& Table) {
    FCursor.SetSession(Source.Session());
    FCursor.SetTableName(Table.TableName());
    FCursor.SetTemporary(Source.Temporary());
    FCursor.SetInMemory(Source.InMemory());
    FCursor.OpenTable(Table);
    FBuffer = FCursor.AllocateRecordBuffer();
    FCursor.SetCurrentRecordBuffer(static_cast<uint8_t*>(FBuffer.Get()));
    FCursor.InternalFirst();
  }
  ~TVEXLocalRecordScan() override { FCursor.SetCurrentRecordBuffer(nullptr); }
  bool Next() override { return FCursor.GetRecordBuffer(grmNext) == grrOK; }
  TVEXCursor& Cursor() override { return FCursor; }

 private:
  TVEXLocalCursor FCursor;
  TVEXMemBlock FBuffer;
};

class TVEXLocalRecordScanner final : public TVEXRecordScanner {
 public:
  std::unique_ptr<TVEXRecordScan> OpenRecordScan(TVEXCursor& Cursor) override {
    auto* local = dynamic_cast<TVEXLocalCursor*>(&Cursor);
    if (local == nullptr || local->TableData() == nullptr) RaiseNilPointer(20036);
    return std::make_unique<TVEXLocalRecordScan>(Cursor, *local->TableData());
  }
};

TVEXLocalBLOBStreamFactory gStreamFactory;
TVEXLocalRecordScanner gScanner;
TVEXBLOBStreamFactory* gPreviousFactory = nullptr;
TVEXRecordScanner* gPreviousScanner = nullptr;

}  // namespace

void StartLocalCursorSeams() {
  gPreviousFactory = InstallBLOBStreamFactory(&gStreamFactory);
  gPreviousScanner = InstallRecordScanner(&gScanner);
}

void StopLocalCursorSeams() noexcept {
  InstallBLOBStreamFactory(gPreviousFactory);
  InstallRecordScanner(gPreviousScanner);
  gPreviousFactory = nullptr;
  gPreviousScanner = nullptr;
}

// ---- TVEXLocalCursor: helpers

TVEXLocalCursor::~TVEXLocalCursor() {
  try {
    CloseTable();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

TVEXDatabaseData& TVEXLocalCursor::TakeDatabaseData() {
  auto* session = dynamic_cast<TVEXLocalSession*>(Session());
  FDatabaseData = session != nullptr ? session->DatabaseData() : nullptr;
  if (FDatabaseData == nullptr) throw EVEXException(20151, "Pointer is nil");
  return *FDatabaseData;
}

TVEXDiskTableData* TVEXLocalCursor::DiskTable() const {
  return dynamic_cast<TVEXDiskTableData*>(FTableData);
}

bool TVEXLocalCursor::IsTemporaryTable() const {
  return dynamic_cast<TVEXTemporaryTableData*>(FTableData) != nullptr;
}

bool TVEXLocalCursor::SessionMultiUser() const {
  return Session() != nullptr && Session()->MultiUser();
}

bool TVEXLocalCursor::MultiUserDisk() const { return SessionMultiUser() && DiskTable() != nullptr; }

void TVEXLocalCursor::PauseUnlocked(uint32_t Ms) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FTableData->Unlock();
  ScopeExit relock([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { FTableData->Lock(); });
  os::CurrentClock().Sleep(Ms);
}

void TVEXLocalCursor::RefreshIndexAndConstraintDefs() {
  if (FTableData->IndexManager() != nullptr) FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  if (FTableData->ConstraintManager() != nullptr)
    ConstraintDefs().Assign(FTableData->ConstraintManager()->ConstraintDefs());
}

// ---- table operations

void TVEXLocalCursor::CreateTable(TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                                  TVEXConstraintDefs& ConstraintDefs) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CloseTable();
  TVEXDatabaseData& data = TakeDatabaseData();
  TVEXLockGuard lock(data.DatabaseLock());
  if (data.TableExists(TableName())) DeleteTable();
  ScopeExit close([this] { CloseTable(); });
  FTableData = data.FindOrCreateTableData(*this);
  if (FTableData == nullptr) throw EVEXException(20151, "Pointer is nil");
  FTableData->CreateTable(this, FieldDefs, IndexDefs, ConstraintDefs);
}

void TVEXLocalCursor::DeleteTable() VEX_NO_THREAD_SAFETY_ANALYSIS {
  CloseTable();
  TVEXDatabaseData& data = TakeDatabaseData();
  TVEXLockGuard lock(data.DatabaseLock());
  if (!data.TableExists(TableName()))
    throw EVEXException(20132, "Table '%s' not found", TableName());
  ScopeFailure close([this] { CloseTable(); });
  FTableData = data.FindOrCreateTableData(*this);
  if (FTableData == nullptr)
    throw EVEXException(10027, "Table not found, table name = %s", TableName());
  if (Session() != nullptr && FTableData->FieldManager() != nullptr) {
    const TVEXFieldDefs& defs = FTableData->FieldManager()->FieldDefs();
    for (int32_t i = 0; i < defs.Count(); ++i) Session()->DeleteObject(defs.GetDef(i)->ObjectID);
  }
  const bool disk = DiskTable() != nullptr;
  FTableData->DeleteTable(this, false);
  if (!disk) FTableData = nullptr;
  CloseTable();
}

void TVEXLocalCursor::EmptyTable() VEX_NO_THREAD_SAFETY_ANALYSIS {
  CloseTable();
  TVEXDatabaseData& data = TakeDatabaseData();
  TVEXLockGuard lock(data.DatabaseLock());
  if (!data.TableExists(TableName()))
    throw EVEXException(20133, "Table '%s' not found", TableName());
  ScopeExit close([this] { CloseTable(); });
  FTableData = data.FindOrCreateTableData(*this);
  if (FTableData == nullptr)
    throw EVEXException(10073, "Table not found, table name = %s", TableName());
  FTableData->EmptyTable(this);
}

void TVEXLocalCursor::RenameTable(std::string_view NewTableName) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CloseTable();
  TVEXDatabaseData& data = TakeDatabaseData();
  TVEXLockGuard lock(data.DatabaseLock());
  if (!data.TableExists(TableName()))
    throw EVEXException(20134, "Table '%s' not found", TableName());
  if (rtl::AnsiUpperCase(std::string(NewTableName)) != rtl::AnsiUpperCase(TableName()) &&
      data.TableExists(NewTableName))
    throw EVEXException(30451, "Table %s already exists", std::string(NewTableName));
  if (NewTableName == TableName())
    throw EVEXException(30452, "Cannot rename table '%s' into itself", TableName());
  {
    ScopeExit close([this] { CloseTable(); });
    FTableData = data.FindOrCreateTableData(*this);
    if (FTableData == nullptr)
      throw EVEXException(10151, "Table not found, table name = %s", TableName());
    FTableData->RenameTable(NewTableName, this);
  }
  SetTableName(NewTableName);
}

void TVEXLocalCursor::InternalInitFieldDefs() {
  const TVEXFieldDefs& tableDefs = FTableData->FieldManager()->FieldDefs();
  FieldDefs().Assign(tableDefs);
  FieldDefs().RecalcFieldOffsets();
  if (!SettingProjection()) {
    VisibleFieldDefs().Assign(tableDefs);
    VisibleFieldDefs().RecalcFieldOffsets();
    for (int32_t i = 0; i < VisibleFieldDefs().Count(); ++i)
      VisibleFieldDefs().GetDef(i)->FieldNoReference = i;
  }
  const TVEXFieldDefs& defs = FieldDefs();
  int32_t bookmark = 0;
  if (defs.Count() > 0) {
    const TVEXFieldDef& last = *defs.GetDef(defs.Count() - 1);
    bookmark = CheckedSum(last.MemoryOffset, last.MemoryDataSize);
    SetFieldValuesOffset(defs.GetDef(0)->MemoryOffset);
  } else {
    SetFieldValuesOffset(0);
  }
  SetBookmarkOffset(bookmark);
  SetKeyOffset(bookmark);
  SetKeyBufferSize(CheckedSum(bookmark, 6));
  const int32_t size = CheckedSum(bookmark, 7);
  SetRecordSize(size);
  SetRecordBufferSize(size);
  SetCalculatedFieldsOffset(size);
  if (FTableData->ConstraintManager() != nullptr)
    ConstraintDefs().Assign(FTableData->ConstraintManager()->ConstraintDefs());
  else
    ConstraintDefs().Clear();
}

void TVEXLocalCursor::OpenSteps(bool InitFieldDefs) VEX_NO_THREAD_SAFETY_ANALYSIS {
  ScopeFailure undo([this] { CloseTable(); });
  FTableData->SetIsRepairing(IsRepairing());
  FTableData->OpenTable(*this);
  FirstPosition = true;
  LastPosition = false;
  if (FTableData->IndexManager() != nullptr)
    FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  else
    FIndexDefs.Clear();
  BLOBStreams().clear();
  if (InitFieldDefs) InternalInitFieldDefs();
  RecordBitmap = std::make_unique<TVEXRecordBitmap>(FTableData);
  SetIsOpen(true);
}

void TVEXLocalCursor::OpenTableByFieldDefs(TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                                           TVEXConstraintDefs& ConstraintDefs)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (IsOpen()) return;
  TVEXDatabaseData& data = TakeDatabaseData();
  TVEXLockGuard lock(data.DatabaseLock());
  FTableData = data.FindTableData(*this);
  if (FTableData == nullptr) {
    if (DiskAccessOf(&data) != nullptr) {
      FTableData = data.CreateTableData(*this);
    } else if (IsDesignMode()) {
      FTableData = data.CreateTableData(*this);
      ScopeFailure drop([this] { CloseTable(); });
      FTableData->CreateTable(this, FieldDefs, IndexDefs, ConstraintDefs);
    } else {
      throw EVEXException(10028, "Table not found, table name = %s", TableName());
    }
  }
  OpenSteps(false);
}

void TVEXLocalCursor::OpenTable(TVEXTableData& aTableData) VEX_NO_THREAD_SAFETY_ANALYSIS {
  auto* session = dynamic_cast<TVEXLocalSession*>(Session());
  FDatabaseData = session != nullptr && session->DatabaseData() != nullptr
                      ? session->DatabaseData()
                      : aTableData.DatabaseData();
  TVEXLockGuard lock(FDatabaseData->DatabaseLock());
  FTableData = &aTableData;
  OpenSteps(true);
}

void TVEXLocalCursor::CloseTable() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableData != nullptr) {
    TVEXTableData* table = FTableData;
    TVEXLockGuard lock(table->DatabaseLock());
    ScopeExit forget([this] { FTableData = nullptr; });
    ClearBLOBStreams(false);
    table->CloseTable(*this);
    if (IsDesignMode() && (InMemory() || Temporary()) && DiskTable() == nullptr) {
      table->DeleteTable(this, true);
    } else if (TVEXDiskTableData* disk = DiskTable()) {
      disk->FreeIfNoCursorsConnected();
    }
  }
  RecordBitmap.reset();
  FOwnedFilter.reset();
  FilterExpression = nullptr;
  FieldDefs().Clear();
  if (!SettingProjection()) VisibleFieldDefs().Clear();
  FIndexDefs.Clear();
  BLOBStreams().clear();
  ConstraintDefs().Clear();
  SetIsOpen(false);
}

void TVEXLocalCursor::LockTableData() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableData == nullptr) RaiseNilPointer(10260);
  FTableData->Lock();
}

void TVEXLocalCursor::UnlockTableData() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableData == nullptr) RaiseNilPointer(10261);
  FTableData->Unlock();
}

bool TVEXLocalCursor::LockTable(TVEXLockType LockType, int32_t TryCount, int32_t Delay,
                                bool AllowXIRWAfterSIRW) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableData == nullptr) throw EVEXException(20221, "Pointer is nil");
  if (TVEXDiskTableData* disk = DiskTable())
    return disk->LockTable(GetSessionID(), LockType, TryCount, Delay, AllowXIRWAfterSIRW);
  return true;
}

bool TVEXLocalCursor::UnlockTable(TVEXLockType LockType, bool IgnoreIfNoLock)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableData == nullptr) throw EVEXException(20222, "Pointer is nil");
  if (TVEXDiskTableData* disk = DiskTable())
    return disk->UnlockTable(GetSessionID(), LockType, IgnoreIfNoLock);
  return true;
}

void TVEXLocalCursor::RenameField(std::string_view FieldName, std::string_view NewFieldName)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  FTableData->RenameField(FieldName, NewFieldName);
}

// ---- records and navigation

void TVEXLocalCursor::InternalInitRecord(uint8_t* RecordBuffer, bool InsertMode) {
  const int32_t nullBytes = FieldDefs().GetNullBitmapSize();
  std::memset(RecordBuffer, 0xFF, static_cast<size_t>(nullBytes));
  const int32_t size = FieldDefs().GetMemoryRecordBufferSize();
  if (size > nullBytes)
    std::memset(RecordBuffer + nullBytes, 0, static_cast<size_t>(size - nullBytes));
  if (!Temporary() && InsertMode && Session() != nullptr && FTableData != nullptr)
    FTableData->FieldManager()->ApplyDefaultValuesToRecordBuffer(*Session(), RecordBuffer);
}

void TVEXLocalCursor::FreeRecordBuffer(uint8_t*& Buffer) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (Buffer == nullptr) return;
  if (FTableData != nullptr) {
    TVEXLockGuard lock(FTableData->DatabaseLock());
    FTableData->ClearBlobsCacheInRecordBuffer(Buffer);
  }
  TVEXCursor::FreeRecordBuffer(Buffer);
}

int64_t TVEXLocalCursor::GetRecordCount() { return FTableData->GetRecordCount(*this); }

TVEXGetRecordResult TVEXLocalCursor::GetRecordBuffer(TVEXGetRecordMode GetRecordMode)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  return FTableData->GetRecordBuffer(*this, GetRecordMode);
}

void TVEXLocalCursor::SetRecNo(int64_t Value) { FTableData->SetRecNo(*this, Value); }

int64_t TVEXLocalCursor::GetRecNo() { return FTableData->GetRecNo(*this); }

int32_t TVEXLocalCursor::CompareRecordsOrder(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (IndexID() != -1) {
    TVEXLockGuard lock(FTableData->DatabaseLock());
    TVEXMemBlock position = SavePosition();
    uint8_t* current = CurrentRecordBuffer();
    TVEXMemBlock a = AllocateRecordBuffer();
    TVEXMemBlock b = AllocateRecordBuffer();
    ScopeExit restore([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
      RestorePosition(position);
      SetCurrentRecordBuffer(current);
    });
    auto read = [&](TVEXMemBlock& Buffer, TVEXPageItemID ID) VEX_NO_THREAD_SAFETY_ANALYSIS {
      SetCurrentRecordBuffer(static_cast<uint8_t*>(Buffer.Get()));
      FirstPosition = false;
      LastPosition = false;
      CurrentRecordID = ID;
      return FTableData->GetRecordBuffer(*this, grmCurrent) == grrOK;
    };
    if (!read(a, RecordID1)) return -1;
    if (!read(b, RecordID2)) return 1;
    const auto* def = static_cast<TVEXIndexDef*>(FIndexDefs.GetDefByObjectId(IndexID()));
    TVEXIndex* index = FTableData->IndexManager()->OpenIndex(IndexID());
    const int32_t result = index->CompareRecordBuffersByIndex(
        static_cast<uint8_t*>(a.Get()), static_cast<uint8_t*>(b.Get()),
        def != nullptr ? def->ColumnCount() : 0);
    if (result != 0) return result < 0 ? -1 : 1;
  }
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo < RecordID2.PageNo ? -1 : 1;
  if (RecordID1.PageItemNo != RecordID2.PageItemNo)
    return RecordID1.PageItemNo < RecordID2.PageItemNo ? -1 : 1;
  return 0;
}

void TVEXLocalCursor::InternalFirst() {
  FirstPosition = true;
  LastPosition = false;
}

void TVEXLocalCursor::InternalLast() {
  FirstPosition = false;
  LastPosition = true;
}

// ---- editing

void TVEXLocalCursor::LockRecordForEdit() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDiskTableData& disk = *DiskTable();
  const int32_t session = GetSessionID();
  const TVEXLockType tableLock = InTransaction() ? ltXIRW : ltSIRW;
  if (!disk.LockTable(session, tableLock, kEditTableTries, kLockDelay, true)) {
    SetErrorCode(-13);
    return;
  }
  if (!disk.LockRecord(session, CurrentRecordID, kRecordTries, kLockDelay)) {
    disk.UnlockTable(session, tableLock, false);
    SetErrorCode(-12);
    return;
  }
  const TVEXPageItemID locked = CurrentRecordID;
  ScopeFailure release([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    disk.UnlockRecord(session, locked);
    disk.UnlockTable(session, tableLock, false);
  });
  const auto size = static_cast<size_t>(RecordBufferSize());
  TVEXMemBlock copy = TVEXMemBlock::GetMem(RecordBufferSize());
  std::memcpy(copy.Get(), CurrentRecordBuffer(), size);
  if (FTableData->GetRecordBuffer(*this, grmCurrent) != grrOK) {
    SetErrorCode(-6);
    std::memcpy(CurrentRecordBuffer(), copy.Get(), size);
  } else if (!FTableData->FieldManager()->CompareRecordBuffers(
                 static_cast<uint8_t*>(copy.Get()), CurrentRecordBuffer())) {
    SetErrorCode(-4);
    std::memcpy(CurrentRecordBuffer(), copy.Get(), size);
  }
  if (ErrorCode() != 0) {
    disk.UnlockRecord(session, locked);
    disk.UnlockTable(session, tableLock, false);
  }
}

void TVEXLocalCursor::InternalEdit() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  SetErrorCode(0);
  if (IsTemporaryTable()) {
    SetErrorCode(-9);
    return;
  }
  if (MultiUserDisk()) LockRecordForEdit();
}

void TVEXLocalCursor::DoPost(bool ToInsert) VEX_NO_THREAD_SAFETY_ANALYSIS {
  try {
    if (ToInsert) {
      if (TVEXDiskTableData* disk = DiskTable()) disk->LoadMostUpdated(GetSessionID());
      if (Session() != nullptr)
        FTableData->FieldManager()->ApplyAutoincsToRecordBuffer(*Session(), CurrentRecordBuffer());
    }
    if (!IsTemporaryTable() && FTableData->ConstraintManager() != nullptr)
      FTableData->ConstraintManager()->CheckConstraints(GetSessionID(), CurrentRecordBuffer(),
                                                        EditRecordBuffer(), ToInsert,
                                                        CurrentRecordID, true, true);
  } catch (const std::exception& e) {
    SetErrorCode(-8);
    SetErrorMessage(e.what());
    return;
  }
  ClearBLOBStreams(true);
  uint8_t* record = CurrentRecordBuffer();
  if (ToInsert) {
    SetErrorCode(FTableData->InsertRecord(*this) ? 0 : -1);
    WriteRecordID(record + BookmarkOffset(), CurrentRecordID);
    record[BookmarkOffset() + 6] = 3;
    return;
  }
  CurrentRecordID = ReadRecordID(record + BookmarkOffset());
  const auto size = static_cast<size_t>(RecordBufferSize());
  TVEXMemBlock newValues = TVEXMemBlock::GetMem(RecordBufferSize());
  std::memcpy(newValues.Get(), record, size);
  ScopeFailure putBack([&] { std::memcpy(record, newValues.Get(), size); });
  const bool read = FTableData->GetRecordBuffer(*this, grmCurrent) == grrOK;
  const bool changed =
      read && EditRecordBuffer() != nullptr &&
      !FTableData->FieldManager()->CompareRecordBuffers(EditRecordBuffer(), record);
  std::memcpy(record, newValues.Get(), size);
  if (!read) {
    SetErrorCode(-6);
  } else if (changed) {
    SetErrorCode(-4);
  } else {
    SetErrorCode(FTableData->UpdateRecord(*this) ? 0 : -2);
  }
}

void TVEXLocalCursor::InternalPost(bool ToInsert) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  SetErrorCode(0);
  if (!MultiUserDisk()) {
    DoPost(ToInsert);
    return;
  }
  TVEXDiskTableData& disk = *DiskTable();
  const int32_t session = GetSessionID();
  const bool inTransaction = InTransaction();
  const TVEXLockType postLock = inTransaction ? ltXIRW : ltRW;
  bool locked = false;
  for (int32_t i = 0; i < kPostTries && !locked; ++i) {
    locked = disk.LockTable(session, postLock, 1, 0, true);
    if (!locked && i + 1 < kPostTries) PauseUnlocked(kPostPause);
  }
  if (!locked) {
    SetErrorCode(-13);
    return;
  }
  ScopeExit release([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (!ToInsert && ErrorCode() != -8) {
      disk.UnlockRecord(session, CurrentRecordID);
      disk.UnlockTable(session, ltSIRW, inTransaction);
    }
    if (!inTransaction) disk.UnlockTable(session, ltRW, false);
  });
  DoPost(ToInsert);
}

void TVEXLocalCursor::DoDelete() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (IsTemporaryTable()) {
    SetErrorCode(-10);
    return;
  }
  uint8_t* record = CurrentRecordBuffer();
  CurrentRecordID = ReadRecordID(record + BookmarkOffset());
  const auto size = static_cast<size_t>(RecordBufferSize());
  TVEXMemBlock copy = TVEXMemBlock::GetMem(RecordBufferSize());
  std::memcpy(copy.Get(), record, size);
  ScopeFailure putBack([&] { std::memcpy(record, copy.Get(), size); });
  const bool read = FTableData->GetRecordBuffer(*this, grmCurrent) == grrOK;
  const bool same =
      read && std::memcmp(copy.Get(), record, static_cast<size_t>(RecordSize())) == 0;
  std::memcpy(record, copy.Get(), size);
  if (!read)
    SetErrorCode(-7);
  else if (!same)
    SetErrorCode(-5);
  else
    SetErrorCode(FTableData->DeleteRecord(*this) ? 0 : -3);
}

void TVEXLocalCursor::InternalDelete() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  SetErrorCode(0);
  if (!MultiUserDisk()) {
    DoDelete();
    return;
  }
  TVEXDiskTableData& disk = *DiskTable();
  const int32_t session = GetSessionID();
  const bool inTransaction = InTransaction();
  const TVEXLockType deleteLock = inTransaction ? ltXIRW : ltRW;
  bool locked = false;
  for (int32_t i = 0; i < kDeleteTries && !locked; ++i) {
    locked = disk.LockTable(session, deleteLock, 1, 0, true);
    if (!locked && i + 1 < kDeleteTries) PauseUnlocked(kDeletePause);
  }
  if (!locked) {
    SetErrorCode(-13);
    return;
  }
  const TVEXPageItemID record = ReadRecordID(CurrentRecordBuffer() + BookmarkOffset());
  if (!disk.LockRecord(session, record, kRecordTries, kLockDelay)) {
    disk.UnlockTable(session, deleteLock, false);
    SetErrorCode(-12);
    return;
  }
  ScopeExit release([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    disk.UnlockRecord(session, record);
    if (!inTransaction) disk.UnlockTable(session, ltRW, false);
  });
  DoDelete();
}

void TVEXLocalCursor::InternalCancel(bool ToInsert) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  SetErrorCode(0);
  TVEXDiskTableData* disk = DiskTable();
  // The locks of the edit go whatever the clearing below raises.
  ScopeExit release([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (disk != nullptr && SessionMultiUser() && !ToInsert) {
      disk->UnlockRecord(GetSessionID(), CurrentRecordID);
      if (!InTransaction()) disk->UnlockTable(GetSessionID(), ltSIRW, true);
    }
  });
  ClearBLOBStreams(true);
  if (disk != nullptr) disk->ClearModifiedBLOBFieldsInRecordBuffer(CurrentRecordBuffer());
  if (ToInsert) FTableData->ClearBLOBFieldsInRecordBuffer(CurrentRecordBuffer());
}

bool TVEXLocalCursor::IsRecordLocked() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  CurrentRecordID = ReadRecordID(CurrentRecordBuffer() + BookmarkOffset());
  if (!MultiUserDisk()) return false;
  return DiskTable()->IsRecordLocked(GetSessionID(), CurrentRecordID);
}

bool TVEXLocalCursor::CheckConstraints(bool ToInsert) {
  if (FTableData->ConstraintManager() == nullptr) return true;
  return FTableData->ConstraintManager()->CheckConstraints(GetSessionID(), CurrentRecordBuffer(),
                                                           EditRecordBuffer(), ToInsert,
                                                           CurrentRecordID, false, true);
}

int64_t TVEXLocalCursor::LastAutoincValue(int32_t FieldNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  return FTableData->LastAutoincValue(FieldNo, *Session());
}

void TVEXLocalCursor::BeginBatchUpdate() {
  if (!InTransaction()) SetInBatchUpdate(true);
}

void TVEXLocalCursor::EndBatchUpdate() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (InTransaction() || !InBatchUpdate()) return;
  ScopeExit done([this] { SetInBatchUpdate(false); });
  if (DiskTable() != nullptr) {
    TVEXLockGuard lock(FTableData->DatabaseLock());
    FTableData->ApplyChanges(GetSessionID(), InTransaction());
  }
}

void TVEXLocalCursor::CancelBatchUpdate() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (InTransaction() || !InBatchUpdate()) return;
  ScopeExit done([this] { SetInBatchUpdate(false); });
  if (DiskTable() != nullptr) {
    TVEXLockGuard lock(FTableData->DatabaseLock());
    FTableData->CancelChanges(GetSessionID(), InTransaction());
  }
}

// ---- indexes

TVEXIndexDefs& TVEXLocalCursor::GetIndexDefs() {
  if (FTableData != nullptr && FTableData->IndexManager() != nullptr)
    FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  return FIndexDefs;
}

void TVEXLocalCursor::AddIndex(TVEXIndexDef& IndexDef) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FIndexDefs.GetDefByName(IndexDef.Name.str()) != nullptr)
    throw EVEXException(20022, "Cannot create index '%s'. Index already exists",
                        std::string(IndexDef.Name.str()));
  TVEXLockGuard lock(FTableData->DatabaseLock());
  FTableData->AddIndex(IndexDef, *this);
  RefreshIndexAndConstraintDefs();
}

void TVEXLocalCursor::DeleteIndex(std::string_view Name) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXMetaObjectDef* def = FIndexDefs.GetDefByName(Name);
  if (def == nullptr)
    throw EVEXException(20021, "Cannot delete index '%s'. Index not found", std::string(Name));
  TVEXLockGuard lock(FTableData->DatabaseLock());
  FTableData->DeleteIndex(def->ObjectID, this);
  RefreshIndexAndConstraintDefs();
}

void TVEXLocalCursor::DeleteAllIndexes() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  FTableData->DeleteAllIndexes(this);
  RefreshIndexAndConstraintDefs();
}

void TVEXLocalCursor::TranslateAliases(const rtl::TStringList& FieldNamesList) const {
  // The caller's list is rewritten in place: its projected aliases become
  // the names of the table fields behind them.
  auto& names = const_cast<rtl::TStringList&>(FieldNamesList);
  for (int32_t i = 0; i < names.Count(); ++i) {
    const std::string name = names.Strings(i);
    if (FieldDefs().GetDefByName(name) != nullptr) continue;
    const TVEXFieldDef* visible = VisibleFieldDefs().GetFieldDefByName(name);
    if (visible == nullptr) continue;
    const TVEXFieldDef* field = FieldDefs().GetDef(visible->FieldNoReference);
    names.SetStrings(i, std::string(field->Name.str()));
  }
}

std::string TVEXLocalCursor::FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                               const rtl::TStringList& AscDescList,
                                               const rtl::TStringList& CaseSensitivityList,
                                               bool& IsCreated) {
  TranslateAliases(FieldNamesList);
  std::string name = FTableData->FindOrCreateIndex(*this, FieldNamesList, AscDescList,
                                                   CaseSensitivityList, IsCreated);
  GetIndexDefs();
  return name;
}

bool TVEXLocalCursor::IndexExists(const rtl::TStringList& FieldNamesList,
                                  const rtl::TStringList& AscDescList,
                                  const rtl::TStringList& CaseSensitivityList) {
  TranslateAliases(FieldNamesList);
  return FTableData->IndexExists(*this, FieldNamesList, AscDescList, CaseSensitivityList);
}

// ---- view and search

void TVEXLocalCursor::ApplyDistinct(const rtl::TStringList& FieldNamesList,
                                    const rtl::TStringList& AscDescList,
                                    const rtl::TStringList& CaseSensitivityList)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  bool created = false;
  SetIndexName(FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, created));
  DistinctFieldCount = FieldNamesList.Count();
  DisableRecordBitmap();
}

void TVEXLocalCursor::ActivateFilters(std::string_view FilterText, bool CaseInsensitive,
                                      bool PartialKey) {
  auto expression = std::make_unique<TVEXExpression>();
  expression->ParseForFilter(this, rtl::Utf8ToUtf16(FilterText), CaseInsensitive, PartialKey);
  FOwnedFilter = std::move(expression);
  FilterExpression = FOwnedFilter.get();
  DisableRecordBitmap();
}

void TVEXLocalCursor::DeactivateFilters() {
  FilterExpression = nullptr;
  FOwnedFilter.reset();
  DisableRecordBitmap();
}

bool TVEXLocalCursor::Locate(std::string_view KeyFields, const rtl::Variant& KeyValues,
                             bool CaseInsensitive, bool PartialKey) {
  TVEXExpression expression;
  expression.ParseForLocate(this, KeyFields, KeyValues, CaseInsensitive, PartialKey);
  return FTableData->Locate(*this, &expression);
}

bool TVEXLocalCursor::FindKey(TVEXSearchCondition SearchCondition) {
  return FTableData->FindKey(*this, SearchCondition);
}

bool TVEXLocalCursor::IsAnyRecordMatchCondition(std::string_view FieldName,
                                                TVEXDataOperator Operator, TVEXVariant& Value) {
  TVEXExpression expression;
  expression.ParseForIsAnyRecordMatchCondition(this, FieldName, Operator, Value);
  return FTableData->Locate(*this, &expression);
}

// ---- field copy

void TVEXLocalCursor::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                                     TVEXCursor& DestCursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const TVEXFieldDefs& srcDefs = DirectAccess ? FieldDefs() : VisibleFieldDefs();
  if (SrcFieldNo < 0 || SrcFieldNo >= srcDefs.Count())
    throw EVEXException(10501, "Invalid field number - FieldNo = %d, FieldCount = %d", SrcFieldNo,
                        srcDefs.Count());
  const TVEXFieldDefs& destDefs = DestCursor.VisibleFieldDefs();
  if (DestFieldNo < 0 || DestFieldNo >= destDefs.Count())
    throw EVEXException(10502, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        DestFieldNo, destDefs.Count());
  const TVEXFieldDef& destVisible = *destDefs.GetDef(DestFieldNo);
  const int32_t destTableNo = destVisible.FieldNoReference;
  const TVEXFieldDef& dest = *DestCursor.FieldDefs().GetDef(destTableNo);
  const int32_t srcTableNo = DirectAccess ? SrcFieldNo : srcDefs.GetDef(SrcFieldNo)->FieldNoReference;
  const TVEXFieldDef& src = *FieldDefs().GetDef(srcTableNo);
  const uint8_t* from = CurrentRecordBuffer();
  uint8_t* to = DestCursor.CurrentRecordBuffer();
  if (NullBit(from, srcTableNo)) {
    SetNullBit(to, destTableNo, true);
    return;
  }
  if (src.BaseFieldType == dest.BaseFieldType && !IsBLOBBaseFieldType(src.BaseFieldType) &&
      src.MemoryDataSize == dest.MemoryDataSize) {
    SetNullBit(to, destTableNo, false);
    std::memcpy(to + dest.MemoryOffset, from + src.MemoryOffset,
                static_cast<size_t>(src.MemoryDataSize));
    return;
  }
  if (IsBLOBBaseFieldType(src.BaseFieldType)) {
    auto* destLocal = dynamic_cast<TVEXLocalCursor*>(&DestCursor);
    if (destLocal == nullptr || destLocal->TableData() == nullptr)
      throw EVEXException(10502, "Invalid field number - FieldNo = %d, FieldCount = %d",
                          DestFieldNo, destDefs.Count());
    TVEXLockGuard lock(FTableData->DatabaseLock());
    TVEXPartialTemporaryBLOBDescriptor descriptor{};
    uint8_t* data = nullptr;
    FTableData->GetDirectBlobData(*this, srcTableNo, CurrentRecordBuffer(), descriptor, data);
    ScopeExit free([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
      FTableData->FreeDirectBlobData(*this, srcTableNo, CurrentRecordBuffer(), descriptor, data);
    });
    destLocal->TableData()->SetDirectBlobData(DestCursor, DestFieldNo, to, descriptor, data);
    return;
  }
  TVEXVariant value;
  GetFieldValue(value, SrcFieldNo, DirectAccess);
  DestCursor.SetFieldValue(value, DestFieldNo, false, to);
}

// ---- BLOB streams

TVEXStream* TVEXLocalCursor::InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo,
                                                      TVEXBLOBOpenMode OpenMode,
                                                      bool CanDoGetRecordBuffer)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  auto create = [&]() VEX_NO_THREAD_SAFETY_ANALYSIS -> TVEXStream* {
    const int32_t count = VisibleFieldDefs().Count();
    if (FieldNo < 0 || FieldNo >= count)
      throw EVEXException(10110, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                          count);
    const int32_t tableNo = VisibleFieldDefs().GetDef(FieldNo)->FieldNoReference;
    if (OpenMode != bomRead) {
      for (const std::unique_ptr<TVEXStream>& open : BLOBStreams()) {
        if (open == nullptr) RaiseNilPointer(10114);
        const auto& local = static_cast<const TVEXLocalBLOBStream&>(*open);
        if (local.FieldNo() == tableNo && local.Writable())
          throw EVEXException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                              tableNo, std::string(FieldDefs().GetDef(tableNo)->Name.str()));
      }
    }
    std::unique_ptr<TVEXStream> stream =
        FTableData->InternalCreateBlobStream(*this, ToInsert, tableNo, OpenMode);
    if (stream == nullptr) return nullptr;
    // Without the factory installed the engine hands out its bare stream;
    // the list holds only local streams, so wrap it.
    if (dynamic_cast<TVEXLocalBLOBStream*>(stream.get()) == nullptr)
      stream = std::make_unique<TVEXLocalBLOBStream>(std::move(stream), *this, OpenMode, tableNo);
    BLOBStreams().push_back(std::move(stream));
    return BLOBStreams().back().get();
  };
  if (!(FDatabaseData != nullptr && FDatabaseData->MultiUser() && DiskTable() != nullptr))
    return create();
  if (!LockTable(ltS, kPostTries, static_cast<int32_t>(kPostPause), true)) return nullptr;
  ScopeExit unlock([this] { UnlockTable(ltS, false); });
  if (!ToInsert && !ToEdit && CanDoGetRecordBuffer && BLOBStreams().empty()) {
    TVEXMemBlock position = SavePosition();
    ScopeExit restore([&] { RestorePosition(position); });
    FirstPosition = false;
    LastPosition = false;
    if (FTableData->GetRecordBuffer(*this, grmCurrent) != grrOK) return nullptr;
  }
  return create();
}

void TVEXLocalCursor::CloseBLOBStreamAt(size_t Index) VEX_NO_THREAD_SAFETY_ANALYSIS {
  std::unique_ptr<TVEXStream> owned = std::move(BLOBStreams()[Index]);
  BLOBStreams().erase(BLOBStreams().begin() + static_cast<std::ptrdiff_t>(Index));
  auto& stream = static_cast<TVEXLocalBLOBStream&>(*owned);
  // The user stream is told when the stream is freed, also when storing its
  // data into the record buffer fails.
  if (stream.Writable()) FTableData->WriteBLOBFieldToRecordBuffer(*this, stream.FieldNo(), stream);
  if (!stream.Modified() && DiskTable() != nullptr)
    FTableData->ClearBLOBFieldInRecordBuffer(CurrentRecordBuffer(), stream.FieldNo());
}

void TVEXLocalCursor::InternalCloseBLOB(int32_t FieldNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXLockGuard lock(FTableData->DatabaseLock());
  const int32_t count = VisibleFieldDefs().Count();
  if (FieldNo < 0 || FieldNo >= count)
    throw EVEXException(10118, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        count);
  const int32_t tableNo = VisibleFieldDefs().GetDef(FieldNo)->FieldNoReference;
  size_t i = 0;
  while (i < BLOBStreams().size()) {
    if (BLOBStreams()[i] == nullptr) RaiseNilPointer(10120);
    if (static_cast<TVEXLocalBLOBStream&>(*BLOBStreams()[i]).FieldNo() == tableNo)
      CloseBLOBStreamAt(i);
    else
      ++i;
  }
}

void TVEXLocalCursor::ClearBLOBStreams(bool WriteOnly) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableData == nullptr) {
    BLOBStreams().clear();
    return;
  }
  TVEXLockGuard lock(FTableData->DatabaseLock());
  // Each concerned stream is closed here directly: its user stream, if any,
  // is detached first, so nothing depends on a destructor elsewhere taking
  // the stream off the list.
  size_t i = 0;
  while (i < BLOBStreams().size()) {
    if (BLOBStreams()[i] == nullptr) RaiseNilPointer(10121);
    if (!WriteOnly || static_cast<TVEXLocalBLOBStream&>(*BLOBStreams()[i]).Writable())
      CloseBLOBStreamAt(i);
    else
      ++i;
  }
}

}  // namespace vex
