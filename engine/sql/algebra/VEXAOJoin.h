// The join operator: two inputs joined as a cross join (nested loop over both)
// or, with join columns, as an inner, left, right or full outer join over
// inputs that are both read in ascending order of their join columns.
//
// A joined row is the current row of each input; for an outer join one side
// may be absent (FLeftAONull / FRightAONull), and every column passed through
// from it reads as null. Like every operator with inputs the join
// materialises; its internal iteration produces the joined rows for the fill.
//
// Design notes
//   1. Inner, left and right joins: the driving input (the left one, the right
//      one for a right join) is read row by row; for each row the other input
//      is scanned from a bookmark: the last scanned row found below an
//      earlier driving key (driving keys ascend, so no later driving row
//      matches it), else the first row. The scan for a row ends at the first
//      scanned key above it. A null key never has a partner.
//   2. Full outer join: a merge of the two ordered inputs. Rows whose key is
//      below the other side's (null keys lowest) are produced alone. A run of
//      equal keys is joined pairwise: every left row of the run meets every
//      right row of the run (rewound to the run's first row by bookmark);
//      a left row that met no partner under the join condition is produced
//      alone, and after the run every right row of the run that met none is
//      produced alone. No input is ever moved back past a row it produced.
//   3. Without join columns every pair of rows is a candidate and only the
//      join condition (if any) decides.
//   4. The join condition is evaluated per candidate pair with both sides
//      present.
//
// Threads: as every operator, used by the thread running its statement.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/VEXConst.h"
#include "sql/VEXRelationalAlgebra.h"

namespace vex {

class TVEXExpression;

class TVEXAOJoin final : public TVEXAO {
 public:
  // Takes the inputs and JoinCondition (nullptr for none), not the lists.
  // FieldList1 and FieldList2 name the join columns pairwise (nullptr for
  // none); either side of a pair may name a column of either input. 10330
  // "Error - different list lengths. L1 = %d, L2 = %d" when they differ in
  // length; 10331 / 10332 "Invalid field for join operation. Table name =
  // '%s', FieldName = '%s', i = %d, FieldExists = %d" for an item that
  // matches no column or several; 10334 "Both join fields are from the same
  // table. ..." for a pair from one input.
  TVEXAOJoin(std::unique_ptr<TVEXAO> LeftChild, std::unique_ptr<TVEXAO> RightChild,
             TVEXJoinType JoinType, bool IsNatural, const TVEXFields* FieldList1,
             const TVEXFields* FieldList2, std::unique_ptr<TVEXExpression> JoinCondition);
  ~TVEXAOJoin() override;

  TVEXJoinType JoinType() const { return FJoinType; }
  bool OuterJoin() const { return FOuterJoin; }
  // The join column pairs as link indexes (left input's, right input's).
  const std::vector<int32_t>& Fields1() const { return FFields1; }
  const std::vector<int32_t>& Fields2() const { return FFields2; }

  void InternalFirst() override;
  void InternalNext() override;
  bool InternalEof() override;
  // The product of the inputs' counts for a cross join (no iteration).
  int64_t InternalRecordCount() override;
  void Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

 protected:
  // Puts the smaller input on the left for inner and full outer joins.
  void BeforeMaterialize() override;
  // Not with a join condition: it may read columns the inputs would drop.
  void ApplyDistinctToInputs() override;

 private:
  // Full outer join: where the merge is, and the move it makes next.
  enum class TFullPhase : uint8_t { Merge, Run, Rest };
  enum class TFullStep : uint8_t { None, Left, Right, RunRight, RunLeft, RestRight };

  void AddInputLinks(TVEXAO& Input);
  void ResolveJoinColumns(const TVEXFields* FieldList, std::vector<int32_t>& Fields, int32_t Code);
  void PairJoinColumns();
  // Compares the join columns of the current rows (three-valued: a null key
  // equals nothing); 10328 when two values cannot be compared.
  TVEXCompareResult CompareJoinKeys();
  bool JoinConditionHolds();
  TVEXAO& Driving() const;
  TVEXAO& Scanned() const;
  // The scan for the current driving row is over (design note 1).
  bool ScanOver() const;
  // The scanned row's key is below the driving key (it matches no later row).
  bool ScannedBelow() const;
  void RewindScanned();
  void NextCross();
  void NextNestedLoop();
  void NextFullOuter();
  // Full outer join steps (design note 2); true when a row was produced or
  // the join ended.
  bool MergeStep();
  bool RunStep();
  // Moves to the next left row and rewinds the right input to the run's
  // start; the phase is Run while the left row still has the run's key.
  bool NextLeftOfRun();
  bool RestStep();

  bool FDekart = false;
  bool FOuterJoin = false;
  bool FInnerJoin = false;
  TVEXJoinType FJoinType = ajtCross;
  std::vector<int32_t> FFields1;
  std::vector<int32_t> FFields2;
  std::unique_ptr<TVEXExpression> FJoinCondition;
  TVEXCompareResult FCompareResult = cmprEqual;
  bool FFirstTimeCalled = false;
  bool FEof = false;
  std::vector<uint8_t> FRightBeginBookmark;
  int32_t FLinkCount = 0;
  bool FFieldsLink = false;
  // Full outer join: the phase and pending move, the current run's right
  // rows that met a partner, the position in the run and whether the left
  // row met one.
  TFullPhase FPhase = TFullPhase::Merge;
  TFullStep FNextStep = TFullStep::None;
  std::vector<bool> FRunMatched;
  size_t FRunPos = 0;
  bool FLeftMatched = false;
};

}  // namespace vex
