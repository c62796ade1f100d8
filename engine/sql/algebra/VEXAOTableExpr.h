// The single-input operators that complete a SELECT: the table expression
// (computed columns, projection, DISTINCT or ordering over an input that
// cannot provide them itself), and the top-row operator that cuts the rows to
// the TOP range. Both take their links from the input and materialise.
//
// Threads: as every operator, used by the thread running its statement.
#pragma once

#include <memory>

#include "sql/VEXRelationalAlgebra.h"

namespace vex {

class TVEXAOTableExpr final : public TVEXAO {
 public:
  explicit TVEXAOTableExpr(std::unique_ptr<TVEXAO> Child);

  void InternalFirst() override;
  void InternalNext() override;
  bool InternalEof() override;
  int64_t InternalRecordCount() override;
  // Sorts its own result when a base-table input has no index for the
  // requested order (the base table's indexes stay as they are).
  void Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  // The input gets only a row limit that covers the range (design note 4).
  void SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) override;
};

class TVEXAOSQLTopRowCount final : public TVEXAO {
 public:
  explicit TVEXAOSQLTopRowCount(std::unique_ptr<TVEXAO> Child);

  void InternalFirst() override;
  void InternalNext() override;
  bool InternalEof() override;
  int64_t InternalRecordCount() override;
  void SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) override;
};

}  // namespace vex
