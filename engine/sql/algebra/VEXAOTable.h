// The table operator: the leaf of every operator tree, one base table named
// in FROM. It never copies rows: its result is the base table itself, with
// the query's filter as the table's SQL filter, a select list over it as the
// table's projection, DISTINCT as its distinct view and ORDER BY as its
// current index. A SELECT over one table therefore returns a live result.
//
// Threads: as every operator, used by the thread running its statement.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/VEXRelationalAlgebra.h"

namespace vex {

class TVEXDatabase;
class TVEXTable;

class TVEXAOTable final : public TVEXAO {
 public:
  // Takes Table over and opens it; one hidden link per table field. Temporary
  // results above it stay in memory when DB says so. 10303 "Error on opening
  // table \"%s\" (InMemory = %d) in SQL query: %s" when the table does not
  // open.
  TVEXAOTable(const std::string& TableName, const std::string& TableAlias, TVEXDatabase* DB,
              std::unique_ptr<TVEXAODataset> Table);
  // The same over the table component the statement made for the FROM item.
  TVEXAOTable(const std::string& TableName, const std::string& TableAlias, TVEXDatabase* DB,
              std::unique_ptr<TVEXTable> Table);

  // 30327 "Invalid table name in reference. Table name = %s, table alias =
  // %s, tname = %s" for an item qualified by another table. A "t.*" item
  // keeps all columns as they are.
  void SetResultFields(std::vector<TVEXSelectListItem>& FieldRefs, bool bDistinct) override;
  void Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  // Hands the ordering over to a parent when the base table has no index for
  // it: the lists move to the caller and the answer is true. 10513 "Nil
  // pointer occured" without a table.
  bool TransferIndexToParentIfNeeded(std::unique_ptr<rtl::TStringList>& FieldNamesList,
                                     std::unique_ptr<rtl::TStringList>& AscDescList,
                                     std::unique_ptr<rtl::TStringList>& CaseSensitivityList);

  bool OpenTables() override;
  bool CloseTables() override;
  // The shared lock ltS: 2 tries 20 ms apart; false when the table is closed.
  bool LockTables() override;
  bool UnlockTables() override;

  TVEXDatabase* Database() const { return FDatabase; }

 private:
  TVEXDatabase* FDatabase;
};

}  // namespace vex
