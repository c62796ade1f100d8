#include "storage/VEXIndexManager.h"

#include <utility>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"

namespace vex {

namespace {

[[noreturn]] void RaiseIndexNotFound() { throw EVEXException(20018, "Index not found"); }

}  // namespace

// --- Abstract index ----------------------------------------------------------

TVEXIndex::TVEXIndex(TVEXBaseIndexManager* aIndexManager) : FIndexManager(aIndexManager) {}

TVEXIndex::~TVEXIndex() = default;

void TVEXIndex::CreateIndex(TVEXManagerCursor* /*Cursor*/, TVEXIndexDef& aIndexDef) {
  if (&aIndexDef == FIndexDef.get()) return;
  auto copy = std::make_unique<TVEXIndexDef>();
  copy->Assign(aIndexDef);
  FIndexDef = std::move(copy);
}

void TVEXIndex::OpenIndex(const TVEXIndexDef& aIndexDef) {
  if (&aIndexDef == FIndexDef.get()) return;
  auto copy = std::make_unique<TVEXIndexDef>();
  copy->Assign(aIndexDef);
  FIndexDef = std::move(copy);
}

// --- Index manager -----------------------------------------------------------

TVEXBaseIndexManager::TVEXBaseIndexManager(TVEXManagedTable& aTableData,
                                           TVEXPageManager* TempPageManager,
                                           TVEXIndexFactory IndexFactory)
    : FTableData(aTableData),
      FTemporaryPageManager(TempPageManager),
      FIndexFactory(std::move(IndexFactory)) {}

TVEXBaseIndexManager::~TVEXBaseIndexManager() {
  // Index objects refer to their definitions' manager: close them first.
  FOpenIndexList.clear();
}

TVEXPageManager* TVEXBaseIndexManager::GetPageManager(const TVEXIndex& Index) const {
  if (Index.IndexDef() != nullptr && Index.IndexDef()->Temporary) return FTemporaryPageManager;
  return PageManager();
}

void TVEXBaseIndexManager::LoadMetadata(TVEXStream& Stream) { FIndexDefs.LoadFromStream(Stream); }

void TVEXBaseIndexManager::SaveMetadata(TVEXStream& Stream) const {
  FIndexDefs.SaveToStream(Stream);
}

void TVEXBaseIndexManager::CreateIndexDefs(const TVEXIndexDefs& aIndexDefs) {
  FIndexDefs.Assign(aIndexDefs);
}

int32_t TVEXBaseIndexManager::FindIndex(const rtl::TStringList* FieldNames,
                                        const rtl::TStringList* AscDescList,
                                        const rtl::TStringList* CaseSensitivityList,
                                        int32_t SessionID, const TVEXFieldDefs& FieldDefs) const {
  return FIndexDefs.FindIndex(FieldNames, AscDescList, CaseSensitivityList, SessionID, FieldDefs);
}

bool TVEXBaseIndexManager::IsIndexExists(const rtl::TStringList* FieldNames,
                                         const rtl::TStringList* AscDescList,
                                         const rtl::TStringList* CaseSensitivityList,
                                         int32_t SessionID, const TVEXFieldDefs& FieldDefs) const {
  return FIndexDefs.IsIndexExists(FieldNames, AscDescList, CaseSensitivityList, SessionID,
                                  FieldDefs);
}

int32_t TVEXBaseIndexManager::CreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& IndexDef) {
  IndexDef.ObjectID = FTableData.GetNewObjectId();
  FIndexDefs.AddCreated()->Assign(IndexDef);
  InternalCreateIndex(Cursor, IndexDef);
  return IndexDef.ObjectID;
}

void TVEXBaseIndexManager::InternalCreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& IndexDef) {
  const int32_t indexId = IndexDef.ObjectID;
  // IndexDef may be the collection's own definition (CreateIndexesByIndexDefs):
  // once it is deleted here nothing may touch it again.
  ScopeFailure forget([&] {
    const int32_t no = FIndexDefs.GetDefNumberByObjectId(indexId);
    if (no != -1) FIndexDefs.Delete(no);
  });
  std::unique_ptr<TVEXIndex> index = FIndexFactory(*this);
  index->CreateIndex(Cursor, IndexDef);
  TVEXIndexDef* stored = static_cast<TVEXIndexDef*>(FIndexDefs.GetDefByObjectId(indexId));
  if (stored == nullptr) RaiseIndexNotFound();
  stored->Assign(IndexDef);
}

int32_t TVEXBaseIndexManager::CreateTemporaryIndex(TVEXManagerCursor& Cursor,
                                                   const rtl::TStringList& FieldNamesList,
                                                   const rtl::TStringList& AscDescList,
                                                   const rtl::TStringList& CaseSensitivityList) {
  TVEXIndexDef def;
  std::string name;
  do {
    name = MakeUniqueName("TEMPORARY_INDEX_");
  } while (FIndexDefs.GetDefNumberByName(name) != -1);
  def.Name = name;
  def.Temporary = true;
  def.IndexType = itBTree;
  def.Unique = false;
  def.Primary = false;
  def.AssignByNames(FieldNamesList, AscDescList, CaseSensitivityList);
  def.SessionID = Cursor.GetSessionID();
  def.TableState = FTableData.GetRecordManager()->TableState();
  return CreateIndex(&Cursor, def);
}

int32_t TVEXBaseIndexManager::FindOrCreateIndex(TVEXManagerCursor& Cursor,
                                                const rtl::TStringList& FieldNamesList,
                                                const rtl::TStringList& AscDescList,
                                                const rtl::TStringList& CaseSensitivityList,
                                                bool& IsCreated) {
  const int32_t found = FindIndex(&FieldNamesList, &AscDescList, &CaseSensitivityList,
                                  Cursor.GetSessionID(), Cursor.GetFieldDefs());
  IsCreated = found == -1;
  if (!IsCreated) return found;
  return CreateTemporaryIndex(Cursor, FieldNamesList, AscDescList, CaseSensitivityList);
}

void TVEXBaseIndexManager::CreateIndexesByIndexDefs(TVEXManagerCursor* Cursor) {
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    InternalCreateIndex(Cursor, *FIndexDefs.GetIndexDef(i));
  }
}

TVEXIndex* TVEXBaseIndexManager::FindOpenIndex(int32_t IndexID) const {
  for (const auto& index : FOpenIndexList) {
    if (index->IndexDef() != nullptr && index->IndexDef()->ObjectID == IndexID) return index.get();
  }
  return nullptr;
}

TVEXIndex* TVEXBaseIndexManager::OpenIndex(int32_t IndexID) {
  TVEXIndex* index = FindOpenIndex(IndexID);
  return index != nullptr ? index : InternalOpenIndex(IndexID);
}

TVEXIndex* TVEXBaseIndexManager::InternalOpenIndex(int32_t IndexID) {
  const TVEXIndexDef* def = static_cast<TVEXIndexDef*>(FIndexDefs.GetDefByObjectId(IndexID));
  if (def == nullptr) RaiseIndexNotFound();
  std::unique_ptr<TVEXIndex> index = FIndexFactory(*this);
  index->OpenIndex(*def);
  FOpenIndexList.push_back(std::move(index));
  return FOpenIndexList.back().get();
}

void TVEXBaseIndexManager::CloseIndex(int32_t IndexID) {
  for (auto it = FOpenIndexList.begin(); it != FOpenIndexList.end(); ++it) {
    if ((*it)->IndexDef() != nullptr && (*it)->IndexDef()->ObjectID == IndexID) {
      FOpenIndexList.erase(it);
      return;
    }
  }
}

void TVEXBaseIndexManager::DropIndex(int32_t SessionID, int32_t IndexID) {
  TVEXIndex* index = OpenIndex(IndexID);
  {
    ScopeExit close([&] { CloseIndex(IndexID); });
    index->DropIndex(SessionID);
  }
  const int32_t no = FIndexDefs.GetDefNumberByObjectId(IndexID);
  if (no != -1) FIndexDefs.Delete(no);
}

void TVEXBaseIndexManager::DropAllIndexes(int32_t SessionID) {
  while (FIndexDefs.Count() > 0) DropIndex(SessionID, FIndexDefs.GetIndexDef(0)->ObjectID);
}

void TVEXBaseIndexManager::DropTemporaryIndexes(int32_t SessionID) {
  int32_t i = 0;
  while (i < FIndexDefs.Count()) {
    const TVEXIndexDef* def = FIndexDefs.GetIndexDef(i);
    if (def->Temporary) {
      DropIndex(SessionID, def->ObjectID);
    } else {
      ++i;
    }
  }
}

void TVEXBaseIndexManager::EmptyIndex(int32_t SessionID, int32_t IndexID) {
  TVEXIndex* index = OpenIndex(IndexID);
  ScopeExit close([&] { CloseIndex(IndexID); });
  index->EmptyIndex(SessionID);
}

void TVEXBaseIndexManager::EmptyAllIndexes(int32_t SessionID) {
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    EmptyIndex(SessionID, FIndexDefs.GetIndexDef(i)->ObjectID);
  }
}

void TVEXBaseIndexManager::GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                                           TVEXIndexPositionCache* IndexPositionCache,
                                           int32_t TableState) {
  bool recordGone = false;
  if (!NavigationInfo.FirstPosition && !NavigationInfo.LastPosition) {
    TVEXNavigationInfo current = NavigationInfo;
    current.GetRecordMode = grmCurrent;
    current.FirstPosition = false;
    current.LastPosition = false;
    FTableData.GetRecordManager()->GetRecordBuffer(SessionID, current);
    recordGone = current.GetRecordResult == grrError;
  }
  TVEXIndex* index = OpenIndex(NavigationInfo.IndexID);
  if (recordGone) {
    index->GetClosestRecordBuffer(SessionID, NavigationInfo, IndexPositionCache, TableState);
  } else {
    index->GetRecordBuffer(SessionID, NavigationInfo, IndexPositionCache, TableState);
  }
}

void TVEXBaseIndexManager::InsertRecord(TVEXManagerCursor& Cursor) {
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    TVEXIndexDef* def = FIndexDefs.GetIndexDef(i);
    TVEXIndex* index = OpenIndex(def->ObjectID);
    index->InsertRecord(Cursor);
    ++def->TableState;
    // A first entry may give the index its root page.
    if (index->IndexDef()->RootPageNo != def->RootPageNo)
      def->RootPageNo = index->IndexDef()->RootPageNo;
  }
}

void TVEXBaseIndexManager::UpdateRecord(TVEXManagerCursor& Cursor, bool BeforeNewRecordIsStored) {
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    TVEXIndexDef* def = FIndexDefs.GetIndexDef(i);
    OpenIndex(def->ObjectID)->UpdateRecord(Cursor, BeforeNewRecordIsStored);
    if (!BeforeNewRecordIsStored) ++def->TableState;
  }
}

void TVEXBaseIndexManager::DeleteRecord(TVEXManagerCursor& Cursor) {
  // The entries are found by the record's key, so read the record as it is
  // stored; another connection may have removed it already.
  TVEXNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = Cursor.GetCurrentRecordID();
  info.RecordBuffer = Cursor.GetCurrentRecordBuffer();
  FTableData.GetRecordManager()->GetRecordBuffer(Cursor.GetSessionID(), info);
  if (info.GetRecordResult == grrError) return;
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    TVEXIndexDef* def = FIndexDefs.GetIndexDef(i);
    OpenIndex(def->ObjectID)->DeleteRecord(Cursor);
    ++def->TableState;
  }
}

void TVEXBaseIndexManager::SynchronizeTemporaryIndexes(TVEXManagerCursor& Cursor, bool& IsChanged) {
  IsChanged = false;
  if (FSynchronizingTemporaryIndexes) return;
  const int32_t tableState = FTableData.GetRecordManager()->TableState();
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    TVEXIndexDef* def = FIndexDefs.GetIndexDef(i);
    if (!def->Temporary || def->TableState == tableState) continue;
    const int32_t indexId = def->ObjectID;
    TVEXIndex* index = OpenIndex(indexId);
    {
      FSynchronizingTemporaryIndexes = true;
      ScopeExit clear([&] { FSynchronizingTemporaryIndexes = false; });
      index->RebuildTemporaryIndex(&Cursor);
    }
    def = static_cast<TVEXIndexDef*>(FIndexDefs.GetDefByObjectId(indexId));
    if (def == nullptr) RaiseIndexNotFound();
    def->TableState = tableState;
    // The rebuilt index has a new root; a later open must find it.
    def->RootPageNo = index->IndexDef()->RootPageNo;
    IsChanged = true;
  }
}

void TVEXBaseIndexManager::RenameField(std::string_view FieldName, std::string_view NewFieldName) {
  const std::string oldName = rtl::AnsiLowerCase(FieldName);
  for (int32_t i = 0; i < FIndexDefs.Count(); ++i) {
    TVEXIndexDef* def = FIndexDefs.GetIndexDef(i);
    for (int32_t c = 0; c < def->ColumnCount(); ++c) {
      TVEXIndexColumn* column = def->GetIndexColumn(c);
      if (rtl::AnsiLowerCase(column->FieldName) == oldName) column->FieldName = NewFieldName;
    }
  }
}

}  // namespace vex
