#include "storage/btree/VEXBTreeRecordIndex.h"

#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXMetaDefs.h"

namespace vex {

namespace {

constexpr int32_t kSystemSession = -2;

[[noreturn]] void RaiseInvalidPageNumber(int32_t Code) {
  throw EVEXException(Code, "Invalid page number");
}

[[noreturn]] void RaiseCircularLinks(int32_t PageNo) {
  throw EVEXException(20032, "Index integrity error. Circular links. PageNo=%d EntryNo=%d", PageNo,
                      0);
}

const TVEXKeyPath& AsPath(const TVEXIndexPosition& Position) {
  return static_cast<const TVEXKeyPath&>(Position);
}

// Restores a key reference's compared column count and partial compare on
// every way out.
class CompareStateGuard {
 public:
  explicit CompareStateGuard(TVEXRecordKeyRef& KeyRef) : FKeyRef(KeyRef) {}
  ~CompareStateGuard() {
    FKeyRef.SetCompareFieldCount(FKeyRef.PartCount());
    FKeyRef.SetPartialCompare(nullptr, false);
  }
  CompareStateGuard(const CompareStateGuard&) = delete;
  CompareStateGuard& operator=(const CompareStateGuard&) = delete;

 private:
  TVEXRecordKeyRef& FKeyRef;
};

}  // namespace

TVEXBTreeRecordIndex::TVEXBTreeRecordIndex(TVEXBaseIndexManager* aIndexManager,
                                           TVEXIndexRecordScanner* Scanner)
    : TVEXIndex(aIndexManager), FScanner(Scanner) {}

TVEXBTreeRecordIndex::~TVEXBTreeRecordIndex() = default;

TVEXPageManager& TVEXBTreeRecordIndex::PageManager() const {
  TVEXPageManager* manager = FIndexManager->GetPageManager(*this);
  if (manager == nullptr) throw EVEXException(20044, "Pointer is nil");
  return *manager;
}

void TVEXBTreeRecordIndex::BuildKeyRef() {
  auto keyRef = std::make_unique<TVEXRecordKeyRef>();
  keyRef->Assign(*FIndexDef, &FIndexManager->TableData());
  keyRef->SetReferenceSize(sizeof(TVEXPageItemID));
  FKeyRef = std::move(keyRef);
}

TVEXBTreePagePtr TVEXBTreeRecordIndex::RootPage(int32_t SessionID, int32_t NoRootCode) {
  if (FIndexDef == nullptr || FIndexDef->RootPageNo == -1) RaiseInvalidPageNumber(NoRootCode);
  return TVEXBTreePage::GetIndexPage(PageManager(), *FKeyRef, SessionID, FIndexDef->RootPageNo);
}

TVEXMemBlock TVEXBTreeRecordIndex::MakeShortKey(const uint8_t* RecordBuffer) {
  TVEXMemBlock key = FKeyRef->AllocShortKeyBuffer();
  FKeyRef->MakeShortKeyFromRecordBuffer(RecordBuffer, key.As<uint8_t>());
  return key;
}

// --- Life of the tree -------------------------------------------------------------

void TVEXBTreeRecordIndex::CreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& aIndexDef) {
  TVEXIndex::CreateIndex(Cursor, aIndexDef);
  BuildKeyRef();
  TVEXPageManager& pages = PageManager();
  // Both kinds of page must take two entries, or splits never end.
  const int32_t room = pages.PageDataSize() - TVEXBTreePage::kHeaderSize;
  const int32_t entry = FKeyRef->ShortKeySize() + static_cast<int32_t>(sizeof(TVEXPageItemID));
  if (room / entry < 2)
    throw EVEXException(20026, "Index key of %d bytes is too long for index pages of %d bytes",
                        FKeyRef->ShortKeySize(), static_cast<int32_t>(pages.PageSize()));
  const int32_t sessionID = Cursor != nullptr ? Cursor->GetSessionID() : kSystemSession;
  {
    TVEXBTreePagePtr root = TVEXBTreePage::AddIndexPage(pages, *FKeyRef, sessionID);
    root->InitAsRoot();
    root->SetIsDirty(true);
    FIndexDef->RootPageNo = root->PageNo();
    aIndexDef.RootPageNo = root->PageNo();
  }
  if (Cursor == nullptr) return;
  if (FScanner == nullptr)
    throw EVEXException(20036, "Cannot fill index: no record scan is available");
  std::unique_ptr<TVEXIndexRecordScan> scan = FScanner->OpenRecordScan(*Cursor);
  while (scan->Next()) InsertRecord(scan->Cursor());
}

void TVEXBTreeRecordIndex::DropIndex(int32_t SessionID) {
  RootPage(SessionID, 20119)->FreeAllPages(SessionID, false);
}

void TVEXBTreeRecordIndex::EmptyIndex(int32_t SessionID) {
  TVEXBTreePagePtr root = RootPage(SessionID, 20120);
  root->FreeAllPages(SessionID, true);
  root->InitAsRoot();
  root->SetIsDirty(true);
}

void TVEXBTreeRecordIndex::OpenIndex(const TVEXIndexDef& aIndexDef) {
  TVEXIndex::OpenIndex(aIndexDef);
  BuildKeyRef();
}

void TVEXBTreeRecordIndex::RebuildTemporaryIndex(TVEXManagerCursor* Cursor) {
  const int32_t sessionID = Cursor != nullptr ? Cursor->GetSessionID() : kSystemSession;
  DropIndex(sessionID);
  CreateIndex(Cursor, *FIndexDef);
}

void TVEXBTreeRecordIndex::CheckIntegrity(int32_t SessionID) {
  TVEXKeyPath path;
  RootPage(SessionID, 20119)->CheckIntegrity(SessionID, path);
}

// --- Positions ---------------------------------------------------------------------

TVEXPageItemID TVEXBTreeRecordIndex::GetReferenceAtPosition(int32_t SessionID,
                                                            const TVEXKeyPath& Position) {
  TVEXBTreePagePtr leaf = GetLeafAtPosition(PageManager(), *FKeyRef, SessionID, Position, 20068);
  TVEXPageItemID id;
  std::memcpy(&id,
              leaf->GetPReference(Position.Items[static_cast<size_t>(Position.Count - 1)].EntryNo),
              sizeof(id));
  return id;
}

bool TVEXBTreeRecordIndex::FirstEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  Position.Clear();
  return RootPage(SessionID, 20121)->GetFirstPosition(SessionID, Position);
}

bool TVEXBTreeRecordIndex::LastEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  Position.Clear();
  return RootPage(SessionID, 20122)->GetLastPosition(SessionID, Position);
}

bool TVEXBTreeRecordIndex::NextEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  return MoveKeyPath(PageManager(), *FKeyRef, SessionID, Position, true, 20069, 20070);
}

bool TVEXBTreeRecordIndex::PriorEntryPosition(int32_t SessionID, TVEXKeyPath& Position) {
  return MoveKeyPath(PageManager(), *FKeyRef, SessionID, Position, false, 20069, 20071);
}

std::unique_ptr<TVEXIndexPosition> TVEXBTreeRecordIndex::CreateIndexPosition() {
  return std::make_unique<TVEXKeyPath>();
}

bool TVEXBTreeRecordIndex::GetIndexPosition(int32_t SessionID, TVEXPageItemID RecordID,
                                            const uint8_t* RecordBuffer,
                                            TVEXIndexPosition& IndexPosition) {
  TVEXKeyPath& path = static_cast<TVEXKeyPath&>(IndexPosition);
  path.Clear();
  TVEXBTreePagePtr root = RootPage(SessionID, 20124);
  TVEXMemBlock key = MakeShortKey(RecordBuffer);
  return root->FindEntry(SessionID, key.As<uint8_t>(), reinterpret_cast<const uint8_t*>(&RecordID),
                         path);
}

int32_t TVEXBTreeRecordIndex::CompareRecordPositionsInIndex(const TVEXIndexPosition& Position1,
                                                            const TVEXIndexPosition& Position2) {
  return AsPath(Position1).Compare(AsPath(Position2));
}

// --- Navigation ----------------------------------------------------------------------

void TVEXBTreeRecordIndex::ReadAtPosition(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                                          const TVEXKeyPath& Position,
                                          TVEXIndexPositionCache* IndexPositionCache,
                                          int32_t TableState) {
  NavigationInfo.GetRecordResult = grrOK;
  NavigationInfo.FirstPosition = false;
  NavigationInfo.LastPosition = false;
  NavigationInfo.RecordID = GetReferenceAtPosition(SessionID, Position);
  const TVEXGetRecordMode mode = NavigationInfo.GetRecordMode;
  NavigationInfo.GetRecordMode = grmCurrent;
  {
    ScopeExit restore([&] { NavigationInfo.GetRecordMode = mode; });
    FIndexManager->TableData().GetRecordManager()->GetRecordBuffer(SessionID, NavigationInfo);
  }
  if (IndexPositionCache == nullptr) return;
  IndexPositionCache->IndexID = FIndexDef->ObjectID;
  IndexPositionCache->TableState = TableState;
  IndexPositionCache->RecordID = NavigationInfo.RecordID;
  if (dynamic_cast<TVEXKeyPath*>(IndexPositionCache->Position.get()) == nullptr)
    IndexPositionCache->Position = std::make_unique<TVEXKeyPath>();
  static_cast<TVEXKeyPath&>(*IndexPositionCache->Position).Assign(Position);
}

void TVEXBTreeRecordIndex::GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                                           TVEXIndexPositionCache* IndexPositionCache,
                                           int32_t TableState) {
  if (FIndexDef == nullptr || FIndexDef->RootPageNo == -1) RaiseInvalidPageNumber(20123);
  if (NavigationInfo.GetRecordMode == grmCurrent)
    throw EVEXException(20053, "Invalid 'get record' mode for index: grmCurrent");
  TVEXKeyPath path;
  bool moved;
  bool refound = false;
  if (NavigationInfo.FirstPosition || NavigationInfo.LastPosition) {
    const bool found = NavigationInfo.FirstPosition ? FirstEntryPosition(SessionID, path)
                                                    : LastEntryPosition(SessionID, path);
    if (!found) {
      NavigationInfo.GetRecordResult = grrError;
      return;
    }
    moved = true;
  } else {
    const auto* cached = IndexPositionCache != nullptr
                             ? dynamic_cast<const TVEXKeyPath*>(IndexPositionCache->Position.get())
                             : nullptr;
    if (cached != nullptr && cached->Count > 0 &&
        IndexPositionCache->IndexID == FIndexDef->ObjectID &&
        IndexPositionCache->RecordID.PageNo == NavigationInfo.RecordID.PageNo &&
        IndexPositionCache->RecordID.PageItemNo == NavigationInfo.RecordID.PageItemNo &&
        IndexPositionCache->TableState == TableState) {
      path.Assign(*cached);
    } else if (!GetIndexPosition(SessionID, NavigationInfo.RecordID, NavigationInfo.RecordBuffer,
                                 path)) {
      NavigationInfo.GetRecordResult = grrError;
      return;
    } else {
      refound = true;
    }
    moved = NavigationInfo.GetRecordMode == grmNext ? NextEntryPosition(SessionID, path)
                                                    : PriorEntryPosition(SessionID, path);
    if (moved && refound) CheckStepLeaves(SessionID, NavigationInfo, path);
  }
  if (moved) {
    ReadAtPosition(SessionID, NavigationInfo, path, IndexPositionCache, TableState);
  } else {
    NavigationInfo.SetEndOfMove();
  }
}

// A position found again from a record's contents is the first entry with
// its key and record id. In a sound tree that is the entry being left, and
// the step lands strictly beyond it in (key, record id) order. In a damaged
// tree the same pair may stand twice, and the walk would go back to the first
// copy and round for ever: a step that does not move on in that order raises
// 20035 instead, so every walk ends.
void TVEXBTreeRecordIndex::CheckStepLeaves(int32_t SessionID,
                                           const TVEXNavigationInfo& NavigationInfo,
                                           const TVEXKeyPath& Position) {
  TVEXMemBlock key = MakeShortKey(NavigationInfo.RecordBuffer);
  TVEXBTreePagePtr leaf = GetLeafAtPosition(PageManager(), *FKeyRef, SessionID, Position, 20068);
  const int32_t entryNo = Position.Items[static_cast<size_t>(Position.Count - 1)].EntryNo;
  int32_t order =
      FKeyRef->CompareShortKeys(key.As<uint8_t>(), leaf->GetPKey(entryNo), false, SessionID, nullptr,
                                nullptr);
  if (order == 0)
    order = TVEXBTreeKeyRef::CompareReferences(
        reinterpret_cast<const uint8_t*>(&NavigationInfo.RecordID), leaf->GetPReference(entryNo),
        sizeof(TVEXPageItemID));
  const bool forward = NavigationInfo.GetRecordMode == grmNext;
  if (forward ? order < 0 : order > 0) return;
  throw EVEXException(20035, "Index integrity error. PageNo=%d EntryNo=%d", leaf->PageNo(), entryNo);
}

void TVEXBTreeRecordIndex::GetClosestRecordBuffer(int32_t SessionID,
                                                  TVEXNavigationInfo& NavigationInfo,
                                                  TVEXIndexPositionCache* IndexPositionCache,
                                                  int32_t TableState) {
  TVEXBTreePagePtr root = RootPage(SessionID, 20293);
  TVEXMemBlock key = MakeShortKey(NavigationInfo.RecordBuffer);
  TVEXKeyPath path;
  const bool next = NavigationInfo.GetRecordMode == grmNext;
  const bool found =
      root->FindByCondition(SessionID, next, key.As<uint8_t>(), next ? scGreater : scLower, path);
  root.reset();
  if (found) {
    ReadAtPosition(SessionID, NavigationInfo, path, IndexPositionCache, TableState);
  } else {
    NavigationInfo.SetEndOfMove();
  }
}

// --- Record numbers and DISTINCT -----------------------------------------------------------

int64_t TVEXBTreeRecordIndex::GetRecNoByRecordID(int32_t SessionID, TVEXPageItemID RecordID,
                                                 const uint8_t* RecordBuffer) {
  TVEXKeyPath path;
  if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, path)) return -1;
  const TVEXKeyPath::TItem& leafItem = path.Items[static_cast<size_t>(path.Count - 1)];
  int64_t recNo = leafItem.EntryNo + 1;
  int32_t pageNo;
  {
    TVEXBTreePagePtr leaf =
        TVEXBTreePage::GetIndexPage(PageManager(), *FKeyRef, SessionID, leafItem.PageNo);
    pageNo = leaf->LeftPageNo();
  }
  std::set<int32_t> visited;  // a damaged level list must not loop
  while (pageNo != -1) {
    if (!visited.insert(pageNo).second) RaiseCircularLinks(pageNo);
    TVEXBTreePagePtr leaf = TVEXBTreePage::GetIndexPage(PageManager(), *FKeyRef, SessionID, pageNo);
    recNo += leaf->EntryCount();
    pageNo = leaf->LeftPageNo();
  }
  return recNo;
}

TVEXPageItemID TVEXBTreeRecordIndex::GetRecordIDByRecNo(int32_t SessionID, int64_t RecNo) {
  TVEXKeyPath path;
  if (!FirstEntryPosition(SessionID, path))
    throw EVEXException(20074, "Cannot retrieve record from empty index");
  int32_t pageNo = path.Items[static_cast<size_t>(path.Count - 1)].PageNo;
  int64_t before = 0;
  std::set<int32_t> visited;  // a damaged level list must not loop
  while (pageNo != -1 && RecNo >= 1) {
    if (!visited.insert(pageNo).second) RaiseCircularLinks(pageNo);
    TVEXBTreePagePtr leaf = TVEXBTreePage::GetIndexPage(PageManager(), *FKeyRef, SessionID, pageNo);
    if (RecNo <= before + leaf->EntryCount()) {
      TVEXPageItemID id;
      std::memcpy(&id, leaf->GetPReference(static_cast<int32_t>(RecNo - before - 1)), sizeof(id));
      return id;
    }
    before += leaf->EntryCount();
    pageNo = leaf->RightPageNo();
  }
  throw EVEXException(20075, "Cannot set RecNo greater than RecordCount");
}

void TVEXBTreeRecordIndex::ApplyDistinctToRecordBitmap(int32_t SessionID,
                                                       TVEXRecordBitmap& Bitmap,
                                                       int32_t DistinctFieldCount) {
  CompareStateGuard restore(*FKeyRef);
  FKeyRef->SetCompareFieldCount(DistinctFieldCount);
  TVEXKeyPath path;
  if (!FirstEntryPosition(SessionID, path)) return;
  TVEXMemBlock keptKey = FKeyRef->AllocShortKeyBuffer();
  TVEXPageItemID keptID{-1, 0};
  bool kept = false;
  do {
    if (!Bitmap.IsRecordVisible(FIndexDef->ObjectID, path)) continue;
    TVEXBTreePagePtr leaf = GetLeafAtPosition(PageManager(), *FKeyRef, SessionID, path, 20068);
    const int32_t no = path.Items[static_cast<size_t>(path.Count - 1)].EntryNo;
    const uint8_t* key = leaf->GetPKey(no);
    const uint8_t* reference = leaf->GetPReference(no);
    if (kept && FKeyRef->CompareShortKeys(key, keptKey.As<uint8_t>(), true, SessionID, reference,
                                          reinterpret_cast<const uint8_t*>(&keptID)) == 0) {
      leaf.reset();
      Bitmap.HideRecord(FIndexDef->ObjectID, path);
      continue;
    }
    std::memcpy(keptKey.As<uint8_t>(), key, static_cast<size_t>(FKeyRef->ShortKeySize()));
    std::memcpy(&keptID, reference, sizeof(keptID));
    kept = true;
  } while (NextEntryPosition(SessionID, path));
}

// --- Range searches ------------------------------------------------------------------

std::unique_ptr<TVEXIndexSearchInfo> TVEXBTreeRecordIndex::CreateSearchInfo() {
  return std::make_unique<TVEXBTreeSearchInfo>();
}

bool TVEXBTreeRecordIndex::FindByScanCondition(int32_t SessionID, bool First,
                                               const TVEXScanSearchCondition& Condition,
                                               bool PartialCompare, int32_t CompareFieldCount,
                                               TVEXKeyPath& Position) {
  TVEXBTreePagePtr root = RootPage(SessionID, 20123);
  CompareStateGuard restore(*FKeyRef);
  FKeyRef->SetCompareFieldCount(CompareFieldCount);
  TVEXMemBlock key = MakeShortKey(Condition.KeyRecordBuffer);
  FKeyRef->SetPartialCompare(Condition.KeyRecordBuffer, PartialCompare);
  Position.Clear();
  return root->FindByCondition(SessionID, First, key.As<uint8_t>(), Condition.Condition, Position);
}

bool TVEXBTreeRecordIndex::FindRecord(int32_t SessionID, bool Restart, bool GoForward,
                                      const TVEXScanSearchCondition* StartScanCondition,
                                      const TVEXScanSearchCondition* EndScanCondition,
                                      uint8_t* RecordBuffer, TVEXPageItemID& RecordID,
                                      TVEXIndexSearchInfo& SearchInfo) {
  auto* info = dynamic_cast<TVEXBTreeSearchInfo*>(&SearchInfo);
  if (info == nullptr) throw EVEXException(20077, "Pointer is nil");
  if (Restart && info->Started) throw EVEXException(20078, "Index error: invalid params");
  TVEXKeyPath& current = info->CurrentPosition;
  // When the start lies on the first entry in the search direction there is
  // no entry to step back to: the step that would return to it is skipped.
  bool skipStep = false;
  if (Restart || !info->Started) {
    if (StartScanCondition != nullptr) {
      if (!FindByScanCondition(SessionID, GoForward, *StartScanCondition,
                               StartScanCondition->PartialCompare,
                               StartScanCondition->KeyFieldCount, current))
        return false;
      if (!Restart) {
        TVEXKeyPath own;
        if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, own)) return false;
        const int32_t c = own.Compare(current);
        if (GoForward ? c < 0 : c > 0) {
          const bool back = GoForward ? PriorEntryPosition(SessionID, current)
                                      : NextEntryPosition(SessionID, current);
          skipStep = !back;
        } else {
          current.Assign(own);
        }
      }
    } else if (Restart) {
      const bool found = GoForward ? FirstEntryPosition(SessionID, current)
                                   : LastEntryPosition(SessionID, current);
      if (!found) return false;
    } else if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, current)) {
      return false;
    }
  }
  if (!info->Started && StartScanCondition != nullptr) {
    const TVEXScanSearchCondition& end =
        EndScanCondition != nullptr ? *EndScanCondition : *StartScanCondition;
    info->EndPosition = std::make_unique<TVEXKeyPath>();
    if (!FindByScanCondition(SessionID, !GoForward, end, StartScanCondition->PartialCompare,
                             end.KeyFieldCount, *info->EndPosition))
      return false;
  }
  if (!Restart && !skipStep) {
    const bool moved =
        GoForward ? NextEntryPosition(SessionID, current) : PriorEntryPosition(SessionID, current);
    if (!moved) return false;
  }
  if (info->EndPosition != nullptr) {
    const int32_t c = current.Compare(*info->EndPosition);
    if (GoForward ? c > 0 : c < 0) return false;
  }
  RecordID = GetReferenceAtPosition(SessionID, current);
  if (!info->Started) {
    info->SearchForward = GoForward;
    info->Started = true;
  }
  return true;
}

int32_t TVEXBTreeRecordIndex::CompareRecordBuffersByIndex(const uint8_t* Buffer1,
                                                          const uint8_t* Buffer2,
                                                          int32_t IndexFieldCount) {
  TVEXMemBlock key1 = FKeyRef->AllocFullKeyBuffer();
  TVEXMemBlock key2 = FKeyRef->AllocFullKeyBuffer();
  FKeyRef->MakeFullKeyFromRecordBuffer(Buffer1, key1.As<uint8_t>());
  FKeyRef->MakeFullKeyFromRecordBuffer(Buffer2, key2.As<uint8_t>());
  CompareStateGuard restore(*FKeyRef);
  FKeyRef->SetCompareFieldCount(IndexFieldCount);
  return FKeyRef->CompareFullKeys(key1.As<uint8_t>(), key2.As<uint8_t>());
}

int32_t TVEXBTreeRecordIndex::CompareConditions(const TVEXScanSearchCondition& Condition1,
                                                const TVEXScanSearchCondition& /*Condition2*/) {
  switch (Condition1.Condition) {
    case scGreater:
    case scGreaterEqual:
      return -1;
    case scLower:
    case scLowerEqual:
      return 1;
    default:
      return 0;
  }
}

int64_t TVEXBTreeRecordIndex::GetApproxRangeRecordCount(
    int32_t SessionID, int64_t TableRecordCount, const TVEXScanSearchCondition* RangeCondition1,
    const TVEXScanSearchCondition* RangeCondition2) {
  if (FIndexDef == nullptr || FIndexDef->RootPageNo == -1) RaiseInvalidPageNumber(20125);
  const TVEXScanSearchCondition* lower = RangeCondition1;
  const TVEXScanSearchCondition* upper = RangeCondition2;
  if (lower != nullptr && upper != nullptr && CompareConditions(*lower, *upper) >= 0)
    std::swap(lower, upper);
  if (lower == nullptr && upper == nullptr) return TableRecordCount;
  const int32_t fieldCount = (lower != nullptr ? lower : upper)->KeyFieldCount;
  TVEXKeyPath first;
  TVEXKeyPath last;
  const bool foundFirst = lower != nullptr
                              ? FindByScanCondition(SessionID, true, *lower, false, fieldCount, first)
                              : FirstEntryPosition(SessionID, first);
  const bool foundLast = upper != nullptr
                             ? FindByScanCondition(SessionID, false, *upper, false, fieldCount, last)
                             : LastEntryPosition(SessionID, last);
  if (!foundFirst || !foundLast) return 0;
  const double span = last.GetApproxRecNoInPercents() - first.GetApproxRecNoInPercents();
  int64_t result = std::llround(span * static_cast<double>(TableRecordCount));
  if (result < 0) result = 0;
  if (result > TableRecordCount) result = TableRecordCount;
  return result;
}

// --- Upkeep ----------------------------------------------------------------------

bool TVEXBTreeRecordIndex::CanInsertRecord(int32_t SessionID, const uint8_t* RecordBuffer) {
  if (!FIndexDef->Primary && !FIndexDef->Unique) return true;
  TVEXBTreePagePtr root = RootPage(SessionID, 20126);
  TVEXMemBlock key = MakeShortKey(RecordBuffer);
  TVEXKeyPath path;
  return !root->FindByCondition(SessionID, true, key.As<uint8_t>(), scEqual, path);
}

bool TVEXBTreeRecordIndex::CanUpdateRecord(int32_t SessionID, const uint8_t* OldRecordBuffer,
                                           const uint8_t* NewRecordBuffer) {
  if (CompareRecordBuffersByIndex(OldRecordBuffer, NewRecordBuffer, FKeyRef->PartCount()) == 0)
    return true;
  return CanInsertRecord(SessionID, NewRecordBuffer);
}

void TVEXBTreeRecordIndex::InsertRecord(TVEXManagerCursor& Cursor) {
  const int32_t sessionID = Cursor.GetSessionID();
  TVEXBTreePagePtr root = RootPage(sessionID, 20127);
  TVEXMemBlock key = MakeShortKey(Cursor.GetCurrentRecordBuffer());
  const TVEXPageItemID id = Cursor.GetCurrentRecordID();
  TVEXKeyPath path;
  root->InsertLeafEntry(sessionID, key.As<uint8_t>(), reinterpret_cast<const uint8_t*>(&id), path);
}

void TVEXBTreeRecordIndex::DeleteRecord(TVEXManagerCursor& Cursor) {
  const int32_t sessionID = Cursor.GetSessionID();
  TVEXBTreePagePtr root = RootPage(sessionID, 20027);
  TVEXMemBlock key = MakeShortKey(Cursor.GetCurrentRecordBuffer());
  const TVEXPageItemID id = Cursor.GetCurrentRecordID();
  TVEXKeyPath path;
  if (!root->DeleteLeafEntry(sessionID, key.As<uint8_t>(), reinterpret_cast<const uint8_t*>(&id),
                             path))
    throw EVEXException(20027, "Index error: cannot delete entry. Entry not found");
}

void TVEXBTreeRecordIndex::UpdateRecord(TVEXManagerCursor& Cursor, bool BeforeNewRecordIsStored) {
  const uint8_t* before = Cursor.GetEditRecordBuffer();
  const uint8_t* after = Cursor.GetCurrentRecordBuffer();
  if (before == nullptr)
    throw EVEXException(20250, "Index error: cannot delete entry. Entry not found");
  if (CompareRecordBuffersByIndex(before, after, FKeyRef->PartCount()) == 0) return;
  const int32_t sessionID = Cursor.GetSessionID();
  const TVEXPageItemID id = Cursor.GetCurrentRecordID();
  TVEXKeyPath path;
  if (BeforeNewRecordIsStored) {
    TVEXBTreePagePtr root = RootPage(sessionID, 20250);
    TVEXMemBlock key = MakeShortKey(before);
    if (!root->DeleteLeafEntry(sessionID, key.As<uint8_t>(), reinterpret_cast<const uint8_t*>(&id),
                               path))
      throw EVEXException(20250, "Index error: cannot delete entry. Entry not found");
  } else {
    TVEXBTreePagePtr root = RootPage(sessionID, 20127);
    TVEXMemBlock key = MakeShortKey(after);
    root->InsertLeafEntry(sessionID, key.As<uint8_t>(), reinterpret_cast<const uint8_t*>(&id),
                          path);
  }
}

int32_t TVEXBTreeRecordIndex::GetMaxEntriesPerPage() {
  return PageManager().PageDataSize() / (FKeyRef->ShortKeySize() + 4);
}

void TVEXBTreeRecordIndex::GetRecordIDByIndexPosition(int32_t SessionID,
                                                      const TVEXIndexPosition& IndexPos,
                                                      TVEXPageItemID& RecordID) {
  const TVEXKeyPath& path = AsPath(IndexPos);
  if (path.Count <= 0) throw EVEXException(20068, "Index error: invalid position");
  TVEXBTreePagePtr page = RootPage(SessionID, 20124);
  for (int32_t level = 0; level < path.Count; ++level) {
    const int32_t entryNo = path.Items[static_cast<size_t>(level)].EntryNo;
    const bool last = level == path.Count - 1;
    if (entryNo < 0 || entryNo >= page->EntryCount() || page->IsLeaf() != last)
      throw EVEXException(20068, "Index error: invalid position");
    if (last) {
      std::memcpy(&RecordID, page->GetPReference(entryNo), sizeof(RecordID));
      return;
    }
    const int32_t childNo = page->ChildPageNo(entryNo);
    page.reset();
    page = TVEXBTreePage::GetIndexPage(PageManager(), *FKeyRef, SessionID, childNo);
  }
}

}  // namespace vex
