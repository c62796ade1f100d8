// Execution of an operator with inputs: the result table is defined from the
// visible links, filled row by row (filter, TOP range, DISTINCT), ordered and
// projected, and the links are rebound to it (design notes 4 to 6 of
// VEXRelationalAlgebra.h).
#include <utility>

#include "components/VEXAdvDefs.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "rtl/CodePage.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/expression/VEXExpression.h"

namespace vex {

namespace {

[[noreturn]] void RaiseHidden(int32_t Code, const std::string& TableName, const TVEXFieldLink& Link,
                              int32_t FieldNo) {
  throw EVEXException(Code,
                      "Cannot access hidden field: table name = %s, field name = %s, display "
                      "name = %s, FieldNo = %d",
                      TableName, Link.FieldName, Link.DisplayName, FieldNo);
}

void AddResultFieldDef(TVEXAdvFieldDefs& Defs, const TVEXFieldLink& Link, bool AllAutoIncs) {
  TVEXAdvancedFieldType type = Link.FieldType;
  if (AllAutoIncs) {
    if (type >= aftAutoInc && type <= aftAutoIncCardinal)
      type = BaseToAdvancedFieldType(AdvancedToBaseFieldType(type));
  } else if (type == aftAutoInc) {
    type = aftInteger;
  }
  TVEXAdvFieldDef* def = Defs.AddFieldDef();
  def->Name = Link.FieldName;
  def->DataType = type;
  def->Size = Link.FieldSize;
  def->BLOBCompressionAlgorithm = static_cast<TCompressionAlgorithm>(Link.BLOBCompressionAlgorithm);
  def->BLOBCompressionMode = Link.BLOBCompressionMode;
  if (Link.BLOBBlockSize > 0) def->BLOBBlockSize = Link.BLOBBlockSize;
}

}  // namespace

void TVEXAO::Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  FIsRootAO = IsRootAO;
  if (!FIsAOTable && FFilterExpr != nullptr)
    FFilterExpr->AssignAO(this, ParentQueryAO, ParentCursor);
  if (FLeftAO != nullptr) FLeftAO->Execute(false, ParentQueryAO, ParentCursor);
  if (FRightAO != nullptr) FRightAO->Execute(false, ParentQueryAO, ParentCursor);
  BeforeMaterialize();
  OpenSecondCursor();
  if (FTopRowCount > 0 && HasIndexSpec() && FLeftAO != nullptr) {
    // Read the input in result order so that the fill can stop at the limit.
    TVEXAODataset& input = *FLeftAO->ResultDataset();
    rtl::TStringList names;
    for (int32_t i = 0; i < FResultIndexFieldsList->Count(); ++i)
      names.Add((*FResultIndexFieldsList)[i]);
    bool created = false;
    input.SetIndexName(input.FindOrCreateIndex(names, *FResultIndexAscDescFieldsList,
                                               *FResultIndexCaseInsFieldsList, created));
  }
  if (FLeftAO != nullptr) Materialize();
  if (HasIndexSpec()) ApplyResultIndex(true);
}

void TVEXAO::Materialize() {
  if (FIsMaterialized) return;
  rtl::TStringList fieldNames, displayNames;
  CreateResultTable(fieldNames, displayNames);
  FillResultTable();
  FinishResultTable(fieldNames, displayNames);
}

void TVEXAO::CreateResultTable(rtl::TStringList& FieldNames, rtl::TStringList& DisplayNames) {
  TVEXAODataset& result = *FResultDataset;
  result.Close();
  result.AdvFieldDefs().Clear();
  result.AdvIndexDefs().Clear();
  if (!FResultFieldsOrder.empty()) {
    if (!(FIsRootAO && FResultImmediate)) {
      FResultTableName.clear();
      FResultDatabaseName.clear();
    }
    for (int32_t no : FResultFieldsOrder) {
      const TVEXFieldLink& link = FFieldLinks[no];
      if (link.IsHidden) RaiseHidden(10312, FTableName, link, no);
      if (!link.DisplayName.empty()) {
        FieldNames.Add(link.FieldName);
        DisplayNames.Add(link.DisplayName);
      }
    }
    for (const TVEXFieldLink& link : FFieldLinks)
      if (!link.IsHidden) AddResultFieldDef(result.AdvFieldDefs(), link, false);
  } else {
    for (const TVEXFieldLink& link : FFieldLinks) {
      if (link.IsHidden) continue;
      FieldNames.Add(link.FieldName);
      DisplayNames.Add("");
      AddResultFieldDef(result.AdvFieldDefs(), link, true);
    }
  }
  // An input of which the query reads no column (COUNT(*) over a cross join)
  // still has its rows: a table needs a field to hold them, so they get one
  // that nothing reads.
  if (result.AdvFieldDefs().Count() == 0) result.AdvFieldDefs().Add("ROW$", aftBoolean, 0, false);
  std::string topIndex;
  if (FTopRowCount >= 0 && HasIndexSpec()) topIndex = AddResultIndex(true);
  if (!FResultTableName.empty()) {
    result.SetTemporary(false);
    if (!FResultDatabaseName.empty()) result.SetDatabaseName(FResultDatabaseName);
    result.SetTableName(FResultTableName);
    result.SetInMemory(FResultInMemory);
    FOwnsTemporaryResult = false;
  } else {
    result.SetTemporary(true);
    result.SetInMemory(false);
    result.SetDisableTempFiles(FDisableTempFiles);
    do {
      result.SetTableName(MakeUniqueName("TEMPORARY_TABLE_"));
    } while (result.Exists());
  }
  if (FDistinctApplied) {
    TVEXAdvIndexDef* def = result.AdvIndexDefs().AddIndexDef();
    def->Name = MakeUniqueName("TEMPORARY_INDEX_");
    def->Fields = FDistinctFields;
    def->Options = db::TIndexOptions{db::ixUnique};
  }
  result.CreateTable();
  FOwnsTemporaryResult = FResultTableName.empty();
  result.Open();
  if (!topIndex.empty()) result.SetIndexName(topIndex);
}

void TVEXAO::FillResultTable() {
  TVEXAODataset& result = *FResultDataset;
  // The value each DISTINCT column had in the row before; each column is
  // evaluated once per row, and that value is what the row stores.
  std::vector<TVEXVariant> previous(FDistinctApplied ? FDistinctFieldCount : 0);
  std::vector<TVEXVariant> current(previous.size());
  std::vector<int32_t> distinctSlotOfLink(FFieldCount, -1);
  if (!FDistinctApplied) FDistinctFieldCount = 0;
  for (int32_t k = 0; k < FDistinctFieldCount; ++k) distinctSlotOfLink[FDistinctFieldsMap[k]] = k;
  First();
  int64_t j = 0;
  while (!Eof()) {
    ++j;
    if (FTopRowCount >= 0 && result.RecordCount() >= FTopRowCount) break;
    if (FFirstRowNo >= 0 && j < FFirstRowNo) {
      Next();
      continue;
    }
    if (FFilterExpr != nullptr && !FFilterExpr->GetResult()) {
      Next();
      continue;
    }
    if (FDistinctFieldCount > 0) {
      bool allEqual = true;
      for (int32_t k = 0; k < FDistinctFieldCount; ++k) {
        GetFieldValue(current[k], FDistinctFieldsMap[k], true, false);
        if (previous[k].Compare(current[k], false, false, false) != cmprEqual) allEqual = false;
        previous[k].Assign(current[k], true);
      }
      if (allEqual && result.RecordCount() > 0) {
        Next();
        continue;
      }
    }
    result.Insert();
    int32_t dest = 0;
    for (int32_t i = 0; i < FFieldCount; ++i) {
      const TVEXFieldLink& link = FFieldLinks[i];
      if (link.IsHidden) continue;
      const int32_t slot = distinctSlotOfLink[i];
      if (slot >= 0 && link.IsExpression)
        result.SetFieldValue(previous[slot], dest, true);
      else
        CopyFieldValue(i, dest);
      ++dest;
    }
    if (FDistinctFieldCount > 0 && !result.CheckConstraints())
      result.Cancel();
    else
      result.Post();
    Next();
  }
  if (FTopRowCount >= 0) FTopRowCount = -1;
}

void TVEXAO::FinishResultTable(rtl::TStringList& FieldNames, rtl::TStringList& DisplayNames) {
  TVEXAODataset& result = *FResultDataset;
  if (HasIndexSpec() && FTopRowCount < 0 && !FDistinctApplied && result.IndexName().empty()) {
    MapIndexFieldNames(FieldNames, DisplayNames);
    result.SetIndexName(AddResultIndex(false));
  }
  if (FieldNames.Count() > 0) {
    rtl::TStringList aliases;
    for (int32_t i = 0; i < FieldNames.Count(); ++i)
      aliases.Add(DisplayNames[i].empty() ? FieldNames[i] : DisplayNames[i]);
    result.ApplyProjection(FieldNames, aliases);
  }
  for (int32_t no : FResultFieldsOrder)
    if (FIsRootAO && FFieldLinks[no].IsHidden) RaiseHidden(10314, FTableName, FFieldLinks[no], no);
  // The result table holds the visible links in link order; its field
  // numbers are read as physical numbers, so they do not depend on the
  // projection above.
  int32_t fieldNo = 0;
  for (TVEXFieldLink& link : FFieldLinks) {
    if (link.IsHidden) {
      // Its input is about to go: reading it now fails cleanly (10309).
      if (link.IsExpression) delete link.Expr;
      link.Expr = nullptr;
      link.IsExpression = link.IsAggregate = false;
      link.AO = nullptr;
      link.Dataset = nullptr;
      continue;
    }
    if (link.IsExpression) delete link.Expr;
    link.Expr = nullptr;
    link.IsExpression = link.IsAggregate = false;
    link.AO = nullptr;
    link.Dataset = &result;
    link.FieldNo = fieldNo++;
  }
  FIsMaterialized = true;
  FreeSecondCursor();
  FRightAO.reset();
  FLeftAO.reset();
  result.First();
}

std::string TVEXAO::AddResultIndex(bool AsDefinition) {
  std::string fields, desc, caseIns;
  IndexListsToSpec(fields, desc, caseIns, *FResultIndexFieldsList, *FResultIndexAscDescFieldsList,
                   *FResultIndexCaseInsFieldsList);
  const std::string name = MakeUniqueName("TEMPORARY_INDEX_");
  if (AsDefinition) {
    TVEXAdvIndexDef* def = FResultDataset->AdvIndexDefs().AddIndexDef();
    def->Name = name;
    def->Fields = fields;
    def->DescFields = desc;
    def->CaseInsFields = caseIns;
  } else {
    FResultDataset->AddIndex(name, fields, desc, caseIns);
  }
  return name;
}

void TVEXAO::MapIndexFieldNames(const rtl::TStringList& FieldNames,
                                const rtl::TStringList& DisplayNames) {
  for (int32_t i = 0; i < FResultIndexFieldsList->Count(); ++i) {
    const std::string column = (*FResultIndexFieldsList)[i];
    if (FieldNames.IndexOf(column) >= 0) continue;
    for (int32_t k = 0; k < DisplayNames.Count(); ++k)
      if (rtl::UpperCase(DisplayNames[k]) == column) {
        FResultIndexFieldsList->SetStrings(i, rtl::UpperCase(FieldNames[k]));
        break;
      }
  }
}

}  // namespace vex
