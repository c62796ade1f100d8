// What the data-changing statements (INSERT, UPDATE, DELETE) share: storing
// an engine value into a dataset field, the write locks they take on a table
// outside a transaction, and the batch update that makes their changes one
// change set.
//
// Design notes
//   1. None of the statements writes records itself: they go through table
//      components and the dataset operations, so every record check, default,
//      autoincrement, constraint and index update of the components applies.
//   2. Outside a transaction a statement that changes many rows takes ltRW
//      (other connections may read, none may write) and tries ltXIRW once,
//      then groups its changes in one batch update of the writing cursor: a
//      failure cancels the batch, so a disk table is left as it was. Memory
//      and temporary tables are not transactional: there a failure keeps the
//      rows changed before it.
//   3. Inside a transaction no lock and no batch is taken: the records' own
//      locks hold until the transaction ends, and the transaction is the
//      change set.
//   4. Every wait goes through os::CurrentClock(), so tests run the bounded
//      waits in virtual time.
//
// Threads: used by the thread running the statement.
#pragma once

#include <cstdint>

namespace db {
class TField;
}

namespace vex {

class TVEXCursor;
class TVEXVariant;

// Stores Value into Field. Raises 30359 "Value is Null" for a null pointer; a
// null value clears the field. Integer, 64-bit integer and date/time fields
// take the value's conversion to their type; BLOB and memo fields take a wide
// text as wide text, an 8-bit text as 8-bit text and any other value as its
// raw bytes; every other field takes the value as the platform's variant.
// The field's own conversion errors pass through.
void AssignVariantToField(TVEXVariant* Value, db::TField* Field);

// The bounded wait for the write lock: tries, and the pause between two.
inline constexpr int32_t kWriteLockTries = 1125;
inline constexpr int32_t kWriteLockPauseMs = 80;

// The write locks of one statement on one table (design note 2), given back
// on every way out.
class TVEXWriteLocks {
 public:
  explicit TVEXWriteLocks(TVEXCursor& Cursor) : FCursor(Cursor) {}
  ~TVEXWriteLocks();
  TVEXWriteLocks(const TVEXWriteLocks&) = delete;
  TVEXWriteLocks& operator=(const TVEXWriteLocks&) = delete;

  // ltRW in one call of up to kWriteLockTries tries kWriteLockPauseMs apart
  // (INSERT ... SELECT); then ltXIRW once. False when ltRW was not had.
  bool LockInOneCall();
  // ltRW in up to kWriteLockTries rounds of one try, giving the cursor's
  // table-data lock (which the caller holds) up while it pauses between
  // rounds, so other users of the open table can proceed (UPDATE, DELETE);
  // then ltXIRW once. False when ltRW was not had.
  bool LockInRounds();
  // Gives back what was taken (ltXIRW first); raises what the cursor raises.
  void Unlock();

 private:
  void TryExclusiveWrite();

  TVEXCursor& FCursor;
  bool FRW = false;
  bool FXIRW = false;
};

// One batch update of a cursor: begun by the constructor, applied by Commit;
// cancelled when the scope is left without Commit. A failed apply cancels
// what it could not apply and passes the failure on.
class TVEXBatchUpdate {
 public:
  explicit TVEXBatchUpdate(TVEXCursor& Cursor);
  ~TVEXBatchUpdate();
  TVEXBatchUpdate(const TVEXBatchUpdate&) = delete;
  TVEXBatchUpdate& operator=(const TVEXBatchUpdate&) = delete;

  void Commit();

 private:
  TVEXCursor& FCursor;
  bool FDone = false;
};

}  // namespace vex
