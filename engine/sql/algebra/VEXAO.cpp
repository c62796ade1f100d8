// The relational operator base: links, name resolution, select lists,
// values, ordering index description and table locks. The fill loop is in
// VEXAOFill.cpp.
#include <algorithm>
#include <utility>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "os/Clock.h"
#include "rtl/CodePage.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/expression/VEXExpression.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

namespace {

bool SameName(const std::string& A, const std::string& B) {
  return rtl::UpperCase(A) == rtl::UpperCase(B);
}

void CopyStrings(const rtl::TStringList& From, rtl::TStringList& To) {
  for (int32_t i = 0; i < From.Count(); ++i) To.Add(From[i]);
}

bool Contains(const std::vector<int32_t>& List, int32_t Value) {
  return std::find(List.begin(), List.end(), Value) != List.end();
}

}  // namespace

TVEXAO::TVEXAO() : FValue(bftUnknown) {}

TVEXAO::~TVEXAO() {
  try {
    if (FIsAOTable && FResultDataset != nullptr && FResultDataset->Active())
      for (; FLockCount > 0; --FLockCount) FResultDataset->Handle()->UnlockTable(ltS, true);
  } catch (...) {
    // The statement is going away; a lock we cannot give back goes with the cursor.
  }
  for (TVEXFieldLink& link : FFieldLinks) {
    if (link.IsExpression) delete link.Expr;
    link.Expr = nullptr;
  }
  if (FResultDataset != nullptr) {
    FResultDataset->Close();
    if (FOwnsTemporaryResult) {
      try {
        FResultDataset->DeleteTable();
      } catch (...) {
        // A temporary table left behind goes with its database at the end.
      }
    }
    FResultDataset.reset();
  }
  FRightAO.reset();
  FLeftAO.reset();
}

void TVEXAO::InitAO(std::unique_ptr<TVEXAO> Left, std::unique_ptr<TVEXAO> Right,
                    const std::string& TableName, const std::string& TableAlias) {
  TVEXAODataset* model = nullptr;
  if (Right != nullptr && Right->ResultDataset() != nullptr)
    model = Right->ResultDataset();
  else if (Left != nullptr && Left->ResultDataset() != nullptr)
    model = Left->ResultDataset();
  FResultDataset = model != nullptr ? model->NewSibling() : nullptr;
  FIsRootAO = FIsAOTable = FIsAOGroupBy = FHasSetResultFields = FExpressionsExists = false;
  FResultInMemory = FResultImmediate = FIsLocked = FLeftAONull = FRightAONull = false;
  FLockCount = 0;
  FDistinctApplied = false;
  FDistinctFields.clear();
  FDistinctFieldCount = 0;
  FFilterExpr.reset();
  FreeIndexSpecLists();
  FResultTableName.clear();
  FResultDatabaseName.clear();
  FFieldCount = 0;
  FTableName = TableName;
  FTableAlias = TableAlias;
  FLeftAO = std::move(Left);
  FRightAO = std::move(Right);
  FResultFieldsOrder.clear();
  FIsMaterialized = true;
  FTopRowCount = -1;
  FFirstRowNo = -1;
  FDisableTempFiles = (FLeftAO != nullptr && FLeftAO->DisableTempFiles()) ||
                      (FRightAO != nullptr && FRightAO->DisableTempFiles());
  FValue.SetNull(bftUnknown);
}

int32_t TVEXAO::AddFieldLink(TVEXFieldLink Link) {
  FFieldLinks.push_back(std::move(Link));
  FFieldCount = static_cast<int32_t>(FFieldLinks.size());
  return FFieldCount - 1;
}

void TVEXAO::AddFieldLinkFromChild(int32_t FieldNo, bool SkipHidden) {
  TVEXAO& child = *FLeftAO;
  const TVEXFieldLink& from = child.FFieldLinks[FieldNo];
  if (SkipHidden && child.FHasSetResultFields && from.IsHidden) return;
  TVEXFieldLink link = LinkToInput(child, FieldNo);
  if (child.FHasSetResultFields && !from.DisplayName.empty()) link.FieldName = from.DisplayName;
  AddFieldLink(std::move(link));
}

TVEXFieldLink TVEXAO::LinkToInput(TVEXAO& Input, int32_t FieldNo) {
  const TVEXFieldLink& from = Input.FFieldLinks[FieldNo];
  TVEXFieldLink link;
  link.AO = &Input;
  link.FieldNo = FieldNo;
  link.IsHidden = from.IsHidden;
  link.FieldName = from.FieldName;
  link.FieldType = from.FieldType;
  link.FieldSize = from.FieldSize;
  link.FieldPrecision = from.FieldPrecision;
  link.BLOBCompressionAlgorithm = from.BLOBCompressionAlgorithm;
  link.BLOBCompressionMode = from.BLOBCompressionMode;
  link.BLOBBlockSize = from.BLOBBlockSize;
  return link;
}

void TVEXAO::AddLinksFromLeftInput() {
  TVEXAO& child = *FLeftAO;
  if (child.FHasSetResultFields)
    for (int32_t no : child.FResultFieldsOrder) AddFieldLinkFromChild(no, true);
  else
    for (int32_t i = 0; i < child.FFieldCount; ++i) AddFieldLinkFromChild(i, true);
}

// ---- iteration

int64_t TVEXAO::InternalRecordCount() {
  return FIsMaterialized && FResultDataset != nullptr ? FResultDataset->RecordCount() : 0;
}

void TVEXAO::First() {
  if (FIsMaterialized)
    FResultDataset->First();
  else
    InternalFirst();
}

void TVEXAO::Next() {
  if (FIsMaterialized)
    FResultDataset->Next();
  else
    InternalNext();
}

bool TVEXAO::GetEof() { return FIsMaterialized ? FResultDataset->Eof() : InternalEof(); }

int64_t TVEXAO::GetRecordCount() {
  return FIsMaterialized ? FResultDataset->RecordCount() : InternalRecordCount();
}

// ---- names

void TVEXAO::CheckFieldNo(int32_t FieldNo, int32_t Code) const {
  if (FieldNo < 0 || FieldNo >= FFieldCount)
    throw EVEXException(Code, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        FFieldCount);
}

bool TVEXAO::FindFieldInFieldLinks(const std::string& FieldName, int32_t& FieldNo) const {
  for (int32_t i = 0; i < FFieldCount; ++i) {
    const TVEXFieldLink& link = FFieldLinks[i];
    if (SameName(link.FieldName, FieldName) || SameName(link.DisplayName, FieldName)) {
      FieldNo = i;
      return true;
    }
  }
  return false;
}

std::string TVEXAO::GetFieldName(int32_t FieldNo, bool ApplyOrderBy) {
  CheckFieldNo(FieldNo, 10306);
  const TVEXFieldLink& link = FFieldLinks[FieldNo];
  if (link.Dataset != nullptr)
    return link.Dataset == FResultDataset.get()
               ? link.FieldName
               : link.Dataset->FieldName(link.FieldNo, DirectAccess());
  if (ApplyOrderBy || link.IsExpression || link.AO == nullptr || link.AO == this)
    return link.FieldName;
  return link.AO->GetFieldName(link.FieldNo, false);
}

std::string TVEXAO::GetFieldNameByColumnName(const std::string& ColumnName) const {
  int32_t no = -1;
  return FindFieldInFieldLinks(ColumnName, no) ? FFieldLinks[no].FieldName : std::string();
}

std::string TVEXAO::GetFieldNameByColumnNo(int32_t ColumnNo) {
  CheckFieldNo(ColumnNo, 10306);
  return FFieldLinks[ColumnNo].FieldName;
}

std::string TVEXAO::GetFieldNameByVisibleNumber(int32_t VisibleFieldNo) const {
  if (VisibleFieldNo < 0 || VisibleFieldNo >= static_cast<int32_t>(FResultFieldsOrder.size()))
    throw EVEXException(20243, "Invalid field number in ORDER BY clause: %d", VisibleFieldNo + 1);
  return FFieldLinks[FResultFieldsOrder[VisibleFieldNo]].DisplayName;
}

int32_t TVEXAO::GetFieldNoByVisibleNumber(int32_t VisibleFieldNo) const {
  if (FResultFieldsOrder.empty()) return VisibleFieldNo;
  if (VisibleFieldNo < 0 || VisibleFieldNo >= static_cast<int32_t>(FResultFieldsOrder.size()))
    throw EVEXException(20243, "Invalid field number in ORDER BY clause: %d", VisibleFieldNo + 1);
  return FResultFieldsOrder[VisibleFieldNo];
}

void TVEXAO::MakeFieldNamesUnique() {
  for (int32_t i = 0; i < FFieldCount; ++i) {
    std::string name = GetFieldName(i, false);
    FFieldLinks[i].FieldName = name.empty() ? MakeUniqueName("Expr") : name;
  }
  const auto makeUnique = [this](int32_t i) {
    const auto taken = [this, i](const std::string& name) {
      for (int32_t k = 0; k < i; ++k)
        if (SameName(FFieldLinks[k].FieldName, name)) return true;
      return false;
    };
    std::string& name = FFieldLinks[i].FieldName;
    int32_t counter = 1;
    // X becomes X_1, then X_12, then X_123: names stay unique among the
    // earlier links however many inputs share a column name.
    while (taken(name)) {
      name += (counter == 1 ? "_" : "") + std::to_string(counter);
      ++counter;
    }
  };
  // Hidden links first, so that the visible ones (which carry the names a
  // user wrote) are renamed against them and keep readable suffixes.
  for (int32_t i = 0; i < FFieldCount; ++i)
    if (FFieldLinks[i].IsHidden) makeUnique(i);
  for (int32_t i = 1; i < FFieldCount; ++i) makeUnique(i);
}

// ---- name resolution

int32_t TVEXAO::FieldExists(const std::string& FieldName, const std::string& TableName, bool Unhide,
                            std::vector<int32_t>* FieldNumbers, bool UnhideChildrenOnly,
                            bool ScanOnlyVisibleFields) {
  if (FIsAOTable && !TableName.empty() && !SameName(TableName, FTableName) &&
      !SameName(TableName, FTableAlias))
    return 0;
  // Without a list of the caller's, matches are still collected, so that the
  // count is the same either way.
  std::vector<int32_t> ownList;
  std::vector<int32_t>& numbers = FieldNumbers != nullptr ? *FieldNumbers : ownList;
  const bool unhideOwn = Unhide && !UnhideChildrenOnly;
  int32_t count = 0;
  const auto take = [&](int32_t i, bool makeVisible) {
    numbers.push_back(i);
    ++count;
    if (makeVisible) FFieldLinks[i].IsHidden = false;
  };

  if (FieldName != "*") {
    for (TVEXAO* input : {FLeftAO.get(), FRightAO.get()}) {
      if (input == nullptr) continue;
      std::vector<int32_t> matches;
      input->FieldExists(FieldName, TableName, Unhide, &matches, false, false);
      for (int32_t m : matches)
        for (int32_t i = 0; i < FFieldCount; ++i) {
          const TVEXFieldLink& link = FFieldLinks[i];
          if (link.AO == input && link.FieldNo == m && (!ScanOnlyVisibleFields || !link.IsHidden))
            take(i, unhideOwn);
        }
    }
    const bool tableMatches =
        TableName.empty() || SameName(TableName, FTableName) || SameName(TableName, FTableAlias);
    if (tableMatches)
      for (int32_t i = 0; i < FFieldCount; ++i) {
        TVEXFieldLink& link = FFieldLinks[i];
        if (!SameName(link.FieldName, FieldName) && !SameName(link.DisplayName, FieldName))
          continue;
        if (ScanOnlyVisibleFields && link.IsHidden) continue;
        if (!Contains(numbers, i))
          take(i, unhideOwn);
        else if (unhideOwn)
          link.IsHidden = false;
        break;
      }
    return count;
  }

  const bool unhideStar = unhideOwn && !FIsAOGroupBy;
  std::vector<int32_t> leftMatches;
  if (FLeftAO != nullptr) FLeftAO->FieldExists("*", TableName, Unhide, &leftMatches, false, false);
  // A set operation's columns read its inputs' tables directly: they are
  // its own, as a table's columns are.
  const bool ownTableMatches =
      TableName.empty() || SameName(TableName, FTableName) || SameName(TableName, FTableAlias);
  for (int32_t i = 0; i < FFieldCount; ++i) {
    const TVEXFieldLink& link = FFieldLinks[i];
    const bool readsTable = link.AO == nullptr && link.Dataset != nullptr && !link.IsExpression;
    const bool match =
        FIsAOTable || (link.IsExpression && SameName(TableName, FTableName)) ||
        (readsTable && ownTableMatches) ||
        (FLeftAO != nullptr && link.AO == FLeftAO.get() && Contains(leftMatches, link.FieldNo));
    if (match) take(i, unhideStar);
  }
  if (FRightAO != nullptr) {
    std::vector<int32_t> rightMatches;
    FRightAO->FieldExists("*", TableName, Unhide, &rightMatches, false, false);
    for (int32_t i = 0; i < FFieldCount; ++i) {
      const TVEXFieldLink& link = FFieldLinks[i];
      if (link.AO == FRightAO.get() && Contains(rightMatches, link.FieldNo)) take(i, unhideOwn);
    }
  }
  return count;
}

// ---- select list

void TVEXAO::SetResultFields(std::vector<TVEXSelectListItem>& FieldRefs, bool bDistinct) {
  if (FieldRefs.empty()) {
    FieldExists("*", "", true, &FResultFieldsOrder, false, false);
  } else {
    for (TVEXSelectListItem& item : FieldRefs) {
      if (item.IsExpression) {
        if (item.ValueExpr == nullptr) continue;
        const bool aggregated = item.ValueExpr->IsAggregated();
        if (aggregated && !FIsAOGroupBy) continue;
        std::unique_ptr<TVEXExpression> expr(item.ValueExpr);
        item.ValueExpr = nullptr;
        expr->AssignAO(this, nullptr, nullptr);
        TVEXFieldLink link;
        link.FieldName = item.Pseudonym.empty() ? MakeUniqueName("Expr") : item.Pseudonym;
        link.DisplayName = link.FieldName;
        link.FieldType = expr->GetDataType();
        link.FieldSize = expr->GetDataSize();
        // An empty text literal (null) or a decoded BLOB declares a text of
        // no size, which no result table can hold: it gets the smallest one.
        if ((IsStringAdvancedFieldType(link.FieldType) ||
             IsBytesAdvancedFieldType(link.FieldType)) &&
            link.FieldSize <= 0)
          link.FieldSize = 1;
        link.FieldPrecision = expr->GetPrecision();
        link.AO = this;
        link.IsExpression = true;
        link.IsAggregate = aggregated;
        link.Expr = expr.release();
        const std::string name = link.FieldName;
        FResultFieldsOrder.push_back(AddFieldLink(std::move(link)));
        FExpressionsExists = true;
        if (!FIsAOGroupBy) {
          item.IsExpression = false;
          item.FieldName = name;
        }
        continue;
      }
      const std::string name = item.AllFields ? std::string("*") : item.FieldName;
      if (name.empty()) continue;
      const size_t before = FResultFieldsOrder.size();
      if (FieldExists(name, item.TableName, true, &FResultFieldsOrder, false, false) == 0)
        throw EVEXException(10305, "Cannot find field %s", name);
      if (name == "*") continue;
      FResultFieldsOrder.resize(before + 1);
      FFieldLinks[FResultFieldsOrder[before]].DisplayName =
          item.Pseudonym.empty() ? item.FieldName : item.Pseudonym;
    }
  }
  std::string distinct;
  for (int32_t no : FResultFieldsOrder) {
    TVEXFieldLink& link = FFieldLinks[no];
    if (link.DisplayName.empty()) link.DisplayName = link.FieldName;
    if (!distinct.empty()) distinct += ";";
    distinct += link.FieldName;
  }
  if (bDistinct) ApplyDistinct(distinct);
  FHasSetResultFields = true;
}

void TVEXAO::ApplyDistinct(const std::string& DistinctFields) {
  std::vector<std::string> names;
  SplitFieldNames(names, DistinctFields);
  FDistinctApplied = !names.empty();
  FDistinctFields = DistinctFields;
  FDistinctFieldCount = static_cast<int32_t>(names.size());
  FDistinctFieldsMap.assign(names.size(), 0);
  for (size_t k = 0; k < names.size(); ++k)
    for (int32_t i = 0; i < FFieldCount; ++i)
      if (SameName(FFieldLinks[i].FieldName, names[k])) {
        FDistinctFieldsMap[k] = i;
        break;
      }
  if (FDistinctApplied && FFilterExpr == nullptr) ApplyDistinctToInputs();
}

void TVEXAO::SetFilter(std::unique_ptr<TVEXExpression> FilterExpr) {
  if (FilterExpr == nullptr) return;
  if (FFilterExpr == nullptr)
    FFilterExpr = std::move(FilterExpr);
  else
    FFilterExpr->AddAndMoveNodesFromExpression(*FilterExpr);
}

void TVEXAO::SetResultTable(bool InMemory, bool Immediate, const std::string& TableName,
                            const std::string& DatabaseName) {
  FResultInMemory = InMemory;
  FResultImmediate = Immediate;
  FResultTableName = TableName;
  FResultDatabaseName = DatabaseName;
}

void TVEXAO::SetTopRowCount(int64_t FirstRowNo, int64_t TopRowCount) {
  if (FDistinctApplied || HasIndexSpec()) return;
  FTopRowCount = TopRowCount;
  FFirstRowNo = FirstRowNo < 0 ? 1 : FirstRowNo;
}

// ---- ordering

void TVEXAO::CreateIndexSpecLists() {
  FResultIndexFieldsList = std::make_unique<rtl::TStringList>();
  FResultIndexAscDescFieldsList = std::make_unique<rtl::TStringList>();
  FResultIndexCaseInsFieldsList = std::make_unique<rtl::TStringList>();
}

void TVEXAO::FreeIndexSpecLists() {
  FResultIndexFieldsList.reset();
  FResultIndexAscDescFieldsList.reset();
  FResultIndexCaseInsFieldsList.reset();
}

void TVEXAO::SetIndex(const std::string& IndexFieldNames, const std::string& DescFields,
                      const std::string& CaseInsensitiveFields) {
  CreateIndexSpecLists();
  IndexSpecToLists(IndexFieldNames, DescFields, CaseInsensitiveFields, *FResultIndexFieldsList,
                   *FResultIndexAscDescFieldsList, *FResultIndexCaseInsFieldsList);
  if (FDistinctApplied) ApplyDistinct(FDistinctFields);
}

void TVEXAO::ApplyResultIndex(bool FreeSpec) {
  if (FResultDataset == nullptr) RaiseNilPointer(10308);
  struct FreeLists {
    TVEXAO* Self;
    bool Free;
    ~FreeLists() {
      if (Free) Self->FreeIndexSpecLists();
    }
  } freeLists{this, FreeSpec};
  if (HasIndexSpec() && FResultDataset->IndexName().empty()) {
    bool created = false;
    rtl::TStringList names;
    CopyStrings(*FResultIndexFieldsList, names);
    const std::string name = FResultDataset->FindOrCreateIndex(
        names, *FResultIndexAscDescFieldsList, *FResultIndexCaseInsFieldsList, created);
    FResultDataset->SetIndexName(name);
  }
}

void TVEXAO::ApplyDistinctToResult() {
  rtl::TStringList names, ascDesc, caseIns;
  if (FResultIndexFieldsList != nullptr) {
    CopyStrings(*FResultIndexFieldsList, names);
    CopyStrings(*FResultIndexAscDescFieldsList, ascDesc);
    CopyStrings(*FResultIndexCaseInsFieldsList, caseIns);
  }
  std::vector<std::string> distinct;
  SplitFieldNames(distinct, FDistinctFields);
  for (const std::string& name : distinct) {
    if (names.IndexOf(name) >= 0) continue;
    names.Add(name);
    ascDesc.Add("ASC");
    caseIns.Add("CASE");
  }
  FResultDataset->ApplyDistinct(names, ascDesc, caseIns);
}

// ---- values

bool TVEXAO::DirectAccess() const { return true; }

void TVEXAO::GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool bCopy, bool AccessToHidden) {
  CheckFieldNo(FieldNo, 10307);
  Value.SetNull();
  TVEXFieldLink& link = FFieldLinks[FieldNo];
  if (link.Dataset == nullptr && link.AO == nullptr)
    throw EVEXException(10309, "Invalid field link: table name = %s, FieldNo = %d", FTableName,
                        FieldNo);
  if (link.IsHidden && !AccessToHidden)
    throw EVEXException(10310,
                        "Cannot access hidden field: table name = %s, field name = %s, display "
                        "name = %s, FieldNo = %d",
                        FTableName, link.FieldName, link.DisplayName, FieldNo);
  if (link.IsExpression) {
    TVEXVariant* value = link.Expr->GetValue(true);
    if (value != nullptr) Value.Assign(*value, false);
    return;
  }
  if (link.AO != nullptr) {
    if ((FLeftAONull && link.AO == FLeftAO.get()) || (FRightAONull && link.AO == FRightAO.get()))
      return;
    link.AO->GetFieldValue(Value, link.FieldNo, bCopy, AccessToHidden);
    return;
  }
  if (link.Dataset->Bof() && link.Dataset->Eof()) return;
  link.Dataset->GetFieldValue(Value, link.FieldNo, DirectAccess());
}

TVEXAdvancedFieldType TVEXAO::GetFieldType(int32_t FieldNo) {
  CheckFieldNo(FieldNo, 10376);
  return FFieldLinks[FieldNo].FieldType;
}

int32_t TVEXAO::GetFieldSize(int32_t FieldNo) {
  CheckFieldNo(FieldNo, 10377);
  return FFieldLinks[FieldNo].FieldSize;
}

int32_t TVEXAO::GetFieldPrecision(int32_t FieldNo) {
  CheckFieldNo(FieldNo, 10378);
  return FFieldLinks[FieldNo].FieldPrecision;
}

bool TVEXAO::GetFieldDatsetAndFieldNo(int32_t FieldNo, TVEXAODataset*& SrcFieldDatset,
                                      int32_t& SrcFieldDatasetFieldNo) {
  TVEXAO* ao = this;
  int32_t no = FieldNo;
  while (true) {
    const TVEXFieldLink& link = ao->FFieldLinks[no];
    if (link.Dataset != nullptr) {
      SrcFieldDatset = link.Dataset;
      SrcFieldDatasetFieldNo = link.FieldNo;
      return true;
    }
    if (link.IsExpression || link.AO == nullptr || link.AO == ao) return false;
    if ((ao->FLeftAONull && link.AO == ao->FLeftAO.get()) ||
        (ao->FRightAONull && link.AO == ao->FRightAO.get()))
      return false;
    no = link.FieldNo;
    ao = link.AO;
  }
}

void TVEXAO::CopyFieldValue(int32_t SrcFieldNo, int32_t DestFieldNo) {
  const TVEXFieldLink& link = FFieldLinks[SrcFieldNo];
  TVEXAODataset* source = nullptr;
  int32_t sourceNo = -1;
  if (!link.IsHidden && !link.IsExpression &&
      GetFieldDatsetAndFieldNo(SrcFieldNo, source, sourceNo)) {
    if (source->Bof() && source->Eof())
      FResultDataset->SetFieldValue(FValue, DestFieldNo, false);  // FValue is null here
    else
      source->CopyFieldValue(sourceNo, DirectAccess(), DestFieldNo, *FResultDataset);
    return;
  }
  GetFieldValue(FValue, SrcFieldNo, true, false);
  struct ClearValue {
    TVEXVariant& V;
    ~ClearValue() { V.SetNull(); }
  } clear{FValue};
  FResultDataset->SetFieldValue(FValue, DestFieldNo, false);
}

// ---- locks

bool TVEXAO::OpenTables() {
  for (TVEXAO* input : {FLeftAO.get(), FRightAO.get()})
    if (input != nullptr && !input->OpenTables()) return false;
  return true;
}

bool TVEXAO::CloseTables() {
  for (TVEXAO* input : {FLeftAO.get(), FRightAO.get()})
    if (input != nullptr && !input->CloseTables()) return false;
  return true;
}

bool TVEXAO::LockTables() {
  for (TVEXAO* input : {FLeftAO.get(), FRightAO.get()})
    if (input != nullptr && !input->LockTables()) return false;
  return true;
}

bool TVEXAO::UnlockTables() {
  for (TVEXAO* input : {FLeftAO.get(), FRightAO.get()})
    if (input != nullptr && !input->UnlockTables()) return false;
  return true;
}

bool LockTablesWithRetries(TVEXAO& Root) {
  constexpr int32_t kAttempts = 900;
  constexpr uint32_t kPauseMS = 100;
  for (int32_t attempt = 1; attempt <= kAttempts; ++attempt) {
    if (Root.LockTables()) return true;
    if (!Root.UnlockTables()) throw EVEXException(20226, "Cannot unlock table");
    if (attempt < kAttempts) os::CurrentClock().Sleep(kPauseMS);
  }
  return false;
}

bool ApplyFilterParts(TVEXExpression& Expr, TVEXAO& AO, TVEXAO* ParentQueryAO,
                      TVEXCursor* ParentCursor) {
  std::unique_ptr<TVEXExpression> parts = Expr.TakeAssignableParts([&](TVEXExprNode& Node) {
    return Node.CanBeAssigned(&AO, ParentQueryAO, ParentCursor, false);
  });
  if (parts == nullptr) return false;
  AO.SetFilter(std::move(parts));
  return true;
}

// ---- index descriptions

void IndexSpecToLists(const std::string& IndexFieldNames, const std::string& DescFields,
                      const std::string& CaseInsFields, rtl::TStringList& FieldNamesList,
                      rtl::TStringList& AscDescList, rtl::TStringList& CaseSensitivityList) {
  std::vector<std::string> names, desc, caseIns;
  SplitFieldNames(names, IndexFieldNames);
  SplitFieldNames(desc, DescFields);
  SplitFieldNames(caseIns, CaseInsFields);
  const auto has = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  for (const std::string& name : names) {
    FieldNamesList.Add(name);
    AscDescList.Add(has(desc, name) ? "DESC" : "ASC");
    CaseSensitivityList.Add(has(caseIns, name) ? "NO_CASE" : "CASE");
  }
}

void IndexListsToSpec(std::string& IndexFieldNames, std::string& DescFields,
                      std::string& CaseInsFields, const rtl::TStringList& FieldNamesList,
                      const rtl::TStringList& AscDescList,
                      const rtl::TStringList& CaseSensitivityList) {
  IndexFieldNames.clear();
  DescFields.clear();
  CaseInsFields.clear();
  const auto append = [](std::string& list, const std::string& name) {
    if (!list.empty()) list += ";";
    list += name;
  };
  for (int32_t i = 0; i < FieldNamesList.Count(); ++i) {
    append(IndexFieldNames, FieldNamesList[i]);
    if (i < AscDescList.Count() && AscDescList[i] == "DESC") append(DescFields, FieldNamesList[i]);
    if (i < CaseSensitivityList.Count() && CaseSensitivityList[i] == "NO_CASE")
      append(CaseInsFields, FieldNamesList[i]);
  }
}

}  // namespace vex
