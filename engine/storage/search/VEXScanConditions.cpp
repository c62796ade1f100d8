#include "storage/search/VEXScanConditions.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/VEXExcept.h"
#include "storage/VEXMetaDefs.h"

namespace vex {

namespace {
bool IsChosen(int32_t ItemNo, int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  return ItemNo >= 0 && (ItemNo == ScanConditionNo || ItemNo == ScanEndConditionNo);
}
}  // namespace

void TVEXScanSearchCondition::ClearKeyRecordBuffer() {
  FOwnKeyRecordBuffer.reset();
  KeyRecordBuffer = nullptr;
}

void TVEXScanSearchCondition::SetOwnKeyRecordBuffer(const uint8_t* Buffer, int32_t Size) {
  std::unique_ptr<uint8_t[]> copy;
  if (Buffer != nullptr && Size > 0) {
    copy = std::make_unique<uint8_t[]>(Size);
    std::memcpy(copy.get(), Buffer, Size);
  }
  FOwnKeyRecordBuffer = std::move(copy);
  KeyRecordBuffer = FOwnKeyRecordBuffer.get();
}

void TVEXScanSearchCondition::Assign(const TVEXScanSearchCondition& Source) {
  if (&Source == this) {
    SetOwnKeyRecordBuffer(KeyRecordBuffer, KeyRecordBufferSize);
    return;
  }
  SetOwnKeyRecordBuffer(Source.KeyRecordBuffer, Source.KeyRecordBufferSize);
  Condition = Source.Condition;
  KeyRecordBufferSize = Source.KeyRecordBufferSize;
  KeyFieldCount = Source.KeyFieldCount;
  IndexID = Source.IndexID;
  Expression = Source.Expression;
  CreatedFromExpression = Source.CreatedFromExpression;
  PartialCompare = Source.PartialCompare;
  ParentExpressions = Source.ParentExpressions;
  ParentExpressionNodes = Source.ParentExpressionNodes;
}

void TVEXScanSearchConditionArray::AddExpression(TVEXBaseExpression* Expression) {
  auto item = std::make_unique<TVEXScanSearchCondition>();
  item->Expression = Expression;
  Items.push_back(std::move(item));
}

void TVEXScanSearchConditionArray::AddCondition(const TVEXScanSearchCondition& ScanSearchCondition) {
  if (ScanSearchCondition.Expression == nullptr && ScanSearchCondition.IndexID == -1)
    throw EVEXException(10388, "Invalid scan condition - indexID = %d, count = %d",
                        ScanSearchCondition.IndexID, Count());
  auto item = std::make_unique<TVEXScanSearchCondition>();
  item->Assign(ScanSearchCondition);
  Items.push_back(std::move(item));
}

void TVEXScanSearchConditionArray::Delete(int32_t ItemNo) {
  if (ItemNo < 0 || ItemNo >= Count())
    throw EVEXException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", ItemNo,
                        Count());
  if (Items[ItemNo] == nullptr) RaiseNilPointer(10414);
  Items.erase(Items.begin() + ItemNo);
}

void TVEXScanSearchConditionArray::CreateIndexScanConditionsFromExpressions(
    const TVEXIndexDefs& IndexDefs, int32_t SessionID) {
  const int32_t initialCount = Count();
  for (int32_t i = 0; i < initialCount; ++i)
    if (Items[i]->Expression != nullptr)
      Items[i]->Expression->CreateIndexScanConditions(IndexDefs, *this, SessionID);

  std::vector<TVEXBaseExpression*> expressions;
  for (const auto& item : Items)
    if (item->Expression != nullptr) expressions.push_back(item->Expression);
  if (expressions.empty()) return;
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items[i]->Expression != nullptr) continue;
    const auto* def =
        static_cast<const TVEXIndexDef*>(IndexDefs.GetDefByObjectId(Items[i]->IndexID));
    if (def != nullptr) ExtendMultiFieldIndexCondition(i, *def, expressions);
  }
}

void TVEXScanSearchConditionArray::ExtendMultiFieldIndexCondition(
    int32_t ItemNo, const TVEXIndexDef& IndexDef,
    const std::vector<TVEXBaseExpression*>& ExpressionList) {
  if (IndexDef.ColumnCount() < 2) return;
  TVEXScanSearchCondition& condition = *Items[ItemNo];
  // Each successful extension adds a column, so the passes end by the index's
  // column count at the latest.
  bool extended = true;
  while (extended && condition.KeyFieldCount < IndexDef.ColumnCount()) {
    extended = false;
    for (TVEXBaseExpression* expression : ExpressionList) {
      if (expression->ExtendMultiFieldIndexCondition(condition, IndexDef)) {
        extended = true;
        break;
      }
    }
  }
}

void TVEXScanSearchConditionArray::RemoveUnusedConditionsCreatedFromExpressions(
    int32_t& ScanConditionNo, int32_t& ScanEndConditionNo) {
  int32_t i = 0;
  while (i < Count()) {
    if (!Items[i]->CreatedFromExpression || IsChosen(i, ScanConditionNo, ScanEndConditionNo)) {
      ++i;
      continue;
    }
    Delete(i);
    if (i < ScanConditionNo) --ScanConditionNo;
    if (i < ScanEndConditionNo) --ScanEndConditionNo;
  }
}

void TVEXScanSearchConditionArray::ExtractChosenConditionsFromExpressions(
    int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  for (const auto& item : Items)
    if (item->Expression != nullptr)
      item->Expression->RemoveExtractedNodes(*this, ScanConditionNo, ScanEndConditionNo);
}

void TVEXScanSearchConditionArray::ReturnExtractedConditionsToExpressions(
    int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  const int32_t chosen[2] = {ScanConditionNo,
                             ScanEndConditionNo == ScanConditionNo ? -1 : ScanEndConditionNo};
  // A node that both chosen conditions name was taken out once and goes back
  // once.
  std::vector<std::pair<TVEXBaseExpression*, TVEXExprNode*>> returned;
  for (int32_t no : chosen) {
    if (no < 0 || no >= Count()) continue;
    const TVEXScanSearchCondition& condition = *Items[no];
    for (size_t k = 0; k < condition.ParentExpressionNodes.size(); ++k) {
      const std::pair<TVEXBaseExpression*, TVEXExprNode*> item{condition.ParentExpressions[k],
                                                               condition.ParentExpressionNodes[k]};
      if (std::find(returned.begin(), returned.end(), item) != returned.end()) continue;
      returned.push_back(item);
      item.first->AddNode(item.second);
    }
  }
}

bool CanMergeScanConditions(const TVEXScanSearchCondition& A, const TVEXScanSearchCondition& B) {
  const auto strict = [](TVEXSearchCondition c) { return c == scLower || c == scGreater; };
  if (A.Condition == scEqual && strict(B.Condition)) return A.KeyFieldCount >= B.KeyFieldCount;
  if (B.Condition == scEqual && strict(A.Condition)) return B.KeyFieldCount >= A.KeyFieldCount;
  return true;
}

TVEXMergeOutcome MergeOutcome(TVEXSearchCondition A, TVEXSearchCondition B, int32_t c, int32_t nA,
                              int32_t nB) {
  const bool lt = c < 0, eq = c == 0, gt = c > 0;
  switch (A) {
    case scEqual:
      switch (B) {
        case scEqual: return eq ? moMore : moEmpty;
        case scLower: return lt ? moA : moEmpty;
        case scGreater: return gt ? moA : moEmpty;
        case scLowerEqual: return gt ? moEmpty : lt ? moA : nA >= nB ? moA : moKeepBoth;
        case scGreaterEqual: return lt ? moEmpty : gt ? moA : nA >= nB ? moA : moKeepBoth;
        default: return moKeepBoth;
      }
    case scLower:
      switch (B) {
        case scEqual: return gt ? moB : moEmpty;
        case scLower: return lt ? moA : gt ? moB : moFewer;
        case scGreater: return gt ? moKeepBoth : moEmpty;
        case scLowerEqual: return gt ? moB : moA;
        case scGreaterEqual: return lt ? moEmpty : gt ? moKeepBoth : nA <= nB ? moEmpty : moKeepBoth;
        default: return moKeepBoth;
      }
    case scGreater:
      switch (B) {
        case scEqual: return lt ? moB : moEmpty;
        case scLower: return lt ? moKeepBoth : moEmpty;
        case scGreater: return gt ? moA : lt ? moB : moFewer;
        case scLowerEqual: return gt ? moEmpty : lt ? moKeepBoth : nA <= nB ? moEmpty : moKeepBoth;
        case scGreaterEqual: return lt ? moB : moA;
        default: return moKeepBoth;
      }
    case scLowerEqual:
      switch (B) {
        case scEqual: return lt ? moEmpty : gt ? moB : nB >= nA ? moB : moKeepBoth;
        case scLower: return lt ? moA : gt ? moB : moKeepBoth;
        case scGreater: return lt ? moEmpty : gt ? moKeepBoth : nB <= nA ? moEmpty : moKeepBoth;
        case scLowerEqual: return lt ? moA : gt ? moB : moMore;
        case scGreaterEqual: return lt ? moEmpty : eq && nA == nB ? moAEqual : moKeepBoth;
        default: return moKeepBoth;
      }
    case scGreaterEqual:
      switch (B) {
        case scEqual: return gt ? moEmpty : lt ? moB : nB >= nA ? moB : moKeepBoth;
        case scLower: return gt ? moEmpty : lt ? moKeepBoth : nB <= nA ? moEmpty : moKeepBoth;
        case scGreater: return gt ? moA : moB;
        case scLowerEqual: return gt ? moEmpty : eq && nA == nB ? moAEqual : moKeepBoth;
        case scGreaterEqual: return gt ? moA : lt ? moB : moMore;
        default: return moKeepBoth;
      }
    default:
      return moKeepBoth;
  }
}

bool TVEXScanSearchConditionArray::OptimizeScanConditions(const TVEXKeyCompare& Compare) {
  std::vector<int32_t> indexIDs;
  for (const auto& item : Items)
    if (item->Expression == nullptr &&
        std::find(indexIDs.begin(), indexIDs.end(), item->IndexID) == indexIDs.end())
      indexIDs.push_back(item->IndexID);

  std::vector<std::unique_ptr<TVEXScanSearchCondition>> result;
  for (int32_t indexID : indexIDs) {
    std::vector<std::unique_ptr<TVEXScanSearchCondition>> kept;
    for (const auto& item : Items) {
      if (item->Expression != nullptr || item->IndexID != indexID) continue;
      const TVEXScanSearchCondition& b = *item;
      bool merged = false;
      for (auto& keptItem : kept) {
        TVEXScanSearchCondition& a = *keptItem;
        if (!CanMergeScanConditions(a, b)) continue;
        const int32_t nA = a.KeyFieldCount, nB = b.KeyFieldCount;
        const int32_t c =
            Compare(indexID, a.KeyRecordBuffer, b.KeyRecordBuffer, std::min(nA, nB));
        switch (MergeOutcome(a.Condition, b.Condition, c, nA, nB)) {
          case moEmpty: return false;
          case moKeepBoth: continue;
          case moA: break;
          case moB: a.Assign(b); break;
          case moFewer: if (nB < nA) a.Assign(b); break;
          case moMore: if (nB > nA) a.Assign(b); break;
          case moAEqual: a.Condition = scEqual; break;
        }
        merged = true;
      }
      if (!merged) {
        auto copy = std::make_unique<TVEXScanSearchCondition>();
        copy->Assign(b);
        kept.push_back(std::move(copy));
      }
    }
    // Of several equal conditions only the last stays.
    for (size_t i = 0; i < kept.size(); ++i) {
      const TVEXScanSearchCondition& a = *kept[i];
      bool later = false;
      for (size_t j = i + 1; j < kept.size() && !later; ++j) {
        const TVEXScanSearchCondition& b = *kept[j];
        later = a.Condition != scNone && a.Condition == b.Condition &&
                a.KeyFieldCount == b.KeyFieldCount &&
                Compare(indexID, a.KeyRecordBuffer, b.KeyRecordBuffer, a.KeyFieldCount) == 0;
      }
      if (!later) result.push_back(std::move(kept[i]));
    }
  }
  for (auto& item : Items)
    if (item->Expression != nullptr) result.push_back(std::move(item));
  Items = std::move(result);
  return true;
}

}  // namespace vex
