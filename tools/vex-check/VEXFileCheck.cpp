// The checker's walk (see VEXFileCheck.h). It reads page headers straight
// from the file (they are never encrypted) and page data through the page
// manager, parses the B-tree, record and BLOB pages by the layouts of
// docs/file-formats.md, and lets the engine's own table data read records
// and walk indexes, so a fault in either the file or the engine's reading of
// it shows.
#include "VEXFileCheck.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXPageHold.h"
#include "storage/disk/VEXDiskDatabaseData.h"
#include "storage/disk/VEXDiskTableData.h"
#include "storage/disk/VEXFreeSpaceManager.h"

namespace vex {
namespace {

constexpr int32_t kFreedPageState = 0x7FFFFFFF;
constexpr uint16_t kLargeBlobItemNo = 0xFFFF;
constexpr int32_t kBlobItemHeaderSize = 22;
constexpr int32_t kLargeBlobDataOffset = 32;
// Deeper than any tree of a file this engine can address.
constexpr int kMaxTreeDepth = 64;

template <class T>
T At(const uint8_t* bytes, size_t offset) {
  T value{};
  std::memcpy(&value, bytes + offset, sizeof(T));
  return value;
}

std::string ErrorText(const std::exception& e) {
  if (const auto* engine = dynamic_cast<const EVEXException*>(&e))
    return "engine error " + std::to_string(engine->NativeError) + ": " + engine->what();
  return e.what();
}

// One walk of one open file. Every member function runs under the database
// lock, which Run takes once.
class Checker {
 public:
  Checker(TVEXLocalSession& Session, TVEXDiskDatabaseData& Db, TVEXFileCheckReport& Report)
      : FSession(Session), FDb(Db), FPages(*Db.DiskPageManager()), FReport(Report) {}

  void Run() VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXLockGuard lock(FDb.DatabaseLock());
    FPages.ReadDBHeader();
    const TVEXDBHeader& header = *FPages.DBHeader();
    FTotal = header.TotalPageCount;
    FReport.TotalPages = FTotal;
    FDataSize = FPages.PageSize() - kDiskPageHeaderSize;
    CheckPrologue(header);
    // Walk no further than the pages the file holds, whatever its header says.
    const int64_t inFile =
        (FPages.DatabaseFile().GetSize() - FPages.OffsetToFirstPage()) / FPages.PageSize();
    FTotal = static_cast<int32_t>(std::clamp<int64_t>(inFile, 0, FTotal));
    ClaimSystemPages();
    int32_t maxObjectID = 0;
    // A copy: opening a table loads the list again.
    const std::vector<TVEXTableListItem> tables = FDb.TableListFile()->TableList();
    for (const TVEXTableListItem& item : tables) {
      ++FReport.TableCount;
      maxObjectID = std::max(maxObjectID, item.TableID);
      Chain(item.MetaDataFilePageNo, ptTableMetaData, "metadata of " + item.TableName);
      Chain(item.MostUpdatedFilePageNo, ptTableMostUpdated, "state file of " + item.TableName);
      Chain(item.LocksFilePageNo, ptTableLocks, "locks file of " + item.TableName);
      try {
        CheckTable(item, maxObjectID);
      } catch (const std::exception& e) {
        Fault("table " + item.TableName + ": " + ErrorText(e));
      }
    }
    const int32_t counter = ReadObjectIDCounter();
    if (counter < maxObjectID)
      Fault("object-id counter " + std::to_string(counter) + " is below the id " +
            std::to_string(maxObjectID) + " in use");
    CheckFreeSpaceMaps(header);
    FReport.PagesClaimed = static_cast<int64_t>(FOwner.size());
  }

 private:
  void Fault(const std::string& Text) { FReport.Faults.push_back(Text); }

  // --- prologue
  void CheckPrologue(const TVEXDBHeader& header) VEX_NO_THREAD_SAFETY_ANALYSIS {
    if (header.WriteChangesState != kWriteChangesDone)
      Fault("crash marker is " + std::to_string(header.WriteChangesState) +
            ": a commit did not end, the file needs repair");
    if (header.Version != kDBVersion) Fault("format version " + std::to_string(header.Version));
    const int64_t size = FPages.DatabaseFile().GetSize();
    const int64_t expected = FPages.OffsetToFirstPage() + int64_t{FTotal} * FPages.PageSize();
    if (size != expected)
      Fault("file is " + std::to_string(size) + " bytes, its header's " + std::to_string(FTotal) +
            " pages need " + std::to_string(expected));
    if (header.LastUsedPageNo >= FTotal)
      Fault("last used page " + std::to_string(header.LastUsedPageNo) + " is past the " +
            std::to_string(FTotal) + " pages");
  }

  int32_t ReadObjectIDCounter() {
    int32_t counter = 0;
    // The counter follows the lock bytes.
    FPages.DatabaseFile().ReadBuffer(&counter, sizeof counter,
                                     FPages.OffsetToLockedBytes() + sizeof(TVEXLockedBytes), 30400);
    return counter;
  }

  // --- page ownership
  TVEXDiskPageHeader Header(int32_t pageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXDiskPageHeader h{};
    FPages.ReadPageRegion(&h, pageNo, 0, sizeof h);
    return h;
  }

  // Claims a page for an owner; false (with a fault) when it cannot be its.
  bool Claim(int32_t pageNo, uint16_t type, const std::string& owner) {
    if (pageNo < 0 || pageNo >= FTotal) {
      Fault(owner + ": page " + std::to_string(pageNo) + " is outside the file");
      return false;
    }
    const auto [it, fresh] = FOwner.emplace(pageNo, owner);
    if (!fresh) {
      Fault("page " + std::to_string(pageNo) + " belongs to both " + it->second + " and " + owner);
      return false;
    }
    const TVEXDiskPageHeader h = Header(pageNo);
    if (h.PageType != type) {
      Fault(owner + ": page " + std::to_string(pageNo) + " is a " + GetPageTypeName(h.PageType) +
            ", expected a " + GetPageTypeName(type));
      return false;
    }
    if (h.State == kFreedPageState && type != ptPFS && type != ptEAM) {
      Fault(owner + ": page " + std::to_string(pageNo) + " is marked freed");
      return false;
    }
    return true;
  }

  // An internal file's chain; answers its pages.
  std::vector<int32_t> Chain(int32_t start, uint16_t type, const std::string& owner) {
    std::vector<int32_t> pages;
    int32_t pageNo = start;
    while (pageNo != -1) {
      if (static_cast<int64_t>(pages.size()) > FTotal) {
        Fault(owner + ": chain longer than the file");
        break;
      }
      if (!Claim(pageNo, type, owner)) break;
      pages.push_back(pageNo);
      pageNo = Header(pageNo).NextPageNo;
    }
    return pages;
  }

  void ClaimSystemPages() {
    TVEXDatabaseFreeSpaceManager& space = *FPages.FreeSpaceManager();
    for (int64_t k = 0; k * space.PFSPagesAddressed() < FTotal; ++k)
      Claim(static_cast<int32_t>(space.PFSPageNo(k)), ptPFS, "free-space map");
    for (int64_t k = 0; k * space.EAMPagesAddressed() < FTotal; ++k)
      Claim(static_cast<int32_t>(space.EAMPageNo(k)), ptEAM, "free-space map");
    Chain(2, ptFileSystemDirectory, "system directory");
    Chain(FDb.ActiveSessionsFile()->StartPageNo(), ptActiveSessionList, "sessions file");
    Chain(FDb.TableListFile()->StartPageNo(), ptTableList, "table list");
  }

  // Page data as the engine reads it (decrypted, CRC checked).
  std::vector<uint8_t> Data(int32_t pageNo, uint16_t type) VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXPageHold hold = TVEXPageHold::Get(FPages, FSession.SessionID(), pageNo, type, false);
    return {hold->PageData(), hold->PageData() + FDataSize};
  }

  // --- B-trees: every page of the tree claimed; the leaf entries go to Leaf
  // as (key bytes, reference bytes). Answers false when the tree is damaged.
  template <class OnLeaf>
  bool Tree(int32_t root, int32_t leafRefSize, const std::string& owner, OnLeaf Leaf) {
    return TreePage(root, leafRefSize, owner, Leaf, 0, true);
  }

  template <class OnLeaf>
  bool TreePage(int32_t pageNo, int32_t leafRefSize, const std::string& owner, OnLeaf& Leaf,
                int depth, bool isRoot) {
    if (depth > kMaxTreeDepth) {
      Fault(owner + ": tree deeper than " + std::to_string(kMaxTreeDepth));
      return false;
    }
    if (!Claim(pageNo, ptTableIndex, owner)) return false;
    const std::vector<uint8_t> d = Data(pageNo, ptTableIndex);
    const uint8_t* p = d.data();
    const bool leaf = p[1] == 1;
    const auto keySize = At<uint16_t>(p, 12);
    const auto count = At<uint16_t>(p, 14);
    const auto prefix = At<uint16_t>(p, 16);
    const int32_t entrySize = keySize + (leaf ? leafRefSize : 4) + (p[11] == 1 ? 6 : 0);
    const std::string where = owner + ", page " + std::to_string(pageNo);
    if (p[0] > 1 || p[1] > 1 || (p[0] == 1) != isRoot) {
      Fault(where + ": root or leaf flag wrong");
      return false;
    }
    if (18 + prefix + int64_t{count} * entrySize > FDataSize || (!leaf && count == 0)) {
      Fault(where + ": " + std::to_string(count) + " entries do not fit the page");
      return false;
    }
    bool sound = true;
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t* entry = p + 18 + prefix + i * entrySize;
      if (leaf) {
        Leaf(entry, keySize, entry + keySize);
      } else {
        sound = TreePage(At<int32_t>(entry, keySize), leafRefSize, owner, Leaf, depth + 1, false) &&
                sound;
      }
    }
    return sound;
  }

  // --- tables
  void CheckTable(const TVEXTableListItem& item, int32_t& maxObjectID) VEX_NO_THREAD_SAFETY_ANALYSIS {
    const std::string name = "table " + item.TableName;
    TVEXLocalCursor cursor;
    cursor.SetSession(&FSession);
    cursor.SetTableName(item.TableName);
    cursor.SetReadOnly(true);
    {
      TVEXFieldDefs fields;
      TVEXIndexDefs indexes;
      TVEXConstraintDefs constraints;
      cursor.OpenTableByFieldDefs(fields, indexes, constraints);
    }
    cursor.InternalInitFieldDefs();
    auto* table = dynamic_cast<TVEXDiskTableData*>(cursor.TableData());
    if (table == nullptr) {
      Fault(name + ": not a disk table");
      return;
    }
    TVEXMemBlock current = cursor.AllocateRecordBuffer();
    TVEXMemBlock previous = cursor.AllocateRecordBuffer();
    auto* buffer = static_cast<uint8_t*>(current.Get());
    cursor.SetCurrentRecordBuffer(buffer);
    const TVEXFieldDefs& fieldDefs = table->FieldManager()->FieldDefs();
    for (int32_t i = 0; i < fieldDefs.Count(); ++i)
      maxObjectID = std::max(maxObjectID, fieldDefs.GetDef(i)->ObjectID);
    TVEXBaseIndexManager& indexManager = *table->IndexManager();
    for (int32_t i = 0; i < indexManager.IndexDefs().Count(); ++i)
      maxObjectID = std::max(maxObjectID, indexManager.IndexDefs().GetDef(i)->ObjectID);

    // Record pages through the record-page index.
    TVEXDiskRecordManager& records = *table->DiskRecordManager();
    const int32_t slots = records.MaxRecordsOnPage();
    int64_t indexedRecords = 0;
    std::map<int32_t, int32_t> recordsOnPage;
    Tree(records.RecordPageIndex().RootPageNo(), 2, name + " record-page index",
         [&](const uint8_t* key, int32_t, const uint8_t* ref) {
           const auto pageNo = At<int32_t>(key, 0);
           const auto count = At<uint16_t>(ref, 0);
           indexedRecords += count;
           recordsOnPage[pageNo] = count;
         });
    for (const auto& [pageNo, count] : recordsOnPage) {
      if (!Claim(pageNo, ptTableRecord, name + " records")) continue;
      const std::vector<uint8_t> d = Data(pageNo, ptTableRecord);
      int32_t used = 0;
      for (int32_t s = 0; s < slots; ++s) used += (d[static_cast<size_t>(s / 8)] >> (s % 8)) & 1;
      if (used != count)
        Fault(name + ": record page " + std::to_string(pageNo) + " holds " + std::to_string(used) +
              " records, its index says " + std::to_string(count));
      if (used == 0) Fault(name + ": empty record page " + std::to_string(pageNo) + " kept");
    }

    // Shared BLOB pages through the BLOB-page index.
    TVEXDiskBlobManager* blobs = table->BlobManager();
    std::map<int32_t, std::set<uint16_t>> blobItems;
    if (blobs != nullptr && blobs->BlobPageIndex().RootPageNo() != -1) {
      std::map<int32_t, int32_t> bytesOnPage;
      Tree(blobs->BlobPageIndex().RootPageNo(), 2, name + " BLOB-page index",
           [&](const uint8_t* key, int32_t, const uint8_t* ref) {
             bytesOnPage[At<int32_t>(key, 0)] = At<uint16_t>(ref, 0);
           });
      for (const auto& [pageNo, bytes] : bytesOnPage) {
        if (!Claim(pageNo, ptTableBlob, name + " BLOB pages")) continue;
        const std::vector<uint8_t> d = Data(pageNo, ptTableBlob);
        const auto count = At<uint16_t>(d.data(), 0);
        int64_t offset = 2;
        int64_t taken = 0;
        std::set<uint16_t>& ids = blobItems[pageNo];
        for (int32_t i = 0; i < count; ++i) {
          if (offset + kBlobItemHeaderSize > FDataSize) break;
          const auto stored = At<int64_t>(d.data(), static_cast<size_t>(offset) + 6);
          if (stored < 0 || offset + kBlobItemHeaderSize + stored > FDataSize) {
            Fault(name + ": BLOB page " + std::to_string(pageNo) + " item " + std::to_string(i) +
                  " runs past the page");
            offset = FDataSize;
            break;
          }
          if (!ids.insert(At<uint16_t>(d.data(), static_cast<size_t>(offset))).second)
            Fault(name + ": BLOB page " + std::to_string(pageNo) + " has an item id twice");
          taken += kBlobItemHeaderSize + stored;
          offset += kBlobItemHeaderSize + stored;
        }
        if (taken != bytes)
          Fault(name + ": BLOB page " + std::to_string(pageNo) + " holds " + std::to_string(taken) +
                " bytes, its index says " + std::to_string(bytes));
      }
    }

    // The physical walk, bounded by what the record-page index lists.
    std::set<std::pair<int32_t, uint16_t>> walked;
    cursor.FirstPosition = true;
    cursor.LastPosition = false;
    TVEXGetRecordResult result = grrOK;
    while ((result = table->GetRecordBuffer(cursor, grmNext)) == grrOK) {
      const TVEXPageItemID id = cursor.CurrentRecordID;
      if (!walked.emplace(id.PageNo, id.PageItemNo).second) {
        Fault(name + ": the walk meets record " + std::to_string(id.PageNo) + ":" +
              std::to_string(id.PageItemNo) + " twice");
        break;
      }
      if (static_cast<int64_t>(walked.size()) > indexedRecords) {
        Fault(name + ": the walk finds more records than the record-page index lists");
        break;
      }
      CheckBlobs(*table, cursor, buffer, blobItems, name);
    }
    if (result == grrError) Fault(name + ": the walk ended with an error");
    const int64_t stored = table->InternalGetRecordCount(cursor);
    const auto walkedCount = static_cast<int64_t>(walked.size());
    FReport.RecordCount += walkedCount;
    if (walkedCount != indexedRecords || walkedCount != stored)
      Fault(name + ": " + std::to_string(walkedCount) + " records walked, " +
            std::to_string(indexedRecords) + " in the record-page index, " + std::to_string(stored) +
            " counted");

    for (int32_t i = 0; i < indexManager.IndexDefs().Count(); ++i) {
      TVEXIndexDef& def = *indexManager.IndexDefs().GetIndexDef(i);
      if (def.Temporary) continue;
      ++FReport.IndexCount;
      CheckIndex(*table, cursor, def, walked, buffer, static_cast<uint8_t*>(previous.Get()),
                 name + " index " + def.Name.str());
    }
    if (table->BlobManager() != nullptr) table->BlobManager()->CheckReleased();
    cursor.CloseTable();
  }

  void CheckBlobs(TVEXDiskTableData& table, TVEXLocalCursor& cursor, uint8_t* buffer,
                  const std::map<int32_t, std::set<uint16_t>>& items, const std::string& name)
      VEX_NO_THREAD_SAFETY_ANALYSIS {
    const TVEXFieldDefs& defs = table.FieldManager()->FieldDefs();
    for (int32_t f = 0; f < defs.Count(); ++f) {
      const TVEXFieldDef& def = *defs.GetDef(f);
      if (!IsBLOBBaseFieldType(def.BaseFieldType)) continue;
      if ((buffer[f / 8] >> (f % 8)) & 1) continue;
      const TVEXPageItemID id = TVEXDiskBlobManager::BlobIDOf(buffer, def.MemoryOffset);
      const std::string where = name + ": BLOB " + std::to_string(id.PageNo) + ":" +
                                std::to_string(id.PageItemNo) + " of record " +
                                std::to_string(cursor.CurrentRecordID.PageNo) + ":" +
                                std::to_string(cursor.CurrentRecordID.PageItemNo);
      if (id.PageNo <= 0) continue;
      ++FReport.BlobCount;
      if (id.PageItemNo == kLargeBlobItemNo) {
        ClaimLargeBlob(id.PageNo, where);
      } else {
        const auto page = items.find(id.PageNo);
        if (page == items.end() || page->second.count(id.PageItemNo) == 0) {
          Fault(where + ": not on a listed BLOB page");
          continue;
        }
      }
      try {
        // Read and decompressed whole, as a reader of the field would.
        std::unique_ptr<TVEXStream> stream =
            table.InternalCreateBlobStream(cursor, false, f, bomRead);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(stream->GetSize(), 0)));
        stream->Seek(0, rtl::soFromBeginning);
        if (!bytes.empty() &&
            stream->Read(bytes.data(), static_cast<int32_t>(bytes.size())) !=
                static_cast<int32_t>(bytes.size()))
          Fault(where + ": reads short of its " + std::to_string(bytes.size()) + " bytes");
        stream.reset();
        table.ClearModifiedBLOBFieldsInRecordBuffer(buffer);
        table.BlobManager()->ClearBlobInRecordBuffer(buffer, f, true);
      } catch (const std::exception& e) {
        table.BlobManager()->ClearBlobInRecordBuffer(buffer, f, true);
        Fault(where + ": " + ErrorText(e));
      }
    }
  }

  // A large value's pages: its data pages by its page list, and the list's
  // own pages.
  void ClaimLargeBlob(int32_t first, const std::string& where) {
    if (first < 0 || first >= FTotal || Header(first).PageType != ptTableBlob) {
      Fault(where + ": first page is not a BLOB page");
      return;
    }
    const std::vector<uint8_t> head = Data(first, ptTableBlob);
    const auto stored = At<int64_t>(head.data(), 6);
    int32_t listPageNo = At<int32_t>(head.data(), 22);
    int32_t offset = At<uint16_t>(head.data(), 26);
    const auto pageCount = At<int32_t>(head.data(), 28);
    const int64_t firstPart = FDataSize - kLargeBlobDataOffset;
    const int64_t needed = 1 + (stored > firstPart ? (stored - firstPart + FDataSize - 1) / FDataSize : 0);
    if (pageCount != needed || pageCount > FTotal) {
      Fault(where + ": page list of " + std::to_string(pageCount) + " pages for " +
            std::to_string(stored) + " bytes");
      return;
    }
    std::vector<int32_t> dataPages;
    std::set<int32_t> listPages;
    while (static_cast<int32_t>(dataPages.size()) < pageCount) {
      if (listPageNo < 0 || listPageNo >= FTotal || !listPages.insert(listPageNo).second) {
        Fault(where + ": page list runs out");
        return;
      }
      const std::vector<uint8_t> list = Data(listPageNo, ptTableBlob);
      for (int32_t o = offset; o + 4 <= FDataSize && static_cast<int32_t>(dataPages.size()) < pageCount;
           o += 4)
        dataPages.push_back(At<int32_t>(list.data(), static_cast<size_t>(o)));
      listPageNo = Header(listPageNo).NextPageNo;
      offset = 0;
    }
    if (dataPages.front() != first) Fault(where + ": page list does not start at its first page");
    for (int32_t pageNo : dataPages) Claim(pageNo, ptTableBlob, where);
    for (int32_t pageNo : listPages)
      if (std::find(dataPages.begin(), dataPages.end(), pageNo) == dataPages.end())
        Claim(pageNo, ptTableBlob, where + " page list");
  }

  // An index tree's pages, its leaf entries against the records, and the
  // engine's walk along it in order.
  void CheckIndex(TVEXDiskTableData& table, TVEXLocalCursor& cursor, TVEXIndexDef& def,
                  const std::set<std::pair<int32_t, uint16_t>>& walked, uint8_t* buffer,
                  uint8_t* previous, const std::string& name) VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::multiset<std::pair<int32_t, uint16_t>> entries;
    const bool treeSound = Tree(def.RootPageNo, 6, name, [&](const uint8_t*, int32_t, const uint8_t* ref) {
      entries.emplace(At<int32_t>(ref, 0), At<uint16_t>(ref, 4));
    });
    if (std::multiset<std::pair<int32_t, uint16_t>>(walked.begin(), walked.end()) != entries) {
      Fault(name + ": its " + std::to_string(entries.size()) +
            " entries are not the table's records (" + std::to_string(walked.size()) + ")");
    }
    if (!treeSound) return;
    TVEXBaseIndexManager& indexes = *table.IndexManager();
    TVEXIndex* index = indexes.FindOpenIndex(def.ObjectID);
    if (index == nullptr) index = indexes.OpenIndex(def.ObjectID);
    TVEXNavigationInfo nav;
    nav.IndexID = def.ObjectID;
    nav.RecordBuffer = buffer;
    nav.FirstPosition = true;
    nav.GetRecordMode = grmNext;
    int64_t steps = 0;
    const size_t size = static_cast<size_t>(cursor.RecordBufferSize());
    for (;;) {
      indexes.GetRecordBuffer(cursor.GetSessionID(), nav, nullptr, table.RecordManager()->TableState());
      if (nav.GetRecordResult != grrOK) break;
      nav.FirstPosition = false;
      if (++steps > static_cast<int64_t>(entries.size())) {
        Fault(name + ": the walk in index order does not end");
        return;
      }
      if (steps > 1) {
        const int32_t order = index->CompareRecordBuffersByIndex(previous, buffer, def.ColumnCount());
        if (order > 0 || (order == 0 && def.Unique))
          Fault(name + ": record " + std::to_string(nav.RecordID.PageNo) + ":" +
                std::to_string(nav.RecordID.PageItemNo) + " is out of order" +
                (order == 0 ? " (equal key in a unique index)" : ""));
      }
      std::memcpy(previous, buffer, size);
    }
    // An empty tree answers the first step with an error result.
    if (nav.GetRecordResult == grrError && !entries.empty())
      Fault(name + ": the walk in index order ended with an error");
    if (steps != static_cast<int64_t>(entries.size()))
      Fault(name + ": the walk in index order meets " + std::to_string(steps) + " of " +
            std::to_string(entries.size()) + " records");
  }

  // --- free-space maps against the claimed pages
  void CheckFreeSpaceMaps(const TVEXDBHeader& header) VEX_NO_THREAD_SAFETY_ANALYSIS {
    TVEXDatabaseFreeSpaceManager& space = *FPages.FreeSpaceManager();
    const int64_t ppp = space.PFSPagesAddressed();
    const int64_t epe = space.EAMExtentsAddressed();
    const int64_t pce = header.PageCountInExtent;
    std::vector<bool> used(static_cast<size_t>(FTotal));
    int32_t lastUsed = -1;
    for (int64_t k = 0; k * ppp < FTotal; ++k) {
      const std::vector<uint8_t> pfs = MapData(space.PFSPageNo(k));
      for (int64_t bit = 0; bit < ppp && bit / 8 < FDataSize; ++bit) {
        const int64_t pageNo = k * ppp + bit;
        const bool set = (pfs[static_cast<size_t>(bit / 8)] >> (bit % 8)) & 1;
        if (pageNo >= FTotal) {
          if (set) Fault("PFS marks page " + std::to_string(pageNo) + " beyond the file used");
          continue;
        }
        const bool claimed = FOwner.count(static_cast<int32_t>(pageNo)) != 0;
        if (set && !claimed) Unreachable(static_cast<int32_t>(pageNo));
        if (!set && claimed)
          Fault("page " + std::to_string(pageNo) + " of " + FOwner[static_cast<int32_t>(pageNo)] +
                " is free in the PFS");
        used[static_cast<size_t>(pageNo)] = set;
        if (set) lastUsed = static_cast<int32_t>(pageNo);
      }
    }
    for (int64_t k = 0; k * space.EAMPagesAddressed() < FTotal; ++k) {
      const std::vector<uint8_t> eam = MapData(space.EAMPageNo(k));
      for (int64_t x = 0; x < epe && (k * epe + x) * pce < FTotal; ++x) {
        const int64_t extent = k * epe + x;
        const int entry = (eam[static_cast<size_t>(x / 4)] >> (2 * (x % 4))) & 3;
        if (entry == 2) Fault("EAM entry of extent " + std::to_string(extent) + " is 2");
        if (entry != 3) continue;
        for (int64_t p = extent * pce; p < (extent + 1) * pce; ++p) {
          if (p >= FTotal || !used[static_cast<size_t>(p)]) {
            Fault("extent " + std::to_string(extent) + " is marked full but page " + std::to_string(p) +
                  " is free");
            break;
          }
        }
      }
    }
    if (header.LastUsedPageNo != lastUsed)
      Fault("last used page is " + std::to_string(header.LastUsedPageNo) + ", the PFS says " +
            std::to_string(lastUsed));
  }

  // A used page nothing reaches: leaked space when it was never written or
  // was freed, lost data when it still holds a page of some object.
  void Unreachable(int32_t pageNo) {
    const TVEXDiskPageHeader h = Header(pageNo);
    if (h.PageType == ptUnknown || h.PageType == ptEmpty || h.State == kFreedPageState) {
      FReport.LeakedPages.push_back(pageNo);
      return;
    }
    Fault("page " + std::to_string(pageNo) + ", a " + GetPageTypeName(h.PageType) + " of object " +
          std::to_string(h.ObjectID) + ", is used in the PFS but reachable from nothing");
  }

  // A map page's data straight from the file (never encrypted, never cached).
  std::vector<uint8_t> MapData(int64_t pageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
    std::vector<uint8_t> d(static_cast<size_t>(FDataSize));
    FPages.ReadPageRegion(d.data(), static_cast<int32_t>(pageNo), kDiskPageHeaderSize,
                          static_cast<uint16_t>(FDataSize));
    return d;
  }

  TVEXLocalSession& FSession;
  TVEXDiskDatabaseData& FDb;
  TVEXDiskPageManager& FPages;
  TVEXFileCheckReport& FReport;
  int32_t FTotal = 0;
  int32_t FDataSize = 0;
  std::map<int32_t, std::string> FOwner;
};

}  // namespace

TVEXFileCheckReport CheckDatabaseFile(const std::string& FileName, const std::string& Password) {
  TVEXFileCheckReport report;
  TVEXLocalSession session;
  session.SetDatabaseName("VEX_FILE_CHECK");
  session.SetSessionName("VEX_FILE_CHECK");
  session.SetDatabaseFileName(FileName);
  session.SetReadOnly(true);
  session.Password()->Password = Password;
  ScopeExit disconnect([&]() noexcept {
    try {
      session.SetConnected(false);
    } catch (...) {
    }
  });
  try {
    session.SetConnected(true);
    auto* db = dynamic_cast<TVEXDiskDatabaseData*>(session.DatabaseData());
    if (db == nullptr) {
      report.Faults.push_back("not a disk database");
      return report;
    }
    if (session.RepairNeeded()) report.Faults.push_back("the file asks for repair");
    Checker(session, *db, report).Run();
  } catch (const std::exception& e) {
    report.Faults.push_back("cannot be read: " + ErrorText(e));
  }
  return report;
}

std::string FormatFileCheckReport(const std::string& FileName, const TVEXFileCheckReport& Report) {
  std::ostringstream out;
  out << FileName << ": " << Report.TableCount << " tables, " << Report.RecordCount << " records, "
      << Report.IndexCount << " indexes, " << Report.BlobCount << " BLOBs, " << Report.PagesClaimed
      << " of " << Report.TotalPages << " pages in use: "
      << (Report.Sound() ? "sound" : std::to_string(Report.Faults.size()) + " faults");
  if (!Report.LeakedPages.empty()) out << ", " << Report.LeakedPages.size() << " pages leaked";
  out << '\n';
  if (!Report.LeakedPages.empty()) {
    out << "  leaked (used in the PFS, reachable from nothing):";
    for (int32_t pageNo : Report.LeakedPages) out << ' ' << pageNo;
    out << '\n';
  }
  for (const std::string& fault : Report.Faults) out << "  " << fault << '\n';
  return out.str();
}

}  // namespace vex
