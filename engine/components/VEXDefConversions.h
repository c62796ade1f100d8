// Conversions between the three descriptions of a table's structure that meet
// in the component layer: the dataset framework's TFieldDefs / TIndexDefs
// (what applications see), the advanced definitions (VEXAdvDefs.h) and the
// storage engine's field, index and constraint definitions. Constraints exist
// as objects only on the engine side; here they are derived from field
// properties and index kinds, and folded back into them.
//
// Every routine that converts a whole list clears its target first and fills
// it in source order. When one item fails, the target keeps the items
// converted before it; an engine definition is appended only once it is
// complete.
//
// Field types travel through the shared SQL type table, whose first row for a
// type decides, so some trips are one-way: ftBCD comes back as ftFloat, the
// OLE and typed binary kinds as ftBlob, and ftWideString is kept as
// aftWideChar (not aftWideString). A platform type without a row raises 30289
// "Unknown DataType: '%s'" with the type's number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/VEXAdvDefs.h"
#include "db/DBCommon.h"
#include "foundation/VEXCompression.h"
#include "storage/VEXConstraintManager.h"
#include "storage/VEXMetaDefCollections.h"

namespace db {
class TFieldDefs;
class TIndexDefs;
}  // namespace db

namespace rtl {
class TStringList;
}

namespace vex {

// An engine field per platform field: its name (cut to 255 characters) and
// mapped type with its size; no constraints. 30007 for a type the engine
// cannot store.
void FieldDefsToEngineFieldDefs(const db::TFieldDefs& FieldDefs, TVEXFieldDefs& EngineFieldDefs);
// Name, mapped type, size and Required of each field. The platform list's own
// checks (a missing or duplicate name) raise its database error.
void AdvFieldDefsToFieldDefs(const TVEXAdvFieldDefs& AdvFieldDefs, db::TFieldDefs& FieldDefs);
void FieldDefsToAdvFieldDefs(const db::TFieldDefs& FieldDefs, TVEXAdvFieldDefs& AdvFieldDefs);

// The engine fields and constraints of a table to be created: each field with
// its type (30007 for one without storage type), BLOB, autoincrement settings
// and a copy of its default (prepared by the table when it takes the
// definitions over). Unless Temporary, Required adds a NOT NULL constraint and
// a bound adds one CHECK with copies of both bounds. Then each index in IndexDefs
// adds its UNIQUE or PRIMARY KEY constraint. The constraints get no names,
// table names or ids here. IndexDefs is not changed.
void AdvFieldDefsToEngineDefs(const TVEXAdvFieldDefs& AdvFieldDefs, TVEXFieldDefs& FieldDefs,
                              const TVEXIndexDefs& IndexDefs, TVEXConstraintDefs& ConstraintDefs,
                              bool Temporary);
// ConstraintDefFromIndexDef, the constraint of a unique or primary index, is in
// storage/VEXConstraintManager.h: the table's constraint manager makes it too.

// The advanced fields of a cursor's visible fields, with the table's NOT NULL
// and CHECK constraints folded back into Required, MinValue and MaxValue.
// FieldDefs are the table's fields, which the constraints name by object id;
// a constraint on a table field that no visible field shows is passed over.
// 30032 (NOT NULL) or 30031 (CHECK) "Field #%d not found" for an id the table
// does not have; 30039 "Not implemented yet" for a foreign key.
void EngineDefsToAdvFieldDefs(const TVEXFieldDefs& VisibleFieldDefs, const TVEXFieldDefs& FieldDefs,
                              const TVEXConstraintDefs& ConstraintDefs,
                              TVEXAdvFieldDefs& AdvFieldDefs);
// The platform fields of a cursor's visible fields; a NOT NULL constraint makes
// its field required, unless it is an autoincrement field (ftAutoInc).
void EngineDefsToFieldDefs(const TVEXFieldDefs& VisibleFieldDefs,
                           const TVEXConstraintDefs& ConstraintDefs, db::TFieldDefs& FieldDefs);

// Turns every "," of Text into ";". When List is given, it is cleared and
// receives the names of Text split at ";" (trimmed; an empty name between two
// ";" kept, none after a trailing one).
void ParseFieldNamesToList(rtl::TStringList* List, std::string& Text);

// Fills IndexDef: Name (cut to 255 characters), a B-tree, Unique, Primary and
// Temporary, and one column per field of Fields (";" or "," between names).
// A column is descending when the DESC list names it, or, with an empty DESC
// list, when Options hold ixDescending; case-insensitive likewise from the
// case list or ixCaseInsensitive (names in both lists compared ignoring case).
// Its key size is the matching entry of MaxIndexedSizes, or 20 when there is
// none or it is empty; an entry that is no number raises rtl::EConvertError.
// Raises 20048 "Invalid index name '%s'" for an empty Name, 20049 "Cannot find
// index field '%s'" for empty Fields, 20050 "Cannot find index field '%s'" for
// a field that FieldDefs does not hold.
void BuildEngineIndexDef(TVEXIndexDef& IndexDef, std::string_view Name, std::string_view Fields,
                         db::TIndexOptions Options, bool Temporary, std::string_view DescFields,
                         std::string_view CaseInsFields, std::string_view MaxIndexedSizes,
                         const db::TFieldDefs& FieldDefs);
void AdvIndexDefToEngineIndexDef(const TVEXAdvIndexDef& AdvIndexDef, TVEXIndexDef& IndexDef,
                                 const db::TFieldDefs& FieldDefs);
void AdvIndexDefsToEngineIndexDefs(const TVEXAdvIndexDefs& AdvIndexDefs, TVEXIndexDefs& IndexDefs,
                                   const db::TFieldDefs& FieldDefs);
// Name, fields, DESC and case lists and options of each index; ixDescending is
// added when the DESC list is the field list, ixCaseInsensitive when the case
// list is (both compared trimmed, Latin letters in upper case).
void AdvIndexDefsToIndexDefs(const TVEXAdvIndexDefs& AdvIndexDefs, db::TIndexDefs& IndexDefs);
// Name, fields, DESC and case lists and options of each index; no key sizes,
// not temporary.
void IndexDefsToAdvIndexDefs(const db::TIndexDefs& IndexDefs, TVEXAdvIndexDefs& AdvIndexDefs);
// The column lists joined by ";", every key size, ixPrimary and ixUnique as the
// index is (never ixDescending or ixCaseInsensitive), Temporary and the name.
void EngineIndexDefToAdvIndexDef(const TVEXIndexDef& IndexDef, TVEXAdvIndexDef& AdvIndexDef);
// Temporary indexes included.
void EngineIndexDefsToAdvIndexDefs(const TVEXIndexDefs& IndexDefs, TVEXAdvIndexDefs& AdvIndexDefs);

// Whether a platform field is named Name, both upper-cased by the locale's rules.
bool FieldDefExists(const db::TFieldDefs& FieldDefs, std::string_view Name);
TCompressionAlgorithm ToComponentCompressionAlgorithm(TVEXCompressionAlgorithm Algorithm);

// Raises EVEXEngineError (ErrorCode, ErrorMessage).
[[noreturn]] void RaiseEngineError(int32_t ErrorCode, std::string_view ErrorMessage);
// RaiseEngineError unless ErrorCode is 0: how a dataset reports the result code
// that a cursor's record operation left.
void CheckEngineError(int32_t ErrorCode, std::string_view ErrorMessage);

}  // namespace vex
