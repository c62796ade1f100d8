#include "storage/temp/VEXTempRecordManager.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXPage.h"
#include "storage/memory/VEXMemEngineSupport.h"

namespace vex {

namespace {
constexpr const char* kSeekMessage = "Cannot set stream position to %d. Position = %d, Size = %d";
constexpr const char* kReadMessage =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr uint64_t kIDMask = (uint64_t{1} << 48) - 1;

void SeekOrRaise(rtl::TStream& Stream, int64_t Position, int32_t Code) {
  const int64_t before = Stream.Position();
  if (Stream.Seek(Position, rtl::soFromBeginning) != Position)
    throw EVEXException(Code, kSeekMessage, Position, before, Stream.GetSize());
}
}  // namespace

TVEXPageItemID TVEXTemporaryRecordManager::IDOf(int64_t N) {
  const uint64_t n = static_cast<uint64_t>(N) & kIDMask;
  return {static_cast<int32_t>(static_cast<uint32_t>(n)), static_cast<uint16_t>(n >> 32)};
}

int64_t TVEXTemporaryRecordManager::NumberOf(TVEXPageItemID RecordID) {
  return static_cast<int64_t>(uint64_t{static_cast<uint32_t>(RecordID.PageNo)} |
                              uint64_t{RecordID.PageItemNo} << 32);
}

TVEXTemporaryRecordManager::TVEXTemporaryRecordManager(int32_t RecordBufferSize,
                                                       int32_t RecordsPerPage,
                                                       int32_t AllocRecordsBy,
                                                       bool DisableTempFiles)
    : FRecordsPerPage(std::max(RecordsPerPage, 1)),
      FAllocRecordsBy(std::max(AllocRecordsBy, 1)),
      FDisableTempFiles(DisableTempFiles) {
  if (RecordBufferSize <= 0) throw EVEXException(10124, "Invalid record size = 0");
  FRecordBufferSize = RecordBufferSize;
  FPageSize = FRecordsPerPage * RecordBufferSize;
  FMaxCachedRecordCount = MemoryManager->GetFreeMemorySize() / 10 / RecordBufferSize;
  FTempPage = TVEXMemBlock::GetMem(FPageSize);
}

TVEXTemporaryRecordManager::~TVEXTemporaryRecordManager() { Empty(kSystemSessionID); }

void TVEXTemporaryRecordManager::Empty(int32_t /*SessionID*/) {
  FRecordCount = 0;
  FTempPageRecordCount = 0;
  FCachedRecordCount = 0;
  FAllocatedRecordCount = 0;
  FCache.Reset();
  // Closing the file deletes it.
  FTempPageFile.reset();
  ++FTableState;
}

void TVEXTemporaryRecordManager::GrowCache() {
  // Geometric growth keeps appends linear; the cache never passes its limit
  // while files may take the rest.
  int64_t wanted =
      FAllocatedRecordCount + std::max<int64_t>(FAllocRecordsBy, FAllocatedRecordCount);
  if (!FDisableTempFiles) wanted = std::min(wanted, FMaxCachedRecordCount);
  enginesupport::ResizeBlock(FCache, wanted * FRecordBufferSize);
  FAllocatedRecordCount = wanted;
}

void TVEXTemporaryRecordManager::WriteTempPage() {
  if (FTempPageRecordCount == 0) return;
  if (FTempPageRecordCount > FRecordsPerPage)
    throw EVEXException(10126, "Invalid record count = %d. Limit is %d", FTempPageRecordCount,
                        FRecordsPerPage);
  const int64_t first = FRecordCount - FMaxCachedRecordCount - FTempPageRecordCount;
  SeekOrRaise(*FTempPageFile, first * FRecordBufferSize, 10128);
  const int32_t bytes = FTempPageRecordCount * FRecordBufferSize;
  if (FTempPageFile->Write(FTempPage.Get(), bytes) != bytes)
    throw EVEXException(10125, "Error writing to stream");
  FTempPageRecordCount = 0;
}

bool TVEXTemporaryRecordManager::AddRecord(int32_t /*SessionID*/, const uint8_t* RecordBuffer,
                                           TVEXPageItemID& RecordID) {
  try {
    const int64_t n = FRecordCount;
    if (n > static_cast<int64_t>(kIDMask)) return false;
    if (FCachedRecordCount >= FAllocatedRecordCount &&
        (FDisableTempFiles || FAllocatedRecordCount < FMaxCachedRecordCount))
      GrowCache();
    if (FCachedRecordCount < FAllocatedRecordCount) {
      std::memcpy(FCache.As<uint8_t>() + n * FRecordBufferSize, RecordBuffer,
                  static_cast<size_t>(FRecordBufferSize));
      ++FCachedRecordCount;
    } else {
      if (FTempPageFile == nullptr) FTempPageFile = TVEXFileStream::CreateTemporary();
      // The waiting record goes out as the next one comes in: the file is
      // written one record behind.
      WriteTempPage();
      std::memcpy(FTempPage.As<uint8_t>() + int64_t{FTempPageRecordCount} * FRecordBufferSize,
                  RecordBuffer, static_cast<size_t>(FRecordBufferSize));
      ++FTempPageRecordCount;
    }
    RecordID = IDOf(n);
    ++FRecordCount;
    ++FTableState;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TVEXTemporaryRecordManager::UpdateRecord(int32_t, const uint8_t*, TVEXPageItemID) {
  return false;
}

bool TVEXTemporaryRecordManager::DeleteRecord(int32_t, TVEXPageItemID&) { return false; }

void TVEXTemporaryRecordManager::ReadFileRecord(int64_t N, uint8_t* Buffer) {
  WriteTempPage();
  if (FTempPageFile == nullptr) throw EVEXException(10129, kSeekMessage, N, int64_t{0}, int64_t{0});
  const int64_t position = (N - FMaxCachedRecordCount) * FRecordBufferSize;
  SeekOrRaise(*FTempPageFile, position, 10129);
  const int32_t got = FTempPageFile->Read(Buffer, FRecordBufferSize);
  if (got != FRecordBufferSize)
    throw EVEXException(10130, kReadMessage, position, FTempPageFile->GetSize(), FRecordBufferSize,
                        got);
}

void TVEXTemporaryRecordManager::GetRecordBuffer(int32_t /*SessionID*/,
                                                 TVEXNavigationInfo& NavigationInfo) {
  TVEXNavigationInfo& info = NavigationInfo;
  if (FRecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  int64_t n = -1;
  const TVEXGetRecordMode mode = info.GetRecordMode;
  if (info.FirstPosition) {
    info.GetRecordResult = mode == grmNext ? grrOK : mode == grmPrior ? grrBOF : grrError;
    n = 0;
  } else if (info.LastPosition) {
    info.GetRecordResult = mode == grmPrior ? grrOK : mode == grmNext ? grrEOF : grrError;
    n = FRecordCount - 1;
  } else {
    const int64_t current = NumberOf(info.RecordID);
    switch (mode) {
      case grmCurrent:
        n = current;
        info.GetRecordResult = current < FRecordCount ? grrOK : grrError;
        break;
      case grmNext:
        n = current + 1;
        info.GetRecordResult = current >= FRecordCount - 1 ? grrEOF : grrOK;
        break;
      case grmPrior:
        // From beyond the end the prior record is the last one.
        n = std::min(current, FRecordCount) - 1;
        info.GetRecordResult = current <= 0 ? grrBOF : grrOK;
        break;
    }
  }
  if (info.GetRecordResult == grrEOF || info.GetRecordResult == grrBOF) info.SetEndOfMove();
  if (info.GetRecordResult != grrOK) return;
  info.FirstPosition = false;
  info.LastPosition = false;
  if (info.RecordBuffer == nullptr) throw EVEXException(10127, "Error retrieving record");
  if (InCache(n)) {
    if (n >= FCachedRecordCount) throw EVEXException(10127, "Error retrieving record");
    std::memcpy(info.RecordBuffer, FCache.As<uint8_t>() + n * FRecordBufferSize,
                static_cast<size_t>(FRecordBufferSize));
  } else {
    ReadFileRecord(n, info.RecordBuffer);
  }
  info.RecordID = IDOf(n);
}

int32_t TVEXTemporaryRecordManager::CompareRecordID(TVEXPageItemID RecordID1,
                                                    TVEXPageItemID RecordID2) {
  const int64_t a = NumberOf(RecordID1);
  const int64_t b = NumberOf(RecordID2);
  return a > b ? 1 : a < b ? -1 : 0;
}

int64_t TVEXTemporaryRecordManager::GetApproximateRecNo(int32_t /*SessionID*/,
                                                        TVEXPageItemID RecordID) {
  const int64_t n = NumberOf(RecordID);
  return n < FRecordCount ? n + 1 : -1;
}

void TVEXTemporaryRecordManager::CheckIntegrity() {
  std::string faults;
  const int64_t cached =
      FDisableTempFiles ? FRecordCount : std::min(FRecordCount, FMaxCachedRecordCount);
  if (FCachedRecordCount != cached) faults += "the cache holds the wrong number of records; ";
  if (FAllocatedRecordCount < FCachedRecordCount) faults += "the cache is too small; ";
  const int64_t spilled = FRecordCount - FCachedRecordCount;
  if ((spilled > 0) != (FTempPageFile != nullptr))
    faults += "the file exists without spilled records, or the reverse; ";
  if (FTempPageRecordCount > FRecordsPerPage || FTempPageRecordCount > spilled)
    faults += "too many records wait for the file; ";
  if (FTempPageFile != nullptr &&
      FTempPageFile->GetSize() < (spilled - FTempPageRecordCount) * FRecordBufferSize)
    faults += "the file is shorter than its records; ";
  if (!faults.empty()) throw EPageManagerIntegrityError("temporary record store: " + faults);
}

}  // namespace vex
