// What a table's field, index and constraint managers need of the objects
// around them: the table that owns them, the session an autoincrement value is
// generated in, and the cursor whose record changes.
//
// The managers sit below those objects: the table data owns its managers, the
// cursor and the session are built on the table data. So a manager does not
// know their classes; it reaches them through these three narrow interfaces,
// which the table data (TVEXTableData), the abstract session (TVEXBaseSession)
// and the abstract cursor (TVEXCursor) implement, and which tests fake.
//
// Threads: every call comes with the owning database's lock held (the managers
// take no lock of their own).
#pragma once

#include <cstdint>

#include "storage/VEXPage.h"

namespace vex {

class TVEXBaseConstraintManager;
class TVEXBaseFieldManager;
class TVEXBaseIndexManager;
class TVEXBaseRecordManager;
class TVEXCursor;
class TVEXFieldDefs;
class TVEXPageManager;

// The session's private store of last sequence values. The session keeps them
// among its named objects (one per object id, the newest replacing the older);
// an object stored under the id that is not a sequence value does not count.
class TVEXManagerSession {
 public:
  virtual ~TVEXManagerSession() = default;

  // True for a session whose database other connections share: the table's
  // own counter then says nothing about what this session generated.
  virtual bool GetMultiUser() const = 0;
  // Records Value as the session's last value of the field or sequence
  // ObjectID, replacing an earlier one.
  virtual void SetSequenceValue(int32_t ObjectID, int64_t Value) = 0;
  // The session's last value of ObjectID; false (Value untouched) when it
  // holds none.
  virtual bool GetSequenceValue(int32_t ObjectID, int64_t& Value) const = 0;
};

// The part of a cursor that the index manager and the indexes read. The
// abstract cursor derives from it, so a cursor a record scan stands on can be
// handed to an index as it is.
class TVEXManagerCursor {
 public:
  virtual ~TVEXManagerCursor() = default;

  // The id of the cursor's session in its database.
  virtual int32_t GetSessionID() const = 0;
  // The record the cursor stands on, and its memory record buffer, which an
  // index reads the key of an inserted, updated or deleted record from.
  virtual TVEXPageItemID GetCurrentRecordID() const = 0;
  virtual uint8_t* GetCurrentRecordBuffer() const = 0;
  // The cursor's copy of the table's field definitions.
  virtual const TVEXFieldDefs& GetFieldDefs() const = 0;
  // The abstract cursor itself (itself, for TVEXCursor), for what is passed on
  // through the seams: an index fills itself through a record scan opened on
  // it (VEXSeams.h).
  virtual TVEXCursor& GetCursor() = 0;
  // The record as it was read before an edit, from which an index finds the
  // entry that an update moves; nullptr while the cursor is not editing.
  virtual const uint8_t* GetEditRecordBuffer() const { return nullptr; }
};

// The table that owns the managers.
class TVEXManagedTable {
 public:
  virtual ~TVEXManagedTable() = default;

  // A new object id, unique in the table's database.
  virtual int32_t GetNewObjectId() = 0;
  // The page store of the table's permanent indexes and records.
  virtual TVEXPageManager* GetPageManager() const = 0;
  virtual TVEXBaseFieldManager* GetFieldManager() const = 0;
  virtual TVEXBaseIndexManager* GetIndexManager() const = 0;
  virtual TVEXBaseRecordManager* GetRecordManager() const = 0;
  // Whether storing NewRecordBuffer (a new record with ToInsert, else the new
  // image of OldRecordBuffer) would duplicate a key of the unique index
  // IndexID. False for an empty table.
  virtual bool IsUniqueConstraintFailed(int32_t SessionID, int32_t IndexID,
                                        const uint8_t* NewRecordBuffer,
                                        const uint8_t* OldRecordBuffer, bool ToInsert,
                                        TVEXPageItemID CurrentRecordID) = 0;
};

}  // namespace vex
