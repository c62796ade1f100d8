// Pages, the sorted page list and the page manager's cache and change sets.
// See VEXPage.h for the invariants kept here.
#include "storage/VEXPage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <utility>

#include "foundation/VEXConst.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"
#include "os/Clock.h"

namespace vex {

namespace {

constexpr char kPageSignature[4] = {'V', 'E', 'X', 'P'};
constexpr int64_t kBytesPerCachedPage = 65536;
constexpr int32_t kMaxCacheCapacity = 1000;
// New pages start from a random State, so that a page number that is freed and
// reused is not mistaken for the page another connection cached before.
constexpr uint32_t kInitialStateRange = 0x3FFFFFFF;
constexpr int32_t kListAllocBy = 1000;
constexpr int32_t kListMaxAllocBy = 10000;

// Drops the first `count` numbers of the array: those already handed to the
// store, which a retry must not hand over a second time.
void DropLeadingNumbers(TVEXIntegerArray& numbers, int32_t count) {
  for (int32_t i = 0; i < count; ++i) numbers.Delete(0);
}

}  // namespace

// ---------------------------------------------------------------------------
// TVEXPage

TVEXPage::TVEXPage(TVEXPageManager* PageManager) : LPageManager(PageManager) {}

TVEXPage::~TVEXPage() {
  if (!FOwnBuffer || FPageBuffer == nullptr) return;
  try {
    MemoryManager->FreeAndNillMem(FPageBuffer);
  } catch (...) {
    // A damaged guard mark cannot be reported from a destructor.
  }
}

int32_t TVEXPage::PageSize() const { return LPageManager->PageSize(); }

int32_t TVEXPage::PageHeaderSize() const { return LPageManager->PageHeaderSize(); }

void TVEXPage::InitHeader() {
  TVEXDiskPageHeader* header = PageHeader();
  std::memcpy(header->Signature, kPageSignature, sizeof(kPageSignature));
  header->State = 0;
  header->PageType = 0;
  header->NextPageNo = -1;
  header->CRC32 = 0;
  header->CRCType = 0;
  header->HashType = 0;
  header->Cipherype = 0;
  header->MACType = 0;
  header->ObjectID = -1;
  header->RecordID.PageNo = -1;
  header->RecordID.PageItemNo = 0;
}

void TVEXPage::ClearPageBuffer() {
  if (FPageBuffer != nullptr) std::memset(FPageBuffer, 0, static_cast<size_t>(PageSize()));
}

void TVEXPage::AllocPageBuffer() {
  auto* buffer = static_cast<uint8_t*>(MemoryManager->AllocMem(PageSize()));
  // The page allocated the new buffer, so it frees it; keeping an earlier
  // owned buffer would lose it.
  FreeAndNilPageBuffer();
  FPageBuffer = buffer;
  FOwnBuffer = true;
  if (PageHeaderSize() > 0) InitHeader();
}

void TVEXPage::FreeAndNilPageBuffer() {
  if (FPageBuffer == nullptr) return;
  // A borrowed buffer (an engine's own page block) belongs to someone else.
  if (FOwnBuffer) {
    MemoryManager->FreeAndNillMem(FPageBuffer);
  } else {
    FPageBuffer = nullptr;
  }
}

void TVEXPage::EnlargePageBuffer(int32_t NewSize) {
  if (FPageBuffer == nullptr) throw EVEXException(20038, "Invalid page buffer. Buffer is Nil");
  if (NewSize < PageSize()) throw EVEXException(20039, "Invalid page modification");
  if (FOwnBuffer) {
    MemoryManager->ReallocMem(FPageBuffer, NewSize, false);
    return;
  }
  auto* buffer = static_cast<uint8_t*>(MemoryManager->AllocMem(NewSize));
  std::memcpy(buffer, FPageBuffer, static_cast<size_t>(PageSize()));
  FPageBuffer = buffer;
  FOwnBuffer = true;
}

bool TVEXPage::Synchronize() {
  if (!LPageManager->IsPageStateCheckNeeded() || FPageBuffer == nullptr || PageHeaderSize() == 0) {
    return true;
  }
  const int32_t state = LPageManager->InternalReadPageState(FPageNo);
  // A State that could not be read, or the mark of a freed page, gives no
  // reason to distrust the cached image. The cached State is kept rather than
  // set to the mark, so that the next write of the page advances it from a
  // valid value.
  if (state == kRemovedPageState || state == PageHeader()->State) return true;
  return LPageManager->InternalReadPage(this);
}

bool TVEXPage::GetTableState(int32_t SessionID, int32_t& TableState) const {
  int32_t tableID = -1;
  return GetTableState(SessionID, tableID, TableState);
}

void TVEXPage::SetTableState(int32_t SessionID, int32_t TableState) {
  SetTableState(SessionID, -1, TableState);
}

bool TVEXPage::GetTableState(int32_t SessionID, int32_t& TableID, int32_t& TableState) const {
  const int64_t index = int64_t{SessionID} + 2;
  if (index < 0 || index >= static_cast<int64_t>(FTableStates.size())) return false;
  const TVEXPageTableStateInfo& info = FTableStates[static_cast<size_t>(index)];
  TableID = info.TableID;
  TableState = info.TableState;
  return info.IsTableStateValueAssigned;
}

void TVEXPage::SetTableState(int32_t SessionID, int32_t TableID, int32_t TableState) {
  const int64_t index = int64_t{SessionID} + 2;
  // No session has an id below -2; such an id has no place to keep a state.
  if (index < 0) return;
  if (index >= static_cast<int64_t>(FTableStates.size())) {
    FTableStates.resize(static_cast<size_t>(index) + 1);
  }
  FTableStates[static_cast<size_t>(index)] = {TableState, true, TableID};
}

// ---------------------------------------------------------------------------
// TVEXSortedPageList

TVEXSortedPageList::TVEXSortedPageList(int32_t size) { SetSize(size); }

void TVEXSortedPageList::SetSize(int32_t newSize) {
  if (newSize <= 0) {
    ItemCount = 0;
    AllocItemCount = 0;
    std::vector<int32_t>().swap(KeyItems);
    std::vector<TVEXPageElement>().swap(ValueItems);
    return;
  }
  if (newSize > AllocItemCount) {
    AllocBy = std::min(AllocBy * 2, MaxAllocBy);
    const int32_t grown = AllocItemCount + AllocBy > newSize ? AllocItemCount + AllocBy : newSize;
    KeyItems.resize(static_cast<size_t>(grown));
    ValueItems.resize(static_cast<size_t>(grown));
    AllocItemCount = grown;
  } else if (newSize < ItemCount && AllocItemCount - newSize > deAllocBy) {
    deAllocBy = std::min(deAllocBy * 2, MaxAllocBy);
    KeyItems.resize(static_cast<size_t>(newSize));
    ValueItems.resize(static_cast<size_t>(newSize));
    KeyItems.shrink_to_fit();
    ValueItems.shrink_to_fit();
    AllocItemCount = newSize;
  }
  ItemCount = newSize;
}

int32_t TVEXSortedPageList::FindPosition(int32_t PageNo) const {
  const auto first = KeyItems.begin();
  return static_cast<int32_t>(std::lower_bound(first, first + ItemCount, PageNo) - first);
}

int32_t TVEXSortedPageList::IndexOf(int32_t PageNo) const {
  const int32_t index = FindPosition(PageNo);
  return index < ItemCount && KeyItems[static_cast<size_t>(index)] == PageNo ? index : -1;
}

TVEXPage* TVEXSortedPageList::Find(int32_t PageNo) const {
  const int32_t index = IndexOf(PageNo);
  return index < 0 ? nullptr : ValueItems[static_cast<size_t>(index)].Page;
}

void TVEXSortedPageList::Insert(TVEXPage* Page) {
  InsertAt(FindPosition(Page->PageNo()), Page->PageNo(), {Page, LRUCount + 1});
  ++LRUCount;
}

void TVEXSortedPageList::InsertAt(int32_t Index, int32_t PageNo, const TVEXPageElement& Element) {
  const int32_t oldCount = ItemCount;
  SetSize(oldCount + 1);
  const auto index = static_cast<size_t>(Index);
  std::copy_backward(KeyItems.begin() + Index, KeyItems.begin() + oldCount,
                     KeyItems.begin() + oldCount + 1);
  std::copy_backward(ValueItems.begin() + Index, ValueItems.begin() + oldCount,
                     ValueItems.begin() + oldCount + 1);
  KeyItems[index] = PageNo;
  ValueItems[index] = Element;
}

void TVEXSortedPageList::Delete(int32_t PageNo) {
  if (ItemCount == 0) throw EVEXException(20165, "TSortedPageList.Delete - no elements in array!");
  const int32_t index = IndexOf(PageNo);
  if (index < 0) {
    throw EVEXException(20166,
                        "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        PageNo, ItemCount);
  }
  DeleteAt(index);
}

void TVEXSortedPageList::DeleteAt(int32_t Index) {
  std::copy(KeyItems.begin() + Index + 1, KeyItems.begin() + ItemCount, KeyItems.begin() + Index);
  std::copy(ValueItems.begin() + Index + 1, ValueItems.begin() + ItemCount,
            ValueItems.begin() + Index);
  SetSize(ItemCount - 1);
}

TVEXPage* TVEXSortedPageList::SmallestStampAbove(int64_t after) {
  int32_t found = -1;
  for (int32_t i = 0; i < ItemCount; ++i) {
    const int64_t stamp = ValueItems[static_cast<size_t>(i)].LRUCount;
    if (stamp > after && (found < 0 || stamp < ValueItems[static_cast<size_t>(found)].LRUCount)) {
      found = i;
    }
  }
  if (found < 0) return nullptr;
  LRULastFound = ValueItems[static_cast<size_t>(found)].LRUCount;
  return ValueItems[static_cast<size_t>(found)].Page;
}

TVEXPage* TVEXSortedPageList::FirstByLRU() {
  return SmallestStampAbove(std::numeric_limits<int64_t>::min());
}

TVEXPage* TVEXSortedPageList::NextByLRU() { return SmallestStampAbove(LRULastFound); }

void TVEXSortedPageList::UpdateLRU(TVEXPage* Page) {
  const int32_t index = IndexOf(Page->PageNo());
  if (index < 0) throw EVEXException(20167, "Page not found");
  ValueItems[static_cast<size_t>(index)].LRUCount = ++LRUCount;
}

// ---------------------------------------------------------------------------
// TVEXPageManager

TVEXSessionPageInfo::TVEXSessionPageInfo(int32_t aSessionID)
    : SessionID(aSessionID),
      DirtyPages(std::make_unique<TVEXSortedPageList>(0)),
      AddedPageNumbers(0, kListAllocBy, kListMaxAllocBy),
      RemovedPageNumbers(0, kListAllocBy, kListMaxAllocBy) {}

TVEXPageManager::TVEXPageManager(TVEXLock* DatabaseLock)
    : FSharedPages(std::make_unique<TVEXSortedPageList>(0)),
      FDatabaseLock(DatabaseLock != nullptr ? *DatabaseLock : FOwnLock) {
  const int64_t pages = MemoryManager->GetFreeMemorySize() / kBytesPerCachedPage;
  FCacheCapacity = static_cast<int32_t>(std::clamp<int64_t>(pages, 0, kMaxCacheCapacity));
}

// Nobody else can hold the page manager while it is destroyed.
TVEXPageManager::~TVEXPageManager() VEX_NO_THREAD_SAFETY_ANALYSIS { FreeAllPages(); }

void TVEXPageManager::Close() {
  for (const auto& info : FSessions) {
    if (info->DirtyPages->Count() > 0) {
      throw EVEXException(20097, "Cannot free non-commited pages");
    }
  }
  FreeAllPages();
}

void TVEXPageManager::FreeAllPages() noexcept {
  for (const auto& info : FSessions) {
    for (int32_t i = 0; i < info->DirtyPages->Count(); ++i) delete info->DirtyPages->Page(i);
    info->DirtyPages->Clear();
  }
  FSessions.clear();
  for (int32_t i = 0; i < FSharedPages->Count(); ++i) delete FSharedPages->Page(i);
  FSharedPages->Clear();
  for (TVEXPage* page : FDisplacedPages) delete page;
  FDisplacedPages.clear();
}

bool TVEXPageManager::IsPageTableStateCurrent(int32_t /*SessionID*/, TVEXPage* /*Page*/) {
  return false;
}

void TVEXPageManager::UpdatePageTableState(int32_t /*SessionID*/, TVEXPage* /*Page*/) {}

void TVEXPageManager::LoadFromStream(rtl::TStream& /*Stream*/) {}

void TVEXPageManager::SaveToStream(rtl::TStream& /*Stream*/) {}

int32_t TVEXPageManager::InternalReadPageState(int32_t /*PageNo*/) { return kRemovedPageState; }

bool TVEXPageManager::FindSessionIndex(int32_t SessionID, int32_t& Index) const {
  for (size_t i = 0; i < FSessions.size(); ++i) {
    if (FSessions[i]->SessionID == SessionID) {
      Index = static_cast<int32_t>(i);
      return true;
    }
  }
  return false;
}

int32_t TVEXPageManager::AddSession(int32_t SessionID) {
  FSessions.push_back(std::make_unique<TVEXSessionPageInfo>(SessionID));
  return static_cast<int32_t>(FSessions.size()) - 1;
}

TVEXSessionPageInfo& TVEXPageManager::SessionInfo(int32_t SessionID) {
  int32_t index;
  if (!FindSessionIndex(SessionID, index)) index = AddSession(SessionID);
  return *FSessions[static_cast<size_t>(index)];
}

bool TVEXPageManager::FindPageInList(const TVEXSortedPageList* List, int32_t PageNo,
                                     TVEXPage*& Page) {
  if (List == nullptr) return false;
  Page = List->Find(PageNo);
  return Page != nullptr;
}

void TVEXPageManager::RemovePageFromList(TVEXSortedPageList* List, int32_t PageNo) {
  TVEXPage* page;
  if (!FindPageInList(List, PageNo, page)) return;
  List->Delete(PageNo);
  if (page->UseCount() > 0) {
    DisplacePage(page);
  } else {
    delete page;
  }
}

void TVEXPageManager::DisplacePage(TVEXPage* Page) {
  Page->SetParentList(nullptr);
  FDisplacedPages.push_back(Page);
}

void TVEXPageManager::ForgetDisplacedPage(TVEXPage* Page) {
  const auto it = std::find(FDisplacedPages.begin(), FDisplacedPages.end(), Page);
  if (it != FDisplacedPages.end()) FDisplacedPages.erase(it);
}

void TVEXPageManager::RemovePage(int32_t SessionID, int32_t PageNo) {
  SessionInfo(SessionID).RemovedPageNumbers.Append(PageNo);
}

TVEXPage* TVEXPageManager::GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType,
                                   bool SynchronizeAllowed) {
  if (SessionID == -1) throw EVEXException(20186, sInvalidSessionID);
  TVEXSessionPageInfo& info = SessionInfo(SessionID);
  const auto checkNotHeldByOther = [SessionID](const TVEXPage* page) {
    if (page->UseCount() > 0 && page->SessionID() != SessionID) {
      throw EVEXException(20090, "Page is used by other session");
    }
  };

  TVEXPage* page = info.DirtyPages->Find(PageNo);
  if (page == nullptr) {
    page = FSharedPages->Find(PageNo);
    if (page != nullptr) {
      // Tested before any revalidation: a page another session is working on
      // must not be read again under it.
      checkNotHeldByOther(page);
      // Nor is a page its own session holds: the holder may be changing it.
      if (SynchronizeAllowed && page->UseCount() == 0 &&
          !IsPageTableStateCurrent(SessionID, page)) {
        // An image that failed to read again is not left in the cache.
        // The guard runs while GetPage still holds the database lock.
        ScopeFailure drop([this, PageNo]() VEX_NO_THREAD_SAFETY_ANALYSIS {
          RemovePageFromList(FSharedPages.get(), PageNo);
        });
        if (!page->Synchronize()) {
          throw EVEXException(20299, sErrorReadingPage, PageNo, PageType);
        }
        UpdatePageTableState(SessionID, page);
      }
    } else {
      page = ReadPageIntoCache(SessionID, PageNo, PageType);
    }
    page->SetParentList(FSharedPages.get());
  }
  checkNotHeldByOther(page);
  page->SetSessionID(SessionID);
  page->SetUseCount(page->UseCount() + 1);
  return page;
}

TVEXPage* TVEXPageManager::ReadPageIntoCache(int32_t SessionID, int32_t PageNo, uint16_t PageType) {
  auto owned = std::make_unique<TVEXPage>(this);
  TVEXPage* page = owned.get();
  page->SetPageNo(PageNo);
  page->SetSessionID(SessionID);
  if (!InternalReadPage(page) || page->PageBuffer() == nullptr) {
    throw EVEXException(20299, sErrorReadingPage, PageNo, PageType);
  }
  if (!FIgnoreCRCErrors && FPageHeaderSize > 0 && PageType != kAnyPageType) {
    const uint16_t found = page->PageHeader()->PageType;
    if (found != PageType) {
      throw EVEXException(20153,
                          "Invalid page type. Possible data corruption. Expecting type %d, but "
                          "found %d",
                          PageType, found);
    }
  }
  UpdatePageTableState(SessionID, page);
  FSharedPages->Insert(page);
  page->SetParentList(FSharedPages.get());
  return owned.release();
}

TVEXPage* TVEXPageManager::AddPage(int32_t SessionID, uint16_t PageType) {
  TVEXSessionPageInfo& info = SessionInfo(SessionID);
  auto owned = std::make_unique<TVEXPage>(this);
  TVEXPage* page = owned.get();
  InternalAddPage(page);
  const int32_t pageNo = page->PageNo();
  // A number the session's change set already holds is as unusable as none:
  // a second page of that number would hide the first.
  if (pageNo < 0 || info.DirtyPages->Find(pageNo) != nullptr) {
    throw EVEXException(20064, "Invalid page number");
  }
  if (page->PageBuffer() == nullptr) page->AllocPageBuffer();
  page->SetUseCount(1);
  page->SetIsDirty(true);
  page->SetReloaded(false);
  if (FPageHeaderSize > 0) {
    page->PageHeader()->PageType = PageType;
    page->PageHeader()->State = static_cast<int32_t>(os::CurrentClock().Random(kInitialStateRange));
  }
  page->SetSessionID(SessionID);
  // A copy of a freed page of this number may still be cached.
  RemovePageFromList(FSharedPages.get(), pageNo);
  info.DirtyPages->Insert(page);
  page->SetParentList(info.DirtyPages.get());
  owned.release();
  info.AddedPageNumbers.Append(pageNo);
  return page;
}

void TVEXPageManager::MoveToDirtyList(TVEXPage* Page) {
  TVEXSessionPageInfo& info = SessionInfo(Page->SessionID());
  if (info.DirtyPages->Find(Page->PageNo()) != nullptr) {
    // Only a copy displaced from the cache can meet its number here; the page
    // already in the change set was taken later, from the newer image, and
    // stays.
    delete Page;
    return;
  }
  info.DirtyPages->Insert(Page);
  Page->SetParentList(info.DirtyPages.get());
}

void TVEXPageManager::PutPage(TVEXPage* aPage) {
  if (aPage->UseCount() > 0) aPage->SetUseCount(aPage->UseCount() - 1);
  const bool released = aPage->UseCount() == 0;
  if (released) aPage->SetReloaded(false);

  TVEXSortedPageList* parent = aPage->ParentList();
  if (parent == nullptr) {
    if (!released) return;
    const bool displaced =
        std::find(FDisplacedPages.begin(), FDisplacedPages.end(), aPage) != FDisplacedPages.end();
    if (!displaced) return;
    ForgetDisplacedPage(aPage);
    if (aPage->IsDirty()) {
      MoveToDirtyList(aPage);
    } else {
      delete aPage;
    }
    return;
  }
  if (parent != FSharedPages.get()) return;
  if (released) {
    if (aPage->IsDirty()) {
      FSharedPages->Delete(aPage->PageNo());
      MoveToDirtyList(aPage);
      return;
    }
    FSharedPages->UpdateLRU(aPage);
  }
  if (FSharedPages->Count() > FCacheCapacity) EvictPages();
}

void TVEXPageManager::EvictPages() {
  TVEXPage* page = FSharedPages->FirstByLRU();
  while (page != nullptr && FSharedPages->Count() > FCacheCapacity) {
    if (page->UseCount() == 0) {
      FSharedPages->Delete(page->PageNo());
      delete page;
    }
    page = FSharedPages->NextByLRU();
  }
}

void TVEXPageManager::CheckChangesCanBeApplied(int32_t SessionID) const {
  const auto checkReleased = [SessionID](const TVEXPage* page) {
    if (page->SessionID() == SessionID && page->UseCount() > 0) {
      throw EVEXException(20152, "Some session pages not released");
    }
  };
  for (int32_t i = 0; i < FSharedPages->Count(); ++i) checkReleased(FSharedPages->Page(i));
  for (const TVEXPage* page : FDisplacedPages) checkReleased(page);

  int32_t index;
  if (!FindSessionIndex(SessionID, index)) return;
  const TVEXSortedPageList& dirty = *FSessions[static_cast<size_t>(index)]->DirtyPages;
  // Every page is checked before the store is touched, so a refused commit
  // leaves the change set whole: its freed numbers still in use and its added
  // numbers still recorded for a rollback.
  for (int32_t i = 0; i < dirty.Count(); ++i) {
    const TVEXPage* page = dirty.Page(i);
    if (!page->IsDirty()) throw EVEXException(20085, "Invalid page");
    if (page->UseCount() > 0) throw EVEXException(20086, "Cannot write used page");
  }
}

void TVEXPageManager::ApplyChanges(int32_t SessionID) {
  CheckChangesCanBeApplied(SessionID);
  int32_t index;
  if (!FindSessionIndex(SessionID, index)) return;
  TVEXSessionPageInfo& info = *FSessions[static_cast<size_t>(index)];
  TVEXSortedPageList& dirty = *info.DirtyPages;

  TVEXIntegerArray& removed = info.RemovedPageNumbers;
  int32_t freed = 0;
  {
    ScopeFailure keepRest([&removed, &freed] { DropLeadingNumbers(removed, freed); });
    for (; freed < removed.ItemCount; ++freed) {
      const int32_t pageNo = removed.Items[static_cast<size_t>(freed)];
      InternalRemovePage(pageNo);
      RemovePageFromList(&dirty, pageNo);
      RemovePageFromList(FSharedPages.get(), pageNo);
    }
  }
  removed.SetSize(0);
  info.AddedPageNumbers.SetSize(0);

  // The pages leave the change set one by one as they are written; those not
  // yet written when a write fails go back to it.
  std::vector<TVEXPage*> pages;
  pages.reserve(static_cast<size_t>(dirty.Count()));
  for (int32_t i = 0; i < dirty.Count(); ++i) pages.push_back(dirty.Page(i));
  dirty.Clear();
  size_t written = 0;
  ScopeFailure restore([&pages, &written, &dirty] {
    for (size_t i = written; i < pages.size(); ++i) dirty.Insert(pages[i]);
  });
  for (; written < pages.size(); ++written) {
    TVEXPage* page = pages[written];
    InternalWritePage(page);
    page->SetIsDirty(false);
    // The committed page takes the place of any copy of its number that
    // another session read into the cache meanwhile.
    RemovePageFromList(FSharedPages.get(), page->PageNo());
    if (FSharedPages->Count() < FCacheCapacity) {
      FSharedPages->Insert(page);
      page->SetParentList(FSharedPages.get());
    } else {
      delete page;
    }
  }
}

void TVEXPageManager::CancelChanges(int32_t SessionID) {
  int32_t index;
  if (!FindSessionIndex(SessionID, index)) return;
  TVEXSessionPageInfo& info = *FSessions[static_cast<size_t>(index)];
  TVEXSortedPageList& dirty = *info.DirtyPages;
  // Checked first, so a refused rollback frees nothing.
  for (int32_t i = 0; i < dirty.Count(); ++i) {
    const TVEXPage* page = dirty.Page(i);
    if (!page->IsDirty()) throw EVEXException(20087, "Invalid index page");
    if (page->UseCount() > 0) throw EVEXException(20088, "Cannot remove used page");
  }
  for (int32_t i = 0; i < dirty.Count(); ++i) delete dirty.Page(i);
  dirty.Clear();
  // Freed pages stay as they were.
  info.RemovedPageNumbers.SetSize(0);

  TVEXIntegerArray& added = info.AddedPageNumbers;
  {
    int32_t returned = 0;
    ScopeFailure keepRest([&added, &returned] { DropLeadingNumbers(added, returned); });
    for (; returned < added.ItemCount; ++returned) {
      InternalRemovePage(added.Items[static_cast<size_t>(returned)]);
    }
  }
  added.SetSize(0);
}

// ---------------------------------------------------------------------------
// Integrity walk

void TVEXPageManager::CheckInvariants() const {
  std::string found;
  const auto report = [&found](const std::string& where, const TVEXPage* page, const char* what) {
    found += where + ": page " + std::to_string(page->PageNo()) + " " + what + "; ";
  };
  std::set<const TVEXPage*> seen;
  const auto walk = [&](const TVEXSortedPageList& list, const std::string& where,
                        const int32_t* sessionID) {
    int64_t previous = std::numeric_limits<int64_t>::min();
    for (int32_t i = 0; i < list.Count(); ++i) {
      const TVEXPage* page = list.Page(i);
      if (page->ParentList() != &list) report(where, page, "names another list");
      if (page->PageNo() <= previous) report(where, page, "is out of order or listed twice");
      previous = page->PageNo();
      if (!seen.insert(page).second) report(where, page, "is in two places");
      if (page->PageManager() != this) report(where, page, "belongs to another page manager");
      if (page->UseCount() < 0) report(where, page, "has a negative use count");
      if (sessionID != nullptr && page->SessionID() != *sessionID)
        report(where, page, "belongs to another session");
    }
  };

  walk(*FSharedPages, "cache", nullptr);
  for (int32_t i = 0; i < FSharedPages->Count(); ++i) {
    const TVEXPage* page = FSharedPages->Page(i);
    if (page->UseCount() == 0 && page->IsDirty()) report("cache", page, "is changed but unheld");
  }
  std::set<int32_t> sessions;
  for (const auto& info : FSessions) {
    const std::string where = "session " + std::to_string(info->SessionID);
    if (!sessions.insert(info->SessionID).second) found += where + ": two change sets; ";
    walk(*info->DirtyPages, where, &info->SessionID);
  }
  for (const TVEXPage* page : FDisplacedPages) {
    if (page->ParentList() != nullptr) report("displaced", page, "is also listed");
    if (page->UseCount() <= 0) report("displaced", page, "is held by nobody");
    if (!seen.insert(page).second) report("displaced", page, "is in two places");
  }
  if (!found.empty()) {
    found.resize(found.size() - 2);
    throw EPageManagerIntegrityError("Page manager integrity check failed: " + found);
  }
}

}  // namespace vex
