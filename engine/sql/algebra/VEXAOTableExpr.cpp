// The table-expression and top-row operators (see VEXAOTableExpr.h).
#include "sql/algebra/VEXAOTableExpr.h"

#include <utility>

#include "rtl/CodePage.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/algebra/VEXAOTable.h"

namespace vex {

namespace {

// The row limit that lets an input deliver every row up to the end of the
// range FirstRowNo .. FirstRowNo + TopRowCount - 1; the input itself starts
// at its first row, so the rows before the range are skipped only once.
int64_t LimitCoveringRange(int64_t FirstRowNo, int64_t TopRowCount) {
  const int64_t first = FirstRowNo < 1 ? 1 : FirstRowNo;
  return first - 1 + TopRowCount;
}

}  // namespace

TVEXAOTableExpr::TVEXAOTableExpr(std::unique_ptr<TVEXAO> Child) {
  InitAO(std::move(Child), nullptr, "", "");
  FIsMaterialized = false;
  AddLinksFromLeftInput();
}

void TVEXAOTableExpr::InternalFirst() { FLeftAO->First(); }
void TVEXAOTableExpr::InternalNext() { FLeftAO->Next(); }
bool TVEXAOTableExpr::InternalEof() { return FLeftAO->Eof(); }
int64_t TVEXAOTableExpr::InternalRecordCount() { return FLeftAO->RecordCount(); }

void TVEXAOTableExpr::SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) {
  TVEXAO::SetTopRowCount(FirstRowNo, TopRowCount);
  if (FTopRowCount >= 0) FLeftAO->SetTopRowCount(-1, LimitCoveringRange(FFirstRowNo, FTopRowCount));
}

void TVEXAOTableExpr::Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  auto* table = dynamic_cast<TVEXAOTable*>(FLeftAO.get());
  std::unique_ptr<rtl::TStringList> names, ascDesc, caseIns;
  if (table != nullptr && table->TransferIndexToParentIfNeeded(names, ascDesc, caseIns)) {
    FResultIndexFieldsList = std::move(names);
    FResultIndexAscDescFieldsList = std::move(ascDesc);
    FResultIndexCaseInsFieldsList = std::move(caseIns);
    TVEXAO& child = *FLeftAO;
    for (int32_t i = 0; i < FResultIndexFieldsList->Count(); ++i) {
      std::string column = (*FResultIndexFieldsList)[i];
      int32_t no = -1;
      if (FindFieldInFieldLinks(column, no)) continue;
      for (int32_t k = 0; k < child.FieldCount(); ++k) {
        const TVEXFieldLink& link = child.FieldLink(k);
        if (rtl::UpperCase(link.FieldName) == column && !link.DisplayName.empty()) {
          column = rtl::UpperCase(link.DisplayName);
          FResultIndexFieldsList->SetStrings(i, column);
          break;
        }
      }
      if (FindFieldInFieldLinks(column, no)) continue;
      if (child.FindFieldInFieldLinks(column, no)) {
        AddFieldLinkFromChild(no, false);
        // The result table must hold the column to sort by; only the
        // visible order decides what is shown.
        FFieldLinks.back().IsHidden = false;
      }
    }
  }
  TVEXAO::Execute(IsRootAO, ParentQueryAO, ParentCursor);
}

TVEXAOSQLTopRowCount::TVEXAOSQLTopRowCount(std::unique_ptr<TVEXAO> Child) {
  InitAO(std::move(Child), nullptr, "", "");
  FIsMaterialized = false;
  AddLinksFromLeftInput();
}

void TVEXAOSQLTopRowCount::InternalFirst() { FLeftAO->First(); }
void TVEXAOSQLTopRowCount::InternalNext() { FLeftAO->Next(); }
bool TVEXAOSQLTopRowCount::InternalEof() { return FLeftAO->Eof(); }
int64_t TVEXAOSQLTopRowCount::InternalRecordCount() { return FLeftAO->RecordCount(); }

void TVEXAOSQLTopRowCount::SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) {
  TVEXAO::SetTopRowCount(FirstRowNo, TopRowCount);
  if (TopRowCount >= 0) FLeftAO->SetTopRowCount(-1, LimitCoveringRange(FirstRowNo, TopRowCount));
}

}  // namespace vex
