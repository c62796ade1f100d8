// The table component's structure work: how a table's cursor is opened from
// the component's settings, and how a new table's definitions are prepared,
// checked and turned into the engine's definitions before the cursor creates
// the table.
//
// Design notes
//   1. Every structure operation runs on a cursor of its own, made by
//      NewTableCursor and freed on every way out; the table component's open
//      cursor is never used for one, so an operation leaves an open table as
//      it was.
//   2. A structure operation is refused inside a transaction of the engine
//      session (its own code each, see CheckNotInTransaction), because the
//      storage engine cannot roll a changed table structure back with the
//      transaction's records. Emptying a table is record work and is allowed.
//   3. A default value reaches the SQL layer only through the default-value
//      parser the SQL layer installs (storage/VEXSeams.h); without one no
//      default is an expression and every default is a constant of its field's
//      type.
//   4. Index columns of a new table always carry an indexed size: a column of
//      a type without size, or without a size given, takes 20 (the engine's
//      default), so a stored index never has a column of size 0.
//
// Threads: used on the thread that owns the component; the storage engine
// takes the database lock for each cursor operation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "components/VEXAdvDefs.h"
#include "components/VEXLocalCursor.h"

namespace db {
class TFieldDefs;
class TIndexDefs;
}  // namespace db

namespace vex {

class TVEXBaseSession;

// The settings with which a table component opens a cursor on its table.
struct TVEXTableCursorOptions {
  std::string TableName;
  bool Exclusive = false;
  bool ReadOnly = false;
  bool InMemory = false;
  bool Temporary = false;
  bool DisableTempFiles = false;
  bool DesignMode = false;
  bool IsRepairing = false;
};

// A local cursor on Session with the options set; no table is opened yet.
std::unique_ptr<TVEXLocalCursor> NewTableCursor(TVEXBaseSession& Session,
                                                const TVEXTableCursorOptions& Options);

// 20182 .. 20178 "Cannot perform '%s' operation on a database in transaction"
// with Operation when Session is in a transaction (design note 2).
void CheckNotInTransaction(const TVEXBaseSession& Session, int32_t ErrorCode,
                           std::string_view Operation);

// Normalises each definition for its base type: a default with empty text
// becomes null, any other default is cast to the base type unless it is a
// default-value expression (design note 3); bounds are cast, an empty text
// bound becomes null; the size is kept only for text and bytes types; a GUID
// field gets size 38. A cast that cannot be done raises the value's error
// (30051, 30052).
void PrepareAdvFieldDefs(TVEXAdvFieldDefs& AdvFieldDefs);

// 30499 "Missing field name. FieldNo=%d, table '%s'" for a field without name;
// 30453 "Cannot create table '%s' with field: %s %s(%d)" for a text, GUID or
// bytes field of size 0 or less; 20257 "Invalid BlobCompressionMode (must be
// in 1..9 range) for blob field '%s'. Cannot create table '%s'" for a
// compressed BLOB field whose mode is 0 or above 9. Changes nothing.
void CheckAdvFieldDefs(const TVEXAdvFieldDefs& AdvFieldDefs, std::string_view TableName);

// Design note 4: every column keeps its indexed size only when it is above 0
// and the column's field is of a sized type (or not among AdvFieldDefs);
// the others get 20. FieldDefs (the platform's form of the same fields)
// resolve the column names; a name it does not hold raises 20050.
void NormalizeIndexColumnSizes(TVEXAdvIndexDefs& AdvIndexDefs, const TVEXAdvFieldDefs& AdvFieldDefs,
                               const db::TFieldDefs& FieldDefs);

// The definition steps of creating a table and the creation itself, on a
// cursor made for it (exclusive, writable):
//   - without advanced field definitions they are built from FieldDefs (GUID
//     fields sized 38 first) and checked; with them they are prepared,
//     checked and FieldDefs rebuilt from them;
//   - without advanced index definitions they are built from IndexDefs,
//     otherwise IndexDefs is rebuilt from them; then their column sizes are
//     normalised;
//   - the engine definitions are made (a temporary table gets no NOT NULL or
//     CHECK constraints), the transaction check (20182) runs and the cursor
//     creates the table.
// The definitions keep what the steps made of them also when the creation
// fails afterwards.
void CreateTableFromDefs(TVEXBaseSession& Session, const TVEXTableCursorOptions& Options,
                         TVEXAdvFieldDefs& AdvFieldDefs, TVEXAdvIndexDefs& AdvIndexDefs,
                         db::TFieldDefs& FieldDefs, db::TIndexDefs& IndexDefs);

}  // namespace vex
