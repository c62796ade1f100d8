// The table operator over a base table (see VEXAOTable.h).
#include "sql/algebra/VEXAOTable.h"

#include <exception>
#include <utility>

#include "components/VEXAdvDefs.h"
#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/algebra/VEXAOTableDataset.h"
#include "sql/expression/VEXExpression.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXTableLocks.h"

namespace vex {

namespace {

bool SameName(const std::string& A, const std::string& B) {
  return rtl::UpperCase(A) == rtl::UpperCase(B);
}

}  // namespace

TVEXAOTable::TVEXAOTable(const std::string& TableName, const std::string& TableAlias,
                         TVEXDatabase* DB, std::unique_ptr<TVEXAODataset> Table)
    : FDatabase(DB) {
  InitAO(nullptr, nullptr, TableName, TableAlias);
  FResultDataset = std::move(Table);
  FIsAOTable = true;
  FDisableTempFiles = DB != nullptr && DB->DisableTempFiles();
  try {
    FResultDataset->Open();
  } catch (const std::exception& e) {
    throw EVEXException(10303, "Error on opening table \"%s\" (InMemory = %d) in SQL query: %s",
                        TableName, static_cast<int32_t>(FResultDataset->InMemory()),
                        std::string(e.what()));
  }
  const TVEXAdvFieldDefs& defs = FResultDataset->AdvFieldDefs();
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const TVEXAdvFieldDef& def = *defs.GetDef(i);
    TVEXFieldLink link;
    link.FieldName = def.Name;
    link.FieldType = def.DataType;
    link.FieldSize = def.Size;
    link.BLOBCompressionAlgorithm = def.BLOBCompressionAlgorithm;
    link.BLOBCompressionMode = def.BLOBCompressionMode;
    link.BLOBBlockSize = def.BLOBBlockSize;
    link.Dataset = FResultDataset.get();
    link.FieldNo = i;
    link.IsHidden = true;
    AddFieldLink(std::move(link));
  }
}

TVEXAOTable::TVEXAOTable(const std::string& TableName, const std::string& TableAlias,
                         TVEXDatabase* DB, std::unique_ptr<TVEXTable> Table)
    : TVEXAOTable(TableName, TableAlias, DB,
                  std::make_unique<TVEXAOTableDataset>(std::move(Table))) {}

void TVEXAOTable::SetResultFields(std::vector<TVEXSelectListItem>& FieldRefs, bool bDistinct) {
  if (FieldRefs.empty()) {
    TVEXAO::SetResultFields(FieldRefs, bDistinct);
    return;
  }
  bool allFields = false;
  for (const TVEXSelectListItem& item : FieldRefs) {
    if (!item.TableName.empty() && !SameName(item.TableName, FTableName) &&
        !SameName(item.TableName, FTableAlias))
      throw EVEXException(
          30327, "Invalid table name in reference. Table name = %s, table alias = %s, tname = %s",
          rtl::UpperCase(FTableName), rtl::UpperCase(FTableAlias), rtl::UpperCase(item.TableName));
    if (item.AllFields) allFields = true;
  }
  if (allFields) return;
  rtl::TStringList names, aliases;
  for (const TVEXSelectListItem& item : FieldRefs) {
    names.Add(item.FieldName);
    aliases.Add(item.Pseudonym.empty() ? item.FieldName : item.Pseudonym);
  }
  TVEXAO::SetResultFields(FieldRefs, bDistinct);
  FResultDataset->ApplyProjection(names, aliases);
}

void TVEXAOTable::Execute(bool IsRootAO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  if (HasIndexSpec()) ApplyResultIndex(!FDistinctApplied);
  if (FDistinctApplied) {
    ApplyDistinctToResult();
    FreeIndexSpecLists();
  }
  FResultDataset->SetSQLFilter(FFilterExpr.get(), ParentQueryAO, ParentCursor);
  TVEXAO::Execute(IsRootAO, ParentQueryAO, ParentCursor);
  FResultDataset->First();
}

bool TVEXAOTable::TransferIndexToParentIfNeeded(
    std::unique_ptr<rtl::TStringList>& FieldNamesList,
    std::unique_ptr<rtl::TStringList>& AscDescList,
    std::unique_ptr<rtl::TStringList>& CaseSensitivityList) {
  if (FResultDataset == nullptr) RaiseNilPointer(10513);
  if (!HasIndexSpec() || !FResultDataset->IndexName().empty()) return false;
  if (FResultDataset->IndexExists(*FResultIndexFieldsList, *FResultIndexAscDescFieldsList,
                                  *FResultIndexCaseInsFieldsList))
    return false;
  FieldNamesList = std::move(FResultIndexFieldsList);
  AscDescList = std::move(FResultIndexAscDescFieldsList);
  CaseSensitivityList = std::move(FResultIndexCaseInsFieldsList);
  return true;
}

bool TVEXAOTable::OpenTables() {
  try {
    FResultDataset->Open();
    return true;
  } catch (...) {
    FResultDataset->Close();
    return false;
  }
}

bool TVEXAOTable::CloseTables() {
  try {
    FResultDataset->Close();
    return true;
  } catch (...) {
    return false;
  }
}

bool TVEXAOTable::LockTables() {
  if (!FResultDataset->Active()) return false;
  if (!FResultDataset->Handle()->LockTable(ltS, 2, 20, true)) return false;
  ++FLockCount;
  FIsLocked = true;
  return true;
}

bool TVEXAOTable::UnlockTables() {
  if (FLockCount == 0) return true;
  if (!FResultDataset->Active()) return false;
  if (!FResultDataset->Handle()->UnlockTable(ltS, true)) return false;
  FIsLocked = --FLockCount > 0;
  return true;
}

}  // namespace vex
