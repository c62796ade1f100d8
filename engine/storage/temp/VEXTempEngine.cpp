#include "storage/temp/VEXTempEngine.h"

#include <algorithm>
#include <cstring>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXTypes.h"
#include "storage/memory/VEXMemBlobBlocks.h"
#include "storage/memory/VEXMemEngine.h"
#include "storage/memory/VEXMemEngineSupport.h"

namespace vex {

namespace {
constexpr const char* kSeekMessage = "Cannot set stream position to %d. Position = %d, Size = %d";
constexpr const char* kReadMessage =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr const char* kWriteMessage =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";

void SeekOrRaise(rtl::TStream& Stream, int64_t Position, int32_t Code) {
  const int64_t before = Stream.Position();
  if (Stream.Seek(Position, rtl::soFromBeginning) != Position)
    throw EVEXException(Code, kSeekMessage, Position, before, Stream.GetSize());
}
}  // namespace

TVEXTemporaryTableData::TVEXTemporaryTableData(TVEXDatabaseData* aDatabaseData,
                                               int32_t RecordsPerPage, int32_t AllocRecordsBy)
    : TVEXTableData(aDatabaseData),
      FRecordsPerPage(RecordsPerPage),
      FAllocRecordsBy(AllocRecordsBy) {}

TVEXTemporaryTableData::~TVEXTemporaryTableData() {
  TVEXLockGuard lock(DatabaseLock());
  try {
    EmptyTable(nullptr);
    FBLOBFile.reset();
    if (FIndexManager) DeleteAllIndexes(nullptr);
    if (FTemporaryPageManager) FTemporaryPageManager->ApplyChanges(kSystemSessionID);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
  // The index objects reach their pages through the page manager.
  FIndexManager.reset();
  SetPageManager(nullptr);
  FTemporaryPageManager.reset();
}

TVEXTemporaryRecordManager& TVEXTemporaryTableData::Records(int32_t ErrorCode) const {
  auto* records = TemporaryRecordManager();
  if (records == nullptr) RaiseNilPointer(ErrorCode);
  return *records;
}

TVEXStream& TVEXTemporaryTableData::BlobFile(int32_t ErrorCode) const {
  if (FBLOBFile == nullptr) RaiseNilPointer(ErrorCode);
  return *FBLOBFile;
}

void TVEXTemporaryTableData::CreateRecordManager() {
  FRecordManager.reset();
  FRecordManager = std::make_unique<TVEXTemporaryRecordManager>(
      GetRecordBufferSize(), FRecordsPerPage, FAllocRecordsBy, DisableTempFiles());
}

void TVEXTemporaryTableData::CreateFieldManager(TVEXFieldDefs& FieldDefs) {
  FFieldManager = std::make_unique<TVEXBaseFieldManager>(this);
  TVEXTableData::CreateFieldManager(FieldDefs);
}

void TVEXTemporaryTableData::CreateIndexManager(TVEXIndexDefs& IndexDefs) {
  FIndexManager.reset();
  FIndexManager = std::make_unique<TVEXBaseIndexManager>(*this, FTemporaryPageManager.get(),
                                                         MemoryEngineIndexFactory(FScanner));
  TVEXTableData::CreateIndexManager(IndexDefs);
}

void TVEXTemporaryTableData::CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs) {
  FConstraintManager = std::make_unique<TVEXBaseConstraintManager>(*this);
  TVEXTableData::CreateConstraintManager(ConstraintDefs);
}

void TVEXTemporaryTableData::RecreateBLOBFile() {
  FBLOBFile.reset();
  if (!FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  if (DisableTempFiles())
    FBLOBFile = std::make_unique<TVEXMemoryStream>(nullptr, 1048576);
  else
    FBLOBFile = std::make_unique<TVEXTemporaryStream>(false);
}

void TVEXTemporaryTableData::CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs,
                                         TVEXIndexDefs& IndexDefs,
                                         TVEXConstraintDefs& ConstraintDefs) {
  if (FieldDefs.Count() == 0)
    throw EVEXException(10132, "Error creating table - no fields were specified");
  if (Cursor != nullptr) {
    SetTableName(Cursor->TableName());
    SetDisableTempFiles(Cursor->DisableTempFiles());
  }
  // The old index objects name the old pages.
  FIndexManager.reset();
  FTemporaryPageManager =
      std::make_unique<TVEXTemporaryPageManager>(DisableTempFiles(), &DatabaseLock());
  SetPageManager(FTemporaryPageManager.get());
  enginesupport::TChangeSet changes(*this, Cursor);
  CreateFieldManager(FieldDefs);
  CreateIndexManager(IndexDefs);
  CreateConstraintManager(ConstraintDefs);
  CreateRecordManager();
  if (Cursor != nullptr) InitCursorBuffers(*Cursor);
  RecreateBLOBFile();
  FIndexManager->CreateIndexesByIndexDefs(Cursor);
  // Without a cursor the new indexes belong to the system session: committed
  // too, or their root pages would be dropped.
  changes.Commit();
}

void TVEXTemporaryTableData::DeleteTable(TVEXCursor* Cursor, bool DesignMode) {
  TVEXTableData::DeleteTable(Cursor, DesignMode);
  if (DesignMode && !CursorList().empty()) return;
  // The database destroys this object: nothing may touch it afterwards.
  DatabaseData()->FreeTableData(this);
}

void TVEXTemporaryTableData::EmptyTable(TVEXCursor* /*Cursor*/) {
  // The old values go with the stream; an emptied table takes new ones.
  RecreateBLOBFile();
  TVEXTableData::EmptyTable(nullptr);
  if (FRecordManager) FRecordManager->Empty(kSystemSessionID);
  if (FTemporaryPageManager) {
    TVEXLockGuard pages(FTemporaryPageManager->DatabaseLock());
    FTemporaryPageManager->ApplyChanges(kSystemSessionID);
  }
}

void TVEXTemporaryTableData::OpenTable(TVEXCursor& Cursor) {
  SetTableName(Cursor.TableName());
  TVEXTableData::OpenTable(Cursor);
}

void TVEXTemporaryTableData::AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) {
  enginesupport::TChangeSet changes(*this, &Cursor);
  TVEXTableData::AddIndex(IndexDef, Cursor);
  changes.Commit();
}

void TVEXTemporaryTableData::DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) {
  enginesupport::TChangeSet changes(*this, Cursor);
  TVEXTableData::DeleteIndex(IndexID, Cursor);
  changes.Commit();
}

int64_t TVEXTemporaryTableData::GetBitmapRecordCount(int32_t /*SessionID*/) {
  return FRecordManager ? FRecordManager->RecordCount() : 0;
}

int64_t TVEXTemporaryTableData::GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) {
  return TVEXTemporaryRecordManager::NumberOf(RecordID);
}

TVEXPageItemID TVEXTemporaryTableData::GetRecordIDByBitmapRecNo(int64_t RecNo) {
  return TVEXTemporaryRecordManager::IDOf(RecNo);
}

// --- BLOBs ------------------------------------------------------------------

int64_t TVEXTemporaryTableData::OffsetOf(const uint8_t* RecordBuffer, int32_t FieldNo) const {
  int64_t offset;
  std::memcpy(&offset, RecordBuffer + FFieldManager->FieldDefs().GetDef(FieldNo)->MemoryOffset,
              sizeof(offset));
  return offset;
}

void TVEXTemporaryTableData::SetOffset(uint8_t* RecordBuffer, int32_t FieldNo, int64_t Offset,
                                       bool IsNull) const {
  std::memcpy(RecordBuffer + FFieldManager->FieldDefs().GetDef(FieldNo)->MemoryOffset, &Offset,
              sizeof(Offset));
  SetBitInBuffer(IsNull, FieldNo, RecordBuffer);
}

int64_t TVEXTemporaryTableData::AppendBLOB(const TVEXPartialTemporaryBLOBDescriptor& Descriptor,
                                           const uint8_t* Data, int32_t SeekCode,
                                           int32_t WriteCode) {
  TVEXStream& stream = *FBLOBFile;
  const int64_t offset = stream.GetSize();
  SeekOrRaise(stream, offset, SeekCode);
  // docs/file-formats.md, "Temporary BLOB stream".
  uint8_t header[kBLOBDescriptorSize];
  std::memcpy(header, &Descriptor.NumBlocks, 4);
  std::memcpy(header + 4, &Descriptor.UncompressedSize, 8);
  std::memcpy(header + 12, &Descriptor.CompressedSize, 8);
  const int32_t put = stream.Write(header, kBLOBDescriptorSize);
  if (put != kBLOBDescriptorSize)
    throw EVEXException(WriteCode, kWriteMessage, offset, stream.GetSize(), kBLOBDescriptorSize,
                        put);
  enginesupport::WriteWholeBuffer(stream, Data, Descriptor.CompressedSize, WriteCode);
  return offset;
}

TVEXPartialTemporaryBLOBDescriptor TVEXTemporaryTableData::ReadDescriptor(int64_t Offset,
                                                                          int32_t SeekCode,
                                                                          int32_t ReadCode) {
  TVEXStream& stream = *FBLOBFile;
  if (Offset < 0 || Offset > stream.GetSize())
    throw EVEXException(SeekCode, kSeekMessage, Offset, stream.Position(), stream.GetSize());
  SeekOrRaise(stream, Offset, SeekCode);
  uint8_t header[kBLOBDescriptorSize];
  const int32_t got = stream.Read(header, kBLOBDescriptorSize);
  if (got != kBLOBDescriptorSize)
    throw EVEXException(ReadCode, kReadMessage, Offset, stream.GetSize(), kBLOBDescriptorSize, got);
  TVEXPartialTemporaryBLOBDescriptor descriptor;
  std::memcpy(&descriptor.NumBlocks, header, 4);
  std::memcpy(&descriptor.UncompressedSize, header + 4, 8);
  std::memcpy(&descriptor.CompressedSize, header + 12, 8);
  // A damaged offset must not make us allocate or read beyond the stream.
  CheckStreamHolds(stream, descriptor.CompressedSize, ReadCode);
  return descriptor;
}

void TVEXTemporaryTableData::WriteBLOBFieldToRecordBuffer(TVEXCursor& Cursor, int32_t FieldNo,
                                                          TVEXStream& BLOBStream) {
  BlobFile(10144);
  if (!BLOBStream.Modified()) return;
  uint8_t* buffer = Cursor.CurrentRecordBuffer();
  if (buffer == nullptr) RaiseNilPointer(10135);
  if (BLOBStream.GetSize() == 0) {
    SetOffset(buffer, FieldNo, 0, true);
    return;
  }
  TVEXCompressedBLOBStream& compressed = CompressedBLOBStreamOf(BLOBStream, 10144);
  const std::vector<uint8_t> bytes =
      enginesupport::ReadWholeStream(compressed.CompressedStream(), 10142);
  TVEXPartialTemporaryBLOBDescriptor descriptor;
  descriptor.NumBlocks = static_cast<int32_t>(compressed.BLOBDescriptor().NumBlocks);
  descriptor.UncompressedSize = compressed.GetSize();
  descriptor.CompressedSize = static_cast<int64_t>(bytes.size());
  // Never in place (design note 1): the value goes to the end.
  const int64_t offset = AppendBLOB(descriptor, bytes.data(), 10422, 10145);
  SetOffset(buffer, FieldNo, offset, false);
}

std::unique_ptr<TVEXStream> TVEXTemporaryTableData::InternalCreateBlobStream(
    TVEXCursor& Cursor, bool ToInsert, int32_t FieldNo, TVEXBLOBOpenMode OpenMode) {
  BlobFile(10140);
  const TVEXFieldDefs& fields = FFieldManager->FieldDefs();
  if (FieldNo < 0 || FieldNo >= fields.Count() ||
      !IsBLOBBaseFieldType(fields.GetDef(FieldNo)->BaseFieldType))
    RaiseNilPointer(10140);
  const TVEXFieldDef& def = *fields.GetDef(FieldNo);
  TVEXBLOBDescriptor descriptor{};
  descriptor.BlockSize = def.BLOBBlockSize;
  descriptor.CompressionAlgorithm = def.BLOBCompressionAlgorithm;
  descriptor.CompressionMode = def.BLOBCompressionMode;
  auto carrier = std::make_unique<TVEXTemporaryStream>(DisableTempFiles());
  const uint8_t* buffer = Cursor.CurrentRecordBuffer();
  const bool empty =
      ToInsert || OpenMode == bomWrite || buffer == nullptr || GetBitFromBuffer(FieldNo, buffer);
  if (!empty) {
    const TVEXPartialTemporaryBLOBDescriptor stored =
        ReadDescriptor(OffsetOf(buffer, FieldNo), 10141, 10142);
    std::vector<uint8_t> bytes(static_cast<size_t>(stored.CompressedSize));
    int64_t done = 0;
    while (done < stored.CompressedSize) {
      const auto want =
          static_cast<int32_t>(std::min<int64_t>(stored.CompressedSize - done, 1 << 30));
      const int32_t got = FBLOBFile->Read(bytes.data() + done, want);
      if (got <= 0) break;
      done += got;
    }
    if (done != stored.CompressedSize)
      throw EVEXException(10142, kReadMessage, FBLOBFile->Position(), FBLOBFile->GetSize(),
                          stored.CompressedSize, done);
    enginesupport::WriteWholeBuffer(*carrier, bytes.data(), stored.CompressedSize, 10142);
    carrier->Seek(0, rtl::soFromBeginning);
    descriptor.NumBlocks = stored.NumBlocks;
    descriptor.UncompressedSize = stored.UncompressedSize;
  }
  auto stream =
      std::make_unique<TVEXOwningCompressedBLOBStream>(std::move(carrier), descriptor, empty);
  return MakeEngineBLOBStream(std::move(stream), Cursor, OpenMode, FieldNo);
}

void TVEXTemporaryTableData::GetDirectBlobData(TVEXCursor& /*Cursor*/, int32_t FieldNo,
                                               uint8_t* RecordBuffer,
                                               TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                               uint8_t*& pBlobData) {
  BLOBDescriptor = {};
  pBlobData = nullptr;
  if (RecordBuffer == nullptr || GetBitFromBuffer(FieldNo, RecordBuffer)) return;
  BlobFile(10509);
  const int64_t position = FBLOBFile->Position();
  ScopeExit back([&] { FBLOBFile->Seek(position, rtl::soFromBeginning); });
  BLOBDescriptor = ReadDescriptor(OffsetOf(RecordBuffer, FieldNo), 10509, 10510);
  if (BLOBDescriptor.CompressedSize == 0) return;
  TVEXMemBlock data = TVEXMemBlock::GetMem(BLOBDescriptor.CompressedSize);
  ReadStreamChecked(data.Get(), static_cast<int32_t>(BLOBDescriptor.CompressedSize), *FBLOBFile,
                    10510);
  pBlobData = static_cast<uint8_t*>(data.Release());
}

void TVEXTemporaryTableData::SetDirectBlobData(TVEXCursor& /*Cursor*/, int32_t FieldNo,
                                               uint8_t* RecordBuffer,
                                               TVEXPartialTemporaryBLOBDescriptor& BLOBDescriptor,
                                               uint8_t*& pBlobData) {
  BlobFile(10506);
  if (RecordBuffer == nullptr) RaiseNilPointer(10506);
  if (BLOBDescriptor.UncompressedSize == 0) {
    SetOffset(RecordBuffer, FieldNo, 0, true);
    return;
  }
  if (BLOBDescriptor.CompressedSize > 0 && pBlobData == nullptr) RaiseNilPointer(10506);
  const int64_t offset = AppendBLOB(BLOBDescriptor, pBlobData, 10507, 10508);
  SetOffset(RecordBuffer, FieldNo, offset, false);
}

void TVEXTemporaryTableData::FreeDirectBlobData(
    TVEXCursor& /*Cursor*/, int32_t /*FieldNo*/, uint8_t* /*RecordBuffer*/,
    TVEXPartialTemporaryBLOBDescriptor& /*BLOBDescriptor*/, uint8_t*& pBlobData) {
  MemoryManager->FreeAndNillMem(pBlobData);
}

// --- records ----------------------------------------------------------------

bool TVEXTemporaryTableData::InsertRecord(TVEXCursor& Cursor) {
  TVEXTemporaryRecordManager& records = Records(10134);
  uint8_t* buffer = Cursor.CurrentRecordBuffer();
  if (buffer == nullptr) RaiseNilPointer(10135);
  enginesupport::TChangeSet changes(*this, &Cursor);
  TVEXPageItemID recordID{-1, 0};
  if (!records.AddRecord(Cursor.GetSessionID(), buffer, recordID)) return false;
  Cursor.CurrentRecordID = recordID;
  if (enginesupport::HasActiveBitmap(Cursor))
    enginesupport::ShowOrHide(Cursor, recordID, IsRecordInView(Cursor));
  FIndexManager->InsertRecord(Cursor);
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  changes.Commit();
  return true;
}

bool TVEXTemporaryTableData::DeleteRecord(TVEXCursor& /*Cursor*/) { return false; }

bool TVEXTemporaryTableData::UpdateRecord(TVEXCursor& /*Cursor*/) { return false; }

// --- navigation and record numbers -----------------------------------------

void TVEXTemporaryTableData::InternalSetRecNo(TVEXCursor& Cursor, int64_t RecNo) {
  Records(10136);
  Cursor.CurrentRecordID = TVEXTemporaryRecordManager::IDOf(RecNo < 2 ? 0 : RecNo - 1);
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
}

int64_t TVEXTemporaryTableData::InternalGetRecNo(TVEXCursor& Cursor) {
  Records(10137);
  return TVEXTemporaryRecordManager::NumberOf(Cursor.CurrentRecordID) + 1;
}

int64_t TVEXTemporaryTableData::InternalGetRecordCount(TVEXCursor& /*Cursor*/) {
  return Records(10133).RecordCount();
}

// --- database data ----------------------------------------------------------

TVEXTemporaryDatabaseData::TVEXTemporaryDatabaseData() { SetDatabaseName("TEMP"); }

TVEXTemporaryDatabaseData::~TVEXTemporaryDatabaseData() { enginesupport::DeleteAllTables(*this); }

TVEXTableData* TVEXTemporaryDatabaseData::CreateTableData(TVEXCursor& Cursor) {
  auto table = std::make_unique<TVEXTemporaryTableData>(this, 10, 1000);
  table->SetTableName(Cursor.TableName());
  return AddTableData(std::move(table));
}

int32_t TVEXTemporaryDatabaseData::GetNewObjectId() {
  TVEXLockGuard lock(DatabaseLock());
  return ++FLastObjectID;
}

}  // namespace vex
