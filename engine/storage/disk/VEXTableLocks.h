// Table and record locks between the connections of one database file.
//
// Connections that open a database in multi-user mode coordinate their work
// on its tables through seven kinds of table lock and one record lock per
// session and table. Every lock is a byte of the table's locks file (a direct
// internal file, VEXInternalFiles.h) held as a byte-range lock on the database
// file, so every handle of the file sees it, in this process or another; the
// byte layout is in docs/file-formats.md ("Table locks file").
//
//   TVEXTableLocksFile            one table's locks file: single-byte
//                                 operations and the compatibility test;
//   TVEXTableLockList             the locks one session holds, each counted and
//                                 marked physical (its byte is held) or logical
//                                 (covered by a stronger lock of the session on
//                                 the same table);
//   TVEXDatabaseTableLockManager  one per open database: takes and releases
//                                 locks with bounded, randomised retries, adds
//                                 the commit locks of a transaction and drops
//                                 its locks at the end.
//
// Lock kinds and what they serve:
//   ltIS    a table open in a shared cursor
//   ltS     one read, search or count
//   ltSIRW  editing a record outside a transaction
//   ltXIRW  editing or posting inside a transaction, until it ends
//   ltRW    posting outside a transaction; every changed table at commit
//   ltU     a record lock (its byte row is the record-lock row)
//   ltX     exclusive use: open exclusively, delete, empty, rename
//
// Compatibility (1: two sessions may hold the pair on one table); symmetric:
//
//            IS  S  SIRW XIRW RW  U  X
//     IS      1  1   1    1   1   1  0
//     S       1  1   1    1   0   1  0
//     SIRW    1  1   1    0   1   1  0
//     XIRW    1  1   0    0   0   1  0
//     RW      1  0   1    0   0   1  0
//     U       1  1   1    1   1   1  0
//     X       0  0   0    0   0   0  0
//
// A is at least as strong as B when every kind compatible with A is also
// compatible with B (IsLockAtLeastAsStrong derives it from the table).
//
// Invariants:
//   1. A session has at most one list entry per (kind, table); a table is
//      named by the first page of its locks file.
//   2. A physical entry's byte is held by this database object's handle: the
//      kind's byte for IS..RW, the record-lock byte for U, the locks file's
//      whole-file lock for X. A logical entry holds no byte and exists only
//      while an entry of the same session on the same table that is at least
//      as strong is held, or until MakeWeakerLocksPhysical gives it a byte.
//   3. Every test-and-set of a byte runs while this connection holds the
//      table's whole-file lock, so the test and the set are atomic between
//      connections; the whole-file lock is given back on every way out,
//      except the one a granted ltX keeps.
//   4. An entry leaves the list only when its byte is released (or it had
//      none): a release that fails puts the entry back as it was, so the list
//      never claims less than the bytes held.
//   5. A physical record lock's six-byte record id in the locks file names
//      the record it guards; it is written whenever the byte is set.
//   6. Every wait is bounded: a number of tries with a pause through
//      os::Clock, after which the operation answers false or raises.
//
// States of one (session, kind, table) and the function behind each move:
//
//                  LockTable (granted)             UnlockTable (count 0)
//     none ---------------------------------> physical -------------------> none
//       |                                     ^   |  AddLock/RemoveLock
//       | LockTable / LockRecord              |   |  change the count only
//       | (a stronger lock is held)           |   v
//       +--------------------------------> logical --------------------> none
//                                   MakeWeakerLocksPhysical   UnlockTable /
//                                   (the stronger physical    UnlockRecord
//                                    lock is being released)  (count 0)
//
//   LockRecord moves none -> physical (ltU) and UnlockRecord back;
//   AddRWLocksBeforeCommit adds ltRW for every ltXIRW table;
//   ClearTransactionLocks drops every ltXIRW and ltRW whatever its count.
//
// Lock order, outermost first: the database lock (TVEXDatabaseData::Lock),
// the manager's lock (FCSect), a table's whole-file lock (a byte, never
// waited on while a byte of that table is awaited), the kind's byte.
//
// Threads: the manager's methods take FCSect themselves (LockTable with
// NoThreadLock relies on its caller holding it) and leave it during every
// pause, except the waits of AddRWLocksBeforeCommit and ClearTransactionLocks,
// which keep it. REQUIRES (every method of the three classes): the database
// lock, outside FCSect. Locks files and lock lists have no lock of their own:
// REQUIRES the table-lock manager's lock (FCSect), or sole use by one thread
// (a table's own locks file before the manager sees it).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/VEXLock.h"
#include "storage/VEXPage.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXInternalFiles.h"

namespace vex {

enum TVEXLockType : uint8_t {
  ltIS = 0,
  ltS = 1,
  ltSIRW = 2,
  ltXIRW = 3,
  ltRW = 4,
  ltU = 5,
  ltX = 6
};
inline constexpr int kLockTypeCount = 7;

// Whether two sessions may hold these kinds on one table at once.
bool AreLocksCompatible(TVEXLockType Requested, TVEXLockType Other);

class TVEXTableLocksFile {
 public:
  explicit TVEXTableLocksFile(TVEXDiskPageManager* PageManager);
  TVEXTableLocksFile(const TVEXTableLocksFile&) = delete;
  TVEXTableLocksFile& operator=(const TVEXTableLocksFile&) = delete;

  // Creates the file of 12 x aMaxSessionCount bytes in the system session;
  // it stays open. Answers its first page.
  int32_t CreateFile(int32_t aMaxSessionCount);
  // Removes the open file's pages in the system session and closes it.
  void DeleteFile();
  // MaxSessionCount becomes the stored size div 12.
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();

  // Byte operations; true when the byte operation succeeded. On a closed file
  // each raises its "Nil pointer occured" code (LockTable 10489,
  // IsTableLockedByAnyOtherSession 10490, LockRecord 10491, UnlockRecord
  // 10492, IsRecordLockedByAnyOtherSession 10493, UnlockTable 10494).
  // A session id outside 0 .. MaxSessionCount - 1 raises 20200 for a lock and
  // answers false for a release. ltX has no byte: false.
  bool LockTable(int32_t SessionID, TVEXLockType LockType);
  bool UnlockTable(int32_t SessionID, TVEXLockType LockType);
  // Whether a session other than SessionID holds the kind's byte.
  bool IsTableLockedByAnyOtherSession(int32_t SessionID, TVEXLockType LockType);
  // Whether every kind another session holds is compatible with LockType;
  // with AllowXIRWAfterSIRW an ltXIRW may join other sessions' ltSIRW. ltX
  // held elsewhere does not show here: the whole-file lock enforces it.
  bool IsTableLockAllowed(int32_t SessionID, TVEXLockType LockType, bool AllowXIRWAfterSIRW);
  // Sets the session's record-lock byte and, when set, stores RecordID; a
  // failure to store gives the byte back and raises.
  bool LockRecord(int32_t SessionID, const TVEXPageItemID& RecordID);
  // Releases the byte; the stored id stays.
  bool UnlockRecord(int32_t SessionID, const TVEXPageItemID& RecordID);
  // Whether another session holds a record lock on that record.
  bool IsRecordLockedByAnyOtherSession(int32_t SessionID, const TVEXPageItemID& RecordID);
  // The whole-file lock (20156 on a closed file).
  bool LockFile();
  bool UnlockFile();

  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  // 10483 on a closed file.
  int32_t StartPageNo() const;
  bool IsOpened() const { return FHandle.StartPageNo() != -1; }

 private:
  void CheckOpened(int32_t NativeErrorCode) const;
  // The record id stored for a session.
  TVEXPageItemID StoredRecordID(int32_t SessionID);
  // Whether a byte of [Row x N, Row x N + N) other than the session's is held.
  bool IsRowLockedByOthers(int32_t Row, int32_t SessionID);

  TVEXDiskPageManager* LPageManager;
  TVEXInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
};

struct TVEXTableLockItem {
  TVEXLockType LockType;
  int32_t LocksFilePageNo;
  int32_t LockCount;
  bool HasPhysicalLock;
  bool IsXIRWAfterSIRWAllowed;
  // For ltU: the locked record, written again when a logical record lock
  // becomes physical.
  TVEXPageItemID RecordID{-1, 0};
};

class TVEXTableLockList {
 public:
  // Counts an existing entry once more (flags unchanged) or appends one with
  // count 1.
  void AddLock(TVEXLockType LockType, int32_t LocksFilePageNo, bool HasPhysicalLock,
               bool IsXIRWAfterSIRWAllowed);
  // Counts the entry down (IgnoreCount: removes it whatever its count).
  // HasPhysicalLock tells whether a byte is to be released: the removed
  // entry's flag, false when the entry stays. Removed gets the entry as it
  // was, for putting it back. 20202 without such an entry.
  void RemoveLock(TVEXLockType LockType, int32_t LocksFilePageNo, bool& HasPhysicalLock,
                  bool IgnoreCount, TVEXTableLockItem* Removed = nullptr);
  // Puts an entry back as RemoveLock took it out (merging with one added
  // since).
  void RestoreLock(const TVEXTableLockItem& Item);
  bool LockExists(TVEXLockType LockType, int32_t LocksFilePageNo) const;
  bool LockExists(TVEXLockType LockType, int32_t LocksFilePageNo,
                  bool IsXIRWAfterSIRWAllowed) const;
  // Whether another entry of the table is at least as strong as LockType.
  bool StrongerLockExists(TVEXLockType LockType, int32_t LocksFilePageNo) const;
  void SetPhysicalLock(int32_t ItemNo);
  bool IsWeakerNonPhysicalLock(int32_t ItemNo, TVEXLockType LockType) const;
  static bool IsLockAtLeastAsStrong(TVEXLockType Stronger, TVEXLockType Weaker);

  int32_t Count() const { return static_cast<int32_t>(FLockList.size()); }
  const TVEXTableLockItem& Item(int32_t ItemNo) const {
    return FLockList[static_cast<size_t>(ItemNo)];
  }
  TVEXTableLockItem& Item(int32_t ItemNo) { return FLockList[static_cast<size_t>(ItemNo)]; }
  int32_t IndexOf(TVEXLockType LockType, int32_t LocksFilePageNo) const;

 private:
  std::vector<TVEXTableLockItem> FLockList;
};

class TVEXDatabaseTableLockManager {
 public:
  TVEXDatabaseTableLockManager(int32_t MaxSessionCount, TVEXDiskPageManager* PageManager);
  // Only releases memory: the bytes go with the database's handle. Call
  // Close first to be told of locks left.
  ~TVEXDatabaseTableLockManager() = default;
  TVEXDatabaseTableLockManager(const TVEXDatabaseTableLockManager&) = delete;
  TVEXDatabaseTableLockManager& operator=(const TVEXDatabaseTableLockManager&) = delete;

  // 20201 "Some table locks still exist" while any session has an entry.
  void Close() VEX_REQUIRES(LPageManager->DatabaseLock());

  // True when the session holds the lock: at once for a database open
  // exclusively, for a kind the session holds already (counted; ltSIRW
  // answers false instead) and for one a stronger lock of the session covers
  // (logical); otherwise after up to aTryCount tries paused by
  // aDelayMS/2 + Random(aDelayMS/2) ms. NoThreadLock: the caller holds the
  // manager's lock and it is kept through the pauses. Raises 20203 when a
  // byte the test allowed cannot be set, 20200 for a session beyond the
  // locks file.
  bool LockTable(int32_t SessionID, TVEXLockType LockType, TVEXTableLocksFile& TableLocksFile,
                 int32_t aTryCount, int32_t aDelayMS, bool NoThreadLock, bool AllowXIRWAfterSIRW)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // True when released or only counted down. Without the entry: true with
  // IgnoreIfNoLock, else 20202. False when the byte cannot be released within
  // 4500 tries 20 ms apart; the entry then stays. 20204 when the byte's
  // release fails under the whole-file lock.
  bool UnlockTable(int32_t SessionID, TVEXLockType LockType, TVEXTableLocksFile& TableLocksFile,
                   bool IgnoreIfNoLock, bool IgnoreCount)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // One record lock per session and table: false at once when the session
  // holds one there already. Logical under the session's ltX or an ltXIRW
  // taken without AllowXIRWAfterSIRW. Otherwise up to aTryCount tries aDelayMS
  // apart, and no longer than aTryCount x aDelayMS ms. 20205 when the byte
  // cannot be set although no other session holds the record.
  bool LockRecord(int32_t SessionID, TVEXTableLocksFile& TableLocksFile,
                  const TVEXPageItemID& RecordID, int32_t aTryCount, int32_t aDelayMS)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // False without a record lock on the table, or when the byte cannot be
  // released within 4500 tries 20 ms apart; the entry then stays, so a later
  // call tries again. 20206 when the release fails under the whole-file lock.
  bool UnlockRecord(int32_t SessionID, TVEXTableLocksFile& TableLocksFile,
                    const TVEXPageItemID& RecordID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Whether another session holds that record.
  bool IsRecordLocked(int32_t SessionID, TVEXTableLocksFile& TableLocksFile,
                      const TVEXPageItemID& RecordID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Locks ltRW on every table the session holds ltXIRW on (900 tries, 100 ms,
  // keeping the manager's lock). False when one cannot be had; the ltRW
  // locks this call took are released again (20234 when one stays).
  bool AddRWLocksBeforeCommit(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Keeps each table with a record lock in ltSIRW at least, then releases
  // every ltXIRW and ltRW of the session whatever its count. False, releasing
  // nothing, when such an ltSIRW cannot be had; 20234 when a lock cannot be
  // released within its tries (each is tried once, so the walk ends).
  bool ClearTransactionLocks(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());

  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  // The session's entries, for inspection; nullptr outside 0 .. count - 1.
  const TVEXTableLockList* SessionLockList(int32_t SessionID) const VEX_REQUIRES(FCSect);
  // The manager's lock: taken inside the database lock, never around it.
  TVEXLock& Lock() VEX_RETURN_CAPABILITY(FCSect) { return FCSect; }

 private:
  TVEXTableLockList* ListOf(int32_t SessionID) VEX_REQUIRES(FCSect);
  // LockTable's work; LeaveForPauses: FCSect is left while it sleeps.
  bool LockTableHeld(int32_t SessionID, TVEXLockType LockType, TVEXTableLocksFile& TableLocksFile,
                     int32_t aTryCount, int32_t aDelayMS, bool LeaveForPauses,
                     bool AllowXIRWAfterSIRW) VEX_REQUIRES(FCSect);
  // Sleeps, leaving FCSect for the time (one level of it) when Leave is set.
  void Pause(uint32_t DelayMS, bool Leave) VEX_REQUIRES(FCSect);
  // Gives the session's logical locks on the table that LockType covers
  // their own bytes, before LockType's byte goes; false when a byte or the
  // whole-file lock (4500 tries 20 ms apart) cannot be had.
  bool MakeWeakerLocksPhysical(int32_t SessionID, TVEXLockType LockType,
                               TVEXTableLocksFile& TableLocksFile) VEX_REQUIRES(FCSect);
  bool AddSIRWLocksForRecordLocks(int32_t SessionID)
      VEX_REQUIRES(FCSect, LPageManager->DatabaseLock());

  // Declared first: the lists name it.
  TVEXLock FCSect;
  std::vector<TVEXTableLockList> FSessionLockList VEX_GUARDED_BY(FCSect);
  int32_t FMaxSessionCount;
  TVEXDiskPageManager* LPageManager;
};

}  // namespace vex
