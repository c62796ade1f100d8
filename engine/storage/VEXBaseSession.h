// The abstract session: one connection of a database component to a shared
// database object, and the session's private store of named objects.
//
// A session is the connection's identity in its database (the session id under
// which the page manager keeps its change set), its open mode, its transaction
// flag, and the per-connection values the engine keeps by object id or name:
// the last autoincrement or sequence value this connection generated or stored.
// The connection itself (attaching to the shared database object, creating,
// deleting and renaming the file, transactions) is the local session's work in
// the component layer; this class implements only the named-object store.
//
// Design notes
//   1. The store holds at most one object per object id, and per name among the
//      objects without an id (ObjectID -1); SetObject drops the older one.
//   2. An empty name is no name: GetObjectByName never finds an object by it,
//      so storing an unnamed object never drops an object kept by id.
//   3. Names compare by their upper case in the locale's 8-bit rules.
//   4. SessionID is -1 until the session is connected; -2 is the system session
//      that table operations without a cursor work in.
//
// Threads: no lock of its own. The field manager changes the store while it
// holds the lock of the database the session is connected to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefs.h"

namespace rtl {
class TStringList;
}

namespace vex {

// The session id of a connection that is not attached to a database, and of
// the system session (internal files, table operations without a cursor).
inline constexpr int32_t kNoSessionID = -1;
inline constexpr int32_t kSystemSessionID = -2;

// The handle by which the component layer knows a session; it carries nothing
// itself.
class TVEXSessionComponentManager {
 public:
  virtual ~TVEXSessionComponentManager() = default;
};

// A value a session keeps under an object id or, with ObjectID -1, a name.
class TVEXSessionNamedObject {
 public:
  // Keyed by name: ObjectID -1, the name cut to 255 characters.
  explicit TVEXSessionNamedObject(std::string_view Name) : ObjectID(-1), Name(Name) {}
  // Keyed by id: an empty name.
  explicit TVEXSessionNamedObject(int32_t aObjectID) : ObjectID(aObjectID) {}
  virtual ~TVEXSessionNamedObject() = default;
  TVEXSessionNamedObject(const TVEXSessionNamedObject&) = delete;
  TVEXSessionNamedObject& operator=(const TVEXSessionNamedObject&) = delete;

  int32_t ObjectID;
  TVEXShortName Name;
};

// The session's last value of a sequence or autoincrement field.
class TVEXSessionNamedObjectSequenceValue : public TVEXSessionNamedObject {
 public:
  TVEXSessionNamedObjectSequenceValue(int32_t aObjectID, int64_t aValue)
      : TVEXSessionNamedObject(aObjectID), Value(aValue) {}

  int64_t Value;
};

class TVEXBaseSession : public TVEXManagerSession {
 public:
  // Not connected (SessionID -1), not in a transaction, no named objects.
  TVEXBaseSession() = default;
  // Destroys every named object.
  ~TVEXBaseSession() override = default;
  TVEXBaseSession(const TVEXBaseSession&) = delete;
  TVEXBaseSession& operator=(const TVEXBaseSession&) = delete;

  // --- what the connection is
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(std::string_view Value) { FDatabaseName = Value; }
  const std::string& DatabaseFileName() const { return FDatabaseFileName; }
  void SetDatabaseFileName(std::string_view Value) { FDatabaseFileName = Value; }
  int32_t SessionID() const { return FSessionID; }
  void SetSessionID(int32_t Value) { FSessionID = Value; }
  bool InTransaction() const { return FInTransaction; }
  void SetInTransaction(bool Value) { FInTransaction = Value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool Exclusive() const { return FExclusive; }
  void SetExclusive(bool Value) { FExclusive = Value; }
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool Value) { FInMemory = Value; }
  const std::string& Login() const { return FLogin; }
  void SetLogin(std::string_view Value) { FLogin = Value; }
  // Not owned.
  TVEXSessionComponentManager* SessionComponentManager() const { return FSessionHandle; }
  void SetSessionComponentManager(TVEXSessionComponentManager* Value) { FSessionHandle = Value; }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }
  void SetMaxSessionCount(int32_t Value) { FMaxSessionCount = Value; }
  bool RepairNeeded() const { return FRepairNeeded; }
  void SetRepairNeeded(bool Value) { FRepairNeeded = Value; }
  bool MultiUser() const { return FMultiUser; }
  void SetMultiUser(bool Value) { FMultiUser = Value; }
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(std::string_view Value) { FSessionName = Value; }

  // --- the connection (the local session)
  virtual bool GetConnected() const = 0;
  // True attaches the session to the shared database object of its file and
  // takes a session id; false detaches it.
  virtual void SetConnected(bool Value) = 0;
  // Opening tolerates damaged header fields (while a database is repaired).
  virtual bool GetSuppressDBHeaderErrors() const = 0;
  virtual void SetSuppressDBHeaderErrors(bool Value) = 0;
  virtual void CreateDatabase() = 0;
  virtual void DeleteDatabase() = 0;
  virtual void RenameDatabase(std::string_view NewDatabaseFileName) = 0;
  virtual void GetTablesList(rtl::TStringList& List) = 0;
  virtual bool TableExists(std::string_view TableName) = 0;

  // --- named objects
  // Stores Value, taking it over; an object stored under the same key (the
  // name for ObjectID -1, else the id) is destroyed first.
  virtual void SetObject(std::unique_ptr<TVEXSessionNamedObject> Value);
  // The first object of that name (by upper case; an empty name finds
  // nothing), or nullptr.
  virtual TVEXSessionNamedObject* GetObjectByName(std::string_view ObjectName) const;
  // The first object of that id, or nullptr.
  virtual TVEXSessionNamedObject* GetObjectByID(int32_t ID) const;
  // Destroys the object of that id; nothing when there is none.
  virtual void DeleteObject(int32_t ID);
  int32_t ObjectCount() const { return static_cast<int32_t>(FSessionNamedObjectList.size()); }

  // --- transactions (the local session)
  virtual void StartTransaction() = 0;
  // Makes the session's changes durable, flushing the file when asked, and
  // ends the transaction.
  virtual void Commit(bool DoFlushBuffers) = 0;
  // Drops the session's changes and ends the transaction.
  virtual void Rollback() = 0;
  virtual void FlushBuffers() = 0;

  // --- what the field manager keeps here (TVEXManagerSession)
  bool GetMultiUser() const override { return FMultiUser; }
  void SetSequenceValue(int32_t ObjectID, int64_t Value) override;
  // Only a sequence value stored under the id counts.
  bool GetSequenceValue(int32_t ObjectID, int64_t& Value) const override;

 private:
  // Index of the object, or -1.
  int32_t IndexOfName(std::string_view ObjectName) const;
  int32_t IndexOfID(int32_t ID) const;

  std::string FDatabaseName;
  std::string FDatabaseFileName;
  int32_t FSessionID = kNoSessionID;
  bool FInTransaction = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  std::string FLogin;
  TVEXSessionComponentManager* FSessionHandle = nullptr;
  std::vector<std::unique_ptr<TVEXSessionNamedObject>> FSessionNamedObjectList;
  int32_t FMaxSessionCount = 0;
  bool FRepairNeeded = false;
  bool FMultiUser = false;
  std::string FSessionName;
};

}  // namespace vex
