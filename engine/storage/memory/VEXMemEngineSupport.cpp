#include "storage/memory/VEXMemEngineSupport.h"

#include <algorithm>
#include <limits>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"
#include "rtl/Stream.h"

namespace vex::enginesupport {

namespace {
constexpr const char* kReadMessage =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr const char* kWriteMessage =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
constexpr int64_t kChunk = int64_t{1} << 30;
}  // namespace

TChangeSet::TChangeSet(TVEXTableData& Table, const TVEXCursor* Cursor)
    : FTable(Table),
      FSessionID(Cursor != nullptr ? Cursor->GetSessionID() : kSystemSessionID),
      FInTransaction(Cursor != nullptr && Cursor->InTransaction()) {}

// The caller holds the table's lock for the change set's whole life.
TChangeSet::~TChangeSet() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (FDone) return;
  try {
    FTable.CancelChanges(FSessionID, FInTransaction);
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

void TChangeSet::Commit() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FTable.ApplyChanges(FSessionID, FInTransaction);
  FDone = true;
}

void ResizeBlock(TVEXMemBlock& Block, int64_t NewSize) {
  if (!Block) {
    Block = TVEXMemBlock::GetMem(NewSize);
    return;
  }
  void* raw = Block.Get();
  try {
    MemoryManager->ReallocMem(raw, NewSize, false);
  } catch (...) {
    // Once the new block exists the old one is gone, whatever was raised.
    if (raw != Block.Get()) {
      Block.Release();
      Block = TVEXMemBlock(raw);
    }
    throw;
  }
  Block.Release();
  Block = TVEXMemBlock(raw);
}

std::vector<uint8_t> ReadWholeStream(rtl::TStream& Stream, int32_t ErrorCode) {
  const int64_t position = Stream.Position();
  const int64_t size = Stream.GetSize();
  ScopeExit back([&] { Stream.Seek(position, rtl::soFromBeginning); });
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  Stream.Seek(0, rtl::soFromBeginning);
  int64_t done = 0;
  while (done < size) {
    const auto want = static_cast<int32_t>(std::min(size - done, kChunk));
    const int32_t got = Stream.Read(bytes.data() + done, want);
    if (got <= 0) break;
    done += got;
  }
  if (done != size) throw EVEXException(ErrorCode, kReadMessage, int64_t{0}, size, size, done);
  return bytes;
}

void WriteWholeBuffer(rtl::TStream& Stream, const uint8_t* Data, int64_t Size, int32_t ErrorCode) {
  const int64_t position = Stream.Position();
  int64_t done = 0;
  while (done < Size) {
    const auto want = static_cast<int32_t>(std::min(Size - done, kChunk));
    const int32_t put = Stream.Write(Data + done, want);
    if (put <= 0) break;
    done += put;
  }
  if (done != Size)
    throw EVEXException(ErrorCode, kWriteMessage, position, Stream.GetSize(), Size, done);
}

TNeighbour FindNeighbour(TVEXTableData& Table, TVEXCursor& Cursor) {
  TNeighbour found;
  TVEXBaseRecordManager* records = Table.RecordManager();
  const int32_t size = std::max(records != nullptr ? records->RecordBufferSize() : 0, 1);
  TVEXMemBlock scratch = TVEXMemBlock::AllocMem(size);
  TVEXMemBlock position = Cursor.SavePosition();
  uint8_t* buffer = Cursor.CurrentRecordBuffer();
  Cursor.SetCurrentRecordBuffer(scratch.As<uint8_t>());
  ScopeExit restore([&] {
    Cursor.SetCurrentRecordBuffer(buffer);
    Cursor.RestorePosition(position);
  });
  for (TVEXGetRecordMode mode : {grmNext, grmPrior}) {
    Cursor.RestorePosition(position);
    if (Table.GetRecordBuffer(Cursor, mode) == grrOK) {
      found = {true, Cursor.CurrentRecordID};
      break;
    }
  }
  return found;
}

void LandOnNeighbour(TVEXCursor& Cursor, const TNeighbour& Neighbour) {
  if (Neighbour.Found) {
    Cursor.CurrentRecordID = Neighbour.RecordID;
    Cursor.FirstPosition = false;
    Cursor.LastPosition = false;
  } else {
    Cursor.FirstPosition = true;
    Cursor.LastPosition = false;
  }
}

bool HasActiveBitmap(const TVEXCursor& Cursor) {
  return Cursor.RecordBitmap != nullptr && Cursor.RecordBitmap->Active();
}

void ShowOrHide(TVEXCursor& Cursor, TVEXPageItemID RecordID, bool InView) {
  if (!HasActiveBitmap(Cursor)) return;
  if (InView)
    Cursor.RecordBitmap->ShowRecord(RecordID);
  else
    Cursor.RecordBitmap->HideRecord(RecordID);
}

void HideDeleted(TVEXCursor& Cursor, TVEXPageItemID RecordID, int32_t StateBefore,
                 int32_t NewState) {
  if (!HasActiveBitmap(Cursor)) return;
  TVEXRecordBitmap& bitmap = *Cursor.RecordBitmap;
  bitmap.HideRecord(RecordID);
  if (bitmap.TableState() == StateBefore && !Cursor.IsDistinctApplied())
    bitmap.SetTableState(NewState);
}

void DeleteAllTables(TVEXDatabaseData& Database) noexcept {
  TVEXLockGuard lock(Database.DatabaseLock());
  while (!Database.TableDataList().empty()) {
    TVEXTableData* table = Database.TableDataList().front().get();
    try {
      TVEXLockGuard tableLock(table->DatabaseLock());
      table->DeleteTable(nullptr, false);
    } catch (const std::exception& e) {
      // A table that refused (a cursor still has it open) goes all the same:
      // nothing outlives its database.
      ReportReleaseFault(e);
      Database.FreeTableData(table);
    }
  }
}

}  // namespace vex::enginesupport
