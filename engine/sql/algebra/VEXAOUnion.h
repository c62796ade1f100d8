// The set operator: UNION [ALL], INTERSECT and EXCEPT (MINUS) of two inputs,
// optionally CORRESPONDING [BY (columns)].
//
// Both inputs run while the operator is made, because the column pairs come
// from their result tables. INTERSECT, EXCEPT and UNION without ALL read both
// inputs in ascending order of all paired columns and merge them; UNION ALL
// reads the left input completely, then the right one. The operator then
// materialises like every operator with inputs, its iteration choosing which
// input's row comes next.
//
// Design notes
//   1. A link per column pair reads the input table whose row is current: all
//      links switch together, to the left table at the left positions or to
//      the right one at the right positions. Positions count the visible
//      fields, so field access below the operator goes by position until it
//      has materialised.
//   2. Rows compare two-valued: nulls equal each other and sort lowest.
//   3. Without ALL, the fill's DISTINCT removes the repeats the merge lets
//      through. INTERSECT ALL produces every left row that has an equal right
//      row; EXCEPT ALL every left row that has none.
//   4. A pair of a type no index can order (bytes, BLOB, GUID) is left out
//      when the inputs are ordered; UNION ALL keeps it.
//   5. Running the inputs reads base tables before the statement locks them:
//      the operator first takes their shared table locks with the
//      statement's bounded wait, and gives them back on every way out.
//
// Threads: as every operator, used by the thread running its statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/VEXConst.h"
#include "sql/VEXRelationalAlgebra.h"

namespace vex {

class TVEXCursor;

class TVEXAOUnion final : public TVEXAO {
 public:
  // Takes the inputs and runs them (design note 5). FieldList names the
  // CORRESPONDING BY columns, nullptr without BY. 20225 "Table is locked"
  // when the inputs' tables stay locked by others, 20226 / 20227 "Cannot
  // unlock table" when a lock cannot be given back; 10337 "Empty field list,
  // item count = %d" for an empty BY list; 10339 "Empty field list, item
  // count = %d" when no column pair is left.
  TVEXAOUnion(std::unique_ptr<TVEXAO> LeftChild, std::unique_ptr<TVEXAO> RightChild,
              TVEXUnionType UnionType, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
              bool IsCorresponding, bool bDistinct, const TVEXFields* FieldList);
  ~TVEXAOUnion() override;

  TVEXUnionType UnionType() const { return FUnionType; }
  // The column pairs: positions among the inputs' visible fields.
  const std::vector<int32_t>& Fields1() const { return FFields1; }
  const std::vector<int32_t>& Fields2() const { return FFields2; }

  void InternalFirst() override;
  // 10336 "Invalid union type = %d" for another operation.
  void InternalNext() override;
  bool InternalEof() override;
  int64_t InternalRecordCount() override;

 protected:
  bool DirectAccess() const override { return FIsMaterialized; }

 private:
  bool OrdersInputs() const;
  void MatchColumns(bool IsCorresponding, const TVEXFields* FieldList);
  void AddUnionColumn(int32_t LeftNo, int32_t RightNo, std::string& LeftNames,
                      std::string& RightNames);
  // 10335 "Cannot compare values for fields: %s, %s. Error: %s".
  TVEXCompareResult CompareUnionRows();
  void ShowInput(bool Left);
  void NextUnionAll();
  void NextUnionDistinct();
  void NextIntersect();
  void NextExcept();

  bool FEof = false;
  TVEXUnionType FUnionType = autUnion;
  bool FDistinct = false;
  std::vector<int32_t> FFields1;
  std::vector<int32_t> FFields2;
  TVEXCompareResult FCompareResult = cmprEqual;
  bool FFirstTimeCalled = false;
  bool FShowLeft = true;
};

}  // namespace vex
