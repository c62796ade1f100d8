// A table for the operators straight over a local cursor (see
// VEXAOLocalTable.h).
#include "sql/algebra/VEXAOLocalTable.h"

#include <cstring>
#include <utility>

#include "components/VEXDefConversions.h"
#include "components/VEXLocalEngine.h"
#include "db/FieldDefs.h"
#include "foundation/VEXExcept.h"
#include "sql/expression/VEXExpression.h"
#include "storage/VEXConstraintManager.h"
#include "storage/VEXDatabaseData.h"
#include "storage/VEXIndexManager.h"

namespace vex {

TVEXAOLocalTable::TVEXAOLocalTable(TVEXLocalSession& Session, TVEXLocalSession& TempSession,
                                   std::string TableName)
    : FSession(Session), FTempSession(TempSession), FTableName(std::move(TableName)) {}

TVEXAOLocalTable::~TVEXAOLocalTable() { Close(); }

std::unique_ptr<TVEXAODataset> TVEXAOLocalTable::NewSibling() {
  return std::make_unique<TVEXAOLocalTable>(FSession, FTempSession, std::string());
}

TVEXLocalCursor& TVEXAOLocalTable::Cursor(int32_t Code) const {
  if (FCursor == nullptr) RaiseNilPointer(Code);
  return *FCursor;
}

bool TVEXAOLocalTable::Exists() {
  TVEXDatabaseData* data = SessionOfTable().DatabaseData();
  return data != nullptr && data->TableExists(FTableName);
}

void TVEXAOLocalTable::CreateTable() {
  db::TFieldDefs platformDefs(nullptr);
  AdvFieldDefsToFieldDefs(FAdvFieldDefs, platformDefs);
  TVEXIndexDefs indexDefs;
  AdvIndexDefsToEngineIndexDefs(FAdvIndexDefs, indexDefs, platformDefs);
  TVEXFieldDefs fieldDefs;
  TVEXConstraintDefs constraintDefs;
  AdvFieldDefsToEngineDefs(FAdvFieldDefs, fieldDefs, indexDefs, constraintDefs, FTemporary);
  TVEXLocalCursor maker;
  maker.SetSession(&SessionOfTable());
  maker.SetTableName(FTableName);
  maker.SetInMemory(FInMemory);
  maker.SetTemporary(FTemporary);
  maker.SetDisableTempFiles(FDisableTempFiles);
  maker.SetExclusive(true);
  maker.CreateTable(fieldDefs, indexDefs, constraintDefs);
}

void TVEXAOLocalTable::DeleteTable() {
  Close();
  TVEXLocalCursor remover;
  remover.SetSession(&SessionOfTable());
  remover.SetTableName(FTableName);
  remover.SetInMemory(FInMemory);
  remover.SetTemporary(FTemporary);
  remover.DeleteTable();
}

void TVEXAOLocalTable::Open() {
  if (FCursor != nullptr) return;
  auto cursor = std::make_unique<TVEXLocalCursor>();
  cursor->SetSession(&SessionOfTable());
  cursor->SetTableName(FTableName);
  cursor->SetInMemory(FInMemory);
  cursor->SetTemporary(FTemporary);
  cursor->SetDisableTempFiles(FDisableTempFiles);
  cursor->SetReadOnly(FReadOnly);
  TVEXFieldDefs fieldDefs;
  TVEXIndexDefs indexDefs;
  TVEXConstraintDefs constraintDefs;
  cursor->OpenTableByFieldDefs(fieldDefs, indexDefs, constraintDefs);
  cursor->InternalInitFieldDefs();
  FReadBuffer = cursor->AllocateRecordBuffer();
  FInsertBuffer = cursor->AllocateRecordBuffer();
  FScratch = cursor->AllocateRecordBuffer();
  cursor->SetCurrentRecordBuffer(ReadBuffer());
  FCursor = std::move(cursor);
  RefreshAdvFieldDefs();
  First();
}

void TVEXAOLocalTable::RefreshAdvFieldDefs() {
  FAdvFieldDefs.Clear();
  EngineDefsToAdvFieldDefs(FCursor->VisibleFieldDefs(), FCursor->FieldDefs(),
                           FCursor->ConstraintDefs(), FAdvFieldDefs);
}

void TVEXAOLocalTable::Close() {
  FCursor.reset();
  FReadBuffer.Reset();
  FInsertBuffer.Reset();
  FScratch.Reset();
  FEof = FBof = true;
  FSQLFilter = nullptr;
}

bool TVEXAOLocalTable::Read(TVEXGetRecordMode Mode) {
  TVEXLocalCursor& cursor = *FCursor;
  const auto size = static_cast<size_t>(cursor.RecordBufferSize());
  // A failed read must not disturb the record shown (design note 2).
  std::memcpy(FScratch.Get(), ReadBuffer(), size);
  cursor.SetCurrentRecordBuffer(ReadBuffer());
  if (cursor.GetRecordBuffer(Mode) != grrOK) {
    std::memcpy(ReadBuffer(), FScratch.Get(), size);
    return false;
  }
  uint8_t* bookmark = ReadBuffer() + cursor.BookmarkOffset();
  std::memcpy(bookmark, &cursor.CurrentRecordID.PageNo, 4);
  std::memcpy(bookmark + 4, &cursor.CurrentRecordID.PageItemNo, 2);
  bookmark[6] = 0;
  return true;
}

void TVEXAOLocalTable::First() {
  TVEXLocalCursor& cursor = Cursor(10315);
  cursor.SetCurrentRecordBuffer(ReadBuffer());
  cursor.InternalFirst();
  FBof = true;
  FEof = !Read(grmNext);
}

void TVEXAOLocalTable::Next() {
  Cursor(10315);
  if (FEof) return;
  if (Read(grmNext))
    FBof = false;
  else
    FEof = true;
}

int64_t TVEXAOLocalTable::RecordCount() { return Cursor(10315).GetRecordCount(); }

void TVEXAOLocalTable::Insert() {
  TVEXLocalCursor& cursor = Cursor(10316);
  cursor.SetCurrentRecordBuffer(InsertBuffer());
  cursor.InternalInitRecord(InsertBuffer(), true);
  cursor.InternalInsert();
}

void TVEXAOLocalTable::Post() {
  TVEXLocalCursor& cursor = Cursor(10316);
  cursor.SetCurrentRecordBuffer(InsertBuffer());
  struct Restore {
    TVEXAOLocalTable& T;
    ~Restore() { T.FCursor->SetCurrentRecordBuffer(T.ReadBuffer()); }
  } restore{*this};
  cursor.InternalPost(true);
  CheckEngineError(cursor.ErrorCode(), cursor.ErrorMessage());
}

void TVEXAOLocalTable::Cancel() {
  TVEXLocalCursor& cursor = Cursor(10316);
  cursor.SetCurrentRecordBuffer(InsertBuffer());
  cursor.InternalCancel(true);
  cursor.SetCurrentRecordBuffer(ReadBuffer());
}

bool TVEXAOLocalTable::CheckConstraints() {
  TVEXLocalCursor& cursor = Cursor(10316);
  cursor.SetCurrentRecordBuffer(InsertBuffer());
  struct Restore {
    TVEXAOLocalTable& T;
    ~Restore() { T.FCursor->SetCurrentRecordBuffer(T.ReadBuffer()); }
  } restore{*this};
  return cursor.CheckConstraints(true);
}

void TVEXAOLocalTable::GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  TVEXLocalCursor& cursor = Cursor(10315);
  cursor.SetCurrentRecordBuffer(ReadBuffer());
  cursor.GetFieldValue(Value, FieldNo, DirectAccess);
}

std::string TVEXAOLocalTable::FieldName(int32_t FieldNo) {
  TVEXLocalCursor& cursor = Cursor(10315);
  if (FieldNo < 0 || FieldNo >= cursor.FieldDefs().Count())
    throw EVEXException(10317, "Invalid field number - FieldNo = %d, FieldCount = %d", FieldNo,
                        cursor.FieldDefs().Count());
  return std::string(cursor.FieldDefs().GetDef(FieldNo)->Name);
}

void TVEXAOLocalTable::SetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool DirectAccess) {
  Cursor(10316).SetFieldValue(Value, FieldNo, DirectAccess, InsertBuffer());
}

void TVEXAOLocalTable::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo,
                                      TVEXAODataset& Dest) {
  auto* dest = dynamic_cast<TVEXAOLocalTable*>(&Dest);
  if (dest == nullptr || dest->FCursor == nullptr) RaiseNilPointer(10503);
  TVEXLocalCursor& cursor = Cursor(10500);
  cursor.SetCurrentRecordBuffer(ReadBuffer());
  dest->FCursor->SetCurrentRecordBuffer(dest->InsertBuffer());
  cursor.CopyFieldValue(SrcFieldNo, DirectAccess, DestFieldNo, *dest->FCursor);
}

void TVEXAOLocalTable::ApplyProjection(const rtl::TStringList& FieldNamesList,
                                       const rtl::TStringList& AliasList) {
  Cursor(10320).ApplyProjection(FieldNamesList, AliasList);
  RefreshAdvFieldDefs();
  First();
}

std::string TVEXAOLocalTable::FindOrCreateIndex(const rtl::TStringList& FieldNamesList,
                                                const rtl::TStringList& AscDescList,
                                                const rtl::TStringList& CaseSensitivityList,
                                                bool& IsCreated) {
  return Cursor(10311).FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList,
                                         IsCreated);
}

bool TVEXAOLocalTable::IndexExists(const rtl::TStringList& FieldNamesList,
                                   const rtl::TStringList& AscDescList,
                                   const rtl::TStringList& CaseSensitivityList) {
  return Cursor(10514).IndexExists(FieldNamesList, AscDescList, CaseSensitivityList);
}

void TVEXAOLocalTable::AddIndex(const std::string& Name, const std::string& Fields,
                                const std::string& DescFields, const std::string& CaseInsFields) {
  TVEXLocalCursor& cursor = Cursor(10311);
  db::TFieldDefs platformDefs(nullptr);
  EngineDefsToFieldDefs(cursor.VisibleFieldDefs(), cursor.ConstraintDefs(), platformDefs);
  TVEXIndexDef def;
  BuildEngineIndexDef(def, Name, Fields, db::TIndexOptions{}, true, DescFields, CaseInsFields, "",
                      platformDefs);
  cursor.AddIndex(def);
}

std::string TVEXAOLocalTable::IndexName() const {
  return FCursor != nullptr ? FCursor->IndexName() : std::string();
}

void TVEXAOLocalTable::SetIndexName(const std::string& Value) {
  Cursor(10315).SetIndexName(Value);
  First();
}

void TVEXAOLocalTable::ApplyDistinct(const rtl::TStringList& FieldNamesList,
                                     const rtl::TStringList& AscDescList,
                                     const rtl::TStringList& CaseSensitivityList) {
  Cursor(10319).ApplyDistinct(FieldNamesList, AscDescList, CaseSensitivityList);
  First();
}

void TVEXAOLocalTable::ApplyDistinctFrom(TVEXAODataset& Source) {
  TVEXLocalCursor& cursor = Cursor(10319);
  TVEXCursor* source = Source.Handle();
  if (source == nullptr) RaiseNilPointer(10319);
  cursor.SetIndexName(source->IndexName());
  cursor.DistinctFieldCount = source->DistinctFieldCount;
  cursor.DisableRecordBitmap();
  First();
}

void TVEXAOLocalTable::SetSQLFilter(TVEXExpression* FilterExpr, TVEXAO* ParentQueryAO,
                                    TVEXCursor* ParentCursor) {
  Cursor(10300).SetSQLFilter(FilterExpr, ParentQueryAO, ParentCursor);
  FSQLFilter = FilterExpr;
}

}  // namespace vex
