// The system files of a database: the system directory, the sessions file and
// the table list.
//
// Three internal files (VEXInternalFiles.h) inside every database file hold
// what the disk database needs before it can open any table:
//   - the system directory (transacted, always starting at page 2) tells where
//     the other system files begin;
//   - the sessions file (direct) hands out connection slots: a connection
//     holds the byte-range lock of one of its bytes, whose index is its
//     session id; a single-user connection holds all of them. Its bytes are
//     never read or written, only locked;
//   - the table list (transacted) maps every table name to the table's object
//     id and the first pages of its three internal files.
// docs/file-formats.md ("System files") describes their bytes.
//
// Invariants:
//   1. The directory and the table list are written only in the system
//      session (-2); other connections see a change when that session's
//      changes are applied and they load the file again.
//   2. Every sessions-file operation runs while this connection holds the
//      file's whole-file lock, so a connect, disconnect or count is atomic
//      between connections. When the lock cannot be had within its waits the
//      operation does nothing and raises.
//   3. A slot's byte is held from connect to disconnect by the handle of the
//      database object; sessions that share the object share the handle and
//      are told apart by position alone (a handle cannot lock a byte twice).
//   4. Table names are compared ignoring the case of the ASCII letters only; a
//      name is stored as at most 255 bytes of Windows-1252 text, and a longer
//      name is refused rather than stored cut (it could never be found again).
//   5. Operations of the table list other than Load and Save work on the
//      in-memory list; the caller saves it after each change.
//
// Threads: REQUIRES the owning database's lock for every method. Between
// connections the sessions file's whole-file lock and the database's tables
// byte (held by the caller while the table list changes) coordinate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/VEXLock.h"
#include "storage/disk/VEXDiskPageManager.h"
#include "storage/disk/VEXInternalFiles.h"

namespace vex {

// What a system directory entry points at; stored as one byte.
enum TVEXDBFileType : uint8_t { dbftUnknown = 0, dbftTablesList = 1, dbftActiveSessionsList = 2 };

// The first page of the system directory in every database file.
inline constexpr int32_t kSystemDirectoryPageNo = 2;
// The most bytes of a stored table name.
inline constexpr size_t kMaxTableNameSize = 255;

#pragma pack(push, 1)
struct TVEXSystemDirectoryListItem {
  uint8_t FileID;
  int32_t FirstPageNo;
};
static_assert(sizeof(TVEXSystemDirectoryListItem) == 5);
#pragma pack(pop)

class TVEXSystemDirectory {
 public:
  explicit TVEXSystemDirectory(TVEXDiskPageManager* PageManager);
  TVEXSystemDirectory(const TVEXSystemDirectory&) = delete;
  TVEXSystemDirectory& operator=(const TVEXSystemDirectory&) = delete;

  // Creates the file in the system session; 30392 when its first page is not
  // page 2 (the database was not empty).
  void CreateDirectory() VEX_REQUIRES(LPageManager->DatabaseLock());
  // Opens the file at page 2 and reads its whole items (a partial item at the
  // end is ignored); 20300 when the stored size cannot be the file's.
  void LoadDirectory() VEX_REQUIRES(LPageManager->DatabaseLock());
  // Writes every item in the system session.
  void SaveDirectory() VEX_REQUIRES(LPageManager->DatabaseLock());
  // Appends an item in memory; SaveDirectory stores it.
  void CreateFile(TVEXDBFileType FileType, int32_t FirstPageNo);
  // The first page of the first item of that type; -1 when none is listed.
  int32_t GetFileFirstPageNo(TVEXDBFileType FileType) const;

  TVEXDiskPageManager* PageManager() const { return LPageManager; }
  const std::vector<TVEXSystemDirectoryListItem>& FileList() const { return FFileList; }

 private:
  TVEXDiskPageManager* LPageManager;
  TVEXInternalDBTransactedAccessFile FHandle;
  std::vector<TVEXSystemDirectoryListItem> FFileList;
};

class TVEXActiveSessionsFile {
 public:
  explicit TVEXActiveSessionsFile(TVEXDiskPageManager* PageManager);
  TVEXActiveSessionsFile(const TVEXActiveSessionsFile&) = delete;
  TVEXActiveSessionsFile& operator=(const TVEXActiveSessionsFile&) = delete;

  // Creates the file of aMaxSessionCount bytes in the system session, closes
  // it and answers its first page.
  int32_t CreateFile(int32_t aMaxSessionCount) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Opens the file; MaxSessionCount becomes its stored size.
  void OpenFile(int32_t aStartPageNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Forgets the file. Slots this connection holds stay held until the handle
  // releases them or closes.
  void CloseFile();

  // Each of the five operations below first takes the whole-file lock
  // (RetryCall, 4500 tries 20 ms apart); when it stays refused the operation
  // changes nothing and raises its code with "Cannot lock sessions file". A
  // failed release of the lock raises the same code with "Cannot unlock
  // sessions file". On a closed file they raise 20156.

  // The first free slot, kept locked: the new session id. 0 without locking
  // anything when the database is not in multi-user mode. 20094 when every
  // slot is taken; 20093 for the whole-file lock (the slot is given back).
  int32_t MultiUserConnect() VEX_REQUIRES(LPageManager->DatabaseLock());
  // Frees the session's slot (multi-user mode only); 20095 when the byte
  // cannot be released, 20096 for the whole-file lock.
  void MultiUserDisconnect(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Takes every slot when none is taken and answers true; false, taking none,
  // when any is. 20240 for the whole-file lock.
  bool SingleUserConnect() VEX_REQUIRES(LPageManager->DatabaseLock());
  // Frees every slot. 20241 for the whole-file lock.
  void SingleUserDisconnect() VEX_REQUIRES(LPageManager->DatabaseLock());
  // The slots taken by any connection, this one's included. 30484 for the
  // whole-file lock.
  int32_t GetDBFileConnectionsCount() VEX_REQUIRES(LPageManager->DatabaseLock());

  int32_t StartPageNo() const { return FHandle.StartPageNo(); }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }

 private:
  // Runs Work under the whole-file lock; ErrorCode for failing to take or to
  // release it.
  template <class Work>
  auto UnderFileLock(int32_t ErrorCode, Work work);

  TVEXDiskPageManager* LPageManager;
  TVEXInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
};

// One table of the table list.
struct TVEXTableListItem {
  // Windows-1252, at most kMaxTableNameSize bytes.
  std::string TableName;
  int32_t TableID = 0;
  int32_t MetaDataFilePageNo = -1;
  int32_t MostUpdatedFilePageNo = -1;
  int32_t LocksFilePageNo = -1;
};

class TVEXTableListFile {
 public:
  explicit TVEXTableListFile(TVEXDiskPageManager* PageManager);
  TVEXTableListFile(const TVEXTableListFile&) = delete;
  TVEXTableListFile& operator=(const TVEXTableListFile&) = delete;

  // Creates the file in the system session, closes this object and answers
  // its first page.
  int32_t CreateFile() VEX_REQUIRES(LPageManager->DatabaseLock());
  // 30393 when this object has a file open already.
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();
  // Reads the whole items of the file (system session) / writes the list.
  // On a closed file 30389; 20300 when the stored size cannot be the file's.
  void Load() VEX_REQUIRES(LPageManager->DatabaseLock());
  void Save() VEX_REQUIRES(LPageManager->DatabaseLock());

  // Names are Windows-1252 text. 30395 when the name is listed already,
  // 30394 when it is longer than 255 bytes.
  void AddTable(int32_t TableID, const std::string& TableName, int32_t MetadataFilePageNo,
                int32_t MostUpdatedFilePageNo, int32_t LocksFilePageNo);
  // 30396 when the name is not listed.
  void OpenTable(const std::string& TableName, int32_t& TableID, int32_t& MetadataFilePageNo,
                 int32_t& MostUpdatedFilePageNo, int32_t& LocksFilePageNo) const;
  // 30405 when the name is not listed; the items after it move up.
  void RemoveTable(const std::string& TableName);
  // 30397 when the name is not listed, 30398 when the new name is longer than
  // 255 bytes.
  void RenameTable(const std::string& TableName, const std::string& NewTableName);
  bool TableExists(const std::string& TableName) const;
  // Load, then every name in file order as UTF-16 text.
  void GetTablesList(std::vector<std::u16string>& List) VEX_REQUIRES(LPageManager->DatabaseLock());

  int32_t StartPageNo() const { return FHandle.StartPageNo(); }
  const std::vector<TVEXTableListItem>& TableList() const { return FTableList; }

 private:
  // The index of the first item of that name (ASCII letters folded), or -1.
  int32_t FindTable(const std::string& TableName) const;

  TVEXDiskPageManager* LPageManager;
  TVEXInternalDBTransactedAccessFile FHandle;
  std::vector<TVEXTableListItem> FTableList;
};

}  // namespace vex
