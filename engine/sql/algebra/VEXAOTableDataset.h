// The table component as the operators see it: a base table named in FROM
// and every result table are table components (VEXTable.h), reached through
// the operators' dataset interface (VEXAODataset.h).
//
// Design notes
//   1. The adapter owns its table component. A sibling is a new, closed table
//      component of the same session and database name; a result table then
//      moves to the temporary database with SetTemporary.
//   2. Reading goes through the dataset's buffers, so a record read stays
//      shown when the table moves past its end (Eof), as the operators expect.
//   3. The record being inserted is the dataset's active buffer; constraints
//      are checked on it by the engine cursor before the post.
//
// Threads: used by the thread running the statement, like its table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/algebra/VEXAODataset.h"

namespace vex {

class TVEXTable;

class TVEXAOTableDataset final : public TVEXAODataset {
 public:
  // Takes Table over (10315 "Nil pointer occured" for none).
  explicit TVEXAOTableDataset(std::unique_ptr<TVEXTable> Table);
  // Closes and frees the table component; never raises.
  ~TVEXAOTableDataset() override;

  // The table component itself, for the statement that shows the result.
  TVEXTable& Table() const { return *FTable; }

  const std::string& TableName() const override;
  void SetTableName(const std::string& Value) override;
  std::string SessionName() const override;
  std::string DatabaseName() const override;
  void SetDatabaseName(const std::string& Value) override;
  bool InMemory() const override;
  void SetInMemory(bool Value) override;
  bool Temporary() const override;
  void SetTemporary(bool Value) override;
  void SetDisableTempFiles(bool Value) override;
  TVEXAdvFieldDefs& AdvFieldDefs() override;
  TVEXAdvIndexDefs& AdvIndexDefs() override;
  std::unique_ptr<TVEXAODataset> NewSibling() override;

  bool Exists() override;
  // From AdvFieldDefs and AdvIndexDefs alone: the component's own field and
  // index definitions of an earlier table are dropped first.
  void CreateTable() override;
  void DeleteTable() override;
  void Open() override;
  void Close() override;
  bool Active() const override;
  void SetReadOnly(bool Value) override;
  TVEXCursor* Handle() override;

  void First() override;
  void Next() override;
  bool Eof() const override;
  bool Bof() const override;
  // 0 for a closed table.
  int64_t RecordCount() override;
  std::vector<uint8_t> GetBookmark() override;
  void GotoBookmark(const std::vector<uint8_t>& Bookmark) override;

  void Insert() override;
  void Post() override;
  void Cancel() override;
  // 10316 "Nil pointer occured" when no record is being inserted.
  bool CheckConstraints() override;

  void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) override;
  // 10317 "Invalid field number - FieldNo = %d, FieldCount = %d" outside the
  // table's fields; 10315 for a closed table.
  std::string FieldName(int32_t FieldNo, bool DirectAccess) override;
  void SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) override;
  // 10503 when Dest is not a table component.
  void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                      TVEXAODataset& Dest) override;

  void ApplyProjection(const rtl::TStringList& FieldNamesList,
                       const rtl::TStringList& AliasList) override;
  std::string FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                const rtl::TStringList& AscDescList,
                                const rtl::TStringList& CaseSensitivityList,
                                bool& IsCreated) override;
  bool IndexExists(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                   const rtl::TStringList& CaseSensitivityList) override;
  void AddIndex(const std::string& Name, const std::string& Fields, const std::string& DescFields,
                const std::string& CaseInsFields) override;
  // The open cursor's current index, else the one the component was given.
  std::string IndexName() const override;
  void SetIndexName(const std::string& Value) override;
  void ApplyDistinct(const rtl::TStringList& FieldNamesList, const rtl::TStringList& AscDescList,
                     const rtl::TStringList& CaseSensitivityList) override;
  // 10319 when Source is not a table component.
  void ApplyDistinctFrom(TVEXAODataset& Source) override;
  void SetSQLFilter(TVEXExpression* FilterExpr, TVEXAO* ParentQueryAO,
                    TVEXCursor* ParentCursor) override;
  TVEXExpression* SQLFilter() const override { return FSQLFilter; }

 private:
  std::unique_ptr<TVEXTable> FTable;
  TVEXExpression* FSQLFilter = nullptr;
};

}  // namespace vex
