// What a relational operator asks of the datasets it reads and writes: the
// base table of a table operator and the result table of every other one.
//
// The operators never depend on a concrete dataset class: a base table and a
// result table are both reached through this interface, behind which stands
// the table component (VEXAOTableDataset.h). A dataset made by NewSibling
// lives on the same session and, for a result table, in the same temporary
// database.
//
// Design notes
//   1. Field numbers are physical (table field numbers) with DirectAccess and
//      positions among the visible fields otherwise; a projection changes the
//      visible fields only.
//   2. Insert starts one new record, which receives values through
//      SetFieldValue or a source's CopyFieldValue until Post stores it or
//      Cancel drops it.
//   3. Index lists hold one upper-case column name per entry, with "ASC" or
//      "DESC" and "CASE" or "NO_CASE" at the same position of the other two.
//
// Threads: a dataset is used by the thread running its statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Lists.h"

namespace vex {

class TVEXAO;
class TVEXAdvFieldDefs;
class TVEXAdvIndexDefs;
class TVEXCursor;
class TVEXExpression;
class TVEXVariant;

class TVEXAODataset {
 public:
  virtual ~TVEXAODataset() = default;

  // ---- what the table is
  virtual const std::string& TableName() const = 0;
  virtual void SetTableName(const std::string& Value) = 0;
  virtual std::string SessionName() const = 0;
  virtual std::string DatabaseName() const = 0;
  virtual void SetDatabaseName(const std::string& Value) = 0;
  virtual bool InMemory() const = 0;
  virtual void SetInMemory(bool Value) = 0;
  // A table of the temporary database.
  virtual bool Temporary() const = 0;
  virtual void SetTemporary(bool Value) = 0;
  virtual void SetDisableTempFiles(bool Value) = 0;
  // The definitions CreateTable builds the table from (of an open table: its
  // visible fields).
  virtual TVEXAdvFieldDefs& AdvFieldDefs() = 0;
  virtual TVEXAdvIndexDefs& AdvIndexDefs() = 0;
  // A new, closed dataset on the same session, for a result table or a second
  // cursor over this one's table.
  virtual std::unique_ptr<TVEXAODataset> NewSibling() = 0;

  // ---- structure. What the engine raises passes on.
  virtual bool Exists() = 0;
  virtual void CreateTable() = 0;
  virtual void DeleteTable() = 0;
  virtual void Open() = 0;
  // Never raises for a closed table.
  virtual void Close() = 0;
  virtual bool Active() const = 0;
  virtual void SetReadOnly(bool Value) = 0;
  // The engine cursor of an open table, else nullptr.
  virtual TVEXCursor* Handle() = 0;

  // ---- navigation
  virtual void First() = 0;
  virtual void Next() = 0;
  virtual bool Eof() const = 0;
  virtual bool Bof() const = 0;
  virtual int64_t RecordCount() = 0;
  // The current record, to come back to with GotoBookmark (an empty
  // bookmark for an empty table).
  virtual std::vector<uint8_t> GetBookmark() = 0;
  virtual void GotoBookmark(const std::vector<uint8_t>& Bookmark) = 0;

  // ---- records (design note 2)
  virtual void Insert() = 0;
  virtual void Post() = 0;
  virtual void Cancel() = 0;
  // Whether the record being inserted passes the table's constraints.
  virtual bool CheckConstraints() = 0;

  // ---- values (design note 1)
  virtual void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) = 0;
  // The name of field FieldNo, numbered as GetFieldValue numbers it.
  virtual std::string FieldName(int32_t FieldNo, bool DirectAccess) = 0;
  virtual void SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) = 0;
  // Field SrcFieldNo of the current record into visible field DestFieldNo of
  // the record Dest is inserting, byte for byte where the types agree.
  virtual void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                              TVEXAODataset& Dest) = 0;

  // ---- views (design note 3)
  virtual void ApplyProjection(const rtl::TStringList& FieldNamesList,
                               const rtl::TStringList& AliasList) = 0;
  virtual std::string FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                        const rtl::TStringList& AscDescList,
                                        const rtl::TStringList& CaseSensitivityList,
                                        bool& IsCreated) = 0;
  virtual bool IndexExists(const rtl::TStringList& FieldNamesList,
                           const rtl::TStringList& AscDescList,
                           const rtl::TStringList& CaseSensitivityList) = 0;
  // A temporary index of the open table: ";"-separated fields, descending and
  // case-insensitive ones.
  virtual void AddIndex(const std::string& Name, const std::string& Fields,
                        const std::string& DescFields, const std::string& CaseInsFields) = 0;
  virtual std::string IndexName() const = 0;
  virtual void SetIndexName(const std::string& Value) = 0;
  virtual void ApplyDistinct(const rtl::TStringList& FieldNamesList,
                             const rtl::TStringList& AscDescList,
                             const rtl::TStringList& CaseSensitivityList) = 0;
  // The same current index and distinct view as Source.
  virtual void ApplyDistinctFrom(TVEXAODataset& Source) = 0;
  // The SQL filter (not owned; nullptr for none) bound to this table's
  // cursor with the outer query's operator and cursor; the table reads from
  // its first record again.
  virtual void SetSQLFilter(TVEXExpression* FilterExpr, TVEXAO* ParentQueryAO,
                            TVEXCursor* ParentCursor) = 0;
  virtual TVEXExpression* SQLFilter() const = 0;
};

}  // namespace vex
