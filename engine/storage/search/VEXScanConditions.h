// What an index search is given and what it leaves behind: the comparison
// operators of a scan, a scan condition on the leading columns of an index,
// the cache of a cursor's last index position, and the part of a cursor's
// view bitmap that an index walks.
//
//
// Threads: each object belongs to one cursor or one search and is used under
// the lock of the database the table belongs to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "storage/VEXIndexManager.h"
#include "storage/VEXPage.h"
#include "storage/search/VEXRecordBitmap.h"
#include "storage/VEXSeams.h"

namespace vex {

// How a record's key compares to a condition's key (scLower: key < value).
enum TVEXSearchCondition : uint8_t {
  scNone,
  scEqual,
  scLower,
  scGreater,
  scLowerEqual,
  scGreaterEqual
};

// The first KeyFieldCount columns of index IndexID compare to the key values
// held in KeyRecordBuffer (a memory record of the table) as Condition says;
// or, with an Expression, a filter tested per record (Condition scNone).
//
// The key buffer is the caller's unless Assign or SetOwnKeyRecordBuffer gave
// the condition a copy of its own (design note 1 of the array below).
class TVEXScanSearchCondition {
 public:
  TVEXSearchCondition Condition = scNone;
  uint8_t* KeyRecordBuffer = nullptr;
  int32_t KeyRecordBufferSize = 0;
  int32_t KeyFieldCount = 0;
  int32_t IndexID = -1;
  // Text columns compare as prefixes of the key values.
  bool PartialCompare = false;
  // A filter or search expression; not owned.
  TVEXBaseExpression* Expression = nullptr;
  // Derived from the expressions' nodes: ParentExpressionNodes[i] belongs to
  // ParentExpressions[i]; the nodes are handed back to them after a scan.
  bool CreatedFromExpression = false;
  std::vector<TVEXBaseExpression*> ParentExpressions{};
  std::vector<TVEXExprNode*> ParentExpressionNodes{};

  // Frees the key buffer when it is the condition's own; forgets it otherwise.
  void ClearKeyRecordBuffer();
  // KeyRecordBuffer becomes a copy of Size bytes of Buffer, owned here.
  void SetOwnKeyRecordBuffer(const uint8_t* Buffer, int32_t Size);
  // Copies every member; the key buffer is always copied into one of its own,
  // the parent lists share their expressions and nodes.
  void Assign(const TVEXScanSearchCondition& Source);

  // The storage behind KeyRecordBuffer when the key is the condition's own
  // (public only so that conditions stay brace-initialisable).
  std::unique_ptr<uint8_t[]> FOwnKeyRecordBuffer{};
};

// The conditions of one search (the array owns them).
//
// Design notes
//   1. AddCondition stores copies with key buffers of their own, so the
//      caller's conditions over the cursor's key, range and DISTINCT buffers
//      may go right after.
//   2. Chosen condition numbers are -1 for none; a number outside 0..255 is
//      never treated as chosen (the expression object keeps them as a set).
//   3. Every node taken out by ExtractChosenConditionsFromExpressions goes back
//      through ReturnExtractedConditionsToExpressions; the search calls it on
//      every way out.
class TVEXScanSearchConditionArray {
 public:
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TVEXScanSearchCondition& operator[](int32_t ItemNo) { return *Items[ItemNo]; }

  void AddExpression(TVEXBaseExpression* Expression);
  // 10388 "Invalid scan condition - indexID = %d, count = %d" for a condition
  // with neither an expression nor an index.
  void AddCondition(const TVEXScanSearchCondition& ScanSearchCondition);
  // 10413 "Invalid item number - ItemNo = %d, ItemCount = %d" outside the
  // array; 10414 "Nil pointer occured" for an empty slot.
  void Delete(int32_t ItemNo);

  // Lets every expression entry add the index conditions it can derive, then
  // extends every index condition column by column while some expression can.
  void CreateIndexScanConditionsFromExpressions(const TVEXIndexDefs& IndexDefs, int32_t SessionID);
  // Deletes the derived conditions that were not chosen, keeping both
  // numbers on the same conditions.
  void RemoveUnusedConditionsCreatedFromExpressions(int32_t& ScanConditionNo,
                                                    int32_t& ScanEndConditionNo);
  void ExtractChosenConditionsFromExpressions(int32_t ScanConditionNo, int32_t ScanEndConditionNo);
  void ReturnExtractedConditionsToExpressions(int32_t ScanConditionNo, int32_t ScanEndConditionNo);

  // Compares two key buffers by index IndexID's first FieldCount columns
  // (negative: the first sorts first).
  using TVEXKeyCompare = std::function<int32_t(int32_t IndexID, const uint8_t* Key1,
                                               const uint8_t* Key2, int32_t FieldCount)>;
  // Merges the index conditions of each index (MergeOutcome), keeps the last
  // of equal ones, and puts the expression entries after them in their
  // order. False, with the array unchanged, when two conditions exclude
  // each other and the search can find nothing.
  bool OptimizeScanConditions(const TVEXKeyCompare& Compare);

  std::vector<std::unique_ptr<TVEXScanSearchCondition>> Items;

 private:
  void ExtendMultiFieldIndexCondition(int32_t ItemNo, const TVEXIndexDef& IndexDef,
                                      const std::vector<TVEXBaseExpression*>& ExpressionList);
};

// What merging two conditions A and B on the same index gives, by the
// index's comparison c of A's key with B's key over the shorter key
// (negative: A's key sorts first) and their key field counts.
enum TVEXMergeOutcome : uint8_t {
  moEmpty,     // they exclude each other: the search finds nothing
  moKeepBoth,  // no merge
  moA,         // A alone decides
  moB,         // B alone decides
  moFewer,     // the one with fewer key fields (A when equal)
  moMore,      // the one with more key fields (A when equal)
  moAEqual     // A with its condition turned into scEqual (x <= k and x >= k)
};
TVEXMergeOutcome MergeOutcome(TVEXSearchCondition A, TVEXSearchCondition B, int32_t c, int32_t nA,
                              int32_t nB);
// False only for an equality with fewer key fields than a strict bound.
bool CanMergeScanConditions(const TVEXScanSearchCondition& A, const TVEXScanSearchCondition& B);

// Where in an index a cursor last stood: the index fills it after each step
// and trusts it only for the same index, record and table state.
class TVEXIndexPositionCache {
 public:
  // Made by the index (CreateIndexPosition) on first use.
  std::unique_ptr<TVEXIndexPosition> Position;
  int32_t IndexID = -1;
  TVEXPageItemID RecordID{-1, 0};
  int32_t TableState = -1;
};

}  // namespace vex
