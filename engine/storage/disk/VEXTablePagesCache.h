// Table states for multi-user page caching.
//
// In multi-user mode another connection may change a table at any time, so a
// page in the shared cache may be out of date; reading every cached page's State
// word from the file on each use would cost a file access per page. This
// bookkeeping spares most of them. For each session and table it records how
// many locks against modification (ltS, ltRW) the session holds on the table and
// which table state it loaded from the table's most-updated file during the
// current lock period (the time in which it holds at least one such lock). While
// such a lock is held no other connection can commit to the table, so the table
// state cannot move, and a page verified under it stays current for the session.
//
// The disk page manager owns one TVEXDiskTablePagesCacheManager per open file
// and asks it for the state of the table a session is working with; the disk
// table data keeps it informed of locks, loads and pieces of work.
//
// No lock of its own: callers hold the owning database's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vex {

// One session's view of one table.
class TVEXDTPCTableInfo {
 public:
  explicit TVEXDTPCTableInfo(int32_t aTableID) : TableID(aTableID) {}

  // Forgets the loaded table state: a new lock period must load it again.
  void ResetState();
  bool IsTableLockedFromModification() const { return TableSLockCount + TableRWLockCount > 0; }

  int32_t TableID;
  int32_t TableSLockCount = 0;
  int32_t TableRWLockCount = 0;
  // The most-updated data has been loaded since the current lock period began.
  bool IsMostUpdatedLoaded = false;
  // The table state loaded then; -1 for none.
  int32_t TableState = -1;
};

// One session's table infos and the tables it is working with.
class TVEXDTPCSessionInfo {
 public:
  // The info of TableID, created on first use.
  TVEXDTPCTableInfo& GetTableInfo(int32_t TableID);

  // In order of first use; never removed.
  std::vector<std::unique_ptr<TVEXDTPCTableInfo>> FTableInfo;
  // The tables the session is working with, the most recent last; an id may
  // occur more than once (nested work on one table).
  std::vector<int32_t> FWorkTableIDs;
};

class TVEXDiskTablePagesCacheManager {
 public:
  // Lock counts. Taking the first lock of a period, or releasing the last one,
  // forgets the loaded table state. A release at a count of 0 leaves it at 0.
  void TableIsSLocked(int32_t SessionID, int32_t TableID);
  void TableIsSUnlocked(int32_t SessionID, int32_t TableID);
  void TableIsRWLocked(int32_t SessionID, int32_t TableID);
  void TableIsRWUnlocked(int32_t SessionID, int32_t TableID);

  // Whether the most-updated data was loaded in the current lock period;
  // false while the session holds no lock against modification.
  bool GetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID);
  // Records the table state loaded in this lock period; a later load in the
  // same period keeps the first state.
  void SetIsMostUpdatedLoaded(int32_t SessionID, int32_t TableID, int32_t TableState);

  void BeginWorkWithTable(int32_t SessionID, int32_t TableID);
  // Ends the most recent piece of work on TableID, if any.
  void EndWorkWithTable(int32_t SessionID, int32_t TableID);

  // For the table the session works with most recently: its loaded table state
  // into WorkTableState, and true when that state can be trusted (the table is
  // locked against modification and the state was loaded in this period).
  // False, with WorkTableState untouched, when the session works with no table.
  bool GetWorkTableState(int32_t SessionID, int32_t& WorkTableState);
  // The same, with the id of that table.
  bool GetWorkTableState(int32_t SessionID, int32_t& WorkTableID, int32_t& WorkTableState);

  // The info of a session (-2 is the system session), created on demand; an id
  // below -2 raises 20186.
  TVEXDTPCSessionInfo& GetSessionInfo(int32_t SessionID);
  TVEXDTPCTableInfo& GetTableInfo(int32_t SessionID, int32_t TableID);

 private:
  // Indexed by SessionID + 2.
  std::vector<std::unique_ptr<TVEXDTPCSessionInfo>> FSessionInfo;
};

}  // namespace vex
