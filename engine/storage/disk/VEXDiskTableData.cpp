#include "storage/disk/VEXDiskTableData.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <span>
#include <vector>

#include "foundation/VEXCompressedBLOBStream.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "storage/VEXSeams.h"
#include "storage/disk/VEXDiskDatabaseData.h"
#include "storage/temp/VEXTempPageManager.h"

// Every method here works on the page manager, the internal files and the
// managers of the owning database, whose lock is this table's lock
// (DatabaseLock()); the analysis cannot see that these name one lock, so the
// methods state it in their declarations and take it again where they reach
// the page manager.

namespace vex {

namespace {

constexpr const char* sTableIsLocked = "Table is locked";

template <class F>
void Quietly(F step) noexcept {
  try {
    step();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

// A physical scan of the table's records for filling a new index.
class TVEXDiskRecordScan final : public TVEXIndexRecordScan, private TVEXManagerCursor {
 public:
  TVEXDiskRecordScan(TVEXBaseRecordManager& Records, int32_t SessionID,
                     const TVEXFieldDefs& FieldDefs, int32_t RecordSize)
      : FRecords(Records),
        FSessionID(SessionID),
        FFieldDefs(FieldDefs),
        FBuffer(static_cast<size_t>(std::max(RecordSize, 1))) {
    FInfo.FirstPosition = true;
  }

  bool Next() override VEX_NO_THREAD_SAFETY_ANALYSIS {
    FInfo.GetRecordMode = grmNext;
    FInfo.RecordBuffer = FBuffer.data();
    FRecords.GetRecordBuffer(FSessionID, FInfo);
    if (FInfo.GetRecordResult != grrOK) return false;
    FInfo.FirstPosition = false;
    FInfo.LastPosition = false;
    return true;
  }
  TVEXManagerCursor& Cursor() override { return *this; }

 private:
  int32_t GetSessionID() const override { return FSessionID; }
  TVEXPageItemID GetCurrentRecordID() const override { return FInfo.RecordID; }
  uint8_t* GetCurrentRecordBuffer() const override {
    return const_cast<uint8_t*>(FBuffer.data());
  }
  const TVEXFieldDefs& GetFieldDefs() const override { return FFieldDefs; }
  TVEXCursor& GetCursor() override {
    throw EVEXException(20036, "A record scan has no cursor of its own");
  }

  TVEXBaseRecordManager& FRecords;
  int32_t FSessionID;
  const TVEXFieldDefs& FFieldDefs;
  std::vector<uint8_t> FBuffer;
  TVEXNavigationInfo FInfo;
};

// A compressed BLOB stream that owns the stream carrying it.
struct TVEXCarrier {
  std::unique_ptr<TVEXTemporaryStream> FCarrier;
};
class TVEXOwningBLOBStream final : private TVEXCarrier, public TVEXCompressedBLOBStream {
 public:
  TVEXOwningBLOBStream(std::unique_ptr<TVEXTemporaryStream> Carrier,
                       const TVEXBLOBDescriptor& Descriptor, bool ToCreate)
      : TVEXCarrier{std::move(Carrier)},
        TVEXCompressedBLOBStream(*FCarrier, Descriptor, ToCreate) {}
};

// Puts a cursor's exclusive flag back on every way out.
class TVEXExclusiveScope {
 public:
  explicit TVEXExclusiveScope(TVEXCursor& Cursor) : FCursor(Cursor), FSaved(Cursor.Exclusive()) {
    Cursor.SetExclusive(true);
  }
  ~TVEXExclusiveScope() { FCursor.SetExclusive(FSaved); }
  TVEXExclusiveScope(const TVEXExclusiveScope&) = delete;
  TVEXExclusiveScope& operator=(const TVEXExclusiveScope&) = delete;

 private:
  TVEXCursor& FCursor;
  bool FSaved;
};

bool IsNullInRecord(const uint8_t* RecordBuffer, int32_t FieldNo) {
  return (RecordBuffer[FieldNo / 8] >> (FieldNo % 8)) & 1;
}

}  // namespace

TVEXDiskTableData::TVEXDiskTableData(TVEXDiskDatabaseData* aDatabaseData)
    : TVEXTableData(aDatabaseData) {
  SetPageManager(aDatabaseData->DiskPageManager());
}

TVEXDiskTableData::~TVEXDiskTableData() {
  FreeManagers();
  FreeInternalFiles();
}

TVEXDiskDatabaseData& TVEXDiskTableData::Database() const {
  return *static_cast<TVEXDiskDatabaseData*>(DatabaseData());
}

TVEXDiskPageManager& TVEXDiskTableData::DiskPages() const {
  TVEXDiskPageManager* pages = Database().DiskPageManager();
  if (pages == nullptr) throw EVEXException(20129, "Pointer is nil");
  return *pages;
}

bool TVEXDiskTableData::MultiUser() const { return Database().MultiUser(); }

TVEXDiskRecordManager* TVEXDiskTableData::DiskRecordManager() const {
  return static_cast<TVEXDiskRecordManager*>(FRecordManager.get());
}

void TVEXDiskTableData::FreeManagers() noexcept {
  // The BLOB manager and the open indexes read the other managers; the
  // indexes live in the temporary page store.
  FBlobManager.reset();
  FIndexManager.reset();
  FConstraintManager.reset();
  FRecordManager.reset();
  FFieldManager.reset();
  FTemporaryPageManager.reset();
}

std::unique_ptr<TVEXBaseIndexManager> TVEXDiskTableData::NewIndexManager() {
  FIndexManager.reset();
  FTemporaryPageManager =
      std::make_unique<TVEXTemporaryPageManager>(DisableTempFiles(), &DatabaseLock());
  TVEXIndexRecordScanner* scanner = this;
  return std::make_unique<TVEXBaseIndexManager>(
      *this, FTemporaryPageManager.get(), [scanner](TVEXBaseIndexManager& manager) {
        return std::make_unique<TVEXBTreeRecordIndex>(&manager, scanner);
      });
}

std::unique_ptr<TVEXIndexRecordScan> TVEXDiskTableData::OpenRecordScan(TVEXManagerCursor& Cursor) {
  return std::make_unique<TVEXDiskRecordScan>(*FRecordManager, Cursor.GetSessionID(),
                                              FFieldManager->FieldDefs(), GetRecordBufferSize());
}

// ---------------------------------------------------------------------------
// Managers

void TVEXDiskTableData::CreateRecordManager() {
  FRecordManager =
      std::make_unique<TVEXDiskRecordManager>(&DiskPages(), FFieldManager.get(), FTableID);
  DiskRecordManager()->Init(GetRecordBufferSize(), GetDiskRecordBufferSize(),
                            FFieldManager->FieldDefs().Count());
}

void TVEXDiskTableData::CreateFieldManager(TVEXFieldDefs& FieldDefs) {
  FFieldManager = std::make_unique<TVEXBaseFieldManager>(this);
  TVEXTableData::CreateFieldManager(FieldDefs);
}

void TVEXDiskTableData::CreateIndexManager(TVEXIndexDefs& IndexDefs) {
  FIndexManager = NewIndexManager();
  TVEXTableData::CreateIndexManager(IndexDefs);
}

void TVEXDiskTableData::CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs) {
  FConstraintManager.reset();
  for (int32_t i = 0; i < ConstraintDefs.Count(); ++i) {
    const TVEXConstraintType type = ConstraintDefs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EVEXException(30040, "Not implemented yet");
  }
  FConstraintManager = std::make_unique<TVEXBaseConstraintManager>(*this);
  TVEXTableData::CreateConstraintManager(ConstraintDefs);
}

void TVEXDiskTableData::CreateBlobManager() {
  FBlobManager =
      std::make_unique<TVEXDiskBlobManager>(&DiskPages(), FFieldManager.get(), DiskRecordManager());
}

int32_t TVEXDiskTableData::GetDiskRecordBufferSize() const {
  if (!FFieldManager || FFieldManager->FieldDefs().Count() == 0)
    throw EVEXException(20142, "Error creating table - no fields were specified");
  return FFieldManager->FieldDefs().GetDiskRecordBufferSize();
}

// ---------------------------------------------------------------------------
// Internal files

void TVEXDiskTableData::CreateInternalFiles() VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDiskPageManager& pages = DiskPages();
  FTableLocksFile = std::make_unique<TVEXTableLocksFile>(&pages);
  FTableMetadataFile = std::make_unique<TVEXInternalDBTransactedAccessFile>(&pages, ptTableMetaData);
  FTableMostUpdatedFile =
      std::make_unique<TVEXInternalDBTransactedAccessFile>(&pages, ptTableMostUpdated);
  FTableLocksFile->CreateFile(Database().MaxSessionCount());
  FTableMetadataFile->CreateFile(kSystemSessionID);
  FTableMostUpdatedFile->CreateFile(kSystemSessionID);
}

void TVEXDiskTableData::OpenInternalFiles(int32_t MetadataFilePageNo, int32_t MostUpdatedFilePageNo,
                                          int32_t LocksFilePageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXDiskPageManager& pages = DiskPages();
  FTableLocksFile = std::make_unique<TVEXTableLocksFile>(&pages);
  FTableMetadataFile = std::make_unique<TVEXInternalDBTransactedAccessFile>(&pages, ptTableMetaData);
  FTableMostUpdatedFile =
      std::make_unique<TVEXInternalDBTransactedAccessFile>(&pages, ptTableMostUpdated);
  FTableLocksFile->OpenFile(LocksFilePageNo);
  FTableMetadataFile->OpenFile(MetadataFilePageNo);
  FTableMostUpdatedFile->OpenFile(MostUpdatedFilePageNo);
}

void TVEXDiskTableData::DeleteInternalFiles() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FTableLocksFile && FTableLocksFile->IsOpened()) FTableLocksFile->DeleteFile();
  if (FTableMetadataFile) FTableMetadataFile->DeleteFile(kSystemSessionID);
  if (FTableMostUpdatedFile) FTableMostUpdatedFile->DeleteFile(kSystemSessionID);
}

void TVEXDiskTableData::FreeInternalFiles() noexcept {
  if (FTableLocksFile) FTableLocksFile->CloseFile();
  FTableLocksFile.reset();
  FTableMetadataFile.reset();
  FTableMostUpdatedFile.reset();
}

// ---------------------------------------------------------------------------
// Metadata and most-updated data

void TVEXDiskTableData::SaveMetadata(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXMemoryStream stream;
  FFieldManager->SaveMetadata(stream);
  FIndexManager->SaveMetadata(stream);
  FConstraintManager->SaveMetadata(stream);
  DiskRecordManager()->SaveMetadata(stream);
  FBlobManager->SaveMetadata(stream);
  FTableMetadataFile->WriteFile(SessionID, stream.Buffer(), static_cast<int32_t>(stream.GetSize()),
                                acaZLIB, 1);
}

void TVEXDiskTableData::LoadMetadata(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  int32_t size = 0;
  int32_t contentSize = 0;
  TVEXCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  FTableMetadataFile->GetFileSize(SessionID, size, contentSize, algorithm, changed, true);
  TVEXMemBlock buffer = TVEXMemBlock::GetMem(std::max(contentSize, 1));
  FTableMetadataFile->ReadFile(SessionID, buffer.Get(), contentSize, true);
  TVEXMemoryStream stream(nullptr, 0);
  stream.Write(buffer.Get(), contentSize);
  stream.Seek(0, rtl::soFromBeginning);
  FFieldManager->LoadMetadata(stream);
  FIndexManager->LoadMetadata(stream);
  FConstraintManager->LoadMetadata(stream);
  DiskRecordManager()->LoadMetadata(stream);
  FBlobManager->LoadMetadata(stream);
}

void TVEXDiskTableData::SaveMostUpdated(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t size = 32 * FFieldManager->FieldDefs().Count() + 32;
  TVEXMemBlock buffer = TVEXMemBlock::AllocMem(size);
  const std::span<uint8_t> bytes(buffer.As<uint8_t>(), static_cast<size_t>(size));
  int32_t offset = 0;
  FFieldManager->SaveMostUpdated(bytes, offset);
  DiskRecordManager()->SaveMostUpdated(bytes, offset);
  FTableMostUpdatedFile->WriteFile(SessionID, buffer.Get(), offset, acaNone, 0);
  FLastUsedTableState = FRecordManager->TableState();
}

void TVEXDiskTableData::LoadMostUpdated(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!FTableMostUpdatedFile) throw EVEXException(20176, "Pointer is nil");
  TVEXDiskTablePagesCacheManager& cache = DiskPages().TablePagesCacheManager();
  const bool synchronize = !cache.GetIsMostUpdatedLoaded(SessionID, FTableID);
  int32_t size = 0;
  int32_t contentSize = 0;
  TVEXCompressionAlgorithm algorithm = acaNone;
  bool changed = false;
  FTableMostUpdatedFile->GetFileSize(SessionID, size, contentSize, algorithm, changed, synchronize);
  TVEXMemBlock buffer = TVEXMemBlock::GetMem(std::max(contentSize, 1));
  FTableMostUpdatedFile->ReadFile(SessionID, buffer.Get(), contentSize, changed);
  const std::span<const uint8_t> bytes(buffer.As<uint8_t>(), static_cast<size_t>(contentSize));
  int32_t offset = 0;
  FFieldManager->LoadMostUpdated(bytes, offset);
  DiskRecordManager()->LoadMostUpdated(bytes, offset);
  FLastUsedTableState = FRecordManager->TableState();
  cache.SetIsMostUpdatedLoaded(SessionID, FTableID, FLastUsedTableState);
}

void TVEXDiskTableData::InitMostUpdated(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FTableMostUpdatedFile->InitFileHeader(SessionID);
}

// ---------------------------------------------------------------------------
// Change sets

void TVEXDiskTableData::ApplyChanges(int32_t SessionID, bool InTransaction) {
  TVEXTableData::ApplyChanges(SessionID, InTransaction);
  if (FTemporaryPageManager) {
    TVEXLockGuard pages(FTemporaryPageManager->DatabaseLock());
    FTemporaryPageManager->ApplyChanges(SessionID);
  }
}

void TVEXDiskTableData::CancelChanges(int32_t SessionID, bool InTransaction) {
  TVEXTableData::CancelChanges(SessionID, InTransaction);
  if (FTemporaryPageManager) {
    TVEXLockGuard pages(FTemporaryPageManager->DatabaseLock());
    FTemporaryPageManager->CancelChanges(SessionID);
  }
  // The counters in memory ran ahead with the dropped pages; the file has
  // the values that stand.
  if (!InTransaction && FTableMostUpdatedFile && FRecordManager) LoadMostUpdated(SessionID);
}

void TVEXDiskTableData::Rollback(int32_t SessionID) {
  if (FTableMostUpdatedFile && FRecordManager) LoadMostUpdated(SessionID);
  if (FTemporaryPageManager) {
    TVEXLockGuard pages(FTemporaryPageManager->DatabaseLock());
    FTemporaryPageManager->CancelChanges(SessionID);
  }
  TVEXTableData::Rollback(SessionID);
  if (FTemporaryPageManager) {
    TVEXLockGuard pages(FTemporaryPageManager->DatabaseLock());
    FTemporaryPageManager->ApplyChanges(SessionID);
  }
}

// ---------------------------------------------------------------------------
// Table DDL

void TVEXDiskTableData::CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs,
                                    TVEXIndexDefs& IndexDefs, TVEXConstraintDefs& ConstraintDefs)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FieldDefs.Count() == 0)
    throw EVEXException(20128, "Error creating table - no fields were specified");
  if (Cursor != nullptr) {
    SetTableName(Cursor->TableName());
    SetDisableTempFiles(Cursor->DisableTempFiles());
  }
  TVEXDiskPageManager& pages = DiskPages();
  FTableID = Database().GetNewObjectId();
  Database().LockTables();
  ScopeExit unlockTables([this]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { Database().UnlockTables(); });
  });
  // The file keeps no part of a table that failed (design note 1).
  ScopeFailure dropChanges([this, &pages]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([&pages]() VEX_NO_THREAD_SAFETY_ANALYSIS { pages.CancelChanges(kSystemSessionID); });
    FreeManagers();
  });
  CreateInternalFiles();
  {
    ScopeExit freeFiles([this] { FreeInternalFiles(); });
    CreateFieldManager(FieldDefs);
    CreateIndexManager(IndexDefs);
    CreateConstraintManager(ConstraintDefs);
    CreateRecordManager();
    CreateBlobManager();
    SaveMostUpdated(kSystemSessionID);
    DiskRecordManager()->CreateRecordPageIndex();
    if (FFieldManager->BlobFieldsPresent()) FBlobManager->CreateBlobPageIndex();
    FIndexManager->CreateIndexesByIndexDefs(nullptr);
    SaveMetadata(kSystemSessionID);
    Database().AddTableToList(FTableID, TableName(), FTableMetadataFile->StartPageNo(),
                              FTableMostUpdatedFile->StartPageNo(),
                              FTableLocksFile->StartPageNo());
  }
  pages.ApplyChanges(kSystemSessionID);
}

void TVEXDiskTableData::OpenTable(TVEXCursor& Cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t session = Cursor.GetSessionID();
  const bool holdTables = !FIsChangingTableList;
  if (holdTables) Database().LockTables();
  ScopeExit unlockTables([this, holdTables]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (holdTables) Quietly([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { Database().UnlockTables(); });
  });
  if (!CursorList().empty() && Cursor.Exclusive() && !FExclusive)
    throw EVEXException(
        20242, "Cannot access table '%s' in exclusive mode. Table is open by another cursors",
        TableName());
  if (CursorList().empty()) {
    SetDisableTempFiles(Cursor.DisableTempFiles());
    int32_t metadataPageNo = -1;
    int32_t mostUpdatedPageNo = -1;
    int32_t locksPageNo = -1;
    Database().FindTableInList(TableName(), FTableID, metadataPageNo, mostUpdatedPageNo,
                               locksPageNo);
    ScopeFailure undo([this] {
      FreeManagers();
      FreeInternalFiles();
    });
    OpenInternalFiles(metadataPageNo, mostUpdatedPageNo, locksPageNo);
    FFieldManager = std::make_unique<TVEXBaseFieldManager>(this);
    FIndexManager = NewIndexManager();
    FConstraintManager = std::make_unique<TVEXBaseConstraintManager>(*this);
    FRecordManager =
        std::make_unique<TVEXDiskRecordManager>(&DiskPages(), FFieldManager.get(), FTableID);
    CreateBlobManager();
    LoadMetadata(session);
    DiskRecordManager()->Init(GetRecordBufferSize(), GetDiskRecordBufferSize(),
                              FFieldManager->FieldDefs().Count());
    if (IsRepairing()) {
      OpenForRepair(Cursor);
    } else {
      LoadMostUpdated(session);
    }
    FExclusive = Cursor.Exclusive();
    FFinished = false;
  }
  TVEXTableData::OpenTable(Cursor);
  if (Cursor.Exclusive()) {
    if (!LockTable(session, ltX, kOpenTableLockTries, kOpenTableLockDelayMS, true))
      throw EVEXException(
          20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
          TableName());
  } else if (!LockTable(session, ltIS, kOpenTableLockTries, kOpenTableLockDelayMS, true)) {
    throw EVEXException(20209, "Cannot open table '%s'. Table is locked", TableName());
  }
  Cursor.SetTableLockedByCursor(true);
}

void TVEXDiskTableData::CloseTable(TVEXCursor& Cursor) {
  const bool listed =
      std::find(CursorList().begin(), CursorList().end(), &Cursor) != CursorList().end();
  if (listed && FTableLocksFile && FTableLocksFile->IsOpened() && Cursor.TableLockedByCursor()) {
    UnlockTable(Cursor.GetSessionID(), Cursor.Exclusive() ? ltX : ltIS, false);
    Cursor.SetTableLockedByCursor(false);
  }
  TVEXTableData::CloseTable(Cursor);
  if (CursorList().empty()) {
    FreeManagers();
    FreeInternalFiles();
    FFinished = true;
  }
}

bool TVEXDiskTableData::FreeIfNoCursorsConnected() {
  if (!CursorList().empty()) return false;
  DatabaseData()->FreeTableData(this);
  return true;
}

void TVEXDiskTableData::DeleteTable(TVEXCursor* Cursor, bool DesignMode)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (Cursor == nullptr) RaiseNilPointer(20137);
  TVEXTableData::DeleteTable(Cursor, DesignMode);
  TVEXDiskPageManager& pages = DiskPages();
  Database().LockTables();
  ScopeExit unlockTables([this]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { Database().UnlockTables(); });
  });
  FIsChangingTableList = true;
  ScopeExit notChanging([this] { FIsChangingTableList = false; });
  TVEXExclusiveScope exclusive(*Cursor);
  {
    // Not held exclusively, the table is not ours to delete (design note 6):
    // it stays in the list, whole.
    ScopeFailure undoOpen([this, Cursor, &pages]() VEX_NO_THREAD_SAFETY_ANALYSIS {
      Quietly([this, Cursor]() VEX_NO_THREAD_SAFETY_ANALYSIS { CloseTable(*Cursor); });
      Quietly([&pages]() VEX_NO_THREAD_SAFETY_ANALYSIS { pages.CancelChanges(kSystemSessionID); });
    });
    OpenTable(*Cursor);
  }
  std::exception_ptr failure;
  try {
    DeleteAllIndexes(nullptr);
    FBlobManager->Delete(kSystemSessionID);
    DiskRecordManager()->Delete(kSystemSessionID);
    if (Cursor->TableLockedByCursor()) {
      UnlockTable(Cursor->GetSessionID(), ltX, false);
      Cursor->SetTableLockedByCursor(false);
    }
    DeleteInternalFiles();
    FreeInternalFiles();
  } catch (...) {
    failure = std::current_exception();
  }
  // What was done stands, and the table leaves the list in any case: half its
  // pages may be gone already.
  CloseTable(*Cursor);
  Database().RemoveTableFromList(TableName());
  pages.ApplyChanges(kSystemSessionID);
  if (failure) std::rethrow_exception(failure);
}

void TVEXDiskTableData::EmptyTable(TVEXCursor* Cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (Cursor == nullptr) RaiseNilPointer(20137);
  TVEXExclusiveScope exclusive(*Cursor);
  ScopeExit close([this, Cursor]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this, Cursor]() VEX_NO_THREAD_SAFETY_ANALYSIS { CloseTable(*Cursor); });
  });
  OpenTable(*Cursor);
  const int32_t session = Cursor->GetSessionID();
  const bool inTransaction = Cursor->InTransaction();
  // Inside a transaction the emptied pages reach the file only at the
  // commit; until then no other connection may write the table, or the
  // commit would write over its records (design note 5). Under ltX this is
  // logical and takes its byte when ltX goes.
  if (MultiUser() && inTransaction &&
      !LockTable(session, ltXIRW, kOpenTableLockTries, kOpenTableLockDelayMS, true))
    throw EVEXException(
        20208, "Cannot access table '%s' in exclusive mode. Table is open by another user",
        TableName());
  TVEXTableData::EmptyTable(Cursor);
  FBlobManager->Empty(session);
  FRecordManager->Empty(session);
  SaveMostUpdated(session);
  ApplyChanges(session, inTransaction);
}

void TVEXDiskTableData::RenameTable(std::string_view NewTableName, TVEXCursor* Cursor)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (Cursor == nullptr) RaiseNilPointer(20137);
  TVEXDiskPageManager& pages = DiskPages();
  Database().LockTables();
  ScopeExit unlockTables([this]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this]() VEX_NO_THREAD_SAFETY_ANALYSIS { Database().UnlockTables(); });
  });
  TVEXExclusiveScope exclusive(*Cursor);
  FIsChangingTableList = true;
  ScopeExit notChanging([this] { FIsChangingTableList = false; });
  {
    // Open and closed again only to prove nobody else has the table open.
    ScopeExit close([this, Cursor]() VEX_NO_THREAD_SAFETY_ANALYSIS {
      Quietly([this, Cursor]() VEX_NO_THREAD_SAFETY_ANALYSIS { CloseTable(*Cursor); });
    });
    OpenTable(*Cursor);
  }
  Database().RenameTableInList(TableName(), std::string(NewTableName));
  pages.ApplyChanges(kSystemSessionID);
}

void TVEXDiskTableData::RenameField(std::string_view FieldName, std::string_view NewFieldName)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXTableData::RenameField(FieldName, NewFieldName);
  SaveMetadata(kSystemSessionID);
  DiskPages().ApplyChanges(kSystemSessionID);
}

void TVEXDiskTableData::AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) {
  TVEXTableData::AddIndex(IndexDef, Cursor);
  SaveMetadata(Cursor.GetSessionID());
  ApplyChanges(Cursor.GetSessionID(), Cursor.InTransaction());
}

void TVEXDiskTableData::DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) {
  const auto* def =
      static_cast<const TVEXIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(IndexID));
  const bool temporary = def != nullptr && def->Temporary;
  TVEXTableData::DeleteIndex(IndexID, Cursor);
  if (Cursor == nullptr) return;
  if (!temporary) SaveMetadata(Cursor->GetSessionID());
  ApplyChanges(Cursor->GetSessionID(), Cursor->InTransaction());
}

// ---------------------------------------------------------------------------
// Repair

void TVEXDiskTableData::OpenForRepair(TVEXCursor& Cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t session = Cursor.GetSessionID();
  try {
    LoadMostUpdated(session);
    DiskRecordManager()->ValidateRecordPageIndex(session);
    return;
  } catch (const std::exception&) {
    // Mended below.
  }
  RebuildRecordPageIndex(session);
  SaveMetadata(session);
  InitMostUpdated(session);
  SaveMostUpdated(session);
  ApplyChanges(session, false);
}

void TVEXDiskTableData::RebuildRecordPageIndex(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (GetDiskRecordBufferSize() >= DiskPages().PageDataSize())
    throw EVEXException(10512, "Cannot repair page index for large table. Table name: \"%s\"",
                        TableName());
  DiskRecordManager()->RebuildRecordPageIndex(SessionID);
}

// ---------------------------------------------------------------------------
// Locks

bool TVEXDiskTableData::LockTable(int32_t SessionID, TVEXLockType LockType, int32_t TryCount,
                                  int32_t Delay, bool AllowXIRWAfterSIRW)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) return true;
  TVEXDatabaseTableLockManager* locks = Database().TableLockManager();
  if (locks == nullptr || !FTableLocksFile) throw EVEXException(20129, "Pointer is nil");
  if (!locks->LockTable(SessionID, LockType, *FTableLocksFile, TryCount, Delay, false,
                        AllowXIRWAfterSIRW))
    return false;
  TVEXDiskTablePagesCacheManager& cache = DiskPages().TablePagesCacheManager();
  if (LockType == ltS) cache.TableIsSLocked(SessionID, FTableID);
  if (LockType == ltRW) cache.TableIsRWLocked(SessionID, FTableID);
  return true;
}

bool TVEXDiskTableData::UnlockTable(int32_t SessionID, TVEXLockType LockType, bool IgnoreIfNoLock)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) return true;
  TVEXDatabaseTableLockManager* locks = Database().TableLockManager();
  if (locks == nullptr || !FTableLocksFile) throw EVEXException(20129, "Pointer is nil");
  if (!locks->UnlockTable(SessionID, LockType, *FTableLocksFile, IgnoreIfNoLock, false))
    return false;
  TVEXDiskTablePagesCacheManager& cache = DiskPages().TablePagesCacheManager();
  if (LockType == ltS) cache.TableIsSUnlocked(SessionID, FTableID);
  if (LockType == ltRW) cache.TableIsRWUnlocked(SessionID, FTableID);
  return true;
}

bool TVEXDiskTableData::LockRecord(int32_t SessionID, TVEXPageItemID RecordID, int32_t TryCount,
                                   int32_t Delay) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) return true;
  if (!FTableLocksFile) throw EVEXException(20129, "Pointer is nil");
  return Database().TableLockManager()->LockRecord(SessionID, *FTableLocksFile, RecordID, TryCount,
                                                   Delay);
}

bool TVEXDiskTableData::UnlockRecord(int32_t SessionID, TVEXPageItemID RecordID)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) return true;
  if (!FTableLocksFile) throw EVEXException(20129, "Pointer is nil");
  return Database().TableLockManager()->UnlockRecord(SessionID, *FTableLocksFile, RecordID);
}

bool TVEXDiskTableData::IsRecordLocked(int32_t SessionID, TVEXPageItemID RecordID)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) return false;
  if (!FTableLocksFile) throw EVEXException(20129, "Pointer is nil");
  return Database().TableLockManager()->IsRecordLocked(SessionID, *FTableLocksFile, RecordID);
}

// ---------------------------------------------------------------------------
// The read frame

void TVEXDiskTableData::SynchronizeTemporaryIndexes(TVEXCursor& Cursor) {
  bool changed = false;
  FIndexManager->SynchronizeTemporaryIndexes(Cursor, changed);
  if (changed && FTemporaryPageManager) {
    TVEXLockGuard pages(FTemporaryPageManager->DatabaseLock());
    FTemporaryPageManager->ApplyChanges(Cursor.GetSessionID());
  }
}

template <class Work>
bool TVEXDiskTableData::ReadFrame(TVEXCursor& Cursor, int32_t LockedCode,
                                  bool SyncTemporaryIndexes, Work work)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) {
    work();
    return true;
  }
  TVEXLockGuard lock(DatabaseLock());
  const int32_t session = Cursor.GetSessionID();
  if (!LockTable(session, ltS, kReadLockTries, kReadLockDelayMS, true)) {
    if (LockedCode == 0) return false;
    throw EVEXException(LockedCode, sTableIsLocked);
  }
  ScopeExit unlock([this, session]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this, session]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockTable(session, ltS, false); });
  });
  LoadMostUpdated(session);
  TVEXDiskTablePagesCacheManager& cache = DiskPages().TablePagesCacheManager();
  cache.BeginWorkWithTable(session, FTableID);
  ScopeExit endWork([&cache, session, this] { cache.EndWorkWithTable(session, FTableID); });
  if (SyncTemporaryIndexes) SynchronizeTemporaryIndexes(Cursor);
  work();
  return true;
}

TVEXGetRecordResult TVEXDiskTableData::GetRecordBuffer(TVEXCursor& Cursor,
                                                       TVEXGetRecordMode GetRecordMode) {
  TVEXGetRecordResult result = grrError;
  if (!ReadFrame(Cursor, 0, true, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
        result = TVEXTableData::GetRecordBuffer(Cursor, GetRecordMode);
      }))
    return grrError;
  return result;
}

bool TVEXDiskTableData::Locate(TVEXCursor& Cursor, TVEXBaseExpression* SearchExpression) {
  TVEXLockGuard lock(DatabaseLock());
  bool found = false;
  ReadFrame(Cursor, 20214, true, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    found = TVEXTableData::Locate(Cursor, SearchExpression);
  });
  return found;
}

bool TVEXDiskTableData::FindKey(TVEXCursor& Cursor, TVEXSearchCondition SearchCondition) {
  TVEXLockGuard lock(DatabaseLock());
  bool found = false;
  ReadFrame(Cursor, 20215, true, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    found = TVEXTableData::FindKey(Cursor, SearchCondition);
  });
  return found;
}

void TVEXDiskTableData::SetRecNo(TVEXCursor& Cursor, int64_t RecNo) {
  TVEXLockGuard lock(DatabaseLock());
  ReadFrame(Cursor, 20216, true, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXTableData::SetRecNo(Cursor, RecNo);
  });
}

int64_t TVEXDiskTableData::GetRecNo(TVEXCursor& Cursor) {
  TVEXLockGuard lock(DatabaseLock());
  int64_t recNo = -1;
  ReadFrame(Cursor, 20217, true, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    recNo = TVEXTableData::GetRecNo(Cursor);
  });
  return recNo;
}

void TVEXDiskTableData::InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) {
  ReadFrame(Cursor, 20219, false, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    DiskRecordManager()->SetRecNo(Cursor.GetSessionID(), RecNo, Cursor.CurrentRecordID);
  });
}

int64_t TVEXDiskTableData::InternalGetRecNo(TVEXCursor& Cursor) {
  int64_t recNo = 0;
  ReadFrame(Cursor, 20220, false, [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    DiskRecordManager()->GetRecNo(Cursor.GetSessionID(), Cursor.CurrentRecordID, recNo);
  });
  return recNo;
}

int64_t TVEXDiskTableData::InternalGetRecordCount(TVEXCursor& Cursor)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!MultiUser()) return FRecordManager->RecordCount();
  const int32_t session = Cursor.GetSessionID();
  if (!LockTable(session, ltS, kReadLockTries, kReadLockDelayMS, true))
    throw EVEXException(20218, sTableIsLocked);
  ScopeExit unlock([this, session]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([this, session]() VEX_NO_THREAD_SAFETY_ANALYSIS { UnlockTable(session, ltS, false); });
  });
  LoadMostUpdated(session);
  return FRecordManager->RecordCount();
}

int64_t TVEXDiskTableData::LastAutoincValue(int32_t FieldNo, TVEXBaseSession& Session) {
  return FFieldManager ? FFieldManager->GetLastAutoinc(Session, FieldNo) : 0;
}

int64_t TVEXDiskTableData::GetBitmapRecordCount(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  int32_t lastPage = -1;
  if (!DiskRecordManager()->RecordPageIndex().GetLastRecordPage(SessionID, lastPage)) return 1;
  return (static_cast<int64_t>(lastPage) + 1) * DiskRecordManager()->MaxRecordsOnPage();
}

int64_t TVEXDiskTableData::GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) {
  return static_cast<int64_t>(RecordID.PageNo) * DiskRecordManager()->MaxRecordsOnPage() +
         RecordID.PageItemNo;
}

TVEXPageItemID TVEXDiskTableData::GetRecordIDByBitmapRecNo(int64_t RecNo) {
  const int64_t perPage = DiskRecordManager()->MaxRecordsOnPage();
  return {static_cast<int32_t>(RecNo / perPage), static_cast<uint16_t>(RecNo % perPage)};
}

// ---------------------------------------------------------------------------
// Records

void TVEXDiskTableData::KeepRecordInView(TVEXCursor& Cursor, TVEXPageItemID RecordID) {
  TVEXRecordBitmap* bitmap = Cursor.RecordBitmap.get();
  if (bitmap == nullptr || !bitmap->Active()) return;
  if (IsRecordInView(Cursor)) {
    bitmap->ShowRecord(RecordID);
  } else {
    bitmap->HideRecord(RecordID);
  }
}

bool TVEXDiskTableData::InsertRecord(TVEXCursor& Cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!FRecordManager) RaiseNilPointer(20135);
  uint8_t* record = Cursor.CurrentRecordBuffer();
  if (record == nullptr) RaiseNilPointer(20136);
  const int32_t session = Cursor.GetSessionID();
  if (MultiUser()) {
    // The counters in memory date from this connection's last read; other
    // connections may have committed since. Counted on from there, the
    // record count and table state saved below would drop their records.
    // The load also brings back the autoincrement counters as committed,
    // before this record took its values from them: raised to the record's
    // values again, the next insert does not hand the same values out twice.
    LoadMostUpdated(session);
    FFieldManager->KeepAutoincsOfRecordBuffer(record);
    SynchronizeTemporaryIndexes(Cursor);
  }
  FBlobManager->WriteBlobs(session, record);
  const bool added = FRecordManager->AddRecord(session, record, Cursor.CurrentRecordID);
  if (added) {
    KeepRecordInView(Cursor, Cursor.CurrentRecordID);
    FIndexManager->InsertRecord(Cursor);
    Cursor.FirstPosition = false;
    Cursor.LastPosition = false;
    SaveMostUpdated(session);
    if (!Cursor.InBatchUpdate()) ApplyChanges(session, Cursor.InTransaction());
  }
  return added;
}

bool TVEXDiskTableData::UpdateRecord(TVEXCursor& Cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!FRecordManager) RaiseNilPointer(20138);
  uint8_t* record = Cursor.CurrentRecordBuffer();
  if (record == nullptr) RaiseNilPointer(20139);
  const int32_t session = Cursor.GetSessionID();
  if (MultiUser()) {
    LoadMostUpdated(session);
    SynchronizeTemporaryIndexes(Cursor);
  }
  FIndexManager->UpdateRecord(Cursor, true);
  FBlobManager->WriteBlobs(session, record);
  const bool updated = FRecordManager->UpdateRecord(session, record, Cursor.CurrentRecordID);
  FIndexManager->UpdateRecord(Cursor, false);
  if (updated) {
    KeepRecordInView(Cursor, Cursor.CurrentRecordID);
    SaveMostUpdated(session);
    if (!Cursor.InBatchUpdate()) ApplyChanges(session, Cursor.InTransaction());
  }
  return updated;
}

bool TVEXDiskTableData::DeleteRecord(TVEXCursor& Cursor) VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!FRecordManager) RaiseNilPointer(20137);
  const int32_t session = Cursor.GetSessionID();
  if (MultiUser()) {
    LoadMostUpdated(session);
    SynchronizeTemporaryIndexes(Cursor);
  }
  TVEXPageItemID target = Cursor.CurrentRecordID;

  // Where the cursor goes afterwards: the next record, else the prior one.
  bool neighbourFound = false;
  TVEXPageItemID neighbour{-1, 0};
  {
    TVEXMemBlock scratch =
        TVEXMemBlock::AllocMem(std::max({Cursor.RecordSize(), Cursor.RecordBufferSize(), 1}));
    TVEXMemBlock position = Cursor.SavePosition();
    uint8_t* ownBuffer = Cursor.CurrentRecordBuffer();
    Cursor.SetCurrentRecordBuffer(scratch.As<uint8_t>());
    ScopeExit restore([&] {
      Cursor.RestorePosition(position);
      Cursor.SetCurrentRecordBuffer(ownBuffer);
    });
    Cursor.FirstPosition = false;
    Cursor.LastPosition = false;
    if (TVEXTableData::GetRecordBuffer(Cursor, grmNext) == grrOK) {
      neighbourFound = true;
    } else {
      Cursor.RestorePosition(position);
      Cursor.FirstPosition = false;
      Cursor.LastPosition = false;
      neighbourFound = TVEXTableData::GetRecordBuffer(Cursor, grmPrior) == grrOK;
    }
    if (neighbourFound) neighbour = Cursor.CurrentRecordID;
  }

  // The record as stored now: its BLOB ids and keys are what must go. A
  // record another connection removed meanwhile is not deleted twice.
  uint8_t* record = Cursor.CurrentRecordBuffer();
  if (record != nullptr) {
    TVEXNavigationInfo current;
    current.GetRecordMode = grmCurrent;
    current.RecordID = target;
    current.RecordBuffer = record;
    FRecordManager->GetRecordBuffer(session, current);
    if (current.GetRecordResult != grrOK) return false;
    ClearBLOBFieldsInRecordBuffer(record);
    FBlobManager->DeleteBlobs(session, record);
  }
  FIndexManager->DeleteRecord(Cursor);
  const int32_t stateBefore = FRecordManager->TableState();
  const bool deleted = FRecordManager->DeleteRecord(session, target);
  if (deleted) {
    SaveMostUpdated(session);
    if (!Cursor.InBatchUpdate()) ApplyChanges(session, Cursor.InTransaction());
    // The view loses the record; a bitmap that was current stays current.
    if (TVEXRecordBitmap* bitmap = Cursor.RecordBitmap.get(); bitmap != nullptr && bitmap->Active()) {
      bitmap->HideRecord(target);
      if (bitmap->TableState() == stateBefore && !Cursor.IsDistinctApplied())
        bitmap->SetTableState(FRecordManager->TableState());
    }
    if (neighbourFound) {
      Cursor.FirstPosition = false;
      Cursor.LastPosition = false;
      Cursor.CurrentRecordID = neighbour;
    } else {
      Cursor.FirstPosition = true;
      Cursor.LastPosition = false;
    }
  }
  return deleted;
}

// ---------------------------------------------------------------------------
// BLOBs

void TVEXDiskTableData::ClearBlobsCacheInRecordBuffer(uint8_t* Buffer) {
  ClearBLOBFieldsInRecordBuffer(Buffer);
}

void TVEXDiskTableData::WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                                     TVEXStream& BLOBStream) {
  auto* compressed = dynamic_cast<TVEXCompressedBLOBStream*>(&BLOBStream);
  // A stream the BLOB stream factory took over is reached through its access;
  // its users mark the outer stream modified.
  auto* access = dynamic_cast<TVEXBLOBStreamAccess*>(&BLOBStream);
  if (compressed == nullptr && access != nullptr) {
    compressed = dynamic_cast<TVEXCompressedBLOBStream*>(&access->TemporaryStream());
    if (compressed != nullptr && BLOBStream.Modified()) compressed->SetModified(true);
  }
  if (compressed == nullptr) throw EVEXException(20149, "Stream is not a BLOB stream");
  FBlobManager->CopyBlobFromStreamToRecordBuffer(Cursor.CurrentRecordBuffer(), FieldNo,
                                                 *compressed);
}

void TVEXDiskTableData::ClearBLOBFieldInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo) {
  if (FBlobManager) FBlobManager->ClearBlobInRecordBuffer(RecordBuffer, FieldNo, false);
}

void TVEXDiskTableData::ClearModifiedBLOBFieldsInRecordBuffer(uint8_t* RecordBuffer) {
  TVEXLockGuard lock(DatabaseLock());
  if (!FFieldManager || !FBlobManager || !FFieldManager->BlobFieldsPresent()) return;
  const TVEXFieldDefs& fields = FFieldManager->FieldDefs();
  for (int32_t i = 0; i < fields.Count(); ++i) {
    if (IsBLOBBaseFieldType(fields.GetDef(i)->BaseFieldType))
      FBlobManager->ClearBlobInRecordBuffer(RecordBuffer, i, true);
  }
}

std::unique_ptr<TVEXStream> TVEXDiskTableData::InternalCreateBlobStream(TVEXCursor& Cursor,
                                                                        bool /*ToInsert*/,
                                                                        int32_t FieldNo,
                                                                        TVEXBLOBOpenMode OpenMode)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  const TVEXFieldDef* field = FFieldManager->FieldDefs().GetDef(FieldNo);
  TVEXBLOBDescriptor descriptor{};
  descriptor.CompressionAlgorithm = field->BLOBCompressionAlgorithm;
  descriptor.CompressionMode = field->BLOBCompressionMode;
  descriptor.BlockSize = field->BLOBBlockSize;
  if (descriptor.BlockSize == 0)
    throw EVEXException(20149, "Stream block size = 0 is not allowed");
  descriptor.StartPosition = 0;
  auto carrier = std::make_unique<TVEXTemporaryStream>(DisableTempFiles());
  uint8_t* record = Cursor.CurrentRecordBuffer();
  std::unique_ptr<TVEXStream> blob;
  if (OpenMode == bomWrite || record == nullptr || IsNullInRecord(record, FieldNo)) {
    descriptor.NumBlocks = 0;
    descriptor.UncompressedSize = 0;
    blob = std::make_unique<TVEXOwningBLOBStream>(std::move(carrier), descriptor, true);
  } else {
    ScopeFailure dropCache([this, record, FieldNo] {
      FBlobManager->ClearBlobInRecordBuffer(record, FieldNo, true);
    });
    FBlobManager->CopyBlobFromRecordBufferToStream(Cursor.GetSessionID(), record, FieldNo,
                                                   descriptor, *carrier);
    carrier->Seek(0, rtl::soFromBeginning);
    if (descriptor.UncompressedSize < 0)
      throw EVEXException(20248, "Invalid blob field size");
    blob = std::make_unique<TVEXOwningBLOBStream>(std::move(carrier), descriptor, false);
  }
  if (TVEXBLOBStreamFactory* factory = BLOBStreamFactory())
    return factory->CreateBLOBStream(std::move(blob), Cursor, OpenMode, FieldNo);
  return blob;
}

void TVEXDiskTableData::GetDirectBlobData(TVEXCursor& Cursor, int32_t FieldNo,
                                          uint8_t* RecordBuffer,
                                          TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                          uint8_t*& pBlobData) VEX_NO_THREAD_SAFETY_ANALYSIS {
  TVEXBLOBDescriptor descriptor{};
  const uint8_t* data = nullptr;
  int64_t compressedSize = 0;
  FBlobManager->GetDirectBlobInfoFromRecordBuffer(Cursor.GetSessionID(), RecordBuffer, FieldNo,
                                                  descriptor, data, compressedSize);
  BLOBDescriptor.NumBlocks = static_cast<int32_t>(descriptor.NumBlocks);
  BLOBDescriptor.UncompressedSize = descriptor.UncompressedSize;
  BLOBDescriptor.CompressedSize = compressedSize;
  pBlobData = const_cast<uint8_t*>(data);
}

void TVEXDiskTableData::SetDirectBlobData(TVEXCursor& /*Cursor*/, int32_t FieldNo,
                                          uint8_t* RecordBuffer,
                                          TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                          uint8_t*& pBlobData) {
  TVEXBLOBDescriptor descriptor{};
  descriptor.NumBlocks = BLOBDescriptor.NumBlocks;
  descriptor.UncompressedSize = BLOBDescriptor.UncompressedSize;
  FBlobManager->SetDirectBlobInfoFromRecordBuffer(RecordBuffer, FieldNo, descriptor, pBlobData,
                                                  BLOBDescriptor.CompressedSize);
}

void TVEXDiskTableData::FreeDirectBlobData(TVEXCursor& /*Cursor*/, int32_t FieldNo,
                                           uint8_t* RecordBuffer,
                                           TVEXPartialTemporaryBLOBDescriptor& /*BLOBDescriptor*/,
                                           uint8_t*& pBlobData) {
  FBlobManager->ClearBlobInRecordBuffer(RecordBuffer, FieldNo, false);
  pBlobData = nullptr;
}

}  // namespace vex
