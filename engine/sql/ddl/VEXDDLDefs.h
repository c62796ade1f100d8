// What the table and index statements parse their column and index
// definitions into, and how those become the table component's advanced
// definitions.
//
// A column definition carries a "new" flag per attribute, set only for what
// the statement named: CREATE TABLE copies every flagged attribute into a
// fresh definition, ALTER TABLE ... MODIFY into the column's existing one, so
// a MODIFY changes exactly what it names and nothing else.
//
// Column-level PRIMARY KEY and UNIQUE are not attributes of the column: they
// become index entries of the statement, beside the table-level constraints.
//
// Not synchronised: a statement owns its definitions and uses them on one
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXAdvDefs.h"
#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXVariant.h"

namespace vex {

// One column definition of CREATE TABLE or ALTER TABLE ADD / MODIFY.
class TSQLFieldDef {
 public:
  TSQLFieldDef() = default;
  TSQLFieldDef(const TSQLFieldDef&) = delete;
  TSQLFieldDef& operator=(const TSQLFieldDef&) = delete;

  std::string FieldName;
  // IF NOT EXISTS before the name: ALTER TABLE ADD leaves an existing column
  // alone instead of failing.
  bool CreateIfNotExists = false;
  bool newFieldType = false;
  TVEXAdvancedFieldType FieldType = aftUnknown;
  bool newLength = false;
  int32_t Length = 0;
  bool newRequired = false;
  bool Required = false;
  bool newAutoincIncrement = false;
  int64_t AutoincIncrement = 0;
  // INITIALVALUE or STARTVALUE: the counter's starting (last) value, so the
  // first value generated is this plus the increment.
  bool newAutoincLastValue = false;
  int64_t AutoincLastValue = 0;
  bool newAutoincMinValue = false;
  int64_t AutoincMinValue = 0;
  bool newAutoincMaxValue = false;
  int64_t AutoincMaxValue = 0;
  bool newAutoincCycled = false;
  bool AutoincCycled = false;
  bool newBlobBlockSize = false;
  int32_t BlobBlockSize = 0;
  bool newBlobCompressionAlgorithm = false;
  TCompressionAlgorithm BlobCompressionAlgorithm = caNone;
  bool newBlobCompressionMode = false;
  uint8_t BlobCompressionMode = 0;
  bool newDefaultValue = false;
  TVEXVariant DefaultValue{bftUnknown};
  // MINVALUE / MAXVALUE; null for NOMINVALUE / NOMAXVALUE.
  bool newMinValue = false;
  TVEXVariant MinValue{bftUnknown};
  bool newMaxValue = false;
  TVEXVariant MaxValue{bftUnknown};
};

// The column definitions of one statement, in the order written; owned.
class TSQLFieldDefs {
 public:
  TSQLFieldDefs() = default;
  TSQLFieldDefs(const TSQLFieldDefs&) = delete;
  TSQLFieldDefs& operator=(const TSQLFieldDefs&) = delete;

  // Appends a definition with nothing flagged and returns it.
  TSQLFieldDef& AddCreated();
  int32_t Count() const { return static_cast<int32_t>(List.size()); }
  // Positions outside the list raise rtl::EListError.
  TSQLFieldDef& GetDef(int32_t Index) const;

  std::vector<std::unique_ptr<TSQLFieldDef>> List;
};

// One column of an index as a statement names it.
struct TVEXIndexField {
  std::string FieldName;
  bool desc = false;
  bool nocase = false;
};

// One index of CREATE TABLE or ALTER TABLE ADD / MODIFY.
struct TVEXDDLIndex {
  // Empty when the statement gave none; a name is then generated.
  std::string IndexName;
  bool Unique = false;
  bool Primary = false;
  std::vector<TVEXIndexField> IndexFields;
};

// Copies every flagged attribute of Source into Target (the name only when
// CopyName); attributes the statement did not name keep Target's values.
void AssignSQLFieldDef(const TSQLFieldDef& Source, TVEXAdvFieldDef& Target, bool CopyName);

// The name of an index entry: its own name, else "C_PK", "C_Unique" or "i"
// followed by "$" and each column name (C_PK$id, C_Unique$a$b, i$a).
std::string DDLIndexName(const TVEXDDLIndex& Index);

// Appends one advanced index definition per entry, in order, identically to
// AdvIndexDefs and RestructureIndexDefs: the name of DDLIndexName, the
// columns, the descending ones and the case-insensitive ones separated by
// ";", and ixPrimary or ixUnique.
void AddDDLIndexDefs(const std::vector<TVEXDDLIndex>& Indexes, TVEXAdvIndexDefs& AdvIndexDefs,
                     TVEXAdvIndexDefs& RestructureIndexDefs);

}  // namespace vex
