// The set operator (see VEXAOUnion.h).
#include "sql/algebra/VEXAOUnion.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "components/VEXAdvDefs.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "rtl/CodePage.h"
#include "sql/algebra/VEXAODataset.h"

namespace vex {

namespace {

bool SameName(const std::string& A, const std::string& B) {
  return rtl::UpperCase(A) == rtl::UpperCase(B);
}

int32_t FindField(const TVEXAdvFieldDefs& Defs, const std::string& Name) {
  for (int32_t i = 0; i < Defs.Count(); ++i)
    if (SameName(Defs.GetDef(i)->Name, Name)) return i;
  return -1;
}

// The shared table locks of the operator's inputs while they run (design
// note 5): given back on every way out, and checked on the normal one.
class TInputTableLocks {
 public:
  explicit TInputTableLocks(TVEXAO& Operator) : FOperator(Operator) {
    if (!LockTablesWithRetries(FOperator)) throw EVEXException(20225, "Table is locked");
    FHeld = true;
  }
  ~TInputTableLocks() {
    if (!FHeld) return;
    try {
      FOperator.UnlockTables();
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }
  TInputTableLocks(const TInputTableLocks&) = delete;
  TInputTableLocks& operator=(const TInputTableLocks&) = delete;
  void Release() {
    FHeld = false;
    if (!FOperator.UnlockTables()) throw EVEXException(20227, "Cannot unlock table");
  }

 private:
  TVEXAO& FOperator;
  bool FHeld = false;
};

}  // namespace

TVEXAOUnion::TVEXAOUnion(std::unique_ptr<TVEXAO> LeftChild, std::unique_ptr<TVEXAO> RightChild,
                         TVEXUnionType UnionType, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                         bool IsCorresponding, bool bDistinct, const TVEXFields* FieldList) {
  InitAO(std::move(LeftChild), std::move(RightChild), "", "");
  FIsMaterialized = false;
  FEof = false;
  FFirstTimeCalled = false;
  FShowLeft = true;
  FUnionType = UnionType;
  FDistinct = bDistinct;
  {
    TInputTableLocks locks(*this);
    FLeftAO->Execute(false, ParentQueryAO, ParentCursor);
    FRightAO->Execute(false, ParentQueryAO, ParentCursor);
    locks.Release();
  }
  MatchColumns(IsCorresponding, FieldList);
}

TVEXAOUnion::~TVEXAOUnion() = default;

bool TVEXAOUnion::OrdersInputs() const { return FUnionType != autUnion || FDistinct; }

void TVEXAOUnion::MatchColumns(bool IsCorresponding, const TVEXFields* FieldList) {
  const TVEXAdvFieldDefs& left = FLeftAO->ResultDataset()->AdvFieldDefs();
  const TVEXAdvFieldDefs& right = FRightAO->ResultDataset()->AdvFieldDefs();
  std::string leftNames, rightNames;
  if (FieldList == nullptr) {
    for (int32_t l = 0; l < left.Count(); ++l) {
      const int32_t r = IsCorresponding     ? FindField(right, left.GetDef(l)->Name)
                        : l < right.Count() ? l
                                            : -1;
      if (r >= 0) AddUnionColumn(l, r, leftNames, rightNames);
    }
  } else {
    if (FieldList->Items.empty())
      throw EVEXException(10337, "Empty field list, item count = %d", 0);
    for (const TVEXSelectListItem& item : FieldList->Items) {
      const int32_t l = FindField(left, item.FieldName);
      const int32_t r = FindField(right, item.FieldName);
      if (l >= 0 && r >= 0) AddUnionColumn(l, r, leftNames, rightNames);
    }
  }
  if (FFields1.size() != FFields2.size())
    throw EVEXException(10338, "Error - different list lengths. L1 = %d, L2 = %d",
                        static_cast<int32_t>(FFields1.size()),
                        static_cast<int32_t>(FFields2.size()));
  if (FFields1.empty()) throw EVEXException(10339, "Empty field list, item count = %d", 0);
  if (OrdersInputs()) {
    FLeftAO->SetIndex(leftNames, "", "");
    FRightAO->SetIndex(rightNames, "", "");
  }
  if (FDistinct) ApplyDistinct(leftNames);
}

void TVEXAOUnion::AddUnionColumn(int32_t LeftNo, int32_t RightNo, std::string& LeftNames,
                                 std::string& RightNames) {
  const TVEXAdvFieldDef& left = *FLeftAO->ResultDataset()->AdvFieldDefs().GetDef(LeftNo);
  const TVEXAdvFieldDef& right = *FRightAO->ResultDataset()->AdvFieldDefs().GetDef(RightNo);
  // No index orders such columns (design note 4).
  if (OrdersInputs() &&
      (!IsCastableAdvancedFieldType(left.DataType) || !IsCastableAdvancedFieldType(right.DataType)))
    return;
  TVEXFieldLink link;
  link.FieldName = left.Name;
  link.DisplayName = left.Name;
  link.FieldType = left.DataType;
  link.FieldSize = std::max(left.Size, right.Size);
  link.BLOBCompressionAlgorithm = left.BLOBCompressionAlgorithm;
  link.BLOBCompressionMode = left.BLOBCompressionMode;
  link.BLOBBlockSize = left.BLOBBlockSize;
  link.Dataset = FLeftAO->ResultDataset();
  link.FieldNo = LeftNo;
  AddFieldLink(std::move(link));
  FFields1.push_back(LeftNo);
  FFields2.push_back(RightNo);
  const auto append = [](std::string& List, const std::string& Name) {
    if (!List.empty()) List += ";";
    List += Name;
  };
  append(LeftNames, left.Name);
  append(RightNames, right.Name);
}

TVEXCompareResult TVEXAOUnion::CompareUnionRows() {
  TVEXAODataset& leftTable = *FLeftAO->ResultDataset();
  TVEXAODataset& rightTable = *FRightAO->ResultDataset();
  TVEXVariant left, right;
  FCompareResult = cmprEqual;
  for (size_t i = 0; i < FFields1.size(); ++i) {
    leftTable.GetFieldValue(left, FFields1[i], false);
    rightTable.GetFieldValue(right, FFields2[i], false);
    TVEXCompareResult result = cmprEqual;
    try {
      result = left.Compare(right, false, false, false);
    } catch (const EVEXException& e) {
      throw EVEXException(10335, "Cannot compare values for fields: %s, %s. Error: %s",
                          leftTable.FieldName(FFields1[i], false),
                          rightTable.FieldName(FFields2[i], false), std::string(e.what()));
    }
    if (result != cmprEqual) {
      FCompareResult = result;
      break;
    }
  }
  return FCompareResult;
}

void TVEXAOUnion::ShowInput(bool Left) {
  FShowLeft = Left;
  TVEXAODataset* table = Left ? FLeftAO->ResultDataset() : FRightAO->ResultDataset();
  const std::vector<int32_t>& positions = Left ? FFields1 : FFields2;
  for (size_t i = 0; i < positions.size(); ++i) {
    FFieldLinks[i].Dataset = table;
    FFieldLinks[i].FieldNo = positions[i];
  }
}

void TVEXAOUnion::InternalFirst() {
  FLeftAO->First();
  FRightAO->First();
  FEof = false;
  ShowInput(true);
  if (FUnionType == autUnion && !FLeftAO->Eof()) return;
  FFirstTimeCalled = true;
  InternalNext();
  FFirstTimeCalled = false;
}

void TVEXAOUnion::InternalNext() {
  if (Eof()) return;
  switch (FUnionType) {
    case autUnion:
      if (FDistinct)
        NextUnionDistinct();
      else
        NextUnionAll();
      break;
    case autIntersect:
      NextIntersect();
      break;
    case autExcept:
      NextExcept();
      break;
    default:
      throw EVEXException(10336, "Invalid union type = %d", static_cast<int32_t>(FUnionType));
  }
  FFirstTimeCalled = false;
}

void TVEXAOUnion::NextUnionAll() {
  TVEXAO& left = *FLeftAO;
  TVEXAO& right = *FRightAO;
  if (FShowLeft) {
    left.Next();
    if (left.Eof() && !right.Eof()) ShowInput(false);
  } else {
    right.Next();
  }
}

void TVEXAOUnion::NextUnionDistinct() {
  TVEXAO& left = *FLeftAO;
  TVEXAO& right = *FRightAO;
  TVEXAO& shown = FShowLeft ? left : right;
  if (!shown.Eof()) shown.Next();
  if (left.Eof() || right.Eof()) {
    ShowInput(!left.Eof());
    return;
  }
  while (CompareUnionRows() == cmprEqual) {
    right.Next();
    if (right.Eof()) break;
  }
  ShowInput(FCompareResult == cmprLower || right.Eof());
}

void TVEXAOUnion::NextIntersect() {
  TVEXAO& left = *FLeftAO;
  TVEXAO& right = *FRightAO;
  if (!FFirstTimeCalled) left.Next();
  while (!left.Eof() && !right.Eof()) {
    if (CompareUnionRows() == cmprEqual) return;
    if (FCompareResult == cmprLower)
      left.Next();
    else
      right.Next();
  }
  FEof = true;
}

void TVEXAOUnion::NextExcept() {
  TVEXAO& left = *FLeftAO;
  TVEXAO& right = *FRightAO;
  if (!FFirstTimeCalled) left.Next();
  while (!left.Eof() && !right.Eof()) {
    if (CompareUnionRows() == cmprLower) return;
    if (FCompareResult == cmprEqual)
      left.Next();
    else
      right.Next();
  }
}

bool TVEXAOUnion::InternalEof() {
  if (FEof) return true;
  switch (FUnionType) {
    case autIntersect:
      return FRightAO->RecordCount() == 0 || FLeftAO->Eof();
    case autExcept:
      return FLeftAO->Eof();
    default:
      return FLeftAO->Eof() && FRightAO->Eof();
  }
}

int64_t TVEXAOUnion::InternalRecordCount() {
  return FIsMaterialized ? TVEXAO::InternalRecordCount() : 0;
}

}  // namespace vex
