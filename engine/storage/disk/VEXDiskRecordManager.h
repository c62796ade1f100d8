// Record storage of one disk table: fixed-size records in record pages (page
// type 10), found through the table's record-page index (a B-tree keyed by
// page number holding each page's record count, btree/VEXBTreePageIndex.h).
//
// Record page, data area (docs/file-formats.md, "Record pages"):
//   [slot bitmap: ceil(M / 8) bytes][M slots of R bytes][unused]
// where R is the disk record size and M = trunc((PageDataSize - 1) /
// (R + 0.125)). TVEXSmallRecordPage is the one place that reads and writes it.
//
// Design notes
//   1. M is the same for every record page of a table, and
//      ceil(M / 8) + M x R <= PageDataSize (TVEXSmallRecordPage raises 20140
//      otherwise). Bits of slots >= M in the last bitmap byte are never read
//      as records, so a damaged byte cannot name a slot beyond the page.
//   2. A record page is in the index exactly while it holds at least one
//      record, and the index's count for it is the number of set slot bits.
//      AddRecord enters a new page after it stored the record; DeleteRecord
//      removes a page whose last record went.
//   3. RecordCount is the sum of the index's counts (ValidateRecordPageIndex
//      checks it, RebuildRecordPageIndex restores it from the pages).
//   4. TableState advances by exactly one for each add, update, delete or
//      Empty that took effect, and by nothing for one that failed: a failed
//      AddRecord clears its slot again and leaves both numbers as they were.
//   5. Physical order is ascending page number, then ascending slot. A scan
//      whose current page was removed meanwhile continues with the nearest
//      indexed page after it (grmNext) or before it (grmPrior).
//   6. Every page taken is given back on every way out (TVEXPageHold).
//
// Threads: no lock of its own. Every operation REQUIRES the owning database's
// lock (the page manager's DatabaseLock()); between connections the table
// data holds the table and record locks around record changes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "foundation/VEXLock.h"
#include "storage/VEXIndexManager.h"
#include "storage/btree/VEXBTreePageIndex.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

class TVEXBaseFieldManager;
class TVEXStream;

// A short-lived view of one record page; the page is not owned. Methods that
// change the page set its IsDirty. Every RecordID given out carries the page's
// number; a slot number at or beyond M counts as a free slot.
class TVEXSmallRecordPage {
 public:
  // 20140 "Invalid number of records on page" when the bitmap and the slots
  // do not fit in the page's data area (or M or R is below 1).
  TVEXSmallRecordPage(TVEXPage* Page, int32_t RecordBufferSize, int32_t MaxRecordsOnPage);

  // trunc((PageDataSize - 1) / (RecordSize + 0.125)), 0 when nothing fits.
  static int32_t MaxRecordsFor(int32_t PageDataSize, int32_t RecordSize);
  static int32_t BitmapSize(int32_t MaxRecordsOnPage) { return (MaxRecordsOnPage + 7) / 8; }

  // Set bits among the M slot bits.
  int64_t RecordCount() const;
  // The lowest free slot; 20141 "Cannot add record to page. Page is full".
  void AddRecord(const uint8_t* RecordBuffer, TVEXPageItemID& RecordID);
  // False for a free slot.
  bool UpdateRecord(const uint8_t* RecordBuffer, TVEXPageItemID RecordID);
  bool DeleteRecord(TVEXPageItemID RecordID);
  bool GetRecordBuffer(TVEXPageItemID RecordID, uint8_t* RecordBuffer) const;
  // 20143 "Record not found. PageNo=%d, PageRecordCount=%d" / 20144 "Record
  // not found" on a page without records.
  void GetFirstRecordID(TVEXPageItemID& RecordID) const;
  void GetLastRecordID(TVEXPageItemID& RecordID) const;
  // The next / previous used slot; false when there is none.
  bool GetNextRecordID(TVEXPageItemID& RecordID) const;
  bool GetPriorRecordID(TVEXPageItemID& RecordID) const;
  // The used slot of 0-based ordinal RecNoOnPage; 20146 "Record not found".
  void GetRecordID(int32_t RecNoOnPage, TVEXPageItemID& RecordID) const;
  // The number of used slots below the record's slot.
  void GetRecNoOnPage(TVEXPageItemID RecordID, int32_t& RecNoOnPage) const;

 private:
  bool IsUsed(int64_t Slot) const;
  void SetUsed(int32_t Slot, bool Used);
  uint8_t* SlotData(int32_t Slot) const;

  TVEXPage* LPage;
  int32_t FRecordBufferSize;
  int32_t FMaxRecordsOnPage;
  int32_t FRecordDataOffset;
};

class TVEXDiskRecordManager : public TVEXBaseRecordManager {
 public:
  // Touches no page. TableID is the ObjectID of the table's record pages.
  TVEXDiskRecordManager(TVEXDiskPageManager* PageManager, TVEXBaseFieldManager* FieldManager,
                        int32_t TableID);
  ~TVEXDiskRecordManager() override;
  TVEXDiskRecordManager(const TVEXDiskRecordManager&) = delete;
  TVEXDiskRecordManager& operator=(const TVEXDiskRecordManager&) = delete;

  TVEXBTreeRecordPageIndex& RecordPageIndex() { return FRecordPageIndex; }
  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  int32_t DiskRecordBufferSize() const { return FDiskRecordBufferSize; }
  const std::vector<int64_t>& LastAutoIncValues() const { return FLastAutoIncValues; }

  // Sets the layout; 20174 "Cannot create table. Record is too large ..."
  // when not one record fits on a page. RecordCount and TableState become 0.
  void Init(int32_t aRecordBufferSize, int32_t aDiskRecordBufferSize, int32_t FieldCount);

  // TableState Int32, RecordCount low 32 bits (read back unsigned) at
  // Buf[Offset]; Offset moves on by 8. 20164 "Invalid table header data" when
  // the 8 bytes do not fit in Buf.
  void LoadMostUpdated(std::span<const uint8_t> Buf, int32_t& Offset);
  void SaveMostUpdated(std::span<uint8_t> Buf, int32_t& Offset) const;
  // The root page number of the record-page index, Int32.
  void LoadMetadata(TVEXStream& Stream);
  void SaveMetadata(TVEXStream& Stream) const;
  // A new empty index in the system session (-2).
  void CreateRecordPageIndex() VEX_REQUIRES(LPageManager->DatabaseLock());

  void Empty(int32_t SessionID) override VEX_REQUIRES(LPageManager->DatabaseLock());
  // Empty, then the index with its root page goes.
  void Delete(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // False, with nothing changed, on any failure.
  bool AddRecord(int32_t SessionID, const uint8_t* RecordBuffer, TVEXPageItemID& RecordID) override
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // False for a free slot; page errors propagate.
  bool UpdateRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                    TVEXPageItemID RecordID) override VEX_REQUIRES(LPageManager->DatabaseLock());
  bool DeleteRecord(int32_t SessionID, TVEXPageItemID& RecordID) override
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo) override
      VEX_REQUIRES(LPageManager->DatabaseLock());
  int32_t CompareRecordID(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) override;
  int64_t GetApproximateRecNo(int32_t, TVEXPageItemID) override { return FRecordCount / 2; }

  // 1-based record numbers in physical order; 20113 beyond the records.
  void SetRecNo(int32_t SessionID, int64_t RecNo, TVEXPageItemID& RecordID)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void GetRecNo(int32_t SessionID, TVEXPageItemID RecordID, int64_t& RecNo)
      VEX_REQUIRES(LPageManager->DatabaseLock());

  // A new index from the record pages of the file that belong to the table.
  void RebuildRecordPageIndex(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // 20292 when the index's counts do not add up to RecordCount.
  void ValidateRecordPageIndex(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());

  // Whether a page's header shows a live record page of this table (always
  // true for old-format files or while header errors are suppressed).
  bool IsRecordPage(const TVEXPage& Page) const;

 private:
  TVEXSmallRecordPage View(TVEXPage* Page) const {
    return TVEXSmallRecordPage(Page, FDiskRecordBufferSize, FMaxRecordsOnPage);
  }
  // Reads the slot into the navigation's buffer; the position flags clear.
  void Deliver(TVEXPage* Page, TVEXPageItemID RecordID, TVEXNavigationInfo& NavigationInfo,
               bool Always, int32_t NotReadCode) const;
  // The first (FromFirst) or last record of the table, through the record-page
  // index; grrError when the index names no record page.
  void ReadEdgeOfTable(int32_t SessionID, bool FromFirst, TVEXNavigationInfo& NavigationInfo)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // The first (FromFirst) or last used slot of an indexed page fetched as
  // type 10 into NavigationInfo; NotReadCode when it cannot be read.
  void ReadEdgeOfPage(int32_t SessionID, int32_t PageNo, bool FromFirst, int32_t NotReadCode,
                      TVEXNavigationInfo& NavigationInfo)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // The nearest indexed page above / below PageNo, which need not be indexed.
  bool IndexedPageAfter(int32_t SessionID, int32_t PageNo, int32_t& Next);
  bool IndexedPageBefore(int32_t SessionID, int32_t PageNo, int32_t& Prior);

  TVEXBTreeRecordPageIndex FRecordPageIndex;
  TVEXDiskPageManager* LPageManager;
  TVEXBaseFieldManager* LFieldManager;
  int32_t FTableID;
  int32_t FMaxRecordsOnPage = 0;
  std::vector<int64_t> FLastAutoIncValues;
  int32_t FDiskRecordBufferSize = 0;
  std::vector<uint8_t> FTempDiskRecordBuffer;
};

}  // namespace vex
