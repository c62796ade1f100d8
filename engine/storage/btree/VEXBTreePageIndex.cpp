#include "storage/btree/VEXBTreePageIndex.h"

#include <cstring>

#include "foundation/VEXExcept.h"

namespace vex {

namespace {

constexpr const char* kIndexInvalidPageNumber = "Index error: invalid page number";
constexpr const char* kInvalidPageNumber = "Invalid page number";

}  // namespace

TVEXBTreePageIndex::TVEXBTreePageIndex(TVEXPageManager* PageManager) : LPageManager(PageManager) {}

TVEXBTreePagePtr TVEXBTreePageIndex::RootPage(int32_t SessionID, int32_t NoRootCode,
                                              const char* Message) {
  if (FRootPageNo == -1) throw EVEXException(NoRootCode, Message);
  return TVEXBTreePage::GetIndexPage(*LPageManager, FKeyRef, SessionID, FRootPageNo);
}

void TVEXBTreePageIndex::CreateIndex(int32_t SessionID) {
  TVEXBTreePagePtr root = TVEXBTreePage::AddIndexPage(*LPageManager, FKeyRef, SessionID);
  root->InitAsRoot();
  root->SetIsDirty(true);
  FRootPageNo = root->PageNo();
}

void TVEXBTreePageIndex::DropIndex(int32_t SessionID) {
  RootPage(SessionID, 20115, kIndexInvalidPageNumber)->FreeAllPages(SessionID, false);
  FRootPageNo = -1;
}

void TVEXBTreePageIndex::EmptyIndex(int32_t SessionID) {
  TVEXBTreePagePtr root = RootPage(SessionID, 20115, kIndexInvalidPageNumber);
  root->FreeAllPages(SessionID, true);
  root->InitAsRoot();
  root->SetIsDirty(true);
}

void TVEXBTreePageIndex::CheckIntegrity(int32_t SessionID) {
  TVEXKeyPath path;
  RootPage(SessionID, 20115, kIndexInvalidPageNumber)->CheckIntegrity(SessionID, path);
}

bool TVEXBTreePageIndex::FirstEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  Position.Clear();
  return RootPage(SessionID, 20115, kIndexInvalidPageNumber)->GetFirstPosition(SessionID, Position);
}

bool TVEXBTreePageIndex::LastEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  Position.Clear();
  return RootPage(SessionID, 20116, kIndexInvalidPageNumber)->GetLastPosition(SessionID, Position);
}

bool TVEXBTreePageIndex::NextEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  return MoveKeyPath(*LPageManager, FKeyRef, SessionID, Position, true, 20099, 20100);
}

bool TVEXBTreePageIndex::PriorEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  return MoveKeyPath(*LPageManager, FKeyRef, SessionID, Position, false, 20101, 20102);
}

bool TVEXBTreePageIndex::FindPage(int32_t SessionID, int32_t PageNo, TVEXKeyPath& Position) {
  Position.Clear();
  return RootPage(SessionID, 20117, kIndexInvalidPageNumber)
      ->FindByCondition(SessionID, true, reinterpret_cast<const uint8_t*>(&PageNo), scEqual,
                        Position);
}

uint16_t TVEXBTreePageIndex::GetValueAtPosition(int32_t SessionID, const TVEXKeyPath& Position) {
  TVEXBTreePagePtr leaf = GetLeafAtPosition(*LPageManager, FKeyRef, SessionID, Position, 20107);
  uint16_t value;
  std::memcpy(&value,
              leaf->GetPReference(Position.Items[static_cast<size_t>(Position.Count - 1)].EntryNo),
              2);
  return value;
}

int32_t TVEXBTreePageIndex::GetPageNoAtPosition(int32_t SessionID, const TVEXKeyPath& Position) {
  TVEXBTreePagePtr leaf = GetLeafAtPosition(*LPageManager, FKeyRef, SessionID, Position, 20103);
  int32_t pageNo;
  std::memcpy(&pageNo,
              leaf->GetPKey(Position.Items[static_cast<size_t>(Position.Count - 1)].EntryNo), 4);
  return pageNo;
}

void TVEXBTreePageIndex::SetValueAtPosition(int32_t SessionID, const TVEXKeyPath& Position,
                                            uint16_t Value) {
  TVEXBTreePagePtr leaf = GetLeafAtPosition(*LPageManager, FKeyRef, SessionID, Position, 20108);
  leaf->UpdateReference(Position.Items[static_cast<size_t>(Position.Count - 1)].EntryNo,
                        reinterpret_cast<const uint8_t*>(&Value));
  leaf->SetIsDirty(true);
}

bool TVEXBTreePageIndex::FindInEdgeLeaf(int32_t SessionID, const TVEXKeyPath& Position,
                                        bool FromEnd, int32_t Size, int32_t& PageNo) {
  TVEXBTreePagePtr leaf = GetLeafAtPosition(*LPageManager, FKeyRef, SessionID, Position, 20107);
  const int32_t n = leaf->EntryCount();
  const int32_t look = n == 1 ? 1 : n - 1;
  for (int32_t k = 0; k < look; ++k) {
    const int32_t no = FromEnd ? n - 1 - k : k;
    uint16_t value;
    std::memcpy(&value, leaf->GetPReference(no), 2);
    if (HasRoomOnPage(value, Size)) {
      std::memcpy(&PageNo, leaf->GetPKey(no), 4);
      return true;
    }
  }
  return false;
}

bool TVEXBTreePageIndex::FindPageWithRoom(int32_t SessionID, int32_t Size, int32_t& PageNo) {
  TVEXKeyPath path;
  if (!LastEntryPosition(SessionID, path)) return false;
  if (FindInEdgeLeaf(SessionID, path, true, Size, PageNo)) return true;
  if (!FirstEntryPosition(SessionID, path)) return false;
  return FindInEdgeLeaf(SessionID, path, false, Size, PageNo);
}

void TVEXBTreePageIndex::AddToPage(int32_t SessionID, int32_t Size, int32_t PageNo) {
  if (FRootPageNo == -1) throw EVEXException(20118, kIndexInvalidPageNumber);
  TVEXKeyPath path;
  if (!FindPage(SessionID, PageNo, path)) {
    // A count that does not fit its 16 bits would be stored wrong.
    if (Size <= 0 || Size > 0xFFFF)
      throw EVEXException(20106, "Cannot add data item to page. Page is full");
    const uint16_t value = static_cast<uint16_t>(Size);
    TVEXKeyPath insertPath;
    RootPage(SessionID, 20118, kIndexInvalidPageNumber)
        ->InsertLeafEntry(SessionID, reinterpret_cast<const uint8_t*>(&PageNo),
                          reinterpret_cast<const uint8_t*>(&value), insertPath);
    return;
  }
  const uint16_t value = GetValueAtPosition(SessionID, path);
  if (!HasRoomOnPage(value, Size) || value + Size > 0xFFFF)
    throw EVEXException(20106, "Cannot add data item to page. Page is full");
  SetValueAtPosition(SessionID, path, static_cast<uint16_t>(value + Size));
}

void TVEXBTreePageIndex::SubtractFromPage(int32_t SessionID, int32_t Size, int32_t NewValue,
                                          int32_t PageNo) {
  if (FRootPageNo == -1) throw EVEXException(20110, kInvalidPageNumber);
  TVEXKeyPath path;
  if (!FindPage(SessionID, PageNo, path)) throw EVEXException(20111, kInvalidPageNumber);
  const uint16_t value = GetValueAtPosition(SessionID, path);
  int32_t newValue = NewValue;
  if (NewValue < 0) {
    if (value == 0) throw EVEXException(20112, "Index error: page is empty");
    // A caller never takes more than it added; a count cannot go below 0.
    newValue = value > Size ? value - Size : 0;
  }
  if (newValue != 0) {
    SetValueAtPosition(SessionID, path, static_cast<uint16_t>(newValue));
    return;
  }
  TVEXKeyPath deletePath;
  RootPage(SessionID, 20110, kInvalidPageNumber)
      ->DeleteLeafEntry(SessionID, reinterpret_cast<const uint8_t*>(&PageNo),
                        reinterpret_cast<const uint8_t*>(&value), deletePath);
}

// --- Record pages -------------------------------------------------------------------

bool TVEXBTreeRecordPageIndex::HasRoomOnPage(uint16_t Value, int32_t /*Size*/) {
  return Value < FMaxRecordsOnPage;
}

bool TVEXBTreeRecordPageIndex::GetFirstRecordPage(int32_t SessionID, int32_t& PageNo) {
  TVEXKeyPath path;
  if (!FirstEntryPosition(SessionID, path)) return false;
  PageNo = GetPageNoAtPosition(SessionID, path);
  return true;
}

bool TVEXBTreeRecordPageIndex::GetLastRecordPage(int32_t SessionID, int32_t& PageNo) {
  TVEXKeyPath path;
  if (!LastEntryPosition(SessionID, path)) return false;
  PageNo = GetPageNoAtPosition(SessionID, path);
  return true;
}

bool TVEXBTreeRecordPageIndex::GetNextRecordPage(int32_t SessionID, int32_t CurrentPageNo,
                                                 int32_t& NextPageNo) {
  TVEXKeyPath path;
  if (!FindPage(SessionID, CurrentPageNo, path)) throw EVEXException(20104, kInvalidPageNumber);
  if (!NextEntryPosition(SessionID, path)) return false;
  NextPageNo = GetPageNoAtPosition(SessionID, path);
  return true;
}

bool TVEXBTreeRecordPageIndex::GetPriorRecordPage(int32_t SessionID, int32_t CurrentPageNo,
                                                  int32_t& PriorPageNo) {
  TVEXKeyPath path;
  if (!FindPage(SessionID, CurrentPageNo, path)) throw EVEXException(20105, kInvalidPageNumber);
  if (!PriorEntryPosition(SessionID, path)) return false;
  PriorPageNo = GetPageNoAtPosition(SessionID, path);
  return true;
}

void TVEXBTreeRecordPageIndex::GetRecordByRecNo(int32_t SessionID, int64_t RecNo,
                                                int32_t& PageNo, int32_t& RecNoOnPage) {
  TVEXKeyPath path;
  if (RecNo >= 0 && FirstEntryPosition(SessionID, path)) {
    int64_t total = 0;
    do {
      const uint16_t count = GetValueAtPosition(SessionID, path);
      if (RecNo < total + count) {
        PageNo = GetPageNoAtPosition(SessionID, path);
        RecNoOnPage = static_cast<int32_t>(RecNo - total);
        return;
      }
      total += count;
    } while (NextEntryPosition(SessionID, path));
  }
  throw EVEXException(20113, "Cannot set RecNo greater than RecordCount");
}

void TVEXBTreeRecordPageIndex::GetRecNoByRecord(int32_t SessionID, int32_t PageNo,
                                                int32_t RecNoOnPage, int64_t& RecNo) {
  TVEXKeyPath path;
  if (!FindPage(SessionID, PageNo, path)) throw EVEXException(20114, kInvalidPageNumber);
  int64_t before = 0;
  while (PriorEntryPosition(SessionID, path)) before += GetValueAtPosition(SessionID, path);
  RecNo = before + RecNoOnPage;
}

void TVEXBTreeRecordPageIndex::Validate(int32_t SessionID, int64_t StoredRecordCount) {
  int64_t total = 0;
  TVEXKeyPath path;
  if (FirstEntryPosition(SessionID, path)) {
    do {
      total += GetValueAtPosition(SessionID, path);
    } while (NextEntryPosition(SessionID, path));
  }
  if (total != StoredRecordCount)
    throw EVEXException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. "
                        "RecordPageIndex.RecordCount=%d, MostUpdated.RecordCount=%d",
                        total, StoredRecordCount);
}

// --- BLOB pages ----------------------------------------------------------------------

bool TVEXBTreeBlobPageIndex::HasRoomOnPage(uint16_t Value, int32_t Size) {
  return Value + Size < PageManager()->PageDataSize() - 2;
}

int32_t TVEXBTreeBlobPageIndex::GetBlobPageAllocatedSpace(int32_t SessionID, int32_t PageNo) {
  TVEXKeyPath path;
  if (!FindPage(SessionID, PageNo, path)) return -1;
  return GetValueAtPosition(SessionID, path);
}

}  // namespace vex
