// The aggregate node: COUNT, COUNT(*), SUM, AVG, MIN and MAX over the rows of
// a group.
//
// The grouping operator drives it: Init at the start of each group,
// Accumulate once per row of the group, then GetDataValue for the result.
// Every aggregate skips null arguments (COUNT(*) counts rows); a group
// without a non-null argument gives null, COUNT gives 0.
//
// Design notes
//   1. SUM of integers runs in 64 bits whatever the width of its arguments,
//      so that the sum has the LARGEINT type its column is declared with and
//      does not wrap at the arguments' width; a sum that leaves the 64-bit
//      range raises rtl::EIntOverflow instead of wrapping.
//   2. With DISTINCT, COUNT, SUM and AVG take each distinct non-null value of
//      the group once. Values are told apart as SELECT DISTINCT tells rows
//      apart: by value comparison, case-sensitively. The values seen are kept
//      per group and dropped at the next Init. MIN and MAX are the same with
//      or without DISTINCT, so they keep no set.
//   3. MIN and MAX compare ignoring case; of two values that differ only in
//      case the first one stays.
//   4. COUNT(*) of a query without grouping columns can be answered from the
//      input's record count (SetCountAll); the grouping operator decides.
//
// Threads: as every node, used by the thread evaluating its tree.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExprNodeAggregated : public TVEXExprNode {
 public:
  // COUNT(*).
  explicit TVEXExprNodeAggregated(TVEXDataOperator Op);
  // COUNT, SUM, AVG, MIN or MAX of Node, with or without DISTINCT.
  TVEXExprNodeAggregated(TVEXDataOperator Op, bool Distinct, TVEXExprNodePtr Node);
  ~TVEXExprNodeAggregated() override;

  // The value of the group collected so far: COUNT as a 32-bit integer, AVG
  // as a double (null without values), SUM, MIN and MAX as their running
  // value (null without values).
  TVEXVariant& GetDataValue() override;
  bool IsAggregated() override { return true; }
  bool IsAggregatedCountAll() override { return Operator == doCOUNTALL; }
  // Starts a group. Unlike the base it does not visit the argument.
  void Init() override;
  // Adds the argument's current value. Raises 30132 (SUM) or 30133 (AVG)
  // "Not numeric argument in numeric operator '%s'" for a non-null argument
  // that is not a number, 30134 "Unknown operator: '%s'" for an operator
  // that is no aggregate; errors of comparing (MIN, MAX) and adding pass
  // through.
  void Accumulate() override;
  void SetCountAll(int32_t RecordCount) override { count = RecordCount; }
  // SUM: the argument's type for single, double, extended and currency,
  // else LARGEINT; AVG: double; MIN, MAX: the argument's type; COUNT:
  // integer.
  TVEXAdvancedFieldType GetDataType() override;
  // MIN and MAX: the argument's size; the others 0.
  int32_t GetDataSize() override;
  // An aggregate can be evaluated only by a grouping operator; there the
  // argument's columns must be found (with the ordinary, not the HAVING,
  // lookup).
  bool CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                     bool ForHavingClause) override;
  bool CanBeUsedInGroupBy(const std::string&) override { return true; }

  // Rows counted (COUNT) or values added (AVG) in the current group.
  int32_t count = 0;
  bool distinct = false;
  // The running sum of AVG.
  TVEXVariant AvgSum{bftUnknown};

 private:
  struct ValueLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<TVEXVariant>& A,
                    const std::unique_ptr<TVEXVariant>& B) const {
      return Less(*A, *B);
    }
    bool operator()(const std::unique_ptr<TVEXVariant>& A, const TVEXVariant* B) const {
      return Less(*A, *B);
    }
    bool operator()(const TVEXVariant* A, const std::unique_ptr<TVEXVariant>& B) const {
      return Less(*A, *B);
    }
    static bool Less(const TVEXVariant& A, const TVEXVariant& B);
  };

  // DISTINCT: whether Arg (not null) was seen before in this group; remembers
  // it when not.
  bool SeenBefore(const TVEXVariant& Arg);
  void AccumulateSum(const TVEXVariant& Arg);

  std::set<std::unique_ptr<TVEXVariant>, ValueLess> FSeen;
};

}  // namespace vex
