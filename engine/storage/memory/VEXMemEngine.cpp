#include "storage/memory/VEXMemEngine.h"

#include <algorithm>
#include <cstring>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXSeams.h"
#include "storage/memory/VEXMemEngineSupport.h"

namespace vex {

namespace {

// The record scanner the layer above installs, as the B-tree index asks for
// one.
class TSeamIndexRecordScan : public TVEXIndexRecordScan {
 public:
  explicit TSeamIndexRecordScan(std::unique_ptr<TVEXRecordScan> Scan) : FScan(std::move(Scan)) {}
  bool Next() override { return FScan->Next(); }
  TVEXManagerCursor& Cursor() override { return FScan->Cursor(); }

 private:
  std::unique_ptr<TVEXRecordScan> FScan;
};

// A table without records has nothing to scan.
class TEmptyIndexRecordScan : public TVEXIndexRecordScan {
 public:
  explicit TEmptyIndexRecordScan(TVEXManagerCursor& Cursor) : FCursor(Cursor) {}
  bool Next() override { return false; }
  TVEXManagerCursor& Cursor() override { return FCursor; }

 private:
  TVEXManagerCursor& FCursor;
};

}  // namespace

std::unique_ptr<TVEXIndexRecordScan> TVEXEngineRecordScanner::OpenRecordScan(
    TVEXManagerCursor& Cursor) {
  const TVEXBaseRecordManager* records = FTable.GetRecordManager();
  if (records == nullptr || records->RecordCount() == 0)
    return std::make_unique<TEmptyIndexRecordScan>(Cursor);
  TVEXRecordScanner* scanner = RecordScanner();
  if (scanner == nullptr) RaiseNilPointer(20036);
  return std::make_unique<TSeamIndexRecordScan>(scanner->OpenRecordScan(Cursor.GetCursor()));
}

TVEXIndexFactory MemoryEngineIndexFactory(TVEXEngineRecordScanner& Scanner) {
  return [&Scanner](TVEXBaseIndexManager& Manager) -> std::unique_ptr<TVEXIndex> {
    return std::make_unique<TVEXBTreeRecordIndex>(&Manager, &Scanner);
  };
}

// --- table data -------------------------------------------------------------

TVEXMemoryTableData::TVEXMemoryTableData(TVEXDatabaseData* aDatabaseData, int32_t AllocRecordsBy)
    : TVEXTableData(aDatabaseData),
      FAllocRecordsBy(AllocRecordsBy),
      FMemoryPageManager(std::make_unique<TVEXMemoryPageManager>(&aDatabaseData->DatabaseLock())) {
  SetPageManager(FMemoryPageManager.get());
  // Every stream of a memory table stays in memory.
  SetDisableTempFiles(true);
}

TVEXMemoryTableData::~TVEXMemoryTableData() {
  TVEXLockGuard lock(DatabaseLock());
  try {
    EmptyTable(nullptr);
    if (FIndexManager) DeleteAllIndexes(nullptr);
    FMemoryPageManager->ApplyChanges(kSystemSessionID);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  // The index objects reach their pages through the page manager.
  FIndexManager.reset();
  SetPageManager(nullptr);
  FMemoryPageManager.reset();
}

TVEXMemoryRecordManager& TVEXMemoryTableData::Records(int32_t ErrorCode) const {
  auto* records = MemoryRecordManager();
  if (records == nullptr) RaiseNilPointer(ErrorCode);
  return *records;
}

void TVEXMemoryTableData::CreateRecordManager() {
  FRecordManager.reset();
  FRecordManager =
      std::make_unique<TVEXMemoryRecordManager>(GetRecordBufferSize(), FAllocRecordsBy);
}

void TVEXMemoryTableData::CreateFieldManager(TVEXFieldDefs& FieldDefs) {
  FFieldManager = std::make_unique<TVEXBaseFieldManager>(this);
  TVEXTableData::CreateFieldManager(FieldDefs);
  FBlobs.SetFields(FFieldManager->FieldDefs());
}

void TVEXMemoryTableData::CreateIndexManager(TVEXIndexDefs& IndexDefs) {
  FIndexManager.reset();
  // Temporary indexes share the table's RAM pages.
  FIndexManager = std::make_unique<TVEXBaseIndexManager>(*this, FMemoryPageManager.get(),
                                                         MemoryEngineIndexFactory(FScanner));
  TVEXTableData::CreateIndexManager(IndexDefs);
}

void TVEXMemoryTableData::CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs) {
  for (int32_t i = 0; i < ConstraintDefs.Count(); ++i) {
    const TVEXConstraintType type = ConstraintDefs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EVEXException(30040, "Not implemented yet");
  }
  FConstraintManager = std::make_unique<TVEXBaseConstraintManager>(*this);
  TVEXTableData::CreateConstraintManager(ConstraintDefs);
}

void TVEXMemoryTableData::CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs,
                                      TVEXIndexDefs& IndexDefs,
                                      TVEXConstraintDefs& ConstraintDefs) {
  if (FieldDefs.Count() == 0 && !DesignMode())
    throw EVEXException(10025, "Error creating table - no fields were specified");
  if (Cursor != nullptr) SetTableName(Cursor->TableName());
  enginesupport::TChangeSet changes(*this, Cursor);
  CreateFieldManager(FieldDefs);
  CreateIndexManager(IndexDefs);
  CreateConstraintManager(ConstraintDefs);
  CreateRecordManager();
  if (Cursor != nullptr) InitCursorBuffers(*Cursor);
  FIndexManager->CreateIndexesByIndexDefs(Cursor);
  // Without a cursor the new indexes belong to the system session: committed
  // too, or their root pages would be dropped.
  changes.Commit();
}

void TVEXMemoryTableData::DeleteTable(TVEXCursor* Cursor, bool DesignMode) {
  TVEXTableData::DeleteTable(Cursor, DesignMode);
  if (DesignMode && !CursorList().empty()) return;
  // The database destroys this object: nothing may touch it afterwards.
  DatabaseData()->FreeTableData(this);
}

void TVEXMemoryTableData::EmptyTable(TVEXCursor* /*Cursor*/) {
  TVEXTableData::EmptyTable(nullptr);
  FBlobs.ReleaseStored();
  if (FRecordManager) FRecordManager->Empty(kSystemSessionID);
  TVEXLockGuard pages(FMemoryPageManager->DatabaseLock());
  FMemoryPageManager->ApplyChanges(kSystemSessionID);
}

void TVEXMemoryTableData::OpenTable(TVEXCursor& Cursor) {
  SetTableName(Cursor.TableName());
  TVEXTableData::OpenTable(Cursor);
}

void TVEXMemoryTableData::AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) {
  enginesupport::TChangeSet changes(*this, &Cursor);
  TVEXTableData::AddIndex(IndexDef, Cursor);
  changes.Commit();
}

void TVEXMemoryTableData::DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) {
  enginesupport::TChangeSet changes(*this, Cursor);
  TVEXTableData::DeleteIndex(IndexID, Cursor);
  changes.Commit();
}

int64_t TVEXMemoryTableData::GetBitmapRecordCount(int32_t /*SessionID*/) {
  return FRecordManager ? FRecordManager->RecordCount() : 0;
}

int64_t TVEXMemoryTableData::GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) {
  return int64_t{RecordID.PageNo};
}

TVEXPageItemID TVEXMemoryTableData::GetRecordIDByBitmapRecNo(int64_t RecNo) {
  return {static_cast<int32_t>(static_cast<uint32_t>(RecNo)), 0};
}

// --- BLOBs ------------------------------------------------------------------

void TVEXMemoryTableData::WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                                       TVEXStream& BLOBStream) {
  if (!BLOBStream.Modified()) return;
  uint8_t* buffer = Cursor.CurrentRecordBuffer();
  if (buffer == nullptr) RaiseNilPointer(10018);
  const uint32_t old = FBlobs.HandleOf(buffer, FieldNo);
  uint32_t handle = 0;
  if (BLOBStream.GetSize() > 0) {
    TVEXCompressedBLOBStream& compressed = CompressedBLOBStreamOf(BLOBStream, 10117);
    const TVEXBLOBDescriptor& descriptor = compressed.BLOBDescriptor();
    std::vector<uint8_t> bytes =
        enginesupport::ReadWholeStream(compressed.CompressedStream(), 10117);
    handle = FBlobs.Add(TVEXMemoryBlobBlocks::MakeBlock(static_cast<int32_t>(descriptor.NumBlocks),
                                                        compressed.GetSize(), bytes.data(),
                                                        static_cast<int64_t>(bytes.size())));
  }
  FBlobs.SetHandle(buffer, FieldNo, handle);
  // Only now: the buffer no longer names the old value.
  FBlobs.ReleaseIfUnstored(old);
}

void TVEXMemoryTableData::ClearBLOBFieldInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo) {
  if (!FBlobs.HasBlobFields() || RecordBuffer == nullptr) return;
  if (GetBitFromBuffer(FieldNo, RecordBuffer)) return;
  const uint32_t handle = FBlobs.HandleOf(RecordBuffer, FieldNo);
  if (handle == 0) RaiseNilPointer(10118);
  FBlobs.SetHandle(RecordBuffer, FieldNo, 0);
  FBlobs.ReleaseIfUnstored(handle);
}

void TVEXMemoryTableData::CheckBlobField(int32_t FieldNo, int32_t ErrorCode) const {
  const TVEXFieldDefs& fields = FFieldManager->FieldDefs();
  if (FieldNo < 0 || FieldNo >= fields.Count() ||
      !IsBLOBBaseFieldType(fields.GetDef(FieldNo)->BaseFieldType))
    RaiseNilPointer(ErrorCode);
}

std::unique_ptr<TVEXStream> TVEXMemoryTableData::InternalCreateBlobStream(
    TVEXCursor& Cursor, bool /*ToInsert*/, int32_t FieldNo, TVEXBLOBOpenMode OpenMode) {
  CheckBlobField(FieldNo, 10112);
  const TVEXFieldDef& def = *FFieldManager->FieldDefs().GetDef(FieldNo);
  if (def.BLOBBlockSize == 0) throw EVEXException(10420, "Stream block size = 0 is not allowed");
  TVEXBLOBDescriptor descriptor{};
  descriptor.BlockSize = def.BLOBBlockSize;
  descriptor.CompressionAlgorithm = def.BLOBCompressionAlgorithm;
  descriptor.CompressionMode = def.BLOBCompressionMode;
  auto carrier = std::make_unique<TVEXTemporaryStream>(true);
  const uint8_t* buffer = Cursor.CurrentRecordBuffer();
  const bool empty = OpenMode == bomWrite || buffer == nullptr || GetBitFromBuffer(FieldNo, buffer);
  if (!empty) {
    const uint8_t* block = FBlobs.Find(FBlobs.HandleOf(buffer, FieldNo));
    if (block == nullptr) RaiseNilPointer(10112);
    const int64_t size =
        MemoryManager->GetMemoryBufferSize(block) - TVEXMemoryBlobBlocks::kBlockHeaderSize;
    enginesupport::WriteWholeBuffer(*carrier, block + TVEXMemoryBlobBlocks::kBlockHeaderSize, size,
                                    10112);
    carrier->Seek(0, rtl::soFromBeginning);
    int32_t numBlocks;
    std::memcpy(&numBlocks, block, 4);
    std::memcpy(&descriptor.UncompressedSize, block + 4, 8);
    descriptor.NumBlocks = numBlocks;
  }
  auto stream =
      std::make_unique<TVEXOwningCompressedBLOBStream>(std::move(carrier), descriptor, empty);
  return MakeEngineBLOBStream(std::move(stream), Cursor, OpenMode, FieldNo);
}

void TVEXMemoryTableData::GetDirectBlobData(TVEXCursor& /*Cursor*/, int32_t FieldNo,
                                            uint8_t* RecordBuffer,
                                            TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                            uint8_t*& pBlobData) {
  BLOBDescriptor = {};
  pBlobData = nullptr;
  if (RecordBuffer == nullptr || GetBitFromBuffer(FieldNo, RecordBuffer)) return;
  const uint8_t* block = FBlobs.Find(FBlobs.HandleOf(RecordBuffer, FieldNo));
  if (block == nullptr) RaiseNilPointer(10511);
  std::memcpy(&BLOBDescriptor.NumBlocks, block, 4);
  std::memcpy(&BLOBDescriptor.UncompressedSize, block + 4, 8);
  BLOBDescriptor.CompressedSize =
      MemoryManager->GetMemoryBufferSize(block) - TVEXMemoryBlobBlocks::kBlockHeaderSize;
  if (BLOBDescriptor.CompressedSize == 0) return;
  pBlobData = static_cast<uint8_t*>(MemoryManager->GetMem(BLOBDescriptor.CompressedSize));
  std::memcpy(pBlobData, block + TVEXMemoryBlobBlocks::kBlockHeaderSize,
              static_cast<size_t>(BLOBDescriptor.CompressedSize));
}

void TVEXMemoryTableData::SetDirectBlobData(TVEXCursor& /*Cursor*/, int32_t FieldNo,
                                            uint8_t* RecordBuffer,
                                            TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                            uint8_t*& pBlobData) {
  if (RecordBuffer == nullptr) RaiseNilPointer(10511);
  const uint32_t old = FBlobs.HandleOf(RecordBuffer, FieldNo);
  uint32_t handle = 0;
  if (BLOBDescriptor.CompressedSize > 0) {
    if (pBlobData == nullptr) RaiseNilPointer(10511);
    handle = FBlobs.Add(TVEXMemoryBlobBlocks::MakeBlock(BLOBDescriptor.NumBlocks,
                                                        BLOBDescriptor.UncompressedSize, pBlobData,
                                                        BLOBDescriptor.CompressedSize));
  }
  FBlobs.SetHandle(RecordBuffer, FieldNo, handle);
  FBlobs.ReleaseIfUnstored(old);
}

void TVEXMemoryTableData::FreeDirectBlobData(TVEXCursor& /*Cursor*/, int32_t /*FieldNo*/,
                                             uint8_t* /*RecordBuffer*/,
                                             TVEXPartialTemporaryBLOBDescriptor& /*BLOBDescriptor*/,
                                             uint8_t*& pBlobData) {
  MemoryManager->FreeAndNillMem(pBlobData);
}

// --- records ----------------------------------------------------------------

TVEXMemBlock TVEXMemoryTableData::ReadStoredRecord(TVEXPageItemID RecordID) const {
  TVEXMemoryRecordManager& records = *MemoryRecordManager();
  if (!records.IsLiveSlot(RecordID.PageNo)) return {};
  TVEXMemBlock copy = TVEXMemBlock::GetMem(std::max(records.RecordBufferSize(), 1));
  TVEXNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = RecordID;
  info.RecordBuffer = copy.As<uint8_t>();
  records.GetRecordBuffer(kSystemSessionID, info);
  if (info.GetRecordResult != grrOK) return {};
  return copy;
}

bool TVEXMemoryTableData::InsertRecord(TVEXCursor& Cursor) {
  TVEXMemoryRecordManager& records = Records(10010);
  uint8_t* buffer = Cursor.CurrentRecordBuffer();
  if (buffer == nullptr) RaiseNilPointer(10018);
  FBlobs.CheckHandles(buffer, 10112);
  const int32_t sessionID = Cursor.GetSessionID();
  enginesupport::TChangeSet changes(*this, &Cursor);
  TVEXPageItemID recordID{-1, 0};
  if (!records.AddRecord(sessionID, buffer, recordID)) return false;
  recordID.PageItemNo = 0;
  const TVEXPageItemID before = Cursor.CurrentRecordID;
  Cursor.CurrentRecordID = recordID;
  {
    // Design note 3: indexes that refuse the record take it out again.
    ScopeFailure undo([&] {
      TVEXPageItemID gone = recordID;
      records.DeleteRecord(sessionID, gone);
      Cursor.CurrentRecordID = before;
    });
    if (enginesupport::HasActiveBitmap(Cursor))
      enginesupport::ShowOrHide(Cursor, recordID, IsRecordInView(Cursor));
    FIndexManager->InsertRecord(Cursor);
  }
  FBlobs.AddStoredRefs(buffer);
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  changes.Commit();
  return true;
}

bool TVEXMemoryTableData::DeleteRecord(TVEXCursor& Cursor) {
  TVEXMemoryRecordManager& records = Records(10013);
  const int32_t sessionID = Cursor.GetSessionID();
  TVEXPageItemID recordID = Cursor.CurrentRecordID;
  TVEXMemBlock stored = ReadStoredRecord(recordID);
  // A record deleted meanwhile through another cursor: nothing to do.
  if (!stored) return false;
  enginesupport::TChangeSet changes(*this, &Cursor);
  const enginesupport::TNeighbour neighbour = enginesupport::FindNeighbour(*this, Cursor);
  const TVEXPageItemID deletedID = recordID;
  const int32_t stateBefore = records.TableState();
  FIndexManager->DeleteRecord(Cursor);
  if (!records.DeleteRecord(sessionID, recordID)) {
    FIndexManager->InsertRecord(Cursor);
    return false;
  }
  FBlobs.ReleaseStoredRefs(stored.As<uint8_t>());
  enginesupport::HideDeleted(Cursor, deletedID, stateBefore, records.TableState());
  enginesupport::LandOnNeighbour(Cursor, neighbour);
  changes.Commit();
  return true;
}

bool TVEXMemoryTableData::UpdateRecord(TVEXCursor& Cursor) {
  TVEXMemoryRecordManager& records = Records(10014);
  uint8_t* buffer = Cursor.CurrentRecordBuffer();
  if (buffer == nullptr) RaiseNilPointer(10017);
  const int32_t sessionID = Cursor.GetSessionID();
  const TVEXPageItemID recordID = Cursor.CurrentRecordID;
  TVEXMemBlock stored = ReadStoredRecord(recordID);
  if (!stored) return false;
  FBlobs.CheckHandles(buffer, 10112);
  enginesupport::TChangeSet changes(*this, &Cursor);
  FIndexManager->UpdateRecord(Cursor, true);
  if (!records.UpdateRecord(sessionID, buffer, recordID)) return false;
  {
    ScopeFailure undo([&] { records.UpdateRecord(sessionID, stored.As<uint8_t>(), recordID); });
    FIndexManager->UpdateRecord(Cursor, false);
  }
  // The new image's blocks gain a name before the old image's lose one, so a
  // value both name survives.
  FBlobs.AddStoredRefs(buffer);
  FBlobs.ReleaseStoredRefs(stored.As<uint8_t>());
  if (enginesupport::HasActiveBitmap(Cursor))
    enginesupport::ShowOrHide(Cursor, recordID, IsRecordInView(Cursor));
  changes.Commit();
  return true;
}

// --- navigation and record numbers -----------------------------------------

void TVEXMemoryTableData::InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) {
  const int32_t slot = Records(10074).RecNoToRecordID(RecNo - 1);
  if (slot < 0) return;
  Cursor.CurrentRecordID = {slot, 0};
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
}

int64_t TVEXMemoryTableData::InternalGetRecNo(TVEXCursor& Cursor) {
  return Records(10033).RecordIDToRecNo(Cursor.CurrentRecordID.PageNo);
}

int64_t TVEXMemoryTableData::InternalGetRecordCount(TVEXCursor& /*Cursor*/) {
  return Records(10009).RecordCount();
}

int64_t TVEXMemoryTableData::LastAutoincValue(int32_t FieldNo, TVEXBaseSession& Session) {
  return FFieldManager ? FFieldManager->GetLastAutoinc(Session, FieldNo) : 0;
}

// --- database data ----------------------------------------------------------

TVEXMemoryDatabaseData::TVEXMemoryDatabaseData() { SetDatabaseName("MEMORY"); }

TVEXMemoryDatabaseData::~TVEXMemoryDatabaseData() { enginesupport::DeleteAllTables(*this); }

void TVEXMemoryDatabaseData::ConnectSession(TVEXBaseSession& Session) {
  Session.SetSessionID(0);
  TVEXDatabaseData::ConnectSession(Session);
}

TVEXTableData* TVEXMemoryDatabaseData::CreateTableData(TVEXCursor& Cursor) {
  auto table = std::make_unique<TVEXMemoryTableData>(this, 1000);
  table->SetTableName(Cursor.TableName());
  return AddTableData(std::move(table));
}

int32_t TVEXMemoryDatabaseData::GetNewObjectId() {
  TVEXLockGuard lock(DatabaseLock());
  return ++FLastObjectID;
}

}  // namespace vex
