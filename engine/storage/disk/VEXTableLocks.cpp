// Table and record locks. See VEXTableLocks.h for the design notes and
// docs/file-formats.md for the bytes of a locks file.
//
// The analysis cannot tell that an internal file's page manager is this
// object's: the declarations state REQUIRES of the database lock for callers,
// and the bodies that reach the internal files are exempt from the check.
#include "storage/disk/VEXTableLocks.h"

#include <algorithm>
#include <cstring>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "os/Clock.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

namespace {

// [requested kind + 7 x other kind]: 1 compatible, 0 not.
constexpr uint8_t kLockCompatibility[kLockTypeCount * kLockTypeCount] = {
    // IS S  SIRW XIRW RW U  X     <- requested; the row is the other kind
    1, 1, 1, 1, 1, 1, 0,  // ltIS
    1, 1, 1, 1, 0, 1, 0,  // ltS
    1, 1, 1, 0, 1, 1, 0,  // ltSIRW
    1, 1, 0, 0, 0, 1, 0,  // ltXIRW
    1, 0, 1, 0, 0, 1, 0,  // ltRW
    1, 1, 1, 1, 1, 1, 0,  // ltU
    0, 0, 0, 0, 0, 0, 0,  // ltX
};

// The row of the record-lock bytes, and where the record ids begin (in rows
// of N bytes).
constexpr int32_t kRecordLockRow = 5;
constexpr int32_t kRecordIDRow = 6;
constexpr int32_t kLocksFileBytesPerSession = 12;
constexpr int32_t kReleaseTries = 4500;
constexpr uint32_t kReleaseDelayMS = 20;
constexpr int32_t kCommitLockTries = 900;
constexpr int32_t kCommitLockDelayMS = 100;

// Runs an undo step on a way out; its own failure must not replace the
// exception that may be on its way, nor end the process from a destructor.
template <class F>
void Quietly(F step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

[[noreturn]] void RaiseLocksStillExist(int32_t NativeErrorCode) {
  throw EVEXException(NativeErrorCode, "Some table locks still exist");
}

// The pause between two tries of a table lock: Delay/2 .. Delay - 1 ms, so
// sessions that wait for one table do not retry in step.
uint32_t RandomisedPause(int32_t DelayMS) {
  const uint32_t half = DelayMS > 0 ? static_cast<uint32_t>(DelayMS) / 2 : 0;
  return os::CurrentClock().Random(half) + half;
}

}  // namespace

bool AreLocksCompatible(TVEXLockType Requested, TVEXLockType Other) {
  return kLockCompatibility[Requested + kLockTypeCount * Other] != 0;
}

// ---------------------------------------------------------------------------
// TVEXTableLocksFile

TVEXTableLocksFile::TVEXTableLocksFile(TVEXDiskPageManager* PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptTableLocks) {}

int32_t TVEXTableLocksFile::CreateFile(int32_t aMaxSessionCount) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FMaxSessionCount = aMaxSessionCount;
  FHandle.CreateFile(kLocksFileBytesPerSession * aMaxSessionCount);
  return FHandle.StartPageNo();
}

void TVEXTableLocksFile::DeleteFile() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.DeleteFile();
  CloseFile();
}

void TVEXTableLocksFile::OpenFile(int32_t aStartPageNo) VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle.OpenFile(aStartPageNo);
  // A stored size beyond what the chain holds would address bytes outside
  // the file; the usable size bounds it.
  FMaxSessionCount =
      std::max(0, std::min(FHandle.GetSize(), FHandle.FileSize())) / kLocksFileBytesPerSession;
}

void TVEXTableLocksFile::CloseFile() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FHandle = TVEXInternalDBDirectAccessFile(LPageManager, ptTableLocks);
  FMaxSessionCount = 0;
}

void TVEXTableLocksFile::CheckOpened(int32_t NativeErrorCode) const VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!IsOpened()) RaiseNilPointer(NativeErrorCode);
}

int32_t TVEXTableLocksFile::StartPageNo() const VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10483);
  return FHandle.StartPageNo();
}

bool TVEXTableLocksFile::LockTable(int32_t SessionID,
                                   TVEXLockType LockType) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10489);
  if (SessionID < 0 || SessionID >= FMaxSessionCount) {
    throw EVEXException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of "
                        "allowed connections");
  }
  if (LockType == ltX) return false;
  return FHandle.LockByte(LockType * FMaxSessionCount + SessionID);
}

bool TVEXTableLocksFile::UnlockTable(int32_t SessionID,
                                     TVEXLockType LockType) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10494);
  if (LockType == ltX || SessionID < 0 || SessionID >= FMaxSessionCount) return false;
  return FHandle.UnlockByte(LockType * FMaxSessionCount + SessionID);
}

bool TVEXTableLocksFile::IsRowLockedByOthers(int32_t Row,
                                             int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  const int32_t n = FMaxSessionCount;
  const int32_t before = std::clamp(SessionID, 0, n);
  const int32_t after = std::clamp(SessionID + 1, 0, n);
  return FHandle.IsRegionLocked(Row * n, before) ||
         FHandle.IsRegionLocked(Row * n + after, n - after);
}

bool TVEXTableLocksFile::IsTableLockedByAnyOtherSession(int32_t SessionID, TVEXLockType LockType)
    VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10490);
  if (LockType == ltX) return false;
  return IsRowLockedByOthers(LockType, SessionID);
}

bool TVEXTableLocksFile::IsTableLockAllowed(int32_t SessionID, TVEXLockType LockType,
                                            bool AllowXIRWAfterSIRW) VEX_NO_THREAD_SAFETY_ANALYSIS {
  for (int k = ltIS; k <= ltX; ++k) {
    const auto other = static_cast<TVEXLockType>(k);
    const bool passes = AreLocksCompatible(LockType, other) ||
                        (AllowXIRWAfterSIRW && LockType == ltXIRW && other == ltSIRW) ||
                        !IsTableLockedByAnyOtherSession(SessionID, other);
    if (!passes) return false;
  }
  return true;
}

TVEXPageItemID TVEXTableLocksFile::StoredRecordID(int32_t SessionID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  uint8_t bytes[sizeof(TVEXPageItemID)];
  FHandle.ReadBuffer(bytes, sizeof(bytes),
                     kRecordIDRow * FMaxSessionCount + SessionID * int32_t{sizeof(bytes)});
  TVEXPageItemID id;
  std::memcpy(&id, bytes, sizeof(id));
  return id;
}

bool TVEXTableLocksFile::LockRecord(int32_t SessionID,
                                    const TVEXPageItemID& RecordID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10491);
  if (SessionID < 0 || SessionID >= FMaxSessionCount) {
    throw EVEXException(20200,
                        "Cannot set table lock. Try to repair database or to increase number of "
                        "allowed connections");
  }
  const int32_t byteNo = kRecordLockRow * FMaxSessionCount + SessionID;
  if (!FHandle.LockByte(byteNo)) return false;
  // A held byte with another record's id would guard the wrong record.
  ScopeFailure giveBack([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    Quietly([&]() VEX_NO_THREAD_SAFETY_ANALYSIS { FHandle.UnlockByte(byteNo); });
  });
  FHandle.WriteBuffer(&RecordID, sizeof(RecordID),
                      kRecordIDRow * FMaxSessionCount + SessionID * int32_t{sizeof(RecordID)});
  return true;
}

bool TVEXTableLocksFile::UnlockRecord(int32_t SessionID,
                                      const TVEXPageItemID&) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10492);
  if (SessionID < 0 || SessionID >= FMaxSessionCount) return false;
  return FHandle.UnlockByte(kRecordLockRow * FMaxSessionCount + SessionID);
}

bool TVEXTableLocksFile::IsRecordLockedByAnyOtherSession(
    int32_t SessionID, const TVEXPageItemID& RecordID) VEX_NO_THREAD_SAFETY_ANALYSIS {
  CheckOpened(10493);
  if (!IsRowLockedByOthers(kRecordLockRow, SessionID)) return false;
  for (int32_t i = 0; i < FMaxSessionCount; ++i) {
    if (i == SessionID || !FHandle.IsByteLocked(kRecordLockRow * FMaxSessionCount + i)) continue;
    const TVEXPageItemID stored = StoredRecordID(i);
    if (stored.PageNo == RecordID.PageNo && stored.PageItemNo == RecordID.PageItemNo) return true;
  }
  return false;
}

bool TVEXTableLocksFile::LockFile() VEX_NO_THREAD_SAFETY_ANALYSIS { return FHandle.LockFile(); }

bool TVEXTableLocksFile::UnlockFile() VEX_NO_THREAD_SAFETY_ANALYSIS { return FHandle.UnlockFile(); }

// ---------------------------------------------------------------------------
// TVEXTableLockList

bool TVEXTableLockList::IsLockAtLeastAsStrong(TVEXLockType Stronger, TVEXLockType Weaker) {
  for (int k = ltIS; k <= ltX; ++k) {
    const auto other = static_cast<TVEXLockType>(k);
    if (AreLocksCompatible(Stronger, other) && !AreLocksCompatible(Weaker, other)) return false;
  }
  return true;
}

int32_t TVEXTableLockList::IndexOf(TVEXLockType LockType, int32_t LocksFilePageNo) const {
  for (size_t i = 0; i < FLockList.size(); ++i) {
    if (FLockList[i].LockType == LockType && FLockList[i].LocksFilePageNo == LocksFilePageNo) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

void TVEXTableLockList::AddLock(TVEXLockType LockType, int32_t LocksFilePageNo,
                                bool HasPhysicalLock, bool IsXIRWAfterSIRWAllowed) {
  const int32_t i = IndexOf(LockType, LocksFilePageNo);
  if (i >= 0) {
    ++Item(i).LockCount;
    return;
  }
  FLockList.push_back({LockType, LocksFilePageNo, 1, HasPhysicalLock, IsXIRWAfterSIRWAllowed});
}

void TVEXTableLockList::RemoveLock(TVEXLockType LockType, int32_t LocksFilePageNo,
                                   bool& HasPhysicalLock, bool IgnoreCount,
                                   TVEXTableLockItem* Removed) {
  const int32_t i = IndexOf(LockType, LocksFilePageNo);
  if (i < 0) throw EVEXException(20202, "Cannot remove table lock. Lock not found");
  TVEXTableLockItem& item = Item(i);
  if (Removed != nullptr) *Removed = item;
  --item.LockCount;
  if (item.LockCount <= 0 || IgnoreCount) {
    HasPhysicalLock = item.HasPhysicalLock;
    FLockList.erase(FLockList.begin() + i);
  } else {
    HasPhysicalLock = false;
  }
}

void TVEXTableLockList::RestoreLock(const TVEXTableLockItem& Item) {
  const int32_t i = IndexOf(Item.LockType, Item.LocksFilePageNo);
  if (i < 0) {
    FLockList.push_back(Item);
    return;
  }
  TVEXTableLockItem& present = FLockList[static_cast<size_t>(i)];
  present.LockCount += Item.LockCount;
  present.HasPhysicalLock = present.HasPhysicalLock || Item.HasPhysicalLock;
}

bool TVEXTableLockList::LockExists(TVEXLockType LockType, int32_t LocksFilePageNo) const {
  return IndexOf(LockType, LocksFilePageNo) >= 0;
}

bool TVEXTableLockList::LockExists(TVEXLockType LockType, int32_t LocksFilePageNo,
                                   bool IsXIRWAfterSIRWAllowed) const {
  const int32_t i = IndexOf(LockType, LocksFilePageNo);
  return i >= 0 && Item(i).IsXIRWAfterSIRWAllowed == IsXIRWAfterSIRWAllowed;
}

bool TVEXTableLockList::StrongerLockExists(TVEXLockType LockType, int32_t LocksFilePageNo) const {
  return std::any_of(FLockList.begin(), FLockList.end(), [&](const TVEXTableLockItem& item) {
    return item.LocksFilePageNo == LocksFilePageNo && item.LockType != LockType &&
           IsLockAtLeastAsStrong(item.LockType, LockType);
  });
}

void TVEXTableLockList::SetPhysicalLock(int32_t ItemNo) { Item(ItemNo).HasPhysicalLock = true; }

bool TVEXTableLockList::IsWeakerNonPhysicalLock(int32_t ItemNo, TVEXLockType LockType) const {
  const TVEXTableLockItem& item = Item(ItemNo);
  return IsLockAtLeastAsStrong(LockType, item.LockType) && !item.HasPhysicalLock;
}

// ---------------------------------------------------------------------------
// TVEXDatabaseTableLockManager

namespace {

// Holds a table's whole-file lock taken by the caller and gives it back on
// every way out.
class FileLockRelease {
 public:
  explicit FileLockRelease(TVEXTableLocksFile& File) : FFile(File) {}
  FileLockRelease(const FileLockRelease&) = delete;
  FileLockRelease& operator=(const FileLockRelease&) = delete;
  ~FileLockRelease() {
    if (FArmed) Quietly([this] { FFile.UnlockFile(); });
  }
  // The lock is kept (a granted ltX).
  void Keep() { FArmed = false; }

 private:
  TVEXTableLocksFile& FFile;
  bool FArmed = true;
};

}  // namespace

TVEXDatabaseTableLockManager::TVEXDatabaseTableLockManager(int32_t MaxSessionCount,
                                                           TVEXDiskPageManager* PageManager)
    : FSessionLockList(static_cast<size_t>(std::max(MaxSessionCount, 0))),
      FMaxSessionCount(MaxSessionCount),
      LPageManager(PageManager) {}

void TVEXDatabaseTableLockManager::Close() {
  TVEXLockGuard hold(FCSect);
  for (const TVEXTableLockList& list : FSessionLockList) {
    if (list.Count() > 0) RaiseLocksStillExist(20201);
  }
}

TVEXTableLockList* TVEXDatabaseTableLockManager::ListOf(int32_t SessionID) {
  if (SessionID < 0 || SessionID >= FMaxSessionCount) return nullptr;
  return &FSessionLockList[static_cast<size_t>(SessionID)];
}

const TVEXTableLockList* TVEXDatabaseTableLockManager::SessionLockList(int32_t SessionID) const {
  if (SessionID < 0 || SessionID >= FMaxSessionCount) return nullptr;
  return &FSessionLockList[static_cast<size_t>(SessionID)];
}

namespace {

[[noreturn]] void RaiseSessionOutOfRange() {
  throw EVEXException(20200,
                      "Cannot set table lock. Try to repair database or to increase number of "
                      "allowed connections");
}

}  // namespace

void TVEXDatabaseTableLockManager::Pause(uint32_t DelayMS,
                                         bool Leave) VEX_NO_THREAD_SAFETY_ANALYSIS {
  // The analysis cannot follow a conditional leave and enter; both happen
  // here or neither does, so FCSect is held again on return.
  if (Leave) FCSect.Unlock();
  if (DelayMS > 0) os::CurrentClock().Sleep(DelayMS);
  if (Leave) FCSect.Lock();
}

bool TVEXDatabaseTableLockManager::LockTable(
    int32_t SessionID, TVEXLockType LockType, TVEXTableLocksFile& TableLocksFile, int32_t aTryCount,
    int32_t aDelayMS, bool NoThreadLock, bool AllowXIRWAfterSIRW) VEX_NO_THREAD_SAFETY_ANALYSIS {
  // With NoThreadLock the caller holds FCSect; a REQUIRES cannot be written
  // for one value of an argument.
  if (LPageManager->Exclusive()) return true;
  if (NoThreadLock) {
    return LockTableHeld(SessionID, LockType, TableLocksFile, aTryCount, aDelayMS, false,
                         AllowXIRWAfterSIRW);
  }
  TVEXLockGuard hold(FCSect);
  return LockTableHeld(SessionID, LockType, TableLocksFile, aTryCount, aDelayMS, true,
                       AllowXIRWAfterSIRW);
}

bool TVEXDatabaseTableLockManager::LockTableHeld(int32_t SessionID, TVEXLockType LockType,
                                                 TVEXTableLocksFile& TableLocksFile,
                                                 int32_t aTryCount, int32_t aDelayMS,
                                                 bool LeaveForPauses, bool AllowXIRWAfterSIRW) {
  TVEXTableLockList* list = ListOf(SessionID);
  if (list == nullptr) RaiseSessionOutOfRange();
  const int32_t p = TableLocksFile.StartPageNo();

  if (list->LockExists(LockType, p)) {
    // An edit of the session is going on already; a second one must not
    // start on top of it.
    if (LockType == ltSIRW) return false;
    list->AddLock(LockType, p, false, false);
    return true;
  }
  if (list->StrongerLockExists(LockType, p)) {
    list->AddLock(LockType, p, false, true);
    return true;
  }
  for (int32_t attempt = 0; attempt < aTryCount; ++attempt) {
    if (TableLocksFile.LockFile()) {
      FileLockRelease release(TableLocksFile);
      if (TableLocksFile.IsTableLockAllowed(SessionID, LockType, AllowXIRWAfterSIRW)) {
        if (LockType != ltX && !TableLocksFile.LockTable(SessionID, LockType)) {
          throw EVEXException(20203, "Cannot set table lock");
        }
        {
          ScopeFailure undo([&] {
            if (LockType != ltX) Quietly([&] { TableLocksFile.UnlockTable(SessionID, LockType); });
          });
          list->AddLock(LockType, p, true, AllowXIRWAfterSIRW);
        }
        if (LockType == ltX) release.Keep();
        return true;
      }
    }
    Pause(RandomisedPause(aDelayMS), LeaveForPauses);
  }
  return false;
}

bool TVEXDatabaseTableLockManager::MakeWeakerLocksPhysical(int32_t SessionID, TVEXLockType LockType,
                                                           TVEXTableLocksFile& TableLocksFile) {
  TVEXTableLockList& list = *ListOf(SessionID);
  const int32_t p = TableLocksFile.StartPageNo();
  // An ltX being released, or one still held, holds the file lock already:
  // asking for it again could only wait for ourselves.
  const bool ownFileLock = LockType == ltX || list.LockExists(ltX, p);
  bool haveFileLock = ownFileLock;
  for (int32_t attempt = 0; !haveFileLock && attempt < kReleaseTries; ++attempt) {
    haveFileLock = TableLocksFile.LockFile();
    if (!haveFileLock) Pause(kReleaseDelayMS, true);
  }
  if (!haveFileLock) return false;
  ScopeExit release([&] {
    if (!ownFileLock) Quietly([&] { TableLocksFile.UnlockFile(); });
  });
  bool result = true;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TVEXTableLockItem& item = list.Item(i);
    if (item.LocksFilePageNo != p || !list.IsWeakerNonPhysicalLock(i, LockType)) continue;
    // A record lock that gets its byte also gets its record's id, or others
    // would test against whatever id the byte guarded before.
    const bool set = item.LockType == ltU ? TableLocksFile.LockRecord(SessionID, item.RecordID)
                                          : TableLocksFile.LockTable(SessionID, item.LockType);
    if (set) {
      list.SetPhysicalLock(i);
    } else {
      result = false;
    }
  }
  return result;
}

bool TVEXDatabaseTableLockManager::UnlockTable(int32_t SessionID, TVEXLockType LockType,
                                               TVEXTableLocksFile& TableLocksFile,
                                               bool IgnoreIfNoLock, bool IgnoreCount) {
  if (LPageManager->Exclusive()) return true;
  TVEXLockGuard hold(FCSect);
  TVEXTableLockList* list = ListOf(SessionID);
  const int32_t p = TableLocksFile.StartPageNo();
  if (list == nullptr || !list->LockExists(LockType, p)) {
    if (IgnoreIfNoLock) return true;
    throw EVEXException(20202, "Cannot remove table lock. Lock not found");
  }
  bool physical = false;
  TVEXTableLockItem removed{};
  list->RemoveLock(LockType, p, physical, IgnoreCount, &removed);
  if (!physical) return true;

  bool released = false;
  ScopeExit putBack([&] {
    if (!released) Quietly([&] { list->RestoreLock(removed); });
  });
  if (!MakeWeakerLocksPhysical(SessionID, LockType, TableLocksFile)) return false;
  // Under the session's own ltX the file lock is held already (see
  // MakeWeakerLocksPhysical).
  if (LockType != ltX && list->LockExists(ltX, p)) {
    if (!TableLocksFile.UnlockTable(SessionID, LockType))
      throw EVEXException(20204, "Cannot unlock table");
    released = true;
    return true;
  }
  for (int32_t attempt = 0; attempt < kReleaseTries; ++attempt) {
    if (LockType == ltX) {
      released = TableLocksFile.UnlockFile();
    } else if (TableLocksFile.LockFile()) {
      bool unlocked;
      {
        FileLockRelease release(TableLocksFile);
        unlocked = TableLocksFile.UnlockTable(SessionID, LockType);
      }
      if (!unlocked) throw EVEXException(20204, "Cannot unlock table");
      released = true;
    }
    if (released) return true;
    Pause(kReleaseDelayMS, true);
  }
  return false;
}

bool TVEXDatabaseTableLockManager::LockRecord(int32_t SessionID, TVEXTableLocksFile& TableLocksFile,
                                              const TVEXPageItemID& RecordID, int32_t aTryCount,
                                              int32_t aDelayMS) {
  os::Clock& clock = os::CurrentClock();
  const int64_t limit = int64_t{aTryCount} * aDelayMS;
  const uint64_t start = clock.TickCount();
  TVEXLockGuard hold(FCSect);
  TVEXTableLockList* list = ListOf(SessionID);
  if (list == nullptr) RaiseSessionOutOfRange();
  const int32_t p = TableLocksFile.StartPageNo();

  if (list->LockExists(ltU, p)) return false;
  if (list->LockExists(ltX, p) || list->LockExists(ltXIRW, p, false)) {
    list->AddLock(ltU, p, false, true);
    list->Item(list->IndexOf(ltU, p)).RecordID = RecordID;
    return true;
  }
  for (int32_t attempt = 0; attempt < aTryCount; ++attempt) {
    if (TableLocksFile.LockFile()) {
      FileLockRelease release(TableLocksFile);
      if (!TableLocksFile.IsRecordLockedByAnyOtherSession(SessionID, RecordID)) {
        if (!TableLocksFile.LockRecord(SessionID, RecordID)) {
          throw EVEXException(20205, "Cannot lock record");
        }
        ScopeFailure undo(
            [&] { Quietly([&] { TableLocksFile.UnlockRecord(SessionID, RecordID); }); });
        list->AddLock(ltU, p, true, true);
        list->Item(list->IndexOf(ltU, p)).RecordID = RecordID;
        return true;
      }
    }
    Pause(aDelayMS > 0 ? static_cast<uint32_t>(aDelayMS) : 0, true);
    const int64_t elapsed = static_cast<int32_t>(static_cast<uint32_t>(clock.TickCount() - start));
    if (elapsed >= limit) break;
  }
  return false;
}

bool TVEXDatabaseTableLockManager::UnlockRecord(int32_t SessionID,
                                                TVEXTableLocksFile& TableLocksFile,
                                                const TVEXPageItemID& RecordID) {
  TVEXLockGuard hold(FCSect);
  TVEXTableLockList* list = ListOf(SessionID);
  const int32_t p = TableLocksFile.StartPageNo();
  if (list == nullptr || !list->LockExists(ltU, p)) return false;
  bool physical = false;
  TVEXTableLockItem removed{};
  list->RemoveLock(ltU, p, physical, false, &removed);
  if (!physical) return true;

  // Until its byte is released the entry stays, so that a later call
  // releases it and the session is not shut out of its own table.
  bool released = false;
  ScopeExit putBack([&] {
    if (!released) Quietly([&] { list->RestoreLock(removed); });
  });
  // A record lock covers the session's ltIS on the table as any stronger
  // lock does; without its own byte the table would look closed.
  if (!MakeWeakerLocksPhysical(SessionID, ltU, TableLocksFile)) return false;
  if (list->LockExists(ltX, p)) {
    if (!TableLocksFile.UnlockRecord(SessionID, RecordID))
      throw EVEXException(20206, "Cannot unlock record");
    released = true;
    return true;
  }
  for (int32_t attempt = 0; attempt < kReleaseTries; ++attempt) {
    if (TableLocksFile.LockFile()) {
      bool unlocked;
      {
        FileLockRelease release(TableLocksFile);
        unlocked = TableLocksFile.UnlockRecord(SessionID, RecordID);
      }
      if (!unlocked) throw EVEXException(20206, "Cannot unlock record");
      released = true;
      return true;
    }
    Pause(kReleaseDelayMS, true);
  }
  return false;
}

bool TVEXDatabaseTableLockManager::IsRecordLocked(int32_t SessionID,
                                                  TVEXTableLocksFile& TableLocksFile,
                                                  const TVEXPageItemID& RecordID) {
  TVEXLockGuard hold(FCSect);
  return TableLocksFile.IsRecordLockedByAnyOtherSession(SessionID, RecordID);
}

bool TVEXDatabaseTableLockManager::AddRWLocksBeforeCommit(int32_t SessionID) {
  TVEXLockGuard hold(FCSect);
  TVEXTableLockList* list = ListOf(SessionID);
  if (list == nullptr || list->Count() == 0) return true;
  std::vector<int32_t> tables;
  for (int32_t i = 0; i < list->Count(); ++i) {
    if (list->Item(i).LockType == ltXIRW) tables.push_back(list->Item(i).LocksFilePageNo);
  }
  // Only the ltRW locks this call took are given back after a failure; one
  // the session held before belongs to someone else's work.
  std::vector<int32_t> taken;
  // The lambda runs in this call, under the locks this call holds.
  const auto releaseTaken = [&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    for (const int32_t p : taken) {
      TVEXTableLocksFile file(LPageManager);
      file.OpenFile(p);
      UnlockTable(SessionID, ltRW, file, false, false);
      if (list->LockExists(ltRW, p)) RaiseLocksStillExist(20234);
    }
    taken.clear();
  };
  ScopeFailure undo([&] { Quietly(releaseTaken); });
  for (const int32_t p : tables) {
    if (list->LockExists(ltRW, p) || list->LockExists(ltX, p)) continue;
    TVEXTableLocksFile file(LPageManager);
    file.OpenFile(p);
    if (!LockTable(SessionID, ltRW, file, kCommitLockTries, kCommitLockDelayMS, true, true)) {
      releaseTaken();
      return false;
    }
    taken.push_back(p);
  }
  return true;
}

bool TVEXDatabaseTableLockManager::AddSIRWLocksForRecordLocks(int32_t SessionID) {
  TVEXTableLockList& list = *ListOf(SessionID);
  std::vector<int32_t> tables;
  for (int32_t i = 0; i < list.Count(); ++i) {
    if (list.Item(i).LockType == ltU) tables.push_back(list.Item(i).LocksFilePageNo);
  }
  for (const int32_t p : tables) {
    // A held ltSIRW covers the record already; asking again would be refused
    // as a second edit and keep every transaction lock.
    if (list.LockExists(ltSIRW, p)) continue;
    TVEXTableLocksFile file(LPageManager);
    file.OpenFile(p);
    if (!LockTable(SessionID, ltSIRW, file, kCommitLockTries, kCommitLockDelayMS, true, true)) {
      return false;
    }
  }
  return true;
}

bool TVEXDatabaseTableLockManager::ClearTransactionLocks(int32_t SessionID) {
  TVEXLockGuard hold(FCSect);
  TVEXTableLockList* list = ListOf(SessionID);
  if (list == nullptr) return true;
  if (!AddSIRWLocksForRecordLocks(SessionID)) return false;
  struct Entry {
    TVEXLockType LockType;
    int32_t LocksFilePageNo;
  };
  std::vector<Entry> entries;
  for (int32_t i = 0; i < list->Count(); ++i) {
    const TVEXTableLockItem& item = list->Item(i);
    if (item.LockType == ltXIRW || item.LockType == ltRW) {
      entries.push_back({item.LockType, item.LocksFilePageNo});
    }
  }
  // Each entry is tried once (with its own bounded retries): one that can
  // never be released ends the walk with an error instead of going round.
  bool allReleased = true;
  for (const Entry& entry : entries) {
    TVEXTableLocksFile file(LPageManager);
    file.OpenFile(entry.LocksFilePageNo);
    if (!UnlockTable(SessionID, entry.LockType, file, false, true)) allReleased = false;
  }
  if (!allReleased) RaiseLocksStillExist(20234);
  return true;
}

}  // namespace vex
