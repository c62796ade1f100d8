// The join operator (see VEXAOJoin.h).
#include "sql/algebra/VEXAOJoin.h"

#include <string>
#include <utility>

#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/expression/VEXExpression.h"

namespace vex {

namespace {

bool SameName(const std::string& A, const std::string& B) {
  return rtl::UpperCase(A) == rtl::UpperCase(B);
}

int32_t ItemCount(const TVEXFields* List) {
  return List != nullptr ? static_cast<int32_t>(List->Items.size()) : 0;
}

bool LeftIsBelow(TVEXCompareResult R) {
  return R == cmprLower || R == cmprLeftNull || R == cmprBothNull;
}

bool RightIsBelow(TVEXCompareResult R) { return R == cmprGreater || R == cmprRightNull; }

}  // namespace

TVEXAOJoin::TVEXAOJoin(std::unique_ptr<TVEXAO> LeftChild, std::unique_ptr<TVEXAO> RightChild,
                       TVEXJoinType JoinType, bool IsNatural, const TVEXFields* FieldList1,
                       const TVEXFields* FieldList2,
                       std::unique_ptr<TVEXExpression> JoinCondition) {
  InitAO(std::move(LeftChild), std::move(RightChild), "", "");
  const int32_t count1 = ItemCount(FieldList1);
  const int32_t count2 = ItemCount(FieldList2);
  if (JoinType == ajtInner && JoinCondition == nullptr && FieldList1 != nullptr &&
      FieldList2 != nullptr && count1 == 0 && count2 == 0)
    JoinType = ajtCross;
  FJoinType = JoinType;
  FJoinCondition = std::move(JoinCondition);
  FInnerJoin = JoinType == ajtInner;
  FDekart = JoinType == ajtCross;
  FOuterJoin = JoinType == ajtLeftOuter || JoinType == ajtRightOuter || JoinType == ajtFullOuter;
  if (!FDekart && !IsNatural && count1 != count2)
    throw EVEXException(10330, "Error - different list lengths. L1 = %d, L2 = %d", count1, count2);
  FEof = false;
  FFirstTimeCalled = true;
  AddInputLinks(*FLeftAO);
  AddInputLinks(*FRightAO);
  if (IsNatural && !FDekart) {
    const int32_t leftCount = FLeftAO->FieldCount();
    for (int32_t r = leftCount; r < FFieldCount; ++r)
      for (int32_t l = 0; l < leftCount; ++l) {
        if (!SameName(FFieldLinks[l].FieldName, FFieldLinks[r].FieldName)) continue;
        FFields1.push_back(l);
        FFields2.push_back(r);
        FFieldLinks[l].IsHidden = false;
        FFieldLinks[r].IsHidden = false;
        const std::string name = FFieldLinks[l].FieldName;
        FLeftAO->FieldExists(name, "", true, nullptr, false, false);
        FRightAO->FieldExists(name, "", true, nullptr, false, false);
      }
  } else if (!FDekart) {
    ResolveJoinColumns(FieldList1, FFields1, 10331);
    ResolveJoinColumns(FieldList2, FFields2, 10332);
  }
  if (!FDekart) PairJoinColumns();
  FFieldsLink = !FFields1.empty();
  MakeFieldNamesUnique();
  FIsMaterialized = false;
}

TVEXAOJoin::~TVEXAOJoin() = default;

void TVEXAOJoin::AddInputLinks(TVEXAO& Input) {
  for (int32_t i = 0; i < Input.FieldCount(); ++i) AddFieldLink(LinkToInput(Input, i));
}

void TVEXAOJoin::ResolveJoinColumns(const TVEXFields* FieldList, std::vector<int32_t>& Fields,
                                    int32_t Code) {
  for (int32_t i = 0; i < ItemCount(FieldList); ++i) {
    const TVEXSelectListItem& item = FieldList->Items[static_cast<size_t>(i)];
    std::vector<int32_t> found;
    const int32_t count = FieldExists(item.FieldName, item.TableName, true, &found, false, false);
    if (count != 1)
      throw EVEXException(Code,
                          "Invalid field for join operation. Table name = '%s', FieldName = '%s', "
                          "i = %d, FieldExists = %d",
                          item.TableName, item.FieldName, i, count);
    Fields.push_back(found.front());
  }
}

void TVEXAOJoin::PairJoinColumns() {
  if (FFields1.size() != FFields2.size())
    throw EVEXException(10332, "Error - different list lengths. L1 = %d, L2 = %d",
                        static_cast<int32_t>(FFields1.size()),
                        static_cast<int32_t>(FFields2.size()));
  std::string leftNames, rightNames;
  const auto append = [](std::string& List, const std::string& Name) {
    if (!List.empty()) List += ";";
    List += Name;
  };
  for (size_t i = 0; i < FFields1.size(); ++i) {
    const TVEXFieldLink& first = FFieldLinks[FFields1[i]];
    const TVEXFieldLink& second = FFieldLinks[FFields2[i]];
    if (first.AO == second.AO)
      throw EVEXException(10334,
                          "Both join fields are from the same table. Field1 = '%s', Field2 = "
                          "'%s', No1 = %d, No2 = %d.",
                          first.FieldName, second.FieldName, FFields1[i], FFields2[i]);
    if (first.AO == FRightAO.get()) std::swap(FFields1[i], FFields2[i]);
    const TVEXFieldLink& left = FFieldLinks[FFields1[i]];
    const TVEXFieldLink& right = FFieldLinks[FFields2[i]];
    append(leftNames, FLeftAO->FieldLink(left.FieldNo).FieldName);
    append(rightNames, FRightAO->FieldLink(right.FieldNo).FieldName);
  }
  if (!leftNames.empty()) FLeftAO->SetIndex(leftNames, "", "");
  if (!rightNames.empty()) FRightAO->SetIndex(rightNames, "", "");
}

void TVEXAOJoin::Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  if (FJoinCondition != nullptr) FJoinCondition->AssignAO(this, ParentQueryAO, ParentCursor);
  TVEXAO::Execute(IsRootAO, ParentQueryAO, ParentCursor);
}

void TVEXAOJoin::BeforeMaterialize() {
  if (FJoinType != ajtInner && FJoinType != ajtFullOuter) return;
  if (FRightAO->RecordCount() >= FLeftAO->RecordCount()) return;
  // The links keep pointing at the input objects, so only the roles change.
  std::swap(FLeftAO, FRightAO);
  std::swap(FFields1, FFields2);
}

void TVEXAOJoin::ApplyDistinctToInputs() {
  if (FJoinCondition != nullptr) return;
  for (TVEXAO* input : {FLeftAO.get(), FRightAO.get()}) {
    if (input == nullptr || input->IsAOTable()) continue;
    std::string names;
    for (const TVEXFieldLink& link : FFieldLinks) {
      if (link.IsHidden || link.AO != input) continue;
      if (!names.empty()) names += ";";
      names += input->FieldLink(link.FieldNo).FieldName;
    }
    if (!names.empty()) input->ApplyDistinct(names);
  }
}

// ---- comparing

TVEXCompareResult TVEXAOJoin::CompareJoinKeys() {
  FLeftAONull = FRightAONull = false;
  FCompareResult = cmprEqual;
  TVEXVariant left, right;
  for (size_t i = 0; i < FFields1.size(); ++i) {
    GetFieldValue(left, FFields1[i], false, false);
    GetFieldValue(right, FFields2[i], false, false);
    TVEXCompareResult result = cmprEqual;
    try {
      result = left.Compare(right, true, false, false);
    } catch (const EVEXException& e) {
      throw EVEXException(10328, "Cannot compare values for fields: %s, %s. Error: %s",
                          FFieldLinks[FFields1[i]].FieldName, FFieldLinks[FFields2[i]].FieldName,
                          std::string(e.what()));
    }
    if (result != cmprEqual) {
      FCompareResult = result;
      break;
    }
  }
  return FCompareResult;
}

bool TVEXAOJoin::JoinConditionHolds() {
  if (FJoinCondition == nullptr) return true;
  const bool leftNull = FLeftAONull, rightNull = FRightAONull;
  FLeftAONull = FRightAONull = false;
  struct Restore {
    TVEXAOJoin& J;
    bool L, R;
    ~Restore() {
      J.FLeftAONull = L;
      J.FRightAONull = R;
    }
  } restore{*this, leftNull, rightNull};
  return FJoinCondition->GetResult();
}

// ---- iteration

TVEXAO& TVEXAOJoin::Driving() const { return FJoinType == ajtRightOuter ? *FRightAO : *FLeftAO; }

TVEXAO& TVEXAOJoin::Scanned() const { return FJoinType == ajtRightOuter ? *FLeftAO : *FRightAO; }

bool TVEXAOJoin::ScanOver() const {
  if (Scanned().Eof()) return true;
  if (!FFieldsLink) return false;
  if (FJoinType == ajtRightOuter)
    return RightIsBelow(FCompareResult) || FCompareResult == cmprBothNull;
  return LeftIsBelow(FCompareResult);
}

bool TVEXAOJoin::ScannedBelow() const {
  if (FJoinType == ajtRightOuter)
    return FCompareResult == cmprLower || FCompareResult == cmprLeftNull;
  return RightIsBelow(FCompareResult);
}

void TVEXAOJoin::RewindScanned() {
  if (FRightBeginBookmark.empty())
    Scanned().First();
  else
    Scanned().ResultDataset()->GotoBookmark(FRightBeginBookmark);
}

void TVEXAOJoin::InternalFirst() {
  FLeftAO->First();
  FRightAO->First();
  switch (FJoinType) {
    case ajtCross:
      FEof = FLeftAO->Eof() || FRightAO->Eof();
      break;
    case ajtLeftOuter:
      FEof = FLeftAO->Eof();
      break;
    case ajtRightOuter:
      FEof = FRightAO->Eof();
      break;
    case ajtFullOuter:
      FEof = FLeftAO->Eof() && FRightAO->Eof();
      break;
    case ajtInner:
      FEof = false;
      break;
  }
  FRightBeginBookmark.clear();
  FLinkCount = 0;
  FNextStep = TFullStep::None;
  FPhase = TFullPhase::Merge;
  FRunMatched.clear();
  FRunPos = 0;
  FLeftMatched = false;
  if (FEof) return;
  FFirstTimeCalled = true;
  InternalNext();
  FFirstTimeCalled = false;
}

void TVEXAOJoin::InternalNext() {
  FLeftAONull = FRightAONull = false;
  if (FEof) return;
  switch (FJoinType) {
    case ajtCross:
      NextCross();
      break;
    case ajtFullOuter:
      NextFullOuter();
      break;
    default:
      NextNestedLoop();
      break;
  }
}

bool TVEXAOJoin::InternalEof() { return FEof || (FLeftAO->Eof() && FRightAO->Eof()); }

int64_t TVEXAOJoin::InternalRecordCount() {
  if (FIsMaterialized) return TVEXAO::InternalRecordCount();
  if (FDekart) return FLeftAO->RecordCount() * FRightAO->RecordCount();
  return 0;
}

void TVEXAOJoin::NextCross() {
  if (FFirstTimeCalled) return;
  FRightAO->Next();
  if (!FRightAO->Eof()) return;
  FLeftAO->Next();
  if (!FLeftAO->Eof()) FRightAO->First();
}

void TVEXAOJoin::NextNestedLoop() {
  TVEXAO& driving = Driving();
  TVEXAO& scanned = Scanned();
  for (;;) {
    if (!FFirstTimeCalled) {
      if (ScanOver()) {
        driving.Next();
        FLinkCount = 0;
        if (driving.Eof()) {
          FEof = true;
          return;
        }
        RewindScanned();
      } else {
        scanned.Next();
      }
    }
    FFirstTimeCalled = false;
    if (driving.Eof()) {
      FEof = true;
      return;
    }
    if (FFieldsLink && !scanned.Eof()) CompareJoinKeys();
    if (ScanOver()) {
      if (FLinkCount > 0 || FInnerJoin) continue;
      // A driving row without partner stands alone.
      if (FJoinType == ajtRightOuter)
        FLeftAONull = true;
      else
        FRightAONull = true;
      return;
    }
    if ((!FFieldsLink || FCompareResult == cmprEqual) && JoinConditionHolds()) {
      ++FLinkCount;
      return;
    }
    // A scanned row below the driving key matches no later driving row
    // either: the next scan starts at the last such row. (Not at the first
    // partner: a row of the same key before it may fail the join condition
    // for this driving row and pass it for the next.)
    if (FFieldsLink && ScannedBelow()) FRightBeginBookmark = scanned.ResultDataset()->GetBookmark();
  }
}

void TVEXAOJoin::NextFullOuter() {
  switch (std::exchange(FNextStep, TFullStep::None)) {
    case TFullStep::None:
      break;
    case TFullStep::Left:
      FLeftAO->Next();
      break;
    case TFullStep::Right:
      FRightAO->Next();
      break;
    case TFullStep::RunRight:
    case TFullStep::RestRight:
      FRightAO->Next();
      ++FRunPos;
      break;
    case TFullStep::RunLeft:
      NextLeftOfRun();
      break;
  }
  for (;;) {
    bool done = false;
    switch (FPhase) {
      case TFullPhase::Merge:
        done = MergeStep();
        break;
      case TFullPhase::Run:
        done = RunStep();
        break;
      case TFullPhase::Rest:
        done = RestStep();
        break;
    }
    if (done) return;
  }
}

bool TVEXAOJoin::MergeStep() {
  TVEXAO& left = *FLeftAO;
  TVEXAO& right = *FRightAO;
  if (left.Eof() && right.Eof()) {
    FEof = true;
    return true;
  }
  if (left.Eof() || right.Eof()) {
    FLeftAONull = left.Eof();
    FRightAONull = right.Eof();
    FNextStep = left.Eof() ? TFullStep::Right : TFullStep::Left;
    return true;
  }
  const TVEXCompareResult result = CompareJoinKeys();
  if (LeftIsBelow(result)) {
    FRightAONull = true;
    FNextStep = TFullStep::Left;
    return true;
  }
  if (RightIsBelow(result)) {
    FLeftAONull = true;
    FNextStep = TFullStep::Right;
    return true;
  }
  // Equal keys: a run starts at this right row.
  FRightBeginBookmark = right.ResultDataset()->GetBookmark();
  FRunMatched.clear();
  FRunPos = 0;
  FLeftMatched = false;
  FPhase = TFullPhase::Run;
  return false;
}

bool TVEXAOJoin::RunStep() {
  TVEXAO& right = *FRightAO;
  if (!right.Eof() && CompareJoinKeys() == cmprEqual) {
    if (FRunMatched.size() <= FRunPos) FRunMatched.push_back(false);
    if (JoinConditionHolds()) {
      FRunMatched[FRunPos] = true;
      FLeftMatched = true;
      FNextStep = TFullStep::RunRight;
      return true;
    }
    right.Next();
    ++FRunPos;
    return false;
  }
  // Every right row of the run has met this left row.
  if (!FLeftMatched) {
    FLeftAONull = false;
    FRightAONull = true;
    FNextStep = TFullStep::RunLeft;
    return true;
  }
  return NextLeftOfRun();
}

bool TVEXAOJoin::NextLeftOfRun() {
  FLeftAO->Next();
  FLeftMatched = false;
  FRightAO->ResultDataset()->GotoBookmark(FRightBeginBookmark);
  FRunPos = 0;
  // The next left row belongs to the run when it meets the run's first right
  // row; otherwise the run's right rows without partner come next.
  FPhase = FLeftAO->Eof() || CompareJoinKeys() != cmprEqual ? TFullPhase::Rest : TFullPhase::Run;
  return false;
}

bool TVEXAOJoin::RestStep() {
  TVEXAO& right = *FRightAO;
  while (FRunPos < FRunMatched.size() && FRunMatched[FRunPos]) {
    right.Next();
    ++FRunPos;
  }
  if (FRunPos < FRunMatched.size()) {
    FLeftAONull = true;
    FRightAONull = false;
    FNextStep = TFullStep::RestRight;
    return true;
  }
  FPhase = TFullPhase::Merge;
  return false;
}

}  // namespace vex
