// The disk database data: the engine-side object behind one open database
// file, shared by the database components that open the file under one
// session name (per file alone in single-user mode).
//
// It opens the file when its first session connects and closes it when its
// last session leaves. While open it owns the disk page manager, the system
// directory, the sessions file, the table list and the table-lock manager; it
// gives each session its id (a slot of the sessions file in multi-user mode, 0
// in single-user mode), creates database files, makes the disk table data
// objects, keeps the table list for them under the database's tables byte,
// hands out object ids and ends transactions with the locks multi-user mode
// needs.
//
// Design notes
//   1. Open exactly while a session is connected: FPageManager, the system
//      directory, the sessions file, the table list and the lock manager exist
//      together or not at all. OpenDatabaseFiles builds all of them or, when a
//      step raises, none (CloseDatabaseFiles runs before the error passes on).
//   2. The first session fixes the mode of the object: a session that asks for
//      the other mode is refused (20235) and changes nothing.
//   3. A multi-user session's id is the slot it holds in the sessions file;
//      before that slot is given back, everything the engine keeps under the
//      id is dropped: an open transaction is rolled back (the session's
//      Rollback), the change set is cancelled, every table and record lock the
//      id holds is released and the id's table-state bookkeeping is
//      forgotten. The next session to get the slot inherits nothing.
//   4. Single-user sessions all have id 0. The object takes every slot of the
//      sessions file once (FSingleUserConnected); when another connection holds
//      a slot the object is read-only. The slots go back with the last
//      session.
//   5. A commit writes nothing until every changed table holds ltRW
//      (AddRWLocksBeforeCommit); refused, it raises 20233 and the transaction
//      stays open with its locks and its change set.
//   6. The table list changes only in the system session, under the tables
//      byte (LockTables), and every change is saved at once.
//
// Multi-user commit and rollback of a session's transaction, with the function
// behind each transition:
//
//                     table operations inside the transaction
//                     (TVEXDiskTableData::InsertRecord/UpdateRecord/
//                      DeleteRecord/EmptyTable: pages into the change set,
//                      ltXIRW held through TVEXDiskTableData::LockTable)
//     +------------+ ---------------------------------------------> +-----------+
//     | no changes |                                                | changed   |
//     +------------+ <-----------+                                  +-----------+
//          ^                     |                                    |   |   |
//          |                     | Rollback: ClearTransactionLocks    |   |   |
//          |                     | then TVEXDatabaseData::Rollback    |   |   |
//          |                     | (CancelChanges, each table's       |   |   |
//          |                     |  Rollback reloads its state)       |   |   |
//          |                     +------------------------------------+   |   |
//          |                                                              |   |
//          |   Commit: AddRWLocksBeforeCommit refused -> 20233,           |   |
//          |   nothing written, still "changed" <-------------------------+   |
//          |                                                                  |
//          |   Commit: AddRWLocksBeforeCommit granted ->                      |
//          |   TVEXDatabaseData::Commit (TVEXDiskPageManager::ApplyChanges)    |
//          |   [DoFlushBuffers: FlushFileBuffers] -> ClearTransactionLocks     |
//          +------------------------------------------------------------------+
//
//   DisconnectSession of a session in a transaction goes through Rollback
//   (design note 3) before its slot is freed.
//
// Lock order, outermost first: the component layer's session lock and the
// list of shared database objects, this database lock (DatabaseLock(); also
// the lock of every table and of the page manager), the database's tables
// byte (LockTables), the table-lock manager's lock, a table's whole-file
// lock, a lock byte. The file header and object-id bytes are taken inside the
// page manager for single calls.
//
// Threads: every public method takes the database lock itself, except those
// marked REQUIRES. FreeIfNoSessionsConnected frees the object after leaving
// it (the base's behaviour).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "storage/VEXDatabaseData.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXSystemFiles.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

// The tables byte: 200 tries 20 ms apart.
inline constexpr int32_t kTablesByteTries = 200;
inline constexpr int32_t kTablesByteDelayMS = 20;
// Connection slots of a new file unless its creator sets another count.
inline constexpr int32_t kDefaultMaxSessionCount = 500;

class TVEXDiskDatabaseData : public TVEXDatabaseData {
 public:
  // Closed: no page manager, no system objects; a new file's defaults (4096-
  // byte pages, 8 pages an extent, 500 slots).
  TVEXDiskDatabaseData();
  // Closes the files; never raises.
  ~TVEXDiskDatabaseData() override;

  // --- settings the component layer makes before the first connect or
  // CreateDatabase
  TVEXPassword* Password() { return &FPassword; }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  void SetMaxSessionCount(int32_t Value) { FMaxSessionCount = Value; }
  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t Value) { FPageSize = Value; }
  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t Value) { FPageCountInExtent = Value; }
  // The open file's flag; false while closed.
  bool Encrypted() const;
  bool SingleUserConnected() const { return FSingleUserConnected; }

  // --- what exists while open (nullptr while closed)
  TVEXDiskPageManager* DiskPageManager() const { return FDiskPageManager.get(); }
  TVEXDatabaseTableLockManager* TableLockManager() const { return FTableLockManager.get(); }
  TVEXTableListFile* TableListFile() const { return FTableListFile.get(); }
  TVEXActiveSessionsFile* ActiveSessionsFile() const { return FActiveSessionsFile.get(); }

  // --- TVEXDatabaseData
  // Opens the file on the first connect (RepairNeeded and MultiUser of the
  // session are set from the open); then the id: a free slot (20094 when none)
  // in multi-user mode, 0 in single-user mode (read-only when another
  // connection holds slots). 20235 for a session of the other mode. A failed
  // first open leaves the object closed.
  void ConnectSession(TVEXBaseSession& Session) override;
  // Design note 3, then the slot is freed and the session leaves the list;
  // the last session closes the file. A failure to free the slot passes on
  // (the session stays connected) unless DesignMode() is set.
  // REQUIRES of Session: its Rollback ends its transaction through this
  // object's Rollback.
  void DisconnectSession(TVEXBaseSession& Session) override;
  // The stored tables, read again from the file, in list order (8-bit names).
  // Nothing while closed.
  void GetTablesList(rtl::TStringList& List) override;
  // Creates the file DatabaseName (replacing one of that name) with its system
  // directory, an empty sessions file of MaxSessionCount slots and an empty
  // table list, and closes it again. 10461 while open; the page manager's
  // errors pass on and leave nothing open.
  void CreateDatabase() override;
  // A new TVEXDiskTableData named after the cursor's table, in the list.
  TVEXTableData* CreateTableData(TVEXCursor& Cursor) override;
  // The file's next object id; 20129 while closed.
  int32_t GetNewObjectId() override;
  // The multi-user commit of the diagram above; in single-user mode the
  // change set is applied (and flushed when asked).
  void Commit(int32_t SessionID, bool DoFlushBuffers) override;
  // Multi-user: ClearTransactionLocks; then the change set is dropped and
  // every open table rolls back.
  void Rollback(int32_t SessionID) override;
  void FlushBuffers() override;

  // --- the file
  void TruncateDatabase();
  // Slots taken by any connection.
  int32_t GetDBFileConnectionsCount();
  // The tables byte, 200 tries 20 ms apart; 20210 "Database tables are
  // locked" when refused. UnlockTables: 20211 "Cannot unlock database tables".
  void LockTables();
  void UnlockTables();
  bool GetSuppressDBHeaderErrors() const;
  void SetSuppressDBHeaderErrors(bool Value);

  // --- the table list; each runs in the system session and saves at once.
  // Without a table list: 20129 (find), 20130 (remove), 20131 (rename),
  // 20128 (add) "Pointer is nil".
  void AddTableToList(int32_t TableID, const std::string& TableName, int32_t MetadataFilePageNo,
                      int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo);
  // Reads the list again from the file first, so a table another connection
  // created or renamed is found; 30396 "Table '%s' not exists." when absent.
  void FindTableInList(const std::string& TableName, int32_t& TableID,
                       int32_t& MetadataFilePageNo, int32_t& MostUpdatedFilePageNo,
                       int32_t& LocksFilePageNo);
  void RemoveTableFromList(const std::string& TableName);
  void RenameTableInList(const std::string& TableName, const std::string& NewTableName);

  // Opens the file and the system objects (design note 1); the object's
  // MultiUser and ReadOnly take what the open allowed.
  void OpenDatabaseFiles(TVEXBaseSession& Session, bool Exclusive, bool& RepairNeeded);
  // Frees the system objects and closes the file; never raises.
  void CloseDatabaseFiles() noexcept;

 private:
  // Design note 3 for a multi-user session id: its change set dropped, its
  // lock entries released, its table-state bookkeeping forgotten.
  void ReleaseSessionID(int32_t SessionID) VEX_REQUIRES(DatabaseLock());
  TVEXTableListFile& TableListOrRaise(int32_t NativeErrorCode);

  std::unique_ptr<TVEXDiskPageManager> FDiskPageManager;
  std::unique_ptr<TVEXSystemDirectory> FSystemDir;
  std::unique_ptr<TVEXActiveSessionsFile> FActiveSessionsFile;
  std::unique_ptr<TVEXTableListFile> FTableListFile;
  TVEXPassword FPassword;
  int32_t FMaxSessionCount = kDefaultMaxSessionCount;
  int32_t FPageSize = 4096;
  int32_t FPageCountInExtent = 8;
  std::unique_ptr<TVEXDatabaseTableLockManager> FTableLockManager;
  bool FSingleUserConnected = false;
};

}  // namespace vex
