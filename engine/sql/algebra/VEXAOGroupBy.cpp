// The grouping operator (see VEXAOGroupBy.h).
#include "sql/algebra/VEXAOGroupBy.h"

#include <algorithm>
#include <exception>
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

}  // namespace

TVEXAOGroupBy::TVEXAOGroupBy(std::unique_ptr<TVEXAO> Child, const TVEXFields* FieldList,
                             std::vector<TVEXSelectListItem>& FieldRefs) {
  InitAO(std::move(Child), nullptr, "", "");
  FAllFields = FieldList == nullptr || FieldList->Items.empty();
  FIsMaterialized = false;
  FIsAOGroupBy = true;
  TVEXAO& child = *FLeftAO;
  for (int32_t i = 0; i < child.FieldCount(); ++i) {
    TVEXFieldLink link = LinkToInput(child, i);
    link.IsHidden = true;
    AddFieldLink(std::move(link));
  }
  if (FAllFields) return;
  for (size_t i = 0; i < FieldList->Items.size(); ++i) {
    const TVEXSelectListItem& item = FieldList->Items[i];
    int32_t found = FieldExists(item.FieldName, item.TableName, true, &FFields, false, false);
    if (found == 0) {
      for (const TVEXSelectListItem& selected : FieldRefs) {
        if (!SameName(selected.Pseudonym, item.FieldName)) continue;
        const bool usable = !selected.IsExpression ||
                            (selected.ValueExpr != nullptr && !selected.ValueExpr->IsAggregated());
        if (usable && !selected.FieldName.empty())
          found = FieldExists(selected.FieldName, selected.TableName, true, &FFields, false, false);
        break;
      }
    }
    if (found == 0)
      throw EVEXException(20245,
                          "Invalid field for 'GROUP BY.' Table name = '%s', FieldName = '%s', i "
                          "= %d, FieldExists = %d",
                          item.TableName, item.FieldName, static_cast<int32_t>(i), found);
    if (!FGroupByFields.empty()) FGroupByFields += ";";
    FGroupByFields += FFieldLinks[FFields.back()].FieldName;
  }
  FLeftAO->SetIndex(FGroupByFields, "", "");
}

TVEXAOGroupBy::~TVEXAOGroupBy() { FTempDataset.reset(); }

void TVEXAOGroupBy::SetResultFields(std::vector<TVEXSelectListItem>& FieldRefs, bool) {
  TVEXAO::SetResultFields(FieldRefs, false);
  if (FieldRefs.empty()) return;
  for (int32_t no : FResultFieldsOrder) {
    const TVEXFieldLink& link = FFieldLinks[no];
    if (link.IsExpression && !link.Expr->CanBeUsedInGroupBy(FGroupByFields))
      throw EVEXException(20269,
                          "Expression (Name=\"%s\", DisplayName=\"%s\") cannot be used with GROUP "
                          "BY. Possibly expression is not aggregate, but it uses fields not "
                          "included into group fields",
                          link.FieldName, link.DisplayName);
  }
  for (const TVEXSelectListItem& item : FieldRefs) {
    if (item.IsExpression) continue;
    const std::string name = item.AllFields ? std::string("*") : item.FieldName;
    std::vector<int32_t> numbers;
    if (FieldExists(name, item.TableName, false, &numbers, false, false) == 0)
      throw EVEXException(10341, "Cannot find field %s in table %s", name, item.TableName);
    for (int32_t no : numbers)
      if (std::find(FFields.begin(), FFields.end(), no) == FFields.end())
        throw EVEXException(10342,
                            "Field is not included in GROUP BY list. Table name = '%s', Field "
                            "name = '%s', FieldNo = %d, Found field name = '%s'",
                            item.TableName, name, no, FFieldLinks[no].FieldName);
  }
}

int64_t TVEXAOGroupBy::InternalRecordCount() { return FLeftAO->RecordCount(); }

void TVEXAOGroupBy::OpenSecondCursor() {
  // A set operation runs its inputs before it runs itself, so a grouping
  // below one executes again after its input is gone.
  if (FAllFields || FTempDataset != nullptr || FIsMaterialized) return;
  TVEXAODataset& input = *FLeftAO->ResultDataset();
  std::unique_ptr<TVEXAODataset> second = input.NewSibling();
  second->SetTableName(input.TableName());
  second->SetInMemory(input.InMemory());
  second->SetTemporary(input.Temporary());
  second->SetReadOnly(true);
  try {
    second->Open();
  } catch (const std::exception&) {
    throw EVEXException(10304, "Cannot open table %s, InMemory = %d", input.TableName(),
                        static_cast<int32_t>(input.InMemory()));
  }
  if (FLeftAO->DistinctApplied())
    second->ApplyDistinctFrom(input);
  else
    second->SetIndexName(input.IndexName());
  FTempDataset = std::move(second);
}

void TVEXAOGroupBy::FreeSecondCursor() { FTempDataset.reset(); }

void TVEXAOGroupBy::InitAggregates() {
  if (FFilterExpr != nullptr) FFilterExpr->Init();
  for (TVEXFieldLink& link : FFieldLinks)
    if (link.IsExpression && link.IsAggregate) link.Expr->Init();
}

void TVEXAOGroupBy::AccumulateAggregates() {
  if (FFilterExpr != nullptr) FFilterExpr->Accumulate();
  for (TVEXFieldLink& link : FFieldLinks)
    if (link.IsExpression && link.IsAggregate) link.Expr->Accumulate();
}

void TVEXAOGroupBy::AdvanceInput() {
  TVEXAODataset* input = FLeftAO->ResultDataset();
  if (FLeftAO->IsAOTable() && FLeftAO->FilterExpr() != nullptr && input->Handle() != nullptr)
    FLeftAO->FilterExpr()->AssignCursor(input->Handle(), nullptr, nullptr);
  FLeftAO->Next();
}

void TVEXAOGroupBy::AdvanceSecond() {
  if (FLeftAO->IsAOTable() && FLeftAO->FilterExpr() != nullptr && FTempDataset->Handle() != nullptr)
    FLeftAO->FilterExpr()->AssignCursor(FTempDataset->Handle(), nullptr, nullptr);
  FTempDataset->Next();
}

bool TVEXAOGroupBy::GroupKeysEqual() {
  TVEXVariant a, b;
  for (int32_t no : FFields) {
    const int32_t inputNo = FFieldLinks[no].FieldNo;
    TVEXAODataset* dataset = nullptr;
    int32_t datasetNo = -1;
    FLeftAO->GetFieldValue(a, inputNo, true, true);
    b.SetNull();
    if (FLeftAO->GetFieldDatsetAndFieldNo(inputNo, dataset, datasetNo))
      FTempDataset->GetFieldValue(b, datasetNo, true);
    try {
      if (a.Compare(b, false, false, false) != cmprEqual) return false;
    } catch (const EVEXException& e) {
      throw EVEXException(10340, "Cannot compare values for fields: %s, %s. Error: %s",
                          FFieldLinks[no].FieldName, FFieldLinks[no].FieldName,
                          std::string(e.what()));
    }
  }
  return true;
}

void TVEXAOGroupBy::ScanGroup() {
  bool equal = true;
  do {
    equal = GroupKeysEqual();
    AccumulateAggregates();
    if (equal) {
      AdvanceInput();
      AdvanceSecond();
    }
  } while (equal && !FLeftAO->Eof());
}

void TVEXAOGroupBy::InternalFirst() {
  FEOF = false;
  FLeftAO->First();
  if (!FAllFields) {
    if (FLeftAO->IsAOTable() && FLeftAO->FilterExpr() != nullptr)
      FTempDataset->SetSQLFilter(FLeftAO->FilterExpr(), nullptr, nullptr);
    FTempDataset->First();
    FEOF = FTempDataset->Eof();
  }
  FFirstTimeCalled = true;
  InternalNext();
}

void TVEXAOGroupBy::InternalNext() {
  if (FAllFields) {
    if (!FFirstTimeCalled) {
      FEOF = true;
      return;
    }
    FFirstTimeCalled = false;
    std::vector<TVEXFieldLink*> aggregates;
    bool allCountAll = true;
    for (TVEXFieldLink& link : FFieldLinks)
      if (link.IsExpression && link.IsAggregate) {
        aggregates.push_back(&link);
        if (!link.Expr->IsAggregatedCountAll()) allCountAll = false;
      }
    // Counting the input's rows answers COUNT(*) alone; the aggregates of a
    // HAVING need the scan.
    if (!aggregates.empty() && allCountAll && FFilterExpr == nullptr) {
      const auto count = static_cast<int32_t>(FLeftAO->RecordCount());
      for (TVEXFieldLink* link : aggregates) link->Expr->SetCountAll(count);
      return;
    }
    InitAggregates();
    while (!FLeftAO->Eof()) {
      AccumulateAggregates();
      FLeftAO->Next();
    }
    FLeftAO->First();
    return;
  }
  if (FFirstTimeCalled) {
    FFirstTimeCalled = false;
    InitAggregates();
    if (FLeftAO->Eof()) return;
    AdvanceSecond();
    if (FTempDataset->Eof())
      AccumulateAggregates();
    else
      ScanGroup();
    return;
  }
  AdvanceInput();
  AdvanceSecond();
  InitAggregates();
  if (FLeftAO->Eof()) {
    FEOF = true;
    return;
  }
  ScanGroup();
}

}  // namespace vex
