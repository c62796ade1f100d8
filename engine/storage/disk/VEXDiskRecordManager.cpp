#include "storage/disk/VEXDiskRecordManager.h"

#include <cstring>
#include <exception>

#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXPageHold.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex {

namespace {

// The free-space maps belong to the record manager's own page manager, so the
// database lock the caller holds is theirs too; the analysis cannot see that
// the two paths name one lock.
bool PageMarkedUsed(TVEXDatabaseFreeSpaceManager& Space,
                    int32_t PageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  return Space.GetPageUsageFromPFS(PageNo);
}

[[noreturn]] void RaiseRecordNotFound(int32_t Code) {
  throw EVEXException(Code, "Record not found");
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEXSmallRecordPage

TVEXSmallRecordPage::TVEXSmallRecordPage(TVEXPage* Page, int32_t RecordBufferSize,
                                         int32_t MaxRecordsOnPage)
    : LPage(Page),
      FRecordBufferSize(RecordBufferSize),
      FMaxRecordsOnPage(MaxRecordsOnPage),
      FRecordDataOffset(BitmapSize(MaxRecordsOnPage)) {
  if (RecordBufferSize < 1 || MaxRecordsOnPage < 1 ||
      static_cast<int64_t>(FRecordDataOffset) +
              static_cast<int64_t>(MaxRecordsOnPage) * RecordBufferSize >
          Page->PageDataSize()) {
    throw EVEXException(20140, "Invalid number of records on page");
  }
}

int32_t TVEXSmallRecordPage::MaxRecordsFor(int32_t PageDataSize, int32_t RecordSize) {
  if (RecordSize < 1 || PageDataSize < 2) return 0;
  const long double m =
      static_cast<long double>(PageDataSize - 1) / (static_cast<long double>(RecordSize) + 0.125L);
  return static_cast<int32_t>(m);
}

bool TVEXSmallRecordPage::IsUsed(int64_t Slot) const {
  if (Slot < 0 || Slot >= FMaxRecordsOnPage) return false;
  return (LPage->PageData()[Slot / 8] >> (Slot % 8)) & 1;
}

void TVEXSmallRecordPage::SetUsed(int32_t Slot, bool Used) {
  uint8_t& byte = LPage->PageData()[Slot / 8];
  const auto mask = static_cast<uint8_t>(1u << (Slot % 8));
  byte = Used ? static_cast<uint8_t>(byte | mask) : static_cast<uint8_t>(byte & ~mask);
  LPage->SetIsDirty(true);
}

uint8_t* TVEXSmallRecordPage::SlotData(int32_t Slot) const {
  return LPage->PageData() + FRecordDataOffset + static_cast<int64_t>(Slot) * FRecordBufferSize;
}

int64_t TVEXSmallRecordPage::RecordCount() const {
  int64_t count = 0;
  for (int32_t s = 0; s < FMaxRecordsOnPage; ++s) count += IsUsed(s) ? 1 : 0;
  return count;
}

void TVEXSmallRecordPage::AddRecord(const uint8_t* RecordBuffer, TVEXPageItemID& RecordID) {
  for (int32_t s = 0; s < FMaxRecordsOnPage; ++s) {
    if (IsUsed(s)) continue;
    std::memcpy(SlotData(s), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
    SetUsed(s, true);
    RecordID = {LPage->PageNo(), static_cast<uint16_t>(s)};
    return;
  }
  throw EVEXException(20141, "Cannot add record to page. Page is full");
}

bool TVEXSmallRecordPage::UpdateRecord(const uint8_t* RecordBuffer, TVEXPageItemID RecordID) {
  if (!IsUsed(RecordID.PageItemNo)) return false;
  std::memcpy(SlotData(RecordID.PageItemNo), RecordBuffer, static_cast<size_t>(FRecordBufferSize));
  LPage->SetIsDirty(true);
  return true;
}

bool TVEXSmallRecordPage::DeleteRecord(TVEXPageItemID RecordID) {
  if (!IsUsed(RecordID.PageItemNo)) return false;
  SetUsed(RecordID.PageItemNo, false);
  return true;
}

bool TVEXSmallRecordPage::GetRecordBuffer(TVEXPageItemID RecordID, uint8_t* RecordBuffer) const {
  if (!IsUsed(RecordID.PageItemNo)) return false;
  std::memcpy(RecordBuffer, SlotData(RecordID.PageItemNo), static_cast<size_t>(FRecordBufferSize));
  return true;
}

void TVEXSmallRecordPage::GetFirstRecordID(TVEXPageItemID& RecordID) const {
  RecordID.PageNo = LPage->PageNo();
  for (int32_t s = 0; s < FMaxRecordsOnPage; ++s) {
    if (IsUsed(s)) {
      RecordID.PageItemNo = static_cast<uint16_t>(s);
      return;
    }
  }
  throw EVEXException(20143, "Record not found. PageNo=%d, PageRecordCount=%d", LPage->PageNo(),
                      RecordCount());
}

void TVEXSmallRecordPage::GetLastRecordID(TVEXPageItemID& RecordID) const {
  RecordID.PageNo = LPage->PageNo();
  for (int32_t s = FMaxRecordsOnPage - 1; s >= 0; --s) {
    if (IsUsed(s)) {
      RecordID.PageItemNo = static_cast<uint16_t>(s);
      return;
    }
  }
  RaiseRecordNotFound(20144);
}

bool TVEXSmallRecordPage::GetNextRecordID(TVEXPageItemID& RecordID) const {
  RecordID.PageNo = LPage->PageNo();
  for (int32_t s = RecordID.PageItemNo + 1; s < FMaxRecordsOnPage; ++s) {
    if (IsUsed(s)) {
      RecordID.PageItemNo = static_cast<uint16_t>(s);
      return true;
    }
  }
  return false;
}

bool TVEXSmallRecordPage::GetPriorRecordID(TVEXPageItemID& RecordID) const {
  RecordID.PageNo = LPage->PageNo();
  for (int32_t s = std::min<int32_t>(RecordID.PageItemNo, FMaxRecordsOnPage) - 1; s >= 0; --s) {
    if (IsUsed(s)) {
      RecordID.PageItemNo = static_cast<uint16_t>(s);
      return true;
    }
  }
  return false;
}

void TVEXSmallRecordPage::GetRecordID(int32_t RecNoOnPage, TVEXPageItemID& RecordID) const {
  RecordID.PageNo = LPage->PageNo();
  int32_t seen = 0;
  for (int32_t s = 0; s < FMaxRecordsOnPage; ++s) {
    if (!IsUsed(s)) continue;
    if (seen++ == RecNoOnPage) {
      RecordID.PageItemNo = static_cast<uint16_t>(s);
      return;
    }
  }
  RaiseRecordNotFound(20146);
}

void TVEXSmallRecordPage::GetRecNoOnPage(TVEXPageItemID RecordID, int32_t& RecNoOnPage) const {
  RecNoOnPage = 0;
  const int32_t end = std::min<int32_t>(RecordID.PageItemNo, FMaxRecordsOnPage);
  for (int32_t s = 0; s < end; ++s) RecNoOnPage += IsUsed(s) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// TVEXDiskRecordManager

TVEXDiskRecordManager::TVEXDiskRecordManager(TVEXDiskPageManager* PageManager,
                                             TVEXBaseFieldManager* FieldManager, int32_t TableID)
    : FRecordPageIndex(PageManager),
      LPageManager(PageManager),
      LFieldManager(FieldManager),
      FTableID(TableID) {}

TVEXDiskRecordManager::~TVEXDiskRecordManager() = default;

void TVEXDiskRecordManager::Init(int32_t aRecordBufferSize, int32_t aDiskRecordBufferSize,
                                 int32_t FieldCount) {
  const int32_t m =
      TVEXSmallRecordPage::MaxRecordsFor(LPageManager->PageDataSize(), aDiskRecordBufferSize);
  if (m < 1) {
    throw EVEXException(20174,
                        "Cannot create table. Record is too large to fit in current database "
                        "page. Please increase page size of database file or decrease record size");
  }
  FRecordBufferSize = aRecordBufferSize;
  FDiskRecordBufferSize = aDiskRecordBufferSize;
  FTempDiskRecordBuffer.assign(static_cast<size_t>(aDiskRecordBufferSize), 0);
  FLastAutoIncValues.assign(static_cast<size_t>(std::max(FieldCount, 0)), 0);
  FMaxRecordsOnPage = m;
  FRecordPageIndex.SetMaxRecordsOnPage(m);
  FRecordCount = 0;
  FTableState = 0;
}

void TVEXDiskRecordManager::LoadMostUpdated(std::span<const uint8_t> Buf, int32_t& Offset) {
  if (Offset < 0 || static_cast<size_t>(Offset) + 8 > Buf.size()) {
    throw EVEXException(20164, "Invalid table header data");
  }
  int32_t state = 0;
  uint32_t count = 0;
  std::memcpy(&state, Buf.data() + Offset, 4);
  std::memcpy(&count, Buf.data() + Offset + 4, 4);
  FTableState = state;
  FRecordCount = count;
  Offset += 8;
}

void TVEXDiskRecordManager::SaveMostUpdated(std::span<uint8_t> Buf, int32_t& Offset) const {
  if (Offset < 0 || static_cast<size_t>(Offset) + 8 > Buf.size()) {
    throw EVEXException(20164, "Invalid table header data");
  }
  const auto count = static_cast<uint32_t>(static_cast<uint64_t>(FRecordCount));
  std::memcpy(Buf.data() + Offset, &FTableState, 4);
  std::memcpy(Buf.data() + Offset + 4, &count, 4);
  Offset += 8;
}

void TVEXDiskRecordManager::LoadMetadata(TVEXStream& Stream) {
  int32_t root = -1;
  Stream.ReadBuffer(&root, 4);
  FRecordPageIndex.OpenIndex(root);
}

void TVEXDiskRecordManager::SaveMetadata(TVEXStream& Stream) const {
  const int32_t root = FRecordPageIndex.RootPageNo();
  Stream.WriteBuffer(&root, 4);
}

void TVEXDiskRecordManager::CreateRecordPageIndex() { FRecordPageIndex.CreateIndex(-2); }

void TVEXDiskRecordManager::Empty(int32_t SessionID) {
  int32_t pageNo = 0;
  if (FRecordPageIndex.RootPageNo() != -1 &&
      FRecordPageIndex.GetFirstRecordPage(SessionID, pageNo)) {
    std::vector<int32_t> pages{pageNo};
    while (FRecordPageIndex.GetNextRecordPage(SessionID, pageNo, pageNo)) pages.push_back(pageNo);
    for (int32_t p : pages) LPageManager->RemovePage(SessionID, p);
  }
  // Emptying is a change like any other: a state the table had before must
  // not come back, or pages cached under it would pass for current.
  FTableState = static_cast<int32_t>(static_cast<uint32_t>(FTableState) + 1);
  if (FRecordPageIndex.RootPageNo() != -1) FRecordPageIndex.EmptyIndex(SessionID);
  FRecordCount = 0;
}

void TVEXDiskRecordManager::Delete(int32_t SessionID) {
  Empty(SessionID);
  if (FRecordPageIndex.RootPageNo() != -1) FRecordPageIndex.DropIndex(SessionID);
}

bool TVEXDiskRecordManager::AddRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                                      TVEXPageItemID& RecordID) {
  TVEXPageItemID added{-1, 0};
  bool newPage = false;
  try {
    int32_t pageNo = -1;
    TVEXPageHold hold;
    if (FRecordPageIndex.FindPageForNewRecord(SessionID, pageNo)) {
      hold = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, ptTableRecord, true);
    } else {
      hold = TVEXPageHold::Add(*LPageManager, SessionID, ptTableRecord);
      hold->PageHeader()->ObjectID = FTableID;
      hold->SetIsDirty(true);
      newPage = true;
    }
    LFieldManager->MemRecordBufferToDiskRecordBuffer(RecordBuffer, FTempDiskRecordBuffer.data());
    View(hold.Page()).AddRecord(FTempDiskRecordBuffer.data(), added);
    hold.Put();
    FRecordPageIndex.AddRecord(SessionID, added.PageNo, 1);
  } catch (const std::exception&) {
    // Nothing of a failed insert may stay behind: neither its slot nor a page
    // made for it, so the stored count keeps matching the pages.
    if (added.PageNo != -1) {
      try {
        if (newPage) {
          LPageManager->RemovePage(SessionID, added.PageNo);
        } else {
          TVEXPageHold hold =
              TVEXPageHold::Get(*LPageManager, SessionID, added.PageNo, ptTableRecord, true);
          View(hold.Page()).DeleteRecord(added);
          hold.Put();
        }
      } catch (const std::exception&) {
      }
    }
    return false;
  }
  RecordID = added;
  ++FRecordCount;
  ++FTableState;
  return true;
}

bool TVEXDiskRecordManager::UpdateRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                                         TVEXPageItemID RecordID) {
  TVEXPageHold hold =
      TVEXPageHold::Get(*LPageManager, SessionID, RecordID.PageNo, ptTableRecord, true);
  LFieldManager->MemRecordBufferToDiskRecordBuffer(RecordBuffer, FTempDiskRecordBuffer.data());
  const bool updated = View(hold.Page()).UpdateRecord(FTempDiskRecordBuffer.data(), RecordID);
  hold.Put();
  if (updated) ++FTableState;
  return updated;
}

bool TVEXDiskRecordManager::DeleteRecord(int32_t SessionID, TVEXPageItemID& RecordID) {
  TVEXPageHold hold =
      TVEXPageHold::Get(*LPageManager, SessionID, RecordID.PageNo, ptTableRecord, true);
  TVEXSmallRecordPage page = View(hold.Page());
  if (!page.DeleteRecord(RecordID)) return false;
  const auto remaining = static_cast<int32_t>(page.RecordCount());
  hold.Put();
  --FRecordCount;
  ++FTableState;
  if (remaining == 0) LPageManager->RemovePage(SessionID, RecordID.PageNo);
  FRecordPageIndex.DeleteRecord(SessionID, RecordID.PageNo, remaining);
  return true;
}

int32_t TVEXDiskRecordManager::CompareRecordID(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) {
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo > RecordID2.PageNo ? 1 : -1;
  if (RecordID1.PageItemNo != RecordID2.PageItemNo) {
    return RecordID1.PageItemNo > RecordID2.PageItemNo ? 1 : -1;
  }
  return 0;
}

bool TVEXDiskRecordManager::IsRecordPage(const TVEXPage& Page) const {
  if (LPageManager->FreeSpaceManager() != nullptr &&
      LPageManager->FreeSpaceManager()->SuppressDBHeaderErrors()) {
    return true;
  }
  if (LPageManager->DBHeader()->Version < kDBOldFormatVersion) return true;
  const TVEXDiskPageHeader* header = Page.PageHeader();
  int32_t state = 0;
  uint16_t type = 0;
  int32_t objectID = 0;
  std::memcpy(&state, &header->State, 4);
  std::memcpy(&type, &header->PageType, 2);
  std::memcpy(&objectID, &header->ObjectID, 4);
  return state <= 0x7FFFFFFD && type == ptTableRecord && objectID == FTableID;
}

void TVEXDiskRecordManager::Deliver(TVEXPage* Page, TVEXPageItemID RecordID,
                                    TVEXNavigationInfo& NavigationInfo, bool Always,
                                    int32_t NotReadCode) const {
  if (!View(Page).GetRecordBuffer(RecordID, const_cast<uint8_t*>(FTempDiskRecordBuffer.data()))) {
    RaiseRecordNotFound(NotReadCode);
  }
  if (NavigationInfo.RecordBuffer != nullptr || Always) {
    if (NavigationInfo.RecordBuffer != nullptr) {
      LFieldManager->DiskRecordBufferToMemRecordBuffer(FTempDiskRecordBuffer.data(),
                                                       NavigationInfo.RecordBuffer);
    }
  }
  NavigationInfo.RecordID = RecordID;
  NavigationInfo.FirstPosition = false;
  NavigationInfo.LastPosition = false;
  NavigationInfo.GetRecordResult = grrOK;
}

void TVEXDiskRecordManager::ReadEdgeOfPage(int32_t SessionID, int32_t PageNo, bool FromFirst,
                                           int32_t NotReadCode,
                                           TVEXNavigationInfo& NavigationInfo) {
  TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, PageNo, ptTableRecord, true);
  TVEXSmallRecordPage page = View(hold.Page());
  TVEXPageItemID id{PageNo, 0};
  if (FromFirst) {
    page.GetFirstRecordID(id);
  } else {
    page.GetLastRecordID(id);
  }
  Deliver(hold.Page(), id, NavigationInfo, false, NotReadCode);
  hold.Put();
}

void TVEXDiskRecordManager::ReadEdgeOfTable(int32_t SessionID, bool FromFirst,
                                            TVEXNavigationInfo& NavigationInfo) {
  int32_t pageNo = 0;
  const bool found = FromFirst ? FRecordPageIndex.GetFirstRecordPage(SessionID, pageNo)
                               : FRecordPageIndex.GetLastRecordPage(SessionID, pageNo);
  if (!found) {
    NavigationInfo.GetRecordResult = grrError;
    return;
  }
  TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, kAnyPageType, true);
  if (!IsRecordPage(*hold.Page())) {
    NavigationInfo.GetRecordResult = grrError;
    return;
  }
  TVEXPageItemID id{pageNo, 0};
  if (FromFirst) {
    View(hold.Page()).GetFirstRecordID(id);
  } else {
    View(hold.Page()).GetLastRecordID(id);
  }
  Deliver(hold.Page(), id, NavigationInfo, false, FromFirst ? 20145 : 20147);
  hold.Put();
}

bool TVEXDiskRecordManager::IndexedPageAfter(int32_t SessionID, int32_t PageNo, int32_t& Next) {
  int32_t p = 0;
  if (!FRecordPageIndex.GetFirstRecordPage(SessionID, p)) return false;
  while (p <= PageNo) {
    if (!FRecordPageIndex.GetNextRecordPage(SessionID, p, p)) return false;
  }
  Next = p;
  return true;
}

bool TVEXDiskRecordManager::IndexedPageBefore(int32_t SessionID, int32_t PageNo, int32_t& Prior) {
  int32_t p = 0;
  if (!FRecordPageIndex.GetLastRecordPage(SessionID, p)) return false;
  while (p >= PageNo) {
    if (!FRecordPageIndex.GetPriorRecordPage(SessionID, p, p)) return false;
  }
  Prior = p;
  return true;
}

void TVEXDiskRecordManager::GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo) {
  if (FRecordCount == 0) {
    NavigationInfo.GetRecordResult = grrEOF;
    return;
  }
  const TVEXGetRecordMode mode = NavigationInfo.GetRecordMode;
  if (NavigationInfo.FirstPosition) {
    if (mode == grmNext) {
      ReadEdgeOfTable(SessionID, true, NavigationInfo);
    } else if (mode == grmPrior) {
      NavigationInfo.SetEndOfMove();
    } else {
      NavigationInfo.GetRecordResult = grrError;
    }
    return;
  }
  if (NavigationInfo.LastPosition) {
    if (mode == grmPrior) {
      ReadEdgeOfTable(SessionID, false, NavigationInfo);
    } else if (mode == grmNext) {
      NavigationInfo.SetEndOfMove();
    } else {
      NavigationInfo.GetRecordResult = grrError;
    }
    return;
  }

  const int32_t pageNo = NavigationInfo.RecordID.PageNo;
  TVEXPageHold hold(*LPageManager,
                    LPageManager->GetPageIfInFile(SessionID, pageNo, kAnyPageType, true));
  if (!hold || !IsRecordPage(*hold.Page())) {
    hold.Put();
    // The page went away under the cursor: carry on from where it stood.
    int32_t other = 0;
    if (mode == grmNext) {
      if (IndexedPageAfter(SessionID, pageNo, other)) {
        ReadEdgeOfPage(SessionID, other, true, 20146, NavigationInfo);
      } else {
        NavigationInfo.SetEndOfMove();
      }
    } else if (mode == grmPrior) {
      if (IndexedPageBefore(SessionID, pageNo, other)) {
        ReadEdgeOfPage(SessionID, other, false, 20148, NavigationInfo);
      } else {
        NavigationInfo.SetEndOfMove();
      }
    } else {
      NavigationInfo.GetRecordResult = grrError;
    }
    return;
  }

  TVEXSmallRecordPage page = View(hold.Page());
  TVEXPageItemID id = NavigationInfo.RecordID;
  if (mode == grmCurrent) {
    if (!page.GetRecordBuffer(id, FTempDiskRecordBuffer.data())) {
      NavigationInfo.GetRecordResult = grrError;
      return;
    }
    Deliver(hold.Page(), id, NavigationInfo, true, 20145);
    return;
  }
  const bool onPage = mode == grmNext ? page.GetNextRecordID(id) : page.GetPriorRecordID(id);
  if (onPage) {
    Deliver(hold.Page(), id, NavigationInfo, false, mode == grmNext ? 20145 : 20147);
    return;
  }
  hold.Put();
  int32_t other = 0;
  // The current page may have left the index (its last record deleted by
  // this cursor's session while the page is still readable).
  if (mode == grmNext) {
    if (IndexedPageAfter(SessionID, pageNo, other)) {
      ReadEdgeOfPage(SessionID, other, true, 20146, NavigationInfo);
    } else {
      NavigationInfo.SetEndOfMove();
    }
  } else {
    if (IndexedPageBefore(SessionID, pageNo, other)) {
      ReadEdgeOfPage(SessionID, other, false, 20148, NavigationInfo);
    } else {
      NavigationInfo.SetEndOfMove();
    }
  }
}

void TVEXDiskRecordManager::SetRecNo(int32_t SessionID, int64_t RecNo, TVEXPageItemID& RecordID) {
  int32_t pageNo = 0;
  int32_t recNoOnPage = 0;
  FRecordPageIndex.GetRecordByRecNo(SessionID, RecNo - 1, pageNo, recNoOnPage);
  TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, ptTableRecord, true);
  View(hold.Page()).GetRecordID(recNoOnPage, RecordID);
  hold.Put();
}

void TVEXDiskRecordManager::GetRecNo(int32_t SessionID, TVEXPageItemID RecordID, int64_t& RecNo) {
  TVEXPageHold hold =
      TVEXPageHold::Get(*LPageManager, SessionID, RecordID.PageNo, ptTableRecord, true);
  int32_t recNoOnPage = 0;
  View(hold.Page()).GetRecNoOnPage(RecordID, recNoOnPage);
  hold.Put();
  FRecordPageIndex.GetRecNoByRecord(SessionID, RecordID.PageNo, recNoOnPage, RecNo);
  ++RecNo;
}

void TVEXDiskRecordManager::RebuildRecordPageIndex(int32_t SessionID) {
  FRecordPageIndex.CreateIndex(SessionID);
  FRecordCount = 0;
  const int32_t pageCount = LPageManager->PageCount();
  TVEXDatabaseFreeSpaceManager* space = LPageManager->FreeSpaceManager();
  for (int32_t pageNo = 1; pageNo < pageCount; ++pageNo) {
    int64_t count = 0;
    try {
      if (LPageManager->IsSystemPage(pageNo)) continue;
      TVEXPageHold hold;
      hold = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, ptTableRecord, true);
      int32_t objectID = 0;
      std::memcpy(&objectID, &hold->PageHeader()->ObjectID, 4);
      if (objectID != FTableID || !IsRecordPage(*hold.Page())) continue;
      if (space != nullptr && !PageMarkedUsed(*space, pageNo)) continue;
      count = View(hold.Page()).RecordCount();
      try {
        hold.Put();
      } catch (const std::exception&) {
      }
    } catch (const std::exception&) {
      continue;
    }
    if (count == 0) continue;
    FRecordPageIndex.AddRecord(SessionID, pageNo, static_cast<int32_t>(count));
    FRecordCount += count;
  }
}

void TVEXDiskRecordManager::ValidateRecordPageIndex(int32_t SessionID) {
  FRecordPageIndex.Validate(SessionID, FRecordCount);
}

}  // namespace vex
