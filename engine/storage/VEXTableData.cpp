#include "storage/VEXTableData.h"

#include <algorithm>
#include <atomic>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "rtl/Lists.h"
#include "storage/VEXDatabaseData.h"
#include "storage/btree/VEXBTreeKeys.h"

namespace vex {

namespace {
std::atomic<bool> GDesignMode{false};
}  // namespace

bool DesignMode() { return GDesignMode.load(); }
void SetDesignMode(bool Value) { GDesignMode.store(Value); }

TVEXTableData::TVEXTableData(TVEXDatabaseData* aDatabaseData)
    : FDatabaseData(aDatabaseData), FDatabaseLock(aDatabaseData->DatabaseLock()) {}

TVEXTableData::~TVEXTableData() {
  // The open index objects go first: closing one may still read the fields
  // and records it indexes.
  FIndexManager.reset();
  FConstraintManager.reset();
  FFieldManager.reset();
  FRecordManager.reset();
}

int32_t TVEXTableData::GetNewObjectId() { return FDatabaseData->GetNewObjectId(); }

void TVEXTableData::AssignNewObjectIds(TVEXMetaObjectDefs& Defs) {
  for (int32_t i = 0; i < Defs.Count(); ++i) Defs.GetDef(i)->ObjectID = GetNewObjectId();
}

int32_t TVEXTableData::GetRecordBufferSize() const {
  const bool hasFields = FFieldManager != nullptr && FFieldManager->FieldDefs().Count() > 0;
  if (!hasFields && !DesignMode())
    throw EVEXException(10131, "Error creating table - no fields were specified");
  return FFieldManager != nullptr ? FFieldManager->FieldDefs().GetMemoryRecordBufferSize() : 0;
}

void TVEXTableData::CreateFieldManager(TVEXFieldDefs& FieldDefs) {
  AssignNewObjectIds(FieldDefs);
  FFieldManager->FieldDefs().Assign(FieldDefs);
  FFieldManager->RecalcFieldOffsets();
  FFieldManager->InitLastAutoIncValues();
}

void TVEXTableData::CreateIndexManager(TVEXIndexDefs& IndexDefs) {
  AssignNewObjectIds(IndexDefs);
  FIndexManager->CreateIndexDefs(IndexDefs);
}

void TVEXTableData::CreateConstraintManager(TVEXConstraintDefs& ConstraintDefs) {
  AssignNewObjectIds(ConstraintDefs);
  for (int32_t i = 0; i < ConstraintDefs.Count(); ++i) {
    const TVEXConstraintType type = ConstraintDefs.GetDef(i)->ConstraintType;
    if (type == ctFK || type > ctCheck) throw EVEXException(30058, "Not implemented yet");
  }
  for (int32_t i = 0; i < ConstraintDefs.Count(); ++i) {
    TVEXConstraintDef* def = ConstraintDefs.GetDef(i);
    if (auto* notNull = dynamic_cast<TVEXConstraintDefNotNull*>(def))
      notNull->TableName = FTableName;
    else if (auto* check = dynamic_cast<TVEXConstraintDefCheck*>(def))
      check->TableName = FTableName;
    else if (auto* unique = dynamic_cast<TVEXConstraintDefUnique*>(def))
      unique->TableName = FTableName;
  }
  FConstraintManager->SetConstraintDefs(ConstraintDefs);
  FConstraintManager->LinkObjectIds();
  FConstraintManager->FillConstraintAutoNames();
}

void TVEXTableData::InitCursorBuffers(TVEXCursor& Cursor) {
  const TVEXFieldDefs* fields = FFieldManager ? &FFieldManager->FieldDefs() : nullptr;
  Cursor.SetFieldValuesOffset(
      fields != nullptr && fields->Count() > 0 ? fields->GetDef(0)->MemoryOffset : 0);
  Cursor.SetRecordSize(GetRecordBufferSize());
}

void TVEXTableData::ApplyChanges(int32_t SessionID, bool InTransaction) {
  if (InTransaction || FPageManager == nullptr) return;
  TVEXLockGuard pages(FPageManager->DatabaseLock());
  FPageManager->ApplyChanges(SessionID);
}

void TVEXTableData::CancelChanges(int32_t SessionID, bool InTransaction) {
  if (InTransaction || FPageManager == nullptr) return;
  TVEXLockGuard pages(FPageManager->DatabaseLock());
  FPageManager->CancelChanges(SessionID);
}

void TVEXTableData::DeleteTable(TVEXCursor* /*Cursor*/, bool DesignMode) {
  if (!DesignMode && !FCursorList.empty())
    throw EVEXException(20017, "Cannot delete table '%s'. Table is open by another dataset",
                        FTableName);
}

void TVEXTableData::EmptyTable(TVEXCursor* Cursor) {
  if (FFieldManager) FFieldManager->InitLastAutoIncValues();
  EmptyAllIndexes(Cursor != nullptr ? Cursor->GetSessionID() : kSystemSessionID);
}

void TVEXTableData::RenameTable(std::string_view NewTableName, TVEXCursor* /*Cursor*/) {
  if (!FCursorList.empty())
    throw EVEXException(10150, "Cannot rename table '%s'. Table is open by another dataset",
                        FTableName);
  FTableName = NewTableName;
}

void TVEXTableData::OpenTable(TVEXCursor& Cursor) {
  if (std::find(FCursorList.begin(), FCursorList.end(), &Cursor) == FCursorList.end())
    FCursorList.push_back(&Cursor);
}

void TVEXTableData::CloseTable(TVEXCursor& Cursor) { std::erase(FCursorList, &Cursor); }

void TVEXTableData::RenameField(std::string_view FieldName, std::string_view NewFieldName) {
  TVEXFieldDefs& fields = FFieldManager->FieldDefs();
  TVEXFieldDef* def = fields.GetFieldDefByName(FieldName);
  if (def == nullptr) throw EVEXException(30343, "Field '%s' not found", std::string(FieldName));
  if (fields.GetDefByName(NewFieldName) != nullptr)
    throw EVEXException(30344, "Cannot rename field '%s'. Field '%s' already exists",
                        std::string(FieldName), std::string(NewFieldName));
  def->Name = NewFieldName;
  if (FIndexManager) FIndexManager->RenameField(FieldName, def->Name.str());
}

void TVEXTableData::AddIndex(TVEXIndexDef& IndexDef, TVEXCursor& Cursor) {
  TVEXMemBlock pos = Cursor.SavePosition();
  ScopeExit restore([&] { Cursor.RestorePosition(pos); });
  FIndexManager->CreateIndex(&Cursor, IndexDef);
  if (!IndexDef.Temporary && !Cursor.Temporary())
    FConstraintManager->AddConstraintFromIndex(IndexDef);
}

void TVEXTableData::DeleteIndex(int32_t IndexID, TVEXCursor* Cursor) {
  int32_t sessionID = kSystemSessionID;
  if (Cursor != nullptr) {
    const auto* def =
        static_cast<const TVEXIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(IndexID));
    if (def != nullptr && !def->Temporary && !Cursor->Temporary())
      FConstraintManager->DeleteConstraintForIndexID(IndexID);
    sessionID = Cursor->GetSessionID();
  }
  FIndexManager->DropIndex(sessionID, IndexID);
}

void TVEXTableData::ClearBlobsCacheInRecordBuffer(uint8_t* /*Buffer*/) {}

void TVEXTableData::ClearBLOBFieldInRecordBuffer(uint8_t* /*RecordBuffer*/, int32_t /*FieldNo*/) {}

void TVEXTableData::ClearBLOBFieldsInRecordBuffer(uint8_t* RecordBuffer) {
  if (!FFieldManager || !FFieldManager->BlobFieldsPresent()) return;
  const TVEXFieldDefs& fields = FFieldManager->FieldDefs();
  for (int32_t i = 0; i < fields.Count(); ++i) {
    if (IsBLOBBaseFieldType(fields.GetDef(i)->BaseFieldType))
      ClearBLOBFieldInRecordBuffer(RecordBuffer, i);
  }
}

int64_t TVEXTableData::LastAutoincValue(int32_t /*FieldNo*/, TVEXBaseSession& /*Session*/) {
  return 0;
}

void TVEXTableData::Rollback(int32_t SessionID) { RebuildTemporaryIndexes(SessionID); }

bool TVEXTableData::IsUniqueConstraintFailed(int32_t SessionID, int32_t IndexID,
                                             const uint8_t* NewRecordBuffer,
                                             const uint8_t* OldRecordBuffer, bool ToInsert,
                                             TVEXPageItemID /*CurrentRecordID*/) {
  if (!FRecordManager || FRecordManager->RecordCount() <= 0) return false;
  TVEXIndex* index = FIndexManager->OpenIndex(IndexID);
  return ToInsert ? !index->CanInsertRecord(SessionID, NewRecordBuffer)
                  : !index->CanUpdateRecord(SessionID, OldRecordBuffer, NewRecordBuffer);
}

void TVEXTableData::EmptyIndex(int32_t IndexID, int32_t SessionID) {
  TVEXLockGuard lock(FDatabaseLock);
  FIndexManager->EmptyIndex(SessionID, IndexID);
}

void TVEXTableData::DeleteAllIndexes(TVEXCursor* Cursor) {
  TVEXIndexDefs& defs = FIndexManager->IndexDefs();
  while (defs.Count() > 0) DeleteIndex(defs.GetDef(0)->ObjectID, Cursor);
}

void TVEXTableData::EmptyAllIndexes(int32_t SessionID) {
  if (FIndexManager) FIndexManager->EmptyAllIndexes(SessionID);
}

std::string TVEXTableData::FindOrCreateIndex(TVEXCursor& Cursor,
                                             const rtl::TStringList& FieldNamesList,
                                             const rtl::TStringList& AscDescList,
                                             const rtl::TStringList& CaseSensitivityList,
                                             bool& IsCreated) {
  // Destroyed in reverse: the cursor goes back, then a failed change set is
  // cancelled and the lock released.
  TVEXTableOperation operation(*this, Cursor);
  TVEXMemBlock pos = Cursor.SavePosition();
  ScopeExit restore([&] { Cursor.RestorePosition(pos); });
  const int32_t indexID = FIndexManager->FindOrCreateIndex(Cursor, FieldNamesList, AscDescList,
                                                           CaseSensitivityList, IsCreated);
  const auto* def =
      static_cast<const TVEXIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(indexID));
  if (def == nullptr) throw EVEXException(10324, "Cannot find index by ID = %d", indexID);
  std::string name = def->Name.str();
  operation.Commit();
  return name;
}

bool TVEXTableData::IndexExists(TVEXCursor& Cursor, const rtl::TStringList& FieldNamesList,
                                const rtl::TStringList& AscDescList,
                                const rtl::TStringList& CaseSensitivityList) {
  TVEXLockGuard lock(FDatabaseLock);
  return FIndexManager->IsIndexExists(&FieldNamesList, &AscDescList, &CaseSensitivityList,
                                      Cursor.GetSessionID(), Cursor.GetFieldDefs());
}

void TVEXTableData::RebuildTemporaryIndexes(int32_t SessionID) {
  if (!FIndexManager) return;
  // A copy: a rebuild scans the table through cursors, which may open or close
  // on the way.
  const std::vector<TVEXCursor*> cursors = FCursorList;
  for (TVEXCursor* cursor : cursors) {
    if (cursor->GetSessionID() != SessionID) continue;
    bool isChanged = false;
    FIndexManager->SynchronizeTemporaryIndexes(*cursor, isChanged);
  }
}

TVEXTableOperation::TVEXTableOperation(TVEXTableData& Table, int32_t SessionID, bool InTransaction)
    : FTable(Table), FSessionID(SessionID), FInTransaction(InTransaction) {
  FTable.Lock();
}

// The analysis tracks the scoped lock in the caller; these bodies run under it.
TVEXTableOperation::~TVEXTableOperation() VEX_NO_THREAD_SAFETY_ANALYSIS {
  if (!FDone) {
    try {
      FTable.CancelChanges(FSessionID, FInTransaction);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }
  FTable.Unlock();
}

void TVEXTableOperation::Commit() VEX_NO_THREAD_SAFETY_ANALYSIS {
  FTable.ApplyChanges(FSessionID, FInTransaction);
  FDone = true;
}

namespace {
const TVEXKeyPath& AsKeyPath(const TVEXIndexPosition& IndexPos) {
  const auto* path = dynamic_cast<const TVEXKeyPath*>(&IndexPos);
  if (path == nullptr) RaiseNilPointer(10425);
  return *path;
}
TVEXKeyPath& AsKeyPath(TVEXIndexPosition& IndexPos) {
  auto* path = dynamic_cast<TVEXKeyPath*>(&IndexPos);
  if (path == nullptr) RaiseNilPointer(10425);
  return *path;
}
}  // namespace

int64_t TVEXTableData::GetBitmapRecNoByIndexPos(int32_t IndexID,
                                                const TVEXIndexPosition& IndexPos) {
  TVEXIndex* index = FIndexManager->OpenIndex(IndexID);
  return AsKeyPath(IndexPos).GetBitmapRecNoByIndexPosition(index->GetMaxEntriesPerPage());
}

void TVEXTableData::GetIndexPosByBitmapRecNo(int32_t IndexID, TVEXIndexPosition& IndexPos,
                                             int64_t BitmapRecNo) {
  TVEXIndex* index = FIndexManager->OpenIndex(IndexID);
  AsKeyPath(IndexPos).FillItemsByBitmapRecNo(BitmapRecNo, index->GetMaxEntriesPerPage());
}

bool TVEXTableData::InitRecordBitmap(TVEXRecordBitmap& Bitmap, int32_t IndexID) {
  Bitmap.Clear();
  Bitmap.SetTableState(FRecordManager->TableState());
  Bitmap.SetIndexBased(IndexID != -1);
  return Bitmap.IndexBased();
}

}  // namespace vex
