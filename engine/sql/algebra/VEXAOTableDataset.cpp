// The table component as the operators' dataset (see VEXAOTableDataset.h).
#include "sql/algebra/VEXAOTableDataset.h"

#include <exception>
#include <utility>

#include "components/VEXTable.h"
#include "db/FieldDefs.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "sql/expression/VEXExpression.h"

namespace vex {

TVEXAOTableDataset::TVEXAOTableDataset(std::unique_ptr<TVEXTable> Table)
    : FTable(std::move(Table)) {
  if (FTable == nullptr) RaiseNilPointer(10315);
}

TVEXAOTableDataset::~TVEXAOTableDataset() {
  try {
    FTable->Close();
  } catch (const std::exception& e) {
    ReportReleaseFault(e);
  }
}

const std::string& TVEXAOTableDataset::TableName() const { return FTable->TableName(); }
void TVEXAOTableDataset::SetTableName(const std::string& Value) { FTable->SetTableName(Value); }
std::string TVEXAOTableDataset::SessionName() const { return FTable->SessionName(); }
std::string TVEXAOTableDataset::DatabaseName() const { return FTable->DatabaseName(); }
void TVEXAOTableDataset::SetDatabaseName(const std::string& Value) {
  FTable->SetDatabaseName(Value);
}
bool TVEXAOTableDataset::InMemory() const { return FTable->InMemory(); }
void TVEXAOTableDataset::SetInMemory(bool Value) { FTable->SetInMemory(Value); }
bool TVEXAOTableDataset::Temporary() const { return FTable->Temporary(); }
void TVEXAOTableDataset::SetTemporary(bool Value) { FTable->SetTemporary(Value); }
void TVEXAOTableDataset::SetDisableTempFiles(bool Value) { FTable->SetDisableTempFiles(Value); }
TVEXAdvFieldDefs& TVEXAOTableDataset::AdvFieldDefs() { return FTable->AdvFieldDefs(); }
TVEXAdvIndexDefs& TVEXAOTableDataset::AdvIndexDefs() { return FTable->AdvIndexDefs(); }

std::unique_ptr<TVEXAODataset> TVEXAOTableDataset::NewSibling() {
  auto sibling = std::make_unique<TVEXTable>(nullptr);
  sibling->SetSessionName(FTable->SessionName());
  sibling->SetDatabaseName(FTable->DatabaseName());
  return std::make_unique<TVEXAOTableDataset>(std::move(sibling));
}

bool TVEXAOTableDataset::Exists() { return FTable->Exists(); }

void TVEXAOTableDataset::CreateTable() {
  FTable->FieldDefs().Clear();
  FTable->IndexDefs().Clear();
  FTable->CreateTable();
}

void TVEXAOTableDataset::DeleteTable() { FTable->DeleteTable(); }
void TVEXAOTableDataset::Open() { FTable->Open(); }

void TVEXAOTableDataset::Close() {
  FSQLFilter = nullptr;
  FTable->Close();
}

bool TVEXAOTableDataset::Active() const { return FTable->Active(); }
void TVEXAOTableDataset::SetReadOnly(bool Value) { FTable->SetReadOnly(Value); }
TVEXCursor* TVEXAOTableDataset::Handle() { return FTable->Handle(); }

void TVEXAOTableDataset::First() { FTable->First(); }
void TVEXAOTableDataset::Next() { FTable->Next(); }
bool TVEXAOTableDataset::Eof() const { return FTable->Eof(); }
bool TVEXAOTableDataset::Bof() const { return FTable->Bof(); }

int64_t TVEXAOTableDataset::RecordCount() {
  TVEXCursor* cursor = FTable->Handle();
  return FTable->Active() && cursor != nullptr ? cursor->GetRecordCount() : 0;
}

std::vector<uint8_t> TVEXAOTableDataset::GetBookmark() { return FTable->GetBookmark(); }

void TVEXAOTableDataset::GotoBookmark(const std::vector<uint8_t>& Bookmark) {
  FTable->GotoBookmark(Bookmark);
}

void TVEXAOTableDataset::Insert() { FTable->Insert(); }
void TVEXAOTableDataset::Post() { FTable->Post(); }
void TVEXAOTableDataset::Cancel() { FTable->Cancel(); }

bool TVEXAOTableDataset::CheckConstraints() {
  TVEXCursor* cursor = FTable->Handle();
  if (cursor == nullptr || FTable->State() != db::dsInsert) RaiseNilPointer(10316);
  cursor->SetCurrentRecordBuffer(FTable->ActiveBuffer());
  return cursor->CheckConstraints(true);
}

void TVEXAOTableDataset::GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  FTable->GetFieldValue(Value, FieldNo, DirectAccess);
}

std::string TVEXAOTableDataset::FieldName(int32_t FieldNo, bool DirectAccess) {
  TVEXCursor* cursor = FTable->Handle();
  if (cursor == nullptr) RaiseNilPointer(10315);
  const TVEXFieldDefs& defs = DirectAccess ? cursor->FieldDefs() : cursor->VisibleFieldDefs();
  if (FieldNo < 0 || FieldNo >= defs.Count())
    throw EVEXException(10317, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        defs.Count());
  return std::string(defs.GetDef(FieldNo)->Name);
}

void TVEXAOTableDataset::SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  FTable->SetFieldValue(Value, FieldNo, DirectAccess);
}

void TVEXAOTableDataset::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                                        TVEXAODataset& Dest) {
  auto* dest = dynamic_cast<TVEXAOTableDataset*>(&Dest);
  if (dest == nullptr) RaiseNilPointer(10503);
  FTable->CopyFieldValue(SrcFieldNo, DirectAccess, DestFieldNo, dest->FTable.get());
}

void TVEXAOTableDataset::ApplyProjection(const rtl::TStringList& FieldNamesList,
                                         const rtl::TStringList& AliasList) {
  FTable->ApplyProjection(FieldNamesList, AliasList);
}

std::string TVEXAOTableDataset::FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                                  const rtl::TStringList& AscDescList,
                                                  const rtl::TStringList& CaseSensitivityList,
                                                  bool& IsCreated) {
  return FTable->FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, IsCreated);
}

bool TVEXAOTableDataset::IndexExists(const rtl::TStringList& FieldNamesList,
                                     const rtl::TStringList& AscDescList,
                                     const rtl::TStringList& CaseSensitivityList) {
  return FTable->IndexExists(FieldNamesList, AscDescList, CaseSensitivityList);
}

void TVEXAOTableDataset::AddIndex(const std::string& Name, const std::string& Fields,
                                  const std::string& DescFields, const std::string& CaseInsFields) {
  FTable->AddIndex(Name, Fields, db::TIndexOptions{}, DescFields, CaseInsFields);
}

std::string TVEXAOTableDataset::IndexName() const {
  if (TVEXCursor* cursor = FTable->Handle()) return cursor->IndexName();
  return FTable->IndexName();
}

void TVEXAOTableDataset::SetIndexName(const std::string& Value) {
  FTable->SetIndexName(Value);
  if (FTable->Active()) FTable->First();
}

void TVEXAOTableDataset::ApplyDistinct(const rtl::TStringList& FieldNamesList,
                                       const rtl::TStringList& AscDescList,
                                       const rtl::TStringList& CaseSensitivityList) {
  FTable->ApplyDistinct(FieldNamesList, AscDescList, CaseSensitivityList);
  FTable->First();
}

void TVEXAOTableDataset::ApplyDistinctFrom(TVEXAODataset& Source) {
  auto* source = dynamic_cast<TVEXAOTableDataset*>(&Source);
  if (source == nullptr) RaiseNilPointer(10319);
  FTable->ApplyDistinct(*source->FTable);
  FTable->First();
}

void TVEXAOTableDataset::SetSQLFilter(TVEXExpression* FilterExpr, TVEXAO* ParentQueryAO,
                                      TVEXCursor* ParentCursor) {
  FTable->SetSQLFilter(FilterExpr, ParentQueryAO, ParentCursor);
  FSQLFilter = FilterExpr;
  FTable->First();
}

}  // namespace vex
