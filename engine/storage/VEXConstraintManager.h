// The constraint manager of one open table: its NOT NULL, CHECK, UNIQUE and
// PRIMARY KEY definitions, their links to the fields and indexes they name,
// generated names for unnamed ones, the constraint that goes with a unique or
// primary index, and the check of a new or changed record before it is stored.
// Foreign keys are not supported: every place that meets one raises.
//
// Design notes
//   1. A constraint names its fields and index twice: by name (what the user
//      wrote, what is stored) and by object id (what the checks use).
//      LinkObjectId turns the names into ids; a rename of a field therefore
//      never unties a linked constraint.
//   2. The checks run in list order and stop at the first violation.
//      Violations are reported by result or raised, at the caller's choice;
//      a constraint that cannot be checked at all (a field id that names no
//      field, a foreign key) raises in either case.
//   3. Generated names are unique in the table (compared ignoring case) and at
//      most 255 characters long, also when the table and column names are long.
//   4. A unique or primary index and its constraint come and go together:
//      AddConstraintFromIndex when it is added, DeleteConstraintForIndexID when
//      it is dropped.
//
// Threads: no lock of its own; every caller holds the owning database's lock.
#pragma once

#include <cstdint>

#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefCollections.h"

namespace vex {

class TVEXStream;

// REQUIRES: every method is called with the owning database's lock held.
class TVEXBaseConstraintManager {
 public:
  // An empty constraint collection. The table gives the field definitions
  // (field manager), the index definitions (index manager), new object ids
  // and the duplicate test of unique indexes.
  explicit TVEXBaseConstraintManager(TVEXManagedTable& aTableData);
  ~TVEXBaseConstraintManager();
  TVEXBaseConstraintManager(const TVEXBaseConstraintManager&) = delete;
  TVEXBaseConstraintManager& operator=(const TVEXBaseConstraintManager&) = delete;

  TVEXConstraintDefs& ConstraintDefs() { return FConstraintDefs; }
  const TVEXConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }
  // The constraints become a copy of Value (30035 for a foreign key).
  void SetConstraintDefs(const TVEXConstraintDefs& Value) { FConstraintDefs.Assign(Value); }

  // The collection's stream form.
  void LoadMetadata(TVEXStream& Stream);
  void SaveMetadata(TVEXStream& Stream) const;

  // Checks NewRecordBuffer (a memory record) against every constraint in list
  // order. NOT NULL and CHECK always; UNIQUE and PRIMARY KEY only with
  // CheckUniqueIndexes, through the table's unique test with OldRecordBuffer,
  // ToInsert and CurrentRecordID. A violation raises with RaiseException,
  // else gives false:
  //   30026 "Constraint '%s' violated. Value in field '%s' cannot be null"
  //   30029 / 30030 "Constraint '%s' violated. Value in field '%s' cannot be
  //         lower / greater than '%s'"
  //   30320 "Constraint unique '%s' violated. Duplicate found."
  //   30330 "Constraint '%s' violated. Value in field '%s' cannot be null"
  //         (every key column null; the key's fields joined by ",")
  //   30319 "Primary Key constraint '%s' violated. Duplicate found."
  // Raised in any case: "Field #%d not found" for a column id that names no
  // field (30024 NOT NULL, 30028 CHECK, 30329 PRIMARY KEY) and 30036 "Not
  // implemented yet" for another constraint type.
  bool CheckConstraints(int32_t SessionID, const uint8_t* NewRecordBuffer,
                        const uint8_t* OldRecordBuffer, bool ToInsert,
                        TVEXPageItemID CurrentRecordID, bool RaiseException,
                        bool CheckUniqueIndexes);

  // Fills the constraint's object ids from its names. PRIMARY KEY / UNIQUE:
  // the index (30325 / 30326 "Index '%s' not found") and each column's field
  // (30331 / 30332 "Field '%s' not found"); NOT NULL and CHECK: the field
  // (30027 "Field '%s' not found"); another type: 30037 "Not implemented yet".
  // Names compare ignoring case.
  void LinkObjectId(TVEXConstraintDef& ConstraintDef);
  // LinkObjectId for every constraint in list order.
  void LinkObjectIds();
  // Names every unnamed NOT NULL ("$C_NotNull$" table "$" column) and CHECK
  // ("$C_Check$" table "$" column) constraint; a name already taken gets a
  // pseudo-random number 0-65534 appended. Another unnamed type raises 30038
  // "Not implemented yet".
  void FillConstraintAutoNames();
  // For a primary or unique index: appends its constraint (ConstraintDefFromIndexDef)
  // with a new object id, linked. Nothing for another index. A constraint that
  // cannot be linked is not kept.
  void AddConstraintFromIndex(const TVEXIndexDef& IndexDef);
  // Deletes the first PRIMARY KEY or UNIQUE constraint of that index; no other
  // constraint is touched.
  void DeleteConstraintForIndexID(int32_t IndexObjectID);

 private:
  TVEXConstraintDefs FConstraintDefs;
  TVEXManagedTable& FTableData;
};

// The constraint a primary index (a PRIMARY KEY, whatever Unique says) or a
// unique index (a UNIQUE) implies, appended to ConstraintDefs and returned;
// nullptr, nothing appended, for another index. Named "C_PK" or "C_Unique"
// followed by "$" and each column's field name (cut to 255 characters), with
// the index's name and object id and the columns' field names; its own object
// id stays -1 for the caller to give.
TVEXConstraintDefUnique* ConstraintDefFromIndexDef(const TVEXIndexDef& IndexDef,
                                                   TVEXConstraintDefs& ConstraintDefs);

}  // namespace vex
