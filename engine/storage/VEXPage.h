// Pages in memory and the page manager that shares them between sessions.
//
// Every storage engine works on fixed-size pages, and every table, index, BLOB
// and internal file reaches its pages only through the page manager of its
// database. The page manager keeps
//   - one shared cache of clean pages (the committed image of their number),
//     bounded by the free memory and evicted least recently used first, and
//   - one change set per session: the pages the session changed or created and
//     the page numbers it freed. A change set is invisible to the other
//     sessions until the session commits it (ApplyChanges) and is dropped when
//     it rolls back (CancelChanges).
// The page I/O itself (numbering, freeing, reading and writing images) is left
// to four abstract operations that each engine implements; the disk engine
// also checks cached pages against the file when other connections share it.
//
// Invariants the page manager keeps:
//   - every page object it owns is in exactly one place, named by its
//     ParentList: the shared cache, the dirty list of one session, or (with a
//     nil ParentList) the set of displaced pages that a caller still holds and
//     that are freed when their last holder releases them;
//   - each list holds at most one page per page number;
//   - a page held by one session (UseCount > 0) is never handed to another,
//     and never re-read or freed under its holder.
//
// Callers take a page with GetPage or AddPage, work on its buffer, set IsDirty
// when they changed it and release it with PutPage; they never hold a page of
// a session across that session's commit or rollback.
//
// Threads: nothing here locks. All callers hold the lock of the database that
// owns the page manager (DatabaseLock), so one thread at a time works in it;
// the operations and lists below say so with VEX_REQUIRES and VEX_GUARDED_BY,
// which the clang build checks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/VEXLock.h"
#include "foundation/VEXTypes.h"
#include "rtl/Exception.h"

namespace rtl {
class TStream;
}

namespace vex {

class TVEXPageManager;
class TVEXSortedPageList;

// The id of a record or item: the page it lies on and its number in the page.
#pragma pack(push, 1)
struct TVEXPageItemID {
  int32_t PageNo;
  uint16_t PageItemNo;
};
static_assert(sizeof(TVEXPageItemID) == 6);

// The 40-byte header at the start of every page of a database file. Packed, so
// it may be laid over any byte of a page buffer.
struct TVEXDiskPageHeader {
  char Signature[4];
  // Change stamp: advanced by every write; kRemovedPageState marks a freed page.
  int32_t State;
  uint16_t PageType;
  int32_t NextPageNo;
  uint32_t CRC32;
  uint8_t CRCType;
  uint8_t HashType;
  uint8_t Cipherype;
  uint8_t MACType;
  int32_t ObjectID;
  TVEXPageItemID RecordID;
  uint8_t Reserved[8];
};
static_assert(sizeof(TVEXDiskPageHeader) == 40);
#pragma pack(pop)

// The State word of a page that was freed, and the answer of a State read that
// failed.
inline constexpr int32_t kRemovedPageState = 0x7FFFFFFF;
// A requested page type that accepts a page of any type.
inline constexpr uint16_t kAnyPageType = 255;

// The table state under which a cached page was last validated for a session,
// and the table it belongs to: a state means nothing for another table (a page
// may be freed and taken by another table, and a table dropped and made again
// starts its count anew under a new id).
struct TVEXPageTableStateInfo {
  int32_t TableState = 0;
  bool IsTableStateValueAssigned = false;
  int32_t TableID = -1;
};

// One page in memory: its number, its image (header, then data) and the
// bookkeeping the page manager needs. The geometry is the owning page
// manager's.
class TVEXPage {
 public:
  // Page number -1, no buffer, owning (a future) buffer, clean, unheld.
  explicit TVEXPage(TVEXPageManager* PageManager);
  // Frees the buffer when the page owns it.
  ~TVEXPage();
  TVEXPage(const TVEXPage&) = delete;
  TVEXPage& operator=(const TVEXPage&) = delete;

  int32_t PageNo() const { return FPageNo; }
  void SetPageNo(int32_t Value) { FPageNo = Value; }
  uint8_t* PageBuffer() const { return FPageBuffer; }
  void SetPageBuffer(uint8_t* Value) { FPageBuffer = Value; }
  bool OwnBuffer() const { return FOwnBuffer; }
  void SetOwnBuffer(bool Value) { FOwnBuffer = Value; }
  bool IsDirty() const { return FIsDirty; }
  void SetIsDirty(bool Value) { FIsDirty = Value; }
  int32_t UseCount() const { return FUseCount; }
  void SetUseCount(int32_t Value) { FUseCount = Value; }
  TVEXPageManager* PageManager() const { return LPageManager; }
  TVEXSortedPageList* ParentList() const { return FParentList; }
  void SetParentList(TVEXSortedPageList* Value) { FParentList = Value; }
  int32_t SessionID() const { return FSessionID; }
  void SetSessionID(int32_t Value) { FSessionID = Value; }
  // Set by an engine's read; cleared when the last holder releases the page.
  bool Reloaded() const { return FReloaded; }
  void SetReloaded(bool Value) { FReloaded = Value; }
  bool EncryptionEnabled() const { return FEncryptionEnabled; }
  void SetEncryptionEnabled(bool Value) { FEncryptionEnabled = Value; }

  int32_t PageSize() const;
  int32_t PageHeaderSize() const;
  int32_t PageDataSize() const { return PageSize() - PageHeaderSize(); }
  // The start of the buffer seen as a page header; meaningful only for the
  // pages of an engine whose pages have one.
  TVEXDiskPageHeader* PageHeader() const {
    return reinterpret_cast<TVEXDiskPageHeader*>(FPageBuffer);
  }
  uint8_t* PageData() const { return FPageBuffer + PageHeaderSize(); }

  // Writes the default header ("VEXP", State 0, type 0, no next page, CRC and
  // algorithm bytes 0, ObjectID -1, RecordID (-1, 0)) over the start of the
  // buffer. The reserved bytes are left as they are. Needs a buffer.
  void InitHeader();
  // Zero-fills PageSize bytes of the buffer; nothing without a buffer.
  void ClearPageBuffer();
  // Takes a zero-filled buffer of PageSize bytes (with the default header when
  // the pages have one), which the page owns. An earlier owned buffer is freed;
  // a borrowed one is only let go.
  void AllocPageBuffer();
  // Returns an owned buffer to the memory manager; a borrowed buffer is only
  // let go. Either way the page has no buffer afterwards.
  void FreeAndNilPageBuffer();
  // Makes the buffer NewSize bytes long, keeping its first PageSize bytes.
  // A borrowed buffer is left untouched: the page takes an own copy. Raises
  // 20038 without a buffer and 20039 when NewSize is below the page size.
  void EnlargePageBuffer(int32_t NewSize);

  // Revalidates a cached page against the store when other connections share
  // it: a page whose State word in the store differs from the cached one is
  // read again. Answers false only when that read failed, so the page's image
  // cannot be trusted.
  bool Synchronize();

  // The table state stored for a session (ids from -2 up); false, with
  // TableState untouched, when none was stored.
  bool GetTableState(int32_t SessionID, int32_t& TableState) const;
  void SetTableState(int32_t SessionID, int32_t TableState);
  // The same with the table the state was validated for (-1 when set
  // without one).
  bool GetTableState(int32_t SessionID, int32_t& TableID, int32_t& TableState) const;
  void SetTableState(int32_t SessionID, int32_t TableID, int32_t TableState);

 private:
  TVEXPageManager* LPageManager;
  int32_t FPageNo = -1;
  uint8_t* FPageBuffer = nullptr;
  bool FOwnBuffer = true;
  bool FIsDirty = false;
  int32_t FUseCount = 0;
  TVEXSortedPageList* FParentList = nullptr;
  int32_t FSessionID = 0;
  bool FReloaded = false;
  bool FEncryptionEnabled = true;
  // Element i belongs to session i - 2.
  std::vector<TVEXPageTableStateInfo> FTableStates;
};

// A thin view of one page, the base of the engines' typed page classes.
class TVEXPageController {
 public:
  explicit TVEXPageController(TVEXPage* aPage = nullptr) : LPage(aPage) {}
  virtual ~TVEXPageController() = default;
  TVEXPageController(const TVEXPageController&) = delete;
  TVEXPageController& operator=(const TVEXPageController&) = delete;

  TVEXPage* Page() const { return LPage; }
  void SetPage(TVEXPage* Value) { LPage = Value; }

  int32_t PageNo() const { return LPage->PageNo(); }
  void SetPageNo(int32_t Value) { LPage->SetPageNo(Value); }
  int32_t PageSize() const { return LPage->PageSize(); }
  uint8_t* PageBuffer() const { return LPage->PageBuffer(); }
  void SetPageBuffer(uint8_t* Value) { LPage->SetPageBuffer(Value); }
  bool OwnBuffer() const { return LPage->OwnBuffer(); }
  void SetOwnBuffer(bool Value) { LPage->SetOwnBuffer(Value); }
  bool IsDirty() const { return LPage->IsDirty(); }
  void SetIsDirty(bool Value) { LPage->SetIsDirty(Value); }
  int32_t UseCount() const { return LPage->UseCount(); }
  void SetUseCount(int32_t Value) { LPage->SetUseCount(Value); }
  TVEXPageManager* PageManager() const { return LPage->PageManager(); }
  uint8_t* PageData() const { return LPage->PageData(); }
  // The page manager's data size; it does not follow an enlarged buffer.
  int32_t PageDataSize() const { return LPage->PageDataSize(); }
  void EnlargePageBuffer(int32_t NewSize) { LPage->EnlargePageBuffer(NewSize); }

 protected:
  TVEXPage* LPage;
};

// One entry of a sorted page list: the page and its use stamp.
struct TVEXPageElement {
  TVEXPage* Page = nullptr;
  int64_t LRUCount = 0;
};

// Pages sorted by ascending page number for binary search, each with a use
// stamp for least-recently-used walks. Every stamp is a fresh value of the
// list's counter, so a larger stamp means a more recent use. The list does not
// own its pages and holds one entry per page number (callers insert only
// numbers that are absent). A failure leaves the list unchanged.
class TVEXSortedPageList {
 public:
  explicit TVEXSortedPageList(int32_t size = 0);
  TVEXSortedPageList(const TVEXSortedPageList&) = delete;
  TVEXSortedPageList& operator=(const TVEXSortedPageList&) = delete;

  int32_t Count() const { return ItemCount; }
  // Entries allocated in both arrays (at least Count).
  int32_t AllocatedCount() const { return AllocItemCount; }
  // The page of entry Index (0 .. Count - 1), in ascending page number.
  TVEXPage* Page(int32_t Index) const { return ValueItems[Index].Page; }

  // Sets the number of entries. Storage grows in doubling steps (from 1000 up
  // to 10000 entries at a time) and shrinks only when many entries would be
  // left empty; 0 frees it.
  void SetSize(int32_t newSize);
  // The page of that number, or nil.
  TVEXPage* Find(int32_t PageNo) const;
  // Adds the page with a fresh use stamp.
  void Insert(TVEXPage* Page);
  // Removes the entry of that number; the page object is not freed. Raises
  // 20165 on an empty list and 20166 when the number is absent.
  void Delete(int32_t PageNo);
  // Empties the list and keeps its storage.
  void Clear() { ItemCount = 0; }

  // Walks the pages from the least to the most recently used: FirstByLRU, then
  // NextByLRU until nil. The walk goes by stamp, so deleting entries during it
  // does not disturb it.
  TVEXPage* FirstByLRU();
  TVEXPage* NextByLRU();
  // Gives the page a fresh stamp; 20167 when its number is not in the list.
  void UpdateLRU(TVEXPage* Page);

 private:
  // The index of PageNo, or where it would be inserted to keep the order.
  int32_t FindPosition(int32_t PageNo) const;
  int32_t IndexOf(int32_t PageNo) const;
  void InsertAt(int32_t Index, int32_t PageNo, const TVEXPageElement& Element);
  void DeleteAt(int32_t Index);
  // The page whose stamp is the smallest above `after`; its stamp goes to
  // LRULastFound.
  TVEXPage* SmallestStampAbove(int64_t after);

  std::vector<int32_t> KeyItems;
  int32_t ItemCount = 0;
  int32_t AllocBy = 1000;
  int32_t deAllocBy = 1000;
  int32_t MaxAllocBy = 10000;
  int32_t AllocItemCount = 0;
  int64_t LRUCount = 0;
  int64_t LRULastFound = 0;
  std::vector<TVEXPageElement> ValueItems;
};

// One session's change set.
struct TVEXSessionPageInfo {
  explicit TVEXSessionPageInfo(int32_t aSessionID);

  int32_t SessionID;
  // Pages changed or created by the session and not yet committed.
  std::unique_ptr<TVEXSortedPageList> DirtyPages;
  // Numbers of the pages the session created, in order of creation.
  TVEXIntegerArray AddedPageNumbers;
  // Numbers of the pages the session freed, in order of removal.
  TVEXIntegerArray RemovedPageNumbers;
};

// Raised by TVEXPageManager::CheckInvariants; the message lists what it found.
class EPageManagerIntegrityError : public rtl::Exception {
  using rtl::Exception::Exception;
};

// The abstract page store of one open database (see the top of this file).
// The engines derive from it, set the geometry when they create or open their
// store, and implement the four page I/O operations.
class TVEXPageManager {
 public:
  // The cache capacity is fixed here: one page per 65536 bytes of free memory,
  // at most 1000 pages. DatabaseLock is the lock of the owning database, which
  // must outlive the page manager; without one (a store used on its own) the
  // page manager has a lock of its own.
  explicit TVEXPageManager(TVEXLock* DatabaseLock = nullptr);
  // Frees every page object it owns, uncommitted ones included; never raises.
  // Use Close first to be told about uncommitted changes.
  virtual ~TVEXPageManager();
  TVEXPageManager(const TVEXPageManager&) = delete;
  TVEXPageManager& operator=(const TVEXPageManager&) = delete;

  // REQUIRES: the database lock, for every operation on the lists below.
  TVEXLock& DatabaseLock() const VEX_RETURN_CAPABILITY(FDatabaseLock) { return FDatabaseLock; }

  // Raises 20097 while a session has uncommitted pages, changing nothing;
  // otherwise forgets every change set and frees every cached page.
  void Close() VEX_REQUIRES(FDatabaseLock);

  int32_t PageSize() const { return FPageSize; }
  int32_t PageHeaderSize() const { return FPageHeaderSize; }
  int32_t PageDataSize() const { return FPageDataSize; }
  int32_t CacheCapacity() const { return FCacheCapacity; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool Value) { FMultiUser = Value; }
  // Set while a damaged database is repaired; also switches off the page-type
  // check of GetPage.
  bool IgnoreCRCErrors() const { return FIgnoreCRCErrors; }
  void SetIgnoreCRCErrors(bool Value) { FIgnoreCRCErrors = Value; }

  // Pages in the store, for the engines that count them.
  virtual int32_t PageCount() { return FPageCount; }
  // Whether a cached page is still valid for the session; the base cannot
  // tell, so a page asked for with SynchronizeAllowed is revalidated.
  virtual bool IsPageTableStateCurrent(int32_t SessionID, TVEXPage* Page);
  // Records the session's current table state in a page; nothing in the base.
  virtual void UpdatePageTableState(int32_t SessionID, TVEXPage* Page);
  // The stream form of the whole store, for the engines that have one.
  virtual void LoadFromStream(rtl::TStream& Stream);
  virtual void SaveToStream(rtl::TStream& Stream);

  // Page I/O. InternalAddPage gives the page a free page number and a buffer;
  // InternalRemovePage frees a page number in the store; InternalReadPage
  // reads the image of aPage's number into its buffer (allocating it when
  // absent) and answers false when it cannot; InternalWritePage writes the
  // image.
  virtual void InternalAddPage(TVEXPage* aPage) = 0;
  virtual void InternalRemovePage(int32_t PageNo) = 0;
  virtual bool InternalReadPage(TVEXPage* aPage) = 0;
  virtual void InternalWritePage(TVEXPage* aPage) = 0;

  // Whether cached pages must be checked against the State words of the store:
  // only a store that other connections write to answers true.
  virtual bool IsPageStateCheckNeeded() const { return false; }
  // A page's State word as the store holds it now; kRemovedPageState when it
  // cannot be read.
  virtual int32_t InternalReadPageState(int32_t PageNo);

  // Frees a page at the session's next commit.
  virtual void RemovePage(int32_t SessionID, int32_t PageNo) VEX_REQUIRES(FDatabaseLock);
  // The page for reading or changing, held by the caller until PutPage: the
  // session's own uncommitted page, else the committed image (from the cache,
  // revalidated first when SynchronizeAllowed and the page is not current for
  // the session, else read from the store). PageType is the expected type
  // (kAnyPageType: any). Raises 20186 for session -1, 20299 when the page
  // cannot be read, 20153 for a page of another type, 20090 when another
  // session holds the page. A page that failed to read is not cached.
  virtual TVEXPage* GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType,
                            bool SynchronizeAllowed) VEX_REQUIRES(FDatabaseLock);
  // Commits the session's change set. Every check is made before anything is
  // changed: 20152 while the session still holds a page outside its change set
  // (a cached page, or one a commit displaced from the cache), 20085 for a page of
  // its change set that is not dirty, 20086 for one that is still held. Then
  // the freed page numbers go back to the store, and each changed page is
  // written once, in ascending page number, and kept in the cache while it has
  // room. Nothing happens for a session without a change set.
  virtual void ApplyChanges(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);

  // A new page of that type, already dirty, held by the caller and in the
  // session's change set. Raises 20064 when the store gives no usable number.
  TVEXPage* AddPage(int32_t SessionID, uint16_t PageType) VEX_REQUIRES(FDatabaseLock);
  // Releases one hold. When the last holder releases a changed page of the
  // cache, the page moves into the holder's change set; an unchanged one
  // becomes the most recently used, and the cache is then trimmed to its
  // capacity (unheld pages only, least recently used first).
  void PutPage(TVEXPage* aPage) VEX_REQUIRES(FDatabaseLock);
  // Rolls the session's change set back: its pages are dropped, the page
  // numbers it created go back to the store, and its freed numbers are
  // forgotten. Checked first: 20087 for a page that is not dirty, 20088 for
  // one that is still held. Nothing happens for a session without a change set.
  void CancelChanges(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);

  // The integrity walk over the invariants at the top of this file: every
  // page object in exactly one place (the list its ParentList names, or the
  // displaced set), every list strictly ascending by page number, one change
  // set per session holding only that session's pages, no unheld changed page
  // in the cache, no displaced page that nobody holds. Changes nothing; raises
  // EPageManagerIntegrityError naming every broken rule it found.
  void CheckInvariants() const VEX_REQUIRES(FDatabaseLock);

 protected:
  // True with the index into FSessions when the session has a change set.
  bool FindSessionIndex(int32_t SessionID, int32_t& Index) const VEX_REQUIRES(FDatabaseLock);
  // The change set of the session, created on first use.
  TVEXSessionPageInfo& SessionInfo(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);
  // The checks ApplyChanges makes before it touches the store (20152, 20085,
  // 20086), for an engine that marks its store before committing.
  void CheckChangesCanBeApplied(int32_t SessionID) const VEX_REQUIRES(FDatabaseLock);
  // Frees every page object, committed or not.
  void FreeAllPages() noexcept VEX_REQUIRES(FDatabaseLock);

  int32_t FCacheCapacity;
  std::unique_ptr<TVEXSortedPageList> FSharedPages VEX_GUARDED_BY(FDatabaseLock);
  std::vector<std::unique_ptr<TVEXSessionPageInfo>> FSessions VEX_GUARDED_BY(FDatabaseLock);
  // Pages displaced from the cache while a caller held them (a commit or a new
  // page took their number); each is freed when its last holder releases it.
  std::vector<TVEXPage*> FDisplacedPages VEX_GUARDED_BY(FDatabaseLock);
  uint16_t FPageSize = 0;
  uint16_t FPageHeaderSize = 0;
  uint16_t FPageDataSize = 0;
  int32_t FPageCount = 0;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;

 private:
  // Declared first: FDatabaseLock may name it.
  TVEXLock FOwnLock;
  TVEXLock& FDatabaseLock;

  int32_t AddSession(int32_t SessionID) VEX_REQUIRES(FDatabaseLock);
  static bool FindPageInList(const TVEXSortedPageList* List, int32_t PageNo, TVEXPage*& Page);
  // Takes the page of that number out of the list: freed when unheld, else
  // displaced until its holder releases it.
  void RemovePageFromList(TVEXSortedPageList* List, int32_t PageNo) VEX_REQUIRES(FDatabaseLock);
  void DisplacePage(TVEXPage* Page) VEX_REQUIRES(FDatabaseLock);
  void ForgetDisplacedPage(TVEXPage* Page) VEX_REQUIRES(FDatabaseLock);
  // Reads a page that is not cached and caches it once it has been read and
  // its type tested.
  TVEXPage* ReadPageIntoCache(int32_t SessionID, int32_t PageNo, uint16_t PageType)
      VEX_REQUIRES(FDatabaseLock);
  // A changed page released by its last holder joins its session's change
  // set; when that already holds the number, the released copy is dropped.
  void MoveToDirtyList(TVEXPage* Page) VEX_REQUIRES(FDatabaseLock);
  void EvictPages() VEX_REQUIRES(FDatabaseLock);
};

}  // namespace vex
