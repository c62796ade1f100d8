// The database data: the one engine-side object behind an open database,
// shared by every session that opens the same file under the same session name
// (per file alone in single-user mode), and by the process-wide in-memory
// ("MEMORY") and temporary ("TEMP") databases.
//
// It owns the table data objects of the tables opened so far, knows its page
// manager and its connected sessions, holds the one lock that serialises all
// work on the database, and ends transactions. It is abstract: the memory,
// temporary and disk engines make its table data objects, hand out object ids,
// and override connection, table lists, creation, commit and flushing.
//
// Design notes
//   1. One table data per table name, compared by the locale's upper case:
//      FindOrCreateTableData finds before it creates, both under the lock, so
//      two cursors opening "Guests" and "GUESTS" share one object.
//   2. The database data owns every table data in FTableDataList; an object
//      leaves the list only by FreeTableData, which destroys it, or with the
//      database data itself.
//   3. A session is in FSessionList at most once, between ConnectSession and
//      DisconnectSession. The base gives every session the id 0: every session
//      of a store without connections of its own (the in-memory database)
//      shares one change set.
//   4. FPageManager is the store of a database file; the in-memory and
//      temporary databases have none (each of their tables has its own), so
//      their Commit and Rollback change no page: those databases are not
//      transactional.
//   5. Rollback reaches every open table, also tables the session never
//      touched, so each rebuilds that session's temporary indexes that no
//      longer match the table.
//
// Lock order, outermost first: the session lock, the list of shared database
// objects, this database lock (FCSect; also the lock of every table of the
// database), the disk engine's table-lock manager's lock; the memory manager's
// and the PPM lock innermost, for one call. The engines build their page
// manager on this lock (DatabaseLock), and each table data answers it as its
// own, so the page manager, table data, indexes and record bitmaps add no lock.
//
// A session's change set (the page manager's pages of one session id), and
// the function behind each transition:
//
//                      a table operation changes a page
//   +-------------+    (TVEXPageManager::AddPage, PutPage of a dirty page)    +--------+
//   | none        | --------------------------------------------------------> | open   |
//   +-------------+                                                           +--------+
//      ^  ^  ^                                                                  |  |  |
//      |  |  |  outside a transaction, the operation succeeded:                |  |  |
//      |  |  +--- TVEXTableOperation::Commit -> TVEXTableData::ApplyChanges ----+  |  |
//      |  |       (TVEXPageManager::ApplyChanges: the pages are written)           |  |
//      |  |     outside a transaction, the operation failed:                       |  |
//      |  +------ ~TVEXTableOperation -> TVEXTableData::CancelChanges -------------+  |
//      |          (TVEXPageManager::CancelChanges: the pages are dropped)             |
//      |        in a transaction (TVEXBaseSession::StartTransaction set the          |
//      |        session's InTransaction): ApplyChanges and CancelChanges of the       |
//      |        table do nothing and the set stays open, until                        |
//      +--------- TVEXDatabaseData::Commit (TVEXPageManager::ApplyChanges), or -------+
//                 TVEXDatabaseData::Rollback (TVEXPageManager::CancelChanges, then
//                 TVEXTableData::Rollback of every open table)
//
// The local session sets and clears its transaction flag around its calls of
// Commit and Rollback.
//
// Threads: Lock and Unlock are re-entrant; every method that reads or changes
// the lists takes the lock itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXLock.h"
#include "storage/VEXBaseSession.h"
#include "storage/VEXCursor.h"
#include "storage/VEXPage.h"
#include "storage/VEXTableData.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXDatabaseData;

// The owner of shared database objects: the process-wide list that the
// component layer keeps. FreeIfNoSessionsConnected hands an object back to it.
class TVEXDatabaseDataOwner {
 public:
  virtual ~TVEXDatabaseDataOwner() = default;
  // Takes Data off the list (under the list's lock) and destroys it.
  virtual void FreeDatabaseData(TVEXDatabaseData& Data) = 0;
};

class TVEXDatabaseData {
 public:
  // No sessions, no tables, no page manager, single-user.
  TVEXDatabaseData() = default;
  // Frees every table data. Never raises.
  virtual ~TVEXDatabaseData();
  TVEXDatabaseData(const TVEXDatabaseData&) = delete;
  TVEXDatabaseData& operator=(const TVEXDatabaseData&) = delete;

  // The database lock (re-entrant); the engines give it to their page
  // manager.
  TVEXLock& DatabaseLock() VEX_RETURN_CAPABILITY(FCSect) { return FCSect; }
  void Lock() VEX_ACQUIRE(FCSect) { FCSect.Lock(); }
  void Unlock() VEX_RELEASE(FCSect) { FCSect.Unlock(); }

  const std::vector<TVEXBaseSession*>& SessionList() const VEX_REQUIRES(FCSect) {
    return FSessionList;
  }
  const std::vector<std::unique_ptr<TVEXTableData>>& TableDataList() const VEX_REQUIRES(FCSect) {
    return FTableDataList;
  }
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(std::string_view Value) { FDatabaseName = Value; }
  // Not owned: the engine owns and frees its page manager.
  TVEXPageManager* PageManager() const { return FPageManager; }
  void SetPageManager(TVEXPageManager* Value) { FPageManager = Value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool Value) { FMultiUser = Value; }
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(std::string_view Value) { FSessionName = Value; }
  // Not owned; nullptr for an object its creator keeps.
  TVEXDatabaseDataOwner* Owner() const { return FOwner; }
  void SetOwner(TVEXDatabaseDataOwner* Value) { FOwner = Value; }

  // Adds the session (once) and gives it the id 0.
  virtual void ConnectSession(TVEXBaseSession& Session);
  // Takes the session off the list; nothing for one that is not on it.
  virtual void DisconnectSession(TVEXBaseSession& Session);
  // With no session connected and an owner, the owner destroys the object and
  // the answer is true: the caller must not touch it again. Otherwise false.
  virtual bool FreeIfNoSessionsConnected();
  // Appends the name of every table data, in list order (the engines list the
  // stored tables instead).
  virtual void GetTablesList(rtl::TStringList& List);
  // Nothing in the base.
  virtual void CreateDatabase() {}
  // The engine makes the table data of the cursor's table and enters it with
  // AddTableData.
  virtual TVEXTableData* CreateTableData(TVEXCursor& Cursor) = 0;
  // The table data of the cursor's table name (design note 1), or nullptr.
  virtual TVEXTableData* FindTableData(const TVEXCursor& Cursor);
  virtual TVEXTableData* FindOrCreateTableData(TVEXCursor& Cursor);
  // An object id unique in the database.
  virtual int32_t GetNewObjectId() = 0;
  // Commits the session's change set in the page manager (nothing without
  // one). The base ignores DoFlushBuffers.
  virtual void Commit(int32_t SessionID, bool DoFlushBuffers);
  // Drops the session's change set in the page manager (when there is one),
  // then TVEXTableData::Rollback of every table in list order.
  virtual void Rollback(int32_t SessionID);
  // Nothing in the base.
  virtual void FlushBuffers() {}

  // Whether GetTablesList holds the name, in any letter case.
  bool TableExists(std::string_view TableName);
  // Takes the table data off the list and destroys it; nothing for one that is
  // not on it. The caller must not touch it again.
  void FreeTableData(TVEXTableData* TableData);

 protected:
  // Enters a new table data into the list and answers it.
  TVEXTableData* AddTableData(std::unique_ptr<TVEXTableData> TableData);

 private:
  mutable TVEXLock FCSect;
  std::vector<TVEXBaseSession*> FSessionList VEX_GUARDED_BY(FCSect);
  std::vector<std::unique_ptr<TVEXTableData>> FTableDataList VEX_GUARDED_BY(FCSect);
  std::string FDatabaseName;
  TVEXPageManager* FPageManager = nullptr;
  bool FReadOnly = false;
  bool FMultiUser = false;
  std::string FSessionName;
  TVEXDatabaseDataOwner* FOwner = nullptr;
};

}  // namespace vex
