// The grouping operator: one output row per group of input rows with equal
// GROUP BY columns, or one group over all rows when there are none. The
// input is read once in group-column order; a second cursor on the input's
// result table runs one row ahead and finds the end of each group, so no key
// values are copied. Aggregates are computed by the expression nodes
// (Init / Accumulate per group); HAVING is this operator's filter.
//
// Threads: as every operator, used by the thread running its statement.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/VEXRelationalAlgebra.h"

namespace vex {

class TVEXAOGroupBy final : public TVEXAO {
 public:
  // FieldList: the GROUP BY list (nullptr or empty for none); FieldRefs: the
  // select list, for GROUP BY items that name a select-list alias. 20245
  // "Invalid field for 'GROUP BY.' ..." for an item that names nothing.
  TVEXAOGroupBy(std::unique_ptr<TVEXAO> Child, const TVEXFields* FieldList,
                std::vector<TVEXSelectListItem>& FieldRefs);
  ~TVEXAOGroupBy() override;

  // 20269 for a computed column that uses ungrouped columns outside an
  // aggregate, 10341 for a plain item that names no column, 10342 for one
  // that is not a GROUP BY column.
  void SetResultFields(std::vector<TVEXSelectListItem>& FieldRefs, bool bDistinct) override;
  void InternalFirst() override;
  void InternalNext() override;
  bool InternalEof() override { return FEOF; }
  int64_t InternalRecordCount() override;

  const std::string& GroupByFields() const { return FGroupByFields; }

 protected:
  // 10304 "Cannot open table %s, InMemory = %d" when it does not open.
  void OpenSecondCursor() override;
  void FreeSecondCursor() override;

 private:
  void InitAggregates();
  void AccumulateAggregates();
  // Accumulates rows of the input while they belong to the current group.
  void ScanGroup();
  // Whether the group columns of the input's row equal those of the second
  // cursor's row (nulls equal). 10340 when two values cannot be compared.
  bool GroupKeysEqual();
  // Moves the input (A) or the second cursor (B), the input's table filter
  // bound to the cursor being moved.
  void AdvanceInput();
  void AdvanceSecond();

  std::unique_ptr<TVEXAODataset> FTempDataset;
  bool FFirstTimeCalled = false;
  bool FAllFields = false;
  std::vector<int32_t> FFields;
  bool FEOF = false;
  std::string FGroupByFields;
};

}  // namespace vex
