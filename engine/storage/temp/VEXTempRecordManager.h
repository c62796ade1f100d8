// The records of one temporary table: appended only, kept in a RAM cache up
// to a tenth of the free memory at creation, and beyond that in a temporary
// file ("VEX..." in the temporary folder, unlinked at once), written one
// record behind.
//
// Record n (0-based, in insertion order) has the id of the low 48 bits of n:
// PageNo = bits 0-31, PageItemNo = bits 32-47. Records below
// FMaxCachedRecordCount lie in the cache at n * RecordBufferSize; the others
// lie in the file at (n - FMaxCachedRecordCount) * RecordBufferSize
// (docs/file-formats.md, "Temporary record file"), and the last of them may
// still wait in FTempPage until the next spilled record or the next read.
//
// Design notes
//   1. Records are never changed or removed one by one: UpdateRecord and
//      DeleteRecord refuse, Empty removes them all.
//   2. FCachedRecordCount = min(RecordCount, FMaxCachedRecordCount) (all
//      records with temporary files disabled); FAllocatedRecordCount >=
//      FCachedRecordCount.
//   3. The file exists exactly while a record lies beyond the cache; its
//      length plus the records waiting in FTempPage covers every such record,
//      and FTempPageRecordCount <= FRecordsPerPage.
//   4. TableState advances with every append and with Empty, so views and
//      position caches taken before an append are known to be stale.
//   5. The cache limit is fixed at creation and does not follow later changes
//      of free memory.
//
// Threads: no lock; the table data calls it under its database's lock.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "storage/VEXIndexManager.h"

namespace vex {

class TVEXTemporaryRecordManager : public TVEXBaseRecordManager {
 public:
  // 10124 "Invalid record size = 0"; RecordsPerPage 0 counts as 1.
  TVEXTemporaryRecordManager(int32_t RecordBufferSize, int32_t RecordsPerPage,
                             int32_t AllocRecordsBy, bool DisableTempFiles);
  ~TVEXTemporaryRecordManager() override;

  static TVEXPageItemID IDOf(int64_t N);
  static int64_t NumberOf(TVEXPageItemID RecordID);

  int64_t MaxCachedRecordCount() const { return FMaxCachedRecordCount; }
  int64_t CachedRecordCount() const { return FCachedRecordCount; }
  int32_t TempPageRecordCount() const { return FTempPageRecordCount; }
  bool HasTempFile() const { return FTempPageFile != nullptr; }

  // No record left; the file is closed, which deletes it.
  void Empty(int32_t SessionID) override;
  // Appends; false (nothing changed) on any failure.
  bool AddRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                 TVEXPageItemID& RecordID) override;
  // Refused (note 1).
  bool UpdateRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                    TVEXPageItemID RecordID) override;
  bool DeleteRecord(int32_t SessionID, TVEXPageItemID& RecordID) override;
  // Insertion order. 10127 when a cached record cannot be copied out, 10129 /
  // 10130 when the file cannot be positioned or read; 10125, 10126, 10128
  // when waiting records cannot be written out first.
  void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo) override;
  // The ids as 48-bit numbers: -1, 0 or 1.
  int32_t CompareRecordID(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) override;
  // n + 1 for a record n that exists, else -1.
  int64_t GetApproximateRecNo(int32_t SessionID, TVEXPageItemID RecordID) override;

  // The notes above; raises EPageManagerIntegrityError naming what is broken.
  void CheckIntegrity();

 private:
  bool InCache(int64_t N) const { return FDisableTempFiles || N < FMaxCachedRecordCount; }
  void GrowCache();
  void WriteTempPage();
  void ReadFileRecord(int64_t N, uint8_t* Buffer);

  int32_t FRecordsPerPage;
  int32_t FPageSize;
  int64_t FCachedRecordCount = 0;
  TVEXMemBlock FCache;
  int64_t FAllocatedRecordCount = 0;
  TVEXMemBlock FTempPage;
  int32_t FTempPageRecordCount = 0;
  std::unique_ptr<TVEXFileStream> FTempPageFile;
  int64_t FMaxCachedRecordCount;
  int32_t FAllocRecordsBy;
  bool FDisableTempFiles;
};

}  // namespace vex
