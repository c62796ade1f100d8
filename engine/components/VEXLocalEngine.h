// The local session: the engine session that a database component makes for
// itself when it opens a database. It implements the abstract session over the
// storage engines: connecting attaches it to the one shared database object
// that serves its database, found in the process-wide list of shared database
// objects (VEXEngineState.h) or created there; it creates database files,
// forwards transactions to the shared object, and answers questions about the
// database file.
//
// Design notes
//   1. Which shared object serves a session (MatchesDatabaseData): the name
//      "MEMORY" (exactly so) the in-memory database, "TEMP" the temporary one,
//      any other name the database file's object whose file is the same file
//      (os::File::Identity, compared exactly, so one file reached through a
//      link or a relative name is one file, and two names differing only in
//      letter case are two files) and whose session name is the same in the
//      locale's upper case. Only a database file's object can match a file:
//      a file named "MEMORY" is never the in-memory database.
//   2. A database file's object lives from the connection that creates it to
//      the disconnection of its last session; the in-memory and temporary
//      objects live from start-up to shut-down.
//   3. FDatabaseData is set exactly while the session is connected (between a
//      successful or failed connect and the next successful disconnect): a
//      disconnection the shared object refuses leaves both sides connected.
//      A session freed while connected makes the object forget it on every
//      way out, so no shared object keeps a pointer to a freed session.
//   4. The first session of an encrypted file is checked by the engine when it
//      opens the file (30445); every later session sharing the object must
//      bring the same password, byte for byte (20298).
//
// Lock order: the caller's session lock, then the list lock (taken here around
// connecting, disconnecting, creating and every look-up), then the database
// lock that the shared object takes itself. Transactions take no lock here.
//
// Threads: one session is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "storage/VEXBaseSession.h"
#include "storage/VEXDatabaseData.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

// What the component layer asks of a database file's shared object beyond the
// abstract database data; the disk engine's object answers it. The local
// session tells a file's object from the in-memory and temporary ones by it.
class TVEXDiskDatabaseAccess {
 public:
  virtual ~TVEXDiskDatabaseAccess() = default;

  // Before the file is opened, the password and cipher to open or create it
  // with; once open, those in use.
  virtual TVEXPassword& Password() = 0;
  // The file header's encrypted flag (meaningful once open).
  virtual bool Encrypted() = 0;
  // The connection limit and page geometry: set before creating a file; the
  // file's own once it is open.
  virtual int32_t MaxSessionCount() = 0;
  virtual void SetMaxSessionCount(int32_t Value) = 0;
  virtual int32_t PageSize() = 0;
  virtual void SetPageSize(int32_t Value) = 0;
  virtual int32_t PageCountInExtent() = 0;
  virtual void SetPageCountInExtent(int32_t Value) = 0;
  // Opening and reading tolerate damaged header fields (while repairing).
  virtual bool SuppressDBHeaderErrors() = 0;
  virtual void SetSuppressDBHeaderErrors(bool Value) = 0;
  // Cuts the unused pages at the end of the file.
  virtual void TruncateDatabase() = 0;
  // The connections to the file from all processes.
  virtual int32_t GetDBFileConnectionsCount() = 0;
  // The open file header's format version (below 2.99: the old format).
  virtual double FileVersion() = 0;
};

// The database file's access of a shared object, or nullptr for the in-memory
// and temporary databases.
TVEXDiskDatabaseAccess* DiskAccessOf(TVEXDatabaseData* Data);

// The disk engine's shared object of one database file, not opened yet.
std::unique_ptr<TVEXDatabaseData> CreateBuiltInDiskDatabaseData();

class TVEXLocalSession final : public TVEXBaseSession {
 public:
  TVEXLocalSession() = default;
  // Disconnects a session still connected; never raises.
  ~TVEXLocalSession() override;

  // The shared object the session is attached to; nullptr while not connected.
  TVEXDatabaseData* DatabaseData() const { return FDatabaseData; }
  // The password and cipher: written by the owner before connecting, the ones
  // in use afterwards.
  TVEXPassword* Password() { return &FPassword; }
  int32_t PageSize() const { return FPageSize; }
  void SetPageSize(int32_t Value) { FPageSize = Value; }
  int32_t PageCountInExtent() const { return FPageCountInExtent; }
  void SetPageCountInExtent(int32_t Value) { FPageCountInExtent = Value; }

  bool GetConnected() const override { return FDatabaseData != nullptr; }
  // True: attaches to the shared object (design note 1), which gives the
  // session its id; passes on the engine's errors (30445 wrong password,
  // 20235 multi-user against single-user, ...) and 20298 for a second session
  // of an encrypted file with another password. A failed connect leaves the
  // session attached so that Connected := False releases what it took.
  // False: detaches; the last session of a database file frees its object.
  // Nothing when the value is the current state.
  void SetConnected(bool Value) override;
  bool GetSuppressDBHeaderErrors() const override;
  void SetSuppressDBHeaderErrors(bool Value) override;
  // Writes a new database file named DatabaseFileName with the session's
  // password, page size, pages per extent and connection limit, and leaves the
  // session unconnected. 20092 "Cannot create database. Database is already
  // open" when a shared object serves this session already (the file is open
  // here under the same session name, or the name is "MEMORY" or "TEMP").
  void CreateDatabase() override;
  void DeleteDatabase() override {}
  void RenameDatabase(std::string_view) override {}
  // The table names of the session's database; nothing when no shared object
  // serves it.
  void GetTablesList(rtl::TStringList& List) override;
  bool TableExists(std::string_view TableName) override;
  // Only sets InTransaction; the database component refuses a second start.
  void StartTransaction() override { SetInTransaction(true); }
  // 20229 outside a transaction; InTransaction stays True when the shared
  // object's commit fails.
  void Commit(bool DoFlushBuffers) override;
  // 20229 outside a transaction.
  void Rollback() override;
  void FlushBuffers() override;

  // Nothing for the in-memory and temporary databases.
  void TruncateDatabase();
  // 0 for the in-memory and temporary databases.
  int32_t GetDBFileConnectionsCount();

 private:
  bool MatchesDatabaseData(TVEXDatabaseData& Data) const;
  TVEXDatabaseData* FindDatabaseData() const;
  TVEXDatabaseData& CreateDiskDatabaseData();
  TVEXDatabaseData& FindOrCreateDatabaseData();
  // The connected object, or the platform's database error for a session that
  // is not connected.
  TVEXDatabaseData& ConnectedData() const;

  TVEXDatabaseData* FDatabaseData = nullptr;
  TVEXPassword FPassword;
  int32_t FPageSize = 0;
  int32_t FPageCountInExtent = 0;
};

}  // namespace vex
